// DSTU 4145 parameters as CKA_EC_PARAMS carries them, through the module's
// crypto service provider and the PKI formats stand-in of the distribution
// folder: the DER of a standard curve checked byte for byte against one
// built here from the published OID and S-box, the mapping back to the
// standard indexes, and the attribute's 8-byte stored form.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PkiServicesStart.h"
#include "csp/CSP.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// X.690: the first two arcs as 40a + b, then base-128 with continuation bits.
Bytes OidBody(const std::string& dotted)
{
    std::vector<unsigned long> arcs;
    std::size_t start = 0;
    while (start <= dotted.size()) {
        const std::size_t dot = dotted.find('.', start);
        arcs.push_back(std::stoul(dotted.substr(start, dot - start)));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    Bytes out;
    auto put = [&](unsigned long v) {
        Bytes groups{static_cast<std::uint8_t>(v & 0x7F)};
        while ((v >>= 7) != 0) groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (v & 0x7F)));
        out.insert(out.end(), groups.begin(), groups.end());
    };
    put(40 * arcs[0] + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
    return out;
}

Bytes ValueOf(const CK_ATTRIBUTE& a)
{
    const auto* p = static_cast<const std::uint8_t*>(a.pValue);
    return Bytes(p, p + a.ulValueLen);
}

class Pkcs11Dstu4145 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartPKIServicesAsTheModule()); }
    void TearDown() override { StopPKIServices(); }

    Bytes Standard(std::uint32_t curve, std::uint32_t sBox)
    {
        CK_ATTRIBUTE a{};
        EXPECT_TRUE(MakeStandardECParamsAttribute(curve, sBox, &a));
        Bytes v = ValueOf(a);
        FreeAttributeValue(&a);
        return v;
    }
};

TEST_F(Pkcs11Dstu4145, AStandardCurveIsItsNameAndItsSBox)
{
    char oid[CSP_CURVE_TEXT_BYTES] = {};
    ASSERT_NE(ModuleCSP->Parameters().GetStandardCurveInfo(1, 3, nullptr, nullptr, oid), 0);
    GOST28147PackedSBox sBox;
    ASSERT_NE(ModuleCSP->Parameters().GetStandardSBox(0, &sBox), 0);
    const Bytes body = OidBody(oid);
    Bytes expected{0x30, static_cast<std::uint8_t>(2 + body.size() + 2 + 64), 0x06,
                   static_cast<std::uint8_t>(body.size())};
    expected.insert(expected.end(), body.begin(), body.end());
    expected.insert(expected.end(), {0x04, 0x40});
    const auto* s = reinterpret_cast<const std::uint8_t*>(&sBox);
    expected.insert(expected.end(), s, s + 64);
    const Bytes der = Standard(3, 0);
    EXPECT_EQ(der, expected);
    DSTU4145FieldRecord field, standardField;
    DSTU4145PointRecord point, standardPoint;
    std::uint8_t decodedSBox[64];
    ASSERT_TRUE(DecodeECParams(der.data(), der.size(), &field, &point, decodedSBox));
    ASSERT_TRUE(GetStandardCurveRecords(3, &standardField, &standardPoint));
    EXPECT_EQ(std::memcmp(&field, &standardField, sizeof(field)), 0);
    EXPECT_EQ(std::memcmp(&point, &standardPoint, sizeof(point)), 0);
    EXPECT_EQ(std::memcmp(decodedSBox, s, 64), 0);

    std::uint32_t curve = 99, box = 99;
    ASSERT_TRUE(ECParamsToStandardIndexes(der.data(), der.size(), &curve, &box));
    EXPECT_EQ(curve, 3u);
    EXPECT_EQ(box, 0u);
    const Bytes other = Standard(3, 1);
    EXPECT_FALSE(SameECParams(der.data(), der.size(), other.data(), other.size()));
    EXPECT_TRUE(SameECParams(der.data(), der.size(), der.data(), der.size()));
}

TEST_F(Pkcs11Dstu4145, ExplicitRecordsDecodeToTheSameCurveAndOthersToNone)
{
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::uint8_t sBox[64];
    for (std::uint32_t index : {0u, 5u, 9u}) {
        ASSERT_TRUE(GetStandardCurveRecords(index, &field, &point));
        ASSERT_TRUE(GetStandardSBoxRecord(2, sBox));
        CK_ATTRIBUTE a{};
        ASSERT_TRUE(EncodeECParams(&field, &point, sBox, &a));
        // The explicit DER carries everything the records hold.
        DSTU4145FieldRecord decodedField;
        DSTU4145PointRecord decodedPoint;
        std::uint8_t decodedSBox[64];
        ASSERT_TRUE(DecodeECParams(static_cast<std::uint8_t*>(a.pValue), a.ulValueLen, &decodedField, &decodedPoint,
                                   decodedSBox));
        EXPECT_EQ(std::memcmp(&decodedField, &field, sizeof(field)), 0) << index;
        EXPECT_EQ(std::memcmp(&decodedPoint, &point, sizeof(point)), 0) << index;
        EXPECT_EQ(std::memcmp(decodedSBox, sBox, 64), 0) << index;
        std::uint32_t curve = 99, box = 99;
        EXPECT_TRUE(ECParamsToStandardIndexes(static_cast<std::uint8_t*>(a.pValue), a.ulValueLen, &curve, &box))
            << index;
        EXPECT_EQ(curve, index);
        EXPECT_EQ(box, 2u);
        // The same curve by name and explicitly.
        const Bytes named = Standard(index, 2);
        EXPECT_TRUE(SameECParams(named.data(), named.size(), static_cast<std::uint8_t*>(a.pValue), a.ulValueLen));
        FreeAttributeValue(&a);
    }
    field.words[DSTU4145_FIELD_B] ^= 1;  // no longer a curve of the table
    CK_ATTRIBUTE a{};
    ASSERT_TRUE(EncodeECParams(&field, &point, sBox, &a));
    std::uint32_t curve = 0, box = 0;
    EXPECT_FALSE(ECParamsToStandardIndexes(static_cast<std::uint8_t*>(a.pValue), a.ulValueLen, &curve, &box));
    FreeAttributeValue(&a);
}

// The provider's check of a parameter set is remembered once it has passed:
// the same set passes again with the point record the check gave, while a
// set never checked (one bit away from it) and every set after a restart of
// the services are checked by the provider again.
TEST_F(Pkcs11Dstu4145, APassedParameterSetIsRememberedUntilTheServicesStop)
{
    const Bytes der = Standard(3, 0);
    DSTU4145FieldRecord field;
    DSTU4145PointRecord point, again;
    std::uint8_t sBox[64];
    ASSERT_TRUE(DecodeAndCheckECParams(der.data(), der.size(), &field, &point, sBox));
    EXPECT_NE(point.words[DSTU4145_POINT_BITS], 0u) << "the check gives the order's bit length";
    CK_ATTRIBUTE changed{};
    field.words[DSTU4145_FIELD_B] ^= 1;
    ASSERT_TRUE(EncodeECParams(&field, &point, sBox, &changed));

    // The provider refuses every check from here on (its states cannot be had).
    setenv("QVK_CGLIB_FAIL", "DSTU4145AcquireState", 1);
    std::memset(&again, 0, sizeof(again));
    EXPECT_TRUE(DecodeAndCheckECParams(der.data(), der.size(), &field, &again, sBox));
    EXPECT_EQ(std::memcmp(&again, &point, sizeof(point)), 0);
    EXPECT_FALSE(
        DecodeAndCheckECParams(static_cast<std::uint8_t*>(changed.pValue), changed.ulValueLen, &field, &again, sBox));
    const Bytes other = Standard(4, 0);
    EXPECT_FALSE(DecodeAndCheckECParams(other.data(), other.size(), &field, &again, sBox));
    StopPKIServices();
    ASSERT_TRUE(StartPKIServices(nullptr));
    EXPECT_FALSE(DecodeAndCheckECParams(der.data(), der.size(), &field, &again, sBox));
    unsetenv("QVK_CGLIB_FAIL");
    EXPECT_TRUE(DecodeAndCheckECParams(der.data(), der.size(), &field, &again, sBox));
    EXPECT_FALSE(
        DecodeAndCheckECParams(static_cast<std::uint8_t*>(changed.pValue), changed.ulValueLen, &field, &again, sBox))
        << "not a curve";
    FreeAttributeValue(&changed);
}

TEST_F(Pkcs11Dstu4145, StoredFormOfTheEcParamsAttribute)
{
    // A value the table does not know is stored as it is.
    const Bytes unknown{0x30, 0x05, 0x06, 0x03, 0x2A, 0x03, 0x04};
    PKCS11Attribute* a = nullptr;
    ASSERT_EQ(CreateAttributeForType(CKA_EC_PARAMS, &a), CKR_OK);
    ASSERT_EQ(a->SetValue(unknown.data(), unknown.size()), CKR_OK);
    CK_ULONG length = 64;
    Bytes raw(64);
    ASSERT_EQ(a->Serialize(raw.data(), &length), CKR_OK);
    raw.resize(length);
    Bytes expectedRaw{0, 0, 1, 0x80, 0, 0, 0, 7};
    expectedRaw.insert(expectedRaw.end(), unknown.begin(), unknown.end());
    EXPECT_EQ(raw, expectedRaw);
    a->Release();

    // Eight stored bytes that form a valid pair are that standard curve.
    const Bytes pair{0, 0, 1, 0x80, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 1};
    PKCS11Attribute* back = nullptr;
    CK_ULONG used = 0;
    ASSERT_EQ(DeserializeAttribute(pair.data(), pair.size(), &back, &used), CKR_OK);
    EXPECT_EQ(Bytes(back->GetValue(), back->GetValue() + back->GetLength()), Standard(2, 1));
    back->Release();

    const Bytes der = Standard(3, 0);
    ASSERT_EQ(CreateAttributeForType(CKA_EC_PARAMS, &a), CKR_OK);
    ASSERT_EQ(a->SetValue(der.data(), der.size()), CKR_OK);
    ASSERT_EQ(a->Serialize(nullptr, &length), CKR_OK);
    Bytes stored(length);
    ASSERT_EQ(a->Serialize(stored.data(), &length), CKR_OK);
    EXPECT_EQ(stored, (Bytes{0, 0, 1, 0x80, 0, 0, 0, 8, 0, 0, 0, 3, 0, 0, 0, 0}));
    a->Release();
    ASSERT_EQ(DeserializeAttribute(stored.data(), stored.size(), &back, &used), CKR_OK);
    EXPECT_EQ(Bytes(back->GetValue(), back->GetValue() + back->GetLength()), der);
    back->Release();
}

TEST_F(Pkcs11Dstu4145, GostParametersCarryAnSBoxOrAReference)
{
    // An S-box: OCTET STRING of the 64 packed bytes the provider holds.
    for (std::uint32_t j : {0u, 9u}) {
        GOST28147PackedSBox packed;
        ASSERT_NE(ModuleCSP->Parameters().GetStandardSBox(j, &packed), 0);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&packed);
        Bytes expected{0x04, 0x40};
        expected.insert(expected.end(), p, p + 64);
        CK_ATTRIBUTE a{};
        ASSERT_TRUE(MakeStandardSBoxInfoAttribute(j, &a));
        EXPECT_EQ(a.type, CKA_VENDOR_KEY_INFO);
        EXPECT_EQ(ValueOf(a), expected) << j;
        bool isReference = true;
        std::uint8_t sBox[64] = {};
        char text[8] = "x";
        EXPECT_TRUE(DecodeGOST28147Parameters(expected.data(), expected.size(), &isReference, sBox, text, 8));
        EXPECT_FALSE(isReference);
        EXPECT_EQ(std::memcmp(sBox, p, 64), 0);
        FreeAttributeValue(&a);
    }
    CK_ATTRIBUTE none{};
    EXPECT_FALSE(MakeStandardSBoxInfoAttribute(10, &none));

    // A reference: the OID's DER, built here from the dotted text.
    const std::string dotted = "1.2.804.2.1.1.1.1.1.1.0.7";
    const Bytes body = OidBody(dotted);
    Bytes expected{0x06, static_cast<std::uint8_t>(body.size())};
    expected.insert(expected.end(), body.begin(), body.end());
    CK_ATTRIBUTE a{};
    ASSERT_TRUE(MakeSBoxInfoAttribute(nullptr, dotted.c_str(), &a));
    EXPECT_EQ(ValueOf(a), expected);
    FreeAttributeValue(&a);
    bool isReference = false;
    std::uint8_t sBox[64];
    char text[64] = {};
    ASSERT_TRUE(DecodeGOST28147Parameters(expected.data(), expected.size(), &isReference, sBox, text, sizeof(text)));
    EXPECT_TRUE(isReference);
    EXPECT_EQ(std::string(text), dotted);
    EXPECT_FALSE(DecodeGOST28147Parameters(expected.data(), expected.size(), &isReference, sBox, text, 5))
        << "a reference longer than the buffer";

    // Exactly one of the two; damaged encodings are refused.
    std::uint8_t s64[64] = {};
    EXPECT_FALSE(MakeSBoxInfoAttribute(nullptr, nullptr, &a));
    EXPECT_FALSE(MakeSBoxInfoAttribute(s64, dotted.c_str(), &a));
    EXPECT_FALSE(MakeSBoxInfoAttribute(nullptr, "not an oid", &a));
    Bytes shortBox{0x04, 0x3F};
    shortBox.resize(2 + 63);
    Bytes trailing = expected;
    trailing.push_back(0);
    const Bytes integer{0x02, 0x01, 0x05};
    for (const Bytes& bad : {shortBox, trailing, integer, Bytes{0x04}}) {
        EXPECT_FALSE(DecodeGOST28147Parameters(bad.data(), bad.size(), &isReference, sBox, text, sizeof(text)));
    }
}

}  // namespace
