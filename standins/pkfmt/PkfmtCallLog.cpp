#include "PkfmtCallLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace pkfmt {

namespace {
thread_local int t_callsInProgress = 0;
}  // namespace

CallScope::CallScope(const char* kind, int operation, long first, long second)
{
    if (t_callsInProgress++ == 0) LogCall(kind, operation, first, second);
}

CallScope::~CallScope()
{
    --t_callsInProgress;
}

void LogCall(const char* kind, int operation, long first, long second)
{
    const char* path = std::getenv("PKFMT_CALL_LOG");
    if (path == nullptr || *path == '\0') return;
    char line[128];
    int length;
    if (second >= 0)
        length = std::snprintf(line, sizeof line, "%s %d %ld %ld\n", kind, operation, first, second);
    else if (first >= 0)
        length = std::snprintf(line, sizeof line, "%s %d %ld\n", kind, operation, first);
    else
        length = std::snprintf(line, sizeof line, "%s %d\n", kind, operation);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof line) return;
    // One write per line on an appending descriptor: lines from several
    // threads or processes never interleave.
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    [[maybe_unused]] const ssize_t written = write(fd, line, static_cast<std::size_t>(length));
    close(fd);
}

}  // namespace pkfmt
