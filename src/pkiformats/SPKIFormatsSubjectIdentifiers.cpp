// Subject identifiers: the Ukrainian identification numbers carried in
// subject names ("NTRUA-", "TAXUA-", "TINUA-", "PASUA-", "IDNUA-"), the
// identifier patterns of natural and legal persons, name texts through the
// library's name tables, and the maker's and qualified policy OIDs.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kNameTablesVersion = 262;  // the name tables need a library above this

const char kTaxPrefix[] = "TINUA-";

// The subject attributes that carry identifiers, by position: OID, prefix,
// longest value after the prefix, and the directory-attribute OID whose
// output the value goes to.
struct SubjectPosition {
    const char* attribute;
    const char* prefix;
    std::uint32_t longest;
    const char* directoryOid;
};
const SubjectPosition kPositions[PKIF_DIRECTORY_POSITIONS] = {{"2.5.4.9", "", 128, nullptr},
                                                              {"1.2.840.113549.1.9.1", "", 128, nullptr},
                                                              {"2.5.4.97", "NTRUA-", 10, "1.2.804.2.1.1.1.11.1.4.2.1"},
                                                              {"2.5.4.5", "TAXUA-", 10, "1.2.804.2.1.1.1.11.1.4.1.1"},
                                                              {"2.5.4.5", kTaxPrefix, 10, "1.2.804.2.1.1.1.11.1.4.1.1"},
                                                              {"2.5.4.5", "PASUA-", 10, "1.2.804.2.1.1.1.11.1.4.1.1"},
                                                              {"2.5.4.5", "IDNUA-", 14, "1.2.804.2.1.1.1.11.1.4.11.1"}};

const char* const kNaturalPatterns[] = {"PAS\?\?-*", "IDC\?\?-*", "PNO\?\?-*", "TAX\?\?-*", "TIN\?\?-*", "\?\?:\?\?-*"};
const char* const kLegalPatterns[] = {"VAT\?\?-*", "NTR\?\?-*", "\?\?:\?\?-*"};
constexpr std::uint32_t kIdentifierNumberMax = PKIF_IDENTIFIER_NUMBER_BYTES - 1;

const char* const kQualifiedPolicies[] = {"0.4.0.1456.1.1", "0.4.0.194112.1.2", "0.4.0.194112.1.3",
                                          "1.2.804.2.1.1.1.2.4"};

// Writes the formatted text when it fits in `capacity`; else leaves it empty.
bool FormatInto(char* out, std::size_t capacity, const char* format, const char* a, const char* b)
{
    int n = std::snprintf(out, capacity, format, a, b);
    if (n < 0 || static_cast<std::size_t>(n) >= capacity) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool NonEmpty(const char* s)
{
    return s && s[0];
}

// Tries the patterns in order; on the first match clears the outputs and,
// for the first `withValues` patterns, writes the country and (for "UA" and
// a number of at most ten characters) the number. Answers 1 for any match.
int ParseIdentifier(ISPKIFormats& formats, const char* text, const char* const* patterns, std::size_t count,
                    std::size_t withValues, char* country, char* number)
{
    if (!text) return 0;
    std::size_t length = std::strlen(text);
    if (length > UINT32_MAX) return 0;
    for (std::size_t p = 0; p < count; ++p) {
        if (!formats.MatchWildcard(text, static_cast<std::uint32_t>(length), patterns[p],
                                   static_cast<std::uint32_t>(std::strlen(patterns[p]))))
            continue;
        if (country) country[0] = 0;
        if (number) number[0] = 0;
        if (p < withValues) {
            if (country) {
                country[0] = text[3];
                country[1] = text[4];
                country[2] = 0;
            }
            const char* rest = text + 6;
            if (number && text[3] == 'U' && text[4] == 'A' && std::strlen(rest) <= kIdentifierNumberMax)
                std::memcpy(number, rest, std::strlen(rest) + 1);
        }
        return 1;
    }
    return 0;
}

// Walks a certificate's policy OIDs until `stop` accepts one. 1 with the
// OID found (or none when the list ends or is absent), 0 when a read fails.
template <typename Stop>
int WalkPolicies(IPKIInterface* formats, IPKIObject* certificate, Stop stop)
{
    ObjectRef list;
    int rc = static_cast<IPKICertificate*>(certificate)->GetPolicyList(list.Out());
    if (rc != 0 || !list) return 1;
    std::uint32_t count = 0;
    if (list.As<IPKIOIDList>()->GetCount(&count) != 0) return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        LibraryBlob oid(formats);
        if (list.As<IPKIOIDList>()->GetOID(i, &oid.blob) != 0 || !oid.blob.data) return 0;
        std::string text(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length);
        if (stop(text)) break;
    }
    return 1;
}

}  // namespace

int SPKIFormats::IsMakerPolicy(const char* oid)
{
    try {
        if (!oid) return 0;
        static const char prefix[] = "1.3.6.1.4.1.19398.1.1.8.";
        static const char* const endings[] = {"21", "22", "23", "34", "24", "25", "26", "27",
                                              "28", "36", "29", "30", "31", "35", "32", "33"};
        if (std::strncmp(oid, prefix, sizeof prefix - 1) != 0) return 0;
        for (const char* ending : endings)
            if (std::strcmp(oid + sizeof prefix - 1, ending) == 0) return 1;
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::LookupNameText(IPKIObject* name, const char* oid, std::uint32_t index, std::uint32_t* found,
                                char* text)
{
    try {
        if (found) *found = 0;
        if (text) text[0] = 0;
        std::uint32_t version = 0;
        if (!formats_ || formats_->GetVersion(&version) != 0 || version <= kNameTablesVersion) return 0;
        std::vector<wchar_t> wide(PKIF_NAME_VALUE_TEXT_BYTES, 0);
        int rc = formats_->GetNameAttributeText(name, oid, index, wide.data(), PKIF_NAME_VALUE_TEXT_BYTES);
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != 0) return 0;
        if (text && !TextOf(wide.data(), PKIF_NAME_VALUE_TEXT_BYTES, text, PKIF_NAME_VALUE_TEXT_BYTES)) return 0;
        if (found) *found = 1;
        return 1;
    } catch (...) {
        if (text) text[0] = 0;
        return 0;
    }
}

int SPKIFormats::SetNameText(IPKIObject* name, const char* oid, std::uint32_t index, const char* text)
{
    try {
        std::uint32_t version = 0;
        if (!formats_ || formats_->GetVersion(&version) != 0 || version <= kNameTablesVersion) return 0;
        std::vector<wchar_t> wide(PKIF_NAME_VALUE_TEXT_BYTES, 0);
        if (!WideOf(text, PKIF_NAME_VALUE_TEXT_BYTES, wide.data())) return 0;
        return formats_->SetNameAttributeText(name, oid, index, wide.data()) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetNameTextPair(IPKIObject* name, const char* oid, const char* text)
{
    try {
        std::uint32_t version = 0;
        if (!formats_ || formats_->GetVersion(&version) != 0 || version <= kNameTablesVersion) return 0;
        std::vector<wchar_t> wide(PKIF_NAME_VALUE_TEXT_BYTES, 0);
        if (!WideOf(text, PKIF_NAME_VALUE_TEXT_BYTES, wide.data())) return 0;
        return formats_->SetNameAttributePair(name, oid, wide.data()) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FillSubjectIdentifiers(IPKIObject* name, std::uint32_t count, const char* const* oids,
                                        const char* const* prefixes, char* const* outputs, const std::uint32_t* longest)
{
    try {
        if (!formats_ || !oids || !prefixes || !outputs || !longest) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!oids[i] || !outputs[i]) continue;
            char text[PKIF_NAME_VALUE_TEXT_BYTES];
            std::uint32_t found = 0;
            if (!LookupNameText(name, oids[i], 0, &found, text)) return 0;
            const char* prefix = prefixes[i] ? prefixes[i] : "";
            std::size_t prefixLength = std::strlen(prefix), length = std::strlen(text);
            if (!found || length <= prefixLength || length - prefixLength > longest[i] ||
                std::strncmp(text, prefix, prefixLength) != 0)
                continue;
            const char* value = text + prefixLength;
            if (std::strcmp(prefix, kTaxPrefix) == 0) {
                // A conversion that fails, or whose text would not fit the
                // position, leaves the value as it was read.
                char converted[PKIF_NAME_VALUE_TEXT_BYTES] = {};
                if (formats_->ConvertTaxNumber(value, 2, converted, sizeof converted) == 0 &&
                    std::memchr(converted, 0, sizeof converted) && std::strlen(converted) <= longest[i])
                    value = converted;
                std::memcpy(outputs[i], value, std::strlen(value) + 1);
                continue;
            }
            std::memcpy(outputs[i], value, std::strlen(value) + 1);
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MapUkrainianIdentifierOutputs(std::uint32_t count, const char* const* oids, char* const* outputs,
                                               char** positions)
{
    try {
        const char* table[PKIF_DIRECTORY_POSITIONS];
        for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) table[j] = kPositions[j].directoryOid;
        return MapOutputsByOid(count, oids, outputs, table, positions);
    } catch (...) {
        return 0;
    }
}

// Whole text against whole pattern, "?" one character and "*" any run. The
// search goes back only to the latest "*", so it takes at most
// text x pattern steps whatever the pattern.
int SPKIFormats::MatchWildcard(const char* text, std::uint32_t textLength, const char* pattern,
                               std::uint32_t patternLength)
{
    try {
        if ((!text && textLength) || (!pattern && patternLength)) return 0;
        std::uint32_t t = 0, p = 0, star = UINT32_MAX, resume = 0;
        while (t < textLength) {
            if (p < patternLength && pattern[p] == '*') {
                star = p++;
                resume = t;
            } else if (p < patternLength && (pattern[p] == '?' || pattern[p] == text[t])) {
                ++p, ++t;
            } else if (star != UINT32_MAX) {
                p = star + 1;
                t = ++resume;
            } else {
                return 0;
            }
        }
        while (p < patternLength && pattern[p] == '*') ++p;
        return p == patternLength ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FormatTaxIdentifier(const char* country, const char* number, char* out)
{
    try {
        if (out) out[0] = 0;
        if (!NonEmpty(country) || !NonEmpty(number)) return 0;
        if (!out) return 1;
        if (!formats_) return 0;
        char converted[PKIF_IDENTIFIER_TEXT_BYTES] = {};
        if (formats_->ConvertTaxNumber(number, 1, converted, sizeof converted) != 0 ||
            !std::memchr(converted, 0, sizeof converted))
            return 0;
        return FormatInto(out, PKIF_IDENTIFIER_TEXT_BYTES, "TIN%s-%s", country, converted) ? 1 : 0;
    } catch (...) {
        if (out) out[0] = 0;
        return 0;
    }
}

int SPKIFormats::ParseNaturalPersonIdentifier(const char* text, char* country, char* number)
{
    try {
        return ParseIdentifier(*this, text, kNaturalPatterns, 6, 5, country, number);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FormatOrganisationIdentifier(const char* country, const char* number, char* out)
{
    try {
        if (out) out[0] = 0;
        if (!NonEmpty(country) || !NonEmpty(number) || !out) return 0;
        return FormatInto(out, PKIF_IDENTIFIER_TEXT_BYTES, "NTR%s-%s", country, number) ? 1 : 0;
    } catch (...) {
        if (out) out[0] = 0;
        return 0;
    }
}

int SPKIFormats::ParseLegalPersonIdentifier(const char* text, char* country, char* number)
{
    try {
        return ParseIdentifier(*this, text, kLegalPatterns, 3, 2, country, number);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindMakerPolicy(IPKIObject* certificate, std::uint32_t* found, char* oid)
{
    try {
        if (found) *found = 0;
        if (oid) oid[0] = 0;
        if (!certificate || !formats_) return 0;
        return WalkPolicies(formats_, certificate, [&](const std::string& text) {
            if (!IsMakerPolicy(text.c_str())) return false;
            if (found) *found = 1;
            if (oid && text.size() < PKIF_OID_TEXT_BYTES) std::memcpy(oid, text.c_str(), text.size() + 1);
            return true;
        });
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HasQualifiedPolicy(IPKIObject* certificate, std::uint32_t* found)
{
    try {
        if (!certificate || !found || !formats_) return 0;
        *found = 0;
        return WalkPolicies(formats_, certificate, [&](const std::string& text) {
            for (const char* qualified : kQualifiedPolicies)
                if (text == qualified) return (*found = 1) != 0;
            return false;
        });
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FillCertificateSubjectIdentifiers(IPKIObject* certificate, std::uint32_t fillUkrainian,
                                                   std::uint32_t count, const char* const* oids, char* const* outputs)
{
    try {
        // Only the outputs given are cleared: an absent one means "not wanted".
        if (outputs)
            for (std::uint32_t i = 0; i < count; ++i)
                if (outputs[i]) outputs[i][0] = 0;
        if (!certificate || (count && (!oids || !outputs))) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        ObjectRef attributes;
        if (c->GetSubjectDirectoryAttributes(attributes.Out()) == 0 && attributes) {
            if (!ReadDirectoryItems(*this, attributes.As<IPKIObject>(), certificate, false, count, oids, outputs))
                return 0;
        }
        if (!fillUkrainian) return 1;
        char* positions[PKIF_DIRECTORY_POSITIONS];
        if (!MapUkrainianIdentifierOutputs(count, oids, outputs, positions)) return 0;
        ObjectRef subject;
        if (c->GetSubject(subject.Out()) != 0 || !subject) return 1;
        return FillSubjectPositions(*this, subject.As<IPKIObject>(), positions);
    } catch (...) {
        return 0;
    }
}

int pkif::FillSubjectPositions(ISPKIFormats& formats, IPKIObject* name, char* const* positions)
{
    const char* oids[PKIF_DIRECTORY_POSITIONS];
    const char* prefixes[PKIF_DIRECTORY_POSITIONS];
    std::uint32_t longest[PKIF_DIRECTORY_POSITIONS];
    bool wanted = false;
    for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j) {
        oids[j] = kPositions[j].attribute;
        prefixes[j] = kPositions[j].prefix;
        longest[j] = kPositions[j].longest;
        wanted |= positions[j] != nullptr;
    }
    if (!wanted) return 1;
    return formats.FillSubjectIdentifiers(name, PKIF_DIRECTORY_POSITIONS, oids, prefixes, positions, longest);
}

int SPKIFormats::GetSubjectTaxAttributeText(IPKIObject* object, std::uint32_t, char* text)
{
    try {
        if (!object || !text || !formats_) return 0;
        ObjectRef list, values;
        if (static_cast<IPKICertificate*>(object)->GetAttributeList(list.Out()) != 0 || !list) return 0;
        if (list.As<IPKIObject>()->QueryInterface(PKI_IID_ATTRIBUTE_VALUES, values.Out()) != 0 || !values)
            return 1;  // a list that cannot be read by OID holds no such value
        text[0] = 0;
        std::vector<wchar_t> wide(PKIF_NAME_VALUE_TEXT_BYTES, 0);
        int rc = values.As<IPKIAttributeValues>()->GetValueText("1.2.804.2.1.1.1.2.2", wide.data(),
                                                                PKIF_NAME_VALUE_TEXT_BYTES);
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != 0) return 0;
        return TextOf(wide.data(), PKIF_NAME_VALUE_TEXT_BYTES, text, PKIF_NAME_VALUE_TEXT_BYTES);
    } catch (...) {
        if (text) text[0] = 0;
        return 0;
    }
}

namespace {

// The two maker values live in the certificate's key cache (slots 6 and 7)
// and as attributes of a key container's last entry; both are exactly
// PKIF_MAKER_VALUE_BYTES long.
const std::uint32_t kMakerCacheSlot[2] = {6, 7};
const char* const kMakerAttribute[2] = {"1.3.6.1.4.1.19398.2.12.1", "1.3.6.1.4.1.19398.2.12.2"};

int SetMakerValue(ISPKIFormats& f, int which, IPKIObject* certificate, const std::uint8_t* value)
{
    if (!certificate || !value) return 0;
    PKIBlob blob{PKIF_MAKER_VALUE_BYTES, const_cast<std::uint8_t*>(value)};
    return f.WriteKeyCache(certificate, kMakerCacheSlot[which], &blob);
}

int GetMakerValue(ISPKIFormats& f, IPKIInterface* formats, int which, IPKIObject* certificate, std::uint8_t* value)
{
    if (!certificate || !value || !formats) return 0;
    LibraryBlob cached(formats);
    if (!f.ReadKeyCache(certificate, kMakerCacheSlot[which], &cached.blob)) return 0;
    if (cached.blob.length != PKIF_MAKER_VALUE_BYTES || !cached.blob.data) return 0;
    std::memcpy(value, cached.blob.data, PKIF_MAKER_VALUE_BYTES);
    return 1;
}

int SetMakerAttribute(ISPKIFormats& f, int which, IPKIObject* container, const char* password,
                      const std::uint8_t* value)
{
    if (!container || !value) return 0;
    PKIBlob blob{PKIF_MAKER_VALUE_BYTES, const_cast<std::uint8_t*>(value)};
    return f.SetLastEntryAttribute(container, password, &blob, kMakerAttribute[which]);
}

int GetMakerAttribute(ISPKIFormats& f, IPKIInterface* formats, int which, IPKIObject* container, const char* password,
                      std::uint8_t* value)
{
    if (!container || !value || !formats) return 0;
    LibraryBlob found(formats);
    if (!f.FindEntryAttribute(container, password, kMakerAttribute[which], &found.blob)) return 0;
    if (found.blob.length != PKIF_MAKER_VALUE_BYTES || !found.blob.data) return 0;
    std::memcpy(value, found.blob.data, PKIF_MAKER_VALUE_BYTES);
    return 1;
}

}  // namespace

#define QVK_MAKER_OPERATIONS(X, which)                                                                                 \
    int SPKIFormats::SetMakerValue##X(IPKIObject* certificate, const std::uint8_t* value)                              \
    {                                                                                                                  \
        try {                                                                                                          \
            return SetMakerValue(*this, which, certificate, value);                                                    \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }                                                                                                                  \
    int SPKIFormats::GetMakerValue##X(IPKIObject* certificate, std::uint8_t* value)                                    \
    {                                                                                                                  \
        try {                                                                                                          \
            return GetMakerValue(*this, formats_, which, certificate, value);                                          \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }                                                                                                                  \
    int SPKIFormats::SetMakerAttribute##X(IPKIObject* container, const char* password, const std::uint8_t* value)      \
    {                                                                                                                  \
        try {                                                                                                          \
            return SetMakerAttribute(*this, which, container, password, value);                                        \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }                                                                                                                  \
    int SPKIFormats::GetMakerAttribute##X(IPKIObject* container, const char* password, std::uint8_t* value)            \
    {                                                                                                                  \
        try {                                                                                                          \
            return GetMakerAttribute(*this, formats_, which, container, password, value);                              \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }

QVK_MAKER_OPERATIONS(A, 0)
QVK_MAKER_OPERATIONS(B, 1)
#undef QVK_MAKER_OPERATIONS
