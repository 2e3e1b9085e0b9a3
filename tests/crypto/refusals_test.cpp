// Every refused call returns 0 and leaves both the context record and the
// caller's data byte for byte as they were (the few refusals that are meant
// to leave traces, such as a failed tag check, are tested with their modes).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"
#include "crypto/GOST28147.h"
#include "crypto/GOST34311.h"
#include "dstu7624_test_util.h"

using namespace dstu7624test;

namespace {

template <typename Record>
Bytes Image(const Record& r)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&r);
    return Bytes(p, p + sizeof r);
}

// Runs `call` on a copy of `data`; expects 0 and no change anywhere.
template <typename Record>
void ExpectRefusedUnchanged(const char* name, Record* record, Bytes data,
                            const std::function<int(Record*, uint8_t*)>& call)
{
    SCOPED_TRACE(name);
    const Bytes before = Image(*record);
    const Bytes dataBefore = data;
    EXPECT_EQ(0, call(record, data.data()));
    EXPECT_EQ(Image(*record), before);
    EXPECT_EQ(data, dataBefore);
}

using DstuCall = std::function<int(DSTU7624Context*, uint8_t*)>;

struct DstuCase {
    const char* name;
    DstuCall call;
};

TEST(Refusals, Dstu7624ChangesNothing)
{
    // A context in mid-use: CTR has run, a CMAC is held, a MAC length and an
    // expected MAC are set.
    auto c = Keyed(256, Seq(0, 32));
    ASSERT_TRUE(c);
    const Bytes iv = Seq(0x20, 32), msg = Seq(0x40, 64);
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), iv.data(), DSTU7624_IV));
    Bytes stream = Seq(0x60, 5);
    ASSERT_EQ(1, DSTU7624EncryptCTR(stream.data(), 37, 0, c.get()));
    ASSERT_EQ(1, DSTU7624ComputeCMAC(msg.data(), 300, 0, c.get()));
    ASSERT_EQ(1, Set32(c.get(), 64, DSTU7624_MAC_BITS));
    ASSERT_EQ(1, DSTU7624SetParameter(c.get(), msg.data(), DSTU7624_MAC));

    DSTU7624Context badImage;
    ASSERT_EQ(1, DSTU7624GetParameter(c.get(), &badImage, DSTU7624_CONTEXT));
    badImage.gammaBitsLeft = 257;
    CryptoBitLength result{};

    const DstuCase cases[] = {
        {"block size 200", [](auto* x, auto*) { return Set32(x, 200, DSTU7624_BLOCK_BITS); }},
        {"key size 128 on a 256-bit block", [](auto* x, auto*) { return Set32(x, 128, DSTU7624_KEY_BITS); }},
        {"MAC length above the block", [](auto* x, auto*) { return Set32(x, 257, DSTU7624_MAC_BITS); }},
        {"MAC length 96 with a CMAC held", [](auto* x, auto*) { return Set32(x, 96, DSTU7624_MAC_BITS); }},
        {"set type 0", [](auto* x, auto* d) { return DSTU7624SetParameter(x, d, 0); }},
        {"set type 9", [](auto* x, auto* d) { return DSTU7624SetParameter(x, d, 9); }},
        {"set type 13", [](auto* x, auto* d) { return DSTU7624SetParameter(x, d, 13); }},
        {"counter seek after CTR ran",
         [](auto* x, auto*) {
             const uint64_t n = 3;
             return DSTU7624SetParameter(x, &n, DSTU7624_COUNTER_OFFSET);
         }},
        {"unsound image", [&](auto* x, auto*) { return DSTU7624SetParameter(x, &badImage, DSTU7624_CONTEXT); }},
        {"get type 5", [](auto* x, auto* d) { return DSTU7624GetParameter(x, d, 5); }},
        {"CFB feedback 16", [](auto* x, auto* d) { return DSTU7624EncryptCFB(d, 64, 0, 16, x); }},
        {"CFB feedback above the block", [](auto* x, auto* d) { return DSTU7624DecryptCFB(d, 512, 0, 512, x); }},
        {"XTS shorter than a block", [](auto* x, auto* d) { return DSTU7624EncryptXTS(d, 255, 0, x); }},
        {"XTS decryption shorter than a block", [](auto* x, auto* d) { return DSTU7624DecryptXTS(d, 8, 0, x); }},
        {"CBC padded length wrong", [](auto* x, auto* d) { return DSTU7624EncryptCBC(d, 300, 0, 256, 0, x); }},
        {"CBC decryption of a partial block",
         [&](auto* x, auto* d) { return DSTU7624DecryptCBC(d, 300, 0, 1, &result, x); }},
        {"wrapped length wrong", [](auto* x, auto* d) { return DSTU7624WrapKey(d, 256, 0, 256, 0, x); }},
        {"unwrap of one block", [&](auto* x, auto* d) { return DSTU7624UnwrapKey(d, 256, 0, 0, &result, x); }},
        {"unwrap of a partial block", [&](auto* x, auto* d) { return DSTU7624UnwrapKey(d, 600, 0, 1, &result, x); }},
        {"GCM with nothing", [](auto* x, auto* d) { return DSTU7624EncryptGCM(d, 0, 0, d, 0, 0, x); }},
        {"GCM decryption with nothing", [](auto* x, auto* d) { return DSTU7624DecryptGCM(d, 0, 0, d, 0, 0, x); }},
        {"CCM width 0", [](auto* x, auto* d) { return DSTU7624EncryptCCM(d, 8, 16, nullptr, 0, 0, x); }},
        {"CCM width 32", [](auto* x, auto* d) { return DSTU7624EncryptCCM(d, 8, 16, nullptr, 0, 32, x); }},
        {"CCM buffer size wrong", [](auto* x, auto* d) { return DSTU7624EncryptCCM(d, 8, 17, nullptr, 0, 4, x); }},
        {"CCM associated data too long for the width",
         [](auto* x, auto* d) { return DSTU7624EncryptCCM(d, 8, 16, d, 256, 1, x); }},
        {"CCM decryption with the tag longer than the buffer",
         [](auto* x, auto* d) { return DSTU7624DecryptCCM(d, 7, nullptr, 0, 4, x); }},
        {"CCM decryption width too wide",
         [](auto* x, auto* d) { return DSTU7624DecryptCCM(d, 24, nullptr, 0, 40, x); }},
    };
    for (const auto& tc : cases) ExpectRefusedUnchanged<DSTU7624Context>(tc.name, c.get(), Seq(0x80, 96), tc.call);

    // Missing flags: keyed but no IV, MAC length or expected MAC; and no key.
    auto k = Keyed(128, Seq(0, 16));
    ASSERT_TRUE(k);
    ASSERT_EQ(1, Set32(k.get(), 64, DSTU7624_MAC_BITS));
    Context bare(DSTU7624CreateContext());
    ASSERT_EQ(1, Set32(bare.get(), 128, DSTU7624_BLOCK_BITS));
    const DstuCase missing[] = {
        {"CTR without IV", [](auto* x, auto* d) { return DSTU7624EncryptCTR(d, 8, 0, x); }},
        {"OFB without IV", [](auto* x, auto* d) { return DSTU7624DecryptOFB(d, 8, 0, x); }},
        {"CBC without IV", [](auto* x, auto* d) { return DSTU7624EncryptCBC(d, 128, 0, 128, 0, x); }},
        {"GCM data without IV", [](auto* x, auto* d) { return DSTU7624EncryptGCM(d, 8, 0, d, 8, 0, x); }},
        {"CMAC check without expected MAC", [](auto* x, auto* d) { return DSTU7624VerifyCMAC(d, 64, 0, x); }},
        {"GMAC check without expected MAC", [](auto* x, auto* d) { return DSTU7624VerifyGMAC(d, 64, 0, x); }},
        {"CCM without IV", [](auto* x, auto* d) { return DSTU7624EncryptCCM(d, 8, 16, nullptr, 0, 4, x); }},
        {"MAC read with none computed", [](auto* x, auto* d) { return DSTU7624GetParameter(x, d, DSTU7624_MAC); }},
    };
    for (const auto& tc : missing) ExpectRefusedUnchanged<DSTU7624Context>(tc.name, k.get(), Seq(0x80, 32), tc.call);
    const DstuCase keyless[] = {
        {"ECB without key", [](auto* x, auto* d) { return DSTU7624EncryptECB(d, 1, x); }},
        {"ECB decryption without key", [](auto* x, auto* d) { return DSTU7624DecryptECB(d, 1, x); }},
        {"CMAC without key", [](auto* x, auto* d) { return DSTU7624ComputeCMAC(d, 64, 0, x); }},
        {"GMAC without key", [](auto* x, auto* d) { return DSTU7624ComputeGMAC(d, 64, 0, x); }},
        {"key without key size", [](auto* x, auto* d) { return DSTU7624SetParameter(x, d, DSTU7624_KEY); }},
        {"round keys without key", [](auto* x, auto* d) { return DSTU7624GetParameter(x, d, DSTU7624_ROUND_KEYS); }},
    };
    for (const auto& tc : keyless) ExpectRefusedUnchanged<DSTU7624Context>(tc.name, bare.get(), Seq(0x80, 32), tc.call);
}

int Set32Hash(DSTU7564Context* c, uint32_t bits)
{
    return DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS);
}

struct Dstu7564Deleter {
    void operator()(DSTU7564Context* c) const { DSTU7564FreeContext(c); }
};

TEST(Refusals, Dstu7564ChangesNothing)
{
    using Call = std::function<int(DSTU7564Context*, uint8_t*)>;
    std::unique_ptr<DSTU7564Context, Dstu7564Deleter> fresh(DSTU7564CreateContext());
    ASSERT_TRUE(fresh);
    ExpectRefusedUnchanged<DSTU7564Context>("update before the length", fresh.get(), Seq(0, 8),
                                            [](auto* x, auto* d) { return DSTU7564UpdateHash(d, 64, 0, x); });
    ExpectRefusedUnchanged<DSTU7564Context>("finish before the length", fresh.get(), Seq(0, 8),
                                            [](auto* x, auto*) { return DSTU7564FinishHash(x); });

    // Mid-message, 13 bits buffered.
    std::unique_ptr<DSTU7564Context, Dstu7564Deleter> c(DSTU7564CreateContext());
    const uint32_t bits = 256;
    ASSERT_EQ(1, DSTU7564SetParameter(c.get(), &bits, DSTU7564_HASH_BITS));
    const Bytes msg = Seq(1, 100);
    ASSERT_EQ(1, DSTU7564UpdateHash(msg.data(), 525, 0, c.get()));
    const struct {
        const char* name;
        Call call;
    } cases[] = {
        {"hash length 7", [](auto* x, auto*) { return Set32Hash(x, 7); }},
        {"hash length 513", [](auto* x, auto*) { return Set32Hash(x, 513); }},
        {"hash length 520", [](auto* x, auto*) { return Set32Hash(x, 520); }},
        {"set type 3", [](auto* x, auto* d) { return DSTU7564SetParameter(x, d, DSTU7564_HASH); }},
        {"set type 5", [](auto* x, auto* d) { return DSTU7564SetParameter(x, d, 5); }},
        {"get the hash before finish", [](auto* x, auto* d) { return DSTU7564GetParameter(x, d, DSTU7564_HASH); }},
        {"get the S-boxes", [](auto* x, auto* d) { return DSTU7564GetParameter(x, d, DSTU7564_SBOXES); }},
    };
    for (const auto& tc : cases) ExpectRefusedUnchanged<DSTU7564Context>(tc.name, c.get(), Seq(0, 64), tc.call);

    // An update that would bring the total to 2^96 + 2^64 bits is refused
    // before it is counted (it used to add its length first).
    DSTU7564Context* raw = c.get();
    raw->totalBits[1] = 0x80000000u;  // total 2^96 + 2^63 + 525
    raw->totalBits[3] = 1;
    ExpectRefusedUnchanged<DSTU7564Context>("update up to the limit", raw, Seq(0, 64), [](auto* x, auto* d) {
        return DSTU7564UpdateHash(d, 0xFFFFFDF3u, 0x7FFFFFFFu, x);  // 2^63 - 525
    });

    // Finished: update, tail and finish are refused.
    ASSERT_EQ(1, DSTU7564SetParameter(c.get(), &bits, DSTU7564_HASH_BITS));
    ASSERT_EQ(1, DSTU7564FinishHash(c.get()));
    const struct {
        const char* name;
        Call call;
    } finished[] = {
        {"update after finish", [](auto* x, auto* d) { return DSTU7564UpdateHash(d, 8, 0, x); }},
        {"tail after finish", [](auto* x, auto* d) { return DSTU7564SetParameter(x, d, DSTU7564_COMPRESS_TAIL); }},
        {"finish twice", [](auto* x, auto*) { return DSTU7564FinishHash(x); }},
    };
    for (const auto& tc : finished) ExpectRefusedUnchanged<DSTU7564Context>(tc.name, c.get(), Seq(0, 64), tc.call);
}

TEST(Refusals, Gost28147ChangesNothing)
{
    using Call = std::function<int(GOST28147Context*, uint8_t*)>;
    const Bytes sbox = Seq(0x11, 64, 3), key = Seq(0x40, 32), iv = Seq(0xA0, 8);

    GOST28147Context keyOnly{};
    ASSERT_EQ(1, GOST28147SetParameter(&keyOnly, key.data(), GOST28147_KEY));
    const struct {
        const char* name;
        Call call;
    } incomplete[] = {
        {"IV without S-box", [&](auto* x, auto*) { return GOST28147SetParameter(x, iv.data(), GOST28147_IV); }},
        {"ECB without S-box", [](auto* x, auto* d) { return GOST28147EncryptECB(d, 2, x); }},
        {"MAC without S-box", [](auto* x, auto* d) { return GOST28147ComputeMAC(d, 16, x); }},
        {"gamma without IV", [](auto* x, auto* d) { return GOST28147ApplyCounterGamma(d, 16, x); }},
        {"IV read before it is set", [](auto* x, auto* d) { return GOST28147GetParameter(x, d, GOST28147_IV); }},
    };
    for (const auto& tc : incomplete) ExpectRefusedUnchanged<GOST28147Context>(tc.name, &keyOnly, Seq(1, 16), tc.call);

    // Keyed, S-box set, a MAC waiting to be read, a counter gamma 3 bytes in.
    GOST28147Context c{};
    ASSERT_EQ(1, GOST28147SetParameter(&c, sbox.data(), GOST28147_SBOX));
    ASSERT_EQ(1, GOST28147SetParameter(&c, key.data(), GOST28147_KEY));
    const Bytes msg = Seq(5, 20);
    ASSERT_EQ(1, GOST28147ComputeMAC(msg.data(), 20, &c));
    ExpectRefusedUnchanged<GOST28147Context>("gamma offset before the IV", &c, Seq(1, 16), [](auto* x, auto*) {
        const uint64_t offset = 16;
        return GOST28147SetParameter(x, &offset, GOST28147_GAMMA_OFFSET);
    });
    ASSERT_EQ(1, GOST28147SetParameter(&c, iv.data(), GOST28147_IV));
    Bytes head = Seq(9, 3);
    ASSERT_EQ(1, GOST28147ApplyCounterGamma(head.data(), 3, &c));
    const struct {
        const char* name;
        Call call;
    } cases[] = {
        {"MAC while one waits", [](auto* x, auto* d) { return GOST28147ComputeMAC(d, 16, x); }},
        {"set the MAC", [](auto* x, auto* d) { return GOST28147SetParameter(x, d, GOST28147_MAC); }},
        {"set type 0", [](auto* x, auto* d) { return GOST28147SetParameter(x, d, 0); }},
        {"set type 6", [](auto* x, auto* d) { return GOST28147SetParameter(x, d, 6); }},
        {"get the key", [](auto* x, auto* d) { return GOST28147GetParameter(x, d, GOST28147_KEY); }},
        {"get the gamma offset", [](auto* x, auto* d) { return GOST28147GetParameter(x, d, GOST28147_GAMMA_OFFSET); }},
    };
    for (const auto& tc : cases) ExpectRefusedUnchanged<GOST28147Context>(tc.name, &c, Seq(1, 16), tc.call);
    uint8_t mac[4];
    ASSERT_EQ(1, GOST28147GetParameter(&c, mac, GOST28147_MAC));
    ExpectRefusedUnchanged<GOST28147Context>(
        "second MAC read", &c, Seq(1, 16), [](auto* x, auto* d) { return GOST28147GetParameter(x, d, GOST28147_MAC); });
}

TEST(Refusals, Gost34311ChangesNothing)
{
    using Call = std::function<int(GOST34311Context*, uint8_t*)>;
    GOST34311Context empty{};
    ExpectRefusedUnchanged<GOST34311Context>("update without S-box", &empty, Seq(1, 40),
                                             [](auto* x, auto* d) { return GOST34311UpdateHash(d, 40, x); });
    ExpectRefusedUnchanged<GOST34311Context>("empty update without S-box", &empty, Seq(1, 40),
                                             [](auto* x, auto* d) { return GOST34311UpdateHash(d, 0, x); });
    ExpectRefusedUnchanged<GOST34311Context>("finish without S-box", &empty, Seq(1, 40),
                                             [](auto* x, auto*) { return GOST34311FinishHash(0, x); });

    GOST34311Context c{};
    const Bytes sbox = Seq(0x21, 64, 7), msg = Seq(3, 45);
    ASSERT_EQ(1, GOST34311SetParameter(&c, sbox.data(), GOST34311_SBOX));
    ASSERT_EQ(1, GOST34311SetParameter(&c, nullptr, GOST34311_START_VECTOR));
    ASSERT_EQ(1, GOST34311UpdateHash(msg.data(), 45, &c));
    const struct {
        const char* name;
        Call call;
    } midway[] = {
        {"hash before finish", [](auto* x, auto* d) { return GOST34311GetParameter(x, d, GOST34311_HASH); }},
        {"set type 3", [](auto* x, auto* d) { return GOST34311SetParameter(x, d, 3); }},
        {"get the S-box", [](auto* x, auto* d) { return GOST34311GetParameter(x, d, GOST34311_SBOX); }},
    };
    for (const auto& tc : midway) ExpectRefusedUnchanged<GOST34311Context>(tc.name, &c, Seq(1, 40), tc.call);
    ASSERT_EQ(1, GOST34311FinishHash(0, &c));
    const struct {
        const char* name;
        Call call;
    } finished[] = {
        {"update before the hash is read", [](auto* x, auto* d) { return GOST34311UpdateHash(d, 40, x); }},
        {"empty update before the hash is read", [](auto* x, auto* d) { return GOST34311UpdateHash(d, 0, x); }},
        {"finish twice", [](auto* x, auto*) { return GOST34311FinishHash(0, x); }},
    };
    for (const auto& tc : finished) ExpectRefusedUnchanged<GOST34311Context>(tc.name, &c, Seq(1, 40), tc.call);
}

}  // namespace
