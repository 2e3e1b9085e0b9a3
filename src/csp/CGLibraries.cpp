#include "csp/CGLibraries.h"

#include "support/SystemLog.h"

namespace cglibraries {

namespace {

// Binds every name (all are looked up, even after a miss); answers the index
// of the first the module lacks, or count.
std::size_t BindAll(HMODULE module, const Required& library)
{
    std::size_t missing = library.count;
    for (std::size_t i = 0; i < library.count; ++i) {
        library.entries[i] = GetProcAddress(module, library.names[i]);
        if (library.entries[i] == nullptr && missing == library.count) missing = i;
    }
    return missing;
}

}  // namespace

bool LoadPair(const Required& first, const Required& second, HMODULE* firstModule, HMODULE* secondModule,
              std::size_t* missingInSecond)
{
    *firstModule = LoadLibraryOrReport(first.file);
    if (*firstModule == nullptr) return false;
    if (BindAll(*firstModule, first) != first.count) {
        FreeLibrary(*firstModule);
        *firstModule = nullptr;
        return false;
    }
    *secondModule = LoadLibraryOrReport(second.file);
    if (*secondModule == nullptr) {
        FreeLibrary(*firstModule);
        *firstModule = nullptr;
        return false;
    }
    const std::size_t missing = BindAll(*secondModule, second);
    if (missing != second.count) {
        *missingInSecond = missing;
        FreeLibrary(*firstModule);
        FreeLibrary(*secondModule);
        *firstModule = nullptr;
        *secondModule = nullptr;
        return false;
    }
    return true;
}

}  // namespace cglibraries
