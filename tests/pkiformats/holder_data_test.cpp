// Holder data areas compared by layout version, the alternative-name URI,
// areas read from requests and the certificate information record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "pkiformats/CertificateInfo.h"
#include "pkiformats/HolderDataLayout.h"
#include "pkiformats/SPKIFormats.h"

using qvktest::SlotOf;

namespace {

using Area = std::vector<std::uint8_t>;

void Text(Area& a, std::uint32_t at, const std::string& s)
{
    std::memcpy(a.data() + at, s.c_str(), s.size() + 1);
}

void Word(Area& a, std::uint32_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) a[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A holder of layout `version` with every field of that layout filled
// (offsets written out from the area's layout, not taken from the table).
Area Holder(std::uint32_t version)
{
    Area a(PKIF_HOLDER_DATA_AREA, 0);
    Text(a, 4, "Common");
    Text(a, 69, "Locality");
    Text(a, 198, "State");
    Text(a, 327, "Org");
    Text(a, 392, "Unit");
    Text(a, 457, "Title");
    Text(a, 522, "mail@example.org");
    Text(a, 651, "host");
    Text(a, 684, "Surname");
    Text(a, 725, "Given");
    Text(a, 758, "one;two");
    Text(a, 887, "ip");
    Text(a, 1144, "1234567890");
    Text(a, 1155, "0987654321");
    Text(a, 1166, "AB1234");
    Text(a, 1173, "CD5678");
    Text(a, 1180, "text A");
    Text(a, 1693, "text B");
    Word(a, 1822, 0x11);
    Word(a, 1830, version);
    if (version >= 2) {
        Text(a, 1834, "five");
        Text(a, 1867, "six");
        Text(a, 1900, "seven");
        Word(a, 1933, 0x22);
    }
    if (version >= 3) Text(a, 1937, "https://example.org/holder");
    if (version >= 4) Text(a, 2194, "UA");
    if (version >= 5) Text(a, 2197, "12345678");
    if (version >= 6) {
        Text(a, 2212, "first");
        Text(a, 2309, "second");
        Text(a, 2438, "third");
    }
    if (version >= 7) Word(a, 2823, 0x5);
    return a;
}

}  // namespace

TEST(HolderDataLayout, BlockLengthsAndFieldCapacities)
{
    const std::uint32_t lengths[] = {1830, 1937, 2194, 2197, 2212, 2823, 2827};
    for (std::uint32_t v = 1; v <= 7; ++v) EXPECT_EQ(pkif::HolderBlockLength(v), lengths[v - 1]) << v;
    // A text fills its field to one byte short of its size; one more is refused
    // and the field keeps what it held.
    Area a(PKIF_HOLDER_DATA_AREA, 0);
    EXPECT_TRUE(pkif::PutFieldText(a.data(), pkif::HolderField::AltName4, std::string(32, 'x').c_str()));
    EXPECT_EQ(a[651 + 32], 0);
    EXPECT_FALSE(pkif::PutFieldText(a.data(), pkif::HolderField::AltName4, std::string(33, 'y').c_str()));
    EXPECT_EQ(a[651], 'x');
    EXPECT_EQ(a[684], 0);  // the surname behind it untouched
    EXPECT_FALSE(pkif::PutFieldText(a.data(), pkif::HolderField::AltName2, std::string(257, 'z').c_str()));
    EXPECT_EQ(a[887], 0);
    EXPECT_FALSE(pkif::PutFieldText(a.data(), pkif::HolderField::Attribute431, "1234567"));
}

TEST(HolderDataLayout, ObjectModelSlots)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OBJECT_MODEL_SLOTS_HOLDER_DATA(QVK_SLOT)
#undef QVK_SLOT
}

TEST(HolderData, EqualByLayoutVersion)
{
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    struct Case {
        const char* name;
        std::uint32_t vx, vy;
        std::function<void(Area&, Area&)> change;
        int strict, lenient;
    } cases[] = {
        {"same v7", 7, 7, [](Area&, Area&) {}, 1, 1},
        {"same v1", 1, 1, [](Area&, Area&) {}, 1, 1},
        {"common name", 7, 7, [](Area&, Area& y) { Text(y, 4, "Other"); }, 0, 0},
        {"text A", 3, 3, [](Area&, Area& y) { Text(y, 1180, "other A"); }, 0, 0},
        {"attribute .4.4.1", 2, 2, [](Area&, Area& y) { Text(y, 1173, "X"); }, 0, 0},
        {"word A only", 7, 7, [](Area&, Area& y) { Word(y, 1822, 9); }, 0, 1},
        {"word B only", 7, 7, [](Area&, Area& y) { Word(y, 1933, 9); }, 0, 1},
        {"organisation texts only", 7, 7, [](Area&, Area& y) { Text(y, 2309, "other"); }, 0, 1},
        {"removable parts only", 7, 7, [](Area&, Area& y) { Word(y, 2823, 1); }, 0, 1},
        {"attribute .4.5.1", 2, 5, [](Area&, Area& y) { Text(y, 1834, "x"); }, 0, 0},
        {"kind 6 URI", 3, 3, [](Area&, Area& y) { Text(y, 1937, "x"); }, 0, 0},
        {"v3 against v5, country set", 3, 5, [](Area&, Area& y) { y[2197] = 0; }, 0, 0},
        {"v3 against v5, country and .4.11.1 empty", 3, 5,
         [](Area&, Area& y) {
             y[2194] = 0;
             y[2197] = 0;
         },
         1, 1},
        {"v5 against v3, .4.11.1 set", 5, 3, [](Area& x, Area&) { x[2194] = 0; }, 0, 0},
        {"v5 against v7, organisation text set", 5, 7, [](Area&, Area& y) { Word(y, 2823, 0); }, 0, 1},
        {"v6 against v7, flags set", 6, 7, [](Area&, Area&) {}, 0, 1},
        {"v6 against v7, flags clear", 6, 7, [](Area&, Area& y) { Word(y, 2823, 0); }, 1, 1},
        {"version 0 counts as 1", 1, 1, [](Area& x, Area&) { Word(x, 1830, 0); }, 1, 1},
        {"unknown version", 7, 7, [](Area& x, Area&) { Word(x, 1830, 8); }, 0, 0},
        // Fields without a terminator end at their size: text B runs into
        // word A and the attribute .4.11.1 into the organisation texts.
        {"unterminated text B, word A differs", 7, 7,
         [](Area& x, Area& y) {
             std::memset(x.data() + 1693, 'b', 129);
             std::memset(y.data() + 1693, 'b', 129);
             Word(y, 1822, 0x7F);
         },
         0, 1},
        {"unterminated .4.11.1, organisation texts differ", 7, 7,
         [](Area& x, Area& y) {
             std::memset(x.data() + 2197, '7', 15);
             std::memset(y.data() + 2197, '7', 15);
             Text(y, 2212, "another");
         },
         0, 1},
        {"unterminated common name, equal", 7, 7,
         [](Area& x, Area& y) {
             std::memset(x.data() + 4, 'c', 65);
             std::memset(y.data() + 4, 'c', 65);
         },
         1, 1},
    };
    for (const Case& c : cases) {
        Area x = Holder(c.vx), y = Holder(c.vy);
        c.change(x, y);
        EXPECT_EQ(f.HolderDataEqual(x.data(), y.data(), 0), c.strict) << c.name;
        EXPECT_EQ(f.HolderDataEqual(x.data(), y.data(), 1), c.lenient) << c.name << " (lenient)";
        EXPECT_EQ(f.HolderDataEqual(y.data(), x.data(), 0), c.strict) << c.name << " (swapped)";
    }
    Area x = Holder(7);
    EXPECT_EQ(f.HolderDataEqual(x.data(), nullptr, 1), 0);
    // A last text without a terminator is not read past the area's end.
    Area tail(PKIF_HOLDER_DATA_AREA, 0), same(PKIF_HOLDER_DATA_AREA, 0);
    Word(tail, 1830, 6);
    Word(same, 1830, 6);
    std::memset(tail.data() + 2438, 't', 385);
    std::memset(same.data() + 2438, 't', 385);
    EXPECT_EQ(f.HolderDataEqual(tail.data(), same.data(), 0), 1);
}

namespace {

class AltNames : public ::testing::Test {
protected:
    void TearDown() override
    {
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::AltNamesScript script;
};

}  // namespace

TEST_F(AltNames, LastKindSixEntryOfCertificateOrRequest)
{
    script.names = {{6, L"http://first.example"}, {2, L"10.0.0.1"}, {6, L"http://last.example"}, {5, L"a@b"}};
    char uri[257];
    auto* certificate = new fake::AltNamesCertificate(lib, script);
    EXPECT_EQ(f.GetAltNameURI(certificate, uri), 1);
    EXPECT_STREQ(uri, "http://last.example");
    certificate->Release();
    auto* request = new fake::AltNamesRequest(lib, script);
    std::memset(uri, 'q', sizeof uri);
    EXPECT_EQ(f.GetAltNameURI(request, uri), 1);
    EXPECT_STREQ(uri, "http://last.example");
    EXPECT_EQ(f.GetAltNameURI(request, nullptr), 1);

    script.hasNames = false;  // no alternative names: 1, output empty
    std::memset(uri, 'q', sizeof uri);
    EXPECT_EQ(f.GetAltNameURI(request, uri), 1);
    EXPECT_EQ(uri[0], 0);
    script.hasNames = true;
    script.names = {{2, L"x"}};
    EXPECT_EQ(f.GetAltNameURI(request, uri), 1);
    EXPECT_EQ(uri[0], 0);
    request->Release();
    EXPECT_EQ(f.GetAltNameURI(nullptr, uri), 0);
}

// The output holds 256 characters and the terminator; a longer URI is
// refused rather than written past it.
TEST_F(AltNames, OverlongURIIsRefused)
{
    auto* request = new fake::AltNamesRequest(lib, script);
    std::vector<char> out(400, 'q');
    script.names = {{6, std::wstring(256, L'u')}};
    EXPECT_EQ(f.GetAltNameURI(request, out.data()), 1);
    EXPECT_EQ(std::strlen(out.data()), 256u);
    script.names = {{6, L"http://fits.example"}, {6, std::wstring(257, L'v')}};
    std::fill(out.begin(), out.end(), 'q');
    EXPECT_EQ(f.GetAltNameURI(request, out.data()), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 'q');
    request->Release();
}

TEST(AltNamesSweep, EveryFailureIsReportedAndNothingLeaks)
{
    fake::SweepFailures(
        "GetAltNameURI",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::AltNamesScript s;
            s.names = {{2, L"x"}, {6, L"http://a.example"}};
            auto* request = new fake::AltNamesRequest(lib, s);
            char uri[257];
            int rc = f.GetAltNameURI(request, uri);
            request->Release();
            return rc;
        },
        true);
}

namespace {

class FromRequest : public AltNames {
protected:
    void SetUp() override { fake::UseAltNamesRequests(lib, script); }
    std::uint8_t encoded[4] = {0x30, 0x02, 0x05, 0x00};
    PKIBlob blob{sizeof encoded, encoded};
};

}  // namespace

// The request's texts are read through the facade's request texts, which
// answer 0 until they are built: the area is cleared (its first 2,827 bytes,
// the byte after them is the caller's) and the result is 0.
TEST_F(FromRequest, FailuresClearTheArea)
{
    Area area(PKIF_HOLDER_DATA_AREA, 0xCC);
    std::uint32_t named = 7;
    EXPECT_EQ(f.ReadHolderDataFromRequest(&blob, &named, area.data()), 0);
    EXPECT_EQ(named, 0u);
    for (std::uint32_t i = 0; i < 2827; ++i) ASSERT_EQ(area[i], 0) << i;
    EXPECT_EQ(area[2827], 0xCC);

    script.contentAnswer = PKI_E_FAILURE;  // the request's own check fails first
    lib.log.clear();
    std::fill(area.begin(), area.end(), 0xCC);
    EXPECT_EQ(f.ReadHolderDataFromRequest(&blob, nullptr, area.data()), 0);
    EXPECT_EQ(area[0], 0);
    EXPECT_EQ(lib.log.back(), std::to_string(PKI_CLASS_REQUEST) + ":1()");

    lib.Answer(PKI_CLASS_REQUEST, 4, {PKI_E_FAILURE});  // it does not decode
    EXPECT_EQ(f.ReadHolderDataFromRequest(&blob, &named, area.data()), 0);
    EXPECT_EQ(f.ReadHolderDataFromRequest(nullptr, &named, area.data()), 0);
}

TEST(CertificateInfoRecord, FreeingClearsEveryField)
{
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    CertificateInfo info;
    std::memset(&info, 0, sizeof info);
    info.filled = 1;
    char** fields[] = {&info.issuerName,      &info.issuerCommonName,  &info.serialNumber,
                       &info.subjectName,     &info.subjectCommonName, &info.subjectOrganisation,
                       &info.subjectUnit,     &info.subjectTitle,      &info.subjectState,
                       &info.subjectLocality, &info.subjectPersonName, &info.altName5,
                       &info.altName4,        &info.altName1,          &info.altName2,
                       &info.attribute421,    &info.attribute411};
    static_assert(sizeof fields / sizeof *fields == kCertificateInfoTexts);
    for (char** field : fields) {
        *field = new char[4];
        std::memcpy(*field, "abc", 4);
    }
    EXPECT_EQ(f.FreeCertificateInfo(&info), 0);
    CertificateInfo zero;
    std::memset(&zero, 0, sizeof zero);
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    EXPECT_EQ(f.FreeCertificateInfo(&info), 0);  // twice: nothing left to free

    // The certificate texts answer 0 until they are built: the record is
    // cleared and stays empty.
    fake::AltNamesScript none;
    auto* certificate = new fake::AltNamesCertificate(lib, none);
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(f.FillCertificateInfo(&info, certificate), 0);
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof info), 0);
    certificate->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

namespace {

std::uint32_t W(const PKIBlob& b, std::uint32_t at)
{
    return b.data[at] | b.data[at + 1] << 8 | b.data[at + 2] << 16 | static_cast<std::uint32_t>(b.data[at + 3]) << 24;
}

bool AllZero(const PKIBlob& b, std::uint32_t from, std::uint32_t to)
{
    for (std::uint32_t i = from; i < to; ++i)
        if (b.data[i]) return false;
    return true;
}

// The fake's name hashes: GOST byte i is i + 1, SHA byte i is 0x80 + i.
bool GOSTAt(const PKIBlob& b, std::uint32_t at)
{
    for (std::uint32_t i = 0; i < 32; ++i)
        if (b.data[at + i] != i + 1) return false;
    return true;
}
bool SHAAt(const PKIBlob& b, std::uint32_t at, std::uint32_t slot)
{
    for (std::uint32_t i = 0; i < 20; ++i)
        if (b.data[at + i] != 0x80 + i) return false;
    return AllZero(b, at + 20, at + slot);
}
// A serial number given as INTEGER 0x0102 + k, right-aligned in 20 bytes.
std::string Integer(std::uint8_t k)
{
    return std::string("\x02\x02\x01", 3) + static_cast<char>(k);
}
bool SerialAt(const PKIBlob& b, std::uint32_t at, std::uint8_t k)
{
    return AllZero(b, at, at + 18) && b.data[at + 18] == 1 && b.data[at + 19] == k;
}

class References : public ::testing::Test {
protected:
    void TearDown() override
    {
        f.ReleaseBlob(&out);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.doubleReleases, 0);
    }
    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    PKIBlob out{0, nullptr};
};

}  // namespace

TEST_F(References, KeyListLayouts)
{
    std::uint8_t v[4][32];
    for (int i = 0; i < 4; ++i) std::memset(v[i], 0x41 + i, 32);
    ASSERT_EQ(f.MakeReferenceRecordForValue(nullptr, nullptr, v[0], 7, 8, 9, &out), 1);
    ASSERT_EQ(out.length, 112u);
    EXPECT_EQ(W(out, 0), 1u);
    EXPECT_EQ(std::memcmp(out.data + 4, v[0], 32), 0);
    EXPECT_TRUE(AllZero(out, 36, 100));
    EXPECT_EQ(W(out, 100), 7u);
    EXPECT_EQ(W(out, 104), 8u);
    EXPECT_EQ(W(out, 108), 9u);
    f.ReleaseBlob(&out);

    const std::uint8_t* three[] = {v[0], v[1], v[2]};
    ASSERT_EQ(f.MakeReferenceRecord(nullptr, nullptr, 3, three, 1, 2, 3, &out), 1);
    ASSERT_EQ(out.length, 112u);
    EXPECT_EQ(W(out, 0), 3u);
    EXPECT_EQ(std::memcmp(out.data + 68, v[2], 32), 0);
    EXPECT_EQ(W(out, 108), 3u);
    f.ReleaseBlob(&out);

    const std::uint8_t* four[] = {v[0], v[1], v[2], v[3]};
    ASSERT_EQ(f.MakeReferenceRecord(nullptr, nullptr, 4, four, 1, 2, 3, &out), 1);
    ASSERT_EQ(out.length, 144u);
    EXPECT_EQ(W(out, 0), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(std::memcmp(out.data + 4 + 32 * i, v[i], 32), 0) << i;
    EXPECT_EQ(W(out, 132), 1u);
    EXPECT_EQ(W(out, 136), 2u);
    EXPECT_EQ(W(out, 140), 3u);
    f.ReleaseBlob(&out);

    const std::uint8_t* five[] = {v[0], v[1], v[2], v[3], v[0]};
    EXPECT_EQ(f.MakeReferenceRecord(nullptr, nullptr, 5, five, 1, 2, 3, &out), 0);
    EXPECT_EQ(f.MakeReferenceRecord(nullptr, nullptr, 0, five, 1, 2, 3, &out), 0);
    EXPECT_EQ(f.MakeReferenceRecordForValue(nullptr, nullptr, nullptr, 1, 2, 3, &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

// A key lists its own identifiers: two RSA keys of a container give a
// 112-byte record of two values; the caller's list is not read.
TEST_F(References, KeyListFromAKeyContainer)
{
    auto* container = new fake::KeyContainer(lib);
    for (std::uint8_t b : {0x42, 0x43}) {
        auto* key = new fake::KeyObject(lib);
        key->capabilities = 2;
        key->rsaId.assign(32, b);
        container->Add(key, 2);
    }
    ASSERT_EQ(f.MakeReferenceRecord(nullptr, container, 0, nullptr, 7, 8, 9, &out), 1);
    ASSERT_EQ(out.length, 112u);
    EXPECT_EQ(W(out, 0), 2u);
    EXPECT_EQ(out.data[4], 0x42);
    EXPECT_EQ(out.data[35], 0x42);
    EXPECT_EQ(out.data[36], 0x43);
    EXPECT_EQ(out.data[67], 0x43);
    EXPECT_TRUE(AllZero(out, 68, 100));
    EXPECT_EQ(W(out, 100), 7u);
    EXPECT_EQ(W(out, 108), 9u);
    f.ReleaseBlob(&out);
    // The one-value form with a key and no value lists the key's identifiers too.
    ASSERT_EQ(f.MakeReferenceRecordForValue(nullptr, container, nullptr, 1, 2, 3, &out), 1);
    ASSERT_EQ(out.length, 112u);
    EXPECT_EQ(W(out, 0), 2u);
    f.ReleaseBlob(&out);
    // A key without identifiers gives no record.
    auto* bare = new fake::KeyContainer(lib);
    EXPECT_EQ(f.MakeReferenceRecord(nullptr, bare, 0, nullptr, 7, 8, 9, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    bare->Release();
    container->Release();
}

// An RSA certificate with a DSTU 4145 companion: the short form with only the
// SHA-1 hash copied, both kinds and both serial numbers.
TEST_F(References, CertificateListShortForm)
{
    for (std::uint32_t version : {270u, 256u}) {
        lib.version = version;
        auto* dstu = new fake::ReferenceCertificate(lib, 1, Integer(2));
        auto* rsa = new fake::ReferenceCertificate(lib, 2, Integer(1));
        rsa->inner = dstu;
        lib.log.clear();
        ASSERT_EQ(f.MakeReferenceRecord(rsa, nullptr, 0, nullptr, 4, 5, 6, &out), 1) << version;
        ASSERT_EQ(out.length, 216u);
        EXPECT_EQ(W(out, 0), 1u);
        EXPECT_EQ(W(out, 4), 2u);
        EXPECT_EQ(W(out, 8), 1u);
        EXPECT_EQ(W(out, 12), 0u);
        EXPECT_TRUE(AllZero(out, 16, 80));  // the GOST hash is not copied after the SHA-1 one
        EXPECT_TRUE(SHAAt(out, 80, 64));
        EXPECT_TRUE(SerialAt(out, 144, 1));
        EXPECT_TRUE(SerialAt(out, 164, 2));
        EXPECT_TRUE(AllZero(out, 184, 204));
        EXPECT_EQ(W(out, 204), 4u);
        EXPECT_EQ(W(out, 208), 5u);
        EXPECT_EQ(W(out, 212), 6u);
        // Name objects from 257 (SHA) and 261 (GOST) on, name texts below.
        auto called = [&](const std::string& op) {
            return std::find(lib.log.begin(), lib.log.end(), op) != lib.log.end();
        };
        EXPECT_EQ(called("0:25(160)"), version >= 257) << version;
        EXPECT_EQ(called("0:27()"), version >= 261) << version;
        f.ReleaseBlob(&out);
        rsa->Release();
        dstu->Release();
    }
}

TEST_F(References, CertificateListFullFormAndLimits)
{
    // Two DSTU 4145 entries and an RSA one: still the short form, three hashes.
    auto* inner = new fake::ReferenceCertificate(lib, 1, Integer(2));
    auto* view = new fake::ReferenceCertificate(lib, 4, Integer(3));
    auto* top = new fake::ReferenceCertificate(lib, 1, Integer(1));
    top->inner = inner;
    top->rsa = view;
    ASSERT_EQ(f.MakeReferenceRecord(top, nullptr, 0, nullptr, 0, 0, 0, &out), 1);
    ASSERT_EQ(out.length, 216u);
    EXPECT_EQ(W(out, 0), 3u);
    EXPECT_TRUE(GOSTAt(out, 16));
    EXPECT_TRUE(GOSTAt(out, 48));
    EXPECT_TRUE(SHAAt(out, 80, 64));
    EXPECT_TRUE(SerialAt(out, 184, 3));
    f.ReleaseBlob(&out);

    // Two entries of kind 2: the full form.
    inner->kind = 2;
    ASSERT_EQ(f.MakeReferenceRecord(top, nullptr, 0, nullptr, 7, 8, 9, &out), 1);
    ASSERT_EQ(out.length, 304u);
    EXPECT_EQ(W(out, 0), 3u);
    EXPECT_EQ(W(out, 4), 1u);
    EXPECT_EQ(W(out, 8), 2u);
    EXPECT_EQ(W(out, 12), 2u);
    EXPECT_TRUE(GOSTAt(out, 20));
    EXPECT_TRUE(AllZero(out, 52, 84));
    EXPECT_TRUE(SHAAt(out, 84, 64));
    EXPECT_TRUE(SHAAt(out, 148, 64));
    EXPECT_TRUE(SerialAt(out, 212, 1));
    EXPECT_TRUE(SerialAt(out, 232, 2));
    EXPECT_TRUE(SerialAt(out, 252, 3));
    EXPECT_TRUE(AllZero(out, 272, 292));
    EXPECT_EQ(W(out, 292), 7u);
    EXPECT_EQ(W(out, 300), 9u);
    f.ReleaseBlob(&out);

    // A third entry of one kind, or an unknown family, fails.
    inner->kind = 1;
    view->kind = 1;
    EXPECT_EQ(f.MakeReferenceRecord(top, nullptr, 0, nullptr, 0, 0, 0, &out), 0);
    view->kind = 3;
    EXPECT_EQ(f.MakeReferenceRecord(top, nullptr, 0, nullptr, 0, 0, 0, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    for (auto* c : {top, inner, view}) c->Release();
}

TEST(ReferencesSweep, EveryFailureIsReportedAndNothingLeaks)
{
    fake::SweepFailures(
        "MakeReferenceRecord",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* dstu = new fake::ReferenceCertificate(lib, 1, Integer(2));
            auto* rsa = new fake::ReferenceCertificate(lib, 2, Integer(1));
            rsa->inner = dstu;
            PKIBlob out{0, nullptr};
            int rc = f.MakeReferenceRecord(rsa, nullptr, 0, nullptr, 1, 2, 3, &out);
            f.ReleaseBlob(&out);
            rsa->Release();
            dstu->Release();
            return rc;
        },
        // The EC companion's look-up answers none for a failure as for an absent view.
        false);
    fake::SweepFailures(
        "MakeReferenceRecordForValue",
        [](SPKIFormats& f, fake::Library&) {
            std::uint8_t value[32] = {1};
            PKIBlob out{0, nullptr};
            int rc = f.MakeReferenceRecordForValue(nullptr, nullptr, value, 1, 2, 3, &out);
            f.ReleaseBlob(&out);
            return rc;
        },
        true);
}
