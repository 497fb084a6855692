// The ACE modification language: "{+D=...}", "{-D=...}", "{+S=...}",
// "{-S=...}", "{+O=...}", "{+G=...}" after the descriptor text, and the
// removal and addition passes over an ACL's rows.
#include "CSDDL.h"
#include "Diag.h"
#include "SddlInternal.h"
#include "pellixstrings.h"

#include <algorithm>
#include <set>

namespace pxsddl {

namespace {

using detail::ReplaceAll;

void Debug(std::string_view text) {
    if (!diag::Debug()) return;
    std::string line(text);
    line += '\n';
    diag::DebugOut(line);
}

std::string Position(std::size_t pos) {
    return pos == std::string::npos ? std::string("-1") : std::to_string(pos);
}

// The rights a "GA" stands for on directory objects.
constexpr std::string_view kGenericAllRights = "CCDCLCSWRPWPDTLOCRSDRCWDWO";

// Two-letter codes in any order and any case; numeric masks compare whole.
bool SameCodes(std::string_view a, std::string_view b) {
    if (IStartsWith(a, "0X") || IStartsWith(b, "0X")) return IEquals(a, b);
    auto codes = [](std::string_view text) {
        std::set<std::string> out;
        const std::string upper = StrToUpper(text);
        for (std::size_t i = 0; i < upper.size(); i += 2)
            out.insert(upper.substr(i, 2));
        return out;
    };
    return codes(a) == codes(b);
}

bool SameRightsOrGenericAll(std::string_view pattern, std::string_view rights) {
    auto isAll = [](std::string_view r) {
        return IEquals(r, "GA") || SameCodes(r, kGenericAllRights);
    };
    if (IEquals(pattern, "GA") || IEquals(rights, "GA")) return isAll(pattern) && isAll(rights);
    return SameCodes(pattern, rights);
}

// The principal of a row: every field from the sixth on (an ACE with more
// fields keeps its ";" there).
std::string RowPrincipal(const AceRow& row) {
    std::string out;
    for (std::size_t i = 7; i < row.size(); ++i) {
        if (i != 7) out += ';';
        out += row[i];
    }
    return out;
}

// Six fields of a removal pattern; the last keeps any further ";".
std::vector<std::string> PatternFields(std::string_view ace) {
    auto fields = detail::SplitAll(ace, ";");
    if (fields.size() > 6) {
        for (std::size_t i = 6; i < fields.size(); ++i)
            fields[5] += ";" + fields[i];
        fields.resize(6);
    }
    fields.resize(6);
    return fields;
}

bool PatternMatches(const std::vector<std::string>& pattern, const AceRow& row) {
    auto wild = [](const std::string& field) { return field == "*"; };
    const std::string principal = RowPrincipal(row);
    return (wild(pattern[0]) || IEquals(pattern[0], row[2])) &&
           (wild(pattern[1]) || SameCodes(pattern[1], row[3])) &&
           (wild(pattern[2]) || SameRightsOrGenericAll(pattern[2], row[4])) &&
           (wild(pattern[3]) || IEquals(pattern[3], row[5])) &&
           (wild(pattern[4]) || IEquals(pattern[4], row[6])) &&
           (wild(pattern[5]) || IEquals(pattern[5], principal));
}

bool SameAce(const AceRow& a, const AceRow& b) {
    return IEquals(a[2], b[2]) && SameCodes(a[3], b[3]) && SameCodes(a[4], b[4]) &&
           IEquals(a[5], b[5]) && IEquals(a[6], b[6]) && IEquals(RowPrincipal(a), RowPrincipal(b));
}

} // namespace

void ACEMods(std::string& value, std::vector<std::string>& mods) {
    KELVO_TRACE_SCOPE();
    std::string work = value;
    ReplaceAll(work, "()", "(;;;;;)");
    const std::size_t firstPlus = work.find("{+");
    const std::size_t firstMinus = work.find("{-");
    Debug("DEBUG: firstplus = " + Position(firstPlus));
    Debug("DEBUG: firstminus= " + Position(firstMinus));
    if (firstPlus == std::string::npos && firstMinus == std::string::npos) {
        Debug("DEBUG: No ACE modifications detected in specified command.");
        return;
    }
    const std::size_t start = std::min(firstPlus, firstMinus);
    std::string modText = work.substr(start);
    value = work.substr(0, start);

    // "{{SID:name}}" wrappers keep their colon.
    ReplaceAll(modText, "SID:", "SIDXXX:");
    ReplaceAll(modText, "O:", "O=");
    ReplaceAll(modText, "G:", "G=");
    ReplaceAll(modText, "D:", "D=");
    ReplaceAll(modText, "S:", "S=");
    ReplaceAll(modText, "SIDXXX:", "SID:");

    // Outer braces of the whole run ("{+...}{-...}").
    modText.erase(0, 1);
    if (!modText.empty() && modText.back() == '}') modText.pop_back();
    auto tokens = detail::SplitAll(modText, "}{");

    std::string daclFlags;
    std::string saclFlags;
    for (auto& token : tokens) {
        const std::string written = token;
        if (token.find('(') == std::string::npos) token += "(;;;;;)";
        const std::size_t equal = token.find('=');
        const std::size_t open = token.find('(');
        Debug("DEBUG: firstequal= " + Position(equal));
        Debug("DEBUG: extrastart= " + Position(open));
        std::string flags;
        if (equal != std::string::npos && open > equal + 1) {
            flags = token.substr(equal + 1, open - equal - 1);
            token = token.substr(0, equal + 1) + token.substr(open);
        }
        const bool dacl = token.find("D=") != std::string::npos;
        const bool sacl = token.find("S=") != std::string::npos;
        if (!dacl && !sacl) {
            token = written;
            continue;
        }
        if (flags == "AI" || flags == "PAI") {
            if (dacl) daclFlags = flags;
            if (sacl) saclFlags = flags;
        } else if (!flags.empty()) {
            Debug("DEBUG: ACL flags other than AI or PAI are ignored in modifiers: " + flags);
        }
    }

    mods = {"O:", "G:", "D:", "D:" + daclFlags, "S:", "S:" + saclFlags};
    for (const auto& token : tokens) {
        const std::size_t equal = token.find('=');
        if (equal == std::string::npos) {
            Debug("DEBUG: Modifier without '=' ignored: " + token);
            continue;
        }
        const std::string key = token.substr(0, equal);
        const std::string text = token.substr(equal + 1);
        if (key.find("+O") != std::string::npos) mods[0] = "O:" + text;
        if (key.find("+G") != std::string::npos) mods[1] = "G:" + text;
        if (key.find("-D") != std::string::npos) mods[2] += text;
        if (key.find("+D") != std::string::npos) mods[3] += text;
        if (key.find("-S") != std::string::npos) mods[4] += text;
        if (key.find("+S") != std::string::npos) mods[5] += text;
    }

    if (diag::Debug()) {
        Debug("DEBUG: MODS");
        for (const auto& mod : mods)
            Debug("DEBUG:    " + mod);
        Debug("DEBUG:    DACL FLAGS = " + daclFlags);
        Debug("DEBUG:    SACL FLAGS = " + saclFlags);
        Debug("DEBUG: Return Mods");
    }
}

std::size_t StripACEsFromACL(AceTable& table, std::string_view removal) {
    KELVO_TRACE_SCOPE();
    std::vector<std::string> aces;
    ExplodeACEs(removal, aces);
    std::vector<std::vector<std::string>> patterns;
    for (const auto& ace : aces)
        patterns.push_back(PatternFields(ace));

    for (auto& row : table) {
        if (row.size() < 8) row.resize(8);
        const bool remove = std::any_of(patterns.begin(), patterns.end(),
                                        [&](const auto& p) { return PatternMatches(p, row); });
        if (remove) {
            row[1] = "REMOVE";
            Debug("DEBUG:       Dumping: " + row[0]);
        } else {
            Debug("DEBUG:       Keeping: " + row[0]);
        }
    }
    const std::size_t before = table.size();
    std::erase_if(table, [](const AceRow& row) { return row[1] == "REMOVE"; });
    return before - table.size();
}

std::size_t AddACEsToACL(AceTable& table, std::string_view addition, std::string& aclFlags) {
    KELVO_TRACE_SCOPE();
    if (!addition.starts_with('(')) {
        aclFlags = std::string(addition.substr(0, addition.find('(')));
        Debug("DEBUG: Extracted ACL Flag = " + aclFlags);
    }
    std::vector<std::string> aces;
    const std::size_t count = ExplodeACEs(addition, aces);

    for (auto& row : table)
        if (row.size() < 8) row.resize(8);

    AceTable added;
    for (const auto& ace : aces) {
        if (ace == ";;;;;") continue;
        AceRow row = detail::MakeAceRow(ace, "MOD");
        if (table.empty() && added.empty()) {
            row[1] = "ADD";
            Debug("DEBUG: Adding (type2): " + ace);
        } else {
            auto same = [&](const AceRow& other) { return SameAce(row, other); };
            if (std::any_of(table.begin(), table.end(), same) ||
                std::any_of(added.begin(), added.end(), same)) {
                Debug("DEBUG: Redundant, not Adding: " + ace);
            } else {
                row[1] = "ADD";
                Debug("DEBUG: Adding: " + ace);
            }
        }
        if (row[1] == "ADD") {
            Debug("DEBUG:       ADDING ACE [" + ace + "]");
            added.push_back(std::move(row));
        } else {
            Debug("DEBUG:       SKIPPING ACE [" + ace + "]");
        }
    }
    table.insert(table.end(), added.begin(), added.end());
    return count;
}

} // namespace pxsddl
