// A small token device for the framework's own tests: registered through the
// framework's driver seam as the program loads, so those tests link neither
// the token driver nor a PC/SC stand-in. It knows a few keys by index, of
// which a chosen set can be opened; every key operation is refused.
#ifndef QVK_TESTS_PKCS11_TESTDEVICE_H
#define QVK_TESTS_PKCS11_TESTDEVICE_H

#include <cstdint>

struct TestDeviceState {
    std::uint32_t keys = 0;         // key entries the device layer reports
    std::uint32_t presentMask = 0;  // bit i: key i opens
    bool startSucceeds = true;
    int starts = 0;
    int stops = 0;
    int liveDevices = 0;  // device objects made and not yet released
};

// The one state the registered entries read and count into.
TestDeviceState& TestDevice();

#endif
