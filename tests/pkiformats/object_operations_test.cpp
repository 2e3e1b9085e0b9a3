// Operations that pass objects on: the library's version-gated conversions,
// parts of objects encoded, an object's key kind checked against a
// certificate, the key identifier forwarder, and the signer and container
// operations that reach operations still to be built.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/SPKIFormats.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Drop {
    IPKIObject* object;
    ~Drop()
    {
        if (object) object->Release();
    }
};

}  // namespace

// Each conversion is asked for only past its version gate, with the caller's
// words in order; a refusal by the library is a failure.
TEST(FacadeLibraryConversions, GatedByVersionAndPassedThrough)
{
    int w[4];
    void* a = &w[0];
    void* b = &w[1];
    void* c = &w[2];
    void* d = &w[3];
    struct Case {
        const char* name;
        std::uint32_t lastRefused;  // the highest version that does not have it
        std::uint32_t op;
    };
    const Case cases[] = {{"ConvertFourWithLibrary", 267, 35},
                          {"ConvertThreeWithLibrary", 270, 36},
                          {"ConvertThreeWithLibraryNew", 272, 38}};
    for (const Case& k : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto run = [&] {
            if (k.op == 35) return f.ConvertFourWithLibrary(a, b, c, d);
            if (k.op == 36) return f.ConvertThreeWithLibrary(a, b, c);
            return f.ConvertThreeWithLibraryNew(a, b, c);
        };
        lib.version = k.lastRefused;
        EXPECT_EQ(run(), 0) << k.name;
        EXPECT_TRUE(lib.converted.empty()) << k.name << ": asked below its version";
        lib.version = k.lastRefused + 1;
        ASSERT_EQ(run(), 1) << k.name;
        std::vector<const void*> expected = {a, b, c};
        if (k.op == 35) expected.push_back(d);
        EXPECT_EQ(lib.converted, expected) << k.name;
        EXPECT_EQ(lib.log.back(), "0:" + std::to_string(k.op) + "(" + std::to_string(expected.size()) + ")");
        lib.Answer(0, k.op, {PKI_E_FAILURE});
        EXPECT_EQ(run(), 0) << k.name;
    }
    SPKIFormats none(nullptr, nullptr, nullptr);
    EXPECT_EQ(none.ConvertFourWithLibrary(a, b, c, d), 0);
    EXPECT_EQ(none.ConvertThreeWithLibrary(a, b, c), 0);
    EXPECT_EQ(none.ConvertThreeWithLibraryNew(a, b, c), 0);
}

// The object's inner object (its slot 11), not the object itself, goes to
// the library, and is released afterwards.
TEST(FacadeLibraryConversions, ObjectConversionTakesTheInnerObject)
{
    int w[4];
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* source = new fake::InnerSource(lib);
    Drop drop{source};
    lib.version = 263;
    EXPECT_EQ(f.ConvertObjectWithLibrary(source, &w[0], &w[1], &w[2], &w[3]), 0);
    EXPECT_EQ(source->handedOut, nullptr) << "nothing read below version 264";
    lib.version = 264;
    ASSERT_EQ(f.ConvertObjectWithLibrary(source, &w[0], &w[1], &w[2], &w[3]), 1);
    ASSERT_NE(source->handedOut, nullptr);
    std::vector<const void*> expected = {source->handedOut, &w[0], &w[1], &w[2], &w[3]};
    EXPECT_EQ(lib.converted, expected);
    EXPECT_EQ(lib.LiveObjects(), 1) << "the inner object is released";
    EXPECT_EQ(f.ConvertObjectWithLibrary(nullptr, &w[0], &w[1], &w[2], &w[3]), 0);

    fake::SweepFailures(
        "ConvertObjectWithLibrary",
        [](SPKIFormats& facade, fake::Library& l) {
            auto* s = new fake::InnerSource(l);
            Drop d{s};
            return facade.ConvertObjectWithLibrary(s, nullptr, nullptr, nullptr, nullptr);
        },
        true);
}

// Slot 26 for EncodeObjectPart26, slot 17 for EncodeObjectPart17: each part
// is encoded by the codec, and the blob holds that encoding exactly.
TEST(FacadeObjectParts, EachPartIsEncodedFromItsOwnSlot)
{
    auto useCodec = [](fake::Library& lib) {
        lib.makers[{PKI_CLASS_CODEC, PKI_IID_CODEC}] = [&lib]() -> void* {
            return static_cast<IPKICodec*>(new fake::Codec(lib));
        };
    };
    fake::Library lib;
    useCodec(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* object = new fake::PartsObject(lib);
    Drop drop{object};
    for (std::uint8_t slot : {std::uint8_t{26}, std::uint8_t{17}}) {
        PKIBlob out{0, nullptr};
        ASSERT_EQ(slot == 26 ? f.EncodeObjectPart26(object, &out) : f.EncodeObjectPart17(object, &out), 1);
        fake::SignatureValue::Form forms[3];
        forms[0] = {fake::PartsObject::Bytes(slot), 64, true};
        EXPECT_EQ(Bytes(out.data, out.data + out.length), fake::EncodeSignatureValue(forms)) << int(slot);
        f.ReleaseBlob(&out);
    }
    // A blob that already holds something is not overwritten.
    std::uint8_t held = 7;
    PKIBlob full{1, &held};
    EXPECT_EQ(f.EncodeObjectPart26(object, &full), 0);
    EXPECT_EQ(full.data, &held);
    EXPECT_EQ(lib.LiveObjects(), 1);
    EXPECT_EQ(lib.LiveBlobs(), 0u);

    for (bool part26 : {true, false})
        fake::SweepFailures(
            part26 ? "EncodeObjectPart26" : "EncodeObjectPart17",
            [part26, useCodec](SPKIFormats& facade, fake::Library& l) {
                useCodec(l);
                auto* o = new fake::PartsObject(l);
                Drop d{o};
                PKIBlob out{0, nullptr};
                int rc = part26 ? facade.EncodeObjectPart26(o, &out) : facade.EncodeObjectPart17(o, &out);
                facade.ReleaseBlob(&out);
                return rc;
            },
            true);
}

// The certificate, or its view of the object's key kind, must be of that kind
// and carry the certificate-signing usage (0x40).
TEST(FacadeKeyKind, ObjectCheckedAgainstTheCertificateOfItsKind)
{
    struct Case {
        const char* what;
        std::uint32_t objectKind, certificateKind;
        std::uint32_t outerUsage;
        int view;  // 0 none, 2 an RSA view, 4 an EC view
        std::uint32_t viewKind, viewUsage;
        int expected;
    };
    const Case cases[] = {
        {"same kind, may sign certificates", 1, 1, 0x41, 0, 0, 0, 1},
        {"same kind, may not", 1, 1, 0x01, 0, 0, 0, 0},
        {"RSA object, the RSA view may sign", 2, 1, 0x00, 2, 2, 0x40, 1},
        {"RSA object, only the outer certificate may sign", 2, 1, 0x40, 2, 2, 0x01, 0},
        {"RSA object, no RSA view", 2, 1, 0x40, 0, 0, 0, 0},
        {"ECDSA object, the EC view may sign", 4, 2, 0x00, 4, 4, 0x60, 1},
        {"ECDSA object, no EC view", 4, 2, 0x40, 0, 0, 0, 0},
        {"a view of another kind", 2, 4, 0x40, 2, 4, 0x40, 0},
        {"DSTU 4145 object, RSA certificate", 1, 2, 0x40, 2, 2, 0x40, 0},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        fake::Profile outer;
        outer.keyKind = c.certificateKind;
        outer.keyUsage = true;
        outer.keyUsageBits = c.outerUsage;
        auto* certificate = new fake::ProfileCertificate(lib, outer);
        fake::Profile inner = outer;
        inner.keyKind = c.viewKind;
        inner.keyUsageBits = c.viewUsage;
        auto* view = new fake::ProfileCertificate(lib, inner);
        auto* ec = new fake::ProfileECView(certificate, lib);
        certificate->OfferView(PKI_IID_CERTIFICATE_EX, ec, [ec] { delete ec; });
        if (c.view == 2) certificate->rsa = view;
        if (c.view == 4) ec->inner = view;
        auto* object = new fake::KeyKindItem(lib, c.objectKind);
        EXPECT_EQ(f.CheckObjectAgainstCertificate(object, certificate), c.expected) << c.what;
        EXPECT_EQ(f.CheckObjectAgainstCertificate(nullptr, certificate), 0);
        EXPECT_EQ(f.CheckObjectAgainstCertificate(object, nullptr), 0);
        object->Release();
        certificate->Release();
        view->Release();
        EXPECT_EQ(lib.LiveObjects(), 0) << c.what;
        EXPECT_EQ(lib.doubleReleases, 0) << c.what;
    }

    for (int view : {0, 2, 4})
        fake::SweepFailures(
            "CheckObjectAgainstCertificate " + std::to_string(view),
            [view](SPKIFormats& facade, fake::Library& l) {
                fake::Profile p;
                p.keyKind = view ? 1 : 2;
                p.keyUsage = true;
                p.keyUsageBits = 0x40;
                auto* certificate = new fake::ProfileCertificate(l, p);
                p.keyKind = view ? static_cast<std::uint32_t>(view) : 2;
                auto* inner = new fake::ProfileCertificate(l, p);
                auto* ec = new fake::ProfileECView(certificate, l);
                certificate->OfferView(PKI_IID_CERTIFICATE_EX, ec, [ec] { delete ec; });
                certificate->rsa = inner;
                ec->inner = inner;
                auto* object = new fake::KeyKindItem(l, view ? static_cast<std::uint32_t>(view) : 2);
                int rc = facade.CheckObjectAgainstCertificate(object, certificate);
                object->Release();
                certificate->Release();
                inner->Release();
                return rc;
            },
            true);
}

// Position 54 computes the identifier as a request's own hash code asks
// (useHashCode 1, not the DSTU 7564 flag): a request without a hash code
// gets the 20-byte identifier of library operation 18, one whose hash code
// is 7 the 32-byte DSTU 7564 identifier of operation 37.
TEST(FacadeKeyIdentifierForwarder, UsesTheRequestsHashCode)
{
    fake::KeysLibrary lib;
    lib.version = 272;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* request = new fake::KeyRequest(lib, 1);
    Drop drop{request};
    request->curve.field.words[DSTU4145_FIELD_M] = 163;  // 21 key bytes
    for (std::size_t i = 0; i < 76; ++i) request->dstuPublic[i] = static_cast<std::uint8_t>(0x40 + i);
    auto expect = [&](std::uint8_t tag, std::uint32_t size) {
        Bytes id(32, 0);
        fake::KeysLibrary::Identifier(tag, request->dstuPublic.data(), 21, id.data(), size);
        return id;
    };
    Bytes out(32, 0xEE);
    ASSERT_EQ(f.ForwardToOperation566(request, out.data()), 1);
    EXPECT_EQ(out, expect(18, 20));
    request->OfferHashCode(7);
    ASSERT_EQ(f.ForwardToOperation566(request, out.data()), 1);
    EXPECT_EQ(out, expect(37, 32));
    EXPECT_EQ(f.ForwardToOperation566(nullptr, out.data()), 0);
}

// Only a message with exactly one signer has "the" signer: other counts
// answer 0 without fetching any signer. With one, signer 0 is fetched and
// handed to GetSignerIdentifier, which is not built yet and answers 0; the
// signer is released either way.
TEST(FacadeSigners, SingleSignerIdentityNeedsExactlyOneSigner)
{
    for (std::uint32_t count : {0u, 1u, 2u}) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto* signedData = new fake::SignerList(lib, count);
        char text[64] = "unchanged";
        std::uint8_t serial[20] = {};
        EXPECT_EQ(f.GetSingleSignerIdentity(signedData, text, serial), 0) << count;
        bool fetched = false;
        for (const std::string& call : lib.log) fetched |= call.rfind("4900:11(", 0) == 0;
        EXPECT_EQ(fetched, count == 1) << count;
        if (count == 1) {
            EXPECT_EQ(lib.log.back(), "1:1()") << "the signer released last";
        }
        signedData->Release();
        EXPECT_EQ(lib.LiveObjects(), 0) << count;
    }
    SPKIFormats f(nullptr, nullptr, nullptr);
    EXPECT_EQ(f.GetSingleSignerIdentity(nullptr, nullptr, nullptr), 0);
}

// Operations that only reach operations not built yet answer 0 (what those
// answer) and touch neither the library nor their outputs.
TEST(FacadeForwarders, ReachTheirTargetsThatAreNotBuiltYet)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* signedData = new fake::SignerList(lib, 1);
    Drop drop{signedData};
    std::uint8_t serial[20] = {};
    PKIBlob data{1, serial};
    void* container = &lib;
    EXPECT_EQ(f.ReadPKCS12WithFlag(&data, "password", &container), 0);
    EXPECT_EQ(container, &lib);
    PKIBlob out{0, nullptr};
    for (std::uint32_t mode : {0u, 5u}) {
        f.SetKeyContainerMode(mode);
        EXPECT_EQ(f.SaveKeyContainer(signedData, "password", &out), 0);
        EXPECT_EQ(out.data, nullptr);
    }
    EXPECT_TRUE(lib.log.empty());
}

// The signer look-up by issuer and serial is built: a message whose signer
// the look-up does not find keeps its signers' versions.
TEST(FacadeForwarders, SignerVersionByIssuerSerialWithoutAMatchingSigner)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* signedData = new fake::SignerList(lib, 1);
    Drop drop{signedData};
    std::uint8_t serial[20] = {};
    EXPECT_EQ(f.SetSignerVersionByIssuerSerial(signedData, "CN=Issuer", serial, 3), 0);
}

TEST(FacadeObjectModel, SlotsOfTheObjectsPassedOn)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS_OBJECT_OPS(QVK_SLOT)
#undef QVK_SLOT
}

// A request's self-signature: the signature family must be the key's; a
// DSTU 4145 or RSA signature must hold under exactly the key the request
// itself carries (the double's signer key is the test's to change); an
// ECDSA request goes through the EC parameter normalisation.
TEST(FacadeRequestSignature, HoldsUnderTheRequestsOwnKey)
{
    struct Case {
        const char* what;
        std::uint32_t kind, family;
        bool otherSigner;
        int expected;
    };
    const Case cases[] = {
        {"DSTU 4145, own key", 1, 1, false, 1},
        {"DSTU 4145, another signer", 1, 1, true, 0},
        {"DSTU 4145 key, RSA signature", 1, 2, false, 0},
        {"RSA, own key", 2, 2, false, 1},
        {"RSA, another signer", 2, 2, true, 0},
        {"RSA key, ECDSA signature", 2, 4, false, 0},
        {"ECDSA, parameters normalised", 4, 4, false, 1},
        {"ECDSA key, DSTU 4145 signature", 4, 1, false, 0},
        {"unknown kind", 3, 3, false, 0},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto* request = new fake::SignedRequest(lib, c.kind);
        Drop drop{request};
        request->family = c.family;
        for (std::size_t i = 0; i < 536; ++i) request->ec.record[i] = static_cast<std::uint8_t>(i * 3);
        if (c.otherSigner) {
            request->dstuSigner[75] ^= 1;
            request->rsaSigner[1199] ^= 1;
        }
        EXPECT_EQ(f.VerifyRequestSelfSignature(request), c.expected) << c.what;
        if (c.kind == 4 && c.expected) {
            EXPECT_EQ(request->ec.written.how, "4225:105");
            EXPECT_EQ(Bytes(request->ec.written.record.begin(), request->ec.written.record.end()), request->ec.record);
        }
        EXPECT_EQ(lib.LiveObjects(), 1) << c.what;
    }
    SPKIFormats f(nullptr, nullptr, nullptr);
    EXPECT_EQ(f.VerifyRequestSelfSignature(nullptr), 0);

    for (std::uint32_t kind : {1u, 2u, 4u})
        fake::SweepFailures(
            "VerifyRequestSelfSignature " + std::to_string(kind),
            [kind](SPKIFormats& facade, fake::Library& l) {
                auto* r = new fake::SignedRequest(l, kind);
                Drop d{r};
                return facade.VerifyRequestSelfSignature(r);
            },
            true);
}

// Positions 52 and 67 read a DSTU 4145 public key of a request (its slot
// 16) and of a certificate (slot 25) into the caller's 76 bytes and length,
// and release the parameter object that comes with it.
TEST(FacadePublicKeyReads, KeyAndLengthWithoutTheParameters)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* request = new fake::SignedRequest(lib, 1);
    Drop dropRequest{request};
    auto* certificate = new fake::ScriptedCertificate(lib);
    Drop dropCertificate{certificate};
    for (std::size_t i = 0; i < 76; ++i) {
        request->dstuPublic[i] = static_cast<std::uint8_t>(i + 1);
        certificate->publicKey[i] = static_cast<char>(0x80 + i);
    }
    request->dstuLength = 54;
    certificate->publicKeyLength = 72;
    Bytes key(76);
    std::uint32_t length = 0;
    ASSERT_EQ(f.ForwardObjectOperation16(request, key.data(), &length), 1);
    EXPECT_EQ(key, request->dstuPublic);
    EXPECT_EQ(length, 54u);
    ASSERT_EQ(f.ForwardObjectOperation25(certificate, key.data(), &length), 1);
    EXPECT_EQ(key, Bytes(certificate->publicKey.begin(), certificate->publicKey.end()));
    EXPECT_EQ(length, 72u);
    EXPECT_EQ(lib.LiveObjects(), 2) << "the parameter objects are released";
    lib.Answer(PKI_CLASS_CERTIFICATE, 25, {PKI_E_ABSENT});
    EXPECT_EQ(f.ForwardObjectOperation25(certificate, key.data(), &length), 0);
    EXPECT_EQ(f.ForwardObjectOperation16(request, nullptr, &length), 0);
    EXPECT_EQ(f.ForwardObjectOperation16(nullptr, key.data(), &length), 0);
}

// The blob is decoded as an integer object (4877 / 4111) and handed to the
// object's slot 51, which keeps it; a blob that does not decode is not.
TEST(FacadeIntegerAttach, DecodedIntegerIsAttached)
{
    auto useIntegers = [](fake::Library& lib) {
        lib.makers[{4877, 4111}] = [&lib]() -> void* { return static_cast<IPKIInteger*>(new fake::Integer(lib)); };
    };
    fake::Library lib;
    useIntegers(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* holder = new fake::IntegerHolder(lib);
    std::uint8_t bytes[3] = {2, 1, 5};
    PKIBlob blob{3, bytes}, empty{0, nullptr};
    ASSERT_EQ(f.AttachObject4877(holder, &blob), 1);
    ASSERT_NE(holder->held, nullptr);
    EXPECT_EQ(dynamic_cast<fake::Integer*>(holder->held)->bytes, std::string("\x02\x01\x05", 3));
    EXPECT_EQ(f.AttachObject4877(holder, &empty), 0);
    lib.Answer(4877, 4, {PKI_E_BAD_ENCODING});
    IPKIObject* before = holder->held;
    EXPECT_EQ(f.AttachObject4877(holder, &blob), 0);
    EXPECT_EQ(holder->held, before);
    EXPECT_EQ(lib.LiveObjects(), 2);
    holder->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);

    fake::SweepFailures(
        "AttachObject4877",
        [useIntegers](SPKIFormats& facade, fake::Library& l) {
            useIntegers(l);
            auto* h = new fake::IntegerHolder(l);
            Drop d{h};
            std::uint8_t b[3] = {2, 1, 5};
            PKIBlob in{3, b};
            return facade.AttachObject4877(h, &in);
        },
        true);
}

// The default form is the request for a key identifier without a leading
// name: the identifier of the source key (library operation 17), the
// subject, and the caller's subject name (or none), never a name through
// the naming view.
TEST(FacadeKeyIdRequest, DefaultFormHasNoLeadingName)
{
    fake::KeysLibrary lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    Bytes source(64), subject(12);
    for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<std::uint8_t>(0x44 + 3 * i);
    for (std::size_t i = 0; i < subject.size(); ++i) subject[i] = static_cast<std::uint8_t>(1 + i);
    PKIBlob keySource{64, source.data()};
    std::uint32_t subjectLength = 12;
    Bytes id(20);
    fake::KeysLibrary::Identifier(17, source.data(), 64, id.data(), 20);
    const std::string head =
        "identifier=" + fake::Hex(id.data(), 20) + ";subject=" + fake::Hex(subject.data(), 12) + ";";
    for (const char* subjectName : {"CN=B", static_cast<const char*>(nullptr)}) {
        PKIBlob out{0, nullptr};
        ASSERT_EQ(f.CreateRequestForKeyIdDefault(&keySource, subject.data(), &subjectLength, subjectName, &out), 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data), out.length),
                  head + (subjectName ? "subjectName=CN=B;" : ""));
        f.ReleaseBlob(&out);
    }
    PKIBlob empty{0, nullptr}, out{0, nullptr};
    EXPECT_EQ(f.CreateRequestForKeyIdDefault(&empty, subject.data(), &subjectLength, nullptr, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}
