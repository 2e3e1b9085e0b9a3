// Fixture of the key-media unit tests: the device-layer fixture (fresh named
// objects and PC/SC double per test) plus the library's globals reset, and
// device objects that release themselves.
#pragma once

#include <memory>
#include <string>

#include "DeviceTestSupport.h"
#include "keymedia/DeviceObject.h"
#include "keymedia/KMDevice.h"
#include "keymedia/Library.h"

extern "C" {
int KMEnumDeviceTypes(int index, char* name);
IKMQuorKorvo7Q* KMGetInterface(const char* name);
void KMFinalize();
}

namespace kmtest {

namespace pd = keyemu::pcscdouble;
using devtest::Context;

struct Releaser {
    void operator()(IKMQuorKorvo7Q* device) const
    {
        if (device != nullptr) device->Release();
    }
};
using Device = std::unique_ptr<IKMQuorKorvo7Q, Releaser>;

class KMTest : public devtest::DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        qvkdev::DeviceTimings().mutexWaitMs = 300;
    }
    void TearDown() override
    {
        KMFinalize();
        DeviceTest::TearDown();
    }

    static Device FullKey() { return Device(KMGetInterface(qvkkm::kFullKeyTypeName)); }
    static Device Carrier() { return Device(KMGetInterface(qvkkm::kCarrierTypeName)); }
    static qvkkm::KeyDeviceObject* Object(const Device& d) { return dynamic_cast<qvkkm::KeyDeviceObject*>(d.get()); }

    // Opens a device object on the key; fails the test when it does not open.
    static Device OpenFullKey(const char* serial, const char* password)
    {
        Device d = FullKey();
        std::string s = serial, p = password;
        EXPECT_EQ(d->Open(s.data(), p.data(), 0), KM_OK);
        return d;
    }
    static int OpenWith(IKMQuorKorvo7Q* d, const char* serial, const char* password, int flags = 0)
    {
        std::string s = serial, p = password;
        return d->Open(s.data(), p.data(), flags);
    }
    // PC/SC connections made and not yet given back.
    static int OpenConnections()
    {
        const auto c = pd::Calls();
        return c.connect - c.disconnect;
    }
};

}  // namespace kmtest
