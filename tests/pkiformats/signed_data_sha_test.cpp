// CMS signed data of the RSA + SHA family over the test double: the hash
// chosen by size or by the certificate's RSA key (the digest OIDs), signers
// built with the RSA key data, verification, and failure sweeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

constexpr char kData[] = "1.2.840.113549.1.7.1";
constexpr char kSigned[] = "1.2.840.113549.1.7.2";
constexpr char kSHA1[] = "1.3.14.3.2.26";
constexpr char kSHA224[] = "2.16.840.1.101.3.4.2.4";
constexpr char kSHA256[] = "2.16.840.1.101.3.4.2.1";
constexpr char kSHA512[] = "2.16.840.1.101.3.4.2.3";

PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

std::string Copy(const PKIBlob& b)
{
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

bool SameType(const std::string& got, const char* expected)
{
    return got.size() == std::strlen(expected) && std::memcmp(got.c_str(), expected, 21) == 0;
}

class SignedDataSHA : public ::testing::Test {
protected:
    fake::Library lib;
    fake::families::CmsMade made;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::ScriptedCertificate* cert = nullptr;
    fake::families::CmsKey* key = nullptr;
    std::vector<IPKIObject*> held;

    void SetUp() override
    {
        fake::families::UseSignedDataObjects(lib, made);
        cert = new fake::ScriptedCertificate(lib);
        cert->kind = 2;
        cert->keyUsage = 1;
        key = new fake::families::CmsKey(lib);
    }
    void TearDown() override
    {
        for (IPKIObject* o : held) o->Release();
        static_cast<IPKICertificate*>(cert)->Release();
        static_cast<IPKIKeyObject*>(key)->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    IPKIObject* Cert() { return static_cast<IPKICertificate*>(cert); }
    IPKIObject* Key() { return static_cast<IPKIKeyObject*>(key); }
    fake::families::CmsSignedData* Message(int signers)
    {
        auto* m = new fake::families::CmsSignedData(lib);
        for (int i = 0; i < signers; ++i) m->signers.push_back(new fake::families::CmsSigner(lib));
        held.push_back(static_cast<IPKISignedDataSigners*>(m));
        return m;
    }
    static IPKIObject* Obj(fake::families::CmsSignedData* m) { return static_cast<IPKISignedDataSigners*>(m); }
};

}  // namespace

// The hash by explicit size (384 refused, other sizes SHA-256) or, without
// one, by the RSA key: up to 2,047 bits SHA-1, longer SHA-256. The signer
// and its signing-certificate entry are built with the chosen size.
TEST_F(SignedDataSHA, TheHashFollowsTheSizeOrTheKey)
{
    struct Case {
        std::uint32_t bits, keyBits;
        const char* oid;
        std::uint32_t chosen;
    } cases[] = {{160, 2048, kSHA1, 160},   {224, 2048, kSHA224, 224}, {256, 1024, kSHA256, 256},
                 {512, 2048, kSHA512, 512}, {300, 2048, kSHA256, 256}, {0, 2047, kSHA1, 160},
                 {0, 2048, kSHA256, 256},   {0, 4096, kSHA256, 256},   {384, 2048, nullptr, 0}};
    std::string content = "content to sign";
    PKIBlob data = View(content);
    for (const Case& c : cases) {
        cert->rsaBits = c.keyBits;
        std::size_t before = made.messages.size();
        void* out = nullptr;
        int rc = f.CreateSignedDataOfDataSHA(&data, c.bits, 0, Key(), Cert(), &out, nullptr);
        if (!c.oid) {
            EXPECT_EQ(rc, 0) << c.bits;
            EXPECT_EQ(made.messages.size(), before);  // nothing created
            EXPECT_EQ(out, nullptr);
            continue;
        }
        ASSERT_EQ(rc, 1) << c.bits;
        held.push_back(static_cast<IPKIObject*>(out));
        fake::families::CmsSignedData* m = made.messages.back();
        EXPECT_EQ(m->digests, std::vector<std::string>{c.oid}) << c.bits;
        ASSERT_EQ(m->signers.size(), 1u);
        EXPECT_EQ(m->signers[0]->hashBits, c.chosen);
        EXPECT_EQ(m->signers[0]->keyBits, c.keyBits);
        ASSERT_EQ(m->signers[0]->attribute->entries.size(), 1u);
        EXPECT_EQ(m->signers[0]->attribute->entries[0].bits, c.chosen);
        EXPECT_EQ(m->signers[0]->attribute->entries[0].hash, std::string(c.chosen / 8, '\x5A'));
    }
}

// The order of a signed message of data with an RSA signer: digest OID,
// type, the signer's identity, the certificate's key data and its hash in
// the signing-certificate entry, the signer's content type and digest, then
// the content.
TEST_F(SignedDataSHA, CreatingSignedDataBuildsTheRSASignerInTheOrderGiven)
{
    std::string content = "content to sign";
    PKIBlob data = View(content);
    void* out = nullptr;
    ASSERT_EQ(f.CreateSignedDataOfDataSHA(&data, 256, 0, Key(), Cert(), &out, nullptr), 1);
    held.push_back(static_cast<IPKIObject*>(out));
    std::vector<std::string> calls;
    for (const std::string& e : lib.log)
        if ((e.rfind("49", 0) == 0 || e.rfind("4870:", 0) == 0 || e.rfind("0:10(", 0) == 0) &&
            e.find(":1()") == std::string::npos)
            calls.push_back(e);
    const std::vector<std::string> expected = {"0:10(4900,4136)",
                                               std::string("4900:23(") + kSHA256 + ")",
                                               std::string("4900:17(") + kData + ")",
                                               "4870:23()",
                                               "4870:9(2048)",
                                               "4870:7()",
                                               "0:10(4877,4111)",
                                               "0:10(4918,4193)",
                                               "4918:4(3,serial,0)",
                                               "0:10(4919,4192)",
                                               "4870:29()",
                                               "4919:11(256)",
                                               "4919:13(256,1)",
                                               "4918:36()",
                                               std::string("4918:30(") + kData + ")",
                                               "4918:85(2048,256,15)",
                                               "4900:12()",
                                               "4900:19(15)"};
    EXPECT_EQ(calls, expected);
    fake::families::CmsSigner* s = made.messages[0]->signers[0];
    EXPECT_TRUE(SameType(s->contentType, kData));
    EXPECT_EQ(s->digestContent, content);
    EXPECT_EQ(s->publicKey, cert->rsaFields);
}

TEST_F(SignedDataSHA, ACertificateWithoutRSAKeyIsRefused)
{
    cert->kind = 1;  // and no RSA view
    void* out = nullptr;
    EXPECT_EQ(f.CreateSignerInfoRSA(Cert(), 256, kData, nullptr, nullptr, &out), 0);
    EXPECT_EQ(f.CreateSignedDataOfDataSHA(nullptr, 0, 1, Key(), Cert(), &out, nullptr), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(made.signers.empty());
}

// Detached: no content; the last signer gets the certificate's key data and
// the chosen size. A hash goes to the signer in its size.
TEST_F(SignedDataSHA, DetachedAndHashedMessages)
{
    void* out = nullptr;
    cert->rsaBits = 1024;
    ASSERT_EQ(f.CreateDetachedSignedDataSHA(Key(), Cert(), 0, &out), 1);
    held.push_back(static_cast<IPKIObject*>(out));
    fake::families::CmsSigner* s = made.messages.back()->signers[0];
    EXPECT_EQ(s->hashBits, 160u);
    EXPECT_EQ(s->keyBits, 1024u);
    EXPECT_EQ(s->publicKey, cert->rsaFields);
    EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), "4918:84(1024,160)"), 1);
    const std::uint8_t hash[64] = {1, 2, 3};
    ASSERT_EQ(f.CreateSignedDataSHA(kSigned, nullptr, hash, 512, 0, Key(), Cert(), &out), 1);
    held.push_back(static_cast<IPKIObject*>(out));
    EXPECT_EQ(made.messages.back()->signers[0]->hash, std::string(reinterpret_cast<const char*>(hash), 64));
    EXPECT_TRUE(SameType(made.messages.back()->type, kSigned));
}

// Verification without the standard attributes: the hash through op 98 and
// op 92, data or the message's content through op 90; other data than the
// message carries is refused.
TEST_F(SignedDataSHA, VerificationWithDataHashOrTheMessagesContent)
{
    const std::string good = "content", bad = "other";
    PKIBlob goodData = View(good), badData = View(bad);
    const std::string rightHash(32, '\x44'), wrongHash(32, '\x45');
    struct Case {
        const char* what;
        bool messageHasContent;
        const PKIBlob* data;
        const std::string* hash;
        bool otherKey;
        int result;
    } cases[] = {
        {"hash", false, nullptr, &rightHash, false, 1},
        {"wrong hash", false, nullptr, &wrongHash, false, 0},
        {"data of a detached message", false, &goodData, nullptr, false, 1},
        {"the message's content", true, nullptr, nullptr, false, 1},
        {"the same data and content", true, &goodData, nullptr, false, 1},
        {"other data than the content", true, &badData, nullptr, false, 0},
        {"nothing to verify", false, nullptr, nullptr, false, 0},
        {"another key", true, nullptr, nullptr, true, 0},
    };
    for (const Case& c : cases) {
        fake::families::CmsSignedData* m = Message(1);
        m->hasContent = c.messageHasContent;
        m->signers[0]->standard = 0;
        cert->rsaFields = std::string(2 * PKI_KEY_FIELD_BYTES, c.otherKey ? '\x42' : '\x41');
        const std::uint8_t* hash = c.hash ? reinterpret_cast<const std::uint8_t*>(c.hash->data()) : nullptr;
        EXPECT_EQ(f.VerifySignerSHA(Obj(m), 0, c.data, Cert(), hash), c.result) << c.what;
    }
    cert->rsaFields = std::string(2 * PKI_KEY_FIELD_BYTES, '\x41');
    fake::families::CmsSignedData* m = Message(1);
    m->signers[0]->standard = 0;
    EXPECT_EQ(f.VerifySignerEnvelopedSHA(Obj(m), 0, Cert()), 1);
    m->content = "changed";
    EXPECT_EQ(f.VerifySignerEnvelopedSHA(Obj(m), 0, Cert()), 0);
    // The standard attributes need the signer reader of the signing part,
    // not built yet.
    m->signers[0]->standard = 1;
    m->content = "content";
    EXPECT_EQ(f.VerifySignerSHA(Obj(m), 0, nullptr, Cert(), nullptr), 0);
    EXPECT_EQ(f.VerifySignerSHA(Obj(m), -1, nullptr, Cert(), nullptr), 0);
}

TEST_F(SignedDataSHA, AddedSignersTakeTheMessagesContentTypeAndKeyData)
{
    fake::families::CmsSignedData* m = Message(0);
    ASSERT_EQ(f.AddSignerSHA(Obj(m), Key(), Cert(), 384, nullptr, nullptr), 1);  // 384 only refused on creation
    EXPECT_EQ(m->signers[0]->hashBits, 384u);
    EXPECT_EQ(m->signers[0]->digestContent, "content");
    ASSERT_EQ(f.AddSignerWithKeySHA(Obj(m), Key(), Cert(), 0), 1);
    EXPECT_EQ(m->signers[1]->hashBits, 256u);
    EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), "4918:84(2048,256)"), 1);
    ASSERT_EQ(f.AddEmptySignerSHA(Obj(m), Key(), Cert(), 224), 1);
    EXPECT_TRUE(m->signers[2]->digestContent.empty());
    EXPECT_EQ(m->signers[2]->hashBits, 224u);
    EXPECT_TRUE(SameType(m->signers[2]->contentType, kData));
    m->type = "1.2." + std::string(200, '3');
    EXPECT_EQ(f.AddSignerSHA(Obj(m), Key(), Cert(), 256, nullptr, nullptr), 0);
    EXPECT_EQ(f.AddEmptySignerSHA(Obj(m), Key(), Cert(), 256), 0);
    EXPECT_EQ(m->signers.size(), 3u);
}

// Wrapping and encoding as in the GOST 34.311 family; signing with a key
// goes through the RSA signer operations, not built yet.
TEST_F(SignedDataSHA, WrappingAndEncodingTheMessage)
{
    fake::families::CmsSignedData* m = Message(1);
    PKIBlob out{0, nullptr};
    void* info = nullptr;
    ASSERT_EQ(f.SignAndEncodeContentInfoSHA(Obj(m), nullptr, Cert(), &info, &out), 1);
    held.push_back(static_cast<IPKIObject*>(info));
    EXPECT_EQ(Copy(out), std::string("content-info:") + kSigned);
    EXPECT_EQ(made.infos.back()->inner, Obj(m));
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignAndEncodeSignedDataSHA(Obj(m), nullptr, Cert(), &out), 1);
    EXPECT_EQ(Copy(out), "signed-data");
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignSignerAndEncodeSHA(static_cast<IPKISignerInfo*>(m->signers[0]), nullptr, Cert(), 0, &out), 1);
    EXPECT_EQ(Copy(out), "signer");
    f.ReleaseBlob(&out);
    EXPECT_EQ(f.SignAndWrapSignedDataSHA(Obj(m), Key(), Cert(), &info), 0);
    EXPECT_EQ(f.SignSignerEntrySHA(static_cast<IPKISignerInfo*>(m->signers[0]), Key(), Cert(), 0), 0);
    EXPECT_EQ(f.SignLastSignerEntrySHA(Obj(m), Key(), Cert(), 0), 0);
}

TEST(SignedDataSHASweeps, NothingStaysBehindWhenAStepFails)
{
    auto run = [](const std::function<int(SPKIFormats&, fake::Library&, IPKIObject*, IPKIObject*)>& body) {
        return [body](SPKIFormats& f, fake::Library& lib) {
            fake::families::CmsMade made;
            fake::families::UseSignedDataObjects(lib, made);
            auto* cert = new fake::ScriptedCertificate(lib);
            cert->kind = 2;
            cert->keyUsage = 1;
            auto* key = new fake::families::CmsKey(lib);
            int rc = body(f, lib, static_cast<IPKICertificate*>(cert), static_cast<IPKIKeyObject*>(key));
            static_cast<IPKICertificate*>(cert)->Release();
            static_cast<IPKIKeyObject*>(key)->Release();
            return rc;
        };
    };
    fake::SweepFailures("create signed data",
                        run([](SPKIFormats& f, fake::Library&, IPKIObject* cert, IPKIObject* key) {
                            std::string content = "content";
                            PKIBlob data = View(content);
                            void* out = nullptr;
                            int rc = f.CreateSignedDataOfDataSHA(&data, 0, 0, key, cert, &out, nullptr);
                            if (out) static_cast<IPKIObject*>(out)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("detached signed data",
                        run([](SPKIFormats& f, fake::Library&, IPKIObject* cert, IPKIObject* key) {
                            void* out = nullptr;
                            int rc = f.CreateDetachedSignedDataSHA(key, cert, 512, &out);
                            if (out) static_cast<IPKIObject*>(out)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("add signer with key data",
                        run([](SPKIFormats& f, fake::Library& lib, IPKIObject* cert, IPKIObject* key) {
                            auto* m = new fake::families::CmsSignedData(lib);
                            int rc = f.AddSignerWithKeySHA(static_cast<IPKISignedDataSigners*>(m), key, cert, 160);
                            static_cast<IPKISignedDataSigners*>(m)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("verify over the content",
                        run([](SPKIFormats& f, fake::Library& lib, IPKIObject* cert, IPKIObject*) {
                            auto* m = new fake::families::CmsSignedData(lib);
                            auto* s = new fake::families::CmsSigner(lib);
                            s->standard = 0;
                            m->signers.push_back(s);
                            std::string content = "content";
                            PKIBlob data = View(content);
                            int rc = f.VerifySignerSHA(static_cast<IPKISignedDataSigners*>(m), 0, &data, cert, nullptr);
                            static_cast<IPKISignedDataSigners*>(m)->Release();
                            return rc;
                        }),
                        false);  // the second key-usage test stands in for a failed first one
}

// The time stamp of an RSA signer is found through the certificate's RSA
// view: a certificate without one is refused before any signer is read.
// The signer search itself waits for the signer reader of the signing part.
TEST_F(SignedDataSHA, SignerLookupsByCertificateNeedItsRSAView)
{
    fake::families::CmsSignedData* m = Message(1);
    std::string token = "token";
    PKIBlob blob = View(token);
    cert->kind = 1;
    EXPECT_EQ(f.AddSignerTimeStampByCertificateRSA(Obj(m), Cert(), &blob), 0);
    EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), "4900:10()"), 0);
    cert->kind = 2;
    std::uint32_t bits = 0;
    std::uint8_t hash[64] = {};
    EXPECT_EQ(f.AddSignerTimeStampByCertificateRSA(Obj(m), Cert(), &blob), 0);
    EXPECT_EQ(f.GetSignatureValueHashByCertificateSHA(Obj(m), Cert(), &bits, hash), 0);
    EXPECT_EQ(bits, 0u);
}
