// The upper key cache slots of a certificate, driven through the facade's own
// operations over the test double's cache, which really keeps one value per
// slot: the marker word (5), the two maker values (6, 7) and the mark that
// HasMarkedCertificate looks for (8).
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FakeFormats.h"
#include "pkiformats/SPKIFormats.h"

namespace {

std::string Pattern(std::size_t length, std::uint8_t seed)
{
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(seed + i * 7);
    return bytes;
}

PKIBlob BlobOf(const std::string& bytes)
{
    return PKIBlob{static_cast<std::uint32_t>(bytes.size()),
                   reinterpret_cast<std::uint8_t*>(const_cast<char*>(bytes.data()))};
}

class KeyCacheSlots : public ::testing::Test {
protected:
    KeyCacheSlots()
    {
        lib.requireWipe = true;
        list = new fake::CertificateList(lib);
        cert = new fake::ScriptedCertificate(lib);
        list->Add(cert);
        c = static_cast<IPKICertificate*>(cert);
    }
    void TearDown() override
    {
        list->Release();
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.unwipedFrees, 0);
    }
    // What the facade reads back from a slot, or "<miss>".
    std::string Read(std::uint32_t slot)
    {
        PKIBlob out{0, nullptr};
        if (!f.ReadKeyCache(c, slot, &out)) return "<miss>";
        std::string bytes(reinterpret_cast<char*>(out.data), out.length);
        f.ReleaseBlob(&out);
        return bytes;
    }

    fake::Library lib;
    SPKIFormats f{nullptr, nullptr, &lib};
    fake::CertificateList* list;
    fake::ScriptedCertificate* cert;
    IPKIObject* c;
};

struct MakerSlot {
    const char* name;
    std::uint32_t slot;
    int (SPKIFormats::*set)(IPKIObject*, const std::uint8_t*);
    int (SPKIFormats::*get)(IPKIObject*, std::uint8_t*);
};
const MakerSlot kMakerSlots[] = {
    {"A", 6, &SPKIFormats::SetMakerValueA, &SPKIFormats::GetMakerValueA},
    {"B", 7, &SPKIFormats::SetMakerValueB, &SPKIFormats::GetMakerValueB},
};

}  // namespace

// Each maker value lives in its own slot, exactly 1,024 bytes: a miss, a
// refused library call or a value of any other length leaves the caller's
// buffer as it was.
TEST_F(KeyCacheSlots, MakerValuesHitMissAndLength)
{
    for (const MakerSlot& m : kMakerSlots) {
        SCOPED_TRACE(m.name);
        cert->cache.clear();
        const std::string untouched(PKIF_MAKER_VALUE_BYTES, '\xEE');
        std::string out = untouched;
        auto* outBytes = reinterpret_cast<std::uint8_t*>(out.data());

        EXPECT_EQ((f.*m.get)(c, outBytes), 0);  // never written
        EXPECT_EQ(out, untouched);

        const std::string value = Pattern(PKIF_MAKER_VALUE_BYTES, static_cast<std::uint8_t>(m.slot));
        ASSERT_EQ((f.*m.set)(c, reinterpret_cast<const std::uint8_t*>(value.data())), 1);
        ASSERT_EQ(cert->cache.size(), 1u);
        EXPECT_EQ(cert->cache[m.slot], value);  // the whole value, in this slot only
        ASSERT_EQ((f.*m.get)(c, outBytes), 1);
        EXPECT_EQ(out, value);

        // The library refusing the read or the write.
        out = untouched;
        lib.Answer(PKI_CLASS_CERTIFICATE, 59, {PKI_E_FAILURE});
        EXPECT_EQ((f.*m.get)(c, outBytes), 0);
        EXPECT_EQ(out, untouched);
        lib.Answer(PKI_CLASS_CERTIFICATE, 59, {});
        lib.Answer(PKI_CLASS_CERTIFICATE, 58, {PKI_E_FAILURE});
        const std::string other = Pattern(PKIF_MAKER_VALUE_BYTES, 0x55);
        EXPECT_EQ((f.*m.set)(c, reinterpret_cast<const std::uint8_t*>(other.data())), 0);
        EXPECT_EQ(cert->cache[m.slot], value);
        lib.Answer(PKI_CLASS_CERTIFICATE, 58, {});

        // A cached value one byte short or long, a marker-sized word or an
        // empty value is no maker value.
        for (std::size_t length : {std::size_t{PKIF_MAKER_VALUE_BYTES} - 1, std::size_t{PKIF_MAKER_VALUE_BYTES} + 1,
                                   std::size_t{4}, std::size_t{0}}) {
            SCOPED_TRACE(length);
            const std::string stored = Pattern(length, 0x21);
            PKIBlob blob = BlobOf(stored);
            ASSERT_EQ(f.WriteKeyCache(c, m.slot, &blob), 1);
            EXPECT_EQ((f.*m.get)(c, outBytes), 0);
            EXPECT_EQ(out, untouched);
        }
        EXPECT_EQ((f.*m.set)(nullptr, reinterpret_cast<const std::uint8_t*>(value.data())), 0);
        EXPECT_EQ((f.*m.set)(c, nullptr), 0);
        EXPECT_EQ((f.*m.get)(c, nullptr), 0);
    }
}

// Slots 5 to 8 on one certificate do not disturb one another: each write
// lands in its own slot, and removing one leaves the others readable. Only a
// word in slot 8 marks the certificate.
TEST_F(KeyCacheSlots, SlotsFiveToEightStayApart)
{
    const std::string word5("\x01\x00\x00\x00", 4), word8("\x00\x02\x00\x00", 4);
    const std::string makerA = Pattern(PKIF_MAKER_VALUE_BYTES, 0x10);
    const std::string makerB = Pattern(PKIF_MAKER_VALUE_BYTES, 0x90);
    for (std::uint32_t slot = 5; slot <= 8; ++slot) EXPECT_EQ(Read(slot), "<miss>") << slot;

    PKIBlob blob = BlobOf(word5);
    ASSERT_EQ(f.WriteKeyCache(c, 5, &blob), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 0);  // a marker word is no mark
    ASSERT_EQ(f.SetMakerValueA(c, reinterpret_cast<const std::uint8_t*>(makerA.data())), 1);
    ASSERT_EQ(f.SetMakerValueB(c, reinterpret_cast<const std::uint8_t*>(makerB.data())), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 0);  // nor are the maker values
    blob = BlobOf(word8);
    ASSERT_EQ(f.WriteKeyCache(c, 8, &blob), 1);
    EXPECT_EQ(f.HasMarkedCertificate(list), 1);

    // What the double stores, slot by slot, and what the facade reads back.
    const std::map<std::uint32_t, std::string> expected = {{5, word5}, {6, makerA}, {7, makerB}, {8, word8}};
    EXPECT_EQ(cert->cache, expected);
    for (const auto& [slot, bytes] : expected) EXPECT_EQ(Read(slot), bytes) << slot;

    struct Removal {
        std::uint32_t slot;
        int marked;  // HasMarkedCertificate afterwards
    };
    const Removal removals[] = {{6, 1}, {5, 1}, {8, 0}, {7, 0}};
    std::map<std::uint32_t, std::string> left = expected;
    std::string out(PKIF_MAKER_VALUE_BYTES, '\0');
    auto* outBytes = reinterpret_cast<std::uint8_t*>(out.data());
    for (const Removal& r : removals) {
        SCOPED_TRACE(r.slot);
        ASSERT_EQ(f.RemoveKeyCache(c, r.slot), 1);
        EXPECT_EQ(f.RemoveKeyCache(c, r.slot), 0);  // gone already
        left.erase(r.slot);
        EXPECT_EQ(cert->cache, left);
        for (std::uint32_t slot = 5; slot <= 8; ++slot)
            EXPECT_EQ(Read(slot), left.count(slot) ? left[slot] : "<miss>") << slot;
        EXPECT_EQ(f.HasMarkedCertificate(list), r.marked);
        EXPECT_EQ(f.GetMakerValueA(c, outBytes), left.count(6) ? 1 : 0);
        EXPECT_EQ(f.GetMakerValueB(c, outBytes), left.count(7) ? 1 : 0);
    }
}

// The maker values kept as attributes of a key container's last entry: each
// under its own OID, and read back only when exactly 1,024 bytes long.
TEST(FacadeMakerAttributes, OwnOidAndLength)
{
    fake::Library lib;
    lib.requireWipe = true;
    SPKIFormats f(nullptr, nullptr, &lib);
    auto* container = new fake::AttributeContainer(lib);
    auto* entry = new fake::Encoded(lib, "entry");
    container->entries = {entry};  // the container owns its entry
    struct Row {
        const char* oid;
        int (SPKIFormats::*set)(IPKIObject*, const char*, const std::uint8_t*);
        int (SPKIFormats::*get)(IPKIObject*, const char*, std::uint8_t*);
    };
    const Row rows[] = {
        {"1.3.6.1.4.1.19398.2.12.1", &SPKIFormats::SetMakerAttributeA, &SPKIFormats::GetMakerAttributeA},
        {"1.3.6.1.4.1.19398.2.12.2", &SPKIFormats::SetMakerAttributeB, &SPKIFormats::GetMakerAttributeB},
    };
    const std::string untouched(PKIF_MAKER_VALUE_BYTES, '\xEE');
    std::string out = untouched;
    auto* outBytes = reinterpret_cast<std::uint8_t*>(out.data());
    for (const Row& r : rows) EXPECT_EQ((f.*r.get)(container, "pw", outBytes), 0);  // none set yet
    EXPECT_EQ(out, untouched);

    std::map<std::string, std::string> stored;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.oid);
        const std::string value = Pattern(PKIF_MAKER_VALUE_BYTES, static_cast<std::uint8_t>(stored.size() + 3));
        ASSERT_EQ((f.*r.set)(container, "pw", reinterpret_cast<const std::uint8_t*>(value.data())), 1);
        stored[r.oid] = value;
        std::map<std::string, std::string> seen;
        for (const auto& [key, bytes] : container->attributes) seen[key.second] = bytes;
        EXPECT_EQ(seen, stored);  // the other value stays as it was
    }
    for (const Row& r : rows) {
        SCOPED_TRACE(r.oid);
        ASSERT_EQ((f.*r.get)(container, "pw", outBytes), 1);
        EXPECT_EQ(out, stored[r.oid]);
    }

    // An attribute one byte short of the size is refused without touching
    // the caller's buffer.
    const std::string shortValue = Pattern(PKIF_MAKER_VALUE_BYTES - 1, 0x40);
    PKIBlob blob = BlobOf(shortValue);
    ASSERT_EQ(f.SetLastEntryAttribute(container, "pw", &blob, rows[0].oid), 1);
    out = untouched;
    EXPECT_EQ((f.*rows[0].get)(container, "pw", outBytes), 0);
    EXPECT_EQ(out, untouched);
    ASSERT_EQ((f.*rows[1].get)(container, "pw", outBytes), 1);
    EXPECT_EQ(out, stored[rows[1].oid]);

    container->Release();
    EXPECT_EQ(lib.LiveObjects(), 0);
    EXPECT_EQ(lib.LiveBlobs(), 0u);
    EXPECT_EQ(lib.unwipedFrees, 0);
}
