// The stand-in's DSTU 8845 against the standard's published examples (key of
// all 0xAA bytes, zero IV, the first eight keystream words), and the state
// operations the provider relies on: positions, export and import.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "CGLibTestSupport.h"
#include "cgapi/CSPLibraryFunctions.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Cipher {
    CGAcquireStateFn acquire;
    CGReleaseStateFn release;
    CGSetStateParametersFn set;
    CGGetStateParametersFn get;
    CGDSTU8845EncryptDataFn crypt;
    explicit Cipher(const CGLib& lib)
        : acquire(lib.Get<CGAcquireStateFn>("DSTU8845AcquireState")),
          release(lib.Get<CGReleaseStateFn>("DSTU8845ReleaseState")),
          set(lib.Get<CGSetStateParametersFn>("DSTU8845SetStateParameters")),
          get(lib.Get<CGGetStateParametersFn>("DSTU8845GetStateParameters")),
          crypt(lib.Get<CGDSTU8845EncryptDataFn>("DSTU8845EncryptData"))
    {
    }
    void* Keyed(const Bytes& key, const Bytes& iv) const
    {
        void* state = acquire();
        EXPECT_NE(state, nullptr);
        const std::uint32_t bits = static_cast<std::uint32_t>(key.size() * 8);
        EXPECT_EQ(set(state, &bits, 2), 1);
        EXPECT_EQ(set(state, key.data(), 3), 1);
        EXPECT_EQ(set(state, iv.data(), 4), 1);
        return state;
    }
};

std::vector<std::uint64_t> Words(const Bytes& stream)
{
    std::vector<std::uint64_t> words(stream.size() / 8);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int k = 7; k >= 0; --k) words[i] = (words[i] << 8) | stream[8 * i + static_cast<std::size_t>(k)];
    return words;
}

}  // namespace

TEST(DSTU8845Vectors, PublishedKeystreamFor256And512BitKeys)
{
    CGLib lib("full/cgbase.so");
    Cipher c(lib);
    const Bytes iv(32, 0);
    const struct {
        std::size_t keyBytes;
        std::uint64_t z[8];
    } examples[] = {
        {32,
         {0xa7510b38c7a95d1d, 0xcd5ea28a15b8654f, 0xc5e2e2771d0373b2, 0x98ae829686d5fcee, 0x45bddf65c523dbb8,
          0x32a93fcdd950001f, 0x752a7fb588af8c51, 0x9de92736664212d4}},
        {64,
         {0xd2a6103c50bd4e04, 0xdc6a21af5eb13b73, 0xdf4ca6cb07797265, 0xf453c253d8d01876, 0x039a64dc7a01800c,
          0x688ce327dccb7e84, 0x41e0250b5e526403, 0x9936e478aa200f22}},
    };
    for (const auto& e : examples) {
        SCOPED_TRACE(e.keyBytes * 8);
        void* state = c.Keyed(Bytes(e.keyBytes, 0xAA), iv);
        Bytes stream(64, 0);
        ASSERT_EQ(c.crypt(stream.data(), 64, state), 1);
        EXPECT_EQ(Words(stream), std::vector<std::uint64_t>(std::begin(e.z), std::end(e.z)));
        c.release(state);
    }

    // Key word K3 = 0x8000000000000000 (the last key byte is 0x80, words are
    // read least significant byte first), with IV words 0 or 1, 2, 3, 4.
    Bytes key(32, 0), counting(32, 0);
    key[31] = 0x80;
    for (int i = 0; i < 4; ++i) counting[static_cast<std::size_t>(8 * i)] = static_cast<std::uint8_t>(i + 1);
    const struct {
        const Bytes* iv;
        std::uint64_t z[8];
    } keyed[] = {
        {&iv,
         {0xe442d15345dc66ca, 0xf47d700ecc66408a, 0xb4cb284b5477e641, 0xa2afc9092e4124b0, 0x728e5fa26b11a7d9,
          0xe6a7b9288c68f972, 0x70eb3606de8ba44c, 0xaced7956bd3e3de7}},
        {&counting,
         {0xfe44a2508b5a2acd, 0xaf355b4ed21d2742, 0xdcd7fdd6a57a9e71, 0x5d267bd2739fb5eb, 0xb22eee96b2832072,
          0xc7de6a4cdaa9a847, 0x72d5da93812680f2, 0x4a0acb7e93da2ce0}},
    };
    for (const auto& e : keyed) {
        void* state = c.Keyed(key, *e.iv);
        Bytes stream(64, 0);
        ASSERT_EQ(c.crypt(stream.data(), 64, state), 1);
        EXPECT_EQ(Words(stream), std::vector<std::uint64_t>(std::begin(e.z), std::end(e.z)));
        c.release(state);
    }
}

TEST(DSTU8845Vectors, PieceByPieceEqualsOneCallAndPositionsSkipAhead)
{
    CGLib lib("full/cgbase.so");
    Cipher c(lib);
    Bytes key(32), iv(32);
    for (int i = 0; i < 32; ++i) {
        key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
        iv[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xF0 - i);
    }
    void* whole = c.Keyed(key, iv);
    Bytes expected(700, 0);
    ASSERT_EQ(c.crypt(expected.data(), 700, whole), 1);

    void* pieces = c.Keyed(key, iv);
    Bytes data(700, 0);
    std::size_t done = 0;
    for (std::uint32_t piece : {1u, 7u, 120u, 128u, 200u, 244u}) {
        ASSERT_EQ(c.crypt(data.data() + done, piece, pieces), 1);
        done += piece;
    }
    EXPECT_EQ(data, expected);

    // Byte position 300, then block position 2 (byte 256).
    const std::uint64_t bytePosition = 300, blockPosition = 2;
    ASSERT_EQ(c.set(pieces, iv.data(), 4), 1);
    ASSERT_EQ(c.set(pieces, &bytePosition, 5), 1);
    Bytes tail(400, 0);
    ASSERT_EQ(c.crypt(tail.data(), 400, pieces), 1);
    EXPECT_EQ(tail, Bytes(expected.begin() + 300, expected.end()));
    ASSERT_EQ(c.set(pieces, &blockPosition, 6), 1);
    Bytes tail2(444, 0);
    ASSERT_EQ(c.crypt(tail2.data(), 444, pieces), 1);
    EXPECT_EQ(tail2, Bytes(expected.begin() + 256, expected.end()));
    const std::uint64_t tooFar = 1ull << 40;
    EXPECT_EQ(c.set(pieces, &tooFar, 5), 0);

    // Export after 100 bytes, import into a fresh state, continue.
    void* first = c.Keyed(key, iv);
    Bytes part(100, 0);
    ASSERT_EQ(c.crypt(part.data(), 100, first), 1);
    std::uint32_t size = 0;
    ASSERT_EQ(c.get(first, &size, 7), 1);
    Bytes image(size);
    ASSERT_EQ(c.get(first, image.data(), 8), 1);
    void* second = c.acquire();
    ASSERT_EQ(c.set(second, image.data(), 8), 1);
    Bytes rest(600, 0);
    ASSERT_EQ(c.crypt(rest.data(), 600, second), 1);
    EXPECT_EQ(rest, Bytes(expected.begin() + 100, expected.end()));
    image[0] ^= 1;
    EXPECT_EQ(c.set(second, image.data(), 8), 0);

    for (void* s : {whole, pieces, first, second}) c.release(s);
}
