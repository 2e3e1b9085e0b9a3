// Events through a real syslog socket: a child process gets a private mount
// namespace, puts a datagram listener at /dev/log and logs through the
// system's syslog(3).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/SystemLog.h"

namespace {

// "ТВР Квор Корво-7Ф" in Windows-1251 and in UTF-8.
const char kSourceCp1251[] = "\xD2\xC2\xD0 \xCA\xE2\xEE\xF0 \xCA\xEE\xF0\xE2\xEE-7\xD4";
const char kSourceUtf8[] = "\xD0\xA2\xD0\x92\xD0\xA0 \xD0\x9A\xD0\xB2\xD0\xBE\xD1\x80 "
                           "\xD0\x9A\xD0\xBE\xD1\x80\xD0\xB2\xD0\xBE-7\xD0\xA4";

bool WriteFile(const char* path, const std::string& text)
{
    int fd = open(path, O_WRONLY);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// In the child: a private /dev with a listening socket at /dev/log.
std::string PrepareNamespace(int* listener)
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

std::string Receive(int fd, int timeoutMs)
{
    timeval tv = {timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buffer[8192];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

// Runs the events in the child; returns "SKIP ..." or the records, each as
// "<result>|<datagram>" separated by NULs.
std::string RunEvents()
{
    int fd = -1;
    std::string problem = PrepareNamespace(&fd);
    if (!problem.empty()) return "SKIP " + problem;
    std::string out;
    auto record = [&](int result, int timeoutMs) {
        out += std::to_string(result) + "|" + Receive(fd, timeoutMs);
        out.push_back('\0');
    };
    record(SystemLogReport(kSourceCp1251, "first line\nsecond line", SYSTEM_LOG_ERROR, 0), 2000);
    record(SystemLogReport(kSourceCp1251, "warned", SYSTEM_LOG_WARNING, 65001), 2000);
    record(SystemLogReport(kSourceCp1251, "100%s done %d %n", SYSTEM_LOG_INFORMATION, 0), 2000);
    record(SystemLogReport(kSourceCp1251, "nothing", 0, 0), 300);
    std::string cyrillic(1100, '\xC6');  // 1,100 letters "Ж": 2,200 bytes in UTF-8
    record(SystemLogReport("src", cyrillic.c_str(), SYSTEM_LOG_ERROR, 0), 2000);
    std::string longSource(300, 'S');
    record(SystemLogReport(longSource.c_str(), "short", SYSTEM_LOG_ERROR, 0), 2000);

    // Concurrent events keep their own identities. The socket queue is short,
    // so a reader drains it while the writers run.
    int mixed = 0;
    std::thread reader([&] {
        for (int i = 0; i < 80; ++i) {
            std::string datagram = Receive(fd, 5000);
            bool fromA = datagram.find("ident-a[") != std::string::npos;
            bool saysA = datagram.find("from ident-a") != std::string::npos;
            bool fromB = datagram.find("ident-b[") != std::string::npos;
            bool saysB = datagram.find("from ident-b") != std::string::npos;
            if (!((fromA && saysA) || (fromB && saysB))) ++mixed;
        }
    });
    auto burst = [](const char* source, const char* message) {
        for (int i = 0; i < 40; ++i) SystemLogReport(source, message, SYSTEM_LOG_INFORMATION, 0);
    };
    std::thread a(burst, "ident-a", "from ident-a");
    std::thread b(burst, "ident-b", "from ident-b");
    a.join();
    b.join();
    reader.join();
    out += "mixed=" + std::to_string(mixed);
    out.push_back('\0');
    return out;
}

}  // namespace

TEST(SystemLog, ConvertCodePage)
{
    char buffer[64];
    ASSERT_EQ(ConvertCodePage(kSourceCp1251, 0, buffer, sizeof buffer, 65001), 1);
    EXPECT_STREQ(buffer, kSourceUtf8);
    // Exactly fitting, one byte short, null pointers.
    std::size_t needed = std::strlen(kSourceUtf8) + 1;
    EXPECT_EQ(ConvertCodePage(kSourceCp1251, 0, buffer, static_cast<unsigned>(needed), 65001), 1);
    EXPECT_EQ(ConvertCodePage(kSourceCp1251, 0, buffer, static_cast<unsigned>(needed - 1), 65001), 0);
    EXPECT_EQ(ConvertCodePage(nullptr, 0, buffer, sizeof buffer, 65001), 0);
    EXPECT_EQ(ConvertCodePage(kSourceCp1251, 0, nullptr, sizeof buffer, 65001), 0);
    // In place, back to Windows-1251.
    EXPECT_EQ(ConvertCodePage(buffer, 65001, buffer, sizeof buffer, 0), 1);
    EXPECT_STREQ(buffer, kSourceCp1251);
}

TEST(SystemLog, EventsReachTheSyslogSocket)
{
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(pipefd[0]);
        std::string result = RunEvents();
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
    ASSERT_TRUE(WIFEXITED(status));
    if (output.rfind("SKIP ", 0) == 0) GTEST_SKIP() << output.substr(5);

    std::vector<std::string> records;
    for (std::size_t start = 0, end; (end = output.find('\0', start)) != std::string::npos; start = end + 1)
        records.push_back(output.substr(start, end - start));
    ASSERT_EQ(records.size(), 7u);
    const std::string prefix = std::string(kSourceUtf8) + "[" + std::to_string(pid) + "]: ";

    EXPECT_EQ(records[0].rfind("1|<27>", 0), 0u) << records[0];
    EXPECT_NE(records[0].find(prefix + "first line second line"), std::string::npos) << records[0];
    EXPECT_EQ(records[1].rfind("1|<28>", 0), 0u) << records[1];
    EXPECT_NE(records[1].find(prefix + "warned"), std::string::npos) << records[1];
    EXPECT_EQ(records[2].rfind("1|<30>", 0), 0u) << records[2];
    EXPECT_NE(records[2].find(prefix + "100%s done %d %n"), std::string::npos) << records[2];
    EXPECT_EQ(records[3], "1|");  // unknown event type: handled, nothing logged

    // The long Cyrillic message is cut at a letter boundary: 1,024 letters.
    EXPECT_EQ(records[4].rfind("1|<27>", 0), 0u);
    std::string letters;
    for (int i = 0; i < 1024; ++i) letters += "\xD0\x96";
    std::string tail = "src[" + std::to_string(pid) + "]: " + letters;
    ASSERT_GE(records[4].size(), tail.size());
    EXPECT_EQ(records[4].substr(records[4].size() - tail.size()), tail);

    EXPECT_NE(records[5].find(std::string(256, 'S') + "[" + std::to_string(pid) + "]: short"), std::string::npos);
    EXPECT_EQ(records[5].find(std::string(257, 'S')), std::string::npos);

    EXPECT_EQ(records[6], "mixed=0");
}
