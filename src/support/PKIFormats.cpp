#include "support/PKIFormats.h"

#include "support/SystemLog.h"
#include "wemu.h"

namespace {

typedef int (*PKIInitializeFunction)();
typedef int (*PKIFinalizeFunction)();
typedef int (*PKIGetInterfaceFunction)(void** pkiInterface);

struct PKILibrary {
    HMODULE module = nullptr;
    PKIInitializeFunction initialize = nullptr;
    PKIFinalizeFunction finalize = nullptr;
    PKIGetInterfaceFunction getInterface = nullptr;
    int references = 0;
};

PKILibrary g_library;

template <typename Function>
Function Resolve(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(GetProcAddress(module, name));
}

}  // namespace

int AcquirePKILibrary()
{
    if (g_library.module == nullptr) {
        HMODULE module = LoadLibraryOrReport("pkfmt.so");
        if (module == nullptr) return PKI_LIBRARY_MISSING;
        auto initialize = Resolve<PKIInitializeFunction>(module, "PKIInitialize");
        auto finalize = Resolve<PKIFinalizeFunction>(module, "PKIFinalize");
        auto getInterface = Resolve<PKIGetInterfaceFunction>(module, "PKIGetInterface");
        if (initialize == nullptr || finalize == nullptr || getInterface == nullptr) {
            FreeLibrary(module);
            return PKI_LIBRARY_MISSING;
        }
        g_library.module = module;
        g_library.initialize = initialize;
        g_library.finalize = finalize;
        g_library.getInterface = getInterface;
    }
    ++g_library.references;
    return g_library.initialize();
}

int ReleasePKILibrary()
{
    if (g_library.module == nullptr) return 0;
    if (--g_library.references > 0) return 0;
    int result = g_library.finalize();
    FreeLibrary(g_library.module);
    g_library = PKILibrary();
    return result;
}

int GetPKIInterface(void** pkiInterface)
{
    if (g_library.module == nullptr) return PKI_LIBRARY_NOT_LOADED;
    return g_library.getInterface(pkiInterface);
}
