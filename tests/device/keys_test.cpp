// Key pairs on the key: parameter records, generation on the standard curves,
// signing checked with the DSTU 4145 engine, the key cache, and the chunking
// of every multi-block command.
#include <cstring>
#include <functional>

#include "DeviceTestSupport.h"
#include "StandardParameters.h"

namespace devtest {
namespace {

class KeysTest : public DeviceTest {
protected:
    static std::vector<uint8_t> Hash(size_t length, uint8_t seed)
    {
        std::vector<uint8_t> h(length);
        for (size_t i = 0; i < length; ++i) h[i] = static_cast<uint8_t>(seed + 37 * i);
        return h;
    }
    static KeyCacheRecord* KeyRecord(uint32_t serial) { return qvkdev::FindKeyRecord(serial); }
};

TEST_F(KeysTest, ParameterRecordMapsTheCurveRecordsBothWays)
{
    CSPParameters store;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    ASSERT_TRUE(store.GetStandardCurve(1, 9, &field, &point));
    DeviceKeyParameters p;
    MakeDeviceKeyParameters(&field, &point, &p);
    EXPECT_EQ(p.m, 431u);
    EXPECT_EQ(p.k, 5u);
    EXPECT_EQ(p.j, 3u);
    EXPECT_EQ(p.l, 1u);
    EXPECT_EQ(p.a, 1u);
    EXPECT_EQ(p.cofactor, field.words[24]);
    EXPECT_EQ(std::memcmp(p.b, reinterpret_cast<const uint8_t*>(field.words) + 4, 72), 0);
    EXPECT_EQ(std::memcmp(p.n, &point.words[19], 72), 0);
    EXPECT_EQ(std::memcmp(p.p, &point.words[0], 72), 0);

    DSTU4145FieldRecord f2;
    DSTU4145PointRecord p2;
    SplitDeviceKeyParameters(&p, &f2, &p2);
    DSTU4145FieldRecord expectedField = field;
    DSTU4145PointRecord expectedPoint = point;
    expectedField.words[19] = 0;
    expectedPoint.words[18] = expectedPoint.words[37] = expectedPoint.words[38] = 0;
    EXPECT_EQ(std::memcmp(&f2, &expectedField, sizeof(f2)), 0);
    EXPECT_EQ(std::memcmp(&p2, &expectedPoint, sizeof(p2)), 0);

    // Without a point record the last 144 bytes stay zero; without both, all.
    MakeDeviceKeyParameters(&field, nullptr, &p);
    const uint8_t zeros[240] = {};
    EXPECT_EQ(p.m, 431u);
    EXPECT_EQ(std::memcmp(p.bytes() + 96, zeros, 144), 0);
    MakeDeviceKeyParameters(nullptr, nullptr, &p);
    EXPECT_EQ(std::memcmp(p.bytes(), zeros, 240), 0);
}

// Generation on each standard curve; the public key read back verifies the
// key's signatures under the engine, for every hash size the key takes.
TEST_F(KeysTest, SignatureKeysOnTheTenStandardCurvesSignWhatTheEngineVerifies)
{
    AddKey(501, 17, 0);
    AddKey(502, 18);
    for (uint32_t serial : {501u, 502u}) {
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        for (unsigned curve = 0; curve < 10; ++curve) {
            SCOPED_TRACE("serial " + std::to_string(serial) + " curve " + std::to_string(curve));
            const DeviceKeyParameters parameters = StandardParameters(curve);
            auto engine = EngineFor(parameters);
            ASSERT_TRUE(engine);
            ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
            uint8_t readBack[240], publicKey[64];
            ASSERT_EQ(GetSignatureKeyParameters(c.get(), readBack), 0u);
            EXPECT_EQ(std::memcmp(readBack, parameters.bytes(), 240), 0);
            ASSERT_EQ(GetSignaturePublicKey(c.get(), publicKey), 0u);
            for (size_t i = engine->FieldBytes(); i < 64; ++i) ASSERT_EQ(publicKey[i], 0) << i;
            ASSERT_EQ(engine->CheckPublicKey(dstu4145::ByteSpan(publicKey, 64)), dstu4145::Result::Ok);

            std::vector<int> sizes = {32};
            if (serial == 502) sizes = {32, 48, 64};
            for (int size : sizes) {
                const auto hash = Hash(size, static_cast<uint8_t>(curve + size));
                uint8_t signature[144];
                ASSERT_EQ(SignHashOnDevice(c.get(), hash.data(), size, signature, 0), 0u) << size;
                EXPECT_EQ(engine->Verify(hash, dstu4145::ByteSpan(publicKey, 64), dstu4145::ByteSpan(signature, 144)),
                          dstu4145::Result::Ok)
                    << size;
                auto other = hash;
                other[0] ^= 1;
                EXPECT_EQ(engine->Verify(other, dstu4145::ByteSpan(publicKey, 64), dstu4145::ByteSpan(signature, 144)),
                          dstu4145::Result::BadSignature);
            }
            uint8_t signature[144];
            const auto hash = Hash(32, 7);
            ASSERT_EQ(SignHash32OnDevice(c.get(), hash.data(), signature, 0), 0u);
            EXPECT_EQ(engine->Verify(hash, dstu4145::ByteSpan(publicKey, 64), dstu4145::ByteSpan(signature, 144)),
                      dstu4145::Result::Ok);
        }
    }
}

TEST_F(KeysTest, SignArgumentChecks)
{
    const std::string r17 = AddKey(503, 17, 0);
    AddKey(504, 18);
    Context old = OpenLoggedIn(503), fresh = OpenLoggedIn(504);
    ASSERT_TRUE(old && fresh);
    const DeviceKeyParameters parameters = StandardParameters(0);
    ASSERT_EQ(GenerateSignatureKey(fresh.get(), parameters.bytes(), 0), 0u);
    uint8_t hash[64] = {1}, signature[144];
    pcsctap::Reset();
    EXPECT_EQ(SignHashOnDevice(fresh.get(), hash, 40, signature, 0), 8u);
    EXPECT_EQ(SignHashOnDevice(fresh.get(), hash, 32, signature, 0x20), 8u);
    EXPECT_EQ(SignHashOnDevice(fresh.get(), hash, 32, signature, 0x40), 8u);
    EXPECT_EQ(SignHashOnDevice(old.get(), hash, 48, signature, 0), 99u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    // The size code, the chunk index and the caller's 0x80 share the parameter;
    // every chunk carries the whole hash.
    EXPECT_EQ(SignHashOnDevice(fresh.get(), hash, 48, signature, 0x80), 26u) << "no key-agreement key to sign with";
    pcsctap::Reset();
    ASSERT_EQ(SignHashOnDevice(fresh.get(), hash, 48, signature, 0), 0u);
    EXPECT_EQ(Parameters(KEYCMD_SIGN_HASH), (std::vector<int>{0x20, 0x21, 0x22}));
    for (const auto& a : pcsctap::Apdus()) {
        DeviceBlock b{};
        b.direction = 1;  // covered by the MAC, not sent
        std::memcpy(b.bytes() + 1, a.data() + 5, 75);
        ASSERT_EQ(VerifyBlock(fresh.get(), &b), 0u);
        EXPECT_EQ(std::memcmp(b.data, hash, 48), 0);
    }
}

// A busy key is waited out, chunk by chunk, within the retry budget.
TEST_F(KeysTest, BusySigningAndAgreementAreRetriedWithinTheBudget)
{
    const std::string reader = AddKey(505, 18);
    Context c = OpenLoggedIn(505);
    ASSERT_TRUE(c);
    const DeviceKeyParameters parameters = StandardParameters(1);
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT), 0u);
    uint8_t peer[72];
    ASSERT_EQ(GetAgreementPublicKey(c.get(), peer), 0u);
    uint8_t hash[32] = {9}, signature[144];

    pd::GetKey(reader)->faults().busyAnswers = 3;
    pcsctap::Reset();
    ASSERT_EQ(SignHash32OnDevice(c.get(), hash, signature, 0), 0u);
    EXPECT_EQ(Parameters(KEYCMD_SIGN_HASH), (std::vector<int>{0, 0, 0, 0, 1, 2})) << "the same chunk again";

    pd::GetKey(reader)->faults().busyAnswers = 2;
    pcsctap::Reset();
    const uint8_t ukm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(AgreeKeyOnDevice(c.get(), peer, ukm, 8, 0xC0), 0u);
    EXPECT_EQ(Parameters(KEYCMD_AGREE_KEY), (std::vector<int>{0xC0, 0xC0, 0xC0, 0xC1, 0xC2}));

    // A key that stays busy ends both within the budget instead of forever.
    pd::GetKey(reader)->faults().busy = true;
    for (int op = 0; op < 3; ++op) {
        const auto start = std::chrono::steady_clock::now();
        uint32_t r = 0;
        if (op == 0) r = SignHash32OnDevice(c.get(), hash, signature, 0);
        if (op == 1) r = AgreeKeyOnDevice(c.get(), peer, ukm, 8, 0xC0);
        if (op == 2) r = AgreeKeyOnDeviceNew(c.get(), peer, ukm, 8, 0x80);
        EXPECT_EQ(r, 24u) << op;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << op;
    }
}

// The first answer of a signing rewritten under a valid MAC of the session
// key, as the device-answer fuzz target found it (an old-form key, status 24
// and 0x18 bytes, mode 1): a busy answer the key itself sends, so the layer
// asks again and takes the key's next answer, a signature that verifies. Any
// other status under the MAC ends the signing with it.
TEST_F(KeysTest, AStatusUnderTheSessionMacIsWaitedOutWhenBusyAndEndsTheSigningOtherwise)
{
    struct Case {
        int version;
        uint8_t status;
        uint8_t mode;
        uint32_t expected;
    };
    const Case cases[] = {{11, 24, 1, 0}, {18, 24, 2, 0}, {11, 25, 1, 25}, {18, 35, 2, 35}};
    uint32_t serial = 520;
    for (const Case& k : cases) {
        SCOPED_TRACE("version " + std::to_string(k.version) + " status " + std::to_string(k.status));
        AddKey(++serial, k.version, k.version >= 18 ? 0x200 : 0);
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        const DeviceKeyParameters parameters = StandardParameters(0);
        auto engine = EngineFor(parameters);
        ASSERT_TRUE(engine);
        ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
        uint8_t publicKey[64];
        ASSERT_EQ(GetSignaturePublicKey(c.get(), publicKey), 0u);

        int answers = 0;
        DeviceContext* context = c.get();
        pcsctap::SetAnswerHook([&](const std::vector<uint8_t>&, std::vector<uint8_t>& answer) {
            if (answers++ != 0) return;
            const size_t blockBytes = qvkdev::BlockSizeFor(context->version) - 1;
            ASSERT_GE(answer.size(), blockBytes);
            DeviceBlock block{};
            block.direction = 2;
            std::memcpy(block.bytes() + 1, answer.data(), blockBytes);
            ASSERT_EQ(VerifyBlock(context, &block), 0u);
            block.parameter = k.status;
            std::memset(block.data, 0x18, sizeof block.data);
            ProtectBlock(context, &block, k.mode);
            std::memcpy(answer.data(), block.bytes() + 1, blockBytes);
        });
        const auto hash = Hash(32, 0x18);
        uint8_t signature[144] = {};
        const uint32_t r = SignHashOnDevice(c.get(), hash.data(), 32, signature, 0);
        pcsctap::SetAnswerHook({});
        EXPECT_EQ(r, k.expected);
        if (r == 0) {
            EXPECT_EQ(engine->Verify(hash, dstu4145::ByteSpan(publicKey, 64), dstu4145::ByteSpan(signature, 144)),
                      dstu4145::Result::Ok);
        }
    }
}

TEST_F(KeysTest, AgreementRequestLayoutAndLimits)
{
    AddKey(506, 17, 0);
    AddKey(507, 18);
    Context old = OpenLoggedIn(506), fresh = OpenLoggedIn(507);
    ASSERT_TRUE(old && fresh);
    uint8_t peer[72];
    for (int i = 0; i < 72; ++i) peer[i] = static_cast<uint8_t>(0x80 + i);
    uint8_t data[200];
    for (int i = 0; i < 200; ++i) data[i] = static_cast<uint8_t>(i + 1);

    pcsctap::Reset();
    EXPECT_EQ(AgreeKeyOnDevice(old.get(), peer, data, 96, 0), 8u);
    EXPECT_EQ(AgreeKeyOnDevice(old.get(), peer, data, -1, 0), 8u);
    EXPECT_EQ(AgreeKeyOnDeviceNew(fresh.get(), peer, data, 184, 0), 8u);
    EXPECT_EQ(AgreeKeyOnDeviceNew(fresh.get(), peer, data, 0xFFFFFFC0u, 0), 8u) << "73 + n wraps around";
    EXPECT_EQ(AgreeKeyOnDeviceNew(old.get(), peer, data, 8, 0), 99u);
    EXPECT_TRUE(pcsctap::Apdus().empty());

    // The old request: peer key, UKM length, UKM, zeros to byte 167. The key
    // refuses the made-up peer key only once the whole request is in.
    struct Case {
        DeviceContext* c;
        std::function<uint32_t()> send;
        int command;
        size_t length;
        std::vector<int> parameters;
    };
    const Case cases[] = {
        {old.get(),
         [&] { return AgreeKeyOnDevice(old.get(), peer, data, 8, 0xC0); },
         KEYCMD_AGREE_KEY,
         168,
         {0xC0, 0xC1, 0xC2}},
        {fresh.get(),
         [&] { return AgreeKeyOnDevice(fresh.get(), peer, data, 8, 0x80); },
         KEYCMD_AGREE_KEY,
         168,
         {0x80, 0x81, 0x82}},
        {fresh.get(),
         [&] { return AgreeKeyOnDeviceNew(fresh.get(), peer, data, 183, 0x80); },
         KEYCMD_AGREE_KEY_NEW,
         256,
         {0x80, 0x81, 0x82, 0x83}},
    };
    for (const Case& k : cases) {
        pcsctap::Reset();
        k.send();
        EXPECT_EQ(Parameters(k.command), k.parameters);
        std::vector<uint8_t> sent;
        const uint32_t size = BlockDataSize(k.c) == 56 ? 64 : 76;
        for (const auto& a : pcsctap::Apdus()) {
            DeviceBlock b{};
            b.direction = 1;
            std::memcpy(b.bytes() + 1, a.data() + 5, size - 1);
            ASSERT_EQ(VerifyBlock(k.c, &b), 0u);
            sent.insert(sent.end(), b.data, b.data + BlockDataSize(k.c));
        }
        ASSERT_GE(sent.size(), k.length);
        EXPECT_EQ(std::memcmp(sent.data(), peer, 72), 0);
        const size_t n = k.length == 168 ? 8 : 183;
        EXPECT_EQ(sent[72], n);
        EXPECT_EQ(std::memcmp(sent.data() + 73, data, n), 0);
        for (size_t i = 73 + n; i < sent.size(); ++i) EXPECT_EQ(sent[i], 0) << i;
    }
}

// The chunk counts and parameter bytes of every multi-block command.
TEST_F(KeysTest, ChunkCountsAndParameterBytesOfOldAndNewKeys)
{
    AddKey(508, 17, 0);
    AddKey(509, 18);
    const DeviceKeyParameters parameters = StandardParameters(0);
    uint8_t privateKey[72] = {};
    privateKey[0] = 5;
    uint8_t buffer[1024] = {};
    uint8_t out[240];
    struct Case {
        const char* name;
        int command;
        std::function<uint32_t(DeviceContext*)> run;
        std::vector<int> oldParameters, newParameters;  // empty new: old keys only
    };
    const std::vector<Case> cases = {
        {"304-byte signature key write",
         KEYCMD_WRITE_SIGN_KEY,
         [&](DeviceContext* c) { return ImportSignatureKey(c, parameters.bytes(), privateKey, 0); },
         {0, 1, 2, 3, 4, 5},
         {0, 1, 2, 3, 4}},
        {"312-byte agreement key write",
         KEYCMD_WRITE_AGREE_KEY,
         [&](DeviceContext* c) { return ImportAgreementKey(c, parameters.bytes(), privateKey, 0); },
         {0, 1, 2, 3, 4, 5},
         {0, 1, 2, 3, 4}},
        {"signature key generation",
         KEYCMD_GENERATE_SIGN_KEY,
         [&](DeviceContext* c) { return GenerateSignatureKey(c, parameters.bytes(), 0x80); },
         {0x80, 0x81, 0x82, 0x83, 0x84},
         {0x80, 0x81, 0x82, 0x83}},
        {"its parameters read back",
         KEYCMD_READ_SIGN_KEY_PARAMS,
         [&](DeviceContext* c) {
             InvalidateSignatureKeyParametersCache(c);
             return LoadSignatureKeyParameters(c, out);
         },
         {0, 1, 2, 3, 4},
         {0, 1, 2, 3}},
        {"its public key read back",
         KEYCMD_READ_SIGN_PUBLIC_KEY,
         [&](DeviceContext* c) {
             InvalidateSignaturePublicKeyCache(c);
             return LoadSignaturePublicKey(c, out);
         },
         {0, 1},
         {0}},
        {"private key export",
         KEYCMD_EXPORT_SIGN_PRIVATE_KEY,
         [&](DeviceContext* c) { return ExportSignaturePrivateKey(c, out); },
         {0, 1},
         {0}},
        {"agreement key generation",
         KEYCMD_GENERATE_AGREE_KEY,
         [&](DeviceContext* c) { return GenerateAgreementKey(c, parameters.bytes(), 0x20); },
         {0x20, 0x21, 0x22, 0x23, 0x24},
         {0x20, 0x21, 0x22, 0x23}},
        {"agreement public key read back",
         KEYCMD_READ_AGREE_PUBLIC_KEY,
         [&](DeviceContext* c) {
             InvalidateAgreementPublicKeyCache(c);
             return LoadAgreementPublicKey(c, out);
         },
         {0, 1},
         {0, 1}},
        {"parameters from chunk 1 on",
         KEYCMD_READ_AGREE_KEY_PARAMS,
         [&](DeviceContext* c) { return ReadAgreementKeyParameters(c, 1, 0, out); },
         {1, 2, 3, 4},
         {1, 2, 3}},
        {"first parameter chunk only",
         KEYCMD_READ_AGREE_KEY_PARAMS,
         [&](DeviceContext* c) { return ReadAgreementKeyParameters(c, 0, 1, out); },
         {0},
         {0}},
        {"signing with the agreement key",
         KEYCMD_SIGN_HASH,
         [&](DeviceContext* c) { return SignHash32OnDevice(c, buffer, out, 0x80); },
         {0x80, 0x81, 0x82},
         {0x80, 0x81, 0x82}},
        {"S-box table 3",
         KEYCMD_SET_SBOX,
         [&](DeviceContext* c) { return SetSubstitutionTable(c, 3, buffer); },
         {24, 25},
         {24}},
        {"S-box table 1",
         KEYCMD_SET_SBOX,
         [&](DeviceContext* c) { return SetSubstitutionTable(c, 1, buffer); },
         {8, 9},
         {8}},
        {"on-key wrap",
         KEYCMD_WRAP_KEY,
         [&](DeviceContext* c) {
             uint8_t w[96];
             return WrapKeyOnDevice(c, buffer, w, 1);
         },
         {},
         {0, 1}},
        {"on-key unwrap",
         KEYCMD_UNWRAP_KEY,
         [&](DeviceContext* c) { return UnwrapKeyOnDevice(c, buffer, out, 1); },
         {},
         {0, 1}},
        {"wide table",
         KEYCMD_WRITE_TABLE_NEW,
         [&](DeviceContext* c) { return WriteTableNew(c, buffer); },
         {},
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
    };
    for (uint32_t serial : {508u, 509u}) {
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        const bool isNew = serial == 509;
        for (const Case& k : cases) {
            const auto& expected = isNew ? k.newParameters : k.oldParameters;
            if (expected.empty()) continue;
            pcsctap::Reset();
            k.run(c.get());
            EXPECT_EQ(Parameters(k.command), expected) << k.name << (isNew ? " (new key)" : " (old key)");
        }
    }
}

TEST_F(KeysTest, UncachedParameterReadsStayInsideTheRecord)
{
    AddKey(510, 17, 0);
    AddKey(511, 18);
    const DeviceKeyParameters parameters = StandardParameters(4);
    for (uint32_t serial : {510u, 511u}) {
        Context c = OpenLoggedIn(serial);
        ASSERT_TRUE(c);
        ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
        const uint32_t d = BlockDataSize(c.get());
        // A guard after the 240 bytes shows any write past them.
        uint8_t buffer[240 + 16];
        std::memset(buffer, 0xEE, sizeof(buffer));
        ASSERT_EQ(ReadSignatureKeyParameters(c.get(), 0, 1, buffer), 0u);
        EXPECT_EQ(std::memcmp(buffer, parameters.bytes(), d), 0);
        EXPECT_EQ(buffer[d], 0xEE) << "one chunk only";
        std::memset(buffer, 0xEE, sizeof(buffer));
        ASSERT_EQ(ReadSignatureKeyParameters(c.get(), 1, 0, buffer), 0u);
        EXPECT_EQ(buffer[d - 1], 0xEE);
        EXPECT_EQ(std::memcmp(buffer + d, parameters.bytes() + d, 240 - d), 0);
        // First chunks that start past the record: 5 and on (old), 4 and on (new).
        const int firstBeyond = d == 56 ? 5 : 4;
        std::memset(buffer, 0xEE, sizeof(buffer));
        ASSERT_EQ(ReadSignatureKeyParameters(c.get(), firstBeyond - 1, 0, buffer), 0u);
        pcsctap::Reset();
        for (int first : {firstBeyond, firstBeyond + 1, 255, -1}) {
            EXPECT_EQ(ReadSignatureKeyParameters(c.get(), first, 0, buffer), 8u) << first;
            EXPECT_EQ(ReadAgreementKeyParameters(c.get(), first, 1, buffer), 8u) << first;
        }
        EXPECT_TRUE(pcsctap::Apdus().empty());
        for (int i = 240; i < 256; ++i) EXPECT_EQ(buffer[i], 0xEE) << i;
    }
}

// The three cache states, and what each lifecycle operation does to them.
TEST_F(KeysTest, KeyCacheFollowsGenerationImportAndDestruction)
{
    const std::string reader = AddKey(512, 18);
    Context c = OpenLoggedIn(512);
    ASSERT_TRUE(c);
    KeyCacheRecord* r = KeyRecord(512);
    ASSERT_NE(r, nullptr);
    // Opened without keys: all four items valid and absent, answered from the cache.
    pcsctap::Reset();
    uint8_t out[240];
    EXPECT_EQ(GetAgreementPublicKey(c.get(), out), 26u);
    EXPECT_EQ(GetSignatureKeyParameters(c.get(), out), 26u);
    EXPECT_TRUE(pcsctap::Apdus().empty());

    const DeviceKeyParameters parameters = StandardParameters(2);
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
    EXPECT_EQ(r->signKeyParametersPresent & r->signKeyParametersValid & r->signPublicKeyPresent & r->signPublicKeyValid,
              1u);
    EXPECT_EQ(std::memcmp(r->signKeyParameters, parameters.bytes(), 240), 0);
    // A present item answers from the cache; a null output copies nothing.
    pcsctap::Reset();
    EXPECT_EQ(GetSignaturePublicKey(c.get(), nullptr), 0u);
    EXPECT_EQ(GetSignaturePublicKey(c.get(), out), 0u);
    EXPECT_EQ(std::memcmp(out, r->signPublicKey, 64), 0);
    EXPECT_TRUE(pcsctap::Apdus().empty());

    // With 0x40 the agreement pair changes too: its items must be asked again.
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT), 0u);
    EXPECT_EQ(r->agreementPublicKeyValid, 0u);
    EXPECT_EQ(r->agreementKeyParametersValid, 0u);
    uint8_t signPublic[64], agreePublic[72];
    ASSERT_EQ(GetSignaturePublicKey(c.get(), signPublic), 0u);
    ASSERT_EQ(GetAgreementPublicKey(c.get(), agreePublic), 0u);
    EXPECT_EQ(std::memcmp(signPublic, agreePublic, 64), 0) << "one pair serves both";

    // Importing replaces the pair in every process's view.
    uint8_t privateKey[72] = {0x11, 0x22, 0x33};
    ASSERT_EQ(ImportAgreementKey(c.get(), parameters.bytes(), privateKey, 0), 0u);
    EXPECT_EQ(r->agreementPublicKeyValid, 0u);
    ASSERT_EQ(GetAgreementPublicKey(c.get(), agreePublic), 0u);
    EXPECT_NE(std::memcmp(signPublic, agreePublic, 64), 0);
    auto engine = EngineFor(parameters);
    dstu4145::Bytes expected;
    ASSERT_EQ(engine->PublicFromPrivate(dstu4145::ByteSpan(privateKey, engine->OrderBytes()), expected),
              dstu4145::Result::Ok);
    EXPECT_EQ(std::memcmp(agreePublic, expected.data(), expected.size()), 0);
    ASSERT_EQ(ImportSignatureKey(c.get(), parameters.bytes(), privateKey, DEVICE_KEY_ALSO_AGREEMENT), 0u);
    EXPECT_EQ(r->signPublicKeyValid | r->agreementPublicKeyValid, 0u);
    ASSERT_EQ(GetSignaturePublicKey(c.get(), signPublic), 0u);
    EXPECT_EQ(std::memcmp(signPublic, expected.data(), expected.size()), 0);

    // Destroying the agreement pair makes its items absent and leaves the others.
    ASSERT_EQ(DestroyAgreementKey(c.get()), 0u);
    EXPECT_EQ(r->agreementPublicKeyValid, 1u);
    EXPECT_EQ(r->agreementPublicKeyPresent, 0u);
    EXPECT_EQ(r->agreementKeyParametersPresent, 0u);
    EXPECT_EQ(r->signPublicKeyPresent, 1u);
    pcsctap::Reset();
    EXPECT_EQ(GetAgreementPublicKey(c.get(), agreePublic), 26u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
    ASSERT_EQ(DestroySignatureKey(c.get()), 0u);
    EXPECT_EQ(GetSignaturePublicKey(c.get(), signPublic), 26u);

    // The key itself says a pair is missing: recorded as absent.
    r->agreementPublicKeyValid = 0;
    EXPECT_EQ(LoadAgreementPublicKey(c.get(), nullptr), 26u);
    EXPECT_EQ(r->agreementPublicKeyValid, 1u);
}

TEST_F(KeysTest, KeyCacheWithoutARecordForTheKeyAnswers4)
{
    AddKey(515, 18);
    Context c = Open(515);
    ASSERT_TRUE(c);
    KeyCacheRecord* view = qvkdev::KeyCacheView();
    ASSERT_NE(view, nullptr);
    for (uint32_t i = 0; i < DEVICE_CACHE_RECORDS; ++i) view[i].serial = 900000 + i;  // 128 other keys
    pcsctap::Reset();
    uint8_t out[240];
    EXPECT_EQ(GetSignatureKeyParameters(c.get(), out), 4u);
    EXPECT_TRUE(pcsctap::Apdus().empty());
}

TEST_F(KeysTest, ExportOnlyOfAnExportableKey)
{
    AddKey(513, 17, 0);
    Context c = OpenLoggedIn(513);
    ASSERT_TRUE(c);
    const DeviceKeyParameters parameters = StandardParameters(3);
    auto engine = EngineFor(parameters);
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), 0), 0u);
    uint8_t privateKey[64];
    EXPECT_EQ(ExportSignaturePrivateKey(c.get(), privateKey), 27u);
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), DEVICE_KEY_EXPORTABLE), 0u);
    ASSERT_EQ(ExportSignaturePrivateKey(c.get(), privateKey), 0u);
    uint8_t publicKey[64];
    ASSERT_EQ(GetSignaturePublicKey(c.get(), publicKey), 0u);
    dstu4145::Bytes derived;
    ASSERT_EQ(engine->PublicFromPrivate(dstu4145::ByteSpan(privateKey, engine->OrderBytes()), derived),
              dstu4145::Result::Ok);
    EXPECT_EQ(std::memcmp(publicKey, derived.data(), derived.size()), 0);
}

// Keys of version 2 cannot pair the keys: the host generates an exportable
// key, reads it out and writes it back as both pairs.
TEST_F(KeysTest, HostPairsTheKeysOnVersion2)
{
    const std::string reader = AddKey(514, 2, 0);
    Context c = OpenLoggedIn(514);
    ASSERT_TRUE(c);
    const DeviceKeyParameters parameters = StandardParameters(0);
    pcsctap::Reset();
    ASSERT_EQ(GenerateSignatureKey(c.get(), parameters.bytes(), DEVICE_KEY_ALSO_AGREEMENT), 0u);
    std::vector<std::pair<int, int>> firsts;
    for (const auto& [command, parameter] : Requests())
        if ((parameter & 0x1F) == 0) firsts.emplace_back(command, parameter);
    const std::vector<std::pair<int, int>> expected = {
        {KEYCMD_GENERATE_SIGN_KEY, 0xC0}, {KEYCMD_EXPORT_SIGN_PRIVATE_KEY, 0}, {KEYCMD_DESTROY_SIGN_KEY, 0},
        {KEYCMD_WRITE_SIGN_KEY, 0},       {KEYCMD_WRITE_AGREE_KEY, 0},         {KEYCMD_READ_SIGN_KEY_PARAMS, 0},
        {KEYCMD_READ_SIGN_PUBLIC_KEY, 0}};
    EXPECT_EQ(firsts, expected);
    uint8_t signPublic[64], agreePublic[72], privateKey[64];
    ASSERT_EQ(GetSignaturePublicKey(c.get(), signPublic), 0u);
    ASSERT_EQ(GetAgreementPublicKey(c.get(), agreePublic), 0u);
    EXPECT_EQ(std::memcmp(signPublic, agreePublic, 64), 0);
    EXPECT_EQ(ExportSignaturePrivateKey(c.get(), privateKey), 27u) << "written back unexportable";
}

}  // namespace
}  // namespace devtest
