// OCSP requests and responses over the double, with responses signed and
// checked through the real CSP (DSTU 4145) and CSPI (RSA, ECDSA); RSA and
// ECDSA signatures are also checked with OpenSSL.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/sha.h>

#include <algorithm>

#include "OCSPFixture.h"
#include "VirtualSlot.h"

using namespace ocsptest;

namespace {

std::uint64_t Ticks(const SYSTEMTIME& t)
{
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&t, &ft));
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

Bytes NameEncoding(const std::wstring& text)
{
    fake::OCSPWriter w;
    w.Text(text);
    return w.out;
}

PKIBlob View(const Bytes& b)
{
    return PKIBlob{static_cast<std::uint32_t>(b.size()), const_cast<std::uint8_t*>(b.data())};
}

Bytes Copy(const PKIBlob& b)
{
    return Bytes(b.data, b.data + b.length);
}

const SYSTEMTIME kRevoked = {2026, 3, 0, 1, 10, 20, 30, 0};

}  // namespace

TEST(OCSPSlots, TheNewObjectSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_OCSP_MODEL_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

using OCSPRequests = OCSPProviders;

// The CertID's name hash and where it goes follow the hash kind and the
// library's version: GOST 34.311 of the issuer object from 261 on, of the
// encoded name before; only SHA-1 (160 bits, the SHA-1 slot) up to 266;
// DSTU 7564 only above 274 and only with an issuer object.
TEST_F(OCSPRequests, CertIDByHashKindAndLibraryVersion)
{
    struct Case {
        std::uint32_t version, kind;
        bool issuerObject, ok;
        const char* hashCall;  // the interface's hash call
        const char* setCall;   // the CertID's setter
        std::uint32_t hashBytes;
    };
    const Case cases[] = {
        {260, 1, true, true, "0:21(encoded)", "4914:6()", 32},
        {261, 1, true, true, "0:21(object)", "4914:6()", 32},
        {270, 1, false, true, "0:21(encoded)", "4914:6()", 32},
        {256, 2, true, true, "0:22(encoded,160)", "4914:8()", 20},
        {257, 2, true, true, "0:22(object,160)", "4914:8()", 20},
        {266, 4, true, false, nullptr, nullptr, 0},
        {267, 4, true, true, "0:22(object,256)", "4914:9(4)", 32},
        {267, 6, false, true, "0:22(encoded,512)", "4914:9(6)", 64},
        {274, 7, true, false, nullptr, nullptr, 0},
        {275, 7, false, false, nullptr, nullptr, 0},
        {275, 7, true, true, "0:23(3,256)", "4914:3(7)", 32},
        {275, 9, true, true, "0:23(3,512)", "4914:3(9)", 64},
        {275, 10, true, false, nullptr, nullptr, 0},
    };
    const Bytes issuerName = NameEncoding(L"CN=Issuing CA");
    const PKIBlob name = View(issuerName);
    std::uint8_t serial[20] = {};
    serial[19] = 5;
    std::uint8_t keyHash[64];
    for (int i = 0; i < 64; ++i) keyHash[i] = static_cast<std::uint8_t>(0x40 + i);
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version) + " kind " + std::to_string(c.kind));
        lib.version = c.version;
        auto* issuer = Certificate(lib, 1);
        issuer->subject = L"CN=Issuing CA";
        Drop dropIssuer{issuer};
        auto* request = new fake::OCSPRequest(lib);
        Drop dropRequest{request};
        lib.log.clear();
        const PKIFOCSPEntryArguments a{facade, request, nullptr, c.issuerObject ? issuer : nullptr,
                                       &name,  serial,  keyHash, c.kind};
        ASSERT_EQ(facade->AddOCSPRequestEntry(&a), c.ok ? 1 : 0);
        if (!c.ok) {
            EXPECT_TRUE(request->entries.empty());
            continue;
        }
        EXPECT_EQ(Calls("0:2").front(), c.hashCall);
        EXPECT_EQ(Calls(std::string(c.setCall).substr(0, 7)).front(), c.setCall);
        ASSERT_EQ(request->entries.size(), 1u);
        const fake::CertIDData& id = request->entries[0];
        EXPECT_EQ(id.kind, c.version <= 266 && c.kind >= 2 && c.kind <= 6 ? 2u : c.kind);
        EXPECT_EQ(id.name.size(), c.hashBytes);
        EXPECT_EQ(id.key, Bytes(keyHash, keyHash + c.hashBytes));
        EXPECT_EQ(id.serial, Bytes(serial, serial + 20));
    }
}

// The name hash itself, against OpenSSL's SHA-1 of the issuer name's bytes.
TEST_F(OCSPRequests, SHA1NameHashIsTheIssuerNamesDigest)
{
    const Bytes issuerName = NameEncoding(L"CN=Issuing CA");
    const PKIBlob name = View(issuerName);
    std::uint8_t serial[20] = {}, expected[20];
    SHA1(issuerName.data(), issuerName.size(), expected);
    auto* request = new fake::OCSPRequest(lib);
    Drop dropRequest{request};
    const PKIFOCSPEntryArguments a{facade, request, nullptr, nullptr, &name, serial, nullptr, 2};
    ASSERT_EQ(facade->AddOCSPRequestEntry(&a), 1);
    EXPECT_EQ(request->entries[0].name, Bytes(expected, expected + 20));
    EXPECT_EQ(request->entries[0].key, Bytes(20, 0));
}

// From a certificate: issuer name, serial (right-aligned in 20 bytes) and
// the authority key identifier; the hash kind chosen by the identifier's
// length and the key family; a kind that differs from the identifier's
// still builds the entry, with a zero key hash when the library cannot
// recompute it.
TEST_F(OCSPRequests, EntryFromACertificateChoosesItsHashKind)
{
    struct Case {
        std::uint32_t family, ownHash, identifierLength, askedKind, kind;
        bool keyHashIsIdentifier;
        bool view;
    };
    const Case cases[] = {
        {2, 4, 20, 0, 2, true, false},   // RSA, 20 bytes: SHA-1
        {4, 4, 32, 0, 4, true, true},    // ECDSA, 32 bytes: SHA-256, through view 4261
        {1, 1, 32, 0, 1, true, false},   // DSTU 4145 under GOST 34.311: GOST
        {1, 4, 32, 0, 4, false, false},  // DSTU 4145, 32 bytes, other hash: the certificate's own kind
        {2, 4, 20, 4, 4, false, false},  // asked kind differs: zero key hash, entry still built
        {2, 4, 0, 0, 2, false, false},   // no identifier: SHA-1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("family " + std::to_string(c.family) + " length " + std::to_string(c.identifierLength));
        auto* cert = Certificate(lib, c.family);
        Drop dropCert{cert};
        cert->hashCode = c.ownHash;
        cert->serial = {0x7F, 0x01};
        cert->keyIdView = c.view;
        for (std::uint32_t i = 0; i < c.identifierLength; ++i)
            cert->authorityKeyId.push_back(static_cast<std::uint8_t>(0xA0 + i));
        auto* request = new fake::OCSPRequest(lib);
        Drop dropRequest{request};
        std::uint8_t callerHash[64];
        std::memset(callerHash, 0x55, sizeof callerHash);
        const PKIFOCSPEntryArguments a{facade, request, cert, nullptr, nullptr, nullptr, callerHash, c.askedKind};
        ASSERT_EQ(facade->AddOCSPRequestEntry(&a), 1);
        ASSERT_EQ(request->entries.size(), 1u);
        const fake::CertIDData& id = request->entries[0];
        EXPECT_EQ(id.kind, c.kind);
        Bytes serial(20, 0);
        serial[18] = 0x7F;
        serial[19] = 0x01;
        EXPECT_EQ(id.serial, serial);
        const Bytes expectedKey = c.keyHashIsIdentifier ? cert->authorityKeyId : Bytes(id.key.size(), 0);
        EXPECT_EQ(id.key, expectedKey);
        const Bytes issuer = NameEncoding(L"CN=Issuing CA");
        Bytes nameHash(64);
        const PKIBlob issuerBlob = View(issuer);
        if (c.kind == 1) {
            ASSERT_EQ(lib.HashObjectGOST34311(nullptr, &issuerBlob, nameHash.data()), 0);
        } else {
            ASSERT_EQ(lib.HashObjectSHA(nullptr, &issuerBlob, c.kind == 2 ? 160 : 256, nameHash.data()), 0);
        }
        nameHash.resize(id.name.size());
        EXPECT_EQ(id.name, nameHash);
    }
}

// A request carries a 20-byte nonce drawn from the CSP (a new one each
// time), handed to the caller and readable from the encoding; the entries
// come back with their hashes and serials.
TEST_F(OCSPRequests, RequestCarriesATwentyByteNonceAndItsEntries)
{
    auto* cert = Certificate(lib, 2);
    Drop dropCert{cert};
    cert->authorityKeyId = Bytes(20, 0x3C);
    std::uint8_t nonces[2][21];
    PKIBlob encoded[2] = {{0, nullptr}, {0, nullptr}};
    for (int i = 0; i < 2; ++i) {
        std::memset(nonces[i], 0xEE, 21);
        ASSERT_EQ(facade->MakeOCSPRequest(cert, nullptr, nullptr, nullptr, 0, "requestor", nonces[i], &encoded[i]), 1);
        EXPECT_EQ(nonces[i][20], 0xEE);  // exactly 20 bytes written
    }
    EXPECT_NE(std::memcmp(nonces[0], nonces[1], 20), 0);
    IPKIObject* request = nullptr;
    ASSERT_EQ(facade->DecodeOCSPRequest(&encoded[0], reinterpret_cast<void**>(&request)), 1);
    Drop dropRequest{request};
    std::uint32_t present = 0, checked = 7, count = 0;
    PKIBlob nonce{0, nullptr};
    const PKIBlob expected{20, nonces[0]};
    ASSERT_EQ(facade->ReadOCSPRequest(request, &present, &nonce, &expected, &checked, &count), 1);
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(Copy(nonce), Bytes(nonces[0], nonces[0] + 20));
    EXPECT_EQ(checked, 1u);
    EXPECT_EQ(count, 1u);
    facade->ReleaseBlob(&nonce);
    std::uint32_t kind = 0;
    std::uint8_t name[64], key[64], serial[20];
    ASSERT_EQ(facade->ReadOCSPRequestEntry(request, 0, &kind, name, key, serial, nullptr), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(Bytes(key, key + 20), Bytes(20, 0x3C));
    EXPECT_EQ(Bytes(key + 20, key + 64), Bytes(44, 0));
    EXPECT_EQ(serial[19], 0x03);
    EXPECT_EQ(facade->ReadOCSPRequestEntry(request, 1, &kind, name, key, serial, nullptr), 0);
    for (auto& e : encoded) facade->ReleaseBlob(&e);
}

// Peer values are bounded by the caller's buffers: a serial of 21 bytes, a
// hash of 65 and a nonce of 33 fail and leave the outputs as they were; the
// limits themselves pass.
TEST_F(OCSPRequests, ReadersRefusePeerValuesLongerThanTheirBuffers)
{
    struct Case {
        std::size_t serial, hash;
        bool ok;
    };
    for (const Case& c : {Case{20, 64, true}, Case{21, 32, false}, Case{1, 65, false}}) {
        fake::CertIDData data;
        data.kind = 6;
        data.serial = Bytes(c.serial, 0x11);
        data.name = Bytes(c.hash, 0x22);
        data.key = Bytes(32, 0x33);
        auto* id = new fake::CertID(lib, data);
        Drop drop{id};
        std::uint32_t kind = 99;
        Bytes name(64, 0xEE), key(64, 0xEE), serial(20, 0xEE);
        EXPECT_EQ(facade->ReadCertID(id, &kind, name.data(), 0, key.data(), serial.data()), c.ok ? 1 : 0);
        if (c.ok) {
            EXPECT_EQ(kind, 6u);
            EXPECT_EQ(name, Bytes(64, 0x22));
            EXPECT_EQ(serial, Bytes(20, 0x11));
        } else {
            EXPECT_EQ(kind, 99u);
            EXPECT_EQ(name, Bytes(64, 0xEE));
            EXPECT_EQ(serial, Bytes(20, 0xEE));
        }
    }
    for (std::size_t length : {32u, 33u}) {
        auto* request = new fake::OCSPRequest(lib);
        Drop dropRequest{request};
        request->hasNonce = true;
        request->nonce = Bytes(length, 0x44);
        std::uint32_t present = 9;
        PKIBlob nonce{0, nullptr};
        EXPECT_EQ(facade->ReadOCSPRequest(request, &present, &nonce, nullptr, nullptr, nullptr), length == 32 ? 1 : 0);
        EXPECT_EQ(nonce.length, length == 32 ? 32u : 0u);
        facade->ReleaseBlob(&nonce);
        auto* response = new fake::OCSPResponse(lib);
        Drop dropResponse{response};
        response->hasNonce = true;
        response->nonce = Bytes(length, 0x44);
        std::uint32_t status = 9, flag = 9;
        Bytes out(PKIF_OCSP_NONCE_BYTES, 0xEE);
        EXPECT_EQ(facade->ReadOCSPResponseInfo(response, &status, &flag, out.data(), nullptr, 0, nullptr),
                  length == 32 ? 1 : 0);
        EXPECT_EQ(out, length == 32 ? Bytes(32, 0x44) : Bytes(32, 0xEE));
    }
}

using OCSPResponses = OCSPProviders;

// producedAt is the host's clock in UTC, set only for a successful
// response, as is the nonce.
TEST_F(OCSPResponses, ProducedAtIsUTCAndOnlyForSuccessfulResponses)
{
    const std::uint8_t nonceBytes[20] = {1, 2, 3};
    const PKIBlob nonce{20, const_cast<std::uint8_t*>(nonceBytes)};
    SYSTEMTIME before, after;
    GetSystemTime(&before);
    IPKIObject* response = nullptr;
    ASSERT_EQ(facade->MakeOCSPResponse(0, &nonce, reinterpret_cast<void**>(&response)), 1);
    Drop drop{response};
    GetSystemTime(&after);
    auto* r = dynamic_cast<fake::OCSPResponse*>(response);
    ASSERT_NE(r, nullptr);
    EXPECT_GE(Ticks(r->producedAt), Ticks(before) / 10000000 * 10000000);
    EXPECT_LE(Ticks(r->producedAt), Ticks(after));
    EXPECT_TRUE(r->hasNonce);
    EXPECT_EQ(r->nonce, Bytes(nonceBytes, nonceBytes + 20));

    IPKIObject* refused = nullptr;
    ASSERT_EQ(facade->MakeOCSPResponse(6, &nonce, reinterpret_cast<void**>(&refused)), 1);
    Drop dropRefused{refused};
    auto* f = dynamic_cast<fake::OCSPResponse*>(refused);
    EXPECT_EQ(f->status, 6u);
    EXPECT_EQ(f->producedAt.wYear, 0);
    EXPECT_FALSE(f->hasNonce);
    auto* id = new fake::CertID(lib);
    Drop dropId{id};
    EXPECT_EQ(facade->AddOCSPSingleResponse(refused, id, 0, 0, nullptr, nullptr, 0, 0), 0);
}

// Facade status 0 good, 1 unknown, 2 revoked go to the library's 0, 2, 1;
// the revocation reason by kind and code; a revoked entry needs its time;
// 86,400 seconds put nextUpdate one day after thisUpdate.
TEST_F(OCSPResponses, SingleResponsesMapStatusReasonAndValidity)
{
    struct Case {
        std::uint32_t status;
        bool time;
        std::uint32_t kind, code;
        bool ok;
        std::uint32_t libraryStatus;
        bool timeKept;
        std::uint32_t reason;
    };
    const Case cases[] = {
        {0, false, 0, 0, true, 0, false, 0},  {1, false, 0, 0, true, 2, false, 0},
        {2, false, 2, 3, false, 0, false, 0},  // revoked without a time
        {2, true, 2, 2, true, 1, true, 2},    {2, true, 2, 3, true, 1, true, 1},
        {2, true, 2, 4, true, 1, true, 3},    {2, true, 2, 5, true, 1, true, 5},
        {2, true, 2, 6, true, 1, true, 4},    {2, true, 2, 7, true, 1, true, 5},
        {2, true, 2, 9, true, 1, true, 0},    {2, true, 3, 4, true, 1, true, 6},
        {2, true, 4, 4, true, 1, true, 8},    {2, true, 9, 4, true, 1, true, 0},  // time kept
        {0, true, 9, 4, true, 0, false, 0},                                       // other kind drops time and reason
        {0, true, 3, 0, true, 0, true, 6},    {3, false, 0, 0, false, 0, false, 0},
    };
    const std::uint8_t extension[3] = {9, 8, 7};
    const PKIBlob ext{3, const_cast<std::uint8_t*>(extension)};
    for (const Case& c : cases) {
        SCOPED_TRACE("status " + std::to_string(c.status) + " kind " + std::to_string(c.kind) + " code " +
                     std::to_string(c.code));
        IPKIObject* response = nullptr;
        ASSERT_EQ(facade->MakeOCSPResponse(0, nullptr, reinterpret_cast<void**>(&response)), 1);
        Drop drop{response};
        auto* r = dynamic_cast<fake::OCSPResponse*>(response);
        auto* id = new fake::CertID(lib);
        Drop dropId{id};
        ASSERT_EQ(facade->AddOCSPSingleResponse(response, id, 86400, c.status, &ext, c.time ? &kRevoked : nullptr,
                                                c.kind, c.code),
                  c.ok ? 1 : 0);
        if (!c.ok) {
            EXPECT_TRUE(r->singles.empty());
            continue;
        }
        ASSERT_EQ(r->singles.size(), 1u);
        const fake::SingleData& s = r->singles[0];
        EXPECT_EQ(s.status, c.libraryStatus);
        EXPECT_EQ(s.hasRevocation, c.timeKept ? 1u : 0u);
        if (c.timeKept) {
            EXPECT_EQ(s.revocationTime.wMinute, 20);
        }
        EXPECT_EQ(s.reason, c.reason);
        EXPECT_EQ(s.hasNext, 1u);
        EXPECT_EQ(Ticks(s.nextUpdate) - Ticks(s.thisUpdate), 86400ull * 10000000ull);
        EXPECT_EQ(Ticks(s.thisUpdate), Ticks(r->producedAt));
        EXPECT_EQ(s.extension, Bytes(extension, extension + 3));
        // Read back: the facade's status and, for a revoked entry, kind and code.
        std::uint32_t status = 9, kind = 9, code = 9;
        SYSTEMTIME time{};
        IPKIObject* back = nullptr;
        ASSERT_EQ(
            facade->ReadOCSPSingleResponse(response, 0, &status, reinterpret_cast<void**>(&back), &time, &kind, &code),
            1);
        EXPECT_EQ(status, c.status);
        if (back) back->Release();
        if (c.status == 2) {
            EXPECT_EQ(time.wSecond, 30);
        }
    }
    IPKIObject* response = nullptr;
    ASSERT_EQ(facade->MakeOCSPResponse(0, nullptr, reinterpret_cast<void**>(&response)), 1);
    Drop drop{response};
    auto* id = new fake::CertID(lib);
    Drop dropId{id};
    ASSERT_EQ(facade->AddOCSPSingleResponse(response, id, 0, 0, nullptr, nullptr, 0, 0), 1);
    EXPECT_EQ(dynamic_cast<fake::OCSPResponse*>(response)->singles[0].hasNext, 0u);
}

// CRLReason back to kind and facade code, from the table.
TEST_F(OCSPResponses, MapRevocationReasonFollowsItsTable)
{
    const std::uint32_t expected[11][2] = {{2, 1}, {2, 3}, {2, 2}, {2, 4}, {2, 6}, {2, 7},
                                           {3, 1}, {2, 1}, {4, 1}, {2, 1}, {2, 1}};
    for (std::uint32_t reason = 0; reason < 11; ++reason) {
        std::uint32_t kind = 0, code = 0;
        facade->MapRevocationReason(reason, &kind, &code);
        EXPECT_EQ(kind, expected[reason][0]) << reason;
        EXPECT_EQ(code, expected[reason][1]) << reason;
    }
    std::uint32_t kind = 0, code = 0;
    facade->MapRevocationReason(0xFFFFFFFF, &kind, &code);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(code, 1u);
}

namespace {

bool OpenSSLVerifiesRSA(const Bytes& record, const Bytes& data, const Bytes& signature)
{
    BIGNUM* n = BN_bin2bn(record.data() + 4, 512, nullptr);
    BIGNUM* e = BN_bin2bn(record.data() + 516, 84, nullptr);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    bool ok = EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ok = ok && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestVerify(md, signature.data(), signature.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(md);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(n);
    BN_free(e);
    return ok;
}

bool OpenSSLVerifiesP256(const Bytes& point, const Bytes& data, const Bytes& rs)
{
    unsigned char encoded[65];
    std::memcpy(encoded, point.data() + 152 - 65, 65);
    OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, const_cast<char*>("prime256v1"), 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
        OSSL_PARAM_construct_end()};
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    bool ok = EVP_PKEY_fromdata_init(ctx) == 1 && EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) == 1;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    ECDSA_SIG_set0(sig, BN_bin2bn(rs.data(), 76, nullptr), BN_bin2bn(rs.data() + 76, 76, nullptr));
    unsigned char* der = nullptr;
    int derLength = i2d_ECDSA_SIG(sig, &der);
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ok = ok && derLength > 0 && EVP_DigestVerifyInit(md, nullptr, EVP_sha256(), nullptr, key) == 1 &&
         EVP_DigestVerify(md, der, static_cast<std::size_t>(derLength), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(md);
    OPENSSL_free(der);
    ECDSA_SIG_free(sig);
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

}  // namespace

// By key family: a response signed through the real providers verifies
// with the signer's certificate, fails with one byte of it changed and fails
// with another key's certificate. RSA and ECDSA signatures also verify with
// OpenSSL over the signed bytes.
TEST_F(OCSPResponses, SignedResponsesVerifyByKeyFamilyAndFailWhenChanged)
{
    struct Case {
        std::uint32_t family, keyKind;
        const char* signingCall;
    };
    for (const Case& c :
         {Case{1, 1, "4893:10()"}, Case{1, 7, "4891:3(7,7)"}, Case{2, 0, "4891:51(0)"}, Case{4, 0, "4891:52(0)"}}) {
        SCOPED_TRACE("family " + std::to_string(c.family) + " kind " + std::to_string(c.keyKind));
        IPKIObject* response = nullptr;
        ASSERT_EQ(facade->MakeOCSPResponse(0, nullptr, reinterpret_cast<void**>(&response)), 1);
        Drop drop{response};
        auto* id = new fake::CertID(lib);
        Drop dropId{id};
        ASSERT_EQ(facade->AddOCSPSingleResponse(response, id, 3600, 2, nullptr, &kRevoked, 2, 3), 1);
        auto* key = Key(lib, c.family);
        Drop dropKey{key};
        auto* cert = Certificate(lib, c.family);
        Drop dropCert{cert};
        auto* other = Certificate(lib, c.family, true);
        Drop dropOther{other};
        PKIBlob encoded{0, nullptr};
        lib.log.clear();
        ASSERT_EQ(facade->SignOCSPResponse(response, key, cert, c.family, c.keyKind, &encoded), 1);
        EXPECT_EQ(std::count(lib.log.begin(), lib.log.end(), std::string(c.signingCall)), 1);
        const Bytes bytes = Copy(encoded);
        facade->ReleaseBlob(&encoded);

        IPKIObject* decoded = nullptr;
        PKIBlob in = View(bytes);
        ASSERT_EQ(facade->DecodeOCSPResponse(&in, reinterpret_cast<void**>(&decoded)), 1);
        Drop dropDecoded{decoded};
        EXPECT_EQ(facade->VerifyOCSPResponseSignature(decoded, cert), 1);
        EXPECT_EQ(facade->VerifyOCSPResponseSignature(decoded, other), 0);
        auto* d = dynamic_cast<fake::OCSPResponse*>(decoded);
        EXPECT_EQ(d->family, c.family);
        if (c.family == 2) {
            EXPECT_TRUE(OpenSSLVerifiesRSA(Keys().rsaPublic, d->Signed(), d->signature));
        }
        if (c.family == 4) {
            EXPECT_TRUE(OpenSSLVerifiesP256(Keys().ecPoint, d->Signed(), d->signature));
        }

        // The revocation minute of the single response, changed after signing.
        Bytes changed = bytes;
        const Bytes minute = {20, 0};
        auto at = std::search(changed.begin() + 40, changed.end(), minute.begin(), minute.end());
        ASSERT_NE(at, changed.end());
        *at = 21;
        IPKIObject* tampered = nullptr;
        PKIBlob t = View(changed);
        ASSERT_EQ(facade->DecodeOCSPResponse(&t, reinterpret_cast<void**>(&tampered)), 1);
        Drop dropTampered{tampered};
        EXPECT_EQ(facade->VerifyOCSPResponseSignature(tampered, cert), 0);
    }
}

// The signer certificate check the response asks for (item 4621): without
// digitalSignature the check fails; without the item it is skipped. A
// response that is not successful is not signed.
TEST_F(OCSPResponses, SignerKeyUsageIsCheckedWhenTheResponseAsks)
{
    auto* key = Key(lib, 1);
    Drop dropKey{key};
    auto* cert = Certificate(lib, 1);
    Drop dropCert{cert};
    for (bool asks : {false, true}) {
        IPKIObject* response = nullptr;
        ASSERT_EQ(facade->MakeOCSPResponse(0, nullptr, reinterpret_cast<void**>(&response)), 1);
        Drop drop{response};
        dynamic_cast<fake::OCSPResponse*>(response)->signerCheck = asks;
        cert->keyUsage = 1;
        PKIBlob encoded{0, nullptr};
        ASSERT_EQ(facade->SignOCSPResponse(response, key, cert, 1, 1u, &encoded), 1);
        facade->ReleaseBlob(&encoded);
        cert->keyUsage = 0x20;
        EXPECT_EQ(facade->VerifyOCSPResponseSignature(response, cert), asks ? 0 : 1);
        cert->keyUsage = 0x21;
        EXPECT_EQ(facade->VerifyOCSPResponseSignature(response, cert), 1);
    }
    IPKIObject* failed = nullptr;
    ASSERT_EQ(facade->MakeOCSPResponse(1, nullptr, reinterpret_cast<void**>(&failed)), 1);
    Drop dropFailed{failed};
    PKIBlob encoded{0, nullptr};
    EXPECT_EQ(facade->SignOCSPResponse(failed, key, cert, 1, 1u, &encoded), 0);
    EXPECT_EQ(encoded.data, nullptr);
}

// The responder is named by the signer certificate: through view 4235 with
// its subject object when the response offers it, else by its name record;
// the name reads back as text. By key: 32 bytes for DSTU 4145, other
// lengths refused.
TEST_F(OCSPResponses, ResponderIDByNameAndByKey)
{
    for (bool view : {false, true}) {
        IPKIObject* response = nullptr;
        ASSERT_EQ(facade->MakeOCSPResponse(0, nullptr, reinterpret_cast<void**>(&response)), 1);
        Drop drop{response};
        auto* r = dynamic_cast<fake::OCSPResponse*>(response);
        if (view) r->OfferResponder();
        auto* key = Key(lib, 1);
        Drop dropKey{key};
        auto* cert = Certificate(lib, 1);
        Drop dropCert{cert};
        cert->subject = L"CN=\x0421\x0435\x0440\x0432\x0435\x0440";
        PKIBlob encoded{0, nullptr};
        lib.log.clear();
        ASSERT_EQ(facade->SignOCSPResponse(response, key, cert, 1, 1u, &encoded), 1);
        facade->ReleaseBlob(&encoded);
        EXPECT_EQ(Calls(view ? "4891:50" : "4891:17").size(), 1u);
        std::uint32_t byName = 9, status = 9;
        char text[PKIF_NAME_TEXT_BYTES] = {};
        std::uint8_t keyHash[64] = {};
        ASSERT_EQ(facade->ReadOCSPResponderID(response, &byName, text, keyHash, &status), 1);
        EXPECT_EQ(byName, 1u);
        EXPECT_EQ(status, 0u);
        EXPECT_STREQ(text, "CN=\xD1\xE5\xF0\xE2\xE5\xF0");
    }
    for (std::size_t length : {32u, 20u}) {
        auto* r = new fake::OCSPResponse(lib);
        Drop drop{r};
        r->responderType = 2;
        r->family = 1;
        r->responderKeyHash = Bytes(length, 0x5A);
        std::uint32_t byName = 9, status = 9;
        char text[4] = {};
        Bytes keyHash(64, 0xEE);
        EXPECT_EQ(facade->ReadOCSPResponderID(r, &byName, text, keyHash.data(), &status), length == 32 ? 1 : 0);
        if (length == 32) {
            EXPECT_EQ(byName, 0u);
            EXPECT_EQ(Bytes(keyHash.begin(), keyHash.begin() + 32), Bytes(32, 0x5A));
        }
    }
}

// The matcher: by serial, by the issuer-name hash (from 274 on a GOST 34.311
// mismatch is retried in the library's other name forms, modes 2, 1, 0), by
// the name item's text and by the hash item; no match gives 0.
TEST_F(OCSPResponses, FindSingleResponseByItsCriteria)
{
    auto* r = new fake::OCSPResponse(lib);
    Drop drop{r};
    for (int i = 0; i < 3; ++i) {
        fake::SingleData s;
        s.id.kind = 1;
        s.id.serial = Bytes(20, 0);
        s.id.serial[19] = static_cast<std::uint8_t>(i + 1);
        s.issuerName = L"CN=CA " + std::to_wstring(i);
        s.nameItem = L"CN=Item " + std::to_wstring(i);
        s.hashItem = Bytes(32, static_cast<std::uint8_t>(0x70 + i));
        r->singles.push_back(s);
    }
    auto nameHash = [&](const std::wstring& name, int mode) {
        Bytes hash(32);
        auto* n = new fake::OCSPName(lib, name);
        if (mode < 0)
            EXPECT_EQ(lib.HashObjectGOST34311(n, nullptr, hash.data()), 0);
        else
            EXPECT_EQ(lib.HashNameGOST34311Mode(n, static_cast<std::uint32_t>(mode), hash.data()), 0);
        n->Release();
        return hash;
    };
    auto found = [&](PKIFOCSPFindArguments a) -> int {
        IPKIObject* entry = nullptr;
        a.facade = facade;
        a.response = r;
        a.entry = reinterpret_cast<void**>(&entry);
        if (!facade->FindOCSPSingleResponse(&a)) return -1;
        auto* e = dynamic_cast<fake::OCSPSingle*>(entry);
        int index = e ? e->data.id.serial[19] - 1 : -2;
        entry->Release();
        return index;
    };
    std::uint8_t serial[20] = {};
    serial[19] = 2;
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 0, nullptr, serial, nullptr, nullptr, nullptr}), 1);
    serial[19] = 9;
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 0, nullptr, serial, nullptr, nullptr, nullptr}), -1);
    const Bytes h2 = nameHash(L"CN=CA 2", -1), h1mode1 = nameHash(L"CN=CA 1", 1);
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 1, h2.data(), nullptr, nullptr, nullptr, nullptr}), 2);
    lib.version = 273;
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 1, h1mode1.data(), nullptr, nullptr, nullptr, nullptr}), -1);
    lib.version = 274;
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 1, h1mode1.data(), nullptr, nullptr, nullptr, nullptr}), 1);
    // A kind outside 1 to 9 drops the name comparison.
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 12, h1mode1.data(), nullptr, nullptr, nullptr, nullptr}), 0);
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 0, nullptr, nullptr, "CN=Item 2", nullptr, nullptr}), 2);
    const Bytes item = Bytes(32, 0x71);
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr, item.data(), nullptr}), 1);
    EXPECT_EQ(found({nullptr, nullptr, nullptr, 0, nullptr, nullptr, "CN=Item 2", item.data(), nullptr}), -1);
    // By a CertID: its kind, name hash and serial.
    fake::CertIDData data;
    data.kind = 1;
    data.name = h2;
    data.key = Bytes(32, 0);
    data.serial = r->singles[2].id.serial;
    auto* id = new fake::CertID(lib, data);
    Drop dropId{id};
    EXPECT_EQ(found({nullptr, nullptr, id, 0, nullptr, nullptr, nullptr, nullptr, nullptr}), 2);
}

// Failure sweeps: a request made, decoded and read; a response made, given a
// single response, signed, decoded and verified (DSTU 4145 through the CSP);
// its readers.
TEST_F(OCSPRequests, FailureSweeps)
{
    const Bytes issuerName = NameEncoding(L"CN=Issuing CA");
    Sweep(
        "request",
        [&](SPKIFormats& f, fake::OCSPLibrary&) {
            const PKIBlob name = View(issuerName);
            std::uint8_t serial[20] = {7}, keyHash[64] = {}, nonce[20];
            PKIBlob encoded{0, nullptr};
            if (!f.MakeOCSPRequest(nullptr, &name, serial, keyHash, 4, "requestor", nonce, &encoded)) return 0;
            IPKIObject* request = nullptr;
            int ok = f.DecodeOCSPRequest(&encoded, reinterpret_cast<void**>(&request));
            f.ReleaseBlob(&encoded);
            if (!ok) return 0;
            PKIBlob got{0, nullptr};
            std::uint32_t present = 0, count = 0, kind = 0;
            std::uint8_t n[64], k[64], s[20];
            ok = f.ReadOCSPRequest(request, &present, &got, nullptr, nullptr, &count) &&
                 f.ReadOCSPRequestEntry(request, 0, &kind, n, k, s, nullptr);
            f.ReleaseBlob(&got);
            request->Release();
            return ok;
        },
        true);
}

TEST_F(OCSPResponses, FailureSweeps)
{
    Sweep(
        "response",
        [&](SPKIFormats& f, fake::OCSPLibrary& l) {
            IPKIObject* response = nullptr;
            const std::uint8_t nonceBytes[20] = {5};
            const PKIBlob nonce{20, const_cast<std::uint8_t*>(nonceBytes)};
            if (!f.MakeOCSPResponse(0, &nonce, reinterpret_cast<void**>(&response))) return 0;
            Drop drop{response};
            auto* id = new fake::CertID(l);
            Drop dropId{id};
            auto* key = Key(l, 1);
            Drop dropKey{key};
            auto* cert = Certificate(l, 1);
            Drop dropCert{cert};
            PKIBlob encoded{0, nullptr};
            if (!f.AddOCSPSingleResponse(response, id, 86400, 2, nullptr, &kRevoked, 2, 3) ||
                !f.SignOCSPResponse(response, key, cert, 1, 1u, &encoded))
                return 0;
            IPKIObject* decoded = nullptr;
            int ok = f.DecodeOCSPResponse(&encoded, reinterpret_cast<void**>(&decoded));
            f.ReleaseBlob(&encoded);
            if (!ok) return 0;
            Drop dropDecoded{decoded};
            std::uint32_t status = 0, flag = 0, byName = 0, kind = 0, code = 0;
            std::uint8_t got[32], keyHash[64];
            char text[PKIF_NAME_TEXT_BYTES];
            SYSTEMTIME time;
            IPKIObject* back = nullptr;
            ok = f.VerifyOCSPResponseSignature(decoded, cert) &&
                 f.ReadOCSPResponseInfo(decoded, &status, &flag, got, nullptr, 0, nullptr) &&
                 f.ReadOCSPResponderID(decoded, &byName, text, keyHash, &status) &&
                 f.ReadOCSPSingleResponse(decoded, 0, &status, reinterpret_cast<void**>(&back), &time, &kind, &code);
            if (back) back->Release();
            return ok;
        },
        false);
}
