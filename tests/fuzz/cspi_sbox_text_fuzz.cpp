// The CSPI's text S-box reader over arbitrary file contents: it must never
// read past its buffers, and it answers 1 only with 128 values after the
// header word.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "csp/CSPIParameters.h"

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
