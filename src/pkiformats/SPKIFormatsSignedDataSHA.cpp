// CMS signed data, RSA with SHA: the hash chosen by size or by the RSA key,
// signers built with the certificate's RSA key data, messages created,
// wrapped, encoded and verified. As with the GOST 34.311 family, the
// messages and signers are objects of the formats library.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsSignedData.h"

using namespace pkif;

namespace {

IPKISignedDataSigners* Message(IPKIObject* o)
{
    return static_cast<IPKISignedDataSigners*>(o);
}

IPKISignerInfo* SignerInfo(IPKIObject* o)
{
    return static_cast<IPKISignerInfo*>(o);
}

int HandOut(ObjectRef& object, void** out)
{
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
    return 1;
}

// The certificate as an RSA certificate: itself for key kind 2, else its
// RSA view (held in `view`); null when it has none.
IPKIObject* RSACertificate(IPKIObject* certificate, ObjectRef& view)
{
    if (!certificate) return nullptr;
    auto* c = static_cast<IPKICertificate*>(certificate);
    std::uint32_t kind = 0;
    if (c->GetKeyKind(&kind) != PKI_OK) return nullptr;
    if (kind == 2) return certificate;
    if (c->GetRSAView(view.Out()) != PKI_OK || !view) return nullptr;
    return view.As<IPKIObject>();
}

// The RSA key data of a certificate: its two fields and the modulus size.
struct RSAKeyData {
    std::vector<std::uint8_t> fields = std::vector<std::uint8_t>(2 * PKI_KEY_FIELD_BYTES);
    std::uint32_t bits = 0;
    bool Read(IPKIObject* certificate)
    {
        return static_cast<IPKICertificate*>(certificate)->GetRSAPublicKey(fields.data(), &bits) == PKI_OK;
    }
};

struct Digest {
    std::uint32_t bits;
    const char* oid;
};

// The SHA of an explicit size: 384 is refused where `refuse384` is set
// (message creation refuses it), sizes without their own hash give SHA-256.
bool DigestOfSize(std::uint32_t bits, bool refuse384, Digest* out)
{
    switch (bits) {
    case 160:
        *out = {160, "1.3.14.3.2.26"};
        return true;
    case 224:
        *out = {224, "2.16.840.1.101.3.4.2.4"};
        return true;
    case 384:
        if (refuse384) return false;
        *out = {384, "2.16.840.1.101.3.4.2.2"};
        return true;
    case 512:
        *out = {512, "2.16.840.1.101.3.4.2.3"};
        return true;
    default:
        *out = {256, "2.16.840.1.101.3.4.2.1"};
        return true;
    }
}

// The hash a message or signer is built with: the explicit size, or without
// one the certificate's RSA key (up to 2,047 bits SHA-1, longer SHA-256).
bool ChooseDigest(std::uint32_t explicitBits, IPKIObject* rsaCertificate, bool refuse384, Digest* out)
{
    if (explicitBits) return DigestOfSize(explicitBits, refuse384, out);
    RSAKeyData key;
    if (!rsaCertificate || !key.Read(rsaCertificate)) return false;
    return DigestOfSize(key.bits <= 2047 ? 160 : 256, refuse384, out);
}

// The same from any certificate, read only when no size is given.
bool ChooseDigestFor(std::uint32_t explicitBits, IPKIObject* certificate, bool refuse384, Digest* out)
{
    if (explicitBits) return DigestOfSize(explicitBits, refuse384, out);
    ObjectRef view;
    return ChooseDigest(0, RSACertificate(certificate, view), refuse384, out);
}

}  // namespace

int SPKIFormats::CreateSignerInfoRSA(IPKIObject* certificate, std::uint32_t hashBits, const char* contentType,
                                     const PKIBlob* content, const std::uint8_t* hash, void** signer)
{
    try {
        if (!formats_ || !contentType || !signer) return 0;
        Digest digest{};
        if (!DigestOfSize(hashBits, false, &digest) || digest.bits != hashBits) return 0;
        ObjectRef view, serial, info, attribute;
        IPKIObject* rsa = RSACertificate(certificate, view);
        if (!rsa) return 0;
        auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
        if (!CertificateIssuerAndSerialObject(formats_, rsa, issuer.get(), serial)) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO, info)) return 0;
        auto* s = SignerInfo(info.As<IPKIObject>());
        if (s->SetIdentifier(PKI_SIGNER_ID_ISSUER_SERIAL, serial.As<IPKIObject>(), issuer.get(), 0) != PKI_OK) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE, attribute)) return 0;
        RSAKeyData key;
        if (!key.Read(rsa)) return 0;
        auto* entry = attribute.As<IPKISigningCertificate>();
        std::uint8_t certificateHash[64] = {};
        if (entry->HashCertificate(rsa, hashBits, certificateHash) != PKI_OK ||
            entry->SetEntry(certificateHash, hashBits, 1, serial.As<IPKIObject>(), issuer.get()) != PKI_OK)
            return 0;
        serial.Reset();
        if (s->AttachSigningCertificate(attribute.As<IPKIObject>()) != PKI_OK) return 0;
        attribute.Reset();
        if (s->SetContentType(contentType) != PKI_OK) return 0;
        if (hash) {
            if (s->SetHashRSA(key.fields.data(), key.bits, hashBits, hash) != PKI_OK) return 0;
        } else if (content) {
            if (s->SetContentDigestRSA(key.fields.data(), key.bits, hashBits, content) != PKI_OK) return 0;
        }
        return HandOut(info, signer);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataSHA(const char* contentType, const PKIBlob* content, const std::uint8_t* hash,
                                     std::uint32_t hashBits, std::uint32_t detached, IPKIObject* key,
                                     IPKIObject* certificate, void** signedData)
{
    try {
        if (!formats_ || !contentType || !signedData) return 0;
        Digest digest{};
        if (!ChooseDigestFor(hashBits, certificate, true, &digest)) return 0;
        ObjectRef message;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, message)) return 0;
        auto* m = message.As<IPKISignedDataSigners>();
        if (m->AddDigestAlgorithm(digest.oid) != PKI_OK || m->SetContentType(contentType) != PKI_OK) return 0;
        if (key) {
            ObjectRef signer;
            if (!CreateSignerInfoRSA(certificate, digest.bits, contentType, content, hash, signer.Out()) || !signer)
                return 0;
            if (m->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        }
        if (!detached && !hash && content && m->SetContent(content) != PKI_OK) return 0;
        return HandOut(message, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataOfDataSHA(const PKIBlob* content, std::uint32_t hashBits, std::uint32_t detached,
                                           IPKIObject* key, IPKIObject* certificate, void** signedData,
                                           const std::uint8_t* hash)
{
    try {
        return CreateSignedDataSHA(kOidData, content, hash, hashBits, detached, key, certificate, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDetachedSignedDataSHA(IPKIObject* key, IPKIObject* certificate, std::uint32_t hashBits,
                                             void** signedData)
{
    try {
        if (!key || !signedData) return 0;
        ObjectRef view, message, last;
        IPKIObject* rsa = RSACertificate(certificate, view);
        Digest digest{};
        if (!rsa || !ChooseDigest(hashBits, rsa, true, &digest)) return 0;
        if (!CreateSignedDataOfDataSHA(nullptr, digest.bits, 1, key, rsa, message.Out(), nullptr) || !message) return 0;
        RSAKeyData data;
        if (!LastSigner(message.As<IPKIObject>(), last) || !data.Read(rsa)) return 0;
        if (SignerInfo(last.As<IPKIObject>())->SetRSAKeyData(data.fields.data(), data.bits, digest.bits) != PKI_OK)
            return 0;
        return HandOut(message, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashByCertificateSHA(IPKIObject* signedData, IPKIObject* certificate,
                                                       std::uint32_t* bits, std::uint8_t* hash)
{
    try {
        ObjectRef signer;
        if (!FindSignerByCertificate(signedData, certificate, signer.Out()) || !signer) return 0;
        return GetSignatureValueHashRSA(signer.As<IPKIObject>(), certificate, bits, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignAndWrapSignedDataSHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                          void** contentInfo)
{
    return WrapSignedDataOf(1, signedData, key, certificate, contentInfo);
}

int SPKIFormats::SignAndEncodeContentInfoSHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                             void** contentInfo, PKIBlob* encoded)
{
    return EncodeContentInfoOf(1, signedData, key, certificate, contentInfo, encoded);
}

int SPKIFormats::SignAndEncodeSignedDataSHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                            PKIBlob* encoded)
{
    return EncodeSignedDataOf(1, signedData, key, certificate, encoded);
}

namespace {

// What both RSA verifications read first: the RSA certificate and its key
// data, and the signer (by index, or with -1 the certificate's).
struct RSAVerification {
    ObjectRef view, signer;
    IPKIObject* rsa = nullptr;
    RSAKeyData key;
};

}  // namespace

int SPKIFormats::VerifySignerSHA(IPKIObject* signedData, std::int32_t index, const PKIBlob* data,
                                 IPKIObject* certificate, const std::uint8_t* hash)
{
    try {
        if (!formats_ || !signedData || !certificate) return 0;
        if (!HasKeyUsage(1, certificate) && !HasKeyUsage(2, certificate)) return 0;
        std::uint32_t present = 0;
        if (Message(signedData)->HasContent(&present) != PKI_OK) return 0;
        if (!hash && !data && !present) return 0;
        RSAVerification v;
        v.rsa = RSACertificate(certificate, v.view);
        if (!v.rsa || !v.key.Read(v.rsa)) return 0;
        if (index == -1) {
            if (!FindSignerByCertificate(signedData, v.rsa, v.signer.Out())) return 0;
        } else if (index < 0 ||
                   Message(signedData)->GetSigner(static_cast<std::uint32_t>(index), v.signer.Out()) != PKI_OK) {
            return 0;
        }
        if (!v.signer) return 0;
        auto* s = SignerInfo(v.signer.As<IPKIObject>());
        if (s->UsesStandardAttributes()) {
            auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
            std::uint8_t serial[kSignerSerialBytes] = {};
            if (!GetTimeStampSignerId(v.signer.As<IPKIObject>(), signedData, issuer.get(), serial)) return 0;
            ObjectRef attribute;
            if (s->GetSigningCertificate(attribute.Out()) != PKI_OK ||
                !SigningCertificateMatches(attribute.As<IPKIObject>(), v.rsa, nullptr, false, issuer.get(), serial))
                return 0;
        }
        if (hash) {
            if (s->SetVerifyHashRSA(hash) != PKI_OK) return 0;
            return s->VerifyHashRSA(v.key.fields.data(), v.key.bits) == PKI_OK ? 1 : 0;
        }
        if (!present) return s->VerifyDataRSA(v.key.fields.data(), v.key.bits, data) == PKI_OK ? 1 : 0;
        LibraryBlob content(formats_);
        if (Message(signedData)->GetContent(&content.blob) != PKI_OK) return 0;
        // Data of the caller must be the message's own content.
        if (data && (data->length != content.blob.length ||
                     (data->length && std::memcmp(data->data, content.blob.data, data->length) != 0)))
            return 0;
        return s->VerifyDataRSA(v.key.fields.data(), v.key.bits, &content.blob) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifySignerEnvelopedSHA(IPKIObject* signedData, std::int32_t index, IPKIObject* certificate)
{
    try {
        if (!formats_ || !signedData || !certificate) return 0;
        if (!HasKeyUsage(1, certificate) && !HasKeyUsage(2, certificate)) return 0;
        RSAVerification v;
        v.rsa = RSACertificate(certificate, v.view);
        if (!v.rsa || !v.key.Read(v.rsa)) return 0;
        if (index == -1) {
            if (!FindSignerByCertificate(signedData, v.rsa, v.signer.Out())) return 0;
        } else if (index < 0 ||
                   Message(signedData)->GetSigner(static_cast<std::uint32_t>(index), v.signer.Out()) != PKI_OK) {
            return 0;
        }
        if (!v.signer) return 0;
        auto* s = SignerInfo(v.signer.As<IPKIObject>());
        if (s->UsesStandardAttributes()) {
            auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
            std::uint8_t serial[kSignerSerialBytes] = {};
            if (!GetTimeStampSignerId(v.signer.As<IPKIObject>(), signedData, issuer.get(), serial)) return 0;
            ObjectRef attribute;
            if (s->GetSigningCertificate(attribute.Out()) != PKI_OK ||
                !SigningCertificateMatches(attribute.As<IPKIObject>(), v.rsa, nullptr, false, issuer.get(), serial))
                return 0;
        }
        // The RSA signer has no verification of its own over the content it
        // carries: the content is read and verified as data.
        LibraryBlob content(formats_);
        if (Message(signedData)->GetContent(&content.blob) != PKI_OK) return 0;
        return s->VerifyDataRSA(v.key.fields.data(), v.key.bits, &content.blob) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerEntrySHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                        std::uint32_t keepTime)
{
    try {
        return SignLastSignerRSA(signedData, key, certificate, keepTime);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerSHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate, std::uint32_t hashBits,
                              const PKIBlob* content, const std::uint8_t* hash)
{
    try {
        (void)key;  // signs later, through the signer operations
        if (!formats_ || !signedData) return 0;
        Digest digest{};
        if (!ChooseDigestFor(hashBits, certificate, false, &digest)) return 0;
        auto* m = Message(signedData);
        char type[kContentTypeBytes] = {};
        std::uint32_t length = kContentTypeBytes;
        std::uint32_t present = 0;
        if (m->GetContentType(type, &length) != PKI_OK || length >= kContentTypeBytes) return 0;
        type[length] = 0;
        if (m->HasContent(&present) != PKI_OK) return 0;
        ObjectRef signer;
        if (present) {
            LibraryBlob own(formats_);
            if (m->GetContent(&own.blob) != PKI_OK) return 0;
            if (!CreateSignerInfoRSA(certificate, digest.bits, type, &own.blob, nullptr, signer.Out())) return 0;
        } else if (!CreateSignerInfoRSA(certificate, digest.bits, type, content, hash, signer.Out())) {
            return 0;
        }
        return signer && m->AddSigner(signer.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerWithKeySHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                     std::uint32_t hashBits)
{
    try {
        if (!AddSignerSHA(signedData, key, certificate, hashBits, nullptr, nullptr)) return 0;
        ObjectRef view, last;
        IPKIObject* rsa = RSACertificate(certificate, view);
        Digest digest{};
        RSAKeyData data;
        if (!rsa || !ChooseDigest(hashBits, rsa, false, &digest) || !data.Read(rsa)) return 0;
        if (!LastSigner(signedData, last)) return 0;
        return SignerInfo(last.As<IPKIObject>())->SetRSAKeyData(data.fields.data(), data.bits, digest.bits) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddEmptySignerSHA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                   std::uint32_t hashBits)
{
    try {
        (void)key;
        if (!formats_ || !signedData) return 0;
        ObjectRef view;
        IPKIObject* rsa = RSACertificate(certificate, view);
        Digest digest{};
        if (!rsa || !ChooseDigest(hashBits, rsa, false, &digest)) return 0;
        auto* m = Message(signedData);
        char type[kContentTypeBytes] = {};
        std::uint32_t length = kContentTypeBytes;
        if (m->GetContentType(type, &length) != PKI_OK || length >= kContentTypeBytes) return 0;
        type[length] = 0;
        ObjectRef signer;
        if (!CreateSignerInfoRSA(rsa, digest.bits, type, nullptr, nullptr, signer.Out()) || !signer) return 0;
        if (m->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        RSAKeyData data;
        if (!data.Read(rsa)) return 0;
        return SignerInfo(signer.As<IPKIObject>())->SetRSAKeyData(data.fields.data(), data.bits, digest.bits) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerEntrySHA(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate,
                                    std::uint32_t keepTime)
{
    try {
        return SignSignerRSA(signer, key, certificate, keepTime);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerAndEncodeSHA(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate,
                                        std::uint32_t keepTime, PKIBlob* encoded)
{
    try {
        if (!formats_ || !signer || !encoded) return 0;
        if (key && !SignSignerRSA(signer, key, certificate, keepTime)) return 0;
        LibraryBlob bytes(formats_);
        if (SignerInfo(signer)->EncodeSigner(&bytes.blob) != PKI_OK) return 0;
        return CopyOut(bytes.blob.data, bytes.blob.length, encoded);
    } catch (...) {
        return 0;
    }
}
