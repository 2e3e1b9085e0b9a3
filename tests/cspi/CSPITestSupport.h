// Helpers of the CSPI tests: providers bound to a chosen build of the
// stand-in libraries, and hex for the known answers.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TestHex.h"
#include "csp/CSPI.h"

namespace cspitest {

using cryptotest::Bytes;
using cryptotest::Hex;

// Runs in a variant folder of stand-in libraries and returns to the previous
// folder when it ends.
class InVariant {
public:
    explicit InVariant(const std::string& variant)
    {
        char buffer[PATH_MAX];
        previous_ = getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
        std::string dir = std::string(CSPI_VARIANTS_DIR) + "/" + variant;
        EXPECT_EQ(chdir(dir.c_str()), 0) << dir;
    }
    ~InVariant() { (void)!chdir(previous_.c_str()); }
    InVariant(const InVariant&) = delete;
    InVariant& operator=(const InVariant&) = delete;

private:
    std::string previous_;
};

// Sets the stand-ins' failure switch for the life of the object.
class InjectedFailure {
public:
    explicit InjectedFailure(const char* names) { setenv("QVK_CGLIB_FAIL", names, 1); }
    ~InjectedFailure() { unsetenv("QVK_CGLIB_FAIL"); }
    InjectedFailure(const InjectedFailure&) = delete;
    InjectedFailure& operator=(const InjectedFailure&) = delete;
};

struct Destroy {
    void operator()(CSPI* p) const { DestroyCSPI(&p); }
};
using CSPIPointer = std::unique_ptr<CSPI, Destroy>;

// A provider made by CreateCSPI over a variant; null when creation failed.
inline CSPIPointer Create(const std::string& variant, int* code = nullptr)
{
    InVariant in(variant);
    CSPI* p = nullptr;
    int result = CreateCSPI(&p);
    if (code != nullptr) *code = result;
    return CSPIPointer(p);
}

// A provider that is only initialised (its generator not started).
inline CSPIPointer Initialized(const std::string& variant, int* code = nullptr)
{
    InVariant in(variant);
    CSPIPointer p(new CSPI());
    int result = p->Initialize();
    if (code != nullptr) *code = result;
    return p;
}

inline const std::uint8_t* U8(const char* text)
{
    return reinterpret_cast<const std::uint8_t*>(text);
}

// A curve entry of the built-in table.
inline Bytes Curve(CSPI& cspi, std::uint32_t index)
{
    Bytes entry(CSPI_CURVE_ENTRY_BYTES);
    EXPECT_EQ(cspi.Parameters()->GetCurve(index, entry.data()), 1);
    return entry;
}

// A number right-aligned in `size` bytes.
inline Bytes RightAligned(const Bytes& value, std::size_t size)
{
    Bytes out(size, 0);
    std::copy(value.begin(), value.end(), out.end() - static_cast<std::ptrdiff_t>(value.size()));
    return out;
}

}  // namespace cspitest
