// Scoped helpers of the facade's key operations: key material in buffers
// wiped on every path, context holders released on every path, and the
// creation and querying of library objects into scoped references.
#ifndef QVK_PKIFORMATS_KEYBUFFERS_H
#define QVK_PKIFORMATS_KEYBUFFERS_H

#include <cstddef>
#include <cstdint>

#include "crypto/SecureWipe.h"
#include "pkiformats/ContextHolders.h"
#include "pkiformats/SPKIFormatsInternal.h"

namespace pkif {

// A fixed buffer wiped when it goes out of scope (or earlier, by Wipe).
template <std::size_t N>
struct Secret {
    std::uint8_t bytes[N] = {};
    Secret() = default;
    Secret(const Secret&) = delete;
    Secret& operator=(const Secret&) = delete;
    ~Secret() { Wipe(); }
    void Wipe() { qvkcrypto::SecureWipe(bytes, N); }
};

// A context holder released when it goes out of scope.
template <typename Holder>
struct HolderScope {
    Holder holder;
    HolderScope() = default;
    HolderScope(const HolderScope&) = delete;
    HolderScope& operator=(const HolderScope&) = delete;
    ~HolderScope() { ReleaseContextHolder(&holder); }
};

inline bool CreateInto(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, ObjectRef& object)
{
    return formats && formats->CreateObject(classId, interfaceId, object.Out()) == 0 && object;
}

inline bool QueryInto(IPKIObject* object, std::uint32_t interfaceId, ObjectRef& view)
{
    return object && object->QueryInterface(interfaceId, view.Out()) == 0 && view;
}

}  // namespace pkif

#endif
