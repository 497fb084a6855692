// SDDL text helpers and the descriptor pipeline of CSDDL.
#include "CSDDL.h"
#include "Diag.h"
#include "SddlInternal.h"
#include "pellixstrings.h"

#include <set>
#include <utility>

namespace pxsddl {

namespace detail {

std::vector<std::string> SplitAll(std::string_view text, std::string_view delim) {
    std::vector<std::string> out;
    if (delim.empty()) {
        out.emplace_back(text);
        return out;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(delim, start);
        if (pos == std::string_view::npos) {
            out.emplace_back(text.substr(start));
            return out;
        }
        out.emplace_back(text.substr(start, pos - start));
        start = pos + delim.size();
    }
}

void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement) {
    if (find.empty() || text.find(find) == std::string::npos) return;
    std::string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = text.find(find, start);
        if (pos == std::string::npos) break;
        out.append(text, start, pos - start);
        out.append(replacement);
        start = pos + find.size();
    }
    out.append(text, start, std::string::npos);
    text = std::move(out);
}

bool ReplaceFirst(std::string& text, std::string_view find, std::string_view replacement) {
    if (find.empty()) return false;
    const std::size_t pos = text.find(find);
    if (pos == std::string::npos) return false;
    text.replace(pos, find.size(), replacement);
    return true;
}

AceRow MakeAceRow(std::string_view ace, std::string_view status) {
    AceRow row{std::string(ace), std::string(status)};
    for (auto& field : SplitAll(ace, ";"))
        row.push_back(std::move(field));
    while (row.size() < 8)
        row.emplace_back();
    return row;
}

} // namespace detail

namespace {

using detail::ReplaceAll;
using detail::ReplaceFirst;

constexpr std::string_view kPartMarkers[] = {"O:", "G:", "D:", "S:"};
constexpr char kPartBreak = '\x01';

// A value that yields nothing to start from becomes a descriptor that fails
// conversion and says why.
constexpr std::string_view kInvalidStart =
    "D:AI(ERROR: INVALID STARTING SECURITY DESCRIPTOR - possibly SD Template object does not "
    "exist;;;;;S-1-0-0)";

void Debug(std::string_view text) {
    if (!diag::Debug()) return;
    std::string line(text);
    line += '\n';
    diag::DebugOut(line);
}

std::string Lookup(const std::map<std::string, std::string>& parts, const std::string& key) {
    const auto it = parts.find(key);
    return it == parts.end() ? std::string() : it->second;
}

// Text in front of the first part marker ("{{SID:" wrappers are not markers).
std::string LeadingText(std::string_view value) {
    std::string work(value);
    ReplaceAll(work, "SID:", "SIDXXX:");
    std::size_t first = work.size();
    for (const auto marker : kPartMarkers)
        first = std::min(first, work.find(marker));
    std::string lead = work.substr(0, first);
    ReplaceAll(lead, "SIDXXX:", "SID:");
    return lead;
}

bool IsDenyAce(const std::string& ace) {
    const std::size_t d = ace.find('D');
    return d == 0 || d == 1;
}

// Canonical order of a changed ACL: distinct ACEs, deny before the rest,
// each group in ascending byte order.  Verbatim keeps the table as it is.
std::vector<std::string> OrderedAces(const AceTable& table, bool verbatim) {
    std::vector<std::string> result;
    if (verbatim) {
        for (const auto& row : table)
            result.push_back(row.at(0));
        return result;
    }
    std::set<std::string> distinct;
    for (const auto& row : table)
        distinct.insert(row.at(0));
    std::vector<std::string> others;
    for (const auto& ace : distinct)
        (IsDenyAce(ace) ? result : others).push_back(ace);
    result.insert(result.end(), others.begin(), others.end());
    return result;
}

std::string StripMarker(const std::string& fragment, std::string_view marker) {
    if (fragment.starts_with(marker)) return fragment.substr(marker.size());
    return fragment;
}

// Explicit ACEs of one ACL as KEEP rows; empty ACEs ("()") carry nothing.
AceTable ExplicitTable(std::string_view aclText, std::string_view label) {
    std::vector<std::string> all;
    std::vector<std::string> explicitAces;
    ExtractExplicitACEs(aclText, all, explicitAces);
    Debug("DEBUG: CURRENT FULL       " + std::string(label) +
          " ACE COUNT = " + std::to_string(all.size()));
    Debug("DEBUG: CURRENT *EXPLICIT* " + std::string(label) +
          " ACE COUNT = " + std::to_string(explicitAces.size()));
    AceTable table;
    for (const auto& ace : explicitAces) {
        if (ace.empty() || ace == ";;;;;") {
            Debug("DEBUG: Empty ACE carries nothing: (" + ace + ")");
            continue;
        }
        table.push_back(detail::MakeAceRow(ace, "KEEP"));
    }
    return table;
}

} // namespace

// --- SDDL text helpers --------------------------------------------------------

void DeconstructSDDL(std::string_view text, std::map<std::string, std::string>& parts) {
    std::string work(text);
    ReplaceAll(work, "SID:", "SIDXXX:");
    for (const auto marker : kPartMarkers)
        ReplaceFirst(work, marker, std::string(1, kPartBreak) + std::string(marker));
    ReplaceAll(work, "SIDXXX:", "SID:");
    for (const auto& piece : detail::SplitAll(work, std::string_view(&kPartBreak, 1))) {
        const std::size_t colon = piece.find(':');
        if (colon == std::string::npos) continue;
        parts[piece.substr(0, colon)] = piece.substr(colon + 1);
    }
}

void ReconstructSDDL(std::string& out, const std::map<std::string, std::string>& parts) {
    out.clear();
    for (const auto marker : kPartMarkers) {
        const auto it = parts.find(std::string(marker.substr(0, 1)));
        if (it == parts.end()) continue;
        out += marker;
        out += it->second;
    }
}

void GetACLFlags(std::string& flags, std::string& acl) {
    const std::size_t open = acl.find('(');
    if (open == std::string::npos) {
        flags = acl;
        acl.clear();
        return;
    }
    flags = acl.substr(0, open);
    acl.erase(0, open);
}

std::size_t ExplodeACEs(std::string_view acl, std::vector<std::string>& aces) {
    const std::size_t open = acl.find('(');
    if (open == std::string_view::npos) return 0;
    std::string_view rest = acl.substr(open + 1);
    const std::size_t close = rest.rfind(')');
    if (close != std::string_view::npos) rest = rest.substr(0, close);
    if (rest.empty()) return 0;
    auto pieces = detail::SplitAll(rest, ")(");
    for (auto& ace : pieces)
        aces.push_back(std::move(ace));
    return pieces.size();
}

void RejoinACEs(std::string& out, const std::vector<std::string>& aces) {
    out = "(";
    for (std::size_t i = 0; i < aces.size(); ++i) {
        if (i != 0) out += ")(";
        out += aces[i];
    }
    out += ")";
}

void ExtractExplicitACEs(std::string_view acl, std::vector<std::string>& all,
                         std::vector<std::string>& explicitAces) {
    if (!explicitAces.empty()) return;
    if (all.empty()) ExplodeACEs(acl, all);
    for (const auto& ace : all) {
        const std::size_t first = ace.find(';');
        std::string_view flags;
        if (first != std::string::npos) {
            const std::size_t second = ace.find(';', first + 1);
            flags = std::string_view(ace).substr(first + 1, second == std::string::npos
                                                                ? std::string_view::npos
                                                                : second - first - 1);
        }
        if (!IContains(flags, "ID")) explicitAces.push_back(ace);
    }
}

// --- The pipeline ---------------------------------------------------------------

CSDDL::CSDDL(std::string_view value, std::string_view attrName, const SddlContext& ctx)
    : ctx_(ctx) {
    if (!attrName.empty()) m_AttrName = attrName;
    Init(std::string(value));
}

void CSDDL::Init(std::string value) {
    KELVO_TRACE_SCOPE();
    m_OwnerSpecified = m_GroupSpecified = m_DACLSpecified = m_SACLSpecified = false;
    transform_ = TransformState{};
    m_Owner.clear();
    m_Group.clear();
    m_DACL.clear();
    m_DACLFlags.clear();
    m_SACL.clear();
    m_SACLFlags.clear();
    m_SDDL.clear();

    value = StrToUpper(value);
    if (value.starts_with("[SDDL] ")) value.erase(0, 7);
    if (value.starts_with("[SDDL_EXPLICIT] ")) value.erase(0, 16);
    ReplaceAll(value, "} {", "}{");

    std::vector<std::string> mods;
    ACEMods(value, mods);

    if (!ctx_.objectDn.empty()) ReplaceFirst(value, "{{*DN*}}", ctx_.objectDn);

    const auto source = detail::ApplySourceToken(value, ctx_, m_AttrName, m_SourceCache);
    if (value.empty()) value = kInvalidStart;
    Debug("DEBUG: Starting SD: " + value);

    TransformSDDLHeaderToProper(value);

    // Text in front of the first part would otherwise vanish; it stays in the
    // result so that conversion reports it.
    std::string leading = LeadingText(value);
    if (TrimWhite(leading).empty()) {
        leading.clear();
    } else {
        Debug("DEBUG: Text before the first descriptor part kept: " + leading);
    }

    m_Parts.clear();
    DeconstructSDDL(value, m_Parts);
    if (m_Parts.contains("O")) m_OwnerSpecified = true;
    if (m_Parts.contains("G")) m_GroupSpecified = true;
    if (m_Parts.contains("D")) m_DACLSpecified = true;
    if (m_Parts.contains("S")) m_SACLSpecified = true;

    TransformSDDLToProper(m_Parts, ctx_, transform_);
    for (auto& fragment : mods) {
        if (fragment.size() < 3) continue;
        std::map<std::string, std::string> scratch;
        DeconstructSDDL(fragment, scratch);
        TransformSDDLToProper(scratch, ctx_, transform_);
        ReconstructSDDL(fragment, scratch);
    }

    std::string owner = Lookup(m_Parts, "O");
    std::string group = Lookup(m_Parts, "G");
    const std::string daclText = Lookup(m_Parts, "D");
    const std::string saclText = Lookup(m_Parts, "S");
    std::string daclFlags = daclText.substr(0, daclText.find('('));
    std::string saclFlags = saclText.substr(0, saclText.find('('));

    if (source.makeProtected && daclFlags.find('P') == std::string::npos)
        ReplaceFirst(daclFlags, "AI", "PAI");
    if (source.makeInherited) ReplaceFirst(daclFlags, "PAI", "AI");

    AceTable dacl = ExplicitTable(daclText, "DACL");
    AceTable sacl = ExplicitTable(saclText, "SACL");

    bool ownerChanged = false;
    bool groupChanged = false;
    bool daclChanged = false;
    bool saclChanged = false;
    if (mods.size() == 6) {
        Debug("DEBUG: ==================== PROCESS ACE MODIFIERS ====================");
        if (mods[2].size() >= 3 && !dacl.empty()) {
            Debug("DEBUG: ---------- PROCESS DACL ACE REMOVES ----------");
            if (StripACEsFromACL(dacl, StripMarker(mods[2], "D:")) > 0) daclChanged = true;
        }
        if (mods[3].size() >= 3) {
            Debug("DEBUG: ---------- PROCESS DACL ACE ADDS ----------");
            if (AddACEsToACL(dacl, StripMarker(mods[3], "D:"), daclFlags) > 0) daclChanged = true;
        }
        if (mods[4].size() >= 3 && !sacl.empty()) {
            Debug("DEBUG: ---------- PROCESS SACL ACE REMOVES ----------");
            if (StripACEsFromACL(sacl, StripMarker(mods[4], "S:")) > 0) saclChanged = true;
        }
        if (mods[5].size() >= 3) {
            Debug("DEBUG: ---------- PROCESS SACL ACE ADDS ----------");
            if (AddACEsToACL(sacl, StripMarker(mods[5], "S:"), saclFlags) > 0) saclChanged = true;
        }
        if (mods[0].size() >= 3) {
            Debug("DEBUG: ---------- PROCESS OWNER ADD ----------");
            owner = StripMarker(mods[0], "O:");
            ownerChanged = true;
        }
        if (mods[1].size() >= 3) {
            Debug("DEBUG: ---------- PROCESS GROUP ADD ----------");
            group = StripMarker(mods[1], "G:");
            groupChanged = true;
        }
    }

    if (ownerChanged) {
        m_Parts["O"] = owner;
        m_OwnerSpecified = true;
    }
    if (groupChanged) {
        m_Parts["G"] = group;
        m_GroupSpecified = true;
    }
    if (daclChanged) {
        m_DACLSpecified = true;
        const auto aces = OrderedAces(dacl, ctx_.verbatim);
        std::string joined;
        RejoinACEs(joined, aces);
        Debug("DEBUG: DACL ACES SORTED: " + joined);
        m_Parts["D"] = daclFlags + joined;
    }
    if (saclChanged) {
        m_SACLSpecified = true;
        const auto aces = OrderedAces(sacl, ctx_.verbatim);
        std::string joined;
        RejoinACEs(joined, aces);
        Debug("DEBUG: SACL ACES SORTED: " + joined);
        m_Parts["S"] = saclFlags + joined;
    }

    if (diag::Debug()) {
        Debug("DEBUG: DECONSTRUCTED SDDL:");
        for (const auto marker : kPartMarkers) {
            const std::string key(marker.substr(0, 1));
            Debug("DEBUG: [" + key + "] = " + Lookup(m_Parts, key));
        }
    }

    m_SDDL = leading;
    for (const auto marker : kPartMarkers) {
        const std::string text = Lookup(m_Parts, std::string(marker.substr(0, 1)));
        if (text.empty()) continue;
        m_SDDL += marker;
        m_SDDL += text;
    }

    if (m_OwnerSpecified) m_Owner = Lookup(m_Parts, "O");
    if (m_GroupSpecified) m_Group = Lookup(m_Parts, "G");
    if (m_DACLSpecified) {
        m_DACL = Lookup(m_Parts, "D");
        GetACLFlags(m_DACLFlags, m_DACL);
    }
    if (m_SACLSpecified) {
        m_SACL = Lookup(m_Parts, "S");
        GetACLFlags(m_SACLFlags, m_SACL);
    }

    if (diag::Debug()) {
        Debug("DEBUG: m_OwnerSpecified = " + BoolToStr(m_OwnerSpecified));
        Debug("DEBUG: m_GroupSpecified = " + BoolToStr(m_GroupSpecified));
        Debug("DEBUG: m_DACLSpecified  = " + BoolToStr(m_DACLSpecified));
        Debug("DEBUG: m_SACLSpecified  = " + BoolToStr(m_SACLSpecified));
        Debug("DEBUG: m_Owner = " + m_Owner);
        Debug("DEBUG: m_Group = " + m_Group);
        Debug("DEBUG: m_DACL  = " + m_DACLFlags + m_DACL);
        Debug("DEBUG: m_SACL  = " + m_SACLFlags + m_SACL);
        Debug("DEBUG: SDDL = " + m_SDDL);
    }
}

} // namespace pxsddl
