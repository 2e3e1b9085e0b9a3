// The module against emulated keys behind a real pcscd, checked from the
// outside: the token record that C_InitToken leaves on the key, read back
// byte for byte through a driver object of our own; every row of the
// mechanism information table; session counts across slots; and the
// arguments a login refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "device/DeviceProtocol.h"
#include "pkcs11/pkcs11ua.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

const std::string& kSoPin = kRigPin;

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11Device, DeviceReleaser>;

void PutLE(Bytes& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

class Pkcs11RecordE2E : public ModuleTest {
protected:
    Pkcs11RecordE2E() : ModuleTest("qvkp11rec") {}
    void TearDown() override
    {
        // The driver objects of this process share the device layer's
        // memories with the module: closed once the module is gone.
        Unload();
        CloseSharedMemory();
        ModuleTest::TearDown();
    }

    // The used part of the key's public area, read by a driver object of
    // this process while the module has the key closed.
    static Bytes PublicArea(const std::string& serial)
    {
        std::uint32_t index = 0;
        char text[KEY_SERIAL_TEXT_BYTES] = {};
        while (EnumerateKeySerials(index) == CKR_OK && GetKeySerialEntry(index, text) && serial != text) ++index;
        EXPECT_EQ(std::string(text), serial);
        Device device(CreatePKCS11Device());
        EXPECT_EQ(device->Open(index), CKR_OK);
        std::uint8_t* image = nullptr;
        std::uint32_t length = 0;
        EXPECT_EQ(device->ReadStorageArea(0, &image, &length), CKR_OK);
        Bytes out(image, image + length);
        delete[] image;
        EXPECT_EQ(device->Close(), CKR_OK);
        return out;
    }
};

TEST_F(Pkcs11RecordE2E, InitialisationLeavesTheMarkAndTheRecordOnTheKey)
{
    struct Case {
        int version;
        std::uint32_t capacity;
    } cases[] = {{18, 4096}, {7, 1024}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        KeyRig rig({RigKey(4321, c.version, kSoPin)});
        // "Key Ж" blank-padded: 32 UTF-8 bytes, 31 in Windows-1251.
        ASSERT_NO_FATAL_FAILURE(module_->InitializeToken("Key \xD0\x96"));
        const CK_SLOT_ID slot = module_->slot;
        CK_TOKEN_INFO info{};
        ASSERT_EQ(f_->C_GetTokenInfo(slot, &info), CKR_OK);
        EXPECT_EQ(info.ulTotalPublicMemory, c.capacity);
        EXPECT_EQ(info.ulFreePublicMemory, c.capacity - 48);
        EXPECT_EQ(info.ulFreePrivateMemory, 3072u);
        ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);

        Bytes expected = {0x3F, 0xFF, 1, 0, 'K', 'e', 'y', ' ', 0xC6};
        expected.resize(expected.size() + 26, ' ');
        expected.push_back(0);  // the label field's last byte: the text was one byte shorter
        PutLE(expected, 0x405);
        PutLE(expected, 3072);
        PutLE(expected, c.capacity - 48);
        ASSERT_EQ(expected.size(), 48u);
        EXPECT_EQ(PublicArea("4321"), expected);
    }
}

TEST_F(Pkcs11RecordE2E, EveryMechanismHasItsFixedInformation)
{
    KeyRig rig({RigKey(50, 18, kSoPin)});
    ASSERT_NO_FATAL_FAILURE(module_->Initialize());
    const CK_SLOT_ID slot = module_->slot;
    const CK_FLAGS cipher = 0x301, mac = 0x2801, wrap = 0x60001, digest = 0x401, sign = 0x2E02801, gen = 0x8001,
                   pair = 0x2E10001, derive = 0x2280001;
    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    } rows[] = {
        {0x80420011, 32, 32, cipher},   {0x80420012, 32, 32, cipher}, {0x80420013, 32, 32, cipher},
        {0x80420014, 32, 32, mac},      {0x80420016, 32, 32, wrap},   {0x80420061, 32, 32, wrap},
        {0x80420021, 0, 0, digest},     {0x80420022, 0, 0, digest},   {0x80420023, 0, 0, digest},
        {0x80420024, 0, 0, digest},     {0x80420025, 0, 0, digest},   {0x80420031, 163, 509, sign},
        {0x80420032, 163, 509, sign},   {0x80420033, 163, 509, sign}, {0x80420034, 163, 509, sign},
        {0x80420035, 163, 509, sign},   {0x80420036, 163, 509, sign}, {0x80420041, 32, 32, gen},
        {0x80420051, 32, 32, gen},      {0x80420042, 163, 509, pair}, {0x80420043, 163, 509, derive},
        {0x80420044, 163, 509, derive},
    };
    for (const Row& r : rows) {
        CK_MECHANISM_INFO info;
        std::memset(&info, 0xAA, sizeof(info));
        ASSERT_EQ(f_->C_GetMechanismInfo(slot, r.type, &info), CKR_OK) << std::hex << r.type;
        EXPECT_EQ(info.ulMinKeySize, r.min) << std::hex << r.type;
        EXPECT_EQ(info.ulMaxKeySize, r.max) << std::hex << r.type;
        EXPECT_EQ(info.flags, r.flags) << std::hex << r.type;
    }
    CK_MECHANISM_INFO info{};
    for (CK_MECHANISM_TYPE invalid :
         {0x80420071ul, 0x80420072ul, 0x80420073ul, 0x80420015ul, 0x80420010ul, 0x80420045ul, 0ul})
        EXPECT_EQ(f_->C_GetMechanismInfo(slot, invalid, &info), CKR_MECHANISM_INVALID) << std::hex << invalid;
    EXPECT_EQ(f_->C_GetMechanismInfo(slot, 0x80420011, nullptr), CKR_ARGUMENTS_BAD);
    CK_ULONG count = 0;
    EXPECT_EQ(f_->C_GetMechanismList(slot, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_GetMechanismList(slot + 1, nullptr, &count), CKR_SLOT_ID_INVALID);
}

TEST_F(Pkcs11RecordE2E, SessionCountsCoverEverySlotAndLoginsNeedAPin)
{
    KeyRig rig({RigKey(60, 18, kSoPin), RigKey(61, 17, kSoPin)});
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    const std::vector<CK_SLOT_ID> slots = module_->Slots();
    ASSERT_EQ(slots.size(), 2u);
    const CK_SLOT_ID first = slots[0], second = slots[1];
    for (CK_SLOT_ID slot : slots) ASSERT_EQ(module_->InitToken(slot, kSoPin, ""), CKR_OK);
    CK_SESSION_HANDLE a = 0, b = 0, c = 0;
    ASSERT_EQ(f_->C_OpenSession(second, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &a), CKR_OK);
    ASSERT_EQ(f_->C_OpenSession(second, CKF_SERIAL_SESSION, nullptr, nullptr, &b), CKR_OK);
    ASSERT_EQ(f_->C_OpenSession(first, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &c), CKR_OK);
    EXPECT_EQ(f_->C_OpenSession(first, CKF_SERIAL_SESSION, nullptr, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(f_->C_GetTokenInfo(first, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 3u);
    EXPECT_EQ(info.ulRwSessionCount, 2u);

    // The read-only session is on the other slot: the SO may log in here.
    ASSERT_EQ(f_->C_Login(c, CKU_SO, U(kSoPin), kSoPin.size()), CKR_OK);
    EXPECT_EQ(f_->C_Login(a, CKU_SO, U(kSoPin), kSoPin.size()), CKR_SESSION_READ_ONLY_EXISTS);
    CK_SESSION_INFO s{};
    ASSERT_EQ(f_->C_GetSessionInfo(c, &s), CKR_OK);
    EXPECT_EQ(s.state, CKS_RW_SO_FUNCTIONS);
    EXPECT_EQ(s.slotID, first);
    EXPECT_EQ(s.flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    EXPECT_EQ(s.ulDeviceError, 0u);

    // A login without a PIN buffer is a bad call, not a wrong PIN.
    EXPECT_EQ(f_->C_Login(a, CKU_USER, nullptr, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_Login(a, CKU_USER, nullptr, 8), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_Login(0, CKU_USER, U(kSoPin), kSoPin.size()), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(f_->C_Login(9000, CKU_USER, U(kSoPin), kSoPin.size()), CKR_SESSION_HANDLE_INVALID);

    EXPECT_EQ(f_->C_CloseAllSessions(second), CKR_OK);
    ASSERT_EQ(f_->C_GetTokenInfo(second, &info), CKR_OK);
    EXPECT_EQ(info.ulSessionCount, 1u);
    EXPECT_EQ(info.ulRwSessionCount, 1u);
    EXPECT_EQ(f_->C_CloseSession(c), CKR_OK);
    EXPECT_EQ(f_->C_CloseSession(c), CKR_SESSION_HANDLE_INVALID);
}

TEST_F(Pkcs11RecordE2E, TheSoLoginStandsForTheKeysPasswordAfterItInitialisesTheUserPin)
{
    KeyRig rig({RigKey(70, 18, kSoPin)});
    ASSERT_NO_FATAL_FAILURE(module_->InitializeToken());
    const CK_SESSION_HANDLE so = module_->Open();
    ASSERT_EQ(f_->C_Login(so, CKU_SO, U(kSoPin), kSoPin.size()), CKR_OK);
    const std::string pin = "55667788";
    ASSERT_EQ(f_->C_InitPIN(so, U(pin), pin.size()), CKR_OK);
    // The key has one password: the SO's login now stands for the new one,
    // not the password it first logged in with.
    const std::string next = "99887766";
    EXPECT_EQ(f_->C_SetPIN(so, U(kSoPin), kSoPin.size(), U(next), next.size()), CKR_PIN_INCORRECT);
    ASSERT_EQ(f_->C_Logout(so), CKR_OK);
    EXPECT_EQ(f_->C_Login(so, CKU_SO, U(kSoPin), kSoPin.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(so, CKU_SO, U(pin), pin.size()), CKR_OK);
    CK_SESSION_INFO s{};
    ASSERT_EQ(f_->C_GetSessionInfo(so, &s), CKR_OK);
    EXPECT_EQ(s.state, CKS_RW_SO_FUNCTIONS);
}

TEST_F(Pkcs11RecordE2E, PinsOfNoAcceptableLengthCountAsWrongPinsOfThatUser)
{
    KeyRig rig({RigKey(71, 18, kSoPin)});
    ASSERT_NO_FATAL_FAILURE(module_->Initialize());
    const CK_SLOT_ID slot = module_->slot;
    ASSERT_EQ(module_->InitToken(slot, kSoPin, ""), CKR_OK);
    auto flags = [&] {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(f_->C_GetTokenInfo(slot, &info), CKR_OK);
        return info.flags;
    };
    const std::string empty, tooLong(33, '1');
    // The stored flags, and the user PIN that the key's one password is.
    const CK_FLAGS kReported = 0x405u | CKF_USER_PIN_INITIALIZED;
    struct Case {
        CK_USER_TYPE user;
        const std::string* pin;
        CK_FLAGS flag;
    } cases[] = {{CKU_USER, &tooLong, CKF_USER_PIN_COUNT_LOW},
                 {CKU_USER, &empty, CKF_USER_PIN_COUNT_LOW},
                 {CKU_SO, &tooLong, CKF_SO_PIN_COUNT_LOW},
                 {CKU_SO, &empty, CKF_SO_PIN_COUNT_LOW}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        SCOPED_TRACE(c.pin->size());
        CK_SESSION_HANDLE h = 0;
        ASSERT_EQ(f_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
        ASSERT_EQ(f_->C_Login(h, c.user, U(kSoPin), kSoPin.size()), CKR_OK);
        EXPECT_EQ(flags(), kReported);
        EXPECT_EQ(f_->C_Login(h, c.user, U(*c.pin), c.pin->size()), CKR_PIN_INCORRECT);
        EXPECT_EQ(flags(), kReported | c.flag);
        ASSERT_EQ(f_->C_Logout(h), CKR_OK);
        ASSERT_EQ(f_->C_Login(h, c.user, U(kSoPin), kSoPin.size()), CKR_OK);
        EXPECT_EQ(flags(), kReported) << "a right PIN clears the flag";
        EXPECT_EQ(f_->C_CloseSession(h), CKR_OK);
    }
}

TEST_F(Pkcs11RecordE2E, EachEntryPointAnswersItsOwnCodeForMissingOrWrongArguments)
{
    KeyRig rig({RigKey(72, 18, kSoPin)});
    ASSERT_NO_FATAL_FAILURE(module_->Initialize());
    const CK_SLOT_ID slot = module_->slot;
    CK_SESSION_HANDLE h = 0;
    // Not initialised yet: the token is checked before the open flags.
    EXPECT_EQ(f_->C_OpenSession(slot, 0, nullptr, nullptr, &h), CKR_TOKEN_NOT_RECOGNIZED);
    CK_MECHANISM_TYPE mechanisms[25];
    CK_ULONG count = 25;
    EXPECT_EQ(f_->C_GetMechanismList(slot, mechanisms, &count), CKR_OK) << "mechanisms need no token record";
    EXPECT_EQ(count, 25u);

    std::string label(32, ' ');
    ASSERT_EQ(f_->C_InitToken(slot, U(kSoPin), kSoPin.size(), U(label)), CKR_OK);
    ASSERT_EQ(f_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK);
    const std::string pin = "abcdefgh";
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_SESSION_INFO sessionInfo;
    const CK_SLOT_ID absent = slot + 1;
    struct Row {
        const char* call;
        CK_RV got, want;
    } rows[] = {
        {"C_GetSlotList without a count", f_->C_GetSlotList(CK_FALSE, nullptr, nullptr), CKR_ARGUMENTS_BAD},
        {"C_GetSlotInfo without info", f_->C_GetSlotInfo(slot, nullptr), CKR_ARGUMENTS_BAD},
        {"C_GetSlotInfo of an absent slot", f_->C_GetSlotInfo(absent, &slotInfo), CKR_SLOT_ID_INVALID},
        {"C_GetTokenInfo without info", f_->C_GetTokenInfo(slot, nullptr), CKR_ARGUMENTS_BAD},
        {"C_GetTokenInfo of an absent slot", f_->C_GetTokenInfo(absent, &tokenInfo), CKR_SLOT_ID_INVALID},
        {"C_GetTokenInfo of slot 256", f_->C_GetTokenInfo(256, &tokenInfo), CKR_SLOT_ID_INVALID},
        {"C_InitToken without a label", f_->C_InitToken(slot, U(kSoPin), kSoPin.size(), nullptr), CKR_ARGUMENTS_BAD},
        {"C_InitToken without a PIN", f_->C_InitToken(slot, nullptr, 0, U(label)), CKR_ARGUMENTS_BAD},
        {"C_InitToken with an empty PIN", f_->C_InitToken(slot, U(kSoPin), 0, U(label)), CKR_PIN_LEN_RANGE},
        {"C_InitToken of an absent slot", f_->C_InitToken(absent, U(kSoPin), kSoPin.size(), U(label)),
         CKR_SLOT_ID_INVALID},
        {"C_InitPIN without a PIN", f_->C_InitPIN(h, nullptr, 0), CKR_ARGUMENTS_BAD},
        {"C_InitPIN with an empty PIN", f_->C_InitPIN(h, U(pin), 0), CKR_PIN_LEN_RANGE},
        {"C_InitPIN of a closed session", f_->C_InitPIN(h + 1, U(pin), pin.size()), CKR_SESSION_HANDLE_INVALID},
        {"C_SetPIN without the old PIN", f_->C_SetPIN(h, nullptr, 0, U(pin), pin.size()), CKR_ARGUMENTS_BAD},
        {"C_SetPIN with an empty old PIN", f_->C_SetPIN(h, U(kSoPin), 0, U(pin), pin.size()), CKR_PIN_LEN_RANGE},
        {"C_SetPIN with a 33-byte new PIN", f_->C_SetPIN(h, U(kSoPin), kSoPin.size(), U(std::string(33, 'x')), 33),
         CKR_PIN_LEN_RANGE},
        {"C_OpenSession of an absent slot", f_->C_OpenSession(absent, CKF_SERIAL_SESSION, nullptr, nullptr, &h),
         CKR_SLOT_ID_INVALID},
        {"C_GetSessionInfo of handle 0", f_->C_GetSessionInfo(0, &sessionInfo), CKR_SESSION_HANDLE_INVALID},
        {"C_GetSessionInfo of handle 8193", f_->C_GetSessionInfo(8193, &sessionInfo), CKR_SESSION_HANDLE_INVALID},
        {"C_Logout of a closed session", f_->C_Logout(h + 1), CKR_SESSION_HANDLE_INVALID},
        {"C_CloseSession of handle 0", f_->C_CloseSession(0), CKR_SESSION_HANDLE_INVALID},
    };
    for (const Row& r : rows) EXPECT_EQ(r.got, r.want) << r.call;
    CK_SESSION_INFO info{};
    ASSERT_EQ(f_->C_GetSessionInfo(h, &info), CKR_OK);
    EXPECT_EQ(info.state, CKS_RW_PUBLIC_SESSION) << "no failed call logged the session in";
}

}  // namespace
}  // namespace qvk::e2e
