#include "ObjectActions.h"

#include "ConsoleOutput.h"
#include "DSTime.h"
#include "Diag.h"
#include "LDAPFuncs.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "Utf16.h"
#include "pellixstrings.h"

#include <cctype>

Step PrepareDynamic(SwitchParser& parser, RunSettings& settings) {
    KELVO_TRACE_SCOPE();
    if (parser.IsSwitch(sw::tmpobj)) parser.SetValue(sw::dynamic, parser.GetValue(sw::tmpobj));
    if (!parser.IsSwitch(sw::dynamic)) return std::nullopt;
    if (settings.op != KELVO_ADD && settings.op != KELVO_UPDATE)
        return UsageFailureAfterBlank(
            ErrorBlockText({"-dynamic can only be used for ADD and MODIFY options"}));
    settings.dynamic = true;
    if (settings.op == KELVO_ADD) {
        for (const auto& arg : parser.SelectedArgs()) {
            if (!IStartsWith(arg, "objectclass:")) continue;
            parser.RemoveArg(arg);
            TokenVector f;
            GetXTokens(arg, ":", f, 3);
            parser.AddArg(f[0] + ":++:" + f[2] + ";dynamicObject");
            break;
        }
    }
    std::string ttl = parser.GetValue(sw::dynamic);
    if (ttl.empty()) ttl = "07:00:00:00";
    if (ttl.starts_with(':')) ttl = "0" + ttl;
    if (ttl.find_first_of(":dhms") == std::string::npos) ttl = "00:" + ttl;
    DSTIME start(TimeMode::Utc);
    DSTIME end(TimeMode::Utc, start.Instant());
    // A time to live that cannot be computed is refused, never sent wrong.
    bool ok = true;
    if (ttl.find(':') != std::string::npos) {
        ok = end.AddTime(ttl);
    } else {
        if (ttl.find('d') != std::string::npos) ok = ok && end.AddDays(ttl);
        if (ttl.find('h') != std::string::npos) ok = ok && end.AddHours(ttl);
        if (ttl.find('m') != std::string::npos) ok = ok && end.AddMins(ttl);
        if (ttl.find('s') != std::string::npos) ok = ok && end.AddSecs(ttl);
    }
    end.InitDelta(start);
    if (!ok || end.DeltaSeconds() <= 0 || end.DeltaSeconds() > 0x7FFFFFFF)
        return UsageFailureAfterBlank(ErrorBlockText(
            {"Bad time to live for -dynamic: " + parser.GetValue(sw::dynamic) +
             ". Use seconds, a days:hours:minutes:seconds delta, or values such as 7d or 12h."}));
    const std::string seconds = std::to_string(end.DeltaSeconds());
    diag::DebugOut("DEBUG: entryttl=" + seconds + "\n");
    parser.AddArg("entryttl::" + seconds);
    return std::nullopt;
}

std::string RewriteRnpb(const std::string& value) {
    static const std::pair<std::string_view, std::string_view> kAliases[] = {
        {"domainnc", "<DOMAINNC>"},
        {"domaindn", "<DOMAINNC>"},
        {"defaultnc", "<DOMAINNC>"},
        {"users", "CN=Users,<DOMAINNC>"},
        {"fgpp", "CN=Password Settings Container,CN=System,<DOMAINNC>"},
        {"msa", "CN=Managed Service Accounts,<DOMAINNC>"},
        {"rootnc", "<ROOTNC>"},
        {"rootdn", "<ROOTNC>"},
        {"config", "CN=Configuration,<ROOTNC>"},
        {"sites", "CN=Sites,CN=Configuration,<ROOTNC>"},
    };
    std::string lower = StrToLower(value);
    for (const auto& [alias, text] : kAliases)
        if (lower == alias) return std::string(text);
    // Inside a longer value (OU=x,domainnc) the words become placeholders.
    static const std::pair<std::string_view, std::string_view> kWords[] = {
        {"domainnc", "<DOMAINNC>"}, {"domaindn", "<DOMAINNC>"}, {"defaultnc", "<DOMAINNC>"},
        {"rootnc", "<ROOTNC>"},     {"rootdn", "<ROOTNC>"},
    };
    std::string out = value;
    for (const auto& [word, text] : kWords) {
        for (std::size_t at = StrToLower(out).find(word); at != std::string::npos;
             at = StrToLower(out).find(word, at + text.size()))
            out.replace(at, word.size(), text);
    }
    return out;
}

namespace {

// The trailing DC= components of a DN, in any letter case.
std::string DomainOf(const std::string& dn) {
    std::vector<std::string> parts;
    if (!ExplodeDN(dn, parts)) return DNDomainPart(dn);
    std::size_t first = parts.size();
    while (first > 0 && IStartsWith(parts[first - 1], "dc="))
        --first;
    std::vector<std::string> domain(parts.begin() + static_cast<long>(first), parts.end());
    return JoinTokens(",", domain);
}

} // namespace

std::string ResolveRnpb(const std::string& base, const std::string& dn, const std::string& rootNC) {
    std::string out = base;
    if (out.find("<ROOTNC>") != std::string::npos)
        StrReplaceAllEx(out, "<ROOTNC>", rootNC);
    else
        StrReplaceAllEx(out, "<DOMAINNC>", DomainOf(dn));
    return out;
}

std::string FirstRDN(const std::string& dn) {
    std::vector<std::string> parts;
    if (!ExplodeDN(dn, parts) || parts.empty()) return {};
    return parts.front();
}

std::string ParentOf(const std::string& dn) {
    // The first unescaped comma ends the RDN.
    for (std::size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == '\\') {
            ++i;
            continue;
        }
        if (dn[i] == ',') return dn.substr(i + 1);
    }
    return {};
}

namespace {

// "cn=", "ou=", "1.2.3=" ...: an attribute type followed by "=".
bool HasAttributeType(const std::string& text) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    const bool oidForm = std::isdigit(first);
    for (std::size_t i = 0; i < eq; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (oidForm ? !(std::isdigit(c) || c == '.') : !(std::isalnum(c) || c == '-')) return false;
    }
    return oidForm || std::isalpha(first);
}

} // namespace

std::string RenameRDN(const std::string& currentDN, const std::string& newName) {
    if (HasAttributeType(newName)) return newName;
    std::string rdn = FirstRDN(currentDN);
    std::size_t eq = rdn.find('=');
    std::string type = eq == std::string::npos ? "CN=" : rdn.substr(0, eq + 1);
    return type + newName;
}

std::string CutMangledRDN(const std::string& dn) {
    std::size_t mark = StrToLower(dn).find("\\0adel:");
    if (mark != std::string::npos) {
        std::string rdn = dn.substr(0, mark);
        if (ParentOf(rdn).empty()) return rdn;
    }
    return FirstRDN(dn);
}

Step Hackon(LDAP* session, const std::string& serverName) {
    KELVO_TRACE_SCOPE();
    LogLine("Enabling hackon mode...\n");
    int rc = UpdateLDAPString("", "schemaUpgradeInProgress", "1", session);
    if (rc == 0) return std::nullopt;
    const std::uint32_t code = ToWinLdapCode(rc);
    std::string ext;
    (void)GetExtendedError(session, ext);
    std::string text = "Unable to enable hackmode\n";
    text += LDAPErrorLine(static_cast<int>(code), "", serverName);
    text += DiagnosticLines(ext);
    LogLine("ERROR: " + ext);
    text += "\n\nERROR: Too many errors encountered, terminating...\n";
    return Fail(static_cast<int>(code), std::move(text));
}
