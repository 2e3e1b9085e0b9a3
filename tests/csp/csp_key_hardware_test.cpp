// The provider with the key-media library's real hardware object on the
// emulated key (behind the in-process PC/SC double): what the key signs
// verifies in software, and the key's wraps and session-key transport are
// the software ones, in both directions.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "CSPTestSupport.h"
#include "KMTestSupport.h"
#include "support/CSPParameters.h"

namespace {

constexpr char kSerial[] = "271828";
constexpr char kPassword[] = "1234";

struct Curve {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
};

class KeyHardwareTest : public kmtest::KMTest {
protected:
    void SetUp() override
    {
        KMTest::SetUp();
        AddKey(std::atoi(kSerial), 18, 0x200, kPassword);
        device_ = FullKey();
        ASSERT_NE(device_, nullptr);
        char serial[sizeof kSerial], password[sizeof kPassword];
        std::memcpy(serial, kSerial, sizeof serial);
        std::memcpy(password, kPassword, sizeof password);
        ASSERT_EQ(device_->Open(serial, password, 0), KM_OK);
        int caps = 0;
        void* objects[2] = {nullptr, nullptr};
        ASSERT_EQ(device_->GetInfo(nullptr, &caps, objects), KM_OK);
        hardware_ = static_cast<ICSPHardware*>(objects[0]);
        ASSERT_NE(hardware_, nullptr);
        ASSERT_EQ(chdir(csptest::VariantDir("full").c_str()), 0);
        ASSERT_EQ(CreateCSP(&csp_, 1), CSP_OK);
        software_ = csp_->PlainContext();
        onKey_ = software_;
        onKey_.hardware = hardware_;
        CSPParameters parameters;
        ASSERT_EQ(parameters.GetStandardCurve(1, 0, &curve_.field, &curve_.point), 1);
        // The key's pairs on the curve, and a software agreement pair.
        ASSERT_EQ(hardware_->GenerateSignatureKeyPair(&curve_.field, &curve_.point, keySignature_), 1);
        ASSERT_EQ(hardware_->GenerateAgreementKeyPair(&curve_.field, &curve_.point, keyAgreement_), 1);
        ASSERT_EQ(csp_->GenerateAgreementKeyPairDSTU4145Ctx(&software_, &curve_.field, &curve_.point, ourPrivate_,
                                                            ourPublic_),
                  CSP_OK);
    }
    void TearDown() override
    {
        DestroyCSP(&csp_);
        if (device_ != nullptr) device_->Close(nullptr);
        device_.reset();
        KMTest::TearDown();
    }

    kmtest::Device device_;
    ICSPHardware* hardware_ = nullptr;
    CSP* csp_ = nullptr;
    CSPContext software_{}, onKey_{};
    Curve curve_;
    std::uint8_t keySignature_[76] = {}, keyAgreement_[76] = {};
    std::uint8_t ourPrivate_[76] = {}, ourPublic_[76] = {};
};

TEST_F(KeyHardwareTest, WhatTheKeySignsVerifiesInSoftware)
{
    std::uint8_t queried[76] = {};
    ASSERT_EQ(csp_->GetSignaturePublicKeyDSTU4145Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, queried), CSP_OK);
    EXPECT_EQ(0, std::memcmp(queried, keySignature_, 76));
    for (std::uint32_t length : {32u, 48u, 64u}) {
        SCOPED_TRACE(length);
        std::uint8_t hash[64], signature[152] = {};
        for (std::uint32_t i = 0; i < 64; ++i) hash[i] = static_cast<std::uint8_t>(i * 5 + length);
        ASSERT_EQ(csp_->SignHashDSTU4145ExCtx(&onKey_, length, hash, &curve_.field, &curve_.point, nullptr, signature),
                  CSP_OK);
        EXPECT_EQ(csp_->VerifySignatureDSTU4145(length, hash, &curve_.field, &curve_.point, keySignature_, signature),
                  CSP_OK);
        hash[2] ^= 1;
        EXPECT_EQ(csp_->VerifySignatureDSTU4145(length, hash, &curve_.field, &curve_.point, keySignature_, signature),
                  CSP_INVALID_SIGNATURE);
    }
    // The key answers feature 2 negatively: verification with the key
    // installed runs in software.
    std::uint8_t hash[32] = {9}, signature[152] = {};
    ASSERT_EQ(csp_->SignHashDSTU4145Ctx(&onKey_, hash, &curve_.field, &curve_.point, nullptr, signature), CSP_OK);
    EXPECT_EQ(
        csp_->VerifyHashSignatureDSTU4145Ctx(&onKey_, hash, &curve_.field, &curve_.point, keySignature_, signature),
        CSP_OK);
}

TEST_F(KeyHardwareTest, GostWrapOfTheKeyIsTheSoftwareWrap)
{
    const csptest::Bytes ukm = csptest::Sequence(0x51, 8), key = csptest::Sequence(0xA0, 32);
    GOST28147PackedSBox box{};
    CSPParameters().GetStandardSBox(0, &box);
    std::uint8_t onKey[44], back[32] = {};
    ASSERT_EQ(csp_->WrapKeyGOST28147Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, 1, ukm.data(), 8,
                                        nullptr, nullptr, &box, key.data(), onKey),
              CSP_OK);
    ASSERT_EQ(csp_->UnwrapKeyGOST28147Ctx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, 1,
                                          ukm.data(), 8, nullptr, nullptr, &box, onKey, back),
              CSP_OK);
    EXPECT_EQ(csptest::Bytes(back, back + 32), key);
    std::uint8_t inSoftware[44];
    ASSERT_EQ(csp_->WrapKeyGOST28147Ctx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, 1,
                                        ukm.data(), 8, nullptr, nullptr, &box, key.data(), inSoftware),
              CSP_OK);
    std::memset(back, 0, 32);
    ASSERT_EQ(csp_->UnwrapKeyGOST28147Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, 1, ukm.data(), 8,
                                          nullptr, nullptr, &box, inSoftware, back),
              CSP_OK);
    EXPECT_EQ(csptest::Bytes(back, back + 32), key);
    inSoftware[10] ^= 1;
    EXPECT_EQ(csp_->UnwrapKeyGOST28147Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, 1, ukm.data(), 8,
                                          nullptr, nullptr, &box, inSoftware, back),
              CSP_HARDWARE_ERROR);
}

TEST_F(KeyHardwareTest, DstuWrapOfTheKeyIsTheSoftwareWrap)
{
    const csptest::Bytes ukm = csptest::Sequence(0x61, 8), key = csptest::Sequence(0x05, 32);
    std::uint8_t onKey[96], back[32] = {};
    std::uint32_t length = 0;
    ASSERT_EQ(csp_->WrapKeyDSTU7624Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, 0, ukm.data(), 8,
                                       nullptr, key.data(), nullptr, onKey, &length),
              CSP_OK);
    ASSERT_EQ(csp_->UnwrapKeyDSTU7624Ctx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, 0,
                                         ukm.data(), 8, nullptr, onKey, nullptr, back, nullptr),
              CSP_OK);
    EXPECT_EQ(csptest::Bytes(back, back + 32), key);
    std::uint8_t inSoftware[96];
    ASSERT_EQ(csp_->WrapKeyDSTU7624Ctx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, 0,
                                       ukm.data(), 8, nullptr, key.data(), nullptr, inSoftware, &length),
              CSP_OK);
    std::memset(back, 0, 32);
    ASSERT_EQ(csp_->UnwrapKeyDSTU7624Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, 0, ukm.data(), 8,
                                         nullptr, inSoftware, nullptr, back, nullptr),
              CSP_OK);
    EXPECT_EQ(csptest::Bytes(back, back + 32), key);
}

TEST_F(KeyHardwareTest, SessionKeyTransportOfTheKeyIsTheSoftwareOne)
{
    GOST28147PackedSBox box{};
    CSPParameters().GetStandardSBox(0, &box);
    const csptest::Bytes key = csptest::Sequence(0x30, 32);
    std::uint8_t ukm[8] = {}, mac[4] = {};
    csptest::Bytes data = key;
    ASSERT_EQ(csp_->EncryptSessionKeyCtx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, ukm, &box, nullptr,
                                         data.data(), 32, mac),
              CSP_OK);
    EXPECT_NE(data, key);
    ASSERT_EQ(csp_->DecryptSessionKeyCtx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, ukm,
                                         &box, nullptr, data.data(), 32, mac),
              CSP_OK);
    EXPECT_EQ(data, key);
    ASSERT_EQ(csp_->EncryptSessionKeyCtx(&software_, &curve_.field, &curve_.point, ourPrivate_, keyAgreement_, ukm,
                                         &box, nullptr, data.data(), 32, mac),
              CSP_OK);
    ASSERT_EQ(csp_->DecryptSessionKeyCtx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, ukm, &box, nullptr,
                                         data.data(), 32, mac),
              CSP_OK);
    EXPECT_EQ(data, key);
    // The key answers feature 3 negatively: no raw agreed key from it.
    EXPECT_EQ(csp_->EncryptSessionKeyCtx(&onKey_, &curve_.field, &curve_.point, nullptr, ourPublic_, ukm, &box, nullptr,
                                         data.data(), 32, nullptr),
              CSP_BAD_ARGUMENT);
    // Two-party S on the key: feature 14 is refused.
    std::uint8_t e[76] = {}, r[76] = {}, s[76];
    EXPECT_EQ(csp_->MakeSignSDSTU4145Ctx(&onKey_, &curve_.field, &curve_.point, nullptr, e, r, s), CSP_LIBRARY_ERROR);
    std::uint8_t stored[32] = {}, again[32] = {};
    ASSERT_EQ(csp_->HashDataGOST34311Ctx(&onKey_, nullptr, 0, &box, nullptr, stored), CSP_OK);
    ASSERT_EQ(csp_->HashDataGOST34311Ctx(&onKey_, nullptr, 0, &box, nullptr, again), CSP_OK);
    EXPECT_EQ(0, std::memcmp(stored, again, 32));
    EXPECT_EQ(csp_->SetHardwareSBoxCtx(&onKey_, nullptr, nullptr, nullptr, reinterpret_cast<const std::uint8_t*>(&box)),
              CSP_OK);
}

}  // namespace
