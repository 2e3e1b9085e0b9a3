// Tagged data content: two words and the caller's data as plain, signed, or
// signed and enveloped content.
#include <cstring>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

const char* const kDataType = "1.2.840.113549.1.7.1";
constexpr std::uint32_t kTagBytes = 8;

}  // namespace

int SPKIFormats::BuildDataContentInfo(std::uint32_t word1, std::uint32_t word2, const PKIBlob* data,
                                      std::uint32_t modeWord, IPKIObject* key, IPKIObject* signerCertificate,
                                      IPKIObject* recipientCertificate, PKIBlob* output)
{
    try {
        if (!formats_ || !output || output->data) return 0;
        const std::uint32_t mode = modeWord & 0xFFFFFF;
        if (mode > 2) return 0;
        const std::uint32_t length = data ? data->length : 0;
        if (length && !data->data) return 0;
        // The words go in front of the data: a length that leaves no room
        // for them would wrap.
        if (length > 0xFFFFFFFFu - kTagBytes) return 0;

        LibraryBlob tagged(formats_);
        if (formats_->AllocateBlob(&tagged.blob, length + kTagBytes) != PKI_OK || !tagged.blob.data) return 0;
        Put32(tagged.blob.data, 0, word1);
        Put32(tagged.blob.data, 4, word2);
        if (length) std::memcpy(tagged.blob.data + kTagBytes, data->data, length);

        if (mode == 0) {
            ObjectRef content, info;
            if (formats_->CreateObject(PKI_CLASS_DATA_CONTENT, PKI_IID_DATA_CONTENT, content.Out()) != PKI_OK ||
                !content)
                return 0;
            if (content.As<IPKIDataContent>()->SetOctets(&tagged.blob) != PKI_OK) return 0;
            ReleaseBlob(&tagged.blob);
            if (formats_->CreateObject(PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, info.Out()) != PKI_OK || !info)
                return 0;
            auto* i = info.As<IPKICMSContentInfo>();
            if (i->SetContentType(kDataType) != PKI_OK || i->SetContentObject(content.As<IPKIObject>()) != PKI_OK)
                return 0;
            return i->Encode(output) == PKI_OK ? 1 : 0;
        }

        ObjectRef signedData;
        const bool dstu7564 = (modeWord >> 28) == 1;
        const int made = dstu7564 ? CreateSignedDataWithSignerDSTU7564(kDataType, &tagged.blob, nullptr, 0, 3, 32,
                                                                       signerCertificate, signedData.Out())
                                  : CreateSignedDataOfDataGOST34311(&tagged.blob, 0, key, signerCertificate,
                                                                    signedData.Out(), nullptr);
        if (!made || !signedData) return 0;
        ReleaseBlob(&tagged.blob);
        if (mode == 1)
            return SignAndEncodeContentInfo(signedData.As<IPKIObject>(), key, signerCertificate, nullptr, output) ? 1
                                                                                                                  : 0;

        LibraryBlob encoded(formats_);
        if (!SignAndEncodeSignedData(signedData.As<IPKIObject>(), key, signerCertificate, &encoded.blob)) return 0;
        const std::uint32_t cipherKind = ((modeWord >> 24) & 0xF) == 1 ? 9 : 2;
        ObjectRef enveloped;
        if (!EnvelopeForRecipientsDSTU4145(cipherKind, &encoded.blob, 1, key, signerCertificate, enveloped.Out()) ||
            !enveloped)
            return 0;
        ReleaseBlob(&encoded.blob);
        if (!AddRecipientByIssuerSerial(enveloped.As<IPKIObject>(), recipientCertificate)) return 0;
        return EncodeEnvelopedDataAsContentInfo(enveloped.As<IPKIObject>(), output) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
