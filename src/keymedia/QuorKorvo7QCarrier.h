// The key used only as a password-protected storage carrier: no on-key
// cryptography, no extensions, and every device command made once.
#ifndef QVK_KEYMEDIA_QUORKORVO7QCARRIER_H
#define QVK_KEYMEDIA_QUORKORVO7QCARRIER_H

#include "keymedia/DeviceObject.h"
#include "keymedia/KMDevice.h"

class QuorKorvo7QCarrier : public qvkkm::KeyDeviceObject {
public:
    QuorKorvo7QCarrier();

    int GetInfo(const char* name, int* caps, void* objects[2]) override;
    int GetRecordHeader(const char* serial, int which, int* header) override;
    int GetJournalRecord(const char*, unsigned, unsigned*, char*, char*, char*) override { return KM_NOT_SUPPORTED; }
    int GetDeviceInfo(const char*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*) override
    {
        return KM_NOT_SUPPORTED;
    }
    int Reserved13() override { return KM_NOT_SUPPORTED; }
    int GetDeviceStatus(const char*, unsigned*) override { return KM_NOT_SUPPORTED; }
    int Reserved15() override { return KM_NOT_SUPPORTED; }
    int Reserved16() override { return KM_NOT_SUPPORTED; }

protected:
    ~QuorKorvo7QCarrier() override = default;
};

#endif
