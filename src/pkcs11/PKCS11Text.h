// Text between the PKCS#11 boundary (UTF-8) and the key (Windows-1251).
#ifndef QVK_PKCS11_PKCS11TEXT_H
#define QVK_PKCS11_PKCS11TEXT_H

#include "pkcs11/pkcs11ua.h"

// UTF-8 to Windows-1251. The length needed goes to *outLength; with a
// buffer the text is written there too (never more bytes than the UTF-8
// input had). Characters that Windows-1251 lacks become '?' (and set
// *usedDefault when given). Empty or missing input: CKR_ARGUMENTS_BAD;
// malformed UTF-8: CKR_GENERAL_ERROR.
CK_RV Utf8ToCp1251(const char* text, CK_ULONG length, char* out, CK_ULONG* outLength, bool* usedDefault = nullptr);

// True when the UTF-8 text has an exact Windows-1251 form without NUL
// bytes: what a PIN or label must have to be set.
bool IsExactCp1251Text(const char* text, CK_ULONG length);

// Windows-1251 to UTF-8, at most `cap` bytes, cut before a character that
// would not fit whole. Not terminated, not padded. Empty or missing input:
// CKR_ARGUMENTS_BAD; a byte with no meaning in Windows-1251 (0x98):
// CKR_GENERAL_ERROR.
CK_RV Cp1251ToUtf8(const char* text, CK_ULONG length, char* out, CK_ULONG* outLength, CK_ULONG cap);

#endif
