// Rules every device-object operation follows: which answers of the state
// probe count as healthy, which device calls get a second attempt after
// recovery (and that the storage carrier never retries), and the
// wrong-password cache up to the longest password.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KMTestSupport.h"

namespace kmtest {
namespace {

class KMRulesTest : public KMTest {};

TEST_F(KMRulesTest, StateProbeAnswersThatCountAsHealthy)
{
    AddKey(3001, 18, 0x200, "pw");
    {
        Device writer = OpenFullKey("3001", "pw");
        const uint8_t data[4] = {1, 2, 3, 4};
        ASSERT_EQ(writer->WriteRecord(nullptr, 17, data, 4), KM_OK);
    }
    enum Operation { kOpen, kInfo, kRecord17, kStatus };
    struct Case {
        Operation operation;
        uint8_t probeAnswer;
        int expected;
    };
    // 99 (an older key without the command) is healthy everywhere; 20 only
    // for the status query, which exists to report such a key.
    const Case cases[] = {
        {kOpen, KEYERR_NOT_SUPPORTED, KM_OK},
        {kOpen, KEYERR_BAD_REQUEST, KM_DEVICE_ERROR},
        {kOpen, KEYERR_BAD_STATE, KM_DEVICE_ERROR},
        {kInfo, KEYERR_NOT_SUPPORTED, KM_OK},
        {kInfo, KEYERR_BAD_REQUEST, KM_DEVICE_ERROR},
        {kRecord17, KEYERR_NOT_SUPPORTED, KM_OK},
        {kRecord17, KEYERR_BAD_REQUEST, KM_DEVICE_ERROR},
        {kStatus, KEYERR_NOT_SUPPORTED, KM_OK},
        {kStatus, KEYERR_BAD_REQUEST, KM_OK},
        {kStatus, KEYERR_BAD_STATE, KM_DEVICE_ERROR},
    };
    for (const Case& c : cases) {
        Device d = FullKey();
        pcsctap::ForceStatus(KEYCMD_GET_STATE, c.probeAnswer, 1);
        char serial[] = "3001";
        unsigned value = 0;
        int r = -1;
        switch (c.operation) {
        case kOpen:
            r = OpenWith(d.get(), "3001", "pw");
            break;
        case kInfo:
            r = d->GetDeviceInfo(serial, nullptr, &value, nullptr, nullptr, nullptr, nullptr, nullptr);
            break;
        case kRecord17:
            r = d->ReadRecord(serial, 17, nullptr, &value);
            break;
        case kStatus:
            r = d->GetDeviceStatus(serial, &value);
            break;
        }
        EXPECT_EQ(r, c.expected) << "operation " << c.operation << " probe answer " << int(c.probeAnswer);
        if (c.operation == kOpen && r == KM_OK) {
            EXPECT_EQ(d->Close(nullptr), KM_OK);
        }
        pcsctap::ForceStatus(KEYCMD_GET_STATE, 0, 0);
        d.reset();
        EXPECT_EQ(OpenConnections(), 0) << "operation " << c.operation << " probe answer " << int(c.probeAnswer);
    }
}

TEST_F(KMRulesTest, OnlyTheFullKeyRetriesAndOnlyWhereMarked)
{
    struct Case {
        const char* what;
        bool carrier;
        uint8_t command;
        int expected;
        int attempts;  // how often the failed command reached the key
    };
    const Case cases[] = {
        // The password change is retried by the full key only.
        {"change password", false, KEYCMD_CHANGE_PASSWORD_NEW, KM_OK, 2},
        {"change password", true, KEYCMD_CHANGE_PASSWORD_NEW, KM_DEVICE_ERROR, 1},
        // Record blocks are written once, by both.
        {"write block", false, KEYCMD_WRITE_MEMORY, KM_DEVICE_ERROR, 1},
        {"write block", true, KEYCMD_WRITE_MEMORY, KM_DEVICE_ERROR, 1},
    };
    uint32_t serial = 3100;
    for (const Case& c : cases) {
        ++serial;
        const std::string reader = AddKey(serial, 18, 0x200, "pw");
        const std::string text = std::to_string(serial);
        Device d = c.carrier ? Carrier() : FullKey();
        ASSERT_EQ(OpenWith(d.get(), text.c_str(), "pw"), KM_OK);
        pd::ClearCommandLog(reader);
        pcsctap::ForceStatus(c.command, KEYERR_NOT_AUTHENTICATED, 1);
        int r = -1;
        if (c.command == KEYCMD_WRITE_MEMORY) {
            const uint8_t data[40] = {};
            r = d->WriteRecord(nullptr, 3, data, sizeof data);
        } else {
            char next[] = "pw2";
            r = d->ChangePassword(nullptr, next);
        }
        const std::string label = std::string(c.what) + (c.carrier ? " (carrier)" : " (full key)");
        EXPECT_EQ(r, c.expected) << label;
        EXPECT_EQ(Count(KeyCommands(reader), c.command), c.attempts) << label;
        EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), c.attempts - 1) << label << ": recovery logs in";
        pcsctap::ForceStatus(c.command, 0, 0);
    }
}

TEST_F(KMRulesTest, TheCacheRemembersRefusedPasswordsUpToTheLongest)
{
    const std::string reader = AddKey(3201, 18, 0x200, "pw");
    // 64 characters: the longest password the key takes.
    const std::string longer(64, 'w');
    const std::string other(64, 'v');
    Device d = FullKey();
    pd::ClearCommandLog(reader);
    EXPECT_EQ(OpenWith(d.get(), "3201", longer.c_str()), KM_WRONG_PASSWORD);
    EXPECT_EQ(OpenWith(d.get(), "3201", longer.c_str()), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "the repeat costs the key no try";

    // A different password replaces the entry, so it is the one remembered.
    EXPECT_EQ(OpenWith(d.get(), "3201", other.c_str()), KM_WRONG_PASSWORD);
    EXPECT_EQ(OpenWith(d.get(), "3201", other.c_str()), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 2);
    EXPECT_EQ(OpenWith(d.get(), "3201", "pw"), KM_OK);
    EXPECT_EQ(OpenConnections(), 1);
}

TEST_F(KMRulesTest, AKeyThatCannotBeReachedKeepsItsRefusedPassword)
{
    const std::string reader = AddKey(3301, 18, 0x200, "pw");
    Device d = FullKey();
    EXPECT_EQ(OpenWith(d.get(), "3301", "bad"), KM_WRONG_PASSWORD);

    // Another password while the key is away: nothing reached the key, so
    // nothing replaces what the key refused.
    auto key = pd::Unplug(reader);
    ASSERT_TRUE(key);
    EXPECT_EQ(OpenWith(d.get(), "3301", "other"), KM_DEVICE_ERROR);
    ASSERT_TRUE(pd::Replug(reader, std::move(key)));

    pd::ClearCommandLog(reader);
    EXPECT_EQ(OpenWith(d.get(), "3301", "bad"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0) << "still remembered";
    EXPECT_EQ(OpenWith(d.get(), "3301", "pw"), KM_OK);
}

}  // namespace
}  // namespace kmtest
