// Export and test-switch helpers of the stand-in cgbase.so and cgext.so.
#ifndef QVK_STANDINS_CGLIB_CGEXPORT_H
#define QVK_STANDINS_CGLIB_CGEXPORT_H

#include <type_traits>

#include "cgapi/CSPLibraryFunctions.h"

#define CG_EXPORT extern "C" __attribute__((visibility("default")))

// Checks an export against the calling shape the provider binds it with.
#define CG_SHAPE(name, type) static_assert(std::is_same_v<decltype(&name), type>, #name " has the wrong shape")

namespace cglib {

// Test switch: when the environment variable QVK_CGLIB_FAIL names this
// function (a comma-separated list; "*" names every one), the function
// reports failure. Read on every call so a test can flip it at will.
bool InjectedFailure(const char* name);

}  // namespace cglib

#endif
