// The key's implementation of PKCS11Device: one object drives one key,
// found by the serial number that the key enumeration keeps for its slot.
#ifndef QVK_PKCS11DRIVER_PKCS11QUORKORVO7Q_H
#define QVK_PKCS11DRIVER_PKCS11QUORKORVO7Q_H

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/SecureWipe.h"
#include "pkcs11/PKCS11Device.h"
#include "pkcs11/PKCS11Lock.h"

struct DeviceContext;

// What a derivation recorded for a later wrap or unwrap with the derived key:
// the agreement itself is computed on the key again each time from the other
// party's public key and the UKM. The curve records and the S-box are kept as
// the framework passed them, though this driver sends none of them.
struct DeviceOperationContext {
    CK_ULONG session = 0;
    CK_ULONG key = 0;
    std::uint32_t type = 0;    // CKD_DSTU4145_GOST28147 or CKD_DSTU4145_DSTU7624
    std::uint32_t option = 0;  // old form: 1 for the extended derivation; new form: 1
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    std::uint8_t otherPublicKey[DSTU4145_NUMBER_BYTES] = {};
    qvkcrypto::SecureBytes ukm;
};

class PKCS11QuorKorvo7Q : public PKCS11Device, public PKCS11Lock {
public:
    PKCS11QuorKorvo7Q() = default;

    CK_RV Release() override;
    CK_RV Open(std::uint32_t slotIndex) override;
    CK_RV Close() override;
    CK_RV FillTokenInfo(const std::uint8_t* tokenRecord, CK_TOKEN_INFO* info) override;
    CK_BYTE IsPresent() override;
    CK_RV Login(const char* pin, std::uint32_t length) override;
    CK_RV Logout() override;
    CK_RV InitToken(const char* soPin, std::uint32_t length, std::uint8_t** record) override;
    CK_RV SetPIN(CK_BYTE user, const char* pin, std::uint32_t length) override;
    CK_RV VerifyPINRecord(std::uint8_t* record, CK_BYTE userType, const char* pin, std::uint32_t length) override;
    CK_RV UpdatePINRecord(std::uint8_t* record, CK_BYTE user, const char* pin, std::uint32_t length) override;
    CK_RV ReadStorageArea(CK_BYTE area, std::uint8_t** image, std::uint32_t* length) override;
    CK_RV WriteStorageArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length) override;
    CK_RV EraseStorageArea(CK_BYTE area) override;
    CK_RV WriteBothAreas(const std::uint8_t* privateData, std::uint32_t privateLength, const std::uint8_t* publicData,
                         std::uint32_t publicLength) override;
    std::uint32_t GetTokenRecordSize() override;
    std::uint32_t GetDefaultTokenFlags() override;
    CK_RV GetAreaCapacity(CK_BYTE area, std::uint32_t* capacity) override;
    CK_RV GetFreeMemory(const std::uint8_t* record, CK_BYTE area, std::uint32_t* value) override;
    CK_RV SetFreeMemory(std::uint8_t* record, CK_BYTE area, std::uint32_t value) override;
    CK_BYTE CanInitToken() override;
    CK_RV GenerateRandom(std::uint8_t* buffer, std::uint32_t length) override;
    CK_RV GenerateKeyPair(CK_BYTE keySelector, CK_BYTE forDerivation, const DSTU4145FieldRecord* field,
                          const DSTU4145PointRecord* point, const std::uint8_t* sBox, std::uint8_t* publicKey) override;
    CK_RV DeriveKey(CK_ULONG session, CK_ULONG key, CK_BYTE extended, const DSTU4145FieldRecord* field,
                    const DSTU4145PointRecord* point, const std::uint8_t* sBox, const std::uint8_t* otherPublicKey,
                    const std::uint8_t* ukm, std::uint32_t ukmLength) override;
    CK_RV SignHash32(CK_BYTE keySelector, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                     const std::uint8_t* sBox, const std::uint8_t* hash, std::uint8_t* signature) override;
    CK_RV WrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue, std::uint8_t* wrapped) override;
    CK_RV UnwrapKeyOld(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped, std::uint8_t* keyValue) override;
    CK_RV ReservedOperationA() override;
    CK_BYTE UsesTokenContexts() override;
    CK_RV CloseSessionContexts(CK_ULONG session) override;
    CK_RV SynchronizeContexts(CK_ULONG word1, CK_ULONG word2, CK_ULONG word3, CK_ULONG word4, CK_BYTE flag) override;
    CK_RV StoreObjectValue(void* objectValue) override;
    CK_BYTE IsConnected() override;
    CK_RV ReleaseOthers() override;
    CK_RV DeleteDSTU4145PrivateKey(CK_BYTE keySelector) override;
    CK_BYTE HasNativeObjectStore() override;
    CK_RV ReadNativeObjects(CK_ULONG object, std::uint8_t** serialized, std::uint32_t* length) override;
    CK_RV UpdateNativeObject(PKCS11Object* object, void* value) override;
    CK_RV ReservedOperationB() override;
    CK_RV ReservedOperationC() override;
    CK_RV ReservedOperationD() override;
    CK_RV DeleteRSAPrivateKey() override;
    CK_RV DeleteECPrivateKey() override;
    CK_RV GetPrivateKeyNumber(CK_ULONG keyType, CK_BYTE keySelector, std::uint32_t* number) override;
    CK_RV StoreObject(PKCS11Object* object) override;
    CK_RV GetCertificateNumber(CK_ULONG keyType, std::uint32_t* number) override;
    CK_RV DeleteCertificate(CK_ULONG keyType) override;
    CK_RV HasExtendedHashes() override;
    CK_RV HasExtendedCiphers() override;
    CK_RV SignHash(CK_BYTE keySelector, const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                   const std::uint8_t* hash, std::uint32_t length, std::uint8_t* signature) override;
    CK_RV DeriveKeyNew(CK_ULONG session, CK_ULONG key, const DSTU4145FieldRecord* field,
                       const DSTU4145PointRecord* point, const std::uint8_t* otherPublicKey, const std::uint8_t* ukm,
                       std::uint32_t ukmLength) override;
    CK_RV WrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* keyValue, std::uint32_t keyLength,
                     std::uint8_t* wrapped, std::uint32_t wrappedLength) override;
    CK_RV UnwrapKeyNew(CK_ULONG session, CK_ULONG key, const std::uint8_t* wrapped, std::uint32_t wrappedLength,
                       std::uint8_t* keyValue, std::uint32_t keyLength) override;
    CK_RV DropKeyContexts(CK_ULONG session, CK_ULONG key) override;
    // The key's own cross-process mutex, which every command also takes.
    CK_RV HoldStorage() override;
    CK_RV ReleaseStorage() override;

    virtual ~PKCS11QuorKorvo7Q();

    DeviceContext* GetDeviceContext() const { return device_; }
    // Entries of the derivation-context table, used or not.
    std::size_t ContextTableCapacity() const { return contexts_.size(); }

private:
    // Under the object's lock: the call, and when it fails the device
    // layer's recovery and one more try. CKR_DEVICE_ERROR when closed; a
    // failure that stays answers what its status means (DeviceStatusToCKR).
    template <typename Call>
    CK_RV Guarded(Call call);
    // The call, and after a failure the recovery and one more try (the
    // caller holds the lock and has an open key).
    template <typename Call>
    CK_RV Retried(Call call);
    // `bytes` of the storage image from a block on (array new, the caller's).
    CK_RV ReadAreaBlocks(std::uint32_t firstBlock, std::uint32_t bytes, std::uint8_t** image);
    // Parts of WriteStorageArea (the caller holds the lock and the key).
    CK_RV RewriteWholeArea(CK_BYTE area, const std::uint8_t* data, std::uint32_t length);
    struct AreaRewrite;
    struct PageCopy;
    CK_RV PrepareRewrite(CK_BYTE area, const std::uint8_t* data, std::uint32_t length, AreaRewrite* write);
    CK_RV RewriteAreas(const std::vector<AreaRewrite*>& writes);
    CK_RV PreparePages(AreaRewrite* write);
    CK_RV RewriteLookedPages(AreaRewrite* write, bool journal);
    CK_RV CopyThroughShadows(const std::vector<PageCopy>& copies);
    CK_RV PutPage(CK_BYTE area, std::uint32_t index, const std::uint8_t* page, qvkcrypto::SecureBytes* onKey);
    CK_RV QueryVersion(std::uint8_t* version);
    // KEYERR_PASSWORD_BLOCKED when the key reports its password blocked, 0
    // when not, or the status of the failed query (the caller holds the lock).
    std::uint32_t PasswordBlockedStatus();

    // Derivation contexts (under the object's lock).
    CK_RV FindOrCreateContext(CK_ULONG session, CK_ULONG key, std::uint32_t type, bool create,
                              DeviceOperationContext** out);
    CK_RV RecordContext(CK_ULONG session, CK_ULONG key, std::uint32_t type, std::uint32_t option,
                        const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                        const std::uint8_t* otherPublicKey, const std::uint8_t* ukm, std::uint32_t ukmLength);
    // Load (old form only), agree and wrap or unwrap as one sequence under
    // the per-key mutex; after a recovery the whole sequence runs again,
    // since a reconnected key has lost the agreement.
    CK_RV AgreeAndTransform(CK_ULONG session, CK_ULONG key, bool newForm, bool wrap, const std::uint8_t* in,
                            std::uint8_t* out);

    DeviceContext* device_ = nullptr;
    // The public free memory last set, for the read that rewrites the token
    // record after objects were appended; -1 when none.
    std::int32_t cachedFreePublicMemory_ = -1;
    // Empty entries are null; grows 0, 2, 4, 8, ...
    std::vector<std::unique_ptr<DeviceOperationContext>> contexts_;
};

#endif
