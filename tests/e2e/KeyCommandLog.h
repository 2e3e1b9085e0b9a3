// The rig's command log (DIR/commands.log) as records, and children run in
// their own processes, for the device layer's end-to-end tests.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KeyRig.h"

namespace qvk::e2e {

// One request as the emulated key logged it: the request's command, parameter
// and protection mode, the block size and the status the key answered.
struct LoggedCommand {
    int cmd = 0;
    int par = 0;
    int mode = 0;
    int size = 0;
    int status = 0;
};

// The commands key n has seen, in the order it saw them.
inline std::vector<LoggedCommand> KeyCommandLog(const KeyRig& rig, int key)
{
    std::vector<LoggedCommand> out;
    std::ifstream in(rig.dir() + "/commands.log");
    const std::string tag = " key" + std::to_string(key) + " cmd=";
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(tag);
        if (at == std::string::npos) continue;
        LoggedCommand c;
        if (std::sscanf(line.c_str() + at + tag.size() - 4, "cmd=%d par=0x%x mode=%d size=%d status=%d", &c.cmd,
                        &c.par, &c.mode, &c.size, &c.status) == 5)
            out.push_back(c);
    }
    return out;
}

// Runs body in a child process; Wait gives its exit status (or 200 + signal).
inline pid_t SpawnChild(const std::function<int()>& body, const std::function<void()>& atExit)
{
    const pid_t pid = fork();
    if (pid == 0) {
        const int code = body();
        atExit();
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

}  // namespace qvk::e2e
