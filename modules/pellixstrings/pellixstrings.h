// Kelvo's small string library: tokenizers, case conversion, search and
// replace, hex and number text, hidden console input and random strings.
//
// All functions work on narrow (UTF-8) text.  Tokenizers append to the vector
// they are given and return the vector's total size afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

using TokenVector = std::vector<std::string>;

inline constexpr std::size_t kMaxSplits = 0xFFFF;

// --- Tokenizers -------------------------------------------------------------

// Split on every occurrence of `delim` (matched exactly, may be several
// characters), at most `maxSplits` times.  Empty pieces between delimiters are
// kept; a trailing empty piece is never produced.  Empty text appends nothing
// and returns 0.
std::size_t GetTokens(std::string_view text, std::string_view delim, TokenVector& out,
                      std::size_t maxSplits = kMaxSplits);

// Exactly `count` pieces: splits count-1 times, pads with empty pieces, and
// folds surplus elements (when `out` was not empty) into the last kept one.
std::size_t GetXTokens(std::string_view text, std::string_view delim, TokenVector& out,
                       std::size_t count);

// Split on the first character of `delim` outside double quotes; quotes are
// kept in the pieces.
std::size_t GetTokensQuoted(std::string_view text, std::string_view delim, TokenVector& out);

// Fixed-width pieces of `size` characters (the remainder as a shorter piece).
std::size_t GetSizedTokens(std::string_view text, std::size_t size, TokenVector& out);

// True when a and b hold the same fixed-width pieces in any order.
bool CmpSizedTokens(std::string_view a, std::string_view b, std::size_t size, bool ignoreCase);

// --- Case and replacement ---------------------------------------------------

std::string StrToLower(std::string_view text);        // ASCII letters only
std::string StrToUpper(std::string_view text);        // ASCII letters only
bool IEquals(std::string_view a, std::string_view b); // ASCII case-insensitive
bool IStartsWith(std::string_view text, std::string_view prefix);
bool IContains(std::string_view text, std::string_view needle);
// Where `needle` starts in `text`, ASCII case ignored; npos when it does not
// occur (0 for an empty needle).
std::size_t IFind(std::string_view text, std::string_view needle);

std::string StrReplaceFirst(std::string_view text, std::string_view find,
                            std::string_view replacement, bool ignoreCase);
void StrReplaceFirstInPlace(std::string& text, std::string_view find, std::string_view replacement);
// Texts of more than 1024 characters always take the exact-case long-text
// path.  With ignoreCase, occurrences in a different case are replaced too.
std::string StrReplaceAll(std::string_view text, std::string_view find,
                          std::string_view replacement, bool ignoreCase);
std::string StrReplaceAll_largestring(std::string_view find, std::string_view replacement,
                                      std::string_view text);
void StrReplaceAllEx(std::string& text, std::string_view find, std::string_view replacement);
void StrReplaceAllEx_largestring(std::string& text, std::string_view find,
                                 std::string_view replacement);

// --- Hex and numbers --------------------------------------------------------

// Hex text to bytes.  With pairSwap every group of four digits ABCD is read as
// CDAB (big-endian UTF-16 text to little-endian bytes); a length that is not a
// multiple of 4 then gives an empty result.  An odd length or fewer than two
// digits converts nothing.  A pair that does not scan gives 0.
std::vector<std::uint8_t> HexStrToBin(std::string_view hex, bool pairSwap);

// "0x" + value in upper-case hex formatted with "%<width>X" (e.g. width "08").
// A width that is not printf flags, width and precision (each at most 32) is
// ignored.
std::string HexStr(std::string_view width, std::uint32_t value);
std::string ultostr(std::uint32_t value, unsigned radix = 10);
std::string ltostr(std::int32_t value);
std::string BoolToStr(bool flag); // "TRUE" / "FALSE"

// --- Other helpers ----------------------------------------------------------

// Removes enclosing quote characters from a text that begins and ends with
// `quote` (length >= 2).  A text that only begins with the quote is returned
// unchanged.
std::string StripQuotes(std::string_view text, char quote = '"');
// Escapes every double quote after the first '=' that is not already preceded
// by a backslash (a quote as the very first character is left alone).
std::string EscapeValueQuotes(std::string_view text);
std::string JoinTokens(std::string_view delim, const TokenVector& pieces);
std::string TrimWhite(std::string_view text);
// Appends every text of a null-terminated list; returns the vector's size.
std::size_t ArgvToVector(const char* const* list, TokenVector& out);

// --- Console input ----------------------------------------------------------

// Prompts "Enter Password: " on standard error and reads keys without echo
// (one '.' per character).  True when ended with Enter, false when cancelled
// with Ctrl+C or Esc.
bool GetPassword(std::string& out);
// Same with the prompt "Enter Secure Value for [<name>]: ".
bool GetSecureString(std::string_view name, std::string& out);
// The loop behind both: writes `prompt`, then reads keys from `readKey`
// (13 Enter, 3 or 27 cancel, 8 Backspace) until Enter or cancel.
using KeyReader = std::function<int()>;
bool ReadSecret(std::string_view prompt, std::string& out, const KeyReader& readKey);

// --- Random text ------------------------------------------------------------

// Random text of minLen..maxLen-1 characters (0 means 15 / 25) drawn
// uniformly from a cryptographically secure source.  `chars` is a character
// set, a "__"-separated list of class keywords (uc, lc, num, spec, hex), or
// empty for the default password alphabet (first four characters: upper,
// lower, digit, special).
std::string RandomString(unsigned minLen, unsigned maxLen, std::string_view chars);

// A value as an assertion value of a search filter (RFC 4515 3): '*', '(',
// ')', '\' and NUL become "\2a", "\28", "\29", "\5c" and "\00"; every other
// byte is kept, so UTF-8 text passes unchanged.
std::string EscapeFilterValue(std::string_view value);

// Base64 (RFC 4648, with padding).  Decoding is strict: whole quads, padding
// only at the end and zero bits in the unused part of the last character, so
// each byte string has exactly one text form.
std::string Base64Encode(std::string_view bytes);
bool Base64Decode(std::string_view text, std::string& out);
