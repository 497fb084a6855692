// Security identifiers (SIDs) in their binary and text forms.
//
// Binary layout: revision byte, sub-authority count byte, 6-byte identifier
// authority (big-endian), then `count` 32-bit little-endian sub-authorities.
// Text form: "S-1-<authority>-<sub>-<sub>...".
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kInvalidSidText = "The security ID structure is invalid.";

// True when the bytes start with a well-formed SID: revision 1, at most 15
// sub-authorities, and enough bytes for all of them (extra bytes are ignored).
bool IsValidSid(std::span<const std::uint8_t> sid);

// Byte length of a valid SID (8 + 4 * count); 0 for an invalid one.
std::size_t GetLengthSid(std::span<const std::uint8_t> sid);

// Text form of a SID ("S-1-5-32-544").  An invalid SID sets `text` to
// kInvalidSidText and returns false.
bool GetTextualSid(std::span<const std::uint8_t> sid, std::string& text);

// Same result through the conversion the rest of the program treats as the
// system's (kept as a separate entry point for the descriptor scoring, which
// calls it by that name).
bool GetTextualSid2(std::span<const std::uint8_t> sid, std::string& text);

// SID written as hex bytes (as directory tools show binary attributes) to its
// text form; an unusable value gives kInvalidSidText.
std::string HexSidToStrSid(std::string_view hex);

// Text form ("S-1-..."; the "S" in either case, the authority in decimal or as
// "0x" + up to 12 hex digits) to binary.  False, with `sid` cleared, when the
// text is not a SID.
bool StringSidToBin(std::string_view text, std::vector<std::uint8_t>& sid);
