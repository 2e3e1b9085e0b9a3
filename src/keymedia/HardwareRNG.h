// Random numbers drawn from the key, for a crypto service provider.
#ifndef QVK_KEYMEDIA_HARDWARERNG_H
#define QVK_KEYMEDIA_HARDWARERNG_H

#include <cstdint>

#include "support/ICSPHardware.h"

struct DeviceContext;

class HRNGImplementationQuorKorvo7Q final : public ICSPHardwareRNG {
public:
    explicit HRNGImplementationQuorKorvo7Q(DeviceContext* context) : context_(context) {}

    // 0. Answers 0 while the object is not bound to an open key.
    int GenerateRandom(std::uint8_t* buffer, std::uint32_t length) override;

    // The owning device object binds the object at every Open and unbinds it
    // (null) at Close, so a provider still holding the object after Close
    // gets failures rather than reaching a freed context.
    void SetDevice(DeviceContext* context) { context_ = context; }
    DeviceContext* Device() const { return context_; }

private:
    DeviceContext* context_;
};

#endif
