// The parameter store: built-in curves against OpenSSL's copies of the
// published curves, the RFC 5114 groups, names and OIDs, the text S-box
// reader and the binary parameter files.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>
#include <string>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "CSPITestSupport.h"

using namespace cspitest;

namespace {

Bytes Number(const BIGNUM* bn, std::size_t size)
{
    Bytes out(size);
    EXPECT_EQ(BN_bn2binpad(bn, out.data(), static_cast<int>(size)), static_cast<int>(size));
    return out;
}

Bytes Slice(const Bytes& entry, std::size_t offset, std::size_t size)
{
    return Bytes(entry.begin() + static_cast<std::ptrdiff_t>(offset),
                 entry.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

struct NamedCurve {
    int nid;
    std::uint32_t bits;
    std::uint32_t hashBits;
    bool seeded;
};

const NamedCurve kCurves[CSPI_CURVE_COUNT] = {
    {NID_X9_62_prime192v1, 192, 160, true}, {NID_brainpoolP192r1, 192, 160, false},
    {NID_secp224r1, 224, 224, true},        {NID_brainpoolP224r1, 224, 224, false},
    {NID_X9_62_prime256v1, 256, 256, true}, {NID_brainpoolP256r1, 256, 256, false},
    {NID_brainpoolP320r1, 320, 256, false}, {NID_secp384r1, 384, 256, true},
    {NID_brainpoolP384r1, 384, 256, false}, {NID_brainpoolP512r1, 512, 384, false},
    {NID_secp521r1, 521, 512, true},
};

TEST(CSPIParameters, TheElevenCurvesAreThePublishedOnes)
{
    CSPIParameters parameters;
    for (std::uint32_t i = 0; i < CSPI_CURVE_COUNT; ++i) {
        SCOPED_TRACE(i);
        Bytes entry(CSPI_CURVE_ENTRY_BYTES, 0xEE);
        ASSERT_EQ(parameters.GetCurve(i, entry.data()), 1);
        EC_GROUP* group = EC_GROUP_new_by_curve_name(kCurves[i].nid);
        ASSERT_NE(group, nullptr);
        BIGNUM* p = BN_new();
        BIGNUM* a = BN_new();
        BIGNUM* b = BN_new();
        ASSERT_EQ(EC_GROUP_get_curve(group, p, a, b, nullptr), 1);
        EXPECT_EQ(entry[0] | (entry[1] << 8), static_cast<int>(kCurves[i].bits));
        EXPECT_EQ(entry[2] | (entry[3] << 8), 1);
        EXPECT_EQ(Slice(entry, CSPI_CURVE_P, 76), Number(p, 76));
        EXPECT_EQ(Slice(entry, CSPI_CURVE_A, 76), Number(a, 76));
        EXPECT_EQ(Slice(entry, CSPI_CURVE_B, 76), Number(b, 76));
        EXPECT_EQ(Slice(entry, CSPI_CURVE_N, 76), Number(EC_GROUP_get0_order(group), 76));
        Bytes g(CSPI_CURVE_POINT_BYTES, 0);
        std::size_t length = 2 * ((kCurves[i].bits + 7) / 8) + 1;
        ASSERT_EQ(EC_POINT_point2oct(group, EC_GROUP_get0_generator(group), POINT_CONVERSION_UNCOMPRESSED,
                                     g.data() + (g.size() - length), length, nullptr),
                  length);
        EXPECT_EQ(Slice(entry, CSPI_CURVE_G, CSPI_CURVE_POINT_BYTES), g);
        Bytes seed(76, 0);
        if (kCurves[i].seeded) {
            ASSERT_EQ(EC_GROUP_get_seed_len(group), 20u);
            std::memcpy(seed.data() + 56, EC_GROUP_get0_seed(group), 20);
        }
        EXPECT_EQ(Slice(entry, CSPI_CURVE_SEED, 76), seed);
        EXPECT_EQ(entry[536] | (entry[537] << 8) | (entry[538] << 16) | (entry[539] << 24),
                  static_cast<int>(kCurves[i].hashBits));
        BN_free(p);
        BN_free(a);
        BN_free(b);
        EC_GROUP_free(group);
    }
    std::uint8_t untouched[CSPI_CURVE_ENTRY_BYTES] = {};
    EXPECT_EQ(parameters.GetCurve(11, untouched), 0);
    EXPECT_EQ(untouched[0], 0);
}

TEST(CSPIParameters, DescribesAndFindsCurvesInWindows1251)
{
    CSPIParameters parameters;
    std::uint32_t bits = 0, hashBits = 0;
    char name[CSPI_TEXT_BYTES] = {}, oid[CSPI_TEXT_BYTES] = {};
    ASSERT_EQ(parameters.DescribeCurve(10, &bits, &hashBits, name, oid), 1);
    EXPECT_EQ(bits, 521u);
    EXPECT_EQ(hashBits, 512u);
    EXPECT_STREQ(name, "NIST P-521 (secp521r1), 521 \xE1\xB3\xF2");
    EXPECT_STREQ(oid, "1.3.132.0.35");
    ASSERT_EQ(parameters.DescribeCurve(1, nullptr, nullptr, name, nullptr), 1);
    EXPECT_STREQ(name, "BrainpoolP192r1, 192 \xE1\xB3\xF2\xE0");

    std::uint32_t untouched = 77;
    char empty[CSPI_TEXT_BYTES] = {};
    EXPECT_EQ(parameters.DescribeCurve(11, &untouched, &untouched, empty, empty), 0);
    EXPECT_EQ(untouched, 77u);
    EXPECT_EQ(empty[0], '\0');

    std::uint32_t index = 99;
    EXPECT_EQ(parameters.FindCurveByOID("1.3.132.0.34", &index), 1);
    EXPECT_EQ(index, 7u);
    EXPECT_EQ(parameters.FindCurveByOID("1.3.36.3.3.2.8.1.1.13", nullptr), 1);
    EXPECT_EQ(parameters.FindCurveByOID("1.3.132.0.34 ", &index), 0);
    EXPECT_EQ(parameters.FindCurveByOID("1.3.132.0.3", &index), 0);
}

TEST(CSPIParameters, RSAProfilesAndDomainSets)
{
    CSPIParameters parameters;
    std::uint32_t keyBits = 0, hashBits = 0;
    char name[CSPI_TEXT_BYTES] = {}, oid[CSPI_TEXT_BYTES] = {};
    ASSERT_EQ(parameters.DescribeRSAProfile(2, &keyBits, &hashBits, name, oid), 1);
    EXPECT_EQ(keyBits, 3072u);
    EXPECT_EQ(hashBits, 384u);
    EXPECT_STREQ(name, "3072 \xE1\xB3\xF2\xE0 (SHA-384)");
    EXPECT_STREQ(oid, "1.2.840.113549.1.1.12");
    EXPECT_EQ(parameters.GetRSAProfile(0, &keyBits, &hashBits), 1);
    EXPECT_EQ(keyBits, 1024u);
    EXPECT_EQ(hashBits, 160u);
    EXPECT_EQ(parameters.GetRSAProfile(4, &keyBits, &hashBits), 0);

    ASSERT_EQ(parameters.DescribeDomainParameters(1, &keyBits, &hashBits, name, oid), 1);
    EXPECT_EQ(keyBits, 2048u);
    EXPECT_EQ(hashBits, 256u);
    EXPECT_STREQ(name, "MODP, 2048 \xE1\xB3\xF2 (SHA-224)");
    EXPECT_STREQ(oid, "2.16.840.1.101.3.4.3.1");
    EXPECT_EQ(parameters.DescribeDomainParameters(3, nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(CSPIParameters, TheDomainSetsAreTheGroupsOfRFC5114)
{
    CSPIParameters parameters;
    const char* groups[CSPI_DOMAIN_SET_COUNT] = {"dh_1024_160", "dh_2048_224", "dh_2048_256"};
    const std::uint32_t sizes[CSPI_DOMAIN_SET_COUNT][2] = {{1024, 160}, {2048, 224}, {2048, 256}};
    for (std::uint32_t i = 0; i < CSPI_DOMAIN_SET_COUNT; ++i) {
        SCOPED_TRACE(groups[i]);
        Bytes record(CSPI_DOMAIN_RECORD_BYTES);
        std::uint32_t hashBits = 0;
        ASSERT_EQ(parameters.GetDomainParameters(i, record.data(), &hashBits), 1);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "DHX", nullptr);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(EVP_PKEY_paramgen_init(ctx), 1);
        ASSERT_EQ(EVP_PKEY_CTX_set_group_name(ctx, groups[i]), 1);
        EVP_PKEY* key = nullptr;
        ASSERT_EQ(EVP_PKEY_paramgen(ctx, &key), 1);
        BIGNUM *p = nullptr, *q = nullptr, *g = nullptr;
        ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_FFC_P, &p), 1);
        ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_FFC_Q, &q), 1);
        ASSERT_EQ(EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_FFC_G, &g), 1);
        EXPECT_EQ(record[0] | (record[1] << 8), static_cast<int>(sizes[i][0]));
        EXPECT_EQ(record[4] | (record[5] << 8), static_cast<int>(sizes[i][1]));
        EXPECT_EQ(Slice(record, CSPI_DOMAIN_P, 400), Number(p, 400));
        EXPECT_EQ(Slice(record, CSPI_DOMAIN_Q, 400), Number(q, 400));
        EXPECT_EQ(Slice(record, CSPI_DOMAIN_G, 400), Number(g, 400));
        BN_free(p);
        BN_free(q);
        BN_free(g);
        EVP_PKEY_free(key);
        EVP_PKEY_CTX_free(ctx);
    }
}

class SBoxText : public testing::Test {
protected:
    std::string Write(const std::string& text)
    {
        std::string path =
            testing::TempDir() + std::to_string(getpid()) + "-cspi_sbox_" + std::to_string(counter_++) + ".txt";
        std::ofstream(path) << text;
        paths_.push_back(path);
        return path;
    }
    ~SBoxText() override
    {
        for (const std::string& p : paths_) std::remove(p.c_str());
    }
    std::vector<std::string> paths_;
    int counter_ = 0;
};

TEST_F(SBoxText, ReadsFourRowsOfLowThenHighNibbles)
{
    std::string text = "SBOX\n";
    for (int i = 0; i < 128; ++i) text += "0123456789ABCDEF"[i % 16] + std::string(i % 16 == 15 ? "\n" : " ");
    CSPIParameters parameters;  // no owner needed
    GOST28147PackedSBox box;
    ASSERT_EQ(parameters.LoadSBoxText(Write(text).c_str(), &box), 1);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&box);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(bytes[i], static_cast<std::uint8_t>((i % 16) | ((i % 16) << 4))) << i;

    // Only the low four bits of a value count.
    std::string wide = "H";
    for (int i = 0; i < 128; ++i) wide += i < 16 ? " 1F" : " 0";
    ASSERT_EQ(parameters.LoadSBoxText(Write(wide).c_str(), &box), 1);
    EXPECT_EQ(bytes[0], 0x0F);
}

TEST_F(SBoxText, RefusesShortMalformedOrOverlongFiles)
{
    CSPIParameters parameters;
    GOST28147PackedSBox box;
    std::string values;
    for (int i = 0; i < 127; ++i) values += " 7";
    EXPECT_EQ(parameters.LoadSBoxText(Write("HDR" + values).c_str(), &box), 0) << "127 values";
    EXPECT_EQ(parameters.LoadSBoxText(Write("HDR" + values + " Z").c_str(), &box), 0) << "not hexadecimal";
    EXPECT_EQ(parameters.LoadSBoxText(Write(std::string(4096, 'H') + values + " 7").c_str(), &box), 0)
        << "header word beyond the bound";
    EXPECT_EQ(
        parameters.LoadSBoxText((testing::TempDir() + std::to_string(getpid()) + "-no_such_sbox.txt").c_str(), &box),
        0);
}

TEST(CSPIParameterFiles, NeedAnOwner)
{
    CSPIParameters parameters;
    Bytes entry(CSPI_CURVE_ENTRY_BYTES);
    ASSERT_EQ(parameters.GetCurve(4, entry.data()), 1);
    std::string path = testing::TempDir() + std::to_string(getpid()) + "-cspi_no_owner.bin";
    GOST28147PackedSBox box{};
    EXPECT_EQ(parameters.SaveCurveFile(path.c_str(), entry.data()), 0);
    EXPECT_EQ(parameters.SaveSBoxFile(path.c_str(), &box), 0);
    EXPECT_EQ(parameters.SaveSBoxFileEx(path.c_str(), &box), 0);
    EXPECT_EQ(parameters.SaveProfileFile(path.c_str(), entry.data()), 0);
    EXPECT_EQ(parameters.SaveDomainParametersFile(path.c_str(), entry.data()), 0);
    EXPECT_EQ(parameters.LoadCurveFile(path.c_str(), entry.data()), 0);
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr) << "nothing was written";
}

}  // namespace

namespace {

class CSPIFiles : public testing::Test {
protected:
    void SetUp() override
    {
        int code = -1;
        cspi_ = Create("full", &code);
        ASSERT_EQ(code, CSP_OK);
        path_ = testing::TempDir() + std::to_string(getpid()) + "-cspi_parameter_file.bin";
    }
    void TearDown() override { std::remove(path_.c_str()); }
    Bytes ReadFile() const
    {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    void WriteFile(const Bytes& bytes) const
    {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    CSPIPointer cspi_;
    std::string path_;
};

TEST_F(CSPIFiles, CurveFilesCarryTheirHashAndRefuseChanges)
{
    CSPIParameters* p = cspi_->Parameters();
    Bytes entry = Curve(*cspi_, 9);
    ASSERT_EQ(p->SaveCurveFile(path_.c_str(), entry.data()), 1);
    Bytes file = ReadFile();
    ASSERT_EQ(file.size(), 572u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 540), entry);
    // The hash is GOST 34.311 under the default S-box and a zero start vector.
    std::uint8_t hash[32];
    const std::uint8_t zero[32] = {};
    ASSERT_EQ(cspi_->HashGOST34311(entry.data(), 540, nullptr, zero, hash), CSP_OK);
    EXPECT_EQ(Bytes(file.begin() + 540, file.end()), Bytes(hash, hash + 32));

    Bytes loaded(540, 0);
    ASSERT_EQ(p->LoadCurveFile(path_.c_str(), loaded.data()), 1);
    EXPECT_EQ(loaded, entry);

    Bytes longer = file;
    longer.push_back(0);
    WriteFile(longer);
    Bytes untouched(540, 0x5A);
    EXPECT_EQ(p->LoadCurveFile(path_.c_str(), untouched.data()), 0) << "573 bytes";
    Bytes changed = file;
    changed[571] ^= 1;
    WriteFile(changed);
    EXPECT_EQ(p->LoadCurveFile(path_.c_str(), untouched.data()), 0) << "a changed hash";
    EXPECT_EQ(untouched, Bytes(540, 0x5A)) << "a refused load writes nothing";
}

TEST_F(CSPIFiles, ProfileDomainAndSBoxFilesRoundTrip)
{
    CSPIParameters* p = cspi_->Parameters();
    const std::uint8_t profile[8] = {0x00, 0x08, 0, 0, 0x00, 0x01, 0, 0};
    ASSERT_EQ(p->SaveProfileFile(path_.c_str(), profile), 1);
    EXPECT_EQ(ReadFile().size(), 40u);
    std::uint8_t loaded[8] = {};
    ASSERT_EQ(p->LoadProfileFile(path_.c_str(), loaded), 1);
    EXPECT_EQ(std::memcmp(loaded, profile, 8), 0);

    Bytes domain(CSPI_DOMAIN_RECORD_BYTES), back(CSPI_DOMAIN_RECORD_BYTES);
    ASSERT_EQ(p->GetDomainParameters(0, domain.data(), nullptr), 1);
    ASSERT_EQ(p->SaveDomainParametersFile(path_.c_str(), domain.data()), 1);
    EXPECT_EQ(ReadFile().size(), 1240u);
    ASSERT_EQ(p->LoadDomainParametersFile(path_.c_str(), back.data()), 1);
    EXPECT_EQ(back, domain);

    GOST28147PackedSBox box{}, out{};
    ASSERT_EQ(CSPParameters().GetStandardSBox(3, &box), 1);
    ASSERT_EQ(p->SaveSBoxFileEx(path_.c_str(), &box), 1);
    EXPECT_EQ(ReadFile().size(), 96u);
    ASSERT_EQ(p->LoadSBoxFileEx(path_.c_str(), &out), 1);
    EXPECT_EQ(std::memcmp(&out, &box, 64), 0);

    // The protected form is encrypted, with a zero tail and its MAC.
    ASSERT_EQ(p->SaveSBoxFile(path_.c_str(), &box), 1);
    Bytes file = ReadFile();
    ASSERT_EQ(file.size(), 80u);
    EXPECT_NE(std::memcmp(file.data(), &box, 64), 0);
    EXPECT_EQ(Bytes(file.begin() + 64, file.begin() + 76), Bytes(12, 0));
    out = {};
    ASSERT_EQ(p->LoadSBoxFile(path_.c_str(), &out), 1);
    EXPECT_EQ(std::memcmp(&out, &box, 64), 0);
    file[10] ^= 0x40;
    WriteFile(file);
    EXPECT_EQ(p->LoadSBoxFile(path_.c_str(), &out), 0) << "the MAC no longer matches";
}

}  // namespace
