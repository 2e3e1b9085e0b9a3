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
            EXPECT_EQ(Calls("4900:9").front(), "4900:9(257)");
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
