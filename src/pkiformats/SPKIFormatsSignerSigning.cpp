// Signer signing and signer matching: the signing time and the DSTU 4145
// signature of a signer through the CSP, the signature-value hash of the
// second provider, and the signers that belong to a certificate.
//
// The signature buffer is sized for the largest standard curve and wiped on
// every path.
#include <cstring>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignerIdentity.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kDigitalSignature = 1, kNonRepudiation = 2;
constexpr std::uint32_t kHashKindGOST34311 = 1;

IPKISignerInfo* Signer(IPKIObject* o)
{
    return static_cast<IPKISignerInfo*>(o);
}

IPKISignedDataSigners* Message(IPKIObject* o)
{
    return static_cast<IPKISignedDataSigners*>(o);
}

bool WriteSigningTimeNow(IPKISignerInfo* signer)
{
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return signer->SetSigningTime(&now) == PKI_OK;
}

}  // namespace

int SPKIFormats::PrepareSignerNow(IPKIObject* signer, IPKIObject* certificate, std::uint8_t* value)
{
    try {
        if (!signer || !certificate || !value) return 0;
        if (!HasKeyUsage(kDigitalSignature, certificate) && !HasKeyUsage(kNonRepudiation, certificate)) return 0;
        if (!VersionAtLeast(formats_, 258)) return 0;
        if (!WriteSigningTimeNow(Signer(signer))) return 0;
        std::uint8_t publicKey[76] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) !=
            PKI_OK)
            return 0;
        // The value to be signed is the 32-byte hash of the signed attributes.
        LibraryBlob prepared(formats_);
        if (Signer(signer)->PrepareSignature(publicKey, length, parameters.As<IPKIObject>(), &prepared.blob) !=
                PKI_OK ||
            !prepared.blob.data || prepared.blob.length != 32)
            return 0;
        std::memcpy(value, prepared.blob.data, 32);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindSignerIndexByCertificate(IPKIObject* signedData, IPKIObject* certificate, std::int32_t* index)
{
    try {
        if (!signedData || !index || !VersionAtLeast(formats_, 259)) return 0;
        if (!certificate) return 0;
        // The search covers every signer from the first and answers the
        // matching one's own index.
        std::int32_t found = -1;
        if (Message(signedData)->FindSignerIndex(certificate, &found) != PKI_OK || found < 0) return 0;
        *index = found;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerDSTU4145(IPKIObject* signer, CSPContextHolder* holder, const std::uint8_t* privateKey,
                                    IPKIObject* certificate)
{
    try {
        if (!signer || !holder || !privateKey || !certificate || !csp_) return 0;
        if (!HasKeyUsage(kDigitalSignature, certificate) && !HasKeyUsage(kNonRepudiation, certificate)) return 0;
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        {
            std::uint8_t publicKey[76] = {};
            std::uint32_t length = 0;
            ObjectRef parameters;
            if (static_cast<IPKICertificate*>(certificate)
                        ->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) != PKI_OK ||
                !parameters)
                return 0;
            std::uint8_t sBox[PKI_SBOX_BYTES] = {};
            if (parameters.As<IPKIParameters>()->GetParameters(&field, &point, sBox) != PKI_OK) return 0;
        }
        if (!WriteSigningTimeNow(Signer(signer))) return 0;
        ObjectRef view;
        if (QueryInto(signer, PKI_IID_SIGNER_INFO_DSTU7564, view)) {
            std::uint32_t kind = 0;
            if (view.As<IPKISignerInfoDSTU7564>()->GetHashKind(&kind) != PKI_OK) return 0;
            // Only the GOST 34.311 kind is signed here; a DSTU 7564 hash
            // needs the signed-data group's hash of the signer.
            if (kind != kHashKindGOST34311) return 0;
        }
        std::uint8_t hash[32] = {};
        if (!PrepareSignerNow(signer, certificate, hash)) return 0;
        const std::uint32_t length = ((point.words[DSTU4145_POINT_BITS] + 7) / 8) * 2;
        if (length == 0 || length > PKIF_DSTU4145_SIGNATURE_MAX) return 0;
        // The CSP's signature size: room for the largest standard curve.
        Secret<PKIF_DSTU4145_SIGNATURE_MAX> signature;
        if (SignHashPlainWithHolder(holder, hash, &field, &point, privateKey, signature.bytes) != CSP_OK) return 0;
        return Signer(signer)->SetSignatureValue(signature.bytes, length) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerDSTU4145(IPKIObject* signedData, CSPContextHolder* holder,
                                        const std::uint8_t* privateKey, IPKIObject* certificate)
{
    try {
        if (!signedData) return 0;
        std::uint32_t count = 0;
        if (Message(signedData)->GetSignerCount(&count) != PKI_OK || count == 0) return 0;
        ObjectRef signer;
        if (Message(signedData)->GetSigner(count - 1, signer.Out()) != PKI_OK || !signer) return 0;
        return SignSignerDSTU4145(signer.As<IPKIObject>(), holder, privateKey, certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueWithProvider(IPKIObject* signer, std::uint32_t hashBits, std::uint8_t* hash)
{
    try {
        if (!signer || !hash || !cspi_) return 0;
        std::uint32_t length = 0;
        if (Signer(signer)->GetSignatureValue(nullptr, &length) != PKI_OK) return 0;
        if (length == 0 || length > PKIF_SIGNATURE_MAX) return 0;
        Secret<PKIF_SIGNATURE_MAX> value;
        std::uint32_t again = length;
        if (Signer(signer)->GetSignatureValue(value.bytes, &again) != PKI_OK || again != length) return 0;
        return cspi_->HashSHA(value.bytes, length, hashBits, hash) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindNthSignerOfCertificate(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t n,
                                            std::uint32_t* index)
{
    try {
        if (!signedData || !certificate || !index) return 0;
        Identity wanted;
        if (!CertificateIdentity(formats_, static_cast<IPKICertificate*>(certificate), wanted)) return 0;
        std::uint32_t count = 0;
        if (Message(signedData)->GetSignerCount(&count) != PKI_OK || n >= count) return 0;
        std::uint32_t seen = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef signer;
            if (Message(signedData)->GetSigner(i, signer.Out()) != PKI_OK || !signer) return 0;
            Identity id;
            if (!SignerIdentity(signer.As<IPKISignerInfo>(), id)) return 0;
            if (!id.SameAs(wanted)) continue;
            if (seen++ == n) {
                *index = i;
                return 1;
            }
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::IsSignerOfCertificate(IPKIObject* signer, IPKIObject* certificate)
{
    try {
        if (!signer || !certificate) return 0;
        Identity a, b;
        return SignerIdentity(Signer(signer), a) &&
                       CertificateIdentity(formats_, static_cast<IPKICertificate*>(certificate), b) && a.SameAs(b)
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

constexpr std::uint32_t kHashKindDSTU7564 = 3;
constexpr std::uint32_t kKeyKindRSA = 2;

// Usage of a given certificate: digital signature, else non-repudiation.
bool MaySign(SPKIFormats& facade, IPKIObject* certificate)
{
    return !certificate || facade.HasKeyUsage(kDigitalSignature, certificate) ||
           facade.HasKeyUsage(kNonRepudiation, certificate);
}

// The last signer of a message, into `signer`.
bool LastSigner(IPKIObject* signedData, ObjectRef& signer)
{
    std::uint32_t count = 0;
    if (!signedData || Message(signedData)->GetSignerCount(&count) != PKI_OK || count == 0) return false;
    return Message(signedData)->GetSigner(count - 1, signer.Out()) == PKI_OK && signer;
}

}  // namespace

int SPKIFormats::SignSignerWithKey(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate, std::uint32_t keepTime)
{
    try {
        if (!signer || !key || !MaySign(*this, certificate)) return 0;
        if (!keepTime && !WriteSigningTimeNow(Signer(signer))) return 0;
        ObjectRef view;
        if (QueryInto(signer, PKI_IID_SIGNER_INFO_DSTU7564, view)) {
            auto* v = view.As<IPKISignerInfoDSTU7564>();
            std::uint32_t kind = 0, size = 0;
            if (v->GetHashKind(&kind) != PKI_OK) return 0;
            if (kind == kHashKindDSTU7564) {
                if (v->GetHashBytes(&size) != PKI_OK) return 0;
                return v->SignWithKeyObject(key, kind, size) == PKI_OK ? 1 : 0;
            }
            if (kind != kHashKindGOST34311) return 0;
        }
        Secret<76> privateKey;
        std::uint32_t length = 0;
        ObjectRef parameters;
        {
            LibraryBlob value(formats_);
            if (static_cast<IPKIKeyObject*>(key)->GetKeyValue(&value.blob, parameters.Out()) != PKI_OK ||
                !value.blob.data || value.blob.length == 0 || value.blob.length > 76)
                return 0;
            length = value.blob.length;
            std::memcpy(privateKey.bytes, value.blob.data, length);
        }
        return Signer(signer)->SignWithKey(privateKey.bytes, length, parameters.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerRSA(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate, std::uint32_t keepTime)
{
    try {
        if (!signer || !key) return 0;
        ObjectRef view;
        if (certificate) {
            std::uint32_t kind = 0;
            if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK) return 0;
            if (kind != kKeyKindRSA) {
                if (static_cast<IPKICertificate*>(certificate)->GetRSAView(view.Out()) != PKI_OK || !view) return 0;
                certificate = view.As<IPKIObject>();
            }
        }
        if (!MaySign(*this, certificate)) return 0;
        if (!keepTime && !WriteSigningTimeNow(Signer(signer))) return 0;
        ObjectRef hashLength;
        if (QueryInto(signer, PKI_IID_SIGNER_HASH_LENGTH, hashLength))
            return hashLength.As<IPKISignerHashLength>()->SignRSA(key) == PKI_OK ? 1 : 0;
        Secret<PKIF_RSA_PRIVATE_KEY_BYTES> privateKey;
        std::uint8_t profile[8] = {};
        if (static_cast<IPKIKeyObject*>(key)->GetRSAKey(privateKey.bytes, profile) != PKI_OK) return 0;
        return Signer(signer)->SignWithRSAKey(privateKey.bytes, profile) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerWithKey(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                       std::uint32_t keepTime)
{
    try {
        ObjectRef signer;
        return LastSigner(signedData, signer) ? SignSignerWithKey(signer.As<IPKIObject>(), key, certificate, keepTime)
                                              : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerRSA(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                   std::uint32_t keepTime)
{
    try {
        ObjectRef signer;
        return LastSigner(signedData, signer) ? SignSignerRSA(signer.As<IPKIObject>(), key, certificate, keepTime) : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerAttributeValueDirect(IPKIObject* signer, const char* oid, PKIBlob* value)
{
    try {
        if (!signer || !oid || !value || value->data || !formats_) return 0;
        std::uint32_t count = 0;
        if (Signer(signer)->CountSignedAttributes(oid, &count) != PKI_OK || count != 1) return 0;
        ObjectRef attribute, view;
        if (Signer(signer)->GetSignedAttribute(oid, 0, attribute.Out()) != PKI_OK || !attribute) return 0;
        if (!QueryInto(attribute.As<IPKIObject>(), PKI_IID_SIGNED_ATTRIBUTE, view)) return 0;
        LibraryBlob read(formats_);
        if (view.As<IPKISignedAttribute>()->GetEncodedValue(&read.blob) != PKI_OK || !read.blob.data) return 0;
        *value = read.blob;
        read.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateHolderFromBlob(const PKIBlob* blob, void** object)
{
    try {
        if (object) *object = nullptr;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_GENERIC_HOLDER, 1, made)) return 0;
        if (!DecodeObject(made.As<IPKIObject>(), blob)) return 0;
        if (object) {
            *object = made.As<IPKIObject>();
            *made.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerAttributeValue(IPKIObject* signedData, IPKIObject* certificate, const char* oid,
                                         PKIBlob* value)
{
    try {
        if (!signedData || !certificate || !oid || !value || value->data) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return GetSignerAttributeValueDirect(signer.As<IPKIObject>(), oid, value) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerAttribute(IPKIObject* signedData, IPKIObject* certificate, const char* oid,
                                    const PKIBlob* value)
{
    try {
        if (!signedData || !certificate || !oid || Empty(value)) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        ObjectRef attribute;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE, attribute)) return 0;
        auto* a = attribute.As<IPKISignedAttribute>();
        if (a->SetType(oid) != PKI_OK || a->SetValueForm3(value) != PKI_OK) return 0;
        return Signer(signer.As<IPKIObject>())->AddSignedAttribute(attribute.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashCertificateSignatureValue(IPKIObject* first, IPKIObject* second, IPKIObject* signedData,
                                               std::uint32_t hashBits, std::uint8_t* hash)
{
    try {
        if (!signedData || !hash) return 0;
        // The signing certificate of the pair: digital signature first, then
        // non-repudiation, each tried on the first argument before the second.
        IPKIObject* chosen = nullptr;
        for (std::uint32_t usage : {kDigitalSignature, kNonRepudiation}) {
            for (IPKIObject* c : {first, second})
                if (!chosen && c && HasKeyUsage(usage, c) == 1) chosen = c;
        }
        if (!chosen) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, chosen, signer.Out()) != 1 || !signer) return 0;
        return HashSignatureValueWithProvider(signer.As<IPKIObject>(), hashBits, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PrepareSignerViewNow(IPKIObject* signer, void* first, void* second)
{
    try {
        return signer ? SignLastSignerDSTU7564(signer, first, second, 0) : 0;
    } catch (...) {
        return 0;
    }
}
