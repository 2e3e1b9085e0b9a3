// Objects of the stand-in formats library that the codec carries by their
// own DER (besides DSTU 4145 parameters): GOST 28147 parameters, public keys.
#ifndef PKFMT_PKFMTDEROBJECT_H
#define PKFMT_PKFMTDEROBJECT_H

#include <cstddef>
#include <cstdint>

#include <new>

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
    int Release() override                                                                                             \
    {                                                                                                                  \
        return Drop();                                                                                                 \
    }                                                                                                                  \
    int QueryInterface(std::uint32_t interfaceId, void** object) override                                              \
    {                                                                                                                  \
        return Query(interfaceId, object);                                                                             \
    }                                                                                                                  \
    void HoldDer() override                                                                                            \
    {                                                                                                                  \
        AddRef();                                                                                                      \
    }                                                                                                                  \
    void DropDer() override                                                                                            \
    {                                                                                                                  \
        Drop();                                                                                                        \
    }

#endif
