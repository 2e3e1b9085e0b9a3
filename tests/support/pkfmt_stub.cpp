// A tiny stand-in for the PKI formats library: it records its entry calls in
// the file named by QVK_PKFMT_LOG and answers PKIInitialize with the value of
// QVK_PKFMT_INIT_RESULT.
#include <cstdio>
#include <cstdlib>

namespace {
int g_interface = 0;

void Note(const char* what)
{
    const char* path = std::getenv("QVK_PKFMT_LOG");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fputs(what, f);
        std::fclose(f);
    }
}
}  // namespace

extern "C" __attribute__((visibility("default"))) int PKIInitialize()
{
    Note("I");
    const char* result = std::getenv("QVK_PKFMT_INIT_RESULT");
    return result != nullptr ? std::atoi(result) : 0;
}

#ifndef QVK_PKFMT_WITHOUT_FINALIZE
extern "C" __attribute__((visibility("default"))) int PKIFinalize()
{
    Note("F");
    return 17;
}
#endif

extern "C" __attribute__((visibility("default"))) int PKIGetInterface(void** pkiInterface)
{
    Note("G");
    if (pkiInterface == nullptr) return 3;
    *pkiInterface = &g_interface;
    return 0;
}
