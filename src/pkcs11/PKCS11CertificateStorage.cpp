// The certificate folder store.
#include "pkcs11/PKCS11CertificateStorage.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "pkcs11/PKCS11CertificateAttributes.h"
#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11PKIHeld.h"

namespace {

constexpr std::uint32_t kKeyBytes = 600;
constexpr char kSignedDataOid[] = "1.2.840.113549.1.7.2";
// Files above this size are not certificates or certificate bundles.
constexpr DWORD kMaxFileBytes = 16u << 20;

struct DigestRecord {
    std::uint8_t digest[32];
    std::uint32_t index;
};
static_assert(sizeof(DigestRecord) == 36);

struct KeyRecord {
    std::uint8_t key[kKeyBytes];
    std::uint32_t length;
    std::uint32_t index;
};
static_assert(sizeof(KeyRecord) == 608);

void DeleteDigestRecord(void* value)
{
    delete static_cast<DigestRecord*>(value);
}

void DeleteKeyRecord(void* value)
{
    delete static_cast<KeyRecord*>(value);
}

std::uint32_t HashOf(const std::uint8_t* bytes, std::uint32_t length)
{
    return HashTable::HashBytes(0, bytes, length);
}

// Reads a whole existing file into a CKA_VALUE attribute; false (and
// nothing kept) on any failure or a short read.
bool ReadWholeFile(const char* path, CK_ATTRIBUTE* out)
{
    HANDLE file = CreateFile(path, GENERIC_READ, 3, nullptr, OPEN_EXISTING_FILE, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    bool ok = false;
    DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size > 0 && size <= kMaxFileBytes) {
        std::uint8_t* bytes = new (std::nothrow) std::uint8_t[size];
        DWORD done = 0;
        if (bytes != nullptr && ReadFile(file, bytes, size, &done, nullptr) && done == size) {
            out->type = CKA_VALUE;
            out->pValue = bytes;
            out->ulValueLen = size;
            ok = true;
        } else {
            delete[] bytes;
        }
    }
    CloseHandle(file);
    return ok;
}

}  // namespace

PKCS11CertificateStorage::PKCS11CertificateStorage(const char* folder) : digestIndex_(1, 16), keyIndex_(1, 16)
{
    digestIndex_.SetCallbacks(nullptr, DeleteDigestRecord);
    keyIndex_.SetCallbacks(nullptr, DeleteKeyRecord);
    // A path that does not fit whole is not used cut short.
    if (folder != nullptr && std::strlen(folder) < sizeof folder_) {
        std::strcpy(folder_, folder);
        folderUsable_ = true;
    }
}

PKCS11CertificateStorage::~PKCS11CertificateStorage()
{
    Clear();
    digestIndex_.RemoveAll();
    keyIndex_.RemoveAll();
}

void PKCS11CertificateStorage::Clear()
{
    for (std::uint32_t i = 0; i < count_; ++i) FreeMadeValue(&items_[i].certificate);
    delete[] items_;
    items_ = nullptr;
    capacity_ = count_ = 0;
    // The indexes name items by position: they go with them.
    digestIndex_.RemoveAll();
    keyIndex_.RemoveAll();
}

bool PKCS11CertificateStorage::LoadFolder(const char* mask)
{
    if (!folderUsable_ || mask == nullptr) return false;
    const bool cms = std::strcmp(mask, "*.p7b") == 0;
    char pattern[kFolderBytes + MAX_PATH];
    int written = std::snprintf(pattern, sizeof pattern, "%s%s", folder_, mask);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof pattern) return false;
    WIN32_FIND_DATA found;
    HANDLE find = FindFirstFile(pattern, &found);
    if (find == INVALID_HANDLE_VALUE || find == nullptr) return false;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        char path[kFolderBytes + MAX_PATH];
        written = std::snprintf(path, sizeof path, "%s%s", folder_, found.cFileName);
        if (written < 0 || static_cast<std::size_t>(written) >= sizeof path) continue;
        AddFile(path, cms);
    } while (FindNextFile(find, &found));
    FindClose(find);
    return true;
}

void PKCS11CertificateStorage::AddFile(const char* path, bool cms)
{
    CK_ATTRIBUTE file{CKA_VALUE, nullptr, 0};
    if (!ReadWholeFile(path, &file)) return;
    if (cms)
        AddSignedDataCertificates(file);
    else
        AddCertificate(&file);
    FreeMadeValue(&file);
}

void PKCS11CertificateStorage::AddSignedDataCertificates(const CK_ATTRIBUTE& file)
{
    if (PKIInterface == nullptr) return;
    PKIHeld<IPKIContentInfo> info;
    PKIHeld<IPKISignedData> signedData;
    PKILibraryBlob type, content;
    PKIBlob in{static_cast<std::uint32_t>(file.ulValueLen), static_cast<std::uint8_t*>(file.pValue)};
    if (PKIInterface->CreateObject(PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info.out()) != PKI_OK ||
        info->Decode(&in) != PKI_OK || info->GetContentType(&type.blob) != PKI_OK ||
        type.blob.length != sizeof kSignedDataOid - 1 ||
        std::memcmp(type.blob.data, kSignedDataOid, type.blob.length) != 0 ||
        info->GetContent(&content.blob) != PKI_OK ||
        PKIInterface->CreateObject(PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, signedData.out()) != PKI_OK ||
        signedData->Decode(&content.blob) != PKI_OK)
        return;
    for (std::uint32_t i = 0;; ++i) {
        PKILibraryBlob certificate;
        if (signedData->GetCertificate(i, &certificate.blob) != PKI_OK) break;
        CK_ATTRIBUTE value{CKA_VALUE, nullptr, 0};
        if (!MakeAttributeFromBlob(CKA_VALUE, &certificate.blob, &value)) break;
        AddCertificate(&value);
        FreeMadeValue(&value);
    }
}

bool PKCS11CertificateStorage::FindDigest(const std::uint8_t digest[32])
{
    const std::uint32_t hash = HashOf(digest, 32);
    void* value = nullptr;
    for (int n = 0; digestIndex_.FindByHash(hash, n, &value); ++n) {
        if (std::memcmp(static_cast<DigestRecord*>(value)->digest, digest, 32) == 0) return true;
    }
    return false;
}

bool PKCS11CertificateStorage::Grow()
{
    if (count_ < capacity_) return true;
    std::uint32_t capacity = capacity_ == 0 ? 2 : capacity_ * 2;
    Item* items = new (std::nothrow) Item[capacity];
    if (items == nullptr) return false;
    if (count_ > 0) std::memcpy(items, items_, count_ * sizeof(Item));
    delete[] items_;
    items_ = items;
    capacity_ = capacity;
    return true;
}

bool PKCS11CertificateStorage::AddCertificate(const CK_ATTRIBUTE* certificate)
{
    if (certificate == nullptr || certificate->type != CKA_VALUE || certificate->pValue == nullptr ||
        certificate->ulValueLen == 0 || certificate->ulValueLen > 0xFFFFFFFFu)
        return false;
    const auto* bytes = static_cast<const std::uint8_t*>(certificate->pValue);
    const auto length = static_cast<std::uint32_t>(certificate->ulValueLen);
    std::uint8_t digest[32];
    if (!DigestPIN(bytes, length, digest)) return false;
    if (FindDigest(digest)) return true;
    if (!Grow()) return false;

    KeyRecord* key = new (std::nothrow) KeyRecord{};
    if (key == nullptr) return false;
    Item& item = items_[count_];
    if (!ReadCertificateKey(bytes, length, &item.kind, &item.usage, key->key, &key->length) ||
        !MakeAttribute(CKA_VALUE, bytes, length, &item.certificate)) {
        delete key;
        return false;
    }
    key->index = count_;
    const std::uint32_t keyHash = HashOf(key->key, key->length);
    if (!keyIndex_.InsertByHash(keyHash, key)) {
        delete key;
        FreeMadeValue(&item.certificate);
        return false;
    }
    DigestRecord* record = new (std::nothrow) DigestRecord{};
    if (record != nullptr) {
        std::memcpy(record->digest, digest, 32);
        record->index = count_;
    }
    if (record == nullptr || !digestIndex_.InsertByHash(HashOf(digest, 32), record)) {
        delete record;
        keyIndex_.RemovePairByHash(keyHash, key);  // deletes the key record
        FreeMadeValue(&item.certificate);
        return false;
    }
    ++count_;
    return true;
}

bool PKCS11CertificateStorage::FindByPublicKey(const std::uint8_t* key, std::uint32_t length, CK_ATTRIBUTE* out)
{
    if (key == nullptr || out == nullptr || length == 0 || length > kKeyBytes) return false;
    const std::uint32_t hash = HashOf(key, length);
    void* value = nullptr;
    for (int n = 0; keyIndex_.FindByHash(hash, n, &value); ++n) {
        const KeyRecord* record = static_cast<const KeyRecord*>(value);
        if (record->length != length || std::memcmp(record->key, key, length) != 0) continue;
        if (record->index >= count_) return false;
        const CK_ATTRIBUTE& certificate = items_[record->index].certificate;
        return MakeAttribute(CKA_VALUE, certificate.pValue, certificate.ulValueLen, out);
    }
    return false;
}

CK_RV PKCS11CertificateStorage::GetKeyIdByUsage(std::uint32_t kind, std::uint32_t mask, std::uint32_t n,
                                                CK_ATTRIBUTE* out)
{
    if (out == nullptr) return CKR_ARGUMENTS_BAD;
    for (std::uint32_t i = 0; i < count_; ++i) {
        if (items_[i].kind != kind || (items_[i].usage & mask) == 0) continue;
        if (n-- == 0)
            return GetCertificateKeyIdAttribute(&items_[i].certificate, out) == CKR_OK ? CKR_OK : CKR_FUNCTION_FAILED;
    }
    return CKR_GENERAL_ERROR;
}
