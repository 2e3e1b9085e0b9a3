// Helpers shared by the DSTU 7624 tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "TestHex.h"
#include "crypto/DSTU7624Modes.h"

namespace dstu7624test {

using Bytes = std::vector<uint8_t>;

using cryptotest::Hex;

// first, first+1, ... (count bytes); step -1 for a falling run.
inline Bytes Seq(int first, int count, int step = 1)
{
    Bytes out;
    for (int i = 0; i < count; ++i) out.push_back(static_cast<uint8_t>(first + step * i));
    return out;
}

struct ContextDeleter {
    void operator()(DSTU7624Context* c) const { DSTU7624FreeContext(c); }
};
using Context = std::unique_ptr<DSTU7624Context, ContextDeleter>;

inline int Set32(DSTU7624Context* c, uint32_t v, uint32_t type)
{
    return DSTU7624SetParameter(c, &v, type);
}

// A context with block size, key size and key set (key length from the key).
inline Context Keyed(uint32_t blockBits, const Bytes& key)
{
    Context c(DSTU7624CreateContext());
    if (!c || !Set32(c.get(), blockBits, DSTU7624_BLOCK_BITS) ||
        !Set32(c.get(), static_cast<uint32_t>(key.size() * 8), DSTU7624_KEY_BITS) ||
        !DSTU7624SetParameter(c.get(), key.data(), DSTU7624_KEY))
        return nullptr;
    return c;
}

inline Bytes GetMac(DSTU7624Context* c, uint32_t bits)
{
    Bytes mac((bits + 7) / 8);
    if (!Set32(c, bits, DSTU7624_MAC_BITS) || !DSTU7624GetParameter(c, mac.data(), DSTU7624_MAC)) return {};
    return mac;
}

inline uint32_t Lo(uint64_t v)
{
    return static_cast<uint32_t>(v);
}
inline uint32_t Hi(uint64_t v)
{
    return static_cast<uint32_t>(v >> 32);
}

}  // namespace dstu7624test
