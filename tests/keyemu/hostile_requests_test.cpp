// Hostile requests against the key model: malformed APDUs, wrong class and
// instruction, Lc against the real length, random blocks in both sizes. The
// key must always answer, and a request it refuses must change nothing of
// its persistent state. Deterministic: fixed seeds, bounded rounds.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "keyemu/KeyModel.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Requests that may legitimately change state even when refused: a failed
// login counts a try.
bool CountsTries(uint8_t command)
{
    return command == 1 || command == 131;
}

TEST(KeyModelHostileRequests, AnswersEverythingAndRefusalsChangeNothing)
{
    for (uint8_t version : {11, 18}) {
        keyemu::KeyConfig config;
        config.serial = 4242;
        config.version = version;
        config.capability = version >= 18 ? 0x200 : 0;
        config.password = "1234";
        auto key = keyemu::Key::Create(config);
        ASSERT_TRUE(key);
        std::mt19937 rng(version);
        auto byte = [&] { return static_cast<uint8_t>(rng()); };

        for (int i = 0; i < 4000; ++i) {
            SCOPED_TRACE("version " + std::to_string(version) + " request " + std::to_string(i));
            Bytes apdu;
            const int shape = static_cast<int>(rng() % 5);
            if (shape == 0) {  // any length 0..300, any bytes
                apdu.resize(rng() % 301);
                for (auto& b : apdu) b = byte();
            } else {
                const size_t blockSize = (rng() & 1) ? 64 : 76;
                apdu = {0xFF, 0x14, 0x00, 0x00, static_cast<uint8_t>(blockSize - 1)};
                for (size_t n = 1; n < blockSize; ++n) apdu.push_back(byte());
                apdu.push_back(static_cast<uint8_t>(blockSize + 2));
                if (shape == 1) apdu[0] = byte();                                   // class
                if (shape == 2) apdu[1] = byte();                                   // instruction
                if (shape == 3) apdu[4] = byte();                                   // Lc against the length
                if (shape == 4 && (rng() & 1)) apdu.resize(5 + rng() % blockSize);  // cut short
            }
            const Bytes before = key->Serialize();
            const Bytes answer = key->Transmit(apdu);
            ASSERT_GE(answer.size(), 2u) << "no status word";
            const bool statusWordOnly = answer.size() == 2;
            if (statusWordOnly) {
                EXPECT_NE(answer[0], 0x90);
            } else {
                EXPECT_EQ(answer[answer.size() - 2], 0x90);
                EXPECT_TRUE(answer.size() == 65 || answer.size() == 77) << answer.size();
            }
            const bool refused = statusWordOnly || answer[2] != 0;
            const uint8_t command = apdu.size() > 5 ? apdu[5] : 0;
            if (refused && !(CountsTries(command) && !statusWordOnly)) {
                EXPECT_EQ(key->Serialize(), before) << "command " << int(command);
            }
            // Keep the key usable: a blocked or formatted key is fine, a dead one is not.
            if (::testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
