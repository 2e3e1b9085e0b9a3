// The in-memory storage variant: reads build the images from the key once,
// writes and erasures change only the images. Key generation and deletion
// change the key, and its areas then get the fresh key objects (a token key)
// or the fresh container record (a key-media key) beside everything else
// they hold.
#include "pkcs11driver/PKCS11VirtualQuorKorvo7Q.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "crypto/ByteOrder.h"
#include "device/DeviceKeys.h"
#include "device/DeviceProtocol.h"
#include "device/DeviceStatus.h"
#include "pkcs11/PKCS11DSTU4145.h"
#include "pkcs11/PKCS11ECPoint.h"
#include "pkcs11/PKCS11KeyContainers.h"
#include "pkcs11/PKCS11Object.h"
#include "pkcs11/PKCS11TokenStorage.h"
#include "pkcs11driver/PKCS11DeviceStatus.h"

namespace {

using qvkcrypto::LoadLE16;
using qvkcrypto::LoadLE32;
using qvkcrypto::StoreLE32;

constexpr CK_BYTE PRIVATE_AREA = 1;
constexpr std::size_t RECORD_FREE_PRIVATE = 38;
constexpr std::size_t RECORD_FREE_PUBLIC = 42;
constexpr std::uint8_t TOKEN_MARK[TOKEN_STORAGE_MARK_BYTES] = {0x3F, 0xFF};

constexpr std::size_t SBOX_BYTES = 64;
// Labels "KM %04X" of the objects made from the key, and their entry numbers.
constexpr std::uint32_t LABEL_SIGNATURE_KEY = 0xAFD1;
constexpr std::uint32_t LABEL_AGREEMENT_KEY = 0xAFD2;
constexpr std::uint32_t LABEL_CONTAINER = 0xAFC6;
constexpr std::size_t LABEL_BYTES = 7;
constexpr CK_ULONG ENTRY_SIGNATURE_KEY = 1;
constexpr CK_ULONG ENTRY_AGREEMENT_KEY = 2;
constexpr CK_ULONG ENTRY_CONTAINER = 3;

// The key-media library's records.
constexpr std::uint32_t KM_CONTAINER_RECORD = 6;
constexpr std::uint32_t KM_CERTIFICATE_RECORD = 17;
constexpr std::uint32_t KM_CERTIFICATE_HEADER = 32;
constexpr std::uint32_t KM_CERTIFICATE_MIN_LENGTH = 112;
constexpr std::uint32_t KM_RECORD_HEADER_BYTES = 4;

struct OnKeyPair {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t m = 0;
    std::uint8_t publicKey[DSTU4145_NUMBER_BYTES] = {};
};

// One of the key's pairs: its curve records and public key, the public key
// zeroed past its (m + 7) / 8 bytes.
CK_RV ReadOnKeyPair(DeviceContext* device, bool signature, OnKeyPair* pair, bool* present)
{
    *present = false;
    DeviceKeyParameters parameters{};
    std::uint32_t status = signature ? GetSignatureKeyParameters(device, parameters.bytes())
                                     : GetAgreementKeyParameters(device, parameters.bytes());
    if (status == KEYERR_NO_KEY) return CKR_OK;
    if (status != 0) return DeviceStatusToCKR(status);
    status =
        signature ? GetSignaturePublicKey(device, pair->publicKey) : GetAgreementPublicKey(device, pair->publicKey);
    if (status == KEYERR_NO_KEY) return CKR_OK;
    if (status != 0) return DeviceStatusToCKR(status);
    pair->m = parameters.m;
    const std::uint32_t used = (pair->m + 7) / 8;
    if (pair->m == 0 || used > DSTU4145_NUMBER_BYTES) return CKR_DEVICE_ERROR;
    std::memset(pair->publicKey + used, 0, DSTU4145_NUMBER_BYTES - used);
    SplitDeviceKeyParameters(&parameters, &pair->field, &pair->point);
    // The key's record has no bit length of n; the point record carries it.
    std::uint32_t bits = 0;
    for (std::size_t w = DSTU4145_NUMBER_WORDS; w-- > 0 && bits == 0;) {
        const std::uint32_t word = pair->point.words[DSTU4145_POINT_N + w];
        if (word != 0) bits = static_cast<std::uint32_t>(32 * w) + 32 - static_cast<std::uint32_t>(__builtin_clz(word));
    }
    pair->point.words[DSTU4145_POINT_BITS] = bits;
    *present = true;
    return CKR_OK;
}

CK_ULONG AllowedMechanisms(bool extendedHashes, CK_MECHANISM_TYPE out[8])
{
    CK_ULONG n = 0;
    out[n++] = CKM_DSTU4145;
    out[n++] = CKM_DSTU4145_GOST34311;
    out[n++] = CKM_DSTU4145_ALT;
    out[n++] = CKM_DSTU4145_DSTU7564_256;
    if (extendedHashes) {
        out[n++] = CKM_DSTU4145_DSTU7564_384;
        out[n++] = CKM_DSTU4145_DSTU7564_512;
    }
    out[n++] = CKM_DSTU4145_DERIVE;
    out[n++] = CKM_DSTU4145_DERIVE_EXT;
    return n;
}

void MakeLabel(std::uint32_t number, char label[LABEL_BYTES + 1])
{
    std::snprintf(label, LABEL_BYTES + 1, "KM %04X", static_cast<unsigned>(number & 0xFFFF));
}

CK_RV GiveHandle(PKCS11Object* object, CK_ULONG entry)
{
    CK_OBJECT_HANDLE handle = 0;
    CK_RV rv = object->MakeHandle(entry, &handle);
    return rv != CKR_OK ? rv : SetObjectHandleAttribute(object, handle);
}

// A private-key object (signs; derives when asked) or a public-key object
// (verifies, with the point) of a pair. Public-key objects live in the
// public area and are made public.
CK_RV MakeKeyObject(CK_OBJECT_CLASS objectClass, const OnKeyPair& pair, const std::uint8_t* sBox,
                    std::uint32_t labelNumber, bool derive, CK_ULONG entry, const CK_MECHANISM_TYPE* allowed,
                    CK_ULONG allowedCount, PKCS11ObjectPtr* out)
{
    CK_ATTRIBUTE params{CKA_EC_PARAMS, nullptr, 0};
    if (!EncodeECParams(&pair.field, &pair.point, sBox, &params)) return CKR_GENERAL_ERROR;
    std::unique_ptr<std::uint8_t[]> ownedParams(static_cast<std::uint8_t*>(params.pValue));
    CK_ATTRIBUTE point{CKA_EC_POINT, nullptr, 0};
    std::unique_ptr<std::uint8_t[]> ownedPoint;
    if (objectClass == CKO_PUBLIC_KEY) {
        if (!MakeECPointAttribute(pair.publicKey, pair.m, &point)) return CKR_GENERAL_ERROR;
        ownedPoint.reset(static_cast<std::uint8_t*>(point.pValue));
    }
    char label[LABEL_BYTES + 1];
    MakeLabel(labelNumber, label);
    CK_OBJECT_CLASS cls = objectClass;
    CK_KEY_TYPE keyType = CKK_DSTU4145;
    CK_MECHANISM_TYPE generatedBy = CKM_DSTU4145_KEY_PAIR_GEN;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE, derives = derive ? CK_TRUE : CK_FALSE;
    std::vector<CK_ATTRIBUTE> a = {
        {CKA_CLASS, &cls, sizeof(cls)},
        {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
        params,
        {CKA_LABEL, label, LABEL_BYTES},
        {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_KEY_GEN_MECHANISM, &generatedBy, sizeof(generatedBy)},
        {CKA_ALLOWED_MECHANISMS, const_cast<CK_MECHANISM_TYPE*>(allowed), allowedCount * sizeof(CK_MECHANISM_TYPE)}};
    if (objectClass == CKO_PRIVATE_KEY) {
        a.push_back({CKA_SIGN, &yes, sizeof(yes)});
        a.push_back({CKA_DERIVE, &derives, sizeof(derives)});
    } else {
        a.push_back({CKA_VERIFY, &yes, sizeof(yes)});
        a.push_back({CKA_PRIVATE, &no, sizeof(no)});
        a.push_back(point);
    }
    CK_RV rv = CreateObjectForClass(objectClass, a.data(), a.size(), false, out->Address());
    return rv != CKR_OK ? rv : GiveHandle(out->Get(), entry);
}

CK_RV MakeContainerObject(const std::vector<std::uint8_t>& container, PKCS11ObjectPtr* out)
{
    char label[LABEL_BYTES + 1];
    MakeLabel(LABEL_CONTAINER, label);
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE a[] = {
        {CKA_CLASS, &cls, sizeof(cls)},   {CKA_TOKEN, &yes, sizeof(yes)},
        {CKA_PRIVATE, &yes, sizeof(yes)}, {CKA_MODIFIABLE, &yes, sizeof(yes)},
        {CKA_LABEL, label, LABEL_BYTES},  {CKA_VALUE, const_cast<std::uint8_t*>(container.data()), container.size()}};
    CK_RV rv = CreateObjectForClass(CKO_DATA, a, sizeof(a) / sizeof(a[0]), false, out->Address());
    return rv != CKR_OK ? rv : GiveHandle(out->Get(), ENTRY_CONTAINER);
}

// The object's record at the end of the image's used part, taken off the
// free-memory field; CKR_DEVICE_MEMORY when it does not fit.
CK_RV AppendToImage(std::uint8_t* image, std::uint32_t capacity, std::uint8_t* freeField, const PKCS11Object* object)
{
    std::vector<std::uint8_t> bytes;
    CK_RV rv = AppendObjectRecord(object, &bytes);
    if (rv != CKR_OK) return rv;
    const std::uint32_t free = LoadLE32(freeField);
    if (free > capacity || bytes.size() > free) return CKR_DEVICE_MEMORY;
    std::memcpy(image + (capacity - free), bytes.data(), bytes.size());
    StoreLE32(freeField, free - static_cast<std::uint32_t>(bytes.size()));
    return CKR_OK;
}

// One of the objects this driver makes from the key, by class and label.
bool IsKeyDerivedObject(const PKCS11Object* object)
{
    CK_ULONG cls = 0;
    const std::uint8_t* label = nullptr;
    CK_ULONG length = 0;
    if (object->GetInteger(CKA_CLASS, &cls) != CKR_OK || object->GetBytes(CKA_LABEL, &label, &length) != CKR_OK ||
        length != LABEL_BYTES || label == nullptr)
        return false;
    char expected[LABEL_BYTES + 1];
    if (cls == CKO_DATA) {
        MakeLabel(LABEL_CONTAINER, expected);
        return std::memcmp(label, expected, LABEL_BYTES) == 0;
    }
    if (cls != CKO_PRIVATE_KEY && cls != CKO_PUBLIC_KEY) return false;
    for (std::uint32_t number : {LABEL_SIGNATURE_KEY, LABEL_AGREEMENT_KEY}) {
        MakeLabel(number, expected);
        if (std::memcmp(label, expected, LABEL_BYTES) == 0) return true;
    }
    return false;
}

// The records of an area's used part that are not the driver's own earlier
// objects, and the handles they hold. Records that do not parse are kept as
// they are. Bytes that are not whole records refuse (CKR_DEVICE_MEMORY):
// writing over them would lose data nobody here can read.
CK_RV KeepOtherRecords(const std::uint8_t* area, std::uint32_t used, std::uint32_t start,
                       std::vector<std::uint8_t>* kept, std::vector<CK_ULONG>* handles)
{
    std::vector<ObjectRecordSpan> spans;
    CK_RV rv = SplitObjectRecords(area, used, start, &spans);
    if (rv != CKR_OK) return rv;
    for (const ObjectRecordSpan& span : spans) {
        const std::uint8_t* p = area + span.offset;
        PKCS11ObjectPtr object;
        if (CreateObjectFromStoredForm(p + OBJECT_RECORD_HEADER_BYTES, span.length - OBJECT_RECORD_HEADER_BYTES,
                                       object.Address()) == CKR_OK) {
            if (IsKeyDerivedObject(object.Get())) continue;
            CK_ULONG handle = 0;
            if (object->GetInteger(CKA_VENDOR_OBJECT_HANDLE, &handle) == CKR_OK) handles->push_back(handle);
        }
        kept->insert(kept->end(), p, p + span.length);
    }
    return CKR_OK;
}

// Appends the object's record; when a kept object already holds its handle
// it takes the first free entry number instead.
CK_RV AppendWithFreeHandle(PKCS11Object* object, std::vector<CK_ULONG>* handles, std::vector<std::uint8_t>* out)
{
    CK_ULONG handle = 0;
    CK_RV rv = object->GetInteger(CKA_VENDOR_OBJECT_HANDLE, &handle);
    if (rv != CKR_OK) return rv;
    auto taken = [&](CK_ULONG h) { return std::find(handles->begin(), handles->end(), h) != handles->end(); };
    for (CK_ULONG entry = 0; taken(handle); ++entry) {
        if (entry >= HANDLE_ENTRY_MASK) return CKR_DEVICE_MEMORY;
        CK_OBJECT_HANDLE made = 0;
        if ((rv = object->MakeHandle(entry, &made)) != CKR_OK) return rv;
        handle = made & HANDLE_STORED_MASK;
    }
    if ((rv = SetObjectHandleAttribute(object, handle)) != CKR_OK) return rv;
    handles->push_back(handle);
    return AppendObjectRecord(object, out);
}

}  // namespace

PKCS11VirtualQuorKorvo7Q::~PKCS11VirtualQuorKorvo7Q()
{
    FreeImages();
}

void PKCS11VirtualQuorKorvo7Q::FreeImages()
{
    delete[] publicImage_;
    delete[] privateImage_;
    publicImage_ = nullptr;
    privateImage_ = nullptr;
    publicLength_ = 0;
    privateLength_ = 0;
    reserved_[0] = reserved_[1] = 0;
}

CK_RV PKCS11VirtualQuorKorvo7Q::Login(const char* pin, std::uint32_t length)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    return PKCS11QuorKorvo7Q::Login(pin, length);
}

CK_RV PKCS11VirtualQuorKorvo7Q::Logout()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    return PKCS11QuorKorvo7Q::Logout();
}

CK_RV PKCS11VirtualQuorKorvo7Q::GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity)
{
    CK_RV rv = PKCS11QuorKorvo7Q::GetAreaCapacity(area, capacity);
    if (rv == CKR_OK && area != PRIVATE_AREA) *capacity += PUBLIC_EXTRA_BYTES;
    return rv;
}

struct PKCS11VirtualQuorKorvo7Q::KeyObjects {
    std::vector<PKCS11ObjectPtr> publicObjects;
    std::vector<PKCS11ObjectPtr> privateObjects;  // the container object last
    std::vector<std::uint8_t> container;          // empty: none was made
    std::uint32_t pairs = 0;
};

CK_RV PKCS11VirtualQuorKorvo7Q::MakeKeyObjects(KeyObjects* out)
{
    DeviceContext* device = GetDeviceContext();
    OnKeyPair pairs[2];
    bool present[2] = {};
    CK_RV rv = ReadOnKeyPair(device, true, &pairs[0], &present[0]);
    if (rv != CKR_OK) return rv;
    // Without a signature key the images hold only the token record.
    if (!present[0]) return CKR_OK;
    if ((rv = ReadOnKeyPair(device, false, &pairs[1], &present[1])) != CKR_OK) return rv;

    std::uint8_t sBox[SBOX_BYTES];
    if (!GetStandardSBoxRecord(0, sBox)) return CKR_GENERAL_ERROR;
    CK_MECHANISM_TYPE allowed[8];
    const CK_ULONG allowedCount = AllowedMechanisms(HasExtendedHashes() == CKR_OK, allowed);

    const std::uint32_t labels[2] = {LABEL_SIGNATURE_KEY, LABEL_AGREEMENT_KEY};
    const CK_ULONG entries[2] = {ENTRY_SIGNATURE_KEY, ENTRY_AGREEMENT_KEY};
    for (int i = 0; i < 2; ++i) {
        if (!present[i]) continue;
        // The signature key derives only when it is the key's only pair.
        const bool derive = i == 1 || !present[1];
        PKCS11ObjectPtr privateKey, publicKey;
        if ((rv = MakeKeyObject(CKO_PRIVATE_KEY, pairs[i], sBox, labels[i], derive, entries[i], allowed, allowedCount,
                                &privateKey)) != CKR_OK ||
            (rv = MakeKeyObject(CKO_PUBLIC_KEY, pairs[i], sBox, labels[i], false, entries[i], allowed, allowedCount,
                                &publicKey)) != CKR_OK)
            return rv;
        out->privateObjects.push_back(std::move(privateKey));
        out->publicObjects.push_back(std::move(publicKey));
        ++out->pairs;
    }

    // The container of the pairs' public values; without one the images go
    // on without its object.
    DSTU4145FieldRecord fields[2];
    DSTU4145PointRecord points[2];
    PKIBlob keys[2];
    std::uint32_t n = 0;
    for (int i = 0; i < 2; ++i) {
        if (!present[i]) continue;
        fields[n] = pairs[i].field;
        points[n] = pairs[i].point;
        keys[n] = PKIBlob{(pairs[i].m + 7) / 8, pairs[i].publicKey};
        ++n;
    }
    CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
    if (!ExportKeyContainer(n, fields, points, keys, &value)) return CKR_OK;
    std::unique_ptr<std::uint8_t[]> owned(static_cast<std::uint8_t*>(value.pValue));
    const std::uint8_t* bytes = owned.get();
    out->container.assign(bytes, bytes + value.ulValueLen);
    PKCS11ObjectPtr container;
    if ((rv = MakeContainerObject(out->container, &container)) != CKR_OK) return rv;
    out->privateObjects.push_back(std::move(container));
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReadRealArea(CK_BYTE area, std::unique_ptr<std::uint8_t[]>* bytes,
                                             std::uint32_t* capacity)
{
    CK_RV rv = PKCS11QuorKorvo7Q::GetAreaCapacity(area, capacity);
    if (rv != CKR_OK) return rv;
    // The plain read hands out the whole area; its used length is not taken
    // here, since it may come from a free-memory value set on an image.
    std::uint8_t* read = nullptr;
    std::uint32_t used = 0;
    rv = PKCS11QuorKorvo7Q::ReadStorageArea(area, &read, &used);
    bytes->reset(read);
    return rv;
}

CK_RV PKCS11VirtualQuorKorvo7Q::BuildImages()
{
    FreeImages();
    const std::uint32_t recordSize = GetTokenRecordSize();
    std::uint32_t realPublic = 0;
    {
        std::unique_ptr<std::uint8_t[]> real;
        CK_RV rv = ReadRealArea(0, &real, &realPublic);
        if (rv != CKR_OK) return rv;
        keyHoldsToken_ = PKCS11TokenStorage::HasTokenRecord(real.get(), realPublic, recordSize) ? 1 : 0;
    }
    DeviceInfo info{};
    if (const std::uint32_t status = QueryDeviceInfo(GetDeviceContext(), &info); status != 0)
        return DeviceStatusToCKR(status);

    const std::uint32_t publicCapacity = realPublic + PUBLIC_EXTRA_BYTES;
    std::unique_ptr<std::uint8_t[]> pub(new (std::nothrow) std::uint8_t[publicCapacity]);
    std::unique_ptr<std::uint8_t[]> priv(new (std::nothrow) std::uint8_t[PRIVATE_IMAGE_BYTES]);
    if (!pub || !priv) return CKR_HOST_MEMORY;
    std::memset(pub.get(), 0xFF, publicCapacity);
    std::memset(priv.get(), 0xFF, PRIVATE_IMAGE_BYTES);

    // A fresh token labelled with the key's serial number, its user PIN set.
    std::uint8_t* record = pub.get() + TOKEN_STORAGE_MARK_BYTES;
    std::memcpy(pub.get(), TOKEN_MARK, TOKEN_STORAGE_MARK_BYTES);
    std::memset(record, 0, recordSize);
    record[0] = 1;
    record[1] = 0;
    char label[TOKEN_RECORD_LABEL_BYTES + 16];
    const int n = std::snprintf(label, sizeof(label), "%06d", static_cast<int>(info.serial));
    std::memset(record + TOKEN_RECORD_LABEL, ' ', TOKEN_RECORD_LABEL_BYTES);
    std::memcpy(record + TOKEN_RECORD_LABEL, label, std::min<std::size_t>(static_cast<std::size_t>(n), 32));
    StoreLE32(record + TOKEN_RECORD_FLAGS, GetDefaultTokenFlags() | CKF_USER_PIN_INITIALIZED);
    StoreLE32(record + RECORD_FREE_PUBLIC, publicCapacity - recordSize - TOKEN_STORAGE_MARK_BYTES);
    StoreLE32(record + RECORD_FREE_PRIVATE, PRIVATE_IMAGE_BYTES);

    KeyObjects objects;
    CK_RV rv = MakeKeyObjects(&objects);
    if (rv != CKR_OK) return rv;
    for (const PKCS11ObjectPtr& object : objects.publicObjects)
        if ((rv = AppendToImage(pub.get(), publicCapacity, record + RECORD_FREE_PUBLIC, object.Get())) != CKR_OK)
            return rv;
    for (const PKCS11ObjectPtr& object : objects.privateObjects)
        if ((rv = AppendToImage(priv.get(), PRIVATE_IMAGE_BYTES, record + RECORD_FREE_PRIVATE, object.Get())) != CKR_OK)
            return rv;

    publicLength_ = publicCapacity - LoadLE32(record + RECORD_FREE_PUBLIC);
    privateLength_ = PRIVATE_IMAGE_BYTES - LoadLE32(record + RECORD_FREE_PRIVATE);
    publicImage_ = pub.release();
    privateImage_ = priv.release();
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length)
{
    if (length == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (GetDeviceContext() == nullptr) return CKR_GENERAL_ERROR;
    std::uint32_t capacity = 0;
    CK_RV rv = GetAreaCapacity(area, &capacity);
    if (rv != CKR_OK) return rv;
    if (image == nullptr) {
        *length = capacity;
        return CKR_OK;
    }
    *image = nullptr;
    if (!HasImages()) {
        if ((rv = BuildImages()) != CKR_OK) {
            FreeImages();
            return rv;
        }
    }
    const std::uint8_t* source = area == PRIVATE_AREA ? privateImage_ : publicImage_;
    const std::uint32_t used = area == PRIVATE_AREA ? privateLength_ : publicLength_;
    std::uint8_t* copy = new (std::nothrow) std::uint8_t[used == 0 ? 1 : used];
    if (copy == nullptr) return CKR_HOST_MEMORY;
    std::memcpy(copy, source, used);
    *image = copy;
    *length = used;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (data == nullptr && length != 0) return CKR_ARGUMENTS_BAD;
    std::uint32_t capacity = 0;
    CK_RV rv = GetAreaCapacity(area, &capacity);
    if (rv != CKR_OK) return rv;
    if (length > capacity) return CKR_DEVICE_MEMORY;
    // Without images there is nothing to write into: a write that came
    // before any read would otherwise go through a null image.
    if (!HasImages()) return CKR_GENERAL_ERROR;
    std::uint8_t* target = area == PRIVATE_AREA ? privateImage_ : publicImage_;
    if (length != 0) std::memmove(target, data, length);
    (area == PRIVATE_AREA ? privateLength_ : publicLength_) = length;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::EraseStorageArea(CK_BYTE area)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    (area == PRIVATE_AREA ? privateLength_ : publicLength_) = 0;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReleaseOthers()
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    FreeImages();
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::GetPrivateKeyNumber(CK_ULONG keyType, CK_BYTE keySelector, std::uint32_t* number)
{
    if (keyType != CKK_DSTU4145) return CKR_FUNCTION_NOT_SUPPORTED;
    if (number == nullptr) return CKR_ARGUMENTS_BAD;
    *number = keySelector ? 1 : 2;
    return CKR_OK;
}

CK_RV PKCS11VirtualQuorKorvo7Q::GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation,
                                                const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                                const std::uint8_t* sBox, std::uint8_t* publicKey)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    const CK_RV rv = PKCS11QuorKorvo7Q::GenerateKeyPair(keySelector, forDerivation, field, point, sBox, publicKey);
    if (rv != CKR_OK) return rv;
    return RewriteKeyAreas();
}

CK_RV PKCS11VirtualQuorKorvo7Q::DeleteDSTU4145PrivateKey(CK_BYTE keySelector)
{
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    DeviceContext* device = GetDeviceContext();
    if (device == nullptr) return CKR_GENERAL_ERROR;
    if (const std::uint32_t held = LockDevice(device); held != 0) return DeviceStatusToCKR(held);
    const std::uint32_t status = keySelector ? DestroySignatureKey(device) : DestroyAgreementKey(device);
    UnlockDevice(device);
    if (status != 0) return DeviceStatusToCKR(status);
    return RewriteKeyAreas();
}

CK_RV PKCS11VirtualQuorKorvo7Q::RewriteKeyAreas()
{
    // The images show the key's pairs: whatever happens here, the next read
    // makes them again.
    FreeImages();
    DeviceContext* device = GetDeviceContext();
    if (device == nullptr) return CKR_GENERAL_ERROR;
    KeyObjects objects;
    CK_RV rv = MakeKeyObjects(&objects);
    if (rv != CKR_OK) return rv;
    // One hold of the key from the reads to the writes: another process
    // changing an area in between would lose its change.
    if (const std::uint32_t held = LockDevice(device); held != 0) return DeviceStatusToCKR(held);
    std::unique_ptr<std::uint8_t[]> realPublic;
    std::uint32_t publicCapacity = 0;
    rv = ReadRealArea(0, &realPublic, &publicCapacity);
    if (rv == CKR_OK) {
        if (PKCS11TokenStorage::HasTokenRecord(realPublic.get(), publicCapacity, GetTokenRecordSize()))
            rv = MergeIntoTokenAreas(&objects, realPublic.get(), publicCapacity);
        else
            rv = WriteContainerRecord(objects);
    }
    UnlockDevice(device);
    return rv;
}

CK_RV PKCS11VirtualQuorKorvo7Q::MergeIntoTokenAreas(KeyObjects* objects, const std::uint8_t* realPublic,
                                                    std::uint32_t publicCapacity)
{
    const std::uint32_t recordSize = GetTokenRecordSize();
    const std::uint32_t header = TOKEN_STORAGE_MARK_BYTES + recordSize;
    // The key's own token record stays: its label, flags and PIN records.
    std::vector<std::uint8_t> record(realPublic + TOKEN_STORAGE_MARK_BYTES, realPublic + header);
    const std::uint32_t publicUsed =
        publicCapacity - std::min(LoadLE32(record.data() + RECORD_FREE_PUBLIC), publicCapacity - header);
    std::unique_ptr<std::uint8_t[]> realPrivate;
    std::uint32_t privateCapacity = 0;
    CK_RV rv = ReadRealArea(PRIVATE_AREA, &realPrivate, &privateCapacity);
    if (rv != CKR_OK) return rv;
    const std::uint32_t privateUsed =
        privateCapacity - std::min(LoadLE32(record.data() + RECORD_FREE_PRIVATE), privateCapacity);

    std::vector<std::uint8_t> publicRecords, privateRecords;
    std::vector<CK_ULONG> publicHandles, privateHandles;
    if ((rv = KeepOtherRecords(realPublic, publicUsed, header, &publicRecords, &publicHandles)) != CKR_OK ||
        (rv = KeepOtherRecords(realPrivate.get(), privateUsed, 0, &privateRecords, &privateHandles)) != CKR_OK)
        return rv;
    for (PKCS11ObjectPtr& object : objects->publicObjects)
        if ((rv = AppendWithFreeHandle(object.Get(), &publicHandles, &publicRecords)) != CKR_OK) return rv;
    for (PKCS11ObjectPtr& object : objects->privateObjects)
        if ((rv = AppendWithFreeHandle(object.Get(), &privateHandles, &privateRecords)) != CKR_OK) return rv;
    // Both contents are checked before anything is written.
    if (header + static_cast<std::uint64_t>(publicRecords.size()) > publicCapacity ||
        privateRecords.size() > privateCapacity)
        return CKR_DEVICE_MEMORY;
    StoreLE32(record.data() + RECORD_FREE_PUBLIC,
              publicCapacity - header - static_cast<std::uint32_t>(publicRecords.size()));
    StoreLE32(record.data() + RECORD_FREE_PRIVATE, privateCapacity - static_cast<std::uint32_t>(privateRecords.size()));
    std::vector<std::uint8_t> publicContent(TOKEN_MARK, TOKEN_MARK + TOKEN_STORAGE_MARK_BYTES);
    publicContent.insert(publicContent.end(), record.begin(), record.end());
    publicContent.insert(publicContent.end(), publicRecords.begin(), publicRecords.end());

    rv = privateRecords.empty()
             ? PKCS11QuorKorvo7Q::EraseStorageArea(PRIVATE_AREA)
             : PKCS11QuorKorvo7Q::WriteStorageArea(PRIVATE_AREA, privateRecords.data(),
                                                   static_cast<std::uint32_t>(privateRecords.size()));
    if (rv != CKR_OK) return rv;
    return PKCS11QuorKorvo7Q::WriteStorageArea(0, publicContent.data(),
                                               static_cast<std::uint32_t>(publicContent.size()));
}

CK_RV PKCS11VirtualQuorKorvo7Q::WriteContainerRecord(const KeyObjects& objects)
{
    // A key formatted for the key-media library: only its private area, in
    // that library's record form; its public area is never written.
    std::unique_ptr<std::uint8_t[]> area;
    std::uint32_t capacity = 0;
    CK_RV rv = ReadRealArea(PRIVATE_AREA, &area, &capacity);
    if (rv != CKR_OK) return rv;
    if (objects.pairs == 0) {
        // No pair left: an earlier container record goes, any other record
        // stays.
        if (capacity >= 2 && LoadLE16(area.get()) == KM_CONTAINER_RECORD)
            return PKCS11QuorKorvo7Q::EraseStorageArea(PRIVATE_AREA);
        return CKR_OK;
    }
    if (objects.container.empty()) return CKR_GENERAL_ERROR;
    std::vector<std::uint8_t> merged;
    rv = MergeContainerRecord(area.get(), capacity, objects.container.data(),
                              static_cast<std::uint32_t>(objects.container.size()), &merged);
    if (rv != CKR_OK) return rv;
    return PKCS11QuorKorvo7Q::WriteStorageArea(PRIVATE_AREA, merged.data(), static_cast<std::uint32_t>(merged.size()));
}

CK_RV PKCS11VirtualQuorKorvo7Q::CertificateFromRecord(CK_ULONG, CK_ULONG, std::vector<std::uint8_t>* certificate)
{
    if (certificate == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (GetDeviceContext() == nullptr) return CKR_GENERAL_ERROR;
    std::unique_ptr<std::uint8_t[]> area;
    std::uint32_t capacity = 0;
    CK_RV rv = ReadRealArea(0, &area, &capacity);
    if (rv != CKR_OK) return rv;
    if (capacity < KM_CERTIFICATE_HEADER + 8) return CKR_DEVICE_MEMORY;
    const std::uint8_t* header = area.get() + KM_CERTIFICATE_HEADER;
    const std::uint32_t length = LoadLE16(header + 2);
    const std::uint32_t kind = LoadLE32(header + 4);
    if (LoadLE16(header) != KM_CERTIFICATE_RECORD || length < KM_CERTIFICATE_MIN_LENGTH ||
        length > capacity - KM_CERTIFICATE_HEADER - KM_RECORD_HEADER_BYTES || (kind != 1 && kind != 2))
        return CKR_DEVICE_MEMORY;
    // Picking the certificate by usage needs a library step that is not
    // available.
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::KeyFromContainerRecord(std::uint32_t, std::vector<std::uint8_t>* decoded)
{
    if (decoded == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11LockGuard lock(*this);
    if (lock.Result() != CKR_OK) return lock.Result();
    if (GetDeviceContext() == nullptr) return CKR_GENERAL_ERROR;
    std::unique_ptr<std::uint8_t[]> area;
    std::uint32_t capacity = 0;
    CK_RV rv = ReadRealArea(PRIVATE_AREA, &area, &capacity);
    if (rv != CKR_OK) return rv;
    const std::uint32_t length = LoadLE16(area.get() + 2);
    if (LoadLE16(area.get()) != KM_CONTAINER_RECORD || length == 0 || length > capacity - KM_RECORD_HEADER_BYTES)
        return CKR_DEVICE_MEMORY;
    // Decoding the container into the key's parts is not available.
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ReencodeContainerRecord()
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::WriteCertificateRecord(const std::uint8_t*, std::uint32_t)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::CertificateToObjects(const std::uint8_t*, std::uint32_t, std::vector<std::uint8_t>*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::ContainerToPrivateKeyObjects(const std::uint8_t*, std::uint32_t,
                                                             std::vector<std::uint8_t>*)
{
    return CKR_FUNCTION_NOT_SUPPORTED;
}

CK_RV PKCS11VirtualQuorKorvo7Q::MergeContainerRecord(const std::uint8_t* area, std::uint32_t used,
                                                     const std::uint8_t* container, std::uint32_t length,
                                                     std::vector<std::uint8_t>* out)
{
    constexpr std::uint32_t CONTAINER_RECORD = 6;
    constexpr std::uint32_t EMPTY_RECORD = 0xFFFF;
    if (out == nullptr || (container == nullptr && length != 0) || (area == nullptr && used != 0))
        return CKR_ARGUMENTS_BAD;
    if (length + 4 > PRIVATE_IMAGE_BYTES || length > 0xFFFF) return CKR_DEVICE_MEMORY;
    if (used >= 2) {
        const std::uint32_t type = area[0] | area[1] << 8;
        if (type != CONTAINER_RECORD && type != EMPTY_RECORD) return CKR_DEVICE_MEMORY;
    }
    out->assign({static_cast<std::uint8_t>(CONTAINER_RECORD), 0, static_cast<std::uint8_t>(length),
                 static_cast<std::uint8_t>(length >> 8)});
    out->insert(out->end(), container, container + length);
    return CKR_OK;
}
