// ISPKIFormats: the PKI formats facade's interface of 664 operations, reached
// by position in the virtual table. The declaration is generated from the one
// ordered list in ISPKIFormatsOperations.def; see there for the rules.
//
// Results: 1 success, 0 failure unless an operation says otherwise. A blob
// that an operation fills must be empty on entry and goes back through
// ReleaseBlob. Texts handed to callers are Windows-1251.
//
// Output texts have these capacities (bytes, terminator included); an
// operation refuses rather than truncates:
// - ComposeNameText: PKIF_NAME_TEXT_BYTES;
// - ParseNameText, CopyLibraryTexts (wide): each field's capacity in the name
//   record (PKI_NAME_*_CHARS);
// - Hash32ToText, Serial20ToText, BytesToText: 3 per byte printed + 1;
// - KeyUsageToText: PKIF_KEY_USAGE_TEXT_BYTES;
// - UnpackRecordA/B/C: PKIF_RECORD_TEXT_MAX + 1; UnpackShortText: 14.
// - ResultCodeToText, OrderKindToText, RevocationReasonToText:
//   PKIF_VOCABULARY_TEXT_BYTES; PolicyToText, TimeStampPolicyToText:
//   PKIF_OID_TEXT_BYTES (an OID text that does not fit is refused);
//   BigNumber600ToText: as BytesToText; GetStatementFlag:
//   PKIF_STATEMENT_TEXT_BYTES; GetObjectNameText: PKIF_NAME_TEXT_BYTES;
//   GetDistributionURL: PKIF_URL_TEXT_BYTES.
// - Signed data: the issuer and token-signer texts of GetSignerIdentifier,
//   GetSignerInfo and ReadSignerInfoFrom*: PKIF_NAME_TEXT_BYTES; content
//   types read from a message go into PKIF_OID_TEXT_BYTES and a longer one
//   is refused.
// - DVCS: the issuer texts of GetDVCSRequestSigner and GetDVCSResponseSigner:
//   PKIF_NAME_TEXT_BYTES; a DVCS message's content type is read into
//   PKIF_DVCS_CONTENT_TYPE_BYTES and a longer one is refused.
// - GetRequestFieldTexts, GetCertificateFieldTexts: every text
//   PKIF_NAME_TEXT_BYTES (the alternative-name lists joined with ";"
//   included); key identifiers PKIF_KEY_IDENTIFIER_BYTES; the request's
//   multi-string PKIF_REQUEST_LIST_BYTES (its entries, their terminators and
//   the final one). ExtKeyUsagesToText: PKIF_EXT_KEY_USAGE_TEXT_BYTES (an
//   OID with no text that does not fit leaves the output empty).
#ifndef QVK_PKIFORMATS_ISPKIFORMATS_H
#define QVK_PKIFORMATS_ISPKIFORMATS_H

#include <cstdint>

#include "support/PKIInterface.h"
#include "wemu.h"

class CSP;
class CSPI;
struct PKIFCommonKeyRequest;
struct CertificateInfo;
struct SignerCertificateInfo;
struct CSPContextHolder;

enum : std::uint32_t {
    PKIF_OPERATION_COUNT = 664,
    PKIF_NAME_TEXT_BYTES = 2048,
    PKIF_KEY_USAGE_TEXT_BYTES = 256,
    PKIF_RECORD_TEXT_MAX = 1024,
    PKIF_SHORT_TEXT_BYTES = 14,
    PKIF_HOLDER_DATA_AREA = 2828
};

// Holder types, subject identifiers and directory attributes: capacities of
// their text outputs (bytes, terminator included); they refuse rather than
// truncate, leaving the output empty.
// - GetHolderTypeName: PKIF_HOLDER_TYPE_NAME_BYTES;
// - GetDefaultExtKeyUsages, ListConfiguredExtKeyUsages (multi-strings, the
//   final empty string included): PKIF_EXT_KEY_USAGE_LIST_BYTES;
// - GetConfiguredExtKeyUsageText: PKIF_EXT_KEY_USAGE_TEXT_BYTES;
// - MakeCRLFileName: PKIF_CRL_FILE_NAME_BYTES; SetFileNameSerialSuffix:
//   PKIF_FILE_NAME_BYTES;
// - LookupNameText, GetSubjectTaxAttributeText: PKIF_NAME_VALUE_TEXT_BYTES;
//   FindMakerPolicy's OID:
//   PKIF_OID_TEXT_BYTES;
// - FormatTaxIdentifier, FormatOrganisationIdentifier:
//   PKIF_IDENTIFIER_TEXT_BYTES; the parsers' country 3, number
//   PKIF_IDENTIFIER_NUMBER_BYTES;
// - FillSubjectIdentifiers: each position's longest value + 1;
// - directory-attribute outputs (MapDirectoryAttributeOutputs and the
//   readers that fill them): GetNameAttributeMaxLength of the OID + 1.
enum : std::uint32_t {
    PKIF_HOLDER_TYPE_NAME_BYTES = 64,
    PKIF_EXT_KEY_USAGE_LIST_BYTES = 4096,
    PKIF_EXT_KEY_USAGE_TEXT_BYTES = 257,
    PKIF_CRL_FILE_NAME_BYTES = 32,
    PKIF_FILE_NAME_BYTES = 260,
    PKIF_NAME_VALUE_TEXT_BYTES = 257,
    PKIF_OID_TEXT_BYTES = 128,
    PKIF_IDENTIFIER_TEXT_BYTES = 64,
    PKIF_IDENTIFIER_NUMBER_BYTES = 11,
    PKIF_DIRECTORY_POSITIONS = 7,
    PKIF_MAKER_VALUE_BYTES = 1024  // the maker values and attributes, exactly
};

// Enveloped data and key transport: the issuer texts of GetRecipientByIndex,
// GetRecipientByIndexFull (recipient and originator), GetOriginatorForRecipient
// and GetKeyTransportRecipient hold PKIF_NAME_TEXT_BYTES (refused, left
// empty, when longer); serials are 20 bytes, key identifiers 32, agreement
// keys 76, parameter blocks 16 words. The streamed operations carry 64-bit
// offsets and lengths as two words (low, high) in each such output.

// Capacities of the vocabulary, policy, statement and location texts
// (PKIF_OID_TEXT_BYTES above serves the policy OIDs too).
enum : std::uint32_t { PKIF_VOCABULARY_TEXT_BYTES = 128, PKIF_STATEMENT_TEXT_BYTES = 256, PKIF_URL_TEXT_BYTES = 1024 };

// The request field texts' multi-string.
enum : std::uint32_t { PKIF_REQUEST_LIST_BYTES = 4096 };

// OCSP: the CertID values a reader hands out are bounded by the caller's
// buffers: a serial of at most PKIF_OCSP_SERIAL_BYTES (right-aligned in its
// 20-byte record), a hash of at most PKIF_OCSP_HASH_BYTES (the 64-byte
// buffer zero-filled after it), a nonce of at most PKIF_OCSP_NONCE_BYTES
// (ReadOCSPResponseInfo's buffer zero-filled after it; ReadOCSPRequest's
// blob of the nonce's own length). A longer value fails the read and leaves
// the output as it was. The responder name text of ReadOCSPResponderID has
// PKIF_NAME_TEXT_BYTES.
enum : std::uint32_t {
    PKIF_OCSP_SERIAL_BYTES = 20,
    PKIF_OCSP_HASH_BYTES = 64,
    PKIF_OCSP_NONCE_BYTES = 32,
    PKIF_OCSP_MADE_NONCE_BYTES = 20,  // the nonce a request is given
    PKIF_DVCS_CONTENT_TYPE_BYTES = 257
};

class ISPKIFormats;

// AddOCSPRequestEntry's record. certificate and issuerCertificate may be
// null; without a certificate the issuer name and serial are used as given.
// keyHash: 64 bytes, the issuer-key hash the caller computed (or null).
struct PKIFOCSPEntryArguments {
    ISPKIFormats* facade;
    IPKIObject* request;
    IPKIObject* certificate;
    IPKIObject* issuerCertificate;
    const PKIBlob* issuerName;
    const std::uint8_t* serial;  // 20 bytes
    std::uint8_t* keyHash;
    std::uint32_t hashKind;  // 0 chooses
};

// FindOCSPSingleResponse's record; every criterion may be absent (null).
struct PKIFOCSPFindArguments {
    ISPKIFormats* facade;
    IPKIObject* response;
    IPKIObject* certId;  // gives hash kind, name hash and serial when set
    std::uint32_t hashKind;
    const std::uint8_t* nameHash;  // bits / 8 bytes of the kind
    const std::uint8_t* serial;    // 20 bytes
    const char* nameText;
    const std::uint8_t* hashItem;  // 32 bytes
    void** entry;                  // the single response found (caller releases)
};

// Key identifiers are 32 bytes each. GetKeyIdentifiers, GetKeyIdentifierAt,
// GetContainerKeyIdentifiers and GetContainerKeyIdentifierAt write at most
// four of them: their output holds PKIF_KEY_IDENTIFIERS_BYTES. ListKeyIdentifiers
// takes its output's capacity in identifiers and refuses a key whose
// identifiers would not fit (the output is left untouched).
enum : std::uint32_t { PKIF_KEY_IDENTIFIER_BYTES = 32, PKIF_KEY_IDENTIFIERS_MAX = 4, PKIF_KEY_IDENTIFIERS_BYTES = 128 };

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#endif

class ISPKIFormats {
public:
#define QVK_PKIF_OP(pos, how, ret, name, params) virtual ret name params = 0;
#define QVK_PKIF_SIGNED(pos, how, ret, name, params)                                                                   \
    virtual ret name params                                                                                            \
    {                                                                                                                  \
        return ret();                                                                                                  \
    }
#define QVK_PKIF_PENDING(pos, how, name)                                                                               \
    virtual int name()                                                                                                 \
    {                                                                                                                  \
        return 0;                                                                                                      \
    }
#define QVK_PKIF_RESERVED(pos)                                                                                         \
    virtual int Reserved##pos()                                                                                        \
    {                                                                                                                  \
        return 0;                                                                                                      \
    }
#include "pkiformats/ISPKIFormatsOperations.def"
#undef QVK_PKIF_OP
#undef QVK_PKIF_SIGNED
#undef QVK_PKIF_PENDING
#undef QVK_PKIF_RESERVED

protected:
    // Never destroyed through the interface: slot 0 is ReadFileToBlob.
    ~ISPKIFormats() = default;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The list's positions, in list order: the static assertions below hold the
// declaration to positions 0 to 663 with nothing skipped or repeated.
namespace pkif_detail {
struct Entry {
    int position;
    const char* name;
    bool pinned;
};
#define PINNED true
#define INFERRED false
inline constexpr Entry kOperations[] = {
#define QVK_PKIF_OP(pos, how, ret, name, params) {pos, #name, how},
#define QVK_PKIF_SIGNED(pos, how, ret, name, params) {pos, #name, how},
#define QVK_PKIF_PENDING(pos, how, name) {pos, #name, how},
#define QVK_PKIF_RESERVED(pos) {pos, "Reserved" #pos, false},
#include "pkiformats/ISPKIFormatsOperations.def"
#undef QVK_PKIF_OP
#undef QVK_PKIF_SIGNED
#undef QVK_PKIF_PENDING
#undef QVK_PKIF_RESERVED
};
#undef PINNED
#undef INFERRED

constexpr bool SameText(const char* a, const char* b)
{
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool PositionsRunInOrder()
{
    for (int i = 0; i < static_cast<int>(sizeof(kOperations) / sizeof(kOperations[0])); ++i)
        if (kOperations[i].position != i) return false;
    return true;
}

// The position of a named operation, or -1.
constexpr int PositionOf(const char* name)
{
    for (const Entry& e : kOperations)
        if (SameText(e.name, name)) return e.position;
    return -1;
}

static_assert(sizeof(kOperations) / sizeof(kOperations[0]) == PKIF_OPERATION_COUNT);
static_assert(PositionsRunInOrder());
}  // namespace pkif_detail

#endif
