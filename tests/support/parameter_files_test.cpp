// Parameter files of CSPParameters through a small stand-in provider whose
// "cryptography" is SHA-256 based: enough to see that every byte is covered.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "crypto/DSTUCiphersTables.h"
#include "support/CSPParameters.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Sha(const std::string& tag, const std::uint8_t* a, std::size_t an, const std::uint8_t* b = nullptr,
          std::size_t bn = 0)
{
    Bytes input(tag.begin(), tag.end());
    input.insert(input.end(), a, a + an);
    if (b != nullptr) input.insert(input.end(), b, b + bn);
    Bytes out(32);
    unsigned int size = 0;
    EVP_Digest(input.data(), input.size(), out.data(), &size, EVP_sha256(), nullptr);
    return out;
}

void Xor(std::uint8_t* data, std::size_t n, const Bytes& key, const std::uint8_t* iv)
{
    for (std::size_t block = 0; block * 32 < n; ++block) {
        std::uint8_t seed[64 + 8] = {};
        std::memcpy(seed, key.data(), 32);
        if (iv != nullptr) std::memcpy(seed + 32, iv, 32);
        std::memcpy(seed + 64, &block, sizeof block);
        Bytes pad = Sha("stream", seed, sizeof seed);
        for (std::size_t i = 0; i < 32 && block * 32 + i < n; ++i) data[block * 32 + i] ^= pad[i];
    }
}

class FakeProvider : public ICSPParametersProvider {
public:
    std::set<std::uint32_t> features{12, 16, 23, 24};
    std::string password;
    bool keepsPassword = false;
    bool badArguments = false;  // a call got other constants than expected
    int cryptoCalls = 0;

    Bytes KeyOf(const char* pw, const std::uint8_t* key)
    {
        if (pw != nullptr) return Sha("pw", reinterpret_cast<const std::uint8_t*>(pw), std::strlen(pw));
        return Bytes(key, key + 32);
    }
    void CheckGost(const GOST28147PackedSBox* sBox, const std::uint8_t* sv)
    {
        CSPParameters p;
        GOST28147PackedSBox standard;
        p.GetStandardSBox(0, &standard);
        static const std::uint8_t zero[32] = {};
        if (std::memcmp(sBox, &standard, 64) != 0 || std::memcmp(sv, zero, 32) != 0) badArguments = true;
    }

    int GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                         std::uint8_t* privateKey, std::uint8_t* publicKey) override
    {
        DSTU4145FieldRecord zf = {};
        DSTU4145PointRecord zp = {};
        zp.words[38] = point->words[38];
        if (privateKey || publicKey || std::memcmp(field, &zf, sizeof zf) || std::memcmp(point, &zp, sizeof zp))
            badArguments = true;
        return features.count(point->words[38]) ? 0 : 1;
    }
    const char* GetStoredString() override { return keepsPassword ? password.c_str() : nullptr; }
    int ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                             const std::uint8_t* sv, std::uint32_t* mac, std::uint8_t*, std::uint32_t* tailLength,
                             const char* pw, const std::uint8_t* key) override
    {
        ++cryptoCalls;
        CheckGost(sBox, sv);
        if (length % 8 != 0 || (pw == nullptr) == (key == nullptr)) badArguments = true;
        Bytes k = KeyOf(pw, key);
        Bytes m = Sha("mac", k.data(), 32, data, length);
        std::memcpy(mac, m.data(), 4);
        Xor(data, length, k, nullptr);
        *tailLength = 0;
        return 0;
    }
    int UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                               const std::uint8_t* sv, std::uint32_t expectedMac, const std::uint8_t*,
                               std::uint32_t tailLength, const char* pw, const std::uint8_t* key) override
    {
        ++cryptoCalls;
        CheckGost(sBox, sv);
        if (tailLength != 0) return 3;
        Bytes k = KeyOf(pw, key);
        Bytes copy(data, data + length);
        Xor(copy.data(), length, k, nullptr);
        Bytes m = Sha("mac", k.data(), 32, copy.data(), length);
        std::uint32_t mac;
        std::memcpy(&mac, m.data(), 4);
        if (mac != expectedMac) return 31;
        std::memcpy(data, copy.data(), length);
        return 0;
    }
    int HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                      const std::uint8_t* sv, std::uint8_t* hash) override
    {
        ++cryptoCalls;
        CheckGost(sBox, sv);
        Bytes h = Sha("gost", data, length);
        std::memcpy(hash, h.data(), 32);
        return 0;
    }
    int CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                             const std::uint8_t* sv, const std::uint8_t* expected) override
    {
        std::uint8_t h[32];
        HashGOST34311(data, length, sBox, sv, h);
        return std::memcmp(h, expected, 32) == 0 ? 0 : 31;
    }
    int HashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* block,
                     std::uint32_t hashLength, std::uint8_t* hash) override
    {
        ++cryptoCalls;
        if (block != nullptr || hashLength != 32) badArguments = true;
        Bytes h = Sha("dstu", data, length);
        std::memcpy(hash, h.data(), 32);
        return 0;
    }
    int CompareHashDSTU7564(const std::uint8_t* data, std::uint32_t length, const std::uint8_t* block,
                            std::uint32_t hashLength, const std::uint8_t* expected) override
    {
        std::uint8_t h[32];
        HashDSTU7564(data, length, block, hashLength, h);
        return std::memcmp(h, expected, 32) == 0 ? 0 : 31;
    }
    // Layout: IV (32), data padded to 32 with 80 00.., MAC (32), flag byte.
    int EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* out,
                                      std::uint32_t outSize, const std::uint8_t* block, const char* pw,
                                      const std::uint8_t* key, std::uint32_t keyLength, const std::uint8_t* iv,
                                      std::uint32_t b, std::uint32_t m) override
    {
        ++cryptoCalls;
        if (block != nullptr || iv != nullptr || keyLength != 32 || b != 32 || m != 32 ||
            (pw == nullptr) == (key == nullptr))
            badArguments = true;
        std::uint32_t p = length % 32 ? (length / 32 + 1) * 32 : length;
        if (outSize != 32 + p + 32 + 1) return 3;
        Bytes k = KeyOf(pw, key);
        Bytes ivBytes = Sha("iv", data, length);
        std::memcpy(out, ivBytes.data(), 32);
        std::memset(out + 32, 0, p);
        std::memcpy(out + 32, data, length);
        if (p != length) out[32 + length] = 0x80;
        Bytes mac = Sha("cmac", k.data(), 32, data, length);
        Xor(out + 32, p, k, out);
        std::memcpy(out + 32 + p, mac.data(), 32);
        out[outSize - 1] = p != length ? 1 : 0;
        return 0;
    }
    int DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                      std::uint32_t* length, const std::uint8_t* block, const char* pw,
                                      const std::uint8_t* key, std::uint32_t keyLength) override
    {
        ++cryptoCalls;
        if (block != nullptr || (pw == nullptr) == (key == nullptr)) badArguments = true;
        if (size < 97 || (pw == nullptr && keyLength != 32)) return 3;
        Bytes k = KeyOf(pw, key);
        std::uint32_t p = size - 65;
        Xor(buffer + 32, p, k, buffer);
        std::uint32_t l = p;
        if (buffer[size - 1] & 1) {
            while (l > 0 && buffer[32 + l - 1] == 0) --l;
            if (l == 0 || buffer[32 + l - 1] != 0x80) return 15;
            --l;
        }
        Bytes mac = Sha("cmac", k.data(), 32, buffer + 32, l);
        if (std::memcmp(mac.data(), buffer + 32 + p, 32) != 0) return 15;
        *data = buffer + 32;
        *length = l;
        return 0;
    }
    std::uint32_t CRC32Count(const std::uint8_t* data, std::uint32_t length) override
    {
        std::uint32_t crc = 0xFFFFFFFFu;
        for (std::uint32_t i = 0; i < length; ++i) {
            crc ^= data[i];
            for (int b = 0; b < 8; ++b) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
        return ~crc;
    }
};

class ParameterFiles : public ::testing::Test {
public:
    void SetUp() override
    {
        char pattern[] = "/tmp/qvk_support_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        parameters_.SetCSP(&provider_);
        parameters_.GetStandardCurve(1, 5, &field_, &point_);
        parameters_.GetStandardSBox(3, &sBox_);
    }
    void TearDown() override
    {
        EXPECT_FALSE(provider_.badArguments);
        std::string command = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(command.c_str()), 0);
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    static long SizeOf(const std::string& path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
    }
    static Bytes Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const std::string& path, const Bytes& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static void Write(const std::string& path, const std::string& text)
    {
        Write(path, Bytes(text.begin(), text.end()));
    }

    // One binary form: save, check size, load back, then damage one byte.
    struct Form {
        const char* name;
        int (*save)(ParameterFiles&, const std::string&);
        int (*load)(ParameterFiles&, const std::string&, bool* same);
        long plainSize;
        long envelopeSize;
    };
    void CheckForm(const Form& form, long expectedSize)
    {
        SCOPED_TRACE(form.name);
        std::string path = Path(form.name);
        ASSERT_EQ(form.save(*this, path), 1);
        EXPECT_EQ(SizeOf(path), expectedSize);
        bool same = false;
        ASSERT_EQ(form.load(*this, path, &same), 1);
        EXPECT_TRUE(same);
        Bytes good = Read(path);
        for (std::size_t at : {std::size_t{0}, good.size() / 2, good.size() - 2}) {
            Bytes bad = good;
            bad[at] ^= 0x10;
            Write(path, bad);
            EXPECT_EQ(form.load(*this, path, &same), 0) << "damaged at " << at;
        }
        Bytes shorter(good.begin(), good.end() - 1);
        Write(path, shorter);
        EXPECT_EQ(form.load(*this, path, &same), 0) << "one byte short";
        Write(path, good);
    }

    CSPParameters parameters_;
    FakeProvider provider_;
    DSTU4145FieldRecord field_;
    DSTU4145PointRecord point_;
    GOST28147PackedSBox sBox_;
    std::string dir_;
};

template <typename T>
bool Same(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

const ParameterFiles::Form kForms[] = {
    {"protected_sbox",
     [](ParameterFiles& t, const std::string& p) { return t.parameters_.SaveProtectedSBox(p.c_str(), &t.sBox_); },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         GOST28147PackedSBox out = {};
         int r = t.parameters_.LoadProtectedSBox(p.c_str(), &out);
         *same = Same(out, t.sBox_);
         return r;
     },
     80, 96},
    {"checked_sbox",
     [](ParameterFiles& t, const std::string& p) { return t.parameters_.SaveCheckedSBox(p.c_str(), &t.sBox_); },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         GOST28147PackedSBox out = {};
         int r = t.parameters_.LoadCheckedSBox(p.c_str(), &out);
         *same = Same(out, t.sBox_);
         return r;
     },
     96, 112},
    {"protected_parameters",
     [](ParameterFiles& t, const std::string& p) {
         return t.parameters_.SaveProtectedParameters(p.c_str(), &t.field_, &t.point_, &t.sBox_);
     },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         DSTU4145FieldRecord f = {};
         DSTU4145PointRecord pt = {};
         GOST28147PackedSBox s = {};
         int r = t.parameters_.LoadProtectedParameters(p.c_str(), &f, &pt, &s);
         *same = Same(f, t.field_) && Same(pt, t.point_) && Same(s, t.sBox_);
         return r;
     },
     336, 352},
    {"checked_parameters",
     [](ParameterFiles& t, const std::string& p) {
         return t.parameters_.SaveCheckedParameters(p.c_str(), &t.field_, &t.point_, &t.sBox_);
     },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         DSTU4145FieldRecord f = {};
         DSTU4145PointRecord pt = {};
         GOST28147PackedSBox s = {};
         int r = t.parameters_.LoadCheckedParameters(p.c_str(), &f, &pt, &s);
         *same = Same(f, t.field_) && Same(pt, t.point_) && Same(s, t.sBox_);
         return r;
     },
     352, 368},
    {"hashed_parameters",
     [](ParameterFiles& t, const std::string& p) {
         return t.parameters_.SaveHashedParameters(p.c_str(), &t.field_, &t.point_);
     },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         DSTU4145FieldRecord f = {};
         DSTU4145PointRecord pt = {};
         GOST28147PackedSBox s = {};
         int r = t.parameters_.LoadCheckedParameters(p.c_str(), &f, &pt, &s);
         GOST28147PackedSBox standard;
         t.parameters_.GetStandardSBox(0, &standard);
         // This form carries no S-box: the default one comes back.
         *same = Same(f, t.field_) && Same(pt, t.point_) && Same(s, standard);
         return r;
     },
     288, 353},
    {"protected_dstu_sboxes",
     [](ParameterFiles& t, const std::string& p) {
         return t.parameters_.SaveProtectedDSTUSBoxes(p.c_str(), DSTUDefaultSBoxes);
     },
     [](ParameterFiles& t, const std::string& p, bool* same) {
         std::uint8_t out[1024] = {};
         int r = t.parameters_.LoadProtectedDSTUSBoxes(p.c_str(), out);
         *same = std::memcmp(out, DSTUDefaultSBoxes, 1024) == 0;
         return r;
     },
     1089, 1185},
};

}  // namespace

TEST_F(ParameterFiles, PlainFormsRoundTripAndRefuseDamage)
{
    for (const Form& form : kForms) CheckForm(form, form.plainSize);
}

// The plain checked forms as bytes: records as little-endian words (field
// record, point record, S-box), then the hash of everything before it.
TEST_F(ParameterFiles, CheckedFormsLayOutTheirRecords)
{
    Bytes records(256);
    for (std::size_t i = 0; i < 25; ++i)
        for (int b = 0; b < 4; ++b) records[4 * i + b] = static_cast<std::uint8_t>(field_.words[i] >> (8 * b));
    for (std::size_t i = 0; i < 39; ++i)
        for (int b = 0; b < 4; ++b) records[100 + 4 * i + b] = static_cast<std::uint8_t>(point_.words[i] >> (8 * b));
    const auto* sBoxBytes = reinterpret_cast<const std::uint8_t*>(&sBox_);

    ASSERT_EQ(parameters_.SaveCheckedParameters(Path("cp").c_str(), &field_, &point_, &sBox_), 1);
    Bytes file = Read(Path("cp"));
    ASSERT_EQ(file.size(), 352u);
    EXPECT_TRUE(std::equal(records.begin(), records.end(), file.begin()));
    EXPECT_TRUE(std::equal(sBoxBytes, sBoxBytes + 64, file.begin() + 256));
    Bytes hash = Sha("gost", file.data(), 320);
    EXPECT_TRUE(std::equal(hash.begin(), hash.end(), file.begin() + 320));

    ASSERT_EQ(parameters_.SaveHashedParameters(Path("hp").c_str(), &field_, &point_), 1);
    file = Read(Path("hp"));
    ASSERT_EQ(file.size(), 288u);
    EXPECT_TRUE(std::equal(records.begin(), records.end(), file.begin()));
    hash = Sha("dstu", file.data(), 256);
    EXPECT_TRUE(std::equal(hash.begin(), hash.end(), file.begin() + 256));

    ASSERT_EQ(parameters_.SaveCheckedSBox(Path("cs").c_str(), &sBox_), 1);
    file = Read(Path("cs"));
    ASSERT_EQ(file.size(), 96u);
    EXPECT_TRUE(std::equal(sBoxBytes, sBoxBytes + 64, file.begin()));
    hash = Sha("gost", file.data(), 64);
    EXPECT_TRUE(std::equal(hash.begin(), hash.end(), file.begin() + 64));

    // A protected file keeps its tail length and MAC at 328 and 332.
    ASSERT_EQ(parameters_.SaveProtectedParameters(Path("pp").c_str(), &field_, &point_, &sBox_), 1);
    file = Read(Path("pp"));
    ASSERT_EQ(file.size(), 336u);
    for (std::size_t at : {std::size_t{328}, std::size_t{332}}) {
        Bytes bad = file;
        bad[at] ^= 0x01;
        Write(Path("pp"), bad);
        DSTU4145FieldRecord f;
        DSTU4145PointRecord p;
        EXPECT_EQ(parameters_.LoadProtectedParameters(Path("pp").c_str(), &f, &p, nullptr), 0) << at;
    }
}

TEST_F(ParameterFiles, PasswordEnvelopesRoundTripAndRefuseDamage)
{
    provider_.keepsPassword = true;
    provider_.password = "secret";
    for (const Form& form : kForms) CheckForm(form, form.envelopeSize);

    // The same files do not open under another password, nor without one.
    provider_.password = "other";
    for (const Form& form : kForms) {
        bool same = false;
        EXPECT_EQ(form.load(*this, Path(form.name), &same), 0) << form.name;
    }
    provider_.keepsPassword = false;
    for (const Form& form : kForms) {
        bool same = false;
        EXPECT_EQ(form.load(*this, Path(form.name), &same), 0) << form.name;
    }
}

TEST_F(ParameterFiles, EnvelopeNeedsFeatureAndNonEmptyPassword)
{
    provider_.keepsPassword = true;
    provider_.password = "";
    ASSERT_EQ(parameters_.SaveProtectedSBox(Path("a").c_str(), &sBox_), 1);
    EXPECT_EQ(SizeOf(Path("a")), 80);
    provider_.password = "secret";
    provider_.features.erase(12);
    ASSERT_EQ(parameters_.SaveHashedParameters(Path("b").c_str(), &field_, &point_), 1);
    EXPECT_EQ(SizeOf(Path("b")), 288);
    // Feature 12 without 23: GOST envelopes only.
    provider_.features = {12, 16};
    ASSERT_EQ(parameters_.SaveCheckedSBox(Path("c").c_str(), &sBox_), 1);
    EXPECT_EQ(SizeOf(Path("c")), 112);
    ASSERT_EQ(parameters_.SaveHashedParameters(Path("d").c_str(), &field_, &point_), 1);
    EXPECT_EQ(SizeOf(Path("d")), 288);
    EXPECT_EQ(parameters_.SaveProtectedDSTUSBoxes(Path("e").c_str(), DSTUDefaultSBoxes), 0);
    EXPECT_EQ(SizeOf(Path("e")), -1);
    provider_.features.erase(16);
    EXPECT_EQ(parameters_.SaveHashedParameters(Path("f").c_str(), &field_, &point_), 0);
    EXPECT_EQ(SizeOf(Path("f")), -1);
}

TEST_F(ParameterFiles, PlainSizeIsTriedFirst)
{
    // 96 bytes: a checked S-box, and also the envelope size of a protected one.
    provider_.keepsPassword = true;
    provider_.password = "secret";
    ASSERT_EQ(parameters_.SaveProtectedSBox(Path("p").c_str(), &sBox_), 1);
    ASSERT_EQ(SizeOf(Path("p")), 96);
    GOST28147PackedSBox out = {};
    EXPECT_EQ(parameters_.LoadProtectedSBox(Path("p").c_str(), &out), 1);
    EXPECT_TRUE(Same(out, sBox_));
    EXPECT_EQ(parameters_.LoadCheckedSBox(Path("p").c_str(), &out), 0);
}

TEST_F(ParameterFiles, NoProviderNoFiles)
{
    CSPParameters bare;
    GOST28147PackedSBox s = sBox_;
    DSTU4145FieldRecord f = field_;
    DSTU4145PointRecord p = point_;
    std::uint8_t set[1024];
    std::uint32_t length = 0;
    std::string path = Path("none");
    EXPECT_EQ(bare.SaveProtectedSBox(path.c_str(), &s), 0);
    EXPECT_EQ(bare.SaveCheckedSBox(path.c_str(), &s), 0);
    EXPECT_EQ(bare.SaveProtectedParameters(path.c_str(), &f, &p, &s), 0);
    EXPECT_EQ(bare.SaveCheckedParameters(path.c_str(), &f, &p, &s), 0);
    EXPECT_EQ(bare.SaveHashedParameters(path.c_str(), &f, &p), 0);
    EXPECT_EQ(bare.SaveProtectedDSTUSBoxes(path.c_str(), DSTUDefaultSBoxes), 0);
    EXPECT_EQ(bare.SaveHashedFile(path.c_str(), set, 10), 0);
    EXPECT_EQ(SizeOf(path), -1);
    ASSERT_EQ(parameters_.SaveProtectedSBox(path.c_str(), &s), 1);
    EXPECT_EQ(bare.LoadProtectedSBox(path.c_str(), &s), 0);
    EXPECT_EQ(bare.LoadCheckedParameters(path.c_str(), &f, &p, &s), 0);
    EXPECT_EQ(bare.LoadProtectedDSTUSBoxes(path.c_str(), set), 0);
    EXPECT_EQ(bare.LoadHashedFile(path.c_str(), nullptr, &length), 0);
    std::memset(set, 0x33, sizeof set);
    EXPECT_EQ(bare.LoadDSTUSBoxes(path.c_str(), set), 0);
    EXPECT_EQ(set[0], 0);  // zeroed first
}

TEST_F(ParameterFiles, DSTUSBoxSetsAreValidated)
{
    std::uint8_t bad[1024];
    std::memcpy(bad, DSTUDefaultSBoxes, sizeof bad);
    bad[700] = bad[701];
    EXPECT_EQ(parameters_.SaveProtectedDSTUSBoxes(Path("bad").c_str(), bad), 0);
    EXPECT_EQ(SizeOf(Path("bad")), -1);

    // A well-protected file whose contents repeat a byte value is refused too.
    std::uint8_t file[1089];
    const std::uint8_t key[32] = {};
    ASSERT_EQ(provider_.EncryptWithPasswordDSTU7624Ex(bad, 1024, file, sizeof file, nullptr, nullptr, key, 32, nullptr,
                                                      32, 32),
              0);
    Write(Path("bad"), Bytes(file, file + sizeof file));
    std::uint8_t out[1024] = {};
    EXPECT_EQ(parameters_.LoadProtectedDSTUSBoxes(Path("bad").c_str(), out), 0);
}

TEST_F(ParameterFiles, DSTUSBoxesWithCRC)
{
    // The stand-in's CRC is CRC-32: check value of "123456789".
    const char* check = "123456789";
    ASSERT_EQ(provider_.CRC32Count(reinterpret_cast<const std::uint8_t*>(check), 9), 0xCBF43926u);

    Bytes file(2052);
    std::memcpy(file.data(), DSTUDefaultSBoxes, 1024);
    for (int i = 0; i < 1024; ++i) file[1024 + i] = static_cast<std::uint8_t>(i * 7);
    std::uint32_t crc = provider_.CRC32Count(file.data(), 2048);
    for (int b = 0; b < 4; ++b) file[2048 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    Write(Path("crc"), file);
    std::uint8_t out[1024] = {};
    ASSERT_EQ(parameters_.LoadDSTUSBoxes(Path("crc").c_str(), out), 1);
    EXPECT_EQ(std::memcmp(out, DSTUDefaultSBoxes, 1024), 0);
    EXPECT_EQ(parameters_.LoadDSTUSBoxesEx(Path("crc").c_str(), out), 1);

    // The second block is covered by the CRC.
    Bytes damaged = file;
    damaged[1500] ^= 1;
    Write(Path("crc"), damaged);
    EXPECT_EQ(parameters_.LoadDSTUSBoxes(Path("crc").c_str(), out), 0);
    EXPECT_EQ(out[0], 0);
    damaged.push_back(0);
    Write(Path("crc"), damaged);
    EXPECT_EQ(parameters_.LoadDSTUSBoxes(Path("crc").c_str(), out), 0);
}

TEST_F(ParameterFiles, HashedDataFiles)
{
    // b = 40 bits: payload of 3 * 5 + 32 = 47 bytes whose first word is b.
    Bytes payload(47);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i * 13 + 1);
    payload[0] = 40;
    payload[1] = payload[2] = payload[3] = 0;
    for (bool password : {false, true}) {
        SCOPED_TRACE(password ? "enveloped" : "plain");
        provider_.keepsPassword = password;
        provider_.password = "secret";
        std::string path = Path(password ? "hashed_env" : "hashed");
        ASSERT_EQ(parameters_.SaveHashedFile(path.c_str(), payload.data(), static_cast<int>(payload.size())), 1);
        EXPECT_EQ(SizeOf(path), password ? 32 * 3 + 65 : 47 + 32);
        std::uint32_t length = 0;
        ASSERT_EQ(parameters_.LoadHashedFile(path.c_str(), nullptr, &length), 1);
        EXPECT_EQ(length, 47u);
        Bytes out(47);
        length = 46;
        EXPECT_EQ(parameters_.LoadHashedFile(path.c_str(), out.data(), &length), 0);
        length = 47;
        ASSERT_EQ(parameters_.LoadHashedFile(path.c_str(), out.data(), &length), 1);
        EXPECT_EQ(out, payload);
        Bytes damaged = Read(path);
        damaged[10] ^= 4;
        Write(path, damaged);
        EXPECT_EQ(parameters_.LoadHashedFile(path.c_str(), nullptr, &length), 0);
    }
    provider_.keepsPassword = false;
    // A payload whose first word does not give its length is refused.
    Bytes wrong = payload;
    wrong[0] = 48;
    ASSERT_EQ(parameters_.SaveHashedFile(Path("w").c_str(), wrong.data(), static_cast<int>(wrong.size())), 1);
    std::uint32_t length = 0;
    EXPECT_EQ(parameters_.LoadHashedFile(Path("w").c_str(), nullptr, &length), 0);
    // Feature 24 is required for reading.
    provider_.features.erase(24);
    ASSERT_EQ(parameters_.SaveHashedFile(Path("x").c_str(), payload.data(), 47), 1);
    EXPECT_EQ(parameters_.LoadHashedFile(Path("x").c_str(), nullptr, &length), 0);
}

// Without DSTU 7624 password encryption (feature 23) no DSTU envelope is
// made, and a hashed file written plain under a kept password reads back.
TEST_F(ParameterFiles, HashedDataFileWithoutDSTUEnvelopeReadsBackPlain)
{
    Bytes payload(3 + 32, 0x5C);  // b = 8 bits: 3 + 32 bytes
    payload[0] = 8;
    payload[1] = payload[2] = payload[3] = 0;
    provider_.keepsPassword = true;
    provider_.password = "secret";
    provider_.features = {12, 16, 24};
    ASSERT_EQ(parameters_.SaveHashedFile(Path("h").c_str(), payload.data(), 35), 1);
    EXPECT_EQ(SizeOf(Path("h")), 35 + 32);
    Bytes out(35);
    std::uint32_t length = 35;
    ASSERT_EQ(parameters_.LoadHashedFile(Path("h").c_str(), out.data(), &length), 1);
    EXPECT_EQ(out, payload);
}

TEST_F(ParameterFiles, HashedDataFileOverLimitIsRefusedBeforeReading)
{
    // b chosen so that the file is 4,160 bytes: beyond the 4,096-byte buffer.
    std::uint32_t b = 8 * 1355;  // 3 * 1355 + 32 = 4,097 payload bytes
    Bytes payload(3 * 1355 + 32, 0x41);
    std::memcpy(payload.data(), &b, 4);
    ASSERT_EQ(parameters_.SaveHashedFile(Path("big").c_str(), payload.data(), static_cast<int>(payload.size())), 1);
    ASSERT_GT(SizeOf(Path("big")), 4096);
    int callsBefore = provider_.cryptoCalls;
    std::uint32_t length = 0;
    EXPECT_EQ(parameters_.LoadHashedFile(Path("big").c_str(), nullptr, &length), 0);
    EXPECT_EQ(provider_.cryptoCalls, callsBefore);
}

TEST_F(ParameterFiles, BinarySBoxFile)
{
    GOST28147PackedSBox standard;
    parameters_.GetStandardSBox(0, &standard);
    ASSERT_EQ(parameters_.SaveSBoxFile(Path("sbox").c_str(), &standard), 1);
    Bytes file = Read(Path("sbox"));
    ASSERT_EQ(file.size(), 64u);
    // Packed bytes 0x8A, 0x09: low nibbles A|9, high nibbles 8|0.
    EXPECT_EQ(file[0], 0xA9);
    EXPECT_EQ(file[8], 0x80);
    GOST28147PackedSBox back = {};
    ASSERT_EQ(parameters_.LoadSBoxFile(Path("sbox").c_str(), &back), 1);
    EXPECT_TRUE(Same(back, standard));
    // Works without a provider.
    CSPParameters bare;
    EXPECT_EQ(bare.LoadSBoxFile(Path("sbox").c_str(), &back), 1);
    for (std::size_t size : {63u, 65u}) {
        Bytes other(size, 0x11);
        Write(Path("sbox"), other);
        std::memset(&back, 0x55, sizeof back);
        EXPECT_EQ(parameters_.LoadSBoxFile(Path("sbox").c_str(), &back), 0) << size;
        EXPECT_EQ(back.rows[0][0], 0);
    }
}

TEST_F(ParameterFiles, TextParameterFile)
{
    const std::string curve = "DSTU4145\n"
                              "m 163\n"
                              "a 1\n"
                              "b C1455D21 5E638A19 0AB40392 2A2DC821 FF610846 5\n"
                              "k 7\nj 6\nl 3\nh 2\n"
                              "p F35823BE 29DAF8A3 A5C42372 D74CE983 E2F85F5D 2\n"
                              "n 39BCF14D 2BE2262D 0002BEC1 0 0 4\n";
    GOST28147PackedSBox standard;
    parameters_.GetStandardSBox(0, &standard);
    std::string sbox = "SBOX\n";
    for (int g = 0; g < 4; ++g)
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 16; ++i) {
                char v[4];
                std::snprintf(v, sizeof v, "%X ", (half ? standard.rows[g][i] >> 4 : standard.rows[g][i]) & 0xF);
                sbox += v;
            }
            sbox += "\n";
        }
    Write(Path("params.txt"), curve + sbox);
    DSTU4145FieldRecord f;
    DSTU4145PointRecord p;
    GOST28147PackedSBox s;
    ASSERT_EQ(parameters_.LoadParametersText(Path("params.txt").c_str(), &f, &p, &s), 1);
    DSTU4145FieldRecord expectedField;
    DSTU4145PointRecord expectedPoint;
    parameters_.GetStandardCurve(1, 0, &expectedField, &expectedPoint);
    EXPECT_TRUE(Same(f, expectedField));
    expectedPoint.words[38] = 0;  // not in the text form
    EXPECT_TRUE(Same(p, expectedPoint));
    EXPECT_TRUE(Same(s, standard));
    ASSERT_EQ(parameters_.LoadParametersTextEx(Path("params.txt").c_str(), &f, &p, &s), 1);
    EXPECT_TRUE(Same(f, expectedField));

    Write(Path("sbox.txt"), sbox);
    GOST28147PackedSBox alone = {};
    ASSERT_EQ(parameters_.LoadSBoxText(Path("sbox.txt").c_str(), &alone), 1);
    EXPECT_TRUE(Same(alone, standard));

    // Broken files are refused with zeroed outputs.
    std::string noNumber = curve;
    noNumber.replace(noNumber.find("2BE2262D"), 8, "xyz");
    const std::string broken[] = {
        curve.substr(0, curve.find("p F35")),                // curve section ends early
        curve.substr(0, curve.find("n 39")) + "n 39BCF14D",  // n cut short
        "DSTU4145\nm 609\na 1\n",                            // m above 608
        "DSTU4145\nm 0\na 1\n",
        noNumber + sbox,
        curve + sbox.substr(0, sbox.size() / 2),         // S-box section ends early
        curve + "SBOX " + std::string(300, '7') + "\n",  // a value far too long
        "",
    };
    for (const std::string& text : broken) {
        Write(Path("broken.txt"), text);
        std::memset(&f, 0x5A, sizeof f);
        std::memset(&p, 0x5A, sizeof p);
        std::memset(&s, 0x5A, sizeof s);
        EXPECT_EQ(parameters_.LoadParametersText(Path("broken.txt").c_str(), &f, &p, &s), 0) << text;
        EXPECT_EQ(f.words[20], 0u);
        EXPECT_EQ(p.words[0], 0u);
        EXPECT_EQ(s.rows[0][0], 0u);
    }
    Write(Path("broken.txt"), sbox.substr(0, 40));
    EXPECT_EQ(parameters_.LoadSBoxText(Path("broken.txt").c_str(), &alone), 0);
    EXPECT_EQ(parameters_.LoadParametersText(Path("missing.txt").c_str(), &f, &p, &s), 0);
}

// Files damaged by other programs: random contents of every fixed size (and
// one byte either side), every truncation of a good file, and text files made
// of random tokens. Each load refuses, without a crash.
TEST_F(ParameterFiles, RandomAndTruncatedFilesAreRefused)
{
    std::mt19937 rng(20240611);
    for (const Form& form : kForms) {
        SCOPED_TRACE(form.name);
        const std::string path = Path(form.name);
        ASSERT_EQ(form.save(*this, path), 1);
        const Bytes good = Read(path);
        bool same = false;
        for (std::size_t length = 0; length < good.size(); ++length) {
            Write(path, Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)));
            ASSERT_EQ(form.load(*this, path, &same), 0) << "cut to " << length;
        }
        for (long size : {form.plainSize, form.envelopeSize}) {
            if (size <= 0) continue;
            for (long length : {size - 1, size, size + 1})
                for (int round = 0; round < 8; ++round) {
                    Bytes random(static_cast<std::size_t>(length));
                    for (auto& b : random) b = static_cast<std::uint8_t>(rng());
                    Write(path, random);
                    ASSERT_EQ(form.load(*this, path, &same), 0) << "random, " << length << " bytes";
                }
        }
    }

    // Text forms: a failed load leaves zeroed outputs, never half a record.
    const char* kTokens[] = {"DSTU4145", "SBOX", "m",        "a",         "b",
                             "k",        "j",    "l",        "h",         "p",
                             "n",        "163",  "FFFFFFFF", "100000000", "-1",
                             "0x10",     "Z",    "",         "\t",        "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0"};
    const std::size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const unsigned tokens = rng() % 200;
        for (unsigned t = 0; t < tokens; ++t) {
            if (rng() % 8 == 0) {
                char hex[12];
                std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(rng()));
                text += hex;
            } else {
                text += kTokens[rng() % kTokenCount];
            }
            text += rng() % 5 == 0 ? "\n" : " ";
        }
        Write(Path("random.txt"), text);
        DSTU4145FieldRecord f;
        DSTU4145PointRecord p;
        GOST28147PackedSBox s;
        std::memset(&f, 0xCC, sizeof f);
        std::memset(&p, 0xCC, sizeof p);
        std::memset(&s, 0xCC, sizeof s);
        const auto zeroed = [](const void* data, std::size_t length) {
            const auto* b = static_cast<const std::uint8_t*>(data);
            return std::all_of(b, b + length, [](std::uint8_t v) { return v == 0; });
        };
        if (parameters_.LoadParametersText(Path("random.txt").c_str(), &f, &p, &s) == 0) {
            EXPECT_TRUE(zeroed(&f, sizeof f) && zeroed(&p, sizeof p) && zeroed(&s, sizeof s)) << text;
        }
        if (parameters_.LoadParametersTextEx(Path("random.txt").c_str(), &f, &p, &s) == 0) {
            EXPECT_TRUE(zeroed(&f, sizeof f) && zeroed(&p, sizeof p) && zeroed(&s, sizeof s)) << text;
        }
        std::memset(&s, 0xCC, sizeof s);
        if (parameters_.LoadSBoxText(Path("random.txt").c_str(), &s) == 0) {
            EXPECT_TRUE(zeroed(&s, sizeof s)) << text;
        }
    }
}
