// Key container queries and key identifiers: the keys of a container, which
// of them can sign, the 32-byte identifiers by which keys and certificates
// are matched, and the look-up of a key by such an identifier.
//
// A key's identifiers are those its certificate would carry: a DSTU 4145
// public key hashed as stored and in reverse byte order (both orders occur
// in certificates), each with the S-box form (library operation 18) and,
// from library version 272, the DSTU 7564 form (operation 37); an RSA key's
// public record through operation 17; an EC key's point through operation
// 28. A key without a public key gives the identifier it was given.
#include <cstring>
#include <vector>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kId = PKIF_KEY_IDENTIFIER_BYTES;

// Up to four identifiers, in order.
struct Identifiers {
    std::uint8_t bytes[PKIF_KEY_IDENTIFIERS_BYTES] = {};
    std::uint32_t count = 0;
    bool Has(const std::uint8_t* id) const
    {
        for (std::uint32_t i = 0; i < count; ++i)
            if (std::memcmp(bytes + i * kId, id, kId) == 0) return true;
        return false;
    }
    void Add(const std::uint8_t* id)
    {
        if (count < PKIF_KEY_IDENTIFIERS_MAX) std::memcpy(bytes + kId * count++, id, kId);
    }
    void AddNew(const std::uint8_t* id)
    {
        if (!Has(id)) Add(id);
    }
    void CopyTo(std::uint32_t* n, std::uint8_t* out) const
    {
        std::memcpy(out, bytes, kId * count);
        *n = count;
    }
};

// Key families by capability: 1 DSTU 4145, 2 RSA, 4 ECDSA, 0 none (a
// container reports 0 in both words).
std::uint32_t FamilyOf(SPKIFormats& f, IPKIObject* key)
{
    std::uint32_t signing = 0, other = 0;
    if (!f.GetKeyCapabilities(key, &signing, &other)) return 0;
    if (signing & 1) return 1;
    if (other & 2) return 2;
    if (other & 4) return 4;
    return 0;
}

// The 32 bytes of an identifier object (shorter values zero-filled).
bool ValueOf(IPKIInterface* formats, IPKIObject* object, std::uint8_t* out)
{
    LibraryBlob value(formats);
    if (static_cast<IPKIAttribute*>(object)->GetValue(&value.blob) != PKI_OK || !value.blob.data ||
        value.blob.length > kId)
        return false;
    std::memset(out, 0, kId);
    std::memcpy(out, value.blob.data, value.blob.length);
    return true;
}

enum class Own { Signature, Agreement, RSA };

// The identifier the key was given for one of its parts.
bool OwnIdentifier(IPKIInterface* formats, IPKIObject* key, Own which, std::uint8_t* out)
{
    auto* k = static_cast<IPKIKeyObject*>(key);
    ObjectRef id;
    int rc = which == Own::Signature   ? k->GetSignatureKeyIdentifier(id.Out())
             : which == Own::Agreement ? k->GetAgreementKeyIdentifier(id.Out())
                                       : k->GetRSAKeyIdentifier(id.Out());
    return rc == PKI_OK && id && ValueOf(formats, id.As<IPKIObject>(), out);
}

bool NonZero(const std::uint8_t* id)
{
    for (std::uint32_t i = 0; i < kId; ++i)
        if (id[i]) return true;
    return false;
}

// The identifiers of one DSTU 4145 public key (signature or agreement part):
// 1 done, 0 no public key, -1 a failing hash.
int DSTU4145Identifiers(SPKIFormats& f, IPKIObject* key, bool agreement, std::uint32_t version, Identifiers& out)
{
    static const std::uint32_t kAgreement = 1;
    std::uint8_t publicKey[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
    DSTU4145FieldRecord field{};
    std::uint8_t sBox[PKI_SBOX_BYTES] = {};
    if (!f.GetDSTU4145PublicKey(key, agreement ? &kAgreement : nullptr, nullptr, publicKey, &field, nullptr, sBox))
        return 0;
    const std::uint32_t length = (field.words[DSTU4145_FIELD_M] + 7) / 8;
    if (length == 0 || length > sizeof publicKey) return -1;
    std::uint8_t reversed[PKIF_DSTU4145_PUBLIC_KEY_BYTES] = {};
    std::memcpy(reversed, publicKey, length);
    f.ReverseBytes(reversed, length);
    IPKIInterface* formats = f.GetFormatsInterface();
    Identifiers ids;
    for (const std::uint8_t* form : {publicKey, reversed}) {
        std::uint8_t id[kId] = {};
        if (formats->KeyIdentifierWithSBox(form, length, sBox, id) != PKI_OK) return -1;
        ids.Add(id);
    }
    if (version >= 272) {
        for (const std::uint8_t* form : {publicKey, reversed}) {
            std::uint8_t id[kId] = {};
            if (formats->KeyIdentifierDSTU7564(form, length, id) != PKI_OK) return -1;
            ids.Add(id);
        }
    }
    out = ids;
    return 1;
}

// One part of a key: part 0 the DSTU 4145 signature key (the agreement key
// when the key has no signature public key), the RSA or the EC key; part 1
// the DSTU 4145 agreement key.
bool PartIdentifiers(SPKIFormats& f, IPKIObject* key, std::uint32_t family, std::uint32_t part, Identifiers& out)
{
    IPKIInterface* formats = f.GetFormatsInterface();
    std::uint32_t version = 0;
    if (!formats || formats->GetVersion(&version) != PKI_OK) return false;
    std::uint8_t id[kId] = {};
    if (family == 1) {
        int rc = DSTU4145Identifiers(f, key, part == 1, version, out);
        if (rc == 0 && part == 0) rc = DSTU4145Identifiers(f, key, true, version, out);
        if (rc < 0) return false;
        if (rc > 0) return true;
        if (!OwnIdentifier(formats, key, part == 1 ? Own::Agreement : Own::Signature, id)) return false;
    } else if (family == 2 && part == 0) {
        std::vector<std::uint8_t> publicKey(PKIF_RSA_PUBLIC_KEY_BYTES);
        if (f.GetRSAPublicKey(key, nullptr, publicKey.data(), nullptr)) {
            PKIBlob view{PKIF_RSA_PUBLIC_KEY_BYTES, publicKey.data()};
            if (formats->KeyIdentifier(&view, id) != PKI_OK) return false;
        } else if (!OwnIdentifier(formats, key, Own::RSA, id)) {
            return false;
        }
    } else if (family == 4 && part == 0) {
        std::uint8_t point[PKIF_EC_PUBLIC_KEY_BYTES] = {};
        if (f.GetECPublicKey(key, nullptr, point, nullptr)) {
            if (version < 262) return false;
            PKIBlob view{sizeof point, point};
            if (formats->PublicKeyIdentifier(&view, id) != PKI_OK) return false;
        } else {
            std::uint32_t bits = 0;
            if (!f.GetECKeyIdentifier(key, &bits, id)) return false;
        }
    } else {
        return false;
    }
    out = Identifiers{};
    out.Add(id);
    return true;
}

}  // namespace

int SPKIFormats::HasIdentifiedKey(IPKIObject* key, std::uint32_t* flag)
{
    try {
        if (!key || !flag) return 0;
        std::uint32_t found = 0;
        if (IsKeyContainer(key)) {
            for (std::uint32_t i = 0; !found; ++i) {
                ObjectRef entry;
                if (!GetContainerKey(key, i, entry.Out(), nullptr, nullptr, nullptr)) break;
                if (!HasIdentifiedKey(entry.As<IPKIObject>(), &found)) return 0;
            }
        } else {
            std::uint8_t id[kId] = {};
            std::uint32_t bits = 0;
            switch (FamilyOf(*this, key)) {
            case 1:
                found = (OwnIdentifier(formats_, key, Own::Signature, id) && NonZero(id)) ||
                        (OwnIdentifier(formats_, key, Own::Agreement, id) && NonZero(id));
                break;
            case 2:
                found = OwnIdentifier(formats_, key, Own::RSA, id) && NonZero(id);
                break;
            case 4:
                found = GetECKeyIdentifier(key, &bits, id) && NonZero(id);
                break;
            default:
                break;
            }
        }
        *flag = found;
        return 1;
    } catch (...) {
        return 0;
    }
}

std::uint32_t SPKIFormats::ReverseBytes(std::uint8_t* buffer, std::uint32_t length)
{
    try {
        if (!buffer) return 0;
        std::uint32_t swaps = length / 2;
        for (std::uint32_t i = 0; i < swaps; ++i) {
            std::uint8_t t = buffer[i];
            buffer[i] = buffer[length - 1 - i];
            buffer[length - 1 - i] = t;
        }
        return swaps;
    } catch (...) {
        return 0;
    }
}

// identifiers: PKIF_KEY_IDENTIFIERS_BYTES (four identifiers of 32 bytes).
int SPKIFormats::GetKeyIdentifiers(IPKIObject* key, std::uint32_t* count, std::uint8_t* identifiers)
{
    try {
        if (!key || !count || !identifiers) return 0;
        Identifiers ids;
        if (!PartIdentifiers(*this, key, FamilyOf(*this, key), 0, ids)) return 0;
        ids.CopyTo(count, identifiers);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyIdentifierAt(IPKIObject* key, std::uint32_t firstOnly, std::uint32_t index, std::uint32_t* kind,
                                    std::uint32_t* count, std::uint8_t* identifiers)
{
    try {
        if (!key || !kind || !count || !identifiers) return 0;
        const std::uint32_t family = FamilyOf(*this, key);
        if (family == 0 || index > (family == 1 && !firstOnly ? 1u : 0u)) return 0;
        Identifiers ids;
        if (family == 1 && index == 1) {
            // Only a key that has an agreement part answers its second index.
            std::uint32_t version = 0;
            if (!formats_ || formats_->GetVersion(&version) != PKI_OK) return 0;
            const int rc = DSTU4145Identifiers(*this, key, true, version, ids);
            if (rc < 0) return 0;
            std::uint8_t id[kId] = {};
            if (rc == 0) {
                if (!OwnIdentifier(formats_, key, Own::Agreement, id)) return 0;
                ids.Add(id);
            }
        } else if (!PartIdentifiers(*this, key, family, 0, ids)) {
            return 0;
        }
        *kind = family;
        ids.CopyTo(count, identifiers);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetContainerKey(IPKIObject* container, std::uint32_t index, void** key, std::uint32_t* capability,
                                 std::uint32_t* value, std::uint8_t* bytes)
{
    try {
        if (!container) return 0;
        ObjectRef list;
        if (!QueryInto(container, PKI_IID_KEY_LIST, list)) return 0;
        auto* keys = list.As<IPKICertificateListView>();
        std::uint32_t count = 0;
        if (keys->GetCertificateCount(PKI_KEY_LIST_KEYS, &count) != PKI_OK || index >= count) return 0;
        ObjectRef entry;
        std::uint32_t c = 0, v = 0;
        std::uint8_t b[kId] = {};
        if (keys->GetKeyEntry(index, entry.Out(), &c, &v, b) != PKI_OK || !entry) return 0;
        if (capability) *capability = c;
        if (value) *value = v;
        if (bytes) std::memcpy(bytes, b, kId);
        if (key) {
            *key = entry.As<IPKIObject>();
            *entry.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetContainerKeyIdentifiers(IPKIObject* container, std::uint32_t index, std::uint32_t* kind,
                                            std::uint32_t* count, std::uint8_t* identifiers)
{
    try {
        if (!container || !kind || !count || !identifiers) return 0;
        ObjectRef key;
        std::uint32_t capability = 0, value = 0;
        std::uint8_t bytes[kId] = {};
        if (!GetContainerKey(container, index, key.Out(), &capability, &value, bytes)) return 0;
        std::uint32_t k = 0, n = 0;
        Identifiers ids;
        // A key of the list may carry none of its own: the entry's bytes stand.
        if (GetKeyIdentifiers(key.As<IPKIObject>(), &n, ids.bytes)) ids.count = n;
        k = FamilyOf(*this, key.As<IPKIObject>());
        if (NonZero(bytes)) ids.AddNew(bytes);
        if (ids.count == 0) return 0;
        *kind = k ? k : capability;
        ids.CopyTo(count, identifiers);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetContainerKeyIdentifierAt(IPKIObject* key, std::uint32_t index, std::uint32_t* kind,
                                             std::uint32_t* count, std::uint8_t* identifiers)
{
    try {
        if (IsKeyContainer(key)) return GetContainerKeyIdentifiers(key, index, kind, count, identifiers);
        return GetKeyIdentifierAt(key, 0, index, kind, count, identifiers);
    } catch (...) {
        return 0;
    }
}

// Positions are walked until one answers no identifiers; a key or container
// with more distinct identifiers than `capacity` is refused as a whole.
int SPKIFormats::ListKeyIdentifiers(IPKIObject* key, std::uint32_t capacity, std::uint32_t* count,
                                    std::uint8_t* identifiers)
{
    try {
        if (!key || !count || !identifiers) return 0;
        std::vector<std::uint8_t> all;
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t kind = 0, n = 0;
            std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {};
            if (!GetContainerKeyIdentifierAt(key, i, &kind, &n, ids)) break;
            for (std::uint32_t j = 0; j < n; ++j) {
                const std::uint8_t* id = ids + j * kId;
                bool seen = false;
                for (std::size_t at = 0; at < all.size() && !seen; at += kId)
                    seen = std::memcmp(all.data() + at, id, kId) == 0;
                if (!seen) all.insert(all.end(), id, id + kId);
            }
            if (all.size() / kId > capacity) return 0;
        }
        if (all.empty()) return 0;
        std::memcpy(identifiers, all.data(), all.size());
        *count = static_cast<std::uint32_t>(all.size() / kId);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindKeyByIdentifier(IPKIObject* key, const std::uint8_t* identifier, std::uint32_t* index)
{
    try {
        if (!key || !identifier || !index) return 0;
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t kind = 0, n = 0;
            Identifiers ids;
            if (!GetContainerKeyIdentifierAt(key, i, &kind, &n, ids.bytes)) return 0;
            ids.count = n;
            if (ids.Has(identifier)) {
                *index = i;
                return 1;
            }
        }
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindContainerKeyByIdentifier(IPKIObject* container, const std::uint8_t* identifier,
                                              std::uint32_t* index)
{
    try {
        if (!container || !identifier || !index) return 0;
        for (std::uint32_t i = 0;; ++i) {
            std::uint32_t kind = 0, n = 0;
            Identifiers ids;
            if (!GetContainerKeyIdentifiers(container, i, &kind, &n, ids.bytes)) return 0;
            ids.count = n;
            if (ids.Has(identifier)) {
                *index = i;
                return 1;
            }
        }
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetContainerKeyByIdentifier(IPKIObject* container, const std::uint8_t* identifier, void** key)
{
    try {
        std::uint32_t index = 0;
        if (!key || !FindContainerKeyByIdentifier(container, identifier, &index)) return 0;
        return GetContainerKey(container, index, key, nullptr, nullptr, nullptr);
    } catch (...) {
        return 0;
    }
}

// Slot 0 the DSTU 4145 signature key, 1 the agreement key, 2 RSA, 3 ECDSA,
// -1 none.
int SPKIFormats::GetCertificateKeySlot(IPKIObject* certificate, std::int32_t* slot)
{
    try {
        if (!certificate || !slot) return 0;
        std::uint32_t kind = 0, usage = 0;
        if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != PKI_OK) return 0;
        std::int32_t s = -1;
        if (kind == 1) {
            if (!GetEffectiveKeyUsage(certificate, &usage)) return 0;
            s = (usage & 0x63) ? 0 : (usage & 0x10) ? 1 : -1;
        } else if (kind == 2) {
            s = 2;
        } else if (kind == 4) {
            s = 3;
        }
        *slot = s;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::IsKeyContainer(IPKIObject* key)
{
    try {
        std::uint32_t signing = 0, other = 0;
        if (!GetKeyCapabilities(key, &signing, &other)) return 1;
        return signing == 0 && other == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HasSigningKey(IPKIObject* key, std::uint32_t* flag)
{
    try {
        if (!key || !flag) return 0;
        std::uint32_t signing = 0, other = 0;
        if (GetKeyCapabilities(key, &signing, &other) && (signing || other)) {
            *flag = signing & 1;
            return 1;
        }
        std::uint32_t found = 0;
        for (std::uint32_t i = 0; !found; ++i) {
            std::uint32_t capability = 0;
            if (!GetContainerKey(key, i, nullptr, &capability, nullptr, nullptr)) break;
            found = capability == 1;
        }
        *flag = found;
        return 1;
    } catch (...) {
        return 0;
    }
}
