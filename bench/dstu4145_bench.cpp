// The DSTU 4145 engine of the stand-ins (the emulated key signs with it, the
// tests verify with it): signatures and verifications per second on the
// standard 257-bit and 431-bit polynomial-basis curves of the support layer's
// table. Verification repeats one signer's public key, as a verifier of many
// documents from one signer does; the "fresh_key" variant verifies under a
// new key each time (the key's check included).
//
// OpenSSL's ECDSA on the binary curves of about the same sizes (sect283k1,
// sect409k1) runs in the same process, and the run ends with a table of the
// engine's figures beside OpenSSL's and their ratio.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdio>
#include <map>
#include <string>
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

// OpenSSL's ECDSA over a 32-byte digest on a named binary curve.
struct OpenSslKey {
    EVP_PKEY* key = nullptr;
    explicit OpenSslKey(const char* curve) { key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve); }
    ~OpenSslKey() { EVP_PKEY_free(key); }
    bool Sign(const unsigned char* digest, std::vector<unsigned char>& sig) const
    {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        std::size_t len = 0;
        bool ok = ctx && EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_sign(ctx, nullptr, &len, digest, 32) == 1;
        if (ok) {
            sig.resize(len);
            ok = EVP_PKEY_sign(ctx, sig.data(), &len, digest, 32) == 1;
            sig.resize(len);
        }
        EVP_PKEY_CTX_free(ctx);
        return ok;
    }
    bool Verify(const unsigned char* digest, const std::vector<unsigned char>& sig) const
    {
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
        const bool ok =
            ctx && EVP_PKEY_verify_init(ctx) == 1 && EVP_PKEY_verify(ctx, sig.data(), sig.size(), digest, 32) == 1;
        EVP_PKEY_CTX_free(ctx);
        return ok;
    }
};

const char* OpenSslCurve(int m)
{
    return m == 257 ? "sect283k1" : "sect409k1";
}

void OpenSslSign(benchmark::State& state)
{
    OpenSslKey key(OpenSslCurve(static_cast<int>(state.range(0))));
    const std::vector<unsigned char> digest(32, 0x5C);
    std::vector<unsigned char> sig;
    if (!key.key) {
        state.SkipWithError("no OpenSSL key");
        return;
    }
    for (auto _ : state) {
        if (!key.Sign(digest.data(), sig)) {
            state.SkipWithError("sign failed");
            return;
        }
    }
    state.counters["per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void OpenSslVerify(benchmark::State& state)
{
    OpenSslKey key(OpenSslCurve(static_cast<int>(state.range(0))));
    const std::vector<unsigned char> digest(32, 0x5C);
    std::vector<unsigned char> sig;
    if (!key.key || !key.Sign(digest.data(), sig)) {
        state.SkipWithError("no OpenSSL signature");
        return;
    }
    for (auto _ : state) {
        if (!key.Verify(digest.data(), sig)) {
            state.SkipWithError("verify failed");
            return;
        }
    }
    state.counters["per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Keeps each run's rate for the closing table.
class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> rates;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            auto it = run.counters.find("per_second");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PrintComparison(const std::map<std::string, double>& rates)
{
    struct Row {
        const char* what;
        const char* engine;
        const char* openssl;
    };
    const Row rows[] = {
        {"sign, m = 257 / sect283k1", "Sign/m:257", "OpenSslSign/m:257"},
        {"verify, m = 257, checked key", "Verify/m:257/fresh_key:0", "OpenSslVerify/m:257"},
        {"verify, m = 257, new key", "Verify/m:257/fresh_key:1", "OpenSslVerify/m:257"},
        {"sign, m = 431 / sect409k1", "Sign/m:431", "OpenSslSign/m:431"},
        {"verify, m = 431, checked key", "Verify/m:431/fresh_key:0", "OpenSslVerify/m:431"},
        {"verify, m = 431, new key", "Verify/m:431/fresh_key:1", "OpenSslVerify/m:431"},
    };
    std::printf("\nDSTU 4145 engine against OpenSSL's ECDSA, per second, this run (target: 3x):\n");
    std::printf("| workload | engine | OpenSSL | ratio |\n|---|---:|---:|---:|\n");
    for (const Row& row : rows) {
        auto e = rates.find(row.engine), o = rates.find(row.openssl);
        if (e == rates.end() || o == rates.end() || o->second <= 0) continue;
        std::printf("| %s | %.0f | %.0f | %.2f |\n", row.what, e->second, o->second, e->second / o->second);
    }
}

}  // namespace

BENCHMARK(OpenSslSign)->ArgName("m")->Arg(257)->Arg(431)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSslVerify)->ArgName("m")->Arg(257)->Arg(431)->Unit(benchmark::kMicrosecond);
BENCHMARK(Sign)->ArgName("m")->Arg(257)->Arg(431)->Unit(benchmark::kMicrosecond);
BENCHMARK(Verify)
    ->ArgNames({"m", "fresh_key"})
    ->Args({257, 0})
    ->Args({431, 0})
    ->Args({257, 1})
    ->Args({431, 1})
    ->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintComparison(reporter.rates);
    benchmark::Shutdown();
    return 0;
}
