// The PKCS#11 module, loaded with dlopen as an application loads it, against
// one emulated key behind a real pcscd (a private rig started here): C_Sign
// per second with a DSTU 4145 key pair made on the key, and C_GenerateRandom,
// each with the host's share of the call, that is the time spent outside
// SCardTransmit. After the runs it prints C_Sign's figures and whether the
// host's share stays under 5 %.
//
// SCardTransmit is wrapped by this program (PcscTiming.h), which exports it:
// the module's calls bind to that definition before pcsc-lite's.
//
// Counters per call: calls_per_s; transmits; pcsc_us (inside SCardTransmit:
// pcscd, the reader driver and the key); host_us (everything else: the
// module, the device layer, the protection of the requests); host_share_pct
// = host_us / (host_us + pcsc_us), the host's share of each call. C_Sign's
// run also splits its figures between C_SignInit and C_Sign (init_host_us,
// init_pcsc_us, sign_host_us, sign_pcsc_us).
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "PcscTiming.h"
#include "pkcs11/pkcs11ua.h"

namespace {

using qvk::bench::ShareMeter;

constexpr uint32_t kSerial = 100001;
const std::string kPin = "12345678";
// The host's share of a signature this benchmark expects at most.
constexpr double kHostShareLimitPct = 5.0;

CK_FUNCTION_LIST* g_f = nullptr;

// The figures of the last C_Sign run, for the summary after the runs.
struct SignFigures {
    bool measured = false;
    double callsPerS = 0;
    double hostSharePct = 0;
    double hostUs = 0;
    double pcscUs = 0;
    double signOnlySharePct = 0;  // C_Sign without its C_SignInit
};
SignFigures g_sign;

CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

// The counters of ShareMeter, calls_per_s and host_share_pct.
void Report(const ShareMeter& meter, benchmark::State& state)
{
    meter.Report(state);
    const double total = meter.TotalUs(state);
    state.counters["calls_per_s"] = total > 0 ? 1e6 / total : 0.0;
    state.counters["host_share_pct"] = meter.HostSharePct(state);
}

// A read-write session on slot 0 logged in as the user; 0 (and the error
// set) when that fails.
CK_SESSION_HANDLE LoggedIn(benchmark::State& state)
{
    CK_SESSION_HANDLE h = 0;
    CK_RV rv = g_f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h);
    if (rv == CKR_OK) rv = g_f->C_Login(h, CKU_USER, U(kPin), kPin.size());
    if (rv != CKR_OK) {
        state.SkipWithError(("open and login: rv " + std::to_string(rv)).c_str());
        return 0;
    }
    return h;
}

// 32 random bytes from the key.
void BM_C_GenerateRandom(benchmark::State& state)
{
    const CK_SESSION_HANDLE h = LoggedIn(state);
    if (h == 0) return;
    CK_BYTE out[32];
    ShareMeter meter;
    for (auto _ : state) {
        meter.Begin();
        const CK_RV rv = g_f->C_GenerateRandom(h, out, sizeof(out));
        meter.End();
        if (rv != CKR_OK) {
            state.SkipWithError(("C_GenerateRandom: rv " + std::to_string(rv)).c_str());
            break;
        }
        benchmark::DoNotOptimize(out);
    }
    Report(meter, state);
    g_f->C_CloseSession(h);
}

// A DSTU 4145 signature key pair made on the key (the key holds it: both
// objects are token objects) on the M257 polynomial-basis curve; false (and
// the error set) when the module refuses.
bool GenerateSigningPair(benchmark::State& state, CK_SESSION_HANDLE h, CK_OBJECT_HANDLE* publicKey,
                         CK_OBJECT_HANDLE* privateKey)
{
    // DSTU4145Params ::= SEQUENCE { namedCurve 1.2.804.2.1.1.1.1.3.1.1.2.6 }
    CK_BYTE ecParams[] = {0x30, 0x0F, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01,
                          0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02, 0x06};
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                     {CKA_TOKEN, &yes, sizeof(yes)},
                                     {CKA_VERIFY, &yes, sizeof(yes)},
                                     {CKA_EC_PARAMS, ecParams, sizeof(ecParams)}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                      {CKA_TOKEN, &yes, sizeof(yes)},
                                      {CKA_PRIVATE, &yes, sizeof(yes)},
                                      {CKA_SIGN, &yes, sizeof(yes)}};
    CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    const CK_RV rv = g_f->C_GenerateKeyPair(h, &generate, publicTemplate, 4, privateTemplate, 4, publicKey, privateKey);
    if (rv != CKR_OK) state.SkipWithError(("C_GenerateKeyPair: rv " + std::to_string(rv)).c_str());
    return rv == CKR_OK;
}

// One signature as a signing application makes it: C_SignInit, then C_Sign
// of a 32-byte hash value with CKM_DSTU4145 (the mechanism that signs a hash
// value as given). The last signature must verify with the public key.
void BM_C_Sign(benchmark::State& state)
{
    const CK_SESSION_HANDLE h = LoggedIn(state);
    if (h == 0) return;
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    if (!GenerateSigningPair(state, h, &publicKey, &privateKey)) {
        g_f->C_CloseSession(h);
        return;
    }
    CK_MECHANISM sign{CKM_DSTU4145, nullptr, 0};
    CK_BYTE hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<CK_BYTE>(i);
    CK_BYTE signature[128];
    CK_ULONG length = 0;
    ShareMeter meter, initMeter, signMeter;
    for (auto _ : state) {
        length = sizeof(signature);
        meter.Begin();
        initMeter.Begin();
        CK_RV rv = g_f->C_SignInit(h, &sign, privateKey);
        initMeter.End();
        signMeter.Begin();
        if (rv == CKR_OK) rv = g_f->C_Sign(h, hash, sizeof(hash), signature, &length);
        signMeter.End();
        meter.End();
        if (rv != CKR_OK) {
            state.SkipWithError(("C_SignInit/C_Sign: rv " + std::to_string(rv)).c_str());
            break;
        }
        benchmark::DoNotOptimize(signature);
    }
    if (!state.error_occurred()) {
        CK_RV rv = g_f->C_VerifyInit(h, &sign, publicKey);
        if (rv == CKR_OK) rv = g_f->C_Verify(h, hash, sizeof(hash), signature, length);
        if (rv != CKR_OK) state.SkipWithError(("C_Verify of the last signature: rv " + std::to_string(rv)).c_str());
    }
    Report(meter, state);
    state.counters["init_host_us"] = initMeter.HostUs(state);
    state.counters["init_pcsc_us"] = initMeter.PcscUs(state);
    state.counters["sign_host_us"] = signMeter.HostUs(state);
    state.counters["sign_pcsc_us"] = signMeter.PcscUs(state);
    if (!state.error_occurred() && state.iterations() > 0)
        g_sign = {true,
                  1e6 / meter.TotalUs(state),
                  meter.HostSharePct(state),
                  meter.HostUs(state),
                  meter.PcscUs(state),
                  signMeter.HostSharePct(state)};
    g_f->C_DestroyObject(h, privateKey);
    g_f->C_DestroyObject(h, publicKey);
    g_f->C_CloseSession(h);
}

BENCHMARK(BM_C_GenerateRandom)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_C_Sign)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    setenv("WEMU_NAME_PREFIX", ("qvkp11bench" + std::to_string(getpid()) + "_").c_str(), 1);
    std::unique_ptr<qvk::e2e::KeyRig> rig;
    try {
        rig = std::make_unique<qvk::e2e::KeyRig>(std::vector<qvk::e2e::RigKey>{qvk::e2e::RigKey(kSerial)});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pkcs11_bench: cannot start the key rig: %s\n", e.what());
        return 1;
    }
    void* module = dlopen(QVK_PKCS11_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "pkcs11_bench: %s\n", dlerror());
        return 1;
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module, "C_GetFunctionList"));
    CK_ULONG slots = 0;
    std::string label = "bench";
    label.resize(32, ' ');
    if (get == nullptr || get(&g_f) != CKR_OK || g_f->C_Initialize(nullptr) != CKR_OK ||
        g_f->C_GetSlotList(CK_TRUE, nullptr, &slots) != CKR_OK || slots != 1 ||
        g_f->C_InitToken(0, U(kPin), kPin.size(), U(label)) != CKR_OK) {
        std::fprintf(stderr, "pkcs11_bench: the module does not bring the key in\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_sign.measured)
        std::printf("C_Sign: %.1f signatures/s; host share %.2f %% (host %.0f us, pcsc %.0f us; C_Sign alone %.2f %%): "
                    "under %.0f %%: %s\n",
                    g_sign.callsPerS, g_sign.hostSharePct, g_sign.hostUs, g_sign.pcscUs, g_sign.signOnlySharePct,
                    kHostShareLimitPct, g_sign.hostSharePct < kHostShareLimitPct ? "yes" : "NO");
    g_f->C_Finalize(nullptr);
    dlclose(module);
    return 0;
}
