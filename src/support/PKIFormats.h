// Reference-counted loader of the outside PKI formats library (pkfmt.so).
// No lock of its own: callers serialise (the key-media library under its
// global critical section, the PKCS#11 module in C_Initialize/C_Finalize).
#ifndef QVK_SUPPORT_PKIFORMATS_H
#define QVK_SUPPORT_PKIFORMATS_H

enum {
    PKI_LIBRARY_MISSING = 5,    // the library or one of its entry points is missing
    PKI_LIBRARY_NOT_LOADED = 6  // interface asked while the library is not loaded
};

// Loads the library on first use and counts a reference; returns the result
// of the library's PKIInitialize (0 = success) or PKI_LIBRARY_MISSING.
int AcquirePKILibrary();
// Drops one reference; the last one runs PKIFinalize, unloads the library and
// returns PKIFinalize's result. 0 when nothing is loaded.
int ReleasePKILibrary();
// The library's PKIGetInterface; PKI_LIBRARY_NOT_LOADED when not loaded.
int GetPKIInterface(void** pkiInterface);

#endif
