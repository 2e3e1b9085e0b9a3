// Events through a real syslog socket: a child process gets a private mount
// namespace, puts a datagram listener at /dev/log and runs its body there,
// where the system's syslog(3) writes to that listener.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

namespace syslogsocket {

inline bool WriteFile(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// In the child: a private /dev with a listening socket at /dev/log. An empty
// answer when it is ready (*listener set), else what stood in the way.
inline std::string PrepareNamespace(int* listener)
{
    uid_t uid = getuid();
    gid_t gid = getgid();
    if (unshare(CLONE_NEWNS) != 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("no mount namespace: ") + std::strerror(errno);
        WriteFile("/proc/self/setgroups", "deny");
        if (!WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "cannot map ids in a user namespace";
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("cannot make mounts private: ") + std::strerror(errno);
    if (mount("qvkdev", "/dev", "tmpfs", 0, "mode=0755") != 0)
        return std::string("cannot mount over /dev: ") + std::strerror(errno);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return std::string("cannot bind /dev/log: ") + std::strerror(errno);
    *listener = fd;
    return "";
}

// One datagram, or empty when none came within the time.
inline std::string Receive(int fd, int timeoutMs)
{
    timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[8192];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Runs body(listener) in a child that has the listener at /dev/log; body's
// text comes back here. "SKIP " and the reason when the child could not set
// the listener up. *child gets the child's process id (the one in its
// events).
inline std::string RunInChild(const std::function<std::string(int listener)>& body, pid_t* child = nullptr)
{
    int pipefd[2];
    if (pipe(pipefd) != 0) return "SKIP no pipe";
    const pid_t pid = fork();
    if (pid < 0) return "SKIP no fork";
    if (pid == 0) {
        close(pipefd[0]);
        int fd = -1;
        const std::string problem = PrepareNamespace(&fd);
        const std::string result = problem.empty() ? body(fd) : "SKIP " + problem;
        ssize_t ignored = write(pipefd[1], result.data(), result.size());
        (void)ignored;
        _exit(0);
    }
    close(pipefd[1]);
    std::string output;
    char chunk[4096];
    ssize_t n;
    while ((n = read(pipefd[0], chunk, sizeof chunk)) > 0) output.append(chunk, static_cast<std::size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status)) output = "child ended by signal " + std::to_string(WTERMSIG(status)) + ": " + output;
    if (child != nullptr) *child = pid;
    return output;
}

}  // namespace syslogsocket
