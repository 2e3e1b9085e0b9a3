// Scoped owners for what the PKI formats library hands out (objects and
// blobs) and for attribute values the bridge makes, for the code that reads
// certificates through the library.
#ifndef QVK_PKCS11_PKCS11PKIHELD_H
#define QVK_PKCS11_PKCS11PKIHELD_H

#include <cstdint>

#include "pkcs11/PKCS11PKI.h"

// One reference to a library object, released when it goes; out() is the
// slot an operation fills.
template <typename T>
class PKIHeld {
public:
    PKIHeld() = default;
    PKIHeld(const PKIHeld&) = delete;
    PKIHeld& operator=(const PKIHeld&) = delete;
    ~PKIHeld() { Reset(); }
    T* get() const { return static_cast<T*>(raw_); }
    T* operator->() const { return get(); }
    void** out()
    {
        Reset();
        return &raw_;
    }
    void Reset()
    {
        if (raw_ != nullptr) static_cast<IPKIObject*>(get())->Release();
        raw_ = nullptr;
    }
    // For routines that hand out a T* themselves.
    T** slot()
    {
        Reset();
        return reinterpret_cast<T**>(&raw_);
    }
    // Gives the reference to the caller.
    T* Detach()
    {
        T* object = get();
        raw_ = nullptr;
        return object;
    }

private:
    void* raw_ = nullptr;
};

// A blob the library filled, handed back through the interface.
class PKILibraryBlob {
public:
    PKILibraryBlob() = default;
    PKILibraryBlob(const PKILibraryBlob&) = delete;
    PKILibraryBlob& operator=(const PKILibraryBlob&) = delete;
    ~PKILibraryBlob()
    {
        if (blob.data != nullptr && PKIInterface != nullptr) PKIInterface->FreeBlob(&blob);
    }
    PKIBlob blob{0, nullptr};
};

// Frees an attribute's value allocated with new[] (as MakeAttribute makes
// them) and leaves the attribute empty.
inline void FreeMadeValue(CK_ATTRIBUTE* attribute)
{
    delete[] static_cast<std::uint8_t*>(attribute->pValue);
    attribute->pValue = nullptr;
    attribute->ulValueLen = 0;
}

#endif
