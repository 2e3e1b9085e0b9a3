// Certificate public keys and key parameters: key families and their
// library algorithm ids, key capabilities, the EC values of requests and
// certificates with the walk over the second provider's named curves, and
// the public keys of private-key objects kept in the object's key cache.
#include <cstring>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

// Library algorithm ids by key family. The third pair stays as the library
// numbers it (family 3, id 377), apart from the ECDSA family 4 of
// certificates and requests.
constexpr struct {
    std::uint32_t family, id;
} kAlgorithmIds[] = {{1, 365}, {2, 373}, {3, 377}};

// Fills the word after the record with the hash size of the first named
// curve of the second provider whose key size reaches the record's leading
// bit size (the last curve's when none does).
bool ChooseNamedCurve(CSPI* cspi, std::uint8_t* record)
{
    if (!cspi) return false;
    const std::uint32_t wanted = static_cast<std::uint32_t>(record[0]) | (static_cast<std::uint32_t>(record[1]) << 8);
    bool any = false;
    for (std::uint32_t i = 0;; ++i) {
        std::uint32_t fieldBits = 0, hashBits = 0;
        char name[CSPI_TEXT_BYTES], oid[CSPI_TEXT_BYTES];
        if (!cspi->Parameters()->DescribeCurve(i, &fieldBits, &hashBits, name, oid)) break;
        any = true;
        Put32(record, PKIF_EC_RECORD_BYTES, hashBits);
        if (fieldBits >= wanted) break;
    }
    return any;
}

// The EC value `index` through the view `interfaceId` of `object`.
template <typename View>
int ReadECValue(IPKIObject* object, std::uint32_t interfaceId, std::uint32_t index, std::uint8_t* value)
{
    ObjectRef view;
    if (!value || !QueryInto(object, interfaceId, view)) return 0;
    return view.As<View>()->GetECValue(index, value) == 0 ? 1 : 0;
}

template <typename View>
int ReadECRecordByCurve(CSPI* cspi, IPKIObject* object, std::uint32_t interfaceId, std::uint8_t* record)
{
    if (!record || !cspi) return 0;
    std::uint8_t work[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
    if (!ReadECValue<View>(object, interfaceId, PKI_EC_VALUE_RECORD, work)) return 0;
    if (!ChooseNamedCurve(cspi, work)) return 0;
    std::memcpy(record, work, sizeof work);
    return 1;
}

// The key cache of a key object (interface 4233): 1 a hit of the expected
// length copied into `out`, 0 a miss (no cache, no value, a failed read),
// -1 a value of another length.
int ReadCache(IPKIInterface* formats, IPKIObject* key, std::uint32_t slot, std::uint8_t* out, std::uint32_t length)
{
    ObjectRef cache;
    if (!QueryInto(key, PKI_IID_KEY_SET, cache)) return 0;
    LibraryBlob value(formats);
    if (cache.As<IPKIKeySet>()->GetValue(slot, &value.blob) != 0 || !value.blob.data) return 0;
    if (value.blob.length != length) return -1;
    std::memcpy(out, value.blob.data, length);
    return 1;
}

// A value that cannot be kept is computed again next time.
void WriteCache(IPKIObject* key, std::uint32_t slot, std::uint8_t* value, std::uint32_t length)
{
    ObjectRef cache;
    if (!QueryInto(key, PKI_IID_KEY_SET, cache)) return;
    PKIBlob blob{length, value};
    (void)cache.As<IPKIKeySet>()->SetValue(slot, &blob);
}

// Writes the caller's record with the chosen named curve's word through the
// view's writer.
template <typename View>
int WriteRecordByCurve(CSPI* cspi, IPKIObject* object, std::uint32_t interfaceId,
                       int (View::*write)(std::uint32_t, std::uint32_t, const std::uint8_t*), std::uint32_t a,
                       std::uint32_t b, const std::uint8_t* record)
{
    if (!record || !cspi) return 0;
    std::uint8_t work[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
    std::memcpy(work, record, PKIF_EC_RECORD_BYTES);
    if (!ChooseNamedCurve(cspi, work)) return 0;
    ObjectRef view;
    if (!QueryInto(object, interfaceId, view)) return 0;
    return (view.As<View>()->*write)(a, b, work) == 0 ? 1 : 0;
}

// Hands a source certificate's EC key and record (with its named curve's
// word) to the target's view.
template <typename View>
int CopyECFromCertificate(SPKIFormats& facade, IPKIObject* target, std::uint32_t interfaceId,
                          int (View::*copy)(const std::uint8_t*, const std::uint8_t*), IPKIObject* source)
{
    std::uint8_t key[PKIF_EC_PUBLIC_KEY_BYTES] = {}, record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
    if (!facade.GetECCertificateParameter(source, PKI_EC_VALUE_PUBLIC_KEY, key) ||
        !facade.GetECCertificateParametersByCurve(source, record))
        return 0;
    ObjectRef view;
    if (!QueryInto(target, interfaceId, view)) return 0;
    return (view.As<View>()->*copy)(key, record) == 0 ? 1 : 0;
}

// A certificate reports its key kind and DSTU 4145 key through its own
// interface (slots 23, 25), a request through its interface (slots 13, 16);
// an object that offers neither has none.
int KeyKindOf(IPKIObject* object, std::uint32_t* kind)
{
    ObjectRef view;
    if (QueryInto(object, PKI_IID_CERTIFICATE, view)) return view.As<IPKICertificate>()->GetKeyKind(kind);
    if (QueryInto(object, PKI_IID_REQUEST, view)) return view.As<IPKIRequest>()->GetKeyKind(kind);
    return PKI_E_NO_INTERFACE;
}

int DSTU4145KeyOf(IPKIObject* object, std::uint8_t* key, std::uint32_t* length, void** parameters)
{
    ObjectRef view;
    if (QueryInto(object, PKI_IID_CERTIFICATE, view))
        return view.As<IPKICertificate>()->GetDSTU4145PublicKey(key, length, parameters);
    if (QueryInto(object, PKI_IID_REQUEST, view))
        return view.As<IPKIRequestKeys>()->GetDSTU4145PublicKey(key, length, parameters);
    return PKI_E_NO_INTERFACE;
}

// A key object's EC key and record read through its interface 4224, which
// stays at hand for further calls; the key is wiped on scope exit.
struct ECKeyRead {
    ObjectRef view;
    Secret<PKIF_EC_PRIVATE_KEY_BYTES> key;
    std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
    std::uint32_t length = 0;
    bool From(IPKIObject* object)
    {
        return QueryInto(object, PKI_IID_KEY_EXPORT, view) &&
               View()->ReadECKey(key.bytes, &length, nullptr, nullptr, record) == 0 && length <= sizeof key.bytes;
    }
    IPKIKeyExportEC* View() const { return view.As<IPKIKeyExportEC>(); }
};

}  // namespace

int SPKIFormats::GetKeyFamilyOfAlgorithmId(std::uint32_t algorithmId, std::uint32_t* family)
{
    for (const auto& p : kAlgorithmIds)
        if (p.id == algorithmId) {
            if (!family) return 0;
            *family = p.family;
            return 1;
        }
    return 0;
}

int SPKIFormats::GetAlgorithmIdOfKeyFamily(std::uint32_t family, std::uint32_t* algorithmId)
{
    for (const auto& p : kAlgorithmIds)
        if (p.family == family) {
            if (!algorithmId) return 0;
            *algorithmId = p.id;
            return 1;
        }
    return 0;
}

int SPKIFormats::GetKeyCapabilities(IPKIObject* key, std::uint32_t* signing, std::uint32_t* other)
{
    try {
        if (!key || !signing || !other) return 0;
        std::uint32_t bits = 0;
        ObjectRef ec;
        if (QueryInto(key, PKI_IID_KEY_EXPORT, ec)) {
            if (ec.As<IPKIKeyExportEC>()->GetECCapabilities(&bits) != 0) return 0;
        } else if (static_cast<IPKIKeyObject*>(key)->GetCapabilities(&bits) != 0) {
            return 0;
        }
        *signing = bits & 1;
        *other = bits & 6;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadECKey(IPKIObject* object, std::uint8_t* key, std::uint32_t* keyLength, const void* unused1,
                           const void* unused2, std::uint8_t* record)
{
    try {
        ObjectRef ec;
        if (!key || !keyLength || !record || !QueryInto(object, PKI_IID_KEY_EXPORT, ec)) return 0;
        return ec.As<IPKIKeyExportEC>()->ReadECKey(key, keyLength, unused1, unused2, record) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::WriteECPublicKey(IPKIObject* object, const std::uint8_t* key, std::uint32_t keyLength,
                                  const std::uint8_t* record, std::uint8_t* identifier)
{
    try {
        std::uint32_t version = 0;
        if (!formats_ || formats_->GetVersion(&version) != 0 || version <= 261) return 0;
        ObjectRef ec;
        if (!QueryInto(object, PKI_IID_KEY_EXPORT, ec)) return 0;
        // The identifier of the key given (20 bytes, handed out too), else
        // the caller's.
        std::uint8_t id[PKIF_KEY_IDENTIFIER_MAX] = {};
        if (key) {
            PKIBlob point{keyLength, const_cast<std::uint8_t*>(key)};
            if (formats_->PublicKeyIdentifier(&point, id) != 0) return 0;
        } else if (identifier) {
            std::memcpy(id, identifier, sizeof id);
        } else {
            return 0;
        }
        ObjectRef value;
        if (!CreateInto(formats_, PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE, value)) return 0;
        if (value.As<IPKIAttribute>()->SetValue(id, 20) != 0) return 0;
        auto* view = ec.As<IPKIKeyExportEC>();
        if (view->SetKeyIdentifier(value.As<IPKIObject>()) != 0 || view->WriteECKey(key, keyLength, record) != 0)
            return 0;
        if (key && identifier) std::memcpy(identifier, id, 20);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetECParametersRecord(IPKIObject* object, std::uint32_t index, std::uint8_t* value)
{
    try {
        return ReadECValue<IPKIRequestEC>(object, PKI_IID_EC_REQUEST, index, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetECParametersByCurve(IPKIObject* request, std::uint8_t* record)
{
    try {
        return ReadECRecordByCurve<IPKIRequestEC>(cspi_, request, PKI_IID_EC_REQUEST, record);
    } catch (...) {
        return 0;
    }
}

IPKIObject* SPKIFormats::GetECCertificate(IPKIObject* certificate)
{
    try {
        ObjectRef ec;
        if (!QueryInto(certificate, PKI_IID_CERTIFICATE_EX, ec)) return nullptr;
        void* inner = nullptr;
        if (ec.As<IPKICertificateECKeys>()->GetInnerECCertificate(&inner) != 0) return nullptr;
        return static_cast<IPKIObject*>(inner);
    } catch (...) {
        return nullptr;
    }
}

int SPKIFormats::GetECCertificateParameter(IPKIObject* certificate, std::uint32_t index, std::uint8_t* value)
{
    try {
        return ReadECValue<IPKICertificateECKeys>(certificate, PKI_IID_CERTIFICATE_EX, index, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetECCertificateParametersByCurve(IPKIObject* certificate, std::uint8_t* record)
{
    try {
        return ReadECRecordByCurve<IPKICertificateECKeys>(cspi_, certificate, PKI_IID_CERTIFICATE_EX, record);
    } catch (...) {
        return 0;
    }
}

// ---- Public keys of private-key objects, through the key cache ----

int SPKIFormats::GetDSTU4145PublicKey(IPKIObject* key, const void* agreement, std::uint32_t* cached,
                                      std::uint8_t* publicKey, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      std::uint8_t* sBox)
{
    try {
        if (!key || !publicKey) return 0;
        const std::uint32_t slot = agreement ? PKI_KEY_CACHE_DSTU4145_AGREEMENT : PKI_KEY_CACHE_DSTU4145;
        std::uint8_t value[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        const int hit = ReadCache(formats_, key, slot, value, sizeof value);
        if (hit < 0) return 0;
        // The curve goes out either way, so the key is read on a hit too.
        Secret<PKIF_DSTU4145_PUBLIC_KEY_BYTES> privateKey;
        DSTU4145FieldRecord f{};
        DSTU4145PointRecord p{};
        std::uint8_t s[PKI_SBOX_BYTES] = {};
        {
            LibraryBlob keyValue(formats_);
            ObjectRef parameters;
            if (static_cast<IPKIKeyObject*>(key)->GetKeyValue(&keyValue.blob, parameters.Out()) != 0 || !parameters)
                return 0;
            if (keyValue.blob.length > sizeof privateKey.bytes) return 0;
            if (keyValue.blob.length) std::memcpy(privateKey.bytes, keyValue.blob.data, keyValue.blob.length);
            if (parameters.As<IPKIParameters>()->GetParameters(&f, &p, s) != 0) return 0;
            if (!hit && keyValue.blob.length == 0) return 0;  // nothing to compute from
        }
        if (!hit) {
            if (!csp_) return 0;
            HolderScope<CSPContextHolder> scope;
            InitCSPContextHolder(&scope.holder, csp_, key, 1, 0);
            const int rc = PublicKeyWithHolder(&scope.holder, agreement != nullptr, &f, &p, privateKey.bytes, value);
            if (rc != CSP_OK) return 0;
            WriteCache(key, slot, value, sizeof value);
        }
        std::memcpy(publicKey, value, sizeof value);
        if (cached) *cached = hit ? 1 : 0;
        if (field) *field = f;
        if (point) *point = p;
        if (sBox) std::memcpy(sBox, s, sizeof s);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetRSAPublicKey(IPKIObject* key, std::uint32_t* cached, std::uint8_t* publicKey, std::uint8_t* profile)
{
    try {
        if (!key || !publicKey) return 0;
        Secret<PKIF_RSA_PRIVATE_KEY_BYTES> privateKey;  // the provider's RSA private-key form
        std::uint8_t value[PKIF_RSA_PUBLIC_KEY_BYTES] = {};
        std::uint8_t keyProfile[PKIF_RSA_PROFILE_BYTES] = {};
        const int hit = ReadCache(formats_, key, PKI_KEY_CACHE_RSA, value, sizeof value);
        if (hit < 0) return 0;
        if (static_cast<IPKIKeyObject*>(key)->GetRSAKey(privateKey.bytes, keyProfile) != 0) return 0;
        if (!hit) {
            if (!cspi_) return 0;
            HolderScope<CSPIContextHolder> scope;
            InitCSPIContextHolder(&scope.holder, cspi_, key, 1, 0);
            const int rc = PublicKeyRSAWithHolder(&scope.holder, keyProfile, privateKey.bytes, value);
            if (rc != CSP_OK) return 0;
            WriteCache(key, PKI_KEY_CACHE_RSA, value, sizeof value);
        }
        std::memcpy(publicKey, value, sizeof value);
        if (cached) *cached = hit ? 1 : 0;
        if (profile) std::memcpy(profile, keyProfile, sizeof keyProfile);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetECPublicKey(IPKIObject* key, std::uint32_t* cached, std::uint8_t* publicKey, std::uint8_t* record)
{
    try {
        if (!key || !publicKey) return 0;
        Secret<PKIF_EC_PRIVATE_KEY_BYTES> privateKey;
        std::uint8_t value[PKIF_EC_PUBLIC_KEY_BYTES] = {};
        std::uint8_t curve[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
        std::uint32_t keyLength = 0;
        const int hit = ReadCache(formats_, key, PKI_KEY_CACHE_EC, value, sizeof value);
        if (hit < 0) return 0;
        if (!ReadECKey(key, privateKey.bytes, &keyLength, nullptr, nullptr, curve)) return 0;
        if (!hit) {
            if (!cspi_) return 0;
            HolderScope<CSPIContextHolder> scope;
            InitCSPIContextHolder(&scope.holder, cspi_, key, 1, 0);
            const int rc = PublicKeyECDSAWithHolder(&scope.holder, curve, privateKey.bytes, value);
            if (rc != CSP_OK) return 0;
            WriteCache(key, PKI_KEY_CACHE_EC, value, sizeof value);
        }
        std::memcpy(publicKey, value, sizeof value);
        if (cached) *cached = hit ? 1 : 0;
        if (record) std::memcpy(record, curve, PKIF_EC_RECORD_BYTES);
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Two-party (common) DSTU 4145 keys ----

int SPKIFormats::CheckCommonKeySignature(const PKIBlob* request, const std::uint8_t* signature,
                                         std::uint32_t signatureLength, PKIBlob* out)
{
    try {
        if (Empty(request) || !signature || !out || out->data) return 0;
        // The module's provider checks the parameters; without one the
        // operation is not usable.
        CSP* module = ModuleCSP();
        if (!module) return 0;
        ObjectRef object;
        if (!CreateInto(formats_, PKI_CLASS_REQUEST, PKI_IID_EC_REQUEST, object)) return 0;
        auto* r = object.As<IPKIRequestEC>();
        std::uint32_t kind = 0;
        if (r->Decode(request) != 0 || r->GetKeyKind(&kind) != 0 || kind != 1) return 0;
        std::uint8_t key[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t keyLength = 0;
        ObjectRef parameters;
        if (r->GetDSTU4145PublicKey(key, &keyLength, parameters.Out()) != 0 || !parameters) return 0;
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        if (parameters.As<IPKIParameters>()->GetParameters(&field, &point, nullptr) != 0) return 0;
        if (module->CheckParametersDSTU4145(&field, &point) != CSP_OK) return 0;
        const std::uint32_t expected = ((point.words[DSTU4145_POINT_BITS] + 7) / 8) * 2;
        if (expected == 0 || expected > PKIF_DSTU4145_SIGNATURE_MAX || signatureLength != expected) return 0;
        if (r->SetSignature(signature, signatureLength) != 0) return 0;
        LibraryBlob encoded(formats_);
        if (r->Encode(&encoded.blob) != 0 || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Writing and copying EC parameters ----

int SPKIFormats::SetECParametersByCurve(IPKIObject* request, std::uint32_t a, std::uint32_t b,
                                        const std::uint8_t* record)
{
    try {
        return WriteRecordByCurve(cspi_, request, PKI_IID_EC_REQUEST, &IPKIRequestEC::SetECRecord, a, b, record);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetECCertificateParametersByCurve(IPKIObject* certificate, std::uint32_t a, std::uint32_t b,
                                                   const std::uint8_t* record)
{
    try {
        return WriteRecordByCurve(cspi_, certificate, PKI_IID_CERTIFICATE_EX, &IPKICertificateECKeys::SetECRecord, a, b,
                                  record);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetECParametersForm3ByCurve(IPKIObject* object, std::uint32_t a, std::uint32_t b,
                                             const std::uint8_t* record)
{
    try {
        return WriteRecordByCurve(cspi_, object, PKI_IID_EC_FORM3, &IPKIECParametersForm3::SetECRecord, a, b, record);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::NormalizeECParameters(IPKIObject* object)
{
    try {
        ObjectRef view;
        if (!QueryInto(object, PKI_IID_EC_REQUEST, view)) return 0;
        std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
        auto* r = view.As<IPKIRequestEC>();
        return r->GetECValue(PKI_EC_VALUE_RECORD, record) == 0 && r->NormalizeECRecord(record) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetECCertificateValue(IPKIObject* certificate, std::uint32_t value)
{
    try {
        ObjectRef view;
        if (!QueryInto(certificate, PKI_IID_CERTIFICATE_EX, view)) return 0;
        return view.As<IPKICertificateECKeys>()->SetECValue(value) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetECCertificatePair(IPKIObject* certificate, std::uint32_t a, std::uint32_t b)
{
    try {
        ObjectRef view;
        if (!QueryInto(certificate, PKI_IID_CERTIFICATE_EX, view)) return 0;
        return view.As<IPKICertificateECKeys>()->SetECPair(a, b) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CopyECParametersForm2(IPKIObject* target, IPKIObject* source)
{
    try {
        return CopyECFromCertificate(*this, target, PKI_IID_CERTIFICATE_EX, &IPKICertificateECKeys::CopyEC, source);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CopyECParametersForm3(IPKIObject* target, IPKIObject* source)
{
    try {
        return CopyECFromCertificate(*this, target, PKI_IID_EC_FORM3, &IPKIECParametersForm3::CopyEC, source);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CopyECParametersForm4(IPKIObject* target, IPKIObject* source)
{
    try {
        return CopyECFromCertificate(*this, target, PKI_IID_EC_FORM4, &IPKIECParametersForm4::CopyEC, source);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetCertificateDSTU4145Parameters(IPKIObject* object, DSTU4145FieldRecord* field,
                                                  DSTU4145PointRecord* point, std::uint32_t* flag, std::uint32_t* first,
                                                  std::uint32_t* second, std::uint8_t* sBox)
{
    try {
        if (!object || !flag) return 0;
        std::uint8_t key[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
        std::uint32_t length = 0;
        ObjectRef parameters;
        if (DSTU4145KeyOf(object, key, &length, parameters.Out()) != 0 || !parameters) return 0;
        auto* p = parameters.As<IPKIParameters>();
        std::uint32_t set = 0;
        if (p->GetParameters(field, point, sBox) != 0 || p->GetFlag(&set) != 0) return 0;
        if (set && p->GetValues(first, second, nullptr) != 0) return 0;
        *flag = set;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CompareDSTU4145Parameters(IPKIObject* first, IPKIObject* second, DSTU4145FieldRecord* field,
                                           DSTU4145PointRecord* point, std::uint32_t* bits, std::uint32_t* flag,
                                           std::uint32_t* value, std::uint8_t* sBox)
{
    try {
        if (!first || !second) return 0;
        // The module's provider validates both; without one the comparison
        // is not usable.
        CSP* module = ModuleCSP();
        if (!module) return 0;
        struct Read {
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            std::uint32_t flag = 0, bits = 0, value = 0;
            std::uint8_t sBox[PKI_SBOX_BYTES] = {};
        } one, two;
        for (auto [object, r] : {std::pair{first, &one}, std::pair{second, &two}}) {
            std::uint32_t kind = 0;
            if (KeyKindOf(object, &kind) != 0 || kind != 1) return 0;
            if (!GetCertificateDSTU4145Parameters(object, &r->field, &r->point, &r->flag, &r->bits, &r->value, r->sBox))
                return 0;
            if (module->CheckParametersDSTU4145(&r->field, &r->point) != CSP_OK) return 0;
        }
        if (one.flag != two.flag || one.bits != two.bits || one.value != two.value) return 0;
        if (std::memcmp(&one.field, &two.field, sizeof one.field) != 0 ||
            std::memcmp(&one.point, &two.point, sizeof one.point) != 0)
            return 0;
        if (sBox && std::memcmp(one.sBox, two.sBox, sizeof one.sBox) != 0) return 0;
        if (field) *field = one.field;
        if (point) *point = one.point;
        if (bits) *bits = one.bits;
        if (flag) *flag = one.flag;
        if (value) *value = one.value;
        if (sBox) std::memcpy(sBox, one.sBox, sizeof one.sBox);
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- EC keys of key objects: identifiers, named curves, copies ----

int SPKIFormats::GetECKeyIdentifier(IPKIObject* object, std::uint32_t* keyBits, std::uint8_t* identifier)
{
    try {
        std::uint32_t version = 0;
        if (!keyBits || !formats_ || formats_->GetVersion(&version) != 0 || version <= 261) return 0;
        ECKeyRead ec;
        if (!ec.From(object)) return 0;
        std::uint8_t id[PKIF_KEY_IDENTIFIER_MAX] = {};
        if (identifier) {
            // The identifier the key was given, else one computed from the
            // key it carries.
            ObjectRef given;
            if (ec.View()->GetKeyIdentifier(given.Out()) == 0 && given) {
                LibraryBlob value(formats_);
                if (given.As<IPKIAttribute>()->GetValue(&value.blob) != 0 || !value.blob.data ||
                    value.blob.length > sizeof id)
                    return 0;
                std::memcpy(id, value.blob.data, value.blob.length);
            } else if (ec.length) {
                PKIBlob carried{ec.length, ec.key.bytes};
                if (formats_->PublicKeyIdentifier(&carried, id) != 0) return 0;
            } else {
                return 0;
            }
        }
        ec.key.Wipe();
        *keyBits = ec.length * 8;
        if (identifier) std::memcpy(identifier, id, sizeof id);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetNamedCurve(IPKIObject* object, IPKIObject* key, std::uint32_t argument)
{
    try {
        if (!object) return 0;
        ObjectRef selector;
        if (QueryInto(object, PKI_IID_NAMED_CURVE, selector))
            return selector.As<IPKINamedCurveSelector>()->SelectNamedCurve(key, argument) == 0 ? 1 : 0;
        ECKeyRead ec;
        if (!ec.From(key)) return 0;
        // A nonzero argument names the curve's value itself.
        if (argument == 0) {
            if (!ChooseNamedCurve(cspi_, ec.record)) return 0;
        } else {
            Put32(ec.record, PKIF_EC_RECORD_BYTES, argument);
        }
        ObjectRef form4;
        if (!QueryInto(object, PKI_IID_EC_FORM4, form4)) return 0;
        return form4.As<IPKIECParametersForm4>()->WriteEC(ec.key.bytes, ec.length, ec.record) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ExtractECPublicKey(IPKIObject* key, void** out)
{
    try {
        if (!key || !out || !formats_) return 0;
        ECKeyRead ec;
        if (!ec.From(key)) return 0;
        ObjectRef parameters;
        if (ec.View()->GetKeyIdentifier(parameters.Out()) != 0) parameters.Reset();
        ObjectRef created, target;
        if (!CreateInto(formats_, PKI_CLASS_KEY, PKI_IID_KEY, created) ||
            !QueryInto(created.As<IPKIObject>(), PKI_IID_KEY_EXPORT, target))
            return 0;
        auto* to = target.As<IPKIKeyExportEC>();
        if (to->WriteECKey(ec.key.bytes, ec.length, ec.record) != 0) return 0;
        ec.key.Wipe();
        if (parameters) {
            if (to->SetKeyIdentifier(parameters.As<IPKIObject>()) != 0) return 0;
        } else {
            // The new key works through the provider context the source
            // lends, when it lends one.
            HolderScope<CSPIContextHolder> scope;
            InitCSPIContextHolder(&scope.holder, cspi_, key, 1, 0);
            if (!scope.holder.usable) return 0;
            if (scope.holder.contextInterface && to->SetKeyIdentifier(scope.holder.contextInterface) != 0) return 0;
        }
        *out = created.As<IPKIObject>();
        *created.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CopyECPublicKeyFromCertificate(IPKIObject* object, IPKIObject* key, const std::uint8_t* identifier)
{
    try {
        if (!object || !key) return 0;
        ECKeyRead ec;
        if (!ec.From(key)) return 0;
        std::uint8_t id[PKIF_KEY_IDENTIFIER_MAX] = {};
        if (identifier) {
            std::memcpy(id, identifier, sizeof id);
            return WriteECPublicKey(object, nullptr, 0, ec.record, id);
        }
        std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {};
        int rc = CSP_NO_OBJECT;
        if (ec.length && cspi_) {
            HolderScope<CSPIContextHolder> scope;
            InitCSPIContextHolder(&scope.holder, cspi_, key, 1, 0);
            rc = PublicKeyECDSAWithHolder(&scope.holder, ec.record, ec.key.bytes, point);
        }
        ec.key.Wipe();
        if (rc == CSP_OK) return WriteECPublicKey(object, point, sizeof point, ec.record, id);
        std::uint32_t bits = 0;
        if (!GetECKeyIdentifier(key, &bits, id)) return 0;
        return WriteECPublicKey(object, nullptr, 0, ec.record, id);
    } catch (...) {
        return 0;
    }
}
