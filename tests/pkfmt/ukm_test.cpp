// Key-agreement UKM objects (4928 / 4199 and 4263) through the codec: the
// encoding against bytes worked out by hand, the lengths the key's agreement
// limits are counted against, and refusals.
#include <string>

#include "pkfmt_fixture.h"
#include "support/PKIKeyAgreement.h"

namespace pkfmttest {
namespace {

class PkfmtUkm : public PkfmtTest {
protected:
    Bytes Encode(IPKIObject* object)
    {
        auto codec = Make<IPKICodec>(PKI_CLASS_CODEC, PKI_IID_CODEC);
        EXPECT_EQ(codec->Attach(object), PKI_OK);
        Blob out(pki_);
        EXPECT_EQ(codec->Encode(&out), PKI_OK);
        return out.bytes();
    }
    int Decode(IPKIObject* object, const Bytes& der)
    {
        auto codec = Make<IPKICodec>(PKI_CLASS_CODEC, PKI_IID_CODEC);
        EXPECT_EQ(codec->Attach(object), PKI_OK);
        PKIBlob in = In(der);
        return codec->Decode(&in);
    }
    Bytes EncodeNew(const char* oid, const Bytes& data)
    {
        auto ukm = Make<IPKIUKMEx>(PKI_CLASS_UKM, PKI_IID_UKM_EX);
        EXPECT_EQ(ukm->SetUKM(oid, data.data(), static_cast<std::uint32_t>(data.size()), 256), PKI_OK);
        return Encode(ukm.get());
    }
};

// OID 1.2.804.2.1.1.1.1.1.1.5: 1*40+2 = 0x2A; 804 = 6*128 + 36 -> 86 24;
// then 02 01 01 01 01 01 01 05.
const Bytes kOldOid = {0x06, 0x0B, 0x2A, 0x86, 0x24, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x05};

TEST_F(PkfmtUkm, OlderFormEncodesAsWorkedOutByHand)
{
    const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8};
    auto ukm = Make<IPKIUKM>(PKI_CLASS_UKM, PKI_IID_UKM);
    ASSERT_EQ(ukm->SetUKM(data.data(), 8, 256), PKI_OK);
    Bytes expected = {0x30, 0x23, 0x30, 0x0D};  // SEQUENCE of 35; AlgorithmIdentifier of 13, no parameters
    expected.insert(expected.end(), kOldOid.begin(), kOldOid.end());
    // [0] { OCTET STRING of 8 }
    for (std::uint8_t b : {0xA0, 0x0A, 0x04, 0x08}) expected.push_back(b);
    expected.insert(expected.end(), data.begin(), data.end());
    // [2] { OCTET STRING 00 00 01 00 }: 256 bits
    for (std::uint8_t b : {0xA2, 0x06, 0x04, 0x04, 0x00, 0x00, 0x01, 0x00}) expected.push_back(b);
    const Bytes der = Encode(ukm.get());
    EXPECT_EQ(der, expected);

    // Empty shared data leaves [0] out.
    ASSERT_EQ(ukm->SetUKM(nullptr, 0, 512), PKI_OK);
    Bytes empty = {0x30, 0x17, 0x30, 0x0D};
    empty.insert(empty.end(), kOldOid.begin(), kOldOid.end());
    for (std::uint8_t b : {0xA2, 0x06, 0x04, 0x04, 0x00, 0x00, 0x02, 0x00}) empty.push_back(b);
    EXPECT_EQ(Encode(ukm.get()), empty);

    // Decoding gives back what was set, on either interface of one object.
    auto back = Make<IPKIUKM>(PKI_CLASS_UKM, PKI_IID_UKM);
    ASSERT_EQ(Decode(back.get(), expected), PKI_OK);
    Blob got(pki_);
    std::uint32_t bits = 0;
    ASSERT_EQ(back->GetUKM(&got, &bits), PKI_OK);
    EXPECT_EQ(got.bytes(), data);
    EXPECT_EQ(bits, 256u);
    auto ex = Query<IPKIUKMEx>(back, PKI_IID_UKM_EX);
    char oid[64] = {};
    Blob again(pki_);
    ASSERT_EQ(ex->GetUKM(oid, sizeof(oid), &again, &bits), PKI_OK);
    EXPECT_STREQ(oid, PKI_OID_UKM_GOST28147_WRAP);
    EXPECT_EQ(again.bytes(), data);
    char small[8] = {};
    Blob none(pki_);
    EXPECT_EQ(ex->GetUKM(small, sizeof(small), &none, &bits), PKI_E_INVALID_ARGUMENT);
}

// The key's agreement takes at most 95 encoded bytes in the older form and
// 183 in the newer: 66 and 151 bytes of shared data are the last that fit.
TEST_F(PkfmtUkm, EncodedLengthsGrowWithTheirLengthFields)
{
    auto old = Make<IPKIUKM>(PKI_CLASS_UKM, PKI_IID_UKM);
    for (std::uint32_t n : {66u, 67u}) {
        const Bytes data = Pattern(n, 3);
        ASSERT_EQ(old->SetUKM(data.data(), n, 256), PKI_OK);
        EXPECT_EQ(Encode(old.get()).size(), 29u + n) << n;
    }
    // 151: OCTET STRING 04 81 97 (154), [0] A0 81 9A (157), SEQUENCE 30 81 B4.
    const Bytes der = EncodeNew(PKI_OID_UKM_DSTU7624_WRAP, Pattern(151, 9));
    ASSERT_EQ(der.size(), 183u);
    EXPECT_EQ(Bytes(der.begin(), der.begin() + 3), (Bytes{0x30, 0x81, 0xB4}));
    EXPECT_EQ(Bytes(der.begin() + 18, der.begin() + 24), (Bytes{0xA0, 0x81, 0x9A, 0x04, 0x81, 0x97}));
    // 1.2.804.2.1.1.1.1.1.3.11 ends in 03 0B, after a 3-byte SEQUENCE header.
    EXPECT_EQ(Bytes(der.begin() + 16, der.begin() + 18), (Bytes{0x03, 0x0B}));
    EXPECT_EQ(EncodeNew(PKI_OID_UKM_DSTU7624_WRAP, Pattern(152, 9)).size(), 184u);
}

TEST_F(PkfmtUkm, BadSettingsAndEncodingsAreRefused)
{
    auto ukm = Make<IPKIUKMEx>(PKI_CLASS_UKM, PKI_IID_UKM_EX);
    const Bytes data = Pattern(8, 1);
    EXPECT_EQ(ukm->SetUKM(PKI_OID_UKM_DSTU7624_WRAP, nullptr, 8, 256), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(ukm->SetUKM(PKI_OID_UKM_DSTU7624_WRAP, data.data(), 8, 0), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(ukm->SetUKM("not an oid", data.data(), 8, 256), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(ukm->SetUKM(nullptr, data.data(), 8, 256), PKI_E_INVALID_ARGUMENT);
    {
        auto codec = Make<IPKICodec>(PKI_CLASS_CODEC, PKI_IID_CODEC);
        ASSERT_EQ(codec->Attach(ukm.get()), PKI_OK);
        Blob out(pki_);
        EXPECT_EQ(codec->Encode(&out), PKI_E_NOT_SET);
    }
    EXPECT_THROW(Make<IPKIObject>(PKI_CLASS_UKM, PKI_IID_GOST28147_PARAMETERS), std::runtime_error);

    const Bytes good = EncodeNew(PKI_OID_UKM_DSTU7624_WRAP, data);
    ASSERT_EQ(Decode(ukm.get(), good), PKI_OK);
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes shortBits = good;  // [2] holding 3 bytes
    shortBits[1] -= 1;
    shortBits[shortBits.size() - 7] -= 1;
    shortBits[shortBits.size() - 5] -= 1;
    shortBits.pop_back();
    Bytes wrongTag = good;  // [1] in place of [2]
    wrongTag[wrongTag.size() - 8] = 0xA1;
    Bytes emptyData = EncodeNew(PKI_OID_UKM_DSTU7624_WRAP, {});  // then [0] holding an empty OCTET STRING
    emptyData.insert(emptyData.begin() + 17, {0xA0, 0x02, 0x04, 0x00});
    emptyData[1] += 4;
    Bytes withParameters = good;  // AlgorithmIdentifier with NULL parameters
    withParameters.insert(withParameters.begin() + 17, {0x05, 0x00});
    withParameters[1] += 2;
    withParameters[3] += 2;
    for (const Bytes* bad : {&trailing, &shortBits, &wrongTag, &emptyData, &withParameters}) {
        auto fresh = Make<IPKIUKMEx>(PKI_CLASS_UKM, PKI_IID_UKM_EX);
        EXPECT_EQ(Decode(fresh.get(), *bad), PKI_E_BAD_ENCODING) << bad - &trailing;
        Blob got(pki_);
        std::uint32_t bits = 0;
        EXPECT_EQ(fresh->GetUKM(nullptr, 0, &got, &bits), PKI_E_NOT_SET) << "a refused decoding sets nothing";
    }
}

}  // namespace
}  // namespace pkfmttest
