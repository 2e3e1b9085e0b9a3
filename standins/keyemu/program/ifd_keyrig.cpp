// libifdkeyrig.so: a pcscd reader driver whose slots hold emulated keys.
//
// Each slot listens on a loopback TCP port; a virtual card (keyemu) that
// connects there is inserted, and removed when it closes the connection.
// Frames on the connection are a 2-byte big-endian length followed by one
// control byte (0 power off, 1 power on, 2 reset, 4 send the ATR: only the
// last one is answered) or a command APDU, answered by the response APDU.
//
// reader.conf entry:  DEVICENAME keyrig:BASEPORT:SLOTS   (slot n on BASEPORT+n)
//
// Unknown attributes answer IFD_ERROR_TAG with the caller's length untouched,
// so that pcscd itself answers the reader-name attributes
// (SCARD_ATTR_DEVICE_SYSTEM_NAME_A) from the reader name. State is kept per
// logical unit, so several reader entries can share the loaded driver.
//
// A card whose connection went away stays absent for a while before the next
// one is taken: pcscd runs its removal and insertion steps (power-up
// included) only when its presence polls see the slot empty in between, so a
// quick replug must not fall between two polls.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <ifdhandler.h>
#include <reader.h>
}

namespace {

constexpr int kMaxSlots = 16;  // pcscd's limit on readers
constexpr int kAnswerTimeoutMs = 30000;
// pcscd polls presence every 400 ms: a removal is held at least this long,
// and until a presence poll has reported it.
constexpr auto kRemovalHeld = std::chrono::milliseconds(1000);
constexpr uint8_t kCtrlPowerOff = 0;
constexpr uint8_t kCtrlPowerOn = 1;
constexpr uint8_t kCtrlReset = 2;
constexpr uint8_t kCtrlAtr = 4;

struct Slot {
    int listenFd = -1;
    int cardFd = -1;
    int slots = 1;  // slots of the reader this slot belongs to
    std::vector<uint8_t> atr;
    // Set when a card goes away, until pcscd has been told.
    bool removalPending = false;
    bool removalReported = false;
    std::chrono::steady_clock::time_point removedAt{};
};

std::mutex g_mutex;
std::map<DWORD, std::unique_ptr<Slot>> g_slots;

Slot* Find(DWORD lun)
{
    auto it = g_slots.find(lun);
    return it == g_slots.end() ? nullptr : it->second.get();
}

void DropCard(Slot& s)
{
    if (s.cardFd >= 0) {
        close(s.cardFd);
        s.removalPending = true;
        s.removalReported = false;
        s.removedAt = std::chrono::steady_clock::now();
    }
    s.cardFd = -1;
    s.atr.clear();
}

bool SendAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool RecvAll(int fd, uint8_t* p, size_t n)
{
    while (n > 0) {
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, kAnswerTimeoutMs);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        ssize_t got = recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool SendFrame(Slot& s, const uint8_t* data, size_t len)
{
    if (s.cardFd < 0 || len > 0xFFFF) return false;
    std::vector<uint8_t> out(len + 2);
    out[0] = static_cast<uint8_t>(len >> 8);
    out[1] = static_cast<uint8_t>(len);
    if (len) std::memcpy(out.data() + 2, data, len);
    if (SendAll(s.cardFd, out.data(), out.size())) return true;
    DropCard(s);
    return false;
}

bool RecvFrame(Slot& s, std::vector<uint8_t>& frame)
{
    uint8_t hdr[2];
    if (s.cardFd >= 0 && RecvAll(s.cardFd, hdr, 2)) {
        frame.resize((static_cast<size_t>(hdr[0]) << 8) | hdr[1]);
        if (frame.empty() || RecvAll(s.cardFd, frame.data(), frame.size())) return true;
    }
    DropCard(s);
    return false;
}

bool Control(Slot& s, uint8_t code)
{
    return SendFrame(s, &code, 1);
}

bool FetchAtr(Slot& s)
{
    std::vector<uint8_t> atr;
    if (!Control(s, kCtrlAtr) || !RecvFrame(s, atr) || atr.empty() || atr.size() > MAX_ATR_SIZE) return false;
    s.atr = atr;
    return true;
}

// Accepts a waiting card, or notices that the card went away. A removal is
// reported (the slot stays empty) before another card is taken.
void Poll(Slot& s)
{
    if (s.cardFd >= 0) {
        pollfd pfd{s.cardFd, POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0) {
            uint8_t b;
            ssize_t n = recv(s.cardFd, &b, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) DropCard(s);
        }
        if (s.cardFd < 0) s.removalReported = true;
        return;
    }
    if (s.removalPending) {
        if (!s.removalReported || std::chrono::steady_clock::now() - s.removedAt < kRemovalHeld) {
            s.removalReported = true;
            return;
        }
        s.removalPending = false;
    }
    int fd = accept4(s.listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // Blocking from here on; every wait is bounded by poll().
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    s.cardFd = fd;
}

int ParsePort(const char* text, int& base, int& slots)
{
    // "keyrig:BASEPORT:SLOTS" or "keyrig:BASEPORT"
    const char* p = std::strchr(text, ':');
    if (!p) return -1;
    char* end = nullptr;
    long port = std::strtol(p + 1, &end, 10);
    if (port <= 0 || port > 65535) return -1;
    long n = 1;
    if (*end == ':') n = std::strtol(end + 1, &end, 10);
    if (*end || n < 1 || n > kMaxSlots || port + n - 1 > 65535) return -1;
    base = static_cast<int>(port);
    slots = static_cast<int>(n);
    return 0;
}

RESPONSECODE Open(DWORD lun, int base, int slots)
{
    int slot = static_cast<int>(lun & 0xFFFF);
    if (slot >= slots) return IFD_COMMUNICATION_ERROR;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (Find(lun)) return IFD_COMMUNICATION_ERROR;
    // Non-blocking: pcscd polls presence, which must never wait for a card.
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return IFD_COMMUNICATION_ERROR;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(base + slot));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return IFD_COMMUNICATION_ERROR;
    }
    auto s = std::make_unique<Slot>();
    s->listenFd = fd;
    s->slots = slots;
    g_slots[lun] = std::move(s);
    return IFD_SUCCESS;
}

}  // namespace

extern "C" {

RESPONSECODE IFDHCreateChannelByName(DWORD Lun, LPSTR DeviceName)
{
    int base = 0, slots = 0;
    if (!DeviceName || ParsePort(DeviceName, base, slots) != 0) return IFD_COMMUNICATION_ERROR;
    return Open(Lun, base, slots);
}

RESPONSECODE IFDHCreateChannel(DWORD Lun, DWORD Channel)
{
    if (Channel == 0 || Channel > 65535) return IFD_COMMUNICATION_ERROR;
    return Open(Lun, static_cast<int>(Channel), 1);
}

RESPONSECODE IFDHCloseChannel(DWORD Lun)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot* s = Find(Lun);
    if (!s) return IFD_COMMUNICATION_ERROR;
    DropCard(*s);
    close(s->listenFd);
    g_slots.erase(Lun);
    return IFD_SUCCESS;
}

RESPONSECODE IFDHGetCapabilities(DWORD Lun, DWORD Tag, PDWORD Length, PUCHAR Value)
{
    if (!Length || !Value) return IFD_COMMUNICATION_ERROR;
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot* s = Find(Lun);
    if (!s) return IFD_COMMUNICATION_ERROR;
    auto one = [&](UCHAR v) -> RESPONSECODE {
        if (*Length < 1) return IFD_ERROR_INSUFFICIENT_BUFFER;
        Value[0] = v;
        *Length = 1;
        return IFD_SUCCESS;
    };
    switch (Tag) {
    case TAG_IFD_ATR:
    case SCARD_ATTR_ATR_STRING:
        if (*Length < s->atr.size()) return IFD_ERROR_INSUFFICIENT_BUFFER;
        if (!s->atr.empty()) std::memcpy(Value, s->atr.data(), s->atr.size());
        *Length = static_cast<DWORD>(s->atr.size());
        return IFD_SUCCESS;
    case TAG_IFD_SLOTS_NUMBER:
        return one(static_cast<UCHAR>(s->slots));
    case TAG_IFD_SIMULTANEOUS_ACCESS:
        return one(kMaxSlots);
    case TAG_IFD_THREAD_SAFE:
    case TAG_IFD_SLOT_THREAD_SAFE:
        return one(1);  // every entry point takes the driver's own lock
    default:
        return IFD_ERROR_TAG;
    }
}

RESPONSECODE IFDHSetCapabilities(DWORD, DWORD, DWORD, PUCHAR)
{
    return IFD_NOT_SUPPORTED;
}

RESPONSECODE IFDHSetProtocolParameters(DWORD Lun, DWORD Protocol, UCHAR, UCHAR, UCHAR, UCHAR)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Find(Lun)) return IFD_COMMUNICATION_ERROR;
    return Protocol == SCARD_PROTOCOL_T1 || Protocol == SCARD_PROTOCOL_T0 ? IFD_SUCCESS : IFD_PROTOCOL_NOT_SUPPORTED;
}

RESPONSECODE IFDHPowerICC(DWORD Lun, DWORD Action, PUCHAR Atr, PDWORD AtrLength)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (AtrLength) *AtrLength = 0;
    Slot* s = Find(Lun);
    if (!s) return IFD_COMMUNICATION_ERROR;
    if (s->cardFd < 0) return IFD_ERROR_POWER_ACTION;
    switch (Action) {
    case IFD_POWER_DOWN:
        s->atr.clear();
        return Control(*s, kCtrlPowerOff) ? IFD_SUCCESS : IFD_ERROR_POWER_ACTION;
    case IFD_POWER_UP:
        if (!Control(*s, kCtrlPowerOn) || !FetchAtr(*s)) return IFD_ERROR_POWER_ACTION;
        break;
    case IFD_RESET:
        if (!Control(*s, kCtrlReset) || !FetchAtr(*s)) return IFD_ERROR_POWER_ACTION;
        break;
    default:
        return IFD_NOT_SUPPORTED;
    }
    if (Atr && AtrLength) {
        std::memcpy(Atr, s->atr.data(), s->atr.size());
        *AtrLength = static_cast<DWORD>(s->atr.size());
    }
    return IFD_SUCCESS;
}

RESPONSECODE IFDHTransmitToICC(DWORD Lun, SCARD_IO_HEADER, PUCHAR TxBuffer, DWORD TxLength, PUCHAR RxBuffer,
                               PDWORD RxLength, PSCARD_IO_HEADER RecvPci)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    DWORD room = RxLength ? *RxLength : 0;
    if (RxLength) *RxLength = 0;
    if (RecvPci) RecvPci->Length = 0;
    Slot* s = Find(Lun);
    if (!s || !TxBuffer || !RxBuffer || !RxLength) return IFD_COMMUNICATION_ERROR;
    if (s->cardFd < 0) return IFD_ICC_NOT_PRESENT;
    // A one-byte frame would read as a control byte, so such an APDU cannot pass.
    if (TxLength < 2) return IFD_COMMUNICATION_ERROR;
    std::vector<uint8_t> answer;
    if (!SendFrame(*s, TxBuffer, TxLength) || !RecvFrame(*s, answer)) return IFD_COMMUNICATION_ERROR;
    if (answer.size() > room) return IFD_ERROR_INSUFFICIENT_BUFFER;
    if (!answer.empty()) std::memcpy(RxBuffer, answer.data(), answer.size());
    *RxLength = static_cast<DWORD>(answer.size());
    return IFD_SUCCESS;
}

RESPONSECODE IFDHControl(DWORD, DWORD, PUCHAR, DWORD, PUCHAR, DWORD, LPDWORD pdwBytesReturned)
{
    if (pdwBytesReturned) *pdwBytesReturned = 0;
    return IFD_ERROR_NOT_SUPPORTED;
}

RESPONSECODE IFDHICCPresence(DWORD Lun)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Slot* s = Find(Lun);
    if (!s) return IFD_COMMUNICATION_ERROR;
    Poll(*s);
    return s->cardFd >= 0 ? IFD_ICC_PRESENT : IFD_ICC_NOT_PRESENT;
}

}  // extern "C"
