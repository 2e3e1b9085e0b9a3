// The PKI formats interface as the key-media tests reach it: references that
// release themselves, blocks taken over, and the stand-in's counters of
// objects and blocks not yet handed back.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "KMTestSupport.h"
#include "keymedia/QuorKorvo7QPKI.h"
#include "support/PKIInterface.h"

namespace kmpki {

using Bytes = std::vector<std::uint8_t>;

inline IPKIInterface* Pki()
{
    return static_cast<IPKIInterface*>(qvkkm::PKIFormatsInterface());
}

// One reference held by the test.
template <class T>
struct Obj {
    void* raw = nullptr;
    Obj() = default;
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;
    ~Obj() { reset(); }
    void reset()
    {
        if (raw != nullptr) reinterpret_cast<IPKIObject*>(raw)->Release();
        raw = nullptr;
    }
    void** out()
    {
        reset();
        return &raw;
    }
    T* operator->() const { return static_cast<T*>(raw); }
    T* get() const { return static_cast<T*>(raw); }
    IPKIObject* obj() const { return static_cast<IPKIObject*>(get()); }
};

// The block's bytes; the block itself goes back to the library.
inline Bytes TakeBlob(PKIBlob& blob)
{
    Bytes out(blob.data, blob.data + blob.length);
    Pki()->FreeBlob(&blob);
    return out;
}

// A counter of the formats library (objects or blocks not yet handed back),
// or -1 when the library is not loaded or lacks it.
inline int LiveCount(const char* hook)
{
#ifdef QVK_PKFMT_DIR
    void* library = dlopen(QVK_PKFMT_DIR "/pkfmt.so", RTLD_LAZY | RTLD_NOLOAD);
    if (library == nullptr) return -1;
    auto count = reinterpret_cast<int (*)()>(dlsym(library, hook));
    const int n = count != nullptr ? count() : -1;
    dlclose(library);
    return n;
#else
    (void)hook;
    return -1;
#endif
}

// The key-media fixture with the formats library loaded as the library loads
// it: looked for in the working directory first, so the test runs from the
// library's folder and goes back afterwards.
class FormatsTest : public kmtest::KMTest {
protected:
    void SetUp() override
    {
        KMTest::SetUp();
#ifdef QVK_PKFMT_DIR
        ASSERT_NE(getcwd(oldDirectory_, sizeof oldDirectory_), nullptr);
        ASSERT_EQ(chdir(QVK_PKFMT_DIR), 0);
#endif
        qvkkm::InitializeGlobals();
        ASSERT_NE(Pki(), nullptr) << "pkfmt.so not loaded";
    }
    void TearDown() override
    {
        KMTest::TearDown();
#ifdef QVK_PKFMT_DIR
        ASSERT_EQ(chdir(oldDirectory_), 0);
#endif
    }

private:
    char oldDirectory_[PATH_MAX] = {};
};

}  // namespace kmpki
