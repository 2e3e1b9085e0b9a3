// Run-time binding of the key-media library for the console.
#ifndef QVK_CONSOLE_KMQUORKORVO7Q_H
#define QVK_CONSOLE_KMQUORKORVO7Q_H

#include "keymedia/KMDevice.h"
#include "wemu.h"

class KMQuorKorvo7Q final {
public:
    KMQuorKorvo7Q();
    ~KMQuorKorvo7Q();  // runs Unload
    KMQuorKorvo7Q(const KMQuorKorvo7Q&) = delete;
    KMQuorKorvo7Q& operator=(const KMQuorKorvo7Q&) = delete;

    virtual int Load();
    virtual void Unload();
    virtual int LoadFrom(const char* fileName);

    HMODULE library;
    KMEnumDeviceTypesFunction enumDeviceTypes;
    KMGetInterfaceFunction getInterface;
    KMFinalizeFunction finalize;
};

#endif
