// The built module, loaded with dlopen, against an emulated key behind a real
// pcscd: the digest functions give the DSTU 7564 standard's published answers
// single- and multi-part, and keep or end their operation as a caller expects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GostTestSBox.h"
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
    CK_RV Init(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, const Bytes& parameter = {})
    {
        CK_MECHANISM m{type, parameter.empty() ? nullptr : const_cast<CK_BYTE*>(parameter.data()), parameter.size()};
        return f_->C_DigestInit(h, &m);
    }
    Bytes Single(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, Bytes data, const Bytes& parameter = {})
    {
        EXPECT_EQ(Init(h, type, parameter), CKR_OK);
        Bytes out(64);
        CK_ULONG length = out.size();
        EXPECT_EQ(f_->C_Digest(h, data.data(), data.size(), out.data(), &length), CKR_OK);
        out.resize(length);
        return out;
    }
    Bytes Parts(CK_SESSION_HANDLE h, CK_MECHANISM_TYPE type, Bytes data, std::size_t first, const Bytes& parameter = {})
    {
        EXPECT_EQ(Init(h, type, parameter), CKR_OK);
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
    ASSERT_EQ(Init(h, CKM_GOST34311), CKR_OK);
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

Bytes TestSBox()
{
    const auto packed = cryptotest::PackedGostTestSBox();
    return Bytes(packed.begin(), packed.end());
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// A DER element of a short-form length: tag, length, content.
Bytes Der(CK_BYTE tag, const Bytes& content)
{
    Bytes out{tag, static_cast<CK_BYTE>(content.size())};
    for (CK_BYTE b : content) out.push_back(b);
    return out;
}

// The OID 1.2.a.b... of arcs below 128: 40 * 1 + 2, then a byte per arc.
Bytes SmallOid(const std::vector<CK_BYTE>& arcs)
{
    Bytes body{0x2A};
    for (CK_BYTE a : arcs) body.push_back(a);
    return Der(0x06, body);
}

// The reference 1.2.804.2.1.1.1.1.1.1.0.j of standard S-box j (804 is 6 * 128 + 36).
Bytes StandardSBoxReference(CK_BYTE j)
{
    return Der(0x06, {0x2A, 0x86, 0x24, 0x02, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x00, j});
}

TEST_F(Pkcs11DigestE2E, Gost34311GivesThePublishedAnswersUnderTheParametersGiven)
{
    KeyRig rig({RigKey(404, 18, "12345678")});
    // Read-write: the session's standard objects report themselves token
    // objects, and the test destroys some.
    module_->InitializeToken();
    const CK_SESSION_HANDLE h = module_->Open();

    // The standard's examples under its test S-box, given outright.
    const Bytes explicitTest = Der(0x30, Der(0x04, TestSBox()));
    const Bytes example = Text("Suppose the original message has length = 50 bytes");
    const Bytes exampleHash = Hex("471ABA57A60A770D3A76130635C1FBEA4EF14DE51F78B4AE57DD893B62F55208");
    EXPECT_EQ(Single(h, CKM_GOST34311, Text("This is message, length=32 bytes"), explicitTest),
              Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));
    EXPECT_EQ(Single(h, CKM_GOST34311, example, explicitTest), exampleHash);
    EXPECT_EQ(Parts(h, CKM_GOST34311, example, 33, explicitTest), exampleHash);

    // The default S-box: no parameter, and standard S-box 0 named by reference.
    const Bytes message = Text("12345678901234567890123456789011");
    const Bytes defaultHash = Hex("7686f3f4b113aadc97bca9ea054f41821f0676c5c28ffb987e41797a568e1ed4");
    EXPECT_EQ(Single(h, CKM_GOST34311, message), defaultHash);
    EXPECT_EQ(Single(h, CKM_GOST34311, message, Der(0x30, StandardSBoxReference(0))), defaultHash);
    EXPECT_EQ(Parts(h, CKM_GOST34311, message, 7, Der(0x30, StandardSBoxReference(0))), defaultHash);

    // Every S-box object of the session: its reference hashes as its S-box.
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_ATTRIBUTE pattern[] = {{CKA_CLASS, &domain, sizeof(domain)}, {CKA_KEY_TYPE, &gost, sizeof(gost)}};
    ASSERT_EQ(f_->C_FindObjectsInit(h, pattern, 2), CKR_OK);
    CK_OBJECT_HANDLE boxes[16];
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_FindObjects(h, boxes, 16, &count), CKR_OK);
    ASSERT_EQ(f_->C_FindObjectsFinal(h), CKR_OK);
    ASSERT_EQ(count, 10u);
    std::vector<Bytes> hashes;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_BYTE id[64], info[80];
        CK_ATTRIBUTE read[] = {{CKA_ID, id, sizeof(id)}, {CKA_VENDOR_KEY_INFO, info, sizeof(info)}};
        ASSERT_EQ(f_->C_GetAttributeValue(h, boxes[i], read, 2), CKR_OK);
        const Bytes reference(id, id + read[0].ulValueLen);
        EXPECT_EQ(reference, StandardSBoxReference(static_cast<CK_BYTE>(i)));
        const Bytes byReference = Single(h, CKM_GOST34311, example, Der(0x30, reference));
        EXPECT_EQ(byReference, Single(h, CKM_GOST34311, example, Der(0x30, Bytes(info, info + read[1].ulValueLen))))
            << i;
        hashes.push_back(byReference);
    }
    EXPECT_NE(hashes.front(), hashes.back());

    // Parameters that name no S-box, or that are missing.
    EXPECT_EQ(Init(h, CKM_GOST34311, Der(0x30, StandardSBoxReference(10))), CKR_MECHANISM_PARAM_INVALID);
    CK_MECHANISM missing{CKM_GOST34311, nullptr, 20};
    EXPECT_EQ(f_->C_DigestInit(h, &missing), CKR_MECHANISM_PARAM_INVALID);
    missing.mechanism = CKM_DSTU7564_256;
    EXPECT_EQ(f_->C_DigestInit(h, &missing), CKR_MECHANISM_PARAM_INVALID);
    CK_ULONG length = 0;
    EXPECT_EQ(f_->C_DigestFinal(h, nullptr, &length), CKR_OPERATION_NOT_INITIALIZED) << "nothing was begun";
    // A session whose S-box objects are gone resolves no reference.
    for (CK_ULONG i = 0; i < count; ++i) ASSERT_EQ(f_->C_DestroyObject(h, boxes[i]), CKR_OK);
    EXPECT_EQ(Init(h, CKM_GOST34311, Der(0x30, StandardSBoxReference(0))), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(Single(h, CKM_GOST34311, message), defaultHash);
}

TEST_F(Pkcs11DigestE2E, Gost34311ReferencesOfTheFull128CharactersResolve)
{
    KeyRig rig({RigKey(405, 18, "12345678")});
    Open();
    CK_SESSION_HANDLE rw = 0;
    ASSERT_EQ(f_->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &rw), CKR_OK);
    std::string pin = "12345678";
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), CKR_OK);

    // 1.2.10 and 61 arcs 3: 3 + 3 + 2 * 61 = 128 characters. 1.2 and 63 arcs
    // 3: 129 characters, one more than a reference holds.
    std::vector<CK_BYTE> arcs{10};
    arcs.insert(arcs.end(), 61, 3);
    const Bytes longest = SmallOid(arcs);
    const Bytes tooLong = SmallOid(std::vector<CK_BYTE>(63, 3));
    ASSERT_EQ(longest.size(), 2u + 1 + 62);

    // An S-box object naming the test S-box by that reference, made as the
    // module makes its own.
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    CK_KEY_TYPE gost = CKK_GOST28147;
    CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
    Bytes info = Der(0x04, TestSBox());
    Bytes id = longest;
    CK_ATTRIBUTE t[] = {{CKA_CLASS, &domain, sizeof(domain)},
                        {CKA_TOKEN, &yes, 1},
                        {CKA_PRIVATE, &no, 1},
                        {CKA_LOCAL, &yes, 1},
                        {CKA_KEY_TYPE, &gost, sizeof(gost)},
                        {CKA_VENDOR_KEY_INFO, info.data(), info.size()},
                        {CKA_ID, id.data(), id.size()}};
    CK_OBJECT_HANDLE made = 0;
    ASSERT_EQ(f_->C_CreateObject(rw, t, 7, &made), CKR_OK);

    EXPECT_EQ(Single(rw, CKM_GOST34311, Text("This is message, length=32 bytes"), Der(0x30, longest)),
              Hex("B1C466D37519B82E8319819FF32595E047A28CB6F83EFF1C6916A815A637FFFA"));
    EXPECT_EQ(Init(rw, CKM_GOST34311, Der(0x30, tooLong)), CKR_MECHANISM_PARAM_INVALID);
    EXPECT_EQ(f_->C_DestroyObject(rw, made), CKR_OK);
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
    EXPECT_EQ(length, 48u) << "the length needed";
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
    EXPECT_EQ(length, 64u) << "the length needed";
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
