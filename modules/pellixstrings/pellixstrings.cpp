#include "pellixstrings.h"

#include "Diag.h"
#include "Platform.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>

namespace {

constexpr std::size_t kLongText = 1024;

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// One pass over the text, left to right: every non-overlapping occurrence of
// find is written as the replacement into a single output buffer, so text a
// replacement inserts is never searched.  With ignoreCase the search runs on
// ASCII-lowercased copies, which keep every position.  An empty find changes
// nothing.
std::string ReplaceEvery(std::string_view text, std::string_view find, std::string_view replacement,
                         bool ignoreCase) {
    if (find.empty()) return std::string(text);
    std::string lowerText;
    std::string lowerFind;
    std::string_view search = text;
    if (ignoreCase) {
        lowerText = StrToLower(text);
        lowerFind = StrToLower(find);
        search = lowerText;
        find = lowerFind;
    }
    std::string result;
    result.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit = search.find(find); hit != std::string_view::npos;
         hit = search.find(find, pos)) {
        result.append(text.substr(pos, hit - pos));
        result.append(replacement);
        pos = hit + find.size();
    }
    result.append(text.substr(pos));
    return result;
}

// Field width and precision of HexStr are capped, so that the text always
// fits HexStr's buffer: 32 digits plus the "0X" of the '#' flag.
constexpr unsigned kMaxHexField = 32;

// Digits of a width or precision, from i on: false when the number is above
// kMaxHexField.
bool ScanFieldNumber(std::string_view width, std::size_t& i) {
    unsigned number = 0;
    while (i < width.size() && std::isdigit(static_cast<unsigned char>(width[i]))) {
        number = number * 10 + static_cast<unsigned>(width[i] - '0');
        if (number > kMaxHexField) return false;
        ++i;
    }
    return true;
}

// The width text of HexStr may only hold printf flags, a width and a
// precision, each number at most kMaxHexField.
bool IsPrintfWidth(std::string_view width) {
    std::size_t i = 0;
    while (i < width.size() && std::string_view("-+ #0").find(width[i]) != std::string_view::npos)
        ++i;
    if (!ScanFieldNumber(width, i)) return false;
    if (i < width.size() && width[i] == '.') {
        ++i;
        if (!ScanFieldNumber(width, i)) return false;
    }
    return i == width.size() && width.size() < 16;
}

constexpr std::string_view kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kDigits = "0123456789";
constexpr std::string_view kSpecial = "!@#$%*_-=+:;{}[],.?|~";
constexpr std::string_view kHex = "0123456789ABCDEF";

// Default password alphabet: no look-alike letters.
constexpr std::string_view kPwUpper = "ABCDEFGHJKLMNPQRTUVWXYZ";
constexpr std::string_view kPwLower = "abcdefghjkmnpqrtuvwxyz";
constexpr std::string_view kPwDigits = "0123456789";
constexpr std::string_view kPwSpecial = "#%_-=+:;{}[],.?~";

struct CharClass {
    std::string_view keyword;
    std::string_view chars;
};
constexpr CharClass kCharClasses[] = {
    {"uc", kUpper}, {"lc", kLower}, {"num", kDigits}, {"spec", kSpecial}, {"hex", kHex},
};

char RandomChar(std::string_view set) {
    return set[platform::SecureUniform(static_cast<std::uint32_t>(set.size()))];
}

} // namespace

// --- Tokenizers -------------------------------------------------------------

std::size_t GetTokens(std::string_view text, std::string_view delim, TokenVector& out,
                      std::size_t maxSplits) {
    KELVO_TRACE_SCOPE();
    if (text.empty()) return 0;
    if (!delim.empty()) {
        for (std::size_t hit = text.find(delim); hit != std::string_view::npos && maxSplits != 0;
             hit = text.find(delim)) {
            out.emplace_back(text.substr(0, hit));
            text.remove_prefix(hit + delim.size());
            --maxSplits;
        }
    }
    if (!text.empty()) out.emplace_back(text);
    return out.size();
}

std::size_t GetXTokens(std::string_view text, std::string_view delim, TokenVector& out,
                       std::size_t count) {
    KELVO_TRACE_SCOPE();
    if (count == 0) count = 1;
    GetTokens(text, delim, out, count - 1);
    if (out.size() < count) out.resize(count);
    if (out.size() > count) {
        std::string& last = out[count - 1];
        for (std::size_t i = count; i < out.size(); ++i) {
            last.append(delim);
            last.append(out[i]);
        }
        out.resize(count);
    }
    return count;
}

std::size_t GetTokensQuoted(std::string_view text, std::string_view delim, TokenVector& out) {
    KELVO_TRACE_SCOPE();
    if (text.empty()) return 0;
    bool inQuotes = false;
    std::string piece;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
            piece.push_back(c);
        } else if (!inQuotes && !delim.empty() && c == delim.front()) {
            out.push_back(std::move(piece));
            piece.clear();
        } else {
            piece.push_back(c);
        }
    }
    if (!piece.empty()) out.push_back(std::move(piece));
    return out.size();
}

std::size_t GetSizedTokens(std::string_view text, std::size_t size, TokenVector& out) {
    KELVO_TRACE_SCOPE();
    if (size == 0) size = text.size();
    while (!text.empty() && text.size() >= size) {
        out.emplace_back(text.substr(0, size));
        text.remove_prefix(size);
    }
    if (!text.empty()) out.emplace_back(text);
    return out.size();
}

bool CmpSizedTokens(std::string_view a, std::string_view b, std::size_t size, bool ignoreCase) {
    KELVO_TRACE_SCOPE();
    auto canonical = [&](std::string_view s) {
        TokenVector pieces;
        if (ignoreCase) {
            GetSizedTokens(StrToUpper(s), size, pieces);
        } else {
            GetSizedTokens(s, size, pieces);
        }
        std::sort(pieces.begin(), pieces.end());
        return JoinTokens("", pieces);
    };
    return canonical(a) == canonical(b);
}

// --- Case and replacement ---------------------------------------------------

std::string StrToLower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(), LowerAscii);
    return s;
}

std::string StrToUpper(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(), UpperAscii);
    return s;
}

bool IEquals(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

bool IStartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && IEquals(text.substr(0, prefix.size()), prefix);
}

bool IContains(std::string_view text, std::string_view needle) {
    return IFind(text, needle) != std::string_view::npos;
}

std::size_t IFind(std::string_view text, std::string_view needle) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    const auto it = std::search(text.begin(), text.end(), needle.begin(), needle.end(), same);
    return it == text.end() && !needle.empty() ? std::string_view::npos
                                               : static_cast<std::size_t>(it - text.begin());
}

std::string StrReplaceFirst(std::string_view text, std::string_view find,
                            std::string_view replacement, bool ignoreCase) {
    KELVO_TRACE_SCOPE();
    std::string result(text);
    if (find.empty()) return result;
    const std::size_t pos =
        ignoreCase ? StrToLower(text).find(StrToLower(find)) : result.find(find);
    if (pos != std::string::npos) result.replace(pos, find.size(), replacement);
    return result;
}

void StrReplaceFirstInPlace(std::string& text, std::string_view find,
                            std::string_view replacement) {
    KELVO_TRACE_SCOPE();
    if (find.empty()) return;
    const std::size_t pos = text.find(find);
    if (pos != std::string::npos) text.replace(pos, find.size(), replacement);
}

std::string StrReplaceAll(std::string_view text, std::string_view find,
                          std::string_view replacement, bool ignoreCase) {
    KELVO_TRACE_SCOPE();
    if (text.empty() || find.empty()) return std::string(text);
    if (text.size() > kLongText) {
        // The long-text path is taken (exact case) only when find occurs at all.
        const bool present = ignoreCase ? IContains(text, find) : text.find(find) != text.npos;
        if (!present) return std::string(text);
        return StrReplaceAll_largestring(find, replacement, text);
    }
    return ReplaceEvery(text, find, replacement, ignoreCase);
}

std::string StrReplaceAll_largestring(std::string_view find, std::string_view replacement,
                                      std::string_view text) {
    KELVO_TRACE_SCOPE();
    return ReplaceEvery(text, find, replacement, false);
}

void StrReplaceAllEx(std::string& text, std::string_view find, std::string_view replacement) {
    KELVO_TRACE_SCOPE();
    if (text.empty() || find.empty() || text.find(find) == std::string::npos) return;
    if (text.size() > kLongText) {
        StrReplaceAllEx_largestring(text, find, replacement);
        return;
    }
    text = ReplaceEvery(text, find, replacement, false);
}

void StrReplaceAllEx_largestring(std::string& text, std::string_view find,
                                 std::string_view replacement) {
    KELVO_TRACE_SCOPE();
    if (text.empty() || find.empty() || text.find(find) == std::string::npos) return;
    text = ReplaceEvery(text, find, replacement, false);
}

// --- Hex and numbers --------------------------------------------------------

std::vector<std::uint8_t> HexStrToBin(std::string_view hex, bool pairSwap) {
    KELVO_TRACE_SCOPE();
    diag::TraceOut("DEBUG: Converting " + std::string(hex) + " to binary... (" +
                   std::to_string(hex.size()) + ")\n");
    std::string digits(hex);
    if (pairSwap) {
        if (digits.size() % 4 != 0) return {};
        for (std::size_t i = 0; i < digits.size(); i += 4) {
            std::swap(digits[i], digits[i + 2]);
            std::swap(digits[i + 1], digits[i + 3]);
        }
    }
    if (digits.size() % 2 != 0 || digits.size() < 2) return {};

    const std::size_t n = digits.size() / 2;
    diag::TraceOut("DEBUG: Size = " + std::to_string(n) + "\n");
    std::vector<std::uint8_t> bytes(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        // Scanned like "%x": leading blanks, a sign or a lone first digit all
        // behave as the C library reads them; a pair that does not scan is 0.
        const char pair[3] = {digits[2 * i], digits[2 * i + 1], '\0'};
        unsigned int value = 0;
        if (std::sscanf(pair, "%x", &value) != 1) value = 0;
        bytes[i] = static_cast<std::uint8_t>(value & 0xFFu);
    }
    return bytes;
}

std::string HexStr(std::string_view width, std::uint32_t value) {
    // "%" + width + "X", built in place: the width is under 16 characters.
    char format[20] = "%";
    std::size_t used = 1;
    if (IsPrintfWidth(width)) {
        width.copy(format + used, width.size());
        used += width.size();
    }
    format[used++] = 'X';
    format[used] = '\0';
    char buf[64] = "0x";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int written =
        std::snprintf(buf + 2, sizeof buf - 2, format, static_cast<unsigned int>(value));
#pragma GCC diagnostic pop
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof buf - 2) return {};
    return std::string(buf, 2 + static_cast<std::size_t>(written));
}

std::string ultostr(std::uint32_t value, unsigned radix) {
    if (radix < 2 || radix > 36) return {};
    char buf[33]; // 32 binary digits at most
    const auto end = std::to_chars(buf, buf + sizeof buf, value, static_cast<int>(radix)).ptr;
    return std::string(buf, end);
}

std::string ltostr(std::int32_t value) {
    return std::to_string(value);
}

std::string BoolToStr(bool flag) {
    return flag ? "TRUE" : "FALSE";
}

// --- Other helpers ----------------------------------------------------------

std::string StripQuotes(std::string_view text, char quote) {
    if (text.size() >= 2 && text.front() == quote && text.back() == quote) {
        text.remove_prefix(1);
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string EscapeValueQuotes(std::string_view text) {
    const std::size_t eq = text.find('=');
    const std::size_t start = eq == std::string_view::npos ? 0 : eq + 1;
    if (text.find('"', start) == std::string_view::npos) return std::string(text);
    std::string result(text.substr(0, start));
    result.reserve(text.size() + 8);
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] == '"' && i > 0 && text[i - 1] != '\\') result.push_back('\\');
        result.push_back(text[i]);
    }
    return result;
}

std::string JoinTokens(std::string_view delim, const TokenVector& pieces) {
    std::string result;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i != 0) result.append(delim);
        result.append(pieces[i]);
    }
    return result;
}

std::string TrimWhite(std::string_view text) {
    constexpr std::string_view kWhite = " \t\r\n\f\v";
    const std::size_t first = text.find_first_not_of(kWhite);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kWhite);
    return std::string(text.substr(first, last - first + 1));
}

std::size_t ArgvToVector(const char* const* list, TokenVector& out) {
    if (list != nullptr) {
        for (; *list != nullptr; ++list)
            out.emplace_back(*list);
    }
    return out.size();
}

// --- Console input ----------------------------------------------------------

bool ReadSecret(std::string_view prompt, std::string& out, const KeyReader& readKey) {
    KELVO_TRACE_SCOPE();
    diag::Err(prompt);
    out.clear();
    for (;;) {
        const int key = readKey();
        switch (key) {
        case 13:
            diag::Err("\n");
            return true;
        case 3:
        case 27:
            diag::Err("\n");
            return false;
        case 8:
            if (out.empty()) {
                diag::Err("\a");
            } else {
                diag::Err("\b \b");
                out.pop_back();
            }
            break;
        default:
            if (key >= 0 && key <= 255 && std::isprint(key)) {
                diag::Err(".");
                out.push_back(static_cast<char>(key));
            } else {
                diag::Err("\a");
            }
            break;
        }
    }
}

bool GetPassword(std::string& out) {
    KELVO_TRACE_SCOPE();
    return ReadSecret("Enter Password: ", out, platform::ReadKeyNoEcho);
}

bool GetSecureString(std::string_view name, std::string& out) {
    KELVO_TRACE_SCOPE();
    return ReadSecret("Enter Secure Value for [" + std::string(name) + "]: ", out,
                      platform::ReadKeyNoEcho);
}

// --- Random text ------------------------------------------------------------

std::string RandomString(unsigned minLen, unsigned maxLen, std::string_view chars) {
    KELVO_TRACE_SCOPE();
    diag::DebugOut("DEBUG: min=" + std::to_string(minLen) + "\n");
    diag::DebugOut("DEBUG: max=" + std::to_string(maxLen) + "\n");
    diag::DebugOut("DEBUG: chars=" + std::string(chars) + "\n");

    if (minLen == 0) minLen = 15;
    if (maxLen == 0) maxLen = 25;
    std::size_t length = minLen;
    if (minLen < maxLen) length += platform::SecureUniform(maxLen - minLen);

    std::string set(chars);
    if (set.find("__") != std::string::npos) {
        TokenVector keywords;
        GetTokens(StrToLower(set), "__", keywords);
        set.clear();
        for (const std::string& keyword : keywords) {
            for (const CharClass& cls : kCharClasses) {
                if (keyword == cls.keyword) set.append(cls.chars);
            }
        }
    }

    std::string result;
    result.reserve(length + 5);
    if (set.empty()) {
        result.push_back(RandomChar(kPwUpper));
        result.push_back(RandomChar(kPwLower));
        result.push_back(RandomChar(kPwDigits));
        result.push_back(RandomChar(kPwSpecial));
        set = std::string(kPwUpper) + std::string(kPwLower) + std::string(kPwDigits) +
              std::string(kPwSpecial);
    }
    diag::DebugOut("DEBUG: Random Character Set: [" + set + "]\n");

    for (std::size_t i = 0; i < length + 1; ++i)
        result.push_back(RandomChar(set));
    result.resize(length);
    return result;
}

std::string EscapeFilterValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
        case '*':
            out += "\\2a";
            break;
        case '(':
            out += "\\28";
            break;
        case ')':
            out += "\\29";
            break;
        case '\\':
            out += "\\5c";
            break;
        case '\0':
            out += "\\00";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        out.push_back(kBase64Alphabet[(bits >> 18) & 63]);
        out.push_back(kBase64Alphabet[(bits >> 12) & 63]);
        out.push_back(n > 1 ? kBase64Alphabet[(bits >> 6) & 63] : '=');
        out.push_back(n > 2 ? kBase64Alphabet[bits & 63] : '=');
    }
    return out;
}

bool Base64Decode(std::string_view in, std::string& out) {
    out.clear();
    if (in.size() % 4 != 0) return false;
    out.reserve(in.size() / 4 * 3);
    for (std::size_t i = 0; i < in.size(); i += 4) {
        const bool last = i + 4 == in.size();
        int pad = 0;
        if (last && in[i + 3] == '=') pad = in[i + 2] == '=' ? 2 : 1;
        int v[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4 - pad; ++k) {
            v[k] = Base64Value(in[i + static_cast<std::size_t>(k)]);
            if (v[k] < 0) return false;
        }
        const std::uint32_t n =
            (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
            (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
        if (pad == 2 && (n & 0xFFFF) != 0) return false;
        if (pad == 1 && (n & 0xFF) != 0) return false;
        out.push_back(static_cast<char>(n >> 16));
        if (pad < 2) out.push_back(static_cast<char>((n >> 8) & 0xFF));
        if (pad < 1) out.push_back(static_cast<char>(n & 0xFF));
    }
    return true;
}
