// GOST 28147-89 against published known answers (the GOST R 34.11-94 worked
// example under its test S-box, RFC 4357 parameter set A), the mode rules of
// the cipher module, and a plain nibble-by-nibble model of the rounds.
#include <gtest/gtest.h>

#include "GostTestSBox.h"
#include "TestHex.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/GOST28147.h"

namespace {

using Bytes = std::vector<uint8_t>;

using cryptotest::Hex;

using Rows = uint8_t[8][16];  // S-box 0 (least significant nibble) first

const Rows& kTestSBox = cryptotest::kGostTestSBoxRows;

// id-Gost28147-89-CryptoPro-A-ParamSet (RFC 4357).
const Rows kCryptoProA = {
    {9, 6, 3, 2, 8, 11, 1, 7, 10, 4, 14, 15, 12, 0, 13, 5}, {3, 7, 14, 9, 8, 10, 15, 0, 5, 2, 6, 12, 11, 4, 13, 1},
    {14, 4, 6, 2, 11, 3, 13, 8, 12, 15, 5, 10, 0, 7, 1, 9}, {14, 7, 10, 12, 13, 1, 3, 9, 0, 2, 11, 4, 15, 8, 5, 6},
    {11, 5, 1, 9, 8, 13, 15, 0, 14, 4, 2, 3, 12, 7, 10, 6}, {3, 10, 13, 12, 1, 2, 0, 11, 7, 5, 9, 4, 8, 15, 14, 6},
    {1, 13, 2, 9, 7, 10, 6, 0, 8, 12, 4, 5, 15, 3, 11, 14}, {11, 10, 15, 5, 0, 12, 14, 8, 6, 2, 3, 9, 1, 7, 13, 4},
};

// The system's default S-box (DKE No. 1) in packed form.
const char* kDefaultPacked = "8a09cd469e6b74b52f3113fc57e0a8d23f86d5986ebbfa042c50c3a742e9117d"
                             "2f889e7957f200bdcc16d1e5ab34634a13283be566d4be8af2acc157799f0d40";

GOST28147PackedSBox Pack(const Rows& rows)
{
    GOST28147PackedSBox packed;
    for (int r = 0; r < 4; ++r)
        for (int v = 0; v < 16; ++v) packed.rows[r][v] = static_cast<uint8_t>(rows[2 * r][v] | rows[2 * r + 1][v] << 4);
    return packed;
}

// The rounds as the standard writes them: eight nibble substitutions, then
// a rotation by 11; exchange after every step but the last of a 32-step cycle.
uint32_t RefF(const Rows& s, uint32_t x)
{
    uint32_t y = 0;
    for (int m = 0; m < 8; ++m) y |= uint32_t(s[m][(x >> (4 * m)) & 0xF]) << (4 * m);
    return (y << 11) | (y >> 21);
}

void RefCycle(const Rows& s, const uint32_t* k, const std::vector<int>& order, bool lastExchange, uint32_t& n1,
              uint32_t& n2)
{
    for (size_t i = 0; i < order.size(); ++i) {
        const uint32_t t = n2 ^ RefF(s, n1 + k[order[i]]);
        if (i + 1 == order.size() && !lastExchange) {
            n2 = t;
        } else {
            n2 = n1;
            n1 = t;
        }
    }
}

std::vector<int> Order(const std::string& pattern)
{
    std::vector<int> order;
    for (char c : pattern)
        for (int i = 0; i < 8; ++i) order.push_back(c == '+' ? i : 7 - i);
    return order;
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

struct Context {
    GOST28147Context c{};
    Context(const GOST28147PackedSBox& sbox, const Bytes& key)
    {
        EXPECT_EQ(GOST28147SetParameter(&c, &sbox, GOST28147_SBOX), 1);
        EXPECT_EQ(GOST28147SetParameter(&c, key.data(), GOST28147_KEY), 1);
    }
    Context(const GOST28147PackedSBox& sbox, const Bytes& key, const Bytes& iv) : Context(sbox, key)
    {
        EXPECT_EQ(GOST28147SetParameter(&c, iv.data(), GOST28147_IV), 1);
    }
};

const Bytes kKeyA = Hex("8182838485868788 898a8b8c8d8e8f80 d1d2d3d4d5d6d7d8 d9dadbdcdddedfd0");

TEST(Gost28147, ExpandedTablesFoldSubstitutionAndRotation)
{
    // Identity S-boxes: the round function is a plain rotation by 11.
    GOST28147PackedSBox identity;
    for (int r = 0; r < 4; ++r)
        for (int v = 0; v < 16; ++v) identity.rows[r][v] = static_cast<uint8_t>(v * 0x11);
    GOST28147ExpandedSBox table;
    GOST28147ExpandSBox(&identity, &table);
    for (uint32_t x : {0u, 1u, 0x12345678u, 0x80000001u, 0xFFFFFFFFu}) {
        const uint32_t f = table.tables[0][x & 0xFF] ^ table.tables[1][(x >> 8) & 0xFF] ^
                           table.tables[2][(x >> 16) & 0xFF] ^ table.tables[3][x >> 24];
        EXPECT_EQ(f, (x << 11) | (x >> 21)) << std::hex << x;
    }
    // A real S-box: each nibble through its own row, S-box 0 on the lowest.
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    GOST28147ExpandSBox(&packed, &table);
    uint32_t x = 0x9E3779B9;
    for (int i = 0; i < 1000; ++i, x = x * 1664525u + 1013904223u) {
        const uint32_t f = table.tables[0][x & 0xFF] ^ table.tables[1][(x >> 8) & 0xFF] ^
                           table.tables[2][(x >> 16) & 0xFF] ^ table.tables[3][x >> 24];
        ASSERT_EQ(f, RefF(kTestSBox, x)) << std::hex << x;
    }
}

struct EcbVector {
    const Rows* sbox;
    const char* key;
    const char* plain;
    const char* cipher;
};

TEST(Gost28147, EcbKnownAnswers)
{
    const EcbVector vectors[] = {
        // GOST R 34.11-94 worked example, first step: E(K1..K4, 0), then the
        // second step's first key over its first word.
        {&kTestSBox, "546D2033 68656C32 69736520 73736E62 20616779 69677474 73656865 202C3D73", "0000000000000000",
         "1B0BBC32 CEBCAB42"},
        {&kTestSBox, "2033394D 6C320D09 65201A16 6E62001D 67794106 74740E13 6865160D 3D730C11", "0000000000000000",
         "FDCF9B5D C8EB0352"},
        {&kTestSBox, "39B213F5 F209A13F 1AE9BA3A FF1D0C62 41F9E1C7 F1130085 16F20D73 F311B180", "0000000000000000",
         "280EFF00 9958348D"},
        {&kTestSBox, "EC0A8BA1 5EC004A8 BAC50CAC 0C621DEE E1C7B8E7 007AE2EC F2731BFF 4E80E2A0", "0000000000000000",
         "2D562A0D 190486E7"},
        {&kTestSBox, "348724a4c1a67667153dde5933884250e3248c657d413b8c1c9ca09a56d968cf", "34c01533e37d1c56",
         "863e78dd2d60d13c"},
        {&kTestSBox, "8182838485868788 898a8b8c8d8e8f80 d1d2d3d4d5d6d7d8 d9dadbdcdddedfd0",
         "0102030405060708 f1f2f3f4f5f6f7f8", "ced52a7ff7f260d5 bc81a80bb5e65976"},
        {&kCryptoProA, "8182838485868788 898a8b8c8d8e8f80 d1d2d3d4d5d6d7d8 d9dadbdcdddedfd0",
         "0102030405060708 f1f2f3f4f5f6f7f8", "668184aedc48c917 4164347058845cac"},
        {&kCryptoProA, "bbf1edd320af8a628e11c8a951ccbe81477b41a16af67f05e8512f9e01f8cf49",
         "743d76f91bee353ca25c3b10eb64cff5", "c373909535580863cb68859677e8fba9"},
    };
    for (const EcbVector& v : vectors) {
        SCOPED_TRACE(v.key);
        Context ctx(Pack(*v.sbox), Hex(v.key));
        Bytes data = Hex(v.plain);
        const uint32_t blocks = static_cast<uint32_t>(data.size() / 8);
        ASSERT_EQ(GOST28147EncryptECB(data.data(), blocks, &ctx.c), 1);
        EXPECT_EQ(data, Hex(v.cipher));
        ASSERT_EQ(GOST28147DecryptECB(data.data(), blocks, &ctx.c), 1);
        EXPECT_EQ(data, Hex(v.plain));
    }
}

TEST(Gost28147, BlockFunctionsMatchTheStandardsCycles)
{
    // Many blocks through ECB (the interleaved path and the single-block tail)
    // against the step-by-step model, under the system's default S-box.
    Bytes packedBytes = Hex(kDefaultPacked);
    GOST28147PackedSBox packed;
    std::memcpy(&packed, packedBytes.data(), 64);
    Rows rows;
    for (int r = 0; r < 4; ++r)
        for (int v = 0; v < 16; ++v) {
            rows[2 * r][v] = packed.rows[r][v] & 0xF;
            rows[2 * r + 1][v] = packed.rows[r][v] >> 4;
        }
    Bytes key(32);
    for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(7 * i + 3);
    Context ctx(packed, key);
    uint32_t k[8];
    for (int i = 0; i < 8; ++i) k[i] = Le32(&key[4 * i]);

    Bytes data(11 * 8);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 5);
    const Bytes plain = data;
    ASSERT_EQ(GOST28147EncryptECB(data.data(), 11, &ctx.c), 1);
    for (int b = 0; b < 11; ++b) {
        uint32_t n1 = Le32(&plain[8 * b]), n2 = Le32(&plain[8 * b + 4]);
        RefCycle(rows, k, Order("+++-"), false, n1, n2);
        EXPECT_EQ(Le32(&data[8 * b]), n1) << b;
        EXPECT_EQ(Le32(&data[8 * b + 4]), n2) << b;
    }
    // Decryption cycle: K0..K7 once, then K7..K0 three times.
    Bytes back = data;
    ASSERT_EQ(GOST28147DecryptECB(back.data(), 11, &ctx.c), 1);
    EXPECT_EQ(back, plain);
    uint32_t n1 = Le32(&data[0]), n2 = Le32(&data[4]);
    RefCycle(rows, k, Order("+---"), false, n1, n2);
    EXPECT_EQ(n1, Le32(&plain[0]));
    EXPECT_EQ(n2, Le32(&plain[4]));

    // Zero blocks: success, nothing touched.
    Bytes untouched = plain;
    EXPECT_EQ(GOST28147EncryptECB(untouched.data(), 0, &ctx.c), 1);
    EXPECT_EQ(GOST28147DecryptECB(untouched.data(), 0, &ctx.c), 1);
    EXPECT_EQ(untouched, plain);
}

uint32_t ReadMac(GOST28147Context& c)
{
    uint8_t out[4] = {};
    EXPECT_EQ(GOST28147GetParameter(&c, out, GOST28147_MAC), 1);
    return Le32(out);
}

TEST(Gost28147, MacKnownAnswer)
{
    Context ctx(Pack(kCryptoProA), Hex("9d05b79e90cad00a2cdad22ef4e86f5cf5dc37681985b3bfaa18c1c3050a91a2"));
    const Bytes data = Hex("b5a1f0e3ce2f021d676194345c41e36e");
    ASSERT_EQ(GOST28147ComputeMAC(data.data(), 16, &ctx.c), 1);
    uint8_t mac[4];
    ASSERT_EQ(GOST28147GetParameter(&ctx.c, mac, GOST28147_MAC), 1);
    EXPECT_EQ(Bytes(mac, mac + 4), Hex("f81f08a3"));
}

TEST(Gost28147, MacOfShortAndPartialBlocks)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    Context ctx(packed, kKeyA);
    uint32_t k[8];
    for (int i = 0; i < 8; ++i) k[i] = Le32(&kKeyA[4 * i]);
    const Bytes message = Hex("0102030405060708 f1f2f3f4f5f6f7f8 a1");

    // Nothing: one success, MAC 0.
    ASSERT_EQ(GOST28147ComputeMAC(message.data(), 0, &ctx.c), 1);
    EXPECT_EQ(ReadMac(ctx.c), 0u);

    // 1 to 8 bytes: exactly one 16-step pass over the bytes padded with zeros.
    for (uint32_t len = 1; len <= 8; ++len) {
        uint8_t block[8] = {};
        std::memcpy(block, message.data(), len);
        uint32_t n1 = Le32(block), n2 = Le32(block + 4);
        RefCycle(kTestSBox, k, Order("++"), true, n1, n2);
        ASSERT_EQ(GOST28147ComputeMAC(message.data(), len, &ctx.c), 1);
        EXPECT_EQ(ReadMac(ctx.c), n1) << len;
        ASSERT_EQ(GOST28147ComputeMAC(block, 8, &ctx.c), 1);
        EXPECT_EQ(ReadMac(ctx.c), n1) << len;
    }

    // 9 bytes: a second pass over one byte and seven zero bytes.
    uint32_t n1 = Le32(&message[0]), n2 = Le32(&message[4]);
    RefCycle(kTestSBox, k, Order("++"), true, n1, n2);
    n1 ^= message[8];
    RefCycle(kTestSBox, k, Order("++"), true, n1, n2);
    ASSERT_EQ(GOST28147ComputeMAC(message.data(), 9, &ctx.c), 1);
    EXPECT_EQ(ReadMac(ctx.c), n1);
}

TEST(Gost28147, MacReadyStateAndReads)
{
    Context ctx(Pack(kTestSBox), kKeyA);
    const Bytes data = Hex("00112233445566778899aabbccddeeff");
    ASSERT_EQ(GOST28147ComputeMAC(data.data(), 16, &ctx.c), 1);
    // A MAC is waiting: a second computation is refused and changes nothing.
    EXPECT_EQ(GOST28147ComputeMAC(data.data(), 16, &ctx.c), 0);
    const uint32_t first = ReadMac(ctx.c);
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    EXPECT_EQ(GOST28147GetParameter(&ctx.c, out, GOST28147_MAC), 0);
    EXPECT_EQ(Bytes(out, out + 4), Hex("eeeeeeee"));
    // The read zeroed the register: the same data gives the same MAC.
    ASSERT_EQ(GOST28147ComputeMAC(data.data(), 16, &ctx.c), 1);
    EXPECT_EQ(ReadMac(ctx.c), first);
    EXPECT_EQ(ctx.c.mac[0], 0u);
    EXPECT_EQ(ctx.c.mac[1], 0u);
}

TEST(Gost28147, PrerequisitesAndUnknownCodes)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    const Bytes iv = Hex("0102030405060708");
    uint8_t data[16] = {1, 2, 3};
    uint8_t copy[16];
    std::memcpy(copy, data, 16);
    const uint64_t offset = 8;

    for (int setup = 0; setup < 3; ++setup) {  // nothing, S-box only, key only
        GOST28147Context c{};
        if (setup == 1) GOST28147SetParameter(&c, &packed, GOST28147_SBOX);
        if (setup == 2) GOST28147SetParameter(&c, kKeyA.data(), GOST28147_KEY);
        const GOST28147Context before = c;
        EXPECT_EQ(GOST28147EncryptECB(data, 2, &c), 0);
        EXPECT_EQ(GOST28147DecryptECB(data, 2, &c), 0);
        EXPECT_EQ(GOST28147ComputeMAC(data, 16, &c), 0);
        EXPECT_EQ(GOST28147SetParameter(&c, iv.data(), GOST28147_IV), 0);
        uint8_t out[8] = {};
        EXPECT_EQ(GOST28147GetParameter(&c, out, GOST28147_IV), 0);
        EXPECT_EQ(std::memcmp(&before, &c, sizeof c), 0);
    }

    // Key and S-box but no IV: the gamma modes and the offset refuse.
    Context ctx(packed, kKeyA);
    const GOST28147Context before = ctx.c;
    EXPECT_EQ(GOST28147ApplyCounterGamma(data, 16, &ctx.c), 0);
    EXPECT_EQ(GOST28147EncryptCFB(data, 16, &ctx.c), 0);
    EXPECT_EQ(GOST28147DecryptCFB(data, 16, &ctx.c), 0);
    EXPECT_EQ(GOST28147SetParameter(&ctx.c, &offset, GOST28147_GAMMA_OFFSET), 0);
    EXPECT_EQ(std::memcmp(data, copy, 16), 0);
    EXPECT_EQ(std::memcmp(&before, &ctx.c, sizeof before), 0);

    // Codes that are not settable or gettable, or unknown.
    uint8_t out[32] = {};
    EXPECT_EQ(GOST28147SetParameter(&ctx.c, out, GOST28147_MAC), 0);
    EXPECT_EQ(GOST28147SetParameter(&ctx.c, out, 0), 0);
    EXPECT_EQ(GOST28147SetParameter(&ctx.c, out, 6), 0);
    EXPECT_EQ(GOST28147GetParameter(&ctx.c, out, GOST28147_KEY), 0);
    EXPECT_EQ(GOST28147GetParameter(&ctx.c, out, GOST28147_SBOX), 0);
    EXPECT_EQ(GOST28147GetParameter(&ctx.c, out, GOST28147_GAMMA_OFFSET), 0);

    // The IV reads back as set, not as the running register.
    ASSERT_EQ(GOST28147SetParameter(&ctx.c, iv.data(), GOST28147_IV), 1);
    ASSERT_EQ(GOST28147ApplyCounterGamma(data, 16, &ctx.c), 1);
    ASSERT_EQ(GOST28147GetParameter(&ctx.c, out, GOST28147_IV), 1);
    EXPECT_EQ(Bytes(out, out + 8), iv);
}

struct GammaVector {
    const char* key;
    const char* iv;
    const char* plain;
    const char* cipher;
    bool feedback;
};

TEST(Gost28147, GammaKnownAnswers)
{
    const GammaVector vectors[] = {
        {"599f84bac3f3d2f160e1e3f26a961af99c48b24ebcbbbf7cd8f3accd968d286a", "8dafa8d158ed058d",
         "90a23966ae01b9a3524ec8ed6cdd8830", "6e7262cce3593690833afea91bc9bece", false},
        {"8d5a2c83a7c70a61d61b34b51fdf42686671a35d874cfd84993663b61ed60dad", "46606f0d8834235a",
         "d2fdf83ac1b439232eaacc980a02da33", "88b7751674a5ee2d14fe9167d05ccc40", true},
    };
    for (const GammaVector& v : vectors) {
        SCOPED_TRACE(v.key);
        const Bytes plain = Hex(v.plain);
        Context enc(Pack(kCryptoProA), Hex(v.key), Hex(v.iv));
        Bytes data = plain;
        const uint32_t n = static_cast<uint32_t>(data.size());
        ASSERT_EQ(v.feedback ? GOST28147EncryptCFB(data.data(), n, &enc.c)
                             : GOST28147ApplyCounterGamma(data.data(), n, &enc.c),
                  1);
        EXPECT_EQ(data, Hex(v.cipher));
        Context dec(Pack(kCryptoProA), Hex(v.key), Hex(v.iv));
        ASSERT_EQ(v.feedback ? GOST28147DecryptCFB(data.data(), n, &dec.c)
                             : GOST28147ApplyCounterGamma(data.data(), n, &dec.c),
                  1);
        EXPECT_EQ(data, plain);
    }
}

enum Mode { Counter, CfbEncrypt, CfbDecrypt };

int Apply(Mode mode, uint8_t* data, uint32_t length, GOST28147Context* c)
{
    switch (mode) {
    case Counter:
        return GOST28147ApplyCounterGamma(data, length, c);
    case CfbEncrypt:
        return GOST28147EncryptCFB(data, length, c);
    default:
        return GOST28147DecryptCFB(data, length, c);
    }
}

TEST(Gost28147, GammaFirstBlocksFollowTheStandard)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    const Bytes iv = Hex("a1a2a3a4a5a6a7a8");
    Context ctx(packed, kKeyA);
    uint8_t e[8];
    std::memcpy(e, iv.data(), 8);
    GOST28147EncryptBlock(e, ctx.c.key, &ctx.c.expandedSBox);

    // Counter gamma: the first gamma block is E(E(IV).w0 + C2, E(IV).w1 + C1 mod 2^32-1).
    uint8_t expected[8];
    PutLe32(expected, Le32(e) + 0x01010101);
    const uint64_t n4 = (uint64_t(Le32(e + 4)) + 0x01010104) % 0xFFFFFFFFull;
    PutLe32(expected + 4, n4 == 0 ? 0xFFFFFFFF : uint32_t(n4));
    GOST28147EncryptBlock(expected, ctx.c.key, &ctx.c.expandedSBox);
    Context counter(packed, kKeyA, iv);
    uint8_t zeros[8] = {};
    ASSERT_EQ(GOST28147ApplyCounterGamma(zeros, 8, &counter.c), 1);
    EXPECT_EQ(Bytes(zeros, zeros + 8), Bytes(expected, expected + 8));

    // Gamma with feedback: the first gamma block is E(IV).
    Context cfb(packed, kKeyA, iv);
    uint8_t zeros2[8] = {};
    ASSERT_EQ(GOST28147EncryptCFB(zeros2, 8, &cfb.c), 1);
    EXPECT_EQ(Bytes(zeros2, zeros2 + 8), Bytes(e, e + 8));
}

TEST(Gost28147, GammaSplitsMatchOneCall)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    const Bytes iv = Hex("0011223344556677");
    Bytes message(45);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<uint8_t>(i * 13 + 1);
    const uint32_t total = static_cast<uint32_t>(message.size());

    for (Mode mode : {Counter, CfbEncrypt, CfbDecrypt}) {
        Context whole(packed, kKeyA, iv);
        Bytes expected = message;
        ASSERT_EQ(Apply(mode, expected.data(), total, &whole.c), 1);
        for (uint32_t i = 0; i <= total; ++i)
            for (uint32_t j = i; j <= total; ++j) {
                Context split(packed, kKeyA, iv);
                Bytes data = message;
                ASSERT_EQ(Apply(mode, data.data(), i, &split.c), 1);
                ASSERT_EQ(Apply(mode, data.data() + i, j - i, &split.c), 1);
                ASSERT_EQ(Apply(mode, data.data() + j, 0, &split.c), 1);
                ASSERT_EQ(Apply(mode, data.data() + j, total - j, &split.c), 1);
                ASSERT_EQ(data, expected) << "mode " << mode << " split " << i << "," << j;
            }
        // Leftover state after a call that ends 3 bytes into a block.
        Context part(packed, kKeyA, iv);
        Bytes data = message;
        ASSERT_EQ(Apply(mode, data.data(), 11, &part.c), 1);
        EXPECT_EQ(part.c.leftoverCount, 5);
    }

    // Decryption with feedback inverts encryption.
    Context enc(packed, kKeyA, iv), dec(packed, kKeyA, iv);
    Bytes data = message;
    ASSERT_EQ(GOST28147EncryptCFB(data.data(), total, &enc.c), 1);
    ASSERT_EQ(GOST28147DecryptCFB(data.data(), total, &dec.c), 1);
    EXPECT_EQ(data, message);
}

TEST(Gost28147, SettingTheIvRestartsTheGamma)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    const Bytes iv = Hex("0011223344556677");
    for (Mode mode : {Counter, CfbEncrypt, CfbDecrypt}) {
        Context fresh(packed, kKeyA, iv);
        uint8_t expected[8] = {};
        ASSERT_EQ(Apply(mode, expected, 8, &fresh.c), 1);

        Context c(packed, kKeyA, iv);
        uint8_t scratch[3] = {};
        ASSERT_EQ(Apply(mode, scratch, 3, &c.c), 1);
        ASSERT_EQ(GOST28147SetParameter(&c.c, iv.data(), GOST28147_IV), 1);
        uint8_t data[8] = {};
        ASSERT_EQ(Apply(mode, data, 8, &c.c), 1);
        EXPECT_EQ(Bytes(data, data + 8), Bytes(expected, expected + 8)) << mode;
    }
    // An empty counter-gamma call right after the IV changes nothing that follows.
    Context a(packed, kKeyA, iv), b(packed, kKeyA, iv);
    uint8_t x[8] = {}, y[8] = {};
    ASSERT_EQ(GOST28147ApplyCounterGamma(x, 0, &a.c), 1);
    ASSERT_EQ(GOST28147ApplyCounterGamma(x, 8, &a.c), 1);
    ASSERT_EQ(GOST28147ApplyCounterGamma(y, 8, &b.c), 1);
    EXPECT_EQ(Bytes(x, x + 8), Bytes(y, y + 8));
}

// The IV whose encryption is (a, b), so that the counters start where a case needs them.
Bytes IvFor(const GOST28147Context& c, uint32_t a, uint32_t b)
{
    Bytes iv(8);
    PutLe32(iv.data(), a);
    PutLe32(iv.data() + 4, b);
    GOST28147DecryptBlock(iv.data(), c.key, &c.expandedSBox);
    return iv;
}

TEST(Gost28147, CounterStepsModuloTwoToThe32MinusOne)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    Context base(packed, kKeyA);
    struct Case {
        uint32_t a, b, n3, n4;
    } cases[] = {
        {0, 0xFEFEFEFB, 0x01010101, 0xFFFFFFFF},
        {0, 0xFEFEFEFC, 0x01010101, 0x00000001},
        {0, 0xFFFFFFFF, 0x01010101, 0x01010104},
        {0xFFFFFFFF, 0, 0x01010100, 0x01010104},
    };
    for (const Case& cs : cases) {
        const Bytes iv = IvFor(base.c, cs.a, cs.b);
        Context c(packed, kKeyA, iv);
        uint8_t data[8] = {};
        ASSERT_EQ(GOST28147ApplyCounterGamma(data, 8, &c.c), 1);
        EXPECT_EQ(c.c.gamma[0], cs.n3);
        EXPECT_EQ(c.c.gamma[1], cs.n4);
        uint8_t expected[8];
        PutLe32(expected, cs.n3);
        PutLe32(expected + 4, cs.n4);
        GOST28147EncryptBlock(expected, c.c.key, &c.c.expandedSBox);
        EXPECT_EQ(Bytes(data, data + 8), Bytes(expected, expected + 8)) << std::hex << cs.b;
    }
}

TEST(Gost28147, GammaOffsetEqualsSteppingThroughTheData)
{
    const GOST28147PackedSBox packed = Pack(kTestSBox);
    Context base(packed, kKeyA);
    struct Case {
        uint32_t a, b;
        uint64_t offset;
    } cases[] = {
        {0x11111111, 0x22222222, 0},       {0x11111111, 0x22222222, 8},
        {0x11111111, 0x22222222, 13},                                          // rounded down to 8
        {0x11111111, 0x22222222, 8 * 100}, {0x5A5A5A5A, 0xFFFFFD03, 8 * 255},  // B + n*C1 = 2^33 - 1: N4 = 1
        {0x5A5A5A5A, 0xFFFFFD02, 8 * 255},  // B + n*C1 = 2(2^32 - 1): N4 = 0xFFFFFFFF
    };
    for (const Case& cs : cases) {
        const Bytes iv = IvFor(base.c, cs.a, cs.b);
        const uint64_t n = cs.offset / 8;
        Context stepped(packed, kKeyA, iv);
        Bytes zeros(8 * (n + 1) + 5);
        ASSERT_EQ(GOST28147ApplyCounterGamma(zeros.data(), static_cast<uint32_t>(8 * n), &stepped.c), 1);

        Context positioned(packed, kKeyA, iv);
        ASSERT_EQ(GOST28147SetParameter(&positioned.c, &cs.offset, GOST28147_GAMMA_OFFSET), 1);
        EXPECT_EQ(positioned.c.gamma[0], stepped.c.gamma[0]) << cs.offset;
        EXPECT_EQ(positioned.c.gamma[1], stepped.c.gamma[1]) << cs.offset;
        EXPECT_EQ(positioned.c.leftoverCount, 0);

        Bytes x(13), y(13);
        ASSERT_EQ(GOST28147ApplyCounterGamma(x.data(), 13, &stepped.c), 1);
        ASSERT_EQ(GOST28147ApplyCounterGamma(y.data(), 13, &positioned.c), 1);
        EXPECT_EQ(x, y) << cs.offset;
    }
    // The two edge cases land where the modular arithmetic says.
    Context c(packed, kKeyA, IvFor(base.c, 0, 0xFFFFFD03));
    uint64_t offset = 8 * 255;
    ASSERT_EQ(GOST28147SetParameter(&c.c, &offset, GOST28147_GAMMA_OFFSET), 1);
    EXPECT_EQ(c.c.gamma[1], 1u);
    Context d(packed, kKeyA, IvFor(base.c, 0, 0xFFFFFD02));
    ASSERT_EQ(GOST28147SetParameter(&d.c, &offset, GOST28147_GAMMA_OFFSET), 1);
    EXPECT_EQ(d.c.gamma[1], 0xFFFFFFFFu);
}

TEST(Gost28147, CreateAndFree)
{
    GOST28147Context* c = GOST28147CreateContext();
    ASSERT_NE(c, nullptr);
    const GOST28147Context zero{};
    EXPECT_EQ(std::memcmp(c, &zero, sizeof zero), 0);
    GOST28147FreeContext(c);
    GOST28147FreeContext(nullptr);
}

}  // namespace
