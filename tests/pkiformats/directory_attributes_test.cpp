// Subject directory attributes as text: read by OID from the attribute
// object, or at the seven fixed positions of the field readers, then the
// identifiers of the subject name; every output is bounded by its OID's limit.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"

namespace {

struct Release {
    void operator()(IPKIObject* o) const { o->Release(); }
};

const char kTax[] = "1.2.804.2.1.1.1.11.1.4.1.1";            // limit 10
const char kOrganisation[] = "1.2.804.2.1.1.1.11.1.4.2.1";   // limit 10
const char kShort[] = "1.2.804.2.1.1.1.11.1.4.3.1";          // limit 6
const char kLong[] = "1.2.804.2.1.1.1.11.1.4.7.1";           // limit 32
const char kIdentityCard[] = "1.2.804.2.1.1.1.11.1.4.11.1";  // limit 14

// An output of exactly its capacity, followed by a guard that must stay put.
struct Output {
    explicit Output(std::size_t capacity) : bytes(capacity + 8, 'g'), capacity(capacity) { bytes[0] = 'x'; }
    char* get() { return bytes.data(); }
    std::string Text() const { return std::string(bytes.data(), strnlen(bytes.data(), capacity)); }
    bool GuardIntact() const { return bytes.substr(capacity) == std::string(8, 'g'); }
    std::string bytes;
    std::size_t capacity;
};

class DirectoryAttributes : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    std::unique_ptr<fake::ProfileRequest, Release> Request(fake::Profile p)
    {
        return std::unique_ptr<fake::ProfileRequest, Release>(new fake::ProfileRequest(lib, std::move(p)));
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
};

}  // namespace

TEST_F(DirectoryAttributes, ReadByOidThenFromTheSubjectName)
{
    fake::Profile p;
    p.attributesAnswer = 0;
    p.attributeValues = {
        {kShort, L"123456"}, {kLong, L"\u0417\u0430\u043F\u043E\u0440\u0456\u0436\u0436\u044F"}, {kTax, L"0000000001"}};
    auto request = Request(p);
    lib.nameValues["2.5.4.97"] = L"NTRUA-87654321";
    lib.nameValues["2.5.4.5"] = L"IDNUA-12345678901234";
    Output shortOut(7), longOut(33), organisation(11), card(15), tax(11);
    const char* oids[] = {kShort, kLong, kOrganisation, kIdentityCard, kTax, "2.5.4.3"};
    char* outputs[] = {shortOut.get(), longOut.get(), organisation.get(), card.get(), tax.get(), nullptr};
    ASSERT_EQ(f.ReadDirectoryAttributes(request.get(), 6, oids, outputs), 1);
    EXPECT_EQ(shortOut.Text(), "123456");
    EXPECT_EQ(longOut.Text(), "\xC7\xE0\xEF\xEE\xF0\xB3\xE6\xE6\xFF");  // Windows-1251
    EXPECT_EQ(organisation.Text(), "87654321");
    EXPECT_EQ(card.Text(), "12345678901234");
    EXPECT_EQ(tax.Text(), "0000000001");  // no serial-number identifier of that kind
    for (Output* o : {&shortOut, &longOut, &organisation, &card, &tax}) EXPECT_TRUE(o->GuardIntact());

    // Without directory attributes the subject name's identifiers remain.
    fake::Profile bare;
    auto plain = Request(bare);
    ASSERT_EQ(f.ReadDirectoryAttributes(plain.get(), 6, oids, outputs), 1);
    EXPECT_EQ(shortOut.Text(), "");
    EXPECT_EQ(organisation.Text(), "87654321");
    EXPECT_EQ(card.Text(), "12345678901234");
    // ... and without a subject name, nothing but empty outputs.
    bare.subject = false;
    ASSERT_EQ(f.ReadDirectoryAttributes(Request(bare).get(), 6, oids, outputs), 1);
    EXPECT_EQ(card.Text(), "");
}

// A value longer than its OID's limit would overrun an output of limit + 1
// bytes: it is refused and the output left empty.
TEST_F(DirectoryAttributes, ValuesAboveTheirLimitAreRefused)
{
    fake::Profile p;
    p.attributesAnswer = 0;
    p.attributeValues = {{kShort, L"1234567"}, {kTax, L"12"}};
    p.subject = false;
    auto request = Request(p);
    Output shortOut(7), tax(11);
    const char* oids[] = {kShort, kTax};
    char* outputs[] = {shortOut.get(), tax.get()};
    EXPECT_EQ(f.ReadDirectoryAttributes(request.get(), 2, oids, outputs), 0);
    EXPECT_EQ(shortOut.Text(), "");
    EXPECT_EQ(tax.Text(), "");
    EXPECT_TRUE(shortOut.GuardIntact());

    // The fixed-position path bounds what the field reader returned the same way.
    std::string items[PKIF_DIRECTORY_POSITIONS] = {"1234567890",         "12345678901",        "123456", "1234567",
                                                   std::string(32, 'd'), std::string(33, 'e'), ""};
    const char* texts[PKIF_DIRECTORY_POSITIONS];
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) texts[j] = items[j].c_str();
    std::vector<Output> outs;
    for (std::size_t capacity : {11, 11, 7, 7, 33, 33, 33}) outs.emplace_back(capacity);
    char* positions[PKIF_DIRECTORY_POSITIONS];
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) positions[j] = outs[j].get();
    EXPECT_EQ(pkif::CopyDirectoryPositions(f, texts, positions), 0);
    const char* expected[] = {"1234567890", "", "123456", "", items[4].c_str(), "", ""};
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) {
        EXPECT_EQ(outs[j].Text(), expected[j]) << j;
        EXPECT_TRUE(outs[j].GuardIntact()) << j;
    }
    items[1].pop_back(), items[3].pop_back(), items[5].pop_back();
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) texts[j] = items[j].c_str();
    positions[6] = nullptr;  // not wanted: untouched
    EXPECT_EQ(pkif::CopyDirectoryPositions(f, texts, positions), 1);
    EXPECT_EQ(outs[5].Text(), std::string(32, 'e'));
}

TEST_F(DirectoryAttributes, FixedPositionsTakeTheFirstOfARepeatedOid)
{
    char a[11], b[11], c[33];
    const char* oids[] = {kTax, "1.2.804.2.1.1.1.11.1.4.6.1", kTax, kOrganisation};
    char* outputs[] = {a, c, b, nullptr};
    char* positions[PKIF_DIRECTORY_POSITIONS];
    ASSERT_EQ(f.MapDirectoryAttributeOutputs(4, oids, outputs, positions), 1);
    const char* expected[] = {nullptr, a, nullptr, nullptr, nullptr, c, nullptr};
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) EXPECT_EQ(positions[j], expected[j]) << j;
    EXPECT_EQ(f.MapDirectoryAttributeOutputs(1, nullptr, outputs, positions), 0);
}

TEST_F(DirectoryAttributes, ReaderFailuresAnswerZeroAndFreeEverything)
{
    fake::Profile p;
    p.attributesAnswer = 0;
    p.attributeValues = {{kTax, L"1"}};
    auto request = Request(p);
    Output tax(11);
    const char* oids[] = {kTax, "2.5.4.3"};
    char* outputs[] = {tax.get(), nullptr};
    lib.Answer(4918, 48, {PKI_E_FAILURE});
    EXPECT_EQ(f.ReadDirectoryAttributes(request.get(), 2, oids, outputs), 0);
    EXPECT_EQ(tax.Text(), "");
    lib.Answer(4918, 48, {});
    // Each library call failing in turn leaves nothing behind.
    for (int k = 1; k <= 12; ++k) {
        lib.FailCall(k);
        f.ReadDirectoryAttributes(request.get(), 2, oids, outputs);
        EXPECT_EQ(lib.LiveBlobs(), 0u) << k;
        EXPECT_EQ(lib.LiveObjects(), 1) << k;  // the request itself
    }
    for (int k = 1; k <= 12; ++k) {  // ... nor when it throws
        lib.FailCall(k, PKI_E_FAILURE, true);
        f.ReadDirectoryAttributes(request.get(), 2, oids, outputs);
        EXPECT_EQ(lib.LiveBlobs(), 0u) << k;
        EXPECT_EQ(lib.LiveObjects(), 1) << k;
    }
    lib.FailCall(1000);
    ASSERT_EQ(f.ReadDirectoryAttributes(request.get(), 2, oids, outputs), 1);
    EXPECT_EQ(tax.Text(), "1");
}
