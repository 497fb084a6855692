#include "Sid.h"

#include <charconv>
#include <cstdio>

namespace platform::security {

namespace {

constexpr std::size_t kSidHeaderSize = 8;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsHexDigit(char c) {
    return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Longest run of characters from `from` that satisfy `accept`.
template <typename Pred>
std::size_t RunLength(std::string_view text, std::size_t from, Pred accept) {
    std::size_t end = from;
    while (end < text.size() && accept(text[end]))
        ++end;
    return end - from;
}

// Parses digits[from, from + len) in the radix; false on overflow past `max`.
bool ParseDigits(std::string_view text, std::size_t from, std::size_t len, int radix,
                 std::uint64_t max, std::uint64_t& value) {
    const char* first = text.data() + from;
    auto [ptr, ec] = std::from_chars(first, first + len, value, radix);
    return ec == std::errc() && ptr == first + len && value <= max;
}

SecurityStatus InvalidSid(std::size_t offset) {
    return {kErrorInvalidSid, offset};
}

} // namespace

bool IsValidSid(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kSidHeaderSize) return false;
    if (bytes[0] != kSidRevision || bytes[1] > kSidMaxSubAuthorities) return false;
    return bytes.size() >= kSidHeaderSize + std::size_t{bytes[1]} * 4;
}

std::size_t GetLengthSid(std::span<const std::uint8_t> bytes) {
    return IsValidSid(bytes) ? kSidHeaderSize + std::size_t{bytes[1]} * 4 : 0;
}

SecurityStatus DecodeSid(std::span<const std::uint8_t> bytes, Sid& sid) {
    if (!IsValidSid(bytes)) return InvalidSid(0);
    sid.authority = 0;
    for (std::size_t i = 2; i < kSidHeaderSize; ++i)
        sid.authority = sid.authority << 8 | bytes[i];
    sid.subAuthorities.resize(bytes[1]);
    for (std::size_t i = 0; i < sid.subAuthorities.size(); ++i) {
        const auto* p = bytes.data() + kSidHeaderSize + 4 * i;
        sid.subAuthorities[i] = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    }
    return kSecuritySuccess;
}

void AppendSid(const Sid& sid, std::vector<std::uint8_t>& out) {
    out.push_back(kSidRevision);
    out.push_back(static_cast<std::uint8_t>(sid.subAuthorities.size()));
    for (int shift = 40; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(sid.authority >> shift));
    for (std::uint32_t sub : sid.subAuthorities)
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(sub >> shift));
}

std::vector<std::uint8_t> EncodeSid(const Sid& sid) {
    std::vector<std::uint8_t> out;
    AppendSid(sid, out);
    return out;
}

std::string FormatSid(const Sid& sid) {
    std::string text = "S-1-";
    if (sid.authority > 0xFFFFFFFFull) {
        char buf[20];
        std::snprintf(buf, sizeof buf, "0x%012llx", static_cast<unsigned long long>(sid.authority));
        text += buf;
    } else {
        text += std::to_string(sid.authority);
    }
    for (std::uint32_t sub : sid.subAuthorities) {
        text += '-';
        text += std::to_string(sub);
    }
    return text;
}

SecurityStatus ScanSid(std::string_view text, Sid& sid, std::size_t& used) {
    if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text.substr(1, 3) != "-1-")
        return InvalidSid(0);
    std::size_t pos = 4;
    std::uint64_t value = 0;
    if (text.size() > pos + 1 && text[pos] == '0' &&
        (text[pos + 1] == 'x' || text[pos + 1] == 'X')) {
        std::size_t len = RunLength(text, pos + 2, IsHexDigit);
        // An SDDL part may follow directly, and "D:" starts with a hex digit:
        // the digit before a ':' is not the authority's.
        if (len > 0 && pos + 2 + len < text.size() && text[pos + 2 + len] == ':') --len;
        if (len == 0 || len > 12 || !ParseDigits(text, pos + 2, len, 16, kSidMaxAuthority, value))
            return InvalidSid(pos);
        pos += 2 + len;
    } else {
        const std::size_t len = RunLength(text, pos, IsDigit);
        if (len == 0 || !ParseDigits(text, pos, len, 10, kSidMaxAuthority, value))
            return InvalidSid(pos);
        pos += len;
    }
    Sid result;
    result.authority = value;
    while (pos < text.size() && text[pos] == '-') {
        const std::size_t len = RunLength(text, pos + 1, IsDigit);
        if (len == 0 || result.subAuthorities.size() == kSidMaxSubAuthorities ||
            !ParseDigits(text, pos + 1, len, 10, 0xFFFFFFFFu, value))
            return InvalidSid(pos + 1);
        result.subAuthorities.push_back(static_cast<std::uint32_t>(value));
        pos += 1 + len;
    }
    sid = std::move(result);
    used = pos;
    return kSecuritySuccess;
}

SecurityStatus ParseSid(std::string_view text, Sid& sid) {
    std::size_t used = 0;
    Sid parsed;
    if (auto st = ScanSid(text, parsed, used); !st.ok()) return st;
    if (used != text.size()) return InvalidSid(used);
    sid = std::move(parsed);
    return kSecuritySuccess;
}

SecurityStatus ConvertSidToStringSid(std::span<const std::uint8_t> bytes, std::string& text) {
    Sid sid;
    if (auto st = DecodeSid(bytes, sid); !st.ok()) return st;
    text = FormatSid(sid);
    return kSecuritySuccess;
}

SecurityStatus ConvertStringSidToSid(std::string_view text, std::vector<std::uint8_t>& bytes) {
    Sid sid;
    if (auto st = ParseSid(text, sid); !st.ok()) return st;
    bytes = EncodeSid(sid);
    return kSecuritySuccess;
}

} // namespace platform::security
