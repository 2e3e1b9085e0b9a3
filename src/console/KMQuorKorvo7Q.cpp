#include "console/KMQuorKorvo7Q.h"

KMQuorKorvo7Q::KMQuorKorvo7Q() : library(nullptr), enumDeviceTypes(nullptr), getInterface(nullptr), finalize(nullptr) {}

KMQuorKorvo7Q::~KMQuorKorvo7Q()
{
    Unload();
}

int KMQuorKorvo7Q::Load()
{
    return LoadFrom("km.qvk7q.so");
}

void KMQuorKorvo7Q::Unload()
{
    if (finalize) {
        finalize();
        finalize = nullptr;
    }
    if (library) {
        FreeLibrary(library);
        library = nullptr;
    }
}

int KMQuorKorvo7Q::LoadFrom(const char* fileName)
{
    if (library) return 1;
    library = LoadLibrary(fileName);
    if (!library) return 0;
    enumDeviceTypes = reinterpret_cast<KMEnumDeviceTypesFunction>(GetProcAddress(library, "KMEnumDeviceTypes"));
    getInterface = reinterpret_cast<KMGetInterfaceFunction>(GetProcAddress(library, "KMGetInterface"));
    if (!enumDeviceTypes || !getInterface) {
        FreeLibrary(library);
        library = nullptr;
        return 0;
    }
    finalize = reinterpret_cast<KMFinalizeFunction>(GetProcAddress(library, "KMFinalize"));
    return 1;
}
