// The holder data area: one table of its fields (offset, size, first layout
// version). The block length of every layout version, the capacity of every
// text, the version an area's content needs, trimming, merging and the field
// comparison are all read from this table; nothing else names an offset.
#ifndef QVK_PKIFORMATS_HOLDERDATALAYOUT_H
#define QVK_PKIFORMATS_HOLDERDATALAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pkif {

enum class HolderField : std::uint8_t {
    Word0,
    CommonName,
    Locality,
    State,
    Organisation,
    Unit,
    Title,
    AltName5,
    AltName4,
    Surname,
    GivenName,
    AltName1,
    AltName2,
    Attribute421,  // 1.2.804.2.1.1.1.11.1.4.2.1
    Attribute411,  // 1.2.804.2.1.1.1.11.1.4.1.1
    Attribute431,  // 1.2.804.2.1.1.1.11.1.4.3.1
    Attribute441,  // 1.2.804.2.1.1.1.11.1.4.4.1
    TextA,
    TextB,
    WordA,
    WordUnused,
    Version,
    Attribute451,  // 1.2.804.2.1.1.1.11.1.4.5.1
    Attribute461,  // 1.2.804.2.1.1.1.11.1.4.6.1
    Attribute471,  // 1.2.804.2.1.1.1.11.1.4.7.1
    WordB,
    AltName6,
    Country,
    Attribute4111,  // 1.2.804.2.1.1.1.11.1.4.11.1
    OrganisationText1,
    OrganisationText2,
    OrganisationText3,
    RemovableParts,
    Count
};

struct HolderFieldRow {
    HolderField field;
    std::uint16_t offset;
    std::uint16_t size;  // texts: the terminator included
    std::uint8_t version;
    bool word;
};

// In area order; each field starts where the one before it ends.
inline constexpr HolderFieldRow kHolderFields[] = {
    {HolderField::Word0, 0, 4, 1, true},
    {HolderField::CommonName, 4, 65, 1, false},
    {HolderField::Locality, 69, 129, 1, false},
    {HolderField::State, 198, 129, 1, false},
    {HolderField::Organisation, 327, 65, 1, false},
    {HolderField::Unit, 392, 65, 1, false},
    {HolderField::Title, 457, 65, 1, false},
    {HolderField::AltName5, 522, 129, 1, false},
    {HolderField::AltName4, 651, 33, 1, false},
    {HolderField::Surname, 684, 41, 1, false},
    {HolderField::GivenName, 725, 33, 1, false},
    {HolderField::AltName1, 758, 129, 1, false},
    {HolderField::AltName2, 887, 257, 1, false},
    {HolderField::Attribute421, 1144, 11, 1, false},
    {HolderField::Attribute411, 1155, 11, 1, false},
    {HolderField::Attribute431, 1166, 7, 1, false},
    {HolderField::Attribute441, 1173, 7, 1, false},
    {HolderField::TextA, 1180, 513, 1, false},
    {HolderField::TextB, 1693, 129, 1, false},
    {HolderField::WordA, 1822, 4, 1, true},
    {HolderField::WordUnused, 1826, 4, 1, true},
    {HolderField::Version, 1830, 4, 2, true},
    {HolderField::Attribute451, 1834, 33, 2, false},
    {HolderField::Attribute461, 1867, 33, 2, false},
    {HolderField::Attribute471, 1900, 33, 2, false},
    {HolderField::WordB, 1933, 4, 2, true},
    {HolderField::AltName6, 1937, 257, 3, false},
    {HolderField::Country, 2194, 3, 4, false},
    {HolderField::Attribute4111, 2197, 15, 5, false},
    {HolderField::OrganisationText1, 2212, 97, 6, false},
    {HolderField::OrganisationText2, 2309, 129, 6, false},
    {HolderField::OrganisationText3, 2438, 385, 6, false},
    {HolderField::RemovableParts, 2823, 4, 7, true},
};

inline constexpr std::uint32_t kHolderLayoutVersions = 7;

constexpr const HolderFieldRow& HolderRow(HolderField f)
{
    return kHolderFields[static_cast<std::size_t>(f)];
}

constexpr std::uint32_t HolderOffset(HolderField f)
{
    return HolderRow(f).offset;
}

constexpr std::uint32_t HolderCapacity(HolderField f)
{
    return HolderRow(f).size;
}

// A block of layout version v: the area's first bytes up to the end of the
// last field of a version up to v.
constexpr std::uint32_t HolderBlockLength(std::uint32_t version)
{
    std::uint32_t end = 0;
    for (const HolderFieldRow& r : kHolderFields)
        if (r.version <= version && static_cast<std::uint32_t>(r.offset + r.size) > end) end = r.offset + r.size;
    return end;
}

namespace holder_layout_checks {
constexpr bool Contiguous()
{
    std::uint32_t at = 0;
    std::size_t i = 0;
    for (const HolderFieldRow& r : kHolderFields) {
        if (r.offset != at || static_cast<std::size_t>(r.field) != i++ || (r.word && r.size != 4)) return false;
        at += r.size;
    }
    return i == static_cast<std::size_t>(HolderField::Count);
}
static_assert(Contiguous());
static_assert(HolderBlockLength(kHolderLayoutVersions) == 2827);
}  // namespace holder_layout_checks

// A text field is empty when its first byte is 0, a word when it is 0.
inline bool FieldEmpty(const std::uint8_t* area, const HolderFieldRow& r)
{
    if (!r.word) return area[r.offset] == 0;
    for (std::uint32_t i = 0; i < 4; ++i)
        if (area[r.offset + i]) return false;
    return true;
}

// Texts are compared up to their terminator but never past their field: a
// field without one ends at its size.
inline bool FieldsEqual(const std::uint8_t* x, const std::uint8_t* y, const HolderFieldRow& r)
{
    if (r.word) return std::memcmp(x + r.offset, y + r.offset, 4) == 0;
    for (std::uint32_t i = 0; i < r.size; ++i) {
        if (x[r.offset + i] != y[r.offset + i]) return false;
        if (x[r.offset + i] == 0) return true;
    }
    return true;
}

// Copies a text into its field; a text that does not fit (terminator
// included) is refused and the field is left as it was.
inline bool PutFieldText(std::uint8_t* area, HolderField f, const char* text)
{
    const std::size_t n = text ? std::strlen(text) : 0;
    if (n + 1 > HolderCapacity(f)) return false;
    if (n) std::memcpy(area + HolderOffset(f), text, n);
    area[HolderOffset(f) + n] = 0;
    return true;
}

}  // namespace pkif

#endif
