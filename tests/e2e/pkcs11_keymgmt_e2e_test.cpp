// The built module, loaded with dlopen, against two emulated keys behind a
// real pcscd: each key makes a pair, each derives the agreed key from the
// other's public key, a secret key wrapped on one is unwrapped on the other
// with the same value; refusals of bad arguments leave nothing behind; a key
// pair that could not be stored never replaces the key's pair.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KeyCommandLog.h"
#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<CK_BYTE>;
const std::string& kPin = kRigPin;

Bytes Counting(std::size_t n, CK_BYTE seed = 3)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<CK_BYTE>(7 * i + seed);
    return out;
}

// One logged-in session on a key, its pair and the other key's public point.
struct Side {
    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE session = 0;
    CK_OBJECT_HANDLE publicKey = 0;
    CK_OBJECT_HANDLE privateKey = 0;
    Bytes point;  // CKA_EC_POINT of the public key
};

class Pkcs11KeyManagementE2E : public ModuleTest {
protected:
    Pkcs11KeyManagementE2E() : ModuleTest("qvkp11km") {}

    // Initialises and logs in on every key of the rig.
    std::vector<Side> Open(std::size_t keys)
    {
        EXPECT_EQ(f_->C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 0;
        EXPECT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        EXPECT_EQ(count, keys);
        std::vector<CK_SLOT_ID> slots(count);
        EXPECT_EQ(f_->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
        std::vector<Side> sides(count);
        std::string label(32, ' ');
        for (CK_ULONG i = 0; i < count; ++i) {
            sides[i].slot = slots[i];
            EXPECT_EQ(f_->C_InitToken(slots[i], U(kPin), kPin.size(), U(label)), CKR_OK);
            EXPECT_EQ(
                f_->C_OpenSession(slots[i], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &sides[i].session),
                CKR_OK);
            EXPECT_EQ(f_->C_Login(sides[i].session, CKU_USER, U(kPin), kPin.size()), CKR_OK);
        }
        return sides;
    }
    Bytes Read(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_RV* result = nullptr)
    {
        CK_ATTRIBUTE a{type, nullptr, 0};
        CK_RV rv = f_->C_GetAttributeValue(h, object, &a, 1);
        if (result != nullptr) *result = rv;
        if (rv != CKR_OK) return {};
        Bytes out(a.ulValueLen);
        a.pValue = out.data();
        EXPECT_EQ(f_->C_GetAttributeValue(h, object, &a, 1), CKR_OK);
        return out;
    }
    // A key-agreement pair on the 163-bit standard curve (the session's first
    // domain parameter object, or the curve object given); `sign` makes a
    // signing pair instead.
    CK_RV Generate(Side* side, bool sign = false, CK_OBJECT_HANDLE curve = 1)
    {
        const Bytes params = Read(side->session, curve, CKA_EC_PARAMS);
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &yes, 1},
                                         {CKA_EC_PARAMS, const_cast<CK_BYTE*>(params.data()), params.size()},
                                         {sign ? CKA_VERIFY : CKA_DERIVE, &yes, 1}};
        CK_ATTRIBUTE privateTemplate[] = {
            {CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {sign ? CKA_SIGN : CKA_DERIVE, &yes, 1}};
        CK_MECHANISM m{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        CK_RV rv = f_->C_GenerateKeyPair(side->session, &m, publicTemplate, 3, privateTemplate, 3, &side->publicKey,
                                         &side->privateKey);
        if (rv == CKR_OK) side->point = Read(side->session, side->publicKey, CKA_EC_POINT);
        return rv;
    }
    CK_RV Derive(const Side& side, CK_MECHANISM_TYPE type, CK_ULONG kdf, const Bytes& peerPoint, const Bytes& ukm,
                 CK_OBJECT_HANDLE* key)
    {
        CK_DSTU4145_DERIVE_PARAMS p{kdf, ukm.size(), const_cast<CK_BYTE*>(ukm.data()), peerPoint.size(),
                                    const_cast<CK_BYTE*>(peerPoint.data())};
        CK_MECHANISM m{type, &p, sizeof(p)};
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_WRAP, &yes, 1}, {CKA_UNWRAP, &yes, 1}};
        return f_->C_DeriveKey(side.session, &m, side.privateKey, t, 2, key);
    }
    // A session secret key of the type holding `value`, as the derived
    // keys' wrap template wants it; wrappable unless `extractable` is false.
    CK_OBJECT_HANDLE Secret(CK_SESSION_HANDLE h, CK_KEY_TYPE keyType, const Bytes& value, bool extractable = true)
    {
        CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
        CK_BBOOL no = CK_FALSE, yes = CK_TRUE;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &secret, sizeof(secret)},
                            {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                            {CKA_TOKEN, &no, 1},
                            {CKA_PRIVATE, &yes, 1},
                            {CKA_VALUE, const_cast<CK_BYTE*>(value.data()), value.size()},
                            {CKA_EXTRACTABLE, extractable ? &yes : &no, 1}};
        CK_OBJECT_HANDLE out = 0;
        EXPECT_EQ(f_->C_CreateObject(h, t, 6, &out), CKR_OK);
        return out;
    }
    CK_ULONG CountSecretKeys(CK_SESSION_HANDLE h)
    {
        CK_OBJECT_CLASS secret = CKO_SECRET_KEY;
        CK_ATTRIBUTE pattern{CKA_CLASS, &secret, sizeof(secret)};
        EXPECT_EQ(f_->C_FindObjectsInit(h, &pattern, 1), CKR_OK);
        CK_OBJECT_HANDLE found[64];
        CK_ULONG count = 0;
        EXPECT_EQ(f_->C_FindObjects(h, found, 64, &count), CKR_OK);
        EXPECT_EQ(f_->C_FindObjectsFinal(h), CKR_OK);
        return count;
    }
};

CK_ULONG Integer(const Bytes& b)
{
    CK_ULONG v = 0;
    if (b.size() == sizeof(v)) std::memcpy(&v, b.data(), sizeof(v));
    return v;
}

TEST_F(Pkcs11KeyManagementE2E, KeysWrappedOnOneKeyUnwrapOnTheOtherWithTheSameValue)
{
    KeyRig rig({RigKey(621, 18, kPin), RigKey(622, 18, kPin)});
    std::vector<Side> s = Open(2);
    ASSERT_EQ(s.size(), 2u);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    ASSERT_EQ(Generate(&s[1]), CKR_OK);
    ASSERT_FALSE(s[0].point.empty());
    ASSERT_NE(s[0].point, s[1].point);

    struct Case {
        CK_MECHANISM_TYPE derive;
        CK_ULONG kdf;
        CK_KEY_TYPE keyType;
        CK_MECHANISM_TYPE wrap;
        CK_ULONG wrappedLength;
    };
    const Case cases[] = {
        {CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, CKK_GOST28147, CKM_GOST28147_KEY_WRAP, 44},
        {CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_GOST28147, CKK_GOST28147, CKM_GOST28147_KEY_WRAP, 44},
        {CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_DSTU7624, CKK_DSTU7624, CKM_DSTU7624_KEY_WRAP, 96},
    };
    const Bytes ukm = Counting(8, 0x51);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.derive) + " " + std::to_string(c.kdf));
        CK_OBJECT_HANDLE agreedA = 0, agreedB = 0;
        ASSERT_EQ(Derive(s[0], c.derive, c.kdf, s[1].point, ukm, &agreedA), CKR_OK);
        ASSERT_EQ(Derive(s[1], c.derive, c.kdf, s[0].point, ukm, &agreedB), CKR_OK);
        EXPECT_EQ(Integer(Read(s[0].session, agreedA, CKA_KEY_TYPE)), c.keyType);
        EXPECT_EQ(Integer(Read(s[0].session, agreedA, CKA_KEY_GEN_MECHANISM)), c.derive);
        EXPECT_EQ(Integer(Read(s[0].session, agreedA, CKA_ALLOWED_MECHANISMS)), c.wrap);
        // The old agreement carries its S-box; the new one none.
        CK_RV infoRead = CKR_OK;
        const Bytes info = Read(s[0].session, agreedA, CKA_VENDOR_KEY_INFO, &infoRead);
        EXPECT_EQ(info.empty(), c.kdf == CKD_DSTU4145_DSTU7624) << infoRead;

        const Bytes value = Counting(32, static_cast<CK_BYTE>(c.wrappedLength + c.derive));
        const CK_OBJECT_HANDLE secret = Secret(s[0].session, c.keyType, value);
        CK_MECHANISM wrap{c.wrap, nullptr, 0};
        CK_ULONG length = 0;
        ASSERT_EQ(f_->C_WrapKey(s[0].session, &wrap, agreedA, secret, nullptr, &length), CKR_OK);
        ASSERT_EQ(length, c.wrappedLength);
        Bytes wrapped(length);
        CK_ULONG shorter = length - 1;
        EXPECT_EQ(f_->C_WrapKey(s[0].session, &wrap, agreedA, secret, wrapped.data(), &shorter), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(shorter, c.wrappedLength) << "the length needed";
        ASSERT_EQ(f_->C_WrapKey(s[0].session, &wrap, agreedA, secret, wrapped.data(), &length), CKR_OK);
        ASSERT_EQ(length, c.wrappedLength);

        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_ATTRIBUTE t[] = {{CKA_EXTRACTABLE, &yes, 1}, {CKA_SENSITIVE, &no, 1}};
        CK_OBJECT_HANDLE unwrapped = 0;
        ASSERT_EQ(f_->C_UnwrapKey(s[1].session, &wrap, agreedB, wrapped.data(), length, t, 2, &unwrapped), CKR_OK);
        EXPECT_EQ(Read(s[1].session, unwrapped, CKA_VALUE), value);
        // The unwrapping key's template gave the new key its type.
        EXPECT_EQ(Integer(Read(s[1].session, unwrapped, CKA_KEY_TYPE)), c.keyType);

        // Bytes that are not a key wrapped under this agreement (one byte
        // changed, or wrapped under another UKM) are refused by the key's
        // unwrap as such, and leave no key.
        const CK_ULONG keys = CountSecretKeys(s[1].session);
        wrapped[length / 2] ^= 0x01;
        CK_OBJECT_HANDLE changed = 0;
        EXPECT_EQ(f_->C_UnwrapKey(s[1].session, &wrap, agreedB, wrapped.data(), length, t, 2, &changed),
                  CKR_WRAPPED_KEY_INVALID);
        CK_OBJECT_HANDLE otherB = 0;
        ASSERT_EQ(Derive(s[1], c.derive, c.kdf, s[0].point, Counting(8, 0x52), &otherB), CKR_OK);
        wrapped[length / 2] ^= 0x01;
        CK_OBJECT_HANDLE mismatched = 0;
        EXPECT_EQ(f_->C_UnwrapKey(s[1].session, &wrap, otherB, wrapped.data(), length, t, 2, &mismatched),
                  CKR_WRAPPED_KEY_INVALID);
        EXPECT_EQ(CountSecretKeys(s[1].session), keys + 1) << "only the new derivation";
    }
}

TEST_F(Pkcs11KeyManagementE2E, DerivedKeysCarryTheirDefaultTemplates)
{
    KeyRig rig({RigKey(623, 18, kPin)});
    std::vector<Side> s = Open(1);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    CK_DSTU4145_DERIVE_PARAMS p{CKD_DSTU4145_GOST28147, 0, nullptr, s[0].point.size(), s[0].point.data()};
    CK_MECHANISM m{CKM_DSTU4145_DERIVE, &p, sizeof(p)};
    CK_OBJECT_HANDLE key = 0;
    ASSERT_EQ(f_->C_DeriveKey(s[0].session, &m, s[0].privateKey, nullptr, 0, &key), CKR_OK) << "an empty template";
    EXPECT_EQ(Integer(Read(s[0].session, key, CKA_ALLOWED_MECHANISMS)), CKM_GOST28147_KEY_WRAP);
    EXPECT_EQ(Integer(Read(s[0].session, key, CKA_KEY_GEN_MECHANISM)), CKM_DSTU4145_DERIVE);

    CK_ATTRIBUTE nested{CKA_UNWRAP_TEMPLATE, nullptr, 0};
    ASSERT_EQ(f_->C_GetAttributeValue(s[0].session, key, &nested, 1), CKR_OK);
    ASSERT_EQ(nested.ulValueLen, 6 * sizeof(CK_ATTRIBUTE));
    // The caller names the nested types; lengths first, then values.
    const CK_ATTRIBUTE_TYPE types[] = {
        CKA_CLASS, CKA_TOKEN, CKA_PRIVATE, CKA_KEY_TYPE, CKA_KEY_GEN_MECHANISM, CKA_ALLOWED_MECHANISMS};
    std::vector<CK_ATTRIBUTE> entries;
    for (CK_ATTRIBUTE_TYPE type : types) entries.push_back(CK_ATTRIBUTE{type, nullptr, 0});
    nested.pValue = entries.data();
    ASSERT_EQ(f_->C_GetAttributeValue(s[0].session, key, &nested, 1), CKR_OK);
    std::vector<Bytes> values;
    for (CK_ATTRIBUTE& e : entries) values.emplace_back(e.ulValueLen);
    for (std::size_t i = 0; i < entries.size(); ++i) entries[i].pValue = values[i].data();
    ASSERT_EQ(f_->C_GetAttributeValue(s[0].session, key, &nested, 1), CKR_OK);
    EXPECT_EQ(Integer(values[0]), CKO_SECRET_KEY);
    EXPECT_EQ(values[1], Bytes{CK_FALSE});
    EXPECT_EQ(values[2], Bytes{CK_TRUE});
    EXPECT_EQ(Integer(values[3]), CKK_GOST28147);
    EXPECT_EQ(Integer(values[4]), CKM_GOST28147_KEY_GEN);
    ASSERT_EQ(values[5].size(), 5 * sizeof(CK_MECHANISM_TYPE));
    for (std::size_t i = 0; i < 5; ++i) {
        CK_MECHANISM_TYPE mechanism = 0;
        std::memcpy(&mechanism, values[5].data() + i * sizeof(mechanism), sizeof(mechanism));
        EXPECT_EQ(mechanism, CKM_GOST28147_CIPHER_1 + i);
    }
    CK_ATTRIBUTE wrapTemplate{CKA_WRAP_TEMPLATE, nullptr, 0};
    ASSERT_EQ(f_->C_GetAttributeValue(s[0].session, key, &wrapTemplate, 1), CKR_OK);
    EXPECT_EQ(wrapTemplate.ulValueLen, 4 * sizeof(CK_ATTRIBUTE));
}

// Bad arguments and parameters, each refused with nothing left behind.
TEST_F(Pkcs11KeyManagementE2E, BadArgumentsAreRefusedAndLeaveNoKey)
{
    KeyRig rig({RigKey(624, 18, kPin)});
    std::vector<Side> s = Open(1);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    const CK_SESSION_HANDLE h = s[0].session;
    Bytes& point = s[0].point;
    const Bytes ukm = Counting(8);
    const CK_ULONG before = CountSecretKeys(h);
    CK_OBJECT_HANDLE key = 0;

    struct DeriveCase {
        const char* what;
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG kdf;
        CK_ULONG ukmLength;
        bool ukmThere;
        CK_ULONG pointLength;
        bool pointThere;
        CK_ULONG parameterLength;
        bool parameterThere;
        CK_RV expected;
    };
    const CK_ULONG whole = sizeof(CK_DSTU4145_DERIVE_PARAMS);
    const CK_ULONG pl = point.size();
    const DeriveCase cases[] = {
        {"no parameter", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, pl, true, whole, false,
         CKR_MECHANISM_PARAM_INVALID},
        {"16 bytes", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, pl, true, 16, true,
         CKR_MECHANISM_PARAM_INVALID},
        {"one word short", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, pl, true, whole - sizeof(CK_ULONG),
         true, CKR_MECHANISM_PARAM_INVALID},
        {"unknown kdf", CKM_DSTU4145_DERIVE_EXT, 0x80420213, 8, true, pl, true, whole, true,
         CKR_MECHANISM_PARAM_INVALID},
        {"UKM length without UKM", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, false, pl, true, whole, true,
         CKR_MECHANISM_PARAM_INVALID},
        {"point length without point", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, pl, false, whole, true,
         CKR_MECHANISM_PARAM_INVALID},
        {"no point", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, 0, true, whole, true,
         CKR_MECHANISM_PARAM_INVALID},
        {"a cut point", CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 8, true, pl - 1, true, whole, true,
         CKR_MECHANISM_PARAM_INVALID},
    };
    for (const DeriveCase& c : cases) {
        CK_DSTU4145_DERIVE_PARAMS p{c.kdf, c.ukmLength, c.ukmThere ? const_cast<CK_BYTE*>(ukm.data()) : nullptr,
                                    c.pointLength, c.pointThere ? point.data() : nullptr};
        CK_MECHANISM m{c.mechanism, c.parameterThere ? &p : nullptr, c.parameterLength};
        EXPECT_EQ(f_->C_DeriveKey(h, &m, s[0].privateKey, nullptr, 0, &key), c.expected) << c.what;
    }
    CK_DSTU4145_DERIVE_PARAMS good{CKD_DSTU4145_GOST28147, 8, const_cast<CK_BYTE*>(ukm.data()), pl, point.data()};
    CK_MECHANISM m{CKM_DSTU4145_DERIVE, &good, sizeof(good)};
    EXPECT_EQ(f_->C_DeriveKey(h, nullptr, s[0].privateKey, nullptr, 0, &key), CKR_MECHANISM_INVALID);
    EXPECT_EQ(f_->C_DeriveKey(h, &m, s[0].privateKey, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_DeriveKey(h, &m, s[0].privateKey, nullptr, 2, &key), CKR_ARGUMENTS_BAD);

    // The encoded UKM must fit the key's agreement (95 bytes old, 183 new):
    // refused at derivation, not by every later wrap.
    struct Limit {
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG kdf;
        CK_ULONG longest;
    };
    for (const Limit& l : {Limit{CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, 66},
                           Limit{CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_DSTU7624, 151}}) {
        const Bytes longUkm = Counting(l.longest + 1);
        for (CK_ULONG n : {l.longest + 1, l.longest}) {
            CK_DSTU4145_DERIVE_PARAMS p{l.kdf, n, const_cast<CK_BYTE*>(longUkm.data()), pl, point.data()};
            CK_MECHANISM lm{l.mechanism, &p, sizeof(p)};
            CK_BBOOL yes = CK_TRUE;
            CK_ATTRIBUTE t[] = {{CKA_WRAP, &yes, 1}};
            CK_OBJECT_HANDLE made = 0;
            const CK_RV rv = f_->C_DeriveKey(h, &lm, s[0].privateKey, t, 1, &made);
            if (n > l.longest) {
                EXPECT_EQ(rv, CKR_MECHANISM_PARAM_INVALID) << n;
                EXPECT_EQ(CountSecretKeys(h), before) << "the failed derivation's object is gone";
                continue;
            }
            ASSERT_EQ(rv, CKR_OK) << n;
            // The longest encoding that fits also wraps.
            const CK_KEY_TYPE type = l.kdf == CKD_DSTU4145_GOST28147 ? CKK_GOST28147 : CKK_DSTU7624;
            CK_MECHANISM wrap{type == CKK_GOST28147 ? CKM_GOST28147_KEY_WRAP : CKM_DSTU7624_KEY_WRAP, nullptr, 0};
            const CK_OBJECT_HANDLE secret = Secret(h, type, Counting(32));
            Bytes out(96);
            CK_ULONG length = out.size();
            EXPECT_EQ(f_->C_WrapKey(h, &wrap, made, secret, out.data(), &length), CKR_OK);
            EXPECT_EQ(f_->C_DestroyObject(h, secret), CKR_OK);
            EXPECT_EQ(f_->C_DestroyObject(h, made), CKR_OK);
        }
    }

    // Wrapping and unwrapping.
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE t[] = {{CKA_WRAP, &yes, 1}, {CKA_UNWRAP, &yes, 1}};
    ASSERT_EQ(f_->C_DeriveKey(h, &m, s[0].privateKey, t, 2, &key), CKR_OK);
    CK_MECHANISM wrap{CKM_GOST28147_KEY_WRAP, nullptr, 0};
    const CK_OBJECT_HANDLE secret = Secret(h, CKK_GOST28147, Counting(32));
    Bytes out(44);
    CK_ULONG length = out.size();
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, key, secret, out.data(), nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_WrapKey(h, nullptr, key, secret, out.data(), &length), CKR_ARGUMENTS_BAD);
    CK_MECHANISM dangling{CKM_GOST28147_KEY_WRAP, nullptr, 8};
    EXPECT_EQ(f_->C_WrapKey(h, &dangling, key, secret, out.data(), &length), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, key, Secret(h, CKK_GOST28147, Counting(16)), out.data(), &length),
              CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, key, Secret(h, CKK_DSTU7624, Counting(32)), out.data(), &length),
              CKR_KEY_HANDLE_INVALID)
        << "not of the wrapping key's template";
    ASSERT_EQ(f_->C_WrapKey(h, &wrap, key, secret, out.data(), &length), CKR_OK);
    CK_OBJECT_HANDLE unwrapped = 0;
    EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, key, nullptr, 44, nullptr, 0, &unwrapped), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, key, out.data(), 44, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, key, out.data(), 44, nullptr, 3, &unwrapped), CKR_ARGUMENTS_BAD);
    out.push_back(0);
    EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, key, out.data(), 45, nullptr, 0, &unwrapped), CKR_WRAPPED_KEY_LEN_RANGE);
    EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, key, out.data(), 44, nullptr, 0, &unwrapped), CKR_OK);
    // Its own derivation is the only agreement a key has: after it is
    // destroyed, a new key in its place that was never derived wraps nothing.
    EXPECT_EQ(f_->C_DestroyObject(h, key), CKR_OK);
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, key, secret, out.data(), &length), CKR_OBJECT_HANDLE_INVALID);
}

// Unwrapped keys are made under the rules of derived keys: a secret key is a
// private session object of the type its mechanism unwraps. A template that
// asks for anything else is refused before the key is asked, and leaves no
// object that a session without a login could find.
TEST_F(Pkcs11KeyManagementE2E, UnwrappedKeysFollowTheRulesOfDerivedKeys)
{
    KeyRig rig({RigKey(627, 18, kPin)});
    std::vector<Side> s = Open(1);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    const CK_SESSION_HANDLE h = s[0].session;
    CK_OBJECT_HANDLE agreed = 0;
    ASSERT_EQ(Derive(s[0], CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, s[0].point, Counting(8), &agreed), CKR_OK);
    const Bytes value = Counting(32, 0x21);
    CK_MECHANISM wrap{CKM_GOST28147_KEY_WRAP, nullptr, 0};
    Bytes wrapped(44);
    CK_ULONG length = wrapped.size();
    ASSERT_EQ(f_->C_WrapKey(h, &wrap, agreed, Secret(h, CKK_GOST28147, value), wrapped.data(), &length), CKR_OK);

    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_KEY_TYPE otherType = CKK_DSTU7624;
    struct Case {
        const char* what;
        std::vector<CK_ATTRIBUTE> t;
        CK_RV expected;
    };
    const Case cases[] = {
        {"a public token key",
         {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &no, 1}, {CKA_EXTRACTABLE, &yes, 1}},
         CKR_TEMPLATE_INCONSISTENT},
        {"a token key", {{CKA_TOKEN, &yes, 1}}, CKR_TEMPLATE_INCONSISTENT},
        {"a public session key", {{CKA_PRIVATE, &no, 1}}, CKR_TEMPLATE_INCONSISTENT},
        {"a key of another type", {{CKA_KEY_TYPE, &otherType, sizeof(otherType)}}, CKR_KEY_TYPE_INCONSISTENT},
    };
    const CK_ULONG keys = CountSecretKeys(h);
    const std::size_t commands = KeyCommands(rig).size();
    for (const Case& c : cases) {
        CK_OBJECT_HANDLE made = 0;
        EXPECT_EQ(f_->C_UnwrapKey(h, &wrap, agreed, wrapped.data(), length, const_cast<CK_ATTRIBUTE*>(c.t.data()),
                                  c.t.size(), &made),
                  c.expected)
            << c.what;
    }
    EXPECT_EQ(KeyCommands(rig).size(), commands) << "the key was asked";
    EXPECT_EQ(CountSecretKeys(h), keys);
    CK_SESSION_HANDLE anonymous = 0;
    ASSERT_EQ(f_->C_OpenSession(s[0].slot, CKF_SERIAL_SESSION, nullptr, nullptr, &anonymous), CKR_OK);
    EXPECT_EQ(CountSecretKeys(anonymous), 0u) << "a secret key a session without a login finds";

    // The template the unwrapping key gives keeps the rules.
    CK_OBJECT_HANDLE made = 0;
    CK_ATTRIBUTE readable[] = {{CKA_SENSITIVE, &no, 1}};
    ASSERT_EQ(f_->C_UnwrapKey(h, &wrap, agreed, wrapped.data(), length, readable, 1, &made), CKR_OK);
    EXPECT_EQ(Read(h, made, CKA_VALUE), value);
    EXPECT_EQ(Read(h, made, CKA_PRIVATE), Bytes{CK_TRUE});
    EXPECT_EQ(Read(h, made, CKA_TOKEN), Bytes{CK_FALSE});
    EXPECT_EQ(CountSecretKeys(anonymous), 0u);
}

// C_WrapKey lets out only secret keys that may leave: a key made
// unextractable stays in (however the wrap and unwrap templates read), and
// objects that are not secret keys are no key to wrap. Derived and unwrapped
// keys are extractable unless their template says otherwise, so an unwrapped
// key is wrapped on as before.
TEST_F(Pkcs11KeyManagementE2E, OnlyExtractableSecretKeysAreWrapped)
{
    KeyRig rig({RigKey(628, 18, kPin)});
    std::vector<Side> s = Open(1);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    const CK_SESSION_HANDLE h = s[0].session;
    CK_OBJECT_HANDLE agreed = 0;
    ASSERT_EQ(Derive(s[0], CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, s[0].point, Counting(8), &agreed), CKR_OK);
    EXPECT_EQ(Read(h, agreed, CKA_EXTRACTABLE), Bytes{CK_TRUE}) << "a derived key's default";
    CK_MECHANISM wrap{CKM_GOST28147_KEY_WRAP, nullptr, 0};
    Bytes out(44);
    CK_ULONG length = out.size();

    // The key of the report: sensitive and unextractable.
    CK_OBJECT_CLASS secretClass = CKO_SECRET_KEY, dataClass = CKO_DATA;
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    const Bytes value = Counting(32, 0x33);
    CK_ATTRIBUTE kept[] = {{CKA_CLASS, &secretClass, sizeof(secretClass)},
                           {CKA_KEY_TYPE, &gost, sizeof(gost)},
                           {CKA_SENSITIVE, &yes, 1},
                           {CKA_EXTRACTABLE, &no, 1},
                           {CKA_VALUE, const_cast<CK_BYTE*>(value.data()), value.size()}};
    CK_OBJECT_HANDLE unextractable = 0, unsaid = 0, data = 0;
    ASSERT_EQ(f_->C_CreateObject(h, kept, 5, &unextractable), CKR_OK);
    ASSERT_EQ(f_->C_CreateObject(h, kept, 2, &unsaid), CKR_OK) << "a created key that does not say";
    CK_ATTRIBUTE dataTemplate[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                                   {CKA_VALUE, const_cast<CK_BYTE*>(value.data()), value.size()}};
    ASSERT_EQ(f_->C_CreateObject(h, dataTemplate, 2, &data), CKR_OK);
    struct Case {
        const char* what;
        CK_OBJECT_HANDLE key;
        CK_RV expected;
    };
    const Case cases[] = {
        {"unextractable", unextractable, CKR_KEY_UNEXTRACTABLE},
        {"created without CKA_EXTRACTABLE", unsaid, CKR_KEY_UNEXTRACTABLE},
        {"a data object", data, CKR_KEY_HANDLE_INVALID},
        {"a public key", s[0].publicKey, CKR_KEY_HANDLE_INVALID},
        {"a private key", s[0].privateKey, CKR_KEY_HANDLE_INVALID},
    };
    for (const Case& c : cases) {
        length = out.size();
        EXPECT_EQ(f_->C_WrapKey(h, &wrap, agreed, c.key, out.data(), &length), c.expected) << c.what;
    }

    // Unwrapped keys: extractable unless the template says not.
    length = out.size();
    ASSERT_EQ(f_->C_WrapKey(h, &wrap, agreed, Secret(h, CKK_GOST28147, value), out.data(), &length), CKR_OK);
    CK_OBJECT_HANDLE relayed = 0, held = 0;
    ASSERT_EQ(f_->C_UnwrapKey(h, &wrap, agreed, out.data(), length, nullptr, 0, &relayed), CKR_OK);
    CK_ATTRIBUTE hold[] = {{CKA_EXTRACTABLE, &no, 1}};
    ASSERT_EQ(f_->C_UnwrapKey(h, &wrap, agreed, out.data(), length, hold, 1, &held), CKR_OK);
    EXPECT_EQ(Read(h, relayed, CKA_EXTRACTABLE), Bytes{CK_TRUE});
    Bytes again(44);
    CK_ULONG againLength = again.size();
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, agreed, relayed, again.data(), &againLength), CKR_OK) << "wrapped on";
    againLength = again.size();
    EXPECT_EQ(f_->C_WrapKey(h, &wrap, agreed, held, again.data(), &againLength), CKR_KEY_UNEXTRACTABLE);
    CK_RV readRv = CKR_OK;
    EXPECT_TRUE(Read(h, held, CKA_VALUE, &readRv).empty());
    EXPECT_EQ(readRv, CKR_ATTRIBUTE_SENSITIVE);

    // A derived key whose template says false stays so.
    CK_DSTU4145_DERIVE_PARAMS p{CKD_DSTU4145_GOST28147, 0, nullptr, s[0].point.size(), s[0].point.data()};
    CK_MECHANISM m{CKM_DSTU4145_DERIVE, &p, sizeof(p)};
    CK_OBJECT_HANDLE unextractableAgreement = 0;
    ASSERT_EQ(f_->C_DeriveKey(h, &m, s[0].privateKey, hold, 1, &unextractableAgreement), CKR_OK);
    EXPECT_EQ(Read(h, unextractableAgreement, CKA_EXTRACTABLE), Bytes{CK_FALSE});
}

// The other party's point is read for the base key's curve before any
// agreement is recorded: its length, a field element, on the curve, not the
// point at infinity, of order n. The compressed values were worked out by the
// standard's decompression (x with bit 0 set so that Tr(x) = Tr(A), then
// z^2 + z = x + A + B/x^2) and n times the point: on the 163-bit curve
// (cofactor 2) 2 gives a point of order n and 6 an equation without a root;
// on the 173-bit curve (cofactor 4) 8 gives a point of order n and 4 one of
// order 2n.
TEST_F(Pkcs11KeyManagementE2E, TheOtherPartysPointMustLieOnTheBaseKeysCurve)
{
    KeyRig rig({RigKey(629, 18, kPin)});
    std::vector<Side> s = Open(1);
    const CK_SESSION_HANDLE h = s[0].session;
    auto encoded = [](Bytes x) {
        Bytes out{0x04, static_cast<CK_BYTE>(x.size())};
        out.insert(out.end(), x.begin(), x.end());
        return out;
    };
    auto number = [](CK_BYTE low, std::size_t size, CK_BYTE high = 0) {
        Bytes x(size, 0);
        x[0] = low;
        x[size - 1] |= high;
        return x;
    };
    struct Case {
        const char* what;
        Bytes point;  // empty: the key's own
        CK_RV expected;
    };
    struct Curve {
        CK_OBJECT_HANDLE object;  // the session's curve object
        std::size_t bytes;
        std::vector<Case> cases;
    };
    const Curve curves[] = {
        {1,
         21,
         {
             {"the key's own point", {}, CKR_OK},
             {"a point worked out by hand", encoded(number(2, 21)), CKR_OK},
             {"no root: not on the curve", encoded(number(6, 21)), CKR_MECHANISM_PARAM_INVALID},
             {"zero: the point at infinity", encoded(number(0, 21)), CKR_MECHANISM_PARAM_INVALID},
             {"bit 163 set: not a field element", encoded(number(2, 21, 0x08)), CKR_MECHANISM_PARAM_INVALID},
             {"one byte", encoded(number(2, 1)), CKR_MECHANISM_PARAM_INVALID},
             {"twenty bytes", encoded(number(2, 20)), CKR_MECHANISM_PARAM_INVALID},
             {"a byte too many", encoded(number(2, 22)), CKR_MECHANISM_PARAM_INVALID},
             {"not an octet string", Bytes{0x03, 0x02, 0x00, 0x02}, CKR_MECHANISM_PARAM_INVALID},
         }},
        {3,
         22,
         {
             {"the key's own point", {}, CKR_OK},
             {"a point of order n", encoded(number(8, 22)), CKR_OK},
             {"a point of order 2n", encoded(number(4, 22)), CKR_MECHANISM_PARAM_INVALID},
             {"a point of the 163-bit curve", encoded(number(2, 21)), CKR_MECHANISM_PARAM_INVALID},
         }},
    };
    for (const Curve& curve : curves) {
        SCOPED_TRACE(curve.object);
        ASSERT_EQ(Generate(&s[0], false, curve.object), CKR_OK);
        ASSERT_EQ(s[0].point.size(), 2u + curve.bytes);
        const CK_ULONG keys = CountSecretKeys(h);
        CK_ULONG made = 0;
        for (const Case& c : curve.cases) {
            for (CK_ULONG kdf : {CKD_DSTU4145_GOST28147, CKD_DSTU4145_DSTU7624}) {
                CK_OBJECT_HANDLE key = 0;
                EXPECT_EQ(Derive(s[0], CKM_DSTU4145_DERIVE_EXT, kdf, c.point.empty() ? s[0].point : c.point,
                                 Counting(8), &key),
                          c.expected)
                    << c.what << " " << kdf;
                made += c.expected == CKR_OK;
            }
        }
        EXPECT_EQ(CountSecretKeys(h), keys + made) << "a refused derivation left its key";
    }
}

TEST_F(Pkcs11KeyManagementE2E, TheNewAgreementNeedsAVersion18Key)
{
    KeyRig rig({RigKey(625, 17, kPin)});
    std::vector<Side> s = Open(1);
    ASSERT_EQ(Generate(&s[0]), CKR_OK);
    CK_OBJECT_HANDLE key = 0;
    EXPECT_EQ(Derive(s[0], CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_DSTU7624, s[0].point, Counting(8), &key),
              CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(Derive(s[0], CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, s[0].point, Counting(8), &key), CKR_OK);
}

// A pair whose objects would not fit on the key, or whose templates name two
// curves, is refused before the key makes it, so the pair the key holds still
// signs for its public key.
TEST_F(Pkcs11KeyManagementE2E, RefusedPairsLeaveTheKeysPair)
{
    KeyRig rig({RigKey(626, 18, kPin)});
    std::vector<Side> s = Open(1);
    const CK_SESSION_HANDLE h = s[0].session;
    auto freePublic = [&] {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(f_->C_GetTokenInfo(s[0].slot, &info), CKR_OK);
        return info.ulFreePublicMemory;
    };
    auto data = [&](CK_ULONG size, CK_OBJECT_HANDLE* out) {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        Bytes value(size, 0x5A);
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_VALUE, value.data(), value.size()}};
        return f_->C_CreateObject(h, t, 4, out);
    };
    // The first pair shows what a public key object takes of the public area.
    const CK_ULONG start = freePublic();
    ASSERT_EQ(Generate(&s[0], true), CKR_OK);
    const CK_ULONG needed = start - freePublic();
    // What a data object costs beside its value.
    const CK_ULONG before = freePublic();
    CK_OBJECT_HANDLE probe = 0, filler = 0;
    ASSERT_EQ(data(1, &probe), CKR_OK);
    const CK_ULONG overhead = before - freePublic() - 1;
    ASSERT_EQ(f_->C_DestroyObject(h, probe), CKR_OK);

    // One byte short of the room a new public key object needs.
    ASSERT_EQ(data(before - overhead - (needed - 1), &filler), CKR_OK);
    ASSERT_EQ(freePublic(), needed - 1);
    Side second = s[0];
    EXPECT_EQ(Generate(&second, true), CKR_DEVICE_MEMORY);
    ASSERT_EQ(f_->C_DestroyObject(h, filler), CKR_OK);
    // Templates naming two curves are refused as well, before the key is asked.
    const Bytes curve0 = Read(h, 1, CKA_EC_PARAMS), curve1 = Read(h, 2, CKA_EC_PARAMS);
    ASSERT_NE(curve0, curve1);
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &yes, 1},
                                     {CKA_VERIFY, &yes, 1},
                                     {CKA_EC_PARAMS, const_cast<CK_BYTE*>(curve0.data()), curve0.size()}};
    CK_ATTRIBUTE privateTemplate[] = {
        {CKA_TOKEN, &yes, 1}, {CKA_SIGN, &yes, 1}, {CKA_EC_PARAMS, const_cast<CK_BYTE*>(curve1.data()), curve1.size()}};
    CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    EXPECT_EQ(f_->C_GenerateKeyPair(h, &generate, publicTemplate, 3, privateTemplate, 3, &second.publicKey,
                                    &second.privateKey),
              CKR_DOMAIN_PARAMS_INVALID);

    const Bytes hash = Counting(32);
    CK_MECHANISM m{CKM_DSTU4145, nullptr, 0};
    ASSERT_EQ(f_->C_SignInit(h, &m, s[0].privateKey), CKR_OK);
    Bytes signature(42);
    CK_ULONG length = signature.size();
    ASSERT_EQ(f_->C_Sign(h, const_cast<CK_BYTE*>(hash.data()), hash.size(), signature.data(), &length), CKR_OK);
    ASSERT_EQ(f_->C_VerifyInit(h, &m, s[0].publicKey), CKR_OK);
    EXPECT_EQ(f_->C_Verify(h, const_cast<CK_BYTE*>(hash.data()), hash.size(), signature.data(), length), CKR_OK)
        << "the key's pair was replaced";

    // Exactly the room needed is enough.
    ASSERT_EQ(data(before - overhead - needed, &filler), CKR_OK);
    ASSERT_EQ(freePublic(), needed);
    EXPECT_EQ(Generate(&second, true), CKR_OK);
    EXPECT_EQ(freePublic(), 0u);
}

}  // namespace
}  // namespace qvk::e2e
