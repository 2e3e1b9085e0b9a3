// Request and certificate field texts, the certificate's role and the texts
// of extended key usages.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kTextBytes = PKIF_NAME_TEXT_BYTES;

// A wide text the library hands out through `read` (capacity in, length out)
// as Windows-1251 text of at most kTextBytes - 1 bytes; a longer one is
// refused. Answers the library's code, or PKI_E_FAILURE.
template <typename Read>
int WideText(IPKIInterface* formats, Read read, std::string& text)
{
    std::vector<wchar_t> wide(kTextBytes, 0);
    std::uint32_t length = kTextBytes;
    const int rc = read(wide.data(), &length);
    if (rc != PKI_OK) return rc;
    if (length >= kTextBytes || wcsnlen(wide.data(), kTextBytes) >= kTextBytes) return PKI_E_FAILURE;
    wide[length] = 0;
    // Windows-1251 gives one byte a wide character: the text fits.
    std::vector<char> narrow(kTextBytes, 0);
    if (formats->WideToText(wide.data(), narrow.data()) != PKI_OK) return PKI_E_FAILURE;
    narrow.back() = 0;
    text.assign(narrow.data());
    return PKI_OK;
}

// The text into a caller output of kTextBytes; one that does not fit leaves
// the output empty.
bool Put(char* out, const std::string& text)
{
    if (!out) return true;
    out[0] = 0;
    if (text.size() + 1 > kTextBytes) return false;
    std::memcpy(out, text.c_str(), text.size() + 1);
    return true;
}

void Clear(char* out)
{
    if (out) out[0] = 0;
}

// Alternative-name outputs by kind: 1 and 2 gather their entries joined
// with ";", 4, 5 and 6 keep the last entry.
struct AltNameOutputs {
    char* byKind[7] = {};
};

bool IsList(std::uint32_t kind)
{
    return kind == 1 || kind == 2;
}

// Walks the entries of a general-names list into the wanted outputs. A
// joined list that would not fit its output is refused: the output is left
// empty and the walk fails.
int WalkAltNames(IPKIInterface* formats, IPKIGeneralNames* names, const AltNameOutputs& out)
{
    std::uint32_t count = 0;
    if (names->GetCount(&count) != PKI_OK) return 0;
    std::string gathered[7];
    bool failed[7] = {};
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t kind = 0;
        if (names->GetKind(i, &kind) != PKI_OK) return 0;
        if (kind >= 7 || !out.byKind[kind]) continue;
        std::string entry;
        if (WideText(
                formats, [&](wchar_t* t, std::uint32_t* l) { return names->GetText(i, t, l); }, entry) != PKI_OK)
            return 0;
        if (IsList(kind)) {
            if (!gathered[kind].empty()) gathered[kind] += ';';
            gathered[kind] += entry;
            if (gathered[kind].size() + 1 > kTextBytes) failed[kind] = true;
        } else {
            gathered[kind] = entry;
        }
        if (!failed[kind] && !Put(out.byKind[kind], gathered[kind])) failed[kind] = true;
        if (failed[kind]) {
            Clear(out.byKind[kind]);
            return 0;
        }
    }
    return 1;
}

// The seven directory items of a directory-attribute object, each a
// presence slot and a text slot.
int ItemPresent(IPKIDirectoryAttributes* items, std::uint32_t j, std::uint32_t* present)
{
    switch (j) {
    case 0:
        return items->HasItem1(present);
    case 1:
        return items->HasItem2(present);
    case 2:
        return items->HasItem3(present);
    case 3:
        return items->HasItem4(present);
    case 4:
        return items->HasItem5(present);
    case 5:
        return items->HasItem6(present);
    case 6:
        return items->HasItem7(present);
    default:
        return PKI_E_INVALID_ARGUMENT;
    }
}

int ItemText(IPKIDirectoryAttributes* items, std::uint32_t j, wchar_t* text, std::uint32_t* length)
{
    switch (j) {
    case 0:
        return items->GetItem1Text(text, length);
    case 1:
        return items->GetItem2Text(text, length);
    case 2:
        return items->GetItem3Text(text, length);
    case 3:
        return items->GetItem4Text(text, length);
    case 4:
        return items->GetItem5Text(text, length);
    case 5:
        return items->GetItem6Text(text, length);
    case 6:
        return items->GetItem7Text(text, length);
    default:
        return PKI_E_INVALID_ARGUMENT;
    }
}

// One wanted item into its output (cleared first): 1 when it was read or is
// absent, 0 when a read failed or the text does not fit.
int ReadItem(IPKIInterface* formats, IPKIDirectoryAttributes* items, std::uint32_t j, char* out)
{
    Clear(out);
    std::uint32_t present = 0;
    if (ItemPresent(items, j, &present) != PKI_OK) return 0;
    if (!present) return 1;
    std::string text;
    if (WideText(
            formats, [&](wchar_t* t, std::uint32_t* l) { return ItemText(items, j, t, l); }, text) != PKI_OK)
        return 0;
    return Put(out, text) ? 1 : 0;
}

bool AnyOf(std::initializer_list<const void*> outputs)
{
    for (const void* p : outputs)
        if (p) return true;
    return false;
}

// The subject identifiers over the wanted outputs: street into AN5, e-mail
// into AN1, the organisation identifier into D1, the tax, passport and card
// numbers into D2 (the last one found wins); the seventh position has none.
int FillIdentifiers(ISPKIFormats& facade, IPKIObject* name, char* an5, char* an1, char* d1, char* d2)
{
    char* positions[PKIF_DIRECTORY_POSITIONS] = {an5, an1, d1, d2, d2, d2, nullptr};
    return FillSubjectPositions(facade, name, positions);
}

// A request period into its outputs: the flag is 1 only when both times
// were read.
int ReadPeriod(IPKIRequest* r, int (IPKIRequest::*get)(void**), SYSTEMTIME* start, SYSTEMTIME* end, std::uint32_t* read)
{
    if (read) *read = 0;
    if (!start || !end) return 1;
    ObjectRef period;
    if ((r->*get)(period.Out()) != PKI_OK || !period) return 1;
    SYSTEMTIME s{}, e{};
    if (period.As<IPKIKeyUsagePeriod>()->GetPeriod(&s, &e) != PKI_OK) return 0;
    *start = s;
    *end = e;
    if (read) *read = 1;
    return 1;
}

// The request's list entries (at most 32, from entry 0) one after another,
// each with its terminator, then the final one; a list that does not fit
// PKIF_REQUEST_LIST_BYTES leaves the multi-string empty and fails.
int ReadMultiString(IPKIInterface* formats, IPKIRequest* r, char* out)
{
    out[0] = 0;
    out[1] = 0;
    ObjectRef list;
    if (r->GetStatementList(list.Out()) != PKI_OK || !list) return 1;
    auto* entries = list.As<IPKIOIDList>();
    std::uint32_t count = 0;
    if (entries->GetCount(&count) != PKI_OK) return 1;
    if (count > 32) count = 32;
    std::string all;
    for (std::uint32_t i = 0; i < count; ++i) {
        LibraryBlob entry(formats);
        if (entries->GetOID(i, &entry.blob) != PKI_OK || !entry.blob.data) return 0;
        // The entry's own length bounds it: a terminator is not trusted to be there.
        const char* text = reinterpret_cast<const char*>(entry.blob.data);
        all.append(text, strnlen(text, entry.blob.length));
        all.push_back('\0');
        if (all.size() + 1 > PKIF_REQUEST_LIST_BYTES) return 0;
    }
    all.push_back('\0');
    if (all.size() < 2) all.push_back('\0');
    std::memcpy(out, all.data(), all.size());
    return 1;
}

// Extended-key-usage texts (Windows-1251), in the order they are compared.
struct UsageText {
    const char* oid;
    const char* text;
};
const UsageText kUsageTexts[] = {
    {"1.3.6.1.5.5.7.3.8", "\xD4\xEE\xF0\xEC\xF3\xE2\xE0\xED\xED\xFF \xEF\xEE\xE7\xED\xE0\xF7\xEE\xEA \xF7\xE0\xF1\xF3"},
    {"1.3.6.1.5.5.7.3.9", "\xCF\xB3\xE4\xEF\xE8\xF1 OCSP-\xE2\xB3\xE4\xEF\xEE\xE2\xB3\xE4\xE5\xE9"},
    {"1.3.6.1.5.5.7.3.10", "\xCF\xB3\xE4\xEF\xE8\xF1 DVCS-\xE2\xB3\xE4\xEF\xEE\xE2\xB3\xE4\xE5\xE9"},
    {"1.3.6.1.4.1.19398.1.1.8.1", "\xCE\xE1\xF0\xEE\xE1\xEA\xE0 CMP-\xEF\xEE\xE2\xB3\xE4\xEE\xEC\xEB\xE5\xED\xFC"},
    {"1.3.6.1.4.1.19398.1.1.8.2",
     "\xC0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 \xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF"},
    {"1.3.6.1.4.1.19398.1.1.8.11", "\xD1\xE5\xF0\xE2\xE5\xF0 \xE1\xE5\xE7\xEF\xE5\xEA\xE8"},
    {"1.3.6.1.4.1.19398.1.1.8.12", "\xD1\xE5\xF0\xE2\xE5\xF0"},
    {"1.3.6.1.4.1.19398.1.1.8.13", "\xCA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7"},
    {"1.3.6.1.4.1.19398.1.1.8.21",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 21"},
    {"1.3.6.1.4.1.19398.1.1.8.22",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 22"},
    {"1.3.6.1.4.1.19398.1.1.8.23",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 23"},
    {"1.3.6.1.4.1.19398.1.1.8.34",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 34"},
    {"1.3.6.1.4.1.19398.1.1.8.24",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 24"},
    {"1.3.6.1.4.1.19398.1.1.8.25",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 25"},
    {"1.3.6.1.4.1.19398.1.1.8.26",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 26"},
    {"1.3.6.1.4.1.19398.1.1.8.27",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 27"},
    {"1.3.6.1.4.1.19398.1.1.8.28",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 28"},
    {"1.3.6.1.4.1.19398.1.1.8.36",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 36"},
    {"1.3.6.1.4.1.19398.1.1.8.29",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 29"},
    {"1.3.6.1.4.1.19398.1.1.8.30",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 30"},
    {"1.3.6.1.4.1.19398.1.1.8.31",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 31"},
    {"1.3.6.1.4.1.19398.1.1.8.35",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 35"},
    {"1.3.6.1.4.1.19398.1.1.8.32",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 32"},
    {"1.3.6.1.4.1.19398.1.1.8.33",
     "\xC7\xE0\xF5\xE8\xF9\xE5\xED\xE8\xE9 \xED\xEE\xF1\xB3\xE9 \xEA\xEB\xFE\xF7\xEE\xE2\xEE\xBF "
     "\xB3\xED\xF4\xEE\xF0\xEC\xE0\xF6\xB3\xBF, \xF2\xE8\xEF 33"},
    {"1.2.804.2.1.1.1.3.9", "\xD6\xE8\xF4\xF0\xEE\xE2\xE0 \xEF\xE5\xF7\xE0\xF2\xEA\xE0"},
    {"1.3.6.1.5.5.7.3.1", "SSL-\xF1\xE5\xF0\xE2\xE5\xF0"},
    {"1.3.6.1.5.5.7.3.2", "SSL-\xEA\xEB\xB3\xBA\xED\xF2"},
    {"1.3.6.1.4.1.311.20.2.2",
     "\xC0\xE2\xF2\xE5\xED\xF2\xE8\xF4\xB3\xEA\xE0\xF6\xB3\xFF \xE7\xE0 \xF1\xEC\xE0\xF0\xF2-\xEA\xE0\xF0\xF2\xEE\xFE"},
};

const char* const kCmpOid = "1.3.6.1.4.1.19398.1.1.8.1";
const char* const kRegistrationOid = "1.3.6.1.4.1.19398.1.1.8.2";
const char* const kTimeStampingOid = "1.3.6.1.5.5.7.3.8";
const char* const kOcspOid = "1.3.6.1.5.5.7.3.9";
const char* const kDvcsOid = "1.3.6.1.5.5.7.3.10";

}  // namespace

int SPKIFormats::GetRequestFieldTexts(IPKIObject* request, char* t0, char* an5, char* an4, char* an2, char* an1,
                                      char* l1, char* l2, char* d1, char* d2, char* d3, char* d4, char* d5, char* d6,
                                      char* d7, std::uint8_t* keyIdentifier, SYSTEMTIME* firstStart,
                                      SYSTEMTIME* firstEnd, std::uint32_t* firstRead, SYSTEMTIME* secondStart,
                                      SYSTEMTIME* secondEnd, std::uint32_t* secondRead, char* multiString, char* text23,
                                      std::uint32_t value24)
{
    try {
        if (!formats_ || !request) return 0;
        auto* r = static_cast<IPKIRequest*>(request);
        if (t0) {
            Clear(t0);
            std::string text;
            if (WideText(
                    formats_, [&](wchar_t* t, std::uint32_t* l) { return r->GetSubjectText(t, l); }, text) != PKI_OK ||
                !Put(t0, text))
                return 0;
        }

        if (AnyOf({an5, an4, an2, an1})) {
            for (char* out : {an5, an4, an2, an1}) Clear(out);
            ObjectRef names;
            const int rc = r->GetAltNames(names.Out());
            if (rc != PKI_E_ABSENT) {
                if (rc != PKI_OK || !names) return 0;
                AltNameOutputs out;
                out.byKind[1] = an1;
                out.byKind[2] = an2;
                out.byKind[4] = an4;
                out.byKind[5] = an5;
                if (!WalkAltNames(formats_, names.As<IPKIGeneralNames>(), out)) return 0;
            }
        }

        if (l1 || l2) {
            // L1 is the first list's entry 0; L2 the second list's entry 0,
            // or the first list's entry 1 when there is no second list.
            auto entry = [&](int (IPKIRequest::*get)(void**), std::uint32_t index, char* out, int* absent) -> int {
                Clear(out);
                ObjectRef list;
                const int rc = (r->*get)(list.Out());
                if (absent) *absent = rc == PKI_E_ABSENT;
                if (rc == PKI_E_ABSENT) return 1;
                if (rc != PKI_OK || !list) return 0;
                auto* texts = list.As<IPKITextList>();
                std::uint32_t count = 0;
                if (texts->GetCount(&count) != PKI_OK) return 0;
                if (count <= index) return 1;
                std::string text;
                if (WideText(
                        formats_, [&](wchar_t* t, std::uint32_t* l) { return texts->GetText(index, t, l); }, text) !=
                    PKI_OK)
                    return 0;
                return Put(out, text) ? 1 : 0;
            };
            if (l1 && !entry(&IPKIRequest::GetFirstTextList, 0, l1, nullptr)) return 0;
            if (l2) {
                int absent = 0;
                if (!entry(&IPKIRequest::GetSecondTextList, 0, l2, &absent)) return 0;
                if (absent && !entry(&IPKIRequest::GetFirstTextList, 1, l2, nullptr)) return 0;
            }
        }

        char* d[PKIF_DIRECTORY_POSITIONS] = {d1, d2, d3, d4, d5, d6, d7};
        if (AnyOf({d1, d2, d3, d4, d5, d6, d7})) {
            for (char* out : d) Clear(out);
            ObjectRef items;
            const int rc = r->GetDirectoryAttributes(items.Out());
            if (rc != PKI_E_ABSENT) {
                if (rc != PKI_OK || !items) return 0;
                for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j)
                    if (d[j] && !ReadItem(formats_, items.As<IPKIDirectoryAttributes>(), j, d[j])) return 0;
            }
        }

        if (AnyOf({an5, an1, d1, d2})) {
            ObjectRef subject;
            if (r->GetSubject(subject.Out()) == PKI_OK && subject &&
                !FillIdentifiers(*this, subject.As<IPKIObject>(), an5, an1, d1, d2))
                return 0;
        }

        if (keyIdentifier && !ForwardToOperation566(request, keyIdentifier)) return 0;
        if (!ReadPeriod(r, &IPKIRequest::GetFirstPeriod, firstStart, firstEnd, firstRead)) return 0;
        if (!ReadPeriod(r, &IPKIRequest::GetSecondPeriod, secondStart, secondEnd, secondRead)) return 0;
        if (multiString && !ReadMultiString(formats_, r, multiString)) return 0;

        if (text23) {
            Clear(text23);
            ObjectRef item;
            if (r->GetTextValueItem(item.Out()) != PKI_OK || !item) return 1;
            auto* v = item.As<IPKITextValue>();
            std::string text;
            if (WideText(
                    formats_, [&](wchar_t* t, std::uint32_t* l) { return v->GetText(t, l); }, text) != PKI_OK ||
                !Put(text23, text))
                return 0;
            if (v->SetValue(value24) != PKI_OK) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetCertificateFieldTexts(IPKIObject* certificate, char* text, std::uint8_t* keyIdentifier,
                                          std::uint32_t* word, std::uint32_t, char* an5, char* an4, char* an2,
                                          char* an1, char* d1, char* d2, char* d3, char* d4, char* d5, char* d6,
                                          char* d7, char* an6)
{
    try {
        if (!formats_ || !certificate) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        if (text) {
            // The subject comes as a name record; its one text is composed
            // by the library.
            Clear(text);
            PKINameRecord record{};
            if (c->GetSubjectRecord(&record) != PKI_OK) return 0;
            std::string subject;
            if (WideText(
                    formats_, [&](wchar_t* t, std::uint32_t* l) { return formats_->ComposeName(&record, t, l); },
                    subject) != PKI_OK ||
                !Put(text, subject))
                return 0;
        }

        if (keyIdentifier) {
            std::uint8_t out[PKIF_KEY_IDENTIFIER_BYTES] = {};
            ObjectRef own;
            const int rc = c->GetSubjectKeyId(own.Out());
            if (rc == PKI_OK && own) {
                // The certificate's own identifier must fit the 32-byte output.
                std::uint32_t length = PKIF_KEY_IDENTIFIER_BYTES;
                if (own.As<IPKIKeyIdentifier>()->GetIdentifier(out, &length) != PKI_OK ||
                    length > PKIF_KEY_IDENTIFIER_BYTES)
                    return 0;
            } else if (rc == PKI_E_ABSENT) {
                std::uint32_t kind = 0;
                if (c->GetKeyKind(&kind) != PKI_OK) return 0;
                if (kind == 2) {
                    std::vector<std::uint8_t> fields(PKIF_RSA_PUBLIC_KEY_BYTES, 0);
                    std::uint32_t bits = 0;
                    if (c->GetRSAPublicKey(fields.data(), &bits) != PKI_OK) return 0;
                    PKIBlob modulus{600, fields.data()};
                    if (formats_->KeyIdentifier(&modulus, out) != PKI_OK) return 0;
                } else if (kind == 4) {
                    std::uint32_t version = 0;
                    std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {};
                    if (formats_->GetVersion(&version) != PKI_OK || version < 262) return 0;
                    if (!GetECCertificateParameter(certificate, PKI_EC_VALUE_PUBLIC_KEY, point)) return 0;
                    PKIBlob key{sizeof point, point};
                    if (formats_->PublicKeyIdentifier(&key, out) != PKI_OK) return 0;
                } else {
                    return 0;
                }
            } else {
                return 0;
            }
            std::memcpy(keyIdentifier, out, sizeof out);
        }
        if (word) *word = 0;

        // Alternative names and directory items are read as far as they go:
        // a failure here leaves the outputs as far as they were filled.
        if (AnyOf({an5, an4, an2, an1, an6})) {
            for (char* out : {an5, an4, an2, an1, an6}) Clear(out);
            ObjectRef names;
            if (c->GetSubjectAltNameList(names.Out()) == PKI_OK && names) {
                AltNameOutputs out;
                out.byKind[1] = an1;
                out.byKind[2] = an2;
                out.byKind[4] = an4;
                out.byKind[5] = an5;
                out.byKind[6] = an6;
                WalkAltNames(formats_, names.As<IPKIGeneralNames>(), out);
            }
        }
        char* d[PKIF_DIRECTORY_POSITIONS] = {d1, d2, d3, d4, d5, d6, d7};
        if (AnyOf({d1, d2, d3, d4, d5, d6, d7})) {
            for (char* out : d) Clear(out);
            ObjectRef items;
            if (c->GetSubjectDirectoryAttributes(items.Out()) == PKI_OK && items)
                for (std::uint32_t j = 0; j < PKIF_DIRECTORY_POSITIONS; ++j)
                    if (d[j]) ReadItem(formats_, items.As<IPKIDirectoryAttributes>(), j, d[j]);
        }

        if (AnyOf({an5, an1, d1, d2})) {
            ObjectRef subject;
            if (c->GetSubject(subject.Out()) != PKI_OK || !subject) return 1;
            if (!FillIdentifiers(*this, subject.As<IPKIObject>(), an5, an1, d1, d2)) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetCertificateRole(IPKIObject* certificate, std::uint32_t* role, std::uint32_t* subtype)
{
    try {
        if (!formats_ || !certificate || !role || !subtype) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        std::uint32_t ca = 0;
        {
            ObjectRef constraints;
            if (c->GetBasicConstraints(constraints.Out()) == PKI_OK && constraints &&
                constraints.As<IPKIBasicConstraints>()->GetCA(&ca) != PKI_OK)
                return 0;
        }
        bool cmp = false, registration = false, timeStamping = false, ocsp = false, dvcs = false;
        ObjectRef usages;
        if (c->GetExtKeyUsages(usages.Out()) == PKI_OK && usages) {
            auto* list = usages.As<IPKIOIDList>();
            std::uint32_t count = 0;
            if (list->GetCount(&count) != PKI_OK) return 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                LibraryBlob oid(formats_);
                if (list->GetOID(i, &oid.blob) != PKI_OK || !oid.blob.data) return 0;
                // Compared whole, within the blob's own length.
                const std::string s(reinterpret_cast<const char*>(oid.blob.data),
                                    strnlen(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length));
                cmp |= s == kCmpOid;
                registration |= s == kRegistrationOid;
                timeStamping |= s == kTimeStampingOid;
                ocsp |= s == kOcspOid;
                dvcs |= s == kDvcsOid;
            }
        }
        const int services = int(cmp) + int(timeStamping) + int(ocsp) + int(dvcs);
        if (ca) {
            *role = 1;
            *subtype = 0;
        } else if (services) {
            *role = 2;
            *subtype = services > 1 ? 0 : cmp ? 1 : timeStamping ? 2 : ocsp ? 3 : 4;
        } else {
            *role = registration ? 3 : 4;
            *subtype = 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

void SPKIFormats::ExtKeyUsagesToText(const char* oid, char* text)
{
    try {
        if (!oid || !text) return;
        for (const UsageText& row : kUsageTexts)
            if (std::strcmp(oid, row.oid) == 0) {
                std::memcpy(text, row.text, std::strlen(row.text) + 1);
                return;
            }
        // The configured texts: the authority list first, then the end-user one.
        char configured[PKIF_EXT_KEY_USAGE_TEXT_BYTES] = {};
        if (GetConfiguredExtKeyUsageText(1, 0, oid, configured) ||
            GetConfiguredExtKeyUsageText(4, 0, oid, configured)) {
            std::memcpy(text, configured, std::strlen(configured) + 1);
            return;
        }
        // The OID itself, when it fits; else the output is left empty.
        const std::size_t length = strnlen(oid, PKIF_EXT_KEY_USAGE_TEXT_BYTES);
        if (length >= PKIF_EXT_KEY_USAGE_TEXT_BYTES) {
            text[0] = 0;
            return;
        }
        std::memcpy(text, oid, length + 1);
    } catch (...) {
    }
}
