// UTF-8 <-> UTF-16LE conversions for values the directory stores as UTF-16.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Invalid UTF-8 bytes become U+FFFD.
std::vector<std::uint8_t> Utf8ToUtf16LE(std::string_view text);
// Unpaired surrogates become U+FFFD; stops at the first zero unit.
std::string Utf16LEToUtf8(const std::vector<std::uint8_t>& bytes);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);
