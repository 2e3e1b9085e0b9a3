// Key containers from private-key objects, and the question whether a key's
// provider serves a curve. Every buffer that held a private key is wiped on
// every path (pkif::Secret).
#include <cstring>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kPrivateKeyBytes = 76;

// The provider probe: a zero field record, a point record naming the curve
// and no outputs; nothing is generated. 0 (CSP_OK) means the provider, with
// the holder's context, serves key generation on that curve.
int ProbeCurve(CSP* csp, CSPContextHolder* holder, bool agreement, std::uint32_t curve)
{
    if (!holder->usable) return CSP_NO_OBJECT;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    point.words[DSTU4145_POINT_BITS] = curve;
    bool context = false;
    if (holder->contextPresent) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&holder->context);
        for (std::size_t i = 0; i < sizeof holder->context && !context; ++i) context = bytes[i] != 0;
    }
    if (context)
        return agreement ? csp->GenerateAgreementKeyPairDSTU4145Ctx(&holder->context, &field, &point, nullptr, nullptr)
                         : csp->GenerateSignatureKeyPairDSTU4145Ctx(&holder->context, &field, &point, nullptr, nullptr);
    if (!holder->useOwnContext) return CSP_NO_OBJECT;
    return agreement ? csp->GenerateAgreementKeyPairDSTU4145(&field, &point, nullptr, nullptr)
                     : csp->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr);
}

}  // namespace

int SPKIFormats::IsCurveSupported(IPKIObject* key, std::uint32_t agreement, std::uint32_t curve)
{
    try {
        if (!csp_) return 0;
        HolderScope<CSPContextHolder> scope;
        InitCSPContextHolder(&scope.holder, csp_, key, 1, 0);
        return ProbeCurve(csp_, &scope.holder, agreement != 0, curve) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Without a private key the container gets an empty key value: the 76 bytes
// behind it are zeros, never what happened to be on the stack.
int SPKIFormats::MakeContainerWithDSTU4145Key(const std::uint8_t* privateKey, IPKIObject* parameters, void** container)
{
    try {
        if (!parameters || !container || !csp_) return 0;
        Secret<kPrivateKeyBytes> key;
        PKIBlob value{0, key.bytes};
        if (privateKey) {
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            if (static_cast<IPKIParameters*>(parameters)->GetParameters(&field, &point, nullptr) != PKI_OK) return 0;
            if (csp_->CheckParametersDSTU4145(&field, &point) != CSP_OK) return 0;
            std::memcpy(key.bytes, privateKey, kPrivateKeyBytes);
            value.length = kPrivateKeyBytes;
        }
        ObjectRef made;
        if (!CreateKeyContainerObject(made.Out())) return 0;
        if (made.As<IPKIKeyObject>()->SetKeyValue(&value, parameters) != PKI_OK) return 0;
        *container = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeSignatureKeyContainer(IPKIObject* key, void** container)
{
    try {
        if (!key || !container || !csp_) return 0;
        Secret<kPrivateKeyBytes> privateKey;
        bool present = false;
        ObjectRef made;
        {
            ObjectRef parameters;
            LibraryBlob value(formats_);
            if (static_cast<IPKIKeyObject*>(key)->GetKeyValue(&value.blob, parameters.Out()) != PKI_OK || !parameters ||
                value.blob.length > kPrivateKeyBytes)
                return 0;
            present = value.blob.length != 0 && value.blob.data;
            if (present) std::memcpy(privateKey.bytes, value.blob.data, value.blob.length);
            if (!MakeContainerWithDSTU4145Key(present ? privateKey.bytes : nullptr, parameters.As<IPKIObject>(),
                                              made.Out()))
                return 0;
        }
        privateKey.Wipe();
        if (!present) {
            // A public key without a key-generating device behind it keeps
            // the identifier it was given.
            HolderScope<CSPContextHolder> scope;
            InitCSPContextHolder(&scope.holder, csp_, nullptr, 1, 0);
            if (ProbeCurve(csp_, &scope.holder, false, 11) != CSP_OK) {
                ObjectRef identifier;
                if (static_cast<IPKIKeyObject*>(key)->GetSignatureKeyIdentifier(identifier.Out()) != PKI_OK ||
                    !identifier ||
                    made.As<IPKIKeyObject>()->SetSignatureKeyIdentifier(identifier.As<IPKIObject>()) != PKI_OK)
                    return 0;
            }
        }
        *container = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

// The first 76 bytes of a key value the library read out; false when it is
// longer than a DSTU 4145 private key.
bool TakeKeyValue(const PKIBlob& value, Secret<kPrivateKeyBytes>& key, bool* present)
{
    if (value.length > kPrivateKeyBytes) return false;
    *present = value.length != 0 && value.data;
    if (*present) std::memcpy(key.bytes, value.data, value.length);
    return true;
}

bool AnyByte(const void* p, std::size_t n)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i)
        if (b[i]) return true;
    return false;
}

}  // namespace

// A parameter object that takes over the source's provider context: a
// hardware key's parameters keep working through its device. Such a context
// that the new object cannot carry is refused rather than dropped.
int SPKIFormats::MakeDSTU4145ParameterObject(IPKIObject* source, const DSTU4145FieldRecord* field,
                                             const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                                             void** parameters)
{
    try {
        if (!parameters) return 0;
        ObjectRef made;
        if (!source) {
            if (!field || !point) return 0;
            if (!CreateInto(formats_, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, made)) return 0;
            if (made.As<IPKIParameters>()->SetExplicit(field, point, sBox) != PKI_OK) return 0;
        } else {
            if (!csp_) return 0;
            HolderScope<CSPContextHolder> scope;
            InitCSPContextHolder(&scope.holder, csp_, source, 1, 0);
            if (!scope.holder.usable) return 0;
            if (!CreateInto(formats_, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, made)) return 0;
            const bool context = scope.holder.contextPresent && AnyByte(&scope.holder.context, sizeof(CSPContext));
            ObjectRef view;
            if (QueryInto(made.As<IPKIObject>(), PKI_IID_KEY_CONTEXT_DSTU4145, view)) {
                auto* k = view.As<IPKIKeyContextDSTU4145>();
                const std::uint32_t flags = k->GetContextFlags();
                if (k->SetContextFlags(scope.holder.contextFlags) != PKI_OK) return 0;
                if (context && k->SetContext(&scope.holder.context, flags & scope.holder.contextFlags) != PKI_OK)
                    return 0;
            } else if (context) {
                return 0;
            }
            DSTU4145FieldRecord f{};
            DSTU4145PointRecord p{};
            std::uint8_t keySBox[PKI_SBOX_BYTES] = {}, s[PKI_SBOX_BYTES] = {};
            ObjectRef records;
            if (QueryInto(source, PKI_IID_AGREEMENT_PARAMETERS, records)) {
                if (records.As<IPKIAgreementParameters>()->GetRecords(&f, &p, keySBox, s) != PKI_OK) return 0;
            } else if (QueryInto(source, PKI_IID_DSTU4145_PARAMETERS, records)) {
                if (records.As<IPKIParameters>()->GetParameters(&f, &p, s) != PKI_OK) return 0;
            } else {
                return 0;
            }
            if (made.As<IPKIParameters>()->SetExplicit(&f, &p, s) != PKI_OK) return 0;
        }
        *parameters = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeAgreementKeyContainer(IPKIObject* key, void** container)
{
    try {
        if (!key || !container || !csp_) return 0;
        auto* k = static_cast<IPKIKeyObject*>(key);
        Secret<kPrivateKeyBytes> privateKey;
        bool present = false;
        std::uint8_t keySBox[PKI_SBOX_BYTES] = {}, sBox[PKI_SBOX_BYTES] = {};
        ObjectRef made;
        {
            LibraryBlob value(formats_);
            if (k->GetAgreementKeyValue(&value.blob) != PKI_OK || !TakeKeyValue(value.blob, privateKey, &present))
                return 0;
            ObjectRef source, parameters;
            if (k->GetAgreementParameters(source.Out()) != PKI_OK || !source) return 0;
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            if (source.As<IPKIAgreementParameters>()->GetRecords(&field, &point, keySBox, sBox) != PKI_OK) return 0;
            if (!MakeDSTU4145ParameterObject(source.As<IPKIObject>(), &field, &point, sBox, parameters.Out())) return 0;
            if (!MakeContainerWithDSTU4145Key(present ? privateKey.bytes : nullptr, parameters.As<IPKIObject>(),
                                              made.Out()))
                return 0;
        }
        privateKey.Wipe();
        if (!present) {
            HolderScope<CSPContextHolder> scope;
            InitCSPContextHolder(&scope.holder, csp_, nullptr, 1, 0);
            if (ProbeCurve(csp_, &scope.holder, false, 11) != CSP_OK) {
                ObjectRef identifier;
                if (k->GetAgreementKeyIdentifier(identifier.Out()) != PKI_OK || !identifier ||
                    made.As<IPKIKeyObject>()->SetSignatureKeyIdentifier(identifier.As<IPKIObject>()) != PKI_OK)
                    return 0;
            }
        }
        // The agreement key's own S-box travels with it when it is not the
        // curve's.
        if (std::memcmp(keySBox, sBox, sizeof sBox) != 0 && made.As<IPKIKeyObject>()->SetSBox(keySBox) != PKI_OK)
            return 0;
        *container = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The first position whose identifiers hold the given ones decides the part:
// a single-key container of that part.
int SPKIFormats::MakeContainerForIdentifier(IPKIObject* key, const std::uint8_t* identifier, void** container)
{
    try {
        if (!key || !identifier || !container) return 0;
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t kind = 0, count = 0;
            std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
            if (!GetKeyIdentifierAt(key, 0, i, &kind, &count, ids)) return 0;
            bool found = false;
            for (std::uint32_t j = 0; j < count && j < PKIF_KEY_IDENTIFIERS_MAX && !found; ++j)
                found = std::memcmp(ids + j * PKIF_KEY_IDENTIFIER_BYTES, identifier, PKIF_KEY_IDENTIFIER_BYTES) == 0;
            if (!found) continue;
            switch (kind) {
            case 1:
                return i == 0 ? MakeSignatureKeyContainer(key, container) : MakeAgreementKeyContainer(key, container);
            case 2:
                return MakeRSAKeyContainer(key, container);
            case 4:
                return ExtractECPublicKey(key, container);
            default:
                return 0;
            }
        }
    } catch (...) {
        return 0;
    }
}

namespace {

// A private key read of the key object: 1 present, 0 absent, -1 the reader
// failed.
int SignaturePrivateKey(IPKIInterface* formats, IPKIKeyObject* key)
{
    LibraryBlob value(formats);
    ObjectRef parameters;
    const int rc = key->GetKeyValue(&value.blob, parameters.Out());
    if (rc == PKI_E_ABSENT) return 0;
    if (rc != PKI_OK) return -1;
    return value.blob.length != 0 && value.blob.data ? 1 : 0;
}

int AgreementPrivateKey(IPKIInterface* formats, IPKIKeyObject* key)
{
    LibraryBlob value(formats);
    const int rc = key->GetAgreementKeyValue(&value.blob);
    if (rc == PKI_E_ABSENT) return 0;
    if (rc != PKI_OK) return -1;
    return value.blob.length != 0 && value.blob.data ? 1 : 0;
}

// The 32 bytes of an identifier object the key was given (shorter values
// zero-filled); false when it has none or it does not fit.
bool GivenIdentifier(IPKIInterface* formats, IPKIKeyObject* key, bool agreement, std::uint8_t* out)
{
    ObjectRef id;
    const int rc = agreement ? key->GetAgreementKeyIdentifier(id.Out()) : key->GetSignatureKeyIdentifier(id.Out());
    if (rc != PKI_OK || !id) return false;
    LibraryBlob value(formats);
    if (id.As<IPKIAttribute>()->GetValue(&value.blob) != PKI_OK || !value.blob.data ||
        value.blob.length > PKIF_KEY_IDENTIFIER_BYTES)
        return false;
    std::memset(out, 0, PKIF_KEY_IDENTIFIER_BYTES);
    std::memcpy(out, value.blob.data, value.blob.length);
    return true;
}

}  // namespace

// A key lacks what export needs when a part it reports has no private key
// (a signature key without its agreement key counts as whole when both its
// identifiers are the same key's). An object that is neither a key nor a
// container with a key list is a failure, not a complete key.
int SPKIFormats::IsKeyIncomplete(IPKIObject* key, std::uint32_t* flag)
{
    try {
        if (!key || !flag) return 0;
        std::uint32_t signing = 0, other = 0;
        if (!GetKeyCapabilities(key, &signing, &other)) signing = other = 0;
        auto* k = static_cast<IPKIKeyObject*>(key);
        if (signing == 0 && other == 0) {
            ObjectRef list;
            std::uint32_t count = 0;
            if (!QueryInto(key, PKI_IID_KEY_LIST, list) ||
                list.As<IPKICertificateListView>()->GetCertificateCount(PKI_KEY_LIST_KEYS, &count) != PKI_OK)
                return 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                ObjectRef entry;
                std::uint32_t incomplete = 0;
                if (!GetContainerKey(key, i, entry.Out(), nullptr, nullptr, nullptr) ||
                    !IsKeyIncomplete(entry.As<IPKIObject>(), &incomplete))
                    return 0;
                if (incomplete) {
                    *flag = 1;
                    return 1;
                }
            }
            *flag = 0;
            return 1;
        }
        bool complete = true;
        if (signing & 1) {
            const int signature = SignaturePrivateKey(formats_, k);
            if (signature < 0) return 0;
            complete = signature == 1;
            if (complete) {
                const int agreement = AgreementPrivateKey(formats_, k);
                if (agreement < 0) return 0;
                if (agreement == 0) {
                    std::uint8_t first[PKIF_KEY_IDENTIFIER_BYTES], second[PKIF_KEY_IDENTIFIER_BYTES];
                    complete = GivenIdentifier(formats_, k, false, first) &&
                               GivenIdentifier(formats_, k, true, second) &&
                               std::memcmp(first, second, sizeof first) == 0;
                }
            }
        }
        if (complete && (other & 2)) {
            Secret<PKIF_RSA_PRIVATE_KEY_BYTES> rsa;
            std::uint8_t profile[8] = {};
            const int rc = k->GetRSAKey(rsa.bytes, profile);
            if (rc != PKI_OK && rc != PKI_E_ABSENT) return 0;
            complete = rc == PKI_OK;
        }
        if (complete && (other & 4)) {
            std::uint32_t bits = 0;
            std::uint8_t id[PKIF_KEY_IDENTIFIER_BYTES] = {};
            if (!GetECKeyIdentifier(key, &bits, id)) return 0;
            complete = bits != 0;
        }
        *flag = complete ? 0 : 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The request is signed through the parameter object it was built with; a
// caller's holder lends that object its provider context first, so that a
// key held by a device signs on the device.
int SPKIFormats::SignKeyRequest(const std::uint8_t* privateKey, const std::uint8_t* publicKey,
                                const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                std::uint32_t fromValues, std::uint32_t polynomialBasis, std::uint32_t curveIndex,
                                std::uint32_t dstu7564, const std::uint8_t* sBox, const char* usages,
                                CSPContextHolder* holder, PKIBlob* out)
{
    try {
        if (!privateKey || !point || !out) return 0;
        // The library takes the curve number less one; there is no curve 0.
        const std::uint32_t curve = point->words[DSTU4145_POINT_BITS];
        if (curve == 0) return 0;
        ObjectRef keyObject, request;
        if (!BuildKeyRequest(publicKey, field, point, fromValues, polynomialBasis, curveIndex, dstu7564 ? 7 : 1, sBox,
                             usages, keyObject.Out(), request.Out()) ||
            !request)
            return 0;
        if (holder) {
            if (!holder->usable || !keyObject) return 0;
            const bool context = holder->contextPresent && AnyByte(&holder->context, sizeof(CSPContext));
            ObjectRef view;
            if (QueryInto(keyObject.As<IPKIObject>(), PKI_IID_KEY_CONTEXT_DSTU4145, view)) {
                auto* k = view.As<IPKIKeyContextDSTU4145>();
                const std::uint32_t flags = k->GetContextFlags();
                if (k->SetContextFlags(holder->contextFlags) != PKI_OK) return 0;
                if (context && k->SetContext(&holder->context, flags & holder->contextFlags) != PKI_OK) return 0;
            } else if (context && !holder->useOwnContext) {
                return 0;
            }
        }
        if (dstu7564) {
            ObjectRef hash;
            if (!QueryInto(request.As<IPKIObject>(), PKI_IID_REQUEST_HASH, hash) ||
                hash.As<IPKIRequestHash>()->SignDSTU4145WithHashLength(privateKey, curve - 1,
                                                                       keyObject.As<IPKIObject>(), 32) != PKI_OK)
                return 0;
        } else if (request.As<IPKIRequest>()->SignDSTU4145(privateKey, curve - 1, keyObject.As<IPKIObject>()) !=
                   PKI_OK) {
            return 0;
        }
        keyObject.Reset();
        LibraryBlob encoded(formats_);
        if (request.As<IPKIRequest>()->Encode(&encoded.blob) != PKI_OK) return 0;
        return CopyOut(encoded.blob.data, encoded.blob.length, out);
    } catch (...) {
        return 0;
    }
}
