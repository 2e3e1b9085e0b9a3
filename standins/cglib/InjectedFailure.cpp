// The test switch of the stand-in libraries.
#include <cstdlib>
#include <cstring>

#include "CGExport.h"

namespace cglib {

bool InjectedFailure(const char* name)
{
    const char* list = std::getenv("QVK_CGLIB_FAIL");
    if (list == nullptr || *list == '\0') return false;
    const std::size_t length = std::strlen(name);
    for (const char* p = list; *p != '\0';) {
        const char* end = std::strchr(p, ',');
        std::size_t item = end ? static_cast<std::size_t>(end - p) : std::strlen(p);
        if ((item == 1 && *p == '*') || (item == length && std::strncmp(p, name, length) == 0)) return true;
        if (end == nullptr) break;
        p = end + 1;
    }
    return false;
}

}  // namespace cglib
