// The two providers over the stand-in crypto libraries for the facade's key
// tests: a CSP (DSTU 4145, GOST 34.311, DSTU 7564) and a CSPI (RSA, ECDSA,
// SHA) that the tests construct themselves, since the module never makes one.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "csp/CSP.h"
#include "csp/CSPI.h"
#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/SPKIFormats.h"
#include "support/ByteOrder.h"

namespace keytest {

using Bytes = std::vector<std::uint8_t>;

inline PKIBlob View(const Bytes& b)
{
    return PKIBlob{static_cast<std::uint32_t>(b.size()), const_cast<std::uint8_t*>(b.data())};
}

inline PKIBlob View(const std::string& s)
{
    return PKIBlob{static_cast<std::uint32_t>(s.size()), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s.data()))};
}

inline Bytes Copy(const PKIBlob& b)
{
    return Bytes(b.data, b.data + b.length);
}

class Providers : public ::testing::Test {
protected:
    void SetUp() override
    {
        char previous[PATH_MAX];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(PROVIDERS_DIR), 0);
        int rc = CreateCSP(&csp, 1);
        int rci = CreateCSPI(&cspi);
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_EQ(rc, CSP_OK);
        ASSERT_EQ(rci, CSP_OK);
        facade = new SPKIFormats(csp, cspi, &lib);
        lib.requireWipe = true;
    }
    void TearDown() override
    {
        delete facade;
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
        EXPECT_EQ(lib.unwipedFrees, 0);
        DestroyCSPI(&cspi);
        DestroyCSP(&csp);
    }

    // A DSTU 4145 curve (polynomial basis, standard index) with standard S-box 0.
    fake::Curve StandardCurve(unsigned index)
    {
        fake::Curve c;
        EXPECT_NE(csp->Parameters().GetStandardCurve(1, index, &c.field, &c.point), 0);
        GOST28147PackedSBox sBox;
        EXPECT_NE(csp->Parameters().GetStandardSBox(0, &sBox), 0);
        std::memcpy(c.sBox, &sBox, 64);
        return c;
    }

    // A key object holding a DSTU 4145 pair made by the CSP; its public key out.
    fake::KeyObject* DSTU4145Key(const fake::Curve& curve, Bytes* publicKey)
    {
        auto* key = new fake::KeyObject(lib);
        key->curve = curve;
        key->capabilities = 1;
        std::uint8_t priv[76] = {}, pub[76] = {};
        EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&key->curve.field, &key->curve.point, priv, pub), CSP_OK);
        key->dstuPrivate.assign(priv, priv + 76);
        publicKey->assign(pub, pub + 76);
        return key;
    }

    // A key object holding an RSA pair of `bits` made by the CSPI; the
    // provider's 600-byte public record out.
    fake::KeyObject* RSAKey(std::uint32_t bits, Bytes* publicRecord)
    {
        auto* key = new fake::KeyObject(lib);
        key->capabilities = 2;
        const std::uint32_t profile[2] = {bits, 256};
        std::memcpy(key->rsaProfile, profile, 8);
        publicRecord->assign(600, 0);
        EXPECT_EQ(cspi->GenerateKeyPairRSA(key->rsaProfile, key->rsaPrivate.data(), publicRecord->data()), CSP_OK);
        return key;
    }

    // The certificate's two 600-byte big-endian fields from the provider's record.
    static void RSAFields(const Bytes& record, std::vector<std::uint8_t>& fields)
    {
        fields.assign(1200, 0);
        std::memcpy(fields.data() + 88, record.data() + 4, 512);
        std::memcpy(fields.data() + 600 + 516, record.data() + 516, 84);
    }

    // The 536-byte record of CSPI curve `index`, and an EC key object on it.
    Bytes ECRecord(std::uint32_t index)
    {
        Bytes entry(CSPI_CURVE_ENTRY_BYTES);
        EXPECT_EQ(cspi->Parameters()->GetCurve(index, entry.data()), 1);
        entry.resize(PKIF_EC_RECORD_BYTES);
        return entry;
    }
    fake::KeyObject* ECKey(std::uint32_t index, Bytes* point)
    {
        auto* key = new fake::KeyObject(lib);
        key->capabilities = 4;
        key->OfferECKey();
        key->ecRecord = ECRecord(index);
        Bytes entry(CSPI_CURVE_ENTRY_BYTES);
        EXPECT_EQ(cspi->Parameters()->GetCurve(index, entry.data()), 1);
        point->assign(152, 0);
        EXPECT_EQ(cspi->GenerateKeyPairECDSA(entry.data(), key->ecPrivate.data(), point->data()), CSP_OK);
        return key;
    }

    CSP* csp = nullptr;
    CSPI* cspi = nullptr;
    fake::KeysLibrary lib;
    SPKIFormats* facade = nullptr;
};

// Releases a key object (or any fake object) at scope end.
struct Drop {
    IPKIObject* object;
    ~Drop()
    {
        if (object) object->Release();
    }
};

}  // namespace keytest
