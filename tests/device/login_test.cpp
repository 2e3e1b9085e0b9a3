// Password derivation and the two login schemes with the upgrade of new keys.
#include <algorithm>
#include <cstring>
#include <string>

#include "DeviceTestSupport.h"
#include "crypto/DSTU7564.h"
#include "crypto/GOST34311.h"
#include "keyemu/KeyCrypto.h"
#include "support/CSPParameters.h"

namespace devtest {
namespace {

// Reference iteration from the hash modules directly.
void Reference7564(const std::string& password, uint8_t v[32], uint8_t p[32])
{
    DSTU7564Context* c = DSTU7564CreateContext();
    const uint32_t bits = 256;
    auto hash = [&](const uint8_t* data, size_t n, uint8_t* out) {
        ASSERT_TRUE(DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS));
        ASSERT_TRUE(DSTU7564UpdateHash(data, static_cast<uint32_t>(n * 8), 0, c));
        ASSERT_TRUE(DSTU7564FinishHash(c));
        ASSERT_TRUE(DSTU7564GetParameter(c, out, DSTU7564_HASH));
    };
    hash(reinterpret_cast<const uint8_t*>(password.data()), password.size(), v);
    for (int i = 1; i < 10000; ++i) hash(v, 32, v);
    hash(v, 32, p);
    DSTU7564FreeContext(c);
}

// `emptyUpdate`: hash the first value with one update of length 0 (as the
// device layer does for any password) or with none.
void Reference34311(const std::string& password, bool emptyUpdate, uint8_t v[32], uint8_t p[32])
{
    CSPParameters parameters;
    GOST28147PackedSBox sbox;
    ASSERT_EQ(parameters.GetStandardSBox(0, &sbox), 1);
    auto hash = [&](const uint8_t* data, size_t n, bool update, uint8_t* out) {
        GOST34311Context c{};
        ASSERT_TRUE(GOST34311SetParameter(&c, &sbox, GOST34311_SBOX));
        ASSERT_TRUE(GOST34311SetParameter(&c, nullptr, GOST34311_START_VECTOR));
        if (update) {
            ASSERT_TRUE(GOST34311UpdateHash(data, static_cast<uint32_t>(n), &c));
        }
        ASSERT_TRUE(GOST34311FinishHash(0, &c));
        ASSERT_TRUE(GOST34311GetParameter(&c, out, GOST34311_HASH));
    };
    hash(reinterpret_cast<const uint8_t*>(password.data()), password.size(), !password.empty() || emptyUpdate, v);
    for (int i = 1; i < 10000; ++i) hash(v, 32, true, v);
    hash(v, 32, true, p);
}

TEST(PasswordDerivation, NewSchemeIsTenThousandDstu7564Hashings)
{
    for (const std::string& password : {std::string("1234"), std::string(""), std::string(64, 'x')}) {
        uint8_t v[32], p[32], refV[32], refP[32], model[32];
        ASSERT_EQ(DerivePasswordKeyNew(password.c_str(), v, p), 0u);
        Reference7564(password, refV, refP);
        EXPECT_EQ(std::memcmp(v, refV, 32), 0) << password;
        EXPECT_EQ(std::memcmp(p, refP, 32), 0) << password;
        ASSERT_TRUE(keyemu::kc::LoginValueNew(password, model));
        EXPECT_EQ(std::memcmp(v, model, 32), 0) << "the emulated key derives the same value";
    }
}

TEST(PasswordDerivation, OldSchemeIsTenThousandGost34311Hashings)
{
    for (const std::string& password : {std::string("1234"), std::string("\xCF\xE0\xF0\xEE\xEB\xFC")}) {
        uint8_t v[32], p[32], refV[32], refP[32], model[32];
        DerivePasswordKeyOld(password.c_str(), v, p);
        Reference34311(password, true, refV, refP);
        EXPECT_EQ(std::memcmp(v, refV, 32), 0);
        EXPECT_EQ(std::memcmp(p, refP, 32), 0);
        ASSERT_TRUE(keyemu::kc::LoginValueOld(password, model));
        EXPECT_EQ(std::memcmp(v, model, 32), 0);
    }
}

TEST(PasswordDerivation, EmptyPasswordInTheOldSchemeTakesOneEmptyUpdate)
{
    uint8_t v[32], p[32], withUpdate[32], withoutUpdate[32], scratch[32];
    DerivePasswordKeyOld("", v, p);
    Reference34311("", true, withUpdate, scratch);
    Reference34311("", false, withoutUpdate, scratch);
    EXPECT_EQ(std::memcmp(v, withUpdate, 32), 0);
    EXPECT_NE(std::memcmp(v, withoutUpdate, 32), 0) << "not the standard's empty-message hash";
}

class LoginTest : public DeviceTest {};

// Login commands (and their block sizes) per key version and capability.
TEST_F(LoginTest, VersionMatrix)
{
    struct Case {
        uint8_t version;
        uint32_t capability;
        std::vector<int> loginCommands;  // 1, 20, 101, 131 in the order the key saw them
        size_t lastLoginSize;
    };
    const Case cases[] = {
        {7, 0, {1}, 64},        {9, 0, {1}, 64}, {11, 0, {1}, 64}, {17, 0, {1}, 64}, {18, 0, {1, 101, 20, 131}, 76},
        {18, 0x200, {131}, 76},
    };
    uint32_t serial = 200;
    for (const Case& k : cases) {
        ++serial;
        const std::string reader = AddKey(serial, k.version, k.capability, "pw");
        Context c = Open(serial);
        ASSERT_TRUE(c) << int(k.version);
        pd::ClearCommandLog(reader);
        pcsctap::Reset();
        ASSERT_EQ(AuthenticateDevice(c.get(), "pw"), 0u) << int(k.version);
        std::vector<int> login;
        for (int cmd : KeyCommands(reader))
            if (cmd == 1 || cmd == 20 || cmd == 101 || cmd == 131) login.push_back(cmd);
        EXPECT_EQ(login, k.loginCommands) << int(k.version) << "/" << k.capability;
        size_t lastLoginSize = 0;
        for (const auto& a : pcsctap::Apdus())
            if (a[5] == 1 || a[5] == 131) lastLoginSize = a.size() - 5;
        EXPECT_EQ(lastLoginSize, k.lastLoginSize);
        EXPECT_EQ(c->loggedIn, 1);
        if (k.version >= 18) {
            EXPECT_NE(c->capabilities & 0x200, 0u) << "the key now has the new scheme";
        }
        // The session works: a protected command is accepted.
        uint8_t random[4];
        EXPECT_EQ(GetDeviceRandom(c.get(), random, 4), 0u);
        EXPECT_EQ(LogoutDevice(c.get()), 0u);
    }
}

TEST_F(LoginTest, WrongPasswordIs23AndKeepsTheContextLoggedOut)
{
    AddKey(210, 18, 0x200, "right");
    Context c = Open(210);
    ASSERT_TRUE(c);
    EXPECT_EQ(AuthenticateDevice(c.get(), "wrong"), 23u);
    EXPECT_EQ(c->loggedIn, 0);
    EXPECT_EQ(Record(210)->sessionUsers, 0);
}

TEST_F(LoginTest, PasswordsLongerThan64BytesAreRefusedBeforeAnyExchange)
{
    AddKey(211, 18, 0x200, std::string(64, 'a'));
    Context c = Open(211);
    ASSERT_TRUE(c);
    const std::string tooLong(65, 'a');
    pcsctap::Reset();
    EXPECT_EQ(AuthenticateDevice(c.get(), tooLong.c_str()), 8u);
    EXPECT_EQ(LoginWithPassword(c.get(), tooLong.c_str()), 8u);
    EXPECT_EQ(FormatDevice(c.get(), tooLong.c_str()), 8u);
    EXPECT_EQ(ChangeDevicePassword(c.get(), tooLong.c_str()), 8u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    // Exactly 64 bytes is fine, and survives the round trip through the context.
    ASSERT_EQ(AuthenticateDevice(c.get(), std::string(64, 'a').c_str()), 0u);
    pd::ResetCard(pd::Readers()[0]);
    uint8_t r[1];
    const uint32_t failed = GetDeviceRandom(c.get(), r, 1);
    ASSERT_NE(failed, 0u);
    EXPECT_EQ(RecoverFromError(c.get(), failed), 0u) << "re-login with the kept 64-byte password";
    EXPECT_EQ(GetDeviceRandom(c.get(), r, 1), 0u);
}

TEST_F(LoginTest, AlreadyAuthenticatedIsRetriedOnceAfterALogout)
{
    const std::string reader = AddKey(212, 18, 0x200, "pw");
    Context c = Open(212);
    ASSERT_TRUE(c);
    // Once: the logout clears the way and the second login succeeds.
    pcsctap::ForceStatus(KEYCMD_LOGIN_NEW, 22, 1);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(LoginWithUpgrade(c.get(), "pw", 1), 0u);
    EXPECT_EQ(KeyCommands(reader), (std::vector<int>{13, 131, 20, 13, 131}));
    ASSERT_EQ(SendLogout(c.get()), 0u);
    // A key that keeps answering 22 gets one logout, then the 22 is returned.
    pcsctap::ForceStatus(KEYCMD_LOGIN_NEW, 22, 100);
    pd::ClearCommandLog(reader);
    EXPECT_EQ(LoginWithUpgrade(c.get(), "pw", 1), 22u);
    EXPECT_EQ(Count(KeyCommands(reader), 20), 1);
    EXPECT_EQ(Count(KeyCommands(reader), 131), 2);
    // Without the flag the 22 goes straight back.
    pd::ClearCommandLog(reader);
    EXPECT_EQ(LoginWithUpgrade(c.get(), "pw", 0), 22u);
    EXPECT_EQ(Count(KeyCommands(reader), 20), 0);
}

// A key that still reports the old scheme after the password change gets
// the change once; the session of the old scheme is kept, not another round.
TEST_F(LoginTest, UpgradeIsTriedOnce)
{
    const std::string reader = AddKey(214, 18, 0, "pw");
    Context c = Open(214);
    ASSERT_TRUE(c);
    int infoAnswers = 0;
    pcsctap::SetAnswerHook([&](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer) {
        // Capability word at data byte 8 (answer byte 11): hide 0x200, for a
        // while only, so that an endless repetition shows as extra changes.
        if (apdu[5] == KEYCMD_GET_DEVICE_INFO && ++infoAnswers <= 20) answer[12] &= ~0x02;
    });
    pd::ClearCommandLog(reader);
    EXPECT_EQ(LoginWithUpgrade(c.get(), "pw", 1), 0u);
    pcsctap::SetAnswerHook(nullptr);
    EXPECT_EQ(KeyCommands(reader), (std::vector<int>{13, 1, 101, 20, 13, 1}));
    EXPECT_EQ(c->loggedIn, 1);
}

// The requests that carry login values, checked against values derived from
// the hash modules directly: the login (under the packet key), the password
// change (under the session key) and the format (unprotected).
TEST_F(LoginTest, RequestsCarryTheLoginValuesOfTheScheme)
{
    const std::string password = "pw";
    uint8_t newV[32], newP[32], oldV[32], oldP[32];
    Reference7564(password, newV, newP);
    Reference34311(password, true, oldV, oldP);
    const uint8_t zeros[32] = {};
    struct Case {
        uint8_t version;
        uint32_t capability;
    };
    uint32_t serial = 230;
    for (const Case k : {Case{17, 0}, Case{18, 0}, Case{18, 0x200}}) {
        SCOPED_TRACE(std::to_string(k.version) + "/" + std::to_string(k.capability));
        AddKey(++serial, k.version, k.capability, password);
        Context c = Open(serial);
        ASSERT_TRUE(c);
        const bool newKey = k.version >= 18;
        const bool newScheme = newKey && k.capability != 0;
        const uint32_t size = newScheme ? 76 : 64;
        // The one request of `command` sent since the tap was reset, as a block.
        auto sent = [&](int command, uint32_t blockSize) {
            DeviceBlock b{};
            const auto apdus = pcsctap::Apdus();
            int found = 0;
            for (const auto& a : apdus) {
                if (a[5] != command) continue;
                ++found;
                EXPECT_EQ(a.size(), blockSize + 5) << command;
                b.direction = 1;
                std::memcpy(b.bytes() + 1, a.data() + 5, std::min<size_t>(a.size() - 6, blockSize - 1));
            }
            EXPECT_EQ(found, 1) << command;
            return b;
        };

        pcsctap::Reset();
        ASSERT_EQ(LoginWithPassword(c.get(), password.c_str()), 0u);
        DeviceBlock login = sent(newScheme ? KEYCMD_LOGIN_NEW : KEYCMD_LOGIN, size);
        EXPECT_EQ(login.protection, KEYPROT_MAC_ENCRYPT);
        EXPECT_EQ(login.parameter, 0);
        ASSERT_EQ(newScheme ? VerifyBlockNew(&login, newP) : VerifyBlockOld(&login, oldP), 0u) << "under P";
        EXPECT_EQ(std::memcmp(login.data, newScheme ? newV : oldV, 32), 0);
        EXPECT_EQ(std::memcmp(login.data + 32, zeros, size == 76 ? 32 : 24), 0);

        pcsctap::Reset();
        ASSERT_EQ(ChangeDevicePassword(c.get(), password.c_str()), 0u);
        DeviceBlock change = sent(newKey ? KEYCMD_CHANGE_PASSWORD_NEW : KEYCMD_CHANGE_PASSWORD, size);
        EXPECT_EQ(change.protection, KEYPROT_MAC_ENCRYPT);
        ASSERT_EQ(newScheme ? VerifyBlockNew(&change, c->sessionKey) : VerifyBlockOld(&change, c->sessionKey), 0u);
        EXPECT_EQ(std::memcmp(change.data, newKey ? newV : oldV, 32), 0);
        EXPECT_EQ(std::memcmp(change.data + 32, newScheme ? oldV : zeros, size == 76 ? 32 : 24), 0);

        pcsctap::Reset();
        ASSERT_EQ(FormatDevice(c.get(), password.c_str()), 0u);
        const uint32_t formatSize = newKey ? 76 : 64;
        DeviceBlock format = sent(newKey ? KEYCMD_FORMAT_NEW : KEYCMD_FORMAT, formatSize);
        EXPECT_EQ(format.protection, KEYPROT_NONE);
        EXPECT_EQ(format.parameter, 0);
        EXPECT_EQ(std::memcmp(format.data, newKey ? newV : oldV, 32), 0);
        EXPECT_EQ(std::memcmp(format.data + 32, newKey ? oldV : zeros, newKey ? 32 : 24), 0);
    }
}

TEST_F(LoginTest, LogoutWipesTheSessionKey)
{
    AddKey(213, 17, 0, "pw");
    Context c = Open(213);
    ASSERT_TRUE(c);
    ASSERT_EQ(LoginWithPassword(c.get(), "pw"), 0u);
    const uint8_t zero[32] = {};
    EXPECT_NE(std::memcmp(c->sessionKey, zero, 32), 0);
    ASSERT_EQ(SendLogout(c.get()), 0u);
    EXPECT_EQ(std::memcmp(c->sessionKey, zero, 32), 0);
    EXPECT_EQ(c->loggedIn, 0);
}

}  // namespace
}  // namespace devtest
