#include "SIDS.h"

#include "Diag.h"
#include "pellixstrings.h"

#include <charconv>
#include <cstdio>

namespace {

constexpr std::size_t kSidHeaderSize = 8;

std::uint32_t SubAuthority(std::span<const std::uint8_t> sid, std::size_t index) {
    const std::size_t at = kSidHeaderSize + index * 4;
    return static_cast<std::uint32_t>(sid[at]) | static_cast<std::uint32_t>(sid[at + 1]) << 8 |
           static_cast<std::uint32_t>(sid[at + 2]) << 16 |
           static_cast<std::uint32_t>(sid[at + 3]) << 24;
}

// Shared formatter: the caller has checked the SID.
std::string FormatSid(std::span<const std::uint8_t> sid) {
    const std::size_t count = sid[1];
    std::string text;
    text.reserve(count * 12 + 28);
    text = "S-1-";
    char buf[32];
    if (sid[2] != 0 || sid[3] != 0) {
        std::snprintf(buf, sizeof buf, "0x%02hx%02hx%02hx%02hx%02hx%02hx",
                      static_cast<unsigned short>(sid[2]), static_cast<unsigned short>(sid[3]),
                      static_cast<unsigned short>(sid[4]), static_cast<unsigned short>(sid[5]),
                      static_cast<unsigned short>(sid[6]), static_cast<unsigned short>(sid[7]));
        text += buf;
    } else {
        const std::uint32_t authority =
            static_cast<std::uint32_t>(sid[4]) << 24 | static_cast<std::uint32_t>(sid[5]) << 16 |
            static_cast<std::uint32_t>(sid[6]) << 8 | static_cast<std::uint32_t>(sid[7]);
        text += std::to_string(authority);
    }
    for (std::size_t i = 0; i < count; ++i) {
        text += '-';
        text += std::to_string(SubAuthority(sid, i));
    }
    return text;
}

// Parses an unsigned number in the given radix that fills the whole text.
bool ParseNumber(std::string_view text, int radix, std::uint64_t& value) {
    if (text.empty()) return false;
    const auto* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, radix);
    return ec == std::errc() && ptr == end;
}

// The text of a SID, or the invalid-SID text when it is none.
bool TextualSid(std::span<const std::uint8_t> sid, std::string& text) {
    if (!IsValidSid(sid)) {
        text = kInvalidSidText;
        return false;
    }
    text = FormatSid(sid);
    return true;
}

} // namespace

bool IsValidSid(std::span<const std::uint8_t> sid) {
    if (sid.size() < kSidHeaderSize) return false;
    if (sid[0] != kSidRevision || sid[1] > kSidMaxSubAuthorities) return false;
    return sid.size() >= kSidHeaderSize + std::size_t{sid[1]} * 4;
}

std::size_t GetLengthSid(std::span<const std::uint8_t> sid) {
    return IsValidSid(sid) ? kSidHeaderSize + std::size_t{sid[1]} * 4 : 0;
}

bool GetTextualSid(std::span<const std::uint8_t> sid, std::string& text) {
    KELVO_TRACE_SCOPE();
    if (!TextualSid(sid, text)) return false;
    diag::DebugOut("DEBUG: TextualSid=" + text + "\n");
    return true;
}

bool GetTextualSid2(std::span<const std::uint8_t> sid, std::string& text) {
    KELVO_TRACE_SCOPE();
    return TextualSid(sid, text);
}

std::string HexSidToStrSid(std::string_view hex) {
    KELVO_TRACE_SCOPE();
    diag::DebugOut("DEBUG: Converting " + std::string(hex) + " to friendly SID...\n");
    const std::vector<std::uint8_t> bytes = HexStrToBin(hex, false);
    diag::DebugOut("DEBUG: iSize = " + std::to_string(bytes.size()) + "\n");
    std::string text;
    if (GetTextualSid(bytes, text)) diag::DebugOut("DEBUG: textsid = " + text + "\n");
    return text;
}

bool StringSidToBin(std::string_view text, std::vector<std::uint8_t>& sid) {
    KELVO_TRACE_SCOPE();
    sid.clear();
    TokenVector parts;
    GetTokens(text, "-", parts);
    // "S", revision, authority, then the sub-authorities.
    if (parts.size() < 3 || parts.size() > 3 + kSidMaxSubAuthorities) return false;
    if (text.back() == '-' || !IEquals(parts[0], "S")) return false;
    std::uint64_t revision = 0;
    if (!ParseNumber(parts[1], 10, revision) || revision != kSidRevision) return false;

    std::uint64_t authority = 0;
    const std::string& auth = parts[2];
    if (IStartsWith(auth, "0x")) {
        if (auth.size() > 14 || !ParseNumber(std::string_view(auth).substr(2), 16, authority))
            return false;
    } else if (!ParseNumber(auth, 10, authority)) {
        return false;
    }
    if (authority > 0xFFFFFFFFFFFFull) return false;

    std::vector<std::uint8_t> out;
    out.reserve(kSidHeaderSize + (parts.size() - 3) * 4);
    out.push_back(kSidRevision);
    out.push_back(static_cast<std::uint8_t>(parts.size() - 3));
    for (int shift = 40; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(authority >> shift));
    for (std::size_t i = 3; i < parts.size(); ++i) {
        std::uint64_t sub = 0;
        if (!ParseNumber(parts[i], 10, sub) || sub > 0xFFFFFFFFull) return false;
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<std::uint8_t>(sub >> shift));
    }
    sid = std::move(out);
    return true;
}
