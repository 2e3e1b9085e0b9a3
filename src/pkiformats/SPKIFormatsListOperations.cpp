// Certificate, request and list operations: copies and comparisons of
// encodings, long numbers as text, certificate-list searches by issuer and
// serial number or by subject, family and key usage, and optional items of
// requests and other objects.
#include <cstring>
#include <memory>
#include <string>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

enum : std::uint32_t { kNumberBytes = 600, kSerialBytes = 20 };

// Answers of an optional item: present (encoded into `item` when one is
// given), absent, or a failure.
int OptionalItem(int answer, IPKIObject* object, std::uint32_t* present, PKIBlob* item, bool absentNeedsFlag)
{
    if (answer == PKI_E_ABSENT) {
        if (present) *present = 0;
        return present || !absentNeedsFlag ? 1 : 0;
    }
    if (answer != PKI_OK || !object) return 0;
    if (item && static_cast<IPKIEncoded*>(object)->Encode(item) != PKI_OK) return 0;
    if (present) *present = 1;
    return 1;
}

}  // namespace

int SPKIFormats::CopyAsCertificate(IPKIObject* object, void** certificate)
{
    try {
        if (!certificate) return 0;
        *certificate = nullptr;
        if (!formats_ || !object) return 0;
        LibraryBlob encoded(formats_);
        if (static_cast<IPKICertificate*>(object)->Encode(&encoded.blob) != PKI_OK) return 0;
        return DecodeCertificate(&encoded.blob, certificate);
    } catch (...) {
        return 0;
    }
}

void SPKIFormats::BigNumber600ToText(const std::uint8_t* number, std::uint32_t spaced, char* text)
{
    try {
        if (!number || !text) return;
        std::uint32_t skip = 0;
        while (skip < kNumberBytes - 1 && number[skip] == 0) ++skip;
        BytesToText(number + skip, kNumberBytes - skip, 0, spaced, text);
    } catch (...) {
    }
}

int SPKIFormats::HasOwnAgreementParameters(IPKIObject* certificate, std::uint32_t* flag)
{
    try {
        if (!certificate || !flag) return 0;
        ObjectRef parameters;
        int answer = static_cast<IPKICertificate*>(certificate)->GetAgreementParameters(parameters.Out());
        if (answer != PKI_OK && answer != PKI_E_ABSENT) return 0;
        *flag = answer == PKI_OK ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindCertificateByIssuerSerial(IPKIObject* list, const char* issuer, const std::uint8_t* serial,
                                               std::uint32_t* index)
{
    try {
        if (!formats_ || !list) return 0;
        auto* certificates = static_cast<IPKICertificateList*>(list);
        std::uint32_t count = 0;
        if (certificates->GetCount(&count) != PKI_OK || count == 0) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::string issuerText;
            std::uint8_t entrySerial[kSerialBytes];
            {
                ObjectRef entry;
                if (certificates->GetEntry(i, entry.Out()) != PKI_OK || !entry) continue;
                auto* certificate = entry.As<IPKICertificate>();
                if (!IssuerText(formats_, certificate, issuerText)) continue;
                LibraryBlob number(formats_);
                if (certificate->GetSerial(&number.blob) != PKI_OK || !Serial20(number.blob, entrySerial)) continue;
            }
            if (issuer && issuerText != issuer) continue;
            if (serial && std::memcmp(serial, entrySerial, kSerialBytes) != 0) continue;
            if (index) *index = i;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindCertificateBySubject(IPKIObject* list, const char* subject, std::uint32_t family,
                                          std::uint32_t usage, std::uint32_t* index)
{
    try {
        if (!formats_ || !list) return 0;
        auto* certificates = static_cast<IPKICertificateList*>(list);
        std::uint32_t count = 0;
        if (certificates->GetCount(&count) != PKI_OK || count == 0) return 0;
        auto wide = std::make_unique<wchar_t[]>(kWideNameChars);
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry, view;
            // An entry that is no certificate ends the search.
            if (certificates->GetEntry(i, entry.Out()) != PKI_OK || !entry) return 0;
            if (entry.As<IPKIObject>()->QueryInterface(PKI_IID_CERTIFICATE, view.Out()) != PKI_OK || !view) return 0;
            auto* certificate = view.As<IPKICertificate>();
            std::string subjectText;
            std::uint32_t entryFamily = 0, entryUsage = 0;
            if (!SubjectWideName(formats_, certificate, wide.get()) || !Narrow(formats_, wide.get(), subjectText) ||
                certificate->GetKeyKind(&entryFamily) != PKI_OK ||
                !GetEffectiveKeyUsage(view.As<IPKIObject>(), &entryUsage))
                continue;
            if (subject && subjectText != subject) continue;
            if (family && family != entryFamily) continue;
            if (usage && !(usage & entryUsage)) continue;
            if (index) *index = i;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetRequestKindAndItem(IPKIObject* request, std::uint32_t* kind, std::uint32_t* present, PKIBlob* item)
{
    try {
        if (!request || !kind) return 0;
        auto* r = static_cast<IPKIRequest*>(request);
        if (r->GetKeyKind(kind) != PKI_OK) return 0;
        ObjectRef usage;
        int answer = r->GetRequestedKeyUsage(usage.Out());
        return OptionalItem(answer, usage.As<IPKIObject>(), present, item, false);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetEncodedRequestKindAndItem(const PKIBlob* encoded, std::uint32_t* kind, std::uint32_t* present,
                                              PKIBlob* item)
{
    try {
        ObjectRef request;
        if (!DecodeObject4873(encoded, request.Out())) return 0;
        return GetRequestKindAndItem(request.As<IPKIObject>(), kind, present, item);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindCertificateInListByKeyIdentifier(IPKIObject* list, const std::uint8_t* keyIdentifier,
                                                      std::uint32_t* index)
{
    if (!keyIdentifier) return 0;
    return FindCertificateInList(list, nullptr, keyIdentifier, index);
}

int SPKIFormats::EncodedObjectsEqual(IPKIObject* a, IPKIObject* b, std::uint32_t* equal)
{
    try {
        if (!formats_ || !a || !b) return 0;
        LibraryBlob first(formats_), second(formats_);
        if (static_cast<IPKICertificate*>(a)->Encode(&first.blob) != PKI_OK ||
            static_cast<IPKICertificate*>(b)->Encode(&second.blob) != PKI_OK)
            return 0;
        if (equal) *equal = BlobsEqual(&first.blob, &second.blob) ? 1 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetObjectItem50(IPKIObject* object, std::uint32_t* present, PKIBlob* item)
{
    try {
        if (!object) return 0;
        ObjectRef found;
        int answer = static_cast<IPKIItem50*>(object)->GetItem(found.Out());
        return OptionalItem(answer, found.As<IPKIObject>(), present, item, true);
    } catch (...) {
        return 0;
    }
}
