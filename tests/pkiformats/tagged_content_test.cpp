// Tagged data content: two words and the caller's data wrapped as content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

// Plain data content whose data object the test keeps (one reference more)
// to read what it was given.
struct KeptData {
    fake::DataContent* data = nullptr;
    void Use(fake::Library& lib)
    {
        fake::UseEnvelopedObjects(lib);
        lib.makers[{PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT}] = [this, &lib]() -> void* {
            data = new fake::DataContent(lib);
            data->offers.insert(PKI_IID_DATA_CONTENT);
            void* extra = nullptr;
            data->QueryInterface(PKI_IID_DATA_CONTENT, &extra);
            return static_cast<IPKIDataContent*>(data);
        };
    }
};

}  // namespace

TEST(TaggedContent, PlainDataIsTheTwoWordsThenTheData)
{
    for (const std::string& payload : {std::string(), std::string("abc")}) {
        fake::Library lib;
        lib.requireWipe = true;
        KeptData kept;
        kept.Use(lib);
        SPKIFormats f(nullptr, nullptr, &lib);
        PKIBlob data{static_cast<std::uint32_t>(payload.size()),
                     payload.empty() ? nullptr : reinterpret_cast<std::uint8_t*>(const_cast<char*>(payload.data()))};
        PKIBlob out{0, nullptr};
        ASSERT_EQ(f.BuildDataContentInfo(0x04030201, 0x08070605, &data, 0x11000000, nullptr, nullptr, nullptr, &out),
                  1);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "content info:1.2.840.113549.1.7.1");
        ASSERT_NE(kept.data, nullptr);
        EXPECT_EQ(kept.data->octets, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8) + payload);
        kept.data->Release();
        f.ReleaseBlob(&out);
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
}

TEST(TaggedContent, RefusedBeforeAnythingIsMade)
{
    fake::Library lib;
    fake::UseEnvelopedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    std::uint8_t byte = 0;
    PKIBlob small{1, &byte};
    PKIBlob out{0, nullptr};
    // Modes above 2, whatever the selector bits.
    for (std::uint32_t mode : {3u, 0xFFu, 0x11000003u}) {
        EXPECT_EQ(f.BuildDataContentInfo(1, 2, &small, mode, nullptr, nullptr, nullptr, &out), 0) << mode;
        EXPECT_EQ(out.data, nullptr);
    }
    // A length whose tagged form would wrap past 32 bits; the data pointer is
    // never read.
    PKIBlob huge{0xFFFFFFF8u, &byte};
    EXPECT_EQ(f.BuildDataContentInfo(1, 2, &huge, 0, nullptr, nullptr, nullptr, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    EXPECT_TRUE(lib.log.empty()) << lib.log.front();
}

TEST(TaggedContent, FailuresLeaveNothingBehind)
{
    std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
    fake::SweepFailures(
        "BuildDataContentInfo plain",
        [&bytes](SPKIFormats& f, fake::Library& lib) {
            fake::UseEnvelopedObjects(lib);
            PKIBlob data{sizeof bytes, bytes};
            PKIBlob out{0, nullptr};
            int rc = f.BuildDataContentInfo(7, 8, &data, 0, nullptr, nullptr, nullptr, &out);
            f.ReleaseBlob(&out);
            return rc;
        },
        true);
    // Signing without a key or certificate fails in each family and mode, the
    // tagged content wiped and freed.
    for (std::uint32_t mode : {1u, 0x10000001u, 2u, 0x11000002u}) {
        fake::Library lib;
        lib.requireWipe = true;
        fake::UseEnvelopedObjects(lib);
        SPKIFormats f(nullptr, nullptr, &lib);
        PKIBlob data{sizeof bytes, bytes};
        PKIBlob out{0, nullptr};
        EXPECT_EQ(f.BuildDataContentInfo(7, 8, &data, mode, nullptr, nullptr, nullptr, &out), 0) << mode;
        EXPECT_EQ(out.data, nullptr);
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
}
