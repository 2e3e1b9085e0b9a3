// The DSTU 4145 engine of the stand-ins (the emulated key signs with it, the
// tests verify with it): signatures and verifications per second on the
// standard 257-bit and 431-bit polynomial-basis curves of the support layer's
// table. Verification repeats one signer's public key, as a verifier of many
// documents from one signer does; the "fresh_key" variant verifies under a
// new key each time (the key's check included).
#include <benchmark/benchmark.h>

#include <vector>

#include "dstu4145/DSTU4145.h"
#include "support/CSPParameters.h"

namespace {

using dstu4145::Bytes;
using dstu4145::Engine;
using dstu4145::Result;

// Index of the curve in the support layer's polynomial-basis table.
std::unique_ptr<Engine> StandardEngine(unsigned index)
{
    CSPParameters parameters;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    dstu4145::Curve curve;
    if (parameters.GetStandardCurve(1, index, &field, &point) != 1 ||
        dstu4145::CurveFromRecords(field.words, point.words, curve) != Result::Ok)
        return nullptr;
    auto engine = Engine::Create(curve);
    return engine && (engine->M() == 257 || engine->M() == 431) ? std::move(engine) : nullptr;
}

unsigned CurveIndex(int m)
{
    return m == 257 ? 6 : 9;
}

void Sign(benchmark::State& state)
{
    auto engine = StandardEngine(CurveIndex(static_cast<int>(state.range(0))));
    Bytes d, q, sig;
    const Bytes hash(32, 0x5C);
    if (!engine || engine->GenerateKey(d, q) != Result::Ok) {
        state.SkipWithError("no engine");
        return;
    }
    for (auto _ : state) {
        if (engine->Sign(hash, d, sig) != Result::Ok) {
            state.SkipWithError("sign failed");
            return;
        }
    }
    state.counters["per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void Verify(benchmark::State& state)
{
    auto engine = StandardEngine(CurveIndex(static_cast<int>(state.range(0))));
    const bool freshKey = state.range(1) != 0;
    const Bytes hash(32, 0x5C);
    // A few signers, so that the fresh-key variant always meets a key it has
    // not checked yet.
    struct Signed {
        Bytes q, sig;
    };
    std::vector<Signed> signers(freshKey ? 64 : 1);
    for (Signed& s : signers) {
        Bytes d;
        if (!engine || engine->GenerateKey(d, s.q) != Result::Ok || engine->Sign(hash, d, s.sig) != Result::Ok) {
            state.SkipWithError("no signature");
            return;
        }
    }
    std::size_t next = 0;
    for (auto _ : state) {
        const Signed& s = signers[next];
        next = (next + 1) % signers.size();
        if (engine->Verify(hash, s.q, s.sig) != Result::Ok) {
            state.SkipWithError("verify failed");
            return;
        }
    }
    state.counters["per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(Sign)->ArgName("m")->Arg(257)->Arg(431)->Unit(benchmark::kMicrosecond);
BENCHMARK(Verify)
    ->ArgNames({"m", "fresh_key"})
    ->Args({257, 0})
    ->Args({431, 0})
    ->Args({257, 1})
    ->Args({431, 1})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
