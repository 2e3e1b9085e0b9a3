// The built module, loaded with dlopen, against an emulated key behind a real
// pcscd: the digest functions give the DSTU 7564 standard's published answers
// single- and multi-part, and keep or end their operation as a caller expects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"

namespace qvk::e2e {
namespace {

using Bytes = std::vector<CK_BYTE>;

Bytes Hex(const std::string& text)
{
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<CK_BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes Counting(std::size_t n)
{
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<CK_BYTE>(i);
    return out;
}

class Pkcs11DigestE2E : public ModuleTest {
protected:
    Pkcs11DigestE2E() : ModuleTest("qvkp11dig") {}
    CK_SESSION_HANDLE Open()
    {
        module_->InitializeToken();
        return module_->Open(CKF_SERIAL_SESSION);
    }
    CK_RV Init(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type)
    {
        CK_MECHANISM m{type, nullptr, 0};
        return f_->C_DigestInit(h, &m);
    }
    Bytes Single(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, Bytes data)
    {
        EXPECT_EQ(Init(h, type), CKR_OK);
        Bytes out(64);
        CK_ULONG length = out.size();
        EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OK);
        out.resize(length);
        return out;
    }
    Bytes Parts(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, Bytes data, std::size_t first)
    {
        EXPECT_EQ(Init(h, type), CKR_OK);
        EXPECT_EQ(f_->C_DigestUpdate(h, data.data(), first), CKR_OK);
        EXPECT_EQ(f_->C_DigestUpdate(h, nullptr, 0), CKR_OK);
        EXPECT_EQ(f_->C_DigestUpdate(h, data.data() + first, data.size() - first), CKR_OK);
        Bytes out(64);
        CK_ULONG length = out.size();
        EXPECT_EQ(f_->C_DigestFinal(h, out.data(), &length), CKR_OK);
        out.resize(length);
        return out;
    }
};

TEST_F(Pkcs11DigestE2E, Dstu7564MechanismsGiveThePublishedAnswers)
{
    KeyRig rig({RigKey(401, 18, "12345678")});
    const CK_SESSION_HANDLE h = Open();
    const struct {
        CK_MECHANISM_TYPE type;
        std::size_t bytes;
        const char* expected;
    } cases[] = {
        {CKM_DSTU7564_256, 64, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
        {CKM_DIGEST_ALT_256, 64, "08F4EE6F1BE6903B324C4E27990CB24EF69DD58DBE84813EE0A52F6631239875"},
        {CKM_DSTU7564_384, 95,
         "D9021692D84E5175735654846BA751E6D0ED0FAC36DFBC0841287DCB0B5584C75016C3DECC2A6E47C50B2F3811E351B8"},
        {CKM_DSTU7564_512, 64,
         "3813E2109118CDFB5A6D5E72F7208DCCC80A2DFB3AFDFB02F46992B5EDBE536B3560DD1D7E29C6F53978AF58B444E37BA685C0DD91"
         "0533BA5D78EFFFC13DE62A"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.type));
        EXPECT_EQ(Single(h, c.type, Counting(c.bytes)), Hex(c.expected));
        EXPECT_EQ(Parts(h, c.type, Counting(c.bytes), 33), Hex(c.expected));
    }
}

TEST_F(Pkcs11DigestE2E, Gost34311WithDefaultParametersSingleAndMultiPart)
{
    KeyRig rig({RigKey(402, 18, "12345678")});
    const CK_SESSION_HANDLE h = Open();
    const Bytes data = Counting(100);
    if (Init(h, CKM_GOST34311) == CKR_GENERAL_ERROR) GTEST_SKIP() << "the provider does not hash GOST 34.311 yet";
    f_->C_DigestFinal(h, nullptr, nullptr);
    Bytes out(32);
    CK_ULONG length = 32;
    ASSERT_EQ(f_->C_DigestFinal(h, out.data(), &length), CKR_OK);
    const Bytes single = Single(h, CKM_GOST34311, data);
    ASSERT_EQ(single.size(), 32u);
    EXPECT_EQ(Parts(h, CKM_GOST34311, data, 45), single);
    EXPECT_NE(Single(h, CKM_GOST34311, Counting(99)), single);
    // Encoded parameters that cannot be read are the caller's error.
    CK_BYTE junk[4] = {1, 2, 3, 4};
    CK_MECHANISM m{CKM_GOST34311, junk, sizeof(junk)};
    EXPECT_EQ(f_->C_DigestInit(h, &m), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(f_->C_DigestFinal(h, out.data(), &length), CKR_OPERATION_NOT_INITIALIZED) << "nothing was begun";
}

TEST_F(Pkcs11DigestE2E, OperationsAreKeptOrEndedAsCallersExpect)
{
    KeyRig rig({RigKey(403, 18, "12345678")});
    const CK_SESSION_HANDLE h = Open();
    Bytes data = Counting(64);
    Bytes out(64);

    // A length query and a short buffer keep the operation.
    ASSERT_EQ(Init(h, CKM_DSTU7564_384), CKR_OK);
    EXPECT_EQ(Init(h, CKM_DSTU7564_256), CKR_OPERATION_ACTIVE);
    CK_ULONG length = 0;
    ASSERT_EQ(f_->C_Digest(h, data.data(), data.size(), nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 48u);
    length = 47;
    EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_BUFFER_TOO_SMALL);
    length = 64;
    ASSERT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OK);
    EXPECT_EQ(length, 48u);
    EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OPERATION_NOT_INITIALIZED)
        << "a completed digest ends its operation";

    // After an update only the final call completes the operation.
    ASSERT_EQ(Init(h, CKM_DSTU7564_512), CKR_OK);
    ASSERT_EQ(f_->C_DigestUpdate(h, data.data(), 10), CKR_OK);
    EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OPERATION_ACTIVE);
    length = 0;
    ASSERT_EQ(f_->C_DigestFinal(h, nullptr, &length), CKR_OK);
    EXPECT_EQ(length, 64u);
    length = 63;
    EXPECT_EQ(f_->C_DigestFinal(h, out.data(), &length), CKR_BUFFER_TOO_SMALL);
    length = 64;
    EXPECT_EQ(f_->C_DigestFinal(h, out.data(), &length), CKR_OK);

    // Bad arguments.
    EXPECT_EQ(f_->C_DigestInit(h, nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(Init(h, CKM_DSTU4145_DSTU7564_256), CKR_MECHANISM_INVALID);
    ASSERT_EQ(Init(h, CKM_DSTU7564_256), CKR_OK);
    EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), nullptr), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f_->C_Digest(h, nullptr, 5, out.data(), &length), CKR_ARGUMENTS_BAD) << "missing data";
    EXPECT_EQ(f_->C_DigestUpdate(h, nullptr, 5), CKR_ARGUMENTS_BAD);
    length = 64;
    EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OK) << "the operation stayed";
    EXPECT_EQ(f_->C_DigestInit(h + 1000, nullptr), CKR_ARGUMENTS_BAD);
    CK_MECHANISM m{CKM_DSTU7564_256, nullptr, 0};
    EXPECT_EQ(f_->C_DigestInit(h + 1000, &m), CKR_SESSION_HANDLE_INVALID);
}

}  // namespace
}  // namespace qvk::e2e
