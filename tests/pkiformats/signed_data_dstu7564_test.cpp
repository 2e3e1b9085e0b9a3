// CMS signed data with DSTU 7564 hashes over the test double: the call
// orders and OIDs of building, adding signers and verifying, the
// signing-certificate check, and what a verification covers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SignedDataInternal.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Log = std::vector<std::string>;

PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

// `pair` (two hex digits) n times.
std::string Repeat(const char* pair, std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += pair;
    return s;
}

bool Logged(const fake::Library& lib, const std::string& entry)
{
    return std::find(lib.log.begin(), lib.log.end(), entry) != lib.log.end();
}

// The objects a DSTU 7564 message is built from.
void UseCmsObjects(fake::Library& lib)
{
    lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKISignedData*>(new fake::CmsSignedData(lib));
    };
    lib.makers[{PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO_DSTU7564}] = [&lib]() -> void* {
        return static_cast<IPKISignerInfoDSTU7564*>(new fake::CmsSigner(lib));
    };
    fake::UseCmsInteger(lib);  // the serial loads
    lib.makers[{PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE_DSTU7564}] = [&lib]() -> void* {
        return static_cast<IPKISigningCertificateDSTU7564*>(new fake::SigningCertificateDSTU7564(lib));
    };
}

class DSTU7564SignedData : public ::testing::Test {
protected:
    void SetUp() override { UseCmsObjects(lib); }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    // A message with one signer that keeps the DSTU extension (so that the
    // signing-certificate test needs no token signer's identity).
    fake::CmsSignedData* Message(const std::string& content)
    {
        auto* data = new fake::CmsSignedData(lib);
        auto* signer = new fake::CmsSigner(lib);
        signer->standardAttributes = 0;
        data->signers.push_back(signer);
        data->hasContent = !content.empty();
        data->content = content;
        return data;
    }
    fake::Library lib;
    SPKIFormats facade{nullptr, nullptr, &lib};
    ISPKIFormats& f = facade;
};

}  // namespace

// The message, its digest OID, the signer with its identifier and DSTU 7564
// signing certificate, and the signer's digest over content or hash, in the
// order the library sees them.
TEST_F(DSTU7564SignedData, BuildingAMessageWithItsSigner)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    const std::string text = "hello";
    PKIBlob content = View(text);
    void* out = nullptr;
    ASSERT_EQ(f.CreateSignedDataOfDataDSTU7564(&content, nullptr, 0, 3, 32, certificate, &out), 1);
    EXPECT_EQ(lib.log, (Log{"0:10(4900,4136)",
                            "4900:17(1.2.840.113549.1.7.1)",
                            "4900:19(5)",
                            "4900:21()",
                            "4900:23(1.2.804.2.1.1.1.1.2.2.1)",
                            "4870:23()",
                            "4870:9(2048)",
                            "4870:7()",
                            "0:6(3)",
                            "0:10(4877,4111)",
                            "4877:4()",
                            "0:7(3)",
                            "0:10(4918,4254)",
                            "4918:4(3,CN=Issuer,0)",
                            "0:10(4919,4253)",
                            "4919:17()",
                            "4919:16()",
                            "4877:1()",
                            "4918:36()",
                            "4919:1()",
                            "4918:30(1.2.840.113549.1.7.1)",
                            "4918:126(content:3:32:hello)",
                            "4900:12()",
                            "4918:1()"}));
    auto* message =
        static_cast<fake::CmsSignedData*>(static_cast<IPKISignedDataSigners*>(static_cast<IPKISignedData*>(out)));
    EXPECT_EQ(message->content, "hello");
    ASSERT_EQ(message->signers.size(), 1u);
    message->Release();

    // A hash makes the message detached and the signer's digest the hash;
    // the sizes 48 and 64 name their own digest OIDs.
    struct Case {
        std::uint32_t bytes;
        const char* oid;
    };
    for (const Case& c : {Case{48, "1.2.804.2.1.1.1.1.2.2.2"}, Case{64, "1.2.804.2.1.1.1.1.2.2.3"}}) {
        lib.log.clear();
        const Bytes h(c.bytes, 0xAB);
        ASSERT_EQ(f.CreateSignedDataWithSignerDSTU7564("1.2.3.4", &content, h.data(), 0, 3, c.bytes, certificate, &out),
                  1);
        message =
            static_cast<fake::CmsSignedData*>(static_cast<IPKISignedDataSigners*>(static_cast<IPKISignedData*>(out)));
        EXPECT_FALSE(Logged(lib, "4900:19(5)"));
        EXPECT_EQ(message->digests, std::vector<std::string>{c.oid});
        EXPECT_EQ(message->signers[0]->digestSet, "hash:3:" + std::to_string(c.bytes) + ":" + Repeat("ab", c.bytes));
        EXPECT_EQ(message->signers[0]->contentType, "1.2.3.4");
        message->Release();
    }
    // Detached: no content in the message, the signer still over the content.
    lib.log.clear();
    ASSERT_EQ(f.CreateSignedDataOfDataDSTU7564(&content, nullptr, 1, 3, 32, certificate, &out), 1);
    EXPECT_FALSE(Logged(lib, "4900:19(5)"));
    EXPECT_TRUE(Logged(lib, "4918:126(content:3:32:hello)"));
    static_cast<IPKISignedData*>(out)->Release();
    certificate->Release();
}

// Hash kind 3 with 32, 48 or 64 bytes only; a certificate that is not DSTU
// 4145 is refused; nothing is handed out or left behind.
TEST_F(DSTU7564SignedData, RefusedKindsAndSizes)
{
    auto* dstu = new fake::CmsCertificate(lib, 1);
    auto* rsa = new fake::CmsCertificate(lib, 2);
    const std::string text = "hello";
    PKIBlob content = View(text);
    struct Case {
        std::uint32_t kind, bytes;
        IPKIObject* certificate;
    };
    for (const Case& c :
         {Case{1, 32, dstu}, Case{2, 32, dstu}, Case{3, 40, dstu}, Case{3, 0, dstu}, Case{3, 32, rsa}}) {
        void* out = nullptr;
        EXPECT_EQ(f.CreateSignedDataOfDataDSTU7564(&content, nullptr, 0, c.kind, c.bytes, c.certificate, &out), 0);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(f.CreateSignerInfoDSTU7564(c.certificate, "1.2.3", &content, nullptr, c.kind, c.bytes, &out), 0);
        EXPECT_EQ(out, nullptr);
    }
    dstu->Release();
    rsa->Release();
}

TEST_F(DSTU7564SignedData, DigestAlgorithmIsAddedOnce)
{
    auto* data = new fake::CmsSignedData(lib);
    EXPECT_EQ(f.AddDigestAlgorithmDSTU7564(data, 3, 48), 1);
    EXPECT_EQ(f.AddDigestAlgorithmDSTU7564(data, 3, 48), 1);
    EXPECT_EQ(f.AddDigestAlgorithmDSTU7564(data, 3, 64), 1);
    EXPECT_EQ(data->digests, (std::vector<std::string>{"1.2.804.2.1.1.1.1.2.2.2", "1.2.804.2.1.1.1.1.2.2.3"}));
    EXPECT_EQ(f.AddDigestAlgorithmDSTU7564(data, 1, 32), 0);
    EXPECT_EQ(f.AddDigestAlgorithmDSTU7564(data, 3, 40), 0);
    EXPECT_EQ(data->digests.size(), 2u);
    data->Release();
}

// A signer added to a message with content covers that content under the
// message's content type; the type is read into a buffer of its own size,
// and a longer one is refused.
TEST_F(DSTU7564SignedData, AddedSignersTakeTheMessagesContentAndType)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    auto* data = new fake::CmsSignedData(lib);
    data->hasContent = true;
    data->content = "message content";
    data->contentType = "1.2.840.113549.1.7.1";
    const std::string callerContent = "caller content";
    PKIBlob other = View(callerContent);
    ASSERT_EQ(f.AddSignerDSTU7564(data, certificate, &other, nullptr, 3, 32), 1);
    EXPECT_TRUE(Logged(lib, "4900:16(64)"));
    ASSERT_EQ(data->signers.size(), 1u);
    EXPECT_EQ(data->signers[0]->digestSet, "content:3:32:message content");
    // Without content the caller's content counts.
    data->hasContent = false;
    ASSERT_EQ(f.AddSignerDSTU7564(data, certificate, &other, nullptr, 3, 32), 1);
    EXPECT_EQ(data->signers[1]->digestSet, "content:3:32:caller content");
    // An empty signer: hash kind and size set, the digest OID listed.
    ASSERT_EQ(f.AddEmptySignerDSTU7564Alias(data, certificate, 3, 64), 1);
    EXPECT_EQ(data->signers[2]->digestSet, "");
    EXPECT_EQ(data->signers[2]->hashBytes, 64u);
    EXPECT_EQ(data->digests, std::vector<std::string>{"1.2.804.2.1.1.1.1.2.2.3"});
    // A peer's content type that does not fit the facade's buffer.
    for (std::size_t length : {std::size_t{63}, std::size_t{64}, std::size_t{300}}) {
        data->contentType = "1." + std::string(length - 2, '2');
        const std::size_t before = data->signers.size();
        const int fits = length < PKIF_CONTENT_TYPE_BYTES ? 1 : 0;
        EXPECT_EQ(f.AddSignerDSTU7564(data, certificate, &other, nullptr, 3, 32), fits) << length;
        EXPECT_EQ(f.AddEmptySignerDSTU7564(data, certificate, 3, 32), fits) << length;
        EXPECT_EQ(data->signers.size(), before + 2 * fits);
    }
    data->Release();
    certificate->Release();
}

// Caller data and the message's content, when both are given, must be the
// same bytes; the hash form verifies the signer's hash size.
TEST_F(DSTU7564SignedData, VerificationCoversTheMessagesContentAndOnlyEqualData)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    struct Case {
        const char* name;
        std::string messageContent;
        const char* data;
        int result;
        const char* verified;
    };
    const Case cases[] = {
        {"content, same data", "signed text", "signed text", 1, "signed text"},
        {"content, other data", "signed text", "other text!", 0, ""},
        {"content, longer data", "signed text", "signed text and more", 0, ""},
        {"content, no data", "signed text", nullptr, 1, "signed text"},
        {"detached, data", "", "detached data", 1, "detached data"},
        {"detached, no data", "", nullptr, 0, ""},
    };
    for (const Case& c : cases) {
        auto* data = Message(c.messageContent);
        std::string given = c.data ? c.data : "";
        PKIBlob blob = View(given);
        EXPECT_EQ(f.VerifySignerDSTU7564(data, 0, c.data ? &blob : nullptr, certificate, nullptr), c.result) << c.name;
        EXPECT_EQ(data->signers[0]->verified, c.verified) << c.name;
        data->Release();
    }
    // A hash: the signer's size of hash is what is verified.
    auto* data = Message("");
    data->signers[0]->hashBytes = 48;
    const Bytes hash(64, 0x0F);
    EXPECT_EQ(f.VerifySignerDSTU7564(data, 0, nullptr, certificate, hash.data()), 1);
    EXPECT_EQ(data->signers[0]->verified, Repeat("0f", 48));
    EXPECT_TRUE(Logged(lib, "4918:132()"));
    // A refused verification, a missing signer, a signer found by
    // certificate (the finder answers 0 until it is built), a certificate
    // without a signing usage.
    data->signers[0]->verifyAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.VerifySignerDSTU7564(data, 0, nullptr, certificate, hash.data()), 0);
    EXPECT_EQ(f.VerifySignerDSTU7564(data, 1, nullptr, certificate, hash.data()), 0);
    EXPECT_EQ(f.VerifySignerDSTU7564(data, -1, nullptr, certificate, hash.data()), 0);
    data->signers[0]->verifyAnswer = 0;
    certificate->usage = 0x10;
    EXPECT_EQ(f.VerifySignerDSTU7564(data, 0, nullptr, certificate, hash.data()), 0);
    data->Release();
    certificate->Release();
}

TEST_F(DSTU7564SignedData, EnvelopedVerificationCopiesTheHashKindBack)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    auto* data = Message("content");
    data->signers[0]->hashBytes = 48;
    lib.log.clear();
    EXPECT_EQ(f.VerifySignerEnvelopedDSTU7564(data, 0, certificate), 1);
    const Log& log = lib.log;
    auto at = std::find(log.begin(), log.end(), "4918:81()");
    ASSERT_NE(at, log.end());
    EXPECT_EQ(Log(at, at + 5), (Log{"4918:81()", "4918:2(4254)", "4918:123()", "4918:133()", "4918:125(3,48)"}));
    data->signers[0]->verifyAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.VerifySignerEnvelopedDSTU7564(data, 0, certificate), 0);
    data->Release();
    certificate->Release();
}

// The signer's standard attributes name its certificate: the test of the
// token signer's identity comes first and answers 0 until it is built. A
// DSTU extension must accept the certificate's key.
TEST_F(DSTU7564SignedData, SignerCertificateCheckByPath)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    auto* signer = new fake::CmsSigner(lib);
    EXPECT_EQ(f.CheckSignerCertificateDSTU7564(signer, certificate), 0);  // identity not available yet
    signer->standardAttributes = 0;
    EXPECT_EQ(f.CheckSignerCertificateDSTU7564(signer, certificate), 1);  // no extension
    signer->hasExtension = true;
    lib.Answer(4918, 6, {0});
    EXPECT_EQ(f.CheckSignerCertificateDSTU7564(signer, certificate), 1);
    lib.Answer(4918, 6, {PKI_E_FAILURE});
    EXPECT_EQ(f.CheckSignerCertificateDSTU7564(signer, certificate), 0);
    signer->Release();
    certificate->Release();
}

// The general form of a signing-certificate entry: only the known hash
// sizes count, the whole hash is compared, and a named issuer and serial
// must be the signer's.
TEST_F(DSTU7564SignedData, SigningCertificateEntryComparesTheWholeHashOfAKnownSize)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    const std::uint8_t serial[20] = {5};
    const std::uint8_t otherSerial[20] = {6};
    struct Case {
        const char* name;
        std::uint32_t bits;
        int flipByte;  // -1: none
        const wchar_t* issuer;
        const std::uint8_t* signerSerial;
        std::uint32_t entries;
        bool accepted;
    };
    const Case cases[] = {
        {"256 bits", 256, -1, L"CN=Issuer", serial, 1, true},
        {"512 bits", 512, -1, L"CN=Issuer", serial, 1, true},
        {"160 bits", 160, -1, L"CN=Issuer", serial, 1, true},
        {"size 0 matches nothing", 0, -1, L"CN=Issuer", serial, 1, false},
        {"size 8", 8, -1, L"CN=Issuer", serial, 1, false},
        {"size past the hash", 4096, -1, L"CN=Issuer", serial, 1, false},
        {"last byte of 512 bits differs", 512, 63, L"CN=Issuer", serial, 1, false},
        {"last byte of 256 bits differs", 256, 31, L"CN=Issuer", serial, 1, false},
        {"other issuer", 256, -1, L"CN=Other", serial, 1, false},
        {"issuer prefix", 256, -1, L"CN=Issuer2", serial, 1, false},
        {"other serial", 256, -1, L"CN=Issuer", otherSerial, 1, false},
        {"two entries", 256, -1, L"CN=Issuer", serial, 2, false},
    };
    for (const Case& c : cases) {
        auto* attribute = new fake::SigningCertificate(lib);
        attribute->bits = c.bits;
        attribute->entries = c.entries;
        if (c.flipByte >= 0) attribute->hash[c.flipByte] ^= 1;
        EXPECT_EQ(pkif::CheckSigningCertificateEntry(attribute, certificate, c.issuer, c.signerSerial), c.accepted)
            << c.name;
        attribute->Release();
    }
    // An entry that names no issuer leaves the identity alone.
    auto* attribute = new fake::SigningCertificate(lib);
    attribute->issuer = L"";
    EXPECT_TRUE(pkif::CheckSigningCertificateEntry(attribute, certificate, L"CN=Other", otherSerial));
    attribute->Release();
    certificate->Release();
}

TEST_F(DSTU7564SignedData, SignerHashKinds)
{
    struct Case {
        bool dstu7564;
        std::uint32_t keyKind, flag;
        int result;
        std::uint32_t kind, size;
    };
    const Case cases[] = {
        {true, 1, 0, 1, 3, 48},   {false, 1, 1, 1, 1, 32}, {false, 2, 1, 1, 2, 256},
        {false, 4, 1, 1, 2, 256}, {false, 3, 1, 0, 9, 9},  {false, 1, 0, 0, 9, 9},
    };
    for (const Case& c : cases) {
        auto* data = new fake::CmsSignedData(lib);
        auto* signer = new fake::CmsSigner(lib, c.dstu7564);
        signer->keyKind = c.keyKind;
        signer->hashBytes = 48;
        data->signers.push_back(signer);
        std::uint32_t kind = 9, size = 9;
        EXPECT_EQ(f.GetSignerHashKindByIndex(data, 0, nullptr, c.flag, &kind, &size), c.result) << c.keyKind;
        EXPECT_EQ(kind, c.kind);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(f.GetSignerHashKindByIndex(data, -1, nullptr, c.flag, &kind, &size), 0);
        data->Release();
    }
}

// The operations that find their signer by certificate answer 0 until the
// finder is built.
TEST_F(DSTU7564SignedData, HashesOfTheCertificatesSignerGoThroughTheFinder)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    auto* data = Message("content");
    std::uint8_t hash[64];
    std::uint32_t kind = 0, length = 0;
    EXPECT_EQ(f.GetSignatureValueHashByCertificateDSTU7564(data, certificate, &kind, &length, hash), 0);
    EXPECT_EQ(f.HashSignatureValueByCertificateDSTU7564(data, certificate, 3, 32, hash), 0);
    data->Release();
    certificate->Release();
}

TEST(DSTU7564SignedDataSweep, NothingStaysBehindWhenACallFails)
{
    fake::SweepFailures(
        "message with signer",
        [](SPKIFormats& f, fake::Library& lib) {
            UseCmsObjects(lib);
            auto* certificate = new fake::CmsCertificate(lib, 1);
            const std::string text = "hello";
            PKIBlob content = View(text);
            void* out = nullptr;
            int rc = f.CreateSignedDataOfDataDSTU7564(&content, nullptr, 0, 3, 32, certificate, &out);
            if (out) static_cast<IPKISignedData*>(out)->Release();
            certificate->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "verification over content",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* certificate = new fake::CmsCertificate(lib, 1);
            auto* data = new fake::CmsSignedData(lib);
            auto* signer = new fake::CmsSigner(lib);
            signer->standardAttributes = 0;
            data->signers.push_back(signer);
            data->hasContent = true;
            data->content = "signed text";
            const std::string text = "signed text";
            PKIBlob given = View(text);
            int rc = f.VerifySignerDSTU7564(data, 0, &given, certificate, nullptr);
            data->Release();
            certificate->Release();
            return rc;
        },
        false);  // the signer extension's presence is read but optional
    fake::SweepFailures(
        "signer added over the message's content",
        [](SPKIFormats& f, fake::Library& lib) {
            UseCmsObjects(lib);
            auto* certificate = new fake::CmsCertificate(lib, 1);
            auto* data = new fake::CmsSignedData(lib);
            data->hasContent = true;
            data->content = "message content";
            int rc = f.AddSignerDSTU7564(data, certificate, nullptr, nullptr, 3, 48);
            data->Release();
            certificate->Release();
            return rc;
        },
        true);
}

// The signing steps: a certificate with a signing usage, the current UTC
// time as the signing time unless the caller keeps the signer's own, then
// the signer's operation with what the caller passes on.
TEST_F(DSTU7564SignedData, SigningStepsStampTheTimeUnlessKept)
{
    auto* certificate = new fake::CmsCertificate(lib, 1);
    auto* signer = new fake::CmsSigner(lib);
    SYSTEMTIME before{};
    GetSystemTime(&before);
    PKIBlob value{0, nullptr};
    ASSERT_EQ(f.SignSignerDSTU7564(signer, certificate, &value, 0), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(value.data), value.length), "value to sign");
    f.ReleaseBlob(&value);
    EXPECT_EQ(signer->timesWritten, 1);
    EXPECT_EQ(signer->signingTime.wYear, before.wYear);
    EXPECT_TRUE(Logged(lib, "4918:100(49)"));  // the certificate's key
    ASSERT_EQ(f.SignSignerDSTU7564(signer, certificate, &value, 1), 1);
    f.ReleaseBlob(&value);
    EXPECT_EQ(signer->timesWritten, 1);
    lib.version = 257;
    EXPECT_EQ(f.SignSignerDSTU7564(signer, certificate, &value, 0), 0);
    lib.version = 270;

    int a = 0, b = 0, c = 0;
    lib.log.clear();
    ASSERT_EQ(f.SignLastSignerDSTU7564(signer, &a, &b, 0), 1);
    EXPECT_EQ(lib.log, (Log{"4918:2(4249)", "4918:42()", "4918:122()", "4918:1()"}));
    EXPECT_EQ(signer->passed, (std::vector<void*>{&a, &b}));
    lib.log.clear();
    ASSERT_EQ(f.SignSignerHashDSTU7564Now(signer, certificate, &a, &b, &c), 1);
    EXPECT_TRUE(Logged(lib, "4918:42()"));
    EXPECT_TRUE(Logged(lib, "4918:135()"));
    EXPECT_EQ(signer->passed, (std::vector<void*>{&a, &b, &c}));
    EXPECT_EQ(signer->timesWritten, 3);
    ASSERT_EQ(f.SignSignerHashDSTU7564(signer, certificate, &a, &b, &c, 1), 1);
    EXPECT_EQ(signer->timesWritten, 3);

    // No signing usage: nothing is written or signed.
    certificate->usage = 0x10;
    lib.log.clear();
    EXPECT_EQ(f.SignSignerDSTU7564(signer, certificate, &value, 0), 0);
    EXPECT_EQ(f.SignSignerHashDSTU7564(signer, certificate, &a, &b, &c, 0), 0);
    EXPECT_FALSE(Logged(lib, "4918:42()"));
    EXPECT_EQ(value.data, nullptr);
    signer->Release();
    certificate->Release();
}

// The signer's view operation with the current UTC time always written.
TEST_F(DSTU7564SignedData, PreparingASignerViewStampsTheTimeNow)
{
    auto* signer = new fake::CmsSigner(lib);
    int a = 0, b = 0;
    lib.log.clear();
    ASSERT_EQ(f.PrepareSignerViewNow(signer, &a, &b), 1);
    EXPECT_EQ(lib.log, (Log{"4918:2(4249)", "4918:42()", "4918:122()", "4918:1()"}));
    EXPECT_EQ(signer->passed, (std::vector<void*>{&a, &b}));
    EXPECT_EQ(signer->timesWritten, 1);
    EXPECT_EQ(f.PrepareSignerViewNow(nullptr, &a, &b), 0);
    signer->Release();
}
