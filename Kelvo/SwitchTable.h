// Kelvo's vocabulary of switches and the configuration layers below the
// command line (environment variables and switch files).
//
// Every switch is one row of kSwitchTable.  The parser's declaration strings,
// the help rows of -help and -??, the redaction of secret values and the
// plain boolean run settings are all read from that row; code names a switch
// through its sw:: constant.
#pragma once

#include "RunState.h"
#include "SwitchParser.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// Where a switch's row goes in the help.  Head is the list of help switches
// that every help mode starts with; the others are the switch sections.
enum class HelpSection : std::uint8_t {
    None,
    Head,
    Connection,
    Update,
    Action,
    Output,
    Authentication,
    Misc
};
// Main rows are shown by every help that shows the section; Advanced rows only
// by -??, under "Advanced:".
enum class HelpBlock : std::uint8_t { Main, Advanced };

struct HelpPlace {
    HelpSection section = HelpSection::None;
    HelpBlock block = HelpBlock::Main;
    std::uint8_t rank = 0; // 1-based position within the section's block
};

// How a switch takes its value.  The parser sees this as the declaration
// marker: ':' for None, '$' for Required, no marker for Optional.
enum class ValueKind : std::uint8_t {
    None,     // never takes a value; the next argument is left alone
    Optional, // takes the next argument unless that is a switch
    Required, // as Optional, and Validate reports it when given without one
};

// Plain boolean run settings a switch turns on (see ApplySwitchSettings).
using SettingFlag = bool RunSettings::*;

// One declared switch.
struct SwitchDef {
    std::string_view name; // without the leading '-', lower case
    ValueKind kind = ValueKind::None;
    std::string_view defaultText; // the default its help line states, if any
    bool secret = false;          // the value is a password: never shown below -d2

    // Help.  A switch that is named in another switch's row ("-rm, -del") sets
    // rowOf to that switch and has no row of its own.
    std::string_view rowOf;
    // Left column of its row, e.g. "-h host[:port]".  A value placeholder
    // that says "file" ("-log [file]") makes the shell completion offer
    // file names.
    std::string_view term;
    std::string_view help;      // the -?? description
    HelpPlace place;            // its place in -??
    HelpPlace basic;            // its place in -help, if it appears there
    std::string_view basicHelp; // the -help description, when it differs from help
    // The values the switch accepts, separated by spaces, when there is a
    // fixed list (offered by the shell completion).
    std::string_view choices;
    // The GNU-style spelling of the switch ("--help"), which stands for it
    // wherever a whole argument is just that spelling.
    std::string_view gnuName;

    std::array<SettingFlag, 2> sets{};
};

// Every switch Kelvo declares, in the order the parser is given them.  The
// help order is set by each row's place, not by its position here.
inline constexpr SwitchDef kSwitchTable[] = {
    {.name = "q",
     .kind = ValueKind::None,
     .term = "-q",
     .help = "Quiet: no banner, no per-object lines, no final line.",
     .place = {HelpSection::Output, HelpBlock::Main, 1},
     .basic = {HelpSection::Update, HelpBlock::Main, 7}},
    {.name = "q2",
     .kind = ValueKind::None,
     .term = "-q2",
     .help = "Quiet, but the per-object DN lines are printed.",
     .place = {HelpSection::Output, HelpBlock::Main, 2}},
    {.name = "d",
     .kind = ValueKind::None,
     .term = "-d",
     .help = "Debug output (DEBUG: lines).",
     .place = {HelpSection::Output, HelpBlock::Main, 3}},
    {.name = "d2",
     .kind = ValueKind::None,
     .term = "-d2",
     .help = "Debug output with function traces. Shows passwords and secret values.",
     .place = {HelpSection::Output, HelpBlock::Main, 4}},
    {.name = "help",
     .kind = ValueKind::None,
     .term = "-help",
     .help = "Basic help.",
     .place = {HelpSection::Head, HelpBlock::Main, 1},
     .gnuName = "--help"},
    {.name = "?",
     .kind = ValueKind::None,
     .term = "-?",
     .help = "Basic help.",
     .place = {HelpSection::Head, HelpBlock::Main, 2}},
    {.name = "??",
     .kind = ValueKind::None,
     .term = "-??",
     .help = "Advanced help.",
     .place = {HelpSection::Head, HelpBlock::Main, 3}},
    {.name = "????",
     .kind = ValueKind::None,
     .term = "-????",
     .help = "Shortcut help.",
     .place = {HelpSection::Head, HelpBlock::Main, 4}},
    {.name = "sc?",
     .kind = ValueKind::None,
     .term = "-sc?",
     .help = "Shortcut help.",
     .place = {HelpSection::Head, HelpBlock::Main, 5}},
    {.name = "csv?",
     .kind = ValueKind::None,
     .term = "-csv?",
     .help = "CSV / ADCSV help.",
     .place = {HelpSection::Head, HelpBlock::Main, 6}},
    {.name = "sd?",
     .kind = ValueKind::None,
     .term = "-sd?",
     .help = "Security Descriptor help.",
     .place = {HelpSection::Head, HelpBlock::Main, 7}},
    {.name = "gui",
     .kind = ValueKind::Optional,
     .term = "-gui [file]",
     .help = "Write this help to a file (default Kelvo_{VERSION}_usage.txt) and open "
             "it in the default viewer.",
     .place = {HelpSection::Output, HelpBlock::Advanced, 5}},
    {.name = "elapsed",
     .kind = ValueKind::None,
     .term = "-elapsed",
     .help = "Print the elapsed time in seconds at the end.",
     .place = {HelpSection::Output, HelpBlock::Main, 9},
     .sets = {&RunSettings::elapsed}},
    {.name = "elapsedms",
     .kind = ValueKind::None,
     .term = "-elapsedms",
     .help = "Print the elapsed time in milliseconds at the end.",
     .place = {HelpSection::Output, HelpBlock::Main, 10},
     .sets = {&RunSettings::elapsedMs}},
    {.name = "exterr",
     .kind = ValueKind::None,
     .term = "-exterr",
     .help = "Note failed binds that carry no error text; list bad descriptors ACE by ACE.",
     .place = {HelpSection::Output, HelpBlock::Main, 8},
     .basic = {HelpSection::Update, HelpBlock::Main, 5}},
    {.name = "rm",
     .kind = ValueKind::None,
     .term = "-rm, -del",
     .help = "Delete the objects.",
     .place = {HelpSection::Action, HelpBlock::Main, 3},
     .basic = {HelpSection::Action, HelpBlock::Main, 3}},
    {.name = "del", .kind = ValueKind::None, .rowOf = "rm"},
    {.name = "treedelete",
     .kind = ValueKind::None,
     .term = "-treedelete",
     .help = "With -rm: delete each object with everything below it.",
     .place = {HelpSection::Action, HelpBlock::Main, 4},
     .basic = {HelpSection::Action, HelpBlock::Main, 4},
     .sets = {&RunSettings::treeDelete}},
    {.name = "treenuke",
     .kind = ValueKind::None,
     .term = "-treenuke",
     .help = "As -treedelete, but repeat the delete while the server answers that the "
             "tree is too large (admin limit exceeded); one dot per try.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 1},
     .sets = {&RunSettings::treeNuke, &RunSettings::treeDelete}},
    {.name = "recycle",
     .kind = ValueKind::None,
     .term = "-recycle",
     .help = "Send the show-recycled control with deletes.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 2},
     .sets = {&RunSettings::recycle}},
    {.name = "unsafe",
     .kind = ValueKind::None,
     .term = "-unsafe",
     .help = "No limit on the number of objects.",
     .place = {HelpSection::Update, HelpBlock::Main, 8},
     .basic = {HelpSection::Update, HelpBlock::Main, 3}},
    {.name = "updatenchead",
     .kind = ValueKind::None,
     .term = "-updatenchead",
     .help = "Allow changes to a naming-context head (a DN starting with dc=).",
     .place = {HelpSection::Update, HelpBlock::Main, 11}},
    {.name = "cm",
     .kind = ValueKind::None,
     .term = "-cm",
     .help = "Allow clearing the member attribute (member:-).",
     .place = {HelpSection::Update, HelpBlock::Main, 10},
     .sets = {&RunSettings::clearMembers}},
    {.name = "cont",
     .kind = ValueKind::None,
     .term = "-cont",
     .help = "Go on with the next object after a failure (default: stop).",
     .place = {HelpSection::Update, HelpBlock::Main, 9},
     .basic = {HelpSection::Update, HelpBlock::Main, 4},
     .sets = {&RunSettings::cont}},
    {.name = "add",
     .kind = ValueKind::None,
     .term = "-add",
     .help = "Create the object; every attribute action supplies values.",
     .place = {HelpSection::Action, HelpBlock::Main, 2},
     .basic = {HelpSection::Action, HelpBlock::Main, 2}},
    {.name = "kerbenc",
     .kind = ValueKind::None,
     .term = "-kerbenc",
     .help = "Sign and seal (encrypt) the connection with Kerberos.",
     .place = {HelpSection::Authentication, HelpBlock::Advanced, 3},
     .sets = {&RunSettings::kerbEnc}},
    {.name = "optenc",
     .kind = ValueKind::None,
     .term = "-optenc",
     .help = "Same as -kerbenc.",
     .place = {HelpSection::Authentication, HelpBlock::Advanced, 4},
     .sets = {&RunSettings::kerbEnc}},
    {.name = "permissive",
     .kind = ValueKind::None,
     .term = "-permissive",
     .help = "Permissive modify: adding a value that is there, or removing one that "
             "is not, is not an error.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 15},
     .sets = {&RunSettings::permissive}},
    {.name = "delegation",
     .kind = ValueKind::None,
     .term = "-delegation",
     .help = "Ask for a delegable Kerberos ticket (needed by -xdom).",
     .place = {HelpSection::Authentication, HelpBlock::Advanced, 5},
     .sets = {&RunSettings::delegation}},
    {.name = "simple",
     .kind = ValueKind::None,
     .term = "-simple",
     .help = "Simple bind; use it with -ssl or -starttls.",
     .place = {HelpSection::Authentication, HelpBlock::Main, 3},
     .basic = {HelpSection::Connection, HelpBlock::Main, 5},
     .basicHelp = "Simple bind. The password travels as typed, so use it with -ssl or "
                  "-starttls.",
     .sets = {&RunSettings::simple}},
    {.name = "digest",
     .kind = ValueKind::None,
     .term = "-digest",
     .help = "Digest bind (not with -simple). A -u holding cn= binds with Digest unless "
             "-simple is given.",
     .place = {HelpSection::Authentication, HelpBlock::Advanced, 1},
     .sets = {&RunSettings::digest}},
    {.name = "ntlm",
     .kind = ValueKind::None,
     .term = "-ntlm",
     .help = "NTLM bind.",
     .place = {HelpSection::Authentication, HelpBlock::Advanced, 2},
     .sets = {&RunSettings::ntlm}},
    {.name = "ssl",
     .kind = ValueKind::None,
     .term = "-ssl",
     .help = "LDAP over SSL/TLS. The server certificate is checked.",
     .place = {HelpSection::Connection, HelpBlock::Main, 4},
     .basic = {HelpSection::Connection, HelpBlock::Main, 6},
     .basicHelp = "Connect with LDAP over SSL/TLS (port 636).",
     .sets = {&RunSettings::ssl}},
    {.name = "sslignoresrvcert",
     .kind = ValueKind::None,
     .term = "-sslignoresrvcert",
     .help = "Use SSL without checking the server certificate. Otherwise "
             "certificates are checked as TLS_REQCERT (ldap.conf, ldaprc, "
             "LDAPTLS_REQCERT) says, by default always.",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 4},
     .sets = {&RunSettings::ignoreCert, &RunSettings::ssl}},
    {.name = "starttls",
     .kind = ValueKind::None,
     .term = "-starttls",
     .help = "Upgrade the connection with StartTLS before binding.",
     .place = {HelpSection::Connection, HelpBlock::Main, 5},
     .sets = {&RunSettings::startTls}},
    {.name = "expand",
     .kind = ValueKind::None,
     .term = "-expand",
     .help = "Expand {{...}} expressions in values (Kelvo /csv? lists them).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 9},
     .sets = {&RunSettings::expand}},
    {.name = "policyhints",
     .kind = ValueKind::None,
     .term = "-policyhints",
     .help = "Apply password policy (history, age) to password resets.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 16},
     .sets = {&RunSettings::policyHints}},
    {.name = "verifygc",
     .kind = ValueKind::Required,
     .term = "-verifygc host",
     .help = "Send the verify-name control with this global catalog server.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 17}},
    {.name = "po",
     .kind = ValueKind::None,
     .term = "-po",
     .help = "Print the selected switches and attribute actions, after environment, "
             "switch-file and shortcut expansion.",
     .place = {HelpSection::Output, HelpBlock::Main, 5}},
    {.name = "import",
     .kind = ValueKind::None,
     .term = "-import",
     .help = "Copy every CSV column into the objects (Kelvo /csv?).",
     .place = {HelpSection::Misc, HelpBlock::Main, 6}},
    {.name = "importus",
     .kind = ValueKind::None,
     .term = "-importus",
     .help = "As -import, without sorting the DNs.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 6}},
    {.name = "importpass1",
     .kind = ValueKind::None,
     .term = "-importpass1",
     .help = "With -add: create the objects without DN-valued attributes.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 7}},
    {.name = "importpass2",
     .kind = ValueKind::None,
     .term = "-importpass2",
     .help = "Then, as an update: set only the DN-valued attributes.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 8}},
    {.name = "trim",
     .kind = ValueKind::None,
     .term = "-trim",
     .help = "Release memory after reading the input (automatic above 20000 objects).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 8}},
    {.name = "arecex",
     .kind = ValueKind::None,
     .term = "-arecex",
     .help = "The -h name is a host name, not a domain name.",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 3},
     .sets = {&RunSettings::arecEx}},
    {.name = "extsrvinfo",
     .kind = ValueKind::None,
     .term = "-extsrvinfo",
     .help = "Show more information about the server after binding.",
     .place = {HelpSection::Output, HelpBlock::Advanced, 4}},
    {.name = "rootdse",
     .kind = ValueKind::None,
     .term = "-rootdse, -null",
     .help = "Base: the RootDSE (the empty DN).",
     .place = {HelpSection::Update, HelpBlock::Main, 5}},
    {.name = "schema",
     .kind = ValueKind::None,
     .term = "-schema, -root",
     .help = "Base: the schema partition, or the forest root domain.",
     .place = {HelpSection::Update, HelpBlock::Main, 4}},
    {.name = "null", .kind = ValueKind::None, .rowOf = "rootdse"},
    {.name = "root", .kind = ValueKind::None, .rowOf = "schema"},
    {.name = "default",
     .kind = ValueKind::None,
     .term = "-default, -config",
     .help = "Base: the default naming context, or the configuration "
             "partition.",
     .place = {HelpSection::Update, HelpBlock::Main, 3}},
    {.name = "config", .kind = ValueKind::None, .rowOf = "default"},
    {.name = "forestdns", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "domaindns", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "legacydns", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "dcs", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "fsps", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "gpo", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "psocontainer", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "quotas", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "ldappolicy", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "xrights", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "partitions", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "sitelinks", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "sites", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "subnets", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "exch", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "users",
     .kind = ValueKind::None,
     .term = "Container bases",
     .help = "-users -dcs -fsps -gpo -psocontainer -fgpp -quotas -system "
             "-domaindns -forestdns -legacydns -sites -subnets -sitelinks "
             "-partitions -xrights -displayspecifiers -svcs -ds -ldappolicy -exch "
             "-delobjs -delobjs+ -do -roles: a well-known container is the base. "
             "Kelvo /sc? names each container.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 21}},
    {.name = "displayspecifiers", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "ds", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "svcs", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "do", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "delobjs", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "delobjs+", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "roles", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "system", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "fgpp", .kind = ValueKind::None, .rowOf = "users"},
    {.name = "csv",
     .kind = ValueKind::None,
     .term = "-csv",
     .help = "Read CSV from standard input (Kelvo /csv?).",
     .place = {HelpSection::Misc, HelpBlock::Main, 4},
     .sets = {&RunSettings::csv}},
    {.name = "vtsv",
     .kind = ValueKind::None,
     .term = "-vtsv",
     .help = "Tab-separated input: fields by TAB, values by |.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 1}},
    {.name = "nr",
     .kind = ValueKind::None,
     .term = "-nr",
     .help = "Do not follow referrals.",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 5},
     .sets = {&RunSettings::noReferrals}},
    {.name = "pause",
     .kind = ValueKind::None,
     .term = "-pause",
     .help = "Wait for Enter before exiting (only on a terminal).",
     .place = {HelpSection::Output, HelpBlock::Advanced, 3}},
    {.name = "appver",
     .kind = ValueKind::None,
     .term = "-appver, --version",
     .help = "Print version and build information, then exit.",
     .place = {HelpSection::Output, HelpBlock::Advanced, 6},
     .gnuName = "--version"},
    {.name = "progress",
     .kind = ValueKind::Optional,
     .defaultText = "#",
     .term = "-progress [c]",
     .help = "Show the percentage left in the terminal title, with a bar of "
             "character c (default #).",
     .place = {HelpSection::Output, HelpBlock::Advanced, 1}},
    {.name = "sdnoowner",
     .kind = ValueKind::None,
     .term = "-sdnoowner",
     .help = "Do not read the owner from descriptor sources.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 15}},
    {.name = "sdnogroup",
     .kind = ValueKind::None,
     .term = "-sdnogroup",
     .help = "Do not read the group from descriptor sources.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 16}},
    {.name = "sdnodacl",
     .kind = ValueKind::None,
     .term = "-sdnodacl",
     .help = "Do not read the DACL from descriptor sources.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 17}},
    {.name = "sdnosacl",
     .kind = ValueKind::None,
     .term = "-sdnosacl, -sdna",
     .help = "Do not read the SACL (no auditing rights needed).",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 18}},
    {.name = "onlydacl",
     .kind = ValueKind::None,
     .term = "-onlydacl",
     .help = "Read and write the DACL only.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 19}},
    {.name = "onlysacl",
     .kind = ValueKind::None,
     .term = "-onlysacl",
     .help = "Read and write the SACL only.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 20}},
    {.name = "sdna", .kind = ValueKind::None, .rowOf = "sdnosacl"},
    {.name = "sdkeepgeneric",
     .kind = ValueKind::None,
     .term = "-sdkeepgeneric",
     .help = "Keep generic rights (GA GR GW GX) as they are.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 13}},
    {.name = "pxsdenc",
     .kind = ValueKind::None,
     .term = "-pxsdenc",
     .help = "Build descriptors with the alternative encoder, which also reorders the "
             "DACL by ACE kind and trustee.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 21}},
    {.name = "h",
     .kind = ValueKind::Optional,
     .term = "-h host[:port]",
     .help = "Server, or domain, to connect to; without -h the configured URI "
             "(LDAPURI, URI in ldap.conf or ldaprc), else the default server. "
             "host:port and [IPv6-address]:port name a port. A value starting "
             "with ldap:// or ldaps:// is read as -url.",
     .place = {HelpSection::Connection, HelpBlock::Main, 1},
     .basic = {HelpSection::Connection, HelpBlock::Main, 1},
     .basicHelp = "Server, or domain, to connect to. Without -h Kelvo uses the default "
                  "server. A value starting with ldap:// or ldaps:// is read as -url."},
    {.name = "hh",
     .kind = ValueKind::Optional,
     .term = "-hh host",
     .help = "-h host, and the name is a host name (-arecex).",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 1}},
    {.name = "hd",
     .kind = ValueKind::Optional,
     .term = "-hd host",
     .help = "-h host, and the base is that server's default naming context "
             "(-default).",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 2}},
    {.name = "url",
     .kind = ValueKind::Optional,
     .term = "-url url",
     .help = "ldap://host[:port]/basedn or ldaps://...: host, base and SSL from an LDAP "
             "URL. Scope, filter and attributes are not allowed.",
     .place = {HelpSection::Connection, HelpBlock::Main, 3}},
    {.name = "p",
     .kind = ValueKind::Optional,
     .defaultText = "389",
     .term = "-p port",
     .help = "Port; default 389, or 636 with -ssl. -p 1 picks the global catalog port "
             "(3268, or 3269 with -ssl).",
     .place = {HelpSection::Connection, HelpBlock::Main, 2},
     .basic = {HelpSection::Connection, HelpBlock::Main, 2},
     .basicHelp = "Port (default 389, or 636 with -ssl)."},
    {.name = "b",
     .kind = ValueKind::Optional,
     .term = "-b basedn",
     .help = "Object to act on: a DN, a SID (S-1-5-...), a GUID (with or without "
             "braces) or rootdse. Without -b or a special base the DNs are read from "
             "standard input.",
     .place = {HelpSection::Update, HelpBlock::Main, 1},
     .basic = {HelpSection::Update, HelpBlock::Main, 1},
     .basicHelp = "Object to act on: a DN, a SID (S-1-5-...), a GUID or rootdse. Without -b "
                  "the DNs are read from standard input, one per line."},
    {.name = "t",
     .kind = ValueKind::Optional,
     .defaultText = "120",
     .term = "-t seconds",
     .help = "Connection and per-request timeout (default 120).",
     .place = {HelpSection::Connection, HelpBlock::Main, 6}},
    {.name = "rename",
     .kind = ValueKind::Optional,
     .term = "-rename newname",
     .help = "Rename the object. Give the new name without its type: -rename "
             "jdoe2 turns cn=jdoe into cn=jdoe2.",
     .place = {HelpSection::Action, HelpBlock::Main, 5},
     .basic = {HelpSection::Action, HelpBlock::Main, 5}},
    {.name = "move",
     .kind = ValueKind::Optional,
     .term = "-move parent",
     .help = "Move the objects under a new parent DN. rdn;parent also renames.",
     .place = {HelpSection::Action, HelpBlock::Main, 6},
     .basic = {HelpSection::Action, HelpBlock::Main, 6}},
    {.name = "rbmove",
     .kind = ValueKind::Optional,
     .term = "-rbmove rdn",
     .help = "Move each object under rdn in its own domain (-move rdn -rnpb "
             "domaindn).",
     .place = {HelpSection::Action, HelpBlock::Advanced, 3}},
    {.name = "update",
     .kind = ValueKind::None,
     .term = "-update",
     .help = "Modify the objects (the default when attribute actions are given).",
     .place = {HelpSection::Action, HelpBlock::Main, 1},
     .basic = {HelpSection::Action, HelpBlock::Main, 1}},
    {.name = "port",
     .kind = ValueKind::Optional,
     .term = "-port port",
     .help = "Accepted but ignored: give the port with -p or -h host:port.",
     .place = {HelpSection::Connection, HelpBlock::Advanced, 6}},
    {.name = "safety",
     .kind = ValueKind::Optional,
     .defaultText = "10",
     .term = "-safety n",
     .help = "Refuse to run on more than n objects (default 10). Nothing is changed "
             "when the limit is exceeded.",
     .place = {HelpSection::Update, HelpBlock::Main, 6},
     .basic = {HelpSection::Update, HelpBlock::Main, 2},
     .basicHelp = "Refuse to run on more than n objects (default 10)."},
    {.name = "upto",
     .kind = ValueKind::Optional,
     .term = "-upto n",
     .help = "Process only the first n objects; raises -safety to n.",
     .place = {HelpSection::Update, HelpBlock::Main, 7}},
    {.name = "delim",
     .kind = ValueKind::Optional,
     .defaultText = ":",
     .term = "-delim c",
     .help = "Separator of attr, op and values (default :). \\t stands for a TAB.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 1}},
    {.name = "mvdelim",
     .kind = ValueKind::Optional,
     .defaultText = ";",
     .term = "-mvdelim c",
     .help = "Separator of the values of ++, +- and -- (default ;).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 2}},
    {.name = "undel",
     .kind = ValueKind::Optional,
     .term = "-undel [parent]",
     .help = "Restore deleted objects, by default to their last known parent.",
     .place = {HelpSection::Action, HelpBlock::Main, 7},
     .basic = {HelpSection::Action, HelpBlock::Main, 7}},
    {.name = "xdom",
     .kind = ValueKind::Optional,
     .term = "-xdom dcfqdn",
     .help = "Cross-domain move: the DNS name of a domain controller of the target "
             "domain (with -move). Turns on -delegation.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 5}},
    {.name = "u",
     .kind = ValueKind::Optional,
     .term = "-u user",
     .help = "Bind as DOMAIN\\user, user@domain or a DN. Without -u Kelvo binds with "
             "Negotiate (Kerberos) from your ticket cache (see kinit). -u \"\" binds "
             "anonymously.",
     .place = {HelpSection::Authentication, HelpBlock::Main, 1},
     .basic = {HelpSection::Connection, HelpBlock::Main, 3},
     .basicHelp = "Bind as this user: DOMAIN\\user, user@domain or a DN. Without -u Kelvo "
                  "binds with your Kerberos ticket (see kinit)."},
    {.name = "up",
     .kind = ValueKind::Optional,
     .secret = true,
     .term = "-up password",
     .help = "Password for -u; '*' asks for it at a hidden prompt on the terminal "
             "(never from piped input), and an ENCPWD: value (see -encpwd) is "
             "decrypted. With Negotiate, Kelvo gets a Kerberos ticket for -u with "
             "this password.",
     .place = {HelpSection::Authentication, HelpBlock::Main, 2},
     .basic = {HelpSection::Connection, HelpBlock::Main, 4},
     .basicHelp = "Password for -u; '*' asks for it at a hidden prompt."},
    {.name = "upfile",
     .kind = ValueKind::Required,
     .term = "-upfile file",
     .help = "Read the password for -u from the first line of file (the line end is "
             "dropped). The file must be a regular file that neither group nor others "
             "can read or write (chmod 600). Not with -up.",
     .place = {HelpSection::Authentication, HelpBlock::Main, 5}},
    {.name = "rb",
     .kind = ValueKind::Optional,
     .term = "-rb rdn",
     .help = "Relative base, joined in front of the base and of every piped DN: -rb "
             "ou=staff -default gives ou=staff,<default naming context>.",
     .place = {HelpSection::Update, HelpBlock::Main, 2}},
    {.name = "rnpb",
     .kind = ValueKind::Optional,
     .term = "-rnpb base",
     .help = "Base joined after the new parent of -move and -undel: domainnc (the "
             "object's own domain), rootnc, users, fgpp, msa, config, sites, or a DN "
             "ending in domainnc or rootnc.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 4}},
    {.name = "csvdelim",
     .kind = ValueKind::Optional,
     .defaultText = ",",
     .term = "-csvdelim c",
     .help = "CSV field separator (default ,).",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 2}},
    {.name = "csvmvdelim",
     .kind = ValueKind::Optional,
     .defaultText = ";",
     .term = "-csvmvdelim c",
     .help = "Separator of the values in a CSV field (default ;).",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 3}},
    {.name = "counterstart",
     .kind = ValueKind::Optional,
     .defaultText = "0",
     .term = "-counterstart n",
     .help = "First value of {{*cnt*}} (default 0).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 10}},
    {.name = "bmod",
     .kind = ValueKind::Optional,
     .term = "-bmod text",
     .help = "New name of each object, by expansion: the whole DN for -autobase adds, "
             "the new RDN for -move and -undel.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 11}},
    {.name = "autobase",
     .kind = ValueKind::Optional,
     .term = "-autobase n:dn",
     .help = "With -add: create n objects from the template DN dn; name them with "
             "-bmod, e.g. -bmod cn=t{{*cnt*}},{{*parentdn*}}.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 12}},
    {.name = "e",
     .kind = ValueKind::Optional,
     .defaultText = "quorv-",
     .term = "-e [prefix]",
     .help = "Take switches from environment variables named prefix + switch "
             "(default prefix quorv-, shared with the companion query tool Quorv). "
             "prefix + props holds attribute actions separated by spaces; the value "
             "{~} stands for an empty value. Kelvo stops when no variable is found "
             "(see -eignore).",
     .place = {HelpSection::Misc, HelpBlock::Main, 1}},
    {.name = "eignore",
     .kind = ValueKind::Optional,
     .term = "-eignore",
     .help = "-e finding no variable is not an error.",
     .place = {HelpSection::Misc, HelpBlock::Main, 2}},
    {.name = "ef",
     .kind = ValueKind::Optional,
     .defaultText = "kelvo.cf",
     .term = "-ef [file]",
     .help = "Take switches from a file (default kelvo.cf). A line -switch value sets "
             "a switch; any other line holds attribute actions separated by spaces.",
     .place = {HelpSection::Misc, HelpBlock::Main, 3}},
    {.name = "log",
     .kind = ValueKind::Optional,
     .defaultText = "kelvo.log",
     .term = "-log [file]",
     .help = "Log the run to a file (default kelvo.log), created with mode 0600.",
     .place = {HelpSection::Output, HelpBlock::Main, 6},
     .basic = {HelpSection::Update, HelpBlock::Main, 6},
     .basicHelp = "Log the run to a file (default kelvo.log)."},
    {.name = "append",
     .kind = ValueKind::None,
     .term = "-append",
     .help = "Append to the log file instead of replacing it.",
     .place = {HelpSection::Output, HelpBlock::Main, 7}},
    {.name = "undo",
     .kind = ValueKind::Required,
     .term = "-undo file",
     .help = "Before each change read what it replaces; write the LDIF that reverts "
             "every confirmed change, the last first (ldapmodify -c -f file), created "
             "with mode 0600. A change whose undo cannot be recorded (tree delete, "
             "passwords, a delete where deleted objects are not kept) is not sent.",
     .place = {HelpSection::Output, HelpBlock::Main, 11}},
    {.name = "importexclattr",
     .kind = ValueKind::Optional,
     .term = "-importexclattr list",
     .help = "Attributes not to import, separated by ;. name- imports a "
             "default exclusion; a leading _ drops the default list.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 9}},
    {.name = "replacedn",
     .kind = ValueKind::Optional,
     .term = "-replacedn list",
     .help = "Rewrite DNs in targets and DN values: items separated by ;, each "
             "old:new or a token (_config _schema _default _root _sites _subnets "
             "_system _exch _dcs _fsps _msa _psc _gpo _services, or _all) that "
             "turns <CONFIG>, <SCHEMA>, <DEFAULTNC> and the like into this "
             "directory's DNs.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 13}},
    {.name = "replacedndelim",
     .kind = ValueKind::Optional,
     .defaultText = ":",
     .term = "-replacedndelim c",
     .help = "Separator of old and new in -replacedn (default :).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 14}},
    {.name = "sc",
     .kind = ValueKind::Optional,
     .term = "-sc name[:args]",
     .help = "Run a shortcut; Kelvo /sc? lists them.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 9}},
    {.name = "dotcount",
     .kind = ValueKind::Optional,
     .defaultText = "1000",
     .term = "-dotcount n",
     .help = "Print a dot per n input lines read (default 1000).",
     .place = {HelpSection::Output, HelpBlock::Advanced, 2}},
    {.name = "csvmodnull",
     .kind = ValueKind::Optional,
     .term = "-csvmodnull mode",
     .help = "An empty CSV value: ignore (leave the attribute alone) or clear "
             "(remove all of its values).",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 5},
     .choices = "ignore clear"},
    {.name = "dynamic",
     .kind = ValueKind::Optional,
     .defaultText = "7 days",
     .term = "-dynamic [ttl]",
     .help = "With -add create dynamic (self-deleting) objects; with updates set a "
             "new time to live. ttl: 7d, 12h, 90m, 300s or days:hh:mm:ss (default "
             "7 days).",
     .place = {HelpSection::Action, HelpBlock::Advanced, 6}},
    {.name = "tmpobj",
     .kind = ValueKind::Optional,
     .term = "-tmpobj [ttl]",
     .help = "Same as -dynamic.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 7}},
    {.name = "hackon",
     .kind = ValueKind::Optional,
     .term = "-hackon",
     .help = "Set schemaUpgradeInProgress to 1 on the RootDSE before processing.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 8},
     .sets = {&RunSettings::hackon}},
    {.name = "sdsimple",
     .kind = ValueKind::None,
     .term = "-sdsimple",
     .help = "Encode each SD## value on its own, as soon as it is read.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 14}},
    {.name = "sdverbatim",
     .kind = ValueKind::None,
     .term = "-sdverbatim",
     .help = "Keep the ACE order as written instead of canonical order.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 12}},
    {.name = "sdwhatif",
     .kind = ValueKind::None,
     .term = "-sdwhatif",
     .help = "Print the resulting descriptor; send nothing for it.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 11}},
    {.name = "sd",
     .kind = ValueKind::Required,
     .term = "-sd mods",
     .help = "Change the current security descriptor with modifiers (Kelvo /sd?).",
     .place = {HelpSection::Action, HelpBlock::Advanced, 12}},
    {.name = "sdni",
     .kind = ValueKind::Required,
     .term = "-sdni text",
     .help = "Accepted but has no effect.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 22}},
    {.name = "dsd",
     .kind = ValueKind::Optional,
     .term = "-dsd mods",
     .help = "Start from the class default descriptor and apply modifiers.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 13}},
    {.name = "stdinadd",
     .kind = ValueKind::Optional,
     .term = "-stdinadd attr",
     .help = "Piped DNs become values added to attr of the -b object, for example "
             "group members.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 3}},
    {.name = "stdinrm",
     .kind = ValueKind::Optional,
     .term = "-stdinrm attr",
     .help = "Piped DNs are removed from attr of the -b object.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 4}},
    {.name = "stdinreplace",
     .kind = ValueKind::Optional,
     .term = "-stdinreplace attr",
     .help = "Piped DNs replace all values of attr of the -b object.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 5}},
    {.name = "stdinsort",
     .kind = ValueKind::Optional,
     .term = "-stdinsort [mode]",
     .help = "Sort the piped DNs: parents before children (default), csalpha "
             "(alphabetical) or cialpha (alphabetical, ignoring case).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 6},
     .choices = "csalpha cialpha"},
    {.name = "stdinsortreverse",
     .kind = ValueKind::Optional,
     .term = "-stdinsortreverse",
     .help = "Sort children before parents (for deletes).",
     .place = {HelpSection::Update, HelpBlock::Advanced, 7}},
    {.name = "csvfile",
     .kind = ValueKind::Optional,
     .term = "-csvfile file",
     .help = "Read CSV from a file (when standard input is a terminal).",
     .place = {HelpSection::Misc, HelpBlock::Main, 5},
     .sets = {&RunSettings::csv}},
    {.name = "showdel",
     .kind = ValueKind::None,
     .term = "-showdel",
     .help = "Let requests see deleted objects.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 18},
     .sets = {&RunSettings::showDeleted}},
    {.name = "showdel+",
     .kind = ValueKind::None,
     .term = "-showdel+",
     .help = "Let requests see deleted and recycled objects.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 19},
     .sets = {&RunSettings::showDeleted, &RunSettings::showRecycled}},
    {.name = "showrecycled",
     .kind = ValueKind::None,
     .term = "-showrecycled",
     .help = "Same as -showdel+.",
     .place = {HelpSection::Update, HelpBlock::Advanced, 20},
     .sets = {&RunSettings::showDeleted, &RunSettings::showRecycled}},
    {.name = "getsecin",
     .kind = ValueKind::None,
     .term = "-getsecin",
     .help = "Ask at a hidden prompt for every value written {*}, e.g. "
             "unicodepwd::{*}.",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 10}},
    {.name = "chgpwd",
     .kind = ValueKind::Required,
     .secret = true,
     .term = "-chgpwd old:new",
     .help = "Change the password: unicodepwd:-:old and unicodepwd:+:new, with "
             "-optenc. -changepwd is the same.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 10}},
    {.name = "changepwd", .kind = ValueKind::Required, .secret = true, .rowOf = "chgpwd"},
    {.name = "setpwd",
     .kind = ValueKind::Required,
     .secret = true,
     .term = "-setpwd new",
     .help = "Set (reset) the password: unicodepwd::new, with -optenc.",
     .place = {HelpSection::Action, HelpBlock::Advanced, 11}},
    {.name = "csvq",
     .kind = ValueKind::Optional,
     .defaultText = "\"",
     .term = "-csvq c",
     .help = "CSV quote character (default \").",
     .place = {HelpSection::Misc, HelpBlock::Advanced, 4}},
    {.name = "encpwd",
     .kind = ValueKind::None,
     .term = "-encpwd",
     .help = "Ask for a password at a hidden prompt and print the ENCPWD: value to give "
             "to -up instead. Values are AES-256-GCM encrypted with your key file "
             "~/.config/kelvo/encpwd.key (created with mode 0600), so only you can use "
             "them.",
     .place = {HelpSection::Authentication, HelpBlock::Main, 4}},
    {.name = "rejects",
     .kind = ValueKind::Required,
     .term = "-rejects file",
     .help = "Write every object that failed, was skipped or was not attempted (and input "
             "lines refused as DNs) to file, created with mode 0600, in the form the input "
             "gave it: DN lines, CSV header and rows, or LDIF dn: lines. Feed the file "
             "back to finish the work.",
     .place = {HelpSection::Update, HelpBlock::Main, 12}},
    {.name = "whatif",
     .kind = ValueKind::None,
     .term = "-whatif",
     .help = "Dry run: bind, read what the requests need and build every one, but send "
             "no change; print each object's change as LDIF (secret values masked) and "
             "count the requests not sent.",
     .place = {HelpSection::Update, HelpBlock::Main, 13},
     .basic = {HelpSection::Update, HelpBlock::Main, 8},
     .basicHelp = "Dry run: build every change and print it as LDIF; send nothing.",
     .sets = {&RunSettings::whatIf}},
    {.name = "ldifout",
     .kind = ValueKind::Required,
     .term = "-ldifout file",
     .help = "Write every change the directory accepted (with -whatif: every change "
             "built) to file as LDIF that ldapmodify -f can replay, created with mode "
             "0600. Password values are written as sent: keep the file private.",
     .place = {HelpSection::Output, HelpBlock::Main, 12}},
    {.name = "parallel",
     .kind = ValueKind::Required,
     .defaultText = "1",
     .term = "-parallel n",
     .help = "Keep up to n requests (1 to 64, default 1) in flight on the session. Output, log, "
             "rejects, undo and LDIF files stay in input order; a request waits while an "
             "earlier one on the same object, a parent or a child is unanswered. Without "
             "-cont the first failure stops new requests; those sent are still reported.",
     .place = {HelpSection::Update, HelpBlock::Main, 14}},
};

// The name, checked at compile time against the table.
consteval std::string_view Declared(std::string_view name) {
    for (const SwitchDef& def : kSwitchTable)
        if (def.name == name) return def.name;
    throw "not a declared switch";
}

namespace sw {
// One constant per switch name, e.g. sw::b == "b", sw::sc_help == "sc?".
inline constexpr std::string_view q = Declared("q");
inline constexpr std::string_view q2 = Declared("q2");
inline constexpr std::string_view d = Declared("d");
inline constexpr std::string_view d2 = Declared("d2");
inline constexpr std::string_view help = Declared("help");
inline constexpr std::string_view qmark = Declared("?");
inline constexpr std::string_view qmark2 = Declared("??");
inline constexpr std::string_view qmark4 = Declared("????");
inline constexpr std::string_view sc_help = Declared("sc?");
inline constexpr std::string_view csv_help = Declared("csv?");
inline constexpr std::string_view sd_help = Declared("sd?");
inline constexpr std::string_view gui = Declared("gui");
inline constexpr std::string_view elapsed = Declared("elapsed");
inline constexpr std::string_view elapsedms = Declared("elapsedms");
inline constexpr std::string_view exterr = Declared("exterr");
inline constexpr std::string_view rm = Declared("rm");
inline constexpr std::string_view del = Declared("del");
inline constexpr std::string_view treedelete = Declared("treedelete");
inline constexpr std::string_view treenuke = Declared("treenuke");
inline constexpr std::string_view recycle = Declared("recycle");
inline constexpr std::string_view unsafe = Declared("unsafe");
inline constexpr std::string_view updatenchead = Declared("updatenchead");
inline constexpr std::string_view cm = Declared("cm");
inline constexpr std::string_view cont = Declared("cont");
inline constexpr std::string_view add = Declared("add");
inline constexpr std::string_view kerbenc = Declared("kerbenc");
inline constexpr std::string_view optenc = Declared("optenc");
inline constexpr std::string_view permissive = Declared("permissive");
inline constexpr std::string_view delegation = Declared("delegation");
inline constexpr std::string_view simple = Declared("simple");
inline constexpr std::string_view digest = Declared("digest");
inline constexpr std::string_view ntlm = Declared("ntlm");
inline constexpr std::string_view ssl = Declared("ssl");
inline constexpr std::string_view sslignoresrvcert = Declared("sslignoresrvcert");
inline constexpr std::string_view starttls = Declared("starttls");
inline constexpr std::string_view expand = Declared("expand");
inline constexpr std::string_view policyhints = Declared("policyhints");
inline constexpr std::string_view verifygc = Declared("verifygc");
inline constexpr std::string_view po = Declared("po");
inline constexpr std::string_view import_ = Declared("import");
inline constexpr std::string_view importus = Declared("importus");
inline constexpr std::string_view importpass1 = Declared("importpass1");
inline constexpr std::string_view importpass2 = Declared("importpass2");
inline constexpr std::string_view trim = Declared("trim");
inline constexpr std::string_view arecex = Declared("arecex");
inline constexpr std::string_view extsrvinfo = Declared("extsrvinfo");
inline constexpr std::string_view rootdse = Declared("rootdse");
inline constexpr std::string_view schema = Declared("schema");
inline constexpr std::string_view null = Declared("null");
inline constexpr std::string_view root = Declared("root");
inline constexpr std::string_view default_ = Declared("default");
inline constexpr std::string_view config = Declared("config");
inline constexpr std::string_view forestdns = Declared("forestdns");
inline constexpr std::string_view domaindns = Declared("domaindns");
inline constexpr std::string_view legacydns = Declared("legacydns");
inline constexpr std::string_view dcs = Declared("dcs");
inline constexpr std::string_view fsps = Declared("fsps");
inline constexpr std::string_view gpo = Declared("gpo");
inline constexpr std::string_view psocontainer = Declared("psocontainer");
inline constexpr std::string_view quotas = Declared("quotas");
inline constexpr std::string_view ldappolicy = Declared("ldappolicy");
inline constexpr std::string_view xrights = Declared("xrights");
inline constexpr std::string_view partitions = Declared("partitions");
inline constexpr std::string_view sitelinks = Declared("sitelinks");
inline constexpr std::string_view sites = Declared("sites");
inline constexpr std::string_view subnets = Declared("subnets");
inline constexpr std::string_view exch = Declared("exch");
inline constexpr std::string_view users = Declared("users");
inline constexpr std::string_view displayspecifiers = Declared("displayspecifiers");
inline constexpr std::string_view ds = Declared("ds");
inline constexpr std::string_view svcs = Declared("svcs");
inline constexpr std::string_view do_ = Declared("do");
inline constexpr std::string_view delobjs = Declared("delobjs");
inline constexpr std::string_view delobjs_plus = Declared("delobjs+");
inline constexpr std::string_view roles = Declared("roles");
inline constexpr std::string_view system = Declared("system");
inline constexpr std::string_view fgpp = Declared("fgpp");
inline constexpr std::string_view csv = Declared("csv");
inline constexpr std::string_view vtsv = Declared("vtsv");
inline constexpr std::string_view nr = Declared("nr");
inline constexpr std::string_view pause = Declared("pause");
inline constexpr std::string_view appver = Declared("appver");
inline constexpr std::string_view progress = Declared("progress");
inline constexpr std::string_view sdnoowner = Declared("sdnoowner");
inline constexpr std::string_view sdnogroup = Declared("sdnogroup");
inline constexpr std::string_view sdnodacl = Declared("sdnodacl");
inline constexpr std::string_view sdnosacl = Declared("sdnosacl");
inline constexpr std::string_view onlydacl = Declared("onlydacl");
inline constexpr std::string_view onlysacl = Declared("onlysacl");
inline constexpr std::string_view sdna = Declared("sdna");
inline constexpr std::string_view sdkeepgeneric = Declared("sdkeepgeneric");
inline constexpr std::string_view pxsdenc = Declared("pxsdenc");
inline constexpr std::string_view h = Declared("h");
inline constexpr std::string_view hh = Declared("hh");
inline constexpr std::string_view hd = Declared("hd");
inline constexpr std::string_view url = Declared("url");
inline constexpr std::string_view p = Declared("p");
inline constexpr std::string_view b = Declared("b");
inline constexpr std::string_view t = Declared("t");
inline constexpr std::string_view rename = Declared("rename");
inline constexpr std::string_view move = Declared("move");
inline constexpr std::string_view rbmove = Declared("rbmove");
inline constexpr std::string_view update = Declared("update");
inline constexpr std::string_view port = Declared("port");
inline constexpr std::string_view safety = Declared("safety");
inline constexpr std::string_view upto = Declared("upto");
inline constexpr std::string_view delim = Declared("delim");
inline constexpr std::string_view mvdelim = Declared("mvdelim");
inline constexpr std::string_view undel = Declared("undel");
inline constexpr std::string_view xdom = Declared("xdom");
inline constexpr std::string_view u = Declared("u");
inline constexpr std::string_view up = Declared("up");
inline constexpr std::string_view upfile = Declared("upfile");
inline constexpr std::string_view rb = Declared("rb");
inline constexpr std::string_view rnpb = Declared("rnpb");
inline constexpr std::string_view csvdelim = Declared("csvdelim");
inline constexpr std::string_view csvmvdelim = Declared("csvmvdelim");
inline constexpr std::string_view counterstart = Declared("counterstart");
inline constexpr std::string_view bmod = Declared("bmod");
inline constexpr std::string_view autobase = Declared("autobase");
inline constexpr std::string_view e = Declared("e");
inline constexpr std::string_view eignore = Declared("eignore");
inline constexpr std::string_view ef = Declared("ef");
inline constexpr std::string_view log = Declared("log");
inline constexpr std::string_view append = Declared("append");
inline constexpr std::string_view undo = Declared("undo");
inline constexpr std::string_view importexclattr = Declared("importexclattr");
inline constexpr std::string_view replacedn = Declared("replacedn");
inline constexpr std::string_view replacedndelim = Declared("replacedndelim");
inline constexpr std::string_view sc = Declared("sc");
inline constexpr std::string_view dotcount = Declared("dotcount");
inline constexpr std::string_view csvmodnull = Declared("csvmodnull");
inline constexpr std::string_view dynamic = Declared("dynamic");
inline constexpr std::string_view tmpobj = Declared("tmpobj");
inline constexpr std::string_view hackon = Declared("hackon");
inline constexpr std::string_view sdsimple = Declared("sdsimple");
inline constexpr std::string_view sdverbatim = Declared("sdverbatim");
inline constexpr std::string_view sdwhatif = Declared("sdwhatif");
inline constexpr std::string_view sd = Declared("sd");
inline constexpr std::string_view sdni = Declared("sdni");
inline constexpr std::string_view dsd = Declared("dsd");
inline constexpr std::string_view stdinadd = Declared("stdinadd");
inline constexpr std::string_view stdinrm = Declared("stdinrm");
inline constexpr std::string_view stdinreplace = Declared("stdinreplace");
inline constexpr std::string_view stdinsort = Declared("stdinsort");
inline constexpr std::string_view stdinsortreverse = Declared("stdinsortreverse");
inline constexpr std::string_view csvfile = Declared("csvfile");
inline constexpr std::string_view rejects = Declared("rejects");
inline constexpr std::string_view showdel = Declared("showdel");
inline constexpr std::string_view showdel_plus = Declared("showdel+");
inline constexpr std::string_view showrecycled = Declared("showrecycled");
inline constexpr std::string_view getsecin = Declared("getsecin");
inline constexpr std::string_view chgpwd = Declared("chgpwd");
inline constexpr std::string_view changepwd = Declared("changepwd");
inline constexpr std::string_view setpwd = Declared("setpwd");
inline constexpr std::string_view csvq = Declared("csvq");
inline constexpr std::string_view encpwd = Declared("encpwd");
inline constexpr std::string_view whatif = Declared("whatif");
inline constexpr std::string_view ldifout = Declared("ldifout");
inline constexpr std::string_view parallel = Declared("parallel");
} // namespace sw

// The row of a declared switch (name compared without regard to case), or
// nullptr.
const SwitchDef* FindSwitch(std::string_view name);

// Replaces every argument after the program path that is a switch's GNU
// spelling ("--help", "--version") by the switch ("-help", "-appver").
void ApplyGnuSpellings(std::vector<std::string>& args);

// The declaration strings handed to the switch parser and Validate.
const std::vector<std::string>& SwitchDeclarations();

// Turns on every plain boolean setting of the switches that are set.  Never
// turns a setting off, so settings an earlier step turned on (SSL from an
// LDAP URL) stay on.
void ApplySwitchSettings(const SwitchParser& parser, RunSettings& settings);

// The attribute-action delimiter as the switches set it so far (-delim,
// unescaped), ":" when none is given.
std::string AttributeDelimiter(const SwitchParser& parser);

// Default environment prefix and switch file (always consulted).
inline constexpr std::string_view kDefaultEnvPrefix = "pellix-default-kelvo-";
inline constexpr std::string_view kDefaultSwitchFile = "pellix_default_kelvo.cf";
// Defaults when -e / -ef are given without a value.
inline constexpr std::string_view kSharedEnvPrefix = "quorv-";
inline constexpr std::string_view kDefaultEfFile = "kelvo.cf";

// Adds switches and attribute actions from environment entries ("NAME=value")
// whose name begins with `prefix` (compared without regard to case).  Switch
// names are lower-cased, values keep their case.  A switch already set is left
// alone.  True when at least one switch was set.
bool ReadEnv(std::string prefix, SwitchParser& parser, const std::vector<std::string>& environment,
             bool debug);

// Switch files larger than this are refused.
inline constexpr std::uint64_t kMaxSwitchFileBytes = 16u << 20;

// Adds switches and attribute actions from a switch file.  0 on success or
// when an optional file is missing or cannot be trusted (a warning says why);
// otherwise the system error code or -1.  Only a regular file owned by the
// user or root and writable by nobody else is read.
std::int64_t ReadEnvFile(const std::string& fileName, bool debug, SwitchParser& parser,
                         bool required);

// The lines of an opened switch file without their line ends.  False, with
// `why` naming the line, when a line is longer than kLineBufferSize or holds
// a NUL byte: such a file is not used at all.
bool ReadSwitchLines(std::FILE* file, std::vector<std::string>& lines, std::string& why);

// Applies the lines of a switch file: "-name value" (or "/name value") sets a
// switch that is not set yet ("{~}" is an empty value, one pair of enclosing
// double quotes is removed); any other line adds its space-separated,
// optionally quoted, attribute actions.
void ApplySwitchLines(const std::vector<std::string>& lines, bool debug, SwitchParser& parser);
