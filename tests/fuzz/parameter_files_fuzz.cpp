// The parameter-file readers over any file contents: text curve and S-box
// files, binary S-box files, protected and checked S-box and curve files (in
// and out of a password envelope), DSTU 7624 S-box sets and hashed data
// files. The provider here lets every protection check pass and leaves the
// bytes as they are, so the fuzzer reaches what the readers do with the
// contents; a reader answers 1 or 0 and never writes past its outputs.
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "support/CSPParameters.h"

namespace {

using qvkfuzz::Bytes;
using qvkfuzz::Check;

class TransparentProvider : public ICSPParametersProvider {
public:
    int GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, std::uint8_t*,
                                         std::uint8_t*) override
    {
        return 0;  // every feature is there
    }
    const char* GetStoredString() override { return "fuzz-password"; }
    int ProtectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                             std::uint32_t* mac, std::uint8_t*, std::uint32_t* tailLength, const char*,
                             const std::uint8_t*) override
    {
        *mac = 0x12345678u;
        *tailLength = 0;
        return 0;
    }
    int UnprotectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                               std::uint32_t, const std::uint8_t*, std::uint32_t, const char*,
                               const std::uint8_t*) override
    {
        return 0;
    }
    int HashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                      std::uint8_t* hash) override
    {
        std::memset(hash, 0x33, 32);
        return 0;
    }
    int CompareHashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                             const std::uint8_t*) override
    {
        return 0;
    }
    int HashDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t hashLength,
                     std::uint8_t* hash) override
    {
        std::memset(hash, 0x44, hashLength);
        return 0;
    }
    int CompareHashDSTU7564(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                            const std::uint8_t*) override
    {
        return 0;
    }
    // The envelope: 32 bytes of IV, the data, 32 bytes of MAC, a flag byte.
    int EncryptWithPasswordDSTU7624Ex(const std::uint8_t* data, std::uint32_t length, std::uint8_t* output,
                                      std::uint32_t outputSize, const std::uint8_t*, const char*, const std::uint8_t*,
                                      std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint32_t) override
    {
        if (outputSize < length + 65) return 3;
        std::memset(output, 0, outputSize);
        std::memcpy(output + 32, data, length);
        return 0;
    }
    int DecryptWithPasswordDSTU7624Ex(std::uint8_t* buffer, std::uint32_t size, std::uint8_t** data,
                                      std::uint32_t* length, const std::uint8_t*, const char*, const std::uint8_t*,
                                      std::uint32_t) override
    {
        if (size < 65) return 3;
        *data = buffer + 32;
        *length = size - 65;
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

// Outputs with guard bytes behind them.
template <typename T>
struct Guarded {
    T value;
    std::uint8_t guard[64];
    Guarded()
    {
        std::memset(&value, 0xCC, sizeof value);
        std::memset(guard, 0xA5, sizeof guard);
    }
    bool Intact() const
    {
        for (std::uint8_t b : guard)
            if (b != 0xA5) return false;
        return true;
    }
};

constexpr int kReaders = 14;

// Runs reader `which` on the file; its result.
int Read(CSPParameters& p, int which, const char* path)
{
    Guarded<DSTU4145FieldRecord> field;
    Guarded<DSTU4145PointRecord> point;
    Guarded<GOST28147PackedSBox> sBox;
    Guarded<std::uint8_t[CSP_DSTU_SBOX_SET_BYTES]> sets;
    Guarded<std::uint8_t[65536]> hashed;
    int r = -1;
    switch (which) {
    case 0:
        r = p.LoadSBoxText(path, &sBox.value);
        break;
    case 1:
        r = p.LoadParametersText(path, &field.value, &point.value, &sBox.value);
        break;
    case 2:
        r = p.LoadParametersTextEx(path, &field.value, &point.value, &sBox.value);
        break;
    case 3:
        r = p.LoadProtectedSBox(path, &sBox.value);
        break;
    case 4:
        r = p.LoadCheckedSBox(path, &sBox.value);
        break;
    case 5:
        r = p.LoadCheckedParameters(path, &field.value, &point.value, &sBox.value);
        break;
    case 6:
        r = p.LoadProtectedParameters(path, &field.value, &point.value, &sBox.value);
        break;
    case 7:
        r = p.LoadSBoxFile(path, &sBox.value);
        break;
    case 8:
        r = p.LoadProtectedDSTUSBoxes(path, sets.value);
        break;
    case 9:
        r = p.LoadDSTUSBoxes(path, sets.value);
        break;
    case 10:
        r = p.LoadDSTUSBoxesEx(path, sets.value);
        break;
    case 11: {
        std::uint32_t length = 0;
        r = p.LoadHashedFile(path, nullptr, &length);
        if (r == 1) Check(length <= sizeof hashed.value, "hashed file length within the largest payload");
        break;
    }
    case 12: {
        std::uint32_t length = sizeof hashed.value;
        r = p.LoadHashedFile(path, hashed.value, &length);
        break;
    }
    default: {
        CSPParameters bare;  // no provider: the plain forms only
        r = bare.LoadSBoxFile(path, &sBox.value) | bare.LoadSBoxText(path, &sBox.value);
        break;
    }
    }
    Check(r == 0 || r == 1, "reader result 0 or 1");
    Check(field.Intact() && point.Intact() && sBox.Intact() && sets.Intact() && hashed.Intact(),
          "reader stays inside its outputs");
    return r;
}

TransparentProvider g_provider;

void WriteSeeds(const std::string& folder)
{
    CSPParameters p;
    p.SetCSP(&g_provider);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    GOST28147PackedSBox sBox{};
    p.GetStandardCurve(1, 0, &field, &point);
    p.GetStandardSBox(0, &sBox);
    std::uint8_t sets[CSP_DSTU_SBOX_SET_BYTES];
    qvkfuzz::TempFile file;
    // Each file made by the matching writer, behind its reader's number.
    auto seed = [&](int reader, const char* name, bool made) {
        if (!made) return;
        Bytes bytes = file.Read();
        bytes.insert(bytes.begin(), static_cast<std::uint8_t>(reader));
        qvkfuzz::WriteSeed(folder, name, bytes);
    };
    seed(3, "protected-sbox", p.SaveProtectedSBox(file.Path(), &sBox) == 1);
    seed(4, "checked-sbox", p.SaveCheckedSBox(file.Path(), &sBox) == 1);
    seed(5, "checked-parameters", p.SaveCheckedParameters(file.Path(), &field, &point, &sBox) == 1);
    seed(6, "protected-parameters", p.SaveProtectedParameters(file.Path(), &field, &point, &sBox) == 1);
    seed(7, "sbox-file", p.SaveSBoxFile(file.Path(), &sBox) == 1);
    seed(12, "hashed-parameters", p.SaveHashedParameters(file.Path(), &field, &point) == 1);
    const std::uint8_t payload[] = "a hashed data file";
    seed(12, "hashed-file", p.SaveHashedFile(file.Path(), payload, sizeof payload) == 1);
    // The default DSTU 7624 S-box set, written in both set forms.
    std::memset(sets, 0, sizeof sets);
    for (int t = 0; t < 4; ++t)
        for (int i = 0; i < 256; ++i) sets[t * 256 + i] = static_cast<std::uint8_t>(i);
    seed(8, "protected-dstu-sboxes", p.SaveProtectedDSTUSBoxes(file.Path(), sets) == 1);
    seed(10, "protected-dstu-sboxes-ex", p.SaveProtectedDSTUSBoxesEx(file.Path(), sets) == 1);
    // The text forms: curve 163 of the standard and the default S-box.
    std::string text = "DSTU4145\nm 163\na 1\nb C1455D21 5E638A19 0AB40392 2A2DC821 FF610846 5\n"
                       "k 7\nj 6\nl 3\nh 2\np F35823BE 29DAF8A3 A5C42372 D74CE983 E2F85F5D 2\n"
                       "n 39BCF14D 2BE2262D 0002BEC1 0 0 4\n";
    std::string sboxText = "SBOX\n";
    for (int g = 0; g < 4; ++g)
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 16; ++i) {
                char v[4];
                std::snprintf(v, sizeof v, "%X ", (half ? sBox.rows[g][i] >> 4 : sBox.rows[g][i]) & 0xF);
                sboxText += v;
            }
            sboxText += "\n";
        }
    const std::string both = text + sboxText;
    Bytes t1(1, 1), t0(1, 0);
    t1.insert(t1.end(), both.begin(), both.end());
    t0.insert(t0.end(), sboxText.begin(), sboxText.end());
    qvkfuzz::WriteSeed(folder, "text-parameters", t1);
    qvkfuzz::WriteSeed(folder, "text-sbox", t0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvkfuzz::WriteSeedsWhenAsked(WriteSeeds);
    return 0;
}

// First byte: which reader; the rest: the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    static qvkfuzz::TempFile file;
    Check(file.Write(data + 1, size - 1), "temporary file written");
    CSPParameters p;
    p.SetCSP(&g_provider);
    Read(p, data[0] % kReaders, file.Path());
    return 0;
}
