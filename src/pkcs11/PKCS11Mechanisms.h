// The module's mechanisms in one table: for each, when a token lists it, the
// information C_GetMechanismInfo gives, the key type it works on and the key
// uses the key-usage rules accept it for. The table's order is the order of
// the mechanism list.
#ifndef QVK_PKCS11_PKCS11MECHANISMS_H
#define QVK_PKCS11_PKCS11MECHANISMS_H

#include <cstdint>
#include <span>

#include "pkcs11/pkcs11ua.h"

// Which of the key's capabilities a mechanism needs to be listed.
enum class MechanismFamily : std::uint8_t {
    Base,             // every key
    ExtendedHashes,   // keys that sign 48- and 64-byte hashes
    ExtendedCiphers,  // keys with DSTU 7624 generation, wrapping and derivation
};

struct PKCS11Mechanism {
    CK_MECHANISM_TYPE type;
    MechanismFamily family;
    // False for mechanisms a token lists but C_GetMechanismInfo does not describe.
    bool described;
    CK_MECHANISM_INFO info;
    // The key the mechanism uses or makes; 0 for digests.
    CK_KEY_TYPE keyType;
    // Bit (1 << KEY_USAGE_x) for each use of an existing key the key-usage
    // rules accept the mechanism for.
    std::uint32_t keyUses;
};

std::span<const PKCS11Mechanism> Mechanisms();
// Null for a mechanism the module does not know.
const PKCS11Mechanism* FindMechanism(CK_MECHANISM_TYPE type);

#endif
