// CMS signed data with ECDSA signatures over SHA hashes: signers, messages,
// their wrapping and encoding, and verification. A certificate of another
// kind is used through its EC view; the hash size is the caller's or the
// one of the certificate's named curve.
#include <cstring>
#include <memory>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignedDataInternal.h"

using namespace pkif;

namespace {

constexpr const char* kData = "1.2.840.113549.1.7.1";
constexpr const char* kSignedData = "1.2.840.113549.1.7.2";

// The SHA digest of a size in bits; any other size is SHA-256.
std::uint32_t ChosenHashBits(std::uint32_t bits)
{
    return bits == 160 || bits == 224 || bits == 256 || bits == 384 || bits == 512 ? bits : 256;
}

const char* DigestOID(std::uint32_t bits)
{
    switch (bits) {
    case 160:
        return "1.3.14.3.2.26";
    case 224:
        return "2.16.840.1.101.3.4.2.4";
    case 384:
        return "2.16.840.1.101.3.4.2.2";
    case 512:
        return "2.16.840.1.101.3.4.2.3";
    default:
        return "2.16.840.1.101.3.4.2.1";
    }
}

// The certificate itself when its key is ECDSA, else its EC view (held).
IPKIObject* ECCertificateOf(ISPKIFormats& facade, IPKIObject* certificate, ObjectRef& held)
{
    std::uint32_t kind = 0;
    if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) == PKI_OK && kind == 4) return certificate;
    *held.Out() = facade.GetECCertificate(certificate);
    return held.As<IPKIObject>();
}

// The caller's size, or without one the hash size of the certificate's
// named curve.
bool SizeOf(ISPKIFormats& facade, IPKIObject* ec, std::uint32_t hashBits, std::uint32_t* bits)
{
    if (hashBits) {
        *bits = hashBits;
        return true;
    }
    std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
    if (facade.GetECCertificateParametersByCurve(ec, record) != 1) return false;
    *bits = Get32(record, PKIF_EC_RECORD_BYTES);
    return *bits != 0;
}

void HandOutObject(ObjectRef& object, void** out)
{
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
}

// The ECDSA view of a signer: its key size (slot 106).
bool SetSignerKeySize(IPKIObject* signer, std::uint32_t bits)
{
    ObjectRef view;
    return QueryInto(signer, PKI_IID_SIGNER_INFO_ECDSA, view) &&
           view.As<IPKISignerInfoECDSA>()->SetKeySize(bits) == PKI_OK;
}

bool LastSigner(IPKIObject* signedData, ObjectRef& signer)
{
    auto* d = static_cast<IPKISignedDataSigners*>(signedData);
    std::uint32_t count = 0;
    return d->GetSignerCount(&count) == PKI_OK && count > 0 && d->GetSigner(count - 1, signer.Out()) == PKI_OK &&
           signer;
}

}  // namespace

int SPKIFormats::AddSignerTimeStampByCertificateECDSA(IPKIObject* signedData, IPKIObject* certificate,
                                                      const PKIBlob* token)
{
    try {
        if (!signedData || !certificate) return 0;
        ObjectRef held, signer;
        IPKIObject* ec = ECCertificateOf(*this, certificate, held);
        if (!ec) return 0;
        if (FindSignerByCertificate(signedData, ec, signer.Out()) != 1 || !signer) return 0;
        return AddSignerTimeStamp(signer.As<IPKIObject>(), token);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignerInfoECDSA(IPKIObject* certificate, const char* contentType, const PKIBlob* content,
                                       const std::uint8_t* hash, std::uint32_t hashBits, void** signer)
{
    try {
        if (!formats_ || !certificate || !contentType || !signer) return 0;
        ObjectRef held, serial, info, attribute, view;
        IPKIObject* ec = ECCertificateOf(*this, certificate, held);
        std::uint32_t bits = 0;
        if (!ec || !SizeOf(*this, ec, hashBits, &bits) || bits > 8 * PKIF_SIGNER_HASH_MAX) return 0;
        auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
        if (!ReadIssuerAndSerial(formats_, ec, issuer.get(), serial)) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO, info)) return 0;
        auto* s = info.As<IPKISignerInfo>();
        if (s->SetIdentifier(3, serial.As<IPKIObject>(), issuer.get(), 0) != PKI_OK) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE, attribute)) return 0;
        auto* a = attribute.As<IPKISigningCertificate>();
        std::uint8_t certificateHash[PKIF_SIGNER_HASH_MAX] = {};
        if (a->HashCertificate(ec, bits, certificateHash) != PKI_OK) return 0;
        if (a->SetEntry(certificateHash, bits, 1, serial.As<IPKIObject>(), issuer.get()) != PKI_OK) return 0;
        serial.Reset();
        if (s->AttachSigningCertificate(a) != PKI_OK) return 0;
        attribute.Reset();
        if (s->SetContentType(contentType) != PKI_OK) return 0;
        if (hash || !Empty(content)) {
            if (!QueryInto(s, PKI_IID_SIGNER_INFO_ECDSA, view)) return 0;
            auto* v = view.As<IPKISignerInfoECDSA>();
            if ((hash ? v->SetHash(bits, hash) : v->SetContent(bits, content)) != PKI_OK) return 0;
        }
        HandOutObject(info, signer);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataECDSA(const char* contentType, const PKIBlob* content, const std::uint8_t* hash,
                                       std::uint32_t hashBits, std::uint32_t detached, IPKIObject* key,
                                       IPKIObject* certificate, void** signedData)
{
    try {
        if (!formats_ || !contentType || !certificate || !signedData) return 0;
        std::uint32_t bits = hashBits;
        if (!bits) {
            ObjectRef held;
            IPKIObject* ec = ECCertificateOf(*this, certificate, held);
            if (!ec || !SizeOf(*this, ec, 0, &bits)) return 0;
        }
        bits = ChosenHashBits(bits);
        ObjectRef data;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, data)) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(data.As<IPKISignedData>());
        if (d->AddDigestAlgorithm(DigestOID(bits)) != PKI_OK || d->SetContentType(contentType) != PKI_OK) return 0;
        if (key) {
            ObjectRef signer;
            if (CreateSignerInfoECDSA(certificate, contentType, content, hash, bits, signer.Out()) != 1) return 0;
            if (d->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        }
        if (!detached && !hash && !Empty(content) && d->SetContent(content) != PKI_OK) return 0;
        HandOutObject(data, signedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataOfDataECDSA(const PKIBlob* content, std::uint32_t detached, IPKIObject* key,
                                             IPKIObject* certificate, void** signedData, const std::uint8_t* hash,
                                             std::uint32_t hashBits)
{
    try {
        return CreateSignedDataECDSA(kData, content, hash, hashBits, detached, key, certificate, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDetachedSignedDataECDSA(IPKIObject* key, IPKIObject* certificate, std::uint32_t hashBits,
                                               void** signedData)
{
    try {
        if (!key || !certificate || !signedData) return 0;
        ObjectRef held, data, signer;
        IPKIObject* ec = ECCertificateOf(*this, certificate, held);
        std::uint32_t bits = 0;
        if (!ec || !SizeOf(*this, ec, hashBits, &bits)) return 0;
        if (CreateSignedDataOfDataECDSA(nullptr, 1, key, certificate, data.Out(), nullptr, hashBits) != 1) return 0;
        if (!LastSigner(data.As<IPKIObject>(), signer) ||
            !SetSignerKeySize(signer.As<IPKIObject>(), ChosenHashBits(bits)))
            return 0;
        HandOutObject(data, signedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashByCertificateECDSA(IPKIObject* signedData, IPKIObject* certificate,
                                                         std::uint32_t* bits, std::uint8_t* hash)
{
    try {
        ObjectRef signer;
        if (!signedData || !certificate) return 0;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return GetSignatureValueHashECDSA(signer.As<IPKIObject>(), certificate, bits, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueByCertificateECDSA(IPKIObject* signedData, IPKIObject* certificate,
                                                      std::uint32_t* bits, std::uint8_t* hash)
{
    try {
        ObjectRef signer;
        if (!signedData || !certificate) return 0;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return HashSignatureValueECDSA(signer.As<IPKIObject>(), certificate, bits, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignAndWrapSignedDataECDSA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                            void** contentInfo)
{
    try {
        if (!formats_ || !signedData || !contentInfo) return 0;
        if (key && SignLastSignerEntryECDSA(signedData, key, certificate) != 1) return 0;
        ObjectRef wrapper;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, wrapper)) return 0;
        auto* w = wrapper.As<IPKICMSContentInfo>();
        if (w->SetContentType(kSignedData) != PKI_OK || w->SetContentObject(signedData) != PKI_OK) return 0;
        HandOutObject(wrapper, contentInfo);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignAndEncodeContentInfoECDSA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                               PKIBlob* out)
{
    try {
        if (!formats_ || !out || out->data) return 0;
        ObjectRef wrapper;
        if (SignAndWrapSignedDataECDSA(signedData, key, certificate, wrapper.Out()) != 1) return 0;
        LibraryBlob encoded(formats_);
        if (wrapper.As<IPKICMSContentInfo>()->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignAndEncodeSignedDataECDSA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                              PKIBlob* out)
{
    try {
        if (!formats_ || !signedData || !out || out->data) return 0;
        if (key && SignLastSignerEntryECDSA(signedData, key, certificate) != 1) return 0;
        LibraryBlob encoded(formats_);
        if (static_cast<IPKISignedData*>(signedData)->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

// What both verifications hold: the certificate's EC view, its public point
// and curve record, the signer and the signer's ECDSA view.
struct ECDSAVerification {
    ObjectRef held, signer, view;
    std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {};
    std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
};

// The certificate's key and the signer (by index, or with -1 the
// certificate's own), then the identity and certificate-hash test of a
// signer with standard attributes.
bool PrepareECDSAVerification(ISPKIFormats& facade, IPKIObject* signedData, std::int32_t index, IPKIObject* certificate,
                              ECDSAVerification& v)
{
    IPKIObject* ec = ECCertificateOf(facade, certificate, v.held);
    if (!ec || facade.GetECCertificateParameter(ec, PKI_EC_VALUE_PUBLIC_KEY, v.point) != 1 ||
        facade.GetECCertificateParametersByCurve(ec, v.record) != 1)
        return false;
    if (!TakeSigner(facade, signedData, index, certificate, v.signer)) return false;
    auto* s = v.signer.As<IPKISignerInfo>();
    if (s->UsesStandardAttributes() != 0) {
        auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
        issuer[0] = 0;
        std::uint8_t serial[20] = {};
        ObjectRef attribute;
        if (facade.GetTimeStampSignerId(s, nullptr, issuer.get(), serial) != 1) return false;
        issuer[PKIF_NAME_TEXT_BYTES - 1] = 0;
        if (s->GetSigningCertificate(attribute.Out()) != PKI_OK || !attribute) return false;
        if (!CheckSigningCertificateEntry(attribute.As<IPKIObject>(), ec, issuer.get(), serial)) return false;
    }
    return QueryInto(s, PKI_IID_SIGNER_INFO_ECDSA, v.view);
}

}  // namespace

int SPKIFormats::VerifySignerECDSA(IPKIObject* signedData, std::int32_t index, const PKIBlob* data,
                                   IPKIObject* certificate, const std::uint8_t* hash)
{
    try {
        if (!formats_ || !signedData || !certificate || !AllowsSigning(*this, certificate)) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(signedData);
        std::uint32_t present = 0;
        if (d->HasContent(&present) != PKI_OK) return 0;
        if (!present && Empty(data) && !hash) return 0;
        ECDSAVerification ev;
        if (!PrepareECDSAVerification(*this, signedData, index, certificate, ev)) return 0;
        auto* v = ev.view.As<IPKISignerInfoECDSA>();
        std::uint32_t bits = 0;
        if (v->GetHashSize(&bits) != PKI_OK || ChosenHashBits(bits) != bits) return 0;
        if (hash) {
            PKIBlob given{bits / 8, const_cast<std::uint8_t*>(hash)};
            return v->VerifyHash(ev.point, ev.record, &given) == PKI_OK ? 1 : 0;
        }
        LibraryBlob content(formats_);
        if (present && (d->GetContent(&content.blob) != PKI_OK || !content.blob.data)) return 0;
        const PKIBlob* covered = nullptr;
        if (!ChooseVerifiedData(data, present ? &content.blob : nullptr, &covered)) return 0;
        return v->VerifyContent(ev.point, ev.record, covered) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The ECDSA signer has no verification of its own over the content it
// carries: the message's content is read and verified as data, so a
// message without content fails.
int SPKIFormats::VerifySignerEnvelopedECDSA(IPKIObject* signedData, std::int32_t index, IPKIObject* certificate)
{
    try {
        if (!formats_ || !signedData || !certificate || !AllowsSigning(*this, certificate)) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(signedData);
        std::uint32_t present = 0;
        if (d->HasContent(&present) != PKI_OK || !present) return 0;
        ECDSAVerification ev;
        if (!PrepareECDSAVerification(*this, signedData, index, certificate, ev)) return 0;
        LibraryBlob content(formats_);
        if (d->GetContent(&content.blob) != PKI_OK || !content.blob.data) return 0;
        return ev.view.As<IPKISignerInfoECDSA>()->VerifyContent(ev.point, ev.record, &content.blob) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerEntryECDSA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate)
{
    try {
        return SignLastSignerECDSA(signedData, key, certificate, 0) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerECDSA(IPKIObject* signedData, IPKIObject* certificate, const PKIBlob* content,
                                const std::uint8_t* hash, std::uint32_t hashBits)
{
    try {
        if (!formats_ || !signedData || !certificate) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(signedData);
        char type[PKIF_CONTENT_TYPE_BYTES] = {};
        std::uint32_t present = 0;
        if (!ReadContentType(signedData, type) || d->HasContent(&present) != PKI_OK) return 0;
        ObjectRef signer;
        if (present) {
            LibraryBlob own(formats_);
            if (d->GetContent(&own.blob) != PKI_OK || !own.blob.data) return 0;
            if (CreateSignerInfoECDSA(certificate, type, &own.blob, nullptr, hashBits, signer.Out()) != 1) return 0;
        } else if (CreateSignerInfoECDSA(certificate, type, content, hash, hashBits, signer.Out()) != 1) {
            return 0;
        }
        return d->AddSigner(signer.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// A signer without digest for the message's content type, added to it; the
// signer (or, with `last`, the message's last signer) then takes the key size.
int AddSignerWithKeySize(ISPKIFormats& facade, IPKIObject* signedData, IPKIObject* certificate, std::uint32_t hashBits,
                         bool last)
{
    if (!signedData || !certificate) return 0;
    char type[PKIF_CONTENT_TYPE_BYTES] = {};
    if (!ReadContentType(signedData, type)) return 0;
    ObjectRef held, signer, target;
    IPKIObject* ec = ECCertificateOf(facade, certificate, held);
    std::uint32_t bits = 0;
    if (!ec || !SizeOf(facade, ec, hashBits, &bits)) return 0;
    if (facade.CreateSignerInfoECDSA(certificate, type, nullptr, nullptr, hashBits, signer.Out()) != 1) return 0;
    if (static_cast<IPKISignedDataSigners*>(signedData)->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
    if (last) {
        if (!LastSigner(signedData, target)) return 0;
        return SetSignerKeySize(target.As<IPKIObject>(), bits) ? 1 : 0;
    }
    return SetSignerKeySize(signer.As<IPKIObject>(), bits) ? 1 : 0;
}

}  // namespace

int SPKIFormats::AddSignerWithKeyECDSA(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t hashBits)
{
    try {
        return AddSignerWithKeySize(*this, signedData, certificate, hashBits, true);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddEmptySignerECDSA(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t hashBits)
{
    try {
        return AddSignerWithKeySize(*this, signedData, certificate, hashBits, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerEntryECDSA(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate)
{
    try {
        return SignSignerECDSA(signer, key, certificate, 0) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerAndEncodeECDSA(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate, PKIBlob* out)
{
    try {
        if (!formats_ || !signer || !out || out->data) return 0;
        if (key && SignSignerECDSA(signer, key, certificate, 0) != 1) return 0;
        LibraryBlob encoded(formats_);
        if (static_cast<IPKISignerInfo*>(signer)->EncodeSigner(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}
