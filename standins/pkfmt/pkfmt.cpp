// Stand-in PKI formats library: the interface object, blocks, and the
// key-container objects that the key-media library and the PKCS#11 module
// work with. The object model is support/PKIInterface.h; what this file adds
// is the library's own behaviour where callers leave it open:
//
// Version and options (read at each call, so tests can switch them):
//   PKFMT_VERSION  decimal or 0x-hex version (default 264); "fail" makes
//                  GetVersion answer PKI_E_FAILURE.
//   PKFMT_OPTION_A operation 33, default 1 (this library accepts the CSP).
//   PKFMT_OPTION_B operation 34, default 0.
//   PKFMT_INITIALIZE_RESULT  what PKIInitialize answers (default 0); the
//                  initialisation is counted either way.
//
// Objects hold references, not copies: a container keeps the entry lists
// added to it (and GetItem hands out those same lists), a list keeps its
// entries, a key set its keys. A key keeps its own copy of the parameters it
// was given and hands out a fresh parameter object each time.
//
// Protection (see PkfmtCrypto.h for the derivation):
// - An entry (private key) is encrypted when its key is set: the key's value,
//   parameters and S-box are serialised, encrypted with DSTU 7624 CTR under a
//   fresh salt and IV, and MACed with DSTU 7624 CMAC together with the
//   entry's header. Opening recomputes the MAC; a mismatch answers
//   PKI_E_WRONG_PASSWORD (10) and nothing is decrypted.
// - A container set to be protected is MACed as a whole under its password,
//   so its structure and attributes cannot be changed unnoticed. Its
//   structure stays readable without the password (keys stay encrypted per
//   entry); CheckPassword and GetItemAttribute verify the MAC.
// - The protection value of containers and entries is the iteration count of
//   the password derivation; 0 means the default (10,000, or the count in
//   PKFMT_DEFAULT_ITERATIONS: tests set a small one), more than 20,000 is
//   refused, in encodings too, so that a damaged container read from a key
//   costs at most twice an ordinary derivation.
// - The entry format value must be 1 (a key with its parameters); it is the
//   default.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "PkfmtCallLog.h"
#include "PkfmtCertificate.h"
#include "PkfmtCrypto.h"
#include "PkfmtDer.h"
#include "PkfmtEncoding.h"
#include "PkfmtGost28147.h"
#include "PkfmtGost34311.h"
#include "PkfmtObject.h"
#include "PkfmtPoint.h"
#include "PkfmtUkm.h"
#include "support/CSPParameters.h"
#include "support/PKIInterface.h"

#define PKFMT_EXPORT extern "C" __attribute__((visibility("default")))

namespace pkfmt {
namespace {

std::atomic<int> g_liveObjects{0};
std::atomic<int> g_liveBlobs{0};

constexpr std::uint32_t ENTRY_FORMAT_KEY = 1;
constexpr std::size_t MAX_OID_CHARS = 255;
constexpr std::size_t MAX_BLOCK_BYTES = 65536;
constexpr std::size_t MAX_KEY_VALUE_BYTES = 65536;
constexpr char CONTAINER_MAGIC[4] = {'P', 'K', 'F', 'C'};
constexpr char ENTRY_MAGIC[4] = {'P', 'K', 'F', 'E'};
constexpr std::uint16_t ENCODING_VERSION = 1;
constexpr std::uint16_t CONTAINER_PROTECTED = 1;

void WipeBytes(Bytes& bytes)
{
    if (!bytes.empty()) Wipe(bytes.data(), bytes.size());
}

void WipeText(std::string& text)
{
    if (!text.empty()) Wipe(text.data(), text.size());
}

// ---- blocks ----

// Every block carries a small header in front of the caller's bytes, so that
// FreeBlob knows the size to wipe (callers may pass length 0) and can refuse
// pointers it did not hand out.
struct BlockHeader {
    std::uint64_t magic;
    std::uint64_t size;
};
constexpr std::uint64_t BLOCK_MAGIC = 0x4B4C42544D464B50ull;  // "PKFMTBLK"

int AllocateBlock(PKIBlob* blob, std::size_t size, std::size_t extra = 0)
{
    if (blob == nullptr) return PKI_E_INVALID_ARGUMENT;
    if (size > 0xFFFFFFFFu - extra) return PKI_E_INVALID_ARGUMENT;
    void* memory = std::calloc(1, sizeof(BlockHeader) + size + extra);
    if (memory == nullptr) return PKI_E_OUT_OF_MEMORY;
    BlockHeader* header = static_cast<BlockHeader*>(memory);
    header->magic = BLOCK_MAGIC;
    header->size = size + extra;
    blob->length = static_cast<std::uint32_t>(size);
    blob->data = reinterpret_cast<std::uint8_t*>(header + 1);
    ++g_liveBlobs;
    return PKI_OK;
}

int FreeBlock(PKIBlob* blob)
{
    if (blob == nullptr) return PKI_E_INVALID_ARGUMENT;
    if (blob->data == nullptr) {
        blob->length = 0;
        return PKI_OK;
    }
    BlockHeader* header = reinterpret_cast<BlockHeader*>(blob->data) - 1;
    if (header->magic != BLOCK_MAGIC) return PKI_E_INVALID_ARGUMENT;
    Wipe(header, sizeof(BlockHeader) + header->size);
    std::free(header);
    --g_liveBlobs;
    blob->data = nullptr;
    blob->length = 0;
    return PKI_OK;
}

// A library block holding a copy of the bytes (and a NUL after them when
// `terminate` is set, not counted in the length).
int CopyToBlock(PKIBlob* out, const void* data, std::size_t length, bool terminate = false)
{
    if (out == nullptr) return PKI_E_INVALID_ARGUMENT;
    if (length > MAX_FIELD_BYTES) return PKI_E_FAILURE;
    int rc = AllocateBlock(out, length, terminate ? 1 : 0);
    if (rc == PKI_OK && length > 0) std::memcpy(out->data, data, length);
    return rc;
}

// Hands out item `index` of a list of {key, hasAttribute, attribute}: a new
// reference to its key as interface I, and a copy of its attribute when asked.
template <class I, class List>
int GetListedKey(const List& items, std::uint32_t index, void** key, PKIBlob* attribute)
{
    if (key == nullptr) return PKI_E_INVALID_ARGUMENT;
    *key = nullptr;
    if (index >= items.size()) return PKI_E_INDEX;
    const auto& item = items[index];
    if (attribute != nullptr) {
        *attribute = PKIBlob{0, nullptr};
        if (item.hasAttribute) {
            int rc = CopyToBlock(attribute, item.attribute.data(), item.attribute.size());
            if (rc != PKI_OK) return rc;
        }
    }
    item.key->AddRef();
    *key = static_cast<I*>(item.key.get());
    return PKI_OK;
}

// A caller's input block as bytes; false when it is malformed.
bool ReadInput(const PKIBlob* in, Bytes* out, std::size_t maximum = MAX_FIELD_BYTES)
{
    if (in == nullptr || in->length > maximum || (in->length > 0 && in->data == nullptr)) return false;
    out->assign(in->data, in->data + in->length);
    return true;
}

bool ValidOid(const char* oid)
{
    if (oid == nullptr) return false;
    std::size_t length = std::strlen(oid);
    if (length == 0 || length > MAX_OID_CHARS || oid[0] == '.' || oid[length - 1] == '.') return false;
    for (std::size_t i = 0; i < length; ++i) {
        if (oid[i] == '.') {
            if (oid[i + 1] == '.') return false;
        } else if (oid[i] < '0' || oid[i] > '9') {
            return false;
        }
    }
    return true;
}

void StandardSBox0(std::uint8_t* out)
{
    CSPParameters parameters;
    GOST28147PackedSBox sBox;
    parameters.GetStandardSBox(0, &sBox);
    std::memcpy(out, &sBox, PKI_SBOX_BYTES);
}

// ---- objects ----

// Reference holder for objects kept inside other objects.
template <typename T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {}  // takes over one reference
    Ref(const Ref& other) : object_(other.object_)
    {
        if (object_ != nullptr) object_->AddRef();
    }
    Ref& operator=(const Ref& other)
    {
        if (this != &other) {
            Ref copy(other);
            std::swap(object_, copy.object_);
        }
        return *this;
    }
    ~Ref()
    {
        if (object_ != nullptr) object_->Drop();
    }
    static Ref Share(T* object)
    {
        object->AddRef();
        return Ref(object);
    }
    T* get() const { return object_; }
    T* operator->() const { return object_; }
    // Gives the reference to the caller.
    T* Detach()
    {
        T* object = object_;
        object_ = nullptr;
        return object;
    }

private:
    T* object_ = nullptr;
};

// ---- parameters ----

enum class ParameterForm : std::uint8_t { None = 0, Explicit = 1, Standard = 2, Name = 3, Block = 4 };

struct ParameterState {
    ParameterForm form = ParameterForm::None;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint32_t polynomialBasis = 0;
    std::uint32_t index = 0;
    std::string name;
    Bytes block;
    bool hasSBox = false;
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};

    void Serialize(Writer& w) const
    {
        w.U8(static_cast<std::uint8_t>(form));
        switch (form) {
        case ParameterForm::Explicit:
            for (std::uint32_t v : field.words) w.U32(v);
            for (std::uint32_t v : point.words) w.U32(v);
            break;
        case ParameterForm::Standard:
            w.U32(polynomialBasis);
            w.U32(index);
            break;
        case ParameterForm::Name:
            w.Chunk(name);
            break;
        case ParameterForm::Block:
            w.Chunk(block);
            break;
        case ParameterForm::None:
            break;
        }
        w.U8(hasSBox ? 1 : 0);
        if (hasSBox) w.Raw(sBox, sizeof sBox);
    }

    bool Deserialize(Reader& r)
    {
        std::uint8_t f = r.U8();
        switch (f) {
        case static_cast<std::uint8_t>(ParameterForm::Explicit):
            for (std::uint32_t& v : field.words) v = r.U32();
            for (std::uint32_t& v : point.words) v = r.U32();
            break;
        case static_cast<std::uint8_t>(ParameterForm::Standard): {
            polynomialBasis = r.U32();
            index = r.U32();
            CSPParameters parameters;
            if (polynomialBasis > 1 ||
                !parameters.GetStandardCurve(static_cast<int>(polynomialBasis), index, nullptr, nullptr))
                return false;
            break;
        }
        case static_cast<std::uint8_t>(ParameterForm::Name):
            name = r.Text(MAX_OID_CHARS);
            if (r.ok && !ValidOid(name.c_str())) return false;
            break;
        case static_cast<std::uint8_t>(ParameterForm::Block):
            block = r.Chunk(MAX_BLOCK_BYTES);
            if (r.ok && block.empty()) return false;
            break;
        default:
            return false;
        }
        form = static_cast<ParameterForm>(f);
        std::uint8_t own = r.U8();
        if (own > 1 || (own == 1 && form == ParameterForm::Block)) return false;
        hasSBox = own == 1;
        if (hasSBox) r.Raw(sBox, sizeof sBox);
        return r.ok;
    }

    void SetSBox(const std::uint8_t* s)
    {
        hasSBox = s != nullptr;
        if (hasSBox)
            std::memcpy(sBox, s, sizeof sBox);
        else
            std::memset(sBox, 0, sizeof sBox);
    }
};

// DSTU 4145 parameters. Names resolve to records for the built-in curve and
// for the OIDs of the standard curves; any other name is kept but answers
// PKI_E_FAILURE when asked for records.
class Parameters final : public IPKIParameters, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("Parameters")

    Parameters() = default;
    explicit Parameters(const ParameterState& state) : state_(state) {}
    const ParameterState& State() const { return state_; }
    void Replace(const ParameterState& state) { state_ = state; }

    int GetParameters(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* sBox) override
    {
        PKFMT_TRACE(5);
        return Guard([&] {
            DSTU4145FieldRecord f{};
            DSTU4145PointRecord p{};
            CSPParameters parameters;
            switch (state_.form) {
            case ParameterForm::None:
                return int(PKI_E_NOT_SET);
            case ParameterForm::Block:
                return int(PKI_E_ENCODED_BLOCK);
            case ParameterForm::Explicit:
                f = state_.field;
                p = state_.point;
                break;
            case ParameterForm::Standard:
                parameters.GetStandardCurve(static_cast<int>(state_.polynomialBasis), state_.index, &f, &p);
                break;
            case ParameterForm::Name: {
                int basis = 0, index = 0;
                if (state_.name == PKI_OID_BUILTIN_CURVE)
                    PKIBuiltInCurve(&f, &p);
                else if (parameters.FindStandardCurve(state_.name.c_str(), &basis, &index))
                    parameters.GetStandardCurve(basis, static_cast<unsigned>(index), &f, &p);
                else
                    return int(PKI_E_FAILURE);
                break;
            }
            }
            if (field != nullptr) *field = f;
            if (point != nullptr) *point = p;
            if (sBox != nullptr) {
                if (state_.hasSBox)
                    std::memcpy(sBox, state_.sBox, PKI_SBOX_BYTES);
                else
                    StandardSBox0(sBox);
            }
            return int(PKI_OK);
        });
    }

    int SetExplicit(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                    const std::uint8_t* sBox) override
    {
        PKFMT_TRACE(7);
        if (field == nullptr || point == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            ParameterState s;
            s.form = ParameterForm::Explicit;
            s.field = *field;
            s.point = *point;
            s.SetSBox(sBox);
            state_ = s;
            return int(PKI_OK);
        });
    }

    int SetStandard(std::uint32_t polynomialBasis, std::uint32_t index, const std::uint8_t* sBox) override
    {
        PKFMT_TRACE(8);
        return Guard([&] {
            ParameterState s;
            s.form = ParameterForm::Standard;
            s.polynomialBasis = polynomialBasis != 0 ? 1 : 0;
            s.index = index;
            CSPParameters parameters;
            if (!parameters.GetStandardCurve(static_cast<int>(s.polynomialBasis), index, nullptr, nullptr))
                return int(PKI_E_INVALID_ARGUMENT);
            s.SetSBox(sBox);
            state_ = s;
            return int(PKI_OK);
        });
    }

    int GetName(PKIBlob* oid) override
    {
        PKFMT_TRACE(11);
        if (oid == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (state_.form != ParameterForm::Name) return PKI_E_ABSENT;
        return CopyToBlock(oid, state_.name.data(), state_.name.size(), true);
    }

    int SetName(const char* oid, const std::uint8_t* sBox) override
    {
        PKFMT_TRACE(12);
        if (!ValidOid(oid)) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            ParameterState s;
            s.form = ParameterForm::Name;
            s.name = oid;
            s.SetSBox(sBox);
            state_ = s;
            return int(PKI_OK);
        });
    }

    int GetBlock(PKIBlob* block) override
    {
        PKFMT_TRACE(13);
        if (block == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (state_.form != ParameterForm::Block) return PKI_E_ABSENT;
        return CopyToBlock(block, state_.block.data(), state_.block.size());
    }

    int SetBlock(const PKIBlob* block) override
    {
        PKFMT_TRACE(14);
        return Guard([&] {
            ParameterState s;
            s.form = ParameterForm::Block;
            if (!ReadInput(block, &s.block, MAX_BLOCK_BYTES) || s.block.empty()) return int(PKI_E_INVALID_ARGUMENT);
            state_ = s;
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        bool offered = interfaceId == PKI_IID_DSTU4145_PARAMETERS ||
                       (interfaceId == PKI_IID_NAMED_PARAMETERS && state_.form == ParameterForm::Name) ||
                       (interfaceId == PKI_IID_ENCODED_PARAMETERS && state_.form == ParameterForm::Block);
        return offered ? static_cast<IPKIParameters*>(this) : nullptr;
    }

private:
    ParameterState state_;
};

// Parameters read from their DER; a standard curve's OID becomes that curve.
bool ParameterStateFromDer(const std::uint8_t* data, std::size_t length, ParameterState* out)
{
    DerParameters der;
    if (!DecodeParametersDer(data, length, &der)) return false;
    ParameterState s;
    int basis = 0, index = 0;
    CSPParameters parameters;
    if (der.named && parameters.FindStandardCurve(der.oid.c_str(), &basis, &index)) {
        s.form = ParameterForm::Standard;
        s.polynomialBasis = basis != 0 ? 1 : 0;
        s.index = static_cast<std::uint32_t>(index);
    } else if (der.named) {
        if (!ValidOid(der.oid.c_str())) return false;
        s.form = ParameterForm::Name;
        s.name = der.oid;
    } else {
        s.form = ParameterForm::Explicit;
        s.field = der.field;
        s.point = der.point;
    }
    s.SetSBox(der.hasSBox ? der.sBox : nullptr);
    *out = s;
    return true;
}

// The basis of the curve the parameters give. Explicit parameters always
// carry the field polynomial; the built-in curve is a polynomial-basis one.
std::uint32_t ParameterKindOf(const ParameterState& s)
{
    switch (s.form) {
    case ParameterForm::Explicit:
        return PKI_KEY_PARAMETERS_POLYNOMIAL;
    case ParameterForm::Standard:
        return s.polynomialBasis != 0 ? PKI_KEY_PARAMETERS_POLYNOMIAL : PKI_KEY_PARAMETERS_NORMAL;
    case ParameterForm::Name:
        return s.name == PKI_OID_BUILTIN_CURVE ? PKI_KEY_PARAMETERS_POLYNOMIAL : PKI_KEY_PARAMETERS_UNKNOWN;
    default:
        return PKI_KEY_PARAMETERS_UNKNOWN;
    }
}

// ---- codec ----

// Codec (class 33, interface 32): DER of the attached object. DSTU 4145
// parameters are written as a named curve when held as a standard curve or
// a name, else explicitly; a decoded standard curve's OID becomes that curve.
class Codec final : public IPKICodec, public Core {
public:
    PKFMT_OBJECT_COMMON

    ~Codec() { DropOther(); }

    int Attach(IPKIObject* object) override
    {
        if (DerObject* other = AsDerObject(object)) {
            other->HoldDer();
            DropOther();
            other_ = other;
            attached_ = Ref<Parameters>();
            return PKI_OK;
        }
        auto* parameters = dynamic_cast<Parameters*>(object);
        if (parameters == nullptr) return object == nullptr ? PKI_E_INVALID_ARGUMENT : PKI_E_NOT_IMPLEMENTED;
        attached_ = Ref<Parameters>::Share(parameters);
        DropOther();
        return PKI_OK;
    }

    int Encode(PKIBlob* out) override
    {
        if (out == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (other_ != nullptr) return Guard([&] { return other_->EncodeDer(out); });
        if (attached_.get() == nullptr) return PKI_E_NOT_SET;
        return Guard([&] {
            const ParameterState& s = attached_->State();
            DerParameters der;
            char oid[CSP_CURVE_TEXT_BYTES] = {};
            CSPParameters parameters;
            switch (s.form) {
            case ParameterForm::Standard:
                if (!parameters.GetStandardCurveInfo(static_cast<int>(s.polynomialBasis), s.index, nullptr, nullptr,
                                                     oid))
                    return int(PKI_E_FAILURE);
                der.named = true;
                der.oid = oid;
                break;
            case ParameterForm::Name:
                der.named = true;
                der.oid = s.name;
                break;
            case ParameterForm::Explicit:
                der.field = s.field;
                der.point = s.point;
                break;
            case ParameterForm::Block:
                return int(PKI_E_NOT_IMPLEMENTED);
            case ParameterForm::None:
                return int(PKI_E_NOT_SET);
            }
            der.hasSBox = s.hasSBox;
            std::memcpy(der.sBox, s.sBox, sizeof(der.sBox));
            Bytes encoded;
            if (!EncodeParametersDer(der, &encoded)) return int(PKI_E_FAILURE);
            return CopyToBlock(out, encoded.data(), encoded.size());
        });
    }

    int Decode(const PKIBlob* in) override
    {
        if (in == nullptr || (in->data == nullptr && in->length != 0)) return PKI_E_INVALID_ARGUMENT;
        if (other_ != nullptr) return Guard([&] { return other_->DecodeDer(in->data, in->length); });
        if (attached_.get() == nullptr) return PKI_E_NOT_SET;
        return Guard([&] {
            ParameterState s;
            if (!ParameterStateFromDer(in->data, in->length, &s)) return int(PKI_E_BAD_ENCODING);
            attached_->Replace(s);
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_CODEC ? static_cast<IPKICodec*>(this) : nullptr;
    }

private:
    void DropOther()
    {
        if (other_ != nullptr) other_->DropDer();
        other_ = nullptr;
    }

    Ref<Parameters> attached_;
    DerObject* other_ = nullptr;  // a held reference
};

// ---- keys ----

// A key has up to two parts: the DSTU 4145 part (value, parameters, own
// S-box, and a public key when its maker gave one) and the key-data part
// (PKI_KEY_DATA_BYTES and two parameter words). The encoding of a key with
// only a DSTU 4145 part and no public key is the original one; the further
// items follow it as tagged trailers.
struct KeyState {
    bool set = false;  // the DSTU 4145 part
    Bytes value;
    ParameterState parameters;
    bool hasSBox = false;
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    Bytes publicKey;
    Bytes data;  // the key-data part, empty or PKI_KEY_DATA_BYTES
    std::uint32_t dataParameters[2] = {};

    ~KeyState()
    {
        WipeBytes(value);
        WipeBytes(data);
    }

    std::uint32_t Usage() const
    {
        return (set ? PKI_KEY_USAGE_DSTU4145 : 0u) | (data.empty() ? 0u : PKI_KEY_USAGE_DATA);
    }

    void Serialize(Writer& w) const
    {
        w.Chunk(set ? value : Bytes());
        if (set) {
            parameters.Serialize(w);
            w.U8(hasSBox ? 1 : 0);
            if (hasSBox) w.Raw(sBox, sizeof sBox);
        }
        if (!publicKey.empty()) {
            w.U8(TRAILER_PUBLIC_KEY);
            w.Chunk(publicKey);
        }
        if (!data.empty()) {
            w.U8(TRAILER_KEY_DATA);
            w.Chunk(data);
            w.U32(dataParameters[0]);
            w.U32(dataParameters[1]);
        }
    }

    bool Deserialize(Reader& r)
    {
        value = r.Chunk(MAX_KEY_VALUE_BYTES);
        if (!r.ok) return false;
        if (!value.empty()) {
            if (!parameters.Deserialize(r) || parameters.form == ParameterForm::None) return false;
            std::uint8_t own = r.U8();
            if (own > 1) return false;
            hasSBox = own == 1;
            if (hasSBox) r.Raw(sBox, sizeof sBox);
            set = r.ok;
        }
        while (r.ok && !r.AtEnd()) {
            std::uint8_t tag = r.U8();
            if (tag == TRAILER_PUBLIC_KEY && publicKey.empty()) {
                publicKey = r.Chunk(PKI_KEY_FIELD_BYTES - 4);
                if (publicKey.empty()) return false;
            } else if (tag == TRAILER_KEY_DATA && data.empty()) {
                data = r.Chunk(PKI_KEY_DATA_BYTES);
                dataParameters[0] = r.U32();
                dataParameters[1] = r.U32();
                if (data.size() != PKI_KEY_DATA_BYTES) return false;
            } else {
                return false;
            }
        }
        return r.ok && (set || !data.empty());
    }

    static constexpr std::uint8_t TRAILER_PUBLIC_KEY = 0xA1;
    static constexpr std::uint8_t TRAILER_KEY_DATA = 0xA2;
};

// A key: opaque value bytes (a private key, a public key, whatever its maker
// puts there), parameters and an optional S-box of its own. Interface 4275 is
// always offered; through 4128 a key whose parameters are a block answers
// PKI_E_ENCODED_BLOCK.
class Key final : public IPKIKey, public IPKIEncodedKey, public IPKIKeyExport, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("Key")

    Key() = default;
    const KeyState& State() const { return state_; }
    bool LoadFrom(Reader& r) { return state_.Deserialize(r); }

    int GetKeyValue(PKIBlob* value, void** parameters) override
    {
        PKFMT_TRACE(7);
        if (value == nullptr || parameters == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (state_.set && state_.parameters.form == ParameterForm::Block) {
            *parameters = nullptr;
            return PKI_E_ENCODED_BLOCK;
        }
        return Get(value, parameters);
    }

    int SetKeyValue(const PKIBlob* value, IPKIObject* parameters) override
    {
        PKFMT_TRACE(8);
        return Set(value, parameters);
    }

    int GetEncodedKeyValue(PKIBlob* value, void** parameters) override
    {
        PKFMT_TRACE(61);
        if (value == nullptr || parameters == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Get(value, parameters);
    }

    int SetEncodedKeyValue(const PKIBlob* value, IPKIObject* parameters) override
    {
        PKFMT_TRACE(62);
        return Set(value, parameters);
    }

    int GetSBox(std::uint8_t* sBox) override
    {
        PKFMT_TRACE(43);
        if (sBox == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (!state_.hasSBox) return PKI_E_ABSENT;
        std::memcpy(sBox, state_.sBox, PKI_SBOX_BYTES);
        return PKI_OK;
    }

    int SetSBox(const std::uint8_t* sBox) override
    {
        PKFMT_TRACE(44);
        state_.hasSBox = sBox != nullptr;
        if (sBox != nullptr)
            std::memcpy(state_.sBox, sBox, PKI_SBOX_BYTES);
        else
            std::memset(state_.sBox, 0, PKI_SBOX_BYTES);
        return PKI_OK;
    }

    int SetKeyData(const std::uint8_t* data, const std::uint32_t* parameters) override
    {
        PKFMT_TRACE(10);
        if (data == nullptr || parameters == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            WipeBytes(state_.data);
            state_.data.assign(data, data + PKI_KEY_DATA_BYTES);
            state_.dataParameters[0] = parameters[0];
            state_.dataParameters[1] = parameters[1];
            return int(PKI_OK);
        });
    }

    // Keys of this library answer their usage through interface 4224 too;
    // both words together give the same bits.
    int GetUsageWords(std::uint32_t* first, std::uint32_t* second) override
    {
        PKFMT_TRACE(45);
        if (first == nullptr || second == nullptr) return PKI_E_INVALID_ARGUMENT;
        *first = state_.set ? PKI_KEY_USAGE_DSTU4145 : 0u;
        *second = state_.data.empty() ? 0u : PKI_KEY_USAGE_DATA;
        return PKI_OK;
    }

    int GetUsage(std::uint32_t* bits) override
    {
        PKFMT_TRACE(3);
        if (bits == nullptr) return PKI_E_INVALID_ARGUMENT;
        *bits = state_.Usage();
        return PKI_OK;
    }

    int Export(std::uint32_t query, std::uint8_t* fields, std::uint32_t count) override
    {
        PKFMT_TRACE_IDS(4, static_cast<long>(query));
        if (fields == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (query == PKI_EXPORT_DATA_PART) {
            if (count < 9) return PKI_E_INVALID_ARGUMENT;
            std::memset(fields, 0, std::size_t(count) * PKI_KEY_FIELD_BYTES);
            if (state_.data.empty()) return PKI_E_ABSENT;
            std::memcpy(fields, state_.data.data(), PKI_KEY_DATA_BYTES);
            PutU32(fields + PKI_KEY_DATA_BYTES, state_.dataParameters[0]);
            PutU32(fields + PKI_KEY_DATA_BYTES + 4, state_.dataParameters[1]);
            return PKI_OK;
        }
        if (query != PKI_EXPORT_DSTU4145_PART) return PKI_E_INVALID_ARGUMENT;
        if (count < 4) return PKI_E_INVALID_ARGUMENT;
        std::memset(fields, 0, std::size_t(count) * PKI_KEY_FIELD_BYTES);
        if (!state_.set) return PKI_E_ABSENT;
        if (state_.value.size() > PKI_KEY_FIELD_BYTES - 4) return PKI_E_FAILURE;
        return Guard([&] {
            Parameters parameters(state_.parameters);
            DSTU4145FieldRecord field;
            DSTU4145PointRecord point;
            std::uint8_t sBox[PKI_SBOX_BYTES];
            int rc = parameters.GetParameters(&field, &point, sBox);
            if (rc != PKI_OK) return rc;
            static_assert(sizeof field + sizeof point <= PKI_KEY_FIELD_BYTES);
            std::memcpy(fields, &field, sizeof field);
            std::memcpy(fields + sizeof field, &point, sizeof point);
            std::memcpy(fields + PKI_KEY_FIELD_BYTES, state_.hasSBox ? state_.sBox : sBox, PKI_SBOX_BYTES);
            std::uint8_t* privateKey = fields + 2 * PKI_KEY_FIELD_BYTES;
            PutU32(privateKey, static_cast<std::uint32_t>(state_.value.size()));
            std::memcpy(privateKey + 4, state_.value.data(), state_.value.size());
            std::uint8_t* publicKey = fields + 3 * PKI_KEY_FIELD_BYTES;
            PutU32(publicKey, static_cast<std::uint32_t>(state_.publicKey.size()));
            if (!state_.publicKey.empty()) std::memcpy(publicKey + 4, state_.publicKey.data(), state_.publicKey.size());
            return int(PKI_OK);
        });
    }

    int SetDSTU4145Part(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point, const std::uint8_t* sBox,
                        const PKIBlob* privateKey, const PKIBlob* publicKey) override
    {
        PKFMT_TRACE(5);
        if (field == nullptr || point == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Bytes value, open;
            if (!ReadInput(privateKey, &value, PKI_KEY_FIELD_BYTES - 4) || value.empty() ||
                (publicKey != nullptr && !ReadInput(publicKey, &open, PKI_KEY_FIELD_BYTES - 4))) {
                WipeBytes(value);
                return int(PKI_E_INVALID_ARGUMENT);
            }
            Parameters parameters;
            int rc = parameters.SetExplicit(field, point, nullptr);
            if (rc != PKI_OK) {
                WipeBytes(value);
                return rc;
            }
            WipeBytes(state_.value);
            state_.value = std::move(value);
            state_.parameters = parameters.State();
            state_.publicKey = std::move(open);
            state_.hasSBox = sBox != nullptr;
            if (sBox != nullptr) std::memcpy(state_.sBox, sBox, PKI_SBOX_BYTES);
            state_.set = true;
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        if (interfaceId == PKI_IID_KEY) return static_cast<IPKIKey*>(this);
        if (interfaceId == PKI_IID_ENCODED_KEY) return static_cast<IPKIEncodedKey*>(this);
        if (interfaceId == PKI_IID_KEY_EXPORT) return static_cast<IPKIKeyExport*>(this);
        return nullptr;
    }

    static void PutU32(std::uint8_t* at, std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }

private:
    int Get(PKIBlob* value, void** parameters)
    {
        *parameters = nullptr;
        if (!state_.set) return PKI_E_NOT_SET;
        return Guard([&] {
            Ref<Parameters> copy(new Parameters(state_.parameters));
            int rc = CopyToBlock(value, state_.value.data(), state_.value.size());
            if (rc != PKI_OK) return rc;
            *parameters = static_cast<IPKIParameters*>(copy.Detach());
            return int(PKI_OK);
        });
    }

    int Set(const PKIBlob* value, IPKIObject* parameters)
    {
        auto* source = dynamic_cast<Parameters*>(parameters);
        if (source == nullptr || source->State().form == ParameterForm::None) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Bytes bytes;
            if (!ReadInput(value, &bytes, MAX_KEY_VALUE_BYTES) || bytes.empty()) return int(PKI_E_INVALID_ARGUMENT);
            WipeBytes(state_.value);
            state_.value = std::move(bytes);
            state_.parameters = source->State();
            state_.set = true;
            return int(PKI_OK);
        });
    }

    KeyState state_;
};

// Attribute bytes of a container entry.
class Attribute final : public IPKIAttribute, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("Attribute")

    const Bytes& Value() const { return value_; }

    int GetValue(PKIBlob* value) override
    {
        PKFMT_TRACE(3);
        return Guard([&] { return CopyToBlock(value, value_.data(), value_.size()); });
    }

    int SetValue32(const std::uint8_t* value) override
    {
        PKFMT_TRACE(4);
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            value_.assign(value, value + 32);
            return int(PKI_OK);
        });
    }

    int GetValueWithLength(std::uint8_t* value, std::uint32_t* length) override
    {
        PKFMT_TRACE(5);
        if (length == nullptr || (value == nullptr && *length != 0)) return PKI_E_INVALID_ARGUMENT;
        if (value_.size() > *length) {
            *length = static_cast<std::uint32_t>(value_.size());
            return PKI_E_INVALID_ARGUMENT;
        }
        if (!value_.empty()) std::memcpy(value, value_.data(), value_.size());
        *length = static_cast<std::uint32_t>(value_.size());
        return PKI_OK;
    }

    int SetValue(const void* data, std::uint32_t length) override
    {
        PKFMT_TRACE(6);
        if (length > 0 && data == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (length > MAX_FIELD_BYTES) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            const std::uint8_t* p = static_cast<const std::uint8_t*>(data);
            value_.assign(p, p + length);
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_ATTRIBUTE ? static_cast<IPKIAttribute*>(this) : nullptr;
    }

private:
    Bytes value_;
};

// ---- key set ----

class KeySet final : public IPKIKeySet, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("KeySet")

    int GetKeyCount(std::uint32_t* count) override
    {
        PKFMT_TRACE(46);
        if (count == nullptr) return PKI_E_INVALID_ARGUMENT;
        *count = static_cast<std::uint32_t>(items_.size());
        return PKI_OK;
    }

    int AddKey(IPKIObject* key, const PKIBlob* attribute) override
    {
        PKFMT_TRACE(47);
        auto* k = dynamic_cast<Key*>(key);
        if (k == nullptr || !k->State().set) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Item item;
            if (attribute != nullptr && !ReadInput(attribute, &item.attribute)) return int(PKI_E_INVALID_ARGUMENT);
            item.hasAttribute = !item.attribute.empty();
            item.key = Ref<Key>::Share(k);
            items_.push_back(std::move(item));
            return int(PKI_OK);
        });
    }

    int GetKey(std::uint32_t index, void** key, PKIBlob* attribute) override
    {
        PKFMT_TRACE(48);
        return GetListedKey<IPKIKey>(items_, index, key, attribute);
    }

    int GetValue(std::uint32_t id, PKIBlob* value) override
    {
        PKFMT_TRACE(59);
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        auto it = values_.find(id);
        if (it == values_.end()) return PKI_E_ABSENT;
        return CopyToBlock(value, it->second.data(), it->second.size());
    }

    // A null or empty value removes the numbered value.
    int SetValue(std::uint32_t id, const PKIBlob* value) override
    {
        PKFMT_TRACE(58);
        return Guard([&] {
            if (value == nullptr || value->length == 0) {
                values_.erase(id);
                return int(PKI_OK);
            }
            Bytes bytes;
            if (!ReadInput(value, &bytes)) return int(PKI_E_INVALID_ARGUMENT);
            values_[id] = std::move(bytes);
            return int(PKI_OK);
        });
    }

    int RemoveValue(std::uint32_t id) override
    {
        PKFMT_TRACE(60);
        return values_.erase(id) ? PKI_OK : PKI_E_ABSENT;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_KEY_SET ? static_cast<IPKIKeySet*>(this) : nullptr;
    }

private:
    struct Item {
        Ref<Key> key;
        bool hasAttribute = false;
        Bytes attribute;
    };
    std::vector<Item> items_;
    std::map<std::uint32_t, Bytes> values_;
};

// ---- private key (container entry) ----

// Encoding: "PKFE", u16 version, u16 format, u32 protection value, salt,
// IV, u32 length and the encrypted key, then the MAC over all of it.
class PrivateKey final : public IPKIPrivateKey, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("PrivateKey")

    ~PrivateKey() override { WipeBytes(sealed_); }

    bool Sealed() const { return !sealed_.empty(); }
    const Bytes& Encoding() const { return sealed_; }

    // Checks the structure of an entry encoding and takes it over.
    bool Load(const Bytes& encoding)
    {
        Reader r(encoding.data(), encoding.size());
        char magic[4];
        r.Raw(magic, 4);
        std::uint16_t version = r.U16();
        std::uint16_t format = r.U16();
        std::uint32_t iterations = r.U32();
        std::uint8_t skip[SALT_BYTES + IV_BYTES];
        r.Raw(skip, sizeof skip);
        Bytes cipher = r.Chunk(MAX_KEY_VALUE_BYTES + 4096);
        std::uint8_t mac[MAC_BYTES];
        r.Raw(mac, sizeof mac);
        if (!r.AtEnd() || std::memcmp(magic, ENTRY_MAGIC, 4) != 0 || version != ENCODING_VERSION ||
            format != ENTRY_FORMAT_KEY || iterations > MAX_ITERATIONS || cipher.empty())
            return false;
        WipeBytes(sealed_);
        sealed_ = encoding;
        format_ = format;
        protectionValue_ = iterations;
        return true;
    }

    int Encode(PKIBlob* out) override
    {
        PKFMT_TRACE(3);
        if (out == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (!Sealed()) return PKI_E_NOT_SET;
        return CopyToBlock(out, sealed_.data(), sealed_.size());
    }

    int Decode(const PKIBlob* in) override
    {
        PKFMT_TRACE(4);
        return Guard([&] {
            Bytes bytes;
            if (!ReadInput(in, &bytes)) return int(PKI_E_INVALID_ARGUMENT);
            return Load(bytes) ? int(PKI_OK) : int(PKI_E_BAD_ENCODING);
        });
    }

    int SetKey(IPKIObject* key, const char* password) override
    {
        PKFMT_TRACE(5);
        auto* k = dynamic_cast<Key*>(key);
        if (k == nullptr || k->State().Usage() == 0 || password == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Writer plain;
            k->State().Serialize(plain);
            Writer w;
            w.Raw(ENTRY_MAGIC, 4);
            w.U16(ENCODING_VERSION);
            w.U16(static_cast<std::uint16_t>(format_));
            w.U32(protectionValue_);
            std::uint8_t salt[SALT_BYTES], iv[IV_BYTES];
            DerivedKeys keys;
            std::string secret(password);
            bool ok = RandomBytes(salt, sizeof salt) && RandomBytes(iv, sizeof iv) &&
                      DeriveKeys(secret, salt, protectionValue_, &keys) &&
                      ApplyCTR(keys.cipher, iv, plain.bytes.data(), plain.bytes.size());
            WipeText(secret);
            if (!ok) {
                WipeBytes(plain.bytes);
                return int(PKI_E_FAILURE);
            }
            w.Raw(salt, sizeof salt);
            w.Raw(iv, sizeof iv);
            w.Chunk(plain.bytes);
            std::uint8_t mac[MAC_BYTES];
            if (!ComputeMAC(keys.mac, w.bytes.data(), w.bytes.size(), mac)) return int(PKI_E_FAILURE);
            w.Raw(mac, sizeof mac);
            WipeBytes(sealed_);
            sealed_ = std::move(w.bytes);
            return int(PKI_OK);
        });
    }

    int Open(const char* password, void** key) override
    {
        PKFMT_TRACE(6);
        if (password == nullptr) return PKI_E_INVALID_ARGUMENT;
        return OpenWith(password, key);
    }

    int OpenConverted(const char* password, void** key) override
    {
        PKFMT_TRACE(7);
        if (password == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            std::string converted = Cp1251ToUtf8(password);
            int rc = OpenWith(converted, key);
            WipeText(converted);
            return rc;
        });
    }

    int SetFormat(std::uint32_t format) override
    {
        PKFMT_TRACE(12);
        if (format != ENTRY_FORMAT_KEY) return PKI_E_INVALID_ARGUMENT;
        format_ = format;
        return PKI_OK;
    }

    int SetProtectionValue(std::uint32_t value) override
    {
        PKFMT_TRACE(13);
        if (value > MAX_ITERATIONS) return PKI_E_INVALID_ARGUMENT;
        protectionValue_ = value;
        return PKI_OK;
    }

    int GetProtectionValue(std::uint32_t* value) override
    {
        PKFMT_TRACE(14);
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        *value = protectionValue_;
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_PRIVATE_KEY || interfaceId == PKI_IID_PRIVATE_KEY_FROM_SET
                   ? static_cast<IPKIPrivateKey*>(this)
                   : nullptr;
    }

private:
    int OpenWith(const std::string& password, void** key)
    {
        if (key == nullptr) return PKI_E_INVALID_ARGUMENT;
        *key = nullptr;
        if (!Sealed()) return PKI_E_NOT_SET;
        return Guard([&] {
            // Offsets of the fields checked by Load.
            const std::size_t saltAt = 12, ivAt = saltAt + SALT_BYTES, cipherAt = ivAt + IV_BYTES + 4;
            const std::size_t macAt = sealed_.size() - MAC_BYTES;
            std::uint32_t iterations = protectionValue_;
            DerivedKeys keys;
            std::uint8_t mac[MAC_BYTES];
            if (!DeriveKeys(password, sealed_.data() + saltAt, iterations, &keys) ||
                !ComputeMAC(keys.mac, sealed_.data(), macAt, mac))
                return int(PKI_E_FAILURE);
            if (!EqualInConstantTime(mac, sealed_.data() + macAt, MAC_BYTES)) return int(PKI_E_WRONG_PASSWORD);
            Bytes plain(sealed_.begin() + cipherAt, sealed_.begin() + macAt);
            int rc = PKI_E_BAD_ENCODING;
            if (ApplyCTR(keys.cipher, sealed_.data() + ivAt, plain.data(), plain.size())) {
                Ref<Key> opened(new Key());
                Reader r(plain.data(), plain.size());
                if (opened->LoadFrom(r) && r.AtEnd()) {
                    *key = static_cast<IPKIKey*>(opened.Detach());
                    rc = PKI_OK;
                }
            }
            WipeBytes(plain);
            return rc;
        });
    }

    std::uint32_t format_ = ENTRY_FORMAT_KEY;
    std::uint32_t protectionValue_ = 0;
    Bytes sealed_;
};

// ---- entry list ----

class EntryList final : public IPKIEntryList, public IPKIItemAttributes, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("EntryList")

    int GetEntryCount(std::uint32_t* count) override
    {
        PKFMT_TRACE(5);
        if (count == nullptr) return PKI_E_INVALID_ARGUMENT;
        *count = static_cast<std::uint32_t>(entries_.size());
        return PKI_OK;
    }

    int GetEntry(std::uint32_t index, void** privateKey, PKIBlob* attribute) override
    {
        PKFMT_TRACE(6);
        return GetListedKey<IPKIPrivateKey>(entries_, index, privateKey, attribute);
    }

    int AddEntry(IPKIObject* privateKey, IPKIObject* attribute) override
    {
        PKFMT_TRACE(7);
        auto* key = dynamic_cast<PrivateKey*>(privateKey);
        if (key == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (!key->Sealed()) return PKI_E_NOT_SET;
        Attribute* a = nullptr;
        if (attribute != nullptr && (a = dynamic_cast<Attribute*>(attribute)) == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Entry entry;
            entry.key = Ref<PrivateKey>::Share(key);
            entry.hasAttribute = a != nullptr;
            if (a != nullptr) entry.attribute = a->Value();
            entries_.push_back(std::move(entry));
            return int(PKI_OK);
        });
    }

    int RemoveEntry(std::uint32_t index) override
    {
        PKFMT_TRACE(8);
        if (index >= entries_.size()) return PKI_E_INDEX;
        entries_.erase(entries_.begin() + index);
        return PKI_OK;
    }

    int GetAttribute(const char* oid, PKIBlob* value) override
    {
        PKFMT_TRACE(20);
        if (oid == nullptr || value == nullptr) return PKI_E_INVALID_ARGUMENT;
        const Bytes* found = Find(oid);
        if (found == nullptr) return PKI_E_ABSENT;
        return CopyToBlock(value, found->data(), found->size());
    }

    std::uint32_t FirstProtectionValue() const
    {
        std::uint32_t value = 0;
        for (std::size_t i = 0; value == 0 && i < entries_.size(); ++i) entries_[i].key->GetProtectionValue(&value);
        return value;
    }

    const Bytes* Find(const std::string& oid) const
    {
        for (const auto& attribute : attributes_)
            if (attribute.first == oid) return &attribute.second;
        return nullptr;
    }

    // Replaces an attribute of the same OID, else appends.
    void Put(const std::string& oid, Bytes value)
    {
        for (auto& attribute : attributes_) {
            if (attribute.first == oid) {
                attribute.second = std::move(value);
                return;
            }
        }
        attributes_.emplace_back(oid, std::move(value));
    }

    void Serialize(Writer& w) const
    {
        w.U32(static_cast<std::uint32_t>(entries_.size()));
        for (const Entry& entry : entries_) {
            w.Chunk(entry.key->Encoding());
            w.U8(entry.hasAttribute ? 1 : 0);
            if (entry.hasAttribute) w.Chunk(entry.attribute);
        }
        w.U32(static_cast<std::uint32_t>(attributes_.size()));
        for (const auto& attribute : attributes_) {
            w.Chunk(attribute.first);
            w.Chunk(attribute.second);
        }
    }

    bool Deserialize(Reader& r)
    {
        std::uint32_t count = r.U32();
        // Each entry takes at least five bytes: a bound before any allocation.
        if (!r.ok || count > r.Remaining() / 5) return false;
        for (std::uint32_t i = 0; i < count; ++i) {
            Entry entry;
            Bytes encoding = r.Chunk();
            std::uint8_t hasAttribute = r.U8();
            if (!r.ok || hasAttribute > 1) return false;
            entry.hasAttribute = hasAttribute == 1;
            if (entry.hasAttribute) entry.attribute = r.Chunk();
            entry.key = Ref<PrivateKey>(new PrivateKey());
            if (!r.ok || !entry.key->Load(encoding)) return false;
            entries_.push_back(std::move(entry));
        }
        std::uint32_t attributes = r.U32();
        if (!r.ok || attributes > r.Remaining() / 8) return false;
        for (std::uint32_t i = 0; i < attributes; ++i) {
            std::string oid = r.Text(MAX_OID_CHARS);
            Bytes value = r.Chunk();
            if (!r.ok || !ValidOid(oid.c_str()) || Find(oid) != nullptr) return false;
            attributes_.emplace_back(std::move(oid), std::move(value));
        }
        return r.ok;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        if (interfaceId == PKI_IID_ENTRY_LIST) return static_cast<IPKIEntryList*>(this);
        if (interfaceId == PKI_IID_ITEM_ATTRIBUTES) return static_cast<IPKIItemAttributes*>(this);
        return nullptr;
    }

private:
    struct Entry {
        Ref<PrivateKey> key;
        bool hasAttribute = false;
        Bytes attribute;
    };
    std::vector<Entry> entries_;
    std::vector<std::pair<std::string, Bytes>> attributes_;
};

// ---- key container ----

// Encoding: "PKFC", u16 version, u16 flags (bit 0 protected), u32
// protection value, salt, u32 item count, each item as a length-prefixed
// entry-list encoding; a protected container ends with the MAC of all that.
class KeyContainer final : public IPKIKeyContainer, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("KeyContainer")

    ~KeyContainer() override { WipeText(password_); }

    int Encode(PKIBlob* out) override
    {
        PKFMT_TRACE(3);
        if (out == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Writer w;
            w.Raw(CONTAINER_MAGIC, 4);
            w.U16(ENCODING_VERSION);
            w.U16(protect_ ? CONTAINER_PROTECTED : 0);
            w.U32(protectionValue_);
            std::uint8_t salt[SALT_BYTES] = {};
            if (protect_ && !RandomBytes(salt, sizeof salt)) return int(PKI_E_FAILURE);
            w.Raw(salt, sizeof salt);
            w.U32(static_cast<std::uint32_t>(items_.size()));
            for (const auto& item : items_) {
                Writer list;
                item->Serialize(list);
                w.Chunk(list.bytes);
            }
            if (protect_) {
                DerivedKeys keys;
                std::uint8_t mac[MAC_BYTES];
                if (!DeriveKeys(password_, salt, protectionValue_, &keys) ||
                    !ComputeMAC(keys.mac, w.bytes.data(), w.bytes.size(), mac))
                    return int(PKI_E_FAILURE);
                w.Raw(mac, sizeof mac);
            }
            if (w.bytes.size() > 0xFFFFFFFFu) return int(PKI_E_FAILURE);
            return CopyToBlock(out, w.bytes.data(), w.bytes.size());
        });
    }

    int Decode(const PKIBlob* in) override
    {
        PKFMT_TRACE(4);
        return Guard([&] {
            Bytes bytes;
            if (!ReadInput(in, &bytes, 0xFFFFFFFFu)) return int(PKI_E_INVALID_ARGUMENT);
            Reader r(bytes.data(), bytes.size());
            char magic[4];
            r.Raw(magic, 4);
            std::uint16_t version = r.U16();
            std::uint16_t flags = r.U16();
            std::uint32_t iterations = r.U32();
            std::uint8_t salt[SALT_BYTES];
            r.Raw(salt, sizeof salt);
            std::uint32_t count = r.U32();
            if (!r.ok || std::memcmp(magic, CONTAINER_MAGIC, 4) != 0 || version != ENCODING_VERSION ||
                (flags & ~CONTAINER_PROTECTED) != 0 || iterations > MAX_ITERATIONS || count > r.Remaining() / 4)
                return int(PKI_E_BAD_ENCODING);
            std::vector<Ref<EntryList>> items;
            for (std::uint32_t i = 0; i < count; ++i) {
                Bytes encoding = r.Chunk();
                Ref<EntryList> list(new EntryList());
                Reader nested(encoding.data(), encoding.size());
                if (!r.ok || !list->Deserialize(nested) || !nested.AtEnd()) return int(PKI_E_BAD_ENCODING);
                items.push_back(std::move(list));
            }
            const bool isProtected = (flags & CONTAINER_PROTECTED) != 0;
            const std::size_t bodyLength = r.Position();
            if (isProtected) {
                std::uint8_t mac[MAC_BYTES];
                r.Raw(mac, sizeof mac);
            }
            if (!r.AtEnd()) return int(PKI_E_BAD_ENCODING);
            items_ = std::move(items);
            decoded_ = true;
            decodedProtected_ = isProtected;
            protectionValue_ = iterations;
            std::memcpy(decodedSalt_, salt, sizeof salt);
            decodedBody_ = std::move(bytes);
            decodedBodyLength_ = bodyLength;
            return int(PKI_OK);
        });
    }

    int GetItemCount(std::uint32_t* count) override
    {
        PKFMT_TRACE(5);
        if (count == nullptr) return PKI_E_INVALID_ARGUMENT;
        *count = static_cast<std::uint32_t>(items_.size());
        return PKI_OK;
    }

    int GetItem(std::uint32_t index, void** entryList) override
    {
        PKFMT_TRACE(6);
        if (entryList == nullptr) return PKI_E_INVALID_ARGUMENT;
        *entryList = nullptr;
        if (index >= items_.size()) return PKI_E_INDEX;
        items_[index]->AddRef();
        *entryList = static_cast<IPKIEntryList*>(items_[index].get());
        return PKI_OK;
    }

    int AddItem(IPKIObject* entryList) override
    {
        PKFMT_TRACE(7);
        auto* list = dynamic_cast<EntryList*>(entryList);
        if (list == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            items_.push_back(Ref<EntryList>::Share(list));
            return int(PKI_OK);
        });
    }

    int RemoveItem(std::uint32_t index) override
    {
        PKFMT_TRACE(8);
        if (index >= items_.size()) return PKI_E_INDEX;
        items_.erase(items_.begin() + index);
        return PKI_OK;
    }

    int SetPassword(std::uint32_t flags, const char* password) override
    {
        PKFMT_TRACE(15);
        if ((flags & ~PKI_PROTECT_WITH_PASSWORD) != 0) return PKI_E_INVALID_ARGUMENT;
        if ((flags & PKI_PROTECT_WITH_PASSWORD) != 0 && password == nullptr) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            WipeText(password_);
            protect_ = (flags & PKI_PROTECT_WITH_PASSWORD) != 0;
            password_ = protect_ ? password : "";
            return int(PKI_OK);
        });
    }

    int CheckPassword(const char* password) override
    {
        PKFMT_TRACE(16);
        if (password == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (!decodedProtected_) return PKI_OK;
        return Guard([&] {
            DerivedKeys keys;
            std::uint8_t mac[MAC_BYTES];
            if (!DeriveKeys(password, decodedSalt_, protectionValue_, &keys) ||
                !ComputeMAC(keys.mac, decodedBody_.data(), decodedBodyLength_, mac))
                return int(PKI_E_FAILURE);
            return EqualInConstantTime(mac, decodedBody_.data() + decodedBodyLength_, MAC_BYTES)
                       ? int(PKI_OK)
                       : int(PKI_E_WRONG_PASSWORD);
        });
    }

    // A decoded container reports how it was written; a new one whether the
    // next Encode will protect it.
    int IsProtected(std::uint32_t* isProtected) override
    {
        PKFMT_TRACE(17);
        if (isProtected == nullptr) return PKI_E_INVALID_ARGUMENT;
        *isProtected = (decoded_ ? decodedProtected_ : protect_) ? 1 : 0;
        return PKI_OK;
    }

    // The container's own value; when that is the default, the first nonzero
    // value of its entries, so that a container written unprotected around
    // protected entries still reports what protects its keys.
    int GetProtectionValue(std::uint32_t* value) override
    {
        PKFMT_TRACE(19);
        if (value == nullptr) return PKI_E_INVALID_ARGUMENT;
        *value = protectionValue_;
        for (std::size_t i = 0; *value == 0 && i < items_.size(); ++i) *value = items_[i]->FirstProtectionValue();
        return PKI_OK;
    }

    int SetProtectionValue(std::uint32_t value) override
    {
        PKFMT_TRACE(20);
        if (value > MAX_ITERATIONS) return PKI_E_INVALID_ARGUMENT;
        protectionValue_ = value;
        return PKI_OK;
    }

    // The list need not be one of this container's items; for a decoded
    // protected container the password must pass CheckPassword first.
    int GetItemAttribute(const char* password, IPKIObject* entryList, const char* oid, PKIBlob* value) override
    {
        PKFMT_TRACE(21);
        auto* list = dynamic_cast<EntryList*>(entryList);
        if (list == nullptr || oid == nullptr || value == nullptr) return PKI_E_INVALID_ARGUMENT;
        if (decodedProtected_) {
            int rc = CheckPassword(password);
            if (rc != PKI_OK) return rc;
        }
        return list->GetAttribute(oid, value);
    }

    // Attributes are kept in clear inside the list and covered by the
    // container's MAC when the container is protected; the password is not
    // needed to add one.
    int AddItemAttribute(const char* /*password*/, IPKIObject* entryList, const char* oid,
                         const PKIBlob* value) override
    {
        PKFMT_TRACE(22);
        auto* list = dynamic_cast<EntryList*>(entryList);
        if (list == nullptr || !ValidOid(oid)) return PKI_E_INVALID_ARGUMENT;
        return Guard([&] {
            Bytes bytes;
            if (!ReadInput(value, &bytes)) return int(PKI_E_INVALID_ARGUMENT);
            list->Put(oid, std::move(bytes));
            return int(PKI_OK);
        });
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_KEY_CONTAINER || interfaceId == PKI_IID_KEY_CONTAINER_READER ||
                       interfaceId == PKI_IID_KEY_CONTAINER_WRITER
                   ? static_cast<IPKIKeyContainer*>(this)
                   : nullptr;
    }

private:
    std::vector<Ref<EntryList>> items_;
    bool protect_ = false;
    std::string password_;
    std::uint32_t protectionValue_ = 0;
    bool decoded_ = false;
    bool decodedProtected_ = false;
    std::uint8_t decodedSalt_[SALT_BYTES] = {};
    Bytes decodedBody_;
    std::size_t decodedBodyLength_ = 0;
};

// ---- the interface object ----

constexpr std::uint32_t DEFAULT_VERSION = 264;

// Reads the two little-endian lengths that lead a key blob.
class KeyBlobHeader final : public IPKIKeyBlobHeader, public Core {
public:
    PKFMT_OBJECT_COMMON
    PKFMT_KIND("KeyBlobHeader")

    int ReadLengths(const PKIBlob* blob, std::uint32_t* first, std::uint32_t* second) override
    {
        PKFMT_TRACE(3);
        if (blob == nullptr || first == nullptr || second == nullptr || (blob->length > 0 && blob->data == nullptr))
            return PKI_E_INVALID_ARGUMENT;
        if (blob->length < 8) return PKI_E_BAD_ENCODING;
        Reader r(blob->data, 8);
        *first = r.U32();
        *second = r.U32();
        return PKI_OK;
    }

protected:
    void* Offer(std::uint32_t interfaceId) override
    {
        return interfaceId == PKI_IID_KEY_BLOB_HEADER ? static_cast<IPKIKeyBlobHeader*>(this) : nullptr;
    }
};

std::mutex g_stateLock;
int g_initializeCount = 0;
std::atomic<void*> g_csp{nullptr};

int EnvironmentNumber(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return static_cast<int>(fallback);
    char* end = nullptr;
    long value = std::strtol(text, &end, 0);
    return *end == '\0' ? static_cast<int>(value) : static_cast<int>(fallback);
}

class Interface final : public IPKIInterface {
public:
    const char* Kind() const { return "pki"; }

    // The interface object lives as long as the library; releasing it is a
    // no-op and it offers no other interfaces.
    int Release() override { return PKI_OK; }
    int QueryInterface(std::uint32_t, void** object) override
    {
        if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
        *object = nullptr;
        return PKI_E_NO_INTERFACE;
    }

    int GetVersion(std::uint32_t* version) override
    {
        PKFMT_TRACE(3);
        if (version == nullptr) return PKI_E_INVALID_ARGUMENT;
        const char* text = std::getenv("PKFMT_VERSION");
        if (text != nullptr && std::strcmp(text, "fail") == 0) return PKI_E_FAILURE;
        *version = static_cast<std::uint32_t>(EnvironmentNumber("PKFMT_VERSION", DEFAULT_VERSION));
        return PKI_OK;
    }

    // The library keeps the pointer only; it computes nothing with it.
    int SetCSP(void* csp) override
    {
        PKFMT_TRACE(4);
        g_csp.store(csp);
        return PKI_OK;
    }

    int AllocateBlob(PKIBlob* blob, std::uint32_t size) override
    {
        PKFMT_TRACE(6);
        return AllocateBlock(blob, size);
    }

    int FreeBlob(PKIBlob* blob) override
    {
        PKFMT_TRACE(7);
        return FreeBlock(blob);
    }

    int CreateObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) override
    {
        PKFMT_TRACE_IDS(10, static_cast<long>(classId), static_cast<long>(interfaceId));
        if (object == nullptr) return PKI_E_INVALID_ARGUMENT;
        *object = nullptr;
        return Guard([&] {
            Core* made = nullptr;
            switch (classId) {
            case PKI_CLASS_KEY_CONTAINER:
                made = new KeyContainer();
                break;
            case PKI_CLASS_ENTRY_LIST:
                made = new EntryList();
                break;
            case PKI_CLASS_KEY:
                if (interfaceId == PKI_IID_KEY_SET)
                    made = new KeySet();
                else
                    made = new Key();
                break;
            case PKI_CLASS_DSTU4145_PARAMETERS:
                made = new Parameters();
                break;
            case PKI_CLASS_PRIVATE_KEY:
                made = new PrivateKey();
                break;
            case PKI_CLASS_ATTRIBUTE:
                made = new Attribute();
                break;
            case PKI_CLASS_KEY_BLOB_HEADER:
                made = new KeyBlobHeader();
                break;
            case PKI_CLASS_CODEC:
                made = new Codec();
                break;
            case PKI_CLASS_GOST28147_PARAMETERS:
                return CreateGost28147Parameters(interfaceId, object);
            case PKI_CLASS_GOST34311_PARAMETERS:
                return CreateGost34311Parameters(interfaceId, object);
            case PKI_CLASS_DSTU4145_PUBLIC_KEY:
                return CreatePointObject(classId, interfaceId, object);
            case PKI_CLASS_UKM:
                return CreateUkmObject(interfaceId, object);
            default:
                return CreateCertificateObject(classId, interfaceId, object);
            }
            // A new parameter object is still empty, so 4273 and 4274 are
            // handed out here though a later query would refuse them.
            void* face = nullptr;
            if (classId == PKI_CLASS_DSTU4145_PARAMETERS &&
                (interfaceId == PKI_IID_DSTU4145_PARAMETERS || interfaceId == PKI_IID_NAMED_PARAMETERS ||
                 interfaceId == PKI_IID_ENCODED_PARAMETERS)) {
                face = static_cast<IPKIParameters*>(static_cast<Parameters*>(made));
            } else {
                int rc = made->Query(interfaceId, &face);
                made->Drop();  // a successful query holds the caller's reference
                if (rc != PKI_OK) return int(PKI_E_UNKNOWN_CLASS);
            }
            *object = face;
            return int(PKI_OK);
        });
    }

    int KeyIdentifier(const PKIBlob* publicKey, std::uint8_t* identifier) override
    {
        PKFMT_TRACE(17);
        return Identify(0x17, publicKey, nullptr, 0, identifier);
    }

    int KeyIdentifierWithSBox(const std::uint8_t* publicKey, std::uint32_t length, const std::uint8_t* sBox,
                              std::uint8_t* identifier) override
    {
        PKFMT_TRACE(18);
        if (sBox == nullptr) return PKI_E_INVALID_ARGUMENT;
        PKIBlob key{length, const_cast<std::uint8_t*>(publicKey)};
        return Identify(0x18, &key, sBox, PKI_SBOX_BYTES, identifier);
    }

    int PublicKeyIdentifier(const PKIBlob* publicKey, std::uint8_t* identifier) override
    {
        PKFMT_TRACE(28);
        return Identify(0x28, publicKey, nullptr, 0, identifier);
    }

    int HasOptionA() override
    {
        PKFMT_TRACE(33);
        return EnvironmentNumber("PKFMT_OPTION_A", 1);
    }
    int HasOptionB() override
    {
        PKFMT_TRACE(34);
        return EnvironmentNumber("PKFMT_OPTION_B", 0);
    }

private:
    static int Identify(std::uint8_t tag, const PKIBlob* key, const std::uint8_t* extra, std::size_t extraLength,
                        std::uint8_t* identifier)
    {
        if (key == nullptr || key->length == 0 || key->data == nullptr || key->length > MAX_FIELD_BYTES ||
            identifier == nullptr)
            return PKI_E_INVALID_ARGUMENT;
        return pkfmt::KeyIdentifier(tag, key->data, key->length, extra, extraLength, identifier) ? PKI_OK
                                                                                                 : PKI_E_FAILURE;
    }
};

Interface g_interface;

}  // namespace

int CopyToLibraryBlock(PKIBlob* out, const void* data, std::size_t length, bool terminate)
{
    return CopyToBlock(out, data, length, terminate);
}

int FreeLibraryBlock(PKIBlob* blob)
{
    return FreeBlock(blob);
}

int ReadKeyParameters(const std::uint8_t* der, std::size_t length, void** parameters, std::uint32_t* kind)
{
    return Guard([&] {
        ParameterState s;
        if (!ParameterStateFromDer(der, length, &s)) return int(PKI_E_BAD_ENCODING);
        if (kind != nullptr) *kind = ParameterKindOf(s);
        if (parameters != nullptr) *parameters = static_cast<IPKIParameters*>(new Parameters(s));
        return int(PKI_OK);
    });
}

std::atomic<int>& LiveObjectCount()
{
    return g_liveObjects;
}

}  // namespace pkfmt

PKFMT_EXPORT int PKIInitialize()
{
    pkfmt::LogCall("PKIInitialize", 0);
    std::lock_guard<std::mutex> lock(pkfmt::g_stateLock);
    ++pkfmt::g_initializeCount;
    return pkfmt::EnvironmentNumber("PKFMT_INITIALIZE_RESULT", 0);
}

PKFMT_EXPORT int PKIFinalize()
{
    pkfmt::LogCall("PKIFinalize", 0);
    std::lock_guard<std::mutex> lock(pkfmt::g_stateLock);
    if (pkfmt::g_initializeCount > 0 && --pkfmt::g_initializeCount == 0) pkfmt::g_csp.store(nullptr);
    return PKI_OK;
}

// The interface is handed out only between PKIInitialize and the matching
// PKIFinalize.
PKFMT_EXPORT int PKIGetInterface(void** pkiInterface)
{
    pkfmt::LogCall("PKIGetInterface", 0);
    if (pkiInterface == nullptr) return PKI_E_INVALID_ARGUMENT;
    std::lock_guard<std::mutex> lock(pkfmt::g_stateLock);
    if (pkfmt::g_initializeCount == 0) {
        *pkiInterface = nullptr;
        return PKI_E_NOT_SET;
    }
    *pkiInterface = static_cast<IPKIInterface*>(&pkfmt::g_interface);
    return PKI_OK;
}

// Test hooks: objects and blocks not yet released, and the CSP handed over.
PKFMT_EXPORT int PKFMTLiveObjects()
{
    return pkfmt::g_liveObjects.load();
}

PKFMT_EXPORT int PKFMTLiveBlobs()
{
    return pkfmt::g_liveBlobs.load();
}

PKFMT_EXPORT void* PKFMTHeldCSP()
{
    return pkfmt::g_csp.load();
}
