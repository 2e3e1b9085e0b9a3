// Public keys and key parameters: family and algorithm-id pairs, key
// capabilities, the EC values of requests and certificates with the walk over
// the second provider's named curves, and public keys of private-key objects
// through the object's key cache (slots 1 to 4) over the real providers.
#include "KeyProviders.h"

using namespace keytest;

namespace {

class PublicKeys : public Providers {};

}  // namespace

// The pairs as the library numbers them: 377 goes with family 3, not with
// the ECDSA family 4 of certificates and requests.
TEST_F(PublicKeys, FamiliesAndAlgorithmIdsAreInverseOnTheirThreePairs)
{
    const std::uint32_t families[] = {1, 2, 3}, ids[] = {365, 373, 377};
    for (int i = 0; i < 3; ++i) {
        std::uint32_t family = 0, id = 0;
        EXPECT_EQ(facade->GetKeyFamilyOfAlgorithmId(ids[i], &family), 1);
        EXPECT_EQ(family, families[i]);
        EXPECT_EQ(facade->GetAlgorithmIdOfKeyFamily(families[i], &id), 1);
        EXPECT_EQ(id, ids[i]);
    }
    for (std::uint32_t other : {0u, 4u, 364u, 366u, 374u, 376u, 378u}) {
        std::uint32_t out = 99;
        EXPECT_EQ(facade->GetKeyFamilyOfAlgorithmId(other, &out), 0) << other;
        EXPECT_EQ(facade->GetAlgorithmIdOfKeyFamily(other, &out), 0) << other;
        EXPECT_EQ(out, 99u);
    }
}

// Interface 4224's answer when the key offers it, else the key's own slot 5:
// the signing bit and the other bits masked with 6.
TEST_F(PublicKeys, KeyCapabilitiesFromTheECViewOrTheKey)
{
    auto* plain = new fake::KeyObject(lib);
    Drop dropPlain{plain};
    plain->capabilities = 0xFF;
    auto* ec = new fake::KeyObject(lib);
    Drop dropEC{ec};
    ec->OfferECKey();
    ec->capabilities = 4 | 8;
    std::uint32_t signing = 9, other = 9;
    ASSERT_EQ(facade->GetKeyCapabilities(plain, &signing, &other), 1);
    EXPECT_EQ(signing, 1u);
    EXPECT_EQ(other, 6u);
    ASSERT_EQ(facade->GetKeyCapabilities(ec, &signing, &other), 1);
    EXPECT_EQ(signing, 0u);
    EXPECT_EQ(other, 4u);
    EXPECT_NE(std::find(lib.log.begin(), lib.log.end(), "4893:52()"), lib.log.end());
}

// The request's 536-byte record comes out unchanged, followed by the hash
// size of the first named curve whose key size reaches the record's leading
// bit size; past every curve the last one's value stands and the read still
// succeeds. The certificate's EC view walks the same way.
TEST_F(PublicKeys, ParameterRecordsAndTheNamedCurveWalk)
{
    struct Case {
        std::uint16_t bits;
        std::uint32_t hashBits;
    };
    // Curves in table order: 192, 192, 224, 224, 256, 256, 320, 384, 384,
    // 512, 521 bits, with hash sizes 160, 160, 224, 224, 256 x5, 384, 512.
    const Case cases[] = {{1, 160},   {192, 160}, {193, 224}, {256, 256}, {300, 256}, {385, 384},
                          {512, 384}, {513, 512}, {521, 512}, {522, 512}, {9999, 512}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        Bytes record(PKIF_EC_RECORD_BYTES);
        for (std::size_t i = 2; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i);
        record[0] = static_cast<std::uint8_t>(c.bits);
        record[1] = static_cast<std::uint8_t>(c.bits >> 8);
        auto* request = new fake::KeyRequest(lib, 4);
        Drop dropRequest{request};
        request->ec.record = record;
        auto* certificate = new fake::KeyCertificate(lib, 4);
        Drop dropCertificate{certificate};
        certificate->ec.record = record;
        Bytes out(PKIF_EC_RECORD_WITH_HASH_BYTES + 4, 0xEE);
        ASSERT_EQ(facade->GetECParametersByCurve(request, out.data()), 1);
        EXPECT_EQ(Bytes(out.begin(), out.begin() + PKIF_EC_RECORD_BYTES), record);
        EXPECT_EQ(LoadLE32(out.data() + PKIF_EC_RECORD_BYTES), c.hashBits);
        EXPECT_EQ(out[PKIF_EC_RECORD_WITH_HASH_BYTES], 0xEE);
        std::fill(out.begin(), out.end(), 0);
        ASSERT_EQ(facade->GetECCertificateParametersByCurve(certificate, out.data()), 1);
        EXPECT_EQ(LoadLE32(out.data() + PKIF_EC_RECORD_BYTES), c.hashBits);
    }
    // Without the view there is nothing to read; without a second provider
    // no curve to name.
    auto* key = new fake::KeyObject(lib);
    Drop dropKey{key};
    Bytes out(PKIF_EC_RECORD_WITH_HASH_BYTES);
    EXPECT_EQ(facade->GetECParametersByCurve(key, out.data()), 0);
    auto* request = new fake::KeyRequest(lib, 4);
    Drop dropRequest{request};
    SPKIFormats withoutCSPI(csp, nullptr, &lib);
    EXPECT_EQ(withoutCSPI.GetECParametersByCurve(request, out.data()), 0);
    EXPECT_EQ(withoutCSPI.GetECParametersRecord(request, PKI_EC_VALUE_RECORD, out.data()), 1);
}

TEST_F(PublicKeys, InnerECCertificateOrNone)
{
    auto* outer = new fake::KeyCertificate(lib, 2);
    Drop dropOuter{outer};
    EXPECT_EQ(facade->GetECCertificate(outer), nullptr);
    auto* inner = new fake::KeyCertificate(lib, 4);
    Drop dropInner{inner};
    outer->inner = inner;
    IPKIObject* got = facade->GetECCertificate(outer);
    ASSERT_NE(got, nullptr);
    std::uint32_t kind = 0;
    EXPECT_EQ(static_cast<IPKICertificate*>(got)->GetKeyKind(&kind), 0);
    EXPECT_EQ(kind, 4u);
    got->Release();
}

// Slot 1 (signature key) and slot 2 (agreement key, when the caller passes
// parameter input): a miss computes the key through the CSP and stores it, a
// hit hands back what the slot holds without asking the key's provider, a
// value of another length fails and leaves the outputs alone, and a failed
// cache read counts as a miss.
TEST_F(PublicKeys, DSTU4145PublicKeysThroughTheKeyCache)
{
    fake::Curve curve = StandardCurve(2);
    Bytes publicKey;
    fake::KeyObject* key = DSTU4145Key(curve, &publicKey);
    Drop dropKey{key};
    Bytes out(76);
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[64] = {};
    std::uint32_t cached = 9;
    ASSERT_EQ(facade->GetDSTU4145PublicKey(key, nullptr, &cached, out.data(), &field, &point, sBox), 1);
    EXPECT_EQ(cached, 0u);
    EXPECT_EQ(out, publicKey);
    EXPECT_EQ(key->cache->values[PKI_KEY_CACHE_DSTU4145], publicKey);
    EXPECT_EQ(field.words[DSTU4145_FIELD_M], curve.field.words[DSTU4145_FIELD_M]);
    EXPECT_EQ(std::memcmp(sBox, curve.sBox, 64), 0);

    // A hit: the slot's value as it is.
    key->cache->values[PKI_KEY_CACHE_DSTU4145] = Bytes(76, 0x11);
    ASSERT_EQ(facade->GetDSTU4145PublicKey(key, nullptr, &cached, out.data(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(cached, 1u);
    EXPECT_EQ(out, Bytes(76, 0x11));

    // The agreement key goes to slot 2.
    std::uint32_t agreementInput = 1;
    std::uint8_t priv[76] = {}, expected[76] = {};
    std::memcpy(priv, key->dstuPrivate.data(), 76);
    fake::Curve copy = curve;
    ASSERT_EQ(csp->GetAgreementPublicKeyDSTU4145(&copy.field, &copy.point, priv, expected), CSP_OK);
    ASSERT_EQ(facade->GetDSTU4145PublicKey(key, &agreementInput, &cached, out.data(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(cached, 0u);
    EXPECT_EQ(out, Bytes(expected, expected + 76));
    EXPECT_EQ(key->cache->values[PKI_KEY_CACHE_DSTU4145_AGREEMENT], out);

    // A value of another length fails the read; nothing is written.
    key->cache->values[PKI_KEY_CACHE_DSTU4145] = Bytes(75, 0x22);
    std::fill(out.begin(), out.end(), 0xEE);
    cached = 9;
    EXPECT_EQ(facade->GetDSTU4145PublicKey(key, nullptr, &cached, out.data(), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(out, Bytes(76, 0xEE));
    EXPECT_EQ(cached, 9u);

    // A cache that cannot be read is a miss: the key is computed again.
    key->cache->values.erase(PKI_KEY_CACHE_DSTU4145);
    key->cache->values[PKI_KEY_CACHE_DSTU4145] = Bytes(76, 0x33);
    lib.Script({4893, PKI_IID_KEY_SET, 59, nullptr}, fake::Rule{{PKI_E_FAILURE}, false, {}, nullptr});
    ASSERT_EQ(facade->GetDSTU4145PublicKey(key, nullptr, &cached, out.data(), nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(cached, 0u);
    EXPECT_EQ(out, publicKey);
}

// Slot 3 holds the RSA public record (1,200 bytes) that the second provider
// computes from the private key; slot 4 the EC point (152 bytes), the one
// the pair was made with.
TEST_F(PublicKeys, RSAAndECPublicKeysThroughTheKeyCache)
{
    Bytes record;
    fake::KeyObject* rsa = RSAKey(1024, &record);
    Drop dropRSA{rsa};
    Bytes rsaOut(PKIF_RSA_PUBLIC_KEY_BYTES), profile(8);
    std::uint32_t cached = 9;
    ASSERT_EQ(facade->GetRSAPublicKey(rsa, &cached, rsaOut.data(), profile.data()), 1);
    EXPECT_EQ(cached, 0u);
    EXPECT_EQ(rsa->cache->values[PKI_KEY_CACHE_RSA], rsaOut);
    EXPECT_EQ(LoadLE32(profile.data()), 1024u);
    Bytes expected(PKIF_RSA_PUBLIC_KEY_BYTES);
    ASSERT_EQ(cspi->GenerateHardwareKeyPairRSA(rsa->rsaProfile, rsa->rsaPrivate.data(), expected.data()), CSP_OK);
    EXPECT_EQ(rsaOut, expected);
    ASSERT_EQ(facade->GetRSAPublicKey(rsa, &cached, rsaOut.data(), nullptr), 1);
    EXPECT_EQ(cached, 1u);
    rsa->cache->values[PKI_KEY_CACHE_RSA].resize(600);
    EXPECT_EQ(facade->GetRSAPublicKey(rsa, &cached, rsaOut.data(), nullptr), 0);

    Bytes point;
    fake::KeyObject* ec = ECKey(5, &point);
    Drop dropEC{ec};
    Bytes ecOut(PKIF_EC_PUBLIC_KEY_BYTES), ecRecord(PKIF_EC_RECORD_BYTES);
    ASSERT_EQ(facade->GetECPublicKey(ec, &cached, ecOut.data(), ecRecord.data()), 1);
    EXPECT_EQ(cached, 0u);
    EXPECT_EQ(ecOut, point);
    EXPECT_EQ(ecRecord, ECRecord(5));
    EXPECT_EQ(ec->cache->values[PKI_KEY_CACHE_EC], point);
    ASSERT_EQ(facade->GetECPublicKey(ec, &cached, ecOut.data(), nullptr), 1);
    EXPECT_EQ(cached, 1u);
    ec->cache->values[PKI_KEY_CACHE_EC].push_back(0);
    EXPECT_EQ(facade->GetECPublicKey(ec, &cached, ecOut.data(), nullptr), 0);
    // Each key kind keeps to its own slot.
    EXPECT_EQ(rsa->cache->values.count(PKI_KEY_CACHE_EC), 0u);
    EXPECT_EQ(ec->cache->values.count(PKI_KEY_CACHE_RSA), 0u);
}

namespace {

CSP* moduleProvider = nullptr;
CSP* ModuleProvider()
{
    return moduleProvider;
}

}  // namespace

// The common key's request takes a signature of exactly twice the byte
// length of the curve order, checked against parameters the module's
// provider accepts; one byte short is refused, and without the module's
// provider the operation answers 0 rather than calling through null.
TEST_F(PublicKeys, CommonKeySignatureLengthAndTheModuleProvider)
{
    lib.dstuRequest.curve = StandardCurve(3);  // 179-bit order: 2 x 23 bytes
    const Bytes encoded = {'r', 'e', 'q'};
    PKIBlob request = View(encoded), out{0, nullptr};
    Bytes signature(152, 0x6B);

    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 46, &out), 0) << "no accessor";
    facade->SetModuleCSPAccessor(ModuleProvider);
    moduleProvider = nullptr;
    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 46, &out), 0) << "null provider";
    moduleProvider = csp;
    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 45, &out), 0);
    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 47, &out), 0);
    ASSERT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 46, &out), 1);
    Bytes expected = encoded;
    expected.insert(expected.end(), 46, 0x6B);
    EXPECT_EQ(Copy(out), expected);
    facade->ReleaseBlob(&out);

    // Parameters the provider refuses, and a request of another kind.
    lib.dstuRequest.curve.field.words[DSTU4145_FIELD_B] ^= 1;
    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 46, &out), 0);
    lib.dstuRequest.curve = StandardCurve(3);
    lib.dstuRequest.kind = 2;
    EXPECT_EQ(facade->CheckCommonKeySignature(&request, signature.data(), 46, &out), 0);
    EXPECT_EQ(out.data, nullptr);
    moduleProvider = nullptr;
}

// The record writers hand the caller's 536 bytes on with the named curve's
// word for its bit size and the caller's two words; the copies take a source
// certificate's EC key and record (with its curve's word) to the target's
// view of each form.
TEST_F(PublicKeys, ECParametersAreWrittenAndCopiedWithTheNamedCurve)
{
    Bytes record(PKIF_EC_RECORD_BYTES);
    for (std::size_t i = 2; i < record.size(); ++i) record[i] = static_cast<std::uint8_t>(i * 3);
    record[0] = 0x2C;  // 300 bits: the 320-bit curve, hash size 256
    record[1] = 0x01;
    auto* request = new fake::KeyRequest(lib, 4);
    Drop dropRequest{request};
    auto* certificate = new fake::KeyCertificate(lib, 4);
    Drop dropCertificate{certificate};
    auto* forms = new fake::ECForms(lib);
    Drop dropForms{forms};
    struct Writer {
        const char* how;
        fake::ECValues* target;
        std::function<int()> run;
    };
    const Writer writers[] = {
        {"4225:104", &request->ec, [&] { return facade->SetECParametersByCurve(request, 7, 9, record.data()); }},
        {"4226:108", &certificate->ec,
         [&] { return facade->SetECCertificateParametersByCurve(certificate, 7, 9, record.data()); }},
        {"4227:56", &forms->ec, [&] { return facade->SetECParametersForm3ByCurve(forms, 7, 9, record.data()); }}};
    for (const Writer& w : writers) {
        SCOPED_TRACE(w.how);
        ASSERT_EQ(w.run(), 1);
        EXPECT_EQ(w.target->written.how, w.how);
        EXPECT_EQ(w.target->written.a, 7u);
        EXPECT_EQ(w.target->written.b, 9u);
        ASSERT_EQ(w.target->written.record.size(), PKIF_EC_RECORD_WITH_HASH_BYTES);
        EXPECT_EQ(Bytes(w.target->written.record.begin(), w.target->written.record.begin() + PKIF_EC_RECORD_BYTES),
                  record);
        EXPECT_EQ(LoadLE32(w.target->written.record.data() + PKIF_EC_RECORD_BYTES), 256u);
    }
    // A target without the view is refused.
    EXPECT_EQ(facade->SetECParametersForm3ByCurve(request, 7, 9, record.data()), 0);

    auto* source = new fake::KeyCertificate(lib, 4);
    Drop dropSource{source};
    for (std::size_t i = 0; i < 152; ++i) source->ec.point[i] = static_cast<std::uint8_t>(i ^ 0x5A);
    source->ec.record = record;
    source->ec.record[0] = 0x81;  // 385 bits: the 512-bit curve, hash size 384
    const Writer copies[] = {
        {"4226:109", &certificate->ec, [&] { return facade->CopyECParametersForm2(certificate, source); }},
        {"4227:57", &forms->ec, [&] { return facade->CopyECParametersForm3(forms, source); }},
        {"4228:49", &forms->ec, [&] { return facade->CopyECParametersForm4(forms, source); }}};
    for (const Writer& c : copies) {
        SCOPED_TRACE(c.how);
        ASSERT_EQ(c.run(), 1);
        EXPECT_EQ(c.target->written.how, c.how);
        EXPECT_EQ(c.target->written.key, source->ec.point);
        EXPECT_EQ(LoadLE32(c.target->written.record.data() + PKIF_EC_RECORD_BYTES), 384u);
    }
    EXPECT_EQ(facade->CopyECParametersForm4(certificate, source), 0) << "no fourth form";

    // Normalising reads the request's record and hands it to slot 105; the
    // certificate's value and pair go to slots 110 and 107.
    request->ec.record = record;
    ASSERT_EQ(facade->NormalizeECParameters(request), 1);
    EXPECT_EQ(request->ec.written.how, "4225:105");
    EXPECT_EQ(request->ec.written.record, record);
    ASSERT_EQ(facade->SetECCertificateValue(certificate, 0x1234), 1);
    EXPECT_EQ(certificate->ec.written.value, 0x1234u);
    ASSERT_EQ(facade->SetECCertificatePair(certificate, 3, 4), 1);
    EXPECT_EQ(certificate->ec.written.how, "4226:107");
    EXPECT_EQ(certificate->ec.written.a, 3u);
    EXPECT_EQ(certificate->ec.written.b, 4u);
}

// Two DSTU 4145 keys share parameters when the module's provider accepts
// both and their curves, points, further values and (when asked) S-boxes are
// equal; the first one's come out. Without the module's provider the
// comparison answers 0.
TEST_F(PublicKeys, DSTU4145ParametersCompareUnderTheModuleProvider)
{
    auto make = [&](std::uint32_t kind, const fake::Curve& curve) {
        auto* r = new fake::KeyRequest(lib, kind);
        r->curve = curve;
        return r;
    };
    fake::Curve base = StandardCurve(3);
    base.flag = 1;
    base.first = 179;
    base.second = 5;
    auto* first = make(1, base);
    Drop dropFirst{first};
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t bits = 0, flag = 0, value = 0;
    std::uint8_t sBox[64] = {};
    auto compare = [&](IPKIObject* second, std::uint8_t* box) {
        return facade->CompareDSTU4145Parameters(first, second, &field, &point, &bits, &flag, &value, box);
    };
    auto* same = make(1, base);
    Drop dropSame{same};
    EXPECT_EQ(compare(same, sBox), 0) << "no module provider";
    facade->SetModuleCSPAccessor(ModuleProvider);
    moduleProvider = csp;
    ASSERT_EQ(compare(same, sBox), 1);
    EXPECT_EQ(field.words[DSTU4145_FIELD_M], 179u);
    EXPECT_EQ(bits, 179u);
    EXPECT_EQ(flag, 1u);
    EXPECT_EQ(value, 5u);
    EXPECT_EQ(std::memcmp(sBox, base.sBox, 64), 0);

    fake::Curve otherBox = base;
    otherBox.sBox[0] ^= 1;
    auto* boxed = make(1, otherBox);
    Drop dropBoxed{boxed};
    EXPECT_EQ(compare(boxed, sBox), 0);
    EXPECT_EQ(compare(boxed, nullptr), 1) << "S-boxes compared only when asked";

    fake::Curve otherValue = base;
    otherValue.second = 6;
    fake::Curve otherCurve = StandardCurve(4);
    otherCurve.flag = 1;
    otherCurve.first = 179;
    otherCurve.second = 5;
    fake::Curve refused = base;
    refused.field.words[DSTU4145_FIELD_B] ^= 1;
    for (auto* second : {make(1, otherValue), make(1, otherCurve), make(2, base), make(1, refused)}) {
        Drop dropSecond{second};
        EXPECT_EQ(compare(second, nullptr), 0);
    }
    auto* neither = new fake::KeyObject(lib);
    Drop dropNeither{neither};
    EXPECT_EQ(compare(neither, nullptr), 0) << "neither a certificate nor a request";
    moduleProvider = nullptr;
}

// An EC public key is written through interface 4224 with a key identifier:
// the 20-byte identifier of the key given (handed out), or the caller's own
// when no key is given; the library must be above version 261.
TEST_F(PublicKeys, ECPublicKeysAreWrittenWithTheirIdentifier)
{
    Bytes point;
    fake::KeyObject* key = ECKey(4, &point);
    Drop dropKey{key};
    Bytes record = ECRecord(4);
    Bytes identifier(32, 0xEE);
    lib.version = 261;
    EXPECT_EQ(facade->WriteECPublicKey(key, point.data(), 152, record.data(), identifier.data()), 0);
    lib.version = 262;
    ASSERT_EQ(facade->WriteECPublicKey(key, point.data(), 152, record.data(), identifier.data()), 1);
    Bytes expected(20);
    fake::KeysLibrary::Identifier(28, point.data(), 152, expected.data(), 20);
    EXPECT_EQ(key->writtenIdentifier, expected);
    EXPECT_EQ(Bytes(identifier.begin(), identifier.begin() + 20), expected);
    EXPECT_EQ(identifier[20], 0xEE) << "five words handed out";
    EXPECT_EQ(key->writtenPoint, point);
    EXPECT_EQ(key->writtenRecord, record);

    Bytes own(32, 0x42);
    ASSERT_EQ(facade->WriteECPublicKey(key, nullptr, 0, record.data(), own.data()), 1);
    EXPECT_EQ(key->writtenIdentifier, Bytes(20, 0x42));
    auto* plain = new fake::KeyObject(lib);
    Drop dropPlain{plain};
    EXPECT_EQ(facade->WriteECPublicKey(plain, point.data(), 152, record.data(), identifier.data()), 0);
}
