// OpenSSL ASN.1 values owned by unique_ptr, and the dotted-OID reader the
// parameter and key-agreement objects share.
#ifndef PKFMT_PKFMTASN1_H
#define PKFMT_PKFMTASN1_H

#include <openssl/asn1.h>
#include <openssl/objects.h>

#include <cstddef>
#include <cstring>
#include <memory>

namespace pkfmt {

struct Asn1TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
struct Asn1StringFree {
    void operator()(ASN1_OCTET_STRING* s) const { ASN1_OCTET_STRING_free(s); }
};
struct Asn1ObjectFree {
    void operator()(ASN1_OBJECT* o) const { ASN1_OBJECT_free(o); }
};
using Asn1Type = std::unique_ptr<ASN1_TYPE, Asn1TypeFree>;
using Asn1Octets = std::unique_ptr<ASN1_OCTET_STRING, Asn1StringFree>;
using Asn1Object = std::unique_ptr<ASN1_OBJECT, Asn1ObjectFree>;

// A dotted OID as numbers only (no names), at most `maxChars` long; null
// when it is not one.
inline Asn1Object ParseDottedOid(const char* text, std::size_t maxChars)
{
    if (text == nullptr || std::strlen(text) > maxChars) return nullptr;
    return Asn1Object(OBJ_txt2obj(text, 1));
}

}  // namespace pkfmt

#endif
