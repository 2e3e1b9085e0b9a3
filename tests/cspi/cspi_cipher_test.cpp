// TDEA and AES through the provider: FIPS 197, SP 800-38A, SP 800-38D and
// SP 800-67 known answers, tails, streaming states, GCM and the refusals.
#include <cstring>

#include "CSPITestSupport.h"

using namespace cspitest;

namespace {

class CSPICipher : public testing::Test {
protected:
    void SetUp() override
    {
        int code = -1;
        cspi_ = Create("full", &code);
        ASSERT_EQ(code, CSP_OK);
    }
    CSPIPointer cspi_;
};

TEST_F(CSPICipher, AESKnownAnswers)
{
    // FIPS 197 C.1: one block under a zero IV is the plain block cipher.
    Bytes key = Hex("000102030405060708090a0b0c0d0e0f");
    Bytes block = Hex("69c4e0d86a7b0430d8cdb78070b4c55a");
    Bytes zero(16, 0);
    ASSERT_EQ(cspi_->DecryptCBCAES(block.data(), 16, key.data(), 128, zero.data(), nullptr, 0), CSP_OK);
    EXPECT_EQ(block, Hex("00112233445566778899aabbccddeeff"));

    // SP 800-38A F.2.1 and F.2.2: CBC-AES128 on a kept state, in two calls.
    Bytes k = Hex("2b7e151628aed2a6abf7158809cf4f3c");
    Bytes iv = Hex("000102030405060708090a0b0c0d0e0f");
    Bytes plain = Hex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
                      "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
    Bytes cipher = Hex("7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
                       "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7");
    CSPIState state = nullptr;
    ASSERT_EQ(cspi_->CreateCipherAES(k.data(), 128, iv.data(), &state), CSP_OK);
    Bytes data = plain;
    ASSERT_EQ(cspi_->EncryptCBCAESState(data.data(), 32, &state), CSP_OK);
    ASSERT_EQ(cspi_->EncryptCBCAESState(data.data() + 32, 32, &state), CSP_OK);
    EXPECT_EQ(data, cipher);
    EXPECT_EQ(cspi_->DestroyEncryptorAES(&state), CSP_OK);
    EXPECT_EQ(state, nullptr);
    ASSERT_EQ(cspi_->DecryptCBCAES(data.data(), 64, k.data(), 128, iv.data(), nullptr, 0), CSP_OK);
    EXPECT_EQ(data, plain);

    // A streaming step of a partial block ends the stream.
    ASSERT_EQ(cspi_->CreateCipherAES(k.data(), 128, iv.data(), &state), CSP_OK);
    EXPECT_EQ(cspi_->DecryptCBCAESState(data.data(), 12, &state), CSP_BAD_ARGUMENT);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(cspi_->CreateCipherAES(k.data(), 160, iv.data(), &state), CSP_BAD_ARGUMENT);
}

TEST_F(CSPICipher, AESGCMKnownAnswersThroughTheStates)
{
    // SP 800-38D (test cases 3 and 4 of the GCM submission).
    Bytes key = Hex("feffe9928665731c6d6a8f9467308308");
    Bytes iv = Hex("cafebabefacedbaddecaf888");
    Bytes plain = Hex("d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a72"
                      "1c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de657ba637b391aafd255");
    Bytes cipher = Hex("42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e"
                       "21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac973d58e091473f5985");
    Bytes data = plain;
    CSPIState state = nullptr;
    ASSERT_EQ(cspi_->CreateEncryptorAESGCM(key.data(), 128, iv.data(), 12, nullptr, 0, 0, 0, 0, &state), CSP_OK);
    ASSERT_EQ(cspi_->EncryptGCMAESState(data.data(), 20, &state), CSP_OK);
    ASSERT_EQ(cspi_->EncryptGCMAESState(data.data() + 20, 44, &state), CSP_OK);
    Bytes tag(16);
    ASSERT_EQ(cspi_->FinishEncryptorAESGCM(tag.data(), &state), CSP_OK);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(data, cipher);
    EXPECT_EQ(tag, Hex("4d5c2af327cd64a62cf35abd2ba6fab4"));

    // Decryption with additional data gives the plain text and the computed
    // tag; comparing it is the caller's.
    Bytes aad = Hex("feedfacedeadbeeffeedfacedeadbeefabaddad2");
    // Test case 4 has the same key, IV and plaintext, so its ciphertext is
    // the first 60 bytes of test case 3's.
    Bytes cipher4(cipher.begin(), cipher.begin() + 60);
    ASSERT_EQ(cspi_->CreateDecryptorAESGCM(key.data(), 128, iv.data(), 12, aad.data(), 20, &state), CSP_OK);
    ASSERT_EQ(cspi_->DecryptGCMAESState(cipher4.data(), 60, &state), CSP_OK);
    ASSERT_EQ(cspi_->FinishDecryptorAESGCM(tag.data(), &state), CSP_OK);
    EXPECT_EQ(cipher4, Bytes(plain.begin(), plain.begin() + 60));
    EXPECT_EQ(tag, Hex("5bc94fbc3221a5db94fae95ae7121a47"));

    ASSERT_EQ(cspi_->CreateDecryptorAESGCM(key.data(), 128, iv.data(), 12, nullptr, 0, &state), CSP_OK);
    EXPECT_EQ(cspi_->FinishDecryptorAESGCM(nullptr, &state), CSP_BAD_ARGUMENT);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(cspi_->CreateDecryptorAESGCM(key.data(), 128, iv.data(), 12, nullptr, 5, &state), CSP_BAD_ARGUMENT);
}

TEST_F(CSPICipher, AESMACIsGMACOverTheRecord)
{
    // GCM test case 1: zero key, zero 96-bit IV, no data.
    Bytes key(16, 0), record(16, 0);
    Bytes expected = Hex("58e2fccefa7e3061367f1d57a4e7455a");
    EXPECT_EQ(cspi_->CheckMACAES(nullptr, 0, key.data(), 128, record.data(), 96, expected.data()), CSP_OK);
    expected[0] ^= 1;
    EXPECT_EQ(cspi_->CheckMACAES(nullptr, 0, key.data(), 128, record.data(), 96, expected.data()), CSP_VALUE_MISMATCH);

    // A MAC with fresh key and record checks; a record above 128 bits is
    // refused before anything is drawn past the 16-byte record.
    Bytes drawnKey(32), drawnRecord(16), mac(16);
    ASSERT_EQ(cspi_->ComputeMACAES(U8("message"), 7, drawnKey.data(), 256, drawnRecord.data(), 96, mac.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckMACAES(U8("message"), 7, drawnKey.data(), 256, drawnRecord.data(), 96, mac.data()), CSP_OK);
    Bytes guard(32, 0xC3);
    EXPECT_EQ(cspi_->ComputeMACAES(U8("message"), 7, drawnKey.data(), 256, guard.data(), 256, mac.data()),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(guard, Bytes(32, 0xC3));
    EXPECT_EQ(cspi_->CheckMACAES(U8("m"), 1, drawnKey.data(), 256, guard.data(), 129, mac.data()), CSP_BAD_ARGUMENT);
}

TEST_F(CSPICipher, AESTailsRoundTripAndBadTailsAreRefused)
{
    Bytes key(32), iv(16), tail(16, 0xAB);
    std::uint32_t tailLength = 99;
    Bytes data(32, 0x11);
    ASSERT_EQ(cspi_->EncryptCBCAES(data.data(), 32, key.data(), 256, iv.data(), tail.data(), &tailLength), CSP_OK);
    EXPECT_EQ(tailLength, 0u);
    EXPECT_EQ(tail, Bytes(16, 0xAB)) << "whole blocks leave the tail as it was";

    Bytes message(21, 0x42), encrypted = message;
    ASSERT_EQ(cspi_->EncryptCBCAES(encrypted.data(), 21, key.data(), 128, iv.data(), tail.data(), &tailLength), CSP_OK);
    EXPECT_EQ(tailLength, 11u);
    Bytes decrypted = encrypted;
    ASSERT_EQ(cspi_->DecryptCBCAES(decrypted.data(), 21, key.data(), 128, iv.data(), tail.data(), tailLength), CSP_OK);
    EXPECT_EQ(decrypted, message);

    // Data and tail must make whole blocks with a tail shorter than a block.
    decrypted = encrypted;
    EXPECT_EQ(cspi_->DecryptCBCAES(decrypted.data(), 21, key.data(), 128, iv.data(), tail.data(), 10),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(cspi_->DecryptCBCAES(decrypted.data(), 16, key.data(), 128, iv.data(), tail.data(), 16),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(cspi_->DecryptCBCAES(decrypted.data(), 21, key.data(), 128, iv.data(), nullptr, 11), CSP_BAD_ARGUMENT);
    EXPECT_EQ(decrypted, encrypted) << "refused data is untouched";

    Bytes untouchedKey(32, 0x77);
    EXPECT_EQ(cspi_->EncryptCBCAES(data.data(), 32, untouchedKey.data(), 160, iv.data(), tail.data(), &tailLength),
              CSP_BAD_ARGUMENT);
    EXPECT_EQ(untouchedKey, Bytes(32, 0x77)) << "nothing is drawn for a bad key size";
}

TEST_F(CSPICipher, TailOutputsMayBeLeftOutOnlyWhereNoTailArises)
{
    // A tail arises for 13 bytes of TDEA and 21 of AES, none for whole blocks.
    // Refused calls draw nothing and leave the data as it was.
    const struct {
        bool aes;
        std::uint32_t length;
        bool tailGiven, lengthGiven;
        int result;
    } cases[] = {
        {false, 13, false, true, CSP_BAD_ARGUMENT}, {false, 13, true, false, CSP_BAD_ARGUMENT},
        {false, 16, false, false, CSP_OK},          {true, 21, false, true, CSP_BAD_ARGUMENT},
        {true, 21, true, false, CSP_BAD_ARGUMENT},  {true, 32, false, false, CSP_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.aes ? "AES " : "TDEA ") << c.length << " tail " << c.tailGiven
                                        << " length " << c.lengthGiven);
        Bytes data(32, 0x11), key(32, 0x77), iv(16, 0x66), tail(16, 0xAB);
        std::uint32_t tailLength = 99;
        std::uint8_t* t = c.tailGiven ? tail.data() : nullptr;
        std::uint32_t* tl = c.lengthGiven ? &tailLength : nullptr;
        const int result = c.aes ? cspi_->EncryptCBCAES(data.data(), c.length, key.data(), 256, iv.data(), t, tl)
                                 : cspi_->EncryptCBCTDEA(data.data(), c.length, key.data(), iv.data(), 1, t, tl);
        EXPECT_EQ(result, c.result);
        if (c.result != CSP_OK) {
            EXPECT_EQ(data, Bytes(32, 0x11));
            EXPECT_EQ(key, Bytes(32, 0x77)) << "no key is drawn for a call that cannot finish";
        } else {
            EXPECT_NE(data, Bytes(32, 0x11));
        }
        EXPECT_EQ(tail, Bytes(16, 0xAB));
    }
}

TEST(CSPICipherGenerator, AFailingGeneratorEndsTheRandomKeyEncryptionsWithNothingHandedOut)
{
    int code = -1;
    CSPIPointer cspi = Create("full", &code);
    ASSERT_EQ(code, CSP_OK);
    InjectedFailure fail("DSTU4145PseudoRNGGenerateSequence");
    Bytes data(21, 0x11), key(32, 0x77), iv(16, 0x66), tail(16, 0xAB);
    std::uint32_t tailLength = 99;
    EXPECT_EQ(cspi->EncryptCBCAES(data.data(), 21, key.data(), 256, iv.data(), tail.data(), &tailLength),
              CSP_NOISE_SOURCE_FAILED);
    EXPECT_EQ(key, Bytes(32, 0));
    EXPECT_EQ(iv, Bytes(16, 0));
    EXPECT_EQ(data, Bytes(21, 0x11));
    EXPECT_EQ(tail, Bytes(16, 0xAB));
    EXPECT_EQ(tailLength, 99u);

    key.assign(32, 0x77);
    iv.assign(16, 0x66);
    EXPECT_EQ(cspi->EncryptCBCTDEA(data.data(), 21, key.data(), iv.data(), 1, tail.data(), &tailLength),
              CSP_NOISE_SOURCE_FAILED);
    EXPECT_EQ(Bytes(key.begin(), key.begin() + 24), Bytes(24, 0));
    EXPECT_EQ(Bytes(iv.begin(), iv.begin() + 8), Bytes(8, 0));
    EXPECT_EQ(data, Bytes(21, 0x11));
}

TEST_F(CSPICipher, TDEAKnownAnswerOfSP80067)
{
    // Three blocks of the example, one at a time under a zero IV (a single
    // CBC block from a zero IV is the block cipher itself).
    Bytes key = Hex("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
    Bytes cipher = Hex("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900");
    const char* plain = "The qufck brown fox jump";
    Bytes zero(8, 0);
    for (int i = 0; i < 3; ++i) {
        Bytes block(cipher.begin() + 8 * i, cipher.begin() + 8 * i + 8);
        ASSERT_EQ(cspi_->DecryptCBCTDEA(block.data(), 8, key.data(), zero.data(), nullptr, 0), CSP_OK);
        EXPECT_EQ(std::memcmp(block.data(), plain + 8 * i, 8), 0) << i;
        CSPIState state = nullptr;
        ASSERT_EQ(cspi_->CreateCipherTDEA(key.data(), zero.data(), &state), CSP_OK);
        std::memcpy(block.data(), plain + 8 * i, 8);
        ASSERT_EQ(cspi_->EncryptCBCTDEAState(block.data(), 8, &state), CSP_OK);
        EXPECT_EQ(block, Bytes(cipher.begin() + 8 * i, cipher.begin() + 8 * i + 8)) << i;
        EXPECT_EQ(cspi_->DestroyEncryptorTDEA(&state), CSP_OK);
    }
}

TEST_F(CSPICipher, TDEATailsKeysAndMACs)
{
    Bytes key(24), iv(8), tail(8, 0xEE);
    std::uint32_t tailLength = 0;
    Bytes message(13, 0x5C), data = message;
    ASSERT_EQ(cspi_->EncryptCBCTDEA(data.data(), 13, key.data(), iv.data(), 1, tail.data(), &tailLength), CSP_OK);
    EXPECT_EQ(tailLength, 3u);
    EXPECT_EQ(tail[3], 0) << "the tail buffer is zeroed beyond the tail";
    ASSERT_EQ(cspi_->DecryptCBCTDEA(data.data(), 13, key.data(), iv.data(), tail.data(), tailLength), CSP_OK);
    EXPECT_EQ(data, message);
    EXPECT_EQ(cspi_->DecryptCBCTDEA(data.data(), 13, key.data(), iv.data(), tail.data(), 2), CSP_BAD_ARGUMENT);

    // Generated keys have odd parity in every byte.
    CSPIState state = nullptr;
    ASSERT_EQ(cspi_->GenerateKeyTDEA(key.data(), iv.data(), 1, &state), CSP_OK);
    for (std::uint8_t b : key) EXPECT_EQ(__builtin_popcount(b) % 2, 1);
    EXPECT_EQ(cspi_->EncryptCBCTDEAState(data.data(), 12, &state), CSP_BAD_ARGUMENT);
    EXPECT_EQ(state, nullptr);
    EXPECT_EQ(cspi_->GenerateKeyTDEA(nullptr, iv.data(), 1, &state), CSP_BAD_ARGUMENT);

    // A two-key TDEA key (K3 = K1) from the wrapped-key and MAC makers.
    Bytes wrapped(16, 0x21);
    ASSERT_EQ(cspi_->GenerateWrappedKeyTDEA(wrapped.data(), 16, key.data(), iv.data(), tail.data(), &tailLength),
              CSP_OK);
    EXPECT_EQ(std::memcmp(key.data(), key.data() + 16, 8), 0);
    Bytes mac(8);
    ASSERT_EQ(cspi_->ComputeMACTDEA(U8("payload"), 7, key.data(), iv.data(), mac.data()), CSP_OK);
    EXPECT_EQ(std::memcmp(key.data(), key.data() + 16, 8), 0);
    EXPECT_EQ(cspi_->CheckMACTDEA(U8("payload"), 7, key.data(), iv.data(), mac.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckMACTDEA(U8("paylobd"), 7, key.data(), iv.data(), mac.data()), CSP_VALUE_MISMATCH);
}

}  // namespace
