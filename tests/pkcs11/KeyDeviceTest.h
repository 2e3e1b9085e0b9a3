// A test over one key of the in-process PC/SC double through the driver.
#pragma once

#include <cstdlib>
#include <memory>

#include "DeviceTestSupport.h"
#include "PkiServicesStart.h"
#include "pkcs11/PKCS11Device.h"
#include "pkcs11driver/PKCS11Driver.h"

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};

// A driver object opened and logged in on one key of the PC/SC double, with
// the PKI services started as the module starts them and the formats
// stand-in's options at their defaults.
class KeyDeviceTest : public devtest::DeviceTest {
protected:
    // `device` (the plain driver when null) on a new key `serial`.
    void StartOnKey(std::uint32_t serial, PKCS11Device* device = nullptr)
    {
        for (const char* name : {"PKFMT_VERSION", "PKFMT_OPTION_A", "PKFMT_INITIALIZE_RESULT"}) unsetenv(name);
        ASSERT_TRUE(StartPKIServicesAsTheModule());
        AddKey(serial, 18);
        ASSERT_EQ(EnumerateKeySerials(0), CKR_OK);
        device_.reset(device != nullptr ? device : CreatePKCS11Device());
        ASSERT_EQ(device_->Open(0), CKR_OK);
        ASSERT_EQ(device_->Login("1234", 4), CKR_OK);
    }
    void TearDown() override
    {
        device_.reset();
        StopPKIServices();
        DeviceTest::TearDown();
    }

    std::unique_ptr<PKCS11Device, DeviceReleaser> device_;
};
