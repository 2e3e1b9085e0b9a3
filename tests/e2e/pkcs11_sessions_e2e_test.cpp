// Sessions, logins and handles through the built module, loaded with dlopen
// as an application loads it, on an emulated key behind a real pcscd: one
// login per session and user, keys that demand a context-specific login,
// session-object handles that name one object in every session, and slot,
// session and object handles outside the module's range.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

const std::string& kPin = kRigPin;
CK_BBOOL yes = CK_TRUE;
CK_BBOOL no = CK_FALSE;
constexpr CK_ULONG kAbove32Bits = 0x100000000UL;

class Pkcs11SessionsE2E : public ModuleTest {
protected:
    Pkcs11SessionsE2E() : ModuleTest("qvkp11ses") {}

    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) { return module_->Open(flags); }

    CK_RV CreateData(CK_SESSION_HANDLE s, CK_BBOOL* token, CK_BBOOL* isPrivate, const std::string& label,
                     CK_OBJECT_HANDLE* handle)
    {
        return module_->CreateData(s, token, isPrivate, label, handle);
    }

    // The label, or the call's error in its place.
    std::string Label(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h)
    {
        char buffer[64];
        CK_ATTRIBUTE a{CKA_LABEL, buffer, sizeof(buffer)};
        const CK_RV rv = f_->C_GetAttributeValue(s, h, &a, 1);
        if (rv != CKR_OK) return "rv " + std::to_string(rv);
        return std::string(buffer, a.ulValueLen);
    }

    CK_STATE State(CK_SESSION_HANDLE h)
    {
        CK_SESSION_INFO info{};
        EXPECT_EQ(f_->C_GetSessionInfo(h, &info), CKR_OK);
        return info.state;
    }

    CK_RV Login(CK_SESSION_HANDLE h, CK_USER_TYPE user, const std::string& pin)
    {
        return f_->C_Login(h, user, U(pin), pin.size());
    }
};

TEST_F(Pkcs11SessionsE2E, ASecondLoginIsRefusedAndOneLogoutMakesTheSessionPublic)
{
    KeyRig rig({RigKey(601, 18, kPin)});
    module_->InitializeToken("logins");
    const CK_SESSION_HANDLE rw = Open();
    ASSERT_EQ(Login(rw, CKU_USER, kPin), CKR_OK);
    CK_OBJECT_HANDLE secret = 0;
    ASSERT_EQ(CreateData(rw, &no, &yes, "private", &secret), CKR_OK);
    // Refused whatever the PIN: it is not looked at.
    EXPECT_EQ(Login(rw, CKU_USER, kPin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(rw, CKU_USER, "wrong-pin"), CKR_USER_ALREADY_LOGGED_IN);

    ASSERT_EQ(f_->C_Logout(rw), CKR_OK);
    EXPECT_EQ(State(rw), CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(Label(rw, secret), "rv " + std::to_string(CKR_USER_NOT_LOGGED_IN));
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(CreateData(rw, &no, &yes, "after logout", &h), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(f_->C_Logout(rw), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(rw, CKU_USER, kPin), CKR_OK);
    EXPECT_EQ(Label(rw, secret), "private");
    ASSERT_EQ(f_->C_CloseSession(rw), CKR_OK);

    const CK_SESSION_HANDLE so = Open();
    ASSERT_EQ(Login(so, CKU_SO, kPin), CKR_OK);
    EXPECT_EQ(Login(so, CKU_SO, kPin), CKR_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(Login(so, CKU_USER, kPin), CKR_USER_ANOTHER_ALREADY_LOGGED_IN);
    ASSERT_EQ(f_->C_Logout(so), CKR_OK);
    EXPECT_EQ(State(so), CKS_RW_PUBLIC_SESSION);
}

TEST_F(Pkcs11SessionsE2E, ASessionObjectsHandleNamesItInEverySession)
{
    KeyRig rig({RigKey(602, 18, kPin)});
    module_->InitializeToken("handles");
    const CK_SESSION_HANDLE a = Open();
    const CK_SESSION_HANDLE b = Open();
    CK_OBJECT_HANDLE inA = 0, inB = 0, secretInA = 0, h = 0;
    ASSERT_EQ(CreateData(a, &no, &no, "made in a", &inA), CKR_OK);
    ASSERT_EQ(CreateData(b, &no, &no, "made in b", &inB), CKR_OK);
    EXPECT_NE(inA, inB) << "the first object of each session";
    EXPECT_EQ(Label(b, inA), "made in a");
    EXPECT_EQ(Label(a, inB), "made in b");
    CK_ATTRIBUTE rename{CKA_LABEL, (void*)"renamed in b", 12};
    ASSERT_EQ(f_->C_SetAttributeValue(b, inA, &rename, 1), CKR_OK);
    EXPECT_EQ(Label(a, inA), "renamed in b");

    // Destroying through the other session destroys the object named, and
    // only that one.
    ASSERT_EQ(f_->C_DestroyObject(b, inA), CKR_OK);
    EXPECT_EQ(f_->C_DestroyObject(a, inA), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(Label(b, inB), "made in b");
    ASSERT_EQ(CreateData(a, &no, &no, "again in a", &h), CKR_OK);
    EXPECT_NE(h, inB);

    // A private object is read under the reading session's own login.
    ASSERT_EQ(Login(a, CKU_USER, kPin), CKR_OK);
    ASSERT_EQ(CreateData(a, &no, &yes, "secret", &secretInA), CKR_OK);
    EXPECT_EQ(Label(b, secretInA), "rv " + std::to_string(CKR_USER_NOT_LOGGED_IN));
    EXPECT_EQ(f_->C_DestroyObject(b, secretInA), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(Login(b, CKU_USER, kPin), CKR_OK);
    EXPECT_EQ(Label(b, secretInA), "secret");

    // The standard objects each session starts with keep the same handles in
    // every session; a closed session's objects go with it.
    EXPECT_EQ(Label(a, 1), Label(b, 1));
    ASSERT_EQ(f_->C_CloseSession(a), CKR_OK);
    EXPECT_EQ(Label(b, h), "rv " + std::to_string(CKR_OBJECT_HANDLE_INVALID));
    EXPECT_EQ(Label(b, inB), "made in b");
}

TEST_F(Pkcs11SessionsE2E, AHandleNamesNoObjectOfAnotherToken)
{
    KeyRig rig({RigKey(607, 18, kPin), RigKey(608, 18, kPin)});
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    const std::vector<CK_SLOT_ID> slots = module_->Slots();
    ASSERT_EQ(slots.size(), 2u);
    CK_SESSION_HANDLE sessions[2] = {};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(module_->InitToken(slots[i], kPin, "token " + std::to_string(i)), CKR_OK);
        ASSERT_EQ(f_->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &sessions[i]),
                  CKR_OK);
    }
    CK_OBJECT_HANDLE h = 0;
    ASSERT_EQ(CreateData(sessions[0], &no, &no, "on the first token", &h), CKR_OK);
    EXPECT_EQ(Label(sessions[1], h), "rv " + std::to_string(CKR_OBJECT_HANDLE_INVALID));
    EXPECT_EQ(f_->C_DestroyObject(sessions[1], h), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(Label(sessions[0], h), "on the first token");
}

// Handles and ids outside what the module gives out, and writes the session
// state does not allow, are refused before anything changes.
TEST_F(Pkcs11SessionsE2E, HandlesOutOfRangeAndWritesNotAllowedAreRefused)
{
    KeyRig rig({RigKey(603, 18, kPin)});
    module_->InitializeToken("refusals");
    const CK_SLOT_ID slot = module_->slot;
    const CK_SESSION_HANDLE user = Open();
    ASSERT_EQ(Login(user, CKU_USER, kPin), CKR_OK);
    CK_OBJECT_HANDLE token = 0, session = 0;
    ASSERT_EQ(CreateData(user, &yes, &no, "token object", &token), CKR_OK);
    ASSERT_EQ(token, 0x10000001u);
    ASSERT_EQ(CreateData(user, &no, &no, "session object", &session), CKR_OK);
    const CK_SESSION_HANDLE ro = Open(CKF_SERIAL_SESSION);
    const CK_SESSION_HANDLE rw = Open();

    CK_SESSION_HANDLE opened = 0;
    CK_SESSION_INFO info;
    CK_TOKEN_INFO tokenInfo;
    char buffer[8] = "renamed";
    CK_ATTRIBUTE label{CKA_LABEL, buffer, 7};
    struct Case {
        const char* name;
        CK_RV got;
        CK_RV expected;
    } cases[] = {
        {"slot above 32 bits", f_->C_OpenSession(slot + kAbove32Bits, CKF_SERIAL_SESSION, nullptr, nullptr, &opened),
         CKR_SLOT_ID_INVALID},
        {"slot never listed", f_->C_OpenSession(100000, CKF_SERIAL_SESSION, nullptr, nullptr, &opened),
         CKR_SLOT_ID_INVALID},
        {"token of a slot above 32 bits", f_->C_GetTokenInfo(slot + kAbove32Bits, &tokenInfo), CKR_SLOT_ID_INVALID},
        // Closes nothing: the sessions of the slot it would be cut to stay.
        {"close all above 32 bits", f_->C_CloseAllSessions(slot + kAbove32Bits), CKR_OK},
        {"session above 32 bits", f_->C_GetSessionInfo(user + kAbove32Bits, &info), CKR_SESSION_HANDLE_INVALID},
        {"token handle above 32 bits", f_->C_GetAttributeValue(user, token + kAbove32Bits, &label, 1),
         CKR_OBJECT_HANDLE_INVALID},
        {"session handle above 32 bits", f_->C_GetAttributeValue(user, session + kAbove32Bits, &label, 1),
         CKR_OBJECT_HANDLE_INVALID},
        {"token handle with bit 8", f_->C_GetAttributeValue(user, 0x10000101, &label, 1), CKR_OBJECT_HANDLE_INVALID},
        {"token handle with bits 8-27", f_->C_GetAttributeValue(user, 0x10005501, &label, 1),
         CKR_OBJECT_HANDLE_INVALID},
        {"token handle with bit 30", f_->C_GetAttributeValue(user, 0x50000001, &label, 1), CKR_OBJECT_HANDLE_INVALID},
        {"destroy through an alias", f_->C_DestroyObject(user, 0x10005501), CKR_OBJECT_HANDLE_INVALID},
        {"destroy above 32 bits", f_->C_DestroyObject(user, token + kAbove32Bits), CKR_OBJECT_HANDLE_INVALID},
        {"change through an alias", f_->C_SetAttributeValue(user, 0x10000101, &label, 1), CKR_OBJECT_HANDLE_INVALID},
        // The standard objects report themselves token objects.
        {"destroy a standard object read-only", f_->C_DestroyObject(ro, 1), CKR_SESSION_READ_ONLY},
        {"change a standard object read-only", f_->C_SetAttributeValue(ro, 2, &label, 1), CKR_SESSION_READ_ONLY},
        {"destroy a token object read-only", f_->C_DestroyObject(ro, token), CKR_SESSION_READ_ONLY},
        // The key writes nothing without a login.
        {"public token object without a login", CreateData(rw, &yes, &no, "refused", &opened), CKR_USER_NOT_LOGGED_IN},
        {"destroy a token object without a login", f_->C_DestroyObject(rw, token), CKR_USER_NOT_LOGGED_IN},
    };
    for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;

    EXPECT_EQ(Label(ro, token), "token object");
    EXPECT_EQ(Label(ro, 1), "EC Params (163 bits)");
    EXPECT_EQ(Label(user, session), "session object");
    CK_SESSION_INFO userInfo{};
    ASSERT_EQ(f_->C_GetSessionInfo(user, &userInfo), CKR_OK);
    EXPECT_EQ(userInfo.slotID, slot);
}

TEST_F(Pkcs11SessionsE2E, SlotIdsNeverListedDoNotUseUpTheSessionPool)
{
    KeyRig rig({RigKey(604, 18, kPin)});
    module_->InitializeToken("pool");
    CK_SESSION_HANDLE h = 0;
    // More than the pool holds.
    for (CK_SLOT_ID i = 0; i < 3100; ++i)
        ASSERT_EQ(f_->C_OpenSession(100000 + i, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_SLOT_ID_INVALID) << i;
    EXPECT_EQ(f_->C_OpenSession(module_->slot, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_OK);
}

TEST_F(Pkcs11SessionsE2E, CertificatesAreTrustedByDefaultOnlyWhenTheSoMakesThem)
{
    KeyRig rig({RigKey(605, 18, kPin)});
    module_->InitializeToken("trust");
    CK_OBJECT_CLASS cert = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cert, sizeof(cert)},
                        {CKA_TOKEN, &no, 1},
                        {CKA_PRIVATE, &no, 1},
                        {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
                        {CKA_SUBJECT, (void*)"s", 1},
                        {CKA_VALUE, (void*)"v", 1}};
    struct Case {
        const char* name;
        bool login;
        CK_USER_TYPE user;
        CK_BBOOL trusted;
    } cases[] = {{"public session", false, CKU_USER, CK_FALSE},
                 {"user", true, CKU_USER, CK_FALSE},
                 {"security officer", true, CKU_SO, CK_TRUE}};
    for (const Case& c : cases) {
        const CK_SESSION_HANDLE s = Open();
        if (c.login) {
            ASSERT_EQ(Login(s, c.user, kPin), CKR_OK) << c.name;
        }
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(f_->C_CreateObject(s, t, 6, &h), CKR_OK) << c.name;
        CK_BBOOL trusted = 0xAA;
        CK_ATTRIBUTE read{CKA_TRUSTED, &trusted, 1};
        ASSERT_EQ(f_->C_GetAttributeValue(s, h, &read, 1), CKR_OK) << c.name;
        EXPECT_EQ(trusted, c.trusted) << c.name;
        ASSERT_EQ(f_->C_CloseSession(s), CKR_OK);
    }
}

TEST_F(Pkcs11SessionsE2E, AKeyThatAlwaysAuthenticatesSignsOnceAfterAContextLogin)
{
    KeyRig rig({RigKey(606, 18, kPin)});
    module_->InitializeToken("context");
    const CK_SESSION_HANDLE h = module_->LoggedIn();
    const std::vector<CK_BYTE> params = module_->FirstCurveParams(h);
    CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &yes, 1},
                                     {CKA_VERIFY, &yes, 1},
                                     {CKA_EC_PARAMS, const_cast<CK_BYTE*>(params.data()), params.size()}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SIGN, &yes, 1}, {CKA_ALWAYS_AUTHENTICATE, &yes, 1}};
    CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    ASSERT_EQ(f_->C_GenerateKeyPair(h, &generate, publicTemplate, 3, privateTemplate, 4, &pub, &priv), CKR_OK);

    std::vector<CK_BYTE> digest(32, 0x5A);
    CK_MECHANISM sign{CKM_DSTU4145, nullptr, 0};
    std::vector<CK_BYTE> signature(152);
    CK_ULONG length = signature.size();
    EXPECT_EQ(Login(h, CKU_CONTEXT_SPECIFIC, kPin), CKR_OPERATION_NOT_INITIALIZED);
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(f_->C_SignInit(h, &sign, priv), CKR_OK) << round;
        length = signature.size();
        EXPECT_EQ(f_->C_Sign(h, digest.data(), digest.size(), signature.data(), &length), CKR_USER_NOT_LOGGED_IN)
            << round;
        EXPECT_EQ(Login(h, CKU_CONTEXT_SPECIFIC, "wrong-pin"), CKR_PIN_INCORRECT) << round;
        length = signature.size();
        EXPECT_EQ(f_->C_Sign(h, digest.data(), digest.size(), signature.data(), &length), CKR_USER_NOT_LOGGED_IN)
            << round;
        ASSERT_EQ(Login(h, CKU_CONTEXT_SPECIFIC, kPin), CKR_OK) << round;
        length = signature.size();
        ASSERT_EQ(f_->C_Sign(h, digest.data(), digest.size(), signature.data(), &length), CKR_OK) << round;
        signature.resize(length);
        EXPECT_EQ(module_->Verify(h, CKM_DSTU4145, pub, digest, signature), CKR_OK) << round;
        signature.resize(152);
        length = signature.size();
        EXPECT_EQ(f_->C_Sign(h, digest.data(), digest.size(), signature.data(), &length), CKR_OPERATION_NOT_INITIALIZED)
            << "one signature per login, round " << round;
    }
    EXPECT_EQ(State(h), CKS_RW_USER_FUNCTIONS) << "the session's own login stays";
}

}  // namespace
}  // namespace qvk::e2e
