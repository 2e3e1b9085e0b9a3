#include "pkcs11driver/PKCS11QuorKorvo7Q.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "crypto/ByteOrder.h"
#include "crypto/SecureWipe.h"
#include "device/DeviceProtocol.h"
#include "pkcs11/PKCS11Text.h"
#include "pkcs11driver/PKCS11DeviceStatus.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7QGuard.h"

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

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

namespace {

// Token record fields (little-endian).
constexpr std::size_t RECORD_FLAGS = 34;
constexpr std::size_t RECORD_FREE_PRIVATE = 38;
constexpr std::size_t RECORD_FREE_PUBLIC = 42;
constexpr std::uint32_t PRIVATE_AREA_BYTES = 3072;
constexpr std::uint32_t BLOCK_BYTES = 32;
constexpr std::uint32_t PAGE_BYTES = 1024;
constexpr CK_BYTE PRIVATE_AREA = 1;

constexpr std::uint32_t RoundUp(std::uint32_t n, std::uint32_t unit)
{
    return (n + unit - 1) / unit * unit;
}

// The PIN in Windows-1251, terminated after the converted bytes.
// The PIN in Windows-1251 with its terminating zero, in a wiping buffer.
CK_RV ConvertPin(const char* pin, std::uint32_t length, qvkcrypto::SecureBytes* out, CK_RV noMemory)
{
    try {
        out->assign(static_cast<std::size_t>(length) + 1, 0);
    } catch (const std::bad_alloc&) {
        return noMemory;
    }
    CK_ULONG converted = 0;
    CK_RV rv = Utf8ToCp1251(pin, length, reinterpret_cast<char*>(out->data()), &converted);
    if (rv != CKR_OK) return rv;
    (*out)[converted] = 0;
    return CKR_OK;
}

// A converted PIN as the device layer takes it; none is the empty PIN.
const char* PinText(const qvkcrypto::SecureBytes& pin)
{
    return pin.empty() ? "" : reinterpret_cast<const char*>(pin.data());
}

}  // namespace

CK_RV PKCS11QuorKorvo7Q::FillTokenInfo(const std::uint8_t* tokenRecord, CK_TOKEN_INFO* info)
{
    if (tokenRecord == nullptr || info == nullptr) return CKR_ARGUMENTS_BAD;
    DeviceInfo device{};
    CK_RV rv = Guarded([&] { return QueryDeviceInfo(device_, &device); });
    if (rv != CKR_OK) return rv;
    std::uint32_t publicCapacity = 0;
    std::uint32_t privateCapacity = 0;
    if ((rv = GetAreaCapacity(0, &publicCapacity)) != CKR_OK ||
        (rv = GetAreaCapacity(PRIVATE_AREA, &privateCapacity)) != CKR_OK)
        return rv;
    info->ulTotalPublicMemory = publicCapacity;
    info->ulTotalPrivateMemory = privateCapacity;
    // A damaged record must not report more free memory than the areas hold.
    const std::uint32_t publicRoom = publicCapacity - std::min<std::uint32_t>(publicCapacity, TOKEN_RECORD_BYTES + 2);
    info->ulFreePublicMemory = std::min(LoadLE32(tokenRecord + RECORD_FREE_PUBLIC), publicRoom);
    info->ulFreePrivateMemory = std::min(LoadLE32(tokenRecord + RECORD_FREE_PRIVATE), privateCapacity);
    // The key has one password: an initialised token has its user PIN, and
    // how near that password is to being blocked is the key's own count. The
    // record's count-low flags stay too: they also note wrong PINs that a
    // shared session refused before they reached the key.
    info->flags &= ~(PIN_TRY_FLAGS & ~(CKF_USER_PIN_COUNT_LOW | CKF_SO_PIN_COUNT_LOW));
    info->flags |= PinTryFlags(FailedPasswordTries(device));
    if (info->flags & CKF_TOKEN_INITIALIZED) info->flags |= CKF_USER_PIN_INITIALIZED;
    std::memset(info->serialNumber, ' ', sizeof(info->serialNumber));
    char serial[32];
    const int n = std::snprintf(serial, sizeof(serial), "%06d", static_cast<int>(device.serial));
    std::memcpy(info->serialNumber, serial, std::min<std::size_t>(static_cast<std::size_t>(n), 16));
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::Login(const char* pin, std::uint32_t length)
{
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    qvkcrypto::SecureBytes converted;
    if (length != 0) {
        if (pin == nullptr) return CKR_ARGUMENTS_BAD;
        CK_RV rv = ConvertPin(pin, length, &converted, CKR_GENERAL_ERROR);
        if (rv != CKR_OK) return rv;
    }
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    // A blocked password is not tried: the key would only answer it as wrong.
    std::uint32_t status = PasswordBlockedStatus();
    if (status == 0) status = AuthenticateDevice(device_, PinText(converted));
    // The try that used up the last one blocked the password.
    if (status == KEYERR_WRONG_PASSWORD && PasswordBlockedStatus() == KEYERR_PASSWORD_BLOCKED)
        status = KEYERR_PASSWORD_BLOCKED;
    return DeviceStatusToCKR(status);
}

std::uint32_t PKCS11QuorKorvo7Q::PasswordBlockedStatus()
{
    DeviceInfo info{};
    const std::uint32_t status = QueryDeviceInfo(device_, &info);
    if (status != 0) return status;
    return FailedPasswordTries(info) >= DEVICE_PASSWORD_TRIES ? KEYERR_PASSWORD_BLOCKED : 0;
}

CK_RV PKCS11QuorKorvo7Q::Logout()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    return DeviceStatusToCKR(LogoutDevice(device_));
}

CK_RV PKCS11QuorKorvo7Q::InitToken(const char* soPin, std::uint32_t length, std::uint8_t** record)
{
    if (record == nullptr) return CKR_ARGUMENTS_BAD;
    *record = nullptr;
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    qvkcrypto::SecureBytes converted;
    if (length != 0) {
        if (soPin == nullptr) return CKR_ARGUMENTS_BAD;
        CK_RV rv = ConvertPin(soPin, length, &converted, CKR_GENERAL_ERROR);
        if (rv != CKR_OK) return rv;
    }
    {
        PKCS11LockGuard lock(*this);
        if (lock.Result() != CKR_OK) return lock.Result();
        if (device_ == nullptr) return CKR_DEVICE_ERROR;
        // Formatting erases everything on the key and sets the password: only
        // one who knows the key's password may do it. The check and the
        // format run under one hold of the key, so no password change of
        // another process falls in between.
        const std::uint32_t held = LockDevice(device_);
        if (held != 0) return DeviceStatusToCKR(held);
        CK_RV rv = Login(soPin, length);
        if (rv == CKR_OK) rv = Logout();
        if (rv == CKR_OK) rv = DeviceStatusToCKR(FormatDevice(device_, PinText(converted)));
        UnlockDevice(device_);
        if (rv != CKR_OK) return rv;
        if ((rv = Login(soPin, length)) != CKR_OK) return rv;
        if ((rv = Logout()) != CKR_OK) return rv;
    }
    const std::uint32_t size = GetTokenRecordSize();
    std::unique_ptr<std::uint8_t[]> made(new (std::nothrow) std::uint8_t[size]);
    if (!made) return CKR_HOST_MEMORY;
    std::memset(made.get(), 0, size);
    made[0] = 1;
    made[1] = 0;
    StoreLE32(made.get() + RECORD_FLAGS, GetDefaultTokenFlags());
    std::uint32_t capacity = 0;
    CK_RV rv = GetAreaCapacity(0, &capacity);
    if (rv != CKR_OK) return rv;
    StoreLE32(made.get() + RECORD_FREE_PUBLIC, capacity);
    if ((rv = GetAreaCapacity(PRIVATE_AREA, &capacity)) != CKR_OK) return rv;
    StoreLE32(made.get() + RECORD_FREE_PRIVATE, capacity);
    *record = made.release();
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::SetPIN(CK_BYTE, const char* pin, std::uint32_t length)
{
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    if (pin == nullptr || length == 0) return CKR_ARGUMENTS_BAD;
    qvkcrypto::SecureBytes converted;
    CK_RV rv = ConvertPin(pin, length, &converted, CKR_HOST_MEMORY);
    if (rv != CKR_OK) return rv;
    // The key changes its password under the live login without the old
    // one, so a failure here is the key's trouble, never a wrong PIN.
    return Guarded([&] { return ChangeDevicePassword(device_, PinText(converted)); });
}

CK_RV PKCS11QuorKorvo7Q::ReadAreaBlocks(std::uint32_t firstBlock, std::uint32_t bytes, std::uint8_t** image)
{
    const std::uint32_t blocks = (bytes + BLOCK_BYTES - 1) / BLOCK_BYTES;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[blocks * BLOCK_BYTES]);
    if (!buffer) return CKR_HOST_MEMORY;
    if (const std::uint32_t held = LockDevice(device_); held != 0) return DeviceStatusToCKR(held);
    // Under the key's lock no one changes its memory: one load of the image
    // gives every block as block-by-block reads would (and a 4 KiB area in
    // one go rather than 128 image loads).
    const CK_RV rv = Retried([&] { return ReadMemoryBlocks(device_, buffer.get(), firstBlock, blocks); });
    UnlockDevice(device_);
    if (rv != CKR_OK) return rv;
    *image = buffer.release();
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length)
{
    if (length == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    if (image != nullptr) *image = nullptr;
    const std::uint32_t publicSize = PublicAreaSize(device_);
    const std::uint32_t capacity = area == PRIVATE_AREA ? PRIVATE_AREA_BYTES : publicSize;
    if (image == nullptr) {
        *length = capacity;
        return CKR_OK;
    }
    const std::uint32_t firstBlock = area == PRIVATE_AREA ? publicSize / BLOCK_BYTES : 0;
    // The area and the record's free count of it are read under one hold of
    // the key: a writer in between would pair one area with another's count.
    if (LockDevice(device_) != 0) return CKR_DEVICE_ERROR;
    struct Unlock {
        DeviceContext* device;
        ~Unlock() { UnlockDevice(device); }
    } unlock{device_};
    std::uint8_t* read = nullptr;
    CK_RV rv = ReadAreaBlocks(firstBlock, capacity, &read);
    if (rv != CKR_OK) return rv;
    std::unique_ptr<std::uint8_t[]> data(read);

    // The used part: the capacity less the record's free memory of the area.
    std::uint32_t used = capacity;
    const std::uint32_t recordSize = GetTokenRecordSize();
    if (area != PRIVATE_AREA && cachedFreePublicMemory_ >= 0) {
        used = capacity - std::min<std::uint32_t>(capacity, static_cast<std::uint32_t>(cachedFreePublicMemory_));
    } else {
        std::unique_ptr<std::uint8_t[]> headerCopy;
        const std::uint8_t* header = data.get();
        if (area == PRIVATE_AREA) {
            std::uint8_t* h = nullptr;
            if ((rv = ReadAreaBlocks(0, recordSize + 2, &h)) != CKR_OK) return rv;
            headerCopy.reset(h);
            header = h;
        }
        if (header[0] == 0x3F && header[1] == 0xFF) {
            const std::uint8_t* record = header + 2;
            if (area == PRIVATE_AREA) {
                const std::uint32_t free = LoadLE32(record + RECORD_FREE_PRIVATE);
                used = capacity - std::min(free, PRIVATE_AREA_BYTES);
            } else {
                const std::uint32_t free = LoadLE32(record + RECORD_FREE_PUBLIC);
                used = capacity - std::min(free, publicSize - recordSize - 2);
            }
        }
    }
    *image = data.release();
    *length = used;
    return CKR_OK;
}

namespace {

bool Blank(const std::uint8_t* bytes, std::uint32_t n)
{
    return std::all_of(bytes, bytes + n, [](std::uint8_t b) { return b == 0xFF; });
}

}  // namespace

// One area's write: its new content, what the key holds, the part readers
// look at now, the new content's written part, and the pages sorted by
// PreparePages.
struct PKCS11QuorKorvo7Q::AreaRewrite {
    CK_BYTE area = 0;
    qvkcrypto::SecureBytes next;
    qvkcrypto::SecureBytes onKey;
    std::uint32_t seen = 0;
    std::uint32_t end = 0;
    std::vector<std::uint32_t> looked;  // changed pages that readers look at
    std::vector<std::uint32_t> spare;   // pages free before and after

    const std::uint8_t* NextPage(std::uint32_t i) const { return next.data() + i * PAGE_BYTES; }
    bool Changed(std::uint32_t i) const
    {
        return std::memcmp(NextPage(i), onKey.data() + i * PAGE_BYTES, PAGE_BYTES) != 0;
    }
};

// A page written through a shadow page of its own area.
struct PKCS11QuorKorvo7Q::PageCopy {
    AreaRewrite* write;
    std::uint32_t page;
    std::uint32_t shadow;
};

CK_RV PKCS11QuorKorvo7Q::WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length)
{
    cachedFreePublicMemory_ = -1;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    if (data == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    // Refused before anything is erased: an oversized write loses nothing.
    if (length > (area == PRIVATE_AREA ? PRIVATE_AREA_BYTES : PublicAreaSize(device_))) return CKR_DEVICE_MEMORY;
    // Read and write under one hold of the key: a reader in between would
    // find the area half written.
    if (const std::uint32_t held = LockDevice(device_); held != 0) return DeviceStatusToCKR(held);
    AreaRewrite write;
    CK_RV rv = PrepareRewrite(area, data, length, &write);
    if (rv == CKR_OK) {
        rv = RewriteAreas({&write});
    } else if (area == PRIVATE_AREA && !device_->loggedIn) {
        // The private area is read only after a login: the write goes on as
        // it always did and answers what the key says to it.
        rv = RewriteWholeArea(area, data, length);
    }
    UnlockDevice(device_);
    return rv;
}

CK_RV PKCS11QuorKorvo7Q::WriteBothAreas(const std::uint8_t* privateData, std::uint32_t privateLength,
                                        const std::uint8_t* publicData, std::uint32_t publicLength)
{
    cachedFreePublicMemory_ = -1;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    if ((privateData == nullptr && privateLength != 0) || (publicData == nullptr && publicLength != 0))
        return CKR_ARGUMENTS_BAD;
    if (privateLength > PRIVATE_AREA_BYTES || publicLength > PublicAreaSize(device_)) return CKR_DEVICE_MEMORY;
    if (const std::uint32_t held = LockDevice(device_); held != 0) return DeviceStatusToCKR(held);
    AreaRewrite privateWrite;
    AreaRewrite publicWrite;
    CK_RV rv = PrepareRewrite(PRIVATE_AREA, privateData, privateLength, &privateWrite);
    if (rv == CKR_OK) rv = PrepareRewrite(0, publicData, publicLength, &publicWrite);
    if (rv == CKR_OK) {
        rv = RewriteAreas({&privateWrite, &publicWrite});
    } else {
        // An area that cannot be read first: one after the other, each as
        // its own write decides.
        rv = PKCS11Device::WriteBothAreas(privateData, privateLength, publicData, publicLength);
    }
    UnlockDevice(device_);
    return rv;
}

// Erases everything, then writes the blocks: for an area that cannot be
// read before.
CK_RV PKCS11QuorKorvo7Q::RewriteWholeArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length)
{
    // This class's own erasure by name: a derived driver's EraseStorageArea
    // may act on something else than the key's pages.
    CK_RV rv = PKCS11QuorKorvo7Q::EraseStorageArea(area);
    if (rv != CKR_OK) return rv;
    const std::uint32_t firstBlock = area == PRIVATE_AREA ? PublicAreaSize(device_) / BLOCK_BYTES : 0;
    const std::uint32_t whole = length / BLOCK_BYTES;
    for (std::uint32_t i = 0; i < whole && rv == CKR_OK; ++i)
        rv = Retried([&] { return WriteMemoryBlock(device_, data + i * BLOCK_BYTES, firstBlock + i); });
    if (rv == CKR_OK && length % BLOCK_BYTES != 0) {
        std::uint8_t last[BLOCK_BYTES] = {};
        std::memcpy(last, data + whole * BLOCK_BYTES, length % BLOCK_BYTES);
        rv = Retried([&] { return WriteMemoryBlock(device_, last, firstBlock + whole); });
    }
    return rv;
}

CK_RV PKCS11QuorKorvo7Q::PrepareRewrite(CK_BYTE area, const std::uint8_t* data, std::uint32_t length,
                                        AreaRewrite* write)
{
    const std::uint32_t capacity = area == PRIVATE_AREA ? PRIVATE_AREA_BYTES : PublicAreaSize(device_);
    // The area's content and the part of it its readers look at now.
    std::uint8_t* read = nullptr;
    CK_RV rv = PKCS11QuorKorvo7Q::ReadStorageArea(area, &read, &write->seen);
    std::unique_ptr<std::uint8_t[]> old(read);
    if (rv != CKR_OK) return rv;
    write->area = area;
    write->next.assign(capacity, 0xFF);
    if (length != 0) std::memcpy(write->next.data(), data, length);
    // The last block's tail is written as zeros.
    write->end = RoundUp(length, BLOCK_BYTES);
    std::fill(write->next.begin() + length, write->next.begin() + std::min(capacity, write->end), 0);
    write->onKey.assign(old.get(), old.get() + capacity);
    qvkcrypto::SecureWipe(old.get(), capacity);
    return CKR_OK;
}

// Gives page `index` of the area the content `page`: erased when it holds
// anything, then its blocks that are not blank written. *onKey follows.
CK_RV PKCS11QuorKorvo7Q::PutPage(CK_BYTE area, std::uint32_t index, const std::uint8_t* page,
                                 qvkcrypto::SecureBytes* onKey)
{
    const std::uint32_t firstPage = area == PRIVATE_AREA ? PublicAreaSize(device_) / PAGE_BYTES : 0;
    std::uint8_t* current = onKey->data() + index * PAGE_BYTES;
    CK_RV rv = CKR_OK;
    if (!Blank(current, PAGE_BYTES)) {
        rv = Retried([&] { return EraseMemoryPage(device_, firstPage + index); });
        if (rv != CKR_OK) return rv;
        std::memset(current, 0xFF, PAGE_BYTES);
    }
    const std::uint32_t firstBlock = (firstPage + index) * (PAGE_BYTES / BLOCK_BYTES);
    for (std::uint32_t k = 0; k < PAGE_BYTES / BLOCK_BYTES; ++k) {
        const std::uint8_t* block = page + k * BLOCK_BYTES;
        if (Blank(block, BLOCK_BYTES)) continue;
        rv = Retried([&] { return WriteMemoryBlock(device_, block, firstBlock + k); });
        if (rv != CKR_OK) return rv;
        std::memcpy(current + k * BLOCK_BYTES, block, BLOCK_BYTES);
    }
    return CKR_OK;
}

// Writes the changed pages that readers of the old content do not look at
// (wholly past its used part), and sorts the others into looked-at pages and
// spare ones (free before and after).
CK_RV PKCS11QuorKorvo7Q::PreparePages(AreaRewrite* write)
{
    const auto pages = static_cast<std::uint32_t>(write->next.size() / PAGE_BYTES);
    for (std::uint32_t i = 0; i < pages; ++i) {
        const std::uint32_t start = i * PAGE_BYTES;
        if (start >= write->seen && start >= write->end) {
            write->spare.push_back(i);
        } else if (write->Changed(i) && start < write->seen) {
            write->looked.push_back(i);
        } else if (write->Changed(i)) {
            if (const CK_RV rv = PutPage(write->area, i, write->NextPage(i), &write->onKey); rv != CKR_OK) return rv;
        }
    }
    return CKR_OK;
}

// The copies under one journal entry: each shadow given its target's new
// content, the copies named, the targets rewritten, the entry cleared.
CK_RV PKCS11QuorKorvo7Q::CopyThroughShadows(const std::vector<PageCopy>& copies)
{
    std::uint8_t targets[4];
    std::uint8_t shadows[4];
    for (std::size_t j = 0; j < copies.size(); ++j) {
        const PageCopy& c = copies[j];
        const std::uint32_t firstPage = c.write->area == PRIVATE_AREA ? PublicAreaSize(device_) / PAGE_BYTES : 0;
        if (const CK_RV rv = PutPage(c.write->area, c.shadow, c.write->NextPage(c.page), &c.write->onKey); rv != CKR_OK)
            return rv;
        targets[j] = static_cast<std::uint8_t>(firstPage + c.page);
        shadows[j] = static_cast<std::uint8_t>(firstPage + c.shadow);
    }
    const auto count = static_cast<std::uint32_t>(copies.size());
    CK_RV rv = Retried([&] { return BeginPageCopies(device_, targets, shadows, count); });
    for (std::size_t j = 0; j < copies.size() && rv == CKR_OK; ++j)
        rv = PutPage(copies[j].write->area, copies[j].page, copies[j].write->NextPage(copies[j].page),
                     &copies[j].write->onKey);
    if (rv != CKR_OK) return rv;
    return Retried([&] { return EndPageCopies(device_); });
}

// The looked-at pages of one area: under one journal entry when there are
// shadows enough, else one at a time, those whose looked-at part stays first
// (they leave the old content readable whatever follows); without the
// journal, or without a free page, in place from the last page, so the token
// record of the public area's first page comes last.
CK_RV PKCS11QuorKorvo7Q::RewriteLookedPages(AreaRewrite* write, bool journal)
{
    std::vector<std::uint32_t>& looked = write->looked;
    CK_RV rv = CKR_OK;
    if (!journal || write->spare.empty()) {
        for (auto i = looked.rbegin(); i != looked.rend(); ++i)
            if ((rv = PutPage(write->area, *i, write->NextPage(*i), &write->onKey)) != CKR_OK) return rv;
        return CKR_OK;
    }
    if (looked.size() <= write->spare.size()) {
        std::vector<PageCopy> copies;
        for (std::size_t j = 0; j < looked.size(); ++j) copies.push_back({write, looked[j], write->spare[j]});
        return CopyThroughShadows(copies);
    }
    std::stable_partition(looked.begin(), looked.end(), [&](std::uint32_t i) {
        const std::uint32_t start = i * PAGE_BYTES;
        const std::uint32_t n = std::min(PAGE_BYTES, write->seen - start);
        return std::memcmp(write->NextPage(i), write->onKey.data() + start, n) == 0;
    });
    for (std::uint32_t i : looked)
        if ((rv = CopyThroughShadows({{write, i, write->spare[0]}})) != CKR_OK) return rv;
    return CKR_OK;
}

// Writes only the pages that change, so that the areas read as their old or
// their new content whenever the writing stops: first the pages readers do
// not look at, then the looked-at pages of all the areas through shadow
// pages under one journal entry (the areas change together: a token record
// and the private records it counts), then the looked-at pages left blank,
// and last the shadows erased again. Where an area lacks the free pages for
// that, each area goes on its own.
CK_RV PKCS11QuorKorvo7Q::RewriteAreas(const std::vector<AreaRewrite*>& writes)
{
    CK_RV rv = CKR_OK;
    for (AreaRewrite* w : writes)
        if ((rv = PreparePages(w)) != CKR_OK) break;
    // A looked-at page that holds nothing of the new content is looked at
    // only under the old used part: it is blanked once the entry is cleared
    // (the new used part in force), and needs no shadow.
    std::vector<PageCopy> together;
    std::vector<std::pair<AreaRewrite*, std::uint32_t>> blankedAfter;
    bool shadowsEnough = true;
    bool journalUseful = false;
    for (AreaRewrite* w : writes) {
        std::vector<std::uint32_t> copied;
        for (std::uint32_t i : w->looked) {
            if (i * PAGE_BYTES >= w->end) {
                blankedAfter.emplace_back(w, i);
            } else {
                copied.push_back(i);
            }
        }
        shadowsEnough = shadowsEnough && copied.size() <= w->spare.size();
        journalUseful = journalUseful || (!w->looked.empty() && !w->spare.empty());
        for (std::size_t j = 0; j < copied.size() && j < w->spare.size(); ++j)
            together.push_back({w, copied[j], w->spare[j]});
    }
    int journal = 0;
    if (rv == CKR_OK && journalUseful) rv = DeviceStatusToCKR(StorageJournalReady(device_, &journal));
    if (rv == CKR_OK && journal && shadowsEnough && !together.empty() && together.size() <= 4) {
        rv = CopyThroughShadows(together);
        for (const auto& [w, i] : blankedAfter)
            if (rv == CKR_OK) rv = PutPage(w->area, i, w->NextPage(i), &w->onKey);
    } else {
        for (AreaRewrite* w : writes)
            if (rv == CKR_OK) rv = RewriteLookedPages(w, journal != 0);
    }
    // The shadows, and leftovers of an earlier writer, back to the new content.
    for (AreaRewrite* w : writes)
        for (std::uint32_t i : w->spare)
            if (rv == CKR_OK && w->Changed(i)) rv = PutPage(w->area, i, w->NextPage(i), &w->onKey);
    // A command that failed may still have reached the key: the images are
    // read from the key again before they are trusted.
    if (rv != CKR_OK)
        for (AreaRewrite* w : writes) InvalidateMemoryImage(device_, w->area == PRIVATE_AREA ? 1 : 0);
    return rv;
}

CK_RV PKCS11QuorKorvo7Q::HoldStorage()
{
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    return DeviceStatusToCKR(LockDevice(device_));
}

CK_RV PKCS11QuorKorvo7Q::ReleaseStorage()
{
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    UnlockDevice(device_);
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::EraseStorageArea(CK_BYTE area)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    if (const std::uint32_t held = LockDevice(device_); held != 0) return DeviceStatusToCKR(held);
    const std::uint32_t publicSize = PublicAreaSize(device_);
    const std::uint32_t first = area == PRIVATE_AREA ? publicSize / PAGE_BYTES : 0;
    const std::uint32_t end =
        area == PRIVATE_AREA ? (publicSize + PRIVATE_AREA_BYTES) / PAGE_BYTES : publicSize / PAGE_BYTES;
    CK_RV rv = CKR_OK;
    for (std::uint32_t page = first; page < end && rv == CKR_OK; ++page)
        rv = Retried([&] { return EraseMemoryPage(device_, page); });
    UnlockDevice(device_);
    return rv;
}

CK_RV PKCS11QuorKorvo7Q::GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity)
{
    if (capacity == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (area == PRIVATE_AREA) {
        *capacity = PRIVATE_AREA_BYTES;
        return CKR_OK;
    }
    // The public area's size depends on the key's version: unknown while closed.
    if (device_ == nullptr) return CKR_GENERAL_ERROR;
    *capacity = PublicAreaSize(device_);
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::GetFreeMemory(const std::uint8_t* record, CK_BYTE area, std::uint32_t* value)
{
    if (value == nullptr || record == nullptr) return CKR_ARGUMENTS_BAD;
    *value = LoadLE32(record + (area == PRIVATE_AREA ? RECORD_FREE_PRIVATE : RECORD_FREE_PUBLIC));
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::SetFreeMemory(std::uint8_t* record, CK_BYTE area, std::uint32_t value)
{
    if (record == nullptr) return CKR_ARGUMENTS_BAD;
    if (area == PRIVATE_AREA) {
        StoreLE32(record + RECORD_FREE_PRIVATE, value);
    } else {
        StoreLE32(record + RECORD_FREE_PUBLIC, value);
        cachedFreePublicMemory_ = static_cast<std::int32_t>(value);
    }
    return CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::GenerateRandom(std::uint8_t* buffer, std::uint32_t length)
{
    if (buffer == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    if (length > 0x7FFFFFFFu) return CKR_ARGUMENTS_BAD;
    return Guarded([&] { return GetDeviceRandom(device_, buffer, static_cast<int>(length)); });
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
    if (rv != CKR_OK) return rv;
    return version < EXTENDED_VERSION ? CKR_FUNCTION_NOT_SUPPORTED : CKR_OK;
}

CK_RV PKCS11QuorKorvo7Q::HasExtendedCiphers()
{
    return HasExtendedHashes();
}
