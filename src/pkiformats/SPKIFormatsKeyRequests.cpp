// Key-identified certificate requests and the request for a two-party
// (common) DSTU 4145 key, and the sequence number carried in a certificate's
// revocation-list locations.
#include <cstring>
#include <vector>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/HolderProfiles.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/KeyRequests.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

// As much as the location reader writes (terminator included).
constexpr std::uint32_t kLocationTextBytes = 1024;

constexpr std::uint32_t kKeyIdentifierBytes = 20;

// Signature algorithms of the common key's request, by curve basis.
const char kCommonPolynomial[] = "1.2.804.2.1.1.1.1.3.1.1";
const char kCommonNormal[] = "1.2.804.2.1.1.1.1.3.1.2";
const char kCommonPolynomial7564[] = "1.2.804.2.1.1.1.1.3.6.1.1";
const char kCommonNormal7564[] = "1.2.804.2.1.1.1.1.3.6.1.2";

// Encodes a request (any of its views) into the caller's empty blob.
template <typename View>
int EncodeInto(IPKIInterface* formats, View* request, PKIBlob* out)
{
    LibraryBlob encoded(formats);
    if (request->Encode(&encoded.blob) != 0 || !encoded.blob.data) return 0;
    *out = encoded.blob;
    encoded.blob = PKIBlob{0, nullptr};
    return 1;
}

// A key identifier object (4896 / 4131) holding `length` bytes (slot 6), or
// 32 of them (slot 4) when `whole` is set.
bool IdentifierObject(IPKIInterface* formats, const std::uint8_t* id, std::uint32_t length, bool whole,
                      ObjectRef& object)
{
    if (!CreateInto(formats, PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE, object)) return false;
    auto* value = object.As<IPKIAttribute>();
    return (whole ? value->SetValue32(id) : value->SetValue(id, length)) == 0;
}

// An extended-key-usage extension (4885 / 4119) with the caller's usages.
bool UsageExtension(IPKIInterface* formats, const char* usages, ObjectRef& extension)
{
    return CreateInto(formats, PKI_CLASS_EXT_KEY_USAGE, PKI_IID_EXT_KEY_USAGE, extension) &&
           extension.As<IPKIExtKeyUsage>()->SetUsages(usages) == 0;
}

int VersionAbove(IPKIInterface* formats, std::uint32_t floor)
{
    std::uint32_t version = 0;
    return formats && formats->GetVersion(&version) == 0 && version > floor;
}

}  // namespace

// ---- Sequence numbers of revocation-list locations ----

int SPKIFormats::GetNameSequenceNumber(IPKIObject* object, std::int32_t* number)
{
    try {
        if (!object || !number) return 0;
        std::vector<char> text(kLocationTextBytes, 0);
        if (!GetDistributionURL(object, 0, text.data()) && !GetDistributionURL(object, 1, text.data())) return 0;
        std::uint32_t position = 0;
        return ParseFileNameSerialSuffix(text.data(), &position, number);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ComposeSequencedName(std::uint32_t kind, const char* text, std::uint32_t family,
                                      IPKIObject* certificate, std::int32_t number, char* out)
{
    try {
        if (!out) return 0;
        out[0] = 0;
        std::vector<char> read;
        if (!text) {
            if (!certificate) return 0;
            // The location of the family's view of the certificate.
            ObjectRef view;
            IPKIObject* source = certificate;
            if (family == 2) {
                if (static_cast<IPKICertificate*>(certificate)->GetRSAView(view.Out()) != 0 || !view) return 0;
                source = view.As<IPKIObject>();
            } else if (family == 4) {
                *view.Out() = GetECCertificate(certificate);
                if (!view) return 0;
                source = view.As<IPKIObject>();
            }
            read.assign(kLocationTextBytes, 0);
            if (!GetDistributionURL(source, kind, read.data()) || !std::memchr(read.data(), 0, read.size())) return 0;
            text = read.data();
        }
        return ComposeSerialSuffix(text, number, out, PKIF_SEQUENCED_NAME_BYTES);
    } catch (...) {
        if (out) out[0] = 0;
        return 0;
    }
}

// ---- Requests identified by their key ----

int SPKIFormats::CreateRequestForKeyId(const char* name, const PKIBlob* keySource, const std::uint8_t* subject,
                                       std::uint32_t* subjectLength, const char* subjectName, PKIBlob* out)
{
    try {
        if (Empty(keySource) || !subject || !subjectLength || !out || out->data || !formats_) return 0;
        std::uint8_t id[kKeyIdentifierBytes] = {};
        if (formats_->KeyIdentifier(keySource, id) != 0) return 0;
        ObjectRef request, identifier;
        if (!CreateInto(formats_, PKI_CLASS_REQUEST, PKI_IID_REQUEST, request) ||
            !IdentifierObject(formats_, id, sizeof id, false, identifier))
            return 0;
        auto* r = request.As<IPKIRequest>();
        if (r->SetKeyIdentifier(identifier.As<IPKIObject>()) != 0 || r->SetSubject(subject, subjectLength) != 0)
            return 0;
        if (name) {
            ObjectRef naming;
            if (!QueryInto(request.As<IPKIObject>(), PKI_IID_REQUEST_SIGNING, naming) ||
                naming.As<IPKIRequestSigning>()->SetNameText(name) != 0)
                return 0;
        } else if (subjectName && r->SetSubjectName(subjectName) != 0) {
            return 0;
        }
        return EncodeInto(formats_, r, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDSTU4145Request(const std::uint8_t* key, std::uint32_t keyLength, const char* usages,
                                       void** request)
{
    try {
        if (!key || keyLength == 0 || keyLength > PKIF_DSTU4145_PUBLIC_KEY_BYTES) return 0;
        if (!VersionAbove(formats_, 261)) return 0;
        std::uint8_t id[PKIF_KEY_IDENTIFIER_MAX] = {};
        PKIBlob publicKey{keyLength, const_cast<std::uint8_t*>(key)};
        if (formats_->PublicKeyIdentifier(&publicKey, id) != 0) return 0;
        ObjectRef created, identifier;
        if (!CreateInto(formats_, PKI_CLASS_REQUEST, PKI_IID_EC_REQUEST, created) ||
            !IdentifierObject(formats_, id, kKeyIdentifierBytes, false, identifier))
            return 0;
        auto* r = created.As<IPKIRequestEC>();
        if (r->SetKeyIdentifier(identifier.As<IPKIObject>()) != 0) return 0;
        if (usages) {
            ObjectRef extension;
            if (!UsageExtension(formats_, usages, extension) || r->AddExtension(extension.As<IPKIObject>()) != 0)
                return 0;
        }
        if (r->SetPublicKey(key, keyLength) != 0) return 0;
        if (request) {
            ObjectRef general;
            if (!QueryInto(created.As<IPKIObject>(), PKI_IID_REQUEST, general)) return 0;
            *request = general.As<IPKIObject>();
            *general.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDSTU4145RequestForKeyId(const char* name, std::uint32_t keyLength, const std::uint8_t* key,
                                               const std::uint8_t* record, PKIBlob* out)
{
    try {
        if (!out || out->data || (!name && !record)) return 0;
        ObjectRef request;
        if (!CreateDSTU4145Request(key, keyLength, nullptr, request.Out()) || !request) return 0;
        ObjectRef view;
        if (name) {
            if (!QueryInto(request.As<IPKIObject>(), PKI_IID_REQUEST_SIGNING, view) ||
                view.As<IPKIRequestSigning>()->SetNameTextDSTU4145(name) != 0)
                return 0;
        } else if (!QueryInto(request.As<IPKIObject>(), PKI_IID_EC_REQUEST, view) ||
                   view.As<IPKIRequestEC>()->SetECRecord(0, 0, record) != 0) {
            return 0;
        }
        return EncodeInto(formats_, request.As<IPKIRequest>(), out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateDSTU4145RequestForKey(std::uint32_t keyLength, const std::uint8_t* key,
                                             const std::uint8_t* record, PKIBlob* out)
{
    return CreateDSTU4145RequestForKeyId(nullptr, keyLength, key, record, out);
}

int SPKIFormats::BuildKeyRequest(const std::uint8_t* key, const DSTU4145FieldRecord* field,
                                 const DSTU4145PointRecord* point, std::uint32_t fromValues,
                                 std::uint32_t polynomialBasis, std::uint32_t curveIndex, std::uint32_t keyKind,
                                 const std::uint8_t* sBox, const char* usages, void** parameters, void** request)
{
    try {
        if (!key || !parameters || !request || !formats_) return 0;
        if (keyKind != 1 && keyKind != 7) return 0;
        if (keyKind == 7) {
            if (!VersionAbove(formats_, 271)) return 0;
            sBox = nullptr;  // the DSTU 7564 form carries no S-box of its own
        }
        // The key's length follows the curve's degree: the caller's curve, or
        // the standard one named by basis and index.
        DSTU4145FieldRecord standardField{};
        DSTU4145PointRecord standardPoint{};
        if (fromValues) {
            if (!csp_ || !csp_->Parameters().GetStandardCurve(polynomialBasis ? 1 : 0, curveIndex, &standardField,
                                                              &standardPoint))
                return 0;
            field = &standardField;
        } else if (!field || !point) {
            return 0;
        }
        const std::uint32_t bits = field->words[DSTU4145_FIELD_M];
        const std::uint32_t length = (bits + 7) / 8;
        if (length == 0 || length > PKIF_DSTU4145_PUBLIC_KEY_BYTES) return 0;
        std::uint8_t id[PKIF_KEY_IDENTIFIER_MAX] = {};
        if (keyKind == 1 ? formats_->KeyIdentifierWithSBox(key, length, sBox, id) != 0
                         : formats_->KeyIdentifierDSTU7564(key, length, id) != 0)
            return 0;
        ObjectRef created, identifier, curve;
        if (!CreateInto(formats_, PKI_CLASS_REQUEST, PKI_IID_REQUEST, created) ||
            !IdentifierObject(formats_, id, sizeof id, true, identifier))
            return 0;
        auto* r = created.As<IPKIRequest>();
        if (r->SetKeyIdentifier(identifier.As<IPKIObject>()) != 0) return 0;
        if (!CreateInto(formats_, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, curve)) return 0;
        auto* p = curve.As<IPKIParameters>();
        if ((fromValues ? p->SetStandard(polynomialBasis, curveIndex, sBox) : p->SetExplicit(field, point, sBox)) != 0)
            return 0;
        if (r->SetPublicKey(key, bits, curve.As<IPKIObject>()) != 0) return 0;
        if (usages) {
            ObjectRef extension;
            if (!UsageExtension(formats_, usages, extension) || r->AddExtension(extension.As<IPKIObject>()) != 0)
                return 0;
        }
        *parameters = curve.As<IPKIObject>();
        *curve.Out() = nullptr;
        *request = created.As<IPKIObject>();
        *created.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Two-party (common) DSTU 4145 keys ----

namespace {

// The common key's request with the signature algorithm of its basis, set
// through the DSTU 4145 form (4225, slot 100) or, for DSTU 7564 hashing,
// through the hash form (4237, slot 106).
int BuildCommon(ISPKIFormats& facade, IPKIInterface* formats, const PKIFCommonKeyRequest* a, bool dstu7564)
{
    if (!a || !a->publicKey || !a->field || !a->point || !a->out || a->out->data) return 0;
    const bool polynomial = a->field->words[DSTU4145_FIELD_COFACTOR] != 0;
    ObjectRef parameters, request, view;
    if (!facade.BuildKeyRequest(a->publicKey, a->field, a->point, 0, 0, 0, 1, a->sBox, a->usages, parameters.Out(),
                                request.Out()))
        return 0;
    if (dstu7564) {
        if (!QueryInto(request.As<IPKIObject>(), PKI_IID_REQUEST_HASH, view) ||
            view.As<IPKIRequestHash>()->SetSignatureAlgorithm(polynomial ? kCommonPolynomial7564 : kCommonNormal7564) !=
                0)
            return 0;
        return EncodeInto(formats, request.As<IPKIRequest>(), a->out);
    }
    if (!QueryInto(request.As<IPKIObject>(), PKI_IID_EC_REQUEST, view)) return 0;
    auto* ec = view.As<IPKIRequestEC>();
    if (ec->SetSignatureAlgorithm(polynomial ? kCommonPolynomial : kCommonNormal) != 0) return 0;
    return EncodeInto(formats, ec, a->out);
}

}  // namespace

int SPKIFormats::BuildCommonKeyRequest(const PKIFCommonKeyRequest* arguments)
{
    try {
        return BuildCommon(*this, formats_, arguments, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BuildCommonKeyRequest7564(const PKIFCommonKeyRequest* arguments)
{
    try {
        return BuildCommon(*this, formats_, arguments, true);
    } catch (...) {
        return 0;
    }
}

namespace {

int CreateCommon(SPKIFormats& facade, IPKIInterface* formats, const PKIBlob* first, const PKIBlob* second,
                 PKIBlob* request, std::uint8_t* commonKey, bool dstu7564)
{
    if (Empty(first) || Empty(second) || !request || request->data) return 0;
    // The module's provider makes the common key; without one the
    // operation is not usable.
    CSP* module = facade.ModuleCSP();
    if (!module) return 0;
    ObjectRef certificates[2];
    std::uint8_t keys[2][PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
    const PKIBlob* encoded[2] = {first, second};
    for (int i = 0; i < 2; ++i) {
        if (!CreateInto(formats, PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, certificates[i]) ||
            certificates[i].As<IPKICertificate>()->Decode(encoded[i]) != 0)
            return 0;
    }
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t bits = 0, flag = 0, value = 0;
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    if (!facade.CompareDSTU4145Parameters(certificates[0].As<IPKIObject>(), certificates[1].As<IPKIObject>(), &field,
                                          &point, &bits, &flag, &value, sBox))
        return 0;
    for (int i = 0; i < 2; ++i) {
        auto* c = certificates[i].As<IPKIObject>();
        std::uint32_t found = 0;
        char policy[PKIF_OID_TEXT_BYTES];
        if (!facade.FindMakerPolicy(c, &found, policy)) return 0;
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (static_cast<IPKICertificate*>(c)->GetDSTU4145PublicKey(keys[i], &length, parameters.Out()) != 0) return 0;
    }
    std::uint8_t common[PKIF_COMMON_KEY_BYTES] = {};
    if (module->MakeCommonKeyQDSTU4145(&field, &point, keys[0], keys[1], common) != CSP_OK) return 0;
    const PKIFCommonKeyRequest arguments{common, &field, &point, sBox, nullptr, request};
    if (!(dstu7564 ? facade.BuildCommonKeyRequest7564(&arguments) : facade.BuildCommonKeyRequest(&arguments))) return 0;
    if (commonKey) std::memcpy(commonKey, common, sizeof common);
    return 1;
}

}  // namespace

int SPKIFormats::CreateCommonKeyRequest(const PKIBlob* first, const PKIBlob* second, PKIBlob* request,
                                        std::uint8_t* commonKey)
{
    try {
        return CreateCommon(*this, formats_, first, second, request, commonKey, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateCommonKeyRequest7564(const PKIBlob* first, const PKIBlob* second, PKIBlob* request,
                                            std::uint8_t* commonKey, const void*, const void*)
{
    try {
        return CreateCommon(*this, formats_, first, second, request, commonKey, true);
    } catch (...) {
        return 0;
    }
}
