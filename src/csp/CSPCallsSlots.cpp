// The provider's DSTU 4145, two-party, key-transport, GOST 28147, GOST 34.311
// and dense-record slots: each fills the record of library functions from
// the binding and the extension table and runs the operation of the
// CSPCalls files. Plain forms build the context of the object's own fields.
#include "csp/CSP.h"
#include "csp/CSPCallsOperations.h"

namespace {

using cspcalls::Library;

int TestedRandom(void* provider, CSPContext* context, std::uint8_t* out, std::uint32_t length)
{
    return static_cast<CSP*>(provider)->GenerateTestedRandomCtx(context, out, length);
}

template <typename Fn>
Fn BaseFn(const CSP& csp, CSPBaseFunction index)
{
    return csp.Binding().Base<Fn>(index);
}

template <typename Fn>
Fn ExtraFn(const CSP& csp, CSPExtraFunction index)
{
    const CSPExtraFunctionTable* table = csp.ExtraFunctions();
    return table != nullptr ? reinterpret_cast<Fn>(table->entries[index]) : nullptr;
}

Library Calls(CSP& csp)
{
    Library l{};
    l.initialized = (csp.Flags() & CSP_FLAG_INITIALIZED) != 0;
    l.provider = &csp;
    l.generateTestedRandom = TestedRandom;
    if (!l.initialized) return l;
    l.DSTU4145AcquireState = BaseFn<CGDSTU4145AcquireStateFn>(csp, CG_DSTU4145AcquireState);
    l.DSTU4145ReleaseState = BaseFn<CGReleaseStateFn>(csp, CG_DSTU4145ReleaseState);
    l.DSTU4145SetStateParameters = BaseFn<CGSetStateParametersFn>(csp, CG_DSTU4145SetStateParameters);
    l.DSTU4145GetStateParameters = BaseFn<CGGetStateParametersFn>(csp, CG_DSTU4145GetStateParameters);
    l.DSTU4145GenerateParameters = BaseFn<CGDSTU4145GenerateParametersFn>(csp, CG_DSTU4145GenerateParameters);
    l.DSTU4145SignHash = BaseFn<CGDSTU4145StateFn>(csp, CG_DSTU4145SignHash);
    l.DSTU4145VerifySignature = BaseFn<CGDSTU4145StateFn>(csp, CG_DSTU4145VerifySignature);
    l.ECDHCalculateSharedKey = BaseFn<CGECDHCalculateSharedKeyFn>(csp, CG_ECDHCalculateSharedKey);
    l.ECDHUACalculateSharedKey = BaseFn<CGECDHUACalculateSharedKeyFn>(csp, CG_ECDHUACalculateSharedKey);
    l.GOST28147WrapSharedKey = BaseFn<CGGOST28147WrapSharedKeyFn>(csp, CG_GOST28147WrapSharedKey);
    l.GOST28147UnwrapSharedKey = BaseFn<CGGOST28147UnwrapSharedKeyFn>(csp, CG_GOST28147UnwrapSharedKey);
    l.GOST28147AcquireState = BaseFn<CGAcquireStateFn>(csp, CG_GOST28147AcquireState);
    l.GOST28147ReleaseState = BaseFn<CGReleaseStateFn>(csp, CG_GOST28147ReleaseState);
    l.GOST28147SetStateParameters = BaseFn<CGSetStateParametersFn>(csp, CG_GOST28147SetStateParameters);
    l.GOST28147GetStateParameters = BaseFn<CGGetStateParametersFn>(csp, CG_GOST28147GetStateParameters);
    l.GOST28147EncryptDataSSMode = BaseFn<CGGOST28147BlocksFn>(csp, CG_GOST28147EncryptDataSSMode);
    l.GOST28147DecryptDataSSMode = BaseFn<CGGOST28147BlocksFn>(csp, CG_GOST28147DecryptDataSSMode);
    l.GOST28147EncryptDataGMode = BaseFn<CGGOST28147DataFn>(csp, CG_GOST28147EncryptDataGMode);
    l.GOST28147EncryptDataGOFBMode = BaseFn<CGGOST28147DataFn>(csp, CG_GOST28147EncryptDataGOFBMode);
    l.GOST28147DecryptDataGOFBMode = BaseFn<CGGOST28147DataFn>(csp, CG_GOST28147DecryptDataGOFBMode);
    l.GOST28147GetDataMAC = BaseFn<CGGOST28147MACFn>(csp, CG_GOST28147GetDataMAC);
    l.GOST34311AcquireState = BaseFn<CGAcquireStateFn>(csp, CG_GOST34311AcquireState);
    l.GOST34311ReleaseState = BaseFn<CGReleaseStateFn>(csp, CG_GOST34311ReleaseState);
    l.GOST34311SetStateParameters = BaseFn<CGSetStateParametersFn>(csp, CG_GOST34311SetStateParameters);
    l.GOST34311GetStateParameters = BaseFn<CGGetStateParametersFn>(csp, CG_GOST34311GetStateParameters);
    l.GOST34311HashData = BaseFn<CGGOST34311HashDataFn>(csp, CG_GOST34311HashData);
    l.GOST34311FinalizeHash = BaseFn<CGGOST34311FinalizeHashFn>(csp, CG_GOST34311FinalizeHash);

    l.GOST34311HMACAcquireState = ExtraFn<CGAcquireStateFn>(csp, CGX_GOST34311HMACAcquireState);
    l.GOST34311HMACReleaseState = ExtraFn<CGReleaseStateFn>(csp, CGX_GOST34311HMACReleaseState);
    l.GOST34311HMACSetStateParameters = ExtraFn<CGSetStateParametersFn>(csp, CGX_GOST34311HMACSetStateParameters);
    l.GOST34311HMACGetStateParameters = ExtraFn<CGGetStateParametersFn>(csp, CGX_GOST34311HMACGetStateParameters);
    l.GOST34311HMACUpdateData = ExtraFn<CGGOST34311HMACUpdateDataFn>(csp, CGX_GOST34311HMACUpdateData);
    l.GOST34311HMACFinalizeDataMac = ExtraFn<CGStateFinalizeFn>(csp, CGX_GOST34311HMACFinalizeDataMac);
    l.PBKDF2DeriveKey = ExtraFn<CGPBKDFDeriveKeyFn>(csp, CGX_PBKDF2DeriveKey);
    l.PBKDFMACDeriveKey = ExtraFn<CGPBKDFDeriveKeyFn>(csp, CGX_PBKDFMACDeriveKey);
    l.DSTU4145CoupleMakeCommonKeyQ = ExtraFn<CGCoupleMakeCommonKeyQFn>(csp, CGX_DSTU4145CoupleMakeCommonKeyQ);
    l.DSTU4145CoupleMakeSignR = ExtraFn<CGCoupleMakeSignRFn>(csp, CGX_DSTU4145CoupleMakeSignR);
    l.DSTU4145CoupleMakeCommonSignR = ExtraFn<CGCoupleMakeCommonSignRFn>(csp, CGX_DSTU4145CoupleMakeCommonSignR);
    l.DSTU4145CoupleMakeSignS = ExtraFn<CGCoupleMakeSignSFn>(csp, CGX_DSTU4145CoupleMakeSignS);
    l.DSTU4145CoupleMakeCommonSignS = ExtraFn<CGCoupleMakeCommonSignSFn>(csp, CGX_DSTU4145CoupleMakeCommonSignS);
    l.DSTU4145CoupleMakeCommonSign = ExtraFn<CGCoupleMakeCommonSignFn>(csp, CGX_DSTU4145CoupleMakeCommonSign);
    l.ECDHKDFDSTU7564CalculateSharedKey =
        ExtraFn<CGECDHKDFDSTU7564CalculateSharedKeyFn>(csp, CGX_ECDHKDFDSTU7564CalculateSharedKey);
    l.ECDHKDFDSTU7564CalculateDenseSharedKey =
        ExtraFn<CGECDHKDFDSTU7564CalculateDenseSharedKeyFn>(csp, CGX_ECDHKDFDSTU7564CalculateDenseSharedKey);
    l.DSTU7624WrapSharedKey = ExtraFn<CGDSTU7624WrapSharedKeyFn>(csp, CGX_DSTU7624WrapSharedKey);
    l.DSTU7624UnwrapSharedKey = ExtraFn<CGDSTU7624UnwrapSharedKeyFn>(csp, CGX_DSTU7624UnwrapSharedKey);
    l.DSTU4145IsDenseNumbersSupported =
        ExtraFn<CGDSTU4145IsDenseNumbersSupportedFn>(csp, CGX_DSTU4145IsDenseNumbersSupported);
    return l;
}

// Plain form: the object's own context; an exception becomes a library error.
template <typename Body>
int Plain(Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        return CSP_LIBRARY_ERROR;
    }
}

}  // namespace

namespace cs = cspcalls;

// ---- GOST 28147 protected blocks, GOST 34.311 hash, sessions ----

int CSP::ProtectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, std::uint32_t* mac, std::uint8_t* tail,
                              std::uint32_t* tailLength, const char* password, const std::uint8_t* key)
{
    return cs::ProtectDataGOST28147(Calls(*this), data, length, sBox, startVector, mac, tail, tailLength, password,
                                    key);
}

int CSP::UnprotectDataGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                const std::uint8_t* startVector, std::uint32_t expectedMac, const std::uint8_t* tail,
                                std::uint32_t tailLength, const char* password, const std::uint8_t* key)
{
    return cs::UnprotectDataGOST28147(Calls(*this), data, length, sBox, startVector, expectedMac, tail, tailLength,
                                      password, key);
}

int CSP::HashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                       const std::uint8_t* startVector, std::uint8_t* hash)
{
    return cs::HashGOST34311(Calls(*this), data, length, sBox, startVector, hash);
}

int CSP::BeginHashGOST34311(const GOST28147PackedSBox* sBox, const std::uint8_t* startVector, CSPHandle* state)
{
    return cs::BeginHashGOST34311(Calls(*this), sBox, startVector, state);
}

int CSP::UpdateHashGOST34311(const std::uint8_t* data, std::uint32_t length, CSPHandle* state)
{
    return cs::UpdateHashGOST34311(Calls(*this), data, length, state);
}

int CSP::FinishHashGOST34311(std::uint8_t* hash, CSPHandle* state)
{
    return cs::FinishHashGOST34311(Calls(*this), hash, state);
}

int CSP::CompareHashGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, const std::uint8_t* expectedHash)
{
    return cs::CompareHashGOST34311(Calls(*this), data, length, sBox, startVector, expectedHash);
}

int CSP::EncryptWithRandomKeyGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                       std::uint8_t* key, std::uint8_t* iv)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptWithRandomKeyGOST28147Ctx(&c, data, length, sBox, key, iv);
    });
}

int CSP::CryptGammaGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                             const std::uint8_t* key, const std::uint8_t* iv)
{
    return cs::CryptGammaGOST28147(Calls(*this), data, length, sBox, key, iv);
}

int CSP::CreateSenderSessionGOST28147(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv, int draw,
                                      CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CreateSenderSessionGOST28147Ctx(&c, sBox, key, iv, draw, session);
    });
}

int CSP::EncryptSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptSessionGOST28147Ctx(&c, data, length, session);
    });
}

int CSP::EncryptSessionGOST28147WithIV(std::uint8_t* data, std::uint32_t length, std::uint32_t ivFirst,
                                       std::uint32_t ivLast, CSPHandle session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptSessionGOST28147WithIVCtx(&c, data, length, ivFirst, ivLast, session);
    });
}

int CSP::DestroySenderSessionGOST28147(CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DestroySenderSessionGOST28147Ctx(&c, session);
    });
}

int CSP::CreateReceiverSessionGOST28147(const GOST28147PackedSBox* sBox, const std::uint8_t* key,
                                        const std::uint8_t* iv, CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CreateReceiverSessionGOST28147Ctx(&c, sBox, key, iv, session);
    });
}

int CSP::DecryptSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DecryptSessionGOST28147Ctx(&c, data, length, session);
    });
}

int CSP::DecryptSessionGOST28147WithIV(std::uint8_t* data, std::uint32_t length, std::uint32_t ivFirst,
                                       std::uint32_t ivLast, CSPHandle session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DecryptSessionGOST28147WithIVCtx(&c, data, length, ivFirst, ivLast, session);
    });
}

int CSP::DestroyReceiverSessionGOST28147(CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DestroyReceiverSessionGOST28147Ctx(&c, session);
    });
}

// ---- DSTU 4145 and key transport, plain forms ----

int CSP::SignHashDSTU4145(const std::uint8_t* hash, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                          const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return SignHashDSTU4145Ctx(&c, hash, field, point, privateKey, signature);
    });
}

int CSP::VerifyHashSignatureDSTU4145(const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                     DSTU4145PointRecord* point, const std::uint8_t* publicKey,
                                     const std::uint8_t* signature)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return VerifyHashSignatureDSTU4145Ctx(&c, hash, field, point, publicKey, signature);
    });
}

int CSP::EncryptSessionKey(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                           const std::uint8_t* peerPublicKey, std::uint8_t* ukm, const GOST28147PackedSBox* sBox,
                           const void* agreementArgument, std::uint8_t* data, std::uint32_t length, std::uint8_t* mac)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptSessionKeyCtx(&c, field, point, privateKey, peerPublicKey, ukm, sBox, agreementArgument, data,
                                    length, mac);
    });
}

int CSP::DecryptSessionKey(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                           const std::uint8_t* peerPublicKey, const std::uint8_t* ukm, const GOST28147PackedSBox* sBox,
                           const void* agreementArgument, std::uint8_t* data, std::uint32_t length,
                           const std::uint8_t* mac)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DecryptSessionKeyCtx(&c, field, point, privateKey, peerPublicKey, ukm, sBox, agreementArgument, data,
                                    length, mac);
    });
}

int CSP::CheckParametersDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    return CheckParametersDSTU4145Ctx(field, point, 1);
}

int CSP::ValidateParametersDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    return CheckParametersDSTU4145(field, point);
}

int CSP::GenerateSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                          std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GenerateSignatureKeyPairDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

int CSP::GenerateAgreementKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                          std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GenerateAgreementKeyPairDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

int CSP::CheckSignatureKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CheckSignatureKeyPairDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

int CSP::CheckAgreementKeyPairDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, const std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CheckAgreementKeyPairDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

int CSP::HashDataGOST34311(const std::uint8_t* data, std::uint32_t bitLength, const GOST28147PackedSBox* sBox,
                           const std::uint8_t* startVector, std::uint8_t* hash)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return HashDataGOST34311Ctx(&c, data, bitLength, sBox, startVector, hash);
    });
}

int CSP::SetHardwareSBox(const void* argument1, const void* argument2, const void* argument3, const std::uint8_t* sBox)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return SetHardwareSBoxCtx(&c, argument1, argument2, argument3, sBox);
    });
}

int CSP::EncryptWithRandomKeyCFBGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                                          std::uint8_t* key, std::uint8_t* iv)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptWithRandomKeyCFBGOST28147Ctx(&c, data, length, sBox, key, iv);
    });
}

int CSP::DecryptCFBGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                             const std::uint8_t* key, const std::uint8_t* iv)
{
    return cs::DecryptCFBGOST28147(Calls(*this), data, length, sBox, key, iv);
}

int CSP::CreateSenderSessionGOST28147Ex(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv, int draw,
                                        CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CreateSenderSessionGOST28147ExCtx(&c, sBox, key, iv, draw, session);
    });
}

int CSP::EncryptCFBSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return cs::CryptCFBSessionGOST28147(Calls(*this), data, length, session, true);
}

int CSP::DestroySenderSessionGOST28147Ex(CSPHandle* session)
{
    return DestroySenderSessionGOST28147(session);
}

int CSP::CreateReceiverSessionGOST28147Ex(const GOST28147PackedSBox* sBox, const std::uint8_t* key,
                                          const std::uint8_t* iv, CSPHandle* session)
{
    return CreateReceiverSessionGOST28147(sBox, key, iv, session);
}

int CSP::DecryptCFBSessionGOST28147(std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return cs::CryptCFBSessionGOST28147(Calls(*this), data, length, session, false);
}

int CSP::DestroyReceiverSessionGOST28147Ex(CSPHandle* session)
{
    return DestroyReceiverSessionGOST28147(session);
}

int CSP::WrapKeyGOST28147(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                          const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                          const void* a4, const void* a5, const void* w1, const std::uint8_t* w2, std::uint8_t* w3)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return WrapKeyGOST28147Ctx(&c, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5, w1, w2, w3);
    });
}

int CSP::UnwrapKeyGOST28147(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                            const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                            const void* a4, const void* a5, const void* w1, const std::uint8_t* w2, std::uint8_t* w3)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return UnwrapKeyGOST28147Ctx(&c, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5, w1, w2, w3);
    });
}

int CSP::EncryptCFBGOST28147(std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                             std::uint8_t* key, std::uint8_t* iv, int drawKey, int drawIV)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return EncryptCFBGOST28147Ctx(&c, data, length, sBox, key, iv, drawKey, drawIV);
    });
}

int CSP::CreateSenderSessionGOST28147Opt(const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv,
                                         int drawKey, int drawIV, CSPHandle* session)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CreateSenderSessionGOST28147OptCtx(&c, sBox, key, iv, drawKey, drawIV, session);
    });
}

int CSP::DeriveKeyPBKDF2(const void* password, std::uint32_t passwordLength, std::uint8_t* salt,
                         std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key,
                         std::uint32_t keyLength, const void* sBox)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DeriveKeyPBKDF2Ctx(&c, password, passwordLength, salt, saltLength, drawSalt, iterations, key, keyLength,
                                  sBox);
    });
}

int CSP::DeriveKeyPBKDFMAC(const void* password, std::uint32_t passwordLength, std::uint8_t* salt,
                           std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key,
                           std::uint32_t keyLength, const void* sBox)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return DeriveKeyPBKDFMACCtx(&c, password, passwordLength, salt, saltLength, drawSalt, iterations, key,
                                    keyLength, sBox);
    });
}

int CSP::ComputeHMACGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, const std::uint8_t* key, std::uint8_t* mac)
{
    return cs::ComputeHMACGOST34311(Calls(*this), data, length, sBox, startVector, key, mac);
}

int CSP::CompareHMACGOST34311(const std::uint8_t* data, std::uint32_t length, const GOST28147PackedSBox* sBox,
                              const std::uint8_t* startVector, const std::uint8_t* key, const std::uint8_t* expectedMac)
{
    return cs::CompareHMACGOST34311(Calls(*this), data, length, sBox, startVector, key, expectedMac);
}

int CSP::GetSignaturePublicKeyDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GetSignaturePublicKeyDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

int CSP::GetAgreementPublicKeyDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                       const std::uint8_t* privateKey, std::uint8_t* publicKey)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GetAgreementPublicKeyDSTU4145Ctx(&c, field, point, privateKey, publicKey);
    });
}

// ---- context forms ----

int CSP::CheckParametersDSTU4145Ctx(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, int check)
{
    return cs::CheckParametersDSTU4145Ctx(Calls(*this), field, point, check);
}

int CSP::EncryptWithRandomKeyGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                          const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv)
{
    return cs::EncryptWithRandomKeyGOST28147Ctx(Calls(*this), context, data, length, sBox, key, iv);
}

int CSP::SignHashDSTU4145Ctx(CSPContext* context, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                             DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return cs::SignHashDSTU4145Ctx(Calls(*this), context, hash, field, point, privateKey, signature);
}

int CSP::VerifyHashSignatureDSTU4145Ctx(CSPContext* context, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                        DSTU4145PointRecord* point, const std::uint8_t* publicKey,
                                        const std::uint8_t* signature)
{
    return cs::VerifyHashSignatureDSTU4145Ctx(Calls(*this), context, hash, field, point, publicKey, signature);
}

int CSP::EncryptSessionKeyCtx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, std::uint8_t* ukm,
                              const GOST28147PackedSBox* sBox, const void* agreementArgument, std::uint8_t* data,
                              std::uint32_t length, std::uint8_t* mac)
{
    return cs::EncryptSessionKeyCtx(Calls(*this), context, field, point, privateKey, peerPublicKey, ukm, sBox,
                                    agreementArgument, data, length, mac);
}

int CSP::DecryptSessionKeyCtx(CSPContext* context, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey,
                              const std::uint8_t* ukm, const GOST28147PackedSBox* sBox, const void* agreementArgument,
                              std::uint8_t* data, std::uint32_t length, const std::uint8_t* mac)
{
    return cs::DecryptSessionKeyCtx(Calls(*this), context, field, point, privateKey, peerPublicKey, ukm, sBox,
                                    agreementArgument, data, length, mac);
}

int CSP::GenerateSignatureKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                             DSTU4145PointRecord* point, std::uint8_t* privateKey,
                                             std::uint8_t* publicKey)
{
    return cs::GenerateSignatureKeyPairDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

int CSP::GenerateAgreementKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                             DSTU4145PointRecord* point, std::uint8_t* privateKey,
                                             std::uint8_t* publicKey)
{
    return cs::GenerateAgreementKeyPairDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

int CSP::CheckSignatureKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                          DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                          const std::uint8_t* publicKey)
{
    return cs::CheckSignatureKeyPairDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

int CSP::CheckAgreementKeyPairDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                          DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                          const std::uint8_t* publicKey)
{
    return cs::CheckAgreementKeyPairDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

int CSP::CreateSenderSessionGOST28147Ctx(CSPContext* context, const GOST28147PackedSBox* sBox, std::uint8_t* key,
                                         std::uint8_t* iv, int draw, CSPHandle* session)
{
    return cs::CreateSenderSessionGOST28147Ctx(Calls(*this), context, sBox, key, iv, draw, session);
}

int CSP::EncryptSessionGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return cs::CryptSessionGOST28147Ctx(Calls(*this), context, data, length, session);
}

int CSP::EncryptSessionGOST28147WithIVCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                          std::uint32_t ivFirst, std::uint32_t ivLast, CSPHandle session)
{
    return cs::CryptSessionGOST28147WithIVCtx(Calls(*this), context, data, length, ivFirst, ivLast, session);
}

int CSP::DestroySenderSessionGOST28147Ctx(CSPContext* context, CSPHandle* session)
{
    return cs::DestroySessionGOST28147Ctx(Calls(*this), context, session);
}

int CSP::CreateReceiverSessionGOST28147Ctx(CSPContext* context, const GOST28147PackedSBox* sBox,
                                           const std::uint8_t* key, const std::uint8_t* iv, CSPHandle* session)
{
    return cs::CreateReceiverSessionGOST28147Ctx(Calls(*this), context, sBox, key, iv, session);
}

int CSP::DecryptSessionGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length, CSPHandle session)
{
    return cs::CryptSessionGOST28147Ctx(Calls(*this), context, data, length, session);
}

int CSP::DecryptSessionGOST28147WithIVCtx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                          std::uint32_t ivFirst, std::uint32_t ivLast, CSPHandle session)
{
    return cs::CryptSessionGOST28147WithIVCtx(Calls(*this), context, data, length, ivFirst, ivLast, session);
}

int CSP::DestroyReceiverSessionGOST28147Ctx(CSPContext* context, CSPHandle* session)
{
    return cs::DestroySessionGOST28147Ctx(Calls(*this), context, session);
}

int CSP::HashDataGOST34311Ctx(CSPContext* context, const std::uint8_t* data, std::uint32_t bitLength,
                              const GOST28147PackedSBox* sBox, const std::uint8_t* startVector, std::uint8_t* hash)
{
    return cs::HashDataGOST34311Ctx(Calls(*this), context, data, bitLength, sBox, startVector, hash);
}

int CSP::SetHardwareSBoxCtx(CSPContext* context, const void* argument1, const void* argument2, const void* argument3,
                            const std::uint8_t* sBox)
{
    return cs::SetHardwareSBoxCtx(Calls(*this), context, argument1, argument2, argument3, sBox);
}

int CSP::EncryptWithRandomKeyCFBGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                             const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv)
{
    return cs::EncryptWithRandomKeyCFBGOST28147Ctx(Calls(*this), context, data, length, sBox, key, iv);
}

int CSP::CreateSenderSessionGOST28147ExCtx(CSPContext* context, const GOST28147PackedSBox* sBox, std::uint8_t* key,
                                           std::uint8_t* iv, int draw, CSPHandle* session)
{
    // The gamma-with-feedback sender is made the same way as the gamma one.
    return cs::CreateSenderSessionGOST28147Ctx(Calls(*this), context, sBox, key, iv, draw, session);
}

int CSP::WrapKeyGOST28147Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                             const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                             const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                             const std::uint8_t* w2, std::uint8_t* w3)
{
    return cs::WrapKeyGOST28147Ctx(Calls(*this), context, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5,
                                   w1, w2, w3);
}

int CSP::UnwrapKeyGOST28147Ctx(CSPContext* context, DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                               const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                               const std::uint8_t* a2, std::uint32_t a3, const void* a4, const void* a5, const void* w1,
                               const std::uint8_t* w2, std::uint8_t* w3)
{
    return cs::UnwrapKeyGOST28147Ctx(Calls(*this), context, field, point, privateKey, peerPublicKey, a1, a2, a3, a4, a5,
                                     w1, w2, w3);
}

int CSP::EncryptCFBGOST28147Ctx(CSPContext* context, std::uint8_t* data, std::uint32_t length,
                                const GOST28147PackedSBox* sBox, std::uint8_t* key, std::uint8_t* iv, int drawKey,
                                int drawIV)
{
    return cs::EncryptCFBGOST28147Ctx(Calls(*this), context, data, length, sBox, key, iv, drawKey, drawIV);
}

int CSP::CreateSenderSessionGOST28147OptCtx(CSPContext* context, const GOST28147PackedSBox* sBox, std::uint8_t* key,
                                            std::uint8_t* iv, int drawKey, int drawIV, CSPHandle* session)
{
    return cs::CreateSenderSessionGOST28147OptCtx(Calls(*this), context, sBox, key, iv, drawKey, drawIV, session);
}

int CSP::DeriveKeyPBKDF2Ctx(CSPContext* context, const void* password, std::uint32_t passwordLength, std::uint8_t* salt,
                            std::uint32_t saltLength, int drawSalt, std::uint32_t iterations, std::uint8_t* key,
                            std::uint32_t keyLength, const void* sBox)
{
    return cs::DeriveKeyPBKDF2Ctx(Calls(*this), context, password, passwordLength, salt, saltLength, drawSalt,
                                  iterations, key, keyLength, sBox);
}

int CSP::DeriveKeyPBKDFMACCtx(CSPContext* context, const void* password, std::uint32_t passwordLength,
                              std::uint8_t* salt, std::uint32_t saltLength, int drawSalt, std::uint32_t iterations,
                              std::uint8_t* key, std::uint32_t keyLength, const void* sBox)
{
    return cs::DeriveKeyPBKDFMACCtx(Calls(*this), context, password, passwordLength, salt, saltLength, drawSalt,
                                    iterations, key, keyLength, sBox);
}

int CSP::GetSignaturePublicKeyDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                          DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                          std::uint8_t* publicKey)
{
    return cs::GetSignaturePublicKeyDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

int CSP::GetAgreementPublicKeyDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field,
                                          DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                                          std::uint8_t* publicKey)
{
    return cs::GetAgreementPublicKeyDSTU4145Ctx(Calls(*this), context, field, point, privateKey, publicKey);
}

// ---- two-party signing ----

int CSP::MakeCommonKeyQDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                const std::uint8_t* firstPublicKey, const std::uint8_t* secondPublicKey,
                                std::uint8_t* commonPublicKey)
{
    return cs::MakeCommonKeyQDSTU4145(Calls(*this), field, point, firstPublicKey, secondPublicKey, commonPublicKey);
}

int CSP::MakeSignRDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* oneTimeValue,
                           std::uint8_t* r)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return MakeSignRDSTU4145Ctx(&c, field, point, oneTimeValue, r);
    });
}

int CSP::MakeSignRDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              std::uint8_t* oneTimeValue, std::uint8_t* r)
{
    return cs::MakeSignRDSTU4145Ctx(Calls(*this), context, field, point, oneTimeValue, r);
}

int CSP::MakeCommonSignRDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* hash,
                                 const std::uint8_t* otherR, std::uint8_t* oneTimeValue, std::uint8_t* commonR)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return MakeCommonSignRDSTU4145Ctx(&c, field, point, hash, otherR, oneTimeValue, commonR);
    });
}

int CSP::MakeCommonSignRDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                    const std::uint8_t* hash, const std::uint8_t* otherR, std::uint8_t* oneTimeValue,
                                    std::uint8_t* commonR)
{
    return cs::MakeCommonSignRDSTU4145Ctx(Calls(*this), context, field, point, hash, otherR, oneTimeValue, commonR);
}

int CSP::MakeSignSDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                           const std::uint8_t* oneTimeValue, const std::uint8_t* commonR, std::uint8_t* s)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return MakeSignSDSTU4145Ctx(&c, field, point, privateKey, oneTimeValue, commonR, s);
    });
}

int CSP::MakeSignSDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                              const std::uint8_t* commonR, std::uint8_t* s)
{
    return cs::MakeSignSDSTU4145Ctx(Calls(*this), context, field, point, privateKey, oneTimeValue, commonR, s);
}

int CSP::MakeCommonSignDSTU4145(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                                const std::uint8_t* commonR, const std::uint8_t* otherS, std::uint8_t* signature)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return MakeCommonSignDSTU4145Ctx(&c, field, point, privateKey, oneTimeValue, commonR, otherS, signature);
    });
}

int CSP::MakeCommonSignDSTU4145Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                   const std::uint8_t* privateKey, const std::uint8_t* oneTimeValue,
                                   const std::uint8_t* commonR, const std::uint8_t* otherS, std::uint8_t* signature)
{
    return cs::MakeCommonSignDSTU4145Ctx(Calls(*this), context, field, point, privateKey, oneTimeValue, commonR, otherS,
                                         signature);
}

int CSP::MakeCommonSignRDSTU4145Ex(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                   std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* otherR,
                                   std::uint8_t* oneTimeValue, std::uint8_t* commonR)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return MakeCommonSignRDSTU4145ExCtx(&c, field, point, hashLength, hash, otherR, oneTimeValue, commonR);
    });
}

int CSP::MakeCommonSignRDSTU4145ExCtx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                                      std::uint32_t hashLength, const std::uint8_t* hash, const std::uint8_t* otherR,
                                      std::uint8_t* oneTimeValue, std::uint8_t* commonR)
{
    return cs::MakeCommonSignRDSTU4145ExCtx(Calls(*this), context, field, point, hashLength, hash, otherR, oneTimeValue,
                                            commonR);
}

// ---- signatures with an explicit hash length ----

int CSP::SignHashDSTU4145Ex(std::uint32_t hashLength, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                            DSTU4145PointRecord* point, const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return SignHashDSTU4145ExCtx(&c, hashLength, hash, field, point, privateKey, signature);
    });
}

int CSP::SignHashDSTU4145ExCtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                               const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                               const std::uint8_t* privateKey, std::uint8_t* signature)
{
    return cs::SignHashDSTU4145ExCtx(Calls(*this), context, hashLength, hash, field, point, privateKey, signature);
}

int CSP::VerifySignatureDSTU4145(std::uint32_t hashLength, const std::uint8_t* hash, const DSTU4145FieldRecord* field,
                                 DSTU4145PointRecord* point, const std::uint8_t* publicKey,
                                 const std::uint8_t* signature)
{
    return cs::VerifySignatureDSTU4145(Calls(*this), hashLength, hash, field, point, publicKey, signature);
}

// ---- DSTU 7624 key wrapping ----

int CSP::WrapKeyDSTU7624(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                         const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                         const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return WrapKeyDSTU7624Ctx(&c, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2, w3, w4, w5);
    });
}

int CSP::UnwrapKeyDSTU7624(const DSTU4145FieldRecord* field, DSTU4145PointRecord* point, const std::uint8_t* privateKey,
                           const std::uint8_t* peerPublicKey, int a1, const std::uint8_t* a2, std::uint32_t a3,
                           const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return UnwrapKeyDSTU7624Ctx(&c, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2, w3, w4, w5);
    });
}

int CSP::WrapKeyDSTU7624Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                            const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                            const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                            const void* w3, std::uint8_t* w4, void* w5)
{
    return cs::WrapKeyDSTU7624Ctx(Calls(*this), context, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2,
                                  w3, w4, w5);
}

int CSP::UnwrapKeyDSTU7624Ctx(CSPContext* context, const DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              const std::uint8_t* privateKey, const std::uint8_t* peerPublicKey, int a1,
                              const std::uint8_t* a2, std::uint32_t a3, const void* w1, const std::uint8_t* w2,
                              const void* w3, std::uint8_t* w4, void* w5)
{
    return cs::UnwrapKeyDSTU7624Ctx(Calls(*this), context, field, point, privateKey, peerPublicKey, a1, a2, a3, w1, w2,
                                    w3, w4, w5);
}

int CSP::WrapKeyDSTU7624Dense(const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3, std::uint32_t d4,
                              const std::uint8_t* d5, std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8,
                              const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return WrapKeyDSTU7624DenseCtx(&c, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5);
    });
}

int CSP::WrapKeyDSTU7624DenseCtx(CSPContext* context, const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3,
                                 std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6, const std::uint8_t* d7,
                                 std::uint32_t d8, const void* w1, const std::uint8_t* w2, const void* w3,
                                 std::uint8_t* w4, void* w5)
{
    return cs::WrapKeyDSTU7624DenseCtx(Calls(*this), context, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5);
}

int CSP::UnwrapKeyDSTU7624Dense(const std::uint8_t* d1, std::uint32_t d2, const std::uint8_t* d3, std::uint32_t d4,
                                const std::uint8_t* d5, std::uint32_t d6, const std::uint8_t* d7, std::uint32_t d8,
                                const void* w1, const std::uint8_t* w2, const void* w3, std::uint8_t* w4, void* w5)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return UnwrapKeyDSTU7624DenseCtx(&c, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5);
    });
}

int CSP::UnwrapKeyDSTU7624DenseCtx(CSPContext* context, const std::uint8_t* d1, std::uint32_t d2,
                                   const std::uint8_t* d3, std::uint32_t d4, const std::uint8_t* d5, std::uint32_t d6,
                                   const std::uint8_t* d7, std::uint32_t d8, const void* w1, const std::uint8_t* w2,
                                   const void* w3, std::uint8_t* w4, void* w5)
{
    return cs::UnwrapKeyDSTU7624DenseCtx(Calls(*this), context, d1, d2, d3, d4, d5, d6, d7, d8, w1, w2, w3, w4, w5);
}

// ---- dense records ----

int CSP::QueryParametersDSTU4145(std::uint8_t* record, std::uint32_t recordSize)
{
    return QueryParametersDSTU4145Ctx(record, recordSize, 1);
}

int CSP::QueryParametersDSTU4145Ctx(std::uint8_t* record, std::uint32_t recordSize, int check)
{
    return cs::QueryParametersDSTU4145Ctx(Calls(*this), record, recordSize, check);
}

int CSP::GenerateKeyPairDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize, std::uint8_t* privateKey,
                                      std::uint32_t privateKeySize, std::uint8_t* publicKey,
                                      std::uint32_t publicKeySize)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GenerateKeyPairDSTU4145SizedCtx(&c, record, recordSize, privateKey, privateKeySize, publicKey,
                                               publicKeySize);
    });
}

int CSP::GenerateKeyPairDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                         std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                         std::uint8_t* publicKey, std::uint32_t publicKeySize)
{
    return cs::GenerateKeyPairDSTU4145SizedCtx(Calls(*this), context, record, recordSize, privateKey, privateKeySize,
                                               publicKey, publicKeySize);
}

int CSP::CheckKeyPairDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize, const std::uint8_t* privateKey,
                                   std::uint32_t privateKeySize, const std::uint8_t* publicKey,
                                   std::uint32_t publicKeySize)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return CheckKeyPairDSTU4145SizedCtx(&c, record, recordSize, privateKey, privateKeySize, publicKey,
                                            publicKeySize);
    });
}

int CSP::CheckKeyPairDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                      const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                      const std::uint8_t* publicKey, std::uint32_t publicKeySize)
{
    return cs::CheckKeyPairDSTU4145SizedCtx(Calls(*this), context, record, recordSize, privateKey, privateKeySize,
                                            publicKey, publicKeySize);
}

int CSP::GetPublicKeyDSTU4145Sized(std::uint8_t* record, std::uint32_t recordSize, const std::uint8_t* privateKey,
                                   std::uint32_t privateKeySize, std::uint8_t* publicKey, std::uint32_t publicKeySize)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return GetPublicKeyDSTU4145SizedCtx(&c, record, recordSize, privateKey, privateKeySize, publicKey,
                                            publicKeySize);
    });
}

int CSP::GetPublicKeyDSTU4145SizedCtx(CSPContext* context, std::uint8_t* record, std::uint32_t recordSize,
                                      const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                                      std::uint8_t* publicKey, std::uint32_t publicKeySize)
{
    return cs::GetPublicKeyDSTU4145SizedCtx(Calls(*this), context, record, recordSize, privateKey, privateKeySize,
                                            publicKey, publicKeySize);
}

int CSP::SignHashDSTU4145Sized(std::uint32_t hashLength, const std::uint8_t* hash, std::uint8_t* record,
                               std::uint32_t recordSize, const std::uint8_t* privateKey, std::uint32_t privateKeySize,
                               std::uint8_t* signature, std::uint32_t signatureSize)
{
    return Plain([&] {
        CSPContext c = PlainContext();
        return SignHashDSTU4145SizedCtx(&c, hashLength, hash, record, recordSize, privateKey, privateKeySize, signature,
                                        signatureSize);
    });
}

int CSP::SignHashDSTU4145SizedCtx(CSPContext* context, std::uint32_t hashLength, const std::uint8_t* hash,
                                  std::uint8_t* record, std::uint32_t recordSize, const std::uint8_t* privateKey,
                                  std::uint32_t privateKeySize, std::uint8_t* signature, std::uint32_t signatureSize)
{
    return cs::SignHashDSTU4145SizedCtx(Calls(*this), context, hashLength, hash, record, recordSize, privateKey,
                                        privateKeySize, signature, signatureSize);
}

int CSP::VerifySignatureDSTU4145Sized(std::uint32_t hashLength, const std::uint8_t* hash, std::uint8_t* record,
                                      std::uint32_t recordSize, const std::uint8_t* publicKey,
                                      std::uint32_t publicKeySize, const std::uint8_t* signature,
                                      std::uint32_t signatureSize)
{
    return cs::VerifySignatureDSTU4145Sized(Calls(*this), hashLength, hash, record, recordSize, publicKey,
                                            publicKeySize, signature, signatureSize);
}
