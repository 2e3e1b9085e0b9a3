// Identities that the signer and time-stamp operations compare: a
// certificate's issuer (wide text) and 20-byte serial field, a signer's
// identifier, and the library version gates.
#ifndef QVK_PKIFORMATS_SIGNERIDENTITY_H
#define QVK_PKIFORMATS_SIGNERIDENTITY_H

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>

#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIInterface.h"

namespace pkif {

inline constexpr std::uint32_t kSerialBytes = 20;

// The library reports a version of at least `minimum`.
inline bool VersionAtLeast(IPKIInterface* formats, std::uint32_t minimum)
{
    std::uint32_t version = 0;
    return formats && formats->GetVersion(&version) == PKI_OK && version >= minimum;
}

// The 20-byte serial field of an encoded INTEGER: the value right-aligned,
// leading zero bytes dropped; false for anything longer or not an INTEGER.
inline bool SerialField(const PKIBlob& integer, std::uint8_t* serial)
{
    const std::uint8_t* p = integer.data;
    std::uint64_t n = integer.length;
    if (!p || n < 2 || p[0] != 0x02) return false;
    std::uint64_t length = p[1], header = 2;
    if (length & 0x80) {
        std::uint32_t octets = length & 0x7F;
        if (octets == 0 || octets > 2 || n < 2 + octets) return false;
        length = 0;
        for (std::uint32_t i = 0; i < octets; ++i) length = (length << 8) | p[2 + i];
        header += octets;
    }
    if (!Inside(header, length, n)) return false;
    const std::uint8_t* value = p + header;
    while (length > 0 && value[0] == 0) ++value, --length;
    if (length > kSerialBytes) return false;
    std::memset(serial, 0, kSerialBytes);
    if (length) std::memcpy(serial + kSerialBytes - length, value, length);
    return true;
}

// Issuer and serial of a certificate or of a signer.
struct Identity {
    std::unique_ptr<wchar_t[]> name = std::make_unique<wchar_t[]>(PKI_SIGNER_NAME_CHARS);
    std::uint8_t serial[kSerialBytes] = {};
    bool SameAs(const Identity& other) const
    {
        // The whole serial field counts: two certificates of one issuer may
        // differ only in its last bytes.
        return std::wcscmp(name.get(), other.name.get()) == 0 && std::memcmp(serial, other.serial, kSerialBytes) == 0;
    }
};

inline bool CertificateIdentity(IPKIInterface* formats, IPKICertificate* certificate, Identity& id)
{
    std::uint32_t length = PKI_SIGNER_NAME_CHARS;
    if (!certificate || certificate->GetIssuerText(id.name.get(), &length) != PKI_OK || length >= PKI_SIGNER_NAME_CHARS)
        return false;
    id.name[length] = 0;
    LibraryBlob serial(formats);
    return certificate->GetSerial(&serial.blob) == PKI_OK && SerialField(serial.blob, id.serial);
}

// A signer's identifier, its name terminated within its capacity.
inline bool SignerIdentifier(IPKISignerInfo* signer, PKISignerIdentifier& id)
{
    std::memset(&id, 0, sizeof id);
    if (!signer || signer->GetIdentifier(&id) != PKI_OK) return false;
    id.name[PKI_SIGNER_NAME_CHARS - 1] = 0;
    return true;
}

inline bool SignerIdentity(IPKISignerInfo* signer, Identity& out)
{
    auto id = std::make_unique<PKISignerIdentifier>();
    if (!SignerIdentifier(signer, *id)) return false;
    std::wcscpy(out.name.get(), id->name);
    std::memcpy(out.serial, id->serial, kSerialBytes);
    return true;
}

}  // namespace pkif

#endif
