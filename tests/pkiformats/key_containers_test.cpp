// Key containers made from key objects: the key-agreement container, the
// parameter object that takes over a key's provider context, the container
// chosen by a key identifier, and the check whether a key is whole enough to
// export. The curves are the CSP's standard ones (a bent curve is rejected by
// the CSP's own parameter check); the library is the test double.
#include "FailureSweep.h"
#include "KeyProviders.h"
#include "VirtualSlot.h"
#include "pkiformats/ContextHolders.h"

using namespace keytest;

namespace {

class KeyContainersFromObjects : public Providers {
protected:
    Bytes SBox(std::uint8_t fill) { return Bytes(64, fill); }
    // A key whose agreement part is on standard curve `index`, with the
    // parameters' S-box and a key S-box of its own.
    fake::KeyObject* AgreementKey(unsigned index, const Bytes& keySBox)
    {
        auto* key = new fake::KeyObject(lib);
        key->capabilities = 1;
        key->curve = StandardCurve(index);
        key->agreementParameters = new fake::AgreementParameters(lib, key->curve, keySBox.data());
        return key;
    }
    static fake::KeyContainer* AsContainer(void* made)
    {
        return dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(made));
    }
    static fake::CurveParameters* AsParameters(void* made)
    {
        return dynamic_cast<fake::CurveParameters*>(static_cast<IPKIParameters*>(made));
    }
    void SetUp() override
    {
        Providers::SetUp();
        // The containers these operations make are the double's key containers.
        lib.keyMaker = [this]() -> void* { return static_cast<IPKIKeyObject*>(new fake::KeyContainer(lib)); };
    }
};

}  // namespace

TEST(KeyContainerMakerSlots, TheAgreementPartAndContextSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_KEY_CONTAINER_MAKER_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

// Without a source the caller's records are loaded as they are. With one,
// the source's records (its curve and the parameters' S-box, not the key's
// own) are loaded and its provider context is handed over: the new object's
// flags become the source's (low three bits), and the context goes with the
// new object's earlier flags ANDed with the source's.
TEST_F(KeyContainersFromObjects, ParameterObjectFromRecordsOrFromASourceWithItsContext)
{
    const fake::Curve curve = StandardCurve(4);
    void* made = nullptr;
    ASSERT_EQ(facade->MakeDSTU4145ParameterObject(nullptr, &curve.field, &curve.point, curve.sBox, &made), 1);
    EXPECT_EQ(AsParameters(made)->set, "explicit:m=" + std::to_string(curve.field.words[DSTU4145_FIELD_M]) +
                                           ",n=" + std::to_string(curve.point.words[DSTU4145_POINT_BITS]) +
                                           ",sbox=" + fake::Hex(curve.sBox, 64));
    static_cast<IPKIObject*>(made)->Release();

    lib.prepareParameters = [](fake::CurveParameters& p) { p.OfferContext(); };
    auto* source = new fake::AgreementParameters(lib, curve, SBox(0x5C).data());
    Drop dropSource{source};
    fake::ContextRecorder* lent = source->OfferContext();
    std::uint8_t device = 0, prng = 0;
    lent->flags = 0xFB;  // only the low three bits (3) count
    lent->lends = fake::CSPContextLike{nullptr, &device, &prng};
    made = nullptr;
    ASSERT_EQ(facade->MakeDSTU4145ParameterObject(source, nullptr, nullptr, nullptr, &made), 1);
    fake::CurveParameters* parameters = AsParameters(made);
    ASSERT_NE(parameters, nullptr);
    ASSERT_NE(parameters->context, nullptr);
    EXPECT_EQ(parameters->context->flagsSet, (std::vector<std::uint32_t>{3}));
    ASSERT_TRUE(parameters->context->contextSet);
    EXPECT_EQ(parameters->context->context.hardware, &device);
    EXPECT_EQ(parameters->context->context.prng, &prng);
    EXPECT_EQ(parameters->context->contextFlags, 0u);  // the new object's flags (0) AND 3
    EXPECT_EQ(parameters->set, "explicit:m=" + std::to_string(curve.field.words[DSTU4145_FIELD_M]) +
                                   ",n=" + std::to_string(curve.point.words[DSTU4145_POINT_BITS]) +
                                   ",sbox=" + fake::Hex(curve.sBox, 64));
    static_cast<IPKIObject*>(made)->Release();

    // A source that cannot lend its context, and a context the new object
    // cannot carry, make nothing.
    lent->answer = PKI_E_FAILURE;
    made = nullptr;
    EXPECT_EQ(facade->MakeDSTU4145ParameterObject(source, nullptr, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made, nullptr);
    lent->answer = 0;
    lib.prepareParameters = nullptr;
    EXPECT_EQ(facade->MakeDSTU4145ParameterObject(source, nullptr, nullptr, nullptr, &made), 0);
    EXPECT_EQ(made, nullptr);
}

// The context flags the new object had are what the context goes with, ANDed
// with the source's.
TEST_F(KeyContainersFromObjects, TheContextGoesWithTheNewObjectsFlagsAndTheSources)
{
    lib.prepareParameters = [](fake::CurveParameters& p) {
        p.OfferContext();
        p.context->flags = 6;
    };
    auto* source = new fake::AgreementParameters(lib, StandardCurve(0), SBox(0).data());
    Drop dropSource{source};
    std::uint8_t rng = 0;
    source->OfferContext()->flags = 3;
    source->context->lends = fake::CSPContextLike{&rng, nullptr, nullptr};
    void* made = nullptr;
    ASSERT_EQ(facade->MakeDSTU4145ParameterObject(source, nullptr, nullptr, nullptr, &made), 1);
    EXPECT_EQ(AsParameters(made)->context->flagsSet, (std::vector<std::uint32_t>{3}));
    EXPECT_EQ(AsParameters(made)->context->contextFlags, 2u);
    EXPECT_EQ(AsParameters(made)->context->context.rng, &rng);
    static_cast<IPKIObject*>(made)->Release();
}

// The agreement part of a key becomes a container of its own: the private
// key on the agreement key's curve, the key's own S-box when it is not the
// curve's, and, for a key without its private key and no key-generating
// device, the agreement identifier in the container's identifier slot.
TEST_F(KeyContainersFromObjects, AgreementKeyContainers)
{
    const Bytes own = SBox(0x6D);
    auto* key = AgreementKey(2, own);
    Drop dropKey{key};
    for (int i = 0; i < 76; ++i) key->agreementPrivate.push_back(static_cast<std::uint8_t>(0x90 + i));
    key->agreementId.assign(32, 0x2A);

    void* made = nullptr;
    ASSERT_EQ(facade->MakeAgreementKeyContainer(key, &made), 1);
    fake::KeyContainer* container = AsContainer(made);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->keyValue, key->agreementPrivate);
    EXPECT_EQ(std::memcmp(&container->keyCurve.point, &key->curve.point, sizeof key->curve.point), 0);
    EXPECT_EQ(Bytes(container->keyCurve.sBox, container->keyCurve.sBox + 64),
              Bytes(key->curve.sBox, key->curve.sBox + 64));
    EXPECT_EQ(container->sBox, own);
    EXPECT_TRUE(container->signatureId.empty());
    static_cast<IPKIObject*>(made)->Release();

    // The key's S-box is the curve's: none is set; no private key: the
    // identifier comes along and the value behind the empty key is zeros.
    key->agreementParameters->Release();
    key->agreementParameters = new fake::AgreementParameters(lib, key->curve, key->curve.sBox);
    key->agreementPrivate.clear();
    made = nullptr;
    ASSERT_EQ(facade->MakeAgreementKeyContainer(key, &made), 1);
    container = AsContainer(made);
    EXPECT_TRUE(container->keyValue.empty());
    EXPECT_EQ(container->behindValue, Bytes(76, 0));
    EXPECT_TRUE(container->sBox.empty());
    EXPECT_EQ(container->signatureId, Bytes(32, 0x2A));
    static_cast<IPKIObject*>(made)->Release();

    struct Case {
        const char* what;
        std::function<void(fake::KeyObject&)> spoil;
    };
    const Case refused[] = {
        {"no identifier to go by", [](fake::KeyObject& k) { k.agreementId.clear(); }},
        {"no agreement parameters",
         [](fake::KeyObject& k) {
             k.agreementParameters->Release();
             k.agreementParameters = nullptr;
         }},
        {"a key longer than 76 bytes", [](fake::KeyObject& k) { k.agreementPrivate.assign(77, 1); }},
        {"a curve the CSP rejects",
         [this](fake::KeyObject& k) {
             fake::Curve bent = k.curve;
             bent.field.words[DSTU4145_FIELD_B] ^= 1;
             k.agreementPrivate.assign(76, 1);
             k.agreementParameters->Release();
             k.agreementParameters = new fake::AgreementParameters(lib, bent, bent.sBox);
         }},
    };
    for (const Case& c : refused) {
        auto* spoilt = AgreementKey(2, own);
        spoilt->agreementId.assign(32, 0x2A);
        c.spoil(*spoilt);
        made = nullptr;
        EXPECT_EQ(facade->MakeAgreementKeyContainer(spoilt, &made), 0) << c.what;
        EXPECT_EQ(made, nullptr) << c.what;
        spoilt->Release();
    }
}

// The position whose identifiers hold the one asked for decides: position 0
// of a DSTU 4145 key its signature part, position 1 its agreement part, an EC
// key its public key; an identifier nobody holds makes nothing.
TEST_F(KeyContainersFromObjects, ContainerForAnIdentifier)
{
    auto* key = AgreementKey(1, SBox(0x11));
    Drop dropKey{key};
    key->signatureId.assign(32, 0xA1);
    key->agreementId.assign(32, 0xB2);

    void* made = nullptr;
    ASSERT_EQ(facade->MakeContainerForIdentifier(key, key->agreementId.data(), &made), 1);
    fake::KeyContainer* container = AsContainer(made);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->signatureId, key->agreementId);
    EXPECT_EQ(container->sBox, SBox(0x11));  // the agreement key's own S-box: the agreement maker made it
    static_cast<IPKIObject*>(made)->Release();

    made = nullptr;
    ASSERT_EQ(facade->MakeContainerForIdentifier(key, key->signatureId.data(), &made), 1);
    container = AsContainer(made);
    EXPECT_EQ(container->signatureId, key->signatureId);
    EXPECT_TRUE(container->sBox.empty());
    static_cast<IPKIObject*>(made)->Release();

    const Bytes unknown(32, 0xC3);
    made = nullptr;
    EXPECT_EQ(facade->MakeContainerForIdentifier(key, unknown.data(), &made), 0);
    EXPECT_EQ(made, nullptr);

    lib.keyMaker = nullptr;  // the EC key is extracted into a key object
    Bytes point;
    auto* ec = ECKey(4, &point);
    Drop dropEC{ec};
    Bytes id(32, 0);
    fake::KeysLibrary::Identifier(28, point.data(), 152, id.data(), 20);
    made = nullptr;
    ASSERT_EQ(facade->MakeContainerForIdentifier(ec, id.data(), &made), 1);
    ASSERT_NE(made, nullptr);
    static_cast<IPKIObject*>(made)->Release();
}

// What a key needs for export, by family, and a container whole only when
// every key of it is; a reader that fails is a failure, not an answer.
TEST_F(KeyContainersFromObjects, WhetherAKeyIsIncomplete)
{
    const Bytes sameId(32, 0x44);
    struct Case {
        const char* what;
        std::function<void(fake::KeyObject&)> make;
        int result;
        std::uint32_t flag;
    };
    const auto dstu = [](fake::KeyObject& k) {
        k.capabilities = 1;
        k.dstuPrivate.assign(76, 7);
        k.agreementPrivate.assign(76, 8);
    };
    const Case cases[] = {
        {"both private keys", dstu, 1, 0},
        {"no signature private key",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.dstuPrivate.clear();
         },
         1, 1},
        {"no agreement key, one identifier for both",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.agreementPrivate.clear();
             k.signatureId = k.agreementId = sameId;
         },
         1, 0},
        {"no agreement key, two identifiers",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.agreementPrivate.clear();
             k.signatureId = sameId;
             k.agreementId.assign(32, 0x45);
         },
         1, 1},
        {"no agreement key, no agreement identifier",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.agreementPrivate.clear();
             k.signatureId = sameId;
         },
         1, 1},
        {"agreement key absent (11)",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.agreementAnswer = PKI_E_ABSENT;
             k.signatureId = k.agreementId = sameId;
         },
         1, 0},
        {"agreement reader fails",
         [&](fake::KeyObject& k) {
             dstu(k);
             k.agreementAnswer = PKI_E_FAILURE;
         },
         0, 9},
        {"RSA private key", [](fake::KeyObject& k) { k.capabilities = 2; }, 1, 0},
        {"RSA private key absent",
         [](fake::KeyObject& k) {
             k.capabilities = 2;
             k.rsaAnswer = PKI_E_ABSENT;
         },
         1, 1},
        {"RSA reader fails",
         [](fake::KeyObject& k) {
             k.capabilities = 2;
             k.rsaAnswer = PKI_E_FAILURE;
         },
         0, 9},
        {"neither a key nor a container", [](fake::KeyObject&) {}, 0, 9},
    };
    for (const Case& c : cases) {
        auto* key = new fake::KeyObject(lib);
        c.make(*key);
        std::uint32_t flag = 9;
        EXPECT_EQ(facade->IsKeyIncomplete(key, &flag), c.result) << c.what;
        EXPECT_EQ(flag, c.flag) << c.what;
        key->Release();
    }

    // An EC key is whole when it has a key size.
    Bytes point;
    auto* ec = ECKey(4, &point);
    std::uint32_t flag = 9;
    EXPECT_EQ(facade->IsKeyIncomplete(ec, &flag), 1);
    EXPECT_EQ(flag, 0u);
    ec->Release();

    auto* container = new fake::KeyContainer(lib);
    Drop dropContainer{container};
    flag = 9;
    EXPECT_EQ(facade->IsKeyIncomplete(container, &flag), 1);  // no keys: nothing missing
    EXPECT_EQ(flag, 0u);
    auto* whole = new fake::KeyObject(lib);
    dstu(*whole);
    container->Add(whole, 1);
    auto* rsa = new fake::KeyObject(lib);
    rsa->capabilities = 2;
    container->Add(rsa, 2);
    EXPECT_EQ(facade->IsKeyIncomplete(container, &flag), 1);
    EXPECT_EQ(flag, 0u);
    rsa->rsaAnswer = PKI_E_ABSENT;
    EXPECT_EQ(facade->IsKeyIncomplete(container, &flag), 1);
    EXPECT_EQ(flag, 1u);
    rsa->rsaAnswer = PKI_E_FAILURE;
    flag = 9;
    EXPECT_EQ(facade->IsKeyIncomplete(container, &flag), 0);
    EXPECT_EQ(flag, 9u);
}

// A failure or a throw at any library step leaves nothing behind; the
// container and parameter makers need every step they take.
TEST(KeyContainersFromObjectsSweep, ParameterObjectAndIncompleteness)
{
    fake::SweepFailures(
        "MakeDSTU4145ParameterObject",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::Curve curve;
            curve.field.words[DSTU4145_FIELD_M] = 163;
            lib.makers[{PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS}] = [&lib]() -> void* {
                return static_cast<IPKIParameters*>(new fake::CurveParameters(lib, fake::Curve{}));
            };
            void* out = nullptr;
            int rc = f.MakeDSTU4145ParameterObject(nullptr, &curve.field, &curve.point, curve.sBox, &out);
            if (out) static_cast<IPKIObject*>(out)->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "IsKeyIncomplete",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* key = new fake::KeyObject(lib);
            key->capabilities = 1;
            key->dstuPrivate.assign(76, 3);
            key->signatureId = key->agreementId = std::vector<std::uint8_t>(32, 5);
            std::uint32_t flag = 9;
            int rc = f.IsKeyIncomplete(key, &flag);
            key->Release();
            return rc == 1 && flag == 0 ? 1 : 0;
        },
        false);
}

// A failure or a throw at any library step of the agreement container maker
// (every step of which it needs) and of the choice by identifier leaves
// nothing behind and hands nothing out.
TEST_F(KeyContainersFromObjects, FailureSweepOfTheContainerMakers)
{
    auto* key = AgreementKey(3, SBox(0x6D));
    Drop dropKey{key};
    key->agreementId.assign(32, 0x2A);  // no private key: the identifier is copied too
    key->signatureId.assign(32, 0x1A);  // position 0 must answer before position 1 is asked
    struct Op {
        const char* name;
        bool everyStepNeeded;
        std::function<int(void**)> run;
    };
    const Op ops[] = {
        {"MakeAgreementKeyContainer", true, [&](void** made) { return facade->MakeAgreementKeyContainer(key, made); }},
        {"MakeContainerForIdentifier", false,
         [&](void** made) { return facade->MakeContainerForIdentifier(key, key->agreementId.data(), made); }},
    };
    const int live = lib.LiveObjects();
    for (const Op& op : ops) {
        void* made = nullptr;
        const int before = lib.Calls();
        ASSERT_EQ(op.run(&made), 1) << op.name;
        static_cast<IPKIObject*>(made)->Release();
        const int calls = lib.Calls() - before;
        for (bool throws : {false, true}) {
            for (int k = 1; k <= calls; ++k) {
                const std::string where = std::string(op.name) + " k=" + std::to_string(k) + (throws ? " throw" : "");
                const std::size_t at = lib.log.size() + static_cast<std::size_t>(k) - 1;
                lib.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
                made = nullptr;
                int rc = 9;
                EXPECT_NO_THROW(rc = op.run(&made)) << where;
                if (made) static_cast<IPKIObject*>(made)->Release();
                ASSERT_LT(at, lib.log.size()) << where;
                const std::string& failed = lib.log[at];
                // Releases, and the queries for interfaces an object may lack.
                const bool optional = failed.find(":1(") != std::string::npos || failed.rfind("0:7(", 0) == 0 ||
                                      failed.find(":2(") != std::string::npos;
                if (op.everyStepNeeded && !optional) {
                    EXPECT_EQ(rc, 0) << where << " failed " << failed;
                    EXPECT_EQ(made, nullptr) << where;
                }
                EXPECT_EQ(lib.LiveObjects(), live) << where;
                EXPECT_EQ(lib.LiveBlobs(), 0u) << where;
                EXPECT_EQ(lib.unwipedFrees, 0) << where;
            }
        }
    }
}

// The request is signed through the parameter object it was built with: the
// curve number less one, the private key and, in the DSTU 7564 form, a
// 32-byte hash; a caller's holder first lends that object its context (the
// object's flags become the holder's, the context goes with the object's
// earlier flags ANDed with the holder's).
TEST_F(KeyContainersFromObjects, SignKeyRequestThroughTheParameterObject)
{
    const fake::Curve curve = StandardCurve(3);
    const std::uint32_t n = curve.point.words[DSTU4145_POINT_BITS];
    Bytes privateKey(76), publicKey(76);
    for (int i = 0; i < 76; ++i) {
        privateKey[i] = static_cast<std::uint8_t>(0x30 + i);
        publicKey[i] = static_cast<std::uint8_t>(0xC0 ^ i);
    }
    const std::string explicitCurve =
        "explicit:m=" + std::to_string(curve.field.words[DSTU4145_FIELD_M]) + ",n=" + std::to_string(n);
    const std::string key = fake::Hex(privateKey.data(), 76);
    std::uint8_t device = 0;
    CSPContextHolder lending{};
    lending.usable = 1;
    lending.csp = csp;
    lending.contextPresent = 1;
    lending.contextFlags = 3;
    lending.context.hardware = reinterpret_cast<ICSPHardware*>(&device);  // only passed on, never called
    CSPContextHolder broken = lending;
    broken.usable = 0;

    struct Case {
        const char* what;
        std::uint32_t dstu7564;
        CSPContextHolder* holder;
        bool parametersTakeContext;
        std::uint32_t useOwnContext;
        std::string expected;  // the signing note; empty: refused
    };
    const Case cases[] = {
        {"no holder", 0, nullptr, true, 0,
         "sign=" + std::to_string(n - 1) + "," + key + "," + explicitCurve + ",sbox=" + fake::Hex(curve.sBox, 64)},
        {"DSTU 7564", 1, nullptr, false, 0, "sign=" + std::to_string(n - 1) + "," + key + ",hash=32," + explicitCurve},
        {"a device's context", 0, &lending, true, 0,
         "sign=" + std::to_string(n - 1) + "," + key + "," + explicitCurve + ",sbox=" + fake::Hex(curve.sBox, 64) +
             ",flags=3,context=1hw"},
        {"a holder that cannot call", 0, &broken, true, 0, ""},
        {"a context the parameters cannot take", 0, &lending, false, 0, ""},
        {"... which the provider's own context replaces", 0, &lending, false, 1,
         "sign=" + std::to_string(n - 1) + "," + key + "," + explicitCurve + ",sbox=" + fake::Hex(curve.sBox, 64)},
    };
    lib.version = 272;
    for (const Case& c : cases) {
        lib.prepareParameters = nullptr;
        if (c.parametersTakeContext)
            lib.prepareParameters = [](fake::CurveParameters& p) {
                p.OfferContext();
                p.context->flags = 5;
            };
        lending.useOwnContext = c.useOwnContext;
        PKIBlob out{0, nullptr};
        const int rc = facade->SignKeyRequest(privateKey.data(), publicKey.data(), &curve.field, &curve.point, 0, 1, 3,
                                              c.dstu7564, curve.sBox, nullptr, c.holder, &out);
        if (c.expected.empty()) {
            EXPECT_EQ(rc, 0) << c.what;
            EXPECT_EQ(out.data, nullptr) << c.what;
            continue;
        }
        ASSERT_EQ(rc, 1) << c.what;
        const std::string text(reinterpret_cast<const char*>(out.data), out.length);
        const std::string note = c.expected + ";";
        ASSERT_GE(text.size(), note.size()) << c.what;
        EXPECT_EQ(text.substr(text.size() - note.size()), note) << c.what;
        facade->ReleaseBlob(&out);
    }

    DSTU4145PointRecord noCurve = curve.point;
    noCurve.words[DSTU4145_POINT_BITS] = 0;
    PKIBlob out{0, nullptr};
    EXPECT_EQ(facade->SignKeyRequest(privateKey.data(), publicKey.data(), &curve.field, &noCurve, 0, 1, 3, 0,
                                     curve.sBox, nullptr, nullptr, &out),
              0);
}
