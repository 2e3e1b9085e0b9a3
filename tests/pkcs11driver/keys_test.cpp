// The driver object's key operations against keys in the in-process PC/SC
// double: key pairs on the standard curves with signatures the DSTU 4145
// engine verifies, derivation between two keys with wrapping on one and
// unwrapping on the other, and the derivation-context table.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DeviceTestSupport.h"
#include "StandardParameters.h"
#include "pkcs11driver/PKCS11Driver.h"
#include "pkcs11driver/PKCS11QuorKorvo7Q.h"
#include "support/CSPParameters.h"

namespace {

struct DeviceReleaser {
    void operator()(PKCS11Device* d) const { d->Release(); }
};
using Device = std::unique_ptr<PKCS11QuorKorvo7Q, DeviceReleaser>;
using Bytes = std::vector<std::uint8_t>;

struct Curve {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    GOST28147PackedSBox sBox{};
};

Curve StandardCurve(unsigned index)
{
    CSPParameters store;
    Curve c;
    EXPECT_TRUE(store.GetStandardCurve(1, index, &c.field, &c.point));
    EXPECT_TRUE(store.GetStandardSBox(0, &c.sBox));
    return c;
}

const std::uint8_t* SBoxBytes(const Curve& c)
{
    return reinterpret_cast<const std::uint8_t*>(&c.sBox);
}

class Pkcs11DriverKeys : public devtest::DeviceTest {
protected:
    // Keys 31 and 32 (or the versions given), both opened and logged in.
    void OpenTwo(std::uint8_t versionA = 18, std::uint8_t versionB = 18)
    {
        readerA_ = AddKey(31, versionA);
        readerB_ = AddKey(32, versionB);
        ASSERT_EQ(EnumerateKeySerials(1), CKR_OK);
        a_.reset(static_cast<PKCS11QuorKorvo7Q*>(CreatePKCS11Device()));
        b_.reset(static_cast<PKCS11QuorKorvo7Q*>(CreatePKCS11Device()));
        ASSERT_EQ(a_->Open(SlotOf("31")), CKR_OK);
        ASSERT_EQ(b_->Open(SlotOf("32")), CKR_OK);
        ASSERT_EQ(a_->Login("1234", 4), CKR_OK);
        ASSERT_EQ(b_->Login("1234", 4), CKR_OK);
    }
    // The slot index the enumeration gave a serial number.
    static std::uint32_t SlotOf(const std::string& serial)
    {
        char entry[KEY_SERIAL_TEXT_BYTES];
        for (std::uint32_t i = 0; GetKeySerialEntry(i, entry); ++i)
            if (serial == entry) return i;
        return KEY_SERIAL_ENTRIES;
    }
    static Bytes Value(std::uint8_t seed, std::size_t n = 32)
    {
        Bytes v(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(seed + 13 * i);
        return v;
    }
    // Agreement key pairs on both keys; their public keys (76-byte buffers).
    void AgreementPairs(const Curve& curve)
    {
        ASSERT_EQ(a_->GenerateKeyPair(0, 0, &curve.field, &curve.point, SBoxBytes(curve), publicA_.data()), CKR_OK);
        ASSERT_EQ(b_->GenerateKeyPair(0, 0, &curve.field, &curve.point, SBoxBytes(curve), publicB_.data()), CKR_OK);
    }

    std::string readerA_, readerB_;
    Device a_, b_;
    std::array<std::uint8_t, 76> publicA_{}, publicB_{};
};

TEST_F(Pkcs11DriverKeys, GeneratedPairsSignWhatTheEngineVerifies)
{
    OpenTwo(18, 17);
    const Curve curve = StandardCurve(0);  // 163 bits
    const DeviceKeyParameters parameters = devtest::StandardParameters(0);
    auto engine = devtest::EngineFor(parameters);
    ASSERT_TRUE(engine);
    struct Case {
        PKCS11QuorKorvo7Q* device;
        CK_BYTE selector;
        std::vector<std::uint32_t> sizes;
    };
    const Case cases[] = {{a_.get(), 1, {32, 48, 64}}, {a_.get(), 0, {32, 48, 64}}, {b_.get(), 1, {32}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.selector));
        std::array<std::uint8_t, 76> publicKey;
        publicKey.fill(0xEE);
        ASSERT_EQ(
            c.device->GenerateKeyPair(c.selector, 0, &curve.field, &curve.point, SBoxBytes(curve), publicKey.data()),
            CKR_OK);
        for (std::size_t i = 21; i < 76; ++i) ASSERT_EQ(publicKey[i], 0) << "beyond the 163-bit field: " << i;
        ASSERT_EQ(engine->CheckPublicKey(dstu4145::ByteSpan(publicKey.data(), 64)), dstu4145::Result::Ok);
        for (std::uint32_t size : c.sizes) {
            const Bytes hash = Value(static_cast<std::uint8_t>(size), size);
            std::uint8_t signature[144];
            if (size == 32) {
                ASSERT_EQ(c.device->SignHash32(c.selector, nullptr, nullptr, nullptr, hash.data(), signature), CKR_OK);
                EXPECT_EQ(
                    engine->Verify(hash, dstu4145::ByteSpan(publicKey.data(), 64), dstu4145::ByteSpan(signature, 144)),
                    dstu4145::Result::Ok);
            }
            ASSERT_EQ(c.device->SignHash(c.selector, nullptr, nullptr, hash.data(), size, signature), CKR_OK) << size;
            EXPECT_EQ(
                engine->Verify(hash, dstu4145::ByteSpan(publicKey.data(), 64), dstu4145::ByteSpan(signature, 144)),
                dstu4145::Result::Ok)
                << size;
        }
    }
    // The older key signs only 32-byte hashes; odd sizes are refused at once.
    const Bytes hash = Value(1, 64);
    std::uint8_t signature[144];
    EXPECT_EQ(b_->SignHash(1, nullptr, nullptr, hash.data(), 48, signature), CKR_DEVICE_ERROR);
    EXPECT_EQ(a_->SignHash(1, nullptr, nullptr, hash.data(), 40, signature), CKR_DATA_LEN_RANGE);
    EXPECT_EQ(a_->SignHash32(1, nullptr, nullptr, nullptr, nullptr, signature), CKR_ARGUMENTS_BAD);
}

TEST_F(Pkcs11DriverKeys, GenerationLoadsBothSBoxesThenGeneratesAndReadsThePublicKey)
{
    OpenTwo();
    const Curve curve = StandardCurve(1);
    pcsctap::Reset();
    std::array<std::uint8_t, 76> publicKey{};
    ASSERT_EQ(a_->GenerateKeyPair(1, 1, &curve.field, &curve.point, SBoxBytes(curve), publicKey.data()), CKR_OK);
    const std::vector<int> commands = pcsctap::Commands();
    auto first = [&](int c) { return std::find(commands.begin(), commands.end(), c) - commands.begin(); };
    auto last = [&](int c) { return std::find(commands.rbegin(), commands.rend(), c).base() - commands.begin() - 1; };
    const std::ptrdiff_t generate = first(KEYCMD_GENERATE_SIGN_KEY);
    ASSERT_LT(generate, static_cast<std::ptrdiff_t>(commands.size()));
    const std::ptrdiff_t sBoxes = std::max(last(KEYCMD_SET_SBOX), last(KEYCMD_WRITE_TABLE_NEW));
    EXPECT_GE(sBoxes, 0);
    EXPECT_LT(sBoxes, generate) << "the S-boxes are loaded first";
    EXPECT_EQ(last(KEYCMD_READ_SIGN_PUBLIC_KEY), static_cast<std::ptrdiff_t>(commands.size()) - 1)
        << "the public key read last";

    std::uint8_t buffer[76];
    EXPECT_EQ(a_->GenerateKeyPair(1, 0, nullptr, &curve.point, SBoxBytes(curve), buffer), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(a_->GenerateKeyPair(1, 0, &curve.field, &curve.point, SBoxBytes(curve), nullptr), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(a_->Close(), CKR_OK);
    EXPECT_EQ(a_->GenerateKeyPair(1, 0, &curve.field, &curve.point, SBoxBytes(curve), buffer), CKR_DEVICE_ERROR);
}

// A wraps under the agreement with B's public key, B unwraps under the
// agreement with A's; both must have recorded the same UKM.
TEST_F(Pkcs11DriverKeys, DerivedContextsWrapOnOneKeyAndUnwrapOnTheOther)
{
    OpenTwo();
    const Curve curve = StandardCurve(2);
    AgreementPairs(curve);
    const Bytes ukm = Value(5, 8);
    const Bytes secret = Value(77);
    for (CK_BYTE extended : {0, 1}) {
        SCOPED_TRACE(int(extended));
        ASSERT_EQ(a_->DeriveKey(1, 10, extended, &curve.field, &curve.point, SBoxBytes(curve), publicB_.data(),
                                ukm.data(), 8),
                  CKR_OK);
        ASSERT_EQ(b_->DeriveKey(2, 20, extended, &curve.field, &curve.point, SBoxBytes(curve), publicA_.data(),
                                ukm.data(), 8),
                  CKR_OK);
        std::uint8_t wrapped[44];
        ASSERT_EQ(a_->WrapKeyOld(1, 10, secret.data(), wrapped), CKR_OK);
        EXPECT_NE(Bytes(wrapped, wrapped + 32), secret);
        Bytes back(32);
        ASSERT_EQ(b_->UnwrapKeyOld(2, 20, wrapped, back.data()), CKR_OK);
        EXPECT_EQ(back, secret);
        // The key's own refusal of the bytes: no key value comes out.
        wrapped[40] ^= 1;
        back.assign(32, 0);
        EXPECT_EQ(b_->UnwrapKeyOld(2, 20, wrapped, back.data()), CKR_WRAPPED_KEY_INVALID) << "check value";
        EXPECT_EQ(back, Bytes(32, 0));
    }

    ASSERT_EQ(a_->DeriveKeyNew(1, 11, &curve.field, &curve.point, publicB_.data(), ukm.data(), 8), CKR_OK);
    ASSERT_EQ(b_->DeriveKeyNew(2, 21, &curve.field, &curve.point, publicA_.data(), ukm.data(), 8), CKR_OK);
    std::uint8_t wrapped[96];
    ASSERT_EQ(a_->WrapKeyNew(1, 11, secret.data(), 32, wrapped, 96), CKR_OK);
    Bytes back(32);
    ASSERT_EQ(b_->UnwrapKeyNew(2, 21, wrapped, 96, back.data(), 32), CKR_OK);
    EXPECT_EQ(back, secret);
    wrapped[70] ^= 1;
    back.assign(32, 0);
    EXPECT_EQ(b_->UnwrapKeyNew(2, 21, wrapped, 96, back.data(), 32), CKR_WRAPPED_KEY_INVALID) << "check value";
    EXPECT_EQ(back, Bytes(32, 0));
    // The forms do not mix: a new-form context is not an old-form one.
    EXPECT_EQ(a_->WrapKeyOld(1, 11, secret.data(), wrapped), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(a_->WrapKeyNew(1, 10, secret.data(), 32, wrapped, 96), CKR_KEY_HANDLE_INVALID);
}

TEST_F(Pkcs11DriverKeys, ArgumentsAndLengthsAreCheckedFirst)
{
    OpenTwo();
    const Curve curve = StandardCurve(0);
    std::uint8_t in[96] = {}, out[96];
    EXPECT_EQ(a_->UnwrapKeyNew(1, 1, in, 95, out, 32), CKR_WRAPPED_KEY_LEN_RANGE);
    EXPECT_EQ(a_->UnwrapKeyNew(1, 1, in, 95, out, 31), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(a_->WrapKeyNew(1, 1, in, 31, out, 96), CKR_KEY_SIZE_RANGE);
    EXPECT_EQ(a_->WrapKeyNew(1, 1, in, 32, out, 95), CKR_WRAPPED_KEY_LEN_RANGE);
    EXPECT_EQ(a_->WrapKeyNew(1, 1, in, 32, out, 96), CKR_KEY_HANDLE_INVALID) << "no derivation";
    EXPECT_EQ(a_->UnwrapKeyOld(1, 1, in, out), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(a_->WrapKeyOld(1, 1, nullptr, out), CKR_ARGUMENTS_BAD);

    // UKM the key's agreement cannot take is refused at derivation, not by
    // every later wrap; a NULL UKM with a length is refused too.
    const Bytes ukm = Value(1, 184);
    EXPECT_EQ(a_->DeriveKey(1, 1, 0, &curve.field, &curve.point, SBoxBytes(curve), in, ukm.data(), 96),
              CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(a_->DeriveKey(1, 1, 0, &curve.field, &curve.point, SBoxBytes(curve), in, ukm.data(), 95), CKR_OK);
    EXPECT_EQ(a_->DeriveKeyNew(1, 1, &curve.field, &curve.point, in, ukm.data(), 184), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(a_->DeriveKeyNew(1, 1, &curve.field, &curve.point, in, ukm.data(), 183), CKR_OK);
    EXPECT_EQ(a_->DeriveKeyNew(1, 1, &curve.field, &curve.point, in, nullptr, 8), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(a_->DeriveKeyNew(1, 1, &curve.field, &curve.point, nullptr, ukm.data(), 8), CKR_ARGUMENTS_BAD);

    ASSERT_EQ(a_->Close(), CKR_OK);
    EXPECT_EQ(a_->DeriveKeyNew(1, 2, &curve.field, &curve.point, in, ukm.data(), 8), CKR_DEVICE_ERROR);
    EXPECT_EQ(a_->WrapKeyNew(1, 1, in, 32, out, 96), CKR_DEVICE_ERROR);
}

TEST_F(Pkcs11DriverKeys, ContextsAreReplacedClosedWithTheirSessionAndDroppedWithTheirKey)
{
    OpenTwo();
    const Curve curve = StandardCurve(3);
    AgreementPairs(curve);
    const Bytes ukm1 = Value(1, 8), ukm2 = Value(2, 8);
    const Bytes secret = Value(9);
    std::uint8_t wrapped[96];
    Bytes back(32);

    // A second derivation for the same session and key replaces the first.
    ASSERT_EQ(b_->DeriveKeyNew(7, 70, &curve.field, &curve.point, publicA_.data(), ukm2.data(), 8), CKR_OK);
    ASSERT_EQ(a_->DeriveKeyNew(5, 50, &curve.field, &curve.point, publicB_.data(), ukm1.data(), 8), CKR_OK);
    ASSERT_EQ(a_->DeriveKeyNew(5, 50, &curve.field, &curve.point, publicB_.data(), ukm2.data(), 8), CKR_OK);
    ASSERT_EQ(a_->WrapKeyNew(5, 50, secret.data(), 32, wrapped, 96), CKR_OK);
    ASSERT_EQ(b_->UnwrapKeyNew(7, 70, wrapped, 96, back.data(), 32), CKR_OK);
    EXPECT_EQ(back, secret) << "wrapped under the second UKM";

    // Closing another session leaves the context; closing its own drops it.
    EXPECT_EQ(a_->CloseSessionContexts(6), CKR_OK);
    EXPECT_EQ(a_->WrapKeyNew(5, 50, secret.data(), 32, wrapped, 96), CKR_OK);
    EXPECT_EQ(a_->CloseSessionContexts(5), CKR_OK);
    EXPECT_EQ(a_->WrapKeyNew(5, 50, secret.data(), 32, wrapped, 96), CKR_KEY_HANDLE_INVALID);

    // Dropping a key's contexts: a new object with the handle inherits nothing,
    // and the same handle in another session keeps its own.
    ASSERT_EQ(a_->DeriveKey(5, 51, 0, &curve.field, &curve.point, SBoxBytes(curve), publicB_.data(), ukm1.data(), 8),
              CKR_OK);
    ASSERT_EQ(a_->DeriveKeyNew(5, 51, &curve.field, &curve.point, publicB_.data(), ukm1.data(), 8), CKR_OK);
    ASSERT_EQ(a_->DeriveKeyNew(8, 51, &curve.field, &curve.point, publicB_.data(), ukm1.data(), 8), CKR_OK);
    ASSERT_EQ(a_->DropKeyContexts(5, 51), CKR_OK);
    EXPECT_EQ(a_->WrapKeyNew(5, 51, secret.data(), 32, wrapped, 96), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(a_->WrapKeyOld(5, 51, secret.data(), wrapped), CKR_KEY_HANDLE_INVALID);
    EXPECT_EQ(a_->WrapKeyNew(8, 51, secret.data(), 32, wrapped, 96), CKR_OK);
}

TEST_F(Pkcs11DriverKeys, TheTableGrowsByDoublingAndReusesFreedEntries)
{
    OpenTwo();
    const Curve curve = StandardCurve(0);
    const std::uint8_t peer[76] = {1};
    EXPECT_EQ(a_->ContextTableCapacity(), 0u);
    for (CK_ULONG session = 1; session <= 10; ++session)
        ASSERT_EQ(a_->DeriveKeyNew(session, 100, &curve.field, &curve.point, peer, nullptr, 0), CKR_OK);
    EXPECT_EQ(a_->ContextTableCapacity(), 16u);
    for (CK_ULONG session = 1; session <= 10; ++session) ASSERT_EQ(a_->CloseSessionContexts(session), CKR_OK);
    for (CK_ULONG session = 11; session <= 26; ++session)
        ASSERT_EQ(a_->DeriveKeyNew(session, 100, &curve.field, &curve.point, peer, nullptr, 0), CKR_OK);
    EXPECT_EQ(a_->ContextTableCapacity(), 16u) << "freed entries are taken first";
    ASSERT_EQ(a_->DeriveKeyNew(27, 100, &curve.field, &curve.point, peer, nullptr, 0), CKR_OK);
    EXPECT_EQ(a_->ContextTableCapacity(), 32u);
}

// A key that asks for a new login in the middle has lost its agreement: the
// whole sequence runs again instead of the failed step alone.
TEST_F(Pkcs11DriverKeys, AfterARecoveryTheAgreementIsSentAgain)
{
    OpenTwo();
    const Curve curve = StandardCurve(1);
    AgreementPairs(curve);
    const Bytes ukm = Value(3, 16);
    const Bytes secret = Value(40);
    ASSERT_EQ(a_->DeriveKeyNew(1, 10, &curve.field, &curve.point, publicB_.data(), ukm.data(), 16), CKR_OK);
    ASSERT_EQ(b_->DeriveKeyNew(2, 20, &curve.field, &curve.point, publicA_.data(), ukm.data(), 16), CKR_OK);
    ASSERT_EQ(a_->DeriveKey(1, 11, 0, &curve.field, &curve.point, SBoxBytes(curve), publicB_.data(), ukm.data(), 16),
              CKR_OK);
    ASSERT_EQ(b_->DeriveKey(2, 21, 0, &curve.field, &curve.point, SBoxBytes(curve), publicA_.data(), ukm.data(), 16),
              CKR_OK);

    std::uint8_t wrapped[96];
    pcsctap::Reset();
    pcsctap::ForceStatus(KEYCMD_WRAP_KEY, 40, 1);
    ASSERT_EQ(a_->WrapKeyNew(1, 10, secret.data(), 32, wrapped, 96), CKR_OK);
    EXPECT_GE(Count(pcsctap::Commands(), KEYCMD_AGREE_KEY_NEW), 2) << "agreed again after the new login";
    Bytes back(32);
    ASSERT_EQ(b_->UnwrapKeyNew(2, 20, wrapped, 96, back.data(), 32), CKR_OK);
    EXPECT_EQ(back, secret);

    std::uint8_t wrappedOld[44];
    ASSERT_EQ(a_->WrapKeyOld(1, 11, secret.data(), wrappedOld), CKR_OK);
    pcsctap::Reset();
    pcsctap::ForceStatus(KEYCMD_AGREE_KEY, 40, 1);
    ASSERT_EQ(b_->UnwrapKeyOld(2, 21, wrappedOld, back.data()), CKR_OK);
    EXPECT_GE(Count(pcsctap::Commands(), KEYCMD_LOAD_KEY_CONTEXT), 2) << "the load too";
    EXPECT_EQ(back, secret);
}

// A key that keeps refusing ends the operation with CKR_DEVICE_ERROR and
// leaves the per-key mutex free for another thread.
TEST_F(Pkcs11DriverKeys, AFailureLeavesTheKeyFree)
{
    OpenTwo();
    const Curve curve = StandardCurve(0);
    qvkdev::DeviceTimings().mutexWaitMs = 200;
    std::array<std::uint8_t, 76> publicKey{};
    pcsctap::ForceStatus(KEYCMD_GENERATE_SIGN_KEY, 35, 2);
    EXPECT_EQ(a_->GenerateKeyPair(1, 0, &curve.field, &curve.point, SBoxBytes(curve), publicKey.data()),
              CKR_DEVICE_ERROR);
    ASSERT_EQ(a_->DeriveKeyNew(1, 10, &curve.field, &curve.point, publicKey.data(), nullptr, 0), CKR_OK);
    pcsctap::ForceStatus(KEYCMD_AGREE_KEY_NEW, 35, 2);
    std::uint8_t wrapped[96];
    const Bytes secret = Value(1);
    EXPECT_EQ(a_->WrapKeyNew(1, 10, secret.data(), 32, wrapped, 96), CKR_DEVICE_ERROR);

    Device other(static_cast<PKCS11QuorKorvo7Q*>(CreatePKCS11Device()));
    ASSERT_EQ(other->Open(SlotOf("31")), CKR_OK);
    ASSERT_EQ(other->Login("1234", 4), CKR_OK);
    CK_RV generated = CKR_GENERAL_ERROR;
    std::thread([&] {
        generated = other->GenerateKeyPair(1, 0, &curve.field, &curve.point, SBoxBytes(curve), publicKey.data());
    }).join();
    EXPECT_EQ(generated, CKR_OK) << "the mutex was released";
}

}  // namespace
