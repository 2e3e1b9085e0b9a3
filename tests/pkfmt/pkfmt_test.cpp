// The stand-in formats library through the system's loader: the interface
// object, object creation and interfaces, blocks, and the protection of
// containers and entries.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "PkfmtCrypto.h"
#include "pkfmt_fixture.h"
#include "support/CSPParameters.h"

using namespace pkfmttest;

namespace {

const char* const kOid1 = PKI_OID_CONTAINER_ATTRIBUTE_1;

TEST_F(PkfmtTest, VersionAndOptionsFollowTheEnvironment)
{
    std::uint32_t version = 0;
    EXPECT_EQ(pki_->GetVersion(&version), PKI_OK);
    EXPECT_EQ(version, 264u);
    EXPECT_EQ(pki_->HasOptionA(), 1);
    EXPECT_EQ(pki_->HasOptionB(), 0);

    setenv("PKFMT_VERSION", "265", 1);
    setenv("PKFMT_OPTION_A", "0", 1);
    setenv("PKFMT_OPTION_B", "1", 1);
    EXPECT_EQ(pki_->GetVersion(&version), PKI_OK);
    EXPECT_EQ(version, 265u);
    EXPECT_EQ(pki_->HasOptionA(), 0);
    EXPECT_EQ(pki_->HasOptionB(), 1);

    setenv("PKFMT_VERSION", "fail", 1);
    EXPECT_NE(pki_->GetVersion(&version), PKI_OK);
    EXPECT_EQ(pki_->GetVersion(nullptr), PKI_E_INVALID_ARGUMENT);
}

TEST_F(PkfmtTest, KeepsTheHandedOverCSPUntilTheLastFinalize)
{
    int csp = 0;
    EXPECT_EQ(heldCSP_(), nullptr);
    EXPECT_EQ(pki_->SetCSP(&csp), PKI_OK);
    EXPECT_EQ(heldCSP_(), &csp);
    // A second user and its release leave the library initialised.
    ASSERT_EQ(AcquirePKILibrary(), 0);
    EXPECT_EQ(ReleasePKILibrary(), 0);
    EXPECT_EQ(heldCSP_(), &csp);
}

TEST_F(PkfmtTest, InterfaceObjectOffersNoOtherInterface)
{
    void* other = &other;
    EXPECT_EQ(pki_->QueryInterface(PKI_IID_KEY, &other), PKI_E_NO_INTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(pki_->Release(), PKI_OK);  // does not end the interface
    std::uint32_t version = 0;
    EXPECT_EQ(pki_->GetVersion(&version), PKI_OK);
}

TEST_F(PkfmtTest, CreatesTheContainerClassesAndRefusesOthers)
{
    struct Case {
        std::uint32_t classId, interfaceId;
        int expected;
    };
    const Case cases[] = {
        {4931, 4208, PKI_OK},
        {4931, 4266, PKI_OK},
        {4931, 4252, PKI_OK},
        {4930, 4201, PKI_OK},
        {4930, 4265, PKI_OK},
        {4893, 4128, PKI_OK},
        {4893, 4233, PKI_OK},
        {4893, 4275, PKI_OK},
        {4880, 4114, PKI_OK},
        {4880, 4273, PKI_OK},
        {4880, 4274, PKI_OK},
        {4882, 4116, PKI_OK},
        {4882, 4250, PKI_OK},
        {4896, 4131, PKI_OK},
        {33, 32, PKI_OK},
        {4908, 4130, PKI_OK},
        // Pairs this library does not make.
        {4931, 4201, PKI_E_UNKNOWN_CLASS},
        {4880, 4128, PKI_E_UNKNOWN_CLASS},
        {4908, 4114, PKI_E_UNKNOWN_CLASS},
        {0, 0, PKI_E_UNKNOWN_CLASS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.classId << "/" << c.interfaceId);
        Obj<IPKIObject> object;
        EXPECT_EQ(pki_->CreateObject(c.classId, c.interfaceId, object.out()), c.expected);
        EXPECT_EQ(static_cast<bool>(object), c.expected == PKI_OK);
    }
    EXPECT_EQ(pki_->CreateObject(4931, 4208, nullptr), PKI_E_INVALID_ARGUMENT);
}

TEST_F(PkfmtTest, QueryInterfaceGivesTheSameObjectOrSeven)
{
    struct Case {
        std::uint32_t classId, interfaceId, asked;
        int expected;
    };
    const Case cases[] = {
        {4931, 4208, 4266, PKI_OK},
        {4931, 4208, 4252, PKI_OK},
        {4931, 4208, 4201, PKI_E_NO_INTERFACE},
        {4930, 4201, 4265, PKI_OK},
        {4930, 4201, 4208, PKI_E_NO_INTERFACE},
        {4893, 4128, 4275, PKI_OK},
        {4893, 4128, 4233, PKI_E_NO_INTERFACE},
        {4893, 4233, 4128, PKI_E_NO_INTERFACE},
        {4882, 4116, 4250, PKI_OK},
        {4882, 4116, 4128, PKI_E_NO_INTERFACE},
        {4896, 4131, 4116, PKI_E_NO_INTERFACE},
        // An empty parameter object is neither named nor a block.
        {4880, 4114, 4273, PKI_E_NO_INTERFACE},
        {4880, 4114, 4274, PKI_E_NO_INTERFACE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.classId << "/" << c.interfaceId << " asked " << c.asked);
        auto object = Make<IPKIObject>(c.classId, c.interfaceId);
        Obj<IPKIObject> other;
        void* sentinel = &sentinel;
        EXPECT_EQ(object->QueryInterface(c.asked, c.expected == PKI_OK ? other.out() : &sentinel), c.expected);
        if (c.expected != PKI_OK) {
            EXPECT_EQ(sentinel, nullptr);
        }
        // The object outlives the first reference while the queried one is held.
        object.Reset();
        if (other) {
            EXPECT_EQ(liveObjects_(), 1);
        }
    }
}

TEST_F(PkfmtTest, KeySetItemsAndValues)
{
    const Bytes value = Pattern(40, 1), attribute = Pattern(20, 9), number = {1, 2, 3, 4};
    auto key = MakeKey(value);
    auto set = Make<IPKIKeySet>(PKI_CLASS_KEY, PKI_IID_KEY_SET);
    PKIBlob a = In(attribute);
    ASSERT_EQ(set->AddKey(key.get(), &a), PKI_OK);
    ASSERT_EQ(set->AddKey(key.get(), nullptr), PKI_OK);
    std::uint32_t count = 0;
    EXPECT_EQ(set->GetKeyCount(&count), PKI_OK);
    EXPECT_EQ(count, 2u);

    Obj<IPKIKey> back;
    Blob got(pki_);
    ASSERT_EQ(set->GetKey(0, back.out(), &got), PKI_OK);
    EXPECT_EQ(KeyValue(back), value);
    EXPECT_EQ(got.bytes(), attribute);
    got.Free();
    ASSERT_EQ(set->GetKey(1, back.out(), &got), PKI_OK);
    EXPECT_EQ(got.blob.data, nullptr);
    EXPECT_EQ(set->GetKey(2, back.out(), nullptr), PKI_E_INDEX);

    Blob v(pki_);
    EXPECT_EQ(set->GetValue(PKI_KEYSET_PROTECTION_VALUE, &v), PKI_E_ABSENT);
    PKIBlob n = In(number);
    ASSERT_EQ(set->SetValue(PKI_KEYSET_PROTECTION_VALUE, &n), PKI_OK);
    ASSERT_EQ(set->GetValue(PKI_KEYSET_PROTECTION_VALUE, &v), PKI_OK);
    EXPECT_EQ(v.bytes(), number);
    EXPECT_EQ(set->SetValue(PKI_KEYSET_PROTECTION_VALUE, nullptr), PKI_OK);
    v.Free();
    EXPECT_EQ(set->GetValue(PKI_KEYSET_PROTECTION_VALUE, &v), PKI_E_ABSENT);

    // Slot 58 writes, 59 reads, 60 removes.
    ASSERT_EQ(set->SetValue(PKI_KEYSET_ATTRIBUTE_1, &n), PKI_OK);
    EXPECT_EQ(set->RemoveValue(PKI_KEYSET_ATTRIBUTE_1), PKI_OK);
    EXPECT_EQ(set->GetValue(PKI_KEYSET_ATTRIBUTE_1, &v), PKI_E_ABSENT);
    EXPECT_EQ(set->RemoveValue(PKI_KEYSET_ATTRIBUTE_1), PKI_E_ABSENT);
}

// Interface 4131 read four ways: slot 4 takes a whole 32-byte identifier, slot
// 6 any length; slots 3 and 5 read back what was set.
TEST_F(PkfmtTest, BytesValueSetsThirtyTwoBytesOrAGivenLength)
{
    auto value = Make<IPKIAttribute>(PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE);
    const Bytes identifier = Pattern(32, 5);
    ASSERT_EQ(value->SetValue32(identifier.data()), PKI_OK);
    std::uint8_t out[40] = {};
    std::uint32_t length = sizeof out;
    ASSERT_EQ(value->GetValueWithLength(out, &length), PKI_OK);
    EXPECT_EQ(length, 32u);
    EXPECT_EQ(Bytes(out, out + length), identifier);
    std::uint32_t small = 31;
    EXPECT_EQ(value->GetValueWithLength(out, &small), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(small, 32u);

    ASSERT_EQ(value->SetValue(identifier.data(), 20), PKI_OK);
    Blob whole(pki_);
    ASSERT_EQ(value->GetValue(&whole.blob), PKI_OK);
    EXPECT_EQ(whole.bytes(), Bytes(identifier.begin(), identifier.begin() + 20));
}

TEST_F(PkfmtTest, BlocksAreZeroedAndFreedByPointer)
{
    PKIBlob blob{0, nullptr};
    ASSERT_EQ(pki_->AllocateBlob(&blob, 100), PKI_OK);
    ASSERT_NE(blob.data, nullptr);
    EXPECT_EQ(blob.length, 100u);
    EXPECT_TRUE(std::all_of(blob.data, blob.data + 100, [](std::uint8_t b) { return b == 0; }));
    EXPECT_EQ(liveBlobs_(), 1);
    std::memset(blob.data, 0xAB, 100);
    blob.length = 0;  // callers may hold only the pointer
    EXPECT_EQ(pki_->FreeBlob(&blob), PKI_OK);
    EXPECT_EQ(blob.data, nullptr);
    EXPECT_EQ(liveBlobs_(), 0);

    ASSERT_EQ(pki_->AllocateBlob(&blob, 0), PKI_OK);
    EXPECT_EQ(blob.length, 0u);
    EXPECT_EQ(pki_->FreeBlob(&blob), PKI_OK);
    EXPECT_EQ(pki_->FreeBlob(&blob), PKI_OK);  // empty: nothing to do

    // A block the library did not hand out is refused, not freed.
    std::array<std::uint8_t, 64> foreign{};
    PKIBlob stranger{32, foreign.data() + 32};
    EXPECT_EQ(pki_->FreeBlob(&stranger), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(pki_->AllocateBlob(nullptr, 4), PKI_E_INVALID_ARGUMENT);
}

// Writes a protected container of one list with one entry (with attribute)
// and one list attribute.
class PkfmtContainer : public PkfmtTest {
protected:
    Bytes Write(const Bytes& keyValue, const char* password, std::uint32_t protection = 0)
    {
        auto key = MakeKey(keyValue, 3);
        std::uint8_t sBox[PKI_SBOX_BYTES];
        for (std::uint32_t i = 0; i < PKI_SBOX_BYTES; ++i) sBox[i] = static_cast<std::uint8_t>(i * 3);
        EXPECT_EQ(key->SetSBox(sBox), PKI_OK);
        auto entry = Seal(key, password, protection);
        auto attribute = Make<IPKIAttribute>(PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE);
        EXPECT_EQ(attribute->SetValue("id-1", 4), PKI_OK);
        auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        EXPECT_EQ(list->AddEntry(entry.get(), attribute.get()), PKI_OK);
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        const Bytes listAttribute = {'L', 'A'};
        PKIBlob la = In(listAttribute);
        EXPECT_EQ(container->AddItemAttribute(password, list.get(), kOid1, &la), PKI_OK);
        EXPECT_EQ(container->AddItem(list.get()), PKI_OK);
        if (protection != 0) {
            EXPECT_EQ(container->SetProtectionValue(protection), PKI_OK);
        }
        EXPECT_EQ(container->SetPassword(PKI_PROTECT_WITH_PASSWORD, password), PKI_OK);
        Blob out(pki_);
        EXPECT_EQ(container->Encode(&out), PKI_OK);
        return out.bytes();
    }

    Obj<IPKIKeyContainer> Read(const Bytes& encoding)
    {
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(encoding);
        EXPECT_EQ(container->Decode(&in), PKI_OK);
        return container;
    }

    Obj<IPKIPrivateKey> FirstEntry(const Obj<IPKIKeyContainer>& container, Bytes* attribute = nullptr)
    {
        Obj<IPKIEntryList> list;
        EXPECT_EQ(container->GetItem(0, list.out()), PKI_OK);
        Obj<IPKIPrivateKey> entry;
        Blob a(pki_);
        EXPECT_EQ(list->GetEntry(0, entry.out(), &a), PKI_OK);
        if (attribute != nullptr) *attribute = a.bytes();
        return entry;
    }
};

TEST_F(PkfmtContainer, RoundTripsUnderItsPasswordAndRefusesAnother)
{
    const Bytes secret = Pattern(48, 0x31);
    const Bytes encoding = Write(secret, "correct horse");
    // The key never appears in clear in the encoding.
    EXPECT_EQ(std::search(encoding.begin(), encoding.end(), secret.begin(), secret.begin() + 16), encoding.end());

    auto container = Read(encoding);
    std::uint32_t flag = 0, count = 0;
    EXPECT_EQ(container->IsProtected(&flag), PKI_OK);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(container->GetItemCount(&count), PKI_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(container->CheckPassword("correct horse"), PKI_OK);
    EXPECT_EQ(container->CheckPassword("correct horsE"), PKI_E_WRONG_PASSWORD);
    EXPECT_EQ(container->CheckPassword(""), PKI_E_WRONG_PASSWORD);

    Obj<IPKIEntryList> list;
    ASSERT_EQ(container->GetItem(0, list.out()), PKI_OK);
    Blob listAttribute(pki_);
    EXPECT_EQ(container->GetItemAttribute("wrong", list.get(), kOid1, &listAttribute), PKI_E_WRONG_PASSWORD);
    ASSERT_EQ(container->GetItemAttribute("correct horse", list.get(), kOid1, &listAttribute), PKI_OK);
    EXPECT_EQ(listAttribute.bytes(), (Bytes{'L', 'A'}));
    Blob missing(pki_);
    EXPECT_EQ(container->GetItemAttribute("correct horse", list.get(), PKI_OID_WRAPPED_RECORD, &missing), PKI_E_ABSENT);

    Bytes entryAttribute;
    auto entry = FirstEntry(container, &entryAttribute);
    EXPECT_EQ(entryAttribute, (Bytes{'i', 'd', '-', '1'}));
    Obj<IPKIKey> key;
    EXPECT_EQ(entry->Open("wrong", key.out()), PKI_E_WRONG_PASSWORD);
    EXPECT_FALSE(key);
    EXPECT_EQ(entry->OpenConverted("wrong", key.out()), PKI_E_WRONG_PASSWORD);
    ASSERT_EQ(entry->Open("correct horse", key.out()), PKI_OK);
    EXPECT_EQ(KeyValue(key), secret);

    // Parameters and S-box come back as they were set: standard curve 3.
    Blob value(pki_);
    Obj<IPKIParameters> parameters;
    ASSERT_EQ(key->GetKeyValue(&value, parameters.out()), PKI_OK);
    DSTU4145FieldRecord field, expectedField;
    DSTU4145PointRecord point, expectedPoint;
    std::uint8_t sBox[PKI_SBOX_BYTES];
    ASSERT_EQ(parameters->GetParameters(&field, &point, sBox), PKI_OK);
    CSPParameters standard;
    ASSERT_EQ(standard.GetStandardCurve(1, 3, &expectedField, &expectedPoint), 1);
    EXPECT_EQ(std::memcmp(&field, &expectedField, sizeof field), 0);
    EXPECT_EQ(std::memcmp(&point, &expectedPoint, sizeof point), 0);
    GOST28147PackedSBox sBox0;
    ASSERT_EQ(standard.GetStandardSBox(0, &sBox0), 1);
    EXPECT_EQ(std::memcmp(sBox, &sBox0, PKI_SBOX_BYTES), 0);  // the parameters have none of their own
    std::uint8_t keySBox[PKI_SBOX_BYTES];
    ASSERT_EQ(key->GetSBox(keySBox), PKI_OK);
    EXPECT_EQ(keySBox[5], 15);
}

TEST_F(PkfmtContainer, AnyChangedByteIsNoticed)
{
    const Bytes encoding = Write(Pattern(32, 5), "pw", 1);
    // Every byte of the encoding is covered: each flip is refused by the
    // decoder, the container MAC or the entry MAC.
    for (std::size_t i = 0; i < encoding.size(); ++i) {
        Bytes changed = encoding;
        changed[i] ^= 0x01;
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(changed);
        if (container->Decode(&in) != PKI_OK) continue;
        std::uint32_t flag = 0;
        ASSERT_EQ(container->IsProtected(&flag), PKI_OK);
        if (flag == 0) continue;  // the protection flag itself: the decoder then finds a stray MAC
        EXPECT_EQ(container->CheckPassword("pw"), PKI_E_WRONG_PASSWORD) << "byte " << i;
    }
}

TEST_F(PkfmtContainer, ChangedEntryIsRefusedWhenOpened)
{
    auto entry = Seal(MakeKey(Pattern(32, 5)), "pw");
    Blob encoded(pki_);
    ASSERT_EQ(entry->Encode(&encoded), PKI_OK);
    const Bytes original = encoded.bytes();
    for (std::size_t i : {std::size_t{8}, std::size_t{20}, original.size() / 2, original.size() - 1}) {
        Bytes changed = original;
        changed[i] ^= 0x80;
        auto copy = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
        PKIBlob in = In(changed);
        int rc = copy->Decode(&in);
        Obj<IPKIKey> key;
        if (rc == PKI_OK) rc = copy->Open("pw", key.out());
        EXPECT_NE(rc, PKI_OK) << "byte " << i;
        EXPECT_FALSE(key);
    }
}

TEST_F(PkfmtContainer, TruncatedEncodingsAreRefused)
{
    const Bytes encoding = Write(Pattern(32, 5), "pw", 1);
    for (std::size_t length = 0; length < encoding.size(); ++length) {
        Bytes shorter(encoding.begin(), encoding.begin() + length);
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(shorter);
        EXPECT_EQ(container->Decode(&in), PKI_E_BAD_ENCODING) << length;
    }
    auto entry = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
    const Bytes junk = Pattern(80, 0);
    PKIBlob in = In(junk);
    EXPECT_EQ(entry->Decode(&in), PKI_E_BAD_ENCODING);
    Obj<IPKIKey> key;
    EXPECT_EQ(entry->Open("pw", key.out()), PKI_E_NOT_SET);
}

TEST_F(PkfmtContainer, ProtectionValueIsTheIterationCount)
{
    const Bytes encoding = Write(Pattern(16, 2), "pw", 7);
    auto container = Read(encoding);
    std::uint32_t value = 0;
    EXPECT_EQ(container->GetProtectionValue(&value), PKI_OK);
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(container->CheckPassword("pw"), PKI_OK);
    auto entry = FirstEntry(container);
    EXPECT_EQ(entry->GetProtectionValue(&value), PKI_OK);
    EXPECT_EQ(value, 7u);
    Obj<IPKIKey> key;
    EXPECT_EQ(entry->Open("pw", key.out()), PKI_OK);

    EXPECT_EQ(container->SetProtectionValue(20000), PKI_OK);
    EXPECT_EQ(container->SetProtectionValue(20001), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(entry->SetProtectionValue(20001), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(entry->SetFormat(2), PKI_E_INVALID_ARGUMENT);
}

// A damaged encoding naming a large iteration count is refused before any
// derivation: the container's count (bytes 8..11) and the entry's.
TEST_F(PkfmtContainer, DamagedIterationCountsAreRefusedUnread)
{
    const Bytes encoding = Write(Pattern(16, 3), "pw", 7);
    for (std::uint32_t count : {20001u, 99999u, 0xFFFFFFFFu}) {
        Bytes damaged = encoding;
        for (int i = 0; i < 4; ++i) damaged[8 + i] = static_cast<std::uint8_t>(count >> (8 * i));
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(damaged);
        EXPECT_EQ(container->Decode(&in), PKI_E_BAD_ENCODING) << count;
    }
    auto container = Read(encoding);
    auto entry = FirstEntry(container);
    Blob entryEncoding(pki_);
    ASSERT_EQ(entry->Encode(&entryEncoding), PKI_OK);
    Bytes damaged = entryEncoding.bytes();
    damaged[8] = 0x21;  // 20001 = 0x4E21
    damaged[9] = 0x4E;
    damaged[10] = damaged[11] = 0;
    auto other = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
    PKIBlob in = In(damaged);
    EXPECT_EQ(other->Decode(&in), PKI_E_BAD_ENCODING);
}

// Protection value 0 stands for the stand-in's default count, which tests may
// lower through PKFMT_DEFAULT_ITERATIONS; an explicit count does not depend
// on it.
TEST(PkfmtIterations, DefaultCountAndItsEnvironmentSwitch)
{
    const char* saved = std::getenv("PKFMT_DEFAULT_ITERATIONS");
    const std::string keep = saved != nullptr ? saved : "";
    std::uint8_t salt[pkfmt::SALT_BYTES] = {1, 2, 3};
    auto derive = [&](std::uint32_t iterations) {
        pkfmt::DerivedKeys keys;
        EXPECT_TRUE(pkfmt::DeriveKeys("pw", salt, iterations, &keys));
        return Bytes(keys.cipher, keys.cipher + pkfmt::KEY_BYTES);
    };
    unsetenv("PKFMT_DEFAULT_ITERATIONS");
    EXPECT_EQ(pkfmt::DefaultIterations(), 10000u);
    EXPECT_EQ(derive(0), derive(10000));
    for (const char* ignored : {"", "0", "20001", "12x", "-5"}) {
        setenv("PKFMT_DEFAULT_ITERATIONS", ignored, 1);
        EXPECT_EQ(pkfmt::DefaultIterations(), 10000u) << ignored;
    }
    setenv("PKFMT_DEFAULT_ITERATIONS", "16", 1);
    EXPECT_EQ(pkfmt::DefaultIterations(), 16u);
    EXPECT_EQ(derive(0), derive(16));
    EXPECT_NE(derive(0), derive(10000));
    EXPECT_NE(derive(16), derive(17));
    if (saved != nullptr)
        setenv("PKFMT_DEFAULT_ITERATIONS", keep.c_str(), 1);
    else
        unsetenv("PKFMT_DEFAULT_ITERATIONS");
}

TEST_F(PkfmtContainer, UnprotectedContainerNeedsNoPassword)
{
    auto entry = Seal(MakeKey(Pattern(16, 2)), "entry password");
    auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
    ASSERT_EQ(list->AddEntry(entry.get(), nullptr), PKI_OK);
    auto writer = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_WRITER);
    ASSERT_EQ(writer->AddItem(list.get()), PKI_OK);
    Blob out(pki_);
    ASSERT_EQ(writer->Encode(&out), PKI_OK);

    auto container = Read(out.bytes());
    std::uint32_t flag = 1;
    EXPECT_EQ(container->IsProtected(&flag), PKI_OK);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(container->CheckPassword("anything"), PKI_OK);
    // The entry keeps its own protection.
    Obj<IPKIKey> key;
    EXPECT_EQ(FirstEntry(container)->Open("anything", key.out()), PKI_E_WRONG_PASSWORD);
    EXPECT_EQ(writer->SetPassword(2, "x"), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(writer->SetPassword(PKI_PROTECT_WITH_PASSWORD, nullptr), PKI_E_INVALID_ARGUMENT);
}

TEST_F(PkfmtContainer, ConvertedOpenTakesWindows1251ForUtf8Passwords)
{
    // "пароль" in UTF-8 and in Windows-1251.
    const char utf8[] = "\xd0\xbf\xd0\xb0\xd1\x80\xd0\xbe\xd0\xbb\xd1\x8c";
    const char cp1251[] = "\xef\xe0\xf0\xee\xeb\xfc";
    auto entry = Seal(MakeKey(Pattern(16, 2)), utf8);
    Obj<IPKIKey> key;
    EXPECT_EQ(entry->Open(cp1251, key.out()), PKI_E_WRONG_PASSWORD);
    EXPECT_EQ(entry->OpenConverted(cp1251, key.out()), PKI_OK);
    EXPECT_EQ(entry->Open(utf8, key.out()), PKI_OK);
}

TEST_F(PkfmtTest, ParameterFormsAndTheirInterfaces)
{
    std::uint8_t block[PKI_BUILTIN_PARAMETER_BLOCK_BYTES];
    PKIBuiltInParameterBlock(block);
    const Bytes blockBytes(block, block + sizeof block);

    auto parameters = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_ENCODED_PARAMETERS);
    DSTU4145FieldRecord field;
    EXPECT_EQ(parameters->GetParameters(&field, nullptr, nullptr), PKI_E_NOT_SET);
    PKIBlob in = In(blockBytes);
    ASSERT_EQ(parameters->SetBlock(&in), PKI_OK);
    EXPECT_EQ(parameters->GetParameters(&field, nullptr, nullptr), PKI_E_ENCODED_BLOCK);
    Obj<IPKIParameters> named;
    EXPECT_EQ(parameters->QueryInterface(PKI_IID_NAMED_PARAMETERS, named.out()), PKI_E_NO_INTERFACE);

    // A key over block parameters answers 260 through 4128 and gives both
    // through 4275.
    auto key = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
    const Bytes value = Pattern(64, 3);
    PKIBlob v = In(value);
    ASSERT_EQ(key->SetKeyValue(&v, parameters.get()), PKI_OK);
    Blob out(pki_);
    Obj<IPKIParameters> got;
    EXPECT_EQ(key->GetKeyValue(&out, got.out()), PKI_E_ENCODED_BLOCK);
    EXPECT_EQ(out.blob.data, nullptr);
    auto encodedKey = Query<IPKIEncodedKey>(key, PKI_IID_ENCODED_KEY);
    ASSERT_EQ(encodedKey->GetEncodedKeyValue(&out, got.out()), PKI_OK);
    EXPECT_EQ(out.bytes(), value);
    auto blockFace = Query<IPKIParameters>(got, PKI_IID_ENCODED_PARAMETERS);
    Blob gotBlock(pki_);
    ASSERT_EQ(blockFace->GetBlock(&gotBlock), PKI_OK);
    EXPECT_EQ(gotBlock.bytes(), blockBytes);
    std::uint8_t sBox[PKI_SBOX_BYTES];
    EXPECT_EQ(key->GetSBox(sBox), PKI_E_ABSENT);

    // Named parameters: the built-in curve and the standard curves resolve.
    ASSERT_EQ(parameters->SetName(PKI_OID_BUILTIN_CURVE, nullptr), PKI_OK);
    auto nameFace = Query<IPKIParameters>(parameters, PKI_IID_NAMED_PARAMETERS);
    Blob name(pki_);
    ASSERT_EQ(nameFace->GetName(&name), PKI_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(name.blob.data)), PKI_OID_BUILTIN_CURVE);
    DSTU4145FieldRecord builtInField;
    DSTU4145PointRecord point, builtInPoint;
    PKIBuiltInCurve(&builtInField, &builtInPoint);
    ASSERT_EQ(parameters->GetParameters(&field, &point, nullptr), PKI_OK);
    EXPECT_EQ(std::memcmp(&field, &builtInField, sizeof field), 0);
    EXPECT_EQ(std::memcmp(&point, &builtInPoint, sizeof point), 0);

    CSPParameters standard;
    char oid[CSP_CURVE_TEXT_BYTES];
    ASSERT_EQ(standard.GetStandardCurveInfo(1, 9, nullptr, nullptr, oid), 1);
    ASSERT_EQ(parameters->SetName(oid, nullptr), PKI_OK);
    DSTU4145FieldRecord expected;
    ASSERT_EQ(standard.GetStandardCurve(1, 9, &expected, nullptr), 1);
    ASSERT_EQ(parameters->GetParameters(&field, nullptr, nullptr), PKI_OK);
    EXPECT_EQ(std::memcmp(&field, &expected, sizeof field), 0);
    ASSERT_EQ(parameters->SetName("1.2.3.4", nullptr), PKI_OK);
    EXPECT_EQ(parameters->GetParameters(&field, nullptr, nullptr), PKI_E_FAILURE);

    for (const char* bad : {"", "1..2", ".1", "1.", "1.a"})
        EXPECT_EQ(parameters->SetName(bad, nullptr), PKI_E_INVALID_ARGUMENT) << bad;
    EXPECT_EQ(parameters->SetStandard(1, 10, nullptr), PKI_E_INVALID_ARGUMENT);
    EXPECT_EQ(parameters->SetStandard(0, 4, nullptr), PKI_OK);
}

}  // namespace
