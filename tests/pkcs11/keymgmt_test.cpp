// The derive, wrap and unwrap workers over a key in the in-process PC/SC
// double, with the PKI formats stand-in started as the module starts it: the
// encoded UKM against bytes worked out by hand, what the workers hand the
// device, and the lengths and refusals of wrapping and unwrapping.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <vector>

#include "DeviceTestSupport.h"
#include "KeyDeviceTest.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11KeyManagement.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ValueOf(const CK_ATTRIBUTE& a)
{
    const auto* p = static_cast<const std::uint8_t*>(a.pValue);
    return Bytes(p, p + a.ulValueLen);
}

// SEQUENCE { AlgorithmIdentifier { oid }, [0] { OCTET STRING data },
// [2] { OCTET STRING 00 00 01 00 } } for up to 8 bytes of data; `last` is
// the OID's final arc under 1.2.804.2.1.1.1.1.1.
Bytes ExpectedUKM(std::uint8_t family, std::uint8_t last, const Bytes& data)
{
    Bytes content;
    content.reserve(64);
    auto put = [&](std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) content.push_back(b);
    };
    put({0x30, 0x0D, 0x06, 0x0B, 0x2A, 0x86, 0x24, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, family, last});
    if (!data.empty()) {
        put({0xA0, static_cast<std::uint8_t>(data.size() + 2), 0x04, static_cast<std::uint8_t>(data.size())});
        for (std::uint8_t b : data) content.push_back(b);
    }
    put({0xA2, 0x06, 0x04, 0x04, 0x00, 0x00, 0x01, 0x00});
    Bytes out;
    out.reserve(content.size() + 2);
    out.push_back(0x30);
    out.push_back(static_cast<std::uint8_t>(content.size()));
    for (std::uint8_t b : content) out.push_back(b);
    return out;
}

// The driver, noting what the derive workers hand it.
class RecordingDevice : public PKCS11QuorKorvo7Q {
public:
    CK_RV DeriveKey(CK_ULONG session, CK_ULONG key, CK_BYTE extended, const DSTU4145FieldRecord* field,
                    const DSTU4145PointRecord* point, const std::uint8_t* sBox, const std::uint8_t* otherPublicKey,
                    const std::uint8_t* ukm, std::uint32_t ukmLength) override
    {
        Note(ukm, ukmLength, extended, false);
        lastSBox.assign(sBox, sBox + 64);
        return PKCS11QuorKorvo7Q::DeriveKey(session, key, extended, field, point, sBox, otherPublicKey, ukm, ukmLength);
    }
    CK_RV DeriveKeyNew(CK_ULONG session, CK_ULONG key, const DSTU4145FieldRecord* field,
                       const DSTU4145PointRecord* point, const std::uint8_t* otherPublicKey, const std::uint8_t* ukm,
                       std::uint32_t ukmLength) override
    {
        Note(ukm, ukmLength, 0, true);
        return PKCS11QuorKorvo7Q::DeriveKeyNew(session, key, field, point, otherPublicKey, ukm, ukmLength);
    }
    Bytes lastUKM;
    Bytes lastSBox;
    int lastExtended = -1;
    bool lastNew = false;

private:
    void Note(const std::uint8_t* ukm, std::uint32_t length, int extended, bool isNew)
    {
        lastUKM.assign(ukm, ukm + length);
        lastExtended = extended;
        lastNew = isNew;
    }
};

class Pkcs11KeyManagement : public KeyDeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        recording_ = new RecordingDevice();
        ASSERT_NO_FATAL_FAILURE(StartOnKey(81, recording_));
    }
    // An agreement pair on standard curve 0 with S-box 0: the private key
    // object and the public point as CKA_EC_POINT carries it.
    PKCS11ObjectPtr MakeBaseKey(Bytes* point)
    {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord curvePoint{};
        EXPECT_TRUE(GetStandardCurveRecords(0, &field, &curvePoint));
        EXPECT_TRUE(GetStandardSBoxRecord(0, sBox_.data()));
        std::uint8_t publicKey[DSTU4145_NUMBER_BYTES] = {};
        EXPECT_EQ(device_->GenerateKeyPair(0, 1, &field, &curvePoint, sBox_.data(), publicKey), CKR_OK);
        CK_ATTRIBUTE params{CKA_EC_PARAMS, nullptr, 0};
        CK_ATTRIBUTE ecPoint{CKA_EC_POINT, nullptr, 0};
        EXPECT_TRUE(EncodeECParams(&field, &curvePoint, sBox_.data(), &params));
        EXPECT_TRUE(MakeECPointAttribute(publicKey, field.words[DSTU4145_FIELD_M], &ecPoint));
        *point = ValueOf(ecPoint);
        CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY;
        CK_ULONG keyType = CKK_DSTU4145;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE entries[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                  {CKA_DERIVE, &yes, sizeof(yes)},
                                  params};
        PKCS11ObjectPtr key;
        EXPECT_EQ(CreateObjectForClass(objectClass, entries, 4, false, key.Address()), CKR_OK);
        FreeAttributeValue(&params);
        FreeAttributeValue(&ecPoint);
        return key;
    }
    static PKCS11ObjectPtr SecretKey(CK_KEY_TYPE keyType, const Bytes& value)
    {
        CK_OBJECT_CLASS objectClass = CKO_SECRET_KEY;
        CK_ATTRIBUTE entries[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                  {CKA_VALUE, const_cast<std::uint8_t*>(value.data()), value.size()}};
        PKCS11ObjectPtr key;
        EXPECT_EQ(CreateObjectForClass(objectClass, entries, value.empty() ? 2 : 3, false, key.Address()), CKR_OK);
        return key;
    }

    RecordingDevice* recording_ = nullptr;
    std::array<std::uint8_t, 64> sBox_{};
};

TEST_F(Pkcs11KeyManagement, UKMAttributesAreTheEncodingsWorkedOutByHand)
{
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    struct Case {
        bool newForm;
        Bytes data;
        Bytes expected;
    };
    const Case cases[] = {{false, data, ExpectedUKM(0x01, 0x05, data)},
                          {true, data, ExpectedUKM(0x03, 0x0B, data)},
                          {false, {}, ExpectedUKM(0x01, 0x05, {})}};
    for (const Case& c : cases) {
        CK_ATTRIBUTE a{0, nullptr, 0};
        const auto length = static_cast<std::uint32_t>(c.data.size());
        const std::uint8_t* p = c.data.empty() ? nullptr : c.data.data();
        ASSERT_TRUE(c.newForm ? MakeUKMAttributeNew(p, length, &a) : MakeUKMAttribute(p, length, &a));
        EXPECT_EQ(a.type, CKA_VENDOR_DEFINED);
        EXPECT_EQ(ValueOf(a), c.expected) << c.newForm << " " << c.data.size();
        FreeAttributeValue(&a);
    }
    CK_ATTRIBUTE a{0, nullptr, 0};
    EXPECT_FALSE(MakeUKMAttribute(nullptr, 8, &a));
}

TEST_F(Pkcs11KeyManagement, DerivationHandsTheDeviceTheEncodedUKMAndWrapsWithIt)
{
    Bytes point;
    PKCS11ObjectPtr base = MakeBaseKey(&point);
    Bytes ukm = {9, 8, 7, 6, 5, 4, 3, 2};
    CK_DSTU4145_DERIVE_PARAMS p{CKD_DSTU4145_GOST28147, ukm.size(), ukm.data(), point.size(), point.data()};
    struct Case {
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG kdf;
        CK_KEY_TYPE keyType;
        CK_OBJECT_HANDLE handle;
        int extended;
        CK_ULONG wrappedLength;
    };
    const Case cases[] = {{CKM_DSTU4145_DERIVE, CKD_DSTU4145_GOST28147, CKK_GOST28147, 0x11, 0, 44},
                          {CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_GOST28147, CKK_GOST28147, 0x12, 1, 44},
                          {CKM_DSTU4145_DERIVE_EXT, CKD_DSTU4145_DSTU7624, CKK_DSTU7624, 0x13, 0, 96}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.handle);
        p.kdf = c.kdf;
        CK_MECHANISM m{c.mechanism, &p, sizeof(p)};
        PKCS11ObjectPtr derived = SecretKey(c.keyType, {});
        ASSERT_EQ(PKIDeriveKey(5, c.handle, device_.get(), &m, base.Get(), derived.Get()), CKR_OK);
        const bool newForm = c.kdf == CKD_DSTU4145_DSTU7624;
        EXPECT_EQ(recording_->lastNew, newForm);
        EXPECT_EQ(recording_->lastUKM, ExpectedUKM(newForm ? 0x03 : 0x01, newForm ? 0x0B : 0x05, ukm));
        const std::uint8_t* info = nullptr;
        CK_ULONG infoLength = 0;
        ASSERT_EQ(derived->GetValueOf(CKA_VENDOR_KEY_INFO, &info, &infoLength), CKR_OK);
        if (newForm) {
            EXPECT_EQ(infoLength, 0u) << "the new agreement carries no S-box";
        } else {
            EXPECT_EQ(recording_->lastExtended, c.extended);
            EXPECT_EQ(recording_->lastSBox, Bytes(sBox_.begin(), sBox_.end()));
            CK_ATTRIBUTE expected{0, nullptr, 0};
            ASSERT_TRUE(MakeSBoxInfoAttribute(sBox_.data(), nullptr, &expected));
            EXPECT_EQ(Bytes(info, info + infoLength), ValueOf(expected));
            FreeAttributeValue(&expected);
        }

        // Wrapping under the derived key and unwrapping under it again.
        const Bytes value = Bytes(32, static_cast<std::uint8_t>(c.handle));
        PKCS11ObjectPtr secret = SecretKey(c.keyType, value);
        CK_ULONG length = 0;
        ASSERT_EQ(PKIWrapKey(5, c.handle, device_.get(), derived.Get(), secret.Get(), nullptr, &length), CKR_OK);
        ASSERT_EQ(length, c.wrappedLength);
        Bytes wrapped(length + 1, 0xEE);
        length -= 1;
        EXPECT_EQ(PKIWrapKey(5, c.handle, device_.get(), derived.Get(), secret.Get(), wrapped.data(), &length),
                  CKR_BUFFER_TOO_SMALL);
        length = wrapped.size();
        ASSERT_EQ(PKIWrapKey(5, c.handle, device_.get(), derived.Get(), secret.Get(), wrapped.data(), &length), CKR_OK);
        EXPECT_EQ(length, c.wrappedLength);
        EXPECT_EQ(wrapped.back(), 0xEE) << "nothing written past the wrapped key";
        PKCS11ObjectPtr unwrapped = SecretKey(c.keyType, {});
        EXPECT_EQ(PKIUnwrapKey(5, c.handle, device_.get(), wrapped.data(), c.wrappedLength + 1, derived.Get(),
                               unwrapped.Get()),
                  CKR_WRAPPED_KEY_LEN_RANGE);
        ASSERT_EQ(
            PKIUnwrapKey(5, c.handle, device_.get(), wrapped.data(), c.wrappedLength, derived.Get(), unwrapped.Get()),
            CKR_OK);
        const std::uint8_t* got = nullptr;
        CK_ULONG gotLength = 0;
        ASSERT_EQ(unwrapped->GetValueOf(CKA_VALUE, &got, &gotLength), CKR_OK);
        EXPECT_EQ(Bytes(got, got + gotLength), value);
    }
}

TEST_F(Pkcs11KeyManagement, WrappingRefusesWhatItCannotWrap)
{
    PKCS11ObjectPtr gost = SecretKey(CKK_GOST28147, {});
    PKCS11ObjectPtr other = SecretKey(CKK_GENERIC_SECRET, {});
    PKCS11ObjectPtr short16 = SecretKey(CKK_GOST28147, Bytes(16, 1));
    PKCS11ObjectPtr none = SecretKey(CKK_GOST28147, {});
    Bytes out(96);
    CK_ULONG length = out.size();
    PKCS11Device* d = device_.get();
    EXPECT_EQ(PKIWrapKey(1, 2, d, gost.Get(), short16.Get(), out.data(), nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(PKIWrapKey(1, 2, d, other.Get(), short16.Get(), out.data(), &length), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(PKIWrapKey(1, 2, d, gost.Get(), short16.Get(), out.data(), &length), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(PKIWrapKey(1, 2, d, gost.Get(), none.Get(), out.data(), &length), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(PKIWrapKey(1, 2, d, gost.Get(), SecretKey(CKK_GOST28147, Bytes(32, 1)).Get(), out.data(), &length),
              CKR_KEY_HANDLE_INVALID)
        << "no derivation recorded for (1, 2)";
    EXPECT_EQ(PKIUnwrapKey(1, 2, d, nullptr, 44, gost.Get(), none.Get()), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(PKIUnwrapKey(1, 2, d, out.data(), 44, other.Get(), none.Get()), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(PKIUnwrapKey(1, 2, d, out.data(), 96, gost.Get(), none.Get()), CKR_WRAPPED_KEY_LEN_RANGE);

    // A derivation parameter that is not there whole is never read.
    Bytes point;
    PKCS11ObjectPtr base = MakeBaseKey(&point);
    CK_MECHANISM m{CKM_DSTU4145_DERIVE, nullptr, sizeof(CK_DSTU4145_DERIVE_PARAMS)};
    EXPECT_EQ(PKIDeriveKey(1, 2, d, &m, base.Get(), none.Get()), CKR_MECHANISM_PARAM_INVALID);
    CK_DSTU4145_DERIVE_PARAMS p{CKD_DSTU4145_GOST28147, 0, nullptr, point.size(), point.data()};
    m.pParameter = &p;
    m.ulParameterLen = sizeof(p) - 1;
    EXPECT_EQ(PKIDeriveKey(1, 2, d, &m, base.Get(), none.Get()), CKR_MECHANISM_PARAM_INVALID);
    m.ulParameterLen = sizeof(p);
    p.ulSharedDataLen = MAX_SHARED_DATA_BYTES + 1;
    Bytes big(MAX_SHARED_DATA_BYTES + 1);
    p.pSharedData = big.data();
    EXPECT_EQ(PKIDeriveKey(1, 2, d, &m, base.Get(), none.Get()), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_TRUE(recording_->lastUKM.empty()) << "nothing reached the device";
}

}  // namespace
