// What every object of the stand-in formats library shares: its reference
// count, the count of live objects, its interfaces, and the guard that keeps
// exceptions from unwinding into the caller.
#ifndef PKFMT_PKFMTOBJECT_H
#define PKFMT_PKFMTOBJECT_H

#include <atomic>
#include <cstdint>
#include <new>

#include "PkfmtCallLog.h"
#include "support/PKIInterface.h"

namespace pkfmt {

// Objects not yet released (the PKFMTLiveObjects test hook).
std::atomic<int>& LiveObjectCount();

// Runs an operation body; allocation failures and anything else thrown
// become result codes so that nothing unwinds into the caller.
template <typename Body>
int Guard(Body body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PKI_E_OUT_OF_MEMORY;
    } catch (...) {
        return PKI_E_FAILURE;
    }
}

// What every object of the library shares: its reference count and the
// interfaces it offers.
class Core {
public:
    Core() { ++LiveObjectCount(); }
    virtual ~Core() { --LiveObjectCount(); }
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // What the call log names the object (see PkfmtCallLog.h).
    virtual const char* Kind() const { return "object"; }

    void AddRef() { references_.fetch_add(1, std::memory_order_relaxed); }
    int Drop()
    {
        if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
        return PKI_OK;
    }
    int Query(std::uint32_t interfaceId, void** object)
    {
        if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
        *object = Offer(interfaceId);
        if (*object == nullptr) return PKI_E_NO_INTERFACE;
        AddRef();
        return PKI_OK;
    }

protected:
    // The interface pointer for an id, or null when not offered.
    virtual void* Offer(std::uint32_t interfaceId) = 0;

private:
    std::atomic<int> references_{1};
};

}  // namespace pkfmt

// Release and QueryInterface of a Core that is not in the call log.
#define PKFMT_COUNTED_COMMON                                                                                           \
    int Release() override                                                                                             \
    {                                                                                                                  \
        return Drop();                                                                                                 \
    }                                                                                                                  \
    int QueryInterface(std::uint32_t interfaceId, void** object) override                                              \
    {                                                                                                                  \
        return Query(interfaceId, object);                                                                             \
    }

// The two operations of every object, in the call log.
#define PKFMT_OBJECT_COMMON                                                                                            \
    int Release() override                                                                                             \
    {                                                                                                                  \
        PKFMT_TRACE(1);                                                                                                \
        return Drop();                                                                                                 \
    }                                                                                                                  \
    int QueryInterface(std::uint32_t interfaceId, void** object) override                                              \
    {                                                                                                                  \
        PKFMT_TRACE_IDS(2, static_cast<long>(interfaceId));                                                            \
        return Query(interfaceId, object);                                                                             \
    }

#endif
