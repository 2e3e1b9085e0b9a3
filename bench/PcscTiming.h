// The time a benchmark's calls spend inside SCardTransmit (pcscd, the reader
// driver and the key) and outside it (the host's own work).
//
// PcscTiming.cpp defines SCardTransmit: a program that links it takes that
// definition in place of pcsc-lite's, for its own calls and (when the
// program exports its symbols) for the libraries it loads; the definition
// times the call on the calling thread and hands it on to pcsc-lite's.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

namespace qvk::bench {

// Splits the measured iterations into time inside and outside SCardTransmit
// on this thread: Begin and End around each measured call.
class ShareMeter {
public:
    using Clock = std::chrono::steady_clock;

    void Begin();
    void End();

    // Per measured call, over the iterations of state; 0 before any.
    double TotalUs(const benchmark::State& state) const;
    double PcscUs(const benchmark::State& state) const;
    double HostUs(const benchmark::State& state) const { return TotalUs(state) - PcscUs(state); }
    double Transmits(const benchmark::State& state) const;
    // host / (host + pcsc), in per cent: the host's share of each call.
    double HostSharePct(const benchmark::State& state) const;

    // Counters transmits, pcsc_us and host_us.
    void Report(benchmark::State& state) const;

private:
    Clock::time_point start_;
    Clock::duration transmitStart_{};
    std::uint64_t countStart_ = 0;
    Clock::duration total_{};
    Clock::duration transmit_{};
    std::uint64_t count_ = 0;
};

}  // namespace qvk::bench
