// Signer attributes, the signer's time-stamp token, signature-value hashes
// and hash-typed certificate identifiers. The objects are the library's; what
// the facade hashes itself goes through its providers.
#include <cstring>
#include <cwchar>
#include <memory>

#include "csp/CSP.h"
#include "pkiformats/CertificateInfo.h"
#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignedDataInternal.h"

namespace pkif {

bool SignerHasFeature(IPKIObject* signer, std::uint32_t feature)
{
    std::uint32_t present = 0;
    return static_cast<IPKISignerInfo*>(signer)->HasFeature(feature, &present) == PKI_OK && present != 0;
}

bool ReadSignerHash(IPKIObject* signer, std::uint8_t* hash, std::uint32_t* length)
{
    auto* info = static_cast<IPKISignerInfo*>(signer);
    std::uint32_t n = 0;
    if (info->GetSignatureValueHash(nullptr, &n) != PKI_OK || n == 0 || n > PKIF_SIGNER_HASH_MAX) return false;
    std::uint32_t written = n;
    if (info->GetSignatureValueHash(hash, &written) != PKI_OK || written != n) return false;
    *length = n;
    return true;
}

bool ReadIssuerAndSerial(IPKIInterface* formats, IPKIObject* certificate, wchar_t* issuer, ObjectRef& serial)
{
    auto* c = static_cast<IPKICertificate*>(certificate);
    std::uint32_t length = PKIF_NAME_TEXT_BYTES;
    if (c->GetIssuerText(issuer, &length) != PKI_OK || length >= PKIF_NAME_TEXT_BYTES) return false;
    issuer[length] = 0;
    LibraryBlob encoded(formats);
    if (c->GetSerial(&encoded.blob) != PKI_OK || Empty(&encoded.blob)) return false;
    if (!CreateInto(formats, PKI_CLASS_INTEGER, PKI_IID_INTEGER, serial)) return false;
    return serial.As<IPKIInteger>()->Decode(&encoded.blob) == PKI_OK;
}

bool CheckSigningCertificateEntry(IPKIObject* attribute, IPKIObject* certificate, const wchar_t* signerIssuer,
                                  const std::uint8_t* signerSerial)
{
    auto* a = static_cast<IPKISigningCertificate*>(attribute);
    std::uint32_t count = 0;
    if (a->GetEntryCount(&count) != PKI_OK || count != 1) return false;
    std::uint32_t bits = 0;
    std::uint8_t hash[PKIF_SIGNER_HASH_MAX] = {};
    std::uint8_t serial[20] = {};
    auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
    issuer[0] = 0;
    if (a->GetEntry(0, &bits, hash, issuer.get(), serial) != PKI_OK) return false;
    issuer[PKIF_NAME_TEXT_BYTES - 1] = 0;
    // A size of the message's choosing must not shorten the comparison or
    // reach past the hash: only the known sizes count, and all their bytes.
    if (bits != 160 && bits != 224 && bits != 256 && bits != 384 && bits != 512) return false;
    std::uint8_t own[PKIF_SIGNER_HASH_MAX] = {};
    if (a->HashCertificate(certificate, bits, own) != PKI_OK) return false;
    if (std::memcmp(own, hash, bits / 8) != 0) return false;
    if (issuer[0] != 0) {
        if (!signerIssuer || !signerSerial) return false;
        if (std::wcscmp(issuer.get(), signerIssuer) != 0 || std::memcmp(serial, signerSerial, 20) != 0) return false;
    }
    return true;
}

bool ChooseVerifiedData(const PKIBlob* data, const PKIBlob* content, const PKIBlob** covered)
{
    const bool haveData = !Empty(data);
    if (content) {
        // Other data must not pass because the message's own content does.
        if (haveData && (data->length != content->length || std::memcmp(data->data, content->data, data->length) != 0))
            return false;
        *covered = content;
        return true;
    }
    if (!haveData) return false;
    *covered = data;
    return true;
}

}  // namespace pkif

using namespace pkif;

namespace {

// The value forms of a signed attribute (4866 / 4153).
int ReadAttributeForm(IPKISignedAttribute* attribute, int form, PKIBlob* value)
{
    return form == 1 ? attribute->GetValueForm1(value) : attribute->GetValueForm2(value);
}

int WriteAttributeForm(IPKISignedAttribute* attribute, int form, const PKIBlob* value)
{
    if (form == 1) return attribute->SetValueForm1(value);
    if (form == 2) return attribute->SetValueForm2(value);
    return attribute->SetValueForm3(value);
}

// A library blob handed to the caller: `out` takes it and `from` lets go.
void HandOut(PKIBlob& from, PKIBlob* out)
{
    *out = from;
    from = PKIBlob{0, nullptr};
}

// The standard attributes hold the signing time and token unless the
// signer is a DSTU 4145 signer that keeps them in its extension. Answers
// -1 when the key kind cannot be read.
int UsesStandardPath(IPKISignerInfo* signer)
{
    if (signer->UsesStandardAttributes() != 0) return 1;
    std::uint32_t kind = 0;
    if (signer->GetKeyKind(&kind) != PKI_OK) return -1;
    return kind != 1 ? 1 : 0;
}

bool LibraryVersionAbove(IPKIInterface* formats, std::uint32_t floor)
{
    std::uint32_t version = 0;
    return formats && formats->GetVersion(&version) == PKI_OK && version > floor;
}

}  // namespace

// ---- Signed attributes ----

namespace {

int GetAttributeOfForm(ISPKIFormats& facade, IPKIInterface* formats, IPKIObject* signedData, IPKIObject* certificate,
                       const char* type, int form, PKIBlob* value)
{
    if (!formats || !signedData || !certificate || !type || !value || value->data) return 0;
    ObjectRef signer;
    if (facade.FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
    auto* info = signer.As<IPKISignerInfo>();
    std::uint32_t count = 0;
    if (info->CountAttributes(type, &count) != PKI_OK || count != 1) return 0;
    ObjectRef attribute, view;
    if (info->GetAttribute(type, 0, attribute.Out()) != PKI_OK || !attribute) return 0;
    if (!QueryInto(attribute.As<IPKIObject>(), PKI_IID_SIGNED_ATTRIBUTE, view)) return 0;
    LibraryBlob read(formats);
    if (ReadAttributeForm(view.As<IPKISignedAttribute>(), form, &read.blob) != PKI_OK || !read.blob.data) return 0;
    HandOut(read.blob, value);
    return 1;
}

int AddAttributeOfForm(ISPKIFormats& facade, IPKIInterface* formats, IPKIObject* signedData, IPKIObject* certificate,
                       const char* type, int form, const PKIBlob* value)
{
    if (!formats || !signedData || !certificate || !type || Empty(value)) return 0;
    ObjectRef attribute;
    if (!CreateInto(formats, PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE, attribute)) return 0;
    auto* a = attribute.As<IPKISignedAttribute>();
    if (a->SetType(type) != PKI_OK || WriteAttributeForm(a, form, value) != PKI_OK) return 0;
    ObjectRef signer;
    if (facade.FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
    return signer.As<IPKISignerInfo>()->AddAttribute(a) == PKI_OK ? 1 : 0;
}

}  // namespace

int SPKIFormats::GetSignedAttributeForm1(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                         PKIBlob* value)
{
    try {
        return GetAttributeOfForm(*this, formats_, signedData, certificate, type, 1, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignedAttributeForm1(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                         const PKIBlob* value)
{
    try {
        return AddAttributeOfForm(*this, formats_, signedData, certificate, type, 1, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignedAttributeForm2(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                         PKIBlob* value)
{
    try {
        return GetAttributeOfForm(*this, formats_, signedData, certificate, type, 2, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignedAttributeForm2(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                         const PKIBlob* value)
{
    try {
        return AddAttributeOfForm(*this, formats_, signedData, certificate, type, 2, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignerAttributeValueByCertificate(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                                      PKIBlob* value)
{
    try {
        if (!signedData || !certificate || !type || !value || value->data) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return GetSignerAttributeValueDirect(signer.As<IPKIObject>(), type, value) == 1 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignedAttributeForm3(IPKIObject* signedData, IPKIObject* certificate, const char* type,
                                         const PKIBlob* value)
{
    try {
        return AddAttributeOfForm(*this, formats_, signedData, certificate, type, 3, value);
    } catch (...) {
        return 0;
    }
}

// ---- Time-stamp tokens and signing times ----

int SPKIFormats::GetSignerTimeStampToken(IPKIObject* signedData, const char* issuer, const std::uint8_t* serial,
                                         PKIBlob* token)
{
    try {
        if (!formats_ || !signedData || !issuer || !serial || !token || token->data) return 0;
        ObjectRef signer, object;
        if (FindSignerByIssuerSerial(signedData, issuer, serial, signer.Out()) != 1 || !signer) return 0;
        auto* info = signer.As<IPKISignerInfo>();
        const int standard = UsesStandardPath(info);
        if (standard < 0) return 0;
        std::uint32_t present = 0;
        if (standard) {
            if (info->HasTimeStampToken(&present) != PKI_OK || !present) return 0;
            if (info->GetTimeStampToken(object.Out()) != PKI_OK || !object) return 0;
        } else {
            ObjectRef extension;
            if (info->HasSignerExtension(&present) != PKI_OK || !present) return 0;
            if (info->GetSignerExtension(extension.Out()) != PKI_OK || !extension) return 0;
            present = 0;
            if (extension.As<IPKISignerExtension>()->HasTimeStampToken(&present) != PKI_OK || !present) return 0;
            if (info->GetExtensionTimeStampToken(object.Out()) != PKI_OK || !object) return 0;
        }
        LibraryBlob encoded(formats_);
        if (object.As<IPKIContentInfo>()->Encode(&encoded.blob) != PKI_OK || Empty(&encoded.blob)) return 0;
        HandOut(encoded.blob, token);
        return 1;
    } catch (...) {
        return 0;
    }
}

// The certificate's texts as FillCertificateInfo gives them; a time the
// caller marks present is kept beside them in local time. The time is
// converted first, so a time that does not convert leaves the record empty
// without any text having been made.
int SPKIFormats::FillSignerCertificateInfo(SignerCertificateInfo* info, IPKIObject* certificate,
                                           std::uint32_t timePresent, std::uint32_t timeValue, const SYSTEMTIME* time)
{
    try {
        if (!info) return 0;
        std::memset(info, 0, sizeof *info);
        SYSTEMTIME local{};
        if (timePresent && (!time || UniversalToLocalTime(time, &local) != 1)) return 0;
        if (FillCertificateInfo(&info->certificate, certificate) != 1) return 0;
        if (timePresent) {
            info->timePresent = 1;
            info->timeValue = timeValue;
            info->time = local;
        }
        return 1;
    } catch (...) {
        if (info) FreeSignerCertificateInfo(info);
        return 0;
    }
}

int SPKIFormats::FreeSignerCertificateInfo(SignerCertificateInfo* info)
{
    try {
        if (!info) return 0;
        FreeCertificateInfo(&info->certificate);
        std::memset(info, 0, sizeof *info);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignerTimeStamp(IPKIObject* signer, const PKIBlob* token)
{
    try {
        if (!formats_ || !signer || Empty(token)) return 0;
        ObjectRef contentInfo;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, contentInfo)) return 0;
        if (contentInfo.As<IPKIContentInfo>()->Decode(token) != PKI_OK) return 0;
        return static_cast<IPKISignerInfo*>(signer)->AddTimeStampToken(contentInfo.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HasSignerSigningTime(IPKIObject* signedData, std::uint32_t index, std::uint32_t* present)
{
    try {
        if (!signedData || !present) return 0;
        ObjectRef signer;
        if (static_cast<IPKISignedDataSigners*>(signedData)->GetSigner(index, signer.Out()) != PKI_OK || !signer)
            return 0;
        auto* info = signer.As<IPKISignerInfo>();
        const int standard = UsesStandardPath(info);
        if (standard < 0) return 0;
        SYSTEMTIME time{};
        if (standard) {
            const int rc = info->GetSigningTime(&time);
            if (rc == PKI_E_ABSENT) {
                *present = 0;
                return 1;
            }
            if (rc != PKI_OK) return 0;
        } else {
            std::uint32_t has = 0;
            ObjectRef extension;
            if (info->HasSignerExtension(&has) != PKI_OK || !has) return 0;
            if (info->GetSignerExtension(extension.Out()) != PKI_OK || !extension) return 0;
            if (extension.As<IPKISignerExtension>()->GetSigningTime(&time) != PKI_OK) return 0;
        }
        *present = 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Signature-value hashes ----

int SPKIFormats::GetSignatureValueHash(IPKIObject* signer, IPKIObject* certificate, PKIBlob* hash)
{
    try {
        if (!signer || !hash || hash->data) return 0;
        std::uint8_t value[PKIF_SIGNER_HASH_MAX] = {};
        std::uint32_t length = 32;
        if (SignerHasFeature(signer, PKI_FEATURE_SIGNATURE_VALUE_HASH)) {
            if (!ReadSignerHash(signer, value, &length)) return 0;
        } else if (HashSignatureValueGOST34311(signer, certificate, value) != 1) {
            return 0;
        }
        return CopyOut(value, length, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateSignerInfoWithValue(const PKIBlob* value, void** signer)
{
    try {
        if (!formats_ || !signer) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_SIGNER_INFO, PKI_IID_SIGNER_INFO, info)) return 0;
        if (info.As<IPKISignerInfo>()->SetValue(value) != PKI_OK) return 0;
        *signer = info.As<IPKISignerInfo>();
        *info.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashRSA(IPKIObject* signer, IPKIObject* certificate, std::uint32_t* bits,
                                          std::uint8_t* hash)
{
    try {
        if (!signer || !certificate || !bits || !hash) return 0;
        std::uint32_t kind = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK || kind != 2) {
            ObjectRef view;
            if (static_cast<IPKICertificate*>(certificate)->GetRSAView(view.Out()) != PKI_OK || !view) return 0;
        }
        if (!SignerHasFeature(signer, PKI_FEATURE_SIGNATURE_VALUE_HASH)) return 0;
        std::uint32_t length = 0;
        if (!ReadSignerHash(signer, hash, &length)) return 0;
        *bits = length * 8;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashECDSA(IPKIObject* signer, IPKIObject* certificate, std::uint32_t* bits,
                                            std::uint8_t* hash)
{
    try {
        if (!signer || !certificate || !bits || !hash) return 0;
        ObjectRef ec;
        *ec.Out() = GetECCertificate(certificate);
        if (!ec) return 0;
        if (!SignerHasFeature(signer, PKI_FEATURE_SIGNATURE_VALUE_HASH)) return 0;
        std::uint32_t length = 0;
        if (!ReadSignerHash(signer, hash, &length)) return 0;
        *bits = length * 8;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueECDSA(IPKIObject* signer, IPKIObject* certificate, std::uint32_t* bits,
                                         std::uint8_t* hash)
{
    try {
        if (!signer || !bits || !hash) return 0;
        std::uint32_t size = 160;
        if (certificate) {
            std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
            if (GetECCertificateParametersByCurve(certificate, record) != 1) return 0;
            size = Get32(record, PKIF_EC_RECORD_BYTES);
        }
        if (HashSignatureValueWithProvider(signer, size, hash) != 1) return 0;
        *bits = size;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureValueHashDSTU7564(IPKIObject* signer, std::uint32_t* kind, std::uint32_t* length,
                                               std::uint8_t* hash)
{
    try {
        if (!signer || !kind || !length || !hash) return 0;
        if (!SignerHasFeature(signer, PKI_FEATURE_SIGNATURE_VALUE_HASH)) return 0;
        ObjectRef view;
        std::uint32_t hashKind = 0;
        if (!QueryInto(signer, PKI_IID_SIGNER_INFO_DSTU7564, view)) return 0;
        if (view.As<IPKISignerInfoDSTU7564>()->GetHashKind(&hashKind) != PKI_OK || hashKind != 3) return 0;
        std::uint32_t n = 0;
        if (!ReadSignerHash(signer, hash, &n)) return 0;
        *kind = hashKind;
        *length = n;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueDSTU7564(IPKIObject* signer, std::uint32_t kind, std::uint32_t hashLength,
                                            std::uint8_t* hash)
{
    try {
        if (!signer || !hash || !csp_) return 0;
        auto* info = static_cast<IPKISignerInfo*>(signer);
        std::uint32_t length = 0;
        if (info->GetSignatureValue(nullptr, &length) != PKI_OK || length == 0 ||
            length > PKIF_SIGNER_SIGNATURE_VALUE_MAX)
            return 0;
        std::uint8_t value[PKIF_SIGNER_SIGNATURE_VALUE_MAX] = {};
        std::uint32_t written = length;
        if (info->GetSignatureValue(value, &written) != PKI_OK || written != length) return 0;
        if (kind != 3) return 0;
        return csp_->HashDSTU7564(value, length, nullptr, hashLength, hash) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// ---- Hash-typed certificate identifiers ----

namespace {

// Reads a hash of `code` through the three readers of a list or entry.
template <typename Gost, typename Sha, typename Dstu>
bool ReadCodedHash(std::uint32_t code, Gost gost, Sha sha, Dstu dstu)
{
    if (code == 1) return gost();
    if (code >= 2 && code <= 6) return sha();
    if (code >= 7 && code <= 9) return dstu();
    return code == 0;
}

}  // namespace

int SPKIFormats::GetCertificateIdentifierHashType(IPKIObject* list, std::uint32_t* code, std::uint32_t* length,
                                                  std::uint8_t* hash)
{
    try {
        if (!list || !code || !length || !LibraryVersionAbove(formats_, 258)) return 0;
        auto* l = static_cast<IPKICertificateIdentifiers*>(list);
        std::uint32_t c = 0;
        if (l->GetCode(0, &c) != PKI_OK || c > 9) return 0;
        if (hash) {
            std::uint8_t read[PKIF_SIGNER_HASH_MAX] = {};
            const bool ok = ReadCodedHash(
                c, [&] { return l->GetHashGOST34311(0, read) == PKI_OK; },
                [&] { return l->GetHashSHA(0, read) == PKI_OK; },
                [&] {
                    ObjectRef view;
                    return QueryInto(list, PKI_IID_IDENTIFIERS_DSTU7564, view) &&
                           view.As<IPKICertificateIdentifiersDSTU7564>()->GetHash(0, read) == PKI_OK;
                });
            if (!ok) return 0;
            std::memcpy(hash, read, kCodeHashLengths[c]);
        }
        *code = c;
        *length = kCodeHashLengths[c];
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetEntryIdentifierHashType(IPKIObject* entry, std::uint32_t* code, std::uint32_t* length,
                                            std::uint8_t* hash)
{
    try {
        if (!entry || !code || !length || !LibraryVersionAbove(formats_, 258)) return 0;
        auto* e = static_cast<IPKICertificateIdentifiers*>(entry);
        std::uint32_t c = 0;
        if (e->GetEntryCode(&c) != PKI_OK || c > 9) return 0;
        if (hash) {
            std::uint8_t read[PKIF_SIGNER_HASH_MAX] = {};
            const bool ok = ReadCodedHash(
                c, [&] { return e->GetEntryHashGOST34311(read) == PKI_OK; },
                [&] { return e->GetEntryHashSHA(read) == PKI_OK; },
                [&] {
                    ObjectRef view;
                    return QueryInto(entry, PKI_IID_IDENTIFIERS_DSTU7564, view) &&
                           view.As<IPKICertificateIdentifiersDSTU7564>()->GetEntryHash(read) == PKI_OK;
                });
            if (!ok) return 0;
            std::memcpy(hash, read, kCodeHashLengths[c]);
        }
        *code = c;
        *length = kCodeHashLengths[c];
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

// The expected hash must be as long as its code's hash: a shorter length
// would let a prefix match.
bool MatchArguments(IPKIObject* certificate, IPKIObject* identifier, std::uint32_t code, std::uint32_t length,
                    const std::uint8_t* expected)
{
    return certificate && identifier && expected && code >= 1 && code <= 9 && length == kCodeHashLengths[code];
}

bool SameHash(const std::uint8_t* computed, const std::uint8_t* expected, std::uint32_t length)
{
    return std::memcmp(computed, expected, length) == 0;
}

}  // namespace

int SPKIFormats::MatchCertificateIdentifier(IPKIObject* certificate, IPKIObject* identifier, std::uint32_t code,
                                            std::uint32_t length, const std::uint8_t* expected)
{
    try {
        if (!LibraryVersionAbove(formats_, 258) || !MatchArguments(certificate, identifier, code, length, expected))
            return 0;
        auto* id = static_cast<IPKICertificateIdentifiers*>(identifier);
        std::uint8_t computed[PKIF_SIGNER_HASH_MAX] = {};
        const bool newer = LibraryVersionAbove(formats_, 265);
        if (code == 1) {
            GOST28147PackedSBox sBox{};
            if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &sBox)) return 0;
            const std::uint8_t* box = &sBox.rows[0][0];
            if (newer && id->HashGOST34311Ex(certificate, box, computed) == PKI_OK &&
                SameHash(computed, expected, length))
                return 1;
            if (id->HashGOST34311(certificate, box, computed) != PKI_OK) return 0;
            return SameHash(computed, expected, length) ? 1 : 0;
        }
        if (code <= 6) {
            if (newer && id->HashSHAEx(certificate, code, computed) == PKI_OK && SameHash(computed, expected, length))
                return 1;
            if (id->HashSHA(certificate, code, computed) != PKI_OK) return 0;
            return SameHash(computed, expected, length) ? 1 : 0;
        }
        ObjectRef view;
        if (!QueryInto(identifier, PKI_IID_IDENTIFIERS_DSTU7564, view)) return 0;
        if (view.As<IPKICertificateIdentifiersDSTU7564>()->Hash(certificate, code, computed) != PKI_OK) return 0;
        return SameHash(computed, expected, length) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MatchEntryIdentifier(IPKIObject* certificate, IPKIObject* entry, std::uint32_t code,
                                      std::uint32_t length, const std::uint8_t* expected)
{
    try {
        if (!LibraryVersionAbove(formats_, 258) || !MatchArguments(certificate, entry, code, length, expected))
            return 0;
        auto* e = static_cast<IPKICertificateIdentifiers*>(entry);
        std::uint8_t computed[PKIF_SIGNER_HASH_MAX] = {};
        if (code == 1) {
            GOST28147PackedSBox sBox{};
            if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &sBox)) return 0;
            if (e->HashEntryGOST34311(certificate, &sBox.rows[0][0], computed) != PKI_OK) return 0;
        } else if (code <= 6) {
            if (e->HashEntrySHA(certificate, code, computed) != PKI_OK) return 0;
        } else {
            ObjectRef view;
            if (!QueryInto(entry, PKI_IID_IDENTIFIERS_DSTU7564, view)) return 0;
            if (view.As<IPKICertificateIdentifiersDSTU7564>()->HashEntry(certificate, code, computed) != PKI_OK)
                return 0;
        }
        return SameHash(computed, expected, length) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// The certificate's issuer and serial on the list's last entry (slots 3 and
// 11, which an identifier list and a signed object's signing-certificate
// list share).
template <typename List>
int SetLastEntryIdentity(IPKIInterface* formats, List* list, IPKIObject* certificate)
{
    auto issuer = std::make_unique<wchar_t[]>(PKIF_NAME_TEXT_BYTES);
    ObjectRef serial;
    if (!ReadIssuerAndSerial(formats, certificate, issuer.get(), serial)) return 0;
    std::uint32_t count = 0;
    if (list->GetCount(&count) != PKI_OK || count == 0) return 0;
    return list->SetIdentity(count - 1, issuer.get(), serial.As<IPKIObject>()) == PKI_OK ? 1 : 0;
}

}  // namespace

int SPKIFormats::AddCertificateIdentifierEntry(IPKIObject* list, IPKIObject* certificate)
{
    try {
        if (!formats_ || !list || !certificate) return 0;
        return SetLastEntryIdentity(formats_, static_cast<IPKICertificateIdentifiers*>(list), certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSigningCertificateDSTU7564(IPKIObject* signedObject, std::uint32_t kind, std::uint32_t bytes,
                                               const PKIBlob* certificate)
{
    try {
        if (!formats_ || !signedObject || Empty(certificate)) return 0;
        ObjectRef decoded;
        if (DecodeCertificate(certificate, decoded.Out()) != 1 || !decoded) return 0;
        std::uint32_t keyKind = 0;
        if (decoded.As<IPKICertificate>()->GetKeyKind(&keyKind) != PKI_OK || keyKind != 1) return 0;
        if (kind != 3 || (bytes != 32 && bytes != 48 && bytes != 64)) return 0;
        const std::uint32_t code = bytes == 32 ? 7 : bytes == 48 ? 8 : 9;
        ObjectRef list;
        if (!QueryInto(signedObject, PKI_IID_SIGNING_CERTIFICATE_LIST, list)) return 0;
        auto* l = list.As<IPKISigningCertificateList>();
        std::uint8_t hash[PKIF_SIGNER_HASH_MAX] = {};
        if (l->HashCertificate(decoded.As<IPKIObject>(), code, hash) != PKI_OK) return 0;
        if (l->AddEntry(code, hash) != PKI_OK) return 0;
        // The entry's identity as AddCertificateIdentifierEntry sets it, on
        // this list's own table.
        return SetLastEntryIdentity(formats_, l, decoded.As<IPKIObject>());
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadObjectValue4267(IPKIObject* object, std::uint32_t* value)
{
    try {
        if (!object || !value) return 0;
        ObjectRef view;
        if (!QueryInto(object, PKI_IID_OBJECT_VALUE_4267, view)) return 0;
        return view.As<IPKIObjectValue4267>()->GetValue(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
