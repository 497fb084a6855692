// Friendly notation to proper SDDL.
//
// The listing side of the program writes descriptors with words
// ("[DACL] (FLAGS:PROTECTED)(ALLOW;[CONT INHERIT];[READ PROP];member;;Everyone)");
// these functions turn such text, and names written where SDDL wants GUIDs
// and SIDs, back into codes.  Every value reaching them is already upper-case.
// Anything they do not recognise is left as written so that the conversion to
// binary reports it instead of it being dropped here.
#include "CSDDL.h"

#include "DomainSelection.h"
#include "pxSIDS.h"

#include "Diag.h"
#include "pellixstrings.h"

#include "SddlTables.h"

#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace pxsddl {

namespace {

struct WordCode {
    std::string_view word;
    std::string_view code;
};

constexpr std::string_view kNotDomainJoined = "***NONDOMAINJOINED***";

// "(FLAGS:PROTECTED INHERIT)" is listed ahead of "(FLAGS:PROTECTED)" so that
// the table stays right even if an entry is ever written without its closing
// parenthesis: the longer word must be consumed before its prefix.
constexpr WordCode kHeaderWords[] = {
    {"[OWNER] ", "O:"},
    {"[GROUP] ", "G:"},
    {"[DACL] ", "D:"},
    {"[SACL] ", "S:"},
    {"(FLAGS:PROTECTED INHERIT)", "PAI"},
    {"(FLAGS:INHERIT REQ)", "AR"},
    {"(FLAGS:INHERIT)", "AI"},
    {"(FLAGS:PROTECTED)", "P"},
};

// Matched at the start of the type field.  The object words come first: each
// ends in a plain word ("OBJ ALLOW" / "ALLOW"), so looking for the plain word
// first would be wrong as soon as the match is not anchored (it would leave
// "OBJ A").  Keeping the longer words first makes the order irrelevant to how
// the field is matched.
constexpr WordCode kAceTypeWords[] = {
    {"OBJ ALLOW", "OA"}, {"OBJ DENY", "OD"}, {"OBJ AUDIT", "OU"}, {"OBJ ALARM", "OL"},
    {"ALLOW", "A"},      {"DENY", "D"},      {"AUDIT", "AU"},     {"ALARM", "AL"},
};

constexpr WordCode kAceFlagWords[] = {
    {"[CONT INHERIT]", "CI"}, {"[OBJ INHERIT]", "OI"}, {"[NO PROPAGATE]", "NP"},
    {"[INHERIT ONLY]", "IO"}, {"[INHERITED]", "ID"},   {"[SUCCESS]", "SA"},
    {"[FAILURE]", "FA"},
};

// The generic words become generic codes first; those codes are then spelled
// out (unless the user keeps generic rights), and last the specific words.
constexpr WordCode kGenericRightWords[] = {
    {"[FC]", "GA"},
    {"[GEN READ]", "GR"},
    {"[GEN WRT]", "GW"},
    {"[GEN EXE]", "GX"},
};

// What a directory server grants for each generic right.
constexpr WordCode kGenericExpansions[] = {
    {"GA", "CCDCLCSWRPWPDTLOCRSDRCWDWO"},
    {"GR", "LCLORCRP"},
    {"GW", "RCSWWP"},
    {"GX", "LCRC"},
};

constexpr WordCode kRightWords[] = {
    {"[READ PERMS]", "RC"},    {"[DEL]", "SD"},      {"[WRT PERMS]", "WD"}, {"[WRT OWNER]", "WO"},
    {"[READ PROP]", "RP"},     {"[WRT PROP]", "WP"}, {"[CR CHILD]", "CC"},  {"[DEL CHILD]", "DC"},
    {"[LIST CHILDREN]", "LC"}, {"[SELF WRT]", "SW"}, {"[LIST OBJ]", "LO"},  {"[DEL TREE]", "DT"},
    {"[CTL]", "CR"},
};

// Plain object ACE types of the non-object ones, for ACEs that name an
// inherited object type.
constexpr WordCode kObjectTypeOf[] = {
    {"A", "OA"},
    {"D", "OD"},
    {"AU", "OU"},
    {"AL", "OL"},
};

template <std::size_t N> void ReplaceWords(std::string& text, const WordCode (&table)[N]) {
    for (const auto& row : table)
        StrReplaceAllEx(text, row.word, row.code);
}

// Splits one ACE at ";" into at most six fields; the last keeps any further
// ";".  Empty fields, trailing ones included, are kept so that the ACE keeps
// its shape when it is joined again.
std::vector<std::string> SplitAceFields(std::string_view ace) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() < 5) {
        const auto semi = ace.find(';', start);
        if (semi == std::string_view::npos) break;
        fields.emplace_back(ace.substr(start, semi - start));
        start = semi + 1;
    }
    fields.emplace_back(ace.substr(start));
    return fields;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// 8-4-4-4-12 hex digits.
bool IsGuidText(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
    }
    return true;
}

// A rights field written as a number ("0X1F01FF", "983551").
bool IsNumericMask(std::string_view rights) {
    if (rights.size() >= 2 && rights[0] == '0' && (rights[1] == 'X' || rights[1] == 'x'))
        return true;
    return !rights.empty() && std::isdigit(static_cast<unsigned char>(rights[0])) != 0;
}

// Spells out generic codes.  The field is read as a sequence of two-letter
// codes and "[...]" words (not all words are codes yet at this point); only a
// whole code is replaced, never two letters that straddle codes ("RGAX" holds
// no "GA").
void ExpandGenericRights(std::string& rights) {
    if (IsNumericMask(rights)) return;
    std::string out;
    std::size_t i = 0;
    while (i < rights.size()) {
        if (rights[i] == '[') {
            const auto close = rights.find(']', i);
            const std::size_t end = close == std::string::npos ? rights.size() : close + 1;
            out.append(rights, i, end - i);
            i = end;
            continue;
        }
        const std::string_view code = std::string_view(rights).substr(i, 2);
        std::string_view replacement = code;
        for (const auto& row : kGenericExpansions) {
            if (code == row.word) replacement = row.code;
        }
        out += replacement;
        i += code.size();
    }
    rights = std::move(out);
}

// Chooses the domain and forest SIDs the aliases stand for, once per engine.
// This program never runs as a member of the domain it works on, so the
// domain it knows of is the one of the directory it is bound to.
void SelectDomainSids(const SddlContext& ctx, TransformState& state) {
    state.domainSidNeeded = false;
    std::string candidate = state.domainSid;
    diag::DebugOut("DEBUG: Not domain joined, retrieving default NC SID via LDAP...\n");
    if (ctx.principals != nullptr) {
        std::string sid = ctx.principals->DefaultNamingContextSid();
        if (!sid.empty()) candidate = std::move(sid);
    }
    if (!ctx.objectDn.empty()) {
        diag::DebugOut("DEBUG: Selecting default domain SID to use\n");
        if (std::string sid = detail::DomainSidOfObject(ctx); !sid.empty()) {
            diag::DebugOut("DEBUG: Selected DN DOMAIN " + sid + "\n");
            state.domainSid = std::move(sid);
        } else if (!ctx.defaultDomainSid.empty()) {
            diag::DebugOut("DEBUG: Selected DEFAULT " + ctx.defaultDomainSid + "\n");
            state.domainSid = ctx.defaultDomainSid;
        } else {
            diag::DebugOut("DEBUG: Selected m_DomainSID " + candidate + "\n");
            state.domainSid = std::move(candidate);
        }
    } else {
        state.domainSid =
            ctx.defaultDomainSid.empty() ? std::move(candidate) : ctx.defaultDomainSid;
    }
    state.forestSid = ctx.forestSid.empty() ? state.domainSid : ctx.forestSid;
}

// "<DOMAINSID>-512" with the SID put in; false when that SID is not known.
bool FillSidTemplate(std::string& value, std::string_view tmpl, std::string_view marker,
                     const std::string& sid) {
    if (tmpl.substr(0, marker.size()) != marker) return false;
    if (sid == kNotDomainJoined || sid.empty()) return true; // alias stays as written
    value = sid + std::string(tmpl.substr(marker.size()));
    return true;
}

} // namespace

namespace detail {

std::string DomainSidOfObject(const SddlContext& ctx) {
    if (ctx.objectDn.empty()) return {};
    const std::string dn = StrToLower(ctx.objectDn);
    // The first component that is a "DC=": not a value that merely holds the
    // letters ("CN=ADC=X"), nor text after an escaped comma ("CN=A\,DC=X").
    std::size_t pos = 0;
    while (true) {
        pos = dn.find("dc=", pos);
        if (pos == std::string::npos) return {};
        if (pos == 0 || (dn[pos - 1] == ',' && (pos < 2 || dn[pos - 2] != '\\'))) break;
        ++pos;
    }
    const auto it = ctx.domainSids.find(dn.substr(pos));
    return it == ctx.domainSids.end() ? std::string() : it->second;
}

bool LooksLikeSid(std::string_view text) {
    return text.size() > 4 && (text[0] == 'S' || text[0] == 's') && text.substr(1, 3) == "-1-";
}

} // namespace detail

void TransformSDDLHeaderToProper(std::string& text) {
    diag::DebugOut("DEBUG: Header Transform Start s=" + text + "\n");
    ReplaceWords(text, kHeaderWords);
    diag::DebugOut("DEBUG: Header Transform End s=" + text + "\n");
}

void TransformSDDLToProper(std::map<std::string, std::string>& parts, const SddlContext& ctx,
                           TransformState& state) {
    for (const char* key : {"O", "G"}) {
        if (auto it = parts.find(key); it != parts.end())
            TransformSDDLACESecPrinToProper(it->second, ctx, state);
    }
    for (const char* key : {"D", "S"}) {
        if (auto it = parts.find(key); it != parts.end())
            TransformSDDLACEToProper(it->second, ctx, state);
    }
}

void TransformSDDLACEToProper(std::string& acl, const SddlContext& ctx, TransformState& state) {
    std::string flags;
    std::string body = acl;
    if (const auto open = acl.find('('); open != std::string::npos && open > 0) {
        flags = acl.substr(0, open);
        body = acl.substr(open);
    }
    std::vector<std::string> aces;
    const std::size_t count = ExplodeACEs(body, aces);
    diag::DebugOut("DEBUG: ACE COUNT =" + std::to_string(count) + "\n");
    if (count == 0) return;

    for (auto& ace : aces) {
        std::vector<std::string> f = SplitAceFields(ace);
        const std::size_t n = f.size();
        TransformSDDLACETypeToProper(f[0]);
        if (n > 1) TransformSDDLACEFlagsToProper(f[1]);
        if (n > 2) TransformSDDLACERightsToProper(f[2], ctx.keepGeneric);
        if (n > 3) {
            std::string none;
            TransformSDDLACEObjInhObjToProper(f[3], n > 4 ? f[4] : none, ctx);
        }
        if (n > 5) TransformSDDLACESecPrinToProper(f[5], ctx, state);
        if (n > 4 && !f[4].empty() && f[4] != "*") {
            for (const auto& row : kObjectTypeOf) {
                if (f[0] == row.word) {
                    diag::DebugOut("DEBUG: Using inherited object type but not object ACE "
                                   "type, correcting...\n");
                    f[0] = row.code;
                    break;
                }
            }
        }
        ace = JoinTokens(";", f);
        diag::DebugOut("DEBUG: ACE REJOIN s =" + ace + "\n");
    }
    std::string joined;
    RejoinACEs(joined, aces);
    acl = flags + joined;
}

void TransformSDDLACETypeToProper(std::string& type) {
    for (std::string_view marker : {"[DACL]", "[SACL]"}) {
        if (type.starts_with(marker)) {
            // The listing writes a blank after the marker; it is no part of the type.
            const auto rest = type.find_first_not_of(' ', marker.size());
            type.erase(0, rest == std::string::npos ? type.size() : rest);
            break;
        }
    }
    for (const auto& row : kAceTypeWords) {
        if (type.starts_with(row.word)) {
            type.replace(0, row.word.size(), row.code);
            break;
        }
    }
}

void TransformSDDLACEFlagsToProper(std::string& flags) {
    ReplaceWords(flags, kAceFlagWords);
}

void TransformSDDLACERightsToProper(std::string& rights, bool keepGeneric) {
    constexpr std::string_view kInvalidOpen = "***INVALID_ACCESSMASK (";
    constexpr std::string_view kInvalidClose = ")***";
    // The listing writes a mask it cannot name as "***INVALID_ACCESSMASK
    // (0x...)***"; the number inside is what the user meant.  Anything short
    // of that whole form stays, for the conversion to reject.
    if (const auto open = rights.find(kInvalidOpen); open != std::string::npos) {
        const std::size_t inner = open + kInvalidOpen.size();
        const auto close = rights.find(kInvalidClose, inner);
        if (close != std::string::npos && close > inner) {
            rights = rights.substr(0, open) + rights.substr(inner, close - inner) +
                     rights.substr(close + kInvalidClose.size());
        }
    }
    ReplaceWords(rights, kGenericRightWords);
    if (!keepGeneric) ExpandGenericRights(rights);
    ReplaceWords(rights, kRightWords);
}

void TransformSDDLACEObjInhObjToProper(std::string& object, std::string& inherited,
                                       const SddlContext& ctx) {
    if (object.empty() && inherited.empty()) return;
    for (std::string* field : {&object, &inherited}) {
        StrReplaceAllEx(*field, "{", "");
        StrReplaceAllEx(*field, "}", "");
        if (field->empty() || *field == "*") continue;
        if (IsGuidText(*field)) {
            *field = StrToLower(*field);
            continue;
        }
        if (ctx.guids == nullptr) continue;
        const std::string name = StrToLower(*field);
        if (auto guid = ctx.guids->GuidForName(name)) {
            diag::DebugOut("DEBUG: Cache Hit for " + name + " = " + *guid + "\n");
            *field = *guid;
        } else {
            diag::DebugOut("DEBUG: Cache MISS for " + name +
                           " Looking up... not found, kept as written\n");
        }
    }
}

void TransformSDDLACESecPrinToProper(std::string& principal, const SddlContext& ctx,
                                     TransformState& state) {
    if (principal == "*" || principal.empty()) return;
    if (state.domainSidNeeded) SelectDomainSids(ctx, state);
    if (state.aliasMap.empty()) pxsids::LoadSddlAliasMap(state.aliasMap);

    if (principal.size() == 2) {
        if (const auto it = state.aliasMap.find(principal); it != state.aliasMap.end()) {
            diag::DebugOut("DEBUG:    Alias found: [" + principal + "] -> " + it->second + "\n");
            const std::string& tmpl = it->second;
            if (!FillSidTemplate(principal, tmpl, "<DOMAINSID>", state.domainSid) &&
                !FillSidTemplate(principal, tmpl, "<FORESTSID>", state.forestSid))
                principal = tmpl;
        } else {
            diag::DebugOut("DEBUG:    Alias [" + principal + "] doesn't exist in lookup table.\n");
        }
    } else if (!principal.starts_with("S-") && principal.find('{') == std::string::npos) {
        diag::DebugOut("DEBUG:    Wrapping [" + principal + "] in {{SID:...}}\n");
        principal = (ctx.ldsServer ? "{{LDSSID:" : "{{SID:") + principal + "}}";
    }
    if (principal.find("{{SID:") != std::string::npos ||
        principal.find("{{LDSSID:") != std::string::npos) {
        diag::DebugOut("DEBUG: Replacing strings with SIDs\n");
        if (ctx.principals != nullptr) principal = ctx.principals->ResolveSidWrappers(principal);
    }
}

} // namespace pxsddl
