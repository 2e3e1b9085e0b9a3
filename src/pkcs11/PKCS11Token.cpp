#include "pkcs11/PKCS11Token.h"

#include <cstring>

#include "pkcs11/PKCS11DriverSeam.h"
#include "pkcs11/PKCS11Library.h"
#include "pkcs11/PKCS11Mechanisms.h"
#include "pkcs11/PKCS11Session.h"
#include "pkcs11/PKCS11Text.h"
#include "pkcs11/PKCS11TokenManager.h"
#include "pkcs11/PKCS11TokenStorage.h"

namespace {

const char MANUFACTURER[] = "JSC_TVR";
const char MODEL[] = "Q.uor_Korvo-7Q";

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
    const auto listed = [&](const PKCS11Mechanism& m) {
        return m.family == MechanismFamily::Base || (m.family == MechanismFamily::ExtendedHashes && hashes) ||
               (m.family == MechanismFamily::ExtendedCiphers && ciphers);
    };
    CK_ULONG required = 0;
    for (const PKCS11Mechanism& m : Mechanisms())
        if (listed(m)) ++required;
    const CK_ULONG given = *count;
    *count = required;
    if (list == nullptr) return CKR_OK;
    if (given < required) return CKR_BUFFER_TOO_SMALL;
    CK_ULONG at = 0;
    for (const PKCS11Mechanism& m : Mechanisms())
        if (listed(m)) list[at++] = m.type;
    return CKR_OK;
}

CK_RV GetMechanismInfo(CK_MECHANISM_TYPE type, CK_MECHANISM_INFO* info)
{
    if (info == nullptr) return CKR_ARGUMENTS_BAD;
    const PKCS11Mechanism* m = FindMechanism(type);
    if (m == nullptr || !m->described) return CKR_MECHANISM_INVALID;
    *info = m->info;
    return CKR_OK;
}
