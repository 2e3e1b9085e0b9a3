// Opening a content info: its enveloped, signed or plain content put into a
// content container, with what the caller needs to go on (who sent or signed
// it, and how it is protected); and the verification of a signer by its
// certificate's key family.
#include <cstring>
#include <cwchar>
#include <memory>

#include "pkiformats/EnvelopedContent.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignerIdentity.h"

using namespace pkif;

namespace {

enum : std::uint32_t {
    kContentData = 0,
    kContentSigned = 1,
    kContentEnveloped = 2,
    kOriginatorExtraFrom = 267,  // the originator's extra value: library versions from this one
    kSignerExtraAbove = 256,     // the signer's version value: library versions above this one
    kCipherViewKindA = 8,
    kCipherViewKindB = 9
};

const char kDataType[] = "1.2.840.113549.1.7.1";
const char kSignedDataType[] = "1.2.840.113549.1.7.2";
const char kEnvelopedDataType[] = "1.2.840.113549.1.7.3";

// What an opening found, written to the caller only once all of it was read.
struct Opened {
    std::uint32_t kind = 0, extra = 0, keyLength = 0, flag = 0, contentKind = 0;
    char text[PKIF_NAME_TEXT_BYTES] = {};
    std::uint8_t identifier[20] = {};
    std::uint8_t key[kAgreementKeyBytes] = {};
};

bool VersionAbove(IPKIInterface* formats, std::uint32_t floor)
{
    std::uint32_t version = 0;
    return formats && formats->GetVersion(&version) == PKI_OK && version > floor;
}

bool IsType(const PKIBlob& oid, const char* expected)
{
    std::size_t n = std::strlen(expected);
    return oid.data && oid.length == n && std::memcmp(oid.data, expected, n) == 0;
}

// The originator of the one recipient entry. A key identifier (form 2) is 32
// bytes and the caller's identifier output holds 20: it is left empty rather
// than cut, and the form tells the caller which it is.
bool ReadOriginator(IPKIInterface* formats, IPKIEnvelopedData* enveloped, Opened& o)
{
    std::uint32_t groups = 0, entries = 0;
    if (enveloped->GetAgreementGroupCount(&groups) != PKI_OK || groups != 1) return false;
    ObjectRef group;
    if (enveloped->GetAgreementGroup(0, group.Out()) != PKI_OK || !group) return false;
    auto* g = group.As<IPKIAgreementGroup>();
    if (g->GetEntryCount(&entries) != PKI_OK || entries != 1) return false;
    auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
    std::uint32_t form = 0, length = kWideNameChars;
    std::uint8_t serial[20] = {}, keyIdentifier[32] = {};
    if (g->GetOriginator(&form, wide.get(), &length, serial, keyIdentifier, o.key, &o.keyLength) != PKI_OK)
        return false;
    if (form == 1) {
        if (length >= kWideNameChars) return false;
        wide[length] = 0;
        if (!IssuerToText(formats, wide.get(), o.text)) return false;
        if (VersionAtLeast(formats, kOriginatorExtraFrom) && g->GetOriginatorExtra(&o.extra) != PKI_OK) return false;
        std::memcpy(o.identifier, serial, sizeof o.identifier);
    } else if (form == 3) {
        if (o.keyLength > kAgreementKeyBytes) return false;
    } else if (form != 2) {
        return false;
    }
    if (form != 3) {
        std::memset(o.key, 0, sizeof o.key);
        o.keyLength = 0;
    }
    o.kind = form;
    return true;
}

}  // namespace

// Every output but the container may be null; the text holds
// PKIF_NAME_TEXT_BYTES, the identifier 20 bytes and the key 76. On failure
// the text is empty and the container null.
int SPKIFormats::OpenContentInfo(const PKIBlob* blob, std::uint32_t* kind, std::uint32_t* extra, char* text,
                                 std::uint8_t* identifier, std::uint8_t* key, std::uint32_t* keyLength,
                                 std::uint32_t* flag, std::uint32_t* contentKind, void** container)
{
    try {
        if (text) text[0] = 0;
        if (container) *container = nullptr;
        if (!formats_ || !blob || !container) return 0;
        ObjectRef box, info, content;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_CONTAINER, PKI_IID_CONTENT_CONTAINER, box)) return 0;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* ci = info.As<IPKICMSContentInfo>();
        auto* c = box.As<IPKIContentContainer>();
        if (ci->Decode(blob) != PKI_OK) return 0;
        LibraryBlob type(formats_);
        if (ci->GetContentType(&type.blob) != PKI_OK) return 0;
        auto o = std::make_unique<Opened>();
        if (IsType(type.blob, kEnvelopedDataType)) {
            if (ci->GetContentObject(PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, content.Out()) != PKI_OK ||
                !content)
                return 0;
            auto* e = content.As<IPKIEnvelopedData>();
            std::uint32_t cipher = 0;
            if (!ReadOriginator(formats_, e, *o) || e->GetCipherKind(&cipher) != PKI_OK) return 0;
            o->flag = cipher == kCipherViewKindA || cipher == kCipherViewKindB ? 3 : 1;
            // Stored whichever the cipher: a container without its content
            // would leave the caller nothing to open.
            if (c->StoreEnvelopedData(content.As<IPKIObject>()) != PKI_OK) return 0;
            o->contentKind = kContentEnveloped;
        } else if (IsType(type.blob, kSignedDataType)) {
            if (ci->GetContentObject(PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, content.Out()) != PKI_OK || !content)
                return 0;
            auto* sd = content.As<IPKISignedDataSigners>();
            std::uint32_t signers = 0, hashKind = 0, hashSize = 0;
            ObjectRef signer;
            if (sd->GetSignerCount(&signers) != PKI_OK || signers != 1) return 0;
            if (sd->GetSigner(0, signer.Out()) != PKI_OK || !signer) return 0;
            // The hash kind (1 GOST 34.311, 2 SHA, 3 DSTU 7564) is what the
            // caller verifies with: it is the signed content's flag.
            if (GetSignerHashKindBySigner(signer.As<IPKIObject>(), 1, &hashKind, &hashSize) != 1) return 0;
            if (GetSignerIdentifier(signer.As<IPKIObject>(), content.As<IPKIObject>(), o->text, o->identifier) != 1)
                return 0;
            if (VersionAbove(formats_, kSignerExtraAbove) &&
                signer.As<IPKISignerInfo>()->GetVersionValue(&o->extra) != PKI_OK)
                return 0;
            if (c->StoreSignedData(content.As<IPKIObject>()) != PKI_OK) return 0;
            o->kind = 1;
            o->flag = hashKind;
            o->contentKind = kContentSigned;
        } else if (IsType(type.blob, kDataType)) {
            if (ci->GetContentObject(PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT, content.Out()) != PKI_OK || !content)
                return 0;
            if (c->StoreData(content.As<IPKIObject>()) != PKI_OK) return 0;
            o->contentKind = kContentData;
        } else {
            return 0;
        }
        if (kind) *kind = o->kind;
        if (extra) *extra = o->extra;
        if (text) std::memcpy(text, o->text, std::strlen(o->text) + 1);
        if (identifier) std::memcpy(identifier, o->identifier, sizeof o->identifier);
        if (key) std::memcpy(key, o->key, sizeof o->key);
        if (keyLength) *keyLength = o->keyLength;
        if (flag) *flag = o->flag;
        if (contentKind) *contentKind = o->contentKind;
        *container = *box.Out();
        *box.Out() = nullptr;
        return 1;
    } catch (...) {
        if (text) text[0] = 0;
        if (container) *container = nullptr;
        return 0;
    }
}

int SPKIFormats::ForwardToOperation524(const PKIBlob* blob, std::uint32_t* kind, std::uint32_t* extra, char* text,
                                       std::uint8_t* identifier, std::uint8_t* key, std::uint32_t* keyLength,
                                       std::uint32_t* flag, std::uint32_t* contentKind, void** container)
{
    return OpenContentInfo(blob, kind, extra, text, identifier, key, keyLength, flag, contentKind, container);
}

// A DSTU 4145 signer is verified over GOST 34.311 only when its hash kind is
// GOST 34.311's (1); a signer over another hash is not this verifier's.
int SPKIFormats::VerifySignerByCertificateKind(IPKIObject* signedData, std::int32_t index, const PKIBlob* data,
                                               IPKIObject* certificate, const std::uint8_t* hash)
{
    try {
        if (!signedData || !certificate) return 0;
        std::uint32_t family = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&family) != PKI_OK) return 0;
        if (family == 2) return VerifySignerSHA(signedData, index, data, certificate, hash);
        if (family == 4) return VerifySignerECDSA(signedData, index, data, certificate, hash);
        if (family != 1) return 0;
        std::uint32_t hashKind = 0, hashSize = 0;
        if (GetSignerHashKindByIndex(signedData, index, certificate, 1, &hashKind, &hashSize) != 1 || hashKind != 1)
            return 0;
        return VerifySignerGOST34311(signedData, index, data, certificate, hash);
    } catch (...) {
        return 0;
    }
}
