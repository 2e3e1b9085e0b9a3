// The Windows-1251 to UTF-8 conversion behind the converted opening of
// entries, byte for byte against the C library's iconv.
#include <gtest/gtest.h>

#include <iconv.h>
#include <string>

#include "PkfmtCrypto.h"

namespace {

std::string Iconv(const std::string& in)
{
    iconv_t cd = iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
    std::string input = in;
    char out[16] = {};
    char* src = input.data();
    char* dst = out;
    size_t left = input.size(), room = sizeof out;
    size_t rc = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) return "<invalid>";
    return std::string(out, dst);
}

TEST(PkfmtCp1251, EveryByteConvertsAsIconvDoes)
{
    for (int byte = 1; byte < 256; ++byte) {
        std::string one(1, static_cast<char>(byte));
        std::string expected = Iconv(one);
        if (expected == "<invalid>") {
            EXPECT_EQ(byte, 0x98);  // the one unassigned position
            EXPECT_EQ(pkfmt::Cp1251ToUtf8(one), "\xEF\xBF\xBD");
            continue;
        }
        EXPECT_EQ(pkfmt::Cp1251ToUtf8(one), expected) << std::hex << byte;
    }
}

}  // namespace
