// The part of the PKI formats library's object model that only the PKI
// formats facade uses, and the table of slots that the facade, the stand-in
// library and the facade's test double share. Included by PKIInterface.h;
// the same rules hold: slot numbers on every line, never reorder, a
// ReservedN placeholder is replaced only at its own position.
#ifndef QVK_SUPPORT_PKIOBJECTMODEL_H
#define QVK_SUPPORT_PKIOBJECTMODEL_H

#include <cstdint>

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

// The library's wide-character name record (IPKIInterface operations 13, 14).
// Operation 13 is typed as the name parser (wide name text in, this record
// out), the one reading its name-text callers fit. Two other callers describe
// it differently: the module's certificate store passes a certificate
// record and takes a display name, and the facade's library-text copy passes
// an index and takes ten wide texts at fixed places. This record has ten wide
// texts, but an index is no wide text, so no one signature serves all three:
// the text copy stays unbuilt (answers 0) until the library's side is known.
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

// Certificate (class 4870, interface 4102), as far as the facade reads it.
class IPKICertificate : public IPKIObject {
public:
    PKI_RESERVED(3)
    PKI_RESERVED(4) PKI_RESERVED(5) PKI_RESERVED(6)                          // 3-6
        PKI_RESERVED(7) PKI_RESERVED(8) PKI_RESERVED(9) PKI_RESERVED(10)     // 7-10
        PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)  // 11-14
        PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)  // 15-18
        PKI_RESERVED(19) PKI_RESERVED(20) PKI_RESERVED(21) PKI_RESERVED(22)  // 19-22
        PKI_RESERVED(23) PKI_RESERVED(24) PKI_RESERVED(25) PKI_RESERVED(26)  // 23-26
        PKI_RESERVED(27) PKI_RESERVED(28) PKI_RESERVED(29) PKI_RESERVED(30)  // 27-30
        PKI_RESERVED(31) PKI_RESERVED(32) PKI_RESERVED(33) PKI_RESERVED(34)  // 31-34
        PKI_RESERVED(35) PKI_RESERVED(36) PKI_RESERVED(37) PKI_RESERVED(38)  // 35-38
        PKI_RESERVED(39) PKI_RESERVED(40) PKI_RESERVED(41) PKI_RESERVED(42)  // 39-42
        PKI_RESERVED(43) PKI_RESERVED(44) PKI_RESERVED(45) PKI_RESERVED(46)  // 43-46
        PKI_RESERVED(47) PKI_RESERVED(48) PKI_RESERVED(49) PKI_RESERVED(50)  // 47-50
        PKI_RESERVED(51) PKI_RESERVED(52) PKI_RESERVED(53) PKI_RESERVED(54)  // 51-54
        PKI_RESERVED(55) PKI_RESERVED(56) PKI_RESERVED(57) PKI_RESERVED(58)  // 55-58
        PKI_RESERVED(59) PKI_RESERVED(60) PKI_RESERVED(61) PKI_RESERVED(62)  // 59-62
        PKI_RESERVED(63) PKI_RESERVED(64) PKI_RESERVED(65) PKI_RESERVED(66)  // 63-66
        PKI_RESERVED(67) PKI_RESERVED(68) PKI_RESERVED(69) PKI_RESERVED(70)  // 67-70
        PKI_RESERVED(71) PKI_RESERVED(72) PKI_RESERVED(73) PKI_RESERVED(74)  // 71-74
        PKI_RESERVED(75)                                                     // 75
        // The certificate-policies object (IPKIPolicies); PKI_E_ABSENT without one.
        virtual int GetPolicies(void** policies) = 0;  // 76

protected:
    ~IPKICertificate() = default;
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
    PKI_RESERVED(3)  // 3
    // The context's flags (the low three bits count).
    virtual std::uint32_t GetContextFlags() = 0;  // 4
    // Fills the provider context (three pointer-sized words) for the flags.
    virtual int GetContext(void* context, std::uint32_t flags) = 0;  // 5

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

// clang-format on

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

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
    X(IPKIInterface, 13, ParseName)                      \
    X(IPKIInterface, 14, ComposeName)                    \
    X(IPKIInterface, 15, TakeNameText)                   \
    X(IPKIInterface, 16, TakeNameTextLimited)            \
    X(IPKIInterface, 33, HasOptionA)                     \
    X(IPKIInterface, 34, HasOptionB)                     \
    X(IPKICertificate, 76, GetPolicies)                  \
    X(IPKIPolicies, 3, GetFirstPolicy)                   \
    X(IPKIKeyContextDSTU4145, 4, GetContextFlags)        \
    X(IPKIKeyContextDSTU4145, 5, GetContext)             \
    X(IPKIKeyContextIntl, 8, GetContextFlags)            \
    X(IPKIKeyContextIntl, 9, GetContext)
// clang-format on

#endif
