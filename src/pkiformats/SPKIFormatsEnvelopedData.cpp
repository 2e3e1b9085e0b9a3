// CMS enveloped data: built for DSTU 4145 key-agreement recipients, wrapped
// in and opened from a content info, and its recipients counted and read.
#include <cstring>
#include <memory>

#include "pkiformats/EnvelopedContent.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"

using namespace pkif;

// Kinds 8 and 9 set their cipher through interface 4264 without a
// parameter block; every other kind takes the block through slot 7.
int SPKIFormats::SetContentCipher(IPKIObject* envelopedData, std::uint32_t cipherKind, const std::uint32_t* parameters)
{
    try {
        if (!envelopedData) return 0;
        if (cipherKind == 8 || cipherKind == 9) {
            ObjectRef view;
            if (!QueryInto(envelopedData, PKI_IID_ENVELOPED_CIPHER, view)) return 0;
            return view.As<IPKIEnvelopedCipher>()->SetCipher(cipherKind, 0, 0) == PKI_OK ? 1 : 0;
        }
        if (!parameters) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->SetContentCipher(cipherKind, parameters, 0) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// With a sender key the key is prepared for the recipient's certificate
// (static form) and the recipient added by issuer and serial; without one
// the parameter block is standard S-box 0 of the CSP's parameters.
int SPKIFormats::BuildForRecipients(std::uint32_t cipherKind, IPKIObject* senderKey, IPKIObject* recipient,
                                    const PKIBlob* content, std::uint32_t signedContent, void** envelopedData)
{
    *envelopedData = nullptr;
    if (!formats_ || !recipient) return 0;
    Secret<kAgreementKeyBytes> key;
    std::uint32_t keyLength = 0, flag = 0;
    std::uint32_t parameters[kParameterWords] = {};
    ObjectRef keyObject;
    std::unique_ptr<wchar_t[]> issuer;
    LibraryBlob serial(formats_);
    if (senderKey) {
        auto* cert = static_cast<IPKICertificate*>(recipient);
        if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
        if (PrepareKeyAgreement(1, 0, senderKey, recipient, key.bytes, &keyLength, keyObject.Out(), parameters,
                                &flag) != 1)
            return 0;
    } else {
        GOST28147PackedSBox standard;
        if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &standard)) return 0;
        std::memcpy(parameters, &standard, sizeof parameters);
    }
    ObjectRef enveloped;
    if (!CreateInto(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, enveloped)) return 0;
    auto* e = enveloped.As<IPKIEnvelopedData>();
    if (e->SetInnerContentType(content && signedContent ? kOidSignedData : kOidData) != PKI_OK) return 0;
    if (senderKey) {
        int rc =
            e->AddAgreementRecipient(key.bytes, keyLength, 4, &serial.blob, issuer.get(), keyObject.As<IPKIObject>());
        key.Wipe();
        if (rc != PKI_OK) return 0;
    }
    if (e->SetPreparationFlag(flag) != PKI_OK || SetContentCipher(e, cipherKind, parameters) != 1) return 0;
    if (content && (e->SetContent(content) != PKI_OK || e->Encrypt() != PKI_OK || e->FinishContent() != PKI_OK))
        return 0;
    *envelopedData = enveloped.As<IPKIObject>();
    *enveloped.Out() = nullptr;
    return 1;
}

int SPKIFormats::EnvelopeForRecipientsDSTU4145(std::uint32_t cipherKind, const PKIBlob* content,
                                               std::uint32_t signedContent, IPKIObject* senderKey,
                                               IPKIObject* recipient, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        *envelopedData = nullptr;
        if (!formats_ || Empty(content)) return 0;
        // The content goes to the library as its own copy.
        LibraryBlob copy(formats_);
        if (formats_->AllocateBlob(&copy.blob, content->length) != PKI_OK || !copy.blob.data) return 0;
        std::memcpy(copy.blob.data, content->data, content->length);
        return BuildForRecipients(cipherKind, senderKey, recipient, &copy.blob, signedContent, envelopedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateEnvelopedDataForRecipients(std::uint32_t cipherKind, IPKIObject* senderKey,
                                                  IPKIObject* recipient, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        return BuildForRecipients(cipherKind, senderKey, recipient, nullptr, 0, envelopedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetEnvelopedContent(IPKIObject* envelopedData, const PKIBlob* content)
{
    try {
        if (!envelopedData || !content) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->SetContent(content) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncryptEnvelopedData(IPKIObject* envelopedData)
{
    try {
        if (!envelopedData) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->Encrypt() == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The recipient's public key (stored-key form) added under its issuer and
// serial (kind 4, last argument 1).
int SPKIFormats::AddRecipientByIssuerSerial(IPKIObject* envelopedData, IPKIObject* certificate)
{
    Secret<kAgreementKeyBytes> key;
    try {
        if (!formats_ || !envelopedData || !certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::unique_ptr<wchar_t[]> issuer;
        LibraryBlob serial(formats_);
        if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
        std::uint32_t keyLength = 0;
        ObjectRef keyObject;
        if (PrepareRecipientKey(1, certificate, key.bytes, &keyLength, keyObject.Out(), nullptr) != 1) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)
                           ->AddRecipientByIdentifier(4, issuer.get(), &serial.blob, nullptr, key.bytes, keyLength,
                                                      keyObject.As<IPKIObject>(), 1) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeEnvelopedDataAsContentInfo(IPKIObject* envelopedData, PKIBlob* encoded)
{
    try {
        if (!formats_ || !envelopedData || !encoded) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* ci = info.As<IPKICMSContentInfo>();
        LibraryBlob out(formats_);
        if (ci->SetContentType(kOidEnvelopedData) != PKI_OK || ci->SetContentObject(envelopedData) != PKI_OK ||
            ci->Encode(&out.blob) != PKI_OK || !out.blob.data)
            return 0;
        *encoded = out.blob;
        out.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

// The content type must be the enveloped-data OID over all 21 bytes with
// its terminator.
int SPKIFormats::OpenEnvelopedData(const PKIBlob* encoded, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        *envelopedData = nullptr;
        if (!formats_ || Empty(encoded)) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* ci = info.As<IPKICMSContentInfo>();
        LibraryBlob type(formats_);
        if (ci->Decode(encoded) != PKI_OK || ci->GetContentType(&type.blob) != PKI_OK || !type.blob.data) return 0;
        if (type.blob.length != sizeof kOidEnvelopedData - 1 ||
            std::memcmp(type.blob.data, kOidEnvelopedData, sizeof kOidEnvelopedData - 1) != 0)
            return 0;
        ObjectRef inner;
        if (ci->GetContentObject(PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, inner.Out()) != PKI_OK || !inner)
            return 0;
        *envelopedData = inner.As<IPKIObject>();
        *inner.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The index runs across all key-agreement groups. Issuer texts:
// PKIF_NAME_TEXT_BYTES (refused and left empty when longer); serials 20
// bytes; key identifiers 32; the originator's key 76 bytes.
int SPKIFormats::GetRecipientByIndex(IPKIObject* envelopedData, std::uint32_t index, std::uint32_t* kind, char* issuer,
                                     std::uint8_t* serial, std::uint8_t* keyIdentifier)
{
    return GetRecipientByIndexFull(envelopedData, index, kind, issuer, serial, keyIdentifier, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr);
}

// The originator's extra value is read as the originator look-up of the
// signer operations reads it: for kind 1 from library version 267 on, else 0.
int SPKIFormats::GetRecipientByIndexFull(IPKIObject* envelopedData, std::uint32_t index, std::uint32_t* kind,
                                         char* issuer, std::uint8_t* serial, std::uint8_t* keyIdentifier,
                                         std::uint32_t* originatorKind, std::uint32_t* originatorExtra,
                                         char* originatorIssuer, std::uint8_t* originatorSerial,
                                         std::uint8_t* originatorKeyIdentifier, std::uint8_t* originatorKey,
                                         std::uint32_t* originatorKeyLength)
{
    // The texts may be written before a later read fails: a failure leaves
    // both empty.
    struct ClearedUnlessRead {
        char* a;
        char* b;
        bool read = false;
        ~ClearedUnlessRead()
        {
            if (read) return;
            if (a) a[0] = 0;
            if (b) b[0] = 0;
        }
    } texts{issuer, originatorIssuer};
    try {
        if (issuer) issuer[0] = 0;
        if (originatorIssuer) originatorIssuer[0] = 0;
        if (!formats_ || !envelopedData || !kind) return 0;
        auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
        std::uint32_t groups = 0;
        if (e->GetAgreementGroupCount(&groups) != PKI_OK) return 0;
        for (std::uint32_t g = 0; g < groups; ++g) {
            ObjectRef group;
            std::uint32_t entries = 0;
            if (e->GetAgreementGroup(g, group.Out()) != PKI_OK || !group) return 0;
            auto* ag = group.As<IPKIAgreementGroup>();
            if (ag->GetEntryCount(&entries) != PKI_OK) return 0;
            if (index >= entries) {
                index -= entries;
                continue;
            }
            auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
            std::uint32_t length = kWideNameChars, entryKind = 0;
            std::uint8_t serialBytes[20] = {}, identifier[32] = {};
            if (ag->GetEntry(index, &entryKind, wide.get(), &length, serialBytes, identifier) != PKI_OK) return 0;
            if (entryKind == 1) {
                if (length >= kWideNameChars) return 0;
                wide[length] = 0;
                if (!IssuerToText(formats_, wide.get(), issuer)) return 0;
                if (serial) std::memcpy(serial, serialBytes, 20);
            } else if (entryKind == 2) {
                if (keyIdentifier) std::memcpy(keyIdentifier, identifier, 32);
            } else {
                return 0;
            }
            if (originatorKind || originatorExtra || originatorIssuer || originatorSerial || originatorKeyIdentifier ||
                originatorKey || originatorKeyLength) {
                std::uint32_t form = 0, extra = 0, keyLength = 0;
                std::uint8_t key[kAgreementKeyBytes] = {};
                length = kWideNameChars;
                if (ag->GetOriginator(&form, wide.get(), &length, serialBytes, identifier, key, &keyLength) != PKI_OK)
                    return 0;
                if (form == 1) {
                    if (length >= kWideNameChars) return 0;
                    wide[length] = 0;
                    std::uint32_t version = 0;
                    if (formats_->GetVersion(&version) != PKI_OK) return 0;
                    if (version >= 267 && ag->GetOriginatorExtra(&extra) != PKI_OK) return 0;
                    if (!IssuerToText(formats_, wide.get(), originatorIssuer)) return 0;
                    if (originatorSerial) std::memcpy(originatorSerial, serialBytes, 20);
                } else if (form == 2) {
                    if (originatorKeyIdentifier) std::memcpy(originatorKeyIdentifier, identifier, 32);
                } else if (form == 3) {
                    if (keyLength > kAgreementKeyBytes) return 0;
                    if (originatorKey) std::memcpy(originatorKey, key, kAgreementKeyBytes);
                    if (originatorKeyLength) *originatorKeyLength = keyLength;
                } else {
                    return 0;
                }
                if (originatorExtra) *originatorExtra = extra;
                if (originatorKind) *originatorKind = form;
            }
            *kind = entryKind;
            texts.read = true;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

// Each value given must equal the certificate's own: the issuer-style name
// (slot 9) as text, the 20-byte serial, the 32-byte key identifier; a
// certificate whose name cannot be read is skipped. The first match is
// handed out when `found` is given. 1 found, 0 none or a failed walk.
int SPKIFormats::FindCertificateByIdentity(IPKIObject* collection, const char* name, const std::uint8_t* serial,
                                           const std::uint8_t* keyIdentifier, void** found)
{
    try {
        if (found) *found = nullptr;
        if (!formats_ || !collection) return 0;
        auto* c = static_cast<IPKICertificateCollection*>(collection);
        std::uint32_t count = 0;
        if (c->GetObjectCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef object;
            if (c->GetObject(i, object.Out()) != PKI_OK || !object) return 0;
            auto* cert = object.As<IPKICertificate>();
            std::string text;
            if (!IssuerText(formats_, cert, text)) continue;
            if (name && text != name) continue;
            if (serial) {
                LibraryBlob number(formats_);
                std::uint8_t own[20];
                if (cert->GetSerial(&number.blob) != PKI_OK || !Serial20(number.blob, own) ||
                    std::memcmp(own, serial, 20) != 0)
                    continue;
            }
            if (keyIdentifier) {
                std::uint8_t own[32];
                if (!SubjectKeyIdentifier32(cert, own) || std::memcmp(own, keyIdentifier, 32) != 0) continue;
            }
            if (found) {
                *found = object.As<IPKIObject>();
                *object.Out() = nullptr;
            }
            return 1;
        }
        return 0;
    } catch (...) {
        if (found && *found) {
            static_cast<IPKIObject*>(*found)->Release();
            *found = nullptr;
        }
        return 0;
    }
}

// The originator look-up is the signer operations' own, reached through the
// interface; while it is still a placeholder (taking none of these
// arguments) it answers 0.
int SPKIFormats::FindRecipientOriginatorEntry(IPKIObject* envelopedData, IPKIObject* certificate, std::uint32_t* form,
                                              std::uint32_t* extra, char* issuer, std::uint8_t* serial,
                                              std::uint8_t* keyIdentifier, std::uint8_t* key, std::uint32_t* keyLength,
                                              void** originatorCertificate)
{
    try {
        return FindRecipientOriginator(envelopedData, certificate, form, extra, issuer, serial, keyIdentifier, key,
                                       keyLength, originatorCertificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CallObjectOperation13(IPKIObject* envelopedData, PKIBlob* content)
{
    try {
        if (!envelopedData || !content) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->DecryptContent(content) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CallObjectOperation14(IPKIObject* envelopedData)
{
    try {
        if (!envelopedData) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->FinishDecryption() == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CallObjectOperation48(IPKIObject* envelopedData)
{
    try {
        if (!envelopedData) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)->Operation48() == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The entries of all key-agreement groups; 0 on any failed read.
int SPKIFormats::CountRecipients(IPKIObject* envelopedData, std::uint32_t* count)
{
    try {
        if (count) *count = 0;
        if (!envelopedData || !count) return 0;
        auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
        std::uint32_t groups = 0, total = 0;
        if (e->GetAgreementGroupCount(&groups) != PKI_OK) return 0;
        for (std::uint32_t g = 0; g < groups; ++g) {
            ObjectRef group;
            std::uint32_t entries = 0;
            if (e->GetAgreementGroup(g, group.Out()) != PKI_OK || !group ||
                group.As<IPKIAgreementGroup>()->GetEntryCount(&entries) != PKI_OK)
                return 0;
            total += entries;
        }
        *count = total;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Ephemeral-form recipients ----

// The key prepared for the recipient's certificate (ephemeral form) set as
// the originator's agreement material and its parameter block.
int SPKIFormats::BuildForRecipient(IPKIObject* senderKey, IPKIObject* recipient, const PKIBlob* content,
                                   std::uint32_t signedContent, void** envelopedData)
{
    *envelopedData = nullptr;
    if (!formats_ || !senderKey || !recipient) return 0;
    auto* cert = static_cast<IPKICertificate*>(recipient);
    std::unique_ptr<wchar_t[]> issuer;
    LibraryBlob serial(formats_);
    if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
    Secret<kAgreementKeyBytes> key;
    std::uint32_t keyLength = 0, flag = 0;
    std::uint32_t parameters[kParameterWords] = {};
    ObjectRef keyObject;
    if (PrepareKeyAgreement(0, 0, senderKey, recipient, key.bytes, &keyLength, keyObject.Out(), parameters, &flag) != 1)
        return 0;
    ObjectRef enveloped;
    if (!CreateInto(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, enveloped)) return 0;
    auto* e = enveloped.As<IPKIEnvelopedData>();
    if (e->SetInnerContentType(content && signedContent ? kOidSignedData : kOidData) != PKI_OK) return 0;
    int rc = e->SetOriginatorMaterial(issuer.get(), &serial.blob, key.bytes, keyLength, keyObject.As<IPKIObject>(),
                                      parameters);
    key.Wipe();
    if (rc != PKI_OK || e->SetParameters(parameters, 0) != PKI_OK) return 0;
    if (content && (e->SetContent(content) != PKI_OK || e->Encrypt() != PKI_OK || e->FinishContent() != PKI_OK))
        return 0;
    *envelopedData = enveloped.As<IPKIObject>();
    *enveloped.Out() = nullptr;
    return 1;
}

// A signed message goes in as a copy; plain content wrapped as Data.
int SPKIFormats::EnvelopeForRecipientDSTU4145(const PKIBlob* content, std::uint32_t signedContent,
                                              IPKIObject* senderKey, IPKIObject* recipient, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        *envelopedData = nullptr;
        if (!formats_ || Empty(content)) return 0;
        LibraryBlob inner(formats_);
        if (signedContent) {
            if (formats_->AllocateBlob(&inner.blob, content->length) != PKI_OK || !inner.blob.data) return 0;
            std::memcpy(inner.blob.data, content->data, content->length);
        } else {
            ObjectRef data;
            if (!CreateInto(formats_, PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT, data)) return 0;
            if (data.As<IPKIDataContent>()->SetOctets(content) != PKI_OK ||
                data.As<IPKIDataContent>()->Encode(&inner.blob) != PKI_OK || !inner.blob.data)
                return 0;
        }
        return BuildForRecipient(senderKey, recipient, &inner.blob, signedContent, envelopedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateEnvelopedDataForRecipient(IPKIObject* senderKey, IPKIObject* recipient, void** envelopedData)
{
    try {
        if (!envelopedData) return 0;
        return BuildForRecipient(senderKey, recipient, nullptr, 0, envelopedData);
    } catch (...) {
        return 0;
    }
}

// The recipient's key in the plain form with its parameter block.
int SPKIFormats::AddRecipientFromKeyAgreement(IPKIObject* envelopedData, IPKIObject* certificate)
{
    Secret<kAgreementKeyBytes> key;
    try {
        if (!formats_ || !envelopedData || !certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::unique_ptr<wchar_t[]> issuer;
        LibraryBlob serial(formats_);
        if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
        std::uint32_t keyLength = 0, parameters[kParameterWords] = {};
        ObjectRef keyObject;
        if (PrepareRecipientKey(0, certificate, key.bytes, &keyLength, keyObject.Out(), parameters) != 1) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)
                           ->AddRecipientFromKey(issuer.get(), &serial.blob, key.bytes, keyLength,
                                                 keyObject.As<IPKIObject>(), parameters) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// Kind 1 (issuer and serial) goes to the library as 4; the stored key's
// recipient takes the last argument 0 (only the issuer-and-serial form asks
// for 1).
int SPKIFormats::AddRecipientWithKeyIdentifier(IPKIObject* envelopedData, IPKIObject* certificate, std::uint32_t kind)
{
    Secret<kAgreementKeyBytes> key;
    try {
        if (!formats_ || !envelopedData || !certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::uint8_t keyIdentifier[32] = {};
        std::unique_ptr<wchar_t[]> issuer;
        LibraryBlob serial(formats_);
        if (!SubjectKeyIdentifier32(cert, keyIdentifier) || !IssuerWide(cert, issuer) ||
            cert->GetSerial(&serial.blob) != PKI_OK)
            return 0;
        std::uint32_t keyLength = 0;
        ObjectRef keyObject;
        if (PrepareRecipientKey(1, certificate, key.bytes, &keyLength, keyObject.Out(), nullptr) != 1) return 0;
        return static_cast<IPKIEnvelopedData*>(envelopedData)
                           ->AddRecipientByIdentifier(kind == 1 ? 4 : kind, issuer.get(), &serial.blob, keyIdentifier,
                                                      key.bytes, keyLength, keyObject.As<IPKIObject>(), 0) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// The group whose entry names the certificate (kind 1, same issuer, same
// 20-byte serial) gives its originator, which must be named by issuer and
// serial. Issuer: PKIF_NAME_TEXT_BYTES (refused and left empty when
// longer); serial: 20 bytes.
int SPKIFormats::GetOriginatorForRecipient(IPKIObject* envelopedData, IPKIObject* certificate, char* issuer,
                                           std::uint8_t* serial)
{
    try {
        if (issuer) issuer[0] = 0;
        if (!formats_ || !envelopedData || !certificate) return 0;
        if (HasKeyUsage(16, certificate) != 1) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::unique_ptr<wchar_t[]> own;
        LibraryBlob number(formats_);
        std::uint8_t ownSerial[20];
        if (!IssuerWide(cert, own) || cert->GetSerial(&number.blob) != PKI_OK || !Serial20(number.blob, ownSerial))
            return 0;
        auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
        std::uint32_t groups = 0;
        if (e->GetAgreementGroupCount(&groups) != PKI_OK) return 0;
        auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
        for (std::uint32_t g = 0; g < groups; ++g) {
            ObjectRef group;
            std::uint32_t entries = 0;
            if (e->GetAgreementGroup(g, group.Out()) != PKI_OK || !group) return 0;
            auto* ag = group.As<IPKIAgreementGroup>();
            if (ag->GetEntryCount(&entries) != PKI_OK) return 0;
            for (std::uint32_t i = 0; i < entries; ++i) {
                std::uint32_t kind = 0, length = kWideNameChars;
                std::uint8_t entrySerial[20] = {}, identifier[32];
                if (ag->GetEntry(i, &kind, wide.get(), &length, entrySerial, identifier) != PKI_OK) return 0;
                if (kind != 1 || length >= kWideNameChars) continue;
                wide[length] = 0;
                if (std::wcscmp(wide.get(), own.get()) != 0 || std::memcmp(entrySerial, ownSerial, 20) != 0) continue;
                std::uint8_t originatorSerial[20] = {}, key[kAgreementKeyBytes];
                std::uint32_t keyLength = 0;
                length = kWideNameChars;
                if (ag->GetOriginator(&kind, wide.get(), &length, originatorSerial, identifier, key, &keyLength) !=
                        PKI_OK ||
                    kind != 1 || length >= kWideNameChars)
                    return 0;
                wide[length] = 0;
                if (!IssuerToText(formats_, wide.get(), issuer)) return 0;
                if (serial) std::memcpy(serial, originatorSerial, 20);
                return 1;
            }
        }
        return 0;
    } catch (...) {
        if (issuer) issuer[0] = 0;
        return 0;
    }
}

// ---- Opening for a key-agreement recipient ----

// The own key prepared against the originator's certificate; the peer's key
// from the recipient certificate, or the caller's 76 bytes in the static
// form. The content is decrypted, and a Data content unwrapped to its
// octets. dataOnly refuses a signed message.
int SPKIFormats::OpenAgreement(bool staticForm, bool dataOnly, IPKIObject* envelopedData, IPKIObject* ownKey,
                               IPKIObject* originator, IPKIObject* recipient, const std::uint8_t* peerKey,
                               std::uint32_t peerKeyLength, std::uint32_t* signedContent, PKIBlob* content)
{
    if (!formats_ || !envelopedData || !ownKey || !originator || !content) return 0;
    if (!recipient && (!peerKey || peerKeyLength > kAgreementKeyBytes)) return 0;
    Secret<kAgreementKeyBytes> key, peer;
    std::uint32_t keyLength = 0, peerLength = 0, flag = 0, parameters[kParameterWords] = {};
    ObjectRef keyObject, peerObject;
    auto* cert = static_cast<IPKICertificate*>(originator);
    std::unique_ptr<wchar_t[]> issuer;
    LibraryBlob serial(formats_);
    if (!IssuerWide(cert, issuer) || cert->GetSerial(&serial.blob) != PKI_OK) return 0;
    if (PrepareKeyAgreement(staticForm ? 1 : 0, 0, ownKey, originator, key.bytes, &keyLength, keyObject.Out(),
                            parameters, &flag) != 1)
        return 0;
    if (recipient) {
        if (PrepareRecipientKey(0, recipient, peer.bytes, &peerLength, peerObject.Out(), nullptr) != 1) return 0;
    } else {
        std::memcpy(peer.bytes, peerKey, peerKeyLength);
        peerLength = peerKeyLength;
    }
    auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
    LibraryBlob decrypted(formats_);
    char type[kContentTypeBytes];
    if (e->GetEncryptedContent(&decrypted.blob) != PKI_OK) return 0;
    int rc = staticForm ? e->SetUpStaticDecryption(&decrypted.blob, key.bytes, keyLength, keyObject.As<IPKIObject>(),
                                                   peer.bytes, peerLength, parameters)
                        : e->SetUpDecryption(&decrypted.blob, key.bytes, keyLength, keyObject.As<IPKIObject>(),
                                             peer.bytes, peerLength, parameters);
    key.Wipe();
    peer.Wipe();
    if (rc != PKI_OK || e->DecryptContent(&decrypted.blob) != PKI_OK || e->FinishDecryption() != PKI_OK ||
        !ReadInnerType(e, type))
        return 0;
    if (SameType(type, kOidSignedData) && !dataOnly) {
        if (signedContent) *signedContent = 1;
        *content = decrypted.blob;
        decrypted.blob = PKIBlob{0, nullptr};
        return 1;
    }
    if (!SameType(type, kOidData)) return 0;
    ObjectRef data;
    LibraryBlob octets(formats_);
    if (!CreateInto(formats_, PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT, data) ||
        data.As<IPKIDataContent>()->Decode(&decrypted.blob) != PKI_OK ||
        data.As<IPKIDataContent>()->GetOctets(&octets.blob) != PKI_OK)
        return 0;
    if (signedContent) *signedContent = 0;
    *content = octets.blob;
    octets.blob = PKIBlob{0, nullptr};
    return 1;
}

int SPKIFormats::OpenEnvelopedForRecipient(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* originator,
                                           IPKIObject* recipient, std::uint32_t* signedContent, PKIBlob* content)
{
    try {
        if (!recipient || !signedContent) return 0;
        return OpenAgreement(false, false, envelopedData, ownKey, originator, recipient, nullptr, 0, signedContent,
                             content);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenEnvelopedForRecipientStatic(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* originator,
                                                 IPKIObject* recipient, const std::uint8_t* peerKey,
                                                 std::uint32_t peerKeyLength, std::uint32_t* signedContent,
                                                 PKIBlob* content)
{
    try {
        if (!signedContent) return 0;
        return OpenAgreement(true, false, envelopedData, ownKey, originator, recipient, peerKey, peerKeyLength,
                             signedContent, content);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenEnvelopedDataOnly(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* originator,
                                       IPKIObject* recipient, PKIBlob* content)
{
    try {
        if (!recipient) return 0;
        return OpenAgreement(false, true, envelopedData, ownKey, originator, recipient, nullptr, 0, nullptr, content);
    } catch (...) {
        return 0;
    }
}

// The static form for one recipient: the recipient's certificate, or the
// caller's 76-byte key of that recipient; only Data is accepted.
int SPKIFormats::OpenEnvelopedForRecipientEntry(IPKIObject* envelopedData, IPKIObject* ownKey, IPKIObject* originator,
                                                IPKIObject* recipient, const std::uint8_t* peerKey,
                                                std::uint32_t peerKeyLength, PKIBlob* content)
{
    try {
        return OpenAgreement(true, true, envelopedData, ownKey, originator, recipient, peerKey, peerKeyLength, nullptr,
                             content);
    } catch (...) {
        return 0;
    }
}

// A recipient's own identity only: the originator is not read.
int SPKIFormats::ForwardToOperation190(IPKIObject* envelopedData, std::uint32_t index, std::uint32_t* kind,
                                       char* issuer, std::uint8_t* serial, std::uint8_t* keyIdentifier)
{
    try {
        return GetRecipientByIndexFull(envelopedData, index, kind, issuer, serial, keyIdentifier, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    } catch (...) {
        return 0;
    }
}
