#include "console/Utils.h"

#include <cstdio>
#include <cstring>

KMQuorKorvo7Q* g_library = nullptr;

namespace {

const char kPrefix[] = "Quor Korvo-7Q Configuration: ";
constexpr size_t kNameSize = 257;
constexpr size_t kMaxSerial = 6;
constexpr size_t kMaxPassword = 31;

// A device object for type 0, or null. The caller releases it.
IKMQuorKorvo7Q* AcquireDevice(char* name)
{
    if (!g_library || !g_library->enumDeviceTypes || !g_library->getInterface) return nullptr;
    if (g_library->enumDeviceTypes(0, name) != KM_OK) return nullptr;
    return g_library->getInterface(name);
}

bool SequenceArgumentsValid(const char* serial, const char* password)
{
    return serial && strlen(serial) <= kMaxSerial && password && strlen(password) <= kMaxPassword;
}

}  // namespace

void WriteLine(const char* text)
{
    fputs(text, stdout);
    fputc('\n', stdout);
}

static void WritePrefixed(const char* text)
{
    fputs(kPrefix, stdout);
    WriteLine(text);
}

void PrintUsage()
{
    WriteLine("Quor Korvo-7Q Configuration: Command line parameters next\n"
              "\tEnum attached quors  : enum\n"
              "\tFormat quor          : format <SN> <Password>\n"
              "\tChange quor password : changepassword <SN> <OldPassword> <NewPassword>\n"
              "\tCheck quor           : check <SN> <Password>\n"
              "Quor SN format - 000000..999999\n"
              "Quor password length - 1..31 symbols");
}

void PrintBadParameters()
{
    WritePrefixed("Bad command line parameters");
    PrintUsage();
}

int IsSerialNumberValid(const char* serial)
{
    if (!serial || strlen(serial) != kMaxSerial) {
        WritePrefixed("Wrong quor SN format (000000..999999)");
        return 0;
    }
    for (size_t i = 0; i < kMaxSerial; ++i) {
        if (serial[i] < '0' || serial[i] > '9') {
            WritePrefixed("Wrong quor SN format (must be 000000..999999)");
            return 0;
        }
    }
    return 1;
}

int IsPasswordLengthValid(const char* password)
{
    if (!password || strlen(password) > kMaxPassword) {
        WritePrefixed("Quor password too long (must be 1..31 symbols)");
        return 0;
    }
    return 1;
}

int IsKeyAttached(const char* serial)
{
    if (!serial || strlen(serial) > kMaxSerial) return 0;
    char name[kNameSize] = {};
    IKMQuorKorvo7Q* device = AcquireDevice(name);
    if (!device) return 0;
    int found = 0;
    char listed[kNameSize];
    for (int index = 0; !found; ++index) {
        memset(listed, 0, sizeof listed);
        if (device->EnumDevice(index, listed) != KM_OK) break;
        if (IsSerialNumberValid(listed) && strcmp(listed, serial) == 0) found = 1;
    }
    device->Release();
    return found;
}

int RequireAttachedKey(const char* serial)
{
    if (IsKeyAttached(serial)) return 1;
    printf("%sQuor is not attached (SN - %s)\n", kPrefix, serial);
    return 0;
}

int EnumerateKey(int index, char* name, char* serial)
{
    if (!serial) return 0;
    char typeName[kNameSize] = {};
    IKMQuorKorvo7Q* device = AcquireDevice(typeName);
    if (!device) return 0;
    char listed[kNameSize] = {};
    int result = device->EnumDevice(index, listed);
    device->Release();
    if (result != KM_OK || !IsSerialNumberValid(listed)) return 0;
    if (name) memcpy(name, typeName, kNameSize);
    memcpy(serial, listed, kNameSize);
    return 1;
}

// Opens the key (logging in, or formatting with KM_OPEN_FORMAT) and closes it again.
static int OpenAndClose(const char* serial, const char* password, int flags)
{
    if (!SequenceArgumentsValid(serial, password)) return 0;
    char name[kNameSize] = {};
    IKMQuorKorvo7Q* device = AcquireDevice(name);
    if (!device) return 0;
    char serialCopy[kNameSize], passwordCopy[kNameSize];
    snprintf(serialCopy, sizeof serialCopy, "%s", serial);
    snprintf(passwordCopy, sizeof passwordCopy, "%s", password);
    int ok = device->Open(serialCopy, passwordCopy, flags) == KM_OK;
    if (ok) device->Close(serialCopy);
    device->Release();
    memset(passwordCopy, 0, sizeof passwordCopy);
    return ok;
}

int FormatKey(const char* serial, const char* password)
{
    return OpenAndClose(serial, password, KM_OPEN_FORMAT);
}

int ChangeKeyPassword(const char* serial, const char* oldPassword, const char* newPassword)
{
    if (!SequenceArgumentsValid(serial, oldPassword) || !SequenceArgumentsValid(serial, newPassword)) return 0;
    char name[kNameSize] = {};
    IKMQuorKorvo7Q* device = AcquireDevice(name);
    if (!device) return 0;
    char serialCopy[kNameSize], oldCopy[kNameSize], newCopy[kNameSize];
    snprintf(serialCopy, sizeof serialCopy, "%s", serial);
    snprintf(oldCopy, sizeof oldCopy, "%s", oldPassword);
    snprintf(newCopy, sizeof newCopy, "%s", newPassword);
    int ok = 0;
    if (device->Open(serialCopy, oldCopy, 0) == KM_OK) {
        ok = device->ChangePassword(serialCopy, newCopy) == KM_OK;
        device->Close(serialCopy);
    }
    device->Release();
    memset(oldCopy, 0, sizeof oldCopy);
    memset(newCopy, 0, sizeof newCopy);
    return ok;
}

int CheckKey(const char* serial, const char* password)
{
    return OpenAndClose(serial, password, 0);
}
