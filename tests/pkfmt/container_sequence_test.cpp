// The calls the key-media library makes for key containers, in their order
// and with their arguments, driven against the stand-in: the container it
// synthesises for the keys on the key, the compact wrapped form of a stored
// container, and unwrapping it again. The client code below follows that
// sequence step by step; the checks are on what comes back.
#include <string>

#include "pkfmt_fixture.h"
#include "support/CSPParameters.h"

using namespace pkfmttest;

namespace {

const char kContainerPassword[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";
const char kUserPassword[] = "user-password";

struct Failed : std::runtime_error {
    explicit Failed(const std::string& step) : std::runtime_error(step) {}
};

void Check(int rc, const char* step)
{
    if (rc != PKI_OK) throw Failed(std::string(step) + " answered " + std::to_string(rc));
}

Bytes SBox0()
{
    CSPParameters standard;
    GOST28147PackedSBox sBox;
    standard.GetStandardSBox(0, &sBox);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&sBox);
    return Bytes(p, p + PKI_SBOX_BYTES);
}

Bytes BuiltInBlock()
{
    Bytes block(PKI_BUILTIN_PARAMETER_BLOCK_BYTES);
    PKIBuiltInParameterBlock(block.data());
    return block;
}

Bytes CustomSBox(std::uint8_t seed)
{
    Bytes s = SBox0();
    for (auto& b : s) b = static_cast<std::uint8_t>(b ^ seed);
    return s;
}

class KeyContainerSequence : public PkfmtTest {
protected:
    // ---- the key-media side of the sequence ----

    bool IsWrapped(const Bytes& data)
    {
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(data);
        std::uint32_t count = 0;
        if (container->Decode(&in) != PKI_OK || container->GetItemCount(&count) != PKI_OK || count == 0) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            Obj<IPKIObject> item;
            Check(container->GetItem(i, item.out()), "container op 6");
            auto attributes = Query<IPKIItemAttributes>(item, PKI_IID_ITEM_ATTRIBUTES);
            Blob value(pki_);
            if (attributes->GetAttribute(PKI_OID_WRAPPED_RECORD, &value) == PKI_OK) return true;
        }
        return false;
    }

    // Opens an entry with the kept password, then with the container
    // password, which then becomes the kept password.
    Obj<IPKIKey> OpenContainer(std::string& password, const Obj<IPKIPrivateKey>& entry)
    {
        Obj<IPKIObject> opened;
        if (entry->Open(password.c_str(), opened.out()) != PKI_OK &&
            entry->OpenConverted(password.c_str(), opened.out()) != PKI_OK) {
            if (password == kContainerPassword) throw Failed("no password opens the entry");
            Check(entry->Open(kContainerPassword, opened.out()), "entry op 6 with the container password");
            password = kContainerPassword;
        }
        return Query<IPKIKey>(opened, PKI_IID_KEY);
    }

    Obj<IPKIKeySet> CollectKeys(std::string& password, const Bytes& data)
    {
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_READER);
        PKIBlob in = In(data);
        Check(container->Decode(&in), "reader op 4");
        std::uint32_t bags = 0;
        Check(container->GetItemCount(&bags), "reader op 5");
        if (bags == 0) throw Failed("no bags");
        auto set = Make<IPKIKeySet>(PKI_CLASS_KEY, PKI_IID_KEY_SET);
        std::uint32_t protection = 0;
        Check(container->GetProtectionValue(&protection), "reader op 19");
        if (protection != 0) {
            Bytes value = {static_cast<std::uint8_t>(protection), static_cast<std::uint8_t>(protection >> 8),
                           static_cast<std::uint8_t>(protection >> 16), static_cast<std::uint8_t>(protection >> 24)};
            PKIBlob v = In(value);
            Check(set->SetValue(PKI_KEYSET_PROTECTION_VALUE, &v), "key set op 58");
        }
        for (std::uint32_t b = 0; b < bags; ++b) {
            Obj<IPKIEntryList> bag;
            Check(container->GetItem(b, bag.out()), "reader op 6");
            std::uint32_t entries = 0;
            Check(bag->GetEntryCount(&entries), "bag op 5");
            for (std::uint32_t e = 0; e < entries; ++e) {
                Obj<IPKIPrivateKey> entry;
                Blob attribute(pki_);
                Check(bag->GetEntry(e, entry.out(), &attribute), "bag op 6");
                auto key = OpenContainer(password, entry);
                Check(set->AddKey(key.get(), &attribute), "key set op 47");
            }
            const std::pair<const char*, std::uint32_t> attributes[] = {
                {PKI_OID_CONTAINER_ATTRIBUTE_1, PKI_KEYSET_ATTRIBUTE_1},
                {PKI_OID_CONTAINER_ATTRIBUTE_2, PKI_KEYSET_ATTRIBUTE_2},
                {PKI_OID_WRAPPED_RECORD, PKI_KEYSET_WRAPPED_ATTRIBUTES}};
            for (const auto& [oid, id] : attributes) {
                Blob value(pki_);
                if (container->GetItemAttribute(password.c_str(), bag.get(), oid, &value) == PKI_OK)
                    Check(set->SetValue(id, &value), "key set op 58");
            }
        }
        return set;
    }

    std::uint32_t ProtectionValue(const Obj<IPKIKeySet>& set)
    {
        Blob value(pki_);
        if (set->GetValue(PKI_KEYSET_PROTECTION_VALUE, &value) != PKI_OK || value.blob.length != 4) return 0;
        const std::uint8_t* p = value.blob.data;
        return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    }

    void AddEntry(const Obj<IPKIEntryList>& list, const Obj<IPKIKey>& key, std::uint32_t protection,
                  const std::string& password, const PKIBlob& attribute)
    {
        auto entry = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY_FROM_SET);
        if (protection != 0) Check(entry->SetProtectionValue(protection), "entry op 13");
        Check(entry->SetFormat(1), "entry op 12");
        Check(entry->SetKey(key.get(), password.c_str()), "entry op 5");
        Obj<IPKIAttribute> attributeObject;
        if (attribute.data != nullptr) {
            attributeObject = Make<IPKIAttribute>(PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE);
            Check(attributeObject->SetValue(attribute.data, attribute.length), "attribute op 6");
        }
        Check(list->AddEntry(entry.get(), attributeObject.get()), "list op 7");
    }

    void AddAttribute(const Obj<IPKIEntryList>& list, std::uint32_t protection, const std::string& password,
                      const char* oid, PKIBlob* block)
    {
        auto adder = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_READER);
        if (protection != 0) Check(adder->SetProtectionValue(protection), "reader op 20");
        Check(adder->AddItemAttribute(password.c_str(), list.get(), oid, block), "reader op 22");
    }

    // The key's value and parameters from whichever form it holds; true for
    // the encoded form.
    bool GetValue(const Obj<IPKIKey>& key, Blob& value, Obj<IPKIParameters>& parameters)
    {
        const int rc = key->GetKeyValue(&value, parameters.out());
        if (rc != PKI_E_ENCODED_BLOCK) {
            Check(rc, "key op 7");
            return false;
        }
        Check(Query<IPKIEncodedKey>(key, PKI_IID_ENCODED_KEY)->GetEncodedKeyValue(&value, parameters.out()),
              "encoded key op 61");
        return true;
    }

    // The key with its parameters in the compact form: a standard curve
    // number or the name of a built-in set.
    Obj<IPKIKey> CompactKey(const Obj<IPKIKey>& key)
    {
        Blob value(pki_);
        Obj<IPKIParameters> parameters;
        const bool encoded = GetValue(key, value, parameters);
        Obj<IPKIParameters> compact;
        DSTU4145FieldRecord field;
        DSTU4145PointRecord point;
        Bytes sBox(PKI_SBOX_BYTES);
        const int rc = parameters->GetParameters(&field, &point, sBox.data());
        if (rc == PKI_E_ENCODED_BLOCK) {
            Blob block(pki_);
            Check(Query<IPKIParameters>(parameters, PKI_IID_ENCODED_PARAMETERS)->GetBlock(&block), "block op 13");
            if (block.bytes() != BuiltInBlock()) throw Failed("block cannot be compacted");
            compact = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_NAMED_PARAMETERS);
            Check(compact->SetName(PKI_OID_BUILTIN_PARAMETER_BLOCK, nullptr), "named op 12");
        } else {
            Check(rc, "parameters op 5");
            const std::uint8_t* ownSBox = sBox == SBox0() ? nullptr : sBox.data();
            CSPParameters standard;
            for (unsigned i = 0; !compact && i < CSP_STANDARD_POLYNOMIAL_CURVES; ++i) {
                DSTU4145FieldRecord f;
                DSTU4145PointRecord p;
                standard.GetStandardCurve(1, i, &f, &p);
                if (std::memcmp(&f, &field, sizeof f) == 0 && std::memcmp(&p, &point, sizeof p) == 0) {
                    compact = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
                    Check(compact->SetStandard(1, i, ownSBox), "parameters op 8");
                }
            }
            DSTU4145FieldRecord f;
            DSTU4145PointRecord p;
            PKIBuiltInCurve(&f, &p);
            if (!compact && std::memcmp(&f, &field, sizeof f) == 0 && std::memcmp(&p, &point, sizeof p) == 0) {
                compact = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_NAMED_PARAMETERS);
                Check(compact->SetName(PKI_OID_BUILTIN_CURVE, ownSBox), "named op 12");
            }
            if (!compact) throw Failed("parameters cannot be compacted");
        }
        auto result = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
        if (encoded)
            Check(Query<IPKIEncodedKey>(result, PKI_IID_ENCODED_KEY)->SetEncodedKeyValue(&value, compact.get()),
                  "encoded key op 62");
        else
            Check(result->SetKeyValue(&value, compact.get()), "key op 8");
        CopyOwnSBox(key, result);
        return result;
    }

    void CopyOwnSBox(const Obj<IPKIKey>& from, const Obj<IPKIKey>& to)
    {
        Bytes keySBox(PKI_SBOX_BYTES);
        int rc = from->GetSBox(keySBox.data());
        if (rc == PKI_OK && keySBox != SBox0())
            Check(to->SetSBox(keySBox.data()), "key op 44");
        else if (rc != PKI_OK && rc != PKI_E_ABSENT)
            Check(rc, "key op 43");
    }

    // The inverse for keys whose parameters are named.
    Obj<IPKIKey> ExpandKey(const Obj<IPKIKey>& key)
    {
        Blob value(pki_);
        Obj<IPKIParameters> parameters;
        GetValue(key, value, parameters);
        Obj<IPKIParameters> named;
        if (parameters->QueryInterface(PKI_IID_NAMED_PARAMETERS, named.out()) != PKI_OK)
            return Query<IPKIKey>(key, PKI_IID_KEY);
        Blob name(pki_);
        Check(named->GetName(&name), "named op 11");
        const std::string oid(reinterpret_cast<const char*>(name.blob.data), name.blob.length);
        Bytes keySBox(PKI_SBOX_BYTES);
        const bool ownSBox = key->GetSBox(keySBox.data()) == PKI_OK;
        auto result = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
        if (oid == PKI_OID_BUILTIN_CURVE) {
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            PKIBuiltInCurve(&field, &point);
            auto expanded = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
            Check(expanded->SetExplicit(&field, &point, ownSBox && keySBox != SBox0() ? keySBox.data() : nullptr),
                  "parameters op 7");
            Check(result->SetKeyValue(&value, expanded.get()), "key op 8");
        } else if (oid == PKI_OID_BUILTIN_PARAMETER_BLOCK) {
            auto expanded = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_ENCODED_PARAMETERS);
            Bytes block = BuiltInBlock();
            PKIBlob b = In(block);
            Check(expanded->SetBlock(&b), "block op 14");
            Check(Query<IPKIEncodedKey>(result, PKI_IID_ENCODED_KEY)->SetEncodedKeyValue(&value, expanded.get()),
                  "encoded key op 62");
        } else {
            return Query<IPKIKey>(key, PKI_IID_KEY);
        }
        if (ownSBox) Check(result->SetSBox(keySBox.data()), "key op 44");
        return result;
    }

    Bytes Encode(const Obj<IPKIEntryList>& list, std::uint32_t protection, const std::string* password)
    {
        auto writer = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_WRITER);
        Check(writer->AddItem(list.get()), "writer op 7");
        if (password != nullptr) {
            if (protection != 0) Check(writer->SetProtectionValue(protection), "writer op 20");
            Check(writer->SetPassword(PKI_PROTECT_WITH_PASSWORD, password->c_str()), "writer op 15");
        }
        Blob out(pki_);
        Check(writer->Encode(&out), "writer op 3");
        return out.bytes();
    }

    Bytes Wrap(std::string& password, const Bytes& data)
    {
        auto set = CollectKeys(password, data);
        const std::uint32_t protection = ProtectionValue(set);
        std::uint32_t keys = 0;
        Check(set->GetKeyCount(&keys), "key set op 46");
        if (keys == 0) throw Failed("no keys");
        auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        for (std::uint32_t i = 0; i < keys; ++i) {
            Obj<IPKIObject> item;
            Blob attribute(pki_);
            Check(set->GetKey(i, item.out(), &attribute), "key set op 48");
            auto key = Query<IPKIKey>(item, PKI_IID_KEY);
            AddEntry(list, CompactKey(key), protection, password, attribute.blob);
        }
        // Packed list {u16 tag, u16 length, bytes} of values 6 and 7.
        Bytes packed;
        for (std::uint32_t tag : {PKI_KEYSET_ATTRIBUTE_1, PKI_KEYSET_ATTRIBUTE_2}) {
            Blob value(pki_);
            if (set->GetValue(tag, &value) != PKI_OK) continue;
            packed.insert(packed.end(),
                          {static_cast<std::uint8_t>(tag), 0, static_cast<std::uint8_t>(value.blob.length),
                           static_cast<std::uint8_t>(value.blob.length >> 8)});
            Bytes v = value.bytes();
            packed.insert(packed.end(), v.begin(), v.end());
        }
        Blob block(pki_);
        Check(pki_->AllocateBlob(&block, static_cast<std::uint32_t>(packed.size())), "interface op 6");
        if (!packed.empty()) std::memcpy(block.blob.data, packed.data(), packed.size());
        AddAttribute(list, protection, password, PKI_OID_WRAPPED_RECORD, &block);
        return Encode(list, protection, nullptr);
    }

    Bytes Unwrap(std::string& password, const Bytes& data)
    {
        auto set = CollectKeys(password, data);
        const std::uint32_t protection = ProtectionValue(set);
        std::uint32_t keys = 0;
        Check(set->GetKeyCount(&keys), "key set op 46");
        auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        for (std::uint32_t i = 0; i < keys; ++i) {
            Obj<IPKIObject> item;
            Blob attribute(pki_);
            Check(set->GetKey(i, item.out(), &attribute), "key set op 48");
            AddEntry(list, ExpandKey(Query<IPKIKey>(item, PKI_IID_KEY)), protection, password, attribute.blob);
        }
        Blob packed(pki_);  // an empty list is kept as no value
        set->GetValue(PKI_KEYSET_WRAPPED_ATTRIBUTES, &packed);
        const Bytes p = packed.bytes();
        for (std::size_t at = 0; at < p.size();) {
            if (p.size() - at < 4) throw Failed("packed list overrun");
            std::uint16_t tag = p[at] | (p[at + 1] << 8), length = p[at + 2] | (p[at + 3] << 8);
            if (p.size() - at - 4 < length || (tag != 6 && tag != 7)) throw Failed("bad packed item");
            PKIBlob value{length, const_cast<std::uint8_t*>(p.data() + at + 4)};
            AddAttribute(list, protection, password,
                         tag == 6 ? PKI_OID_CONTAINER_ATTRIBUTE_1 : PKI_OID_CONTAINER_ATTRIBUTE_2, &value);
            at += 4 + length;
        }
        return Encode(list, protection, &password);
    }

    // The container synthesised for the public keys on the key.
    Bytes BuildKeyContainerRecord(const std::vector<Bytes>& publicKeys)
    {
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        CSPParameters standard;
        for (const Bytes& publicKey : publicKeys) {
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            standard.GetStandardCurve(1, 0, &field, &point);
            auto key = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
            auto parameters = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
            Bytes sBox = SBox0();
            Check(parameters->SetExplicit(&field, &point, sBox.data()), "parameters op 7");
            PKIBlob value = In(publicKey);
            Check(key->SetKeyValue(&value, parameters.get()), "key op 8");
            auto entry = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
            Check(entry->SetFormat(1), "entry op 12");
            Check(entry->SetKey(key.get(), kContainerPassword), "entry op 5");
            Check(list->AddEntry(entry.get(), nullptr), "list op 7");
        }
        Check(container->AddItem(list.get()), "container op 7");
        Check(container->SetPassword(1, kContainerPassword), "container op 15");
        Blob out(pki_);
        Check(container->Encode(&out), "container op 3");
        Bytes bytes = out.bytes();
        out.Free();  // interface op 7
        return bytes;
    }

    // ---- a container as a user's program writes it ----

    struct UserKey {
        Bytes value;
        enum { Standard0, BuiltInCurve, BuiltInBlock } parameters;
        Bytes parameterSBox, keySBox;  // empty: none of its own
        Bytes attribute;
    };

    Bytes UserContainer(const std::vector<UserKey>& keys, const char* password, std::uint32_t protection)
    {
        auto list = Make<IPKIEntryList>(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST);
        for (const UserKey& k : keys) {
            auto parameters = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
            const std::uint8_t* pSBox = k.parameterSBox.empty() ? nullptr : k.parameterSBox.data();
            if (k.parameters == UserKey::Standard0) {
                Check(parameters->SetStandard(1, 0, pSBox), "set standard");
            } else if (k.parameters == UserKey::BuiltInCurve) {
                DSTU4145FieldRecord field;
                DSTU4145PointRecord point;
                PKIBuiltInCurve(&field, &point);
                Check(parameters->SetExplicit(&field, &point, pSBox), "set explicit");
            } else {
                Bytes block = BuiltInBlock();
                PKIBlob b = In(block);
                Check(parameters->SetBlock(&b), "set block");
            }
            auto key = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
            PKIBlob value = In(k.value);
            Check(key->SetKeyValue(&value, parameters.get()), "set key");
            if (!k.keySBox.empty()) Check(key->SetSBox(k.keySBox.data()), "set key S-box");
            PKIBlob attribute = k.attribute.empty() ? PKIBlob{0, nullptr} : In(k.attribute);
            AddEntry(list, key, protection, password, attribute);
        }
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        const Bytes alpha = {'a', 'l', 'p', 'h', 'a'}, beta = {'b', 'e', 't', 'a'};
        PKIBlob a = In(alpha), b = In(beta);
        Check(container->AddItemAttribute(password, list.get(), PKI_OID_CONTAINER_ATTRIBUTE_1, &a), "attribute 1");
        Check(container->AddItemAttribute(password, list.get(), PKI_OID_CONTAINER_ATTRIBUTE_2, &b), "attribute 2");
        Check(container->AddItem(list.get()), "add list");
        Check(container->SetProtectionValue(protection), "protection value");
        Check(container->SetPassword(PKI_PROTECT_WITH_PASSWORD, password), "password");
        Blob out(pki_);
        Check(container->Encode(&out), "encode");
        return out.bytes();
    }

    // What a reader finds in entry i: the key opened with the password.
    Obj<IPKIKey> OpenEntry(const Bytes& data, std::uint32_t i, const char* password, Bytes* attribute)
    {
        auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
        PKIBlob in = In(data);
        Check(container->Decode(&in), "decode");
        Obj<IPKIEntryList> list;
        Check(container->GetItem(0, list.out()), "item");
        Obj<IPKIPrivateKey> entry;
        Blob a(pki_);
        Check(list->GetEntry(i, entry.out(), &a), "entry");
        *attribute = a.bytes();
        Obj<IPKIKey> key;
        Check(entry->Open(password, key.out()), "open");
        return key;
    }
};

TEST_F(KeyContainerSequence, WrapsAndUnwrapsAStoredSignatureKeyContainer)
{
    const std::vector<UserKey> keys = {
        {Pattern(32, 0x11), UserKey::Standard0, {}, {}, {'s', 'i', 'g'}},
        {Pattern(72, 0x22), UserKey::BuiltInCurve, CustomSBox(0x5A), CustomSBox(0xA5), {}},
        {Pattern(104, 0x33), UserKey::BuiltInBlock, {}, {}, {'b'}},
    };
    const Bytes stored = UserContainer(keys, kUserPassword, 3);
    EXPECT_FALSE(IsWrapped(stored));

    std::string password = kUserPassword;
    const Bytes wrapped = Wrap(password, stored);
    EXPECT_EQ(password, kUserPassword);
    EXPECT_TRUE(IsWrapped(wrapped));

    // The wrapped form names the curves instead of spelling them out.
    {
        Bytes attribute;
        auto key = OpenEntry(wrapped, 0, kUserPassword, &attribute);
        Blob value(pki_);
        Obj<IPKIParameters> parameters;
        ASSERT_EQ(key->GetKeyValue(&value, parameters.out()), PKI_OK);
        Obj<IPKIParameters> named;
        EXPECT_EQ(parameters->QueryInterface(PKI_IID_NAMED_PARAMETERS, named.out()), PKI_E_NO_INTERFACE);
        auto second = OpenEntry(wrapped, 1, kUserPassword, &attribute);
        value.Free();
        ASSERT_EQ(second->GetKeyValue(&value, parameters.out()), PKI_OK);
        auto name = Query<IPKIParameters>(parameters, PKI_IID_NAMED_PARAMETERS);
        Blob oid(pki_);
        ASSERT_EQ(name->GetName(&oid), PKI_OK);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(oid.blob.data)), PKI_OID_BUILTIN_CURVE);
    }

    const Bytes unwrapped = Unwrap(password, wrapped);
    EXPECT_FALSE(IsWrapped(unwrapped));

    auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
    PKIBlob in = In(unwrapped);
    ASSERT_EQ(container->Decode(&in), PKI_OK);
    EXPECT_EQ(container->CheckPassword(kUserPassword), PKI_OK);
    EXPECT_EQ(container->CheckPassword("not the password"), PKI_E_WRONG_PASSWORD);
    std::uint32_t protection = 0;
    EXPECT_EQ(container->GetProtectionValue(&protection), PKI_OK);
    EXPECT_EQ(protection, 3u);
    Obj<IPKIEntryList> list;
    ASSERT_EQ(container->GetItem(0, list.out()), PKI_OK);
    for (const auto& [oid, expected] :
         {std::pair<const char*, Bytes>{PKI_OID_CONTAINER_ATTRIBUTE_1, {'a', 'l', 'p', 'h', 'a'}},
          std::pair<const char*, Bytes>{PKI_OID_CONTAINER_ATTRIBUTE_2, {'b', 'e', 't', 'a'}}}) {
        Blob value(pki_);
        ASSERT_EQ(container->GetItemAttribute(kUserPassword, list.get(), oid, &value), PKI_OK) << oid;
        EXPECT_EQ(value.bytes(), expected) << oid;
    }

    for (std::uint32_t i = 0; i < keys.size(); ++i) {
        SCOPED_TRACE(i);
        Bytes attribute;
        EXPECT_THROW(OpenEntry(unwrapped, i, "wrong", &attribute), Failed);
        auto key = OpenEntry(unwrapped, i, kUserPassword, &attribute);
        EXPECT_EQ(attribute, keys[i].attribute);
        Blob value(pki_);
        Obj<IPKIParameters> parameters;
        int rc = key->GetKeyValue(&value, parameters.out());
        if (keys[i].parameters == UserKey::BuiltInBlock) {
            EXPECT_EQ(rc, PKI_E_ENCODED_BLOCK);
            ASSERT_EQ(Query<IPKIEncodedKey>(key, PKI_IID_ENCODED_KEY)->GetEncodedKeyValue(&value, parameters.out()),
                      PKI_OK);
            Blob block(pki_);
            ASSERT_EQ(Query<IPKIParameters>(parameters, PKI_IID_ENCODED_PARAMETERS)->GetBlock(&block), PKI_OK);
            EXPECT_EQ(block.bytes(), BuiltInBlock());
        } else {
            ASSERT_EQ(rc, PKI_OK);
            DSTU4145FieldRecord field, expectedField;
            DSTU4145PointRecord point, expectedPoint;
            ASSERT_EQ(parameters->GetParameters(&field, &point, nullptr), PKI_OK);
            if (keys[i].parameters == UserKey::Standard0) {
                CSPParameters().GetStandardCurve(1, 0, &expectedField, &expectedPoint);
            } else {
                PKIBuiltInCurve(&expectedField, &expectedPoint);
                // Explicit again, no longer named.
                Obj<IPKIParameters> named;
                EXPECT_EQ(parameters->QueryInterface(PKI_IID_NAMED_PARAMETERS, named.out()), PKI_E_NO_INTERFACE);
            }
            EXPECT_EQ(std::memcmp(&field, &expectedField, sizeof field), 0);
            EXPECT_EQ(std::memcmp(&point, &expectedPoint, sizeof point), 0);
        }
        EXPECT_EQ(value.bytes(), keys[i].value);
        Bytes keySBox(PKI_SBOX_BYTES);
        if (keys[i].keySBox.empty()) {
            EXPECT_EQ(key->GetSBox(keySBox.data()), PKI_E_ABSENT);
        } else {
            ASSERT_EQ(key->GetSBox(keySBox.data()), PKI_OK);
            EXPECT_EQ(keySBox, keys[i].keySBox);
        }
    }
}

TEST_F(KeyContainerSequence, WrongPasswordStopsWrapping)
{
    const Bytes stored = UserContainer({{Pattern(32, 1), UserKey::Standard0, {}, {}, {}}}, kUserPassword, 2);
    std::string password = "someone else";
    EXPECT_THROW(Wrap(password, stored), Failed);
    EXPECT_EQ(password, "someone else");
}

TEST_F(KeyContainerSequence, SynthesisedContainerOpensWithTheContainerPassword)
{
    const Bytes signaturePublicKey = Pattern(76, 0x44);
    const Bytes record = BuildKeyContainerRecord({signaturePublicKey});

    auto container = Make<IPKIKeyContainer>(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER);
    PKIBlob in = In(record);
    ASSERT_EQ(container->Decode(&in), PKI_OK);
    EXPECT_EQ(container->CheckPassword(kContainerPassword), PKI_OK);
    Obj<IPKIEntryList> list;
    ASSERT_EQ(container->GetItem(0, list.out()), PKI_OK);
    std::uint32_t entries = 0;
    EXPECT_EQ(list->GetEntryCount(&entries), PKI_OK);
    EXPECT_EQ(entries, 1u);

    // Wrapping it with the device's password falls back to the container
    // password, which becomes the kept one.
    std::string password = kUserPassword;
    const Bytes wrapped = Wrap(password, record);
    EXPECT_EQ(password, kContainerPassword);
    const Bytes unwrapped = Unwrap(password, wrapped);
    Bytes attribute;
    auto key = OpenEntry(unwrapped, 0, kContainerPassword, &attribute);
    EXPECT_EQ(KeyValue(key), signaturePublicKey);
}

}  // namespace
