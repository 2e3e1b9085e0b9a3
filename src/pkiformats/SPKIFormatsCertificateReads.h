// Reads of certificates that the list searches and the certificate
// operations share: the subject as one wide name, the 32-byte subject key
// identifier, and an object's decoding into a fresh library object.
#ifndef QVK_PKIFORMATS_SPKIFORMATSCERTIFICATEREADS_H
#define QVK_PKIFORMATS_SPKIFORMATSCERTIFICATEREADS_H

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "pkiformats/ISPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

namespace pkif {

// Capacity (wide characters, terminator included) of a composed name.
inline constexpr std::uint32_t kWideNameChars = PKIF_NAME_TEXT_BYTES;

// The subject of a certificate as one wide text: its name record (slot 17)
// composed by the library (operation 14). `wide` holds kWideNameChars.
inline bool SubjectWideName(IPKIInterface* formats, IPKICertificate* certificate, wchar_t* wide)
{
    auto record = std::make_unique<PKINameRecord>();
    std::memset(record.get(), 0, sizeof(PKINameRecord));
    if (certificate->GetSubjectRecord(record.get()) != PKI_OK) return false;
    std::uint32_t length = kWideNameChars;
    if (formats->ComposeName(record.get(), wide, &length) != PKI_OK || length >= kWideNameChars) return false;
    wide[length] = 0;
    return true;
}

// Wide text of the library into Windows-1251 through its operation 9.
inline bool Narrow(IPKIInterface* formats, const wchar_t* wide, std::string& text)
{
    std::size_t n = std::wcslen(wide);
    auto buffer = std::make_unique<char[]>(n + 1);
    if (formats->WideToText(wide, buffer.get()) != PKI_OK) return false;
    buffer[n] = 0;
    text.assign(buffer.get());
    return true;
}

// The issuer-style name of a certificate (slot 9) as Windows-1251 text; a
// name of kWideNameChars or more is refused.
inline bool IssuerText(IPKIInterface* formats, IPKICertificate* certificate, std::string& text)
{
    auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
    std::uint32_t length = kWideNameChars;
    if (certificate->GetIssuerText(wide.get(), &length) != PKI_OK || length >= kWideNameChars) return false;
    wide[length] = 0;
    return Narrow(formats, wide.get(), text);
}

// The subject key identifier of a certificate (slot 95); exactly 32 bytes.
inline bool SubjectKeyIdentifier32(IPKICertificate* certificate, std::uint8_t* identifier)
{
    ObjectRef object;
    if (certificate->GetSubjectKeyId(object.Out()) != PKI_OK || !object) return false;
    std::uint32_t length = 32;
    return object.As<IPKIKeyIdentifier>()->GetIdentifier(identifier, &length) == PKI_OK && length == 32;
}

// The 20-byte serial number of an encoded INTEGER: its value right-aligned,
// leading zero bytes dropped; false for anything longer or not an INTEGER.
inline bool Serial20(const PKIBlob& integer, std::uint8_t* serial)
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
    if (length > 20) return false;
    std::memset(serial, 0, 20);
    if (length) std::memcpy(serial + 20 - length, value, length);
    return true;
}

// Makes an object of (classId, interfaceId), whose table is T, and loads
// `blob` into it (slot 4); the caller's pointer is null unless the whole
// step succeeded.
template <typename T>
int DecodeInto(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, const PKIBlob* blob,
               void** out)
{
    if (!out) return 0;
    *out = nullptr;
    if (!formats || Empty(blob)) return 0;
    ObjectRef object;
    if (formats->CreateObject(classId, interfaceId, object.Out()) != PKI_OK || !object) return 0;
    if (object.As<T>()->Decode(blob) != PKI_OK) return 0;
    *out = object.As<T>();
    *object.Out() = nullptr;  // handed out
    return 1;
}

}  // namespace pkif

#endif
