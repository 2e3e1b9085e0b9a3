// Password-based DSTU 7624 encryption: the layout and sizes, a known answer
// rebuilt step by step from the project's cipher and hash modules, round
// trips, and the mended faults (wrapping sizes, a wrong password destroying
// the input, undecryptable Ex formats, empty data).
#include <gtest/gtest.h>

#include "CSPTestSupport.h"
#include "crypto/DSTU7564.h"
#include "crypto/DSTU7624Modes.h"

using namespace csptest;

namespace {

const char kPassword[] = "correct horse";

Bytes Kupyna(const Bytes& data, std::uint32_t bytes)
{
    DSTU7564Context* c = DSTU7564CreateContext();
    std::uint32_t bits = bytes * 8;
    DSTU7564SetParameter(c, &bits, DSTU7564_HASH_BITS);
    DSTU7564UpdateHash(data.data(), static_cast<std::uint32_t>(data.size() * 8), 0, c);
    DSTU7564FinishHash(c);
    Bytes out(bytes);
    DSTU7564GetParameter(c, out.data(), DSTU7564_HASH);
    DSTU7564FreeContext(c);
    return out;
}

DSTU7624Context* Cipher(const Bytes& key, std::uint32_t blockBytes, const std::uint8_t* iv)
{
    DSTU7624Context* c = DSTU7624CreateContext();
    std::uint32_t blockBits = blockBytes * 8, keyBits = static_cast<std::uint32_t>(key.size() * 8);
    DSTU7624SetParameter(c, &blockBits, DSTU7624_BLOCK_BITS);
    DSTU7624SetParameter(c, &keyBits, DSTU7624_KEY_BITS);
    DSTU7624SetParameter(c, key.data(), DSTU7624_KEY);
    if (iv != nullptr) DSTU7624SetParameter(c, iv, DSTU7624_IV);
    return c;
}

}  // namespace

TEST(CSPPassword, LayoutAndSizesFollowTheDataLength)
{
    Provider p;
    const Bytes iv = Sequence(0x90, 32);
    const struct {
        std::uint32_t length;
        std::uint32_t size;
        std::uint8_t flag;
    } cases[] = {{32, 97, 0}, {33, 129, 1}, {0, 65, 0}, {64, 129, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const Bytes data = Sequence(1, static_cast<int>(c.length));
        Bytes out(c.size + 1);
        EXPECT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), c.length, out.data(), c.size + 1, nullptr, kPassword,
                                                 nullptr, 32, iv.data()),
                  CSP_BAD_ARGUMENT);
        ASSERT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), c.length, out.data(), c.size, nullptr, kPassword, nullptr,
                                                 32, iv.data()),
                  CSP_OK);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), iv);
        EXPECT_EQ(out[c.size - 1], c.flag);

        std::uint8_t* plain = nullptr;
        std::uint32_t plainLength = 0xFFFF;
        out.resize(c.size);
        ASSERT_EQ(
            p->DecryptWithPasswordDSTU7624(out.data(), c.size, &plain, &plainLength, nullptr, kPassword, nullptr, 32),
            CSP_OK);
        EXPECT_EQ(plainLength, c.length);
        EXPECT_EQ(plain, out.data() + 32);
        EXPECT_EQ(Bytes(plain, plain + plainLength), data);
    }
}

TEST(CSPPassword, KnownAnswerRebuiltStepByStep)
{
    Provider p;
    const Bytes iv = Sequence(0x10, 32), data = Sequence(0x30, 40);
    Bytes out(129);
    ASSERT_EQ(
        p->EncryptWithPasswordDSTU7624(data.data(), 40, out.data(), 129, nullptr, kPassword, nullptr, 32, iv.data()),
        CSP_OK);

    const Bytes key = Kupyna(Bytes(kPassword, kPassword + sizeof kPassword - 1), 32);
    Bytes expected(129, 0);
    std::copy(iv.begin(), iv.end(), expected.begin());
    // CMAC of the plaintext, full block length.
    DSTU7624Context* mac = Cipher(key, 32, nullptr);
    ASSERT_EQ(DSTU7624ComputeCMAC(data.data(), 40 * 8, 0, mac), 1);
    std::uint32_t macBits = 256;
    ASSERT_EQ(DSTU7624SetParameter(mac, &macBits, DSTU7624_MAC_BITS), 1);
    ASSERT_EQ(DSTU7624GetParameter(mac, expected.data() + 32 + 64, DSTU7624_MAC), 1);
    DSTU7624FreeContext(mac);
    // CBC of the data padded to 64 bytes.
    std::copy(data.begin(), data.end(), expected.begin() + 32);
    DSTU7624Context* cbc = Cipher(key, 32, iv.data());
    ASSERT_EQ(DSTU7624EncryptCBC(expected.data() + 32, 40 * 8, 0, 64 * 8, 0, cbc), 1);
    DSTU7624FreeContext(cbc);
    expected[128] = 1;
    EXPECT_EQ(out, expected);

    // A given key instead of the password, and both: the password wins.
    Bytes withKey(129), both(129);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 40, withKey.data(), 129, nullptr, nullptr, key.data(), 32,
                                             iv.data()),
              CSP_OK);
    EXPECT_EQ(withKey, expected);
    const Bytes otherKey(32, 0x77);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 40, both.data(), 129, nullptr, kPassword, otherKey.data(), 32,
                                             iv.data()),
              CSP_OK);
    EXPECT_EQ(both, expected);
}

TEST(CSPPassword, WrongPasswordGives15AndLeavesTheInputIntact)
{
    Provider p;
    const Bytes iv = Sequence(0x10, 32), data = Sequence(0x30, 50);
    Bytes out(129);
    ASSERT_EQ(
        p->EncryptWithPasswordDSTU7624(data.data(), 50, out.data(), 129, nullptr, kPassword, nullptr, 32, iv.data()),
        CSP_OK);
    const Bytes sealed = out;
    std::uint8_t* plain = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624(out.data(), 129, &plain, &length, nullptr, "wrong", nullptr, 32),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(out, sealed);
    EXPECT_EQ(plain, nullptr);
    Bytes ex(32 + 64 + 32 + 1);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 50, ex.data(), 129, nullptr, kPassword, nullptr, 32,
                                               iv.data(), 32, 32),
              CSP_OK);
    const Bytes sealedEx = ex;
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624Ex(ex.data(), 129, &plain, &length, nullptr, "wrong", nullptr, 0),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(ex, sealedEx);
    ASSERT_EQ(p->DecryptWithPasswordDSTU7624Ex(ex.data(), 129, &plain, &length, nullptr, kPassword, nullptr, 0),
              CSP_OK);
    EXPECT_EQ(Bytes(plain, plain + length), data);
}

TEST(CSPPassword, SizesThatWouldWrapAroundAreRefused)
{
    Provider p;
    const Bytes iv = Sequence(0x10, 32), data(64, 1);
    Bytes out(64);
    // (0xFFFFFFF0 + 32) x 8 wraps in 32 bits to a small padded length whose
    // output size this buffer would seem to match.
    for (std::uint32_t length : {0xFFFFFFF0u, 0xFFFFFFFFu, 0xE0000000u}) {
        SCOPED_TRACE(length);
        for (std::uint32_t size = 0; size <= 64; ++size)
            ASSERT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), length, out.data(), size, nullptr, kPassword, nullptr,
                                                     32, iv.data()),
                      CSP_BAD_ARGUMENT);
    }
}

TEST(CSPPassword, ExFlagBytePacksTheSizesAndUndecryptableFormsAreRefused)
{
    Provider p;
    const Bytes data = Sequence(5, 40), iv = Sequence(0x60, 64), key64(64, 3), key32(32, 4), key16(16, 5);
    const struct {
        std::uint32_t k, b, m;
        std::uint8_t flag;
    } good[] = {{32, 16, 8, 4 + 16 + 1},
                {64, 64, 64, 2 + 1},
                {32, 32, 32, 1},
                {64, 32, 16, 2 + 4 + 16 + 1},
                {32, 32, 8, 16 + 1}};
    for (const auto& g : good) {
        SCOPED_TRACE(testing::Message() << g.k << "/" << g.b << "/" << g.m);
        const std::uint64_t padded = (40 + g.b - 1) / g.b * g.b;
        const auto size = static_cast<std::uint32_t>(g.b + padded + g.m + 1);
        Bytes out(size);
        ASSERT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 40, out.data(), size, nullptr, kPassword, nullptr, g.k,
                                                   iv.data(), g.b, g.m),
                  CSP_OK);
        EXPECT_EQ(out.back(), g.flag);
        std::uint8_t* plain = nullptr;
        std::uint32_t length = 0;
        ASSERT_EQ(p->DecryptWithPasswordDSTU7624Ex(out.data(), size, &plain, &length, nullptr, kPassword, nullptr, 0),
                  CSP_OK);
        EXPECT_EQ(Bytes(plain, plain + length), data);
    }
    const struct {
        std::uint32_t k, b, m;
    } bad[] = {{32, 64, 32}, {32, 32, 24}, {64, 64, 4}, {16, 16, 8}, {32, 32, 0}};
    for (const auto& x : bad) {
        SCOPED_TRACE(testing::Message() << x.k << "/" << x.b << "/" << x.m);
        Bytes out(512);
        for (std::uint32_t size = 1; size < 512; ++size)
            ASSERT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 40, out.data(), size, nullptr, kPassword, nullptr,
                                                       x.k, iv.data(), x.b, x.m),
                      CSP_BAD_ARGUMENT);
    }
    // A 16-byte key with a 16-byte block and the full MAC stays: it is the
    // basic format, which the basic decryption reads.
    Bytes basic(16 + 48 + 16 + 1);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 40, basic.data(), 81, nullptr, nullptr, key16.data(), 16,
                                               iv.data(), 16, 16),
              CSP_OK);
    std::uint8_t* plain = nullptr;
    std::uint32_t length = 0;
    ASSERT_EQ(p->DecryptWithPasswordDSTU7624(basic.data(), 81, &plain, &length, nullptr, nullptr, key16.data(), 16),
              CSP_OK);
    EXPECT_EQ(Bytes(plain, plain + length), data);
}

TEST(CSPPassword, ExWithAKeyOfTheWrongLengthIsRefused)
{
    Provider p;
    const Bytes data = Sequence(5, 40), iv = Sequence(0x60, 32), key(32, 9);
    Bytes out(32 + 64 + 32 + 1);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624Ex(data.data(), 40, out.data(), 129, nullptr, nullptr, key.data(), 32,
                                               iv.data(), 32, 32),
              CSP_OK);
    std::uint8_t* plain = nullptr;
    std::uint32_t length = 0;
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624Ex(out.data(), 129, &plain, &length, nullptr, nullptr, key.data(), 64),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624Ex(out.data(), 0, &plain, &length, nullptr, nullptr, key.data(), 32),
              CSP_BAD_ARGUMENT);
    ASSERT_EQ(p->DecryptWithPasswordDSTU7624Ex(out.data(), 129, &plain, &length, nullptr, nullptr, key.data(), 32),
              CSP_OK);
    EXPECT_EQ(length, 40u);
}

TEST(CSPPassword, EmptyDataRoundTripsAndItsMacIsChecked)
{
    Provider p;
    const Bytes iv = Sequence(0x10, 32);
    Bytes out(65);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624(nullptr, 0, out.data(), 65, nullptr, kPassword, nullptr, 32, iv.data()),
              CSP_OK);
    std::uint8_t* plain = nullptr;
    std::uint32_t length = 99;
    ASSERT_EQ(p->DecryptWithPasswordDSTU7624(out.data(), 65, &plain, &length, nullptr, kPassword, nullptr, 32), CSP_OK);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624(out.data(), 65, &plain, &length, nullptr, "wrong", nullptr, 32),
              CSP_LIBRARY_ERROR);
    EXPECT_EQ(p->DecryptWithPasswordDSTU7624(out.data(), 64, &plain, &length, nullptr, kPassword, nullptr, 32),
              CSP_BAD_ARGUMENT);

    Bytes ex(32 + 32 + 1);
    ASSERT_EQ(
        p->EncryptWithPasswordDSTU7624Ex(nullptr, 0, ex.data(), 65, nullptr, kPassword, nullptr, 32, iv.data(), 32, 32),
        CSP_OK);
    ASSERT_EQ(p->DecryptWithPasswordDSTU7624Ex(ex.data(), 65, &plain, &length, nullptr, kPassword, nullptr, 0), CSP_OK);
    EXPECT_EQ(length, 0u);
}

TEST(CSPPassword, RandomIvNeedsTheDefaultGenerator)
{
    Provider p;
    const Bytes data = Sequence(5, 32);
    Bytes out(97);
    EXPECT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 32, out.data(), 97, nullptr, kPassword, nullptr, 32, nullptr),
              CSP_NO_OBJECT);
    ASSERT_EQ(p->InitializePRNG(nullptr, nullptr, nullptr), CSP_OK);
    Bytes again(97);
    ASSERT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 32, out.data(), 97, nullptr, kPassword, nullptr, 32, nullptr),
              CSP_OK);
    ASSERT_EQ(
        p->EncryptWithPasswordDSTU7624(data.data(), 32, again.data(), 97, nullptr, kPassword, nullptr, 32, nullptr),
        CSP_OK);
    EXPECT_NE(Bytes(out.begin(), out.begin() + 32), Bytes(again.begin(), again.begin() + 32));
    EXPECT_EQ(p->EncryptWithPasswordDSTU7624(data.data(), 32, out.data(), 97, nullptr, nullptr, nullptr, 32, nullptr),
              CSP_BAD_ARGUMENT);
}
