#include "Shortcuts.h"

#include "ConsoleOutput.h"
#include "Diag.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <vector>

namespace {

using enum ShortcutArgs;
using enum ShortcutRule;
using enum ShortcutGroup;

// Switch lists the shortcuts share.
constexpr std::array<ShortcutSwitch, 5> kRootDse = {{{sw::rootdse, ""}}};
constexpr std::array<ShortcutSwitch, 5> kRootDseExpand = {
    {{sw::rootdse, ""}, {sw::expand, ""}, {sw::exterr, ""}}};
constexpr std::array<ShortcutSwitch, 5> kRootDseExtErr = {{{sw::rootdse, ""}, {sw::exterr, ""}}};
constexpr std::array<ShortcutSwitch, 5> kCsv = {{{sw::csv, ""}}};
constexpr std::array<ShortcutSwitch, 5> kExtErr = {{{sw::exterr, ""}}};
constexpr std::array<ShortcutSwitch, 5> kBulkUser = {
    {{sw::add, ""}, {sw::expand, ""}, {sw::csv, ""}, {sw::kerbenc, ""}, {sw::exterr, ""}}};
constexpr std::array<ShortcutSwitch, 5> kBulkObject = {
    {{sw::add, ""}, {sw::exterr, ""}, {sw::expand, ""}, {sw::csv, ""}}};
constexpr std::array<ShortcutSwitch, 5> kBulkComputer = {
    {{sw::add, ""}, {sw::kerbenc, ""}, {sw::expand, ""}, {sw::csv, ""}, {sw::exterr, ""}}};

// Each new object is named after the template: its RDN value (or whole RDN)
// with "_" and the counter appended, beside the template.
constexpr std::string_view kNameFromCn = "cn={{*origname*}}_{{*cnt*}},{{*parentdn*}}";
constexpr std::string_view kNameFromRdn = "{{*RDN*}}_{{*cnt*}},{{*parentdn*}}";

// clang-format off
constexpr ShortcutDef kShortcuts[] = {
    // Operational attributes of the RootDSE.
    {.name = "refreshschema", .switches = kRootDse, .actions = {"schemaUpdateNow::1"},
     .help = "Reload the schema cache (schemaUpdateNow::1)."},
    {.name = "hackon", .switches = kRootDse, .actions = {"SchemaUpgradeInProgress::1"},
     .help = "Allow changes to system schema objects (SchemaUpgradeInProgress::1)."},
    {.name = "hackoff", .switches = kRootDse, .actions = {"SchemaUpgradeInProgress::0"},
     .help = "End that (SchemaUpgradeInProgress::0)."},
    {.name = "defrag", .args = One, .argText = "seconds", .switches = kRootDse,
     .actions = {"doOnlineDefrag::{x}"},
     .help = "Online defragmentation for up to that many seconds (doOnlineDefrag)."},
    {.name = "checkphantoms", .switches = kRootDse, .actions = {"checkPhantoms::1"},
     .help = "Check phantom objects (checkPhantoms::1)."},
    {.name = "fixlinks", .switches = kRootDse, .actions = {"doLinkCleanup::1"},
     .help = "Clean up links (doLinkCleanup::1)."},
    {.name = "refreshugc", .switches = kRootDse, .actions = {"updateCachedMemberships::1"},
     .help = "Refresh cached group memberships (updateCachedMemberships::1)."},
    {.name = "xferschema", .switches = kRootDse, .actions = {"becomeSchemaMaster::1"},
     .help = "Take over the schema master role (becomeSchemaMaster::1)."},
    {.name = "xferdm", .switches = kRootDse, .actions = {"becomeDomainMaster::1"},
     .help = "Take over the domain naming master role (becomeDomainMaster::1)."},
    {.name = "xferrid", .switches = kRootDse, .actions = {"becomeRidMaster::1"},
     .help = "Take over the RID master role (becomeRidMaster::1)."},
    {.name = "xferim", .switches = kRootDse, .actions = {"becomeInfrastructureMaster::1"},
     .help = "Take over the infrastructure master role (becomeInfrastructureMaster::1)."},
    {.name = "xferpdc", .args = One, .argText = "domainsid", .switches = kRootDse,
     .actions = {"sid##becomePdc::{x}"},
     .help = "Take over the PDC role of the domain with that SID (becomePdc)."},
    {.name = "ddb", .args = One, .argText = "attrs", .switches = kRootDse,
     .actions = {"dumpDatabase::{x}"},
     .help = "Dump the database with these attributes (dumpDatabase)."},
    {.name = "ddblinks", .switches = kRootDse, .actions = {"dumpLinks::1"},
     .help = "Dump the links (dumpLinks::1)."},
    {.name = "ddbreferences", .args = One, .argText = "x", .switches = kRootDse,
     .actions = {"dumpReferences::{x}"}, .help = "Dump references (dumpReferences)."},
    {.name = "dldapstate", .switches = kRootDse, .actions = {"dumpLDAPState::1"},
     .help = "Dump the LDAP state (dumpLDAPState::1)."},
    {.name = "refreshrid", .args = One, .argText = "domainsid", .switches = kRootDse,
     .actions = {"sid##invalidateRidPool::{x}"},
     .help = "Invalidate the RID pool of the domain with that SID (invalidateRidPool)."},
    {.name = "fi", .switches = kRootDse, .actions = {"fixupInheritance::1"},
     .help = "Fix up inheritance (fixupInheritance::1)."},
    {.name = "rh", .switches = kRootDse, .actions = {"recalcHierarchy::1"},
     .help = "Recalculate the hierarchy (recalcHierarchy::1)."},
    {.name = "gc", .switches = kRootDse, .actions = {"doGarbageCollection::1"},
     .help = "Run garbage collection (doGarbageCollection::1)."},
    {.name = "phantomgc", .switches = kRootDse, .actions = {"doGarbageCollectionPhantomsNow::1"},
     .help = "Collect phantoms now (doGarbageCollectionPhantomsNow::1)."},
    {.name = "igcc", .switches = kRootDse, .actions = {"invalidateGCConnection::1"},
     .help = "Drop the global catalog connection (invalidateGCConnection::1)."},
    {.name = "rsc", .switches = kRootDse, .actions = {"renewServerCertificate::1"},
     .help = "Renew the server certificate (renewServerCertificate::1)."},
    {.name = "rodcpurge", .args = One, .argText = "dn", .switches = kRootDse,
     .actions = {"rODCPurgeAccount::{x}"},
     .help = "Purge an account's secrets from a read-only DC (rODCPurgeAccount)."},
    {.name = "runpag", .switches = kRootDse, .actions = {"runProtectAdminGroupsTask::1"},
     .help = "Run the protect-admin-groups task (runProtectAdminGroupsTask::1)."},
    {.name = "runsamupg", .switches = kRootDse, .actions = {"runSamUpgradeTasks::1"},
     .help = "Run the SAM upgrade tasks (runSamUpgradeTasks::1)."},
    {.name = "rso", .args = Two, .argText = "dsa;dn", .switches = kRootDse,
     .actions = {"replicateSingleObject::{x}:{y}"},
     .help = "Replicate one object from the server whose DSA DN is given "
             "(replicateSingleObject)."},
    {.name = "rsos", .args = Two, .argText = "dsa;dn", .switches = kRootDse,
     .actions = {"replicateSingleObject::{x}:{y}:SECRETS_ONLY"},
     .help = "The same, secrets only."},
    {.name = "removelo", .args = Two, .argText = "dcguid;objguid", .rule = NoSpaces,
     .switches = kRootDse, .actions = {"removeLingeringObject::<GUID={x}> : <GUID={y}>"},
     .help = "Remove a lingering object (removeLingeringObject)."},
    {.name = "enablerecyclebin", .switches = kRootDseExpand,
     .actions = {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:766ddcd8-acd0-445e-f3b9-"
                 "a7f9b6744f2a"},
     .help = "Enable the Recycle Bin optional feature."},
    {.name = "enablepam", .switches = kRootDseExpand,
     .actions = {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:ec43e873-cce8-4640-b4ab-"
                 "07ffe4ab5bcd"},
     .help = "Enable the Privileged Access Management optional feature."},
    {.name = "enableforestfeature", .args = One, .argText = "guid", .switches = kRootDseExpand,
     .actions = {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:{x}"},
     .help = "Enable the optional feature with this GUID for the whole forest."},
    {.name = "enablefeature", .args = Two, .argText = "dn;guid", .switches = kRootDseExtErr,
     .actions = {"enableOptionalFeature::{x}:{y}"},
     .help = "Enable the optional feature guid on the scope dn."},

    // Account control, from the useraccountcontrol column of piped CSV.
    {.name = "uacset", .args = One, .argText = "flag", .rule = UacName, .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:SET:{x}}}"}, .group = Account,
     .help = "Set a userAccountControl flag given by name."},
    {.name = "uacclear", .args = One, .argText = "flag", .rule = UacName, .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:CLR:{x}}}"}, .group = Account,
     .help = "Clear a flag given by name."},
    {.name = "uacsetx", .args = One, .argText = "n", .rule = UacNumber, .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:SET:{x}}}"}, .group = Account,
     .help = "Set the flag bits of the decimal number n."},
    {.name = "uacclearx", .args = One, .argText = "n", .rule = UacNumber, .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:CLR:{x}}}"}, .group = Account,
     .help = "Clear the flag bits of the decimal number n."},
    {.name = "ad-disable", .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:SET:2}}"}, .group = Account,
     .help = "Disable the accounts (set bit 2)."},
    {.name = "ad-enable", .switches = kCsv,
     .actions = {"useraccountcontrol::{{useraccountcontrol:CLR:2}}"}, .group = Account,
     .help = "Enable the accounts (clear bit 2)."},
    {.name = "csh", .switches = kExtErr, .actions = {"sid##sidhistory:--:{{sidhistory}}"},
     .group = Account,
     .help = "Remove the SID history values listed in the sidhistory column "
             "(sid##sidhistory:--:{{sidhistory}}; adds -exterr, not -csv)."},

    // Creating objects.
    {.name = "adau", .args = BulkWith, .argText = "count;pwd;dn", .rule = Password,
     .switches = kBulkUser,
     .actions = {"objectclass::user", "useraccountcontrol::512", "pwdlastset::-1"},
     .bulkName = kNameFromCn, .addsAccountName = true, .group = Create,
     .help = "Enabled users (useraccountcontrol 512, pwdlastset -1), samaccountname set "
             "to their name. An empty pwd gives each user its own random password of 15 to "
             "19 characters; pwd - sets none."},
    {.name = "adamau", .args = BulkWith, .argText = "count;pwd;dn", .rule = Password,
     .switches = kBulkUser, .actions = {"objectclass::user", "msDS-UserAccountDisabled::FALSE"},
     .bulkName = kNameFromCn, .group = Create,
     .help = "AD LDS users, enabled (msDS-UserAccountDisabled FALSE); pwd as for adau."},
    {.name = "adag", .args = BulkWith, .argText = "count;type;dn", .rule = GroupType,
     .switches = kBulkObject, .actions = {"objectclass::group", "grouptype::{y}"},
     .bulkName = kNameFromCn, .group = Create,
     .help = "Groups. type: one of u (universal), g (global) or l (domain local), with s "
             "for a security group (us, gs, ls), or a groupType number."},
    {.name = "adamag", .args = BulkWith, .argText = "count;type;dn", .rule = GroupType,
     .switches = kBulkObject, .actions = {"objectclass::group", "grouptype::{y}"},
     .bulkName = kNameFromCn, .group = Create, .help = "AD LDS groups; type as for adag."},
    {.name = "adac", .args = Bulk, .argText = "count;dn", .switches = kBulkComputer,
     .actions = {"objectclass::computer", "useraccountcontrol::4096",
                 "samaccountname::{{*name*}}$", "unicodepwd::{{*name*}}"},
     .bulkName = kNameFromCn, .group = Create,
     .help = "Computers (samaccountname name$, password name)."},
    {.name = "adaou", .args = Bulk, .argText = "count;dn", .switches = kBulkObject,
     .actions = {"objectclass::organizationalunit"}, .bulkName = kNameFromRdn, .group = Create,
     .help = "Organizational units."},
    {.name = "adamaou", .args = Bulk, .argText = "count;dn", .switches = kBulkObject,
     .actions = {"objectclass::organizationalunit"}, .bulkName = kNameFromRdn, .group = Create,
     .help = "AD LDS organizational units."},
    {.name = "adacon", .args = Bulk, .argText = "count;dn", .switches = kBulkObject,
     .actions = {"objectclass::container"}, .bulkName = kNameFromRdn, .group = Create,
     .help = "Containers."},
    {.name = "adamacon", .args = Bulk, .argText = "count;dn", .switches = kBulkObject,
     .actions = {"objectclass::container"}, .bulkName = kNameFromRdn, .group = Create,
     .help = "AD LDS containers."},
    {.name = "importschema", .args = One, .argText = "file",
     .switches = {{{sw::csvfile, "{x}"}, {sw::add, ""}, {sw::import_, ""},
                   {sw::replacedn, "_schema"}}},
     .group = Create,
     .help = "Import schema objects from a CSV file (-csvfile file -add -import -replacedn "
             "_schema): <SCHEMA> in the file becomes this forest's schema DN."},

    // Security descriptors.
    {.name = "sdreset", .args = Optional, .argText = "class", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETDSD}"},
     .argActions = {"SD##ntsecuritydescriptor::{GETDSD}={x}"}, .group = Descriptor,
     .help = "Reset the descriptor to the default of the object's class, or of the class "
             "given ({GETDSD})."},
    {.name = "sdresetdelprot", .args = Optional, .argText = "class", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETDSD}{+D=(D;;DTSD;;;WD)}"},
     .argActions = {"SD##ntsecuritydescriptor::{GETDSD}={x}{+D=(D;;DTSD;;;WD)}"},
     .group = Descriptor, .help = "The same, plus protection from accidental deletion."},
    {.name = "sddelprot", .alias = "sddelprot+", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{+D=(D;;DTSD;;;WD)}"}, .group = Descriptor,
     .help = "Protect from accidental deletion: deny delete and delete tree to Everyone, "
             "(D;;DTSD;;;WD)."},
    {.name = "sddelprot-", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{-D=(D;;DTSD;;;WD)}{-D=(D;;DCDTSD;;;WD)}"},
     .group = Descriptor, .help = "Remove that protection."},
    {.name = "sdinherit", .alias = "sdinherit+", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{+D=AI()}"}, .group = Descriptor,
     .help = "Inherit permissions from the parent (DACL flags AI)."},
    {.name = "sdinherit-", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{+D=PAI()}"}, .group = Descriptor,
     .help = "Stop inheriting (DACL flags PAI)."},
    {.name = "sd", .args = One, .argText = "mods", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{x}"}, .group = Descriptor,
     .help = "Apply modifiers to the current descriptor, as -sd."},
    {.name = "sdnoi", .args = One, .argText = "value", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{x}"}, .group = Descriptor,
     .help = "Write the value as given, without the current descriptor."},
    {.name = "sdpiped", .args = Optional, .argText = "mods", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{{.}}"},
     .argActions = {"SD##ntsecuritydescriptor::{{.}}{x}"}, .group = Descriptor,
     .help = "Write the descriptor from the ntsecuritydescriptor column of the piped CSV "
             "input, then apply mods."},
    {.name = "sdstrip", .args = One, .argText = "principal", .switches = kExtErr,
     .actions = {"SD##ntsecuritydescriptor::{GETSD}{-D=(*;*;*;*;*;{x})}"}, .group = Descriptor,
     .help = "Remove every explicit DACL ACE of the principal."},

    {.name = "help", .switches = {{{sw::sc_help, ""}}}, .group = Help,
     .help = "Show this help."},
};

// The base switch a container adds when no base was given; an empty base
// puts the container below whatever base the run has.
constexpr ContainerBase kContainerBases[] = {
    {"users", "", "default", "CN=Users", "", "CN=Users of the default naming context."},
    {"dcs", "", "default", "OU=Domain Controllers", "",
     "OU=Domain Controllers of the default naming context."},
    {"fsps", "", "default", "CN=ForeignSecurityPrincipals", "",
     "CN=ForeignSecurityPrincipals of the default naming context."},
    {"msa", "", "default", "CN=Managed Service Accounts", "",
     "CN=Managed Service Accounts of the default naming context."},
    {"gpo", "", "default", "CN=Policies,CN=System", "",
     "CN=Policies,CN=System of the default naming context."},
    {"psocontainer", "fgpp", "default", "CN=Password Settings Container,CN=System", "",
     "CN=Password Settings Container,CN=System of the default naming context."},
    {"quotas", "", "default", "CN=NTDS Quotas", "",
     "CN=NTDS Quotas of the default naming context."},
    {"system", "", "default", "CN=System", "",
     "CN=System of the default naming context, or of the given base."},
    {"domaindns", "", "default", "DC=DomainDnsZones", "",
     "DC=DomainDnsZones of the default naming context."},
    {"forestdns", "", "root", "DC=ForestDnsZones", "",
     "DC=ForestDnsZones of the forest root domain."},
    {"legacydns", "", "default", "CN=MicrosoftDNS,CN=System", "",
     "The DNS zone container under CN=System of the default naming context."},
    {"sites", "", "config", "CN=Sites", "", "CN=Sites of the configuration partition."},
    {"subnets", "", "config", "CN=Subnets,CN=Sites", "",
     "CN=Subnets,CN=Sites of the configuration partition."},
    {"sitelinks", "", "config", "CN=Inter-Site Transports,CN=Sites", "",
     "CN=Inter-Site Transports,CN=Sites of the configuration partition."},
    {"partitions", "", "config", "CN=Partitions", "",
     "CN=Partitions of the configuration partition."},
    {"xrights", "", "config", "CN=Extended-Rights", "",
     "CN=Extended-Rights of the configuration partition."},
    {"displayspecifiers", "", "config", "CN=DisplaySpecifiers", "",
     "CN=DisplaySpecifiers of the configuration partition."},
    {"svcs", "", "config", "CN=Services", "", "CN=Services of the configuration partition."},
    {"ds", "", "config", "CN=Directory Service,CN=Windows NT,CN=Services", "",
     "The directory service settings container under CN=Services."},
    {"ldappolicy", "", "config",
     "CN=Query-Policies,CN=Directory Service,CN=Windows NT,CN=Services", "",
     "The Query-Policies container (LDAP query policies) in the directory service "
     "settings."},
    {"exch", "", "config", "CN=Microsoft Exchange,CN=Services", "",
     "The messaging configuration container under CN=Services."},
    {"delobjs", "do", "", "CN=Deleted Objects", "showdel",
     "CN=Deleted Objects under the current base, with -showdel."},
    {"delobjs+", "do+", "", "CN=Deleted Objects", "showdel+",
     "The same, with -showdel+ (recycled objects too)."},
    {"roles", "", "", "CN=Roles", "", "CN=Roles under the current base (AD LDS)."},
};
// clang-format on

constexpr UacFlag kUacFlags[] = {
    {"accountdisable", 2},
    {"passwd_notreqd", 32},
    {"dont_expire_passwd", 65536},
    {"smartcard_required", 262144},
    {"trusted_for_delegation", 524288},
    {"use_des_key_only", 2097152},
    {"dont_require_preauth", 4194304},
    {"trusted_to_authenticate_for_delegation", 16777216},
};

// The switches that name a base of their own; a container goes below it.
constexpr std::string_view kBaseSwitches[] = {sw::b,    sw::rootdse, sw::default_, sw::config,
                                              sw::root, sw::schema,  sw::null,     sw::hd};

// The arguments of one shortcut: {x}, {y}, {z}.
struct ShortcutArgValues {
    std::string x, y, z;
};

// Replaces {x}, {y} and {z} in one pass; substituted text is not scanned
// again, so arguments may hold braces of their own.
std::string Fill(std::string_view text, const ShortcutArgValues& a) {
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('{', pos);
        if (open == std::string_view::npos || open + 2 >= text.size()) {
            out += text.substr(pos);
            break;
        }
        out += text.substr(pos, open - pos);
        const std::string_view token = text.substr(open, 3);
        if (token == "{x}") {
            out += a.x;
        } else if (token == "{y}") {
            out += a.y;
        } else if (token == "{z}") {
            out += a.z;
        } else {
            out += '{';
            pos = open + 1;
            continue;
        }
        pos = open + 3;
    }
    return out;
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A decimal number of at most 32 bits.
std::optional<std::uint32_t> ParseUnsigned(std::string_view text) {
    if (!AllDigits(text) || text.size() > 10) return std::nullopt;
    const unsigned long long n = std::strtoull(std::string(text).c_str(), nullptr, 10);
    if (n > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

// A groupType: a non-zero number (signed or unsigned 32 bits), or exactly one
// of the scope letters u, g, l, optionally with s for a security group.  The
// value is written as the directory stores it, a signed 32-bit decimal.
std::optional<std::string> GroupTypeValue(std::string_view text) {
    std::string_view digits = text;
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (auto n = ParseUnsigned(digits)) {
        if (*n == 0 || (negative && *n > 0x80000000u)) return std::nullopt;
        const std::uint32_t bits = negative ? 0u - *n : *n;
        return std::to_string(static_cast<std::int32_t>(bits));
    }
    const std::string letters = StrToLower(text);
    if (letters.empty() || letters.find_first_not_of("ugls") != std::string::npos)
        return std::nullopt;
    std::uint32_t bits = 0;
    int scopes = 0;
    constexpr std::pair<char, std::uint32_t> kScopes[] = {{'u', 8}, {'g', 2}, {'l', 4}};
    for (const auto& [letter, scope] : kScopes) {
        if (letters.find(letter) == std::string::npos) continue;
        bits = scope;
        ++scopes;
    }
    if (scopes != 1) return std::nullopt;
    if (letters.find('s') != std::string::npos) bits |= 0x80000000u;
    return std::to_string(static_cast<std::int32_t>(bits));
}

std::optional<std::uint32_t> UacBits(std::string_view name) {
    const std::string lower = StrToLower(name);
    for (const UacFlag& f : kUacFlags)
        if (f.name == lower) return f.bits;
    return std::nullopt;
}

Failure InvalidShortcut(std::string_view text) {
    return UsageFailure(ErrorBlockText({"Invalid Shortcut [" + RedactShortcutValue(text) +
                                        "] or valid shortcut using improper "
                                        "format/parameters."},
                                       ErrorFrame::Spaced));
}

// Splits "name:arguments" at the first ':'.
std::pair<std::string, std::string> SplitShortcut(std::string_view text) {
    TokenVector t;
    GetXTokens(text, ":", t, 2);
    return {StrToLower(t[0]), t[1]};
}

// The bulk arguments: count first, template DN last, and for three-part
// shortcuts everything between as the second part, so a password may hold
// ';'.  A missing part stays empty.
ShortcutArgValues SplitBulk(std::string_view text, bool withMiddle) {
    ShortcutArgValues a;
    const std::size_t first = text.find(';');
    a.x = std::string(text.substr(0, first));
    if (first == std::string_view::npos) return a;
    const std::string_view rest = text.substr(first + 1);
    if (!withMiddle) {
        a.z = std::string(rest);
        return a;
    }
    const std::size_t last = rest.rfind(';');
    if (last == std::string_view::npos) {
        a.y = std::string(rest);
        return a;
    }
    a.y = std::string(rest.substr(0, last));
    a.z = std::string(rest.substr(last + 1));
    return a;
}

// True when an attribute action on `attribute` was given (typed-value
// prefixes such as "sid##" are ignored).
bool HasActionOn(const SwitchParser& parser, std::string_view attribute) {
    std::string delim = parser.GetValueUnescaped(sw::delim);
    if (delim.empty()) delim = ":";
    for (const std::string& arg : parser.SelectedArgs()) {
        std::string_view name = std::string_view(arg).substr(0, arg.find(delim));
        if (const std::size_t hash = name.find("##"); hash != std::string_view::npos)
            name.remove_prefix(hash + 2);
        if (IEquals(name, attribute)) return true;
    }
    return false;
}

void AddSwitches(SwitchParser& parser, const ShortcutDef& def, const ShortcutArgValues& a,
                 std::string_view skip = {}) {
    for (const ShortcutSwitch& s : def.switches) {
        if (s.name.empty()) break;
        if (s.name == skip) continue;
        parser.SetValue(s.name, Fill(s.value, a));
    }
}

template <std::size_t N>
void AddActions(SwitchParser& parser, const std::array<std::string_view, N>& actions,
                const ShortcutArgValues& a) {
    for (std::string_view action : actions) {
        if (action.empty()) break;
        parser.AddArg(Fill(action, a));
    }
}

Step ApplyBulk(SwitchParser& parser, const ShortcutDef& def, std::string_view text,
               std::string_view argText) {
    const bool withMiddle = def.args == ShortcutArgs::BulkWith;
    ShortcutArgValues a = SplitBulk(argText, withMiddle);
    if (a.z.empty()) {
        const std::string y = def.rule == ShortcutRule::Password && !a.y.empty() && !diag::Trace()
                                  ? std::string(kRedacted)
                                  : a.y;
        if (withMiddle)
            return UsageFailure(ErrorBlockText(
                {"Missing template parameter.", "   x = " + a.x, "   y = " + y, "   z = " + a.z}));
        return UsageFailure(
            ErrorBlockText({"Missing template parameter.", "   x = " + a.x, "   z = " + a.z}));
    }
    const auto count = ParseUnsigned(a.x);
    if (!count || *count == 0) return InvalidShortcut(text);
    std::string password;
    if (def.rule == ShortcutRule::GroupType) {
        auto type = GroupTypeValue(a.y);
        if (!type) return InvalidShortcut(text);
        a.y = *type;
    } else if (def.rule == ShortcutRule::Password) {
        if (a.y.empty())
            password = "{{*rnd*:15:20}}";
        else if (a.y != "-")
            password = a.y;
    }
    a.x = std::to_string(*count);

    // One object is the template itself, named by -b.  CSV input would
    // refuse a -b base, so -csv is left out then.
    const bool one = *count < 2;
    AddSwitches(parser, def, a, one ? sw::csv : std::string_view{});
    AddActions(parser, def.actions, a);
    if (def.rule == ShortcutRule::Password && !password.empty())
        parser.AddArg("unicodepwd::" + password);
    if (one) {
        parser.SetValue(sw::b, a.z);
    } else {
        parser.SetValue(sw::autobase, a.x + ":" + a.z);
        if (!parser.IsSwitch(sw::bmod)) parser.SetValue(sw::bmod, def.bulkName);
    }
    if (def.addsAccountName && !HasActionOn(parser, "samaccountname"))
        parser.AddArg("samaccountname::{{*name*}}");
    return std::nullopt;
}

Step ApplyShortcut(SwitchParser& parser) {
    if (!parser.IsSwitch(sw::sc)) return std::nullopt;
    const std::string text = parser.GetValue(sw::sc);
    const auto [name, argText] = SplitShortcut(text);
    const bool hasArgs = text.find(':') != std::string::npos;
    const ShortcutDef* def = FindShortcut(name);
    if (def == nullptr) return InvalidShortcut(text);
    diag::DebugOut("DEBUG: Shortcut " + std::string(def->name) + "\n");

    ShortcutArgValues a;
    switch (def->args) {
    case ShortcutArgs::None:
        if (hasArgs) return InvalidShortcut(text);
        break;
    case ShortcutArgs::One:
        if (argText.empty()) return InvalidShortcut(text);
        a.x = argText;
        break;
    case ShortcutArgs::Optional:
        a.x = argText;
        break;
    case ShortcutArgs::Two: {
        const std::string args =
            def->rule == ShortcutRule::NoSpaces ? StrReplaceAll(argText, " ", "", false) : argText;
        TokenVector t;
        GetXTokens(args, ";", t, 2);
        if (t[0].empty() || t[1].empty()) return InvalidShortcut(text);
        a.x = t[0];
        a.y = t[1];
        break;
    }
    case ShortcutArgs::Bulk:
    case ShortcutArgs::BulkWith:
        return ApplyBulk(parser, *def, text, argText);
    }

    if (def->rule == ShortcutRule::UacName) {
        const auto bits = UacBits(a.x);
        if (!bits) return InvalidShortcut(text);
        a.x = std::to_string(*bits);
    } else if (def->rule == ShortcutRule::UacNumber) {
        const auto bits = ParseUnsigned(a.x);
        if (!bits) return InvalidShortcut(text);
        a.x = std::to_string(*bits);
    }
    AddSwitches(parser, *def, a);
    if (def->args == ShortcutArgs::Optional && !a.x.empty())
        AddActions(parser, def->argActions, a);
    else
        AddActions(parser, def->actions, a);
    return std::nullopt;
}

bool Present(const SwitchParser& parser, const ContainerBase& c) {
    return parser.IsSwitch(c.name) || (!c.alias.empty() && parser.IsSwitch(c.alias));
}

Step ApplyContainerBase(SwitchParser& parser) {
    const ContainerBase* chosen = nullptr;
    for (const ContainerBase& c : kContainerBases) {
        if (!Present(parser, c)) continue;
        if (chosen != nullptr)
            return UsageFailure(
                ErrorBlockText({"Use one container base at a time: -" + std::string(chosen->name) +
                                " and -" + std::string(c.name) + " were both given."}));
        chosen = &c;
    }
    if (chosen == nullptr) return std::nullopt;
    // Some container switches are not in the switch table; they are used up
    // here so that Validate does not report them.  Text they took as a value
    // was meant as an attribute action.
    for (std::string_view n : {chosen->name, chosen->alias}) {
        if (n.empty() || !parser.IsSwitch(n) || FindSwitch(n) != nullptr) continue;
        const std::string value = parser.GetValue(n);
        parser.RemoveSwitch(n);
        if (!value.empty()) parser.AddArg(value);
    }
    bool baseGiven = false;
    for (std::string_view b : kBaseSwitches)
        baseGiven = baseGiven || parser.IsSwitch(b);
    if (!chosen->base.empty() && !baseGiven) parser.SetValue(chosen->base, "");
    const std::string rb = parser.GetValue(sw::rb);
    parser.SetValue(sw::rb,
                    rb.empty() ? std::string(chosen->part) : rb + "," + std::string(chosen->part));
    if (!chosen->shows.empty()) parser.SetValue(chosen->shows, "");
    return std::nullopt;
}

Step ApplyPasswords(SwitchParser& parser) {
    constexpr std::string_view kPasswordSwitches[] = {sw::chgpwd, sw::changepwd, sw::setpwd};
    std::string_view given;
    for (std::string_view n : kPasswordSwitches) {
        if (!parser.IsSwitch(n)) continue;
        if (!given.empty())
            return UsageFailure(ErrorBlockText({"Use one of -chgpwd, -changepwd and -setpwd: -" +
                                                std::string(given) + " and -" + std::string(n) +
                                                " were both given."}));
        given = n;
    }
    if (given.empty()) return std::nullopt;
    const std::string value = parser.GetValue(given);
    if (given == sw::setpwd) {
        // An empty value is reported by Validate as a missing value.
        if (value.empty()) return std::nullopt;
        parser.SetValue(sw::optenc, "");
        parser.AddArg("unicodepwd::" + value);
        return std::nullopt;
    }
    TokenVector t;
    GetXTokens(value, ":", t, 2);
    const std::string& oldPassword = t[0];
    const std::string& newPassword = t[1];
    if (newPassword.empty())
        return UsageFailure(ErrorBlockText(
            {"Missing New Password parameter.", " Format: oldpassword:newpassword",
             "   Old Password = " + RedactValue(given, oldPassword),
             "   New Password = " + newPassword, "New Password must have a value."}));
    parser.SetValue(sw::optenc, "");
    parser.AddArg("unicodepwd:-:" + oldPassword);
    parser.AddArg("unicodepwd:+:" + newPassword);
    return std::nullopt;
}

} // namespace

std::span<const ShortcutDef> Shortcuts() {
    return kShortcuts;
}

const ShortcutDef* FindShortcut(std::string_view name) {
    for (const ShortcutDef& def : kShortcuts)
        if (IEquals(def.name, name) || (!def.alias.empty() && IEquals(def.alias, name)))
            return &def;
    return nullptr;
}

std::string ShortcutTerm(const ShortcutDef& def) {
    std::string term(def.name);
    if (!def.alias.empty()) term += ", " + std::string(def.alias);
    if (def.args == ShortcutArgs::Optional)
        term += "[:" + std::string(def.argText) + "]";
    else if (def.args != ShortcutArgs::None)
        term += ":" + std::string(def.argText);
    return term;
}

std::span<const ContainerBase> ContainerBases() {
    return kContainerBases;
}

bool IsContainerBaseSwitch(std::string_view name) {
    for (const ContainerBase& c : kContainerBases)
        if (IEquals(c.name, name) || (!c.alias.empty() && IEquals(c.alias, name))) return true;
    return false;
}

std::span<const UacFlag> UacFlags() {
    return kUacFlags;
}

Step ProcessShortcuts(SwitchParser& parser) {
    KELVO_TRACE_SCOPE();
    if (Step r = ApplyShortcut(parser)) return r;
    if (Step r = ApplyContainerBase(parser)) return r;
    return ApplyPasswords(parser);
}

std::string RedactShortcutValue(std::string_view value) {
    if (diag::Trace()) return std::string(value);
    const auto [name, argText] = SplitShortcut(value);
    const ShortcutDef* def = FindShortcut(name);
    if (def == nullptr || def->rule != ShortcutRule::Password) return std::string(value);
    const std::size_t first = argText.find(';');
    const std::size_t last = argText.rfind(';');
    if (first == std::string::npos || first == last || last == first + 1 ||
        argText.substr(first + 1, last - first - 1) == "-")
        return std::string(value);
    const std::size_t cut = value.size() - argText.size();
    return std::string(value.substr(0, cut + first + 1)) + std::string(kRedacted) +
           std::string(value.substr(cut + last));
}
