// The engine's final SDDL text as a self-relative binary descriptor: the
// plain conversion, the alternative builder that orders the DACL by ACE
// scores, the listing of a text ACE by ACE (for -sdwhatif and -exterr) and
// the SD flags control value of the parts the text carries.
#include "CSDDL.h"
#include "DomainSelection.h"

#include "Diag.h"
#include "Platform.h"
#include "pellixstrings.h"

#include "Sddl.h"
#include "SddlTables.h"
#include "SecurityDescriptor.h"
#include "Sid.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

namespace pxsddl {

namespace sec = platform::security;

namespace {

// Domain and forest root domain for the aliases the transforms left in place
// ("DA" when no domain SID was known to them); texts that are not SIDs leave
// that domain unknown.
sec::SddlDomain MakeDomain(const std::string& domainSid, const std::string& forestSid) {
    const std::string domain = detail::LooksLikeSid(domainSid) ? domainSid : std::string();
    const std::string forest = detail::LooksLikeSid(forestSid) ? forestSid : std::string();
    sec::SddlDomain out;
    if (!sec::MakeSddlDomain(domain, forest, out).ok()) {
        // One of the two does not parse: keep whichever does.
        sec::SddlDomain single;
        if (sec::MakeSddlDomain(domain, "", single).ok()) return single;
        if (sec::MakeSddlDomain("", forest, single).ok()) return single;
        return {};
    }
    return out;
}

std::string ConversionMessage(std::uint32_t code) {
    std::string text = platform::SystemErrorText(code);
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return "Error in SDDL conversion - (" + std::to_string(code) + ") [" + text + "]";
}

BinaryResult Failure(const sec::SecurityStatus& status) {
    BinaryResult r;
    r.ok = false;
    r.error = status.code;
    r.offset = status.offset;
    r.message = ConversionMessage(status.code);
    return r;
}

BinaryResult PlainConversion(std::string_view sddl, const sec::SddlDomain& domain) {
    BinaryResult r;
    const auto status = sec::ConvertStringSecurityDescriptorToSecurityDescriptor(
        sddl, sec::kSddlRevision1, domain, r.bytes);
    if (!status.ok()) return Failure(status);
    r.ok = true;
    return r;
}

// The DACL's ACEs ordered by score, lowest first; ACEs of equal score keep
// their order.  Every ACE is moved whole, so object ACEs keep their GUIDs.
BinaryResult ReorderedConversion(std::string_view sddl, const sec::SddlDomain& domain) {
    BinaryResult r = PlainConversion(sddl, domain);
    if (!r.ok) return r;
    sec::SecurityDescriptor sd;
    if (const auto st = sec::DecodeSecurityDescriptor(r.bytes, sd); !st.ok()) return Failure(st);
    if (!sd.dacl || sd.dacl->aces.empty()) return r;

    std::vector<sec::Ace>& aces = sd.dacl->aces;
    std::vector<std::uint32_t> scores;
    scores.reserve(aces.size());
    for (const auto& ace : aces) {
        const std::uint32_t objectFlags =
            (ace.objectType ? 1u : 0u) | (ace.inheritedObjectType ? 2u : 0u);
        scores.push_back(AceScore(ace.type, objectFlags, ace.mask, sec::FormatSid(ace.sid)));
    }
    std::vector<std::size_t> order(aces.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return scores[a] < scores[b]; });

    diag::DebugOut("DEBUG: Reordering of DACL ACEs\n");
    std::vector<std::size_t> newPosition(aces.size());
    for (std::size_t pos = 0; pos < order.size(); ++pos)
        newPosition[order[pos]] = pos;
    for (std::size_t i = 0; i < aces.size(); ++i) {
        diag::DebugOut("DEBUG: Orig=" + std::to_string(i) +
                       " :: New=" + std::to_string(newPosition[i]) +
                       " - Score=" + std::to_string(scores[i]) + "\n");
    }

    std::vector<sec::Ace> sorted;
    sorted.reserve(aces.size());
    for (std::size_t index : order)
        sorted.push_back(std::move(aces[index]));
    aces = std::move(sorted);

    std::vector<std::uint8_t> bytes;
    if (const auto st = sec::EncodeSecurityDescriptor(sd, bytes); !st.ok()) return Failure(st);
    r.bytes = std::move(bytes);
    return r;
}

// Flags written before the first "(" and the ACEs of one ACL.
void SplitAcl(std::string acl, std::string& flags, std::vector<std::string>& aces) {
    GetACLFlags(flags, acl);
    ExplodeACEs(acl, aces);
}

// The principal bonus of a score: the accounts that usually hold the widest
// rights sort first among ACEs of the same kind.
std::uint32_t PrincipalScore(std::string_view sid) {
    if (sid == "S-1-5-18") return 0;
    if (sid == "S-1-1-0" || sid == "S-1-5-11" || sid == "S-1-5-32-554") return 100;
    if (sid == "S-1-5-32-544") return 300;
    if (sid.starts_with("S-1-5") && sid.size() >= 4) {
        const std::size_t tail = sid.size() - 4;
        if (sid.find("-512") == tail) return 200; // domain admins
        if (sid.find("-519") == tail) return 300; // enterprise admins
    }
    return 900;
}

} // namespace

std::uint32_t CSDDL::SpecifiedFlags() const {
    return (m_OwnerSpecified ? 1u : 0u) | (m_GroupSpecified ? 2u : 0u) |
           (m_DACLSpecified ? 4u : 0u) | (m_SACLSpecified ? 8u : 0u);
}

BinaryResult CSDDL::GetBinSecurityDescriptor(const BinaryOptions& options) const {
    const sec::SddlDomain domain = MakeDomain(transform_.domainSid, transform_.forestSid);
    BinaryResult r =
        options.alternative ? ReorderedConversion(m_SDDL, domain) : PlainConversion(m_SDDL, domain);
    if (!r.ok) {
        if (options.extendedErrors) r.message += ExplodedListing("ERROR: ", m_SDDL);
        return r;
    }
    if (options.whatIf) {
        std::string text;
        const auto st = sec::ConvertSecurityDescriptorToStringSecurityDescriptor(
            r.bytes, sec::kSddlRevision1, sec::kAllSecurityInformation, domain, text);
        // The bytes were just built from text, so reading them back cannot
        // fail short of a fault in the conversions; say so rather than list
        // nothing.
        r.whatIf = st.ok() ? ExplodedListing("SDWHATIF: ", text)
                           : "SDWHATIF: " + ConversionMessage(st.code) + "\n";
    }
    return r;
}

std::string CSDDL::ExplodedListing(std::string_view prefix, std::string_view sddl) {
    std::map<std::string, std::string> parts;
    DeconstructSDDL(sddl, parts);
    const auto part = [&](const char* key) {
        const auto it = parts.find(key);
        return it == parts.end() ? std::string() : it->second;
    };
    std::string daclFlags;
    std::string saclFlags;
    std::vector<std::string> daclAces;
    std::vector<std::string> saclAces;
    SplitAcl(part("D"), daclFlags, daclAces);
    SplitAcl(part("S"), saclFlags, saclAces);

    const std::string p(prefix);
    std::string out = "\n" + p + "\n";
    out += p + "Exploded SDDL\n";
    out += p + "Owner: " + part("O") + "\n";
    out += p + "Group: " + part("G") + "\n";
    out += p + "DACL: (" + daclFlags + ")\n";
    for (const auto& ace : daclAces)
        out += p + "       (" + ace + ")\n";
    out += p + "   SACL: (" + saclFlags + ")\n";
    for (const auto& ace : saclAces)
        out += p + "       (" + ace + ")\n";
    return out;
}

std::uint32_t AceScore(std::uint8_t aceType, std::uint32_t objectFlags, std::uint32_t mask,
                       std::string_view sidText) {
    constexpr std::uint32_t kGenericAll = 0x10000000;
    constexpr std::uint32_t kGenericExecute = 0x20000000;
    constexpr std::uint32_t kGenericRead = 0x80000000;
    constexpr std::uint32_t kStandardRights = 0x001F0000;
    constexpr std::uint32_t kSpecificRights = 0xFFFF;
    constexpr std::uint32_t kReadProperty = 0x10;
    constexpr std::uint32_t kControlAccess = 0x100;
    constexpr std::uint32_t kListObject = 0x80;

    // Deny before allow; an object ACE that names both GUIDs (the narrowest)
    // sorts last of its kind among allows and first among denies.
    constexpr std::uint32_t kAllowedObject[4] = {20004, 20003, 20002, 20009};
    constexpr std::uint32_t kDeniedObject[4] = {10004, 10003, 10002, 10000};
    std::uint32_t score = 0;
    switch (aceType) {
    case sec::kAceTypeAccessAllowed:
        score = 20000;
        break;
    case sec::kAceTypeAccessDenied:
        score = 10000;
        break;
    case sec::kAceTypeAccessAllowedObject:
        score = kAllowedObject[objectFlags & 3u];
        break;
    case sec::kAceTypeAccessDeniedObject:
        score = kDeniedObject[objectFlags & 3u];
        break;
    default:
        // Audit, alarm and label ACEs do not belong in a DACL; should one be
        // there it goes after every deny and allow (whose scores stay below
        // 30000), and all such ACEs share one score so the stable sort keeps
        // them in the order they were written.
        return 30000;
    }

    const bool generalRead = (mask & (kGenericExecute | kGenericRead)) != 0;
    if ((mask & kStandardRights) == kStandardRights || (mask & kGenericAll) != 0 ||
        (mask & kSpecificRights) == kSpecificRights) {
        score += 1000;
        if (generalRead) score += 2000;
    } else if ((mask & kReadProperty) != 0 || generalRead) {
        score += 2000;
    } else if ((mask & kControlAccess) != 0) {
        score += 3000;
    } else if ((mask & kListObject) != 0) {
        score += 4000;
    } else {
        score += 9000;
    }
    return score + PrincipalScore(sidText);
}

BinaryResult GetBinSecurityDescriptorEx(std::string_view sddl, const SddlContext& ctx) {
    std::string domainSid = detail::DomainSidOfObject(ctx);
    if (domainSid.empty()) domainSid = ctx.defaultDomainSid;
    return ReorderedConversion(sddl, MakeDomain(domainSid, ctx.forestSid));
}

} // namespace pxsddl
