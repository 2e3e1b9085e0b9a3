// Texts from outside that the holder-profile operations parse: file names
// with serial suffixes, person identifiers and wildcard patterns. Every
// output lies in a heap block of exactly its documented capacity.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "pkiformats/KeyRequests.h"
#include "pkiformats/SPKIFormats.h"

namespace {

const char* const kSeeds[][2] = {
    {"suffix", "keys/key-S3.dat"},       {"suffix_zeros", "key-S007.dat"},
    {"no_suffix", "my-key.dat"},         {"big_suffix", "key-S2147483648"},
    {"natural", "PASUA-1234567890"},     {"natural_long", "TINUA-12345678901"},
    {"legal", "NTRUA-12345678"},         {"colon", "12:34-5"},
    {"pattern", "mississippi|m*iss*pi"}, {"stars", "aaaaaaaaaaaa|*a*a*a*b"},
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string seeds = qvkfuzz::SeedFolder();
    if (seeds.empty()) return 0;
    for (const auto& seed : kSeeds)
        qvkfuzz::Check(qvkfuzz::WriteSeed(seeds, seed[0], qvkfuzz::Bytes(seed[1], seed[1] + std::strlen(seed[1]))),
                       seed[0]);
    std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > 1024) return 0;
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* t = text.c_str();  // stops at the first NUL, as a caller's text would

    std::uint32_t position = 0;
    std::int32_t number = 0;
    if (f.ParseFileNameSerialSuffix(t, &position, &number)) {
        qvkfuzz::Check(position < std::strlen(t) && t[position] == '-' && t[position + 1] == 'S', "suffix position");
        qvkfuzz::Check(number >= 0, "suffix number");
    }
    std::vector<char> name(PKIF_FILE_NAME_BYTES);
    for (std::int32_t n : {0, 7, -1, 2147483647})
        if (f.SetFileNameSerialSuffix(t, n, name.data()))
            qvkfuzz::Check(strnlen(name.data(), name.size()) < name.size(), "file name ends inside its capacity");
    // Location names around their capacity: the text as it is and doubled.
    std::vector<char> location(PKIF_SEQUENCED_NAME_BYTES);
    const std::string doubled = std::string(t) + t;
    for (const char* source : {t, doubled.c_str()})
        if (f.ComposeSequencedName(0, source, 1, nullptr, 2147483647, location.data()))
            qvkfuzz::Check(strnlen(location.data(), location.size()) < location.size(), "location ends inside");
        else
            qvkfuzz::Check(location[0] == 0, "refused location left empty");

    std::vector<char> country(3), person(PKIF_IDENTIFIER_NUMBER_BYTES);
    f.ParseNaturalPersonIdentifier(t, country.data(), person.data());
    f.ParseLegalPersonIdentifier(t, country.data(), person.data());

    // "text|pattern" over the raw bytes, NULs included.
    const std::size_t bar = text.find('|');
    if (bar != std::string::npos)
        f.MatchWildcard(text.data(), static_cast<std::uint32_t>(bar), text.data() + bar + 1,
                        static_cast<std::uint32_t>(size - bar - 1));
    return 0;
}
