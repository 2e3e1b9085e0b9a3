#include "KeyRig.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#ifndef QVK_KEYRIG_SCRIPT
#error "QVK_KEYRIG_SCRIPT must name scripts/keyrig"
#endif
#ifndef QVK_KEYRIG_BIN_DIR
#error "QVK_KEYRIG_BIN_DIR must name the folder of keyemu"
#endif

namespace qvk::e2e {

namespace {

std::vector<std::string> StartArgs(const std::string& dir, const std::vector<RigKey>& keys)
{
    // --owner: a test process that crashes or is killed leaves no rig running.
    std::vector<std::string> a = {"start",     dir,  "--bin",   QVK_KEYRIG_BIN_DIR,
                                  "--timeout", "20", "--owner", std::to_string(getpid())};
    for (const RigKey& k : keys) {
        a.push_back("--key");
        a.push_back(std::to_string(k.serial) + ":" + std::to_string(k.version) + ":" + k.password);
        if (k.capability) {
            a.push_back("--capability");
            a.push_back(std::to_string(*k.capability));
        }
    }
    return a;
}

void ReadAll(int fd, std::string& into)
{
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        into.append(buf, static_cast<size_t>(n));
    }
}

}  // namespace

std::string KeyRig::ProcessDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp && *tmp ? tmp : "/tmp";
    return base + "/qvk-rig-" + std::to_string(getpid());
}

std::string KeyRig::ReaderName(int n)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "TVR Q.uor Korvo-7Q 00 %02X", n);
    return buf;
}

int KeyRig::RunScript(const std::vector<std::string>& args, std::string* out, std::string* err)
{
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return -1;
    pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        std::vector<char*> argv;
        std::string bash = "bash", script = QVK_KEYRIG_SCRIPT;
        argv.push_back(bash.data());
        argv.push_back(script.data());
        std::vector<std::string> copy = args;
        for (auto& s : copy) argv.push_back(s.data());
        argv.push_back(nullptr);
        execvp("bash", argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    std::string o, e;
    // stderr is read on a thread so that neither pipe can fill up and stall.
    std::thread errReader([&] { ReadAll(errPipe[0], e); });
    ReadAll(outPipe[0], o);
    errReader.join();
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    if (out) *out = o;
    if (err) *err = e;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

KeyRig::KeyRig(std::vector<RigKey> keys) : dir_(ProcessDir())
{
    // Left over from an earlier rig of this process (or a crashed run).
    RunScript({"stop", dir_}, nullptr, nullptr);
    std::filesystem::remove_all(dir_);
    setenv("PCSCLITE_CSOCK_NAME", (dir_ + "/pcscd.comm").c_str(), 1);
    Start(keys);
}

KeyRig::~KeyRig()
{
    Stop();
    if (!std::getenv("QVK_KEEP_RIG")) {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
}

void KeyRig::Start(const std::vector<RigKey>& keys)
{
    std::string out, err;
    int rc = RunScript(StartArgs(dir_, keys), &out, &err);
    if (rc != 0) {
        RunScript({"stop", dir_}, nullptr, nullptr);
        throw std::runtime_error("keyrig start failed (" + std::to_string(rc) + "):\n" + err + out);
    }
    if (out.find("PCSCLITE_CSOCK_NAME=" + dir_ + "/pcscd.comm") == std::string::npos)
        throw std::runtime_error("keyrig start printed no socket for " + dir_ + ":\n" + out);
    running_ = true;
}

void KeyRig::KillEmulator()
{
    std::ifstream in(dir_ + "/keyemu.pid");
    pid_t pid = 0;
    if (!(in >> pid) || pid <= 0) throw std::runtime_error("no keyemu pid in " + dir_);
    kill(pid, SIGKILL);
    for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i) {
        // Gone, or a zombie that is no longer ours to reap.
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        size_t close = line.rfind(") ");
        if (close == std::string::npos || line.compare(close + 2, 1, "Z") == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void KeyRig::Stop()
{
    if (!running_) return;
    running_ = false;
    RunScript({"stop", dir_}, nullptr, nullptr);
}

std::string KeyRig::Control(const std::string& line) const
{
    std::string path = dir_ + "/control.sock";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), std::min(path.size(), sizeof addr.sun_path - 1));
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) close(fd);
        throw std::runtime_error("keyemu control socket not reachable: " + path);
    }
    std::string msg = line + "\n";
    if (write(fd, msg.data(), msg.size()) != static_cast<ssize_t>(msg.size())) {
        close(fd);
        throw std::runtime_error("cannot send to keyemu");
    }
    std::string answer;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        size_t end = answer.size() >= 2 ? answer.rfind('\n', answer.size() - 2) : std::string::npos;
        std::string last = answer.substr(end == std::string::npos ? 0 : end + 1);
        if (!answer.empty() && answer.back() == '\n' && (last == "OK\n" || last.rfind("ERR", 0) == 0)) {
            close(fd);
            if (last != "OK\n") throw std::runtime_error("keyemu: " + line + ": " + last);
            return answer.substr(0, answer.size() - last.size());
        }
        pollfd p{fd, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        char buf[4096];
        ssize_t n = left.count() > 0 && poll(&p, 1, static_cast<int>(left.count())) > 0 ? read(fd, buf, sizeof buf) : 0;
        if (n <= 0) {
            close(fd);
            throw std::runtime_error("keyemu gave no complete answer to: " + line);
        }
        answer.append(buf, static_cast<size_t>(n));
    }
}

bool KeyRig::WaitCard(int n, bool present, int timeoutMs) const
{
    SCARDCONTEXT ctx = 0;
    if (SCardEstablishContext(SCARD_SCOPE_USER, nullptr, nullptr, &ctx) != SCARD_S_SUCCESS) return false;
    std::string name = ReaderName(n);
    SCARD_READERSTATE st{};
    st.szReader = name.c_str();
    st.dwCurrentState = SCARD_STATE_UNAWARE;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool reached = false;
    for (;;) {
        LONG rv = SCardGetStatusChange(ctx, 200, &st, 1);
        if (rv == SCARD_S_SUCCESS) {
            bool isPresent = (st.dwEventState & SCARD_STATE_PRESENT) != 0;
            if (isPresent == present) {
                reached = true;
                break;
            }
            st.dwCurrentState = st.dwEventState & ~SCARD_STATE_CHANGED;
        } else if (rv != SCARD_E_TIMEOUT) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
    }
    SCardReleaseContext(ctx);
    return reached;
}

}  // namespace qvk::e2e
