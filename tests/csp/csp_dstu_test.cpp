// DSTU 7564 hashing and HMAC, the key derivations and the DSTU 7624 modes
// through the provider, checked against the standards' published examples
// where they exist.
#include <gtest/gtest.h>

#include "CSPTestSupport.h"
#include "TestHex.h"

using namespace csptest;
using cryptotest::Hex;

namespace {

// Examples of DSTU 7564:2014 over the message 00 01 02 ...
struct HashExample {
    std::uint32_t hashBytes;
    std::uint32_t messageBytes;
    const char* hash;
};
const HashExample kHashExamples[] = {
    {32, 64, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
    {32, 128, "0A9474E645A7D25E255E9E89FFF42EC7EB31349007059284F0B182E452BDA882"},
    {32, 0, "CD5101D1CCDF0D1D1F4ADA56E888CD724CA1A0838A3521E7131D4FB78D0F5EB6"},
    {64, 64,
     "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B3560DD1D7E29C6F53978AF58B444E37BA685C0DD910533BA"
     "5D78EFFFC13DE62A"},
    {64, 256,
     "0DD03D7350C409CB3C29C25893A0724F6B133FA8B9EB90A64D1A8FA93B56556611EB187D715A956B107E3BFC76482298133A9CE8CBC0BD5E"
     "1436A5B197284F7E"},
};

}  // namespace

TEST(CSPDSTU7564, PublishedExamplesInOneCallAndInPieces)
{
    Provider p;
    for (const auto& e : kHashExamples) {
        SCOPED_TRACE(e.hash);
        const Bytes message = Sequence(0, static_cast<int>(e.messageBytes));
        const Bytes expected = Hex(e.hash);
        Bytes hash(e.hashBytes);
        ASSERT_EQ(p->HashDSTU7564(message.data(), e.messageBytes, nullptr, e.hashBytes, hash.data()), CSP_OK);
        EXPECT_EQ(hash, expected);

        CSPHandle state = nullptr;
        ASSERT_EQ(p->BeginHashDSTU7564(nullptr, e.hashBytes, &state), CSP_OK);
        const std::uint32_t half = e.messageBytes / 2;
        ASSERT_EQ(p->UpdateHashDSTU7564(message.data(), half, &state), CSP_OK);
        ASSERT_EQ(p->UpdateHashDSTU7564(message.data() + half, e.messageBytes - half, &state), CSP_OK);
        Bytes pieces(e.hashBytes);
        ASSERT_EQ(p->FinishHashDSTU7564(pieces.data(), &state), CSP_OK);
        EXPECT_EQ(pieces, expected);

        EXPECT_EQ(p->CompareHashDSTU7564(message.data(), e.messageBytes, nullptr, e.hashBytes, expected.data()),
                  CSP_OK);
        Bytes wrong = expected;
        wrong.back() ^= 1;
        EXPECT_EQ(p->CompareHashDSTU7564(message.data(), e.messageBytes, nullptr, e.hashBytes, wrong.data()),
                  CSP_VALUE_MISMATCH);
    }
}

TEST(CSPDSTU7564, CompareRefusesLengthsBeyondTheLargestOutput)
{
    Provider p;
    const Bytes message = Sequence(0, 16);
    const Bytes expected(200, 0);
    EXPECT_EQ(p->CompareHashDSTU7564(message.data(), 16, nullptr, 65, expected.data()), CSP_BAD_ARGUMENT);
    EXPECT_EQ(p->CompareHashDSTU7564(message.data(), 16, nullptr, 0xFFFFFFFFu, expected.data()), CSP_BAD_ARGUMENT);
    EXPECT_EQ(p->CompareHMACDSTU7564(message.data(), 16, nullptr, expected.data(), 128, expected.data()),
              CSP_BAD_ARGUMENT);
}

TEST(CSPDSTU7564, FinishWithoutABufferAbandonsTheHash)
{
    Provider p;
    CSPHandle state = nullptr;
    ASSERT_EQ(p->BeginHashDSTU7564(nullptr, 48, &state), CSP_OK);
    EXPECT_EQ(p->FinishHashDSTU7564(nullptr, &state), CSP_OK);
}

TEST(CSPDSTU7564, FailedUpdateReleasesTheStateAndClearsTheHandle)
{
    Provider p;
    const Bytes message = Sequence(0, 32);
    CSPHandle hash = nullptr, hmac = nullptr;
    ASSERT_EQ(p->BeginHashDSTU7564(nullptr, 32, &hash), CSP_OK);
    ASSERT_EQ(p->BeginHMACDSTU7564(nullptr, message.data(), 32, &hmac), CSP_OK);
    {
        FailSwitch fail("DSTU7564HashData,DSTU7564HMACUpdateData");
        EXPECT_EQ(p->UpdateHashDSTU7564(message.data(), 32, &hash), CSP_LIBRARY_ERROR);
        EXPECT_EQ(p->UpdateHMACDSTU7564(message.data(), 32, &hmac), CSP_LIBRARY_ERROR);
    }
    // The handles are cleared, so a caller's clean-up cannot free them twice.
    EXPECT_EQ(hash, nullptr);
    EXPECT_EQ(hmac, nullptr);
}

TEST(CSPDSTU7564, BitLengthFormHashesWholeBytesOrReadsTheKeysValue)
{
    Provider p;
    const Bytes message = Sequence(0, 4);
    Bytes byBits(32), oneByte(32);
    ASSERT_EQ(p->HashDataDSTU7564(message.data(), 12, nullptr, 32, byBits.data()), CSP_OK);
    ASSERT_EQ(p->HashDSTU7564(message.data(), 1, nullptr, 32, oneByte.data()), CSP_OK);
    EXPECT_EQ(byBits, oneByte);

    Bytes stored(32);
    EXPECT_EQ(p->HashDataDSTU7564(nullptr, 0, nullptr, 32, stored.data()), CSP_NO_OBJECT);
    FakeHardware hardware;
    p->SetHardware(&hardware);
    EXPECT_EQ(p->HashDataDSTU7564(nullptr, 0, nullptr, 48, stored.data()), CSP_BAD_ARGUMENT);
    // Nowhere to put the value: refused before the key is asked.
    EXPECT_EQ(p->HashDataDSTU7564(nullptr, 0, nullptr, 32, nullptr), CSP_BAD_ARGUMENT);
    EXPECT_EQ(hardware.storedHashReads, 0);
    ASSERT_EQ(p->HashDataDSTU7564(nullptr, 0, nullptr, 32, stored.data()), CSP_OK);
    EXPECT_EQ(stored, Sequence(0xC0, 32));
    hardware.storedHashWorks = false;
    EXPECT_EQ(p->HashDataDSTU7564(nullptr, 0, nullptr, 32, stored.data()), CSP_HARDWARE_ERROR);
    CSPContext none{};
    EXPECT_EQ(p->HashDataDSTU7564Ctx(nullptr, nullptr, 0, nullptr, 32, stored.data()), CSP_BAD_ARGUMENT);
    EXPECT_EQ(p->HashDataDSTU7564Ctx(&none, nullptr, 0, nullptr, 32, stored.data()), CSP_NO_OBJECT);
    p->SetHardware(nullptr);
}

TEST(CSPDSTU7564, HmacInOneCallMatchesPiecesAndComparesByKey)
{
    Provider p;
    const Bytes message = Sequence(3, 200), key = Sequence(0x40, 32), otherKey = Sequence(0x41, 32);
    Bytes mac(32), pieces(32);
    ASSERT_EQ(p->ComputeHMACDSTU7564(message.data(), 200, nullptr, key.data(), 32, mac.data()), CSP_OK);
    CSPHandle state = nullptr;
    ASSERT_EQ(p->BeginHMACDSTU7564(nullptr, key.data(), 32, &state), CSP_OK);
    ASSERT_EQ(p->UpdateHMACDSTU7564(message.data(), 77, &state), CSP_OK);
    ASSERT_EQ(p->UpdateHMACDSTU7564(message.data() + 77, 123, &state), CSP_OK);
    ASSERT_EQ(p->FinishHMACDSTU7564(pieces.data(), &state), CSP_OK);
    EXPECT_EQ(mac, pieces);
    EXPECT_EQ(p->CompareHMACDSTU7564(message.data(), 200, nullptr, key.data(), 32, mac.data()), CSP_OK);
    EXPECT_EQ(p->CompareHMACDSTU7564(message.data(), 200, nullptr, otherKey.data(), 32, mac.data()),
              CSP_VALUE_MISMATCH);
}

TEST(CSPDSTU7564, KeyDerivationsAreRepeatableAndDependOnEveryInput)
{
    Provider p;
    const Bytes password = Sequence('a', 10), salt = Sequence(1, 16), otherSalt = Sequence(2, 16);
    Bytes a(40), b(40), c(40);
    ASSERT_EQ(p->DeriveKeyPBKDF2DSTU7564(password.data(), 10, salt.data(), 16, 3, nullptr, 40, a.data(), 32), CSP_OK);
    ASSERT_EQ(p->DeriveKeyPBKDF2DSTU7564(password.data(), 10, salt.data(), 16, 3, nullptr, 40, b.data(), 32), CSP_OK);
    ASSERT_EQ(p->DeriveKeyPBKDF2DSTU7564(password.data(), 10, otherSalt.data(), 16, 3, nullptr, 40, c.data(), 32),
              CSP_OK);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    ASSERT_EQ(p->DeriveKeyPBKDF2DSTU7564(password.data(), 10, salt.data(), 16, 4, nullptr, 40, c.data(), 32), CSP_OK);
    EXPECT_NE(a, c);

    ASSERT_EQ(p->DeriveKeyPKCS12DSTU7564(password.data(), 10, salt.data(), 16, 5, 1, a.data(), 40), CSP_OK);
    ASSERT_EQ(p->DeriveKeyPKCS12DSTU7564(password.data(), 10, salt.data(), 16, 5, 1, b.data(), 40), CSP_OK);
    ASSERT_EQ(p->DeriveKeyPKCS12DSTU7564(password.data(), 10, salt.data(), 16, 5, 2, c.data(), 40), CSP_OK);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    EXPECT_EQ(p->DeriveKeyPBKDF2DSTU7564(password.data(), 10, salt.data(), 16, 0, nullptr, 40, c.data(), 32),
              CSP_LIBRARY_ERROR);
}

// ---- DSTU 7624 ----

TEST(CSPDSTU7624, PublishedEcbCbcAndCtrExamples)
{
    Provider p;
    struct Case {
        const char* mode;
        std::uint32_t block;
        Bytes key, iv, plain, cipher;
    };
    const Case cases[] = {
        {"ECB", 16, Sequence(0, 16), {}, Sequence(0x10, 16), Hex("81BF1C7D779BAC20E1C9EA39B4D2AD06")},
        {"ECB",
         32,
         Sequence(0, 64),
         {},
         Sequence(0x40, 32),
         Hex("606990E9E6B7B67A4BD6D893D72268B78E02C83C3CD7E102FD2E74A8FDFE5DD9")},
        {"CBC", 16, Sequence(0, 16), Sequence(0x10, 16), Sequence(0x20, 48),
         Hex("A73625D7BE994E85469A9FAABCEDAAB6DBC5F65DD77BB35E06BD7D1D8EAFC8624D6CB31CE189C82B8979F2936DE9BF14")},
        {"CTR", 16, Sequence(0, 16), Sequence(0x10, 16), Sequence(0x20, 41),
         Hex("A90A6B9780ABDFDFF64D14F5439E88F266DC50EDD341528DD5E698E2F000CE21F872DAF9FE1811844A")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        Bytes data = c.plain;
        const auto length = static_cast<std::uint32_t>(data.size());
        const auto keyLength = static_cast<std::uint32_t>(c.key.size());
        const std::string mode = c.mode;
        if (mode == "ECB") {
            ASSERT_EQ(p->EncryptECBDSTU7624(data.data(), length, nullptr, c.key.data(), keyLength, c.block), CSP_OK);
            EXPECT_EQ(data, c.cipher);
            ASSERT_EQ(p->DecryptECBDSTU7624(data.data(), length, nullptr, c.key.data(), keyLength, c.block), CSP_OK);
        } else if (mode == "CBC") {
            ASSERT_EQ(p->EncryptCBCDSTU7624(data.data(), length, length, nullptr, c.key.data(), keyLength, c.iv.data(),
                                            c.block),
                      CSP_OK);
            EXPECT_EQ(data, c.cipher);
            std::uint32_t plainLength = length;
            ASSERT_EQ(p->DecryptCBCDSTU7624(data.data(), &plainLength, 0, nullptr, c.key.data(), keyLength, c.iv.data(),
                                            c.block),
                      CSP_OK);
            EXPECT_EQ(plainLength, length);
        } else {
            ASSERT_EQ(
                p->EncryptCTRDSTU7624(data.data(), length, nullptr, c.key.data(), keyLength, c.iv.data(), c.block),
                CSP_OK);
            EXPECT_EQ(data, c.cipher);
            ASSERT_EQ(
                p->DecryptCTRDSTU7624(data.data(), length, nullptr, c.key.data(), keyLength, c.iv.data(), c.block),
                CSP_OK);
        }
        EXPECT_EQ(data, c.plain);
    }
}

TEST(CSPDSTU7624, EcbOfAPartialBlockIsRefused)
{
    Provider p;
    const Bytes key = Sequence(0, 16);
    Bytes data(20, 7);
    EXPECT_EQ(p->EncryptECBDSTU7624(data.data(), 20, nullptr, key.data(), 16, 16), CSP_LIBRARY_ERROR);
    EXPECT_EQ(data, Bytes(20, 7));
}

TEST(CSPDSTU7624, CtrFromABlockAlignedOffsetIsTheTailOfTheWholeMessage)
{
    Provider p;
    const Bytes key = Sequence(0, 32), iv = Sequence(0x50, 16), plain = Sequence(0x11, 100);
    Bytes whole = plain;
    ASSERT_EQ(p->EncryptCTRDSTU7624(whole.data(), 100, nullptr, key.data(), 32, iv.data(), 16), CSP_OK);
    for (std::uint32_t offset : {0u, 16u, 48u, 64u}) {
        SCOPED_TRACE(offset);
        CSPHandle state = nullptr;
        ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 32, nullptr, 16, &state), CSP_OK);
        Bytes tail(plain.begin() + offset, plain.end());
        ASSERT_EQ(p->EncryptCTRDSTU7624StateAt(tail.data(), 100 - offset, iv.data(), offset, 0, &state), CSP_OK);
        EXPECT_EQ(tail, Bytes(whole.begin() + offset, whole.end()));
        ASSERT_EQ(p->DecryptCTRDSTU7624StateAt(tail.data(), 100 - offset, iv.data(), offset, 0, &state), CSP_OK);
        EXPECT_EQ(tail, Bytes(plain.begin() + offset, plain.end()));
        EXPECT_EQ(p->DestroyCipherDSTU7624(&state), CSP_OK);
    }
    // An offset inside a block counts the whole blocks before it: 50 acts as 48.
    CSPHandle state = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 32, nullptr, 16, &state), CSP_OK);
    Bytes tail(plain.begin() + 48, plain.end());
    ASSERT_EQ(p->EncryptCTRDSTU7624StateAt(tail.data(), 52, iv.data(), 50, 0, &state), CSP_OK);
    EXPECT_EQ(tail, Bytes(whole.begin() + 48, whole.end()));
    EXPECT_EQ(p->DestroyCipherDSTU7624(&state), CSP_OK);
}

TEST(CSPDSTU7624, StreamStatesContinueAcrossCallsAndExportImportResumes)
{
    Provider p;
    const Bytes key = Sequence(0, 32), iv = Sequence(0x70, 32), plain = Sequence(0, 160);
    Bytes whole = plain;
    ASSERT_EQ(p->EncryptOFBDSTU7624(whole.data(), 160, nullptr, key.data(), 32, iv.data(), 32), CSP_OK);

    CSPHandle state = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 32, iv.data(), 32, &state), CSP_OK);
    Bytes pieces = plain;
    ASSERT_EQ(p->EncryptOFBDSTU7624State(pieces.data(), 64, &state), CSP_OK);
    std::uint32_t size = 0;
    ASSERT_EQ(p->ExportStateDSTU7624(&state, nullptr, &size), CSP_OK);
    ASSERT_GT(size, 0u);
    Bytes image(size);
    ASSERT_EQ(p->ExportStateDSTU7624(&state, image.data(), &size), CSP_OK);
    CSPHandle resumed = nullptr;
    EXPECT_EQ(p->ImportStateDSTU7624(&resumed, image.data(), size - 1), CSP_LIBRARY_ERROR);
    EXPECT_EQ(resumed, nullptr);
    ASSERT_EQ(p->ImportStateDSTU7624(&resumed, image.data(), size), CSP_OK);
    ASSERT_NE(resumed, nullptr);
    ASSERT_EQ(p->EncryptOFBDSTU7624State(pieces.data() + 64, 96, &resumed), CSP_OK);
    EXPECT_EQ(pieces, whole);
    EXPECT_EQ(p->DestroyCipherDSTU7624(&state), CSP_OK);
    EXPECT_EQ(p->DestroyCipherDSTU7624(&resumed), CSP_OK);
}

TEST(CSPDSTU7624, FailedStateOperationsReleaseTheStateAndClearTheHandle)
{
    Provider p;
    const Bytes key = Sequence(0, 16), iv = Sequence(1, 16);
    Bytes data(32);
    const struct {
        const char* entry;
        int (CSP::*run)(std::uint8_t*, std::uint32_t, CSPHandle*);
    } stateOps[] = {
        {"DSTU7624EncryptDataCTRMode", &CSP::EncryptCTRDSTU7624State},
        {"DSTU7624DecryptDataCTRMode", &CSP::DecryptCTRDSTU7624State},
        {"DSTU7624EncryptDataOFBMode", &CSP::EncryptOFBDSTU7624State},
        {"DSTU7624DecryptDataOFBMode", &CSP::DecryptOFBDSTU7624State},
    };
    for (const auto& op : stateOps) {
        SCOPED_TRACE(op.entry);
        CSPHandle state = nullptr;
        ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 16, iv.data(), 16, &state), CSP_OK);
        FailSwitch fail(op.entry);
        EXPECT_EQ((p.csp->*op.run)(data.data(), 32, &state), CSP_LIBRARY_ERROR);
        EXPECT_EQ(state, nullptr);
    }
    for (const char* entry : {"DSTU7624EncryptDataCFBMode", "DSTU7624DecryptDataCFBMode"}) {
        SCOPED_TRACE(entry);
        CSPHandle state = nullptr;
        ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 16, iv.data(), 16, &state), CSP_OK);
        FailSwitch fail(entry);
        EXPECT_EQ(p->EncryptCFBDSTU7624State(data.data(), 32, 128, &state) == CSP_OK &&
                      p->DecryptCFBDSTU7624State(data.data(), 32, 128, &state) == CSP_OK,
                  false);
        EXPECT_EQ(state, nullptr);
    }
    CSPHandle state = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 16, iv.data(), 16, &state), CSP_OK);
    {
        FailSwitch fail("DSTU7624SetStateParameters");
        EXPECT_EQ(p->EncryptCTRDSTU7624StateAt(data.data(), 32, iv.data(), 16, 0, &state), CSP_LIBRARY_ERROR);
    }
    EXPECT_EQ(state, nullptr);
}

TEST(CSPDSTU7624, MacsAndAuthenticatedModesRoundTripAndRefuseAWrongTag)
{
    Provider p;
    const Bytes key = Sequence(0, 32), iv = Sequence(0x20, 32), plain = Sequence(0x40, 70), ad = Sequence(9, 20);
    Bytes mac(32);
    ASSERT_EQ(p->ComputeCMACDSTU7624(plain.data(), 70, nullptr, key.data(), 32, 32, mac.data(), 32), CSP_OK);
    EXPECT_EQ(p->CheckCMACDSTU7624(plain.data(), 70, mac.data(), 32, nullptr, key.data(), 32, 32), CSP_OK);
    mac[0] ^= 1;
    EXPECT_EQ(p->CheckCMACDSTU7624(plain.data(), 70, mac.data(), 32, nullptr, key.data(), 32, 32), CSP_LIBRARY_ERROR);

    ASSERT_EQ(p->ComputeGMACDSTU7624(plain.data(), 70, nullptr, key.data(), 32, 32, mac.data(), 32), CSP_OK);
    EXPECT_EQ(p->CheckGMACDSTU7624(plain.data(), 70, mac.data(), 32, nullptr, key.data(), 32, 32), CSP_OK);

    Bytes data = plain, tag(32);
    ASSERT_EQ(
        p->EncryptGCMDSTU7624(data.data(), 70, ad.data(), 20, nullptr, key.data(), 32, iv.data(), 32, tag.data(), 32),
        CSP_OK);
    EXPECT_NE(data, plain);
    Bytes copy = data;
    ASSERT_EQ(
        p->DecryptGCMDSTU7624(copy.data(), 70, ad.data(), 20, tag.data(), 32, nullptr, key.data(), 32, iv.data(), 32),
        CSP_OK);
    EXPECT_EQ(copy, plain);
    tag[5] ^= 0x80;
    copy = data;
    EXPECT_EQ(
        p->DecryptGCMDSTU7624(copy.data(), 70, ad.data(), 20, tag.data(), 32, nullptr, key.data(), 32, iv.data(), 32),
        CSP_LIBRARY_ERROR);

    Bytes xts = Sequence(0, 64);
    ASSERT_EQ(p->EncryptXTSDSTU7624(xts.data(), 64, nullptr, key.data(), 32, iv.data(), 32), CSP_OK);
    ASSERT_EQ(p->DecryptXTSDSTU7624(xts.data(), 64, nullptr, key.data(), 32, iv.data(), 32), CSP_OK);
    EXPECT_EQ(xts, Sequence(0, 64));

    // A key of one whole block wraps into two blocks, without padding.
    Bytes wrapped(64, 0);
    std::copy(plain.begin(), plain.begin() + 32, wrapped.begin());
    ASSERT_EQ(p->EncryptKWDSTU7624(wrapped.data(), 32, 64, nullptr, key.data(), 32, 32), CSP_OK);
    std::uint32_t length = 64;
    ASSERT_EQ(p->DecryptKWDSTU7624(wrapped.data(), &length, 0, nullptr, key.data(), 32, nullptr, 32), CSP_OK);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(Bytes(wrapped.begin(), wrapped.begin() + 32), Bytes(plain.begin(), plain.begin() + 32));
}

// ---- DSTU 8845 ----

TEST(CSPDSTU8845, PublishedKeystreamThroughTheProvider)
{
    Provider p;
    const Bytes key(32, 0xAA), iv(32, 0);
    Bytes data(16, 0);
    ASSERT_EQ(p->CryptDSTU8845(data.data(), 16, nullptr, key.data(), 32, iv.data()), CSP_OK);
    // Keystream words 0xa7510b38c7a95d1d, 0xcd5ea28a15b8654f, least significant byte first.
    EXPECT_EQ(data, Hex("1D5DA9C7380B51A74F65B8158AA25ECD"));
}

TEST(CSPDSTU8845, StatesRunTwiceRestoreResumeAndClearTheHandleOnFailure)
{
    Provider p;
    const Bytes key = Sequence(1, 64), iv = Sequence(0x40, 32), plain = Sequence(0, 300);
    CSPHandle state = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU8845(nullptr, key.data(), 64, iv.data(), &state), CSP_OK);
    Bytes data = plain;
    ASSERT_EQ(p->CryptDSTU8845State(data.data(), 100, &state), CSP_OK);
    ASSERT_EQ(p->CryptDSTU8845State(data.data() + 100, 200, &state), CSP_OK);
    EXPECT_NE(data, plain);
    const Bytes sealed = data;
    CSPHandle again = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU8845(nullptr, key.data(), 64, iv.data(), &again), CSP_OK);
    ASSERT_EQ(p->CryptDSTU8845State(data.data(), 300, &again), CSP_OK);
    EXPECT_EQ(data, plain);

    // From byte position 130 and from block position 2 (byte 256).
    Bytes tail(sealed.begin() + 130, sealed.end());
    ASSERT_EQ(p->CryptDSTU8845StateAt(tail.data(), 170, iv.data(), 130, 0, &again), CSP_OK);
    EXPECT_EQ(tail, Bytes(plain.begin() + 130, plain.end()));
    Bytes blockTail(sealed.begin() + 256, sealed.end());
    ASSERT_EQ(p->CryptDSTU8845StateAtEx(blockTail.data(), 44, iv.data(), 2, 0, &again), CSP_OK);
    EXPECT_EQ(blockTail, Bytes(plain.begin() + 256, plain.end()));

    std::uint32_t size = 0;
    ASSERT_EQ(p->ExportStateDSTU8845(&state, nullptr, &size), CSP_OK);
    Bytes image(size);
    ASSERT_EQ(p->ExportStateDSTU8845(&state, image.data(), &size), CSP_OK);
    CSPHandle imported = nullptr;
    ASSERT_EQ(p->ImportStateDSTU8845(&imported, image.data(), size), CSP_OK);
    Bytes more(50, 0), moreFromImport(50, 0);
    ASSERT_EQ(p->CryptDSTU8845State(more.data(), 50, &state), CSP_OK);
    ASSERT_EQ(p->CryptDSTU8845State(moreFromImport.data(), 50, &imported), CSP_OK);
    EXPECT_EQ(more, moreFromImport);

    {
        FailSwitch fail("DSTU8845EncryptData");
        EXPECT_EQ(p->CryptDSTU8845State(more.data(), 50, &imported), CSP_LIBRARY_ERROR);
        EXPECT_EQ(imported, nullptr);
        EXPECT_EQ(p->CryptDSTU8845StateAt(more.data(), 50, iv.data(), 0, 0, &state), CSP_LIBRARY_ERROR);
        EXPECT_EQ(state, nullptr);
    }
    EXPECT_EQ(p->DestroyCipherDSTU8845(&again), CSP_OK);
    const Bytes shortKey(20, 1);
    EXPECT_EQ(p->CreateCipherDSTU8845(nullptr, shortKey.data(), 20, iv.data(), &state), CSP_LIBRARY_ERROR);
}

TEST(CSPDSTU7624, CbcDecryptionReportsThePaddedLengthInWholeBytesAndCcmRoundTrips)
{
    Provider p;
    const Bytes key = Sequence(0, 16), iv = Sequence(0x30, 16), plain = Sequence(0x51, 33);
    Bytes data(48, 0);
    std::copy(plain.begin(), plain.end(), data.begin());
    ASSERT_EQ(p->EncryptCBCDSTU7624(data.data(), 33, 48, nullptr, key.data(), 16, iv.data(), 16), CSP_OK);
    std::uint32_t length = 48;
    ASSERT_EQ(p->DecryptCBCDSTU7624(data.data(), &length, 1, nullptr, key.data(), 16, iv.data(), 16), CSP_OK);
    EXPECT_EQ(length, 33u);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 33), plain);

    const Bytes ad = Sequence(7, 12);
    Bytes buffer(33 + 16, 0);
    std::copy(plain.begin(), plain.end(), buffer.begin());
    ASSERT_EQ(
        p->EncryptCCMDSTU7624(buffer.data(), 33, 49, ad.data(), 12, nullptr, key.data(), 16, iv.data(), 16, 4, 16),
        CSP_OK);
    Bytes sealed = buffer;
    ASSERT_EQ(p->DecryptCCMDSTU7624(buffer.data(), 49, ad.data(), 12, nullptr, key.data(), 16, iv.data(), 16, 4, 16),
              CSP_OK);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 33), plain);
    sealed[40] ^= 1;
    EXPECT_EQ(p->DecryptCCMDSTU7624(sealed.data(), 49, ad.data(), 12, nullptr, key.data(), 16, iv.data(), 16, 4, 16),
              CSP_LIBRARY_ERROR);

    CSPHandle state = nullptr;
    ASSERT_EQ(p->CreateCipherDSTU7624(nullptr, key.data(), 16, iv.data(), 16, &state), CSP_OK);
    const CSPHandle kept = state;
    EXPECT_EQ(p->DestroyCipherDSTU7624(&state), CSP_OK);
    EXPECT_EQ(state, kept);
}
