// What the module answers when the key is in trouble or refuses, through the
// built module against emulated keys behind a real pcscd: the PIN flags of
// the key's failed-try count and a blocked password, a first initialisation
// with a password the key refuses, a key that does not answer the slot scan,
// a key pulled from a live session, and the user-PIN flag that NSS needs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "device/DeviceBlock.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

class Pkcs11DeviceAnswersE2E : public ModuleTest {
protected:
    Pkcs11DeviceAnswersE2E() : ModuleTest("qvkp11ans") {}

    CK_FLAGS TokenFlags(CK_SLOT_ID slot)
    {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(f_->C_GetTokenInfo(slot, &info), CKR_OK);
        return info.flags;
    }
    CK_RV Login(CK_SESSION_HANDLE h, const std::string& pin) { return f_->C_Login(h, CKU_USER, U(pin), pin.size()); }
};

constexpr CK_FLAGS kInitialised = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED;
constexpr CK_FLAGS kCountLow = CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW;

// Each wrong PIN is counted by the key; the flags say how near the password
// is to being blocked, a good login clears them, and once blocked the key is
// not asked again. pkcs11-tool reads the same flags.
TEST_F(Pkcs11DeviceAnswersE2E, WrongPinsShowInTheFlagsUntilThePasswordIsBlocked)
{
    KeyRig rig({RigKey(610001, 18, kRigPin)});
    module_->InitializeToken("tries");
    const CK_SLOT_ID slot = module_->slot;
    EXPECT_EQ(TokenFlags(slot), kInitialised);
    const CK_SESSION_HANDLE h = module_->Open();

    EXPECT_EQ(Login(h, "00000000"), CKR_PIN_INCORRECT);
    EXPECT_EQ(TokenFlags(slot), kInitialised | kCountLow) << "one wrong PIN, no login to write it under";
    ASSERT_EQ(Login(h, kRigPin), CKR_OK);
    EXPECT_EQ(TokenFlags(slot), kInitialised) << "a good login resets the key's count";
    ASSERT_EQ(f_->C_Logout(h), CKR_OK);

    for (int i = 1; i <= 14; ++i) ASSERT_EQ(Login(h, "00000000"), CKR_PIN_INCORRECT) << "try " << i;
    EXPECT_EQ(TokenFlags(slot), kInitialised | kCountLow | CKF_USER_PIN_FINAL_TRY | CKF_SO_PIN_FINAL_TRY);
    EXPECT_EQ(Login(h, "00000000"), CKR_PIN_LOCKED) << "the fifteenth try blocks the password";
    EXPECT_EQ(TokenFlags(slot), kInitialised | kCountLow | CKF_USER_PIN_LOCKED | CKF_SO_PIN_LOCKED);

    const std::vector<int> before = KeyCommands(rig, 0);
    EXPECT_EQ(Login(h, kRigPin), CKR_PIN_LOCKED);
    EXPECT_EQ(f_->C_Login(h, CKU_SO, U(kRigPin), kRigPin.size()), CKR_PIN_LOCKED);
    EXPECT_EQ(Count(KeyCommands(rig, 0), before.size(), {KEYCMD_LOGIN, KEYCMD_LOGIN_NEW}), 0)
        << "a blocked password is not tried";

    std::string out;
    if (RunShell("command -v pkcs11-tool", &out) == 0) {
        EXPECT_EQ(RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -L", &out), 0) << out;
        EXPECT_NE(out.find("user PIN locked"), std::string::npos) << out;
    }
}

// A key without a token record is formatted only by one who knows its
// password: a refused PIN changes nothing on the key.
TEST_F(Pkcs11DeviceAnswersE2E, FirstInitialisationNeedsTheKeysPassword)
{
    KeyRig rig({RigKey(610002, 18, kRigPin)});
    ASSERT_NO_FATAL_FAILURE(module_->Initialize());
    const std::vector<int> before = KeyCommands(rig, 0);
    EXPECT_EQ(module_->InitToken(module_->slot, "not-the-password", "taken"), CKR_PIN_INCORRECT);
    EXPECT_EQ(Count(KeyCommands(rig, 0), before.size(),
                    {KEYCMD_FORMAT, KEYCMD_FORMAT_NEW, KEYCMD_ERASE_PAGE, KEYCMD_WRITE_MEMORY, KEYCMD_CHANGE_PASSWORD,
                     KEYCMD_CHANGE_PASSWORD_NEW}),
              0)
        << "nothing formatted, erased, written or changed";
    CK_TOKEN_INFO info{};
    EXPECT_EQ(f_->C_GetTokenInfo(module_->slot, &info), CKR_TOKEN_NOT_RECOGNIZED);
    ASSERT_EQ(module_->InitToken(module_->slot, kRigPin, "mine"), CKR_OK) << "the key's own password still opens it";
    EXPECT_EQ(TokenFlags(module_->slot), kInitialised);
}

// A key that answers busy or cuts its answers short during the scan hides no
// other key: the healthy one keeps its slot and works.
TEST_F(Pkcs11DeviceAnswersE2E, AKeyThatDoesNotAnswerTheScanHidesNoOther)
{
    for (const char* fault : {"busy", "short-answer"}) {
        SCOPED_TRACE(fault);
        KeyRig rig({RigKey(610003, 18, kRigPin), RigKey(610004, 18, kRigPin)});
        rig.Control(std::string(fault) + " 1 on");
        ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 0;
        ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        std::vector<CK_SLOT_ID> slots(count);
        ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        module_->slot = slots[0];
        ASSERT_EQ(module_->InitToken(slots[0], kRigPin, "healthy"), CKR_OK);
        const CK_SESSION_HANDLE h = module_->LoggedIn();
        CK_BYTE random[16];
        EXPECT_EQ(f_->C_GenerateRandom(h, random, sizeof(random)), CKR_OK);

        rig.Control(std::string(fault) + " 1 off");
        EXPECT_EQ(module_->Slots().size(), 2u) << "the key is listed once it answers";
        ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    }
}

// A key in front that answers busy costs the healthy key behind it no wait:
// each open of the healthy key asks the busy one once and passes on (a wait
// would ask it every 10 ms for 15 seconds).
TEST_F(Pkcs11DeviceAnswersE2E, AKeyInFrontThatAnswersBusyCostsTheKeyBehindNoWait)
{
    KeyRig rig({RigKey(610005, 18, kRigPin), RigKey(610006, 18, kRigPin)});
    rig.Control("busy 0 on");
    ASSERT_NO_FATAL_FAILURE(module_->Initialize());
    ASSERT_EQ(module_->InitToken(module_->slot, kRigPin, "behind"), CKR_OK);
    const CK_SESSION_HANDLE h = module_->LoggedIn();
    CK_BYTE random[16];
    EXPECT_EQ(f_->C_GenerateRandom(h, random, sizeof(random)), CKR_OK);
    CK_TOKEN_INFO info{};
    EXPECT_EQ(f_->C_GetTokenInfo(module_->slot, &info), CKR_OK);
    EXPECT_NE(std::string(reinterpret_cast<char*>(info.serialNumber), sizeof(info.serialNumber)).find("610006"),
              std::string::npos);
    int asked = 0;
    for (const LoggedCommand& c : KeyCommandLog(rig, 0)) asked += c.cmd == KEYCMD_GET_DEVICE_INFO ? 1 : 0;
    EXPECT_GT(asked, 0);
    EXPECT_LT(asked, 50) << "the busy key was waited for";
    ASSERT_EQ(f_->C_CloseAllSessions(module_->slot), CKR_OK);

    rig.Control("busy 0 off");
    EXPECT_EQ(module_->Slots().size(), 2u) << "the key in front is listed once it answers";
}

// A login on a session whose key was pulled out answers CKR_DEVICE_REMOVED,
// not a wrong PIN (the recovery tests cover the other commands).
TEST_F(Pkcs11DeviceAnswersE2E, ALoginOnAPulledKeyIsNoWrongPin)
{
    KeyRig rig({RigKey(610005, 18, kRigPin)});
    module_->InitializeToken("pulled");
    const CK_SESSION_HANDLE h = module_->Open();
    rig.Control("unplug 0");
    ASSERT_TRUE(rig.WaitCard(0, false));
    EXPECT_EQ(Login(h, kRigPin), CKR_DEVICE_REMOVED);
}

// A PIN change that the key cannot complete is no wrong PIN, and the old PIN
// still opens the key.
TEST_F(Pkcs11DeviceAnswersE2E, APinChangeTheKeyCannotCompleteIsNoWrongPin)
{
    KeyRig rig({RigKey(610007, 18, kRigPin)});
    module_->InitializeToken("changes");
    const CK_SESSION_HANDLE h = module_->LoggedIn();
    const std::string next = "87654321";
    rig.Control("short-answer 0 on");
    EXPECT_EQ(f_->C_SetPIN(h, U(kRigPin), kRigPin.size(), U(next), next.size()), CKR_DEVICE_ERROR);
    rig.Control("short-answer 0 off");
    const CK_SESSION_HANDLE again = module_->Open();
    EXPECT_EQ(Login(again, kRigPin), CKR_OK);
}

// NSS lists the certificates of a token only when it reports its user PIN
// initialised: after C_InitToken and C_InitPIN, certutil finds a certificate
// stored on the token.
TEST_F(Pkcs11DeviceAnswersE2E, NssListsACertificateOnTheToken)
{
    std::string out;
    if (RunShell("command -v certutil && command -v modutil && command -v pkcs11-tool && command -v openssl", &out) !=
        0)
        GTEST_SKIP() << "NSS tools, pkcs11-tool or openssl missing (scripts/install-deps)";
    KeyRig rig({RigKey(610006, 18, kRigPin)});
    module_->InitializeToken("nss-token");
    const std::string userPin = "4321";
    {
        const CK_SESSION_HANDLE so = module_->Open();
        ASSERT_EQ(f_->C_Login(so, CKU_SO, U(kRigPin), kRigPin.size()), CKR_OK);
        ASSERT_EQ(f_->C_InitPIN(so, U(userPin), userPin.size()), CKR_OK);
        ASSERT_EQ(f_->C_CloseSession(so), CKR_OK);
    }
    Unload();

    const std::string dir = "/tmp/qvk-nss-" + std::to_string(getpid());
    const std::string tool = std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE;
    ASSERT_EQ(RunShell("rm -rf " + dir + " && mkdir -p " + dir + "/db" +
                           " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 30"
                           " -subj '/O=Rig/CN=NSS holder' -keyout " +
                           dir + "/key.pem -outform DER -out " + dir + "/cert.der" + " && " + tool + " --login --pin " +
                           userPin + " --write-object " + dir + "/cert.der --type cert --label nss-cert --id 0C0D",
                       &out),
              0)
        << out;
    ASSERT_EQ(RunShell("echo " + userPin + " > " + dir + "/pin && certutil -N -d sql:" + dir +
                           "/db --empty-password && modutil -force -add qvk7q -libfile " + QVK_PKCS11_MODULE +
                           " -dbdir sql:" + dir + "/db",
                       &out),
              0)
        << out;
    EXPECT_EQ(RunShell("certutil -L -d sql:" + dir + "/db -h nss-token -f " + dir + "/pin", &out), 0) << out;
    EXPECT_NE(out.find("nss-token:nss-cert"), std::string::npos) << out;
    RunShell("rm -rf " + dir, &out);
}

}  // namespace
}  // namespace qvk::e2e
