// Discovery of keys through PC/SC, open by ordinal, serial or borrowed
// connection, device information, clock, close, reconnect and recovery.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <utility>

#include "device/DeviceInternal.h"
#include "wemu.h"

using namespace qvkdev;

namespace {

constexpr uint32_t kReaderListSize = 2048;
constexpr uint32_t kSystemNameSize = 257;
constexpr size_t kMutexNameSize = 300;
constexpr uint8_t kStateNotReady = 0x80;

// Windows-1251 texts of the search failures (with the PC/SC code).
constexpr char kEnvironmentFailure[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEA\xEE\xED\xF4\xB3\xE3\xF3\xF0\xE0"
    "\xF6\xB3\xBF \xEE\xF2\xEE\xF7\xE5\xED\xED\xFF \xEF\xEE\xF8\xF3\xEA\xF3 \xEF\xF0\xE8\xF1\xF2\xF0\xEE\xBF\xE2: "
    "0x%08x";
constexpr char kSearchFailure[] =
    "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEF\xEE\xF8\xF3\xEA\xF3 \xEF\xF0\xE8"
    "\xF1\xF2\xF0\xEE\xBF\xE2: 0x%08x";

void LogPcscFailure(const char* format, long code)
{
    char text[256];
    std::snprintf(text, sizeof(text), format, static_cast<unsigned>(code));
    LogDeviceError(text);
}

enum class ConnectOutcome { Connected, NoSuchReader, ConnectFailed };

// Lists the readers, finds the n-th of the model and connects to it.
ConnectOutcome ConnectNthReader(uint32_t ordinal, char* mutexName, size_t mutexNameSize, intptr_t* pcscContext,
                                intptr_t* card)
{
    *card = 0;
    *pcscContext = 0;
    intptr_t context = 0;
    long rc = pcsc::EstablishContext(&context);
    if (rc != 0) {
        LogPcscFailure(kEnvironmentFailure, rc);
        return ConnectOutcome::NoSuchReader;
    }
    char list[kReaderListSize] = {};
    uint32_t length = sizeof(list);
    rc = pcsc::ListReaders(context, list, &length);
    if (rc != 0 || length == 0 || list[0] == '\0') {
        if (rc != 0 && rc != pcsc::kNoReadersAvailable) LogPcscFailure(kSearchFailure, rc);
        pcsc::ReleaseContext(context);
        return ConnectOutcome::NoSuchReader;
    }
    list[sizeof(list) - 1] = '\0';
    uint32_t seen = 0;
    for (const char* name = list; *name != '\0' && name < list + sizeof(list); name += std::strlen(name) + 1) {
        if (std::strncmp(name, QVK_READER_PREFIX, QVK_READER_PREFIX_LENGTH) != 0) continue;
        if (seen++ != ordinal) continue;
        if (!MakeDeviceMutexName(name, mutexName, mutexNameSize)) break;
        intptr_t h = 0;
        if (pcsc::ConnectShared(context, name, &h) != 0) {
            pcsc::ReleaseContext(context);
            return ConnectOutcome::ConnectFailed;
        }
        *card = h;
        *pcscContext = context;
        return ConnectOutcome::Connected;
    }
    pcsc::ReleaseContext(context);
    return ConnectOutcome::NoSuchReader;
}

void DropConnection(DeviceContext* c)
{
    if (c->deviceMutex != nullptr) CloseHandle(c->deviceMutex);
    c->deviceMutex = nullptr;
    if (!c->borrowed) {
        if (c->cardHandle != 0) pcsc::Disconnect(c->cardHandle);
        if (c->pcscContext != 0) pcsc::ReleaseContext(c->pcscContext);
    }
    c->cardHandle = 0;
    c->pcscContext = 0;
}

void FreeContext(DeviceContext* c)
{
    SecureWipe(c, sizeof(*c));
    delete c;
}

// Reads the reader name of a borrowed connection and builds its mutex name.
bool BorrowedMutexName(intptr_t card, char* mutexName, size_t size)
{
    char name[kSystemNameSize + 1] = {};
    uint32_t length = kSystemNameSize;
    if (pcsc::GetSystemName(card, name, &length) != 0) return false;
    name[length < kSystemNameSize ? length : kSystemNameSize] = '\0';
    if (std::strncmp(name, QVK_READER_PREFIX, QVK_READER_PREFIX_LENGTH) != 0) return false;
    return MakeDeviceMutexName(name, mutexName, size);
}

// Claims the key's device-cache record; false when none is left or the
// memory is not available.
bool ClaimDeviceRecord(uint32_t serial)
{
    if (!OpenSharedMemory()) return false;
    if (WaitGlobalMutex() != 0) return false;
    bool ok = true;
    if (DeviceCacheRecord* r = FindDeviceRecord(serial)) {
        r->openCount = (r->openCount < 0 ? 0 : r->openCount) + 1;
        // Private images live in each context only; one found here was left
        // by a process that has gone, and must not stay readable. Nor may a
        // session whose holders have all gone.
        SecureWipe(r->privateImage, sizeof(r->privateImage));
        r->privateImageValid = 0;
        ReleaseDeadHolders(r);
    } else if (DeviceCacheRecord* f = FindFreeDeviceRecord()) {
        f->serial = serial;
        f->openCount = 1;
        f->sessionUsers = 0;
        f->publicImageValid = 0;
        f->privateImageValid = 0;
    } else {
        ok = false;
    }
    ReleaseGlobalMutex();
    return ok;
}

}  // namespace

intptr_t ConnectReader(uint32_t ordinal, char* mutexName, size_t mutexNameSize, intptr_t* pcscContext)
{
    intptr_t card = 0;
    ConnectNthReader(ordinal, mutexName, mutexNameSize, pcscContext, &card);
    return card;
}

namespace {

DeviceContext* OpenReader(uint32_t ordinal, ConnectOutcome* outcome)
{
    char mutexName[kMutexNameSize];
    intptr_t pcscContext = 0, card = 0;
    *outcome = ConnectNthReader(ordinal, mutexName, sizeof(mutexName), &pcscContext, &card);
    if (*outcome != ConnectOutcome::Connected) return nullptr;
    auto* c = new (std::nothrow) DeviceContext{};
    if (c == nullptr) {
        pcsc::Disconnect(card);
        pcsc::ReleaseContext(pcscContext);
        return nullptr;
    }
    c->cardHandle = card;
    c->pcscContext = pcscContext;
    c->deviceMutex = OpenDeviceMutex(mutexName);
    c->loggedIn = 0;
    return c;
}

}  // namespace

DeviceContext* OpenDeviceByOrdinal(uint32_t ordinal)
{
    ConnectOutcome outcome;
    return OpenReader(ordinal, &outcome);
}

uint32_t GetSerialByOrdinal(uint32_t ordinal, uint32_t* serial)
{
    ConnectOutcome outcome;
    DeviceContext* c = OpenReader(ordinal, &outcome);
    // An empty reader must not hide the keys in the readers after it.
    if (c == nullptr) return outcome == ConnectOutcome::ConnectFailed ? KEYERR_READER_EMPTY : KEYERR_NOT_FOUND;
    DeviceBlock block;
    InitRequest(&block, KEYCMD_GET_DEVICE_INFO, 0);
    const uint32_t r = TransmitBlock(c, &block, DEVICE_BLOCK_SIZE_OLD);
    DestroyDeviceContext(c);
    if (r != 0) return r;
    if (block.status() != 0) return block.status();
    if (serial != nullptr) std::memcpy(serial, block.data, 4);
    return 0;
}

namespace {

// A busy or not-ready key is asked again every 10 ms, within the budget
// (unless the caller wants one answer only). A key still not ready when the
// budget ends is a failure (24), or, for a caller that wants the state as it
// stands, the answer itself.
uint32_t QueryInfo(DeviceContext* context, DeviceInfo* info, bool notReadyIsAnswer, bool patient = true)
{
    RetryBudget budget;
    for (;;) {
        DeviceBlock block;
        InitRequest(&block, KEYCMD_GET_DEVICE_INFO, 0);
        uint32_t r = ExchangeBlock(context, &block);
        if (r == 0) r = block.status();
        if (r == KEYERR_DEVICE_BUSY) {
            if (patient && budget.PauseAndContinue()) continue;
            return KEYERR_DEVICE_BUSY;
        }
        if (r != 0) return r;
        if (VerifyBlock(context, &block) != 0 && context->loggedIn) return KEYERR_CORRUPTED_REQUEST;
        DeviceInfo got;
        std::memcpy(&got, block.data, sizeof(got));
        if (got.state & kStateNotReady) {
            if (patient && budget.PauseAndContinue()) continue;
            if (!notReadyIsAnswer) return KEYERR_DEVICE_BUSY;
        }
        if (info != nullptr) *info = got;
        return 0;
    }
}

// The device information at a glance: a key whose mutex another holder has,
// or that answers busy or not ready, answers 24 at once.
uint32_t GlanceInfo(DeviceContext* context, DeviceInfo* info)
{
    const DWORD waited = context->deviceMutex == nullptr ? WAIT_FAILED : WaitForSingleObject(context->deviceMutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return KEYERR_DEVICE_BUSY;
    const uint32_t r = QueryInfo(context, info, false, false);
    ReleaseMutex(context->deviceMutex);
    return r;
}

enum class ReaderAnswer { Sought, Other, Busy, NoSuchReader };

// Connects the n-th reader of the model into c and asks its key who it is; c
// stays connected only to the key sought.
ReaderAnswer AskReader(DeviceContext* c, uint32_t ordinal, uint32_t serial, bool patient, DeviceInfo* info)
{
    std::memset(c, 0, sizeof(*c));
    c->deviceId = serial;
    char mutexName[kMutexNameSize];
    intptr_t card = 0, pcscContext = 0;
    const ConnectOutcome o = ConnectNthReader(ordinal, mutexName, sizeof(mutexName), &pcscContext, &card);
    if (o == ConnectOutcome::NoSuchReader) return ReaderAnswer::NoSuchReader;
    if (o == ConnectOutcome::ConnectFailed) return ReaderAnswer::Other;
    c->cardHandle = card;
    c->pcscContext = pcscContext;
    c->deviceMutex = OpenDeviceMutex(mutexName);
    const uint32_t r = patient ? QueryDeviceInfo(c, info) : GlanceInfo(c, info);
    if (r == 0 && info->serial == serial) return ReaderAnswer::Sought;
    DropConnection(c);
    return r == KEYERR_DEVICE_BUSY ? ReaderAnswer::Busy : ReaderAnswer::Other;
}

// The most readers of the model one reader list can name.
constexpr uint32_t kModelReadersMax = kReaderListSize / (QVK_READER_PREFIX_LENGTH + 1);

// Leaves c connected to the key with this serial. A key that does not answer
// at once (busy, not ready, or in another holder's hands) is passed over at
// first, so it costs the keys behind it no wait; the passed-over ones are
// waited for afterwards, in reader order.
bool ConnectKeyBySerial(DeviceContext* c, uint32_t serial, DeviceInfo* info)
{
    uint32_t passedOver[kModelReadersMax];
    uint32_t passed = 0;
    for (uint32_t ordinal = 0;; ++ordinal) {
        const ReaderAnswer a = AskReader(c, ordinal, serial, false, info);
        if (a == ReaderAnswer::Sought) return true;
        if (a == ReaderAnswer::NoSuchReader) break;
        if (a == ReaderAnswer::Busy && passed < kModelReadersMax) passedOver[passed++] = ordinal;
    }
    for (uint32_t i = 0; i < passed; ++i)
        if (AskReader(c, passedOver[i], serial, true, info) == ReaderAnswer::Sought) return true;
    return false;
}

// Connects c to a borrowed connection and reads its key's information.
bool ConnectBorrowed(DeviceContext* c, const BorrowedHandlePair& pair, DeviceInfo* info)
{
    char mutexName[kMutexNameSize];
    if (pair.cardHandle == 0 || !BorrowedMutexName(pair.cardHandle, mutexName, sizeof(mutexName))) return false;
    c->cardHandle = pair.cardHandle;
    c->pcscContext = pair.pcscContext;
    c->borrowed = 1;  // never disconnect the caller's connection, even on failure
    c->deviceMutex = OpenDeviceMutex(mutexName);
    if (QueryDeviceInfo(c, info) != 0) {
        DropConnection(c);
        return false;
    }
    c->deviceId = info->serial;
    return true;
}

}  // namespace

uint32_t QueryDeviceInfo(DeviceContext* context, DeviceInfo* info)
{
    return QueryInfo(context, info, false);
}

uint32_t QueryDeviceState(DeviceContext* context, uint8_t* state)
{
    DeviceInfo info{};
    const uint32_t r = QueryInfo(context, &info, true);
    if (r == 0 && state != nullptr) *state = info.state;
    return r;
}

DeviceContext* OpenDevice(uint32_t deviceId)
{
    auto* c = new (std::nothrow) DeviceContext{};
    if (c == nullptr) return nullptr;
    BorrowedHandlePair pair{};
    const bool borrowed = IsBorrowedIdInUse(deviceId, &pair);
    DeviceInfo info{};
    if (!(borrowed ? ConnectBorrowed(c, pair, &info) : ConnectKeyBySerial(c, deviceId, &info))) {
        FreeContext(c);
        return nullptr;
    }
    c->loggedIn = 0;
    c->version = info.version;
    c->capabilities = info.capabilities == 0xFFFFFFFFu ? 0 : info.capabilities;
    bool opened = c->deviceId != 0 && ClaimDeviceRecord(c->deviceId);
    if (opened && LoadMemoryImage(c, 0) != 0) {
        ReleaseDeviceCache(&c->deviceId);
        opened = false;
    }
    if (!opened) {
        DropConnection(c);
        FreeContext(c);
        return nullptr;
    }
    SyncDeviceClock(c);
    c->borrowed = borrowed ? 1 : 0;
    return c;
}

uint32_t OpenDeviceHandle(uint32_t deviceId, DeviceContext** context)
{
    DeviceContext* c = OpenDevice(deviceId);
    if (context != nullptr) *context = c;
    if (c == nullptr) return KEYERR_NOT_FOUND;
    if (context == nullptr) DestroyDeviceContext(c);
    return 0;
}

uint32_t ConnectDevice(uint32_t deviceId, DeviceContext** context)
{
    return OpenDeviceHandle(deviceId, context);
}

DeviceContext* OpenDeviceById(uint32_t deviceId)
{
    return OpenDevice(deviceId);
}

void DestroyDeviceContext(DeviceContext* context)
{
    if (context == nullptr) return;
    if (context->deviceId != 0) ReleaseDeviceCache(&context->deviceId);
    DropConnection(context);
    FreeContext(context);
}

uint32_t CloseDevice(DeviceContext* context)
{
    DestroyDeviceContext(context);
    return 0;
}

uint32_t GetDeviceClock(DeviceContext* context, uint32_t* seconds)
{
    if (context->version <= 8) return KEYERR_NOT_SUPPORTED;
    DeviceBlock block;
    InitRequest(&block, KEYCMD_GET_CLOCK, 0);
    const uint32_t r = ExchangeBlock(context, &block);
    if (r != 0) return r;
    if (block.status() != 0) return block.status();
    if (seconds != nullptr) std::memcpy(seconds, block.data, 4);
    return 0;
}

uint32_t SetDeviceClock(DeviceContext* context, uint32_t seconds)
{
    if (context->version <= 8) return KEYERR_NOT_SUPPORTED;
    DeviceBlock block;
    InitRequest(&block, KEYCMD_SET_CLOCK, 0);
    std::memcpy(block.data, &seconds, 4);
    const uint32_t r = ExchangeBlock(context, &block);
    if (r != 0) return r;
    return block.status();
}

uint32_t SyncDeviceClock(DeviceContext* context)
{
    if (WaitDeviceMutex(context) != 0) return KEYERR_DEVICE_BUSY;
    uint32_t keyClock = 0;
    uint32_t r = GetDeviceClock(context, &keyClock);
    if (r == 0) {
        const uint32_t now = static_cast<uint32_t>(std::time(nullptr));
        const int64_t difference = static_cast<int64_t>(keyClock) - static_cast<int64_t>(now);
        if (difference > 5 || difference < -5) r = SetDeviceClock(context, now);
    }
    ReleaseDeviceMutex(context);
    return r;
}

uint32_t ReconnectDevice(DeviceContext* context)
{
    DeviceContext* fresh = nullptr;
    if (OpenDeviceHandle(context->deviceId, &fresh) != 0) return KEYERR_NOT_FOUND;
    if (WaitDeviceMutex(context) != 0) {
        CloseDevice(fresh);
        return KEYERR_DEVICE_BUSY;
    }
    std::swap(context->cardHandle, fresh->cardHandle);
    std::swap(context->pcscContext, fresh->pcscContext);
    // The ownership travels with the handles: a borrowed connection handed to
    // the temporary context must not be disconnected when it is closed.
    std::swap(context->borrowed, fresh->borrowed);
    ReleaseDeviceMutex(context);
    CloseDevice(fresh);
    return 0;
}

namespace {

// A refused or blocked password is what the caller must hear: the session
// cannot come back without a new login.
uint32_t ReloginResult(uint32_t relogin, uint32_t code)
{
    if (relogin == 0) return 0;
    return relogin == KEYERR_WRONG_PASSWORD || relogin == KEYERR_PASSWORD_BLOCKED ? relogin : code;
}

}  // namespace

uint32_t RecoverFromError(DeviceContext* context, uint32_t code)
{
    if (context == nullptr) return code;
    if (code == KEYERR_SEND_FAILED) {
        if (ReconnectDevice(context) != 0) return KEYERR_SEND_FAILED;
        if (!context->loggedIn) return 0;
        return ReloginResult(Relogin(context), KEYERR_SEND_FAILED);
    }
    if ((code == KEYERR_NOT_AUTHENTICATED || code == KEYERR_CORRUPTED_REQUEST) && context->loggedIn)
        return ReloginResult(Relogin(context), code);
    return code;
}
