// The driver object's key operations: key-pair generation, signing, and the
// derivation contexts under which 32-byte secret keys are wrapped and
// unwrapped on the key.
#include <algorithm>
#include <cstring>
#include <new>

#include "device/DeviceProtocol.h"
#include "pkcs11driver/PKCS11DeviceStatus.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"
#include "pkcs11driver/PKCS11QuorKorvo7QGuard.h"

namespace {

constexpr std::uint32_t PEER_KEY_BYTES = 72;
constexpr std::uint32_t KEY_VALUE_BYTES = 32;
// What the key's agreement commands take of encoded UKM.
constexpr std::uint32_t MAX_UKM_OLD = 95;
constexpr std::uint32_t MAX_UKM_NEW = 183;
constexpr std::uint8_t SIGN_WITH_AGREEMENT_KEY = 0x80;
constexpr std::uint8_t SBOX_TABLE_SIGNING = 2;
constexpr std::uint8_t SBOX_TABLE_AGREEMENT = 3;

// Holds the per-key mutex for a sequence of commands.
class DeviceMutex {
public:
    explicit DeviceMutex(DeviceContext* device) : device_(device), status_(LockDevice(device)) {}
    ~DeviceMutex()
    {
        if (status_ == 0) UnlockDevice(device_);
    }
    DeviceMutex(const DeviceMutex&) = delete;
    DeviceMutex& operator=(const DeviceMutex&) = delete;
    // CKR_OK while held, else what the failed wait means.
    CK_RV Result() const { return DeviceStatusToCKR(status_); }

private:
    DeviceContext* device_;
    std::uint32_t status_;
};

std::uint8_t SigningOption(CK_BYTE keySelector)
{
    return keySelector ? 0 : SIGN_WITH_AGREEMENT_KEY;
}

}  // namespace

CK_RV PKCS11QuorKorvo7Q::GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation, const DSTU4145FieldRecord* field,
                                         const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                                         std::uint8_t* publicKey)
{
    if (field == nullptr || point == nullptr || sBox == nullptr || publicKey == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;

    DeviceKeyParameters parameters{};
    MakeDeviceKeyParameters(field, point, &parameters);
    std::memset(publicKey, 0, DSTU4145_NUMBER_BYTES);

    // One hold of the per-key mutex from the S-box load to the public-key
    // read: another process must not load its own S-boxes in between.
    DeviceMutex mutex(device_);
    if (mutex.Result() != CKR_OK) return mutex.Result();
    CK_RV rv = Retried([&] { return SetSubstitutionTable(device_, SBOX_TABLE_SIGNING, sBox); });
    if (rv == CKR_OK) rv = Retried([&] { return SetSubstitutionTable(device_, SBOX_TABLE_AGREEMENT, sBox); });
    if (rv != CKR_OK) return rv;
    if (keySelector) {
        const std::uint8_t option = forDerivation ? DEVICE_KEY_ALSO_AGREEMENT : 0;
        rv = Retried([&] { return GenerateSignatureKey(device_, parameters.bytes(), option); });
        if (rv == CKR_OK) rv = Retried([&] { return GetSignaturePublicKey(device_, publicKey); });
    } else {
        rv = Retried([&] { return GenerateAgreementKey(device_, parameters.bytes(), DEVICE_KEY_AGREEMENT_OPTION); });
        if (rv == CKR_OK) rv = Retried([&] { return GetAgreementPublicKey(device_, publicKey); });
    }
    if (rv != CKR_OK) return rv;
    const std::uint32_t used = std::min<std::uint32_t>((parameters.m + 7) / 8, DSTU4145_NUMBER_BYTES);
    std::memset(publicKey + used, 0, DSTU4145_NUMBER_BYTES - used);
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::SignHash32(CK_BYTE keySelector, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                    const std::uint8_t*, const std::uint8_t* hash, std::uint8_t* signature)
{
    if (hash == nullptr || signature == nullptr) return CKR_ARGUMENTS_BAD;
    std::uint8_t local[32];
    std::memcpy(local, hash, sizeof(local));
    return Guarded([&] { return SignHash32OnDevice(device_, local, signature, SigningOption(keySelector)); });
}

CK_RV PKCS11QuorKorvo7Q::SignHash(CK_BYTE keySelector, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                  const std::uint8_t* hash, std::uint32_t length, std::uint8_t* signature)
{
    if (hash == nullptr || signature == nullptr) return CKR_ARGUMENTS_BAD;
    if (length != 32 && length != 48 && length != 64) return CKR_DATA_LEN_RANGE;
    return Guarded([&] {
        return SignHashOnDevice(device_, hash, static_cast<int>(length), signature, SigningOption(keySelector));
    });
}

CK_RV PKCS11QuorKorvo7Q::FindOrCreateContext(CK_ULONG session, CK_ULONG key, std::uint32_t type, bool create,
                                             DeviceOperationContext** out)
{
    std::size_t firstFree = contexts_.size();
    std::size_t found = contexts_.size();
    for (std::size_t i = 0; i < contexts_.size(); ++i) {
        const DeviceOperationContext* c = contexts_[i].get();
        if (c == nullptr) {
            firstFree = std::min(firstFree, i);
            continue;
        }
        if (c->session == session && c->key == key && c->type == type) {
            found = i;
            break;
        }
    }
    if (!create) {
        if (found == contexts_.size()) return CKR_KEY_HANDLE_INVALID;
        *out = contexts_[found].get();
        return CKR_OK;
    }
    std::size_t entry = found;
    if (entry == contexts_.size()) entry = firstFree;
    if (entry == contexts_.size()) {
        try {
            contexts_.resize(contexts_.empty() ? 2 : contexts_.size() * 2);
        } catch (const std::bad_alloc&) {
            return CKR_HOST_MEMORY;
        }
    }
    // A repeated derivation replaces the earlier context in its entry.
    contexts_[entry].reset();
    contexts_[entry].reset(new (std::nothrow) DeviceOperationContext);
    if (!contexts_[entry]) return CKR_HOST_MEMORY;
    DeviceOperationContext* c = contexts_[entry].get();
    c->session = session;
    c->key = key;
    c->type = type;
    *out = c;
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::RecordContext(CK_ULONG session, CK_ULONG key, std::uint32_t type, std::uint32_t option,
                                       const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                       const std::uint8_t* sBox, const std::uint8_t* otherPublicKey,
                                       const std::uint8_t* ukm, std::uint32_t ukmLength)
{
    if (otherPublicKey == nullptr || (ukm == nullptr && ukmLength != 0)) return CKR_ARGUMENTS_BAD;
    // Refused here rather than by every later wrap.
    if (ukmLength > (type == CKD_DSTU4145_DSTU7624 ? MAX_UKM_NEW : MAX_UKM_OLD)) return CKR_MECHANISM_PARAM_INVALID;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    DeviceOperationContext* c = nullptr;
    CK_RV rv = FindOrCreateContext(session, key, type, true, &c);
    if (rv != CKR_OK) return rv;
    c->option = option;
    if (field != nullptr) c->field = *field;
    if (point != nullptr) c->point = *point;
    if (sBox != nullptr) std::memcpy(c->sBox, sBox, sizeof(c->sBox));
    std::memcpy(c->otherPublicKey, otherPublicKey, sizeof(c->otherPublicKey));
    try {
        c->ukm.assign(ukm, ukm + ukmLength);
    } catch (const std::bad_alloc&) {
        DropKeyContexts(session, key);
        return CKR_HOST_MEMORY;
    }
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::DeriveKey(CK_ULONG session, CK_ULONG key, CK_BYTE extended, const DSTU4145FieldRecord* field,
                                   const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                                   const std::uint8_t* otherPublicKey, const std::uint8_t* ukm, std::uint32_t ukmLength)
{
    return RecordContext(session, key, CKD_DSTU4145_GOST28147, extended ? 1 : 0, field, point, sBox, otherPublicKey,
                         ukm, ukmLength);
}

CK_RV PKCS11QuorKorvo7Q::DeriveKeyNew(CK_ULONG session, CK_ULONG key, const DSTU4145FieldRecord* field,
                                      const DSTU4145PointRecord* point, const std::uint8_t* otherPublicKey,
                                      const std::uint8_t* ukm, std::uint32_t ukmLength)
{
    return RecordContext(session, key, CKD_DSTU4145_DSTU7624, 1, field, point, nullptr, otherPublicKey, ukm, ukmLength);
}

CK_RV PKCS11QuorKorvo7Q::AgreeAndTransform(CK_ULONG session, CK_ULONG key, bool newForm, bool wrap,
                                           const std::uint8_t* in, std::uint8_t* out)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    DeviceOperationContext* c = nullptr;
    CK_RV rv = FindOrCreateContext(session, key, newForm ? CKD_DSTU4145_DSTU7624 : CKD_DSTU4145_GOST28147, false, &c);
    if (rv != CKR_OK) return rv;
    const std::uint8_t* ukm = c->ukm.empty() ? nullptr : c->ukm.data();
    const auto ukmLength = static_cast<std::uint32_t>(c->ukm.size());

    // Wrapped bytes whose check value does not hold under the agreement are
    // refused by the key's unwrap itself: that is the caller's input, not a
    // fault of the key, and trying again would give the same answer.
    bool refused = false;
    auto sequence = [&]() -> std::uint32_t {
        std::uint32_t status = 0;
        if (newForm) {
            status = AgreeKeyOnDeviceNew(device_, c->otherPublicKey, ukm, ukmLength, 0x80);
            if (status != 0) return status;
            status = wrap ? WrapKeyOnDevice(device_, in, out, 1) : UnwrapKeyOnDevice(device_, in, out, 1);
        } else {
            const std::uint8_t zeros[KEY_VALUE_BYTES] = {};
            if ((status = LoadKeyContext(device_, zeros)) != 0) return status;
            status = AgreeKeyOnDevice(device_, c->otherPublicKey, ukm, static_cast<int>(ukmLength),
                                      c->option == 1 ? 0x80 : 0xC0);
            if (status != 0) return status;
            status = wrap ? WrapKeyOnDeviceOld(device_, in, out) : UnwrapKeyOnDeviceOld(device_, in, out);
        }
        refused = !wrap && status == KEYERR_BAD_CHECKSUM;
        return refused ? 0 : status;
    };

    DeviceMutex mutex(device_);
    if (mutex.Result() != CKR_OK) return mutex.Result();
    static_assert(PEER_KEY_BYTES <= sizeof(DeviceOperationContext::otherPublicKey));
    rv = Retried(sequence);
    return rv == CKR_OK && refused ? CKR_WRAPPED_KEY_INVALID : rv;
}

CK_RV PKCS11QuorKorvo7Q::WrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue, std::uint8_t* wrapped)
{
    if (keyValue == nullptr || wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    return AgreeAndTransform(session, key, false, true, keyValue, wrapped);
}

CK_RV PKCS11QuorKorvo7Q::UnwrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped,
                                      std::uint8_t* keyValue)
{
    if (keyValue == nullptr || wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    return AgreeAndTransform(session, key, false, false, wrapped, keyValue);
}

CK_RV PKCS11QuorKorvo7Q::WrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue,
                                    std::uint32_t keyLength, std::uint8_t* wrapped, std::uint32_t wrappedLength)
{
    if (keyLength != KEY_VALUE_BYTES) return CKR_KEY_SIZE_RANGE;
    if (wrappedLength != DEVICE_WRAPPED_KEY_NEW_BYTES) return CKR_WRAPPED_KEY_LEN_RANGE;
    if (keyValue == nullptr || wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    return AgreeAndTransform(session, key, true, true, keyValue, wrapped);
}

CK_RV PKCS11QuorKorvo7Q::UnwrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped,
                                      std::uint32_t wrappedLength, std::uint8_t* keyValue, std::uint32_t keyLength)
{
    if (keyLength != KEY_VALUE_BYTES) return CKR_KEY_SIZE_RANGE;
    if (wrappedLength != DEVICE_WRAPPED_KEY_NEW_BYTES) return CKR_WRAPPED_KEY_LEN_RANGE;
    if (keyValue == nullptr || wrapped == nullptr) return CKR_ARGUMENTS_BAD;
    return AgreeAndTransform(session, key, true, false, wrapped, keyValue);
}

CK_RV PKCS11QuorKorvo7Q::CloseSessionContexts(CK_ULONG session)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (auto& c : contexts_)
        if (c && c->session == session) c.reset();
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::DropKeyContexts(CK_ULONG session, CK_ULONG key)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    for (auto& c : contexts_)
        if (c && c->session == session && c->key == key) c.reset();
    return CKR_OK;
}
