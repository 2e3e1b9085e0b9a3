// Helpers shared by the provider's library-call operations: scoped library
// states and wiping.
#ifndef QVK_CSP_CSPCALLSCOMMON_H
#define QVK_CSP_CSPCALLSCOMMON_H

#include <cstdint>
#include <cstring>

#include "crypto/SecureWipe.h"
#include "csp/CSPLibraryCalls.h"

namespace cspcalls {

// A library state released on every path once acquired.
class ScopedState {
public:
    ScopedState(void* state, int (*release)(void*)) : state_(state), release_(release) {}
    ~ScopedState()
    {
        if (state_ != nullptr && release_ != nullptr) release_(state_);
    }
    ScopedState(const ScopedState&) = delete;
    ScopedState& operator=(const ScopedState&) = delete;
    void* get() const { return state_; }
    explicit operator bool() const { return state_ != nullptr; }

private:
    void* state_;
    int (*release_)(void*);
};

// A stack buffer wiped when it goes out of scope.
template <std::size_t N>
struct WipedBuffer {
    std::uint8_t bytes[N] = {};
    ~WipedBuffer() { qvkcrypto::SecureWipe(bytes, N); }
    std::uint8_t* data() { return bytes; }
};

inline void Wipe(void* p, std::size_t n)
{
    qvkcrypto::SecureWipe(p, n);
}

}  // namespace cspcalls

#endif
