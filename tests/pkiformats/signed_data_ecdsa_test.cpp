// CMS signed data with ECDSA signatures over the test double: hash choice
// and digest OIDs, the signer's EC view, key sizes, wrapping and encoding.
// The verification runs over the real CSPI (signed_data_providers_test).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SignedDataLimits.h"

namespace {

using Log = std::vector<std::string>;

PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

bool Logged(const fake::Library& lib, const std::string& entry)
{
    return std::find(lib.log.begin(), lib.log.end(), entry) != lib.log.end();
}

void UseECDSAObjects(fake::Library& lib)
{
    lib.makers[{PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA}] = [&lib]() -> void* {
        return static_cast<IPKISignedData*>(new fake::CmsSignedData(lib));
    };
    lib.makers[{PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO}] = [&lib]() -> void* {
        return static_cast<IPKISignerInfo*>(new fake::CmsSigner(lib, false));
    };
    lib.makers[{PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE}] = [&lib]() -> void* {
        return static_cast<IPKISigningCertificate*>(new fake::SigningCertificate(lib));
    };
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib]() -> void* {
        return static_cast<IPKICMSContentInfo*>(new fake::CmsContentInfo(lib));
    };
    fake::UseCmsInteger(lib);  // the serial loads
}

fake::CmsSignedData* AsMessage(void* out)
{
    return static_cast<fake::CmsSignedData*>(static_cast<IPKISignedDataSigners*>(static_cast<IPKISignedData*>(out)));
}

class ECDSASignedData : public ::testing::Test {
protected:
    void SetUp() override { UseECDSAObjects(lib); }
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    fake::Library lib;
    SPKIFormats facade{nullptr, nullptr, &lib};
    ISPKIFormats& f = facade;
};

}  // namespace

// Explicit sizes choose their SHA digest (any other size SHA-256); the
// signer is built with the chosen size over the content, its signing
// certificate hashed with that size.
TEST_F(ECDSASignedData, HashSizesChooseTheDigest)
{
    auto* certificate = new fake::CmsCertificate(lib, 4);
    auto* key = new fake::Generic(lib, 4893);
    key->View(4128);
    const std::string text = "hello";
    PKIBlob content = View(text);
    struct Case {
        std::uint32_t asked, used;
        const char* oid;
    };
    const Case cases[] = {{160, 160, "1.3.14.3.2.26"},          {224, 224, "2.16.840.1.101.3.4.2.4"},
                          {256, 256, "2.16.840.1.101.3.4.2.1"}, {384, 384, "2.16.840.1.101.3.4.2.2"},
                          {512, 512, "2.16.840.1.101.3.4.2.3"}, {300, 256, "2.16.840.1.101.3.4.2.1"}};
    for (const Case& c : cases) {
        lib.log.clear();
        void* out = nullptr;
        ASSERT_EQ(f.CreateSignedDataOfDataECDSA(&content, 0, key, certificate, &out, nullptr, c.asked), 1) << c.asked;
        auto* message = AsMessage(out);
        EXPECT_EQ(message->digests, std::vector<std::string>{c.oid});
        EXPECT_EQ(message->contentType, "1.2.840.113549.1.7.1");
        EXPECT_EQ(message->content, "hello");
        ASSERT_EQ(message->signers.size(), 1u);
        EXPECT_EQ(message->signers[0]->digestSet, "content:" + std::to_string(c.used) + ":hello");
        EXPECT_TRUE(Logged(lib, "4919:11(" + std::to_string(c.used) + ")"));
        EXPECT_TRUE(Logged(lib, "4919:13(192," + std::to_string(c.used) + ",1,CN=Issuer)"));
        // The digest OID and content type come before the signer, the
        // content after it.
        auto at = [&](const std::string& e) { return std::find(lib.log.begin(), lib.log.end(), e) - lib.log.begin(); };
        EXPECT_LT(at("4900:23(" + std::string(c.oid) + ")"), at("4900:17(1.2.840.113549.1.7.1)"));
        EXPECT_LT(at("4900:17(1.2.840.113549.1.7.1)"), at("4900:12()"));
        EXPECT_LT(at("4900:12()"), at("4900:19(5)"));
        message->Release();
    }
    // A hash: the signer takes it with the size, the message no content.
    const std::vector<std::uint8_t> hash(48, 0xCD);
    void* out = nullptr;
    ASSERT_EQ(f.CreateSignedDataOfDataECDSA(&content, 0, key, certificate, &out, hash.data(), 384), 1);
    EXPECT_EQ(AsMessage(out)->signers[0]->digestSet.substr(0, 12), "hash:384:cdc");
    EXPECT_FALSE(AsMessage(out)->hasContent);
    AsMessage(out)->Release();
    // Without a key the message has no signer.
    ASSERT_EQ(f.CreateSignedDataOfDataECDSA(&content, 0, nullptr, certificate, &out, nullptr, 256), 1);
    EXPECT_TRUE(AsMessage(out)->signers.empty());
    AsMessage(out)->Release();
    key->Release();
    certificate->Release();
}

// A certificate of another kind is used through its EC view; without one,
// or without a size when no curve can be read, nothing is built.
TEST_F(ECDSASignedData, CertificatesOfAnotherKindGoThroughTheirECView)
{
    auto* viewed = new fake::CmsCertificate(lib, 1, true);
    auto* plain = new fake::CmsCertificate(lib, 1);
    auto* ec = new fake::CmsCertificate(lib, 4);
    const std::string text = "hello";
    PKIBlob content = View(text);
    void* signer = nullptr;
    ASSERT_EQ(f.CreateSignerInfoECDSA(viewed, "1.2.3", &content, nullptr, 256, &signer), 1);
    EXPECT_TRUE(Logged(lib, "4870:112()"));
    static_cast<IPKISignerInfo*>(signer)->Release();
    signer = nullptr;
    EXPECT_EQ(f.CreateSignerInfoECDSA(plain, "1.2.3", &content, nullptr, 256, &signer), 0);
    EXPECT_EQ(f.CreateSignerInfoECDSA(ec, "1.2.3", &content, nullptr, 0, &signer), 0);  // no CSPI: no curve size
    void* out = nullptr;
    EXPECT_EQ(f.CreateSignedDataOfDataECDSA(&content, 0, ec, ec, &out, nullptr, 0), 0);
    EXPECT_EQ(signer, nullptr);
    EXPECT_EQ(out, nullptr);
    for (IPKIObject* o : std::initializer_list<IPKIObject*>{viewed, plain, ec}) o->Release();
}

// The detached form, and the signers added to a message, take the key size
// through the signer's ECDSA view.
TEST_F(ECDSASignedData, KeySizesOfDetachedAndAddedSigners)
{
    auto* certificate = new fake::CmsCertificate(lib, 4);
    auto* key = new fake::Generic(lib, 4893);
    key->View(4128);
    void* out = nullptr;
    ASSERT_EQ(f.CreateDetachedSignedDataECDSA(key, certificate, 384, &out), 1);
    auto* message = AsMessage(out);
    EXPECT_FALSE(message->hasContent);
    ASSERT_EQ(message->signers.size(), 1u);
    EXPECT_EQ(message->signers[0]->digestSet, "key:384");
    // Added to a message: the message's content and type; the empty and
    // keyed forms carry no digest but the key size.
    message->hasContent = true;
    message->content = "message content";
    const std::string callerText = "caller content";
    PKIBlob caller = View(callerText);
    ASSERT_EQ(f.AddSignerECDSA(message, certificate, &caller, nullptr, 224), 1);
    EXPECT_EQ(message->signers[1]->digestSet, "content:224:message content");
    ASSERT_EQ(f.AddSignerWithKeyECDSA(message, certificate, 512), 1);
    EXPECT_EQ(message->signers[2]->digestSet, "key:512");
    ASSERT_EQ(f.AddEmptySignerECDSA(message, certificate, 160), 1);
    EXPECT_EQ(message->signers[3]->digestSet, "key:160");
    // A peer's content type longer than the facade's buffer.
    message->contentType = "1." + std::string(PKIF_CONTENT_TYPE_BYTES, '3');
    EXPECT_EQ(f.AddSignerECDSA(message, certificate, &caller, nullptr, 224), 0);
    EXPECT_EQ(f.AddEmptySignerECDSA(message, certificate, 160), 0);
    EXPECT_EQ(message->signers.size(), 4u);
    message->Release();
    key->Release();
    certificate->Release();
}

// Wrapping: a content info of type signed data holding the message, and the
// encodings of the wrapper, the message and a single signer. Signing with a
// key goes through the signer signing operations, which answer 0 until
// they are built: nothing is wrapped then.
TEST_F(ECDSASignedData, WrappingAndEncoding)
{
    auto* message = new fake::CmsSignedData(lib);
    auto* signer = new fake::CmsSigner(lib, false);
    auto* key = new fake::Generic(lib, 4893);
    key->View(4128);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.SignAndEncodeContentInfoECDSA(message, nullptr, nullptr, &out), 1);
    EXPECT_EQ(lib.log,
              (Log{"0:10(4879,4113)", "4879:6(1.2.840.113549.1.7.2)", "4879:8()", "4879:3()", "0:6(36)", "4879:1()"}));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "content info of 1.2.840.113549.1.7.2");
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignAndEncodeSignedDataECDSA(message, nullptr, nullptr, &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "encoded signed data");
    f.ReleaseBlob(&out);
    ASSERT_EQ(f.SignSignerAndEncodeECDSA(signer, nullptr, nullptr, &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "encoded signer");
    f.ReleaseBlob(&out);
    lib.log.clear();
    void* wrapper = nullptr;
    EXPECT_EQ(f.SignAndWrapSignedDataECDSA(message, key, nullptr, &wrapper), 0);
    EXPECT_EQ(f.SignAndEncodeSignedDataECDSA(message, key, nullptr, &out), 0);
    EXPECT_EQ(f.SignSignerAndEncodeECDSA(signer, key, nullptr, &out), 0);
    EXPECT_EQ(f.SignLastSignerEntryECDSA(message, key, nullptr), 0);
    EXPECT_EQ(f.SignSignerEntryECDSA(signer, key, nullptr), 0);
    EXPECT_TRUE(lib.log.empty());
    EXPECT_EQ(wrapper, nullptr);
    EXPECT_EQ(out.data, nullptr);
    message->Release();
    signer->Release();
    key->Release();
}

// The operations that find their signer by certificate answer 0 until the
// finder is built.
TEST_F(ECDSASignedData, OperationsOfTheCertificatesSignerGoThroughTheFinder)
{
    auto* certificate = new fake::CmsCertificate(lib, 4);
    auto* message = new fake::CmsSignedData(lib);
    message->signers.push_back(new fake::CmsSigner(lib, false));
    std::uint8_t hash[64];
    std::uint32_t bits = 0;
    const std::string t = "token";
    PKIBlob token = View(t);
    EXPECT_EQ(f.GetSignatureValueHashByCertificateECDSA(message, certificate, &bits, hash), 0);
    EXPECT_EQ(f.HashSignatureValueByCertificateECDSA(message, certificate, &bits, hash), 0);
    EXPECT_EQ(f.AddSignerTimeStampByCertificateECDSA(message, certificate, &token), 0);
    EXPECT_EQ(message->signers[0]->tokensAdded, 0);
    message->Release();
    certificate->Release();
}

TEST(ECDSASignedDataSweep, NothingStaysBehindWhenACallFails)
{
    fake::SweepFailures(
        "message with signer",
        [](SPKIFormats& f, fake::Library& lib) {
            UseECDSAObjects(lib);
            auto* certificate = new fake::CmsCertificate(lib, 4);
            auto* key = new fake::Generic(lib, 4893);
            key->View(4128);
            const std::string text = "hello";
            PKIBlob content = View(text);
            void* out = nullptr;
            int rc = f.CreateSignedDataOfDataECDSA(&content, 0, key, certificate, &out, nullptr, 384);
            if (out) static_cast<IPKISignedData*>(out)->Release();
            certificate->Release();
            key->Release();
            return rc;
        },
        false);  // a key kind that cannot be read leaves the EC view, which this certificate has
    fake::SweepFailures(
        "wrapped and encoded",
        [](SPKIFormats& f, fake::Library& lib) {
            UseECDSAObjects(lib);
            auto* message = new fake::CmsSignedData(lib);
            PKIBlob out{0, nullptr};
            int rc = f.SignAndEncodeContentInfoECDSA(message, nullptr, nullptr, &out);
            f.ReleaseBlob(&out);
            message->Release();
            return rc;
        },
        true);
}
