// Firmware model of one hardware key: its state, its command set and its
// protected answers, as the key's firmware behaves on the wire.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace keyemu {

// What a fresh key is made with.
struct KeyConfig {
    uint32_t serial = 1;
    uint8_t version = 18;         // 7, 9, 11, 17 or 18
    uint32_t capability = 0x200;  // 0x200 = new login scheme; bits 28-31 are the failed-try count
    std::string password;         // access password bytes (Windows-1251), at most 64
    uint8_t infoByte4 = 0;        // device-information byte 4, reported as is
    uint32_t infoWord12 = 0;      // device-information word at byte 12, reported as is
};

// Fault switches; each makes the key answer as a failing key would. They are
// runtime switches, not part of the saved state. Change them between
// Transmit calls (or under the caller's own lock when several threads use
// the key).
struct Faults {
    bool busy = false;             // every command answers status 24 (device busy)
    int busyAnswers = 0;           // the next n commands answer 24, then the key works again
    bool notReady = false;         // device information reports the not-ready state bit; other commands answer 24
    bool shortAnswer = false;      // answers are cut to half their length
    bool badMac = false;           // protected answers carry a corrupted MAC
    bool wrongProtection = false;  // answers carry protection mode 3
    int64_t clockSkewSeconds = 0;  // the key's clock is off by this much until the host sets it
};

class Key {
public:
    // A freshly formatted key: storage erased, no keys; nullptr for a password
    // above 64 bytes.
    static std::unique_ptr<Key> Create(const KeyConfig& config);
    // nullptr when the file is missing or not a key state file.
    static std::unique_ptr<Key> Load(const std::string& path);
    // Writes the whole persistent state (tmp file + rename); false on failure.
    // The session, working key, MAC state and half-done transfers are volatile
    // memory of the key and are not saved: a loaded key starts powered, logged out.
    bool Save(const std::string& path) const;
    // Serialised persistent state (what Save writes) and its inverse.
    std::vector<uint8_t> Serialize() const;
    static std::unique_ptr<Key> Deserialize(const std::vector<uint8_t>& bytes);

    ~Key();
    struct State;  // the key's memory; opaque outside the model
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // Answer to reset: offers T=1.
    std::vector<uint8_t> Atr() const;
    void PowerOn();
    void PowerOff();
    void Reset();  // drops the session, the working key and MAC state

    // A full command APDU in (FF 14 00 00 Lc block-bytes-1..B-1 Le); the answer
    // (block bytes 1..B-1, then 90 00) out. A malformed APDU gets only a status
    // word (67 00, 6E 00, 6D 00); a powered-off key answers nothing (empty).
    // Thread-safe.
    std::vector<uint8_t> Transmit(const std::vector<uint8_t>& apdu);

    Faults& faults();
    const Faults& faults() const;
    uint32_t serial() const;
    uint8_t version() const;
    bool loggedIn() const;
    std::string DumpState() const;  // human-readable, several lines

    // One line per command, e.g. "cmd=13 par=0x00 mode=0 size=64 status=0"
    // (request code, parameter, request mode, block size, answered status).
    void SetCommandLog(std::function<void(const std::string& line)> log);

private:
    explicit Key(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

}  // namespace keyemu
