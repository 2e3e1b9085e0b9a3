// Tagged data content: two words and the caller's data as plain, signed, or
// signed and enveloped content, read back by the signer's key family; and the
// time-stamp object that carries a signed token with two words.
#include <cstring>

#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

const char* const kDataType = "1.2.840.113549.1.7.1";
const char* const kTimeStampInfoType = "1.2.840.113549.1.9.16.1.4";
enum : std::uint32_t { kClassTimeStamp = 4906, kIidTimeStamp = 4143 };
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

int SPKIFormats::VerifySignerByFamily(IPKIObject* content, std::uint32_t verify, IPKIObject* signedData,
                                      IPKIObject* certificate, std::uint32_t* word1, std::uint32_t* word2,
                                      PKIBlob* data)
{
    try {
        if (!formats_ || !word1 || !word2) return 0;
        // A data output that already holds a blob would be lost.
        if (data && data->data) return 0;
        LibraryBlob tagged(formats_);
        if (verify) {
            if (!signedData || !certificate) return 0;
            std::uint32_t family = 0;
            if (static_cast<IPKICertificate*>(certificate)->GetKeyKind(&family) != PKI_OK) return 0;
            int verified = 0;
            switch (family) {
            case 2:
                verified = VerifySignerSHA(signedData, -1, nullptr, certificate, nullptr);
                break;
            case 4:
                verified = VerifySignerECDSA(signedData, -1, nullptr, certificate, nullptr);
                break;
            case 1: {
                std::uint32_t hashKind = 0, size = 0;
                if (GetSignerHashKindByIndex(signedData, -1, certificate, 1, &hashKind, &size) != 1) return 0;
                verified = hashKind == 1 ? VerifySignerGOST34311(signedData, -1, nullptr, certificate, nullptr)
                                         : VerifySignerDSTU7564(signedData, -1, nullptr, certificate, nullptr);
                break;
            }
            default:
                return 0;
            }
            if (verified != 1) return 0;
            if (static_cast<IPKISignedDataSigners*>(static_cast<IPKISignedData*>(signedData))
                    ->GetContent(&tagged.blob) != PKI_OK)
                return 0;
        } else {
            if (!content) return 0;
            ObjectRef inner;
            if (static_cast<IPKIDataContentSource*>(content)->GetDataContent(inner.Out()) != PKI_OK || !inner) return 0;
            if (inner.As<IPKIDataContent>()->GetOctets(&tagged.blob) != PKI_OK) return 0;
        }
        if (tagged.blob.length < kTagBytes || !tagged.blob.data) return 0;

        LibraryBlob rest(formats_);
        const std::uint32_t restLength = tagged.blob.length - kTagBytes;
        if (data && restLength) {
            if (formats_->AllocateBlob(&rest.blob, restLength) != PKI_OK || !rest.blob.data) return 0;
            std::memcpy(rest.blob.data, tagged.blob.data + kTagBytes, restLength);
        }
        *word1 = Get32(tagged.blob.data, 0);
        *word2 = Get32(tagged.blob.data, 4);
        if (data) {
            *data = rest.blob;
            rest.blob = PKIBlob{0, nullptr};
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::BuildTimeStampContent(const PKIBlob* info, std::uint32_t word1, std::uint32_t word2, IPKIObject* key,
                                       IPKIObject* certificate, std::uint32_t family, std::uint32_t hashSelector,
                                       std::uint32_t hashLength, std::uint32_t includeCertificate, PKIBlob* output)
{
    try {
        // A token is only worth issuing signed: without a key the wrappers
        // would hand out one with no signature.
        if (!formats_ || !info || !key || !output || output->data) return 0;
        ObjectRef stamp;
        if (formats_->CreateObject(kClassTimeStamp, kIidTimeStamp, stamp.Out()) != PKI_OK || !stamp) return 0;
        auto* s = stamp.As<IPKITimeStampToken>();
        if (s->SetWords(word1, word2) != PKI_OK) return 0;

        ObjectRef signer;
        *signer.Out() = SelectCertificateForUsage(certificate, family, 1);
        if (!signer) return 0;
        IPKIObject* chosen = signer.As<IPKIObject>();

        ObjectRef signedData;
        int made = 0;
        // Hash size 0: the digest follows the certificate's key.
        switch (family) {
        case 2:
            made = CreateSignedDataSHA(kTimeStampInfoType, info, nullptr, 0, 0, key, chosen, signedData.Out());
            break;
        case 4:
            made = CreateSignedDataECDSA(kTimeStampInfoType, info, nullptr, 0, 0, key, chosen, signedData.Out());
            break;
        case 1:
            made = hashSelector == 3
                       ? CreateSignedDataWithSignerDSTU7564(kTimeStampInfoType, info, nullptr, 0, 3, hashLength, chosen,
                                                            signedData.Out())
                       : CreateSignedDataGOST34311(kTimeStampInfoType, info, nullptr, 0, key, chosen, signedData.Out());
            break;
        default:
            return 0;
        }
        if (made != 1 || !signedData) return 0;
        if (includeCertificate && signedData.As<IPKISignedDataCertificates>()->AddCertificate(chosen) != PKI_OK)
            return 0;

        ObjectRef wrapped;
        IPKIObject* sd = signedData.As<IPKIObject>();
        const int signedOk = family == 2   ? SignAndWrapSignedDataSHA(sd, key, chosen, wrapped.Out())
                             : family == 4 ? SignAndWrapSignedDataECDSA(sd, key, chosen, wrapped.Out())
                                           : SignAndWrapSignedData(sd, key, chosen, wrapped.Out());
        if (signedOk != 1 || !wrapped) return 0;
        if (s->SetTokenContentInfo(wrapped.As<IPKIObject>()) != PKI_OK) return 0;
        LibraryBlob encoded(formats_);
        if (s->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        *output = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}
