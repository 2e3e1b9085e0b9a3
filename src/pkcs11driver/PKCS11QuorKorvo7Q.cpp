#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

#include <cstdlib>

#include "device/DeviceProtocol.h"
#include "pkcs11driver/PKCS11Driver.h"

namespace {

constexpr std::uint32_t TOKEN_RECORD_BYTES = 46;
constexpr std::uint32_t DEFAULT_TOKEN_FLAGS = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_TOKEN_INITIALIZED;
constexpr std::uint8_t EXTENDED_VERSION = 18;

}  // namespace

PKCS11QuorKorvo7Q::~PKCS11QuorKorvo7Q()
{
    if (device_ != nullptr) {
        CloseDevice(device_);
        device_ = nullptr;
    }
}

template <typename Call>
CK_RV PKCS11QuorKorvo7Q::Guarded(Call call)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    std::uint32_t status = call();
    if (status == 0) return CKR_OK;
    if (RecoverFromError(device_, status) != 0) return CKR_DEVICE_ERROR;
    return call() == 0 ? CKR_OK : CKR_DEVICE_ERROR;
}

CK_RV PKCS11QuorKorvo7Q::QueryVersion(std::uint8_t* version)
{
    DeviceInfo info{};
    CK_RV rv = Guarded([&] { return QueryDeviceInfo(device_, &info); });
    if (rv == CKR_OK && version != nullptr) *version = info.version;
    return rv;
}

CK_RV PKCS11QuorKorvo7Q::Release()
{
    delete this;
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::Open(std::uint32_t slotIndex)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ != nullptr) {
        CloseDevice(device_);
        device_ = nullptr;
    }
    char serialText[KEY_SERIAL_TEXT_BYTES];
    if (!GetKeySerialEntry(slotIndex, serialText)) return CKR_SLOT_ID_INVALID;
    const auto serial = static_cast<std::uint32_t>(std::strtol(serialText, nullptr, 10));
    DeviceContext* context = nullptr;
    if (ConnectDevice(serial, &context) != 0 || context == nullptr) return CKR_TOKEN_NOT_PRESENT;
    device_ = context;
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::Close()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    CloseDevice(device_);
    device_ = nullptr;
    return CKR_OK;
}

CK_BYTE PKCS11QuorKorvo7Q::IsPresent()
{
    return QueryVersion(nullptr) == CKR_OK ? 1 : 0;
}

// The token record, login, storage-area and key operations follow with the
// token framework; until then they report themselves as not supported.
CK_RV PKCS11QuorKorvo7Q::FillTokenInfo(const std::uint8_t*, CK_TOKEN_INFO*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::Login(const char*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::Logout()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::InitToken(const char*, std::uint32_t, std::uint8_t**)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::SetPIN(CK_BYTE, const char*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::ReadStorageArea(CK_BYTE, std::uint8_t**, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::WriteStorageArea(CK_BYTE, const std::uint8_t*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::EraseStorageArea(CK_BYTE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GetAreaCapacity(CK_BYTE, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GetFreeMemory(const std::uint8_t*, CK_BYTE, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::SetFreeMemory(std::uint8_t*, CK_BYTE, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GenerateRandom(std::uint8_t*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GenerateKeyPair(CK_BYTE, CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                         const std::uint8_t*, std::uint8_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::DeriveKey(CK_ULONG, CK_ULONG, CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                   const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::SignHash32(CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                    const std::uint8_t*, const std::uint8_t*, std::uint8_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::WrapKeyOld(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint8_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::UnwrapKeyOld(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint8_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::CloseSessionContexts(CK_ULONG)
{
    return CKR_OK;
}
CK_RV PKCS11QuorKorvo7Q::SignHash(CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                                  std::uint32_t, std::uint8_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::DeriveKeyNew(CK_ULONG, CK_ULONG, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                                      const std::uint8_t*, const std::uint8_t*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::WrapKeyNew(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                                    std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::UnwrapKeyNew(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                                      std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

// ---- fixed answers of this driver ----

CK_RV PKCS11QuorKorvo7Q::VerifyPINRecord(std::uint8_t*, CK_BYTE, const char*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::UpdatePINRecord(std::uint8_t*, CK_BYTE, const char*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
std::uint32_t PKCS11QuorKorvo7Q::GetTokenRecordSize()
{
    return TOKEN_RECORD_BYTES;
}
std::uint32_t PKCS11QuorKorvo7Q::GetDefaultTokenFlags()
{
    return DEFAULT_TOKEN_FLAGS;
}
CK_BYTE PKCS11QuorKorvo7Q::CanInitToken()
{
    return 1;
}
CK_RV PKCS11QuorKorvo7Q::ReservedOperationA()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_BYTE PKCS11QuorKorvo7Q::UsesTokenContexts()
{
    return 0;
}
CK_RV PKCS11QuorKorvo7Q::SynchronizeContexts(CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_BYTE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::StoreObjectValue(void*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_BYTE PKCS11QuorKorvo7Q::IsConnected()
{
    return 1;
}
CK_RV PKCS11QuorKorvo7Q::ReleaseOthers()
{
    return CKR_OK;
}
CK_RV PKCS11QuorKorvo7Q::DeleteDSTU4145PrivateKey(CK_BYTE)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_BYTE PKCS11QuorKorvo7Q::HasNativeObjectStore()
{
    return 0;
}
CK_RV PKCS11QuorKorvo7Q::ReadNativeObjects(CK_ULONG, std::uint8_t**, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::UpdateNativeObject(PKCS11Object*, void*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::ReservedOperationB()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::ReservedOperationC()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::ReservedOperationD()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::DeleteRSAPrivateKey()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::DeleteECPrivateKey()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GetPrivateKeyNumber(CK_ULONG, CK_BYTE, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::StoreObject(PKCS11Object*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::GetCertificateNumber(CK_ULONG, std::uint32_t*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV PKCS11QuorKorvo7Q::DeleteCertificate(CK_ULONG)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11QuorKorvo7Q::HasExtendedHashes()
{
    std::uint8_t version = 0;
    CK_RV rv = QueryVersion(&version);
    if (rv != CKR_OK) return CKR_DEVICE_ERROR;
    return version < EXTENDED_VERSION ? CKR_FUNCTION_NOT_SUPPORTED : CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::HasExtendedCiphers()
{
    return HasExtendedHashes();
}
