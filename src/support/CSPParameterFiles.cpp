// Parameter files of CSPParameters: text files, the 64-byte binary S-box, and
// the binary files of fixed sizes that the owning provider protects or checks.
#include "support/CSPParameters.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <string.h>
#include <vector>

#include "crypto/ByteOrder.h"
#include "support/CSPStandardTables.h"
#include "wemu.h"

namespace {

using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

constexpr std::uint32_t kFeatureEnvelope = 12;
constexpr std::uint32_t kFeatureDSTU7564Files = 16;
constexpr std::uint32_t kFeatureDSTU7624Password = 23;
constexpr std::uint32_t kFeatureHashedFiles = 24;

constexpr std::uint32_t kSBoxBytes = sizeof(GOST28147PackedSBox);
constexpr std::uint32_t kFieldBytes = sizeof(DSTU4145FieldRecord);
constexpr std::uint32_t kPointBytes = sizeof(DSTU4145PointRecord);
constexpr std::uint32_t kRecordsBytes = kFieldBytes + kPointBytes;      // 256
constexpr std::uint32_t kParametersBytes = kRecordsBytes + kSBoxBytes;  // 320
constexpr std::uint32_t kHashBytes = 32;
constexpr std::uint32_t kProtectedTailBytes = 16;                                           // tail, tail length, MAC
constexpr std::uint32_t kProtectedSBoxFile = kSBoxBytes + kProtectedTailBytes;              // 80
constexpr std::uint32_t kCheckedSBoxFile = kSBoxBytes + kHashBytes;                         // 96
constexpr std::uint32_t kProtectedParametersFile = kParametersBytes + kProtectedTailBytes;  // 336
constexpr std::uint32_t kCheckedParametersFile = kParametersBytes + kHashBytes;             // 352
constexpr std::uint32_t kHashedParametersFile = kRecordsBytes + kHashBytes;                 // 288
constexpr std::uint32_t kDSTUSetBytes = CSP_DSTU_SBOX_SET_BYTES;
constexpr std::uint32_t kProtectedDSTUSetFile = kDSTUSetBytes + 65;  // 1,089
constexpr std::uint32_t kCRCDSTUSetFile = 2 * kDSTUSetBytes + 4;     // 2,052
constexpr std::uint32_t kHashedFileLimit = 4096;
constexpr std::uint32_t kDSTUKeyBytes = 32;
constexpr std::uint32_t kMaxFieldDegree = 32 * DSTU4145_NUMBER_WORDS;  // 608

// Fixed keys of the protected files; every build that is to read another's
// files must carry the same values.
const std::uint8_t kProtectedFileKey[32] = {0x51, 0x76, 0x6B, 0x37, 0x51, 0x2D, 0x50, 0x61, 0x72, 0x61, 0x6D,
                                            0x65, 0x74, 0x65, 0x72, 0x73, 0x2D, 0x47, 0x4F, 0x53, 0x54, 0x32,
                                            0x38, 0x31, 0x34, 0x37, 0x2D, 0x4B, 0x65, 0x79, 0x2D, 0x31};
const std::uint8_t kDSTUSBoxFileKey[32] = {0x51, 0x76, 0x6B, 0x37, 0x51, 0x2D, 0x44, 0x53, 0x54, 0x55, 0x2D,
                                           0x53, 0x2D, 0x62, 0x6F, 0x78, 0x65, 0x73, 0x2D, 0x44, 0x53, 0x54,
                                           0x55, 0x37, 0x36, 0x32, 0x34, 0x2D, 0x4B, 0x65, 0x79, 0x31};
const std::uint8_t kZeroStartVector[32] = {};

// A byte buffer that is wiped before it is released.
class SecretBuffer {
public:
    explicit SecretBuffer(std::size_t size) : bytes_(size, 0) {}
    ~SecretBuffer() { Wipe(); }
    SecretBuffer(const SecretBuffer&) = delete;
    SecretBuffer& operator=(const SecretBuffer&) = delete;
    std::uint8_t* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    void Wipe()
    {
        if (!bytes_.empty()) explicit_bzero(bytes_.data(), bytes_.size());
    }

private:
    std::vector<std::uint8_t> bytes_;
};

void StoreWords(std::uint8_t* out, const std::uint32_t* words, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) StoreLE32(out + 4 * i, words[i]);
}

void LoadWords(std::uint32_t* words, const std::uint8_t* in, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) words[i] = LoadLE32(in + 4 * i);
}

void StoreRecords(std::uint8_t* out, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point)
{
    StoreWords(out, field->words, DSTU4145_FIELD_WORDS);
    StoreWords(out + kFieldBytes, point->words, DSTU4145_POINT_WORDS);
}

void LoadRecords(const std::uint8_t* in, DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    LoadWords(field->words, in, DSTU4145_FIELD_WORDS);
    LoadWords(point->words, in + kFieldBytes, DSTU4145_POINT_WORDS);
}

std::uint32_t DSTUEnvelopeSize(std::uint32_t contents)
{
    return (contents + 31) / 32 * 32 + 65;
}

// Whole-file access through the Win32 layer.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    ~FileHandle()
    {
        if (ok()) CloseHandle(h_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    HANDLE get() const { return h_; }
    void Close()
    {
        if (ok()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE h_;
};

HANDLE OpenForReading(const char* path)
{
    return CreateFile(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING_FILE, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ReadAll(HANDLE h, std::uint8_t* out, std::uint32_t size)
{
    DWORD done = 0;
    return ReadFile(h, out, size, &done, nullptr) != 0 && done == size;
}

// The file must hold exactly `size` bytes.
bool ReadExact(const char* path, std::uint8_t* out, std::uint32_t size)
{
    FileHandle file(OpenForReading(path));
    if (!file.ok()) return false;
    DWORD actual = GetFileSize(file.get(), nullptr);
    if (actual == INVALID_FILE_SIZE || actual != size) return false;
    return ReadAll(file.get(), out, size);
}

struct Block {
    const std::uint8_t* data;
    std::uint32_t size;
};

// Writes the blocks one after another; a short write deletes the file.
bool WriteBlocks(const char* path, std::initializer_list<Block> blocks)
{
    FileHandle file(
        CreateFile(path, GENERIC_WRITE, 0, nullptr, CREATE_OR_TRUNCATE_FILE, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.ok()) return false;
    for (const Block& block : blocks) {
        DWORD done = 0;
        if (WriteFile(file.get(), block.data, block.size, &done, nullptr) == 0 || done != block.size) {
            file.Close();
            DeleteFile(path);
            return false;
        }
    }
    return true;
}

bool FeatureAvailable(ICSPParametersProvider* csp, std::uint32_t feature)
{
    DSTU4145FieldRecord field = {};
    DSTU4145PointRecord point = {};
    point.words[DSTU4145_POINT_BITS] = feature;
    return csp->GenerateSignatureKeyPairDSTU4145(&field, &point, nullptr, nullptr) == 0;
}

// The password kept by the provider, when an envelope may be used.
const char* EnvelopePassword(ICSPParametersProvider* csp)
{
    if (!FeatureAvailable(csp, kFeatureEnvelope)) return nullptr;
    const char* password = csp->GetStoredString();
    if (password == nullptr || password[0] == '\0') return nullptr;
    return password;
}

const char* DSTUEnvelopePassword(ICSPParametersProvider* csp)
{
    const char* password = EnvelopePassword(csp);
    if (password == nullptr || !FeatureAvailable(csp, kFeatureDSTU7624Password)) return nullptr;
    return password;
}

// Reads `size` bytes of contents kept in a GOST envelope under the password.
bool ReadGOSTEnvelope(ICSPParametersProvider* csp, const char* path, std::uint8_t* contents, std::uint32_t size)
{
    const char* password = EnvelopePassword(csp);
    if (password == nullptr) return false;
    SecretBuffer file(size + kProtectedTailBytes);
    if (!ReadExact(path, file.data(), size + kProtectedTailBytes)) return false;
    const std::uint8_t* tail = file.data() + size;
    std::uint32_t tailLength = LoadLE32(file.data() + size + 8);
    std::uint32_t mac = LoadLE32(file.data() + size + 12);
    if (csp->UnprotectDataGOST28147(file.data(), size, &CSPDefaultSBox(), kZeroStartVector, mac, tail, tailLength,
                                    password, nullptr) != 0)
        return false;
    std::memcpy(contents, file.data(), size);
    return true;
}

bool WriteGOSTEnvelope(ICSPParametersProvider* csp, const char* password, const char* path,
                       const std::uint8_t* contents, std::uint32_t size)
{
    SecretBuffer copy(size);
    std::memcpy(copy.data(), contents, size);
    std::uint8_t tail[8] = {};
    std::uint32_t tailLength = 0;
    std::uint32_t mac = 0;
    if (csp->ProtectDataGOST28147(copy.data(), size, &CSPDefaultSBox(), kZeroStartVector, &mac, tail, &tailLength,
                                  password, nullptr) != 0)
        return false;
    std::uint8_t tailLengthBytes[4];
    std::uint8_t macBytes[4];
    StoreLE32(tailLengthBytes, tailLength);
    StoreLE32(macBytes, mac);
    return WriteBlocks(path, {{copy.data(), size}, {tail, 8}, {tailLengthBytes, 4}, {macBytes, 4}});
}

// Reads `size` bytes of contents kept in a DSTU envelope under the password.
bool ReadDSTUEnvelope(ICSPParametersProvider* csp, const char* path, std::uint8_t* contents, std::uint32_t size)
{
    const char* password = DSTUEnvelopePassword(csp);
    if (password == nullptr) return false;
    std::uint32_t fileSize = DSTUEnvelopeSize(size);
    SecretBuffer file(fileSize);
    if (!ReadExact(path, file.data(), fileSize)) return false;
    std::uint8_t* plain = nullptr;
    std::uint32_t plainLength = 0;
    if (csp->DecryptWithPasswordDSTU7624Ex(file.data(), fileSize, &plain, &plainLength, nullptr, password, nullptr,
                                           0) != 0)
        return false;
    if (plain == nullptr || plainLength != size) return false;
    std::memcpy(contents, plain, size);
    return true;
}

bool WriteDSTUEnvelope(ICSPParametersProvider* csp, const char* password, const char* path,
                       const std::uint8_t* contents, std::uint32_t size)
{
    if (!FeatureAvailable(csp, kFeatureDSTU7624Password)) return false;
    std::uint32_t outSize = DSTUEnvelopeSize(size);
    SecretBuffer out(outSize);
    if (csp->EncryptWithPasswordDSTU7624Ex(contents, size, out.data(), outSize, nullptr, password, nullptr,
                                           kDSTUKeyBytes, nullptr, 32, 32) != 0)
        return false;
    return WriteBlocks(path, {{out.data(), outSize}});
}

// Exact read of `size` bytes, or of the same contents in a GOST envelope.
bool ReadPlainOrGOSTEnvelope(ICSPParametersProvider* csp, const char* path, std::uint8_t* contents, std::uint32_t size)
{
    return ReadExact(path, contents, size) || ReadGOSTEnvelope(csp, path, contents, size);
}

bool WritePlainOrGOSTEnvelope(ICSPParametersProvider* csp, const char* path, const std::uint8_t* contents,
                              std::uint32_t size)
{
    const char* password = EnvelopePassword(csp);
    if (password != nullptr) return WriteGOSTEnvelope(csp, password, path, contents, size);
    return WriteBlocks(path, {{contents, size}});
}

bool WritePlainOrDSTUEnvelope(ICSPParametersProvider* csp, const char* path, const std::uint8_t* contents,
                              std::uint32_t size)
{
    const char* password = DSTUEnvelopePassword(csp);
    if (password != nullptr) return WriteDSTUEnvelope(csp, password, path, contents, size);
    return WriteBlocks(path, {{contents, size}});
}

// Protected contents: `dataSize` bytes, then tail (8), tail length (4), MAC (4).
bool CheckProtected(ICSPParametersProvider* csp, std::uint8_t* contents, std::uint32_t dataSize)
{
    return csp->UnprotectDataGOST28147(contents, dataSize, &CSPDefaultSBox(), kZeroStartVector,
                                       LoadLE32(contents + dataSize + 12), contents + dataSize,
                                       LoadLE32(contents + dataSize + 8), nullptr, kProtectedFileKey) == 0;
}

bool Protect(ICSPParametersProvider* csp, std::uint8_t* contents, std::uint32_t dataSize)
{
    std::uint32_t mac = 0;
    std::uint32_t tailLength = 0;
    if (csp->ProtectDataGOST28147(contents, dataSize, &CSPDefaultSBox(), kZeroStartVector, &mac, contents + dataSize,
                                  &tailLength, nullptr, kProtectedFileKey) != 0)
        return false;
    StoreLE32(contents + dataSize + 8, tailLength);
    StoreLE32(contents + dataSize + 12, mac);
    return true;
}

bool CheckHashed(ICSPParametersProvider* csp, const std::uint8_t* contents, std::uint32_t dataSize)
{
    return csp->CompareHashGOST34311(contents, dataSize, &CSPDefaultSBox(), kZeroStartVector, contents + dataSize) == 0;
}

bool Hash(ICSPParametersProvider* csp, std::uint8_t* contents, std::uint32_t dataSize)
{
    return csp->HashGOST34311(contents, dataSize, &CSPDefaultSBox(), kZeroStartVector, contents + dataSize) == 0;
}

// ---- text files ----

// Reads one whitespace-delimited word; longer words are refused.
bool ReadWord(std::FILE* f, char (&word)[128])
{
    if (std::fscanf(f, "%127s", word) != 1) return false;
    int next = std::fgetc(f);
    if (next != EOF) {
        std::ungetc(next, f);
        if (next > ' ') return false;
    }
    return true;
}

bool ReadDecimal(std::FILE* f, std::int32_t* value)
{
    char word[128];
    if (!ReadWord(f, word)) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(word, &end, 10);
    if (end == word || *end != '\0' || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    *value = static_cast<std::int32_t>(v);
    return true;
}

bool ReadHexWord(std::FILE* f, std::uint32_t* value)
{
    char word[128];
    if (!ReadWord(f, word)) return false;
    if (word[0] == '-' || word[0] == '+') return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(word, &end, 16);
    if (end == word || *end != '\0' || errno != 0 || v > 0xFFFFFFFFull) return false;
    *value = static_cast<std::uint32_t>(v);
    return true;
}

bool SkipLabel(std::FILE* f)
{
    char word[128];
    return ReadWord(f, word);
}

bool ReadSBoxSection(std::FILE* f, GOST28147PackedSBox* sBox)
{
    GOST28147PackedSBox result = {};
    if (!SkipLabel(f)) return false;
    for (int g = 0; g < 4; ++g) {
        for (int half = 0; half < 2; ++half) {
            for (int i = 0; i < 16; ++i) {
                std::uint32_t v = 0;
                if (!ReadHexWord(f, &v)) return false;
                std::uint8_t nibble = static_cast<std::uint8_t>(v & 0x0F);
                result.rows[g][i] |= half == 0 ? nibble : static_cast<std::uint8_t>(nibble << 4);
            }
        }
    }
    *sBox = result;
    return true;
}

bool ReadCurveSection(std::FILE* f, DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    DSTU4145FieldRecord fr = {};
    DSTU4145PointRecord pr = {};
    std::int32_t m = 0;
    std::int32_t a = 0;
    if (!SkipLabel(f)) return false;
    if (!SkipLabel(f) || !ReadDecimal(f, &m)) return false;
    // Each number has at most 19 words.
    if (m < 1 || static_cast<std::uint32_t>(m) > kMaxFieldDegree) return false;
    std::uint32_t w = (static_cast<std::uint32_t>(m) + 31) / 32;
    fr.words[DSTU4145_FIELD_M] = static_cast<std::uint32_t>(m);
    if (!SkipLabel(f) || !ReadDecimal(f, &a)) return false;
    fr.words[DSTU4145_FIELD_A] = static_cast<std::uint32_t>(a);
    if (!SkipLabel(f)) return false;
    for (std::uint32_t i = 0; i < w; ++i)
        if (!ReadHexWord(f, &fr.words[DSTU4145_FIELD_B + i])) return false;
    for (std::size_t word : {DSTU4145_FIELD_K, DSTU4145_FIELD_J, DSTU4145_FIELD_L, DSTU4145_FIELD_COFACTOR}) {
        std::int32_t v = 0;
        if (!SkipLabel(f) || !ReadDecimal(f, &v)) return false;
        fr.words[word] = static_cast<std::uint32_t>(v);
    }
    for (std::size_t base : {DSTU4145_POINT_P, DSTU4145_POINT_N}) {
        if (!SkipLabel(f)) return false;
        for (std::uint32_t i = 0; i < w; ++i)
            if (!ReadHexWord(f, &pr.words[base + i])) return false;
    }
    *field = fr;
    *point = pr;
    return true;
}

struct StdioFile {
    std::FILE* f;
    explicit StdioFile(std::FILE* file) : f(file) {}
    ~StdioFile()
    {
        if (f != nullptr) std::fclose(f);
    }
    StdioFile(const StdioFile&) = delete;
    StdioFile& operator=(const StdioFile&) = delete;
};

int LoadParametersTextFile(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                           GOST28147PackedSBox* sBox)
{
    try {
        if (path == nullptr || field == nullptr || point == nullptr || sBox == nullptr) return 0;
        std::memset(field, 0, sizeof *field);
        std::memset(point, 0, sizeof *point);
        std::memset(sBox, 0, sizeof *sBox);
        StdioFile file(std::fopen(path, "r"));
        if (file.f == nullptr) return 0;
        DSTU4145FieldRecord fr;
        DSTU4145PointRecord pr;
        GOST28147PackedSBox sb;
        if (!ReadCurveSection(file.f, &fr, &pr) || !ReadSBoxSection(file.f, &sb)) return 0;
        *field = fr;
        *point = pr;
        *sBox = sb;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- DSTU S-box sets ----

int Nonlinearity(const std::uint8_t* table)
{
    int worst = 0;
    for (int b = 1; b < 256; ++b) {
        int w[256];
        for (int x = 0; x < 256; ++x) w[x] = __builtin_parity(static_cast<unsigned>(b & table[x])) ? -1 : 1;
        for (int len = 1; len < 256; len <<= 1)
            for (int i = 0; i < 256; i += 2 * len)
                for (int j = i; j < i + len; ++j) {
                    int u = w[j];
                    int v = w[j + len];
                    w[j] = u + v;
                    w[j + len] = u - v;
                }
        for (int x = 0; x < 256; ++x) {
            int a = w[x] < 0 ? -w[x] : w[x];
            if (a > worst) worst = a;
        }
    }
    return 128 - worst / 2;
}

}  // namespace

bool CSPParameters::IsValidDSTUSBoxSet(const std::uint8_t* sBoxes)
{
    if (sBoxes == nullptr) return false;
    for (int t = 0; t < 4; ++t) {
        const std::uint8_t* table = sBoxes + 256 * t;
        bool seen[256] = {};
        for (int x = 0; x < 256; ++x) {
            if (seen[table[x]]) return false;
            seen[table[x]] = true;
        }
        if (Nonlinearity(table) < 100) return false;
    }
    return true;
}

int CSPParameters::LoadSBoxText(const char* path, GOST28147PackedSBox* sBox)
{
    try {
        if (path == nullptr || sBox == nullptr) return 0;
        std::memset(sBox, 0, sizeof *sBox);
        StdioFile file(std::fopen(path, "r"));
        if (file.f == nullptr) return 0;
        GOST28147PackedSBox sb;
        if (!ReadSBoxSection(file.f, &sb)) return 0;
        *sBox = sb;
        return 1;
    } catch (...) {
        return 0;
    }
}

int CSPParameters::LoadParametersText(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      GOST28147PackedSBox* sBox)
{
    return LoadParametersTextFile(path, field, point, sBox);
}

int CSPParameters::LoadParametersTextEx(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                        GOST28147PackedSBox* sBox)
{
    return LoadParametersTextFile(path, field, point, sBox);
}

int CSPParameters::LoadSBoxFile(const char* path, GOST28147PackedSBox* sBox)
{
    try {
        if (path == nullptr || sBox == nullptr) return 0;
        std::memset(sBox, 0, sizeof *sBox);
        StdioFile file(std::fopen(path, "rb"));
        if (file.f == nullptr) return 0;
        if (std::fseek(file.f, 0, SEEK_END) != 0 || std::ftell(file.f) != static_cast<long>(kSBoxBytes) ||
            std::fseek(file.f, 0, SEEK_SET) != 0)
            return 0;
        std::uint8_t bytes[kSBoxBytes];
        if (std::fread(bytes, 1, kSBoxBytes, file.f) != kSBoxBytes) return 0;
        for (int g = 0; g < 4; ++g)
            for (int i = 0; i < 8; ++i) {
                std::uint8_t lows = bytes[16 * g + i];
                std::uint8_t highs = bytes[16 * g + 8 + i];
                sBox->rows[g][2 * i] = static_cast<std::uint8_t>((lows >> 4) | (highs & 0xF0));
                sBox->rows[g][2 * i + 1] = static_cast<std::uint8_t>((lows & 0x0F) | ((highs & 0x0F) << 4));
            }
        return 1;
    } catch (...) {
        return 0;
    }
}

int CSPParameters::SaveSBoxFile(const char* path, const GOST28147PackedSBox* sBox)
{
    try {
        if (path == nullptr || sBox == nullptr) return 0;
        std::uint8_t bytes[kSBoxBytes];
        for (int g = 0; g < 4; ++g)
            for (int i = 0; i < 8; ++i) {
                std::uint8_t x = sBox->rows[g][2 * i];
                std::uint8_t y = sBox->rows[g][2 * i + 1];
                bytes[16 * g + i] = static_cast<std::uint8_t>(((x & 0x0F) << 4) | (y & 0x0F));
                bytes[16 * g + 8 + i] = static_cast<std::uint8_t>((x & 0xF0) | (y >> 4));
            }
        std::FILE* f = std::fopen(path, "wb");
        if (f == nullptr) return 0;
        bool written = std::fwrite(bytes, 1, kSBoxBytes, f) == kSBoxBytes;
        if (std::fclose(f) != 0) written = false;
        if (!written) {
            std::remove(path);
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int CSPParameters::LoadProtectedSBox(const char* path, GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kProtectedSBoxFile);
    if (!ReadPlainOrGOSTEnvelope(csp_, path, contents.data(), kProtectedSBoxFile) ||
        !CheckProtected(csp_, contents.data(), kSBoxBytes))
        return 0;
    std::memcpy(sBox, contents.data(), kSBoxBytes);
    return 1;
}

int CSPParameters::LoadCheckedSBox(const char* path, GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kCheckedSBoxFile);
    if (!ReadPlainOrGOSTEnvelope(csp_, path, contents.data(), kCheckedSBoxFile) ||
        !CheckHashed(csp_, contents.data(), kSBoxBytes))
        return 0;
    std::memcpy(sBox, contents.data(), kSBoxBytes);
    return 1;
}

int CSPParameters::LoadProtectedParameters(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                           GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || field == nullptr || point == nullptr) return 0;
    SecretBuffer contents(kProtectedParametersFile);
    if (!ReadPlainOrGOSTEnvelope(csp_, path, contents.data(), kProtectedParametersFile) ||
        !CheckProtected(csp_, contents.data(), kParametersBytes))
        return 0;
    LoadRecords(contents.data(), field, point);
    if (sBox != nullptr) std::memcpy(sBox, contents.data() + kRecordsBytes, kSBoxBytes);
    return 1;
}

int CSPParameters::LoadCheckedParameters(const char* path, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                         GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || field == nullptr || point == nullptr) return 0;
    {
        SecretBuffer contents(kCheckedParametersFile);
        if (ReadPlainOrGOSTEnvelope(csp_, path, contents.data(), kCheckedParametersFile)) {
            if (!CheckHashed(csp_, contents.data(), kParametersBytes)) return 0;
            LoadRecords(contents.data(), field, point);
            if (sBox != nullptr) std::memcpy(sBox, contents.data() + kRecordsBytes, kSBoxBytes);
            return 1;
        }
    }
    // The DSTU 7564 form carries no S-box: the default one goes with it.
    if (!FeatureAvailable(csp_, kFeatureDSTU7564Files)) return 0;
    SecretBuffer contents(kHashedParametersFile);
    if (!ReadExact(path, contents.data(), kHashedParametersFile) &&
        !ReadDSTUEnvelope(csp_, path, contents.data(), kHashedParametersFile))
        return 0;
    if (csp_->CompareHashDSTU7564(contents.data(), kRecordsBytes, nullptr, kHashBytes,
                                  contents.data() + kRecordsBytes) != 0)
        return 0;
    LoadRecords(contents.data(), field, point);
    if (sBox != nullptr) *sBox = CSPDefaultSBox();
    return 1;
}

int CSPParameters::SaveProtectedSBox(const char* path, const GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kProtectedSBoxFile);
    std::memcpy(contents.data(), sBox, kSBoxBytes);
    if (!Protect(csp_, contents.data(), kSBoxBytes)) return 0;
    return WritePlainOrGOSTEnvelope(csp_, path, contents.data(), kProtectedSBoxFile) ? 1 : 0;
}

int CSPParameters::SaveCheckedSBox(const char* path, const GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kCheckedSBoxFile);
    std::memcpy(contents.data(), sBox, kSBoxBytes);
    if (!Hash(csp_, contents.data(), kSBoxBytes)) return 0;
    return WritePlainOrGOSTEnvelope(csp_, path, contents.data(), kCheckedSBoxFile) ? 1 : 0;
}

int CSPParameters::SaveProtectedParameters(const char* path, const DSTU4145FieldRecord* field,
                                           const DSTU4145PointRecord* point, const GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || field == nullptr || point == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kProtectedParametersFile);
    StoreRecords(contents.data(), field, point);
    std::memcpy(contents.data() + kRecordsBytes, sBox, kSBoxBytes);
    if (!Protect(csp_, contents.data(), kParametersBytes)) return 0;
    return WritePlainOrGOSTEnvelope(csp_, path, contents.data(), kProtectedParametersFile) ? 1 : 0;
}

int CSPParameters::SaveCheckedParameters(const char* path, const DSTU4145FieldRecord* field,
                                         const DSTU4145PointRecord* point, const GOST28147PackedSBox* sBox)
{
    if (csp_ == nullptr || path == nullptr || field == nullptr || point == nullptr || sBox == nullptr) return 0;
    SecretBuffer contents(kCheckedParametersFile);
    StoreRecords(contents.data(), field, point);
    std::memcpy(contents.data() + kRecordsBytes, sBox, kSBoxBytes);
    if (!Hash(csp_, contents.data(), kParametersBytes)) return 0;
    return WritePlainOrGOSTEnvelope(csp_, path, contents.data(), kCheckedParametersFile) ? 1 : 0;
}

int CSPParameters::SaveHashedParameters(const char* path, const DSTU4145FieldRecord* field,
                                        const DSTU4145PointRecord* point)
{
    if (csp_ == nullptr || path == nullptr || field == nullptr || point == nullptr) return 0;
    if (!FeatureAvailable(csp_, kFeatureDSTU7564Files)) return 0;
    SecretBuffer contents(kHashedParametersFile);
    StoreRecords(contents.data(), field, point);
    if (csp_->HashDSTU7564(contents.data(), kRecordsBytes, nullptr, kHashBytes, contents.data() + kRecordsBytes) != 0)
        return 0;
    return WritePlainOrDSTUEnvelope(csp_, path, contents.data(), kHashedParametersFile) ? 1 : 0;
}

int CSPParameters::SaveProtectedDSTUSBoxes(const char* path, const std::uint8_t* sBoxes)
{
    if (csp_ == nullptr || path == nullptr || !IsValidDSTUSBoxSet(sBoxes)) return 0;
    if (!FeatureAvailable(csp_, kFeatureDSTU7624Password)) return 0;
    SecretBuffer contents(kProtectedDSTUSetFile);
    if (csp_->EncryptWithPasswordDSTU7624Ex(sBoxes, kDSTUSetBytes, contents.data(), kProtectedDSTUSetFile, nullptr,
                                            nullptr, kDSTUSBoxFileKey, kDSTUKeyBytes, nullptr, 32, 32) != 0)
        return 0;
    return WritePlainOrDSTUEnvelope(csp_, path, contents.data(), kProtectedDSTUSetFile) ? 1 : 0;
}

int CSPParameters::SaveProtectedDSTUSBoxesEx(const char* path, const std::uint8_t* sBoxes)
{
    return SaveProtectedDSTUSBoxes(path, sBoxes);
}

int CSPParameters::LoadProtectedDSTUSBoxes(const char* path, std::uint8_t* sBoxes)
{
    if (csp_ == nullptr || path == nullptr || sBoxes == nullptr) return 0;
    if (!FeatureAvailable(csp_, kFeatureDSTU7624Password)) return 0;
    SecretBuffer contents(kProtectedDSTUSetFile);
    if (!ReadExact(path, contents.data(), kProtectedDSTUSetFile) &&
        !ReadDSTUEnvelope(csp_, path, contents.data(), kProtectedDSTUSetFile))
        return 0;
    std::uint8_t* plain = nullptr;
    std::uint32_t plainLength = 0;
    if (csp_->DecryptWithPasswordDSTU7624Ex(contents.data(), kProtectedDSTUSetFile, &plain, &plainLength, nullptr,
                                            nullptr, kDSTUSBoxFileKey, kDSTUKeyBytes) != 0)
        return 0;
    if (plain == nullptr || plainLength != kDSTUSetBytes || !IsValidDSTUSBoxSet(plain)) return 0;
    std::memcpy(sBoxes, plain, kDSTUSetBytes);
    return 1;
}

int CSPParameters::LoadDSTUSBoxes(const char* path, std::uint8_t* sBoxes)
{
    if (sBoxes == nullptr) return 0;
    std::memset(sBoxes, 0, kDSTUSetBytes);
    if (csp_ == nullptr || path == nullptr) return 0;
    std::vector<std::uint8_t> file(kCRCDSTUSetFile);
    if (!ReadExact(path, file.data(), kCRCDSTUSetFile)) return 0;
    if (csp_->CRC32Count(file.data(), 2 * kDSTUSetBytes) != LoadLE32(file.data() + 2 * kDSTUSetBytes)) return 0;
    if (!IsValidDSTUSBoxSet(file.data())) return 0;
    std::memcpy(sBoxes, file.data(), kDSTUSetBytes);
    return 1;
}

int CSPParameters::LoadDSTUSBoxesEx(const char* path, std::uint8_t* sBoxes)
{
    return LoadDSTUSBoxes(path, sBoxes);
}

int CSPParameters::SaveHashedFile(const char* path, const std::uint8_t* data, int length)
{
    if (csp_ == nullptr || path == nullptr || length < 0 || (data == nullptr && length != 0)) return 0;
    if (!FeatureAvailable(csp_, kFeatureDSTU7564Files)) return 0;
    std::uint32_t size = static_cast<std::uint32_t>(length);
    SecretBuffer contents(static_cast<std::size_t>(size) + kHashBytes);
    if (size != 0) std::memcpy(contents.data(), data, size);
    if (csp_->HashDSTU7564(contents.data(), size, nullptr, kHashBytes, contents.data() + size) != 0) return 0;
    return WritePlainOrDSTUEnvelope(csp_, path, contents.data(), size + kHashBytes) ? 1 : 0;
}

int CSPParameters::LoadHashedFile(const char* path, std::uint8_t* data, std::uint32_t* length)
{
    if (csp_ == nullptr || path == nullptr || length == nullptr) return 0;
    if (!FeatureAvailable(csp_, kFeatureDSTU7564Files) || !FeatureAvailable(csp_, kFeatureHashedFiles)) return 0;
    SecretBuffer file(kHashedFileLimit);
    std::uint32_t fileSize = 0;
    {
        FileHandle handle(OpenForReading(path));
        if (!handle.ok()) return 0;
        DWORD size = GetFileSize(handle.get(), nullptr);
        // Larger files are refused before anything is read into the buffer.
        if (size == INVALID_FILE_SIZE || size > kHashedFileLimit) return 0;
        fileSize = size;
        if (!ReadAll(handle.get(), file.data(), fileSize)) return 0;
    }
    std::uint8_t* plain = file.data();
    std::uint32_t plainLength = fileSize;
    // The same availability rule as SaveHashedFile: without feature 23 there
    // is no DSTU envelope and the file was written plain.
    const char* password = DSTUEnvelopePassword(csp_);
    if (password != nullptr) {
        plain = nullptr;
        plainLength = 0;
        if (csp_->DecryptWithPasswordDSTU7624Ex(file.data(), fileSize, &plain, &plainLength, nullptr, password, nullptr,
                                                0) != 0 ||
            plain == nullptr || plainLength > fileSize)
            return 0;
    }
    if (plainLength < kHashBytes) return 0;
    std::uint64_t b = LoadLE32(plain);
    std::uint64_t payload = 3 * ((b + 7) / 8) + kHashBytes;
    if (static_cast<std::uint64_t>(plainLength) != payload + kHashBytes) return 0;
    std::uint32_t payloadLength = static_cast<std::uint32_t>(payload);
    if (csp_->CompareHashDSTU7564(plain, payloadLength, nullptr, kHashBytes, plain + payloadLength) != 0) return 0;
    if (data != nullptr) {
        if (*length < payloadLength) return 0;
        std::memcpy(data, plain, payloadLength);
    }
    *length = payloadLength;
    return 1;
}
