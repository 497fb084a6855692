// The security descriptor engine.
//
// One CSDDL turns one "sd##" value into a final SDDL text: it drops input
// markers, splits off the ACE modifiers ("{+D=...}", "{-D=...}", "{+O=...}"),
// fetches a starting descriptor when the value begins with a source token
// ("{GETSD}", "{GETDSD}", "{GETTSD}", ...), rewrites friendly notation and
// names into proper SDDL, keeps only the explicit ACEs, applies the
// modifiers, puts changed ACLs in canonical order (deny first) and
// reassembles the text.  It then gives the self-relative binary descriptor.
#pragma once

#include "SddlServices.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pxsddl {

// One ACE row while an ACL is modified: [0] whole ACE text, [1] status
// ("KEEP", "MOD", "ADD", "REMOVE"), [2] type, [3] flags, [4] rights,
// [5] object GUID, [6] inherited object GUID, [7] principal.
using AceRow = std::vector<std::string>;
using AceTable = std::vector<AceRow>;

// --- SDDL text helpers --------------------------------------------------------
void DeconstructSDDL(std::string_view text, std::map<std::string, std::string>& parts);
void ReconstructSDDL(std::string& out, const std::map<std::string, std::string>& parts);
void GetACLFlags(std::string& flags, std::string& acl);
std::size_t ExplodeACEs(std::string_view acl, std::vector<std::string>& aces);
void RejoinACEs(std::string& out, const std::vector<std::string>& aces);
void ExtractExplicitACEs(std::string_view acl, std::vector<std::string>& all,
                         std::vector<std::string>& explicitAces);

// --- ACE modification language --------------------------------------------------
// Splits the modifiers off `value` (kept: the text before the first "{+" or
// "{-"); `mods` receives the six fragments owner, group, DACL removals, DACL
// additions (with flags), SACL removals, SACL additions, or nothing.
void ACEMods(std::string& value, std::vector<std::string>& mods);
// Removes the rows matching any pattern of `removal`; returns how many.
std::size_t StripACEsFromACL(AceTable& table, std::string_view removal);
// Appends the ACEs of `addition` not already present; `aclFlags` takes the
// flags written before the first "(".  Returns the number of ACE strings.
std::size_t AddACEsToACL(AceTable& table, std::string_view addition, std::string& aclFlags);

// --- Friendly notation ------------------------------------------------------------
// Header words ("[DACL] ", "(FLAGS:PROTECTED)", ...) to SDDL codes.
void TransformSDDLHeaderToProper(std::string& text);

// Per-instance state of the field transforms (domain SID chosen once).
struct TransformState {
    bool domainSidNeeded = true;
    std::string domainSid = "***NONDOMAINJOINED***";
    std::string forestSid;
    std::map<std::string, std::string> aliasMap; // alias -> SID template
};
void TransformSDDLToProper(std::map<std::string, std::string>& parts, const SddlContext& ctx,
                           TransformState& state);
void TransformSDDLACEToProper(std::string& acl, const SddlContext& ctx, TransformState& state);
void TransformSDDLACETypeToProper(std::string& type);
void TransformSDDLACEFlagsToProper(std::string& flags);
void TransformSDDLACERightsToProper(std::string& rights, bool keepGeneric);
void TransformSDDLACEObjInhObjToProper(std::string& object, std::string& inherited,
                                       const SddlContext& ctx);
void TransformSDDLACESecPrinToProper(std::string& principal, const SddlContext& ctx,
                                     TransformState& state);

// --- The engine ----------------------------------------------------------------------
struct BinaryOptions {
    bool whatIf = false;         // -sdwhatif: also give the listing of the result
    bool extendedErrors = false; // -exterr: failures list the SDDL ACE by ACE
    bool alternative = false;    // -pxsdenc: order the DACL by ACE scores
};

struct [[nodiscard]] BinaryResult {
    bool ok = false;
    std::vector<std::uint8_t> bytes; // self-relative descriptor
    std::uint32_t error = 0;         // Win32 code on failure
    std::size_t offset = 0;          // where in the SDDL parsing failed
    std::string message;             // "Error in SDDL conversion - (1336) [...]"
    std::string whatIf;              // "SDWHATIF: " listing with -sdwhatif
};

class CSDDL {
  public:
    // Runs the whole pipeline on `value`; `attrName` defaults to
    // "nTSecurityDescriptor".
    CSDDL(std::string_view value, std::string_view attrName, const SddlContext& ctx);

    [[nodiscard]] const std::string& SDDL() const { return m_SDDL; }
    [[nodiscard]] bool OwnerSpecified() const { return m_OwnerSpecified; }
    [[nodiscard]] bool GroupSpecified() const { return m_GroupSpecified; }
    [[nodiscard]] bool DACLSpecified() const { return m_DACLSpecified; }
    [[nodiscard]] bool SACLSpecified() const { return m_SACLSpecified; }
    // SD flags control value for the parts the result carries.
    [[nodiscard]] std::uint32_t SpecifiedFlags() const;

    // The encoder's entry point: binary form of m_SDDL, plain or (with
    // `alternative`) with the DACL ordered by scores.
    [[nodiscard]] BinaryResult GetBinSecurityDescriptor(const BinaryOptions& options) const;

    // Lines of the exploded listing of an SDDL text, each starting with
    // `prefix`, as one text ending in a line end.
    [[nodiscard]] static std::string ExplodedListing(std::string_view prefix,
                                                     std::string_view sddl);

    std::string m_SDDL;
    std::string m_Owner;
    std::string m_Group;
    std::string m_DACL;
    std::string m_DACLFlags;
    std::string m_AttrName = "nTSecurityDescriptor";
    std::string m_SACL;
    std::string m_SACLFlags;
    std::map<std::string, std::string> m_Parts;
    std::map<std::string, std::string> m_SourceCache;
    bool m_OwnerSpecified = false;
    bool m_GroupSpecified = false;
    bool m_DACLSpecified = false;
    bool m_SACLSpecified = false;

  private:
    void Init(std::string value);
    const SddlContext& ctx_;
    TransformState transform_;
};

// Score of one DACL ACE for the alternative order (lower first).
[[nodiscard]] std::uint32_t AceScore(std::uint8_t aceType, std::uint32_t objectFlags,
                                     std::uint32_t mask, std::string_view sidText);
// The alternative builder: the ACE records of the DACL reordered by score
// (stable), every ACE kept byte for byte, owner, group and SACL carried over.
[[nodiscard]] BinaryResult GetBinSecurityDescriptorEx(std::string_view sddl,
                                                      const SddlContext& ctx);

} // namespace pxsddl
