// The OCSP and DVCS tests' fixture: the CSP and a CSPI over the stand-in
// crypto libraries, the OCSP double over them, and key pairs made once per
// test so that a failure sweep can give every run key objects of its own.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "csp/CSP.h"
#include "csp/CSPI.h"
#include "pkiformats/SPKIFormats.h"

namespace ocsptest {

using Bytes = std::vector<std::uint8_t>;

// Key material made by the providers: DSTU 4145 on a standard curve, RSA of
// 1,024 bits (SHA-256), ECDSA on P-256 (curve 4 of the second provider).
struct KeyMaterial {
    fake::Curve curve;
    Bytes dstuPrivate, dstuPublic;
    Bytes rsaPrivate = Bytes(1200), rsaPublic = Bytes(600);
    std::uint8_t rsaProfile[8] = {};
    Bytes ecPrivate = Bytes(76), ecPoint = Bytes(152), ecRecord = Bytes(536);
};

class OCSPProviders : public ::testing::Test {
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
        Prepare(lib);
        facade = new SPKIFormats(csp, cspi, &lib);
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
    void Prepare(fake::OCSPLibrary& l)
    {
        l.csp = csp;
        l.cspi = cspi;
        l.requireWipe = true;
        GOST28147PackedSBox sBox;
        ASSERT_NE(csp->Parameters().GetStandardSBox(0, &sBox), 0);
        std::memcpy(l.sBox, &sBox, 64);
        fake::UseOCSPObjects(l);
    }

    // Each family's key pair, made once.
    const KeyMaterial& Keys()
    {
        if (keys_) return *keys_;
        keys_ = std::make_unique<KeyMaterial>();
        KeyMaterial& k = *keys_;
        EXPECT_NE(csp->Parameters().GetStandardCurve(1, 5, &k.curve.field, &k.curve.point), 0);
        GOST28147PackedSBox sBox;
        EXPECT_NE(csp->Parameters().GetStandardSBox(0, &sBox), 0);
        std::memcpy(k.curve.sBox, &sBox, 64);
        std::uint8_t priv[76] = {}, pub[76] = {};
        EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&k.curve.field, &k.curve.point, priv, pub), CSP_OK);
        k.dstuPrivate.assign(priv, priv + 76);
        k.dstuPublic.assign(pub, pub + 76);
        const std::uint32_t profile[2] = {1024, 256};
        std::memcpy(k.rsaProfile, profile, 8);
        EXPECT_EQ(cspi->GenerateKeyPairRSA(k.rsaProfile, k.rsaPrivate.data(), k.rsaPublic.data()), CSP_OK);
        Bytes entry(CSPI_CURVE_ENTRY_BYTES);
        EXPECT_EQ(cspi->Parameters()->GetCurve(4, entry.data()), 1);
        EXPECT_EQ(cspi->GenerateKeyPairECDSA(entry.data(), k.ecPrivate.data(), k.ecPoint.data()), CSP_OK);
        k.ecRecord.assign(entry.begin(), entry.begin() + 536);
        return k;
    }
    // A signer key object of the family (1, 2, 4) in library `l`.
    fake::KeyObject* Key(fake::OCSPLibrary& l, std::uint32_t family)
    {
        const KeyMaterial& k = Keys();
        auto* key = new fake::KeyObject(l);
        key->capabilities = family;
        key->curve = k.curve;
        key->dstuPrivate = k.dstuPrivate;
        key->rsaPrivate = k.rsaPrivate;
        std::memcpy(key->rsaProfile, k.rsaProfile, 8);
        key->ecPrivate = k.ecPrivate;
        key->ecRecord = k.ecRecord;
        fake::SignsResponses(key, l);
        return key;
    }
    // A certificate with the family's public key (or, `other`, a key pair
    // of its own made now).
    fake::OCSPCertificate* Certificate(fake::OCSPLibrary& l, std::uint32_t family, bool other = false)
    {
        const KeyMaterial& k = Keys();
        auto* cert = new fake::OCSPCertificate(l, family);
        cert->curve = k.curve;
        cert->dstuPublic = k.dstuPublic;
        cert->rsaPublic = k.rsaPublic;
        std::memcpy(cert->rsaProfile, k.rsaProfile, 8);
        cert->ecPoint = k.ecPoint;
        cert->ecRecord = k.ecRecord;
        if (other) {
            std::uint8_t priv[76] = {}, pub[76] = {};
            EXPECT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&cert->curve.field, &cert->curve.point, priv, pub), CSP_OK);
            cert->dstuPublic.assign(pub, pub + 76);
            Bytes rsaPrivate(1200);
            EXPECT_EQ(cspi->GenerateKeyPairRSA(cert->rsaProfile, rsaPrivate.data(), cert->rsaPublic.data()), CSP_OK);
            Bytes entry(CSPI_CURVE_ENTRY_BYTES), ecPrivate(76);
            EXPECT_EQ(cspi->Parameters()->GetCurve(4, entry.data()), 1);
            EXPECT_EQ(cspi->GenerateKeyPairECDSA(entry.data(), ecPrivate.data(), cert->ecPoint.data()), CSP_OK);
        }
        return cert;
    }

    // Runs `run` once to count its library calls, then once per call with
    // that call failing (and, in a second pass, throwing), each run over a
    // library and facade of its own. Nothing may stay behind; when every
    // step is one the operations cannot do without, they answer 0.
    void Sweep(const std::string& name, const std::function<int(SPKIFormats&, fake::OCSPLibrary&)>& run,
               bool everyStepNeeded)
    {
        int calls = 0;
        {
            fake::OCSPLibrary l;
            Prepare(l);
            SPKIFormats f(csp, cspi, &l);
            ASSERT_EQ(run(f, l), 1) << name;
            calls = l.Calls();
            EXPECT_EQ(l.LiveObjects(), 0) << name;
            EXPECT_EQ(l.LiveBlobs(), 0u) << name;
        }
        ASSERT_GT(calls, 0) << name;
        for (bool throws : {false, true}) {
            for (int k = 1; k <= calls; ++k) {
                fake::OCSPLibrary l;
                Prepare(l);
                SPKIFormats f(csp, cspi, &l);
                l.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
                int rc = 0;
                EXPECT_NO_THROW(rc = run(f, l)) << name << " k=" << k;
                const std::string where = name + " k=" + std::to_string(k) + (throws ? " throw" : "");
                EXPECT_EQ(l.LiveObjects(), 0) << where;
                EXPECT_EQ(l.LiveBlobs(), 0u) << where;
                EXPECT_EQ(l.doubleReleases, 0) << where;
                EXPECT_EQ(l.unwipedFrees, 0) << where;
                const std::string& failed = l.log[static_cast<std::size_t>(k - 1)];
                const bool release = failed.find(":7(") != std::string::npos || failed.find(":1(") != std::string::npos;
                if (!release && everyStepNeeded) {
                    EXPECT_EQ(rc, 0) << where << " failed " << failed;
                }
            }
        }
    }

    // The library's log entries that start with `prefix`, in order.
    std::vector<std::string> Calls(const std::string& prefix) const
    {
        std::vector<std::string> out;
        for (const auto& entry : lib.log)
            if (entry.rfind(prefix, 0) == 0) out.push_back(entry);
        return out;
    }

    CSP* csp = nullptr;
    CSPI* cspi = nullptr;
    fake::OCSPLibrary lib;
    SPKIFormats* facade = nullptr;

private:
    std::unique_ptr<KeyMaterial> keys_;
};

// Releases a fake object at scope end.
struct Drop {
    IPKIObject* object;
    ~Drop()
    {
        if (object) object->Release();
    }
};

}  // namespace ocsptest
