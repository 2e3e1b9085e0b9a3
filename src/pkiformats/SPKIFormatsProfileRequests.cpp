// Certificate requests with profile extensions: the extension values a
// holder's request asks for (certificate policies, basic constraints, QC
// statements, alternative names, subject directory attributes) and the
// extended key usages of a request. Each value is a new library object handed
// to the caller, who releases it; on failure nothing is handed out.
#include <cstring>
#include <memory>
#include <vector>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

// Capacities of the texts converted to the library's wide text, terminator
// included; a longer text is refused.
enum : std::uint32_t {
    kQualifierChars = 201,      // a policy's explicit text: at most 200 characters
    kPDSLocationChars = 1025,   // the PDS location
    kLegislationChars = 3,      // a two-letter country code
    kCurrencyChars = 4,         // a three-letter currency code
    kAttributeValueChars = 257  // a directory attribute without a length limit of its own
};

// Alternative-name list items: kind 2 up to 256 characters, kind 1 up to 128.
enum : std::uint32_t { kKind2ItemChars = 256, kKind1ItemChars = 128 };

constexpr const char* kQCTypes[] = {"0.4.0.1862.1.6.1", "0.4.0.1862.1.6.2", "0.4.0.1862.1.6.3"};
constexpr std::size_t kQCTypeBytes = 17;  // the OID with its terminator
constexpr const char* kNaturalPerson = "0.4.0.194121.1.1";
constexpr const char* kLegalPerson = "0.4.0.194121.1.2";
constexpr const char* kPDSLanguage = "en";

bool Given(const char* text)
{
    return text && text[0];
}

// Hands the object to the caller and leaves the holder empty.
void HandOut(ObjectRef& object, void** out)
{
    *out = object.As<IPKIObject>();
    *object.Out() = nullptr;
}

// A view of `object`; the holder releases it.
bool ViewOf(const ObjectRef& object, std::uint32_t interfaceId, ObjectRef& view)
{
    return object.As<IPKIObject>()->QueryInterface(interfaceId, view.Out()) == PKI_OK && view;
}

// Adds the items of a ";"-separated list, each with `kind`; the list ends at
// its end or at the first empty item. An item longer than `maxChars` refuses
// the whole list.
bool AddListItems(IPKIAltNameBuilder* names, std::uint32_t kind, const char* list, std::uint32_t maxChars)
{
    std::vector<char> item(maxChars + 1);
    const char* p = list;
    while (*p) {
        const char* end = std::strchr(p, ';');
        const std::size_t n = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if (n == 0) break;
        if (n > maxChars) return false;
        std::memcpy(item.data(), p, n);
        item[n] = 0;
        if (names->AddName(kind, item.data()) != PKI_OK) return false;
        if (!end) break;
        p = end + 1;
    }
    return true;
}

}  // namespace

int SPKIFormats::MakeCertificatePolicies(const char* oid, const char* qualifier, void** policies)
{
    try {
        if (!policies) return 0;
        *policies = nullptr;
        if (!formats_) return 0;
        ObjectRef set;
        if (formats_->CreateObject(PKI_CLASS_POLICY_SET, PKI_IID_POLICY_SET, set.Out()) != PKI_OK || !set) return 0;
        // Without an OID the set stays empty (a caller that asks for no policy).
        if (oid) {
            if (qualifier) {
                wchar_t wide[kQualifierChars] = {0};
                if (!WideOf(qualifier, kQualifierChars, wide)) return 0;
                ObjectRef view;
                if (!ViewOf(set, PKI_IID_POLICY_QUALIFIER, view) ||
                    view.As<IPKIPolicyQualifier>()->AddQualifiedPolicy(oid, wide) != PKI_OK)
                    return 0;
            } else if (set.As<IPKIPolicySet>()->AddPolicy(oid) != PKI_OK) {
                return 0;
            }
        }
        HandOut(set, policies);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeBasicConstraints(std::uint32_t ca, std::uint32_t pathLength, void** constraints)
{
    try {
        if (!constraints) return 0;
        *constraints = nullptr;
        if (!formats_) return 0;
        ObjectRef value;
        if (formats_->CreateObject(PKI_CLASS_BASIC_CONSTRAINTS, PKI_IID_BASIC_CONSTRAINTS, value.Out()) != PKI_OK ||
            !value)
            return 0;
        auto* bc = value.As<IPKIBasicConstraints>();
        if (bc->SetCA(ca ? 1 : 0) != PKI_OK) return 0;
        // A path length means something only for a CA.
        if (ca && bc->SetPathLength(pathLength) != PKI_OK) return 0;
        HandOut(value, constraints);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeQCStatements(std::uint32_t nationalQC, std::uint32_t europeanQC, const char* pdsLocation,
                                  const char* qcType, std::uint32_t naturalPerson, std::uint32_t legalPerson,
                                  std::uint32_t secureDevice, const char* legislation, std::uint32_t limit,
                                  std::uint32_t limitAmount, const char* limitCurrency, void** statements)
{
    try {
        if (!statements) return 0;
        *statements = nullptr;
        if (!formats_) return 0;
        // The QC type is checked before anything is made: only the three
        // types, exactly (a longer text with one of them in front is not one).
        const char* type = nullptr;
        if (qcType) {
            for (const char* t : kQCTypes)
                if (std::strncmp(qcType, t, kQCTypeBytes) == 0) type = t;
            if (!type) return 0;
        }
        ObjectRef object;
        if (formats_->CreateObject(PKI_CLASS_QC_STATEMENTS, PKI_IID_QC_STATEMENTS, object.Out()) != PKI_OK || !object)
            return 0;
        auto* qc = object.As<IPKIQCStatements>();
        ObjectRef european;
        auto europeanView = [&]() -> IPKIStatements* {
            if (!european && !ViewOf(object, PKI_IID_QC_EUROPEAN, european)) return nullptr;
            return european.As<IPKIStatements>();
        };
        if (europeanQC) {
            IPKIStatements* v = europeanView();
            if (!v || v->AddEuropeanStatement() != PKI_OK) return 0;
        }
        if (limit) {
            wchar_t currency[kCurrencyChars] = {0};
            if (!WideOf(limitCurrency, kCurrencyChars, currency) || qc->SetLimit(currency, limitAmount, 0) != PKI_OK)
                return 0;
        }
        if (secureDevice) {
            IPKIStatements* v = europeanView();
            if (!v || v->AddSecureDeviceStatement() != PKI_OK) return 0;
        }
        if (Given(pdsLocation) && (nationalQC || europeanQC)) {
            auto wide = std::make_unique<wchar_t[]>(kPDSLocationChars);
            ObjectRef pds;
            if (!WideOf(pdsLocation, kPDSLocationChars, wide.get()) || !ViewOf(object, PKI_IID_QC_PDS, pds) ||
                pds.As<IPKIQCPDSLocation>()->SetLocation(kPDSLanguage, wide.get()) != PKI_OK)
                return 0;
        }
        if (type) {
            IPKIStatements* v = europeanView();
            if (!v || v->SetQCType(type) != PKI_OK) return 0;
        }
        if (Given(legislation) && europeanQC) {
            wchar_t wide[kLegislationChars] = {0};
            ObjectRef law;
            if (!WideOf(legislation, kLegislationChars, wide) || !ViewOf(object, PKI_IID_QC_LEGISLATION, law) ||
                law.As<IPKIQCLegislation>()->SetLegislation(wide) != PKI_OK)
                return 0;
        }
        if (naturalPerson || legalPerson) {
            IPKIStatements* v = europeanView();
            if (!v || v->SetSemanticsIdentifier(naturalPerson ? kNaturalPerson : kLegalPerson) != PKI_OK) return 0;
        }
        if (nationalQC && qc->AddNationalStatement() != PKI_OK) return 0;
        european.Reset();
        HandOut(object, statements);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeAltName(const char* kind5, const char* kind4, const char* kind2List, const char* kind1List,
                             const char* kind6, void** altName)
{
    try {
        if (!altName) return 0;
        *altName = nullptr;
        if (!formats_) return 0;
        ObjectRef object;
        if (formats_->CreateObject(PKI_CLASS_ALT_NAME, PKI_IID_ALT_NAME, object.Out()) != PKI_OK || !object) return 0;
        auto* names = object.As<IPKIAltNameBuilder>();
        if (Given(kind5) && names->AddName(5, kind5) != PKI_OK) return 0;
        if (Given(kind4) && names->AddName(4, kind4) != PKI_OK) return 0;
        if (kind2List && !AddListItems(names, 2, kind2List, kKind2ItemChars)) return 0;
        if (kind1List && !AddListItems(names, 1, kind1List, kKind1ItemChars)) return 0;
        if (Given(kind6) && names->AddName(6, kind6) != PKI_OK) return 0;
        HandOut(object, altName);
        return 1;
    } catch (...) {
        return 0;
    }
}

// Only the attributes with a value are set; each value is bounded by its
// attribute's length limit (kAttributeValueChars for one without a limit).
int SPKIFormats::MakeSubjectDirectoryAttributes(std::uint32_t count, const char* const* oids, const char* const* values,
                                                void** attributes)
{
    try {
        if (!attributes) return 0;
        *attributes = nullptr;
        if (!formats_) return 0;
        std::vector<const char*> setOids;
        std::vector<std::vector<wchar_t>> wide;
        for (std::uint32_t i = 0; values && i < count; ++i) {
            if (!Given(values[i])) continue;
            if (!oids || !oids[i]) return 0;
            std::uint32_t limit = 0;
            const std::uint32_t chars = GetNameAttributeMaxLength(oids[i], &limit) ? limit + 1 : kAttributeValueChars;
            std::vector<wchar_t> w(chars, 0);
            if (!WideOf(values[i], chars, w.data())) return 0;
            setOids.push_back(oids[i]);
            wide.push_back(std::move(w));
        }
        if (setOids.empty()) return 1;
        std::vector<const wchar_t*> texts;
        for (const auto& w : wide) texts.push_back(w.data());
        ObjectRef object, setter;
        if (formats_->CreateObject(PKI_CLASS_DIRECTORY_SET, PKI_IID_DIRECTORY_SET, object.Out()) != PKI_OK || !object ||
            !ViewOf(object, PKI_IID_DIRECTORY_ATTRIBUTES, setter) ||
            setter.As<IPKIDirectoryAttributes>()->SetValues(static_cast<std::uint32_t>(setOids.size()), setOids.data(),
                                                            texts.data()) != PKI_OK)
            return 0;
        setter.Reset();
        HandOut(object, attributes);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetRequestExtKeyUsages(IPKIObject* request, const char* usages)
{
    try {
        if (!formats_ || !request || !usages) return 0;
        auto* r = static_cast<IPKIRequest*>(request);
        // A request that asks for no extensions yet gets a list of its own.
        ObjectRef list;
        int rc = r->GetRequestedExtensions(list.Out());
        if (rc == PKI_E_ABSENT) {
            list.Reset();
            rc = formats_->CreateObject(PKI_CLASS_EXTENSION_SET, PKI_IID_EXTENSION_SET, list.Out());
        }
        if (rc != PKI_OK || !list) return 0;
        ObjectRef requested, usage;
        if (!ViewOf(list, PKI_IID_REQUESTED_EXTENSIONS, requested) ||
            formats_->CreateObject(PKI_CLASS_EXT_KEY_USAGE, PKI_IID_EXT_KEY_USAGE, usage.Out()) != PKI_OK || !usage ||
            usage.As<IPKIExtKeyUsage>()->SetUsages(usages) != PKI_OK ||
            requested.As<IPKIRequestedExtensions>()->SetExtKeyUsage(usage.As<IPKIObject>()) != PKI_OK ||
            r->SetRequestedExtensions(list.As<IPKIObject>()) != PKI_OK)
            return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

// The hash kinds a DSTU 4145 request is re-signed with: GOST 34.311, and
// DSTU 7564 in its 32-byte form only (the form the facade's DSTU 7564
// signing makes); the longer DSTU 7564 kinds and the SHA kinds are refused.
constexpr std::uint32_t kHashKindGOST34311 = 1;
constexpr std::uint32_t kHashKindDSTU7564_256 = 7;
constexpr std::uint32_t kDSTU7564HashBytes = 32;

// Signs the request's to-be-signed bytes with the key by family through the
// facade's own signing operations and sets the signature into the request.
// The raw signature lives only in a wiping buffer sized for the family's
// largest value (DSTU 4145 curves of 305 bits and above need 152 bytes).
int SignRequestByFamily(SPKIFormats& facade, IPKIInterface* formats, IPKIObject* key, IPKIObject* request,
                        std::uint32_t family)
{
    auto* r = static_cast<IPKIRequest*>(request);
    LibraryBlob tbs(formats), encoded(formats);
    if (r->GetToBeSigned(&tbs.blob) != PKI_OK || !tbs.blob.data || tbs.blob.length == 0) return 0;
    Secret<PKIF_SIGNATURE_MAX> value;
    std::uint32_t length = 0;
    if (family == 1) {
        std::uint32_t code = 0, hashLength = 0;
        if (!facade.GetHashAlgorithmOfRequest(request, &code, &hashLength)) return 0;
        if (code == kHashKindGOST34311) {
            if (!facade.SignDataDSTU4145(key, &tbs.blob, &encoded.blob) ||
                !facade.DecodeDSTU4145Signature(&encoded.blob, value.bytes, &length) || length == 0 ||
                length > PKIF_DSTU4145_SIGNATURE_MAX)
                return 0;
            return r->SetSignature(value.bytes, length) == PKI_OK ? 1 : 0;
        }
        if (code != kHashKindDSTU7564_256 || hashLength != kDSTU7564HashBytes) return 0;
        ObjectRef hashView;
        if (!QueryInto(request, PKI_IID_REQUEST_HASH, hashView) ||
            !facade.SignDataDSTU4145With7564(key, &tbs.blob, &encoded.blob) ||
            !facade.DecodeDSTU4145Signature(&encoded.blob, value.bytes, &length) || length == 0 ||
            length > PKIF_DSTU4145_SIGNATURE_MAX)
            return 0;
        return hashView.As<IPKIRequestHash>()->SetSignatureWithHashLength(value.bytes, length, hashLength) == PKI_OK
                   ? 1
                   : 0;
    }
    if (family == 2) {
        if (!facade.SignDataRSA(key, &tbs.blob, &encoded.blob) ||
            !facade.DecodeRSASignature(&encoded.blob, value.bytes, &length) || length == 0 ||
            length > PKIF_SIGNATURE_MAX)
            return 0;
        return r->SetSignature(value.bytes, length) == PKI_OK ? 1 : 0;
    }
    if (family == 4) {
        // ECDSA over SHA-256, the hash the facade's key-family signing uses.
        if (!facade.SignDataECDSA(key, 256, &tbs.blob, &encoded.blob) ||
            !facade.DecodeECDSASignature(&encoded.blob, value.bytes))
            return 0;
        return r->SetSignature(value.bytes, PKIF_ECDSA_SIGNATURE_RECORD) == PKI_OK ? 1 : 0;
    }
    return 0;
}

}  // namespace

// The key object signs in every case: flags A and B only choose key usages
// when a request is made, and re-signing keeps the request's own usages.
int SPKIFormats::ResignRequestWithExtKeyUsages(IPKIObject* key, const PKIBlob* request, const char* usages,
                                               std::uint32_t flagA, std::uint32_t flagB, PKIBlob* out)
{
    (void)flagA;
    (void)flagB;
    try {
        if (!key || !request || !usages || !out || out->data || !formats_) return 0;
        ObjectRef decoded;
        if (!DecodeObject4873(request, decoded.Out()) || !decoded) return 0;
        auto* r = decoded.As<IPKIRequest>();
        std::uint32_t family = 0;
        if (r->GetKeyKind(&family) != PKI_OK) return 0;
        if (!SetRequestExtKeyUsages(decoded.As<IPKIObject>(), usages)) return 0;
        if (!SignRequestByFamily(*this, formats_, key, decoded.As<IPKIObject>(), family)) return 0;
        LibraryBlob encoded(formats_);
        if (r->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        return CopyOut(encoded.blob.data, encoded.blob.length, out);
    } catch (...) {
        return 0;
    }
}
