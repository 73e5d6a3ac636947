// Text from the V4L2 driver's structures.
#pragma once

#include <linux/types.h>

#include <cstddef>
#include <cstring>
#include <string>

// Driver strings are fixed-size arrays that need not end in a NUL.
template <std::size_t N>
std::string FixedString(const __u8 (&text)[N]) {
    const char* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, N));
}
template <std::size_t N>
std::string FixedString(const char (&text)[N]) {
    return std::string(text, strnlen(text, N));
}
