// Flat records A to G, holder-record readers and upgrade, marked blobs,
// hexadecimal text and small value helpers. Readers check the header and every
// (offset, length) pair against the blob in 64 bits before they copy, and
// write their outputs only once everything has been checked.
#include <cstring>
#include <initializer_list>

#include "pkiformats/HolderDataLayout.h"
#include "pkiformats/KeyFileDepth.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

bool Has(const PKIBlob* b)
{
    return b && b->data;
}

// The text part of a record: within the blob and at most the record limit.
bool TextPart(const PKIBlob* r, std::uint32_t off, std::uint32_t len)
{
    return len <= PKIF_RECORD_TEXT_MAX && Inside(off, len, r->length);
}

void CopyText(char* out, const std::uint8_t* data, std::uint32_t length)
{
    if (length) std::memcpy(out, data, length);
    out[length] = 0;
}

}  // namespace

int SPKIFormats::AddToSystemTime(const SYSTEMTIME* time, std::uint32_t intervalLow, std::uint32_t intervalHigh,
                                 SYSTEMTIME* out)
{
    try {
        FILETIME ft;
        if (!time || !out || !SystemTimeToFileTime(time, &ft)) return 0;
        std::uint64_t t = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
        t += (static_cast<std::uint64_t>(intervalHigh) << 32) | intervalLow;
        ft.dwLowDateTime = static_cast<DWORD>(t);
        ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
        SYSTEMTIME result;
        if (!FileTimeToSystemTime(&ft, &result)) return 0;
        *out = result;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The lowest layout version of a holder data area that holds its content:
// each version adds fields (texts are present when their first byte is not 0).
// The layout version word itself says nothing about the content.
int SPKIFormats::GetHolderDataVersion(const std::uint8_t* holderData, std::uint32_t* version)
{
    try {
        if (!holderData || !version) return 0;
        std::uint32_t v = 1;
        for (const HolderFieldRow& r : kHolderFields)
            if (r.field != HolderField::Version && r.version > v && !FieldEmpty(holderData, r)) v = r.version;
        *version = v;
        return 1;
    } catch (...) {
        return 0;
    }
}

// The parts that the removable-part flags empty, bit 0 first: the twenty
// texts of the holder data area that go into a certificate's subject, its
// alternative names and its subject directory attributes (layouts 1 to 3), in
// the area's order. Texts A and B are only compared, never issued, and the
// parts of later layouts (country, attribute .4.11.1, organisation texts) keep
// no flag: the word has room for twenty bits.
constexpr HolderField kRemovablePart[20] = {
    HolderField::CommonName,   HolderField::Locality,     HolderField::State,        HolderField::Organisation,
    HolderField::Unit,         HolderField::Title,        HolderField::AltName5,     HolderField::AltName4,
    HolderField::Surname,      HolderField::GivenName,    HolderField::AltName1,     HolderField::AltName2,
    HolderField::Attribute421, HolderField::Attribute411, HolderField::Attribute431, HolderField::Attribute441,
    HolderField::Attribute451, HolderField::Attribute461, HolderField::Attribute471, HolderField::AltName6,
};

int SPKIFormats::TrimHolderData(std::uint8_t* holderData)
{
    try {
        if (!holderData) return 0;
        const std::uint32_t flags = Get32(holderData, HolderOffset(HolderField::RemovableParts));
        if (Get32(holderData, HolderOffset(HolderField::Version)) <= 6 || flags == 0) return 1;
        for (unsigned bit = 0; bit < 20; ++bit)
            if (flags & (1u << bit)) holderData[HolderOffset(kRemovablePart[bit])] = 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

// Holder data block: the layout version word and the three organisation texts
// (from layout 6) with the removable-part flags (layout 7) behind them.
int SPKIFormats::MergeHolderData(std::uint8_t* target, const std::uint8_t* source)
{
    try {
        if (!target || !source) return 0;
        constexpr std::uint32_t versionAt = HolderOffset(HolderField::Version);
        constexpr std::uint32_t textsAt = HolderOffset(HolderField::OrganisationText1);
        constexpr std::uint32_t flagsAt = HolderOffset(HolderField::RemovableParts);
        static_assert(HolderRow(HolderField::OrganisationText1).version == 6 &&
                      HolderRow(HolderField::RemovableParts).version == 7 && HolderBlockLength(5) == textsAt &&
                      HolderBlockLength(6) == flagsAt);
        std::uint32_t version = Get32(source, versionAt);
        if (version > 5) {
            std::memcpy(target + textsAt, source + textsAt, flagsAt - textsAt);
            if (version > Get32(target, versionAt)) Put32(target, versionAt, version);
            if (version > 6)
                std::memcpy(target + flagsAt, source + flagsAt, HolderCapacity(HolderField::RemovableParts));
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadMarkedBlob(const PKIBlob* blob, const char* password, std::uint32_t* format, void** container)
{
    try {
        if (!formats_ || !blob || !blob->data || blob->length <= 16 || std::memcmp(blob->data, "Enis", 4) != 0)
            return 0;
        // The payload is read at the next level of nesting: none is left.
        if (pkif::KeyFileLevel::Exhausted()) return 0;
        std::uint64_t trailing = blob->data[7] | static_cast<std::uint32_t>(blob->data[8]) << 8;
        if (blob->length < trailing + 17) return 0;
        std::uint32_t payload = static_cast<std::uint32_t>(blob->length - trailing - 17);
        LibraryBlob copy(formats_);
        if (formats_->AllocateBlob(&copy.blob, payload) != 0 || (payload && !copy.blob.data)) return 0;
        if (payload) std::memcpy(copy.blob.data, blob->data + 17, payload);
        return ReadPrivateKeyAnyFormat(&copy.blob, password, 1, format, container);
    } catch (...) {
        return 0;
    }
}

// ---- Record A: 48-byte header ----

int SPKIFormats::PackRecordA(std::uint32_t kind, const std::uint8_t* value16, const char* text, std::uint32_t value,
                             const PKIBlob* data, PKIBlob* out)
{
    try {
        std::uint32_t textLength = TextLength(text);
        std::uint32_t dataLength = Has(data) ? data->length : 0;
        if (!out || textLength > PKIF_RECORD_TEXT_MAX) return 0;
        std::uint64_t total = 48ull + textLength + dataLength;
        if (!FitsU32(total) || !AllocateBlob(out, static_cast<std::uint32_t>(total))) return 0;
        std::uint8_t* p = out->data;
        Put32(p, 0, 1);
        Put32(p, 4, 48);
        Put32(p, 8, kind);
        if (value16) std::memcpy(p + 12, value16, 16);
        Put32(p, 28, textLength);
        Put32(p, 32, textLength ? 48 : 0);
        Put32(p, 36, value);
        Put32(p, 40, dataLength);
        Put32(p, 44, dataLength ? 48 + textLength : 0);
        if (textLength) std::memcpy(p + 48, text, textLength);
        if (dataLength) std::memcpy(p + 48 + textLength, data->data, dataLength);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackRecordA(const PKIBlob* record, std::uint32_t* kind, std::uint8_t* value16, char* text,
                               std::uint32_t* value, PKIBlob* data)
{
    try {
        if (!Has(record) || record->length <= 47) return 0;
        const std::uint8_t* p = record->data;
        std::uint32_t textLength = Get32(p, 28), textOffset = Get32(p, 32);
        std::uint32_t dataLength = Get32(p, 40), dataOffset = Get32(p, 44);
        if (Get32(p, 0) != 1 || Get32(p, 4) != 48 || !TextPart(record, textOffset, textLength) ||
            !Inside(dataOffset, dataLength, record->length))
            return 0;
        PKIBlob copy{0, nullptr};
        if (data && !CopyOut(p + dataOffset, dataLength, &copy)) return 0;
        if (kind) *kind = Get32(p, 8);
        if (value16) std::memcpy(value16, p + 12, 16);
        if (text) CopyText(text, p + textOffset, textLength);
        if (value) *value = Get32(p, 36);
        if (data) *data = copy;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Record B: 32-byte header ----

int SPKIFormats::PackRecordB(std::uint32_t kind, std::uint32_t value, const char* text, const PKIBlob* data,
                             PKIBlob* out)
{
    try {
        std::uint32_t textLength = TextLength(text);
        std::uint32_t dataLength = Has(data) ? data->length : 0;
        if (!out || textLength > PKIF_RECORD_TEXT_MAX) return 0;
        std::uint64_t total = 32ull + textLength + dataLength;
        if (!FitsU32(total) || !AllocateBlob(out, static_cast<std::uint32_t>(total))) return 0;
        std::uint8_t* p = out->data;
        Put32(p, 0, 1);
        Put32(p, 4, 32);
        Put32(p, 8, kind);
        Put32(p, 12, value);
        Put32(p, 16, textLength ? 32 : 0);
        Put32(p, 20, textLength);
        Put32(p, 24, dataLength ? 32 + textLength : 0);
        Put32(p, 28, dataLength);
        if (textLength) std::memcpy(p + 32, text, textLength);
        if (dataLength) std::memcpy(p + 32 + textLength, data->data, dataLength);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackRecordB(const PKIBlob* record, std::uint32_t* kind, std::uint32_t* value, char* text,
                               PKIBlob* data)
{
    try {
        if (!Has(record) || record->length <= 31) return 0;
        const std::uint8_t* p = record->data;
        std::uint32_t textOffset = Get32(p, 16), textLength = Get32(p, 20);
        std::uint32_t dataOffset = Get32(p, 24), dataLength = Get32(p, 28);
        if (Get32(p, 0) != 1 || Get32(p, 4) != 32 || !TextPart(record, textOffset, textLength) ||
            !Inside(dataOffset, dataLength, record->length))
            return 0;
        PKIBlob copy{0, nullptr};
        if (data && !CopyOut(p + dataOffset, dataLength, &copy)) return 0;
        if (kind) *kind = Get32(p, 8);
        if (value) *value = Get32(p, 12);
        if (text) CopyText(text, p + textOffset, textLength);
        if (data) *data = copy;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Record C: 52-byte header ----

// The writer refuses what the reader would refuse: a text over the limit.
int SPKIFormats::PackRecordC(std::uint32_t kind, const char* text, const std::uint8_t* value16, const PKIBlob* data1,
                             const PKIBlob* data2, PKIBlob* out)
{
    try {
        std::uint32_t textLength = TextLength(text);
        std::uint32_t length1 = Has(data1) ? data1->length : 0, length2 = Has(data2) ? data2->length : 0;
        if (!out || textLength > PKIF_RECORD_TEXT_MAX) return 0;
        std::uint64_t total = 52ull + textLength + length1 + length2;
        if (!FitsU32(total) || !AllocateBlob(out, static_cast<std::uint32_t>(total))) return 0;
        std::uint8_t* p = out->data;
        std::uint32_t at1 = 52 + textLength, at2 = at1 + length1;
        Put32(p, 0, 1);
        Put32(p, 4, 52);
        Put32(p, 8, kind);
        Put32(p, 12, textLength ? 52 : 0);
        Put32(p, 16, textLength);
        if (value16) std::memcpy(p + 20, value16, 16);
        Put32(p, 36, length1 ? at1 : 0);
        Put32(p, 40, length1);
        Put32(p, 44, length2 ? at2 : 0);
        Put32(p, 48, length2);
        if (textLength) std::memcpy(p + 52, text, textLength);
        if (length1) std::memcpy(p + at1, data1->data, length1);
        if (length2) std::memcpy(p + at2, data2->data, length2);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackRecordC(const PKIBlob* record, std::uint32_t* kind, char* text, std::uint8_t* value16,
                               PKIBlob* data1, PKIBlob* data2)
{
    try {
        if (!Has(record) || record->length <= 51) return 0;
        const std::uint8_t* p = record->data;
        std::uint32_t textOffset = Get32(p, 12), textLength = Get32(p, 16);
        std::uint32_t off1 = Get32(p, 36), len1 = Get32(p, 40), off2 = Get32(p, 44), len2 = Get32(p, 48);
        if (Get32(p, 0) == 0 || Get32(p, 4) <= 51 || !TextPart(record, textOffset, textLength) ||
            !Inside(off1, len1, record->length) || !Inside(off2, len2, record->length))
            return 0;
        PKIBlob copy1{0, nullptr}, copy2{0, nullptr};
        if (data1 && !CopyOut(p + off1, len1, &copy1)) return 0;
        if (data2 && !CopyOut(p + off2, len2, &copy2)) {
            ReleaseBlob(&copy1);
            return 0;
        }
        if (kind) *kind = Get32(p, 8);
        if (text) CopyText(text, p + textOffset, textLength);
        if (value16) std::memcpy(value16, p + 20, 16);
        if (data1) *data1 = copy1;
        if (data2) *data2 = copy2;
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Records D and E: 20-byte header ----

int SPKIFormats::PackRecordD(std::uint32_t kind, const PKIBlob* data, PKIBlob* out)
{
    try {
        std::uint32_t length = Has(data) ? data->length : 0;
        std::uint64_t total = 20ull + length;
        if (!out || !FitsU32(total) || !AllocateBlob(out, static_cast<std::uint32_t>(total))) return 0;
        Put32(out->data, 0, 1);
        Put32(out->data, 4, 20);
        Put32(out->data, 8, kind);
        Put32(out->data, 12, 20);
        Put32(out->data, 16, length);
        if (length) std::memcpy(out->data + 20, data->data, length);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackRecordD(const PKIBlob* record, std::uint32_t* kind, PKIBlob* data)
{
    try {
        if (!Has(record) || record->length <= 19) return 0;
        const std::uint8_t* p = record->data;
        std::uint32_t offset = Get32(p, 12), length = Get32(p, 16);
        if (Get32(p, 0) == 0 || Get32(p, 4) < 20 || !Inside(offset, length, record->length)) return 0;
        PKIBlob copy{0, nullptr};
        if (data && !CopyOut(p + offset, length, &copy)) return 0;
        if (kind) *kind = Get32(p, 8);
        if (data) *data = copy;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PackRecordE(std::uint32_t kind, const PKIBlob* data, PKIBlob* out)
{
    return PackRecordD(kind, data, out);
}

int SPKIFormats::UnpackRecordE(const PKIBlob* record, std::uint32_t* kind, PKIBlob* data)
{
    return UnpackRecordD(record, kind, data);
}

// ---- Record F: short text; record G: one word ----

int SPKIFormats::PackShortText(const char* text, PKIBlob* out)
{
    try {
        std::uint32_t length = TextLength(text);
        if (!out || length >= PKIF_SHORT_TEXT_BYTES || !AllocateBlob(out, 18)) return 0;
        Put32(out->data, 0, 1);
        if (length) std::memcpy(out->data + 4, text, length);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackShortText(const PKIBlob* record, char* text)
{
    try {
        if (!Has(record) || record->length <= 17 || Get32(record->data, 0) == 0) return 0;
        const std::uint8_t* t = record->data + 4;
        const void* end = std::memchr(t, 0, PKIF_SHORT_TEXT_BYTES);
        if (!end) return 0;
        if (text) CopyText(text, t, static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(end) - t));
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PackWordA(std::uint32_t value, PKIBlob* out)
{
    try {
        if (!out || !AllocateBlob(out, 8)) return 0;
        Put32(out->data, 0, 1);
        Put32(out->data, 4, value);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::PackWordB(std::uint32_t value, PKIBlob* out)
{
    return PackWordA(value, out);
}

int SPKIFormats::UnpackWordA(const PKIBlob* record, std::uint32_t* value)
{
    try {
        if (!Has(record) || record->length <= 7 || Get32(record->data, 0) == 0) return 0;
        if (value) *value = Get32(record->data, 4);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::UnpackWordB(const PKIBlob* record, std::uint32_t* value)
{
    return UnpackWordA(record, value);
}

// ---- Holder records ----

int SPKIFormats::GetHolderRecordHeaderSize(std::uint32_t version, std::uint32_t* headerLength)
{
    if (version < 1 || version > 6) return 0;
    if (headerLength) *headerLength = kHolderHeader[version];
    return 1;
}

namespace {

// A record of a known version whose blob holds its version's header.
bool HolderVersion(const PKIBlob* r, std::uint32_t* version)
{
    if (!r || !r->data || r->length < 180) return false;
    std::uint32_t v = Get32(r->data, 0);
    if (v < 1 || v > 6 || r->length < kHolderHeader[v]) return false;
    *version = v;
    return true;
}

// A NUL-terminated text named by the pair at `at`, within the blob.
const char* StoredText(const PKIBlob* r, std::uint32_t at)
{
    std::uint32_t off = Get32(r->data, at), len = Get32(r->data, at + 4);
    if (len == 0 || !Inside(off, len, r->length) || r->data[static_cast<std::uint64_t>(off) + len - 1] != 0)
        return nullptr;
    return reinterpret_cast<const char*>(r->data + off);
}

}  // namespace

int SPKIFormats::GetHolderRecordText(const PKIBlob* record, const char** text)
{
    try {
        std::uint32_t version = 0;
        if (!HolderVersion(record, &version) || record->length < 216 || version < 4) return 0;
        const char* t = StoredText(record, 208);
        if (!t) return 0;
        if (text) *text = t;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetHolderRecordExtension(const PKIBlob* record, std::uint32_t* present, std::uint32_t* words,
                                          const char** text)
{
    try {
        std::uint32_t version = 0;
        if (!HolderVersion(record, &version)) return 0;
        if (version < 6) {
            if (present) *present = 0;
            return 1;
        }
        if (Get32(record->data, 4) < 248) return 0;
        if (present) *present = Get32(record->data, 224);
        if (words)
            for (int i = 0; i < 3; ++i) words[i] = Get32(record->data, 228 + 4 * i);
        if (text) *text = StoredText(record, 240);
        return 1;
    } catch (...) {
        return 0;
    }
}

// The new header is that of the larger of the two versions; the variable
// parts keep their order behind it, every offset grown by the header's growth.
// Fields new to the record: word C (180) becomes 1 for a record of version 1,
// and the usage words of the second and third keys (216, 220) become 0x11 when
// their key part is present, the usage such keys have below version 5.
int SPKIFormats::UpgradeHolderRecord(std::uint32_t version, const PKIBlob* record, PKIBlob* out)
{
    try {
        std::uint32_t own = 0;
        if (!out || version > 6 || !HolderVersion(record, &own)) return 0;
        std::uint32_t target = version > own ? version : own;
        const std::uint8_t* p = record->data;
        std::uint32_t oldHeader = Get32(p, 4);
        if (oldHeader < kHolderHeader[own] || oldHeader > record->length) return 0;
        std::uint32_t newHeader = oldHeader > kHolderHeader[target] ? oldHeader : kHolderHeader[target];
        std::uint32_t growth = newHeader - oldHeader;

        // Pairs of the record's own version; every part must lie behind the header.
        std::uint32_t pairs[20];
        int pairCount = 0;
        pairs[pairCount++] = 8;
        for (std::uint32_t at = 88; at <= 160; at += 8) pairs[pairCount++] = at;
        if (own >= 3)
            for (std::uint32_t at : {184u, 192u, 200u}) pairs[pairCount++] = at;
        if (own >= 4) pairs[pairCount++] = 208;
        if (own >= 6) pairs[pairCount++] = 240;
        for (int i = 0; i < pairCount; ++i) {
            std::uint32_t off = Get32(p, pairs[i]), len = Get32(p, pairs[i] + 4);
            if (len && (off < oldHeader || !Inside(off, len, record->length))) return 0;
        }
        std::uint64_t total = static_cast<std::uint64_t>(record->length) + growth;
        if (!FitsU32(total)) return 0;
        PKIBlob fresh{0, nullptr};
        if (!AllocateBlob(&fresh, static_cast<std::uint32_t>(total))) return 0;
        std::uint8_t* q = fresh.data;
        std::memcpy(q, p, kHolderHeader[own]);
        if (Get32(p, 168) == 0) std::memset(q + 176, 0, 4);
        std::memcpy(q + newHeader, p + oldHeader, record->length - oldHeader);
        Put32(q, 0, target);
        Put32(q, 4, newHeader);
        for (int i = 0; i < pairCount; ++i)
            if (Get32(p, pairs[i] + 4)) Put32(q, pairs[i], Get32(p, pairs[i]) + growth);
        if (own < 2 && target >= 2) Put32(q, 180, 1);
        if (own < 5 && target >= 5) {
            if (Get32(p, 164)) Put32(q, 216, 0x11);
            if (own >= 3 && Get32(p, 204)) Put32(q, 220, 0x11);
        }
        *out = fresh;
        return 1;
    } catch (...) {
        return 0;
    }
}
