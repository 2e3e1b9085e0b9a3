// CMS signed data of the DSTU 4145 + GOST 34.311 family over the test
// double: the library calls in their order with their OIDs, what the facade
// compares itself (signing-certificate hashes, caller data against the
// message's content, content types read into its buffers), and failure
// sweeps. Operations of other parts that are not built yet answer 0; the
// tests that reach them say so.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsSignedData.h"

namespace {

constexpr char kData[] = "1.2.840.113549.1.7.1";
constexpr char kSigned[] = "1.2.840.113549.1.7.2";
constexpr char kGost[] = "1.2.804.2.1.1.1.1.2.1";

// Content types are compared with their terminator: 21 bytes.
bool SameType(const std::string& got, const char* expected)
{
    return got.size() == std::strlen(expected) && std::memcmp(got.c_str(), expected, 21) == 0;
}

PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

std::string Copy(const PKIBlob& b)
{
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

// The calls to the signed-data objects and the factory, in order (releases,
// blob traffic and certificate reads left out).
std::vector<std::string> CmsCalls(const std::vector<std::string>& log)
{
    std::vector<std::string> out;
    for (const std::string& e : log) {
        bool cms = e.rfind("4900:", 0) == 0 || e.rfind("4918:", 0) == 0 || e.rfind("4919:", 0) == 0 ||
                   e.rfind("4879:", 0) == 0 || e.rfind("0:10(", 0) == 0 || e.rfind("4893:", 0) == 0;
        if (cms && e.find(":1()") == std::string::npos) out.push_back(e);
    }
    return out;
}

class SignedData : public ::testing::Test {
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
        cert->keyUsage = 1;  // digital signature
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
    IPKIObject* Hold(void* o)
    {
        held.push_back(static_cast<IPKIObject*>(o));
        return held.back();
    }
    // A message made here (not through the facade), with `signers` signers.
    fake::families::CmsSignedData* Message(int signers)
    {
        auto* m = new fake::families::CmsSignedData(lib);
        for (int i = 0; i < signers; ++i) {
            auto* s = new fake::families::CmsSigner(lib);
            m->signers.push_back(s);
        }
        held.push_back(static_cast<IPKISignedDataSigners*>(m));
        return m;
    }
    static IPKIObject* Obj(fake::families::CmsSignedData* m) { return static_cast<IPKISignedDataSigners*>(m); }
};

}  // namespace

TEST(SignedDataSlots, TheSignedDataSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_SIGNED_DATA_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// A message of data with a signer: the digest OID, the content type (on the
// message and on the signer's attributes), the signer's identity and its
// signing-certificate entry, the digest over the content with the key's own
// public key, then the content; in that order.
TEST_F(SignedData, CreatingSignedDataOfDataBuildsTheSignerInTheOrderGiven)
{
    std::string content = "content to sign";
    PKIBlob data = View(content);
    void* out = nullptr;
    ASSERT_EQ(f.CreateSignedDataOfDataGOST34311(&data, 0, Key(), Cert(), &out, nullptr), 1);
    Hold(out);
    const std::vector<std::string> expected = {"0:10(4900,4136)",
                                               std::string("4900:23(") + kGost + ")",
                                               std::string("4900:17(") + kData + ")",
                                               "0:10(4877,4111)",
                                               "0:10(4918,4193)",
                                               "4918:4(3,serial,0)",
                                               "0:10(4919,4192)",
                                               "4919:10(parameters)",
                                               "4919:12(1)",
                                               "4918:36()",
                                               std::string("4918:30(") + kData + ")",
                                               "4893:6()",
                                               "4918:75(33,15)",
                                               "4900:12()",
                                               "4900:19(15)"};
    EXPECT_EQ(CmsCalls(lib.log), expected);
    ASSERT_EQ(made.messages.size(), 1u);
    fake::families::CmsSignedData* m = made.messages[0];
    EXPECT_EQ(m->digests, std::vector<std::string>{kGost});
    EXPECT_TRUE(SameType(m->type, kData));
    EXPECT_EQ(m->content, content);
    ASSERT_EQ(m->signers.size(), 1u);
    fake::families::CmsSigner* s = m->signers[0];
    EXPECT_TRUE(SameType(s->contentType, kData));
    EXPECT_EQ(s->issuer, L"CN=Issuer");
    EXPECT_EQ(s->digestContent, content);
    EXPECT_EQ(s->publicKey, std::string(76, '\x32'));  // the key's, not the certificate's
    ASSERT_NE(s->attribute, nullptr);
    ASSERT_EQ(s->attribute->entries.size(), 1u);
    EXPECT_EQ(s->attribute->entries[0].hash, std::string(32, '\x5A'));
    EXPECT_TRUE(s->attribute->entries[0].given);
}

// The same without a key: no signer; with a hash: the hash goes to the
// signer and the message carries no content; detached: no content either.
TEST_F(SignedData, CreatingSignedDataWithoutKeyWithHashOrDetached)
{
    std::string content = "content here";
    PKIBlob data = View(content);
    const std::uint8_t hash[32] = {9, 8, 7};
    struct Case {
        IPKIObject* key;
        const std::uint8_t* hash;
        std::uint32_t detached;
        std::size_t signers;
        bool contentSet;
    } cases[] = {{nullptr, nullptr, 0, 0, true}, {Key(), hash, 0, 1, false}, {Key(), nullptr, 1, 1, false}};
    for (const Case& c : cases) {
        void* out = nullptr;
        ASSERT_EQ(f.CreateSignedDataGOST34311(kSigned, &data, c.hash, c.detached, c.key, Cert(), &out), 1);
        Hold(out);
        fake::families::CmsSignedData* m = made.messages.back();
        EXPECT_TRUE(SameType(m->type, kSigned));
        EXPECT_EQ(m->signers.size(), c.signers);
        EXPECT_EQ(m->content == content, c.contentSet);
        if (c.hash) {
            EXPECT_EQ(m->signers[0]->hash, std::string(reinterpret_cast<const char*>(hash), 32));
        }
        if (c.detached) {
            EXPECT_EQ(m->signers[0]->digestContent, content);
        }
    }
}

TEST_F(SignedData, ASignerNeedsADSTU4145Certificate)
{
    cert->kind = 2;
    void* out = nullptr;
    EXPECT_EQ(f.CreateSignerInfoDSTU4145(Cert(), Key(), kData, nullptr, nullptr, &out), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(made.signers.empty());
}

TEST_F(SignedData, DetachedSignedDataGivesTheLastSignerTheKeysPublicKey)
{
    void* out = nullptr;
    ASSERT_EQ(f.CreateDetachedSignedDataGOST34311(Key(), Cert(), &out), 1);
    Hold(out);
    fake::families::CmsSignedData* m = made.messages[0];
    ASSERT_EQ(m->signers.size(), 1u);
    EXPECT_EQ(m->signers[0]->publicKey, std::string(76, '\x32'));
    EXPECT_EQ(m->content, "content");  // the fake's own: nothing was set
    EXPECT_TRUE(m->signers[0]->digestContent.empty());
    EXPECT_EQ(f.CreateDetachedSignedDataGOST34311(nullptr, Cert(), &out), 0);
}

// Value and flag: the last signer only, or every signer still open (op 94
// answers 0); the flag of all is cleared and the signer completed.
TEST_F(SignedData, ValuesAndFlagsReachTheSignersThatTakeThem)
{
    fake::families::CmsSignedData* m = Message(3);
    m->signers[1]->state = 1;
    EXPECT_EQ(f.SetLastSignerValue(Obj(m), 7), 1);
    EXPECT_EQ(f.SetLastSignerFlag(Obj(m)), 1);
    EXPECT_EQ(m->signers[2]->value, 7u);
    EXPECT_EQ(m->signers[2]->flag, 1u);
    EXPECT_EQ(m->signers[0]->value, 0u);
    EXPECT_EQ(f.SetAllSignersValue(Obj(m), 5), 1);
    EXPECT_EQ(f.SetAllSignersFlag(Obj(m)), 1);
    for (int i : {0, 2}) {
        EXPECT_EQ(m->signers[i]->value, 5u);
        EXPECT_EQ(m->signers[i]->flag, 0u);
        EXPECT_TRUE(m->signers[i]->completed);
    }
    EXPECT_EQ(m->signers[1]->value, 0u);
    EXPECT_FALSE(m->signers[1]->completed);
    fake::families::CmsSignedData* empty = Message(0);
    EXPECT_EQ(f.SetLastSignerValue(Obj(empty), 1), 0);
    EXPECT_EQ(f.SetAllSignersValue(Obj(empty), 1), 1);
}

TEST_F(SignedData, SignedContentIsHandedOutOnlyWhenTheMessageCarriesIt)
{
    fake::families::CmsSignedData* m = Message(0);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.GetSignedContent(Obj(m), &out), 1);
    EXPECT_EQ(Copy(out), "content");
    f.ReleaseBlob(&out);
    m->hasContent = false;
    EXPECT_EQ(f.GetSignedContent(Obj(m), &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

// A signer added to a message with content is built over that content and
// its type; the caller's content only counts for a detached message.
TEST_F(SignedData, AddedSignersTakeTheMessagesContentAndType)
{
    fake::families::CmsSignedData* m = Message(0);
    m->type = "1.2.840.113549.1.9.16.1.4";
    std::string other = "other";
    PKIBlob data = View(other);
    ASSERT_EQ(f.AddSignerGOST34311(Obj(m), Key(), Cert(), &data, nullptr), 1);
    ASSERT_EQ(m->signers.size(), 1u);
    EXPECT_EQ(m->signers[0]->digestContent, "content");
    EXPECT_EQ(m->signers[0]->contentType, m->type);
    m->hasContent = false;
    ASSERT_EQ(f.AddSignerGOST34311(Obj(m), Key(), Cert(), &data, nullptr), 1);
    EXPECT_EQ(m->signers[1]->digestContent, other);
    ASSERT_EQ(f.AddSignerWithKeyGOST34311(Obj(m), Key(), Cert()), 1);
    EXPECT_EQ(m->signers[2]->publicKey, std::string(76, '\x32'));
    EXPECT_TRUE(m->signers[2]->digestContent.empty());
    ASSERT_EQ(f.AddEmptySignerGOST34311(Obj(m), Key(), Cert()), 1);
    EXPECT_EQ(m->signers[3]->publicKey, std::string(76, '\x32'));
    EXPECT_EQ(m->signers.size(), 4u);
}

// A peer's content type longer than the facade's buffer is refused, not
// written past the buffer: the read is told the buffer's size.
TEST_F(SignedData, APeersOverlongContentTypeIsRefused)
{
    fake::families::CmsSignedData* m = Message(0);
    m->type = "1.2." + std::string(200, '7');
    EXPECT_EQ(f.AddSignerGOST34311(Obj(m), Key(), Cert(), nullptr, nullptr), 0);
    EXPECT_EQ(f.AddEmptySignerGOST34311(Obj(m), Key(), Cert()), 0);
    EXPECT_TRUE(m->signers.empty());
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4900:16(128)"), lib.log.end());
    m->type = "1." + std::string(125, '2');  // 127 characters and the terminator fit
    EXPECT_EQ(f.AddEmptySignerGOST34311(Obj(m), Key(), Cert()), 1);
}

// Opening: the content-info form must name signed data exactly; the bare
// form decodes the message itself; the content-present flag comes along.
TEST_F(SignedData, OpeningChecksTheWrappersContentType)
{
    std::string bytes = "encoded";
    PKIBlob blob = View(bytes);
    struct Case {
        const char* type;
        int result;
    } cases[] = {{kSigned, 1}, {"1.2.840.113549.1.7.3", 0}, {"1.2.840.113549.1.7.21", 0}, {"1.2.840.113549.1.7", 0}};
    for (const Case& c : cases) {
        made.prepareInfo = [&](fake::families::CmsContentInfo& info) {
            info.type = c.type;
            info.makeInner = [this] {
                auto* inner = new fake::families::CmsSignedData(lib);
                inner->hasContent = false;
                return static_cast<IPKISignedDataSigners*>(inner);
            };
        };
        void* out = nullptr;
        std::uint32_t present = 9;
        ASSERT_EQ(f.OpenSignedData(&blob, 1, &present, &out), c.result) << c.type;
        if (out) Hold(out);
        if (c.result) {
            EXPECT_EQ(present, 0u);
        }
    }
    void* out = nullptr;
    std::uint32_t detached = 9;
    ASSERT_EQ(
        f.ReadSignerInfoFromSignedData(&blob, &detached, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &out),
        1);
    Hold(out);
    EXPECT_EQ(detached, 0u);
    EXPECT_EQ(lib.log.back().rfind("4900:15", 0), 0u);
}

// Wrapping: a content info of type signed data around the message, encoded
// or not; the message alone encodes too. Signing goes through the signer
// operations of the signing part, which are not built yet: with a key the
// operations answer 0 and make nothing.
TEST_F(SignedData, WrappingAndEncodingTheMessage)
{
    fake::families::CmsSignedData* m = Message(1);
    void* info = nullptr;
    ASSERT_EQ(f.SignAndWrapSignedData(Obj(m), nullptr, Cert(), &info), 1);
    Hold(info);
    ASSERT_EQ(made.infos.size(), 1u);
    EXPECT_TRUE(SameType(made.infos[0]->type, kSigned));
    EXPECT_EQ(made.infos[0]->inner, Obj(m));
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.SignAndEncodeContentInfo(Obj(m), nullptr, Cert(), nullptr, &out), 1);
    EXPECT_EQ(Copy(out), std::string("content-info:") + kSigned);
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignAndEncodeSignedData(Obj(m), nullptr, Cert(), &out), 1);
    EXPECT_EQ(Copy(out), "signed-data");
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignSignerAndEncodeGOST34311(static_cast<IPKISignerInfo*>(m->signers[0]), nullptr, Cert(), 0, &out), 1);
    EXPECT_EQ(Copy(out), "signer");
    f.ReleaseBlob(&out);

    std::size_t infos = made.infos.size();
    EXPECT_EQ(f.SignAndWrapSignedData(Obj(m), Key(), Cert(), &info), 0);
    EXPECT_EQ(f.SignAndEncodeSignedData(Obj(m), Key(), Cert(), &out), 0);
    EXPECT_EQ(made.infos.size(), infos);
    EXPECT_EQ(out.data, nullptr);
}

// Verification on the path without the standard attributes (op 40 answers
// 0), whose signer identity is not needed: the hash, data or the message's
// content, the certificate's key usage and the DSTU signer extension.
TEST_F(SignedData, VerificationWithDataHashOrTheMessagesContent)
{
    const std::string good = "content", bad = "other";
    const std::uint8_t rightHash[32] = {0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44,
                                        0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44,
                                        0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44};
    const std::uint8_t wrongHash[32] = {0x45};
    PKIBlob goodData = View(good), badData = View(bad);
    struct Case {
        const char* what;
        bool messageHasContent;
        const PKIBlob* data;
        const std::uint8_t* hash;
        std::uint32_t usage;
        bool extensionForOtherKey;
        int result;
    } cases[] = {
        {"hash", false, nullptr, rightHash, 1, false, 1},
        {"wrong hash", false, nullptr, wrongHash, 1, false, 0},
        {"data of a detached message", false, &goodData, nullptr, 1, false, 1},
        {"other data of a detached message", false, &badData, nullptr, 1, false, 0},
        {"the message's content", true, nullptr, nullptr, 1, false, 1},
        {"the same data and content", true, &goodData, nullptr, 1, false, 1},
        // Other data than the message carries: the content verifies, but
        // the caller asked about other data.
        {"other data than the content", true, &badData, nullptr, 1, false, 0},
        {"nothing to verify", false, nullptr, nullptr, 1, false, 0},
        {"non-repudiation only", true, nullptr, nullptr, 2, false, 1},
        {"no signing usage", true, nullptr, nullptr, 4, false, 0},
        {"extension naming another key", true, nullptr, nullptr, 1, true, 0},
    };
    for (const Case& c : cases) {
        fake::families::CmsSignedData* m = Message(1);
        m->hasContent = c.messageHasContent;
        fake::families::CmsSigner* s = m->signers[0];
        s->standard = 0;
        s->extension = new fake::families::CmsSignerExtension(lib);
        if (c.extensionForOtherKey) s->extension->key = std::string(76, '\x33');
        cert->keyUsage = c.usage;
        EXPECT_EQ(f.VerifySignerGOST34311(Obj(m), 0, c.data, Cert(), c.hash), c.result) << c.what;
    }
    cert->keyUsage = 1;
    fake::families::CmsSignedData* m = Message(1);
    m->signers[0]->standard = 0;
    EXPECT_EQ(f.VerifySignerGOST34311(Obj(m), 1, nullptr, Cert(), nullptr), 0);   // no such signer
    EXPECT_EQ(f.VerifySignerGOST34311(Obj(m), -2, nullptr, Cert(), nullptr), 0);  // no such index
    EXPECT_EQ(f.VerifySignerEnvelopedGOST34311(Obj(m), 0, Cert()), 1);
    EXPECT_EQ(m->signers[0]->publicKey, std::string(76, '\x31'));
    cert->publicKey = std::string(76, '\x36');
    EXPECT_EQ(f.VerifySignerEnvelopedGOST34311(Obj(m), 0, Cert()), 0);
}

// The certificate's key family picks the verifier. A DSTU 4145 certificate's
// signer is verified over GOST 34.311 only when that is its hash kind; a
// family without a verifier answers 0.
TEST_F(SignedData, VerificationByCertificateKind)
{
    std::uint8_t rightHash[32], wrongHash[32] = {0x45};
    std::memset(rightHash, 0x44, sizeof rightHash);
    struct Case {
        const char* what;
        std::uint32_t certificateKind, signerKind;
        const std::uint8_t* hash;
        int result;
    } cases[] = {
        {"DSTU 4145 over GOST 34.311", 1, 1, rightHash, 1},
        {"wrong hash", 1, 1, wrongHash, 0},
        {"signer over another hash", 1, 2, rightHash, 0},
        {"no verifier for the family", 3, 1, rightHash, 0},
    };
    for (const Case& c : cases) {
        fake::families::CmsSignedData* m = Message(1);
        m->signers[0]->standard = 0;
        m->signers[0]->kind = c.signerKind;
        cert->kind = c.certificateKind;
        std::size_t before = lib.log.size();
        EXPECT_EQ(f.VerifySignerByCertificateKind(Obj(m), 0, nullptr, Cert(), c.hash), c.result) << c.what;
        // Only a GOST 34.311 signer reaches the verification (its key read).
        bool verified = false;
        for (std::size_t i = before; i < lib.log.size(); ++i) verified = verified || lib.log[i] == "4870:25()";
        EXPECT_EQ(verified, c.certificateKind == 1 && c.signerKind == 1) << c.what;
    }
    cert->kind = 1;
    EXPECT_EQ(f.VerifySignerByCertificateKind(nullptr, 0, nullptr, Cert(), rightHash), 0);
}

// The standard path and the searches read signer identities through the
// time-stamp signer reader of the signing part, which is not built yet:
// until it is they find nothing and hand nothing out.
TEST_F(SignedData, SignerIdentitiesWaitForTheSignerReader)
{
    fake::families::CmsSignedData* m = Message(1);
    char issuer[8] = "x";
    std::uint8_t serial[20] = {1};
    EXPECT_EQ(f.GetSignerIdentifier(static_cast<IPKISignerInfo*>(m->signers[0]), Obj(m), issuer, serial), 0);
    EXPECT_EQ(issuer[0], 0);
    EXPECT_EQ(serial[0], 1);
    void* out = nullptr;
    EXPECT_EQ(f.FindSignerByCertificate(Obj(m), Cert(), &out), 0);
    EXPECT_EQ(f.VerifySignerGOST34311(Obj(m), -1, nullptr, Cert(), nullptr), 0);
    EXPECT_EQ(f.VerifySignerGOST34311(Obj(m), 0, nullptr, Cert(), nullptr), 0);  // standard attributes
    SYSTEMTIME t{};
    EXPECT_EQ(f.GetSignerInfo(Obj(m), 0, nullptr, nullptr, &t, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(out, nullptr);
}

// The signing-certificate entry against the certificate. The general form
// states its own hash size: only the sizes of real hashes are taken, and the
// whole hash is compared (a size of 0 once matched any certificate).
TEST(SigningCertificateEntry, OnlyAWholeHashOfAKnownSizeAndTheSignersIdentityMatch)
{
    const std::string full(64, '\x5A');
    const std::string serial(20, '\x05');
    auto changed = [&](std::size_t n, std::size_t at) {
        std::string h = full.substr(0, n);
        h[at] ^= 1;
        return h;
    };
    struct Case {
        const char* what;
        bool gostEntry;
        std::uint32_t bits;
        std::string hash;
        bool given;
        std::wstring issuer;
        std::string serial;
        int entries;
        bool gostAllowed;
        bool matches;
    } cases[] = {
        {"GOST form", true, 256, full.substr(0, 32), false, L"", serial, 1, true, true},
        {"GOST form, last byte differs", true, 256, changed(32, 31), false, L"", serial, 1, true, false},
        {"SHA-256", false, 256, full.substr(0, 32), false, L"", serial, 1, true, true},
        {"SHA-1, last byte differs", false, 160, changed(20, 19), false, L"", serial, 1, true, false},
        {"SHA-512, last byte differs", false, 512, changed(64, 63), false, L"", serial, 1, true, false},
        {"size 0", false, 0, "", false, L"", serial, 1, true, false},
        {"size 8", false, 8, full.substr(0, 1), false, L"", serial, 1, true, false},
        {"size 168", false, 168, full.substr(0, 21), false, L"", serial, 1, true, false},
        {"two entries", false, 256, full.substr(0, 32), false, L"", serial, 2, true, false},
        {"no entry", false, 256, full.substr(0, 32), false, L"", serial, 0, true, false},
        {"the signer's issuer and serial", false, 256, full.substr(0, 32), true, L"CN=Issuer", serial, 1, true, true},
        {"another issuer", false, 256, full.substr(0, 32), true, L"CN=Issuer2", serial, 1, true, false},
        {"a prefix of the issuer", false, 256, full.substr(0, 32), true, L"CN=Issue", serial, 1, true, false},
        {"another serial", false, 256, full.substr(0, 32), true, L"CN=Issuer", std::string(20, '\x06'), 1, true, false},
        // The RSA family reads only the general form.
        {"GOST form where only the general one counts", true, 160, full.substr(0, 20), false, L"", serial, 1, false,
         true},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        auto* attribute = new fake::families::CmsSigningCertificate(lib);
        for (int i = 0; i < c.entries; ++i)
            attribute->entries.push_back({c.gostEntry, c.bits, c.hash, c.issuer, c.serial, c.given});
        auto* certificate = new fake::ScriptedCertificate(lib);
        EXPECT_EQ(pkif::SigningCertificateMatches(static_cast<IPKISigningCertificate*>(attribute),
                                                  static_cast<IPKICertificate*>(certificate), nullptr, c.gostAllowed,
                                                  L"CN=Issuer", reinterpret_cast<const std::uint8_t*>(serial.data())),
                  c.matches)
            << c.what;
        static_cast<IPKISigningCertificate*>(attribute)->Release();
        static_cast<IPKICertificate*>(certificate)->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
    }
}

// Issuer texts handed out follow the overflow policy: a name that does not
// fit is refused and the text left empty, never cut.
TEST(SignerNames, ANameThatDoesNotFitLeavesTheTextEmpty)
{
    fake::Library lib;
    char text[6] = "xxxxx";
    EXPECT_TRUE(pkif::NarrowSignerName(&lib, L"CN=ab", text, sizeof text));
    EXPECT_STREQ(text, "CN=ab");
    EXPECT_FALSE(pkif::NarrowSignerName(&lib, L"CN=abc", text, sizeof text));
    EXPECT_STREQ(text, "");
    std::wstring unterminated(PKI_SIGNER_NAME_BUFFER_CHARS, L'a');
    std::strcpy(text, "xx");
    EXPECT_FALSE(pkif::NarrowSignerName(&lib, unterminated.data(), text, sizeof text));
    EXPECT_STREQ(text, "");
}

// Failure sweeps: every library call failing (and throwing) in turn leaves
// nothing behind and answers 0.
TEST(SignedDataSweeps, NothingStaysBehindWhenAStepFails)
{
    auto withObjects = [](const std::function<int(SPKIFormats&, fake::Library&, IPKIObject*, IPKIObject*)>& body) {
        return [body](SPKIFormats& f, fake::Library& lib) {
            fake::families::CmsMade made;
            fake::families::UseSignedDataObjects(lib, made);
            auto* cert = new fake::ScriptedCertificate(lib);
            cert->keyUsage = 1;
            auto* key = new fake::families::CmsKey(lib);
            int rc = body(f, lib, static_cast<IPKICertificate*>(cert), static_cast<IPKIKeyObject*>(key));
            static_cast<IPKICertificate*>(cert)->Release();
            static_cast<IPKIKeyObject*>(key)->Release();
            return rc;
        };
    };
    auto message = [](fake::Library& lib, bool content) {
        auto* m = new fake::families::CmsSignedData(lib);
        m->hasContent = content;
        auto* s = new fake::families::CmsSigner(lib);
        s->standard = 0;
        s->extension = new fake::families::CmsSignerExtension(lib);
        m->signers.push_back(s);
        return m;
    };
    auto release = [](fake::families::CmsSignedData* m) { static_cast<IPKISignedDataSigners*>(m)->Release(); };
    fake::SweepFailures("create signed data",
                        withObjects([](SPKIFormats& f, fake::Library&, IPKIObject* cert, IPKIObject* key) {
                            std::string content = "content";
                            PKIBlob data = View(content);
                            void* out = nullptr;
                            int rc = f.CreateSignedDataOfDataGOST34311(&data, 0, key, cert, &out, nullptr);
                            if (out) static_cast<IPKIObject*>(out)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("detached signed data",
                        withObjects([](SPKIFormats& f, fake::Library&, IPKIObject* cert, IPKIObject* key) {
                            void* out = nullptr;
                            int rc = f.CreateDetachedSignedDataGOST34311(key, cert, &out);
                            if (out) static_cast<IPKIObject*>(out)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("add signer",
                        withObjects([&](SPKIFormats& f, fake::Library& lib, IPKIObject* cert, IPKIObject* key) {
                            fake::families::CmsSignedData* m = message(lib, true);
                            int rc = f.AddSignerWithKeyGOST34311(static_cast<IPKISignedDataSigners*>(m), key, cert);
                            release(m);
                            return rc;
                        }),
                        true);
    fake::SweepFailures(
        "verify over the content", withObjects([&](SPKIFormats& f, fake::Library& lib, IPKIObject* cert, IPKIObject*) {
            fake::families::CmsSignedData* m = message(lib, true);
            std::string content = "content";
            PKIBlob data = View(content);
            int rc = f.VerifySignerGOST34311(static_cast<IPKISignedDataSigners*>(m), 0, &data, cert, nullptr);
            release(m);
            return rc;
        }),
        false);  // the second key-usage test stands in for a failed first one
    fake::SweepFailures(
        "wrap and encode", withObjects([&](SPKIFormats& f, fake::Library& lib, IPKIObject* cert, IPKIObject*) {
            fake::families::CmsSignedData* m = message(lib, true);
            void* info = nullptr;
            PKIBlob out{0, nullptr};
            int rc = f.SignAndEncodeContentInfo(static_cast<IPKISignedDataSigners*>(m), nullptr, cert, &info, &out);
            f.ReleaseBlob(&out);
            if (info) static_cast<IPKIObject*>(info)->Release();
            release(m);
            return rc;
        }),
        true);
    fake::SweepFailures("open and read the content",
                        withObjects([&](SPKIFormats& f, fake::Library& lib, IPKIObject*, IPKIObject*) {
                            fake::families::CmsMade more;
                            fake::families::UseSignedDataObjects(lib, more);
                            more.prepareInfo = [&lib](fake::families::CmsContentInfo& info) {
                                info.type = "1.2.840.113549.1.7.2";
                                info.makeInner = [&lib] {
                                    return static_cast<IPKISignedDataSigners*>(new fake::families::CmsSignedData(lib));
                                };
                            };
                            std::string bytes = "encoded";
                            PKIBlob blob = View(bytes);
                            void* out = nullptr;
                            PKIBlob content{0, nullptr};
                            int rc = f.OpenSignedData(&blob, 1, nullptr, &out) &&
                                     f.GetSignedContent(static_cast<IPKIObject*>(out), &content);
                            f.ReleaseBlob(&content);
                            if (out) static_cast<IPKIObject*>(out)->Release();
                            return rc;
                        }),
                        true);
    fake::SweepFailures("all signers' flags",
                        withObjects([&](SPKIFormats& f, fake::Library& lib, IPKIObject*, IPKIObject*) {
                            fake::families::CmsSignedData* m = message(lib, true);
                            int rc = f.SetAllSignersFlag(static_cast<IPKISignedDataSigners*>(m));
                            release(m);
                            return rc;
                        }),
                        false);  // a failing state read (op 94) reads as a signer already closed
}
