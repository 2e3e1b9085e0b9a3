// Content types of content information, the certificates and version of a
// message, and the recipients that belong to a certificate: added, removed,
// and given the key-agreement value or the provider context of a key.
#include <cstring>
#include <cwchar>
#include <string>

#include "pkiformats/EnvelopedContent.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignerIdentity.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

const char kData[] = "1.2.840.113549.1.7.1";
const char kSignedData[] = "1.2.840.113549.1.7.2";
// Padding of the block formats ends in its own length, at most one block.
constexpr std::uint32_t kMaxPadding = 16;
constexpr std::uint32_t kKeyTransport = 1, kKeyAgreement = 2;
constexpr std::uint32_t kKeyAgreementUsage = 16;

IPKIContentInfoForms* Content(IPKIObject* o)
{
    return static_cast<IPKIContentInfoForms*>(o);
}

IPKIEnvelopedRecipients* Recipients(IPKIObject* o)
{
    return static_cast<IPKIEnvelopedRecipients*>(o);
}

// The content type as text (up to its terminator).
bool ContentType(IPKIInterface* formats, IPKIContentInfoForms* content, std::string& type)
{
    LibraryBlob oid(formats);
    if (content->GetContentTypeText(&oid.blob) != PKI_OK || !oid.blob.data) return false;
    type.assign(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length);
    type = type.c_str();
    return true;
}

// Issuer, serial and 32-byte key identifier of a certificate.
struct RecipientIdentity {
    Identity id;
    std::uint8_t keyIdentifier[32] = {};
    bool Read(IPKIInterface* formats, IPKICertificate* certificate)
    {
        return CertificateIdentity(formats, certificate, id) && SubjectKeyIdentifier32(certificate, keyIdentifier);
    }
    bool Matches(PKIRecipientIdentifier& r) const
    {
        r.name[PKI_SIGNER_NAME_CHARS - 1] = 0;
        if (r.form == 1)
            return std::wcscmp(r.name, id.name.get()) == 0 && std::memcmp(r.serial, id.serial, kSerialBytes) == 0;
        if (r.form == 2) return std::memcmp(r.keyIdentifier, keyIdentifier, 32) == 0;
        return false;
    }
};

}  // namespace

int SPKIFormats::SetContentCertificates(IPKIObject* signedData, IPKIObject* list)
{
    try {
        if (!signedData || !VersionAtLeast(formats_, 270)) return 0;
        return static_cast<IPKISignedDataSigners*>(signedData)->SetCertificates(list) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ParseContentInfoType(IPKIObject* contentInfo, const PKIBlob* encoded, std::uint32_t* isSigned,
                                      PKIBlob* out)
{
    try {
        if (!contentInfo || Empty(encoded) || !isSigned || !out || out->data || !formats_) return 0;
        if (!VersionAtLeast(formats_, 270)) return 0;
        auto* c = Content(contentInfo);
        std::uint32_t kind = 0;
        if (c->Open(encoded) != PKI_OK || c->GetFormatKind(&kind) != PKI_OK) return 0;
        LibraryBlob content(formats_);  // freed through the library unless handed out
        if (c->Load(encoded) != PKI_OK || c->GetContentBlob(&content.blob) != PKI_OK) return 0;
        if (kind >= 4 && kind <= 7) {
            if (!content.blob.data || content.blob.length == 0) return 0;
            const std::uint32_t padding = content.blob.data[content.blob.length - 1];
            if (padding > kMaxPadding || padding > content.blob.length) return 0;
            // The padding is wiped before the shorter length hides it.
            std::memset(content.blob.data + content.blob.length - padding, 0, padding);
            content.blob.length -= padding;
        }
        std::string type;
        if (!ContentType(formats_, c, type)) return 0;
        std::uint32_t signedFlag = 0;
        if (type == kSignedData) {
            signedFlag = 1;
        } else if (type != kData) {
            return 0;
        } else if (kind == 3) {
            ObjectRef plain;
            if (!CreateInto(formats_, PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT, plain)) return 0;
            LibraryBlob moved(formats_);
            if (plain.As<IPKIDataContent>()->Decode(&content.blob) != PKI_OK ||
                plain.As<IPKIDataContent>()->GetOctets(&moved.blob) != PKI_OK)
                return 0;
            std::swap(content.blob, moved.blob);
        }
        *isSigned = signedFlag;
        *out = content.blob;
        content.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::IsDataOrSignedContent(IPKIObject* contentInfo, const PKIBlob* encoded)
{
    try {
        if (!contentInfo || Empty(encoded) || !VersionAtLeast(formats_, 270)) return 0;
        if (Content(contentInfo)->Load(encoded) != PKI_OK) return 0;
        std::string type;
        if (!ContentType(formats_, Content(contentInfo), type)) return 0;
        return type == kData || type == kSignedData ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDataContent(void** object)
{
    try {
        if (!object) return 0;
        *object = nullptr;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, made)) return 0;
        if (made.As<IPKIEnvelopedContentType>()->SetContentType(kData) != PKI_OK) return 0;
        *object = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetContentVersion(IPKIObject* object, std::uint32_t value)
{
    try {
        if (!object || !VersionAtLeast(formats_, 270)) return 0;
        return Content(object)->SetVersionNumber(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddRecipientOfCertificate(IPKIObject* builder, IPKIObject* certificate, std::uint32_t value)
{
    try {
        if (!builder || !VersionAtLeast(formats_, 270)) return 0;
        if (!certificate) return Recipients(builder)->AddRecipient(nullptr, nullptr, nullptr, value) == PKI_OK ? 1 : 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        auto name = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_CHARS);
        std::uint32_t length = PKI_SIGNER_NAME_CHARS;
        if (c->GetIssuerText(name.get(), &length) != PKI_OK || length >= PKI_SIGNER_NAME_CHARS) return 0;
        name[length] = 0;
        LibraryBlob serial(formats_);
        std::uint8_t keyIdentifier[32] = {};
        if (c->GetSerial(&serial.blob) != PKI_OK || !SubjectKeyIdentifier32(c, keyIdentifier)) return 0;
        return Recipients(builder)->AddRecipient(name.get(), &serial.blob, keyIdentifier, value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::RemoveRecipientsOfCertificate(IPKIObject* envelopedData, IPKIObject* certificate, std::uint32_t* count)
{
    try {
        if (count) *count = 0;
        if (!envelopedData || !certificate) return 0;
        RecipientIdentity own;
        if (!own.Read(formats_, static_cast<IPKICertificate*>(certificate))) return 0;
        auto* e = Recipients(envelopedData);
        std::uint32_t total = 0, removed = 0;
        if (e->GetRecipientCount(&total) != PKI_OK) return 0;
        auto r = std::make_unique<PKIRecipientIdentifier>();
        for (std::uint32_t i = 0; i < total;) {
            std::uint32_t kind = 0;
            ObjectRef entry;
            if (e->GetRecipientEntry(i, &kind, entry.Out()) != PKI_OK || !entry) return 0;
            bool entryRemoved = false;
            if (kind == kKeyTransport) {
                ObjectRef identifier;
                if (entry.As<IPKIRecipientEntry>()->GetTransportIdentifier(identifier.Out()) != PKI_OK || !identifier)
                    return 0;
                std::memset(r.get(), 0, sizeof *r);
                if (identifier.As<IPKIRecipientEntry>()->ReadIdentifier(r.get()) != PKI_OK) return 0;
                if (own.Matches(*r)) {
                    if (e->RemoveRecipient(i) != PKI_OK) return 0;
                    entryRemoved = true;
                    ++removed;
                }
            } else if (kind == kKeyAgreement) {
                ObjectRef agreement;
                if (e->GetAgreementEntry(i, agreement.Out()) != PKI_OK || !agreement) return 0;
                auto* a = agreement.As<IPKIRecipientEntry>();
                std::uint32_t keys = 0;
                if (a->GetKeyCount(&keys) != PKI_OK) return 0;
                for (std::uint32_t j = 0; j < keys; ++j) {
                    std::memset(r.get(), 0, sizeof *r);
                    if (a->GetKey(j, r.get()) != PKI_OK) return 0;
                    if (!own.Matches(*r)) continue;
                    // The entry's only key takes the entry with it; one of
                    // several leaves the entry, and the walk goes on with the
                    // next entry.
                    if (keys == 1) {
                        if (e->RemoveRecipient(i) != PKI_OK) return 0;
                        entryRemoved = true;
                    } else if (a->RemoveKey(j) != PKI_OK) {
                        return 0;
                    }
                    ++removed;
                    break;
                }
            }
            if (entryRemoved)
                --total;
            else
                ++i;
        }
        if (count) *count = removed;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetRecipientAgreementKey(IPKIObject* entry, IPKIObject* keyArgument, CSPContextHolder* holder,
                                          IPKIObject* certificate)
{
    try {
        Secret<kAgreementKeyBytes> value;
        if (!entry || !certificate) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        ObjectRef inner;
        int rc = c->GetInnerCertificate(inner.Out());
        if (rc == PKI_OK && inner) c = inner.As<IPKICertificate>();
        auto name = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_CHARS);
        std::uint32_t length = PKI_SIGNER_NAME_CHARS;
        if (c->GetIssuerText(name.get(), &length) != PKI_OK || length >= PKI_SIGNER_NAME_CHARS) return 0;
        name[length] = 0;
        LibraryBlob serial(formats_);
        if (c->GetSerial(&serial.blob) != PKI_OK) return 0;
        // The key-agreement value of a key argument comes from the key
        // preparation, which is not offered here yet.
        if (keyArgument) return 0;
        if (holder && holder->usable) {
            std::uint8_t publicKey[76] = {};
            std::uint32_t keyLength = 0;
            ObjectRef parameters;
            if (c->GetDSTU4145PublicKey(publicKey, &keyLength, parameters.Out()) != PKI_OK || !parameters) return 0;
            bool hasContext = false;
            for (std::size_t i = 0; i < sizeof holder->context; ++i)
                hasContext |= reinterpret_cast<const std::uint8_t*>(&holder->context)[i] != 0;
            hasContext = hasContext && holder->contextPresent;
            ObjectRef view;
            if (QueryInto(parameters.As<IPKIObject>(), PKI_IID_KEY_CONTEXT_DSTU4145, view)) {
                auto* k = view.As<IPKIKeyContextDSTU4145>();
                const std::uint32_t flags = k->GetContextFlags();
                if (k->SetContextFlags(holder->contextFlags) != PKI_OK) return 0;
                if (hasContext && k->SetContext(&holder->context, flags & holder->contextFlags) != PKI_OK) return 0;
            } else if (hasContext && !holder->useOwnContext) {
                return 0;
            }
        }
        return static_cast<IPKIRecipientEntry*>(entry)->SetAgreementKey(value.bytes, 0, 4, name.get(), &serial.blob) ==
                       PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindRecipientOriginator(IPKIObject* envelopedData, IPKIObject* certificate, std::uint32_t* form,
                                         std::uint32_t* extra, char* issuer, std::uint8_t* serial,
                                         std::uint8_t* keyIdentifier, std::uint8_t* key, std::uint32_t* keyLength,
                                         void** originatorCertificate)
{
    try {
        if (originatorCertificate) *originatorCertificate = nullptr;
        if (!formats_ || !envelopedData || !certificate) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        ObjectRef inner;
        if (c->GetInnerCertificate(inner.Out()) == PKI_OK && inner) c = inner.As<IPKICertificate>();
        if (HasKeyUsage(kKeyAgreementUsage, c) != 1) return 0;
        std::unique_ptr<wchar_t[]> ownName;
        std::uint8_t ownSerial[20] = {}, ownKeyId[32] = {};
        {
            LibraryBlob number(formats_);
            if (!IssuerWide(c, ownName) || c->GetSerial(&number.blob) != PKI_OK || !Serial20(number.blob, ownSerial) ||
                !SubjectKeyIdentifier32(c, ownKeyId))
                return 0;
        }
        auto* e = static_cast<IPKIEnvelopedData*>(envelopedData);
        std::uint32_t groups = 0;
        if (e->GetAgreementGroupCount(&groups) != PKI_OK) return 0;
        auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
        for (std::uint32_t g = 0; g < groups; ++g) {
            ObjectRef group;
            if (e->GetAgreementGroup(g, group.Out()) != PKI_OK || !group) return 0;
            auto* ag = group.As<IPKIAgreementGroup>();
            std::uint32_t keys = 0;
            if (ag->GetEntryCount(&keys) != PKI_OK) return 0;
            bool matched = false;
            for (std::uint32_t j = 0; j < keys && !matched; ++j) {
                std::uint32_t kind = 0, length = kWideNameChars;
                std::uint8_t entrySerial[20] = {}, entryKeyId[32] = {};
                if (ag->GetEntry(j, &kind, wide.get(), &length, entrySerial, entryKeyId) != PKI_OK) return 0;
                if (kind == 1) {
                    if (length >= kWideNameChars) continue;
                    wide[length] = 0;
                    matched =
                        std::wcscmp(wide.get(), ownName.get()) == 0 && std::memcmp(entrySerial, ownSerial, 20) == 0;
                } else if (kind == 2) {
                    matched = std::memcmp(entryKeyId, ownKeyId, 32) == 0;
                }
            }
            if (!matched) continue;
            std::uint32_t originator = 0, length = kWideNameChars, publicLength = 0, more = 0;
            std::uint8_t originatorSerial[20] = {}, originatorKeyId[32] = {}, publicKey[kAgreementKeyBytes] = {};
            if (ag->GetOriginator(&originator, wide.get(), &length, originatorSerial, originatorKeyId, publicKey,
                                  &publicLength) != PKI_OK)
                return 0;
            auto text = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
            ObjectRef found;
            if (originator == 1) {
                if (length >= kWideNameChars) return 0;
                wide[length] = 0;
                if (!IssuerToText(formats_, wide.get(), text.get())) return 0;
                if (VersionAtLeast(formats_, 267) && ag->GetOriginatorExtra(&more) != PKI_OK) return 0;
                if (originatorCertificate &&
                    !FindCertificateByIdentity(envelopedData, text.get(), originatorSerial, nullptr, found.Out()))
                    *found.Out() = nullptr;
            } else if (originator == 2) {
                if (originatorCertificate &&
                    !FindCertificateByIdentity(envelopedData, nullptr, nullptr, originatorKeyId, found.Out()))
                    *found.Out() = nullptr;
            } else if (originator == 3) {
                if (publicLength > kAgreementKeyBytes) return 0;
            } else {
                return 0;
            }
            // Everything was read: the outputs of the originator's form, the
            // form last.
            if (originator == 1) {
                if (issuer) std::memcpy(issuer, text.get(), std::strlen(text.get()) + 1);
                if (extra) *extra = more;
                if (serial) std::memcpy(serial, originatorSerial, 20);
            } else if (originator == 2) {
                if (keyIdentifier) std::memcpy(keyIdentifier, originatorKeyId, 32);
            } else {
                if (key) std::memcpy(key, publicKey, kAgreementKeyBytes);
                if (keyLength) *keyLength = publicLength;
            }
            if (originatorCertificate) {
                *originatorCertificate = found.As<IPKIObject>();
                *found.Out() = nullptr;
            }
            if (form) *form = originator;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}
