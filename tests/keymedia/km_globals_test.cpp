// The library's lazy globals with the PKI formats stand-in: which versions
// keep its interface, retrying a failed load, and unloading at KMFinalize.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "KMTestSupport.h"

#ifdef QVK_PKFMT_DIR

namespace kmtest {
namespace {

bool FormatsLibraryLoaded()
{
    void* handle = dlopen(QVK_PKFMT_DIR "/pkfmt.so", RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

class KMGlobalsTest : public KMTest {
protected:
    void SetUp() override
    {
        KMTest::SetUp();
        ASSERT_NE(getcwd(oldDirectory_, sizeof(oldDirectory_)), nullptr);
        ASSERT_EQ(chdir(QVK_PKFMT_DIR), 0);
    }
    void TearDown() override
    {
        KMTest::TearDown();
        for (const char* name : {"PKFMT_VERSION", "PKFMT_OPTION_A", "PKFMT_INITIALIZE_RESULT"}) unsetenv(name);
        ASSERT_EQ(chdir(oldDirectory_), 0);
    }
    char oldDirectory_[PATH_MAX] = {};
};

TEST_F(KMGlobalsTest, VersionsAboveTheThresholdAskWhetherToKeepTheInterface)
{
    struct Case {
        const char* version;
        const char* optionA;
        bool kept;
    };
    const Case cases[] = {
        {"264", "1", true},   // not asked at all
        {"265", "1", false},  // asked, and it refuses
        {"265", "0", true},
        {"0x200", "1", false},
        {"fail", "1", true},  // no version: kept without asking
    };
    for (const Case& c : cases) {
        setenv("PKFMT_VERSION", c.version, 1);
        setenv("PKFMT_OPTION_A", c.optionA, 1);
        char name[64];
        ASSERT_EQ(KMEnumDeviceTypes(0, name), KM_OK);
        EXPECT_EQ(qvkkm::PKIFormatsInterface() != nullptr, c.kept) << c.version << "/" << c.optionA;
        EXPECT_EQ(FormatsLibraryLoaded(), c.kept) << c.version << "/" << c.optionA;
        KMFinalize();
        EXPECT_EQ(qvkkm::PKIFormatsInterface(), nullptr);
        EXPECT_FALSE(FormatsLibraryLoaded()) << "released at KMFinalize";
    }
}

TEST_F(KMGlobalsTest, AFailedStartIsRetriedAndLeavesNoReferenceBehind)
{
    setenv("PKFMT_INITIALIZE_RESULT", "3", 1);
    Device first = FullKey();
    ASSERT_TRUE(first);
    EXPECT_EQ(qvkkm::PKIFormatsInterface(), nullptr);
    EXPECT_NE(qvkkm::WrongPasswordCache(), nullptr) << "the cache does not depend on it";
    Device second = FullKey();
    EXPECT_EQ(qvkkm::PKIFormatsInterface(), nullptr);

    setenv("PKFMT_INITIALIZE_RESULT", "0", 1);
    Device third = FullKey();
    EXPECT_NE(qvkkm::PKIFormatsInterface(), nullptr) << "tried again";
    KMFinalize();
    EXPECT_FALSE(FormatsLibraryLoaded()) << "one release balances the one counted start";

    // Exports after KMFinalize bring both globals back.
    Device fourth = FullKey();
    EXPECT_NE(qvkkm::WrongPasswordCache(), nullptr);
    EXPECT_NE(qvkkm::PKIFormatsInterface(), nullptr);
}

}  // namespace
}  // namespace kmtest

#endif
