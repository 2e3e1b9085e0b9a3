// The slot of a virtual operation in its class's virtual table, for the tests
// that pin down the table layouts other programs call through. Under the
// Itanium C++ ABI a pointer to a virtual member function holds 1 + the byte
// offset of its table entry, and a this-adjustment of 0 when the entry is in
// the primary table.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qvktest {

template <typename MemberFunction>
std::ptrdiff_t SlotOf(MemberFunction function)
{
    static_assert(sizeof(function) == 2 * sizeof(std::uintptr_t), "Itanium member pointer");
    std::uintptr_t raw[2];
    std::memcpy(raw, &function, sizeof(raw));
    EXPECT_EQ(raw[0] & 1, 1u) << "not a virtual member";
    EXPECT_EQ(raw[1], 0u) << "not in the primary table";
    EXPECT_EQ((raw[0] - 1) % sizeof(void*), 0u);
    return static_cast<std::ptrdiff_t>((raw[0] - 1) / sizeof(void*));
}

}  // namespace qvktest
