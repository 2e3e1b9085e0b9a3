// Device-object interfaces of the key-media library, as its callers see them.
// Callers reach every operation by its slot in the virtual table, so the
// declaration order below is part of the binary interface: never reorder,
// never add a virtual destructor (it would take two slots).
#ifndef QVK_KEYMEDIA_KMDEVICE_H
#define QVK_KEYMEDIA_KMDEVICE_H

enum KMResult {
    KM_OK = 0,
    KM_NOT_FOUND = 1,
    KM_NOT_SUPPORTED = 4,
    KM_DEVICE_ERROR = 5,
    KM_WRONG_PASSWORD = 6,
    KM_SERIAL_MISMATCH = 7,
    KM_BAD_STATE = 0xFFFF
};

enum { KM_OPEN_FORMAT = 0x100000, KM_CAPS_FULL_KEY = 0x151D, KM_CAPS_STORAGE = 0x1D };

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class KMDevice {
public:
    virtual void Release() = 0;                                                                         // 0
    virtual int EnumDevice(int index, char* serial) = 0;                                                // 1
    virtual int GetInfo(const char* name, int* caps, void* objects[2]) = 0;                             // 2
    virtual int Open(char* serial, char* password, int flags) = 0;                                      // 3
    virtual int Close(const char* serial) = 0;                                                          // 4
    virtual int ChangePassword(const char* serial, char* newPassword) = 0;                              // 5
    virtual int Erase(const char* serial) = 0;                                                          // 6
    virtual int GetRecordHeader(const char* serial, int which, int* header) = 0;                        // 7
    virtual int ReadRecord(char* serial, unsigned type, void* data, unsigned* length) = 0;              // 8
    virtual int WriteRecord(const char* serial, unsigned type, const void* data, unsigned length) = 0;  // 9
    virtual int Reserved10() = 0;                                                                       // 10
};

class IKMQuorKorvo7Q : public KMDevice {
public:
    virtual int GetJournalRecord(const char* serial, unsigned index, unsigned* event, char* operation, char* detail,
                                 char* result) = 0;  // 11
    virtual int GetDeviceInfo(const char* serial, unsigned* infoByte, unsigned* version, unsigned* infoWord,
                              unsigned* flagA, unsigned* flagB, unsigned* triesLeft,
                              unsigned* triesMax) = 0;                     // 12
    virtual int Reserved13() = 0;                                          // 13
    virtual int GetDeviceStatus(const char* serial, unsigned* state) = 0;  // 14
    virtual int Reserved15() = 0;                                          // 15
    virtual int Reserved16() = 0;                                          // 16
};

class IKMDeviceInfoApplication {
public:
    virtual int GetVersion() = 0;                                               // 0
    virtual int Reserved1() = 0;                                                // 1
    virtual int Reserved2() = 0;                                                // 2
    virtual int GetPasswordTries(const char* serial, int* left, int* max) = 0;  // 3
    virtual int GetDeviceFlag(const char* serial, int* flag) = 0;               // 4
    virtual int Reserved5() = 0;                                                // 5
};

class IKMAliasApplication {
public:
    virtual int GetVersion() = 0;                       // 0
    virtual int GetAlias(char* text, int* length) = 0;  // 1
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// The library's exports.
extern "C" {
typedef int (*KMEnumDeviceTypesFunction)(int index, char* name);
typedef IKMQuorKorvo7Q* (*KMGetInterfaceFunction)(const char* name);
typedef void (*KMFinalizeFunction)(void);
}

#endif
