// The part of the PKI formats library's object model that only the PKI
// formats facade uses, and the table of slots that the facade, the stand-in
// library and the facade's test double share. Included by PKIInterface.h;
// the same rules hold: slot numbers on every line, never reorder, a
// ReservedN placeholder is replaced only at its own position.
#ifndef QVK_SUPPORT_PKIOBJECTMODEL_H
#define QVK_SUPPORT_PKIOBJECTMODEL_H

#include <cstdint>

#include "wemu.h"

// Capacities (wide characters, terminator included) of the ten texts of a
// name record, in record order. A text that does not fit is refused.
enum : std::uint32_t {
    PKI_NAME_SERIAL_CHARS = 65,
    PKI_NAME_COUNTRY_CHARS = 3,
    PKI_NAME_STATE_CHARS = 129,
    PKI_NAME_LOCALITY_CHARS = 129,
    PKI_NAME_ORGANISATION_CHARS = 65,
    PKI_NAME_UNIT_CHARS = 65,
    PKI_NAME_COMMON_NAME_CHARS = 65,
    PKI_NAME_SURNAME_CHARS = 41,
    PKI_NAME_GIVEN_NAME_CHARS = 33,
    PKI_NAME_TITLE_CHARS = 65,
    PKI_NAME_FIELD_COUNT = 10
};

// The library's wide-character name record (IPKIInterface operations 13,
// 14): ten wide texts at fixed places. Operation 13 fills it for the facade's
// name parser (from a wide name text) and for its library-text copy (from the
// copy's own first argument, passed through unread).
struct PKINameRecord {
    wchar_t serialNumber[PKI_NAME_SERIAL_CHARS];
    wchar_t country[PKI_NAME_COUNTRY_CHARS];
    wchar_t state[PKI_NAME_STATE_CHARS];
    wchar_t locality[PKI_NAME_LOCALITY_CHARS];
    wchar_t organisation[PKI_NAME_ORGANISATION_CHARS];
    wchar_t unit[PKI_NAME_UNIT_CHARS];
    wchar_t commonName[PKI_NAME_COMMON_NAME_CHARS];
    wchar_t surname[PKI_NAME_SURNAME_CHARS];
    wchar_t givenName[PKI_NAME_GIVEN_NAME_CHARS];
    wchar_t title[PKI_NAME_TITLE_CHARS];
};

// Parameter kinds of a certificate's DSTU 4145 key: a polynomial-basis
// curve (a standard one named by OID, or explicit parameters, which always
// give the field polynomial), a normal-basis standard curve, or neither (no
// parameters, or a curve named by an OID this library does not know).
enum : std::uint32_t {
    PKI_KEY_PARAMETERS_UNKNOWN = 0,
    PKI_KEY_PARAMETERS_POLYNOMIAL = 16,
    PKI_KEY_PARAMETERS_NORMAL = 32
};

// Interfaces of key objects that lend the provider context of the key (a key
// held by a hardware device is used through the device).
enum : std::uint32_t {
    PKI_IID_KEY_CONTEXT_DSTU4145 = 4215,  // same number as PKI_IID_DSTU4145_PROVIDER
    PKI_IID_KEY_CONTEXT_INTL = 4230       // same number as PKI_IID_INTL_PROVIDER
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// Slot numbers line up at the right, as in PKIInterface.h.
// clang-format off

// Certificate (class 4870, interface 4102), as far as the facade and the
// module's certificate attributes read it. Key kinds: 1 DSTU 4145, 2 RSA,
// 4 ECDSA. Name objects (IPKIName) encode to the DER name.
//
// Settled where callers read a slot two ways:
// - Slot 7 is the serial number. Most callers read it so (the module's
//   certificate attributes, certificate lists and identity look-ups, holder
//   data and reference records, the recipients found by certificate); the
//   signer, recipient and key-preparation steps that take "issuer (7) and
//   serial (11)" read the issuer from slot 9 (wide text) or 13 (name object)
//   and the serial from slot 7.
// - Slot 17 is the subject as a name record; a caller that wants the
//   subject as one wide text composes it from the record through library
//   operation 14.
class IPKICertificate : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                         // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                    // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(5)                                                          // 5
    // Checks a DSTU 4145 signature value over `data` with the certificate's
    // key (GOST 34.311 hash). Not the signed objects' slot 6, which checks
    // the object's own signature with a key it is given.
    virtual int VerifySignatureValue(const PKIBlob* data, const PKIBlob* value) // 6
    { (void)data; (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // The serial number as an encoded INTEGER (load it into 4877 / 4111).
    virtual int GetSerial(PKIBlob* serial)                                   // 7
    { (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    // The serial number as a big-endian byte string (no INTEGER coding).
    virtual int GetSerialBytes(PKIBlob* serial)                              // 8
    { (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    // The issuer as one wide text; *length as for GetDisplayName (slot 105).
    virtual int GetIssuerText(wchar_t* text, std::uint32_t* length)          // 9
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(10)                                                         // 10
        PKI_RESERVED(11) PKI_RESERVED(12)                                    // 11-12
    virtual int GetIssuer(void** name)                                       // 13
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14)                                                         // 14
    // Validity start and end (UTC); either output may be null.
    virtual int GetValidity(SYSTEMTIME* start, SYSTEMTIME* end)              // 15
    { (void)start; (void)end; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(16)                                                         // 16
    // The subject as a name record (texts that do not fit are cut).
    virtual int GetSubjectRecord(PKINameRecord* record)                      // 17
    { (void)record; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(18)                                                         // 18
    virtual int GetSubject(void** name)                                      // 19
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)                       // 20-22
    virtual int GetKeyKind(std::uint32_t* kind)                              // 23
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // The basis of a DSTU 4145 key's curve (PKI_KEY_PARAMETERS_*);
    // PKI_E_FAILURE when the key is of another kind.
    virtual int GetKeyParameterKind(std::uint32_t* kind)                     // 24
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // A DSTU 4145 public key: 76 bytes (little-endian, zero-filled), its
    // length in bytes and its parameters (IPKIParameters; may be null).
    virtual int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length,
                                     void** parameters)                      // 25
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28)                       // 26-28
    // An RSA public key: modulus and exponent as two 600-byte big-endian
    // fields, and the modulus size in bits.
    virtual int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits)   // 29
    { (void)fields; (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(30)                                                         // 30
        PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)  // 31-34
        PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)  // 35-38
        PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41)                   // 39-41
    // Checks an RSA signature over `data` with the certificate's key.
    virtual int VerifySignedBytes(const PKIBlob* data, const PKIBlob* signature) // 42
    { (void)data; (void)signature; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)  // 43-46
        PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)  // 47-50
        PKI_RESERVED(51) PKI_RESERVED(52)                                    // 51-52
    // Basic constraints (IPKIBasicConstraints); PKI_E_ABSENT without them.
    virtual int GetBasicConstraints(void** constraints)                      // 53
    { (void)constraints; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(54) PKI_RESERVED(55)                                        // 54-55
    // The attribute list of the subject (interface 4232 reads values by OID).
    virtual int GetAttributeList(void** list)                                // 56
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(57) PKI_RESERVED(58)                                        // 57-58
    // The CRL distribution points (IPKIDistributionPoints); PKI_E_ABSENT
    // without the extension.
    virtual int GetCRLDistributionPoints(void** points)                      // 59
    { (void)points; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(60)                                                     // 60
    // The policy OIDs (IPKIOIDList); PKI_E_ABSENT without policies.
    virtual int GetPolicyList(void** list)                                   // 61
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    // The freshest-CRL (delta) distribution points, as slot 59.
    virtual int GetFreshestCRLPoints(void** points)                          // 62
    { (void)points; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(63) PKI_RESERVED(64)                                    // 63-64
    // The certificate's own key-agreement parameters (an object);
    // PKI_E_ABSENT when it carries none.
    virtual int GetAgreementParameters(void** parameters)                    // 65
    { (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(66)                                                     // 66
        PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)  // 67-70
    // The extended key usages (IPKIOIDList); PKI_E_ABSENT without them.
    virtual int GetExtKeyUsages(void** list)                                 // 71
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)                       // 72-74
        PKI_RESERVED(75)                                                     // 75
        // The certificate-policies object (IPKIPolicies); PKI_E_ABSENT without one.
        virtual int GetPolicies(void** policies) = 0;  // 76
    // The subject directory attributes; PKI_E_ABSENT without them. The object
    // reads values by OID when it offers PKI_IID_DIRECTORY_ATTRIBUTES.
    virtual int GetSubjectDirectoryAttributes(void** attributes)             // 77
    { (void)attributes; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(78)                                                         // 78
    // The subject's alternative names (IPKIGeneralNames); PKI_E_ABSENT without them.
    virtual int GetAltNames(void** names)                                    // 79
    { (void)names; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)                   // 80-82
    // The key usage (IPKIKeyUsage); PKI_E_ABSENT without the extension.
    virtual int GetKeyUsage(void** keyUsage)                                 // 83
    { (void)keyUsage; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(84) PKI_RESERVED(85)                                        // 84-85
    // The private-key usage period (IPKIKeyUsagePeriod); PKI_E_ABSENT
    // without it.
    virtual int GetKeyUsagePeriod(void** period)                             // 86
    { (void)period; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(87) PKI_RESERVED(88)                                    // 87-88
    // The QC statements (IPKIStatements through view 4231); PKI_E_ABSENT
    // without them.
    virtual int GetQCStatements(void** statements)                           // 89
    { (void)statements; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(90)                                                     // 90
        PKI_RESERVED(91)                                                     // 91
    // The subject alternative name (IPKIGeneralNames) as the field texts
    // read it; PKI_E_ABSENT without the extension.
    virtual int GetSubjectAltNameList(void** names)                          // 92
    { (void)names; return PKI_E_NOT_IMPLEMENTED; }
        PKI_RESERVED(93) PKI_RESERVED(94)                                    // 93-94
    // The subject key identifier (IPKIKeyIdentifier); PKI_E_ABSENT without it.
    virtual int GetSubjectKeyId(void** identifier)                           // 95
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // The authority key identifier (IPKIKeyIdentifier, or view 4261 of it);
    // PKI_E_ABSENT without the extension.
    virtual int GetAuthorityKeyId(void** identifier)                         // 96
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(97) PKI_RESERVED(98)                                        // 97-98
        PKI_RESERVED(99)                                                     // 99
    // The certificate it wraps (IPKICertificate), where it wraps one.
    virtual int GetInnerCertificate(void** certificate)                      // 100
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(101) PKI_RESERVED(102)                                      // 101-102
    // Its RSA view (IPKICertificate), where it has one.
    virtual int GetRSAView(void** certificate)                               // 103
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(104)                                                        // 104
    // The display name of the certificate's holder as wide text: *length
    // holds the capacity in wide characters (terminator included) on entry
    // and the text's length on return; PKI_E_INVALID_ARGUMENT when it does
    // not fit (*length then tells the length).
    virtual int GetDisplayName(wchar_t* text, std::uint32_t* length)         // 105
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertificate() = default;
};

// Certificate request (class 4873, interface 4106), as far as the facade
// reads it. Key kinds as the certificate's (1 DSTU 4145, 2 RSA, 4 ECDSA).
class IPKIRequest : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    // Signs the request with a DSTU 4145 private key (76 bytes) on curve
    // `curve` (the curve number less one) through the parameter object,
    // which carries the provider context the key is used with.
    virtual int SignDSTU4145(const std::uint8_t* privateKey, std::uint32_t curve,
                             IPKIObject* parameters)                             // 5
    { (void)privateKey; (void)curve; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // Verifies the request's own signature with a DSTU 4145 public key as
    // slot 16 reads it: 0 when it holds.
    virtual int VerifyDSTU4145(const std::uint8_t* key, std::uint32_t length,
                               IPKIObject* parameters)                           // 6
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // The subject as one wide text; *length as for IPKICertificate::GetDisplayName.
    virtual int GetSubjectText(wchar_t* text, std::uint32_t* length)             // 7
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(8)                                                              // 8
    // The subject name (an object for IPKIInterface::GetNameAttributeText).
    virtual int GetSubject(void** name)                                          // 9
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)                           // 10-12
    virtual int GetKeyKind(std::uint32_t* kind) = 0;                             // 13
    PKI_RESERVED(14)                                                             // 14
    // As IPKICertificate::GetRSAPublicKey (slot 29).
    virtual int GetRSAPublicKey(std::uint8_t* fields, std::uint32_t* bits)       // 15
    { (void)fields; (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    // As IPKICertificate::GetDSTU4145PublicKey (slot 25).
    virtual int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length,
                                     void** parameters)                          // 16
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(17)                                                             // 17
    // The subject's encoded name: *length bytes on entry, the bytes taken on return.
    virtual int SetSubject(const std::uint8_t* subject, std::uint32_t* length)   // 18
    { (void)subject; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    // A DSTU 4145 public key (76 bytes, little-endian) of `bits` bits with its
    // parameters (IPKIParameters; the request keeps a reference).
    virtual int SetPublicKey(const std::uint8_t* key, std::uint32_t bits,
                             IPKIObject* parameters)                             // 19
    { (void)key; (void)bits; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(20) PKI_RESERVED(21)                                            // 20-21
    PKI_RESERVED(22) PKI_RESERVED(23)                                            // 22-23
    // The key family of the request's signature (1 DSTU 4145, 2 RSA, 4 ECDSA).
    virtual int GetSignatureFamily(std::uint32_t* family)                        // 24
    { (void)family; return PKI_E_NOT_IMPLEMENTED; }
    // The bytes the request's signature covers (its to-be-signed part), in a
    // library blob.
    virtual int GetToBeSigned(PKIBlob* out)                                      // 25
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    // The request's signature value as the family's provider makes it:
    // `length` bytes (DSTU 4145: r then s, little-endian).
    virtual int SetSignature(const std::uint8_t* signature, std::uint32_t length) // 26
    { (void)signature; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)                           // 27-29
    PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33)          // 30-33
    PKI_RESERVED(34)                                                             // 34
    // The subject name as a name text.
    virtual int SetSubjectName(const char* name)                                 // 35
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // Verifies the request's own signature with an RSA public key as slot 15
    // reads it: 0 when it holds.
    virtual int VerifyRSA(const std::uint8_t* fields, std::uint32_t bits)        // 36
    { (void)fields; (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(37)                                                             // 37
    PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41)          // 38-41
    PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45)          // 42-45
    // The first requested period (IPKIKeyUsagePeriod); nonzero without one.
    virtual int GetFirstPeriod(void** period)                                    // 46
    { (void)period; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(47) PKI_RESERVED(48)                                            // 47-48
    // The request's first text list (IPKITextList); PKI_E_ABSENT without it.
    virtual int GetFirstTextList(void** list)                                    // 49
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(50) PKI_RESERVED(51)                                            // 50-51
    // The second text list (IPKITextList); PKI_E_ABSENT without it.
    virtual int GetSecondTextList(void** list)                                   // 52
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(53)                                                             // 53
    PKI_RESERVED(54) PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57)          // 54-57
    PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60)                           // 58-60
    // A list of the request's entries (IPKIStatementList) whose slot 4 takes two
    // words; PKI_E_ABSENT without one.
    virtual int GetStatementList(void** statements)                              // 61
    { (void)statements; return PKI_E_NOT_IMPLEMENTED; }
    // Adds an extension object (the request keeps a reference).
    virtual int AddExtension(IPKIObject* extension)                              // 62
    { (void)extension; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65)                           // 63-65
    PKI_RESERVED(66)                                                             // 66
    // The requested key usage (IPKIEncoded); PKI_E_ABSENT without it.
    virtual int GetRequestedKeyUsage(void** item)                                // 67
    { (void)item; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(68) PKI_RESERVED(69)                                            // 68-69
    // The second requested period (IPKIKeyUsagePeriod); nonzero without one.
    virtual int GetSecondPeriod(void** period)                                   // 70
    { (void)period; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(71) PKI_RESERVED(72)                                            // 71-72
    // The requested QC statements, as the certificate's slot 89.
    virtual int GetQCStatements(void** statements)                               // 73
    { (void)statements; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(74) PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77)          // 74-77
    PKI_RESERVED(78)                                                             // 78
    // The requested alternative names (IPKIGeneralNames); PKI_E_ABSENT without them.
    virtual int GetAltNames(void** names)                                        // 79
    { (void)names; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(80) PKI_RESERVED(81)                                            // 80-81
    // The directory-attribute object (as the certificate's slot 77); PKI_E_ABSENT without one.
    virtual int GetDirectoryAttributes(void** attributes)                        // 82
    { (void)attributes; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87)                                                             // 87
    // The key identifier the request carries: an attribute object (IPKIAttribute),
    // whose slot 5 IPKIKeyIdentifier reads too; PKI_E_ABSENT without one.
    virtual int GetKeyIdentifier(void** identifier)                              // 88
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // Sets the key identifier (IPKIAttribute; the request keeps a reference).
    virtual int SetKeyIdentifier(IPKIObject* identifier)                         // 89
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(90) PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93)          // 90-93
    // The requested extensions (an extension list, class 4912); PKI_E_ABSENT
    // without them.
    virtual int GetRequestedExtensions(void** extensions)                        // 94
    { (void)extensions; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(95) PKI_RESERVED(96)                                            // 95-96
    // Sets an extension list (class 4912) as the requested extensions (the
    // request keeps a reference).
    virtual int SetRequestedExtensions(IPKIObject* extensions)                   // 97
    { (void)extensions; return PKI_E_NOT_IMPLEMENTED; }
    // A text-and-value item of the request (IPKITextValue).
    virtual int GetTextValueItem(void** item)                                    // 98
    { (void)item; return PKI_E_NOT_IMPLEMENTED; }
    // 0 when the request's content is whole and its own signature holds.
    virtual int CheckContent()                                                   // 99
    { return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRequest() = default;
};

// Certificate policies (reached through IPKICertificate::GetPolicies).
class IPKIPolicies : public IPKIObject {
public:
    // The first policy's OID as dotted text (length excludes the terminator
    // that follows it); the blob goes back through IPKIInterface::FreeBlob.
    virtual int GetFirstPolicy(PKIBlob* oid) = 0;  // 3

protected:
    ~IPKIPolicies() = default;
};

// Interface 4215 of a DSTU 4145 key object: the provider context of the key.
class IPKIKeyContextDSTU4145 : public IPKIObject {
public:
    // Lends the key a provider context (three pointer-sized words) for the flags.
    virtual int SetContext(const void* context, std::uint32_t flags)  // 3
    { (void)context; (void)flags; return PKI_E_NOT_IMPLEMENTED; }
    // The context's flags (the low three bits count).
    virtual std::uint32_t GetContextFlags() = 0;  // 4
    // Fills the provider context (three pointer-sized words) for the flags.
    virtual int GetContext(void* context, std::uint32_t flags) = 0;  // 5
    virtual int SetContextFlags(std::uint32_t flags)  // 6
    { (void)flags; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIKeyContextDSTU4145() = default;
};

// Interface 4230 of an RSA or ECDSA key object.
class IPKIKeyContextIntl : public IPKIObject {
public:
    PKI_RESERVED(3)
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)                  // 3-6
        PKI_RESERVED(7)                                              // 7
        virtual std::uint32_t GetContextFlags() = 0;                 // 8
    virtual int GetContext(void* context, std::uint32_t flags) = 0;  // 9

protected:
    ~IPKIKeyContextIntl() = default;
};

// Key usage bits of IPKIKeyExport::GetUsage: the key-data part (exported as
// PKI_KEY_DATA_BYTES) and the DSTU 4145 part (parameters and public key).
enum : std::uint32_t {
    PKI_KEY_USAGE_DATA = 2,
    PKI_KEY_USAGE_DSTU4145 = 4,
    PKI_KEY_FIELD_BYTES = 600,
    PKI_KEY_DATA_BYTES = 8 * PKI_KEY_FIELD_BYTES,
    // IPKIKeyExport::Export queries.
    PKI_EXPORT_DSTU4145_PART = 4388,
    PKI_EXPORT_DATA_PART = 4392
};

// Interface 4224 of a key: its usage and the export of either part as
// 600-byte fields.
class IPKIKeyExport : public IPKIObject {
public:
    virtual int GetUsage(std::uint32_t* bits) = 0;                                // 3
    // PKI_EXPORT_DATA_PART: fields 0-7 the key data, then the two parameter
    // words in field 8 (little-endian). PKI_EXPORT_DSTU4145_PART: field 0 the
    // field record and point record, field 1 the key's S-box (the standard
    // one when it has none), field 2 the private key (u32 length, bytes),
    // field 3 the public key (u32 length, bytes; length 0 when not known).
    // fields: `count` fields of PKI_KEY_FIELD_BYTES, zero-filled first.
    virtual int Export(std::uint32_t query, std::uint8_t* fields, std::uint32_t count) = 0;  // 4
    // Sets the DSTU 4145 part: parameters from the records, the key's own
    // S-box (null: none), the private key and the public key (may be empty).
    virtual int SetDSTU4145Part(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                                const std::uint8_t* sBox, const PKIBlob* privateKey,
                                const PKIBlob* publicKey) = 0;                   // 5

protected:
    ~IPKIKeyExport() = default;
};

// A name of a certificate (subject or issuer).
class IPKIName : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3

protected:
    ~IPKIName() = default;
};

// Key usage of a certificate: X.509 KeyUsage bits, bit n of value 2^n.
class IPKIKeyUsage : public IPKIObject {
public:
    virtual int GetBits(std::uint32_t* bits) = 0;                                // 3

protected:
    ~IPKIKeyUsage() = default;
};

// Subject key identifier of a certificate.
class IPKIKeyIdentifier : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    // *length: capacity on entry, identifier length on return.
    virtual int GetIdentifier(std::uint8_t* identifier, std::uint32_t* length) = 0;  // 5

protected:
    ~IPKIKeyIdentifier() = default;
};

// Integer (class 4877, interface 4111): an encoded INTEGER.
class IPKIInteger : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4

protected:
    ~IPKIInteger() = default;
};

// Content information (class 4879, interface 4113) of a CMS message.
class IPKIContentInfo : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    // The content type as dotted text (length excludes the terminator).
    virtual int GetContentType(PKIBlob* oid) = 0;                                // 5
    // The content, encoded (for signed data: load it into 4900 / 4136).
    virtual int GetContent(PKIBlob* content) = 0;                                // 6

protected:
    ~IPKIContentInfo() = default;
};

// Signed data (class 4900, interface 4136).
class IPKISignedData : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    // Certificate `index` (encoded); PKI_E_INDEX past the last.
    virtual int GetCertificate(std::uint32_t index, PKIBlob* certificate) = 0;   // 5

protected:
    ~IPKISignedData() = default;
};

// Interface 4226 of a certificate: its elliptic-curve public key.
class IPKICertificateEC : public IPKIObject {
public:
    // The encoded point and the encoded curve parameters.
    virtual int GetECPublicKey(PKIBlob* point, PKIBlob* parameters) = 0;        // 3

protected:
    ~IPKICertificateEC() = default;
};

// DSTU 4145 public key (class 4908, interface 4130), the CKA_EC_POINT value:
// the compressed point in a 76-byte record (little-endian, as the key and the
// crypto service provider hold it) and the field degree m, which fixes the
// encoded length at (m + 7) / 8 bytes.
class IPKIECPoint : public IPKIObject {
public:
    // record: 76 bytes out; m may be null.
    virtual int GetPoint(std::uint8_t* record, std::uint32_t* m) = 0;            // 3
    virtual int SetPoint(const std::uint8_t* record, std::uint32_t m) = 0;       // 4

protected:
    ~IPKIECPoint() = default;
};

// Key blob header (class 4939, interface 4217).
class IPKIKeyBlobHeader : public IPKIObject {
public:
    // The two leading lengths of a key blob.
    virtual int ReadLengths(const PKIBlob* blob, std::uint32_t* first, std::uint32_t* second) = 0;  // 3

protected:
    ~IPKIKeyBlobHeader() = default;
};

// ---- Holder profiles: certificate extensions and subject identifiers ----

enum : std::uint32_t {
    PKI_IID_DIRECTORY_ATTRIBUTES = 4214,  // reads attribute values by OID
    PKI_IID_ATTRIBUTE_VALUES = 4232       // an attribute list's values by OID
};

// Basic constraints of a certificate: the CA flag and, for a CA, the path
// length (0 when none is set).
class IPKIBasicConstraints : public IPKIObject {
public:
    virtual int GetCA(std::uint32_t* ca) = 0;                                    // 3
    virtual int GetPathLength(std::uint32_t* pathLength) = 0;                    // 4
    virtual int SetCA(std::uint32_t ca)                                          // 5
    { (void)ca; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetPathLength(std::uint32_t pathLength)                          // 6
    { (void)pathLength; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIBasicConstraints() = default;
};

// A list of OIDs (extended key usages, policies).
class IPKIOIDList : public IPKIObject {
public:
    virtual int GetCount(std::uint32_t* count) = 0;                              // 3
    // OID `index` as dotted text (length excludes the terminator that follows
    // it); the blob goes back through IPKIInterface::FreeBlob.
    virtual int GetOID(std::uint32_t index, PKIBlob* oid) = 0;                   // 4

protected:
    ~IPKIOIDList() = default;
};

// Subject directory attributes (certificate slot 77, request slot 82). Their
// own table answers for seven fixed items whether each is present and its
// wide text (*length as for IPKICertificate::GetDisplayName). Interface 4214
// shares the table (slot 48) and fills buffers[i] with the wide value of
// oids[i] for every buffer given. Each buffer holds
// GetNameAttributeMaxLength(oids[i]) + 1 wide characters; a value not there
// is left as it was (the caller clears the buffers first).
class IPKIDirectoryAttributes : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16)                                            // 15-16
    virtual int HasItem1(std::uint32_t* present)                                 // 17
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem1Text(wchar_t* text, std::uint32_t* length)               // 18
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(19) PKI_RESERVED(20)                                            // 19-20
    virtual int HasItem2(std::uint32_t* present)                                 // 21
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem2Text(wchar_t* text, std::uint32_t* length)               // 22
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(23) PKI_RESERVED(24)                                            // 23-24
    virtual int HasItem3(std::uint32_t* present)                                 // 25
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem3Text(wchar_t* text, std::uint32_t* length)               // 26
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(27) PKI_RESERVED(28)                                            // 27-28
    virtual int HasItem4(std::uint32_t* present)                                 // 29
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem4Text(wchar_t* text, std::uint32_t* length)               // 30
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(31) PKI_RESERVED(32)                                            // 31-32
    virtual int HasItem5(std::uint32_t* present)                                 // 33
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem5Text(wchar_t* text, std::uint32_t* length)               // 34
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(35) PKI_RESERVED(36)                                            // 35-36
    virtual int HasItem6(std::uint32_t* present)                                 // 37
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem6Text(wchar_t* text, std::uint32_t* length)               // 38
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(39) PKI_RESERVED(40)                                            // 39-40
    virtual int HasItem7(std::uint32_t* present)                                 // 41
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetItem7Text(wchar_t* text, std::uint32_t* length)               // 42
    { (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47)                                                             // 47
    virtual int ReadValues(std::uint32_t count, const char* const* oids, void** buffers) = 0;  // 48
    // Sets all the attributes at once: values[i] (wide text) for oids[i].
    virtual int SetValues(std::uint32_t count, const char* const* oids,
                          const wchar_t* const* values)                         // 49
    { (void)count; (void)oids; (void)values; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIDirectoryAttributes() = default;
};

// Interface 4232 of a subject attribute list.
class IPKIAttributeValues : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    // The value of attribute `oid` as wide text into `capacity` characters;
    // PKI_E_ABSENT when not there, PKI_E_FAILURE when it does not fit.
    virtual int GetValueText(const char* oid, wchar_t* text, std::uint32_t capacity) = 0;  // 11

protected:
    ~IPKIAttributeValues() = default;
};

// ---- Hash signatures, public keys and key parameters ----
// Signature value (class 4907, interface 4145): one value in each of three
// forms, each kept as the bytes and the bit length last set. A getter given
// no buffer reports only the bit length, so that a caller can bound the copy
// before it asks for the bytes ((bits + 7) / 8 of them).
class IPKISignatureValue : public IPKIObject {
public:
    virtual int GetDSTU4145(std::uint8_t* bytes, std::uint32_t* bits) = 0;       // 3
    virtual int SetDSTU4145(const std::uint8_t* bytes, std::uint32_t bits) = 0;  // 4
    virtual int GetRSA(std::uint8_t* bytes, std::uint32_t* bits) = 0;            // 5
    virtual int SetRSA(const std::uint8_t* bytes, std::uint32_t bits) = 0;       // 6
    virtual int GetECDSA(std::uint8_t* bytes, std::uint32_t* bits) = 0;          // 7
    virtual int SetECDSA(const std::uint8_t* bytes, std::uint32_t bits) = 0;     // 8

protected:
    ~IPKISignatureValue() = default;
};

// A private-key object as the signing and public-key operations read it
// (the table of IPKIKey, interface 4128, with the slots those operations use).
class IPKIKeyObject : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    // As IPKIKey::Decode: a key container from its encoding (the protected
    // key file's decrypted payload).
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    // Capability bits, as interface 4224's slot 52: bit 0 signing (DSTU
    // 4145), value 2 RSA signing, value 4 ECDSA signing.
    virtual int GetCapabilities(std::uint32_t* bits)                             // 5
    { (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    // The public key that goes with the private key: 76 bytes (little-endian,
    // zero-filled), its length and its parameters (IPKIParameters; may be null).
    virtual int GetPublicKey(std::uint8_t* key, std::uint32_t* length, void** parameters) // 6
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // As IPKIKey::GetKeyValue: a DSTU 4145 private key (at most 76 bytes,
    // little-endian) and its parameters (IPKIParameters).
    virtual int GetKeyValue(PKIBlob* value, void** parameters)                   // 7
    { (void)value; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // As IPKIKey::SetKeyValue: a container takes a DSTU 4145 key (an empty
    // value: none) with its parameters, whose curve it keeps.
    virtual int SetKeyValue(const PKIBlob* value, IPKIObject* parameters)        // 8
    { (void)value; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // An RSA private key in the provider's form (up to 1,200 words: the
    // caller's buffer holds 4,800 bytes) and its 8-byte profile (u32 key
    // bits, u32 hash bits).
    virtual int GetRSAKey(std::uint8_t* privateKey, std::uint8_t* profile)       // 9
    { (void)privateKey; (void)profile; return PKI_E_NOT_IMPLEMENTED; }
    // Signs a signed object (its bytes hashed with GOST 34.311) with the
    // key's DSTU 4145 key; `work` is the caller's 76-byte buffer, which the
    // caller wipes.
    virtual int SignObjectDSTU4145(IPKIObject* object, std::uint8_t* work)       // 10
    { (void)object; (void)work; return PKI_E_NOT_IMPLEMENTED; }
    // The key identifier object (IPKIAttribute, 32 bytes through its slot 3)
    // of the DSTU 4145 signature key; PKI_E_ABSENT without one.
    virtual int GetSignatureKeyIdentifier(void** identifier)                     // 11
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // A container takes the identifier object of its signature key.
    virtual int SetSignatureKeyIdentifier(IPKIObject* identifier)                // 12
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16)          // 13-16
    PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)          // 17-20
    PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24)          // 21-24
    // The DSTU 4145 key-agreement private key (at most 76 bytes,
    // little-endian); an empty value: the key has none.
    virtual int GetAgreementKeyValue(PKIBlob* value)                             // 25
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(26) PKI_RESERVED(27)                                            // 26-27
    // The key-agreement key's parameter object (IPKIAgreementParameters,
    // class 4881, interface 4115).
    virtual int GetAgreementParameters(void** parameters)                        // 28
    { (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(29) PKI_RESERVED(30)                                            // 29-30
    // The same for the DSTU 4145 key-agreement key.
    virtual int GetAgreementKeyIdentifier(void** identifier)                     // 31
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(32)                                                             // 32
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36)          // 33-36
    // A container's own word on keys that lack parts export needs: a
    // nonzero *accepted lets certificates be attached to them all the same.
    virtual int CheckIncompleteKeys(std::uint32_t* accepted)                     // 37
    { (void)accepted; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(38)                                                             // 38
    // The same for the RSA key.
    virtual int GetRSAKeyIdentifier(void** identifier)                           // 39
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)                           // 40-42
    // As IPKIKey: the key's (or container's) own GOST 28147 S-box, 64 bytes;
    // PKI_E_ABSENT without one.
    virtual int GetSBox(std::uint8_t* sBox)                                      // 43
    { (void)sBox; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetSBox(const std::uint8_t* sBox)                                // 44
    { (void)sBox; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIKeyObject() = default;
};

// Interface 4224 as the EC operations read it: the slots after the export.
class IPKIKeyExportEC : public IPKIKeyExport {
public:
    PKI_RESERVED(6) PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9)
    PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13)
    PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17)
    PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21)
    PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25)
    PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)
    PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33)
    PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37)
    PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41)
    PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45)
    PKI_RESERVED(46) PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49)
    PKI_RESERVED(50) PKI_RESERVED(51)  // 6-51
    // Capability bits: bit 0 signing, bits 1 and 2 the others.
    virtual int GetECCapabilities(std::uint32_t* bits)                           // 52
    { (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    // The private key (76 bytes, big-endian, right-aligned) with its length,
    // and the 536-byte parameter record; the two middle arguments are unused.
    virtual int ReadECKey(std::uint8_t* key, std::uint32_t* length, const void* unused1, const void* unused2,
                          std::uint8_t* record)                                  // 53
    { (void)key; (void)length; (void)unused1; (void)unused2; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // Writes the public key (152-byte point) with its parameter record.
    virtual int WriteECKey(const std::uint8_t* key, std::uint32_t length, const std::uint8_t* record) // 54
    { (void)key; (void)length; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // The key-identifier object set through slot 56 (IPKIAttribute);
    // PKI_E_ABSENT without one.
    virtual int GetKeyIdentifier(void** identifier)                              // 55
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // Takes a key identifier object (IPKIAttribute); the key keeps a reference.
    virtual int SetKeyIdentifier(IPKIObject* identifier)                         // 56
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIKeyExportEC() = default;
};

// EC values of a request (interface 4225) and of a certificate (interface
// 4226): index PKI_EC_VALUE_PUBLIC_KEY the 152-byte public point, index
// PKI_EC_VALUE_RECORD the 536-byte parameter record (its first 16-bit word,
// little-endian, the key size in bits).
enum : std::uint32_t {
    PKI_CLASS_SIGNATURE_VALUE = 4907,
    PKI_IID_SIGNATURE_VALUE = 4145,
    PKI_IID_EC_REQUEST = 4225,
    PKI_IID_REQUEST_HASH = 4237,
    PKI_IID_SIGNED_HASH = 4238,
    PKI_EC_VALUE_PUBLIC_KEY = 0,
    PKI_EC_VALUE_RECORD = 1,
    PKI_EC_RECORD_BYTES = 536,
    PKI_EC_POINT_BYTES = 152,
    PKI_EC_NUMBER_BYTES = 76,
    // Key-cache slots (IPKIKeySet values of a key object).
    PKI_KEY_CACHE_DSTU4145 = 1,
    PKI_KEY_CACHE_DSTU4145_AGREEMENT = 2,
    PKI_KEY_CACHE_RSA = 3,
    PKI_KEY_CACHE_EC = 4
};

// A request's DSTU 4145 form (class 4873, interface 4225): encoding, kind,
// key, the signature, and the EC values.
class IPKIRequestEC : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(5) PKI_RESERVED(6) PKI_RESERVED(7) PKI_RESERVED(8)
    PKI_RESERVED(9) PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)  // 5-12
    virtual int GetKeyKind(std::uint32_t* kind)                                  // 13
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14) PKI_RESERVED(15)                                            // 14-15
    // As IPKIRequestKeys::GetDSTU4145PublicKey.
    virtual int GetDSTU4145PublicKey(std::uint8_t* key, std::uint32_t* length,
                                     void** parameters)                          // 16
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)
    PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24)
    PKI_RESERVED(25) PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28)
    PKI_RESERVED(29) PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32)
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36)
    PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40)
    PKI_RESERVED(41) PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44)
    PKI_RESERVED(45) PKI_RESERVED(46) PKI_RESERVED(47) PKI_RESERVED(48)
    PKI_RESERVED(49) PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52)
    PKI_RESERVED(53) PKI_RESERVED(54) PKI_RESERVED(55) PKI_RESERVED(56)
    PKI_RESERVED(57) PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60)
    PKI_RESERVED(61)
    // As IPKIRequest::AddExtension.
    virtual int AddExtension(IPKIObject* extension)                              // 62
    { (void)extension; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(63) PKI_RESERVED(64)
    PKI_RESERVED(65) PKI_RESERVED(66) PKI_RESERVED(67) PKI_RESERVED(68)
    PKI_RESERVED(69) PKI_RESERVED(70) PKI_RESERVED(71) PKI_RESERVED(72)
    PKI_RESERVED(73) PKI_RESERVED(74) PKI_RESERVED(75) PKI_RESERVED(76)
    PKI_RESERVED(77) PKI_RESERVED(78) PKI_RESERVED(79) PKI_RESERVED(80)
    PKI_RESERVED(81) PKI_RESERVED(82) PKI_RESERVED(83) PKI_RESERVED(84)
    PKI_RESERVED(85) PKI_RESERVED(86) PKI_RESERVED(87) PKI_RESERVED(88)
    // As IPKIRequest::SetKeyIdentifier.
    virtual int SetKeyIdentifier(IPKIObject* identifier)                         // 89
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(90) PKI_RESERVED(91) PKI_RESERVED(92)
    PKI_RESERVED(93) PKI_RESERVED(94) PKI_RESERVED(95) PKI_RESERVED(96)
    PKI_RESERVED(97) PKI_RESERVED(98) PKI_RESERVED(99)  // 17-99
    // The signature algorithm by dotted OID.
    virtual int SetSignatureAlgorithm(const char* oid)                           // 100
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    // The request's signature value: `length` bytes, r then s.
    virtual int SetSignature(const std::uint8_t* signature, std::uint32_t length) // 101
    { (void)signature; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetECValue(std::uint32_t index, std::uint8_t* value)            // 102
    { (void)index; (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // The request's DSTU 4145 public key: `length` bytes, little-endian.
    virtual int SetPublicKey(const std::uint8_t* key, std::uint32_t length)     // 103
    { (void)key; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    // Writes a parameter record (536 bytes and the curve's word) with the
    // caller's two words.
    virtual int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) // 104
    { (void)a; (void)b; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // Brings a record read from the request to the library's normal form.
    virtual int NormalizeECRecord(const std::uint8_t* record)                    // 105
    { (void)record; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRequestEC() = default;
};

class IPKICertificateECKeys : public IPKICertificateEC {
public:
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6) PKI_RESERVED(7)
    PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10) PKI_RESERVED(11)
    PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15)
    PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19)
    PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23)
    PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26) PKI_RESERVED(27)
    PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30) PKI_RESERVED(31)
    PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35)
    PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39)
    PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42) PKI_RESERVED(43)
    PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46) PKI_RESERVED(47)
    PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50) PKI_RESERVED(51)
    PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54) PKI_RESERVED(55)
    PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58) PKI_RESERVED(59)
    PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62) PKI_RESERVED(63)
    PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66) PKI_RESERVED(67)
    PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70) PKI_RESERVED(71)
    PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74) PKI_RESERVED(75)
    PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78) PKI_RESERVED(79)
    PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82) PKI_RESERVED(83)
    PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86) PKI_RESERVED(87)
    PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90) PKI_RESERVED(91)
    PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94) PKI_RESERVED(95)
    PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98) PKI_RESERVED(99)
    PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102) PKI_RESERVED(103)
    PKI_RESERVED(104) PKI_RESERVED(105)  // 4-105
    virtual int GetECValue(std::uint32_t index, std::uint8_t* value)            // 106
    { (void)index; (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetECPair(std::uint32_t a, std::uint32_t b)                      // 107
    { (void)a; (void)b; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) // 108
    { (void)a; (void)b; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // Takes over another certificate's EC key (152 bytes) and record.
    virtual int CopyEC(const std::uint8_t* key, const std::uint8_t* record)       // 109
    { (void)key; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetECValue(std::uint32_t value)                                  // 110
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(111)                                                            // 111
    // The inner EC certificate; PKI_E_ABSENT without one.
    virtual int GetInnerECCertificate(void** certificate)                        // 112
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertificateECKeys() = default;
};

// The third and fourth forms of EC parameters (interfaces 4227, 4228).
enum : std::uint32_t { PKI_IID_EC_FORM3 = 4227, PKI_IID_EC_FORM4 = 4228 };

class IPKIECParametersForm3 : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)
    PKI_RESERVED(55)  // 3-55
    virtual int SetECRecord(std::uint32_t a, std::uint32_t b, const std::uint8_t* record) // 56
    { (void)a; (void)b; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CopyEC(const std::uint8_t* key, const std::uint8_t* record)       // 57
    { (void)key; (void)record; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIECParametersForm3() = default;
};

class IPKIECParametersForm4 : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)
    PKI_RESERVED(47)  // 3-47
    // Writes an EC key (`length` bytes) with its parameter record (536 bytes
    // and the curve's word).
    virtual int WriteEC(const std::uint8_t* key, std::uint32_t length, const std::uint8_t* record) // 48
    { (void)key; (void)length; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CopyEC(const std::uint8_t* key, const std::uint8_t* record)       // 49
    { (void)key; (void)record; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIECParametersForm4() = default;
};

// A request as the key operations read it (slots 15, 16 and 88).
class IPKIRequestKeys : public IPKIRequest {
protected:
    ~IPKIRequestKeys() = default;
};

// A signed object (certificate, list, response) as the hash-code reader sees it.
class IPKISigned : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23)  // 3-23
    // The key family of the signature (1 DSTU 4145, 2 RSA, 4 ECDSA).
    virtual int GetSignatureFamily(std::uint32_t* family)                        // 24
    { (void)family; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISigned() = default;
};

// Interface 4238 of a signed object: its hash-algorithm code.
class IPKISignedHash : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)
    PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109) PKI_RESERVED(110)
    PKI_RESERVED(111) PKI_RESERVED(112) PKI_RESERVED(113)  // 3-113
    virtual int GetHashCode(std::uint32_t* code)                                 // 114
    { (void)code; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignedHash() = default;
};

// Interface 4237 of a request: its hash-algorithm code.
class IPKIRequestHash : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105)  // 3-105
    // The signature algorithm (DSTU 4145 with DSTU 7564) by dotted OID.
    virtual int SetSignatureAlgorithm(const char* oid)                           // 106
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    // As IPKIRequest::SignDSTU4145, hashing with DSTU 7564 in `hashLength`
    // bytes.
    virtual int SignDSTU4145WithHashLength(const std::uint8_t* privateKey, std::uint32_t curve,
                                           IPKIObject* parameters, std::uint32_t hashLength) // 107
    { (void)privateKey; (void)curve; (void)parameters; (void)hashLength; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashCode(std::uint32_t* code)                                 // 108
    { (void)code; return PKI_E_NOT_IMPLEMENTED; }
    // As IPKIRequest::SetSignature for a DSTU 4145 signature over a DSTU 7564
    // hash of `hashLength` bytes.
    virtual int SetSignatureWithHashLength(const std::uint8_t* signature, std::uint32_t length,
                                           std::uint32_t hashLength)             // 109
    { (void)signature; (void)length; (void)hashLength; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRequestHash() = default;
};

// ---- Certificate lists, extension lists, views and time-stamp objects ----
// (certificate, request and list operations of the facade)

// Any object whose slot 3 encodes it and slot 4 loads it (items read out of
// certificates and requests, and the classes the facade decodes).
class IPKIEncoded : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4

protected:
    ~IPKIEncoded() = default;
};

// A certificate list: entries by index; each entry offers the certificate
// interface (4102).
class IPKICertificateList : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int GetCount(std::uint32_t* count) = 0;                              // 5
    virtual int GetEntry(std::uint32_t index, void** entry) = 0;                 // 6

protected:
    ~IPKICertificateList() = default;
};

// Interface 4209 of a certificate list: its certificates by kind of entry.
class IPKICertificateListView : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45)                           // 43-45
    virtual int GetCertificateCount(std::uint32_t kind, std::uint32_t* count) = 0;  // 46
    // Key containers: adds a certificate (kept referenced) to the
    // certificate list (kind 1).
    virtual int AddCertificate(IPKIObject* certificate)                          // 47
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetCertificate(std::uint32_t index, std::uint32_t kind, void** certificate) = 0;  // 48
    // Key containers: entry `index` of the key list (kind 0 of slot 46): the
    // key (interface 4128), its capability value, the entry's second value
    // and its 32 bytes; PKI_E_INDEX past the end. Outputs but the key may be
    // null.
    virtual int GetKeyEntry(std::uint32_t index, void** key, std::uint32_t* capability,
                            std::uint32_t* value, std::uint8_t* bytes)          // 49
    { (void)index; (void)key; (void)capability; (void)value; (void)bytes; return PKI_E_NOT_IMPLEMENTED; }
    // Key containers: sets a certificate (kept referenced) to the key of
    // entry `index`; a key may take several.
    virtual int SetKeyCertificate(std::uint32_t index, IPKIObject* certificate)  // 50
    { (void)index; (void)certificate; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertificateListView() = default;
};

// Extension list (class 4905, interface 4146).
class IPKIExtensionList : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    PKI_RESERVED(5) PKI_RESERVED(6) PKI_RESERVED(7) PKI_RESERVED(8)              // 5-8
    // value: the extension's value object; type: its kind.
    virtual int Add(IPKIObject* value, std::uint32_t type) = 0;                  // 9

protected:
    ~IPKIExtensionList() = default;
};

// Key-usage-period extension (class 4905, interface 4259).
class IPKIKeyUsagePeriodExtension : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)                            // 4-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35)                                                             // 35
    virtual int SetPeriod(std::uint32_t kind, std::uint32_t value, std::uint32_t flag) = 0;  // 36

protected:
    ~IPKIKeyUsagePeriodExtension() = default;
};

// Interface 4268 of a certificate: one flag of an extension and a pair.
class IPKIExtensionFlagView : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)          // 67-70
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)          // 71-74
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)          // 75-78
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)          // 79-82
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)          // 87-90
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)          // 91-94
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)          // 95-98
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)       // 99-102
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)      // 103-106
    PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109) PKI_RESERVED(110)      // 107-110
    PKI_RESERVED(111) PKI_RESERVED(112) PKI_RESERVED(113) PKI_RESERVED(114)      // 111-114
    PKI_RESERVED(115) PKI_RESERVED(116)                                          // 115-116
    virtual int SetPair(std::uint32_t second, std::uint32_t first) = 0;          // 117
    virtual int SetFlag(std::uint32_t value) = 0;                                // 118
    // PKI_E_ABSENT when the certificate has no such extension.
    virtual int GetFlag(std::uint32_t* value) = 0;                               // 119

protected:
    ~IPKIExtensionFlagView() = default;
};

// Time-stamp token content (class 4906, interface 4143).
class IPKITimeStampToken : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    PKI_RESERVED(5)                                                              // 5
    // The two words that travel with the token.
    virtual int SetWords(std::uint32_t first, std::uint32_t second)              // 6
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(7)  PKI_RESERVED(8)                                             // 7-8
    PKI_RESERVED(9)  PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)          // 9-12
    // The signed token as a content info; the object keeps a reference.
    virtual int SetTokenContentInfo(IPKIObject* contentInfo)                     // 13
    { (void)contentInfo; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14) PKI_RESERVED(15)                                            // 14-15
    // The encapsulated content type as dotted text; the blob holds the
    // terminator too (length counts it).
    virtual int GetContentType(PKIBlob* oid) = 0;                                // 16
    PKI_RESERVED(17)                                                             // 17
    // The encapsulated content, encoded.
    virtual int GetContent(PKIBlob* content) = 0;                                // 18

protected:
    ~IPKITimeStampToken() = default;
};

// Time-stamp information (class 4904, interface 4141). Its two parts are
// written into the caller's place as the library lays them out.
class IPKITimeStampInfo : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    PKI_RESERVED(5)                                                              // 5
    // Copies the fields of a time-stamp request (4921 / 4198).
    virtual int SetRequest(IPKIObject* request)                                  // 6
    { (void)request; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(7)  PKI_RESERVED(8)                                             // 7-8
    virtual int SetImprintGOST(const std::uint8_t* imprint, std::uint32_t length)  // 9
    { (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(10)                                                             // 10
    virtual int SetImprintSHA(const std::uint8_t* imprint, std::uint32_t length)   // 11
    { (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetPartA(void* out) = 0;                                         // 12
    virtual int SetFirstValue(std::uint32_t value)                               // 13
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetPartB(void* out) = 0;                                         // 14
    virtual int SetSecondValue(std::uint32_t value)                              // 15
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19)          // 16-19
    PKI_RESERVED(20) PKI_RESERVED(21)                                            // 20-21
    virtual int SetNonce(const std::uint8_t* nonce, std::uint32_t length)        // 22
    { (void)nonce; (void)length; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKITimeStampInfo() = default;
};

// Slot 50 of an object (a certificate, a request or a signer): an optional
// item that encodes (IPKIEncoded); PKI_E_ABSENT without it.
class IPKIItem50 : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49)                           // 47-49
    virtual int GetItem(void** item) = 0;                                        // 50

protected:
    ~IPKIItem50() = default;
};

// Distribution points of a certificate: their locations as texts.
class IPKIDistributionPoints : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int GetCount(std::uint32_t* count) = 0;                              // 5
    // Location `index` as Windows-1251 bytes (length excludes any terminator).
    virtual int GetLocation(std::uint32_t index, PKIBlob* location) = 0;         // 6

protected:
    ~IPKIDistributionPoints() = default;
};

// A list of statements: slot 4 adds one (two words).
class IPKIStatementList : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    virtual int Add(std::uint32_t first, std::uint32_t second) = 0;              // 4

protected:
    ~IPKIStatementList() = default;
};

// Private-key usage period (class 4889, interface 4123): start and end
// (UTC; either output may be null).
class IPKIKeyUsagePeriod : public IPKIObject {
public:
    virtual int GetPeriod(SYSTEMTIME* start, SYSTEMTIME* end) = 0;             // 3

protected:
    ~IPKIKeyUsagePeriod() = default;
};

// Slot 6 of a signed object (a certificate, a list, a response): its
// signature checked with a DSTU 4145 public key as IPKICertificate slot 25
// hands it out.
class IPKISignedObject : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5)                              // 3-5
    virtual int VerifyDSTU4145(const std::uint8_t* key, std::uint32_t length,
                               IPKIObject* parameters) = 0;                      // 6

protected:
    ~IPKISignedObject() = default;
};

// View 4231 of a QC-statements object: two statement flags, and a further
// flag with its text.
class IPKIStatements : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    virtual int GetFlagA(std::uint32_t* value) = 0;                              // 11
    // Adds the European compliance statement (flag A).
    virtual int AddEuropeanStatement()                                           // 12
    { return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(13)                                                             // 13
    virtual int GetFlagB(std::uint32_t* value) = 0;                              // 14
    // Adds the secure-device statement (flag B).
    virtual int AddSecureDeviceStatement()                                       // 15
    { return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(16)                                                             // 16
    virtual int GetTextFlag(std::uint32_t* flag) = 0;                            // 17
    // The text as Windows-1251 bytes (length excludes any terminator).
    virtual int GetText(PKIBlob* text) = 0;                                      // 18
    // Sets the QC type by dotted OID.
    virtual int SetQCType(const char* oid)                                       // 19
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)                           // 20-22
    // Sets the semantics identifier by dotted OID.
    virtual int SetSemanticsIdentifier(const char* oid)                          // 23
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIStatements() = default;
};

// Slot 99 of a signer (or another object that carries a version value).
class IPKIVersionValue : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)          // 67-70
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)          // 71-74
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)          // 75-78
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)          // 79-82
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)          // 87-90
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)          // 91-94
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)          // 95-98
    virtual int SetVersionValue(std::uint32_t value) = 0;                        // 99

protected:
    ~IPKIVersionValue() = default;
};

// View 4244 of a certificate: a name pair, in either order.
class IPKICertificateNamePairView : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)          // 67-70
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)          // 71-74
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)          // 75-78
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)          // 79-82
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)          // 87-90
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)          // 91-94
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)          // 95-98
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)       // 99-102
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)      // 103-106
    PKI_RESERVED(107) PKI_RESERVED(108)                                          // 107-108
    virtual int SetNamePair(std::uint32_t first, std::uint32_t second) = 0;      // 109
    virtual int SetNamePairSwapped(std::uint32_t second, std::uint32_t first) = 0;  // 110

protected:
    ~IPKICertificateNamePairView() = default;
};

// View 4262 of a certificate: a value pair.
class IPKICertificateValuePairView : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)          // 67-70
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)          // 71-74
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)          // 75-78
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)          // 79-82
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)          // 87-90
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)          // 91-94
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)          // 95-98
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)       // 99-102
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)      // 103-106
    PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109) PKI_RESERVED(110)      // 107-110
    PKI_RESERVED(111) PKI_RESERVED(112) PKI_RESERVED(113) PKI_RESERVED(114)      // 111-114
    PKI_RESERVED(115)                                                            // 115
    virtual int SetValuePair(std::uint32_t first, std::uint32_t second) = 0;     // 116

protected:
    ~IPKICertificateValuePairView() = default;
};

// Interface 4240 of a signed object: a signer's policy (slot 51) or, without
// that view, its key (slot 41) taken from a key object's slot 9; the named
// curve of its EC key (slot 52).
class IPKISignerPolicyView : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    virtual int SetPolicyKey(IPKIObject* key, std::uint32_t value)               // 51
    { (void)key; (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // Selects the named curve of the signed object's EC key.
    virtual int SelectNamedCurve(IPKIObject* key, std::uint32_t argument)        // 52
    { (void)key; (void)argument; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerPolicyView() = default;
};

class IPKISignerKey : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40)                                            // 39-40
    virtual int SetKey(IPKIObject* key) = 0;                                     // 41

protected:
    ~IPKISignerKey() = default;
};
class IPKIKeySource : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8)                                              // 7-8
    virtual int GetKey(void** key) = 0;                                          // 9

protected:
    ~IPKIKeySource() = default;
};

// Signed data (class 4900, interface 4136) beyond its first slots: slot 7
// adds a certificate.
class IPKISignedDataCertificates : public IPKISignedData {
public:
    PKI_RESERVED(6)                                                              // 6
    virtual int AddCertificate(IPKIObject* certificate) = 0;                     // 7

protected:
    ~IPKISignedDataCertificates() = default;
};

// ---- Key-identified requests and common-key requests ----
enum : std::uint32_t {
    PKI_CLASS_EXT_KEY_USAGE = 4885,
    PKI_IID_EXT_KEY_USAGE = 4119,
    PKI_IID_NAMED_CURVE = 4240,      // a signed object's named-curve selector
    PKI_IID_REQUEST_SIGNING = 4248  // a request's RSA and ECDSA signing view
};

// Extended key usage (class 4885, interface 4119).
class IPKIExtKeyUsage : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    // The usages as a multi-string of dotted OIDs (each ended by a zero, the
    // list by an empty one).
    virtual int SetUsages(const char* usages)                                    // 5
    { (void)usages; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIExtKeyUsage() = default;
};

// Interface 4240 as the named-curve operations read it.
using IPKINamedCurveSelector = IPKISignerPolicyView;

// Interface 4248 of a request: the subject name given by a name text.
class IPKIRequestSigning : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)
    PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109) PKI_RESERVED(110)  // 3-110
    virtual int SetNameText(const char* name)                                    // 111
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // The same for a request with a DSTU 4145 key.
    virtual int SetNameTextDSTU4145(const char* name)                            // 112
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRequestSigning() = default;
};

// ---- CMS signers: attributes, signature-value hashes and certificate identifiers ----
enum : std::uint32_t {
    PKI_CLASS_SIGNER_INFO = 4918,
    PKI_IID_SIGNER_INFO = 4193,
    PKI_IID_SIGNER_INFO_ECDSA = 4229,
    PKI_IID_SIGNER_INFO_DSTU7564 = 4254,
    PKI_CLASS_SIGNING_CERTIFICATE = 4919,
    PKI_IID_SIGNING_CERTIFICATE = 4192,
    PKI_IID_SIGNING_CERTIFICATE_DSTU7564 = 4253,
    PKI_CLASS_SIGNED_ATTRIBUTE = 4866,
    PKI_IID_SIGNED_ATTRIBUTE = 4153,
    PKI_IID_SIGNING_CERTIFICATE_LIST = 4255,
    PKI_IID_IDENTIFIERS_DSTU7564 = 4256,
    PKI_IID_OBJECT_VALUE_4267 = 4267,
    PKI_FEATURE_SIGNATURE_VALUE_HASH = 4383  // the signer hashes its own signature value (slot 32)
};

struct PKIStreamParse;

// Signed data (class 4900, interface 4136): its signers, content and digest
// algorithms. Content types are dotted OID texts.
class IPKISignedDataSigners : public IPKISignedDataCertificates {
public:
    PKI_RESERVED(8) PKI_RESERVED(9)                                              // 8-9
    virtual int GetSignerCount(std::uint32_t* count)                             // 10
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Signer `index` (IPKISignerInfo); PKI_E_INDEX past the last.
    virtual int GetSigner(std::uint32_t index, void** signer)                    // 11
    { (void)index; (void)signer; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AddSigner(IPKIObject* signer)                                    // 12
    { (void)signer; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(13) PKI_RESERVED(14)                                            // 13-14
    virtual int HasContent(std::uint32_t* present)                               // 15
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    // The encapsulated content type: *length holds the buffer's size on entry
    // (terminator included) and the text's length on return; a type that does
    // not fit is refused (PKI_E_INVALID_ARGUMENT) and nothing is written.
    virtual int GetContentType(char* oid, std::uint32_t* length)                 // 16
    { (void)oid; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContentType(const char* oid)                                  // 17
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetContent(PKIBlob* content)                                     // 18
    { (void)content; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContent(const PKIBlob* content)                               // 19
    { (void)content; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(20)                                                             // 20
    virtual int GetDigestAlgorithmCount(std::uint32_t* count)                    // 21
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Digest algorithm `index` as GetContentType writes a type.
    virtual int GetDigestAlgorithm(std::uint32_t index, char* oid, std::uint32_t* length)// 22
    { (void)index; (void)oid; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AddDigestAlgorithm(const char* oid)                              // 23
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(24) PKI_RESERVED(25)                                            // 24-25
    // The header of a streamed encoding (content and trailer follow it).
    virtual int EncodeHeader(PKIBlob* header)                                    // 26
    { (void)header; return PKI_E_NOT_IMPLEMENTED; }
    virtual int ParseStreamed(const PKIBlob* data, PKIStreamParse* parse)        // 27
    { (void)data; (void)parse; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetStreamedContentLength(std::uint32_t low, std::uint32_t high)  // 28
    { (void)low; (void)high; return PKI_E_NOT_IMPLEMENTED; }
    // PKI_E_INCOMPLETE while the header is not whole.
    virtual int ParseHeader(const PKIBlob* data, PKIStreamParse* parse)          // 29
    { (void)data; (void)parse; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(30) PKI_RESERVED(31)                                            // 30-31
    // The encoding: with a null buffer only *length is set.
    virtual int EncodeInto(std::uint8_t* buffer, std::uint32_t* length)         // 32
    { (void)buffer; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35)                           // 33-35
    PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39)          // 36-39
    // Whether the content is held as an object of its own (nonzero: yes).
    virtual int GetContentForm(std::uint32_t* value)                             // 40
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(41) PKI_RESERVED(42) PKI_RESERVED(43)                           // 41-43
    // The embedded object (IPKIEncoded); PKI_E_ABSENT without one.
    virtual int GetEmbeddedObject(void** object)                                 // 44
    { (void)object; return PKI_E_NOT_IMPLEMENTED; }
    // Takes a content information object (4879 / 4113).
    virtual int SetContentInfo(IPKIObject* contentInfo)                          // 45
    { (void)contentInfo; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(46) PKI_RESERVED(47)                                            // 46-47
    PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50) PKI_RESERVED(51)          // 48-51
    PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)                           // 52-54
    virtual int GetTokenSignerCount(std::uint32_t* count)                        // 55
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetTokenSigner(std::uint32_t index, void** signer)               // 56
    { (void)index; (void)signer; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(57) PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60)          // 57-60
    // Takes the certificates of a list (the list is not kept).
    virtual int SetCertificates(IPKIObject* list)                                // 61
    { (void)list; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(62) PKI_RESERVED(63) PKI_RESERVED(64)                           // 62-64
    PKI_RESERVED(65)                                                             // 65
    virtual int GetTokenCertificateCount(std::uint32_t* count)                   // 66
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Certificate `index` (interface 4102).
    virtual int GetTokenCertificate(std::uint32_t index, void** certificate)     // 67
    { (void)index; (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70) PKI_RESERVED(71)          // 68-71
    PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74) PKI_RESERVED(75)          // 72-75
    PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78) PKI_RESERVED(79)          // 76-79
    PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82) PKI_RESERVED(83)          // 80-83
    PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86) PKI_RESERVED(87)          // 84-87
    PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90) PKI_RESERVED(91)          // 88-91
    PKI_RESERVED(92)                                                             // 92
    // Whether the object is detached (1: yes).
    virtual int GetDetached(std::uint32_t* value)                                // 93
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(94) PKI_RESERVED(95)                                            // 94-95
    PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98) PKI_RESERVED(99)          // 96-99
    PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102) PKI_RESERVED(103)      // 100-103
    PKI_RESERVED(104)                                                            // 104
    // Searches all signers from index 0 for the certificate's signer: its
    // 0-based index, or a negative one when none matches.
    virtual int FindSignerIndex(IPKIObject* certificate, std::int32_t* index)    // 105
    { (void)certificate; (void)index; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignedDataSigners() = default;
};

// Signer info (class 4918, interface 4193) of CMS signed data, as every
// operation that signs, reads or checks a signer sees it. The time-stamp
// request alone reads slot 47 differently (IPKISignerInfoTimeStampSource).
struct PKISignerIdentifier;
class IPKISignerInfo : public IPKIObject {
public:
    virtual int GetIdentifier(PKISignerIdentifier* identifier)                  // 3
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetIdentifier(std::uint32_t form, IPKIObject* serial, const wchar_t* issuer, std::uint32_t flags)// 4
    { (void)form; (void)serial; (void)issuer; (void)flags; return PKI_E_NOT_IMPLEMENTED; }
    // Takes the signing certificate (interface 4102).
    virtual int SetCertificate(IPKIObject* certificate)                          // 5
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(6) PKI_RESERVED(7)                                              // 6-7
    // Signed attribute `index` of the type (IPKISignedAttribute's object).
    virtual int GetAttribute(const char* type, std::uint32_t index, void** attribute)// 8
    { (void)type; (void)index; (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HasFeature(std::uint32_t feature, std::uint32_t* present)        // 9
    { (void)feature; (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CountAttributes(const char* type, std::uint32_t* count)          // 10
    { (void)type; (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Time-stamp token `index` (signed data, interface 4136).
    virtual int GetTimeStampTokenAt(std::uint32_t index, void** token)          // 11
    { (void)index; (void)token; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(12)                                                             // 12
    virtual int AddAttribute(IPKIObject* attribute)                              // 13
    { (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17)          // 14-17
    PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)                           // 18-20
    // The signing operations' reading of the signed attributes (interface
    // 4153 objects), beside slots 8 and 10.
    virtual int GetSignedAttribute(const char* oid, std::uint32_t index, void** attribute)  // 21
    { (void)oid; (void)index; (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    // The digest algorithm OID as dotted text, terminator included.
    virtual int GetDigestOID(PKIBlob* oid)                                       // 22
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CountSignedAttributes(const char* oid, std::uint32_t* count)     // 23
    { (void)oid; (void)count; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(24) PKI_RESERVED(25)                                            // 24-25
    // Adds a signed attribute (an interface 4153 object).
    virtual int AddSignedAttribute(IPKIObject* attribute)                        // 26
    { (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)                           // 27-29
    virtual int SetContentType(const char* oid)                                  // 30
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(31)                                                             // 31
    // With feature 4383: the hash of the signature value and its length in
    // bytes; a null hash asks only for the length.
    virtual int GetSignatureValueHash(std::uint8_t* hash, std::uint32_t* length) // 32
    { (void)hash; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(33) PKI_RESERVED(34)                                            // 33-34
    // The signing-certificate attribute (IPKISigningCertificate).
    virtual int GetSigningCertificate(void** attribute)                          // 35
    { (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AttachSigningCertificate(IPKIObject* attribute)                  // 36
    { (void)attribute; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(37)                                                             // 37
    // The DSTU signer extension (IPKISignerExtension).
    virtual int HasSignerExtension(std::uint32_t* present)                       // 38
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetSignerExtension(void** extension)                             // 39
    { (void)extension; return PKI_E_NOT_IMPLEMENTED; }
    // Nonzero: the signer keeps its signing time and token among the
    // standard attributes (else in the DSTU signer extension).
    virtual int UsesStandardAttributes()                                         // 40
    { return PKI_E_NOT_IMPLEMENTED; }
    // UTC; PKI_E_ABSENT without a signing time.
    virtual int GetSigningTime(SYSTEMTIME* time)                                 // 41
    { (void)time; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetSigningTime(const SYSTEMTIME* time)                           // 42
    { (void)time; return PKI_E_NOT_IMPLEMENTED; }
    // Key kind as the time-stamp request reads it: 1 DSTU 4145, 2 RSA, 4 ECDSA.
    virtual int GetSigningKeyKind(std::uint32_t* kind)                           // 43
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // The time-stamp token the DSTU signer extension carries (content info).
    virtual int GetExtensionTimeStampToken(void** token)                         // 44
    { (void)token; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(45) PKI_RESERVED(46)                                            // 45-46
    virtual int HasTimeStampToken(std::uint32_t* present)                        // 47
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    // The signer's time-stamp token (content info).
    virtual int GetTimeStampToken(void** token)                                  // 48
    { (void)token; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AddTimeStampToken(IPKIObject* token)                             // 49
    { (void)token; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52)                           // 50-52
    // Adds a certificate to the signer's time-stamp request hashes.
    virtual int AddRequestHashCertificate(IPKIObject* certificate, std::uint32_t flag,
                                          std::uint32_t zero)                    // 53
    { (void)certificate; (void)flag; (void)zero; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(54)                                                             // 54
    // How many of those certificates already have a request.
    virtual int GetRequestHashCount(std::uint32_t* count)                        // 55
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(56)                                                             // 56
    // Takes a time-stamp request object (class 4921) for the signer.
    virtual int AddTimeStampRequest(IPKIObject* request)                         // 57
    { (void)request; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60)                           // 58-60
    // Adds a certificate to the signer's time-stamp request; none clears.
    virtual int AddRequestCertificate(IPKIObject* certificate)                   // 61
    { (void)certificate; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(62) PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65)          // 62-65
    PKI_RESERVED(66) PKI_RESERVED(67)                                            // 66-67
    // The source the signer's time-stamp request was built from.
    virtual int SetTimeStampSource(IPKIObject* source)                           // 68
    { (void)source; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(69)                                                             // 69
    // The signature value; a null value asks only for its length.
    virtual int GetSignatureValue(std::uint8_t* value, std::uint32_t* length)    // 70
    { (void)value; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetSignatureValue(const std::uint8_t* value, std::uint32_t length)  // 71
    { (void)value; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    // DSTU 4145 public keys are the 76-byte little-endian form with their
    // length and parameters object, as the certificate gives them; RSA key
    // data the two 600-byte fields of IPKICertificate slot 29 with the
    // modulus size, and the hash size in bits the signer is built with.
    // The DSTU 4145 public key (and its parameters) the signer is checked with.
    virtual int SetPublicKey(const std::uint8_t* key, std::uint32_t length,
                             IPKIObject* parameters)                             // 72
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetNumericValue(std::uint32_t value)                             // 73
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetFlag(std::uint32_t flag)                                      // 74
    { (void)flag; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 digest of the content, under the key's parameters.
    virtual int SetContentDigestGOST34311(const std::uint8_t* key, std::uint32_t length,
                                          IPKIObject* parameters, const PKIBlob* content) // 75
    { (void)key; (void)length; (void)parameters; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    // A 32-byte GOST 34.311 digest computed elsewhere.
    virtual int SetHashGOST34311(const std::uint8_t* hash)                       // 76
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(77) PKI_RESERVED(78)                                            // 77-78
    // Signs with a DSTU 4145 private key (little-endian) and its parameters.
    virtual int SignWithKey(const std::uint8_t* key, std::uint32_t length, IPKIObject* parameters)  // 79
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // Verification (0: the signature holds) over data, over the
    // encapsulated content, or over a 32-byte hash.
    virtual int VerifyData(const std::uint8_t* key, std::uint32_t length, IPKIObject* parameters,
                           const PKIBlob* data)                                  // 80
    { (void)key; (void)length; (void)parameters; (void)data; return PKI_E_NOT_IMPLEMENTED; }
    virtual int VerifyEncapsulated(const std::uint8_t* key, std::uint32_t length,
                                   IPKIObject* parameters)                       // 81
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    // Completes a signer whose flag was cleared.
    virtual int CompleteAfterFlag()                                              // 82
    { return PKI_E_NOT_IMPLEMENTED; }
    virtual int VerifyHashGOST34311(const std::uint8_t* key, std::uint32_t length,
                                    IPKIObject* parameters, const std::uint8_t* hash) // 83
    { (void)key; (void)length; (void)parameters; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetRSAKeyData(const std::uint8_t* fields, std::uint32_t keyBits,
                              std::uint32_t hashBits)                            // 84
    { (void)fields; (void)keyBits; (void)hashBits; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContentDigestRSA(const std::uint8_t* fields, std::uint32_t keyBits,
                                    std::uint32_t hashBits, const PKIBlob* content) // 85
    { (void)fields; (void)keyBits; (void)hashBits; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    // A hash of hashBits / 8 bytes computed elsewhere.
    virtual int SetHashRSA(const std::uint8_t* fields, std::uint32_t keyBits,
                           std::uint32_t hashBits, const std::uint8_t* hash)     // 86
    { (void)fields; (void)keyBits; (void)hashBits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(87) PKI_RESERVED(88)                                            // 87-88
    // Signs with an RSA private key (1,200 bytes) and its 8-byte profile.
    virtual int SignWithRSAKey(const std::uint8_t* privateKey, const std::uint8_t* profile)  // 89
    { (void)privateKey; (void)profile; return PKI_E_NOT_IMPLEMENTED; }
    virtual int VerifyDataRSA(const std::uint8_t* fields, std::uint32_t keyBits,
                              const PKIBlob* data)                               // 90
    { (void)fields; (void)keyBits; (void)data; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(91)                                                             // 91
    // Verifies against the hash given through slot 98.
    virtual int VerifyHashRSA(const std::uint8_t* fields, std::uint32_t keyBits) // 92
    { (void)fields; (void)keyBits; return PKI_E_NOT_IMPLEMENTED; }
    // The signer's key kind: 1 DSTU 4145, 2 RSA, 4 ECDSA.
    virtual int GetKeyKind(std::uint32_t* kind)                                  // 93
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // 0 while the signer still takes a value and flag.
    virtual int GetState()                                                       // 94
    { return PKI_E_NOT_IMPLEMENTED; }
    // The signer alone, encoded.
    virtual int EncodeSigner(PKIBlob* out)                                       // 95
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValue(const PKIBlob* value)                                   // 96
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashSize(std::uint32_t* bits)                                 // 97
    { (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    // The hash an RSA verification checks: as many bytes as the signer's
    // hash size (at most 64).
    virtual int SetVerifyHashRSA(const std::uint8_t* hash)                       // 98
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The version value a signer carries (library versions above 256).
    virtual int GetVersionValue(std::uint32_t* value)                            // 99
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // Takes the signing certificate's DSTU 4145 public key (its length and
    // parameters) and gives the value to be signed (the signed attributes'
    // hash) in a library-filled blob.
    virtual int PrepareSignature(const std::uint8_t* publicKey, std::uint32_t length, IPKIObject* parameters,
                                 PKIBlob* value)                                 // 100
    { (void)publicKey; (void)length; (void)parameters; (void)value; return PKI_E_NOT_IMPLEMENTED; }
protected:
    ~IPKISignerInfo() = default;
};

// Interface 4229 of a signer info: the signer's table continued with its
// ECDSA digest and verification (slot 97 is the signer's hash size).
class IPKISignerInfoECDSA : public IPKISignerInfo {
public:
    PKI_RESERVED(101)                                                            // 101
    PKI_RESERVED(102) PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105)      // 102-105
    virtual int SetKeySize(std::uint32_t bits)                                   // 106
    { (void)bits; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContent(std::uint32_t bits, const PKIBlob* content)           // 107
    { (void)bits; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetHash(std::uint32_t bits, const std::uint8_t* hash)            // 108
    { (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(109) PKI_RESERVED(110) PKI_RESERVED(111)                        // 109-111
    // The EC public key (152 bytes) and the curve record (540 bytes).
    virtual int VerifyContent(const std::uint8_t* publicKey, const std::uint8_t* record, const PKIBlob* content)// 112
    { (void)publicKey; (void)record; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(113)                                                            // 113
    virtual int VerifyHash(const std::uint8_t* publicKey, const std::uint8_t* record, const PKIBlob* hash)// 114
    { (void)publicKey; (void)record; (void)hash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerInfoECDSA() = default;
};

// Signer info with DSTU 7564 digests (class 4918, interface 4254, also a
// view of a signer): the signer's table continued. Hash kind 3 is DSTU 7564;
// sizes are in bytes.
class IPKISignerInfoDSTU7564 : public IPKISignerInfo {
public:
    PKI_RESERVED(101)                                                            // 101
    PKI_RESERVED(102) PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105)      // 102-105
    PKI_RESERVED(106) PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109)      // 106-109
    PKI_RESERVED(110) PKI_RESERVED(111) PKI_RESERVED(112) PKI_RESERVED(113)      // 110-113
    PKI_RESERVED(114) PKI_RESERVED(115) PKI_RESERVED(116) PKI_RESERVED(117)      // 114-117
    PKI_RESERVED(118) PKI_RESERVED(119) PKI_RESERVED(120) PKI_RESERVED(121)      // 118-121
    PKI_RESERVED(122)                                                            // 122
    virtual int GetHashKind(std::uint32_t* kind)                                 // 123
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(124)                                                            // 124
    virtual int SetHashKind(std::uint32_t kind, std::uint32_t bytes)             // 125
    { (void)kind; (void)bytes; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContent(std::uint32_t kind, std::uint32_t bytes, const PKIBlob* content)// 126
    { (void)kind; (void)bytes; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetHash(std::uint32_t kind, std::uint32_t bytes, const std::uint8_t* hash)// 127
    { (void)kind; (void)bytes; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(128) PKI_RESERVED(129)                                          // 128-129
    // Signs a DSTU 7564 hash of the kind and size with a key object.
    virtual int SignWithKeyObject(IPKIObject* key, std::uint32_t kind, std::uint32_t size)  // 130
    { (void)key; (void)kind; (void)size; return PKI_E_NOT_IMPLEMENTED; }
    virtual int VerifyContent(const std::uint8_t* publicKey, IPKIObject* parameters, const PKIBlob* content)// 131
    { (void)publicKey; (void)parameters; (void)content; return PKI_E_NOT_IMPLEMENTED; }
    virtual int VerifyHash(const std::uint8_t* publicKey, IPKIObject* parameters, const PKIBlob* hash)// 132
    { (void)publicKey; (void)parameters; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The DSTU 7564 hash size in bytes.
    virtual int GetHashBytes(std::uint32_t* bytes)                               // 133
    { (void)bytes; return PKI_E_NOT_IMPLEMENTED; }

    PKI_RESERVED(134)                                                            // 134
    // Signs the signer's hash with the three values the caller passes on.
    virtual int SignHash(void* first, void* second, void* third)                 // 135
    { (void)first; (void)second; (void)third; return PKI_E_NOT_IMPLEMENTED; }
    // Adds a certificate's hash of the kind and size to the request hashes.
    virtual int AddRequestHashCertificateDSTU7564(IPKIObject* certificate, std::uint32_t flag, std::uint32_t kind,
                                          std::uint32_t size)                    // 136
    { (void)certificate; (void)flag; (void)kind; (void)size; return PKI_E_NOT_IMPLEMENTED; }
protected:
    ~IPKISignerInfoDSTU7564() = default;
};

// The DSTU signer extension of a signer info (signer slot 39).
class IPKISignerExtension : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5)                              // 3-5
    // Whether the extension names this public key (0 yes).
    virtual int CheckPublicKey(const std::uint8_t* key, std::uint32_t length,
                               IPKIObject* parameters)                           // 6
    { (void)key; (void)length; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetSigningTime(SYSTEMTIME* time)                                 // 7
    { (void)time; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(8)                                                              // 8
    virtual int HasTimeStampToken(std::uint32_t* present)                        // 9
    { (void)present; return PKI_E_NOT_IMPLEMENTED; }
    // The token signer's name (into `capacity` wide characters, terminator
    // included; refused when it does not fit), 20-byte serial and time.
    virtual int GetTimeStampSigner(wchar_t* name, std::uint32_t capacity, std::uint8_t* serial,
                                   SYSTEMTIME* time)                             // 10
    { (void)name; (void)capacity; (void)serial; (void)time; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerExtension() = default;
};

// Signed attribute (class 4866, interface 4153): a type and a value in one
// of three forms.
class IPKISignedAttribute : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12)                                            // 11-12
    virtual int SetType(const char* oid)                                         // 13
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValueForm1(PKIBlob* value)                                    // 14
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValueForm1(const PKIBlob* value)                              // 15
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValueForm2(PKIBlob* value)                                    // 16
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValueForm2(const PKIBlob* value)                              // 17
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // The value as an encoded blob, library-allocated.
    virtual int GetEncodedValue(PKIBlob* value)                                  // 18
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValueForm3(const PKIBlob* value)                              // 19
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // The value as an encoded blob.
    virtual int SetEncodedValue(const PKIBlob* value)                            // 20
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignedAttribute() = default;
};

// Signing-certificate attribute (class 4919, interface 4192; 4253 for DSTU
// 7564 hashes): the hash, serial and issuer of the signer's certificate.
class IPKISigningCertificate : public IPKIObject {
public:
    virtual int GetEntryCount(std::uint32_t* count)                              // 3
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 form of entry `index` (32-byte hash) into an issuer
    // buffer of `capacity` wide characters (a name that does not fit is
    // refused); PKI_E_FAILURE when the entry is of the general form. `given`
    // tells whether the entry names an issuer and serial.
    virtual int GetEntryGOST34311(std::uint32_t index, wchar_t* issuer, std::uint32_t capacity,
                                  std::uint8_t* serial, std::uint32_t* given,
                                  std::uint8_t* hash)                            // 4
    { (void)index; (void)issuer; (void)capacity; (void)serial; (void)given; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // Entry `index` in the general form: the hash size in bits, the hash
    // (64 bytes at most), the issuer (PKIF_NAME_TEXT_BYTES wide characters at
    // most; empty when none is named) and the 20-byte serial.
    virtual int GetEntry(std::uint32_t index, std::uint32_t* bits, std::uint8_t* hash, wchar_t* issuer, std::uint8_t* serial)// 5
    { (void)index; (void)bits; (void)hash; (void)issuer; (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(6) PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9)              // 6-9
    // The certificate's GOST 34.311 hash under the key's parameters (32 bytes).
    virtual int HashCertificateGOST34311(IPKIObject* certificate, IPKIObject* parameters,
                                         std::uint8_t* hash)                     // 10
    { (void)certificate; (void)parameters; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashCertificate(IPKIObject* certificate, std::uint32_t bits, std::uint8_t* hash)// 11
    { (void)certificate; (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetEntryGOST34311(const std::uint8_t* hash, std::uint32_t withIdentity,
                                  IPKIObject* serial, const wchar_t* issuer)     // 12
    { (void)hash; (void)withIdentity; (void)serial; (void)issuer; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetEntry(const std::uint8_t* hash, std::uint32_t bits, std::uint32_t withIdentity, IPKIObject* serial, const wchar_t* issuer)// 13
    { (void)hash; (void)bits; (void)withIdentity; (void)serial; (void)issuer; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISigningCertificate() = default;
};

// Interface 4253 of a signing-certificate attribute: its DSTU 7564 entries.
class IPKISigningCertificateDSTU7564 : public IPKISigningCertificate {
public:
    PKI_RESERVED(14) PKI_RESERVED(15)                                            // 14-15
    virtual int SetEntryDSTU7564(std::uint32_t kind, const std::uint8_t* hash, std::uint32_t bytes, std::uint32_t withIdentity, IPKIObject* serial, const wchar_t* issuer)// 16
    { (void)kind; (void)hash; (void)bytes; (void)withIdentity; (void)serial; (void)issuer; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashCertificateDSTU7564(IPKIObject* certificate, std::uint32_t kind, std::uint32_t bytes, std::uint8_t* hash)// 17
    { (void)certificate; (void)kind; (void)bytes; (void)hash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISigningCertificateDSTU7564() = default;
};

// Interface 4249 of a signer info: the signer's table continued with the
// signing step that takes two values the caller passes on.
class IPKISignerInfoView4249 : public IPKISignerInfo {
public:
    PKI_RESERVED(101) PKI_RESERVED(102) PKI_RESERVED(103) PKI_RESERVED(104)      // 101-104
    PKI_RESERVED(105) PKI_RESERVED(106) PKI_RESERVED(107) PKI_RESERVED(108)      // 105-108
    PKI_RESERVED(109) PKI_RESERVED(110) PKI_RESERVED(111) PKI_RESERVED(112)      // 109-112
    PKI_RESERVED(113) PKI_RESERVED(114) PKI_RESERVED(115) PKI_RESERVED(116)      // 113-116
    PKI_RESERVED(117) PKI_RESERVED(118) PKI_RESERVED(119) PKI_RESERVED(120)      // 117-120
    PKI_RESERVED(121)                                                            // 121
    virtual int SignWith(void* first, void* second)                              // 122
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerInfoView4249() = default;
};

// Hash-typed certificate identifiers (ESS certificate identifier lists, and
// their entries). Codes are the hash-algorithm codes 1 to 9; code 0 carries
// no hash type. Hashes are 64 bytes at most.
class IPKICertificateIdentifiers : public IPKIObject {
public:
    virtual int GetCount(std::uint32_t* count)                                   // 3
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // An entry's own code and hash (codes 1, 2 to 6).
    virtual int GetEntryCode(std::uint32_t* code)                                // 4
    { (void)code; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetEntryHashGOST34311(std::uint8_t* hash)                        // 5
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetEntryHashSHA(std::uint8_t* hash)                              // 6
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    virtual int SetIdentity(std::uint32_t index, const wchar_t* issuer, IPKIObject* serial)// 11
    { (void)index; (void)issuer; (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15)          // 12-15
    PKI_RESERVED(16) PKI_RESERVED(17)                                            // 16-17
    virtual int GetCode(std::uint32_t index, std::uint32_t* code)                // 18
    { (void)index; (void)code; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashGOST34311(std::uint32_t index, std::uint8_t* hash)        // 19
    { (void)index; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashSHA(std::uint32_t index, std::uint8_t* hash)              // 20
    { (void)index; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24)          // 21-24
    PKI_RESERVED(25) PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28)          // 25-28
    // An entry's certificate hash, computed for matching.
    virtual int HashEntryGOST34311(IPKIObject* certificate, const std::uint8_t* sBox, std::uint8_t* hash)// 29
    { (void)certificate; (void)sBox; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashEntrySHA(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 30
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The certificate's hash by code, older and newer forms (version above 265).
    virtual int HashGOST34311(IPKIObject* certificate, const std::uint8_t* sBox, std::uint8_t* hash)// 31
    { (void)certificate; (void)sBox; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashSHA(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 32
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashGOST34311Ex(IPKIObject* certificate, const std::uint8_t* sBox, std::uint8_t* hash)// 33
    { (void)certificate; (void)sBox; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashSHAEx(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 34
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertificateIdentifiers() = default;
};

// Interface 4256 of an identifier list or entry: its DSTU 7564 hashes (codes
// 7 to 9).
class IPKICertificateIdentifiersDSTU7564 : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    virtual int GetEntryHash(std::uint8_t* hash)                                 // 35
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(36)                                                             // 36
    virtual int GetHash(std::uint32_t index, std::uint8_t* hash)                 // 37
    { (void)index; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(38)                                                             // 38
    virtual int HashEntry(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 39
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(40)                                                             // 40
    virtual int Hash(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 41
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertificateIdentifiersDSTU7564() = default;
};

// Interface 4255 of a signed-data object: its signing-certificate list. Slots
// 3 and 11 are those of IPKICertificateIdentifiers.
class IPKISigningCertificateList : public IPKIObject {
public:
    virtual int GetCount(std::uint32_t* count)                                   // 3
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6) PKI_RESERVED(7)              // 4-7
    PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)                             // 8-10
    virtual int SetIdentity(std::uint32_t index, const wchar_t* issuer, IPKIObject* serial)// 11
    { (void)index; (void)issuer; (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15)          // 12-15
    PKI_RESERVED(16) PKI_RESERVED(17)                                            // 16-17
    virtual int AddEntry(std::uint32_t code, const std::uint8_t* hash)           // 18
    { (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HashCertificate(IPKIObject* certificate, std::uint32_t code, std::uint8_t* hash)// 19
    { (void)certificate; (void)code; (void)hash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISigningCertificateList() = default;
};

// Interface 4267 of an object: one value.
class IPKIObjectValue4267 : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67)                                                             // 67
    virtual int GetValue(std::uint32_t* value)                                   // 68
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIObjectValue4267() = default;
};

// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// GOST 28147 parameters (class 4932, interface 4210): an explicit S-box or
// a reference naming one by OID.
enum PKIGOST28147ParametersKind : std::uint32_t {
    PKI_GOST28147_SBOX = 1,      // the 64-byte packed S-box
    PKI_GOST28147_REFERENCE = 2  // an OID naming the S-box
};
class IPKIGOST28147Parameters : public IPKIObject {
public:
    // kind out; sBox (64 bytes, may be null) filled for an S-box; reference
    // (may be null) gets the dotted OID and its terminator when it fits in
    // referenceBytes. PKI_E_NOT_SET while empty.
    virtual int GetParameters(std::uint32_t* kind, std::uint8_t* sBox, char* reference,
                              std::uint32_t referenceBytes) = 0;  // 3
    // Exactly one of sBox (64 bytes) and reference (dotted OID) is given.
    virtual int SetParameters(const std::uint8_t* sBox, const char* reference) = 0;  // 4

protected:
    ~IPKIGOST28147Parameters() = default;
};

// clang-format off
// ---- Time stamps, signer signing and recipients ----
enum : std::uint32_t {
    PKI_CLASS_TS_REQUEST = 4921,
    PKI_IID_TS_REQUEST = 4198,
    PKI_IID_TS_REQUEST_IMPRINT = 4259,  // a request's long-imprint view
    PKI_CLASS_TS_INFO = 4904,
    PKI_IID_TS_INFO = 4141,
    PKI_IID_TS_INFO_IMPRINT = 4260,     // time-stamp information's long-imprint view
    PKI_SIGNER_NAME_CHARS = 512         // wide characters, terminator included
};

// A signer's identifier: form 1 issuer name and serial, form 2 a 32-byte key
// identifier, any other form a 20-byte key identifier (flag picks which
// 20-byte reading of a certificate it is).
struct PKISignerIdentifier {
    std::uint32_t form;
    wchar_t name[PKI_SIGNER_NAME_CHARS];
    std::uint32_t flag;
    std::uint8_t serial[20];
    std::uint8_t keyIdentifier[32];
};

// A signer info (class 4918, interface 4193) as the time-stamp request reads
// it: slot 47 as the signer's key object, where the signed-data operations
// read the token's presence (IPKISignerInfo). Slots 22 and 43 read as there.
class IPKISignerInfoTimeStampSource : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21)                           // 19-21
    // The digest algorithm OID as dotted text, terminator included.
    virtual int GetDigestOID(PKIBlob* oid)                                       // 22
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    // Key kind: 1 DSTU 4145, 2 RSA, 4 ECDSA.
    virtual int GetKeyKind(std::uint32_t* kind)                                  // 43
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)                           // 44-46
    // The signer's key object.
    virtual int GetKey(void** key)                                               // 47
    { (void)key; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerInfoTimeStampSource() = default;
};

// Time-stamp request (class 4921, interface 4198).
class IPKITimeStampRequest : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(4)                                                              // 4
    // Imprint kind: 1 GOST 34.311, 2 SHA, 3 a long imprint (interface 4259).
    virtual int GetImprintKind(std::uint32_t* kind)                              // 5
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // A GOST 34.311 imprint: 32 bytes; *length its byte count.
    virtual int GetImprintGOST(std::uint8_t* imprint, std::uint32_t* length)     // 6
    { (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(7)                                                              // 7
    // A SHA imprint (up to 64 bytes); *length its byte count.
    virtual int GetImprintSHA(std::uint8_t* imprint, std::uint32_t* length)      // 8
    { (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(9)                                                              // 9
    // The nonce: with a null buffer only *length is set.
    virtual int GetNonce(std::uint8_t* nonce, std::uint32_t* length)             // 10
    { (void)nonce; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15)                                                             // 15
    virtual int GetSecondValue(std::uint32_t* value)                             // 16
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)          // 17-20
    PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23)                           // 21-23
    // Takes the key algorithm of a signer's key object.
    virtual int SetKeyAlgorithm(IPKIObject* key)                                 // 24
    { (void)key; return PKI_E_NOT_IMPLEMENTED; }
    // The imprint from a computed hash: DSTU 4145 family under the S-box
    // (64 bytes), RSA or ECDSA family.
    virtual int BuildImprintGOST(const std::uint8_t* sBox)                       // 25
    { (void)sBox; return PKI_E_NOT_IMPLEMENTED; }
    virtual int BuildImprintSHA()                                                // 26
    { return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    // Filling from a signer: the older (31, 32) and newer (33, 34) forms.
    virtual int FillFromSignerDSTU4145Old(IPKIObject* signer, const char* digestOid)  // 31
    { (void)signer; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int FillFromSignerIntlOld(IPKIObject* signer, const char* digestOid)      // 32
    { (void)signer; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int FillFromSignerDSTU4145(IPKIObject* signer, const char* digestOid)     // 33
    { (void)signer; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int FillFromSignerIntl(IPKIObject* signer, const char* digestOid)         // 34
    { (void)signer; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKITimeStampRequest() = default;
};

// Interface 4259 of a time-stamp request: a long (DSTU 7564) imprint.
class IPKITimeStampRequestImprint : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    // The imprint (up to 64 bytes); *length its byte count.
    virtual int GetLongImprint(std::uint8_t* imprint, std::uint32_t* length)     // 35
    { (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKITimeStampRequestImprint() = default;
};

// Interface 4260 of time-stamp information: a long (DSTU 7564) imprint.
class IPKITimeStampInfoImprint : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39)                                                             // 39
    virtual int SetLongImprint(std::uint32_t kind, const std::uint8_t* imprint,
                               std::uint32_t length)                             // 40
    { (void)kind; (void)imprint; (void)length; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKITimeStampInfoImprint() = default;
};

// Interface 4256 of a time-stamp request (class 4921): filled from a signer
// with a hash-algorithm code (1 GOST 34.311, 2-6 SHA, 7-9 DSTU 7564).
enum : std::uint32_t { PKI_IID_TS_REQUEST_BY_HASH = 4256, PKI_IID_SIGNER_HASH_CODE = 4258 };
class IPKITimeStampRequestByHash : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23)                                                             // 23
    // Takes the algorithm of the signer's key object.
    virtual int SetKeyAlgorithm(IPKIObject* key)                                 // 24
    { (void)key; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 imprint under the S-box (64 packed bytes).
    virtual int BuildImprintGOST(IPKIObject* none, const std::uint8_t* sBox)     // 25
    { (void)none; (void)sBox; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)          // 26-29
    PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32)                           // 30-32
    virtual int FillGOST(IPKIObject* source, std::uint32_t code, const char* digestOid)  // 33
    { (void)source; (void)code; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37)          // 34-37
    virtual int BuildImprintCoded(IPKIObject* none, std::uint32_t code, const char* digestOid)  // 38
    { (void)none; (void)code; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(39) PKI_RESERVED(40)                                            // 39-40
    virtual int FillCoded(IPKIObject* source, std::uint32_t code, const char* digestOid)  // 41
    { (void)source; (void)code; (void)digestOid; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKITimeStampRequestByHash() = default;
};

// Interface 4258 of a signer: the hash-algorithm code of its key parameters.
class IPKISignerHashCode : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53)                           // 51-53
    virtual int GetHashCode(std::uint32_t* code)                                 // 54
    { (void)code; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerHashCode() = default;
};

// ---- Content types, signed attributes and recipients ----

// Content information (4879 / 4113) as a message of a known format: its
// kind (3 plain, 4 to 7 padded to a block), content and content type.
class IPKIContentInfoForms : public IPKIContentInfo {
public:
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12)                                            // 11-12
    // The content that slot 63 took, library-allocated.
    virtual int GetContentBlob(PKIBlob* content)                                 // 13
    { (void)content; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17)          // 14-17
    PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21)          // 18-21
    PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25)          // 22-25
    PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)          // 26-29
    PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33)          // 30-33
    // The content type as dotted text, terminator included.
    virtual int GetContentTypeText(PKIBlob* oid)                                 // 34
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(35) PKI_RESERVED(36)                                            // 35-36
    virtual int Open(const PKIBlob* encoded)                                     // 37
    { (void)encoded; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41)          // 38-41
    PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45)          // 42-45
    PKI_RESERVED(46) PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49)          // 46-49
    PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53)          // 50-53
    PKI_RESERVED(54) PKI_RESERVED(55) PKI_RESERVED(56)                           // 54-56
    virtual int GetFormatKind(std::uint32_t* kind)                               // 57
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61)          // 58-61
    PKI_RESERVED(62)                                                             // 62
    virtual int Load(const PKIBlob* encoded)                                     // 63
    { (void)encoded; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(64)                                                             // 64
    virtual int SetVersionNumber(std::uint32_t value)                            // 65
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIContentInfoForms() = default;
};

// Enveloped data (4883 / 4117) as a data content takes its content type.
class IPKIEnvelopedContentType : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    virtual int SetContentType(const char* oid)                                  // 35
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIEnvelopedContentType() = default;
};

// A recipient's identifier (form 1 issuer and 20-byte serial, form 2 a
// 32-byte key identifier).
struct PKIRecipientIdentifier {
    std::uint32_t form;
    wchar_t name[PKI_SIGNER_NAME_CHARS];
    std::uint8_t serial[20];
    std::uint8_t keyIdentifier[32];
};

// A recipient entry: a key-transport identifier (slot 54) or the keys of a
// key-agreement entry (slots 7, 8, 13), and its agreement key (slot 49).
class IPKIRecipientEntry : public IPKIObject {
public:
    // Of a key-transport identifier object.
    virtual int ReadIdentifier(PKIRecipientIdentifier* identifier)               // 3
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)                              // 4-6
    virtual int GetKeyCount(std::uint32_t* count)                                // 7
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetKey(std::uint32_t index, PKIRecipientIdentifier* identifier)  // 8
    { (void)index; (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(9) PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)           // 9-12
    virtual int RemoveKey(std::uint32_t index)                                   // 13
    { (void)index; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17)          // 14-17
    PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21)          // 18-21
    PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25)          // 22-25
    PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29)          // 26-29
    PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33)          // 30-33
    PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37)          // 34-37
    PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41)          // 38-41
    PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45)          // 42-45
    PKI_RESERVED(46) PKI_RESERVED(47) PKI_RESERVED(48)                           // 46-48
    // The key-agreement value (76 bytes, its size; size 0: none) of kind 4,
    // with the certificate's issuer and serial.
    virtual int SetAgreementKey(const std::uint8_t* value, std::uint32_t size, std::uint32_t kind,
                                const wchar_t* issuer, const PKIBlob* serial)   // 49
    { (void)value; (void)size; (void)kind; (void)issuer; (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53)          // 50-53
    virtual int GetTransportIdentifier(void** identifier)                       // 54
    { (void)identifier; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRecipientEntry() = default;
};

// Enveloped data (and its builder) as a list of recipient entries (kind 1
// key transport, 2 key agreement).
class IPKIEnvelopedRecipients : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    virtual int GetRecipientCount(std::uint32_t* count)                          // 27
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Entry `index` as a key-agreement entry.
    virtual int GetAgreementEntry(std::uint32_t index, void** entry)             // 28
    { (void)index; (void)entry; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(29) PKI_RESERVED(30) PKI_RESERVED(31)                           // 29-31
    virtual int RemoveRecipient(std::uint32_t index)                             // 32
    { (void)index; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36)          // 33-36
    PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40)          // 37-40
    PKI_RESERVED(41) PKI_RESERVED(42) PKI_RESERVED(43) PKI_RESERVED(44)          // 41-44
    PKI_RESERVED(45) PKI_RESERVED(46) PKI_RESERVED(47) PKI_RESERVED(48)          // 45-48
    PKI_RESERVED(49) PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52)          // 49-52
    // Entry `index` and its kind.
    virtual int GetRecipientEntry(std::uint32_t index, std::uint32_t* kind, void** entry)  // 53
    { (void)index; (void)kind; (void)entry; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(54) PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57)          // 54-57
    PKI_RESERVED(58) PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61)          // 58-61
    PKI_RESERVED(62) PKI_RESERVED(63)                                            // 62-63
    // Adds a recipient by issuer and serial and/or key identifier (each may
    // be null).
    virtual int AddRecipient(const wchar_t* issuer, const PKIBlob* serial, const std::uint8_t* keyIdentifier,
                             std::uint32_t value)                                // 64
    { (void)issuer; (void)serial; (void)keyIdentifier; (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIEnvelopedRecipients() = default;
};

// Interface 4247 of a signer: signing with a key object where the hash
// length follows the key.
enum : std::uint32_t { PKI_IID_SIGNER_HASH_LENGTH = 4247, PKI_CLASS_GENERIC_HOLDER = 4940 };
class IPKISignerHashLength : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)          // 67-70
    PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)          // 71-74
    PKI_RESERVED(75) PKI_RESERVED(76) PKI_RESERVED(77) PKI_RESERVED(78)          // 75-78
    PKI_RESERVED(79) PKI_RESERVED(80) PKI_RESERVED(81) PKI_RESERVED(82)          // 79-82
    PKI_RESERVED(83) PKI_RESERVED(84) PKI_RESERVED(85) PKI_RESERVED(86)          // 83-86
    PKI_RESERVED(87) PKI_RESERVED(88) PKI_RESERVED(89) PKI_RESERVED(90)          // 87-90
    PKI_RESERVED(91) PKI_RESERVED(92) PKI_RESERVED(93) PKI_RESERVED(94)          // 91-94
    PKI_RESERVED(95) PKI_RESERVED(96) PKI_RESERVED(97) PKI_RESERVED(98)          // 95-98
    PKI_RESERVED(99) PKI_RESERVED(100) PKI_RESERVED(101) PKI_RESERVED(102)       // 99-102
    PKI_RESERVED(103) PKI_RESERVED(104) PKI_RESERVED(105) PKI_RESERVED(106)      // 103-106
    PKI_RESERVED(107) PKI_RESERVED(108) PKI_RESERVED(109) PKI_RESERVED(110)      // 107-110
    PKI_RESERVED(111) PKI_RESERVED(112) PKI_RESERVED(113) PKI_RESERVED(114)      // 111-114
    PKI_RESERVED(115) PKI_RESERVED(116)                                          // 115-116
    virtual int SignRSA(IPKIObject* key)                                         // 117
    { (void)key; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKISignerHashLength() = default;
};
// clang-format on

// Holder profiles: the slots the certificate, request and library calls of
// holder types, subject identifiers and directory attributes use.
// clang-format off
#define QVK_PKI_PROFILE_SLOTS(X)                         \
    X(IPKIInterface, 20, ConvertTaxNumber)               \
    X(IPKIInterface, 29, GetNameAttributeText)           \
    X(IPKIInterface, 30, SetNameAttributeText)           \
    X(IPKIInterface, 31, SetNameAttributePair)           \
    X(IPKIKey, 4, Decode)                                \
    X(IPKICertificate, 4, Decode)                        \
    X(IPKICertificate, 15, GetValidity)                  \
    X(IPKICertificate, 19, GetSubject)                   \
    X(IPKICertificate, 23, GetKeyKind)                   \
    X(IPKICertificate, 53, GetBasicConstraints)          \
    X(IPKICertificate, 56, GetAttributeList)             \
    X(IPKICertificate, 61, GetPolicyList)                \
    X(IPKICertificate, 71, GetExtKeyUsages)              \
    X(IPKICertificate, 77, GetSubjectDirectoryAttributes) \
    X(IPKICertificate, 86, GetKeyUsagePeriod)            \
    X(IPKICertificate, 100, GetInnerCertificate)         \
    X(IPKICertificate, 103, GetRSAView)                  \
    X(IPKIRequest, 9, GetSubject)                        \
    X(IPKIRequest, 82, GetDirectoryAttributes)           \
    X(IPKIBasicConstraints, 3, GetCA)                    \
    X(IPKIBasicConstraints, 4, GetPathLength)            \
    X(IPKIOIDList, 3, GetCount)                          \
    X(IPKIOIDList, 4, GetOID)                            \
    X(IPKIDirectoryAttributes, 48, ReadValues)           \
    X(IPKIAttributeValues, 11, GetValueText)
// clang-format on

// The shared slot table: (interface, slot, operation) for every operation of
// the object model that the facade calls. The slot tests walk it, the test
// double implements exactly these, and the stand-in library implements the
// interface-object rows and those of the classes it makes.
// clang-format off
#define QVK_PKI_OBJECT_MODEL_SLOTS(X)                    \
    X(IPKIObject, 1, Release)                            \
    X(IPKIObject, 2, QueryInterface)                     \
    X(IPKIInterface, 3, GetVersion)                      \
    X(IPKIInterface, 4, SetCSP)                          \
    X(IPKIInterface, 6, AllocateBlob)                    \
    X(IPKIInterface, 7, FreeBlob)                        \
    X(IPKIInterface, 8, TextToWide)                      \
    X(IPKIInterface, 9, WideToText)                      \
    X(IPKIInterface, 10, CreateObject)                   \
    X(IPKIInterface, 13, ReadNameRecord)                 \
    X(IPKIInterface, 14, ComposeName)                    \
    X(IPKIInterface, 15, HashNameGOST34311)              \
    X(IPKIInterface, 16, HashNameSHA)                    \
    X(IPKIInterface, 33, HasOptionA)                     \
    X(IPKIInterface, 34, HasOptionB)                     \
    X(IPKICertificate, 76, GetPolicies)                  \
    X(IPKIRequest, 4, Decode)                            \
    X(IPKIRequest, 13, GetKeyKind)                       \
    X(IPKIPolicies, 3, GetFirstPolicy)                   \
    X(IPKIKeyContextDSTU4145, 4, GetContextFlags)        \
    X(IPKIKeyContextDSTU4145, 5, GetContext)             \
    X(IPKIKeyContextIntl, 8, GetContextFlags)            \
    X(IPKIKeyContextIntl, 9, GetContext)                 \
    QVK_PKI_PROFILE_SLOTS(X)                         \
    QVK_PKI_OBJECT_MODEL_SLOTS_LISTS(X)
// clang-format on

// The slots of the key-identified and common-key requests.
// clang-format off
#define QVK_PKI_REQUEST_MODEL_SLOTS(X)                   \
    X(IPKIRequest, 18, SetSubject)                       \
    X(IPKIRequest, 19, SetPublicKey)                     \
    X(IPKIRequest, 35, SetSubjectName)                   \
    X(IPKIRequest, 62, AddExtension)                     \
    X(IPKIRequest, 89, SetKeyIdentifier)                 \
    X(IPKIRequestEC, 62, AddExtension)                   \
    X(IPKIRequestEC, 89, SetKeyIdentifier)               \
    X(IPKIRequestEC, 100, SetSignatureAlgorithm)         \
    X(IPKIRequestEC, 103, SetPublicKey)                  \
    X(IPKIRequestHash, 106, SetSignatureAlgorithm)       \
    X(IPKIRequestSigning, 111, SetNameText)              \
    X(IPKIRequestSigning, 112, SetNameTextDSTU4145)      \
    X(IPKIExtKeyUsage, 5, SetUsages)                     \
    X(IPKINamedCurveSelector, 52, SelectNamedCurve)      \
    X(IPKIKeyExportEC, 55, GetKeyIdentifier)             \
    X(IPKIECParametersForm4, 48, WriteEC)
// clang-format on

// The slots of the hash-signature and public-key block above, checked as the
// shared table is.
// clang-format off
#define QVK_PKI_KEY_MODEL_SLOTS(X)                       \
    X(IPKISignatureValue, 3, GetDSTU4145)                \
    X(IPKISignatureValue, 4, SetDSTU4145)                \
    X(IPKISignatureValue, 5, GetRSA)                     \
    X(IPKISignatureValue, 6, SetRSA)                     \
    X(IPKISignatureValue, 7, GetECDSA)                   \
    X(IPKISignatureValue, 8, SetECDSA)                   \
    X(IPKIKeyObject, 5, GetCapabilities)                 \
    X(IPKIKeyObject, 7, GetKeyValue)                     \
    X(IPKIKeyObject, 9, GetRSAKey)                       \
    X(IPKIKeyExportEC, 52, GetECCapabilities)            \
    X(IPKIKeyExportEC, 53, ReadECKey)                    \
    X(IPKIKeyExportEC, 54, WriteECKey)                   \
    X(IPKIKeyExportEC, 56, SetKeyIdentifier)             \
    X(IPKIAttribute, 6, SetValue)                        \
    X(IPKIRequestEC, 3, Encode)                          \
    X(IPKIRequestEC, 4, Decode)                          \
    X(IPKIRequestEC, 13, GetKeyKind)                     \
    X(IPKIRequestEC, 16, GetDSTU4145PublicKey)           \
    X(IPKIRequestEC, 101, SetSignature)                  \
    X(IPKIRequestEC, 102, GetECValue)                    \
    X(IPKIRequestEC, 104, SetECRecord)                   \
    X(IPKIRequestEC, 105, NormalizeECRecord)             \
    X(IPKICertificateECKeys, 107, SetECPair)             \
    X(IPKICertificateECKeys, 108, SetECRecord)           \
    X(IPKICertificateECKeys, 109, CopyEC)                \
    X(IPKICertificateECKeys, 110, SetECValue)            \
    X(IPKIECParametersForm3, 56, SetECRecord)            \
    X(IPKIECParametersForm3, 57, CopyEC)                 \
    X(IPKIECParametersForm4, 49, CopyEC)                 \
    X(IPKICertificateECKeys, 106, GetECValue)            \
    X(IPKICertificateECKeys, 112, GetInnerECCertificate) \
    X(IPKIRequestKeys, 15, GetRSAPublicKey)              \
    X(IPKIRequestKeys, 16, GetDSTU4145PublicKey)         \
    X(IPKIRequestKeys, 88, GetKeyIdentifier)             \
    X(IPKISigned, 24, GetSignatureFamily)                \
    X(IPKISignedHash, 114, GetHashCode)                  \
    X(IPKIRequestHash, 108, GetHashCode)                 \
    X(IPKIInterface, 17, KeyIdentifier)                  \
    X(IPKIInterface, 18, KeyIdentifierWithSBox)          \
    X(IPKIInterface, 28, PublicKeyIdentifier)            \
    X(IPKIInterface, 37, KeyIdentifierDSTU7564)          \
    X(IPKIKeySet, 58, SetValue)                          \
    X(IPKIKeySet, 59, GetValue)                          \
    X(IPKIKeySet, 60, RemoveValue)                       \
    X(IPKICodec, 3, Encode)                              \
    X(IPKICodec, 4, Decode)                              \
    X(IPKICodec, 5, Attach)                              \
    X(IPKIParameters, 3, GetFlag)                        \
    X(IPKIParameters, 5, GetParameters)                  \
    X(IPKIParameters, 6, GetValues)                      \
    X(IPKIAttribute, 3, GetValue)                        \
    QVK_PKI_REQUEST_MODEL_SLOTS(X)
// clang-format on

// The view of a key container (and of a certificate list) that holds its
// keys (kind 0) and certificates (kind 1).
enum : std::uint32_t { PKI_IID_KEY_LIST = 4209, PKI_KEY_LIST_KEYS = 0, PKI_KEY_LIST_CERTIFICATES = 1 };

// The numbered value of a decrypted key (read through its key set view,
// 4233) whose presence marks a key that is not handed out in a container of
// its own.
enum : std::uint32_t { PKI_KEYSET_KEY_ATTRIBUTE = 4363 };

// Key containers and key identifiers: the key list of a container (kind 0
// of interface 4209) and the key identifier objects of a key.
// clang-format off
#define QVK_PKI_KEY_CONTAINER_SLOTS(X)                   \
    X(IPKICertificateListView, 46, GetCertificateCount)  \
    X(IPKICertificateListView, 49, GetKeyEntry)          \
    X(IPKIKeyObject, 11, GetSignatureKeyIdentifier)      \
    X(IPKIKeyObject, 31, GetAgreementKeyIdentifier)      \
    X(IPKIKeyObject, 39, GetRSAKeyIdentifier)            \
    X(IPKIKeyObject, 7, GetKeyValue)                     \
    X(IPKIKeyObject, 8, SetKeyValue)                     \
    X(IPKIKey, 7, GetKeyValue)                           \
    X(IPKIKey, 8, SetKeyValue)                           \
    X(IPKIKeyObject, 12, SetSignatureKeyIdentifier)      \
    X(IPKIKeyObject, 44, SetSBox)                        \
    X(IPKIKey, 44, SetSBox)                              \
    X(IPKIKeySet, 47, AddKey)                            \
    X(IPKIKeySet, 59, GetValue)                          \
    X(IPKIPrivateKey, 3, Encode)                         \
    X(IPKIPrivateKey, 4, Decode)                         \
    X(IPKIPrivateKey, 5, SetKey)                         \
    X(IPKIPrivateKey, 6, Open)                           \
    X(IPKIPrivateKey, 7, OpenConverted)                  \
    X(IPKIPrivateKey, 12, SetFormat)                     \
    X(IPKIKeyObject, 4, Decode)                          \
    X(IPKIKey, 4, Decode)
// clang-format on

// PKCS#12 bags. A PFX (class 4931, IPKIKeyContainer) holds entry lists
// (class 4930, IPKIEntryList) as its items. A key bag's entries are encrypted
// private keys (4882/4116); a certificate bag's entries are certificates
// (interface PKI_IID_CERTIFICATE), added through the same slot 7 with an
// optional attribute (an IPKIAttribute) holding the local key identifier that
// ties the certificate to its key. The kind of a bag is told by the interface
// its entries offer; slot 6 hands each entry out with its attribute's bytes.
// clang-format off
#define QVK_PKI_PFX_BAG_SLOTS(X)                         \
    X(IPKIKeyContainer, 3, Encode)                       \
    X(IPKIKeyContainer, 5, GetItemCount)                 \
    X(IPKIKeyContainer, 6, GetItem)                      \
    X(IPKIKeyContainer, 7, AddItem)                      \
    X(IPKIKeyContainer, 15, SetPassword)                 \
    X(IPKIKeyContainer, 20, SetProtectionValue)          \
    X(IPKIEntryList, 5, GetEntryCount)                   \
    X(IPKIEntryList, 6, GetEntry)                        \
    X(IPKIEntryList, 7, AddEntry)                        \
    X(IPKICertificateListView, 47, AddCertificate)       \
    X(IPKICertificateListView, 48, GetCertificate)       \
    X(IPKICertificateListView, 50, SetKeyCertificate)    \
    X(IPKIKeyObject, 37, CheckIncompleteKeys)
// clang-format on

// Certificate lists, extension lists, views and time-stamp objects.
// clang-format off
#define QVK_PKI_OBJECT_MODEL_SLOTS_LISTS(X)              \
    X(IPKICertificate, 9, GetIssuerText)                 \
    X(IPKICertificate, 65, GetAgreementParameters)       \
    X(IPKIRequest, 67, GetRequestedKeyUsage)             \
    X(IPKIRequest, 88, GetKeyIdentifier)                 \
    X(IPKIEncoded, 3, Encode)                            \
    X(IPKIEncoded, 4, Decode)                            \
    X(IPKICertificateList, 5, GetCount)                  \
    X(IPKICertificateList, 6, GetEntry)                  \
    X(IPKICertificateListView, 46, GetCertificateCount)  \
    X(IPKICertificateListView, 48, GetCertificate)       \
    X(IPKIExtensionList, 4, Decode)                      \
    X(IPKIExtensionList, 9, Add)                         \
    X(IPKIKeyUsagePeriodExtension, 36, SetPeriod)        \
    X(IPKIExtensionFlagView, 117, SetPair)               \
    X(IPKIExtensionFlagView, 118, SetFlag)               \
    X(IPKIExtensionFlagView, 119, GetFlag)               \
    X(IPKITimeStampToken, 16, GetContentType)            \
    X(IPKITimeStampToken, 18, GetContent)                \
    X(IPKITimeStampInfo, 12, GetPartA)                   \
    X(IPKITimeStampInfo, 14, GetPartB)                   \
    X(IPKIItem50, 50, GetItem)                           \
    X(IPKICertificate, 89, GetQCStatements)              \
    X(IPKIRequest, 73, GetQCStatements)                  \
    X(IPKIStatements, 11, GetFlagA)                      \
    X(IPKIStatements, 14, GetFlagB)                      \
    X(IPKIStatements, 17, GetTextFlag)                   \
    X(IPKIStatements, 18, GetText)                       \
    X(IPKIVersionValue, 99, SetVersionValue)             \
    X(IPKICertificateNamePairView, 109, SetNamePair)     \
    X(IPKICertificateNamePairView, 110, SetNamePairSwapped) \
    X(IPKICertificateValuePairView, 116, SetValuePair)   \
    X(IPKISignerPolicyView, 51, SetPolicyKey)            \
    X(IPKISignerKey, 41, SetKey)                         \
    X(IPKIKeySource, 9, GetKey)                          \
    X(IPKISignedDataCertificates, 7, AddCertificate)     \
    X(IPKICertificate, 59, GetCRLDistributionPoints)     \
    X(IPKIRequest, 61, GetStatementList)                 \
    X(IPKICertificate, 62, GetFreshestCRLPoints)         \
    X(IPKIDistributionPoints, 5, GetCount)               \
    X(IPKIDistributionPoints, 6, GetLocation)            \
    X(IPKIStatementList, 4, Add)                         \
    X(IPKIRequest, 15, GetRSAPublicKey)                  \
    X(IPKIRequest, 16, GetDSTU4145PublicKey)             \
    X(IPKIKeyUsagePeriod, 3, GetPeriod)                  \
    X(IPKISignedObject, 6, VerifyDSTU4145)
// clang-format on

// The slots of the CMS signer block above, checked as the shared table is.
// clang-format off
#define QVK_PKI_CMS_SIGNER_SLOTS(X)                 \
    X(IPKISignedDataSigners, 10, GetSignerCount)    \
    X(IPKISignedDataSigners, 11, GetSigner)         \
    X(IPKISignedDataSigners, 12, AddSigner)         \
    X(IPKISignedDataSigners, 15, HasContent)        \
    X(IPKISignedDataSigners, 16, GetContentType)    \
    X(IPKISignedDataSigners, 17, SetContentType)    \
    X(IPKISignedDataSigners, 18, GetContent)        \
    X(IPKISignedDataSigners, 19, SetContent)        \
    X(IPKISignedDataSigners, 21, GetDigestAlgorithmCount)\
    X(IPKISignedDataSigners, 22, GetDigestAlgorithm)\
    X(IPKISignedDataSigners, 23, AddDigestAlgorithm)\
    X(IPKISignerInfo, 4, SetIdentifier)             \
    X(IPKISignerInfo, 8, GetAttribute)              \
    X(IPKISignerInfo, 9, HasFeature)                \
    X(IPKISignerInfo, 10, CountAttributes)          \
    X(IPKISignerInfo, 13, AddAttribute)             \
    X(IPKISignerInfo, 30, SetContentType)           \
    X(IPKISignerInfo, 32, GetSignatureValueHash)    \
    X(IPKISignerInfo, 35, GetSigningCertificate)    \
    X(IPKISignerInfo, 36, AttachSigningCertificate) \
    X(IPKISignerInfo, 38, HasSignerExtension)       \
    X(IPKISignerInfo, 39, GetSignerExtension)       \
    X(IPKISignerInfo, 40, UsesStandardAttributes)   \
    X(IPKISignerInfo, 41, GetSigningTime)           \
    X(IPKISignerInfo, 42, SetSigningTime)           \
    X(IPKISignerInfo, 44, GetExtensionTimeStampToken)\
    X(IPKISignerInfo, 47, HasTimeStampToken)        \
    X(IPKISignerInfo, 48, GetTimeStampToken)        \
    X(IPKISignerInfo, 49, AddTimeStampToken)        \
    X(IPKISignerInfo, 70, GetSignatureValue)        \
    X(IPKISignerInfo, 81, VerifyEncapsulated)        \
    X(IPKISignerInfo, 93, GetKeyKind)               \
    X(IPKISignerInfo, 95, EncodeSigner)             \
    X(IPKISignerInfo, 96, SetValue)                 \
    X(IPKISignerInfo, 97, GetHashSize)               \
    X(IPKISignerInfo, 100, PrepareSignature)         \
    X(IPKISignerInfoDSTU7564, 135, SignHash)          \
    X(IPKISignerInfoView4249, 122, SignWith)              \
    X(IPKISignerInfoECDSA, 97, GetHashSize)         \
    X(IPKISignerInfoECDSA, 106, SetKeySize)         \
    X(IPKISignerInfoECDSA, 107, SetContent)         \
    X(IPKISignerInfoECDSA, 108, SetHash)            \
    X(IPKISignerInfoECDSA, 112, VerifyContent)      \
    X(IPKISignerInfoECDSA, 114, VerifyHash)         \
    X(IPKISignerInfoDSTU7564, 123, GetHashKind)     \
    X(IPKISignerInfoDSTU7564, 125, SetHashKind)     \
    X(IPKISignerInfoDSTU7564, 126, SetContent)      \
    X(IPKISignerInfoDSTU7564, 127, SetHash)         \
    X(IPKISignerInfoDSTU7564, 131, VerifyContent)   \
    X(IPKISignerInfoDSTU7564, 132, VerifyHash)      \
    X(IPKISignerInfoDSTU7564, 133, GetHashBytes)     \
    X(IPKISignerExtension, 6, CheckPublicKey)       \
    X(IPKISignerExtension, 7, GetSigningTime)       \
    X(IPKISignerExtension, 9, HasTimeStampToken)    \
    X(IPKISignedAttribute, 13, SetType)             \
    X(IPKISignedAttribute, 14, GetValueForm1)       \
    X(IPKISignedAttribute, 15, SetValueForm1)       \
    X(IPKISignedAttribute, 16, GetValueForm2)       \
    X(IPKISignedAttribute, 17, SetValueForm2)       \
    X(IPKISignedAttribute, 19, SetValueForm3)       \
    X(IPKISigningCertificate, 3, GetEntryCount)     \
    X(IPKISigningCertificate, 5, GetEntry)          \
    X(IPKISigningCertificate, 11, HashCertificate)  \
    X(IPKISigningCertificate, 13, SetEntry)         \
    X(IPKISigningCertificateDSTU7564, 16, SetEntryDSTU7564) \
    X(IPKISigningCertificateDSTU7564, 17, HashCertificateDSTU7564)\
    X(IPKICertificateIdentifiers, 3, GetCount)      \
    X(IPKICertificateIdentifiers, 4, GetEntryCode)  \
    X(IPKICertificateIdentifiers, 5, GetEntryHashGOST34311)\
    X(IPKICertificateIdentifiers, 6, GetEntryHashSHA)\
    X(IPKICertificateIdentifiers, 11, SetIdentity)  \
    X(IPKICertificateIdentifiers, 18, GetCode)      \
    X(IPKICertificateIdentifiers, 19, GetHashGOST34311)\
    X(IPKICertificateIdentifiers, 20, GetHashSHA)   \
    X(IPKICertificateIdentifiers, 29, HashEntryGOST34311)\
    X(IPKICertificateIdentifiers, 30, HashEntrySHA) \
    X(IPKICertificateIdentifiers, 31, HashGOST34311)\
    X(IPKICertificateIdentifiers, 32, HashSHA)      \
    X(IPKICertificateIdentifiers, 33, HashGOST34311Ex)\
    X(IPKICertificateIdentifiers, 34, HashSHAEx)    \
    X(IPKICertificateIdentifiersDSTU7564, 35, GetEntryHash)\
    X(IPKICertificateIdentifiersDSTU7564, 37, GetHash)\
    X(IPKICertificateIdentifiersDSTU7564, 39, HashEntry)\
    X(IPKICertificateIdentifiersDSTU7564, 41, Hash) \
    X(IPKISigningCertificateList, 3, GetCount)       \
    X(IPKISigningCertificateList, 11, SetIdentity)   \
    X(IPKISigningCertificateList, 18, AddEntry)     \
    X(IPKISigningCertificateList, 19, HashCertificate)\
    X(IPKIObjectValue4267, 68, GetValue)                \
    X(IPKICMSContentInfo, 3, Encode)                  \
    X(IPKICMSContentInfo, 6, SetContentType)          \
    X(IPKICMSContentInfo, 8, SetContentObject)
// clang-format on

// ---- CMS enveloped data, key transport and streamed encodings ----
enum : std::uint32_t {
    PKI_CLASS_ENVELOPED_DATA = 4883,
    PKI_IID_ENVELOPED_DATA = 4117,
    PKI_CLASS_DATA_CONTENT = 4901,
    PKI_IID_DATA_CONTENT = 4138,
    PKI_IID_ENVELOPED_KEY_TRANSPORT = 4246,  // key-transport decryption view
    PKI_IID_ENVELOPED_CIPHER = 4264,         // the cipher view of kinds 8 and 9
    // A streamed header parser has not seen the whole header yet.
    PKI_E_INCOMPLETE = 261
};

// A streamed header parse: 64-bit offsets and lengths as (low, high) words.
// headerOffset: where the content starts; end: the end offset reached (the
// content's end on success, what was seen so far while incomplete); needed:
// how many more bytes the parser wants; value: the parser's inner value.
struct PKIStreamParse {
    std::uint32_t headerOffset[2];
    std::uint32_t value;
    std::uint32_t end[2];
    std::uint32_t needed[2];
};

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// ---- OCSP requests and responses, DVCS requests and responses ----
// Hash kinds of a CertID: 1 GOST 34.311, 2 to 6 SHA-1 to SHA-512, 7 to 9
// DSTU 7564 of 256, 384 and 512 bits. Certificate statuses in the
// library's (RFC 6960) order: 0 good, 1 revoked, 2 unknown.
enum : std::uint32_t {
    PKI_CLASS_OCSP_REQUEST = 4890,
    PKI_IID_OCSP_REQUEST = 4148,
    PKI_CLASS_OCSP_RESPONSE = 4891,
    PKI_IID_OCSP_RESPONSE = 4149,
    PKI_CLASS_CERT_ID = 4914,
    PKI_IID_CERT_ID = 4180,
    PKI_IID_CERT_ID_DSTU7564 = 4257,  // the CertID's DSTU 7564 hashes
    PKI_CLASS_OCSP_NONCE = 4916,
    PKI_IID_OCSP_NONCE = 4182,
    PKI_IID_OCSP_RESPONDER = 4235,      // a response's responder by certificate name
    PKI_IID_OCSP_SIGN_DSTU7564 = 4258,  // a response's DSTU 7564 signing
    PKI_IID_KEY_IDENTIFIER_EX = 4261,   // a key-identifier extension's own view
    PKI_OCSP_SIGNER_CHECK = 4621,       // the item that asks for the signer's key usage
    PKI_CLASS_DVCS_REQUEST = 4910,
    PKI_IID_DVCS_REQUEST = 4150,
    PKI_CLASS_DVCS_RESPONSE = 4911,
    PKI_IID_DVCS_RESPONSE = 4151
};

// clang-format off

// CertID (class 4914, interface 4180). Readers hand out blobs the library
// allocates (the caller frees them), of the lengths the peer sent.
class IPKICertID : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int GetHashKind(std::uint32_t* kind)                                 // 5
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }
    // Name and key hashes, 32 bytes each.
    virtual int SetHashesGOST34311(const std::uint8_t* nameHash, const std::uint8_t* keyHash) // 6
    { (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashesGOST34311(PKIBlob* nameHash, PKIBlob* keyHash)          // 7
    { (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    // Name and key hashes of SHA-1, 20 bytes each.
    virtual int SetHashesSHA1(const std::uint8_t* nameHash, const std::uint8_t* keyHash) // 8
    { (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    // Name and key hashes of hash kind 2 to 6, of that kind's length.
    virtual int SetHashesSHA(std::uint32_t kind, const std::uint8_t* nameHash,
                             const std::uint8_t* keyHash)                        // 9
    { (void)kind; (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashesSHA(PKIBlob* nameHash, PKIBlob* keyHash)                // 10
    { (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    // The serial number, big-endian, as a 20-byte record (leading zeros).
    virtual int SetSerial(const std::uint8_t* serial)                            // 11
    { (void)serial; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetSerial(PKIBlob* serial)                                       // 12
    { (void)serial; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertID() = default;
};

// Interface 4257 of a CertID: the hashes of DSTU 7564 kinds (7 to 9).
class IPKICertIDDSTU7564 : public IPKIObject {
public:
    virtual int SetHashesDSTU7564(std::uint32_t kind, const std::uint8_t* nameHash,
                                  const std::uint8_t* keyHash)                   // 3
    { (void)kind; (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetHashesDSTU7564(PKIBlob* nameHash, PKIBlob* keyHash)           // 4
    { (void)nameHash; (void)keyHash; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICertIDDSTU7564() = default;
};

// OCSP nonce extension (class 4916, interface 4182).
class IPKIOCSPNonce : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int SetValue(const PKIBlob* value)                                   // 5
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPNonce() = default;
};

// OCSP request (class 4890, interface 4148).
class IPKIOCSPRequest : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    // Takes a CertID (the request keeps its own reference).
    virtual int AddEntry(IPKIObject* certId)                                     // 5
    { (void)certId; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetEntryCount(std::uint32_t* count)                              // 6
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // CertID `index` (IPKICertID); PKI_E_INDEX past the last.
    virtual int GetEntry(std::uint32_t index, void** certId)                     // 7
    { (void)index; (void)certId; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AddNonce(IPKIObject* nonce)                                      // 8
    { (void)nonce; return PKI_E_NOT_IMPLEMENTED; }
    // The nonce's value as the peer sent it; PKI_E_ABSENT without one.
    virtual int GetNonce(PKIBlob* value)                                         // 9
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetRequestorName(const char* name)                               // 10
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // The request's check against a caller's value: 0 when it holds.
    virtual int CheckValue(const PKIBlob* value)                                 // 11
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPRequest() = default;
};

// One single response of an OCSP response.
class IPKIOCSPSingleResponse : public IPKIObject {
public:
    virtual int GetCertID(void** certId)                                         // 3
    { (void)certId; return PKI_E_NOT_IMPLEMENTED; }
    // The library's status (0 good, 1 revoked, 2 unknown).
    virtual int GetStatus(std::uint32_t* status)                                 // 4
    { (void)status; return PKI_E_NOT_IMPLEMENTED; }
    // The revocation time and CRLReason of a revoked entry.
    virtual int GetRevocation(SYSTEMTIME* time, std::uint32_t* reason)           // 5
    { (void)time; (void)reason; return PKI_E_NOT_IMPLEMENTED; }
    // The issuer name the entry stands for: encoded, and as a name object.
    virtual int GetIssuerNameEncoded(PKIBlob* name)                              // 6
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetIssuerName(void** name)                                       // 7
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // The entry's responder-side name item (a name object).
    virtual int GetNameItem(void** name)                                         // 8
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // The entry's hash item; 32 bytes are compared.
    virtual int GetHashItem(PKIBlob* value)                                      // 9
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPSingleResponse() = default;
};

// OCSP response (class 4891, interface 4149). Slot 24 is the signed
// objects' signature family, slot 41 the signers' key.
class IPKIOCSPResponse : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    // The response status (0 successful).
    virtual int SetStatus(std::uint32_t status)                                  // 5
    { (void)status; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetStatus(std::uint32_t* status)                                 // 6
    { (void)status; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetProducedAt(const SYSTEMTIME* time)                            // 7
    { (void)time; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetProducedAt(SYSTEMTIME* time)                                  // 8
    { (void)time; return PKI_E_NOT_IMPLEMENTED; }
    virtual int AddNonce(IPKIObject* nonce)                                      // 9
    { (void)nonce; return PKI_E_NOT_IMPLEMENTED; }
    // The nonce's value as the peer sent it; PKI_E_ABSENT without one.
    virtual int GetNonce(PKIBlob* value)                                         // 10
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // nextUpdate is taken when hasNext is nonzero, the revocation time when
    // it is not null (with the reason).
    virtual int AddSingleResponse(IPKIObject* certId, const SYSTEMTIME* thisUpdate, std::uint32_t hasNext,
                                  const SYSTEMTIME* nextUpdate, std::uint32_t status,
                                  const SYSTEMTIME* revocationTime, std::uint32_t reason) // 11
    { (void)certId; (void)thisUpdate; (void)hasNext; (void)nextUpdate; (void)status; (void)revocationTime; (void)reason; return PKI_E_NOT_IMPLEMENTED; }
    // An extension of the single response added last.
    virtual int AddSingleExtension(const PKIBlob* value)                         // 12
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetSingleCount(std::uint32_t* count)                             // 13
    { (void)count; return PKI_E_NOT_IMPLEMENTED; }
    // Single response `index` (IPKIOCSPSingleResponse); PKI_E_INDEX past the last.
    virtual int GetSingle(std::uint32_t index, void** entry)                     // 14
    { (void)index; (void)entry; return PKI_E_NOT_IMPLEMENTED; }
    // The responder ID's type: 1 by name, 2 by key hash.
    virtual int GetResponderIDType(std::uint32_t* type)                          // 15
    { (void)type; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetResponderName(void** name)                                    // 16
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }
    // The responder by a name record (a certificate's slot 17).
    virtual int SetResponderRecord(const PKINameRecord* record)                  // 17
    { (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // The responder's key hash as the peer sent it.
    virtual int GetResponderKeyHash(PKIBlob* hash)                               // 18
    { (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // An optional value; PKI_E_ABSENT when the response has none.
    virtual int GetOptionalValue(std::uint32_t* value)                           // 19
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    // 0 when the response carries `item`, PKI_E_ABSENT when not.
    virtual int HasItem(std::uint32_t item)                                      // 20
    { (void)item; return PKI_E_NOT_IMPLEMENTED; }
    // The bytes the signature covers, and the signature value.
    virtual int GetSignedBytes(PKIBlob* data)                                    // 21
    { (void)data; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetSignature(PKIBlob* value)                                     // 22
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(23)                                                             // 23
    virtual int GetSignatureFamily(std::uint32_t* family)                        // 24
    { (void)family; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(25) PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28)          // 25-28
    PKI_RESERVED(29) PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32)          // 29-32
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36)          // 33-36
    PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40)          // 37-40
    virtual int SetKey(IPKIObject* key)                                          // 41
    { (void)key; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPResponse() = default;
};

// Interface 4235 of a response: the responder by a certificate's subject
// name object (a certificate's slot 19).
class IPKIOCSPResponder : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49)                           // 47-49
    virtual int SetResponderName(IPKIObject* name)                               // 50
    { (void)name; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPResponder() = default;
};

// Interface 4258 of a response: signing with DSTU 4145 over a DSTU 7564
// hash of kind 7 to 9, with the key object's key.
class IPKIOCSPSignDSTU7564 : public IPKIObject {
public:
    virtual int SignWithKey(IPKIObject* key, std::uint32_t kind, std::uint32_t mode) // 3
    { (void)key; (void)kind; (void)mode; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIOCSPSignDSTU7564() = default;
};

// DVCS request (class 4910, interface 4150): values A (slots 6, 5) and B
// (slots 8, 7), and an item (slot 21), passed through by the facade.
class IPKIDVCSRequest : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValueA(std::uint32_t* value)                                  // 5
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValueA(std::uint32_t value)                                   // 6
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValueB(std::uint32_t* value)                                  // 7
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValueB(std::uint32_t value)                                   // 8
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(9) PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)           // 9-12
    PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16)          // 13-16
    PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)          // 17-20
    virtual int SetItem(std::uint32_t first, std::uint32_t second)               // 21
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIDVCSRequest() = default;
};

// DVCS response (class 4911, interface 4151): five values set by slots 10,
// 12, 14, 16, 18 (the last a pair) and read by 9, 11, 13, 15, 17; an item
// (slot 5) that takes two values (slot 6); two values given at once (slot
// 7); a further value read with three arguments (slot 20).
class IPKIDVCSResponse : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    // The item; PKI_E_ABSENT when the response has none.
    virtual int GetItem(std::uint32_t* item)                                     // 5
    { (void)item; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetItemValues(std::uint32_t first, std::uint32_t second)         // 6
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValues(std::uint32_t first, std::uint32_t second)             // 7
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(8)                                                              // 8
    virtual int GetValue1(std::uint32_t* value)                                  // 9
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValue1(std::uint32_t value)                                   // 10
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValue2(std::uint32_t* value)                                  // 11
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValue2(std::uint32_t value)                                   // 12
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValue3(std::uint32_t* value)                                  // 13
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValue3(std::uint32_t value)                                   // 14
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValue4(std::uint32_t* value)                                  // 15
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValue4(std::uint32_t value)                                   // 16
    { (void)value; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetValuePair(std::uint32_t* first, std::uint32_t* second)        // 17
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetValuePair(std::uint32_t first, std::uint32_t second)          // 18
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(19)                                                             // 19
    virtual int ReadValue(std::uint32_t first, std::uint32_t second, std::uint32_t* out) // 20
    { (void)first; (void)second; (void)out; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIDVCSResponse() = default;
};

// The slots of the OCSP and DVCS block, checked as the shared table is.
#define QVK_PKI_OCSP_MODEL_SLOTS(X)                      \
    X(IPKIInterface, 21, HashObjectGOST34311)            \
    X(IPKIInterface, 22, HashObjectSHA)                  \
    X(IPKIInterface, 23, HashObjectDSTU7564)             \
    X(IPKIInterface, 24, HashNameGOST34311Mode)          \
    X(IPKIInterface, 26, NameToText)                     \
    X(IPKICertificate, 6, VerifySignatureValue)          \
    X(IPKICertificate, 8, GetSerialBytes)                \
    X(IPKICertificate, 42, VerifySignedBytes)            \
    X(IPKICertificate, 96, GetAuthorityKeyId)            \
    X(IPKICertID, 5, GetHashKind)                        \
    X(IPKICertID, 6, SetHashesGOST34311)                 \
    X(IPKICertID, 7, GetHashesGOST34311)                 \
    X(IPKICertID, 8, SetHashesSHA1)                      \
    X(IPKICertID, 9, SetHashesSHA)                       \
    X(IPKICertID, 10, GetHashesSHA)                      \
    X(IPKICertID, 11, SetSerial)                         \
    X(IPKICertID, 12, GetSerial)                         \
    X(IPKICertIDDSTU7564, 3, SetHashesDSTU7564)          \
    X(IPKICertIDDSTU7564, 4, GetHashesDSTU7564)          \
    X(IPKIOCSPNonce, 5, SetValue)                        \
    X(IPKIOCSPRequest, 5, AddEntry)                      \
    X(IPKIOCSPRequest, 11, CheckValue)                   \
    X(IPKIOCSPSingleResponse, 9, GetHashItem)            \
    X(IPKIOCSPResponse, 11, AddSingleResponse)           \
    X(IPKIOCSPResponse, 22, GetSignature)                \
    X(IPKIOCSPResponse, 24, GetSignatureFamily)          \
    X(IPKIOCSPResponse, 41, SetKey)                      \
    X(IPKIOCSPResponder, 50, SetResponderName)           \
    X(IPKIOCSPSignDSTU7564, 3, SignWithKey)              \
    X(IPKIKeyObject, 10, SignObjectDSTU4145)             \
    X(IPKIDVCSRequest, 8, SetValueB)                     \
    X(IPKIDVCSRequest, 21, SetItem)                      \
    X(IPKIDVCSResponse, 18, SetValuePair)                \
    X(IPKIDVCSResponse, 20, ReadValue)
// clang-format on

// ---- Objects reached by the certificate, request and message operations ----
// (parts, inner objects, key kinds and signers that those operations read)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// ---- Holder data and certificate reference records ----

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// The slots of the time-stamp, signer-signing and recipient operations,
// checked as the shared table is.
// clang-format off
#define QVK_PKI_TS_MODEL_SLOTS(X)                        \
    X(IPKIKeyContextDSTU4145, 3, SetContext)             \
    X(IPKIKeyContextDSTU4145, 6, SetContextFlags)        \
    X(IPKISignerInfo, 3, GetIdentifier)                  \
    X(IPKISignerInfo, 11, GetTimeStampTokenAt)             \
    X(IPKISignerInfo, 22, GetDigestOID)                  \
    X(IPKISignerInfo, 26, AddSignedAttribute)            \
    X(IPKITimeStampRequestByHash, 24, SetKeyAlgorithm)   \
    X(IPKITimeStampRequestByHash, 25, BuildImprintGOST)  \
    X(IPKITimeStampRequestByHash, 33, FillGOST)          \
    X(IPKITimeStampRequestByHash, 38, BuildImprintCoded) \
    X(IPKITimeStampRequestByHash, 41, FillCoded)         \
    X(IPKISignerHashCode, 54, GetHashCode)               \
    X(IPKISignerInfo, 61, AddRequestCertificate)         \
    X(IPKISignerInfo, 57, AddTimeStampRequest)           \
    X(IPKISignerInfo, 53, AddRequestHashCertificate)     \
    X(IPKISignerInfo, 55, GetRequestHashCount)           \
    X(IPKISignerInfoDSTU7564, 136, AddRequestHashCertificateDSTU7564) \
    X(IPKISignerInfo, 68, SetTimeStampSource)            \
    X(IPKISignerInfoTimeStampSource, 22, GetDigestOID)                \
    X(IPKISignerInfoTimeStampSource, 43, GetKeyKind)                    \
    X(IPKISignerInfoTimeStampSource, 47, GetKey)                        \
    X(IPKISignerInfo, 43, GetSigningKeyKind)             \
    X(IPKISignerInfo, 71, SetSignatureValue)             \
    X(IPKISignerInfo, 89, SignWithRSAKey)                \
    X(IPKISignerInfoDSTU7564, 123, GetHashKind)          \
    X(IPKISignerInfoDSTU7564, 133, GetHashBytes)          \
    X(IPKISignedDataSigners, 10, GetSignerCount)         \
    X(IPKISignedDataSigners, 11, GetSigner)              \
    X(IPKISignedDataSigners, 55, GetTokenSignerCount)    \
    X(IPKISignedDataSigners, 56, GetTokenSigner)         \
    X(IPKISignedDataSigners, 66, GetTokenCertificateCount) \
    X(IPKISignedDataSigners, 67, GetTokenCertificate)    \
    X(IPKISignedDataSigners, 105, FindSignerIndex)       \
    X(IPKITimeStampRequest, 3, Encode)                   \
    X(IPKITimeStampRequest, 5, GetImprintKind)           \
    X(IPKITimeStampRequest, 6, GetImprintGOST)           \
    X(IPKITimeStampRequest, 8, GetImprintSHA)            \
    X(IPKITimeStampRequest, 10, GetNonce)                \
    X(IPKITimeStampRequest, 16, GetSecondValue)          \
    X(IPKITimeStampRequest, 24, SetKeyAlgorithm)         \
    X(IPKITimeStampRequest, 25, BuildImprintGOST)        \
    X(IPKITimeStampRequest, 26, BuildImprintSHA)         \
    X(IPKITimeStampRequest, 31, FillFromSignerDSTU4145Old) \
    X(IPKITimeStampRequest, 32, FillFromSignerIntlOld)   \
    X(IPKITimeStampRequest, 33, FillFromSignerDSTU4145)  \
    X(IPKITimeStampRequest, 34, FillFromSignerIntl)      \
    X(IPKITimeStampRequestImprint, 35, GetLongImprint)   \
    X(IPKITimeStampInfo, 6, SetRequest)                  \
    X(IPKITimeStampInfo, 9, SetImprintGOST)              \
    X(IPKITimeStampInfo, 11, SetImprintSHA)              \
    X(IPKITimeStampInfo, 13, SetFirstValue)              \
    X(IPKITimeStampInfo, 15, SetSecondValue)             \
    X(IPKITimeStampInfo, 22, SetNonce)                   \
    X(IPKITimeStampInfoImprint, 40, SetLongImprint)      \
    X(IPKISignedDataSigners, 32, EncodeInto)             \
    X(IPKISignedDataSigners, 61, SetCertificates)        \
    X(IPKIContentInfoForms, 13, GetContentBlob)          \
    X(IPKIContentInfoForms, 34, GetContentTypeText)      \
    X(IPKIContentInfoForms, 37, Open)                    \
    X(IPKIContentInfoForms, 57, GetFormatKind)           \
    X(IPKIContentInfoForms, 63, Load)                    \
    X(IPKIContentInfoForms, 65, SetVersionNumber)        \
    X(IPKIDataContent, 4, Decode)                        \
    X(IPKIDataContent, 5, GetOctets)                     \
    X(IPKIEnvelopedContentType, 35, SetContentType)         \
    X(IPKISignedAttribute, 13, SetType)                  \
    X(IPKISignedAttribute, 20, SetEncodedValue)          \
    X(IPKIRecipientEntry, 3, ReadIdentifier)             \
    X(IPKIRecipientEntry, 7, GetKeyCount)                \
    X(IPKIRecipientEntry, 8, GetKey)                     \
    X(IPKIRecipientEntry, 13, RemoveKey)                 \
    X(IPKIRecipientEntry, 49, SetAgreementKey)           \
    X(IPKIRecipientEntry, 54, GetTransportIdentifier)    \
    X(IPKIEnvelopedRecipients, 27, GetRecipientCount)    \
    X(IPKIEnvelopedRecipients, 28, GetAgreementEntry)    \
    X(IPKIEnvelopedRecipients, 32, RemoveRecipient)      \
    X(IPKIEnvelopedRecipients, 53, GetRecipientEntry)    \
    X(IPKIEnvelopedRecipients, 64, AddRecipient)         \
    X(IPKISignerInfo, 5, SetCertificate)                 \
    X(IPKISignerInfo, 21, GetSignedAttribute)                  \
    X(IPKISignerInfo, 23, CountSignedAttributes)             \
    X(IPKISignerInfo, 79, SignWithKey)                   \
    X(IPKISignerInfoDSTU7564, 130, SignWithKeyObject)      \
    X(IPKISignedAttribute, 18, GetEncodedValue)          \
    X(IPKISignerHashLength, 117, SignRSA)                \
    X(IPKISignedDataSigners, 40, GetContentForm)         \
    X(IPKISignedDataSigners, 44, GetEmbeddedObject)      \
    X(IPKISignedDataSigners, 45, SetContentInfo)         \
    X(IPKISignedDataSigners, 93, GetDetached)
// clang-format on

#endif

// clang-format off

// Content info (4879 / 4113) as the enveloped-data and streamed operations
// drive it: a table of its own, since IPKIContentInfo reads slot 6 as the
// content while these callers set the content type there.
class IPKICMSContentInfo : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    // Dotted text; the length excludes the terminator that follows it.
    virtual int GetContentType(PKIBlob* oid)                                     // 5
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetContentType(const char* oid)                                  // 6
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }
    // The content as an object of (classId, interfaceId).
    virtual int GetContentObject(std::uint32_t classId, std::uint32_t interfaceId, void** object) // 7
    { (void)classId; (void)interfaceId; (void)object; return PKI_E_NOT_IMPLEMENTED; }
    // Takes the inner object; the content info keeps a reference.
    virtual int SetContentObject(IPKIObject* object)                             // 8
    { (void)object; return PKI_E_NOT_IMPLEMENTED; }
    // The header of a streamed encoding (content and trailer follow it).
    virtual int EncodeHeader(PKIBlob* header)                                    // 9
    { (void)header; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CompleteParse()                                                  // 10
    { return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetStreamedContent(IPKIObject* object)                           // 11
    { (void)object; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetHeaderOffset(std::uint32_t low, std::uint32_t high)           // 12
    { (void)low; (void)high; return PKI_E_NOT_IMPLEMENTED; }
    // PKI_E_INCOMPLETE while the header is not whole.
    virtual int ParseHeader(const PKIBlob* data, PKIStreamParse* parse)          // 13
    { (void)data; (void)parse; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKICMSContentInfo() = default;
};

// Signed data (4900 / 4136) as the streamed encodings drive it: its slots
// 26-29.
using IPKISignedDataStream = IPKISignedDataSigners;

// Data content (4901 / 4138): plain octets.
class IPKIDataContent : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out)                                             // 3
    { (void)out; return PKI_E_NOT_IMPLEMENTED; }
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    virtual int GetOctets(PKIBlob* octets)                                       // 5
    { (void)octets; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetOctets(const PKIBlob* octets)                                 // 6
    { (void)octets; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIDataContent() = default;
};

// Identifier kinds of recipients and originators: 1 issuer and serial,
// 2 a 32-byte key identifier, 3 (originators only) the 76-byte key. The
// adding slots take 4 for issuer and serial. Issuers are wide texts: *length
// holds the capacity (terminator included) on entry and the text's length
// on return; PKI_E_INVALID_ARGUMENT when it does not fit.

// A key-agreement group of enveloped data: one originator, its recipients.
class IPKIAgreementGroup : public IPKIObject {
public:
    virtual int GetOriginator(std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength,
                              std::uint8_t* serial, std::uint8_t* keyIdentifier, std::uint8_t* key,
                              std::uint32_t* keyLength) = 0;                     // 3
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)                              // 4-6
    virtual int GetEntryCount(std::uint32_t* count) = 0;                         // 7
    // serial: 20 bytes; keyIdentifier: 32 bytes.
    virtual int GetEntry(std::uint32_t index, std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength,
                         std::uint8_t* serial, std::uint8_t* keyIdentifier) = 0; // 8
    PKI_RESERVED(9) PKI_RESERVED(10) PKI_RESERVED(11) PKI_RESERVED(12)           // 9-12
    PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15)                           // 13-15
    // A further value of an originator named by issuer and serial (library
    // versions from 267).
    virtual int GetOriginatorExtra(std::uint32_t* extra) = 0;                    // 16

protected:
    ~IPKIAgreementGroup() = default;
};

// A key-transport recipient entry of enveloped data.
class IPKIKeyTransportEntry : public IPKIObject {
public:
    virtual int GetIdentifier(std::uint32_t* kind, wchar_t* issuer, std::uint32_t* issuerLength,
                              std::uint8_t* serial, std::uint8_t* keyIdentifier) = 0; // 3

protected:
    ~IPKIKeyTransportEntry() = default;
};

// A collection of certificates (the certificates an enveloped or signed
// message carries), as the identity look-up walks it.
class IPKICertificateCollection : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    virtual int GetObjectCount(std::uint32_t* count) = 0;                        // 15
    PKI_RESERVED(16)                                                             // 16
    // Object `index` (IPKICertificate).
    virtual int GetObject(std::uint32_t index, void** object) = 0;               // 17

protected:
    ~IPKICertificateCollection() = default;
};

// Enveloped data (4883 / 4117). Parameter blocks are 16 words (a packed
// GOST 28147 S-box). Key material: 76-byte buffers with their lengths.
class IPKIEnvelopedData : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    // The originator's key-agreement material for one recipient.
    virtual int SetOriginatorMaterial(const wchar_t* issuer, const PKIBlob* serial, const std::uint8_t* key,
                                      std::uint32_t keyLength, IPKIObject* keyObject,
                                      const std::uint32_t* parameters) = 0;     // 5
    virtual int SetParameters(const std::uint32_t* parameters, std::uint32_t zero) = 0; // 6
    virtual int SetContentCipher(std::uint32_t kind, const std::uint32_t* parameters, std::uint32_t zero) = 0; // 7
    virtual int SetContent(const PKIBlob* content) = 0;                          // 8
    virtual int Encrypt() = 0;                                                   // 9
    // Decryption set-up with the own prepared key and the peer's key.
    virtual int SetUpStaticDecryption(const PKIBlob* encrypted, const std::uint8_t* key, std::uint32_t keyLength,
                                      IPKIObject* keyObject, const std::uint8_t* peerKey,
                                      std::uint32_t peerKeyLength, const std::uint32_t* parameters) = 0; // 10
    virtual int SetUpDecryption(const PKIBlob* encrypted, const std::uint8_t* key, std::uint32_t keyLength,
                                IPKIObject* keyObject, const std::uint8_t* peerKey, std::uint32_t peerKeyLength,
                                const std::uint32_t* parameters) = 0;            // 11
    PKI_RESERVED(12)                                                             // 12
    virtual int DecryptContent(PKIBlob* content) = 0;                            // 13
    virtual int FinishDecryption() = 0;                                          // 14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    virtual int GetAgreementGroupCount(std::uint32_t* count) = 0;                // 27
    virtual int GetAgreementGroup(std::uint32_t index, void** group) = 0;        // 28
    PKI_RESERVED(29) PKI_RESERVED(30)                                            // 29-30
    virtual int AddRecipientFromKey(const wchar_t* issuer, const PKIBlob* serial, const std::uint8_t* key,
                                    std::uint32_t keyLength, IPKIObject* keyObject,
                                    const std::uint32_t* parameters) = 0;       // 31
    PKI_RESERVED(32) PKI_RESERVED(33)                                            // 32-33
    // The inner content type with its terminator into `capacity` bytes;
    // PKI_E_INVALID_ARGUMENT (nothing written) when it does not fit.
    virtual int GetInnerContentType(char* oid, std::uint32_t capacity) = 0;      // 34
    virtual int SetInnerContentType(const char* oid) = 0;                        // 35
    PKI_RESERVED(36)                                                             // 36
    virtual int GetEncryptedContent(PKIBlob* content) = 0;                       // 37
    PKI_RESERVED(38)                                                             // 38
    virtual int FinishContent() = 0;                                             // 39
    PKI_RESERVED(40) PKI_RESERVED(41)                                            // 40-41
    virtual int SetPreparationFlag(std::uint32_t flag) = 0;                      // 42
    PKI_RESERVED(43)                                                             // 43
    virtual int ParseStreamed(const PKIBlob* data, PKIStreamParse* parse) = 0;   // 44
    virtual int SetStreamedContentLength(std::uint32_t low, std::uint32_t high) = 0; // 45
    virtual int ParseHeader(const PKIBlob* data, PKIStreamParse* parse) = 0;     // 46
    // keyIdentifier: 32 bytes or null.
    virtual int AddRecipientByIdentifier(std::uint32_t kind, const wchar_t* issuer, const PKIBlob* serial,
                                         const std::uint8_t* keyIdentifier, const std::uint8_t* key,
                                         std::uint32_t keyLength, IPKIObject* keyObject,
                                         std::uint32_t last) = 0;               // 47
    // A step of the library's own that callers ask for through the facade's
    // forwarder; it takes no arguments.
    virtual int Operation48() = 0;                                               // 48
    virtual int AddAgreementRecipient(const std::uint8_t* key, std::uint32_t keyLength, std::uint32_t kind,
                                      const PKIBlob* serial, const wchar_t* issuer,
                                      IPKIObject* keyObject) = 0;               // 49
    PKI_RESERVED(50)                                                             // 50
    virtual int SetCipher(std::uint32_t kind, std::uint32_t zero) = 0;           // 51
    // publicKey: the RSA modulus and exponent (two 600-byte fields), bits.
    virtual int AddKeyTransportRecipient(std::uint32_t kind, const wchar_t* issuer, const PKIBlob* serial,
                                         const std::uint8_t* keyIdentifier, const std::uint8_t* publicKey,
                                         std::uint32_t bits) = 0;               // 52
    virtual int GetRecipientEntryKind(std::uint32_t index, std::uint32_t* kind) = 0; // 53
    virtual int GetRecipientEntry(std::uint32_t index, void** entry) = 0;        // 54
    // Key-transport decryption with the own key's data and the certificate's
    // issuer and key identifier; workArea holds 4,800 bytes.
    virtual int DecryptKeyTransport(const PKIBlob* ownKey, const wchar_t* issuer, const std::uint8_t* keyIdentifier,
                                    std::uint8_t* workArea) = 0;                 // 55
    PKI_RESERVED(56)                                                             // 56
    // The content-cipher kind it was made with (8 and 9: view 4264's).
    virtual int GetCipherKind(std::uint32_t* kind)                               // 57
    { (void)kind; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIEnvelopedData() = default;
};

// Interface 4264 of enveloped data: the content cipher of kinds 8 and 9.
class IPKIEnvelopedCipher : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)          // 63-66
    virtual int SetCipher(std::uint32_t kind, std::uint32_t zero1, std::uint32_t zero2) = 0; // 67

protected:
    ~IPKIEnvelopedCipher() = default;
};

// Interface 4246 of enveloped data: key-transport decryption.
class IPKIEnvelopedKeyTransport : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)              // 3-6
    PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)             // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)          // 51-54
    PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)          // 55-58
    PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)          // 59-62
    PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65)                           // 63-65
    virtual int DecryptKeyTransport(const PKIBlob* ownKey, const wchar_t* issuer, const std::uint8_t* keyIdentifier,
                                    std::uint8_t* workArea) = 0;                 // 66

protected:
    ~IPKIEnvelopedKeyTransport() = default;
};

// The slots of the enveloped-data block, checked as the shared table is.
#define QVK_PKI_ENVELOPED_MODEL_SLOTS(X)                 \
    X(IPKICMSContentInfo, 3, Encode)                     \
    X(IPKICMSContentInfo, 4, Decode)                     \
    X(IPKICMSContentInfo, 5, GetContentType)             \
    X(IPKICMSContentInfo, 6, SetContentType)             \
    X(IPKICMSContentInfo, 7, GetContentObject)           \
    X(IPKICMSContentInfo, 8, SetContentObject)           \
    X(IPKICMSContentInfo, 9, EncodeHeader)               \
    X(IPKICMSContentInfo, 10, CompleteParse)             \
    X(IPKICMSContentInfo, 11, SetStreamedContent)        \
    X(IPKICMSContentInfo, 12, SetHeaderOffset)           \
    X(IPKICMSContentInfo, 13, ParseHeader)               \
    X(IPKISignedDataStream, 26, EncodeHeader)            \
    X(IPKISignedDataStream, 27, ParseStreamed)           \
    X(IPKISignedDataStream, 28, SetStreamedContentLength) \
    X(IPKISignedDataStream, 29, ParseHeader)             \
    X(IPKIDataContent, 3, Encode)                        \
    X(IPKIDataContent, 4, Decode)                        \
    X(IPKIDataContent, 5, GetOctets)                     \
    X(IPKIDataContent, 6, SetOctets)                     \
    X(IPKIAgreementGroup, 3, GetOriginator)              \
    X(IPKIAgreementGroup, 7, GetEntryCount)              \
    X(IPKIAgreementGroup, 8, GetEntry)                   \
    X(IPKIAgreementGroup, 16, GetOriginatorExtra)        \
    X(IPKICertificateCollection, 15, GetObjectCount)     \
    X(IPKICertificateCollection, 17, GetObject)          \
    X(IPKIKeyTransportEntry, 3, GetIdentifier)           \
    X(IPKIEnvelopedData, 5, SetOriginatorMaterial)       \
    X(IPKIEnvelopedData, 6, SetParameters)               \
    X(IPKIEnvelopedData, 7, SetContentCipher)            \
    X(IPKIEnvelopedData, 8, SetContent)                  \
    X(IPKIEnvelopedData, 9, Encrypt)                     \
    X(IPKIEnvelopedData, 10, SetUpStaticDecryption)      \
    X(IPKIEnvelopedData, 11, SetUpDecryption)            \
    X(IPKIEnvelopedData, 13, DecryptContent)             \
    X(IPKIEnvelopedData, 14, FinishDecryption)           \
    X(IPKIEnvelopedData, 27, GetAgreementGroupCount)     \
    X(IPKIEnvelopedData, 28, GetAgreementGroup)          \
    X(IPKIEnvelopedData, 31, AddRecipientFromKey)        \
    X(IPKIEnvelopedData, 34, GetInnerContentType)        \
    X(IPKIEnvelopedData, 35, SetInnerContentType)        \
    X(IPKIEnvelopedData, 37, GetEncryptedContent)        \
    X(IPKIEnvelopedData, 39, FinishContent)              \
    X(IPKIEnvelopedData, 42, SetPreparationFlag)         \
    X(IPKIEnvelopedData, 44, ParseStreamed)              \
    X(IPKIEnvelopedData, 45, SetStreamedContentLength)   \
    X(IPKIEnvelopedData, 46, ParseHeader)                \
    X(IPKIEnvelopedData, 47, AddRecipientByIdentifier)   \
    X(IPKIEnvelopedData, 48, Operation48)                \
    X(IPKIEnvelopedData, 49, AddAgreementRecipient)      \
    X(IPKIEnvelopedData, 51, SetCipher)                  \
    X(IPKIEnvelopedData, 52, AddKeyTransportRecipient)   \
    X(IPKIEnvelopedData, 53, GetRecipientEntryKind)      \
    X(IPKIEnvelopedData, 54, GetRecipientEntry)          \
    X(IPKIEnvelopedData, 55, DecryptKeyTransport)        \
    X(IPKIEnvelopedCipher, 67, SetCipher)                \
    X(IPKIEnvelopedKeyTransport, 66, DecryptKeyTransport)

// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#endif
// clang-format off

// An object whose slot 11 yields an inner object for the library's
// conversion (IPKIInterface slot 32).
class IPKIInnerObjectSource : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    virtual int GetInnerObject(void** inner) = 0;                                // 11

protected:
    ~IPKIInnerObjectSource() = default;
};

// An object whose slots 17 and 26 each yield a part that the facade encodes.
class IPKIObjectParts : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16)                                            // 15-16
    virtual int GetPart17(void** part) = 0;                                      // 17
    PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21)          // 18-21
    PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25)          // 22-25
    virtual int GetPart26(void** part) = 0;                                      // 26

protected:
    ~IPKIObjectParts() = default;
};

// An object that names the key kind it was made for in slot 38 (1 DSTU 4145,
// 2 RSA, 4 ECDSA, as certificates report theirs).
class IPKIKeyKindItem : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37)                           // 35-37
    virtual int GetKeyKind(std::uint32_t* kind) = 0;                             // 38

protected:
    ~IPKIKeyKindItem() = default;
};

// An object that takes an encoded INTEGER object (4877 / 4111) in slot 51.
class IPKIIntegerHolder : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)          // 31-34
    PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)          // 35-38
    PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)          // 39-42
    PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)          // 43-46
    PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)          // 47-50
    // Attaches the integer (the holder keeps a reference).
    virtual int AttachInteger(IPKIObject* integer) = 0;                          // 51

protected:
    ~IPKIIntegerHolder() = default;
};

#define QVK_PKI_OBJECT_MODEL_SLOTS_OBJECT_OPS(X)         \
    X(IPKIInterface, 32, ConvertObject)                  \
    X(IPKIInterface, 35, ConvertFour)                    \
    X(IPKIInterface, 36, ConvertThree)                   \
    X(IPKIInterface, 38, ConvertThreeNew)                \
    X(IPKIInnerObjectSource, 11, GetInnerObject)         \
    X(IPKIObjectParts, 17, GetPart17)                    \
    X(IPKIObjectParts, 26, GetPart26)                    \
    X(IPKIKeyKindItem, 38, GetKeyKind)                   \
    X(IPKISignedDataSigners, 10, GetSignerCount)         \
    X(IPKISignedDataSigners, 11, GetSigner)              \
    X(IPKIRequest, 6, VerifyDSTU4145)                    \
    X(IPKIRequest, 24, GetSignatureFamily)               \
    X(IPKIRequest, 36, VerifyRSA)                        \
    X(IPKIRequest, 15, GetRSAPublicKey)                  \
    X(IPKIRequest, 16, GetDSTU4145PublicKey)             \
    X(IPKICertificate, 25, GetDSTU4145PublicKey)         \
    X(IPKIIntegerHolder, 51, AttachInteger)
// clang-format on
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// ---- CMS signed data: signer identifiers and the slots of the GOST 34.311 and RSA families ----
enum : std::uint32_t {
    PKI_SIGNER_ID_ISSUER_SERIAL = 3,     // signer identifier form: issuer name and serial number
    PKI_SIGNER_NAME_BUFFER_CHARS = 2048  // wide name buffers of the signer reads (terminator included)
};

// The slots of the signed-data block, checked as the shared table is.
// clang-format off
#define QVK_PKI_SIGNED_DATA_SLOTS(X)                     \
    X(IPKIKeyObject, 6, GetPublicKey)                    \
    X(IPKISigningCertificate, 4, GetEntryGOST34311)      \
    X(IPKISigningCertificate, 10, HashCertificateGOST34311) \
    X(IPKISigningCertificate, 12, SetEntryGOST34311)     \
    X(IPKISignerExtension, 10, GetTimeStampSigner)       \
    X(IPKICMSContentInfo, 5, GetContentType)             \
    X(IPKICMSContentInfo, 6, SetContentType)             \
    X(IPKICMSContentInfo, 7, GetContentObject)                   \
    X(IPKICMSContentInfo, 8, SetContentObject)       \
    X(IPKISignerInfo, 72, SetPublicKey)                  \
    X(IPKISignerInfo, 73, SetNumericValue)               \
    X(IPKISignerInfo, 74, SetFlag)                       \
    X(IPKISignerInfo, 75, SetContentDigestGOST34311)     \
    X(IPKISignerInfo, 76, SetHashGOST34311)              \
    X(IPKISignerInfo, 80, VerifyData)                    \
    X(IPKISignerInfo, 82, CompleteAfterFlag)             \
    X(IPKISignerInfo, 83, VerifyHashGOST34311)           \
    X(IPKISignerInfo, 84, SetRSAKeyData)                 \
    X(IPKISignerInfo, 85, SetContentDigestRSA)           \
    X(IPKISignerInfo, 86, SetHashRSA)                    \
    X(IPKISignerInfo, 90, VerifyDataRSA)                 \
    X(IPKISignerInfo, 92, VerifyHashRSA)                 \
    X(IPKISignerInfo, 94, GetState)                      \
    X(IPKISignerInfo, 98, SetVerifyHashRSA)
// clang-format on

#endif
// clang-format off

// A general-names list (alternative names): entries by index, each with the
// kind the library numbers it by (1 and 2 lists, 4, 5 and 6 single values).
class IPKIGeneralNames : public IPKIObject {
public:
    virtual int GetCount(std::uint32_t* count) = 0;                              // 3
    virtual int GetKind(std::uint32_t index, std::uint32_t* kind) = 0;           // 4
    // The entry as wide text; *length as for IPKICertificate::GetDisplayName.
    virtual int GetText(std::uint32_t index, wchar_t* text,
                        std::uint32_t* length) = 0;                              // 5

protected:
    ~IPKIGeneralNames() = default;
};

// ---- Profile requests: the extension values a request asks for ----
enum : std::uint32_t {
    PKI_CLASS_ALT_NAME = 4865,
    PKI_IID_ALT_NAME = 4097,
    PKI_CLASS_BASIC_CONSTRAINTS = 4868,
    PKI_IID_BASIC_CONSTRAINTS = 4099,
    PKI_CLASS_POLICY_SET = 4871,
    PKI_IID_POLICY_SET = 4103,
    PKI_IID_POLICY_QUALIFIER = 4232,  // a policy set's qualified policies
    PKI_CLASS_QC_STATEMENTS = 4897,
    PKI_IID_QC_STATEMENTS = 4132,
    PKI_IID_QC_EUROPEAN = 4231,     // IPKIStatements
    PKI_IID_QC_PDS = 4234,
    PKI_IID_QC_LEGISLATION = 4242,
    PKI_CLASS_DIRECTORY_SET = 4902,
    PKI_IID_DIRECTORY_SET = 4140,   // set through PKI_IID_DIRECTORY_ATTRIBUTES
    PKI_CLASS_EXTENSION_SET = 4912,
    PKI_IID_EXTENSION_SET = 4177,
    PKI_IID_REQUESTED_EXTENSIONS = 4178
};

// Alternative name (class 4865, interface 4097): entries by the kind the
// library numbers them by (IPKIGeneralNames).
class IPKIAltNameBuilder : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    virtual int AddName(std::uint32_t kind, const char* value)                   // 4
    { (void)kind; (void)value; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIAltNameBuilder() = default;
};

// Certificate policies being built (class 4871, interface 4103).
class IPKIPolicySet : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    virtual int AddPolicy(const char* oid)                                       // 4
    { (void)oid; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIPolicySet() = default;
};

// Interface 4232 of a policy set: a policy with a qualifier text.
class IPKIPolicyQualifier : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int AddQualifiedPolicy(const char* oid, const wchar_t* qualifier)    // 5
    { (void)oid; (void)qualifier; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIPolicyQualifier() = default;
};

// QC statements (class 4897, interface 4132): the statements of the object
// itself; the European ones go through IPKIStatements (4231), the PDS
// location through 4234 and the legislation through 4242.
class IPKIQCStatements : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    // Adds the national qualified statement.
    virtual int AddNationalStatement()                                           // 5
    { return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(6) PKI_RESERVED(7) PKI_RESERVED(8)                              // 6-8
    // The transaction limit: currency (wide text), amount and exponent.
    virtual int SetLimit(const wchar_t* currency, std::uint32_t amount,
                         std::uint32_t exponent)                                 // 9
    { (void)currency; (void)amount; (void)exponent; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIQCStatements() = default;
};

// Interface 4234 of QC statements: the PDS location with its language.
class IPKIQCPDSLocation : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27)                                                             // 27
    virtual int SetLocation(const char* language, const wchar_t* location)       // 28
    { (void)language; (void)location; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIQCPDSLocation() = default;
};

// Interface 4242 of QC statements: the legislation text.
class IPKIQCLegislation : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)          // 19-22
    PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)          // 23-26
    PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)          // 27-30
    PKI_RESERVED(31) PKI_RESERVED(32)                                            // 31-32
    virtual int SetLegislation(const wchar_t* text)                              // 33
    { (void)text; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIQCLegislation() = default;
};

// Interface 4178 of an extension list (class 4912): the requested extensions
// of a request.
class IPKIRequestedExtensions : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    // Puts in an extended-key-usage object (4885 / 4119), replacing any there
    // (the list keeps a reference).
    virtual int SetExtKeyUsage(IPKIObject* extKeyUsage)                          // 5
    { (void)extKeyUsage; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIRequestedExtensions() = default;
};

// A request's list of wide texts (request slots 49 and 52).
class IPKITextList : public IPKIObject {
public:
    virtual int GetCount(std::uint32_t* count) = 0;                              // 3
    // *length as for IPKICertificate::GetDisplayName.
    virtual int GetText(std::uint32_t index, wchar_t* text,
                        std::uint32_t* length) = 0;                              // 4

protected:
    ~IPKITextList() = default;
};

// A request's text-and-value item (request slot 98): its wide text, then
// the value the reader hands back once the text is read.
class IPKITextValue : public IPKIObject {
public:
    // *length as for IPKICertificate::GetDisplayName.
    virtual int GetText(wchar_t* text, std::uint32_t* length) = 0;              // 3
    PKI_RESERVED(4)                                                              // 4
    virtual int SetValue(std::uint32_t value) = 0;                               // 5

protected:
    ~IPKITextValue() = default;
};

// clang-format on
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// clang-format off
#define QVK_PKI_OBJECT_MODEL_SLOTS_HOLDER_DATA(X)        \
    X(IPKICertificate, 79, GetAltNames)                  \
    X(IPKIRequest, 79, GetAltNames)                      \
    X(IPKIRequest, 99, CheckContent)                     \
    X(IPKIGeneralNames, 3, GetCount)                     \
    X(IPKIGeneralNames, 4, GetKind)                      \
    X(IPKIGeneralNames, 5, GetText)                      \
    X(IPKIInterface, 25, HashNameObjectSHA)              \
    X(IPKIInterface, 27, HashNameObjectGOST34311)

// The request and certificate field texts.
#define QVK_PKI_OBJECT_MODEL_SLOTS_FIELD_TEXTS(X)        \
    X(IPKICertificate, 92, GetSubjectAltNameList)        \
    X(IPKIRequest, 7, GetSubjectText)                    \
    X(IPKIRequest, 46, GetFirstPeriod)                   \
    X(IPKIRequest, 49, GetFirstTextList)                 \
    X(IPKIRequest, 52, GetSecondTextList)                \
    X(IPKIRequest, 70, GetSecondPeriod)                  \
    X(IPKIRequest, 98, GetTextValueItem)                 \
    X(IPKIDirectoryAttributes, 17, HasItem1)             \
    X(IPKIDirectoryAttributes, 18, GetItem1Text)         \
    X(IPKIDirectoryAttributes, 21, HasItem2)             \
    X(IPKIDirectoryAttributes, 26, GetItem3Text)         \
    X(IPKIDirectoryAttributes, 41, HasItem7)             \
    X(IPKIDirectoryAttributes, 42, GetItem7Text)         \
    X(IPKIDirectoryAttributes, 48, ReadValues)           \
    X(IPKITextList, 3, GetCount)                         \
    X(IPKITextList, 4, GetText)                          \
    X(IPKITextValue, 3, GetText)                         \
    X(IPKITextValue, 5, SetValue)
// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
// clang-format off

enum : std::uint32_t { PKI_CLASS_AGREEMENT_PARAMETERS = 4881, PKI_IID_AGREEMENT_PARAMETERS = 4115 };

// The DSTU 4145 parameters of a key-agreement key (class 4881, interface
// 4115): the curve records and two S-boxes, the agreement key's own and the
// one the parameters carry.
class IPKIAgreementParameters : public IPKIObject {
public:
    // Each output may be null; the S-boxes are 64 bytes.
    virtual int GetRecords(DSTU4145FieldRecord* field, DSTU4145PointRecord* point, std::uint8_t* keySBox,
                           std::uint8_t* sBox) = 0;                              // 3

protected:
    ~IPKIAgreementParameters() = default;
};

// clang-format on
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Key containers made from key objects: the key-agreement part of a key and
// its parameters, the context a parameter object takes over, and the
// signing of a key request through such a parameter object.
// clang-format off
#define QVK_PKI_KEY_CONTAINER_MAKER_SLOTS(X)             \
    X(IPKIKeyObject, 25, GetAgreementKeyValue)           \
    X(IPKIKeyObject, 28, GetAgreementParameters)         \
    X(IPKIAgreementParameters, 3, GetRecords)            \
    X(IPKIKeyContextDSTU4145, 3, SetContext)             \
    X(IPKIKeyContextDSTU4145, 4, GetContextFlags)        \
    X(IPKIKeyContextDSTU4145, 6, SetContextFlags)        \
    X(IPKIParameters, 7, SetExplicit)                    \
    X(IPKIRequest, 5, SignDSTU4145)                      \
    X(IPKIRequestHash, 107, SignDSTU4145WithHashLength)
// clang-format on

// clang-format off
#define QVK_PKI_OBJECT_MODEL_SLOTS_PROFILE_REQUESTS(X)   \
    X(IPKIBasicConstraints, 5, SetCA)                    \
    X(IPKIBasicConstraints, 6, SetPathLength)            \
    X(IPKIDirectoryAttributes, 49, SetValues)            \
    X(IPKIStatements, 12, AddEuropeanStatement)          \
    X(IPKIStatements, 15, AddSecureDeviceStatement)      \
    X(IPKIStatements, 19, SetQCType)                     \
    X(IPKIStatements, 23, SetSemanticsIdentifier)        \
    X(IPKIRequest, 94, GetRequestedExtensions)           \
    X(IPKIRequest, 97, SetRequestedExtensions)           \
    X(IPKIAltNameBuilder, 4, AddName)                    \
    X(IPKIPolicySet, 4, AddPolicy)                       \
    X(IPKIPolicyQualifier, 5, AddQualifiedPolicy)        \
    X(IPKIQCStatements, 5, AddNationalStatement)         \
    X(IPKIQCStatements, 9, SetLimit)                     \
    X(IPKIQCPDSLocation, 28, SetLocation)                \
    X(IPKIQCLegislation, 33, SetLegislation)             \
    X(IPKIRequestedExtensions, 5, SetExtKeyUsage)        \
    X(IPKIRequest, 25, GetToBeSigned)                    \
    X(IPKIRequest, 26, SetSignature)                     \
    X(IPKIRequestHash, 109, SetSignatureWithHashLength)
// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
// clang-format off
enum : std::uint32_t { PKI_CLASS_CONTENT_CONTAINER = 4874, PKI_IID_CONTENT_CONTAINER = 4107 };

// A content container (class 4874, interface 4107): holds the one content an
// opened content info carried, as its own object.
class IPKIContentContainer : public IPKIObject {
public:
    PKI_RESERVED(3) PKI_RESERVED(4)                                              // 3-4
    virtual int StoreData(IPKIObject* data) = 0;                                 // 5
    virtual int StoreSignedData(IPKIObject* signedData) = 0;                     // 6
    virtual int StoreEnvelopedData(IPKIObject* envelopedData) = 0;               // 7

protected:
    ~IPKIContentContainer() = default;
};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

#define QVK_PKI_CONTENT_OPENING_SLOTS(X)                 \
    X(IPKIContentContainer, 5, StoreData)                \
    X(IPKIContentContainer, 6, StoreSignedData)          \
    X(IPKIContentContainer, 7, StoreEnvelopedData)       \
    X(IPKIEnvelopedData, 57, GetCipherKind)              \
    X(IPKISignerInfo, 99, GetVersionValue)               \
    X(IPKICMSContentInfo, 4, Decode)                     \
    X(IPKICMSContentInfo, 5, GetContentType)             \
    X(IPKICMSContentInfo, 7, GetContentObject)
// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif
// clang-format off

// A plain content as the tagged-content reader is handed it: its slot 4
// gives the data content (4901 / 4138) inside it.
class IPKIDataContentSource : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    virtual int GetDataContent(void** data) = 0;                                 // 4

protected:
    ~IPKIDataContentSource() = default;
};

// clang-format on
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// Tagged content read back and the time-stamp object.
// clang-format off
#define QVK_PKI_OBJECT_MODEL_SLOTS_TAGGED_CONTENT(X)     \
    X(IPKIDataContentSource, 4, GetDataContent)          \
    X(IPKIDataContent, 5, GetOctets)                     \
    X(IPKISignedDataSigners, 18, GetContent)             \
    X(IPKITimeStampToken, 6, SetWords)                   \
    X(IPKITimeStampToken, 13, SetTokenContentInfo)
// clang-format on

#endif
