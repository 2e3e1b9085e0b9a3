// The calls a test's code makes into the PKI formats stand-in, read from the
// stand-in's call log (PKFMT_CALL_LOG): one "<object> <operation> [ids]" line
// per call.
#ifndef QVK_TESTS_KEYMEDIA_PKFMTCALLS_H
#define QVK_TESTS_KEYMEDIA_PKFMTCALLS_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace pkfmtcalls {

// Logs the stand-in's calls to a file of its own while it lives.
class CallLog {
public:
    CallLog()
    {
        char name[] = "/tmp/qvk-pkfmt-calls-XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        if (fd >= 0) close(fd);
        path_ = name;
        setenv("PKFMT_CALL_LOG", path_.c_str(), 1);
    }
    ~CallLog()
    {
        unsetenv("PKFMT_CALL_LOG");
        unlink(path_.c_str());
    }
    CallLog(const CallLog&) = delete;
    CallLog& operator=(const CallLog&) = delete;

    // The calls logged since the last Take, without releases (operation 1)
    // unless asked for.
    std::vector<std::string> Take(bool withReleases = false)
    {
        std::vector<std::string> lines;
        if (FILE* f = std::fopen(path_.c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, f) != nullptr) {
                std::string text(line);
                if (!text.empty() && text.back() == '\n') text.pop_back();
                const bool release =
                    text.size() > 2 && text.compare(text.size() - 2, 2, " 1") == 0 && text.find(' ') == text.size() - 2;
                if (withReleases || !release) lines.push_back(text);
            }
            std::fclose(f);
        }
        if (FILE* f = std::fopen(path_.c_str(), "w")) std::fclose(f);
        return lines;
    }

private:
    std::string path_;
};

// One call a line, for comparisons whose failures show both lists.
inline std::string Joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines) all += l + "\n";
    return all;
}

}  // namespace pkfmtcalls

#endif
