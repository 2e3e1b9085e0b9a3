// DSTU 7624:2014 known-answer self-tests.
#include "crypto/DSTU7624Modes.h"

#include <cstring>

#include "crypto/DSTU7624ModesInternal.h"
#include "crypto/DSTUCiphersTables.h"

using namespace qvkcrypto::dstu7624modes;

// Inputs are slices of one example string (bytes 0x10, 0x11, ... 0xFF) and the
// example key 00 01 ... 3F, laid out like the standard's examples; where a
// vector repeats one of those examples its expected value is the published one.

extern "C" const uint32_t DSTU7624TestBlockBits[5] = {128, 128, 256, 256, 512};
extern "C" const uint32_t DSTU7624TestKeyBits[5] = {128, 256, 256, 512, 512};
extern "C" const uint8_t DSTU7624TestKey[64] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
    0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F,
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
};

#include "crypto/DSTU7624SelfTestVectors.inc"

bool qvkcrypto::dstu7624SelfTestsBreakCipher = false;

namespace {

constexpr uint8_t kFirstExampleByte = 0x10;

// The S-boxes the self-tests run with: the standard ones, or, when a test
// asks for a broken cipher, pi0 shifted by one place.
const uint8_t* SelfTestSBoxes()
{
    static const auto broken = [] {
        struct {
            uint8_t bytes[DSTU_SBOXES_BYTES];
        } b;
        for (uint32_t i = 0; i < DSTU_SBOXES_BYTES; ++i)
            b.bytes[i] = i < 256 ? DSTUDefaultSBoxes[(i + 1) & 255] : DSTUDefaultSBoxes[i];
        return b;
    }();
    return qvkcrypto::dstu7624SelfTestsBreakCipher ? broken.bytes : DSTUDefaultSBoxes;
}

// Slice of the example string that starts with byte value `first`.
inline const uint8_t* Example(uint8_t first)
{
    return kExampleString + (first - kFirstExampleByte);
}

// Slice starts per variant.
constexpr uint8_t kIvStart[5] = {0x10, 0x20, 0x20, 0x40, 0x40};    // IV, nonce, ECB data, key-wrap data
constexpr uint8_t kDataStart[5] = {0x20, 0x30, 0x40, 0x60, 0x80};  // most data, associated data
constexpr uint8_t kGcmDataStart[5] = {0x30, 0x50, 0x60, 0x80, 0xC0};
constexpr uint8_t kCcmDataStart[5] = {0x30, 0x40, 0x60, 0x80, 0xC0};

struct TestLengths {
    uint32_t ctr, cfb, cfbFeedback, cmac, cbc, ofb, gcm, gcmMac, gcmAssociated, gmac, gmacMac, ccm, ccmMac, ccmWidth,
        ccmAssociated, xts, keyWrap;
};

constexpr TestLengths kLengths[5] = {
    {328, 384, 128, 384, 384, 384, 256, 128, 128, 139, 128, 128, 128, 4, 128, 256, 128},
    {259, 85, 8, 752, 368, 154, 256, 128, 128, 128, 128, 120, 128, 4, 96, 328, 314},
    {641, 648, 128, 570, 768, 648, 512, 128, 256, 256, 128, 512, 128, 4, 256, 520, 648},
    {643, 648, 256, 265, 768, 648, 512, 256, 256, 256, 256, 512, 256, 6, 256, 768, 768},
    {770, 776, 512, 1024, 1024, 776, 512, 512, 512, 512, 512, 512, 512, 8, 512, 1024, 1024},
};

enum class LastByte { Stored, Cleared, Mask, SingleBit };

// Copies ceil(bits/8) bytes and treats a last partial byte as asked.
void Prepare(uint8_t* out, const uint8_t* slice, uint32_t bits, LastByte how)
{
    const uint32_t bytes = (bits + 7) / 8;
    std::memcpy(out, slice, bytes);
    const uint32_t r = bits % 8;
    if (!r) return;
    switch (how) {
    case LastByte::Stored:
        break;
    case LastByte::Cleared:
        out[bytes - 1] &= HighMask(r);
        break;
    case LastByte::Mask:
        out[bytes - 1] = HighMask(r);
        break;
    case LastByte::SingleBit:
        out[bytes - 1] = static_cast<uint8_t>(0x80u >> (r - 1));
        break;
    }
}

// Owns one context for a sub-test and frees it on every path.
class TestContext {
public:
    TestContext() : ctx_(DSTU7624CreateContext())
    {
        if (ctx_ && qvkcrypto::dstu7624SelfTestsBreakCipher)
            DSTU7624SetParameter(ctx_, SelfTestSBoxes(), DSTU7624_SBOXES);
    }
    ~TestContext() { DSTU7624FreeContext(ctx_); }
    TestContext(const TestContext&) = delete;
    TestContext& operator=(const TestContext&) = delete;
    DSTU7624Context* get() const { return ctx_; }

    bool Configure(int v)
    {
        return ctx_ && DSTU7624SetParameter(ctx_, &DSTU7624TestBlockBits[v], DSTU7624_BLOCK_BITS) &&
               DSTU7624SetParameter(ctx_, &DSTU7624TestKeyBits[v], DSTU7624_KEY_BITS) &&
               DSTU7624SetParameter(ctx_, DSTU7624TestKey, DSTU7624_KEY);
    }
    bool SetIv(int v) { return DSTU7624SetParameter(ctx_, Example(kIvStart[v]), DSTU7624_IV) == 1; }
    bool SetMacBits(uint32_t bits) { return DSTU7624SetParameter(ctx_, &bits, DSTU7624_MAC_BITS) == 1; }

private:
    DSTU7624Context* ctx_;
};

inline bool Same(const uint8_t* a, const uint8_t* b, uint32_t n)
{
    return std::memcmp(a, b, n) == 0;
}

bool TestEcb(int v)
{
    TestContext t;
    if (!t.Configure(v)) return false;
    const uint32_t bytes = DSTU7624TestBlockBits[v] / 8;
    uint8_t buf[kMaxBlockBytes];
    std::memcpy(buf, Example(kIvStart[v]), bytes);
    return DSTU7624EncryptECB(buf, 1, t.get()) && Same(buf, kExpectedEcb[v], bytes) &&
           DSTU7624DecryptECB(buf, 1, t.get()) && Same(buf, Example(kIvStart[v]), bytes);
}

bool TestCtr(int v)
{
    const uint32_t L = kLengths[v].ctr;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    if (!t.Configure(v) || !t.SetIv(v)) return false;
    // Byte-aligned pieces must give the stream of one call.
    if (!DSTU7624EncryptCTR(buf, 88, 0, t.get()) || !DSTU7624EncryptCTR(buf + 11, L - 88, 0, t.get()) ||
        !Same(buf, kExpectedCtr[v], bytes))
        return false;
    if (!t.SetIv(v) || !DSTU7624DecryptCTR(buf, 24, 0, t.get()) || !DSTU7624DecryptCTR(buf + 3, L - 24, 0, t.get()) ||
        !Same(buf, ref, bytes))
        return false;
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    if (!t.Configure(v) || !t.SetIv(v) || !DSTU7624EncryptCTR(buf, L, 0, t.get()) || !Same(buf, kExpectedCtr[v], bytes))
        return false;
    return t.SetIv(v) && DSTU7624DecryptCTR(buf, 64, 0, t.get()) && DSTU7624DecryptCTR(buf + 8, 16, 0, t.get()) &&
           DSTU7624DecryptCTR(buf + 10, L - 80, 0, t.get()) && Same(buf, ref, bytes);
}

bool TestCfb1()
{
    TestContext t;
    if (!t.Configure(0) || !t.SetIv(0)) return false;
    uint8_t buf[48], copy[48];
    std::memcpy(buf, Example(kDataStart[0]), 48);
    std::memcpy(copy, buf, 48);
    return DSTU7624EncryptCFB(buf, 384, 0, 1, t.get()) && t.SetIv(0) && DSTU7624DecryptCFB(buf, 384, 0, 1, t.get()) &&
           Same(buf, copy, 48);
}

bool TestCfb(int v)
{
    const uint32_t L = kLengths[v].cfb;
    const uint32_t s = kLengths[v].cfbFeedback;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptCFB(buf, L, 0, s, t.get()) &&
           Same(buf, kExpectedCfb[v], bytes) && t.SetIv(v) && DSTU7624DecryptCFB(buf, L, 0, s, t.get()) &&
           Same(buf, ref, bytes);
}

bool TestCmac(int v)
{
    const uint32_t L = kLengths[v].cmac;
    uint8_t buf[192], mac[16];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::SingleBit);
    TestContext t;
    return t.Configure(v) && DSTU7624ComputeCMAC(buf, L, 0, t.get()) && t.SetMacBits(128) &&
           DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) && t.SetMacBits(128) &&
           DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) && DSTU7624VerifyCMAC(buf, L, 0, t.get());
}

bool TestOfb(int v)
{
    const uint32_t L = kLengths[v].ofb;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Mask);
    std::memcpy(ref, buf, bytes);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptOFB(buf, 72, 0, t.get()) &&
           DSTU7624EncryptOFB(buf + 9, L - 72, 0, t.get()) && Same(buf, kExpectedOfb[v], bytes) && t.SetIv(v) &&
           DSTU7624DecryptOFB(buf, 32, 0, t.get()) && DSTU7624DecryptOFB(buf + 4, L - 32, 0, t.get()) &&
           Same(buf, ref, bytes);
}

bool TestGcm(int v)
{
    const TestLengths& n = kLengths[v];
    const uint32_t bytes = (n.gcm + 7) / 8;
    const uint8_t* ad = Example(kDataStart[v]);
    uint8_t buf[192], ref[192], mac[64];
    Prepare(buf, Example(kGcmDataStart[v]), n.gcm, LastByte::Stored);
    Prepare(ref, Example(kGcmDataStart[v]), n.gcm, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptGCM(buf, n.gcm, 0, ad, n.gcmAssociated, 0, t.get()) &&
           t.SetMacBits(n.gcmMac) && DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) &&
           Same(mac, kExpectedGcmMac[v], n.gcmMac / 8) && Same(buf, kExpectedGcm[v], bytes) && t.SetIv(v) &&
           t.SetMacBits(n.gcmMac) && DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) &&
           DSTU7624DecryptGCM(buf, n.gcm, 0, ad, n.gcmAssociated, 0, t.get()) && Same(buf, ref, bytes);
}

bool TestGmac(int v)
{
    const TestLengths& n = kLengths[v];
    uint8_t buf[192], mac[64];
    Prepare(buf, Example(kDataStart[v]), n.gmac, LastByte::Mask);
    TestContext t;
    return t.Configure(v) && DSTU7624ComputeGMAC(buf, n.gmac, 0, t.get()) && t.SetMacBits(n.gmacMac) &&
           DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) && Same(mac, kExpectedGmac[v], n.gmacMac / 8) &&
           t.SetMacBits(n.gmacMac) && DSTU7624SetParameter(t.get(), mac, DSTU7624_MAC) &&
           DSTU7624VerifyGMAC(buf, n.gmac, 0, t.get());
}

bool TestCcm(int v)
{
    const TestLengths& n = kLengths[v];
    const uint32_t plain = n.ccm / 8;
    const uint32_t total = plain + n.ccmMac / 8;
    const uint8_t* ad = Example(kDataStart[v]);
    uint8_t buf[192], mac[64];
    std::memcpy(buf, Example(kCcmDataStart[v]), plain);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && t.SetMacBits(n.ccmMac) &&
           DSTU7624EncryptCCM(buf, plain, total, ad, n.ccmAssociated / 8, n.ccmWidth, t.get()) &&
           t.SetMacBits(n.ccmMac) && DSTU7624GetParameter(t.get(), mac, DSTU7624_MAC) &&
           Same(mac, kExpectedCcmMac[v], n.ccmMac / 8) && Same(buf, kExpectedCcm[v], total) && t.SetIv(v) &&
           t.SetMacBits(n.ccmMac) && DSTU7624DecryptCCM(buf, total, ad, n.ccmAssociated / 8, n.ccmWidth, t.get()) &&
           Same(buf, Example(kCcmDataStart[v]), plain);
}

bool TestXts(int v)
{
    const uint32_t L = kLengths[v].xts;
    const uint32_t bytes = (L + 7) / 8;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptXTS(buf, L, 0, t.get()) &&
           Same(buf, kExpectedXts[v], bytes) && t.SetIv(v) && DSTU7624DecryptXTS(buf, L, 0, t.get()) &&
           Same(buf, ref, bytes);
}

inline uint32_t WrappedBits(int v)
{
    const uint32_t B = DSTU7624TestBlockBits[v];
    const uint32_t L = kLengths[v].keyWrap;
    const uint32_t r = L % B;
    return r == 0 ? L + B : B * ((B / 2 + r + B) / B + 1) + L - r;
}

}  // namespace

extern "C" int DSTU7624TestKeySchedule(void)
{
    TestContext t;
    const uint32_t bits = 128;
    uint8_t keys[176];
    return t.get() && DSTU7624SetParameter(t.get(), SelfTestSBoxes(), DSTU7624_SBOXES) &&
                   DSTU7624SetParameter(t.get(), &bits, DSTU7624_BLOCK_BITS) &&
                   DSTU7624SetParameter(t.get(), &bits, DSTU7624_KEY_BITS) &&
                   DSTU7624SetParameter(t.get(), DSTU7624TestKey, DSTU7624_KEY) &&
                   DSTU7624GetParameter(t.get(), keys, DSTU7624_ROUND_KEYS) && Same(keys, kExpectedRoundKeys, 176) &&
                   DSTU7624GetParameter(t.get(), keys, DSTU7624_DECRYPTION_ROUND_KEYS) &&
                   Same(keys, kExpectedDecryptionRoundKeys, 176)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestCBC(int v)
{
    if (v < 0 || v > 4) return 0;
    const uint32_t L = kLengths[v].cbc;
    const uint32_t B = DSTU7624TestBlockBits[v];
    const uint32_t P = (L + B - 1) / B * B;
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kDataStart[v]), L, LastByte::Stored);
    Prepare(ref, Example(kDataStart[v]), L, LastByte::Cleared);
    TestContext t;
    CryptoBitLength result{};
    return t.Configure(v) && t.SetIv(v) && DSTU7624EncryptCBC(buf, L, 0, P, 0, t.get()) &&
                   Same(buf, kExpectedCbc[v], P / 8) && t.SetIv(v) &&
                   DSTU7624DecryptCBC(buf, P, 0, P != L, &result, t.get()) && result.low == L && result.high == 0 &&
                   Same(buf, ref, (L + 7) / 8)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestKeyWrap(int v)
{
    if (v < 0 || v > 4) return 0;
    const uint32_t L = kLengths[v].keyWrap;
    const uint32_t W = WrappedBits(v);
    uint8_t buf[192], ref[192];
    Prepare(buf, Example(kIvStart[v]), L, LastByte::SingleBit);
    std::memcpy(ref, buf, (L + 7) / 8);
    TestContext t;
    CryptoBitLength result{};
    return t.Configure(v) && DSTU7624WrapKey(buf, L, 0, W, 0, t.get()) && Same(buf, kExpectedKeyWrap[v], W / 8) &&
                   DSTU7624UnwrapKey(buf, W, 0, L % DSTU7624TestBlockBits[v] != 0, &result, t.get()) &&
                   result.low == L && result.high == 0 && Same(buf, ref, (L + 7) / 8)
               ? 1
               : 0;
}

extern "C" int DSTU7624TestModes(void)
{
    if (!DSTU7624TestKeySchedule()) return 0;
    for (int v = 0; v < 5; ++v) {
        if (!TestEcb(v) || !TestCtr(v) || (v == 0 && !TestCfb1()) || !TestCfb(v) || !TestCmac(v) ||
            !DSTU7624TestCBC(v) || !TestOfb(v) || !TestGcm(v) || !TestGmac(v) || !TestCcm(v) || !TestXts(v) ||
            !DSTU7624TestKeyWrap(v))
            return 0;
    }
    return 1;
}
