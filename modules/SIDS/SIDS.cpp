#include "SIDS.h"

#include "Sid.h"

#include "Diag.h"
#include "pellixstrings.h"

namespace {

namespace sec = platform::security;

// The text of a SID, or the invalid-SID text when it is none.
bool TextualSid(std::span<const std::uint8_t> sid, std::string& text) {
    if (!sec::ConvertSidToStringSid(sid, text).ok()) {
        text = kInvalidSidText;
        return false;
    }
    return true;
}

} // namespace

bool IsValidSid(std::span<const std::uint8_t> sid) {
    return sec::IsValidSid(sid);
}

std::size_t GetLengthSid(std::span<const std::uint8_t> sid) {
    return sec::GetLengthSid(sid);
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
    return sec::ConvertStringSidToSid(text, sid).ok();
}
