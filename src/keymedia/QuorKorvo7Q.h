// The full-key device object: the key with its extensions, on-key
// cryptography for a crypto service provider, and recovery with one retry
// after a failed device command.
#ifndef QVK_KEYMEDIA_QUORKORVO7Q_H
#define QVK_KEYMEDIA_QUORKORVO7Q_H

#include "keymedia/AliasApplication.h"
#include "keymedia/DeviceObject.h"
#include "keymedia/KMDevice.h"

class CSPHardwareImplementationQuorKorvo7Q;
class HRNGImplementationQuorKorvo7Q;

class QuorKorvo7Q : public qvkkm::KeyDeviceObject, public IKMDeviceInfoApplication {
public:
    QuorKorvo7Q();

    // KMDevice
    int GetInfo(const char* name, int* caps, void* objects[2]) override;
    int GetRecordHeader(const char* serial, int which, int* header) override;

    // IKMQuorKorvo7Q
    int GetJournalRecord(const char* serial, unsigned index, unsigned* event, char* operation, char* detail,
                         char* result) override;
    int GetDeviceInfo(const char* serial, unsigned* infoByte, unsigned* version, unsigned* infoWord, unsigned* flagA,
                      unsigned* flagB, unsigned* triesLeft, unsigned* triesMax) override;
    int Reserved13() override { return KM_NOT_SUPPORTED; }
    int GetDeviceStatus(const char* serial, unsigned* state) override;
    int Reserved15() override { return KM_NOT_SUPPORTED; }
    int Reserved16() override { return KM_NOT_SUPPORTED; }

    // IKMDeviceInfoApplication
    int GetVersion() override { return 6; }
    int Reserved1() override { return KM_NOT_SUPPORTED; }
    int Reserved2() override { return KM_NOT_SUPPORTED; }
    int GetPasswordTries(const char* serial, int* left, int* max) override;
    int GetDeviceFlag(const char* serial, int* flag) override;
    int Reserved5() override { return KM_NOT_SUPPORTED; }

protected:
    ~QuorKorvo7Q() override;
    void ContextChanged() override;
    ICSPHardware* HardwareForContainer() override;

private:
    CSPHardwareImplementationQuorKorvo7Q* Hardware();
    HRNGImplementationQuorKorvo7Q* Random();
    // The open key, or a connection made for this operation only.
    int UseKey(const char* serial, uint32_t extraHealthy, qvkkm::TemporaryConnection* temporary,
               DeviceContext** context);

    CSPHardwareImplementationQuorKorvo7Q* hardware_ = nullptr;
    HRNGImplementationQuorKorvo7Q* random_ = nullptr;
    QuorKorvo7QAliasApplication* alias_;
};

#endif
