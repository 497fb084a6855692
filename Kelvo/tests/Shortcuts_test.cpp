#include "Shortcuts.h"

#include "HelpText.h"
#include "SwitchParser.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Switches = std::map<std::string, std::string>;
using Actions = std::vector<std::string>;

SwitchParser Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kelvo");
    return SwitchParser(args, SwitchDeclarations());
}

// What -po shows after the expansion: the switches and the actions.
struct Expanded {
    Step step;
    Switches switches;
    Actions actions;
};

Expanded Expand(std::vector<std::string> args) {
    SwitchParser p = Parse(std::move(args));
    Expanded e{ProcessShortcuts(p), p.SelectedSwitches(), p.SelectedArgs()};
    return e;
}

// A shortcut, the switches it adds (besides -sc itself) and its actions.
struct Case {
    std::string value;
    Switches added;
    Actions actions;
};

void ExpectExpansions(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Expanded e = Expand({"-sc", c.value});
        ASSERT_FALSE(e.step.has_value()) << e.step->text;
        Switches want = c.added;
        want["sc"] = c.value;
        EXPECT_EQ(e.switches, want);
        EXPECT_EQ(e.actions, c.actions);
    }
}

const Switches kRootDse = {{"rootdse", ""}};
const Switches kRootDseExpand = {{"rootdse", ""}, {"expand", ""}, {"exterr", ""}};
const Switches kCsv = {{"csv", ""}};
const Switches kExtErr = {{"exterr", ""}};

TEST(Shortcuts, RootDseOperations) {
    ExpectExpansions({
        {"refreshschema", kRootDse, {"schemaUpdateNow::1"}},
        {"RefreshSchema", kRootDse, {"schemaUpdateNow::1"}},
        {"hackon", kRootDse, {"SchemaUpgradeInProgress::1"}},
        {"hackoff", kRootDse, {"SchemaUpgradeInProgress::0"}},
        {"defrag:300", kRootDse, {"doOnlineDefrag::300"}},
        {"checkphantoms", kRootDse, {"checkPhantoms::1"}},
        {"fixlinks", kRootDse, {"doLinkCleanup::1"}},
        {"refreshugc", kRootDse, {"updateCachedMemberships::1"}},
        {"xferschema", kRootDse, {"becomeSchemaMaster::1"}},
        {"xferdm", kRootDse, {"becomeDomainMaster::1"}},
        {"xferrid", kRootDse, {"becomeRidMaster::1"}},
        {"xferim", kRootDse, {"becomeInfrastructureMaster::1"}},
        {"xferpdc:S-1-5-21-1-2-3", kRootDse, {"sid##becomePdc::S-1-5-21-1-2-3"}},
        {"ddb:cn,name", kRootDse, {"dumpDatabase::cn,name"}},
        {"ddblinks", kRootDse, {"dumpLinks::1"}},
        {"ddbreferences:x", kRootDse, {"dumpReferences::x"}},
        {"dldapstate", kRootDse, {"dumpLDAPState::1"}},
        {"refreshrid:S-1-5-21-9", kRootDse, {"sid##invalidateRidPool::S-1-5-21-9"}},
        {"fi", kRootDse, {"fixupInheritance::1"}},
        {"rh", kRootDse, {"recalcHierarchy::1"}},
        {"gc", kRootDse, {"doGarbageCollection::1"}},
        {"phantomgc", kRootDse, {"doGarbageCollectionPhantomsNow::1"}},
        {"igcc", kRootDse, {"invalidateGCConnection::1"}},
        {"rsc", kRootDse, {"renewServerCertificate::1"}},
        {"rodcpurge:cn=u,dc=x", kRootDse, {"rODCPurgeAccount::cn=u,dc=x"}},
        {"runpag", kRootDse, {"runProtectAdminGroupsTask::1"}},
        {"runsamupg", kRootDse, {"runSamUpgradeTasks::1"}},
        {"rso:cn=ntds settings,cn=dc1;cn=u,dc=x",
         kRootDse,
         {"replicateSingleObject::cn=ntds settings,cn=dc1:cn=u,dc=x"}},
        {"rsos:dsa;cn=u", kRootDse, {"replicateSingleObject::dsa:cn=u:SECRETS_ONLY"}},
        {"removelo: 1111-22 ; 3333-44 ",
         kRootDse,
         {"removeLingeringObject::<GUID=1111-22> : <GUID=3333-44>"}},
        {"enablerecyclebin",
         kRootDseExpand,
         {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:"
          "766ddcd8-acd0-445e-f3b9-a7f9b6744f2a"}},
        {"enablepam",
         kRootDseExpand,
         {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:"
          "ec43e873-cce8-4640-b4ab-07ffe4ab5bcd"}},
        {"enableforestfeature:1234",
         kRootDseExpand,
         {"enableOptionalFeature::CN=Partitions,{{*confignc*}}:1234"}},
        {"enablefeature:cn=scope;1234",
         {{"rootdse", ""}, {"exterr", ""}},
         {"enableOptionalFeature::cn=scope:1234"}},
    });
}

TEST(Shortcuts, AccountControlAndSidHistory) {
    ExpectExpansions({
        {"uacclear:PASSWD_NOTREQD", kCsv, {"useraccountcontrol::{{useraccountcontrol:CLR:32}}"}},
        {"uacset:accountdisable", kCsv, {"useraccountcontrol::{{useraccountcontrol:SET:2}}"}},
        {"uacset:trusted_to_authenticate_for_delegation",
         kCsv,
         {"useraccountcontrol::{{useraccountcontrol:SET:16777216}}"}},
        {"uacset:dont_expire_passwd",
         kCsv,
         {"useraccountcontrol::{{useraccountcontrol:SET:65536}}"}},
        {"uacsetx:4096", kCsv, {"useraccountcontrol::{{useraccountcontrol:SET:4096}}"}},
        {"uacclearx:0032", kCsv, {"useraccountcontrol::{{useraccountcontrol:CLR:32}}"}},
        {"ad-disable", kCsv, {"useraccountcontrol::{{useraccountcontrol:SET:2}}"}},
        {"ad-enable", kCsv, {"useraccountcontrol::{{useraccountcontrol:CLR:2}}"}},
        {"csh", kExtErr, {"sid##sidhistory:--:{{sidhistory}}"}},
    });
}

TEST(Shortcuts, EveryAccountControlNameHasItsBit) {
    const std::map<std::string, std::string> bits = {
        {"accountdisable", "2"},
        {"passwd_notreqd", "32"},
        {"dont_expire_passwd", "65536"},
        {"smartcard_required", "262144"},
        {"trusted_for_delegation", "524288"},
        {"use_des_key_only", "2097152"},
        {"dont_require_preauth", "4194304"},
        {"trusted_to_authenticate_for_delegation", "16777216"}};
    ASSERT_EQ(UacFlags().size(), bits.size());
    for (const auto& [name, n] : bits) {
        Expanded e = Expand({"-sc", "uacset:" + name});
        ASSERT_FALSE(e.step.has_value()) << name;
        EXPECT_EQ(e.actions, Actions{"useraccountcontrol::{{useraccountcontrol:SET:" + n + "}}"});
    }
}

TEST(Shortcuts, Descriptors) {
    const std::string sd = "SD##ntsecuritydescriptor::";
    ExpectExpansions({
        {"sdreset", kExtErr, {sd + "{GETDSD}"}},
        {"sdreset:user", kExtErr, {sd + "{GETDSD}=user"}},
        {"sdresetdelprot", kExtErr, {sd + "{GETDSD}{+D=(D;;DTSD;;;WD)}"}},
        {"sdresetdelprot:organizationalUnit",
         kExtErr,
         {sd + "{GETDSD}=organizationalUnit{+D=(D;;DTSD;;;WD)}"}},
        {"sddelprot", kExtErr, {sd + "{GETSD}{+D=(D;;DTSD;;;WD)}"}},
        {"sddelprot+", kExtErr, {sd + "{GETSD}{+D=(D;;DTSD;;;WD)}"}},
        {"sddelprot-", kExtErr, {sd + "{GETSD}{-D=(D;;DTSD;;;WD)}{-D=(D;;DCDTSD;;;WD)}"}},
        {"sdinherit", kExtErr, {sd + "{GETSD}{+D=AI()}"}},
        {"sdinherit+", kExtErr, {sd + "{GETSD}{+D=AI()}"}},
        {"sdinherit-", kExtErr, {sd + "{GETSD}{+D=PAI()}"}},
        // Arguments keep their own braces and colons; {x} inside them is text.
        {"sd:{+D=(A;;RP;;;AU)}", kExtErr, {sd + "{GETSD}{+D=(A;;RP;;;AU)}"}},
        {"sd:{x}:{y}", kExtErr, {sd + "{GETSD}{x}:{y}"}},
        {"sdnoi:O:DAG:DAD:(A;;GA;;;SY)", kExtErr, {sd + "O:DAG:DAD:(A;;GA;;;SY)"}},
        {"sdpiped", kExtErr, {sd + "{{.}}"}},
        {"sdpiped:{-D=(*;*;*;*;*;AO)}", kExtErr, {sd + "{{.}}{-D=(*;*;*;*;*;AO)}"}},
        {"sdstrip:AU", kExtErr, {sd + "{GETSD}{-D=(*;*;*;*;*;AU)}"}},
    });
}

TEST(Shortcuts, HelpAndImport) {
    ExpectExpansions({
        {"help", {{"sc?", ""}}, {}},
        {"importschema:/tmp/schema.csv",
         {{"csvfile", "/tmp/schema.csv"}, {"add", ""}, {"import", ""}, {"replacedn", "_schema"}},
         {}},
    });
}

const Switches kUserSwitches = {
    {"add", ""}, {"expand", ""}, {"csv", ""}, {"kerbenc", ""}, {"exterr", ""}};

TEST(Shortcuts, BulkUsers) {
    const std::string bmod = "cn={{*origname*}}_{{*cnt*}},{{*parentdn*}}";
    Switches many = kUserSwitches;
    many["autobase"] = "1000:cn=u,cn=users,dc=x";
    many["bmod"] = bmod;
    // One object: the template itself through -b, without -csv, which
    // refuses a base.
    Switches one = kUserSwitches;
    one.erase("csv");
    one["b"] = "cn=u,cn=users,dc=x";
    const Actions user = {"objectclass::user", "useraccountcontrol::512", "pwdlastset::-1"};
    auto with = [](Actions a, std::initializer_list<std::string> more) {
        a.insert(a.end(), more);
        return a;
    };
    ExpectExpansions({
        {"adau:1000;;cn=u,cn=users,dc=x", many,
         with(user, {"unicodepwd::{{*rnd*:15:20}}", "samaccountname::{{*name*}}"})},
        {"adau:1000;-;cn=u,cn=users,dc=x", many, with(user, {"samaccountname::{{*name*}}"})},
        {"adau:1;P@ss;w0rd;cn=u,cn=users,dc=x", one,
         with(user, {"unicodepwd::P@ss;w0rd", "samaccountname::{{*name*}}"})},
    });
    Switches ldsMany = many;
    ldsMany["autobase"] = "5:cn=u,o=lds";
    ExpectExpansions({
        {"adamau:5;;cn=u,o=lds",
         ldsMany,
         {"objectclass::user", "msDS-UserAccountDisabled::FALSE", "unicodepwd::{{*rnd*:15:20}}"}},
    });
}

TEST(Shortcuts, BulkKeepsTheCallersNamingAndAccountName) {
    Expanded e = Expand({"-sc", "adau:3;-;cn=u,dc=x", "-bmod", "cn=mine_{{*cnt*}},dc=x",
                         "sAMAccountName::fixed{{*cnt*}}"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_EQ(e.switches["bmod"], "cn=mine_{{*cnt*}},dc=x");
    EXPECT_EQ(e.actions, (Actions{"sAMAccountName::fixed{{*cnt*}}", "objectclass::user",
                                  "useraccountcontrol::512", "pwdlastset::-1"}));
    // The action check follows -delim and skips typed-value prefixes.
    e = Expand({"-sc", "adau:3;-;cn=u,dc=x", "-delim", "|", "txt##samaccountname||x"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_EQ(e.actions.back(), "pwdlastset::-1");
}

TEST(Shortcuts, BulkGroups) {
    struct GroupCase {
        std::string type;
        std::string value;
    };
    const GroupCase kTypes[] = {{"gs", "-2147483646"},
                                {"us", "-2147483640"},
                                {"ls", "-2147483644"},
                                {"SG", "-2147483646"},
                                {"g", "2"},
                                {"u", "8"},
                                {"l", "4"},
                                {"8", "8"},
                                {"-2147483646", "-2147483646"},
                                {"2147483650", "-2147483646"}};
    const Switches kGroupSwitches = {{"add", ""},
                                     {"exterr", ""},
                                     {"expand", ""},
                                     {"csv", ""},
                                     {"autobase", "10:cn=g,dc=x"},
                                     {"bmod", "cn={{*origname*}}_{{*cnt*}},{{*parentdn*}}"}};
    for (const char* name : {"adag", "adamag"}) {
        for (const GroupCase& t : kTypes) {
            ExpectExpansions({{std::string(name) + ":10;" + t.type + ";cn=g,dc=x",
                               kGroupSwitches,
                               {"objectclass::group", "grouptype::" + t.value}}});
        }
    }
}

TEST(Shortcuts, BulkComputersOusAndContainers) {
    const Switches kObject = {{"add", ""}, {"exterr", ""}, {"expand", ""}, {"csv", ""}};
    const std::string rdnName = "{{*RDN*}}_{{*cnt*}},{{*parentdn*}}";
    Switches computers = {{"add", ""},
                          {"kerbenc", ""},
                          {"expand", ""},
                          {"csv", ""},
                          {"exterr", ""},
                          {"autobase", "20:cn=pc,ou=lab,dc=x"},
                          {"bmod", "cn={{*origname*}}_{{*cnt*}},{{*parentdn*}}"}};
    Switches ous = kObject;
    ous["autobase"] = "3:ou=t,dc=x";
    ous["bmod"] = rdnName;
    Switches oneOu = kObject;
    oneOu.erase("csv");
    oneOu["b"] = "ou=t,dc=x";
    ExpectExpansions({
        {"adac:20;cn=pc,ou=lab,dc=x",
         computers,
         {"objectclass::computer", "useraccountcontrol::4096", "samaccountname::{{*name*}}$",
          "unicodepwd::{{*name*}}"}},
        {"adaou:3;ou=t,dc=x", ous, {"objectclass::organizationalunit"}},
        {"adamaou:3;ou=t,dc=x", ous, {"objectclass::organizationalunit"}},
        {"adaou:1;ou=t,dc=x", oneOu, {"objectclass::organizationalunit"}},
        {"adacon:3;ou=t,dc=x", ous, {"objectclass::container"}},
        {"adamacon:3;ou=t,dc=x", ous, {"objectclass::container"}},
    });
}

// The error text of a refused switch set.
struct ErrorCase {
    std::vector<std::string> args;
    std::vector<std::string> lines; // each must appear in the text
};

void ExpectErrors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        Expanded e = Expand(c.args);
        ASSERT_TRUE(e.step.has_value());
        EXPECT_EQ(e.step->exitCode, 1);
        for (const std::string& line : c.lines)
            EXPECT_NE(e.step->text.find(line), std::string::npos) << e.step->text;
        EXPECT_TRUE(
            e.step->text.ends_with("Type Kelvo /help or Kelvo /? for usage assistance.\n\n"));
    }
}

std::string Invalid(const std::string& text) {
    return "ERROR: \nERROR: Invalid Shortcut [" + text +
           "] or valid shortcut using improper format/parameters.\nERROR: \n";
}

TEST(Shortcuts, WrongNamesAndArgumentsAreInvalid) {
    const std::vector<std::string> kInvalid = {
        "",                     // no name
        "nosuchthing",          // unknown
        "refreshschema:1",      // takes no argument
        "defrag",               // needs one
        "defrag:",              //
        "xferpdc:",             //
        "rso:dsa",              // needs two
        "rso:;cn=u",            //
        "removelo: ; ",         // nothing left without the spaces
        "enablefeature:cn=x;",  //
        "uacset:nosuchflag",    // unknown flag name
        "uacset:2",             // a number is uacsetx
        "uacsetx:disable",      // not a number
        "uacclearx:4294967296", // more than 32 bits
        "sd",                   // needs modifiers
        "sdstrip:",             //
        "importschema",         //
        "adau:0;;cn=u,dc=x",    // a count of at least 1
        "adau:ten;;cn=u,dc=x",  //
        "adaou:-3;ou=t,dc=x",   //
        "adag:5;;cn=g,dc=x",    // a group type is needed
        "adag:5;s;cn=g,dc=x",   // security alone has no scope
        "adag:5;ug;cn=g,dc=x",  // two scopes
        "adag:5;global;cn=g,dc=x",
        "adag:5;0;cn=g,dc=x",
    };
    for (const std::string& v : kInvalid) {
        ExpectErrors({{{"-sc", v}, {Invalid(v)}}});
    }
    // A refused shortcut adds nothing.
    Expanded e = Expand({"-sc", "uacset:nosuchflag"});
    EXPECT_EQ(e.switches.size(), 1u);
    EXPECT_TRUE(e.actions.empty());
}

TEST(Shortcuts, MissingTemplateShowsTheParts) {
    ExpectErrors({
        {{"-sc", "adau:10;;"},
         {"ERROR:\nERROR: Missing template parameter.\nERROR:    x = 10\nERROR:    y = \n"
          "ERROR:    z = \nERROR:\n"}},
        {{"-sc", "adau:10"}, {"ERROR: Missing template parameter.\nERROR:    x = 10\n"}},
        // The password is not shown.
        {{"-sc", "adau:10;Secret1"}, {"ERROR:    y = ********\nERROR:    z = \n"}},
        {{"-sc", "adac:5"},
         {"ERROR:\nERROR: Missing template parameter.\nERROR:    x = 5\nERROR:    z = \n"
          "ERROR:\n"}},
        {{"-sc", "adaou:"}, {"ERROR:    x = \nERROR:    z = \n"}},
    });
    Expanded e = Expand({"-sc", "adau:10;Secret1"});
    EXPECT_EQ(e.step->text.find("Secret1"), std::string::npos);
}

// A container switch, other switches given with it, and the result.
struct BaseCase {
    std::vector<std::string> args;
    Switches want; // the switches afterwards, -rb among them
};

TEST(Shortcuts, ContainerBases) {
    const std::vector<BaseCase> kCases = {
        {{"-users"}, {{"users", ""}, {"default", ""}, {"rb", "CN=Users"}}},
        {{"-users", "-rb", "cn=admin"},
         {{"users", ""}, {"default", ""}, {"rb", "cn=admin,CN=Users"}}},
        {{"-dcs"}, {{"dcs", ""}, {"default", ""}, {"rb", "OU=Domain Controllers"}}},
        {{"-fsps"}, {{"fsps", ""}, {"default", ""}, {"rb", "CN=ForeignSecurityPrincipals"}}},
        {{"-gpo"}, {{"gpo", ""}, {"default", ""}, {"rb", "CN=Policies,CN=System"}}},
        {{"-psocontainer"},
         {{"psocontainer", ""},
          {"default", ""},
          {"rb", "CN=Password Settings Container,CN=System"}}},
        {{"-fgpp"},
         {{"fgpp", ""}, {"default", ""}, {"rb", "CN=Password Settings Container,CN=System"}}},
        {{"-quotas"}, {{"quotas", ""}, {"default", ""}, {"rb", "CN=NTDS Quotas"}}},
        {{"-domaindns"}, {{"domaindns", ""}, {"default", ""}, {"rb", "DC=DomainDnsZones"}}},
        {{"-legacydns"}, {{"legacydns", ""}, {"default", ""}, {"rb", "CN=MicrosoftDNS,CN=System"}}},
        {{"-forestdns"}, {{"forestdns", ""}, {"root", ""}, {"rb", "DC=ForestDnsZones"}}},
        {{"-sites"}, {{"sites", ""}, {"config", ""}, {"rb", "CN=Sites"}}},
        {{"-subnets"}, {{"subnets", ""}, {"config", ""}, {"rb", "CN=Subnets,CN=Sites"}}},
        {{"-sitelinks"},
         {{"sitelinks", ""}, {"config", ""}, {"rb", "CN=Inter-Site Transports,CN=Sites"}}},
        {{"-partitions"}, {{"partitions", ""}, {"config", ""}, {"rb", "CN=Partitions"}}},
        {{"-xrights"}, {{"xrights", ""}, {"config", ""}, {"rb", "CN=Extended-Rights"}}},
        {{"-displayspecifiers"},
         {{"displayspecifiers", ""}, {"config", ""}, {"rb", "CN=DisplaySpecifiers"}}},
        {{"-svcs"}, {{"svcs", ""}, {"config", ""}, {"rb", "CN=Services"}}},
        {{"-ds"},
         {{"ds", ""}, {"config", ""}, {"rb", "CN=Directory Service,CN=Windows NT,CN=Services"}}},
        {{"-ldappolicy"},
         {{"ldappolicy", ""},
          {"config", ""},
          {"rb", "CN=Query-Policies,CN=Directory Service,CN=Windows NT,CN=Services"}}},
        {{"-exch"}, {{"exch", ""}, {"config", ""}, {"rb", "CN=Microsoft Exchange,CN=Services"}}},
        {{"-system"}, {{"system", ""}, {"default", ""}, {"rb", "CN=System"}}},
        // Below the current base.
        {{"-delobjs", "-default"},
         {{"delobjs", ""}, {"default", ""}, {"showdel", ""}, {"rb", "CN=Deleted Objects"}}},
        {{"-do"}, {{"do", ""}, {"showdel", ""}, {"rb", "CN=Deleted Objects"}}},
        {{"-delobjs+", "-config"},
         {{"delobjs+", ""}, {"config", ""}, {"showdel+", ""}, {"rb", "CN=Deleted Objects"}}},
        {{"-roles", "-b", "o=lds"}, {{"roles", ""}, {"b", "o=lds"}, {"rb", "CN=Roles"}}},
        // A base given by the user stays the base.
        {{"-system", "-config"}, {{"system", ""}, {"config", ""}, {"rb", "CN=System"}}},
        {{"-users", "-b", "dc=x"}, {{"users", ""}, {"b", "dc=x"}, {"rb", "CN=Users"}}},
        {{"-sites", "-root"}, {{"sites", ""}, {"root", ""}, {"rb", "CN=Sites"}}},
        {{"-users", "-hd", "dc1"}, {{"users", ""}, {"hd", "dc1"}, {"rb", "CN=Users"}}},
        // Not in the switch table: used up here, a value it took becomes an
        // attribute action.
        {{"-msa"}, {{"default", ""}, {"rb", "CN=Managed Service Accounts"}}},
        {{"-do+"}, {{"showdel+", ""}, {"rb", "CN=Deleted Objects"}}},
    };
    for (const BaseCase& c : kCases) {
        SCOPED_TRACE(c.args.front());
        Expanded e = Expand(c.args);
        ASSERT_FALSE(e.step.has_value()) << e.step->text;
        EXPECT_EQ(e.switches, c.want);
        EXPECT_TRUE(e.actions.empty());
    }
    Expanded e = Expand({"-rb", "cn=x", "-msa", "description::y"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_FALSE(e.switches.contains("msa"));
    EXPECT_EQ(e.switches["rb"], "cn=x,CN=Managed Service Accounts");
    EXPECT_EQ(e.actions, Actions{"description::y"});
}

TEST(Shortcuts, EveryContainerSwitchIsHandled) {
    for (const ContainerBase& c : ContainerBases()) {
        for (std::string_view name : {c.name, c.alias}) {
            if (name.empty()) continue;
            SCOPED_TRACE(name);
            Expanded e = Expand({"-" + std::string(name)});
            ASSERT_FALSE(e.step.has_value());
            EXPECT_EQ(e.switches["rb"], c.part);
            EXPECT_TRUE(IsContainerBaseSwitch(name));
        }
    }
    EXPECT_FALSE(IsContainerBaseSwitch("default"));
}

TEST(Shortcuts, OneContainerAtATime) {
    ExpectErrors({
        {{"-users", "-dcs"}, {"ERROR: Use one container base at a time: -users and -dcs"}},
        {{"-delobjs", "-delobjs+"}, {"-delobjs and -delobjs+ were both given."}},
    });
    // Two names of one container are one container.
    Expanded e = Expand({"-do", "-delobjs"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_EQ(e.switches["rb"], "CN=Deleted Objects");
}

TEST(Shortcuts, ShortcutAndContainerTogether) {
    Expanded e = Expand({"-sc", "sddelprot", "-users", "-rb", "ou=a"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_EQ(e.switches["rb"], "ou=a,CN=Users");
    EXPECT_TRUE(e.switches.contains("default"));
    EXPECT_TRUE(e.switches.contains("exterr"));
    EXPECT_EQ(e.actions.size(), 1u);
}

TEST(Shortcuts, Passwords) {
    struct PasswordCase {
        std::vector<std::string> args;
        Actions actions;
    };
    const std::vector<PasswordCase> kCases = {
        {{"-chgpwd", "Old1:New2"}, {"unicodepwd:-:Old1", "unicodepwd:+:New2"}},
        {{"-changepwd", "Old1:New:2"}, {"unicodepwd:-:Old1", "unicodepwd:+:New:2"}},
        {{"-chgpwd", ":New2"}, {"unicodepwd:-:", "unicodepwd:+:New2"}},
        {{"-setpwd", "N3w;pass"}, {"unicodepwd::N3w;pass"}},
    };
    for (const PasswordCase& c : kCases) {
        SCOPED_TRACE(c.args.front());
        Expanded e = Expand(c.args);
        ASSERT_FALSE(e.step.has_value()) << e.step->text;
        EXPECT_TRUE(e.switches.contains("optenc"));
        EXPECT_EQ(e.actions, c.actions);
    }
    // An empty -setpwd is left for Validate to report as a missing value.
    Expanded e = Expand({"-setpwd"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_TRUE(e.actions.empty());
    EXPECT_FALSE(e.switches.contains("optenc"));
}

TEST(Shortcuts, PasswordChecks) {
    const std::string missing = "ERROR:\nERROR: Missing New Password parameter.\n"
                                "ERROR:  Format: oldpassword:newpassword\n";
    ExpectErrors({
        {{"-chgpwd", "Old1"},
         {missing + "ERROR:    Old Password = ********\nERROR:    New Password = \n"
                    "ERROR: New Password must have a value.\nERROR:\n"}},
        {{"-changepwd", "Old1:"}, {missing}},
        {{"-chgpwd", ""}, {missing + "ERROR:    Old Password = \n"}},
        {{"-chgpwd", "a:b", "-setpwd", "c"}, {"-chgpwd and -setpwd were both given."}},
        {{"-chgpwd", "a:b", "-changepwd", "a:b"}, {"-chgpwd and -changepwd were both given."}},
    });
    Expanded e = Expand({"-chgpwd", "Old1"});
    EXPECT_EQ(e.step->text.find("Old1"), std::string::npos);
}

TEST(Shortcuts, NothingToDoLeavesTheSwitchSetAlone) {
    Expanded e = Expand({"-b", "cn=x,dc=y", "-rb", "ou=a", "description::x"});
    ASSERT_FALSE(e.step.has_value());
    EXPECT_EQ(e.switches, (Switches{{"b", "cn=x,dc=y"}, {"rb", "ou=a"}}));
    EXPECT_EQ(e.actions, Actions{"description::x"});
}

TEST(Shortcuts, RedactsBulkPasswordsOnly) {
    const std::pair<std::string, std::string> kCases[] = {
        {"adau:10;Secret;x;cn=u,dc=x", "adau:10;********;cn=u,dc=x"},
        {"ADAMAU:2;pw;cn=u", "ADAMAU:2;********;cn=u"},
        {"adau:10;;cn=u,dc=x", "adau:10;;cn=u,dc=x"},
        {"adau:10;-;cn=u,dc=x", "adau:10;-;cn=u,dc=x"},
        {"adag:10;gs;cn=g,dc=x", "adag:10;gs;cn=g,dc=x"},
        {"refreshschema", "refreshschema"},
        {"nosuch:a;b;c", "nosuch:a;b;c"},
    };
    for (const auto& [value, shown] : kCases)
        EXPECT_EQ(RedactShortcutValue(value), shown) << value;
}

TEST(Shortcuts, TableRowsAreCompleteAndDistinct) {
    std::set<std::string> names;
    for (const ShortcutDef& def : Shortcuts()) {
        SCOPED_TRACE(def.name);
        EXPECT_FALSE(def.help.empty());
        EXPECT_TRUE(names.insert(std::string(def.name)).second);
        if (!def.alias.empty()) {
            EXPECT_TRUE(names.insert(std::string(def.alias)).second);
        }
        EXPECT_EQ(FindShortcut(def.name), &def);
        for (const ShortcutSwitch& s : def.switches) {
            if (!s.name.empty()) {
                EXPECT_NE(FindSwitch(s.name), nullptr) << s.name;
            }
        }
        const bool bulk = def.args == ShortcutArgs::Bulk || def.args == ShortcutArgs::BulkWith;
        EXPECT_EQ(bulk, !def.bulkName.empty());
        EXPECT_EQ(def.args == ShortcutArgs::Optional, !def.argActions[0].empty());
    }
    for (const ContainerBase& c : ContainerBases()) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.help.empty());
        EXPECT_TRUE(c.base.empty() || FindSwitch(c.base) != nullptr);
        EXPECT_TRUE(c.shows.empty() || FindSwitch(c.shows) != nullptr);
    }
}

TEST(Shortcuts, HelpListsEveryRowOfTheTables) {
    const std::string help = ComposeHelp(HelpMode::Shortcuts, "1.0");
    for (const ShortcutDef& def : Shortcuts()) {
        // A long term has its description on the next line.
        // A long term has its description on the next line; "fi" must not
        // be found as the start of "fixlinks".
        const std::string row = "\n   " + ShortcutTerm(def);
        bool found = false;
        for (std::size_t at = help.find(row); at != std::string::npos && !found;
             at = help.find(row, at + 1)) {
            const char next = help[at + row.size()];
            found = next == ' ' || next == '\n';
        }
        EXPECT_TRUE(found) << row;
    }
    EXPECT_EQ(ShortcutTerm(*FindShortcut("sddelprot+")), "sddelprot, sddelprot+");
    EXPECT_EQ(ShortcutTerm(*FindShortcut("sdreset")), "sdreset[:class]");
    EXPECT_EQ(ShortcutTerm(*FindShortcut("adau")), "adau:count;pwd;dn");
    for (const ContainerBase& c : ContainerBases())
        EXPECT_NE(help.find("\n   -" + std::string(c.name)), std::string::npos) << c.name;
}

} // namespace
