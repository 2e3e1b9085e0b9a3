// EC keys of key objects (identifiers, named curves, extraction and copies),
// requests identified by their key, the request of a two-party (common)
// DSTU 4145 key over the module's provider, and the "-S" sequence number of
// revocation-list locations. The request double notes what the facade sets,
// in order, and encodes as that text ("what=value;"), so each test reads
// back every value that went in.
#include <cstdio>
#include <deque>

#include "KeyProviders.h"
#include "pkiformats/KeyRequests.h"

using namespace keytest;

namespace {

CSP* moduleProvider = nullptr;
CSP* ModuleProvider()
{
    return moduleProvider;
}

class KeyRequests : public Providers {
protected:
    void TearDown() override
    {
        moduleProvider = nullptr;
        Providers::TearDown();
    }
    static std::string Text(const PKIBlob& b) { return std::string(reinterpret_cast<const char*>(b.data), b.length); }
    static std::string Hex(const Bytes& b) { return fake::Hex(b.data(), b.size()); }
    static Bytes Identifier(std::uint8_t tag, const Bytes& key, std::uint32_t length, std::uint32_t size)
    {
        Bytes out(size);
        fake::KeysLibrary::Identifier(tag, key.data(), length, out.data(), size);
        return out;
    }
    static Bytes Pattern(std::size_t n, std::uint8_t start)
    {
        Bytes b(n);
        for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(start + 3 * i);
        return b;
    }
    // The encoding of an IPKIRequest the facade handed out.
    std::string Encoded(IPKIObject* request)
    {
        PKIBlob out{0, nullptr};
        EXPECT_EQ(static_cast<IPKIRequest*>(request)->Encode(&out), 0);
        std::string text = Text(out);
        if (out.data) std::memset(out.data, 0, out.length);
        lib.FreeBlob(&out);
        return text;
    }
    // Two DSTU 4145 key pairs on `curve` made by the CSP; decoding a
    // certificate gives the first holder's, then the second's, in turn.
    void ServeCertificates(const fake::Curve& curve)
    {
        for (Bytes& k : keys) {
            std::uint8_t priv[76] = {};
            k.assign(76, 0);
            fake::Curve c = curve;
            ASSERT_EQ(csp->GenerateSignatureKeyPairDSTU4145(&c.field, &c.point, priv, k.data()), CSP_OK);
        }
        lib.makers[{PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE}] = [this, curve]() -> void* {
            auto* certificate = new fake::KeyCertificate(lib, 1);
            certificate->curve = curve;
            certificate->dstuPublic = keys[made++ % 2];
            return static_cast<IPKICertificate*>(certificate);
        };
    }
    Bytes keys[2];
    int made = 0;
    // The hash size the second provider's curve table gives a record of
    // `bits` bits: the first curve that reaches them, else the last one.
    std::uint32_t NamedCurveHashBits(std::uint32_t bits)
    {
        std::uint32_t hashBits = 0;
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t fieldBits = 0, h = 0;
            char name[CSPI_TEXT_BYTES], oid[CSPI_TEXT_BYTES];
            if (!cspi->Parameters()->DescribeCurve(i, &fieldBits, &h, name, oid)) return hashBits;
            hashBits = h;
            if (fieldBits >= bits) return hashBits;
        }
    }
};

}  // namespace

// ---- Sequenced location names ----

// The number replaces an existing "-S<n>" suffix or goes before the last
// point (at the end without one); 0 takes the suffix away.
TEST_F(KeyRequests, SequencedNamesTakeTheNumberInPlaceOfTheSuffix)
{
    const struct {
        const char* text;
        std::int32_t number;
        const char* expected;
    } cases[] = {{"http://ca.example.ua/crl/CA-1F2E.crl", 5, "http://ca.example.ua/crl/CA-1F2E-S5.crl"},
                 {"http://ca.example.ua/Full-S3.crl", 12, "http://ca.example.ua/Full-S12.crl"},
                 {"http://ca.example.ua/Full-S3.crl", 0, "http://ca.example.ua/Full.crl"},
                 {"ldap://directory/list", 7, "ldap://directory/list-S7"}};
    for (const auto& c : cases) {
        char out[PKIF_SEQUENCED_NAME_BYTES];
        ASSERT_EQ(facade->ComposeSequencedName(0, c.text, 1, nullptr, c.number, out), 1) << c.text;
        EXPECT_STREQ(out, c.expected);
    }
}

// The output holds PKIF_SEQUENCED_NAME_BYTES: a result that fits exactly is
// written, one byte more is refused with the output empty and nothing
// written past it, whatever the length of the text.
TEST_F(KeyRequests, SequencedNamesNeverRunPastTheirCapacity)
{
    std::vector<char> out(PKIF_SEQUENCED_NAME_BYTES + 64, 'G');
    auto run = [&](const std::string& text) {
        std::fill(out.begin(), out.end(), 'G');
        return facade->ComposeSequencedName(1, text.c_str(), 1, nullptr, 42, out.data());
    };
    const std::string fits = "http://" + std::string(PKIF_SEQUENCED_NAME_BYTES - 1 - 7 - 4 - 4, 'a') + ".crl";
    ASSERT_EQ(run(fits), 1);
    EXPECT_EQ(std::strlen(out.data()), PKIF_SEQUENCED_NAME_BYTES - 1u);
    EXPECT_EQ(std::string(out.data() + PKIF_SEQUENCED_NAME_BYTES - 9), "-S42.crl");
    for (const std::string& text : {"x" + fits, std::string(5000, 'b')}) {
        EXPECT_EQ(run(text), 0);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(std::count(out.begin() + PKIF_SEQUENCED_NAME_BYTES, out.end(), 'G'), 64);
    }
}

// Without a text the location is read from the family's view of the
// certificate; a certificate without that view gives nothing to read.
TEST_F(KeyRequests, SequencedNamesReadFromTheFamilysView)
{
    auto* certificate = new fake::KeyCertificate(lib, 1);
    Drop drop{certificate};
    char out[PKIF_SEQUENCED_NAME_BYTES] = "unchanged";
    EXPECT_EQ(facade->ComposeSequencedName(0, nullptr, 4, certificate, 3, out), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4870:112()"), lib.log.end()) << "EC view asked";
    EXPECT_EQ(facade->ComposeSequencedName(0, nullptr, 1, nullptr, 3, out), 0);
    EXPECT_EQ(facade->ComposeSequencedName(0, "a.crl", 1, nullptr, 3, nullptr), 0);
}

// ---- EC keys of key objects ----

// The key bits of the key read, and the identifier the key was given, else
// one computed from the key it carries (library operation 28); 32 bytes
// out, zero-filled past a 20-byte value. The library must be above 261.
TEST_F(KeyRequests, ECKeyIdentifierGivenOrComputed)
{
    Bytes point;
    fake::KeyObject* key = ECKey(2, &point);
    Drop drop{key};
    Bytes identifier(32, 0xEE);
    std::uint32_t bits = 0;
    ASSERT_EQ(facade->GetECKeyIdentifier(key, &bits, identifier.data()), 1);
    EXPECT_EQ(bits, 76u * 8);
    Bytes expected = Identifier(28, key->ecPrivate, 76, 20);
    expected.resize(32, 0);
    EXPECT_EQ(identifier, expected);

    key->givenIdentifier = Pattern(20, 0x11);
    ASSERT_EQ(facade->GetECKeyIdentifier(key, &bits, identifier.data()), 1);
    expected = key->givenIdentifier;
    expected.resize(32, 0);
    EXPECT_EQ(identifier, expected);
    key->givenIdentifier.assign(33, 1);  // longer than the output
    EXPECT_EQ(facade->GetECKeyIdentifier(key, &bits, identifier.data()), 0);

    lib.version = 261;
    EXPECT_EQ(facade->GetECKeyIdentifier(key, &bits, nullptr), 0);
    lib.version = 262;
    auto* plain = new fake::KeyObject(lib);
    Drop dropPlain{plain};
    EXPECT_EQ(facade->GetECKeyIdentifier(plain, &bits, identifier.data()), 0);
}

// With the selector (4240) the key and argument go to its slot 52; without
// it the key's record goes to the fourth form (slot 48) with the named
// curve's value for its bit size, or the argument when one is given.
TEST_F(KeyRequests, NamedCurveBySelectorOrByTheFourthForm)
{
    Bytes point;
    fake::KeyObject* key = ECKey(4, &point);
    Drop dropKey{key};
    key->ecRecord[0] = 0x2C;  // 300 bits
    key->ecRecord[1] = 0x01;
    auto* target = new fake::ECForms(lib);
    Drop dropTarget{target};
    for (std::uint32_t argument : {0u, 0x1234u}) {
        SCOPED_TRACE(argument);
        ASSERT_EQ(facade->SetNamedCurve(target, key, argument), 1);
        EXPECT_EQ(target->ec.written.how, "4228:48");
        EXPECT_EQ(target->ec.written.key, key->ecPrivate);
        EXPECT_EQ(Bytes(target->ec.written.record.begin(), target->ec.written.record.begin() + 536), key->ecRecord);
        EXPECT_EQ(LoadLE32(target->ec.written.record.data() + 536), argument ? argument : NamedCurveHashBits(300));
    }
    EXPECT_EQ(NamedCurveHashBits(300), 256u);
    target->OfferSelector();
    ASSERT_EQ(facade->SetNamedCurve(target, key, 7), 1);
    EXPECT_EQ(target->ec.written.how, "4240:52");
    EXPECT_EQ(target->ec.written.value, 7u);
    EXPECT_EQ(target->selectedKey, key);
    auto* neither = new fake::KeyObject(lib);
    Drop dropNeither{neither};
    EXPECT_EQ(facade->SetNamedCurve(neither, key, 0), 0);
}

// The new key object holds the source's key and record, and the source's
// identifier object, or (without one) the provider context the source
// lends; the caller's pointer is written only on success.
TEST_F(KeyRequests, ExtractedKeysCarryTheIdentifierOrTheContext)
{
    Bytes point;
    fake::KeyObject* source = ECKey(3, &point);
    Drop dropSource{source};
    auto extract = [&]() -> fake::KeyObject* {
        void* out = nullptr;
        if (facade->ExtractECPublicKey(source, &out) != 1) return nullptr;
        return dynamic_cast<fake::KeyObject*>(static_cast<IPKIKeyObject*>(out));
    };
    source->givenIdentifier = Pattern(20, 0x30);
    fake::KeyObject* made = extract();
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->writtenPoint, source->ecPrivate);
    EXPECT_EQ(made->writtenRecord, source->ecRecord);
    EXPECT_EQ(made->writtenIdentifier, source->givenIdentifier);
    EXPECT_EQ(made->handed, nullptr);
    made->Release();

    source->givenIdentifier.clear();
    made = extract();
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->writtenIdentifier.empty());
    EXPECT_EQ(made->handed, nullptr) << "the source lends no context";
    made->Release();

    int hardware = 0;
    source->OfferIntlContext(1, fake::CSPContextLike{nullptr, &hardware, nullptr});
    made = extract();
    ASSERT_NE(made, nullptr);
    EXPECT_NE(made->handed, nullptr);
    made->Release();

    auto* plain = new fake::KeyObject(lib);
    Drop dropPlain{plain};
    void* out = &hardware;
    EXPECT_EQ(facade->ExtractECPublicKey(plain, &out), 0);
    EXPECT_EQ(out, &hardware);
}

// Into a key object: the caller's 32-byte identifier as it is; else the
// public point the second provider computes from the private key (the one
// it generated with the pair) with its identifier; a key the provider
// cannot compute with falls back to the key's own identifier.
TEST_F(KeyRequests, ECPublicKeyCopiedWithTheCallersOrAComputedIdentifier)
{
    Bytes point;
    fake::KeyObject* key = ECKey(4, &point);
    Drop dropKey{key};
    auto* target = new fake::KeyObject(lib);
    Drop dropTarget{target};
    target->OfferECKey();
    Bytes given(32, 0x42);
    ASSERT_EQ(facade->CopyECPublicKeyFromCertificate(target, key, given.data()), 1);
    EXPECT_EQ(target->writtenIdentifier, Bytes(20, 0x42));
    EXPECT_TRUE(target->writtenPoint.empty());
    EXPECT_EQ(target->writtenRecord, key->ecRecord);

    ASSERT_EQ(facade->CopyECPublicKeyFromCertificate(target, key, nullptr), 1);
    EXPECT_EQ(target->writtenPoint, point);
    EXPECT_EQ(target->writtenIdentifier, Identifier(28, point, 152, 20));

    std::fill(key->ecPrivate.begin(), key->ecPrivate.end(), 0);  // no point to compute
    key->givenIdentifier = Pattern(20, 0x70);
    ASSERT_EQ(facade->CopyECPublicKeyFromCertificate(target, key, nullptr), 1);
    EXPECT_EQ(target->writtenIdentifier, key->givenIdentifier);
    auto* plain = new fake::KeyObject(lib);
    Drop dropPlain{plain};
    EXPECT_EQ(facade->CopyECPublicKeyFromCertificate(target, plain, nullptr), 0) << "no EC key to read";
}

// ---- Requests identified by their key ----

// The DSTU 4145 request: the key's identifier (operation 28, 20 bytes), the
// usages when given, then the key; its general interface goes out when
// asked. Version 261 and below refuse.
TEST_F(KeyRequests, DSTU4145RequestsCarryTheKeysIdentifier)
{
    const Bytes key = Pattern(76, 0x21);
    const std::string id = Hex(Identifier(28, key, 33, 20));
    const char usages[] = "1.3.6.1.5.5.7.3.2\0001.2.804.2.1.1.1.3.9\0";
    void* request = nullptr;
    ASSERT_EQ(facade->CreateDSTU4145Request(key.data(), 33, usages, &request), 1);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(Encoded(static_cast<IPKIObject*>(request)), "identifier=" + id +
                                                              ";usages=1.3.6.1.5.5.7.3.2,1.2.804.2.1.1.1.3.9;key=" +
                                                              Hex(Bytes(key.begin(), key.begin() + 33)) + ";");
    static_cast<IPKIObject*>(request)->Release();
    EXPECT_EQ(facade->CreateDSTU4145Request(key.data(), 33, nullptr, nullptr), 1);
    EXPECT_EQ(facade->CreateDSTU4145Request(key.data(), 77, nullptr, nullptr), 0);
    lib.version = 261;
    EXPECT_EQ(facade->CreateDSTU4145Request(key.data(), 33, nullptr, nullptr), 0);
}

// Named through the naming view's slot 112, else with the caller's record
// (the DSTU 4145 form's slot 104); encoded into the caller's blob. The
// four-argument form is the one without a name.
TEST_F(KeyRequests, DSTU4145RequestsForAKeyIdAreNamedOrGivenTheRecord)
{
    const Bytes key = Pattern(76, 0x05);
    Bytes record = Pattern(540, 0x90);
    const std::string head =
        "identifier=" + Hex(Identifier(28, key, 40, 20)) + ";key=" + Hex(Bytes(key.begin(), key.begin() + 40)) + ";";
    PKIBlob out{0, nullptr};
    ASSERT_EQ(facade->CreateDSTU4145RequestForKeyId("CN=Holder", 40, key.data(), record.data(), &out), 1);
    EXPECT_EQ(Text(out), head + "nameDSTU4145=CN=Holder;");
    facade->ReleaseBlob(&out);
    ASSERT_EQ(facade->CreateDSTU4145RequestForKey(40, key.data(), record.data(), &out), 1);
    EXPECT_EQ(Text(out), head + "record=0,0," + Hex(record) + ";");
    facade->ReleaseBlob(&out);
    EXPECT_EQ(facade->CreateDSTU4145RequestForKey(40, key.data(), nullptr, &out), 0);
    EXPECT_EQ(out.data, nullptr);
}

// The request for a key identifier: the identifier of the source key
// (operation 17), the subject, then the name through the naming view's slot
// 111, or the caller's subject name (slot 35), or neither.
TEST_F(KeyRequests, RequestsForAKeyIdTakeTheNameOrTheSubjectName)
{
    const Bytes source = Pattern(64, 0x44), subject = Pattern(12, 0x01);
    PKIBlob keySource = View(source), out{0, nullptr};
    std::uint32_t subjectLength = 12;
    const std::string head = "identifier=" + Hex(Identifier(17, source, 64, 20)) + ";subject=" + Hex(subject) + ";";
    const struct {
        const char* name;
        const char* subjectName;
        std::string tail;
    } cases[] = {{"CN=A", "CN=B", "name=CN=A;"}, {nullptr, "CN=B", "subjectName=CN=B;"}, {nullptr, nullptr, ""}};
    for (const auto& c : cases) {
        ASSERT_EQ(
            facade->CreateRequestForKeyId(c.name, &keySource, subject.data(), &subjectLength, c.subjectName, &out), 1);
        EXPECT_EQ(Text(out), head + c.tail);
        facade->ReleaseBlob(&out);
    }
    PKIBlob empty{0, nullptr};
    EXPECT_EQ(facade->CreateRequestForKeyId(nullptr, &empty, subject.data(), &subjectLength, nullptr, &out), 0);
}

// Kind 1: the identifier through operation 18 over the curve's (m + 7) / 8
// key bytes with the S-box, the caller's curve set explicitly; kind 7
// (library 272 and above): operation 37 and no S-box, here with the
// standard curve named by basis and index. The key goes in with the curve's
// degree; both objects come out. Other kinds are refused.
TEST_F(KeyRequests, KeyRequestsByKindAndCurveSource)
{
    const fake::Curve curve = StandardCurve(3);  // m = 179: 23 key bytes
    const Bytes key = Pattern(76, 0x61);
    const std::string keyText = Hex(Bytes(key.begin(), key.begin() + 23));
    const std::string sBoxText = fake::Hex(curve.sBox, 64);
    Bytes id1 = Identifier(18, key, 23, 20);
    id1.resize(32, 0);
    const struct {
        std::uint32_t fromValues, kind;
        const char* usages;
        std::string expected;
    } cases[] = {
        {0, 1, nullptr,
         "identifier=" + Hex(id1) + ";key=" + keyText + ",179,explicit:m=179,n=" +
             std::to_string(curve.point.words[DSTU4145_POINT_BITS]) + ",sbox=" + sBoxText + ";"},
        {1, 7, "1.2.3\0",
         "identifier=" + Hex(Identifier(37, key, 23, 32)) + ";key=" + keyText + ",179,standard:1,3;usages=1.2.3;"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        lib.version = 272;
        void* parameters = nullptr;
        void* request = nullptr;
        ASSERT_EQ(facade->BuildKeyRequest(key.data(), &curve.field, &curve.point, c.fromValues, 1, 3, c.kind,
                                          curve.sBox, c.usages, &parameters, &request),
                  1);
        EXPECT_EQ(Encoded(static_cast<IPKIObject*>(request)), c.expected);
        EXPECT_NE(dynamic_cast<fake::CurveParameters*>(static_cast<IPKIParameters*>(parameters)), nullptr);
        static_cast<IPKIObject*>(parameters)->Release();
        static_cast<IPKIObject*>(request)->Release();
        lib.version = 271;
        EXPECT_EQ(facade->BuildKeyRequest(key.data(), &curve.field, &curve.point, c.fromValues, 1, 3, c.kind,
                                          curve.sBox, c.usages, &parameters, &request),
                  c.kind == 1 ? 1 : 0);
        if (c.kind == 1) {
            static_cast<IPKIObject*>(parameters)->Release();
            static_cast<IPKIObject*>(request)->Release();
        }
    }
    void* parameters = nullptr;
    void* request = nullptr;
    EXPECT_EQ(facade->BuildKeyRequest(key.data(), &curve.field, &curve.point, 0, 1, 3, 2, nullptr, nullptr, &parameters,
                                      &request),
              0);
    EXPECT_EQ(request, nullptr);
}

// ---- Two-party (common) keys ----

// The signature algorithm follows the curve's basis and the hash form: the
// DSTU 4145 form takes "...3.1.1" (polynomial) or "...3.1.2" (normal), the
// hash form "...3.6.1.1" or "...3.6.1.2".
TEST_F(KeyRequests, CommonKeyRequestsNameTheAlgorithmOfTheirBasis)
{
    fake::Curve polynomial = StandardCurve(0);
    fake::Curve normal;
    ASSERT_NE(csp->Parameters().GetStandardCurve(0, 0, &normal.field, &normal.point), 0);
    ASSERT_EQ(normal.field.words[DSTU4145_FIELD_COFACTOR], 0u);
    const Bytes key = Pattern(76, 0x09);
    const struct {
        const fake::Curve* curve;
        bool dstu7564;
        const char* expected;
    } cases[] = {{&polynomial, false, "algorithm=1.2.804.2.1.1.1.1.3.1.1;"},
                 {&normal, false, "algorithm=1.2.804.2.1.1.1.1.3.1.2;"},
                 {&polynomial, true, "algorithm7564=1.2.804.2.1.1.1.1.3.6.1.1;"},
                 {&normal, true, "algorithm7564=1.2.804.2.1.1.1.1.3.6.1.2;"}};
    for (const auto& c : cases) {
        PKIBlob out{0, nullptr};
        const PKIFCommonKeyRequest arguments{key.data(), &c.curve->field, &c.curve->point, nullptr, nullptr, &out};
        ASSERT_EQ(
            c.dstu7564 ? facade->BuildCommonKeyRequest7564(&arguments) : facade->BuildCommonKeyRequest(&arguments), 1);
        const std::string text = Text(out);
        EXPECT_EQ(text.substr(text.size() - std::strlen(c.expected)), c.expected);
        EXPECT_EQ(text.find("identifier="), 0u);
        facade->ReleaseBlob(&out);
    }
}

// Two certificates on one curve: their keys make the common key under the
// module's provider, which the request carries; without a module provider
// the operation is not usable and decodes nothing.
TEST_F(KeyRequests, CommonKeyRequestsNeedTheModuleProvider)
{
    const fake::Curve curve = StandardCurve(3);
    ServeCertificates(curve);
    const std::string one = "first", two = "second";
    PKIBlob first = View(one), second = View(two), out{0, nullptr};
    std::uint8_t common[PKIF_COMMON_KEY_BYTES] = {};

    EXPECT_EQ(facade->CreateCommonKeyRequest(&first, &second, &out, common), 0) << "no accessor";
    facade->SetModuleCSPAccessor(ModuleProvider);
    EXPECT_EQ(facade->CreateCommonKeyRequest(&first, &second, &out, common), 0) << "null provider";
    EXPECT_EQ(lib.Calls(), 0) << "nothing decoded without a provider";

    moduleProvider = csp;
    fake::Curve c = curve;
    Bytes expected(76);
    ASSERT_EQ(csp->MakeCommonKeyQDSTU4145(&c.field, &c.point, keys[0].data(), keys[1].data(), expected.data()), CSP_OK);
    for (bool dstu7564 : {false, true}) {
        SCOPED_TRACE(dstu7564);
        made = 0;
        ASSERT_EQ(dstu7564 ? facade->CreateCommonKeyRequest7564(&first, &second, &out, common, nullptr, nullptr)
                           : facade->CreateCommonKeyRequest(&first, &second, &out, common),
                  1);
        EXPECT_EQ(Bytes(common, common + 76), expected);
        const std::string text = Text(out);
        EXPECT_NE(text.find(";key=" + Hex(Bytes(expected.begin(), expected.begin() + 23)) + ",179,explicit:m=179"),
                  std::string::npos)
            << text;
        EXPECT_NE(
            text.find(dstu7564 ? "algorithm7564=1.2.804.2.1.1.1.1.3.6.1.1;" : "algorithm=1.2.804.2.1.1.1.1.3.1.1;"),
            std::string::npos);
        facade->ReleaseBlob(&out);
    }
}

// Every library call of the common key's request, of the requests for a key
// identifier and of the EC key copies fails in turn and throws in turn:
// nothing is left behind, and the run past the last call succeeds.
TEST_F(KeyRequests, FailuresAtEveryCallLeaveNothingBehind)
{
    const fake::Curve curve = StandardCurve(3);
    ServeCertificates(curve);
    facade->SetModuleCSPAccessor(ModuleProvider);
    moduleProvider = csp;
    const std::string one = "first", two = "second";
    PKIBlob first = View(one), second = View(two);
    const Bytes key = Pattern(76, 0x05);
    Bytes record = Pattern(540, 0x90);
    Bytes point;
    fake::KeyObject* ecKey = ECKey(4, &point);
    Drop dropKey{ecKey};
    int hardware = 0;
    ecKey->OfferIntlContext(1, fake::CSPContextLike{nullptr, &hardware, nullptr});
    auto* target = new fake::KeyObject(lib);
    Drop dropTarget{target};
    target->OfferECKey();
    const std::function<int(PKIBlob*)> runs[] = {
        [&](PKIBlob* out) {
            made = 0;
            return facade->CreateCommonKeyRequest(&first, &second, out, nullptr);
        },
        [&](PKIBlob* out) {
            return facade->CreateDSTU4145RequestForKeyId(nullptr, 40, key.data(), record.data(), out);
        },
        [&](PKIBlob* out) { return facade->CreateDSTU4145RequestForKeyId("CN=A", 40, key.data(), nullptr, out); },
        [&](PKIBlob* out) {
            PKIBlob source = View(key);
            std::uint32_t length = 12;
            return facade->CreateRequestForKeyId("CN=A", &source, record.data(), &length, nullptr, out);
        },
        [&](PKIBlob*) {
            void* parameters = nullptr;
            void* request = nullptr;
            if (!facade->BuildKeyRequest(key.data(), &curve.field, &curve.point, 0, 0, 0, 1, curve.sBox, "1.2.3\0",
                                         &parameters, &request))
                return 0;
            static_cast<IPKIObject*>(parameters)->Release();
            static_cast<IPKIObject*>(request)->Release();
            return 1;
        },
        [&](PKIBlob*) {
            void* made = nullptr;
            if (!facade->ExtractECPublicKey(ecKey, &made)) return 0;
            static_cast<IPKIObject*>(made)->Release();
            return 1;
        },
        [&](PKIBlob*) { return facade->CopyECPublicKeyFromCertificate(target, ecKey, nullptr); },
        [&](PKIBlob* out) {
            fake::profile::UseProfileObjects(lib);
            Bytes publicKey;
            fake::KeyObject* signer = DSTU4145Key(curve, &publicKey);
            Drop dropSigner{signer};
            const std::string body = "request";
            PKIBlob in = View(body);
            return facade->ResignRequestWithExtKeyUsages(signer, &in, "1.3.6.1.5.5.7.3.4\0", 0, 0, out);
        }};
    for (const auto& run : runs) {
        for (bool throws : {false, true}) {
            for (int k = 1;; ++k) {
                PKIBlob out{0, nullptr};
                lib.FailCall(k, PKI_E_FAILURE, throws);
                int answer = run(&out);
                bool reached = lib.FailureUsed();
                lib.FailCall(1 << 30);
                if (!reached) {
                    EXPECT_EQ(answer, 1);
                    facade->ReleaseBlob(&out);
                    break;
                }
                facade->ReleaseBlob(&out);
            }
        }
    }
}

// ---- Re-signed requests ----

// A request re-signed with a DSTU 4145 key carries the new extended key
// usages and a signature the CSP accepts over the request's signed part with
// the holder's public key: GOST 34.311 (set on the request) on the 571-bit
// built-in curve, whose 144-byte signature is far beyond a key's 76 bytes,
// and DSTU 7564 (set through the hash form with its length) on the 431-bit
// standard curve.
TEST_F(KeyRequests, ResignedDSTU4145RequestsVerifyWithTheHoldersKey)
{
    fake::profile::UseProfileObjects(lib);
    fake::Curve builtIn = StandardCurve(0);
    PKIBuiltInCurve(&builtIn.field, &builtIn.point);
    const struct {
        fake::Curve curve;
        std::uint32_t hashCode, length;
        const char* setter;
    } cases[] = {{builtIn, 1, 2 * 72, "4873:26(144)"}, {StandardCurve(9), 7, 2 * 54, "4873:109(108,32)"}};
    const std::string body = "encoded request;";
    const char usages[] = "1.3.6.1.5.5.7.3.4\0001.3.6.1.5.5.7.3.8\0";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hashCode);
        lib.dstuRequest.hashCode = c.hashCode;
        Bytes publicKey;
        fake::KeyObject* key = DSTU4145Key(c.curve, &publicKey);
        Drop dropKey{key};
        lib.log.clear();
        PKIBlob in = View(body), out{0, nullptr};
        ASSERT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, usages, 1, 0, &out), 1);
        const Bytes encoded = Copy(out);
        facade->ReleaseBlob(&out);
        bool usagesSet = false, signatureSet = false;
        for (const std::string& line : lib.log) {
            usagesSet |= line == "4912:5(1.3.6.1.5.5.7.3.4,1.3.6.1.5.5.7.3.8)";
            signatureSet |= line == c.setter;
        }
        EXPECT_TRUE(usagesSet);
        EXPECT_TRUE(signatureSet);

        // The output is the request followed by its signature; the signed
        // part is the request with its new extension list.
        const std::string signedPart = body + "extensions;";
        ASSERT_EQ(encoded.size(), body.size() + c.length);
        EXPECT_EQ(std::string(encoded.begin(), encoded.begin() + static_cast<long>(body.size())), body);
        std::uint8_t hash[32] = {}, padded[152] = {};
        std::memcpy(padded, encoded.data() + body.size(), c.length);
        const auto* data = reinterpret_cast<const std::uint8_t*>(signedPart.data());
        const auto size = static_cast<std::uint32_t>(signedPart.size());
        fake::Curve copy = c.curve;
        if (c.hashCode == 1) {
            ASSERT_EQ(csp->HashGOST34311(data, size, reinterpret_cast<const GOST28147PackedSBox*>(c.curve.sBox),
                                         nullptr, hash),
                      CSP_OK);
            EXPECT_EQ(csp->VerifyHashSignatureDSTU4145(hash, &copy.field, &copy.point, publicKey.data(), padded),
                      CSP_OK);
        } else {
            ASSERT_EQ(csp->HashDSTU7564(data, size, nullptr, 32, hash), CSP_OK);
            EXPECT_EQ(csp->VerifySignatureDSTU4145(32, hash, &copy.field, &copy.point, publicKey.data(), padded),
                      CSP_OK);
        }
        // One bit changed in the signed part and the signature no longer holds.
        hash[0] ^= 1;
        EXPECT_NE(c.hashCode == 1
                      ? csp->VerifyHashSignatureDSTU4145(hash, &copy.field, &copy.point, publicKey.data(), padded)
                      : csp->VerifySignatureDSTU4145(32, hash, &copy.field, &copy.point, publicKey.data(), padded),
                  CSP_OK);
    }
}

// Re-signing refuses what it cannot sign: a DSTU 7564 hash longer than the
// 32 bytes the facade signs with, a SHA hash kind on a DSTU 4145 request, a
// key family it does not know, a key without the request's family, and
// missing arguments; nothing is handed out.
TEST_F(KeyRequests, ResignRefusesWhatItCannotSign)
{
    fake::profile::UseProfileObjects(lib);
    const fake::Curve curve = StandardCurve(3);
    Bytes publicKey;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dropKey{key};
    const std::string body = "request";
    PKIBlob in = View(body);
    const char usages[] = "1.3.6.1.5.5.7.3.4\0";
    const struct {
        std::uint32_t kind, hashCode;
    } refused[] = {{1, 8}, {1, 9}, {1, 4}, {3, 1}, {2, 1}, {4, 1}};
    for (const auto& r : refused) {
        lib.dstuRequest.kind = r.kind;
        lib.dstuRequest.hashCode = r.hashCode;
        PKIBlob out{0, nullptr};
        EXPECT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, usages, 0, 0, &out), 0) << r.kind << r.hashCode;
        EXPECT_EQ(out.data, nullptr);
    }
    lib.dstuRequest.kind = 1;
    lib.dstuRequest.hashCode = 1;
    PKIBlob out{0, nullptr};
    EXPECT_EQ(facade->ResignRequestWithExtKeyUsages(nullptr, &in, usages, 0, 0, &out), 0);
    EXPECT_EQ(facade->ResignRequestWithExtKeyUsages(key, nullptr, usages, 0, 0, &out), 0);
    EXPECT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, nullptr, 0, 0, &out), 0);
    EXPECT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, usages, 0, 0, nullptr), 0);
    ASSERT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, usages, 0, 0, &out), 1);
    facade->ReleaseBlob(&out);
}

// RSA and ECDSA requests are re-signed over the signed part with the hash the
// key family takes (SHA-1 below 2,048 RSA bits, SHA-256 from there on and
// for ECDSA on P-256); the second provider accepts each signature and refuses
// it over a changed hash.
TEST_F(KeyRequests, ResignedRSAAndECDSARequestsVerifyWithTheSecondProvider)
{
    fake::profile::UseProfileObjects(lib);
    const std::string body = "encoded request;", signedPart = body + "extensions;";
    const char usages[] = "1.3.6.1.5.5.7.3.2\0";
    auto resign = [&](IPKIObject* key, std::uint32_t family, Bytes& signature) {
        lib.dstuRequest.kind = family;
        PKIBlob in = View(body), out{0, nullptr};
        ASSERT_EQ(facade->ResignRequestWithExtKeyUsages(key, &in, usages, 0, 0, &out), 1);
        const Bytes encoded = Copy(out);
        facade->ReleaseBlob(&out);
        ASSERT_GT(encoded.size(), body.size());
        EXPECT_EQ(std::string(encoded.begin(), encoded.begin() + static_cast<long>(body.size())), body);
        signature.assign(encoded.begin() + static_cast<long>(body.size()), encoded.end());
    };
    const auto* data = reinterpret_cast<const std::uint8_t*>(signedPart.data());
    const auto size = static_cast<std::uint32_t>(signedPart.size());
    for (std::uint32_t bits : {1024u, 2048u}) {
        SCOPED_TRACE(bits);
        Bytes record, signature;
        fake::KeyObject* key = RSAKey(bits, &record);
        Drop dropKey{key};
        resign(key, 2, signature);
        ASSERT_EQ(signature.size(), bits / 8);
        const std::uint32_t hashBits = bits < 2048 ? 160 : 256;
        const std::uint32_t profile[2] = {bits, hashBits};
        std::uint8_t hash[32] = {};
        ASSERT_EQ(cspi->HashSHA(data, size, hashBits, hash), CSP_OK);
        EXPECT_EQ(cspi->VerifySignatureRSA(hash, reinterpret_cast<const std::uint8_t*>(profile), record.data(),
                                           signature.data()),
                  CSP_OK);
        hash[0] ^= 1;
        EXPECT_NE(cspi->VerifySignatureRSA(hash, reinterpret_cast<const std::uint8_t*>(profile), record.data(),
                                           signature.data()),
                  CSP_OK);
    }
    Bytes point, signature;
    fake::KeyObject* key = ECKey(4, &point);
    Drop dropKey{key};
    resign(key, 4, signature);
    ASSERT_EQ(signature.size(), PKIF_ECDSA_SIGNATURE_RECORD);
    Bytes entry(CSPI_CURVE_ENTRY_BYTES);
    ASSERT_EQ(cspi->Parameters()->GetCurve(4, entry.data()), 1);
    std::uint8_t hash[32] = {};
    ASSERT_EQ(cspi->HashSHA(data, size, 256, hash), CSP_OK);
    EXPECT_EQ(cspi->VerifySignatureECDSA(32, hash, entry.data(), point.data(), signature.data()), CSP_OK);
    hash[0] ^= 1;
    EXPECT_NE(cspi->VerifySignatureECDSA(32, hash, entry.data(), point.data(), signature.data()), CSP_OK);
}
