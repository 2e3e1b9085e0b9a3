// Key containers on the key: containers stored as data records (wrapped
// when too large for the record place, unwrapped on reading) and the
// container synthesised for the keys held on the key. Containers are made and
// read through the stand-in PKI formats library, as any outside program would.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "KMTestSupport.h"
#include "PkfmtCalls.h"
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

constexpr char kSerial[] = "271828";
constexpr char kKeyPassword[] = "1234";
constexpr std::uint32_t kDataRecordLimit = 3068;

struct CurveRecords {
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
};

CurveRecords StandardCurve(unsigned index)
{
    CurveRecords c;
    CSPParameters().GetStandardCurve(1, index, &c.field, &c.point);
    return c;
}

CurveRecords BuiltInCurve()
{
    CurveRecords c;
    PKIBuiltInCurve(&c.field, &c.point);
    return c;
}

Bytes SBox0()
{
    GOST28147PackedSBox s;
    CSPParameters().GetStandardSBox(0, &s);
    Bytes out(PKI_SBOX_BYTES);
    std::memcpy(out.data(), &s, PKI_SBOX_BYTES);
    return out;
}

// What a test puts into a container and expects back.
struct KeySpec {
    Bytes value;
    CurveRecords curve;
    bool block = false;  // parameters as the built-in encoded block
};

KeySpec MakeSpec(unsigned seed, const CurveRecords& curve)
{
    KeySpec k;
    k.curve = curve;
    std::uint32_t bytes = (curve.field.words[DSTU4145_FIELD_M] + 7) / 8;
    for (std::uint32_t i = 0; i < bytes; ++i) k.value.push_back(static_cast<std::uint8_t>(seed * 37 + i * 11 + 1));
    return k;
}

void MakeKeyObject(const KeySpec& spec, Obj<IPKIKey>& key)
{
    Obj<IPKIParameters> parameters;
    PKIBlob value{static_cast<std::uint32_t>(spec.value.size()), const_cast<std::uint8_t*>(spec.value.data())};
    ASSERT_EQ(Pki()->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.out()), PKI_OK);
    if (spec.block) {
        std::uint8_t block[PKI_BUILTIN_PARAMETER_BLOCK_BYTES];
        PKIBuiltInParameterBlock(block);
        PKIBlob b{sizeof block, block};
        ASSERT_EQ(Pki()->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_ENCODED_PARAMETERS, parameters.out()),
                  PKI_OK);
        ASSERT_EQ(parameters->SetBlock(&b), PKI_OK);
        Obj<IPKIEncodedKey> encoded;
        ASSERT_EQ(key.obj()->QueryInterface(PKI_IID_ENCODED_KEY, encoded.out()), PKI_OK);
        ASSERT_EQ(encoded->SetEncodedKeyValue(&value, parameters.obj()), PKI_OK);
        return;
    }
    Bytes sBox = SBox0();
    ASSERT_EQ(Pki()->CreateObject(PKI_CLASS_DSTU4145_PARAMETERS, PKI_IID_DSTU4145_PARAMETERS, parameters.out()),
              PKI_OK);
    ASSERT_EQ(parameters->SetExplicit(&spec.curve.field, &spec.curve.point, sBox.data()), PKI_OK);
    ASSERT_EQ(key->SetKeyValue(&value, parameters.obj()), PKI_OK);
}

struct ContainerSpec {
    std::vector<KeySpec> keys;
    std::string entryPassword;
    std::string containerPassword;  // empty: not protected
    std::vector<std::pair<std::string, Bytes>> attributes;
};

Bytes BuildContainer(const ContainerSpec& spec)
{
    Obj<IPKIKeyContainer> container;
    Obj<IPKIEntryList> list;
    EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container.out()), PKI_OK);
    EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, list.out()), PKI_OK);
    for (const KeySpec& k : spec.keys) {
        Obj<IPKIKey> key;
        MakeKeyObject(k, key);
        Obj<IPKIPrivateKey> entry;
        EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, entry.out()), PKI_OK);
        EXPECT_EQ(entry->SetKey(key.obj(), spec.entryPassword.c_str()), PKI_OK);
        EXPECT_EQ(list->AddEntry(entry.obj(), nullptr), PKI_OK);
    }
    for (const auto& [oid, value] : spec.attributes) {
        PKIBlob v{static_cast<std::uint32_t>(value.size()), const_cast<std::uint8_t*>(value.data())};
        EXPECT_EQ(container->AddItemAttribute(spec.containerPassword.c_str(), list.obj(), oid.c_str(), &v), PKI_OK);
    }
    EXPECT_EQ(container->AddItem(list.obj()), PKI_OK);
    if (!spec.containerPassword.empty()) {
        EXPECT_EQ(container->SetPassword(PKI_PROTECT_WITH_PASSWORD, spec.containerPassword.c_str()), PKI_OK);
    }
    PKIBlob out{0, nullptr};
    EXPECT_EQ(container->Encode(&out), PKI_OK);
    return TakeBlob(out);
}

// A container read back: its keys opened with `entryPassword`.
struct ReadKey {
    Bytes value;
    CurveRecords curve;
    bool named = false;  // parameters still held as a name
    bool block = false;
};
struct ReadContainer {
    int openResult = PKI_OK;  // first failure to open an entry
    std::vector<ReadKey> keys;
    std::vector<std::pair<std::string, Bytes>> attributes;
    int passwordCheck = -1;
};

ReadContainer Read(const Bytes& data, const char* entryPassword, const char* containerPassword)
{
    ReadContainer r;
    Obj<IPKIKeyContainer> container;
    EXPECT_EQ(Pki()->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, container.out()), PKI_OK);
    PKIBlob in{static_cast<std::uint32_t>(data.size()), const_cast<std::uint8_t*>(data.data())};
    EXPECT_EQ(container->Decode(&in), PKI_OK);
    r.passwordCheck = container->CheckPassword(containerPassword);
    std::uint32_t items = 0;
    EXPECT_EQ(container->GetItemCount(&items), PKI_OK);
    for (std::uint32_t i = 0; i < items; ++i) {
        Obj<IPKIEntryList> list;
        EXPECT_EQ(container->GetItem(i, list.out()), PKI_OK);
        for (const char* oid : {PKI_OID_CONTAINER_ATTRIBUTE_1, PKI_OID_CONTAINER_ATTRIBUTE_2, PKI_OID_WRAPPED_RECORD}) {
            PKIBlob value{0, nullptr};
            if (container->GetItemAttribute(containerPassword, list.obj(), oid, &value) == PKI_OK)
                r.attributes.emplace_back(oid, TakeBlob(value));
        }
        std::uint32_t entries = 0;
        EXPECT_EQ(list->GetEntryCount(&entries), PKI_OK);
        for (std::uint32_t e = 0; e < entries; ++e) {
            Obj<IPKIPrivateKey> entry;
            EXPECT_EQ(list->GetEntry(e, entry.out(), nullptr), PKI_OK);
            Obj<IPKIKey> key;
            int rc = entry->Open(entryPassword, key.out());
            if (rc != PKI_OK) {
                r.openResult = rc;
                continue;
            }
            ReadKey k;
            PKIBlob value{0, nullptr};
            Obj<IPKIParameters> parameters;
            if (key->GetKeyValue(&value, parameters.out()) == PKI_E_ENCODED_BLOCK) {
                Obj<IPKIEncodedKey> encoded;
                EXPECT_EQ(key.obj()->QueryInterface(PKI_IID_ENCODED_KEY, encoded.out()), PKI_OK);
                EXPECT_EQ(encoded->GetEncodedKeyValue(&value, parameters.out()), PKI_OK);
                k.block = true;
            } else {
                PKIBlob name{0, nullptr};
                k.named = parameters->GetName(&name) == PKI_OK;
                if (k.named) {
                    TakeBlob(name);
                } else {
                    EXPECT_EQ(parameters->GetParameters(&k.curve.field, &k.curve.point, nullptr), PKI_OK);
                }
            }
            k.value = TakeBlob(value);
            r.keys.push_back(std::move(k));
        }
    }
    return r;
}

void ExpectSameKeys(const std::vector<KeySpec>& expected, const ReadContainer& got)
{
    ASSERT_EQ(got.openResult, PKI_OK);
    ASSERT_EQ(got.keys.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got.keys[i].value, expected[i].value) << "key " << i;
        EXPECT_EQ(got.keys[i].block, expected[i].block) << "key " << i;
        EXPECT_FALSE(got.keys[i].named) << "key " << i << " kept a compact name";
        if (!expected[i].block) {
            EXPECT_EQ(std::memcmp(&got.keys[i].curve.field, &expected[i].curve.field, sizeof(DSTU4145FieldRecord)), 0)
                << "key " << i;
            EXPECT_EQ(std::memcmp(&got.keys[i].curve.point, &expected[i].curve.point, sizeof(DSTU4145PointRecord)), 0)
                << "key " << i;
        }
    }
}

// Many keys over standard curves, one over the built-in curve and one with
// the built-in parameter block: larger than the record place when explicit.
ContainerSpec LargeContainer(const std::string& password, unsigned copies)
{
    ContainerSpec spec;
    for (unsigned round = 0; round < copies; ++round)
        for (unsigned curve = 0; curve < 10; ++curve)
            spec.keys.push_back(MakeSpec(round * 10 + curve, StandardCurve(curve)));
    spec.keys.push_back(MakeSpec(99, BuiltInCurve()));
    KeySpec block = MakeSpec(98, StandardCurve(3));
    block.block = true;
    spec.keys.push_back(block);
    spec.entryPassword = password;
    spec.containerPassword = password;
    spec.attributes = {{PKI_OID_CONTAINER_ATTRIBUTE_1, Bytes{1, 2, 3, 4, 5}},
                       {PKI_OID_CONTAINER_ATTRIBUTE_2, Bytes(40, 0x77)}};
    return spec;
}

// The container base without a device: the kept password set by hand.
class ContainerBase : public QuorKorvo7QPKI {
public:
    void Keep(const char* password) { SetPassword(password_, password); }
    const char* Kept() const { return password_; }

    // WrapRecord and UnwrapRecord into bytes: a record made (result 1) is
    // copied out and handed back at once.
    int Wrap(const Bytes& record, Bytes* out) { return Into(&QuorKorvo7QPKI::WrapRecord, record, out); }
    int Unwrap(const Bytes& record, Bytes* out) { return Into(&QuorKorvo7QPKI::UnwrapRecord, record, out); }

private:
    template <typename Call>
    int Into(Call call, const Bytes& record, Bytes* out)
    {
        std::uint8_t* made = nullptr;
        std::uint32_t length = 0;
        const int result = (this->*call)(record.data(), static_cast<std::uint32_t>(record.size()), &made, &length);
        if (result == 1) {
            out->assign(made, made + length);
            ReleaseRecord(made, length);
        }
        return result;
    }
};

class ContainerTest : public kmpki::FormatsTest {
protected:
    kmtest::Device OpenKey()
    {
        AddKey(std::atoi(kSerial), 18, 0x200, kKeyPassword);
        return OpenFullKey(kSerial, kKeyPassword);
    }

    static Bytes ReadRecordBytes(IKMQuorKorvo7Q* device, unsigned type, int* result)
    {
        std::string serial = kSerial;
        Bytes buffer(KM_RECORD_BUFFER, 0x77);
        unsigned length = 0;
        *result = device->ReadRecord(serial.data(), type, buffer.data(), &length);
        if (*result != KM_OK) return {};
        buffer.resize(length);
        return buffer;
    }
};

// Runs a test at the PKI formats stand-in's own iteration count, whatever
// count the test environment chose.
class DefaultIterationCount {
public:
    DefaultIterationCount()
    {
        const char* chosen = std::getenv("PKFMT_DEFAULT_ITERATIONS");
        if (chosen != nullptr) saved_ = chosen;
        had_ = chosen != nullptr;
        unsetenv("PKFMT_DEFAULT_ITERATIONS");
    }
    ~DefaultIterationCount()
    {
        if (had_) setenv("PKFMT_DEFAULT_ITERATIONS", saved_.c_str(), 1);
    }
    DefaultIterationCount(const DefaultIterationCount&) = delete;
    DefaultIterationCount& operator=(const DefaultIterationCount&) = delete;

private:
    std::string saved_;
    bool had_ = false;
};

// With the derivation at its full default count.
TEST_F(ContainerTest, SignatureKeyContainerStoredAndReadBackWithItsPassword)
{
    DefaultIterationCount fullCount;
    kmtest::Device device = OpenKey();
    ContainerSpec spec;
    spec.keys.push_back(MakeSpec(1, StandardCurve(0)));
    spec.entryPassword = "container pass";
    spec.containerPassword = "container pass";
    Bytes container = BuildContainer(spec);
    ASSERT_LE(container.size(), kDataRecordLimit);

    ASSERT_EQ(device->WriteRecord(nullptr, 5, container.data(), static_cast<unsigned>(container.size())), KM_OK);
    int result = -1;
    Bytes stored = ReadRecordBytes(device.get(), 5, &result);
    ASSERT_EQ(result, KM_OK);
    EXPECT_EQ(stored, container);

    ReadContainer good = Read(stored, "container pass", "container pass");
    EXPECT_EQ(good.passwordCheck, PKI_OK);
    ExpectSameKeys(spec.keys, good);

    ReadContainer bad = Read(stored, "container pasS", "container pasS");
    EXPECT_NE(bad.passwordCheck, PKI_OK);
    EXPECT_EQ(bad.openResult, PKI_E_WRONG_PASSWORD);
    EXPECT_TRUE(bad.keys.empty());
}

TEST_F(ContainerTest, LargeContainerIsWrappedOnTheKeyAndUnwrappedOnReading)
{
    kmtest::Device device = OpenKey();
    ContainerSpec spec = LargeContainer(kKeyPassword, 1);
    Bytes container = BuildContainer(spec);
    ASSERT_GT(container.size(), kDataRecordLimit);

    ASSERT_EQ(device->WriteRecord(nullptr, 5, container.data(), static_cast<unsigned>(container.size())), KM_OK);
    int result = -1;
    Bytes back = ReadRecordBytes(device.get(), 5, &result);
    ASSERT_EQ(result, KM_OK);
    ReadContainer read = Read(back, kKeyPassword, kKeyPassword);
    EXPECT_EQ(read.passwordCheck, PKI_OK);
    ExpectSameKeys(spec.keys, read);
    EXPECT_EQ(read.attributes, spec.attributes);
}

TEST_F(ContainerTest, WrappingCompactsAndUnwrappingRestoresExplicitParameters)
{
    ContainerBase base;
    base.Keep("pw-1");
    ContainerSpec spec = LargeContainer("pw-1", 4);
    Bytes container = BuildContainer(spec);

    Bytes wrappedBytes;
    ASSERT_EQ(base.Wrap(container, &wrappedBytes), 1);
    EXPECT_LT(wrappedBytes.size() * 2, container.size());
    EXPECT_EQ(base.IsWrappedRecord(wrappedBytes.data(), static_cast<std::uint32_t>(wrappedBytes.size())), 1);
    EXPECT_EQ(base.IsWrappedRecord(container.data(), static_cast<std::uint32_t>(container.size())), 0);

    // The wrapped form names its curves; the keys stay under the password.
    ReadContainer compact = Read(wrappedBytes, "pw-1", "");
    ASSERT_EQ(compact.openResult, PKI_OK);
    ASSERT_EQ(compact.keys.size(), spec.keys.size());
    EXPECT_TRUE(compact.keys[40].named);  // the built-in curve
    EXPECT_TRUE(compact.keys[41].named);  // the built-in block
    EXPECT_EQ(Read(wrappedBytes, "pw-2", "").openResult, PKI_E_WRONG_PASSWORD);

    Bytes unwrappedBytes;
    ASSERT_EQ(base.Unwrap(wrappedBytes, &unwrappedBytes), 1);
    ReadContainer expanded = Read(unwrappedBytes, "pw-1", "pw-1");
    EXPECT_EQ(expanded.passwordCheck, PKI_OK);
    ExpectSameKeys(spec.keys, expanded);
    EXPECT_EQ(expanded.attributes, spec.attributes);
    EXPECT_EQ(base.IsWrappedRecord(unwrappedBytes.data(), static_cast<std::uint32_t>(unwrappedBytes.size())), 0);

    // Read into the caller's record buffer: this container exceeds it and is
    // refused without a byte written.
    ASSERT_GT(unwrappedBytes.size(), KM_RECORD_BUFFER);
    Bytes buffer(KM_RECORD_BUFFER, 0x5C);
    unsigned length = 12345;
    EXPECT_EQ(base.UnwrapRecordInto(wrappedBytes.data(), static_cast<std::uint32_t>(wrappedBytes.size()), buffer.data(),
                                    &length),
              KM_DEVICE_ERROR);
    EXPECT_EQ(length, 12345u);
    EXPECT_EQ(buffer, Bytes(KM_RECORD_BUFFER, 0x5C));
}

TEST_F(ContainerTest, ContainerOpenedOnlyByTheContainerPasswordKeepsIt)
{
    ContainerBase base;
    base.Keep("users password");
    ContainerSpec spec;
    spec.keys = {MakeSpec(3, StandardCurve(2))};
    spec.entryPassword = KM_CONTAINER_PASSWORD;
    Bytes container = BuildContainer(spec);

    Bytes wrapped;
    ASSERT_EQ(base.Wrap(container, &wrapped), 1);
    EXPECT_STREQ(base.Kept(), KM_CONTAINER_PASSWORD);

    // Neither password opens it: wrapping fails and the kept one stays.
    base.Keep("users password");
    spec.entryPassword = "a third password";
    container = BuildContainer(spec);
    EXPECT_EQ(base.Wrap(container, &wrapped), 0);
    EXPECT_STREQ(base.Kept(), "users password");
}

TEST_F(ContainerTest, MalformedPackedAttributesMakeUnwrappingFail)
{
    ContainerBase base;
    base.Keep("pw");
    ContainerSpec spec;
    spec.keys = {MakeSpec(4, StandardCurve(1))};
    spec.entryPassword = "pw";
    Bytes container = BuildContainer(spec);
    Bytes wrappedBytes;
    ASSERT_EQ(base.Wrap(container, &wrappedBytes), 1);

    const Bytes packedLists[] = {
        {9, 0, 1, 0, 0x42},        // tag other than 6 or 7
        {6, 0, 5, 0, 1, 2},        // length past the end
        {6, 0, 1, 0, 0x42, 7, 0},  // a truncated item header
    };
    for (const Bytes& packed : packedLists) {
        // The wrapped container with its marking attribute replaced.
        Obj<IPKIKeyContainer> c;
        ASSERT_EQ(Pki()->CreateObject(PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, c.out()), PKI_OK);
        PKIBlob in{static_cast<std::uint32_t>(wrappedBytes.size()), wrappedBytes.data()};
        ASSERT_EQ(c->Decode(&in), PKI_OK);
        Obj<IPKIEntryList> list;
        ASSERT_EQ(c->GetItem(0, list.out()), PKI_OK);
        PKIBlob value{static_cast<std::uint32_t>(packed.size()), const_cast<std::uint8_t*>(packed.data())};
        ASSERT_EQ(c->AddItemAttribute("", list.obj(), PKI_OID_WRAPPED_RECORD, &value), PKI_OK);
        PKIBlob out{0, nullptr};
        ASSERT_EQ(c->Encode(&out), PKI_OK);
        Bytes altered = TakeBlob(out);

        std::uint8_t* unwrapped = nullptr;
        std::uint32_t unwrappedLength = 0;
        EXPECT_EQ(
            base.UnwrapRecord(altered.data(), static_cast<std::uint32_t>(altered.size()), &unwrapped, &unwrappedLength),
            0);
        EXPECT_EQ(unwrapped, nullptr);
    }
}

TEST_F(ContainerTest, SynthesisedContainerStandsForTheKeysOnTheKey)
{
    kmtest::Device device = OpenKey();
    ASSERT_EQ(device->Erase(nullptr), KM_OK);
    int result = -1;
    ReadRecordBytes(device.get(), 5, &result);
    EXPECT_EQ(result, KM_DEVICE_ERROR) << "no keys on the key: nothing to stand for";

    void* objects[2] = {nullptr, nullptr};
    ASSERT_EQ(device->GetInfo(nullptr, nullptr, objects), KM_OK);
    auto* hardware = static_cast<ICSPHardware*>(objects[0]);
    CurveRecords curve = StandardCurve(0);
    std::uint8_t signatureKey[76];
    ASSERT_EQ(hardware->GenerateSignatureKeyPair(&curve.field, &curve.point, signatureKey), 1);

    unsigned length = 0;
    ASSERT_EQ(device->ReadRecord(nullptr, 6, nullptr, &length), KM_OK);
    Bytes one = ReadRecordBytes(device.get(), 6, &result);
    ASSERT_EQ(result, KM_OK);
    EXPECT_EQ(one.size(), length);
    ReadContainer read = Read(one, KM_CONTAINER_PASSWORD, KM_CONTAINER_PASSWORD);
    EXPECT_EQ(read.passwordCheck, PKI_OK);
    ASSERT_EQ(read.keys.size(), 1u);
    EXPECT_EQ(read.keys[0].value, Bytes(signatureKey, signatureKey + 21));
    // The key's curve as the parameters; point word 38 is not kept on the key.
    EXPECT_EQ(std::memcmp(&read.keys[0].curve.field, &curve.field, sizeof curve.field), 0);
    EXPECT_EQ(std::memcmp(&read.keys[0].curve.point, &curve.point, DSTU4145_POINT_BITS * 4), 0);
    EXPECT_NE(Read(one, "1234", "1234").passwordCheck, PKI_OK);

    std::uint8_t agreementKey[76];
    ASSERT_EQ(hardware->GenerateAgreementKeyPair(&curve.field, &curve.point, agreementKey), 1);
    Bytes two = ReadRecordBytes(device.get(), 5, &result);
    ASSERT_EQ(result, KM_OK);
    read = Read(two, KM_CONTAINER_PASSWORD, KM_CONTAINER_PASSWORD);
    ASSERT_EQ(read.keys.size(), 2u);
    EXPECT_EQ(read.keys[1].value, Bytes(agreementKey, agreementKey + 21));
}

TEST_F(ContainerTest, EveryObjectAndBlockIsHandedBackOnEveryPath)
{
    const int objects = LiveCount("PKFMTLiveObjects");
    const int blobs = LiveCount("PKFMTLiveBlobs");
    ASSERT_GE(objects, 0);
    ASSERT_GE(blobs, 0);
    {
        kmtest::Device device = OpenKey();
        Bytes large = BuildContainer(LargeContainer(kKeyPassword, 1));
        ASSERT_EQ(device->WriteRecord(nullptr, 5, large.data(), static_cast<unsigned>(large.size())), KM_OK);
        int result = -1;
        EXPECT_FALSE(ReadRecordBytes(device.get(), 5, &result).empty());
        EXPECT_EQ(result, KM_OK);

        // A container no password of this object opens: wrapping fails.
        ContainerSpec foreign;
        foreign.keys = {MakeSpec(5, StandardCurve(4))};
        foreign.entryPassword = "someone else";
        Bytes other = BuildContainer(foreign);
        Bytes big(kDataRecordLimit + 1, 0);
        std::memcpy(big.data(), other.data(), other.size());
        EXPECT_EQ(device->WriteRecord(nullptr, 5, big.data(), static_cast<unsigned>(big.size())), KM_DEVICE_ERROR);

        // The synthesised container, queried and read.
        ASSERT_EQ(device->Erase(nullptr), KM_OK);
        void* hw[2] = {nullptr, nullptr};
        ASSERT_EQ(device->GetInfo(nullptr, nullptr, hw), KM_OK);
        CurveRecords curve = StandardCurve(0);
        std::uint8_t publicKey[76];
        ASSERT_EQ(static_cast<ICSPHardware*>(hw[0])->GenerateSignatureKeyPair(&curve.field, &curve.point, publicKey),
                  1);
        unsigned length = 0;
        EXPECT_EQ(device->ReadRecord(nullptr, 6, nullptr, &length), KM_OK);
        EXPECT_FALSE(ReadRecordBytes(device.get(), 6, &result).empty());
    }
    EXPECT_EQ(LiveCount("PKFMTLiveObjects"), objects);
    EXPECT_EQ(LiveCount("PKFMTLiveBlobs"), blobs);
}

}  // namespace

// The calls the library makes into the PKI formats library, in the order the
// container operations give them, as the stand-in's call log records them.
// Releases (operation 1) are left out: the live-object counts above check
// that each object goes.
TEST_F(ContainerTest, WrappingAndUnwrappingMakeTheirCallsInOrder)
{
    ContainerSpec spec;
    spec.keys = {MakeSpec(1, StandardCurve(0))};
    spec.entryPassword = kKeyPassword;
    spec.containerPassword = kKeyPassword;
    spec.attributes = {{PKI_OID_CONTAINER_ATTRIBUTE_1, Bytes{1, 2, 3}}};
    const Bytes plain = BuildContainer(spec);
    ContainerBase base;
    base.Keep(kKeyPassword);
    pkfmtcalls::CallLog log;

    // Collecting the keys: reader, its bags and entries, each entry opened
    // with the kept password, then the three attributes of the bag.
    const std::vector<std::string> collect = {
        "pki 10 4931 4266", "KeyContainer 4", "KeyContainer 5",  "pki 10 4893 4233",
        "KeyContainer 19",  "KeyContainer 6", "EntryList 5",     "EntryList 6",
        "PrivateKey 6",     "Key 2 4128",     "KeySet 47",       "KeyContainer 21",
        "KeySet 58",        "pki 7",          "KeyContainer 21", "KeyContainer 21"};
    Bytes wrapped;
    ASSERT_EQ(base.Wrap(plain, &wrapped), 1);
    std::vector<std::string> expected = collect;
    for (const char* call :
         {"KeySet 59", "KeySet 46", "pki 10 4930 4201",
          // The compact key: standard curve 0 named by its number, no S-box
          // of its own.
          "KeySet 48", "Key 2 4128", "Key 7", "Parameters 5", "pki 10 4880 4114", "Parameters 8", "pki 10 4893 4128",
          "Key 8", "Key 43", "pki 7", "pki 10 4882 4250", "PrivateKey 12", "PrivateKey 5", "EntryList 7",
          // The packed attribute list (values 6 and 7), added as the
          // wrapped-record attribute, then the list encoded unprotected.
          "KeySet 59", "pki 7", "KeySet 59", "pki 6", "pki 10 4931 4266", "KeyContainer 22", "pki 7",
          "pki 10 4931 4252", "KeyContainer 7", "KeyContainer 3",
          // The caller hands the result back.
          "pki 7"})
        expected.push_back(call);
    EXPECT_EQ(pkfmtcalls::Joined(log.Take()), pkfmtcalls::Joined(expected));

    ASSERT_EQ(base.IsWrappedRecord(wrapped.data(), static_cast<std::uint32_t>(wrapped.size())), 1);
    EXPECT_EQ(pkfmtcalls::Joined(log.Take()),
              pkfmtcalls::Joined({"pki 10 4931 4208", "KeyContainer 4", "KeyContainer 5", "KeyContainer 6",
                                  "EntryList 2 4265", "EntryList 20", "pki 7"}));

    Bytes unwrapped;
    ASSERT_EQ(base.Unwrap(wrapped, &unwrapped), 1);
    expected = collect;
    // The wrapped record's bag carries only the marking attribute.
    expected.erase(expected.begin() + 12, expected.begin() + 14);
    expected.push_back("KeySet 58");
    expected.push_back("pki 7");
    for (const char* call : {"KeySet 59", "KeySet 46", "pki 10 4930 4201",
                             // A key whose parameters are not named is kept as it is.
                             "KeySet 48", "Key 2 4128", "Key 7", "Parameters 2 4273", "pki 7", "pki 10 4882 4250",
                             "PrivateKey 12", "PrivateKey 5", "EntryList 7",
                             // Attribute 2.12.1 from the packed list, then the list encoded
                             // under the kept password.
                             "KeySet 59", "pki 10 4931 4266", "KeyContainer 22", "pki 7", "pki 10 4931 4252",
                             "KeyContainer 7", "KeyContainer 15", "KeyContainer 3", "pki 7"})
        expected.push_back(call);
    EXPECT_EQ(pkfmtcalls::Joined(log.Take()), pkfmtcalls::Joined(expected));
}

// The container standing for a signature key held on the key.
TEST_F(ContainerTest, SynthesisedContainerMakesItsCallsInOrder)
{
    kmtest::Device device = OpenKey();
    void* hw[2] = {nullptr, nullptr};
    ASSERT_EQ(device->GetInfo(nullptr, nullptr, hw), KM_OK);
    CurveRecords curve = StandardCurve(0);
    std::uint8_t publicKey[76];
    ASSERT_EQ(static_cast<ICSPHardware*>(hw[0])->GenerateSignatureKeyPair(&curve.field, &curve.point, publicKey), 1);
    pkfmtcalls::CallLog log;
    unsigned length = 0;
    ASSERT_EQ(device->ReadRecord(nullptr, 5, nullptr, &length), KM_OK);
    EXPECT_EQ(pkfmtcalls::Joined(log.Take()),
              pkfmtcalls::Joined({"pki 10 4931 4208", "pki 10 4930 4201", "pki 10 4893 4128", "pki 10 4880 4114",
                                  "Parameters 7", "Key 8", "pki 10 4882 4116", "PrivateKey 12", "PrivateKey 5",
                                  "EntryList 7", "KeyContainer 7", "KeyContainer 15", "KeyContainer 3", "pki 7"}));
}
