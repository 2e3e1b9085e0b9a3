#include "PcscTiming.h"

#include <dlfcn.h>
#include <winscard.h>

namespace {

using Clock = qvk::bench::ShareMeter::Clock;
using TransmitFn = LONG (*)(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE, LPDWORD);

// Time spent in SCardTransmit and the number of calls, on this thread.
thread_local Clock::duration t_transmitTime{};
thread_local std::uint64_t t_transmits = 0;

TransmitFn RealTransmit()
{
    static TransmitFn real = reinterpret_cast<TransmitFn>(dlsym(RTLD_NEXT, "SCardTransmit"));
    return real;
}

double PerIteration(Clock::duration d, const benchmark::State& state)
{
    const double iterations = static_cast<double>(state.iterations());
    return iterations == 0 ? 0.0 : std::chrono::duration<double, std::micro>(d).count() / iterations;
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

namespace qvk::bench {

void ShareMeter::Begin()
{
    transmitStart_ = t_transmitTime;
    countStart_ = t_transmits;
    start_ = Clock::now();
}

void ShareMeter::End()
{
    total_ += Clock::now() - start_;
    transmit_ += t_transmitTime - transmitStart_;
    count_ += t_transmits - countStart_;
}

double ShareMeter::TotalUs(const benchmark::State& state) const
{
    return PerIteration(total_, state);
}

double ShareMeter::PcscUs(const benchmark::State& state) const
{
    return PerIteration(transmit_, state);
}

double ShareMeter::Transmits(const benchmark::State& state) const
{
    const double iterations = static_cast<double>(state.iterations());
    return iterations == 0 ? 0.0 : static_cast<double>(count_) / iterations;
}

double ShareMeter::HostSharePct(const benchmark::State& state) const
{
    const double total = TotalUs(state);
    return total > 0 ? 100.0 * HostUs(state) / total : 0.0;
}

void ShareMeter::Report(benchmark::State& state) const
{
    if (state.iterations() == 0) return;
    state.counters["transmits"] = Transmits(state);
    state.counters["pcsc_us"] = PcscUs(state);
    state.counters["host_us"] = HostUs(state);
}

}  // namespace qvk::bench
