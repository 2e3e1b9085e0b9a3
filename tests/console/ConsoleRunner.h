// Runs the console as a user would: a fresh process in a chosen folder, its
// standard output captured, its exit status returned.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace consoletest {

struct ConsoleRun {
    std::string out;
    int status;
};

// env: variables set in the child only.
inline ConsoleRun RunConsole(const std::string& program, const std::string& folder, std::vector<std::string> args,
                             const std::vector<std::pair<std::string, std::string>>& env = {})
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {"", -1};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], 1);
        close(pipeFds[0]);
        close(pipeFds[1]);
        if (chdir(folder.c_str()) != 0) _exit(100);
        for (auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>("qvk7qc")};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(101);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The console's fixed texts.
inline const std::string kPrefix = "Quor Korvo-7Q Configuration: ";
inline const std::string kTypeName = "\xea\xe2\xee\xf0 \xd2\xc2\xd0 \xca\xee\xf0\xe2\xee-7\xd4";

}  // namespace consoletest
