// Hex helpers shared by the security tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace security_test {

inline std::vector<std::uint8_t> Bytes(std::string_view hex) {
    std::vector<std::uint8_t> out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        while (hex[i] == ' ')
            ++i;
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    }
    return out;
}

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

} // namespace security_test
