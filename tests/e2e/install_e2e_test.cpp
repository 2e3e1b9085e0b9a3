// The installed tree as users get it from `cmake --install --prefix`: the
// layout, no path of the build or source tree in any installed file (the
// dynamic sections read with readelf -d, and every file's bytes), the tree
// moved elsewhere still working against a key (pkcs11-tool and the console),
// and a companion library missing from the module's folder named in the
// system log while C_Initialize fails.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "E2EProcess.h"
#include "KeyRig.h"
#include "SyslogSocket.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

namespace fs = std::filesystem;

const std::string kModuleDir = QVK_INSTALL_MODULEDIR;  // under the prefix
const char* const kLibraries[] = {"pkcs11.qvk7q.so", "km.qvk7q.so", "libwemu.so", "cgbase.so",
                                  "cgext.so",        "cgintl.so",   "pkfmt.so"};

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool Has(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// The value of each dynamic-section entry of the kind, as readelf -d shows it.
std::vector<std::string> DynamicEntries(const fs::path& file, const std::string& kind)
{
    std::string out;
    EXPECT_EQ(RunShell("readelf -d '" + file.string() + "'", &out), 0) << out;
    std::vector<std::string> values;
    for (std::size_t at = 0; (at = out.find("(" + kind + ")", at)) != std::string::npos; ++at) {
        const std::size_t open = out.find('[', at), close = out.find(']', open);
        if (open != std::string::npos && close != std::string::npos)
            values.push_back(out.substr(open + 1, close - open - 1));
    }
    return values;
}

// A fresh prefix of this test process with the tree installed in it.
class InstalledTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string out;
        if (RunShell("command -v readelf", &out) != 0) GTEST_SKIP() << "readelf is not installed (binutils)";
        root_ = KeyRig::ProcessDir() + "-install";
        fs::remove_all(root_);
        fs::create_directories(root_);
        prefix_ = root_ / "usr";
        ASSERT_EQ(RunShell("'" QVK_CMAKE_COMMAND "' --install '" QVK_BINARY_DIR "' --prefix '" + prefix_.string() + "'",
                           &out),
                  0)
            << out;
    }
    void TearDown() override
    {
        std::error_code ec;
        if (!root_.empty()) fs::remove_all(root_, ec);
    }

    fs::path ModuleDir() const { return prefix_ / kModuleDir; }

    fs::path root_;
    fs::path prefix_;
};

TEST_F(InstalledTree, LaysOutTheModuleItsCompanionsTheConsoleAndTheModuleFileWithoutBuildPaths)
{
    for (const char* name : kLibraries) EXPECT_TRUE(fs::is_regular_file(ModuleDir() / name)) << name;
    EXPECT_TRUE(fs::is_regular_file(prefix_ / "bin/qvk7qc"));
    const fs::path moduleFile = prefix_ / "share/p11-kit/modules/qvk7q.module";
    ASSERT_TRUE(fs::is_regular_file(moduleFile));
    EXPECT_TRUE(Has(ReadFile(moduleFile), "\nmodule: " + (ModuleDir() / "pkcs11.qvk7q.so").string() + "\n"))
        << ReadFile(moduleFile);

    // Every library but libwemu.so (which needs none) finds libwemu.so beside
    // it. The console carries an RPATH, not a RUNPATH, to the module folder:
    // the loader searches the program's RPATH for what libwemu.so's
    // LoadLibrary opens by bare name (the key-media library, pkfmt.so).
    for (const char* name : kLibraries) {
        SCOPED_TRACE(name);
        const std::vector<std::string> runpath = DynamicEntries(ModuleDir() / name, "RUNPATH");
        if (std::string(name) == "libwemu.so")
            EXPECT_TRUE(runpath.empty());
        else
            EXPECT_EQ(runpath, std::vector<std::string>{"$ORIGIN"});
        EXPECT_TRUE(DynamicEntries(ModuleDir() / name, "RPATH").empty());
    }
    EXPECT_EQ(DynamicEntries(prefix_ / "bin/qvk7qc", "RPATH"),
              std::vector<std::string>{"$ORIGIN/" + fs::path("../" + kModuleDir).lexically_normal().string()});
    EXPECT_TRUE(DynamicEntries(prefix_ / "bin/qvk7qc", "RUNPATH").empty());
    EXPECT_TRUE(fs::exists(prefix_ / "bin" / ("../" + kModuleDir) / "libwemu.so"));
    const std::vector<std::string> needed = DynamicEntries(ModuleDir() / "pkcs11.qvk7q.so", "NEEDED");
    EXPECT_NE(std::find(needed.begin(), needed.end(), "libwemu.so"), needed.end());

    // No installed file, whatever its kind, carries a path of the build or
    // the source tree.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(prefix_)) {
        if (!entry.is_regular_file()) continue;
        const std::string bytes = ReadFile(entry.path());
        EXPECT_FALSE(Has(bytes, QVK_BINARY_DIR)) << entry.path();
        EXPECT_FALSE(Has(bytes, QVK_SOURCE_DIR)) << entry.path();
    }
}

// The tree moved to another folder after its installation: the module and
// the console find everything by relative paths.
TEST_F(InstalledTree, MovedElsewhereItListsAKeyThroughPkcs11ToolAndTheConsole)
{
    std::string out;
    if (RunShell("command -v pkcs11-tool", &out) != 0) GTEST_SKIP() << "pkcs11-tool is not installed";
    const fs::path moved = root_ / "moved";
    fs::rename(prefix_, moved);
    setenv("WEMU_NAME_PREFIX", ("qvkinstall" + std::to_string(getpid())).c_str(), 1);
    KeyRig rig({RigKey(314159)});

    const std::string module = (moved / kModuleDir / "pkcs11.qvk7q.so").string();
    ASSERT_EQ(RunShell("cd / && pkcs11-tool --module '" + module + "' -L", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Slot 0 (0x0): Q.uor_Korvo-7Q_Slot")) << out;
    EXPECT_TRUE(Has(out, "token not recognized")) << out;

    // From the root folder, so the key-media library can only come from
    // beside libwemu.so.
    ASSERT_EQ(RunShell("cd / && '" + (moved / "bin/qvk7qc").string() + "' check 314159 12345678", &out), 0) << out;
    EXPECT_TRUE(Has(out, "Quor checked successfully")) << out;
    unsetenv("WEMU_NAME_PREFIX");
}

// Each of the libraries the module loads at C_Initialize taken out of a copy
// of the installed folder in turn: C_Initialize answers CKR_FUNCTION_FAILED
// and an error event names the file and the module's folder.
TEST_F(InstalledTree, AMissingCompanionIsNamedInTheSystemLogAndFailsTheStart)
{
    for (const char* missing : {"cgbase.so", "cgext.so", "pkfmt.so"}) {
        SCOPED_TRACE(missing);
        const fs::path folder = root_ / ("without-" + std::string(missing));
        fs::create_directories(folder);
        for (const char* name : kLibraries)
            if (std::string(name) != missing) fs::copy_file(ModuleDir() / name, folder / name);
        const std::string module = (folder / "pkcs11.qvk7q.so").string();
        const std::string output = syslogsocket::RunInChild([&](int fd) {
            void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) return std::string("dlopen: ") + dlerror();
            auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
            CK_FUNCTION_LIST* f = nullptr;
            if (get == nullptr || get(&f) != CKR_OK) return std::string("no function list");
            const CK_RV rv = f->C_Initialize(nullptr);
            std::string events;
            for (std::string event; !(event = syslogsocket::Receive(fd, events.empty() ? 3000 : 300)).empty();)
                events += event + "\n";
            return "rv=" + std::to_string(rv) + "\n" + events;
        });
        if (output.rfind("SKIP ", 0) == 0) GTEST_SKIP() << output.substr(5);
        EXPECT_EQ(output.rfind("rv=" + std::to_string(CKR_FUNCTION_FAILED) + "\n", 0), 0u) << output;
        EXPECT_TRUE(Has(output, " " + std::string(missing) + " ")) << output;
        EXPECT_TRUE(Has(output, folder.string())) << output;
    }
}

}  // namespace
}  // namespace qvk::e2e
