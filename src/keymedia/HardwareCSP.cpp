#include "keymedia/HardwareCSP.h"

#include <cstddef>
#include <cstring>

#include "device/DeviceProtocol.h"
#include "keymedia/DeviceObject.h"
#include "support/CSPParameters.h"

using qvkkm::CallWithRecovery;

namespace {

constexpr std::size_t kParametersBytes = 240;
constexpr std::size_t kSignaturePublicKeyBytes = 64;
constexpr std::size_t kAgreementPublicKeyBytes = 72;
constexpr std::size_t kNumberBytes = 72;

// Offsets in the key's 240-byte parameter record: the field part ends where
// the order of the base point starts.
constexpr std::size_t kParamB = offsetof(DeviceKeyParameters, b), kParamN = offsetof(DeviceKeyParameters, n);

// Question codes carried in point word 38 when m is 0.
constexpr std::uint32_t kAskSeparateAgreementKey = 5;
constexpr std::uint32_t kAskSharedAgreementKey = 6;

// Reporters of the library. This build reports nothing.
int ReportError(const char* /*text*/, std::uint32_t /*status*/, int, int)
{
    return 0;
}
int ReportData(const char* /*text*/, const std::uint8_t* /*data*/, std::uint32_t /*length*/)
{
    return 0;
}

const char kSignParametersFailed[] =
    "\xc2\xe8\xed\xe8\xea\xeb\xe0 \xef\xee\xec\xe8\xeb\xea\xe0 \xef\xf0\xe8 \xee\xf2\xf0\xe8\xec\xe0\xed\xed\xb3 "
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xb3\xe2 \xea\xeb\xfe\xf7\xe0 \xef\xb3\xe4\xef\xe8\xf1\xf3 \xe7 "
    "\xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";
const char kSignPublicKeyFailed[] =
    "\xc2\xe8\xed\xe8\xea\xeb\xe0 \xef\xee\xec\xe8\xeb\xea\xe0 \xef\xf0\xe8 \xee\xf2\xf0\xe8\xec\xe0\xed\xed\xb3 "
    "\xe2\xb3\xe4\xea\xf0\xe8\xf2\xee\xe3\xee \xea\xeb\xfe\xf7\xe0 \xef\xb3\xe4\xef\xe8\xf1\xf3 \xe7 "
    "\xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";
const char kSignPublicKeyRead[] =
    "\xce\xf2\xf0\xe8\xec\xe0\xed\xe8\xe9 \xe2\xb3\xe4\xea\xf0\xe8\xf2\xe8\xe9 \xea\xeb\xfe\xf7 "
    "\xef\xb3\xe4\xef\xe8\xf1\xf3 \xe7 \xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";
const char kAgreementParametersFailed[] =
    "\xc2\xe8\xed\xe8\xea\xeb\xe0 \xef\xee\xec\xe8\xeb\xea\xe0 \xef\xf0\xe8 \xee\xf2\xf0\xe8\xec\xe0\xed\xed\xb3 "
    "\xef\xe0\xf0\xe0\xec\xe5\xf2\xf0\xb3\xe2 \xea\xeb\xfe\xf7\xe0 \xef\xf0\xee\xf2\xee\xea\xee\xeb\xf3 "
    "\xf0\xee\xe7\xef\xee\xe4\xb3\xeb\xf3 \xe7 \xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";
const char kAgreementPublicKeyFailed[] =
    "\xc2\xe8\xed\xe8\xea\xeb\xe0 \xef\xee\xec\xe8\xeb\xea\xe0 \xef\xf0\xe8 \xee\xf2\xf0\xe8\xec\xe0\xed\xed\xb3 "
    "\xe2\xb3\xe4\xea\xf0\xe8\xf2\xee\xe3\xee \xea\xeb\xfe\xf7\xe0 \xef\xf0\xee\xf2\xee\xea\xee\xeb\xf3 "
    "\xf0\xee\xe7\xef\xee\xe4\xb3\xeb\xf3 \xe7 \xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";
const char kAgreementPublicKeyRead[] =
    "\xce\xf2\xf0\xe8\xec\xe0\xed\xe8\xe9 \xe2\xb3\xe4\xea\xf0\xe8\xf2\xe8\xe9 \xea\xeb\xfe\xf7 "
    "\xef\xf0\xee\xf2\xee\xea\xee\xeb\xf3 \xf0\xee\xe7\xef\xee\xe4\xb3\xeb\xf3 \xe7 \xef\xf0\xe8\xf1\xf2\xf0\xee\xfe";

std::uint32_t FieldBytes(std::uint32_t m)
{
    return (m + 7) / 8;
}

// The 76-byte public-key field: the key's bytes, zeros after (m + 7) / 8.
void FillPublicKey(std::uint8_t* buffer, const std::uint8_t* key, std::size_t keyBytes, std::uint32_t m)
{
    std::memcpy(buffer, key, keyBytes);
    std::uint32_t used = FieldBytes(m);
    if (used <= DSTU4145_NUMBER_BYTES - 1) std::memset(buffer + used, 0, DSTU4145_NUMBER_BYTES - used);
}

bool IsSignOption(const DSTU4145FieldRecord* field)
{
    return field != nullptr && field->words[DSTU4145_FIELD_COFACTOR] == static_cast<std::uint32_t>(-5);
}

std::uint8_t SignOption(const DSTU4145FieldRecord* field)
{
    return IsSignOption(field) ? 0x80 : 0;
}

// Which of the key's two pairs an operation works on.
struct PairOperations {
    std::uint32_t (*readParameters)(DeviceContext*, int, int, std::uint8_t*);
    std::uint32_t (*getPublicKey)(DeviceContext*, std::uint8_t*);
    std::size_t publicKeyBytes;
    const char* parametersFailed;
    const char* publicKeyFailed;
    const char* publicKeyRead;
};

std::uint32_t GetSignatureKey(DeviceContext* context, std::uint8_t* out)
{
    return GetSignaturePublicKey(context, out);
}
std::uint32_t GetAgreementKey(DeviceContext* context, std::uint8_t* out)
{
    return GetAgreementPublicKey(context, out);
}
std::uint32_t ReadSignatureParameters(DeviceContext* context, int first, int count, std::uint8_t* out)
{
    return ReadSignatureKeyParameters(context, first, count, out);
}
std::uint32_t ReadAgreementParameters(DeviceContext* context, int first, int count, std::uint8_t* out)
{
    return ReadAgreementKeyParameters(context, first, count, out);
}

const PairOperations kSignaturePair = {ReadSignatureParameters, GetSignatureKey,      kSignaturePublicKeyBytes,
                                       kSignParametersFailed,   kSignPublicKeyFailed, kSignPublicKeyRead};
const PairOperations kAgreementPair = {ReadAgreementParameters,    GetAgreementKey,           kAgreementPublicKeyBytes,
                                       kAgreementParametersFailed, kAgreementPublicKeyFailed, kAgreementPublicKeyRead};

// Reads a public key into the caller's 76-byte buffer.
bool ReadPublicKey(DeviceContext* context, const PairOperations& pair, std::uint32_t m, std::uint8_t* buffer,
                   std::uint32_t* status)
{
    std::uint8_t key[kAgreementPublicKeyBytes] = {};
    *status = CallWithRecovery(context, [&] { return pair.getPublicKey(context, key); });
    if (*status != 0) return false;
    FillPublicKey(buffer, key, pair.publicKeyBytes, m);
    return true;
}

int QueryPublicKey(DeviceContext* context, const PairOperations& pair, DSTU4145FieldRecord* field,
                   DSTU4145PointRecord* point, std::uint8_t* publicKey)
{
    if (context == nullptr || field == nullptr || publicKey == nullptr) return 0;
    DeviceKeyParameters parameters{};
    std::uint32_t status =
        CallWithRecovery(context, [&] { return pair.readParameters(context, 0, 1, parameters.bytes()); });
    if (status != 0) {
        ReportError(pair.parametersFailed, status, 0, 0);
        return 0;
    }

    // The first chunk (six words and the start of B) usually names a standard
    // curve; then the rest need not be read from the key.
    std::uint32_t blockData = BlockDataSize(context);
    std::size_t knownB = blockData > 24 ? blockData - 24 : 0;
    if (knownB > kNumberBytes) knownB = kNumberBytes;
    bool standard = false;
    CSPParameters curves;
    DSTU4145FieldRecord curveField;
    DSTU4145PointRecord curvePoint;
    for (unsigned i = 0; curves.GetStandardCurve(1, i, &curveField, &curvePoint) != 0; ++i) {
        DeviceKeyParameters candidate;
        MakeDeviceKeyParameters(&curveField, &curvePoint, &candidate);
        if (std::memcmp(candidate.bytes(), parameters.bytes(), kParamB) == 0 &&
            std::memcmp(candidate.b, parameters.b, knownB) == 0) {
            parameters = candidate;
            standard = true;
            break;
        }
    }
    if (!standard) {
        status = CallWithRecovery(context, [&] { return pair.readParameters(context, 1, 0, parameters.bytes()); });
        if (status != 0) {
            ReportError(pair.parametersFailed, status, 0, 0);
            return 0;
        }
    }

    if (field->words[DSTU4145_FIELD_M] == 0) {
        if (point == nullptr) return 0;
        SplitDeviceKeyParameters(&parameters, field, point);
    } else {
        DeviceKeyParameters given;
        MakeDeviceKeyParameters(field, point, &given);
        std::size_t compared = point != nullptr ? kParametersBytes : kParamN;
        if (std::memcmp(given.bytes(), parameters.bytes(), compared) != 0) return 0;
    }

    if (!ReadPublicKey(context, pair, field->words[DSTU4145_FIELD_M], publicKey, &status)) {
        ReportError(pair.publicKeyFailed, status, 0, 0);
        return 0;
    }
    ReportData(pair.publicKeyRead, publicKey, static_cast<std::uint32_t>(pair.publicKeyBytes));
    return 1;
}

int CheckPublicKey(DeviceContext* context, const PairOperations& pair, const DSTU4145FieldRecord* field,
                   const std::uint8_t* publicKey)
{
    if (context == nullptr || field == nullptr || publicKey == nullptr) return 0;
    std::uint8_t key[kAgreementPublicKeyBytes] = {};
    {
        qvkkm::DeviceLock lock(context);
        if (!lock.Held()) return 0;
        if (CallWithRecovery(context, [&] { return pair.getPublicKey(context, key); }) != 0) return 0;
    }
    // The key holds at most publicKeyBytes; a wider field must not make the
    // comparison run past them.
    std::size_t compared = FieldBytes(field->words[DSTU4145_FIELD_M]);
    if (compared > pair.publicKeyBytes) compared = pair.publicKeyBytes;
    return std::memcmp(publicKey, key, compared) == 0 ? 1 : 0;
}

// Agrees on a key with the peer on the device (the agreement data, option
// 0x80 with the flag) and, under the same lock, runs the step that uses it;
// 1 when the device answers both without error.
template <typename Step>
int WithAgreedKey(DeviceContext* context, const std::uint8_t* peerPublicKey, int flag, const std::uint8_t* data,
                  std::uint32_t dataLength, Step step)
{
    qvkkm::DeviceLock lock(context);
    if (!lock.Held()) return 0;
    std::uint8_t option = flag != 0 ? 0x80 : 0;
    if (CallWithRecovery(context,
                         [&] { return AgreeKeyOnDeviceNew(context, peerPublicKey, data, dataLength, option); }) != 0)
        return 0;
    return step() == 0 ? 1 : 0;
}

// The older agreement: in the kept key context, agrees on a key with the peer
// (option 0x80 with the flag) and, under the same lock, runs the step that
// uses it; 1 when the device answers all without error.
template <typename Step>
int WithAgreedKeyInContext(DeviceContext* context, const std::uint8_t* keyContext, const std::uint8_t* peerPublicKey,
                           int flag, const std::uint8_t* ukm, std::uint32_t ukmLength, Step step)
{
    qvkkm::DeviceLock lock(context);
    if (!lock.Held()) return 0;
    if (CallWithRecovery(context, [&] { return LoadKeyContext(context, keyContext); }) != 0) return 0;
    if (AgreeKeyOnDevice(context, peerPublicKey, ukm, static_cast<int>(ukmLength), flag != 0 ? 0x80 : 0) != 0) return 0;
    return step() == 0 ? 1 : 0;
}

}  // namespace

CSPHardwareImplementationQuorKorvo7Q::CSPHardwareImplementationQuorKorvo7Q(DeviceContext* context)
    : context_(context), separateAgreementKey_(1), keyContext_{}
{
}

std::optional<int> CSPHardwareImplementationQuorKorvo7Q::CommonQueryAnswer(const DSTU4145FieldRecord* field,
                                                                           const DSTU4145PointRecord* point,
                                                                           std::uint32_t widestPoint)
{
    if (field == nullptr || point == nullptr) return 0;
    std::uint32_t m = field->words[DSTU4145_FIELD_M];
    if (m != 0) return (m > 162 || point->words[DSTU4145_POINT_BITS] <= widestPoint) ? 1 : 0;
    switch (point->words[DSTU4145_POINT_BITS]) {
    case kAskSeparateAgreementKey:
        separateAgreementKey_ = 1;
        return 1;
    case kAskSharedAgreementKey:
        separateAgreementKey_ = 0;
        return 1;
    default:
        return std::nullopt;
    }
}

int CSPHardwareImplementationQuorKorvo7Q::GenerateSignatureKeyPair(const DSTU4145FieldRecord* field,
                                                                   const DSTU4145PointRecord* point,
                                                                   std::uint8_t* publicKey)
{
    if (publicKey == nullptr) {
        if (std::optional<int> answer = CommonQueryAnswer(field, point, 509)) return *answer;
        switch (point->words[DSTU4145_POINT_BITS]) {
        case 11:
        case 17:
        case 25:
            return 1;
        case 21: {
            if (context_ == nullptr) return 0;
            DeviceInfo info{};
            return (QueryDeviceInfo(context_, &info) == 0 && info.version > 17) ? 1 : 0;
        }
        default:
            return 0;
        }
    }
    if (context_ == nullptr || field == nullptr) return 0;
    DeviceContext* context = context_;
    if (point != nullptr) {
        DeviceKeyParameters parameters;
        MakeDeviceKeyParameters(field, point, &parameters);
        std::uint8_t option = separateAgreementKey_ == 0 ? 0x40 : 0;
        if (CallWithRecovery(context, [&] { return GenerateSignatureKey(context, parameters.bytes(), option); }) != 0)
            return 0;
    }
    std::uint32_t status;
    return ReadPublicKey(context, kSignaturePair, field->words[DSTU4145_FIELD_M], publicKey, &status) ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::GenerateAgreementKeyPair(const DSTU4145FieldRecord* field,
                                                                   const DSTU4145PointRecord* point,
                                                                   std::uint8_t* publicKey)
{
    if (publicKey == nullptr) return CommonQueryAnswer(field, point, 571).value_or(0);
    if (context_ == nullptr || field == nullptr) return 0;
    DeviceContext* context = context_;
    std::uint32_t m = field->words[DSTU4145_FIELD_M];
    std::uint32_t status;
    if (point != nullptr && separateAgreementKey_ == 0) {
        // The signature key generated with option 0x40 serves for key
        // agreement too; the caller still gets a public key: the key's
        // agreement key when it reports one, else the signature key.
        if (ReadPublicKey(context, kAgreementPair, m, publicKey, &status)) return 1;
        return ReadPublicKey(context, kSignaturePair, m, publicKey, &status) ? 1 : 0;
    }
    if (point != nullptr) {
        DeviceKeyParameters parameters;
        MakeDeviceKeyParameters(field, point, &parameters);
        if (CallWithRecovery(context, [&] { return GenerateAgreementKey(context, parameters.bytes(), 0x20); }) != 0)
            return 0;
    }
    return ReadPublicKey(context, kAgreementPair, m, publicKey, &status) ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::SignHash(const DSTU4145FieldRecord* field, const DSTU4145PointRecord*,
                                                   const std::uint8_t* hash, std::uint8_t* signature)
{
    if (context_ == nullptr || hash == nullptr || signature == nullptr) return 0;
    DeviceContext* context = context_;
    std::uint8_t option = SignOption(field);
    return CallWithRecovery(context, [&] { return SignHash32OnDevice(context, hash, signature, option); }) == 0 ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::TransportSessionKey(const std::uint8_t* peerPublicKey,
                                                              const std::uint8_t* ukm, std::uint8_t* key, bool decrypt,
                                                              std::uint32_t* mac)
{
    DeviceContext* context = context_;
    qvkkm::DeviceLock lock(context);
    if (!lock.Held()) return 0;
    if (CallWithRecovery(context, [&] { return LoadKeyContext(context, keyContext_); }) != 0) return 0;
    if (AgreeKeyOnDevice(context, peerPublicKey, ukm, 8, 0xC0) != 0) return 0;
    if (StartDeviceMac(context, keyContext_) != 0) return 0;
    std::uint32_t cipher = decrypt ? CipherBlocksProtected(context, key, 4, 0xC0) : CipherBlocks(context, key, 4, 0xC0);
    if (cipher != 0) return 0;
    if (GetDeviceMac(context, mac) != 0) return 0;
    return LoadKeyContext(context, keyContext_) == 0 ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::EncryptSessionKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                                            const std::uint8_t* peerPublicKey, const std::uint8_t* ukm,
                                                            std::uint8_t* key, std::uint32_t, std::uint8_t* mac)
{
    if (context_ == nullptr || peerPublicKey == nullptr || ukm == nullptr || key == nullptr || mac == nullptr) return 0;
    std::uint32_t value = 0;
    if (!TransportSessionKey(peerPublicKey, ukm, key, false, &value)) return 0;
    std::memcpy(mac, &value, 4);
    return 1;
}

int CSPHardwareImplementationQuorKorvo7Q::DecryptSessionKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                                            const std::uint8_t* peerPublicKey, const std::uint8_t* ukm,
                                                            std::uint8_t* key, std::uint32_t keyLength,
                                                            const std::uint8_t* mac)
{
    if (ukm == nullptr && key == nullptr && keyLength == 0 && mac == nullptr) return 1;
    if (context_ == nullptr || peerPublicKey == nullptr || ukm == nullptr || key == nullptr || mac == nullptr) return 0;
    std::uint32_t value = 0;
    if (!TransportSessionKey(peerPublicKey, ukm, key, true, &value)) return 0;
    return std::memcmp(&value, mac, 4) == 0 ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::CheckSignaturePublicKey(const DSTU4145FieldRecord* field,
                                                                  const DSTU4145PointRecord*,
                                                                  const std::uint8_t* publicKey)
{
    return CheckPublicKey(context_, kSignaturePair, field, publicKey);
}

int CSPHardwareImplementationQuorKorvo7Q::CheckAgreementPublicKey(const DSTU4145FieldRecord* field,
                                                                  const DSTU4145PointRecord*,
                                                                  const std::uint8_t* publicKey)
{
    return CheckPublicKey(context_, kAgreementPair, field, publicKey);
}

int CSPHardwareImplementationQuorKorvo7Q::SetSBox(const void*, const void*, const void*, const std::uint8_t* sBox)
{
    if (context_ == nullptr || sBox == nullptr) return 0;
    DeviceContext* context = context_;
    qvkkm::DeviceLock lock(context);
    if (!lock.Held()) return 0;
    if (CallWithRecovery(context, [&] { return SetSubstitutionTable(context, 2, sBox); }) != 0) return 0;
    return SetSubstitutionTable(context, 3, sBox) == 0 ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::GetStoredHash(std::uint8_t* hash)
{
    if (context_ == nullptr || hash == nullptr) return 0;
    DeviceContext* context = context_;
    qvkkm::DeviceLock lock(context);
    if (!lock.Held()) return 0;
    std::uint8_t value[32] = {};
    std::uint32_t answer = 0;
    std::uint32_t status = CallWithRecovery(context, [&] {
        answer = ReadDeviceSecret(context, value, 0);
        // "None" and "not exportable" are answers, not failures to recover from.
        return answer == KEYERR_NO_KEY || answer == KEYERR_KEY_NOT_EXPORTABLE ? 0u : answer;
    });
    if (status == 0) status = answer;
    if (status == 0) {
        std::memcpy(hash, value, sizeof value);
        std::memset(value, 0, sizeof value);
        return 1;
    }
    if (status != KEYERR_NO_KEY && status != KEYERR_KEY_NOT_EXPORTABLE) return 0;
    if (CallWithRecovery(context, [&] { return LoadKeyContext(context, keyContext_); }) != 0) return 0;
    if (GenerateDeviceSecret(context, hash) != 0) return 0;
    return StoreDeviceSecret(context, hash, 128) == 0 ? 1 : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::WrapKeyGOST28147(const void*, const void*, const std::uint8_t* peerPublicKey,
                                                           int flag, const std::uint8_t* ukm, std::uint32_t ukmLength,
                                                           const void*, const void*, const std::uint8_t* key,
                                                           std::uint8_t* wrappedKey)
{
    if (context_ == nullptr || peerPublicKey == nullptr || key == nullptr || wrappedKey == nullptr ||
        (ukm == nullptr && ukmLength != 0))
        return 0;
    DeviceContext* context = context_;
    return WithAgreedKeyInContext(context, keyContext_, peerPublicKey, flag, ukm, ukmLength,
                                  [&] { return WrapKeyOnDeviceOld(context, key, wrappedKey); });
}

int CSPHardwareImplementationQuorKorvo7Q::UnwrapKeyGOST28147(const void*, const void*,
                                                             const std::uint8_t* peerPublicKey, int flag,
                                                             const std::uint8_t* ukm, std::uint32_t ukmLength,
                                                             const void*, const void*, const std::uint8_t* wrappedKey,
                                                             std::uint8_t* key)
{
    if (wrappedKey == nullptr) return 1;
    if (context_ == nullptr || peerPublicKey == nullptr || key == nullptr || (ukm == nullptr && ukmLength != 0))
        return 0;
    DeviceContext* context = context_;
    return WithAgreedKeyInContext(context, keyContext_, peerPublicKey, flag, ukm, ukmLength,
                                  [&] { return UnwrapKeyOnDeviceOld(context, wrappedKey, key); });
}

int CSPHardwareImplementationQuorKorvo7Q::QuerySignaturePublicKey(DSTU4145FieldRecord* field,
                                                                  DSTU4145PointRecord* point, std::uint8_t* publicKey)
{
    return QueryPublicKey(context_, kSignaturePair, field, point, publicKey);
}

int CSPHardwareImplementationQuorKorvo7Q::QueryAgreementPublicKey(DSTU4145FieldRecord* field,
                                                                  DSTU4145PointRecord* point, std::uint8_t* publicKey)
{
    return QueryPublicKey(context_, kAgreementPair, field, point, publicKey);
}

int CSPHardwareImplementationQuorKorvo7Q::SignHashEx(const DSTU4145FieldRecord* field, const DSTU4145PointRecord*,
                                                     std::uint32_t hashLength, const std::uint8_t* hash,
                                                     std::uint8_t* signature)
{
    if (context_ == nullptr || hash == nullptr || signature == nullptr) return 0;
    DeviceContext* context = context_;
    std::uint8_t option = SignOption(field);
    return CallWithRecovery(
               context,
               [&] { return SignHashOnDevice(context, hash, static_cast<int>(hashLength), signature, option); }) == 0
               ? 1
               : 0;
}

int CSPHardwareImplementationQuorKorvo7Q::WrapKeyDSTU7624(const void*, const void*, const std::uint8_t* peerPublicKey,
                                                          int flag, const std::uint8_t* data, std::uint32_t dataLength,
                                                          const void*, const std::uint8_t* key, const void*,
                                                          std::uint8_t* wrappedKey, std::uint32_t*)
{
    if (context_ == nullptr || peerPublicKey == nullptr || key == nullptr || wrappedKey == nullptr ||
        (data == nullptr && dataLength != 0))
        return 0;
    DeviceContext* context = context_;
    return WithAgreedKey(context, peerPublicKey, flag, data, dataLength,
                         [&] { return WrapKeyOnDevice(context, key, wrappedKey, 1); });
}

int CSPHardwareImplementationQuorKorvo7Q::UnwrapKeyDSTU7624(const void*, const void*, const std::uint8_t* peerPublicKey,
                                                            int flag, const std::uint8_t* data,
                                                            std::uint32_t dataLength, const void*,
                                                            const std::uint8_t* wrappedKey, const void*,
                                                            std::uint8_t* key)
{
    if (context_ == nullptr || peerPublicKey == nullptr || key == nullptr || wrappedKey == nullptr ||
        (data == nullptr && dataLength != 0))
        return 0;
    DeviceContext* context = context_;
    return WithAgreedKey(context, peerPublicKey, flag, data, dataLength,
                         [&] { return UnwrapKeyOnDevice(context, wrappedKey, key, 1); });
}
