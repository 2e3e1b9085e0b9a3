// keyemu: runs emulated keys as virtual cards of pcscd's virtual reader
// driver (vpcd). Each key connects to its reader slot's TCP port, answers
// power, reset, ATR and APDU requests through the firmware model, and keeps
// its persistent state in a file that is rewritten after every command, so a
// key survives restarts of this program and of whole test runs.
//
// A control socket takes one command per text line and answers zero or more
// data lines followed by "OK" or "ERR <reason>" (see kUsage).

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "keyemu/KeyModel.h"

namespace {

const char kUsage[] = "usage: keyemu [--control SOCKET] [--log FILE] [--host ADDR]\n"
                      "              --key STATEFILE --port N [--serial N] [--version N]\n"
                      "              [--capability N] [--password TEXT] [--key ...]\n"
                      "  Options after --key apply to that key; --serial, --version,\n"
                      "  --capability and --password make the key when STATEFILE is missing.\n"
                      "control commands (KEY is the key's index from 0):\n"
                      "  keys | unplug KEY | replug KEY | reset KEY | dump KEY | save KEY\n"
                      "  busy KEY [on|off] | not-ready KEY [on|off] | short-answer KEY [on|off]\n"
                      "  bad-mac KEY [on|off] | wrong-protection KEY [on|off]\n"
                      "  clock-skew KEY SECONDS | clear-faults KEY | quit\n"
                      "  hold-answer KEY N: N more commands are answered, the next one is\n"
                      "    carried out and its answer held back (its sender stalls there)\n"
                      "  held KEY: \"held\", \"armed\" or \"off\" | release KEY: sends a held answer\n"
                      "  load KEY STATEFILE: the key takes the state saved in the file (as if reset)\n";

// vpcd frames: a 2-byte big-endian length, then one control byte or an APDU.
constexpr uint8_t kCtrlPowerOff = 0;
constexpr uint8_t kCtrlPowerOn = 1;
constexpr uint8_t kCtrlReset = 2;
constexpr uint8_t kCtrlAtr = 4;

constexpr auto kReconnectInterval = std::chrono::milliseconds(100);

volatile sig_atomic_t g_stop = 0;
int g_wakePipe[2] = {-1, -1};

void OnSignal(int)
{
    g_stop = 1;
    if (g_wakePipe[1] >= 0) {
        char c = 0;
        [[maybe_unused]] ssize_t n = write(g_wakePipe[1], &c, 1);
    }
}

FILE* g_log = nullptr;

std::string Timestamp()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    gmtime_r(&ts.tv_sec, &t);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000);
    return buf;
}

void LogLine(int keyIndex, const std::string& text)
{
    if (!g_log) return;
    if (keyIndex >= 0)
        std::fprintf(g_log, "%s key%d %s\n", Timestamp().c_str(), keyIndex, text.c_str());
    else
        std::fprintf(g_log, "%s %s\n", Timestamp().c_str(), text.c_str());
    std::fflush(g_log);
}

bool WriteAll(int fd, const uint8_t* p, size_t n)
{
    while (n > 0) {
        ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

bool ParseU32(const std::string& s, uint32_t& out)
{
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(s.c_str(), &end, 0);
    if (errno || *end || v > 0xFFFFFFFFull || s[0] == '-') return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseI64(const std::string& s, int64_t& out)
{
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno || *end) return false;
    out = v;
    return true;
}

struct KeyOptions {
    std::string statePath;
    uint32_t port = 0;
    keyemu::KeyConfig config;
};

// One emulated key and its link to a vpcd reader slot.
class EmulatedKey {
public:
    EmulatedKey(int index, KeyOptions opts, std::unique_ptr<keyemu::Key> key, std::string host)
        : index_(index), opts_(std::move(opts)), key_(std::move(key)), host_(std::move(host))
    {
        key_->SetCommandLog([this](const std::string& line) { LogLine(index_, line); });
        saved_ = key_->Serialize();  // the key was just loaded from or saved to its file
    }
    ~EmulatedKey() { Disconnect("shutdown"); }

    int fd() const { return fd_; }
    bool plugged() const { return plugged_; }
    keyemu::Key& key() { return *key_; }
    uint32_t port() const { return opts_.port; }
    // True while the key is plugged in but pcscd's driver is not reachable yet.
    bool wantsConnect() const { return plugged_ && fd_ < 0; }

    void TryConnect()
    {
        if (!wantsConnect()) return;
        auto now = std::chrono::steady_clock::now();
        if (now < nextConnect_) return;
        nextConnect_ = now + kReconnectInterval;
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(opts_.port));
        if (inet_pton(AF_INET, host_.c_str(), &addr.sin_addr) != 1 ||
            connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(fd);
            return;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd_ = fd;
        rx_.clear();
        LogLine(index_, "inserted (port " + std::to_string(opts_.port) + ")");
    }

    // The reader sees the card removed; the key loses power and its session.
    void Unplug()
    {
        plugged_ = false;
        Disconnect("unplugged");
    }
    void Replug()
    {
        if (plugged_) return;
        plugged_ = true;
        nextConnect_ = {};
        TryConnect();
    }

    // Reads what the driver sent and answers every complete frame.
    void OnReadable()
    {
        uint8_t buf[4096];
        ssize_t n = recv(fd_, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
        if (n <= 0) {
            Disconnect("reader closed the connection");
            return;
        }
        rx_.insert(rx_.end(), buf, buf + n);
        size_t pos = 0;
        while (fd_ >= 0 && rx_.size() - pos >= 2) {
            size_t len = (static_cast<size_t>(rx_[pos]) << 8) | rx_[pos + 1];
            if (rx_.size() - pos - 2 < len) break;
            std::vector<uint8_t> frame(rx_.begin() + static_cast<long>(pos + 2),
                                       rx_.begin() + static_cast<long>(pos + 2 + len));
            pos += 2 + len;
            HandleFrame(frame);
        }
        if (fd_ >= 0) rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(pos));
    }

    bool Save()
    {
        if (key_->Save(opts_.statePath)) {
            saved_ = key_->Serialize();
            return true;
        }
        LogLine(index_, "ERROR: cannot save state to " + opts_.statePath);
        saved_.clear();
        return false;
    }

    void SaveIfChanged()
    {
        if (key_->Serialize() != saved_) Save();
    }

    // The key takes another saved state (a test goes back to it), as if it
    // had been reset: a session of the old state is gone.
    bool LoadState(const std::string& path)
    {
        std::unique_ptr<keyemu::Key> loaded = keyemu::Key::Load(path);
        if (!loaded) return false;
        key_ = std::move(loaded);
        key_->SetCommandLog([this](const std::string& line) { LogLine(index_, line); });
        return Save();
    }

    // Holding an answer back: a test stops the sender at a chosen command
    // (and may kill it there) with the key's state as that command left it.
    void HoldAnswerAfter(uint32_t answered)
    {
        ReleaseHeld();
        holdAfter_ = static_cast<int64_t>(answered);
    }
    std::string HoldState() const
    {
        if (holding_) return "held";
        return holdAfter_ >= 0 ? "armed" : "off";
    }
    void ReleaseHeld()
    {
        holdAfter_ = -1;
        if (!holding_) return;
        holding_ = false;
        if (fd_ >= 0) Send(held_);
        held_.clear();
    }

private:
    void HandleFrame(const std::vector<uint8_t>& frame)
    {
        if (frame.size() == 1) {
            switch (frame[0]) {
            case kCtrlPowerOff:
                key_->PowerOff();
                LogLine(index_, "power off");
                break;
            case kCtrlPowerOn:
                key_->PowerOn();
                LogLine(index_, "power on");
                break;
            case kCtrlReset:
                key_->Reset();
                LogLine(index_, "reset");
                break;
            case kCtrlAtr:
                Send(key_->Atr());
                break;
            default:
                LogLine(index_, "unknown control byte " + std::to_string(frame[0]));
                break;
            }
            return;
        }
        if (frame.empty()) return;
        std::vector<uint8_t> answer = key_->Transmit(frame);
        // The state file follows every command that changed the state, before
        // the answer leaves, so a key killed at any moment keeps everything it
        // has acknowledged.
        SaveIfChanged();
        if (holdAfter_ == 0) {
            holdAfter_ = -1;
            holding_ = true;
            held_ = std::move(answer);
            LogLine(index_, "answer held");
            return;
        }
        if (holdAfter_ > 0) --holdAfter_;
        Send(answer);
    }

    void Send(const std::vector<uint8_t>& payload)
    {
        if (payload.size() > 0xFFFF) return;
        std::vector<uint8_t> out;
        out.reserve(payload.size() + 2);
        out.push_back(static_cast<uint8_t>(payload.size() >> 8));
        out.push_back(static_cast<uint8_t>(payload.size()));
        out.insert(out.end(), payload.begin(), payload.end());
        if (!WriteAll(fd_, out.data(), out.size())) Disconnect("send failed");
    }

    void Disconnect(const char* why)
    {
        if (fd_ < 0) return;
        close(fd_);
        fd_ = -1;
        rx_.clear();
        holding_ = false;
        held_.clear();
        key_->PowerOff();
        SaveIfChanged();
        nextConnect_ = std::chrono::steady_clock::now() + kReconnectInterval;
        LogLine(index_, std::string("removed: ") + why);
    }

    int index_;
    KeyOptions opts_;
    std::unique_ptr<keyemu::Key> key_;
    std::string host_;
    int fd_ = -1;
    bool plugged_ = true;
    std::vector<uint8_t> rx_;
    std::vector<uint8_t> saved_;  // what the state file holds
    int64_t holdAfter_ = -1;      // commands to answer before one is held; -1 none
    bool holding_ = false;
    std::vector<uint8_t> held_;
    std::chrono::steady_clock::time_point nextConnect_{};
};

struct ControlClient {
    int fd;
    std::string rx;
};

class Emulator {
public:
    std::vector<std::unique_ptr<EmulatedKey>> keys;
    int controlFd = -1;
    std::string controlPath;
    std::vector<ControlClient> clients;
    bool quit = false;

    bool OpenControl(const std::string& path)
    {
        sockaddr_un addr{};
        if (path.size() >= sizeof addr.sun_path) {
            std::fprintf(stderr, "keyemu: control socket path too long: %s\n", path.c_str());
            return false;
        }
        unlink(path.c_str());
        controlFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, path.c_str(), path.size());
        if (controlFd < 0 || bind(controlFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(controlFd, 8) != 0) {
            std::fprintf(stderr, "keyemu: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
            return false;
        }
        controlPath = path;
        return true;
    }

    void CloseControl()
    {
        for (auto& c : clients) close(c.fd);
        clients.clear();
        if (controlFd >= 0) {
            close(controlFd);
            unlink(controlPath.c_str());
        }
    }

    void Run()
    {
        while (!g_stop && !quit) {
            for (auto& k : keys) k->TryConnect();
            std::vector<pollfd> fds;
            fds.push_back({g_wakePipe[0], POLLIN, 0});
            if (controlFd >= 0) fds.push_back({controlFd, POLLIN, 0});
            size_t clientBase = fds.size();
            for (auto& c : clients) fds.push_back({c.fd, POLLIN, 0});
            size_t keyBase = fds.size();
            std::vector<EmulatedKey*> polled;
            for (auto& k : keys)
                if (k->fd() >= 0) {
                    fds.push_back({k->fd(), POLLIN, 0});
                    polled.push_back(k.get());
                }
            bool waiting = false;
            for (auto& k : keys) waiting = waiting || k->wantsConnect();
            int timeout = waiting ? static_cast<int>(kReconnectInterval.count()) : 1000;
            int n = poll(fds.data(), fds.size(), timeout);
            if (n < 0) {
                if (errno == EINTR) continue;
                std::perror("keyemu: poll");
                return;
            }
            for (size_t i = 0; i < polled.size(); ++i)
                if (fds[keyBase + i].revents) polled[i]->OnReadable();
            // Clients are served after the keys: a command may close a key's socket.
            std::vector<int> ready;
            for (size_t i = clientBase; i < keyBase; ++i)
                if (fds[i].revents) ready.push_back(fds[i].fd);
            for (int fd : ready) ServeClient(fd);
            if (controlFd >= 0 && (fds[1].revents & POLLIN)) {
                int c = accept4(controlFd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) clients.push_back({c, {}});
            }
        }
    }

private:
    void ServeClient(int fd)
    {
        auto it = clients.begin();
        while (it != clients.end() && it->fd != fd) ++it;
        if (it == clients.end()) return;
        char buf[1024];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            close(fd);
            clients.erase(it);
            return;
        }
        it->rx.append(buf, static_cast<size_t>(n));
        if (it->rx.size() > 65536) it->rx.clear();  // a client that never ends a line
        size_t nl;
        while ((nl = it->rx.find('\n')) != std::string::npos) {
            std::string line = it->rx.substr(0, nl);
            it->rx.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string reply = Execute(line);
            WriteAll(fd, reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
        }
    }

    // Runs one control command; the reply ends with "OK\n" or "ERR ...\n".
    std::string Execute(const std::string& line)
    {
        std::istringstream in(line);
        std::vector<std::string> w;
        for (std::string t; in >> t;) w.push_back(t);
        if (w.empty()) return "ERR empty command\n";
        LogLine(-1, "control: " + line);
        const std::string& cmd = w[0];
        if (cmd == "quit") {
            quit = true;
            return "OK\n";
        }
        if (cmd == "keys") {
            std::string out;
            for (size_t i = 0; i < keys.size(); ++i) {
                auto& k = *keys[i];
                out += std::to_string(i) + " serial=" + std::to_string(k.key().serial()) +
                       " port=" + std::to_string(k.port()) + (k.plugged() ? " plugged" : " unplugged") +
                       (k.fd() >= 0 ? " connected" : " disconnected") + "\n";
            }
            return out + "OK\n";
        }
        if (cmd == "help") return std::string(kUsage) + "OK\n";
        if (w.size() < 2) return "ERR missing key index\n";
        uint32_t idx = 0;
        if (!ParseU32(w[1], idx) || idx >= keys.size()) return "ERR no key " + w[1] + "\n";
        EmulatedKey& k = *keys[idx];
        keyemu::Faults& f = k.key().faults();

        auto onOff = [&](bool& flag) -> std::string {
            if (w.size() < 3 || w[2] == "on") {
                flag = true;
            } else if (w[2] == "off") {
                flag = false;
            } else {
                return "ERR expected on or off\n";
            }
            return "OK\n";
        };

        if (cmd == "unplug") {
            k.Unplug();
            return "OK\n";
        }
        if (cmd == "replug") {
            k.Replug();
            return "OK\n";
        }
        if (cmd == "reset") {
            k.key().Reset();
            k.SaveIfChanged();
            return "OK\n";
        }
        if (cmd == "dump") {
            std::string d = k.key().DumpState();
            if (!d.empty() && d.back() != '\n') d += '\n';
            return d + "OK\n";
        }
        if (cmd == "save") return k.Save() ? "OK\n" : "ERR save failed\n";
        if (cmd == "busy") return onOff(f.busy);
        if (cmd == "not-ready") return onOff(f.notReady);
        if (cmd == "short-answer") return onOff(f.shortAnswer);
        if (cmd == "bad-mac") return onOff(f.badMac);
        if (cmd == "wrong-protection") return onOff(f.wrongProtection);
        if (cmd == "clock-skew") {
            int64_t s = 0;
            if (w.size() < 3 || !ParseI64(w[2], s)) return "ERR expected seconds\n";
            f.clockSkewSeconds = s;
            return "OK\n";
        }
        if (cmd == "load") {
            if (w.size() < 3) return "ERR expected a state file\n";
            return k.LoadState(w[2]) ? "OK\n" : "ERR the file holds no key\n";
        }
        if (cmd == "hold-answer") {
            uint32_t n = 0;
            if (w.size() < 3 || !ParseU32(w[2], n)) return "ERR expected a command count\n";
            k.HoldAnswerAfter(n);
            return "OK\n";
        }
        if (cmd == "held") return k.HoldState() + "\nOK\n";
        if (cmd == "release") {
            k.ReleaseHeld();
            return "OK\n";
        }
        if (cmd == "clear-faults") {
            f = keyemu::Faults{};
            return "OK\n";
        }
        return "ERR unknown command " + cmd + "\n";
    }
};

bool FileExists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<KeyOptions> keyOpts;
    std::string controlPath, logPath, host = "127.0.0.1";
    auto need = [&](int& i) -> std::string {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "keyemu: %s needs a value\n%s", argv[i], kUsage);
            std::exit(2);
        }
        return argv[++i];
    };
    auto bad = [&](const std::string& opt, const std::string& v) {
        std::fprintf(stderr, "keyemu: bad value for %s: %s\n", opt.c_str(), v.c_str());
        std::exit(2);
    };
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (a == "--control") {
            controlPath = need(i);
        } else if (a == "--log") {
            logPath = need(i);
        } else if (a == "--host") {
            host = need(i);
        } else if (a == "--key") {
            keyOpts.push_back({});
            keyOpts.back().statePath = need(i);
        } else if (a == "--port" || a == "--serial" || a == "--version" || a == "--capability" || a == "--password") {
            if (keyOpts.empty()) {
                std::fprintf(stderr, "keyemu: %s must follow --key\n", a.c_str());
                return 2;
            }
            KeyOptions& k = keyOpts.back();
            std::string v = need(i);
            uint32_t n = 0;
            if (a == "--password") {
                k.config.password = v;
            } else if (!ParseU32(v, n)) {
                bad(a, v);
            } else if (a == "--port") {
                if (n == 0 || n > 0xFFFF) bad(a, v);
                k.port = n;
            } else if (a == "--serial") {
                k.config.serial = n;
            } else if (a == "--version") {
                if (n > 0xFF) bad(a, v);
                k.config.version = static_cast<uint8_t>(n);
            } else {
                k.config.capability = n;
            }
        } else {
            std::fprintf(stderr, "keyemu: unknown argument %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    if (keyOpts.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    if (!logPath.empty()) {
        g_log = std::fopen(logPath.c_str(), "a");
        if (!g_log) {
            std::fprintf(stderr, "keyemu: cannot open log %s: %s\n", logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }

    Emulator emu;
    for (size_t i = 0; i < keyOpts.size(); ++i) {
        KeyOptions& o = keyOpts[i];
        if (o.port == 0) {
            std::fprintf(stderr, "keyemu: key %zu (%s) has no --port\n", i, o.statePath.c_str());
            return 2;
        }
        std::unique_ptr<keyemu::Key> key;
        if (FileExists(o.statePath)) {
            key = keyemu::Key::Load(o.statePath);
            // Never replace a state file that cannot be read: it may hold keys.
            if (!key) {
                std::fprintf(stderr, "keyemu: %s is not a readable key state file\n", o.statePath.c_str());
                return 1;
            }
            LogLine(static_cast<int>(i), "loaded " + o.statePath + " serial " + std::to_string(key->serial()));
        } else {
            key = keyemu::Key::Create(o.config);
            if (!key || !key->Save(o.statePath)) {
                std::fprintf(stderr, "keyemu: cannot create key state %s\n", o.statePath.c_str());
                return 1;
            }
            LogLine(static_cast<int>(i), "created " + o.statePath + " serial " + std::to_string(key->serial()));
        }
        emu.keys.push_back(std::make_unique<EmulatedKey>(static_cast<int>(i), o, std::move(key), host));
    }

    if (pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!controlPath.empty() && !emu.OpenControl(controlPath)) return 1;
    LogLine(-1, "keyemu started with " + std::to_string(emu.keys.size()) + " key(s)");
    emu.Run();
    for (auto& k : emu.keys) k->Save();
    emu.keys.clear();
    emu.CloseControl();
    LogLine(-1, "keyemu stopped");
    if (g_log) std::fclose(g_log);
    return 0;
}
