// Hash signatures by key family: raw signature values encoded and decoded
// through the library's signature-value object, data signed with a key
// object (DSTU 4145 through the CSP, RSA and ECDSA through the CSPI) and
// verified with a certificate, a request or a bare public key, key
// identifiers, and the hash-algorithm codes 1 to 9.
//
// Every buffer that holds a private key or a signature in the making is
// wiped on every path before the result is encoded.
#include <cstring>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kHashLengths[10] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};
constexpr std::uint32_t kDSTU4145KeyBytes = 76;

using GetForm = int (IPKISignatureValue::*)(std::uint8_t*, std::uint32_t*);
using SetForm = int (IPKISignatureValue::*)(const std::uint8_t*, std::uint32_t);

const std::uint8_t* DataOf(const PKIBlob* data)
{
    static const std::uint8_t none = 0;
    return data->data ? data->data : &none;
}

bool UsableData(const PKIBlob* data)
{
    return data && (data->data || data->length == 0);
}

// RSA keys below 2,048 bits are hashed with the 160-bit hash, from 2,048 on
// with the 256-bit one; the profile handed to the provider says so.
std::uint32_t RSAHashBits(std::uint32_t keyBits)
{
    return keyBits < 2048 ? 160 : 256;
}

void RSAProfile(std::uint32_t keyBits, std::uint8_t* profile)
{
    Put32(profile, 0, keyBits);
    Put32(profile, 4, RSAHashBits(keyBits));
}

bool SHAHashBits(std::uint32_t bits)
{
    return bits == 160 || bits == 224 || bits == 256 || bits == 384 || bits == 512;
}

// The provider's 600-byte RSA public record (u32 bits, modulus in 512 bytes,
// exponent in 84, both big-endian) from two 600-byte big-endian fields.
bool RSARecordFromFields(const std::uint8_t* fields, std::uint32_t bits, std::uint8_t* record)
{
    constexpr std::uint32_t kField = 600, kModulus = 512, kExponent = 84;
    if (bits == 0 || bits > kModulus * 8) return false;
    for (std::uint32_t i = 0; i < kField - kModulus; ++i)
        if (fields[i]) return false;
    for (std::uint32_t i = 0; i < kField - kExponent; ++i)
        if (fields[kField + i]) return false;
    std::memset(record, 0, 600);
    Put32(record, 0, bits);
    std::memcpy(record + 4, fields + (kField - kModulus), kModulus);
    std::memcpy(record + 4 + kModulus, fields + kField + (kField - kExponent), kExponent);
    return true;
}

}  // namespace

// ---- Encoding ----

int SPKIFormats::EncodeObject(IPKIObject* object, PKIBlob* out)
{
    try {
        if (!object || !out || out->data) return 0;
        ObjectRef codec;
        if (!CreateInto(formats_, PKI_CLASS_CODEC, PKI_IID_CODEC, codec)) return 0;
        if (codec.As<IPKICodec>()->Attach(object) != 0) return 0;
        LibraryBlob encoded(formats_);
        if (codec.As<IPKICodec>()->Encode(&encoded.blob) != 0 || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeObject(IPKIObject* object, const PKIBlob* blob)
{
    try {
        if (!object || Empty(blob)) return 0;
        ObjectRef codec;
        if (!CreateInto(formats_, PKI_CLASS_CODEC, PKI_IID_CODEC, codec)) return 0;
        if (codec.As<IPKICodec>()->Attach(object) != 0) return 0;
        return codec.As<IPKICodec>()->Decode(blob) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// Sets one form of a fresh signature value and encodes it.
int EncodeForm(SPKIFormats& facade, IPKIInterface* formats, SetForm set, const std::uint8_t* bytes,
               std::uint32_t length, std::uint32_t limit, PKIBlob* out)
{
    if (!bytes || length == 0 || length > limit || !out || out->data) return 0;
    ObjectRef value;
    if (!CreateInto(formats, PKI_CLASS_SIGNATURE_VALUE, PKI_IID_SIGNATURE_VALUE, value)) return 0;
    if ((value.As<IPKISignatureValue>()->*set)(bytes, length * 8) != 0) return 0;
    return facade.EncodeObject(value.As<IPKIObject>(), out);
}

// Decodes a peer's signature value and copies one form out, bounded by
// `limit`: the length is asked first, so that nothing beyond the caller's
// capacity is ever written. Answers the byte count, 0 on failure.
std::uint32_t DecodeForm(SPKIFormats& facade, IPKIInterface* formats, GetForm get, const PKIBlob* blob,
                         std::uint32_t limit, std::uint8_t* out)
{
    if (Empty(blob) || !out) return 0;
    ObjectRef value;
    if (!CreateInto(formats, PKI_CLASS_SIGNATURE_VALUE, PKI_IID_SIGNATURE_VALUE, value)) return 0;
    if (!facade.DecodeObject(value.As<IPKIObject>(), blob)) return 0;
    std::uint32_t bits = 0;
    if ((value.As<IPKISignatureValue>()->*get)(nullptr, &bits) != 0) return 0;
    const std::uint64_t length = (static_cast<std::uint64_t>(bits) + 7) / 8;
    if (length == 0 || length > limit) return 0;
    Secret<PKIF_SIGNATURE_MAX> copy;
    std::uint32_t again = bits;
    if ((value.As<IPKISignatureValue>()->*get)(copy.bytes, &again) != 0 || again != bits) return 0;
    std::memcpy(out, copy.bytes, length);
    return static_cast<std::uint32_t>(length);
}

}  // namespace

int SPKIFormats::EncodeDSTU4145Signature(const std::uint8_t* signature, std::uint32_t length, PKIBlob* out)
{
    try {
        return EncodeForm(*this, formats_, &IPKISignatureValue::SetDSTU4145, signature, length,
                          PKIF_DSTU4145_SIGNATURE_MAX, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeDSTU4145Signature(const PKIBlob* blob, std::uint8_t* signature, std::uint32_t* length)
{
    try {
        if (!length) return 0;
        std::uint32_t n =
            DecodeForm(*this, formats_, &IPKISignatureValue::GetDSTU4145, blob, PKIF_DSTU4145_SIGNATURE_MAX, signature);
        if (!n) return 0;
        *length = n;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeRSASignature(const std::uint8_t* signature, std::uint32_t length, PKIBlob* out)
{
    try {
        return EncodeForm(*this, formats_, &IPKISignatureValue::SetRSA, signature, length, PKIF_SIGNATURE_MAX, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeRSASignature(const PKIBlob* blob, std::uint8_t* signature, std::uint32_t* length)
{
    try {
        if (!length) return 0;
        std::uint32_t n = DecodeForm(*this, formats_, &IPKISignatureValue::GetRSA, blob, PKIF_SIGNATURE_MAX, signature);
        if (!n) return 0;
        *length = n;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeECDSASignature(const std::uint8_t* record, PKIBlob* out)
{
    try {
        return EncodeForm(*this, formats_, &IPKISignatureValue::SetECDSA, record, PKIF_ECDSA_SIGNATURE_RECORD,
                          PKIF_ECDSA_SIGNATURE_RECORD, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeECDSASignature(const PKIBlob* blob, std::uint8_t* record)
{
    try {
        std::uint8_t value[PKIF_ECDSA_SIGNATURE_RECORD] = {};
        std::uint32_t n =
            DecodeForm(*this, formats_, &IPKISignatureValue::GetECDSA, blob, PKIF_ECDSA_SIGNATURE_RECORD, value);
        if (!n) return 0;
        std::memcpy(record, value, sizeof value);
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- Hashing of attribute values ----

int SPKIFormats::HashAttributeValueSHA(IPKIObject* attribute, std::uint32_t hashBits, std::uint8_t* hash)
{
    try {
        if (!attribute || !hash || !cspi_ || !SHAHashBits(hashBits)) return 0;
        LibraryBlob value(formats_);
        if (static_cast<IPKIAttribute*>(attribute)->GetValue(&value.blob) != 0) return 0;
        return cspi_->HashSHA(DataOf(&value.blob), value.blob.length, hashBits, hash) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashAttributeValueDSTU7564(IPKIObject* attribute, std::uint32_t kind, std::uint32_t hashLength,
                                            std::uint8_t* hash)
{
    try {
        if (kind != 3 || !attribute || !hash || !csp_) return 0;
        LibraryBlob value(formats_);
        if (static_cast<IPKIAttribute*>(attribute)->GetValue(&value.blob) != 0) return 0;
        return csp_->HashDSTU7564(DataOf(&value.blob), value.blob.length, nullptr, hashLength, hash) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// ---- Signing ----

namespace {

// The DSTU 4145 private key and curve of a key object; false when the object
// has no private key or its parameters cannot be read.
bool ReadDSTU4145Key(IPKIInterface* formats, IPKIObject* keyObject, std::uint8_t* privateKey,
                     DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* sBox)
{
    LibraryBlob value(formats);
    ObjectRef parameters;
    if (static_cast<IPKIKeyObject*>(keyObject)->GetKeyValue(&value.blob, parameters.Out()) != 0 || !parameters)
        return false;
    if (!value.blob.data || value.blob.length == 0 || value.blob.length > kDSTU4145KeyBytes) return false;
    std::memcpy(privateKey, value.blob.data, value.blob.length);
    return parameters.As<IPKIParameters>()->GetParameters(field, point, sBox) == 0;
}

int SignDSTU4145Data(SPKIFormats& facade, CSP* csp, IPKIInterface* formats, const std::uint8_t* startVector,
                     IPKIObject* key, const PKIBlob* data, PKIBlob* signature, bool dstu7564)
{
    if (!key || !UsableData(data) || !signature || signature->data || !csp) return 0;
    Secret<kDSTU4145KeyBytes> privateKey;
    Secret<PKIF_DSTU4145_SIGNATURE_MAX> value;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    if (!ReadDSTU4145Key(formats, key, privateKey.bytes, &field, &point, sBox)) return 0;
    std::uint8_t hash[32] = {};
    int rc;
    if (dstu7564) {
        rc = csp->HashDSTU7564(DataOf(data), data->length, nullptr, 32, hash);
    } else {
        rc = csp->HashGOST34311(DataOf(data), data->length, reinterpret_cast<const GOST28147PackedSBox*>(sBox),
                                startVector, hash);
    }
    if (rc != CSP_OK) return 0;
    {
        HolderScope<CSPContextHolder> scope;
        InitCSPContextHolder(&scope.holder, csp, key, 1, 0);
        rc = dstu7564 ? SignHashWithHolder(&scope.holder, 32, hash, &field, &point, privateKey.bytes, value.bytes)
                      : SignHashPlainWithHolder(&scope.holder, hash, &field, &point, privateKey.bytes, value.bytes);
    }
    privateKey.Wipe();
    if (rc != CSP_OK) return 0;
    const std::uint32_t length = ((point.words[DSTU4145_POINT_BITS] + 7) / 8) * 2;
    if (length == 0 || length > PKIF_DSTU4145_SIGNATURE_MAX) return 0;
    return facade.EncodeDSTU4145Signature(value.bytes, length, signature);
}

}  // namespace

int SPKIFormats::SignDataDSTU4145(IPKIObject* key, const PKIBlob* data, PKIBlob* signature)
{
    try {
        return SignDSTU4145Data(*this, csp_, formats_, startVector_, key, data, signature, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignDataDSTU4145With7564(IPKIObject* key, const PKIBlob* data, PKIBlob* signature)
{
    try {
        return SignDSTU4145Data(*this, csp_, formats_, startVector_, key, data, signature, true);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignDataRSA(IPKIObject* key, const PKIBlob* data, PKIBlob* signature)
{
    try {
        if (!key || !UsableData(data) || !signature || signature->data || !cspi_) return 0;
        Secret<PKIF_RSA_PRIVATE_KEY_BYTES> privateKey;
        Secret<PKIF_SIGNATURE_MAX> value;
        std::uint8_t profile[PKIF_RSA_PROFILE_BYTES] = {};
        if (static_cast<IPKIKeyObject*>(key)->GetRSAKey(privateKey.bytes, profile) != 0) return 0;
        const std::uint32_t bits = Get32(profile, 0);
        if (bits == 0 || bits % 8 || bits / 8 > PKIF_SIGNATURE_MAX) return 0;
        RSAProfile(bits, profile);
        std::uint8_t hash[32] = {};
        if (cspi_->HashSHA(DataOf(data), data->length, RSAHashBits(bits), hash) != CSP_OK) return 0;
        const int rc = cspi_->SignHashRSA(hash, profile, privateKey.bytes, value.bytes);
        privateKey.Wipe();
        if (rc != CSP_OK) return 0;
        return EncodeRSASignature(value.bytes, bits / 8, signature);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignDataECDSA(IPKIObject* key, std::uint32_t hashBits, const PKIBlob* data, PKIBlob* signature)
{
    try {
        if (!key || !UsableData(data) || !signature || signature->data || !cspi_ || !SHAHashBits(hashBits)) return 0;
        Secret<PKIF_EC_PRIVATE_KEY_BYTES> privateKey;
        std::uint8_t record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
        std::uint8_t value[PKIF_ECDSA_SIGNATURE_RECORD] = {};
        std::uint32_t keyLength = 0;
        if (!ReadECKey(key, privateKey.bytes, &keyLength, nullptr, nullptr, record)) return 0;
        Put32(record, PKIF_EC_RECORD_BYTES, hashBits);
        std::uint8_t hash[64] = {};
        if (cspi_->HashSHA(DataOf(data), data->length, hashBits, hash) != CSP_OK) return 0;
        const int rc = cspi_->SignHashECDSA(hashBits / 8, hash, record, privateKey.bytes, value);
        privateKey.Wipe();
        if (rc != CSP_OK) return 0;
        return EncodeECDSASignature(value, signature);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignHashByKeyFamily(IPKIObject* key, std::uint32_t family, const PKIBlob* data, PKIBlob* signature)
{
    try {
        std::uint32_t signing = 0, other = 0;
        if (!GetKeyCapabilities(key, &signing, &other)) return 0;
        if (family == 1 && signing) return SignDataDSTU4145(key, data, signature);
        if (family == 2 && (other & 2)) return SignDataRSA(key, data, signature);
        if (family == 4 && (other & 4)) return SignDataECDSA(key, 256, data, signature);
        return 0;
    } catch (...) {
        return 0;
    }
}

// ---- Verification ----

namespace {

int VerifyDSTU(SPKIFormats& facade, CSP* csp, const std::uint8_t* startVector, const std::uint8_t* publicKey,
               IPKIObject* parameters, const PKIBlob* data, const PKIBlob* signature, bool dstu7564)
{
    if (!publicKey || !parameters || !UsableData(data) || !csp) return 0;
    std::uint8_t value[PKIF_DSTU4145_SIGNATURE_MAX] = {};
    std::uint32_t length = 0;
    if (!facade.DecodeDSTU4145Signature(signature, value, &length)) return 0;
    DSTU4145FieldRecord field{};
    DSTU4145PointRecord point{};
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    if (static_cast<IPKIParameters*>(parameters)->GetParameters(&field, &point, sBox) != 0) return 0;
    std::uint8_t hash[32] = {};
    if (dstu7564) {
        if (csp->HashDSTU7564(DataOf(data), data->length, nullptr, 32, hash) != CSP_OK) return 0;
        return csp->VerifySignatureDSTU4145(32, hash, &field, &point, publicKey, value) == CSP_OK ? 1 : 0;
    }
    if (csp->HashGOST34311(DataOf(data), data->length, reinterpret_cast<const GOST28147PackedSBox*>(sBox), startVector,
                           hash) != CSP_OK)
        return 0;
    return csp->VerifyHashSignatureDSTU4145(hash, &field, &point, publicKey, value) == CSP_OK ? 1 : 0;
}

}  // namespace

int SPKIFormats::VerifyDSTU4145Signature(const std::uint8_t* publicKey, IPKIObject* parameters, const PKIBlob* data,
                                         const PKIBlob* signature)
{
    try {
        return VerifyDSTU(*this, csp_, startVector_, publicKey, parameters, data, signature, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyDSTU7564Signature(const std::uint8_t* publicKey, IPKIObject* parameters, const PKIBlob* data,
                                         const PKIBlob* signature)
{
    try {
        return VerifyDSTU(*this, csp_, startVector_, publicKey, parameters, data, signature, true);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyRSASignature(const std::uint8_t* publicKey, const std::uint8_t* profile, const PKIBlob* data,
                                    const PKIBlob* signature)
{
    try {
        if (!publicKey || !profile || !UsableData(data) || !cspi_) return 0;
        std::uint8_t value[PKIF_SIGNATURE_MAX] = {};
        std::uint32_t length = 0;
        if (!DecodeRSASignature(signature, value, &length)) return 0;
        const std::uint32_t bits = Get32(profile, 0);
        if (bits == 0 || length != (bits + 7) / 8) return 0;
        std::uint8_t ownProfile[PKIF_RSA_PROFILE_BYTES];
        RSAProfile(bits, ownProfile);
        std::uint8_t hash[32] = {};
        if (cspi_->HashSHA(DataOf(data), data->length, RSAHashBits(bits), hash) != CSP_OK) return 0;
        return cspi_->VerifySignatureRSA(hash, ownProfile, publicKey, value) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyECDSASignature(const std::uint8_t* publicKey, const std::uint8_t* record, const PKIBlob* data,
                                      const PKIBlob* signature)
{
    try {
        if (!publicKey || !record || !UsableData(data) || !cspi_) return 0;
        const std::uint32_t hashBits = Get32(record, PKIF_EC_RECORD_BYTES);
        if (!SHAHashBits(hashBits)) return 0;
        std::uint8_t value[PKIF_ECDSA_SIGNATURE_RECORD] = {};
        if (!DecodeECDSASignature(signature, value)) return 0;
        std::uint8_t hash[64] = {};
        if (cspi_->HashSHA(DataOf(data), data->length, hashBits, hash) != CSP_OK) return 0;
        return cspi_->VerifySignatureECDSA(hashBits / 8, hash, record, publicKey, value) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// The RSA record and profile of a key read as two 600-byte fields and bits.
bool RSAKeyOf(const std::uint8_t* fields, std::uint32_t bits, std::uint8_t* record, std::uint8_t* profile)
{
    if (!RSARecordFromFields(fields, bits, record)) return false;
    RSAProfile(bits, profile);
    return true;
}

}  // namespace

int SPKIFormats::VerifyWithCertificate(IPKIObject* certificate, const PKIBlob* data, const PKIBlob* signature)
{
    try {
        if (!certificate) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        std::uint32_t kind = 0;
        if (c->GetKeyKind(&kind) != 0) return 0;
        if (kind == 2) {
            std::uint8_t fields[1200] = {}, record[600] = {}, profile[PKIF_RSA_PROFILE_BYTES] = {};
            std::uint32_t bits = 0;
            if (c->GetRSAPublicKey(fields, &bits) != 0 || !RSAKeyOf(fields, bits, record, profile)) return 0;
            return VerifyRSASignature(record, profile, data, signature);
        }
        if (kind == 4) {
            std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {}, record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
            if (!GetECCertificateParameter(certificate, PKI_EC_VALUE_PUBLIC_KEY, point) ||
                !GetECCertificateParametersByCurve(certificate, record))
                return 0;
            return VerifyECDSASignature(point, record, data, signature);
        }
        if (kind == 1) {
            std::uint8_t key[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
            std::uint32_t length = 0;
            ObjectRef parameters;
            if (c->GetDSTU4145PublicKey(key, &length, parameters.Out()) != 0 || !parameters) return 0;
            return VerifyDSTU4145Signature(key, parameters.As<IPKIObject>(), data, signature);
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyWithRequest(IPKIObject* request, const PKIBlob* data, const PKIBlob* signature)
{
    try {
        if (!request) return 0;
        auto* r = static_cast<IPKIRequestKeys*>(request);
        std::uint32_t kind = 0;
        if (r->GetKeyKind(&kind) != 0) return 0;
        if (kind == 2) {
            std::uint8_t fields[1200] = {}, record[600] = {}, profile[PKIF_RSA_PROFILE_BYTES] = {};
            std::uint32_t bits = 0;
            if (r->GetRSAPublicKey(fields, &bits) != 0 || !RSAKeyOf(fields, bits, record, profile)) return 0;
            return VerifyRSASignature(record, profile, data, signature);
        }
        if (kind == 4) {
            std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {}, record[PKIF_EC_RECORD_WITH_HASH_BYTES] = {};
            if (!GetECParametersRecord(request, PKI_EC_VALUE_PUBLIC_KEY, point) ||
                !GetECParametersByCurve(request, record))
                return 0;
            return VerifyECDSASignature(point, record, data, signature);
        }
        if (kind == 1) {
            std::uint8_t key[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
            std::uint32_t length = 0, code = 0;
            ObjectRef parameters;
            if (r->GetDSTU4145PublicKey(key, &length, parameters.Out()) != 0 || !parameters) return 0;
            if (!GetHashAlgorithmOfRequestDefault(request, &code)) return 0;
            return code == 1 ? VerifyDSTU4145Signature(key, parameters.As<IPKIObject>(), data, signature)
                             : VerifyDSTU7564Signature(key, parameters.As<IPKIObject>(), data, signature);
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

// ---- Hash-algorithm codes ----

namespace {

// The code an interface gives, else the family's default: 1 for DSTU 4145,
// 4 (SHA-256) for RSA and ECDSA.
template <typename View>
int HashCodeOf(IPKIObject* object, std::uint32_t interfaceId, int (View::*read)(std::uint32_t*),
               bool (*family)(IPKIObject*, std::uint32_t*), std::uint32_t* code, std::uint32_t* length)
{
    if (!object || !code) return 0;
    std::uint32_t c = 0;
    ObjectRef view;
    if (QueryInto(object, interfaceId, view)) {
        if ((view.As<View>()->*read)(&c) != 0) return 0;
    } else {
        std::uint32_t f = 0;
        if (!family(object, &f)) return 0;
        if (f == 1) {
            c = 1;
        } else if (f == 2 || f == 4) {
            c = 4;
        } else {
            return 0;
        }
    }
    if (length) {
        if (c < 1 || c > 9) return 0;
        *length = kHashLengths[c];
    }
    *code = c;
    return 1;
}

bool SignedFamily(IPKIObject* object, std::uint32_t* family)
{
    return static_cast<IPKISigned*>(object)->GetSignatureFamily(family) == 0;
}

bool RequestFamily(IPKIObject* object, std::uint32_t* family)
{
    return static_cast<IPKIRequest*>(object)->GetKeyKind(family) == 0;
}

}  // namespace

int SPKIFormats::GetHashAlgorithmOfSigned(IPKIObject* object, std::uint32_t* code, std::uint32_t* length)
{
    try {
        return HashCodeOf(object, PKI_IID_SIGNED_HASH, &IPKISignedHash::GetHashCode, SignedFamily, code, length);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetHashAlgorithmOfRequest(IPKIObject* request, std::uint32_t* code, std::uint32_t* length)
{
    try {
        return HashCodeOf(request, PKI_IID_REQUEST_HASH, &IPKIRequestHash::GetHashCode, RequestFamily, code, length);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetHashAlgorithmOfRequestDefault(IPKIObject* request, std::uint32_t* code)
{
    return GetHashAlgorithmOfRequest(request, code, nullptr);
}

int SPKIFormats::GetHashAlgorithmCode(std::uint32_t family, std::uint32_t flag, std::uint32_t hashLength,
                                      std::uint32_t secondFlag)
{
    if (family == 1) {
        if (hashLength == 48) return 8;
        if (hashLength == 64) return 9;
        if (hashLength == 32) return flag == 1 && secondFlag == 0 ? 1 : 0;
        return 0;
    }
    if (family == 2 || family == 4) {
        switch (hashLength) {
        case 20:
            return 2;
        case 28:
            return 3;
        case 32:
            return 4;
        case 48:
            return 5;
        case 64:
            return 6;
        default:
            return 0;
        }
    }
    return 0;
}

// ---- Key identifiers ----

int SPKIFormats::ComputeKeyIdentifier(IPKIObject* object, std::uint32_t useHashCode, std::uint32_t dstu7564,
                                      std::uint8_t* identifier)
{
    try {
        if (!object || !identifier || !formats_) return 0;
        auto* r = static_cast<IPKIRequestKeys*>(object);
        std::uint8_t out[PKIF_KEY_IDENTIFIER_MAX] = {};
        ObjectRef own;
        const int found = r->GetKeyIdentifier(own.Out());
        if (found == 0 && own) {
            // The object's own identifier comes from outside: it must fit.
            LibraryBlob value(formats_);
            if (own.As<IPKIAttribute>()->GetValue(&value.blob) != 0 || !value.blob.data) return 0;
            if (value.blob.length == 0 || value.blob.length > PKIF_KEY_IDENTIFIER_MAX) return 0;
            std::memcpy(out, value.blob.data, value.blob.length);
            std::memcpy(identifier, out, sizeof out);
            return 1;
        }
        if (found != PKI_E_ABSENT) return 0;
        std::uint32_t kind = 0;
        if (r->GetKeyKind(&kind) != 0) return 0;
        if (kind == 2) {
            std::uint8_t fields[1200] = {};
            std::uint32_t bits = 0;
            if (r->GetRSAPublicKey(fields, &bits) != 0) return 0;
            PKIBlob modulus{600, fields};
            if (formats_->KeyIdentifier(&modulus, out) != 0) return 0;
        } else if (kind == 4) {
            std::uint32_t version = 0;
            std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {};
            if (formats_->GetVersion(&version) != 0 || version < 262) return 0;
            if (!GetECParametersRecord(object, PKI_EC_VALUE_PUBLIC_KEY, point)) return 0;
            PKIBlob key{sizeof point, point};
            if (formats_->PublicKeyIdentifier(&key, out) != 0) return 0;
        } else if (kind == 1) {
            std::uint8_t key[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
            std::uint32_t length = 0;
            ObjectRef parameters;
            if (r->GetDSTU4145PublicKey(key, &length, parameters.Out()) != 0 || !parameters) return 0;
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            std::uint8_t sBox[PKI_SBOX_BYTES] = {};
            if (parameters.As<IPKIParameters>()->GetParameters(&field, &point, sBox) != 0) return 0;
            std::uint32_t code = 1;
            if (useHashCode) {
                if (!GetHashAlgorithmOfRequestDefault(object, &code)) return 0;
            } else if (dstu7564) {
                code = 7;
            }
            const std::uint32_t bytes = (field.words[DSTU4145_FIELD_M] + 7) / 8;
            if (bytes == 0 || bytes > sizeof key) return 0;
            if (code == 1) {
                if (formats_->KeyIdentifierWithSBox(key, bytes, sBox, out) != 0) return 0;
            } else {
                std::uint32_t version = 0;
                if (formats_->GetVersion(&version) != 0 || version < 272) return 0;
                if (formats_->KeyIdentifierDSTU7564(key, bytes, out) != 0) return 0;
            }
        } else {
            return 0;
        }
        std::memcpy(identifier, out, sizeof out);
        return 1;
    } catch (...) {
        return 0;
    }
}
