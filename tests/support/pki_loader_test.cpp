#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

#include "support/PKIFormats.h"

namespace {

class PKILoader : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedDirectory_ = cwd;
        char pattern[] = "/tmp/qvk_pkfmt_log_XXXXXX";
        int fd = mkstemp(pattern);
        ASSERT_GE(fd, 0);
        close(fd);
        log_ = pattern;
        setenv("QVK_PKFMT_LOG", log_.c_str(), 1);
        unsetenv("QVK_PKFMT_INIT_RESULT");
    }
    void TearDown() override
    {
        // Leave nothing loaded for the next test in this process.
        for (int i = 0; i < 4; ++i) ReleasePKILibrary();
        EXPECT_EQ(chdir(savedDirectory_.c_str()), 0);
        unlink(log_.c_str());
    }
    static bool Loaded(const char* dir)
    {
        std::string path = std::string(dir) + "/pkfmt.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle == nullptr) return false;
        dlclose(handle);
        return true;
    }
    std::string Log() const
    {
        std::ifstream in(log_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string savedDirectory_;
    std::string log_;
};

}  // namespace

TEST_F(PKILoader, CountsUsersAndUnloadsAtLastRelease)
{
    ASSERT_EQ(chdir(QVK_PKFMT_FULL_DIR), 0);
    void* pki = nullptr;
    EXPECT_EQ(GetPKIInterface(&pki), PKI_LIBRARY_NOT_LOADED);
    EXPECT_EQ(ReleasePKILibrary(), 0);
    EXPECT_FALSE(Loaded(QVK_PKFMT_FULL_DIR));

    ASSERT_EQ(AcquirePKILibrary(), 0);
    EXPECT_TRUE(Loaded(QVK_PKFMT_FULL_DIR));
    ASSERT_EQ(AcquirePKILibrary(), 0);
    ASSERT_EQ(GetPKIInterface(&pki), 0);
    EXPECT_NE(pki, nullptr);
    EXPECT_EQ(Log(), "IIG");
    EXPECT_EQ(ReleasePKILibrary(), 0);
    EXPECT_TRUE(Loaded(QVK_PKFMT_FULL_DIR));
    EXPECT_EQ(Log(), "IIG");
    // The last release returns PKIFinalize's own result and unloads.
    EXPECT_EQ(ReleasePKILibrary(), 17);
    EXPECT_EQ(Log(), "IIGF");
    EXPECT_FALSE(Loaded(QVK_PKFMT_FULL_DIR));
    EXPECT_EQ(GetPKIInterface(&pki), PKI_LIBRARY_NOT_LOADED);
    EXPECT_EQ(ReleasePKILibrary(), 0);
    EXPECT_EQ(Log(), "IIGF");
}

TEST_F(PKILoader, FailedInitializeStillCounts)
{
    ASSERT_EQ(chdir(QVK_PKFMT_FULL_DIR), 0);
    setenv("QVK_PKFMT_INIT_RESULT", "9", 1);
    EXPECT_EQ(AcquirePKILibrary(), 9);
    EXPECT_TRUE(Loaded(QVK_PKFMT_FULL_DIR));
    EXPECT_EQ(ReleasePKILibrary(), 17);
    EXPECT_FALSE(Loaded(QVK_PKFMT_FULL_DIR));
    EXPECT_EQ(Log(), "IF");
}

TEST_F(PKILoader, MissingLibraryOrEntryPoint)
{
    char empty[] = "/tmp/qvk_pkfmt_none_XXXXXX";
    ASSERT_NE(mkdtemp(empty), nullptr);
    ASSERT_EQ(chdir(empty), 0);
    EXPECT_EQ(AcquirePKILibrary(), PKI_LIBRARY_MISSING);
    void* pki = nullptr;
    EXPECT_EQ(GetPKIInterface(&pki), PKI_LIBRARY_NOT_LOADED);
    EXPECT_EQ(chdir("/"), 0);
    rmdir(empty);

    // A library without PKIFinalize is unloaded at once, without any call.
    ASSERT_EQ(chdir(QVK_PKFMT_NOFINALIZE_DIR), 0);
    EXPECT_EQ(AcquirePKILibrary(), PKI_LIBRARY_MISSING);
    EXPECT_FALSE(Loaded(QVK_PKFMT_NOFINALIZE_DIR));
    EXPECT_EQ(GetPKIInterface(&pki), PKI_LIBRARY_NOT_LOADED);
    EXPECT_EQ(ReleasePKILibrary(), 0);
    EXPECT_EQ(Log(), "");

    // The count was left unchanged: one acquire of a good library, one release.
    ASSERT_EQ(chdir(QVK_PKFMT_FULL_DIR), 0);
    ASSERT_EQ(AcquirePKILibrary(), 0);
    EXPECT_EQ(ReleasePKILibrary(), 17);
    EXPECT_FALSE(Loaded(QVK_PKFMT_FULL_DIR));
}
