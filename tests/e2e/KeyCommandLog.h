// The rig's command log (DIR/commands.log), as records or as bare command
// codes, for the end-to-end tests that check what reached a key.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "KeyRig.h"

namespace qvk::e2e {

// One request as the emulated key logged it: the request's command, parameter
// and protection mode, the block size and the status the key answered.
struct LoggedCommand {
    int cmd = 0;
    int par = 0;
    int mode = 0;
    int size = 0;
    int status = 0;
};

// Calls take(text) for each line of key n, in the order the key saw them;
// text starts at the line's "cmd=".
template <typename Take>
void ForEachKeyLine(const KeyRig& rig, int key, Take take)
{
    std::ifstream in(rig.dir() + "/commands.log");
    const std::string tag = " key" + std::to_string(key) + " cmd=";
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(tag);
        if (at != std::string::npos) take(line.c_str() + at + tag.size() - 4);
    }
}

// The commands key n has seen, in the order it saw them.
inline std::vector<LoggedCommand> KeyCommandLog(const KeyRig& rig, int key)
{
    std::vector<LoggedCommand> out;
    ForEachKeyLine(rig, key, [&](const char* text) {
        LoggedCommand c;
        if (std::sscanf(text, "cmd=%d par=0x%x mode=%d size=%d status=%d", &c.cmd, &c.par, &c.mode, &c.size,
                        &c.status) == 5)
            out.push_back(c);
    });
    return out;
}

// The command codes alone.
inline std::vector<int> KeyCommands(const KeyRig& rig, int key = 0)
{
    std::vector<int> out;
    ForEachKeyLine(rig, key, [&](const char* text) { out.push_back(std::atoi(text + 4)); });
    return out;
}

// How many of commands[from...] are one of codes.
inline int Count(const std::vector<int>& commands, size_t from, std::initializer_list<int> codes)
{
    int n = 0;
    for (size_t i = from; i < commands.size(); ++i)
        for (int code : codes) n += commands[i] == code;
    return n;
}

inline int Count(const std::vector<int>& commands, size_t from, int command)
{
    return Count(commands, from, {command});
}

}  // namespace qvk::e2e
