// DSTU 7624 entries of cgbase.so over the project's cipher module. Parameter
// codes are the module's own; ECB lengths arrive in bytes and must be whole
// blocks.
#include <cstring>

#include "CGExport.h"
#include "crypto/DSTU7624Modes.h"

using cglib::InjectedFailure;

namespace {

DSTU7624Context* Ctx(void* state)
{
    return static_cast<DSTU7624Context*>(state);
}

// Whole blocks in `length` bytes, or -1 when the length is not a multiple
// of the block (or no block size is set).
long long BlocksOf(DSTU7624Context* context, uint32_t length)
{
    const uint32_t blockBytes = context->blockWords * 8;
    if (blockBytes == 0 || length % blockBytes != 0) return -1;
    return length / blockBytes;
}

}  // namespace

CG_EXPORT int DSTU7624SelfTest(void)
{
    return DSTU7624TestKeySchedule() && DSTU7624TestModes() ? 1 : 0;
}
CG_SHAPE(DSTU7624SelfTest, CGSelfTestFn);

CG_EXPORT void* DSTU7624AcquireState(void)
{
    if (InjectedFailure("DSTU7624AcquireState")) return nullptr;
    return DSTU7624CreateContext();
}
CG_SHAPE(DSTU7624AcquireState, CGAcquireStateFn);

CG_EXPORT int DSTU7624ReleaseState(void* state)
{
    DSTU7624FreeContext(Ctx(state));
    return 1;
}
CG_SHAPE(DSTU7624ReleaseState, CGReleaseStateFn);

CG_EXPORT int DSTU7624SetStateParameters(void* state, const void* value, uint32_t code)
{
    if (state == nullptr || value == nullptr || InjectedFailure("DSTU7624SetStateParameters")) return 0;
    return DSTU7624SetParameter(Ctx(state), value, code);
}
CG_SHAPE(DSTU7624SetStateParameters, CGSetStateParametersFn);

CG_EXPORT int DSTU7624GetStateParameters(void* state, void* buffer, uint32_t code)
{
    if (state == nullptr || buffer == nullptr || InjectedFailure("DSTU7624GetStateParameters")) return 0;
    return DSTU7624GetParameter(Ctx(state), buffer, code);
}
CG_SHAPE(DSTU7624GetStateParameters, CGGetStateParametersFn);

CG_EXPORT int DSTU7624EncryptDataECBMode(uint8_t* data, uint32_t length, void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataECBMode")) return 0;
    long long blocks = BlocksOf(Ctx(state), length);
    return blocks < 0 ? 0 : DSTU7624EncryptECB(data, static_cast<uint32_t>(blocks), Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataECBMode, CGDSTU7624ECBFn);

CG_EXPORT int DSTU7624DecryptDataECBMode(uint8_t* data, uint32_t length, void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataECBMode")) return 0;
    long long blocks = BlocksOf(Ctx(state), length);
    return blocks < 0 ? 0 : DSTU7624DecryptECB(data, static_cast<uint32_t>(blocks), Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataECBMode, CGDSTU7624ECBFn);

#define CG_STREAM_ENTRY(name, function)                                                                                \
    CG_EXPORT int name(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, void* state)                                \
    {                                                                                                                  \
        if (InjectedFailure(#name)) return 0;                                                                          \
        return function(data, bitsLow, bitsHigh, Ctx(state));                                                          \
    }                                                                                                                  \
    CG_SHAPE(name, CGDSTU7624StreamFn)

CG_STREAM_ENTRY(DSTU7624EncryptDataCTRMode, DSTU7624EncryptCTR);
CG_STREAM_ENTRY(DSTU7624DecryptDataCTRMode, DSTU7624DecryptCTR);
CG_STREAM_ENTRY(DSTU7624EncryptDataOFBMode, DSTU7624EncryptOFB);
CG_STREAM_ENTRY(DSTU7624DecryptDataOFBMode, DSTU7624DecryptOFB);
CG_STREAM_ENTRY(DSTU7624EncryptDataXTSMode, DSTU7624EncryptXTS);
CG_STREAM_ENTRY(DSTU7624DecryptDataXTSMode, DSTU7624DecryptXTS);

CG_EXPORT int DSTU7624EncryptDataCFBMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, uint32_t feedbackBits,
                                         void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataCFBMode")) return 0;
    return DSTU7624EncryptCFB(data, bitsLow, bitsHigh, feedbackBits, Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataCFBMode, CGDSTU7624CFBFn);

CG_EXPORT int DSTU7624DecryptDataCFBMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, uint32_t feedbackBits,
                                         void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataCFBMode")) return 0;
    return DSTU7624DecryptCFB(data, bitsLow, bitsHigh, feedbackBits, Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataCFBMode, CGDSTU7624CFBFn);

#define CG_MAC_ENTRY(name, function)                                                                                   \
    CG_EXPORT int name(const uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, void* state)                          \
    {                                                                                                                  \
        if (InjectedFailure(#name)) return 0;                                                                          \
        return function(data, bitsLow, bitsHigh, Ctx(state));                                                          \
    }                                                                                                                  \
    CG_SHAPE(name, CGDSTU7624MACFn)

namespace {

// CMAC of the empty message, which the module refuses: one block that is all
// padding, masked with the subkey of an incomplete block, E(1).
bool EmptyCMAC(DSTU7624Context* context)
{
    const uint32_t blockBytes = context->blockWords * 8;
    if (blockBytes == 0) return false;
    uint8_t subkey[64] = {1}, last[64] = {0x80};
    if (!DSTU7624EncryptECB(subkey, 1, context)) return false;
    for (uint32_t i = 0; i < blockBytes; ++i) last[i] ^= subkey[i];
    if (!DSTU7624EncryptECB(last, 1, context)) return false;
    std::memset(context->mac, 0, sizeof context->mac);
    std::memcpy(context->mac, last, blockBytes);
    context->macMode = DSTU7624_MAC_MODE_CMAC;
    context->flags |= DSTU7624_FLAG_MAC_READY;
    return true;
}

int ComputeCMAC(const uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, DSTU7624Context* context)
{
    if ((bitsLow | bitsHigh) != 0) return DSTU7624ComputeCMAC(data, bitsLow, bitsHigh, context);
    return EmptyCMAC(context) ? 1 : 0;
}

int VerifyCMAC(const uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, DSTU7624Context* context)
{
    if ((bitsLow | bitsHigh) != 0) return DSTU7624VerifyCMAC(data, bitsLow, bitsHigh, context);
    const uint32_t needed = DSTU7624_FLAG_MAC_BITS | DSTU7624_FLAG_EXPECTED_MAC;
    if ((context->flags & needed) != needed || !EmptyCMAC(context)) return 0;
    const uint32_t bytes = context->macBits / 8;
    uint8_t difference = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        difference |= reinterpret_cast<const uint8_t*>(context->mac)[i] ^ context->expectedMac[i];
    return difference == 0 ? 1 : 0;
}

}  // namespace

CG_MAC_ENTRY(DSTU7624GetDataCMAC, ComputeCMAC);
CG_MAC_ENTRY(DSTU7624CheckDataCMAC, VerifyCMAC);
CG_MAC_ENTRY(DSTU7624GetDataGMAC, DSTU7624ComputeGMAC);
CG_MAC_ENTRY(DSTU7624CheckDataGMAC, DSTU7624VerifyGMAC);

CG_EXPORT int DSTU7624EncryptDataCBCMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, uint32_t bufferBitsLow,
                                         uint32_t bufferBitsHigh, void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataCBCMode")) return 0;
    return DSTU7624EncryptCBC(data, bitsLow, bitsHigh, bufferBitsLow, bufferBitsHigh, Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataCBCMode, CGDSTU7624PadEncryptFn);

CG_EXPORT int DSTU7624DecryptDataCBCMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, int removePadding,
                                         CryptoBitLength* resultBits, void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataCBCMode")) return 0;
    return DSTU7624DecryptCBC(data, bitsLow, bitsHigh, removePadding, resultBits, Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataCBCMode, CGDSTU7624PadDecryptFn);

CG_EXPORT int DSTU7624EncryptDataKWMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, uint32_t bufferBitsLow,
                                        uint32_t bufferBitsHigh, void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataKWMode")) return 0;
    return DSTU7624WrapKey(data, bitsLow, bitsHigh, bufferBitsLow, bufferBitsHigh, Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataKWMode, CGDSTU7624PadEncryptFn);

CG_EXPORT int DSTU7624DecryptDataKWMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh, int removePadding,
                                        CryptoBitLength* resultBits, void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataKWMode")) return 0;
    return DSTU7624UnwrapKey(data, bitsLow, bitsHigh, removePadding, resultBits, Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataKWMode, CGDSTU7624PadDecryptFn);

CG_EXPORT int DSTU7624EncryptDataGCMMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh,
                                         const uint8_t* associatedData, uint32_t associatedBitsLow,
                                         uint32_t associatedBitsHigh, void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataGCMMode")) return 0;
    return DSTU7624EncryptGCM(data, bitsLow, bitsHigh, associatedData, associatedBitsLow, associatedBitsHigh,
                              Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataGCMMode, CGDSTU7624GCMFn);

CG_EXPORT int DSTU7624DecryptDataGCMMode(uint8_t* data, uint32_t bitsLow, uint32_t bitsHigh,
                                         const uint8_t* associatedData, uint32_t associatedBitsLow,
                                         uint32_t associatedBitsHigh, void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataGCMMode")) return 0;
    return DSTU7624DecryptGCM(data, bitsLow, bitsHigh, associatedData, associatedBitsLow, associatedBitsHigh,
                              Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataGCMMode, CGDSTU7624GCMFn);

CG_EXPORT int DSTU7624EncryptDataCCMMode(uint8_t* buffer, uint32_t plainBytes, uint32_t bufferBytes,
                                         const uint8_t* associatedData, uint32_t associatedBytes,
                                         uint32_t lengthFieldBytes, void* state)
{
    if (InjectedFailure("DSTU7624EncryptDataCCMMode")) return 0;
    return DSTU7624EncryptCCM(buffer, plainBytes, bufferBytes, associatedData, associatedBytes, lengthFieldBytes,
                              Ctx(state));
}
CG_SHAPE(DSTU7624EncryptDataCCMMode, CGDSTU7624EncryptCCMFn);

CG_EXPORT int DSTU7624DecryptDataCCMMode(uint8_t* buffer, uint32_t bufferBytes, const uint8_t* associatedData,
                                         uint32_t associatedBytes, uint32_t lengthFieldBytes, void* state)
{
    if (InjectedFailure("DSTU7624DecryptDataCCMMode")) return 0;
    return DSTU7624DecryptCCM(buffer, bufferBytes, associatedData, associatedBytes, lengthFieldBytes, Ctx(state));
}
CG_SHAPE(DSTU7624DecryptDataCCMMode, CGDSTU7624DecryptCCMFn);
