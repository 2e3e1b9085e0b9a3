// Key containers of the PKI formats library: password-protected key stores
// (entries of protected keys) that the in-memory token driver makes from the
// key's own key pairs and opens again. Every container written here is
// protected with the module's container password; when one is opened the
// container password is tried first, then the caller's password text, then
// the caller's password bytes (at most 64 of them).
//
// Every routine answers false when the PKI formats interface is not set or a
// library call fails, and releases every object it made on every path.
// Attributes handed out own their value (delete[]).
#ifndef QVK_PKCS11_PKCS11KEYCONTAINERS_H
#define QVK_PKCS11_PKCS11KEYCONTAINERS_H

#include <cstdint>

#include "pkcs11/pkcs11ua.h"
#include "support/DSTU4145Records.h"
#include "support/PKIInterface.h"

// The fixed password of the containers this module writes.
extern const char KeyContainerPassword[];

// A caller's passwords: bytes (with a length; more than 64 are never tried)
// and a NUL-terminated text; either may be null.
struct KeyContainerPasswords {
    const std::uint8_t* bytes;
    std::uint32_t length;
    const char* text;
};

// The parts of one key for AddKeyToContainer. Kind 2 (key data): `data`
// (PKI_KEY_DATA_BYTES) and two parameter words. Kind 4 (DSTU 4145): the
// curve records, an S-box (null: none of its own) and the private key.
struct KeyContainerParts {
    const std::uint8_t* data;
    std::uint32_t dataParameters[2];
    const DSTU4145FieldRecord* field;
    const DSTU4145PointRecord* point;
    const std::uint8_t* sBox;
    const std::uint8_t* privateKey;
    std::uint32_t privateKeyLength;
};

// n DSTU 4145 keys (values keys[i] under field[i] and point[i]) in a new key
// store, as CKA_VALUE.
bool ExportKeyContainer(std::uint32_t n, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                        const PKIBlob* keys, CK_ATTRIBUTE* out);
// Wraps the key under the container password and adds it, with an attribute
// holding the bytes when given, to the entry list.
bool AddKeyToEntry(IPKIEntryList* entry, IPKIKey* key, const std::uint8_t* attribute, std::uint32_t length);
bool GetKeyUsageBits(IPKIKey* key, std::uint32_t* bits);
bool UnlockKeyStore(const KeyContainerPasswords& passwords, IPKIKeyContainer* store);
// *key: a new reference (interface 4128) the caller releases.
bool OpenPrivateKey(const KeyContainerPasswords& passwords, IPKIPrivateKey* privateKey, IPKIKey** key);
bool RemoveKeysByUsage(const KeyContainerPasswords& passwords, IPKIKeyContainer* store, std::uint32_t mask,
                       std::uint32_t* bitsLeft);
bool LoadPrivateKeyFromBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint32_t mask,
                            IPKIKey** key);
// The blob without its two leading lengths, unless they add up to the whole
// blob (then it is used unchanged). *view points into the blob.
bool SkipKeyBlobHeader(const PKIBlob* blob, PKIBlob* view);
// The key-data key (usage 2) of a key blob: two parameter words and
// PKI_KEY_DATA_BYTES of data.
bool DecodeKeyBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint32_t parameters[2],
                   std::uint8_t data[PKI_KEY_DATA_BYTES]);
// The DSTU 4145 key (usage 4) of a key blob: its parameters (536 bytes: the
// field record, the point record, the 64-byte S-box, zeros) and its 76-byte
// public key.
bool DecodePublicKeyBlob(const KeyContainerPasswords& passwords, const PKIBlob* blob, std::uint8_t parameters[536],
                         std::uint8_t publicKey[DSTU4145_NUMBER_BYTES]);
// Puts a key of kind 2 or 4 into the container (which may be empty) in place
// of the keys of that kind; publicKey gives its identifier.
bool AddKeyToContainer(const KeyContainerPasswords& passwords, const PKIBlob* container, std::uint32_t kind,
                       const KeyContainerParts* parts, const PKIBlob* publicKey, CK_ATTRIBUTE* out);
// Takes the keys of a kind out; nothing left: an attribute of type 0 with
// no value.
bool RemoveKeyFromContainer(const KeyContainerPasswords& passwords, const PKIBlob* container, std::uint32_t kind,
                            CK_ATTRIBUTE* out);
// 20-byte identifier of a DSTU 4145 public key of (m + 7) / 8 bytes under the
// S-box (null: standard S-box 0).
bool GetDSTU4145KeyIdentifier(const std::uint8_t* publicKey, const DSTU4145FieldRecord* field, const std::uint8_t* sBox,
                              std::uint8_t identifier[20]);

#endif
