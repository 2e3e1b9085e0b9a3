// Holder data areas filled from requests and compared by layout version, the
// alternative-name URI, and the certificate information record. Every field
// of the area is written and compared within its own size from the holder
// data table; a text that does not fit its field is refused.
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>

#include "pkiformats/CertificateInfo.h"
#include "pkiformats/HolderDataLayout.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

enum : std::uint32_t { kUriBytes = 257, kSerialTextBytes = 3 * 20 + 1 };

// The attributes the request's directory attributes fill, in reading order.
constexpr const char* kRequestAttributeOids[] = {"1.2.804.2.1.1.1.11.1.4.2.1", "1.2.804.2.1.1.1.11.1.4.1.1",
                                                 "1.2.804.2.1.1.1.11.1.4.3.1", "1.2.804.2.1.1.1.11.1.4.4.1",
                                                 "1.2.804.2.1.1.1.11.1.4.5.1", "1.2.804.2.1.1.1.11.1.4.6.1",
                                                 "1.2.804.2.1.1.1.11.1.4.7.1", "1.2.804.2.1.1.1.11.1.4.11.1"};
constexpr HolderField kRequestAttributeFields[] = {
    HolderField::Attribute421, HolderField::Attribute411, HolderField::Attribute431, HolderField::Attribute441,
    HolderField::Attribute451, HolderField::Attribute461, HolderField::Attribute471, HolderField::Attribute4111};
static_assert(sizeof kRequestAttributeOids / sizeof *kRequestAttributeOids ==
              sizeof kRequestAttributeFields / sizeof *kRequestAttributeFields);

// Texts compared whatever the layout versions and the lenient flag.
constexpr HolderField kAlwaysCompared[] = {
    HolderField::CommonName,   HolderField::Locality,     HolderField::State,        HolderField::Organisation,
    HolderField::Unit,         HolderField::Title,        HolderField::AltName5,     HolderField::AltName4,
    HolderField::AltName1,     HolderField::AltName2,     HolderField::Surname,      HolderField::GivenName,
    HolderField::TextA,        HolderField::TextB,        HolderField::Attribute421, HolderField::Attribute411,
    HolderField::Attribute441, HolderField::Attribute431,
};

// Words that only the strict comparison looks at.
bool StrictOnly(HolderField f)
{
    return f == HolderField::WordA || f == HolderField::WordB || f == HolderField::RemovableParts;
}

// The layout version an area states; an area that states none (a request's
// area before its caller sets it) is of layout 1.
bool AreaVersion(const std::uint8_t* area, std::uint32_t* version)
{
    std::uint32_t v = Get32(area, HolderOffset(HolderField::Version));
    if (v == 0) v = 1;
    if (v > kHolderLayoutVersions) return false;
    *version = v;
    return true;
}

}  // namespace

int SPKIFormats::HolderDataEqual(const std::uint8_t* x, const std::uint8_t* y, std::uint32_t lenient)
{
    try {
        if (!x || !y) return 0;
        for (HolderField f : kAlwaysCompared)
            if (!FieldsEqual(x, y, HolderRow(f))) return 0;
        if (!lenient && !FieldsEqual(x, y, HolderRow(HolderField::WordA))) return 0;
        std::uint32_t vx = 0, vy = 0;
        if (!AreaVersion(x, &vx) || !AreaVersion(y, &vy)) return 0;
        const std::uint32_t v = vx < vy ? vx : vy;
        const std::uint8_t* higher = vx < vy ? y : x;
        // The lenient comparison ends with the attribute .4.11.1 (layout 5).
        const std::uint32_t last = lenient ? 5 : kHolderLayoutVersions;
        for (const HolderFieldRow& r : kHolderFields) {
            if (r.version < 2 || r.version > last || r.field == HolderField::Version) continue;
            if (lenient && StrictOnly(r.field)) continue;
            if (r.version <= v) {
                if (!FieldsEqual(x, y, r)) return 0;
            } else if (!FieldEmpty(higher, r)) {
                return 0;
            }
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

// The last alternative name of kind 6, at most kUriBytes with its
// terminator; a longer one is refused and the output stays empty.
int SPKIFormats::GetAltNameURI(IPKIObject* object, char* uri)
{
    try {
        if (uri) uri[0] = 0;
        if (!formats_ || !object) return 0;
        // A certificate answers its own interface; anything without it is a request.
        ObjectRef names, certificate;
        int rc = object->QueryInterface(PKI_IID_CERTIFICATE, certificate.Out());
        if (rc != PKI_OK && rc != PKI_E_NO_INTERFACE) return 0;
        rc = rc == PKI_OK && certificate ? certificate.As<IPKICertificate>()->GetAltNames(names.Out())
                                         : static_cast<IPKIRequest*>(object)->GetAltNames(names.Out());
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != PKI_OK || !names) return 0;
        auto* list = names.As<IPKIGeneralNames>();
        std::uint32_t count = 0;
        if (list->GetCount(&count) != PKI_OK) return 0;
        char found[kUriBytes] = {0};
        for (std::uint32_t i = 0; i < count; ++i) {
            std::uint32_t kind = 0;
            if (list->GetKind(i, &kind) != PKI_OK) return 0;
            if (kind != 6) continue;
            wchar_t wide[kUriBytes] = {0};
            std::uint32_t length = kUriBytes;
            if (list->GetText(i, wide, &length) != PKI_OK || length >= kUriBytes) return 0;
            wide[length] = 0;
            // Windows-1251 gives one byte per wide character: the text fits.
            char text[kUriBytes] = {0};
            if (formats_->WideToText(wide, text) != PKI_OK || std::strlen(text) != length) return 0;
            std::memcpy(found, text, length + 1);
        }
        if (uri) std::memcpy(uri, found, std::strlen(found) + 1);
        return 1;
    } catch (...) {
        if (uri) uri[0] = 0;
        return 0;
    }
}

int SPKIFormats::ReadHolderDataFromRequest(const PKIBlob* request, std::uint32_t* hasSubject, std::uint8_t* holderData)
{
    const std::uint32_t cleared = HolderBlockLength(kHolderLayoutVersions);
    try {
        if (hasSubject) *hasSubject = 0;
        if (holderData) std::memset(holderData, 0, cleared);
        if (!formats_ || !request) return 0;
        ObjectRef object;
        if (!DecodeObject4873(request, object.Out()) || !object) return 0;
        auto* r = object.As<IPKIRequest>();
        if (r->CheckContent() != PKI_OK) return 0;

        // The texts come into buffers of their own first: only what fits its
        // field goes into the area.
        auto subject = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        auto an5 = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        auto an4 = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        auto an2 = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        auto an1 = std::make_unique<char[]>(PKIF_NAME_TEXT_BYTES);
        bool read = GetRequestFieldTexts(object.As<IPKIObject>(), subject.get(), an5.get(), an4.get(), an2.get(),
                                         an1.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, nullptr, nullptr, 0) != 0;
        for (char* text : {subject.get(), an5.get(), an4.get(), an2.get(), an1.get()})
            text[PKIF_NAME_TEXT_BYTES - 1] = 0;
        if (read && holderData) {
            read = PutFieldText(holderData, HolderField::AltName5, an5.get()) &&
                   PutFieldText(holderData, HolderField::AltName4, an4.get()) &&
                   PutFieldText(holderData, HolderField::AltName2, an2.get()) &&
                   PutFieldText(holderData, HolderField::AltName1, an1.get());
            char* outputs[sizeof kRequestAttributeFields / sizeof *kRequestAttributeFields];
            for (std::size_t i = 0; i < sizeof outputs / sizeof *outputs; ++i)
                outputs[i] = reinterpret_cast<char*>(holderData + HolderOffset(kRequestAttributeFields[i]));
            read = read &&
                   ReadDirectoryAttributes(object.As<IPKIObject>(), sizeof outputs / sizeof *outputs,
                                           kRequestAttributeOids, outputs) &&
                   GetAltNameURI(object.As<IPKIObject>(),
                                 reinterpret_cast<char*>(holderData + HolderOffset(HolderField::AltName6)));
        }
        object.Reset();
        if (!read) {
            if (holderData) std::memset(holderData, 0, cleared);
            return 0;
        }
        const bool named = subject[0] != 0;
        if (named && holderData) {
            char serial[PKI_NAME_SERIAL_CHARS] = {0};
            auto at = [&](HolderField f) { return reinterpret_cast<char*>(holderData + HolderOffset(f)); };
            static_assert(HolderCapacity(HolderField::Country) == PKI_NAME_COUNTRY_CHARS &&
                          HolderCapacity(HolderField::State) == PKI_NAME_STATE_CHARS &&
                          HolderCapacity(HolderField::Locality) == PKI_NAME_LOCALITY_CHARS &&
                          HolderCapacity(HolderField::Organisation) == PKI_NAME_ORGANISATION_CHARS &&
                          HolderCapacity(HolderField::Unit) == PKI_NAME_UNIT_CHARS &&
                          HolderCapacity(HolderField::CommonName) == PKI_NAME_COMMON_NAME_CHARS &&
                          HolderCapacity(HolderField::Surname) == PKI_NAME_SURNAME_CHARS &&
                          HolderCapacity(HolderField::GivenName) == PKI_NAME_GIVEN_NAME_CHARS &&
                          HolderCapacity(HolderField::Title) == PKI_NAME_TITLE_CHARS);
            ParseNameText(subject.get(), serial, at(HolderField::Country), at(HolderField::State),
                          at(HolderField::Locality), at(HolderField::Organisation), at(HolderField::Unit),
                          at(HolderField::CommonName), at(HolderField::Surname), at(HolderField::GivenName),
                          at(HolderField::Title));
        }
        if (hasSubject) *hasSubject = named ? 1 : 0;
        return 1;
    } catch (...) {
        if (hasSubject) *hasSubject = 0;
        if (holderData) std::memset(holderData, 0, cleared);
        return 0;
    }
}

// ---- Certificate information ----

namespace {

char* OwnedCopy(const std::string& text)
{
    auto* copy = new char[text.size() + 1];
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// The texts in record order.
constexpr char* CertificateInfo::*kInfoTexts[kCertificateInfoTexts] = {
    &CertificateInfo::issuerName,      &CertificateInfo::issuerCommonName,  &CertificateInfo::serialNumber,
    &CertificateInfo::subjectName,     &CertificateInfo::subjectCommonName, &CertificateInfo::subjectOrganisation,
    &CertificateInfo::subjectUnit,     &CertificateInfo::subjectTitle,      &CertificateInfo::subjectState,
    &CertificateInfo::subjectLocality, &CertificateInfo::subjectPersonName, &CertificateInfo::altName5,
    &CertificateInfo::altName4,        &CertificateInfo::altName1,          &CertificateInfo::altName2,
    &CertificateInfo::attribute421,    &CertificateInfo::attribute411};

// The 20-byte value of an encoded INTEGER, right-aligned; false for one that
// is longer or not an INTEGER.
bool SerialValue(const PKIBlob& integer, std::uint8_t* serial)
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

}  // namespace

int SPKIFormats::FillCertificateInfo(CertificateInfo* info, IPKIObject* certificate)
{
    try {
        if (!info) return 0;
        std::memset(info, 0, sizeof *info);
        if (!formats_ || !certificate) return 0;
        constexpr std::uint32_t n = PKIF_NAME_TEXT_BYTES;
        auto issuer = std::make_unique<char[]>(n);
        LibraryBlob serialNumber(formats_);
        if (!GetObjectNameText(certificate, issuer.get(), &serialNumber.blob, nullptr, nullptr)) return 0;
        std::uint8_t serial[20];
        if (!SerialValue(serialNumber.blob, serial)) return 0;

        enum { kSubject, kAn5, kAn4, kAn2, kAn1, kD1, kD2, kCount };
        std::unique_ptr<char[]> t[kCount];
        for (auto& b : t) b = std::make_unique<char[]>(n);
        if (!GetCertificateFieldTexts(certificate, t[kSubject].get(), nullptr, nullptr, 0, t[kAn5].get(), t[kAn4].get(),
                                      t[kAn2].get(), t[kAn1].get(), t[kD1].get(), t[kD2].get(), nullptr, nullptr,
                                      nullptr, nullptr, nullptr, nullptr))
            return 0;
        for (auto& b : t) b[n - 1] = 0;
        char serialText[kSerialTextBytes] = {0};
        if (!Serial20ToText(serial, 0, serialText)) return 0;

        char serialName[PKI_NAME_SERIAL_CHARS] = {}, country[PKI_NAME_COUNTRY_CHARS] = {},
             state[PKI_NAME_STATE_CHARS] = {}, locality[PKI_NAME_LOCALITY_CHARS] = {},
             organisation[PKI_NAME_ORGANISATION_CHARS] = {}, unit[PKI_NAME_UNIT_CHARS] = {},
             commonName[PKI_NAME_COMMON_NAME_CHARS] = {}, surname[PKI_NAME_SURNAME_CHARS] = {},
             givenName[PKI_NAME_GIVEN_NAME_CHARS] = {}, title[PKI_NAME_TITLE_CHARS] = {};
        ParseNameText(issuer.get(), serialName, country, state, locality, organisation, unit, commonName, surname,
                      givenName, title);
        const std::string issuerCommonName = commonName;
        commonName[0] = 0;
        ParseNameText(t[kSubject].get(), serialName, country, state, locality, organisation, unit, commonName, surname,
                      givenName, title);

        const std::string texts[kCertificateInfoTexts] = {issuer.get(),
                                                          issuerCommonName,
                                                          serialText,
                                                          t[kSubject].get(),
                                                          commonName,
                                                          organisation,
                                                          unit,
                                                          title,
                                                          state,
                                                          locality,
                                                          std::string(surname) + " " + givenName,
                                                          t[kAn5].get(),
                                                          t[kAn4].get(),
                                                          t[kAn1].get(),
                                                          t[kAn2].get(),
                                                          t[kD1].get(),
                                                          t[kD2].get()};
        std::unique_ptr<char[]> owned[kCertificateInfoTexts];
        for (unsigned i = 0; i < kCertificateInfoTexts; ++i) owned[i].reset(OwnedCopy(texts[i]));
        for (unsigned i = 0; i < kCertificateInfoTexts; ++i) info->*kInfoTexts[i] = owned[i].release();
        info->filled = 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FreeCertificateInfo(CertificateInfo* info)
{
    try {
        if (!info) return 0;
        for (auto text : kInfoTexts) delete[](info->*text);
        std::memset(info, 0, sizeof *info);
        return 0;
    } catch (...) {
        return 0;
    }
}

// ---- Certificate reference records ----

namespace {

enum : std::uint32_t {
    kKeyValueBytes = 32,
    kKeysShort = 112,  // up to three values
    kKeysFull = 144,   // four values
    kCertificatesShort = 216,
    kCertificatesFull = 304,
    kGOSTHashBytes = 32,
    kSHASlotBytes = 64,
    kSHA1Bytes = 20,
    kSerialBytes = 20,
    kEntryKindGOST = 1,  // DSTU 4145 certificate: GOST 34.311 issuer-name hash
    kEntryKindSHA = 2,   // RSA or ECDSA certificate: SHA-1 issuer-name hash
};

struct Entry {
    std::uint32_t kind = 0;
    std::uint8_t hash[kSHASlotBytes] = {0};
    std::uint8_t serial[kSerialBytes] = {0};
};

// The three caller words at the record's end.
void PutWords(std::uint8_t* p, std::uint32_t size, std::uint32_t w1, std::uint32_t w2, std::uint32_t w3)
{
    Put32(p, size - 12, w1);
    Put32(p, size - 8, w2);
    Put32(p, size - 4, w3);
}

// A companion read: present, absent, or a failed read.
bool Companion(int rc, ObjectRef& object, bool& present)
{
    present = rc == PKI_OK && object;
    return rc == PKI_OK || rc == PKI_E_ABSENT || rc == PKI_E_NOT_IMPLEMENTED || rc == PKI_E_NO_INTERFACE;
}

}  // namespace

int SPKIFormats::MakeReferenceRecord(IPKIObject* certificate, IPKIObject* key, std::uint32_t count,
                                     const std::uint8_t* const* values, std::uint32_t word1, std::uint32_t word2,
                                     std::uint32_t word3, PKIBlob* out)
{
    try {
        if (!formats_ || !out) return 0;
        if (!certificate) {
            // A key lists its own identifiers (at most four); without one the
            // caller's values are taken.
            std::uint8_t ids[PKIF_KEY_IDENTIFIERS_BYTES] = {0};
            static_assert(PKIF_KEY_IDENTIFIERS_BYTES == 4 * kKeyValueBytes);
            if (key) {
                std::uint32_t listed = 0;
                if (!ListKeyIdentifiers(key, PKIF_KEY_IDENTIFIERS_MAX, &listed, ids)) return 0;
                count = listed < PKIF_KEY_IDENTIFIERS_MAX ? listed : PKIF_KEY_IDENTIFIERS_MAX;
                if (count < 1) return 0;
            } else {
                if (!values || count < 1 || count > 4) return 0;
                for (std::uint32_t i = 0; i < count; ++i) {
                    if (!values[i]) return 0;
                    std::memcpy(ids + i * kKeyValueBytes, values[i], kKeyValueBytes);
                }
            }
            PKIBlob work{0, nullptr};
            if (!AllocateBlob(&work, kKeysFull)) return 0;
            std::memset(work.data, 0, kKeysFull);
            Put32(work.data, 0, count);
            std::memcpy(work.data + 4, ids, count * kKeyValueBytes);
            PutWords(work.data, kKeysFull, word1, word2, word3);
            if (count == 4) {
                *out = work;
                return 1;
            }
            PKIBlob record{0, nullptr};
            if (!AllocateBlob(&record, kKeysShort)) {
                ReleaseBlob(&work);
                return 0;
            }
            std::memset(record.data, 0, kKeysShort);
            std::memcpy(record.data, work.data, 4 + 3 * kKeyValueBytes);
            PutWords(record.data, kKeysShort, word1, word2, word3);
            ReleaseBlob(&work);
            *out = record;
            return 1;
        }

        // The certificate, then its companions, each one when present.
        Entry entries[4];
        std::uint32_t n = 0, perKind[3] = {0, 0, 0};
        auto visit = [&](IPKIObject* object) -> bool {
            auto* c = static_cast<IPKICertificate*>(object);
            auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
            std::uint32_t length = kWideNameChars;
            if (c->GetIssuerText(wide.get(), &length) != PKI_OK || length >= kWideNameChars) return false;
            wide[length] = 0;
            ObjectRef name;
            if (c->GetIssuer(name.Out()) != PKI_OK || !name) return false;
            std::uint32_t family = 0, version = 0;
            if (c->GetKeyKind(&family) != PKI_OK || formats_->GetVersion(&version) != PKI_OK) return false;
            std::uint32_t kind = 0;
            if (family == 1) kind = kEntryKindGOST;
            if (family == 2 || family == 4) kind = kEntryKindSHA;
            if (kind == 0 || perKind[kind] >= 2 || n >= 4) return false;
            Entry& e = entries[n];
            e.kind = kind;
            int rc;
            if (kind == kEntryKindGOST)
                rc = version < 261 ? formats_->HashNameGOST34311(wide.get(), e.hash)
                                   : formats_->HashNameObjectGOST34311(name.As<IPKIObject>(), e.hash);
            else
                rc = version < 257 ? formats_->HashNameSHA(wide.get(), 160, e.hash)
                                   : formats_->HashNameObjectSHA(name.As<IPKIObject>(), 160, e.hash);
            if (rc != PKI_OK) return false;
            LibraryBlob serial(formats_);
            if (c->GetSerial(&serial.blob) != PKI_OK || !SerialValue(serial.blob, e.serial)) return false;
            ++perKind[kind];
            ++n;
            return true;
        };
        if (!visit(certificate)) return 0;
        auto* own = static_cast<IPKICertificate*>(certificate);
        ObjectRef inner, rsa, ec;
        bool present = false;
        if (!Companion(own->GetInnerCertificate(inner.Out()), inner, present)) return 0;
        if (present && !visit(inner.As<IPKIObject>())) return 0;
        if (!Companion(own->GetRSAView(rsa.Out()), rsa, present)) return 0;
        if (present && !visit(rsa.As<IPKIObject>())) return 0;
        *ec.Out() = GetECCertificate(certificate);
        if (ec && !visit(ec.As<IPKIObject>())) return 0;

        PKIBlob work{0, nullptr};
        if (!AllocateBlob(&work, kCertificatesFull)) return 0;
        std::uint8_t* p = work.data;
        std::memset(p, 0, kCertificatesFull);
        Put32(p, 0, n);
        std::uint32_t gost = 0, sha = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            Put32(p, 4 + 4 * i, entries[i].kind);
            if (entries[i].kind == kEntryKindGOST)
                std::memcpy(p + 20 + kGOSTHashBytes * gost++, entries[i].hash, kGOSTHashBytes);
            else
                std::memcpy(p + 84 + kSHASlotBytes * sha++, entries[i].hash, kSHA1Bytes);
            std::memcpy(p + 212 + kSerialBytes * i, entries[i].serial, kSerialBytes);
        }
        PutWords(p, kCertificatesFull, word1, word2, word3);
        if (perKind[kEntryKindSHA] > 1 || n == 4) {
            *out = work;
            return 1;
        }
        PKIBlob record{0, nullptr};
        if (!AllocateBlob(&record, kCertificatesShort)) {
            ReleaseBlob(&work);
            return 0;
        }
        std::uint8_t* r = record.data;
        std::memset(r, 0, kCertificatesShort);
        std::uint32_t copied = 0, gostCopied = 0;
        for (std::uint32_t i = 0; i < n; ++i) {
            Put32(r, 4 + 4 * i, entries[i].kind);
            std::memcpy(r + 144 + kSerialBytes * i, entries[i].serial, kSerialBytes);
        }
        // Hashes in entry order; the first SHA-1 hash takes the one 64-byte
        // slot and ends the copying.
        for (std::uint32_t i = 0; i < n; ++i) {
            if (entries[i].kind == kEntryKindGOST) {
                std::memcpy(r + 16 + kGOSTHashBytes * gostCopied++, entries[i].hash, kGOSTHashBytes);
                ++copied;
            } else {
                std::memcpy(r + 80, entries[i].hash, kSHA1Bytes);
                ++copied;
                break;
            }
        }
        Put32(r, 0, copied);
        PutWords(r, kCertificatesShort, word1, word2, word3);
        ReleaseBlob(&work);
        *out = record;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeReferenceRecordForValue(IPKIObject* certificate, IPKIObject* key, const std::uint8_t* value,
                                             std::uint32_t word1, std::uint32_t word2, std::uint32_t word3,
                                             PKIBlob* out)
{
    try {
        const std::uint8_t* const list[1] = {value};
        return MakeReferenceRecord(certificate, key, value ? 1 : 0, value ? list : nullptr, word1, word2, word3, out);
    } catch (...) {
        return 0;
    }
}
