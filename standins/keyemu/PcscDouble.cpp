// In-process PC/SC double: the pcsc-lite calls the device protocol uses,
// answered by key models living in this process.
#include "PcscDouble.h"

#include <reader.h>
#include <winscard.h>

#include <cstring>
#include <map>
#include <mutex>

#define PCSC_DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))

PCSC_DOUBLE_EXPORT const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
PCSC_DOUBLE_EXPORT const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
PCSC_DOUBLE_EXPORT const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

namespace keyemu::pcscdouble {
namespace {

struct Reader {
    std::string name;
    bool foreign = false;
    std::unique_ptr<Key> key;
    uint64_t insertion = 0;  // changes with every unplug and replug
    int failTransmits = 0;
    int passTransmits = 0;  // that reach the key before failTransmits apply
    std::vector<std::string> log;
};

struct Handle {
    SCARDCONTEXT context;
    std::string reader;
    uint64_t insertion;
};

struct World {
    std::mutex mutex;
    std::vector<std::unique_ptr<Reader>> readers;
    std::map<SCARDCONTEXT, bool> contexts;
    std::map<SCARDHANDLE, Handle> handles;
    long nextId = 0x1000;
    uint64_t nextInsertion = 1;
    CallCounts calls;
};

World& W()
{
    static World* world = new World;  // never destroyed: callers may outlive static destruction
    return *world;
}

Reader* Find(World& w, const std::string& name)
{
    for (auto& r : w.readers)
        if (r->name == name) return r.get();
    return nullptr;
}

void AttachLog(Reader* r)
{
    if (!r->key) return;
    // The reader's log is reached under the world lock (Transmit holds it).
    r->key->SetCommandLog([r](const std::string& line) { r->log.push_back(line); });
}

}  // namespace

std::string AddKey(std::unique_ptr<Key> key)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    for (int n = 0;; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "%s %02d %02d", kReaderPrefix, n / 100, n % 100);
        if (Find(w, name)) continue;
        auto r = std::make_unique<Reader>();
        r->name = name;
        r->key = std::move(key);
        r->insertion = w.nextInsertion++;
        AttachLog(r.get());
        w.readers.push_back(std::move(r));
        return name;
    }
}

std::string AddKey(const KeyConfig& config)
{
    return AddKey(Key::Create(config));
}

void AddForeignReader(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    auto r = std::make_unique<Reader>();
    r->name = name;
    r->foreign = true;
    w.readers.push_back(std::move(r));
}

bool RemoveReader(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    for (auto it = w.readers.begin(); it != w.readers.end(); ++it) {
        if ((*it)->name == name) {
            w.readers.erase(it);
            return true;
        }
    }
    return false;
}

std::unique_ptr<Key> Unplug(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    Reader* r = Find(w, name);
    if (!r || !r->key) return nullptr;
    r->key->SetCommandLog(nullptr);
    r->key->PowerOff();
    r->insertion = w.nextInsertion++;
    return std::move(r->key);
}

bool Replug(const std::string& name, std::unique_ptr<Key> key)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    Reader* r = Find(w, name);
    if (!r || r->key || !key) return false;
    r->key = std::move(key);
    r->key->PowerOn();
    r->insertion = w.nextInsertion++;
    AttachLog(r);
    return true;
}

bool ResetCard(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    Reader* r = Find(w, name);
    if (!r || !r->key) return false;
    r->key->Reset();
    return true;
}

Key* GetKey(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    Reader* r = Find(w, name);
    return r ? r->key.get() : nullptr;
}

std::vector<std::string> Readers()
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    std::vector<std::string> out;
    for (auto& r : w.readers) out.push_back(r->name);
    return out;
}

void FailTransmits(const std::string& name, int count)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (Reader* r = Find(w, name)) {
        r->passTransmits = 0;
        r->failTransmits = count;
    }
}

void FailTransmitsAfter(const std::string& name, int pass, int count)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (Reader* r = Find(w, name)) {
        r->passTransmits = pass;
        r->failTransmits = count;
    }
}

std::vector<std::string> CommandLog(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    Reader* r = Find(w, name);
    return r ? r->log : std::vector<std::string>{};
}

void ClearCommandLog(const std::string& name)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    if (Reader* r = Find(w, name)) r->log.clear();
}

CallCounts Calls()
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    return w.calls;
}

void ResetAll()
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    w.readers.clear();
    w.contexts.clear();
    w.handles.clear();
    w.calls = CallCounts{};
}

}  // namespace keyemu::pcscdouble

// ---------------------------------------------------------------------------
// The pcsc-lite calls.

using keyemu::pcscdouble::W;
using keyemu::pcscdouble::World;

PCSC_DOUBLE_EXPORT LONG SCardEstablishContext(DWORD dwScope, LPCVOID, LPCVOID, LPSCARDCONTEXT phContext)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.establish;
    if (!phContext) return SCARD_E_INVALID_PARAMETER;
    if (dwScope != SCARD_SCOPE_USER && dwScope != SCARD_SCOPE_SYSTEM && dwScope != SCARD_SCOPE_TERMINAL)
        return SCARD_E_INVALID_VALUE;
    SCARDCONTEXT c = static_cast<SCARDCONTEXT>(w.nextId++);
    w.contexts[c] = true;
    *phContext = c;
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardReleaseContext(SCARDCONTEXT hContext)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.release;
    if (!w.contexts.erase(hContext)) return SCARD_E_INVALID_HANDLE;
    // Releasing a context closes the card handles made in it.
    for (auto it = w.handles.begin(); it != w.handles.end();) {
        if (it->second.context == hContext)
            it = w.handles.erase(it);
        else
            ++it;
    }
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardListReaders(SCARDCONTEXT hContext, LPCSTR, LPSTR mszReaders, LPDWORD pcchReaders)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.listReaders;
    if (!w.contexts.count(hContext)) return SCARD_E_INVALID_HANDLE;
    if (!pcchReaders) return SCARD_E_INVALID_PARAMETER;
    if (w.readers.empty()) return SCARD_E_NO_READERS_AVAILABLE;
    std::string multi;
    for (auto& r : w.readers) {
        multi += r->name;
        multi.push_back('\0');
    }
    multi.push_back('\0');
    if (*pcchReaders == SCARD_AUTOALLOCATE) return SCARD_E_INVALID_PARAMETER;  // not offered by the double
    DWORD need = static_cast<DWORD>(multi.size());
    if (!mszReaders) {
        *pcchReaders = need;
        return SCARD_S_SUCCESS;
    }
    if (*pcchReaders < need) {
        *pcchReaders = need;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(mszReaders, multi.data(), need);
    *pcchReaders = need;
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardConnect(SCARDCONTEXT hContext, LPCSTR szReader, DWORD dwShareMode,
                                     DWORD dwPreferredProtocols, LPSCARDHANDLE phCard, LPDWORD pdwActiveProtocol)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.connect;
    if (!w.contexts.count(hContext)) return SCARD_E_INVALID_HANDLE;
    if (!szReader || !phCard || !pdwActiveProtocol) return SCARD_E_INVALID_PARAMETER;
    if (dwShareMode != SCARD_SHARE_SHARED && dwShareMode != SCARD_SHARE_EXCLUSIVE && dwShareMode != SCARD_SHARE_DIRECT)
        return SCARD_E_INVALID_VALUE;
    auto* r = keyemu::pcscdouble::Find(w, szReader);
    if (!r) return SCARD_E_UNKNOWN_READER;
    if (!r->key) return SCARD_E_NO_SMARTCARD;
    // The key speaks T=1 only.
    if (!(dwPreferredProtocols & SCARD_PROTOCOL_T1)) return SCARD_E_PROTO_MISMATCH;
    r->key->PowerOn();
    SCARDHANDLE h = static_cast<SCARDHANDLE>(w.nextId++);
    w.handles[h] = keyemu::pcscdouble::Handle{hContext, r->name, r->insertion};
    *phCard = h;
    *pdwActiveProtocol = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardDisconnect(SCARDHANDLE hCard, DWORD dwDisposition)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.disconnect;
    auto it = w.handles.find(hCard);
    if (it == w.handles.end()) return SCARD_E_INVALID_HANDLE;
    auto* r = keyemu::pcscdouble::Find(w, it->second.reader);
    if (r && r->key && r->insertion == it->second.insertion) {
        if (dwDisposition == SCARD_RESET_CARD)
            r->key->Reset();
        else if (dwDisposition == SCARD_UNPOWER_CARD || dwDisposition == SCARD_EJECT_CARD)
            r->key->PowerOff();
    }
    w.handles.erase(it);
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardTransmit(SCARDHANDLE hCard, const SCARD_IO_REQUEST* pioSendPci, LPCBYTE pbSendBuffer,
                                      DWORD cbSendLength, SCARD_IO_REQUEST*, LPBYTE pbRecvBuffer, LPDWORD pcbRecvLength)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.transmit;
    auto it = w.handles.find(hCard);
    if (it == w.handles.end()) return SCARD_E_INVALID_HANDLE;
    if (!pioSendPci || !pbSendBuffer || !pbRecvBuffer || !pcbRecvLength) return SCARD_E_INVALID_PARAMETER;
    if (pioSendPci->dwProtocol != SCARD_PROTOCOL_T1) return SCARD_E_PROTO_MISMATCH;
    auto* r = keyemu::pcscdouble::Find(w, it->second.reader);
    if (!r) return SCARD_E_READER_UNAVAILABLE;
    if (!r->key || r->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
    if (r->passTransmits > 0) {
        --r->passTransmits;
    } else if (r->failTransmits != 0) {
        if (r->failTransmits > 0) --r->failTransmits;
        return SCARD_E_NOT_TRANSACTED;
    }
    std::vector<uint8_t> answer = r->key->Transmit(std::vector<uint8_t>(pbSendBuffer, pbSendBuffer + cbSendLength));
    if (answer.empty()) return SCARD_E_NOT_TRANSACTED;
    if (*pcbRecvLength < answer.size()) return SCARD_E_INSUFFICIENT_BUFFER;
    std::memcpy(pbRecvBuffer, answer.data(), answer.size());
    *pcbRecvLength = static_cast<DWORD>(answer.size());
    return SCARD_S_SUCCESS;
}

PCSC_DOUBLE_EXPORT LONG SCardGetAttrib(SCARDHANDLE hCard, DWORD dwAttrId, LPBYTE pbAttr, LPDWORD pcbAttrLen)
{
    World& w = W();
    std::lock_guard<std::mutex> lock(w.mutex);
    ++w.calls.getAttrib;
    auto it = w.handles.find(hCard);
    if (it == w.handles.end()) return SCARD_E_INVALID_HANDLE;
    if (!pcbAttrLen) return SCARD_E_INVALID_PARAMETER;
    std::vector<uint8_t> value;
    if (dwAttrId == SCARD_ATTR_DEVICE_SYSTEM_NAME_A || dwAttrId == SCARD_ATTR_DEVICE_FRIENDLY_NAME_A) {
        // The reader name with its terminating zero, as pcsc-lite gives it.
        const std::string& name = it->second.reader;
        value.assign(name.begin(), name.end());
        value.push_back(0);
    } else if (dwAttrId == SCARD_ATTR_ATR_STRING) {
        auto* r = keyemu::pcscdouble::Find(w, it->second.reader);
        if (!r || !r->key || r->insertion != it->second.insertion) return SCARD_W_REMOVED_CARD;
        value = r->key->Atr();
    } else {
        return SCARD_E_UNSUPPORTED_FEATURE;
    }
    if (!pbAttr) {
        *pcbAttrLen = static_cast<DWORD>(value.size());
        return SCARD_S_SUCCESS;
    }
    if (*pcbAttrLen < value.size()) {
        *pcbAttrLen = static_cast<DWORD>(value.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    std::memcpy(pbAttr, value.data(), value.size());
    *pcbAttrLen = static_cast<DWORD>(value.size());
    return SCARD_S_SUCCESS;
}
