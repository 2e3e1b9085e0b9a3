// Holder types of the authority's profile: names, role codes, key usages and
// extended key usages (built in and configured in the registry), validity
// checks, the holder-type test of a certificate and file names.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "pkiformats/HolderProfiles.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

const char kOidTimeStamping[] = "1.3.6.1.5.5.7.3.8";
const char kOidOCSP[] = "1.3.6.1.5.5.7.3.9";
const char kOidDVCS[] = "1.3.6.1.5.5.7.3.10";
const char kOidCMP[] = "1.3.6.1.4.1.19398.1.1.8.1";
const char kOidRA[] = "1.3.6.1.4.1.19398.1.1.8.2";
const char kOidUserSignature[] = "1.2.804.2.1.1.1.3.9";
const char kOidServerAuth[] = "1.3.6.1.5.5.7.3.1";
const char kOidClientAuth[] = "1.3.6.1.5.5.7.3.2";
const char kOidSmartCardLogon[] = "1.3.6.1.4.1.311.20.2.2";

const char kRegistryCA[] = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\CA\\";
const char kRegistryEndUser[] = "SOFTWARE\\Tavren\\Keyrond\\Common\\OIDs\\ExtKeyUsages\\EUser\\";
constexpr DWORD kRegistryNameChars = 257;

// Windows-1251 texts, small first letter; the capitalised form raises it.
const char kUkCA[] = "\xD6\xD1\xCA";                                 // ЦСК
const char kUkCAServer[] = "\xF1\xE5\xF0\xE2\xE5\xF0 \xD6\xD1\xCA";  // сервер ЦСК
const char kUkCMPServer[] = "CMP-\xF1\xE5\xF0\xE2\xE5\xF0";          // CMP-сервер
const char kUkTSPServer[] = "TSP-\xF1\xE5\xF0\xE2\xE5\xF0";          // TSP-сервер
const char kUkOCSPServer[] = "OCSP-\xF1\xE5\xF0\xE2\xE5\xF0";        // OCSP-сервер
const char kUkDVCSServer[] = "DVCS-\xF1\xE5\xF0\xE2\xE5\xF0";        // DVCS-сервер
const char kUkAdministrator[] = "\xE0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 "
                                "\xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF";  // адміністратор реєстрації
const char kUkRemoteAdministrator[] = "\xE2\xB3\xE4\xE4\xE0\xEB\xE5\xED\xE8\xE9 "
                                      "\xE0\xE4\xEC\xB3\xED\xB3\xF1\xF2\xF0\xE0\xF2\xEE\xF0 "
                                      "\xF0\xE5\xBA\xF1\xF2\xF0\xE0\xF6\xB3\xBF";  // віддалений адміністратор ...
const char kUkEndUser[] = "\xEA\xEE\xF0\xE8\xF1\xF2\xF3\xE2\xE0\xF7 \xD6\xD1\xCA";  // користувач ЦСК
const char kUkUndefined[] = "\xED\xE5\xE2\xE8\xE7\xED\xE0\xF7\xE5\xED\xE8\xE9";     // невизначений

struct HolderName {
    const char* english;
    const char* ukrainian;
};

HolderName NameOf(std::uint32_t type, std::uint32_t kind)
{
    static const HolderName servers[] = {{"CAServer", kUkCAServer},
                                         {"CACMPServer", kUkCMPServer},
                                         {"CATSPServer", kUkTSPServer},
                                         {"CAOCSPServer", kUkOCSPServer},
                                         {"CADVCSServer", kUkDVCSServer}};
    switch (type) {
    case 1:
        return {"CA", kUkCA};
    case 2:
        if (kind <= 4) return servers[kind];
        break;
    case 3:
        if (kind <= 1) return {"RAAdministrator", kUkAdministrator};
        if (kind == 2) return {"RAAdministrator", kUkRemoteAdministrator};
        break;
    case 4:
        return {"EU", kUkEndUser};
    default:
        break;
    }
    return {"C", kUkUndefined};
}

// Writes the strings one after another and the closing empty string, when
// all fit in `capacity` bytes; otherwise leaves an empty list.
bool WriteMultiString(const std::string* items, std::size_t count, char* out, std::size_t capacity)
{
    std::size_t total = 1;
    for (std::size_t i = 0; i < count; ++i) total += items[i].size() + 1;
    if (total > capacity) {
        out[0] = 0;
        return false;
    }
    char* p = out;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(p, items[i].c_str(), items[i].size() + 1);
        p += items[i].size() + 1;
    }
    *p = 0;
    return true;
}

// A time that the platform cannot convert is no point in time at all.
bool IsValidTime(const SYSTEMTIME& t)
{
    FILETIME ft;
    return SystemTimeToFileTime(&t, &ft) != 0;
}

// Opens the holder's key of configured extended key usages: the machine's
// first, the user's when the machine has none.
bool OpenExtKeyUsageKey(std::uint32_t holderType, HKEY* key)
{
    const char* path = holderType == 1 ? kRegistryCA : holderType == 4 ? kRegistryEndUser : nullptr;
    if (!path) return false;
    const DWORD access = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, path, 0, access, key) == ERROR_SUCCESS) return true;
    return RegOpenKeyEx(HKEY_CURRENT_USER, path, 0, access, key) == ERROR_SUCCESS;
}

class RegistryKey {
public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() { RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_;
};

// Where a file name's serial suffix "-S<decimal>" starts (its last "-") and
// ends (after the last digit read); false without one, or when the number
// does not fit an int.
bool FindSerialSuffix(const char* name, std::size_t* start, std::size_t* end, std::int32_t* number)
{
    const char* dash = std::strrchr(name, '-');
    if (!dash || dash[1] != 'S') return false;
    const char* p = dash + 2;
    if (*p < '0' || *p > '9') return false;
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT_MAX) return false;
    }
    *start = static_cast<std::size_t>(dash - name);
    *end = static_cast<std::size_t>(p - name);
    *number = static_cast<std::int32_t>(value);
    return true;
}

}  // namespace

int pkif::CRLFileNameOf(ISPKIFormats& formats, const std::uint8_t* identifier, std::uint32_t listKind, char* fileName)
{
    if (!identifier || !fileName) return 0;
    fileName[0] = 0;
    char hex[3 * 32 + 1];
    if (!formats.Hash32ToText(identifier, 0, hex)) return 0;
    int n = std::snprintf(fileName, PKIF_CRL_FILE_NAME_BYTES, listKind == 1 ? "CA-%.8s-Full.crl" : "CA-%.8s-Delta.crl",
                          hex);
    if (n < 0 || n >= static_cast<int>(PKIF_CRL_FILE_NAME_BYTES)) {
        fileName[0] = 0;
        return 0;
    }
    return 1;
}

std::uint32_t SPKIFormats::GetHolderRoleCode(std::uint32_t holderType, std::uint32_t kind)
{
    static const std::uint32_t serverCodes[] = {16, 2, 3, 4, 16};
    switch (holderType) {
    case 1:
        return 1;
    case 2:
        return kind <= 4 ? serverCodes[kind] : 16;
    case 3:
        return 5;
    case 4:
        return 6;
    default:
        return 16;
    }
}

void SPKIFormats::GetHolderTypeName(std::uint32_t holderType, std::uint32_t kind, char* name, std::uint32_t capitalised,
                                    std::uint32_t english)
{
    try {
        if (!name) return;
        HolderName n = NameOf(holderType, kind);
        const char* text = english ? n.english : n.ukrainian;
        std::size_t length = std::strlen(text);
        if (length + 1 > PKIF_HOLDER_TYPE_NAME_BYTES) {
            name[0] = 0;
            return;
        }
        std::memcpy(name, text, length + 1);
        // Small Cyrillic letters are 0xE0 to 0xFF in Windows-1251, capitals 0x20 below.
        unsigned char first = static_cast<unsigned char>(name[0]);
        if (!english && capitalised && first >= 0xE0) name[0] = static_cast<char>(first - 0x20);
    } catch (...) {
    }
}

int SPKIFormats::GetDefaultExtKeyUsages(std::uint32_t holderType, std::uint32_t kind, char* oids)
{
    try {
        if (!oids) return 0;
        oids[0] = 0;
        static const std::string authority[] = {kOidTimeStamping, kOidOCSP, kOidDVCS, kOidCMP};
        static const std::string endUser[] = {kOidUserSignature, kOidServerAuth, kOidClientAuth, kOidSmartCardLogon};
        static const std::string single[] = {kOidCMP, kOidTimeStamping, kOidOCSP, kOidDVCS};
        const std::string* list = nullptr;
        std::size_t count = 0;
        if (holderType == 1 || (holderType == 2 && kind == 0)) {
            list = authority, count = 4;
        } else if (holderType == 2 && kind >= 1 && kind <= 4) {
            list = &single[kind - 1], count = 1;
        } else if (holderType == 4) {
            list = endUser, count = 4;
        }
        if (!list) return 0;
        return WriteMultiString(list, count, oids, PKIF_EXT_KEY_USAGE_LIST_BYTES) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ListConfiguredExtKeyUsages(std::uint32_t holderType, std::uint32_t, char* oids)
{
    try {
        if (!oids) return 0;
        oids[0] = 0;
        HKEY raw = nullptr;
        if (!OpenExtKeyUsageKey(holderType, &raw)) return 0;
        RegistryKey key(raw);
        std::size_t used = 0;
        for (DWORD index = 0;; ++index) {
            char valueName[kRegistryNameChars];
            DWORD nameSize = kRegistryNameChars, type = 0;
            LONG rc = RegEnumValue(key.get(), index, valueName, &nameSize, nullptr, &type, nullptr, nullptr);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS || nameSize >= kRegistryNameChars) {
                oids[0] = 0;
                return 0;
            }
            if (type != REG_SZ) continue;
            // The name, its terminator and the list's closing terminator must fit.
            if (used + nameSize + 2 > PKIF_EXT_KEY_USAGE_LIST_BYTES) {
                oids[0] = 0;
                return 0;
            }
            std::memcpy(oids + used, valueName, nameSize);
            used += nameSize;
            oids[used++] = 0;
        }
        oids[used] = 0;
        return 1;
    } catch (...) {
        if (oids) oids[0] = 0;
        return 0;
    }
}

int SPKIFormats::GetConfiguredExtKeyUsageText(std::uint32_t holderType, std::uint32_t, const char* oid, char* text)
{
    try {
        if (!text || !oid) return 0;
        text[0] = 0;
        HKEY raw = nullptr;
        if (!OpenExtKeyUsageKey(holderType, &raw)) return 0;
        RegistryKey key(raw);
        DWORD type = 0, size = PKIF_EXT_KEY_USAGE_TEXT_BYTES;
        LONG rc = RegQueryValueEx(key.get(), oid, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
        // A value that fills the buffer without its terminator is refused, not cut.
        if (rc != ERROR_SUCCESS || type != REG_SZ || size == 0 || size > PKIF_EXT_KEY_USAGE_TEXT_BYTES ||
            !std::memchr(text, 0, size)) {
            text[0] = 0;
            return 0;
        }
        return 1;
    } catch (...) {
        if (text) text[0] = 0;
        return 0;
    }
}

int SPKIFormats::CheckCertificateValidityAt(IPKIObject* certificate, const SYSTEMTIME* time, std::uint32_t* outside)
{
    try {
        if (!certificate || !time || !outside) return 0;
        SYSTEMTIME start{}, end{};
        if (static_cast<IPKICertificate*>(certificate)->GetValidity(&start, &end) != 0) return 0;
        // CompareSystemTimes answers -1 for an invalid time, which would put
        // such a time before any end: an unreadable time is outside instead.
        bool inside = IsValidTime(start) && IsValidTime(end) && IsValidTime(*time) &&
                      CompareSystemTimes(&start, time) <= 0 && CompareSystemTimes(time, &end) <= 0;
        *outside = inside ? 0 : 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CheckCertificateValidityNow(IPKIObject* certificate, std::uint32_t* outside)
{
    try {
        SYSTEMTIME now;
        GetSystemTime(&now);
        return CheckCertificateValidityAt(certificate, &now, outside);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CheckPrivateKeyUsagePeriodNow(IPKIObject* certificate, std::uint32_t* outside)
{
    try {
        if (!certificate || !outside) return 0;
        ObjectRef period;
        int rc = static_cast<IPKICertificate*>(certificate)->GetKeyUsagePeriod(period.Out());
        if (rc == PKI_E_ABSENT) {
            *outside = 0;
            return 1;
        }
        if (rc != 0 || !period) return 0;
        SYSTEMTIME start{}, end{}, now;
        if (period.As<IPKIKeyUsagePeriod>()->GetPeriod(&start, &end) != 0) return 0;
        GetSystemTime(&now);
        bool inside = IsValidTime(start) && IsValidTime(end) && CompareSystemTimes(&start, &now) <= 0 &&
                      CompareSystemTimes(&now, &end) <= 0;
        *outside = inside ? 0 : 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CheckCertificateUsableNow(IPKIObject* certificate, std::uint32_t* validityOutside,
                                           std::uint32_t* keyPeriodOutside)
{
    try {
        if (!CheckCertificateValidityNow(certificate, validityOutside)) return 0;
        return CheckPrivateKeyUsagePeriodNow(certificate, keyPeriodOutside);
    } catch (...) {
        return 0;
    }
}

// The certificate comes first, the request second: that is the interface.
int SPKIFormats::CompareHolderData(IPKIObject* certificate, IPKIObject* request)
{
    try {
        if (!certificate || !request) return 0;
        // The five texts both readers return: the subject text and the
        // alternative names of kinds 5, 4, 2 and 1.
        std::string req[5], cert[5];
        for (auto* set : {req, cert})
            for (int i = 0; i < 5; ++i) set[i].assign(PKIF_NAME_TEXT_BYTES, '\0');
        if (!GetRequestFieldTexts(request, req[0].data(), req[1].data(), req[2].data(), req[3].data(), req[4].data(),
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0))
            return 0;
        if (!GetCertificateFieldTexts(certificate, cert[0].data(), nullptr, nullptr, 0, cert[1].data(), cert[2].data(),
                                      cert[3].data(), cert[4].data(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr, nullptr, nullptr))
            return 0;
        for (int i = 0; i < 5; ++i)
            if (std::strcmp(req[i].c_str(), cert[i].c_str()) != 0) return 0;

        static const char* const oids[] = {"1.2.804.2.1.1.1.11.1.4.2.1", "1.2.804.2.1.1.1.11.1.4.1.1",
                                           "1.2.804.2.1.1.1.11.1.4.3.1", "1.2.804.2.1.1.1.11.1.4.4.1",
                                           "1.2.804.2.1.1.1.11.1.4.5.1", "1.2.804.2.1.1.1.11.1.4.6.1",
                                           "1.2.804.2.1.1.1.11.1.4.7.1", "1.2.804.2.1.1.1.11.1.4.11.1"};
        constexpr std::uint32_t n = sizeof(oids) / sizeof(oids[0]);
        char reqValues[n][64] = {}, certValues[n][64] = {};  // every limit of these OIDs is below 64
        char* reqOut[n];
        char* certOut[n];
        for (std::uint32_t i = 0; i < n; ++i) reqOut[i] = reqValues[i], certOut[i] = certValues[i];
        if (!ReadDirectoryAttributes(request, n, oids, reqOut)) return 0;
        if (!FillCertificateSubjectIdentifiersDefault(certificate, n, oids, certOut)) return 0;
        for (std::uint32_t i = 0; i < n; ++i)
            if (std::strcmp(reqValues[i], certValues[i]) != 0) return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetHolderKeyUsage(std::uint32_t holderType, std::uint32_t kind, std::uint32_t keyFamily,
                                   std::uint32_t flagA, std::uint32_t flagB, std::uint32_t* keyUsage)
{
    try {
        if (!keyUsage) return 0;
        if (holderType == 1) {  // the authority's bits whatever the family
            *keyUsage = 0x60;
            return 1;
        }
        bool rsa = keyFamily == 2;
        if (!rsa && keyFamily != 1 && keyFamily != 4) return 0;
        std::uint32_t bits = 0;
        if (holderType == 2 && kind == 2) {
            bits = 3;
        } else if (holderType == 2 && (kind == 3 || kind == 4)) {
            bits = 1;
        } else if ((holderType == 2 && kind == 1) || holderType == 3) {
            bits = flagA ? (rsa ? 5 : 17) : flagB ? (rsa ? 4 : 16) : 1;
        } else if (holderType == 4) {
            bits = flagA ? (rsa ? 7 : 19) : flagB ? (rsa ? 4 : 16) : 3;
            if (kind == 3) bits = (bits & ~2u) | 32;
        } else {
            return 0;
        }
        *keyUsage = bits;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HasKeyUsage(std::uint32_t required, IPKIObject* certificate)
{
    try {
        std::uint32_t bits = 0;
        if (!certificate || !GetEffectiveKeyUsage(certificate, &bits)) return 0;
        return (bits & required) == required ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

namespace {

// The holder-type decision for one certificate: 1 yes, 0 no, -1 unreadable.
int HolderTypeOf(std::uint32_t holderType, std::uint32_t kind, IPKICertificate* certificate, IPKIInterface* formats)
{
    std::uint32_t ca = 0;
    ObjectRef constraints;
    int rc = certificate->GetBasicConstraints(constraints.Out());
    if (rc == 0 && constraints) {
        if (constraints.As<IPKIBasicConstraints>()->GetCA(&ca) != 0) return -1;
    } else if (rc != PKI_E_ABSENT) {
        return -1;
    }
    bool cmp = false, ra = false, tsp = false, ocsp = false, dvcs = false;
    ObjectRef usages;
    rc = certificate->GetExtKeyUsages(usages.Out());
    if (rc == 0 && usages) {
        std::uint32_t count = 0;
        if (usages.As<IPKIOIDList>()->GetCount(&count) != 0) return -1;
        for (std::uint32_t i = 0; i < count; ++i) {
            LibraryBlob oid(formats);
            if (usages.As<IPKIOIDList>()->GetOID(i, &oid.blob) != 0 || !oid.blob.data) return -1;
            std::string text(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length);
            cmp |= text == kOidCMP;
            ra |= text == kOidRA;
            tsp |= text == kOidTimeStamping;
            ocsp |= text == kOidOCSP;
            dvcs |= text == kOidDVCS;
        }
    } else if (rc != PKI_E_ABSENT) {
        return -1;
    }
    switch (holderType) {
    case 1:
        return ca ? 1 : 0;
    case 2:
        switch (kind) {
        case 0:
            return ocsp || cmp || tsp || dvcs;
        case 1:
            return cmp;
        case 2:
            return tsp;
        case 3:
            return ocsp;
        case 4:
            return dvcs;
        default:
            return 0;
        }
    case 3:
        return ra && !ca && !ocsp && !cmp && !tsp;
    case 4:
        return !ra && !ca && !ocsp && !cmp && !tsp;
    default:
        return 0;
    }
}

}  // namespace

int SPKIFormats::IsCertificateOfHolderType(std::uint32_t holderType, std::uint32_t kind, IPKIObject* certificate)
{
    try {
        if (!certificate || !formats_) return 0;
        auto* c = static_cast<IPKICertificate*>(certificate);
        if (HolderTypeOf(holderType, kind, c, formats_) != 1) return 0;
        // Every other view of the certificate must pass the same test.
        ObjectRef inner, rsa, ec;
        if (c->GetInnerCertificate(inner.Out()) == 0 && inner &&
            HolderTypeOf(holderType, kind, inner.As<IPKICertificate>(), formats_) != 1)
            return 0;
        if (c->GetRSAView(rsa.Out()) == 0 && rsa &&
            HolderTypeOf(holderType, kind, rsa.As<IPKICertificate>(), formats_) != 1)
            return 0;
        *ec.Out() = GetECCertificate(certificate);  // a reference of its own, or none
        if (ec && HolderTypeOf(holderType, kind, ec.As<IPKICertificate>(), formats_) != 1) return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeKeyAndCertificate(const PKIBlob* container, const PKIBlob* certificate, void** containerObject,
                                         void** certificateObject)
{
    if (containerObject) *containerObject = nullptr;
    if (certificateObject) *certificateObject = nullptr;
    try {
        if (!formats_ || !container || !certificate || !containerObject || !certificateObject) return 0;
        ObjectRef key, cert;
        if (formats_->CreateObject(PKI_CLASS_KEY, PKI_IID_KEY, key.Out()) != 0 || !key) return 0;
        if (key.As<IPKIKey>()->Decode(container) != 0) return 0;
        if (formats_->CreateObject(PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, cert.Out()) != 0 || !cert) return 0;
        if (cert.As<IPKICertificate>()->Decode(certificate) != 0) return 0;
        *containerObject = key.As<IPKIKey>();
        *certificateObject = cert.As<IPKICertificate>();
        *key.Out() = nullptr;  // handed to the caller
        *cert.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AreKeyAgreementCertificates(IPKIObject* first, IPKIObject* second)
{
    try {
        for (IPKIObject* certificate : {first, second}) {
            if (!certificate) return 0;
            ObjectRef inner;
            IPKIObject* used = certificate;
            if (static_cast<IPKICertificate*>(certificate)->GetInnerCertificate(inner.Out()) == 0 && inner)
                used = inner.As<IPKICertificate>();
            if (!HasKeyUsage(0x10, used)) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeCRLFileName(const PKIBlob* encoded, std::uint32_t listKind, char* fileName)
{
    try {
        if (!fileName) return 0;
        fileName[0] = 0;
        if (!encoded) return 0;
        ObjectRef object;
        if (!DecodeObject4875(encoded, object.Out()) || !object) return 0;
        std::uint8_t identifier[32] = {};
        std::uint32_t presence = 0;
        int read = GetObjectTexts(object.As<IPKIObject>(), nullptr, nullptr, nullptr, identifier, &presence);
        object.Reset();
        if (!read || !(presence & 2)) return 0;
        return CRLFileNameOf(*this, identifier, listKind, fileName);
    } catch (...) {
        if (fileName) fileName[0] = 0;
        return 0;
    }
}

int SPKIFormats::HasSignAndAgreeKeyUsage(IPKIObject* certificate, std::uint32_t* flag)
{
    try {
        std::uint32_t bits = 0;
        if (!certificate || !flag || !GetEffectiveKeyUsage(certificate, &bits)) return 0;
        *flag = (bits & 0x11) == 0x11 ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetSignatureFamily(IPKIObject* certificate, std::uint32_t* family)
{
    try {
        std::uint32_t kind = 0;
        if (!certificate || !family || static_cast<IPKICertificate*>(certificate)->GetKeyKind(&kind) != 0) return 0;
        *family = kind == 1 || kind == 2 || kind == 4 ? kind : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::IsExtKeyUsageAllowed(std::uint32_t holderType, std::uint32_t options, const char* oid)
{
    try {
        if (!oid) return 0;
        if (holderType != 1) return std::strcmp(oid, kOidUserSignature) != 0 && !IsMakerPolicy(oid) ? 1 : 0;
        if (std::strcmp(oid, kOidUserSignature) == 0) return options & 1 ? 1 : 0;
        for (const char* refused : {kOidServerAuth, kOidClientAuth, kOidSmartCardLogon})
            if (std::strcmp(oid, refused) == 0) return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ParseFileNameSerialSuffix(const char* fileName, std::uint32_t* position, std::int32_t* number)
{
    try {
        if (!fileName || !position || !number) return 0;
        std::size_t start = 0, end = 0;
        std::int32_t value = 0;
        if (!FindSerialSuffix(fileName, &start, &end, &value) || start > UINT32_MAX) return 0;
        *position = static_cast<std::uint32_t>(start);
        *number = value;
        return 1;
    } catch (...) {
        return 0;
    }
}

int pkif::ComposeSerialSuffix(const char* name, std::int32_t number, char* out, std::size_t capacity)
{
    out[0] = 0;
    if (!name || !name[0]) return 0;
    std::size_t length = std::strlen(name), cut = 0, tail = 0, end = 0;
    std::int32_t old = 0;
    if (FindSerialSuffix(name, &cut, &end, &old)) {
        tail = end;  // from the end of the digits read, leading zeros and all
    } else {
        const char* dot = std::strrchr(name, '.');
        cut = tail = dot ? static_cast<std::size_t>(dot - name) : length;
    }
    char suffix[16] = "";
    if (number != 0) std::snprintf(suffix, sizeof suffix, "-S%d", static_cast<int>(number));
    std::size_t total = cut + std::strlen(suffix) + (length - tail);
    if (total + 1 > capacity) return 0;
    std::string composed(name, cut);
    composed += suffix;
    composed += name + tail;
    std::memcpy(out, composed.c_str(), composed.size() + 1);
    return 1;
}

int SPKIFormats::SetFileNameSerialSuffix(const char* fileName, std::int32_t number, char* out)
{
    try {
        if (!out) return 1;
        return ComposeSerialSuffix(fileName, number, out, PKIF_FILE_NAME_BYTES);
    } catch (...) {
        if (out) out[0] = 0;
        return 0;
    }
}
