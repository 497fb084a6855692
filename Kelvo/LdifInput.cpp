#include "LdifInput.h"

#include "LdifWriter.h"
#include "pellixstrings.h"

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

} // namespace

bool IsLdifStart(std::string_view line) {
    return StartsWithNoCase(line, "version:") || StartsWithNoCase(line, "dn:");
}

std::string LdifDnLine(std::string_view dn) {
    std::string line = LdifLine("dn", dn);
    line.pop_back(); // the line end
    return line;
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
        if (!Base64Decode(encoded, dn))
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
