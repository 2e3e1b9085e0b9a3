// The sign worker with a key pair generated on a key in the in-process PC/SC
// double: lengths by curve and mechanism, the short-buffer answer, refusals,
// and signatures that the DSTU 4145 engine verifies.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "KeyDeviceTest.h"
#include "StandardParameters.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11SignVerify.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class Pkcs11Sign : public KeyDeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartOnKey(71));
    }
    // A key pair on standard curve `curve` with S-box 0; the private key
    // object standing for it (or a public key object with `objectClass`).
    // `encoded` tells whether the PKI formats library could encode them.
    PKCS11ObjectPtr MakeKey(std::uint32_t curve, CK_OBJECT_CLASS objectClass = CKO_PRIVATE_KEY, bool* encoded = nullptr,
                            bool withParams = true)
    {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        std::uint8_t sBox[64];
        EXPECT_TRUE(GetStandardCurveRecords(curve, &field, &point));
        EXPECT_TRUE(GetStandardSBoxRecord(0, sBox));
        EXPECT_EQ(device_->GenerateKeyPair(1, 0, &field, &point, sBox, publicKey_.data()), CKR_OK);
        CK_ATTRIBUTE params{CKA_EC_PARAMS, nullptr, 0};
        const bool made = withParams && EncodeECParams(&field, &point, sBox, &params);
        if (encoded != nullptr) *encoded = made;
        CK_ULONG keyType = CKK_DSTU4145;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE entries[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                  {objectClass == CKO_PRIVATE_KEY ? CKA_SIGN : CKA_VERIFY, &yes, sizeof(yes)},
                                  params};
        PKCS11ObjectPtr key;
        EXPECT_EQ(CreateObjectForClass(objectClass, entries, made ? 4 : 3, false, key.Address()), CKR_OK);
        delete[] static_cast<std::uint8_t*>(params.pValue);
        return key;
    }
    static Bytes Value(std::size_t n)
    {
        Bytes v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(3 * i + 1);
        return v;
    }

    // The public key object of the last pair made on curve `curve`.
    PKCS11ObjectPtr MakeVerifyKey(std::uint32_t curve)
    {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        std::uint8_t sBox[64];
        EXPECT_TRUE(GetStandardCurveRecords(curve, &field, &point));
        EXPECT_TRUE(GetStandardSBoxRecord(0, sBox));
        CK_ATTRIBUTE params{CKA_EC_PARAMS, nullptr, 0};
        CK_ATTRIBUTE ecPoint{CKA_EC_POINT, nullptr, 0};
        EXPECT_TRUE(EncodeECParams(&field, &point, sBox, &params));
        EXPECT_TRUE(MakeECPointAttribute(publicKey_.data(), field.words[DSTU4145_FIELD_M], &ecPoint));
        CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
        CK_ULONG keyType = CKK_DSTU4145;
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE entries[] = {{CKA_CLASS, &objectClass, sizeof(objectClass)},
                                  {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                  {CKA_VERIFY, &yes, sizeof(yes)},
                                  params,
                                  ecPoint};
        PKCS11ObjectPtr key;
        EXPECT_EQ(CreateObjectForClass(objectClass, entries, 5, false, key.Address()), CKR_OK);
        delete[] static_cast<std::uint8_t*>(params.pValue);
        delete[] static_cast<std::uint8_t*>(ecPoint.pValue);
        return key;
    }

    std::array<std::uint8_t, 76> publicKey_{};
};

TEST_F(Pkcs11Sign, SignaturesHaveTheCurvesLengthAndVerify)
{
    bool encoded = false;
    PKCS11ObjectPtr key = MakeKey(0, CKO_PRIVATE_KEY, &encoded);  // order of 163 bits
    ASSERT_TRUE(key.Get());
    if (!encoded) GTEST_SKIP() << "the PKI formats library does not encode curve parameters yet";
    auto engine = devtest::EngineFor(devtest::StandardParameters(0));
    ASSERT_TRUE(engine);
    const struct {
        CK_MECHANISM_TYPE mechanism;
        std::size_t length;
    } cases[] = {{CKM_DSTU4145, 32},
                 {CKM_DSTU4145_GOST34311, 32},
                 {CKM_DSTU4145_DSTU7564_256, 32},
                 {CKM_DSTU4145_DSTU7564_384, 48},
                 {CKM_DSTU4145_DSTU7564_512, 64},
                 {CKM_DSTU4145_ALT, 32},
                 {CKM_DSTU4145_ALT, 48},
                 {CKM_DSTU4145_ALT, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.mechanism) + " " + std::to_string(c.length));
        const Bytes value = Value(c.length);
        CK_ULONG length = 0;
        ASSERT_EQ(PKISign(device_.get(), c.mechanism, nullptr, 0, key.Get(), nullptr, c.length, nullptr, &length),
                  CKR_OK);
        EXPECT_EQ(length, 42u);
        Bytes signature(144, 0);
        length = 41;
        EXPECT_EQ(PKISign(device_.get(), c.mechanism, nullptr, 0, key.Get(), value.data(), c.length, signature.data(),
                          &length),
                  CKR_BUFFER_TOO_SMALL);
        EXPECT_EQ(length, 42u) << "the length needed";
        length = 144;
        ASSERT_EQ(PKISign(device_.get(), c.mechanism, nullptr, 0, key.Get(), value.data(), c.length, signature.data(),
                          &length),
                  CKR_OK);
        EXPECT_EQ(length, 42u);
        EXPECT_EQ(Bytes(signature.begin() + 42, signature.end()), Bytes(102, 0)) << "nothing beyond the signature";
        EXPECT_EQ(
            engine->Verify(value, dstu4145::ByteSpan(publicKey_.data(), 64), dstu4145::ByteSpan(signature.data(), 144)),
            dstu4145::Result::Ok);
    }
}

TEST_F(Pkcs11Sign, UnusableKeysAndValuesAreRefused)
{
    PKCS11ObjectPtr key = MakeKey(1);
    const Bytes value = Value(64);
    Bytes signature(152);
    CK_ULONG length = 152;
    struct Case {
        const char* name;
        CK_MECHANISM_TYPE mechanism;
        CK_ULONG valueLength;
        CK_RV expected;
    } cases[] = {
        {"20-byte hash", CKM_DSTU4145, 20, CKR_DATA_LEN_RANGE},
        {"48 bytes for a 32-byte mechanism", CKM_DSTU4145_GOST34311, 48, CKR_DATA_LEN_RANGE},
        {"40 bytes with the choosing mechanism", CKM_DSTU4145_ALT, 40, CKR_DATA_LEN_RANGE},
        {"a digest mechanism", CKM_DSTU7564_256, 32, CKR_MECHANISM_INVALID},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PKISign(device_.get(), c.mechanism, nullptr, 0, key.Get(), value.data(), c.valueLength,
                          signature.data(), &length),
                  c.expected)
            << c.name;
    EXPECT_EQ(PKISign(device_.get(), CKM_DSTU4145, nullptr, 0, key.Get(), nullptr, 32, signature.data(), &length),
              CKR_ARGUMENTS_BAD);
    PKCS11ObjectPtr bare = MakeKey(1, CKO_PRIVATE_KEY, nullptr, false);
    EXPECT_EQ(PKISign(device_.get(), CKM_DSTU4145, nullptr, 0, bare.Get(), value.data(), 32, nullptr, &length),
              CKR_ATTRIBUTE_TYPE_INVALID)
        << "a key without curve parameters, even for a length query";
    EXPECT_EQ(PKISign(device_.get(), CKM_DSTU4145, nullptr, 0, key.Get(), value.data(), 32, signature.data(), nullptr),
              CKR_ARGUMENTS_BAD);

    PKCS11ObjectPtr publicKey = MakeKey(1, CKO_PUBLIC_KEY);
    EXPECT_EQ(
        PKISign(device_.get(), CKM_DSTU4145, nullptr, 0, publicKey.Get(), value.data(), 32, signature.data(), &length),
        CKR_KEY_HANDLE_INVALID);
}

TEST_F(Pkcs11Sign, ECPointIsAnOctetStringOfTheFieldBytes)
{
    std::array<std::uint8_t, 76> record{};
    for (std::size_t i = 0; i < 21; ++i) record[i] = static_cast<std::uint8_t>(0xA0 + i);
    CK_ATTRIBUTE ecPoint{0, nullptr, 0};
    ASSERT_TRUE(MakeECPointAttribute(record.data(), 163, &ecPoint));
    Bytes expected{0x04, 21};
    expected.insert(expected.end(), record.begin(), record.begin() + 21);
    EXPECT_EQ(ecPoint.type, CKA_EC_POINT);
    EXPECT_EQ(Bytes(static_cast<std::uint8_t*>(ecPoint.pValue),
                    static_cast<std::uint8_t*>(ecPoint.pValue) + ecPoint.ulValueLen),
              expected);
    std::array<std::uint8_t, 76> back{};
    EXPECT_TRUE(DecodeECPoint(static_cast<std::uint8_t*>(ecPoint.pValue), ecPoint.ulValueLen, back.data()));
    EXPECT_EQ(back, record);
    delete[] static_cast<std::uint8_t*>(ecPoint.pValue);

    record[21] = 1;
    EXPECT_FALSE(MakeECPointAttribute(record.data(), 163, &ecPoint)) << "a point wider than the field";
    const std::uint8_t notOctets[] = {0x02, 0x01, 0x05};
    EXPECT_FALSE(DecodeECPoint(notOctets, sizeof(notOctets), back.data()));
}

TEST_F(Pkcs11Sign, SignaturesVerifyOnTheHostAndChangesFail)
{
    bool encoded = false;
    PKCS11ObjectPtr privateKey = MakeKey(0, CKO_PRIVATE_KEY, &encoded);
    if (!encoded) GTEST_SKIP() << "the PKI formats library does not encode curve parameters yet";
    PKCS11ObjectPtr publicKey = MakeVerifyKey(0);
    ASSERT_TRUE(publicKey.Get());
    for (CK_ULONG n : {32u, 48u, 64u}) {
        SCOPED_TRACE(n);
        const Bytes value = Value(n);
        Bytes signature(152);
        CK_ULONG length = signature.size();
        ASSERT_EQ(PKISign(device_.get(), CKM_DSTU4145_ALT, nullptr, 0, privateKey.Get(), value.data(), n,
                          signature.data(), &length),
                  CKR_OK);
        ASSERT_EQ(length, 42u);
        EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145_ALT, publicKey.Get(), value.data(), n, signature.data(), 42),
                  CKR_OK);
        Bytes changed = signature;
        changed[5] ^= 0x01;
        EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145_ALT, publicKey.Get(), value.data(), n, changed.data(), 42),
                  CKR_SIGNATURE_INVALID);
        Bytes otherValue = value;
        otherValue[0] ^= 0x80;
        EXPECT_EQ(
            PKIVerify(device_.get(), CKM_DSTU4145_ALT, publicKey.Get(), otherValue.data(), n, signature.data(), 42),
            CKR_SIGNATURE_INVALID);
        // A signature whose last bytes are zero, cut short, must not verify.
        Bytes truncated(signature.begin(), signature.begin() + 42);
        truncated[40] = truncated[41] = 0;
        EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145_ALT, publicKey.Get(), value.data(), n, truncated.data(), 40),
                  CKR_SIGNATURE_LEN_RANGE);
        EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145_ALT, publicKey.Get(), value.data(), n, signature.data(), 153),
                  CKR_SIGNATURE_LEN_RANGE);
    }
    const Bytes value = Value(32);
    Bytes signature(42);
    EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145, privateKey.Get(), value.data(), 32, signature.data(), 42),
              CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU4145, publicKey.Get(), value.data(), 20, signature.data(), 42),
              CKR_DATA_LEN_RANGE);
    EXPECT_EQ(PKIVerify(device_.get(), CKM_DSTU7564_256, publicKey.Get(), value.data(), 32, signature.data(), 42),
              CKR_MECHANISM_INVALID);
}

}  // namespace
