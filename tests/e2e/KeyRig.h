// A private pcscd with emulated keys for end-to-end tests (scripts/keyrig).
//
// One rig directory per test process: pcsc-lite's client library reads
// PCSCLITE_CSOCK_NAME once, so every rig of a process uses the same socket
// path, and rigs of concurrent test processes never meet.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvk::e2e {

struct RigKey {
    explicit RigKey(uint32_t serialNumber, int versionByte = 18, std::string accessPassword = "12345678")
        : serial(serialNumber), version(versionByte), password(std::move(accessPassword))
    {
    }
    uint32_t serial;
    int version;
    std::string password;
    std::optional<uint32_t> capability;  // default: 0x200 from version 18 on, else 0
};

class KeyRig {
public:
    // Starts a rig with fresh key states (the process's rig directory is
    // emptied first). Throws std::runtime_error with the script's output.
    explicit KeyRig(std::vector<RigKey> keys);
    // Stops the rig and removes its directory (kept when QVK_KEEP_RIG is set).
    ~KeyRig();
    KeyRig(const KeyRig&) = delete;
    KeyRig& operator=(const KeyRig&) = delete;

    // Kills keyemu at once (SIGKILL, nothing saved on the way out); pcscd
    // sees the keys removed. Stop() and Start() bring them back.
    void KillEmulator();

    // Stops pcscd and keyemu; the key state files stay.
    void Stop();
    // Starts again over the stored key states, with these keys' options
    // (which only matter for a key whose state file is missing).
    void Start(const std::vector<RigKey>& keys);

    const std::string& dir() const { return dir_; }

    // Sends one control line to keyemu; the data lines of the answer. Throws
    // std::runtime_error when keyemu answers ERR or cannot be reached.
    std::string Control(const std::string& line) const;

    // Name of the reader that holds key n.
    static std::string ReaderName(int n);

    // Waits until pcscd sees the reader with (present) or without a card.
    bool WaitCard(int n, bool present, int timeoutMs = 10000) const;

    // The process's rig directory.
    static std::string ProcessDir();

    // Runs scripts/keyrig with these arguments; its exit status, standard
    // output in *out, standard error in *err.
    static int RunScript(const std::vector<std::string>& args, std::string* out, std::string* err);

private:
    std::string dir_;
    bool running_ = false;
};

}  // namespace qvk::e2e
