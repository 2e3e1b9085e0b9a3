// SHA, HMAC, PBKDF2 and PKCS#12 operations through the provider: FIPS 180-4,
// RFC 2202 and RFC 6070 known answers, password-based encryption with its
// padding rules, and the refusals.
#include <algorithm>
#include <cstring>

#include "CSPITestSupport.h"

using namespace cspitest;

namespace {

class CSPIDigest : public testing::Test {
protected:
    void SetUp() override
    {
        int code = -1;
        cspi_ = Create("full", &code);
        ASSERT_EQ(code, CSP_OK);
    }
    CSPIPointer cspi_;
};

TEST_F(CSPIDigest, SHAKnownAnswersOfFIPS180)
{
    struct Case {
        std::uint32_t bits;
        const char* digest;
    } cases[] = {
        {160, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {224, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
        {256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {384, "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {512, "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
              "454d4423643ce80e2a9ac94fa54ca49f"},
    };
    for (const Case& c : cases) {
        Bytes hash(c.bits / 8);
        ASSERT_EQ(cspi_->HashSHA(U8("abc"), 3, c.bits, hash.data()), CSP_OK) << c.bits;
        EXPECT_EQ(hash, Hex(c.digest)) << c.bits;
        // The same in steps.
        CSPIState state = nullptr;
        ASSERT_EQ(cspi_->BeginHashSHA(c.bits, &state), CSP_OK);
        ASSERT_EQ(cspi_->UpdateHashSHA(U8("a"), 1, &state), CSP_OK);
        ASSERT_EQ(cspi_->UpdateHashSHA(U8("bc"), 2, &state), CSP_OK);
        Bytes stepped(c.bits / 8);
        ASSERT_EQ(cspi_->FinishHashSHA(stepped.data(), &state), CSP_OK);
        EXPECT_EQ(state, nullptr);
        EXPECT_EQ(stepped, hash);
    }
    CSPIState state = reinterpret_cast<CSPIState>(1);
    EXPECT_EQ(cspi_->BeginHashSHA(200, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(state, nullptr);
}

TEST_F(CSPIDigest, HMACKnownAnswersOfRFC2202)
{
    Bytes key1(20, 0x0b), mac(20);
    ASSERT_EQ(cspi_->ComputeHMACSHA1(U8("Hi There"), 8, key1.data(), mac.data()), CSP_OK);
    EXPECT_EQ(mac, Hex("b617318655057264e28bc0b6fb378c8ef146be00"));
    Bytes key3(20, 0xaa), data3(50, 0xdd);
    ASSERT_EQ(cspi_->ComputeHMACSHA1(data3.data(), 50, key3.data(), mac.data()), CSP_OK);
    EXPECT_EQ(mac, Hex("125d7342b9ac11cd91a39af48aa17b4f63f175d3"));
    EXPECT_EQ(cspi_->CompareHMACSHA1(data3.data(), 50, key3.data(), mac.data()), CSP_OK);
    mac[19] ^= 1;
    EXPECT_EQ(cspi_->CompareHMACSHA1(data3.data(), 50, key3.data(), mac.data()), CSP_VALUE_MISMATCH);
    // The SHA-1 case of the SHA-2 form takes a key as long as the hash.
    Bytes mac2(20);
    ASSERT_EQ(cspi_->ComputeHMACSHA(data3.data(), 50, 160, key3.data(), mac2.data()), CSP_OK);
    EXPECT_EQ(mac2, Hex("125d7342b9ac11cd91a39af48aa17b4f63f175d3"));
}

TEST_F(CSPIDigest, SHA2HMACWritesAndComparesTheHashLength)
{
    Bytes key(32, 0x4B), mac(64, 0xEE);
    ASSERT_EQ(cspi_->ComputeHMACSHA(U8("data"), 4, 256, key.data(), mac.data()), CSP_OK);
    EXPECT_EQ(mac[32], 0xEE) << "a 256-bit MAC is 32 bytes";
    EXPECT_EQ(cspi_->CompareHMACSHA(U8("data"), 4, 256, key.data(), mac.data()), CSP_OK);
    mac[31] ^= 1;
    EXPECT_EQ(cspi_->CompareHMACSHA(U8("data"), 4, 256, key.data(), mac.data()), CSP_VALUE_MISMATCH);
    // Beyond the longest hash the comparison has no room: refused.
    Bytes big(128, 0);
    EXPECT_EQ(cspi_->CompareHMACSHA(U8("data"), 4, 1024, big.data(), big.data()), CSP_BAD_ARGUMENT);
    EXPECT_EQ(cspi_->ComparePBEMACSHA(U8("data"), 4, 544, U8("pw"), 2, U8("salt"), 4, 1, big.data()), CSP_BAD_ARGUMENT);
}

TEST_F(CSPIDigest, PBKDF2KnownAnswersOfRFC6070)
{
    struct Case {
        const char* password;
        const char* salt;
        std::uint32_t iterations;
        std::uint32_t length;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, 20, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, 20, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, 20, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096, 25,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.iterations);
        Bytes salt(c.salt, c.salt + std::strlen(c.salt));
        std::uint32_t pl = static_cast<std::uint32_t>(std::strlen(c.password));
        std::uint32_t sl = static_cast<std::uint32_t>(salt.size());
        Bytes key(c.length);
        ASSERT_EQ(
            cspi_->DeriveKeyPBKDF2SHA(U8(c.password), pl, 160, salt.data(), sl, 0, c.iterations, c.length, key.data()),
            CSP_OK);
        EXPECT_EQ(key, Hex(c.key));
        if (c.length == 20) {
            Bytes key20(20);
            ASSERT_EQ(cspi_->DeriveKeyPBKDF2I(U8(c.password), pl, salt.data(), sl, 0, c.iterations, key20.data()),
                      CSP_OK);
            EXPECT_EQ(key20, Hex(c.key));
        }
    }
    // With the draw flag and a salt length of 0 nothing is drawn.
    Bytes salt(8, 0x99), key(20);
    ASSERT_EQ(cspi_->DeriveKeyPBKDF2I(U8("password"), 8, salt.data(), 0, 1, 1, key.data()), CSP_OK);
    EXPECT_EQ(salt, Bytes(8, 0x99));
}

TEST_F(CSPIDigest, PasswordBasedTDESPadsAndChecksItsPadding)
{
    Bytes salt(8);
    Bytes data(24, 0);
    std::memcpy(data.data(), "sixteen byte msg", 16);
    std::uint32_t length = 16;
    EXPECT_EQ(cspi_->EncryptPBETDES(data.data(), &length, 20, U8("pw"), 2, salt.data(), 8, 1, 10), CSP_BAD_ARGUMENT);
    EXPECT_EQ(length, 24u) << "the needed capacity is reported";
    length = 16;
    ASSERT_EQ(cspi_->EncryptPBETDES(data.data(), &length, 24, U8("pw"), 2, salt.data(), 8, 1, 10), CSP_OK);
    EXPECT_EQ(length, 24u);
    Bytes encrypted = data;
    ASSERT_EQ(cspi_->DecryptPBETDES(data.data(), &length, U8("pw"), 2, salt.data(), 8, 10), CSP_OK);
    EXPECT_EQ(length, 16u);
    EXPECT_EQ(std::memcmp(data.data(), "sixteen byte msg", 16), 0);

    // A wrong password leaves garbage whose pad does not hold: refused, the
    // length as it was.
    data = encrypted;
    length = 24;
    EXPECT_EQ(cspi_->DecryptPBETDES(data.data(), &length, U8("px"), 2, salt.data(), 8, 10), CSP_LIBRARY_ERROR);
    EXPECT_EQ(length, 24u);
    length = 8;
    EXPECT_EQ(cspi_->DecryptPBETDES(data.data(), &length, U8("pw"), 2, salt.data(), 8, 10), CSP_BAD_ARGUMENT);
}

TEST_F(CSPIDigest, PaddingOutsideOneToEightIsRefusedByBothDecrypts)
{
    // Encrypt chosen last blocks (nine bytes of 9, a lone 9, 0 and an
    // inconsistent 3) under the derived key with the plain cipher operations,
    // then decrypt them. Nine equal 9s are refused by the bound alone.
    Bytes salt = Hex("0102030405060708");
    Bytes nineNines(16, 0x41);
    std::fill(nineNines.begin() + 7, nineNines.end(), 9);
    Bytes loneNine(16, 0x41), zero(16, 0x41), inconsistent(16, 0x41);
    loneNine[15] = 9;
    zero[15] = 0;
    inconsistent[15] = 3;
    inconsistent[14] = 2;
    for (const Bytes& block : {nineNines, loneNine, zero, inconsistent}) {
        SCOPED_TRACE(testing::Message() << int(block[14]) << " " << int(block[15]));
        // TDES: find the ciphertext by encrypting block + full pad and cutting it.
        Bytes buffer(24, 0);
        std::memcpy(buffer.data(), block.data(), 16);
        std::uint32_t length = 16;
        ASSERT_EQ(cspi_->EncryptPBETDES(buffer.data(), &length, 24, U8("pw"), 2, salt.data(), 8, 0, 5), CSP_OK);
        length = 16;
        EXPECT_EQ(cspi_->DecryptPBETDES(buffer.data(), &length, U8("pw"), 2, salt.data(), 8, 5), CSP_LIBRARY_ERROR);
        EXPECT_EQ(length, 16u);

        Bytes rc2(24, 0);
        std::memcpy(rc2.data(), block.data(), 16);
        length = 16;
        ASSERT_EQ(cspi_->EncryptPBERC2(rc2.data(), &length, 24, 16, U8("pw"), 2, salt.data(), 8, 0, 5), CSP_OK);
        length = 16;
        EXPECT_EQ(cspi_->DecryptPBERC2(rc2.data(), &length, 16, U8("pw"), 2, salt.data(), 8, 5), CSP_LIBRARY_ERROR);
        EXPECT_EQ(length, 16u);
    }
}

TEST_F(CSPIDigest, PasswordBasedRC2RoundTripAndMACs)
{
    Bytes salt(8);
    Bytes data(16, 0);
    std::memcpy(data.data(), "rc2 message", 11);
    std::uint32_t length = 11;
    ASSERT_EQ(cspi_->EncryptPBERC2(data.data(), &length, 16, 5, U8("secret"), 6, salt.data(), 8, 1, 100), CSP_OK);
    EXPECT_EQ(length, 16u);
    ASSERT_EQ(cspi_->DecryptPBERC2(data.data(), &length, 5, U8("secret"), 6, salt.data(), 8, 100), CSP_OK);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(std::memcmp(data.data(), "rc2 message", 11), 0);
    length = 16;
    EXPECT_EQ(cspi_->DecryptPBERC2(data.data(), &length, 129, U8("secret"), 6, salt.data(), 8, 100), CSP_BAD_ARGUMENT);

    Bytes mac(20), mac256(32);
    ASSERT_EQ(cspi_->ComputePBEMACSHA1(U8("data"), 4, U8("pw"), 2, salt.data(), 8, 1, 2048, mac.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckPBEMACSHA1(U8("data"), 4, U8("pw"), 2, salt.data(), 8, 2048, mac.data()), CSP_OK);
    EXPECT_EQ(cspi_->CheckPBEMACSHA1(U8("data"), 4, U8("pX"), 2, salt.data(), 8, 2048, mac.data()), CSP_VALUE_MISMATCH);
    ASSERT_EQ(cspi_->ComputePBEMACSHA(U8("data"), 4, 256, U8("pw"), 2, salt.data(), 8, 0, 2048, mac256.data()), CSP_OK);
    EXPECT_EQ(cspi_->ComparePBEMACSHA(U8("data"), 4, 256, U8("pw"), 2, salt.data(), 8, 2048, mac256.data()), CSP_OK);
}

TEST(CSPIDigestWithoutTable, OptionalFunctionsAnswerLibraryError)
{
    int code = -1;
    CSPIPointer bare = Create("without_extras", &code);
    ASSERT_EQ(code, CSP_OK) << "a first generator needs no optional entry";
    // A second start reseeds, which needs the optional entry.
    EXPECT_EQ(bare->InitializePRNG(nullptr, nullptr, nullptr), CSP_LIBRARY_ERROR);
    std::uint8_t buffer[64] = {}, key[20] = {};
    std::uint32_t length = 16;
    CSPIState state = nullptr;
    EXPECT_EQ(bare->HashSHA(U8("abc"), 3, 256, buffer), CSP_OK);
    EXPECT_EQ(bare->ComputeHMACSHA1(U8("abc"), 3, key, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->ComputeHMACSHA(U8("abc"), 3, 256, buffer, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->DeriveKeyPBKDF2I(U8("pw"), 2, buffer, 8, 0, 1, key), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->DecryptPBERC2(buffer, &length, 16, U8("pw"), 2, buffer, 8, 1), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->DecryptPBETDES(buffer, &length, U8("pw"), 2, buffer, 8, 1), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->CreateDecryptorAESGCM(buffer, 128, buffer, 12, nullptr, 0, &state), CSP_LIBRARY_ERROR);
    EXPECT_EQ(bare->CoupleMakeCommonKeyECDSA(buffer, buffer, buffer, buffer), CSP_LIBRARY_ERROR);

    CSPIPointer lacking = Initialized("without_sha_kdf", &code);
    ASSERT_EQ(code, CSP_OK);
    EXPECT_EQ(lacking->ComputePBEMACSHA(U8("d"), 1, 256, U8("pw"), 2, buffer, 8, 0, 1, buffer), CSP_LIBRARY_ERROR);
    EXPECT_EQ(lacking->ComputeHMACSHA(U8("d"), 1, 256, buffer, buffer), CSP_OK);
}

}  // namespace
