// The PKCS#11 module, loaded with dlopen as an application loads it, against
// one emulated key behind a real pcscd (a private rig started here): C_Sign
// per second with a DSTU 4145 key made on the key, and C_GenerateRandom, each
// with the host's share of the call, that is the time spent outside
// SCardTransmit.
//
// SCardTransmit is wrapped by this program, which exports it: the module's
// calls bind to this definition before pcsc-lite's, which it times and hands
// the call on to.
//
// Counters per call: calls_per_s; transmits; pcsc_us (inside SCardTransmit:
// pcscd, the reader driver and the key); host_us (everything else: the
// module, the device layer, the protection of the requests); host_share_pct
// = host_us / (host_us + pcsc_us), the host's share of each call.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>
#include <winscard.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "pkcs11/pkcs11ua.h"

namespace {

using Clock = std::chrono::steady_clock;
using TransmitFn = LONG (*)(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE, LPDWORD);

constexpr uint32_t kSerial = 100001;
const std::string kPin = "12345678";

thread_local Clock::duration t_transmitTime{};
thread_local uint64_t t_transmits = 0;

TransmitFn RealTransmit()
{
    static TransmitFn real = reinterpret_cast<TransmitFn>(dlsym(RTLD_NEXT, "SCardTransmit"));
    return real;
}

}  // namespace

extern "C" LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE send, DWORD sendLength,
                              SCARD_IO_REQUEST* receivePci, LPBYTE receive, LPDWORD receiveLength)
{
    TransmitFn real = RealTransmit();
    if (real == nullptr) return SCARD_F_INTERNAL_ERROR;
    const Clock::time_point start = Clock::now();
    const LONG rc = real(card, sendPci, send, sendLength, receivePci, receive, receiveLength);
    t_transmitTime += Clock::now() - start;
    ++t_transmits;
    return rc;
}

namespace {

CK_FUNCTION_LIST* g_f = nullptr;

CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

class ShareMeter {
public:
    void Begin()
    {
        transmitStart_ = t_transmitTime;
        countStart_ = t_transmits;
        start_ = Clock::now();
    }
    void End()
    {
        total_ += Clock::now() - start_;
        transmit_ += t_transmitTime - transmitStart_;
        count_ += t_transmits - countStart_;
    }
    void Report(benchmark::State& state) const
    {
        const double iterations = static_cast<double>(state.iterations());
        if (iterations == 0) return;
        const double totalUs = std::chrono::duration<double, std::micro>(total_).count() / iterations;
        const double pcscUs = std::chrono::duration<double, std::micro>(transmit_).count() / iterations;
        state.counters["calls_per_s"] = totalUs > 0 ? 1e6 / totalUs : 0.0;
        state.counters["transmits"] = static_cast<double>(count_) / iterations;
        state.counters["pcsc_us"] = pcscUs;
        state.counters["host_us"] = totalUs - pcscUs;
        state.counters["host_share_pct"] = totalUs > 0 ? 100.0 * (totalUs - pcscUs) / totalUs : 0.0;
    }

private:
    Clock::time_point start_;
    Clock::duration transmitStart_{};
    uint64_t countStart_ = 0;
    Clock::duration total_{};
    Clock::duration transmit_{};
    uint64_t count_ = 0;
};

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
    meter.Report(state);
    g_f->C_CloseSession(h);
}

// C_SignInit + C_Sign of a 32-byte DSTU 7564-256 hash value with a session
// DSTU 4145 key pair made on the key (M257 polynomial-basis curve, default
// S-box), the way a signing application calls the module.
void BM_C_Sign(benchmark::State& state)
{
    const CK_SESSION_HANDLE h = LoggedIn(state);
    if (h == 0) return;
    // DSTU4145Params ::= SEQUENCE { namedCurve 1.2.804.2.1.1.1.1.3.1.1.2.6 }
    CK_BYTE ecParams[] = {0x30, 0x0F, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01,
                          0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02, 0x06};
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    CK_ATTRIBUTE publicTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                     {CKA_TOKEN, &no, sizeof(no)},
                                     {CKA_VERIFY, &yes, sizeof(yes)},
                                     {CKA_EC_PARAMS, ecParams, sizeof(ecParams)}};
    CK_ATTRIBUTE privateTemplate[] = {{CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                                      {CKA_TOKEN, &no, sizeof(no)},
                                      {CKA_PRIVATE, &yes, sizeof(yes)},
                                      {CKA_SIGN, &yes, sizeof(yes)}};
    CK_MECHANISM generate{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE publicKey = 0, privateKey = 0;
    const CK_RV made =
        g_f->C_GenerateKeyPair(h, &generate, publicTemplate, 4, privateTemplate, 4, &publicKey, &privateKey);
    if (made != CKR_OK) {
        state.SkipWithError(("C_GenerateKeyPair: rv " + std::to_string(made) +
                             (made == CKR_FUNCTION_NOT_SUPPORTED ? " (not offered by this build)" : ""))
                                .c_str());
        g_f->C_CloseSession(h);
        return;
    }
    CK_MECHANISM sign{CKM_DSTU4145, nullptr, 0};
    CK_BYTE hash[32];
    for (int i = 0; i < 32; ++i) hash[i] = static_cast<CK_BYTE>(i);
    CK_BYTE signature[128];
    ShareMeter meter;
    for (auto _ : state) {
        CK_ULONG length = sizeof(signature);
        meter.Begin();
        CK_RV rv = g_f->C_SignInit(h, &sign, privateKey);
        if (rv == CKR_OK) rv = g_f->C_Sign(h, hash, sizeof(hash), signature, &length);
        meter.End();
        if (rv != CKR_OK) {
            state.SkipWithError(("C_SignInit/C_Sign: rv " + std::to_string(rv)).c_str());
            break;
        }
        benchmark::DoNotOptimize(signature);
    }
    meter.Report(state);
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
    g_f->C_Finalize(nullptr);
    dlclose(module);
    return 0;
}
