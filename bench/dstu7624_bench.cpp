// DSTU 7624 throughput per variant: ECB (both ways), CTR, XTS, CBC decryption and CMAC over 16 MiB.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crypto/DSTU7624Modes.h"

namespace {

constexpr size_t kBytes = 16 << 20;

struct Variant {
    uint32_t block, key;
};
constexpr Variant kVariants[5] = {{128, 128}, {128, 256}, {256, 256}, {256, 512}, {512, 512}};

DSTU7624Context* Make(const Variant& v)
{
    DSTU7624Context* c = DSTU7624CreateContext();
    uint8_t key[64], iv[64];
    for (int i = 0; i < 64; ++i) {
        key[i] = static_cast<uint8_t>(i);
        iv[i] = static_cast<uint8_t>(0x40 + i);
    }
    DSTU7624SetParameter(c, &v.block, DSTU7624_BLOCK_BITS);
    DSTU7624SetParameter(c, &v.key, DSTU7624_KEY_BITS);
    DSTU7624SetParameter(c, key, DSTU7624_KEY);
    DSTU7624SetParameter(c, iv, DSTU7624_IV);
    return c;
}

void Label(benchmark::State& state, const Variant& v)
{
    state.SetLabel(std::to_string(v.block) + "/" + std::to_string(v.key));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_ECB(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    const uint32_t blocks = static_cast<uint32_t>(kBytes / (v.block / 8));
    for (auto _ : state) {
        DSTU7624EncryptECB(data.data(), blocks, c);
        benchmark::DoNotOptimize(data.data());
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

void BM_ECBDecrypt(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    const uint32_t blocks = static_cast<uint32_t>(kBytes / (v.block / 8));
    for (auto _ : state) {
        DSTU7624DecryptECB(data.data(), blocks, c);
        benchmark::DoNotOptimize(data.data());
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

void BM_XTS(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    uint8_t iv[64] = {};
    for (auto _ : state) {
        DSTU7624SetParameter(c, iv, DSTU7624_IV);
        DSTU7624EncryptXTS(data.data(), kBytes * 8, 0, c);
        benchmark::DoNotOptimize(data.data());
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

void BM_CTR(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    for (auto _ : state) {
        DSTU7624EncryptCTR(data.data(), kBytes * 8, 0, c);
        benchmark::DoNotOptimize(data.data());
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

void BM_CBCDecrypt(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    uint8_t iv[64] = {};
    CryptoBitLength result;
    for (auto _ : state) {
        DSTU7624SetParameter(c, iv, DSTU7624_IV);
        DSTU7624DecryptCBC(data.data(), kBytes * 8, 0, 0, &result, c);
        benchmark::DoNotOptimize(data.data());
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

void BM_CMAC(benchmark::State& state)
{
    const Variant& v = kVariants[state.range(0)];
    DSTU7624Context* c = Make(v);
    std::vector<uint8_t> data(kBytes, 0x5A);
    for (auto _ : state) {
        DSTU7624ComputeCMAC(data.data(), kBytes * 8, 0, c);
        benchmark::DoNotOptimize(c->mac[0]);
    }
    Label(state, v);
    DSTU7624FreeContext(c);
}

}  // namespace

BENCHMARK(BM_ECB)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ECBDecrypt)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XTS)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CTR)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CBCDecrypt)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CMAC)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
