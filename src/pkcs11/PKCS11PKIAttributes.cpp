// The attribute and encoding helpers of the PKI bridge.
#include <cstdio>
#include <cstring>
#include <new>

#include "pkcs11/PKCS11PKI.h"

bool MakeAttribute(CK_ATTRIBUTE_TYPE type, const void* data, CK_ULONG length, CK_ATTRIBUTE* out)
{
    if (out == nullptr || (data == nullptr && length != 0)) return false;
    auto* copy = new (std::nothrow) std::uint8_t[length == 0 ? 1 : length];
    if (copy == nullptr) return false;
    if (length != 0) std::memcpy(copy, data, length);
    out->type = type;
    out->pValue = copy;
    out->ulValueLen = length;
    return true;
}

bool MakeAttributeFromBlob(CK_ATTRIBUTE_TYPE type, const PKIBlob* blob, CK_ATTRIBUTE* out)
{
    if (blob == nullptr) return false;
    return MakeAttribute(type, blob->data, blob->length, out);
}

bool MakeDateAttribute(CK_ATTRIBUTE_TYPE type, const SYSTEMTIME* time, CK_ATTRIBUTE* out)
{
    if (time == nullptr) return false;
    // Four year digits, two month digits, two day digits; no terminator.
    char text[16];
    std::snprintf(text, sizeof(text), "%04d", static_cast<int>(time->wYear) % 10000);
    std::snprintf(text + 4, sizeof(text) - 4, "%02d", static_cast<int>(time->wMonth) % 100);
    std::snprintf(text + 6, sizeof(text) - 6, "%02d", static_cast<int>(time->wDay) % 100);
    static_assert(sizeof(CK_DATE) == 8);
    return MakeAttribute(type, text, sizeof(CK_DATE), out);
}

bool MakeUnpaddedAttribute(CK_ATTRIBUTE_TYPE type, const std::uint8_t field[600], CK_ATTRIBUTE* out)
{
    if (field == nullptr) return false;
    std::size_t zeros = 0;
    while (zeros < 600 && field[zeros] == 0) ++zeros;
    return MakeAttribute(type, field + zeros, 600 - zeros, out);
}

bool PadLeftCopy(const std::uint8_t* src, std::uint32_t srcLength, std::uint8_t* dst, std::uint32_t dstLength)
{
    if (dstLength < srcLength || dst == nullptr || (src == nullptr && srcLength != 0)) return false;
    std::memset(dst, 0, dstLength);
    if (srcLength != 0) std::memcpy(dst + (dstLength - srcLength), src, srcLength);
    return true;
}

namespace {

// One reference of a library object, dropped on every path.
struct Held {
    IPKIObject* object = nullptr;
    ~Held()
    {
        if (object != nullptr) object->Release();
    }
};

bool MakeCodec(Held* codec)
{
    void* made = nullptr;
    if (PKIInterface->CreateObject(PKI_CLASS_CODEC, PKI_IID_CODEC, &made) != PKI_OK || made == nullptr) return false;
    codec->object = static_cast<IPKIObject*>(made);
    return true;
}

}  // namespace

bool EncodePKIObjectAttribute(CK_ATTRIBUTE_TYPE type, IPKIObject* object, CK_ATTRIBUTE* out)
{
    if (PKIInterface == nullptr || object == nullptr || out == nullptr) return false;
    Held codec;
    if (!MakeCodec(&codec)) return false;
    auto* c = static_cast<IPKICodec*>(codec.object);
    if (c->Attach(object) != PKI_OK) return false;
    PKIBlob blob{0, nullptr};
    if (c->Encode(&blob) != PKI_OK) return false;
    const bool made = MakeAttributeFromBlob(type, &blob, out);
    PKIInterface->FreeBlob(&blob);
    return made;
}

bool DecodePKIObject(const std::uint8_t* data, std::uint32_t length, std::uint32_t classId, std::uint32_t interfaceId,
                     IPKIObject** out)
{
    if (PKIInterface == nullptr || out == nullptr || (data == nullptr && length != 0)) return false;
    *out = nullptr;
    Held object;
    void* made = nullptr;
    if (PKIInterface->CreateObject(classId, interfaceId, &made) != PKI_OK || made == nullptr) return false;
    object.object = static_cast<IPKIObject*>(made);
    Held codec;
    if (!MakeCodec(&codec)) return false;
    auto* c = static_cast<IPKICodec*>(codec.object);
    PKIBlob in{length, const_cast<std::uint8_t*>(data)};
    if (c->Attach(object.object) != PKI_OK || c->Decode(&in) != PKI_OK) return false;
    *out = object.object;
    object.object = nullptr;  // the caller's reference now
    return true;
}
