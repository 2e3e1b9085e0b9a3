// Images of the key's public and private memory areas, block reads and
// writes, page erases, format and password change.
//
// The public image lives in the shared device cache; the private image only in
// each context (shared memory must never hold private objects in clear).
// Writers that do not share that cache (another cache namespace, another
// machine, a change made while the key was unplugged) are found through the
// storage change mark: the first four bytes of the key's auxiliary data, a
// random value that every writer replaces before its first memory write of a
// hold. The images remember the mark they were read or written at; the first
// image use of a hold compares it with the key's and reads the areas again
// when they differ. A format puts a fresh mark too, so a key that shows the
// mark of the images is never one erased since. A key without auxiliary data
// has its areas read again in every hold.
//
// The rest of the auxiliary record journals page copies: a writer that must
// rewrite a page readers look at first writes its new content into a free
// page of the same area (the shadow), then names target and shadow pages in
// the record, copies the shadow over the target and clears the record. The
// next hold that finds the copies named completes them when it may write (a
// logged-in key) and otherwise reads the shadow in the target's place, so
// the area shows either its old or its new content whenever a writer died.
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "crypto/ByteOrder.h"
#include "device/DeviceInternal.h"
#include "device/DeviceJournal.h"

using namespace qvkdev;

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

constexpr uint32_t kChunk = 32;
constexpr uint32_t kPage = 1024;
constexpr uint32_t kPrivateSize = 3072;
constexpr uint32_t kAreaPublic = 0;
constexpr uint32_t kAreaPrivate = 1;

uint32_t AreaSize(const DeviceContext* c, uint32_t area)
{
    return area == kAreaPublic ? PublicAreaSize(c) : kPrivateSize;
}

// Reads one 32-byte chunk of the key's memory (chunk number as sent).
uint32_t ReadChunk(DeviceContext* c, uint32_t sent, uint8_t out[32])
{
    const uint32_t publicChunks = PublicAreaSize(c) / kChunk;
    const bool publicChunk = sent < publicChunks;
    DeviceBlock block;
    InitRequest(&block, KEYCMD_READ_MEMORY, static_cast<uint8_t>(sent));
    uint32_t r = ProtectBlock(c, &block, publicChunk ? KEYPROT_NONE : KEYPROT_MAC_ENCRYPT);
    if (r == 0) r = ExchangeBlock(c, &block);
    if (r == 0) {
        if (publicChunk) {
            if (block.protection != KEYPROT_NONE && !c->loggedIn) r = KEYERR_ALREADY_AUTHENTICATED;
        } else if (block.protection == KEYPROT_NONE || block.protection == KEYPROT_MAC) {
            r = KEYERR_CORRUPTED_REQUEST;
        } else if (!c->loggedIn) {
            r = KEYERR_ALREADY_AUTHENTICATED;
        }
    }
    if (r == 0 && VerifyBlock(c, &block) != 0) r = KEYERR_CORRUPTED_REQUEST;
    if (r == 0) r = block.status();
    if (r == 0) std::memcpy(out, block.data, kChunk);
    SecureWipe(&block, sizeof(block));
    return r;
}

// Fills an image of the area from the key. The per-key mutex is held.
uint32_t ReadAreaFromKey(DeviceContext* c, uint8_t* image, uint32_t area)
{
    const uint32_t publicChunks = PublicAreaSize(c) / kChunk;
    const uint32_t first = area == kAreaPublic ? 0 : publicChunks;
    const uint32_t count = AreaSize(c, area) / kChunk;
    bool loggedOutOnce = false;
    for (uint32_t chunk = first; chunk < first + count;) {
        const uint32_t sent = c->version == 1 ? chunk + 64 : chunk;
        const uint32_t r = ReadChunk(c, sent, image + (chunk - first) * kChunk);
        if (r == 0) {
            ++chunk;
            continue;
        }
        // Another session on the key hides the public area from us: end it once and ask again.
        if (r == KEYERR_ALREADY_AUTHENTICATED && area == kAreaPublic && !loggedOutOnce) {
            loggedOutOnce = true;
            const uint32_t lo = SendLogout(c);
            if (lo != 0) return lo;
            continue;
        }
        return r;
    }
    return 0;
}

void DropPrivateCopy(DeviceContext* c)
{
    std::memset(c->privateImage, 0xFF, kPrivateSize);
    c->privateCopyValid = 0;
    c->privateCopyMark = 0;
}

// The global mutex is held.
void DropPublicImage(DeviceContext* c, DeviceCacheRecord* record)
{
    record->publicImageValid = 0;
    std::memset(record->publicImage, 0xFF, PublicAreaSize(c));
    // The key's own keys may have changed along with its memory.
    if (KeyCacheRecord* keys = FindKeyRecord(c->deviceId)) {
        keys->signKeyParametersValid = 0;
        keys->signPublicKeyValid = 0;
        keys->agreementKeyParametersValid = 0;
        keys->agreementPublicKeyValid = 0;
    }
}

// Page copies in bytes 4..15 of the auxiliary record: a tag, the number of
// copies, one byte per copy (target page << 4 | shadow page, pages numbered
// over the whole memory), two zero bytes and a CRC-32 of bytes 4..11.
constexpr uint8_t kCopiesTag = 0xC7;
constexpr uint32_t kCopyBytes = 12;

uint32_t Crc32(const uint8_t* data, uint32_t length)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t TotalPages(const DeviceContext* c)
{
    return (PublicAreaSize(c) + kPrivateSize) / kPage;
}

bool SameArea(const DeviceContext* c, uint32_t a, uint32_t b)
{
    const uint32_t publicPages = PublicAreaSize(c) / kPage;
    return (a < publicPages) == (b < publicPages);
}

// The copies named in record bytes 4..15; 0 when there are none (or the
// bytes are no copies of this journal).
uint32_t DecodeCopies(const DeviceContext* c, const uint8_t bytes[kCopyBytes], uint8_t targets[4], uint8_t shadows[4])
{
    const uint32_t n = bytes[1];
    if (bytes[0] != kCopiesTag || n == 0 || n > 4 || bytes[6] != 0 || bytes[7] != 0) return 0;
    if (Crc32(bytes, 8) != LoadLE32(bytes + 8)) return 0;
    for (uint32_t i = 0; i < n; ++i) {
        targets[i] = static_cast<uint8_t>(bytes[2 + i] >> 4);
        shadows[i] = static_cast<uint8_t>(bytes[2 + i] & 0x0F);
        if (targets[i] >= TotalPages(c) || shadows[i] >= TotalPages(c) || targets[i] == shadows[i] ||
            !SameArea(c, targets[i], shadows[i]))
            return 0;
    }
    return n;
}

uint32_t SentPage(const DeviceContext* c, uint32_t page)
{
    return c->version == 1 ? page + 2 : page;
}

uint32_t SentChunk(const DeviceContext* c, uint32_t chunk)
{
    return c->version == 1 ? chunk + 64 : chunk;
}

// The whole auxiliary record this journal writes: the mark, then the copies
// (or nothing). The per-key mutex is held.
uint32_t WriteMarkAndCopies(DeviceContext* c, uint32_t mark, const uint8_t* copies)
{
    uint8_t bytes[DEVICE_AUX_RECORD_BYTES] = {};
    StoreLE32(bytes, mark);
    if (copies != nullptr) std::memcpy(bytes + 4, copies, kCopyBytes);
    return WriteAuxData(c, bytes, sizeof(bytes));
}

uint32_t SendProtectedMemoryCommand(DeviceContext* c, uint8_t command, uint32_t sent, const uint8_t* data);
uint32_t FreshMark(uint32_t old);

// Completes the copies a writer named before it died: each target erased and
// given its shadow's content, then the record cleared under a new mark (every
// image is read again), then the shadows erased. Run again after a failure, it
// does the same. The per-key mutex is held and the key is logged in.
uint32_t CompleteCopies(DeviceContext* c, const uint8_t* targets, const uint8_t* shadows, uint32_t n)
{
    uint8_t chunk[kChunk];
    uint32_t r = 0;
    for (uint32_t i = 0; i < n && r == 0; ++i) {
        r = SendProtectedMemoryCommand(c, KEYCMD_ERASE_PAGE, SentPage(c, targets[i]), nullptr);
        for (uint32_t k = 0; k < kPage / kChunk && r == 0; ++k) {
            r = ReadChunk(c, SentChunk(c, shadows[i] * (kPage / kChunk) + k), chunk);
            if (r == 0 && std::any_of(chunk, chunk + kChunk, [](uint8_t b) { return b != 0xFF; }))
                r = SendProtectedMemoryCommand(c, KEYCMD_WRITE_MEMORY, SentChunk(c, targets[i] * (kPage / kChunk) + k),
                                               chunk);
        }
    }
    SecureWipe(chunk, sizeof(chunk));
    if (r != 0) return r;
    const uint32_t mark = FreshMark(c->keyMark);
    if ((r = WriteMarkAndCopies(c, mark, nullptr)) != 0) return r;
    c->keyMark = mark;
    c->copiesPending = 0;
    for (uint32_t i = 0; i < n && r == 0; ++i)
        r = SendProtectedMemoryCommand(c, KEYCMD_ERASE_PAGE, SentPage(c, shadows[i]), nullptr);
    return r;
}

// Shows each pending copy's shadow in its target's place in an image of the
// area (what the area holds once the copies are completed).
void OverlayPendingCopies(const DeviceContext* c, uint8_t* image, uint32_t area)
{
    if (!c->copiesPending) return;
    uint8_t targets[4];
    uint8_t shadows[4];
    const uint32_t n = DecodeCopies(c, c->pendingCopies, targets, shadows);
    const uint32_t first = area == kAreaPublic ? 0 : PublicAreaSize(c) / kPage;
    const uint32_t pages = AreaSize(c, area) / kPage;
    for (uint32_t i = 0; i < n; ++i)
        if (targets[i] >= first && targets[i] < first + pages)
            std::memcpy(image + (targets[i] - first) * kPage, image + (shadows[i] - first) * kPage, kPage);
}

uint32_t CompletePendingCopies(DeviceContext* c, DeviceCacheRecord* record);

// Compares the key's storage mark with the one the images were taken at,
// once per outermost hold, and drops the images that may not be the key's
// content. Both mutexes are held.
uint32_t CheckStorageMark(DeviceContext* c, DeviceCacheRecord* record)
{
    if (c->markChecked) return 0;
    SessionShareRecord* share = SessionShareOf(record);
    if (share == nullptr) return KEYERR_GENERAL_FAILURE;
    uint8_t aux[DEVICE_AUX_RECORD_BYTES] = {};
    int length = 0;
    const uint32_t r = ReadAuxRecord(c, 0, aux, &length);
    if (r != 0 && r != KEYERR_BAD_REQUEST) return r;
    c->markSupported = r == 0 ? 1 : 0;
    c->keyMark = r == 0 ? LoadLE32(aux) : 0;
    uint8_t targets[4];
    uint8_t shadows[4];
    c->copiesPending = c->markSupported && DecodeCopies(c, aux + 4, targets, shadows) != 0 ? 1 : 0;
    if (c->copiesPending) std::memcpy(c->pendingCopies, aux + 4, kCopyBytes);
    // Images taken under the mark of a writer that died halfway show its
    // half-written pages: with copies pending they are read again.
    if (!c->markSupported || c->copiesPending || share->storageMark != c->keyMark) {
        DropPublicImage(c, record);
        share->storageMark = c->keyMark;
    }
    if (!c->markSupported || c->copiesPending || c->privateCopyMark != c->keyMark) DropPrivateCopy(c);
    const uint32_t completed = CompletePendingCopies(c, record);
    if (completed != 0) return completed;
    c->markChecked = 1;
    return 0;
}

// Completes the copies this hold found pending once the context may write
// (it has logged in since), and drops the images taken with them shown in
// place. Both mutexes are held.
uint32_t CompletePendingCopies(DeviceContext* c, DeviceCacheRecord* record)
{
    if (!c->copiesPending || !c->loggedIn) return 0;
    uint8_t targets[4];
    uint8_t shadows[4];
    const uint32_t n = DecodeCopies(c, c->pendingCopies, targets, shadows);
    const uint32_t r = n == 0 ? 0 : CompleteCopies(c, targets, shadows, n);
    if (r != 0) return r;
    c->copiesPending = 0;
    DropPublicImage(c, record);
    if (SessionShareRecord* share = SessionShareOf(record)) share->storageMark = c->keyMark;
    DropPrivateCopy(c);
    return 0;
}

uint32_t FreshMark(uint32_t old)
{
    uint32_t mark = 0;
    for (uint32_t i = 0; i < 8 && (mark == 0 || mark == old); ++i) {
        if (getrandom(&mark, sizeof(mark), 0) != static_cast<ssize_t>(sizeof(mark))) {
            // No system generator: time and process still differ between writers.
            const auto now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            mark = static_cast<uint32_t>(now ^ (now >> 32) ^ (static_cast<uint64_t>(getpid()) << 16)) + i;
        }
    }
    return mark == 0 || mark == old ? old + 1 : mark;
}

// Before the first memory write or erase of a hold: brings the images up to
// the key's content, then puts a new mark on the key, so that every other
// cache sees the change (a write that dies halfway included). The per-key
// mutex is held.
uint32_t MoveStorageMark(DeviceContext* c)
{
    if (c->markMoved) return 0;
    if (c->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(c);
    if (lock.status() != 0) return lock.status();
    DeviceCacheRecord* record = FindDeviceRecord(c->deviceId);
    if (record == nullptr) return KEYERR_GENERAL_FAILURE;
    uint32_t r = CheckStorageMark(c, record);
    if (r == 0) r = CompletePendingCopies(c, record);
    if (r != 0) return r;
    if (c->markSupported) {
        const uint32_t old = c->keyMark;
        const uint32_t mark = FreshMark(old);
        // Copies this hold could not complete stay named for the next one.
        if ((r = WriteMarkAndCopies(c, mark, c->copiesPending ? c->pendingCopies : nullptr)) != 0) return r;
        c->keyMark = mark;
        // The images are the key's content now (a dropped one is read again
        // before use), and the writes of this hold patch them as they go.
        SessionShareOf(record)->storageMark = mark;
        if (c->privateCopyValid) c->privateCopyMark = mark;
    }
    c->markMoved = 1;
    return 0;
}

// After the key accepted a write or erase: patch the shared image (and the
// context's copy) at byte `offset` of the area with `size` bytes of `data`,
// or 0xFF when data is null.
uint32_t PatchImage(DeviceContext* c, uint32_t area, uint32_t offset, uint32_t size, const uint8_t* data)
{
    if (c->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(c);
    if (lock.status() != 0) return lock.status();
    DeviceCacheRecord* record = FindDeviceRecord(c->deviceId);
    if (record == nullptr) return KEYERR_GENERAL_FAILURE;
    uint32_t r = LoadMemoryImage(c, area);
    if (r != 0) return r;
    if (offset + size > AreaSize(c, area)) return KEYERR_BAD_ADDRESS;
    uint8_t* copy = area == kAreaPublic ? c->publicImage : c->privateImage;
    if (data != nullptr)
        std::memcpy(copy + offset, data, size);
    else
        std::memset(copy + offset, 0xFF, size);
    if (area == kAreaPublic) std::memcpy(record->publicImage + offset, copy + offset, size);
    return 0;
}

uint32_t SendProtectedMemoryCommand(DeviceContext* c, uint8_t command, uint32_t sent, const uint8_t* data)
{
    DeviceBlock block;
    InitRequest(&block, command, static_cast<uint8_t>(sent));
    if (data != nullptr) std::memcpy(block.data, data, kChunk);
    uint32_t r = ProtectBlock(c, &block, KEYPROT_MAC_ENCRYPT);
    if (r == 0) r = CheckProtectedAnswer(c, &block, ExchangeBlock(c, &block), false);
    SecureWipe(&block, sizeof(block));
    return r;
}

}  // namespace

uint32_t PublicAreaSize(const DeviceContext* context)
{
    return context->version < 8 ? 1024 : 4096;
}

uint32_t LoadMemoryImage(DeviceContext* context, uint32_t area)
{
    if (context->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    area = area == kAreaPublic ? kAreaPublic : kAreaPrivate;
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) return lock.status();
    DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
    if (record == nullptr) return KEYERR_GENERAL_FAILURE;
    uint32_t r = CheckStorageMark(context, record);
    if (r != 0) return r;
    if (area == kAreaPrivate) {
        if (!context->privateCopyValid) {
            if ((r = ReadAreaFromKey(context, context->privateImage, kAreaPrivate)) != 0) {
                DropPrivateCopy(context);
                return r;
            }
            OverlayPendingCopies(context, context->privateImage, kAreaPrivate);
            context->privateCopyValid = 1;
            context->privateCopyMark = context->keyMark;
        }
        return 0;
    }
    if (!record->publicImageValid) {
        if ((r = ReadAreaFromKey(context, record->publicImage, kAreaPublic)) != 0) return r;
        OverlayPendingCopies(context, record->publicImage, kAreaPublic);
        record->publicImageValid = 1;
    }
    std::memcpy(context->publicImage, record->publicImage, PublicAreaSize(context));
    // Preload the key cache; a key without such a key is no failure.
    for (uint32_t (*load)(DeviceContext*, uint8_t*) :
         {LoadSignatureKeyParameters, LoadSignaturePublicKey, LoadAgreementKeyParameters, LoadAgreementPublicKey}) {
        r = load(context, nullptr);
        if (r != 0 && r != KEYERR_NO_KEY) return r;
    }
    return 0;
}

uint32_t InvalidateMemoryImage(DeviceContext* context, uint32_t area)
{
    if (context->deviceId == 0 || !OpenSharedMemory()) return KEYERR_GENERAL_FAILURE;
    if (area != kAreaPublic) {
        DropPrivateCopy(context);
        return 0;
    }
    if (WaitGlobalMutex() != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_GENERAL_FAILURE;
    if (DeviceCacheRecord* record = FindDeviceRecord(context->deviceId)) {
        record->publicImageValid = 0;
        std::memset(record->publicImage, 0xFF, PublicAreaSize(context));
        r = 0;
    }
    ReleaseGlobalMutex();
    return r;
}

uint32_t ResetMemoryImages(DeviceContext* context, uint32_t area)
{
    if (context->deviceId == 0 || !OpenSharedMemory()) return KEYERR_GENERAL_FAILURE;
    if (WaitGlobalMutex() != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = KEYERR_GENERAL_FAILURE;
    if (DeviceCacheRecord* record = FindDeviceRecord(context->deviceId)) {
        r = 0;
        if (area == kAreaPublic) {
            std::memset(record->publicImage, 0xFF, PublicAreaSize(context));
            for (uint32_t (*invalidate)(DeviceContext*) :
                 {InvalidateSignatureKeyParametersCache, InvalidateSignaturePublicKeyCache,
                  InvalidateAgreementKeyParametersCache, InvalidateAgreementPublicKeyCache}) {
                r = invalidate(context);
                if (r != 0) break;
            }
        } else {
            std::memset(context->privateImage, 0xFF, kPrivateSize);
        }
    }
    ReleaseGlobalMutex();
    return r;
}

uint32_t ReadMemoryBlock(DeviceContext* context, uint8_t out[32], uint32_t block)
{
    return ReadMemoryBlocks(context, out, block, 1);
}

uint32_t ReadMemoryBlocks(DeviceContext* context, uint8_t* out, uint32_t firstBlock, uint32_t count)
{
    const uint32_t publicBlocks = PublicAreaSize(context) / kChunk;
    const uint32_t totalBlocks = publicBlocks + kPrivateSize / kChunk;
    if (firstBlock > totalBlocks || count > totalBlocks - firstBlock) return KEYERR_BAD_PARAMETER;
    const uint32_t end = firstBlock + count;
    // Each area's image is loaded once, in the order block-by-block reads
    // would load them.
    if (firstBlock < publicBlocks) {
        const uint32_t r = LoadMemoryImage(context, kAreaPublic);
        if (r != 0) return r;
        const uint32_t last = std::min(end, publicBlocks);
        std::memcpy(out, context->publicImage + firstBlock * kChunk, (last - firstBlock) * kChunk);
    }
    if (end > publicBlocks) {
        const uint32_t r = LoadMemoryImage(context, kAreaPrivate);
        if (r != 0) return r;
        const uint32_t first = std::max(firstBlock, publicBlocks);
        std::memcpy(out + (first - firstBlock) * kChunk, context->privateImage + (first - publicBlocks) * kChunk,
                    (end - first) * kChunk);
    }
    return 0;
}

uint32_t WriteMemoryBlock(DeviceContext* context, const uint8_t data[32], uint32_t block)
{
    const uint32_t sent = context->version == 1 ? block + 64 : block;
    // The number travels in one byte: a larger one would reach another block.
    if (sent > 0xFF) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = MoveStorageMark(context);
    if (r == 0) r = SendProtectedMemoryCommand(context, KEYCMD_WRITE_MEMORY, sent, data);
    ReleaseDeviceMutex(context);
    if (r != 0) return r;

    const uint32_t publicBlocks = PublicAreaSize(context) / kChunk;
    const uint32_t area = block < publicBlocks ? kAreaPublic : kAreaPrivate;
    const uint32_t offset = (area == kAreaPublic ? block : block - publicBlocks) * kChunk;
    r = PatchImage(context, area, offset, kChunk, data);
    if (r != 0) InvalidateMemoryImage(context, area);
    return r;
}

uint32_t EraseMemoryPage(DeviceContext* context, uint32_t page)
{
    const uint32_t sent = context->version == 1 ? page + 2 : page;
    if (sent > 0xFF) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = MoveStorageMark(context);
    if (r == 0) r = SendProtectedMemoryCommand(context, KEYCMD_ERASE_PAGE, sent, nullptr);
    ReleaseDeviceMutex(context);
    if (r != 0) return r;

    const uint32_t publicPages = PublicAreaSize(context) / kPage;
    const uint32_t area = page < publicPages ? kAreaPublic : kAreaPrivate;
    const uint32_t offset = (area == kAreaPublic ? page : page - publicPages) * kPage;
    r = PatchImage(context, area, offset, kPage, nullptr);
    if (r != 0) InvalidateMemoryImage(context, area);
    return r;
}

uint32_t FormatDevice(DeviceContext* context, const char* newPassword)
{
    if (PasswordLength(newPassword) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    DeviceBlock block;
    const bool newForm = context->version >= DEVICE_NEW_FORM_VERSION;
    InitRequest(&block, newForm ? KEYCMD_FORMAT_NEW : KEYCMD_FORMAT, 0);
    uint32_t r = 0;
    if (newForm) {
        r = DerivePasswordKeyNew(newPassword, block.data, nullptr);
        if (r == 0) DerivePasswordKeyOld(newPassword, block.data + 32, nullptr);
    } else {
        DerivePasswordKeyOld(newPassword, block.data, nullptr);
    }
    if (r == 0) r = ExchangeBlock(context, &block);
    if (r == 0) r = block.status();
    SecureWipe(&block, sizeof(block));
    if (r != 0) {
        ReleaseDeviceMutex(context);
        return r;
    }
    // The key has dropped every session and has a password of the formatter's
    // choosing: nobody may join the old session, and no context from before
    // may count as a sharer or trust its kept password.
    if (context->deviceId != 0 && OpenSharedMemory() && WaitGlobalMutex() == 0) {
        if (DeviceCacheRecord* record = FindDeviceRecord(context->deviceId)) {
            ClearSharedSession(record);
            if (SessionShareRecord* share = SessionShareOf(record)) share->passwordGeneration += 1;
        }
        ReleaseGlobalMutex();
    }
    r = ResetMemoryImages(context, kAreaPublic);
    if (r == 0) r = ResetMemoryImages(context, kAreaPrivate);
    // The erased key gets a mark of its own: the images say what it holds,
    // and a cache that saw the key before the format reads it again.
    if (r == 0) {
        context->markChecked = 1;
        context->markMoved = 0;
        context->markSupported = 1;
        // Copies named before the format name pages that hold nothing now.
        context->copiesPending = 0;
        if (context->privateCopyValid) context->privateCopyMark = context->keyMark;
        const uint32_t moved = MoveStorageMark(context);
        if (moved == KEYERR_BAD_REQUEST)
            context->markSupported = 0;
        else
            r = moved;
    }
    if (r != 0) {
        InvalidateMemoryImage(context, kAreaPublic);
        InvalidateMemoryImage(context, kAreaPrivate);
    }
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ChangeDevicePassword(DeviceContext* context, const char* newPassword)
{
    return qvkdev::ChangePasswordOnKey(context, newPassword, true);
}

uint32_t qvkdev::ChangePasswordOnKey(DeviceContext* context, const char* newPassword, bool announce)
{
    if (PasswordLength(newPassword) == SIZE_MAX) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    const bool newKey = context->version >= DEVICE_NEW_FORM_VERSION;
    const bool newForm = UsesNewLoginScheme(context);
    DeviceBlock block;
    InitRequest(&block, newKey ? KEYCMD_CHANGE_PASSWORD_NEW : KEYCMD_CHANGE_PASSWORD, 0);
    uint32_t r = 0;
    if (newForm) {
        r = DerivePasswordKeyNew(newPassword, block.data, nullptr);
        if (r == 0) DerivePasswordKeyOld(newPassword, block.data + 32, nullptr);
        if (r == 0) r = ProtectBlockNew(&block, context->sessionKey, KEYPROT_MAC_ENCRYPT);
    } else if (newKey) {
        r = DerivePasswordKeyNew(newPassword, block.data, nullptr);
        if (r == 0) ProtectBlockOld(&block, context->sessionKey, KEYPROT_MAC_ENCRYPT);
    } else {
        DerivePasswordKeyOld(newPassword, block.data, nullptr);
        ProtectBlockOld(&block, context->sessionKey, KEYPROT_MAC_ENCRYPT);
    }
    if (r == 0) r = TransmitBlock(context, &block, newForm ? DEVICE_BLOCK_SIZE_NEW : DEVICE_BLOCK_SIZE_OLD);
    if (r == 0) r = block.status();
    if (r == 0) r = newForm ? VerifyBlockNew(&block, context->sessionKey) : VerifyBlockOld(&block, context->sessionKey);
    SecureWipe(&block, sizeof(block));
    // Kept in the form that re-login reads back (chosen by version, like every other store).
    if (r == 0) r = StorePassword(context, newPassword);
    // Other users join the shared session with the password: keep it under the new one.
    if (r == 0 && context->loggedIn && context->deviceId != 0 && OpenSharedMemory() && WaitGlobalMutex() == 0) {
        DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
        if (record != nullptr && record->sessionUsers > 0) r = SaveSharedSession(context, newPassword, record);
        // The other sharers' kept passwords are outdated now: they never send
        // them, and need a new login once the session is lost.
        SessionShareRecord* share = SessionShareOf(record);
        if (r == 0 && announce && share != nullptr) {
            share->passwordGeneration += 1;
            if (HoldsCurrentShare(context, record)) context->passwordGeneration = share->passwordGeneration;
        }
        ReleaseGlobalMutex();
    }
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t StorageJournalReady(DeviceContext* context, int* supported)
{
    if (supported == nullptr) return KEYERR_BAD_PARAMETER;
    *supported = 0;
    if (context->deviceId == 0) return KEYERR_GENERAL_FAILURE;
    KeyAndCacheLock lock(context);
    if (lock.status() != 0) return lock.status();
    DeviceCacheRecord* record = FindDeviceRecord(context->deviceId);
    if (record == nullptr) return KEYERR_GENERAL_FAILURE;
    uint32_t r = CheckStorageMark(context, record);
    if (r == 0) r = CompletePendingCopies(context, record);
    if (r != 0) return r;
    *supported = context->markSupported && !context->copiesPending ? 1 : 0;
    return 0;
}

uint32_t BeginPageCopies(DeviceContext* context, const uint8_t* targets, const uint8_t* shadows, uint32_t count)
{
    if (count == 0 || count > 4 || targets == nullptr || shadows == nullptr) return KEYERR_BAD_PARAMETER;
    uint8_t copies[kCopyBytes] = {kCopiesTag, static_cast<uint8_t>(count)};
    for (uint32_t i = 0; i < count; ++i) copies[2 + i] = static_cast<uint8_t>(targets[i] << 4 | shadows[i]);
    uint8_t checkTargets[4];
    uint8_t checkShadows[4];
    StoreLE32(copies + 8, Crc32(copies, 8));
    if (DecodeCopies(context, copies, checkTargets, checkShadows) != count) return KEYERR_BAD_PARAMETER;
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = MoveStorageMark(context);
    if (r == 0 && (!context->markSupported || context->copiesPending)) r = KEYERR_NOT_SUPPORTED;
    if (r == 0) r = WriteMarkAndCopies(context, context->keyMark, copies);
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t EndPageCopies(DeviceContext* context)
{
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t r = MoveStorageMark(context);
    // The mark stays: the images were patched with every page written.
    if (r == 0) r = WriteMarkAndCopies(context, context->keyMark, nullptr);
    ReleaseDeviceMutex(context);
    return r;
}
