// The signature-value imprints the facade computes itself, over the real CSP
// on the stand-in provider libraries, against the published DSTU 7564
// answers (the messages are the standard's byte sequences 00 01 02 ...).
#include "KeyProviders.h"

using namespace keytest;

namespace {

Bytes Unhex(const std::string& hex)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Counting(std::size_t n)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
}

class SignatureValueImprints : public Providers {};

}  // namespace

TEST_F(SignatureValueImprints, DSTU7564ImprintsEqualThePublishedAnswers)
{
    struct Case {
        std::size_t messageBytes;
        std::uint32_t hashBytes;
        const char* expected;
    };
    const Case cases[] = {
        {64, 32, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
        {128, 32, "0A9474E645A7D25E255E9E89FFF42EC7EB31349007059284F0B182E452BDA882"},
        {64, 64,
         "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B3560DD1D7E29C6F53978AF58B444E37BA685C0DD910533BA5D78EFFFC13DE62A"},
    };
    for (const Case& c : cases) {
        auto* signer = new fake::CmsSigner(lib);
        signer->signatureValue = Counting(c.messageBytes);
        Bytes hash(c.hashBytes);
        ASSERT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, c.hashBytes, hash.data()), 1);
        EXPECT_EQ(hash, Unhex(c.expected)) << c.messageBytes << "/" << c.hashBytes;
        // Only hash kind 3 is DSTU 7564.
        EXPECT_EQ(facade->HashSignatureValueDSTU7564(signer, 1, c.hashBytes, hash.data()), 0);
        signer->Release();
    }
}

// A signature value of the largest DSTU 4145 signature is hashed; one byte
// more is refused before it is read.
TEST_F(SignatureValueImprints, DSTU7564SignatureValuesUpTo152Bytes)
{
    auto* signer = new fake::CmsSigner(lib);
    signer->signatureValue = Counting(PKIF_DSTU4145_SIGNATURE_MAX);
    Bytes hash(32), direct(32);
    ASSERT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, 32, hash.data()), 1);
    ASSERT_EQ(csp->HashDSTU7564(signer->signatureValue.data(), PKIF_DSTU4145_SIGNATURE_MAX, nullptr, 32, direct.data()),
              CSP_OK);
    EXPECT_EQ(hash, direct);
    signer->signatureValue = Counting(PKIF_DSTU4145_SIGNATURE_MAX + 1);
    lib.log.clear();
    EXPECT_EQ(facade->HashSignatureValueDSTU7564(signer, 3, 32, hash.data()), 0);
    EXPECT_EQ(lib.log, std::vector<std::string>{"4918:70(length)"});
    signer->Release();
}
