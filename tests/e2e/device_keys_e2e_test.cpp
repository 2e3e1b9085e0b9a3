// Key pairs, signing, agreement, wrapping and the journal against emulated
// keys behind a real pcscd, with the key cache shared between processes.
//
// Every device call runs in a child process (the parent only starts the rig,
// reads the key's command log and checks what the children report), so each
// child maps the shared memories and opens the named mutexes itself.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "StandardParameters.h"
#include "device/DeviceProtocol.h"
#include "dstu4145/DSTU4145.h"

namespace qvk::e2e {
namespace {

constexpr char kPassword[] = "12345678";

// A step that fails makes the child exit with its number.
#define STEP(number, condition)                                                                                        \
    do {                                                                                                               \
        if (!(condition)) return (number);                                                                             \
    } while (0)

using devtest::EngineFor;
using devtest::StandardParameters;

DeviceContext* OpenLoggedIn(uint32_t serial)
{
    DeviceContext* c = OpenDevice(serial);
    if (c != nullptr && AuthenticateDevice(c, kPassword) != 0) {
        CloseDevice(c);
        return nullptr;
    }
    return c;
}

void Close(DeviceContext* c)
{
    LogoutDevice(c);
    CloseDevice(c);
}

class DeviceKeysE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkkeyse2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    }
};

// Generate, read back, sign and verify on every standard curve, on an old and
// a new key; hashes of 48 and 64 bytes on the new one.
TEST_F(DeviceKeysE2ETest, SignatureKeysOnTheTenStandardCurves)
{
    KeyRig rig({RigKey(200017, 17, kPassword), RigKey(200018, 18, kPassword)});
    for (uint32_t serial : {200017u, 200018u}) {
        const int code = RunChild(
            [&]() -> int {
                DeviceContext* c = OpenLoggedIn(serial);
                STEP(1, c != nullptr);
                for (unsigned curve = 0; curve < 10; ++curve) {
                    const int base = 10 + static_cast<int>(curve) * 10;
                    const DeviceKeyParameters parameters = StandardParameters(curve);
                    auto engine = EngineFor(parameters);
                    STEP(base, engine != nullptr);
                    STEP(base + 1, GenerateSignatureKey(c, parameters.bytes(), 0) == 0);
                    uint8_t readBack[240], publicKey[64];
                    STEP(base + 2, GetSignatureKeyParameters(c, readBack) == 0 &&
                                       std::memcmp(readBack, parameters.bytes(), 240) == 0);
                    STEP(base + 3, GetSignaturePublicKey(c, publicKey) == 0);
                    for (int size : {32, 48, 64}) {
                        if (size != 32 && c->version < 18) continue;
                        std::vector<uint8_t> hash(size);
                        for (int i = 0; i < size; ++i) hash[i] = static_cast<uint8_t>(curve * 31 + i * 7 + size);
                        uint8_t signature[144];
                        STEP(base + 4, SignHashOnDevice(c, hash.data(), size, signature, 0) == 0);
                        STEP(base + 5, engine->Verify(hash, dstu4145::ByteSpan(publicKey, 64),
                                                      dstu4145::ByteSpan(signature, 144)) == dstu4145::Result::Ok);
                        hash[0] ^= 0x01;  // the low end: the engine reads the hash little-endian
                        STEP(base + 6,
                             engine->Verify(hash, dstu4145::ByteSpan(publicKey, 64),
                                            dstu4145::ByteSpan(signature, 144)) == dstu4145::Result::BadSignature);
                    }
                }
                Close(c);
                return 0;
            },
            CloseSharedMemory);
        EXPECT_EQ(code, 0) << "serial " << serial << " (exit code = failing step: 10 x (curve + 1) + check)";
    }
}

// One process generates; another that had the old public key cached reads
// the new one from the shared key cache, without asking the key.
TEST_F(DeviceKeysE2ETest, KeyCacheEntriesRefreshInAnotherProcessAfterAGeneration)
{
    KeyRig rig({RigKey(300018, 18, kPassword)});
    Channel keeper;
    const DeviceKeyParameters parameters = StandardParameters(1);
    const pid_t first = SpawnChild(
        [&]() -> int {
            DeviceContext* c = OpenLoggedIn(300018);
            STEP(1, c != nullptr);
            STEP(2, GenerateSignatureKey(c, parameters.bytes(), 0) == 0);
            uint8_t before[64], agreement[72];
            STEP(3, GetSignaturePublicKey(c, before) == 0);
            STEP(4, GetAgreementPublicKey(c, agreement) == KEYERR_NO_KEY);
            STEP(5, keeper.Send(before, 64));
            STEP(6, keeper.WaitRelease());
            uint8_t after[64];
            STEP(7, GetSignaturePublicKey(c, after) == 0);
            STEP(8, GetAgreementPublicKey(c, agreement) == 0);
            STEP(9, keeper.Send(after, 64) && keeper.Send(agreement, 72));
            Close(c);
            return 0;
        },
        CloseSharedMemory);
    uint8_t before[64];
    ASSERT_TRUE(keeper.Receive(before, 64));

    Channel second;
    const int code = RunChild(
        [&]() -> int {
            DeviceContext* c = OpenLoggedIn(300018);
            STEP(1, c != nullptr);
            STEP(2, GenerateSignatureKey(c, parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT) == 0);
            uint8_t publicKey[64];
            STEP(3, GetSignaturePublicKey(c, publicKey) == 0);
            STEP(4, second.Send(publicKey, 64));
            LogoutDevice(c);
            CloseDevice(c);
            return 0;
        },
        CloseSharedMemory);
    EXPECT_EQ(code, 0) << "the generating process (exit code = failing step)";
    uint8_t generated[64];
    ASSERT_TRUE(second.Receive(generated, 64));
    EXPECT_NE(std::memcmp(before, generated, 64), 0) << "a new pair";

    const size_t mark = KeyCommands(rig, 0).size();
    keeper.Release();
    uint8_t after[64], agreement[72];
    ASSERT_TRUE(keeper.Receive(after, 64));
    ASSERT_TRUE(keeper.Receive(agreement, 72));
    EXPECT_EQ(WaitChild(first), 0);
    EXPECT_EQ(std::memcmp(after, generated, 64), 0) << "the first process sees the new key";
    EXPECT_EQ(std::memcmp(agreement, generated, 64), 0) << "and the paired key-agreement key";
    const auto commands = KeyCommands(rig, 0);
    EXPECT_EQ(Count(commands, mark, KEYCMD_READ_SIGN_PUBLIC_KEY), 0) << "served by the shared cache";
    EXPECT_EQ(Count(commands, mark, KEYCMD_READ_AGREE_PUBLIC_KEY), 2) << "invalidated, read once (64 + 8 bytes)";
}

// Two keys agree a working key (old and new form) and open each other's
// wrapped keys, on-key and composed; a changed byte is refused.
TEST_F(DeviceKeysE2ETest, TwoKeysAgreeAndUnwrapEachOthersKeys)
{
    KeyRig rig({RigKey(400001, 17, kPassword), RigKey(400002, 17, kPassword), RigKey(400003, 18, kPassword),
                RigKey(400004, 18, kPassword)});
    for (uint32_t a : {400001u, 400003u}) {
        const int code = RunChild(
            [&]() -> int {
                DeviceContext* one = OpenLoggedIn(a);
                DeviceContext* two = OpenLoggedIn(a + 1);
                STEP(1, one != nullptr && two != nullptr);
                const bool isNew = one->version >= 18;
                const DeviceKeyParameters parameters = StandardParameters(isNew ? 9 : 5);
                uint8_t publicOne[72], publicTwo[72];
                STEP(2, GenerateAgreementKey(one, parameters.bytes(), DEVICE_KEY_AGREEMENT_OPTION) == 0);
                STEP(3, GenerateAgreementKey(two, parameters.bytes(), DEVICE_KEY_AGREEMENT_OPTION) == 0);
                STEP(4, GetAgreementPublicKey(one, publicOne) == 0 && GetAgreementPublicKey(two, publicTwo) == 0);
                uint8_t content[32];
                for (int i = 0; i < 32; ++i) content[i] = static_cast<uint8_t>(0xA0 ^ i);
                const uint8_t ukm[8] = {8, 7, 6, 5, 4, 3, 2, 1};
                const uint8_t zeros[32] = {};

                // Old agreement and wrap (every key has them).
                for (DeviceContext* c : {one, two}) {
                    STEP(10, LockDevice(c) == 0);
                    STEP(11, LoadKeyContext(c, zeros) == 0);
                    STEP(12, AgreeKeyOnDevice(c, c == one ? publicTwo : publicOne, ukm, 8, 0xC0) == 0);
                }
                uint8_t wrappedOld[44], unwrapped[32];
                STEP(13, WrapKeyOnDeviceOld(one, content, wrappedOld) == 0);
                STEP(14, UnwrapKeyOnDeviceOld(two, wrappedOld, unwrapped) == 0);
                STEP(15, std::memcmp(unwrapped, content, 32) == 0);
                wrappedOld[17] ^= 4;
                STEP(16, UnwrapKeyOnDeviceOld(two, wrappedOld, unwrapped) == KEYERR_BAD_CHECKSUM);
                UnlockDevice(one);
                UnlockDevice(two);
                if (!isNew) {
                    uint8_t w[96];
                    STEP(17, WrapKeyOnDevice(one, content, w, 1) == KEYERR_NOT_SUPPORTED);
                } else {
                    // New agreement, then every pairing of on-key and composed.
                    STEP(20, AgreeKeyOnDeviceNew(one, publicTwo, ukm, 8, 0x80) == 0);
                    STEP(21, AgreeKeyOnDeviceNew(two, publicOne, ukm, 8, 0x80) == 0);
                    for (int wrapOnKey : {1, 0}) {
                        for (int unwrapOnKey : {1, 0}) {
                            uint8_t w[96];
                            std::memset(unwrapped, 0, 32);
                            STEP(22, WrapKeyOnDevice(one, content, w, wrapOnKey) == 0);
                            STEP(23, UnwrapKeyOnDevice(two, w, unwrapped, unwrapOnKey) == 0);
                            STEP(24, std::memcmp(unwrapped, content, 32) == 0);
                            w[50] ^= 1;
                            STEP(25, UnwrapKeyOnDevice(two, w, unwrapped, unwrapOnKey) == KEYERR_BAD_CHECKSUM);
                        }
                    }
                }
                Close(one);
                Close(two);
                return 0;
            },
            CloseSharedMemory);
        EXPECT_EQ(code, 0) << "keys " << a << " and " << a + 1 << " (exit code = failing step)";
    }
}

// The journal after a password change, generations, a destruction and a
// format; the state query; random numbers of several blocks.
TEST_F(DeviceKeysE2ETest, JournalStateAndRandomNumbers)
{
    KeyRig rig({RigKey(500011, 11, kPassword), RigKey(500018, 18, kPassword)});
    for (uint32_t serial : {500011u, 500018u}) {
        const int code = RunChild(
            [&]() -> int {
                DeviceContext* c = OpenLoggedIn(serial);
                STEP(1, c != nullptr);
                STEP(2, HasJournal(c) == 1);
                int before = 0;
                JournalRecord record;
                while (ReadJournalRecord(c, before, &record) == 0) ++before;
                STEP(3, ChangeDevicePassword(c, "another") == 0);
                const DeviceKeyParameters parameters = StandardParameters(0);
                STEP(4, GenerateSignatureKey(c, parameters.bytes(), 0) == 0);
                STEP(5, DestroySignatureKey(c) == 0);
                for (int count : {1, 55, 64, 300}) {
                    std::vector<uint8_t> out(count);
                    STEP(7, GetDeviceRandom(c, out.data(), count) == 0);
                }
                STEP(6, FormatDevice(c, kPassword) == 0);
                const uint8_t expected[][2] = {{1, 0}, {3, 1}, {4, 1}, {5, 1}};
                for (int i = 0; i < 4; ++i) {
                    STEP(10 + i, ReadJournalRecord(c, before + i, &record) == 0);
                    STEP(20 + i,
                         record.operation == expected[i][0] && record.detail == expected[i][1] && record.result == 0);
                }
                STEP(30, ReadJournalRecord(c, before + 4, &record) == KEYERR_JOURNAL_EXHAUSTED);
                uint8_t state[17];
                STEP(31, GetDeviceState(c, 0, state) == 0);
                uint32_t stateSerial;
                std::memcpy(&stateSerial, state, 4);
                STEP(32, stateSerial == serial);
                CloseDevice(c);
                return 0;
            },
            CloseSharedMemory);
        EXPECT_EQ(code, 0) << "serial " << serial << " (exit code = failing step)";
    }
}

}  // namespace
}  // namespace qvk::e2e
