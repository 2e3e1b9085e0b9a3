// Helpers shared by the Win32 layer tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace wemu_test {

// Gives every test its own object names, so tests run side by side (and
// leftovers of a crashed run) never meet.
class HermeticNames : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string prefix = std::string(info->name()) + "." + std::to_string(getpid()) + ".";
        setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
        unsetenv("WEMU_REFUSE_GLOBAL");
        unsetenv("WEMU_FAIL");
    }
    void TearDown() override
    {
        unsetenv("WEMU_NAME_PREFIX");
        unsetenv("WEMU_REFUSE_GLOBAL");
        unsetenv("WEMU_FAIL");
    }
};

// Runs `body` in a forked child; its result is the child's exit status.
inline pid_t startChild(const std::function<int()>& body)
{
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
}

inline int finishChild(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

inline int runChild(const std::function<int()>& body)
{
    return finishChild(startChild(body));
}

// A pipe for "I got this far" messages between parent and child.
struct Signal {
    int fds[2] = {-1, -1};
    Signal() { EXPECT_EQ(pipe(fds), 0); }
    ~Signal()
    {
        close(fds[0]);
        close(fds[1]);
    }
    void post() const
    {
        char c = 1;
        (void)!write(fds[1], &c, 1);
    }
    // False when nothing came within the time (the other side died).
    bool await(int milliseconds = 20000) const
    {
        struct pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, milliseconds) != 1) return false;
        char c;
        return read(fds[0], &c, 1) == 1;
    }
};

}  // namespace wemu_test
