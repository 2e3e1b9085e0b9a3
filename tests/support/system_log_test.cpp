// Events through a real syslog socket: a child process gets a private mount
// namespace, puts a datagram listener at /dev/log and logs through the
// system's syslog(3).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "SyslogSocket.h"
#include "support/SystemLog.h"

namespace {

// "ТВР Квор Корво-7Ф" in Windows-1251 and in UTF-8.
const char kSourceCp1251[] = "\xD2\xC2\xD0 \xCA\xE2\xEE\xF0 \xCA\xEE\xF0\xE2\xEE-7\xD4";
const char kSourceUtf8[] = "\xD0\xA2\xD0\x92\xD0\xA0 \xD0\x9A\xD0\xB2\xD0\xBE\xD1\x80 "
                           "\xD0\x9A\xD0\xBE\xD1\x80\xD0\xB2\xD0\xBE-7\xD0\xA4";

using syslogsocket::Receive;

// Runs the events in the child; returns the records, each as
// "<result>|<datagram>" separated by NULs.
std::string RunEvents(int fd)
{
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
    pid_t pid = 0;
    const std::string output = syslogsocket::RunInChild(RunEvents, &pid);
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

// A library that cannot be loaded is named with the folder looked in first
// and the loader's reason; one that loads logs nothing.
TEST(SystemLog, ALibraryThatCannotBeLoadedIsNamed)
{
    pid_t pid = 0;
    const std::string output = syslogsocket::RunInChild(
        [](int fd) {
            if (chdir("/tmp") != 0) return std::string("chdir failed");
            std::string out = LoadLibraryOrReport("qvk-no-such-library.so") == nullptr ? "missing|" : "loaded|";
            out += Receive(fd, 2000);
            out.push_back('\0');
            out += LoadLibraryOrReport("libc.so.6") != nullptr ? "loaded|" : "missing|";
            out += Receive(fd, 300);
            return out;
        },
        &pid);
    if (output.rfind("SKIP ", 0) == 0) GTEST_SKIP() << output.substr(5);
    const std::size_t split = output.find('\0');
    ASSERT_NE(split, std::string::npos) << output;
    const std::string missing = output.substr(0, split);
    // "Не вдалося завантажити бібліотеку" in UTF-8.
    const std::string cannotLoad =
        "\xD0\x9D\xD0\xB5 \xD0\xB2\xD0\xB4\xD0\xB0\xD0\xBB\xD0\xBE\xD1\x81\xD1\x8F "
        "\xD0\xB7\xD0\xB0\xD0\xB2\xD0\xB0\xD0\xBD\xD1\x82\xD0\xB0\xD0\xB6\xD0\xB8\xD1\x82\xD0\xB8 "
        "\xD0\xB1\xD1\x96\xD0\xB1\xD0\xBB\xD1\x96\xD0\xBE\xD1\x82\xD0\xB5\xD0\xBA\xD1\x83 ";
    EXPECT_EQ(missing.rfind("missing|<27>", 0), 0u) << missing;
    EXPECT_NE(missing.find(std::string(kSourceUtf8) + "[" + std::to_string(pid) + "]: " + cannotLoad +
                           "qvk-no-such-library.so"),
              std::string::npos)
        << missing;
    EXPECT_NE(missing.find("/tmp: "), std::string::npos) << "the folder looked in first: " << missing;
    EXPECT_NE(missing.find("qvk-no-such-library.so: cannot open shared object file"), std::string::npos)
        << "the loader's reason: " << missing;
    EXPECT_EQ(output.substr(split + 1), "loaded|");
}
