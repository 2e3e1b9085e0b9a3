#include "pkcs11/PKCS11Token.h"

#include <cstring>

#include "pkcs11/PKCS11DriverSeam.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Text.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

const char MANUFACTURER[] = "JSC_TVR";
const char MODEL[] = "Q.uor_Korvo-7Q";

const CK_MECHANISM_TYPE BASE_MECHANISMS[18] = {CKM_GOST28147_CIPHER_1, CKM_GOST28147_CIPHER_2,
                                               CKM_GOST28147_CIPHER_3, CKM_GOST28147_MAC,
                                               CKM_GOST28147_KEY_WRAP, CKM_GOST34311,
                                               CKM_DSTU4145,           CKM_DSTU4145_GOST34311,
                                               CKM_GOST28147_KEY_GEN,  CKM_DSTU4145_KEY_PAIR_GEN,
                                               CKM_DSTU4145_DERIVE,    CKM_DSTU4145_DERIVE_EXT,
                                               CKM_DIGEST_ALT_256,     CKM_DSTU7564_256,
                                               CKM_DSTU7564_384,       CKM_DSTU7564_512,
                                               CKM_DSTU4145_ALT,       CKM_DSTU4145_DSTU7564_256};
const CK_MECHANISM_TYPE HASH_MECHANISMS[2] = {CKM_DSTU4145_DSTU7564_384, CKM_DSTU4145_DSTU7564_512};
const CK_MECHANISM_TYPE CIPHER_MECHANISMS[5] = {CKM_DSTU7624_KEY_GEN, CKM_DSTU7624_KEY_WRAP, CKM_VENDOR_EXT_1,
                                                CKM_VENDOR_EXT_2, CKM_VENDOR_EXT_3};

// Text into a blank-padded field.
CK_RV PadText(CK_UTF8CHAR* field, CK_ULONG size, const char* text, CK_ULONG length)
{
    std::memset(field, ' ', size);
    if (length == 0) return CKR_OK;
    CK_ULONG written = 0;
    return Cp1251ToUtf8(text, length, reinterpret_cast<char*>(field), &written, size);
}

// Borrows a pool token manager of the slot for a scope.
class Borrowed {
public:
    explicit Borrowed(std::uint32_t slotId)
    {
        PKCS11Entity* entity = nullptr;
        result_ = GetEntity(&entity);
        if (result_ == CKR_OK) result_ = entity->GetTokenManagerPool(&pool_);
        if (result_ == CKR_OK) result_ = pool_->Acquire(slotId, &manager_);
    }
    ~Borrowed()
    {
        if (result_ == CKR_OK) pool_->Release(manager_);
    }
    CK_RV Result() const { return result_; }
    PKCS11TokenManager* Manager() const { return manager_; }

private:
    CK_RV result_;
    PKCS11TokenManagerPool* pool_ = nullptr;
    PKCS11TokenManager* manager_ = nullptr;
};

}  // namespace

PKCS11Token::PKCS11Token(std::uint32_t slotId) : device_(CreateRegisteredDevice()), slotId_(slotId) {}

PKCS11Token::~PKCS11Token()
{
    if (device_ != nullptr) device_->Release();
}

CK_RV PKCS11Token::GetDevice(PKCS11Device** device)
{
    if (device == nullptr) return CKR_ARGUMENTS_BAD;
    if (device_ == nullptr) return CKR_DEVICE_ERROR;
    *device = device_;
    return CKR_OK;
}

CK_RV PKCS11Token::GetTokenInfo(CK_TOKEN_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    Borrowed borrowed(slotId_);
    if (borrowed.Result() != CKR_OK) return borrowed.Result();
    return BuildTokenInfo(borrowed.Manager(), info);
}

std::uint32_t CleanTokenLabel(std::uint8_t* label, std::uint32_t length)
{
    std::uint32_t n = length;
    bool pending = false;
    std::uint32_t start = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint8_t c = label[i];
        if (c == 0) {
            n = i;
            break;
        }
        if (c == ' ') continue;
        if (c == '?') {
            if (!pending) {
                pending = true;
                start = i;
            }
            continue;
        }
        if (pending) {
            std::memmove(label + start, label + i, n - i);
            n -= i - start;
            i = start;  // the moved character; scanning goes on after it
            pending = false;
        }
    }
    if (pending) n = start;
    return n;
}

CK_RV PKCS11Token::BuildTokenInfo(PKCS11TokenManager* manager, CK_TOKEN_INFO* info)
{
    if (info == nullptr || manager == nullptr) return CKR_ARGUMENTS_BAD;
    PKCS11Token* token = nullptr;
    PKCS11Device* device = nullptr;
    PKCS11TokenConnector* connector = nullptr;
    PKCS11TokenStorage* storage = nullptr;
    CK_RV rv;
    if ((rv = manager->GetToken(&token)) != CKR_OK || (rv = token->GetDevice(&device)) != CKR_OK ||
        (rv = manager->GetConnector(&connector)) != CKR_OK || (rv = manager->GetStorage(&storage)) != CKR_OK)
        return rv;
    if ((rv = connector->Open()) != CKR_OK) return rv;
    struct Closer {
        PKCS11TokenConnector* c;
        ~Closer() { c->Close(); }
    } closer{connector};
    if (device->UsesTokenContexts() && (rv = device->SynchronizeContexts(0, 0, 0, 0, 1)) != CKR_OK) return rv;
    std::memset(info, 0, sizeof(*info));
    bool initialized = false;
    if (storage->IsInitialized(&initialized) != CKR_OK) return CKR_DEVICE_ERROR;
    if (!initialized) return CKR_TOKEN_NOT_RECOGNIZED;
    TokenRecordBytes record;
    if ((rv = storage->ReadTokenRecord(&record)) != CKR_OK) return rv;

    // An empty cleaned label shows as blanks; a long one is cut at a whole
    // character, never failing the call.
    std::uint8_t label[TOKEN_RECORD_LABEL_BYTES];
    std::memcpy(label, record.get() + TOKEN_RECORD_LABEL, sizeof(label));
    const std::uint32_t n = CleanTokenLabel(label, sizeof(label));
    if (PadText(info->label, sizeof(info->label), reinterpret_cast<const char*>(label), n) != CKR_OK)
        return CKR_DEVICE_ERROR;
    if ((rv = PadText(info->manufacturerID, sizeof(info->manufacturerID), MANUFACTURER, 7)) != CKR_OK ||
        (rv = PadText(info->model, sizeof(info->model), MODEL, 14)) != CKR_OK)
        return rv;

    info->flags = TokenRecordFlags(record.get());
    PKCS11Entity* entity = nullptr;
    PKCS11SessionManager* sessions = nullptr;
    if ((rv = GetEntity(&entity)) != CKR_OK || (rv = entity->GetSessionManager(&sessions)) != CKR_OK) return rv;
    info->ulMaxSessionCount = 256;
    info->ulSessionCount = sessions->GetSessionCount();
    info->ulMaxRwSessionCount = 256;
    info->ulRwSessionCount = sessions->GetRwSessionCount();
    info->ulMaxPinLen = 32;
    info->ulMinPinLen = 1;
    info->hardwareVersion = {1, 0};
    info->firmwareVersion = {1, 1};
    return device->FillTokenInfo(record.get(), info);
}

CK_RV PKCS11Token::GetMechanismList(CK_MECHANISM_TYPE* list, CK_ULONG* count)
{
    if (count == nullptr) return CKR_ARGUMENTS_BAD;
    bool hashes = false;
    bool ciphers = false;
    {
        Borrowed borrowed(slotId_);
        if (borrowed.Result() != CKR_OK) return borrowed.Result();
        PKCS11Token* token = nullptr;
        PKCS11Device* device = nullptr;
        PKCS11TokenConnector* connector = nullptr;
        CK_RV rv;
        if ((rv = borrowed.Manager()->GetToken(&token)) != CKR_OK || (rv = token->GetDevice(&device)) != CKR_OK ||
            (rv = borrowed.Manager()->GetConnector(&connector)) != CKR_OK || (rv = connector->Open()) != CKR_OK)
            return rv;
        hashes = device->HasExtendedHashes() == CKR_OK;
        ciphers = device->HasExtendedCiphers() == CKR_OK;
        connector->Close();
    }
    const CK_ULONG required = 18 + (hashes ? 2 : 0) + (ciphers ? 5 : 0);
    const CK_ULONG given = *count;
    *count = required;
    if (list == nullptr) return CKR_OK;
    if (given < required) return CKR_BUFFER_TOO_SMALL;
    CK_ULONG at = 0;
    for (CK_MECHANISM_TYPE m : BASE_MECHANISMS) list[at++] = m;
    if (hashes)
        for (CK_MECHANISM_TYPE m : HASH_MECHANISMS) list[at++] = m;
    if (ciphers)
        for (CK_MECHANISM_TYPE m : CIPHER_MECHANISMS) list[at++] = m;
    return CKR_OK;
}

CK_RV GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    const CK_FLAGS ec = CKF_EC_F_2M | CKF_EC_ECPARAMETERS | CKF_EC_NAMEDCURVE | CKF_EC_COMPRESS;
    switch (type) {
    case CKM_GOST28147_CIPHER_1:
    case CKM_GOST28147_CIPHER_2:
    case CKM_GOST28147_CIPHER_3:
        *info = {32, 32, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT};
        return CKR_OK;
    case CKM_GOST28147_MAC:
        *info = {32, 32, CKF_HW | CKF_SIGN | CKF_VERIFY};
        return CKR_OK;
    case CKM_GOST28147_KEY_WRAP:
    case CKM_DSTU7624_KEY_WRAP:
        *info = {32, 32, CKF_HW | CKF_WRAP | CKF_UNWRAP};
        return CKR_OK;
    case CKM_GOST34311:
    case CKM_DIGEST_ALT_256:
    case CKM_DSTU7564_256:
    case CKM_DSTU7564_384:
    case CKM_DSTU7564_512:
        *info = {0, 0, CKF_HW | CKF_DIGEST};
        return CKR_OK;
    case CKM_DSTU4145:
    case CKM_DSTU4145_GOST34311:
    case CKM_DSTU4145_ALT:
    case CKM_DSTU4145_DSTU7564_256:
    case CKM_DSTU4145_DSTU7564_384:
    case CKM_DSTU4145_DSTU7564_512:
        *info = {163, 509, CKF_HW | CKF_SIGN | CKF_VERIFY | ec};
        return CKR_OK;
    case CKM_GOST28147_KEY_GEN:
    case CKM_DSTU7624_KEY_GEN:
        *info = {32, 32, CKF_HW | CKF_GENERATE};
        return CKR_OK;
    case CKM_DSTU4145_KEY_PAIR_GEN:
        *info = {163, 509, CKF_HW | CKF_GENERATE_KEY_PAIR | ec};
        return CKR_OK;
    case CKM_DSTU4145_DERIVE:
    case CKM_DSTU4145_DERIVE_EXT:
        *info = {163, 509, CKF_HW | CKF_DERIVE | CKF_EC_F_2M | CKF_EC_COMPRESS};
        return CKR_OK;
    default:
        return CKR_MECHANISM_INVALID;
    }
}
