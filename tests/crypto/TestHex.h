// Hex text to bytes for the known-answer tables; blanks and separators between
// digits are skipped, so vectors can be pasted as published.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace cryptotest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text)
{
    Bytes out;
    std::string digits;
    for (char ch : text)
        if (std::isxdigit(static_cast<unsigned char>(ch))) digits += ch;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace cryptotest
