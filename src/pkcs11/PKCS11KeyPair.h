// Key-pair generation: the worker that has the key make a DSTU 4145 pair for
// two key objects, and the C_GenerateKeyPair entry point's work.
#ifndef QVK_PKCS11_PKCS11KEYPAIR_H
#define QVK_PKCS11_PKCS11KEYPAIR_H

#include "pkcs11/PKCS11Device.h"
#include "pkcs11/pkcs11ua.h"

class PKCS11Object;

// Shares CKA_EC_PARAMS between the two objects, has the device generate the
// pair and gives the public key object its CKA_EC_POINT.
CK_RV PKIGenerateKeyPair(PKCS11Device* device, PKCS11Object* privateKey, PKCS11Object* publicKey);

CK_RV GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                      CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                      CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                      CK_OBJECT_HANDLE_PTR phPrivateKey);

#endif
