// The device layer against an emulated key behind a real pcscd (a private
// rig started here): open + login + logout, one protected command round trip
// and a 4 KiB storage read, each with the host's own share, that is the time
// spent outside SCardTransmit.
//
// SCardTransmit is wrapped by this program (PcscTiming.h): its definition
// takes the place of pcsc-lite's for every caller in the program.
//
// Counters per iteration: transmits; pcsc_us (inside SCardTransmit: pcscd,
// the reader driver and the key); host_us (everything else); host_pct =
// host_us / pcsc_us, what the host adds to the round trip.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "KeyRig.h"
#include "PcscTiming.h"
#include "device/DeviceProtocol.h"

namespace {

using qvk::bench::ShareMeter;

constexpr uint32_t kSerial = 100001;
constexpr char kPassword[] = "12345678";

// The counters of ShareMeter, and host_pct: what the host adds to the round
// trip through pcscd.
void Report(const ShareMeter& meter, benchmark::State& state)
{
    meter.Report(state);
    const double pcsc = meter.PcscUs(state);
    state.counters["host_pct"] = pcsc > 0 ? 100.0 * meter.HostUs(state) / pcsc : 0.0;
}

struct Closer {
    void operator()(DeviceContext* c) const
    {
        if (c->loggedIn) LogoutDevice(c);
        CloseDevice(c);
    }
};
using Context = std::unique_ptr<DeviceContext, Closer>;

Context OpenLoggedIn(benchmark::State& state)
{
    Context c(OpenDevice(kSerial));
    if (!c) {
        state.SkipWithError("OpenDevice failed");
        return c;
    }
    if (AuthenticateDevice(c.get(), kPassword) != 0) {
        state.SkipWithError("AuthenticateDevice failed");
        c.reset();
    }
    return c;
}

// Open (the public image comes from the shared cache after the first run),
// a fresh login with its password derivation, logout (LOGOUT sent), close.
void BM_OpenLoginLogout(benchmark::State& state)
{
    ShareMeter meter;
    for (auto _ : state) {
        meter.Begin();
        DeviceContext* c = OpenDevice(kSerial);
        uint32_t r = c == nullptr ? 1 : AuthenticateDevice(c, kPassword);
        if (r == 0) r = LogoutDevice(c);
        if (c != nullptr) CloseDevice(c);
        meter.End();
        if (r != 0) {
            state.SkipWithError("open, login or logout failed");
            break;
        }
    }
    Report(meter, state);
}

// One protected request (mode 2 under the session key: MAC and encryption)
// and the verification of its protected answer: a private-area chunk read.
void BM_ProtectedCommand(benchmark::State& state)
{
    Context c = OpenLoggedIn(state);
    if (!c) return;
    const uint8_t chunk = static_cast<uint8_t>(PublicAreaSize(c.get()) / 32);
    ShareMeter meter;
    for (auto _ : state) {
        meter.Begin();
        DeviceBlock block{};
        block.direction = 1;
        block.command = KEYCMD_READ_MEMORY;
        block.parameter = chunk;
        uint32_t r = ProtectBlock(c.get(), &block, KEYPROT_MAC_ENCRYPT);
        if (r == 0) r = ExchangeBlock(c.get(), &block);
        if (r == 0) r = VerifyBlock(c.get(), &block);
        if (r == 0) r = block.status();
        meter.End();
        if (r != 0 || block.protection != KEYPROT_MAC_ENCRYPT) {
            state.SkipWithError("protected exchange failed");
            break;
        }
        benchmark::DoNotOptimize(block);
    }
    Report(meter, state);
}

// The same through the layer's whole write path: the per-key mutex, the
// protected exchange and the update of the shared image.
void BM_WriteMemoryBlock(benchmark::State& state)
{
    Context c = OpenLoggedIn(state);
    if (!c) return;
    const uint32_t block = PublicAreaSize(c.get()) / 32;
    uint8_t data[32];
    for (int i = 0; i < 32; ++i) data[i] = static_cast<uint8_t>(i);
    ShareMeter meter;
    for (auto _ : state) {
        meter.Begin();
        const uint32_t r = WriteMemoryBlock(c.get(), data, block);
        meter.End();
        if (r != 0) {
            state.SkipWithError("WriteMemoryBlock failed");
            break;
        }
    }
    Report(meter, state);
}

// 4 KiB from the key: the public area read again chunk by chunk (128
// exchanges of 32 bytes) after its shared image was dropped.
void BM_StorageRead4K(benchmark::State& state)
{
    Context c = OpenLoggedIn(state);
    if (!c) return;
    ShareMeter meter;
    for (auto _ : state) {
        meter.Begin();
        uint8_t out[32];
        uint32_t r = InvalidateMemoryImage(c.get(), 0);
        if (r == 0) r = ReadMemoryBlock(c.get(), out, 0);
        meter.End();
        if (r != 0) {
            state.SkipWithError("storage read failed");
            break;
        }
    }
    Report(meter, state);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * PublicAreaSize(c.get()));
}

BENCHMARK(BM_OpenLoginLogout)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ProtectedCommand)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_WriteMemoryBlock)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_StorageRead4K)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const std::string prefix = "qvkdevbench" + std::to_string(getpid()) + "_";
    setenv("WEMU_NAME_PREFIX", prefix.c_str(), 1);
    std::unique_ptr<qvk::e2e::KeyRig> rig;
    try {
        rig = std::make_unique<qvk::e2e::KeyRig>(std::vector<qvk::e2e::RigKey>{qvk::e2e::RigKey(kSerial)});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "device_bench: cannot start the key rig: %s\n", e.what());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseSharedMemory();
    return 0;
}
