// What the CSP's and the CSPI's bindings of the cg libraries have in common:
// runs of names that stand in both ordered name lists, and the loading of a
// pair of libraries with every required name bound.
#ifndef QVK_CSP_CGLIBRARIES_H
#define QVK_CSP_CGLIBRARIES_H

#include <cstddef>

#include "wemu.h"

// The generator's first four names, as both lists order them.
#define QVK_CG_PSEUDO_RNG_NAMES                                                                                        \
    "DSTU4145PseudoRNGSelfTest", "DSTU4145PseudoRNGInitialize", "DSTU4145PseudoRNGDeinitialize",                       \
        "DSTU4145PseudoRNGGenerateSequence"

// The GOST 28147 and GOST 34.311 names, as both lists order them.
#define QVK_CG_GOST_NAMES                                                                                              \
    "GOST28147SelfTest", "GOST28147AcquireState", "GOST28147ReleaseState", "GOST28147SetStateParameters",              \
        "GOST28147GetStateParameters", "GOST28147EncryptDataSSMode", "GOST28147DecryptDataSSMode",                     \
        "GOST28147EncryptDataGMode", "GOST28147EncryptDataGOFBMode", "GOST28147DecryptDataGOFBMode",                   \
        "GOST28147GetDataMAC", "GOST34311SelfTest", "GOST34311AcquireState", "GOST34311ReleaseState",                  \
        "GOST34311SetStateParameters", "GOST34311GetStateParameters", "GOST34311HashData", "GOST34311FinalizeHash"

namespace cglibraries {

// One library by its file name, with the names that must all be bound.
struct Required {
    const char* file;
    const char* const* names;
    std::size_t count;
    FARPROC* entries;
};

// Loads first and then second and binds every name of each. On success both
// handles are set and the answer is true. Otherwise nothing stays loaded,
// both handles are null, and when the second library lacked a name,
// *missingInSecond is the index of the first it lacked (it is left alone on
// every other failure).
bool LoadPair(const Required& first, const Required& second, HMODULE* firstModule, HMODULE* secondModule,
              std::size_t* missingInSecond);

}  // namespace cglibraries

#endif
