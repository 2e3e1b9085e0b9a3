// Helpers of the holder-profile operations (holder types, subject
// identifiers, directory attributes) that have no operation of their own.
#ifndef QVK_PKIFORMATS_HOLDERPROFILES_H
#define QVK_PKIFORMATS_HOLDERPROFILES_H

#include <cstddef>
#include <cstdint>

#include "pkiformats/ISPKIFormats.h"

namespace pkif {

// The revocation-list file name of an authority whose 32-byte identifier is
// `identifier`: "CA-<first 8 hex digits>-Full.crl" for list kind 1, the
// "-Delta.crl" form for any other kind. `fileName` holds
// PKIF_CRL_FILE_NAME_BYTES. 1, or 0 when the hexadecimal text fails.
int CRLFileNameOf(ISPKIFormats& formats, const std::uint8_t* identifier, std::uint32_t listKind, char* fileName);

// Clears the seven positions, then gives position j the output of the first
// caller OID equal to table[j] (a null table entry takes none).
int MapOutputsByOid(std::uint32_t count, const char* const* oids, char* const* outputs, const char* const* table,
                    char** positions);

// FillSubjectIdentifiers over the seven positions of the subject-identifier
// table (street, e-mail, then "NTRUA-", "TAXUA-", "TINUA-", "PASUA-" and
// "IDNUA-"), each into its output in `positions` (null: not wanted).
int FillSubjectPositions(ISPKIFormats& formats, IPKIObject* name, char* const* positions);

// Reads the caller's directory-attribute OIDs from a request's or a
// certificate's directory-attribute object: by OID where the object offers
// PKI_IID_DIRECTORY_ATTRIBUTES, else through the facade's field-text reader
// of the owner (the request's or the certificate's) onto the seven fixed
// positions. Every output holds GetNameAttributeMaxLength of its OID + 1
// bytes; a longer value is refused (output empty, answer 0).
int ReadDirectoryItems(ISPKIFormats& formats, IPKIObject* attributes, IPKIObject* owner, bool request,
                       std::uint32_t count, const char* const* oids, char* const* outputs);

// Copies the seven directory items a field reader returned into the outputs
// mapped onto the fixed positions (null: not wanted), each bounded by its
// OID's GetNameAttributeMaxLength; a longer item leaves its output empty and
// makes the answer 0.
int CopyDirectoryPositions(ISPKIFormats& formats, const char* const* items, char* const* positions);

// Writes `name` with "-S<number>" in place of its serial suffix, or before
// its last "." (at its end when it has none); number 0 writes no suffix. The
// result must fit `capacity` bytes with its terminator: else 0, `out` empty.
int ComposeSerialSuffix(const char* name, std::int32_t number, char* out, std::size_t capacity);

}  // namespace pkif

#endif
