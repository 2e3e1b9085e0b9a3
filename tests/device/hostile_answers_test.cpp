// Hostile and corrupted answers from the key: every operation must end with a
// status (0 only when what it accepted was a valid answer), stay inside its
// output buffer, end within the retry budget and leave the context usable.
// Deterministic: fixed seeds, a bounded number of rounds.
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "DeviceTestSupport.h"
#include "StandardParameters.h"

namespace devtest {
namespace {

constexpr size_t kGuard = 32;
constexpr uint8_t kGuardByte = 0xA5;

enum class Corruption {
    TruncateToZero,
    TruncateToOne,
    TruncateRandom,
    RandomBytes,
    FlipStatus,
    ProtectionMode,      // any mode byte, MAC left as it was
    ValidMacRandomData,  // any data and status under a valid MAC of the session key
    HugeCounts,          // 0xFF / 0x80 length bytes in the data area, MAC left as it was
    HugeCountsValidMac,  // the same under a valid MAC
    Lengthened,          // the block intact, junk appended
};
constexpr int kCorruptions = 10;

const char* Name(Corruption c)
{
    static const char* const names[] = {"truncate-0", "truncate-1", "truncate", "random",     "status",
                                        "mode",       "mac-data",   "counts",   "counts-mac", "lengthened"};
    return names[static_cast<int>(c)];
}

struct Operation {
    const char* name;
    bool authenticated;  // the answer is checked under the session key
    size_t outSize;
    bool deterministic;                           // a repeat gives the same output
    std::function<void(DeviceContext*)> prepare;  // run without the hook
    std::function<uint32_t(DeviceContext*, uint8_t*)> run;
};

const uint8_t kHash[64] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                           17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const uint8_t kBlockData[32] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

std::vector<Operation> Operations()
{
    auto none = [](DeviceContext*) {};
    return {
        {"device info", false, sizeof(DeviceInfo), true, none,
         [](DeviceContext* c, uint8_t* out) { return QueryDeviceInfo(c, reinterpret_cast<DeviceInfo*>(out)); }},
        {"login", true, 0, true, [](DeviceContext* c) { LogoutDevice(c); },
         [](DeviceContext* c, uint8_t*) { return AuthenticateDevice(c, "1234"); }},
        {"storage read", true, 32, true, [](DeviceContext* c) { InvalidateMemoryImage(c, 0); },
         [](DeviceContext* c, uint8_t* out) { return ReadMemoryBlock(c, out, 3); }},
        {"storage write", true, 0, true, none,
         [](DeviceContext* c, uint8_t*) { return WriteMemoryBlock(c, kBlockData, 5); }},
        {"key parameters", true, DEVICE_KEY_PARAMETERS_BYTES, true, none,
         [](DeviceContext* c, uint8_t* out) { return ReadSignatureKeyParameters(c, 0, 0, out); }},
        {"key parameters tail", true, DEVICE_KEY_PARAMETERS_BYTES, true, none,
         [](DeviceContext* c, uint8_t* out) { return ReadAgreementKeyParameters(c, 2, 2, out); }},
        {"public key", true, DEVICE_SIGN_KEY_BYTES, true,
         [](DeviceContext* c) { InvalidateSignaturePublicKeyCache(c); },
         [](DeviceContext* c, uint8_t* out) { return LoadSignaturePublicKey(c, out); }},
        {"sign", true, DEVICE_SIGNATURE_BYTES, false, none,
         [](DeviceContext* c, uint8_t* out) { return SignHashOnDevice(c, kHash, 32, out, 0); }},
        {"random", true, 150, false, none, [](DeviceContext* c, uint8_t* out) { return GetDeviceRandom(c, out, 150); }},
        {"journal", false, sizeof(JournalRecord), true, none,
         [](DeviceContext* c, uint8_t* out) { return ReadJournalRecord(c, 0, reinterpret_cast<JournalRecord*>(out)); }},
        {"state", false, DEVICE_STATE_BYTES, false, none,
         [](DeviceContext* c, uint8_t* out) { return GetDeviceState(c, 0, out); }},
        {"aux", false, DEVICE_AUX_RECORD_BYTES, true, none,
         [](DeviceContext* c, uint8_t* out) {
             int length = 0;
             return ReadAuxRecord(c, 0, out, &length);
         }},
    };
}

// Output buffer with guard bytes on both sides.
struct Guarded {
    explicit Guarded(size_t size) : bytes(size + 2 * kGuard, kGuardByte), size(size) { std::memset(out(), 0x5A, size); }
    uint8_t* out() { return bytes.data() + kGuard; }
    bool GuardsIntact() const
    {
        for (size_t i = 0; i < kGuard; ++i)
            if (bytes[i] != kGuardByte || bytes[kGuard + size + i] != kGuardByte) return false;
        return true;
    }
    std::vector<uint8_t> Output() const { return {bytes.begin() + kGuard, bytes.begin() + kGuard + size}; }
    std::vector<uint8_t> bytes;
    size_t size;
};

// Rewrites the answers from the n-th on, and tells whether every answer it
// changed was still one a genuine key could have sent.
class Corrupter {
public:
    Corrupter(DeviceContext* context, bool authenticated, Corruption kind, int firstAnswer, uint32_t seed)
        : context_(context), authenticated_(authenticated), kind_(kind), first_(firstAnswer), rng_(seed)
    {
    }

    void operator()(const std::vector<uint8_t>&, std::vector<uint8_t>& answer)
    {
        if (seen_++ < first_) return;
        const size_t blockBytes = qvkdev::BlockSizeFor(context_->version) - 1;
        if (answer.size() < blockBytes + 2) return;  // not a block answer (the double's own error)
        const std::vector<uint8_t> before = answer;
        bool genuine = false;
        switch (kind_) {
        case Corruption::TruncateToZero:
            answer.clear();
            break;
        case Corruption::TruncateToOne:
            answer.resize(1);
            break;
        case Corruption::TruncateRandom:
            answer.resize(Below(blockBytes));
            break;
        case Corruption::RandomBytes:
            for (size_t i = 0; i < blockBytes; ++i) answer[i] = Byte();
            break;
        case Corruption::FlipStatus:
            answer[2] ^= static_cast<uint8_t>(1 + Below(255));
            break;
        case Corruption::ProtectionMode:
            answer[1] = Byte();
            break;
        case Corruption::ValidMacRandomData:
        case Corruption::HugeCountsValidMac: {
            DeviceBlock block{};
            block.direction = 2;
            std::memcpy(block.bytes() + 1, answer.data(), blockBytes);
            VerifyBlock(context_, &block);  // plain text of an encrypted answer
            if (kind_ == Corruption::ValidMacRandomData) {
                for (uint8_t& b : block.data) b = Byte();
                block.parameter = Below(4) == 0 ? Byte() : 0;
            } else {
                SetHugeCounts(block.data);
            }
            const uint8_t mode = static_cast<uint8_t>(1 + Below(2));
            ProtectBlock(context_, &block, mode);
            std::memcpy(answer.data(), block.bytes() + 1, blockBytes);
            genuine = block.parameter == 0;
            break;
        }
        case Corruption::HugeCounts:
            SetHugeCounts(answer.data() + 3);
            break;
        case Corruption::Lengthened:
            for (size_t n = 1 + Below(200); n > 0; --n) answer.push_back(Byte());
            break;
        }
        const bool blockChanged =
            answer.size() < blockBytes || !std::equal(before.begin(), before.begin() + blockBytes, answer.begin());
        if (!blockChanged) return;
        // Unprotected answers cannot be told from the key's own when whole.
        if (!authenticated_ && answer.size() >= blockBytes && answer[2] == 0) genuine = true;
        changed_ = true;
        if (!genuine) allGenuine_ = false;
    }

    // True when the operation may have succeeded on what it was given.
    bool MaySucceed() const { return !changed_ || allGenuine_; }
    bool Changed() const { return changed_; }

private:
    uint8_t Byte() { return static_cast<uint8_t>(rng_()); }
    size_t Below(size_t n) { return static_cast<size_t>(rng_() % n); }
    void SetHugeCounts(uint8_t* data)
    {
        static const uint8_t kHuge[] = {0xFF, 0x80, 0x7F, 0x40, 0x39, 0xFE};
        for (int i = 0; i < 4; ++i) data[Below(16)] = kHuge[Below(sizeof(kHuge))];
        data[0] = kHuge[Below(sizeof(kHuge))];
    }

    DeviceContext* context_;
    bool authenticated_;
    Corruption kind_;
    int first_;
    int seen_ = 0;
    std::mt19937 rng_;
    bool changed_ = false;
    bool allGenuine_ = true;
};

class HostileAnswers : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        qvkdev::DeviceTimings().retryBudgetMs = 40;
        qvkdev::DeviceTimings().retryPauseMs = 1;
    }

    // Runs every operation against every corruption on one key.
    void Run(uint32_t serial, uint8_t version, uint32_t capability, int rounds)
    {
        AddKey(serial, version, capability);
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        const DeviceKeyParameters parameters = StandardParameters(0);
        ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT), 0u);
        ASSERT_EQ(WriteMemoryBlock(c.get(), kBlockData, 5), 0u);

        uint32_t seed = serial;
        for (const Operation& op : Operations()) {
            SCOPED_TRACE(op.name);
            op.prepare(c.get());
            Guarded baseline(op.outSize);
            const uint32_t expected = op.run(c.get(), baseline.out());
            ASSERT_EQ(expected, 0u) << "the untouched answer must be accepted";

            for (int round = 0; round < rounds; ++round) {
                for (int k = 0; k < kCorruptions; ++k) {
                    const Corruption kind = static_cast<Corruption>(k);
                    SCOPED_TRACE(std::string(Name(kind)) + " seed " + std::to_string(seed));
                    auto corrupter = std::make_shared<Corrupter>(c.get(), op.authenticated, kind, round % 3, ++seed);
                    op.prepare(c.get());
                    pcsctap::SetAnswerHook([corrupter](const std::vector<uint8_t>& apdu, std::vector<uint8_t>& a) {
                        (*corrupter)(apdu, a);
                    });
                    Guarded out(op.outSize);
                    const auto start = std::chrono::steady_clock::now();
                    const uint32_t r = op.run(c.get(), out.out());
                    const auto elapsed = std::chrono::steady_clock::now() - start;
                    pcsctap::SetAnswerHook({});

                    EXPECT_TRUE(out.GuardsIntact());
                    EXPECT_LT(elapsed, std::chrono::seconds(3));
                    if (!corrupter->MaySucceed()) {
                        EXPECT_NE(r, 0u);
                    }
                    if (r == 0 && !corrupter->Changed() && op.deterministic) {
                        EXPECT_EQ(out.Output(), baseline.Output());
                    }
                    ExpectUsable(c.get(), op, baseline);
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
    }

    // The same operation works again, if need be after a fresh login.
    static void ExpectUsable(DeviceContext* c, const Operation& op, const Guarded& baseline)
    {
        op.prepare(c);
        Guarded again(op.outSize);
        uint32_t r = op.run(c, again.out());
        if (r != 0) {
            LogoutDevice(c);
            ASSERT_EQ(AuthenticateDevice(c, "1234"), 0u) << "after status " << r;
            op.prepare(c);
            r = op.run(c, again.out());
        }
        ASSERT_EQ(r, 0u) << "the context did not recover";
        if (op.deterministic) {
            EXPECT_EQ(again.Output(), baseline.Output());
        }
    }
};

TEST_F(HostileAnswers, NewFormNewLoginScheme)
{
    Run(9101, 18, 0x200, 2);
}

TEST_F(HostileAnswers, NewFormOldLoginScheme)
{
    Run(9102, 18, 0, 1);
}

TEST_F(HostileAnswers, OldForm)
{
    Run(9103, 11, 0, 2);
}

}  // namespace
}  // namespace devtest
