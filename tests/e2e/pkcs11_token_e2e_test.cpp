// The built module, loaded with dlopen, against emulated keys behind a real
// pcscd: slots and their numbers, slot, token and mechanism information byte
// for byte, token initialisation and the token record, sessions, login and
// PIN changes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

const std::string& kSoPin = kRigPin;

std::string Field(const CK_UTF8CHAR* bytes, std::size_t size)
{
    return std::string(reinterpret_cast<const char*>(bytes), size);
}

std::string Padded(const std::string& text, std::size_t size)
{
    return text + std::string(size - text.size(), ' ');
}

class Pkcs11TokenE2E : public ModuleTest {
protected:
    Pkcs11TokenE2E() : ModuleTest("qvkp11tok") {}

    void Initialize() { ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK); }
    std::vector<CK_SLOT_ID> Slots() { return module_->Slots(); }
    CK_RV InitToken(CK_SLOT_ID slot, const std::string& pin, const std::string& label)
    {
        return module_->InitToken(slot, pin, label);
    }

    CK_SESSION_HANDLE Open(CK_SLOT_ID slot, CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION)
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(f_->C_OpenSession(slot, flags, nullptr, nullptr, &h), CKR_OK);
        return h;
    }

    CK_TOKEN_INFO TokenInfo(CK_SLOT_ID slot, CK_RV expected = CKR_OK)
    {
        CK_TOKEN_INFO info;
        std::memset(&info, 0xAA, sizeof(info));
        EXPECT_EQ(f_->C_GetTokenInfo(slot, &info), expected);
        return info;
    }

    CK_STATE State(CK_SESSION_HANDLE h, CK_FLAGS* flags = nullptr)
    {
        CK_SESSION_INFO info{};
        EXPECT_EQ(f_->C_GetSessionInfo(h, &info), CKR_OK);
        if (flags != nullptr) *flags = info.flags;
        return info.state;
    }
};

TEST_F(Pkcs11TokenE2E, SlotListsKeepNumbersAndForgetUnpluggedKeysAtTheNextScan)
{
    KeyRig rig({RigKey(20), RigKey(10)});
    Initialize();
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    EXPECT_EQ(count, 2u);
    CK_SLOT_ID one[1];
    count = 1;
    EXPECT_EQ(f_->C_GetSlotList(CK_TRUE, one, &count), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{0, 1}));

    CK_SLOT_INFO info;
    std::memset(&info, 0xAA, sizeof(info));
    ASSERT_EQ(f_->C_GetSlotInfo(1, &info), CKR_OK);
    EXPECT_EQ(Field(info.slotDescription, 64), Padded("Q.uor_Korvo-7Q_Slot", 64));
    EXPECT_EQ(Field(info.manufacturerID, 32), Padded("JSC_TVR", 32));
    EXPECT_EQ(info.flags, CKF_REMOVABLE_DEVICE | CKF_TOKEN_PRESENT);
    EXPECT_EQ(info.hardwareVersion.major, 2);
    EXPECT_EQ(info.hardwareVersion.minor, 2);
    EXPECT_EQ(info.firmwareVersion.major, 2);
    EXPECT_EQ(info.firmwareVersion.minor, 2);
    EXPECT_EQ(f_->C_GetSlotInfo(256, &info), CKR_SLOT_ID_INVALID);
    EXPECT_EQ(f_->C_GetSlotInfo(2, &info), CKR_SLOT_ID_INVALID);

    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    // Until the next scan the slot stays, without its token.
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(f_->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_TOKEN_NOT_PRESENT);
    ASSERT_EQ(f_->C_GetSlotInfo(0, &info), CKR_OK);
    EXPECT_EQ(info.flags, CKF_REMOVABLE_DEVICE);
    // The scan stops at the empty reader, as at the end of the keys.
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{1})) << "the other key keeps its slot";
    EXPECT_EQ(f_->C_GetSlotInfo(0, &info), CKR_SLOT_ID_INVALID);

    rig.Control("replug 0");
    ASSERT_TRUE(rig.WaitCard(0, true));
    EXPECT_EQ(Slots(), (std::vector<CK_SLOT_ID>{0, 1})) << "a key that comes back keeps its number";
}

TEST_F(Pkcs11TokenE2E, MechanismsByKeyVersionAndTheFixedInformationTable)
{
    KeyRig rig({RigKey(30, 18), RigKey(31, 17)});
    Initialize();
    ASSERT_EQ(Slots().size(), 2u);
    const std::vector<CK_MECHANISM_TYPE> base = {
        0x80420011, 0x80420012, 0x80420013, 0x80420014, 0x80420016, 0x80420021, 0x80420031, 0x80420032, 0x80420041,
        0x80420042, 0x80420043, 0x80420044, 0x80420022, 0x80420023, 0x80420024, 0x80420025, 0x80420033, 0x80420034};
    std::vector<CK_MECHANISM_TYPE> extended = base;
    extended.insert(extended.end(),
                    {0x80420035, 0x80420036, 0x80420051, 0x80420061, 0x80420071, 0x80420072, 0x80420073});
    for (CK_SLOT_ID slot : {0ul, 1ul}) {
        CK_ULONG count = 0;
        ASSERT_EQ(f_->C_GetMechanismList(slot, nullptr, &count), CKR_OK);
        std::vector<CK_MECHANISM_TYPE> list(count);
        CK_ULONG shortCount = count - 1;
        EXPECT_EQ(f_->C_GetMechanismList(slot, list.data(), &shortCount), CKR_BUFFER_TOO_SMALL);
        ASSERT_EQ(f_->C_GetMechanismList(slot, list.data(), &count), CKR_OK);
        EXPECT_EQ(list, slot == 0 ? extended : base) << "slot " << slot;
    }

    struct Row {
        CK_MECHANISM_TYPE type;
        CK_ULONG min, max;
        CK_FLAGS flags;
    } rows[] = {
        {0x80420011, 32, 32, 0x301},       {0x80420013, 32, 32, 0x301},       {0x80420014, 32, 32, 0x2801},
        {0x80420016, 32, 32, 0x60001},     {0x80420061, 32, 32, 0x60001},     {0x80420021, 0, 0, 0x401},
        {0x80420025, 0, 0, 0x401},         {0x80420031, 163, 509, 0x2E02801}, {0x80420035, 163, 509, 0x2E02801},
        {0x80420036, 163, 509, 0x2E02801}, {0x80420041, 32, 32, 0x8001},      {0x80420051, 32, 32, 0x8001},
        {0x80420042, 163, 509, 0x2E10001}, {0x80420043, 163, 509, 0x2280001}, {0x80420044, 163, 509, 0x2280001},
    };
    for (const Row& r : rows) {
        CK_MECHANISM_INFO info{};
        ASSERT_EQ(f_->C_GetMechanismInfo(1, r.type, &info), CKR_OK) << std::hex << r.type;
        EXPECT_EQ(info.ulMinKeySize, r.min) << std::hex << r.type;
        EXPECT_EQ(info.ulMaxKeySize, r.max) << std::hex << r.type;
        EXPECT_EQ(info.flags, r.flags) << std::hex << r.type;
    }
    CK_MECHANISM_INFO info{};
    for (CK_MECHANISM_TYPE invalid : {0x80420071ul, 0x80420073ul, 0x80420015ul, 0x1220ul})
        EXPECT_EQ(f_->C_GetMechanismInfo(0, invalid, &info), CKR_MECHANISM_INVALID) << std::hex << invalid;
    EXPECT_EQ(f_->C_GetMechanismInfo(7, 0x80420011, &info), CKR_SLOT_ID_INVALID);
}

TEST_F(Pkcs11TokenE2E, InitialisationWritesTheTokenRecord)
{
    KeyRig rig({RigKey(1234, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    TokenInfo(0, CKR_TOKEN_NOT_RECOGNIZED);
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(f_->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_TOKEN_NOT_RECOGNIZED);

    EXPECT_EQ(InitToken(0, std::string(33, '1'), "x"), CKR_PIN_LEN_RANGE);
    ASSERT_EQ(InitToken(0, kSoPin, "My key"), CKR_OK);
    const CK_TOKEN_INFO info = TokenInfo(0);
    EXPECT_EQ(Field(info.label, 32), Padded("My key", 32));
    EXPECT_EQ(Field(info.manufacturerID, 32), Padded("JSC_TVR", 32));
    EXPECT_EQ(Field(info.model, 16), Padded("Q.uor_Korvo-7Q", 16));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.serialNumber), 16), Padded("001234", 16));
    EXPECT_EQ(info.flags, 0x405u | CKF_USER_PIN_INITIALIZED) << "the key's password is the user PIN";
    EXPECT_EQ(info.ulTotalPublicMemory, 4096u);
    EXPECT_EQ(info.ulFreePublicMemory, 4096u - 48u);
    EXPECT_EQ(info.ulTotalPrivateMemory, 3072u);
    EXPECT_EQ(info.ulFreePrivateMemory, 3072u);
    EXPECT_EQ(info.ulMaxSessionCount, 256u);
    EXPECT_EQ(info.ulSessionCount, 0u);
    EXPECT_EQ(info.ulMaxRwSessionCount, 256u);
    EXPECT_EQ(info.ulRwSessionCount, 0u);
    EXPECT_EQ(info.ulMaxPinLen, 32u);
    EXPECT_EQ(info.ulMinPinLen, 1u);
    EXPECT_EQ(info.hardwareVersion.major, 1);
    EXPECT_EQ(info.hardwareVersion.minor, 0);
    EXPECT_EQ(info.firmwareVersion.major, 1);
    EXPECT_EQ(info.firmwareVersion.minor, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.utcTime), 16), std::string(16, '\0'));

    // A session on the slot forbids a new initialisation.
    h = Open(0);
    EXPECT_EQ(InitToken(0, kSoPin, "again"), CKR_SESSION_EXISTS);
    EXPECT_EQ(f_->C_CloseSession(h), CKR_OK);
    // Re-initialisation needs the SO PIN.
    EXPECT_EQ(InitToken(0, "87654321", "again"), CKR_PIN_INCORRECT);
    ASSERT_EQ(InitToken(0, kSoPin, "again"), CKR_OK);
    EXPECT_EQ(Field(TokenInfo(0).label, 32), Padded("again", 32));
}

TEST_F(Pkcs11TokenE2E, LabelsShowCleanedAndNeverFailTheCall)
{
    KeyRig rig({RigKey(5, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    // A blank label cleans to nothing: 32 blanks.
    ASSERT_EQ(InitToken(0, kSoPin, ""), CKR_OK);
    EXPECT_EQ(Field(TokenInfo(0).label, 32), std::string(32, ' '));
    ASSERT_EQ(InitToken(0, kSoPin, "Ab? ?cd"), CKR_OK);
    EXPECT_EQ(Field(TokenInfo(0).label, 32), Padded("Abcd", 32));
    // 20 Cyrillic letters are 40 UTF-8 bytes: cut at 16 whole letters.
    std::string cyrillic;
    for (int i = 0; i < 20; ++i) cyrillic += "\xD0\x96";
    std::string field = cyrillic;  // 40 bytes; the label field takes 32 of them
    field.resize(32);
    ASSERT_EQ(f_->C_InitToken(0, U(kSoPin), kSoPin.size(), U(field)), CKR_OK);
    CK_SESSION_HANDLE h = 0;
    ASSERT_EQ(f_->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
    EXPECT_EQ(Field(TokenInfo(0).label, 32), cyrillic.substr(0, 32));
    // A label or PIN the key cannot hold exactly is refused.
    std::string chinese = "\xE4\xB8\xAD";
    EXPECT_EQ(f_->C_CloseSession(h), CKR_OK);
    EXPECT_EQ(InitToken(0, kSoPin, chinese), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(InitToken(0,
                        std::string("1234\0"
                                    "5678",
                                    9),
                        "x"),
              CKR_PIN_INVALID);
    EXPECT_EQ(InitToken(0, "12" + chinese, "x"), CKR_PIN_INVALID);
}

TEST_F(Pkcs11TokenE2E, SessionsLoginAndStates)
{
    KeyRig rig({RigKey(77, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "sessions"), CKR_OK);

    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(f_->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &h), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    EXPECT_EQ(ro, 1u);
    const CK_SESSION_HANDLE rw = Open(0);
    EXPECT_EQ(rw, 2u);
    CK_FLAGS flags = 0;
    EXPECT_EQ(State(ro, &flags), CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(flags, CKF_SERIAL_SESSION);
    EXPECT_EQ(State(rw, &flags), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    CK_TOKEN_INFO info = TokenInfo(0);
    EXPECT_EQ(info.ulSessionCount, 2u);
    EXPECT_EQ(info.ulRwSessionCount, 1u);

    EXPECT_EQ(f_->C_Login(rw, CKU_SO, U(kSoPin), kSoPin.size()), CKR_SESSION_READ_ONLY_EXISTS);
    EXPECT_EQ(f_->C_Login(rw, 7, U(kSoPin), kSoPin.size()), CKR_USER_TYPE_INVALID);
    EXPECT_EQ(f_->C_Logout(rw), CKR_USER_NOT_LOGGED_IN);

    EXPECT_EQ(f_->C_Login(rw, CKU_USER, U(std::string("00000000")), 8), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(rw, CKU_USER, U(std::string(33, '1')), 33), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(rw, CKU_USER, nullptr, 0), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    EXPECT_EQ(State(rw), CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(State(ro), CKS_RO_PUBLIC_SESSION) << "each session keeps the login of its own token entry";

    // Handles are reused from 1.
    EXPECT_EQ(f_->C_CloseSession(ro), CKR_OK);
    EXPECT_EQ(f_->C_GetSessionInfo(ro, nullptr), CKR_ARGUMENTS_BAD);
    CK_SESSION_INFO sinfo;
    EXPECT_EQ(f_->C_GetSessionInfo(ro, &sinfo), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(Open(0), 1u);
    EXPECT_EQ(f_->C_Logout(rw), CKR_OK);
    EXPECT_EQ(State(rw), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(f_->C_CloseAllSessions(0), CKR_OK);
    EXPECT_EQ(f_->C_GetSessionInfo(rw, &sinfo), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(f_->C_CloseAllSessions(9), CKR_OK);
    EXPECT_EQ(TokenInfo(0).ulSessionCount, 0u);

    // The SO's read-write session forbids new read-only ones on its entry.
    const CK_SESSION_HANDLE so = Open(0);
    ASSERT_EQ(f_->C_Login(so, CKU_SO, U(kSoPin), kSoPin.size()), CKR_OK);
    EXPECT_EQ(State(so, &flags), CKS_RW_SO_FUNCTIONS);
    EXPECT_EQ(flags, CKF_SERIAL_SESSION | CKF_RW_SESSION);
    EXPECT_EQ(f_->C_Login(so, CKU_USER, U(kSoPin), kSoPin.size()), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
}

TEST_F(Pkcs11TokenE2E, ALoggedInSessionIsNotLoggedInAgainAndOneLogoutEndsItsLogin)
{
    KeyRig rig({RigKey(78, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "flags"), CKR_OK);
    const CK_SESSION_HANDLE rw = Open(0);
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    // Refused before the PIN is looked at: nothing is written to the token.
    EXPECT_EQ(f_->C_Login(rw, CKU_USER, U(std::string("00000000")), 8), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(f_->C_Login(rw, CKU_USER, U(kSoPin), kSoPin.size()), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(TokenInfo(0).flags, 0x405u | CKF_USER_PIN_INITIALIZED);
    EXPECT_EQ(f_->C_Logout(rw), CKR_OK);
    EXPECT_EQ(State(rw), CKS_RW_PUBLIC_SESSION);
}

TEST_F(Pkcs11TokenE2E, PinChangesCheckTheOldPinAndRefuseWhatTheKeyCannotHold)
{
    KeyRig rig({RigKey(88, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "pins"), CKR_OK);
    const CK_SESSION_HANDLE ro = Open(0, CKF_SERIAL_SESSION);
    const std::string next = "abcdefgh";
    EXPECT_EQ(f_->C_SetPIN(ro, U(kSoPin), kSoPin.size(), U(next), next.size()), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(f_->C_CloseSession(ro), CKR_OK);

    const CK_SESSION_HANDLE h = Open(0);
    ASSERT_EQ(f_->C_Login(h, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    // Logged in: the old PIN must still be the login's.
    EXPECT_EQ(f_->C_SetPIN(h, U(std::string("wrongpin")), 8, U(next), next.size()), CKR_PIN_INCORRECT);
    // A new PIN with a character the key cannot hold, or a NUL, is refused.
    const std::string greek = "ab\xCE\xB1";
    EXPECT_EQ(f_->C_SetPIN(h, U(kSoPin), kSoPin.size(), U(greek), greek.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_SetPIN(h, U(kSoPin), kSoPin.size(), U(std::string("ab\0cd", 5)), 5), CKR_PIN_INCORRECT);
    ASSERT_EQ(f_->C_SetPIN(h, U(kSoPin), kSoPin.size(), U(next), next.size()), CKR_OK);
    // The login now stands for the new PIN, not the old one.
    EXPECT_EQ(f_->C_SetPIN(h, U(kSoPin), kSoPin.size(), U(next), next.size()), CKR_PIN_INCORRECT);
    ASSERT_EQ(f_->C_Logout(h), CKR_OK);
    EXPECT_EQ(f_->C_Login(h, CKU_USER, U(kSoPin), kSoPin.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(h, CKU_USER, U(next), next.size()), CKR_OK);
    EXPECT_EQ(f_->C_CloseSession(h), CKR_OK);

    // A read-write public session is logged in with the old PIN and stays so.
    const CK_SESSION_HANDLE rw = Open(0);
    const std::string third = "87654321";
    ASSERT_EQ(f_->C_SetPIN(rw, U(next), next.size(), U(third), third.size()), CKR_OK);
    EXPECT_EQ(State(rw), CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(f_->C_CloseSession(rw), CKR_OK);
    const CK_SESSION_HANDLE again = Open(0);
    EXPECT_EQ(f_->C_Login(again, CKU_USER, U(next), next.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(again, CKU_USER, U(third), third.size()), CKR_OK);
}

TEST_F(Pkcs11TokenE2E, OnlyTheSoInitialisesTheUserPin)
{
    KeyRig rig({RigKey(66, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "initpin"), CKR_OK);
    const std::string pin = "11223344";
    const CK_SESSION_HANDLE user = Open(0);
    ASSERT_EQ(f_->C_Login(user, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    EXPECT_EQ(f_->C_InitPIN(user, U(pin), pin.size()), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(f_->C_InitPIN(user, U(std::string(33, '1')), 33), CKR_PIN_LEN_RANGE);
    EXPECT_EQ(f_->C_InitPIN(user, U(std::string("12\xE4\xB8\xAD")), 5), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_CloseSession(user), CKR_OK);

    const CK_SESSION_HANDLE so = Open(0);
    ASSERT_EQ(f_->C_Login(so, CKU_SO, U(kSoPin), kSoPin.size()), CKR_OK);
    ASSERT_EQ(f_->C_InitPIN(so, U(pin), pin.size()), CKR_OK);
    EXPECT_EQ(f_->C_CloseSession(so), CKR_OK);
    // The key has one password: the new PIN opens it now.
    const CK_SESSION_HANDLE again = Open(0);
    EXPECT_EQ(f_->C_Login(again, CKU_USER, U(kSoPin), kSoPin.size()), CKR_PIN_INCORRECT);
    EXPECT_EQ(f_->C_Login(again, CKU_USER, U(pin), pin.size()), CKR_OK);
}

TEST_F(Pkcs11TokenE2E, FinalisingWithOpenSessionsClosesTheKeysAndStartsAfresh)
{
    KeyRig rig({RigKey(44, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "finalise"), CKR_OK);
    const CK_SESSION_HANDLE a = Open(0);
    const CK_SESSION_HANDLE b = Open(0, CKF_SERIAL_SESSION);
    ASSERT_EQ(f_->C_Login(a, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    CK_SESSION_INFO info;
    EXPECT_EQ(f_->C_GetSessionInfo(a, &info), CKR_CRYPTOKI_NOT_INITIALIZED);

    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(f_->C_GetSessionInfo(b, &info), CKR_SESSION_HANDLE_INVALID) << "no session survives";
    ASSERT_EQ(Slots(), (std::vector<CK_SLOT_ID>{0}));
    const CK_SESSION_HANDLE c = Open(0);
    EXPECT_EQ(c, 1u);
    EXPECT_EQ(State(c), CKS_RW_PUBLIC_SESSION) << "no login survives";
    EXPECT_EQ(f_->C_Login(c, CKU_USER, U(kSoPin), kSoPin.size()), CKR_OK);
    EXPECT_EQ(TokenInfo(0).ulSessionCount, 1u);
}

TEST_F(Pkcs11TokenE2E, SessionsSurviveConcurrentLookupsWhileTheyClose)
{
    KeyRig rig({RigKey(99, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "threads"), CKR_OK);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::thread reader([&] {
        while (!stop.load()) {
            CK_SESSION_INFO info;
            const CK_RV rv = f_->C_GetSessionInfo(1, &info);
            if (rv != CKR_OK && rv != CKR_SESSION_HANDLE_INVALID) ++unexpected;
        }
    });
    for (int i = 0; i < 20; ++i) {
        const CK_SESSION_HANDLE h = Open(0);
        EXPECT_EQ(f_->C_CloseSession(h), CKR_OK);
    }
    stop = true;
    reader.join();
    EXPECT_EQ(unexpected.load(), 0);
}

TEST_F(Pkcs11TokenE2E, RandomNumbersComeFromTheKey)
{
    KeyRig rig({RigKey(11, 18, kSoPin)});
    Initialize();
    ASSERT_EQ(Slots().size(), 1u);
    ASSERT_EQ(InitToken(0, kSoPin, "random"), CKR_OK);
    const CK_SESSION_HANDLE h = Open(0, CKF_SERIAL_SESSION);
    CK_BYTE a[32] = {}, b[32] = {};
    EXPECT_EQ(f_->C_GenerateRandom(h, a, 0), CKR_OK);
    ASSERT_EQ(f_->C_GenerateRandom(h, a, sizeof(a)), CKR_OK);
    ASSERT_EQ(f_->C_GenerateRandom(h, b, sizeof(b)), CKR_OK);
    EXPECT_NE(std::memcmp(a, b, sizeof(a)), 0);
    EXPECT_EQ(f_->C_GenerateRandom(h, nullptr, 8), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_GenerateRandom(h + 100, a, 8), CKR_SESSION_HANDLE_INVALID);
}

}  // namespace
}  // namespace qvk::e2e
