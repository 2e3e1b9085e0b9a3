#include "keymedia/AliasApplication.h"

#include <cstring>

namespace {
const char kAlias[] = "1.3.6.1.4.1.19398.1.1.8.22";
}

int QuorKorvo7QAliasApplication::GetVersion()
{
    return 2;
}

int QuorKorvo7QAliasApplication::GetAlias(char* text, int* length)
{
    if (length != nullptr) *length = static_cast<int>(sizeof(kAlias) - 1);
    if (text != nullptr) std::memcpy(text, kAlias, sizeof(kAlias));
    return 1;
}
