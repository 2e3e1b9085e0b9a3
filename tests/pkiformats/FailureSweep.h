// The failure sweep of the facade's tests: an operation family runs once to
// count its library calls, then once for each call with that call failing
// (and, in a second pass, throwing). Nothing may stay behind: no live
// object, no unfreed blob, no blob freed with its bytes still in it; and,
// when every step is one the family cannot do without, it answers 0.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace fake {

// run: runs the operations; returns their result and releases what they
// handed out.
inline void SweepFailures(const std::string& name, const std::function<int(SPKIFormats&, Library&)>& run,
                          bool everyStepNeeded)
{
    int calls = 0;
    {
        Library lib;
        lib.requireWipe = true;
        SPKIFormats f(nullptr, nullptr, &lib);
        ASSERT_EQ(run(f, lib), 1) << name;
        calls = lib.Calls();
        EXPECT_EQ(lib.LiveBlobs(), 0u) << name;
    }
    ASSERT_GT(calls, 0) << name;
    for (bool throws : {false, true}) {
        for (int k = 1; k <= calls; ++k) {
            Library lib;
            lib.requireWipe = true;
            SPKIFormats f(nullptr, nullptr, &lib);
            lib.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
            int rc = 0;
            EXPECT_NO_THROW(rc = run(f, lib)) << name << " k=" << k;
            std::string where = name + " k=" + std::to_string(k) + (throws ? " throw" : "");
            EXPECT_EQ(lib.LiveObjects(), 0) << where;
            EXPECT_EQ(lib.LiveBlobs(), 0u) << where;
            EXPECT_EQ(lib.doubleReleases, 0) << where;
            EXPECT_EQ(lib.unwipedFrees, 0) << where;
            // Every call but a release is a step the operation needs.
            const std::string& failed = lib.log[static_cast<std::size_t>(k - 1)];
            bool release = failed.find(":7(") != std::string::npos || failed.find(":1(") != std::string::npos;
            if (!release && everyStepNeeded) {
                EXPECT_EQ(rc, 0) << where << " failed " << failed;
            }
        }
    }
}

}  // namespace fake
