// Helpers shared by the facade's source files: little-endian words in
// records, 64-bit range checks, and the release of library objects.
#ifndef QVK_PKIFORMATS_SPKIFORMATSINTERNAL_H
#define QVK_PKIFORMATS_SPKIFORMATSINTERNAL_H

#include <cstdint>
#include <cstring>

#include "support/ByteOrder.h"
#include "support/PKIInterface.h"

namespace pkif {

inline std::uint32_t Get32(const std::uint8_t* p, std::uint64_t offset)
{
    return LoadLE32(p + offset);
}

inline void Put32(std::uint8_t* p, std::uint64_t offset, std::uint32_t v)
{
    StoreLE32(p + offset, v);
}

// offset + length lies within a block of `size` bytes (no wrap: 64 bits).
inline bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size)
{
    return offset <= size && length <= size - offset;
}

inline bool FitsU32(std::uint64_t v)
{
    return v <= 0xFFFFFFFFull;
}

inline bool Empty(const PKIBlob* b)
{
    return !b || b->length == 0 || !b->data;
}

inline std::uint32_t TextLength(const char* s)
{
    return s ? static_cast<std::uint32_t>(std::strlen(s)) : 0;
}

// Releases a library object on scope exit.
class ObjectRef {
public:
    ObjectRef() = default;
    ~ObjectRef() { Reset(); }
    ObjectRef(const ObjectRef&) = delete;
    ObjectRef& operator=(const ObjectRef&) = delete;
    void** Out() { return reinterpret_cast<void**>(&object_); }
    template <typename T>
    T* As() const
    {
        return static_cast<T*>(object_);
    }
    explicit operator bool() const { return object_ != nullptr; }
    void Reset()
    {
        if (object_) {
            IPKIObject* o = object_;
            object_ = nullptr;
            o->Release();
        }
    }

private:
    IPKIObject* object_ = nullptr;
};

// A blob the library filled (or allocated for us), wiped and freed through the library on scope exit.
class LibraryBlob {
public:
    explicit LibraryBlob(IPKIInterface* formats) : formats_(formats) {}
    ~LibraryBlob()
    {
        if (blob.data) {
            try {
                // Such blobs may hold key material: none goes back unwiped.
                std::memset(blob.data, 0, blob.length);
                formats_->FreeBlob(&blob);
            } catch (...) {
            }
        }
    }
    LibraryBlob(const LibraryBlob&) = delete;
    LibraryBlob& operator=(const LibraryBlob&) = delete;
    PKIBlob blob{0, nullptr};

private:
    IPKIInterface* formats_;
};

// Holder records: header lengths by version (index 1 to 6).
inline constexpr std::uint32_t kHolderHeader[7] = {0, 180, 184, 208, 216, 224, 248};

}  // namespace pkif

#endif
