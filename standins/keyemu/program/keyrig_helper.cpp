// keyrig_helper: the small pieces of scripts/keyrig that a shell cannot do.
//
//   keyrig_helper socket-exec SOCKET -- PROGRAM ARGS...
//       Listens on the Unix socket SOCKET and runs PROGRAM with it passed as
//       fd 3 (LISTEN_FDS=1, LISTEN_PID), the way a service manager hands a
//       socket to pcscd. pcscd then serves clients on our own socket path
//       instead of its fixed system path.
//   keyrig_helper free-ports COUNT
//       Prints the first of COUNT consecutive free TCP ports.
//   keyrig_helper readers [--cards N] [--readers N] [--timeout SECONDS]
//       Lists the PC/SC readers as "NAME<TAB>present|empty", after waiting
//       until at least N readers exist and N cards are present.
//   keyrig_helper ctl SOCKET COMMAND...
//       Sends one command line to keyemu's control socket and prints the
//       answer; exit status 0 on OK.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <winscard.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

int Usage()
{
    std::fputs("usage: keyrig_helper socket-exec SOCKET -- PROGRAM ARGS...\n"
               "       keyrig_helper free-ports COUNT\n"
               "       keyrig_helper readers [--cards N] [--readers N] [--timeout SECONDS]\n"
               "       keyrig_helper ctl SOCKET COMMAND...\n",
               stderr);
    return 2;
}

bool FillUnixAddr(const std::string& path, sockaddr_un& addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "keyrig_helper: socket path too long: %s\n", path.c_str());
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    return true;
}

int SocketExec(int argc, char** argv)
{
    if (argc < 5 || std::strcmp(argv[3], "--") != 0) return Usage();
    std::string path = argv[2];
    sockaddr_un addr;
    if (!FillUnixAddr(path, addr)) return 1;
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 64) != 0) {
        std::fprintf(stderr, "keyrig_helper: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    // Every local user may talk to the rig's pcscd, as with the system socket.
    chmod(path.c_str(), 0666);
    if (fd != 3) {
        if (dup2(fd, 3) < 0) return 1;
        close(fd);
    }
    setenv("LISTEN_FDS", "1", 1);
    setenv("LISTEN_PID", std::to_string(getpid()).c_str(), 1);
    unsetenv("LISTEN_FDNAMES");
    execvp(argv[4], argv + 4);
    std::fprintf(stderr, "keyrig_helper: cannot run %s: %s\n", argv[4], std::strerror(errno));
    return 127;
}

bool PortFree(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}

int FreePorts(int argc, char** argv)
{
    if (argc != 3) return Usage();
    int count = std::atoi(argv[2]);
    if (count < 1 || count > 64) return Usage();
    // Random bases keep rigs started at the same moment apart.
    std::random_device rd;
    std::mt19937 gen(rd() ^ static_cast<unsigned>(getpid()));
    std::uniform_int_distribution<int> dist(20000, 60000 - count);
    for (int attempt = 0; attempt < 200; ++attempt) {
        int base = dist(gen);
        bool ok = true;
        for (int p = base; p < base + count && ok; ++p) ok = PortFree(p);
        if (ok) {
            std::printf("%d\n", base);
            return 0;
        }
    }
    std::fputs("keyrig_helper: no free ports\n", stderr);
    return 1;
}

struct ReaderState {
    std::string name;
    bool present;
};

// Reads the readers and whether each holds a card; false when pcscd is not
// reachable yet.
bool Snapshot(std::vector<ReaderState>& out)
{
    out.clear();
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return false;
    char buf[4096];
    DWORD len = sizeof buf;
    LONG rv = SCardListReaders(ctx, nullptr, buf, &len);
    if (rv == SCARD_E_NO_READERS_AVAILABLE) {
        SCardReleaseContext(ctx);
        return true;
    }
    if (rv != SCARD_S_SUCCESS) {
        SCardReleaseContext(ctx);
        return false;
    }
    std::vector<SCARD_READERSTATE> states;
    for (const char* p = buf; p < buf + len && *p; p += std::strlen(p) + 1) {
        out.push_back({p, false});
    }
    states.resize(out.size());
    for (size_t i = 0; i < out.size(); ++i) {
        states[i] = {};
        states[i].szReader = out[i].name.c_str();
        states[i].dwCurrentState = SCARD_STATE_UNAWARE;
    }
    if (!states.empty() &&
        SCardGetStatusChange(ctx, 0, states.data(), static_cast<DWORD>(states.size())) == SCARD_S_SUCCESS) {
        for (size_t i = 0; i < out.size(); ++i) out[i].present = (states[i].dwEventState & SCARD_STATE_PRESENT) != 0;
    }
    SCardReleaseContext(ctx);
    return true;
}

int Readers(int argc, char** argv)
{
    int wantCards = 0, wantReaders = 0;
    double timeout = 0;
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return Usage();
        if (a == "--cards") {
            wantCards = std::atoi(argv[++i]);
        } else if (a == "--readers") {
            wantReaders = std::atoi(argv[++i]);
        } else if (a == "--timeout") {
            timeout = std::atof(argv[++i]);
        } else {
            return Usage();
        }
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(static_cast<long>(timeout * 1000));
    std::vector<ReaderState> readers;
    for (;;) {
        bool reached = Snapshot(readers);
        int cards = 0;
        for (auto& r : readers) cards += r.present ? 1 : 0;
        if (reached && static_cast<int>(readers.size()) >= wantReaders && cards >= wantCards) break;
        if (std::chrono::steady_clock::now() >= deadline) {
            if (!reached)
                std::fputs("keyrig_helper: pcscd not reachable\n", stderr);
            else
                std::fprintf(stderr, "keyrig_helper: %zu reader(s), %d card(s) after waiting\n", readers.size(), cards);
            for (auto& r : readers) std::printf("%s\t%s\n", r.name.c_str(), r.present ? "present" : "empty");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (auto& r : readers) std::printf("%s\t%s\n", r.name.c_str(), r.present ? "present" : "empty");
    return 0;
}

int Ctl(int argc, char** argv)
{
    if (argc < 4) return Usage();
    sockaddr_un addr;
    if (!FillUnixAddr(argv[2], addr)) return 1;
    std::string line;
    for (int i = 3; i < argc; ++i) line += std::string(i > 3 ? " " : "") + argv[i];
    line += "\n";
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "keyrig_helper: cannot reach %s: %s\n", argv[2], std::strerror(errno));
        return 1;
    }
    if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return 1;
    std::string answer;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        answer.append(buf, static_cast<size_t>(n));
        // The answer ends with its status line.
        size_t last = answer.rfind('\n', answer.size() - 2);
        std::string tail = answer.substr(last == std::string::npos ? 0 : last + 1);
        if (!answer.empty() && answer.back() == '\n' && (tail == "OK\n" || tail.rfind("ERR", 0) == 0)) break;
    }
    close(fd);
    std::fputs(answer.c_str(), stdout);
    size_t last = answer.rfind('\n', answer.size() >= 2 ? answer.size() - 2 : 0);
    std::string tail = answer.substr(last == std::string::npos ? 0 : last + 1);
    return tail == "OK\n" ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return Usage();
    std::string cmd = argv[1];
    if (cmd == "socket-exec") return SocketExec(argc, argv);
    if (cmd == "free-ports") return FreePorts(argc, argv);
    if (cmd == "readers") return Readers(argc, argv);
    if (cmd == "ctl") return Ctl(argc, argv);
    return Usage();
}
