// Control side of the in-process PC/SC double: the library libpcscdouble.so
// exports the SCard* calls of pcsc-lite backed by in-process key models, and
// these functions let a test plug keys in, pull them out and set their faults.
// All functions are thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KeyModel.h"

namespace keyemu::pcscdouble {

// Model prefix of every reader the double makes for a key.
inline constexpr const char* kReaderPrefix = "TVR Q.uor Korvo-7Q";

// Adds a reader holding the key, named "<prefix> 00 00", "<prefix> 00 01" ...
// (the lowest free number); returns the reader name.
std::string AddKey(std::unique_ptr<Key> key);
std::string AddKey(const KeyConfig& config);
// Adds an empty reader with another name (to test that it is skipped).
void AddForeignReader(const std::string& name);
// Removes the reader and its key altogether; false when unknown.
bool RemoveReader(const std::string& reader);

// Pulls the key out of its reader (the reader stays, empty); open card
// handles on it fail from now on with SCARD_W_REMOVED_CARD. Returns the key,
// or nullptr when the reader is unknown or already empty.
std::unique_ptr<Key> Unplug(const std::string& reader);
// Puts a key (back) into an empty reader; false when unknown or occupied.
bool Replug(const std::string& reader, std::unique_ptr<Key> key);
// Card reset: the key drops its session; open handles stay usable.
bool ResetCard(const std::string& reader);

// The key in the reader (owned by the double), or nullptr.
Key* GetKey(const std::string& reader);
// Reader names in list order (foreign readers included).
std::vector<std::string> Readers();

// The next `count` SCardTransmit calls on the reader fail with
// SCARD_E_NOT_TRANSACTED without reaching the key.
void FailTransmits(const std::string& reader, int count);
// The next `pass` SCardTransmit calls on the reader reach the key, then
// `count` fail as FailTransmits has them fail (a negative count: every one
// until the faults are set again), as when the caller died or the line broke.
void FailTransmitsAfter(const std::string& reader, int pass, int count);

// Command log lines of the key in the reader since it was added or the log
// was cleared ("cmd=13 par=0x00 mode=0 status=0").
std::vector<std::string> CommandLog(const std::string& reader);
void ClearCommandLog(const std::string& reader);

// Counters of PC/SC calls since the last ResetAll (for tests that check that
// nothing was sent).
struct CallCounts {
    int establish = 0, listReaders = 0, connect = 0, transmit = 0, getAttrib = 0, disconnect = 0, release = 0;
};
CallCounts Calls();

// Removes every reader and key, closes every context and handle, and clears
// the counters.
void ResetAll();

}  // namespace keyemu::pcscdouble
