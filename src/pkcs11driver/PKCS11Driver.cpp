#include "pkcs11driver/PKCS11Driver.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "device/DeviceProtocol.h"
#include "pkcs11/PKCS11DriverSeam.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

namespace {

struct KeySerialTable {
    char entries[KEY_SERIAL_ENTRIES][KEY_SERIAL_TEXT_BYTES];
    std::atomic<std::uint32_t> count;
};

KeySerialTable g_table{};
// Scans from several threads append one at a time.
std::mutex g_scanLock;

}  // namespace

std::uint32_t KeySerialCount()
{
    return g_table.count.load(std::memory_order_acquire);
}

bool GetKeySerialEntry(std::uint32_t index, char out[KEY_SERIAL_TEXT_BYTES])
{
    if (out == nullptr || index >= KeySerialCount()) return false;
    std::memcpy(out, g_table.entries[index], KEY_SERIAL_TEXT_BYTES);
    out[KEY_SERIAL_TEXT_BYTES - 1] = '\0';
    return true;
}

CK_RV EnumerateKeySerials(std::uint32_t wanted)
{
    if (wanted < KeySerialCount()) return CKR_OK;
    // There is no entry beyond the last one the table can hold.
    if (wanted >= KEY_SERIAL_ENTRIES) return CKR_SLOT_ID_INVALID;
    std::lock_guard<std::mutex> guard(g_scanLock);
    std::uint32_t count = g_table.count.load(std::memory_order_relaxed);
    if (wanted < count) return CKR_OK;  // another thread's scan found it meanwhile
    for (std::uint32_t ordinal = 0;; ++ordinal) {
        std::uint32_t serial = 0;
        const std::uint32_t status = GetSerialByOrdinal(ordinal, &serial);
        if (status == KEYERR_NOT_FOUND) return CKR_SLOT_ID_INVALID;
        // A reader without a key, or whose key does not answer now (busy, cut
        // short, failing), hides none after it; it is met again by later scans.
        if (status != 0) continue;
        char text[KEY_SERIAL_TEXT_BYTES];
        std::snprintf(text, sizeof(text), "%d", static_cast<int>(serial));
        bool known = false;
        for (std::uint32_t i = 0; i < count && !known; ++i) known = std::strcmp(g_table.entries[i], text) == 0;
        if (known) continue;
        std::memcpy(g_table.entries[count], text, sizeof(text));
        ++count;
        g_table.count.store(count, std::memory_order_release);
        if (wanted < count) return CKR_OK;
        if (count == KEY_SERIAL_ENTRIES) return CKR_SLOT_ID_INVALID;
    }
}

PKCS11Device* CreatePKCS11Device()
{
    return new (std::nothrow) PKCS11QuorKorvo7Q();
}

bool IsDeviceLayerAvailable()
{
    return true;
}

bool StartDriver()
{
    return StartPKIServices(nullptr);
}

void StopDriver()
{
    StopPKIServices();
    CloseSharedMemory();
}

namespace {

// The framework knows the driver only through this registration, made as the
// module (or a program linking the driver) is loaded.
[[maybe_unused]] const bool g_registered = [] {
    RegisterPKCS11Driver(
        {&StartDriver, &StopDriver, &IsDeviceLayerAvailable, &EnumerateKeySerials, &CreatePKCS11Device});
    return true;
}();

}  // namespace
