// Streamed CMS encodings: the library encodes only a message's header for a
// content of known 64-bit length, and parses a received header to tell where
// the content starts and how long it is. 64-bit values travel as (low, high)
// words; every output array below holds two words.
#include <cstring>

#include "pkiformats/EnvelopedContent.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"

using namespace pkif;

namespace {

void ClearOutputs(std::uint32_t* headerOffset, std::uint32_t* contentLength, std::uint32_t* value, std::uint32_t* seen,
                  std::uint32_t* needed)
{
    Clear64(headerOffset);
    Clear64(contentLength);
    if (value) *value = 0;
    Clear64(seen);
    Clear64(needed);
}

// The partial progress of an incomplete header.
void ReportIncomplete(const PKIStreamParse& parse, std::uint32_t* value, std::uint32_t* seen, std::uint32_t* needed)
{
    if (value) *value = parse.value;
    Split64(Join64(parse.end), seen);
    Split64(Join64(parse.needed), needed);
}

// content length = end - header offset; an end before the header is refused.
bool ContentLength(const PKIStreamParse& parse, std::uint64_t* length)
{
    std::uint64_t offset = Join64(parse.headerOffset), end = Join64(parse.end);
    if (end < offset) return false;
    *length = end - offset;
    return true;
}

// A header parse of a fresh object (enveloped data slot 46, signed data slot
// 29): its header length (the offset where its content starts).
template <typename T>
bool InnerHeaderLength(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, const PKIBlob* data,
                       std::uint64_t* length)
{
    ObjectRef fresh;
    if (!CreateInto(formats, classId, interfaceId, fresh)) return false;
    PKIStreamParse parse{};
    if (fresh.As<T>()->ParseHeader(data, &parse) != PKI_OK) return false;
    *length = Join64(parse.headerOffset);
    return true;
}

// The content info's header of `info`, parsed back for its own length, plus
// the inner header's length. The blob is the caller's on success only.
template <typename Inner>
int EncodeContentInfoHeader(IPKIInterface* formats, IPKICMSContentInfo* info, std::uint32_t innerClass,
                            std::uint32_t innerInterface, PKIBlob* header, std::uint32_t* headerLength)
{
    LibraryBlob encoded(formats);
    if (info->EncodeHeader(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
    PKIStreamParse parse{};
    if (info->ParseHeader(&encoded.blob, &parse) != PKI_OK) return 0;
    std::uint64_t outer = Join64(parse.headerOffset), inner = 0;
    if (outer > encoded.blob.length) return 0;
    PKIBlob rest{static_cast<std::uint32_t>(encoded.blob.length - outer), encoded.blob.data + outer};
    if (!InnerHeaderLength<Inner>(formats, innerClass, innerInterface, &rest, &inner)) return 0;
    if (inner > 0xFFFFFFFFull - outer) return 0;
    Split64(outer + inner, headerLength);
    *header = encoded.blob;
    encoded.blob = PKIBlob{0, nullptr};
    return 1;
}

// The parse shared by the enveloped and signed forms (slots 46 and 29).
template <typename T>
int ParseStreamedInner(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, const PKIBlob* data,
                       std::uint32_t* headerOffset, std::uint32_t* contentLength, std::uint32_t* value,
                       std::uint32_t* seen, std::uint32_t* needed)
{
    ClearOutputs(headerOffset, contentLength, value, seen, needed);
    if (!formats || !data || (data->length && !data->data)) return 0;
    ObjectRef object;
    if (!CreateInto(formats, classId, interfaceId, object)) return 0;
    PKIStreamParse parse{};
    int rc = object.As<T>()->ParseHeader(data, &parse);
    if (rc == PKI_E_INCOMPLETE) {
        ReportIncomplete(parse, value, seen, needed);
        return 0;
    }
    std::uint64_t length = 0;
    if (rc != PKI_OK || !ContentLength(parse, &length)) return 0;
    Split64(Join64(parse.headerOffset), headerOffset);
    Split64(length, contentLength);
    if (value) *value = parse.value;
    return 1;
}

// A fresh object takes the content length and parses the data (enveloped
// slots 45 and 44, signed slots 28 and 27); it is handed out on success.
template <typename T>
int BeginStreamed(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, const PKIBlob* data,
                  std::uint32_t lengthLow, std::uint32_t lengthHigh, void** object, std::uint32_t* value,
                  std::uint32_t* seen, std::uint32_t* needed)
{
    if (!object) return 0;
    *object = nullptr;
    ClearOutputs(nullptr, nullptr, value, seen, needed);
    if (!formats || !data || (data->length && !data->data)) return 0;
    ObjectRef fresh;
    if (!CreateInto(formats, classId, interfaceId, fresh)) return 0;
    auto* t = fresh.As<T>();
    if (t->SetStreamedContentLength(lengthLow, lengthHigh) != PKI_OK) return 0;
    PKIStreamParse parse{};
    int rc = t->ParseStreamed(data, &parse);
    if (rc == PKI_E_INCOMPLETE) {
        ReportIncomplete(parse, value, seen, needed);
        return 0;
    }
    if (rc != PKI_OK) return 0;
    if (value) *value = parse.value;
    *object = fresh.As<IPKIObject>();
    *fresh.Out() = nullptr;
    return 1;
}

}  // namespace

int SPKIFormats::EncodeStreamedEnvelopedDataHeader(IPKIObject* envelopedData, std::uint32_t lengthLow,
                                                   std::uint32_t lengthHigh, PKIBlob* header,
                                                   std::uint32_t* headerLength)
{
    try {
        Clear64(headerLength);
        if (!formats_ || !envelopedData || !header || !headerLength) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* ci = info.As<IPKICMSContentInfo>();
        if (ci->SetContentType(kOidEnvelopedData) != PKI_OK ||
            static_cast<IPKIEnvelopedData*>(envelopedData)->SetStreamedContentLength(lengthLow, lengthHigh) != PKI_OK ||
            ci->SetStreamedContent(envelopedData) != PKI_OK)
            return 0;
        return EncodeContentInfoHeader<IPKIEnvelopedData>(formats_, ci, PKI_CLASS_ENVELOPED_DATA,
                                                          PKI_IID_ENVELOPED_DATA, header, headerLength);
    } catch (...) {
        return 0;
    }
}

// contentType: the expected type, or null for any.
int SPKIFormats::ParseStreamedContentInfo(const PKIBlob* data, const char* contentType, std::uint32_t* headerOffset,
                                          std::uint32_t* contentLength, std::uint32_t* value, std::uint32_t* seen,
                                          std::uint32_t* needed)
{
    try {
        ClearOutputs(headerOffset, contentLength, value, seen, needed);
        if (!formats_ || !data || (data->length && !data->data)) return 0;
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
        auto* ci = info.As<IPKICMSContentInfo>();
        PKIStreamParse parse{};
        int rc = ci->ParseHeader(data, &parse);
        if (rc == PKI_E_INCOMPLETE) {
            ReportIncomplete(parse, value, seen, needed);
            return 0;
        }
        std::uint64_t length = 0;
        if (rc != PKI_OK || !ContentLength(parse, &length)) return 0;
        if (ci->SetHeaderOffset(parse.headerOffset[0], parse.headerOffset[1]) != PKI_OK) return 0;
        if (ci->CompleteParse() != PKI_OK) return 0;
        if (contentType) {
            LibraryBlob type(formats_);
            if (ci->GetContentType(&type.blob) != PKI_OK || !type.blob.data) return 0;
            std::size_t n = std::strlen(contentType);
            if (type.blob.length != n || std::memcmp(type.blob.data, contentType, n) != 0) return 0;
        }
        // Outputs only for a whole success.
        Split64(Join64(parse.headerOffset), headerOffset);
        Split64(length, contentLength);
        if (value) *value = parse.value;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ParseStreamedEnvelopedData(const PKIBlob* data, std::uint32_t* headerOffset,
                                            std::uint32_t* contentLength, std::uint32_t* value, std::uint32_t* seen,
                                            std::uint32_t* needed)
{
    try {
        return ParseStreamedInner<IPKIEnvelopedData>(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, data,
                                                     headerOffset, contentLength, value, seen, needed);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BeginStreamedEnvelopedData(const PKIBlob* data, std::uint32_t lengthLow, std::uint32_t lengthHigh,
                                            void** envelopedData, std::uint32_t* value, std::uint32_t* seen,
                                            std::uint32_t* needed)
{
    try {
        return BeginStreamed<IPKIEnvelopedData>(formats_, PKI_CLASS_ENVELOPED_DATA, PKI_IID_ENVELOPED_DATA, data,
                                                lengthLow, lengthHigh, envelopedData, value, seen, needed);
    } catch (...) {
        if (envelopedData && *envelopedData) {
            static_cast<IPKIObject*>(*envelopedData)->Release();
            *envelopedData = nullptr;
        }
        return 0;
    }
}

int SPKIFormats::ParseStreamedSignedData(const PKIBlob* data, std::uint32_t* headerOffset, std::uint32_t* contentLength,
                                         std::uint32_t* value, std::uint32_t* seen, std::uint32_t* needed)
{
    try {
        return ParseStreamedInner<IPKISignedDataStream>(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, data,
                                                        headerOffset, contentLength, value, seen, needed);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BeginStreamedSignedData(const PKIBlob* data, std::uint32_t lengthLow, std::uint32_t lengthHigh,
                                         void** signedData, std::uint32_t* value, std::uint32_t* seen,
                                         std::uint32_t* needed)
{
    try {
        return BeginStreamed<IPKISignedDataStream>(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, data,
                                                   lengthLow, lengthHigh, signedData, value, seen, needed);
    } catch (...) {
        return 0;
    }
}

// ---- Streamed signed data, by family ----
// The signing of the last signer is the signed-data operations' own
// (SignLastSignerEntry*), reached through the interface.

int SPKIFormats::PrepareStreamedSigned(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate,
                                       std::uint32_t lengthLow, std::uint32_t lengthHigh, void** contentInfo)
{
    if (!contentInfo) return 0;
    *contentInfo = nullptr;
    if (!formats_ || !signedData) return 0;
    if (key && SignLastSigner(family, signedData, key, certificate) != 1) return 0;
    if (static_cast<IPKISignedDataStream*>(signedData)->SetStreamedContentLength(lengthLow, lengthHigh) != PKI_OK)
        return 0;
    ObjectRef info;
    if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info)) return 0;
    auto* ci = info.As<IPKICMSContentInfo>();
    if (ci->SetContentType(kOidSignedData) != PKI_OK || ci->SetStreamedContent(signedData) != PKI_OK) return 0;
    *contentInfo = info.As<IPKIObject>();
    *info.Out() = nullptr;
    return 1;
}

int SPKIFormats::EncodeStreamedSignedHeader(int family, IPKIObject* signedData, IPKIObject* key,
                                            IPKIObject* certificate, std::uint32_t lengthLow, std::uint32_t lengthHigh,
                                            PKIBlob* header, std::uint32_t* headerLength)
{
    Clear64(headerLength);
    if (!header || !headerLength) return 0;
    ObjectRef info;
    if (PrepareStreamedSigned(family, signedData, key, certificate, lengthLow, lengthHigh, info.Out()) != 1) return 0;
    return EncodeContentInfoHeader<IPKISignedDataStream>(formats_, info.As<IPKICMSContentInfo>(), PKI_CLASS_SIGNED_DATA,
                                                         PKI_IID_SIGNED_DATA, header, headerLength);
}

int SPKIFormats::EncodeStreamedBareSignedHeader(int family, IPKIObject* signedData, IPKIObject* key,
                                                IPKIObject* certificate, std::uint32_t lengthLow,
                                                std::uint32_t lengthHigh, PKIBlob* header, std::uint32_t* headerLength)
{
    Clear64(headerLength);
    if (!formats_ || !signedData || !header || !headerLength) return 0;
    auto* s = static_cast<IPKISignedDataStream*>(signedData);
    if (key && (SignLastSigner(family, signedData, key, certificate) != 1 ||
                s->SetStreamedContentLength(lengthLow, lengthHigh) != PKI_OK))
        return 0;
    LibraryBlob encoded(formats_);
    if (s->EncodeHeader(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
    std::uint64_t length = 0;
    if (!InnerHeaderLength<IPKISignedDataStream>(formats_, PKI_CLASS_SIGNED_DATA, PKI_IID_SIGNED_DATA, &encoded.blob,
                                                 &length))
        return 0;
    Split64(length, headerLength);
    *header = encoded.blob;
    encoded.blob = PKIBlob{0, nullptr};
    return 1;
}

// family: 0 GOST 34.311, 1 SHA, 2 ECDSA.
int SPKIFormats::SignLastSigner(int family, IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate)
{
    // The signing time the signer already carries is not kept (0), as the
    // message operations sign.
    switch (family) {
    case 0:
        return SignLastSignerEntryGOST34311(signedData, key, certificate, 0);
    case 1:
        return SignLastSignerEntrySHA(signedData, key, certificate, 0);
    default:
        return SignLastSignerEntryECDSA(signedData, key, certificate);
    }
}

#define QVK_STREAMED_FAMILY(Suffix, family)                                                                            \
    int SPKIFormats::PrepareStreamedSignedData##Suffix(IPKIObject* signedData, IPKIObject* key,                        \
                                                       IPKIObject* certificate, std::uint32_t lengthLow,               \
                                                       std::uint32_t lengthHigh, void** contentInfo)                   \
    {                                                                                                                  \
        try {                                                                                                          \
            return PrepareStreamedSigned(family, signedData, key, certificate, lengthLow, lengthHigh, contentInfo);    \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }                                                                                                                  \
    int SPKIFormats::EncodeStreamedSignedDataHeader##Suffix(                                                           \
        IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate, std::uint32_t lengthLow,                     \
        std::uint32_t lengthHigh, PKIBlob* header, std::uint32_t* headerLength)                                        \
    {                                                                                                                  \
        try {                                                                                                          \
            return EncodeStreamedSignedHeader(family, signedData, key, certificate, lengthLow, lengthHigh, header,     \
                                              headerLength);                                                           \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }                                                                                                                  \
    int SPKIFormats::EncodeStreamedBareSignedDataHeader##Suffix(                                                       \
        IPKIObject* signedData, IPKIObject* key, IPKIObject* certificate, std::uint32_t lengthLow,                     \
        std::uint32_t lengthHigh, PKIBlob* header, std::uint32_t* headerLength)                                        \
    {                                                                                                                  \
        try {                                                                                                          \
            return EncodeStreamedBareSignedHeader(family, signedData, key, certificate, lengthLow, lengthHigh, header, \
                                                  headerLength);                                                       \
        } catch (...) {                                                                                                \
            return 0;                                                                                                  \
        }                                                                                                              \
    }

QVK_STREAMED_FAMILY(GOST34311, 0)
QVK_STREAMED_FAMILY(SHA, 1)
QVK_STREAMED_FAMILY(ECDSA, 2)
