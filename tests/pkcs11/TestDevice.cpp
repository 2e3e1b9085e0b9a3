#include "TestDevice.h"

#include <new>

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11DriverSeam.h"

TestDeviceState& TestDevice()
{
    static TestDeviceState state;
    return state;
}

namespace {

class RefusingDevice final : public PKCS11Device {
public:
    RefusingDevice() { ++TestDevice().liveDevices; }
    ~RefusingDevice() { --TestDevice().liveDevices; }

    CK_RV Release() override
    {
        delete this;
        return CKR_OK;
    }
    CK_RV Open(std::uint32_t slotIndex) override
    {
        open_ = false;
        if (slotIndex >= TestDevice().keys) return CKR_SLOT_ID_INVALID;
        if (slotIndex >= 32 || (TestDevice().presentMask >> slotIndex & 1u) == 0) return CKR_TOKEN_NOT_PRESENT;
        open_ = true;
        return CKR_OK;
    }
    CK_RV Close() override
    {
        open_ = false;
        return CKR_OK;
    }
    CK_BYTE IsPresent() override { return open_ ? 1 : 0; }
    CK_BYTE IsConnected() override { return open_ ? 1 : 0; }

    CK_RV FillTokenInfo(const std::uint8_t*, CK_TOKEN_INFO*) override { return No(); }
    CK_RV Login(const char*, std::uint32_t) override { return No(); }
    CK_RV Logout() override { return No(); }
    CK_RV InitToken(const char*, std::uint32_t, std::uint8_t**) override { return No(); }
    CK_RV SetPIN(CK_BYTE, const char*, std::uint32_t) override { return No(); }
    CK_RV VerifyPINRecord(std::uint8_t*, CK_BYTE, const char*, std::uint32_t) override { return No(); }
    CK_RV UpdatePINRecord(std::uint8_t*, CK_BYTE, const char*, std::uint32_t) override { return No(); }
    CK_RV ReadStorageArea(CK_BYTE, std::uint8_t**, std::uint32_t*) override { return No(); }
    CK_RV WriteStorageArea(CK_BYTE, const std::uint8_t*, std::uint32_t) override { return No(); }
    CK_RV EraseStorageArea(CK_BYTE) override { return No(); }
    std::uint32_t GetTokenRecordSize() override { return 0; }
    std::uint32_t GetDefaultTokenFlags() override { return 0; }
    CK_RV GetAreaCapacity(CK_BYTE, std::uint32_t*) override { return No(); }
    CK_RV GetFreeMemory(const std::uint8_t*, CK_BYTE, std::uint32_t*) override { return No(); }
    CK_RV SetFreeMemory(std::uint8_t*, CK_BYTE, std::uint32_t) override { return No(); }
    CK_BYTE CanInitToken() override { return 0; }
    CK_RV GenerateRandom(std::uint8_t*, std::uint32_t) override { return No(); }
    CK_RV GenerateKeyPair(CK_BYTE, CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                          std::uint8_t*) override
    {
        return No();
    }
    CK_RV DeriveKey(CK_ULONG, CK_ULONG, CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*,
                    const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint32_t) override
    {
        return No();
    }
    CK_RV SignHash32(CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                     const std::uint8_t*, std::uint8_t*) override
    {
        return No();
    }
    CK_RV WrapKeyOld(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint8_t*) override { return No(); }
    CK_RV UnwrapKeyOld(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint8_t*) override { return No(); }
    CK_RV ReservedOperationA() override { return No(); }
    CK_BYTE UsesTokenContexts() override { return 0; }
    CK_RV CloseSessionContexts(CK_ULONG) override { return CKR_OK; }
    CK_RV SynchronizeContexts(CK_ULONG, CK_ULONG, CK_ULONG, CK_ULONG, CK_BYTE) override { return CKR_OK; }
    CK_RV StoreObjectValue(void*) override { return No(); }
    CK_RV ReleaseOthers() override { return CKR_OK; }
    CK_RV DeleteDSTU4145PrivateKey(CK_BYTE) override { return No(); }
    CK_BYTE HasNativeObjectStore() override { return 0; }
    CK_RV ReadNativeObjects(CK_ULONG, std::uint8_t**, std::uint32_t*) override { return No(); }
    CK_RV UpdateNativeObject(PKCS11Object*, void*) override { return No(); }
    CK_RV ReservedOperationB() override { return No(); }
    CK_RV ReservedOperationC() override { return No(); }
    CK_RV ReservedOperationD() override { return No(); }
    CK_RV DeleteRSAPrivateKey() override { return No(); }
    CK_RV DeleteECPrivateKey() override { return No(); }
    CK_RV GetPrivateKeyNumber(CK_ULONG, CK_BYTE, std::uint32_t*) override { return No(); }
    CK_RV StoreObject(PKCS11Object*) override { return No(); }
    CK_RV GetCertificateNumber(CK_ULONG, std::uint32_t*) override { return No(); }
    CK_RV DeleteCertificate(CK_ULONG) override { return No(); }
    CK_RV HasExtendedHashes() override { return No(); }
    CK_RV HasExtendedCiphers() override { return No(); }
    CK_RV SignHash(CK_BYTE, const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*, std::uint32_t,
                   std::uint8_t*) override
    {
        return No();
    }
    CK_RV DeriveKeyNew(CK_ULONG, CK_ULONG, const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                       const std::uint8_t*, std::uint32_t) override
    {
        return No();
    }
    CK_RV WrapKeyNew(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t) override
    {
        return No();
    }
    CK_RV UnwrapKeyNew(CK_ULONG, CK_ULONG, const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t) override
    {
        return No();
    }

private:
    static CK_RV No() { return CKR_FUNCTION_NOT_SUPPORTED; }

    bool open_ = false;
};

bool Start()
{
    ++TestDevice().starts;
    return TestDevice().startSucceeds;
}

void Stop()
{
    ++TestDevice().stops;
}

bool Available()
{
    return true;
}

CK_RV Enumerate(std::uint32_t wanted)
{
    return wanted < TestDevice().keys ? CKR_OK : CKR_SLOT_ID_INVALID;
}

PKCS11Device* Create()
{
    return new (std::nothrow) RefusingDevice();
}

[[maybe_unused]] const bool g_registered = [] {
    RegisterPKCS11Driver({&Start, &Stop, &Available, &Enumerate, &Create});
    return true;
}();

}  // namespace
