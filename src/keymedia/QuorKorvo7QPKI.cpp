#include "keymedia/QuorKorvo7QPKI.h"
#include "crypto/SecureWipe.h"

#include <cstring>
#include <utility>
#include <vector>

#include "keymedia/KMDevice.h"
#include "keymedia/Library.h"
#include "support/CSPParameters.h"
#include "support/ICSPHardware.h"
#include "support/PKIInterface.h"

const char KM_WRAPPED_RECORD_OID[] = PKI_OID_WRAPPED_RECORD;
const char KM_CONTAINER_PASSWORD[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";

namespace {

constexpr std::size_t kMaxPassword = KM_PASSWORD_BUFFER - 1;

// Tags of the packed attribute list carried by a wrapped record.
constexpr std::uint16_t kTagAttribute1 = 6;
constexpr std::uint16_t kTagAttribute2 = 7;

IPKIInterface* Interface()
{
    return static_cast<IPKIInterface*>(qvkkm::PKIFormatsInterface());
}

using qvkcrypto::SecureWipe;
inline void Wipe(void* data, std::size_t length)
{
    SecureWipe(data, length);
}

// One reference to an object of the formats library, dropped at scope end.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() { Reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    void Reset()
    {
        if (raw_ != nullptr) static_cast<IPKIObject*>(static_cast<T*>(raw_))->Release();
        raw_ = nullptr;
    }
    void** Out()
    {
        Reset();
        return &raw_;
    }
    T* Get() const { return static_cast<T*>(raw_); }
    T* operator->() const { return Get(); }
    explicit operator bool() const { return raw_ != nullptr; }
    IPKIObject* Object() const { return static_cast<IPKIObject*>(Get()); }
    // Hands the reference over to the caller.
    void* Detach()
    {
        void* p = raw_;
        raw_ = nullptr;
        return p;
    }

private:
    void* raw_ = nullptr;
};

// A block allocated by the formats library; wiped and handed back at scope end.
class Blob {
public:
    explicit Blob(IPKIInterface* pki) : pki_(pki) {}
    ~Blob() { Reset(); }
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;
    void Reset()
    {
        if (blob_.data != nullptr) {
            Wipe(blob_.data, blob_.length);
            pki_->FreeBlob(&blob_);
        }
        blob_ = PKIBlob{0, nullptr};
    }
    PKIBlob* Out()
    {
        Reset();
        return &blob_;
    }
    const PKIBlob* Get() const { return &blob_; }
    std::uint32_t Length() const { return blob_.length; }
    std::uint8_t* Data() const { return blob_.data; }
    bool Empty() const { return blob_.data == nullptr || blob_.length == 0; }
    PKIBlob Detach()
    {
        PKIBlob out = blob_;
        blob_ = PKIBlob{0, nullptr};
        return out;
    }

private:
    IPKIInterface* pki_;
    PKIBlob blob_{0, nullptr};
};

PKIBlob ConstBlob(const std::uint8_t* data, std::uint32_t length)
{
    return PKIBlob{length, const_cast<std::uint8_t*>(data)};
}

template <class T>
bool Create(IPKIInterface* pki, std::uint32_t classId, std::uint32_t interfaceId, Ref<T>& out)
{
    return pki->CreateObject(classId, interfaceId, out.Out()) == PKI_OK && out;
}

template <class T, class From>
bool Query(const Ref<From>& from, std::uint32_t interfaceId, Ref<T>& out)
{
    return from.Object()->QueryInterface(interfaceId, out.Out()) == PKI_OK && out;
}

bool IsStandardSBox0(const std::uint8_t* sBox)
{
    GOST28147PackedSBox standard;
    CSPParameters parameters;
    if (parameters.GetStandardSBox(0, &standard) == 0) return false;
    static_assert(sizeof standard == PKI_SBOX_BYTES, "packed S-box is 64 bytes");
    return std::memcmp(&standard, sBox, PKI_SBOX_BYTES) == 0;
}

bool StandardSBox0(std::uint8_t* out)
{
    GOST28147PackedSBox standard;
    CSPParameters parameters;
    if (parameters.GetStandardSBox(0, &standard) == 0) return false;
    std::memcpy(out, &standard, PKI_SBOX_BYTES);
    return true;
}

bool BlobIsText(const Blob& blob, const char* text)
{
    std::size_t length = std::strlen(text);
    return blob.Data() != nullptr && blob.Length() == length && std::memcmp(blob.Data(), text, length) == 0;
}

// Protection value and password an entry is written with.
struct EntryProtection {
    std::uint32_t value;
    const char* password;
};

// A container entry for `key` (with its attribute bytes, if any), appended to
// the list.
bool AddEntry(IPKIInterface* pki, IPKIEntryList* list, IPKIObject* key, const PKIBlob* attribute,
              const EntryProtection& protection)
{
    Ref<IPKIPrivateKey> entry;
    if (!Create(pki, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY_FROM_SET, entry)) return false;
    if (protection.value != 0 && entry->SetProtectionValue(protection.value) != PKI_OK) return false;
    if (entry->SetFormat(1) != PKI_OK || entry->SetKey(key, protection.password) != PKI_OK) return false;
    Ref<IPKIAttribute> attributeObject;
    if (attribute != nullptr && attribute->data != nullptr && attribute->length != 0) {
        if (!Create(pki, PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE, attributeObject) ||
            attributeObject->SetValue(attribute->data, attribute->length) != PKI_OK)
            return false;
    }
    return list->AddEntry(entry.Object(), attributeObject.Object()) == PKI_OK;
}

// Marks the list with attribute `oid` through a container reader.
bool AddAttribute(IPKIInterface* pki, IPKIEntryList* list, std::uint32_t protectionValue, const char* password,
                  const char* oid, const PKIBlob* value)
{
    Ref<IPKIKeyContainer> reader;
    if (!Create(pki, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_READER, reader)) return false;
    if (protectionValue != 0 && reader->SetProtectionValue(protectionValue) != PKI_OK) return false;
    return reader->AddItemAttribute(password, static_cast<IPKIObject*>(list), oid, value) == PKI_OK;
}

// Encodes the list as a container, protected by `password` when given.
bool EncodeEntries(IPKIInterface* pki, IPKIEntryList* list, std::uint32_t protectionValue, const char* password,
                   Blob& out)
{
    Ref<IPKIKeyContainer> writer;
    if (!Create(pki, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_WRITER, writer)) return false;
    if (writer->AddItem(static_cast<IPKIObject*>(list)) != PKI_OK) return false;
    if (password != nullptr) {
        if (protectionValue != 0 && writer->SetProtectionValue(protectionValue) != PKI_OK) return false;
        if (writer->SetPassword(PKI_PROTECT_WITH_PASSWORD, password) != PKI_OK) return false;
    }
    return writer->Encode(out.Out()) == PKI_OK && out.Data() != nullptr;
}

// The key's value and parameter object, whichever form the key holds them in.
bool ReadKeyValue(IPKIKey* key, Blob& value, Ref<IPKIParameters>& parameters, bool* encoded)
{
    int result = key->GetKeyValue(value.Out(), parameters.Out());
    *encoded = false;
    if (result == PKI_E_ENCODED_BLOCK) {
        Ref<IPKIEncodedKey> encodedKey;
        if (static_cast<IPKIObject*>(key)->QueryInterface(PKI_IID_ENCODED_KEY, encodedKey.Out()) != PKI_OK ||
            !encodedKey)
            return false;
        *encoded = true;
        result = encodedKey->GetEncodedKeyValue(value.Out(), parameters.Out());
    }
    return result == PKI_OK && parameters;
}

// A new key object holding `value` with `parameters`.
bool MakeKey(IPKIInterface* pki, const Blob& value, IPKIParameters* parameters, bool encoded, Ref<IPKIKey>& out)
{
    if (!Create(pki, PKI_CLASS_KEY, PKI_IID_KEY, out)) return false;
    if (!encoded) return out->SetKeyValue(value.Get(), static_cast<IPKIObject*>(parameters)) == PKI_OK;
    Ref<IPKIEncodedKey> encodedKey;
    return Query(out, PKI_IID_ENCODED_KEY, encodedKey) &&
           encodedKey->SetEncodedKeyValue(value.Get(), static_cast<IPKIObject*>(parameters)) == PKI_OK;
}

// The key's S-box of its own: 1 with it in sBox, 0 without one, -1 on failure.
int KeyOwnSBox(IPKIKey* key, std::uint8_t* sBox)
{
    int result = key->GetSBox(sBox);
    if (result == PKI_OK) return 1;
    return result == PKI_E_ABSENT ? 0 : -1;
}

// Wrapping: the key with its parameters in the compact form (a standard
// curve number or a built-in name).
bool CompactKey(IPKIInterface* pki, IPKIObject* source, Ref<IPKIKey>& out)
{
    Ref<IPKIKey> key;
    if (source->QueryInterface(PKI_IID_KEY, key.Out()) != PKI_OK || !key) return false;
    Blob value(pki);
    Ref<IPKIParameters> parameters;
    bool encoded = false;
    if (!ReadKeyValue(key.Get(), value, parameters, &encoded)) return false;

    DSTU4145FieldRecord field;
    DSTU4145PointRecord point;
    std::uint8_t sBox[PKI_SBOX_BYTES];
    Ref<IPKIParameters> compact;
    int result = parameters->GetParameters(&field, &point, sBox);
    if (result == PKI_E_ENCODED_BLOCK) {
        Ref<IPKIParameters> blockParameters;
        Blob block(pki);
        std::uint8_t builtIn[PKI_BUILTIN_PARAMETER_BLOCK_BYTES];
        PKIBuiltInParameterBlock(builtIn);
        if (!Query(parameters, PKI_IID_ENCODED_PARAMETERS, blockParameters) ||
            blockParameters->GetBlock(block.Out()) != PKI_OK || block.Length() != sizeof builtIn ||
            std::memcmp(block.Data(), builtIn, sizeof builtIn) != 0)
            return false;
        if (!Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_NAMED_PARAMETERS, compact) ||
            compact->SetName(PKI_OID_BUILTIN_PARAMETER_BLOCK, nullptr) != PKI_OK)
            return false;
    } else if (result == PKI_OK) {
        const std::uint8_t* keptSBox = IsStandardSBox0(sBox) ? nullptr : sBox;
        CSPParameters curves;
        DSTU4145FieldRecord curveField;
        DSTU4145PointRecord curvePoint;
        bool named = false;
        for (unsigned i = 0; curves.GetStandardCurve(1, i, &curveField, &curvePoint) != 0; ++i) {
            if (std::memcmp(&curveField, &field, sizeof field) == 0 &&
                std::memcmp(&curvePoint, &point, sizeof point) == 0) {
                if (!Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, compact) ||
                    compact->SetStandard(1, i, keptSBox) != PKI_OK)
                    return false;
                named = true;
                break;
            }
        }
        if (!named) {
            PKIBuiltInCurve(&curveField, &curvePoint);
            if (std::memcmp(&curveField, &field, sizeof field) != 0 ||
                std::memcmp(&curvePoint, &point, sizeof point) != 0)
                return false;
            if (!Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_NAMED_PARAMETERS, compact) ||
                compact->SetName(PKI_OID_BUILTIN_CURVE, keptSBox) != PKI_OK)
                return false;
        }
        Wipe(&field, sizeof field);
        Wipe(&point, sizeof point);
    } else {
        return false;
    }

    if (!MakeKey(pki, value, compact.Get(), encoded, out)) return false;
    std::uint8_t ownSBox[PKI_SBOX_BYTES];
    int own = KeyOwnSBox(key.Get(), ownSBox);
    if (own < 0) return false;
    if (own == 1 && !IsStandardSBox0(ownSBox) && out->SetSBox(ownSBox) != PKI_OK) return false;
    return true;
}

// Unwrapping: the inverse of CompactKey; keys whose parameters are not named
// by a built-in OID are kept as they are.
bool ExpandKey(IPKIInterface* pki, IPKIObject* source, Ref<IPKIKey>& out)
{
    Ref<IPKIKey> key;
    if (source->QueryInterface(PKI_IID_KEY, key.Out()) != PKI_OK || !key) return false;
    Blob value(pki);
    Ref<IPKIParameters> parameters;
    bool encoded = false;
    if (!ReadKeyValue(key.Get(), value, parameters, &encoded)) return false;

    Ref<IPKIParameters> named;
    Blob name(pki);
    if (Query(parameters, PKI_IID_NAMED_PARAMETERS, named) && named->GetName(name.Out()) == PKI_OK) {
        Ref<IPKIParameters> expanded;
        if (BlobIsText(name, PKI_OID_BUILTIN_CURVE)) {
            // The S-box the named parameters carry (standard S-box 0 when none).
            std::uint8_t sBox[PKI_SBOX_BYTES];
            const std::uint8_t* keptSBox = nullptr;
            if (named->GetParameters(nullptr, nullptr, sBox) == PKI_OK && !IsStandardSBox0(sBox)) keptSBox = sBox;
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            PKIBuiltInCurve(&field, &point);
            if (!Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, expanded) ||
                expanded->SetExplicit(&field, &point, keptSBox) != PKI_OK)
                return false;
        } else if (BlobIsText(name, PKI_OID_BUILTIN_PARAMETER_BLOCK)) {
            std::uint8_t builtIn[PKI_BUILTIN_PARAMETER_BLOCK_BYTES];
            PKIBuiltInParameterBlock(builtIn);
            PKIBlob block = ConstBlob(builtIn, sizeof builtIn);
            if (!Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_ENCODED_PARAMETERS, expanded) ||
                expanded->SetBlock(&block) != PKI_OK)
                return false;
            encoded = true;
        }
        if (expanded) {
            if (!MakeKey(pki, value, expanded.Get(), encoded, out)) return false;
            std::uint8_t ownSBox[PKI_SBOX_BYTES];
            int own = KeyOwnSBox(key.Get(), ownSBox);
            if (own < 0) return false;
            if (own == 1 && out->SetSBox(ownSBox) != PKI_OK) return false;
            return true;
        }
    }
    out.Reset();
    *out.Out() = key.Detach();
    return true;
}

// Keys and container attributes of a container, opened with the kept
// password (or the container password, which then becomes the kept one).
bool CollectKeys(QuorKorvo7QPKI* owner, IPKIInterface* pki, char* password, const std::uint8_t* data,
                 std::uint32_t length, Ref<IPKIKeySet>& keySet)
{
    Ref<IPKIKeyContainer> container;
    if (!Create(pki, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER_READER, container)) return false;
    PKIBlob in = ConstBlob(data, length);
    std::uint32_t bags = 0;
    if (container->Decode(&in) != PKI_OK || container->GetItemCount(&bags) != PKI_OK || bags == 0) return false;
    if (!Create(pki, PKI_CLASS_KEY, PKI_IID_KEY_SET, keySet)) return false;

    std::uint32_t protectionValue = 0;
    if (container->GetProtectionValue(&protectionValue) == PKI_OK && protectionValue != 0) {
        PKIBlob value{sizeof protectionValue, reinterpret_cast<std::uint8_t*>(&protectionValue)};
        if (keySet->SetValue(PKI_KEYSET_PROTECTION_VALUE, &value) != PKI_OK) return false;
    }

    static const struct {
        const char* oid;
        std::uint32_t id;
    } kAttributes[] = {{PKI_OID_CONTAINER_ATTRIBUTE_1, PKI_KEYSET_ATTRIBUTE_1},
                       {PKI_OID_CONTAINER_ATTRIBUTE_2, PKI_KEYSET_ATTRIBUTE_2},
                       {PKI_OID_WRAPPED_RECORD, PKI_KEYSET_WRAPPED_ATTRIBUTES}};

    for (std::uint32_t b = 0; b < bags; ++b) {
        Ref<IPKIEntryList> bag;
        std::uint32_t entries = 0;
        if (container->GetItem(b, bag.Out()) != PKI_OK || !bag || bag->GetEntryCount(&entries) != PKI_OK) return false;
        for (std::uint32_t e = 0; e < entries; ++e) {
            Ref<IPKIPrivateKey> entry;
            Blob attribute(pki);
            if (bag->GetEntry(e, entry.Out(), attribute.Out()) != PKI_OK || !entry) return false;
            Ref<IPKIKey> key;
            if (owner->OpenContainer(password, entry.Get(), key.Out()) == 0 || !key) return false;
            if (keySet->AddKey(key.Object(), attribute.Get()) != PKI_OK) return false;
        }
        for (const auto& a : kAttributes) {
            Blob value(pki);
            if (container->GetItemAttribute(password, bag.Object(), a.oid, value.Out()) == PKI_OK &&
                keySet->SetValue(a.id, value.Get()) != PKI_OK)
                return false;
        }
    }
    return true;
}

std::uint32_t ProtectionValue(IPKIInterface* pki, IPKIKeySet* keySet)
{
    Blob value(pki);
    std::uint32_t protectionValue = 0;
    if (keySet->GetValue(PKI_KEYSET_PROTECTION_VALUE, value.Out()) == PKI_OK && value.Length() == 4)
        std::memcpy(&protectionValue, value.Data(), 4);
    return protectionValue;
}

void AppendItem(std::vector<std::uint8_t>& out, std::uint16_t tag, const Blob& value)
{
    std::uint16_t length = static_cast<std::uint16_t>(value.Length());
    out.push_back(static_cast<std::uint8_t>(tag));
    out.push_back(static_cast<std::uint8_t>(tag >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    out.push_back(static_cast<std::uint8_t>(length >> 8));
    out.insert(out.end(), value.Data(), value.Data() + length);
}

// Wrap (compact) or unwrap (expand) a container into *out.
bool Convert(QuorKorvo7QPKI* owner, char* password, bool wrap, const std::uint8_t* data, std::uint32_t length,
             std::uint8_t** out, std::uint32_t* outLength)
{
    IPKIInterface* pki = Interface();
    if (pki == nullptr || data == nullptr || out == nullptr || outLength == nullptr) return false;
    Ref<IPKIKeySet> keySet;
    if (!CollectKeys(owner, pki, password, data, length, keySet)) return false;
    std::uint32_t protectionValue = ProtectionValue(pki, keySet.Get());

    std::uint32_t keys = 0;
    if (keySet->GetKeyCount(&keys) != PKI_OK || keys == 0) return false;
    Ref<IPKIEntryList> list;
    if (!Create(pki, PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, list)) return false;
    EntryProtection protection{protectionValue, password};
    for (std::uint32_t i = 0; i < keys; ++i) {
        Ref<IPKIObject> source;
        Blob attribute(pki);
        if (keySet->GetKey(i, source.Out(), attribute.Out()) != PKI_OK || !source) return false;
        Ref<IPKIKey> converted;
        if (!(wrap ? CompactKey(pki, source.Get(), converted) : ExpandKey(pki, source.Get(), converted))) return false;
        if (!AddEntry(pki, list.Get(), converted.Object(), attribute.Get(), protection)) return false;
    }

    if (wrap) {
        // Container attributes 1 and 2 travel packed in the marking attribute.
        std::vector<std::uint8_t> packed;
        const std::pair<std::uint32_t, std::uint16_t> kPacked[] = {{PKI_KEYSET_ATTRIBUTE_1, kTagAttribute1},
                                                                   {PKI_KEYSET_ATTRIBUTE_2, kTagAttribute2}};
        for (const auto& [id, tag] : kPacked) {
            Blob value(pki);
            if (keySet->GetValue(id, value.Out()) == PKI_OK && value.Data() != nullptr) {
                if (value.Length() > 0xFFFF) return false;
                AppendItem(packed, tag, value);
            }
        }
        Blob block(pki);
        if (pki->AllocateBlob(block.Out(), static_cast<std::uint32_t>(packed.size())) != PKI_OK ||
            (block.Data() == nullptr && !packed.empty()))
            return false;
        if (!packed.empty()) std::memcpy(block.Data(), packed.data(), packed.size());
        if (!AddAttribute(pki, list.Get(), protectionValue, password, PKI_OID_WRAPPED_RECORD, block.Get()))
            return false;
    } else {
        Blob packed(pki);
        if (keySet->GetValue(PKI_KEYSET_WRAPPED_ATTRIBUTES, packed.Out()) == PKI_OK && packed.Data() != nullptr) {
            const std::uint8_t* p = packed.Data();
            std::uint32_t left = packed.Length();
            while (left != 0) {
                if (left < 4) return false;
                std::uint16_t tag = static_cast<std::uint16_t>(p[0] | p[1] << 8);
                std::uint16_t size = static_cast<std::uint16_t>(p[2] | p[3] << 8);
                if (size > left - 4) return false;
                const char* oid = tag == kTagAttribute1   ? PKI_OID_CONTAINER_ATTRIBUTE_1
                                  : tag == kTagAttribute2 ? PKI_OID_CONTAINER_ATTRIBUTE_2
                                                          : nullptr;
                if (oid == nullptr) return false;
                PKIBlob value = ConstBlob(p + 4, size);
                if (!AddAttribute(pki, list.Get(), protectionValue, password, oid, &value)) return false;
                p += 4 + size;
                left -= 4 + size;
            }
        }
    }

    Blob encoded(pki);
    if (!EncodeEntries(pki, list.Get(), protectionValue, wrap ? nullptr : password, encoded)) return false;
    PKIBlob result = encoded.Detach();
    *out = result.data;
    *outLength = result.length;
    return true;
}

}  // namespace

void QuorKorvo7QPKI::ClearPassword(char* buffer)
{
    Wipe(buffer, KM_PASSWORD_BUFFER);
}

void QuorKorvo7QPKI::WipePassword(char* buffer)
{
    Wipe(buffer, KM_PASSWORD_BUFFER);
}

int QuorKorvo7QPKI::SetPassword(char* buffer, const char* text)
{
    Wipe(buffer, KM_PASSWORD_BUFFER);
    if (text == nullptr) return 0;
    std::size_t length = strnlen(text, kMaxPassword + 1);
    if (length == 0 || length > kMaxPassword) return 0;
    std::memcpy(buffer, text, length);
    return 1;
}

int QuorKorvo7QPKI::IsWrappedRecord(const std::uint8_t* data, std::uint32_t length)
{
    IPKIInterface* pki = Interface();
    if (pki == nullptr || data == nullptr) return 0;
    Ref<IPKIKeyContainer> container;
    if (!Create(pki, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container)) return 0;
    PKIBlob in = ConstBlob(data, length);
    std::uint32_t items = 0;
    if (container->Decode(&in) != PKI_OK || container->GetItemCount(&items) != PKI_OK || items == 0) return 0;
    for (std::uint32_t i = 0; i < items; ++i) {
        Ref<IPKIObject> item;
        Ref<IPKIItemAttributes> attributes;
        Blob value(pki);
        if (container->GetItem(i, item.Out()) != PKI_OK || !item) continue;
        if (!Query(item, PKI_IID_ITEM_ATTRIBUTES, attributes)) continue;
        if (attributes->GetAttribute(PKI_OID_WRAPPED_RECORD, value.Out()) == PKI_OK) return 1;
    }
    return 0;
}

int QuorKorvo7QPKI::WrapRecord(const std::uint8_t* data, std::uint32_t length, std::uint8_t** out,
                               std::uint32_t* outLength)
{
    return Convert(this, password_, true, data, length, out, outLength) ? 1 : 0;
}

int QuorKorvo7QPKI::UnwrapRecord(const std::uint8_t* data, std::uint32_t length, std::uint8_t** out,
                                 std::uint32_t* outLength)
{
    return Convert(this, password_, false, data, length, out, outLength) ? 1 : 0;
}

void QuorKorvo7QPKI::ReleaseRecord(std::uint8_t* data, std::uint32_t length)
{
    IPKIInterface* pki = Interface();
    if (data == nullptr || pki == nullptr) return;
    Wipe(data, length);
    PKIBlob blob{length, data};
    pki->FreeBlob(&blob);
}

int QuorKorvo7QPKI::UnwrapRecordInto(const std::uint8_t* stored, std::uint32_t storedLength, void* data,
                                     unsigned* length)
{
    std::uint8_t* unwrapped = nullptr;
    std::uint32_t unwrappedLength = 0;
    if (UnwrapRecord(stored, storedLength, &unwrapped, &unwrappedLength) == 0) return KM_DEVICE_ERROR;
    // The caller's buffer holds what a size query reports and no more.
    int result = KM_DEVICE_ERROR;
    if (unwrappedLength <= KM_RECORD_BUFFER && length != nullptr) {
        if (data != nullptr && unwrappedLength != 0) std::memcpy(data, unwrapped, unwrappedLength);
        *length = unwrappedLength;
        result = KM_OK;
    }
    ReleaseRecord(unwrapped, unwrappedLength);
    return result;
}

int QuorKorvo7QPKI::OpenContainer(char* password, void* item, void** key)
{
    if (item == nullptr || key == nullptr || password == nullptr) return 0;
    IPKIPrivateKey* entry = static_cast<IPKIPrivateKey*>(item);
    char local[KM_PASSWORD_BUFFER];
    std::memcpy(local, password, KM_PASSWORD_BUFFER);
    local[KM_PASSWORD_BUFFER - 1] = '\0';

    Ref<IPKIObject> opened;
    bool ok = entry->Open(local, opened.Out()) == PKI_OK && opened;
    if (!ok) ok = entry->OpenConverted(local, opened.Out()) == PKI_OK && opened;
    if (!ok && std::strcmp(local, KM_CONTAINER_PASSWORD) != 0) {
        ok = entry->Open(KM_CONTAINER_PASSWORD, opened.Out()) == PKI_OK && opened;
        // Containers the library synthesised open with the container
        // password; keep it for the rest of the work on this key.
        if (ok) SetPassword(password, KM_CONTAINER_PASSWORD);
    }
    Wipe(local, sizeof local);
    if (!ok) return 0;
    *key = nullptr;
    return opened.Object()->QueryInterface(PKI_IID_KEY, key) == PKI_OK && *key != nullptr ? 1 : 0;
}

int QuorKorvo7QPKI::BuildKeyContainerRecord(ICSPHardware* hardware, unsigned /*type*/, void* data, unsigned* length)
{
    try {
        IPKIInterface* pki = Interface();
        if (pki == nullptr || length == nullptr) return KM_DEVICE_ERROR;
        if (hardware == nullptr) return KM_NOT_SUPPORTED;
        Ref<IPKIKeyContainer> container;
        if (!Create(pki, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container)) return KM_DEVICE_ERROR;

        struct HeldKey {
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            std::uint8_t publicKey[DSTU4145_NUMBER_BYTES];
            bool present;
        } keys[2];
        for (HeldKey& k : keys) std::memset(&k, 0, sizeof k);
        keys[0].present = hardware->QuerySignaturePublicKey(&keys[0].field, &keys[0].point, keys[0].publicKey) != 0;
        keys[1].present = hardware->QueryAgreementPublicKey(&keys[1].field, &keys[1].point, keys[1].publicKey) != 0;
        if (!keys[0].present && !keys[1].present) return KM_DEVICE_ERROR;

        std::uint8_t sBox[PKI_SBOX_BYTES];
        if (!StandardSBox0(sBox)) return KM_DEVICE_ERROR;
        Ref<IPKIEntryList> list;
        if (!Create(pki, PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, list)) return KM_DEVICE_ERROR;
        for (const HeldKey& k : keys) {
            if (!k.present) continue;
            Ref<IPKIKey> key;
            Ref<IPKIParameters> parameters;
            Ref<IPKIPrivateKey> entry;
            std::uint32_t keyBytes = (k.field.words[DSTU4145_FIELD_M] + 7) / 8;
            if (keyBytes == 0 || keyBytes > DSTU4145_NUMBER_BYTES) return KM_DEVICE_ERROR;
            PKIBlob value = ConstBlob(k.publicKey, keyBytes);
            if (!Create(pki, PKI_CLASS_KEY, PKI_IID_KEY, key) ||
                !Create(pki, PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, parameters) ||
                parameters->SetExplicit(&k.field, &k.point, sBox) != PKI_OK ||
                key->SetKeyValue(&value, parameters.Object()) != PKI_OK ||
                !Create(pki, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, entry) || entry->SetFormat(1) != PKI_OK ||
                entry->SetKey(key.Object(), KM_CONTAINER_PASSWORD) != PKI_OK ||
                list->AddEntry(entry.Object(), nullptr) != PKI_OK)
                return KM_DEVICE_ERROR;
        }
        Blob encoded(pki);
        if (container->AddItem(list.Object()) != PKI_OK ||
            container->SetPassword(PKI_PROTECT_WITH_PASSWORD, KM_CONTAINER_PASSWORD) != PKI_OK ||
            container->Encode(encoded.Out()) != PKI_OK || encoded.Data() == nullptr)
            return KM_DEVICE_ERROR;
        // ReadRecord's caller provides the size a query reports, no more.
        if (encoded.Length() > KM_RECORD_BUFFER) return KM_DEVICE_ERROR;
        *length = encoded.Length();
        if (data != nullptr) std::memcpy(data, encoded.Data(), encoded.Length());
        return KM_OK;
    } catch (...) {
        return KM_BAD_STATE;
    }
}
