// The CSPI's text S-box reader over arbitrary file contents: it must never
// read past its buffers, and it answers 1 only with 128 values after the
// header word. Its seeds are the text form of the standard S-box.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzSupport.h"
#include "csp/CSPIParameters.h"
#include "support/CSPStandardTables.h"

namespace {

// The text form of a packed S-box: a header word, then four rows of 32
// values, the low nibbles of bytes 16k..16k+15 before their high nibbles.
std::string SBoxText(const GOST28147PackedSBox& box, const char* header, const char* separator)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&box);
    std::string text = header;
    for (int row = 0; row < 4; ++row) {
        for (int half = 0; half < 2; ++half)
            for (int i = 0; i < 16; ++i) {
                text += separator;
                text += "0123456789ABCDEF"[(bytes[16 * row + i] >> (4 * half)) & 15];
            }
        text += "\n";
    }
    return text;
}

qvkfuzz::Bytes AsBytes(const std::string& text)
{
    return qvkfuzz::Bytes(text.begin(), text.end());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    const GOST28147PackedSBox& box = CSPDefaultSBox();
    qvkfuzz::Check(qvkfuzz::WriteSeed(seeds, "standard_sbox.txt", AsBytes(SBoxText(box, "SBOX", " "))),
                   "the standard S-box text is written");
    qvkfuzz::Check(qvkfuzz::WriteSeed(seeds, "standard_sbox_tabs.txt", AsBytes(SBoxText(box, "1", "\t"))),
                   "the tab-separated S-box text is written");
    // Both seeds must read back as the standard S-box.
    for (const char* name : {"/standard_sbox.txt", "/standard_sbox_tabs.txt"}) {
        CSPIParameters parameters;
        GOST28147PackedSBox read{};
        qvkfuzz::Check(parameters.LoadSBoxText((seeds + name).c_str(), &read) == 1 &&
                           std::memcmp(&read, &box, sizeof box) == 0,
                       "a seed reads back as the standard S-box");
    }
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/cspi_sbox_text_fuzz." + std::to_string(getpid());
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    CSPIParameters parameters;
    GOST28147PackedSBox box;
    int result = parameters.LoadSBoxText(path.c_str(), &box);
    if (result != 0 && result != 1) std::abort();
    std::remove(path.c_str());
    return 0;
}
