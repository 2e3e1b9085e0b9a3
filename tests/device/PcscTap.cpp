// Interposes the SCard calls (the test program's definitions win over the
// double's library) and forwards them with dlsym(RTLD_NEXT).
#include "PcscTap.h"

#include <dlfcn.h>
#include <reader.h>
#include <winscard.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

namespace {

// A failure answered to the next count calls instead of the double's answer.
struct Injected {
    long code = 0;
    int count = 0;
};

struct Tap {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> apdus;
    std::map<uint8_t, std::pair<uint8_t, int>> forced;
    Injected establish;
    Injected list;
    std::vector<pcsctap::LogEvent> events;
    std::string identity;
    pcsctap::AnswerHook hook;
};

Tap& T()
{
    static Tap* tap = new Tap;
    return *tap;
}

template <typename F>
F Next(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// Takes one call of an injected failure: true with its code in *rc.
bool TakeInjected(Injected& failure, LONG* rc)
{
    std::lock_guard<std::mutex> g(T().mutex);
    if (failure.count <= 0) return false;
    --failure.count;
    *rc = failure.code;
    return true;
}

}  // namespace

extern "C" LONG SCardEstablishContext(DWORD scope, LPCVOID r1, LPCVOID r2, LPSCARDCONTEXT context)
{
    if (LONG rc; TakeInjected(T().establish, &rc)) return rc;
    static auto next = Next<LONG (*)(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT)>("SCardEstablishContext");
    return next(scope, r1, r2, context);
}

extern "C" LONG SCardListReaders(SCARDCONTEXT context, LPCSTR groups, LPSTR readers, LPDWORD length)
{
    if (LONG rc; TakeInjected(T().list, &rc)) return rc;
    static auto next = Next<LONG (*)(SCARDCONTEXT, LPCSTR, LPSTR, LPDWORD)>("SCardListReaders");
    return next(context, groups, readers, length);
}

extern "C" LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                              SCARD_IO_REQUEST* recvPci, LPBYTE receive, LPDWORD receiveLength)
{
    static auto next =
        Next<LONG (*)(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE, LPDWORD)>(
            "SCardTransmit");
    {
        std::lock_guard<std::mutex> g(T().mutex);
        T().apdus.emplace_back(send, send + sendLength);
    }
    const DWORD capacity = receiveLength ? *receiveLength : 0;
    const LONG rc = next(card, sendPci, send, sendLength, recvPci, receive, receiveLength);
    if (rc == SCARD_S_SUCCESS && sendLength > 5 && *receiveLength > 2) {
        std::lock_guard<std::mutex> g(T().mutex);
        auto it = T().forced.find(send[5]);
        if (it != T().forced.end() && it->second.second > 0) {
            receive[2] = it->second.first;  // block byte 3: the status
            if (--it->second.second == 0) T().forced.erase(it);
        }
    }
    pcsctap::AnswerHook hook;
    {
        std::lock_guard<std::mutex> g(T().mutex);
        hook = T().hook;
    }
    if (rc == SCARD_S_SUCCESS && hook) {
        std::vector<uint8_t> answer(receive, receive + *receiveLength);
        hook(std::vector<uint8_t>(send, send + sendLength), answer);
        // The hook may shorten or lengthen the answer; the caller's buffer bounds it.
        const size_t n = std::min<size_t>(answer.size(), capacity);
        std::memcpy(receive, answer.data(), n);
        *receiveLength = static_cast<DWORD>(n);
    }
    return rc;
}

// Syslog capture.
extern "C" void openlog(const char* identity, int, int)
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().identity = identity ? identity : "";
}

extern "C" void closelog(void) {}

extern "C" void syslog(int priority, const char* format, ...)
{
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    std::lock_guard<std::mutex> g(T().mutex);
    T().events.push_back({T().identity, priority, text});
}

namespace pcsctap {

void Reset()
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().apdus.clear();
    T().forced.clear();
    T().establish.count = 0;
    T().list.count = 0;
    T().events.clear();
    T().hook = nullptr;
}

void SetAnswerHook(AnswerHook hook)
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().hook = std::move(hook);
}

std::vector<std::vector<uint8_t>> Apdus()
{
    std::lock_guard<std::mutex> g(T().mutex);
    return T().apdus;
}

std::vector<int> Commands()
{
    std::vector<int> out;
    for (const auto& a : Apdus()) out.push_back(a.size() > 5 ? a[5] : -1);
    return out;
}

void ForceStatus(uint8_t command, uint8_t status, int count)
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().forced[command] = {status, count};
}

void FailEstablish(long code, int count)
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().establish = {code, count};
}

void FailListReaders(long code, int count)
{
    std::lock_guard<std::mutex> g(T().mutex);
    T().list = {code, count};
}

bool ConnectOwn(const std::string& reader, intptr_t* context, intptr_t* card)
{
    SCARDCONTEXT c = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &c) != SCARD_S_SUCCESS) return false;
    SCARDHANDLE h = 0;
    DWORD protocol = 0;
    if (SCardConnect(c, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T1, &h, &protocol) != SCARD_S_SUCCESS) {
        SCardReleaseContext(c);
        return false;
    }
    *context = c;
    *card = h;
    return true;
}

bool ProbeOwn(intptr_t card)
{
    uint8_t apdu[69] = {0xFF, 0x14, 0x00, 0x00, 0x3F};
    apdu[5] = 13;
    apdu[68] = 66;
    uint8_t answer[256];
    DWORD length = sizeof(answer);
    return SCardTransmit(card, SCARD_PCI_T1, apdu, sizeof(apdu), nullptr, answer, &length) == SCARD_S_SUCCESS &&
           length >= 63 && answer[2] == 0;
}

void DisconnectOwn(intptr_t context, intptr_t card)
{
    SCardDisconnect(card, SCARD_LEAVE_CARD);
    SCardReleaseContext(context);
}

std::vector<LogEvent> SyslogEvents()
{
    std::lock_guard<std::mutex> g(T().mutex);
    return T().events;
}

}  // namespace pcsctap
