// Attributes, templates and the object classes: the stored forms byte for
// byte, the C_GetAttributeValue and creation rules, hooks, handles, and
// the parsers' answers to damaged records read from a key.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pkcs11/PKCS11Attribute.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11ObjectManager.h"
#include "pkcs11/PKCS11Template.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SerializeAttribute(const PKCS11Attribute& attribute)
{
    CK_ULONG length = 0;
    EXPECT_EQ(attribute.Serialize(nullptr, &length), CKR_OK);
    Bytes out(length);
    EXPECT_EQ(attribute.Serialize(out.data(), &length), CKR_OK);
    out.resize(length);
    return out;
}

Bytes SerializeTemplate(const PKCS11Template& t)
{
    CK_ULONG length = 0;
    EXPECT_EQ(t.Serialize(nullptr, &length), CKR_OK);
    Bytes out(length);
    EXPECT_EQ(t.Serialize(out.data(), &length), CKR_OK);
    out.resize(length);
    return out;
}

PKCS11Attribute* Make(CK_ATTRIBUTE_TYPE type, const void* value, CK_ULONG length)
{
    PKCS11Attribute* a = nullptr;
    EXPECT_EQ(CreateAttributeForType(type, &a), CKR_OK);
    EXPECT_EQ(a->SetValue(value, length), CKR_OK);
    return a;
}

struct Owned {
    PKCS11Object* object = nullptr;
    ~Owned()
    {
        if (object != nullptr) object->Release();
    }
};

CK_BBOOL yes = CK_TRUE;
CK_BBOOL no = CK_FALSE;

}  // namespace

TEST(AttributeStoredForm, KnownRecords)
{
    CK_ULONG cls = CKO_PRIVATE_KEY;
    PKCS11Attribute* a = Make(CKA_CLASS, &cls, sizeof(cls));
    EXPECT_EQ(SerializeAttribute(*a), (Bytes{0, 0, 0, 0, 0, 0, 0, 3}));
    a->Release();

    a = Make(CKA_TOKEN, &yes, 1);
    EXPECT_EQ(SerializeAttribute(*a), (Bytes{0, 0, 0, 1, 1}));
    a->Release();

    a = Make(CKA_LABEL, "abc", 3);
    EXPECT_EQ(SerializeAttribute(*a), (Bytes{0, 0, 0, 3, 0, 0, 0, 3, 0x61, 0x62, 0x63}));
    a->Release();

    CK_DATE date;
    std::memcpy(&date, "20261210", 8);
    a = Make(CKA_END_DATE, &date, sizeof(date));
    EXPECT_EQ(SerializeAttribute(*a), (Bytes{0, 0, 1, 0x11, '2', '0', '2', '6', '1', '2', '1', '0'}));
    a->Release();

    // A private key holds CKA_ALWAYS_AUTHENTICATE as a Boolean, but the type
    // is not a fixed-length one, so its record has the length field.
    PKCS11PrivateKeyObject key;
    ASSERT_EQ(key.SetBoolAttribute(CKA_ALWAYS_AUTHENTICATE, true, false), CKR_OK);
    EXPECT_EQ(SerializeAttribute(*key.FindAttribute(CKA_ALWAYS_AUTHENTICATE)), (Bytes{0, 0, 2, 2, 0, 0, 0, 1, 1}));
}

TEST(AttributeStoredForm, MechanismListIsBigEndianAndReadsBackInHostOrder)
{
    CK_ULONG mechanisms[2] = {CKM_DSTU4145, 0x1234};
    PKCS11Attribute* a = Make(CKA_ALLOWED_MECHANISMS, mechanisms, sizeof(mechanisms));
    const Bytes stored = SerializeAttribute(*a);
    EXPECT_EQ(stored, (Bytes{0x40, 0, 6, 0, 0, 0, 0, 8, 0x80, 0x42, 0x00, 0x31, 0, 0, 0x12, 0x34}));
    PKCS11Attribute* back = nullptr;
    CK_ULONG used = 0;
    ASSERT_EQ(DeserializeAttribute(stored.data(), stored.size(), &back, &used), CKR_OK);
    EXPECT_EQ(used, stored.size());
    ASSERT_EQ(back->GetLength(), sizeof(mechanisms));
    EXPECT_EQ(std::memcmp(back->GetValue(), mechanisms, sizeof(mechanisms)), 0);

    // The same elements in another order are equal.
    CK_ULONG swapped[2] = {0x1234, CKM_DSTU4145};
    PKCS11Attribute* other = Make(CKA_ALLOWED_MECHANISMS, swapped, sizeof(swapped));
    EXPECT_TRUE(a->Equals(*other));
    a->Release();
    back->Release();
    other->Release();
}

TEST(AttributeStoredForm, EmptyAttributesWriteNothingAndWideIntegersAreRefused)
{
    for (CK_ATTRIBUTE_TYPE type :
         {CKA_CLASS, CKA_TOKEN, CKA_LABEL, CKA_START_DATE, CKA_ALLOWED_MECHANISMS, CKA_WRAP_TEMPLATE}) {
        PKCS11Attribute* a = nullptr;
        ASSERT_EQ(CreateAttributeForType(type, &a), CKR_OK);
        CK_ULONG length = 99;
        EXPECT_EQ(a->Serialize(nullptr, &length), CKR_OK) << type;
        EXPECT_EQ(length, 0u) << type;
        a->Release();
    }
    // The key keeps four bytes: a value that does not fit is refused, not cut.
    CK_ULONG wide = 0x100000000ULL;
    PKCS11Attribute* a = Make(CKA_VALUE_LEN, &wide, sizeof(wide));
    std::uint8_t out[16];
    CK_ULONG length = sizeof(out);
    EXPECT_EQ(a->Serialize(out, &length), CKR_ATTRIBUTE_VALUE_INVALID);
    a->Release();
}

TEST(AttributeStoredForm, DamagedRecordsFromTheKey)
{
    PKCS11Attribute* label = nullptr;
    ASSERT_EQ(CreateAttributeForType(CKA_LABEL, &label), CKR_OK);
    CK_ULONG used = 77;
    const Bytes otherType{0, 0, 0, 1, 1};
    EXPECT_EQ(label->Deserialize(otherType.data(), otherType.size(), &used), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(used, 77u);
    const Bytes seven{0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(label->Deserialize(seven.data(), seven.size(), &used), CKR_DEVICE_MEMORY);
    // A length near 2^32 must not wrap the bound.
    const Bytes huge{0, 0, 0, 3, 0xFF, 0xFF, 0xFF, 0xFC, 'a'};
    EXPECT_EQ(label->Deserialize(huge.data(), huge.size(), &used), CKR_DEVICE_MEMORY);
    const Bytes oneShort{0, 0, 0, 3, 0, 0, 0, 4, 'a', 'b', 'c'};
    EXPECT_EQ(label->Deserialize(oneShort.data(), oneShort.size(), &used), CKR_DEVICE_MEMORY);
    EXPECT_TRUE(label->IsEmpty());
    label->Release();

    // A Boolean record of a fixed-length type cut short, and a 2-byte Boolean value.
    PKCS11Attribute* a = nullptr;
    const Bytes cut{0, 0, 0, 1};
    EXPECT_EQ(DeserializeAttribute(cut.data(), cut.size(), &a, &used), CKR_DEVICE_MEMORY);
    ASSERT_EQ(CreateAttributeForType(CKA_TOKEN, &a), CKR_OK);
    EXPECT_EQ(a->SetValue("\1\1", 2), CKR_ATTRIBUTE_VALUE_INVALID);
    a->Release();
    ASSERT_EQ(CreateAttributeForType(CKA_CLASS, &a), CKR_OK);
    EXPECT_EQ(a->SetValue("\1\1\1", 3), CKR_ATTRIBUTE_VALUE_INVALID);
    a->Release();
}

TEST(AttributeStoredForm, NestedTemplatesDeeperThanTheCapAreRefused)
{
    // A wrap template inside a wrap template inside ... built record by record.
    Bytes record{0, 0, 0, 3, 0, 0, 0, 1, 'x'};
    for (int level = 0; level < 10; ++level) {
        Bytes outer{0x40, 0, 2, 0x11, 0, 0, 0, 0};
        const std::uint32_t n = static_cast<std::uint32_t>(record.size());
        outer[4] = n >> 24, outer[5] = n >> 16, outer[6] = n >> 8, outer[7] = n;
        outer.insert(outer.end(), record.begin(), record.end());
        record = outer;
    }
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    EXPECT_EQ(ParseSerializedTemplate(record.data(), record.size(), &entries, &count), CKR_DEVICE_MEMORY);
    EXPECT_EQ(count, 0u);
}

TEST(Attribute, ReadRules)
{
    PKCS11Attribute* a = Make(CKA_LABEL, "abcd", 4);
    CK_ULONG length = 0;
    EXPECT_EQ(a->GetAttributeValue(nullptr, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(a->GetAttributeValue(nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 4u);
    char buffer[4];
    length = 3;
    EXPECT_EQ(a->GetAttributeValue(buffer, &length), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(length, CK_UNAVAILABLE_INFORMATION);
    length = 4;
    EXPECT_EQ(a->GetAttributeValue(buffer, &length), CKR_OK);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    a->Release();
}

TEST(Attribute, FixedOnceHookLetsTheFirstValueInAndTheSameAgain)
{
    PKCS11Template owner;
    PKCS11Attribute* a = nullptr;
    ASSERT_EQ(CreateAttributeForType(CKA_KEY_TYPE, &a), CKR_OK);
    a->SetHooks(&owner, FixedOnceSetHook, nullptr);
    ASSERT_TRUE(owner.AddAttribute(a, 0));
    CK_ULONG first = CKK_DSTU4145, second = CKK_GOST28147;
    EXPECT_EQ(a->SetValueChecked(&first, sizeof(first)), CKR_OK);
    EXPECT_EQ(a->SetValueChecked(&second, sizeof(second)), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(a->SetValueChecked(&first, sizeof(first)), CKR_OK);
}

TEST(Template, ApplyRules)
{
    CK_ULONG cls = CKO_DATA;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> entries;
        CK_RV expected;
    } cases[] = {
        {"label twice", {{CKA_LABEL, (void*)"a", 1}, {CKA_LABEL, (void*)"b", 1}}, CKR_TEMPLATE_INCONSISTENT},
        {"empty required class", {{CKA_CLASS, nullptr, 0}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"empty optional label", {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_LABEL, nullptr, 0}}, CKR_OK},
        {"type the class lacks", {{CKA_MODULUS, (void*)"a", 1}}, CKR_ATTRIBUTE_TYPE_INVALID},
        {"vendor handle", {{CKA_VENDOR_OBJECT_HANDLE, &cls, sizeof(cls)}}, CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const Case& c : cases) {
        PKCS11DataObject object;
        EXPECT_EQ(object.ApplyTemplate(c.entries.data(), c.entries.size(), true), c.expected) << c.name;
    }
    // More entries than the object has attributes: refused before any value is set.
    PKCS11DataObject object;
    std::vector<CK_ATTRIBUTE> many(object.GetCount() + 1, CK_ATTRIBUTE{CKA_LABEL, (void*)"z", 1});
    EXPECT_EQ(object.ApplyTemplate(many.data(), many.size(), true), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_FALSE(object.HasValue(CKA_LABEL));
}

TEST(Template, GetAttributeValuesFirstErrorWins)
{
    CK_ULONG cls = CKO_SECRET_KEY, type = CKK_GOST28147;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_KEY_TYPE, &type, sizeof(type)},
                        {CKA_LABEL, (void*)"key", 3},
                        {CKA_SENSITIVE, &yes, 1},
                        {CKA_VALUE, (void*)"0123456789abcdef", 16}};
    Owned key;
    ASSERT_EQ(CreateObjectFromTemplate(t, 5, true, &key.object), CKR_OK);

    char value[16], label[2], modulus[4];
    CK_ATTRIBUTE read[] = {{CKA_VALUE, value, sizeof(value)}, {CKA_LABEL, label, sizeof(label)}};
    EXPECT_EQ(key.object->GetAttributeValues(read, 2), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(read[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(read[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);

    char wide[8];
    CK_ATTRIBUTE second[] = {{CKA_LABEL, wide, sizeof(wide)}, {CKA_MODULUS, modulus, sizeof(modulus)}};
    EXPECT_EQ(key.object->GetAttributeValues(second, 2), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(second[0].ulValueLen, 3u);
    EXPECT_EQ(std::string(wide, 3), "key");
    EXPECT_EQ(second[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
}

TEST(Template, MatchingAndDefaultsLeftOutOfTheStoredForm)
{
    CK_ULONG cls = CKO_DATA;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_TOKEN, &no, 1}, {CKA_LABEL, (void*)"x", 1}};
    Owned data;
    ASSERT_EQ(CreateObjectFromTemplate(t, 3, true, &data.object), CKR_OK);
    // CKA_TOKEN false equals its default: only the class and the label are stored.
    EXPECT_EQ(SerializeTemplate(*data.object), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 1, 'x'}));

    CK_ATTRIBUTE byLabel[] = {{CKA_LABEL, (void*)"x", 1}, {CKA_PRIVATE, &yes, 1}};
    EXPECT_TRUE(data.object->Matches(byLabel, 2));
    CK_ATTRIBUTE wrong[] = {{CKA_LABEL, (void*)"y", 1}};
    EXPECT_FALSE(data.object->Matches(wrong, 1));
    CK_ATTRIBUTE lacking[] = {{CKA_MODULUS, (void*)"x", 1}};
    EXPECT_FALSE(data.object->Matches(lacking, 1));
    // A hidden item is no criterion.
    CK_ATTRIBUTE hidden[] = {{CKA_VENDOR_KEY_REF_1, (void*)"zz", 2}};
    EXPECT_TRUE(data.object->Matches(hidden, 1));
    EXPECT_TRUE(data.object->Matches(nullptr, 0));
}

TEST(Template, NestedUnwrapTemplateStoredAndParsedBack)
{
    CK_ULONG cls = CKO_PRIVATE_KEY, type = CKK_DSTU4145;
    CK_ATTRIBUTE nested[] = {{CKA_LABEL, (void*)"in", 2}, {CKA_TOKEN, &yes, 1}};
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                        {CKA_KEY_TYPE, &type, sizeof(type)},
                        {CKA_UNWRAP_TEMPLATE, nested, sizeof(nested)}};
    Owned key;
    ASSERT_EQ(CreateObjectFromTemplate(t, 3, true, &key.object), CKR_OK);
    const Bytes stored = SerializeTemplate(*key.object);
    CK_ATTRIBUTE* entries = nullptr;
    CK_ULONG count = 0;
    ASSERT_EQ(ParseSerializedTemplate(stored.data(), stored.size(), &entries, &count), CKR_OK);
    const CK_ATTRIBUTE* unwrap = nullptr;
    for (CK_ULONG i = 0; i < count; ++i)
        if (entries[i].type == CKA_UNWRAP_TEMPLATE) unwrap = &entries[i];
    ASSERT_NE(unwrap, nullptr);
    ASSERT_EQ(unwrap->ulValueLen, 2 * sizeof(CK_ATTRIBUTE));
    const auto* inner = static_cast<const CK_ATTRIBUTE*>(unwrap->pValue);
    EXPECT_EQ(inner[0].type, CKA_LABEL);
    EXPECT_EQ(std::string(static_cast<const char*>(inner[0].pValue), inner[0].ulValueLen), "in");
    EXPECT_EQ(inner[1].type, CKA_TOKEN);

    // Rebuilt from the stored form, the key equals the original.
    Owned rebuilt;
    ASSERT_EQ(CreateObjectFromStoredForm(stored.data(), stored.size(), &rebuilt.object), CKR_OK);
    EXPECT_EQ(SerializeTemplate(*rebuilt.object), stored);
    EXPECT_TRUE(rebuilt.object->ContainsTemplate(*key.object));

    // Reading the nested template: the caller names the wanted types.
    char label[4];
    CK_ATTRIBUTE want[] = {{CKA_LABEL, label, sizeof(label)}};
    CK_ATTRIBUTE read{CKA_UNWRAP_TEMPLATE, want, sizeof(want)};
    EXPECT_EQ(key.object->GetAttributeValues(&read, 1), CKR_OK);
    EXPECT_EQ(want[0].ulValueLen, 2u);
    FreeCkAttributeArray(entries, count);
}

TEST(ObjectClasses, CreationRules)
{
    CK_ULONG data = CKO_DATA, cert = CKO_CERTIFICATE, priv = CKO_PRIVATE_KEY, pub = CKO_PUBLIC_KEY;
    CK_ULONG x509 = CKC_X_509, dstu = CKK_DSTU4145;
    std::uint16_t shortClass = 0;
    struct Case {
        const char* name;
        std::vector<CK_ATTRIBUTE> entries;
        CK_RV expected;
    } cases[] = {
        {"no class", {{CKA_LABEL, (void*)"x", 1}}, CKR_TEMPLATE_INCONSISTENT},
        {"empty template", {}, CKR_TEMPLATE_INCONSISTENT},
        {"two-byte class", {{CKA_CLASS, &shortClass, 2}}, CKR_ATTRIBUTE_VALUE_INVALID},
        {"certificate without subject",
         {{CKA_CLASS, &cert, sizeof(cert)}, {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)}, {CKA_VALUE, (void*)"v", 1}},
         CKR_TEMPLATE_INCOMPLETE},
        {"private key that decrypts",
         {{CKA_CLASS, &priv, sizeof(priv)}, {CKA_KEY_TYPE, &dstu, sizeof(dstu)}, {CKA_DECRYPT, &yes, 1}},
         CKR_TEMPLATE_INCONSISTENT},
        {"private key with CKA_LOCAL",
         {{CKA_CLASS, &priv, sizeof(priv)}, {CKA_KEY_TYPE, &dstu, sizeof(dstu)}, {CKA_LOCAL, &no, 1}},
         CKR_ATTRIBUTE_READ_ONLY},
        {"public key that wraps",
         {{CKA_CLASS, &pub, sizeof(pub)}, {CKA_KEY_TYPE, &dstu, sizeof(dstu)}, {CKA_WRAP, &yes, 1}},
         CKR_TEMPLATE_INCONSISTENT},
        {"key without key type", {{CKA_CLASS, &pub, sizeof(pub)}}, CKR_TEMPLATE_INCOMPLETE},
        {"data object", {{CKA_CLASS, &data, sizeof(data)}, {CKA_VALUE, (void*)"abc", 3}}, CKR_OK},
    };
    for (const Case& c : cases) {
        Owned made;
        EXPECT_EQ(CreateObjectFromTemplate(c.entries.data(), c.entries.size(), true, &made.object), c.expected)
            << c.name;
        EXPECT_EQ(made.object != nullptr, c.expected == CKR_OK) << c.name;
    }
    // A record from the key (read without the hooks) of a class with no
    // table of its own that names a second, different class made an object
    // of the first class carrying the second, whose own stored form then did
    // not read back (found by fuzzing).
    CK_ULONG vendorClass = 0xDA03;
    const CK_ATTRIBUTE twoClasses[] = {
        {CKA_CLASS, &vendorClass, sizeof(vendorClass)}, {CKA_LABEL, (void*)"x", 1}, {CKA_CLASS, &pub, sizeof(pub)}};
    const CK_ATTRIBUTE oneClassTwice[] = {{CKA_CLASS, &vendorClass, sizeof(vendorClass)},
                                          {CKA_LABEL, (void*)"x", 1},
                                          {CKA_CLASS, &vendorClass, sizeof(vendorClass)}};
    Owned refused, kept;
    EXPECT_EQ(CreateObjectFromTemplate(twoClasses, 3, false, &refused.object), CKR_TEMPLATE_INCONSISTENT);
    EXPECT_EQ(CreateObjectFromTemplate(oneClassTwice, 3, false, &kept.object), CKR_OK);
}

TEST(ObjectClasses, DefaultsOfEachClass)
{
    CK_ULONG data = CKO_DATA, cert = CKO_CERTIFICATE, pub = CKO_PUBLIC_KEY, x509 = CKC_X_509, dstu = CKK_DSTU4145;
    auto flag = [](const PKCS11Object* o, CK_ATTRIBUTE_TYPE type) {
        bool v = false;
        EXPECT_EQ(o->GetBool(type, &v), CKR_OK) << type;
        return v;
    };
    CK_ATTRIBUTE d[] = {{CKA_CLASS, &data, sizeof(data)}, {CKA_LABEL, (void*)"x", 1}, {CKA_VALUE, (void*)"abc", 3}};
    Owned dataObject;
    ASSERT_EQ(CreateObjectFromTemplate(d, 3, true, &dataObject.object), CKR_OK);
    EXPECT_FALSE(flag(dataObject.object, CKA_TOKEN));
    EXPECT_TRUE(flag(dataObject.object, CKA_PRIVATE));
    EXPECT_TRUE(flag(dataObject.object, CKA_MODIFIABLE));
    EXPECT_TRUE(flag(dataObject.object, CKA_COPYABLE));

    CK_ATTRIBUTE c[] = {{CKA_CLASS, &cert, sizeof(cert)},
                        {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
                        {CKA_SUBJECT, (void*)"s", 1},
                        {CKA_VALUE, (void*)"v", 1}};
    Owned certificate;
    ASSERT_EQ(CreateObjectFromTemplate(c, 4, true, &certificate.object), CKR_OK);
    EXPECT_TRUE(flag(certificate.object, CKA_TRUSTED));

    CK_ATTRIBUTE p[] = {{CKA_CLASS, &pub, sizeof(pub)}, {CKA_KEY_TYPE, &dstu, sizeof(dstu)}};
    Owned publicKey;
    ASSERT_EQ(CreateObjectFromTemplate(p, 2, true, &publicKey.object), CKR_OK);
    EXPECT_FALSE(flag(publicKey.object, CKA_PRIVATE));
    bool sign = true;
    EXPECT_EQ(publicKey.object->GetBoolOr(CKA_SIGN, false, &sign), CKR_OK);
    EXPECT_FALSE(sign);
}

TEST(ObjectClasses, OneWayFlagsAndTheirCompanions)
{
    CK_ULONG priv = CKO_PRIVATE_KEY, dstu = CKK_DSTU4145;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &priv, sizeof(priv)},
                        {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                        {CKA_SENSITIVE, &no, 1},
                        {CKA_EXTRACTABLE, &yes, 1}};
    Owned key;
    ASSERT_EQ(CreateObjectFromTemplate(t, 4, true, &key.object), CKR_OK);
    bool v = true;
    ASSERT_EQ(key.object->GetBool(CKA_ALWAYS_SENSITIVE, &v), CKR_OK);
    EXPECT_FALSE(v);
    ASSERT_EQ(key.object->GetBool(CKA_NEVER_EXTRACTABLE, &v), CKR_OK);
    EXPECT_FALSE(v);

    struct Case {
        CK_ATTRIBUTE_TYPE type;
        CK_BBOOL* value;
        CK_RV expected;
    } cases[] = {
        {CKA_COPYABLE, &no, CKR_OK},                    // true -> false
        {CKA_COPYABLE, &yes, CKR_ATTRIBUTE_READ_ONLY},  // false -> true
        {CKA_SENSITIVE, &yes, CKR_OK},                  // false -> true
        {CKA_SENSITIVE, &no, CKR_ATTRIBUTE_READ_ONLY},  // true -> false
        {CKA_EXTRACTABLE, &no, CKR_OK},
        {CKA_EXTRACTABLE, &yes, CKR_ATTRIBUTE_READ_ONLY},
        {CKA_ALWAYS_SENSITIVE, &yes, CKR_ATTRIBUTE_READ_ONLY},
    };
    for (const Case& c : cases) {
        CK_ATTRIBUTE entry{c.type, c.value, 1};
        EXPECT_EQ(key.object->ApplyTemplate(&entry, 1, true), c.expected) << c.type << " " << int(*c.value);
    }
}

TEST(ObjectClasses, SecretValueIsReadableOnlyWhenNotSensitiveAndExtractable)
{
    CK_ULONG cls = CKO_SECRET_KEY, type = CKK_GOST28147;
    struct Case {
        CK_BBOOL sensitive, extractable;
        CK_RV expected;
    } cases[] = {{CK_FALSE, CK_TRUE, CKR_OK},
                 {CK_TRUE, CK_TRUE, CKR_ATTRIBUTE_SENSITIVE},
                 {CK_FALSE, CK_FALSE, CKR_ATTRIBUTE_SENSITIVE}};
    for (Case c : cases) {
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_KEY_TYPE, &type, sizeof(type)},
                            {CKA_SENSITIVE, &c.sensitive, 1},
                            {CKA_EXTRACTABLE, &c.extractable, 1},
                            {CKA_VALUE, (void*)"k", 1}};
        Owned key;
        ASSERT_EQ(CreateObjectFromTemplate(t, 5, true, &key.object), CKR_OK);
        char value[4];
        CK_ATTRIBUTE read{CKA_VALUE, value, sizeof(value)};
        EXPECT_EQ(key.object->GetAttributeValues(&read, 1), c.expected);
        EXPECT_EQ(read.ulValueLen, c.expected == CKR_OK ? 1 : CK_UNAVAILABLE_INFORMATION);
    }
}

TEST(ObjectClasses, Handles)
{
    struct Case {
        CK_BBOOL token, isPrivate;
        CK_OBJECT_HANDLE expected;
    } cases[] = {{CK_TRUE, CK_TRUE, 0x30000001},
                 {CK_TRUE, CK_FALSE, 0x10000001},
                 {CK_FALSE, CK_TRUE, 0x20000001},
                 {CK_FALSE, CK_FALSE, 0x00000001}};
    CK_ULONG cls = CKO_DATA;
    for (Case c : cases) {
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)}, {CKA_TOKEN, &c.token, 1}, {CKA_PRIVATE, &c.isPrivate, 1}};
        Owned o;
        ASSERT_EQ(CreateObjectFromTemplate(t, 3, true, &o.object), CKR_OK);
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(o.object->MakeHandle(0, &handle), CKR_OK);
        EXPECT_EQ(handle, c.expected);
    }
    // The object keeps the stored bits; the context number joins on reading.
    Owned o;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)}};
    ASSERT_EQ(CreateObjectFromTemplate(t, 1, true, &o.object), CKR_OK);
    ASSERT_EQ(SetObjectHandleAttribute(o.object, 0x3ABCDE05), CKR_OK);
    o.object->SetTokenContextNumber(0x12345);
    CK_OBJECT_HANDLE handle = 0;
    ASSERT_EQ(GetObjectHandle(o.object, &handle), CKR_OK);
    EXPECT_EQ(handle, 0x31234505u);

    // A new object of any class, plain ones included, reads as not yet
    // numbered, so storing it on the token can number it.
    for (CK_ULONG newClass : {CKO_DATA, CKO_DOMAIN_PARAMETERS}) {
        Owned fresh;
        CK_ATTRIBUTE only{CKA_CLASS, &newClass, sizeof(newClass)};
        ASSERT_EQ(CreateObjectFromTemplate(&only, 1, true, &fresh.object), CKR_OK);
        handle = 1;
        EXPECT_EQ(GetObjectHandle(fresh.object, &handle), CKR_OK) << newClass;
        EXPECT_EQ(handle, 0u) << newClass;
    }
}

TEST(ObjectClasses, SignatureKeyRole)
{
    CK_ULONG cls = CKO_PRIVATE_KEY, type = CKK_DSTU4145;
    struct Case {
        CK_BBOOL sign, derive;
        const char* label;
        bool expected;
    } cases[] = {{CK_TRUE, CK_TRUE, "KM AFD1", true},
                 {CK_TRUE, CK_TRUE, "KM AFD2", false},
                 {CK_TRUE, CK_FALSE, "anything", true},
                 {CK_FALSE, CK_FALSE, "KM AFD1", false}};
    for (Case c : cases) {
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof(cls)},
                            {CKA_KEY_TYPE, &type, sizeof(type)},
                            {CKA_SIGN, &c.sign, 1},
                            {CKA_DERIVE, &c.derive, 1},
                            {CKA_LABEL, (void*)c.label, (CK_ULONG)std::strlen(c.label)}};
        Owned key;
        ASSERT_EQ(CreateObjectFromTemplate(t, 5, true, &key.object), CKR_OK);
        bool is = !c.expected;
        ASSERT_EQ(IsSignatureKey(key.object, &is), CKR_OK);
        EXPECT_EQ(is, c.expected) << c.label;
    }
}

TEST(ObjectClasses, CloneKeepsClassHooksAndContext)
{
    PKCS11PrivateKeyObject original;
    original.SetTokenContextNumber(7);
    PKCS11Template* copy = nullptr;
    ASSERT_EQ(original.Clone(&copy), CKR_OK);
    Owned held;
    held.object = dynamic_cast<PKCS11PrivateKeyObject*>(copy);
    ASSERT_NE(held.object, nullptr);
    EXPECT_EQ(held.object->GetTokenContextNumber(), 7u);
    // The companion hook of the copy changes the copy, not the original.
    CK_ATTRIBUTE sensitive{CKA_SENSITIVE, &no, 1};
    ASSERT_EQ(held.object->ApplyTemplate(&sensitive, 1, true), CKR_OK);
    bool v = false;
    ASSERT_EQ(original.GetBool(CKA_ALWAYS_SENSITIVE, &v), CKR_OK);
    EXPECT_TRUE(v);
    ASSERT_EQ(held.object->GetBool(CKA_ALWAYS_SENSITIVE, &v), CKR_OK);
    EXPECT_FALSE(v);
}

TEST(ObjectManagerRules, AccessBySessionState)
{
    // Columns: public session, private session, public token, private token;
    // "rw", "r" or "-".
    struct Row {
        CK_STATE state;
        bool readOnly;
        const char* expected[4];
    } rows[] = {
        {CKS_RO_PUBLIC_SESSION, true, {"rw", "-", "r", "-"}},
        {CKS_RO_USER_FUNCTIONS, true, {"rw", "rw", "r", "r"}},
        // The key writes nothing without a login.
        {CKS_RW_PUBLIC_SESSION, false, {"rw", "-", "r", "-"}},
        {CKS_RW_USER_FUNCTIONS, false, {"rw", "rw", "rw", "rw"}},
        {CKS_RW_SO_FUNCTIONS, false, {"rw", "-", "rw", "-"}},
    };
    for (const Row& row : rows) {
        for (int column = 0; column < 4; ++column) {
            const bool token = column >= 2, isPrivate = column % 2 == 1;
            std::string got;
            bool allowed = false;
            if (AccessAllowed(row.state, row.readOnly, token, isPrivate, ACCESS_READ, &allowed) == CKR_OK && allowed)
                got += "r";
            const CK_RV write = AccessAllowed(row.state, row.readOnly, token, isPrivate, ACCESS_WRITE, &allowed);
            if (write == CKR_OK && allowed) got += "w";
            if (got.empty()) got = "-";
            if (got == "w") got = "rw";
            EXPECT_EQ(got, row.expected[column]) << "state " << row.state << " column " << column;
            if (token && row.readOnly) {
                EXPECT_EQ(write, CKR_SESSION_READ_ONLY);
            }
        }
    }
    bool allowed = true;
    EXPECT_EQ(AccessAllowed(5, false, false, false, ACCESS_READ, &allowed), CKR_OK);
    EXPECT_FALSE(allowed);
}

TEST(ObjectManagerRules, KeyUsageChecks)
{
    CK_ULONG priv = CKO_PRIVATE_KEY, pub = CKO_PUBLIC_KEY, secret = CKO_SECRET_KEY;
    CK_ULONG dstu = CKK_DSTU4145, gost = CKK_GOST28147;
    CK_ULONG signOnly[1] = {CKM_DSTU4145};
    auto key = [](std::vector<CK_ATTRIBUTE> t) {
        PKCS11Object* o = nullptr;
        EXPECT_EQ(CreateObjectFromTemplate(t.data(), t.size(), false, &o), CKR_OK);
        return o;
    };
    Owned signer, noSign, sessionSigner, emptyList, verifier, wrapper;
    signer.object = key({{CKA_CLASS, &priv, sizeof(priv)},
                         {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                         {CKA_TOKEN, &yes, 1},
                         {CKA_SIGN, &yes, 1},
                         {CKA_ALLOWED_MECHANISMS, signOnly, sizeof(signOnly)}});
    noSign.object = key({{CKA_CLASS, &priv, sizeof(priv)}, {CKA_KEY_TYPE, &dstu, sizeof(dstu)}, {CKA_TOKEN, &yes, 1}});
    sessionSigner.object = key({{CKA_CLASS, &priv, sizeof(priv)},
                                {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                                {CKA_SIGN, &yes, 1},
                                {CKA_ALLOWED_MECHANISMS, signOnly, sizeof(signOnly)}});
    emptyList.object = key({{CKA_CLASS, &priv, sizeof(priv)},
                            {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_SIGN, &yes, 1},
                            {CKA_ALLOWED_MECHANISMS, nullptr, 0}});
    verifier.object = key({{CKA_CLASS, &pub, sizeof(pub)},
                           {CKA_KEY_TYPE, &dstu, sizeof(dstu)},
                           {CKA_TOKEN, &yes, 1},
                           {CKA_VERIFY, &yes, 1}});
    CK_ULONG wrapList[1] = {CKM_GOST28147_KEY_WRAP};
    wrapper.object = key({{CKA_CLASS, &secret, sizeof(secret)},
                          {CKA_KEY_TYPE, &gost, sizeof(gost)},
                          {CKA_WRAP, &yes, 1},
                          {CKA_ALLOWED_MECHANISMS, wrapList, sizeof(wrapList)}});
    CK_DSTU4145_DERIVE_PARAMS derive{CKD_DSTU4145_DSTU7624, 0, nullptr, 0, nullptr};
    std::uint8_t shortParameter[16] = {};
    struct Case {
        const char* name;
        std::uint32_t kind;
        PKCS11Object* key;
        CK_MECHANISM mechanism;
        CK_RV expected;
    } cases[] = {
        {"sign", KEY_USAGE_SIGN, signer.object, {CKM_DSTU4145, nullptr, 0}, CKR_OK},
        {"sign without CKA_SIGN",
         KEY_USAGE_SIGN,
         noSign.object,
         {CKM_DSTU4145, nullptr, 0},
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"sign with a public key",
         KEY_USAGE_SIGN,
         verifier.object,
         {CKM_DSTU4145, nullptr, 0},
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"sign with a session key",
         KEY_USAGE_SIGN,
         sessionSigner.object,
         {CKM_DSTU4145, nullptr, 0},
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"sign with a generation mechanism",
         KEY_USAGE_SIGN,
         signer.object,
         {CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0},
         CKR_MECHANISM_INVALID},
        {"sign with an unlisted mechanism",
         KEY_USAGE_SIGN,
         signer.object,
         {CKM_DSTU4145_GOST34311, nullptr, 0},
         CKR_MECHANISM_INVALID},
        {"sign with an empty list",
         KEY_USAGE_SIGN,
         emptyList.object,
         {CKM_DSTU4145, nullptr, 0},
         CKR_MECHANISM_INVALID},
        // A key class always holds the list, empty when not given.
        {"verify without a list", KEY_USAGE_VERIFY, verifier.object, {CKM_DSTU4145, nullptr, 0}, CKR_MECHANISM_INVALID},
        {"wrap", KEY_USAGE_WRAP, wrapper.object, {CKM_GOST28147_KEY_WRAP, nullptr, 0}, CKR_OK},
        {"wrap with another key type's mechanism",
         KEY_USAGE_WRAP,
         wrapper.object,
         {CKM_DSTU7624_KEY_WRAP, nullptr, 0},
         CKR_MECHANISM_INVALID},
        {"unwrap without CKA_UNWRAP",
         KEY_USAGE_UNWRAP,
         wrapper.object,
         {CKM_GOST28147_KEY_WRAP, nullptr, 0},
         CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"unknown kind", 9, signer.object, {CKM_DSTU4145, nullptr, 0}, CKR_ARGUMENTS_BAD},
        {"new public key for generation",
         KEY_USAGE_CREATE,
         verifier.object,
         {CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0},
         CKR_OK},
        {"new session private key",
         KEY_USAGE_CREATE,
         sessionSigner.object,
         {CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0},
         CKR_TEMPLATE_INCONSISTENT},
        {"new derived key, short parameter",
         KEY_USAGE_CREATE,
         wrapper.object,
         {CKM_DSTU4145_DERIVE_EXT, shortParameter, sizeof(shortParameter)},
         CKR_MECHANISM_PARAM_INVALID},
        {"new derived key of the other type",
         KEY_USAGE_CREATE,
         wrapper.object,
         {CKM_DSTU4145_DERIVE_EXT, &derive, sizeof(derive)},
         CKR_KEY_TYPE_INCONSISTENT},
    };
    for (Case& c : cases) {
        std::uint32_t access = 0;
        EXPECT_EQ(CheckKeyUsageRules(c.kind, c.key, &c.mechanism, &access), c.expected) << c.name;
        if (c.expected == CKR_OK) {
            EXPECT_EQ(access, c.kind == KEY_USAGE_CREATE ? ACCESS_WRITE : ACCESS_READ) << c.name;
        }
    }
}

TEST(TokenStorageRecords, RecordsOfAnAreaAndDamagedOnes)
{
    const Bytes area{0x1F, 0xFF, 0, 0, 0, 1, 'a', 0x1F, 0xFF, 0, 0, 0, 0};
    std::vector<ObjectRecordSpan> spans;
    ASSERT_EQ(SplitObjectRecords(area.data(), area.size(), 0, &spans), CKR_OK);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[1].offset, 7u);
    EXPECT_EQ(spans[1].length, 6u);
    struct Case {
        const char* name;
        Bytes bytes;
    } damaged[] = {
        {"no mark", {0x1F, 0xFE, 0, 0, 0, 0}},
        {"short header", {0x1F, 0xFF, 0, 0}},
        {"length past the end", {0x1F, 0xFF, 0, 0, 0, 2, 'a'}},
        {"length that wraps", {0x1F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFC, 'a', 'b'}},
        {"trailing byte", {0x1F, 0xFF, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : damaged) {
        EXPECT_EQ(SplitObjectRecords(c.bytes.data(), c.bytes.size(), 0, &spans), CKR_DEVICE_MEMORY) << c.name;
        EXPECT_TRUE(spans.empty()) << c.name;
    }
}
