// Key-parts records and holder records: the facade's two versioned binary
// records. All words are 32-bit little-endian; every (offset, length) pair
// read from a record is checked against the record in 64 bits before use.
#include <cstring>
#include <initializer_list>

#include "pkiformats/HolderDataLayout.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

// Key-parts record header.
constexpr std::uint32_t kPartsMinimum = 40;
constexpr std::uint32_t kProtection = 8, kSecond = 12, kPartTable = 16;

struct PartsHeader {
    std::uint32_t version;
    std::uint32_t headerLength;
    std::uint32_t slots;  // 3 for versions 1 and 2, 4 above
};

bool CheckPartsHeader(const PKIBlob* record, PartsHeader* h)
{
    if (!record || !record->data || record->length < kPartsMinimum) return false;
    h->version = Get32(record->data, 0);
    h->headerLength = Get32(record->data, 4);
    if (h->version < 1 || h->version > 6) return false;
    h->slots = h->version <= 2 ? 3 : 4;
    std::uint32_t minimum = h->version <= 2 ? 40 : 48;
    return h->headerLength >= minimum && h->headerLength <= record->length;
}

std::uint32_t PartOffset(const PKIBlob* r, std::uint32_t slot)
{
    return Get32(r->data, kPartTable + 8 * slot);
}
std::uint32_t PartLength(const PKIBlob* r, std::uint32_t slot)
{
    return Get32(r->data, kPartTable + 8 * slot + 4);
}

// Every present part lies within the record, after the header; `end` is the
// furthest end of any part (at least the header length).
bool CheckParts(const PKIBlob* r, const PartsHeader& h, std::uint64_t* end)
{
    std::uint64_t furthest = h.headerLength;
    for (std::uint32_t s = 0; s < h.slots; ++s) {
        std::uint64_t off = PartOffset(r, s), len = PartLength(r, s);
        if (len == 0) continue;
        if (off < h.headerLength || !Inside(off, len, r->length)) return false;
        if (off + len > furthest) furthest = off + len;
    }
    *end = furthest;
    return true;
}

// Slot for (kind, usage): -1 when no slot takes it.
int SlotFor(const PartsHeader& h, std::uint32_t kind, std::uint32_t usage)
{
    switch (kind) {
    case 1:
        return (usage & 0x61) ? 0 : 1;
    case 2:
        return 2;
    case 4:
        return h.version <= 2 ? -1 : 3;
    default:
        return -1;
    }
}

constexpr std::uint32_t kSlotKind[4] = {1, 1, 2, 4};
constexpr std::uint32_t kSlotTag[4] = {0x61, 0x10, 0x71, 0x71};

}  // namespace

int SPKIFormats::CreateKeyPartsRecord(std::uint32_t version, std::uint32_t capacity, PKIBlob* record)
{
    try {
        if (!record || version == 0 || version > 6) return 0;
        std::uint32_t header = version <= 2 ? 40 : 48;
        std::uint64_t total = static_cast<std::uint64_t>(capacity) + header;
        if (!FitsU32(total) || !AllocateBlob(record, static_cast<std::uint32_t>(total))) return 0;
        Put32(record->data, 0, version);
        Put32(record->data, 4, header);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetKeyPartsWords(PKIBlob* record, std::uint32_t protection, std::uint32_t second)
{
    try {
        PartsHeader h;
        if (!CheckPartsHeader(record, &h)) return 0;
        Put32(record->data, kProtection, protection);
        Put32(record->data, kSecond, second);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyPartsWords(const PKIBlob* record, std::uint32_t* protection, std::uint32_t* second)
{
    try {
        PartsHeader h;
        if (!CheckPartsHeader(record, &h)) return 0;
        if (protection) *protection = Get32(record->data, kProtection);
        if (second) *second = Get32(record->data, kSecond);
        return 1;
    } catch (...) {
        return 0;
    }
}

// A new part goes after the furthest end of the parts already there, so that
// replacing an occupied slot never overlaps a later part.
int SPKIFormats::AppendKeyPart(PKIBlob* record, std::uint32_t kind, std::uint32_t usage, const PKIBlob* part)
{
    try {
        PartsHeader h;
        std::uint64_t end = 0;
        if (!part || (part->length && !part->data) || !CheckPartsHeader(record, &h) || !CheckParts(record, h, &end))
            return 0;
        int slot = SlotFor(h, kind, usage);
        if (slot < 0 || !Inside(end, part->length, record->length)) return 0;
        Put32(record->data, kProtection, 0);
        Put32(record->data, kPartTable + 8 * slot, static_cast<std::uint32_t>(end));
        Put32(record->data, kPartTable + 8 * slot + 4, part->length);
        if (part->length) std::memcpy(record->data + end, part->data, part->length);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyPart(const PKIBlob* record, std::uint32_t index, PKIBlob* view, std::uint32_t* kind,
                            std::uint32_t* usageTag)
{
    try {
        PartsHeader h;
        std::uint64_t end = 0;
        if (!CheckPartsHeader(record, &h) || !CheckParts(record, h, &end) || Get32(record->data, kProtection) != 0)
            return 0;
        std::uint32_t seen = 0;
        for (std::uint32_t s = 0; s < h.slots; ++s) {
            std::uint32_t len = PartLength(record, s);
            if (len == 0) continue;
            if (seen++ != index) continue;
            if (view) {
                view->length = len;
                view->data = record->data + PartOffset(record, s);
            }
            if (kind) *kind = kSlotKind[s];
            if (usageTag) *usageTag = kSlotTag[s];
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CopyKeyPart(const PKIBlob* record, std::uint32_t kind, std::uint32_t usage, PKIBlob* out)
{
    try {
        PartsHeader h;
        std::uint64_t end = 0;
        if (!out || !CheckPartsHeader(record, &h) || !CheckParts(record, h, &end) ||
            Get32(record->data, kProtection) != 0)
            return 0;
        int slot = SlotFor(h, kind, usage);
        if (slot < 0) return 0;
        return CopyOut(record->data + PartOffset(record, slot), PartLength(record, slot), out);
    } catch (...) {
        return 0;
    }
}

// ---- Holder records ----

namespace {

constexpr std::uint32_t kHolderDataVersionWord = HolderOffset(HolderField::Version);

// Version and header length are known and the record reaches its header.
bool CheckHolderHeader(const PKIBlob* record, std::uint32_t* version, std::uint32_t* header)
{
    if (!record || !record->data || record->length < 180) return false;
    std::uint32_t v = Get32(record->data, 0), hl = Get32(record->data, 4);
    if (v < 1 || v > 6 || hl < kHolderHeader[v] || hl > record->length) return false;
    *version = v;
    *header = hl;
    return true;
}

// The part named by the pair at `at`: empty (length 0) or within the record.
bool PartView(const PKIBlob* record, std::uint32_t at, PKIBlob* view)
{
    std::uint32_t off = Get32(record->data, at), len = Get32(record->data, at + 4);
    if (len == 0) {
        *view = PKIBlob{0, nullptr};
        return true;
    }
    if (!Inside(off, len, record->length)) return false;
    *view = PKIBlob{len, record->data + off};
    return true;
}

// A stored text: empty, or within the record and ending with its terminator.
bool TextView(const PKIBlob* record, std::uint32_t at, PKIBlob* view)
{
    if (!PartView(record, at, view)) return false;
    return view->length == 0 || view->data[view->length - 1] == 0;
}

}  // namespace

// Block lengths come from the holder data table: 1,830 bytes for layout 1
// up to 2,827 for layout 7.
int SPKIFormats::HolderDataVersionByLength(std::uint32_t length, std::uint32_t* version)
{
    for (std::uint32_t v = 1; v <= kHolderLayoutVersions; ++v) {
        if (HolderBlockLength(v) == length) {
            if (version) *version = v;
            return 1;
        }
    }
    return 0;
}

int SPKIFormats::HolderDataSizeByVersion(std::uint32_t version, std::uint32_t* length)
{
    if (version < 1 || version > kHolderLayoutVersions) return 0;
    if (length) *length = HolderBlockLength(version);
    return 1;
}

int SPKIFormats::CreateHolderRecord(
    const std::uint8_t* holderData, const SYSTEMTIME* validFrom, const SYSTEMTIME* validTo,
    const SYSTEMTIME* keyUsableFrom, const SYSTEMTIME* keyUsableTo, const void* optionalData,
    std::uint32_t optionalLength, std::uint32_t holderType, std::uint32_t holderKind, const char* key1Text1,
    const char* key1Text2, const char* key2Text1, const char* key2Text2, const char* key3Text1, const char* key3Text2,
    const char* text7, const char* text8, const PKIBlob* key1Part, const PKIBlob* furtherPart, const PKIBlob* key2Part,
    const PKIBlob* key3Part, std::uint32_t wordA, std::uint32_t wordB, const char* shortText, std::uint32_t wordC,
    const char* text9, std::uint32_t key2Usage, std::uint32_t key3Usage, std::uint32_t overrideFlag,
    std::uint32_t overrideWord1, std::uint32_t overrideWord2, std::uint32_t overrideWord3, const char* text10,
    PKIBlob* record)
{
    try {
        if (!record || (optionalLength && !optionalData)) return 0;
        for (const PKIBlob* b : {key1Part, furtherPart, key2Part, key3Part})
            if (b && b->length && !b->data) return 0;
        bool has2 = !Empty(key2Part), has3 = !Empty(key3Part);
        std::uint32_t version = 2;
        if (overrideFlag || TextLength(text10))
            version = 6;
        else if ((has2 && !((key2Usage & 0x01) && (key2Usage & 0x14))) ||
                 (has3 && !((key3Usage & 0x01) && (key3Usage & 0x10))))
            version = 5;
        else if (TextLength(text9))
            version = 4;
        else if (has3)
            version = 3;
        std::uint32_t header = kHolderHeader[version];

        // The short text lives in the four header bytes at 176.
        if (wordA && shortText && std::strlen(shortText) > 3) return 0;

        std::uint32_t blockLength = 0;
        if (holderData && !HolderDataSizeByVersion(Get32(holderData, kHolderDataVersionWord), &blockLength)) return 0;

        const char* texts[] = {key1Text1, key1Text2, key2Text1, key2Text2, key3Text1, key3Text2, text7, text8};
        std::uint64_t total = static_cast<std::uint64_t>(header) + blockLength + optionalLength;
        for (int i = 0; i < 8; ++i) {
            if (i >= 4 && i < 6 && !has3) continue;
            if (TextLength(texts[i])) total += TextLength(texts[i]) + 1ull;
        }
        for (const PKIBlob* b : {key1Part, furtherPart, key2Part, key3Part})
            if (!Empty(b)) total += b->length;
        if (TextLength(text9)) total += TextLength(text9) + 1ull;
        if (version == 6 && TextLength(text10)) total += TextLength(text10) + 1ull;
        if (!FitsU32(total)) return 0;

        PKIBlob out{0, nullptr};
        if (!AllocateBlob(&out, static_cast<std::uint32_t>(total))) return 0;
        std::uint8_t* p = out.data;
        std::uint32_t at = header;
        auto place = [&](std::uint32_t pair, const void* data, std::uint32_t length) {
            if (!length) return;
            std::memcpy(p + at, data, length);
            Put32(p, pair, at);
            Put32(p, pair + 4, length);
            at += length;
        };
        auto placeText = [&](std::uint32_t pair, const char* text) {
            std::uint32_t n = TextLength(text);
            if (n) place(pair, text, n + 1);
        };
        auto placeBlob = [&](std::uint32_t pair, const PKIBlob* b) {
            if (!Empty(b)) place(pair, b->data, b->length);
        };

        Put32(p, 0, version);
        Put32(p, 4, header);
        const SYSTEMTIME* times[] = {validFrom, validTo, keyUsableFrom, keyUsableTo};
        for (int i = 0; i < 4; ++i)
            if (times[i]) std::memcpy(p + 16 + 16 * i, times[i], 16);
        Put32(p, 80, holderType);
        Put32(p, 84, holderKind);
        if (holderData) place(8, holderData, blockLength);
        if (optionalLength) place(88, optionalData, optionalLength);
        placeText(96, key1Text1);
        placeText(104, key1Text2);
        placeText(112, key2Text1);
        placeText(120, key2Text2);
        if (has3) {
            placeText(184, key3Text1);
            placeText(192, key3Text2);
        }
        placeText(128, text7);
        placeText(136, text8);
        placeBlob(144, key1Part);
        placeBlob(152, furtherPart);
        placeBlob(160, key2Part);
        placeBlob(200, key3Part);
        placeText(208, text9);
        Put32(p, 168, wordA);
        Put32(p, 172, wordB);
        if (wordA && shortText) std::memcpy(p + 176, shortText, std::strlen(shortText) + 1);
        Put32(p, 180, wordC);
        if (version >= 5) {
            if (has2) Put32(p, 216, key2Usage);
            if (has3) Put32(p, 220, key3Usage);
        }
        if (version == 6) {
            Put32(p, 224, overrideFlag);
            Put32(p, 228, overrideWord1);
            Put32(p, 232, overrideWord2);
            Put32(p, 236, overrideWord3);
            placeText(240, text10);
        }
        *record = out;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadHolderRecord(const PKIBlob* record, std::uint8_t* holderData, const SYSTEMTIME** validFrom,
                                  const SYSTEMTIME** validTo, const SYSTEMTIME** keyUsableFrom,
                                  const SYSTEMTIME** keyUsableTo, const std::uint8_t** optionalData)
{
    try {
        std::uint32_t version = 0, header = 0;
        if (!CheckHolderHeader(record, &version, &header)) return 0;
        PKIBlob optional{0, nullptr};
        if (optionalData && !PartView(record, 88, &optional)) return 0;
        if (holderData) {
            PKIBlob block{0, nullptr};
            std::uint32_t blockVersion = 0;
            if (!PartView(record, 8, &block) || block.length == 0 ||
                !HolderDataVersionByLength(block.length, &blockVersion))
                return 0;
            if (blockVersion != 1 && Get32(block.data, kHolderDataVersionWord) != blockVersion) return 0;
            std::memset(holderData, 0, PKIF_HOLDER_DATA_AREA);
            std::memcpy(holderData, block.data, block.length);
            if (blockVersion == 1) Put32(holderData, kHolderDataVersionWord, 1);
        }
        const SYSTEMTIME** times[] = {validFrom, validTo, keyUsableFrom, keyUsableTo};
        for (int i = 0; i < 4; ++i)
            if (times[i]) *times[i] = reinterpret_cast<const SYSTEMTIME*>(record->data + 16 + 16 * i);
        if (optionalData) *optionalData = optional.data;
        return 1;
    } catch (...) {
        return 0;
    }
}

// Key descriptions count when their key part is present: the first (texts at
// 96 and 104), the second (112, 120) and, from version 3, the third (184, 192).
// keyKind answers which description it is (1, 2 or 3). The first key's usage
// comes from the holder type and kind through GetHolderKeyUsage (for the key
// family of its request); the second and third keys carry theirs from
// version 5 and default to 0x11 (signature and key agreement) below it.
// The key family (1 DSTU 4145, 2 RSA, 4 ECDSA) of the encoded request that a
// holder record keeps for a key: what the certificate builders read as the
// key's kind.
bool SPKIFormats::RequestKeyFamily(const PKIBlob& request, std::uint32_t* family)
{
    if (!formats_) return false;
    ObjectRef object;
    if (formats_->CreateObject(PKI_CLASS_REQUEST, PKI_IID_REQUEST, object.Out()) != 0 || !object) return false;
    std::uint32_t kind = 0;
    if (object.As<IPKIRequest>()->Decode(&request) != 0 || object.As<IPKIRequest>()->GetKeyKind(&kind) != 0)
        return false;
    *family = kind;
    return true;
}

int SPKIFormats::GetHolderRecordKey(const PKIBlob* record, std::uint32_t index, PKIBlob* keyView,
                                    std::uint32_t* holderType, std::uint32_t* holderKind, std::uint32_t* keyFamily,
                                    std::uint32_t* keyUsage, PKIBlob* text1View, PKIBlob* text2View)
{
    try {
        std::uint32_t version = 0, header = 0;
        if (!CheckHolderHeader(record, &version, &header)) return 0;
        struct Key {
            std::uint32_t part, text1, text2;
        };
        const Key keys[] = {{144, 96, 104}, {160, 112, 120}, {200, 184, 192}};
        std::uint32_t count = version >= 3 ? 3 : 2, seen = 0;
        for (std::uint32_t k = 0; k < count; ++k) {
            PKIBlob part, t1, t2;
            if (!PartView(record, keys[k].part, &part)) return 0;
            if (part.length == 0 || seen++ != index) continue;
            if (!TextView(record, keys[k].text1, &t1) || !TextView(record, keys[k].text2, &t2)) return 0;
            std::uint32_t usage = 0, type = Get32(record->data, 80), kind = Get32(record->data, 84);
            if (k > 0) usage = version >= 5 ? Get32(record->data, k == 1 ? 216 : 220) : 0x11;
            std::uint32_t family = 0;
            if ((keyFamily || (keyUsage && k == 0)) && !RequestKeyFamily(part, &family)) return 0;
            // The first key's usage is the holder's (no usage flags): none
            // for a holder type without usage bits.
            if (k == 0 && keyUsage && !GetHolderKeyUsage(type, kind, family, 0, 0, &usage)) usage = 0;
            if (keyView) *keyView = part;
            if (holderType) *holderType = type;
            if (holderKind) *holderKind = kind;
            if (keyFamily) *keyFamily = family;
            if (keyUsage) *keyUsage = usage;
            if (text1View) *text1View = t1;
            if (text2View) *text2View = t2;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}
