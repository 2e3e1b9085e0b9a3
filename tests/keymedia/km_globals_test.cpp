// The library's lazy globals with the PKI formats stand-in: which versions
// keep its interface, retrying a failed load, and unloading at KMFinalize.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "KMTestSupport.h"
#include "PkfmtCalls.h"

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
        {"264", "1", true},                                               // not asked at all
        {"265", "1", false},                                              // asked, and it refuses
        {"265", "0", true},  {"0x200", "1", false}, {"fail", "1", true},  // no version: kept without asking
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

// The loader's calls as the formats library sees them: its start, its
// interface, the version, operation 33 above version 264, and the finish at
// the last release.
TEST_F(KMGlobalsTest, StartAndFinishCallTheFormatsLibraryInOrder)
{
    const std::vector<std::string> start = {"PKIInitialize 0", "PKIGetInterface 0", "pki 3"};
    struct Case {
        const char* version;
        const char* optionA;
        std::vector<std::string> atStart;
        std::vector<std::string> atFinalize;
    };
    const Case cases[] = {
        {"264", "1", start, {"PKIFinalize 0"}},
        {"265", "0", {"PKIInitialize 0", "PKIGetInterface 0", "pki 3", "pki 33"}, {"PKIFinalize 0"}},
        // Refused: released at once, tried again by the next export, and
        // nothing left for KMFinalize.
        {"265",
         "1",
         {"PKIInitialize 0", "PKIGetInterface 0", "pki 3", "pki 33", "PKIFinalize 0", "PKIInitialize 0",
          "PKIGetInterface 0", "pki 3", "pki 33", "PKIFinalize 0"},
         {}},
    };
    for (const Case& c : cases) {
        setenv("PKFMT_VERSION", c.version, 1);
        setenv("PKFMT_OPTION_A", c.optionA, 1);
        pkfmtcalls::CallLog log;
        char name[64];
        ASSERT_EQ(KMEnumDeviceTypes(0, name), KM_OK);
        ASSERT_EQ(KMEnumDeviceTypes(1, name), KM_OK);
        EXPECT_EQ(pkfmtcalls::Joined(log.Take(true)), pkfmtcalls::Joined(c.atStart)) << c.version << "/" << c.optionA;
        KMFinalize();
        EXPECT_EQ(pkfmtcalls::Joined(log.Take(true)), pkfmtcalls::Joined(c.atFinalize))
            << c.version << "/" << c.optionA;
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
