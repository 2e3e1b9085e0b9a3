// Records and key containers read from the key by the key-media library. The
// input becomes a key's private area (the data record: type, length and
// body, the rest erased); both device objects then read records of types 5,
// 6 and the one the header names, with a size query first. Wrapped records
// go through the PKI formats stand-in. Every answer is a KM_* code, a record
// fits the caller's buffer, and nothing is written past it.
//
// Each device object has a key of its own, and the area is written through
// that object's own context: the context patches its image of the area as
// it writes, where a write through another context would make it read the
// whole area from the key again before every input (two thirds of the time,
// and none of it in the code under test).
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "PcscTap.h"
#include "device/DeviceProtocol.h"
#include "keyemu/PcscDouble.h"
#include "keymedia/DeviceObject.h"
#include "keymedia/KMDevice.h"
#include "keymedia/Library.h"
#include "keymedia/QuorKorvo7QPKI.h"
#include "support/CSPParameters.h"
#include "support/PKIInterface.h"

extern "C" {
IKMQuorKorvo7Q* KMGetInterface(const char* name);
}

namespace {

using qvkfuzz::Bytes;
using qvkfuzz::Check;
namespace pd = keyemu::pcscdouble;

constexpr char kPassword[] = "pw";
constexpr std::uint32_t kPrivateBytes = 3072;
constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;

// A device object over its own emulated key.
struct Device {
    const char* serial;
    std::string reader;
    IKMQuorKorvo7Q* object = nullptr;
    DeviceContext* context = nullptr;
    std::uint32_t publicSize = 0;
    Bytes stored = Bytes(kPrivateBytes, 0xFF);  // the private area on the key
};

Device g_full{"3201", {}};
Device g_carrier{"3202", {}};

IPKIInterface* Pki()
{
    return static_cast<IPKIInterface*>(qvkkm::PKIFormatsInterface());
}

bool IsKmCode(int r)
{
    return r == KM_OK || r == KM_NOT_FOUND || r == KM_NOT_SUPPORTED || r == KM_DEVICE_ERROR || r == KM_BAD_STATE;
}

bool Open()
{
#ifdef QVK_PKFMT_DIR
    // The formats library is looked for in the working directory first.
    if (chdir(QVK_PKFMT_DIR) != 0) return false;
#endif
    setenv("PKFMT_DEFAULT_ITERATIONS", "16", 0);
    setenv("WEMU_NAME_PREFIX", ("qvkfuzzkm" + std::to_string(getpid()) + "_").c_str(), 1);
    pd::ResetAll();
    g_full.object = KMGetInterface(qvkkm::kFullKeyTypeName);
    g_carrier.object = KMGetInterface(qvkkm::kCarrierTypeName);
    if (Pki() == nullptr) return false;
    for (Device* device : {&g_full, &g_carrier}) {
        keyemu::KeyConfig config;
        config.serial = static_cast<std::uint32_t>(std::stoul(device->serial));
        config.version = 18;
        config.capability = 0x200;
        config.password = kPassword;
        device->reader = pd::AddKey(config);
        std::string s = device->serial, p = kPassword;
        if (device->object == nullptr || device->object->Open(s.data(), p.data(), 0) != KM_OK) return false;
        device->context = dynamic_cast<qvkkm::KeyDeviceObject*>(device->object)->Context();
        if (device->context == nullptr) return false;
        device->publicSize = PublicAreaSize(device->context);
        if (device->publicSize % 1024 != 0) return false;
        for (std::uint32_t page = 0; page < kPrivateBytes / 1024; ++page)
            if (EraseMemoryPage(device->context, device->publicSize / 1024 + page) != 0) return false;
    }
    return true;
}

// The private area as the input gives it, in one hold of the key: the
// blocks that differ from what the area holds are written (the key stores a
// block as sent, erased or not). The area starts erased (Open), so the key
// holds the input whole, while an input that changes a few bytes of the last
// one costs a few blocks, not the area.
bool Store(Device& device, const Bytes& area)
{
    qvkkm::DeviceLock lock(device.context);
    if (!lock.Held()) return false;
    for (std::uint32_t at = 0; at < kPrivateBytes; at += 32) {
        if (std::equal(&area[at], &area[at] + 32, &device.stored[at])) continue;
        if (WriteMemoryBlock(device.context, &area[at], (device.publicSize + at) / 32) != 0) return false;
        std::copy(&area[at], &area[at] + 32, &device.stored[at]);
    }
    return true;
}

void ReadAndCheck(const Device& device, unsigned type)
{
    char serial[16];
    std::snprintf(serial, sizeof serial, "%s", device.serial);
    unsigned size = 0xDEAD;
    const int sized = device.object->ReadRecord(serial, type, nullptr, &size);
    Check(IsKmCode(sized), "size query answers a KM code");
    if (sized == KM_OK) Check(size <= KM_RECORD_BUFFER, "reported size fits the record buffer");
    Bytes buffer(KM_RECORD_BUFFER + kGuard, kGuardByte);
    unsigned length = 0xDEAD;
    const int read = device.object->ReadRecord(serial, type, buffer.data(), &length);
    Check(IsKmCode(read), "read answers a KM code");
    for (std::size_t i = KM_RECORD_BUFFER; i < buffer.size(); ++i)
        Check(buffer[i] == kGuardByte, "nothing written past the record buffer");
    if (read == KM_OK) Check(length <= KM_RECORD_BUFFER, "record length fits the buffer");
}

// A container of one key over standard curve `curve`, its entry under the
// key's password, encoded by the PKI formats stand-in.
Bytes MakeContainer(unsigned curve, bool marked)
{
    struct Obj {
        void* raw = nullptr;
        ~Obj()
        {
            if (raw != nullptr) static_cast<IPKIObject*>(raw)->Release();
        }
    };
    Obj container, list, parameters, key, entry;
    if (Pki()->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, &container.raw) != PKI_OK ||
        Pki()->CreateObject(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, &list.raw) != PKI_OK ||
        Pki()->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, &parameters.raw) != PKI_OK ||
        Pki()->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, &key.raw) != PKI_OK ||
        Pki()->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, &entry.raw) != PKI_OK)
        return {};
    GOST28147PackedSBox sBox;
    CSPParameters().GetStandardSBox(0, &sBox);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    CSPParameters().GetStandardCurve(1, curve, &field, &point);
    Bytes value((field.words[DSTU4145_FIELD_M] + 7) / 8);
    for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(i * 7 + 3);
    PKIBlob v{static_cast<std::uint32_t>(value.size()), value.data()};
    auto* c = static_cast<IPKIKeyContainer*>(container.raw);
    auto* l = static_cast<IPKIEntryList*>(list.raw);
    if (static_cast<IPKIParameters*>(parameters.raw)
                ->SetExplicit(&field, &point, reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK ||
        static_cast<IPKIKey*>(key.raw)->SetKeyValue(&v, static_cast<IPKIObject*>(parameters.raw)) != PKI_OK ||
        static_cast<IPKIPrivateKey*>(entry.raw)->SetKey(static_cast<IPKIObject*>(key.raw), kPassword) != PKI_OK ||
        l->AddEntry(static_cast<IPKIObject*>(entry.raw), nullptr) != PKI_OK)
        return {};
    if (marked) {
        std::uint8_t packed[] = {6, 0, 3, 0, 1, 2, 3};
        PKIBlob m{sizeof packed, packed};
        if (c->AddItemAttribute("", static_cast<IPKIObject*>(list.raw), PKI_OID_WRAPPED_RECORD, &m) != PKI_OK)
            return {};
    }
    PKIBlob out{0, nullptr};
    if (c->AddItem(static_cast<IPKIObject*>(list.raw)) != PKI_OK || c->Encode(&out) != PKI_OK) return {};
    Bytes bytes(out.data, out.data + out.length);
    Pki()->FreeBlob(&out);
    return bytes;
}

Bytes Record(std::uint32_t type, const Bytes& body)
{
    Bytes r = {0, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(type >> 8),
               static_cast<std::uint8_t>(body.size()), static_cast<std::uint8_t>(body.size() >> 8)};
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

void WriteSeeds(const std::string& folder)
{
    const Bytes plain = MakeContainer(0, false);
    qvkfuzz::WriteSeed(folder, "plain-container", Record(5, plain));
    qvkfuzz::WriteSeed(folder, "marked-container", Record(6, MakeContainer(3, true)));
    std::uint8_t* made = nullptr;
    std::uint32_t length = 0;
    auto* pki = dynamic_cast<QuorKorvo7QPKI*>(g_full.object);
    if (pki != nullptr &&
        pki->WrapRecord(plain.data(), static_cast<std::uint32_t>(plain.size()), &made, &length) == 1) {
        qvkfuzz::WriteSeed(folder, "wrapped-container", Record(5, Bytes(made, made + length)));
        QuorKorvo7QPKI::ReleaseRecord(made, length);
    }
    const Bytes text = {'a', ' ', 'd', 'a', 't', 'a', ' ', 'r', 'e', 'c', 'o', 'r', 'd'};
    qvkfuzz::WriteSeed(folder, "data-record", Record(9, text));
    qvkfuzz::WriteSeed(folder, "erased", Bytes{0, 0xFF, 0xFF, 0xFF, 0xFF});
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Check(Open(), "the emulated key opens through both device objects");
    qvkfuzz::WriteSeedsWhenAsked(WriteSeeds);
    return 0;
}

// Byte 0: which extra type to read; the rest: the private area.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    qvkfuzz::Input in(data, size);
    const unsigned extra = in.Byte() % 16;
    Bytes area = in.Take(kPrivateBytes);
    area.resize(kPrivateBytes, 0xFF);
    const unsigned named = area[0] | (area[1] << 8);
    // The double and the tap keep every command and log line for the tests
    // that look; nothing here does, and kept they would grow by some
    // kilobytes an input.
    pcsctap::Reset();
    for (Device* device : {&g_full, &g_carrier}) {
        pd::ClearCommandLog(device->reader);
        Check(Store(*device, area), "the private area is written");
        for (unsigned type : {5u, 6u, named & 15u, extra}) ReadAndCheck(*device, type);
    }
    return 0;
}
