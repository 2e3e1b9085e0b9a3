// Key containers over the PKI formats library's key store, entry list,
// private-key and key objects.
#include "pkcs11/PKCS11KeyContainers.h"

#include <cstring>
#include <initializer_list>

#include "crypto/ByteOrder.h"
#include "crypto/SecureWipe.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11PKIHeld.h"

const char KeyContainerPassword[] = "Rb8qNw2Xv$5hTm0kLp<3Zc7YeJ4uFa9sGd1WoK6i";

namespace {

using qvkcrypto::LoadLE32;

constexpr std::uint32_t kMaxPasswordBytes = 64;
constexpr std::uint32_t kIdentifierBytes = 20;

template <typename T>
using Held = PKIHeld<T>;
using LibraryBlob = PKILibraryBlob;

template <typename T>
bool Create(std::uint32_t classId, std::uint32_t interfaceId, Held<T>* object)
{
    return PKIInterface != nullptr && PKIInterface->CreateObject(classId, interfaceId, object->out()) == PKI_OK &&
           object->get() != nullptr;
}

// The caller's password bytes as a terminated text, in a wiping buffer.
class PasswordBytes {
public:
    explicit PasswordBytes(const KeyContainerPasswords& p)
    {
        if (p.bytes == nullptr || p.length > kMaxPasswordBytes) return;
        text_.assign(p.length + 1, 0);
        std::memcpy(text_.data(), p.bytes, p.length);
    }
    const char* get() const { return text_.empty() ? nullptr : reinterpret_cast<const char*>(text_.data()); }

private:
    qvkcrypto::SecureBytes text_;
};

// The passwords to try, in order: the container password, the text, the bytes.
template <typename Try>
bool TryPasswords(const KeyContainerPasswords& passwords, Try attempt)
{
    PasswordBytes bytes(passwords);
    for (const char* password : {static_cast<const char*>(KeyContainerPassword), passwords.text, bytes.get()}) {
        if (password != nullptr && attempt(password)) return true;
    }
    return false;
}

bool EmptyAttribute(CK_ATTRIBUTE* out)
{
    out->type = 0;
    out->pValue = nullptr;
    out->ulValueLen = 0;
    return true;
}

bool EncodeStore(IPKIKeyContainer* store, CK_ATTRIBUTE* out)
{
    // Every container this module writes is protected.
    if (store->SetPassword(PKI_PROTECT_WITH_PASSWORD, KeyContainerPassword) != PKI_OK) return false;
    LibraryBlob encoded;
    return store->Encode(&encoded.blob) == PKI_OK && MakeAttributeFromBlob(CKA_VALUE, &encoded.blob, out);
}

bool LoadStore(const PKIBlob* blob, Held<IPKIKeyContainer>* store)
{
    return Create(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, store) && (*store)->Decode(blob) == PKI_OK;
}

bool LoadPrivateKeyObject(const PKIBlob* blob, Held<IPKIPrivateKey>* privateKey)
{
    return blob != nullptr && blob->length > 0 && Create(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, privateKey) &&
           (*privateKey)->Decode(blob) == PKI_OK;
}

// Sets a key's part of the kind from the parts; the identifier comes from
// the public key.
bool SetKeyPart(IPKIKey* key, std::uint32_t kind, const KeyContainerParts* parts, const PKIBlob* publicKey,
                std::uint8_t identifier[kIdentifierBytes])
{
    if (parts == nullptr || publicKey == nullptr || publicKey->length == 0 || publicKey->data == nullptr) return false;
    if (kind == PKI_KEY_USAGE_DSTU4145) {
        if (parts->field == nullptr || parts->point == nullptr || parts->privateKey == nullptr) return false;
        Held<IPKIKeyExport> exporter;
        PKIBlob value{parts->privateKeyLength, const_cast<std::uint8_t*>(parts->privateKey)};
        return static_cast<IPKIObject*>(key)->QueryInterface(PKI_IID_KEY_EXPORT, exporter.out()) == PKI_OK &&
               exporter->SetDSTU4145Part(parts->field, parts->point, parts->sBox, &value, publicKey) == PKI_OK &&
               PKIInterface->PublicKeyIdentifier(publicKey, identifier) == PKI_OK;
    }
    if (kind == PKI_KEY_USAGE_DATA) {
        return parts->data != nullptr && key->SetKeyData(parts->data, parts->dataParameters) == PKI_OK &&
               PKIInterface->KeyIdentifier(publicKey, identifier) == PKI_OK;
    }
    return false;
}

// One exported part of a key as the parts and public key of AddKeyToContainer.
struct ExportedKey {
    qvkcrypto::SecureBytes fields = qvkcrypto::SecureBytes(9 * PKI_KEY_FIELD_BYTES);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    KeyContainerParts parts{};
    PKIBlob publicKey{0, nullptr};
};

bool ExportKeyOfKind(IPKIKey* key, std::uint32_t kind, ExportedKey* out)
{
    Held<IPKIKeyExport> exporter;
    if (static_cast<IPKIObject*>(key)->QueryInterface(PKI_IID_KEY_EXPORT, exporter.out()) != PKI_OK) return false;
    if (kind == PKI_KEY_USAGE_DSTU4145) {
        if (exporter->Export(PKI_EXPORT_DSTU4145_PART, out->fields.data(), 4) != PKI_OK) return false;
        std::memcpy(&out->field, out->fields.data(), sizeof out->field);
        std::memcpy(&out->point, out->fields.data() + sizeof out->field, sizeof out->point);
        const std::uint8_t* privateKey = out->fields.data() + 2 * PKI_KEY_FIELD_BYTES;
        const std::uint8_t* publicKey = out->fields.data() + 3 * PKI_KEY_FIELD_BYTES;
        std::uint32_t privateLength = LoadLE32(privateKey), publicLength = LoadLE32(publicKey);
        if (privateLength == 0 || privateLength > PKI_KEY_FIELD_BYTES - 4 || publicLength == 0 ||
            publicLength > PKI_KEY_FIELD_BYTES - 4)
            return false;
        out->parts.field = &out->field;
        out->parts.point = &out->point;
        out->parts.sBox = out->fields.data() + PKI_KEY_FIELD_BYTES;
        out->parts.privateKey = privateKey + 4;
        out->parts.privateKeyLength = privateLength;
        out->publicKey = PKIBlob{publicLength, const_cast<std::uint8_t*>(publicKey + 4)};
        return true;
    }
    if (exporter->Export(PKI_EXPORT_DATA_PART, out->fields.data(), 9) != PKI_OK) return false;
    out->parts.data = out->fields.data();
    out->parts.dataParameters[0] = LoadLE32(out->fields.data() + PKI_KEY_DATA_BYTES);
    out->parts.dataParameters[1] = LoadLE32(out->fields.data() + PKI_KEY_DATA_BYTES + 4);
    // The key-data part names its key by the first field (its public value).
    std::uint32_t used = PKI_KEY_FIELD_BYTES;
    const std::uint8_t* first = out->fields.data();
    while (used > 1 && *first == 0) {
        ++first;
        --used;
    }
    out->publicKey = PKIBlob{used, const_cast<std::uint8_t*>(first)};
    return true;
}

bool AddToNewStore(const KeyContainerPasswords& passwords, const PKIBlob* container, std::uint32_t kind,
                   const KeyContainerParts* parts, const PKIBlob* publicKey, CK_ATTRIBUTE* out)
{
    Held<IPKIKeyContainer> store;
    if (container != nullptr && container->length > 0) {
        if (!LoadStore(container, &store)) return false;
    } else if (!Create(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, &store)) {
        return false;
    }
    std::uint32_t left = 0;
    if (!UnlockKeyStore(passwords, store.get()) || !RemoveKeysByUsage(passwords, store.get(), kind, &left))
        return false;
    Held<IPKIEntryList> entry;
    Held<IPKIKey> key;
    std::uint8_t identifier[kIdentifierBytes] = {};
    return Create(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, &entry) && Create(PKI_CLASS_KEY, PKI_IID_KEY, &key) &&
           SetKeyPart(key.get(), kind, parts, publicKey, identifier) &&
           AddKeyToEntry(entry.get(), key.get(), identifier, kIdentifierBytes) &&
           store->AddItem(entry.get()) == PKI_OK && EncodeStore(store.get(), out);
}

}  // namespace

bool GetDSTU4145KeyIdentifier(const std::uint8_t* publicKey, const DSTU4145FieldRecord* field, const std::uint8_t* sBox,
                              std::uint8_t identifier[20])
{
    if (PKIInterface == nullptr || publicKey == nullptr || field == nullptr || identifier == nullptr) return false;
    std::uint32_t m = field->words[DSTU4145_FIELD_M];
    if (m == 0 || (m + 7) / 8 > 76) return false;
    std::uint8_t standard[64];
    if (sBox == nullptr) {
        if (!GetStandardSBoxRecord(0, standard)) return false;
        sBox = standard;
    }
    return PKIInterface->KeyIdentifierWithSBox(publicKey, (m + 7) / 8, sBox, identifier) == PKI_OK;
}

bool AddKeyToEntry(IPKIEntryList* entry, IPKIKey* key, const std::uint8_t* attribute, std::uint32_t length)
{
    if (entry == nullptr || key == nullptr) return false;
    Held<IPKIPrivateKey> privateKey;
    Held<IPKIAttribute> held;
    if (!Create(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, &privateKey) || privateKey->SetFormat(1) != PKI_OK ||
        privateKey->SetKey(key, KeyContainerPassword) != PKI_OK)
        return false;
    if (attribute != nullptr &&
        (!Create(PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE, &held) || held->SetValue(attribute, length) != PKI_OK))
        return false;
    return entry->AddEntry(privateKey.get(), held.get()) == PKI_OK;
}

bool GetKeyUsageBits(IPKIKey* key, std::uint32_t* bits)
{
    if (PKIInterface == nullptr || key == nullptr || bits == nullptr) return false;
    Held<IPKIKeyExport> exporter;
    if (static_cast<IPKIObject*>(key)->QueryInterface(PKI_IID_KEY_EXPORT, exporter.out()) == PKI_OK)
        return exporter->GetUsage(bits) == PKI_OK;
    std::uint32_t first = 0, second = 0;
    if (key->GetUsageWords(&first, &second) != PKI_OK) return false;
    *bits = first | second;
    return true;
}

bool UnlockKeyStore(const KeyContainerPasswords& passwords, IPKIKeyContainer* store)
{
    if (PKIInterface == nullptr || store == nullptr) return false;
    std::uint32_t isProtected = 1;
    if (store->IsProtected(&isProtected) != PKI_OK) return false;
    if (isProtected == 0) return true;
    return TryPasswords(passwords, [&](const char* p) { return store->CheckPassword(p) == PKI_OK; });
}

bool OpenPrivateKey(const KeyContainerPasswords& passwords, IPKIPrivateKey* privateKey, IPKIKey** key)
{
    if (PKIInterface == nullptr || privateKey == nullptr || key == nullptr) return false;
    *key = nullptr;
    Held<IPKIObject> opened;
    bool ok = TryPasswords(passwords, [&](const char* p) {
        return privateKey->Open(p, opened.out()) == PKI_OK || privateKey->OpenConverted(p, opened.out()) == PKI_OK;
    });
    if (!ok || opened.get() == nullptr) return false;
    Held<IPKIKey> asKey;
    if (opened->QueryInterface(PKI_IID_KEY, asKey.out()) != PKI_OK) return false;
    *key = asKey.Detach();
    return true;
}

bool RemoveKeysByUsage(const KeyContainerPasswords& passwords, IPKIKeyContainer* store, std::uint32_t mask,
                       std::uint32_t* bitsLeft)
{
    if (PKIInterface == nullptr || store == nullptr || bitsLeft == nullptr) return false;
    *bitsLeft = 0;
    std::uint32_t items = 0;
    if (store->GetItemCount(&items) != PKI_OK) return false;
    for (std::uint32_t i = items; i-- > 0;) {
        Held<IPKIEntryList> entry;
        std::uint32_t count = 0;
        if (store->GetItem(i, entry.out()) != PKI_OK || entry->GetEntryCount(&count) != PKI_OK) return false;
        for (std::uint32_t j = count; j-- > 0;) {
            Held<IPKIPrivateKey> privateKey;
            Held<IPKIKey> key;
            std::uint32_t bits = 0;
            if (entry->GetEntry(j, privateKey.out(), nullptr) != PKI_OK ||
                !OpenPrivateKey(passwords, privateKey.get(), key.slot()) || !GetKeyUsageBits(key.get(), &bits))
                return false;
            if ((bits & mask) != 0) {
                if (entry->RemoveEntry(j) != PKI_OK) return false;
            } else {
                *bitsLeft |= bits;
            }
        }
        std::uint32_t remaining = 0;
        if (entry->GetEntryCount(&remaining) != PKI_OK) return false;
        if (remaining == 0 && store->RemoveItem(i) != PKI_OK) return false;
    }
    return true;
}

bool LoadPrivateKeyFromBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint32_t mask,
                            IPKIKey** key)
{
    if (PKIInterface == nullptr || blob == nullptr || key == nullptr) return false;
    *key = nullptr;
    Held<IPKIPrivateKey> single;
    if (LoadPrivateKeyObject(blob, &single)) {
        Held<IPKIKey> opened;
        std::uint32_t bits = 0;
        if (!OpenPrivateKey(passwords, single.get(), opened.slot()) || !GetKeyUsageBits(opened.get(), &bits) ||
            (bits & mask) == 0)
            return false;
        *key = opened.Detach();
        return true;
    }
    Held<IPKIKeyContainer> store;
    std::uint32_t items = 0;
    if (!LoadStore(blob, &store) || !UnlockKeyStore(passwords, store.get()) || store->GetItemCount(&items) != PKI_OK)
        return false;
    for (std::uint32_t i = 0; i < items; ++i) {
        Held<IPKIEntryList> entry;
        std::uint32_t count = 0;
        if (store->GetItem(i, entry.out()) != PKI_OK || entry->GetEntryCount(&count) != PKI_OK) return false;
        for (std::uint32_t j = 0; j < count; ++j) {
            Held<IPKIPrivateKey> privateKey;
            Held<IPKIKey> opened;
            std::uint32_t bits = 0;
            if (entry->GetEntry(j, privateKey.out(), nullptr) != PKI_OK ||
                !OpenPrivateKey(passwords, privateKey.get(), opened.slot()))
                return false;
            if (GetKeyUsageBits(opened.get(), &bits) && (bits & mask) != 0) {
                *key = opened.Detach();
                return true;
            }
        }
    }
    return false;
}

bool SkipKeyBlobHeader(const PKIBlob* blob, PKIBlob* view)
{
    if (PKIInterface == nullptr || blob == nullptr || view == nullptr) return false;
    Held<IPKIKeyBlobHeader> header;
    std::uint32_t first = 0, second = 0;
    if (!Create(PKI_CLASS_KEY_BLOB_HEADER, PKI_IID_KEY_BLOB_HEADER, &header) ||
        header->ReadLengths(blob, &first, &second) != PKI_OK)
        return false;
    // Compared in 64 bits: two lengths from the blob must not wrap round.
    if (static_cast<std::uint64_t>(first) + second == blob->length) {
        *view = *blob;
    } else {
        *view = PKIBlob{blob->length - 8, blob->data + 8};
    }
    return true;
}

bool DecodeKeyBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint32_t parameters[2],
                   std::uint8_t data[PKI_KEY_DATA_BYTES])
{
    if (parameters == nullptr || data == nullptr) return false;
    PKIBlob view{0, nullptr};
    Held<IPKIKey> key;
    ExportedKey exported;
    if (!SkipKeyBlobHeader(blob, &view) || !LoadPrivateKeyFromBlob(passwords, &view, PKI_KEY_USAGE_DATA, key.slot()) ||
        !ExportKeyOfKind(key.get(), PKI_KEY_USAGE_DATA, &exported))
        return false;
    std::memcpy(data, exported.fields.data(), PKI_KEY_DATA_BYTES);
    parameters[0] = exported.parts.dataParameters[0];
    parameters[1] = exported.parts.dataParameters[1];
    return true;
}

bool DecodePublicKeyBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint8_t parameters[536],
                         std::uint8_t publicKey[DSTU4145_NUMBER_BYTES])
{
    if (parameters == nullptr || publicKey == nullptr) return false;
    PKIBlob view{0, nullptr};
    Held<IPKIKey> key;
    ExportedKey exported;
    if (!SkipKeyBlobHeader(blob, &view) ||
        !LoadPrivateKeyFromBlob(passwords, &view, PKI_KEY_USAGE_DSTU4145, key.slot()) ||
        !ExportKeyOfKind(key.get(), PKI_KEY_USAGE_DSTU4145, &exported) || exported.publicKey.length > 76)
        return false;
    std::memset(parameters, 0, 536);
    std::memcpy(parameters, &exported.field, sizeof exported.field);
    std::memcpy(parameters + sizeof exported.field, &exported.point, sizeof exported.point);
    std::memcpy(parameters + sizeof exported.field + sizeof exported.point, exported.parts.sBox, 64);
    std::memset(publicKey, 0, 76);
    std::memcpy(publicKey, exported.publicKey.data, exported.publicKey.length);
    return true;
}

bool ExportKeyContainer(std::uint32_t n, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                        const PKIBlob* keys, CK_ATTRIBUTE* out)
{
    if (PKIInterface == nullptr || n == 0 || field == nullptr || point == nullptr || keys == nullptr || out == nullptr)
        return false;
    Held<IPKIKeyContainer> store;
    Held<IPKIEntryList> entry;
    if (!Create(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, &store) ||
        !Create(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, &entry))
        return false;
    for (std::uint32_t i = 0; i < n; ++i) {
        Held<IPKIKey> key;
        Held<IPKIParameters> parameters;
        if (!Create(PKI_CLASS_KEY, PKI_IID_KEY, &key) ||
            !Create(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, &parameters) ||
            parameters->SetExplicit(&field[i], &point[i], nullptr) != PKI_OK ||
            key->SetKeyValue(&keys[i], parameters.get()) != PKI_OK ||
            !AddKeyToEntry(entry.get(), key.get(), nullptr, 0))
            return false;
    }
    return store->AddItem(entry.get()) == PKI_OK && EncodeStore(store.get(), out);
}

bool AddKeyToContainer(const KeyContainerPasswords& passwords, const PKIBlob* container, std::uint32_t kind,
                       const KeyContainerParts* parts, const PKIBlob* publicKey, CK_ATTRIBUTE* out)
{
    if (PKIInterface == nullptr || out == nullptr || (kind != PKI_KEY_USAGE_DATA && kind != PKI_KEY_USAGE_DSTU4145))
        return false;
    Held<IPKIPrivateKey> single;
    if (container == nullptr || container->length == 0 || !LoadPrivateKeyObject(container, &single))
        return AddToNewStore(passwords, container, kind, parts, publicKey, out);
    // One protected key: the new part joins it.
    Held<IPKIKey> key;
    Held<IPKIAttribute> attribute;
    Held<IPKIPrivateKey> rewritten;
    Held<IPKIEntryList> entry;
    std::uint8_t identifier[kIdentifierBytes] = {};
    LibraryBlob encoded;
    if (!OpenPrivateKey(passwords, single.get(), key.slot()) ||
        !SetKeyPart(key.get(), kind, parts, publicKey, identifier) ||
        !Create(PKI_CLASS_ATTRIBUTE, PKI_IID_ATTRIBUTE, &attribute) ||
        attribute->SetValue(identifier, kIdentifierBytes) != PKI_OK ||
        !Create(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, &rewritten) || rewritten->SetFormat(1) != PKI_OK ||
        rewritten->SetKey(key.get(), KeyContainerPassword) != PKI_OK || rewritten->Encode(&encoded.blob) != PKI_OK)
        return false;
    return MakeAttributeFromBlob(CKA_VALUE, &encoded.blob, out);
}

bool RemoveKeyFromContainer(const KeyContainerPasswords& passwords, const PKIBlob* container, std::uint32_t kind,
                            CK_ATTRIBUTE* out)
{
    if (PKIInterface == nullptr || container == nullptr || out == nullptr) return false;
    Held<IPKIPrivateKey> single;
    if (!LoadPrivateKeyObject(container, &single)) {
        Held<IPKIKeyContainer> store;
        std::uint32_t left = 0;
        if (!LoadStore(container, &store) || !UnlockKeyStore(passwords, store.get()) ||
            !RemoveKeysByUsage(passwords, store.get(), kind, &left))
            return false;
        if (left == 0) return EmptyAttribute(out);
        return EncodeStore(store.get(), out);
    }
    Held<IPKIKey> key;
    std::uint32_t bits = 0;
    if (!OpenPrivateKey(passwords, single.get(), key.slot()) || !GetKeyUsageBits(key.get(), &bits)) return false;
    if (bits == kind) return EmptyAttribute(out);
    std::uint32_t other = kind == PKI_KEY_USAGE_DATA ? PKI_KEY_USAGE_DSTU4145 : PKI_KEY_USAGE_DATA;
    ExportedKey exported;
    if (!ExportKeyOfKind(key.get(), other, &exported)) return false;
    return AddKeyToContainer(passwords, nullptr, other, &exported.parts, &exported.publicKey, out);
}
