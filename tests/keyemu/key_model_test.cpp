// The firmware model against requests built here from the standards'
// primitives, and its signatures checked with the DSTU 4145 engine.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "../dstu4145/StandardCurves.h"
#include "KeyWire.h"
#include "dstu4145/DSTU4145.h"

using namespace keyemu_test;
using keyemu::Key;
using keyemu::KeyConfig;

namespace {

const std::string kPassword = "p\xE0ss";  // Windows-1251 bytes

std::unique_ptr<Key> MakeKey(uint8_t version, uint32_t capability = 0, uint32_t serial = 123456)
{
    KeyConfig c;
    c.serial = serial;
    c.version = version;
    c.capability = capability;
    c.password = kPassword;
    return Key::Create(c);
}

struct Answer {
    uint8_t status = 0xFF;
    uint8_t mode = 0xFF;
    bool verified = false;
    Bytes block;
    Bytes Data(size_t n) const { return DataOf(block, n); }
};

// Sends a block protected under `key` (mode 2 unless said) and opens the answer under `key`.
Answer Send(Key& k, Bytes block, const Bytes& key, uint8_t mode = 2)
{
    Protect(block, key, mode);
    Answer a;
    a.block = Exchange(k, block);
    if (a.block.empty()) return a;
    a.mode = a.block[2];
    a.status = a.block[3];
    a.verified = Verify(a.block, key);
    return a;
}

// Logs in with a block built by hand: old form (command 1, 64 bytes, GOST)
// or new form (command 131, 76 bytes, DSTU).
Answer Login(Key& k, bool newForm, const std::string& password = kPassword, bool breakMac = false)
{
    Bytes v = newForm ? LoginValue(password, H7564) : LoginValue(password, H34311);
    Bytes p = newForm ? H7564(v) : H34311(v);
    Bytes block = Block(newForm ? 76 : 64, newForm ? 131 : 1, 0, v);
    Protect(block, p, 2);
    if (breakMac) block.back() ^= 1;
    Answer a;
    a.block = Exchange(k, block);
    a.mode = a.block[2];
    a.status = a.block[3];
    a.verified = Verify(a.block, p);
    return a;
}

uint32_t Capability(Key& k)
{
    Bytes b = Exchange(k, Block(64, 13, 0));
    return uint32_t(b[12]) | uint32_t(b[13]) << 8 | uint32_t(b[14]) << 16 | uint32_t(b[15]) << 24;
}

struct LoggedIn {
    std::unique_ptr<Key> key;
    Bytes session;
    size_t blockSize;
    Answer Cmd(uint8_t cmd, uint8_t param, const Bytes& data = {}, uint8_t mode = 2)
    {
        return Send(*key, Block(blockSize, cmd, param, data), session, mode);
    }
};

LoggedIn Open(uint8_t version, uint32_t capability = 0, uint32_t serial = 123456)
{
    LoggedIn l;
    l.key = MakeKey(version, capability, serial);
    bool newForm = version >= 18 && (capability & 0x200);
    Answer a = Login(*l.key, newForm);
    EXPECT_EQ(a.status, 0);
    EXPECT_TRUE(a.verified);
    l.session = a.Data(32);
    l.blockSize = version >= 18 ? 76 : 64;
    return l;
}

Bytes FromHex(const char* hex)
{  // most significant digit first -> little-endian bytes
    Bytes out;
    std::string h(hex);
    for (size_t end = h.size(); end > 0; end = end >= 2 ? end - 2 : 0) {
        size_t start = end >= 2 ? end - 2 : 0;
        out.push_back(static_cast<uint8_t>(std::stoul(h.substr(start, end - start), nullptr, 16)));
        if (start == 0) break;
    }
    return out;
}

// The 240-byte parameter record of a standard curve, from its published
// numbers (the base point compressed by the engine).
Bytes DeviceParams(int index)
{
    const auto& pc = dstu4145_test::kStandardCurves[index];
    dstu4145::Curve c;
    c.m = pc.m;
    c.k = pc.k;
    c.j = pc.j;
    c.l = pc.l;
    c.a = pc.a;
    c.b = FromHex(pc.b);
    c.n = FromHex(pc.n);
    dstu4145::Bytes x = FromHex(pc.px), y = FromHex(pc.py), comp;
    x.resize((c.m + 7) / 8);
    y.resize((c.m + 7) / 8);
    // An engine needs some valid compressed base point: x with either trace bit
    // decompresses to P or -P.
    std::unique_ptr<dstu4145::Engine> e;
    for (uint8_t bit : {0, 1}) {
        c.p = x;
        c.p[0] = static_cast<uint8_t>((c.p[0] & 0xFE) | bit);
        if ((e = dstu4145::Engine::Create(c))) break;
    }
    EXPECT_NE(e, nullptr);
    if (!e) return Bytes(240, 0);
    EXPECT_EQ(e->Compress(x, y, comp), dstu4145::Result::Ok);
    c.p = comp;
    Bytes rec(240);
    EXPECT_EQ(dstu4145::CurveToDeviceKeyParameters(c, rec.data()), dstu4145::Result::Ok);
    return rec;
}

}  // namespace

// --- Login -----------------------------------------------------------------

TEST(KeyModelLogin, OldAndNewFormsAnswerASessionKeyUnderThePacketKey)
{
    struct Case {
        uint8_t version;
        uint32_t capability;
        bool newForm;
    } cases[] = {{17, 0, false}, {18, 0, false}, {18, 0x200, true}, {9, 0, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "version " << int(c.version) << " new " << c.newForm);
        auto k = MakeKey(c.version, c.capability);
        Answer a = Login(*k, c.newForm);
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.mode, 2);
        EXPECT_TRUE(a.verified);
        EXPECT_EQ(a.block.size(), c.newForm ? 76u : 64u);
        Bytes s = a.Data(32);
        EXPECT_NE(s, Bytes(32, 0));
        EXPECT_TRUE(k->loggedIn());
        // The session key protects what follows: a private-area chunk read.
        size_t b = c.version >= 18 ? 76 : 64;
        uint8_t firstPrivate = c.version < 8 ? 32 : 128;
        Answer r = Send(*k, Block(b, 11, firstPrivate), s);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.mode, 2);
        EXPECT_TRUE(r.verified);
        EXPECT_EQ(r.Data(32), Bytes(32, 0xFF));
    }
}

TEST(KeyModelLogin, WrongPasswordAndBadMacCountFailedTriesUntilBlocked)
{
    for (bool newForm : {false, true}) {
        SCOPED_TRACE(newForm ? "new form" : "old form");
        auto k = MakeKey(18, newForm ? 0x200 : 0);
        Answer wrong = Login(*k, newForm, "wrong");
        EXPECT_EQ(wrong.status, 23);
        EXPECT_EQ(wrong.mode, 0);
        EXPECT_EQ(Capability(*k) >> 28, 1u);
        Answer badMac = Login(*k, newForm, kPassword, true);
        EXPECT_EQ(badMac.status, 23);
        EXPECT_EQ(Capability(*k) >> 28, 2u);
        EXPECT_EQ(Capability(*k) & 0x0FFFFFFF, newForm ? 0x200u : 0u);
        // A good login resets the count.
        EXPECT_EQ(Login(*k, newForm).status, 0);
        EXPECT_EQ(Capability(*k) >> 28, 0u);
    }
    // Fifteen failures block the key: even the right password is refused.
    auto k = MakeKey(17);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(Login(*k, false, "wrong").status, 23);
    EXPECT_EQ(Capability(*k) >> 28, 15u);
    EXPECT_EQ(Login(*k, false).status, 23);
    EXPECT_FALSE(k->loggedIn());
    // Formatting with a new password unblocks it.
    Bytes v = LoginValue("new", H34311);
    Bytes fmt = Exchange(*k, Block(64, 12, 0, v));
    EXPECT_EQ(fmt[3], 0);
    EXPECT_EQ(Capability(*k) >> 28, 0u);
    EXPECT_EQ(Login(*k, false, "new").status, 0);
}

TEST(KeyModelLogin, ReplayedBlocksAreRefused)
{
    LoggedIn l = Open(17);
    // A login replayed while the session is open gets 22 and costs no try.
    Bytes v = LoginValue(kPassword, H34311);
    Bytes login = Block(64, 1, 0, v);
    Protect(login, H34311(v), 2);
    EXPECT_EQ(Exchange(*l.key, login)[3], 22);
    EXPECT_EQ(Capability(*l.key) >> 28, 0u);

    // A write block captured in one session and replayed in the next fails
    // verification: 40 under the new session key, and nothing is written.
    Bytes write = Block(64, 70, 3, Bytes(32, 0xAB));
    Protect(write, l.session, 2);
    EXPECT_EQ(Exchange(*l.key, write)[3], 0);
    EXPECT_EQ(Exchange(*l.key, Block(64, 20, 0))[3], 0);  // logout
    Answer again = Login(*l.key, false);
    ASSERT_EQ(again.status, 0);
    Bytes s2 = again.Data(32);
    ASSERT_NE(s2, l.session);
    EXPECT_EQ(Send(*l.key, Block(64, 70, 4, Bytes(32, 0x11)), s2).status, 0);  // the genuine one works
    Bytes replay = Block(64, 70, 4, Bytes(32, 0xAB));
    Protect(replay, l.session, 2);
    Bytes answer = Exchange(*l.key, replay);
    EXPECT_EQ(answer[3], 40);
    EXPECT_EQ(answer[2], 2);
    EXPECT_TRUE(Verify(answer, s2));
    Answer read = Send(*l.key, Block(64, 11, 4), s2, 0);
    EXPECT_EQ(read.Data(32), Bytes(32, 0x11));
}

TEST(KeyModelLogin, SessionRulesBeforeAndAfterLogin)
{
    auto k = MakeKey(18, 0x200);
    Bytes zero(32, 0);
    // No session: a session command answers 21 in mode 0.
    Answer a = Send(*k, Block(76, 70, 0, Bytes(32, 1)), zero);
    EXPECT_EQ(a.status, 21);
    EXPECT_EQ(a.mode, 0);
    // Public key reads are accepted under the zero key before a login: no key yet.
    a = Send(*k, Block(76, 14, 0), zero);
    EXPECT_EQ(a.status, 26);
    EXPECT_EQ(a.mode, 0);
    // Logout with no session answers 0.
    EXPECT_EQ(Exchange(*k, Block(76, 20, 0))[3], 0);
    // Old login scheme is not the way into a key that has the new one... it still
    // works (the old value is kept in step), but command 131 needs capability 0x200.
    auto old = MakeKey(18, 0);
    EXPECT_EQ(Login(*old, true).status, 20);
    // Upgrade: command 101 in a 64-byte block under the session installs the new scheme.
    Answer s = Login(*old, false);
    ASSERT_EQ(s.status, 0);
    Answer up = Send(*old, Block(64, 101, 0, LoginValue("fresh", H7564)), s.Data(32));
    EXPECT_EQ(up.status, 0);
    EXPECT_TRUE(up.verified);
    EXPECT_EQ(Capability(*old) & 0x200, 0x200u);
    EXPECT_EQ(Exchange(*old, Block(76, 20, 0))[3], 0);
    EXPECT_EQ(Login(*old, true, "fresh").status, 0);
    // While logged in, a request that fails verification gets 40 under the session key.
    LoggedIn l = Open(18, 0x200);
    Bytes bad = Block(76, 70, 0, Bytes(32, 1));
    Protect(bad, l.session, 2);
    bad[10] ^= 1;
    Bytes ans = Exchange(*l.key, bad);
    EXPECT_EQ(ans[3], 40);
    EXPECT_TRUE(Verify(ans, l.session));
}

// --- Storage ----------------------------------------------------------------

TEST(KeyModelStorage, WriteReadEraseRoundTrip)
{
    struct Case {
        uint8_t version;
        uint32_t publicSize;
    } cases[] = {{7, 1024}, {17, 4096}, {18, 4096}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.version));
        LoggedIn l = Open(c.version, c.version >= 18 ? 0x200 : 0);
        const uint8_t pub = static_cast<uint8_t>(c.publicSize / 32);
        Bytes a(32), b(32);
        for (int i = 0; i < 32; ++i) a[i] = uint8_t(i), b[i] = uint8_t(0xA0 + i);
        EXPECT_EQ(l.Cmd(70, 10, a).status, 0);
        EXPECT_EQ(l.Cmd(70, pub + 95, b).status, 0);   // last private block
        EXPECT_EQ(l.Cmd(70, pub + 96, b).status, 28);  // beyond the private area
        // A public chunk is read with an unprotected request.
        EXPECT_EQ(l.Cmd(11, 10, {}, 0).Data(32), a);
        Answer priv = l.Cmd(11, pub + 95);
        EXPECT_EQ(priv.mode, 2);
        EXPECT_EQ(priv.Data(32), b);
        // Erase fills the page with 0xFF.
        EXPECT_EQ(l.Cmd(32, 0).status, 0);
        EXPECT_EQ(l.Cmd(11, 10, {}, 0).Data(32), Bytes(32, 0xFF));
        EXPECT_EQ(l.Cmd(32, static_cast<uint8_t>(c.publicSize / 1024 + 3)).status, 28);
        // Without a session the private area stays closed, the public one open.
        EXPECT_EQ(Exchange(*l.key, Block(l.blockSize, 20, 0))[3], 0);
        Answer closed = Send(*l.key, Block(l.blockSize, 11, pub + 95), l.session);
        EXPECT_EQ(closed.status, 21);
        Answer open = Send(*l.key, Block(l.blockSize, 11, 0), l.session, 0);
        EXPECT_EQ(open.status, 0);
        EXPECT_EQ(open.mode, 0);
    }
}

// --- Persistence ------------------------------------------------------------

TEST(KeyModelState, SaveAndLoadKeepEverythingPersistent)
{
    LoggedIn l = Open(18, 0x200, 654321);
    ASSERT_EQ(l.Cmd(70, 130, Bytes(32, 0x5C)).status, 0);
    ASSERT_EQ(l.Cmd(67, 0x80, Bytes(32, 0x77)).status, 0);
    Bytes params = DeviceParams(0);
    ASSERT_EQ(l.Cmd(36, 0xC0, Bytes(params.begin(), params.begin() + 64)).status, 0);
    ASSERT_EQ(l.Cmd(36, 0xC1, Bytes(params.begin() + 64, params.begin() + 128)).status, 0);
    ASSERT_EQ(l.Cmd(36, 0xC2, Bytes(params.begin() + 128, params.begin() + 192)).status, 0);
    ASSERT_EQ(l.Cmd(36, 0xC3, Bytes(params.begin() + 192, params.end())).status, 0);
    Bytes pub = l.Cmd(14, 0).Data(64);

    auto dir = std::filesystem::temp_directory_path() / ("keyemu_state_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::string path = (dir / "key.state").string();
    ASSERT_TRUE(l.key->Save(path));
    EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
    auto loaded = Key::Load(path);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->Serialize(), l.key->Serialize());
    EXPECT_EQ(loaded->serial(), 654321u);
    // The session is volatile: the loaded key needs a login, and the password holds.
    EXPECT_FALSE(loaded->loggedIn());
    Answer s = Login(*loaded, true);
    ASSERT_EQ(s.status, 0);
    LoggedIn m{std::move(loaded), s.Data(32), 76};
    EXPECT_EQ(m.Cmd(11, 130).Data(32), Bytes(32, 0x5C));
    EXPECT_EQ(m.Cmd(54, 0).Data(32), Bytes(32, 0x77));
    EXPECT_EQ(m.Cmd(14, 0).Data(64), pub);
    EXPECT_EQ(m.Cmd(4, 0, {}, 0).Data(8)[4], 3);  // the generation is in the journal

    // Damaged files are refused.
    auto bytes = l.key->Serialize();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size() - 5));
    }
    EXPECT_EQ(Key::Load(path), nullptr);
    EXPECT_EQ(Key::Load((dir / "missing").string()), nullptr);
    Bytes trailing = bytes;
    trailing.push_back(0);
    EXPECT_EQ(Key::Deserialize(trailing), nullptr);
    std::filesystem::remove_all(dir);
}

// --- Faults -----------------------------------------------------------------

TEST(KeyModelFaults, EachFaultChangesTheAnswers)
{
    LoggedIn l = Open(18, 0x200);
    Key& k = *l.key;
    k.faults().busy = true;
    EXPECT_EQ(Exchange(k, Block(76, 13, 0))[3], 24);
    EXPECT_EQ(l.Cmd(11, 128).status, 24);
    k.faults() = {};

    k.faults().notReady = true;
    Bytes info = Exchange(k, Block(76, 13, 0));
    EXPECT_EQ(info[3], 0);
    EXPECT_EQ(info[4 + 7] & 0x80, 0x80);
    k.faults() = {};

    k.faults().shortAnswer = true;
    EXPECT_EQ(k.Transmit(Apdu(Block(76, 13, 0))).size(), 75u / 2 + 2);
    k.faults() = {};

    k.faults().badMac = true;
    Answer bad = l.Cmd(11, 128);
    EXPECT_EQ(bad.status, 0);
    EXPECT_FALSE(bad.verified);
    k.faults() = {};

    k.faults().wrongProtection = true;
    EXPECT_EQ(l.Cmd(11, 128).mode, 3);
    EXPECT_EQ(Exchange(k, Block(76, 13, 0))[2], 3);
    k.faults() = {};

    Bytes set(4);
    uint32_t t = 1700000000;
    std::memcpy(set.data(), &t, 4);
    EXPECT_EQ(Exchange(k, Block(76, 3, 0, set))[3], 0);
    k.faults().clockSkewSeconds = 100;
    Bytes clock = Exchange(k, Block(76, 2, 0));
    uint32_t read;
    std::memcpy(&read, clock.data() + 4, 4);
    EXPECT_GE(read, t + 100);
    EXPECT_LE(read, t + 102);
    // Setting the clock puts it right again.
    EXPECT_EQ(Exchange(k, Block(76, 3, 0, set))[3], 0);
    clock = Exchange(k, Block(76, 2, 0));
    std::memcpy(&read, clock.data() + 4, 4);
    EXPECT_GE(read, t);
    EXPECT_LE(read, t + 2);
}

// --- Keys, signing, agreement and wrapping -----------------------------------

namespace {
void SendChunks(LoggedIn& l, uint8_t cmd, uint8_t options, const Bytes& data, uint8_t expectLast = 0)
{
    size_t d = l.blockSize == 76 ? 64 : 56;
    for (size_t i = 0, off = 0; off < data.size(); ++i, off += d) {
        Bytes chunk(data.begin() + off, data.begin() + std::min(data.size(), off + d));
        Answer a = l.Cmd(cmd, static_cast<uint8_t>(options | i), chunk);
        bool last = off + d >= data.size();
        EXPECT_EQ(a.status, last ? expectLast : 0) << "chunk " << i;
        EXPECT_TRUE(a.verified);
    }
}

Bytes ReadItem(LoggedIn& l, uint8_t cmd, size_t total)
{
    size_t d = l.blockSize == 76 ? 64 : 56;
    Bytes out;
    for (size_t i = 0; out.size() < total; ++i) {
        Answer a = l.Cmd(cmd, static_cast<uint8_t>(i));
        EXPECT_EQ(a.status, 0);
        Bytes part = a.Data(std::min(d, total - out.size()));
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}
}  // namespace

TEST(KeyModelKeys, GeneratedKeySignsVerifiablyOnBothBlockForms)
{
    for (uint8_t version : {uint8_t(17), uint8_t(18)}) {
        SCOPED_TRACE(int(version));
        LoggedIn l = Open(version, version >= 18 ? 0x200 : 0);
        Bytes params = DeviceParams(0);
        SendChunks(l, 36, 0x00, params);
        EXPECT_EQ(ReadItem(l, 15, 240), params);
        Bytes pub = ReadItem(l, 14, 64);
        dstu4145::Curve curve;
        ASSERT_EQ(dstu4145::CurveFromDeviceKeyParameters(params, curve), dstu4145::Result::Ok);
        auto engine = dstu4145::Engine::Create(curve);
        ASSERT_NE(engine, nullptr);
        Bytes q(pub.begin(), pub.begin() + engine->FieldBytes());
        EXPECT_EQ(engine->CheckPublicKey(q), dstu4145::Result::Ok);

        Bytes hash(32);
        for (int i = 0; i < 32; ++i) hash[i] = uint8_t(i * 7 + 1);
        Bytes sig;
        size_t d = l.blockSize == 76 ? 64 : 56;
        for (uint8_t i = 0; i < 3; ++i) {
            Answer a = l.Cmd(44, i, hash);
            ASSERT_EQ(a.status, 0);
            Bytes part = a.Data(std::min(d, 144 - sig.size()));
            sig.insert(sig.end(), part.begin(), part.end());
        }
        EXPECT_EQ(engine->Verify(hash, q, sig), dstu4145::Result::Ok);
        hash[0] ^= 1;
        EXPECT_EQ(engine->Verify(hash, q, sig), dstu4145::Result::BadSignature);
        // Not exportable without option 0x80; the agreement key is absent.
        EXPECT_EQ(l.Cmd(55, 0).status, 27);
        EXPECT_EQ(l.Cmd(16, 0).status, 26);
        EXPECT_EQ(l.Cmd(44, 0x80, hash).status, 26);
        // Destroyed: the reads answer 26.
        EXPECT_EQ(l.Cmd(40, 0).status, 0);
        EXPECT_EQ(l.Cmd(14, 0).status, 26);
    }
}

TEST(KeyModelKeys, SignsLongerHashesOnNewKeys)
{
    LoggedIn l = Open(18, 0x200);
    Bytes params = DeviceParams(5);  // m = 233
    SendChunks(l, 36, 0x80, params);
    dstu4145::Curve curve;
    ASSERT_EQ(dstu4145::CurveFromDeviceKeyParameters(params, curve), dstu4145::Result::Ok);
    auto engine = dstu4145::Engine::Create(curve);
    Bytes q = ReadItem(l, 14, 64);
    q.resize(engine->FieldBytes());
    for (size_t len : {size_t(48), size_t(64)}) {
        Bytes hash(len, 0x3C);
        uint8_t code = static_cast<uint8_t>(2 * len - 64);
        Bytes sig;
        for (uint8_t i = 0; i < 3; ++i) {
            Answer a = l.Cmd(44, code | i, hash);
            ASSERT_EQ(a.status, 0);
            Bytes part = a.Data(std::min<size_t>(64, 144 - sig.size()));
            sig.insert(sig.end(), part.begin(), part.end());
        }
        EXPECT_EQ(engine->Verify(hash, q, sig), dstu4145::Result::Ok) << len;
    }
    // Exportable with 0x80: the exported private key gives the public key.
    Bytes d = ReadItem(l, 55, 64);
    dstu4145::Bytes q2;
    ASSERT_EQ(engine->PublicFromPrivate(Bytes(d.begin(), d.begin() + engine->OrderBytes()), q2), dstu4145::Result::Ok);
    EXPECT_EQ(q2, q);
}

TEST(KeyModelKeys, TwoKeysAgreeAndWrapBetweenThemselves)
{
    LoggedIn a = Open(18, 0x200, 1);
    LoggedIn b = Open(18, 0x200, 2);
    Bytes params = DeviceParams(0);
    SendChunks(a, 37, 0x20, params);
    SendChunks(b, 37, 0x20, params);
    Bytes qa = ReadItem(a, 16, 72), qb = ReadItem(b, 16, 72);
    Bytes ukm(8, 0x42);
    auto request = [&](const Bytes& peer) {
        Bytes r(peer);
        r.push_back(static_cast<uint8_t>(ukm.size()));
        r.insert(r.end(), ukm.begin(), ukm.end());
        return r;
    };
    SendChunks(a, 133, 0, request(qb));
    SendChunks(b, 133, 0, request(qa));
    // Same working key: the same block transforms alike on both keys.
    Bytes block(32, 0x99);
    Answer ea = a.Cmd(135, 1, block), eb = b.Cmd(135, 1, block);
    EXPECT_EQ(ea.status, 0);
    EXPECT_EQ(ea.Data(32), eb.Data(32));
    EXPECT_NE(ea.Data(32), block);

    // On-key wrap on one key, unwrap on the other.
    Bytes cek(32);
    for (int i = 0; i < 32; ++i) cek[i] = uint8_t(200 - i);
    Answer w0 = a.Cmd(142, 0, cek), w1 = a.Cmd(142, 1);
    ASSERT_EQ(w0.status, 0);
    ASSERT_EQ(w1.status, 0);
    Bytes wrapped = w0.Data(64);
    Bytes tail = w1.Data(32);
    wrapped.insert(wrapped.end(), tail.begin(), tail.end());
    EXPECT_EQ(b.Cmd(143, 0, Bytes(wrapped.begin(), wrapped.begin() + 64)).status, 0);
    Answer u = b.Cmd(143, 1, Bytes(wrapped.begin() + 64, wrapped.end()));
    EXPECT_EQ(u.status, 0);
    EXPECT_EQ(u.Data(32), cek);
    // One changed byte fails the check value.
    wrapped[50] ^= 1;
    EXPECT_EQ(b.Cmd(143, 0, Bytes(wrapped.begin(), wrapped.begin() + 64)).status, 0);
    EXPECT_EQ(b.Cmd(143, 1, Bytes(wrapped.begin() + 64, wrapped.end())).status, 29);

    // The old-form agreement (168 bytes, command 38) derives the same way.
    Bytes old = request(qb);
    old.resize(168, 0);
    SendChunks(a, 38, 0xC0, old);
    Bytes oldB = request(qa);
    oldB.resize(168, 0);
    SendChunks(b, 38, 0xC0, oldB);
    EXPECT_EQ(a.Cmd(66, 0x41, Bytes(8, 1)).Data(8), b.Cmd(66, 0x41, Bytes(8, 1)).Data(8));
}

TEST(KeyModelKeys, OldBlockPrimitivesMatchGostUnderTheWorkingKey)
{
    LoggedIn l = Open(17);
    Bytes wk(32);
    for (int i = 0; i < 32; ++i) wk[i] = uint8_t(i + 1);
    ASSERT_EQ(l.Cmd(63, 0, wk).status, 0);
    // Command 66 encrypts with GOST 28147 (S-box table 2, the default until loaded)
    // and with 0x80 feeds the plain blocks into the MAC; 50 decrypts.
    Bytes plain(32);
    for (int i = 0; i < 32; ++i) plain[i] = uint8_t(3 * i);
    ASSERT_EQ(l.Cmd(65, 0, Bytes(8, 0)).status, 0);
    Answer enc = l.Cmd(66, 0xC4, plain);
    Bytes expect = plain;
    GostEcb(expect.data(), 4, wk, true);
    EXPECT_EQ(enc.Data(32), expect);
    Answer mac = l.Cmd(34, 0);
    EXPECT_EQ(mac.Data(4), GostMac(plain.data(), 32, wk));
    Answer dec = l.Cmd(50, 0x44, expect);
    EXPECT_EQ(dec.mode, 2);
    EXPECT_EQ(dec.Data(32), plain);
    EXPECT_EQ(l.Cmd(66, 0x48, Bytes(64, 0)).status, 8);  // 8 blocks do not fit 56 bytes
}

// A busy answer under an open session carries the session's protection, so
// that the host can tell it from a forged one; a count of busy answers runs out.
TEST(KeyModelFaults, BusyAnswersAreProtectedAndCountDown)
{
    LoggedIn l = Open(18, 0x200);
    Key& k = *l.key;
    k.faults().busyAnswers = 2;
    for (int i = 0; i < 2; ++i) {
        Answer a = l.Cmd(11, 128);
        EXPECT_EQ(a.status, 24);
        EXPECT_EQ(a.mode, 2);
        EXPECT_TRUE(a.verified);
    }
    EXPECT_EQ(l.Cmd(11, 128).status, 0);
    EXPECT_EQ(k.faults().busyAnswers, 0);
    // Without a session the busy answer stays plain.
    auto fresh = MakeKey(18, 0x200);
    fresh->faults().busy = true;
    Bytes plain = Exchange(*fresh, Block(76, 10, 0));
    EXPECT_EQ(plain[3], 24);
    EXPECT_EQ(plain[2], 0);
}

// Keys of version 2 and lower leave the pairing to the host.
TEST(KeyModelKeys, Version2IgnoresThePairingOption)
{
    for (uint8_t version : {2, 3}) {
        LoggedIn l = Open(version);
        Bytes params = DeviceParams(0);
        SendChunks(l, 36, 0x40, params);
        EXPECT_EQ(l.Cmd(16, 0).status, version == 2 ? 26 : 0) << int(version);
    }
}

TEST(KeyModelJournal, RecordsOperationsAndEndsWith37)
{
    LoggedIn l = Open(11);
    Bytes params = DeviceParams(0);
    SendChunks(l, 36, 0x40, params);  // signature pair also serving agreement
    EXPECT_EQ(ReadItem(l, 17, 240), params);
    EXPECT_EQ(l.Cmd(40, 0).status, 0);
    EXPECT_EQ(l.Cmd(60, 0, LoginValue("x", H34311)).status, 0);
    struct Expect {
        uint8_t op;
        uint16_t detail;
    } expected[] = {{3, 1}, {4, 1}, {1, 0}};
    for (size_t i = 0; i < 3; ++i) {
        Bytes r = Exchange(*l.key, Block(64, 4, static_cast<uint8_t>(i)));
        ASSERT_EQ(r[3], 0);
        EXPECT_EQ(r[8], expected[i].op);
        EXPECT_EQ(r[10] | r[11] << 8, expected[i].detail);
        EXPECT_EQ(r[2], 0);
    }
    EXPECT_EQ(Exchange(*l.key, Block(64, 4, 3))[3], 37);
    // Version gates: no journal at version 8, no state query at 10.
    auto k8 = MakeKey(8);
    EXPECT_EQ(Exchange(*k8, Block(64, 4, 0))[3], 20);
    auto k10 = MakeKey(10);
    EXPECT_EQ(Exchange(*k10, Block(64, 5, 0))[3], 20);
    EXPECT_EQ(Exchange(*l.key, Block(64, 5, 0))[3], 0);
}

// The host composes the new wrap from the key's block and MAC commands; the
// key's own unwrap must open it, and the key's own wrap must open the same way.
TEST(KeyModelKeys, ComposedWrapAndOnKeyUnwrapAgree)
{
    LoggedIn l = Open(18, 0x200);
    Bytes wk(32, 0x5A);
    ASSERT_EQ(l.Cmd(63, 0, wk).status, 0);
    const uint8_t fixed8[8] = {0x4A, 0xDD, 0xA2, 0x2C, 0x79, 0xE8, 0x21, 0x05};
    Bytes fixedIv;
    for (int i = 0; i < 4; ++i) fixedIv.insert(fixedIv.end(), fixed8, fixed8 + 8);
    auto cfb = [&](const Bytes& start, uint8_t* buf, size_t len, bool encrypt) {
        Bytes f = start;
        while (len) {
            Answer a = l.Cmd(135, 0x41, f);  // one block, option 0x40
            ASSERT_EQ(a.status, 0);
            f = a.Data(32);
            size_t n = std::min<size_t>(len, 32);
            for (size_t i = 0; i < n; ++i) {
                uint8_t c = encrypt ? uint8_t(buf[i] ^ f[32 - n + i]) : buf[i];
                buf[i] ^= f[32 - n + i];
                f[32 - n + i] = c;
            }
            buf += n;
            len -= n;
        }
    };
    Bytes cek(32);
    for (int i = 0; i < 32; ++i) cek[i] = uint8_t(i * 5);
    Bytes w(96);
    for (int i = 0; i < 32; ++i) w[i] = uint8_t(0xF0 ^ i);  // the random part
    std::copy(cek.begin(), cek.end(), w.begin() + 32);
    ASSERT_EQ(l.Cmd(135, 0xC1, cek).status, 0);  // MAC of K: one block with 0x80
    Bytes mac = l.Cmd(137, 0).Data(32);
    EXPECT_EQ(mac, DstuMac(cek.data(), 256, wk, 256));  // the key's MAC is the DSTU 7624 CMAC
    std::copy(mac.begin(), mac.end(), w.begin() + 64);
    cfb(Bytes(w.begin(), w.begin() + 32), w.data() + 32, 64, true);
    std::reverse(w.begin(), w.end());
    cfb(fixedIv, w.data(), 96, true);

    ASSERT_EQ(l.Cmd(143, 0, Bytes(w.begin(), w.begin() + 64)).status, 0);
    Answer u = l.Cmd(143, 1, Bytes(w.begin() + 64, w.end()));
    ASSERT_EQ(u.status, 0);
    EXPECT_EQ(u.Data(32), cek);

    // The on-key wrap opened by the composed unwrap.
    Bytes on = l.Cmd(142, 0, cek).Data(64);
    Bytes tail = l.Cmd(142, 1).Data(32);
    on.insert(on.end(), tail.begin(), tail.end());
    cfb(fixedIv, on.data(), 96, false);
    std::reverse(on.begin(), on.end());
    cfb(Bytes(on.begin(), on.begin() + 32), on.data() + 32, 64, false);
    EXPECT_EQ(Bytes(on.begin() + 32, on.begin() + 64), cek);
    EXPECT_EQ(Bytes(on.begin() + 64, on.end()), mac);
}

TEST(KeyModelKeys, LoadedSBoxTableTwoDrivesTheOldBlockCommand)
{
    LoggedIn l = Open(17);
    Bytes wk(32, 0x21);
    ASSERT_EQ(l.Cmd(63, 0, wk).status, 0);
    // Standard S-box 1 in packed form.
    const char* hex = "aed93c776fe48c1bf63abd4100955822445b11cf79e29e2ca6fab8d70385603d"
                      "8c7b33a99f60e455d7024ecd112af8b64f30eed6580d25b91aa3716c94fb872c";
    Bytes sbox;
    for (int i = 0; i < 64; ++i)
        sbox.push_back(static_cast<uint8_t>(std::stoul(std::string(hex + 2 * i, 2), nullptr, 16)));
    EXPECT_EQ(l.Cmd(62, 16, Bytes(sbox.begin(), sbox.begin() + 56)).status, 0);  // table 2, chunk 0
    EXPECT_EQ(l.Cmd(62, 17, Bytes(sbox.begin() + 56, sbox.end())).status, 0);
    EXPECT_EQ(l.Cmd(62, 32, sbox).status, 8);  // table 4
    Bytes block(8, 0x33);
    Bytes expect = block;
    GOST28147Context c;
    std::memset(&c, 0, sizeof c);
    GOST28147SetParameter(&c, sbox.data(), GOST28147_SBOX);
    GOST28147SetParameter(&c, wk.data(), GOST28147_KEY);
    GOST28147EncryptECB(expect.data(), 1, &c);
    EXPECT_EQ(l.Cmd(66, 0x41, block).Data(8), expect);
}
