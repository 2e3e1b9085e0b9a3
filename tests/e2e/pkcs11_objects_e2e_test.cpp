// Objects through the built module, loaded with dlopen, on an emulated key
// behind a real pcscd: session objects and their handles, the access rules
// of the session states, searches, attribute reads and changes, and token
// objects that the key keeps across a reload of the module and shows to
// another process.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KeyRig.h"
#include "Pkcs11Module.h"
#include "pkcs11/pkcs11ua.h"

namespace qvk::e2e {
namespace {

const std::string& kPin = kRigPin;
// Every session starts with one domain-parameter object per standard curve
// (the formats stand-in has no S-box parameter object, so no S-box ones).
constexpr CK_OBJECT_HANDLE kDomainCurves = 10;
constexpr CK_OBJECT_HANDLE kDomainObjects = 20;  // ten curves, then ten S-boxes
CK_BBOOL yes = CK_TRUE;
CK_BBOOL no = CK_FALSE;
CK_OBJECT_CLASS dataClass = CKO_DATA;

// The handle of a session's n-th object: it names the session too, so that
// it names that object in every session.
CK_OBJECT_HANDLE SessionObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE n)
{
    return session << 8 | n;
}

using Bytes = std::vector<std::uint8_t>;

template <typename T, typename F>
Bytes Der(const T* object, F encode)
{
    const int length = encode(object, nullptr);
    Bytes out(length > 0 ? static_cast<std::size_t>(length) : 0);
    unsigned char* p = out.data();
    if (length > 0) encode(object, &p);
    return out;
}

// A certificate signed by `issuerKey` for `subjectKey`, or for a DSTU 4145
// key (polynomial basis, little-endian) on curve M257 when that is null.
Bytes MakeCertificate(EVP_PKEY* issuerKey, EVP_PKEY* subjectKey, const char* commonName, long serial)
{
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    ASN1_TIME_set_string(X509_getm_notBefore(x), "20250101000000Z");
    ASN1_TIME_set_string(X509_getm_notAfter(x), "20351231235959Z");
    auto add = [](X509_NAME* name, const char* field, const char* text) {
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(text), -1, -1, 0);
    };
    add(X509_get_issuer_name(x), "CN", "Objects CA");
    add(X509_get_subject_name(x), "O", "Rig");
    add(X509_get_subject_name(x), "CN", commonName);
    if (subjectKey != nullptr) {
        X509_set_pubkey(x, subjectKey);
    } else {
        // SEQUENCE { OID 1.2.804.2.1.1.1.1.3.1.1.2.6 } and an OCTET STRING of
        // the 33-byte compressed point inside the key's BIT STRING.
        const Bytes params{0x30, 0x0F, 0x06, 0x0D, 0x2A, 0x86, 0x24, 0x02, 0x01,
                           0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x02, 0x06};
        ASN1_STRING* sequence = ASN1_STRING_new();
        ASN1_STRING_set(sequence, params.data(), static_cast<int>(params.size()));
        const int keyLength = 2 + 33;
        auto* key = static_cast<unsigned char*>(OPENSSL_malloc(keyLength));
        key[0] = 0x04;
        key[1] = 33;
        for (int i = 0; i < 33; ++i) key[2 + i] = static_cast<unsigned char>(7 * i + 3);
        X509_PUBKEY_set0_param(X509_get_X509_PUBKEY(x), OBJ_txt2obj("1.2.804.2.1.1.1.1.3.1.1", 1), V_ASN1_SEQUENCE,
                               sequence, key, keyLength);
    }
    X509_sign(x, issuerKey, EVP_sha256());
    Bytes der = Der(x, i2d_X509);
    X509_free(x);
    return der;
}

class Pkcs11ObjectsE2E : public ModuleTest {
protected:
    Pkcs11ObjectsE2E() : ModuleTest("qvkp11obj") {}

    void InitializedToken() { module_->InitializeToken("objects"); }

    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) { return module_->Open(flags); }

    CK_RV CreateData(CK_SESSION_HANDLE s, CK_BBOOL* token, CK_BBOOL* isPrivate, const std::string& label,
                     CK_OBJECT_HANDLE* handle, const std::string& value = "abc")
    {
        return module_->CreateData(s, token, isPrivate, label, handle, value);
    }

    std::vector<CK_OBJECT_HANDLE> Find(CK_SESSION_HANDLE s, std::vector<CK_ATTRIBUTE> pattern)
    {
        EXPECT_EQ(f_->C_FindObjectsInit(s, pattern.data(), pattern.size()), CKR_OK);
        std::vector<CK_OBJECT_HANDLE> all;
        CK_OBJECT_HANDLE some[3];
        CK_ULONG n = 0;
        do {
            EXPECT_EQ(f_->C_FindObjects(s, some, 3, &n), CKR_OK);
            all.insert(all.end(), some, some + n);
        } while (n != 0);
        EXPECT_EQ(f_->C_FindObjectsFinal(s), CKR_OK);
        return all;
    }

    std::string Label(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h)
    {
        char buffer[64];
        CK_ATTRIBUTE a{CKA_LABEL, buffer, sizeof(buffer)};
        EXPECT_EQ(f_->C_GetAttributeValue(s, h, &a, 1), CKR_OK);
        return std::string(buffer, a.ulValueLen == CK_UNAVAILABLE_INFORMATION ? 0 : a.ulValueLen);
    }

    // A public token certificate of the DER with the subject, issuer and
    // serial number OpenSSL reads from it (a byte each when it reads none).
    CK_RV CreateCertificate(CK_SESSION_HANDLE s, const Bytes& der, const std::string& label, CK_OBJECT_HANDLE* handle)
    {
        const unsigned char* p = der.data();
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
        Bytes subject = x != nullptr ? Der(X509_get_subject_name(x), i2d_X509_NAME) : Bytes{1};
        Bytes issuer = x != nullptr ? Der(X509_get_issuer_name(x), i2d_X509_NAME) : Bytes{1};
        Bytes serial = x != nullptr ? Der(X509_get0_serialNumber(x), i2d_ASN1_INTEGER) : Bytes{1};
        X509_free(x);
        CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE x509 = CKC_X_509;
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &certificateClass, sizeof(certificateClass)},
                            {CKA_TOKEN, &yes, 1},
                            {CKA_PRIVATE, &no, 1},
                            {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_SUBJECT, subject.data(), subject.size()},
                            {CKA_ISSUER, issuer.data(), issuer.size()},
                            {CKA_SERIAL_NUMBER, serial.data(), serial.size()},
                            {CKA_VALUE, const_cast<std::uint8_t*>(der.data()), der.size()}};
        return f_->C_CreateObject(s, t, 9, handle);
    }

    Bytes Value(CK_SESSION_HANDLE s, CK_OBJECT_HANDLE h, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE a{type, nullptr, 0};
        EXPECT_EQ(f_->C_GetAttributeValue(s, h, &a, 1), CKR_OK) << type;
        if (a.ulValueLen == CK_UNAVAILABLE_INFORMATION) return {};
        Bytes out(a.ulValueLen);
        a.pValue = out.data();
        EXPECT_EQ(f_->C_GetAttributeValue(s, h, &a, 1), CKR_OK) << type;
        return out;
    }

    CK_ULONG FreePublic()
    {
        CK_TOKEN_INFO info{};
        EXPECT_EQ(f_->C_GetTokenInfo(0, &info), CKR_OK);
        return info.ulFreePublicMemory;
    }
};

TEST_F(Pkcs11ObjectsE2E, SessionObjectsHandlesAccessAndSearches)
{
    KeyRig rig({RigKey(501, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE rw = Open();
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(CreateData(rw, &no, &yes, "private", &h), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(CreateData(rw, &no, &no, "first", &h), CKR_OK);
    const CK_OBJECT_HANDLE first = h;
    EXPECT_EQ(first, SessionObject(rw, kDomainObjects + 1));
    const CK_SESSION_HANDLE ro = Open(CKF_SERIAL_SESSION);
    EXPECT_EQ(CreateData(ro, &yes, &no, "token", &h), CKR_SESSION_READ_ONLY);

    // Reads: a short buffer, an unknown type, the first error wins.
    char label[8], small[2];
    CK_ATTRIBUTE read[] = {{CKA_LABEL, label, sizeof(label)}, {CKA_MODULUS, small, sizeof(small)}};
    EXPECT_EQ(f_->C_GetAttributeValue(rw, first, read, 2), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(read[0].ulValueLen, 5u);
    EXPECT_EQ(read[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE tooSmall{CKA_LABEL, small, sizeof(small)};
    EXPECT_EQ(f_->C_GetAttributeValue(rw, first, &tooSmall, 1), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(f_->C_GetAttributeValue(rw, 0x77, read, 1), CKR_OBJECT_HANDLE_INVALID);

    // The size is the stored form plus the record header: class (4 + 4),
    // handle (4 + 4), private false (4 + 1), label (8 + 5), value (8 + 3);
    // the values equal to their defaults are not stored.
    CK_ULONG size = 0;
    ASSERT_EQ(f_->C_GetObjectSize(rw, first, &size), CKR_OK);
    EXPECT_EQ(size, 8u + 8 + 5 + 13 + 11 + 6);

    // Searches: an undrained search blocks a new one; a drained one does not.
    ASSERT_EQ(CreateData(rw, &no, &no, "second", &h), CKR_OK);
    const CK_OBJECT_HANDLE second = h;
    EXPECT_EQ(second, SessionObject(rw, kDomainObjects + 2));
    CK_ULONG n = 0;
    CK_OBJECT_HANDLE found[4];
    EXPECT_EQ(f_->C_FindObjects(rw, found, 4, &n), CKR_OPERATION_NOT_INITIALIZED);
    CK_ATTRIBUTE data{CKA_CLASS, &dataClass, sizeof(dataClass)};
    ASSERT_EQ(f_->C_FindObjectsInit(rw, &data, 1), CKR_OK);
    EXPECT_EQ(f_->C_FindObjectsInit(rw, &data, 1), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(f_->C_FindObjects(rw, found, 0, &n), CKR_ARGUMENTS_BAD);
    ASSERT_EQ(f_->C_FindObjects(rw, found, 4, &n), CKR_OK);
    EXPECT_EQ(std::vector<CK_OBJECT_HANDLE>(found, found + n), (std::vector<CK_OBJECT_HANDLE>{first, second}));
    EXPECT_EQ(f_->C_FindObjectsInit(rw, nullptr, 0), CKR_OK);
    EXPECT_EQ(f_->C_FindObjectsFinal(rw), CKR_OK);
    EXPECT_EQ(f_->C_FindObjectsFinal(rw), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(Find(rw, {{CKA_LABEL, (void*)"second", 6}}), (std::vector<CK_OBJECT_HANDLE>{second}));
    // Session objects belong to their session.
    EXPECT_TRUE(Find(ro, {data}).empty());

    EXPECT_EQ(f_->C_DestroyObject(rw, first), CKR_OK);
    EXPECT_EQ(f_->C_DestroyObject(rw, first), CKR_OBJECT_HANDLE_INVALID);
    // The freed entry is used again.
    ASSERT_EQ(CreateData(rw, &no, &no, "third", &h), CKR_OK);
    EXPECT_EQ(h, first);
}

TEST_F(Pkcs11ObjectsE2E, HandlesStayUniqueAndCallerChangesArePoliced)
{
    KeyRig rig({RigKey(502, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE rw = Open();
    CK_OBJECT_HANDLE h = 0;
    std::vector<CK_OBJECT_HANDLE> made;
    for (CK_OBJECT_HANDLE i = kDomainObjects; i < 255; ++i) {
        ASSERT_EQ(CreateData(rw, &no, &no, "n" + std::to_string(i), &h), CKR_OK) << i;
        made.push_back(h);
    }
    EXPECT_EQ(made.back(), SessionObject(rw, 0xFF));
    // A 256th would wrap to handle 0 and alias the first.
    EXPECT_EQ(CreateData(rw, &no, &no, "one too many", &h), CKR_HOST_MEMORY);
    ASSERT_EQ(f_->C_DestroyObject(rw, SessionObject(rw, kDomainObjects + 7)), CKR_OK);
    ASSERT_EQ(CreateData(rw, &no, &no, "again", &h), CKR_OK);
    EXPECT_EQ(h, SessionObject(rw, kDomainObjects + 7));

    // The module's own attributes are not the caller's to give or change.
    CK_ULONG forged = 0x30000001;
    CK_ATTRIBUTE withHandle[] = {{CKA_CLASS, &dataClass, sizeof(dataClass)},
                                 {CKA_VENDOR_OBJECT_HANDLE, &forged, sizeof(forged)}};
    EXPECT_EQ(f_->C_CreateObject(rw, withHandle, 2, &h), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(f_->C_SetAttributeValue(rw, SessionObject(rw, kDomainObjects + 1), &withHandle[1], 1),
              CKR_ATTRIBUTE_TYPE_INVALID);
    CK_ATTRIBUTE ref{CKA_VENDOR_KEY_REF_1, (void*)"r", 1};
    EXPECT_EQ(f_->C_SetAttributeValue(rw, SessionObject(rw, kDomainObjects + 1), &ref, 1), CKR_ATTRIBUTE_TYPE_INVALID);

    CK_OBJECT_CLASS other = CKO_SECRET_KEY;
    struct Case {
        const char* name;
        CK_ATTRIBUTE entry;
        CK_RV expected;
    } cases[] = {
        {"class", {CKA_CLASS, &other, sizeof(other)}, CKR_ATTRIBUTE_READ_ONLY},
        {"token", {CKA_TOKEN, &yes, 1}, CKR_ATTRIBUTE_READ_ONLY},
        {"private", {CKA_PRIVATE, &yes, 1}, CKR_ATTRIBUTE_READ_ONLY},
        {"same private", {CKA_PRIVATE, &no, 1}, CKR_OK},
        {"label", {CKA_LABEL, (void*)"renamed", 7}, CKR_OK},
        {"not modifiable", {CKA_MODIFIABLE, &no, 1}, CKR_OK},
        {"label after", {CKA_LABEL, (void*)"x", 1}, CKR_ATTRIBUTE_READ_ONLY},
    };
    for (Case& c : cases)
        EXPECT_EQ(f_->C_SetAttributeValue(rw, SessionObject(rw, kDomainObjects + 1), &c.entry, 1), c.expected)
            << c.name;
    EXPECT_EQ(Label(rw, SessionObject(rw, kDomainObjects + 1)), "renamed");

    // A domain-parameter object (a plain object) keeps its class and token flag too.
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    CK_ATTRIBUTE plain[] = {{CKA_CLASS, &domain, sizeof(domain)}, {CKA_TOKEN, &no, 1}, {CKA_PRIVATE, &no, 1}};
    ASSERT_EQ(f_->C_DestroyObject(rw, SessionObject(rw, kDomainObjects + 2)), CKR_OK);
    ASSERT_EQ(f_->C_DestroyObject(rw, SessionObject(rw, kDomainObjects + 3)), CKR_OK);
    ASSERT_EQ(f_->C_CreateObject(rw, plain, 3, &h), CKR_OK);
    EXPECT_EQ(f_->C_SetAttributeValue(rw, h, &cases[0].entry, 1), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(f_->C_SetAttributeValue(rw, h, &cases[1].entry, 1), CKR_ATTRIBUTE_READ_ONLY);

    // Only a security officer makes a certificate trusted.
    CK_OBJECT_CLASS cert = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE x509 = CKC_X_509;
    CK_ATTRIBUTE trusted[] = {{CKA_CLASS, &cert, sizeof(cert)},
                              {CKA_TOKEN, &no, 1},
                              {CKA_PRIVATE, &no, 1},
                              {CKA_CERTIFICATE_TYPE, &x509, sizeof(x509)},
                              {CKA_SUBJECT, (void*)"s", 1},
                              {CKA_VALUE, (void*)"v", 1},
                              {CKA_TRUSTED, &yes, 1}};
    EXPECT_EQ(f_->C_CreateObject(rw, trusted, 7, &h), CKR_ATTRIBUTE_READ_ONLY);
    trusted[6].pValue = &no;
    ASSERT_EQ(f_->C_CreateObject(rw, trusted, 7, &h), CKR_OK);
    CK_ATTRIBUTE makeTrusted{CKA_TRUSTED, &yes, 1};
    EXPECT_EQ(f_->C_SetAttributeValue(rw, h, &makeTrusted, 1), CKR_ATTRIBUTE_READ_ONLY);
}

TEST_F(Pkcs11ObjectsE2E, TokenObjectsLiveOnTheKeyAcrossReloadsAndProcesses)
{
    KeyRig rig({RigKey(503, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE rw = Open();
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    const CK_ULONG freeBefore = FreePublic();
    CK_OBJECT_HANDLE pub = 0, priv = 0, pub2 = 0;
    ASSERT_EQ(CreateData(rw, &yes, &no, "public one", &pub), CKR_OK);
    EXPECT_EQ(pub, 0x10000001u);
    CK_ULONG size = 0;
    ASSERT_EQ(f_->C_GetObjectSize(rw, pub, &size), CKR_OK);
    EXPECT_EQ(FreePublic(), freeBefore - size);
    ASSERT_EQ(CreateData(rw, &yes, &yes, "private one", &priv), CKR_OK);
    EXPECT_EQ(priv, 0x30000001u);
    ASSERT_EQ(CreateData(rw, &yes, &no, "public two", &pub2), CKR_OK);
    EXPECT_EQ(pub2, 0x10000002u);

    // A change rewrites the stored object under the same handle.
    CK_ATTRIBUTE rename{CKA_LABEL, (void*)"renamed", 7};
    ASSERT_EQ(f_->C_SetAttributeValue(rw, pub, &rename, 1), CKR_OK);
    EXPECT_EQ(Label(rw, pub), "renamed");
    EXPECT_EQ(Label(rw, pub2), "public two");

    // A value too big for the area is refused and loses nothing.
    const std::string huge(5000, 'z');
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(CreateData(rw, &yes, &no, "huge", &h, huge), CKR_DEVICE_MEMORY);
    CK_ATTRIBUTE grow{CKA_VALUE, const_cast<char*>(huge.data()), huge.size()};
    EXPECT_EQ(f_->C_SetAttributeValue(rw, pub2, &grow, 1), CKR_DEVICE_MEMORY);
    EXPECT_EQ(Label(rw, pub2), "public two");

    // Without a login only the public objects show.
    const CK_SESSION_HANDLE ro = Open(CKF_SERIAL_SESSION);
    EXPECT_EQ(Find(rw, {{CKA_CLASS, &dataClass, sizeof(dataClass)}}), (std::vector<CK_OBJECT_HANDLE>{pub, pub2, priv}));
    EXPECT_EQ(f_->C_DestroyObject(ro, pub2), CKR_SESSION_READ_ONLY);
    ASSERT_EQ(f_->C_DestroyObject(rw, pub2), CKR_OK);
    // A handle the area no longer holds: nothing is written, and the answer stays 0.
    const CK_ULONG freeNow = FreePublic();
    EXPECT_EQ(f_->C_DestroyObject(rw, pub2), CKR_OK);
    EXPECT_EQ(FreePublic(), freeNow);
    ASSERT_EQ(f_->C_Logout(rw), CKR_OK);
    EXPECT_EQ(Find(ro, {{CKA_CLASS, &dataClass, sizeof(dataClass)}}), (std::vector<CK_OBJECT_HANDLE>{pub}));
    char buffer[16];
    CK_ATTRIBUTE readLabel{CKA_LABEL, buffer, sizeof(buffer)};
    EXPECT_EQ(f_->C_GetAttributeValue(ro, priv, &readLabel, 1), CKR_USER_NOT_LOGGED_IN);

    // A reload of the module reads them back from the key.
    ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    const CK_SESSION_HANDLE again = Open();
    EXPECT_EQ(Find(again, {{CKA_CLASS, &dataClass, sizeof(dataClass)}}), (std::vector<CK_OBJECT_HANDLE>{pub}));
    EXPECT_EQ(Label(again, pub), "renamed");
    ASSERT_EQ(f_->C_Login(again, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    EXPECT_EQ(Find(again, {{CKA_LABEL, (void*)"private one", 11}}), (std::vector<CK_OBJECT_HANDLE>{priv}));
    ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);

    // Another process sees them as well.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LoadedModule module;
        CK_FUNCTION_LIST* f = module.f;
        CK_SESSION_HANDLE s = 0;
        CK_OBJECT_HANDLE seen[4];
        CK_ULONG n = 0;
        CK_ATTRIBUTE pattern{CKA_LABEL, (void*)"renamed", 7};
        CK_ULONG count = 0;
        const bool ok = f != nullptr && f->C_Initialize(nullptr) == CKR_OK &&
                        f->C_GetSlotList(CK_TRUE, nullptr, &count) == CKR_OK &&
                        f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &s) == CKR_OK &&
                        f->C_FindObjectsInit(s, &pattern, 1) == CKR_OK && f->C_FindObjects(s, seen, 4, &n) == CKR_OK &&
                        n == 1 && seen[0] == 0x10000001u;
        if (f != nullptr) f->C_Finalize(nullptr);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Pkcs11ObjectsE2E, EverySessionStartsWithTheStandardCurvesAndSBoxes)
{
    KeyRig rig({RigKey(504, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE ro = Open(CKF_SERIAL_SESSION);
    CK_OBJECT_CLASS domain = CKO_DOMAIN_PARAMETERS;
    const std::vector<CK_OBJECT_HANDLE> objects = Find(ro, {{CKA_CLASS, &domain, sizeof(domain)}});
    ASSERT_EQ(objects.size(), kDomainObjects);
    // The field degrees of the standard polynomial-basis curves, in order.
    const int degrees[kDomainCurves] = {163, 167, 173, 179, 191, 233, 257, 307, 367, 431};
    for (std::size_t i = 0; i < kDomainCurves; ++i) {
        EXPECT_EQ(objects[i], i + 1);
        EXPECT_EQ(Label(ro, objects[i]), "EC Params (" + std::to_string(degrees[i]) + " bits)");
        CK_BBOOL token = CK_FALSE, isPrivate = CK_TRUE;
        CK_KEY_TYPE keyType = 0;
        CK_ATTRIBUTE read[] = {{CKA_TOKEN, &token, 1},
                               {CKA_PRIVATE, &isPrivate, 1},
                               {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                               {CKA_EC_PARAMS, nullptr, 0}};
        ASSERT_EQ(f_->C_GetAttributeValue(ro, objects[i], read, 4), CKR_OK);
        EXPECT_EQ(token, CK_TRUE);
        EXPECT_EQ(isPrivate, CK_FALSE);
        EXPECT_EQ(keyType, CKK_DSTU4145);
        EXPECT_GT(read[3].ulValueLen, 64u);  // a curve name and the S-box
    }
    // The S-boxes: the explicit S-box as an OCTET STRING of 64 bytes, and as
    // CKA_ID the DER of the OID 1.2.804.2.1.1.1.1.1.1.0.j naming it.
    std::vector<std::vector<std::uint8_t>> seen;
    for (std::size_t j = 0; j < kDomainObjects - kDomainCurves; ++j) {
        const CK_OBJECT_HANDLE h = objects[kDomainCurves + j];
        EXPECT_EQ(h, kDomainCurves + j + 1);
        CK_BBOOL token = CK_FALSE, isPrivate = CK_TRUE, local = CK_FALSE;
        CK_KEY_TYPE keyType = 0;
        std::vector<std::uint8_t> info(128), id(64);
        CK_ATTRIBUTE read[] = {{CKA_TOKEN, &token, 1},
                               {CKA_PRIVATE, &isPrivate, 1},
                               {CKA_LOCAL, &local, 1},
                               {CKA_KEY_TYPE, &keyType, sizeof(keyType)},
                               {CKA_VENDOR_KEY_INFO, info.data(), info.size()},
                               {CKA_ID, id.data(), id.size()}};
        ASSERT_EQ(f_->C_GetAttributeValue(ro, h, read, 6), CKR_OK) << j;
        EXPECT_EQ(token, CK_TRUE);
        EXPECT_EQ(isPrivate, CK_FALSE);
        EXPECT_EQ(local, CK_TRUE);
        EXPECT_EQ(keyType, CKK_GOST28147);
        info.resize(read[4].ulValueLen);
        id.resize(read[5].ulValueLen);
        ASSERT_EQ(info.size(), 66u) << j;
        EXPECT_EQ(info[0], 0x04);
        EXPECT_EQ(info[1], 0x40);
        seen.push_back(info);
        const std::vector<std::uint8_t> expectedId{0x06, 0x0C, 0x2A, 0x86, 0x24, 0x02, 0x01,
                                                   0x01, 0x01, 0x01, 0x01, 0x01, 0x00, static_cast<std::uint8_t>(j)};
        EXPECT_EQ(id, expectedId) << j;
    }
    for (std::size_t a = 0; a < seen.size(); ++a)
        for (std::size_t b = a + 1; b < seen.size(); ++b) EXPECT_NE(seen[a], seen[b]) << a << " " << b;
    // They are the session's own: another session has its own copies.
    const CK_SESSION_HANDLE rw = Open();
    EXPECT_EQ(Find(rw, {{CKA_CLASS, &domain, sizeof(domain)}}).size(), kDomainObjects);
}

TEST_F(Pkcs11ObjectsE2E, TokenCertificatesOfEachKeyKindAreKeptWithTheirFields)
{
    KeyRig rig({RigKey(505, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE rw = Open();
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    EVP_PKEY* ca = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    EVP_PKEY* ec = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    ASSERT_NE(ca, nullptr);
    ASSERT_NE(ec, nullptr);
    const std::vector<Bytes> made{MakeCertificate(ca, ca, "RSA holder", 0x1001),
                                  MakeCertificate(ca, ec, "EC holder", 0x1002),
                                  MakeCertificate(ca, nullptr, "DSTU holder", 0x7FFFFFFF01)};
    EVP_PKEY_free(ec);
    EVP_PKEY_free(ca);
    const std::string labels[3] = {"rsa", "ec", "dstu"};
    std::vector<CK_OBJECT_HANDLE> handles;
    CK_ULONG free = FreePublic();
    for (std::size_t i = 0; i < made.size(); ++i) {
        CK_OBJECT_HANDLE h = 0;
        ASSERT_EQ(CreateCertificate(rw, made[i], labels[i], &h), CKR_OK) << labels[i];
        EXPECT_EQ(h, 0x10000001u + i);
        CK_ULONG size = 0;
        ASSERT_EQ(f_->C_GetObjectSize(rw, h, &size), CKR_OK);
        EXPECT_EQ(FreePublic(), free - size);
        free -= size;
        handles.push_back(h);
    }
    // A value the formats library cannot read as a certificate gives the
    // device no key type: refused, nothing stored.
    Bytes junk{0x30, 0x03, 0x02, 0x01, 0x01};
    CK_OBJECT_HANDLE h = 0;
    EXPECT_EQ(CreateCertificate(rw, junk, "junk", &h), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(FreePublic(), free);

    // Read back after a reload: each field is what OpenSSL reads from the
    // stored certificate.
    ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    const CK_SESSION_HANDLE again = Open();
    CK_OBJECT_CLASS certificateClass = CKO_CERTIFICATE;
    ASSERT_EQ(Find(again, {{CKA_CLASS, &certificateClass, sizeof(certificateClass)}}), handles);
    for (std::size_t i = 0; i < made.size(); ++i) {
        SCOPED_TRACE(labels[i]);
        const Bytes value = Value(again, handles[i], CKA_VALUE);
        EXPECT_EQ(value, made[i]);
        const unsigned char* p = value.data();
        X509* x = d2i_X509(nullptr, &p, static_cast<long>(value.size()));
        ASSERT_NE(x, nullptr);
        EXPECT_EQ(Value(again, handles[i], CKA_SUBJECT), Der(X509_get_subject_name(x), i2d_X509_NAME));
        EXPECT_EQ(Value(again, handles[i], CKA_ISSUER), Der(X509_get_issuer_name(x), i2d_X509_NAME));
        EXPECT_EQ(Value(again, handles[i], CKA_SERIAL_NUMBER), Der(X509_get0_serialNumber(x), i2d_ASN1_INTEGER));
        X509_free(x);
        EXPECT_EQ(Label(again, handles[i]), labels[i]);
    }
    // The device keeps no copy of certificates; deleting one leaves the others.
    ASSERT_EQ(f_->C_Login(again, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    ASSERT_EQ(f_->C_DestroyObject(again, handles[1]), CKR_OK);
    EXPECT_EQ(Find(again, {{CKA_CLASS, &certificateClass, sizeof(certificateClass)}}),
              (std::vector<CK_OBJECT_HANDLE>{handles[0], handles[2]}));
}

TEST_F(Pkcs11ObjectsE2E, ACertificateThatNoLongerLoadsIsNotDeletedAndTheOthersStay)
{
    KeyRig rig({RigKey(506, 18, kPin)});
    InitializedToken();
    const CK_SESSION_HANDLE rw = Open();
    ASSERT_EQ(f_->C_Login(rw, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    EVP_PKEY* ca = EVP_PKEY_Q_keygen(nullptr, nullptr, "RSA", static_cast<size_t>(1024));
    ASSERT_NE(ca, nullptr);
    const Bytes der = MakeCertificate(ca, nullptr, "DSTU holder", 9);
    EVP_PKEY_free(ca);
    CK_OBJECT_HANDLE before = 0, certificate = 0, after = 0, secret = 0;
    ASSERT_EQ(CreateData(rw, &yes, &no, "before", &before), CKR_OK);
    ASSERT_EQ(CreateCertificate(rw, der, "certificate", &certificate), CKR_OK);
    ASSERT_EQ(CreateData(rw, &yes, &no, "after", &after), CKR_OK);
    ASSERT_EQ(CreateData(rw, &yes, &yes, "secret", &secret), CKR_OK);

    // Creation checks the value; a later change of it is not checked, so a
    // stored certificate can stop loading.
    Bytes junk{0x30, 0x03, 0x02, 0x01, 0x01};
    CK_ATTRIBUTE damage{CKA_VALUE, junk.data(), junk.size()};
    ASSERT_EQ(f_->C_SetAttributeValue(rw, certificate, &damage, 1), CKR_OK);
    const CK_ULONG free = FreePublic();

    // The delete hook cannot read it: the error comes back and the area is
    // left as it was, with every object in it.
    EXPECT_EQ(f_->C_DestroyObject(rw, certificate), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(FreePublic(), free);
    const std::vector<CK_OBJECT_HANDLE> all{before, certificate, after, secret};
    // Those the key holds (the domain-parameter objects are the session's).
    auto stored = [&](CK_SESSION_HANDLE s) {
        std::vector<CK_OBJECT_HANDLE> out;
        for (CK_OBJECT_HANDLE h : Find(s, {{CKA_TOKEN, &yes, 1}}))
            if ((h & 0x10000000u) != 0) out.push_back(h);
        return out;
    };
    EXPECT_EQ(stored(rw), all);
    EXPECT_EQ(Value(rw, certificate, CKA_VALUE), junk);

    // So the key holds them too, and the others can still be deleted.
    ASSERT_EQ(f_->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(f_->C_Initialize(nullptr), CKR_OK);
    CK_ULONG count = 0;
    ASSERT_EQ(f_->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    const CK_SESSION_HANDLE again = Open();
    ASSERT_EQ(f_->C_Login(again, CKU_USER, U(kPin), kPin.size()), CKR_OK);
    EXPECT_EQ(stored(again), all);
    EXPECT_EQ(Label(again, after), "after");
    ASSERT_EQ(f_->C_DestroyObject(again, before), CKR_OK);
    EXPECT_EQ(stored(again), (std::vector<CK_OBJECT_HANDLE>{certificate, after, secret}));
    // Mended, it goes.
    CK_ATTRIBUTE mend{CKA_VALUE, const_cast<std::uint8_t*>(der.data()), der.size()};
    ASSERT_EQ(f_->C_SetAttributeValue(again, certificate, &mend, 1), CKR_OK);
    ASSERT_EQ(f_->C_DestroyObject(again, certificate), CKR_OK);
    EXPECT_EQ(stored(again), (std::vector<CK_OBJECT_HANDLE>{after, secret}));
}

}  // namespace
}  // namespace qvk::e2e
