// Key container queries and key identifiers over the real providers on the
// stand-in crypto libraries: identifiers are checked against the public key
// the CSP generated beside the private key (not one the facade computed),
// hashed as the library does, in both byte orders.
#include "FailureSweep.h"
#include "KeyProviders.h"
#include "VirtualSlot.h"

using namespace keytest;

namespace {

class KeyQueries : public Providers {
protected:
    // The identifier the double's library computes for `key` with operation
    // `op`, in a 32-byte field.
    static Bytes LibraryId(std::uint8_t op, const Bytes& key, std::size_t length, std::uint32_t size)
    {
        Bytes id(32, 0);
        fake::KeysLibrary::Identifier(op, key.data(), static_cast<std::uint32_t>(length), id.data(), size);
        return id;
    }
    static Bytes Reversed(Bytes key, std::size_t length)
    {
        std::reverse(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(length));
        return key;
    }
    static Bytes At(const std::uint8_t* ids, std::uint32_t i) { return Bytes(ids + 32 * i, ids + 32 * (i + 1)); }
};

}  // namespace

TEST(KeyContainerSlots, TheKeyListAndIdentifierSlotsSitWhereTheLibraryHasThem)
{
#define QVK_SLOT(cls, slot, op) EXPECT_EQ(qvktest::SlotOf(&cls::op), slot) << #cls "::" #op;
    QVK_PKI_KEY_CONTAINER_SLOTS(QVK_SLOT)
#undef QVK_SLOT
}

TEST(KeyQueriesPlain, ReverseBytesSwapsHalfTheLengthInPlace)
{
    SPKIFormats f(nullptr, nullptr, nullptr);
    struct Case {
        std::string in, out;
        std::uint32_t swaps;
    };
    for (const Case& c : {Case{"", "", 0}, Case{"a", "a", 0}, Case{"ab", "ba", 1}, Case{"abcde", "edcba", 2}}) {
        std::string s = c.in + "#";  // the byte past the length stays
        EXPECT_EQ(f.ReverseBytes(reinterpret_cast<std::uint8_t*>(s.data()), static_cast<std::uint32_t>(c.in.size())),
                  c.swaps);
        EXPECT_EQ(s, c.out + "#");
    }
}

// Below library version 272: the S-box form of the public key as stored and
// reversed (2); from 272 the DSTU 7564 form of both follows (4). The output
// past the count is not touched.
TEST_F(KeyQueries, DSTU4145KeyIdentifiersByLibraryVersion)
{
    const fake::Curve curve = StandardCurve(3);
    Bytes pub;
    auto* key = DSTU4145Key(curve, &pub);
    Drop drop{key};
    const std::size_t length = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
    for (std::uint32_t version : {271u, 272u}) {
        SCOPED_TRACE(version);
        lib.version = version;
        std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES + 4];
        std::memset(ids, 0xEE, sizeof ids);
        std::uint32_t count = 0;
        ASSERT_EQ(facade->GetKeyIdentifiers(key, &count, ids), 1);
        ASSERT_EQ(count, version < 272 ? 2u : 4u);
        EXPECT_EQ(At(ids, 0), LibraryId(18, pub, length, 20));
        EXPECT_EQ(At(ids, 1), LibraryId(18, Reversed(pub, length), length, 20));
        if (count == 4) {
            EXPECT_EQ(At(ids, 2), LibraryId(37, pub, length, 32));
            EXPECT_EQ(At(ids, 3), LibraryId(37, Reversed(pub, length), length, 32));
        }
        for (std::size_t i = 32 * count; i < sizeof ids; ++i) ASSERT_EQ(ids[i], 0xEE) << i;
    }
}

// A key without its private key has no public key to hash: the identifier it
// was given stands (count 1); with none, nothing is found.
TEST_F(KeyQueries, AKeyWithoutPublicKeyGivesTheIdentifierItWasGiven)
{
    auto* key = new fake::KeyObject(lib);
    Drop drop{key};
    key->capabilities = 1;
    key->curve = StandardCurve(0);
    std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
    std::uint32_t count = 0, flag = 9;
    EXPECT_EQ(facade->GetKeyIdentifiers(key, &count, ids), 0);
    EXPECT_EQ(facade->HasIdentifiedKey(key, &flag), 1);
    EXPECT_EQ(flag, 0u);
    key->signatureId.assign(20, 0x5A);
    ASSERT_EQ(facade->GetKeyIdentifiers(key, &count, ids), 1);
    EXPECT_EQ(count, 1u);
    Bytes expected(32, 0);
    std::fill(expected.begin(), expected.begin() + 20, 0x5A);
    EXPECT_EQ(At(ids, 0), expected);
    EXPECT_EQ(facade->HasIdentifiedKey(key, &flag), 1);
    EXPECT_EQ(flag, 1u);
}

// An EC key's identifier is its point through library operation 28, from
// version 262 on; RSA keys hash their public record with operation 17.
TEST_F(KeyQueries, ECAndRSAKeysHaveOneIdentifier)
{
    Bytes point;
    auto* ec = ECKey(4, &point);
    Drop dropEC{ec};
    std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
    std::uint32_t count = 0, kind = 0;
    ASSERT_EQ(facade->GetKeyIdentifiers(ec, &count, ids), 1);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(At(ids, 0), LibraryId(28, point, 152, 20));
    ASSERT_EQ(facade->GetKeyIdentifierAt(ec, 0, 0, &kind, &count, ids), 1);
    EXPECT_EQ(kind, 4u);
    EXPECT_EQ(facade->GetKeyIdentifierAt(ec, 0, 1, &kind, &count, ids), 0);
    lib.version = 261;
    EXPECT_EQ(facade->GetKeyIdentifiers(ec, &count, ids), 0);

    Bytes record;
    auto* rsa = RSAKey(1024, &record);
    Drop dropRSA{rsa};
    lib.version = 272;
    ASSERT_EQ(facade->GetKeyIdentifierAt(rsa, 0, 0, &kind, &count, ids), 1);
    EXPECT_EQ(kind, 2u);
    EXPECT_EQ(count, 1u);
    Bytes publicKey(PKIF_RSA_PUBLIC_KEY_BYTES);
    ASSERT_EQ(facade->GetRSAPublicKey(rsa, nullptr, publicKey.data(), nullptr), 1);
    EXPECT_EQ(At(ids, 0), LibraryId(17, publicKey, publicKey.size(), 20));
}

// A container of a signature key, an agreement key (given identifier only)
// and an RSA key: keys by position, the position of an identifier, the key
// that carries it, the signing key, and the list of all identifiers.
TEST_F(KeyQueries, ContainerKeysAndIdentifiers)
{
    lib.version = 271;
    auto* container = new fake::KeyContainer(lib);
    Drop drop{container};
    Bytes pub, record;
    container->Add(DSTU4145Key(StandardCurve(2), &pub), 1);
    auto* agreement = new fake::KeyObject(lib);
    agreement->capabilities = 1;
    Bytes entryBytes(32, 0x77);
    container->Add(agreement, 1, 1, entryBytes);
    container->Add(RSAKey(1024, &record), 2);

    EXPECT_EQ(facade->IsKeyContainer(container), 1);
    EXPECT_EQ(facade->IsKeyContainer(container->entries[0].key), 0);
    std::uint32_t capability = 0, value = 0, flag = 0;
    std::uint8_t bytes[32] = {};
    EXPECT_EQ(facade->GetContainerKey(container, 1, nullptr, &capability, &value, bytes), 1);
    EXPECT_EQ(capability, 1u);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(Bytes(bytes, bytes + 32), entryBytes);
    EXPECT_EQ(facade->GetContainerKey(container, 3, nullptr, &capability, &value, bytes), 0);
    EXPECT_EQ(facade->HasSigningKey(container, &flag), 1);
    EXPECT_EQ(flag, 1u);

    // The second key has no public key and no identifier of its own: the
    // entry's bytes are its identifier.
    std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
    std::uint32_t kind = 0, count = 0, index = 9;
    ASSERT_EQ(facade->GetContainerKeyIdentifiers(container, 1, &kind, &count, ids), 1);
    EXPECT_EQ(kind, 1u);
    EXPECT_EQ(At(ids, count - 1), entryBytes);
    ASSERT_EQ(facade->FindKeyByIdentifier(container, entryBytes.data(), &index), 1);
    EXPECT_EQ(index, 1u);
    const std::size_t length = (StandardCurve(2).field.words[DSTU4145_FIELD_M] + 7) / 8;
    const Bytes reversedId = LibraryId(18, Reversed(pub, length), length, 20);
    ASSERT_EQ(facade->FindContainerKeyByIdentifier(container, reversedId.data(), &index), 1);
    EXPECT_EQ(index, 0u);
    {
        void* found = nullptr;
        ASSERT_EQ(facade->GetContainerKeyByIdentifier(container, reversedId.data(), &found), 1);
        Drop dropFound{static_cast<IPKIObject*>(found)};
        EXPECT_EQ(found, static_cast<void*>(container->entries[0].key));
    }
    const Bytes unknown(32, 0x01);
    EXPECT_EQ(facade->FindKeyByIdentifier(container, unknown.data(), &index), 0);

    // All identifiers: 2 + 1 + 1 = 4. A capacity of 3 is refused whole.
    std::uint8_t all[8 * 32];
    std::memset(all, 0xEE, sizeof all);
    count = 0;
    EXPECT_EQ(facade->ListKeyIdentifiers(container, 3, &count, all), 0);
    for (std::uint8_t b : all) ASSERT_EQ(b, 0xEE);
    ASSERT_EQ(facade->ListKeyIdentifiers(container, 4, &count, all), 1);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(At(all, 1), reversedId);
    EXPECT_EQ(At(all, 2), entryBytes);
    for (std::size_t i = 4 * 32; i < sizeof all; ++i) ASSERT_EQ(all[i], 0xEE);
}

// A single DSTU 4145 key answers a second position when it has an agreement
// part, unless only the first is asked for.
TEST_F(KeyQueries, SecondPositionOfADSTU4145KeyIsItsAgreementPart)
{
    Bytes pub;
    auto* key = DSTU4145Key(StandardCurve(1), &pub);
    Drop drop{key};
    std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
    std::uint32_t kind = 0, count = 0;
    ASSERT_EQ(facade->GetKeyIdentifierAt(key, 0, 1, &kind, &count, ids), 1);  // the agreement public key
    EXPECT_EQ(kind, 1u);
    EXPECT_EQ(facade->GetKeyIdentifierAt(key, 1, 1, &kind, &count, ids), 0);
    EXPECT_EQ(facade->GetKeyIdentifierAt(key, 0, 2, &kind, &count, ids), 0);
}

TEST(KeyQueriesPlain, CertificateKeySlotsByFamilyAndUsage)
{
    fake::Library lib;
    SPKIFormats f(nullptr, nullptr, &lib);
    struct Case {
        std::uint32_t kind, usage;
        bool hasUsage;
        std::int32_t slot;
    };
    const Case cases[] = {
        {1, 0x10 | 0x02, true, 0},  // agreement and non-repudiation: the signature slot
        {1, 0x10, true, 1},        {1, 0x20, true, 0}, {1, 0x08, true, -1}, {1, 0, false, -1},
        {2, 0x01, true, 2},        {4, 0, false, 3},   {7, 0x01, true, -1},
    };
    for (const Case& c : cases) {
        auto* cert = new fake::ScriptedCertificate(lib);
        cert->kind = c.kind;
        cert->keyUsage = c.usage;
        cert->hasKeyUsage = c.hasUsage;
        std::int32_t slot = 99;
        EXPECT_EQ(f.GetCertificateKeySlot(cert, &slot), 1);
        EXPECT_EQ(slot, c.slot) << c.kind << " " << c.usage;
        cert->Release();
    }
}

// A failure or a throw at any library step of the container walk and the
// identifier reads leaves nothing behind (some steps are optional: a failing
// capability query reads as a container, a failing cache read as a miss).
TEST(KeyQueriesSweep, IdentifiersAndContainerWalk)
{
    fake::SweepFailures(
        "ListKeyIdentifiers",
        [](SPKIFormats& f, fake::Library& lib) {
            auto* container = new fake::KeyContainer(lib);
            auto* key = new fake::KeyObject(lib);
            key->capabilities = 2;
            key->rsaId.assign(32, 0x42);  // no provider here: the given identifier
            container->Add(key, 2);
            std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
            std::uint32_t count = 0;
            int rc = f.ListKeyIdentifiers(container, 4, &count, ids);
            container->Release();
            return rc == 1 && count == 1 && ids[0] == 0x42 ? 1 : 0;
        },
        false);
}
