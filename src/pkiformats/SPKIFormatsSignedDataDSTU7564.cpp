// CMS signed data with DSTU 4145 signatures over DSTU 7564 hashes: signers,
// messages, their digest algorithms, the signing-certificate check and the
// verifications. The messages and signers are the library's objects.
#include <cstring>
#include <memory>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignedDataInternal.h"

using namespace pkif;

namespace {

constexpr const char* kData = "1.2.840.113549.1.7.1";

// Hash kind 3 (DSTU 7564) with one of its sizes, and the digest OID of it.
const char* DigestOID(std::uint32_t hashKind, std::uint32_t bytes)
{
    if (hashKind != 3) return nullptr;
    if (bytes == 32) return "1.2.804.2.1.1.1.1.2.2.1";
    if (bytes == 48) return "1.2.804.2.1.1.1.1.2.2.2";
    if (bytes == 64) return "1.2.804.2.1.1.1.1.2.2.3";
    return nullptr;
}

void HandOutObject(ObjectRef& object, void** out)
{
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
}

}  // namespace

int SPKIFormats::CreateSignerInfoDSTU7564(IPKIObject* certificate, const char* contentType, const PKIBlob* content,
                                          const std::uint8_t* hash, std::uint32_t hashKind, std::uint32_t hashBytes,
                                          void** signer)
{
    try {
        if (!formats_ || !certificate || !contentType || !signer || !DigestOID(hashKind, hashBytes)) return 0;
        std::uint32_t kind = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK || kind != 1) return 0;
        auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
        ObjectRef serial, info, attribute;
        if (!ReadIssuerAndSerial(formats_, certificate, issuer.get(), serial)) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO_DSTU7564, info)) return 0;
        auto* s = info.As<IPKISignerInfoDSTU7564>();
        if (s->SetIdentifier(3, serial.As<IPKIObject>(), issuer.get(), 0) != PKI_OK) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE_DSTU7564, attribute))
            return 0;
        auto* a = attribute.As<IPKISigningCertificateDSTU7564>();
        std::uint8_t certificateHash[PKIF_SIGNER_HASH_MAX] = {};
        if (a->HashCertificateDSTU7564(certificate, 3, hashBytes, certificateHash) != PKI_OK) return 0;
        if (a->SetEntryDSTU7564(3, certificateHash, hashBytes, 1, serial.As<IPKIObject>(), issuer.get()) != PKI_OK)
            return 0;
        serial.Reset();
        if (s->AttachSigningCertificate(a) != PKI_OK) return 0;
        attribute.Reset();
        if (s->SetContentType(contentType) != PKI_OK) return 0;
        if (hash) {
            if (s->SetHash(3, hashBytes, hash) != PKI_OK) return 0;
        } else if (!Empty(content)) {
            if (s->SetContent(3, hashBytes, content) != PKI_OK) return 0;
        }
        HandOutObject(info, signer);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataDSTU7564(const char* contentType, const PKIBlob* content, std::uint32_t detached,
                                          void** signedData)
{
    try {
        if (!formats_ || !contentType || !signedData) return 0;
        ObjectRef data;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, data)) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(data.As<IPKISignedData>());
        if (d->SetContentType(contentType) != PKI_OK) return 0;
        if (!detached && !Empty(content) && d->SetContent(content) != PKI_OK) return 0;
        HandOutObject(data, signedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddDigestAlgorithmDSTU7564(IPKIObject* signedData, std::uint32_t hashKind, std::uint32_t hashBytes)
{
    try {
        const char* oid = DigestOID(hashKind, hashBytes);
        if (!signedData || !oid) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(signedData);
        std::uint32_t count = 0;
        if (d->GetDigestAlgorithmCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            char listed[PKIF_CONTENT_TYPE_BYTES] = {};
            std::uint32_t length = sizeof listed;
            if (d->GetDigestAlgorithm(i, listed, &length) != PKI_OK || length >= sizeof listed) return 0;
            listed[length] = 0;
            if (std::strcmp(listed, oid) == 0) return 1;
        }
        return d->AddDigestAlgorithm(oid) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataWithSignerDSTU7564(const char* contentType, const PKIBlob* content,
                                                    const std::uint8_t* hash, std::uint32_t detached,
                                                    std::uint32_t hashKind, std::uint32_t hashBytes,
                                                    IPKIObject* certificate, void** signedData)
{
    try {
        if (!signedData || !certificate) return 0;
        ObjectRef data, signer;
        if (CreateSignedDataDSTU7564(contentType, content, detached || hash ? 1 : 0, data.Out()) != 1) return 0;
        if (AddDigestAlgorithmDSTU7564(data.As<IPKIObject>(), hashKind, hashBytes) != 1) return 0;
        if (CreateSignerInfoDSTU7564(certificate, contentType, content, hash, hashKind, hashBytes, signer.Out()) != 1)
            return 0;
        if (static_cast<IPKISignedDataSigners*>(data.As<IPKISignedData>())->AddSigner(signer.As<IPKIObject>()) !=
            PKI_OK)
            return 0;
        HandOutObject(data, signedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataOfDataDSTU7564(const PKIBlob* content, const std::uint8_t* hash,
                                                std::uint32_t detached, std::uint32_t hashKind, std::uint32_t hashBytes,
                                                IPKIObject* certificate, void** signedData)
{
    try {
        return CreateSignedDataWithSignerDSTU7564(kData, content, hash, detached, hashKind, hashBytes, certificate,
                                                  signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashByCertificateDSTU7564(IPKIObject* signedData, IPKIObject* certificate,
                                                            std::uint32_t* kind, std::uint32_t* length,
                                                            std::uint8_t* hash)
{
    try {
        ObjectRef signer;
        if (!signedData || !certificate) return 0;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return GetSignatureValueHashDSTU7564(signer.As<IPKIObject>(), kind, length, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueByCertificateDSTU7564(IPKIObject* signedData, IPKIObject* certificate,
                                                         std::uint32_t kind, std::uint32_t hashLength,
                                                         std::uint8_t* hash)
{
    try {
        ObjectRef signer;
        if (!signedData || !certificate) return 0;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return HashSignatureValueDSTU7564(signer.As<IPKIObject>(), kind, hashLength, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CheckSignerCertificateDSTU7564(IPKIObject* signer, IPKIObject* certificate)
{
    try {
        if (!signer || !certificate) return 0;
        auto* s = static_cast<IPKISignerInfo*>(signer);
        if (s->UsesStandardAttributes() != 0) {
            auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
            issuer[0] = 0;
            std::uint8_t serial[20] = {};
            if (GetTimeStampSignerId(signer, nullptr, issuer.get(), serial) != 1) return 0;
            issuer[PKIF_NAME_TEXT_BYTES - 1] = 0;
            ObjectRef attribute;
            if (s->GetSigningCertificate(attribute.Out()) != PKI_OK || !attribute) return 0;
            return CheckSigningCertificateEntry(attribute.As<IPKIObject>(), certificate, issuer.get(), serial) ? 1 : 0;
        }
        std::uint32_t present = 0;
        if (s->HasSignerExtension(&present) != PKI_OK) return 0;
        if (!present) return 1;
        ObjectRef extension, parameters;
        std::uint8_t publicKey[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t length = 0;
        if (s->GetSignerExtension(extension.Out()) != PKI_OK || !extension) return 0;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) !=
            PKI_OK)
            return 0;
        return extension.As<IPKISignerExtension>()->CheckPublicKey(publicKey, length, parameters.As<IPKIObject>()) ==
                       PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifySignerDSTU7564(IPKIObject* signedData, std::int32_t index, const PKIBlob* data,
                                      IPKIObject* certificate, const std::uint8_t* hash)
{
    try {
        if (!formats_ || !signedData || !certificate || !AllowsSigning(*this, certificate)) return 0;
        auto* d = static_cast<IPKISignedDataSigners*>(signedData);
        std::uint32_t present = 0;
        if (d->HasContent(&present) != PKI_OK) return 0;
        if (!present && Empty(data) && !hash) return 0;
        std::uint8_t publicKey[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t keyLength = 0;
        ObjectRef parameters, signer, view;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &keyLength, parameters.Out()) !=
            PKI_OK)
            return 0;
        if (!TakeSigner(*this, signedData, index, certificate, signer)) return 0;
        if (CheckSignerCertificateDSTU7564(signer.As<IPKIObject>(), certificate) != 1) return 0;
        if (!QueryInto(signer.As<IPKIObject>(), PKI_IID_SIGNER_INFO_DSTU7564, view)) return 0;
        auto* v = view.As<IPKISignerInfoDSTU7564>();
        if (hash) {
            std::uint32_t bytes = 0;
            if (v->GetHashBytes(&bytes) != PKI_OK || (bytes != 32 && bytes != 48 && bytes != 64)) return 0;
            PKIBlob given{bytes, const_cast<std::uint8_t*>(hash)};
            return v->VerifyHash(publicKey, parameters.As<IPKIObject>(), &given) == PKI_OK ? 1 : 0;
        }
        LibraryBlob content(formats_);
        if (present && (d->GetContent(&content.blob) != PKI_OK || !content.blob.data)) return 0;
        const PKIBlob* covered = nullptr;
        if (!ChooseVerifiedData(data, present ? &content.blob : nullptr, &covered)) return 0;
        return v->VerifyContent(publicKey, parameters.As<IPKIObject>(), covered) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifySignerEnvelopedDSTU7564(IPKIObject* signedData, std::int32_t index, IPKIObject* certificate)
{
    try {
        if (!signedData || !certificate || !AllowsSigning(*this, certificate)) return 0;
        std::uint8_t publicKey[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t keyLength = 0;
        ObjectRef parameters, signer, view;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &keyLength, parameters.Out()) !=
            PKI_OK)
            return 0;
        if (!TakeSigner(*this, signedData, index, certificate, signer)) return 0;
        if (CheckSignerCertificateDSTU7564(signer.As<IPKIObject>(), certificate) != 1) return 0;
        auto* s = signer.As<IPKISignerInfo>();
        if (s->VerifyEncapsulated(publicKey, keyLength, parameters.As<IPKIObject>()) != PKI_OK) return 0;
        if (!QueryInto(signer.As<IPKIObject>(), PKI_IID_SIGNER_INFO_DSTU7564, view)) return 0;
        auto* v = view.As<IPKISignerInfoDSTU7564>();
        std::uint32_t kind = 0, bytes = 0;
        if (v->GetHashKind(&kind) != PKI_OK || v->GetHashBytes(&bytes) != PKI_OK) return 0;
        return v->SetHashKind(kind, bytes) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerDSTU7564(IPKIObject* signedData, IPKIObject* certificate, const PKIBlob* content,
                                   const std::uint8_t* hash, std::uint32_t hashKind, std::uint32_t hashBytes)
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
            if (CreateSignerInfoDSTU7564(certificate, type, &own.blob, nullptr, hashKind, hashBytes, signer.Out()) != 1)
                return 0;
        } else if (CreateSignerInfoDSTU7564(certificate, type, content, hash, hashKind, hashBytes, signer.Out()) != 1) {
            return 0;
        }
        return d->AddSigner(signer.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddEmptySignerDSTU7564(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t hashKind,
                                        std::uint32_t hashBytes)
{
    try {
        if (!signedData || !certificate) return 0;
        char type[PKIF_CONTENT_TYPE_BYTES] = {};
        if (!ReadContentType(signedData, type)) return 0;
        ObjectRef signer;
        if (CreateSignerInfoDSTU7564(certificate, type, nullptr, nullptr, hashKind, hashBytes, signer.Out()) != 1)
            return 0;
        if (static_cast<IPKISignedDataSigners*>(signedData)->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        if (signer.As<IPKISignerInfoDSTU7564>()->SetHashKind(hashKind, hashBytes) != PKI_OK) return 0;
        return AddDigestAlgorithmDSTU7564(signedData, hashKind, hashBytes);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddEmptySignerDSTU7564Alias(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t hashKind,
                                             std::uint32_t hashBytes)
{
    try {
        return AddEmptySignerDSTU7564(signedData, certificate, hashKind, hashBytes);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerHashKindByIndex(IPKIObject* signedData, std::int32_t index, IPKIObject* certificate,
                                          std::uint32_t flag, std::uint32_t* kind, std::uint32_t* size)
{
    try {
        if (!signedData || !kind || !size) return 0;
        ObjectRef signer;
        if (!TakeSigner(*this, signedData, index, certificate, signer)) return 0;
        return GetSignerHashKindBySigner(signer.As<IPKIObject>(), flag, kind, size);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerHashKindBySigner(IPKIObject* signer, std::uint32_t flag, std::uint32_t* kind,
                                           std::uint32_t* size)
{
    try {
        if (!signer || !kind || !size) return 0;
        auto* s = static_cast<IPKISignerInfo*>(signer);
        ObjectRef view;
        std::uint32_t hashKind = 0;
        if (QueryInto(signer, PKI_IID_SIGNER_INFO_DSTU7564, view)) {
            if (view.As<IPKISignerInfoDSTU7564>()->GetHashKind(&hashKind) != PKI_OK) return 0;
        } else {
            std::uint32_t keyKind = 0;
            if (!flag || s->GetKeyKind(&keyKind) != PKI_OK) return 0;
            hashKind = keyKind == 1 ? 1 : keyKind == 2 || keyKind == 4 ? 2 : 0;
        }
        std::uint32_t hashSize = 0;
        if (hashKind == 1) {
            hashSize = 32;
        } else if (hashKind == 2) {
            if (s->GetHashSize(&hashSize) != PKI_OK) return 0;
        } else if (hashKind == 3) {
            if (!view || view.As<IPKISignerInfoDSTU7564>()->GetHashBytes(&hashSize) != PKI_OK) return 0;
        } else {
            return 0;
        }
        *kind = hashKind;
        *size = hashSize;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Signing steps of DSTU 7564 signers ----

namespace {

// The signing time is the current UTC time unless the caller keeps the one
// the signer has.
bool StampSigningTime(IPKISignerInfo* signer, std::uint32_t keepTime)
{
    if (keepTime) return true;
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return signer->SetSigningTime(&now) == PKI_OK;
}

}  // namespace

int SPKIFormats::SignSignerDSTU7564(IPKIObject* signer, IPKIObject* certificate, PKIBlob* value, std::uint32_t keepTime)
{
    try {
        if (!formats_ || !signer || !certificate || !value || value->data) return 0;
        if (!AllowsSigning(*this, certificate)) return 0;
        std::uint32_t version = 0;
        if (formats_->GetVersion(&version) != PKI_OK || version < 258) return 0;
        auto* s = static_cast<IPKISignerInfo*>(signer);
        if (!StampSigningTime(s, keepTime)) return 0;
        std::uint8_t publicKey[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) !=
            PKI_OK)
            return 0;
        LibraryBlob prepared(formats_);
        if (s->PrepareSignature(publicKey, length, parameters.As<IPKIObject>(), &prepared.blob) != PKI_OK ||
            !prepared.blob.data)
            return 0;
        *value = prepared.blob;
        prepared.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerDSTU7564(IPKIObject* signer, void* first, void* second, std::uint32_t keepTime)
{
    try {
        if (!signer) return 0;
        ObjectRef view;
        if (!QueryInto(signer, 4249, view)) return 0;
        auto* v = view.As<IPKISignerInfoView4249>();
        if (!StampSigningTime(v, keepTime)) return 0;
        return v->SignWith(first, second) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerHashDSTU7564(IPKIObject* signer, IPKIObject* certificate, void* first, void* second,
                                        void* third, std::uint32_t keepTime)
{
    try {
        if (!signer || !certificate || !AllowsSigning(*this, certificate)) return 0;
        if (!StampSigningTime(static_cast<IPKISignerInfo*>(signer), keepTime)) return 0;
        ObjectRef view;
        if (!QueryInto(signer, PKI_IID_SIGNER_INFO_DSTU7564, view)) return 0;
        return view.As<IPKISignerInfoDSTU7564>()->SignHash(first, second, third) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerHashDSTU7564Now(IPKIObject* signer, IPKIObject* certificate, void* first, void* second,
                                           void* third)
{
    try {
        return SignSignerHashDSTU7564(signer, certificate, first, second, third, 0);
    } catch (...) {
        return 0;
    }
}
