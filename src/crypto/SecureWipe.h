// Zeroing of secrets that the optimiser may not drop, and the buffer type
// that key material, PINs and passwords live in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string.h>
#include <vector>

namespace qvkcrypto {

inline void SecureWipe(void* p, size_t n)
{
    if (p != nullptr && n != 0) explicit_bzero(p, n);
}

// Hands out ordinary heap storage and wipes it before it goes back: a
// container over it leaves nothing behind when it is destroyed or moves its
// elements to a larger block.
template <typename T>
struct WipingAllocator {
    using value_type = T;

    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept
    {
        SecureWipe(p, n * sizeof(T));
        std::allocator<T>().deallocate(p, n);
    }

    template <typename U>
    bool operator==(const WipingAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const WipingAllocator<U>&) const noexcept
    {
        return false;
    }
};

// Secret values: wiped on release and on reallocation. Shrinking keeps the
// block (and the bytes past the new end) until the buffer is released or
// reallocated; call Wipe first where a value is to go at once.
template <typename T>
using SecureVector = std::vector<T, WipingAllocator<T>>;
using SecureBytes = SecureVector<std::uint8_t>;

// Wipes the whole block of a secret buffer and leaves it empty.
template <typename T>
void Wipe(SecureVector<T>& buffer) noexcept
{
    SecureWipe(buffer.data(), buffer.capacity() * sizeof(T));
    buffer.clear();
}

}  // namespace qvkcrypto
