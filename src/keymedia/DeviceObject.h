// What the full-key and the storage-carrier device objects share: the open
// key's context, serial and password, opening and closing, password change,
// erasing and the two record places on the key. The two classes differ in a
// few switches (retry after recovery, the state probe, the synthesised key
// container) and two hooks; the destructor and the hooks come after the 17
// slots of the interface, so callers indexing by slot never see them.
#ifndef QVK_KEYMEDIA_DEVICEOBJECT_H
#define QVK_KEYMEDIA_DEVICEOBJECT_H

#include <cstdint>

#include "keymedia/KMDevice.h"
#include "keymedia/QuorKorvo7QPKI.h"

struct DeviceContext;
class ICSPHardware;

namespace qvkkm {

// Byte limits of the two record places.
constexpr uint32_t kDataRecordLimit = 3068;  // the private area less the header
constexpr uint32_t kRecordHeaderBytes = 4;
constexpr uint32_t kPublicRecordReserve = 36;  // block 0 and the header
constexpr uint32_t kPrivateAreaBytes = 3072;
constexpr uint32_t kMemoryBlockBytes = 32;
constexpr uint32_t kMemoryPageBytes = 1024;
constexpr uint32_t kPublicRecordType = 17;
constexpr uint32_t kLastDataRecordType = 15;
constexpr size_t kSerialBuffer = 8;  // 7 digits and the terminator

// Runs an operation body, turning any exception into KM_BAD_STATE. A
// template, so that nothing that might throw happens outside the guard.
template <typename Body>
int Guarded(Body&& body)
{
    try {
        return body();
    } catch (...) {
        return KM_BAD_STATE;
    }
}

// RecoverFromError answered 0: the failed command may be sent once more.
bool RecoverAfter(DeviceContext* context, uint32_t code);

// The retry rule of the full key and its hardware objects: a failing device
// call goes to recovery, and when that answers 0 the call is made once more,
// whose result is final.
template <typename Command>
uint32_t CallWithRecovery(DeviceContext* context, Command&& command)
{
    uint32_t result = command();
    if (result != 0 && context != nullptr && RecoverAfter(context, result)) result = command();
    return result;
}

// Serial text as the device layer's id: the leading decimal digits, 0 when
// there are none.
uint32_t SerialNumberOf(const char* serial);

class KeyDeviceObject : public IKMQuorKorvo7Q, public QuorKorvo7QPKI {
public:
    struct Traits {
        bool retry;                // pass failures to RecoverFromError and try once more
        bool probeState;           // ask the device state right after connecting
        bool synthesiseContainer;  // absent records 5 and 6 stand for the keys on the key
    };

    explicit KeyDeviceObject(const Traits& traits);
    KeyDeviceObject(const KeyDeviceObject&) = delete;
    KeyDeviceObject& operator=(const KeyDeviceObject&) = delete;

    // Logs out when open, closes the connection and deletes the object.
    void Release() override;
    int EnumDevice(int index, char* serial) override;
    int Open(char* serial, char* password, int flags) override;
    int Close(const char* serial) override;
    int ChangePassword(const char* serial, char* newPassword) override;
    int Erase(const char* serial) override;
    int ReadRecord(char* serial, unsigned type, void* data, unsigned* length) override;
    int WriteRecord(const char* serial, unsigned type, const void* data, unsigned length) override;
    int Reserved10() override { return KM_NOT_SUPPORTED; }

    // For tests and diagnostics.
    DeviceContext* Context() const { return context_; }
    bool IsOpen() const { return open_ != 0; }
    const char* KeptPassword() const { return password_; }

protected:
    virtual ~KeyDeviceObject();

    // The full key rebinds its hardware objects whenever the context changes
    // (null when it goes away), so they never point at a closed context.
    virtual void ContextChanged() {}
    // The hardware object for the synthesised container, or null.
    virtual ICSPHardware* HardwareForContainer() { return nullptr; }

    // Open-state checks shared by the operations on the open key.
    int CheckOpen(const char* serial) const;
    // Device call on `context` with the class's retry rule.
    template <typename Command>
    uint32_t Call(DeviceContext* context, Command&& command)
    {
        return traits_.retry ? CallWithRecovery(context, command) : command();
    }
    // Connects the key by its serial text, with the state probe when the
    // class asks for it; `extraHealthy` is a further probe answer taken as
    // healthy (0 for none). 0 or a KM_* code; *context is the new connection.
    int Connect(const char* serial, uint32_t extraHealthy, DeviceContext** context);
    // Replaces the held context (closing the old one first).
    void ReplaceContext(DeviceContext* context);
    // Logs out when open, closes the held context, forgets the serial and
    // the password.
    int Shutdown(bool logout);

    // Record helpers (Records.cpp).
    int ReadPublicRecord(DeviceContext* context, void* data, unsigned* length);
    int ReadDataRecord(unsigned type, void* data, unsigned* length);
    int WritePublicRecord(const void* data, unsigned length);
    int WriteDataRecord(unsigned type, const void* data, unsigned length);

    Traits traits_;
    DeviceContext* context_ = nullptr;
    char serial_[kSerialBuffer] = {};
    int open_ = 0;
};

// A connection made for one operation on a key that is not open: closed on
// every path when it goes out of scope.
class TemporaryConnection {
public:
    TemporaryConnection() = default;
    ~TemporaryConnection();
    TemporaryConnection(const TemporaryConnection&) = delete;
    TemporaryConnection& operator=(const TemporaryConnection&) = delete;
    DeviceContext** Slot() { return &context_; }
    DeviceContext* Get() const { return context_; }

private:
    DeviceContext* context_ = nullptr;
};

// Holds LockDevice for a scope.
class DeviceLock {
public:
    explicit DeviceLock(DeviceContext* context);
    ~DeviceLock();
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;
    bool Held() const { return held_; }

private:
    DeviceContext* context_;
    bool held_;
};

}  // namespace qvkkm

#endif
