#include "keymedia/QuorKorvo7Q.h"

#include <cstdlib>
#include <cstring>

#include "device/DeviceProtocol.h"
#include "keymedia/HardwareCSP.h"
#include "keymedia/HardwareRNG.h"

using qvkkm::Guarded;
using qvkkm::TemporaryConnection;

namespace {

constexpr qvkkm::KeyDeviceObject::Traits kFullKeyTraits{true, true, true};
constexpr unsigned kLastJournalIndex = 254;

void CopyText(char* out, const char* text)
{
    if (out == nullptr) return;
    if (text == nullptr) text = "";
    std::memcpy(out, text, std::strlen(text) + 1);
}

}  // namespace

QuorKorvo7Q::QuorKorvo7Q() : KeyDeviceObject(kFullKeyTraits), alias_(new QuorKorvo7QAliasApplication()) {}

QuorKorvo7Q::~QuorKorvo7Q()
{
    delete hardware_;
    delete random_;
    delete alias_;
}

void QuorKorvo7Q::ContextChanged()
{
    if (hardware_ != nullptr) hardware_->SetDevice(context_);
    if (random_ != nullptr) random_->SetDevice(context_);
}

CSPHardwareImplementationQuorKorvo7Q* QuorKorvo7Q::Hardware()
{
    if (hardware_ == nullptr) hardware_ = new CSPHardwareImplementationQuorKorvo7Q(context_);
    return hardware_;
}

HRNGImplementationQuorKorvo7Q* QuorKorvo7Q::Random()
{
    if (random_ == nullptr) random_ = new HRNGImplementationQuorKorvo7Q(context_);
    return random_;
}

ICSPHardware* QuorKorvo7Q::HardwareForContainer()
{
    return Hardware();
}

int QuorKorvo7Q::UseKey(const char* serial, uint32_t extraHealthy, TemporaryConnection* temporary,
                        DeviceContext** context)
{
    if (open_) {
        *context = context_;
        return KM_OK;
    }
    if (const int r = Connect(serial, extraHealthy, temporary->Slot()); r != KM_OK) return r;
    *context = temporary->Get();
    return KM_OK;
}

int QuorKorvo7Q::GetInfo(const char* name, int* caps, void* objects[2])
{
    return Guarded([&]() -> int {
        if (caps != nullptr) *caps = KM_CAPS_FULL_KEY;
        if (objects == nullptr) return KM_OK;
        if (name == nullptr) {
            objects[0] = static_cast<ICSPHardware*>(Hardware());
            objects[1] = static_cast<ICSPHardwareRNG*>(Random());
            return KM_OK;
        }
        if (std::strcmp(name, "AliasExtension") == 0) {
            objects[0] = static_cast<IKMAliasApplication*>(alias_);
            return KM_OK;
        }
        if (std::strcmp(name, "DeviceInfoExtension") == 0) {
            objects[0] = static_cast<IKMDeviceInfoApplication*>(this);
            return KM_OK;
        }
        const uint32_t serial = qvkkm::SerialNumberOf(name);
        if (serial == 0 || open_) return KM_NOT_SUPPORTED;
        // A connection from an earlier call goes before the new one is made.
        ReplaceContext(nullptr);
        DeviceContext* connected = nullptr;
        if (ConnectDevice(serial, &connected) != 0 || connected == nullptr) return KM_DEVICE_ERROR;
        ReplaceContext(connected);
        objects[0] = nullptr;
        objects[1] = static_cast<ICSPHardwareRNG*>(Random());
        return KM_OK;
    });
}

int QuorKorvo7Q::GetRecordHeader(const char* serial, int which, int* header)
{
    return Guarded([&]() -> int {
        if (const int r = CheckOpen(serial); r != KM_OK) return r;
        if (which != 0) return KM_NOT_FOUND;
        uint8_t block[qvkkm::kMemoryBlockBytes] = {};
        const uint32_t first = PublicAreaSize(context_) / qvkkm::kMemoryBlockBytes;
        int result = KM_NOT_FOUND;
        if (Call(context_, [&] { return ReadMemoryBlock(context_, block, first); }) != 0) {
            result = KM_DEVICE_ERROR;
        } else if (block[0] != 0xFF ||
                   (ReadMemoryBlock(context_, block, qvkkm::kMemoryPageBytes / qvkkm::kMemoryBlockBytes) == 0 &&
                    block[0] != 0xFF)) {
            if (header != nullptr) *header = block[0] | (block[1] << 8);
            result = KM_OK;
        }
        std::memset(block, 0, sizeof(block));
        return result;
    });
}

int QuorKorvo7Q::GetJournalRecord(const char* serial, unsigned index, unsigned* event, char* operation, char* detail,
                                  char* result)
{
    return Guarded([&]() -> int {
        if (index > kLastJournalIndex) return KM_NOT_FOUND;
        TemporaryConnection temporary;
        DeviceContext* context = nullptr;
        if (open_) {
            context = context_;
        } else {
            DeviceContext* connected = nullptr;
            if (serial == nullptr || ConnectDevice(qvkkm::SerialNumberOf(serial), &connected) != 0 ||
                connected == nullptr)
                return KM_DEVICE_ERROR;
            *temporary.Slot() = connected;
            context = connected;
        }
        JournalRecord record{};
        {
            qvkkm::DeviceLock lock(context);
            if (!lock.Held()) return KM_DEVICE_ERROR;
            if (event == nullptr && operation == nullptr && detail == nullptr && result == nullptr) {
                if (index != 0) return KM_BAD_STATE;
                return HasJournal(context) ? KM_OK : KM_NOT_SUPPORTED;
            }
            const uint32_t r = ReadJournalRecord(context, static_cast<int>(index), &record);
            if (r == KEYERR_JOURNAL_EXHAUSTED) return KM_NOT_FOUND;
            if (r != 0) return KM_DEVICE_ERROR;
        }
        if (event != nullptr) *event = record.event;
        CopyText(operation, JournalOperationName(record.operation));
        CopyText(detail, JournalDetailName(record.operation, record.detail));
        CopyText(result, StatusText(record.result));
        return KM_OK;
    });
}

int QuorKorvo7Q::GetDeviceInfo(const char* serial, unsigned* infoByte, unsigned* version, unsigned* infoWord,
                               unsigned* flagA, unsigned* flagB, unsigned* triesLeft, unsigned* triesMax)
{
    return Guarded([&]() -> int {
        TemporaryConnection temporary;
        DeviceContext* context = nullptr;
        if (const int r = UseKey(serial, 0, &temporary, &context); r != KM_OK) return r;
        DeviceInfo info{};
        {
            qvkkm::DeviceLock lock(context);
            if (!lock.Held()) return KM_DEVICE_ERROR;
            if (infoByte == nullptr && version == nullptr && infoWord == nullptr && flagA == nullptr &&
                flagB == nullptr && triesLeft == nullptr && triesMax == nullptr)
                return KM_BAD_STATE;
            if (QueryDeviceInfo(context, &info) != 0) return KM_DEVICE_ERROR;
        }
        // All bits set means the key reports no capabilities at all.
        const uint32_t capabilities = info.capabilities == 0xFFFFFFFFu ? 0 : info.capabilities;
        const uint32_t failedTries = FailedPasswordTries(info);
        if (infoByte != nullptr) *infoByte = info.infoByte4;
        if (version != nullptr) *version = info.version;
        if (infoWord != nullptr) *infoWord = info.infoWord12;
        if (flagA != nullptr) *flagA = (capabilities & 0x2) ? 1 : 0;
        if (flagB != nullptr) *flagB = (capabilities & 0x4) ? 1 : 0;
        if (triesLeft != nullptr) *triesLeft = DEVICE_PASSWORD_TRIES - failedTries;
        if (triesMax != nullptr) *triesMax = DEVICE_PASSWORD_TRIES;
        return KM_OK;
    });
}

int QuorKorvo7Q::GetDeviceStatus(const char* serial, unsigned* state)
{
    return Guarded([&]() -> int {
        TemporaryConnection temporary;
        DeviceContext* context = nullptr;
        if (const int r = UseKey(serial, KEYERR_BAD_REQUEST, &temporary, &context); r != KM_OK) return r;
        qvkkm::DeviceLock lock(context);
        if (!lock.Held()) return KM_DEVICE_ERROR;
        if (state == nullptr) return KM_BAD_STATE;
        uint8_t stateByte = 0;
        if (QueryDeviceState(context, &stateByte) != 0) return KM_DEVICE_ERROR;
        *state = stateByte;
        return KM_OK;
    });
}

int QuorKorvo7Q::GetPasswordTries(const char* serial, int* left, int* max)
{
    unsigned triesLeft = 0;
    unsigned triesMax = 0;
    const int r = GetDeviceInfo(serial, nullptr, nullptr, nullptr, nullptr, nullptr, &triesLeft, &triesMax);
    if (r == KM_OK) {
        if (left != nullptr) *left = static_cast<int>(triesLeft);
        if (max != nullptr) *max = static_cast<int>(triesMax);
    }
    return r;
}

int QuorKorvo7Q::GetDeviceFlag(const char* serial, int* flag)
{
    unsigned flagA = 0;
    unsigned flagB = 0;
    const int r = GetDeviceInfo(serial, nullptr, nullptr, nullptr, &flagA, &flagB, nullptr, nullptr);
    if (r == KM_OK && flag != nullptr) *flag = (flagA == 1 || flagB == 1) ? 1 : 0;
    return r;
}
