// Signer attributes, signing times, time-stamp tokens, signature-value
// hashes and hash-typed certificate identifiers over the test double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/CertificateInfo.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SignedDataLimits.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Logged(const fake::Library& lib, const std::string& entry)
{
    return std::find(lib.log.begin(), lib.log.end(), entry) != lib.log.end();
}

class SignerOps : public ::testing::Test {
protected:
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

TEST(SignerSlots, TheSignerObjectSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_CMS_SIGNER_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// The library reports the hash's length before it writes: 64 bytes pass, a
// longer hash is refused before a byte reaches the caller's buffer, for
// every form that lets the signer hash its own signature value.
TEST_F(SignerOps, SignatureValueHashesAreBoundedBeforeTheLibraryWrites)
{
    auto* rsa = new fake::CmsCertificate(lib, 2);
    auto* ec = new fake::KeyCertificate(lib, 4);
    ec->inner = ec;
    struct Form {
        const char* name;
        std::function<int(IPKIObject* signer, std::uint8_t* hash, std::uint32_t* reported)> run;
        std::uint32_t perByte;  // the reported value per hash byte
    };
    const Form forms[] = {
        {"RSA",
         [&](IPKIObject* s, std::uint8_t* h, std::uint32_t* r) { return f.GetSignatureValueHashRSA(s, rsa, r, h); }, 8},
        {"ECDSA",
         [&](IPKIObject* s, std::uint8_t* h, std::uint32_t* r) { return f.GetSignatureValueHashECDSA(s, ec, r, h); },
         8},
        {"DSTU 7564",
         [&](IPKIObject* s, std::uint8_t* h, std::uint32_t* r) {
             std::uint32_t kind = 0;
             int rc = f.GetSignatureValueHashDSTU7564(s, &kind, r, h);
             if (rc) {
                 EXPECT_EQ(kind, 3u);
             }
             return rc;
         },
         1},
        {"GOST 34.311 form",
         [&](IPKIObject* s, std::uint8_t* h, std::uint32_t* r) {
             PKIBlob blob{0, nullptr};
             int rc = f.GetSignatureValueHash(s, nullptr, &blob);
             if (rc) {
                 std::memcpy(h, blob.data, blob.length);
                 *r = blob.length;
                 f.ReleaseBlob(&blob);
             }
             return rc;
         },
         1},
    };
    for (const Form& form : forms) {
        for (std::size_t length : {std::size_t{20}, std::size_t{64}, std::size_t{65}, std::size_t{200}}) {
            auto* signer = new fake::CmsSigner(lib);
            signer->valueHash.assign(length, 0x5A);
            Bytes out(PKIF_SIGNER_HASH_MAX + 16, 0xEE);
            std::uint32_t reported = 0;
            lib.log.clear();
            const int rc = form.run(signer, out.data(), &reported);
            if (length <= PKIF_SIGNER_HASH_MAX) {
                EXPECT_EQ(rc, 1) << form.name << " " << length;
                EXPECT_EQ(reported, length * form.perByte) << form.name;
                EXPECT_EQ(out[length - 1], 0x5A) << form.name;
            } else {
                EXPECT_EQ(rc, 0) << form.name << " " << length;
                EXPECT_FALSE(Logged(lib, "4918:32(fill)")) << form.name;
                EXPECT_EQ(out, Bytes(PKIF_SIGNER_HASH_MAX + 16, 0xEE)) << form.name;
            }
            signer->Release();
        }
    }
    rsa->Release();
    ec->Release();
}

// Without the signer's own hash, RSA and ECDSA refuse; the GOST 34.311 form
// hashes the signature value through the time-stamp operations (still
// answering 0 here); an RSA hash needs an RSA certificate or its RSA view.
TEST_F(SignerOps, SignatureValueHashesNeedTheFeatureOrTheRightCertificate)
{
    auto* signer = new fake::CmsSigner(lib);
    signer->hasHashFeature = false;
    auto* rsa = new fake::CmsCertificate(lib, 2);
    auto* dstu = new fake::CmsCertificate(lib, 1);
    std::uint8_t hash[64];
    std::uint32_t bits = 0;
    EXPECT_EQ(f.GetSignatureValueHashRSA(signer, rsa, &bits, hash), 0);
    PKIBlob blob{0, nullptr};
    EXPECT_EQ(f.GetSignatureValueHash(signer, dstu, &blob), 0);
    EXPECT_EQ(blob.data, nullptr);
    signer->hasHashFeature = true;
    EXPECT_EQ(f.GetSignatureValueHashRSA(signer, dstu, &bits, hash), 0);  // no RSA view
    EXPECT_EQ(f.GetSignatureValueHashRSA(signer, rsa, &bits, hash), 1);
    EXPECT_EQ(bits, 256u);
    // The ECDSA form without the hash feature, and without an EC view.
    EXPECT_EQ(f.GetSignatureValueHashECDSA(signer, dstu, &bits, hash), 0);
    signer->hashKind = 1;
    std::uint32_t kind = 0, length = 0;
    EXPECT_EQ(f.GetSignatureValueHashDSTU7564(signer, &kind, &length, hash), 0);
    for (IPKIObject* o : std::initializer_list<IPKIObject*>{signer, rsa, dstu}) o->Release();
}

// The signing time: standard attributes or the DSTU signer extension,
// chosen by slot 40 and the signer's key kind.
TEST_F(SignerOps, SigningTimePresenceByPath)
{
    struct Case {
        const char* name;
        std::uint32_t standard, kind;
        int timeAnswer;
        bool extension;
        int extensionAnswer;
        int result;
        std::uint32_t present;
    };
    const Case cases[] = {
        {"standard, present", 1, 1, 0, false, 0, 1, 1},
        {"standard, absent", 1, 1, PKI_E_ABSENT, false, 0, 1, 0},
        {"standard, failing", 1, 1, PKI_E_FAILURE, false, 0, 0, 9},
        {"RSA signer keeps standard attributes", 0, 2, PKI_E_ABSENT, false, 0, 1, 0},
        {"DSTU extension, present", 0, 1, 0, true, 0, 1, 1},
        {"DSTU extension, no time", 0, 1, 0, true, PKI_E_ABSENT, 0, 9},
        {"DSTU path without the extension", 0, 1, 0, false, 0, 0, 9},
    };
    for (const Case& c : cases) {
        auto* data = new fake::CmsSignedData(lib);
        auto* signer = new fake::CmsSigner(lib);
        data->signers.push_back(signer);
        signer->standardAttributes = c.standard;
        signer->keyKind = c.kind;
        signer->signingTimeAnswer = c.timeAnswer;
        signer->hasExtension = c.extension;
        signer->extensionTimeAnswer = c.extensionAnswer;
        std::uint32_t present = 9;
        EXPECT_EQ(f.HasSignerSigningTime(data, 0, &present), c.result) << c.name;
        EXPECT_EQ(present, c.present) << c.name;
        EXPECT_EQ(f.HasSignerSigningTime(data, 1, &present), 0) << c.name;  // no such signer
        data->Release();
    }
}

// The operations that find their signer by certificate or by issuer and
// serial go through the facade's finders, which answer 0 until they are
// built: nothing is left behind, and an attribute made first is released.
TEST_F(SignerOps, OperationsThroughTheSignerFindersReleaseWhatTheyMade)
{
    lib.makers[{PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE}] = [this]() -> void* {
        return static_cast<IPKISignedAttribute*>(new fake::SignedAttribute(lib, ""));
    };
    auto* data = new fake::CmsSignedData(lib);
    data->signers.push_back(new fake::CmsSigner(lib));
    auto* certificate = new fake::CmsCertificate(lib, 1);
    const std::string v = "value";
    PKIBlob value{static_cast<std::uint32_t>(v.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(v.data()))};
    PKIBlob out{0, nullptr};
    EXPECT_EQ(f.AddSignedAttributeForm1(data, certificate, "1.2.3", &value), 0);
    EXPECT_TRUE(Logged(lib, "0:10(4866,4153)"));
    EXPECT_TRUE(Logged(lib, "4866:13(1.2.3)"));
    EXPECT_TRUE(Logged(lib, "4866:15(value)"));
    EXPECT_TRUE(Logged(lib, "4866:1()"));
    EXPECT_EQ(f.AddSignedAttributeForm2(data, certificate, "1.2.3", &value), 0);
    EXPECT_TRUE(Logged(lib, "4866:17(value)"));
    EXPECT_EQ(f.AddSignedAttributeForm3(data, certificate, "1.2.3", &value), 0);
    EXPECT_TRUE(Logged(lib, "4866:19(value)"));
    EXPECT_EQ(f.GetSignedAttributeForm1(data, certificate, "1.2.3", &out), 0);
    EXPECT_EQ(f.GetSignedAttributeForm2(data, certificate, "1.2.3", &out), 0);
    EXPECT_EQ(f.GetSignerAttributeValueByCertificate(data, certificate, "1.2.3", &out), 0);
    const std::uint8_t serial[20] = {5};
    EXPECT_EQ(f.GetSignerTimeStampToken(data, "CN=Issuer", serial, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    data->Release();
    certificate->Release();
}

// A token is decoded into a fresh content info and given to the signer; a
// token that does not decode is not added.
TEST_F(SignerOps, SignerTimeStampIsDecodedThenAdded)
{
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [this]() -> void* {
        return static_cast<IPKIContentInfo*>(new fake::ContentInfo(lib));
    };
    auto* signer = new fake::CmsSigner(lib);
    const std::string t = "token";
    PKIBlob token{static_cast<std::uint32_t>(t.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(t.data()))};
    EXPECT_EQ(f.AddSignerTimeStamp(signer, &token), 1);
    EXPECT_EQ(lib.log, (std::vector<std::string>{"0:10(4879,4113)", "4879:4(5)", "4918:49()", "4879:1()"}));
    EXPECT_EQ(signer->tokensAdded, 1);
    lib.Answer(PKI_CLASS_CONTENT_INFO, 4, {PKI_E_BAD_ENCODING});
    EXPECT_EQ(f.AddSignerTimeStamp(signer, &token), 0);
    EXPECT_EQ(signer->tokensAdded, 1);
    PKIBlob empty{0, nullptr};
    EXPECT_EQ(f.AddSignerTimeStamp(signer, &empty), 0);
    signer->Release();
}

TEST_F(SignerOps, SignerInfoTakesTheValue)
{
    lib.makers[{PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO}] = [this]() -> void* {
        return static_cast<IPKISignerInfo*>(new fake::CmsSigner(lib));
    };
    const std::string v = "signer value";
    PKIBlob value{static_cast<std::uint32_t>(v.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(v.data()))};
    void* signer = nullptr;
    ASSERT_EQ(f.CreateSignerInfoWithValue(&value, &signer), 1);
    EXPECT_TRUE(Logged(lib, "4918:96(signer value)"));
    static_cast<IPKISignerInfo*>(signer)->Release();
    lib.Answer(PKI_CLASS_SIGNER_INFO, 96, {PKI_E_FAILURE});
    signer = nullptr;
    EXPECT_EQ(f.CreateSignerInfoWithValue(&value, &signer), 0);
    EXPECT_EQ(signer, nullptr);
}

// Codes 0 to 9 report their hash lengths (code 0: none) and read the hash
// through the reader of their family; code 10 and an old library refuse.
TEST_F(SignerOps, IdentifierHashTypesByCode)
{
    const std::uint32_t lengths[] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};
    const char* readers[] = {"",          "4921:19()", "4921:20()", "4921:20()", "4921:20()",
                             "4921:20()", "4921:20()", "4921:37()", "4921:37()", "4921:37()"};
    const char* entryReaders[] = {"",         "4921:5()", "4921:6()",  "4921:6()",  "4921:6()",
                                  "4921:6()", "4921:6()", "4921:35()", "4921:35()", "4921:35()"};
    auto* list = new fake::Identifiers(lib);
    for (std::uint32_t code = 0; code <= 10; ++code) {
        list->code = code;
        for (bool entry : {false, true}) {
            lib.log.clear();
            std::uint32_t c = 99, length = 99;
            Bytes hash(64, 0);
            const int rc = entry ? f.GetEntryIdentifierHashType(list, &c, &length, hash.data())
                                 : f.GetCertificateIdentifierHashType(list, &c, &length, hash.data());
            if (code == 10) {
                EXPECT_EQ(rc, 0);
                EXPECT_EQ(c, 99u);
                continue;
            }
            EXPECT_EQ(rc, 1) << code;
            EXPECT_EQ(c, code);
            EXPECT_EQ(length, lengths[code]);
            EXPECT_EQ(std::count(hash.begin(), hash.end(), 0x77), static_cast<long>(lengths[code])) << code;
            if (code) {
                EXPECT_TRUE(Logged(lib, (entry ? entryReaders : readers)[code])) << code;
            }
        }
    }
    list->code = 3;
    lib.version = 258;
    std::uint32_t c = 0, length = 0;
    EXPECT_EQ(f.GetCertificateIdentifierHashType(list, &c, &length, nullptr), 0);
    EXPECT_EQ(f.GetEntryIdentifierHashType(list, &c, &length, nullptr), 0);
    lib.version = 259;
    EXPECT_EQ(f.GetCertificateIdentifierHashType(list, &c, &length, nullptr), 1);
    EXPECT_EQ(length, 28u);
    list->Release();
}

// Matching: the newer computation first (library above 265), the older one
// when it differs; DSTU 7564 codes through interface 4256; the expected
// hash must be as long as its code's hash.
TEST_F(SignerOps, IdentifierMatchingTriesTheNewerHashThenTheOlder)
{
    auto* certificate = new fake::CmsCertificate(lib, 2);
    auto* id = new fake::Identifiers(lib);
    const Bytes expected(64, 0x77);
    // Newer matches: no second computation.
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 4, 32, expected.data()), 1);
    EXPECT_TRUE(Logged(lib, "4921:34()"));
    EXPECT_FALSE(Logged(lib, "4921:32()"));
    // Newer differs, older matches.
    id->computedEx.assign(64, 0x01);
    lib.log.clear();
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 4, 32, expected.data()), 1);
    EXPECT_EQ(lib.log, (std::vector<std::string>{"0:3()", "0:3()", "4921:34()", "4921:32()"}));
    // Both differ in the last byte.
    id->computed[27] ^= 1;
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 3, 28, expected.data()), 0);
    id->computed[27] ^= 1;
    // An older library computes once, with the older operation.
    lib.version = 265;
    lib.log.clear();
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 2, 20, expected.data()), 1);
    EXPECT_FALSE(Logged(lib, "4921:34()"));
    lib.version = 258;
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 2, 20, expected.data()), 0);
    lib.version = 270;
    // DSTU 7564 codes, and a length that is not the code's.
    lib.log.clear();
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 8, 48, expected.data()), 1);
    EXPECT_TRUE(Logged(lib, "4921:41()"));
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 8, 16, expected.data()), 0);
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 4, 0, expected.data()), 0);
    EXPECT_EQ(f.MatchCertificateIdentifier(certificate, id, 10, 64, expected.data()), 0);
    // Entries compute once, with their own operations.
    lib.log.clear();
    EXPECT_EQ(f.MatchEntryIdentifier(certificate, id, 5, 48, expected.data()), 1);
    EXPECT_EQ(f.MatchEntryIdentifier(certificate, id, 9, 64, expected.data()), 1);
    EXPECT_TRUE(Logged(lib, "4921:30()"));
    EXPECT_TRUE(Logged(lib, "4921:39()"));
    id->computed[0] = 0;
    EXPECT_EQ(f.MatchEntryIdentifier(certificate, id, 5, 48, expected.data()), 0);
    certificate->Release();
    id->Release();
}

// The DSTU 7564 signing certificate: sizes 32, 48 and 64 bytes give codes
// 7, 8 and 9; the entry gets the certificate's issuer on the list's last
// entry; other sizes, kinds and certificates are refused.
TEST_F(SignerOps, SigningCertificateDSTU7564BySize)
{
    std::uint32_t certificateKind = 1;
    fake::UseCmsInteger(lib);  // the serial loads
    lib.makers[{PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE}] = [&]() -> void* {
        return static_cast<IPKICertificate*>(new fake::CmsCertificate(lib, certificateKind));
    };
    const std::string c = "certificate";
    PKIBlob encoded{static_cast<std::uint32_t>(c.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(c.data()))};
    struct Case {
        std::uint32_t kind, bytes, certificateKind;
        const char* entry;
    };
    const Case cases[] = {{3, 32, 1, "7:7"},   {3, 48, 1, "8:8"},   {3, 64, 1, "9:9"}, {3, 40, 1, nullptr},
                          {2, 32, 1, nullptr}, {3, 32, 2, nullptr}, {3, 0, 1, nullptr}};
    for (const Case& k : cases) {
        certificateKind = k.certificateKind;
        auto* list = new fake::SigningCertificateList(lib);
        EXPECT_EQ(f.AddSigningCertificateDSTU7564(list, k.kind, k.bytes, &encoded), k.entry ? 1 : 0) << k.bytes;
        if (k.entry) {
            EXPECT_EQ(list->entries, std::vector<std::string>{k.entry});
            EXPECT_EQ(list->identity, "0:CN=Issuer");
        } else {
            EXPECT_TRUE(list->entries.empty());
        }
        list->Release();
    }
}

TEST_F(SignerOps, ObjectValue4267)
{
    class Value final : public fake::Object<IPKIObjectValue4267> {
    public:
        explicit Value(fake::Library& lib) : Object(lib, 4900) {}
        int GetValue(std::uint32_t* value) override
        {
            int c = lib_.Enter(4900, 68, "", 4267);
            if (c >= 0) return c;
            *value = 42;
            return 0;
        }
    };
    auto* object = new Value(lib);
    std::uint32_t value = 0;
    EXPECT_EQ(f.ReadObjectValue4267(object, &value), 0);  // no such interface
    object->offers.insert(PKI_IID_OBJECT_VALUE_4267);
    EXPECT_EQ(f.ReadObjectValue4267(object, &value), 1);
    EXPECT_EQ(value, 42u);
    lib.Answer(4900, 68, {PKI_E_FAILURE});
    EXPECT_EQ(f.ReadObjectValue4267(object, &value), 0);
    object->Release();
}

// Freeing releases the texts and clears the whole record, time included.
// A time marked present that is missing or does not convert refuses the
// fill before any certificate text is read; every refusal leaves the record
// empty. (The certificate's field texts are not built yet, so a fill of the
// texts themselves answers 0 here.)
TEST_F(SignerOps, SignerCertificateInfoRecord)
{
    SignerCertificateInfo info, zero;
    std::memset(&zero, 0, sizeof zero);
    std::memset(&info, 0, sizeof info);
    info.certificate.filled = 1;
    info.certificate.issuerName = new char[4]{'a', 'b', 'c', 0};
    info.certificate.attribute411 = new char[2]{'z', 0};
    info.timePresent = 1;
    info.timeValue = 7;
    info.time.wYear = 2026;
    EXPECT_EQ(f.FreeSignerCertificateInfo(&info), 1);
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    EXPECT_EQ(f.FreeSignerCertificateInfo(&info), 1);  // nothing left to free
    EXPECT_EQ(f.FreeSignerCertificateInfo(nullptr), 0);

    auto* certificate = new fake::CmsCertificate(lib, 1);
    SYSTEMTIME bad{};
    bad.wYear = 2026;
    bad.wMonth = 13;
    bad.wDay = 1;
    SYSTEMTIME good = bad;
    good.wMonth = 12;
    struct Case {
        const char* name;
        std::uint32_t timePresent;
        const SYSTEMTIME* time;
        bool readsCertificate;
    };
    const Case cases[] = {
        {"time not converted", 1, &bad, false},
        {"time missing", 1, nullptr, false},
        {"no time, texts not built", 0, nullptr, true},
        {"good time, texts not built", 1, &good, true},
    };
    for (const Case& c : cases) {
        std::memset(&info, 0x5A, sizeof info);
        lib.log.clear();
        EXPECT_EQ(f.FillSignerCertificateInfo(&info, certificate, c.timePresent, 9, c.time), 0) << c.name;
        EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0) << c.name;
        EXPECT_EQ(!lib.log.empty(), c.readsCertificate) << c.name;
    }
    certificate->Release();
}

TEST(SignerOpsSweep, NothingStaysBehindWhenACallFails)
{
    fake::SweepFailures(
        "signature value hash",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* signer = new fake::CmsSigner(lib);
            auto* rsa = new fake::CmsCertificate(lib, 2);
            std::uint8_t hash[64];
            std::uint32_t bits = 0;
            int rc = f.GetSignatureValueHashRSA(signer, rsa, &bits, hash);
            signer->Release();
            rsa->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "signing certificate DSTU 7564",
        [](SPKIFormats& f, fake::Library& lib) {
            lib.makers[{PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE}] = [&lib]() -> void* {
                return static_cast<IPKICertificate*>(new fake::CmsCertificate(lib, 1));
            };
            fake::UseCmsInteger(lib);
            auto* list = new fake::SigningCertificateList(lib);
            const std::string c = "certificate";
            PKIBlob encoded{static_cast<std::uint32_t>(c.size()),
                            reinterpret_cast<std::uint8_t*>(const_cast<char*>(c.data()))};
            int rc = f.AddSigningCertificateDSTU7564(list, 3, 48, &encoded);
            list->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "signer time stamp",
        [](SPKIFormats& f, fake::Library& lib) {
            lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib]() -> void* {
                return static_cast<IPKIContentInfo*>(new fake::ContentInfo(lib));
            };
            auto* signer = new fake::CmsSigner(lib);
            const std::string t = "token";
            PKIBlob token{static_cast<std::uint32_t>(t.size()),
                          reinterpret_cast<std::uint8_t*>(const_cast<char*>(t.data()))};
            int rc = f.AddSignerTimeStamp(signer, &token);
            signer->Release();
            return rc;
        },
        true);
}
