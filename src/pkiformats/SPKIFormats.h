// SPKIFormats: the PKI formats facade over the outside PKI formats library.
// It borrows its CSP, CSPI and the library's interface object; it releases
// none of them, and they must outlive it.
#ifndef QVK_PKIFORMATS_SPKIFORMATS_H
#define QVK_PKIFORMATS_SPKIFORMATS_H

#include <cstdint>

#include "pkiformats/ISPKIFormats.h"

class SPKIFormats final : public ISPKIFormats {
public:
    SPKIFormats(CSP* csp, CSPI* cspi, IPKIInterface* formats);
    ~SPKIFormats() = default;
    SPKIFormats(const SPKIFormats&) = delete;
    SPKIFormats& operator=(const SPKIFormats&) = delete;

    // Some operations work with the PKCS#11 module's own CSP rather than the
    // facade's. Whoever constructs the facade says where to find it; without
    // an accessor (or when it answers null) those operations answer 0.
    using ModuleCSPAccessor = CSP* (*)();
    void SetModuleCSPAccessor(ModuleCSPAccessor accessor) { moduleCSP_ = accessor; }
    CSP* ModuleCSP() const { return moduleCSP_ ? moduleCSP_() : nullptr; }
    CSPI* GetCSPI() const { return cspi_; }

#define QVK_PKIF_OP(pos, how, ret, name, params) ret name params override;
#define QVK_PKIF_SIGNED(pos, how, ret, name, params)
#define QVK_PKIF_PENDING(pos, how, name)
#define QVK_PKIF_RESERVED(pos)
#include "pkiformats/ISPKIFormatsOperations.def"
#undef QVK_PKIF_OP
#undef QVK_PKIF_SIGNED
#undef QVK_PKIF_PENDING
#undef QVK_PKIF_RESERVED

private:
    int IsSummerTime(const SYSTEMTIME* t, bool utc);
    int ShiftTime(const SYSTEMTIME* in, SYSTEMTIME* out, bool toLocal);
    int WideOf(const char* text, std::uint32_t capacity, wchar_t* wide);
    int TextOf(const wchar_t* wide, std::uint32_t wideCapacity, char* text, std::uint32_t capacity);
    bool RequestKeyFamily(const PKIBlob& request, std::uint32_t* family);
    int CopyOut(const std::uint8_t* data, std::uint64_t length, PKIBlob* out);
    // Enveloped data and streamed signed data (family 0 GOST 34.311, 1 SHA,
    // 2 ECDSA).
    int BuildForRecipients(std::uint32_t cipherKind, IPKIObject* senderKey, IPKIObject* recipient,
                           const PKIBlob* content, std::uint32_t signedContent, void** envelopedData);
    int BuildForRecipient(IPKIObject* senderKey, IPKIObject* recipient, const PKIBlob* content,
                          std::uint32_t signedContent, void** envelopedData);
    int OpenAgreement(bool staticForm, bool dataOnly, IPKIObject* envelopedData, IPKIObject* ownKey,
                      IPKIObject* originator, IPKIObject* recipient, const std::uint8_t* peerKey,
                      std::uint32_t peerKeyLength, std::uint32_t* signedContent, PKIBlob* content);
    int SignLastSigner(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate);
    // The GOST 34.311 and SHA messages wrap and encode alike; only the signing
    // of their last signer differs (family as SignLastSigner takes it).
    int WrapSignedDataOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                         void** contentInfo);
    int EncodeContentInfoOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                            void** contentInfo, PKIBlob* encoded);
    int EncodeSignedDataOf(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                           PKIBlob* encoded);
    int PrepareStreamedSigned(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                              std::uint32_t lengthLow, std::uint32_t lengthHigh, void** contentInfo);
    int EncodeStreamedSignedHeader(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                   std::uint32_t lengthLow, std::uint32_t lengthHigh, PKIBlob* header,
                                   std::uint32_t* headerLength);
    int EncodeStreamedBareSignedHeader(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                       std::uint32_t lengthLow, std::uint32_t lengthHigh, PKIBlob* header,
                                       std::uint32_t* headerLength);
    // DVCS messages: a request's or response's encoding wrapped, signed and
    // encoded; and every signer of one checked by the certificate's family.
    int SignDVCSContent(bool request, IPKIObject* object, bool owned, IPKIObject* signerKey, IPKIObject* certificate,
                        PKIBlob* encoded);
    int VerifyDVCSSigners(IPKIObject* signedData, IPKIObject* certificate);
    // A private key against a certificate and, `depth` views deep, its
    // companion views.
    int PrivateKeyMatchesCertificateAt(IPKIObject* certificate, IPKIObject* keyObject, int depth);

    CSP* csp_;
    CSPI* cspi_;
    IPKIInterface* formats_;
    std::uint8_t startVector_[32];
    std::uint32_t keyContainerMode_;
    std::uint32_t timeConversionOff_;
    ModuleCSPAccessor moduleCSP_ = nullptr;
};

#endif
