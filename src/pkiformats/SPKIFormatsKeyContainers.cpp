// Key containers from private-key objects, and the question whether a key's
// provider serves a curve. Every buffer that held a private key is wiped on
// every path (pkif::Secret).
#include <cstring>

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
