// The built key-media library loaded with dlopen, as a consumer loads it,
// against emulated keys behind a real pcscd: enumeration, open and the
// wrong-password cache, a session shared by two processes, format and
// password change, records on both key sizes, erasing, and the storage
// carrier.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "keymedia/KMDevice.h"

namespace qvk::e2e {
namespace {

constexpr uint32_t kSerialA = 100001;
constexpr uint32_t kSerialB = 100002;
constexpr char kPassword[] = "12345678";
// Device-type names in Windows-1251.
const char kFullKey[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4";
const char kCarrier[] = "\xEA\xE2\xEE\xF0 \xD2\xC2\xD0 \xCA\xEE\xF0\xE2\xEE-7\xD4 (\xED\xEE\xF1\xB3\xE9)";

// Key command codes as they appear in the rig's log.
constexpr int kCmdLoginOld = 1, kCmdLogout = 20, kCmdLoginNew = 131;

// The library as a consumer binds it.
class Library {
public:
    Library()
    {
        handle_ = dlopen(QVK_KM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            ADD_FAILURE() << dlerror();
            return;
        }
        enumTypes = reinterpret_cast<KMEnumDeviceTypesFunction>(dlsym(handle_, "KMEnumDeviceTypes"));
        getInterface = reinterpret_cast<KMGetInterfaceFunction>(dlsym(handle_, "KMGetInterface"));
        finalize = reinterpret_cast<KMFinalizeFunction>(dlsym(handle_, "KMFinalize"));
    }
    ~Library()
    {
        if (handle_ == nullptr) return;
        if (finalize != nullptr) finalize();
        dlclose(handle_);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool ok() const { return enumTypes != nullptr && getInterface != nullptr && finalize != nullptr; }

    KMEnumDeviceTypesFunction enumTypes = nullptr;
    KMGetInterfaceFunction getInterface = nullptr;
    KMFinalizeFunction finalize = nullptr;

private:
    void* handle_ = nullptr;
};

struct Releaser {
    void operator()(IKMQuorKorvo7Q* d) const
    {
        if (d != nullptr) d->Release();
    }
};
using Device = std::unique_ptr<IKMQuorKorvo7Q, Releaser>;

int Open(IKMQuorKorvo7Q* d, uint32_t serial, const char* password, int flags = 0)
{
    std::string s = std::to_string(serial), p = password;
    return d->Open(s.data(), p.data(), flags);
}

std::vector<uint8_t> Pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> out(length);
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<uint8_t>(seed ^ (i * 13) ^ (i >> 7));
    return out;
}

unsigned TriesLeft(IKMQuorKorvo7Q* d, uint32_t serial)
{
    const std::string s = std::to_string(serial);
    unsigned left = 99;
    EXPECT_EQ(d->GetDeviceInfo(s.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, &left, nullptr), KM_OK);
    return left;
}

class KMLibraryE2ETest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string prefix = "qvkkme2e" + std::to_string(getpid()) + "_";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
#ifdef QVK_PKFMT_DIR
        // The library loads pkfmt.so by its bare name, from the current directory.
        ASSERT_EQ(chdir(QVK_PKFMT_DIR), 0);
#endif
    }
};

TEST_F(KMLibraryE2ETest, EnumeratesTwoKeysBySerial)
{
    KeyRig rig({RigKey(kSerialA), RigKey(kSerialB)});
    Library km;
    ASSERT_TRUE(km.ok());
    char name[64];
    ASSERT_EQ(km.enumTypes(0, name), KM_OK);
    EXPECT_STREQ(name, kFullKey);
    ASSERT_EQ(km.enumTypes(1, name), KM_OK);
    EXPECT_STREQ(name, kCarrier);
    EXPECT_EQ(km.enumTypes(2, name), KM_NOT_FOUND);

    for (const char* type : {kFullKey, kCarrier}) {
        Device d(km.getInterface(type));
        ASSERT_TRUE(d);
        char serial[32];
        ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
        EXPECT_STREQ(serial, "100001");
        ASSERT_EQ(d->EnumDevice(1, serial), KM_OK);
        EXPECT_STREQ(serial, "100002");
        EXPECT_EQ(d->EnumDevice(2, serial), KM_NOT_FOUND);
    }
    Device d(km.getInterface(kFullKey));
    ASSERT_EQ(Open(d.get(), kSerialB, kPassword), KM_OK);
    char serial[32];
    ASSERT_EQ(d->EnumDevice(0, serial), KM_OK);
    EXPECT_STREQ(serial, "100002") << "an open object names its key";
    EXPECT_EQ(d->Close(nullptr), KM_OK);
}

TEST_F(KMLibraryE2ETest, OpensWithThePasswordAndRefusesTheSameWrongOneWithoutAskingTheKey)
{
    KeyRig rig({RigKey(kSerialA)});
    Library km;
    ASSERT_TRUE(km.ok());
    Device d(km.getInterface(kFullKey));
    ASSERT_EQ(Open(d.get(), kSerialA, kPassword), KM_OK);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(TriesLeft(d.get(), kSerialA), 15u);

    EXPECT_EQ(Open(d.get(), kSerialA, "wrong"), KM_WRONG_PASSWORD);
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(Open(d.get(), kSerialA, "wrong"), KM_WRONG_PASSWORD);
    EXPECT_EQ(KeyCommands(rig).size(), mark) << "the second attempt sent no command to the key";
    EXPECT_EQ(TriesLeft(d.get(), kSerialA), 14u) << "one try spent, not two";

    ASSERT_EQ(Open(d.get(), kSerialA, kPassword), KM_OK);
    EXPECT_EQ(d->Close(nullptr), KM_OK);
}

TEST_F(KMLibraryE2ETest, TwoProcessesShareOneSessionAndOnlyTheLastCloseLogsOut)
{
    KeyRig rig({RigKey(kSerialA)});
    Gate gate;
    const pid_t first = SpawnChild([&] {
        Library km;
        Device d(km.getInterface(kFullKey));
        if (!d || Open(d.get(), kSerialA, kPassword) != KM_OK) return 1;
        gate.SignalReady();
        gate.WaitRelease();
        return d->Close(nullptr) == KM_OK ? 0 : 2;
    });
    ASSERT_TRUE(gate.WaitReady());
    const size_t mark = KeyCommands(rig).size();
    EXPECT_EQ(RunChild([&] {
                  Library km;
                  Device d(km.getInterface(kFullKey));
                  if (!d || Open(d.get(), kSerialA, kPassword) != KM_OK) return 1;
                  const std::vector<uint8_t> data = Pattern(64, 1);
                  if (d->WriteRecord(nullptr, 4, data.data(), 64) != KM_OK) return 3;
                  return d->Close(nullptr) == KM_OK ? 0 : 2;
              }),
              0);
    std::vector<int> commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, {kCmdLoginNew, kCmdLoginOld}), 0) << "joined the session";
    EXPECT_EQ(Count(commands, mark, {kCmdLogout}), 0) << "the first process still uses it";
    gate.Release();
    EXPECT_EQ(WaitChild(first), 0);
    commands = KeyCommands(rig);
    EXPECT_EQ(Count(commands, mark, {kCmdLogout}), 1) << "the last close logged the key out";
}

TEST_F(KMLibraryE2ETest, FormatChangePasswordAndOpenAgain)
{
    KeyRig rig({RigKey(kSerialA)});
    Library km;
    ASSERT_TRUE(km.ok());
    Device d(km.getInterface(kFullKey));
    ASSERT_EQ(Open(d.get(), kSerialA, "formatted", KM_OPEN_FORMAT), KM_OK);
    char next[] = "changed";
    ASSERT_EQ(d->ChangePassword(nullptr, next), KM_OK);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    const unsigned before = TriesLeft(d.get(), kSerialA);
    ASSERT_EQ(Open(d.get(), kSerialA, "changed"), KM_OK);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
    EXPECT_EQ(Open(d.get(), kSerialA, "formatted"), KM_WRONG_PASSWORD);
    EXPECT_EQ(Open(d.get(), kSerialA, kPassword), KM_WRONG_PASSWORD);
    EXPECT_EQ(TriesLeft(d.get(), kSerialA), before - 2);
    // Another process knows nothing of this one's cache, and the key opens
    // with the new password there too.
    EXPECT_EQ(RunChild([&] {
                  Library other;
                  Device o(other.getInterface(kFullKey));
                  if (!o || Open(o.get(), kSerialA, "changed") != KM_OK) return 1;
                  return o->Close(nullptr) == KM_OK ? 0 : 2;
              }),
              0);
}

TEST_F(KMLibraryE2ETest, RecordsAtTheirLimitsSurviveAReloadAndAnotherProcess)
{
    KeyRig rig({RigKey(kSerialA, 7), RigKey(kSerialB, 18)});
    struct Case {
        uint32_t serial;
        unsigned publicLimit;
    };
    const Case cases[] = {{kSerialA, 988}, {kSerialB, 4060}};
    {
        Library km;
        ASSERT_TRUE(km.ok());
        for (const Case& c : cases) {
            Device d(km.getInterface(kFullKey));
            ASSERT_EQ(Open(d.get(), c.serial, kPassword), KM_OK);
            const std::vector<uint8_t> big = Pattern(c.publicLimit + 1, 0x17);
            EXPECT_EQ(d->WriteRecord(nullptr, 17, big.data(), c.publicLimit + 1), KM_DEVICE_ERROR) << c.serial;
            ASSERT_EQ(d->WriteRecord(nullptr, 17, big.data(), c.publicLimit), KM_OK) << c.serial;
            const std::vector<uint8_t> data = Pattern(3068, static_cast<uint8_t>(c.serial));
            ASSERT_EQ(d->WriteRecord(nullptr, 11, data.data(), 3068), KM_OK) << c.serial;
            ASSERT_EQ(d->Close(nullptr), KM_OK);
        }
    }
    // The library unloaded and loaded again, and a process of its own: both
    // read what the key holds.
    auto readBack = [&](const Library& km) -> int {
        int failures = 0;
        for (const Case& c : cases) {
            Device d(km.getInterface(kFullKey));
            std::string serial = std::to_string(c.serial);
            std::vector<uint8_t> buffer(4096);
            unsigned length = 0;
            if (d->ReadRecord(serial.data(), 17, nullptr, &length) != KM_OK || length != c.publicLimit) ++failures;
            if (d->ReadRecord(serial.data(), 17, buffer.data(), &length) != KM_OK ||
                std::memcmp(buffer.data(), Pattern(c.publicLimit + 1, 0x17).data(), c.publicLimit) != 0)
                ++failures;
            if (Open(d.get(), c.serial, kPassword) != KM_OK) {
                ++failures;
                continue;
            }
            if (d->ReadRecord(nullptr, 11, buffer.data(), &length) != KM_OK || length != 3068 ||
                std::memcmp(buffer.data(), Pattern(3068, static_cast<uint8_t>(c.serial)).data(), 3068) != 0)
                ++failures;
            int header = -1;
            if (d->GetRecordHeader(nullptr, 0, &header) != KM_OK || header != 11) ++failures;
            d->Close(nullptr);
        }
        return failures;
    };
    {
        Library km;
        ASSERT_TRUE(km.ok());
        EXPECT_EQ(readBack(km), 0) << "after a reload";
    }
    EXPECT_EQ(RunChild([&] {
                  Library km;
                  return readBack(km);
              }),
              0)
        << "in another process";
}

TEST_F(KMLibraryE2ETest, EraseLeavesNoRecords)
{
    KeyRig rig({RigKey(kSerialA)});
    Library km;
    ASSERT_TRUE(km.ok());
    Device d(km.getInterface(kFullKey));
    ASSERT_EQ(Open(d.get(), kSerialA, kPassword), KM_OK);
    const std::vector<uint8_t> data = Pattern(300, 9);
    ASSERT_EQ(d->WriteRecord(nullptr, 17, data.data(), 300), KM_OK);
    ASSERT_EQ(d->WriteRecord(nullptr, 2, data.data(), 300), KM_OK);
    ASSERT_EQ(d->Erase(nullptr), KM_OK);
    int header = -1;
    EXPECT_EQ(d->GetRecordHeader(nullptr, 0, &header), KM_NOT_FOUND);
    std::vector<uint8_t> buffer(4096);
    unsigned length = 0;
    EXPECT_EQ(d->ReadRecord(nullptr, 2, buffer.data(), &length), KM_DEVICE_ERROR);
    EXPECT_EQ(d->ReadRecord(nullptr, 17, buffer.data(), &length), KM_DEVICE_ERROR);
    ASSERT_EQ(d->Close(nullptr), KM_OK);
}

TEST_F(KMLibraryE2ETest, TheStorageCarrierStoresRecordsAndAnswersFourForTheRest)
{
    KeyRig rig({RigKey(kSerialA)});
    Library km;
    ASSERT_TRUE(km.ok());
    Device d(km.getInterface(kCarrier));
    ASSERT_TRUE(d);
    void* objects[2] = {nullptr, nullptr};
    int caps = 0;
    EXPECT_EQ(d->GetInfo(nullptr, &caps, objects), KM_OK);
    EXPECT_EQ(caps, KM_CAPS_STORAGE);
    EXPECT_EQ(objects[0], nullptr);
    EXPECT_EQ(objects[1], nullptr);
    ASSERT_EQ(Open(d.get(), kSerialA, kPassword), KM_OK);
    unsigned value = 0;
    char text[256];
    EXPECT_EQ(d->Reserved10(), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->GetJournalRecord(nullptr, 0, &value, text, text, text), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->GetDeviceInfo(nullptr, &value, &value, &value, &value, &value, &value, &value), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->Reserved13(), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->GetDeviceStatus(nullptr, &value), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->Reserved15(), KM_NOT_SUPPORTED);
    EXPECT_EQ(d->Reserved16(), KM_NOT_SUPPORTED);

    const std::vector<uint8_t> data = Pattern(500, 3);
    ASSERT_EQ(d->WriteRecord(nullptr, 6, data.data(), 500), KM_OK);
    std::vector<uint8_t> buffer(4096);
    unsigned length = 0;
    ASSERT_EQ(d->ReadRecord(nullptr, 6, buffer.data(), &length), KM_OK);
    EXPECT_EQ(length, 500u);
    EXPECT_EQ(std::memcmp(buffer.data(), data.data(), 500), 0);
    EXPECT_EQ(d->ReadRecord(nullptr, 5, buffer.data(), &length), KM_DEVICE_ERROR) << "no synthesised container";
    ASSERT_EQ(d->Close(nullptr), KM_OK);
}

}  // namespace
}  // namespace qvk::e2e
