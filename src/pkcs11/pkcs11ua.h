// The PKCS#11 types of this module: the standard ones from p11-kit's freely
// licensed pkcs11.h (standard names, the platform's CK_ULONG), and this
// key's vendor codes, which no public header carries.
#ifndef QVK_PKCS11_PKCS11UA_H
#define QVK_PKCS11_PKCS11UA_H

#ifndef CRYPTOKI_COMPAT
#define CRYPTOKI_COMPAT 1
#endif
#include <p11-kit/pkcs11.h>

// Mechanism capability flags of PKCS#11 v2.20 that the header lacks.
#ifndef CKF_EC_F_2M
#define CKF_EC_F_2M (1UL << 21)
#endif
#ifndef CKF_EC_ECPARAMETERS
#define CKF_EC_ECPARAMETERS (1UL << 22)
#endif

// Later PKCS#11 versions than 2.20 give four of these names to other codes;
// in this module the names are the vendor codes below.
#undef CKM_GOST28147_MAC
#undef CKM_GOST28147_KEY_WRAP
#undef CKM_GOST28147_KEY_GEN
#undef CKK_GOST28147

// Mechanisms.
#define CKM_GOST28147_CIPHER_1 0x80420011UL
#define CKM_GOST28147_CIPHER_2 0x80420012UL
#define CKM_GOST28147_CIPHER_3 0x80420013UL
#define CKM_GOST28147_MAC 0x80420014UL
// Appears only among the allowed mechanisms of a derived GOST 28147 key.
#define CKM_GOST28147_DERIVED_USE 0x80420015UL
#define CKM_GOST28147_KEY_WRAP 0x80420016UL
#define CKM_GOST34311 0x80420021UL
#define CKM_DIGEST_ALT_256 0x80420022UL
#define CKM_DSTU7564_256 0x80420023UL
#define CKM_DSTU7564_384 0x80420024UL
#define CKM_DSTU7564_512 0x80420025UL
#define CKM_DSTU4145 0x80420031UL
#define CKM_DSTU4145_GOST34311 0x80420032UL
#define CKM_DSTU4145_ALT 0x80420033UL
#define CKM_DSTU4145_DSTU7564_256 0x80420034UL
#define CKM_DSTU4145_DSTU7564_384 0x80420035UL
#define CKM_DSTU4145_DSTU7564_512 0x80420036UL
#define CKM_GOST28147_KEY_GEN 0x80420041UL
#define CKM_DSTU4145_KEY_PAIR_GEN 0x80420042UL
#define CKM_DSTU4145_DERIVE 0x80420043UL
#define CKM_DSTU4145_DERIVE_EXT 0x80420044UL
#define CKM_DSTU7624_KEY_GEN 0x80420051UL
#define CKM_DSTU7624_KEY_WRAP 0x80420061UL
#define CKM_VENDOR_EXT_1 0x80420071UL
#define CKM_VENDOR_EXT_2 0x80420072UL
#define CKM_VENDOR_EXT_3 0x80420073UL

// Key types.
#define CKK_GOST28147 0x80420111UL
#define CKK_DSTU7624 0x80420112UL
#define CKK_DSTU4145 0x80420131UL
#define CKK_DSTU4145_PB 0x80420141UL

// Key derivation functions (first field of the derive parameter).
#define CKD_DSTU4145_GOST28147 0x80420211UL
#define CKD_DSTU4145_DSTU7624 0x80420212UL

// Attributes.
#define CKA_VENDOR_KEY_INFO 0x80420311UL
#define CKA_VENDOR_OBJECT_HANDLE 0x90000000UL
#define CKA_VENDOR_KEY_REF_1 0x90000001UL
#define CKA_VENDOR_KEY_REF_2 0x90000002UL

// Parameter of C_DeriveKey with CKM_DSTU4145_DERIVE(_EXT): the layout of
// CK_ECDH1_DERIVE_PARAMS, five fields of the platform's width.
typedef struct CK_DSTU4145_DERIVE_PARAMS {
    CK_ULONG kdf;              // CKD_DSTU4145_GOST28147 or CKD_DSTU4145_DSTU7624
    CK_ULONG ulSharedDataLen;  // UKM length
    CK_BYTE_PTR pSharedData;   // UKM
    CK_ULONG ulPublicDataLen;  // other party's public key length
    CK_BYTE_PTR pPublicData;   // other party's public key, encoded as CKA_EC_POINT
} CK_DSTU4145_DERIVE_PARAMS;

typedef CK_DSTU4145_DERIVE_PARAMS* CK_DSTU4145_DERIVE_PARAMS_PTR;

#endif
