// Certificate, request and message operations that pass objects on: the
// library's version-gated conversions, parts of objects encoded, the key
// kind of an object checked against a certificate, signers found by their
// identity, and the forwarders to key containers and key identifiers.
#include <cstring>
#include <memory>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

// The library versions from which each conversion exists.
enum : std::uint32_t {
    kConvertObjectAbove = 263,
    kConvertFourAbove = 267,
    kConvertThreeAbove = 270,
    kConvertThreeNewFrom = 273
};

enum : std::uint32_t { kCertificateSigningUsage = 0x40 };

bool VersionAbove(IPKIInterface* formats, std::uint32_t floor)
{
    std::uint32_t version = 0;
    return formats && formats->GetVersion(&version) == PKI_OK && version > floor;
}

}  // namespace

// Container type 3 while the facade's key-container mode is set, else 1.
int SPKIFormats::SaveKeyContainer(IPKIObject* container, const char* password, PKIBlob* out)
{
    try {
        return ExportPrivateKey(keyContainerMode_ ? 3 : 1, container, password, out);
    } catch (...) {
        return 0;
    }
}

// Without a leading name the request takes the caller's subject name, when
// one is given.
int SPKIFormats::CreateRequestForKeyIdDefault(const PKIBlob* keySource, const std::uint8_t* subject,
                                              std::uint32_t* subjectLength, const char* subjectName, PKIBlob* out)
{
    try {
        return CreateRequestForKeyId(nullptr, keySource, subject, subjectLength, subjectName, out);
    } catch (...) {
        return 0;
    }
}

// The key identifier through the hash-code form of the computation, not the
// DSTU 7564 one.
int SPKIFormats::ForwardToOperation566(IPKIObject* object, std::uint8_t* identifier)
{
    try {
        return ComputeKeyIdentifier(object, 1, 0, identifier);
    } catch (...) {
        return 0;
    }
}

// The certificate (or its view of the object's key kind) must be one of that
// kind and may sign certificates.
int SPKIFormats::CheckObjectAgainstCertificate(IPKIObject* object, IPKIObject* certificate)
{
    try {
        if (!object || !certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::uint32_t kind = 0, certificateKind = 0;
        if (static_cast<IPKIKeyKindItem*>(object)->GetKeyKind(&kind) != PKI_OK ||
            cert->GetKeyKind(&certificateKind) != PKI_OK)
            return 0;
        if (kind == certificateKind) return HasKeyUsage(kCertificateSigningUsage, certificate);
        ObjectRef view;
        if (kind == 2) {
            if (cert->GetRSAView(view.Out()) != PKI_OK) return 0;
        } else if (kind == 4) {
            *view.Out() = GetECCertificate(certificate);
        } else {
            return 0;
        }
        if (!view) return 0;
        // The view must really hold a key of the object's kind.
        std::uint32_t viewKind = 0;
        if (view.As<IPKICertificate>()->GetKeyKind(&viewKind) != PKI_OK || viewKind != kind) return 0;
        return HasKeyUsage(kCertificateSigningUsage, view.As<IPKIObject>());
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadPKCS12WithFlag(const PKIBlob* data, const char* password, void** container)
{
    try {
        return ReadPKCS12(data, password, 1, nullptr, container);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetSignerVersionByIssuerSerial(IPKIObject* signedData, const char* issuerText,
                                                const std::uint8_t* serial, std::uint32_t value)
{
    try {
        if (!signedData) return 0;
        ObjectRef signer;
        if (FindSignerByIssuerSerial(signedData, issuerText, serial, signer.Out()) != 1 || !signer) return 0;
        return SetObjectVersionValue(signer.As<IPKIObject>(), value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ConvertObjectWithLibrary(IPKIObject* object, void* a, void* b, void* c, void* d)
{
    try {
        if (!object || !VersionAbove(formats_, kConvertObjectAbove)) return 0;
        ObjectRef inner;
        if (static_cast<IPKIInnerObjectSource*>(object)->GetInnerObject(inner.Out()) != PKI_OK || !inner) return 0;
        return formats_->ConvertObject(inner.As<IPKIObject>(), a, b, c, d) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ConvertFourWithLibrary(void* a, void* b, void* c, void* d)
{
    try {
        if (!VersionAbove(formats_, kConvertFourAbove)) return 0;
        return formats_->ConvertFour(a, b, c, d) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ConvertThreeWithLibrary(void* a, void* b, void* c)
{
    try {
        if (!VersionAbove(formats_, kConvertThreeAbove)) return 0;
        return formats_->ConvertThree(a, b, c) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ConvertThreeWithLibraryNew(void* a, void* b, void* c)
{
    try {
        if (!VersionAbove(formats_, kConvertThreeNewFrom - 1)) return 0;
        return formats_->ConvertThreeNew(a, b, c) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

template <int (IPKIObjectParts::*Get)(void**)>
int EncodePart(SPKIFormats& facade, IPKIObject* object, PKIBlob* out)
{
    if (!object || !out || out->data) return 0;
    ObjectRef part;
    if ((static_cast<IPKIObjectParts*>(object)->*Get)(part.Out()) != PKI_OK || !part) return 0;
    return facade.EncodeObject(part.As<IPKIObject>(), out);
}

}  // namespace

int SPKIFormats::EncodeObjectPart26(IPKIObject* object, PKIBlob* out)
{
    try {
        return EncodePart<&IPKIObjectParts::GetPart26>(*this, object, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeObjectPart17(IPKIObject* object, PKIBlob* out)
{
    try {
        return EncodePart<&IPKIObjectParts::GetPart17>(*this, object, out);
    } catch (...) {
        return 0;
    }
}

// Only a message with exactly one signer names "the" signer.
int SPKIFormats::GetSingleSignerIdentity(IPKIObject* signedData, char* issuerText, std::uint8_t* serial)
{
    try {
        if (!signedData) return 0;
        auto* signers = static_cast<IPKISignedDataSigners*>(signedData);
        std::uint32_t count = 0;
        if (signers->GetSignerCount(&count) != PKI_OK || count != 1) return 0;
        ObjectRef signer;
        if (signers->GetSigner(0, signer.Out()) != PKI_OK || !signer) return 0;
        return GetSignerIdentifier(signer.As<IPKIObject>(), signedData, issuerText, serial) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

enum : std::uint32_t { kDSTU4145KeyBytes = 76, kRSAFieldBytes = 2 * PKI_KEY_FIELD_BYTES };

}  // namespace

// The request's signature must be of its key's family and hold under the
// request's own public key. ECDSA requests go through the EC parameter
// normalisation, which is all the library offers them here.
int SPKIFormats::VerifyRequestSelfSignature(IPKIObject* request)
{
    try {
        if (!request) return 0;
        auto* r = static_cast<IPKIRequest*>(request);
        std::uint32_t kind = 0, family = 0;
        if (r->GetKeyKind(&kind) != PKI_OK || r->GetSignatureFamily(&family) != PKI_OK || family != kind) return 0;
        if (kind == 1) {
            std::uint8_t key[kDSTU4145KeyBytes] = {};
            std::uint32_t length = 0;
            ObjectRef parameters;
            if (r->GetDSTU4145PublicKey(key, &length, parameters.Out()) != PKI_OK) return 0;
            return r->VerifyDSTU4145(key, length, parameters.As<IPKIObject>()) == PKI_OK ? 1 : 0;
        }
        if (kind == 2) {
            auto fields = std::make_unique<std::uint8_t[]>(kRSAFieldBytes);
            std::memset(fields.get(), 0, kRSAFieldBytes);
            std::uint32_t bits = 0;
            if (r->GetRSAPublicKey(fields.get(), &bits) != PKI_OK) return 0;
            return r->VerifyRSA(fields.get(), bits) == PKI_OK ? 1 : 0;
        }
        if (kind == 4) return NormalizeECParameters(request);
        return 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// A DSTU 4145 public key read into the caller's 76 bytes; the parameter
// object the read hands out with it is not wanted here and is released.
template <typename Reader>
int ReadPublicKeyOnly(Reader* reader, std::uint8_t* key, std::uint32_t* length)
{
    if (!reader || !key || !length) return 0;
    ObjectRef parameters;
    return reader->GetDSTU4145PublicKey(key, length, parameters.Out()) == PKI_OK ? 1 : 0;
}

}  // namespace

int SPKIFormats::ForwardObjectOperation16(IPKIObject* request, std::uint8_t* key, std::uint32_t* length)
{
    try {
        return ReadPublicKeyOnly(static_cast<IPKIRequest*>(request), key, length);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ForwardObjectOperation25(IPKIObject* certificate, std::uint8_t* key, std::uint32_t* length)
{
    try {
        return ReadPublicKeyOnly(static_cast<IPKICertificate*>(certificate), key, length);
    } catch (...) {
        return 0;
    }
}

namespace {

enum : std::uint32_t { kClassInteger = 4877, kIidInteger = 4111 };

}  // namespace

int SPKIFormats::AttachObject4877(IPKIObject* object, const PKIBlob* blob)
{
    try {
        if (!object || !formats_ || Empty(blob)) return 0;
        ObjectRef integer;
        if (formats_->CreateObject(kClassInteger, kIidInteger, integer.Out()) != PKI_OK || !integer ||
            integer.As<IPKIInteger>()->Decode(blob) != PKI_OK)
            return 0;
        return static_cast<IPKIIntegerHolder*>(object)->AttachInteger(integer.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
