#include "LdifInput.h"

#include "Utf16.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

// "name:" or "name;option:" as attribute lines (and change records) start:
// an attribute type name or OID, options, then a colon.
bool IsAttributeLine(std::string_view line) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    const auto isAlnum = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    if (!isAlnum(line.front())) return false;
    for (std::size_t i = 0; i < colon; ++i)
        if (!isAlnum(line[i]) && line[i] != '-' && line[i] != ';' && line[i] != '.') return false;
    return true;
}

std::string_view SkipSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

constexpr std::string_view kBase64Chars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> Base64Table() {
    std::array<std::int8_t, 256> t{};
    for (auto& v : t)
        v = -1;
    for (std::size_t i = 0; i < kBase64Chars.size(); ++i)
        t[static_cast<unsigned char>(kBase64Chars[i])] = static_cast<std::int8_t>(i);
    return t;
}

constexpr auto kBase64Table = Base64Table();

} // namespace

bool IsLdifStart(std::string_view line) {
    return StartsWithNoCase(line, "version:") || StartsWithNoCase(line, "dn:");
}

bool DecodeBase64(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() % 4 != 0) return false;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + static_cast<std::size_t>(k)];
            if (c == '=') {
                // Padding: only the last one or two characters of the text.
                if (!last || k < 2) return false;
                ++padding;
                v[k] = 0;
                continue;
            }
            if (padding != 0) return false;
            v[k] = kBase64Table[static_cast<unsigned char>(c)];
            if (v[k] < 0) return false;
        }
        const std::uint32_t bits =
            (static_cast<std::uint32_t>(v[0]) << 18) | (static_cast<std::uint32_t>(v[1]) << 12) |
            (static_cast<std::uint32_t>(v[2]) << 6) | static_cast<std::uint32_t>(v[3]);
        out.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (padding < 2) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (padding < 1) out.push_back(static_cast<char>(bits & 0xFF));
    }
    return true;
}

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t bits = 0;
        for (std::size_t k = 0; k < 3; ++k)
            bits = (bits << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        out.push_back(kBase64Chars[(bits >> 18) & 63]);
        out.push_back(kBase64Chars[(bits >> 12) & 63]);
        out.push_back(n > 1 ? kBase64Chars[(bits >> 6) & 63] : '=');
        out.push_back(n > 2 ? kBase64Chars[bits & 63] : '=');
    }
    return out;
}

std::string LdifDnLine(std::string_view dn) {
    bool safe = !dn.empty() && dn.front() != ' ' && dn.front() != ':' && dn.front() != '<' &&
                dn.back() != ' ';
    for (const char c : dn) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0 || b == '\n' || b == '\r' || b >= 0x80) safe = false;
    }
    if (dn.empty()) return "dn:";
    return safe ? "dn: " + std::string(dn) : "dn:: " + EncodeBase64(dn);
}

LdifReader::LdifReader(LineReader& in, std::size_t limit) : in_(in), limit_(limit) {}

void LdifReader::PushBack(std::string line, LineFlaw flaw, std::uint64_t number) {
    if (line.ends_with('\n')) line.pop_back();
    if (line.ends_with('\r')) line.pop_back();
    next_.text = std::move(line);
    next_.flaw = flaw;
    next_.number = number;
    haveNext_ = true;
}

bool LdifReader::Load() {
    if (haveNext_) return true;
    if (endOfInput_) return false;
    LineFlaw flaw = LineFlaw::None;
    if (!in_.Next(next_.text, flaw)) {
        endOfInput_ = true;
        return false;
    }
    // Lines end in LF or CRLF.
    if (next_.text.ends_with('\n')) next_.text.pop_back();
    if (next_.text.ends_with('\r')) next_.text.pop_back();
    next_.flaw = flaw;
    next_.number = in_.LineNumber();
    haveNext_ = true;
    return true;
}

bool LdifReader::Unfold(std::string& logical, bool keep, bool& flawed) {
    bool fits = true;
    while (Load()) {
        if (next_.flaw == LineFlaw::Overlong) {
            // Its text is gone, so whether it continues the line is unknown:
            // a line that is kept cannot be trusted to be complete.
            if (!keep) break;
            haveNext_ = false;
            fits = false;
            continue;
        }
        if (next_.text.empty() || next_.text.front() != ' ') break;
        if (next_.flaw == LineFlaw::Nul) flawed = true;
        if (keep && fits) {
            if (logical.size() + next_.text.size() - 1 > limit_) {
                fits = false;
                std::string().swap(logical);
            } else {
                logical.append(next_.text, 1);
            }
        }
        haveNext_ = false;
    }
    return fits;
}

bool LdifReader::DnItem(const std::string& logical, std::uint64_t number, bool flawed,
                        LdifItem& item) {
    item.line = number;
    const auto refuse = [&](std::string why, bool keepText) {
        item.kind = LdifItem::Kind::Refused;
        item.why = std::move(why);
        if (keepText) item.text = logical;
        return true;
    };
    if (flawed) return refuse("holds a NUL byte", false);
    const std::string_view rest = std::string_view(logical).substr(3);
    std::string dn;
    if (rest.starts_with(':')) {
        std::string_view encoded = SkipSpaces(rest.substr(1));
        while (!encoded.empty() && encoded.back() == ' ')
            encoded.remove_suffix(1);
        if (!DecodeBase64(encoded, dn))
            return refuse("holds invalid base64 in its dn:: line", true);
    } else if (rest.starts_with('<')) {
        return refuse("names its DN by a URL (dn:<), which Kelvo does not read", true);
    } else {
        dn = SkipSpaces(rest);
    }
    if (dn.find('\0') != std::string::npos) return refuse("has a DN with a NUL byte", true);
    if (!IsValidUtf8(dn)) return refuse("has a DN that is not UTF-8 text", true);
    if (dn.empty()) return refuse("has an empty DN (the root DSE: use -b rootdse)", true);
    item.kind = LdifItem::Kind::Entry;
    item.dn = std::move(dn);
    return true;
}

bool LdifReader::Next(LdifItem& item) {
    item = LdifItem{};
    for (;;) {
        if (!Load()) return false;
        const std::uint64_t number = next_.number;
        bool flawed = next_.flaw == LineFlaw::Nul;
        std::string dropped;
        if (next_.flaw == LineFlaw::Overlong) {
            haveNext_ = false;
            item.kind = LdifItem::Kind::Refused;
            item.line = number;
            item.why = "is longer than " + std::to_string(kLineBufferSize) + " bytes";
            return true;
        }
        const std::string_view text = next_.text;
        if (text.empty()) {
            // An empty line ends the record.
            haveNext_ = false;
            record_ = Record::None;
            continue;
        }
        if (text.front() == '#') {
            haveNext_ = false;
            Unfold(dropped, false, flawed);
            continue;
        }
        if (StartsWithNoCase(text, "dn:")) {
            std::string logical = std::move(next_.text);
            haveNext_ = false;
            if (!Unfold(logical, true, flawed)) {
                item.kind = LdifItem::Kind::Refused;
                item.line = number;
                item.why = "has a dn: line longer than " + std::to_string(limit_) + " bytes";
                if (record_ == Record::None) record_ = Record::Entry;
                return true;
            }
            if (record_ != Record::None) {
                // One entry, one DN: a second dn: line means a missing empty
                // line or a broken entry.
                item.kind = LdifItem::Kind::Refused;
                item.line = number;
                item.why = "is a second dn: line in one entry (no empty line before it)";
                if (!flawed) item.text = std::move(logical);
                return true;
            }
            record_ = Record::Entry;
            return DnItem(logical, number, flawed, item);
        }
        if (record_ == Record::None && StartsWithNoCase(text, "version:")) {
            haveNext_ = false;
            Unfold(dropped, false, flawed);
            continue;
        }
        if (record_ == Record::None &&
            (StartsWithNoCase(text, "search:") || StartsWithNoCase(text, "ref:"))) {
            // The records a search client adds: the result and referrals.
            haveNext_ = false;
            Unfold(dropped, false, flawed);
            record_ = Record::Other;
            continue;
        }
        if (record_ != Record::Entry && StartsWithNoCase(text, "result:")) {
            std::string logical = std::move(next_.text);
            haveNext_ = false;
            const bool fits = Unfold(logical, true, flawed);
            record_ = Record::Other;
            std::string_view value = SkipSpaces(std::string_view(logical).substr(7));
            if (fits && (value == "0" || value.starts_with("0 "))) continue;
            item.kind = LdifItem::Kind::SearchResult;
            item.line = number;
            item.why = fits ? std::string(value) : std::string("(too long to show)");
            return true;
        }
        if (record_ != Record::None && (text == "-" || IsAttributeLine(text))) {
            haveNext_ = false;
            Unfold(dropped, false, flawed);
            continue;
        }
        haveNext_ = false;
        Unfold(dropped, false, flawed);
        item.kind = LdifItem::Kind::Refused;
        item.line = number;
        item.why = record_ == Record::None ? "is not LDIF (an entry starts with a dn: line)"
                                           : "is not an LDIF attribute line";
        return true;
    }
}
