// DVCS decoders and response values over the double.
#include "OCSPFixture.h"

using namespace ocsptest;

namespace {

const char kRequestType[] = "1.2.840.113549.1.9.16.1.7";
const char kResponseType[] = "1.2.840.113549.1.9.16.1.8";

template <typename Object>
Bytes Encoded(Object* object, fake::Library& lib)
{
    PKIBlob out{0, nullptr};
    EXPECT_EQ(object->Encode(&out), 0);
    Bytes bytes(out.data, out.data + out.length);
    std::memset(out.data, 0, out.length);
    lib.FreeBlob(&out);
    return bytes;
}

}  // namespace

using DVCS = OCSPProviders;

// A request's content gives value B, then value A, in its outputs.
TEST_F(DVCS, DecodeRequestGivesBThenA)
{
    auto* source = new fake::DVCSRequest(lib);
    source->a = 5;
    source->b = 7;
    const Bytes content = Encoded(static_cast<IPKIDVCSRequest*>(source), lib);
    source->Release();
    auto* signedData = new fake::ContentSignedData(lib, kRequestType, content);
    Drop drop{signedData};
    std::uint32_t first = 0, second = 0;
    IPKIObject* request = nullptr;
    ASSERT_EQ(facade->DecodeDVCSRequest(signedData, &first, &second, reinterpret_cast<void**>(&request)), 1);
    Drop dropRequest{request};
    EXPECT_EQ(first, 7u);
    EXPECT_EQ(second, 5u);
    ASSERT_EQ(facade->SetDVCSRequestItem(request, 3, 4), 1);
    EXPECT_EQ(dynamic_cast<fake::DVCSRequest*>(request)->itemSecond, 4u);
}

// The content type must be the expected OID exactly: the other message's
// type, a longer OID that starts with it, and a type too long for the
// 257-byte buffer (which the read is given) are refused; so is signed data
// without content.
TEST_F(DVCS, ContentTypesAreComparedWithTheirTerminator)
{
    auto* source = new fake::DVCSResponse(lib);
    const Bytes response = Encoded(static_cast<IPKIDVCSResponse*>(source), lib);
    source->Release();
    auto* request = new fake::DVCSRequest(lib);
    const Bytes requestContent = Encoded(static_cast<IPKIDVCSRequest*>(request), lib);
    request->Release();
    struct Case {
        std::string type;
        bool content, request, response;
    };
    const Case cases[] = {
        {kRequestType, true, true, false},
        {kResponseType, true, false, true},
        {std::string(kResponseType) + "1", true, false, false},
        {std::string(kRequestType) + "0", true, false, false},
        {std::string(kResponseType) + std::string(300, '1'), true, false, false},
        {kResponseType, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type.substr(0, 30) + (c.content ? "" : " no content"));
        const bool forRequest = c.type.rfind(kRequestType, 0) == 0;
        auto* signedData = new fake::ContentSignedData(lib, c.type, forRequest ? requestContent : response);
        signedData->hasContent = c.content;
        Drop drop{signedData};
        std::uint32_t a = 0, b = 0, item = 0, v[6] = {};
        lib.log.clear();
        EXPECT_EQ(facade->DecodeDVCSRequest(signedData, &b, &a, nullptr), c.request ? 1 : 0);
        if (c.content) {
            EXPECT_EQ(Calls("4900:16").front(), "4900:16(257)");
        }
        EXPECT_EQ(facade->DecodeDVCSResponseItem(signedData, &item, 1, 2), c.response ? 1 : 0);
        EXPECT_EQ(facade->DecodeDVCSResponse(signedData, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], nullptr),
                  c.response ? 1 : 0);
    }
}

// Built values go in by slots 10, 12, 14, 16, 18; decoded ones come out by
// 11, 15, 17, 13, 9, each into its own output.
TEST_F(DVCS, ResponseValuesSetAndReadInTheObjectsOrder)
{
    IPKIObject* built = nullptr;
    lib.log.clear();
    ASSERT_EQ(facade->BuildDVCSResponse(1, 2, 3, 4, 5, 6, reinterpret_cast<void**>(&built)), 1);
    const std::vector<std::string> set = {"4911:10(1)", "4911:12(2)", "4911:14(3)", "4911:16(4)", "4911:18(5,6)"};
    std::vector<std::string> setCalls;
    for (const auto& e : lib.log)
        if (e.rfind("4911:1", 0) == 0) setCalls.push_back(e);
    EXPECT_EQ(setCalls, set);
    const Bytes content = Encoded(dynamic_cast<fake::DVCSResponse*>(built), lib);
    std::uint32_t value = 0;
    ASSERT_EQ(facade->ReadDVCSResponseValue(built, 10, 20, &value), 1);
    EXPECT_EQ(value, 31u);
    built->Release();

    auto* signedData = new fake::ContentSignedData(lib, kResponseType, content);
    Drop drop{signedData};
    std::uint32_t v[6] = {};
    IPKIObject* response = nullptr;
    lib.log.clear();
    ASSERT_EQ(facade->DecodeDVCSResponse(signedData, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                                         reinterpret_cast<void**>(&response)),
              1);
    Drop dropResponse{response};
    std::vector<std::string> reads;
    for (const auto& e : lib.log)
        if (e.rfind("4911:", 0) == 0 && e != "4911:4(" + std::to_string(content.size()) + ")") reads.push_back(e);
    EXPECT_EQ(reads, (std::vector<std::string>{"4911:11()", "4911:15()", "4911:17()", "4911:13()", "4911:9()"}));
    for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(v[i], i + 1);

    IPKIObject* failed = reinterpret_cast<IPKIObject*>(&v);
    lib.Answer(PKI_CLASS_DVCS_RESPONSE, 16, {PKI_E_FAILURE});
    EXPECT_EQ(facade->BuildDVCSResponse(1, 2, 3, 4, 5, 6, reinterpret_cast<void**>(&failed)), 0);
    EXPECT_EQ(failed, nullptr);
}

// The response's item: absent, the decoder succeeds without passing the two
// values on; present, they go to the response (slot 6) and the item comes out.
TEST_F(DVCS, ResponseItemTakesTheTwoValuesOnlyWhenPresent)
{
    for (bool present : {false, true}) {
        auto* source = new fake::DVCSResponse(lib);
        source->hasItem = present;
        source->item = 42;
        const Bytes content = Encoded(static_cast<IPKIDVCSResponse*>(source), lib);
        source->Release();
        auto* signedData = new fake::ContentSignedData(lib, kResponseType, content);
        Drop drop{signedData};
        std::uint32_t item = 0;
        lib.log.clear();
        ASSERT_EQ(facade->DecodeDVCSResponseItem(signedData, &item, 8, 9), 1);
        EXPECT_EQ(Calls("4911:6").size(), present ? 1u : 0u);
        if (present) {
            EXPECT_EQ(Calls("4911:6").front(), "4911:6(8,9)");
        }
        EXPECT_EQ(item, present ? 42u : 0u);
    }
}

TEST_F(DVCS, FailureSweeps)
{
    Sweep(
        "request and response decoders",
        [&](SPKIFormats& f, fake::OCSPLibrary& l) {
            auto* request = new fake::ContentSignedData(l, kRequestType, Bytes(8, 0));
            Drop dropRequest{request};
            fake::OCSPWriter w;
            for (int i = 0; i < 8; ++i) w.Word(i == 6 ? 1 : 0);
            auto* response = new fake::ContentSignedData(l, kResponseType, w.out);
            Drop dropResponse{response};
            std::uint32_t a = 0, b = 0, item = 0, v[6] = {};
            IPKIObject* built = nullptr;
            int ok = f.DecodeDVCSRequest(request, &b, &a, nullptr) && f.DecodeDVCSResponseItem(response, &item, 1, 2) &&
                     f.DecodeDVCSResponse(response, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], nullptr) &&
                     f.BuildDVCSResponse(1, 2, 3, 4, 5, 6, reinterpret_cast<void**>(&built));
            if (built) built->Release();
            return ok;
        },
        true);
}

namespace {

using fake::families::CmsSignedData;

std::string Text(const PKIBlob& b)
{
    return std::string(reinterpret_cast<const char*>(b.data), b.length);
}

std::string Words(std::initializer_list<std::uint32_t> words)
{
    fake::OCSPWriter w;
    for (std::uint32_t v : words) w.Word(v);
    return std::string(w.out.begin(), w.out.end());
}

IPKIObject* Obj(CmsSignedData* m)
{
    return static_cast<IPKISignedDataSigners*>(m);
}

// Signed DVCS messages over the CMS signed-data double. Every message the
// facade makes is kept (one reference more), and opening an encoding gives
// back the newest of them, so a message made can be opened and decoded.
class DVCSMessages : public OCSPProviders {
protected:
    void SetUp() override
    {
        OCSPProviders::SetUp();
        fake::families::UseSignedDataObjects(lib, made);
        made.prepareMessage = [this](CmsSignedData& m) {
            m.Retain();
            kept.push_back(&m);
        };
        made.prepareInfo = [this](fake::families::CmsContentInfo& info) {
            info.type = "1.2.840.113549.1.7.2";
            info.makeInner = [this]() -> IPKIObject* {
                if (kept.empty()) return nullptr;
                kept.back()->Retain();
                return Obj(kept.back());
            };
        };
    }
    void TearDown() override
    {
        for (CmsSignedData* m : kept) Obj(m)->Release();
        kept.clear();
        OCSPProviders::TearDown();
    }
    // The calls to the DVCS objects, the signed-data and content-info
    // objects and the factory, and the frees of blobs, in order.
    std::vector<std::string> Flow() const
    {
        std::vector<std::string> out;
        for (const std::string& e : lib.log)
            for (const char* p : {"4910:", "4911:", "4900:", "4879:", "0:10(", "0:7("})
                if (e.rfind(p, 0) == 0) out.push_back(e);
        return out;
    }
    fake::families::CmsMade made;
    std::vector<CmsSignedData*> kept;
};

constexpr char kGost34311[] = "1.2.804.2.1.1.1.1.2.1";

}  // namespace

// A request is made, set (A, then B), encoded and released; its encoding
// wraps as signed data of the request type and goes back to the library
// before the message is wrapped and encoded into the caller's blob. Opened,
// the message decodes to the values it was made with.
TEST_F(DVCSMessages, RequestIsMadeSignedOpenedAndDecoded)
{
    PKIBlob out{0, nullptr};
    lib.log.clear();
    ASSERT_EQ(facade->MakeDVCSRequest(5, 7, nullptr, nullptr, &out), 1);
    const std::string content = Words({5, 7});
    const std::vector<std::string> flow = {"0:10(4910,4150)",
                                           "4910:6(5)",
                                           "4910:8(7)",
                                           "4910:3()",
                                           "4910:1()",
                                           "0:10(4900,4136)",
                                           std::string("4900:23(") + kGost34311 + ")",
                                           std::string("4900:17(") + kRequestType + ")",
                                           "4900:19(8)",
                                           "0:7(8)",
                                           "0:10(4879,4113)",
                                           "4879:6(1.2.840.113549.1.7.2)",
                                           "4879:8()",
                                           "4879:3()",
                                           "0:7(" + std::to_string(out.length) + ")",
                                           "4879:1()",
                                           "4900:1()",
                                           "4900:1()"};
    EXPECT_EQ(Flow(), flow);
    EXPECT_EQ(Text(out), "content-info:1.2.840.113549.1.7.2");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->type, kRequestType);
    EXPECT_EQ(kept[0]->content, content);
    EXPECT_TRUE(kept[0]->signers.empty());

    IPKIObject* opened = nullptr;
    ASSERT_EQ(facade->OpenSignedDVCSRequest(&out, reinterpret_cast<void**>(&opened)), 1);
    Drop dropOpened{opened};
    EXPECT_EQ(opened, Obj(kept[0]));
    std::uint32_t a = 0, b = 0;
    lib.log.clear();
    ASSERT_EQ(facade->DecodeDVCSRequest(opened, &b, &a, nullptr), 1);
    EXPECT_EQ(Calls("4900:16").front(), "4900:16(257)");
    EXPECT_EQ(b, 7u);
    EXPECT_EQ(a, 5u);
    std::uint32_t v[6] = {};
    EXPECT_EQ(facade->DecodeDVCSResponse(opened, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], nullptr), 0);
    facade->ReleaseBlob(&out);

    // Nothing to open, or nowhere to put it.
    void* none = reinterpret_cast<void*>(&a);
    EXPECT_EQ(facade->OpenSignedDVCSRequest(&out, &none), 0);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(facade->MakeDVCSRequest(5, 7, nullptr, nullptr, nullptr), 0);
}

// Responses: made from two values (the response's slot 7), or the caller's
// own response signed as it is; either opens and decodes as a response
// only. The caller's response stays the caller's.
TEST_F(DVCSMessages, ResponsesAreMadeOrSignedAndDecodeAsResponses)
{
    PKIBlob out{0, nullptr};
    lib.log.clear();
    ASSERT_EQ(facade->MakeDVCSResponseFromValues(3, 4, nullptr, nullptr, &out), 1);
    EXPECT_EQ(Calls("4911:7"), std::vector<std::string>{"4911:7(3,4)"});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0]->type, kResponseType);
    EXPECT_EQ(kept[0]->content.size(), 32u);
    facade->ReleaseBlob(&out);

    IPKIObject* response = nullptr;
    ASSERT_EQ(facade->BuildDVCSResponse(1, 2, 3, 4, 5, 6, reinterpret_cast<void**>(&response)), 1);
    Drop dropResponse{response};
    lib.log.clear();
    ASSERT_EQ(facade->SignDVCSResponse(response, nullptr, nullptr, &out), 1);
    EXPECT_TRUE(Calls("4911:1").empty());
    std::uint32_t value = 0;
    ASSERT_EQ(facade->ReadDVCSResponseValue(response, 10, 20, &value), 1);
    EXPECT_EQ(value, 31u);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1]->type, kResponseType);
    EXPECT_EQ(kept[1]->content, Words({1, 2, 3, 4, 5, 6, 0, 0}));

    IPKIObject* opened = nullptr;
    ASSERT_EQ(facade->OpenSignedDVCSResponse(&out, reinterpret_cast<void**>(&opened)), 1);
    Drop dropOpened{opened};
    facade->ReleaseBlob(&out);
    std::uint32_t v[6] = {}, a = 0, b = 0;
    ASSERT_EQ(facade->DecodeDVCSResponse(opened, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], nullptr), 1);
    for (std::uint32_t i = 0; i < 6; ++i) EXPECT_EQ(v[i], i + 1);
    EXPECT_EQ(facade->DecodeDVCSRequest(opened, &b, &a, nullptr), 0);

    EXPECT_EQ(facade->SignDVCSResponse(nullptr, nullptr, nullptr, &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

// With a signer key the wrapped message gets a signer for the message's own
// type, and the key and certificate go on to the signing step. Signing is
// the signer-signing operations' own: here it fails at its first read of the
// message's signer, and a failed signing leaves the caller's blob empty.
TEST_F(DVCSMessages, ASignerKeyGivesTheMessageASignerOfItsType)
{
    auto* cert = new fake::ScriptedCertificate(lib);
    cert->keyUsage = 1;
    Drop dropCert{static_cast<IPKICertificate*>(cert)};
    auto* key = new fake::families::CmsKey(lib);
    Drop dropKey{static_cast<IPKIKeyObject*>(key)};
    for (bool request : {true, false}) {
        lib.Answer(PKI_CLASS_SIGNED_DATA, 11, {PKI_E_FAILURE});
        PKIBlob out{0, nullptr};
        lib.log.clear();
        const int rc = request ? facade->MakeDVCSRequest(5, 7, dropKey.object, dropCert.object, &out)
                               : facade->MakeDVCSResponseFromValues(3, 4, dropKey.object, dropCert.object, &out);
        EXPECT_EQ(Calls("4918:30"),
                  std::vector<std::string>{std::string("4918:30(") + (request ? kRequestType : kResponseType) + ")"});
        EXPECT_EQ(Calls("4900:12").size(), 1u);  // the signer joins the message
        EXPECT_EQ(Calls("4900:11"), std::vector<std::string>{"4900:11(0)"});
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out.data, nullptr);
        EXPECT_TRUE(Calls("0:10(4879").empty());  // nothing wrapped unsigned
    }
}

// The signer of a message is named only when there is exactly one.
TEST_F(DVCSMessages, OnlyAMessageWithOneSignerNamesItsSigner)
{
    for (std::size_t signers : {0u, 1u, 2u}) {
        auto* m = new CmsSignedData(lib);
        Drop drop{Obj(m)};
        for (std::size_t i = 0; i < signers; ++i) m->signers.push_back(new fake::families::CmsSigner(lib));
        char issuer[PKIF_NAME_TEXT_BYTES] = "unchanged";
        std::uint8_t serial[20] = {9};
        for (bool response : {false, true}) {
            SCOPED_TRACE(std::to_string(signers) + (response ? " response" : " request"));
            lib.log.clear();
            const int rc = response ? facade->GetDVCSResponseSigner(Obj(m), issuer, serial)
                                    : facade->GetDVCSRequestSigner(Obj(m), issuer, serial);
            EXPECT_EQ(Calls("4900:11"),
                      signers == 1 ? std::vector<std::string>{"4900:11(0)"} : std::vector<std::string>{});
            if (signers != 1) {
                EXPECT_EQ(rc, 0);
                EXPECT_STREQ(issuer, "unchanged");
                EXPECT_EQ(serial[0], 9);
            }
        }
    }
    EXPECT_EQ(facade->GetDVCSRequestSigner(nullptr, nullptr, nullptr), 0);
}

// The certificate's key family picks the verification: 1 GOST 34.311 (its
// DSTU 4145 key read), 2 SHA (its RSA key read), 4 ECDSA (its EC view
// asked for); any other family fails without touching the message.
TEST_F(DVCSMessages, SignersAreVerifiedByTheCertificatesKeyFamily)
{
    auto* cert = new fake::ScriptedCertificate(lib);
    cert->keyUsage = 1;
    Drop dropCert{static_cast<IPKICertificate*>(cert)};
    const std::string gost = "4870:25()", rsa = "4870:29()", ec = "4870:2(4226)";
    struct Case {
        std::uint32_t family;
        std::string reached;
    } cases[] = {{1, gost}, {2, rsa}, {4, ec}, {0, ""}, {3, ""}, {5, ""}};
    for (const Case& c : cases) {
        cert->kind = c.family;
        auto* m = new CmsSignedData(lib);
        Drop drop{Obj(m)};
        m->signers.push_back(new fake::families::CmsSigner(lib));
        for (bool response : {false, true}) {
            SCOPED_TRACE(std::to_string(c.family) + (response ? " response" : " request"));
            lib.log.clear();
            const int rc = response ? facade->VerifyDVCSResponseSigner(Obj(m), dropCert.object)
                                    : facade->VerifyDVCSRequestSigner(Obj(m), dropCert.object);
            for (const std::string& marker : {gost, rsa, ec})
                EXPECT_EQ(Calls(marker).size(), marker == c.reached ? 1u : 0u) << marker;
            if (c.reached.empty()) {
                EXPECT_EQ(rc, 0);
                EXPECT_TRUE(Calls("4900:").empty());
            }
        }
    }
    EXPECT_EQ(facade->VerifyDVCSRequestSigner(nullptr, dropCert.object), 0);
}

// Every library call of the makers, the signer and the openers failing (or
// throwing) in turn: nothing stays behind, no blob is freed unwiped, and
// the operation answers 0.
TEST_F(DVCSMessages, FailureSweeps)
{
    Sweep(
        "signed requests and responses made, opened and decoded",
        [&](SPKIFormats& f, fake::OCSPLibrary& l) {
            fake::families::CmsMade m;
            std::string content;
            std::string type;
            fake::families::UseSignedDataObjects(l, m);
            m.prepareInfo = [&](fake::families::CmsContentInfo& info) {
                info.type = "1.2.840.113549.1.7.2";
                info.makeInner = [&]() -> IPKIObject* {
                    auto* message = new CmsSignedData(l);
                    message->type = type;
                    message->content = content;
                    return Obj(message);
                };
            };
            int ok = 1;
            PKIBlob out{0, nullptr};
            IPKIObject *opened = nullptr, *response = nullptr;
            std::uint32_t a = 0, b = 0, v[6] = {};
            type = kRequestType;
            content = Words({5, 7});
            ok = ok && f.MakeDVCSRequest(5, 7, nullptr, nullptr, &out);
            ok = ok && f.OpenSignedDVCSRequest(&out, reinterpret_cast<void**>(&opened));
            ok = ok && f.DecodeDVCSRequest(opened, &b, &a, nullptr);
            f.ReleaseBlob(&out);
            if (opened) opened->Release(), opened = nullptr;
            ok = ok && f.MakeDVCSResponseFromValues(3, 4, nullptr, nullptr, &out);
            f.ReleaseBlob(&out);
            type = kResponseType;
            content = Words({1, 2, 3, 4, 5, 6, 0, 0});
            ok = ok && f.BuildDVCSResponse(1, 2, 3, 4, 5, 6, reinterpret_cast<void**>(&response));
            ok = ok && f.SignDVCSResponse(response, nullptr, nullptr, &out);
            ok = ok && f.OpenSignedDVCSResponse(&out, reinterpret_cast<void**>(&opened));
            ok = ok && f.DecodeDVCSResponse(opened, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], nullptr);
            f.ReleaseBlob(&out);
            if (opened) opened->Release();
            if (response) response->Release();
            return ok && a == 5 && b == 7 && v[5] == 6 ? 1 : 0;
        },
        true);
}
