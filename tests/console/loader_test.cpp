// The console's loader of the key-media library: its operations keep their
// slots (1 + byte offset in the table under the Itanium C++ ABI), and binding
// follows the library's exports.
#include <gtest/gtest.h>

#include <string>

#include "VirtualSlot.h"
#include "console/KMQuorKorvo7Q.h"

namespace {

using qvktest::SlotOf;

TEST(ConsoleLoader, OperationsKeepTheirSlots)
{
    EXPECT_EQ(SlotOf(&KMQuorKorvo7Q::Load), 0);
    EXPECT_EQ(SlotOf(&KMQuorKorvo7Q::Unload), 1);
    EXPECT_EQ(SlotOf(&KMQuorKorvo7Q::LoadFrom), 2);
}

TEST(ConsoleLoader, BindsByExportsAndUnloadsOnce)
{
    const std::string root = FAKEKM_ROOT;
    {
        KMQuorKorvo7Q loader;
        ASSERT_EQ(loader.LoadFrom((root + "/full/km.qvk7q.so").c_str()), 1);
        EXPECT_NE(loader.enumDeviceTypes, nullptr);
        EXPECT_NE(loader.getInterface, nullptr);
        EXPECT_NE(loader.finalize, nullptr);
        HMODULE bound = loader.library;
        EXPECT_EQ(loader.LoadFrom((root + "/nofinalize/km.qvk7q.so").c_str()), 1) << "already bound";
        EXPECT_EQ(loader.library, bound);
        loader.Unload();
        EXPECT_EQ(loader.library, nullptr);
        EXPECT_EQ(loader.finalize, nullptr);
        loader.Unload();
    }
    KMQuorKorvo7Q noFinalize;
    ASSERT_EQ(noFinalize.LoadFrom((root + "/nofinalize/km.qvk7q.so").c_str()), 1);
    EXPECT_EQ(noFinalize.finalize, nullptr);

    KMQuorKorvo7Q noInterface;
    EXPECT_EQ(noInterface.LoadFrom((root + "/nointerface/km.qvk7q.so").c_str()), 0);
    EXPECT_EQ(noInterface.library, nullptr);
}

}  // namespace
