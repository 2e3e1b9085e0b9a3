// Certificate, request and message operations: decoding into library
// objects, the serial record taken from a key identifier, effective key
// usage, list entries, small records, and the Ukrainian vocabularies of
// certificate orders, revocation reasons, result codes and policies.
#include <cctype>
#include <cstring>
#include <memory>

#include "pkiformats/ContextHolders.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

enum : std::uint32_t { kClassName = 4869, kIidName = 4100, kClassItems = 4875, kIidItems = 4110 };
enum : std::uint32_t { kClassTimeStampToken = 4906, kIidTimeStampToken = 4143 };

void StoreBE32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

// A fixed text into a caller buffer of PKIF_VOCABULARY_TEXT_BYTES.
void PutText(const char* text, char* out)
{
    if (!out) return;
    std::size_t n = std::strlen(text);
    if (n >= PKIF_VOCABULARY_TEXT_BYTES) n = 0;  // never the case for the fixed texts
    std::memcpy(out, text, n);
    out[n] = 0;
}

// An OID's own text, or `known` when it is one of `oids`; refused (empty
// text, 0) when the OID text does not fit.
int PolicyText(const char* oid, const char* const* oids, std::size_t count, const char* known, char* text)
{
    if (!text) return 0;
    text[0] = 0;
    if (!oid) return 0;
    for (std::size_t i = 0; i < count; ++i)
        if (std::strcmp(oid, oids[i]) == 0) {
            PutText(known, text);
            return 1;
        }
    std::size_t n = std::strlen(oid);
    if (n >= PKIF_OID_TEXT_BYTES) return 0;
    std::memcpy(text, oid, n + 1);
    return 1;
}

// Windows-1251 texts.
const char kUndefinedM[] = "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9";  // undefined
const char kUndefinedF[] = "\xCD\xE5 \xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE0";     // not defined
const char kRevocation[] = "\xD1\xEA\xE0\xF1\xF3\xE2\xE0\xED\xED\xFF";          // revocation
const char kHold[] = "\xC1\xEB\xEE\xEA\xF3\xE2\xE0\xED\xED\xFF";                // hold
const char kRenewal[] = "\xCF\xEE\xED\xEE\xE2\xEB\xE5\xED\xED\xFF";             // renewal
const char kAbsent[] = "\xC2\xB3\xE4\xF1\xF3\xF2\xED\xFF";                      // none
const char kCACompromise[] = "\xCA\xEE\xEC\xEF\xF0\xEE\xEC\xE5\xF2\xE0\xF6\xB3\xFF \xEE\xF1. "
                             "\xEA\xEB\xFE\xF7\xE0 \xD6\xD1\xCA";
const char kKeyCompromise[] = "\xCA\xEE\xEC\xEF\xF0\xEE\xEC\xE5\xF2\xE0\xF6\xB3\xFF \xEE\xF1. \xEA\xEB\xFE\xF7\xE0";
const char kHolderChanged[] = "\xC7\xEC\xB3\xED\xE0 \xE4\xE0\xED\xE8\xF5 \xEF\xF0\xEE \xE2\xEB\xE0\xF1\xED\xE8\xEA\xE0";
const char kExpired[] =
    "\xC7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE8\xE9 \xF1\xF2\xF0\xEE\xEA \xF7\xE8\xED\xED\xEE\xF1\xF2\xB3";
const char kSuperseded[] = "\xD4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF \xED\xEE\xE2\xEE\xE3\xEE";
const char kCeased[] = "\xCF\xF0\xE8\xEF\xE8\xED\xE5\xED\xED\xFF \xE4\xB3\xBF";

}  // namespace

int SPKIFormats::CreateKeyContainerObject(void** container)
{
    try {
        if (!container) return 0;
        *container = nullptr;
        if (!formats_) return 0;
        ObjectRef key;
        if (formats_->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.Out()) != PKI_OK || !key) return 0;
        *container = key.As<IPKIObject>();
        *key.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The serial record: the first eight bytes of the key identifier (bit 7 of
// the first byte cleared, so the serial number stays positive), then the
// caller's three words, little-endian: 20 bytes in all.
int SPKIFormats::GetPublicKeyParameters(IPKIObject* certificate, IPKIObject* request, std::uint32_t word3,
                                        std::uint32_t word4, std::uint32_t word5, std::uint8_t* record)
{
    try {
        if (!record) return 0;
        std::uint32_t first = 0, second = 0;
        if (!GetPublicKeyParameterPair(certificate, request, &first, &second)) return 0;
        Put32(record, 0, first);
        Put32(record, 4, second);
        Put32(record, 8, word3);
        Put32(record, 12, word4);
        Put32(record, 16, word5);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetPublicKeyParameterPair(IPKIObject* certificate, IPKIObject* request, std::uint32_t* first,
                                           std::uint32_t* second)
{
    try {
        if (!first || !second || (!certificate && !request)) return 0;
        ObjectRef identifier;
        int rc = certificate ? static_cast<IPKICertificate*>(certificate)->GetSubjectKeyId(identifier.Out())
                             : static_cast<IPKIRequest*>(request)->GetKeyIdentifier(identifier.Out());
        if (rc != PKI_OK || !identifier) return 0;
        std::uint8_t bytes[32] = {};
        std::uint32_t length = sizeof bytes;
        if (identifier.As<IPKIKeyIdentifier>()->GetIdentifier(bytes, &length) != PKI_OK || length < 8 ||
            length > sizeof bytes)
            return 0;
        bytes[0] &= 0x7F;
        *first = Get32(bytes, 0);
        *second = Get32(bytes, 4);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeCertificate(const PKIBlob* blob, void** certificate)
{
    try {
        return DecodeInto<IPKICertificate>(formats_, PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, blob, certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeObject4873(const PKIBlob* blob, void** request)
{
    try {
        return DecodeInto<IPKIRequest>(formats_, PKI_CLASS_REQUEST, PKI_IID_REQUEST, blob, request);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeObject4869(const PKIBlob* blob, void** object)
{
    try {
        return DecodeInto<IPKIEncoded>(formats_, kClassName, kIidName, blob, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeObject4875(const PKIBlob* blob, void** object)
{
    try {
        return DecodeInto<IPKIEncoded>(formats_, kClassItems, kIidItems, blob, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeTimeStampContent(const PKIBlob* blob, void** token)
{
    try {
        return DecodeInto<IPKITimeStampToken>(formats_, kClassTimeStampToken, kIidTimeStampToken, blob, token);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignedDataObject(void** signedData)
{
    try {
        if (!signedData) return 0;
        *signedData = nullptr;
        if (!formats_) return 0;
        ObjectRef object;
        if (formats_->CreateObject(PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, object.Out()) != PKI_OK || !object)
            return 0;
        *signedData = object.As<IPKIObject>();
        *object.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// A certificate without the key-usage extension has no usage bits (0).
// DSTU 4145 keys agree keys rather than encipher them: both encipherment
// bits (0x0C) without key agreement read as key agreement (0x10); RSA key
// encipherment (0x04) reads as 0x10 too.
int SPKIFormats::GetEffectiveKeyUsage(IPKIObject* certificate, std::uint32_t* usage)
{
    try {
        if (!certificate || !usage) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::uint32_t kind = 0, bits = 0;
        if (cert->GetKeyKind(&kind) != PKI_OK) return 0;
        ObjectRef keyUsage;
        int rc = cert->GetKeyUsage(keyUsage.Out());
        if (rc == PKI_E_ABSENT) {
            *usage = 0;
            return 1;
        }
        if (rc != PKI_OK || !keyUsage || keyUsage.As<IPKIKeyUsage>()->GetBits(&bits) != PKI_OK) return 0;
        if (kind == 1 && (bits & 0x0C) == 0x0C && !(bits & 0x10)) bits = (bits & ~0x0Cu) | 0x10;
        if (kind == 2 && (bits & 0x04)) bits = (bits & ~0x04u) | 0x10;
        *usage = bits;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PolicyToText(const char* oid, char* text)
{
    try {
        static const char* const oids[] = {"1.2.804.2.1.1.1.2.2"};
        return PolicyText(oid, oids, 1,
                          "\xCF\xF0\xE0\xE2\xE8\xEB\xE0 \xEF\xEE\xF1\xE8\xEB\xE5\xED\xEE\xBF "
                          "\xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF6\xB3\xBF",
                          text);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::TimeStampPolicyToText(const char* oid, char* text)
{
    try {
        static const char* const oids[] = {"1.2.804.2.1.1.1.1.2.3", "1.2.804.2.1.1.1.2.3.1",
                                           "1.2.804.2.1.1.1.2.3.4.1.1", "1.2.804.2.1.1.1.2.3.4.2.1",
                                           "1.2.804.2.1.1.1.2.3.4.3.1"};
        return PolicyText(oid, oids, 5,
                          "\xCF\xF0\xE0\xE2\xE8\xEB\xE0 \xF4\xB3\xEA\xF1\xF3\xE2\xE0\xED\xED\xFF \xF7\xE0\xF1\xF3",
                          text);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ResultCodeToText(std::uint32_t code, char* text)
{
    try {
        static const char* const texts[] = {
            kUndefinedM,
            "\xC7\xE0\xEF\xE8\xF2 \xEE\xE1\xF0\xEE\xE1\xEB\xE5\xED\xEE",
            "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xF0\xEE\xE7\xE1\xEE\xF0\xB3 "
            "\xE7\xE0\xEF\xE8\xF2\xF3",
            "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2 \xE7\xE0\xFF\xE2\xED\xE8\xEA\xE0 \xED\xE5 "
            "\xE7\xED\xE0\xE9\xE4\xE5\xED\xE8\xE9",
            "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2 \xE7\xE0\xFF\xE2\xED\xE8\xEA\xE0 \xED\xE5 "
            "\xF7\xE8\xED\xED\xE8\xE9 "
            "\xE0\xE1\xEE \xEF\xEE\xF8\xEA\xEE\xE4\xE6\xE5\xED\xE8\xE9",
            "\xC2\xB3\xE4\xEA\xF0\xE8\xF2\xB3 \xEA\xEB\xFE\xF7\xB3 \xF3 \xE7\xE0\xEF\xE8\xF2\xB3 \xED\xE5 \xBA "
            "\xF3\xED\xB3\xEA\xE0\xEB\xFC\xED\xE8\xEC\xE8",
            "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xF0\xEE\xE1\xEE\xF2\xB3 \xE7 "
            "\xC1\xC4",
            "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEE\xE1\xF0\xEE\xE1\xF6\xB3 "
            "\xE7\xE0\xEF\xE8\xF2\xF3",
            "\xC7\xE0\xEF\xE8\xF2 \xED\xE5 \xEC\xEE\xE6\xE5 \xE1\xF3\xF2\xE8 \xEE\xE1\xF0\xEE\xE1\xEB\xE5\xED\xE8\xE9",
            "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2, \xFF\xEA\xE8\xE9 \xE7\xE0\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9 \xF3 "
            "\xE7\xE0\xEF\xE8\xF2\xB3, \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xE8\xE9",
            "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2, \xFF\xEA\xE8\xE9 \xE7\xE0\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9 \xF3 "
            "\xE7\xE0\xEF\xE8\xF2\xB3, \xED\xE5 \xE4\xB3\xE9\xF1\xED\xE8\xE9 \xE0\xE1\xEE \xE9\xEE\xE3\xEE "
            "\xF1\xF2\xE0\xF2\xF3\xF1 \xED\xE5 \xEC\xEE\xE6\xE5 \xE1\xF3\xF2\xE8 \xE7\xEC\xB3\xED\xE5\xED\xE8\xE9",
            "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0 \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xEE",
            "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 \xE2\xE6\xE5 "
            "\xE7\xE0\xF0\xE5\xBA\xF1\xF2\xF0\xEE\xE2\xE0\xED\xE8\xE9",
            "\xC7\xE0\xEF\xE8\xF2 \xED\xE0 \xF4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF "
            "\xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2\xE0 \xEF\xF0\xE8\xE9\xED\xFF\xF2\xEE \xED\xE0 "
            "\xEE\xE1\xF0\xEE\xE1\xEA\xF3",
            "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2 \xF4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF "
            "\xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2\xE0 \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xEE"};
        if (!text) return 0;
        PutText(texts[code < 15 ? code : 0], text);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OrderKindToText(std::uint32_t type, std::uint32_t reason, char* typeText, char* reasonText)
{
    try {
        PutText("", typeText);
        PutText("", reasonText);
        if (type == 1) return 1;
        if (type == 2) {
            static const char* const reasons[] = {kCACompromise, kKeyCompromise, kHolderChanged,
                                                  kExpired,      kSuperseded,    kCeased};
            PutText(kRevocation, typeText);
            PutText(reason >= 2 && reason <= 7 ? reasons[reason - 2] : kUndefinedF, reasonText);
            return 1;
        }
        PutText(type == 3 ? kHold : type == 4 ? kRenewal : kUndefinedM, typeText);
        PutText(kAbsent, reasonText);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::RevocationReasonToText(std::uint32_t code, char* text)
{
    try {
        static const char* const texts[] = {kUndefinedF, kKeyCompromise, kCACompromise, kHolderChanged, kSuperseded,
                                            kCeased,     kHold,          kUndefinedF,   kRenewal};
        if (!text) return 0;
        PutText(code <= 8 ? texts[code] : kUndefinedF, text);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReturnOne()
{
    return 1;
}

// A 128-bit big-endian number holding `value`: twelve zero bytes, then the
// word.
int SPKIFormats::MakeCounterRecord(std::uint32_t value, std::uint8_t* record)
{
    try {
        if (!record) return 0;
        std::memset(record, 0, 16);
        StoreBE32(record + 12, value);
        return 1;
    } catch (...) {
        return 0;
    }
}

// A 128-bit big-endian number holding first * 2^32 + second.
std::uint32_t SPKIFormats::MakeBigEndianPair(std::uint32_t first, std::uint32_t second, std::uint8_t* record)
{
    try {
        if (record) {
            std::memset(record, 0, 16);
            StoreBE32(record + 8, first);
            StoreBE32(record + 12, second);
        }
        return first;
    } catch (...) {
        return first;
    }
}

int SPKIFormats::GetListCertificate(IPKIObject* list, std::uint32_t index, void** certificate)
{
    try {
        if (!certificate) return 0;
        *certificate = nullptr;
        if (!list) return 0;
        ObjectRef entry;
        if (static_cast<IPKICertificateList*>(list)->GetEntry(index, entry.Out()) != PKI_OK || !entry) return 0;
        void* cert = nullptr;
        if (entry.As<IPKIObject>()->QueryInterface(PKI_IID_CERTIFICATE, &cert) != PKI_OK || !cert) return 0;
        *certificate = cert;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadKeyContainer(const PKIBlob* blob, const char* password, void** container)
{
    try {
        return ReadPrivateKeyAnyFormat(blob, password, 1, nullptr, container);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ForwardToOperation635(IPKIObject* value, std::uint32_t type, PKIBlob* out)
{
    return EncodeExtensionEntry(value, type, out);
}

int SPKIFormats::AttachCertificate(IPKIObject* signedData, const PKIBlob* certificate)
{
    try {
        if (!signedData) return 0;
        ObjectRef decoded;
        if (!DecodeCertificate(certificate, decoded.Out())) return 0;
        return static_cast<IPKISignedDataCertificates*>(signedData)->AddCertificate(decoded.As<IPKICertificate>()) ==
                       PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// Without the extension: no CA, path length 0.
int SPKIFormats::GetBasicConstraints(IPKIObject* certificate, std::uint32_t* ca, std::uint32_t* pathLength)
{
    try {
        if (!certificate || !ca || !pathLength) return 0;
        *ca = 0;
        *pathLength = 0;
        ObjectRef constraints;
        int rc = static_cast<IPKICertificate*>(certificate)->GetBasicConstraints(constraints.Out());
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != PKI_OK || !constraints) return 0;
        auto* read = constraints.As<IPKIBasicConstraints>();
        std::uint32_t flag = 0, length = 0;
        if (read->GetCA(&flag) != PKI_OK) return 0;
        // The path length is read only for a CA.
        if (flag && read->GetPathLength(&length) != PKI_OK) return 0;
        *ca = flag;
        *pathLength = flag ? length : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetItemPresent(IPKIObject* certificate)
{
    try {
        if (!certificate) return 0;
        ObjectRef constraints;
        return static_cast<IPKICertificate*>(certificate)->GetBasicConstraints(constraints.Out()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeSignedDataContentInfo(const PKIBlob* blob, void** signedData)
{
    static const char kSignedData[] = "1.2.840.113549.1.7.2";
    try {
        if (!signedData) return 0;
        *signedData = nullptr;
        void* decoded = nullptr;
        if (!DecodeInto<IPKIContentInfo>(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, blob, &decoded))
            return 0;
        ObjectRef info;
        *info.Out() = static_cast<IPKIObject*>(static_cast<IPKIContentInfo*>(decoded));
        auto* content = info.As<IPKIContentInfo>();
        LibraryBlob type(formats_), inner(formats_);
        if (content->GetContentType(&type.blob) != PKI_OK || !type.blob.data ||
            type.blob.length != sizeof kSignedData - 1 || std::memcmp(type.blob.data, kSignedData, type.blob.length))
            return 0;
        if (content->GetContent(&inner.blob) != PKI_OK) return 0;
        return DecodeInto<IPKISignedData>(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, &inner.blob,
                                          signedData);
    } catch (...) {
        return 0;
    }
}

// The issuer-style name (slot 9) as Windows-1251 text of at most
// PKIF_NAME_TEXT_BYTES, then, when asked, the serial number (slot 7) and the
// item of slot 50. A name that does not fit is refused: the text stays empty.
int SPKIFormats::GetObjectNameText(IPKIObject* object, char* text, PKIBlob* serial, std::uint32_t* itemPresent,
                                   PKIBlob* item)
{
    try {
        if (text) text[0] = 0;
        if (!formats_ || !object || !text) return 0;
        auto* certificate = static_cast<IPKICertificate*>(object);
        std::string name;
        if (!IssuerText(formats_, certificate, name) || name.size() >= PKIF_NAME_TEXT_BYTES) return 0;
        if (serial && certificate->GetSerial(serial) != PKI_OK) return 0;
        if ((itemPresent || item) && !GetObjectItem50(object, itemPresent, item)) {
            ReleaseBlob(serial);
            return 0;
        }
        std::memcpy(text, name.c_str(), name.size() + 1);
        return 1;
    } catch (...) {
        if (text) text[0] = 0;
        return 0;
    }
}

// The key pair checked by the CSP in the key object's own provider context
// (a key on a device is checked through the device).
int SPKIFormats::CheckKeyContextKeyPair(IPKIObject* keyObject, const DSTU4145FieldRecord* field,
                                        DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                        const std::uint8_t* publicKey)
{
    try {
        if (!csp_ || !keyObject || !field || !point || !privateKey || !publicKey) return 0;
        CSPContextHolder holder;
        InitCSPContextHolder(&holder, csp_, keyObject, 1, 0);
        int rc = CheckSignatureKeyPair(&holder, field, point, privateKey, publicKey);
        ReleaseContextHolder(&holder);
        return rc == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

bool IsWebLocation(const PKIBlob& location)
{
    auto startsWith = [&](const char* prefix) {
        std::size_t n = std::strlen(prefix);
        if (location.length < n || !location.data) return false;
        for (std::size_t i = 0; i < n; ++i)
            if (std::tolower(location.data[i]) != prefix[i]) return false;
        return true;
    };
    return startsWith("http://") || startsWith("https://");
}

// The `nth` (0-based) web location of a distribution-point list, into a text
// of PKIF_URL_TEXT_BYTES: 1 found and copied; 0 not found, or too long
// (refused, the text stays empty); -1 the list could not be read.
int NthWebLocation(IPKIInterface* formats, IPKIObject* list, std::uint32_t nth, char* text)
{
    auto* points = static_cast<IPKIDistributionPoints*>(list);
    std::uint32_t count = 0;
    if (points->GetCount(&count) != PKI_OK) return -1;
    for (std::uint32_t i = 0; i < count; ++i) {
        LibraryBlob location(formats);
        if (points->GetLocation(i, &location.blob) != PKI_OK) return -1;
        if (!IsWebLocation(location.blob) || nth-- > 0) continue;
        if (location.blob.length >= PKIF_URL_TEXT_BYTES) return 0;
        std::memcpy(text, location.blob.data, location.blob.length);
        text[location.blob.length] = 0;
        return 1;
    }
    return 0;
}

}  // namespace

// which 0: the first web location of the CRL distribution points; which 1:
// the first of the freshest-CRL points or, when a DSTU 4145 certificate has
// none, the second of the CRL distribution points.
int SPKIFormats::GetDistributionURL(IPKIObject* certificate, std::uint32_t which, char* text)
{
    try {
        if (!text) return 0;
        text[0] = 0;
        if (!formats_ || !certificate || which > 1) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        ObjectRef list;
        std::uint32_t nth = 0;
        if (which == 1) {
            int rc = cert->GetFreshestCRLPoints(list.Out());
            if (rc == PKI_E_ABSENT) {
                std::uint32_t kind = 0;
                if (cert->GetKeyKind(&kind) != PKI_OK || kind != 1) return 0;
                nth = 1;
            } else if (rc != PKI_OK || !list) {
                return 0;
            }
        }
        if (!list && (cert->GetCRLDistributionPoints(list.Out()) != PKI_OK || !list)) return 0;
        int found = NthWebLocation(formats_, list.As<IPKIObject>(), nth, text);
        if (found != 1) text[0] = 0;
        return found == 1 ? 1 : 0;
    } catch (...) {
        if (text) text[0] = 0;
        return 0;
    }
}

namespace {

enum : std::uint32_t { kPublicKeyBytes = 76, kRSAFieldsBytes = 2 * PKI_KEY_FIELD_BYTES };

// A key kind's public keys of the certificate and the request are equal.
bool SameDSTU4145Key(IPKICertificate* certificate, IPKIRequest* request)
{
    std::uint8_t a[kPublicKeyBytes] = {}, b[kPublicKeyBytes] = {};
    std::uint32_t lengthA = 0, lengthB = 0;
    ObjectRef parametersA, parametersB;
    if (certificate->GetDSTU4145PublicKey(a, &lengthA, parametersA.Out()) != PKI_OK ||
        request->GetDSTU4145PublicKey(b, &lengthB, parametersB.Out()) != PKI_OK)
        return false;
    return lengthA == lengthB && std::memcmp(a, b, sizeof a) == 0;
}

bool SameRSAKey(IPKICertificate* certificate, IPKIRequest* request)
{
    auto a = std::make_unique<std::uint8_t[]>(kRSAFieldsBytes), b = std::make_unique<std::uint8_t[]>(kRSAFieldsBytes);
    std::memset(a.get(), 0, kRSAFieldsBytes);
    std::memset(b.get(), 0, kRSAFieldsBytes);
    std::uint32_t bitsA = 0, bitsB = 0;
    if (certificate->GetRSAPublicKey(a.get(), &bitsA) != PKI_OK || request->GetRSAPublicKey(b.get(), &bitsB) != PKI_OK)
        return false;
    return bitsA == bitsB && std::memcmp(a.get(), b.get(), kRSAFieldsBytes) == 0;
}

}  // namespace

// Equal 32-byte key identifiers, equal key kinds, then equal keys. ECDSA keys
// are compared by the public-key reads of the EC certificate operations,
// which this does not reach yet: an ECDSA pair answers 0.
int SPKIFormats::CertificateMatchesRequest(IPKIObject* certificate, IPKIObject* request)
{
    try {
        if (!certificate || !request) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        auto* req = static_cast<IPKIRequest*>(request);
        std::uint8_t certificateId[32], requestId[32];
        if (!SubjectKeyIdentifier32(cert, certificateId)) return 0;
        {
            ObjectRef identifier;
            std::uint32_t length = sizeof requestId;
            if (req->GetKeyIdentifier(identifier.Out()) != PKI_OK || !identifier ||
                identifier.As<IPKIKeyIdentifier>()->GetIdentifier(requestId, &length) != PKI_OK ||
                length != sizeof requestId)
                return 0;
        }
        if (std::memcmp(certificateId, requestId, sizeof requestId) != 0) return 0;
        std::uint32_t certificateKind = 0, requestKind = 0;
        if (cert->GetKeyKind(&certificateKind) != PKI_OK || req->GetKeyKind(&requestKind) != PKI_OK ||
            certificateKind != requestKind)
            return 0;
        if (certificateKind == 1) return SameDSTU4145Key(cert, req) ? 1 : 0;
        if (certificateKind == 2) return SameRSAKey(cert, req) ? 1 : 0;
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyWithCertificateKey(IPKIObject* object, IPKIObject* certificate)
{
    try {
        if (!object || !certificate) return 0;
        std::uint8_t key[kPublicKeyBytes] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(key, &length, parameters.Out()) != PKI_OK)
            return 0;
        return static_cast<IPKISignedObject*>(object)->VerifyDSTU4145(key, length, parameters.As<IPKIObject>()) ==
                       PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

// The issuer must hold every bit of the required key usage before its key is
// asked to verify anything.
int SPKIFormats::VerifyWithIssuerKey(IPKIObject* object, IPKIObject* issuerCertificate, std::uint32_t requiredUsage)
{
    try {
        if (!object || !issuerCertificate || !HasKeyUsage(requiredUsage, issuerCertificate)) return 0;
        return VerifyWithCertificateKey(object, issuerCertificate);
    } catch (...) {
        return 0;
    }
}

// The validity when both of its outputs are given; the private-key usage
// period when all three of its outputs are: absent, the flag is 0 and the
// times are left as they were.
int SPKIFormats::SetObjectItemAndCheck(IPKIObject* certificate, SYSTEMTIME* validFrom, SYSTEMTIME* validTo,
                                       SYSTEMTIME* usableFrom, SYSTEMTIME* usableTo, std::uint32_t* periodPresent)
{
    try {
        if (!certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        if (validFrom && validTo && cert->GetValidity(validFrom, validTo) != PKI_OK) return 0;
        if (!usableFrom || !usableTo || !periodPresent) return 1;
        ObjectRef period;
        int rc = cert->GetKeyUsagePeriod(period.Out());
        if (rc == PKI_E_ABSENT) {
            *periodPresent = 0;
            return 1;
        }
        if (rc != PKI_OK || !period || period.As<IPKIKeyUsagePeriod>()->GetPeriod(usableFrom, usableTo) != PKI_OK)
            return 0;
        *periodPresent = 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Private keys against certificates and requests; signatures by a certificate's key ----

namespace {

// How many companion views (RSA view, EC view) deep the key check follows a
// certificate: the library hands out views of views, and a view that leads
// back to an earlier one must not recurse without end.
constexpr int kMaxCompanionDepth = 3;

// The 32 bytes of the key's DSTU 4145 signature-key identifier (slot 11).
bool KeySignatureIdentifier(IPKIInterface* formats, IPKIObject* key, std::uint8_t* out)
{
    ObjectRef id;
    if (static_cast<IPKIKeyObject*>(key)->GetSignatureKeyIdentifier(id.Out()) != PKI_OK || !id) return false;
    LibraryBlob value(formats);
    if (id.As<IPKIAttribute>()->GetValue(&value.blob) != PKI_OK || !value.blob.data || value.blob.length != 32)
        return false;
    std::memcpy(out, value.blob.data, 32);
    return true;
}

// The DSTU 4145 private key of the key object checked against a public key
// (76 bytes) on the given parameters, by the provider in the key object's
// own context. The private key lives only in the wiping buffers.
bool DSTU4145PairHolds(IPKIInterface* formats, CSP* csp, IPKIObject* key, const std::uint8_t* publicKey,
                       IPKIObject* parameters)
{
    if (!csp || !parameters) return false;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    if (static_cast<IPKIParameters*>(parameters)->GetParameters(&field, &point, sBox) != PKI_OK) return false;
    Secret<kPublicKeyBytes> privateKey;
    {
        LibraryBlob value(formats);
        ObjectRef keyParameters;
        if (static_cast<IPKIKeyObject*>(key)->GetKeyValue(&value.blob, keyParameters.Out()) != PKI_OK ||
            !value.blob.data || value.blob.length == 0 || value.blob.length > kPublicKeyBytes)
            return false;
        std::memcpy(privateKey.bytes, value.blob.data, value.blob.length);
    }
    HolderScope<CSPContextHolder> scope;
    InitCSPContextHolder(&scope.holder, csp, key, 1, 0);
    return CheckSignatureKeyPair(&scope.holder, &field, &point, privateKey.bytes, publicKey) == CSP_OK;
}

}  // namespace

// The key object must offer the certificate's key family; the identifiers
// must agree before the provider is asked about the pair. The certificate's
// RSA and EC views are then checked too, each where the key offers its
// family. Only DSTU 4145 pairs are checked by the provider here; a
// certificate of another family answers 0.
int SPKIFormats::PrivateKeyMatchesCertificateAt(IPKIObject* certificate, IPKIObject* keyObject, int depth)
{
    if (depth > kMaxCompanionDepth) return 0;
    std::uint32_t signing = 0, other = 0, kind = 0;
    if (!GetKeyCapabilities(keyObject, &signing, &other)) return 0;
    auto* cert = static_cast<IPKICertificate*>(certificate);
    if (cert->GetKeyKind(&kind) != PKI_OK || kind != 1 || !(signing & 1)) return 0;
    std::uint8_t certificateId[32], keyId[32];
    if (!SubjectKeyIdentifier32(cert, certificateId) || !KeySignatureIdentifier(formats_, keyObject, keyId) ||
        std::memcmp(certificateId, keyId, sizeof keyId) != 0)
        return 0;
    {
        std::uint8_t publicKey[kPublicKeyBytes] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (cert->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) != PKI_OK ||
            !DSTU4145PairHolds(formats_, csp_, keyObject, publicKey, parameters.As<IPKIObject>()))
            return 0;
    }
    // Companion views of a family the key does not offer are not its to match.
    ObjectRef rsa;
    int rc = cert->GetRSAView(rsa.Out());
    if (rc == PKI_OK && rsa && (other & 2) &&
        !PrivateKeyMatchesCertificateAt(rsa.As<IPKIObject>(), keyObject, depth + 1))
        return 0;
    ObjectRef ec;
    *ec.Out() = GetECCertificate(certificate);
    if (ec && (other & 4) && !PrivateKeyMatchesCertificateAt(ec.As<IPKIObject>(), keyObject, depth + 1)) return 0;
    return 1;
}

int SPKIFormats::PrivateKeyMatchesCertificate(IPKIObject* certificate, IPKIObject* keyObject)
{
    try {
        if (!certificate || !keyObject) return 0;
        return PrivateKeyMatchesCertificateAt(certificate, keyObject, 0);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PrivateKeyMatchesRequest(IPKIObject* request, IPKIObject* keyObject)
{
    try {
        if (!request || !keyObject) return 0;
        std::uint32_t signing = 0, other = 0, kind = 0;
        if (!GetKeyCapabilities(keyObject, &signing, &other)) return 0;
        auto* req = static_cast<IPKIRequest*>(request);
        if (req->GetKeyKind(&kind) != PKI_OK || kind != 1 || !(signing & 1)) return 0;
        std::uint8_t requestId[32], keyId[32];
        {
            ObjectRef identifier;
            std::uint32_t length = sizeof requestId;
            if (req->GetKeyIdentifier(identifier.Out()) != PKI_OK || !identifier ||
                identifier.As<IPKIKeyIdentifier>()->GetIdentifier(requestId, &length) != PKI_OK ||
                length != sizeof requestId)
                return 0;
        }
        if (!KeySignatureIdentifier(formats_, keyObject, keyId) || std::memcmp(requestId, keyId, sizeof keyId) != 0)
            return 0;
        std::uint8_t publicKey[kPublicKeyBytes] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (req->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) != PKI_OK) return 0;
        return DSTU4145PairHolds(formats_, csp_, keyObject, publicKey, parameters.As<IPKIObject>()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// A 32-byte GOST 34.311 hash and a DSTU 4145 signature value in the
// provider's form (PKIF_DSTU4145_SIGNATURE_MAX bytes), checked with the
// certificate's public key on its own parameters.
int SPKIFormats::VerifyDataSignature(IPKIObject* certificate, const std::uint8_t* hash, const std::uint8_t* signature)
{
    try {
        if (!certificate || !hash || !signature || !csp_) return 0;
        std::uint8_t publicKey[kPublicKeyBytes] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (static_cast<IPKICertificate*>(certificate)->GetDSTU4145PublicKey(publicKey, &length, parameters.Out()) !=
                PKI_OK ||
            !parameters)
            return 0;
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        std::uint8_t sBox[PKI_SBOX_BYTES] = {};
        if (parameters.As<IPKIParameters>()->GetParameters(&field, &point, sBox) != PKI_OK) return 0;
        return csp_->VerifyHashSignatureDSTU4145(hash, &field, &point, publicKey, signature) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The key's DSTU 4145 signature-key identifier against the certificate's
// subject key identifier: the flag tells whether they are equal.
int SPKIFormats::KeyMatchesCertificate(IPKIObject* key, IPKIObject* certificate, std::uint32_t* flag)
{
    try {
        if (!key || !certificate || !flag) return 0;
        *flag = 0;
        std::uint8_t keyId[32], certificateId[32];
        if (!KeySignatureIdentifier(formats_, key, keyId) ||
            !SubjectKeyIdentifier32(static_cast<IPKICertificate*>(certificate), certificateId))
            return 0;
        *flag = std::memcmp(keyId, certificateId, sizeof keyId) == 0 ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

// Only a message over plain data is wrapped: its encapsulated content type
// must be data, the wrapper's type is signed data.
int SPKIFormats::WrapSignedData(IPKIObject* signedData, PKIBlob* out)
{
    try {
        if (!formats_ || !signedData || !out) return 0;
        static const char kData[] = "1.2.840.113549.1.7.1";
        char type[sizeof kData + 1] = {};
        std::uint32_t length = sizeof type;
        if (static_cast<IPKISignedDataSigners*>(signedData)->GetContentType(type, &length) != PKI_OK ||
            length != sizeof kData - 1 || std::memcmp(type, kData, sizeof kData) != 0)
            return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* wrapper = info.As<IPKICMSContentInfo>();
        if (wrapper->SetContentType("1.2.840.113549.1.7.2") != PKI_OK ||
            wrapper->SetContentObject(signedData) != PKI_OK)
            return 0;
        LibraryBlob bytes(formats_);
        if (wrapper->Encode(&bytes.blob) != PKI_OK) return 0;
        return CopyOut(bytes.blob.data, bytes.blob.length, out) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
