// The built module, loaded with dlopen, against an emulated key behind a real
// pcscd: a DSTU 4145 pair generated on the key signs single- and multi-part,
// the public key verifies on the host, and any change fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<CK_BYTE>;

Bytes Counting(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<CK_BYTE>(7 * i + 3);
    return out;
}

class Pkcs11SignE2E : public ModuleTest {
protected:
    Pkcs11SignE2E() : ModuleTest("qvkp11sig") {}
    CK_SESSION_HANDLE Open()
    {
        module_->InitializeToken();
        return module_->LoggedIn();
    }
    // A pair on the 163-bit standard curve (the session's first domain
    // parameter object gives its parameters).
    void Generate(CK_SESSION_HANDLE h, CK_OBJECT_HANDLE* pub, CK_OBJECT_HANDLE* priv)
    {
        const Bytes params = module_->FirstCurveParams(h);
        EXPECT_EQ(module_->GenerateSigningPair(h, params, nullptr, priv), CKR_ARGUMENTS_BAD);
        ASSERT_EQ(module_->GenerateSigningPair(h, params, pub, priv), CKR_OK);
    }
    Bytes SignSingle(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data)
    {
        CK_MECHANISM m{type, nullptr, 0};
        EXPECT_EQ(f_->C_SignInit(h, &m, key), CKR_OK);
        CK_ULONG length = 0;
        EXPECT_EQ(f_->C_Sign(h, const_cast<CK_BYTE*>(data.data()), data.size(), nullptr, &length), CKR_OK);
        Bytes out(length);
        CK_ULONG shorter = length - 1;
        EXPECT_EQ(f_->C_Sign(h, const_cast<CK_BYTE*>(data.data()), data.size(), out.data(), &shorter),
                  CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(shorter, length) << "the length needed";
        EXPECT_EQ(f_->C_Sign(h, const_cast<CK_BYTE*>(data.data()), data.size(), out.data(), &length), CKR_OK);
        out.resize(length);
        return out;
    }
    Bytes SignParts(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data)
    {
        CK_MECHANISM m{type, nullptr, 0};
        EXPECT_EQ(f_->C_SignInit(h, &m, key), CKR_OK);
        EXPECT_EQ(f_->C_SignUpdate(h, const_cast<CK_BYTE*>(data.data()), 10), CKR_OK);
        EXPECT_EQ(f_->C_SignUpdate(h, const_cast<CK_BYTE*>(data.data()) + 10, data.size() - 10), CKR_OK);
        CK_ULONG length = 0;
        EXPECT_EQ(f_->C_SignFinal(h, nullptr, &length), CKR_OK);
        Bytes out(length);
        CK_ULONG shorter = length - 1;
        EXPECT_EQ(f_->C_SignFinal(h, out.data(), &shorter), CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(shorter, length);
        EXPECT_EQ(f_->C_SignFinal(h, out.data(), &length), CKR_OK);
        out.resize(length);
        return out;
    }
    CK_RV Verify(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data,
                 const Bytes& signature)
    {
        return module_->Verify(h, type, key, data, signature);
    }
    CK_RV VerifyParts(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const Bytes& data,
                      const Bytes& signature)
    {
        CK_MECHANISM m{type, nullptr, 0};
        CK_RV rv = f_->C_VerifyInit(h, &m, key);
        if (rv != CKR_OK) return rv;
        if ((rv = f_->C_VerifyUpdate(h, const_cast<CK_BYTE*>(data.data()), 5)) != CKR_OK) return rv;
        if ((rv = f_->C_VerifyUpdate(h, const_cast<CK_BYTE*>(data.data()) + 5, data.size() - 5)) != CKR_OK) return rv;
        return f_->C_VerifyFinal(h, const_cast<CK_BYTE*>(signature.data()), signature.size());
    }
};

TEST_F(Pkcs11SignE2E, GeneratedPairSignsAndVerifiesSingleAndMultiPart)
{
    KeyRig rig({RigKey(611, 18, kRigPin)});
    const CK_SESSION_HANDLE h = Open();
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Generate(h, &pub, &priv);
    const Bytes data = Counting(300);
    for (CK_MECHANISM_TYPE type :
         {CKM_DSTU4145_GOST34311, CKM_DSTU4145_DSTU7564_256, CKM_DSTU4145_DSTU7564_384, CKM_DSTU4145_DSTU7564_512}) {
        SCOPED_TRACE(std::to_string(type));
        const Bytes single = SignSingle(h, type, priv, data);
        ASSERT_EQ(single.size(), 42u);  // an order of 163 bits
        const Bytes parts = SignParts(h, type, priv, data);
        ASSERT_EQ(parts.size(), 42u);
        // Signatures are randomised: each verifies, against either path.
        EXPECT_EQ(Verify(h, type, pub, data, single), CKR_OK);
        EXPECT_EQ(Verify(h, type, pub, data, parts), CKR_OK);
        EXPECT_EQ(VerifyParts(h, type, pub, data, single), CKR_OK);
        Bytes changed = single;
        changed[3] ^= 0x10;
        EXPECT_EQ(Verify(h, type, pub, data, changed), CKR_SIGNATURE_INVALID);
        Bytes otherData = data;
        otherData[299] ^= 1;
        EXPECT_EQ(VerifyParts(h, type, pub, otherData, single), CKR_SIGNATURE_INVALID);
        EXPECT_EQ(Verify(h, type, pub, data, Bytes(single.begin(), single.end() - 1)), CKR_SIGNATURE_LEN_RANGE);
    }
    // The unhashed mechanisms sign the value as given.
    const Bytes hash = Counting(32);
    const Bytes raw = SignSingle(h, CKM_DSTU4145, priv, hash);
    EXPECT_EQ(Verify(h, CKM_DSTU4145, pub, hash, raw), CKR_OK);
    const Bytes hash48 = Counting(48);
    EXPECT_EQ(Verify(h, CKM_DSTU4145_ALT, pub, hash48, SignSingle(h, CKM_DSTU4145_ALT, priv, hash48)), CKR_OK);
}

TEST_F(Pkcs11SignE2E, UpdatesAndArgumentsAreCheckedByMechanism)
{
    KeyRig rig({RigKey(612, 18, kRigPin)});
    const CK_SESSION_HANDLE h = Open();
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Generate(h, &pub, &priv);
    Bytes data = Counting(40);
    CK_MECHANISM alt{CKM_DSTU4145_ALT, nullptr, 0};
    ASSERT_EQ(f_->C_SignInit(h, &alt, priv), CKR_OK);
    EXPECT_EQ(f_->C_SignUpdate(h, data.data(), data.size()), CKR_MECHANISM_INVALID);
    CK_ULONG length = 0;
    EXPECT_EQ(f_->C_SignFinal(h, nullptr, &length), CKR_OPERATION_NOT_INITIALIZED) << "the update ended it";

    CK_MECHANISM m{CKM_DSTU4145_DSTU7564_256, nullptr, 0};
    ASSERT_EQ(f_->C_SignInit(h, &m, priv), CKR_OK);
    EXPECT_EQ(f_->C_SignUpdate(h, nullptr, 5), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_Sign(h, nullptr, 5, nullptr, &length), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_SignFinal(h, nullptr, nullptr), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(f_->C_SignUpdate(h, data.data(), data.size()), CKR_OK);
    EXPECT_EQ(f_->C_Sign(h, data.data(), data.size(), nullptr, &length), CKR_OPERATION_ACTIVE);
    Bytes signature(42);
    length = signature.size();
    ASSERT_EQ(f_->C_SignFinal(h, signature.data(), &length), CKR_OK);
    ASSERT_EQ(f_->C_VerifyInit(h, &m, pub), CKR_OK);
    EXPECT_EQ(f_->C_Verify(h, data.data(), data.size(), nullptr, 42), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_Verify(h, data.data(), data.size(), signature.data(), 42), CKR_OK);

    EXPECT_EQ(f_->C_SignInit(h, nullptr, priv), CKR_ARGUMENTS_BAD);
}

TEST_F(Pkcs11SignE2E, Gost34311SignatureIsOfTheDigestUnderTheKeysSBox)
{
    KeyRig rig({RigKey(613, 18, kRigPin)});
    const CK_SESSION_HANDLE h = Open();
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Generate(h, &pub, &priv);
    // The key's parameters carry standard S-box 0, which CKM_GOST34311 takes
    // when given no parameter: the hashed signature is one of that digest.
    const Bytes data = Counting(77);
    CK_MECHANISM digest{CKM_GOST34311, nullptr, 0};
    ASSERT_EQ(f_->C_DigestInit(h, &digest), CKR_OK);
    Bytes hash(32);
    CK_ULONG length = hash.size();
    ASSERT_EQ(f_->C_Digest(h, const_cast<CK_BYTE*>(data.data()), data.size(), hash.data(), &length), CKR_OK);
    const Bytes signature = SignParts(h, CKM_DSTU4145_GOST34311, priv, data);
    EXPECT_EQ(Verify(h, CKM_DSTU4145, pub, hash, signature), CKR_OK);
    hash[0] ^= 1;
    EXPECT_EQ(Verify(h, CKM_DSTU4145, pub, hash, signature), CKR_SIGNATURE_INVALID);
}

TEST_F(Pkcs11SignE2E, LongHashesOnlyOnVersion18Keys)
{
    KeyRig rig({RigKey(613, 17, kRigPin)});
    const CK_SESSION_HANDLE h = Open();
    CK_OBJECT_HANDLE pub = 0, priv = 0;
    Generate(h, &pub, &priv);
    CK_ATTRIBUTE allowed{CKA_ALLOWED_MECHANISMS, nullptr, 0};
    ASSERT_EQ(f_->C_GetAttributeValue(h, priv, &allowed, 1), CKR_OK);
    EXPECT_EQ(allowed.ulValueLen / sizeof(CK_MECHANISM_TYPE), 6u);
    for (CK_MECHANISM_TYPE type : {CKM_DSTU4145_DSTU7564_384, CKM_DSTU4145_DSTU7564_512}) {
        CK_MECHANISM m{type, nullptr, 0};
        EXPECT_NE(f_->C_SignInit(h, &m, priv), CKR_OK) << type;
    }
    const Bytes data = Counting(50);
    EXPECT_EQ(Verify(h, CKM_DSTU4145_DSTU7564_256, pub, data, SignParts(h, CKM_DSTU4145_DSTU7564_256, priv, data)),
              CKR_OK);
}

}  // namespace
}  // namespace qvk::e2e
