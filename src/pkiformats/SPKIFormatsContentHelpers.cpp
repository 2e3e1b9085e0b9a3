// Certificate, request and content helpers: extension lists and entries,
// the per-certificate key cache, time-stamp information out of a token,
// attributes of a key container's entries, certificate-list searches,
// extension flags and multi-strings.
#include <cstring>
#include <cwchar>
#include <memory>
#include <utility>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

enum : std::uint32_t {
    kClassExtensions = 4905,
    kIidExtensions = 4146,
    kIidKeyUsagePeriod = 4259,
    kClassTimeStampInfo = 4904,
    kIidTimeStampInfo = 4141,
    kIidExtensionFlag = 4268,
    kIidCertificateListView = 4209,
    kClassSignaturePolicy = 4942,
    kIidSignaturePolicy = 4243,
    kKeyUsagePeriodKind = 3,
    kMarkedSlot = 8
};

// The encapsulated content type of a time-stamp token, terminator included.
const char kTimeStampInfoType[] = "1.2.840.113549.1.9.16.1.4";

// An object's view `iid`, or null.
template <typename T>
bool View(IPKIObject* object, std::uint32_t iid, ObjectRef& view)
{
    return object->QueryInterface(iid, view.Out()) == PKI_OK && view;
}

}  // namespace

int SPKIFormats::EncodeExtensionEntry(IPKIObject* value, std::uint32_t type, PKIBlob* out)
{
    try {
        if (!formats_ || !value || !out) return 0;
        ObjectRef list;
        if (formats_->CreateObject(kClassExtensions, kIidExtensions, list.Out()) != PKI_OK || !list) return 0;
        auto* extensions = list.As<IPKIExtensionList>();
        return extensions->Add(value, type) == PKI_OK && extensions->Encode(out) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::EncodeExtensionEntryAlias(IPKIObject* value, std::uint32_t type, PKIBlob* out)
{
    return EncodeExtensionEntry(value, type, out);
}

int SPKIFormats::DecodeExtensionList(const PKIBlob* blob, void** list)
{
    try {
        void* decoded = nullptr;
        if (!DecodeInto<IPKIExtensionList>(formats_, kClassExtensions, kIidExtensions, blob, &decoded)) {
            if (list) *list = nullptr;
            return 0;
        }
        if (list)
            *list = decoded;
        else
            static_cast<IPKIExtensionList*>(decoded)->Release();
        return 1;
    } catch (...) {
        return 0;
    }
}

// The outputs are written only once every read has answered; an absent view
// leaves its bit clear.
int SPKIFormats::GetCertificateViews(IPKIObject* certificate, std::uint32_t* dstu4145, std::uint32_t* viewBits)
{
    try {
        if (!certificate) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::uint32_t kind = 0, bits = 0;
        if (cert->GetKeyKind(&kind) != PKI_OK) return 0;
        if (viewBits) {
            ObjectRef rsa;
            int rc = kind == 2 ? PKI_OK : cert->GetRSAView(rsa.Out());
            if (rc != PKI_OK && rc != PKI_E_ABSENT) return 0;
            if (rc == PKI_OK) bits |= 2;
            if (kind == 4) {
                bits |= 4;
            } else {
                // Told apart here, unlike GetECCertificate: no EC view is an
                // answer, a failed read of one is not.
                ObjectRef keys, ec;
                rc = certificate->QueryInterface(PKI_IID_CERTIFICATE_EX, keys.Out());
                if (rc == PKI_OK && keys) rc = keys.As<IPKICertificateECKeys>()->GetInnerECCertificate(ec.Out());
                if (rc != PKI_OK && rc != PKI_E_ABSENT && rc != PKI_E_NO_INTERFACE) return 0;
                if (rc == PKI_OK && ec) bits |= 4;
            }
        }
        if (dstu4145) *dstu4145 = kind == 1 ? 1 : 0;
        if (viewBits) *viewBits = bits;
        return 1;
    } catch (...) {
        return 0;
    }
}

// A certificate of the asked family is its own view; family 1 has no other.
// What is returned is a new reference the caller releases.
IPKIObject* SPKIFormats::SelectCertificateForUsage(IPKIObject* certificate, std::uint32_t family,
                                                   std::uint32_t keyUsage)
{
    try {
        if (!certificate) return nullptr;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        std::uint32_t kind = 0;
        if (cert->GetKeyKind(&kind) != PKI_OK) return nullptr;
        ObjectRef view;
        if (kind == family) {
            if (certificate->QueryInterface(PKI_IID_CERTIFICATE, view.Out()) != PKI_OK) return nullptr;
        } else if (family == 2) {
            if (cert->GetRSAView(view.Out()) != PKI_OK) return nullptr;
        } else if (family == 4) {
            *view.Out() = GetECCertificate(certificate);
        }
        if (!view) return nullptr;
        ObjectRef chosen;
        if (HasKeyUsage(keyUsage, view.As<IPKIObject>())) {
            std::swap(*chosen.Out(), *view.Out());
        } else if (view.As<IPKICertificate>()->GetInnerCertificate(chosen.Out()) != PKI_OK || !chosen ||
                   !HasKeyUsage(keyUsage, chosen.As<IPKIObject>())) {
            return nullptr;
        }
        IPKIObject* out = chosen.As<IPKIObject>();
        *chosen.Out() = nullptr;
        return out;
    } catch (...) {
        return nullptr;
    }
}

// Decoded and encoded again, so that what is handed out is the library's own
// encoding of a value it accepted, never the caller's bytes.
int SPKIFormats::EncodeSignaturePolicy(const PKIBlob* blob, PKIBlob* out)
{
    try {
        if (!blob || !out || out->data) return 0;
        ObjectRef policy;
        if (!DecodeInto<IPKIEncoded>(formats_, kClassSignaturePolicy, kIidSignaturePolicy, blob, policy.Out()))
            return 0;
        return EncodeObject(policy.As<IPKIObject>(), out);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadKeyCache(IPKIObject* certificate, std::uint32_t slot, PKIBlob* out)
{
    try {
        if (!certificate || !out) return 0;
        ObjectRef cache;
        if (!View<IPKIKeySet>(certificate, PKI_IID_KEY_SET, cache)) return 0;
        return cache.As<IPKIKeySet>()->GetValue(slot, out) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::WriteKeyCache(IPKIObject* certificate, std::uint32_t slot, const PKIBlob* value)
{
    try {
        if (!certificate || !value) return 0;
        ObjectRef cache;
        if (!View<IPKIKeySet>(certificate, PKI_IID_KEY_SET, cache)) return 0;
        return cache.As<IPKIKeySet>()->SetValue(slot, value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::RemoveKeyCache(IPKIObject* certificate, std::uint32_t slot)
{
    try {
        if (!certificate) return 0;
        ObjectRef cache;
        if (!View<IPKIKeySet>(certificate, PKI_IID_KEY_SET, cache)) return 0;
        return cache.As<IPKIKeySet>()->RemoveValue(slot) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateKeyUsagePeriodExtension(std::uint32_t kind, std::uint32_t value, std::uint32_t flag,
                                               PKIBlob* out)
{
    try {
        if (!formats_ || !out || kind != kKeyUsagePeriodKind) return 0;
        ObjectRef extension;
        if (formats_->CreateObject(kClassExtensions, kIidKeyUsagePeriod, extension.Out()) != PKI_OK || !extension)
            return 0;
        auto* period = extension.As<IPKIKeyUsagePeriodExtension>();
        return period->SetPeriod(kKeyUsagePeriodKind, value, flag) == PKI_OK && period->Encode(out) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeTimeStampInfo(IPKIObject* token, void** info)
{
    try {
        if (!info) return 0;
        *info = nullptr;
        if (!formats_ || !token) return 0;
        auto* content = static_cast<IPKITimeStampToken*>(token);
        {
            LibraryBlob type(formats_);
            if (content->GetContentType(&type.blob) != PKI_OK || type.blob.length != sizeof kTimeStampInfoType ||
                !type.blob.data || std::memcmp(type.blob.data, kTimeStampInfoType, sizeof kTimeStampInfoType) != 0)
                return 0;
        }
        LibraryBlob encoded(formats_);
        if (content->GetContent(&encoded.blob) != PKI_OK) return 0;
        return DecodeInto<IPKITimeStampInfo>(formats_, kClassTimeStampInfo, kIidTimeStampInfo, &encoded.blob, info);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetTimeStampInfoPartA(IPKIObject* token, void* out)
{
    try {
        ObjectRef info;
        if (!DecodeTimeStampInfo(token, info.Out())) return 0;
        return !out || info.As<IPKITimeStampInfo>()->GetPartA(out) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetTimeStampInfoPartB(IPKIObject* token, void* out)
{
    try {
        ObjectRef info;
        if (!DecodeTimeStampInfo(token, info.Out())) return 0;
        return !out || info.As<IPKITimeStampInfo>()->GetPartB(out) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// The list is a key container: its entries by slots 5 to 8, their attributes
// through its reader view.
int SPKIFormats::SetLastEntryAttribute(IPKIObject* list, const char* password, const PKIBlob* value, const char* oid)
{
    try {
        if (!list || !value || !oid) return 0;
        auto* container = static_cast<IPKIKeyContainer*>(list);
        std::uint32_t count = 0;
        if (container->GetItemCount(&count) != PKI_OK || count == 0) return 0;
        ObjectRef entry, reader;
        if (container->GetItem(count - 1, entry.Out()) != PKI_OK || !entry) return 0;
        if (!View<IPKIKeyContainer>(list, PKI_IID_KEY_CONTAINER_READER, reader)) return 0;
        if (reader.As<IPKIKeyContainer>()->AddItemAttribute(password, entry.As<IPKIObject>(), oid, value) != PKI_OK)
            return 0;
        return container->RemoveItem(count - 1) == PKI_OK && container->AddItem(entry.As<IPKIObject>()) == PKI_OK ? 1
                                                                                                                  : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindEntryAttribute(IPKIObject* list, const char* password, const char* oid, PKIBlob* out)
{
    try {
        if (!list || !oid || !out) return 0;
        ObjectRef reader;
        if (!View<IPKIKeyContainer>(list, PKI_IID_KEY_CONTAINER_READER, reader)) return 0;
        auto* container = reader.As<IPKIKeyContainer>();
        std::uint32_t count = 0;
        if (container->GetItemCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry;
            if (container->GetItem(i, entry.Out()) != PKI_OK || !entry) continue;
            if (container->GetItemAttribute(password, entry.As<IPKIObject>(), oid, out) == PKI_OK) return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

// An entry that cannot be read is passed over.
int SPKIFormats::FindCertificateInList(IPKIObject* list, const wchar_t* name, const std::uint8_t* keyIdentifier,
                                       std::uint32_t* index)
{
    try {
        if (!formats_ || !list || (!name && !keyIdentifier)) return 0;
        auto* certificates = static_cast<IPKICertificateList*>(list);
        std::uint32_t count = 0;
        if (certificates->GetCount(&count) != PKI_OK) return 0;
        auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry, view;
            if (certificates->GetEntry(i, entry.Out()) != PKI_OK || !entry) continue;
            if (!View<IPKICertificate>(entry.As<IPKIObject>(), PKI_IID_CERTIFICATE, view)) continue;
            auto* certificate = view.As<IPKICertificate>();
            if (name && (!SubjectWideName(formats_, certificate, wide.get()) || std::wcscmp(wide.get(), name) != 0))
                continue;
            std::uint8_t identifier[32];
            if (keyIdentifier && (!SubjectKeyIdentifier32(certificate, identifier) ||
                                  std::memcmp(identifier, keyIdentifier, sizeof identifier) != 0))
                continue;
            if (index) *index = i;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

// 1 only when the value was set: a certificate without the extension, or a
// refused set, answers 0.
int SPKIFormats::SetExtensionFlag(IPKIObject* certificate, std::uint32_t value)
{
    try {
        if (!certificate) return 0;
        ObjectRef view;
        if (!View<IPKIExtensionFlagView>(certificate, kIidExtensionFlag, view)) return 0;
        auto* flags = view.As<IPKIExtensionFlagView>();
        std::uint32_t current = 0;
        if (flags->GetFlag(&current) != PKI_OK) return 0;
        return flags->SetFlag(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetExtensionFlag(IPKIObject* certificate, std::uint32_t* value)
{
    try {
        if (!certificate || !value) return 0;
        ObjectRef view;
        if (!View<IPKIExtensionFlagView>(certificate, kIidExtensionFlag, view)) return 0;
        return view.As<IPKIExtensionFlagView>()->GetFlag(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetExtensionPair(IPKIObject* certificate, std::uint32_t first, std::uint32_t second)
{
    try {
        if (!certificate) return 0;
        ObjectRef view;
        if (!View<IPKIExtensionFlagView>(certificate, kIidExtensionFlag, view)) return 0;
        return view.As<IPKIExtensionFlagView>()->SetPair(second, first) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindInMultiString(const char* multiString, const char* text)
{
    try {
        if (!multiString || !text || !*multiString || !*text) return 0;
        for (const char* s = multiString; *s; s += std::strlen(s) + 1)
            if (std::strcmp(s, text) == 0) return 1;
        return 0;
    } catch (...) {
        return 0;
    }
}

// A certificate is marked when its key cache slot 8 holds a nonzero
// 4-byte word.
int SPKIFormats::HasMarkedCertificate(IPKIObject* list)
{
    try {
        if (!formats_ || !list) return 0;
        ObjectRef view;
        if (!View<IPKICertificateListView>(list, kIidCertificateListView, view)) return 0;
        auto* certificates = view.As<IPKICertificateListView>();
        std::uint32_t count = 0;
        if (certificates->GetCertificateCount(1, &count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef certificate;
            if (certificates->GetCertificate(i, 1, certificate.Out()) != PKI_OK || !certificate) continue;
            LibraryBlob mark(formats_);
            if (!ReadKeyCache(certificate.As<IPKIObject>(), kMarkedSlot, &mark.blob)) continue;
            if (mark.blob.length == 4 && mark.blob.data && Get32(mark.blob.data, 0) != 0) return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

namespace {

enum : std::uint32_t { kIidStatements = 4231, kIidNamePair = 4244, kIidValuePair = 4262, kIidSignerPolicy = 4240 };
enum : std::uint32_t { kVersionValueAbove = 256 };

// The QC statements of a certificate (slot 89) or request (slot 73) as
// view 4231. Absent statements answer PKI_E_ABSENT.
int Statements(IPKIObject* object, bool request, ObjectRef& view)
{
    ObjectRef statements;
    int rc = request ? static_cast<IPKIRequest*>(object)->GetQCStatements(statements.Out())
                     : static_cast<IPKICertificate*>(object)->GetQCStatements(statements.Out());
    if (rc != PKI_OK) return rc;
    if (!statements) return PKI_E_FAILURE;
    return statements.As<IPKIObject>()->QueryInterface(kIidStatements, view.Out()) == PKI_OK && view ? PKI_OK
                                                                                                     : PKI_E_FAILURE;
}

// One statement flag; no statements at all read as flag 0.
int StatementFlag(IPKIObject* object, bool request, bool second, std::uint32_t* value)
{
    if (!object || !value) return 0;
    *value = 0;
    ObjectRef view;
    int rc = Statements(object, request, view);
    if (rc == PKI_E_ABSENT) return 1;
    if (rc != PKI_OK) return 0;
    auto* statements = view.As<IPKIStatements>();
    return (second ? statements->GetFlagB(value) : statements->GetFlagA(value)) == PKI_OK ? 1 : 0;
}

}  // namespace

int SPKIFormats::SetStatementFromObject(IPKIObject* certificate, std::uint32_t* value)
{
    try {
        return StatementFlag(certificate, false, false, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetRequestStatement(IPKIObject* request, std::uint32_t* value)
{
    try {
        return StatementFlag(request, true, false, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetRequestStatementPart(IPKIObject* request, std::uint32_t* value)
{
    try {
        return StatementFlag(request, true, true, value);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetStatementValue(IPKIObject* certificate, std::uint32_t* value)
{
    try {
        return StatementFlag(certificate, false, true, value);
    } catch (...) {
        return 0;
    }
}

// The text goes into a caller buffer of PKIF_STATEMENT_TEXT_BYTES; a longer
// one is refused and the text left empty.
int SPKIFormats::GetStatementFlag(IPKIObject* certificate, std::uint32_t* flag, char* text)
{
    try {
        if (flag) *flag = 0;
        if (text) text[0] = 0;
        if (!formats_ || !certificate || !flag) return 0;
        ObjectRef view;
        int rc = Statements(certificate, false, view);
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != PKI_OK) return 0;
        auto* statements = view.As<IPKIStatements>();
        std::uint32_t set = 0;
        if (statements->GetTextFlag(&set) != PKI_OK) return 0;
        *flag = set;
        if (!set || !text) return 1;
        LibraryBlob bytes(formats_);
        if (statements->GetText(&bytes.blob) != PKI_OK) return 0;
        if (bytes.blob.length && !bytes.blob.data) return 0;
        if (bytes.blob.length >= PKIF_STATEMENT_TEXT_BYTES) return 0;
        if (bytes.blob.length) std::memcpy(text, bytes.blob.data, bytes.blob.length);
        text[bytes.blob.length] = 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetObjectVersionValue(IPKIObject* object, std::uint32_t value)
{
    try {
        std::uint32_t version = 0;
        if (!formats_ || !object || formats_->GetVersion(&version) != PKI_OK || version <= kVersionValueAbove) return 0;
        return static_cast<IPKIVersionValue*>(object)->SetVersionValue(value) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetCertificateNamePair(IPKIObject* certificate, std::uint32_t first, std::uint32_t second,
                                        PKIBlob* out)
{
    try {
        if (!certificate || !out) return 0;
        ObjectRef view;
        if (!View<IPKICertificateNamePairView>(certificate, kIidNamePair, view)) return 0;
        return view.As<IPKICertificateNamePairView>()->SetNamePair(first, second) == PKI_OK &&
                       static_cast<IPKICertificate*>(certificate)->Encode(out) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetCertificateNamePairSwapped(IPKIObject* certificate, const std::uint32_t* pair, PKIBlob* out)
{
    try {
        if (!certificate || !pair || !out) return 0;
        ObjectRef view;
        if (!View<IPKICertificateNamePairView>(certificate, kIidNamePair, view)) return 0;
        return view.As<IPKICertificateNamePairView>()->SetNamePairSwapped(pair[1], pair[0]) == PKI_OK &&
                       static_cast<IPKICertificate*>(certificate)->Encode(out) == PKI_OK
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetCertificateValuePair(IPKIObject* certificate, std::uint32_t first, std::uint32_t second)
{
    try {
        if (!certificate) return 0;
        ObjectRef view;
        if (!View<IPKICertificateValuePairView>(certificate, kIidValuePair, view)) return 0;
        return view.As<IPKICertificateValuePairView>()->SetValuePair(first, second) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetSignerPolicyOrKey(IPKIObject* signer, IPKIObject* key, std::uint32_t value)
{
    try {
        if (!signer || !key) return 0;
        ObjectRef view;
        if (View<IPKISignerPolicyView>(signer, kIidSignerPolicy, view))
            return view.As<IPKISignerPolicyView>()->SetPolicyKey(key, value) == PKI_OK ? 1 : 0;
        ObjectRef inner;
        if (static_cast<IPKIKeySource*>(key)->GetKey(inner.Out()) != PKI_OK || !inner) return 0;
        return static_cast<IPKISignerKey*>(signer)->SetKey(inner.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetStatementValue(IPKIObject* object, std::uint32_t first, std::uint32_t second)
{
    try {
        if (!object) return 0;
        ObjectRef statements;
        if (static_cast<IPKIRequest*>(object)->GetStatementList(statements.Out()) != PKI_OK || !statements) return 0;
        return statements.As<IPKIStatementList>()->Add(first, second) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

// ---- Key-usage flags and the marker of a key ----

// A key's own capability groups (bit 0 DSTU 4145, 2 RSA, 4 ECDSA); a
// container, which reports none of its own, answers with those of its keys.
int SPKIFormats::GetKeyUsageFlags(IPKIObject* key, std::uint32_t* flags)
{
    try {
        if (!key || !flags) return 0;
        *flags = 0;
        std::uint32_t signing = 0, other = 0;
        if (!GetKeyCapabilities(key, &signing, &other)) return 0;
        std::uint32_t all = signing | other;
        if (all == 0) {
            ObjectRef list;
            if (!QueryInto(key, PKI_IID_KEY_LIST, list)) return 0;
            auto* keys = list.As<IPKICertificateListView>();
            std::uint32_t count = 0;
            if (keys->GetCertificateCount(PKI_KEY_LIST_KEYS, &count) != PKI_OK) return 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                std::uint32_t capability = 0;
                if (!GetContainerKey(key, i, nullptr, &capability, nullptr, nullptr)) return 0;
                all |= capability;
            }
        }
        *flags = all;
        return 1;
    } catch (...) {
        return 0;
    }
}

// 2 for a DSTU 4145 key (3 when its cache slot 5 holds a nonzero word),
// 1 for an RSA or ECDSA key, 0 for none: only the groups the mask lets
// through count.
int SPKIFormats::GetCertificateMarker(IPKIObject* key, std::uint32_t mask, std::uint32_t* marker)
{
    try {
        if (!key || !marker) return 0;
        *marker = 0;
        std::uint32_t flags = 0;
        if (!GetKeyUsageFlags(key, &flags)) return 0;
        flags &= mask;
        if (flags & 1) {
            enum : std::uint32_t { kMarkerSlot = 5 };
            LibraryBlob cached(formats_);
            std::uint32_t word = 0;
            if (ReadKeyCache(key, kMarkerSlot, &cached.blob) && cached.blob.data && cached.blob.length == 4)
                word = Get32(cached.blob.data, 0);
            *marker = word ? 3 : 2;
        } else if (flags & 6) {
            *marker = 1;
        }
        return 1;
    } catch (...) {
        if (marker) *marker = 0;
        return 0;
    }
}
