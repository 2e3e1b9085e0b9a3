// The built PKCS#11 module loaded with dlopen, as an application loads it,
// and the steps the end-to-end tests of it (and its benchmark) start from:
// the slot list, a token initialised, sessions, a DSTU 4145 key pair made on
// the key, a signature and its verification.
//
// QVK_PKCS11_MODULE names the built module (a definition of each target).
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "pkcs11/pkcs11ua.h"

#ifndef QVK_PKCS11_MODULE
#error "QVK_PKCS11_MODULE must name the built module"
#endif

namespace qvk::e2e {

// The access password the rig gives its keys: the SO PIN, and the user PIN
// of a token initialised with it.
inline const std::string kRigPin = "12345678";

inline CK_UTF8CHAR* U(const std::string& s)
{
    return reinterpret_cast<CK_UTF8CHAR*>(const_cast<char*>(s.data()));
}

// The module loaded (not initialised) in this process; it is finalised and
// unloaded when this goes.
class LoadedModule {
public:
    LoadedModule()
    {
        handle_ = dlopen(QVK_PKCS11_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
        if (get == nullptr || get(&f) != CKR_OK) f = nullptr;
    }
    ~LoadedModule()
    {
        if (f != nullptr) f->C_Finalize(nullptr);
        if (handle_ != nullptr) dlclose(handle_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return f != nullptr; }

    // The listed slots; the first becomes `slot`, the slot the helpers below
    // use (slot ids stay given to their keys while the module stays loaded,
    // so a later test of the same process may find its key elsewhere than 0).
    std::vector<CK_SLOT_ID> Slots()
    {
        CK_ULONG count = 0;
        EXPECT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
        std::vector<CK_SLOT_ID> slots(count);
        if (count != 0) {
            EXPECT_EQ(f->C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
        }
        slots.resize(count);
        if (!slots.empty()) slot = slots[0];
        return slots;
    }

    // C_InitToken with the label padded with blanks to 32 bytes.
    CK_RV InitToken(CK_SLOT_ID on, const std::string& soPin, const std::string& label)
    {
        std::string field = label;
        field.resize(32, ' ');
        return f->C_InitToken(on, U(soPin), soPin.size(), U(field));
    }

    // C_Initialize, and the one key listed.
    void Initialize()
    {
        ASSERT_EQ(f->C_Initialize(nullptr), CKR_OK);
        ASSERT_EQ(Slots().size(), 1u);
    }

    // Initialize, and the key's token initialised with the rig's password: a
    // token whose user PIN is kRigPin.
    void InitializeToken(const std::string& label = "")
    {
        ASSERT_NO_FATAL_FAILURE(Initialize());
        ASSERT_EQ(InitToken(slot, kRigPin, label), CKR_OK);
    }

    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION)
    {
        CK_SESSION_HANDLE h = 0;
        EXPECT_EQ(f->C_OpenSession(slot, flags, nullptr, nullptr, &h), CKR_OK);
        return h;
    }

    // C_CreateObject of a data object with this label and value.
    CK_RV CreateData(CK_SESSION_HANDLE h, CK_BBOOL* token, CK_BBOOL* isPrivate, const std::string& label,
                     CK_OBJECT_HANDLE* handle, const std::string& value = "abc")
    {
        CK_OBJECT_CLASS dataClass = CKO_DATA;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                            {CKA_TOKEN, token, 1},
                            {CKA_PRIVATE, isPrivate, 1},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_VALUE, const_cast<char*>(value.data()), value.size()}};
        return f->C_CreateObject(h, t, 5, handle);
    }

    // A read-write session logged in as the user.
    CK_SESSION_HANDLE LoggedIn(const std::string& pin = kRigPin)
    {
        const CK_SESSION_HANDLE h = Open();
        EXPECT_EQ(f->C_Login(h, CKU_USER, U(pin), pin.size()), CKR_OK);
        return h;
    }

    // CKA_EC_PARAMS of the session's first domain-parameter object: the
    // 163-bit standard curve with S-box 0.
    std::vector<CK_BYTE> FirstCurveParams(CK_SESSION_HANDLE h)
    {
        CK_ATTRIBUTE read{CKA_EC_PARAMS, nullptr, 0};
        EXPECT_EQ(f->C_GetAttributeValue(h, 1, &read, 1), CKR_OK);
        std::vector<CK_BYTE> params(read.ulValueLen);
        read.pValue = params.data();
        EXPECT_EQ(f->C_GetAttributeValue(h, 1, &read, 1), CKR_OK);
        return params;
    }

    // A DSTU 4145 signature key pair made on the key over these parameters.
    // The key holds the pair, so both objects are token objects.
    CK_RV GenerateSigningPair(CK_SESSION_HANDLE h, const std::vector<CK_BYTE>& ecParams, CK_OBJECT_HANDLE* pub,
                              CK_OBJECT_HANDLE* priv)
    {
        CK_BBOOL yes = CK_TRUE;
        CK_ATTRIBUTE publicTemplate[] = {{CKA_TOKEN, &yes, 1},
                                         {CKA_VERIFY, &yes, 1},
                                         {CKA_EC_PARAMS, const_cast<CK_BYTE*>(ecParams.data()), ecParams.size()}};
        CK_ATTRIBUTE privateTemplate[] = {{CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &yes, 1}, {CKA_SIGN, &yes, 1}};
        CK_MECHANISM m{CKM_DSTU4145_KEY_PAIR_GEN, nullptr, 0};
        return f->C_GenerateKeyPair(h, &m, publicTemplate, 3, privateTemplate, 3, pub, priv);
    }

    // C_SignInit + C_Sign into a buffer of the signature's size.
    CK_RV Sign(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::vector<CK_BYTE>& data,
               std::vector<CK_BYTE>* signature)
    {
        CK_MECHANISM m{type, nullptr, 0};
        CK_RV rv = f->C_SignInit(h, &m, key);
        signature->assign(152, 0);
        CK_ULONG length = signature->size();
        if (rv == CKR_OK) rv = f->C_Sign(h, const_cast<CK_BYTE*>(data.data()), data.size(), signature->data(), &length);
        signature->resize(rv == CKR_OK ? length : 0);
        return rv;
    }

    // C_VerifyInit + C_Verify.
    CK_RV Verify(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, CK_OBJECT_HANDLE key, const std::vector<CK_BYTE>& data,
                 const std::vector<CK_BYTE>& signature)
    {
        CK_MECHANISM m{type, nullptr, 0};
        const CK_RV rv = f->C_VerifyInit(h, &m, key);
        if (rv != CKR_OK) return rv;
        return f->C_Verify(h, const_cast<CK_BYTE*>(data.data()), data.size(), const_cast<CK_BYTE*>(signature.data()),
                           signature.size());
    }

    CK_FUNCTION_LIST* f = nullptr;
    CK_SLOT_ID slot = 0;

private:
    void* handle_ = nullptr;
};

// A test of the module: the Win32 layer's named objects take a prefix of
// this test process, and each test has the module loaded (module_, and f_
// its function list).
class ModuleTest : public ::testing::Test {
protected:
    explicit ModuleTest(std::string prefix) : prefix_(std::move(prefix)) {}
    void SetUp() override
    {
        setenv("WEMU_NAME_PREFIX", (prefix_ + std::to_string(getpid())).c_str(), 1);
        module_ = std::make_unique<LoadedModule>();
        ASSERT_TRUE(module_->ok()) << dlerror();
        f_ = module_->f;
    }
    void TearDown() override
    {
        Unload();
        unsetenv("WEMU_NAME_PREFIX");
    }
    // Finalises and unloads the module now.
    void Unload()
    {
        module_.reset();
        f_ = nullptr;
    }

    std::unique_ptr<LoadedModule> module_;
    CK_FUNCTION_LIST* f_ = nullptr;

private:
    std::string prefix_;
};

}  // namespace qvk::e2e
