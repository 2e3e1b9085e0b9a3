// Record reading against damaged storage: other programs share the key's
// memory, so the record places may hold anything. Random images (fixed seeds)
// are written through the device layer, then both device objects read them
// back: every answer is a record within its limits or a KM_* error, no read
// runs past the caller's 4,096-byte buffer, and nothing a read does changes
// the key.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "KMTestSupport.h"
#include "PkiObjects.h"
#include "keymedia/QuorKorvo7QPKI.h"
#include "support/CSPParameters.h"
#include "support/ICSPHardware.h"
#include "support/PKIInterface.h"

namespace {

using kmpki::Bytes;
using kmpki::LiveCount;
using kmpki::Obj;
using kmpki::Pki;
using kmpki::TakeBlob;

constexpr std::uint32_t kPrivateBytes = 3072;
constexpr std::uint32_t kDataLimit = 3068;
constexpr std::size_t kGuard = 64;
constexpr std::uint8_t kGuardByte = 0xA5;

// A container of `keys` keys over standard curves, its entries under
// `password`; `attributes` go into the marking attribute when given.
Bytes MakeContainer(unsigned keys, const char* password, const Bytes* marking)
{
    Obj<IPKIKeyContainer> container;
    Obj<IPKIEntryList> list;
    EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container.out()), PKI_OK);
    EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, list.out()), PKI_OK);
    GOST28147PackedSBox sBox;
    CSPParameters().GetStandardSBox(0, &sBox);
    for (unsigned k = 0; k < keys; ++k) {
        DSTU4145FieldRecord field{};
        DSTU4145PointRecord point{};
        CSPParameters().GetStandardCurve(1, k % 10, &field, &point);
        Bytes value((field.words[DSTU4145_FIELD_M] + 7) / 8);
        for (std::size_t i = 0; i < value.size(); ++i) value[i] = static_cast<std::uint8_t>(k * 31 + i * 3 + 1);
        Obj<IPKIParameters> parameters;
        Obj<IPKIKey> key;
        Obj<IPKIPrivateKey> entry;
        PKIBlob v{static_cast<std::uint32_t>(value.size()), value.data()};
        EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, parameters.out()),
                  PKI_OK);
        EXPECT_EQ(parameters->SetExplicit(&field, &point, reinterpret_cast<const std::uint8_t*>(&sBox)), PKI_OK);
        EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.out()), PKI_OK);
        EXPECT_EQ(key->SetKeyValue(&v, parameters.obj()), PKI_OK);
        EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, entry.out()), PKI_OK);
        EXPECT_EQ(entry->SetKey(key.obj(), password), PKI_OK);
        EXPECT_EQ(list->AddEntry(entry.obj(), nullptr), PKI_OK);
    }
    if (marking != nullptr) {
        PKIBlob m{static_cast<std::uint32_t>(marking->size()), const_cast<std::uint8_t*>(marking->data())};
        EXPECT_EQ(container->AddItemAttribute("", list.obj(), PKI_OID_WRAPPED_RECORD, &m), PKI_OK);
    }
    EXPECT_EQ(container->AddItem(list.obj()), PKI_OK);
    PKIBlob out{0, nullptr};
    EXPECT_EQ(container->Encode(&out), PKI_OK);
    return TakeBlob(out);
}

// Wrapped records need the formats library.
class CorruptedRecordsTest : public kmpki::FormatsTest {};

// What the stored private area was made from: the oracle for reading it.
enum class Body { Plain, FromWrapped };

struct Image {
    Bytes publicArea;
    Bytes privateArea;
    Body body = Body::Plain;
};

void PutHeader(std::uint8_t* at, std::uint32_t type, std::uint32_t length)
{
    at[0] = static_cast<std::uint8_t>(type);
    at[1] = static_cast<std::uint8_t>(type >> 8);
    at[2] = static_cast<std::uint8_t>(length);
    at[3] = static_cast<std::uint8_t>(length >> 8);
}

class Generator {
public:
    Generator(std::uint32_t seed, const Bytes& plainContainer, const Bytes& wrappedContainer)
        : rng_(seed), plain_(plainContainer), wrapped_(wrappedContainer)
    {
    }

    std::uint32_t Below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }

    // Lengths at and beyond every limit a reader checks, or anything.
    std::uint32_t Length()
    {
        static const std::uint32_t kEdges[] = {0,    1,    28,   29,   988,  989,  3068,   3069,
                                               4060, 4061, 4092, 4096, 4097, 8192, 0x7FFF, 0xFFFF};
        return Below(4) == 0 ? Below(0x10000) : kEdges[Below(sizeof kEdges / sizeof kEdges[0])];
    }
    std::uint32_t Type(std::uint32_t usual)
    {
        switch (Below(6)) {
        case 0:
            return 0xFFFF;
        case 1:
            return Below(0x10000);
        case 2:
            return Below(18);
        default:
            return usual;
        }
    }
    void Fill(std::uint8_t* at, std::size_t length)
    {
        // Erased, random, or a mix of erased and random blocks.
        const std::uint32_t style = Below(3);
        for (std::size_t i = 0; i < length; ++i) {
            const bool erased = style == 0 || (style == 2 && ((i / 32) & 1) != 0);
            at[i] = erased ? 0xFF : static_cast<std::uint8_t>(rng_());
        }
    }
    Bytes Mutate(Bytes bytes)
    {
        if (bytes.empty()) return bytes;
        switch (Below(4)) {
        case 0:
            bytes.resize(Below(static_cast<std::uint32_t>(bytes.size())));
            break;
        case 1:
            for (std::uint32_t n = 1 + Below(8); n != 0; --n)
                bytes[Below(static_cast<std::uint32_t>(bytes.size()))] ^= static_cast<std::uint8_t>(1 << Below(8));
            break;
        case 2:
            for (std::uint32_t n = 1 + Below(4); n != 0; --n)
                bytes[Below(static_cast<std::uint32_t>(bytes.size()))] = static_cast<std::uint8_t>(rng_());
            break;
        default:
            break;  // intact
        }
        return bytes;
    }
    // A wrapped-record marking attribute list, malformed more often than not.
    Bytes PackedList()
    {
        Bytes list;
        switch (Below(4)) {
        case 0:  // random bytes
            list.resize(Below(24));
            for (auto& b : list) b = static_cast<std::uint8_t>(rng_());
            break;
        case 1: {  // an item whose length runs past the end
            list = {static_cast<std::uint8_t>(6 + Below(2)), 0, static_cast<std::uint8_t>(Below(256)),
                    static_cast<std::uint8_t>(Below(256))};
            list.resize(4 + Below(8), 0x42);
            break;
        }
        case 2:  // a well-formed item cut short
            list = {6, 0, 3, 0, 1, 2, 3, 7, 0, 2, 0, 9, 9};
            list.resize(Below(static_cast<std::uint32_t>(list.size())));
            break;
        default:  // an unknown tag
            list = {static_cast<std::uint8_t>(Below(256)), static_cast<std::uint8_t>(1 + Below(255)), 1, 0, 0x42};
            break;
        }
        return list;
    }

    Image Make(std::uint32_t publicSize, const char* password)
    {
        Image image;
        image.publicArea.assign(publicSize, 0xFF);
        image.privateArea.assign(kPrivateBytes, 0xFF);
        std::uint8_t* pub = image.publicArea.data();
        if (Below(3) == 0) Fill(pub, 32);  // block 0 is not the record's
        if (Below(5) != 0) {
            PutHeader(pub + 32, Type(17), Length());
            Fill(pub + 36, publicSize - 36);
        } else {
            Fill(pub + 32, publicSize - 32);
        }

        std::uint8_t* priv = image.privateArea.data();
        Bytes body;
        switch (Below(6)) {
        case 0:
            body = Mutate(wrapped_);
            image.body = Body::FromWrapped;
            break;
        case 1: {
            const Bytes marking = PackedList();
            body = Mutate(MakeContainer(1, password, &marking));
            image.body = Body::FromWrapped;
            break;
        }
        case 2:
            body = Mutate(plain_);
            break;
        default:
            break;
        }
        if (!body.empty() && body.size() <= kDataLimit && Below(4) != 0) {
            const std::uint32_t type = Below(3) == 0 ? Type(5) : 5 + Below(2);
            // Mostly the body's own length; sometimes a damaged one.
            const std::uint32_t length = Below(3) != 0 ? static_cast<std::uint32_t>(body.size()) : Length();
            PutHeader(priv, type, length);
            std::memcpy(priv + 4, body.data(), body.size());
        } else if (Below(6) != 0) {
            image.body = Body::Plain;
            PutHeader(priv, Type(Below(16)), Length());
            Fill(priv + 4, kPrivateBytes - 4);
        } else {
            image.body = Body::Plain;
            Fill(priv, kPrivateBytes);
        }
        return image;
    }

private:
    std::mt19937 rng_;
    const Bytes& plain_;
    const Bytes& wrapped_;
};

std::uint32_t Field(const Bytes& area, std::size_t at)
{
    return area[at] | (area[at + 1] << 8);
}

bool IsKmCode(int r)
{
    return r == KM_OK || r == KM_NOT_FOUND || r == KM_NOT_SUPPORTED || r == KM_DEVICE_ERROR || r == KM_BAD_STATE;
}

TEST_F(CorruptedRecordsTest, DamagedRecordPlacesReadAsRecordsWithinLimitsOrErrorsAndAreNeverWritten)
{
    const int objects = LiveCount("PKFMTLiveObjects");
    const int blobs = LiveCount("PKFMTLiveBlobs");
    ASSERT_GE(objects, 0);
    ASSERT_GE(blobs, 0);
    struct KeyCase {
        std::uint32_t serial;
        std::uint8_t version;
        bool keysOnKey;  // the full key then synthesises containers 5 and 6
        std::uint32_t seed;
    };
    for (const KeyCase& k : {KeyCase{3101, 7, false, 11}, KeyCase{3102, 18, true, 12}}) {
        const std::string serial = std::to_string(k.serial);
        const std::string reader = AddKey(k.serial, k.version, k.version >= 18 ? 0x200 : 0, "pw");
        kmtest::Device full = OpenFullKey(serial.c_str(), "pw");
        kmtest::Device carrier = Carrier();
        ASSERT_EQ(OpenWith(carrier.get(), serial.c_str(), "pw"), KM_OK);
        DeviceContext* raw = Object(full)->Context();
        const std::uint32_t publicSize = PublicAreaSize(raw);
        const std::uint32_t publicLimit = publicSize - 36;
        if (k.keysOnKey) {
            void* hw[2] = {nullptr, nullptr};
            ASSERT_EQ(full->GetInfo(nullptr, nullptr, hw), KM_OK);
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            ASSERT_NE(CSPParameters().GetStandardCurve(1, 0, &field, &point), 0);
            std::uint8_t publicKey[76];
            ASSERT_EQ(static_cast<ICSPHardware*>(hw[0])->GenerateSignatureKeyPair(&field, &point, publicKey), 1);
        }

        const Bytes plain = MakeContainer(2, "pw", nullptr);
        Bytes wrapped;
        {
            std::uint8_t* made = nullptr;
            std::uint32_t length = 0;
            QuorKorvo7QPKI* pki = Object(full);
            ASSERT_EQ(pki->WrapRecord(plain.data(), static_cast<std::uint32_t>(plain.size()), &made, &length), 1);
            wrapped.assign(made, made + length);
            QuorKorvo7QPKI::ReleaseRecord(made, length);
            ASSERT_EQ(pki->IsWrappedRecord(wrapped.data(), length), 1);
        }

        Generator gen(k.seed, plain, wrapped);
        for (int round = 0; round < 16; ++round) {
            SCOPED_TRACE("key " + serial + " round " + std::to_string(round));
            const Image image = gen.Make(publicSize, "pw");
            // Written the way any program writes the key: pages erased,
            // then the blocks that are not erased.
            for (std::uint32_t page = 0; page < (publicSize + kPrivateBytes) / 1024; ++page)
                ASSERT_EQ(EraseMemoryPage(raw, page), 0u);
            for (std::uint32_t at = 0; at < publicSize + kPrivateBytes; at += 32) {
                const std::uint8_t* block =
                    at < publicSize ? &image.publicArea[at] : &image.privateArea[at - publicSize];
                bool erased = true;
                for (int i = 0; i < 32; ++i) erased = erased && block[i] == 0xFF;
                if (!erased) {
                    ASSERT_EQ(WriteMemoryBlock(raw, block, at / 32), 0u);
                }
            }
            const Bytes before = kmtest::pd::GetKey(reader)->Serialize();

            // The public record, read by an open object and, for the full
            // key, by a closed one over a connection of its own.
            const std::uint32_t publicType = Field(image.publicArea, 32);
            const std::uint32_t publicLength = Field(image.publicArea, 34);
            const bool publicGood = publicType == 17 && publicLength <= publicLimit;
            // The data record the private area holds.
            const std::uint32_t dataType = Field(image.privateArea, 0);
            const std::uint32_t dataLength = Field(image.privateArea, 2);

            kmtest::Device closed = FullKey();
            for (IKMQuorKorvo7Q* d : {full.get(), carrier.get(), closed.get()}) {
                const bool isFull = d != carrier.get();
                std::vector<unsigned> types = {17};
                if (d != closed.get()) types.insert(types.end(), {5u, 6u, dataType & 15u, gen.Below(16)});
                for (unsigned type : types) {
                    SCOPED_TRACE("type " + std::to_string(type) + (isFull ? " full key" : " carrier"));
                    char serialText[16];
                    std::snprintf(serialText, sizeof serialText, "%s", serial.c_str());
                    // The size query.
                    unsigned size = 0xDEAD;
                    const int sized = d->ReadRecord(serialText, type, nullptr, &size);
                    ASSERT_TRUE(IsKmCode(sized)) << sized;
                    if (sized == KM_OK) {
                        ASSERT_LE(size, KM_RECORD_BUFFER);
                    }
                    // The read, into a record buffer followed by guard bytes.
                    Bytes buffer(KM_RECORD_BUFFER + kGuard, kGuardByte);
                    unsigned length = 0xDEAD;
                    const int read = d->ReadRecord(serialText, type, buffer.data(), &length);
                    ASSERT_TRUE(IsKmCode(read)) << read;
                    for (std::size_t i = KM_RECORD_BUFFER; i < buffer.size(); ++i) {
                        ASSERT_EQ(buffer[i], kGuardByte) << "written past the record buffer at " << i;
                    }
                    if (read == KM_OK) {
                        ASSERT_LE(length, KM_RECORD_BUFFER);
                    }

                    if (type == 17) {
                        EXPECT_EQ(sized, publicGood ? KM_OK : KM_DEVICE_ERROR);
                        ASSERT_EQ(read, publicGood ? KM_OK : KM_DEVICE_ERROR);
                        if (publicGood) {
                            EXPECT_EQ(size, publicLength);
                            ASSERT_EQ(length, publicLength);
                            EXPECT_EQ(std::memcmp(buffer.data(), &image.publicArea[36], length), 0);
                        }
                        continue;
                    }
                    const bool present = dataType == type;
                    const bool stands = !(present && dataLength <= kDataLimit);
                    if (present) {
                        EXPECT_EQ(sized, KM_OK);
                        EXPECT_EQ(size, KM_RECORD_BUFFER);
                    }
                    if (stands) {
                        // Absent (or too long to be a record): only the full
                        // key's synthesised container stands for 5 and 6.
                        const bool synthesised = isFull && k.keysOnKey && (type == 5 || type == 6);
                        if (!present) {
                            EXPECT_EQ(sized, synthesised ? KM_OK : KM_DEVICE_ERROR);
                        }
                        EXPECT_EQ(read, synthesised ? KM_OK : KM_DEVICE_ERROR);
                    } else if (image.body == Body::Plain) {
                        ASSERT_EQ(read, KM_OK);
                        ASSERT_EQ(length, dataLength);
                        EXPECT_EQ(std::memcmp(buffer.data(), &image.privateArea[4], length), 0);
                    }
                }
            }

            // The header query: the full key reports the private area's type
            // field, or block 32's, unless both are erased; the carrier
            // reports none.
            int header = -1;
            const int answered = full->GetRecordHeader(nullptr, 0, &header);
            const Bytes& second = publicSize > 1024 ? image.publicArea : image.privateArea;
            const std::size_t secondAt = publicSize > 1024 ? 1024 : 0;
            if (image.privateArea[0] != 0xFF) {
                EXPECT_EQ(answered, KM_OK);
                EXPECT_EQ(static_cast<std::uint32_t>(header), dataType);
            } else if (second[secondAt] != 0xFF) {
                EXPECT_EQ(answered, KM_OK);
                EXPECT_EQ(static_cast<std::uint32_t>(header), Field(second, secondAt));
            } else {
                EXPECT_EQ(answered, KM_NOT_FOUND);
            }
            EXPECT_EQ(carrier->GetRecordHeader(nullptr, 0, &header), KM_NOT_FOUND);

            EXPECT_EQ(kmtest::pd::GetKey(reader)->Serialize(), before) << "a read changed the key";
            for (std::uint32_t at = 0; at < publicSize + kPrivateBytes; at += 32) {
                std::uint8_t block[32];
                ASSERT_EQ(ReadMemoryBlock(raw, block, at / 32), 0u);
                const std::uint8_t* expected =
                    at < publicSize ? &image.publicArea[at] : &image.privateArea[at - publicSize];
                ASSERT_EQ(std::memcmp(block, expected, 32), 0) << "block " << at / 32;
            }
        }
        EXPECT_EQ(OpenConnections(), 2);
    }
    EXPECT_EQ(LiveCount("PKFMTLiveObjects"), objects);
    EXPECT_EQ(LiveCount("PKFMTLiveBlobs"), blobs);
}

}  // namespace
