// The device layer's handling of the key's answers. A real session runs
// against the emulated key behind the PC/SC double; the input picks an
// operation and one of its answers, and keeps that answer, truncates it,
// replaces its bytes, appends to it, or puts attacker bytes under a valid
// MAC of the session key. Every operation must end with a status, write
// nothing outside its output buffer, and answer 0 only when each answer it
// took could have come from the key.
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PcscTap.h"
#include "StandardParameters.h"
#include "device/DeviceInternal.h"
#include "device/DeviceProtocol.h"
#include "keyemu/PcscDouble.h"

namespace {

using qvkfuzz::Bytes;
using qvkfuzz::Check;
namespace pd = keyemu::pcscdouble;

constexpr std::size_t kGuard = 32;
constexpr std::uint8_t kGuardByte = 0xA5;
constexpr char kPassword[] = "1234";

struct Operation {
    const char* name;
    bool authenticated;  // the answer is checked under the session key
    std::size_t outSize;
    bool deterministic;  // a repeat gives the same output
    std::function<void(DeviceContext*)> prepare;
    std::function<std::uint32_t(DeviceContext*, std::uint8_t*)> run;
};

const std::uint8_t kHash[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::uint8_t kBlockData[32] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

std::vector<Operation> Operations()
{
    auto none = [](DeviceContext*) {};
    return {
        {"device info", false, sizeof(DeviceInfo), true, none,
         [](DeviceContext* c, std::uint8_t* out) { return QueryDeviceInfo(c, reinterpret_cast<DeviceInfo*>(out)); }},
        {"storage read", true, 32, true, [](DeviceContext* c) { InvalidateMemoryImage(c, 0); },
         [](DeviceContext* c, std::uint8_t* out) { return ReadMemoryBlock(c, out, 3); }},
        {"storage write", true, 0, true, none,
         [](DeviceContext* c, std::uint8_t*) { return WriteMemoryBlock(c, kBlockData, 5); }},
        {"key parameters", true, DEVICE_KEY_PARAMETERS_BYTES, true, none,
         [](DeviceContext* c, std::uint8_t* out) { return ReadSignatureKeyParameters(c, 0, 0, out); }},
        {"public key", true, DEVICE_SIGN_KEY_BYTES, true,
         [](DeviceContext* c) { InvalidateSignaturePublicKeyCache(c); },
         [](DeviceContext* c, std::uint8_t* out) { return LoadSignaturePublicKey(c, out); }},
        {"sign", true, DEVICE_SIGNATURE_BYTES, false, none,
         [](DeviceContext* c, std::uint8_t* out) { return SignHashOnDevice(c, kHash, 32, out, 0); }},
        {"random", true, 150, false, none,
         [](DeviceContext* c, std::uint8_t* out) { return GetDeviceRandom(c, out, 150); }},
        {"journal", false, sizeof(JournalRecord), true, none,
         [](DeviceContext* c, std::uint8_t* out) {
             return ReadJournalRecord(c, 0, reinterpret_cast<JournalRecord*>(out));
         }},
        {"state", false, DEVICE_STATE_BYTES, false, none,
         [](DeviceContext* c, std::uint8_t* out) { return GetDeviceState(c, 0, out); }},
        // Not a repeatable output: every writer moves the storage change mark
        // kept in the first auxiliary record.
        {"aux", false, DEVICE_AUX_RECORD_BYTES, false, none,
         [](DeviceContext* c, std::uint8_t* out) {
             int length = 0;
             return ReadAuxRecord(c, 0, out, &length);
         }},
    };
}

enum Mutation { Kept, Truncated, Replaced, Appended, ValidMac, kMutations };

// Rewrites one answer of an operation as the input says, and tells whether
// what it left could still be the key's own answer: one whose content the
// layer may take (success under a valid MAC, or a whole answer marked
// unprotected), or a refusal (any other status under a valid MAC, or a whole
// answer that says busy), after which the layer may ask again, log out and
// ask again, and so on, but never takes the refusal's content.
class Mutator {
public:
    Mutator(DeviceContext* context, int target, Mutation kind, Bytes bytes)
        : context_(context), target_(target), kind_(kind), bytes_(std::move(bytes))
    {
    }

    void operator()(const std::vector<std::uint8_t>&, std::vector<std::uint8_t>& answer)
    {
        if (seen_++ != target_ || kind_ == Kept) return;
        const std::size_t blockBytes = qvkdev::BlockSizeFor(context_->version) - 1;
        if (answer.size() < blockBytes + 2) return;  // the double's own error answer
        const std::vector<std::uint8_t> before = answer;
        bool genuine = false, refusal = false;
        switch (kind_) {
        case Truncated:
            answer.resize(bytes_.empty() ? 0 : bytes_[0] % answer.size());
            break;
        case Replaced:
            for (std::size_t i = 0; i < blockBytes && i < bytes_.size(); ++i) answer[i] = bytes_[i];
            break;
        case Appended:
            answer.insert(answer.end(), bytes_.begin(), bytes_.end());
            break;
        case ValidMac: {
            qvkfuzz::Input in(bytes_.data(), bytes_.size());
            DeviceBlock block{};
            block.direction = 2;
            std::memcpy(block.bytes() + 1, answer.data(), blockBytes);
            VerifyBlock(context_, &block);  // the plain text of an encrypted answer
            block.parameter = in.Byte();
            const Bytes data = in.Take(sizeof block.data);
            if (!data.empty()) std::memcpy(block.data, data.data(), data.size());
            ProtectBlock(context_, &block, static_cast<std::uint8_t>(1 + in.Byte() % 2));
            std::memcpy(answer.data(), block.bytes() + 1, blockBytes);
            genuine = block.parameter == 0;
            refusal = !genuine;
            break;
        }
        default:
            break;
        }
        const bool blockChanged =
            answer.size() < blockBytes || !std::equal(before.begin(), before.begin() + blockBytes, answer.begin());
        if (!blockChanged) return;
        // An answer marked unprotected is taken as it is, on any command: when
        // whole it cannot be told from the key's own. A whole answer that
        // says busy, protected or not, only makes the layer ask again.
        if (answer.size() >= blockBytes && answer[2] == 0) genuine = true;
        if (answer.size() >= blockBytes && answer[2] == KEYERR_DEVICE_BUSY) refusal = true;
        // Nor can a whole unprotected answer that refuses, whatever its status.
        if (!genuine && answer.size() >= blockBytes && answer[1] == 0 && answer[2] != 0) refusal = true;
        // Logged out, the layer cannot check an answer marked protected: it
        // takes one as a sign of another program's session on the key (logs
        // that out and asks again) or refuses it, never takes its content.
        if (!genuine && answer.size() >= blockBytes && answer[1] != 0 && !context_->loggedIn) refusal = true;
        changed_ = true;
        if (!genuine && !refusal) allGenuine_ = false;
        if (!refusal) onlyRefusals_ = false;
    }

    bool MaySucceed() const { return !changed_ || allGenuine_; }
    bool Changed() const { return changed_; }
    // Every changed answer was a refusal: what the operation took came from
    // the key's own answers.
    bool OnlyRefusals() const { return changed_ && onlyRefusals_; }

private:
    DeviceContext* context_;
    int target_;
    Mutation kind_;
    Bytes bytes_;
    int seen_ = 0;
    bool changed_ = false;
    bool allGenuine_ = true;
    bool onlyRefusals_ = true;
};

struct Key {
    std::string reader;
    DeviceContext* context = nullptr;
    std::vector<Bytes> baselines;  // per operation, for the deterministic ones
};

Key g_keys[2];  // new form (version 18), old form (version 11)

Bytes RunPlain(DeviceContext* c, const Operation& op, std::uint32_t* result)
{
    op.prepare(c);
    Bytes out(op.outSize + 1, 0);
    *result = op.run(c, out.data());
    out.resize(op.outSize);
    return out;
}

bool OpenKeys()
{
    setenv("WEMU_NAME_PREFIX", ("qvkfuzzdev" + std::to_string(getpid()) + "_").c_str(), 1);
    pd::ResetAll();
    pcsctap::Reset();
    qvkdev::DeviceTimings().retryBudgetMs = 40;
    qvkdev::DeviceTimings().retryPauseMs = 1;
    qvkdev::DeviceTimings().mutexWaitMs = 300;
    const std::uint8_t versions[2] = {18, 11};
    for (int k = 0; k < 2; ++k) {
        keyemu::KeyConfig config;
        config.serial = 9201 + static_cast<std::uint32_t>(k);
        config.version = versions[k];
        config.capability = versions[k] >= 18 ? 0x200 : 0;
        config.password = kPassword;
        g_keys[k].reader = pd::AddKey(config);
        DeviceContext* c = OpenDevice(config.serial);
        if (c == nullptr || AuthenticateDevice(c, kPassword) != 0) return false;
        const DeviceKeyParameters parameters = devtest::StandardParameters(0);
        if (GenerateSignatureKey(c, parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT) != 0 ||
            WriteMemoryBlock(c, kBlockData, 5) != 0)
            return false;
        g_keys[k].context = c;
        for (const Operation& op : Operations()) {
            std::uint32_t r = 0;
            g_keys[k].baselines.push_back(RunPlain(c, op, &r));
            if (r != 0) return false;
        }
    }
    return true;
}

// Seeds from the real answers of every operation: each kept, truncated,
// replaced by itself, lengthened, and its plain text under a valid MAC.
void WriteSeeds(const std::string& folder)
{
    const std::vector<Operation> ops = Operations();
    for (int k = 0; k < 2; ++k)
        for (std::size_t o = 0; o < ops.size(); ++o) {
            DeviceContext* c = g_keys[k].context;
            Bytes first, plain;
            pcsctap::SetAnswerHook([&](const std::vector<std::uint8_t>&, std::vector<std::uint8_t>& answer) {
                if (!first.empty()) return;
                first = answer;
                const std::size_t blockBytes = qvkdev::BlockSizeFor(c->version) - 1;
                if (answer.size() < blockBytes) return;
                DeviceBlock block{};
                block.direction = 2;
                std::memcpy(block.bytes() + 1, answer.data(), blockBytes);
                VerifyBlock(c, &block);
                plain.push_back(block.parameter);
                plain.insert(plain.end(), block.data, block.data + sizeof block.data);
                plain.push_back(0);
            });
            std::uint32_t r = 0;
            RunPlain(c, ops[o], &r);
            pcsctap::SetAnswerHook({});
            const std::uint8_t head = static_cast<std::uint8_t>(o * 2 + static_cast<std::size_t>(k));
            const std::string name = std::string(k == 0 ? "new-" : "old-") + std::to_string(o);
            qvkfuzz::WriteSeed(folder, name + "-kept", Bytes{head, 0, Kept});
            qvkfuzz::WriteSeed(folder, name + "-truncated", Bytes{head, 0, Truncated, 40});
            Bytes replaced{head, 0, Replaced};
            replaced.insert(replaced.end(), first.begin(), first.end());
            qvkfuzz::WriteSeed(folder, name + "-replaced", replaced);
            qvkfuzz::WriteSeed(folder, name + "-appended", Bytes{head, 0, Appended, 0x90, 0x00, 0xFF});
            Bytes mac{head, 0, ValidMac};
            mac.insert(mac.end(), plain.begin(), plain.end());
            qvkfuzz::WriteSeed(folder, name + "-valid-mac", mac);
        }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Check(OpenKeys(), "the emulated keys open and log in");
    qvkfuzz::WriteSeedsWhenAsked(WriteSeeds);
    return 0;
}

// Byte 0: operation and key; byte 1: which answer; byte 2: the mutation; the
// rest: its bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<Operation> ops = Operations();
    qvkfuzz::Input in(data, size);
    const std::uint8_t head = in.Byte();
    const int target = in.Byte() % 4;
    const auto kind = static_cast<Mutation>(in.Byte() % kMutations);
    Key& key = g_keys[head & 1];
    const std::size_t which = (head >> 1) % ops.size();
    const Operation& op = ops[which];
    DeviceContext* c = key.context;
    // The double and the tap keep every command and log line for the tests
    // that look; nothing here does, and kept they would grow by some
    // kilobytes an input.
    pcsctap::Reset();
    pd::ClearCommandLog(key.reader);

    auto mutator = std::make_shared<Mutator>(c, target, kind, in.Rest());
    op.prepare(c);
    Bytes out(op.outSize + 2 * kGuard, kGuardByte);
    std::memset(out.data() + kGuard, 0x5A, op.outSize);
    pcsctap::SetAnswerHook([mutator](const std::vector<std::uint8_t>& apdu, std::vector<std::uint8_t>& answer) {
        (*mutator)(apdu, answer);
    });
    const std::uint32_t r = op.run(c, out.data() + kGuard);
    pcsctap::SetAnswerHook({});

    for (std::size_t i = 0; i < kGuard; ++i)
        Check(out[i] == kGuardByte && out[kGuard + op.outSize + i] == kGuardByte, "output stays in its buffer");
    if (!mutator->MaySucceed()) Check(r != 0, "an answer the key could not have sent is refused");
    if (r == 0 && (!mutator->Changed() || mutator->OnlyRefusals()) && op.deterministic)
        Check(std::memcmp(out.data() + kGuard, key.baselines[which].data(), op.outSize) == 0,
              "the key's own answers give the usual output");

    // The context stays usable, after a fresh login when it lost its session.
    // A run that took the key's own answers and succeeded left nothing to
    // recover from.
    if (r == 0 && !mutator->Changed()) return 0;
    std::uint32_t again = 0;
    RunPlain(c, op, &again);
    if (again != 0) {
        LogoutDevice(c);
        Check(AuthenticateDevice(c, kPassword) == 0, "a fresh login after a hostile answer");
        RunPlain(c, op, &again);
        Check(again == 0, "the context recovers");
    }
    return 0;
}
