// CKM_GOST34311 parameters through the module's crypto service provider and
// the PKI formats stand-in of the distribution folder: the encoding checked
// byte for byte against DER built here, what a parameter resolves to, the
// refusals, and the GOST R 34.11-94 published answers under the parameters
// given and under a key's own S-box.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "GostTestSBox.h"
#include "PkiServicesStart.h"
#include "TestHex.h"
#include "crypto/GOST34311.h"
#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11Digest.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11SignVerify.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using cryptotest::Hex;

Bytes TestSBox()
{
    const auto packed = cryptotest::PackedGostTestSBox();
    return Bytes(packed.begin(), packed.end());
}

// The system's default S-box as published.
const char* const kDefaultSBox = "8a09cd469e6b74b52f3113fc57e0a8d23f86d5986ebbfa042c50c3a742e9117d"
                                 "2f889e7957f200bdcc16d1e5ab34634a13283be566d4be8af2acc157799f0d40";

Bytes StartVector()
{
    Bytes v(32);
    for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(0xA0 + i);
    return v;
}

// The parts one after another (appended byte by byte: GCC 12 misjudges the
// bounds of range inserts into small vectors).
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        for (std::uint8_t b : part) out.push_back(b);
    return out;
}

// SEQUENCE { OCTET STRING sBox, [OCTET STRING startVector] } from its bytes.
Bytes ExplicitDer(const Bytes& sBox, const Bytes& startVector = {})
{
    Bytes body = Cat({{0x04, static_cast<std::uint8_t>(sBox.size())}, sBox});
    if (!startVector.empty()) body = Cat({body, {0x04, static_cast<std::uint8_t>(startVector.size())}, startVector});
    return Cat({{0x30, static_cast<std::uint8_t>(body.size())}, body});
}

Bytes Value(const CK_ATTRIBUTE& a)
{
    const auto* p = static_cast<const std::uint8_t*>(a.pValue);
    return Bytes(p, p + a.ulValueLen);
}

class Pkcs11Gost34311Parameters : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(StartPKIServicesAsTheModule()); }
    void TearDown() override { StopPKIServices(); }

    Bytes Make(const void* value, const Bytes& startVector, std::uint32_t kind)
    {
        CK_ATTRIBUTE a{};
        if (!MakeGOST34311ParametersAttribute(value, startVector.empty() ? nullptr : startVector.data(), kind, &a))
            return {};
        EXPECT_EQ(a.type, CKA_VENDOR_DEFINED);
        Bytes v = Value(a);
        FreeAttributeValue(&a);
        return v;
    }

    Bytes Digest(const Bytes& parameter, const std::string& message)
    {
        PKIHashState state = nullptr;
        EXPECT_EQ(InitDigestGOST34311(0, parameter.empty() ? nullptr : parameter.data(), parameter.size(), &state),
                  CKR_OK);
        Bytes out(32);
        EXPECT_TRUE(UpdateDigestGOST34311(&state, reinterpret_cast<const std::uint8_t*>(message.data()),
                                          static_cast<std::uint32_t>(message.size())));
        EXPECT_TRUE(FinishDigestGOST34311(&state, out.data()));
        return out;
    }
};

TEST_F(Pkcs11Gost34311Parameters, EncodingIsTheDerBuiltByteForByte)
{
    const Bytes sBox = TestSBox();
    EXPECT_EQ(Make(sBox.data(), {}, 1), ExplicitDer(sBox));
    EXPECT_EQ(Make(sBox.data(), StartVector(), 1), ExplicitDer(sBox, StartVector()));
    // 804 is 6 * 128 + 36: two base-128 digits.
    const Bytes reference{0x30, 0x0E, 0x06, 0x0C, 0x2A, 0x86, 0x24, 0x02,
                          0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, 0x03};
    EXPECT_EQ(Make("1.2.804.2.1.1.1.1.1.1.0.3", {}, 2), reference);

    // Unknown kinds, missing values and texts that are no OID of at most
    // 128 characters make nothing.
    std::string longest = "1.2";
    while (longest.size() < 128) longest += ".1";
    ASSERT_EQ(longest.size(), 129u);
    longest.pop_back();
    longest.back() = '9';
    ASSERT_EQ(longest.size(), 128u);
    EXPECT_FALSE(Make(longest.c_str(), {}, 2).empty());
    const std::string tooLong = longest + "1";
    for (const auto& [value, kind] : {std::pair<const void*, std::uint32_t>{sBox.data(), 3},
                                      {sBox.data(), 0},
                                      {nullptr, 1},
                                      {"not an oid", 2},
                                      {tooLong.c_str(), 2}})
        EXPECT_TRUE(Make(value, {}, kind).empty()) << kind;
}

TEST_F(Pkcs11Gost34311Parameters, ParametersResolveToTheirSBoxAndStartVector)
{
    std::uint8_t sBox[64], vector[32];
    // Empty: standard S-box 0, which is the published default S-box.
    std::memset(vector, 0x55, sizeof(vector));
    ASSERT_EQ(ResolveGOST34311Parameters(0, nullptr, 0, sBox, vector), CKR_OK);
    EXPECT_EQ(Bytes(sBox, sBox + 64), Hex(kDefaultSBox));
    EXPECT_EQ(Bytes(vector, vector + 32), Bytes(32, 0));

    const Bytes test = TestSBox();
    Bytes der = ExplicitDer(test, StartVector());
    ASSERT_EQ(ResolveGOST34311Parameters(0, der.data(), der.size(), sBox, vector), CKR_OK);
    EXPECT_EQ(Bytes(sBox, sBox + 64), test);
    EXPECT_EQ(Bytes(vector, vector + 32), StartVector());
    std::memset(vector, 0x55, sizeof(vector));
    der = ExplicitDer(test);
    ASSERT_EQ(ResolveGOST34311Parameters(0, der.data(), der.size(), sBox, vector), CKR_OK);
    EXPECT_EQ(Bytes(vector, vector + 32), Bytes(32, 0)) << "no start vector is the zero one";

    // A parameter carrying a standard S-box maps back to its index.
    for (std::uint32_t j : {0u, 4u, 9u}) {
        std::uint8_t standard[64];
        ASSERT_TRUE(GetStandardSBoxRecord(j, standard));
        der = ExplicitDer(Bytes(standard, standard + 64));
        ASSERT_EQ(ResolveGOST34311Parameters(0, der.data(), der.size(), sBox, vector), CKR_OK);
        std::uint32_t index = 99;
        ASSERT_TRUE(FindStandardSBoxIndex(sBox, &index));
        EXPECT_EQ(index, j);
    }
}

TEST_F(Pkcs11Gost34311Parameters, UnreadableParametersAreTheCallersError)
{
    const Bytes good = ExplicitDer(TestSBox(), StartVector());
    const Bytes shortVector = ExplicitDer(TestSBox(), Bytes(31, 1));
    const Bytes shortBox = ExplicitDer(Bytes(63, 1));
    const Bytes trailing = Cat({good, {0x00}});
    const Bytes plain = ExplicitDer(TestSBox());
    const Bytes body(plain.begin() + 2, plain.end());
    const Bytes longForm = Cat({{0x30, 0x81, 0x42}, body});  // BER length of a DER-sized body
    Bytes three = Cat({good, {0x05, 0x00}});                 // a NULL after the start vector
    three[1] = static_cast<std::uint8_t>(three[1] + 2);
    const Bytes bareSBox = body;  // GOST 28147 parameters, not these
    const Bytes integer{0x30, 0x03, 0x02, 0x01, 0x05};
    struct Case {
        const char* name;
        Bytes der;
    } cases[] = {{"31-byte start vector", shortVector},
                 {"63-byte S-box", shortBox},
                 {"trailing byte", trailing},
                 {"non-minimal length", longForm},
                 {"third element", three},
                 {"bare S-box", bareSBox},
                 {"integer", integer},
                 {"truncated", Bytes(good.begin(), good.end() - 1)}};
    std::uint8_t sBox[64], vector[32];
    for (const Case& c : cases)
        EXPECT_EQ(ResolveGOST34311Parameters(0, c.der.data(), c.der.size(), sBox, vector), CKR_MECHANISM_PARAM_INVALID)
            << c.name;
    EXPECT_EQ(ResolveGOST34311Parameters(0, nullptr, good.size(), sBox, vector), CKR_MECHANISM_PARAM_INVALID);
    PKIHashState state = nullptr;
    EXPECT_EQ(InitDigestGOST34311(0, nullptr, 4, &state), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(state, nullptr);

    // A reference is read as a terminated text of at most 128 characters:
    // one without a terminator in its 129 bytes never reaches the search.
    const std::string unterminated(129, '1');
    EXPECT_EQ(FindReferencedSBox(0, unterminated.data(), sBox), CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(Pkcs11Gost34311Parameters, ReferencesOfTheFull128CharactersGoToTheSearch)
{
    // 1.2.10 and 61 arcs 3: 3 + 3 + 2 * 61 = 128 characters, a byte an arc
    // after 40 * 1 + 2. One arc more is a character too many.
    Bytes oid{0x2A, 0x0A};
    oid.resize(2 + 61, 0x03);
    const Bytes longest =
        Cat({{0x30, static_cast<std::uint8_t>(2 + oid.size()), 0x06, static_cast<std::uint8_t>(oid.size())}, oid});
    oid.push_back(0x03);
    oid.push_back(0x03);
    const Bytes tooLong =
        Cat({{0x30, static_cast<std::uint8_t>(2 + oid.size()), 0x06, static_cast<std::uint8_t>(oid.size())}, oid});
    std::string text = "1.2.10";
    for (int i = 0; i < 61; ++i) text += ".3";
    ASSERT_EQ(text.size(), 128u);
    EXPECT_EQ(Make(text.c_str(), {}, 2), longest);

    // The full-length text reaches the session's search (there is no session
    // here); the longer one is refused as the parameter it is.
    std::uint8_t sBox[64], vector[32];
    const CK_RV rv = ResolveGOST34311Parameters(0, longest.data(), longest.size(), sBox, vector);
    EXPECT_NE(rv, CKR_MECHANISM_PARAM_INVALID);
    EXPECT_NE(rv, CKR_OK);
    EXPECT_EQ(ResolveGOST34311Parameters(0, tooLong.data(), tooLong.size(), sBox, vector), CKR_MECHANISM_PARAM_INVALID);
}

TEST_F(Pkcs11Gost34311Parameters, DigestsGiveThePublishedAnswersUnderTheParametersGiven)
{
    // The standard's example under its test S-box, given outright.
    EXPECT_EQ(Digest(ExplicitDer(TestSBox()), "This is message, length=32 bytes"),
              Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));
    EXPECT_EQ(Digest(ExplicitDer(TestSBox()), "Suppose the original message has length = 50 bytes"),
              Hex("471ABA57A60A770D3A76130635C1FBEA4EF14DE51F78B4AE57DD893B62F55208"));
    // The default S-box, by an empty parameter and given outright.
    const char* const expected = "7686f3f4b113aadc97bca9ea054f41821f0676c5c28ffb987e41797a568e1ed4";
    EXPECT_EQ(Digest({}, "12345678901234567890123456789011"), Hex(expected));
    EXPECT_EQ(Digest(ExplicitDer(Hex(kDefaultSBox)), "12345678901234567890123456789011"), Hex(expected));

    // A start vector reaches the hash: the engine's own answer under it.
    const std::string message = "message digest";
    GOST34311Context c{};
    const Bytes test = TestSBox();
    const Bytes vector = StartVector();
    ASSERT_EQ(GOST34311SetParameter(&c, test.data(), GOST34311_SBOX), 1);
    ASSERT_EQ(GOST34311SetParameter(&c, vector.data(), GOST34311_START_VECTOR), 1);
    ASSERT_EQ(GOST34311UpdateHash(message.data(), static_cast<std::uint32_t>(message.size()), &c), 1);
    ASSERT_EQ(GOST34311FinishHash(0, &c), 1);
    Bytes engine(32);
    ASSERT_EQ(GOST34311GetParameter(&c, engine.data(), GOST34311_HASH), 1);
    EXPECT_EQ(Digest(ExplicitDer(test, vector), message), engine);
    EXPECT_EQ(Digest(ExplicitDer(test), message),
              Hex("ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"));
    EXPECT_NE(engine, Hex("ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"));
}

TEST_F(Pkcs11Gost34311Parameters, KeyDigestsHashUnderTheKeysOwnSBox)
{
    // A key on standard curve 0 whose parameters carry the test S-box.
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    ASSERT_TRUE(GetStandardCurveRecords(0, &field, &point));
    const Bytes test = TestSBox();
    CK_ATTRIBUTE params{};
    ASSERT_TRUE(EncodeECParams(&field, &point, test.data(), &params));
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    Bytes junk{0x30, 0x03, 0x02, 0x01, 0x05};
    struct Case {
        const char* name;
        CK_ATTRIBUTE params;
        CK_RV expected;
    } cases[] = {{"the key's S-box", params, CKR_OK},
                 {"no parameters", {CKA_LABEL, (void*)"x", 1}, CKR_ATTRIBUTE_TYPE_INVALID},
                 {"unreadable parameters", {CKA_EC_PARAMS, junk.data(), junk.size()}, CKR_DOMAIN_PARAMS_INVALID}};
    for (const Case& c : cases) {
        CK_ATTRIBUTE entries[] = {
            {CKA_CLASS, &objectClass, sizeof(objectClass)}, {CKA_KEY_TYPE, &keyType, sizeof(keyType)}, c.params};
        PKCS11ObjectPtr key;
        ASSERT_EQ(CreateObjectForClass(objectClass, entries, 3, false, key.Address()), CKR_OK) << c.name;
        PKIHashState state = nullptr;
        ASSERT_EQ(BeginKeyDigestGOST34311(key.Get(), &state), c.expected) << c.name;
        if (c.expected != CKR_OK) {
            EXPECT_EQ(state, nullptr);
            continue;
        }
        const std::string message = "This is message, length=32 bytes";
        ASSERT_TRUE(UpdateDigestGOST34311(&state, reinterpret_cast<const std::uint8_t*>(message.data()), 32));
        Bytes out(32);
        ASSERT_TRUE(FinishDigestGOST34311(&state, out.data()));
        EXPECT_EQ(out, Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));
    }
    FreeAttributeValue(&params);
}

}  // namespace
