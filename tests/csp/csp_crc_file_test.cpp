// The 2,052-byte DSTU S-box file (two 1,024-byte sets and their CRC-32) read
// by the provider's parameter store through the real provider and the
// stand-in cgext.so.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "CSPTestSupport.h"
#include "crypto/DSTUCiphersTables.h"

using namespace csptest;

namespace {

// CRC-32 computed bit by bit, independent of the library's table.
std::uint32_t BitwiseCRC32(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

Bytes CrcFile(const Bytes& first, const Bytes& second)
{
    Bytes file(first);
    file.insert(file.end(), second.begin(), second.end());
    const std::uint32_t crc = BitwiseCRC32(file.data(), file.size());
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
    return file;
}

std::string Write(const char* name, const Bytes& contents)
{
    const std::string path = testing::TempDir() + name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    return path;
}

}  // namespace

TEST(CSPParameterFiles, CrcCheckedSBoxFileLoadsThroughTheProvider)
{
    Provider p;
    const Bytes sBoxes(DSTUDefaultSBoxes, DSTUDefaultSBoxes + 1024);
    const Bytes second(DSTUDefaultInverseSBoxes, DSTUDefaultInverseSBoxes + 1024);
    const Bytes file = CrcFile(sBoxes, second);
    ASSERT_EQ(file.size(), 2052u);
    const std::string path = Write("csp_sboxes_crc.bin", file);

    Bytes out(1024, 0xEE);
    ASSERT_EQ(p->Parameters().LoadDSTUSBoxes(path.c_str(), out.data()), 1);
    EXPECT_EQ(out, sBoxes);
    out.assign(1024, 0xEE);
    ASSERT_EQ(p->Parameters().LoadDSTUSBoxesEx(path.c_str(), out.data()), 1);
    EXPECT_EQ(out, sBoxes);
    EXPECT_EQ(p->Parameters().IsDefaultDSTUSBoxes(out.data()), 1);

    // A changed byte in the second set is caught by the CRC alone.
    Bytes damaged = file;
    damaged[1500] ^= 0x01;
    const std::string damagedPath = Write("csp_sboxes_crc_damaged.bin", damaged);
    out.assign(1024, 0xEE);
    EXPECT_EQ(p->Parameters().LoadDSTUSBoxes(damagedPath.c_str(), out.data()), 0);
    EXPECT_EQ(out, Bytes(1024, 0));

    // Wrong sizes are refused.
    Bytes shorter(file.begin(), file.end() - 1);
    EXPECT_EQ(p->Parameters().LoadDSTUSBoxes(Write("csp_sboxes_short.bin", shorter).c_str(), out.data()), 0);

    // A correct CRC over a set that is no permutation is refused too.
    Bytes notPermutation(1024, 0);
    const std::string badSetPath = Write("csp_sboxes_badset.bin", CrcFile(notPermutation, second));
    EXPECT_EQ(p->Parameters().LoadDSTUSBoxes(badSetPath.c_str(), out.data()), 0);

    for (const std::string& f : {path, damagedPath, badSetPath}) std::remove(f.c_str());
}
