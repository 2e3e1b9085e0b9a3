// Firmware model of the key. Everything the host does not fix on the wire is
// the firmware's own behaviour and is described where it is decided.
#include "KeyModel.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <mutex>
#include <sstream>

#include "KeyCrypto.h"
#include "crypto/ByteOrder.h"
#include "dstu4145/DSTU4145.h"

namespace keyemu {

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

// Command codes the firmware answers.
enum : uint8_t {
    kLogin = 1,
    kGetClock = 2,
    kSetClock = 3,
    kReadJournal = 4,
    kGetState = 5,
    kReadAux = 6,
    kWriteAux = 7,
    kGetRandom = 10,
    kReadMemory = 11,
    kFormat = 12,
    kGetDeviceInfo = 13,
    kReadSignPublic = 14,
    kReadSignParams = 15,
    kReadAgreePublic = 16,
    kReadAgreeParams = 17,
    kLogout = 20,
    kErasePage = 32,
    kGenerateSecret = 33,
    kGetMac = 34,
    kEraseSecret = 35,
    kGenerateSignKey = 36,
    kGenerateAgreeKey = 37,
    kAgreeKey = 38,
    kDestroySignKey = 40,
    kDestroyAgreeKey = 41,
    kSignHash = 44,
    kCipherProtected = 50,
    kReadSecret = 54,
    kExportSignPrivate = 55,
    kChangePassword = 60,
    kSetSBox = 62,
    kLoadKeyContext = 63,
    kSetIv = 65,
    kCipherBlocks = 66,
    kStoreSecret = 67,
    kWriteSignKey = 68,
    kWriteAgreeKey = 69,
    kWriteMemory = 70,
    kChangePasswordNew = 101,
    kFormatNew = 111,
    kLoginNew = 131,
    kGetValueNew = 132,
    kAgreeKeyNew = 133,
    kWriteTableNew = 134,
    kCipherNew = 135,
    kCipherProtectedNew = 136,
    kGetMacNew = 137,
    kEraseSecretNew = 138,
    kStoreSecretNew = 139,
    kReadSecretNew = 140,
    kWrapKey = 142,
    kUnwrapKey = 143,
};

// Status codes the firmware answers.
enum : uint8_t {
    kOk = 0,
    kFileExists = 7,
    kBadParameter = 8,
    kBufferTooShort = 9,
    kBadRequest = 20,
    kNotAuthenticated = 21,
    kAlreadyAuthenticated = 22,
    kWrongPassword = 23,
    kBusy = 24,
    kBadState = 25,
    kNoKey = 26,
    kNotExportable = 27,
    kBadAddress = 28,
    kBadChecksum = 29,
    kBadEcParameters = 34,
    kHardwareFailure = 35,
    kJournalExhausted = 37,
    kCorruptedRequest = 40,
};

constexpr size_t kPrivateAreaSize = 3072;
constexpr int kMaxFailedTries = 15;
constexpr size_t kJournalCapacity = 255;
constexpr size_t kSecretSlots = 16;
// A MAC accumulation larger than this is refused; no caller comes near it.
constexpr size_t kMacAccumulatorLimit = 1 << 20;

// The fixed IV of the new-form wrap (32 bytes): the fixed 8-byte IV of the
// old wrap, four times.
constexpr uint8_t kWrapIvNew[32] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05, 0x4A, 0xDD, 0xA2,
                                    0x2C, 0x79, 0xE8, 0x21, 0x05, 0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8,
                                    0x21, 0x05, 0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};

struct KeyPair {
    bool present = false;
    bool exportable = false;
    std::array<uint8_t, 240> params{};
    std::vector<uint8_t> privateKey;  // 64 (signature) or 72 (agreement) bytes
    std::vector<uint8_t> publicKey;   // likewise
};

struct Secret {
    bool present = false;
    std::array<uint8_t, 32> value{};
};

struct JournalRecord {
    uint32_t event = 0;
    uint8_t operation = 0;
    uint8_t result = 0;
    uint16_t detail = 0;
};

// One request being reassembled from chunks.
struct Transfer {
    uint8_t command = 0;
    int nextChunk = 0;
    std::vector<uint8_t> data;
};

// The protection form of a block follows its size.
enum class Form { Old, New };

}  // namespace

struct Key::State {
    // Persistent state.
    uint32_t serial = 0;
    uint8_t version = 18;
    uint32_t capability = 0;  // bits 28-31 are kept in failedTries
    uint8_t failedTries = 0;
    uint8_t infoByte4 = 0;
    uint32_t infoWord12 = 0;
    bool hasValueOld = false, hasValueNew = false;
    std::array<uint8_t, 32> valueOld{}, valueNew{};
    int64_t clockOffset = 0;
    std::vector<uint8_t> publicArea, privateArea;
    KeyPair sign, agree;
    std::array<Secret, kSecretSlots> secrets{};
    std::array<std::array<uint8_t, 64>, 3> sboxes{};
    bool hasWideTable = false;
    std::vector<uint8_t> wideTable;  // 1,024 bytes written by command 134
    std::array<uint8_t, 72> aux{};
    std::deque<JournalRecord> journal;

    // Volatile state: lost at power-off and reset.
    bool powered = false;
    bool session = false;
    std::array<uint8_t, 32> sessionKey{};
    std::array<uint8_t, 32> workKey{};
    std::array<uint8_t, 8> macIv{};
    std::vector<uint8_t> macData, macDataNew;
    Transfer transfer;
    std::vector<uint8_t> signature;  // 144-byte answer of the last signing
    std::vector<uint8_t> wrapped;    // 96-byte answer of the last on-key wrap

    Faults faults;
    std::function<void(const std::string&)> log;
    mutable std::mutex mutex;

    size_t PublicSize() const { return version < 8 ? 1024 : 4096; }
    // The clock-skew fault puts the key's clock off by that much until the
    // host sets it.
    uint32_t Clock() const
    {
        return static_cast<uint32_t>(static_cast<int64_t>(std::time(nullptr)) + clockOffset + faults.clockSkewSeconds);
    }
    uint32_t CapabilityWord() const { return (capability & 0x0FFFFFFFu) | (uint32_t(failedTries) << 28); }

    void DropVolatile()
    {
        session = false;
        kc::Wipe(sessionKey.data(), 32);
        kc::Wipe(workKey.data(), 32);
        macIv.fill(0);
        macData.clear();
        macDataNew.clear();
        transfer = Transfer{};
        signature.clear();
        wrapped.clear();
    }

    void AddJournal(uint8_t op, uint16_t detail, uint8_t result = 0)
    {
        // A full journal drops its oldest record.
        if (journal.size() >= kJournalCapacity) journal.pop_front();
        journal.push_back(JournalRecord{Clock(), op, result, detail});
    }

    void EraseAll()
    {
        publicArea.assign(PublicSize(), 0xFF);
        privateArea.assign(kPrivateAreaSize, 0xFF);
        sign = KeyPair{};
        agree = KeyPair{};
        for (auto& s : secrets) s = Secret{};
        for (auto& t : sboxes) std::memcpy(t.data(), kc::kDefaultSBox, 64);
        hasWideTable = false;
        wideTable.clear();
        aux.fill(0);
    }
};

namespace {

// What a request produced: status, answer data, and how to protect the answer.
struct Reply {
    uint8_t status = kOk;
    std::vector<uint8_t> data;
    const uint8_t* protectKey = nullptr;  // null: the answer goes out in mode 0
};

bool VerifyRequest(std::vector<uint8_t>& block, const uint8_t key[32], Form form)
{
    uint8_t mode = block[2];
    if (mode != 1 && mode != 2) return false;  // the firmware requires a MAC on protected requests
    if (form == Form::Old) {
        if (mode == 2 && !kc::GostEcb(key, kc::kDefaultSBox, block.data() + 4, 7, false)) return false;
        uint8_t mac[4];
        std::memcpy(mac, block.data() + 60, 4);
        std::memset(block.data() + 60, 0, 4);
        uint32_t computed = 0;
        if (!kc::GostMac(key, kc::kDefaultSBox, block.data(), 64, &computed)) return false;
        uint8_t c[4];
        StoreLE32(c, computed);
        return std::memcmp(c, mac, 4) == 0;
    }
    if (mode == 2 && !kc::DstuEcb(key, block.data() + 4, 2, false)) return false;
    uint8_t mac[8];
    if (!kc::DstuCmac(key, block.data(), 544, 8, mac)) return false;
    return std::memcmp(mac, block.data() + 68, 8) == 0;
}

void ProtectAnswer(std::vector<uint8_t>& block, const uint8_t key[32], Form form)
{
    block[2] = 2;
    if (form == Form::Old) {
        std::memset(block.data() + 60, 0, 4);
        uint32_t mac = 0;
        kc::GostMac(key, kc::kDefaultSBox, block.data(), 64, &mac);
        StoreLE32(block.data() + 60, mac);
        kc::GostEcb(key, kc::kDefaultSBox, block.data() + 4, 7, true);
    } else {
        kc::DstuCmac(key, block.data(), 544, 8, block.data() + 68);
        kc::DstuEcb(key, block.data() + 4, 2, true);
    }
}

// Answers that the host reads without verifying are never protected.
bool NeverProtected(uint8_t cmd)
{
    switch (cmd) {
    case kGetClock:
    case kSetClock:
    case kReadJournal:
    case kGetState:
    case kReadAux:
    case kWriteAux:
    case kFormat:
    case kGetDeviceInfo:
    case kLogout:
    case kFormatNew:
        return true;
    default:
        return false;
    }
}

bool NewOnly(uint8_t cmd)
{
    return cmd == kChangePasswordNew || cmd == kFormatNew || (cmd >= kLoginNew && cmd <= kUnwrapKey);
}

std::vector<uint8_t> Pad(const std::vector<uint8_t>& v, size_t n)
{
    std::vector<uint8_t> out(v);
    out.resize(n, 0);
    return out;
}

uint8_t EngineFor(const std::array<uint8_t, 240>& params, std::unique_ptr<dstu4145::Engine>& engine)
{
    dstu4145::Curve curve;
    if (dstu4145::CurveFromDeviceKeyParameters(dstu4145::ByteSpan(params.data(), params.size()), curve) !=
        dstu4145::Result::Ok)
        return kBadEcParameters;
    engine = dstu4145::Engine::Create(curve);
    return engine ? kOk : kBadEcParameters;
}

}  // namespace

// ---------------------------------------------------------------------------
// The command processor.

class Processor {
public:
    Processor(Key::State& s, std::vector<uint8_t>& block) : s_(s), block_(block)
    {
        form_ = block.size() == 76 ? Form::New : Form::Old;
        dataSize_ = form_ == Form::New ? 64 : 56;
        cmd_ = block[1];
        param_ = block[3];
    }

    std::vector<uint8_t> Run(uint8_t* statusOut)
    {
        Reply r = Dispatch();
        std::vector<uint8_t> out(block_.size(), 0);
        out[0] = 2;
        out[1] = cmd_;
        out[2] = 0;
        out[3] = r.status;
        if (!r.data.empty()) std::memcpy(out.data() + 4, r.data.data(), std::min(r.data.size(), dataSize_));
        if (r.protectKey && !NeverProtected(cmd_)) ProtectAnswer(out, r.protectKey, form_);
        if (s_.faults.badMac && out[2] != 0) out[out.size() - 1] ^= 0x5A;
        if (s_.faults.wrongProtection) out[2] = 3;
        *statusOut = r.status;
        return out;
    }

private:
    uint8_t* Data() { return block_.data() + 4; }
    const uint8_t* SessionKey() const { return s_.sessionKey.data(); }

    Reply Plain(uint8_t status, std::vector<uint8_t> data = {})
    {
        Reply r;
        r.status = status;
        r.data = std::move(data);
        return r;
    }
    // An answer to a session-protected request: under the session key while a
    // session is open (errors included), else in mode 0.
    Reply Session(uint8_t status, std::vector<uint8_t> data = {})
    {
        Reply r = Plain(status, std::move(data));
        if (s_.session) r.protectKey = SessionKey();
        return r;
    }

    Reply Dispatch()
    {
        // A busy key still protects its answer under an open session, so that
        // the host can tell a busy answer from a forged one.
        if (s_.faults.busy) return Session(kBusy);
        if (s_.faults.busyAnswers > 0) {
            --s_.faults.busyAnswers;
            return Session(kBusy);
        }
        if (s_.faults.notReady && cmd_ != kGetDeviceInfo) return Session(kBusy);
        if (NewOnly(cmd_) && s_.version < 18) return Plain(kBadRequest);

        switch (cmd_) {
        case kGetDeviceInfo:
            return DeviceInfo();
        case kGetClock:
        case kSetClock:
            return ClockCommand();
        case kLogin:
        case kLoginNew:
            return Login();
        case kLogout:
            // Logout without a session is answered 0 as well.
            s_.DropVolatile();
            return Plain(kOk);
        case kFormat:
        case kFormatNew:
            return Format();
        case kReadJournal:
            return Journal();
        case kGetState:
            return State();
        case kReadAux:
            return Plain(kOk, std::vector<uint8_t>(s_.aux.begin(), s_.aux.begin() + 16));
        case kWriteAux:
            // The aux area takes the whole block from byte 4 on (the MAC field too).
            std::memcpy(s_.aux.data(), Data(), block_.size() - 4);
            return Plain(kOk);
        case kGetRandom:
            return RandomCommand();
        case kReadMemory:
            return ReadMemory();
        default:
            break;
        }
        return SessionCommand();
    }

    Reply DeviceInfo()
    {
        std::vector<uint8_t> d(16, 0);
        StoreLE32(d.data(), s_.serial);
        d[4] = s_.infoByte4;
        d[5] = s_.version;
        d[7] = s_.faults.notReady ? 0x80 : 0;
        StoreLE32(d.data() + 8, s_.CapabilityWord());
        StoreLE32(d.data() + 12, s_.infoWord12);
        return Plain(kOk, d);
    }

    Reply ClockCommand()
    {
        if (s_.version <= 8) return Plain(kBadRequest);
        if (cmd_ == kSetClock) {
            s_.clockOffset = static_cast<int64_t>(LoadLE32(Data())) - static_cast<int64_t>(std::time(nullptr)) -
                             s_.faults.clockSkewSeconds;
            return Plain(kOk);
        }
        std::vector<uint8_t> d(4);
        StoreLE32(d.data(), s_.Clock());
        return Plain(kOk, d);
    }

    Reply Login()
    {
        // Old form only in 64-byte blocks, new form only in 76-byte blocks.
        const bool isNew = cmd_ == kLoginNew;
        if ((isNew && form_ != Form::New) || (!isNew && form_ != Form::Old)) return Plain(kBadRequest);
        // The new scheme answers only once installed (capability 0x200).
        if (isNew && !(s_.capability & 0x200)) return Plain(kBadRequest);
        // A login while a session is open is refused before the password is
        // looked at, so it costs no try.
        if (s_.session) return Plain(kAlreadyAuthenticated);
        // Blocked after 15 failed tries until the key is formatted.
        if (s_.failedTries >= kMaxFailedTries) return Plain(kWrongPassword);
        const bool has = isNew ? s_.hasValueNew : s_.hasValueOld;
        const auto& value = isNew ? s_.valueNew : s_.valueOld;
        uint8_t packetKey[32];
        bool ok =
            has && (isNew ? kc::HashDstu(value.data(), 32, packetKey) : kc::HashGost(value.data(), 32, packetKey));
        ok = ok && VerifyRequest(block_, packetKey, form_) && std::memcmp(Data(), value.data(), 32) == 0;
        if (!ok) {
            // A wrong value or MAC counts a failed try; the 15th blocks the key.
            ++s_.failedTries;
            if (s_.failedTries >= kMaxFailedTries) s_.AddJournal(9, 0);
            kc::Wipe(packetKey, 32);
            return Plain(kWrongPassword);
        }
        s_.failedTries = 0;
        s_.DropVolatile();
        kc::Random(s_.sessionKey.data(), 32);
        s_.session = true;
        Reply r = Plain(kOk, std::vector<uint8_t>(s_.sessionKey.begin(), s_.sessionKey.end()));
        std::memcpy(loginKey_, packetKey, 32);
        kc::Wipe(packetKey, 32);
        r.protectKey = loginKey_;
        return r;
    }

    Reply Format()
    {
        // Format needs no login; it sets the password, erases the storage areas,
        // keys, secrets, tables and aux data, clears the failed tries and ends
        // any session. The journal survives and records the format. Command 12
        // installs the old scheme only (the new scheme is dropped); command 111
        // sets both values and keeps the capability word as it is.
        if (cmd_ == kFormat) {
            std::memcpy(s_.valueOld.data(), Data(), 32);
            s_.hasValueOld = true;
            s_.hasValueNew = false;
            s_.capability &= ~0x200u;
        } else {
            std::memcpy(s_.valueNew.data(), Data(), 32);
            std::memcpy(s_.valueOld.data(), Data() + 32, 32);
            s_.hasValueNew = s_.hasValueOld = true;
        }
        s_.failedTries = 0;
        s_.DropVolatile();
        s_.EraseAll();
        s_.AddJournal(5, 1);
        return Plain(kOk);
    }

    Reply Journal()
    {
        if (s_.version <= 8) return Plain(kBadRequest);
        if (param_ >= s_.journal.size()) return Plain(kJournalExhausted);
        const JournalRecord& j = s_.journal[param_];
        std::vector<uint8_t> d(8);
        StoreLE32(d.data(), j.event);
        d[4] = j.operation;
        d[5] = j.result;
        d[6] = static_cast<uint8_t>(j.detail);
        d[7] = static_cast<uint8_t>(j.detail >> 8);
        return Plain(kOk, d);
    }

    Reply State()
    {
        if (s_.version <= 10) return Plain(kBadRequest);
        // The 17 state bytes: serial, version, session flag, failed tries,
        // journal records, signature and agreement key presence, clock, the
        // selector echoed, then zeros.
        std::vector<uint8_t> d(17, 0);
        StoreLE32(d.data(), s_.serial);
        d[4] = s_.version;
        d[5] = s_.session ? 1 : 0;
        d[6] = s_.failedTries;
        d[7] = static_cast<uint8_t>(s_.journal.size());
        d[8] = s_.sign.present ? 1 : 0;
        d[9] = s_.agree.present ? 1 : 0;
        StoreLE32(d.data() + 10, s_.Clock());
        d[14] = Data()[0];
        return Plain(kOk, d);
    }

    Reply RandomCommand()
    {
        // Random answers go out under the session key while a session is open.
        size_t n = dataSize_ - 1;
        std::vector<uint8_t> d(dataSize_, 0);
        d[0] = static_cast<uint8_t>(n);
        if (!kc::Random(d.data() + 1, n)) return Session(kHardwareFailure);
        return Session(kOk, d);
    }

    Reply ReadMemory()
    {
        const size_t publicChunks = s_.PublicSize() / 32;
        const size_t chunk = param_;
        if (chunk < publicChunks) {
            // Public chunks are read without a login; a protected request is still
            // checked under the key it claims.
            if (block_[2] != 0) {
                if (!VerifyRequest(block_, s_.session ? SessionKey() : zeroKey_, form_))
                    return Session(kCorruptedRequest);
            }
            return Session(
                kOk, std::vector<uint8_t>(s_.publicArea.begin() + chunk * 32, s_.publicArea.begin() + chunk * 32 + 32));
        }
        if (!s_.session) return Plain(kNotAuthenticated);
        if (!VerifyRequest(block_, SessionKey(), form_)) return Session(kCorruptedRequest);
        if (chunk - publicChunks >= kPrivateAreaSize / 32) return Session(kBadAddress);
        size_t off = (chunk - publicChunks) * 32;
        return Session(kOk, std::vector<uint8_t>(s_.privateArea.begin() + off, s_.privateArea.begin() + off + 32));
    }

    // Every other command needs the session key. Before any login the session
    // key is 32 zero bytes and only the public key and parameter reads are
    // accepted under it, because the host reads them while opening the key.
    Reply SessionCommand()
    {
        if (!Known(cmd_)) return Plain(kBadRequest);
        if (!s_.session) {
            bool preLogin = cmd_ >= kReadSignPublic && cmd_ <= kReadAgreeParams;
            if (!preLogin) return Plain(kNotAuthenticated);
            if (!VerifyRequest(block_, zeroKey_, form_)) return Plain(kCorruptedRequest);
            return Execute();
        }
        if (!VerifyRequest(block_, SessionKey(), form_)) return Session(kCorruptedRequest);
        return Execute();
    }

    static bool Known(uint8_t cmd)
    {
        switch (cmd) {
        case kReadSignPublic:
        case kReadSignParams:
        case kReadAgreePublic:
        case kReadAgreeParams:
        case kErasePage:
        case kGenerateSecret:
        case kGetMac:
        case kEraseSecret:
        case kGenerateSignKey:
        case kGenerateAgreeKey:
        case kAgreeKey:
        case kDestroySignKey:
        case kDestroyAgreeKey:
        case kSignHash:
        case kCipherProtected:
        case kReadSecret:
        case kExportSignPrivate:
        case kChangePassword:
        case kSetSBox:
        case kLoadKeyContext:
        case kSetIv:
        case kCipherBlocks:
        case kStoreSecret:
        case kWriteSignKey:
        case kWriteAgreeKey:
        case kWriteMemory:
        case kChangePasswordNew:
        case kGetValueNew:
        case kAgreeKeyNew:
        case kWriteTableNew:
        case kCipherNew:
        case kCipherProtectedNew:
        case kGetMacNew:
        case kEraseSecretNew:
        case kStoreSecretNew:
        case kReadSecretNew:
        case kWrapKey:
        case kUnwrapKey:
            return true;
        default:
            return false;
        }
    }

    Reply Execute()
    {
        switch (cmd_) {
        case kReadSignPublic:
            return ReadChunked(s_.sign, s_.sign.publicKey, 64);
        case kReadAgreePublic:
            return ReadChunked(s_.agree, s_.agree.publicKey, 72);
        case kReadSignParams:
            return ReadChunked(s_.sign, std::vector<uint8_t>(s_.sign.params.begin(), s_.sign.params.end()), 240);
        case kReadAgreeParams:
            return ReadChunked(s_.agree, std::vector<uint8_t>(s_.agree.params.begin(), s_.agree.params.end()), 240);
        case kExportSignPrivate:
            // Only a signature key generated with option 0x80 leaves the key.
            if (s_.sign.present && !s_.sign.exportable) return Session(kNotExportable);
            return ReadChunked(s_.sign, s_.sign.privateKey, 64);
        case kWriteMemory:
            return WriteMemory();
        case kErasePage:
            return ErasePage();
        case kChangePassword:
        case kChangePasswordNew:
            return ChangePassword();
        case kGenerateSecret:
        case kGetValueNew:
            return RandomValue();
        case kStoreSecret:
        case kStoreSecretNew:
            return StoreSecret();
        case kReadSecret:
        case kReadSecretNew:
            return ReadSecret();
        case kEraseSecret:
        case kEraseSecretNew:
            s_.secrets[param_ & (kSecretSlots - 1)] = Secret{};
            return Session(kOk);
        case kLoadKeyContext:
            // A new working key starts a fresh MAC.
            std::memcpy(s_.workKey.data(), Data(), 32);
            ResetMac();
            return Session(kOk);
        case kSetIv:
            std::memcpy(s_.macIv.data(), Data(), 8);
            s_.macData.clear();
            return Session(kOk);
        case kGetMac:
            return GetMacOld();
        case kGetMacNew:
            return GetMacNew();
        case kCipherBlocks:
        case kCipherProtected:
            return CipherOld();
        case kCipherNew:
        case kCipherProtectedNew:
            return CipherNew();
        case kDestroySignKey:
        case kDestroyAgreeKey:
            return Destroy();
        case kSignHash:
            return Sign();
        case kWrapKey:
            return Wrap();
        default:
            break;
        }
        return Chunked();
    }

    // Chunked reads: chunk i answers bytes i*D .. of the item.
    Reply ReadChunked(const KeyPair& pair, const std::vector<uint8_t>& item, size_t total)
    {
        if (!pair.present) return Session(kNoKey);
        size_t chunk = param_ & 0x1F;
        size_t off = chunk * dataSize_;
        if (off >= total) return Session(kBadParameter);
        std::vector<uint8_t> full = Pad(item, total);
        size_t n = std::min(dataSize_, total - off);
        return Session(kOk, std::vector<uint8_t>(full.begin() + off, full.begin() + off + n));
    }

    Reply WriteMemory()
    {
        const size_t publicBlocks = s_.PublicSize() / 32;
        size_t b = param_;
        if (b < publicBlocks) {
            std::memcpy(s_.publicArea.data() + b * 32, Data(), 32);
        } else if (b - publicBlocks < kPrivateAreaSize / 32) {
            std::memcpy(s_.privateArea.data() + (b - publicBlocks) * 32, Data(), 32);
        } else {
            return Session(kBadAddress);
        }
        return Session(kOk);
    }

    Reply ErasePage()
    {
        // Erase fills a 1,024-byte page with 0xFF.
        const size_t publicPages = s_.PublicSize() / 1024;
        size_t p = param_;
        if (p < publicPages) {
            std::memset(s_.publicArea.data() + p * 1024, 0xFF, 1024);
        } else if (p - publicPages < kPrivateAreaSize / 1024) {
            std::memset(s_.privateArea.data() + (p - publicPages) * 1024, 0xFF, 1024);
        } else {
            return Session(kBadAddress);
        }
        return Session(kOk);
    }

    Reply ChangePassword()
    {
        if (cmd_ == kChangePassword) {
            if (form_ != Form::Old) return Session(kBadRequest);
            std::memcpy(s_.valueOld.data(), Data(), 32);
            s_.hasValueOld = true;
        } else if (form_ == Form::New) {
            // New form: both values, the new scheme's first.
            std::memcpy(s_.valueNew.data(), Data(), 32);
            std::memcpy(s_.valueOld.data(), Data() + 32, 32);
            s_.hasValueNew = s_.hasValueOld = true;
        } else {
            // Command 101 in a 64-byte block installs the new scheme (upgrade).
            std::memcpy(s_.valueNew.data(), Data(), 32);
            s_.hasValueNew = true;
            s_.capability |= 0x200;
        }
        s_.AddJournal(1, 0);
        return Session(kOk);
    }

    Reply RandomValue()
    {
        if (cmd_ == kGenerateSecret && s_.version <= 6) return Session(kBadRequest);
        size_t n = 32;
        if (cmd_ == kGetValueNew) {
            if (param_ > 2) return Session(kBadParameter);
            n = 32 + 16 * param_;
        }
        std::vector<uint8_t> d(n);
        if (!kc::Random(d.data(), n)) return Session(kHardwareFailure);
        return Session(kOk, d);
    }

    // Secret slots: the low four bits of the parameter pick the slot; a slot
    // that holds a value is overwritten only with option 0x80 (else 7).
    Reply StoreSecret()
    {
        Secret& slot = s_.secrets[param_ & (kSecretSlots - 1)];
        if (slot.present && !(param_ & 0x80)) return Session(kFileExists);
        slot.present = true;
        std::memcpy(slot.value.data(), Data(), 32);
        return Session(kOk);
    }

    Reply ReadSecret()
    {
        const Secret& slot = s_.secrets[param_ & (kSecretSlots - 1)];
        if (!slot.present) return Session(kNoKey);
        return Session(kOk, std::vector<uint8_t>(slot.value.begin(), slot.value.end()));
    }

    void ResetMac()
    {
        s_.macIv.fill(0);
        s_.macData.clear();
        s_.macDataNew.clear();
    }

    // The old block primitive is GOST 28147-89 simple replacement under the
    // working key with S-box table 2; the old MAC is the GOST 28147-89 MAC mode
    // over the blocks given with option 0x80 (plain text), starting from the
    // value of command 65. Command 66 encrypts, command 50 decrypts.
    Reply CipherOld()
    {
        size_t count = param_ & 0x3F;
        if (count == 0 || count * 8 > dataSize_) return Session(kBadParameter);
        const bool encrypt = cmd_ == kCipherBlocks;
        std::vector<uint8_t> d(Data(), Data() + count * 8);
        if (encrypt && (param_ & 0x80) && !AccumulateOld(d)) return Session(kBufferTooShort);
        if (!kc::GostEcb(s_.workKey.data(), s_.sboxes[1].data(), d.data(), count, encrypt))
            return Session(kHardwareFailure);
        if (!encrypt && (param_ & 0x80) && !AccumulateOld(d)) return Session(kBufferTooShort);
        return Session(kOk, d);
    }

    bool AccumulateOld(const std::vector<uint8_t>& d)
    {
        if (s_.macData.size() + d.size() > kMacAccumulatorLimit) return false;
        s_.macData.insert(s_.macData.end(), d.begin(), d.end());
        return true;
    }

    Reply GetMacOld()
    {
        std::vector<uint8_t> m = s_.macData;
        if (m.size() < 8) m.resize(8, 0);
        for (int i = 0; i < 8; ++i) m[i] ^= s_.macIv[i];
        uint32_t mac = 0;
        if (!kc::GostMac(s_.workKey.data(), s_.sboxes[1].data(), m.data(), m.size(), &mac))
            return Session(kHardwareFailure);
        s_.macIv.fill(0);
        s_.macData.clear();
        std::vector<uint8_t> d(4);
        StoreLE32(d.data(), mac);
        return Session(kOk, d);
    }

    // The new block primitive is DSTU 7624 (256-bit block and key) under the
    // working key; the new MAC is the full-block DSTU 7624 CMAC of the blocks
    // given with option 0x80. Command 135 encrypts, command 136 decrypts.
    Reply CipherNew()
    {
        size_t count = param_ & 0x3F;
        if (count == 0 || count * 32 > dataSize_) return Session(kBadParameter);
        const bool encrypt = cmd_ == kCipherNew;
        std::vector<uint8_t> d(Data(), Data() + count * 32);
        if (encrypt && (param_ & 0x80) && !AccumulateNew(d)) return Session(kBufferTooShort);
        if (!kc::DstuEcb(s_.workKey.data(), d.data(), count, encrypt)) return Session(kHardwareFailure);
        if (!encrypt && (param_ & 0x80) && !AccumulateNew(d)) return Session(kBufferTooShort);
        return Session(kOk, d);
    }

    bool AccumulateNew(const std::vector<uint8_t>& d)
    {
        if (s_.macDataNew.size() + d.size() > kMacAccumulatorLimit) return false;
        s_.macDataNew.insert(s_.macDataNew.end(), d.begin(), d.end());
        return true;
    }

    Reply GetMacNew()
    {
        if (s_.macDataNew.empty()) return Session(kBadState);
        std::vector<uint8_t> d(32);
        if (!kc::DstuCmac(s_.workKey.data(), s_.macDataNew.data(), s_.macDataNew.size() * 8, 32, d.data()))
            return Session(kHardwareFailure);
        s_.macDataNew.clear();
        return Session(kOk, d);
    }

    Reply Destroy()
    {
        // Destroying a key that is absent is not an error.
        const bool signature = cmd_ == kDestroySignKey;
        KeyPair& pair = signature ? s_.sign : s_.agree;
        if (pair.present) {
            kc::Wipe(pair.privateKey.data(), pair.privateKey.size());
            pair = KeyPair{};
            s_.AddJournal(4, signature ? 1 : 2);
        }
        return Session(kOk);
    }

    // Signing: the hash arrives in every chunk; the key signs on chunk 0 and
    // serves chunks 1 and 2 from that signature, packed (r then s) at the start
    // of the 144-byte answer. Option 0x80 signs with the agreement key.
    Reply Sign()
    {
        size_t chunk = param_ & 0x1F;
        if (chunk > 2) return Session(kBadParameter);
        if (chunk == 0) {
            size_t hashLen = 32;
            if (s_.version >= 18) {
                uint8_t code = param_ & 0x60;
                if (code == 0x60) return Session(kBadParameter);
                hashLen = 32 + code / 2;
            }
            if (hashLen > dataSize_) return Session(kBadParameter);
            const KeyPair& pair = (param_ & 0x80) ? s_.agree : s_.sign;
            if (!pair.present) return Session(kNoKey);
            std::unique_ptr<dstu4145::Engine> engine;
            if (uint8_t st = EngineFor(pair.params, engine)) return Session(st);
            dstu4145::Bytes sig;
            if (engine->Sign(dstu4145::ByteSpan(Data(), hashLen),
                             dstu4145::ByteSpan(pair.privateKey.data(), engine->OrderBytes()),
                             sig) != dstu4145::Result::Ok)
                return Session(kHardwareFailure);
            s_.signature = Pad(sig, 144);
        } else if (s_.signature.empty()) {
            return Session(kBadState);
        }
        size_t off = chunk * dataSize_;
        size_t n = std::min(dataSize_, size_t(144) - off);
        std::vector<uint8_t> d(s_.signature.begin() + off, s_.signature.begin() + off + n);
        if (chunk == 2) s_.signature.clear();
        return Session(kOk, d);
    }

    // Requests that arrive in chunks: parameter = option bits OR chunk index.
    Reply Chunked()
    {
        size_t chunk;
        uint8_t options = 0;
        if (cmd_ == kSetSBox) {
            chunk = param_ & 7;
            options = param_ >> 3;  // the table number
            if (options < 1 || options > 3) return Session(kBadParameter);
        } else if (cmd_ == kWriteTableNew || cmd_ == kUnwrapKey) {
            chunk = param_;
        } else {
            chunk = param_ & 0x1F;
            options = param_ & 0xE0;
        }
        Transfer& t = s_.transfer;
        if (chunk == 0) {
            t = Transfer{};
            t.command = cmd_;
        } else if (t.command != cmd_ || static_cast<int>(chunk) != t.nextChunk) {
            t = Transfer{};
            return Session(kBadParameter);
        }
        t.nextChunk = static_cast<int>(chunk) + 1;
        t.data.insert(t.data.end(), Data(), Data() + dataSize_);

        size_t total = 0;
        switch (cmd_) {
        case kGenerateSignKey:
        case kGenerateAgreeKey:
            total = 240;
            break;
        case kWriteSignKey:
            total = 304;
            break;
        case kWriteAgreeKey:
            total = 312;
            break;
        case kAgreeKey:
            total = 168;
            break;
        case kAgreeKeyNew:
            total = t.data.size() > 72 ? 73 + size_t(t.data[72]) : 256;
            break;
        case kSetSBox:
            total = 64;
            break;
        case kWriteTableNew:
            total = 1024;
            break;
        case kUnwrapKey:
            total = 96;
            break;
        default:
            return Session(kBadRequest);
        }
        if (t.data.size() < total) return Session(kOk);
        std::vector<uint8_t> data(t.data.begin(), t.data.begin() + total);
        kc::Wipe(t.data.data(), t.data.size());
        t = Transfer{};
        switch (cmd_) {
        case kGenerateSignKey:
            return Generate(true, data, options);
        case kGenerateAgreeKey:
            return Generate(false, data, options);
        case kWriteSignKey:
            return WriteKey(true, data, options);
        case kWriteAgreeKey:
            return WriteKey(false, data, options);
        case kAgreeKey:
        case kAgreeKeyNew:
            return Agree(data);
        case kSetSBox:
            std::memcpy(s_.sboxes[options - 1].data(), data.data(), 64);
            return Session(kOk);
        case kWriteTableNew:
            s_.wideTable = data;
            s_.hasWideTable = true;
            return Session(kOk);
        case kUnwrapKey:
            return Unwrap(data);
        default:
            return Session(kBadRequest);
        }
    }

    // Keys of version 2 and lower ignore option 0x40: the host pairs the keys.
    bool PairsItself() const { return s_.version > 2; }

    // With option 0x40 the signature pair also serves as the agreement pair.
    void PairAgreementWithSignature()
    {
        s_.agree.present = true;
        s_.agree.exportable = false;
        s_.agree.params = s_.sign.params;
        s_.agree.privateKey = Pad(s_.sign.privateKey, 72);
        s_.agree.publicKey = Pad(s_.sign.publicKey, 72);
    }

    Reply Generate(bool signature, const std::vector<uint8_t>& data, uint8_t options)
    {
        KeyPair pair;
        std::memcpy(pair.params.data(), data.data(), 240);
        std::unique_ptr<dstu4145::Engine> engine;
        if (uint8_t st = EngineFor(pair.params, engine)) return Session(st);
        dstu4145::Bytes d, q;
        if (engine->GenerateKey(d, q) != dstu4145::Result::Ok) return Session(kHardwareFailure);
        const size_t size = signature ? 64 : 72;
        if (d.size() > size || q.size() > size) return Session(kBadEcParameters);
        pair.present = true;
        pair.exportable = signature && (options & 0x80);
        pair.privateKey = Pad(d, size);
        pair.publicKey = Pad(q, size);
        kc::Wipe(d.data(), d.size());
        (signature ? s_.sign : s_.agree) = pair;
        if (signature && (options & 0x40) && PairsItself()) PairAgreementWithSignature();
        s_.AddJournal(3, signature ? 1 : 2);
        return Session(kOk);
    }

    Reply WriteKey(bool signature, const std::vector<uint8_t>& data, uint8_t options)
    {
        KeyPair pair;
        std::memcpy(pair.params.data(), data.data(), 240);
        std::unique_ptr<dstu4145::Engine> engine;
        if (uint8_t st = EngineFor(pair.params, engine)) return Session(st);
        const size_t size = signature ? 64 : 72;
        std::vector<uint8_t> d(data.begin() + 240, data.begin() + 240 + size);
        // The key keeps ceil(nBits/8) bytes; anything above must be zero.
        for (size_t i = engine->OrderBytes(); i < size; ++i)
            if (d[i] != 0) return Session(kBadParameter);
        dstu4145::Bytes q;
        if (engine->PublicFromPrivate(dstu4145::ByteSpan(d.data(), engine->OrderBytes()), q) != dstu4145::Result::Ok)
            return Session(kBadParameter);
        pair.present = true;
        pair.privateKey = d;
        pair.publicKey = Pad(q, size);
        kc::Wipe(d.data(), d.size());
        (signature ? s_.sign : s_.agree) = pair;
        if (signature && (options & 0x40) && PairsItself()) PairAgreementWithSignature();
        s_.AddJournal(2, signature ? 1 : 2);
        return Session(kOk);
    }

    // Key agreement: Z = cofactor * d * Q with the agreement key (the
    // signature key when only it exists); the working key becomes
    // DSTU7564-256(x(Z) in (m+7)/8 bytes || UKM), which two keys holding each
    // other's public keys compute alike.
    Reply Agree(const std::vector<uint8_t>& data)
    {
        const KeyPair& pair = s_.agree.present ? s_.agree : s_.sign;
        if (!pair.present) return Session(kNoKey);
        size_t ukmLen = data[72];
        if (73 + ukmLen > data.size()) return Session(kBadParameter);
        std::unique_ptr<dstu4145::Engine> engine;
        if (uint8_t st = EngineFor(pair.params, engine)) return Session(st);
        dstu4145::Bytes x;
        if (engine->Agree(dstu4145::ByteSpan(pair.privateKey.data(), engine->OrderBytes()),
                          dstu4145::ByteSpan(data.data(), engine->FieldBytes()), x) != dstu4145::Result::Ok)
            return Session(kBadParameter);
        x.insert(x.end(), data.begin() + 73, data.begin() + 73 + ukmLen);
        bool ok = kc::HashDstu(x.data(), x.size(), s_.workKey.data());
        kc::Wipe(x.data(), x.size());
        ResetMac();
        return Session(ok ? kOk : kHardwareFailure);
    }

    // On-key wrap, the same construction as the host's composed wrap: V random,
    // then K, then the new MAC of K; CFB under V over K || MAC; all 96 bytes
    // reversed; CFB under the fixed IV. Chunk 0 carries K and answers bytes
    // 0..63, chunk 1 answers bytes 64..95.
    Reply Wrap()
    {
        size_t chunk = param_;
        if (chunk == 0) {
            std::vector<uint8_t> w(96);
            if (!kc::Random(w.data(), 32)) return Session(kHardwareFailure);
            std::memcpy(w.data() + 32, Data(), 32);
            if (!kc::DstuCmac(s_.workKey.data(), Data(), 256, 32, w.data() + 64) ||
                !Cfb(w.data(), w.data() + 32, 64, true))
                return Session(kHardwareFailure);
            std::reverse(w.begin(), w.end());
            if (!Cfb(kWrapIvNew, w.data(), 96, true)) return Session(kHardwareFailure);
            s_.wrapped = w;
            return Session(kOk, std::vector<uint8_t>(w.begin(), w.begin() + 64));
        }
        if (chunk != 1 || s_.wrapped.empty()) return Session(kBadState);
        std::vector<uint8_t> d(s_.wrapped.begin() + 64, s_.wrapped.end());
        s_.wrapped.clear();
        return Session(kOk, d);
    }

    Reply Unwrap(std::vector<uint8_t> w)
    {
        bool ok = Cfb(kWrapIvNew, w.data(), 96, false);
        std::reverse(w.begin(), w.end());
        ok = ok && Cfb(w.data(), w.data() + 32, 64, false);
        uint8_t mac[32];
        ok = ok && kc::DstuCmac(s_.workKey.data(), w.data() + 32, 256, 32, mac);
        if (!ok) return Session(kHardwareFailure);
        if (std::memcmp(mac, w.data() + 64, 32) != 0) return Session(kBadChecksum);
        std::vector<uint8_t> k(w.begin() + 32, w.begin() + 64);
        kc::Wipe(w.data(), w.size());
        return Session(kOk, k);
    }

    // CFB with 32-byte feedback over the DSTU 7624 block primitive, as the
    // host composes it (a short tail uses the last bytes of the register).
    bool Cfb(const uint8_t iv[32], uint8_t* buf, size_t len, bool encrypt)
    {
        uint8_t f[32];
        std::memcpy(f, iv, 32);
        while (len) {
            if (!kc::DstuEcb(s_.workKey.data(), f, 1, true)) return false;
            size_t n = std::min(len, size_t(32));
            uint8_t* tail = f + 32 - n;
            for (size_t i = 0; i < n; ++i) {
                uint8_t c = encrypt ? uint8_t(buf[i] ^ tail[i]) : buf[i];
                buf[i] ^= tail[i];
                tail[i] = c;
            }
            buf += n;
            len -= n;
        }
        kc::Wipe(f, 32);
        return true;
    }

    Key::State& s_;
    std::vector<uint8_t>& block_;
    Form form_;
    size_t dataSize_;
    uint8_t cmd_, param_;
    uint8_t loginKey_[32] = {};
    const uint8_t zeroKey_[32] = {};
};

// ---------------------------------------------------------------------------

Key::Key(std::unique_ptr<State> state) : s_(std::move(state)) {}
Key::~Key()
{
    if (s_) {
        kc::Wipe(s_->sessionKey.data(), 32);
        kc::Wipe(s_->workKey.data(), 32);
    }
}

std::unique_ptr<Key> Key::Create(const KeyConfig& config)
{
    if (config.password.size() > 64) return nullptr;
    auto s = std::make_unique<State>();
    s->serial = config.serial;
    s->version = config.version;
    s->capability = config.capability & 0x0FFFFFFFu;
    s->failedTries = static_cast<uint8_t>(std::min<uint32_t>(config.capability >> 28, kMaxFailedTries));
    s->infoByte4 = config.infoByte4;
    s->infoWord12 = config.infoWord12;
    if (!kc::LoginValueOld(config.password, s->valueOld.data())) return nullptr;
    s->hasValueOld = true;
    if (config.version >= 18) {
        if (!kc::LoginValueNew(config.password, s->valueNew.data())) return nullptr;
        s->hasValueNew = true;
    }
    s->EraseAll();
    s->powered = true;
    return std::unique_ptr<Key>(new Key(std::move(s)));
}

std::vector<uint8_t> Key::Atr() const
{
    // Direct convention; TD1 = 0x81 (T=1 follows), TD2 = 0x31 (T=1 global:
    // IFSC 0xFE, BWI/CWI 0x45); historical bytes "QVK7Q"; TCK last.
    std::vector<uint8_t> atr = {0x3B, 0xF5, 0x18, 0x00, 0x00, 0x81, 0x31, 0xFE, 0x45, 'Q', 'V', 'K', '7', 'Q'};
    uint8_t tck = 0;
    for (size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
    atr.push_back(tck);
    return atr;
}

void Key::PowerOn()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (!s_->powered) s_->DropVolatile();
    s_->powered = true;
}

void Key::PowerOff()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->DropVolatile();
    s_->powered = false;
}

void Key::Reset()
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->DropVolatile();
    s_->powered = true;
}

std::vector<uint8_t> Key::Transmit(const std::vector<uint8_t>& apdu)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    if (!s_->powered) return {};
    auto sw = [](uint8_t a, uint8_t b) { return std::vector<uint8_t>{a, b}; };
    if (apdu.size() < 5) return sw(0x67, 0x00);
    if (apdu[0] != 0xFF) return sw(0x6E, 0x00);
    if (apdu[1] != 0x14) return sw(0x6D, 0x00);
    const size_t lc = apdu[4];
    const size_t blockSize = lc + 1;
    // 76-byte blocks exist from version 18 on; such keys still take the old
    // 64-byte form (the serial query and the old login scheme use it).
    if ((blockSize != 64 && blockSize != 76) || (blockSize == 76 && s_->version < 18) || apdu.size() < 5 + lc)
        return sw(0x67, 0x00);
    std::vector<uint8_t> block(blockSize, 0);
    block[0] = 1;
    std::memcpy(block.data() + 1, apdu.data() + 5, lc);
    const uint8_t cmd = block[1], mode = block[2], param = block[3];

    uint8_t status = 0;
    std::vector<uint8_t> answer = Processor(*s_, block).Run(&status);
    kc::Wipe(block.data(), block.size());

    std::vector<uint8_t> out(answer.begin() + 1, answer.end());
    kc::Wipe(answer.data(), answer.size());
    if (s_->faults.shortAnswer) out.resize(out.size() / 2);
    out.push_back(0x90);
    out.push_back(0x00);
    if (s_->log) {
        char line[96];
        std::snprintf(line, sizeof line, "cmd=%u par=0x%02x mode=%u size=%zu status=%u", cmd, param, mode, blockSize,
                      status);
        s_->log(line);
    }
    return out;
}

Faults& Key::faults()
{
    return s_->faults;
}
const Faults& Key::faults() const
{
    return s_->faults;
}
uint32_t Key::serial() const
{
    return s_->serial;
}
uint8_t Key::version() const
{
    return s_->version;
}
bool Key::loggedIn() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    return s_->session;
}

void Key::SetCommandLog(std::function<void(const std::string&)> log)
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    s_->log = std::move(log);
}

std::string Key::DumpState() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    const State& s = *s_;
    std::ostringstream o;
    char buf[128];
    std::snprintf(buf, sizeof buf, "serial %06u version %u capability 0x%08x failed tries %u\n", s.serial, s.version,
                  s.CapabilityWord(), s.failedTries);
    o << buf;
    std::snprintf(buf, sizeof buf, "clock %u (offset %lld, skew %lld)\n", s.Clock(),
                  static_cast<long long>(s.clockOffset), static_cast<long long>(s.faults.clockSkewSeconds));
    o << buf;
    o << "powered " << s.powered << " session " << s.session << " old scheme " << s.hasValueOld << " new scheme "
      << s.hasValueNew << "\n";
    auto used = [](const std::vector<uint8_t>& v) {
        size_t n = 0;
        for (uint8_t b : v) n += b != 0xFF;
        return n;
    };
    o << "public area " << s.publicArea.size() << " bytes (" << used(s.publicArea) << " not erased), private area "
      << s.privateArea.size() << " bytes (" << used(s.privateArea) << " not erased)\n";
    auto pair = [&](const char* name, const KeyPair& p) {
        o << name << ": ";
        if (!p.present) {
            o << "none\n";
            return;
        }
        o << "m=" << LoadLE32(p.params.data()) << (p.exportable ? " exportable" : "") << " public ";
        for (uint8_t b : p.publicKey) {
            std::snprintf(buf, sizeof buf, "%02x", b);
            o << buf;
        }
        o << "\n";
    };
    pair("signature key", s.sign);
    pair("agreement key", s.agree);
    size_t secrets = 0;
    for (const auto& x : s.secrets) secrets += x.present;
    o << "secret slots used " << secrets << ", journal records " << s.journal.size() << "\n";
    for (size_t i = 0; i < s.journal.size(); ++i) {
        const JournalRecord& j = s.journal[i];
        std::snprintf(buf, sizeof buf, "  journal %zu: time %u operation %u result %u detail %u\n", i, j.event,
                      j.operation, j.result, j.detail);
        o << buf;
    }
    std::snprintf(buf, sizeof buf, "faults: busy %d not-ready %d short %d bad-mac %d wrong-protection %d\n",
                  s.faults.busy, s.faults.notReady, s.faults.shortAnswer, s.faults.badMac, s.faults.wrongProtection);
    o << buf;
    return o.str();
}

// ---------------------------------------------------------------------------
// Persistent state: the key's non-volatile memory. The session, working key,
// MAC state and transfers are volatile, as on the key, and are not kept.

namespace {
constexpr char kMagic[8] = {'Q', 'V', 'K', 'E', 'Y', 'S', 'T', '1'};

class Writer {
public:
    void U8(uint8_t v) { out.push_back(v); }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void I64(int64_t v)
    {
        uint64_t u = static_cast<uint64_t>(v);
        U32(static_cast<uint32_t>(u));
        U32(static_cast<uint32_t>(u >> 32));
    }
    void Raw(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    void Vec(const std::vector<uint8_t>& v)
    {
        U32(static_cast<uint32_t>(v.size()));
        Raw(v.data(), v.size());
    }
    std::vector<uint8_t> out;
};

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& in) : in_(in) {}
    bool ok() const { return ok_; }
    bool done() const { return pos_ == in_.size(); }
    uint8_t U8() { return Need(1) ? in_[pos_++] : 0; }
    uint32_t U32()
    {
        if (!Need(4)) return 0;
        uint32_t v = LoadLE32(in_.data() + pos_);
        pos_ += 4;
        return v;
    }
    int64_t I64()
    {
        uint64_t lo = U32(), hi = U32();
        return static_cast<int64_t>(lo | hi << 32);
    }
    void Raw(uint8_t* p, size_t n)
    {
        if (!Need(n)) return;
        std::memcpy(p, in_.data() + pos_, n);
        pos_ += n;
    }
    std::vector<uint8_t> Vec(size_t maxSize)
    {
        uint32_t n = U32();
        if (n > maxSize || !Need(n)) {
            ok_ = false;
            return {};
        }
        std::vector<uint8_t> v(in_.begin() + pos_, in_.begin() + pos_ + n);
        pos_ += n;
        return v;
    }

private:
    bool Need(size_t n)
    {
        if (!ok_ || in_.size() - pos_ < n) ok_ = false;
        return ok_;
    }
    const std::vector<uint8_t>& in_;
    size_t pos_ = 0;
    bool ok_ = true;
};

void WritePair(Writer& w, const KeyPair& p)
{
    w.U8(p.present);
    w.U8(p.exportable);
    w.Raw(p.params.data(), 240);
    w.Vec(p.privateKey);
    w.Vec(p.publicKey);
}

bool ReadPair(Reader& r, KeyPair& p, size_t size)
{
    p.present = r.U8() != 0;
    p.exportable = r.U8() != 0;
    r.Raw(p.params.data(), 240);
    p.privateKey = r.Vec(size);
    p.publicKey = r.Vec(size);
    return r.ok() && (!p.present || (p.privateKey.size() == size && p.publicKey.size() == size));
}
}  // namespace

std::vector<uint8_t> Key::Serialize() const
{
    std::lock_guard<std::mutex> lock(s_->mutex);
    const State& s = *s_;
    Writer w;
    w.Raw(reinterpret_cast<const uint8_t*>(kMagic), sizeof kMagic);
    w.U32(s.serial);
    w.U8(s.version);
    w.U32(s.capability);
    w.U8(s.failedTries);
    w.U8(s.infoByte4);
    w.U32(s.infoWord12);
    w.U8(s.hasValueOld);
    w.Raw(s.valueOld.data(), 32);
    w.U8(s.hasValueNew);
    w.Raw(s.valueNew.data(), 32);
    w.I64(s.clockOffset);
    w.Vec(s.publicArea);
    w.Vec(s.privateArea);
    WritePair(w, s.sign);
    WritePair(w, s.agree);
    for (const auto& x : s.secrets) {
        w.U8(x.present);
        w.Raw(x.value.data(), 32);
    }
    for (const auto& t : s.sboxes) w.Raw(t.data(), 64);
    w.U8(s.hasWideTable);
    w.Vec(s.wideTable);
    w.Raw(s.aux.data(), s.aux.size());
    w.U32(static_cast<uint32_t>(s.journal.size()));
    for (const auto& j : s.journal) {
        w.U32(j.event);
        w.U8(j.operation);
        w.U8(j.result);
        w.U32(j.detail);
    }
    return w.out;
}

std::unique_ptr<Key> Key::Deserialize(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) return nullptr;
    std::vector<uint8_t> body(bytes.begin() + sizeof kMagic, bytes.end());
    Reader r(body);
    auto s = std::make_unique<State>();
    s->serial = r.U32();
    s->version = r.U8();
    s->capability = r.U32();
    s->failedTries = r.U8();
    s->infoByte4 = r.U8();
    s->infoWord12 = r.U32();
    s->hasValueOld = r.U8() != 0;
    r.Raw(s->valueOld.data(), 32);
    s->hasValueNew = r.U8() != 0;
    r.Raw(s->valueNew.data(), 32);
    s->clockOffset = r.I64();
    s->publicArea = r.Vec(4096);
    s->privateArea = r.Vec(kPrivateAreaSize);
    if (!ReadPair(r, s->sign, 64) || !ReadPair(r, s->agree, 72)) return nullptr;
    for (auto& x : s->secrets) {
        x.present = r.U8() != 0;
        r.Raw(x.value.data(), 32);
    }
    for (auto& t : s->sboxes) r.Raw(t.data(), 64);
    s->hasWideTable = r.U8() != 0;
    s->wideTable = r.Vec(1024);
    r.Raw(s->aux.data(), s->aux.size());
    uint32_t records = r.U32();
    if (!r.ok() || records > kJournalCapacity) return nullptr;
    for (uint32_t i = 0; i < records; ++i) {
        JournalRecord j;
        j.event = r.U32();
        j.operation = r.U8();
        j.result = r.U8();
        j.detail = static_cast<uint16_t>(r.U32());
        s->journal.push_back(j);
    }
    if (!r.ok() || !r.done() || s->publicArea.size() != s->PublicSize() || s->privateArea.size() != kPrivateAreaSize ||
        s->failedTries > kMaxFailedTries)
        return nullptr;
    s->powered = true;
    return std::unique_ptr<Key>(new Key(std::move(s)));
}

std::unique_ptr<Key> Key::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return nullptr;
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Deserialize(bytes);
}

bool Key::Save(const std::string& path) const
{
    std::vector<uint8_t> bytes = Serialize();
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace keyemu
