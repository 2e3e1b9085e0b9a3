// Helpers of the enveloped-data, key-transport and streamed operations: the
// content types, the block padding of raw content and its removal, 64-bit
// values carried as (low, high) words, and the reads of recipient texts.
#ifndef QVK_PKIFORMATS_ENVELOPEDCONTENT_H
#define QVK_PKIFORMATS_ENVELOPEDCONTENT_H

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>

#include "pkiformats/ISPKIFormats.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

namespace pkif {

inline constexpr char kOidData[] = "1.2.840.113549.1.7.1";
inline constexpr char kOidSignedData[] = "1.2.840.113549.1.7.2";
inline constexpr char kOidEnvelopedData[] = "1.2.840.113549.1.7.3";

// The facade's buffer for a content type read from a message: the library
// writes at most this many bytes (terminator included) and refuses a longer
// type.
inline constexpr std::uint32_t kContentTypeBytes = 64;

// Key-agreement private keys and their buffers.
inline constexpr std::uint32_t kAgreementKeyBytes = 76;
// The parameter block handed to the content cipher: 16 words.
inline constexpr std::uint32_t kParameterWords = 16;
// Key-transport decryption work areas (the opening and the check).
inline constexpr std::uint32_t kOpenWorkArea = 4800;
inline constexpr std::uint32_t kCheckWorkArea = 4796;
// The own key's data for key transport: the provider's 1,200-byte RSA key
// and its 8-byte profile.
inline constexpr std::uint32_t kTransportKeyBytes = 1208;

// Cipher kind 4 encrypts in 8-byte blocks; every other kind in 16-byte ones.
inline std::uint32_t BlockOf(std::uint32_t cipherKind)
{
    return cipherKind == 4 ? 8 : 16;
}

// Padded length: always at least one byte added, at most a whole block.
// 0 when the length does not fit in 32 bits.
inline std::uint32_t PaddedLength(std::uint32_t length, std::uint32_t block)
{
    std::uint64_t padded = (static_cast<std::uint64_t>(length) / block + 1) * block;
    return padded > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(padded);
}

// Fills out[length .. padded) with the count of added bytes.
inline void Pad(std::uint8_t* out, std::uint32_t length, std::uint32_t padded)
{
    std::memset(out + length, static_cast<int>(padded - length), padded - length);
}

// The content length after removing the padding that the last byte names:
// 0 removes nothing (the full length is kept). A last byte above 16 (no
// block is longer) or above the length is refused: -1.
inline std::int64_t UnpaddedLength(const std::uint8_t* data, std::uint32_t length)
{
    if (length == 0 || !data) return -1;
    std::uint32_t last = data[length - 1];
    if (last > 16 || last > length) return -1;
    return static_cast<std::int64_t>(length - last);
}

inline std::uint64_t Join64(const std::uint32_t* words)
{
    return static_cast<std::uint64_t>(words[0]) | (static_cast<std::uint64_t>(words[1]) << 32);
}

inline void Split64(std::uint64_t value, std::uint32_t* words)
{
    if (!words) return;
    words[0] = static_cast<std::uint32_t>(value);
    words[1] = static_cast<std::uint32_t>(value >> 32);
}

inline void Clear64(std::uint32_t* words)
{
    if (words) words[0] = words[1] = 0;
}

// A content type read from a message into kContentTypeBytes; false when the
// read fails or the type does not end inside the buffer.
inline bool ReadInnerType(IPKIEnvelopedData* enveloped, char* type)
{
    std::memset(type, 0, kContentTypeBytes);
    if (enveloped->GetInnerContentType(type, kContentTypeBytes) != PKI_OK) return false;
    return std::memchr(type, 0, kContentTypeBytes) != nullptr;
}

// Equal over the whole text and its terminator.
inline bool SameType(const char* type, const char* expected)
{
    return std::memcmp(type, expected, std::strlen(expected) + 1) == 0;
}

// A library wide issuer into Windows-1251 text of PKIF_NAME_TEXT_BYTES;
// a text that does not fit is refused and the output left empty.
inline bool IssuerToText(IPKIInterface* formats, const wchar_t* wide, char* text)
{
    if (!text) return true;
    text[0] = 0;
    std::size_t n = wcsnlen(wide, kWideNameChars);
    if (n >= kWideNameChars || n + 1 > PKIF_NAME_TEXT_BYTES) return false;
    std::string narrow;
    if (!Narrow(formats, wide, narrow) || narrow.size() + 1 > PKIF_NAME_TEXT_BYTES) return false;
    std::memcpy(text, narrow.c_str(), narrow.size() + 1);
    return true;
}

// A certificate's issuer (slot 9) as wide text of kWideNameChars.
inline bool IssuerWide(IPKICertificate* certificate, std::unique_ptr<wchar_t[]>& wide)
{
    wide = std::make_unique<wchar_t[]>(kWideNameChars);
    std::uint32_t length = kWideNameChars;
    if (certificate->GetIssuerText(wide.get(), &length) != PKI_OK || length >= kWideNameChars) return false;
    wide[length] = 0;
    return true;
}

}  // namespace pkif

#endif
