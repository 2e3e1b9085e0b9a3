// Object model of the outside PKI formats library (pkfmt.so) as this system
// sees it: the interface object that PKIGetInterface hands out, and the
// objects it creates by class and interface number.
//
// Every operation is reached by its slot in the virtual table, so the order of
// the declarations below is the binary interface: never reorder, never add a
// virtual destructor (it takes two slots), and replace a ReservedN placeholder
// by a real operation only at the same position. Slot numbers are given on
// every line.
//
// Conventions shared by all objects:
// - Results are 0 for success and a PKIResult otherwise. Callers rely on
//   PKI_E_NO_INTERFACE (7) from QueryInterface, PKI_E_ABSENT (11) for an
//   optional item that is not there and PKI_E_ENCODED_BLOCK (260) for keys and
//   parameters held as an encoded block.
// - Every object is reference counted. CreateObject, QueryInterface and every
//   operation that hands out an object through a void** give the caller one
//   reference, which the caller drops with Release (operation 1) on that very
//   pointer. An object lives until its last reference is dropped.
// - A PKIBlob that an operation fills is allocated by the library and goes
//   back through IPKIInterface::FreeBlob (operation 7). The blob to be filled
//   should be {0, null} on entry; it is left so on failure.
// - Text arguments (passwords, OIDs) are NUL-terminated byte strings; OIDs
//   are dotted decimal.
#ifndef QVK_SUPPORT_PKIINTERFACE_H
#define QVK_SUPPORT_PKIINTERFACE_H

#include <cstdint>

#include "support/DSTU4145Records.h"

struct PKINameRecord;  // support/PKIObjectModel.h

// Encoded data crossing the interface.
struct PKIBlob {
    std::uint32_t length;
    std::uint8_t* data;
};

enum PKIResult : int {
    PKI_OK = 0,
    PKI_E_FAILURE = 1,           // anything not covered below
    PKI_E_INVALID_ARGUMENT = 2,  // null where a value is needed, unknown flag, foreign object
    PKI_E_OUT_OF_MEMORY = 3,
    PKI_E_NOT_IMPLEMENTED = 4,  // a placeholder slot, or an operation this build lacks
    PKI_E_UNKNOWN_CLASS = 5,    // CreateObject: class / interface pair not made here
    PKI_E_BAD_ENCODING = 6,     // Decode of data that is not this library's encoding
    PKI_E_NO_INTERFACE = 7,     // QueryInterface: the object does not offer that interface
    PKI_E_INDEX = 8,            // index past the end of a list
    PKI_E_NOT_SET = 9,          // the object has no content yet
    PKI_E_WRONG_PASSWORD = 10,  // the password does not open the data (MAC mismatch)
    PKI_E_ABSENT = 11,          // optional item not present
    PKI_E_ENCODED_BLOCK = 260   // key or parameters held as an encoded block
};

// Class and interface numbers passed to IPKIInterface::CreateObject.
enum PKIClassId : std::uint32_t {
    PKI_CLASS_CODEC = 33,
    PKI_CLASS_CERTIFICATE = 4870,
    PKI_CLASS_REQUEST = 4873,
    PKI_CLASS_INTEGER = 4877,
    PKI_CLASS_CONTENT_INFO = 4879,
    PKI_CLASS_DSTU4145_PARAMETERS = 4880,
    PKI_CLASS_PRIVATE_KEY = 4882,
    PKI_CLASS_KEY = 4893,
    PKI_CLASS_ATTRIBUTE = 4896,
    PKI_CLASS_SIGNED_DATA = 4900,
    PKI_CLASS_DSTU4145_PUBLIC_KEY = 4908,
    PKI_CLASS_UKM = 4928,
    PKI_CLASS_ENTRY_LIST = 4930,
    PKI_CLASS_KEY_CONTAINER = 4931,
    PKI_CLASS_GOST28147_PARAMETERS = 4932,
    PKI_CLASS_GOST34311_PARAMETERS = 4933,
    PKI_CLASS_KEY_BLOB_HEADER = 4939
};

enum PKIInterfaceId : std::uint32_t {
    PKI_IID_CODEC = 32,
    PKI_IID_CERTIFICATE = 4102,
    PKI_IID_REQUEST = 4106,
    PKI_IID_INTEGER = 4111,
    PKI_IID_CONTENT_INFO = 4113,
    PKI_IID_DSTU4145_PARAMETERS = 4114,  // explicit records or standard curve number
    PKI_IID_PRIVATE_KEY = 4116,          // container entry: a key under a password
    PKI_IID_KEY = 4128,
    PKI_IID_DSTU4145_PUBLIC_KEY = 4130,
    PKI_IID_ATTRIBUTE = 4131,
    PKI_IID_SIGNED_DATA = 4136,
    PKI_IID_UKM = 4199,
    PKI_IID_ENTRY_LIST = 4201,
    PKI_IID_KEY_CONTAINER = 4208,
    PKI_IID_GOST28147_PARAMETERS = 4210,
    PKI_IID_GOST34311_PARAMETERS = 4211,
    PKI_IID_DSTU4145_PROVIDER = 4215,
    PKI_IID_KEY_BLOB_HEADER = 4217,
    PKI_IID_KEY_EXPORT = 4224,
    PKI_IID_CERTIFICATE_EX = 4226,
    PKI_IID_INTL_PROVIDER = 4230,
    PKI_IID_KEY_SET = 4233,
    PKI_IID_PRIVATE_KEY_FROM_SET = 4250,  // container entry made from a key-set item
    PKI_IID_KEY_CONTAINER_WRITER = 4252,
    PKI_IID_UKM_EX = 4263,
    PKI_IID_ITEM_ATTRIBUTES = 4265,  // attributes of a container item, by OID
    PKI_IID_KEY_CONTAINER_READER = 4266,
    PKI_IID_NAMED_PARAMETERS = 4273,    // parameters named by an OID
    PKI_IID_ENCODED_PARAMETERS = 4274,  // parameters as an encoded block
    PKI_IID_ENCODED_KEY = 4275          // key whose parameters are an encoded block
};

// Numbered values of a key set (IPKIKeySet::GetValue / SetValue).
enum : std::uint32_t {
    PKI_KEYSET_PROTECTION_VALUE = 5,  // 4-byte protection value of the source container
    PKI_KEYSET_ATTRIBUTE_1 = 6,       // container attribute PKI_OID_CONTAINER_ATTRIBUTE_1
    PKI_KEYSET_ATTRIBUTE_2 = 7,       // container attribute PKI_OID_CONTAINER_ATTRIBUTE_2
    PKI_KEYSET_WRAPPED_ATTRIBUTES = 1024
};

// IPKIKeyContainer::SetPassword flags.
enum : std::uint32_t { PKI_PROTECT_WITH_PASSWORD = 1 };

#define PKI_OID_WRAPPED_RECORD "1.3.6.1.4.1.19398.2.12.10"
#define PKI_OID_CONTAINER_ATTRIBUTE_1 "1.3.6.1.4.1.19398.2.12.1"
#define PKI_OID_CONTAINER_ATTRIBUTE_2 "1.3.6.1.4.1.19398.2.12.2"
#define PKI_OID_BUILTIN_CURVE "1.3.6.1.4.1.19398.2.1.1"
#define PKI_OID_BUILTIN_PARAMETER_BLOCK "1.3.6.1.4.1.19398.2.1.2"

enum : std::uint32_t { PKI_SBOX_BYTES = 64, PKI_BUILTIN_PARAMETER_BLOCK_BYTES = 416 };

// The built-in encoded parameter block named by PKI_OID_BUILTIN_PARAMETER_BLOCK:
// 104 little-endian words, the first five 1021, 5, 2, 1 and 4 (field degree,
// the three lower exponents of the field polynomial, cofactor), the rest a
// fixed filler that makes any altered copy differ. The formats library keeps
// blocks as they are given; both sides compare against this one.
inline void PKIBuiltInParameterBlock(std::uint8_t out[PKI_BUILTIN_PARAMETER_BLOCK_BYTES])
{
    for (std::uint32_t i = 0; i < PKI_BUILTIN_PARAMETER_BLOCK_BYTES / 4; ++i) {
        static const std::uint32_t head[5] = {1021, 5, 2, 1, 4};
        std::uint32_t word = i < 5 ? head[i] : i * 0x9E3779B9u;
        for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<std::uint8_t>(word >> (8 * b));
    }
}

// The DSTU 4145 curve named by PKI_OID_BUILTIN_CURVE: GF(2^571) with
// t^571 + t^10 + t^5 + t^2 + 1, A = 1, cofactor 2, B and n those of the
// binary curve B-571 of FIPS 186, and its own base point (compressed).
inline void PKIBuiltInCurve(DSTU4145FieldRecord* field, DSTU4145PointRecord* point)
{
    static const std::uint32_t b[DSTU4145_NUMBER_WORDS] = {
        0x2955727Au, 0x7FFEFF7Fu, 0x39BACA0Cu, 0x520E4DE7u, 0x78FF12AAu, 0x4AFD185Au, 0x56A66E29u,
        0x2BE7AD67u, 0x8EFA5933u, 0x84FFABBDu, 0x4A9A18ADu, 0xCD6BA8CEu, 0xCB8CEFF1u, 0x5C6A97FFu,
        0xB7F3D62Fu, 0xDE297117u, 0x2221F295u, 0x02F40E7Eu, 0x00000000u};
    static const std::uint32_t n[DSTU4145_NUMBER_WORDS] = {
        0x2FE84E47u, 0x8382E9BBu, 0x5174D66Eu, 0x161DE93Du, 0xC7DD9CA1u, 0x6823851Eu, 0x08059B18u,
        0xFF559873u, 0xE661CE18u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu,
        0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x03FFFFFFu, 0x00000000u};
    static const std::uint32_t p[DSTU4145_NUMBER_WORDS] = {
        0xCDEFF87Eu, 0xC5765BC9u, 0x12E028AFu, 0x66B5DA9Eu, 0x7339CA8Bu, 0x9824C808u, 0x8AD07E7Au,
        0x8E5F8C66u, 0xDECD2453u, 0x83605D45u, 0x8541002Cu, 0xE2901DCDu, 0x826FC1F5u, 0xF7CA0EBDu,
        0x4D17857Bu, 0xE809A991u, 0x0B787FEDu, 0x00000077u, 0x00000000u};
    *field = DSTU4145FieldRecord{};
    *point = DSTU4145PointRecord{};
    field->words[DSTU4145_FIELD_A] = 1;
    for (std::size_t i = 0; i < DSTU4145_NUMBER_WORDS; ++i) {
        field->words[DSTU4145_FIELD_B + i] = b[i];
        point->words[DSTU4145_POINT_P + i] = p[i];
        point->words[DSTU4145_POINT_N + i] = n[i];
    }
    field->words[DSTU4145_FIELD_M] = 571;
    field->words[DSTU4145_FIELD_K] = 10;
    field->words[DSTU4145_FIELD_J] = 5;
    field->words[DSTU4145_FIELD_L] = 2;
    field->words[DSTU4145_FIELD_COFACTOR] = 2;
    point->words[DSTU4145_POINT_BITS] = 570;
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// A slot no caller of this system uses yet; it only holds the position.
// Slot tables: one slot per line with its number, kept as written.
// clang-format off
#define PKI_RESERVED(n) \
    virtual int Reserved##n() { return PKI_E_NOT_IMPLEMENTED; }

// Operations every object (and the interface object) starts with.
class IPKIObject {
public:
    PKI_RESERVED(0)                                                              // 0
    virtual int Release() = 0;                                                   // 1
    // Another interface of the same object: PKI_E_NO_INTERFACE when not offered.
    virtual int QueryInterface(std::uint32_t interfaceId, void** object) = 0;    // 2

protected:
    ~IPKIObject() = default;
};

// The interface object of the library (PKIGetInterface). Its Release does not
// end it; the library's lifetime is PKIInitialize / PKIFinalize.
class IPKIInterface : public IPKIObject {
public:
    virtual int GetVersion(std::uint32_t* version) = 0;                          // 3
    // The PKCS#11 module's CSP object (only when the version is above 264 and
    // HasOptionA answers nonzero); the library keeps the pointer.
    virtual int SetCSP(void* csp) = 0;                                           // 4
    PKI_RESERVED(5)                                                              // 5
    // A block of `size` bytes into blob (both fields set).
    virtual int AllocateBlob(PKIBlob* blob, std::uint32_t size) = 0;             // 6
    // Returns a block the library allocated; only blob->data is looked at
    // (callers that hold only the pointer pass length 0). Clears the blob.
    virtual int FreeBlob(PKIBlob* blob) = 0;                                     // 7
    // Windows-1251 text to wide text in a caller buffer that must hold
    // strlen(text) + 1 wide characters (the call takes no size).
    virtual int TextToWide(const char* text, wchar_t* wide)                      // 8
    { (void)text; (void)wide; return PKI_E_NOT_IMPLEMENTED; }
    // Wide text to Windows-1251 text in a caller buffer that must hold
    // wcslen(wide) + 1 bytes; characters with no 1251 form become '?'.
    virtual int WideToText(const wchar_t* wide, char* text)                      // 9
    { (void)wide; (void)text; return PKI_E_NOT_IMPLEMENTED; }
    virtual int CreateObject(std::uint32_t classId, std::uint32_t interfaceId,
                             void** object) = 0;                                 // 10
    PKI_RESERVED(11)                                                             // 11
    PKI_RESERVED(12)                                                             // 12
    // A name record filled from `source` (pointer-sized: on the original
    // 32-bit target an index and a pointer are one word). The facade's name
    // parser passes a wide name text ("attribute=value" items); its
    // library-text copy passes its caller's first argument through unread.
    // (The module's certificate store reads display names elsewhere:
    // IPKICertificate::GetDisplayName, slot 105.)
    virtual int ReadNameRecord(const void* source, PKINameRecord* record)     // 13
    { (void)source; (void)record; return PKI_E_NOT_IMPLEMENTED; }
    // A name record into a wide name text; *length holds the buffer's
    // capacity in wide characters on entry and the text's length on return.
    virtual int ComposeName(const PKINameRecord* record, wchar_t* text,
                            std::uint32_t* length)                               // 14
    { (void)record; (void)text; (void)length; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 hash of a wide name text: 32 bytes into `hash`.
    virtual int HashNameGOST34311(const wchar_t* text, std::uint8_t* hash)       // 15
    { (void)text; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The SHA hash of a wide name text in `bits` bits (160: SHA-1, 20 bytes).
    virtual int HashNameSHA(const wchar_t* text, std::uint32_t bits,
                            std::uint8_t* hash)                                  // 16
    { (void)text; (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // 20-byte identifier of a public key (the key-data kind of key).
    virtual int KeyIdentifier(const PKIBlob* publicKey, std::uint8_t* identifier) // 17
    { (void)publicKey; (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // 20-byte identifier of a DSTU 4145 public key of `length` bytes under a
    // 64-byte S-box.
    virtual int KeyIdentifierWithSBox(const std::uint8_t* publicKey, std::uint32_t length,
                                      const std::uint8_t* sBox, std::uint8_t* identifier) // 18
    { (void)publicKey; (void)length; (void)sBox; (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(19)                                                             // 19
    // A tax number converted for a subject name: mode 1 into the form the
    // name carries, mode 2 back. out holds `capacity` bytes; PKI_E_FAILURE
    // when the result does not fit.
    virtual int ConvertTaxNumber(const char* number, std::uint32_t mode, char* out,
                                 std::uint32_t capacity)                          // 20
    { (void)number; (void)mode; (void)out; (void)capacity; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 hash (32 bytes) of an object's name (a certificate:
    // its subject), or of an encoded name when `object` is null.
    virtual int HashObjectGOST34311(IPKIObject* object, const PKIBlob* encoded,
                                    std::uint8_t* hash)                          // 21
    { (void)object; (void)encoded; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The same with SHA in `bits` bits (bits / 8 bytes).
    virtual int HashObjectSHA(IPKIObject* object, const PKIBlob* encoded, std::uint32_t bits,
                              std::uint8_t* hash)                                // 22
    { (void)object; (void)encoded; (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The DSTU 7564 hash (bits / 8 bytes) of an object's name in `mode`.
    virtual int HashObjectDSTU7564(IPKIObject* object, std::uint32_t mode, std::uint32_t bits,
                                   std::uint8_t* hash)                           // 23
    { (void)object; (void)mode; (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The second GOST 34.311 name hash (32 bytes) of a name object in `mode`.
    virtual int HashNameGOST34311Mode(IPKIObject* name, std::uint32_t mode,
                                      std::uint8_t* hash)                        // 24
    { (void)name; (void)mode; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // The SHA hash of a name object in `bits` bits (160: SHA-1, 20 bytes).
    virtual int HashNameObjectSHA(IPKIObject* name, std::uint32_t bits,
                                  std::uint8_t* hash)                            // 25
    { (void)name; (void)bits; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // Not numbered where it is called: placed in the first free slot.
    // A name object as one wide text in `capacity` wide characters;
    // PKI_E_FAILURE when it does not fit.
    virtual int NameToText(IPKIObject* name, wchar_t* text, std::uint32_t capacity) // 26
    { (void)name; (void)text; (void)capacity; return PKI_E_NOT_IMPLEMENTED; }
    // The GOST 34.311 hash of a name object: 32 bytes into `hash`.
    virtual int HashNameObjectGOST34311(IPKIObject* name, std::uint8_t* hash)    // 27
    { (void)name; (void)hash; return PKI_E_NOT_IMPLEMENTED; }
    // 20-byte identifier of a public key (the DSTU 4145 kind of key).
    virtual int PublicKeyIdentifier(const PKIBlob* publicKey, std::uint8_t* identifier) // 28
    { (void)publicKey; (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // Attribute `oid` (entry `index`) of a name object as wide text into
    // `capacity` wide characters; PKI_E_ABSENT when the name lacks it,
    // PKI_E_FAILURE when it does not fit.
    virtual int GetNameAttributeText(IPKIObject* name, const char* oid, std::uint32_t index,
                                     wchar_t* text, std::uint32_t capacity)      // 29
    { (void)name; (void)oid; (void)index; (void)text; (void)capacity; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetNameAttributeText(IPKIObject* name, const char* oid, std::uint32_t index,
                                     const wchar_t* text)                        // 30
    { (void)name; (void)oid; (void)index; (void)text; return PKI_E_NOT_IMPLEMENTED; }
    virtual int SetNameAttributePair(IPKIObject* name, const char* oid, const wchar_t* text) // 31
    { (void)name; (void)oid; (void)text; return PKI_E_NOT_IMPLEMENTED; }
    // The version-gated conversions below (32, 35, 36, 38) take pointer-sized
    // words whose meaning is the library's; the facade passes its callers'
    // arguments through unread.
    // Processes the inner object of another object with four words.
    virtual int ConvertObject(IPKIObject* inner, void* a, void* b, void* c, void* d) // 32
    { (void)inner; (void)a; (void)b; (void)c; (void)d; return PKI_E_NOT_IMPLEMENTED; }
    virtual int HasOptionA() = 0;                                                // 33
    virtual int HasOptionB() = 0;                                                // 34
    virtual int ConvertFour(void* a, void* b, void* c, void* d)                  // 35
    { (void)a; (void)b; (void)c; (void)d; return PKI_E_NOT_IMPLEMENTED; }
    virtual int ConvertThree(void* a, void* b, void* c)                          // 36
    { (void)a; (void)b; (void)c; return PKI_E_NOT_IMPLEMENTED; }
    // 32-byte identifier of a DSTU 4145 public key of `length` bytes, hashed
    // with DSTU 7564.
    virtual int KeyIdentifierDSTU7564(const std::uint8_t* publicKey, std::uint32_t length,
                                      std::uint8_t* identifier)                  // 37
    { (void)publicKey; (void)length; (void)identifier; return PKI_E_NOT_IMPLEMENTED; }
    // The later form of slot 36 (library version 273 and above).
    virtual int ConvertThreeNew(void* a, void* b, void* c)                       // 38
    { (void)a; (void)b; (void)c; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIInterface() = default;
};

// Key container (class 4931). One table serves its three interfaces: 4208
// (container), 4266 (reader: bags and their attributes) and 4252 (writer).
// The items of a container are entry lists (IPKIEntryList).
class IPKIKeyContainer : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    virtual int GetItemCount(std::uint32_t* count) = 0;                          // 5
    virtual int GetItem(std::uint32_t index, void** entryList) = 0;              // 6
    // Adds an entry list (the container keeps a reference to it).
    virtual int AddItem(IPKIObject* entryList) = 0;                              // 7
    virtual int RemoveItem(std::uint32_t index) = 0;                             // 8
    PKI_RESERVED(9)                                                              // 9
    PKI_RESERVED(10)                                                             // 10
    PKI_RESERVED(11)                                                             // 11
    PKI_RESERVED(12)                                                             // 12
    PKI_RESERVED(13)                                                             // 13
    PKI_RESERVED(14)                                                             // 14
    // flags PKI_PROTECT_WITH_PASSWORD: the next Encode protects the container
    // with the password; flags 0: it encodes without protection.
    virtual int SetPassword(std::uint32_t flags, const char* password) = 0;      // 15
    // 0 when the decoded container is not protected or the password opens it.
    virtual int CheckPassword(const char* password) = 0;                         // 16
    virtual int IsProtected(std::uint32_t* isProtected) = 0;                     // 17
    PKI_RESERVED(18)                                                             // 18
    // The protection value the container was written with; when that is 0 (the
    // default), the first nonzero value among its entries.
    virtual int GetProtectionValue(std::uint32_t* value) = 0;                    // 19
    virtual int SetProtectionValue(std::uint32_t value) = 0;                     // 20
    // Attribute `oid` of an item; the password must open a protected container.
    virtual int GetItemAttribute(const char* password, IPKIObject* entryList, const char* oid,
                                 PKIBlob* value) = 0;                            // 21
    virtual int AddItemAttribute(const char* password, IPKIObject* entryList, const char* oid,
                                 const PKIBlob* value) = 0;                      // 22

protected:
    ~IPKIKeyContainer() = default;
};

// Entry list (class 4930, interface 4201): protected keys, each with an
// optional attribute. It also offers IPKIItemAttributes (4265).
class IPKIEntryList : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    PKI_RESERVED(4)                                                              // 4
    virtual int GetEntryCount(std::uint32_t* count) = 0;                         // 5
    // The entry (a private-key object) and, when `attribute` is given, a copy of
    // its attribute bytes ({0, null} when it has none).
    virtual int GetEntry(std::uint32_t index, void** privateKey, PKIBlob* attribute) = 0;  // 6
    // attribute: an IPKIAttribute or null.
    virtual int AddEntry(IPKIObject* privateKey, IPKIObject* attribute) = 0;     // 7
    virtual int RemoveEntry(std::uint32_t index) = 0;                            // 8

protected:
    ~IPKIEntryList() = default;
};

// Interface 4265 of a container item.
class IPKIItemAttributes : public IPKIObject {
public:
    PKI_RESERVED(3)  PKI_RESERVED(4)  PKI_RESERVED(5)  PKI_RESERVED(6)           // 3-6
    PKI_RESERVED(7)  PKI_RESERVED(8)  PKI_RESERVED(9)  PKI_RESERVED(10)          // 7-10
    PKI_RESERVED(11) PKI_RESERVED(12) PKI_RESERVED(13) PKI_RESERVED(14)          // 11-14
    PKI_RESERVED(15) PKI_RESERVED(16) PKI_RESERVED(17) PKI_RESERVED(18)          // 15-18
    PKI_RESERVED(19)                                                             // 19
    // Copy of the value; PKI_E_ABSENT when the item has no such attribute.
    virtual int GetAttribute(const char* oid, PKIBlob* value) = 0;               // 20

protected:
    ~IPKIItemAttributes() = default;
};

// Container entry (class 4882): interfaces 4116 and 4250 share this table.
// SetKey encrypts the key under the password at once; Open decrypts it again.
class IPKIPrivateKey : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    virtual int SetKey(IPKIObject* key, const char* password) = 0;               // 5
    // A new key object (interface 4128) when the password opens the entry.
    virtual int Open(const char* password, void** key) = 0;                      // 6
    // The same with the password read as Windows-1251 text and re-encoded in
    // UTF-8, for entries written by tools that take passwords in UTF-8.
    virtual int OpenConverted(const char* password, void** key) = 0;             // 7
    PKI_RESERVED(8)                                                              // 8
    PKI_RESERVED(9)                                                              // 9
    PKI_RESERVED(10)                                                             // 10
    PKI_RESERVED(11)                                                             // 11
    virtual int SetFormat(std::uint32_t format) = 0;                             // 12
    virtual int SetProtectionValue(std::uint32_t value) = 0;                     // 13
    virtual int GetProtectionValue(std::uint32_t* value) = 0;                    // 14

protected:
    ~IPKIPrivateKey() = default;
};

// Key (class 4893, interface 4128): key value bytes, parameters and an
// optional S-box of its own.
class IPKIKey : public IPKIObject {
public:
    PKI_RESERVED(3)                                                              // 3
    virtual int Decode(const PKIBlob* in)                                        // 4
    { (void)in; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(5)  PKI_RESERVED(6)                                             // 5-6
    // Copy of the value and a new reference to the parameter object;
    // PKI_E_ENCODED_BLOCK (nothing filled) when the parameters are an encoded
    // block: read those through IPKIEncodedKey. For a DSTU 4145 key the value
    // is the private key (at most 76 bytes); an empty value is a key object
    // without its private key (the "private key present" answer of callers
    // that read this slot as key, flag, parameters).
    virtual int GetKeyValue(PKIBlob* value, void** parameters) = 0;             // 7
    // parameters: an IPKIParameters of this library (any form). The curve of a
    // DSTU 4145 key is the parameters' own (point record word 39; callers
    // that pass "curve - 1" beside the key pass what the parameters carry).
    virtual int SetKeyValue(const PKIBlob* value, IPKIObject* parameters) = 0;   // 8
    PKI_RESERVED(9)                                                              // 9
    // The key-data part of the key: PKI_KEY_DATA_BYTES bytes (eight 600-byte
    // fields) and two parameter words.
    virtual int SetKeyData(const std::uint8_t* data, const std::uint32_t* parameters) // 10
    { (void)data; (void)parameters; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(11) PKI_RESERVED(12)                                            // 11-12
    PKI_RESERVED(13) PKI_RESERVED(14) PKI_RESERVED(15) PKI_RESERVED(16)          // 13-16
    PKI_RESERVED(17) PKI_RESERVED(18) PKI_RESERVED(19) PKI_RESERVED(20)          // 17-20
    PKI_RESERVED(21) PKI_RESERVED(22) PKI_RESERVED(23) PKI_RESERVED(24)          // 21-24
    PKI_RESERVED(25) PKI_RESERVED(26) PKI_RESERVED(27) PKI_RESERVED(28)          // 25-28
    PKI_RESERVED(29) PKI_RESERVED(30) PKI_RESERVED(31) PKI_RESERVED(32)          // 29-32
    PKI_RESERVED(33) PKI_RESERVED(34) PKI_RESERVED(35) PKI_RESERVED(36)          // 33-36
    PKI_RESERVED(37) PKI_RESERVED(38) PKI_RESERVED(39) PKI_RESERVED(40)          // 37-40
    PKI_RESERVED(41) PKI_RESERVED(42)                                            // 41-42
    // 64 bytes; PKI_E_ABSENT when the key has no S-box of its own.
    virtual int GetSBox(std::uint8_t* sBox) = 0;                                 // 43
    // 64 bytes, or null to drop the key's own S-box.
    virtual int SetSBox(const std::uint8_t* sBox) = 0;                           // 44
    // The key's usage as two words, to be OR-ed (keys without interface
    // PKI_IID_KEY_EXPORT).
    virtual int GetUsageWords(std::uint32_t* first, std::uint32_t* second)      // 45
    { (void)first; (void)second; return PKI_E_NOT_IMPLEMENTED; }

protected:
    ~IPKIKey() = default;
};

// Interface 4275 of a key: value and parameters whatever their form.
class IPKIEncodedKey : public IPKIObject {
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
    PKI_RESERVED(59) PKI_RESERVED(60)                                            // 59-60
    virtual int GetEncodedKeyValue(PKIBlob* value, void** parameters) = 0;      // 61
    virtual int SetEncodedKeyValue(const PKIBlob* value, IPKIObject* parameters) = 0;  // 62

protected:
    ~IPKIEncodedKey() = default;
};

// Key set (class 4893, interface 4233): keys collected from a container, each
// with optional attribute bytes, and numbered values (PKI_KEYSET_*).
class IPKIKeySet : public IPKIObject {
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
    virtual int GetKeyCount(std::uint32_t* count) = 0;                           // 46
    // key: a key of this library (the set keeps a reference); attribute: null
    // or empty for none.
    virtual int AddKey(IPKIObject* key, const PKIBlob* attribute) = 0;           // 47
    virtual int GetKey(std::uint32_t index, void** key, PKIBlob* attribute) = 0; // 48
    PKI_RESERVED(49) PKI_RESERVED(50) PKI_RESERVED(51) PKI_RESERVED(52)          // 49-52
    PKI_RESERVED(53) PKI_RESERVED(54) PKI_RESERVED(55) PKI_RESERVED(56)          // 53-56
    PKI_RESERVED(57)                                                             // 57
    // The numbered values (the key cache of certificates and keys is the same
    // interface): slot 58 writes, 59 reads, 60 removes.
    virtual int SetValue(std::uint32_t id, const PKIBlob* value) = 0;            // 58
    // Copy of value `id`; PKI_E_ABSENT when not set.
    virtual int GetValue(std::uint32_t id, PKIBlob* value) = 0;                  // 59
    // PKI_E_ABSENT when not set.
    virtual int RemoveValue(std::uint32_t id) = 0;                               // 60

protected:
    ~IPKIKeySet() = default;
};

// DSTU 4145 parameters (class 4880). One table serves 4114 (explicit records
// or a standard curve number), 4273 (named by OID) and 4274 (encoded block).
// QueryInterface offers 4273 only while the parameters are held as a name and
// 4274 only while they are held as a block; 4114 always.
class IPKIParameters : public IPKIObject {
public:
    // Nonzero when the parameters carry the two further values of slot 6.
    virtual int GetFlag(std::uint32_t* flag)                                     // 3
    { (void)flag; return PKI_E_NOT_IMPLEMENTED; }
    PKI_RESERVED(4)                                                              // 4
    // Field record, point record and S-box (the parameters' own, else standard
    // S-box 0); each output may be null. PKI_E_ENCODED_BLOCK for a block.
    virtual int GetParameters(DSTU4145FieldRecord* field, DSTU4145PointRecord* point,
                              std::uint8_t* sBox) = 0;                           // 5
    // The two further values (the third argument is unused).
    virtual int GetValues(std::uint32_t* first, std::uint32_t* second, void* unused) // 6
    { (void)first; (void)second; (void)unused; return PKI_E_NOT_IMPLEMENTED; }
    // sBox: 64 bytes or null (none of its own).
    virtual int SetExplicit(const DSTU4145FieldRecord* field, const DSTU4145PointRecord* point,
                            const std::uint8_t* sBox) = 0;                       // 7
    // polynomialBasis nonzero: curves 0..9, else normal basis 0..4.
    virtual int SetStandard(std::uint32_t polynomialBasis, std::uint32_t index,
                            const std::uint8_t* sBox) = 0;                       // 8
    PKI_RESERVED(9)                                                              // 9
    PKI_RESERVED(10)                                                             // 10
    // The naming OID as text (blob length excludes the terminator that
    // follows it); PKI_E_ABSENT unless held as a name.
    virtual int GetName(PKIBlob* oid) = 0;                                       // 11
    virtual int SetName(const char* oid, const std::uint8_t* sBox) = 0;          // 12
    // Copy of the block; PKI_E_ABSENT unless held as a block.
    virtual int GetBlock(PKIBlob* block) = 0;                                    // 13
    virtual int SetBlock(const PKIBlob* block) = 0;                              // 14

protected:
    ~IPKIParameters() = default;
};

// Bytes value (interface 4131): the attribute of a container entry (class
// 4896) and the key identifiers of certificates and requests (classes 4896,
// 4903, 4867). One table for every reader: slot 4 takes exactly 32 bytes
// (a whole identifier), slot 6 any length (20-byte identifiers, attribute
// bytes); slot 3 copies the value out, slot 5 into a caller buffer.
class IPKIAttribute : public IPKIObject {
public:
    virtual int GetValue(PKIBlob* value) = 0;                                    // 3
    virtual int SetValue32(const std::uint8_t* value) = 0;                       // 4
    // *length: the buffer's capacity on entry, the value's length on return;
    // PKI_E_INVALID_ARGUMENT (nothing copied) when the value does not fit.
    virtual int GetValueWithLength(std::uint8_t* value, std::uint32_t* length) = 0;  // 5
    virtual int SetValue(const void* data, std::uint32_t length) = 0;            // 6

protected:
    ~IPKIAttribute() = default;
};

// Codec (class 33, interface 32): attach an object, then encode or decode it.
class IPKICodec : public IPKIObject {
public:
    virtual int Encode(PKIBlob* out) = 0;                                        // 3
    virtual int Decode(const PKIBlob* in) = 0;                                   // 4
    virtual int Attach(IPKIObject* object) = 0;                                  // 5

protected:
    ~IPKICodec() = default;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The further classes and interfaces of the library's object model.
#include "support/PKIObjectModel.h"

// clang-format on
#endif
