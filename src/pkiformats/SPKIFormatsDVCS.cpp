// DVCS requests and responses carried in signed data: made, wrapped and
// signed through the CMS operations on the way out; opened, their signers
// named and checked, and the content type checked on the way in; the values
// passed through the library's objects in the order the objects expect them.
#include <cstring>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

const char kRequestType[] = "1.2.840.113549.1.9.16.1.7";
const char kResponseType[] = "1.2.840.113549.1.9.16.1.8";

// The signed data's content into `content` when it carries content of the
// expected type. The message is the signed-data object the CMS operations
// open, read through its own content slots. The type is read into a buffer
// of its own size (a longer one is refused by the read) and compared with
// its terminator, so a type that only starts with the expected one does not
// pass.
bool ContentOf(IPKIObject* signedData, const char (&expected)[26], PKIBlob* content)
{
    auto* data = static_cast<IPKISignedDataSigners*>(signedData);
    std::uint32_t present = 0;
    if (data->HasContent(&present) != 0 || !present) return false;
    char type[PKIF_DVCS_CONTENT_TYPE_BYTES] = {};
    std::uint32_t length = sizeof type;
    if (data->GetContentType(type, &length) != 0 || length >= sizeof type) return false;
    type[length] = 0;
    if (std::memcmp(type, expected, sizeof expected) != 0) return false;
    return data->GetContent(content) == 0 && !Empty(content);
}

// A new library object of the class decoded from the signed data's content;
// the content goes back to the library at once.
template <typename Object>
bool DecodeContent(IPKIInterface* formats, IPKIObject* signedData, const char (&expected)[26], std::uint32_t classId,
                   std::uint32_t interfaceId, ObjectRef& made)
{
    if (!signedData || !formats) return false;
    LibraryBlob content(formats);
    if (!ContentOf(signedData, expected, &content.blob)) return false;
    if (!CreateInto(formats, classId, interfaceId, made)) return false;
    return made.As<Object>()->Decode(&content.blob) == 0;
}

void HandOut(ObjectRef& made, void** out)
{
    if (!out) return;
    *out = made.As<IPKIObject>();
    *made.Out() = nullptr;
}

}  // namespace

// The request's or response's encoding wrapped as signed data of its
// content type, signed and encoded into `encoded`. An object made here
// (`owned`) is released once encoded, before the wrapping; the encoding goes
// back to the library (wiped) once wrapped, whether that worked or not.
int SPKIFormats::SignDVCSContent(bool request, IPKIObject* object, bool owned, IPKIObject* signerKey,
                                 IPKIObject* certificate, PKIBlob* encoded)
{
    ObjectRef held;
    if (owned) *held.Out() = object;
    if (!formats_ || !object || !encoded) return 0;
    ObjectRef signedData;
    {
        LibraryBlob content(formats_);
        const int rc = request ? static_cast<IPKIDVCSRequest*>(object)->Encode(&content.blob)
                               : static_cast<IPKIDVCSResponse*>(object)->Encode(&content.blob);
        if (rc != 0 || Empty(&content.blob)) return 0;
        held.Reset();
        if (!CreateSignedDataGOST34311(request ? kRequestType : kResponseType, &content.blob, nullptr, 0, signerKey,
                                       certificate, signedData.Out()) ||
            !signedData)
            return 0;
    }
    return SignAndEncodeContentInfo(signedData.As<IPKIObject>(), signerKey, certificate, nullptr, encoded) == 1 ? 1 : 0;
}

// Every signer checked with the certificate, by the certificate's key family.
int SPKIFormats::VerifyDVCSSigners(IPKIObject* signedData, IPKIObject* certificate)
{
    if (!signedData || !certificate) return 0;
    std::uint32_t family = 0;
    if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&family) != 0) return 0;
    switch (family) {
    case 1:
        return VerifySignerGOST34311(signedData, -1, nullptr, certificate, nullptr) == 1 ? 1 : 0;
    case 2:
        return VerifySignerSHA(signedData, -1, nullptr, certificate, nullptr) == 1 ? 1 : 0;
    case 4:
        return VerifySignerECDSA(signedData, -1, nullptr, certificate, nullptr) == 1 ? 1 : 0;
    default:
        return 0;
    }
}

int SPKIFormats::MakeDVCSRequest(std::uint32_t valueA, std::uint32_t valueB, IPKIObject* signerKey,
                                 IPKIObject* certificate, PKIBlob* encoded)
{
    try {
        if (!encoded) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_DVCS_REQUEST, PKI_IID_DVCS_REQUEST, made)) return 0;
        auto* r = made.As<IPKIDVCSRequest>();
        if (r->SetValueA(valueA) != 0 || r->SetValueB(valueB) != 0) return 0;
        IPKIObject* request = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return SignDVCSContent(true, request, true, signerKey, certificate, encoded);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenSignedDVCSRequest(const PKIBlob* encoded, void** signedData)
{
    try {
        if (!encoded || !signedData) return 0;
        *signedData = nullptr;
        return ReadSignerInfoFromContentInfo(encoded, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                             signedData) == 1
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetDVCSRequestSigner(IPKIObject* signedData, char* issuerText, std::uint8_t* serial)
{
    try {
        return GetSingleSignerIdentity(signedData, issuerText, serial);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyDVCSRequestSigner(IPKIObject* signedData, IPKIObject* certificate)
{
    try {
        return VerifyDVCSSigners(signedData, certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeDVCSRequest(IPKIObject* signedData, std::uint32_t* valueB, std::uint32_t* valueA, void** request)
{
    try {
        ObjectRef made;
        if (!DecodeContent<IPKIDVCSRequest>(formats_, signedData, kRequestType, PKI_CLASS_DVCS_REQUEST,
                                            PKI_IID_DVCS_REQUEST, made))
            return 0;
        auto* r = made.As<IPKIDVCSRequest>();
        std::uint32_t a = 0, b = 0;
        if (r->GetValueA(&a) != 0 || r->GetValueB(&b) != 0) return 0;
        if (valueB) *valueB = b;
        if (valueA) *valueA = a;
        HandOut(made, request);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeDVCSResponseFromValues(std::uint32_t first, std::uint32_t second, IPKIObject* signerKey,
                                            IPKIObject* certificate, PKIBlob* encoded)
{
    try {
        if (!encoded) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_DVCS_RESPONSE, PKI_IID_DVCS_RESPONSE, made)) return 0;
        if (made.As<IPKIDVCSResponse>()->SetValues(first, second) != 0) return 0;
        IPKIObject* response = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return SignDVCSContent(false, response, true, signerKey, certificate, encoded);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BuildDVCSResponse(std::uint32_t value1, std::uint32_t value2, std::uint32_t value3,
                                   std::uint32_t value4, std::uint32_t pairFirst, std::uint32_t pairSecond,
                                   void** response)
{
    try {
        if (!response) return 0;
        *response = nullptr;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_DVCS_RESPONSE, PKI_IID_DVCS_RESPONSE, made)) return 0;
        auto* r = made.As<IPKIDVCSResponse>();
        if (r->SetValue1(value1) != 0 || r->SetValue2(value2) != 0 || r->SetValue3(value3) != 0 ||
            r->SetValue4(value4) != 0 || r->SetValuePair(pairFirst, pairSecond) != 0)
            return 0;
        HandOut(made, response);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetDVCSRequestItem(IPKIObject* request, std::uint32_t first, std::uint32_t second)
{
    try {
        if (!request) return 0;
        return static_cast<IPKIDVCSRequest*>(request)->SetItem(first, second) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignDVCSResponse(IPKIObject* response, IPKIObject* signerKey, IPKIObject* certificate,
                                  PKIBlob* encoded)
{
    try {
        return SignDVCSContent(false, response, false, signerKey, certificate, encoded);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::OpenSignedDVCSResponse(const PKIBlob* encoded, void** signedData)
{
    try {
        return OpenSignedDVCSRequest(encoded, signedData);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetDVCSResponseSigner(IPKIObject* signedData, char* issuerText, std::uint8_t* serial)
{
    try {
        return GetSingleSignerIdentity(signedData, issuerText, serial);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyDVCSResponseSigner(IPKIObject* signedData, IPKIObject* certificate)
{
    try {
        return VerifyDVCSSigners(signedData, certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeDVCSResponseItem(IPKIObject* signedData, std::uint32_t* item, std::uint32_t first,
                                        std::uint32_t second)
{
    try {
        ObjectRef made;
        if (!DecodeContent<IPKIDVCSResponse>(formats_, signedData, kResponseType, PKI_CLASS_DVCS_RESPONSE,
                                             PKI_IID_DVCS_RESPONSE, made))
            return 0;
        auto* r = made.As<IPKIDVCSResponse>();
        std::uint32_t value = 0;
        const int rc = r->GetItem(&value);
        if (rc == PKI_E_ABSENT) return 1;
        if (rc != 0 || r->SetItemValues(first, second) != 0) return 0;
        if (item) *item = value;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeDVCSResponse(IPKIObject* signedData, std::uint32_t* value1, std::uint32_t* value2,
                                    std::uint32_t* value3, std::uint32_t* value4, std::uint32_t* pairFirst,
                                    std::uint32_t* pairSecond, void** response)
{
    try {
        ObjectRef made;
        if (!DecodeContent<IPKIDVCSResponse>(formats_, signedData, kResponseType, PKI_CLASS_DVCS_RESPONSE,
                                             PKI_IID_DVCS_RESPONSE, made))
            return 0;
        auto* r = made.As<IPKIDVCSResponse>();
        std::uint32_t v1 = 0, v2 = 0, v3 = 0, v4 = 0, p1 = 0, p2 = 0;
        // The object answers in this order: 11, 15, 17, 13, 9.
        if (value2 && r->GetValue2(&v2) != 0) return 0;
        if (value4 && r->GetValue4(&v4) != 0) return 0;
        if (pairFirst && pairSecond && r->GetValuePair(&p1, &p2) != 0) return 0;
        if (value3 && r->GetValue3(&v3) != 0) return 0;
        if (value1 && r->GetValue1(&v1) != 0) return 0;
        if (value1) *value1 = v1;
        if (value2) *value2 = v2;
        if (value3) *value3 = v3;
        if (value4) *value4 = v4;
        if (pairFirst && pairSecond) *pairFirst = p1, *pairSecond = p2;
        HandOut(made, response);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadDVCSResponseValue(IPKIObject* response, std::uint32_t first, std::uint32_t second,
                                       std::uint32_t* value)
{
    try {
        if (!response) return 0;
        return static_cast<IPKIDVCSResponse*>(response)->ReadValue(first, second, value) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
