// Shared pieces of the provider tests: creating a provider over a folder of
// stand-in libraries (they are found in the current directory), and fakes of
// the hardware random source and hardware object.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "csp/CSP.h"

namespace csptest {

using Bytes = std::vector<std::uint8_t>;

inline std::string VariantDir(const char* variant)
{
    return std::string(CGLIB_VARIANTS_DIR) + "/" + variant;
}

// Runs `body` with the current directory switched to a variant folder.
template <typename Body>
auto InVariant(const char* variant, Body body)
{
    char previous[PATH_MAX];
    EXPECT_NE(getcwd(previous, sizeof previous), nullptr);
    EXPECT_EQ(chdir(VariantDir(variant).c_str()), 0);
    auto result = body();
    EXPECT_EQ(chdir(previous), 0);
    return result;
}

// A provider over the complete stand-ins, destroyed at the end of the scope.
struct Provider {
    CSP* csp = nullptr;
    explicit Provider(int startGenerator = 0, const char* variant = "full")
    {
        int result = InVariant(variant, [&] { return CreateCSP(&csp, startGenerator); });
        EXPECT_EQ(result, CSP_OK);
    }
    ~Provider() { DestroyCSP(&csp); }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    CSP* operator->() const { return csp; }
};

// Sets QVK_CGLIB_FAIL for the scope.
struct FailSwitch {
    explicit FailSwitch(const char* names) { setenv("QVK_CGLIB_FAIL", names, 1); }
    ~FailSwitch() { unsetenv("QVK_CGLIB_FAIL"); }
};

// A hardware random source that hands out a fixed pattern or the operating
// system's random bytes, and counts its draws.
class FakeRNG : public ICSPHardwareRNG {
public:
    enum Kind { Random, Zeros, Failing };
    explicit FakeRNG(Kind kind) : kind_(kind) {}
    int GenerateRandom(std::uint8_t* buffer, std::uint32_t length) override
    {
        ++draws;
        lastLength = length;
        if (kind_ == Failing) return 0;
        if (kind_ == Zeros) {
            std::memset(buffer, 0, length);
            return 1;
        }
        FILE* f = std::fopen("/dev/urandom", "rb");
        bool ok = f != nullptr && std::fread(buffer, 1, length, f) == length;
        if (f != nullptr) std::fclose(f);
        return ok ? 1 : 0;
    }
    int draws = 0;
    std::uint32_t lastLength = 0;

private:
    Kind kind_;
};

// A hardware object whose every operation refuses, except the stored hash.
class FakeHardware : public ICSPHardware {
public:
    int GenerateSignatureKeyPair(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, std::uint8_t*) override
    {
        return 0;
    }
    int GenerateAgreementKeyPair(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, std::uint8_t*) override
    {
        return 0;
    }
    int SignHash(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*, std::uint8_t*) override
    {
        return 0;
    }
    int EncryptSessionKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                          const std::uint8_t*, std::uint8_t*, std::uint32_t, std::uint8_t*) override
    {
        return 0;
    }
    int DecryptSessionKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*,
                          const std::uint8_t*, std::uint8_t*, std::uint32_t, const std::uint8_t*) override
    {
        return 0;
    }
    int CheckSignaturePublicKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*) override
    {
        return 0;
    }
    int CheckAgreementPublicKey(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*) override
    {
        return 0;
    }
    int SetSBox(const void*, const void*, const void*, const std::uint8_t*) override { return 0; }
    int GetStoredHash(std::uint8_t* hash) override
    {
        ++storedHashReads;
        if (!storedHashWorks) return 0;
        for (int i = 0; i < 32; ++i) hash[i] = static_cast<std::uint8_t>(0xC0 + i);
        return 1;
    }
    int WrapKeyGOST28147(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                         const void*, const void*, const std::uint8_t*, std::uint8_t*) override
    {
        return 0;
    }
    int UnwrapKeyGOST28147(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                           const void*, const void*, const std::uint8_t*, std::uint8_t*) override
    {
        return 0;
    }
    int Reserved11() override { return 0; }
    int Reserved12() override { return 0; }
    int Reserved13() override { return 0; }
    int Reserved14() override { return 0; }
    int Reserved15() override { return 0; }
    int Reserved16() override { return 0; }
    int Reserved17() override { return 0; }
    int Reserved18() override { return 0; }
    int Reserved19() override { return 0; }
    int QuerySignaturePublicKey(DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*) override { return 0; }
    int QueryAgreementPublicKey(DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*) override { return 0; }
    int MakeSignS(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                  std::uint8_t*) override
    {
        return 0;
    }
    int SignHashEx(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, std::uint32_t, const std::uint8_t*,
                   std::uint8_t*) override
    {
        return 0;
    }
    int WrapKeyDSTU7624(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                        const void*, const std::uint8_t*, const void*, std::uint8_t*, std::uint32_t*) override
    {
        return 0;
    }
    int UnwrapKeyDSTU7624(const void*, const void*, const std::uint8_t*, int, const std::uint8_t*, std::uint32_t,
                          const void*, const std::uint8_t*, const void*, std::uint8_t*) override
    {
        return 0;
    }
    bool storedHashWorks = true;
    int storedHashReads = 0;
};

inline Bytes Sequence(int first, int count)
{
    Bytes b(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
    return b;
}

}  // namespace csptest
