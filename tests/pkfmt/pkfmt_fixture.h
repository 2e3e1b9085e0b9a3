// Loads pkfmt.so through the system's own loader (support/PKIFormats) from the
// folder it was built into, and offers small owners for its objects and
// blocks. Every test ends by checking that no object or block is left.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

#include "support/PKIFormats.h"
#include "support/PKIInterface.h"

namespace pkfmttest {

using Bytes = std::vector<std::uint8_t>;

// Owns one reference to an object of the library.
template <typename T>
class Obj {
public:
    Obj() = default;
    Obj(const Obj&) = delete;
    Obj& operator=(const Obj&) = delete;
    Obj(Obj&& other) noexcept : raw_(other.raw_) { other.raw_ = nullptr; }
    Obj& operator=(Obj&& other) noexcept
    {
        std::swap(raw_, other.raw_);
        return *this;
    }
    ~Obj() { Reset(); }

    T* get() const { return static_cast<T*>(raw_); }
    T* operator->() const { return get(); }
    explicit operator bool() const { return raw_ != nullptr; }
    // For operations that hand out an object through a void**.
    void** out()
    {
        Reset();
        return &raw_;
    }
    void Reset()
    {
        if (raw_ != nullptr) get()->Release();
        raw_ = nullptr;
    }

private:
    void* raw_ = nullptr;
};

// Owns a block the library allocated.
class Blob {
public:
    explicit Blob(IPKIInterface* pki) : pki_(pki) {}
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;
    ~Blob() { Free(); }
    PKIBlob* operator&() { return &blob; }
    Bytes bytes() const { return Bytes(blob.data, blob.data + blob.length); }
    void Free()
    {
        if (blob.data != nullptr) {
            EXPECT_EQ(pki_->FreeBlob(&blob), PKI_OK);
        }
    }
    PKIBlob blob{0, nullptr};

private:
    IPKIInterface* pki_;
};

inline PKIBlob In(const Bytes& bytes)
{
    return PKIBlob{static_cast<std::uint32_t>(bytes.size()), const_cast<std::uint8_t*>(bytes.data())};
}

inline Bytes Pattern(std::size_t length, std::uint8_t seed)
{
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return out;
}

class PkfmtTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        savedDirectory_ = cwd;
        for (const char* name : {"PKFMT_VERSION", "PKFMT_OPTION_A", "PKFMT_OPTION_B", "PKFMT_INITIALIZE_RESULT"})
            unsetenv(name);
        // The loader asks for the bare name "pkfmt.so": found in the current folder.
        ASSERT_EQ(chdir(PKFMT_DIR), 0);
        ASSERT_EQ(AcquirePKILibrary(), 0);
        acquired_ = true;
        void* pki = nullptr;
        ASSERT_EQ(GetPKIInterface(&pki), 0);
        ASSERT_NE(pki, nullptr);
        pki_ = static_cast<IPKIInterface*>(pki);
        handle_ = dlopen(PKFMT_DIR "/pkfmt.so", RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(handle_, nullptr) << "pkfmt.so was not loaded from " PKFMT_DIR;
        liveObjects_ = reinterpret_cast<int (*)()>(dlsym(handle_, "PKFMTLiveObjects"));
        liveBlobs_ = reinterpret_cast<int (*)()>(dlsym(handle_, "PKFMTLiveBlobs"));
        heldCSP_ = reinterpret_cast<void* (*)()>(dlsym(handle_, "PKFMTHeldCSP"));
        ASSERT_TRUE(liveObjects_ && liveBlobs_ && heldCSP_);
    }

    void TearDown() override
    {
        if (liveObjects_ != nullptr) {
            EXPECT_EQ(liveObjects_(), 0) << "objects left unreleased";
            EXPECT_EQ(liveBlobs_(), 0) << "blocks left unfreed";
        }
        if (handle_ != nullptr) dlclose(handle_);
        if (acquired_) {
            EXPECT_EQ(ReleasePKILibrary(), 0);
        }
        EXPECT_EQ(chdir(savedDirectory_.c_str()), 0);
    }

    template <typename T>
    Obj<T> Make(std::uint32_t classId, std::uint32_t interfaceId)
    {
        Obj<T> object;
        int rc = pki_->CreateObject(classId, interfaceId, object.out());
        if (rc != PKI_OK || !object)
            throw std::runtime_error("CreateObject " + std::to_string(classId) + "/" + std::to_string(interfaceId) +
                                     " answered " + std::to_string(rc));
        return object;
    }

    template <typename T, typename From>
    Obj<T> Query(const Obj<From>& from, std::uint32_t interfaceId)
    {
        Obj<T> object;
        int rc = from->QueryInterface(interfaceId, object.out());
        if (rc != PKI_OK || !object)
            throw std::runtime_error("QueryInterface " + std::to_string(interfaceId) + " answered " +
                                     std::to_string(rc));
        return object;
    }

    // A key on standard polynomial-basis curve `curve`, holding `value`.
    Obj<IPKIKey> MakeKey(const Bytes& value, std::uint32_t curve = 0)
    {
        auto parameters = Make<IPKIParameters>(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS);
        EXPECT_EQ(parameters->SetStandard(1, curve, nullptr), PKI_OK);
        auto key = Make<IPKIKey>(PKI_CLASS_KEY, PKI_IID_KEY);
        PKIBlob in = In(value);
        EXPECT_EQ(key->SetKeyValue(&in, parameters.get()), PKI_OK);
        return key;
    }

    // An entry protecting `key` under `password`.
    Obj<IPKIPrivateKey> Seal(const Obj<IPKIKey>& key, const char* password, std::uint32_t protection = 0)
    {
        auto entry = Make<IPKIPrivateKey>(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY);
        if (protection != 0) {
            EXPECT_EQ(entry->SetProtectionValue(protection), PKI_OK);
        }
        EXPECT_EQ(entry->SetFormat(1), PKI_OK);
        EXPECT_EQ(entry->SetKey(key.get(), password), PKI_OK);
        return entry;
    }

    Bytes KeyValue(const Obj<IPKIKey>& key)
    {
        Blob value(pki_);
        Obj<IPKIParameters> parameters;
        EXPECT_EQ(key->GetKeyValue(&value, parameters.out()), PKI_OK);
        return value.bytes();
    }

    IPKIInterface* pki_ = nullptr;
    int (*liveObjects_)() = nullptr;
    int (*liveBlobs_)() = nullptr;
    void* (*heldCSP_)() = nullptr;

private:
    std::string savedDirectory_;
    void* handle_ = nullptr;
    bool acquired_ = false;
};

}  // namespace pkfmttest
