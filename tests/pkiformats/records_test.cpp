// Key-parts records, holder records and the flat records: layouts written
// byte by byte, and readers that refuse every part outside its blob.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

std::uint32_t W(const PKIBlob& b, std::uint32_t at)
{
    return b.data[at] | b.data[at + 1] << 8 | b.data[at + 2] << 16 | static_cast<std::uint32_t>(b.data[at + 3]) << 24;
}

void SetW(PKIBlob& b, std::uint32_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) b.data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Little-endian words and bytes, for known answers written out by hand.
std::vector<std::uint8_t> Le(std::initializer_list<std::uint32_t> words)
{
    std::vector<std::uint8_t> out;
    for (std::uint32_t w : words)
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(w >> (8 * i)));
    return out;
}

std::vector<std::uint8_t> Of(const PKIBlob& b)
{
    return std::vector<std::uint8_t>(b.data, b.data + b.length);
}

// A view of a string that outlives it (a literal or a named string).
PKIBlob View(const char* s, std::size_t n)
{
    return PKIBlob{static_cast<std::uint32_t>(n), reinterpret_cast<std::uint8_t*>(const_cast<char*>(s))};
}
PKIBlob View(const char* s)
{
    return View(s, std::strlen(s));
}
PKIBlob View(const std::string& s)
{
    return View(s.data(), s.size());
}
PKIBlob View(std::string&&) = delete;

class Records : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (PKIBlob& b : owned) f.ReleaseBlob(&b);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
    }
    PKIBlob& Out()
    {
        owned.push_back(PKIBlob{0, nullptr});
        return owned.back();
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    std::deque<PKIBlob> owned;
};

}  // namespace

TEST_F(Records, KeyPartsRecordLayoutAndParts)
{
    PKIBlob& r = Out();
    ASSERT_EQ(f.CreateKeyPartsRecord(3, 100, &r), 1);
    ASSERT_EQ(r.length, 148u);
    std::vector<std::uint8_t> expect(148, 0);
    expect[0] = 3;
    expect[4] = 48;
    EXPECT_EQ(Of(r), expect);

    PKIBlob partB = View("BBBB"), partA = View("AA"), partD = View("DDD");
    ASSERT_EQ(f.AppendKeyPart(&r, 1, 0x10, &partB), 1);
    PKIBlob view{0, nullptr};
    std::uint32_t kind = 0, tag = 0;
    ASSERT_EQ(f.GetKeyPart(&r, 0, &view, &kind, &tag), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(view.data), view.length), "BBBB");
    EXPECT_EQ(kind, 1u);
    EXPECT_EQ(tag, 0x10u);
    ASSERT_EQ(f.AppendKeyPart(&r, 1, 0x01, &partA), 1);  // part A, after B's end
    ASSERT_EQ(f.AppendKeyPart(&r, 4, 0, &partD), 1);
    EXPECT_EQ(W(r, 16), 52u);  // A at 48 + 4
    EXPECT_EQ(W(r, 24), 48u);  // B at 48
    EXPECT_EQ(W(r, 40), 54u);  // D after A
    ASSERT_EQ(f.GetKeyPart(&r, 0, &view, &kind, &tag), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(view.data), view.length), "AA");
    EXPECT_EQ(tag, 0x61u);
    ASSERT_EQ(f.GetKeyPart(&r, 2, &view, &kind, &tag), 1);
    EXPECT_EQ(kind, 4u);
    EXPECT_EQ(f.GetKeyPart(&r, 3, &view, &kind, &tag), 0);

    // Replacing an occupied slot appends after the furthest end: B's new
    // bytes must not land on A or D.
    PKIBlob longB = View("bbbbbbbb");
    ASSERT_EQ(f.AppendKeyPart(&r, 1, 0x10, &longB), 1);
    EXPECT_EQ(W(r, 24), 57u);
    PKIBlob& copy = Out();
    ASSERT_EQ(f.CopyKeyPart(&r, 1, 0x40, &copy), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(copy.data), copy.length), "AA");
    PKIBlob& copyD = Out();
    ASSERT_EQ(f.CopyKeyPart(&r, 4, 0, &copyD), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(copyD.data), copyD.length), "DDD");

    // The protection word blocks reading until a part is appended.
    ASSERT_EQ(f.SetKeyPartsWords(&r, 1, 7), 1);
    std::uint32_t p = 0, s = 0;
    EXPECT_EQ(f.GetKeyPartsWords(&r, &p, &s), 1);
    EXPECT_EQ(p, 1u);
    EXPECT_EQ(s, 7u);
    EXPECT_EQ(f.GetKeyPart(&r, 0, &view, nullptr, nullptr), 0);
    PKIBlob& blocked = Out();
    EXPECT_EQ(f.CopyKeyPart(&r, 1, 0x10, &blocked), 0);
    PKIBlob c2 = View("C");
    ASSERT_EQ(f.AppendKeyPart(&r, 2, 0, &c2), 1);
    EXPECT_EQ(f.GetKeyPart(&r, 0, &view, nullptr, nullptr), 1);

    // Full: the next part does not fit.
    std::string big(100, 'x');
    PKIBlob bigPart = View(big);
    EXPECT_EQ(f.AppendKeyPart(&r, 2, 0, &bigPart), 0);
    EXPECT_EQ(f.AppendKeyPart(&r, 3, 0, &c2), 0);
}

TEST_F(Records, KeyPartsRecordRefusesBadHeadersAndStrayParts)
{
    PKIBlob& v2 = Out();
    ASSERT_EQ(f.CreateKeyPartsRecord(2, 10, &v2), 1);
    EXPECT_EQ(v2.length, 50u);
    PKIBlob d = View("D");
    EXPECT_EQ(f.AppendKeyPart(&v2, 4, 0, &d), 0);
    PKIBlob& none = Out();
    EXPECT_EQ(f.CreateKeyPartsRecord(0, 10, &none), 0);
    EXPECT_EQ(f.CreateKeyPartsRecord(7, 10, &none), 0);
    EXPECT_EQ(f.CreateKeyPartsRecord(1, 0xFFFFFFF0u, &none), 0);  // capacity + header above 4 GiB

    PKIBlob& r = Out();
    ASSERT_EQ(f.CreateKeyPartsRecord(3, 16, &r), 1);
    PKIBlob a = View("A");
    ASSERT_EQ(f.AppendKeyPart(&r, 1, 1, &a), 1);
    PKIBlob view{0, nullptr};
    struct Damage {
        std::uint32_t at, value;
    } cases[] = {
        {16, 64},           // part A's offset past the end
        {16, 10},           // part A inside the header
        {20, 0xFFFFFFFFu},  // a length that wraps a 32-bit sum
        {24, 0xFFFFFFF0u},  // part B at a wrapping offset
        {28, 0x20},
        {4, 47},  // header too short for version 3
        {4, 65},  // header past the record
        {0, 7},
    };
    for (const Damage& c : cases) {
        std::uint32_t saved = W(r, c.at);
        if (c.at == 24) SetW(r, 28, 0x20);
        SetW(r, c.at, c.value);
        EXPECT_EQ(f.GetKeyPart(&r, 0, &view, nullptr, nullptr), 0) << c.at << "=" << c.value;
        PKIBlob& copy = Out();
        EXPECT_EQ(f.CopyKeyPart(&r, 1, 1, &copy), 0) << c.at;
        EXPECT_EQ(f.AppendKeyPart(&r, 2, 0, &a), 0) << c.at;
        SetW(r, c.at, saved);
        SetW(r, 28, 0);
        SetW(r, 24, 0);
    }
    PKIBlob shortRecord{39, r.data};
    EXPECT_EQ(f.GetKeyPartsWords(&shortRecord, nullptr, nullptr), 0);
}

namespace {

int MakeHolder(SPKIFormats& f, PKIBlob* out, const std::uint8_t* data = nullptr, const char* text9 = nullptr,
               std::uint32_t overrideFlag = 0, const PKIBlob* key2 = nullptr, std::uint32_t key2Usage = 0,
               const PKIBlob* key3 = nullptr, const char* shortText = nullptr, std::uint32_t wordA = 0,
               const PKIBlob* key1 = nullptr)
{
    SYSTEMTIME from{2024, 1, 1, 1, 0, 0, 0, 0};
    return f.CreateHolderRecord(data, &from, nullptr, nullptr, nullptr, nullptr, 0, 5, 6, "k1a", nullptr, "k2a",
                                nullptr, "k3a", nullptr, nullptr, "t8", key1, nullptr, key2, key3, wordA, 0, shortText,
                                0, text9, key2Usage, 0x11, overrideFlag, 0, 0, 0, nullptr, out);
}

}  // namespace

TEST_F(Records, HolderRecordVersionsLayoutAndReading)
{
    SPKIFormats plain(nullptr, nullptr, nullptr);
    PKIBlob r{0, nullptr};
    ASSERT_EQ(plain.CreateHolderRecord(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, 0, 0, nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0, nullptr, &r),
              1);
    EXPECT_EQ(r.length, 184u);
    EXPECT_EQ(W(r, 0), 2u);
    EXPECT_EQ(W(r, 4), 184u);
    plain.ReleaseBlob(&r);

    PKIBlob& v4 = Out();
    ASSERT_EQ(MakeHolder(f, &v4, nullptr, "nine"), 1);
    EXPECT_EQ(W(v4, 0), 4u);
    EXPECT_EQ(W(v4, 4), 216u);
    // Texts follow the header in order: k1a, k2a, t8 (the third key's texts
    // only with a third key), then text 9.
    EXPECT_EQ(W(v4, 96), 216u);
    EXPECT_EQ(W(v4, 100), 4u);
    EXPECT_EQ(W(v4, 112), 220u);
    EXPECT_EQ(W(v4, 184), 0u);
    EXPECT_EQ(W(v4, 136), 224u);
    EXPECT_EQ(W(v4, 208), 227u);
    EXPECT_EQ(v4.length, 232u);
    const char* text = nullptr;
    ASSERT_EQ(f.GetHolderRecordText(&v4, &text), 1);
    EXPECT_STREQ(text, "nine");

    PKIBlob& v6 = Out();
    ASSERT_EQ(MakeHolder(f, &v6, nullptr, nullptr, 1), 1);
    EXPECT_EQ(W(v6, 0), 6u);
    EXPECT_EQ(W(v6, 4), 248u);
    std::uint32_t present = 0, words[3];
    EXPECT_EQ(f.GetHolderRecordExtension(&v6, &present, words, &text), 1);
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(text, nullptr);
    SetW(v6, 4, 247);
    EXPECT_EQ(f.ReadHolderRecord(&v6, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);

    PKIBlob k2 = View("KEY2");
    PKIBlob& v5 = Out();
    ASSERT_EQ(MakeHolder(f, &v5, nullptr, nullptr, 0, &k2, 0x10), 1);
    EXPECT_EQ(W(v5, 0), 5u);
    EXPECT_EQ(W(v5, 216), 0x10u);
    PKIBlob& v2 = Out();
    ASSERT_EQ(MakeHolder(f, &v2, nullptr, nullptr, 0, &k2, 0x05), 1);  // 0x01 and one of 0x14
    EXPECT_EQ(W(v2, 0), 2u);

    // Holder data: a version-1 block reads with the word at 1,830 set to 1.
    std::vector<std::uint8_t> area(PKIF_HOLDER_DATA_AREA, 0);
    area[0] = 0x42;
    area[1830] = 1;
    PKIBlob& withData = Out();
    ASSERT_EQ(MakeHolder(f, &withData, area.data()), 1);
    EXPECT_EQ(W(withData, 12), 1830u);
    std::vector<std::uint8_t> read(PKIF_HOLDER_DATA_AREA, 0xEE);
    const SYSTEMTIME *from = nullptr, *to = nullptr;
    const std::uint8_t* optional = reinterpret_cast<const std::uint8_t*>(1);
    ASSERT_EQ(f.ReadHolderRecord(&withData, read.data(), &from, &to, nullptr, nullptr, &optional), 1);
    EXPECT_EQ(read[0], 0x42);
    EXPECT_EQ(read[1830], 1);
    EXPECT_EQ(read[2000], 0);
    EXPECT_EQ(from->wYear, 2024);
    EXPECT_EQ(to->wYear, 0);
    EXPECT_EQ(optional, nullptr);

    // A version-6 block must carry its version word.
    area[1830] = 6;
    PKIBlob& v6data = Out();
    ASSERT_EQ(MakeHolder(f, &v6data, area.data()), 1);
    EXPECT_EQ(W(v6data, 12), 2823u);
    ASSERT_EQ(f.ReadHolderRecord(&v6data, read.data(), nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    v6data.data[W(v6data, 8) + 1830] = 5;
    EXPECT_EQ(f.ReadHolderRecord(&v6data, read.data(), nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    area[1830] = 9;
    PKIBlob& unknown = Out();
    EXPECT_EQ(MakeHolder(f, &unknown, area.data()), 0);
}

TEST_F(Records, HolderRecordReadersRefuseShortAndStrayRecords)
{
    PKIBlob k1 = View("K1"), k2 = View("K2");
    PKIBlob& r = Out();
    ASSERT_EQ(MakeHolder(f, &r, nullptr, nullptr, 0, &k2, 0x10, nullptr, nullptr, 0, &k1), 1);
    PKIBlob key{0, nullptr}, t1{0, nullptr}, t2{0, nullptr};
    std::uint32_t type = 0, kind = 0, family = 0, usage = 0;
    // The key part is the holder's encoded request; the family is the key
    // kind that request reports (here RSA for the second key), not which key
    // of the record it is (the view says that: "K2").
    lib.requestKeyKinds["K2"] = 2;
    lib.requestKeyKinds["K1"] = 4;
    ASSERT_EQ(f.GetHolderRecordKey(&r, 1, &key, &type, &kind, &family, &usage, &t1, &t2), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data), key.length), "K2");
    EXPECT_EQ(type, 5u);
    EXPECT_EQ(kind, 6u);
    EXPECT_EQ(family, 2u);
    EXPECT_EQ(lib.LiveObjects(), 0);
    ASSERT_EQ(f.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, &family, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data), key.length), "K1");
    EXPECT_EQ(family, 4u);
    lib.Answer(PKI_CLASS_REQUEST, 4, {PKI_E_BAD_ENCODING});  // a key part that is no request
    EXPECT_EQ(f.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, &family, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(lib.LiveObjects(), 0);
    SPKIFormats plain(nullptr, nullptr, nullptr);  // the family needs the library; the rest does not
    EXPECT_EQ(plain.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, &family, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(plain.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(usage, 0x10u);
    EXPECT_STREQ(reinterpret_cast<char*>(t1.data), "k2a");
    EXPECT_EQ(f.GetHolderRecordKey(&r, 2, &key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);

    // A blob shorter than its header, and parts that leave the record.
    PKIBlob shortBlob{179, r.data};
    EXPECT_EQ(f.ReadHolderRecord(&shortBlob, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    PKIBlob headerOnly{200, r.data};  // version 5 needs 224 header bytes
    EXPECT_EQ(f.ReadHolderRecord(&headerOnly, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(f.GetHolderRecordKey(&headerOnly, 0, &key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    std::uint32_t saved = W(r, 112);
    SetW(r, 116, 200);  // second key's first text runs past the end
    EXPECT_EQ(f.GetHolderRecordKey(&r, 1, &key, nullptr, nullptr, nullptr, nullptr, &t1, &t2), 0);
    SetW(r, 116, 3);  // ends inside the record but not on its terminator
    EXPECT_EQ(f.GetHolderRecordKey(&r, 1, &key, nullptr, nullptr, nullptr, nullptr, &t1, &t2), 0);
    SetW(r, 112, saved);
    SetW(r, 116, 4);
    SetW(r, 92, 1);
    SetW(r, 88, 0xFFFFFFFFu);
    const std::uint8_t* optional = nullptr;
    EXPECT_EQ(f.ReadHolderRecord(&r, nullptr, nullptr, nullptr, nullptr, nullptr, &optional), 0);

    // The short text takes at most three characters and its terminator.
    PKIBlob& cur = Out();
    ASSERT_EQ(MakeHolder(f, &cur, nullptr, nullptr, 0, nullptr, 0, nullptr, "UAH", 1), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(cur.data + 176)), "UAH");
    EXPECT_EQ(W(cur, 180), 0u);
    PKIBlob& tooLong = Out();
    EXPECT_EQ(MakeHolder(f, &tooLong, nullptr, nullptr, 0, nullptr, 0, nullptr, "EURO", 1), 0);
    EXPECT_EQ(tooLong.data, nullptr);
}

// The first key's usage is the holder's, for the family of the key's request;
// the further keys carry their own.
TEST_F(Records, HolderRecordFirstKeyUsageFollowsTheHolderType)
{
    PKIBlob k1 = View("K1"), k2 = View("K2");
    PKIBlob& r = Out();
    ASSERT_EQ(MakeHolder(f, &r, nullptr, nullptr, 0, &k2, 0x10, nullptr, nullptr, 0, &k1), 1);
    struct Row {
        std::uint32_t type, kind, family, usage;
    };
    const Row rows[] = {{1, 0, 1, 0x60}, {4, 0, 1, 3}, {4, 3, 2, 0x21}, {2, 2, 4, 3}, {2, 0, 1, 0}, {5, 6, 1, 0}};
    for (const Row& row : rows) {
        SetW(r, 80, row.type);
        SetW(r, 84, row.kind);
        lib.requestKeyKinds["K1"] = row.family;
        std::uint32_t usage = 0xDEAD, family = 0;
        PKIBlob key{0, nullptr};
        ASSERT_EQ(f.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, &family, &usage, nullptr, nullptr), 1);
        EXPECT_EQ(usage, row.usage) << row.type << "/" << row.kind;
        EXPECT_EQ(family, row.family);
        ASSERT_EQ(f.GetHolderRecordKey(&r, 1, &key, nullptr, nullptr, nullptr, &usage, nullptr, nullptr), 1);
        EXPECT_EQ(usage, 0x10u);
    }
    EXPECT_EQ(lib.LiveObjects(), 0);
    // The holder's usage needs the request's family, hence the library.
    SPKIFormats plain(nullptr, nullptr, nullptr);
    std::uint32_t usage = 0;
    PKIBlob key{0, nullptr};
    EXPECT_EQ(plain.GetHolderRecordKey(&r, 0, &key, nullptr, nullptr, nullptr, &usage, nullptr, nullptr), 0);
}

TEST_F(Records, UpgradeMovesPartsBehindTheNewHeader)
{
    // A version-1 record with a second key part, built by hand.
    std::vector<std::uint8_t> v1(180 + 3, 0);
    PKIBlob r{static_cast<std::uint32_t>(v1.size()), v1.data()};
    SetW(r, 0, 1);
    SetW(r, 4, 180);
    SetW(r, 160, 180);
    SetW(r, 164, 3);
    SetW(r, 168, 0);
    std::memcpy(v1.data() + 180, "KEY", 3);
    PKIBlob& up = Out();
    ASSERT_EQ(f.UpgradeHolderRecord(6, &r, &up), 1);
    EXPECT_EQ(up.length, 248u + 3);
    EXPECT_EQ(W(up, 0), 6u);
    EXPECT_EQ(W(up, 4), 248u);
    EXPECT_EQ(W(up, 160), 248u);
    EXPECT_EQ(W(up, 216), 17u);
    EXPECT_EQ(W(up, 180), 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(up.data + 248), 3), "KEY");
    PKIBlob& same = Out();
    ASSERT_EQ(f.UpgradeHolderRecord(1, &up, &same), 1);  // never downgrades
    EXPECT_EQ(Of(same), Of(up));

    SetW(r, 160, 0xFFFFFFFEu);  // offset + length wraps in 32 bits
    PKIBlob& bad = Out();
    EXPECT_EQ(f.UpgradeHolderRecord(6, &r, &bad), 0);
    std::uint32_t h = 0;
    EXPECT_EQ(f.GetHolderRecordHeaderSize(5, &h), 1);
    EXPECT_EQ(h, 224u);
    EXPECT_EQ(f.GetHolderRecordHeaderSize(7, &h), 0);
    std::uint32_t v = 0;
    EXPECT_EQ(f.HolderDataVersionByLength(2197, &v), 1);
    EXPECT_EQ(v, 4u);
    EXPECT_EQ(f.HolderDataVersionByLength(2198, &v), 0);
}

TEST_F(Records, FlatRecordsKnownLayouts)
{
    PKIBlob& a = Out();
    ASSERT_EQ(f.PackRecordA(7, nullptr, nullptr, 9, nullptr, &a), 1);
    EXPECT_EQ(Of(a), Le({1, 48, 7, 0, 0, 0, 0, 0, 0, 9, 0, 0}));

    std::uint8_t v16[16];
    for (int i = 0; i < 16; ++i) v16[i] = static_cast<std::uint8_t>(i + 1);
    PKIBlob data = View("xyz");
    PKIBlob& a2 = Out();
    ASSERT_EQ(f.PackRecordA(2, v16, "ab", 5, &data, &a2), 1);
    std::vector<std::uint8_t> expect = Le({1, 48, 2, 0x04030201, 0x08070605, 0x0C0B0A09, 0x100F0E0D, 2, 48, 5, 3, 50});
    for (char c : std::string("abxyz")) expect.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(Of(a2), expect);
    std::uint32_t kind = 0, value = 0;
    std::uint8_t back16[16];
    char text[PKIF_RECORD_TEXT_MAX + 1];
    PKIBlob& outData = Out();
    ASSERT_EQ(f.UnpackRecordA(&a2, &kind, back16, text, &value, &outData), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(value, 5u);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(std::memcmp(back16, v16, 16), 0);
    EXPECT_EQ(Of(outData), std::vector<std::uint8_t>({'x', 'y', 'z'}));

    PKIBlob& b = Out();
    ASSERT_EQ(f.PackRecordB(3, 4, "t", &data, &b), 1);
    std::vector<std::uint8_t> eb = Le({1, 32, 3, 4, 32, 1, 33, 3});
    for (char c : std::string("txyz")) eb.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(Of(b), eb);
    PKIBlob b31{31, b.data};
    EXPECT_EQ(f.UnpackRecordB(&b31, &kind, &value, text, nullptr), 0);
    SetW(b, 4, 33);
    EXPECT_EQ(f.UnpackRecordB(&b, &kind, &value, text, nullptr), 0);

    PKIBlob& c = Out();
    PKIBlob d2 = View("22");
    ASSERT_EQ(f.PackRecordC(1, "T", nullptr, &data, &d2, &c), 1);
    std::vector<std::uint8_t> ec = Le({1, 52, 1, 52, 1, 0, 0, 0, 0, 53, 3, 56, 2});
    for (char ch : std::string("Txyz22")) ec.push_back(static_cast<std::uint8_t>(ch));
    EXPECT_EQ(Of(c), ec);
    PKIBlob& c1 = Out();
    PKIBlob& c2 = Out();
    ASSERT_EQ(f.UnpackRecordC(&c, &kind, text, back16, &c1, &c2), 1);
    EXPECT_EQ(Of(c2), std::vector<std::uint8_t>({'2', '2'}));

    PKIBlob& d = Out();
    ASSERT_EQ(f.PackRecordD(8, &data, &d), 1);
    std::vector<std::uint8_t> ed = Le({1, 20, 8, 20, 3});
    for (char ch : std::string("xyz")) ed.push_back(static_cast<std::uint8_t>(ch));
    EXPECT_EQ(Of(d), ed);
    PKIBlob& e = Out();
    ASSERT_EQ(f.PackRecordE(8, &data, &e), 1);
    EXPECT_EQ(Of(e), ed);

    PKIBlob& s = Out();
    ASSERT_EQ(f.PackShortText("13 characters", &s), 1);
    EXPECT_EQ(s.length, 18u);
    PKIBlob& s14 = Out();
    EXPECT_EQ(f.PackShortText("14 characters!", &s14), 0);
    char st[PKIF_SHORT_TEXT_BYTES];
    ASSERT_EQ(f.UnpackShortText(&s, st), 1);
    EXPECT_STREQ(st, "13 characters");
    s.data[17] = 'x';  // no terminator within the 14 text bytes
    EXPECT_EQ(f.UnpackShortText(&s, st), 0);

    PKIBlob& g = Out();
    ASSERT_EQ(f.PackWordB(0xCAFE, &g), 1);
    EXPECT_EQ(Of(g), Le({1, 0xCAFE}));
    EXPECT_EQ(f.UnpackWordA(&g, &value), 1);
    EXPECT_EQ(value, 0xCAFEu);
    PKIBlob g7{7, g.data};
    EXPECT_EQ(f.UnpackWordB(&g7, &value), 0);
}

TEST_F(Records, FlatRecordLimitsAndStrayParts)
{
    std::string t1024(1024, 't'), t1025(1025, 't');
    PKIBlob& ok = Out();
    EXPECT_EQ(f.PackRecordA(0, nullptr, t1024.c_str(), 0, nullptr, &ok), 1);
    PKIBlob& refused = Out();
    EXPECT_EQ(f.PackRecordA(0, nullptr, t1025.c_str(), 0, nullptr, &refused), 0);
    EXPECT_EQ(f.PackRecordB(0, 0, t1025.c_str(), nullptr, &refused), 0);
    // Record C: the writer refuses what its reader would refuse.
    EXPECT_EQ(f.PackRecordC(0, t1025.c_str(), nullptr, nullptr, nullptr, &refused), 0);
    PKIBlob& c = Out();
    ASSERT_EQ(f.PackRecordC(0, t1024.c_str(), nullptr, nullptr, nullptr, &c), 1);
    char text[PKIF_RECORD_TEXT_MAX + 1];
    std::uint32_t kind = 0;
    EXPECT_EQ(f.UnpackRecordC(&c, &kind, text, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::strlen(text), 1024u);

    PKIBlob data = View("DATA");
    PKIBlob& a = Out();
    ASSERT_EQ(f.PackRecordA(0, nullptr, "x", 0, &data, &a), 1);
    struct Damage {
        std::uint32_t at, value;
    } cases[] = {{0, 2}, {4, 47}, {28, 1025}, {32, 0xFFFFFFFFu}, {40, 5}, {44, 0xFFFFFFFEu}, {44, 50}};
    for (const Damage& d : cases) {
        std::vector<std::uint8_t> copy = Of(a);
        PKIBlob r{a.length, copy.data()};
        SetW(r, d.at, d.value);
        std::uint32_t k = 77;
        PKIBlob out{0, nullptr};
        EXPECT_EQ(f.UnpackRecordA(&r, &k, nullptr, text, nullptr, &out), 0) << d.at << "=" << d.value;
        EXPECT_EQ(k, 77u);
        EXPECT_EQ(out.data, nullptr);
    }
    PKIBlob& dd = Out();
    ASSERT_EQ(f.PackRecordD(0, &data, &dd), 1);
    SetW(dd, 16, 5);
    EXPECT_EQ(f.UnpackRecordD(&dd, &kind, nullptr), 0);
}

TEST_F(Records, MarkedBlobsAndTimeShifts)
{
    std::string marked = std::string("Enis\0\0\0\x02\x00", 9) + std::string(8, 'h') + "payload" + "tr";
    PKIBlob m = View(marked);
    std::uint32_t format = 0;
    lib.log.clear();
    // The key reader is not built yet: the call still goes through it.
    EXPECT_EQ(f.ReadMarkedBlob(&m, "pw", &format, nullptr), 0);
    ASSERT_EQ(lib.log.size(), 2u);
    EXPECT_EQ(lib.log[0], "0:6(7)");
    EXPECT_EQ(lib.log[1], "0:7(7)");
    std::string lower = marked;
    lower[0] = 'e';
    PKIBlob l = View(lower);
    EXPECT_EQ(f.ReadMarkedBlob(&l, "pw", &format, nullptr), 0);
    PKIBlob sixteen{16, m.data};
    EXPECT_EQ(f.ReadMarkedBlob(&sixteen, "pw", &format, nullptr), 0);
    std::string longTrail = marked;
    longTrail[8] = 1;  // trailing part of 258 bytes: more than the blob holds
    PKIBlob lt = View(longTrail);
    EXPECT_EQ(f.ReadMarkedBlob(&lt, "pw", &format, nullptr), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);

    SYSTEMTIME t{2024, 2, 0, 28, 23, 0, 0, 0}, out{};
    // Ten hours (36,000 s = 0x53D1AC1000 ticks of 100 ns) into a leap day.
    ASSERT_EQ(f.AddToSystemTime(&t, 0xD1AC1000u, 0x53, &out), 1);
    EXPECT_EQ(out.wMonth, 2);
    EXPECT_EQ(out.wDay, 29);
    EXPECT_EQ(out.wHour, 9);
    SYSTEMTIME bad{2024, 2, 0, 30, 0, 0, 0, 0};
    out = SYSTEMTIME{};
    EXPECT_EQ(f.AddToSystemTime(&bad, 1, 0, &out), 0);
    EXPECT_EQ(out.wYear, 0);
}

TEST_F(Records, HolderDataVersionsAndMerging)
{
    struct Case {
        std::uint32_t at;
        std::uint8_t value;
        std::uint32_t version;
    } cases[] = {{4, 'x', 1},    {1834, 'x', 2}, {1935, 1, 2},   {1937, 'h', 3}, {2194, 'U', 4},
                 {2197, '1', 5}, {2309, 'o', 6}, {2438, 'o', 6}, {2824, 1, 7}};
    for (const Case& c : cases) {
        std::vector<std::uint8_t> area(PKIF_HOLDER_DATA_AREA, 0);
        area[c.at] = c.value;
        std::uint32_t v = 0;
        ASSERT_EQ(f.GetHolderDataVersion(area.data(), &v), 1);
        EXPECT_EQ(v, c.version) << c.at;
    }
    std::vector<std::uint8_t> target(PKIF_HOLDER_DATA_AREA, 0), source(PKIF_HOLDER_DATA_AREA, 0);
    target[1830] = 3;
    target[4] = 'T';
    source[1830] = 7;
    source[2212] = 'A';
    source[2822] = 'Z';
    source[2823] = 0x05;
    source[4] = 'S';
    ASSERT_EQ(f.MergeHolderData(target.data(), source.data()), 1);
    EXPECT_EQ(target[1830], 7);
    EXPECT_EQ(target[2212], 'A');
    EXPECT_EQ(target[2822], 'Z');
    EXPECT_EQ(target[2823], 0x05);
    EXPECT_EQ(target[4], 'T');  // only the organisation texts and the flags
    source[1830] = 5;
    source[2212] = 'B';
    ASSERT_EQ(f.MergeHolderData(target.data(), source.data()), 1);
    EXPECT_EQ(target[2212], 'A');
}

// Each removable-part flag empties its own part and no other; blocks below
// layout 7 or without flags are left as they are.
TEST_F(Records, TrimmingHolderDataEmptiesTheFlaggedParts)
{
    const std::uint32_t parts[20] = {4,   69,  198,  327,  392,  457,  522,  651,  684,  725,
                                     758, 887, 1144, 1155, 1166, 1173, 1834, 1867, 1900, 1937};
    std::vector<std::uint8_t> full(PKIF_HOLDER_DATA_AREA, 0);
    for (std::uint32_t at : parts) full[at] = full[at + 1] = 'p';
    for (std::uint32_t at : {2194u, 2197u, 2212u, 2309u, 2438u, 1180u, 1693u}) full[at] = 'k';
    full[1830] = 7;
    for (unsigned bit = 0; bit < 20; ++bit) {
        std::vector<std::uint8_t> area = full;
        area[2823 + bit / 8] = static_cast<std::uint8_t>(1u << (bit % 8));
        std::vector<std::uint8_t> expected = area;
        expected[parts[bit]] = 0;
        ASSERT_EQ(f.TrimHolderData(area.data()), 1);
        EXPECT_EQ(area, expected) << "bit " << bit;
    }
    std::vector<std::uint8_t> area = full;
    area[2823] = area[2824] = 0xFF;
    area[2825] = 0xFF;  // bits 20 to 23 name no part
    ASSERT_EQ(f.TrimHolderData(area.data()), 1);
    for (std::uint32_t at : parts) EXPECT_EQ(area[at], 0) << at;
    for (std::uint32_t at : {2194u, 2197u, 2212u, 2309u, 2438u, 1180u, 1693u}) EXPECT_EQ(area[at], 'k') << at;

    area = full;
    area[1830] = 6;
    area[2823] = 0xFF;
    std::vector<std::uint8_t> before = area;
    ASSERT_EQ(f.TrimHolderData(area.data()), 1);
    EXPECT_EQ(area, before);
    area = full;
    ASSERT_EQ(f.TrimHolderData(area.data()), 1);
    EXPECT_EQ(area, full);
    EXPECT_EQ(f.TrimHolderData(nullptr), 0);
}

namespace {

// A holder record of `version` built by hand: every text pair its version has
// holds its own text behind the header, so that an upgrade that leaves any
// pair's offset behind reads the wrong bytes.
std::vector<std::uint8_t> HandMadeHolder(std::uint32_t version,
                                         std::vector<std::pair<std::uint32_t, std::string>>* texts)
{
    static const std::uint32_t header[] = {0, 180, 184, 208, 216, 224, 248};
    std::vector<std::uint32_t> at = {96, 104, 112, 120, 128, 136};
    if (version >= 3) at.insert(at.end(), {184, 192});
    if (version >= 4) at.push_back(208);
    std::vector<std::uint8_t> r(header[version], 0);
    auto put = [&r](std::uint32_t where, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) r[where + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(0, version);
    put(4, header[version]);
    for (std::uint32_t pair : at) {
        std::string text = "text at " + std::to_string(pair);
        put(pair, static_cast<std::uint32_t>(r.size()));
        put(pair + 4, static_cast<std::uint32_t>(text.size() + 1));
        r.insert(r.end(), text.begin(), text.end());
        r.push_back(0);
        texts->push_back({pair, text});
    }
    return r;
}

}  // namespace

TEST_F(Records, UpgradeFromEachOlderVersionKeepsEveryText)
{
    for (std::uint32_t from = 1; from <= 5; ++from) {
        std::vector<std::pair<std::uint32_t, std::string>> texts;
        std::vector<std::uint8_t> bytes = HandMadeHolder(from, &texts);
        PKIBlob r{static_cast<std::uint32_t>(bytes.size()), bytes.data()};
        PKIBlob& up = Out();
        ASSERT_EQ(f.UpgradeHolderRecord(6, &r, &up), 1) << from;
        EXPECT_EQ(W(up, 0), 6u);
        EXPECT_EQ(W(up, 4), 248u);
        for (const auto& [pair, text] : texts) {
            std::uint32_t off = W(up, pair), len = W(up, pair + 4);
            ASSERT_LE(std::uint64_t{off} + len, up.length) << from << " pair " << pair;
            EXPECT_EQ(std::string(reinterpret_cast<char*>(up.data + off), len), text + '\0')
                << "from version " << from << ", pair " << pair;
        }
        const char* text9 = nullptr;
        if (from >= 4) {
            ASSERT_EQ(f.GetHolderRecordText(&up, &text9), 1) << from;
            EXPECT_STREQ(text9, "text at 208");
        } else {
            EXPECT_EQ(f.GetHolderRecordText(&up, &text9), 0) << from;  // no text 9 before version 4
        }
    }
}

TEST_F(Records, RecordCRefusesASecondPartPastTheBlob)
{
    PKIBlob one = View("ONE"), two = View("TWO");
    PKIBlob& c = Out();
    ASSERT_EQ(f.PackRecordC(3, "T", nullptr, &one, &two, &c), 1);
    ASSERT_EQ(W(c, 44) + W(c, 48), c.length);  // the second part ends the record
    struct Damage {
        std::uint32_t at, value;
    } cases[] = {{48, 4}, {44, W(c, 44) + 1}, {44, c.length}, {44, 0xFFFFFFFEu}, {48, 0xFFFFFFFFu}};
    for (const Damage& d : cases) {
        for (bool wantSecond : {true, false}) {
            std::vector<std::uint8_t> copy = Of(c);
            PKIBlob r{c.length, copy.data()};
            SetW(r, d.at, d.value);
            std::uint32_t kind = 77;
            PKIBlob first{0, nullptr}, second{0, nullptr};
            EXPECT_EQ(f.UnpackRecordC(&r, &kind, nullptr, nullptr, &first, wantSecond ? &second : nullptr), 0)
                << d.at << "=" << d.value;
            EXPECT_EQ(kind, 77u);
            EXPECT_EQ(first.data, nullptr);  // the first part is not handed out (nor left allocated)
            EXPECT_EQ(second.data, nullptr);
        }
    }
}
