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
#include <cstring>
#include <string>
#include <vector>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/KeyFileDepth.h"
#include "pkiformats/SPKIFormats.h"
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

// The certificate bundle of an entry comes with the bundle writer; until
// then a caller that asks for it is refused rather than handed a key alone.
int SPKIFormats::ReadKeyStoreEntry(const PKIBlob* store, const char* alias, const char* password, void** key,
                                   PKIBlob* bundle)
{
    try {
        // The key read below takes the next level of nesting.
        if (bundle || KeyFileLevel::Exhausted()) return 0;
        std::uint32_t version = 0, count = 0;
        PKIBlob entries{0, nullptr}, entry{0, nullptr}, keyBytes{0, nullptr};
        if (!ReadKeyStoreHeader(store, &version, &count, &entries) ||
            !FindKeyStoreEntry(version, alias, &entries, &entry) || !GetKeyStoreKeyBytes(&entry, &keyBytes))
            return 0;
        ObjectRef read;
        if (!ReadKeyContainer(&keyBytes, password, read.Out())) return 0;
        if (key) {
            *key = read.As<IPKIObject>();
            *read.Out() = nullptr;
        }
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

// Layouts in order: a password-encrypted private key (code 2, or 1 for a
// key that carries the library's attribute 4363), a key store's first
// private-key entry (6), a marked blob (its own code). A wrong password for
// an encrypted key ends the search; data that are not one go on to the next
// layout. PKCS#12 files (3, 4), the key store read as a whole (6) and the
// protected key file (5) take their places in this order as they land.
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
        if (encrypted == 0 && ReadKeyStoreEntry(data, nullptr, password, &read, nullptr)) code = 6;
        if (!read) return ReadMarkedBlob(data, password, format, container);
        *container = read;
        if (format) *format = code;
        return 1;
    } catch (...) {
        return 0;
    }
}
