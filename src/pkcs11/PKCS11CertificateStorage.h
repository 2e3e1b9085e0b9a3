// A store of certificates loaded from a folder of files: duplicates (by
// GOST 34.311 digest) are kept once, certificates are found by their public
// key or picked by key kind and key usage.
//
// Paths are bounded: a folder path that does not fit its 1,044 bytes leaves
// the store unable to load, and a file whose full path would not fit
// MAX_PATH is skipped.
#ifndef QVK_PKCS11_PKCS11CERTIFICATESTORAGE_H
#define QVK_PKCS11_PKCS11CERTIFICATESTORAGE_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/HashTable.h"

class PKCS11CertificateStorage {
public:
    static constexpr std::uint32_t kFolderBytes = 1044;

    // The folder is used as a prefix, so it ends with the separator.
    explicit PKCS11CertificateStorage(const char* folder);
    virtual ~PKCS11CertificateStorage();
    PKCS11CertificateStorage(const PKCS11CertificateStorage&) = delete;
    PKCS11CertificateStorage& operator=(const PKCS11CertificateStorage&) = delete;

    // "*.p7b": every file is a CMS signed-data message whose certificates are
    // added; any other mask: every file is one DER certificate. False when no
    // file matches.
    bool LoadFolder(const char* mask);
    bool AddCertificate(const CK_ATTRIBUTE* certificate);
    // out: CKA_VALUE with a copy of the certificate (delete[]).
    bool FindByPublicKey(const std::uint8_t* key, std::uint32_t length, CK_ATTRIBUTE* out);
    // The n-th (from 0) certificate of that kind whose usage shares a bit
    // with the mask gives its CKA_ID.
    CK_RV GetKeyIdByUsage(std::uint32_t kind, std::uint32_t mask, std::uint32_t n, CK_ATTRIBUTE* out);
    void Clear();
    std::uint32_t Count() const { return count_; }

private:
    struct Item {
        CK_ATTRIBUTE certificate;
        std::uint32_t kind;
        std::uint32_t usage;
    };

    void AddFile(const char* path, bool cms);
    void AddSignedDataCertificates(const CK_ATTRIBUTE& file);
    bool FindDigest(const std::uint8_t digest[32]);
    bool Grow();

    char folder_[kFolderBytes] = {};
    bool folderUsable_ = false;
    HashTable digestIndex_;
    HashTable keyIndex_;
    Item* items_ = nullptr;
    std::uint32_t capacity_ = 0;
    std::uint32_t count_ = 0;
};

#endif
