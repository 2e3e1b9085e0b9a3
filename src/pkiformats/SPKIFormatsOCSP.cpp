// OCSP requests and responses: CertIDs by hash kind and library version,
// nonces, single responses, signing and checking of responses. The library
// objects do the coding; the facade picks what goes in and checks what comes
// out against the callers' buffers.
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <vector>

#include "pkiformats/KeyBuffers.h"
#include "pkiformats/SPKIFormats.h"
#include "pkiformats/SPKIFormatsInternal.h"

using namespace pkif;

namespace {

// Digest length in bytes by hash kind (0 for an unknown kind).
std::uint32_t HashBytes(std::uint32_t kind)
{
    static const std::uint32_t lengths[10] = {0, 32, 20, 28, 32, 48, 64, 32, 48, 64};
    return kind < 10 ? lengths[kind] : 0;
}

bool IsSHA(std::uint32_t kind)
{
    return kind >= 2 && kind <= 6;
}

bool IsDSTU7564(std::uint32_t kind)
{
    return kind >= 7 && kind <= 9;
}

// A peer's value into a caller's fixed buffer: at most `limit` bytes, either
// right-aligned (serial records) or followed by zeros (hashes, nonces).
bool CopyBounded(const PKIBlob& value, std::uint32_t limit, std::uint8_t* out, std::uint32_t outSize, bool rightAlign)
{
    if (value.length > limit || value.length > outSize || (value.length && !value.data)) return false;
    std::memset(out, 0, outSize);
    if (value.length) std::memcpy(out + (rightAlign ? outSize - value.length : 0), value.data, value.length);
    return true;
}

// Facade revocation reason (with kind 2) to CRLReason.
std::uint32_t ReasonOfCode(std::uint32_t code)
{
    switch (code) {
    case 2:
        return 2;
    case 3:
        return 1;
    case 4:
        return 3;
    case 5:
    case 7:
        return 5;
    case 6:
        return 4;
    default:
        return 0;
    }
}

// A name object as Windows-1251 text of at most `capacity` bytes.
bool NameText(IPKIInterface* formats, IPKIObject* name, char* text, std::uint32_t capacity)
{
    std::vector<wchar_t> wide(capacity, L'\0');
    if (formats->NameToText(name, wide.data(), capacity) != 0) return false;
    wide[capacity - 1] = L'\0';
    if (std::wcslen(wide.data()) + 1 > capacity) return false;
    std::vector<char> narrow(capacity, '\0');
    if (formats->WideToText(wide.data(), narrow.data()) != 0) return false;
    narrow[capacity - 1] = '\0';
    std::memcpy(text, narrow.data(), std::strlen(narrow.data()) + 1);
    return true;
}

}  // namespace

int SPKIFormats::AddOCSPRequestEntry(const PKIFOCSPEntryArguments* arguments)
{
    try {
        if (!arguments || !arguments->request || !formats_) return 0;
        const PKIFOCSPEntryArguments& a = *arguments;
        LibraryBlob encodedName(formats_);
        const PKIBlob* name = a.issuerName;
        std::uint8_t serial[PKIF_OCSP_SERIAL_BYTES] = {};
        std::uint8_t keyHash[PKIF_OCSP_HASH_BYTES] = {};
        if (a.keyHash) std::memcpy(keyHash, a.keyHash, sizeof keyHash);
        std::uint32_t kind = a.hashKind;
        if (a.certificate) {
            auto* cert = static_cast<IPKICertificate*>(a.certificate);
            ObjectRef issuer;
            if (cert->GetIssuer(issuer.Out()) != 0 || !issuer) return 0;
            if (issuer.As<IPKIName>()->Encode(&encodedName.blob) != 0 || Empty(&encodedName.blob)) return 0;
            name = &encodedName.blob;
            {
                LibraryBlob bytes(formats_);
                if (cert->GetSerialBytes(&bytes.blob) != 0 ||
                    !CopyBounded(bytes.blob, PKIF_OCSP_SERIAL_BYTES, serial, sizeof serial, true))
                    return 0;
            }
            std::uint32_t family = 0;
            if (cert->GetKeyKind(&family) != 0) return 0;
            std::uint8_t identifier[PKIF_OCSP_HASH_BYTES] = {};
            std::uint32_t identifierLength = 0;
            ObjectRef extension;
            const int rc = cert->GetAuthorityKeyId(extension.Out());
            if (rc == 0 && extension) {
                ObjectRef own;
                auto* reader = QueryInto(extension.As<IPKIObject>(), PKI_IID_KEY_IDENTIFIER_EX, own)
                                   ? own.As<IPKIKeyIdentifier>()
                                   : extension.As<IPKIKeyIdentifier>();
                identifierLength = sizeof identifier;
                if (reader->GetIdentifier(identifier, &identifierLength) != 0 || identifierLength > sizeof identifier)
                    return 0;
            } else if (rc != PKI_E_ABSENT) {
                return 0;
            }
            std::uint32_t ownKind = 0;
            if (!GetHashAlgorithmOfSigned(a.certificate, &ownKind, nullptr)) return 0;
            const std::uint32_t identifierKind =
                identifierLength ? GetHashAlgorithmCode(family, ownKind == 1 ? 1 : 0, identifierLength, 0) : 0;
            if (kind == 0) {
                kind = identifierKind;
                if (kind == 0) {
                    if (family == 1)
                        kind = ownKind;
                    else if (family == 2 || family == 4)
                        kind = 2;
                    else
                        return 0;
                }
            }
            if (kind == identifierKind) {
                std::memset(keyHash, 0, sizeof keyHash);
                std::memcpy(keyHash, identifier, identifierLength);
            } else {
                // The library recomputes the key hash for the chosen kind;
                // when it cannot, the entry goes out with a zero key hash
                // (the facade's own matcher does not compare it).
                std::uint32_t flag = 0;
                if (!GetExtensionFlag(a.certificate, &flag) || !SetCertificateValuePair(a.certificate, kind, 4))
                    std::memset(keyHash, 0, sizeof keyHash);
            }
        } else {
            if (!a.serial || Empty(name)) return 0;
            std::memcpy(serial, a.serial, sizeof serial);
        }

        ObjectRef certId;
        if (!CreateInto(formats_, PKI_CLASS_CERT_ID, PKI_IID_CERT_ID, certId)) return 0;
        auto* id = certId.As<IPKICertID>();
        std::uint32_t version = 0;
        if (formats_->GetVersion(&version) != 0) return 0;
        std::uint8_t nameHash[PKIF_OCSP_HASH_BYTES] = {};
        IPKIObject* issuerObject = a.issuerCertificate;
        if (kind == 1) {
            const bool byObject = version > 260 && issuerObject;
            if (!byObject && Empty(name)) return 0;
            if (formats_->HashObjectGOST34311(byObject ? issuerObject : nullptr, byObject ? nullptr : name, nameHash) !=
                0)
                return 0;
            if (id->SetHashesGOST34311(nameHash, keyHash) != 0) return 0;
        } else if (IsSHA(kind)) {
            if (version <= 266 && kind != 2) return 0;
            const std::uint32_t bits = version <= 266 ? 160 : 8 * HashBytes(kind);
            const bool byObject = version > 256 && issuerObject;
            if (!byObject && Empty(name)) return 0;
            if (formats_->HashObjectSHA(byObject ? issuerObject : nullptr, byObject ? nullptr : name, bits, nameHash) !=
                0)
                return 0;
            if (version <= 266 ? id->SetHashesSHA1(nameHash, keyHash) != 0
                               : id->SetHashesSHA(kind, nameHash, keyHash) != 0)
                return 0;
        } else if (IsDSTU7564(kind)) {
            if (version <= 274 || !issuerObject) return 0;
            if (formats_->HashObjectDSTU7564(issuerObject, 3, 8 * HashBytes(kind), nameHash) != 0) return 0;
            ObjectRef view;
            if (!QueryInto(certId.As<IPKIObject>(), PKI_IID_CERT_ID_DSTU7564, view)) return 0;
            if (view.As<IPKICertIDDSTU7564>()->SetHashesDSTU7564(kind, nameHash, keyHash) != 0) return 0;
        } else {
            return 0;
        }
        if (id->SetSerial(serial) != 0) return 0;
        return static_cast<IPKIOCSPRequest*>(a.request)->AddEntry(certId.As<IPKIObject>()) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeOCSPRequest(IPKIObject* certificate, const PKIBlob* issuerName, const std::uint8_t* serial,
                                 std::uint8_t* keyHash, std::uint32_t hashKind, const char* requestorName,
                                 std::uint8_t* nonce, PKIBlob* encoded)
{
    return MakeOCSPRequestEx(certificate, nullptr, issuerName, serial, keyHash, hashKind, requestorName, nonce,
                             encoded);
}

int SPKIFormats::MakeOCSPRequestEx(IPKIObject* certificate, IPKIObject* issuerCertificate, const PKIBlob* issuerName,
                                   const std::uint8_t* serial, std::uint8_t* keyHash, std::uint32_t hashKind,
                                   const char* requestorName, std::uint8_t* nonce, PKIBlob* encoded)
{
    try {
        if (!encoded || encoded->data || !formats_ || !csp_) return 0;
        ObjectRef request;
        if (!CreateInto(formats_, PKI_CLASS_OCSP_REQUEST, PKI_IID_OCSP_REQUEST, request)) return 0;
        const PKIFOCSPEntryArguments main{
            this, request.As<IPKIObject>(), certificate, issuerCertificate, issuerName, serial, keyHash, hashKind};
        if (!AddOCSPRequestEntry(&main)) return 0;
        if (certificate) {
            // The certificate's other forms are asked about too, each with
            // the defaults.
            auto* cert = static_cast<IPKICertificate*>(certificate);
            ObjectRef inner, rsa, ec;
            int rc = cert->GetInnerCertificate(inner.Out());
            if (rc != 0 && rc != PKI_E_ABSENT) return 0;
            rc = cert->GetRSAView(rsa.Out());
            if (rc != 0 && rc != PKI_E_ABSENT) return 0;
            *ec.Out() = GetECCertificate(certificate);
            for (ObjectRef* other : {&inner, &rsa, &ec}) {
                if (!*other) continue;
                const PKIFOCSPEntryArguments entry{
                    this, request.As<IPKIObject>(), other->As<IPKIObject>(), nullptr, nullptr, nullptr, nullptr, 0};
                if (!AddOCSPRequestEntry(&entry)) return 0;
            }
        }
        std::uint8_t random[PKIF_OCSP_MADE_NONCE_BYTES] = {};
        {
            HolderScope<CSPContextHolder> scope;
            InitCSPContextHolder(&scope.holder, csp_, nullptr, 0, 1);
            const CSPContext& context = scope.holder.context;
            const bool withContext =
                scope.holder.usable && scope.holder.contextPresent && (context.rng || context.hardware || context.prng);
            CSPContext own = context;
            const int rc = withContext ? csp_->GenerateRandomCtx(&own, random, sizeof random)
                                       : csp_->GenerateRandom(random, sizeof random);
            if (rc != CSP_OK) return 0;
        }
        ObjectRef nonceObject;
        if (!CreateInto(formats_, PKI_CLASS_OCSP_NONCE, PKI_IID_OCSP_NONCE, nonceObject)) return 0;
        const PKIBlob value{sizeof random, random};
        if (nonceObject.As<IPKIOCSPNonce>()->SetValue(&value) != 0) return 0;
        auto* r = request.As<IPKIOCSPRequest>();
        if (r->AddNonce(nonceObject.As<IPKIObject>()) != 0) return 0;
        if (requestorName && r->SetRequestorName(requestorName) != 0) return 0;
        if (r->Encode(encoded) != 0) return 0;
        if (nonce) std::memcpy(nonce, random, sizeof random);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeOCSPRequest(const PKIBlob* encoded, void** request)
{
    try {
        if (Empty(encoded) || !request) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_OCSP_REQUEST, PKI_IID_OCSP_REQUEST, made)) return 0;
        if (made.As<IPKIOCSPRequest>()->Decode(encoded) != 0) return 0;
        *request = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadOCSPRequest(IPKIObject* request, std::uint32_t* noncePresent, PKIBlob* nonce, const PKIBlob* value,
                                 std::uint32_t* checked, std::uint32_t* count)
{
    try {
        if (!request) return 0;
        auto* r = static_cast<IPKIOCSPRequest*>(request);
        std::uint32_t entries = 0;
        if (r->GetEntryCount(&entries) != 0) return 0;
        std::uint32_t present = 0;
        LibraryBlob peer(formats_);
        if (noncePresent && nonce) {
            if (nonce->data) return 0;
            const int rc = r->GetNonce(&peer.blob);
            if (rc == 0) {
                if (peer.blob.length > PKIF_OCSP_NONCE_BYTES || Empty(&peer.blob)) return 0;
                present = 1;
            } else if (rc != PKI_E_ABSENT) {
                return 0;
            }
        }
        std::uint32_t holds = 0;
        if (value && checked) holds = r->CheckValue(value) == 0 ? 1 : 0;
        if (present) {
            if (!AllocateBlob(nonce, peer.blob.length)) return 0;
            std::memcpy(nonce->data, peer.blob.data, peer.blob.length);
        }
        if (noncePresent && nonce) *noncePresent = present;
        if (value && checked) *checked = holds;
        if (count) *count = entries;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadCertID(IPKIObject* certId, std::uint32_t* hashKind, std::uint8_t* nameHash, std::uint32_t,
                            std::uint8_t* keyHash, std::uint8_t* serial)
{
    try {
        if (!certId || !hashKind || !formats_) return 0;
        auto* id = static_cast<IPKICertID*>(certId);
        std::uint32_t kind = 0;
        if (id->GetHashKind(&kind) != 0 || kind < 1 || kind > 9) return 0;
        std::uint8_t name[PKIF_OCSP_HASH_BYTES] = {}, key[PKIF_OCSP_HASH_BYTES] = {};
        std::uint8_t number[PKIF_OCSP_SERIAL_BYTES] = {};
        if (nameHash || keyHash) {
            LibraryBlob n(formats_), k(formats_);
            int rc;
            if (kind == 1) {
                rc = id->GetHashesGOST34311(&n.blob, &k.blob);
            } else if (IsSHA(kind)) {
                rc = id->GetHashesSHA(&n.blob, &k.blob);
            } else {
                ObjectRef view;
                if (!QueryInto(certId, PKI_IID_CERT_ID_DSTU7564, view)) return 0;
                rc = view.As<IPKICertIDDSTU7564>()->GetHashesDSTU7564(&n.blob, &k.blob);
            }
            if (rc != 0 || !CopyBounded(n.blob, PKIF_OCSP_HASH_BYTES, name, sizeof name, false) ||
                !CopyBounded(k.blob, PKIF_OCSP_HASH_BYTES, key, sizeof key, false))
                return 0;
        }
        if (serial) {
            LibraryBlob s(formats_);
            if (id->GetSerial(&s.blob) != 0 ||
                !CopyBounded(s.blob, PKIF_OCSP_SERIAL_BYTES, number, sizeof number, true))
                return 0;
        }
        *hashKind = kind;
        if (nameHash) std::memcpy(nameHash, name, sizeof name);
        if (keyHash) std::memcpy(keyHash, key, sizeof key);
        if (serial) std::memcpy(serial, number, sizeof number);
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadOCSPRequestEntry(IPKIObject* request, std::uint32_t index, std::uint32_t* hashKind,
                                      std::uint8_t* nameHash, std::uint8_t* keyHash, std::uint8_t* serial, void** entry)
{
    try {
        if (!request) return 0;
        auto* r = static_cast<IPKIOCSPRequest*>(request);
        std::uint32_t count = 0;
        if (r->GetEntryCount(&count) != 0 || index >= count) return 0;
        ObjectRef id;
        if (r->GetEntry(index, id.Out()) != 0 || !id) return 0;
        std::uint32_t kind = 0;
        if (!ReadCertID(id.As<IPKIObject>(), &kind, nameHash, 0, keyHash, serial)) return 0;
        if (hashKind) *hashKind = kind;
        if (entry) {
            *entry = id.As<IPKIObject>();
            *id.Out() = nullptr;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::MakeOCSPResponse(std::uint32_t status, const PKIBlob* nonce, void** response)
{
    try {
        if (!response) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_OCSP_RESPONSE, PKI_IID_OCSP_RESPONSE, made)) return 0;
        auto* r = made.As<IPKIOCSPResponse>();
        if (r->SetStatus(status) != 0) return 0;
        if (status == 0) {
            // producedAt is UTC: the host's clock in UTC, with no detour
            // through local time.
            SYSTEMTIME now;
            GetSystemTime(&now);
            if (r->SetProducedAt(&now) != 0) return 0;
            if (!Empty(nonce)) {
                ObjectRef nonceObject;
                if (!CreateInto(formats_, PKI_CLASS_OCSP_NONCE, PKI_IID_OCSP_NONCE, nonceObject)) return 0;
                if (nonceObject.As<IPKIOCSPNonce>()->SetValue(nonce) != 0) return 0;
                if (r->AddNonce(nonceObject.As<IPKIObject>()) != 0) return 0;
            }
        }
        *response = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::AddOCSPSingleResponse(IPKIObject* response, IPKIObject* certId, std::uint32_t seconds,
                                       std::uint32_t status, const PKIBlob* extension, const SYSTEMTIME* revocationTime,
                                       std::uint32_t revocationKind, std::uint32_t reasonCode)
{
    try {
        if (!response || !certId) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(response);
        std::uint32_t responseStatus = 0;
        if (r->GetStatus(&responseStatus) != 0 || responseStatus != 0) return 0;
        SYSTEMTIME thisUpdate{};
        if (r->GetProducedAt(&thisUpdate) != 0) return 0;
        static const std::uint32_t libraryStatus[3] = {0, 2, 1};
        if (status > 2) return 0;
        // A revoked entry carries its revocation time: without one there is
        // nothing true to say.
        if (status == 2 && !revocationTime) return 0;
        const SYSTEMTIME* time = revocationTime;
        std::uint32_t reason = 0;
        if (time) {
            if (revocationKind == 3) {
                reason = 6;
            } else if (revocationKind == 4) {
                reason = 8;
            } else if (revocationKind == 2) {
                reason = ReasonOfCode(reasonCode);
            } else if (status != 2) {
                time = nullptr;
            }
        }
        SYSTEMTIME nextUpdate{};
        if (seconds) {
            const std::uint64_t interval = static_cast<std::uint64_t>(seconds) * 10000000ull;
            if (!AddToSystemTime(&thisUpdate, static_cast<std::uint32_t>(interval),
                                 static_cast<std::uint32_t>(interval >> 32), &nextUpdate))
                return 0;
        }
        if (r->AddSingleResponse(certId, &thisUpdate, seconds ? 1 : 0, seconds ? &nextUpdate : nullptr,
                                 libraryStatus[status], time, reason) != 0)
            return 0;
        if (!Empty(extension) && r->AddSingleExtension(extension) != 0) return 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::SignOCSPResponse(IPKIObject* response, IPKIObject* signerKey, IPKIObject* certificate,
                                  std::uint32_t family, ...)
{
    try {
        std::va_list rest;
        va_start(rest, family);
        const std::uint32_t keyKind = va_arg(rest, std::uint32_t);
        PKIBlob* out = va_arg(rest, PKIBlob*);
        va_end(rest);
        if (!response || !signerKey || !certificate || !out || out->data) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(response);
        std::uint32_t status = 0;
        if (r->GetStatus(&status) != 0 || status != 0) return 0;
        std::uint32_t dstu = 0, views = 0;
        if (!GetCertificateViews(certificate, &dstu, &views)) return 0;
        const bool offered = family == 1 ? dstu != 0 : (family == 2 || family == 4) && (views & family);
        if (!offered) family = dstu ? 1 : (views & 4) ? 4 : 2;
        ObjectRef signer;
        *signer.Out() = SelectCertificateForUsage(certificate, family, 1);
        if (!signer) return 0;
        auto* signerCert = signer.As<IPKICertificate>();
        ObjectRef responder;
        if (QueryInto(response, PKI_IID_OCSP_RESPONDER, responder)) {
            ObjectRef subject;
            if (signerCert->GetSubject(subject.Out()) != 0 || !subject) return 0;
            if (responder.As<IPKIOCSPResponder>()->SetResponderName(subject.As<IPKIObject>()) != 0) return 0;
        } else {
            PKINameRecord record{};
            if (signerCert->GetSubjectRecord(&record) != 0) return 0;
            if (r->SetResponderRecord(&record) != 0) return 0;
        }
        if (family == 2) {
            if (!SetSignerPolicyOrKey(response, signerKey, 0)) return 0;
        } else if (family == 4) {
            if (!SetNamedCurve(response, signerKey, 0)) return 0;
        } else {
            std::uint32_t kind = keyKind;
            if (kind == 0 && !GetHashAlgorithmOfSigned(signer.As<IPKIObject>(), &kind, nullptr)) return 0;
            if (kind == 1) {
                Secret<76> work;
                const int rc = static_cast<IPKIKeyObject*>(signerKey)->SignObjectDSTU4145(response, work.bytes);
                work.Wipe();
                if (rc != 0) return 0;
            } else if (IsDSTU7564(kind)) {
                ObjectRef view;
                if (!QueryInto(response, PKI_IID_OCSP_SIGN_DSTU7564, view)) return 0;
                if (view.As<IPKIOCSPSignDSTU7564>()->SignWithKey(signerKey, kind, 7) != 0) return 0;
            } else {
                return 0;
            }
        }
        return r->Encode(out) == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::DecodeOCSPResponse(const PKIBlob* encoded, void** response)
{
    try {
        if (Empty(encoded) || !response) return 0;
        ObjectRef made;
        if (!CreateInto(formats_, PKI_CLASS_OCSP_RESPONSE, PKI_IID_OCSP_RESPONSE, made)) return 0;
        if (made.As<IPKIOCSPResponse>()->Decode(encoded) != 0) return 0;
        *response = made.As<IPKIObject>();
        *made.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::VerifyOCSPResponseSignature(IPKIObject* response, IPKIObject* certificate)
{
    try {
        if (!response || !certificate || !formats_) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(response);
        const int check = r->HasItem(PKI_OCSP_SIGNER_CHECK);
        if (check == 0) {
            if (!HasKeyUsage(1, certificate)) return 0;
        } else if (check != PKI_E_ABSENT) {
            return 0;
        }
        std::uint32_t family = 0;
        if (r->GetSignatureFamily(&family) != 0) return 0;
        if (family == 4) return CopyECParametersForm4(response, certificate);
        if (family != 1 && family != 2) return 0;
        LibraryBlob data(formats_), signature(formats_);
        if (r->GetSignedBytes(&data.blob) != 0 || r->GetSignature(&signature.blob) != 0) return 0;
        auto* cert = static_cast<IPKICertificate*>(certificate);
        const int rc = family == 2 ? cert->VerifySignedBytes(&data.blob, &signature.blob)
                                   : cert->VerifySignatureValue(&data.blob, &signature.blob);
        return rc == 0 ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadOCSPResponderID(IPKIObject* response, std::uint32_t* byName, char* nameText, std::uint8_t* keyHash,
                                     std::uint32_t* status)
{
    try {
        if (!response || !status || !formats_) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(response);
        std::uint32_t responseStatus = 0;
        if (r->GetStatus(&responseStatus) != 0) return 0;
        if (byName && nameText && keyHash) {
            std::uint32_t type = 0;
            if (r->GetResponderIDType(&type) != 0) return 0;
            if (type == 1) {
                ObjectRef name;
                if (r->GetResponderName(name.Out()) != 0 || !name) return 0;
                std::vector<char> text(PKIF_NAME_TEXT_BYTES, '\0');
                if (!NameText(formats_, name.As<IPKIObject>(), text.data(), PKIF_NAME_TEXT_BYTES)) return 0;
                std::memcpy(nameText, text.data(), std::strlen(text.data()) + 1);
                *byName = 1;
            } else if (type == 2) {
                std::uint32_t family = 0;
                if (r->GetSignatureFamily(&family) != 0) return 0;
                if (family != 1 && family != 2 && family != 4) return 0;
                LibraryBlob hash(formats_);
                if (r->GetResponderKeyHash(&hash.blob) != 0) return 0;
                if (family == 1 && hash.blob.length != 32) return 0;
                std::uint8_t copy[PKIF_OCSP_HASH_BYTES];
                if (!CopyBounded(hash.blob, PKIF_OCSP_HASH_BYTES, copy, sizeof copy, false)) return 0;
                std::memcpy(keyHash, copy, family == 1 ? 32 : sizeof copy);
                *byName = 0;
            } else {
                return 0;
            }
        }
        *status = responseStatus;
        return 1;
    } catch (...) {
        return 0;
    }
}

void SPKIFormats::MapRevocationReason(std::uint32_t reason, std::uint32_t* kind, std::uint32_t* code)
{
    try {
        struct Row {
            std::uint32_t kind, code;
        };
        static const Row rows[9] = {{2, 1}, {2, 3}, {2, 2}, {2, 4}, {2, 6}, {2, 7}, {3, 1}, {2, 1}, {4, 1}};
        const Row row = reason < 9 ? rows[reason] : Row{2, 1};
        if (kind) *kind = row.kind;
        if (code) *code = row.code;
    } catch (...) {
    }
}

int SPKIFormats::ReadOCSPResponseInfo(IPKIObject* response, std::uint32_t* status, std::uint32_t* nonceFlag,
                                      std::uint8_t* nonce, std::uint32_t* zero, std::uint32_t, std::uint32_t* optional)
{
    try {
        if (!response || !formats_) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(response);
        std::uint32_t responseStatus = 0;
        if (r->GetStatus(&responseStatus) != 0) return 0;
        std::uint8_t value[PKIF_OCSP_NONCE_BYTES] = {};
        std::uint32_t present = 0;
        if (nonce && nonceFlag && responseStatus == 0) {
            LibraryBlob peer(formats_);
            const int rc = r->GetNonce(&peer.blob);
            if (rc == 0) {
                if (!CopyBounded(peer.blob, PKIF_OCSP_NONCE_BYTES, value, sizeof value, false)) return 0;
                present = 1;
            } else if (rc != PKI_E_ABSENT) {
                return 0;
            }
        }
        std::uint32_t extra = 0;
        if (optional && r->GetOptionalValue(&extra) != 0) extra = 0;
        if (nonce && nonceFlag) {
            *nonceFlag = present;
            if (present) std::memcpy(nonce, value, sizeof value);
        }
        if (zero) *zero = 0;
        if (optional) *optional = extra;
        if (status) *status = responseStatus;
        return 1;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::FindOCSPSingleResponse(const PKIFOCSPFindArguments* arguments)
{
    try {
        if (!arguments || !arguments->response || !arguments->entry || !formats_) return 0;
        const PKIFOCSPFindArguments& a = *arguments;
        std::uint32_t kind = a.hashKind;
        const std::uint8_t* nameHash = a.nameHash;
        const std::uint8_t* serial = a.serial;
        std::uint8_t ownName[PKIF_OCSP_HASH_BYTES] = {}, ownSerial[PKIF_OCSP_SERIAL_BYTES] = {};
        if (a.certId) {
            if (!ReadCertID(a.certId, &kind, ownName, 0, nullptr, ownSerial)) return 0;
            nameHash = ownName;
            serial = ownSerial;
        }
        const bool compareName = nameHash && kind >= 1 && kind <= 9;
        std::uint32_t version = 0;
        if (compareName && formats_->GetVersion(&version) != 0) return 0;
        auto* r = static_cast<IPKIOCSPResponse*>(a.response);
        std::uint32_t count = 0;
        if (r->GetSingleCount(&count) != 0) return 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            ObjectRef entry;
            if (r->GetSingle(i, entry.Out()) != 0 || !entry) return 0;
            auto* e = entry.As<IPKIOCSPSingleResponse>();
            if (serial) {
                ObjectRef id;
                std::uint8_t theirs[PKIF_OCSP_SERIAL_BYTES] = {};
                std::uint32_t theirKind = 0;
                if (e->GetCertID(id.Out()) != 0 || !id) return 0;
                if (!ReadCertID(id.As<IPKIObject>(), &theirKind, nullptr, 0, nullptr, theirs)) return 0;
                if (std::memcmp(theirs, serial, sizeof theirs) != 0) continue;
            }
            if (compareName) {
                std::uint8_t hash[PKIF_OCSP_HASH_BYTES] = {};
                bool match = false;
                ObjectRef name;
                LibraryBlob encodedName(formats_);
                const bool fromEncoded = kind == 1 ? version < 261 : IsSHA(kind) && version < 257;
                if (fromEncoded) {
                    if (e->GetIssuerNameEncoded(&encodedName.blob) != 0) return 0;
                } else if (e->GetIssuerName(name.Out()) != 0 || !name) {
                    return 0;
                }
                IPKIObject* object = fromEncoded ? nullptr : name.As<IPKIObject>();
                const PKIBlob* encoded = fromEncoded ? &encodedName.blob : nullptr;
                if (kind == 1) {
                    if (formats_->HashObjectGOST34311(object, encoded, hash) != 0) return 0;
                    match = std::memcmp(hash, nameHash, 32) == 0;
                    // Later libraries hash names in more than one form.
                    for (std::uint32_t mode : {2u, 1u, 0u}) {
                        if (match || version < 274 || !object) break;
                        if (formats_->HashNameGOST34311Mode(object, mode, hash) != 0) return 0;
                        match = std::memcmp(hash, nameHash, 32) == 0;
                    }
                } else if (IsSHA(kind)) {
                    const std::uint32_t bits = 8 * HashBytes(kind);
                    if (formats_->HashObjectSHA(object, encoded, bits, hash) != 0) return 0;
                    match = std::memcmp(hash, nameHash, bits / 8) == 0;
                } else if (version > 274) {
                    const std::uint32_t bits = 8 * HashBytes(kind);
                    if (formats_->HashObjectDSTU7564(object, 3, bits, hash) != 0) return 0;
                    match = std::memcmp(hash, nameHash, bits / 8) == 0;
                }
                if (!match) continue;
            }
            if (a.nameText) {
                ObjectRef item;
                if (e->GetNameItem(item.Out()) != 0 || !item) return 0;
                std::vector<char> text(PKIF_NAME_TEXT_BYTES, '\0');
                if (!NameText(formats_, item.As<IPKIObject>(), text.data(), PKIF_NAME_TEXT_BYTES)) return 0;
                if (std::strcmp(text.data(), a.nameText) != 0) continue;
            }
            if (a.hashItem) {
                LibraryBlob value(formats_);
                if (e->GetHashItem(&value.blob) != 0) return 0;
                if (value.blob.length < 32 || !value.blob.data || std::memcmp(value.blob.data, a.hashItem, 32) != 0)
                    continue;
            }
            *a.entry = entry.As<IPKIObject>();
            *entry.Out() = nullptr;
            return 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
}

int SPKIFormats::ReadOCSPSingleResponse(IPKIObject* response, std::uint32_t index, std::uint32_t* status, void** certId,
                                        SYSTEMTIME* revocationTime, std::uint32_t* kind, std::uint32_t* code)
{
    try {
        if (!response || !status) return 0;
        if (certId) *certId = nullptr;
        ObjectRef entry;
        if (static_cast<IPKIOCSPResponse*>(response)->GetSingle(index, entry.Out()) != 0 || !entry) return 0;
        auto* e = entry.As<IPKIOCSPSingleResponse>();
        std::uint32_t libraryStatus = 0;
        if (e->GetStatus(&libraryStatus) != 0) return 0;
        if (libraryStatus == 2) {
            *status = 1;
            return 1;
        }
        if (libraryStatus > 1) return 0;
        SYSTEMTIME time{};
        std::uint32_t reason = 0;
        const bool revocation = libraryStatus == 1 && revocationTime && kind && code;
        if (revocation && e->GetRevocation(&time, &reason) != 0) return 0;
        ObjectRef id;
        if (certId && (e->GetCertID(id.Out()) != 0 || !id)) return 0;
        if (revocation) {
            *revocationTime = time;
            MapRevocationReason(reason, kind, code);
        }
        if (certId) {
            *certId = id.As<IPKIObject>();
            *id.Out() = nullptr;
        }
        *status = libraryStatus == 1 ? 2 : 0;
        return 1;
    } catch (...) {
        return 0;
    }
}

std::uint32_t SPKIFormats::GetRecordSecondWord(const std::uint32_t* record)
{
    return record ? record[1] : 0;
}

std::uint32_t SPKIFormats::GetRecordThirdWord(const std::uint32_t* record)
{
    return record ? record[2] : 0;
}

std::uint32_t SPKIFormats::GetRecordFourthWord(const std::uint32_t* record)
{
    return record ? record[3] : 0;
}

int SPKIFormats::GetOCSPSingleResponseEntry(IPKIObject* response, std::uint32_t index, void** entry)
{
    try {
        if (!response || !entry) return 0;
        ObjectRef single;
        if (static_cast<IPKIOCSPResponse*>(response)->GetSingle(index, single.Out()) != 0 || !single) return 0;
        *entry = single.As<IPKIObject>();
        *single.Out() = nullptr;
        return 1;
    } catch (...) {
        return 0;
    }
}
