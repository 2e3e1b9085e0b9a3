// Tagged data content: two words and the caller's data wrapped as content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

namespace {

// Plain data content whose data object the test keeps (one reference more)
// to read what it was given.
struct KeptData {
    fake::DataContent* data = nullptr;
    void Use(fake::Library& lib)
    {
        fake::UseEnvelopedObjects(lib);
        lib.makers[{PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT}] = [this, &lib]() -> void* {
            data = new fake::DataContent(lib);
            data->offers.insert(PKI_IID_DATA_CONTENT);
            void* extra = nullptr;
            data->QueryInterface(PKI_IID_DATA_CONTENT, &extra);
            return static_cast<IPKIDataContent*>(data);
        };
    }
};

}  // namespace

TEST(TaggedContentModel, ObjectModelSlots)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS_TAGGED_CONTENT(QVK_SLOT)
#undef QVK_SLOT
}

TEST(TaggedContent, PlainDataIsTheTwoWordsThenTheData)
{
    for (const std::string& payload : {std::string(), std::string("abc")}) {
        fake::Library lib;
        lib.requireWipe = true;
        KeptData kept;
        kept.Use(lib);
        SPKIFormats f(nullptr, nullptr, &lib);
        PKIBlob data{static_cast<std::uint32_t>(payload.size()),
                     payload.empty() ? nullptr : reinterpret_cast<std::uint8_t*>(const_cast<char*>(payload.data()))};
        PKIBlob out{0, nullptr};
        ASSERT_EQ(f.BuildDataContentInfo(0x04030201, 0x08070605, &data, 0x11000000, nullptr, nullptr, nullptr, &out),
                  1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "content info:1.2.840.113549.1.7.1");
        ASSERT_NE(kept.data, nullptr);
        EXPECT_EQ(kept.data->octets, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8) + payload);
        kept.data->Release();
        f.ReleaseBlob(&out);
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
}

TEST(TaggedContent, RefusedBeforeAnythingIsMade)
{
    fake::Library lib;
    fake::UseEnvelopedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    std::uint8_t byte = 0;
    PKIBlob small{1, &byte};
    PKIBlob out{0, nullptr};
    // Modes above 2, whatever the selector bits.
    for (std::uint32_t mode : {3u, 0xFFu, 0x11000003u}) {
        EXPECT_EQ(f.BuildDataContentInfo(1, 2, &small, mode, nullptr, nullptr, nullptr, &out), 0) << mode;
        EXPECT_EQ(out.data, nullptr);
    }
    // A length whose tagged form would wrap past 32 bits; the data pointer is
    // never read.
    PKIBlob huge{0xFFFFFFF8u, &byte};
    EXPECT_EQ(f.BuildDataContentInfo(1, 2, &huge, 0, nullptr, nullptr, nullptr, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_TRUE(lib.log.empty()) << lib.log.front();
}

TEST(TaggedContent, FailuresLeaveNothingBehind)
{
    std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    fake::SweepFailures(
        "BuildDataContentInfo plain",
        [&bytes](SPKIFormats& f, fake::Library& lib) {
            fake::UseEnvelopedObjects(lib);
            PKIBlob data{sizeof bytes, bytes};
            PKIBlob out{0, nullptr};
            int rc = f.BuildDataContentInfo(7, 8, &data, 0, nullptr, nullptr, nullptr, &out);
            f.ReleaseBlob(&out);
            return rc;
        },
        true);
    // Signing without a key or certificate fails in each family and mode, the
    // tagged content wiped and freed.
    for (std::uint32_t mode : {1u, 0x10000001u, 2u, 0x11000002u}) {
        fake::Library lib;
        lib.requireWipe = true;
        fake::UseEnvelopedObjects(lib);
        SPKIFormats f(nullptr, nullptr, &lib);
        PKIBlob data{sizeof bytes, bytes};
        PKIBlob out{0, nullptr};
        EXPECT_EQ(f.BuildDataContentInfo(7, 8, &data, mode, nullptr, nullptr, nullptr, &out), 0) << mode;
        EXPECT_EQ(out.data, nullptr);
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
}

namespace {

// The facade's plain output read back: a content holding the data object
// the builder filled.
struct PlainRoundTrip {
    fake::Library lib;
    KeptData kept;
    SPKIFormats f{nullptr, nullptr, &lib};
    PlainRoundTrip() { kept.Use(lib); }
    fake::DataContentSource* Build(std::uint32_t word1, std::uint32_t word2, const std::string& payload)
    {
        PKIBlob data{static_cast<std::uint32_t>(payload.size()),
                     reinterpret_cast<std::uint8_t*>(const_cast<char*>(payload.data()))};
        PKIBlob out{0, nullptr};
        EXPECT_EQ(f.BuildDataContentInfo(word1, word2, &data, 0, nullptr, nullptr, nullptr, &out), 1);
        f.ReleaseBlob(&out);
        auto* source = new fake::DataContentSource(lib, kept.data);
        kept.data = nullptr;
        return source;
    }
};

std::string Text(const PKIBlob& b)
{
    return b.data ? std::string(reinterpret_cast<const char*>(b.data), b.length) : std::string();
}

}  // namespace

// A plain content splits back into its two words and its data: an empty
// data part gives an empty blob, and the data output may be left out.
TEST(TaggedContent, PlainContentSplitsIntoTheWordsAndTheData)
{
    for (const std::string& payload : {std::string(), std::string("abc\0def", 7)}) {
        SCOPED_TRACE(payload.size());
        PlainRoundTrip t;
        t.lib.requireWipe = true;
        fake::DataContentSource* source = t.Build(0xA1B2C3D4u, 7, payload);
        std::uint32_t w1 = 0, w2 = 0;
        PKIBlob out{0, nullptr};
        ASSERT_EQ(
            t.f.VerifySignerByFamily(static_cast<IPKIDataContentSource*>(source), 0, nullptr, nullptr, &w1, &w2, &out),
            1);
        EXPECT_EQ(w1, 0xA1B2C3D4u);
        EXPECT_EQ(w2, 7u);
        EXPECT_EQ(Text(out), payload);
        if (payload.empty()) {
            EXPECT_EQ(out.data, nullptr);
        }
        t.f.ReleaseBlob(&out);
        w1 = w2 = 0;
        EXPECT_EQ(t.f.VerifySignerByFamily(static_cast<IPKIDataContentSource*>(source), 0, nullptr, nullptr, &w1, &w2,
                                           nullptr),
                  1);
        EXPECT_EQ(w2, 7u);
        static_cast<IPKIDataContentSource*>(source)->Release();
        EXPECT_EQ(t.lib.LiveObjects(), 0);
        EXPECT_EQ(t.lib.LiveBlobs(), 0u);
        EXPECT_EQ(t.lib.unwipedFrees, 0);
    }
}

// A content shorter than the two words (7 bytes) is refused and the outputs
// stay as they were; so is a data output that already holds a blob.
TEST(TaggedContent, ShortContentLeavesTheOutputsUnwritten)
{
    fake::Library lib;
    lib.requireWipe = true;
    fake::UseEnvelopedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    for (std::size_t length : {std::size_t{0}, std::size_t{7}}) {
        auto* data = new fake::DataContent(lib);
        data->offers.insert(PKI_IID_DATA_CONTENT);
        data->octets = std::string(length, '\x05');
        auto* source = new fake::DataContentSource(lib, data);
        std::uint32_t w1 = 9, w2 = 9;
        PKIBlob out{0, nullptr};
        EXPECT_EQ(
            f.VerifySignerByFamily(static_cast<IPKIDataContentSource*>(source), 0, nullptr, nullptr, &w1, &w2, &out),
            0);
        EXPECT_EQ(w1, 9u);
        EXPECT_EQ(w2, 9u);
        EXPECT_EQ(out.data, nullptr);
        static_cast<IPKIDataContentSource*>(source)->Release();
    }
    auto* data = new fake::DataContent(lib);
    data->offers.insert(PKI_IID_DATA_CONTENT);
    data->octets = std::string(12, '\x05');
    auto* source = new fake::DataContentSource(lib, data);
    std::uint8_t held = 1;
    PKIBlob taken{1, &held};
    std::uint32_t w1 = 9, w2 = 9;
    EXPECT_EQ(
        f.VerifySignerByFamily(static_cast<IPKIDataContentSource*>(source), 0, nullptr, nullptr, &w1, &w2, &taken), 0);
    EXPECT_EQ(taken.data, &held);
    EXPECT_EQ(w1, 9u);
    static_cast<IPKIDataContentSource*>(source)->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

TEST(TaggedContent, ReadingFailuresLeaveNothingBehind)
{
    fake::SweepFailures(
        "VerifySignerByFamily plain",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* data = new fake::DataContent(lib);
            data->offers.insert(PKI_IID_DATA_CONTENT);
            data->octets = std::string("\x01\x00\x00\x00\x02\x00\x00\x00rest", 12);
            auto* source = new fake::DataContentSource(lib, data);
            std::uint32_t w1 = 0, w2 = 0;
            PKIBlob out{0, nullptr};
            int rc = f.VerifySignerByFamily(static_cast<IPKIDataContentSource*>(source), 0, nullptr, nullptr, &w1, &w2,
                                            &out);
            if (rc) {
                EXPECT_EQ(Text(out), "rest");
            }
            f.ReleaseBlob(&out);
            static_cast<IPKIDataContentSource*>(source)->Release();
            return rc;
        },
        true);
}

namespace {

const std::string kTagged = std::string("\x0A\x00\x00\x00\x0B\x00\x00\x00", 8) + "payload";

// Signed messages and their signer's certificate, as the signed-data tests
// script them.
class TaggedSigned : public ::testing::Test {
protected:
    fake::Library lib;
    fake::families::CmsMade made;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::ScriptedCertificate* cert = nullptr;
    fake::families::CmsKey* key = nullptr;

    void SetUp() override
    {
        fake::families::UseSignedDataObjects(lib, made);
        lib.makers[{4906, 4143}] = [this]() -> void* {
            return static_cast<IPKITimeStampToken*>(new fake::TimeStampToken(lib));
        };
        cert = new fake::ScriptedCertificate(lib);
        cert->keyUsage = 1;  // digital signature
        key = new fake::families::CmsKey(lib);
        key->privateKey = std::string(33, '\x5A');
    }
    void TearDown() override
    {
        static_cast<IPKICertificate*>(cert)->Release();
        static_cast<IPKIKeyObject*>(key)->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    IPKIObject* Cert() { return static_cast<IPKICertificate*>(cert); }
    IPKIObject* Key() { return static_cast<IPKIKeyObject*>(key); }
    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const std::string& e : lib.log)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
};

}  // namespace

// The certificate's key family picks the verifier: 1 reads the signer's hash
// kind first (finding the signer by the certificate), 2 SHA (the RSA key
// read), 4 ECDSA (the EC view asked for); another family touches no message.
// A verification that does not hold writes no output.
TEST_F(TaggedSigned, TheSignerIsVerifiedByTheCertificatesKeyFamily)
{
    const std::string rsa = "4870:29()", ec = "4870:2(4226)", signerRead = "4900:11(";
    struct Case {
        std::uint32_t family;
        std::string reached;
    } cases[] = {{1, signerRead}, {2, rsa}, {4, ec}, {0, ""}, {3, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.family);
        cert->kind = c.family;
        auto* m = new fake::families::CmsSignedData(lib);
        m->content = kTagged;
        m->signers.push_back(new fake::families::CmsSigner(lib));
        m->signers[0]->kind = c.family;
        lib.log.clear();
        std::uint32_t w1 = 5, w2 = 5;
        PKIBlob out{0, nullptr};
        const int rc =
            f.VerifySignerByFamily(nullptr, 1, static_cast<IPKISignedDataSigners*>(m), Cert(), &w1, &w2, &out);
        for (const std::string& marker : {rsa, ec}) EXPECT_EQ(Calls(marker).empty(), marker != c.reached) << marker;
        if (c.reached.empty()) {
            EXPECT_TRUE(Calls("4900:").empty());
        } else {
            EXPECT_FALSE(Calls(c.reached).empty());
        }
        if (rc == 1) {
            EXPECT_EQ(w1, 10u);
            EXPECT_EQ(w2, 11u);
            EXPECT_EQ(Text(out), "payload");
            f.ReleaseBlob(&out);
        } else {
            EXPECT_EQ(w1, 5u);
            EXPECT_EQ(w2, 5u);
            EXPECT_EQ(out.data, nullptr);
        }
        static_cast<IPKISignedDataSigners*>(m)->Release();
    }
}

// The time-stamp object takes the words, then the token signed over the
// time-stamp information with its content type, with the signer's
// certificate when asked for, and is encoded into the output last.
TEST_F(TaggedSigned, TimeStampObjectCarriesTheWordsAndTheSignedToken)
{
    const std::string info = "tst-info";
    PKIBlob in{static_cast<std::uint32_t>(info.size()),
               reinterpret_cast<std::uint8_t*>(const_cast<char*>(info.data()))};
    for (std::uint32_t include : {0u, 1u}) {
        SCOPED_TRACE(include);
        PKIBlob out{0, nullptr};
        lib.log.clear();
        made.messages.clear();
        made.signers.clear();
        // The message is kept (one reference more) to read what it was given.
        made.prepareMessage = [](fake::families::CmsSignedData& m) { m.Retain(); };
        const int rc = f.BuildTimeStampContent(&in, 3, 4, Key(), Cert(), 1, 0, 0, include, &out);
        std::vector<std::string> stamp = Calls("4906:");
        std::vector<std::string> order;
        for (const std::string& e : stamp)
            if (e != "4906:1()") order.push_back(e);
        ASSERT_FALSE(order.empty());
        EXPECT_EQ(order.front(), "4906:6(3,4)");
        ASSERT_EQ(rc, 1);
        EXPECT_EQ(order, (std::vector<std::string>{"4906:6(3,4)", "4906:13()", "4906:3()"}));
        EXPECT_EQ(Text(out), "time-stamp:3,4:token");
        ASSERT_EQ(made.messages.size(), 1u);
        EXPECT_EQ(made.messages[0]->type, "1.2.840.113549.1.9.16.1.4");
        ASSERT_EQ(made.signers.size(), 1u);
        EXPECT_EQ(made.signers[0]->contentType, "1.2.840.113549.1.9.16.1.4");
        EXPECT_EQ(made.signers[0]->digestContent, info);
        EXPECT_EQ(made.signers[0]->signedWith, key->privateKey);
        EXPECT_EQ(made.messages[0]->certificatesAdded, include);
        // The certificate goes in before the signer is signed.
        if (include) {
            const auto at = [this](const std::string& prefix) {
                for (std::size_t i = 0; i < lib.log.size(); ++i)
                    if (lib.log[i].rfind(prefix, 0) == 0) return i;
                return lib.log.size();
            };
            EXPECT_LT(at("4900:7("), at("4918:79("));
        }
        f.ReleaseBlob(&out);
        static_cast<IPKISignedDataSigners*>(made.messages[0])->Release();
    }
}

// No key, a family that no branch handles, and a certificate without a view
// for digital signature answer 0 with the output unwritten.
TEST_F(TaggedSigned, TimeStampObjectRefusesUnknownFamiliesAndUnusableCertificates)
{
    const std::string info = "tst-info";
    PKIBlob in{static_cast<std::uint32_t>(info.size()),
               reinterpret_cast<std::uint8_t*>(const_cast<char*>(info.data()))};
    PKIBlob out{0, nullptr};
    // Without a key the token would go out unsigned.
    EXPECT_EQ(f.BuildTimeStampContent(&in, 3, 4, nullptr, Cert(), 1, 0, 0, 0, &out), 0);
    EXPECT_TRUE(lib.log.empty());
    cert->kind = 3;
    EXPECT_EQ(f.BuildTimeStampContent(&in, 3, 4, Key(), Cert(), 3, 0, 0, 0, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    cert->kind = 1;
    cert->keyUsage = 4;  // key encipherment only
    EXPECT_EQ(f.BuildTimeStampContent(&in, 3, 4, Key(), Cert(), 1, 0, 0, 0, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_TRUE(Calls("4900:").empty());
}

// The hash selector of a DSTU 4145 signer: 3 makes the message through the
// DSTU 7564 maker (no GOST 34.311 digest), anything else with GOST 34.311.
TEST_F(TaggedSigned, TimeStampHashSelectorChoosesTheDigest)
{
    const std::string info = "tst-info";
    PKIBlob in{static_cast<std::uint32_t>(info.size()),
               reinterpret_cast<std::uint8_t*>(const_cast<char*>(info.data()))};
    for (std::uint32_t selector : {0u, 2u, 3u}) {
        SCOPED_TRACE(selector);
        lib.log.clear();
        PKIBlob out{0, nullptr};
        f.BuildTimeStampContent(&in, 1, 2, Key(), Cert(), 1, selector, 48, 0, &out);
        f.ReleaseBlob(&out);
        ASSERT_FALSE(Calls("4900:17(").empty());
        EXPECT_EQ(Calls("4900:17(").front(), "4900:17(1.2.840.113549.1.9.16.1.4)");
        EXPECT_EQ(Calls("4900:23(1.2.804.2.1.1.1.1.2.1)").size(), selector == 3 ? 0u : 1u);
    }
}

TEST(TaggedContentSweeps, TimeStampObjectLeavesNothingBehind)
{
    fake::SweepFailures(
        "BuildTimeStampContent",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::families::CmsMade made;
            fake::families::UseSignedDataObjects(lib, made);
            lib.makers[{4906, 4143}] = [&lib]() -> void* {
                return static_cast<IPKITimeStampToken*>(new fake::TimeStampToken(lib));
            };
            auto* cert = new fake::ScriptedCertificate(lib);
            cert->keyUsage = 1;
            auto* key = new fake::families::CmsKey(lib);
            key->privateKey = std::string(33, '\x5A');
            const std::string info = "tst-info";
            PKIBlob in{static_cast<std::uint32_t>(info.size()),
                       reinterpret_cast<std::uint8_t*>(const_cast<char*>(info.data()))};
            PKIBlob out{0, nullptr};
            const int rc = f.BuildTimeStampContent(&in, 1, 2, static_cast<IPKIKeyObject*>(key),
                                                   static_cast<IPKICertificate*>(cert), 1, 0, 0, 1, &out);
            if (!rc) {
                EXPECT_EQ(out.data, nullptr);
            }
            f.ReleaseBlob(&out);
            static_cast<IPKICertificate*>(cert)->Release();
            static_cast<IPKIKeyObject*>(key)->Release();
            return rc;
        },
        false);
}
