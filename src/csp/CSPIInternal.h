// Helpers shared by the CSPI's source files: the exception boundary, library
// states released on every path, random draws and secret buffers.
#ifndef QVK_CSP_CSPIINTERNAL_H
#define QVK_CSP_CSPIINTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string.h>
#include <vector>

#include "crypto/SecureWipe.h"
#include "csp/CSPI.h"

namespace cspi {

template <typename F>
int Guarded(F&& body)
{
    try {
        return body();
    } catch (...) {
        return CSP_LIBRARY_ERROR;
    }
}

// The four state functions of one algorithm family.
struct Family {
    CSPIAcquireStateFn acquire;
    CSPIReleaseStateFn release;
    CSPISetStateParametersFn set;
    CSPIGetStateParametersFn get;
};

// A library state that is released when it goes out of scope, unless it was
// handed over with Take.
class LibraryState {
public:
    LibraryState(const Family& family, int checking) : family_(family), state_(family.acquire(checking)) {}
    ~LibraryState()
    {
        if (state_ != nullptr) family_.release(state_);
    }
    LibraryState(const LibraryState&) = delete;
    LibraryState& operator=(const LibraryState&) = delete;
    bool ok() const { return state_ != nullptr; }
    CSPIState get() const { return state_; }
    bool Set(const void* value, std::uint32_t code) { return family_.set(state_, value, code) != 0; }
    bool Get(void* buffer, std::uint32_t code) { return family_.get(state_, buffer, code) != 0; }
    CSPIState Take()
    {
        CSPIState s = state_;
        state_ = nullptr;
        return s;
    }
    void Release()
    {
        if (state_ != nullptr) family_.release(state_);
        state_ = nullptr;
    }

private:
    Family family_;
    CSPIState state_;
};

// A byte buffer that is wiped before it is released.
using SecretBuffer = qvkcrypto::SecureBytes;

// Wipes a fixed local array when it goes out of scope.
template <std::size_t N>
struct SecretArray {
    std::uint8_t bytes[N] = {};
    ~SecretArray() { explicit_bzero(bytes, N); }
    std::uint8_t* data() { return bytes; }
};

inline const void* PrngValue(const CSPContext* context)
{
    return reinterpret_cast<const void*>(context->prng);
}

inline bool HasPrng(const CSPContext* context)
{
    return context->prng != decltype(context->prng){};
}

inline bool ValidAESKeyBits(std::uint32_t bits)
{
    return bits == 128 || bits == 192 || bits == 256;
}

}  // namespace cspi

template <typename... Inputs, typename... Arguments>
int CSPI::OnPlainContext(int (CSPI::*operation)(CSPContext*, Inputs...), Arguments... arguments)
{
    return cspi::Guarded([&]() -> int {
        CSPContext context = PlainContext();
        return (this->*operation)(&context, arguments...);
    });
}

template <typename Body>
int CSPI::WhenReady(Body&& body)
{
    return cspi::Guarded([&]() -> int {
        if (!Initialized()) return CSP_NOT_INITIALIZED;
        return body();
    });
}

template <typename Body>
int CSPI::WhenReady(CSPContext* context, Body&& body)
{
    return WhenReady([&]() -> int { return context == nullptr ? CSP_BAD_ARGUMENT : body(); });
}

#endif
