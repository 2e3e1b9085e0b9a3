// Private keys from files: the key-store parser against stores the tests
// write byte by byte (versions 1 and 2, both entry kinds, truncated and
// hostile ones), the reader of every layout with its format codes, the stop
// on a wrong password, and the nesting limit of wrapped files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "../csp/CSPTestSupport.h"
#include "FailureSweep.h"
#include "FakeFormats.h"
#include "VirtualSlot.h"
#include "csp/CSP.h"
#include "pkiformats/SPKIFormats.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A key store in the JKS layout, written field by field.
struct StoreWriter {
    explicit StoreWriter(std::uint32_t version, std::uint32_t count) : version(version)
    {
        bytes = {0xFE, 0xED, 0xFE, 0xED};
        U32(version);
        U32(count);
    }
    void U16(std::uint32_t v)
    {
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v)
    {
        for (int s = 24; s >= 0; s -= 8) bytes.push_back(static_cast<std::uint8_t>(v >> s));
    }
    void Text(const std::string& s) { bytes.insert(bytes.end(), s.begin(), s.end()); }
    void Head(std::uint32_t tag, const std::string& alias)
    {
        U32(tag);
        U16(static_cast<std::uint32_t>(alias.size()));
        Text(alias);
        Text("12345678");  // time stamp
    }
    void Certificate(const std::string& der)
    {
        if (version == 2) {
            U16(5);
            Text("X.509");
        }
        U32(static_cast<std::uint32_t>(der.size()));
        Text(der);
    }
    StoreWriter& Key(const std::string& alias, const std::string& key, const std::vector<std::string>& chain)
    {
        Head(1, alias);
        U32(static_cast<std::uint32_t>(key.size()));
        Text(key);
        U32(static_cast<std::uint32_t>(chain.size()));
        for (const std::string& c : chain) Certificate(c);
        return *this;
    }
    StoreWriter& Trusted(const std::string& alias, const std::string& der)
    {
        Head(2, alias);
        Certificate(der);
        return *this;
    }
    PKIBlob View() { return PKIBlob{static_cast<std::uint32_t>(bytes.size()), bytes.data()}; }
    std::uint32_t version;
    Bytes bytes;
};

// A marked blob ("Enis" header of 17 bytes, then the payload; no trailer).
Bytes Marked(const Bytes& payload)
{
    Bytes b(17 + payload.size(), 0);
    std::memcpy(b.data(), "Enis", 4);
    for (std::size_t i = 0; i < payload.size(); ++i) b[17 + i] = payload[i];
    return b;
}

Bytes Of(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

PKIBlob ViewOf(Bytes& b)
{
    return PKIBlob{static_cast<std::uint32_t>(b.size()), b.data()};
}

std::string Take(SPKIFormats& f, char* text)
{
    std::string s = text ? text : "<none>";
    f.FreeMemory(text);
    return s;
}

// The facade over the real CSP (its standard S-box goes into containers) and
// the test double with the key-file objects.
class KeyFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        char previous[PATH_MAX];
        ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
        ASSERT_EQ(chdir(PROVIDERS_DIR), 0);
        int rc = CreateCSP(&csp, 1);
        ASSERT_EQ(chdir(previous), 0);
        ASSERT_EQ(rc, CSP_OK);
        fake::UseKeyFileObjects(lib);
        lib.requireWipe = true;
        facade = new SPKIFormats(csp, nullptr, &lib);
    }
    void TearDown() override
    {
        delete facade;
        EXPECT_EQ(lib.LiveObjects(), 0);
        EXPECT_EQ(lib.LiveBlobs(), 0u);
        EXPECT_EQ(lib.doubleReleases, 0);
        EXPECT_EQ(lib.unwipedFrees, 0);
        DestroyCSP(&csp);
    }
    // The key's bytes inside what a read handed out: a key object, or the
    // only key of a container.
    static std::string KeyBytes(void* read)
    {
        auto* object = static_cast<IPKIObject*>(read);
        if (auto* container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(object))) {
            if (container->entries.size() != 1) return "<" + std::to_string(container->entries.size()) + " keys>";
            object = container->entries[0].key;
        }
        auto* key = dynamic_cast<fake::KeyObject*>(static_cast<IPKIKeyObject*>(object));
        return key ? std::string(key->dstuPrivate.begin(), key->dstuPrivate.end()) : "<not a key>";
    }
    Bytes StandardSBox()
    {
        GOST28147PackedSBox sBox{};
        EXPECT_NE(csp->Parameters().GetStandardSBox(0, &sBox), 0);
        const auto* p = reinterpret_cast<const std::uint8_t*>(&sBox);
        return Bytes(p, p + 64);
    }

    CSP* csp = nullptr;
    fake::Library lib;
    SPKIFormats* facade = nullptr;
};

// A store of a trusted certificate and two key entries, in both versions.
StoreWriter ThreeEntries(std::uint32_t version)
{
    StoreWriter w(version, 3);
    w.Trusted("root", "ROOT-DER").Key("Alpha", "alpha-key", {"A-DER", "ROOT-DER"}).Key("beta", "beta-key", {});
    return w;
}

}  // namespace

TEST(KeyStores, EntriesOfBothVersionsByAliasAndKind)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    for (std::uint32_t version : {1u, 2u}) {
        SCOPED_TRACE(version);
        StoreWriter w = ThreeEntries(version);
        w.Text("trailing bytes are not read");
        PKIBlob store = w.View(), entries{0, nullptr}, entry{0, nullptr}, key{0, nullptr};
        std::uint32_t v = 0, count = 0, flag = 9;
        ASSERT_EQ(f.ReadKeyStoreHeader(&store, &v, &count, &entries), 1);
        EXPECT_EQ(v, version);
        EXPECT_EQ(count, 3u);
        EXPECT_EQ(entries.data, store.data + 12);
        EXPECT_EQ(entries.length, store.length - 12 - std::strlen("trailing bytes are not read"));

        // The first entry is the trusted certificate: no key bytes.
        ASSERT_EQ(f.GetKeyStoreEntry(version, 0, &entries, &entry), 1);
        EXPECT_EQ(f.IsKeyStoreKeyEntry(&entry, &flag), 1);
        EXPECT_EQ(flag, 0u);
        EXPECT_EQ(f.GetKeyStoreKeyBytes(&entry, &key), 0);
        const std::uint32_t second = entry.length;

        // Aliases match whole and without regard to case; without one, the
        // first private-key entry.
        for (const char* alias : {"alpha", "ALPHA", static_cast<const char*>(nullptr)}) {
            ASSERT_EQ(f.FindKeyStoreEntry(version, alias, &entries, &entry), 1) << (alias ? alias : "none");
            EXPECT_EQ(entry.data, entries.data + second);
            ASSERT_EQ(f.GetKeyStoreKeyBytes(&entry, &key), 1);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data), key.length), "alpha-key");
        }
        for (const char* alias : {"Alph", "Alphaa", ""})
            EXPECT_EQ(f.FindKeyStoreEntry(version, alias, &entries, &entry), 0) << alias;
        ASSERT_EQ(f.FindKeyStoreEntry(version, "Root", &entries, &entry), 1);
        char* text = nullptr;
        ASSERT_EQ(f.GetKeyStoreAlias(&entry, &text), 1);
        EXPECT_EQ(Take(f, text), "root");

        // Key entries are counted past the trusted certificate.
        const char* expected[] = {"Alpha", "beta"};
        for (std::uint32_t i = 0; i < 2; ++i) {
            text = nullptr;
            ASSERT_EQ(f.GetKeyStoreKeyAlias(&store, i, &text), 1);
            EXPECT_EQ(Take(f, text), expected[i]);
        }
        EXPECT_EQ(f.GetKeyStoreKeyAlias(&store, 2, &text), 0);
    }
}

// Version 1 has no certificate type fields: its entries do not measure as
// version 2 entries, and a store claiming another version is refused.
TEST(KeyStores, VersionsAreKeptApart)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    StoreWriter one = ThreeEntries(1);
    PKIBlob store = one.View(), entries{0, nullptr}, entry{0, nullptr};
    ASSERT_EQ(f.ReadKeyStoreHeader(&store, nullptr, nullptr, &entries), 1);
    ASSERT_EQ(f.GetKeyStoreEntry(1, 0, &entries, &entry), 1);
    PKIBlob asTwo{0, nullptr};
    EXPECT_TRUE(f.GetKeyStoreEntry(2, 0, &entries, &asTwo) == 0 || asTwo.length != entry.length);
    for (std::uint32_t version : {0u, 3u, 0x01000000u}) {
        Bytes b = one.bytes;
        b[4] = static_cast<std::uint8_t>(version >> 24);
        b[7] = static_cast<std::uint8_t>(version);
        PKIBlob v = ViewOf(b);
        EXPECT_EQ(f.ReadKeyStoreHeader(&v, nullptr, nullptr, &entries), 0) << version;
    }
}

// UTF-8 aliases come out in the Win32 layer's ANSI code page (1251 here).
TEST(KeyStores, AliasesAreConvertedFromUTF8)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    StoreWriter w(2, 1);
    w.Key("\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", "k", {});  // "Ключ"
    PKIBlob store = w.View();
    char* text = nullptr;
    ASSERT_EQ(f.GetKeyStoreKeyAlias(&store, 0, &text), 1);
    EXPECT_EQ(Take(f, text), "\xCA\xEB\xFE\xF7");
    PKIBlob entries{0, nullptr}, entry{0, nullptr};
    ASSERT_EQ(f.ReadKeyStoreHeader(&store, nullptr, nullptr, &entries), 1);
    EXPECT_EQ(f.FindKeyStoreEntry(2, "\xCA\xEB\xFE\xF7", &entries, &entry), 1);

    // An alias holding a zero byte (or bytes that do not convert) cannot be
    // named: it is not handed out and matches nothing, and the walk goes on
    // past it (the fuzz target found aliases handed out cut short at the zero).
    StoreWriter odd(2, 2);
    odd.Key(std::string("ab\0c", 4), "k1", {}).Key("ab", "k2", {});
    store = odd.View();
    text = nullptr;
    EXPECT_EQ(f.GetKeyStoreKeyAlias(&store, 0, &text), 0);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(f.ReadKeyStoreHeader(&store, nullptr, nullptr, &entries), 1);
    ASSERT_EQ(f.FindKeyStoreEntry(2, "ab", &entries, &entry), 1);
    PKIBlob key{0, nullptr};
    ASSERT_EQ(f.GetKeyStoreKeyBytes(&entry, &key), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key.data), key.length), "k2");
}

// Every cut of a store, and stores whose counts and lengths point past their
// end, are refused without reading past the data (the sanitizer build and
// the fuzz target watch the reads).
TEST(KeyStores, TruncatedAndHostileStoresAreRefused)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    StoreWriter whole = ThreeEntries(2);
    for (std::size_t cut = 0; cut < whole.bytes.size(); ++cut) {
        Bytes b(whole.bytes.begin(), whole.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        PKIBlob v{static_cast<std::uint32_t>(b.size()), b.empty() ? nullptr : b.data()};
        ASSERT_EQ(f.ReadKeyStoreHeader(&v, nullptr, nullptr, nullptr), 0) << cut;
        char* text = nullptr;
        ASSERT_EQ(f.GetKeyStoreKeyAlias(&v, 0, &text), 0) << cut;
    }
    struct Hostile {
        const char* what;
        std::function<void(StoreWriter&)> write;
    };
    const Hostile cases[] = {
        {"entry count past the entries", [](StoreWriter& w) { w.Key("a", "k", {}); }},
        {"alias past the end", [](StoreWriter& w) { w.U32(1), w.U16(0xFFFF), w.Text("short"); }},
        {"key length past the end", [](StoreWriter& w) { w.Head(1, "a"), w.U32(0xFFFFFFFF), w.Text("k"); }},
        {"certificate count past the end",
         [](StoreWriter& w) { w.Head(1, "a"), w.U32(1), w.Text("k"), w.U32(0xFFFFFFFF), w.Certificate("c"); }},
        {"certificate length past the end", [](StoreWriter& w) { w.Head(2, "a"), w.U16(1), w.Text("t"), w.U32(9); }},
        {"unknown tag", [](StoreWriter& w) { w.Head(3, "a"), w.Certificate("c"); }},
    };
    for (const Hostile& h : cases) {
        StoreWriter w(2, std::string(h.what) == "entry count past the entries" ? 0xFFFFFFFF : 1);
        h.write(w);
        PKIBlob v = w.View(), entries{0, nullptr};
        EXPECT_EQ(f.ReadKeyStoreHeader(&v, nullptr, nullptr, &entries), 0) << h.what;
        void* key = nullptr;
        EXPECT_EQ(f.ReadKeyStoreEntry(&v, nullptr, "pw", &key, nullptr), 0) << h.what;
    }
}

// Format codes: 2 for an encrypted key without the library's attribute 4363
// (in a container with the CSP's standard S-box when the check flag is set),
// 1 with it (the key itself either way), 6 for a key store, and a marked
// blob passes on the code of what it holds.
TEST_F(KeyFiles, FormatCodesByLayout)
{
    const Bytes sBox = StandardSBox();
    struct Case {
        const char* what;
        Bytes data;
        std::uint32_t check, code;
        bool container;
        const char* key;
    };
    StoreWriter store(2, 2);
    store.Trusted("ca", "CA").Key("k", fake::EncryptedKey::Encoding("pw", "store-key"), {"C"});
    const Case cases[] = {
        {"encrypted key", Of(fake::EncryptedKey::Encoding("pw", "key-1")), 0, 2, false, "key-1"},
        {"encrypted key, checked", Of(fake::EncryptedKey::Encoding("pw", "key-1")), 1, 2, true, "key-1"},
        {"marked key", Of(fake::EncryptedKey::Encoding("pw", "key-2", true)), 1, 1, false, "key-2"},
        {"password in UTF-8", Of(fake::EncryptedKey::Encoding("utf8:pw", "key-3")), 0, 2, false, "key-3"},
        {"key store", store.bytes, 0, 6, true, "store-key"},
        {"marked blob", Marked(Of(fake::EncryptedKey::Encoding("pw", "key-4"))), 0, 2, true, "key-4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data = c.data;
        PKIBlob blob = ViewOf(data);
        std::uint32_t format = 0;
        void* read = nullptr;
        ASSERT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", c.check, &format, &read), 1);
        EXPECT_EQ(format, c.code);
        auto* container =
            dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(static_cast<IPKIObject*>(read)));
        EXPECT_EQ(container != nullptr, c.container);
        if (container) {
            EXPECT_EQ(container->sBox, sBox);
        }
        EXPECT_EQ(KeyBytes(read), c.key);
        static_cast<IPKIObject*>(read)->Release();
    }
}

// An encrypted key that the password does not open ends the search (both
// forms of the password tried, no other layout); data that are no encrypted
// key go on to the next layout.
TEST_F(KeyFiles, AWrongPasswordStopsOtherDataGoOn)
{
    Bytes data = Of(fake::EncryptedKey::Encoding("right", "k"));
    PKIBlob blob = ViewOf(data);
    void* read = nullptr;
    std::uint32_t format = 77;
    EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "wrong", 1, &format, &read), 0);
    EXPECT_EQ(read, nullptr);
    EXPECT_EQ(format, 77u);
    std::vector<std::string> steps;
    for (const std::string& entry : lib.log)
        if (entry.find(":1(") == std::string::npos && entry.find("0:7(") == std::string::npos) steps.push_back(entry);
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), "4882:7()");  // the converted form was the last thing tried

    // The same key in a store: the entry's key does not open, nothing is read.
    StoreWriter store(1, 1);
    store.Key("k", fake::EncryptedKey::Encoding("right", "k"), {});
    blob = store.View();
    EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "wrong", 1, &format, &read), 0);
    EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "right", 1, &format, &read), 1);
    EXPECT_EQ(format, 6u);
    static_cast<IPKIObject*>(read)->Release();
}

// Wrapped files nest at most four reads deep: a marked blob read directly
// opens four wrappers, the any-format reader (one level itself) three, and a
// chain far longer than the limit is refused without recursing through it.
TEST_F(KeyFiles, NestingStopsAtFourLevels)
{
    Bytes inner = Of(fake::EncryptedKey::Encoding("pw", "deep"));
    std::vector<Bytes> wrapped = {inner};
    for (int i = 1; i <= 6; ++i) wrapped.push_back(Marked(wrapped.back()));
    for (int n = 1; n <= 6; ++n) {
        SCOPED_TRACE(n);
        PKIBlob blob = ViewOf(wrapped[static_cast<std::size_t>(n)]);
        void* read = nullptr;
        std::uint32_t format = 0;
        const int viaMarked = facade->ReadMarkedBlob(&blob, "pw", &format, &read);
        EXPECT_EQ(viaMarked, n <= 4 ? 1 : 0);
        if (read) {
            EXPECT_EQ(KeyBytes(read), "deep");
            static_cast<IPKIObject*>(read)->Release();
        }
        read = nullptr;
        EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 1, &format, &read), n <= 3 ? 1 : 0);
        if (read) static_cast<IPKIObject*>(read)->Release();
    }
    // Key stores inside key stores count the same way.
    Bytes store = inner;
    for (int depth = 1; depth <= 5; ++depth) {
        StoreWriter w(2, 1);
        w.Key("k", std::string(store.begin(), store.end()), {});
        store = w.bytes;
        PKIBlob blob = ViewOf(store);
        void* read = nullptr;
        std::uint32_t format = 0;
        EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 1, &format, &read), depth <= 3 ? 1 : 0) << depth;
        if (read) static_cast<IPKIObject*>(read)->Release();
    }
    Bytes chain(20000 * 17, 0);
    for (std::size_t at = 0; at < chain.size(); at += 17) std::memcpy(chain.data() + at, "Enis", 4);
    chain.insert(chain.end(), inner.begin(), inner.end());
    PKIBlob blob = ViewOf(chain);
    void* read = nullptr;
    EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 1, nullptr, &read), 0);
    EXPECT_EQ(read, nullptr);
}

// The algorithm choice is reset before the key is encrypted; the encoding
// goes out in a blob of the caller's, and the library's copy back wiped.
TEST_F(KeyFiles, WrapPrivateKeyResetsTheAlgorithmThenEncrypts)
{
    auto* key = new fake::KeyObject(lib);
    PKIBlob out{0, nullptr};
    ASSERT_EQ(facade->WrapPrivateKey(key, "secret", &out), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data), out.length),
              fake::EncryptedKey::Encoding("secret", "wrapped"));
    facade->ReleaseBlob(&out);
    std::vector<std::string> steps;
    for (const std::string& entry : lib.log)
        if (entry.rfind("4882:", 0) == 0) steps.push_back(entry);
    EXPECT_EQ(steps, (std::vector<std::string>{"4882:12(0)", "4882:5(secret)", "4882:3()", "4882:1()"}));
    key->Release();
}

// A failure or a throw at any library step of the encrypted-key read (and
// of the key-store attempt that follows a refused decoding) leaves nothing
// behind.
TEST(KeyFilesSweep, EncryptedKeyAndKeyStoreReads)
{
    for (bool viaStore : {false, true}) {
        fake::SweepFailures(
            viaStore ? "key store" : "encrypted key",
            [viaStore](SPKIFormats& f, fake::Library& lib) {
                fake::UseKeyFileObjects(lib);
                StoreWriter w(2, 1);
                w.Key("k", fake::EncryptedKey::Encoding("pw", "k", true), {"C"});
                Bytes data = viaStore ? w.bytes : Of(fake::EncryptedKey::Encoding("pw", "k"));
                PKIBlob blob = ViewOf(data);
                void* read = nullptr;
                std::uint32_t format = 0;
                int rc = f.ReadPrivateKeyAnyFormat(&blob, "pw", 0, &format, &read);
                if (read) static_cast<IPKIObject*>(read)->Release();
                return rc;
            },
            false);
    }
}

// An entry's chain goes out as certificates-only signed data in a content
// info: every certificate decoded and added in order (version 2's type
// fields skipped), a trusted-certificate entry's one certificate too.
TEST_F(KeyFiles, KeyStoreCertificatesAsSignedData)
{
    fake::UseEnvelopedObjects(lib);  // its content info
    fake::UseTypedObjects(lib);      // its signed data takes certificates
    for (std::uint32_t version : {1u, 2u}) {
        SCOPED_TRACE(version);
        StoreWriter w(version, 2);
        w.Trusted("root", "ROOT-DER").Key("k", fake::EncryptedKey::Encoding("pw", "k"), {"A-DER", "INTERMEDIATE"});
        PKIBlob store = w.View(), entries{0, nullptr}, entry{0, nullptr}, bundle{0, nullptr};
        ASSERT_EQ(facade->ReadKeyStoreHeader(&store, nullptr, nullptr, &entries), 1);
        struct Case {
            const char* alias;
            std::vector<std::string> decoded;
        };
        for (const Case& c : {Case{"k", {"4870:4(5)", "4870:4(12)"}}, Case{"root", {"4870:4(8)"}}}) {
            ASSERT_EQ(facade->FindKeyStoreEntry(version, c.alias, &entries, &entry), 1);
            lib.log.clear();
            ASSERT_EQ(facade->GetKeyStoreCertificates(version, &entry, &bundle), 1) << c.alias;
            EXPECT_EQ(std::string(reinterpret_cast<char*>(bundle.data), bundle.length),
                      "content info:1.2.840.113549.1.7.2");
            std::vector<std::string> steps, expected;
            for (const std::string& e : lib.log)
                if (e.rfind("4870:4", 0) == 0 || e.rfind("4900:7", 0) == 0 || e.rfind("4879:", 0) == 0)
                    steps.push_back(e);
            for (const std::string& d : c.decoded) expected.insert(expected.end(), {d, "4900:7()"});
            expected.insert(expected.end(), {"4879:6(1.2.840.113549.1.7.2)", "4879:8()", "4879:3()", "4879:1()"});
            EXPECT_EQ(steps, expected) << c.alias;
            facade->ReleaseBlob(&bundle);
        }
        // A bundle asked for with the key comes only with a key that opens.
        void* key = nullptr;
        EXPECT_EQ(facade->ReadKeyStoreEntry(&store, "k", "wrong", &key, &bundle), 0);
        EXPECT_EQ(bundle.data, nullptr);
        ASSERT_EQ(facade->ReadKeyStoreEntry(&store, "k", "pw", &key, &bundle), 1);
        EXPECT_NE(bundle.data, nullptr);
        facade->ReleaseBlob(&bundle);
        static_cast<IPKIObject*>(key)->Release();
    }
}

// A container's certificates go into the same bundle, each added as it is;
// a container without certificates gives none.
TEST_F(KeyFiles, ContainerCertificatesAsSignedData)
{
    fake::UseEnvelopedObjects(lib);
    fake::UseTypedObjects(lib);
    auto* container = new fake::KeyContainer(lib);
    auto* keys = static_cast<IPKIKeyObject*>(container);
    PKIBlob bundle{0, nullptr};
    std::uint32_t count = 9;
    EXPECT_EQ(facade->GetContainerCertificates(keys, &bundle, &count), 0);
    EXPECT_EQ(bundle.data, nullptr);
    for (int i = 0; i < 2; ++i)
        container->certificates.push_back(static_cast<IPKICertificate*>(new fake::ScriptedCertificate(lib)));
    lib.log.clear();
    ASSERT_EQ(facade->GetContainerCertificates(keys, &bundle, &count), 1);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bundle.data), bundle.length), "content info:1.2.840.113549.1.7.2");
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4900:7", 0) == 0 || e.rfind("4879:", 0) == 0) steps.push_back(e);
    EXPECT_EQ(steps, (std::vector<std::string>{"4900:7()", "4900:7()", "4879:6(1.2.840.113549.1.7.2)", "4879:8()",
                                               "4879:3()", "4879:1()"}));
    EXPECT_EQ(facade->GetContainerCertificates(keys, &bundle, nullptr), 0);  // the output is taken
    facade->ReleaseBlob(&bundle);
    container->Release();
}

// ---- Protected key files ----

namespace {

constexpr std::uint16_t kKeyLayouts = 0x4C51, kEncrypted = 0x5A42;

// A protected key file written field by field (little-endian): marker,
// payload length and payload, then an optional trailer of a length and text.
struct ProtectedFileWriter {
    ProtectedFileWriter(std::uint16_t marker, const Bytes& payload)
    {
        bytes = {static_cast<std::uint8_t>(marker), static_cast<std::uint8_t>(marker >> 8)};
        U32(static_cast<std::uint32_t>(payload.size()));
        bytes.insert(bytes.end(), payload.begin(), payload.end());
    }
    void U32(std::uint32_t v)
    {
        for (int s = 0; s < 32; s += 8) bytes.push_back(static_cast<std::uint8_t>(v >> s));
    }
    // A trailer of `length` bytes: the text, then blanks.
    ProtectedFileWriter& Trailer(std::uint32_t length, const std::string& text)
    {
        U32(length);
        Bytes t(length, ' ');
        std::memcpy(t.data(), text.data(), std::min<std::size_t>(text.size(), length));
        bytes.insert(bytes.end(), t.begin(), t.end());
        return *this;
    }
    Bytes bytes;
};

std::string Hex(const Bytes& b)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (std::uint8_t v : b) s += {digits[v >> 4], digits[v & 15]};
    return s;
}

// Encrypts as a protected key file's writer does, each derivation step by
// hand through the CSP under its standard S-box 0: h1 = H(password), key =
// H(h1 followed by the 32-byte constant) as an incremental hash, start vector
// = the first 8 bytes of H(key), then GOST 28147 CFB.
Bytes EncryptForFile(CSP* csp, const std::string& password, Bytes data)
{
    GOST28147PackedSBox sBox{};
    EXPECT_NE(csp->Parameters().GetStandardSBox(0, &sBox), 0);
    const std::uint8_t zero[32] = {};
    std::uint8_t first[32], key[32], vector[32];
    EXPECT_EQ(csp->HashGOST34311(reinterpret_cast<const std::uint8_t*>(password.data()),
                                 static_cast<std::uint32_t>(password.size()), &sBox, zero, first),
              CSP_OK);
    const char constant[] = "protected key file derivation v1";
    CSPHandle state = nullptr;
    EXPECT_EQ(csp->BeginHashGOST34311(&sBox, zero, &state), CSP_OK);
    EXPECT_EQ(csp->UpdateHashGOST34311(first, 32, &state), CSP_OK);
    EXPECT_EQ(csp->UpdateHashGOST34311(reinterpret_cast<const std::uint8_t*>(constant), 32, &state), CSP_OK);
    EXPECT_EQ(csp->FinishHashGOST34311(key, &state), CSP_OK);
    EXPECT_EQ(csp->HashGOST34311(key, 32, &sBox, zero, vector), CSP_OK);
    EXPECT_EQ(csp->EncryptCFBGOST28147(data.data(), static_cast<std::uint32_t>(data.size()), &sBox, key, vector, 0, 0),
              CSP_OK);
    return data;
}

fake::KeyContainer* AsContainer(void* read)
{
    return dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(static_cast<IPKIObject*>(read)));
}

}  // namespace

// An encrypted payload decodes as a key container: one key without
// certificates is rebuilt around that key, more keys go into a new container
// with the CSP's standard S-box; the any-format reader reports code 5. A
// wrong password opens nothing and leaves nothing behind.
TEST_F(KeyFiles, ProtectedFileWithAnEncryptedContainer)
{
    const Bytes sBox = StandardSBox();
    ProtectedFileWriter one(kEncrypted, EncryptForFile(csp, "pw", Of(fake::KeyContainer::Encoding({"file-key"}))));
    one.Trailer(64, std::string(64, 'F'));  // a trailer is read but names nothing here
    PKIBlob blob = ViewOf(one.bytes);
    void* read = nullptr;
    ASSERT_EQ(facade->ReadProtectedKeyFile(&blob, "pw", &read), 1);
    ASSERT_NE(AsContainer(read), nullptr);
    EXPECT_EQ(KeyBytes(read), "file-key");
    EXPECT_TRUE(AsContainer(read)->sBox.empty());
    static_cast<IPKIObject*>(read)->Release();

    std::uint32_t format = 0;
    read = nullptr;
    ASSERT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 1, &format, &read), 1);
    EXPECT_EQ(format, 5u);
    EXPECT_EQ(KeyBytes(read), "file-key");
    static_cast<IPKIObject*>(read)->Release();

    ProtectedFileWriter two(kEncrypted, EncryptForFile(csp, "pw", Of(fake::KeyContainer::Encoding({"k1", "k2"}))));
    blob = ViewOf(two.bytes);
    read = nullptr;
    ASSERT_EQ(facade->ReadProtectedKeyFile(&blob, "pw", &read), 1);
    auto* outer = AsContainer(read);
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->sBox, sBox);
    ASSERT_EQ(outer->entries.size(), 1u);
    auto* inner = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(outer->entries[0].key));
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->entries.size(), 2u);
    static_cast<IPKIObject*>(read)->Release();

    for (const char* wrong : {"pW", "", "pw "}) {
        read = nullptr;
        EXPECT_EQ(facade->ReadProtectedKeyFile(&blob, wrong, &read), 0) << wrong;
        EXPECT_EQ(facade->DecodeProtectedKey(&blob, wrong, &read, nullptr), 0) << wrong;
        EXPECT_EQ(read, nullptr);
    }
}

// A payload of another layout is read with the password; the trailer's
// hexadecimal text holds the encrypted name fields, handed out only when
// asked for and only with the key.
TEST_F(KeyFiles, ProtectedFileOfAnotherLayoutWithNameFields)
{
    Bytes fields(32);
    for (std::size_t i = 0; i < fields.size(); ++i) fields[i] = static_cast<std::uint8_t>(0x30 + i);
    ProtectedFileWriter w(kKeyLayouts, Of(fake::EncryptedKey::Encoding("pw", "inner-key")));
    w.Trailer(80, Hex(EncryptForFile(csp, "pw", fields)));
    PKIBlob blob = ViewOf(w.bytes), names{0, nullptr};
    void* read = nullptr;
    ASSERT_EQ(facade->DecodeProtectedKey(&blob, "pw", &read, &names), 1);
    EXPECT_EQ(KeyBytes(read), "inner-key");
    EXPECT_EQ(Bytes(names.data, names.data + names.length), fields);
    static_cast<IPKIObject*>(read)->Release();
    facade->ReleaseBlob(&names);

    // A blob still holding something is not overwritten.
    std::uint8_t held = 0;
    names = PKIBlob{1, &held};
    read = nullptr;
    EXPECT_EQ(facade->DecodeProtectedKey(&blob, "pw", &read, &names), 0);
    EXPECT_EQ(read, nullptr);

    names = PKIBlob{0, nullptr};
    EXPECT_EQ(facade->DecodeProtectedKey(&blob, "wrong", &read, &names), 0);
    EXPECT_EQ(names.data, nullptr);
    EXPECT_EQ(read, nullptr);

    // The file read as a whole: the key in a new container with the S-box.
    std::uint32_t format = 0;
    ASSERT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 0, &format, &read), 1);
    EXPECT_EQ(format, 5u);
    EXPECT_EQ(KeyBytes(read), "inner-key");
    static_cast<IPKIObject*>(read)->Release();
}

// Lengths that run past the blob, a trailer shorter than 64 bytes or whose
// text is not hexadecimal, and bytes belonging to no field are refused; so
// is every cut of a file but the one that drops the whole trailer.
TEST_F(KeyFiles, MalformedProtectedFilesAreRefused)
{
    const Bytes payload = Of(fake::EncryptedKey::Encoding("pw", "k", true));
    const std::string text(64, 'a');
    struct Case {
        const char* what;
        Bytes file;
        int accepted;
    };
    auto file = [&](std::uint16_t marker, std::function<void(ProtectedFileWriter&)> more) {
        ProtectedFileWriter w(marker, payload);
        if (more) more(w);
        return w.bytes;
    };
    Bytes longPayload = file(kKeyLayouts, nullptr);
    longPayload[2] += 1;
    const Case cases[] = {
        {"no trailer", file(kKeyLayouts, nullptr), 1},
        {"trailer of 64", file(kKeyLayouts, [&](auto& w) { w.Trailer(64, text); }), 1},
        {"trailer of 63", file(kKeyLayouts, [&](auto& w) { w.Trailer(63, text); }), 0},
        {"unknown marker", file(0x4D51, nullptr), 0},
        {"payload past the end", longPayload, 0},
        {"trailer past the end", file(kKeyLayouts, [&](auto& w) { w.U32(65), w.bytes.resize(w.bytes.size() + 64); }),
         0},
        {"trailer not hexadecimal", file(kKeyLayouts, [&](auto& w) { w.Trailer(64, std::string(63, '0') + "g"); }), 0},
        {"two stray bytes", file(kKeyLayouts, [&](auto& w) { w.bytes.push_back(1), w.bytes.push_back(0); }), 0},
        {"a byte past the trailer", file(kKeyLayouts, [&](auto& w) { w.Trailer(64, text).bytes.push_back(0); }), 0},
        {"huge trailer length", file(kKeyLayouts, [&](auto& w) { w.U32(0xFFFFFFFF), w.Trailer(64, text); }), 0},
    };
    for (const Case& c : cases) {
        Bytes data = c.file;
        PKIBlob blob = ViewOf(data);
        void* read = nullptr;
        EXPECT_EQ(facade->DecodeProtectedKey(&blob, "pw", &read, nullptr), c.accepted) << c.what;
        if (read) static_cast<IPKIObject*>(read)->Release();
    }
    const Bytes whole = file(kKeyLayouts, [&](auto& w) { w.Trailer(64, text); });
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        Bytes b(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
        PKIBlob blob{static_cast<std::uint32_t>(b.size()), b.empty() ? nullptr : b.data()};
        void* read = nullptr;
        ASSERT_EQ(facade->DecodeProtectedKey(&blob, "pw", &read, nullptr), cut == 6 + payload.size() ? 1 : 0) << cut;
        if (read) static_cast<IPKIObject*>(read)->Release();
    }
}

// Protected files wrapping protected files count against the nesting limit
// as the other wrappers do.
TEST_F(KeyFiles, ProtectedFilesNestWithinTheLimit)
{
    Bytes data = Of(fake::EncryptedKey::Encoding("pw", "deep"));
    for (int depth = 1; depth <= 5; ++depth) {
        data = ProtectedFileWriter(kKeyLayouts, data).bytes;
        PKIBlob blob = ViewOf(data);
        void* read = nullptr;
        std::uint32_t format = 0;
        EXPECT_EQ(facade->ReadPrivateKeyAnyFormat(&blob, "pw", 1, &format, &read), depth <= 3 ? 1 : 0) << depth;
        if (read) {
            EXPECT_EQ(format, 5u);
            static_cast<IPKIObject*>(read)->Release();
        }
    }
}

// A failure or a throw at any library step of a protected file read leaves
// nothing behind.
TEST(KeyFilesSweep, ProtectedFileOfAnotherLayout)
{
    fake::SweepFailures(
        "protected file",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UseKeyFileObjects(lib);
            ProtectedFileWriter w(kKeyLayouts, Of(fake::EncryptedKey::Encoding("pw", "k", true)));
            PKIBlob blob = ViewOf(w.Trailer(64, std::string(64, '0')).bytes);
            void* read = nullptr;
            int rc = f.DecodeProtectedKey(&blob, "pw", &read, nullptr);
            if (read) static_cast<IPKIObject*>(read)->Release();
            return rc;
        },
        false);
}

// ---- PKCS#12 files ----

// A protected file opens only with its password; an unprotected one with
// any; data that are no file open nothing.
TEST_F(KeyFiles, DecodePFXChecksTheIntegrityPassword)
{
    fake::UsePFXObjects(lib);
    struct Case {
        std::string data;
        const char* password;
        int opens;
    };
    const Case cases[] = {
        {fake::PFX::Encoding("secret"), "secret", 1},
        {fake::PFX::Encoding("secret"), "Secret", 0},
        {fake::PFX::Encoding("secret"), nullptr, 0},
        {fake::PFX::Encoding(nullptr), "any", 1},
        {fake::PFX::Encoding(""), "", 1},
        {"not a file", "secret", 0},
    };
    for (const Case& c : cases) {
        Bytes data = Of(c.data);
        PKIBlob blob = ViewOf(data);
        void* pfx = reinterpret_cast<void*>(1);
        EXPECT_EQ(facade->DecodePFX(&blob, c.password, &pfx), c.opens)
            << c.data << " / " << (c.password ? c.password : "none");
        EXPECT_EQ(pfx != nullptr, c.opens == 1);
        if (pfx) static_cast<IPKIObject*>(pfx)->Release();
    }
}

// Every key of a container goes into a bag of its own, encrypted under the
// password; a container without keys adds nothing.
TEST_F(KeyFiles, PFXKeyBagsFromAContainersKeys)
{
    fake::UsePFXObjects(lib);
    void* made = nullptr;
    ASSERT_EQ(facade->CreatePFX(&made), 1);
    auto* pfx = dynamic_cast<fake::PFX*>(static_cast<IPKIKeyContainer*>(made));
    ASSERT_NE(pfx, nullptr);
    auto* container = new fake::KeyContainer(lib);
    for (int i = 0; i < 2; ++i) container->Add(new fake::KeyObject(lib), 1);
    lib.log.clear();
    ASSERT_EQ(facade->AddPFXKeys(pfx, static_cast<IPKIKeyObject*>(container), "bag-pw"), 1);
    ASSERT_EQ(pfx->bags.size(), 2u);
    for (fake::EntryList* bag : pfx->bags) {
        ASSERT_EQ(bag->keys.size(), 1u);
        PKIBlob encoded{0, nullptr};
        ASSERT_EQ(bag->keys[0]->Encode(&encoded), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(encoded.data), encoded.length),
                  fake::EncryptedKey::Encoding("bag-pw", "wrapped"));
        std::memset(encoded.data, 0, encoded.length);
        lib.FreeBlob(&encoded);
    }
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4882:5", 0) == 0 || e.rfind("4930:7", 0) == 0 || e.rfind("4931:7", 0) == 0) steps.push_back(e);
    const std::vector<std::string> bag = {"4882:5(bag-pw)", "4930:7()", "4931:7()"};
    std::vector<std::string> expected = bag;
    expected.insert(expected.end(), bag.begin(), bag.end());
    EXPECT_EQ(steps, expected);
    container->Release();

    auto* empty = new fake::KeyContainer(lib);
    EXPECT_EQ(facade->AddPFXKeys(pfx, static_cast<IPKIKeyObject*>(empty), "pw"), 0);
    EXPECT_EQ(pfx->bags.size(), 2u);
    empty->Release();
    pfx->Release();
}

TEST(KeyFilesSweep, PFXKeyBags)
{
    fake::SweepFailures(
        "PFX key bags",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UsePFXObjects(lib);
            auto* container = new fake::KeyContainer(lib);
            container->Add(new fake::KeyObject(lib), 1);
            void* pfx = nullptr;
            int rc = f.CreatePFX(&pfx) &&
                     f.AddPFXKeys(static_cast<IPKIObject*>(pfx), static_cast<IPKIKeyObject*>(container), "pw");
            if (pfx) static_cast<IPKIObject*>(pfx)->Release();
            container->Release();
            return rc;
        },
        true);
}

TEST(PFXBagSlots, TheFileAndBagSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_PFX_BAG_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

namespace {

// A certificate object as the key lists and bags hand them out.
fake::Certificate* NewCertificate(fake::Library& lib)
{
    auto* c = new fake::Certificate(lib);
    c->offers.insert(PKI_IID_CERTIFICATE);
    return c;
}

// A container of `keys` keys and `certificates` certificates.
fake::KeyContainer* NewContainer(fake::Library& lib, int keys, int certificates)
{
    auto* container = new fake::KeyContainer(lib);
    for (int i = 0; i < keys; ++i) container->Add(new fake::KeyObject(lib), 1);
    for (int i = 0; i < certificates; ++i) container->certificates.push_back(NewCertificate(lib));
    return container;
}

// Adds a bag holding `key` or `certificate` (taken over) with an optional
// local key identifier, outside the library's calls (the sweep fails only
// the operation's own).
void AddBag(fake::Library& lib, fake::PFX* pfx, fake::EncryptedKey* key, IPKIObject* certificate, const std::string& id)
{
    auto* bag = new fake::EntryList(lib);
    if (key) {
        bag->keys.push_back(key);
        bag->keyIds.push_back(Of(id));
    } else {
        bag->certificates.push_back(certificate);
        bag->certificateIds.push_back(Of(id));
    }
    pfx->bags.push_back(bag);
}

fake::EncryptedKey* NewEncryptedKey(fake::Library& lib, const std::string& password, const std::string& key)
{
    auto* k = new fake::EncryptedKey(lib);
    k->Load(fake::EncryptedKey::Encoding(password, key));
    return k;
}

// A file read from elsewhere: a key bag no password here opens, keys under
// "pw" as written and as re-encoded text, certificates with and without
// local key identifiers. The certificates are returned in bag order.
fake::PFX* ReadFile(fake::Library& lib, std::vector<IPKIObject*>& certificates)
{
    auto* pfx = new fake::PFX(lib);
    AddBag(lib, pfx, NewEncryptedKey(lib, "other", "k0"), nullptr, "ID0");
    AddBag(lib, pfx, NewEncryptedKey(lib, "pw", "k1"), nullptr, "ID1");
    const std::string ids[] = {"ID1", "", "ID2"};
    for (const std::string& id : ids) {
        IPKIObject* c = static_cast<IPKICertificate*>(NewCertificate(lib));
        certificates.push_back(c);
        AddBag(lib, pfx, nullptr, c, id);
    }
    AddBag(lib, pfx, NewEncryptedKey(lib, "utf8:pw", "k2"), nullptr, "ID2");
    return pfx;
}

std::string Text(const PKIBlob& b)
{
    return b.data ? std::string(reinterpret_cast<char*>(b.data), b.length) : "";
}

}  // namespace

// A file of a container's keys and certificates: key bags first, then one
// plain bag per certificate, then the protection under the password and the
// encoding. Without the encode flag nothing is written; without keys and
// certificates, or with a list that has no certificate, nothing is made.
TEST_F(KeyFiles, MakePFXFromKeysAndCertificates)
{
    fake::UsePFXObjects(lib);
    fake::KeyContainer* container = NewContainer(lib, 2, 2);
    auto* keys = static_cast<IPKIKeyObject*>(container);
    PKIBlob out{0, nullptr};
    lib.log.clear();
    ASSERT_EQ(facade->MakePFX(keys, keys, "pw", &out, 1), 1);
    EXPECT_EQ(Text(out), fake::PFX::Encoding("pw", 4));
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4882:5", 0) == 0 || e.rfind("4930:7", 0) == 0 || e.rfind("4931:", 0) == 0) steps.push_back(e);
    const std::vector<std::string> order = {"4882:5(pw)", "4930:7()", "4931:7()",      "4882:5(pw)",
                                            "4930:7()",   "4931:7()", "4930:7()",      "4931:7()",
                                            "4930:7()",   "4931:7()", "4931:15(1,pw)", "4931:3()"};
    std::vector<std::string> made;
    for (const std::string& e : steps)
        if (e != "4931:1()") made.push_back(e);
    EXPECT_EQ(made, order);
    facade->ReleaseBlob(&out);

    // No password: encoded without protection; no encode flag: nothing written.
    ASSERT_EQ(facade->MakePFX(nullptr, keys, nullptr, &out, 1), 1);
    EXPECT_EQ(Text(out), fake::PFX::Encoding(nullptr, 2));
    facade->ReleaseBlob(&out);
    EXPECT_EQ(facade->MakePFX(keys, nullptr, "pw", &out, 0), 1);
    EXPECT_EQ(out.data, nullptr);

    fake::KeyContainer* bare = NewContainer(lib, 1, 0);
    auto* bareKeys = static_cast<IPKIKeyObject*>(bare);
    EXPECT_EQ(facade->MakePFX(nullptr, nullptr, "pw", &out, 1), 0);
    EXPECT_EQ(facade->MakePFX(bareKeys, bareKeys, "pw", &out, 1), 0);
    EXPECT_EQ(out.data, nullptr);
    bare->Release();
    container->Release();
}

// The value goes in before the encoding; 0 leaves it alone, and an absent
// password leaves the file unprotected.
TEST_F(KeyFiles, SetPFXBagValueSetsThenEncodes)
{
    fake::UsePFXObjects(lib);
    void* made = nullptr;
    ASSERT_EQ(facade->CreatePFX(&made), 1);
    auto* pfx = dynamic_cast<fake::PFX*>(static_cast<IPKIKeyContainer*>(made));
    PKIBlob out{0, nullptr};
    lib.log.clear();
    ASSERT_EQ(facade->SetPFXBagValue(pfx, nullptr, 7, &out), 1);
    EXPECT_EQ(pfx->value, 7u);
    EXPECT_EQ(Text(out), fake::PFX::Encoding(nullptr));
    std::vector<std::string> steps;
    for (const std::string& e : lib.log)
        if (e.rfind("4931:", 0) == 0) steps.push_back(e);
    EXPECT_EQ(steps, (std::vector<std::string>{"4931:20(7)", "4931:3()"}));
    facade->ReleaseBlob(&out);
    ASSERT_EQ(facade->SetPFXBagValue(pfx, "pw", 0, &out), 1);
    EXPECT_EQ(pfx->value, 7u);
    EXPECT_EQ(Text(out), fake::PFX::Encoding("pw"));
    // An output that already holds data is refused rather than overwritten.
    EXPECT_EQ(facade->SetPFXBagValue(pfx, "pw", 0, &out), 0);
    facade->ReleaseBlob(&out);
    pfx->Release();
}

// Keys count only among the bags that open (as written or as re-encoded
// text), each with its local key identifier; certificates count among the
// certificate bags, only those of the given identifier when one is given.
TEST_F(KeyFiles, PFXKeyBagsAndCertificatesByIndex)
{
    fake::UsePFXObjects(lib);
    std::vector<IPKIObject*> certificates;
    fake::PFX* pfx = ReadFile(lib, certificates);
    struct KeyCase {
        std::uint32_t index;
        std::string key, id;
    };
    const KeyCase keys[] = {{0, "k1", "ID1"}, {1, "k2", "ID2"}, {2, "", ""}};
    for (const KeyCase& c : keys) {
        void* key = reinterpret_cast<void*>(1);
        PKIBlob id{0, nullptr};
        EXPECT_EQ(facade->GetPFXKeyBag(pfx, c.index, "pw", &key, &id), c.key.empty() ? 0 : 1) << c.index;
        EXPECT_EQ(key ? KeyBytes(key) : "", c.key) << c.index;
        EXPECT_EQ(Text(id), c.id) << c.index;
        if (key) static_cast<IPKIObject*>(key)->Release();
        facade->ReleaseBlob(&id);
    }
    void* key = nullptr;
    EXPECT_EQ(facade->GetPFXKeyBag(pfx, 0, "wrong", &key, nullptr), 0);

    struct CertificateCase {
        const char* id;
        std::uint32_t index;
        int which;  // position among the file's certificates, -1 none
    };
    const CertificateCase cases[] = {{nullptr, 0, 0}, {nullptr, 1, 1}, {nullptr, 2, 2}, {nullptr, 3, -1},
                                     {"ID2", 0, 2},   {"ID2", 1, -1},  {"ID1", 0, 0},   {"ID", 0, -1}};
    for (const CertificateCase& c : cases) {
        Bytes id = Of(c.id ? c.id : "");
        PKIBlob idBlob = ViewOf(id);
        void* certificate = reinterpret_cast<void*>(1);
        EXPECT_EQ(facade->GetPFXCertificate(pfx, c.id ? &idBlob : nullptr, c.index, &certificate), c.which >= 0)
            << (c.id ? c.id : "-") << c.index;
        EXPECT_EQ(certificate,
                  c.which >= 0 ? static_cast<void*>(certificates[static_cast<std::size_t>(c.which)]) : nullptr);
        if (certificate) static_cast<IPKIObject*>(certificate)->Release();
    }
    pfx->Release();
}

// Certificates go to the key whose identifiers hold their subject key
// identifier, in list order; one of no key here is passed over. A container
// with an incomplete key takes them only when its own check accepts.
TEST_F(KeyFiles, AttachCertificatesToKeysByIdentifier)
{
    auto* container = new fake::KeyContainer(lib);
    for (std::uint8_t id : {0xA0, 0xB0}) {
        auto* key = new fake::KeyObject(lib);
        key->capabilities = 1;
        key->dstuPrivate = {1};
        key->agreementPrivate = {2};
        container->Add(key, 1, 0, Bytes(32, id));
    }
    auto* list = new fake::KeyContainer(lib);
    for (char id : {'\xB0', '\xA0', '\xC0', '\xB0'}) {
        auto* c = new fake::ScriptedCertificate(lib);
        c->keyId = std::string(32, id);
        list->certificates.push_back(static_cast<IPKICertificate*>(c));
    }
    auto* keys = static_cast<IPKIKeyObject*>(container);
    auto* certificates = static_cast<IPKIKeyObject*>(list);
    ASSERT_EQ(facade->AttachCertificatesToKeys(keys, certificates), 1);
    std::vector<std::pair<std::uint32_t, IPKIObject*>> expected = {
        {1, list->certificates[0]}, {0, list->certificates[1]}, {1, list->certificates[3]}};
    EXPECT_EQ(container->attached, expected);

    // The second key loses its private key: refused unless the container accepts.
    for (auto& [index, c] : container->attached) c->Release();
    container->attached.clear();
    dynamic_cast<fake::KeyObject*>(static_cast<IPKIKeyObject*>(container->entries[1].key))->dstuPrivate.clear();
    EXPECT_EQ(facade->AttachCertificatesToKeys(keys, certificates), 0);
    EXPECT_TRUE(container->attached.empty());
    container->acceptsIncomplete = 1;
    EXPECT_EQ(facade->AttachCertificatesToKeys(keys, certificates), 1);
    EXPECT_EQ(container->attached.size(), 3u);
    list->Release();
    container->Release();
}

// Every key entry that opens goes into one container with its chain, in
// store order; a key marked with attribute 4363 and one under another
// password are passed over; the CSP's standard S-box goes in. A container
// that refuses certificates for its incomplete keys, or a store with no key
// that opens, gives nothing.
TEST_F(KeyFiles, ReadKeyStoreKeysCollectsEveryKeyThatOpens)
{
    using fake::EncryptedKey;
    for (std::uint32_t version : {1u, 2u}) {
        StoreWriter w(version, 5);
        w.Trusted("root", "ROOT-DER")
            .Key("Alpha", EncryptedKey::Encoding("pw", "alpha-key"), {"A-DER", "ROOT-DER"})
            .Key("beta", EncryptedKey::Encoding("pw", "beta-key", true), {"B-DER"})
            .Key("gamma", EncryptedKey::Encoding("other", "gamma-key"), {"G-DER"})
            .Key("delta", EncryptedKey::Encoding("pw", "delta-key"), {"D-DER"});
        PKIBlob store = w.View();
        void* read = reinterpret_cast<void*>(1);
        EXPECT_EQ(facade->ReadKeyStoreKeys(&store, "pw", &read), 0) << version;
        EXPECT_EQ(read, nullptr);

        lib.makers[{PKI_CLASS_KEY, PKI_IID_KEY}] = [this]() -> void* {
            auto* container = new fake::KeyContainer(lib);
            container->OfferKeySet();
            container->acceptsIncomplete = 1;
            return static_cast<IPKIKeyObject*>(container);
        };
        ASSERT_EQ(facade->ReadKeyStoreKeys(&store, "pw", &read), 1) << version;
        auto* container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(read));
        ASSERT_NE(container, nullptr);
        std::vector<std::string> keys, certificates;
        for (const fake::KeyContainer::Entry& e : container->entries) keys.push_back(KeyBytes(e.key));
        for (IPKIObject* c : container->certificates)
            certificates.push_back(dynamic_cast<fake::Certificate*>(static_cast<IPKICertificate*>(c))->decoded);
        EXPECT_EQ(keys, (std::vector<std::string>{"alpha-key", "delta-key"}));
        EXPECT_EQ(certificates, (std::vector<std::string>{"A-DER", "ROOT-DER", "D-DER"}));
        EXPECT_EQ(container->sBox, StandardSBox());
        container->Release();
        // Read as any layout: the whole store, not its first entry alone.
        std::uint32_t format = 0;
        ASSERT_EQ(facade->ReadPrivateKeyAnyFormat(&store, "pw", 0, &format, &read), 1);
        EXPECT_EQ(format, 6u);
        EXPECT_EQ(KeyBytes(read), "<2 keys>");
        static_cast<IPKIObject*>(read)->Release();

        // Each library call failing or throwing in turn: nothing stays
        // behind (the fixture's tear-down counts objects and blobs).
        const int before = lib.Calls();
        read = nullptr;
        ASSERT_EQ(facade->ReadKeyStoreKeys(&store, "pw", &read), 1);
        static_cast<IPKIObject*>(read)->Release();
        const int calls = lib.Calls() - before;
        for (bool throws : {false, true}) {
            for (int k = 1; k <= calls; ++k) {
                lib.FailCall(k, PKI_E_OUT_OF_MEMORY, throws);
                read = nullptr;
                if (facade->ReadKeyStoreKeys(&store, "pw", &read)) static_cast<IPKIObject*>(read)->Release();
                lib.FailCall(0);
            }
        }

        EXPECT_EQ(facade->ReadKeyStoreKeys(&store, "nothing opens", &read), 0);
        fake::UseKeyFileObjects(lib);
    }
}

TEST(KeyFilesSweep, PFXMadeAndRead)
{
    fake::SweepFailures(
        "PFX made",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UsePFXObjects(lib);
            fake::KeyContainer* container = NewContainer(lib, 1, 1);
            auto* keys = static_cast<IPKIKeyObject*>(container);
            PKIBlob out{0, nullptr};
            int rc = f.MakePFX(keys, keys, "pw", &out, 1);
            f.ReleaseBlob(&out);
            container->Release();
            return rc;
        },
        true);
    fake::SweepFailures(
        "PFX read",
        [](SPKIFormats& f, fake::Library& lib) {
            fake::UsePFXObjects(lib);
            std::vector<IPKIObject*> certificates;
            fake::PFX* pfx = ReadFile(lib, certificates);
            void *key = nullptr, *certificate = nullptr;
            PKIBlob id{0, nullptr};
            int rc = f.GetPFXKeyBag(pfx, 1, "pw", &key, &id) && f.GetPFXCertificate(pfx, &id, 0, &certificate);
            if (key) static_cast<IPKIObject*>(key)->Release();
            if (certificate) static_cast<IPKIObject*>(certificate)->Release();
            f.ReleaseBlob(&id);
            pfx->Release();
            return rc;
        },
        false);
    fake::SweepFailures(
        "certificates attached",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* container = new fake::KeyContainer(lib);
            auto* key = new fake::KeyObject(lib);
            key->capabilities = 1;
            key->dstuPrivate = {1};
            key->agreementPrivate = {2};
            container->Add(key, 1, 0, Bytes(32, 0xA0));
            auto* c = new fake::ScriptedCertificate(lib);
            c->keyId = std::string(32, '\xA0');
            container->certificates.push_back(static_cast<IPKICertificate*>(c));
            auto* keys = static_cast<IPKIKeyObject*>(container);
            int rc = f.AttachCertificatesToKeys(keys, keys) && container->attached.size() == 1;
            container->Release();
            return rc;
        },
        false);
}

// ---- Key containers from private-key objects ----

namespace {

using KeyContainersFromKeys = KeyFiles;

// A device that generates signature keys on the curves it is given, and no
// agreement keys; it notes the curve numbers it was asked about.
class CurveDevice : public csptest::FakeHardware {
public:
    std::vector<std::uint32_t> served, asked;
    int GenerateSignatureKeyPair(const DSTU4145FieldRecord*, const DSTU4145PointRecord* point,
                                 std::uint8_t* publicKey) override
    {
        asked.push_back(point->words[DSTU4145_POINT_BITS]);
        if (publicKey) return 0;
        for (std::uint32_t c : served)
            if (c == point->words[DSTU4145_POINT_BITS]) return 1;
        return 0;
    }
};

}  // namespace

// The probe asks the key's own provider context: a software-only provider
// serves curve 13 (it is initialised) but not 11; a device lent by the key
// serves what it serves, signature keys only here; a key whose context cannot
// be had answers no.
TEST_F(KeyContainersFromKeys, CurveProbeWithTheKeysProvider)
{
    EXPECT_EQ(facade->IsCurveSupported(nullptr, 0, 13), 1);
    EXPECT_EQ(facade->IsCurveSupported(nullptr, 0, 11), 0);
    EXPECT_EQ(facade->IsCurveSupported(nullptr, 1, 11), 0);

    CurveDevice device;
    device.served = {11, 6};
    std::uint8_t prng = 0;
    auto* key = new fake::KeyContext(lib, 2, fake::CSPContextLike{nullptr, &device, &prng}, 0);
    EXPECT_EQ(facade->IsCurveSupported(key, 0, 11), 1);
    EXPECT_EQ(facade->IsCurveSupported(key, 0, 6), 1);
    EXPECT_EQ(facade->IsCurveSupported(key, 0, 9), 0);
    EXPECT_EQ(facade->IsCurveSupported(key, 1, 11), 0);
    EXPECT_EQ(device.asked, (std::vector<std::uint32_t>{11, 6, 9}));
    key->Release();

    auto* broken = new fake::KeyContext(lib, 2, fake::CSPContextLike{nullptr, &device, &prng}, PKI_E_FAILURE);
    EXPECT_EQ(facade->IsCurveSupported(broken, 0, 11), 0);
    broken->Release();
}

// The container takes the key through slot 8 and gives it back through slot
// 7, value and curve (the one table the key media read and write the same
// way). Without a private key its value is empty and the 76 bytes behind it
// are zeros; a curve the CSP rejects makes no container.
TEST_F(KeyContainersFromKeys, ContainerWithADSTU4145Key)
{
    fake::Curve curve;
    ASSERT_NE(csp->Parameters().GetStandardCurve(1, 3, &curve.field, &curve.point), 0);
    auto* parameters = new fake::CurveParameters(lib, curve);
    std::uint8_t privateKey[76];
    for (int i = 0; i < 76; ++i) privateKey[i] = static_cast<std::uint8_t>(0xA0 ^ i);

    void* made = nullptr;
    ASSERT_EQ(facade->MakeContainerWithDSTU4145Key(privateKey, parameters, &made), 1);
    {
        auto* container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(made));
        ASSERT_NE(container, nullptr);
        PKIBlob value{0, nullptr};
        void* read = nullptr;
        ASSERT_EQ(static_cast<IPKIKeyObject*>(made)->GetKeyValue(&value, &read), 0);
        EXPECT_EQ(Bytes(value.data, value.data + value.length), Bytes(privateKey, privateKey + 76));
        DSTU4145PointRecord point{};
        ASSERT_EQ(static_cast<IPKIParameters*>(read)->GetParameters(nullptr, &point, nullptr), 0);
        EXPECT_EQ(std::memcmp(&point, &curve.point, sizeof point), 0);
        static_cast<IPKIObject*>(read)->Release();
        std::memset(value.data, 0, value.length);
        lib.FreeBlob(&value);
        static_cast<IPKIObject*>(made)->Release();
    }

    made = nullptr;
    ASSERT_EQ(facade->MakeContainerWithDSTU4145Key(nullptr, parameters, &made), 1);
    auto* container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(made));
    ASSERT_NE(container, nullptr);
    EXPECT_TRUE(container->keyValue.empty());
    EXPECT_EQ(container->behindValue, Bytes(76, 0));
    static_cast<IPKIObject*>(made)->Release();

    fake::Curve bent = curve;
    bent.field.words[DSTU4145_FIELD_B] ^= 1;
    auto* rejected = new fake::CurveParameters(lib, bent);
    made = nullptr;
    EXPECT_EQ(facade->MakeContainerWithDSTU4145Key(privateKey, rejected, &made), 0);
    EXPECT_EQ(made, nullptr);
    rejected->Release();
    parameters->Release();
}

// A key's signature part goes into a new container; a key without its
// private key, with no device that generates keys, brings its identifier.
TEST_F(KeyContainersFromKeys, SignatureKeyContainers)
{
    auto* key = new fake::KeyObject(lib);
    ASSERT_NE(csp->Parameters().GetStandardCurve(1, 2, &key->curve.field, &key->curve.point), 0);
    key->dstuPrivate.assign(76, 0x3C);
    key->signatureId.assign(32, 0x51);
    void* made = nullptr;
    ASSERT_EQ(facade->MakeSignatureKeyContainer(key, &made), 1);
    auto* container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(made));
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(container->keyValue, Bytes(76, 0x3C));
    EXPECT_TRUE(container->signatureId.empty());
    static_cast<IPKIObject*>(made)->Release();

    key->dstuPrivate.clear();
    made = nullptr;
    ASSERT_EQ(facade->MakeSignatureKeyContainer(key, &made), 1);
    container = dynamic_cast<fake::KeyContainer*>(static_cast<IPKIKeyObject*>(made));
    EXPECT_TRUE(container->keyValue.empty());
    EXPECT_EQ(container->signatureId, Bytes(32, 0x51));
    static_cast<IPKIObject*>(made)->Release();

    key->signatureId.clear();  // nothing to identify the key by: no container
    made = nullptr;
    EXPECT_EQ(facade->MakeSignatureKeyContainer(key, &made), 0);
    EXPECT_EQ(made, nullptr);
    key->Release();
}
