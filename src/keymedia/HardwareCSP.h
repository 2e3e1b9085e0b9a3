// On-key DSTU 4145 and GOST 28147 operations for a crypto service provider.
#ifndef QVK_KEYMEDIA_HARDWARECSP_H
#define QVK_KEYMEDIA_HARDWARECSP_H

#include <cstdint>
#include <optional>

#include "support/ICSPHardware.h"

struct DeviceContext;

class CSPHardwareImplementationQuorKorvo7Q final : public ICSPHardware {
public:
    explicit CSPHardwareImplementationQuorKorvo7Q(DeviceContext* context);

    int GenerateSignatureKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                 std::uint8_t* publicKey) override;
    int GenerateAgreementKeyPair(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                 std::uint8_t* publicKey) override;
    int SignHash(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused, const std::uint8_t* hash,
                 std::uint8_t* signature) override;
    int EncryptSessionKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                          const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, std::uint8_t* key,
                          std::uint32_t keyLength, std::uint8_t* mac) override;
    int DecryptSessionKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                          const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, std::uint8_t* key,
                          std::uint32_t keyLength, const std::uint8_t* mac) override;
    int CheckSignaturePublicKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused,
                                const std::uint8_t* publicKey) override;
    int CheckAgreementPublicKey(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused,
                                const std::uint8_t* publicKey) override;
    int SetSBox(const void* unused1, const void* unused2, const void* unused3, const std::uint8_t* sBox) override;
    int GetStoredHash(std::uint8_t* hash) override;
    int WrapKeyGOST28147(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                         const std::uint8_t* ukm, std::uint32_t ukmLength, const void* unused3, const void* unused4,
                         const std::uint8_t* key, std::uint8_t* wrappedKey) override;
    int UnwrapKeyGOST28147(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                           const std::uint8_t* ukm, std::uint32_t ukmLength, const void* unused3, const void* unused4,
                           const std::uint8_t* wrappedKey, std::uint8_t* key) override;
    int Reserved11() override { return 0; }
    int Reserved12() override { return 0; }
    int Reserved13() override { return 0; }
    int Reserved14() override { return 0; }
    int Reserved15() override { return 0; }
    int Reserved16() override { return 0; }
    int Reserved17() override { return 0; }
    int Reserved18() override { return 0; }
    int Reserved19() override { return 0; }
    int QuerySignaturePublicKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                std::uint8_t* publicKey) override;
    int QueryAgreementPublicKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                std::uint8_t* publicKey) override;
    int MakeSignS(const DSTU4145FieldRecord*, const DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                  std::uint8_t*) override
    {
        return 0;
    }
    int SignHashEx(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* unused, std::uint32_t hashLength,
                   const std::uint8_t* hash, std::uint8_t* signature) override;
    int WrapKeyDSTU7624(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                        const std::uint8_t* data, std::uint32_t dataLength, const void* unused3,
                        const std::uint8_t* key, const void* unused4, std::uint8_t* wrappedKey,
                        std::uint32_t* unusedLength) override;
    int UnwrapKeyDSTU7624(const void* unused1, const void* unused2, const std::uint8_t* peerPublicKey, int flag,
                          const std::uint8_t* data, std::uint32_t dataLength, const void* unused3,
                          const std::uint8_t* wrappedKey, const void* unused4, std::uint8_t* key) override;

    // Bound at construction, rebound at every Open of the owning device
    // object and unbound (null) at its Close; every operation answers 0
    // while unbound.
    void SetDevice(DeviceContext* context) { context_ = context; }
    DeviceContext* Device() const { return context_; }
    int SeparateAgreementKey() const { return separateAgreementKey_; }

private:
    // The on-key session-key transport both directions share: agree on the
    // peer's key, cipher the 32-byte key in place and MAC it, with the kept
    // key context around it. Returns 1 and the MAC, or 0.
    int TransportSessionKey(const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, std::uint8_t* key, bool decrypt,
                            std::uint32_t* mac);

    // The answers both key kinds give in place of a generation (no public key
    // asked for): with a field size, whether points up to widestPoint bits
    // (any, above 162-bit fields) are taken; without one, the point's size
    // word asks for a separate or a shared agreement key. Nothing for a
    // question that is the key kind's own.
    std::optional<int> CommonQueryAnswer(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                         std::uint32_t widestPoint);

    DeviceContext* context_;
    int separateAgreementKey_;
    std::uint8_t keyContext_[32];
};

#endif
