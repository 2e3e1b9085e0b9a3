// The exports and the full-key device object on the in-process PC/SC double:
// enumeration, open and close with the wrong-password cache, shared sessions,
// information and status queries, the journal, and the object lifecycle.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "KMTestSupport.h"
#include "keymedia/HardwareRNG.h"

namespace kmtest {
namespace {

class KMDeviceTest : public KMTest {};

TEST_F(KMDeviceTest, ExportsNameTheTwoTypesAndMakeFreshObjects)
{
    char name[64];
    ASSERT_EQ(KMEnumDeviceTypes(0, name), KM_OK);
    EXPECT_STREQ(name, qvkkm::kFullKeyTypeName);
    ASSERT_EQ(KMEnumDeviceTypes(1, name), KM_OK);
    EXPECT_STREQ(name, "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4 (\xED\xEE\xF1\xB3\xE9)");
    for (int index : {2, -1}) {
        std::memset(name, 'x', sizeof(name));
        EXPECT_EQ(KMEnumDeviceTypes(index, name), KM_NOT_FOUND);
        EXPECT_EQ(name[0], 'x');
    }

    Device a = FullKey(), b = FullKey(), c = Carrier();
    ASSERT_TRUE(a && b && c);
    EXPECT_NE(a.get(), b.get());
    int caps = 0;
    c->GetInfo(nullptr, &caps, nullptr);
    EXPECT_EQ(caps, KM_CAPS_STORAGE);
    const std::string spaced = std::string(qvkkm::kFullKeyTypeName) + " ";
    EXPECT_EQ(KMGetInterface(spaced.c_str()), nullptr);
    EXPECT_EQ(KMGetInterface("full key"), nullptr);
    EXPECT_EQ(KMGetInterface(nullptr), nullptr);
}

TEST_F(KMDeviceTest, EnumeratesSerialsInReaderOrderAndTheOpenSerialWhenOpen)
{
    AddKey(123);
    AddKey(4567890);
    Device d = FullKey();
    char serial[32];
    ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
    EXPECT_STREQ(serial, "000123");
    ASSERT_EQ(d->EnumDevice(1, serial), KM_OK);
    EXPECT_STREQ(serial, "4567890");
    EXPECT_EQ(d->EnumDevice(2, serial), KM_NOT_FOUND);

    ASSERT_EQ(OpenWith(d.get(), "4567890", "1234"), KM_OK);
    for (int index : {0, 1, 7}) {
        ASSERT_EQ(d->EnumDevice(index, serial), KM_OK);
        EXPECT_STREQ(serial, "4567890");
    }
}

TEST_F(KMDeviceTest, EnumerationSkipsAnEmptyReader)
{
    const std::string first = AddKey(131);
    const std::string second = AddKey(132);
    AddKey(133);
    Device d = FullKey();
    char serial[32];
    auto key = pd::Unplug(first);
    ASSERT_TRUE(key);
    ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
    EXPECT_STREQ(serial, "000132");
    ASSERT_EQ(d->EnumDevice(1, serial), KM_OK);
    EXPECT_STREQ(serial, "000133");
    EXPECT_EQ(d->EnumDevice(2, serial), KM_NOT_FOUND);

    ASSERT_TRUE(pd::Replug(first, std::move(key)));
    ASSERT_TRUE(pd::Unplug(second));
    ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
    EXPECT_STREQ(serial, "000131");
    ASSERT_EQ(d->EnumDevice(1, serial), KM_OK);
    EXPECT_STREQ(serial, "000133");
    EXPECT_EQ(d->EnumDevice(2, serial), KM_NOT_FOUND);
}

TEST_F(KMDeviceTest, BorrowedConnectionsAreRegisteredListedAndDropped)
{
    const std::string reader = AddKey(77);
    intptr_t context = 0, card = 0;
    ASSERT_TRUE(pcsctap::ConnectOwn(reader, &context, &card));
    Device d = FullKey();
    char buffer[32] = {};
    BorrowedHandlePair pair{context, card};
    std::memcpy(buffer, &pair, sizeof(pair));
    ASSERT_EQ(d->EnumDevice(-1, buffer), KM_OK);
    const std::string id = buffer;
    EXPECT_EQ(std::strtoul(id.c_str(), nullptr, 10) & BORROWED_HANDLE_BASE, BORROWED_HANDLE_BASE);
    ASSERT_EQ(d->EnumDevice(0x40000000, buffer), KM_OK);
    EXPECT_EQ(id, buffer);
    std::strcpy(buffer, id.c_str());
    EXPECT_EQ(d->EnumDevice(-2, buffer), KM_OK);
    pcsctap::DisconnectOwn(context, card);
}

TEST_F(KMDeviceTest, OpenCloseAndTheStateChecks)
{
    AddKey(501, 18, 0x200, "pw501");
    Device d = FullKey();
    EXPECT_EQ(d->Close(nullptr), KM_BAD_STATE);
    EXPECT_EQ(d->ChangePassword(nullptr, nullptr), KM_BAD_STATE);
    ASSERT_EQ(OpenWith(d.get(), "501", "pw501"), KM_OK);
    EXPECT_EQ(Record(501)->sessionUsers, 1);
    EXPECT_STREQ(Object(d)->KeptPassword(), "pw501");
    EXPECT_EQ(OpenWith(d.get(), "501", "pw501"), KM_BAD_STATE) << "already open";
    EXPECT_EQ(d->Close("502"), KM_SERIAL_MISMATCH);
    EXPECT_TRUE(Object(d)->IsOpen());
    EXPECT_EQ(d->Close("501"), KM_OK);
    EXPECT_FALSE(Object(d)->IsOpen());
    EXPECT_EQ(Object(d)->Context(), nullptr);
    EXPECT_STREQ(Object(d)->KeptPassword(), "");
    EXPECT_EQ(Record(501)->sessionUsers, 0);
    EXPECT_EQ(OpenConnections(), 0);
    EXPECT_EQ(OpenWith(d.get(), "999", "pw501"), KM_DEVICE_ERROR) << "no such key";
}

TEST_F(KMDeviceTest, SerialsLongerThanSevenCharactersAreRefusedBeforeTouchingTheKey)
{
    AddKey(501);
    Device d = FullKey();
    const auto before = pd::Calls();
    EXPECT_EQ(OpenWith(d.get(), "00000501", "1234"), KM_DEVICE_ERROR);
    EXPECT_EQ(OpenWith(d.get(), "0000000000000000000000000000000501", "1234"), KM_DEVICE_ERROR);
    EXPECT_EQ(pd::Calls().connect, before.connect);
    EXPECT_EQ(d->Open(nullptr, nullptr, 0), KM_DEVICE_ERROR);
    EXPECT_EQ(OpenWith(d.get(), "0000501", "1234"), KM_OK) << "seven characters still fit";
    char serial[16];
    ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
    EXPECT_STREQ(serial, "0000501");
}

TEST_F(KMDeviceTest, TheSameWrongPasswordTwiceCostsTheKeyOneTry)
{
    const std::string reader = AddKey(601, 18, 0x200, "right");
    Device d = FullKey();
    EXPECT_EQ(OpenWith(d.get(), "601", "wrong"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Object(d)->Context(), nullptr);
    EXPECT_EQ(OpenConnections(), 0);
    pd::ClearCommandLog(reader);
    const auto before = pd::Calls();
    EXPECT_EQ(OpenWith(d.get(), "601", "wrong"), KM_WRONG_PASSWORD);
    EXPECT_TRUE(KeyCommands(reader).empty()) << "answered from the cache";
    EXPECT_EQ(pd::Calls().connect, before.connect);
    EXPECT_EQ(Object(d)->Context(), nullptr);

    // Another object of the process shares the cache.
    Device other = FullKey();
    EXPECT_EQ(OpenWith(other.get(), "601", "wrong"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0);

    unsigned left = 0;
    ASSERT_EQ(d->GetDeviceInfo("601", nullptr, nullptr, nullptr, nullptr, nullptr, &left, nullptr), KM_OK);
    EXPECT_EQ(left, 14u) << "one try spent in all";

    // A different password goes to the key and replaces the entry.
    EXPECT_EQ(OpenWith(d.get(), "601", "other"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(OpenWith(d.get(), "601", "wrong"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 1) << "the old entry was forgotten";
    EXPECT_EQ(OpenWith(d.get(), "601", "right"), KM_OK);
}

TEST_F(KMDeviceTest, FormatForgetsTheRefusedPasswordAndLogsInWithTheNewOne)
{
    const std::string reader = AddKey(602, 18, 0x200, "old");
    Device d = FullKey();
    ASSERT_EQ(OpenWith(d.get(), "602", "new"), KM_WRONG_PASSWORD);
    ASSERT_EQ(OpenWith(d.get(), "602", "new", KM_OPEN_FORMAT), KM_OK);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(OpenWith(d.get(), "602", "new"), KM_OK) << "not refused from the cache";
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(OpenWith(d.get(), "602", "old"), KM_WRONG_PASSWORD);
}

TEST_F(KMDeviceTest, ChangePasswordKeepsTheNewPassword)
{
    AddKey(603, 18, 0x200, "first");
    Device d = OpenFullKey("603", "first");
    char next[] = "second";
    EXPECT_EQ(d->ChangePassword("604", next), KM_SERIAL_MISMATCH);
    ASSERT_EQ(d->ChangePassword(nullptr, next), KM_OK);
    EXPECT_STREQ(Object(d)->KeptPassword(), "second");
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(OpenWith(d.get(), "603", "first"), KM_WRONG_PASSWORD);
    EXPECT_EQ(OpenWith(d.get(), "603", "second"), KM_OK);
}

TEST_F(KMDeviceTest, AlreadyAuthenticatedCountsOnlyForALoggedInContext)
{
    AddKey(604, 18, 0x200, "pw");
    Device d = FullKey();
    // Every login answer says 22 and nothing logs the context in.
    pcsctap::ForceStatus(KEYCMD_LOGIN_NEW, KEYERR_ALREADY_AUTHENTICATED, 100);
    EXPECT_EQ(OpenWith(d.get(), "604", "pw"), KM_DEVICE_ERROR);
    EXPECT_FALSE(Object(d)->IsOpen());
    EXPECT_EQ(Object(d)->Context(), nullptr);
    EXPECT_EQ(OpenConnections(), 0);
}

TEST_F(KMDeviceTest, ReleaseOfAnOpenObjectGivesBackItsShareOfTheSession)
{
    const std::string reader = AddKey(701, 18, 0x200, "pw");
    Device a = OpenFullKey("701", "pw");
    Device b = OpenFullKey("701", "pw");
    EXPECT_EQ(Record(701)->sessionUsers, 2);
    pd::ClearCommandLog(reader);
    a.reset();
    EXPECT_EQ(Record(701)->sessionUsers, 1);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0);
    b.reset();
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 1) << "the last one logs the key out";
    EXPECT_FALSE(pd::GetKey(reader)->loggedIn());
    EXPECT_EQ(OpenConnections(), 0);

    Device carrier = Carrier();
    ASSERT_EQ(OpenWith(carrier.get(), "701", "pw"), KM_OK);
    EXPECT_EQ(Record(701)->sessionUsers, 1);
    carrier.reset();
    EXPECT_FALSE(pd::GetKey(reader)->loggedIn());
    EXPECT_EQ(OpenConnections(), 0) << "the carrier's connection is closed too";
}

TEST_F(KMDeviceTest, ClosingAnObjectFromBeforeAFormatLeavesTheFormattersSession)
{
    const std::string reader = AddKey(705, 18, 0x200, "pw");
    Device first = OpenFullKey("705", "pw");
    Device carrier = Carrier();
    ASSERT_EQ(OpenWith(carrier.get(), "705", "fresh", KM_OPEN_FORMAT), KM_OK);
    const std::vector<uint8_t> stale(40, 0x11);
    EXPECT_NE(first->WriteRecord(nullptr, 3, stale.data(), static_cast<unsigned>(stale.size())), KM_OK)
        << "the format ended its session";
    pd::ClearCommandLog(reader);
    ASSERT_EQ(first->Close(nullptr), KM_OK);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGOUT), 0) << "its share went with the format";
    const std::vector<uint8_t> data(40, 0x3C);
    EXPECT_EQ(carrier->WriteRecord(nullptr, 3, data.data(), static_cast<unsigned>(data.size())), KM_OK);
    ASSERT_EQ(carrier->Close(nullptr), KM_OK);
    EXPECT_FALSE(pd::GetKey(reader)->loggedIn());
}

// Another object changes the password and the key loses the session: the
// worker's outdated password is never sent (no try spent), its work fails,
// and it works again once opened with the new password.
TEST_F(KMDeviceTest, AnObjectWhosePasswordAnotherChangedSpendsNoTry)
{
    const std::string reader = AddKey(706, 18, 0x200, "old");
    Device worker = OpenFullKey("706", "old");
    Device changer = OpenFullKey("706", "old");
    char next[] = "new";
    ASSERT_EQ(changer->ChangePassword(nullptr, next), KM_OK);
    ASSERT_EQ(changer->Close(nullptr), KM_OK);
    pd::ResetCard(reader);  // the key loses the session
    pd::ClearCommandLog(reader);
    const std::vector<uint8_t> data(40, 0x5A);
    EXPECT_NE(worker->WriteRecord(nullptr, 3, data.data(), static_cast<unsigned>(data.size())), KM_OK);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 0) << "the old password was sent";
    DeviceInfo info{};
    ASSERT_EQ(QueryDeviceInfo(Object(worker)->Context(), &info), 0u);
    EXPECT_EQ(info.capabilities >> 28, 0u) << "no try spent with the old password";
    ASSERT_EQ(worker->Close(nullptr), KM_OK);
    EXPECT_FALSE(pd::GetKey(reader)->loggedIn());
    EXPECT_EQ(OpenWith(worker.get(), "706", "new"), KM_OK);
    EXPECT_EQ(worker->WriteRecord(nullptr, 3, data.data(), static_cast<unsigned>(data.size())), KM_OK);
}

TEST_F(KMDeviceTest, CloseWipesThePasswordEvenWhenTheLogoutFails)
{
    AddKey(702, 18, 0x200, "secret");
    for (bool carrier : {false, true}) {
        Device d = carrier ? Carrier() : FullKey();
        ASSERT_EQ(OpenWith(d.get(), "702", "secret"), KM_OK);
        pcsctap::ForceStatus(KEYCMD_LOGOUT, KEYERR_HARDWARE_FAILURE, 1);
        EXPECT_EQ(d->Close(nullptr), KM_DEVICE_ERROR);
        EXPECT_STREQ(Object(d)->KeptPassword(), "");
        EXPECT_FALSE(Object(d)->IsOpen());
        EXPECT_EQ(Object(d)->Context(), nullptr);
    }
    EXPECT_EQ(OpenConnections(), 0);
}

TEST_F(KMDeviceTest, AConnectionLeftByGetInfoIsClosedBeforeTheNextOne)
{
    AddKey(801, 18, 0x200, "pw");
    AddKey(802, 18, 0x200, "pw");
    Device d = FullKey();
    int caps = 0;
    void* objects[2] = {};
    ASSERT_EQ(d->GetInfo("801", &caps, objects), KM_OK);
    EXPECT_EQ(objects[0], nullptr);
    EXPECT_NE(objects[1], nullptr);
    EXPECT_EQ(OpenConnections(), 1);
    ASSERT_EQ(d->GetInfo("802", &caps, objects), KM_OK);
    EXPECT_EQ(OpenConnections(), 1) << "the first connection was closed";
    ASSERT_EQ(OpenWith(d.get(), "801", "pw"), KM_OK);
    EXPECT_EQ(OpenConnections(), 1);
    EXPECT_EQ(d->GetInfo("801", &caps, objects), KM_NOT_SUPPORTED) << "an open object";
    EXPECT_EQ(d->GetInfo("abc", &caps, objects), KM_NOT_SUPPORTED);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(OpenConnections(), 0);

    ASSERT_EQ(d->GetInfo("802", &caps, objects), KM_OK);
    d.reset();
    EXPECT_EQ(OpenConnections(), 0) << "Release closes a connected object";
}

TEST_F(KMDeviceTest, TheRandomObjectFollowsOpenAndClose)
{
    AddKey(901, 18, 0x200, "pw");
    Device d = FullKey();
    int caps = 0;
    void* objects[2] = {};
    ASSERT_EQ(d->GetInfo(nullptr, &caps, objects), KM_OK);
    ASSERT_NE(objects[0], nullptr);
    auto* rng = static_cast<ICSPHardwareRNG*>(objects[1]);
    ASSERT_NE(rng, nullptr);
    uint8_t buffer[40] = {};
    EXPECT_EQ(rng->GenerateRandom(buffer, sizeof(buffer)), 0) << "no key yet";
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(OpenWith(d.get(), "901", "pw"), KM_OK);
        EXPECT_EQ(rng->GenerateRandom(buffer, sizeof(buffer)), 1) << "round " << round;
        ASSERT_EQ(d->Close(nullptr), KM_OK);
        // After Close the object holds no context to reach (a freed one
        // would show under the address sanitizer).
        EXPECT_EQ(rng->GenerateRandom(buffer, sizeof(buffer)), 0) << "round " << round;
    }
    void* again[2] = {};
    ASSERT_EQ(d->GetInfo(nullptr, &caps, again), KM_OK);
    EXPECT_EQ(again[0], objects[0]) << "made once";
    EXPECT_EQ(again[1], objects[1]);
}

TEST_F(KMDeviceTest, DeviceInformationAndTries)
{
    struct Case {
        uint32_t capability;
        unsigned left, flagA, flagB;
        int flag;
    };
    const Case cases[] = {
        {0x30000200, 12, 0, 0, 0},
        {0x00000002, 15, 1, 0, 1},
        {0x00000004, 15, 0, 1, 1},
        {0xFFFFFFFF, 15, 0, 0, 0},  // no capabilities at all, not 0 tries with both flags
    };
    uint32_t serial = 1000;
    for (const Case& c : cases) {
        ++serial;
        keyemu::KeyConfig config;
        config.serial = serial;
        config.version = 18;
        config.capability = c.capability;
        config.password = "pw";
        config.infoByte4 = 0x5A;
        config.infoWord12 = 0xA1B2C3D4;
        pd::AddKey(config);
        const std::string text = std::to_string(serial);
        Device d = FullKey();
        unsigned infoByte = 0, version = 0, infoWord = 0, flagA = 9, flagB = 9, left = 0, max = 0;
        ASSERT_EQ(d->GetDeviceInfo(text.c_str(), &infoByte, &version, &infoWord, &flagA, &flagB, &left, &max), KM_OK);
        EXPECT_EQ(infoByte, 0x5Au);
        EXPECT_EQ(version, 18u);
        EXPECT_EQ(infoWord, 0xA1B2C3D4u);
        EXPECT_EQ(flagA, c.flagA) << std::hex << c.capability;
        EXPECT_EQ(flagB, c.flagB) << std::hex << c.capability;
        EXPECT_EQ(left, c.left) << std::hex << c.capability;
        EXPECT_EQ(max, 15u);

        void* objects[2] = {};
        int caps = 0;
        ASSERT_EQ(d->GetInfo("DeviceInfoExtension", &caps, objects), KM_OK);
        auto* info = static_cast<IKMDeviceInfoApplication*>(objects[0]);
        int intLeft = 0, intMax = 0, flag = 9;
        ASSERT_EQ(info->GetPasswordTries(text.c_str(), &intLeft, &intMax), KM_OK);
        EXPECT_EQ(intLeft, static_cast<int>(c.left));
        EXPECT_EQ(intMax, 15);
        ASSERT_EQ(info->GetDeviceFlag(text.c_str(), &flag), KM_OK);
        EXPECT_EQ(flag, c.flag);
        EXPECT_EQ(d->GetDeviceInfo(text.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
                  KM_BAD_STATE);
    }
    EXPECT_EQ(OpenConnections(), 0) << "temporary connections are closed";
    Device d = FullKey();
    unsigned left = 0;
    EXPECT_EQ(d->GetDeviceInfo("4242", nullptr, nullptr, nullptr, nullptr, nullptr, &left, nullptr), KM_DEVICE_ERROR);
}

TEST_F(KMDeviceTest, DeviceStatusReportsANotReadyKeyAfterABoundedWait)
{
    const std::string reader = AddKey(1101, 18, 0x200, "pw");
    Device d = FullKey();
    unsigned state = 0xFFFF;
    ASSERT_EQ(d->GetDeviceStatus("1101", &state), KM_OK);
    EXPECT_EQ(state & 0x80, 0u);
    EXPECT_EQ(d->GetDeviceStatus("1101", nullptr), KM_BAD_STATE);

    ASSERT_EQ(OpenWith(d.get(), "1101", "pw"), KM_OK);
    pd::GetKey(reader)->faults().notReady = true;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d->GetDeviceStatus(nullptr, &state), KM_OK);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_NE(state & 0x80, 0u) << "the not-ready state is reported";
    EXPECT_LT(spent, std::chrono::seconds(5));
    pd::GetKey(reader)->faults().notReady = false;
    ASSERT_EQ(d->GetDeviceStatus(nullptr, &state), KM_OK);
    EXPECT_EQ(state & 0x80, 0u);
}

// True when another thread can take the key's per-key mutex: nothing this
// thread did left it held.
bool KeyLockIsFree(uint32_t serial)
{
    bool free = false;
    std::thread other([&] {
        DeviceContext* context = nullptr;
        if (ConnectDevice(serial, &context) != 0) return;
        if (LockDevice(context) == 0) {
            free = true;
            UnlockDevice(context);
        }
        CloseDevice(context);
    });
    other.join();
    return free;
}

TEST_F(KMDeviceTest, JournalReadsLeaveTheKeyUnlockedOnEveryPath)
{
    AddKey(1201, 18, 0x200, "pw");
    AddKey(1202, 8, 0, "pw");  // keeps no journal
    Device d = FullKey();
    {
        // A password change gives the journal its first record.
        Device writer = OpenFullKey("1201", "pw");
        char same[] = "pw";
        ASSERT_EQ(writer->ChangePassword(nullptr, same), KM_OK);
    }
    unsigned event = 0;
    char operation[256], detail[256], result[256];
    EXPECT_EQ(d->GetJournalRecord("1201", 255, &event, operation, detail, result), KM_NOT_FOUND);

    struct Case {
        const char* serial;
        unsigned index;
        bool outputs;
        int expected;
    };
    const Case cases[] = {
        {"1201", 0, false, KM_OK},          {"1202", 0, false, KM_NOT_SUPPORTED}, {"1201", 3, false, KM_BAD_STATE},
        {"1201", 0, true, KM_OK},           {"1201", 254, true, KM_NOT_FOUND},  // past the last record
        {"1202", 0, true, KM_DEVICE_ERROR},
    };
    for (bool open : {false, true}) {
        for (const Case& c : cases) {
            if (open) {
                ASSERT_EQ(OpenWith(d.get(), c.serial, "pw"), KM_OK);
            }
            const int r = c.outputs ? d->GetJournalRecord(c.serial, c.index, &event, operation, detail, result)
                                    : d->GetJournalRecord(c.serial, c.index, nullptr, nullptr, nullptr, nullptr);
            EXPECT_EQ(r, c.expected) << c.serial << " index " << c.index << (open ? " open" : " closed");
            EXPECT_TRUE(KeyLockIsFree(std::strtoul(c.serial, nullptr, 10))) << c.serial << " index " << c.index;
            if (open) {
                ASSERT_EQ(d->Close(nullptr), KM_OK);
            }
            EXPECT_EQ(OpenConnections(), 0);
        }
    }
}

TEST_F(KMDeviceTest, JournalTextsComeFromTheStatusTables)
{
    AddKey(1203, 18, 0x200, "pw");
    Device d = OpenFullKey("1203", "pw");
    char next[] = "pw2";
    ASSERT_EQ(d->ChangePassword(nullptr, next), KM_OK);
    unsigned event = 0;
    char operation[256] = {}, detail[256] = {}, result[256] = {};
    int last = -1;
    for (unsigned i = 0; i < 255; ++i) {
        if (d->GetJournalRecord(nullptr, i, &event, operation, detail, result) != KM_OK) break;
        last = static_cast<int>(i);
    }
    ASSERT_GE(last, 0);
    ASSERT_EQ(d->GetJournalRecord(nullptr, static_cast<unsigned>(last), &event, operation, detail, result), KM_OK);
    EXPECT_STREQ(operation, JournalOperationName(1)) << "the password change is the last record";
    EXPECT_STREQ(result, StatusText(0));
}

TEST_F(KMDeviceTest, ObjectsStillWorkAfterFinalizeWithAnEmptyCache)
{
    const std::string reader = AddKey(1301, 18, 0x200, "pw");
    Device d = FullKey();
    KMFinalize();
    EXPECT_EQ(qvkkm::WrongPasswordCache(), nullptr);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(OpenWith(d.get(), "1301", "bad"), KM_WRONG_PASSWORD);
    EXPECT_EQ(OpenWith(d.get(), "1301", "bad"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Count(KeyCommands(reader), KEYCMD_LOGIN_NEW), 2) << "nothing remembered without a cache";
    EXPECT_EQ(OpenWith(d.get(), "1301", "pw"), KM_OK);

    // The next export call brings the cache back.
    Device other = FullKey();
    EXPECT_NE(qvkkm::WrongPasswordCache(), nullptr);
}

}  // namespace
}  // namespace kmtest
