// The PKI services started in a test program as the module starts them: from
// the folder the outside libraries were gathered in, which is the Win32
// layer's own folder in the build.
#pragma once

#include <wemu.h>

#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11PKI.h"

inline void* DistributionModule()
{
    return WemuModuleOfAddress(reinterpret_cast<const void*>(&GetCurrentDirectory));
}

// The module's attach from that folder, then the services.
inline bool StartPKIServicesAsTheModule()
{
    DllMain(DistributionModule(), DLL_PROCESS_ATTACH, nullptr);
    return StartPKIServices(nullptr);
}
