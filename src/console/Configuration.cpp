// qvk7qc: lists the attached keys, formats a key, changes or checks its
// password, through the key-media library loaded at run time.
#include <cstdio>
#include <cstring>

#include "console/KMQuorKorvo7Q.h"
#include "console/Utils.h"

namespace {

constexpr int kBadCommandLine = -1;
// A recognised command that did not do what was asked (refused arguments, a key
// that is not attached, a failed device operation) must not look like success to
// scripts.
constexpr int kCommandFailed = 1;

int g_exitCode = 0;

// The word matches exactly, or with one leading character of any kind (-enum, /enum).
bool MatchesCommand(const char* argument, const char* command)
{
    size_t argumentLength = strlen(argument);
    size_t commandLength = strlen(command);
    if (argumentLength == commandLength) return strcmp(argument, command) == 0;
    if (argumentLength == commandLength + 1) return strcmp(argument + 1, command) == 0;
    return false;
}

void SetFailed(bool failed)
{
    g_exitCode = failed ? kCommandFailed : 0;
}

int HandleHelp(int argc, char** argv)
{
    if (argc != 2 || !MatchesCommand(argv[1], "help")) return 0;
    PrintUsage();
    return 1;
}

int HandleEnum(int argc, char** argv)
{
    if (argc != 2 || !MatchesCommand(argv[1], "enum")) return 0;
    char name[257];
    char serial[257];
    int count = 0;
    while (EnumerateKey(count, name, serial)) {
        if (count == 0) WriteLine("Quor Korvo-7Q Configuration: Attached quors -");
        printf("\t%d: %s %s\n", count + 1, name, serial);
        ++count;
    }
    if (count > 0)
        printf("Quor Korvo-7Q Configuration: Founded %d attached quor(s)\n", count);
    else
        WriteLine("Quor Korvo-7Q Configuration: No quors attached or error occurred while enum attached quors");
    SetFailed(false);
    return 1;
}

int HandleFormat(int argc, char** argv)
{
    if (argc != 4 || !MatchesCommand(argv[1], "format")) return 0;
    const char* serial = argv[2];
    const char* password = argv[3];
    if (!IsSerialNumberValid(serial) || !IsPasswordLengthValid(password) || !RequireAttachedKey(serial)) {
        SetFailed(true);
        return 1;
    }
    WriteLine("Quor Korvo-7Q Configuration: Quor format in progress...");
    bool ok = FormatKey(serial, password);
    WriteLine(ok ? "Quor Korvo-7Q Configuration: Quor formatted successfully"
                 : "Quor Korvo-7Q Configuration: Error while format quor");
    SetFailed(!ok);
    return 1;
}

int HandleChangePassword(int argc, char** argv)
{
    if (argc != 5 || !MatchesCommand(argv[1], "changepassword")) return 0;
    const char* serial = argv[2];
    if (!IsSerialNumberValid(serial) || !IsPasswordLengthValid(argv[3]) || !IsPasswordLengthValid(argv[4]) ||
        !RequireAttachedKey(serial)) {
        SetFailed(true);
        return 1;
    }
    bool ok = ChangeKeyPassword(serial, argv[3], argv[4]);
    WriteLine(ok ? "Quor Korvo-7Q Configuration: Quor password changed successfully"
                 : "Quor Korvo-7Q Configuration: Error while change quor password");
    SetFailed(!ok);
    return 1;
}

int HandleCheck(int argc, char** argv)
{
    if (argc != 4 || !MatchesCommand(argv[1], "check")) return 0;
    const char* serial = argv[2];
    if (!IsSerialNumberValid(serial) || !IsPasswordLengthValid(argv[3]) || !RequireAttachedKey(serial)) {
        SetFailed(true);
        return 1;
    }
    bool ok = CheckKey(serial, argv[3]);
    WriteLine(ok ? "Quor Korvo-7Q Configuration: Quor checked successfully"
                 : "Quor Korvo-7Q Configuration: Error while check quor");
    SetFailed(!ok);
    return 1;
}

int Finish(KMQuorKorvo7Q* library, int code)
{
    library->Unload();
    delete library;
    g_library = nullptr;
    fflush(stdout);
    return code;
}

}  // namespace

int main(int argc, char** argv)
{
    KMQuorKorvo7Q* library = new KMQuorKorvo7Q();
    g_library = library;
    if (!library->Load()) {
        delete library;
        g_library = nullptr;
        WriteLine("Error while initializing quor library");
        return kBadCommandLine;
    }

    char name[257] = {};
    bool probed = false;
    if (library->enumDeviceTypes(0, name) == KM_OK) {
        if (IKMQuorKorvo7Q* device = library->getInterface(name)) {
            device->Release();
            probed = true;
        }
    }
    if (!probed) {
        Finish(library, kBadCommandLine);
        WriteLine("Error while initializing quor library");
        return kBadCommandLine;
    }

    if (argc < 2) {
        Finish(library, kBadCommandLine);
        PrintBadParameters();
        return kBadCommandLine;
    }
    for (int i = 0; i < argc; ++i) {
        size_t length = strlen(argv[i]);
        if (length < 2 || length > 256) {
            Finish(library, kBadCommandLine);
            PrintBadParameters();
            return kBadCommandLine;
        }
    }

    int (*const handlers[])(int, char**) = {HandleHelp, HandleEnum, HandleFormat, HandleChangePassword, HandleCheck};
    for (auto handler : handlers) {
        if (handler(argc, argv)) return Finish(library, g_exitCode);
    }
    Finish(library, kBadCommandLine);
    PrintBadParameters();
    return kBadCommandLine;
}
