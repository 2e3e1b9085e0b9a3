// Process-wide state of the key-media library, shared by all device objects:
// the library lock, the wrong-password cache and the PKI formats interface.
#ifndef QVK_KEYMEDIA_LIBRARY_H
#define QVK_KEYMEDIA_LIBRARY_H

class HashTable;

namespace qvkkm {

// Device-type names (Windows-1251).
extern const char kFullKeyTypeName[];
extern const char kCarrierTypeName[];

// Creates whatever of the globals is still missing; 1 when the PKI formats
// interface is held afterwards. Takes the library lock itself.
int InitializeGlobals();

// The wrong-password cache: serial text -> heap copy of the refused password.
// Null before the first export call and after KMFinalize; callers treat a
// missing cache as an empty one.
HashTable* WrongPasswordCache();

// The interface object of pkfmt.so (PKIInterface.h), or null when the
// library is not loaded or was dropped.
void* PKIFormatsInterface();

// The password the cache remembers for the serial as refused: true and a copy
// in `password` (65 bytes) when there is one.
bool FindRefusedPassword(const char* serial, char password[65]);
// Remembers a refused password unless the serial already has an entry.
void RememberRefusedPassword(const char* serial, const char* password);
void ForgetRefusedPassword(const char* serial);

}  // namespace qvkkm

#endif
