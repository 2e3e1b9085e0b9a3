// CMS signed data, DSTU 4145 with GOST 34.311: signers built, found, signed
// and verified, messages created, wrapped, encoded and opened, and the
// signer reads that every family uses. The messages, signers and attributes
// are objects of the formats library; the facade drives them, compares what
// they report and hands the results out.
#include "pkiformats/SPKIFormatsSignedData.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"

using namespace pkif;

namespace pkif {

namespace {

// The 20-byte serial number of an encoded INTEGER: its value right-aligned,
// leading zero bytes dropped; false for anything longer or not an INTEGER.
bool SerialOfInteger(const PKIBlob& integer, std::uint8_t* serial)
{
    const std::uint8_t* p = integer.data;
    std::uint64_t n = integer.length;
    if (!p || n < 2 || p[0] != 0x02) return false;
    std::uint64_t length = p[1], header = 2;
    if (length & 0x80) {
        std::uint32_t octets = length & 0x7F;
        if (octets == 0 || octets > 2 || n < 2 + octets) return false;
        length = 0;
        for (std::uint32_t i = 0; i < octets; ++i) length = (length << 8) | p[2 + i];
        header += octets;
    }
    if (!Inside(header, length, n)) return false;
    const std::uint8_t* value = p + header;
    while (length > 0 && value[0] == 0) ++value, --length;
    if (length > kSignerSerialBytes) return false;
    std::memset(serial, 0, kSignerSerialBytes);
    if (length) std::memcpy(serial + kSignerSerialBytes - length, value, length);
    return true;
}

bool KnownHashBits(std::uint32_t bits)
{
    return bits == 160 || bits == 224 || bits == 256 || bits == 384 || bits == 512;
}

bool Terminated(const wchar_t* wide, std::size_t capacity)
{
    return wide && wcsnlen(wide, capacity) < capacity;
}

}  // namespace

bool NarrowSignerName(IPKIInterface* formats, const wchar_t* wide, char* text, std::uint32_t capacity)
{
    if (!text || capacity == 0) return false;
    text[0] = 0;
    if (!formats || !Terminated(wide, PKI_SIGNER_NAME_BUFFER_CHARS)) return false;
    std::size_t length = std::wcslen(wide);
    if (length + 1 > capacity) return false;  // refused, not cut
    auto buffer = std::make_unique<char[]>(length + 1);
    if (formats->WideToText(wide, buffer.get()) != PKI_OK) return false;
    buffer[length] = 0;
    std::memcpy(text, buffer.get(), length + 1);
    return true;
}

bool SigningCertificateMatches(IPKIObject* attribute, IPKIObject* certificate, IPKIObject* parameters, bool gostForm,
                               const wchar_t* signerIssuer, const std::uint8_t* signerSerial)
{
    if (!attribute || !certificate) return false;
    auto* entries = static_cast<IPKISigningCertificate*>(attribute);
    std::uint32_t count = 0;
    if (entries->GetEntryCount(&count) != PKI_OK || count != 1) return false;
    auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
    std::uint8_t serial[kSignerSerialBytes] = {};
    std::uint32_t given = 0;
    std::uint8_t hash[64] = {}, mine[64] = {};
    if (gostForm &&
        entries->GetEntryGOST34311(0, issuer.get(), PKI_SIGNER_NAME_BUFFER_CHARS, serial, &given, hash) == PKI_OK) {
        if (entries->HashCertificateGOST34311(certificate, parameters, mine) != PKI_OK ||
            std::memcmp(hash, mine, 32) != 0)
            return false;
    } else {
        std::uint32_t bits = 0;
        // The general form names an issuer and serial when its issuer text
        // is not empty (the buffer holds the longest name the entry gives).
        issuer[0] = 0;
        if (entries->GetEntry(0, &bits, hash, issuer.get(), serial) != PKI_OK) return false;
        given = issuer[0] != 0 ? 1 : 0;
        // A size taken from the message decides how much is compared: only
        // the sizes of the hashes there are, and the whole hash.
        if (!KnownHashBits(bits)) return false;
        if (entries->HashCertificate(certificate, bits, mine) != PKI_OK || std::memcmp(hash, mine, bits / 8) != 0)
            return false;
    }
    if (!given) return true;
    return signerIssuer && signerSerial && Terminated(issuer.get(), PKI_SIGNER_NAME_BUFFER_CHARS) &&
           std::wcscmp(issuer.get(), signerIssuer) == 0 && std::memcmp(serial, signerSerial, kSignerSerialBytes) == 0;
}

bool CertificateIdentity(IPKIInterface* formats, IPKIObject* certificate, std::string& issuer, std::uint8_t* serial)
{
    if (!formats || !certificate) return false;
    auto* c = static_cast<IPKICertificate*>(certificate);
    if (!IssuerText(formats, c, issuer)) return false;
    LibraryBlob number(formats);
    return c->GetSerial(&number.blob) == PKI_OK && SerialOfInteger(number.blob, serial);
}

bool CertificateIssuerAndSerialObject(IPKIInterface* formats, IPKIObject* certificate, wchar_t* issuer,
                                      ObjectRef& serial)
{
    auto* c = static_cast<IPKICertificate*>(certificate);
    std::uint32_t length = PKI_SIGNER_NAME_BUFFER_CHARS;
    if (c->GetIssuerText(issuer, &length) != PKI_OK || length >= PKI_SIGNER_NAME_BUFFER_CHARS) return false;
    issuer[length] = 0;
    LibraryBlob number(formats);
    if (c->GetSerial(&number.blob) != PKI_OK || Empty(&number.blob)) return false;
    return CreateInto(formats, PKI_CLASS_INTEGER, PKI_IID_INTEGER, serial) &&
           serial.As<IPKIInteger>()->Decode(&number.blob) == PKI_OK;
}

bool LastSigner(IPKIObject* signedData, ObjectRef& signer)
{
    auto* message = static_cast<IPKISignedDataSigners*>(signedData);
    std::uint32_t count = 0;
    if (!message || message->GetSignerCount(&count) != PKI_OK || count == 0) return false;
    return message->GetSigner(count - 1, signer.Out()) == PKI_OK && signer;
}

}  // namespace pkif

namespace {

IPKISignedDataSigners* Message(IPKIObject* o)
{
    return static_cast<IPKISignedDataSigners*>(o);
}

IPKISignerInfo* SignerInfo(IPKIObject* o)
{
    return static_cast<IPKISignerInfo*>(o);
}

// Hands a held object out through `out`.
int HandOut(ObjectRef& object, void** out)
{
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
    return 1;
}

bool Same(const PKIBlob& a, const PKIBlob* b)
{
    return b && a.length == b->length && (a.length == 0 || std::memcmp(a.data, b->data, a.length) == 0);
}

// A DSTU 4145 public key with its parameters object.
struct PublicKey {
    Secret<76> key;
    std::uint32_t length = 0;
    ObjectRef parameters;
};

bool CertificateKey(IPKIObject* certificate, PublicKey& out)
{
    return static_cast<IPKICertificate*>(certificate)
               ->GetDSTU4145PublicKey(out.key.bytes, &out.length, out.parameters.Out()) == PKI_OK;
}

bool KeyObjectKey(IPKIObject* key, PublicKey& out)
{
    return static_cast<IPKIKeyObject*>(key)->GetPublicKey(out.key.bytes, &out.length, out.parameters.Out()) == PKI_OK;
}

}  // namespace

int SPKIFormats::GetSignerIdentifier(IPKIObject* signer, IPKIObject* signedData, char* issuer, std::uint8_t* serial)
{
    try {
        if (!signer) return 0;
        auto wide = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
        std::uint8_t identifier[kSignerSerialBytes] = {};
        if (issuer) issuer[0] = 0;
        if (!GetTimeStampSignerId(signer, signedData, wide.get(), identifier)) return 0;
        if (issuer && !NarrowSignerName(formats_, wide.get(), issuer, PKIF_NAME_TEXT_BYTES)) return 0;
        if (serial) std::memcpy(serial, identifier, kSignerSerialBytes);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignerInfoDSTU4145(IPKIObject* certificate, IPKIObject* key, const char* contentType,
                                          const PKIBlob* content, const std::uint8_t* hash, void** signer)
{
    try {
        if (!formats_ || !certificate || !contentType || !signer) return 0;
        std::uint32_t kind = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK || kind != 1) return 0;
        auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
        ObjectRef serial, info, attribute;
        if (!CertificateIssuerAndSerialObject(formats_, certificate, issuer.get(), serial)) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO, info)) return 0;
        auto* s = SignerInfo(info.As<IPKIObject>());
        if (s->SetIdentifier(PKI_SIGNER_ID_ISSUER_SERIAL, serial.As<IPKIObject>(), issuer.get(), 0) != PKI_OK) return 0;
        if (!CreateInto(formats_, PKI_CLASS_SIGNING_CERTIFICATE, PKI_IID_SIGNING_CERTIFICATE, attribute)) return 0;
        PublicKey own;
        if (!CertificateKey(certificate, own)) return 0;
        auto* entry = attribute.As<IPKISigningCertificate>();
        std::uint8_t certificateHash[32] = {};
        if (entry->HashCertificateGOST34311(certificate, own.parameters.As<IPKIObject>(), certificateHash) != PKI_OK ||
            entry->SetEntryGOST34311(certificateHash, 1, serial.As<IPKIObject>(), issuer.get()) != PKI_OK)
            return 0;
        serial.Reset();
        if (s->AttachSigningCertificate(attribute.As<IPKIObject>()) != PKI_OK) return 0;
        attribute.Reset();
        if (s->SetContentType(contentType) != PKI_OK) return 0;
        if (hash) {
            if (s->SetHashGOST34311(hash) != PKI_OK) return 0;
        } else if (content) {
            PublicKey fromKey;
            PublicKey* used = &own;
            if (key) {
                if (!KeyObjectKey(key, fromKey)) return 0;
                used = &fromKey;
            }
            if (s->SetContentDigestGOST34311(used->key.bytes, used->length, used->parameters.As<IPKIObject>(),
                                             content) != PKI_OK)
                return 0;
        }
        return HandOut(info, signer);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindSignerByIssuerSerial(IPKIObject* signedData, const char* issuer, const std::uint8_t* serial,
                                          void** signer)
{
    try {
        if (!signedData || !issuer || !serial || !signer) return 0;
        std::uint32_t count = 0;
        if (Message(signedData)->GetSignerCount(&count) != PKI_OK) return 0;
        auto text = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef candidate;
            std::uint8_t identifier[kSignerSerialBytes];
            if (Message(signedData)->GetSigner(i, candidate.Out()) != PKI_OK || !candidate) return 0;
            if (!GetSignerIdentifier(candidate.As<IPKIObject>(), signedData, text.get(), identifier)) return 0;
            if (std::strcmp(text.get(), issuer) == 0 && std::memcmp(identifier, serial, kSignerSerialBytes) == 0)
                return HandOut(candidate, signer);
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindSignerByCertificate(IPKIObject* signedData, IPKIObject* certificate, void** signer)
{
    try {
        if (!formats_ || !signedData || !certificate || !signer) return 0;
        std::uint32_t kind = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK) return 0;
        if (kind != 1 && kind != 2 && kind != 4) return 0;
        std::string issuer;
        std::uint8_t serial[kSignerSerialBytes];
        if (!CertificateIdentity(formats_, certificate, issuer, serial)) return 0;
        return FindSignerByIssuerSerial(signedData, issuer.c_str(), serial, signer);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerKeyKind(IPKIObject* signedData, const char* issuer, const std::uint8_t* serial,
                                  std::uint32_t* kind)
{
    try {
        if (!kind) return 0;
        ObjectRef signer;
        if (!FindSignerByIssuerSerial(signedData, issuer, serial, signer.Out()) || !signer) return 0;
        return SignerInfo(signer.As<IPKIObject>())->GetKeyKind(kind) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataGOST34311(const char* contentType, const PKIBlob* content, const std::uint8_t* hash,
                                           std::uint32_t detached, IPKIObject* key, IPKIObject* certificate,
                                           void** signedData)
{
    try {
        if (!formats_ || !contentType || !signedData) return 0;
        ObjectRef message;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, message)) return 0;
        auto* m = message.As<IPKISignedDataSigners>();
        if (m->AddDigestAlgorithm(kOidGOST34311) != PKI_OK || m->SetContentType(contentType) != PKI_OK) return 0;
        if (key) {
            ObjectRef signer;
            if (!CreateSignerInfoDSTU4145(certificate, key, contentType, content, hash, signer.Out()) || !signer)
                return 0;
            if (m->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        }
        if (!detached && !hash && content && m->SetContent(content) != PKI_OK) return 0;
        return HandOut(message, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataOfDataGOST34311(const PKIBlob* content, std::uint32_t detached, IPKIObject* key,
                                                 IPKIObject* certificate, void** signedData, const std::uint8_t* hash)
{
    try {
        return CreateSignedDataGOST34311(kOidData, content, hash, detached, key, certificate, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDetachedSignedDataGOST34311(IPKIObject* key, IPKIObject* certificate, void** signedData)
{
    try {
        if (!key || !signedData) return 0;
        ObjectRef message, last;
        if (!CreateSignedDataOfDataGOST34311(nullptr, 1, key, certificate, message.Out(), nullptr) || !message)
            return 0;
        PublicKey own;
        if (!LastSigner(message.As<IPKIObject>(), last) || !KeyObjectKey(key, own)) return 0;
        if (SignerInfo(last.As<IPKIObject>())
                ->SetPublicKey(own.key.bytes, own.length, own.parameters.As<IPKIObject>()) != PKI_OK)
            return 0;
        return HandOut(message, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetLastSignerValue(IPKIObject* signedData, std::uint32_t value)
{
    try {
        ObjectRef last;
        if (!LastSigner(signedData, last)) return 0;
        return SignerInfo(last.As<IPKIObject>())->SetNumericValue(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetLastSignerFlag(IPKIObject* signedData)
{
    try {
        ObjectRef last;
        if (!LastSigner(signedData, last)) return 0;
        return SignerInfo(last.As<IPKIObject>())->SetFlag(1) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashByCertificate(IPKIObject* signedData, IPKIObject* certificate, PKIBlob* hash)
{
    try {
        ObjectRef signer;
        if (!FindSignerByCertificate(signedData, certificate, signer.Out()) || !signer) return 0;
        return GetSignatureValueHash(signer.As<IPKIObject>(), certificate, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerTimeStampByCertificate(IPKIObject* signedData, IPKIObject* certificate, const PKIBlob* token)
{
    try {
        ObjectRef signer;
        if (!FindSignerByCertificate(signedData, certificate, signer.Out()) || !signer) return 0;
        return AddSignerTimeStamp(signer.As<IPKIObject>(), token);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerTimeStampByCertificateRSA(IPKIObject* signedData, IPKIObject* certificate,
                                                    const PKIBlob* token)
{
    try {
        if (!certificate) return 0;
        std::uint32_t kind = 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        if (c->GetKeyKind(&kind) != PKI_OK) return 0;
        if (kind == 2) return AddSignerTimeStampByCertificate(signedData, certificate, token);
        ObjectRef view;
        if (c->GetRSAView(view.Out()) != PKI_OK || !view) return 0;
        return AddSignerTimeStampByCertificate(signedData, view.As<IPKIObject>(), token);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::WrapSignedDataOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                  void** contentInfo)
{
    try {
        if (!formats_ || !signedData || !contentInfo) return 0;
        if (key && !SignLastSigner(family, signedData, key, certificate)) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* wrapper = info.As<IPKICMSContentInfo>();
        if (wrapper->SetContentType(kOidSignedData) != PKI_OK || wrapper->SetContentObject(signedData) != PKI_OK)
            return 0;
        return HandOut(info, contentInfo);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeContentInfoOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                     void** contentInfo, PKIBlob* encoded)
{
    try {
        if (!encoded) return 0;
        ObjectRef info;
        if (!WrapSignedDataOf(family, signedData, key, certificate, info.Out()) || !info) return 0;
        LibraryBlob bytes(formats_);
        if (info.As<IPKICMSContentInfo>()->Encode(&bytes.blob) != PKI_OK) return 0;
        if (!CopyOut(bytes.blob.data, bytes.blob.length, encoded)) return 0;
        if (contentInfo) HandOut(info, contentInfo);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeSignedDataOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                    PKIBlob* encoded)
{
    try {
        if (!formats_ || !signedData || !encoded) return 0;
        if (key && !SignLastSigner(family, signedData, key, certificate)) return 0;
        LibraryBlob bytes(formats_);
        if (Message(signedData)->Encode(&bytes.blob) != PKI_OK) return 0;
        return CopyOut(bytes.blob.data, bytes.blob.length, encoded);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignAndWrapSignedData(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                       void** contentInfo)
{
    return WrapSignedDataOf(0, signedData, key, certificate, contentInfo);
}

int SPKIFormats::SignAndEncodeContentInfo(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                          void** contentInfo, PKIBlob* encoded)
{
    return EncodeContentInfoOf(0, signedData, key, certificate, contentInfo, encoded);
}

int SPKIFormats::SignAndEncodeSignedData(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                         PKIBlob* encoded)
{
    return EncodeSignedDataOf(0, signedData, key, certificate, encoded);
}

namespace {

// Reads signer 0 of an opened message for the two readers below.
template <typename Facade>
int ReadSignerZero(Facade& facade, const PKIBlob* blob, std::uint32_t contentInfoForm, std::uint32_t* detached,
                   char* issuer, std::uint8_t* serial, SYSTEMTIME* signingTime, char* tokenSigner,
                   std::uint8_t* tokenSerial, SYSTEMTIME* tokenTime, void** signedData)
{
    ObjectRef message;
    std::uint32_t present = 0;
    if (!facade.OpenSignedData(blob, contentInfoForm, &present, message.Out()) || !message) return 0;
    bool wanted = issuer || serial || signingTime || tokenSigner || tokenSerial || tokenTime;
    if (wanted && !facade.GetSignerInfo(message.As<IPKIObject>(), 0, issuer, serial, signingTime, tokenSigner,
                                        tokenSerial, tokenTime))
        return 0;
    if (detached) *detached = present ? 0 : 1;
    if (signedData) HandOut(message, signedData);
    return 1;
}

}  // namespace

int SPKIFormats::ReadSignerInfoFromContentInfo(const PKIBlob* blob, std::uint32_t* detached, char* issuer,
                                               std::uint8_t* serial, SYSTEMTIME* signingTime, char* tokenSigner,
                                               std::uint8_t* tokenSerial, SYSTEMTIME* tokenTime, void** signedData)
{
    try {
        return ReadSignerZero(*this, blob, 1, detached, issuer, serial, signingTime, tokenSigner, tokenSerial,
                              tokenTime, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadSignerInfoFromSignedData(const PKIBlob* blob, std::uint32_t* detached, char* issuer,
                                              std::uint8_t* serial, SYSTEMTIME* signingTime, char* tokenSigner,
                                              std::uint8_t* tokenSerial, SYSTEMTIME* tokenTime, void** signedData)
{
    try {
        return ReadSignerZero(*this, blob, 0, detached, issuer, serial, signingTime, tokenSigner, tokenSerial,
                              tokenTime, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifySignerGOST34311(IPKIObject* signedData, std::int32_t index, const PKIBlob* data,
                                       IPKIObject* certificate, const std::uint8_t* hash)
{
    try {
        if (!formats_ || !signedData || !certificate) return 0;
        if (!HasKeyUsage(1, certificate) && !HasKeyUsage(2, certificate)) return 0;
        std::uint32_t present = 0;
        if (Message(signedData)->HasContent(&present) != PKI_OK) return 0;
        if (!hash && !data && !present) return 0;
        PublicKey own;
        if (!CertificateKey(certificate, own)) return 0;
        ObjectRef signer;
        if (index == -1) {
            if (!FindSignerByCertificate(signedData, certificate, signer.Out())) return 0;
        } else if (index < 0 ||
                   Message(signedData)->GetSigner(static_cast<std::uint32_t>(index), signer.Out()) != PKI_OK) {
            return 0;
        }
        if (!signer) return 0;
        auto* s = SignerInfo(signer.As<IPKIObject>());
        IPKIObject* parameters = own.parameters.As<IPKIObject>();
        if (s->UsesStandardAttributes()) {
            auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
            std::uint8_t serial[kSignerSerialBytes] = {};
            if (!GetTimeStampSignerId(signer.As<IPKIObject>(), signedData, issuer.get(), serial)) return 0;
            ObjectRef attribute;
            if (s->GetSigningCertificate(attribute.Out()) != PKI_OK ||
                !SigningCertificateMatches(attribute.As<IPKIObject>(), certificate, parameters, true, issuer.get(),
                                           serial))
                return 0;
        } else {
            std::uint32_t extensionPresent = 0;
            int rc = s->HasSignerExtension(&extensionPresent);
            if (rc != PKI_OK && rc != PKI_E_ABSENT) return 0;
            if (rc == PKI_OK && extensionPresent) {
                ObjectRef extension;
                if (s->GetSignerExtension(extension.Out()) != PKI_OK || !extension ||
                    extension.As<IPKISignerExtension>()->CheckPublicKey(own.key.bytes, own.length, parameters) !=
                        PKI_OK)
                    return 0;
            }
        }
        if (hash) return s->VerifyHashGOST34311(own.key.bytes, own.length, parameters, hash) == PKI_OK ? 1 : 0;
        if (!present) return s->VerifyData(own.key.bytes, own.length, parameters, data) == PKI_OK ? 1 : 0;
        LibraryBlob content(formats_);
        if (Message(signedData)->GetContent(&content.blob) != PKI_OK) return 0;
        // Data of the caller must be the message's own content: the
        // signature says nothing about other data.
        if (data && !Same(content.blob, data)) return 0;
        return s->VerifyData(own.key.bytes, own.length, parameters, &content.blob) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifySignerEnvelopedGOST34311(IPKIObject* signedData, std::int32_t index, IPKIObject* certificate)
{
    try {
        if (!formats_ || !signedData || !certificate) return 0;
        if (!HasKeyUsage(1, certificate) && !HasKeyUsage(2, certificate)) return 0;
        PublicKey own;
        if (!CertificateKey(certificate, own)) return 0;
        ObjectRef signer;
        if (index == -1) {
            if (!FindSignerByCertificate(signedData, certificate, signer.Out())) return 0;
        } else if (index < 0 ||
                   Message(signedData)->GetSigner(static_cast<std::uint32_t>(index), signer.Out()) != PKI_OK) {
            return 0;
        }
        if (!signer) return 0;
        auto* s = SignerInfo(signer.As<IPKIObject>());
        IPKIObject* parameters = own.parameters.As<IPKIObject>();
        if (s->UsesStandardAttributes()) {
            auto issuer = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
            std::uint8_t serial[kSignerSerialBytes] = {};
            if (!GetTimeStampSignerId(signer.As<IPKIObject>(), signedData, issuer.get(), serial)) return 0;
            ObjectRef attribute;
            if (s->GetSigningCertificate(attribute.Out()) != PKI_OK ||
                !SigningCertificateMatches(attribute.As<IPKIObject>(), certificate, parameters, true, issuer.get(),
                                           serial))
                return 0;
        }
        if (s->VerifyEncapsulated(own.key.bytes, own.length, parameters) != PKI_OK) return 0;
        return s->SetPublicKey(own.key.bytes, own.length, parameters) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetAllSignersValue(IPKIObject* signedData, std::uint32_t value)
{
    try {
        std::uint32_t count = 0;
        if (!signedData || Message(signedData)->GetSignerCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef signer;
            if (Message(signedData)->GetSigner(i, signer.Out()) != PKI_OK || !signer) return 0;
            auto* s = SignerInfo(signer.As<IPKIObject>());
            if (s->GetState() == 0 && s->SetNumericValue(value) != PKI_OK) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetAllSignersFlag(IPKIObject* signedData)
{
    try {
        std::uint32_t count = 0;
        if (!signedData || Message(signedData)->GetSignerCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef signer;
            if (Message(signedData)->GetSigner(i, signer.Out()) != PKI_OK || !signer) return 0;
            auto* s = SignerInfo(signer.As<IPKIObject>());
            if (s->GetState() != 0) continue;
            if (s->SetFlag(0) != PKI_OK || s->CompleteAfterFlag() != PKI_OK) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignedContent(IPKIObject* signedData, PKIBlob* content)
{
    try {
        if (!formats_ || !signedData || !content) return 0;
        std::uint32_t present = 0;
        if (Message(signedData)->HasContent(&present) != PKI_OK || !present) return 0;
        LibraryBlob bytes(formats_);
        if (Message(signedData)->GetContent(&bytes.blob) != PKI_OK) return 0;
        return CopyOut(bytes.blob.data, bytes.blob.length, content);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerGOST34311(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                    const PKIBlob* content, const std::uint8_t* hash)
{
    try {
        if (!formats_ || !signedData) return 0;
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
            if (!CreateSignerInfoDSTU4145(certificate, key, type, &own.blob, nullptr, signer.Out())) return 0;
        } else if (!CreateSignerInfoDSTU4145(certificate, key, type, content, hash, signer.Out())) {
            return 0;
        }
        return signer && m->AddSigner(signer.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerWithKeyGOST34311(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate)
{
    try {
        if (!key || !AddSignerGOST34311(signedData, key, certificate, nullptr, nullptr)) return 0;
        ObjectRef last;
        PublicKey own;
        if (!LastSigner(signedData, last) || !KeyObjectKey(key, own)) return 0;
        return SignerInfo(last.As<IPKIObject>())
                           ->SetPublicKey(own.key.bytes, own.length, own.parameters.As<IPKIObject>()) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenSignedData(const PKIBlob* blob, std::uint32_t contentInfoForm, std::uint32_t* contentPresent,
                                void** signedData)
{
    try {
        if (!formats_ || Empty(blob) || !signedData) return 0;
        ObjectRef message;
        if (contentInfoForm) {
            ObjectRef info;
            if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
            auto* wrapper = info.As<IPKICMSContentInfo>();
            LibraryBlob type(formats_);
            if (wrapper->Decode(blob) != PKI_OK || wrapper->GetContentType(&type.blob) != PKI_OK) return 0;
            if (type.blob.length != sizeof kOidSignedData - 1 || !type.blob.data ||
                std::memcmp(type.blob.data, kOidSignedData, type.blob.length) != 0)
                return 0;
            if (wrapper->GetContentObject(PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, message.Out()) != PKI_OK ||
                !message)
                return 0;
        } else {
            if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, message)) return 0;
            if (message.As<IPKISignedDataSigners>()->Decode(blob) != PKI_OK) return 0;
        }
        if (contentPresent && message.As<IPKISignedDataSigners>()->HasContent(contentPresent) != PKI_OK) return 0;
        return HandOut(message, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerInfo(IPKIObject* signedData, std::uint32_t index, char* issuer, std::uint8_t* serial,
                               SYSTEMTIME* signingTime, char* tokenSigner, std::uint8_t* tokenSerial,
                               SYSTEMTIME* tokenTime)
{
    try {
        if (!formats_ || !signedData) return 0;
        if (tokenSigner) tokenSigner[0] = 0;
        ObjectRef signer;
        if (Message(signedData)->GetSigner(index, signer.Out()) != PKI_OK || !signer) return 0;
        if (!GetSignerIdentifier(signer.As<IPKIObject>(), signedData, issuer, serial)) return 0;
        auto* s = SignerInfo(signer.As<IPKIObject>());
        int standard = s->UsesStandardAttributes();
        std::uint32_t kind = 0;
        if (s->GetKeyKind(&kind) != PKI_OK) return 0;
        bool dstu = kind == 1 && standard == 0;
        ObjectRef extension;
        if (dstu) {
            std::uint32_t present = 0;
            int rc = s->HasSignerExtension(&present);
            if (rc != PKI_OK && rc != PKI_E_ABSENT) return 0;
            if (rc == PKI_OK && present && (s->GetSignerExtension(extension.Out()) != PKI_OK || !extension)) return 0;
        }
        auto* dstuExtension = extension.As<IPKISignerExtension>();
        if (signingTime) {
            if (!dstu) {
                int rc = s->GetSigningTime(signingTime);
                if (rc == PKI_E_ABSENT)
                    GetSystemTime(signingTime);
                else if (rc != PKI_OK)
                    return 0;
            } else if (!dstuExtension || dstuExtension->GetSigningTime(signingTime) != PKI_OK) {
                return 0;
            }
        }
        std::uint32_t hasToken = 0;
        if (!dstu) {
            if (s->HasTimeStampToken(&hasToken) != PKI_OK) return 0;
        } else if (!dstuExtension) {
            return 1;  // no extension: no token signer
        } else if (dstuExtension->HasTimeStampToken(&hasToken) != PKI_OK) {
            return 0;
        }
        if (!hasToken || !(tokenSigner || tokenSerial || tokenTime)) return 1;
        std::uint8_t identifier[kSignerSerialBytes] = {};
        SYSTEMTIME time{};
        if (!dstu) {
            ObjectRef token, message;
            LibraryBlob encoded(formats_);
            if (s->GetTimeStampToken(token.Out()) != PKI_OK || !token ||
                token.As<IPKICMSContentInfo>()->Encode(&encoded.blob) != PKI_OK)
                return 0;
            if (!ReadSignerInfoFromContentInfo(&encoded.blob, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               nullptr, message.Out()) ||
                !message)
                return 0;
            auto text = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
            if (!GetSingleSignerIdentity(message.As<IPKIObject>(), text.get(), identifier)) return 0;
            if (!GetTimeStampInfoPartA(message.As<IPKIObject>(), &time)) return 0;
            if (tokenSigner) {
                std::size_t n = strnlen(text.get(), PKIF_NAME_TEXT_BYTES);
                if (n >= PKIF_NAME_TEXT_BYTES) return 0;
                std::memcpy(tokenSigner, text.get(), n + 1);
            }
        } else {
            auto wide = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_BUFFER_CHARS);
            if (dstuExtension->GetTimeStampSigner(wide.get(), PKI_SIGNER_NAME_BUFFER_CHARS, identifier, &time) !=
                PKI_OK)
                return 0;
            if (tokenSigner && !NarrowSignerName(formats_, wide.get(), tokenSigner, PKIF_NAME_TEXT_BYTES)) return 0;
        }
        if (tokenSerial) std::memcpy(tokenSerial, identifier, kSignerSerialBytes);
        if (tokenTime) *tokenTime = time;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignLastSignerEntryGOST34311(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                              std::uint32_t keepTime)
{
    try {
        return SignLastSignerWithKey(signedData, key, certificate, keepTime);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerEntryGOST34311(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate,
                                          std::uint32_t keepTime)
{
    try {
        return SignSignerWithKey(signer, key, certificate, keepTime);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignSignerAndEncodeGOST34311(IPKIObject* signer, IPKIObject* key, IPKIObject* certificate,
                                              std::uint32_t keepTime, PKIBlob* encoded)
{
    try {
        if (!formats_ || !signer || !encoded) return 0;
        if (key && !SignSignerWithKey(signer, key, certificate, keepTime)) return 0;
        LibraryBlob bytes(formats_);
        if (SignerInfo(signer)->EncodeSigner(&bytes.blob) != PKI_OK) return 0;
        return CopyOut(bytes.blob.data, bytes.blob.length, encoded);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddEmptySignerGOST34311(IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate)
{
    try {
        if (!formats_ || !signedData || !key) return 0;
        auto* m = Message(signedData);
        char type[kContentTypeBytes] = {};
        std::uint32_t length = kContentTypeBytes;
        if (m->GetContentType(type, &length) != PKI_OK || length >= kContentTypeBytes) return 0;
        type[length] = 0;
        ObjectRef signer;
        if (!CreateSignerInfoDSTU4145(certificate, key, type, nullptr, nullptr, signer.Out()) || !signer) return 0;
        if (m->AddSigner(signer.As<IPKIObject>()) != PKI_OK) return 0;
        PublicKey own;
        if (!KeyObjectKey(key, own)) return 0;
        return SignerInfo(signer.As<IPKIObject>())
                           ->SetPublicKey(own.key.bytes, own.length, own.parameters.As<IPKIObject>()) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}
