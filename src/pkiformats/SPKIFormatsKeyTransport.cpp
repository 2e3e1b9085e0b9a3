// Key preparation for key agreement (the own key confirmed against its
// certificate through the CSP), recipient keys, key parameter comparison,
// and enveloped data for key-transport recipients with the block padding of
// raw content and its removal after decryption.
#include <cstring>
#include <memory>

#include "pkiformats/EnvelopedContent.h"
#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"

using namespace pkif;

namespace {

// Usage bits asked of certificates: key agreement, and with signing.
constexpr std::uint32_t kUsageAgreement = 16;
constexpr std::uint32_t kUsageSignAgreement = 1 | 16;

// The certificate a wrapper carries (slot 100), else the object itself;
// `held` keeps a wrapped one referenced.
IPKICertificate* Underlying(IPKIObject* certificate, ObjectRef& held)
{
    auto* cert = static_cast<IPKICertificate*>(certificate);
    if (cert->GetInnerCertificate(held.Out()) == PKI_OK && held) return held.As<IPKICertificate>();
    held.Reset();
    return cert;
}

// Its RSA view (slot 103) where it offers one.
IPKICertificate* RSAView(IPKIObject* certificate, ObjectRef& held)
{
    auto* cert = static_cast<IPKICertificate*>(certificate);
    if (cert->GetRSAView(held.Out()) == PKI_OK && held) return held.As<IPKICertificate>();
    held.Reset();
    return cert;
}

// 1 present, 0 absent, -1 unreadable.
int OwnAgreementParameters(IPKICertificate* certificate, ObjectRef& parameters)
{
    int rc = certificate->GetAgreementParameters(parameters.Out());
    if (rc == PKI_OK && parameters) return 1;
    parameters.Reset();
    return rc == PKI_E_ABSENT ? 0 : -1;
}

// Hands out an object reference, or releases it when not asked for.
void HandOut(ObjectRef& object, void** out)
{
    if (!out) return;
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
}

}  // namespace

// The own private key confirmed against the public key of the certificate
// through the CSP (in the key object's provider context where it lends
// one). The confirmation is the CSP's DSTU 4145 key-pair check for every
// combination of flags; `flag` reports whether the certificate carries key
// agreement parameters of its own (never asked in the static form). The
// key object handed out is the certificate key's parameter object; the
// parameter block is its S-box.
int SPKIFormats::PrepareKeyAgreement(std::uint32_t staticForm, std::uint32_t strict, IPKIObject* ownKey,
                                     IPKIObject* certificate, std::uint8_t* key, std::uint32_t* keyLength,
                                     void** keyObject, std::uint32_t* parameters, std::uint32_t* flag)
{
    Secret<kAgreementKeyBytes> privateKey;
    try {
        if (key) std::memset(key, 0, kAgreementKeyBytes);
        if (keyLength) *keyLength = 0;
        if (keyObject) *keyObject = nullptr;
        if (parameters) std::memset(parameters, 0, kParameterWords * 4);
        if (flag) *flag = 0;
        if (!csp_ || !formats_ || !ownKey || !certificate) return 0;
        ObjectRef held;
        IPKICertificate* cert = Underlying(certificate, held);
        if (HasKeyUsage(kUsageAgreement, cert) != 1) return 0;
        ObjectRef ownParameters;
        int own = 0;
        if (!staticForm && (own = OwnAgreementParameters(cert, ownParameters)) < 0) return 0;

        LibraryBlob value(formats_);
        ObjectRef keyParameters;
        if (static_cast<IPKIKeyObject*>(ownKey)->GetKeyValue(&value.blob, keyParameters.Out()) != PKI_OK) return 0;
        if (value.blob.length > kAgreementKeyBytes) return 0;
        bool present = value.blob.length != 0 && value.blob.data;
        // A key without its private part lives on a device: only a strict
        // caller takes it, and only when the key may agree keys.
        if (!present && (!strict || HasKeyUsage(kUsageSignAgreement, cert) != 1)) return 0;
        if (present) std::memcpy(privateKey.bytes, value.blob.data, value.blob.length);

        std::uint8_t publicKey[kAgreementKeyBytes] = {};
        std::uint32_t publicLength = 0;
        ObjectRef curve;
        if (cert->GetDSTU4145PublicKey(publicKey, &publicLength, curve.Out()) != PKI_OK || !curve) return 0;
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        std::uint32_t sBox[kParameterWords] = {};
        if (curve.As<IPKIParameters>()->GetParameters(&field, &point, reinterpret_cast<std::uint8_t*>(sBox)) != PKI_OK)
            return 0;

        HolderScope<CSPContextHolder> scope;
        InitCSPContextHolder(&scope.holder, csp_, ownKey, 1, 0);
        if (CheckSignatureKeyPair(&scope.holder, &field, &point, present ? privateKey.bytes : nullptr, publicKey) !=
            CSP_OK)
            return 0;

        if (key) std::memcpy(key, privateKey.bytes, kAgreementKeyBytes);
        if (keyLength) *keyLength = value.blob.length;
        if (parameters) std::memcpy(parameters, sBox, sizeof sBox);
        if (flag) *flag = own == 1 ? 1 : 0;
        HandOut(curve, keyObject);
        return 1;
    } catch (...) {
        if (key) std::memset(key, 0, kAgreementKeyBytes);
        return 0;
    }
}

// The recipient's public key and its parameter object. The parameter block
// handed out is the S-box of the key's parameters; when a certificate with
// parameters of its own gives no S-box (PKI_E_ABSENT), the built-in default
// is standard S-box 0 of the CSP's parameters, the same 64 bytes the
// enveloped data uses without a sender key.
int SPKIFormats::PrepareRecipientKey(std::uint32_t storedKey, IPKIObject* certificate, std::uint8_t* key,
                                     std::uint32_t* keyLength, void** keyObject, std::uint32_t* parameters)
{
    try {
        if (key) std::memset(key, 0, kAgreementKeyBytes);
        if (keyLength) *keyLength = 0;
        if (keyObject) *keyObject = nullptr;
        if (!formats_ || !certificate || !key || !keyLength) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        if (HasKeyUsage(kUsageAgreement, certificate) != 1) return 0;
        ObjectRef ownParameters;
        int own = 0;
        if (!storedKey && (own = OwnAgreementParameters(cert, ownParameters)) < 0) return 0;
        ObjectRef curve;
        std::uint8_t publicKey[kAgreementKeyBytes] = {};
        std::uint32_t length = 0;
        if (cert->GetDSTU4145PublicKey(publicKey, &length, curve.Out()) != PKI_OK || !curve) return 0;
        if (length > kAgreementKeyBytes) return 0;
        ObjectRef& source = own == 1 ? ownParameters : curve;
        if (parameters) {
            int rc = source.As<IPKIParameters>()->GetParameters(nullptr, nullptr,
                                                                reinterpret_cast<std::uint8_t*>(parameters));
            if (rc == PKI_E_ABSENT && own == 1) {
                GOST28147PackedSBox standard;
                if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &standard)) return 0;
                std::memcpy(parameters, &standard, kParameterWords * 4);
            } else if (rc != PKI_OK) {
                return 0;
            }
        }
        std::memcpy(key, publicKey, kAgreementKeyBytes);
        *keyLength = length;
        HandOut(source, keyObject);
        return 1;
    } catch (...) {
        if (key) std::memset(key, 0, kAgreementKeyBytes);
        return 0;
    }
}

// Both parameter records must pass the CSP's check; then the 100-byte field
// parts and the 156-byte point parts are compared.
int SPKIFormats::CompareKeyParameters(IPKIObject* first, IPKIObject* second)
{
    try {
        if (!csp_ || !first || !second) return 0;
        DSTU4145FieldRecord field[2]{};
        DSTU4145PointRecord point[2]{};
        IPKIObject* keys[2] = {first, second};
        for (int i = 0; i < 2; ++i) {
            if (static_cast<IPKIParameters*>(keys[i])->GetParameters(&field[i], &point[i], nullptr) != PKI_OK) return 0;
            if (csp_->CheckParametersDSTU4145(&field[i], &point[i]) != CSP_OK) return 0;
        }
        return std::memcmp(&field[0], &field[1], sizeof field[0]) == 0 &&
                       std::memcmp(&point[0], &point[1], sizeof point[0]) == 0
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// The content padded to whole cipher blocks in a library blob, then
// enveloped: inner type, cipher, content, encryption, finish.
int SPKIFormats::EnvelopeRawContent(std::uint32_t cipherKind, const PKIBlob* content, std::uint32_t signedContent,
                                    void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        *envelopedData = nullptr;
        if (!formats_ || !content || (content->length && !content->data)) return 0;
        std::uint32_t padded = PaddedLength(content->length, BlockOf(cipherKind));
        if (padded == 0) return 0;
        LibraryBlob buffer(formats_);
        if (formats_->AllocateBlob(&buffer.blob, padded) != PKI_OK || !buffer.blob.data) return 0;
        if (content->length) std::memcpy(buffer.blob.data, content->data, content->length);
        Pad(buffer.blob.data, content->length, padded);
        ObjectRef enveloped;
        if (!CreateInto(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, enveloped)) return 0;
        auto* e = enveloped.As<IPKIEnvelopedData>();
        if (e->SetInnerContentType(signedContent ? kOidSignedData : kOidData) != PKI_OK ||
            e->SetCipher(cipherKind, 0) != PKI_OK || e->SetContent(&buffer.blob) != PKI_OK || e->Encrypt() != PKI_OK ||
            e->FinishContent() != PKI_OK)
            return 0;
        HandOut(enveloped, envelopedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Identifier kind 1 goes to the library as 4; kinds 2 and 3 carry the
// certificate's 32-byte key identifier.
int SPKIFormats::AddKeyTransportRecipient(IPKIObject* envelopedData, IPKIObject* certificate, std::uint32_t kind)
{
    try {
        if (!formats_ || !envelopedData || !certificate) return 0;
        ObjectRef held;
        IPKICertificate* cert = RSAView(certificate, held);
        // One read of the usage decides: key agreement, data or key encipherment.
        std::uint32_t usage = 0;
        if (GetEffectiveKeyUsage(cert, &usage) != 1 || !(usage & (16 | 8 | 4))) return 0;
        std::unique_ptr<wchar_t[]> issuer;
        LibraryBlob serial(formats_);
        if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
        std::uint8_t keyIdentifier[32] = {};
        if ((kind == 2 || kind == 3) && !SubjectKeyIdentifier32(cert, keyIdentifier)) return 0;
        auto fields = std::make_unique<std::uint8_t[]>(2 * PKI_KEY_FIELD_BYTES);
        std::uint32_t bits = 0;
        if (cert->GetRSAPublicKey(fields.get(), &bits) != PKI_OK) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)
                           ->AddKeyTransportRecipient(kind == 1 ? 4 : kind, issuer.get(), &serial.blob, keyIdentifier,
                                                      fields.get(), bits) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// The index counts key-transport entries only. Issuer: PKIF_NAME_TEXT_BYTES
// (refused, left empty, when longer); serial 20 bytes; key identifier 32.
int SPKIFormats::GetKeyTransportRecipient(IPKIObject* envelopedData, std::uint32_t index, std::uint32_t* kind,
                                          char* issuer, std::uint8_t* serial, std::uint8_t* keyIdentifier)
{
    try {
        if (issuer) issuer[0] = 0;
        if (!formats_ || !envelopedData || !kind) return 0;
        auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
        std::uint32_t count = 0;
        if (e->GetAgreementGroupCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0, seen = 0; i < count; ++i) {
            std::uint32_t entryKind = 0;
            if (e->GetRecipientEntryKind(i, &entryKind) != PKI_OK) return 0;
            if (entryKind != 1 || seen++ != index) continue;
            ObjectRef entry;
            if (e->GetRecipientEntry(i, entry.Out()) != PKI_OK || !entry) return 0;
            auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
            std::uint32_t length = kWideNameChars;
            std::uint8_t serialBytes[20] = {}, identifier[32] = {};
            std::uint32_t idKind = 0;
            if (entry.As<IPKIKeyTransportEntry>()->GetIdentifier(&idKind, wide.get(), &length, serialBytes,
                                                                 identifier) != PKI_OK)
                return 0;
            if (idKind == 1) {
                if (length >= kWideNameChars) return 0;
                wide[length] = 0;
                if (!IssuerToText(formats_, wide.get(), issuer)) return 0;
                if (serial) std::memcpy(serial, serialBytes, 20);
            } else if (idKind == 2) {
                if (keyIdentifier) std::memcpy(keyIdentifier, identifier, 32);
            } else {
                return 0;
            }
            *kind = idKind;
            return 1;
        }
        return 0;
    } catch (...) {
        if (issuer) issuer[0] = 0;
        return 0;
    }
}

// The decryption shared by the opening and the check: the content is left in
// `content` (a library blob) and its inner type in `type`.
static int DecryptKeyTransportContent(IPKIInterface* formats, SPKIFormats& facade, IPKIObject* envelopedData,
                                      IPKIObject* ownKey, IPKIObject* certificate, std::uint8_t* workArea,
                                      PKIBlob* content, char* type)
{
    ObjectRef held;
    IPKICertificate* cert = RSAView(certificate, held);
    if (facade.HasKeyUsage(kUsageAgreement, cert) != 1) return 0;
    // Slot 9 may write the key's whole 1,200 words; the library takes its
    // first 1,200 bytes followed by the profile.
    Secret<kTransportKeyBytes> keyData;
    {
        Secret<PKIF_RSA_PRIVATE_KEY_BYTES> read;
        if (static_cast<IPKIKeyObject*>(ownKey)->GetRSAKey(read.bytes, keyData.bytes + 1200) != PKI_OK) return 0;
        std::memcpy(keyData.bytes, read.bytes, 1200);
    }
    std::unique_ptr<wchar_t[]> issuer;
    LibraryBlob serial(formats);
    std::uint8_t keyIdentifier[32] = {};
    if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK ||
        !SubjectKeyIdentifier32(cert, keyIdentifier))
        return 0;
    auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
    if (e->GetEncryptedContent(content) != PKI_OK) return 0;
    PKIBlob own{kTransportKeyBytes, keyData.bytes};
    ObjectRef view;
    int rc =
        QueryInto(envelopedData, PKI_IID_ENVELOPED_KEY_TRANSPORT, view)
            ? view.As<IPKIEnvelopedKeyTransport>()->DecryptKeyTransport(&own, issuer.get(), keyIdentifier, workArea)
            : e->DecryptKeyTransport(&own, issuer.get(), keyIdentifier, workArea);
    if (rc != PKI_OK || e->DecryptContent(content) != PKI_OK || e->FinishDecryption() != PKI_OK) return 0;
    return ReadInnerType(e, type) ? 1 : 0;
}

// The decrypted content loses the padding its last byte names (a last byte
// of 0 keeps the full length; one above 16 or above the length is refused).
int SPKIFormats::OpenEnvelopedKeyTransport(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* certificate,
                                           std::uint32_t* signedContent, PKIBlob* content)
{
    auto work = std::make_unique<Secret<kOpenWorkArea>>();
    try {
        if (!formats_ || !envelopedData || !ownKey || !certificate || !signedContent || !content) return 0;
        LibraryBlob decrypted(formats_);
        char type[kContentTypeBytes];
        if (!DecryptKeyTransportContent(formats_, *this, envelopedData, ownKey, certificate, work->bytes,
                                        &decrypted.blob, type))
            return 0;
        std::int64_t length = UnpaddedLength(decrypted.blob.data, decrypted.blob.length);
        if (length < 0) return 0;
        std::uint32_t isSigned = 0;
        if (SameType(type, kOidSignedData))
            isSigned = 1;
        else if (!SameType(type, kOidData))
            return 0;
        // The padding bytes go back wiped with the blob; only the length shrinks.
        std::memset(decrypted.blob.data + length, 0, decrypted.blob.length - static_cast<std::uint32_t>(length));
        *content = PKIBlob{static_cast<std::uint32_t>(length), decrypted.blob.data};
        decrypted.blob = PKIBlob{0, nullptr};
        *signedContent = isSigned;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateEnvelopedDataShell(std::uint32_t cipherKind, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        *envelopedData = nullptr;
        ObjectRef enveloped;
        if (!CreateInto(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, enveloped)) return 0;
        auto* e = enveloped.As<IPKIEnvelopedData>();
        if (e->SetInnerContentType(kOidData) != PKI_OK || e->SetCipher(cipherKind, 0) != PKI_OK) return 0;
        HandOut(enveloped, envelopedData);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CheckKeyTransportRecipient(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* certificate)
{
    auto work = std::make_unique<Secret<kCheckWorkArea>>();
    try {
        if (!formats_ || !envelopedData || !ownKey || !certificate) return 0;
        LibraryBlob decrypted(formats_);
        char type[kContentTypeBytes];
        if (!DecryptKeyTransportContent(formats_, *this, envelopedData, ownKey, certificate, work->bytes,
                                        &decrypted.blob, type))
            return 0;
        return SameType(type, kOidData) || SameType(type, kOidSignedData) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
