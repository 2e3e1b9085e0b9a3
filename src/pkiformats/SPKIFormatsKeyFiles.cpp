// Private keys from the files they arrive in: key stores in the JKS layout
// (parsed here, byte by byte: the data come from outside), password-encrypted
// private keys, and the reader that tries every layout in turn; and the
// wrapping of a key under a password.
//
// Key store layout (big-endian): magic FE ED FE ED, version 1 or 2, entry
// count, then the entries: tag (1 private key, 2 trusted certificate), alias
// length and UTF-8 alias, 8-byte time stamp; a private-key entry then has the
// key length and bytes and a certificate count (a trusted-certificate entry
// has one certificate); each certificate is, in version 2 only, a type length
// and type, then a length and the DER bytes. Every length is checked against
// the data before it is used; nothing past the last entry is read.
//
// Entry and key-byte blobs handed out by these operations are views into the
// caller's store (length and start); they are not released.
//
// Protected key file (little-endian): marker 51 4C (the payload is a key file
// of any other layout) or 42 5A (the payload is an encoded key container,
// encrypted), payload length L, L bytes of payload, then optionally a trailer:
// its length M (64 or more) and M bytes whose first 64 are hexadecimal digits
// of 32 bytes (the holder's name fields, encrypted). Nothing else may follow
// the payload. The key and start vector are derived from the password with
// GOST 34.311 under the CSP's standard S-box 0: h1 = H(password), key =
// H(h1 || kProtectedFileConstant), start vector = the first 8 bytes of H(key),
// all hashes from a zero start vector; decryption is GOST 28147 CFB under the
// same S-box. Files written with another derivation constant do not open.
#include <cstring>
#include <string>
#include <vector>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/KeyFileDepth.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kStoreHeader = 12;
constexpr std::uint32_t kTagKey = 1, kTagCertificate = 2;

// Big-endian fields of a bounded block.
struct FieldReader {
    const std::uint8_t* p;
    std::uint64_t size;
    std::uint64_t at = 0;
    bool Skip(std::uint64_t n)
    {
        if (!Inside(at, n, size)) return false;
        at += n;
        return true;
    }
    bool U16(std::uint32_t& v)
    {
        if (!Inside(at, 2, size)) return false;
        v = static_cast<std::uint32_t>(p[at]) << 8 | p[at + 1];
        at += 2;
        return true;
    }
    bool U32(std::uint32_t& v)
    {
        if (!Inside(at, 4, size)) return false;
        v = static_cast<std::uint32_t>(p[at]) << 24 | static_cast<std::uint32_t>(p[at + 1]) << 16 |
            static_cast<std::uint32_t>(p[at + 2]) << 8 | p[at + 3];
        at += 4;
        return true;
    }
};

// The leading fields of an entry: tag, alias and, for a private-key entry,
// the key bytes.
struct EntryHead {
    std::uint32_t tag = 0;
    const std::uint8_t* alias = nullptr;
    std::uint32_t aliasLength = 0;
    const std::uint8_t* key = nullptr;
    std::uint32_t keyLength = 0;
};

bool ReadHead(FieldReader& r, EntryHead& e)
{
    if (!r.U32(e.tag) || (e.tag != kTagKey && e.tag != kTagCertificate)) return false;
    if (!r.U16(e.aliasLength)) return false;
    e.alias = r.p + r.at;
    if (!r.Skip(e.aliasLength) || !r.Skip(8)) return false;
    if (e.tag == kTagKey) {
        if (!r.U32(e.keyLength)) return false;
        e.key = r.p + r.at;
        if (!r.Skip(e.keyLength)) return false;
    }
    return true;
}

// The length of the whole entry at the start of `block`; 0 when it does not
// fit or is not an entry.
std::uint64_t MeasureEntry(std::uint32_t version, const std::uint8_t* block, std::uint64_t size)
{
    FieldReader r{block, size};
    EntryHead e;
    if (!ReadHead(r, e)) return 0;
    std::uint32_t certificates = 1;
    if (e.tag == kTagKey && !r.U32(certificates)) return 0;
    // Each certificate takes at least four bytes: the walk ends with the data.
    for (std::uint32_t i = 0; i < certificates; ++i) {
        std::uint32_t length = 0;
        if (version == 2 && (!r.U16(length) || !r.Skip(length))) return 0;
        if (!r.U32(length) || !r.Skip(length)) return 0;
    }
    return r.at;
}

bool Head(const PKIBlob* entry, EntryHead& e)
{
    if (Empty(entry)) return false;
    FieldReader r{entry->data, entry->length};
    return ReadHead(r, e);
}

// The certificates of an entry (views into it), in their order.
bool ChainOf(std::uint32_t version, const PKIBlob* entry, std::vector<PKIBlob>& chain)
{
    if (Empty(entry)) return false;
    FieldReader r{entry->data, entry->length};
    EntryHead e;
    if (!ReadHead(r, e)) return false;
    std::uint32_t certificates = 1;
    if (e.tag == kTagKey && !r.U32(certificates)) return false;
    // Each certificate takes at least four bytes: the walk ends with the data.
    for (std::uint32_t i = 0; i < certificates; ++i) {
        std::uint32_t length = 0;
        if (version == 2 && (!r.U16(length) || !r.Skip(length))) return false;
        if (!r.U32(length)) return false;
        PKIBlob certificate{length, const_cast<std::uint8_t*>(r.p + r.at)};
        if (!r.Skip(length)) return false;
        chain.push_back(certificate);
    }
    return true;
}

// The alias in the Win32 layer's ANSI code page (through wide text); false
// when it does not convert.
bool AliasText(const EntryHead& e, std::string& text)
{
    text.clear();
    if (e.aliasLength == 0) return true;
    const char* utf8 = reinterpret_cast<const char*>(e.alias);
    const int n = static_cast<int>(e.aliasLength);
    int wide = MultiByteToWideChar(CP_UTF8, 0, utf8, n, nullptr, 0);
    if (wide <= 0) return false;
    std::vector<wchar_t> w(static_cast<std::size_t>(wide));
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, n, w.data(), wide) != wide) return false;
    int bytes = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    text.resize(static_cast<std::size_t>(bytes));
    if (WideCharToMultiByte(CP_ACP, 0, w.data(), wide, text.data(), bytes, nullptr, nullptr) != bytes) return false;
    // A text handed out ends at its first zero: an alias holding one cannot
    // be named again, so it is not taken.
    return text.find('\0') == std::string::npos;
}

// A text in memory from AllocateMemory (the caller frees it with FreeMemory).
bool HandOutText(SPKIFormats& f, const std::string& text, char** out)
{
    if (text.size() >= 0xFFFFFFFFull) return false;
    auto* memory = static_cast<char*>(f.AllocateMemory(static_cast<std::uint32_t>(text.size() + 1)));
    if (!memory) return false;
    std::memcpy(memory, text.c_str(), text.size() + 1);
    *out = memory;
    return true;
}

// A password-encrypted private key: 1 read (the key, or a container around
// it), 0 the data are not such a key (the next layout is tried), -1 they are
// but do not open (a wrong password ends the search) or a step failed.
int ReadEncryptedKey(SPKIFormats& f, const PKIBlob* data, const char* password, std::uint32_t check,
                     std::uint32_t* code, void** out)
{
    IPKIInterface* formats = f.GetFormatsInterface();
    ObjectRef encrypted;
    if (!CreateInto(formats, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, encrypted)) return -1;
    auto* entry = encrypted.As<IPKIPrivateKey>();
    if (entry->Decode(data) != PKI_OK) return 0;
    const char* secret = password ? password : "";
    ObjectRef opened;
    if (entry->Open(secret, opened.Out()) != PKI_OK || !opened) {
        opened.Reset();
        if (entry->OpenConverted(secret, opened.Out()) != PKI_OK || !opened) return -1;
    }
    ObjectRef key;
    if (!QueryInto(opened.As<IPKIObject>(), PKI_IID_KEY, key)) return -1;
    bool marked = false;
    {
        ObjectRef values;
        if (QueryInto(key.As<IPKIObject>(), PKI_IID_KEY_SET, values)) {
            LibraryBlob value(formats);
            const int rc = values.As<IPKIKeySet>()->GetValue(PKI_KEYSET_KEY_ATTRIBUTE, &value.blob);
            if (rc != PKI_OK && rc != PKI_E_ABSENT) return -1;
            marked = rc == PKI_OK;
        }
    }
    if (check && !marked) {
        // A key handed to a caller that expects a container goes into one,
        // with the CSP's standard S-box.
        CSP* csp = f.GetCSP();
        GOST28147PackedSBox sBox{};
        if (!csp || !csp->Parameters().GetStandardSBox(0, &sBox)) return -1;
        ObjectRef container;
        if (!f.CreateKeyContainerObject(container.Out())) return -1;
        ObjectRef keys;
        if (!QueryInto(container.As<IPKIObject>(), PKI_IID_KEY_SET, keys)) return -1;
        if (keys.As<IPKIKeySet>()->AddKey(key.As<IPKIObject>(), nullptr) != PKI_OK) return -1;
        if (container.As<IPKIKeyObject>()->SetSBox(reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK) return -1;
        *out = container.As<IPKIObject>();
        *container.Out() = nullptr;
    } else {
        *out = key.As<IPKIObject>();
        *key.Out() = nullptr;
    }
    *code = marked ? 1 : 2;
    return 1;
}

constexpr std::uint16_t kFileKeyLayouts = 0x4C51, kFileEncrypted = 0x5A42;
constexpr std::uint32_t kFileHeader = 6, kTrailerText = 64, kNameFieldsBytes = kTrailerText / 2;

// The derivation constant of protected key files (32 bytes, no terminator).
constexpr char kProtectedFileConstant[33] = "protected key file derivation v1";

std::uint32_t LE32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int HexDigit(std::uint8_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The parsed layout of a protected key file: views into the caller's blob.
struct ProtectedFile {
    std::uint16_t marker = 0;
    const std::uint8_t* payload = nullptr;
    std::uint32_t payloadLength = 0;
    std::uint32_t trailerLength = 0;                 // 0: no trailer
    std::uint8_t nameFields[kNameFieldsBytes] = {};  // still encrypted
};

bool ParseProtectedFile(const PKIBlob* blob, ProtectedFile& file)
{
    if (Empty(blob) || blob->length < kFileHeader) return false;
    const std::uint8_t* p = blob->data;
    file.marker = static_cast<std::uint16_t>(p[0] | p[1] << 8);
    if (file.marker != kFileKeyLayouts && file.marker != kFileEncrypted) return false;
    file.payloadLength = LE32(p + 2);
    if (!Inside(kFileHeader, file.payloadLength, blob->length)) return false;
    file.payload = p + kFileHeader;
    const std::uint64_t at = kFileHeader + static_cast<std::uint64_t>(file.payloadLength);
    if (at == blob->length) return true;
    if (!Inside(at, 4, blob->length)) return false;
    file.trailerLength = LE32(p + at);
    if (file.trailerLength < kTrailerText || !Inside(at + 4, file.trailerLength, blob->length)) return false;
    // Bytes past the trailer belong to no field: such a file is refused.
    if (at + 4 + file.trailerLength != blob->length) return false;
    for (std::uint32_t i = 0; i < kNameFieldsBytes; ++i) {
        const int high = HexDigit(p[at + 4 + 2 * i]), low = HexDigit(p[at + 5 + 2 * i]);
        if (high < 0 || low < 0) return false;
        file.nameFields[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

// Decrypts `data` in place with the key and start vector derived from the
// password (see the layout above).
bool DecryptWithPassword(CSP* csp, const char* password, std::uint8_t* data, std::uint32_t length)
{
    if (!csp) return false;
    GOST28147PackedSBox sBox{};
    if (!csp->Parameters().GetStandardSBox(0, &sBox)) return false;
    const std::uint8_t zero[32] = {};
    const char* secret = password ? password : "";
    Secret<32> first, key, vector;
    if (csp->HashGOST34311(reinterpret_cast<const std::uint8_t*>(secret), TextLength(secret), &sBox, zero,
                           first.bytes) != CSP_OK)
        return false;
    CSPHandle state = nullptr;
    if (csp->BeginHashGOST34311(&sBox, zero, &state) != CSP_OK) return false;
    const bool updated =
        csp->UpdateHashGOST34311(first.bytes, 32, &state) == CSP_OK &&
        csp->UpdateHashGOST34311(reinterpret_cast<const std::uint8_t*>(kProtectedFileConstant), 32, &state) == CSP_OK;
    // The hash state is ended on every path.
    if (csp->FinishHashGOST34311(key.bytes, &state) != CSP_OK || !updated) return false;
    if (csp->HashGOST34311(key.bytes, 32, &sBox, zero, vector.bytes) != CSP_OK) return false;
    return length == 0 || csp->DecryptCFBGOST28147(data, length, &sBox, key.bytes, vector.bytes) == CSP_OK;
}

// Signed data holding certificates only, in a content info, encoded: the
// library's encoding handed out as it is (released with ReleaseBlob).
bool BundleOf(IPKIInterface* formats, IPKIObject* signedData, PKIBlob* bundle)
{
    static const char kSignedData[] = "1.2.840.113549.1.7.2";
    ObjectRef info;
    if (!CreateInto(formats, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return false;
    auto* ci = info.As<IPKICMSContentInfo>();
    LibraryBlob out(formats);
    if (ci->SetContentType(kSignedData) != PKI_OK || ci->SetContentObject(signedData) != PKI_OK ||
        ci->Encode(&out.blob) != PKI_OK || !out.blob.data)
        return false;
    *bundle = out.blob;
    out.blob = PKIBlob{0, nullptr};
    return true;
}

// A new container (4893/4128) holding `key`, with the CSP's standard S-box
// when `withSBox` is set.
bool PutIntoContainer(SPKIFormats& f, IPKIObject* key, bool withSBox, void** out)
{
    ObjectRef container, keys;
    if (!f.CreateKeyContainerObject(container.Out()) || !QueryInto(container.As<IPKIObject>(), PKI_IID_KEY_SET, keys) ||
        keys.As<IPKIKeySet>()->AddKey(key, nullptr) != PKI_OK)
        return false;
    if (withSBox) {
        CSP* csp = f.GetCSP();
        GOST28147PackedSBox sBox{};
        if (!csp || !csp->Parameters().GetStandardSBox(0, &sBox) ||
            container.As<IPKIKeyObject>()->SetSBox(reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK)
            return false;
    }
    *out = container.As<IPKIObject>();
    *container.Out() = nullptr;
    return true;
}

}  // namespace

int SPKIFormats::ReadKeyStoreHeader(const PKIBlob* store, std::uint32_t* version, std::uint32_t* count,
                                    PKIBlob* entries)
{
    try {
        static const std::uint8_t kMagic[4] = {0xFE, 0xED, 0xFE, 0xED};
        if (Empty(store) || store->length < kStoreHeader || std::memcmp(store->data, kMagic, 4) != 0) return 0;
        FieldReader r{store->data, store->length, 4};
        std::uint32_t v = 0, n = 0;
        if (!r.U32(v) || (v != 1 && v != 2) || !r.U32(n)) return 0;
        // Every entry must be whole: the entries blob ends with the last one.
        std::uint64_t at = kStoreHeader;
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint64_t length = MeasureEntry(v, store->data + at, store->length - at);
            if (length == 0) return 0;
            at += length;
        }
        if (version) *version = v;
        if (count) *count = n;
        if (entries) *entries = PKIBlob{static_cast<std::uint32_t>(at - kStoreHeader), store->data + kStoreHeader};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyStoreEntry(std::uint32_t version, std::uint32_t offset, const PKIBlob* entries, PKIBlob* entry)
{
    try {
        if (!entries || !entries->data || !entry || offset >= entries->length) return 0;
        const std::uint64_t length = MeasureEntry(version, entries->data + offset, entries->length - offset);
        if (length == 0) return 0;
        *entry = PKIBlob{static_cast<std::uint32_t>(length), entries->data + offset};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindKeyStoreEntry(std::uint32_t version, const char* alias, const PKIBlob* entries, PKIBlob* entry)
{
    try {
        if (!entries || !entry) return 0;
        const std::size_t wanted = alias ? std::strlen(alias) : 0;
        for (std::uint32_t offset = 0; offset < entries->length;) {
            PKIBlob candidate{0, nullptr};
            if (!GetKeyStoreEntry(version, offset, entries, &candidate)) return 0;
            EntryHead head;
            if (!Head(&candidate, head)) return 0;
            bool match = false;
            if (alias) {
                // An alias that does not convert matches nothing.
                std::string text;
                match = AliasText(head, text) && text.size() == wanted && strnicmp(text.c_str(), alias, wanted) == 0;
            } else {
                match = head.tag == kTagKey;
            }
            if (match) {
                *entry = candidate;
                return 1;
            }
            offset += candidate.length;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::IsKeyStoreKeyEntry(const PKIBlob* entry, std::uint32_t* flag)
{
    try {
        EntryHead head;
        if (!flag || !Head(entry, head)) return 0;
        *flag = head.tag == kTagKey ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyStoreAlias(const PKIBlob* entry, char** alias)
{
    try {
        EntryHead head;
        std::string text;
        if (!alias || !Head(entry, head) || !AliasText(head, text)) return 0;
        return HandOutText(*this, text, alias) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyStoreKeyBytes(const PKIBlob* entry, PKIBlob* key)
{
    try {
        EntryHead head;
        if (!key || !Head(entry, head) || head.tag != kTagKey) return 0;
        *key = PKIBlob{head.keyLength, const_cast<std::uint8_t*>(head.key)};
        return 1;
    } catch (...) {
        return 0;
    }
}

// The entry's chain as a certificates-only signed data in a content info;
// the bundle is the library's encoding, released with ReleaseBlob.
int SPKIFormats::GetKeyStoreCertificates(std::uint32_t version, const PKIBlob* entry, PKIBlob* bundle)
{
    try {
        if (!bundle || bundle->data || !formats_) return 0;
        std::vector<PKIBlob> chain;
        if (!ChainOf(version, entry, chain)) return 0;
        ObjectRef signedData;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, signedData)) return 0;
        for (const PKIBlob& certificate : chain)
            if (!AttachCertificate(signedData.As<IPKIObject>(), &certificate)) return 0;
        return BundleOf(formats_, signedData.As<IPKIObject>(), bundle) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The container's certificate list as the same certificates-only bundle as
// a key store entry's chain; `count` (may be absent) takes the number of
// certificates. A container without certificates gives no bundle.
int SPKIFormats::GetContainerCertificates(IPKIObject* container, PKIBlob* bundle, std::uint32_t* count)
{
    try {
        if (!container || !bundle || bundle->data || !formats_) return 0;
        ObjectRef list, signedData;
        std::uint32_t n = 0;
        if (!QueryInto(container, PKI_IID_KEY_LIST, list) ||
            list.As<IPKICertificateListView>()->GetCertificateCount(PKI_KEY_LIST_CERTIFICATES, &n) != PKI_OK ||
            n == 0 || !CreateInto(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, signedData))
            return 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            ObjectRef certificate;
            if (list.As<IPKICertificateListView>()->GetCertificate(i, PKI_KEY_LIST_CERTIFICATES, certificate.Out()) !=
                    PKI_OK ||
                !certificate ||
                signedData.As<IPKISignedDataCertificates>()->AddCertificate(certificate.As<IPKIObject>()) != PKI_OK)
                return 0;
        }
        if (!BundleOf(formats_, signedData.As<IPKIObject>(), bundle)) return 0;
        if (count) *count = n;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetKeyStoreKeyAlias(const PKIBlob* store, std::uint32_t index, char** alias)
{
    try {
        std::uint32_t version = 0, count = 0;
        PKIBlob entries{0, nullptr};
        if (!alias || !ReadKeyStoreHeader(store, &version, &count, &entries)) return 0;
        std::uint32_t seen = 0;
        for (std::uint32_t offset = 0; offset < entries.length;) {
            PKIBlob entry{0, nullptr};
            EntryHead head;
            if (!GetKeyStoreEntry(version, offset, &entries, &entry) || !Head(&entry, head)) return 0;
            if (head.tag == kTagKey && seen++ == index) return GetKeyStoreAlias(&entry, alias);
            offset += entry.length;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

// The certificate bundle goes out only with the key: a key that does not
// open releases it.
int SPKIFormats::ReadKeyStoreEntry(const PKIBlob* store, const char* alias, const char* password, void** key,
                                   PKIBlob* bundle)
{
    try {
        // The key read below takes the next level of nesting.
        if ((bundle && bundle->data) || KeyFileLevel::Exhausted()) return 0;
        std::uint32_t version = 0, count = 0;
        PKIBlob entries{0, nullptr}, entry{0, nullptr}, keyBytes{0, nullptr};
        if (!ReadKeyStoreHeader(store, &version, &count, &entries) ||
            !FindKeyStoreEntry(version, alias, &entries, &entry) || !GetKeyStoreKeyBytes(&entry, &keyBytes))
            return 0;
        if (bundle && !GetKeyStoreCertificates(version, &entry, bundle)) return 0;
        ObjectRef read;
        if (!ReadKeyContainer(&keyBytes, password, read.Out())) {
            ReleaseBlob(bundle);
            return 0;
        }
        if (key) {
            *key = read.As<IPKIObject>();
            *read.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// ---- PKCS#12 files through the library's PFX object ----

int SPKIFormats::CreatePFX(void** pfx)
{
    try {
        if (!pfx) return 0;
        *pfx = nullptr;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, made)) return 0;
        *pfx = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// An integrity-protected file is handed out only when the password checks.
int SPKIFormats::DecodePFX(const PKIBlob* data, const char* password, void** pfx)
{
    try {
        if (!pfx) return 0;
        *pfx = nullptr;
        if (Empty(data)) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_KEY_CONTAINER, PKI_IID_KEY_CONTAINER, made)) return 0;
        auto* file = made.As<IPKIKeyContainer>();
        std::uint32_t isProtected = 0;
        if (file->Decode(data) != PKI_OK || file->IsProtected(&isProtected) != PKI_OK) return 0;
        if (isProtected && file->CheckPassword(password ? password : "") != PKI_OK) return 0;
        *pfx = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// One shrouded key bag: the key encrypted under the password (the
// encrypted key keeps no plain copy), in a bag added to the file.
int SPKIFormats::MakePFXKeyBag(IPKIObject* pfx, IPKIObject* key, const char* password)
{
    try {
        if (!pfx || !key) return 0;
        ObjectRef encrypted, bag;
        if (!CreateInto(formats_, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, encrypted) ||
            encrypted.As<IPKIPrivateKey>()->SetKey(key, password ? password : "") != PKI_OK ||
            !CreateInto(formats_, PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, bag) ||
            bag.As<IPKIEntryList>()->AddEntry(encrypted.As<IPKIObject>(), nullptr) != PKI_OK)
            return 0;
        return static_cast<IPKIKeyContainer*>(pfx)->AddItem(bag.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// A bag for every key of the container, in its order; a container without
// keys adds nothing and fails.
int SPKIFormats::AddPFXKeys(IPKIObject* pfx, IPKIObject* container, const char* password)
{
    try {
        if (!pfx || !container) return 0;
        ObjectRef list;
        if (!QueryInto(container, PKI_IID_KEY_LIST, list)) return 0;
        auto* keys = list.As<IPKICertificateListView>();
        std::uint32_t count = 0;
        if (keys->GetCertificateCount(PKI_KEY_LIST_KEYS, &count) != PKI_OK || count == 0) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef key;
            if (keys->GetKeyEntry(i, key.Out(), nullptr, nullptr, nullptr) != PKI_OK || !key ||
                !MakePFXKeyBag(pfx, key.As<IPKIObject>(), password))
                return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// One bag per certificate of the list (the certificates of an object's key
// list view, kind 1), in order; certificate bags are not encrypted, so no
// password is taken. A list without certificates adds nothing and fails.
int SPKIFormats::AddPFXCertificates(IPKIObject* pfx, IPKIObject* certificates)
{
    try {
        if (!pfx || !certificates) return 0;
        ObjectRef list;
        if (!QueryInto(certificates, PKI_IID_KEY_LIST, list)) return 0;
        auto* view = list.As<IPKICertificateListView>();
        std::uint32_t count = 0;
        if (view->GetCertificateCount(PKI_KEY_LIST_CERTIFICATES, &count) != PKI_OK || count == 0) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef certificate, bag;
            if (view->GetCertificate(i, PKI_KEY_LIST_CERTIFICATES, certificate.Out()) != PKI_OK || !certificate ||
                !CreateInto(formats_, PKI_CLASS_ENTRY_LIST, PKI_IID_ENTRY_LIST, bag) ||
                bag.As<IPKIEntryList>()->AddEntry(certificate.As<IPKIObject>(), nullptr) != PKI_OK ||
                static_cast<IPKIKeyContainer*>(pfx)->AddItem(bag.As<IPKIObject>()) != PKI_OK)
                return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// The file's value (0 leaves it as it is) and, with a password, its
// integrity protection under that password; then the encoding.
int SPKIFormats::SetPFXBagValue(IPKIObject* pfx, const char* password, std::uint32_t value, PKIBlob* out)
{
    try {
        if (!pfx || !out || out->data) return 0;
        auto* file = static_cast<IPKIKeyContainer*>(pfx);
        if (value && file->SetProtectionValue(value) != PKI_OK) return 0;
        if (password && file->SetPassword(PKI_PROTECT_WITH_PASSWORD, password) != PKI_OK) return 0;
        LibraryBlob encoded(formats_);
        if (file->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        return CopyOut(encoded.blob.data, encoded.blob.length, out);
    } catch (...) {
        return 0;
    }
}

// A new file with the key bags of `key` (a container) and the certificate
// bags of `certificates` (either may be absent, not both); with `encode` set
// the file is encoded into `out`, protected under the password when one is
// given; with it clear the file is only built, as a check, and `out` stays
// empty.
int SPKIFormats::MakePFX(IPKIObject* key, IPKIObject* certificates, const char* password, PKIBlob* out,
                         std::uint32_t encode)
{
    try {
        if ((!key && !certificates) || (encode && (!out || out->data))) return 0;
        ObjectRef pfx;
        if (!CreatePFX(pfx.Out()) || !pfx) return 0;
        if (key && !AddPFXKeys(pfx.As<IPKIObject>(), key, password)) return 0;
        if (certificates && !AddPFXCertificates(pfx.As<IPKIObject>(), certificates)) return 0;
        return encode ? SetPFXBagValue(pfx.As<IPKIObject>(), password, 0, out) : 1;
    } catch (...) {
        return 0;
    }
}

namespace {

// Each entry of each bag of a file, in order, with its attribute bytes (the
// local key identifier); `visit` answers 1 to stop with success, 0 to go on,
// -1 to fail. The walk answers the same, 0 when no entry stopped it.
template <typename Visit>
int ForEachBagEntry(IPKIInterface* formats, IPKIObject* pfx, Visit visit)
{
    auto* file = static_cast<IPKIKeyContainer*>(pfx);
    std::uint32_t items = 0;
    if (file->GetItemCount(&items) != PKI_OK) return -1;
    for (std::uint32_t i = 0; i < items; ++i) {
        ObjectRef bag;
        if (file->GetItem(i, bag.Out()) != PKI_OK || !bag) return -1;
        auto* list = bag.As<IPKIEntryList>();
        std::uint32_t entries = 0;
        if (list->GetEntryCount(&entries) != PKI_OK) return -1;
        for (std::uint32_t j = 0; j < entries; ++j) {
            ObjectRef entry;
            LibraryBlob attribute(formats);
            if (list->GetEntry(j, entry.Out(), &attribute.blob) != PKI_OK || !entry) return -1;
            const int answer = visit(entry.As<IPKIObject>(), attribute.blob);
            if (answer != 0) return answer;
        }
    }
    return 0;
}

bool SameBytes(const PKIBlob& a, const PKIBlob* b)
{
    return a.length == b->length && (a.length == 0 || std::memcmp(a.data, b->data, a.length) == 0);
}

}  // namespace

// The index-th key among the key bags that open with the password (as
// written, then read as Windows-1251 and re-encoded, as encrypted keys are
// read elsewhere); keys that do not open are passed over. The local key
// identifier is handed out when asked for ({0, null} when the bag has none).
int SPKIFormats::GetPFXKeyBag(IPKIObject* pfx, std::uint32_t index, const char* password, void** key,
                              PKIBlob* localKeyId)
{
    try {
        if (!pfx || !key || (localKeyId && localKeyId->data)) return 0;
        *key = nullptr;
        const char* given = password ? password : "";
        std::uint32_t seen = 0;
        ObjectRef found;
        const int answer = ForEachBagEntry(formats_, pfx, [&](IPKIObject* entry, const PKIBlob& attribute) {
            ObjectRef encrypted;
            if (!QueryInto(entry, PKI_IID_PRIVATE_KEY, encrypted)) return 0;
            auto* sealed = encrypted.As<IPKIPrivateKey>();
            ObjectRef opened;
            if (sealed->Open(given, opened.Out()) != PKI_OK || !opened) {
                opened.Reset();
                if (sealed->OpenConverted(given, opened.Out()) != PKI_OK || !opened) return 0;
            }
            if (seen++ != index) return 0;
            if (localKeyId && attribute.data && !CopyOut(attribute.data, attribute.length, localKeyId)) return -1;
            *found.Out() = opened.As<IPKIObject>();
            *opened.Out() = nullptr;
            return 1;
        });
        if (answer != 1) return 0;
        *key = found.As<IPKIObject>();
        *found.Out() = nullptr;
        return 1;
    } catch (...) {
        ReleaseBlob(localKeyId);
        return 0;
    }
}

// The index-th certificate among the certificate bags, counting only those
// whose local key identifier equals the given one when one is given.
int SPKIFormats::GetPFXCertificate(IPKIObject* pfx, const PKIBlob* localKeyId, std::uint32_t index, void** certificate)
{
    try {
        if (!pfx || !certificate) return 0;
        *certificate = nullptr;
        const bool filtered = localKeyId && localKeyId->data;
        std::uint32_t seen = 0;
        ObjectRef found;
        const int answer = ForEachBagEntry(formats_, pfx, [&](IPKIObject* entry, const PKIBlob& attribute) {
            ObjectRef held;
            if (!QueryInto(entry, PKI_IID_CERTIFICATE, held)) return 0;
            if ((filtered && !SameBytes(attribute, localKeyId)) || seen++ != index) return 0;
            *found.Out() = held.As<IPKIObject>();
            *held.Out() = nullptr;
            return 1;
        });
        if (answer != 1) return 0;
        *certificate = found.As<IPKIObject>();
        *found.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// Each listed certificate goes to the container key whose identifiers hold
// the certificate's subject key identifier (the same match as the key
// queries'); certificates without one, or of no key here, are passed over.
// A container with keys that lack parts export needs takes certificates
// only when its own check accepts them.
int SPKIFormats::AttachCertificatesToKeys(IPKIObject* container, IPKIObject* certificates)
{
    try {
        if (!container || !certificates) return 0;
        std::uint32_t incomplete = 1;
        if (!IsKeyIncomplete(container, &incomplete)) return 0;
        if (incomplete) {
            std::uint32_t accepted = 0;
            if (static_cast<IPKIKeyObject*>(container)->CheckIncompleteKeys(&accepted) != PKI_OK || !accepted) return 0;
        }
        ObjectRef keyList, certificateList;
        if (!QueryInto(container, PKI_IID_KEY_LIST, keyList) ||
            !QueryInto(certificates, PKI_IID_KEY_LIST, certificateList))
            return 0;
        auto* from = certificateList.As<IPKICertificateListView>();
        std::uint32_t count = 0;
        if (from->GetCertificateCount(PKI_KEY_LIST_CERTIFICATES, &count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef certificate;
            if (from->GetCertificate(i, PKI_KEY_LIST_CERTIFICATES, certificate.Out()) != PKI_OK || !certificate)
                return 0;
            std::uint8_t identifier[32];
            std::uint32_t index = 0;
            if (!SubjectKeyIdentifier32(certificate.As<IPKICertificate>(), identifier) ||
                !FindContainerKeyByIdentifier(container, identifier, &index))
                continue;
            if (keyList.As<IPKICertificateListView>()->SetKeyCertificate(index, certificate.As<IPKIObject>()) != PKI_OK)
                return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// Every private-key entry whose key opens as an encrypted private key with
// the password goes into one container, its chain into the container's
// certificate list; entries whose keys do not open, or that carry the
// library's attribute 4363, are passed over. The chain is read from the
// entry itself, the same certificates GetKeyStoreCertificates bundles.
int SPKIFormats::ReadKeyStoreKeys(const PKIBlob* store, const char* password, void** container)
{
    try {
        if (!container || !formats_) return 0;
        *container = nullptr;
        std::uint32_t version = 0, count = 0;
        PKIBlob entries{0, nullptr};
        if (!ReadKeyStoreHeader(store, &version, &count, &entries)) return 0;
        ObjectRef made, keySet, list;
        if (!CreateKeyContainerObject(made.Out()) || !made ||
            !QueryInto(made.As<IPKIObject>(), PKI_IID_KEY_SET, keySet) ||
            !QueryInto(made.As<IPKIObject>(), PKI_IID_KEY_LIST, list))
            return 0;
        const char* secret = password ? password : "";
        std::uint32_t added = 0;
        for (std::uint32_t i = 0;; ++i) {
            char* alias = nullptr;
            if (!GetKeyStoreKeyAlias(store, i, &alias)) break;
            PKIBlob entry{0, nullptr}, keyBytes{0, nullptr};
            const bool found = FindKeyStoreEntry(version, alias, &entries, &entry) != 0;
            FreeMemory(alias);
            std::vector<PKIBlob> chain;
            if (!found || !GetKeyStoreKeyBytes(&entry, &keyBytes) || !ChainOf(version, &entry, chain)) return 0;
            ObjectRef encrypted, opened, key, values;
            if (!CreateInto(formats_, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, encrypted)) return 0;
            auto* sealed = encrypted.As<IPKIPrivateKey>();
            if (sealed->Decode(&keyBytes) != PKI_OK) continue;
            if (sealed->Open(secret, opened.Out()) != PKI_OK || !opened) {
                opened.Reset();
                if (sealed->OpenConverted(secret, opened.Out()) != PKI_OK || !opened) continue;
            }
            if (!QueryInto(opened.As<IPKIObject>(), PKI_IID_KEY, key)) return 0;
            if (QueryInto(key.As<IPKIObject>(), PKI_IID_KEY_SET, values)) {
                LibraryBlob value(formats_);
                const int rc = values.As<IPKIKeySet>()->GetValue(PKI_KEYSET_KEY_ATTRIBUTE, &value.blob);
                if (rc == PKI_OK) continue;
                if (rc != PKI_E_ABSENT) return 0;
            }
            if (keySet.As<IPKIKeySet>()->AddKey(key.As<IPKIObject>(), nullptr) != PKI_OK) return 0;
            ++added;
            for (const PKIBlob& bytes : chain) {
                ObjectRef certificate;
                if (!CreateInto(formats_, PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, certificate) ||
                    certificate.As<IPKICertificate>()->Decode(&bytes) != PKI_OK ||
                    list.As<IPKICertificateListView>()->AddCertificate(certificate.As<IPKIObject>()) != PKI_OK)
                    return 0;
            }
        }
        if (added == 0) return 0;
        GOST28147PackedSBox sBox{};
        if (!AttachCertificatesToKeys(made.As<IPKIObject>(), made.As<IPKIObject>()) || !csp_ ||
            !csp_->Parameters().GetStandardSBox(0, &sBox) ||
            made.As<IPKIKeyObject>()->SetSBox(reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK)
            return 0;
        *container = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::WrapPrivateKey(IPKIObject* key, const char* password, PKIBlob* out)
{
    try {
        if (!key || !out || out->data) return 0;
        ObjectRef encrypted;
        if (!CreateInto(formats_, PKI_CLASS_PRIVATE_KEY, PKI_IID_PRIVATE_KEY, encrypted)) return 0;
        auto* entry = encrypted.As<IPKIPrivateKey>();
        LibraryBlob encoded(formats_);
        if (entry->SetFormat(0) != PKI_OK || entry->SetKey(key, password ? password : "") != PKI_OK ||
            entry->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data)
            return 0;
        return CopyOut(encoded.blob.data, encoded.blob.length, out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeProtectedKey(const PKIBlob* blob, const char* password, void** container, PKIBlob* names)
{
    try {
        if (!container || (names && names->data)) return 0;
        ProtectedFile file;
        if (!ParseProtectedFile(blob, file) || !formats_) return 0;
        ObjectRef read;
        if (file.marker == kFileEncrypted) {
            LibraryBlob plain(formats_);
            if (formats_->AllocateBlob(&plain.blob, file.payloadLength) != PKI_OK ||
                (file.payloadLength && !plain.blob.data))
                return 0;
            if (file.payloadLength) std::memcpy(plain.blob.data, file.payload, file.payloadLength);
            if (!DecryptWithPassword(csp_, password, plain.blob.data, file.payloadLength)) return 0;
            // A wrong password leaves bytes that do not decode: nothing opens.
            if (!CreateInto(formats_, PKI_CLASS_KEY, PKI_IID_KEY, read) ||
                read.As<IPKIKeyObject>()->Decode(&plain.blob) != PKI_OK)
                return 0;
        } else {
            // The payload is read at the next level of nesting.
            if (KeyFileLevel::Exhausted()) return 0;
            LibraryBlob inner(formats_);
            if (formats_->AllocateBlob(&inner.blob, file.payloadLength) != PKI_OK ||
                (file.payloadLength && !inner.blob.data))
                return 0;
            if (file.payloadLength) std::memcpy(inner.blob.data, file.payload, file.payloadLength);
            if (!ReadKeyContainer(&inner.blob, password, read.Out()) || !read) return 0;
            if (names && file.trailerLength > 7) {
                Secret<kNameFieldsBytes> fields;
                std::memcpy(fields.bytes, file.nameFields, kNameFieldsBytes);
                if (!DecryptWithPassword(csp_, password, fields.bytes, kNameFieldsBytes) ||
                    !CopyOut(fields.bytes, kNameFieldsBytes, names))
                    return 0;
            }
        }
        *container = read.As<IPKIObject>();
        *read.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

// A decoded container with exactly one key and no certificate is rebuilt
// around that key; anything else goes into a new container with the CSP's
// standard S-box. The name fields are not asked for: no slot of the
// container takes them.
int SPKIFormats::ReadProtectedKeyFile(const PKIBlob* blob, const char* password, void** container)
{
    try {
        if (!container) return 0;
        ObjectRef decoded;
        if (!DecodeProtectedKey(blob, password, decoded.Out(), nullptr) || !decoded) return 0;
        ObjectRef list;
        if (QueryInto(decoded.As<IPKIObject>(), PKI_IID_KEY_LIST, list)) {
            auto* view = list.As<IPKICertificateListView>();
            std::uint32_t keys = 0, certificates = 0;
            if (view->GetCertificateCount(PKI_KEY_LIST_KEYS, &keys) != PKI_OK ||
                view->GetCertificateCount(PKI_KEY_LIST_CERTIFICATES, &certificates) != PKI_OK)
                return 0;
            if (keys == 1 && certificates == 0) {
                ObjectRef key;
                if (view->GetKeyEntry(0, key.Out(), nullptr, nullptr, nullptr) != PKI_OK || !key) return 0;
                return PutIntoContainer(*this, key.As<IPKIObject>(), false, container) ? 1 : 0;
            }
        }
        return PutIntoContainer(*this, decoded.As<IPKIObject>(), true, container) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// Layouts in order: a password-encrypted private key (code 2, or 1 for a
// key that carries the library's attribute 4363), a key store read as a
// whole (6), the protected key file (5), a key store's first private-key
// entry (6), a marked blob (its own code). A wrong password for an
// encrypted key ends the search; data that are not one go on to the next
// layout. PKCS#12 files (3, 4) take their place after the encrypted key as
// they land.
int SPKIFormats::ReadPrivateKeyAnyFormat(const PKIBlob* data, const char* password, std::uint32_t check,
                                         std::uint32_t* format, void** container)
{
    try {
        if (Empty(data) || !container || !formats_) return 0;
        KeyFileLevel level;
        if (!level) return 0;
        std::uint32_t code = 0;
        void* read = nullptr;
        const int encrypted = ReadEncryptedKey(*this, data, password, check, &code, &read);
        if (encrypted < 0) return 0;
        if (encrypted == 0 && ReadKeyStoreKeys(data, password, &read))
            code = 6;
        else if (encrypted == 0 && ReadProtectedKeyFile(data, password, &read))
            code = 5;
        else if (encrypted == 0 && ReadKeyStoreEntry(data, nullptr, password, &read, nullptr))
            code = 6;
        if (!read) return ReadMarkedBlob(data, password, format, container);
        *container = read;
        if (format) *format = code;
        return 1;
    } catch (...) {
        return 0;
    }
}
