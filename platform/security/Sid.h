// Security identifiers (MS-DTYP 2.4.2) as a value, in binary and in text.
//
// Binary: revision byte (1), sub-authority count byte (at most 15), 6-byte
// identifier authority (big-endian), then `count` 32-bit little-endian
// sub-authorities.
// Text: "S-1-<authority>-<sub>...", the authority in decimal below 2^32 and
// otherwise as "0x" + 12 hex digits.
#pragma once

#include "SecurityStatus.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::security {

inline constexpr std::uint8_t kSidRevision = 1;
inline constexpr std::size_t kSidMaxSubAuthorities = 15;
inline constexpr std::uint64_t kSidMaxAuthority = 0xFFFFFFFFFFFFull;

struct Sid {
    std::uint64_t authority = 0; // 48 bits
    std::vector<std::uint32_t> subAuthorities;

    bool operator==(const Sid&) const = default;
};

// True when the bytes start with a well-formed SID (extra bytes are ignored).
[[nodiscard]] bool IsValidSid(std::span<const std::uint8_t> bytes);

// Byte length of the SID the bytes start with; 0 when it is not valid.
[[nodiscard]] std::size_t GetLengthSid(std::span<const std::uint8_t> bytes);

// Reads the SID the bytes start with.  1337 when they hold none.
[[nodiscard]] SecurityStatus DecodeSid(std::span<const std::uint8_t> bytes, Sid& sid);

// Binary form; the SID must hold at most 15 sub-authorities.
void AppendSid(const Sid& sid, std::vector<std::uint8_t>& out);
[[nodiscard]] std::vector<std::uint8_t> EncodeSid(const Sid& sid);

// Text form, formatted as GetTextualSid does.
[[nodiscard]] std::string FormatSid(const Sid& sid);

// Reads a SID from the start of the text and reports how many characters it
// took: "S" or "s", "-1-", the authority (decimal, or "0x" and 1 to 12 hex
// digits), then "-" and a decimal sub-authority up to 15 times.  The text may
// go on after the SID (as in "O:S-1-5-18G:BA").  1337 with the offset of the
// fault when the text does not start with a SID.
[[nodiscard]] SecurityStatus ScanSid(std::string_view text, Sid& sid, std::size_t& used);

// Whole text as one SID.
[[nodiscard]] SecurityStatus ParseSid(std::string_view text, Sid& sid);

// The two conversions by their system names, between text and bytes.
[[nodiscard]] SecurityStatus ConvertSidToStringSid(std::span<const std::uint8_t> bytes,
                                                   std::string& text);
[[nodiscard]] SecurityStatus ConvertStringSidToSid(std::string_view text,
                                                   std::vector<std::uint8_t>& bytes);

} // namespace platform::security
