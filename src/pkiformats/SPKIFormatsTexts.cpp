// Name texts, hexadecimal value texts, key-usage texts and policy levels.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

// Bounds the text before the library's conversion, which takes no size.
int SPKIFormats::WideOf(const char* text, std::uint32_t capacity, wchar_t* wide)
{
    const char* t = text ? text : "";
    if (std::strlen(t) + 1 > capacity) return 0;
    wide[0] = 0;
    return formats_->TextToWide(t, wide) == 0 ? 1 : 0;
}

// The library's wide text must end within its field, and its 8-bit form
// (one byte a character) within the caller's capacity.
int SPKIFormats::TextOf(const wchar_t* wide, std::uint32_t wideCapacity, char* text, std::uint32_t capacity)
{
    std::size_t n = wcsnlen(wide, wideCapacity);
    if (n >= wideCapacity || n + 1 > capacity) return 0;
    text[0] = 0;
    if (formats_->WideToText(wide, text) != 0) {
        text[0] = 0;
        return 0;
    }
    return 1;
}

namespace {

struct NameField {
    wchar_t* (*field)(PKINameRecord&);
    std::uint32_t capacity;
};

#define QVK_NAME_FIELD(member, cap)                                                                                    \
    {                                                                                                                  \
        [](PKINameRecord& r) -> wchar_t* { return r.member; }, cap                                                     \
    }
const NameField kNameFields[PKI_NAME_FIELD_COUNT] = {QVK_NAME_FIELD(serialNumber, PKI_NAME_SERIAL_CHARS),
                                                     QVK_NAME_FIELD(country, PKI_NAME_COUNTRY_CHARS),
                                                     QVK_NAME_FIELD(state, PKI_NAME_STATE_CHARS),
                                                     QVK_NAME_FIELD(locality, PKI_NAME_LOCALITY_CHARS),
                                                     QVK_NAME_FIELD(organisation, PKI_NAME_ORGANISATION_CHARS),
                                                     QVK_NAME_FIELD(unit, PKI_NAME_UNIT_CHARS),
                                                     QVK_NAME_FIELD(commonName, PKI_NAME_COMMON_NAME_CHARS),
                                                     QVK_NAME_FIELD(surname, PKI_NAME_SURNAME_CHARS),
                                                     QVK_NAME_FIELD(givenName, PKI_NAME_GIVEN_NAME_CHARS),
                                                     QVK_NAME_FIELD(title, PKI_NAME_TITLE_CHARS)};
#undef QVK_NAME_FIELD

}  // namespace

void SPKIFormats::ComposeNameText(const char* serialNumber, const char* country, const char* state,
                                  const char* locality, const char* organisation, const char* unit,
                                  const char* commonName, const char* surname, const char* givenName, const char* title,
                                  char* nameText)
{
    try {
        if (!nameText) return;
        nameText[0] = 0;
        if (!formats_) return;
        const char* inputs[PKI_NAME_FIELD_COUNT] = {serialNumber, country,    state,   locality,  organisation,
                                                    unit,         commonName, surname, givenName, title};
        PKINameRecord record{};
        for (std::uint32_t i = 0; i < PKI_NAME_FIELD_COUNT; ++i)
            if (!WideOf(inputs[i], kNameFields[i].capacity, kNameFields[i].field(record))) return;
        std::vector<wchar_t> wide(PKIF_NAME_TEXT_BYTES, 0);
        std::uint32_t length = PKIF_NAME_TEXT_BYTES;
        if (formats_->ComposeName(&record, wide.data(), &length) != 0) return;
        wide.back() = 0;
        if (!TextOf(wide.data(), PKIF_NAME_TEXT_BYTES, nameText, PKIF_NAME_TEXT_BYTES)) nameText[0] = 0;
    } catch (...) {
        if (nameText) nameText[0] = 0;
    }
}

void SPKIFormats::ParseNameText(const char* nameText, char* serialNumber, char* country, char* state, char* locality,
                                char* organisation, char* unit, char* commonName, char* surname, char* givenName,
                                char* title)
{
    char* outputs[PKI_NAME_FIELD_COUNT] = {serialNumber, country,    state,   locality,  organisation,
                                           unit,         commonName, surname, givenName, title};
    try {
        for (char* out : outputs)
            if (out) out[0] = 0;
        if (!formats_ || !nameText) return;
        std::vector<wchar_t> wide(std::strlen(nameText) + 1, 0);
        if (!WideOf(nameText, static_cast<std::uint32_t>(wide.size()), wide.data())) return;
        PKINameRecord record{};
        if (formats_->ReadNameRecord(wide.data(), &record) != 0) return;
        for (std::uint32_t i = 0; i < PKI_NAME_FIELD_COUNT; ++i)
            if (outputs[i])
                TextOf(kNameFields[i].field(record), kNameFields[i].capacity, outputs[i], kNameFields[i].capacity);
    } catch (...) {
    }
}

// The name hashes: GOST 34.311 (32 bytes) and SHA-1 (160 bits, 20 bytes)
// of the wide name text, written to `hash`.
void SPKIFormats::ConvertNameText(const char* nameText, std::uint8_t* hash)
{
    try {
        if (!formats_ || !nameText) return;
        std::vector<wchar_t> wide(std::strlen(nameText) + 1, 0);
        if (WideOf(nameText, static_cast<std::uint32_t>(wide.size()), wide.data()))
            formats_->HashNameGOST34311(wide.data(), hash);
    } catch (...) {
    }
}

void SPKIFormats::ConvertNameTextLimited(const char* nameText, std::uint8_t* hash)
{
    try {
        if (!formats_ || !nameText) return;
        std::vector<wchar_t> wide(std::strlen(nameText) + 1, 0);
        if (WideOf(nameText, static_cast<std::uint32_t>(wide.size()), wide.data()))
            formats_->HashNameSHA(wide.data(), 160, hash);
    } catch (...) {
    }
}

// The ten wide texts of the library's text record for `source`, which is
// passed through unread. Each output, when given, holds its field's capacity
// in the name record (PKI_NAME_*_CHARS); a field the library left without a
// terminator within that capacity does not fit, and the copy is refused with
// every output left empty.
int SPKIFormats::CopyLibraryTexts(const void* source, wchar_t* serialNumber, wchar_t* country, wchar_t* state,
                                  wchar_t* locality, wchar_t* organisation, wchar_t* unit, wchar_t* commonName,
                                  wchar_t* surname, wchar_t* givenName, wchar_t* title)
{
    wchar_t* outputs[PKI_NAME_FIELD_COUNT] = {serialNumber, country,    state,   locality,  organisation,
                                              unit,         commonName, surname, givenName, title};
    try {
        for (wchar_t* out : outputs)
            if (out) out[0] = 0;
        if (!formats_) return 0;
        PKINameRecord record{};
        if (formats_->ReadNameRecord(source, &record) != 0) return 0;
        for (std::uint32_t i = 0; i < PKI_NAME_FIELD_COUNT; ++i)
            if (outputs[i] && !std::wmemchr(kNameFields[i].field(record), L'\0', kNameFields[i].capacity)) return 0;
        for (std::uint32_t i = 0; i < PKI_NAME_FIELD_COUNT; ++i)
            if (outputs[i]) std::wcscpy(outputs[i], kNameFields[i].field(record));
        return 1;
    } catch (...) {
        for (wchar_t* out : outputs)
            if (out) out[0] = 0;
        return 0;
    }
}

int SPKIFormats::GetCertificatePolicyLevel(IPKIObject* certificate, std::uint32_t* kind, std::uint32_t* level)
{
    try {
        if (!formats_ || !certificate || !kind || !level) return 0;
        ObjectRef policies;
        if (static_cast<IPKICertificate*>(certificate)->GetPolicies(policies.Out()) != 0 || !policies) return 0;
        LibraryBlob oid(formats_);
        int rc = policies.As<IPKIPolicies>()->GetFirstPolicy(&oid.blob);
        policies.Reset();
        if (rc != 0 || !oid.blob.data) return 0;
        std::string text(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length);
        struct Row {
            const char* oid;
            std::uint32_t kind;
            int level;  // -1: not written
        };
        static const Row rows[] = {{"1.3.6.1.4.1.19398.1.1.9.1", 1, -1}, {"1.3.6.1.4.1.19398.1.1.9.2", 2, 1},
                                   {"1.3.6.1.4.1.19398.1.1.9.3", 2, 2},  {"1.3.6.1.4.1.19398.1.1.9.4", 2, 3},
                                   {"1.3.6.1.4.1.19398.1.1.9.7", 2, 4},  {"1.3.6.1.4.1.19398.1.1.9.5", 3, -1},
                                   {"1.3.6.1.4.1.19398.1.1.9.6", 4, -1}};
        for (const Row& row : rows) {
            if (text == row.oid) {
                *kind = row.kind;
                if (row.level >= 0) *level = static_cast<std::uint32_t>(row.level);
                break;
            }
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

void PrintHex(const std::uint8_t* bytes, std::uint64_t count, std::uint32_t spaced, char* text)
{
    static const char digits[] = "0123456789ABCDEF";
    char* p = text;
    for (std::uint64_t i = 0; i < count; ++i) {
        *p++ = digits[bytes[i] >> 4];
        *p++ = digits[bytes[i] & 15];
        if (spaced) *p++ = ' ';
    }
    *p = 0;
}

}  // namespace

int SPKIFormats::Hash32ToText(const std::uint8_t* value, std::uint32_t spaced, char* text)
{
    try {
        if (!value || !text) return 0;
        PrintHex(value, 32, spaced, text);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::Serial20ToText(const std::uint8_t* value, std::uint32_t spaced, char* text)
{
    try {
        if (!value || !text) return 0;
        int skip = 0;
        while (skip < 19 && value[skip] == 0) ++skip;
        PrintHex(value + skip, 20 - skip, spaced, text);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BytesToText(const std::uint8_t* bytes, std::uint32_t byteCount, std::uint32_t bitCount,
                             std::uint32_t spaced, char* text)
{
    try {
        if (!text) return 0;
        std::uint64_t count = byteCount ? byteCount : (static_cast<std::uint64_t>(bitCount) + 7) / 8;
        if (count && !bytes) return 0;
        PrintHex(bytes, count, spaced, text);
        return 1;
    } catch (...) {
        return 0;
    }
}

std::uint8_t SPKIFormats::HexPairToByte(char low, char high)
{
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return 0;
    };
    return static_cast<std::uint8_t>(digit(low) + 16 * digit(high));
}

// Reads the text from its end, two digits a byte, blanks skipped, into `out`
// from its last byte backward; an unpaired first digit is ignored.
int SPKIFormats::HexTextToBytes(const char* text, std::uint8_t* out, std::uint32_t length)
{
    try {
        if (!text || (!out && length)) return 0;
        if (length) std::memset(out, 0, length);
        std::int64_t i = static_cast<std::int64_t>(std::strlen(text)) - 1;
        std::uint32_t filled = 0;
        while (filled < length) {
            while (i >= 0 && text[i] == ' ') --i;
            if (i < 1) break;
            out[length - 1 - filled] = HexPairToByte(text[i], text[i - 1]);
            ++filled;
            i -= 2;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::TextToHash32(const char* text, std::uint8_t* value)
{
    return HexTextToBytes(text, value, 32);
}

int SPKIFormats::TextToSerial20(const char* text, std::uint8_t* value)
{
    return HexTextToBytes(text, value, 20);
}

void SPKIFormats::KeyUsageToText(std::uint32_t keyUsage, char* text)
{
    static const char* const names[7] = {
        "\xC5\xD6\xCF",
        "\xCD\xE5\xF1\xEF\xF0\xEE\xF1\xF2\xEE\xE2\xED\xB3\xF1\xF2\xFC",
        "\xD8\xE8\xF4\xF0\xF3\xE2\xE0\xED\xED\xFF\x20\xEA\xEB\xFE\xF7\xB3\xE2",
        "\xD8\xE8\xF4\xF0\xF3\xE2\xE0\xED\xED\xFF\x20\xE4\xE0\xED\xE8\xF5",
        "\xCF\xF0\xEE\xF2\xEE\xEA\xEE\xEB\xE8\x20\xF0\xEE\xE7\xEF\xEE\xE4\xB3\xEB\xF3\x20\xEA\xEB\xFE\xF7\xB3\xE2",
        "\xCF\xB3\xE4\xEF\xE8\xF1\x20\xF1\xE5\xF0\xF2\xE8\xF4\xB3\xEA\xE0\xF2\xB3\xE2",
        "\xCF\xB3\xE4\xEF\xE8\xF1\x20\xD1\xC2\xD1"};
    try {
        if (!text) return;
        // All seven texts with their separators take 118 bytes: within
        // PKIF_KEY_USAGE_TEXT_BYTES.
        std::string out;
        for (int bit = 0; bit < 7; ++bit) {
            if (keyUsage & (1u << bit)) {
                out += names[bit];
                out += ", ";
            }
        }
        if (!out.empty()) out.resize(out.size() - 2);
        std::memcpy(text, out.c_str(), out.size() + 1);
    } catch (...) {
    }
}

int SPKIFormats::TrimAndConvertNumber76(const std::uint8_t* number, std::uint32_t keepSign, std::uint32_t spaced,
                                        char* text)
{
    try {
        if (!number || !text) return 0;
        std::uint32_t i = 0;
        while (i < 75 && number[i] == 0) ++i;
        if (i > 0 && keepSign && (number[i] & 0x80)) --i;
        return BytesToText(number + i, 76 - i, 0, spaced, text);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::TrimAndConvertNumber152(const std::uint8_t* number, std::uint32_t spaced, char* text)
{
    try {
        if (!number || !text) return 0;
        std::uint32_t i = 0;
        while (i < 151 && number[i] == 0) ++i;
        return BytesToText(number + i, 152 - i, 0, spaced, text);
    } catch (...) {
        return 0;
    }
}
