// Alias extension of the full-key device object: names the key's object
// identifier.
#ifndef QVK_KEYMEDIA_ALIASAPPLICATION_H
#define QVK_KEYMEDIA_ALIASAPPLICATION_H

#include "keymedia/KMDevice.h"

class QuorKorvo7QAliasApplication final : public IKMAliasApplication {
public:
    int GetVersion() override;
    int GetAlias(char* text, int* length) override;
};

#endif
