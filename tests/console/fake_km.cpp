// A key-media library double for the console's tests: keys live in a text file
// named by $FAKEKM_STATE, one "serial password" pair per line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "keymedia/KMDevice.h"

namespace {

const char kTypeName[] = "\xea\xe2\xee\xf0 \xd2\xc2\xd0 \xca\xee\xf0\xe2\xee-7\xd4";

using Keys = std::vector<std::pair<std::string, std::string>>;

Keys ReadKeys()
{
    Keys keys;
    const char* path = getenv("FAKEKM_STATE");
    if (!path) return keys;
    std::ifstream in(path);
    std::string serial, password;
    while (in >> serial >> password) keys.emplace_back(serial, password);
    return keys;
}

void WriteKeys(const Keys& keys)
{
    std::ofstream out(getenv("FAKEKM_STATE"), std::ios::trunc);
    for (auto& [serial, password] : keys) out << serial << ' ' << password << '\n';
}

// Appends one line per device call so tests can see what the console asked for.
void Log(const std::string& line)
{
    if (const char* path = getenv("FAKEKM_LOG")) {
        std::ofstream out(path, std::ios::app);
        out << line << '\n';
    }
}

class FakeDevice final : public IKMQuorKorvo7Q {
public:
    void Release() override { delete this; }
    int EnumDevice(int index, char* serial) override
    {
        Keys keys = ReadKeys();
        if (index < 0 || static_cast<size_t>(index) >= keys.size()) return KM_NOT_FOUND;
        strcpy(serial, keys[index].first.c_str());
        return KM_OK;
    }
    int GetInfo(const char*, int*, void**) override { return KM_NOT_SUPPORTED; }
    int Open(char* serial, char* password, int flags) override
    {
        Log(std::string("open ") + serial + " " + password + " " + std::to_string(flags));
        Keys keys = ReadKeys();
        for (auto& [s, p] : keys) {
            if (s != serial) continue;
            if (flags & KM_OPEN_FORMAT) {
                p = password;
                WriteKeys(keys);
            } else if (p != password) {
                return KM_WRONG_PASSWORD;
            }
            open_ = s;
            return KM_OK;
        }
        return KM_DEVICE_ERROR;
    }
    int Close(const char* serial) override
    {
        Log(std::string("close ") + serial);
        open_.clear();
        return KM_OK;
    }
    int ChangePassword(const char* serial, char* newPassword) override
    {
        Log(std::string("changepassword ") + serial + " " + newPassword);
        Keys keys = ReadKeys();
        for (auto& [s, p] : keys) {
            if (s == serial && s == open_) {
                p = newPassword;
                WriteKeys(keys);
                return KM_OK;
            }
        }
        return KM_BAD_STATE;
    }
    int Erase(const char*) override { return KM_NOT_SUPPORTED; }
    int GetRecordHeader(const char*, int, int*) override { return KM_NOT_SUPPORTED; }
    int ReadRecord(char*, unsigned, void*, unsigned*) override { return KM_NOT_SUPPORTED; }
    int WriteRecord(const char*, unsigned, const void*, unsigned) override { return KM_NOT_SUPPORTED; }
    int Reserved10() override { return KM_NOT_SUPPORTED; }
    int GetJournalRecord(const char*, unsigned, unsigned*, char*, char*, char*) override { return KM_NOT_SUPPORTED; }
    int GetDeviceInfo(const char*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*, unsigned*) override
    {
        return KM_NOT_SUPPORTED;
    }
    int Reserved13() override { return KM_NOT_SUPPORTED; }
    int GetDeviceStatus(const char*, unsigned*) override { return KM_NOT_SUPPORTED; }
    int Reserved15() override { return KM_NOT_SUPPORTED; }
    int Reserved16() override { return KM_NOT_SUPPORTED; }

private:
    std::string open_;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int KMEnumDeviceTypes(int index, char* name)
{
    if (index != 0) return KM_NOT_FOUND;
    strcpy(name, kTypeName);
    return KM_OK;
}

#ifndef FAKEKM_NO_GETINTERFACE
__attribute__((visibility("default"))) IKMQuorKorvo7Q* KMGetInterface(const char* name)
{
    return strcmp(name, kTypeName) == 0 ? new FakeDevice() : nullptr;
}
#endif

#ifndef FAKEKM_NO_FINALIZE
__attribute__((visibility("default"))) void KMFinalize(void)
{
    Log("finalize");
}
#endif
}
