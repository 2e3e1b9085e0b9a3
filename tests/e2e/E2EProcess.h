// Children run in their own processes for the end-to-end tests, the pipes
// that hold a child at a point or pass bytes back from it, and shell commands
// (the real clients) run with their output caught.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace qvk::e2e {

// Runs body in a child process, then atExit (when given) before the child
// leaves; WaitChild gives its exit status (or 200 + signal).
inline pid_t SpawnChild(const std::function<int()>& body, const std::function<void()>& atExit = {})
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int code = body();
        if (atExit) atExit();
        std::fflush(nullptr);
        _exit(code);
    }
    return pid;
}

inline int WaitChild(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return 255;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 200 + WTERMSIG(status);
}

// Runs a shell command: its exit status (-1 when it did not exit), and its
// standard output and error together in *output.
inline int RunShell(const std::string& command, std::string* output)
{
    output->clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output->append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline int RunChild(const std::function<int()>& body, const std::function<void()>& atExit = {})
{
    return WaitChild(SpawnChild(body, atExit));
}

// Holds a child at a point until the parent lets it go on.
struct Gate {
    int ready[2];
    int go[2];
    Gate()
    {
        EXPECT_EQ(pipe(ready), 0);
        EXPECT_EQ(pipe(go), 0);
    }
    void SignalReady() { EXPECT_EQ(write(ready[1], "r", 1), 1); }
    bool WaitReady()
    {
        char c;
        return read(ready[0], &c, 1) == 1;
    }
    void Release() { EXPECT_EQ(write(go[1], "g", 1), 1); }
    void WaitRelease()
    {
        char c;
        EXPECT_EQ(read(go[0], &c, 1), 1);
    }
};

// Holds a child at a point, and passes bytes back from it.
struct Channel {
    int up[2];
    int down[2];
    Channel()
    {
        EXPECT_EQ(pipe(up), 0);
        EXPECT_EQ(pipe(down), 0);
    }
    bool Send(const void* data, size_t n) { return write(up[1], data, n) == static_cast<ssize_t>(n); }
    bool Receive(void* data, size_t n)
    {
        size_t got = 0;
        while (got < n) {
            const ssize_t r = read(up[0], static_cast<uint8_t*>(data) + got, n - got);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    void Release() { EXPECT_EQ(write(down[1], "g", 1), 1); }
    bool WaitRelease()
    {
        char c;
        return read(down[0], &c, 1) == 1;
    }
};

}  // namespace qvk::e2e
