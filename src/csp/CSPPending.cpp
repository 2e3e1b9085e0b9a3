// DSTU 4145 signatures, key pairs and two-party signing, key transport and
// key wrapping, GOST 28147 ciphering and GOST 34.311 hashing: not offered by
// this build yet. Each operation keeps its place in the table and answers
// CSP_LIBRARY_ERROR.
#include "csp/CSP.h"

int CSP::ProtectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                              std::uint32_t*, std::uint8_t*, std::uint32_t*, const char*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnprotectDataGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                                std::uint32_t, const std::uint8_t*, std::uint32_t, const char*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                       std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::BeginHashGOST34311(const GOST28147PackedSBox*, const std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UpdateHashGOST34311(const std::uint8_t*, std::uint32_t, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::FinishHashGOST34311(std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CompareHashGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                              const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptWithRandomKeyGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, std::uint8_t*,
                                       std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CryptGammaGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                             const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147(const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionGOST28147(std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionGOST28147WithIV(std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroySenderSessionGOST28147(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateReceiverSessionGOST28147(const GOST28147PackedSBox*, const std::uint8_t*, const std::uint8_t*,
                                        CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionGOST28147(std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionGOST28147WithIV(std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroyReceiverSessionGOST28147(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145(const std::uint8_t*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                          std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::VerifyHashSignatureDSTU4145(const std::uint8_t*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                     const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionKey(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                           std::uint8_t*, const GOST28147PackedSBox*, const void*, std::uint8_t*, std::uint32_t,
                           std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionKey(DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                           const std::uint8_t*, const GOST28147PackedSBox*, const void*, std::uint8_t*, std::uint32_t,
                           const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckParametersDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ValidateParametersDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*,
                                          std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateAgreementKeyPairDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*,
                                          std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckSignatureKeyPairDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                       const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckAgreementKeyPairDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                       const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashDataGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                           std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SetHardwareSBox(const void*, const void*, const std::uint8_t*, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptWithRandomKeyCFBGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, std::uint8_t*,
                                          std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCFBGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                             const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147Ex(const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCFBSessionGOST28147(std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroySenderSessionGOST28147Ex(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateReceiverSessionGOST28147Ex(const GOST28147PackedSBox*, const std::uint8_t*, const std::uint8_t*,
                                          CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptCFBSessionGOST28147(std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroyReceiverSessionGOST28147Ex(CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyGOST28147(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                          int, const std::uint8_t*, std::uint32_t, const void*, const void*, const void*,
                          const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyGOST28147(DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*, int,
                            const std::uint8_t*, std::uint32_t, const void*, const void*, const void*,
                            const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCFBGOST28147(std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*,
                             int, int)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147Opt(const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int, int, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPBKDF2(const void*, std::uint32_t, std::uint8_t*, std::uint32_t, int, std::uint32_t, std::uint8_t*,
                         std::uint32_t, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPBKDFMAC(const void*, std::uint32_t, std::uint8_t*, std::uint32_t, int, std::uint32_t, std::uint8_t*,
                           std::uint32_t, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::ComputeHMACGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                              const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CompareHMACGOST34311(const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, const std::uint8_t*,
                              const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetSignaturePublicKeyDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                       std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetAgreementPublicKeyDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                       std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckParametersDSTU4145Ctx(const DSTU4145FieldRecord*, DSTU4145PointRecord*, int)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptWithRandomKeyGOST28147Ctx(CSPContext*, std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*,
                                          std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145Ctx(CSPContext*, const std::uint8_t*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                             const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::VerifyHashSignatureDSTU4145Ctx(CSPContext*, const std::uint8_t*, const DSTU4145FieldRecord*,
                                        DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionKeyCtx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                              const std::uint8_t*, std::uint8_t*, const GOST28147PackedSBox*, const void*,
                              std::uint8_t*, std::uint32_t, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionKeyCtx(CSPContext*, DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                              const std::uint8_t*, const std::uint8_t*, const GOST28147PackedSBox*, const void*,
                              std::uint8_t*, std::uint32_t, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateSignatureKeyPairDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                             std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateAgreementKeyPairDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                             std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckSignatureKeyPairDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                          const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckAgreementKeyPairDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                          const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147Ctx(CSPContext*, const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int,
                                         CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionGOST28147Ctx(CSPContext*, std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptSessionGOST28147WithIVCtx(CSPContext*, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                          CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroySenderSessionGOST28147Ctx(CSPContext*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateReceiverSessionGOST28147Ctx(CSPContext*, const GOST28147PackedSBox*, const std::uint8_t*,
                                           const std::uint8_t*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionGOST28147Ctx(CSPContext*, std::uint8_t*, std::uint32_t, CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DecryptSessionGOST28147WithIVCtx(CSPContext*, std::uint8_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                                          CSPHandle)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DestroyReceiverSessionGOST28147Ctx(CSPContext*, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::HashDataGOST34311Ctx(CSPContext*, const std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*,
                              const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SetHardwareSBoxCtx(CSPContext*, const void*, const void*, const std::uint8_t*, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptWithRandomKeyCFBGOST28147Ctx(CSPContext*, std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*,
                                             std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147ExCtx(CSPContext*, const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int,
                                           CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyGOST28147Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                             const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, const void*, const void*,
                             const void*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyGOST28147Ctx(CSPContext*, DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                               const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, const void*, const void*,
                               const void*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::EncryptCFBGOST28147Ctx(CSPContext*, std::uint8_t*, std::uint32_t, const GOST28147PackedSBox*, std::uint8_t*,
                                std::uint8_t*, int, int)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CreateSenderSessionGOST28147OptCtx(CSPContext*, const GOST28147PackedSBox*, std::uint8_t*, std::uint8_t*, int,
                                            int, CSPHandle*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPBKDF2Ctx(CSPContext*, const void*, std::uint32_t, std::uint8_t*, std::uint32_t, int, std::uint32_t,
                            std::uint8_t*, std::uint32_t, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::DeriveKeyPBKDFMACCtx(CSPContext*, const void*, std::uint32_t, std::uint8_t*, std::uint32_t, int, std::uint32_t,
                              std::uint8_t*, std::uint32_t, const void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetSignaturePublicKeyDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                          const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetAgreementPublicKeyDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                          const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonKeyQDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeSignRDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeSignRDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint8_t*,
                              std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignRDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                 const std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignRDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                    const std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeSignSDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                           const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeSignSDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                              const std::uint8_t*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignDSTU4145(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignDSTU4145Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                                   const std::uint8_t*, const std::uint8_t*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145Ex(std::uint32_t, const std::uint8_t*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                            const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145ExCtx(CSPContext*, std::uint32_t, const std::uint8_t*, const DSTU4145FieldRecord*,
                               DSTU4145PointRecord*, const std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::VerifySignatureDSTU4145(std::uint32_t, const std::uint8_t*, const DSTU4145FieldRecord*, DSTU4145PointRecord*,
                                 const std::uint8_t*, const std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyDSTU7624(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                         int, const std::uint8_t*, std::uint32_t, const void*, const std::uint8_t*, const void*,
                         std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyDSTU7624(const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*, const std::uint8_t*,
                           int, const std::uint8_t*, std::uint32_t, const void*, const std::uint8_t*, const void*,
                           std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyDSTU7624Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                            const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, const void*,
                            const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyDSTU7624Ctx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, const std::uint8_t*,
                              const std::uint8_t*, int, const std::uint8_t*, std::uint32_t, const void*,
                              const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::QueryParametersDSTU4145(std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateKeyPairDSTU4145Sized(std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t, std::uint8_t*,
                                      std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GenerateKeyPairDSTU4145SizedCtx(CSPContext*, std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t,
                                         std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckKeyPairDSTU4145Sized(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                   const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::CheckKeyPairDSTU4145SizedCtx(CSPContext*, std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                      const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetPublicKeyDSTU4145Sized(std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, std::uint8_t*,
                                   std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::GetPublicKeyDSTU4145SizedCtx(CSPContext*, std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                      std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::QueryParametersDSTU4145Ctx(std::uint8_t*, std::uint32_t, int)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145Sized(std::uint32_t, const std::uint8_t*, std::uint8_t*, std::uint32_t, const std::uint8_t*,
                               std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::SignHashDSTU4145SizedCtx(CSPContext*, std::uint32_t, const std::uint8_t*, std::uint8_t*, std::uint32_t,
                                  const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::VerifySignatureDSTU4145Sized(std::uint32_t, const std::uint8_t*, std::uint8_t*, std::uint32_t,
                                      const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyDSTU7624Dense(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                              const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const void*,
                              const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::WrapKeyDSTU7624DenseCtx(CSPContext*, const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                 const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const void*,
                                 const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyDSTU7624Dense(const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const void*,
                                const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::UnwrapKeyDSTU7624DenseCtx(CSPContext*, const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t,
                                   const std::uint8_t*, std::uint32_t, const std::uint8_t*, std::uint32_t, const void*,
                                   const std::uint8_t*, const void*, std::uint8_t*, void*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignRDSTU4145Ex(const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint32_t, const std::uint8_t*,
                                   const std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}

int CSP::MakeCommonSignRDSTU4145ExCtx(CSPContext*, const DSTU4145FieldRecord*, DSTU4145PointRecord*, std::uint32_t,
                                      const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint8_t*)
{
    return CSP_LIBRARY_ERROR;
}
