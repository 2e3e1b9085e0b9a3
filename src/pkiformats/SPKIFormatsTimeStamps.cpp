// Time stamps around signed data: the imprint of a signer's signature value
// (GOST 34.311 through the CSP, SHA through the second provider), time-stamp
// requests and time-stamp information, and the signer and certificate of a
// time-stamp token.
#include <cstdarg>
#include <cstring>
#include <string>

#include "pkiformats/HashSignatureLimits.h"
#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsCertificateReads.h"
#include "pkiformats/SPKIFormatsInternal.h"
#include "pkiformats/SignerIdentity.h"
#include "support/PKIObjectModel.h"

using namespace pkif;

namespace {

constexpr std::uint32_t kKindDSTU4145 = 1, kKindRSA = 2, kKindECDSA = 4;
constexpr std::uint32_t kImprintGOST = 1, kImprintSHA = 2, kImprintLong = 3;
constexpr std::uint32_t kImprintMax = 64;

IPKISignerInfo* Signer(IPKIObject* o)
{
    return static_cast<IPKISignerInfo*>(o);
}

// The time-stamp request reads a signer through its own view of the slots.
IPKISignerInfoTimeStampSource* Source(IPKIObject* o)
{
    return static_cast<IPKISignerInfoTimeStampSource*>(o);
}

IPKISignedDataSigners* Token(IPKIObject* o)
{
    return static_cast<IPKISignedDataSigners*>(o);
}

// The source's digest OID, up to its terminator, and its key, whose
// algorithm the request takes (request slot 24).
template <class Request>
bool TakeDigestAndKey(IPKIInterface* formats, IPKIObject* source, Request* request, std::string& digest)
{
    {
        LibraryBlob oid(formats);
        if (Source(source)->GetDigestOID(&oid.blob) != PKI_OK || !oid.blob.data) return false;
        digest.assign(reinterpret_cast<const char*>(oid.blob.data), oid.blob.length);
        digest = digest.c_str();
    }
    ObjectRef key;
    return Source(source)->GetKey(key.Out()) == PKI_OK && key &&
           request->SetKeyAlgorithm(key.As<IPKIObject>()) == PKI_OK;
}

bool SHAImprintLength(std::uint32_t n)
{
    return n == 20 || n == 28 || n == 32 || n == 48 || n == 64;
}

bool LongImprintLength(std::uint32_t n)
{
    return n == 32 || n == 48 || n == 64;
}

int CreateOut(IPKIInterface* formats, std::uint32_t classId, std::uint32_t interfaceId, void** out)
{
    ObjectRef object;
    if (!CreateInto(formats, classId, interfaceId, object)) return 0;
    if (out) {
        *out = object.As<IPKIObject>();
        *object.Out() = nullptr;
    }
    return 1;
}

// The certificate's reading in the signer identifier's form: the issuer for
// form 1, the 32-byte key identifier for form 2, else the 20-byte one.
bool CertificateMatches(IPKIInterface* formats, IPKICertificate* certificate, const PKISignerIdentifier& id)
{
    Identity own;
    if (!CertificateIdentity(formats, certificate, own)) return false;
    if (id.form == 1) {
        if (std::wcscmp(own.name.get(), id.name) != 0) return false;
    } else {
        ObjectRef object;
        if (certificate->GetSubjectKeyId(object.Out()) != PKI_OK || !object) return false;
        std::uint8_t identifier[32] = {};
        const std::uint32_t expected = id.form == 2 ? 32 : 20;
        std::uint32_t length = expected;
        if (object.As<IPKIKeyIdentifier>()->GetIdentifier(identifier, &length) != PKI_OK || length != expected)
            return false;
        if (std::memcmp(identifier, id.keyIdentifier, expected) != 0) return false;
    }
    return std::memcmp(own.serial, id.serial, kSerialBytes) == 0;
}

}  // namespace

int SPKIFormats::HashSignatureValueGOST34311(IPKIObject* signer, IPKIObject* certificate, std::uint8_t* hash)
{
    try {
        if (!signer || !hash || !csp_) return 0;
        GOST28147PackedSBox sBox{};
        if (certificate) {
            std::uint8_t publicKey[76] = {};
            std::uint32_t keyLength = 0;
            ObjectRef parameters;
            if (static_cast<IPKICertificate*>(certificate)
                        ->GetDSTU4145PublicKey(publicKey, &keyLength, parameters.Out()) != PKI_OK ||
                !parameters)
                return 0;
            DSTU4145FieldRecord field{};
            DSTU4145PointRecord point{};
            std::uint8_t bytes[PKI_SBOX_BYTES] = {};
            if (parameters.As<IPKIParameters>()->GetParameters(&field, &point, bytes) != PKI_OK) return 0;
            static_assert(sizeof sBox == PKI_SBOX_BYTES);
            std::memcpy(&sBox, bytes, PKI_SBOX_BYTES);
        } else if (!csp_->Parameters().GetStandardSBox(0, &sBox)) {
            return 0;
        }
        std::uint32_t length = 0;
        if (Signer(signer)->GetSignatureValue(nullptr, &length) != PKI_OK) return 0;
        if (length == 0 || length > PKIF_DSTU4145_SIGNATURE_MAX) return 0;
        Secret<PKIF_DSTU4145_SIGNATURE_MAX> value;
        std::uint32_t again = length;
        if (Signer(signer)->GetSignatureValue(value.bytes, &again) != PKI_OK || again != length) return 0;
        return csp_->HashGOST34311(value.bytes, length, &sBox, startVector_, hash) == CSP_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignatureValueSHA(IPKIObject* signer, IPKIObject* certificate, std::uint32_t* hashBits,
                                       std::uint8_t* hash)
{
    try {
        if (!signer || !hashBits || !hash) return 0;
        std::uint32_t keyBits = 1024;
        if (certificate) {
            auto* c = static_cast<IPKICertificate*>(certificate);
            std::uint32_t kind = 0;
            if (c->GetKeyKind(&kind) != PKI_OK) return 0;
            ObjectRef view;
            if (kind != kKindRSA) {
                if (c->GetRSAView(view.Out()) != PKI_OK || !view) return 0;
                c = view.As<IPKICertificate>();
            }
            std::uint8_t fields[1200] = {};
            if (c->GetRSAPublicKey(fields, &keyBits) != PKI_OK) return 0;
        }
        const std::uint32_t bits = keyBits >= 2048 ? 256 : 160;
        if (!HashSignatureValueWithProvider(signer, bits, hash)) return 0;
        *hashBits = bits;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindTimeStampSigner(IPKIObject* token, IPKIObject* certificate, std::int32_t* index)
{
    try {
        if (!token || !certificate || !index || !VersionAtLeast(formats_, 259)) return 0;
        Identity own, first;
        if (!CertificateIdentity(formats_, static_cast<IPKICertificate*>(certificate), own)) return 0;
        std::uint32_t count = 0;
        if (Token(token)->GetTokenSignerCount(&count) != PKI_OK || count == 0) return 0;
        std::int32_t found = -1;
        {
            ObjectRef signer;
            if (Token(token)->GetTokenSigner(0, signer.Out()) != PKI_OK || !signer) return 0;
            if (SignerIdentity(signer.As<IPKISignerInfo>(), first) && first.SameAs(own)) found = 0;
        }
        // The search runs over every signer from the first and answers the
        // matching signer's own index, taken as it stands.
        if (found < 0 && (Token(token)->FindSignerIndex(certificate, &found) != PKI_OK || found < 0)) return 0;
        if (static_cast<std::uint32_t>(found) >= count) return 0;
        *index = found;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindTimeStampCertificate(IPKIObject* token, std::uint32_t signerIndex, void** certificate)
{
    try {
        if (certificate) *certificate = nullptr;
        if (!token || !VersionAtLeast(formats_, 259)) return 0;
        std::uint32_t signers = 0;
        if (Token(token)->GetTokenSignerCount(&signers) != PKI_OK || signers == 0) return 0;
        // The index names a signer: it is checked against the signers.
        if (signerIndex >= signers) return 0;
        auto id = std::make_unique<PKISignerIdentifier>();
        {
            ObjectRef signer;
            if (Token(token)->GetTokenSigner(signerIndex, signer.Out()) != PKI_OK || !signer) return 0;
            if (!SignerIdentifier(signer.As<IPKISignerInfo>(), *id)) return 0;
        }
        std::uint32_t count = 0;
        if (Token(token)->GetTokenCertificateCount(&count) != PKI_OK) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef candidate;
            if (Token(token)->GetTokenCertificate(i, candidate.Out()) != PKI_OK || !candidate) return 0;
            if (!CertificateMatches(formats_, candidate.As<IPKICertificate>(), *id)) continue;
            if (certificate) {
                *certificate = candidate.As<IPKIObject>();
                *candidate.Out() = nullptr;
            }
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindTimeStampCertificateInSigner(IPKIObject* signer, std::uint32_t tokenIndex,
                                                  std::uint32_t signerIndex, void** certificate)
{
    try {
        if (certificate) *certificate = nullptr;
        if (!signer) return 0;
        ObjectRef token;
        if (Signer(signer)->GetTimeStampTokenAt(tokenIndex, token.Out()) != PKI_OK || !token) return 0;
        return FindTimeStampCertificate(token.As<IPKIObject>(), signerIndex, certificate);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampRequest(IPKIObject* signer, void** request)
{
    try {
        if (request) *request = nullptr;
        if (!signer) return 0;
        std::uint32_t version = 0;
        if (formats_->GetVersion(&version) != PKI_OK || version < 259) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_TS_REQUEST, PKI_IID_TS_REQUEST, made)) return 0;
        auto* r = made.As<IPKITimeStampRequest>();
        std::uint32_t kind = 0;
        if (Source(signer)->GetKeyKind(&kind) != PKI_OK) return 0;
        std::string digest;
        if (!TakeDigestAndKey(formats_, signer, r, digest)) return 0;
        const bool newer = version >= 266;
        if (kind == kKindDSTU4145) {
            GOST28147PackedSBox sBox{};
            if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &sBox)) return 0;
            int rc = newer ? r->FillFromSignerDSTU4145(signer, digest.c_str())
                           : r->FillFromSignerDSTU4145Old(signer, digest.c_str());
            if (rc != PKI_OK || r->BuildImprintGOST(reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK) return 0;
        } else if (kind == kKindRSA || kind == kKindECDSA) {
            int rc = newer ? r->FillFromSignerIntl(signer, digest.c_str())
                           : r->FillFromSignerIntlOld(signer, digest.c_str());
            if (rc != PKI_OK || r->BuildImprintSHA() != PKI_OK) return 0;
        } else {
            return 0;
        }
        if (request) {
            *request = made.As<IPKIObject>();
            *made.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampHolderA(void** object)
{
    try {
        return CreateOut(formats_, 4935, 4197, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampHolderB(void** object)
{
    try {
        return CreateOut(formats_, 4936, 4196, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampHolderC(void** object)
{
    try {
        return CreateOut(formats_, 4937, 4195, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampHolderD(void** object)
{
    try {
        return CreateOut(formats_, 4938, 4181, object);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadTimeStampRequest(IPKIObject* request, std::uint32_t* kind, std::uint32_t* secondValue,
                                      std::uint32_t* hasNonce, PKIBlob* nonce)
{
    try {
        if (!request || (nonce && nonce->data) || !formats_) return 0;
        auto* r = static_cast<IPKITimeStampRequest*>(request);
        std::uint32_t k = 0, second = 0, flag = 0;
        if (kind && r->GetImprintKind(&k) != PKI_OK) return 0;
        if (secondValue && r->GetSecondValue(&second) != PKI_OK) return 0;
        LibraryBlob read(formats_);
        if (hasNonce || nonce) {
            std::uint32_t length = 0;
            if (r->GetNonce(nullptr, &length) != PKI_OK) return 0;
            flag = length != 0;
            if (nonce && length) {
                if (formats_->AllocateBlob(&read.blob, length) != PKI_OK || !read.blob.data) return 0;
                std::uint32_t again = length;
                if (r->GetNonce(read.blob.data, &again) != PKI_OK || again != length) return 0;
            }
        }
        if (kind) *kind = k;
        if (secondValue) *secondValue = second;
        if (hasNonce) *hasNonce = flag;
        if (nonce) {
            *nonce = read.blob;
            read.blob = PKIBlob{0, nullptr};
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampInfo(IPKIObject* request, std::uint32_t firstValue, std::uint32_t secondValue,
                                     PKIBlob* out)
{
    try {
        if (!request || !out || out->data || !formats_) return 0;
        auto* r = static_cast<IPKITimeStampRequest*>(request);
        std::uint32_t kind = 0, hasNonce = 0;
        LibraryBlob nonce(formats_);
        if (!ReadTimeStampRequest(request, &kind, nullptr, &hasNonce, &nonce.blob)) return 0;
        std::uint8_t imprint[kImprintMax] = {};
        std::uint32_t length = kImprintMax;
        // Each kind's imprint must have one of its hash's lengths before it
        // goes into the answer.
        if (kind == kImprintSHA) {
            if (r->GetImprintSHA(imprint, &length) != PKI_OK || !SHAImprintLength(length)) return 0;
        } else if (kind == kImprintLong) {
            ObjectRef view;
            if (!QueryInto(request, PKI_IID_TS_REQUEST_IMPRINT, view)) return 0;
            if (view.As<IPKITimeStampRequestImprint>()->GetLongImprint(imprint, &length) != PKI_OK ||
                !LongImprintLength(length))
                return 0;
        } else if (kind == kImprintGOST) {
            if (r->GetImprintGOST(imprint, &length) != PKI_OK || length != 32) return 0;
        } else {
            return 0;
        }
        ObjectRef info;
        if (!CreateInto(formats_, PKI_CLASS_TS_INFO, PKI_IID_TS_INFO, info)) return 0;
        auto* t = info.As<IPKITimeStampInfo>();
        if (t->SetRequest(request) != PKI_OK || t->SetFirstValue(firstValue) != PKI_OK ||
            t->SetSecondValue(secondValue) != PKI_OK)
            return 0;
        if (hasNonce && t->SetNonce(nonce.blob.data, nonce.blob.length) != PKI_OK) return 0;
        if (kind == kImprintSHA) {
            if (t->SetImprintSHA(imprint, length) != PKI_OK) return 0;
        } else if (kind == kImprintLong) {
            ObjectRef view;
            if (!QueryInto(info.As<IPKIObject>(), PKI_IID_TS_INFO_IMPRINT, view)) return 0;
            if (view.As<IPKITimeStampInfoImprint>()->SetLongImprint(kind, imprint, length) != PKI_OK) return 0;
        } else if (t->SetImprintGOST(imprint, length) != PKI_OK) {
            return 0;
        }
        LibraryBlob encoded(formats_);
        if (t->Encode(&encoded.blob) != PKI_OK || !encoded.blob.data) return 0;
        *out = encoded.blob;
        encoded.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::CreateTimeStampAttribute(const char* oid, const PKIBlob* value, void** attribute)
{
    try {
        if (attribute) *attribute = nullptr;
        if (!oid || !value || !VersionAtLeast(formats_, 260)) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_SIGNED_ATTRIBUTE, PKI_IID_SIGNED_ATTRIBUTE, made)) return 0;
        if (made.As<IPKISignedAttribute>()->SetType(oid) != PKI_OK ||
            made.As<IPKISignedAttribute>()->SetEncodedValue(value) != PKI_OK)
            return 0;
        if (attribute) {
            *attribute = made.As<IPKIObject>();
            *made.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetTimeStampTokenBlob(IPKIObject* signer, std::uint32_t tokenIndex, PKIBlob* out)
{
    try {
        if (!signer || !out || out->data) return 0;
        ObjectRef token;
        if (Signer(signer)->GetTimeStampTokenAt(tokenIndex, token.Out()) != PKI_OK || !token) return 0;
        std::uint32_t length = 0;
        if (Token(token.As<IPKIObject>())->EncodeInto(nullptr, &length) != PKI_OK || length == 0) return 0;
        // Freed again on every path but the hand-out.
        struct Guard {
            SPKIFormats& facade;
            PKIBlob blob{0, nullptr};
            ~Guard() { facade.ReleaseBlob(&blob); }
        } guard{*this};
        if (!AllocateBlob(&guard.blob, length)) return 0;
        std::uint32_t again = length;
        if (Token(token.As<IPKIObject>())->EncodeInto(guard.blob.data, &again) != PKI_OK || again != length) return 0;
        *out = guard.blob;
        guard.blob = PKIBlob{0, nullptr};
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetSignerDecodedCertificate(IPKIObject* signer, const PKIBlob* certificate)
{
    try {
        if (!signer) return 0;
        ObjectRef decoded;
        if (!DecodeCertificate(certificate, decoded.Out()) || !decoded) return 0;
        return Signer(signer)->SetCertificate(decoded.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AttachContentInfo(IPKIObject* object, const PKIBlob* encoded)
{
    try {
        if (!object || Empty(encoded) || !VersionAtLeast(formats_, 259)) return 0;
        ObjectRef content;
        if (!CreateInto(formats_, PKI_CLASS_CONTENT_INFO, PKI_IID_CONTENT_INFO, content)) return 0;
        if (content.As<IPKIContentInfo>()->Decode(encoded) != PKI_OK) return 0;
        return Token(object)->SetContentInfo(content.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::GetEmbeddedObject(IPKIObject* object, std::uint32_t* flag, PKIBlob* encoded)
{
    try {
        if (!object || !flag || (encoded && encoded->data)) return 0;
        std::uint32_t form = 0, detached = 0;
        if (Token(object)->GetContentForm(&form) != PKI_OK || Token(object)->GetDetached(&detached) != PKI_OK) return 0;
        if (form == 0 && detached == 1) {
            *flag = 0;
            return 1;
        }
        ObjectRef embedded;
        const int rc = Token(object)->GetEmbeddedObject(embedded.Out());
        if (rc == PKI_E_ABSENT) {
            *flag = 0;
            return 1;
        }
        if (rc != PKI_OK || !embedded) return 0;
        if (encoded) {
            LibraryBlob out(formats_);
            if (embedded.As<IPKIEncoded>()->Encode(&out.blob) != PKI_OK || !out.blob.data) return 0;
            *encoded = out.blob;
            out.blob = PKIBlob{0, nullptr};
        }
        *flag = 1;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignerSignatureGOST34311(IPKIObject* signedData, IPKIObject* certificate, std::uint8_t* hash)
{
    try {
        if (!signedData || !certificate || !hash) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return HashSignatureValueGOST34311(signer.As<IPKIObject>(), certificate, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::HashSignerSignatureSHA(IPKIObject* signedData, IPKIObject* certificate, std::uint32_t* hashBits,
                                        std::uint8_t* hash)
{
    try {
        if (!signedData || !certificate || !hashBits || !hash) return 0;
        ObjectRef signer;
        if (FindSignerByCertificate(signedData, certificate, signer.Out()) != 1 || !signer) return 0;
        return HashSignatureValueSHA(signer.As<IPKIObject>(), certificate, hashBits, hash);
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetRequestCertificates(IPKIObject* request, IPKIObject* certificateList)
{
    try {
        if (!request) return 0;
        std::uint32_t count = 0;
        auto* list = static_cast<IPKICertificateList*>(certificateList);
        if (list && list->GetCount(&count) != PKI_OK) return 0;
        // No certificates: one call with none clears the request's list.
        if (count == 0) return Signer(request)->AddRequestCertificate(nullptr) == PKI_OK ? 1 : 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry, certificate;
            if (list->GetEntry(i, entry.Out()) != PKI_OK || !entry) return 0;
            if (!QueryInto(entry.As<IPKIObject>(), PKI_IID_CERTIFICATE, certificate)) return 0;
            if (Signer(request)->AddRequestCertificate(certificate.As<IPKIObject>()) != PKI_OK) return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

namespace {

constexpr std::uint32_t kCodeGOST34311 = 1, kCodeSHA1 = 2, kCodeDSTU7564First = 7, kCodeDSTU7564Last = 9;

// The hash-algorithm code of an explicit hash type and size (1 GOST 34.311;
// 2 SHA by size in bits; 3 DSTU 7564 by size in bytes); 0 when refused.
std::uint32_t CodeOfHash(std::uint32_t type, std::uint32_t size)
{
    if (type == 1) return kCodeGOST34311;
    if (type == 2) {
        const std::uint32_t sizes[] = {160, 224, 256, 384, 512};
        for (std::uint32_t i = 0; i < 5; ++i)
            if (size == sizes[i]) return kCodeSHA1 + i;
    }
    if (type == 3) {
        const std::uint32_t sizes[] = {32, 48, 64};
        for (std::uint32_t i = 0; i < 3; ++i)
            if (size == sizes[i]) return kCodeDSTU7564First + i;
    }
    return 0;
}

}  // namespace

int SPKIFormats::CreateTimeStampRequestByHashType(IPKIObject* source, std::uint32_t hashType, std::uint32_t hashSize,
                                                  void** request)
{
    try {
        if (request) *request = nullptr;
        if (!formats_) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_TS_REQUEST, PKI_IID_TS_REQUEST_BY_HASH, made)) {
            // A library without the coded request still builds the older one
            // for the GOST 34.311 and SHA-1 imprints.
            if (hashType == 0 || hashType == 1 || (hashType == 2 && hashSize == 160))
                return CreateTimeStampRequest(source, request);
            return 0;
        }
        auto* r = made.As<IPKITimeStampRequestByHash>();
        if (source) {
            std::string digest;
            if (!TakeDigestAndKey(formats_, source, r, digest)) return 0;
            std::uint32_t code = 0;
            if (hashType == 0) {
                std::uint32_t kind = 0;
                if (Source(source)->GetKeyKind(&kind) != PKI_OK) return 0;
                if (kind == kKindRSA || kind == kKindECDSA) {
                    code = kCodeSHA1;
                } else if (kind == kKindDSTU4145) {
                    code = kCodeGOST34311;
                    ObjectRef view;
                    if (QueryInto(source, PKI_IID_SIGNER_HASH_CODE, view)) {
                        std::uint32_t reported = 0;
                        if (view.As<IPKISignerHashCode>()->GetHashCode(&reported) != PKI_OK) return 0;
                        if (reported >= kCodeDSTU7564First && reported <= kCodeDSTU7564Last) code = kCodeDSTU7564First;
                    }
                }
            } else {
                code = CodeOfHash(hashType, hashSize);
            }
            if (code == 0) return 0;
            if (code == kCodeGOST34311) {
                GOST28147PackedSBox sBox{};
                if (!csp_ || !csp_->Parameters().GetStandardSBox(0, &sBox)) return 0;
                if (r->FillGOST(source, code, digest.c_str()) != PKI_OK ||
                    r->BuildImprintGOST(nullptr, reinterpret_cast<const std::uint8_t*>(&sBox)) != PKI_OK)
                    return 0;
            } else if (r->FillCoded(source, code, digest.c_str()) != PKI_OK ||
                       r->BuildImprintCoded(nullptr, code, digest.c_str()) != PKI_OK) {
                return 0;
            }
        }
        if (request) {
            *request = made.As<IPKIObject>();
            *made.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddSignatureTimeStamp(IPKIObject* signer, IPKIObject* source, ...)
{
    try {
        std::va_list rest;
        va_start(rest, source);
        std::uint32_t kind = va_arg(rest, std::uint32_t);
        std::uint32_t size = va_arg(rest, std::uint32_t);
        va_end(rest);
        if (!signer || !VersionAtLeast(formats_, 259)) return 0;
        // Kind 0: the signer's own hash; a signer that reports none leaves
        // the request builder to choose.
        if (kind == 0 && !GetSignerHashKindBySigner(signer, 1, &kind, &size)) kind = size = 0;
        ObjectRef request;
        if (!CreateTimeStampRequestByHashType(source, kind, size, request.Out()) || !request) return 0;
        if (Signer(signer)->AddTimeStampRequest(request.As<IPKIObject>()) != PKI_OK) return 0;
        return Signer(signer)->SetTimeStampSource(source) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SetSignerResponseObject(IPKIObject* signer, const PKIBlob* encoded)
{
    try {
        if (!signer) return 0;
        ObjectRef response, request;
        if (encoded && !DecodeOCSPResponse(encoded, response.Out())) return 0;
        if (!CreateTimeStampRequestByHashType(response.As<IPKIObject>(), 0, 0, request.Out()) || !request) return 0;
        return Signer(signer)->SetCertificate(request.As<IPKIObject>()) == PKI_OK ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddTimeStampRequestHashes(IPKIObject* request, IPKIObject* certificateList, std::uint32_t hashKind,
                                           std::uint32_t hashBits)
{
    try {
        if (!request || !certificateList || !VersionAtLeast(formats_, 259)) return 0;
        auto* list = static_cast<IPKICertificateList*>(certificateList);
        std::uint32_t count = 0;
        if (list->GetCount(&count) != PKI_OK) return 0;
        if (count == 0) return 1;
        ObjectRef view;
        const bool coded = QueryInto(request, PKI_IID_SIGNER_INFO_DSTU7564, view);
        // Without the DSTU 7564 view only the GOST 34.311 and SHA-1 hashes
        // can be added.
        if (!coded && !(hashKind == 0 || hashKind == 1 || (hashKind == 2 && hashBits == 160))) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry, certificate;
            if (list->GetEntry(i, entry.Out()) != PKI_OK || !entry) return 0;
            if (!QueryInto(entry.As<IPKIObject>(), PKI_IID_CERTIFICATE, certificate)) return 0;
            const int rc = coded
                               ? view.As<IPKISignerInfoDSTU7564>()->AddRequestHashCertificateDSTU7564(
                                     certificate.As<IPKIObject>(), 1, hashKind, hashKind == 2 ? hashBits / 8 : hashBits)
                               : Signer(request)->AddRequestHashCertificate(certificate.As<IPKIObject>(), 1, 0);
            if (rc != PKI_OK) return 0;
        }
        std::uint32_t counted = 0;
        if (Signer(request)->GetRequestHashCount(&counted) != PKI_OK) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_TS_REQUEST, PKI_IID_TS_REQUEST, made)) return 0;
        // One request for each certificate the signer does not count yet.
        for (std::uint32_t n = counted; n < count; ++n)
            if (Signer(request)->AddTimeStampRequest(made.As<IPKIObject>()) != PKI_OK) return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}
