// Certificate attributes through the PKI formats library's certificate
// object (4870 / 4102).
#include "pkcs11/PKCS11CertificateAttributes.h"

#include <cstring>
#include <initializer_list>

#include "pkcs11/PKCS11PKI.h"
#include "pkcs11/PKCS11PKIHeld.h"

namespace {

constexpr std::uint32_t kFieldBytes = 600;
constexpr int kMaxLabelBytes = 64;

bool LoadBytes(const std::uint8_t* bytes, std::uint32_t length, PKIHeld<IPKICertificate>* certificate)
{
    if (PKIInterface == nullptr || bytes == nullptr || length == 0 ||
        PKIInterface->CreateObject(PKI_CLASS_CERTIFICATE, PKI_IID_CERTIFICATE, certificate->out()) != PKI_OK)
        return false;
    PKIBlob in{length, const_cast<std::uint8_t*>(bytes)};
    return (*certificate)->Decode(&in) == PKI_OK;
}

// The input check shared by the extractors: the certificate first, then
// the caller's outputs.
CK_RV Load(const CK_ATTRIBUTE* attribute, PKIHeld<IPKICertificate>* certificate,
           std::initializer_list<const CK_ATTRIBUTE*> outputs)
{
    if (attribute == nullptr || attribute->type != CKA_VALUE) return CKR_ATTRIBUTE_TYPE_INVALID;
    if (attribute->ulValueLen > 0xFFFFFFFFu ||
        !LoadBytes(static_cast<const std::uint8_t*>(attribute->pValue),
                   static_cast<std::uint32_t>(attribute->ulValueLen), certificate))
        return CKR_ATTRIBUTE_VALUE_INVALID;
    for (const CK_ATTRIBUTE* out : outputs)
        if (out == nullptr) return CKR_ARGUMENTS_BAD;
    return CKR_OK;
}

bool EncodeName(IPKIName* name, CK_ATTRIBUTE_TYPE type, CK_ATTRIBUTE* out)
{
    PKILibraryBlob encoded;
    return name->Encode(&encoded.blob) == PKI_OK && MakeAttributeFromBlob(type, &encoded.blob, out);
}

bool KeyUsageOf(IPKICertificate* certificate, std::uint32_t* bits)
{
    PKIHeld<IPKIKeyUsage> usage;
    int rc = certificate->GetKeyUsage(usage.out());
    if (rc == PKI_E_ABSENT) {
        *bits = CERTIFICATE_ANY_KEY_USAGE;
        return true;
    }
    return rc == PKI_OK && usage->GetBits(bits) == PKI_OK;
}

}  // namespace

CK_RV GetCertificateSubjectAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* subject)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {subject});
    if (rv != CKR_OK) return rv;
    PKIHeld<IPKIName> name;
    if (cert->GetSubject(name.out()) != PKI_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
    return EncodeName(name.get(), CKA_SUBJECT, subject) ? CKR_OK : CKR_HOST_MEMORY;
}

CK_RV GetCertificateLabelAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* label)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {label});
    if (rv != CKR_OK) return rv;
    wchar_t name[256];
    std::uint32_t length = 256;
    if (cert->GetDisplayName(name, &length) != PKI_OK || length == 0) return CKR_ATTRIBUTE_VALUE_INVALID;
    // The converter is given the 65-byte buffer less the terminator's byte, so
    // a name that needs more than 64 bytes fails instead of being cut.
    char utf8[kMaxLabelBytes + 1] = {};
    int written = WideCharToMultiByte(65001, 0, name, static_cast<int>(length), utf8, kMaxLabelBytes, nullptr, nullptr);
    if (written <= 0 || written > kMaxLabelBytes) return CKR_ATTRIBUTE_VALUE_INVALID;
    return MakeAttribute(CKA_LABEL, utf8, static_cast<CK_ULONG>(written), label) ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV GetCertificateKeyIdAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* id)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {id});
    if (rv != CKR_OK) return rv;
    PKIHeld<IPKIKeyIdentifier> identifier;
    std::uint8_t bytes[32];
    std::uint32_t length = sizeof bytes;
    if (cert->GetSubjectKeyId(identifier.out()) != PKI_OK || identifier->GetIdentifier(bytes, &length) != PKI_OK ||
        length == 0 || !MakeAttribute(CKA_ID, bytes, length, id))
        return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

CK_RV GetCertificateIssuerSerialAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* issuer, CK_ATTRIBUTE* serial)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {issuer, serial});
    if (rv != CKR_OK) return rv;
    PKIHeld<IPKIName> name;
    if (cert->GetIssuer(name.out()) != PKI_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (!EncodeName(name.get(), CKA_ISSUER, issuer)) return CKR_HOST_MEMORY;
    PKIHeld<IPKIInteger> integer;
    PKILibraryBlob number, encoded;
    if (cert->GetSerial(&number.blob) != PKI_OK ||
        PKIInterface->CreateObject(PKI_CLASS_INTEGER, PKI_IID_INTEGER, integer.out()) != PKI_OK ||
        integer->Decode(&number.blob) != PKI_OK || integer->Encode(&encoded.blob) != PKI_OK ||
        !MakeAttributeFromBlob(CKA_SERIAL_NUMBER, &encoded.blob, serial)) {
        FreeMadeValue(issuer);
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    return CKR_OK;
}

CK_RV GetCertificateValidityAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* start, CK_ATTRIBUTE* end)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {start, end});
    if (rv != CKR_OK) return rv;
    SYSTEMTIME from{}, to{};
    if (cert->GetValidity(&from, &to) != PKI_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
    if (!MakeDateAttribute(CKA_START_DATE, &from, start)) return CKR_HOST_MEMORY;
    if (!MakeDateAttribute(CKA_END_DATE, &to, end)) {
        FreeMadeValue(start);
        return CKR_HOST_MEMORY;
    }
    return CKR_OK;
}

CK_RV MakeRSAPublicKeyAttributes(std::uint32_t modulusBits, const std::uint8_t key[1200], CK_ATTRIBUTE* modulus,
                                 CK_ATTRIBUTE* exponent, CK_ATTRIBUTE* bits)
{
    if (key == nullptr) return CKR_ARGUMENTS_BAD;
    if (modulus != nullptr && !MakeUnpaddedAttribute(CKA_MODULUS, key, modulus)) return CKR_GENERAL_ERROR;
    if (exponent != nullptr && !MakeUnpaddedAttribute(CKA_PUBLIC_EXPONENT, key + kFieldBytes, exponent)) {
        if (modulus != nullptr) FreeMadeValue(modulus);
        return CKR_GENERAL_ERROR;
    }
    if (bits != nullptr) {
        // Four bytes as the stored form of CKA_MODULUS_BITS holds it.
        std::uint32_t value = modulusBits;
        if (!MakeAttribute(CKA_MODULUS_BITS, &value, sizeof value, bits)) {
            if (modulus != nullptr) FreeMadeValue(modulus);
            if (exponent != nullptr) FreeMadeValue(exponent);
            return CKR_HOST_MEMORY;
        }
    }
    return CKR_OK;
}

CK_RV GetCertificateRSAKeyAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* modulusBits, CK_ATTRIBUTE* exponent)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {modulusBits, exponent});
    if (rv != CKR_OK) return rv;
    std::uint8_t key[2 * kFieldBytes];
    std::uint32_t bits = 0;
    if (cert->GetRSAPublicKey(key, &bits) != PKI_OK) return CKR_HOST_MEMORY;
    return MakeRSAPublicKeyAttributes(bits, key, nullptr, exponent, modulusBits) == CKR_OK ? CKR_OK : CKR_HOST_MEMORY;
}

CK_RV GetCertificateModulusAttribute(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* modulus)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {modulus});
    if (rv != CKR_OK) return rv;
    std::uint8_t key[2 * kFieldBytes];
    std::uint32_t bits = 0;
    if (cert->GetRSAPublicKey(key, &bits) != PKI_OK) return CKR_GENERAL_ERROR;
    return MakeRSAPublicKeyAttributes(bits, key, modulus, nullptr, nullptr);
}

CK_RV GetCertificateECKeyAttributes(const CK_ATTRIBUTE* certificate, CK_ATTRIBUTE* params, CK_ATTRIBUTE* point)
{
    PKIHeld<IPKICertificate> cert;
    CK_RV rv = Load(certificate, &cert, {params, point});
    if (rv != CKR_OK) return rv;
    PKIHeld<IPKICertificateEC> ec;
    PKILibraryBlob encodedPoint, encodedParams;
    if (cert->QueryInterface(PKI_IID_CERTIFICATE_EX, ec.out()) != PKI_OK ||
        ec->GetECPublicKey(&encodedPoint.blob, &encodedParams.blob) != PKI_OK)
        return CKR_HOST_MEMORY;
    // The conversions of EC keys into attributes are not available.
    return CKR_HOST_MEMORY;
}

bool ReadCertificateKey(const std::uint8_t* certificate, std::uint32_t length, std::uint32_t* kind,
                        std::uint32_t* usage, std::uint8_t key[600], std::uint32_t* keyLength)
{
    if (kind == nullptr || usage == nullptr || key == nullptr || keyLength == nullptr) return false;
    PKIHeld<IPKICertificate> cert;
    if (!LoadBytes(certificate, length, &cert) || !KeyUsageOf(cert.get(), usage)) return false;
    std::memset(key, 0, kFieldBytes);
    std::uint32_t dstuLength = 0;
    if (cert->GetDSTU4145PublicKey(key, &dstuLength, nullptr) == PKI_OK) {
        *kind = CERTIFICATE_KEY_DSTU4145;
        *keyLength = DSTU4145_NUMBER_BYTES;
        return true;
    }
    std::uint8_t rsa[2 * kFieldBytes];
    std::uint32_t bits = 0;
    if (cert->GetRSAPublicKey(rsa, &bits) == PKI_OK) {
        std::memcpy(key, rsa, kFieldBytes);
        *kind = CERTIFICATE_KEY_RSA;
        *keyLength = kFieldBytes;
        return true;
    }
    return false;
}

bool SelectCertificateByUsage(const std::uint8_t* certificate, std::uint32_t length, std::uint32_t kind,
                              std::uint32_t usage, CK_ATTRIBUTE* out)
{
    if (out == nullptr) return false;
    PKIHeld<IPKICertificate> cert;
    std::uint32_t actualKind = 0, bits = 0;
    if (!LoadBytes(certificate, length, &cert) || cert->GetKeyKind(&actualKind) != PKI_OK || actualKind != kind ||
        !KeyUsageOf(cert.get(), &bits) || (bits & usage) != usage)
        return false;
    return MakeAttribute(CKA_VALUE, certificate, length, out);
}

CK_RV GetCertificateKeyType(const std::uint8_t* certificate, std::uint32_t length, CK_KEY_TYPE* keyType)
{
    if (keyType == nullptr) return CKR_ARGUMENTS_BAD;
    PKIHeld<IPKICertificate> cert;
    std::uint32_t kind = 0, parameterKind = 0;
    if (!LoadBytes(certificate, length, &cert) || cert->GetKeyKind(&kind) != PKI_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
    switch (kind) {
    case CERTIFICATE_KEY_RSA:
        *keyType = CKK_RSA;
        return CKR_OK;
    case CERTIFICATE_KEY_ECDSA:
        *keyType = CKK_EC;
        return CKR_OK;
    case CERTIFICATE_KEY_DSTU4145:
        if (cert->GetKeyParameterKind(&parameterKind) != PKI_OK) return CKR_ATTRIBUTE_VALUE_INVALID;
        *keyType = parameterKind == PKI_KEY_PARAMETERS_POLYNOMIAL ? CKK_DSTU4145_PB : CKK_DSTU4145;
        return CKR_OK;
    default:
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
}
