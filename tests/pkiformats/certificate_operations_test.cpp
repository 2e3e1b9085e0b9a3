// Certificate, request and message operations: the Ukrainian vocabularies
// (checked as Windows-1251 bytes and, through the platform's own code-page
// conversion, against the Unicode texts), the serial record taken from a key
// identifier, effective key usage, small records and the decoders.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "FailureSweep.h"
#include "FakeFormats.h"
#include "csp/CSP.h"
#include "pkiformats/SPKIFormats.h"

namespace {

// The text as Unicode through the platform's Windows-1251 table.
std::wstring FromCp1251(const char* text)
{
    wchar_t wide[PKIF_VOCABULARY_TEXT_BYTES];
    int n = MultiByteToWideChar(CP_1251, 0, text, -1, wide, PKIF_VOCABULARY_TEXT_BYTES);
    return n > 0 ? std::wstring(wide) : std::wstring(L"<bad>");
}

}  // namespace

TEST(FacadeVocabulary, ResultCodesAsWindows1251Bytes)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    // clang-format off
    const char* expected[] = {
        "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9",
        "\xC7\xE0\xEF\xE8\xF2 \xEE\xE1\xF0\xEE\xE1\xEB\xE5\xED\xEE",
        "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xF0\xEE\xE7\xE1\xEE\xF0\xB3 \xE7\xE0\xEF\xE8\xF2\xF3",
        "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2 \xE7\xE0\xFF\xE2\xED\xE8\xEA\xE0 \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xE8\xE9",
        "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2 \xE7\xE0\xFF\xE2\xED\xE8\xEA\xE0 \xED\xE5 \xF7\xE8\xED\xED\xE8\xE9 \xE0\xE1\xEE \xEF\xEE\xF8\xEA\xEE\xE4\xE6\xE5\xED\xE8\xE9",
        "\xC2\xB3\xE4\xEA\xF0\xE8\xF2\xB3 \xEA\xEB\xFE\xF7\xB3 \xF3 \xE7\xE0\xEF\xE8\xF2\xB3 \xED\xE5 \xBA \xF3\xED\xB3\xEA\xE0\xEB\xFC\xED\xE8\xEC\xE8",
        "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xF0\xEE\xE1\xEE\xF2\xB3 \xE7 \xC1\xC4",
        "\xC2\xE8\xED\xE8\xEA\xEB\xE0 \xEF\xEE\xEC\xE8\xEB\xEA\xE0 \xEF\xF0\xE8 \xEE\xE1\xF0\xEE\xE1\xF6\xB3 \xE7\xE0\xEF\xE8\xF2\xF3",
        "\xC7\xE0\xEF\xE8\xF2 \xED\xE5 \xEC\xEE\xE6\xE5 \xE1\xF3\xF2\xE8 \xEE\xE1\xF0\xEE\xE1\xEB\xE5\xED\xE8\xE9",
        "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2, \xFF\xEA\xE8\xE9 \xE7\xE0\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9 \xF3 \xE7\xE0\xEF\xE8\xF2\xB3, \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xE8\xE9",
        "\xD1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2, \xFF\xEA\xE8\xE9 \xE7\xE0\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9 \xF3 \xE7\xE0\xEF\xE8\xF2\xB3, \xED\xE5 \xE4\xB3\xE9\xF1\xED\xE8\xE9 \xE0\xE1\xEE \xE9\xEE\xE3\xEE \xF1\xF2\xE0\xF2\xF3\xF1 \xED\xE5 \xEC\xEE\xE6\xE5 \xE1\xF3\xF2\xE8 \xE7\xEC\xB3\xED\xE5\xED\xE8\xE9",
        "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7\xE0 \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xEE",
        "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 \xE2\xE6\xE5 \xE7\xE0\xF0\xE5\xBA\xF1\xF2\xF0\xEE\xE2\xE0\xED\xE8\xE9",
        "\xC7\xE0\xEF\xE8\xF2 \xED\xE0 \xF4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF \xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2\xE0 \xEF\xF0\xE8\xE9\xED\xFF\xF2\xEE \xED\xE0 \xEE\xE1\xF0\xEE\xE1\xEA\xF3",
        "\xD0\xE5\xE7\xF3\xEB\xFC\xF2\xE0\xF2 \xF4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF \xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2\xE0 \xED\xE5 \xE7\xED\xE0\xE9\xE4\xE5\xED\xEE"};
    // clang-format on
    char text[PKIF_VOCABULARY_TEXT_BYTES];
    for (std::uint32_t code = 0; code < 15; ++code) {
        std::memset(text, 'x', sizeof text);
        ASSERT_EQ(f.ResultCodeToText(code, text), 1);
        EXPECT_STREQ(text, expected[code]) << code;
    }
    for (std::uint32_t code : {15u, 16u, 0xFFFFFFFFu}) {
        ASSERT_EQ(f.ResultCodeToText(code, text), 1);
        EXPECT_STREQ(text, expected[0]) << code;
    }
    // Two of them through the platform's code-page table.
    ASSERT_EQ(f.ResultCodeToText(0, text), 1);
    EXPECT_EQ(FromCp1251(text), L"\u041D\u0435\u0432\u0438\u0437\u043D\u0430\u0447\u0435\u043D\u0438\u0439");
    ASSERT_EQ(f.ResultCodeToText(12, text), 1);
    EXPECT_EQ(FromCp1251(text),
              L"\u041A\u043E\u0440\u0438\u0441\u0442\u0443\u0432\u0430\u0447 \u0432\u0436\u0435 "
              L"\u0437\u0430\u0440\u0435\u0454\u0441\u0442\u0440\u043E\u0432\u0430\u043D\u0438\u0439");
}

namespace {

// The order and revocation texts, in Windows-1251.
const char kRevocation[] = "\xD1\xEA\xE0\xF1\xF3\xE2\xE0\xED\xED\xFF";
const char kCACompromise[] =
    "\xCA\xEE\xEC\xEF\xF0\xEE\xEC\xE5\xF2\xE0\xF6\xB3\xFF \xEE\xF1. \xEA\xEB\xFE\xF7\xE0 \xD6\xD1\xCA";
const char kKeyCompromise[] = "\xCA\xEE\xEC\xEF\xF0\xEE\xEC\xE5\xF2\xE0\xF6\xB3\xFF \xEE\xF1. \xEA\xEB\xFE\xF7\xE0";
const char kHolderChanged[] = "\xC7\xEC\xB3\xED\xE0 \xE4\xE0\xED\xE8\xF5 \xEF\xF0\xEE \xE2\xEB\xE0\xF1\xED\xE8\xEA\xE0";
const char kExpired[] =
    "\xC7\xE0\xE2\xE5\xF0\xF8\xE5\xED\xE8\xE9 \xF1\xF2\xF0\xEE\xEA \xF7\xE8\xED\xED\xEE\xF1\xF2\xB3";
const char kSuperseded[] = "\xD4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF \xED\xEE\xE2\xEE\xE3\xEE";
const char kCeased[] = "\xCF\xF0\xE8\xEF\xE8\xED\xE5\xED\xED\xFF \xE4\xB3\xBF";
const char kNotDefined[] = "\xCD\xE5 \xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE0";
const char kUndefined[] = "\xCD\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9";
const char kHold[] = "\xC1\xEB\xEE\xEA\xF3\xE2\xE0\xED\xED\xFF";
const char kRenewal[] = "\xCF\xEE\xED\xEE\xE2\xEB\xE5\xED\xED\xFF";
const char kAbsent[] = "\xC2\xB3\xE4\xF1\xF3\xF2\xED\xFF";

}  // namespace

TEST(FacadeVocabulary, OrderKindsAndRevocationReasons)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    struct Order {
        std::uint32_t type, reason;
        const char *typeText, *reasonText;
    };
    const Order orders[] = {
        {1, 3, "", ""},
        {2, 1, kRevocation, kNotDefined},
        {2, 2, kRevocation, kCACompromise},
        {2, 3, kRevocation, kKeyCompromise},
        {2, 4, kRevocation, kHolderChanged},
        {2, 5, kRevocation, kExpired},
        {2, 6, kRevocation, kSuperseded},
        {2, 7, kRevocation, kCeased},
        {2, 8, kRevocation, kNotDefined},
        {3, 2, kHold, kAbsent},
        {4, 0, kRenewal, kAbsent},
        {0, 2, kUndefined, kAbsent},
        {9, 2, kUndefined, kAbsent},
    };
    char type[PKIF_VOCABULARY_TEXT_BYTES], reason[PKIF_VOCABULARY_TEXT_BYTES];
    for (const Order& o : orders) {
        std::strcpy(type, "stale");
        std::strcpy(reason, "stale");
        ASSERT_EQ(f.OrderKindToText(o.type, o.reason, type, reason), 1);
        EXPECT_STREQ(type, o.typeText) << o.type << "/" << o.reason;
        EXPECT_STREQ(reason, o.reasonText) << o.type << "/" << o.reason;
    }
    EXPECT_EQ(FromCp1251(kCeased), L"\u041F\u0440\u0438\u043F\u0438\u043D\u0435\u043D\u043D\u044F \u0434\u0456\u0457");

    const char* reasons[] = {kNotDefined, kKeyCompromise, kCACompromise, kHolderChanged, kSuperseded,
                             kCeased,     kHold,          kNotDefined,   kRenewal,       kNotDefined};
    char text[PKIF_VOCABULARY_TEXT_BYTES];
    for (std::uint32_t code = 0; code < 10; ++code) {
        ASSERT_EQ(f.RevocationReasonToText(code, text), 1);
        EXPECT_STREQ(text, reasons[code]) << code;
    }
    ASSERT_EQ(f.RevocationReasonToText(1000, text), 1);
    EXPECT_STREQ(text, kNotDefined);
}

TEST(FacadeVocabulary, PolicyTextsAndOverlongOids)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    const char enhanced[] = "\xCF\xF0\xE0\xE2\xE8\xEB\xE0 \xEF\xEE\xF1\xE8\xEB\xE5\xED\xEE\xBF "
                            "\xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF6\xB3\xBF";
    const char timeStamping[] =
        "\xCF\xF0\xE0\xE2\xE8\xEB\xE0 \xF4\xB3\xEA\xF1\xF3\xE2\xE0\xED\xED\xFF \xF7\xE0\xF1\xF3";
    char text[PKIF_OID_TEXT_BYTES];
    ASSERT_EQ(f.PolicyToText("1.2.804.2.1.1.1.2.2", text), 1);
    EXPECT_STREQ(text, enhanced);
    // Only the whole OID counts: a longer one that begins with it is printed.
    ASSERT_EQ(f.PolicyToText("1.2.804.2.1.1.1.2.2.1", text), 1);
    EXPECT_STREQ(text, "1.2.804.2.1.1.1.2.2.1");
    ASSERT_EQ(f.PolicyToText("1.2.804.2.1.1.1.2", text), 1);
    EXPECT_STREQ(text, "1.2.804.2.1.1.1.2");

    for (const char* oid : {"1.2.804.2.1.1.1.1.2.3", "1.2.804.2.1.1.1.2.3.1", "1.2.804.2.1.1.1.2.3.4.1.1",
                            "1.2.804.2.1.1.1.2.3.4.2.1", "1.2.804.2.1.1.1.2.3.4.3.1"}) {
        ASSERT_EQ(f.TimeStampPolicyToText(oid, text), 1) << oid;
        EXPECT_STREQ(text, timeStamping) << oid;
    }
    ASSERT_EQ(f.TimeStampPolicyToText("1.2.804.2.1.1.1.2.3.4.4.1", text), 1);
    EXPECT_STREQ(text, "1.2.804.2.1.1.1.2.3.4.4.1");

    // The longest OID text that fits, and one byte more: refused, left empty.
    std::string fits(PKIF_OID_TEXT_BYTES - 1, '1'), over(PKIF_OID_TEXT_BYTES, '1');
    ASSERT_EQ(f.PolicyToText(fits.c_str(), text), 1);
    EXPECT_EQ(text, fits);
    EXPECT_EQ(f.TimeStampPolicyToText(over.c_str(), text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(f.PolicyToText(nullptr, text), 0);
    EXPECT_STREQ(text, "");
}

// The serial record is 20 bytes: the key identifier's first eight bytes with
// bit 7 of the first byte cleared, then the three words little-endian.
TEST(FacadeSerialRecord, TwentyBytesFromTheKeyIdentifier)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    cert->keyId = std::string("\xF1\x82\x03\x04\x05\x06\x07\x88", 8) + std::string(24, '\x99');
    std::uint8_t record[24];
    std::memset(record, 0xEE, sizeof record);
    ASSERT_EQ(f.GetPublicKeyParameters(static_cast<IPKICertificate*>(cert), nullptr, 0x11223344, 0x55667788, 0x99AABBCC,
                                       record),
              1);
    const std::uint8_t expected[20] = {0x71, 0x82, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88, 0x44, 0x33,
                                       0x22, 0x11, 0x88, 0x77, 0x66, 0x55, 0xCC, 0xBB, 0xAA, 0x99};
    EXPECT_EQ(std::vector<std::uint8_t>(record, record + 20), std::vector<std::uint8_t>(expected, expected + 20));
    EXPECT_EQ(record[20], 0xEE);  // nothing past the record

    std::uint32_t first = 0, second = 0;
    ASSERT_EQ(f.GetPublicKeyParameterPair(static_cast<IPKICertificate*>(cert), nullptr, &first, &second), 1);
    EXPECT_EQ(first, 0x04038271u);
    EXPECT_EQ(second, 0x88070605u);

    // A request's key identifier serves the same way.
    auto* request = new fake::ScriptedRequest(lib);
    request->keyId = std::string(8, '\xFF');
    ASSERT_EQ(f.GetPublicKeyParameters(nullptr, static_cast<IPKIRequest*>(request), 1, 2, 3, record), 1);
    EXPECT_EQ(record[0], 0x7F);
    EXPECT_EQ(record[7], 0xFF);
    EXPECT_EQ(record[16], 3);

    // An identifier shorter than eight bytes gives no record.
    cert->keyId = "short";
    EXPECT_EQ(f.GetPublicKeyParameters(static_cast<IPKICertificate*>(cert), nullptr, 1, 2, 3, record), 0);
    EXPECT_EQ(f.GetPublicKeyParameters(nullptr, nullptr, 1, 2, 3, record), 0);
    cert->Release();
    request->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(FacadeKeyUsage, EffectiveUsageByKeyKind)
{
    struct Case {
        std::uint32_t kind, bits, expected;
    };
    const Case cases[] = {
        {1, 0x0C, 0x10}, {1, 0x8C, 0x90}, {1, 0x1C, 0x1C}, {1, 0x04, 0x04}, {1, 0x08, 0x08},
        {2, 0x04, 0x10}, {2, 0x84, 0x90}, {2, 0x08, 0x08}, {4, 0x0C, 0x0C}, {4, 0x04, 0x04},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto* cert = new fake::ScriptedCertificate(lib);
        cert->kind = c.kind;
        cert->keyUsage = c.bits;
        std::uint32_t usage = 0xDEAD;
        ASSERT_EQ(f.GetEffectiveKeyUsage(static_cast<IPKICertificate*>(cert), &usage), 1);
        EXPECT_EQ(usage, c.expected) << c.kind << " " << c.bits;
        cert->hasKeyUsage = false;
        ASSERT_EQ(f.GetEffectiveKeyUsage(static_cast<IPKICertificate*>(cert), &usage), 1);
        EXPECT_EQ(usage, 0u);
        cert->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
    }
}

TEST(FacadeRecords, CounterAndPairAreBigEndian)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    std::uint8_t record[16];
    std::memset(record, 0xEE, sizeof record);
    ASSERT_EQ(f.MakeCounterRecord(0x01020304, record), 1);
    const std::uint8_t counter[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(record, counter, 16), 0);
    std::memset(record, 0xEE, sizeof record);
    EXPECT_EQ(f.MakeBigEndianPair(0xA1A2A3A4, 0xB1B2B3B4, record), 0xA1A2A3A4u);
    const std::uint8_t pair[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2, 0xB3, 0xB4};
    EXPECT_EQ(std::memcmp(record, pair, 16), 0);
    EXPECT_EQ(f.ReturnOne(), 1);
}

TEST(FacadeDecoders, EachClassIsMadeAndLoadedOrLeftNull)
{
    using Decoder = int (SPKIFormats::*)(const PKIBlob*, void**);
    struct Row {
        Decoder decode;
        const char* create;
    };
    const Row rows[] = {{&SPKIFormats::DecodeCertificate, "0:10(4870,4102)"},
                        {&SPKIFormats::DecodeObject4873, "0:10(4873,4106)"},
                        {&SPKIFormats::DecodeObject4869, "0:10(4869,4100)"},
                        {&SPKIFormats::DecodeObject4875, "0:10(4875,4110)"},
                        {&SPKIFormats::DecodeTimeStampContent, "0:10(4906,4143)"}};
    std::string bytes = "encoded";
    PKIBlob blob{static_cast<std::uint32_t>(bytes.size()), reinterpret_cast<std::uint8_t*>(bytes.data())};
    for (const Row& row : rows) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        fake::UseTypedObjects(lib);
        void* object = reinterpret_cast<void*>(1);
        ASSERT_EQ((f.*row.decode)(&blob, &object), 1) << row.create;
        EXPECT_EQ(lib.log.front(), row.create);
        ASSERT_NE(object, nullptr);
        static_cast<IPKIObject*>(object)->Release();
        // A load that fails releases the object and leaves the pointer null.
        lib.FailCall(2);
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ((f.*row.decode)(&blob, &object), 0) << row.create;
        EXPECT_EQ(object, nullptr);
        PKIBlob empty{0, nullptr};
        object = reinterpret_cast<void*>(1);
        EXPECT_EQ((f.*row.decode)(&empty, &object), 0);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(lib.LiveObjects(), 0) << row.create;
    }
    fake::Library lib;
    fake::UseTypedObjects(lib);
    SPKIFormats f(nullptr, nullptr, &lib);
    void* object = nullptr;
    ASSERT_EQ(f.CreateSignedDataObject(&object), 1);
    EXPECT_EQ(lib.log.back(), "0:10(4900,4136)");
    static_cast<IPKIObject*>(object)->Release();
    ASSERT_EQ(f.CreateKeyContainerObject(&object), 1);
    EXPECT_EQ(lib.log.back(), "0:10(4893,4128)");
    static_cast<IPKIObject*>(object)->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

TEST(FacadeLists, ListEntryAsCertificate)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* list = new fake::CertificateList(lib);
    list->Add(new fake::ScriptedCertificate(lib));
    list->Add(new fake::Encoded(lib, "not a certificate"));
    void* certificate = nullptr;
    ASSERT_EQ(f.GetListCertificate(list, 0, &certificate), 1);
    ASSERT_NE(certificate, nullptr);
    static_cast<IPKIObject*>(certificate)->Release();
    certificate = reinterpret_cast<void*>(1);
    EXPECT_EQ(f.GetListCertificate(list, 1, &certificate), 0);
    EXPECT_EQ(certificate, nullptr);
    EXPECT_EQ(f.GetListCertificate(list, 2, &certificate), 0);
    list->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.doubleReleases, 0);
}

TEST(FacadeCertificateItems, BasicConstraintsAndTheirPresence)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    std::uint32_t ca = 9, length = 9;
    ASSERT_EQ(f.GetBasicConstraints(c, &ca, &length), 1);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(f.GetItemPresent(c), 1);
    lib.Answer(4868, 4, {PKI_E_FAILURE});  // a CA's unreadable path length fails the read
    EXPECT_EQ(f.GetBasicConstraints(c, &ca, &length), 0);
    cert->ca = 0;  // an end entity's path length is not read
    ASSERT_EQ(f.GetBasicConstraints(c, &ca, &length), 1);
    EXPECT_EQ(ca, 0u);
    EXPECT_EQ(length, 0u);
    lib.Answer(4868, 4, {});
    cert->basicConstraintsAnswer = PKI_E_ABSENT;
    ca = length = 9;
    ASSERT_EQ(f.GetBasicConstraints(c, &ca, &length), 1);
    EXPECT_EQ(ca, 0u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(f.GetItemPresent(c), 0);
    cert->basicConstraintsAnswer = PKI_E_FAILURE;
    EXPECT_EQ(f.GetBasicConstraints(c, &ca, &length), 0);
    EXPECT_EQ(f.GetItemPresent(c), 0);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// The name text has a capacity of PKIF_NAME_TEXT_BYTES: a longer name is
// refused, and the caller's buffer holds an empty text.
TEST(FacadeCertificateItems, NameTextWithinItsCapacity)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    std::vector<char> text(PKIF_NAME_TEXT_BYTES, 'x');
    PKIBlob serial{0, nullptr};
    ASSERT_EQ(f.GetObjectNameText(c, text.data(), &serial, nullptr, nullptr), 1);
    EXPECT_STREQ(text.data(), "CN=Issuer");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(serial.data), serial.length), std::string("\x02\x01\x05", 3));
    f.ReleaseBlob(&serial);

    cert->issuer = std::wstring(PKIF_NAME_TEXT_BYTES - 1, L'n');
    ASSERT_EQ(f.GetObjectNameText(c, text.data(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(std::strlen(text.data()), PKIF_NAME_TEXT_BYTES - 1u);
    cert->issuer += L'n';
    EXPECT_EQ(f.GetObjectNameText(c, text.data(), &serial, nullptr, nullptr), 0);
    EXPECT_STREQ(text.data(), "");
    EXPECT_EQ(serial.data, nullptr);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}

TEST(FacadeSignedData, ContentInfoOfSignedDataAndAttachedCertificates)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    fake::ContentInfo* info = nullptr;
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib, &info]() -> void* {
        info = new fake::ContentInfo(lib);
        return static_cast<IPKIContentInfo*>(info);
    };
    fake::UseTypedObjects(lib);
    std::string bytes = "content info";
    PKIBlob blob{static_cast<std::uint32_t>(bytes.size()), reinterpret_cast<std::uint8_t*>(bytes.data())};
    void* signedData = nullptr;
    ASSERT_EQ(f.DecodeSignedDataContentInfo(&blob, &signedData), 1);
    ASSERT_NE(signedData, nullptr);
    // The signed data is loaded from the content info's content.
    EXPECT_EQ(lib.log[lib.log.size() - 5], "0:10(4900,4136)");

    // Attaching: the certificate is decoded, handed to slot 7 and released.
    auto* data = static_cast<fake::SignedData*>(static_cast<IPKISignedDataCertificates*>(signedData));
    std::string cert = "certificate";
    PKIBlob certBlob{static_cast<std::uint32_t>(cert.size()), reinterpret_cast<std::uint8_t*>(cert.data())};
    ASSERT_EQ(f.AttachCertificate(data, &certBlob), 1);
    EXPECT_EQ(data->certificates, 1);
    EXPECT_EQ(lib.log[lib.log.size() - 2], "4900:7()");
    lib.Answer(4900, 7, {PKI_E_FAILURE});
    EXPECT_EQ(f.AttachCertificate(data, &certBlob), 0);
    EXPECT_EQ(data->certificates, 1);
    data->Release();

    // Data content (or a type that only begins like signed data) is refused.
    lib.makers[{PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO}] = [&lib]() -> void* {
        auto* other = new fake::ContentInfo(lib);
        other->type = "1.2.840.113549.1.7.21";
        return static_cast<IPKIContentInfo*>(other);
    };
    signedData = reinterpret_cast<void*>(1);
    EXPECT_EQ(f.DecodeSignedDataContentInfo(&blob, &signedData), 0);
    EXPECT_EQ(signedData, nullptr);
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

// Key pairs checked by the real CSP (on the stand-in provider libraries) in
// the key object's own context.
TEST(FacadeKeyPair, CheckedInTheKeyObjectsContext)
{
    char previous[PATH_MAX];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir((std::string(CGLIB_VARIANTS_DIR) + "/full").c_str()), 0);
    CSP* csp = nullptr;
    int created = CreateCSP(&csp, 1);
    ASSERT_EQ(chdir(previous), 0);
    ASSERT_EQ(created, CSP_OK);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    ASSERT_NE(csp->Parameters().GetStandardCurve(1, 0, &field, &point), 0);
    std::uint8_t privateKey[152] = {}, publicKey[152] = {};
    ASSERT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&field, &point, privateKey, publicKey), CSP_OK);
    std::uint8_t other[152];
    std::memcpy(other, publicKey, sizeof other);
    other[5] ^= 0x40;
    {
        fake::Library lib;
        SPKIFormats f(csp, nullptr, &lib);
        auto* key = new fake::KeyContext(lib, 1, {nullptr, nullptr, csp->DefaultPRNG()}, 0);
        EXPECT_EQ(f.CheckKeyContextKeyPair(key, &field, &point, privateKey, publicKey), 1);
        EXPECT_EQ(f.CheckKeyContextKeyPair(key, &field, &point, privateKey, other), 0);
        // The context came from the key object.
        bool asked = false;
        for (const std::string& e : lib.log) asked = asked || e == "4893:5(1)";
        EXPECT_TRUE(asked);
        SPKIFormats noCSP(nullptr, nullptr, &lib);
        EXPECT_EQ(noCSP.CheckKeyContextKeyPair(key, &field, &point, privateKey, publicKey), 0);
        EXPECT_EQ(key->References(), 1);
        key->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
    }
    DestroyCSP(&csp);
}

TEST(FacadeCertificateItems, DistributionLocationsOnTheWeb)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    std::vector<char> text(PKIF_URL_TEXT_BYTES, 'x');
    auto url = [&](std::uint32_t which) {
        std::strcpy(text.data(), "stale");
        int rc = f.GetDistributionURL(c, which, text.data());
        return std::to_string(rc) + ":" + text.data();
    };
    // The first location is no web location; the prefix is compared without
    // regard to case.
    EXPECT_EQ(url(0), "1:http://ca/full.crl");
    // No freshest-CRL list: a DSTU 4145 certificate gives its second web
    // location, another kind nothing.
    EXPECT_EQ(url(1), "1:HTTPS://ca/second.crl");
    cert->kind = 2;
    EXPECT_EQ(url(1), "0:");
    cert->hasFreshest = true;
    cert->freshestPoints = {"ftp://x", "https://ca/delta.crl"};
    EXPECT_EQ(url(1), "1:https://ca/delta.crl");
    cert->freshestPoints = {"ftp://x"};
    EXPECT_EQ(url(1), "0:");
    EXPECT_EQ(url(2), "0:");
    cert->crlPoints = {"http:/broken", "httpx://a"};
    EXPECT_EQ(url(0), "0:");
    // The longest location that fits, then one byte more: refused.
    cert->crlPoints = {"http://" + std::string(PKIF_URL_TEXT_BYTES - 8, 'a')};
    EXPECT_EQ(url(0).size(), 2 + PKIF_URL_TEXT_BYTES - 1);
    cert->crlPoints = {"http://" + std::string(PKIF_URL_TEXT_BYTES - 7, 'a')};
    EXPECT_EQ(url(0), "0:");
    cert->hasCrlPoints = false;
    EXPECT_EQ(url(0), "0:");
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}

// A certificate and a request carry the same key: identifiers, kinds and
// keys must all agree.
TEST(FacadeKeyMatching, CertificateAndRequestKeys)
{
    struct Case {
        const char* what;
        std::function<void(fake::ScriptedCertificate&, fake::ScriptedRequest&)> change;
        int expected;
    };
    const Case cases[] = {
        {"same DSTU 4145 key", [](auto&, auto&) {}, 1},
        {"other identifier", [](auto&, auto& r) { r.keyId[31] ^= 1; }, 0},
        {"other kind", [](auto& c, auto&) { c.kind = 2; }, 0},
        {"other DSTU 4145 key", [](auto&, auto& r) { r.publicKey[75] ^= 1; }, 0},
        {"other key length", [](auto&, auto& r) { r.publicKeyLength = 32; }, 0},
        {"same RSA key", [](auto& c, auto& r) { c.kind = r.kind = 2; }, 1},
        {"other RSA modulus",
         [](auto& c, auto& r) {
             c.kind = r.kind = 2;
             r.rsaFields[599] ^= 1;
         },
         0},
        {"other RSA exponent",
         [](auto& c, auto& r) {
             c.kind = r.kind = 2;
             c.rsaFields[1199] ^= 1;
         },
         0},
        {"other RSA size",
         [](auto& c, auto& r) {
             c.kind = r.kind = 2;
             r.rsaBits = 1024;
         },
         0},
        // The ECDSA comparison is not reached yet: never a match.
        {"ECDSA", [](auto& c, auto& r) { c.kind = r.kind = 4; }, 0},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto* cert = new fake::ScriptedCertificate(lib);
        auto* request = new fake::ScriptedRequest(lib);
        request->keyId = cert->keyId;
        c.change(*cert, *request);
        EXPECT_EQ(f.CertificateMatchesRequest(static_cast<IPKICertificate*>(cert), static_cast<IPKIRequest*>(request)),
                  c.expected)
            << c.what;
        cert->Release();
        request->Release();
        EXPECT_EQ(lib.LiveObjects(), 0) << c.what;
    }
    fake::SweepFailures(
        "certificate and request",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* cert = new fake::ScriptedCertificate(lib);
            auto* request = new fake::ScriptedRequest(lib);
            request->keyId = cert->keyId;
            int rc =
                f.CertificateMatchesRequest(static_cast<IPKICertificate*>(cert), static_cast<IPKIRequest*>(request));
            cert->Release();
            request->Release();
            return rc;
        },
        true);
}

TEST(FacadeCertificateItems, ValidityAndPrivateKeyUsagePeriod)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    IPKIObject* c = static_cast<IPKICertificate*>(cert);
    SYSTEMTIME from{}, to{}, usableFrom{}, usableTo{};
    std::uint32_t present = 9;
    ASSERT_EQ(f.SetObjectItemAndCheck(c, &from, &to, &usableFrom, &usableTo, &present), 1);
    EXPECT_EQ(from.wYear, 2024);
    EXPECT_EQ(to.wYear, 2026);
    EXPECT_EQ(present, 0u);
    EXPECT_EQ(usableFrom.wYear, 0);
    cert->hasKeyUsagePeriod = true;
    ASSERT_EQ(f.SetObjectItemAndCheck(c, nullptr, nullptr, &usableFrom, &usableTo, &present), 1);
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(usableFrom.wMonth, 2);
    EXPECT_EQ(usableTo.wYear, 2025);
    // Without all three period outputs the period is not read.
    lib.log.clear();
    ASSERT_EQ(f.SetObjectItemAndCheck(c, &from, &to, &usableFrom, nullptr, &present), 1);
    for (const std::string& e : lib.log) EXPECT_NE(e, "4870:86()");
    lib.Answer(PKI_CLASS_CERTIFICATE, 86, {PKI_E_FAILURE});
    EXPECT_EQ(f.SetObjectItemAndCheck(c, &from, &to, &usableFrom, &usableTo, &present), 0);
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// The issuer's key is used only when its effective key usage holds every
// required bit (0x04 of an RSA issuer counts as 0x10).
TEST(FacadeSignatures, IssuerKeyUsedOnlyWithTheRequiredUsage)
{
    struct Case {
        std::uint32_t kind, bits, required;
        bool hasUsage;
        int expected;
    };
    const Case cases[] = {
        {1, 0x10, 0x10, true, 1}, {1, 0x0C, 0x10, true, 1}, {1, 0x04, 0x10, true, 0},  {2, 0x04, 0x10, true, 1},
        {1, 0x30, 0x30, true, 1}, {1, 0x10, 0x30, true, 0}, {1, 0x10, 0x10, false, 0}, {1, 0x00, 0x00, false, 1},
    };
    for (const Case& c : cases) {
        fake::Library lib;
        SPKIFormats f(nullptr, nullptr, &lib);
        auto* issuer = new fake::ScriptedCertificate(lib);
        issuer->kind = c.kind;
        issuer->keyUsage = c.bits;
        issuer->hasKeyUsage = c.hasUsage;
        auto* object = new fake::VerifiableObject(lib);
        EXPECT_EQ(f.VerifyWithIssuerKey(object, static_cast<IPKICertificate*>(issuer), c.required), c.expected)
            << c.kind << " " << c.bits << " " << c.required;
        // Without the usage the signature is never looked at.
        EXPECT_EQ(object->parametersGiven, c.expected == 1) << c.kind << " " << c.bits << " " << c.required;
        object->Release();
        issuer->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
    }
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* issuer = new fake::ScriptedCertificate(lib);
    issuer->keyUsage = 0x10;
    auto* object = new fake::VerifiableObject(lib);
    issuer->publicKey[0] ^= 1;  // the key does not verify the signature
    EXPECT_EQ(f.VerifyWithIssuerKey(object, static_cast<IPKICertificate*>(issuer), 0x10), 0);
    EXPECT_EQ(f.VerifyWithIssuerKey(nullptr, static_cast<IPKICertificate*>(issuer), 0x10), 0);
    EXPECT_EQ(f.VerifyWithIssuerKey(object, nullptr, 0x10), 0);
    object->Release();
    issuer->Release();
}

TEST(FacadeSignatures, ObjectCheckedWithTheCertificatesKey)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* cert = new fake::ScriptedCertificate(lib);
    auto* object = new fake::VerifiableObject(lib);
    ASSERT_EQ(f.VerifyWithCertificateKey(object, static_cast<IPKICertificate*>(cert)), 1);
    EXPECT_TRUE(object->parametersGiven);
    cert->publicKey[0] ^= 1;
    EXPECT_EQ(f.VerifyWithCertificateKey(object, static_cast<IPKICertificate*>(cert)), 0);
    cert->publicKey[0] ^= 1;
    cert->publicKeyLength = 34;
    EXPECT_EQ(f.VerifyWithCertificateKey(object, static_cast<IPKICertificate*>(cert)), 0);
    lib.Answer(PKI_CLASS_CERTIFICATE, 25, {PKI_E_FAILURE});
    EXPECT_EQ(f.VerifyWithCertificateKey(object, static_cast<IPKICertificate*>(cert)), 0);
    object->Release();
    cert->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
}

// A message over plain data is wrapped as signed data and encoded; any other
// encapsulated type is refused before anything is made.
TEST(FacadeSignedData, OnlyAMessageOverDataIsWrapped)
{
    fake::Library lib;
    fake::families::CmsMade made;
    fake::families::UseSignedDataObjects(lib, made);
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* m = new fake::families::CmsSignedData(lib);
    IPKIObject* message = static_cast<IPKISignedDataSigners*>(m);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(f.WrapSignedData(message, &out), 1);
    ASSERT_EQ(made.infos.size(), 1u);  // released by the facade: only its calls are looked at
    auto at = [&](const std::string& prefix) {
        return std::find_if(lib.log.begin(), lib.log.end(),
                            [&](const std::string& e) { return e.rfind(prefix, 0) == 0; }) -
               lib.log.begin();
    };
    EXPECT_LT(at("4879:6(1.2.840.113549.1.7.2)"), at("4879:3("));
    EXPECT_LT(at("4879:8("), at("4879:3("));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length), "content-info:1.2.840.113549.1.7.2");
    f.ReleaseBlob(&out);

    const std::vector<std::string> refused = {"1.2.840.113549.1.7.2", "1.2.840.113549.1.7.10", "1.2.840.113549.1.7",
                                              "1.2.840.113549.1.7.1" + std::string(300, '1')};
    for (const std::string& type : refused) {
        m->type = type;
        EXPECT_EQ(f.WrapSignedData(message, &out), 0) << type;
        EXPECT_EQ(out.data, nullptr);
    }
    EXPECT_EQ(made.infos.size(), 1u);
    m->type = "1.2.840.113549.1.7.1";
    EXPECT_EQ(f.WrapSignedData(nullptr, &out), 0);
    EXPECT_EQ(f.WrapSignedData(message, nullptr), 0);

    fake::SweepFailures(
        "WrapSignedData",
        [](SPKIFormats& facade, fake::Library& l) {
            fake::families::CmsMade mine;
            fake::families::UseSignedDataObjects(l, mine);
            auto* s = new fake::families::CmsSignedData(l);
            PKIBlob o{0, nullptr};
            int rc = facade.WrapSignedData(static_cast<IPKISignedDataSigners*>(s), &o);
            facade.ReleaseBlob(&o);
            static_cast<IPKISignedDataSigners*>(s)->Release();
            return rc;
        },
        true);
    message->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
}
