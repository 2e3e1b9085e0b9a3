// A real PKCS#11 client, OpenSC's pkcs11-tool, loads the built module from
// the distribution folder, against an emulated key behind a real pcscd, and
// prints what the module says about itself and its slot.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "KeyRig.h"

namespace {

using qvk::e2e::KeyRig;
using qvk::e2e::RigKey;

// Runs a shell command; its standard output and error, and its exit status.
int RunShell(const std::string& command, std::string* output)
{
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output->append(buffer.data(), n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(Pkcs11ToolE2E, PrintsTheModuleInformation)
{
    std::string where;
    if (RunShell("command -v pkcs11-tool", &where) != 0)
        GTEST_SKIP() << "pkcs11-tool is not installed (scripts/install-deps)";
    setenv("WEMU_NAME_PREFIX", ("qvkp11tool" + std::to_string(getpid())).c_str(), 1);
    KeyRig rig({RigKey(4321)});
    std::string out;
    const int status = RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -I", &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Cryptoki version 2.20"), std::string::npos) << out;
    EXPECT_NE(out.find("Manufacturer     JSC_TVR"), std::string::npos) << out;
    EXPECT_NE(out.find("Library          Q.uor_Korvo-7Q_Library (ver 1.0)"), std::string::npos) << out;

    out.clear();
    EXPECT_EQ(RunShell(std::string("pkcs11-tool --module ") + QVK_PKCS11_MODULE + " -L", &out), 0) << out;
    EXPECT_NE(out.find("Q.uor_Korvo-7Q_Slot"), std::string::npos) << out;
}

}  // namespace
