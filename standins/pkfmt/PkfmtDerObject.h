// Objects of the stand-in formats library that the codec carries by their
// own DER (besides DSTU 4145 parameters): GOST 28147 parameters, public keys.
#ifndef PKFMT_PKFMTDEROBJECT_H
#define PKFMT_PKFMTDEROBJECT_H

#include <cstddef>
#include <cstdint>

#include <new>
#include <vector>

#include "PkfmtCertificate.h"  // library blocks
#include "PkfmtObject.h"
#include "support/PKIInterface.h"

namespace pkfmt {

class DerObject {
public:
    // PKI_OK with the DER in a library block, or an error code.
    virtual int EncodeDer(PKIBlob* out) = 0;
    virtual int DecodeDer(const std::uint8_t* data, std::size_t length) = 0;
    virtual void HoldDer() = 0;
    virtual void DropDer() = 0;

protected:
    ~DerObject() = default;
};

// The object as the codec sees it, or null when it carries no DER of its own.
inline DerObject* AsDerObject(IPKIObject* object)
{
    return dynamic_cast<DerObject*>(object);
}

// The DER of an OpenSSL object.
template <typename T, typename Encode>
bool ToDer(const T* object, Encode encode, std::vector<std::uint8_t>* out)
{
    int length = encode(object, nullptr);
    if (length <= 0) return false;
    out->resize(static_cast<std::size_t>(length));
    unsigned char* p = out->data();
    return encode(object, &p) == length;
}

// The same in a new library block; PKI_E_NOT_SET
// without one.
template <typename T, typename Encode>
int EncodeToBlock(const T* object, Encode encode, PKIBlob* out)
{
    if (object == nullptr) return PKI_E_NOT_SET;
    return Guard([&] {
        std::vector<std::uint8_t> der;
        if (!ToDer(object, encode, &der)) return int(PKI_E_FAILURE);
        return CopyToLibraryBlock(out, der.data(), der.size(), false);
    });
}

// Makes a T (a Core) and gives its interface `interfaceId`;
// PKI_E_UNKNOWN_CLASS when it offers none of that id.
template <typename T>
int CreateCoreObject(std::uint32_t interfaceId, void** object)
{
    if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
    *object = nullptr;
    T* made = new (std::nothrow) T();
    if (made == nullptr) return PKI_E_OUT_OF_MEMORY;
    const int rc = made->Query(interfaceId, object);
    made->Drop();
    return rc == PKI_OK ? PKI_OK : PKI_E_UNKNOWN_CLASS;
}

}  // namespace pkfmt

// Release and QueryInterface of a Core that the codec carries by its DER,
// and the codec's hold on it.
#define PKFMT_DER_OBJECT_COMMON                                                                                        \
    PKFMT_COUNTED_COMMON                                                                                               \
    void HoldDer() override                                                                                            \
    {                                                                                                                  \
        AddRef();                                                                                                      \
    }                                                                                                                  \
    void DropDer() override                                                                                            \
    {                                                                                                                  \
        Drop();                                                                                                        \
    }

#endif
