// Test-side tap on the PC/SC calls of the device layer: records the APDUs
// sent, rewrites answers and injects PC/SC failures, by interposing the SCard
// calls in the test program and forwarding them to the in-process double.
// Also captures what the device layer writes to syslog.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pcsctap {

void Reset();

// Every command APDU sent with SCardTransmit since Reset, in order.
std::vector<std::vector<uint8_t>> Apdus();
// Command codes (APDU byte 5) of the APDUs sent since Reset.
std::vector<int> Commands();

// The next `count` answers to `command` carry `status` instead of the key's.
void ForceStatus(uint8_t command, uint8_t status, int count);
// Called with every successful exchange: the command APDU and the answer
// (block bytes 1..B-1, then the status word), which it may change. An empty
// function removes the hook; Reset removes it too.
using AnswerHook = std::function<void(const std::vector<uint8_t>& apdu, std::vector<uint8_t>& answer)>;
void SetAnswerHook(AnswerHook hook);

// The next `count` calls fail with the PC/SC code.
void FailEstablish(long code, int count);
void FailListReaders(long code, int count);

// A connection of the test's own to a reader (to hand in as a borrowed one).
bool ConnectOwn(const std::string& reader, intptr_t* context, intptr_t* card);
// Sends the device-information query on a connection; true when answered.
bool ProbeOwn(intptr_t card);
void DisconnectOwn(intptr_t context, intptr_t card);

struct LogEvent {
    std::string identity;
    int priority;
    std::string message;
};
std::vector<LogEvent> SyslogEvents();

}  // namespace pcsctap
