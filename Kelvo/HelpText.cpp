// Kelvo's help texts.
//
// Every text is data.  The switch rows come from the switch table, where
// each switch declares its help line and its place; the keyword lists here
// are tables of {term, description} rows, notes and examples are lists.  A
// small writer lays them out: terms in a left column, descriptions
// word-wrapped to kHelpLineWidth with a hanging indent.  "{VERSION}" inside a
// description is replaced by the program version before the line is
// measured.

#include "HelpText.h"

#include "Diag.h"
#include "Shortcuts.h"
#include "SwitchTable.h"

#include <algorithm>
#include <span>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t kEntryIndent = 3;   // where a row's term starts
constexpr std::size_t kTermColumn = 24;   // where a row's description starts
constexpr std::size_t kNoteIndent = 6;    // continuation of a "    - " note
constexpr std::size_t kExampleIndent = 4; // an example's sentence
constexpr std::size_t kCommandIndent = 6; // an example's command
constexpr std::string_view kVersionMark = "{VERSION}";

constexpr std::size_t kHeadColumn = 14; // where a help switch's description starts

// The usage lines that follow the list of help switches in every help mode.
constexpr std::string_view kUsage = "\n"
                                    "Usage:\n"
                                    " Kelvo [switches] [attr-action]\n"
                                    "\n"
                                    "  Switches: (designated by - or /)\n";

constexpr std::string_view kTypeDetails = "    Type Kelvo /?? for details.\n";
constexpr std::string_view kTypeMoreNotes = "    Type Kelvo /?? for more notes.\n\n\n";

// ---------------------------------------------------------------------------
// Basic help
// ---------------------------------------------------------------------------

// The switch sections of the basic help and of the advanced help, in order.
// Their rows come from the switch table.
struct SectionTitle {
    HelpSection section;
    std::string_view title;
};

constexpr SectionTitle kBasicSections[] = {
    {HelpSection::Connection, "CONNECTION OPTIONS"},
    {HelpSection::Update, "UPDATE OPTIONS"},
    {HelpSection::Action, "ACTIONS"},
};

constexpr SectionTitle kAdvancedSections[] = {
    {HelpSection::Connection, "CONNECTION OPTIONS"},
    {HelpSection::Update, "UPDATE OPTIONS"},
    {HelpSection::Action, "ACTION OPTIONS"},
    {HelpSection::Output, "OUTPUT OPTIONS"},
    {HelpSection::Authentication, "AUTHENTICATION OPTIONS"},
    {HelpSection::Misc, "MISC OPTIONS"},
};

constexpr HelpEntry kAttributeOperations[] = {
    {"attr::value", "Replace all values of attr with value."},
    {"attr:+:value", "Add value."},
    {"attr:-:value", "Remove value."},
    {"attr:-", "Clear attr (remove all of its values)."},
    {"attr:++:v1;v2;...", "Add several values."},
    {"attr:+-:v1;v2;...", "Replace all values with these values."},
    {"attr:--:v1;v2;...", "Remove several values."},
};

constexpr std::string_view kBasicNotes[] = {
    "Quote attribute actions that hold spaces or any of ; ( ) { } * ! $ for the shell, for "
    "example \"othertelephone:++:555-0101;555-0102\".",
    "Kelvo stops at the first failed object unless -cont is given, and refuses to touch more "
    "than 10 objects unless -safety, -upto or -unsafe allows more.",
    "The exit status is 0 when every object succeeded, otherwise the LDAP result code of the "
    "last failure; usage errors and help give 1.",
    "To find objects, use the companion query tool Quorv and pipe its DN list into Kelvo.",
};

constexpr HelpExample kExamples[] = {
    {"Set the description of one user:",
     "kelvo -b cn=jdoe,ou=staff,dc=corp,dc=example description::\"Contractor\""},
    {"Set the department of every object listed in dns.txt (one DN per line):",
     "cat dns.txt | kelvo -unsafe department::Sales"},
    {"Add two phone numbers and clear the info attribute:",
     "kelvo -b cn=jdoe,ou=staff,dc=corp,dc=example \\\n"
     "  \"othertelephone:++:555-0101;555-0102\" info:-"},
    {"Create a group:", "kelvo -add -b cn=sales,ou=groups,dc=corp,dc=example \\\n"
                        "  objectclass::group samaccountname::sales"},
    {"Delete an OU with everything below it, on the server dc1:",
     "kelvo -h dc1.corp.example -b ou=old,dc=corp,dc=example -rm -treedelete"},
    {"Move a computer to another OU:", "kelvo -b cn=pc01,ou=old,dc=corp,dc=example \\\n"
                                       "  -move ou=new,dc=corp,dc=example"},
    {"Rename a user to cn=jdoe2 in the same OU:",
     "kelvo -b cn=jdoe,ou=staff,dc=corp,dc=example -rename jdoe2"},
};

constexpr std::string_view kClosing =
    "Kelvo {VERSION} changes objects in LDAP directories: Active Directory, AD LDS and "
    "OpenLDAP. To find and read objects, use the companion query tool Quorv; its DN lists "
    "and CSV output can be piped into Kelvo. Type Kelvo /?? for every switch, /sc? for "
    "shortcuts, /csv? for CSV input and /sd? for security descriptors.";

// ---------------------------------------------------------------------------
// Advanced help: attributes, operations, values, notes, examples
// ---------------------------------------------------------------------------

constexpr HelpEntry kActionParts[] = {
    {"attr", "The attribute's LDAP display name (letter case does not matter). A type "
             "prefix, type##attr, says how the value is encoded (Typed values below)."},
    {"op", "Empty: replace. +: add. -: remove, or clear when no value follows. ++: add "
           "several. +-: replace with several. --: remove several."},
    {"values", "Everything after the second separator, so a value may hold a colon: "
               "description::a:b sets \"a:b\". ++, +- and -- split the values at ; "
               "(-mvdelim) and drop empty ones."},
};

constexpr std::string_view kOperationNotes[] = {
    "Each object gets one request holding every change, sent in this order: clears, "
    "removes, replaces, adds, then typed values; by attribute name within each group.",
    "Replacing one attribute twice keeps the last value; several adds to one attribute go "
    "in one change.",
    "attr:: with nothing after it is rejected; clear with attr:- instead.",
    "member:- (clear all members) needs -cm.",
    "With -add every action adds values; :-: and :--: are ignored with a warning.",
};

constexpr HelpEntry kTypedValues[] = {
    {"sid##", "SID text (S-1-5-...), sent as a binary SID."},
    {"guid##", "GUID with or without braces, sent as 16 bytes in the order the directory "
               "stores objectGUID."},
    {"bin##, hex##", "Hex digits, spaces allowed (FF EA 34), sent as bytes."},
    {"base64##", "Hex digits, as for bin## (the text is not base64-decoded)."},
    {"txt##", "Text with escapes: \\n \\r \\t \\v, \\hh a hex byte (so \\0a is a line "
              "feed), \\\\ a backslash."},
    {"importfile##", "Path of a file; its whole content is the value."},
    {"sd##", "Security descriptor: SDDL, source tokens and modifiers (Kelvo /sd?)."},
    {"utc##, local##", "Date YYYY/MM/DD[-HH:MM:SS] in UTC or local time, sent as an int8 "
                       "time (100 ns units since 1601): utc##accountexpires::2030/12/31."},
    {"utcgt##, localgt##", "The same, sent as generalized time (YYYYMMDDHHMMSS.0Z)."},
    {"current##", "Now plus a delta, as int8. The delta is 30d, -12h, 90m, 45s or "
                  "days:hh:mm:ss: current##accountexpires::30d expires in 30 days."},
    {"currentgt##", "Now plus a delta, as generalized time."},
    {"delta##", "A delta alone, as int8. Durations such as lockoutDuration are negative: "
                "delta##lockoutduration::-30m."},
    {"dnwbin##", "DN with binary: dn:hexdata becomes B:len:hexdata:dn, e.g. "
                 "dnwbin##attr::cn=x,dc=y:AE72. ++ and -- take several, separated by ;."},
    {"dnwstr##, dnwtxt##", "DN with string: dn:text becomes S:len:text:dn."},
};

constexpr std::string_view kUnicodePwd =
    "unicodepwd::new sets (resets) a password; Kelvo adds the quotes and sends it as "
    "UTF-16. \"unicodepwd:-:old\" \"unicodepwd:+:new\" changes it, proving the old one. "
    "The directory takes passwords only over an encrypted connection: use -ssl or -optenc "
    "(-setpwd and -chgpwd add -optenc). With -expand, unicodepwd::{{*rnd*}} sets a random "
    "password, printed after each DN.";

constexpr std::string_view kAdvancedNotes[] = {
    "Switches start with -. A / prefix works too, but only when a switch name Kelvo knows "
    "follows it (/?? or /b), so paths such as /home/a/x.csv are values. --help and "
    "--version work as -help and -appver.",
    "Switch names ignore letter case; a switch given twice keeps its last value. A word "
    "starting with - and a digit (-5) is a value, not a switch.",
    "Attribute actions that differ only in letter case count once.",
    "A -b or piped value S-1-... becomes <SID=...>, a GUID becomes <GUID=...>.",
    "Exit status: 0 when every object succeeded; the LDAP result code of the last failure; "
    "1 for usage errors and help; -1 for fatal set-up errors (no connection, safety limit, "
    "bad input). The shell sees the low 8 bits of the code, so -1 shows as 255.",
    "Changes to a DN starting with dc= (a naming-context head) need -updatenchead.",
};

constexpr std::string_view kFurtherNotes[] = {
    "Switches come from five levels, highest first: the command line; environment "
    "variables with the -e prefix; the -ef file; environment variables starting with "
    "pellix-default-kelvo-; the file pellix_default_kelvo.cf in the current directory "
    "(optional). A lower level never overrides a switch already set; attribute actions "
    "of every level are added.",
    "Names with a dash cannot be exported by most shells; set them with env, as in env "
    "quorv-h=dc1 kelvo -e ...",
    "Piped input: empty lines and lines starting with a space or # are skipped, so are "
    "Quorv's diagnostic lines. UTF-16 input is refused; pipe UTF-8.",
    "Piped LDIF (a first line starting with version:, dn: or dn::) gives the DN of each "
    "entry, base64 dn:: lines decoded; the rest is skipped.",
    "A lost server stops the run, also with -cont, with exit status 0x51 (81); -rejects "
    "keeps the objects it did not reach.",
    "A first piped line starting with ~ may hold connection values separated by "
    "~~~X~~~, in the order host, port, user, password, simple, hh, url, ssl "
    "(~~~X~~~dc1~~~X~~~636 sets host and port). It overrides the command line.",
    "A password of '*' (quoted, so the shell leaves it alone) is asked for at a hidden "
    "prompt on the terminal; without a terminal the run fails. Scripts use -upfile FILE "
    "(mode 600) or an ENCPWD: value. -d2 shows passwords; do not keep its output. Log "
    "files are created with mode 0600.",
    "Connections use OpenLDAP's client settings, later sources winning: /etc/ldap/ldap.conf, "
    "~/ldaprc, ~/.ldaprc, ./ldaprc, $LDAPCONF, $LDAPRC, then LDAP* variables (LDAPURI, "
    "LDAPBASE, LDAPTLS_CACERT, LDAPTLS_REQCERT, ...); switches win over all of them. -d "
    "shows which were read.",
    "Without -simple, -digest or -ntlm Kelvo binds with Negotiate (Kerberos): with no -u "
    "from the ticket cache (kinit), with -u and -up by getting a ticket for that user.",
};

constexpr HelpExample kAdvancedExamples[] = {
    {"Add the DNs listed in members.txt to a group:",
     "cat members.txt | kelvo -b cn=sales,ou=groups,dc=corp,dc=example \\\n"
     "  -stdinadd member"},
    {"Set an expiry date and a random password (printed), over SSL:",
     "kelvo -ssl -expand -b cn=jdoe,ou=staff,dc=corp,dc=example \\\n"
     "  utc##accountexpires::2030/12/31 \"unicodepwd::{{*rnd*}}\""},
    {"Reset a password typed at a hidden prompt:",
     "kelvo -ssl -getsecin -b cn=jdoe,ou=staff,dc=corp,dc=example \\\n"
     "  \"unicodepwd::{*}\""},
    {"Save an encrypted password once, then bind with it:",
     "kelvo -encpwd\n"
     "kelvo -simple -ssl -u svc01@corp.example -up ENCPWD:... \\\n"
     "  -b cn=pc01,ou=lab,dc=corp,dc=example info::Checked"},
    {"Delete the piped objects children first, at most 500:",
     "cat old.txt | kelvo -rm -stdinsortreverse -safety 500"},
    {"Try the first 5 objects of a long list:", "cat dns.txt | kelvo -upto 5 info::Checked"},
    {"Take the host from a variable shared with Quorv:",
     "env quorv-h=dc1.corp.example kelvo -e \\\n"
     "  -b cn=pc01,ou=lab,dc=corp,dc=example description::Lab"},
    {"Read switches from a file lab.cf holding the lines -h dc1.corp.example, -ssl and "
     "department::Lab:",
     "kelvo -ef lab.cf -b cn=pc01,ou=lab,dc=corp,dc=example"},
    {"Undelete an object by its GUID, to its last known parent:",
     "kelvo -b 26c18f02-9b73-495b-9f53-8207fc72527d -undel"},
    {"Create a contact that deletes itself after 2 hours:",
     "kelvo -add -tmpobj 2h -b cn=tmp01,ou=lab,dc=corp,dc=example \\\n"
     "  objectclass::contact"},
    {"Write to the RootDSE of one server (same as -sc refreshschema):",
     "kelvo -h dc1.corp.example -rootdse schemaUpdateNow::1"},
    {"Change an object named by an LDAP URL:",
     "kelvo -url ldaps://dc1.corp.example/ou=lab,dc=corp,dc=example info::Lab"},
    {"Move each piped object to ou=moved under its own domain:",
     "cat dns.txt | kelvo -rbmove ou=moved"},
};

// ---------------------------------------------------------------------------
// Shortcut help
// ---------------------------------------------------------------------------

// The shortcut and container rows come from their tables (Shortcuts.h); the
// flag-name note is built from the account-control flag table.

constexpr HelpEntry kPasswordSwitches[] = {
    {"-chgpwd old:new", "Change a password: unicodepwd:-:old unicodepwd:+:new, with "
                        "-optenc. -changepwd is the same."},
    {"-setpwd new", "Set (reset) a password: unicodepwd::new, with -optenc."},
};

constexpr HelpExample kShortcutExamples[] = {
    {"Reload the schema cache of one server:", "kelvo -h dc1.corp.example -sc refreshschema"},
    {"Protect an OU from accidental deletion:",
     "kelvo -b ou=staff,dc=corp,dc=example -sc sddelprot"},
    {"Create 100 test users cn=test_0 ... cn=test_99 with random passwords:",
     "kelvo -sc \"adau:100;;cn=test,ou=lab,dc=corp,dc=example\""},
    {"Create 10 global security groups:",
     "kelvo -sc \"adag:10;gs;cn=grp,ou=lab,dc=corp,dc=example\""},
    {"Disable the accounts of a CSV list with dn and useraccountcontrol columns:",
     "cat users.csv | kelvo -unsafe -sc ad-disable"},
    {"Set the description of cn=jdoe in CN=Users of the default naming context:",
     "kelvo -users -rb cn=jdoe description::Test"},
    {"Reset a password:", "kelvo -ssl -b cn=jdoe,ou=staff,dc=corp,dc=example -setpwd "
                          "'N3w-Secret'"},
};

// ---------------------------------------------------------------------------
// CSV help
// ---------------------------------------------------------------------------

constexpr HelpEntry kCsvSwitches[] = {
    {"-csv", "Read CSV from standard input."},
    {"-csvfile file", "Read CSV from a file, whatever standard input is."},
    {"-csvdelim c", "Field separator (default ,). \\t stands for a TAB."},
    {"-csvmvdelim c", "Separator of the values of one field (default ;)."},
    {"-csvq c", "Quote character (default \")."},
    {"-vtsv", "Tab-separated input: fields by TAB, values by |, quote \"."},
    {"-csvmodnull mode", "An empty value: ignore leaves the attribute alone, clear removes "
                         "all of its values. Without it the empty value is sent."},
    {"-expand", "Expand {{...}}; needed with -add or -update (see below)."},
    {"-counterstart n", "First value of {{*cnt*}} (default 0)."},
    {"-rb rdn", "Relative base joined in front of every DN of the input."},
};

constexpr std::string_view kCsvNotes[] = {
    "The first line is the header naming the columns (letter case does not matter); the "
    "first column of every row is the object's DN.",
    "Each field may hold several values separated by ; (also inside quotes). Quotes group "
    "text holding the separator and are not kept; \\; and \\\" give a literal ; or \".",
    "Values written X'0a1b' become the hex text 0a1b (use it with bin##).",
    "Empty lines and lines starting with a space or # are skipped.",
    "One request is sent per row. Rows naming the same DN are applied one after the "
    "other, in the order of the input.",
    "A line that cannot be read as the header says (an open quote, more or fewer fields "
    "than the header, text that is not UTF-8) stops the run with its line number; the "
    "header's first column must be dn and no column may be named twice.",
    "-b and the special bases cannot be used with CSV input: the DNs come from the "
    "input.",
    "Expansion is on by itself for ADCSV input and for updates without -update; give "
    "-expand with -add or -update.",
    "The safety limit counts rows: add -safety n or -unsafe for more than 10.",
};

constexpr std::string_view kAdcsv =
    "ADCSV is the CSV the companion query tool Quorv writes: a marker line holding "
    "~~~ADCSV~~~ comes before the header and carries the CSV separators and the connection "
    "Quorv used (host, port, user, password, simple, hh, url, ssl). Kelvo connects to "
    "that host; its port, user and password are used when -p, -u and -up are not given. "
    "Expansion is always on for ADCSV.";

constexpr HelpEntry kExpansionForms[] = {
    {"{{column}}", "The value of that column in the object's row."},
    {"{{.}} or {{}}", "The column named like the attribute being set: "
                      "description::{{.}} reads the description column."},
    {"{{column:_lc}}", "Lower case; :_uc upper case (after any other modifier)."},
    {"{{column:op:n}}", "Arithmetic on an integer value: and, or, xor, set, clr, +, -, *, /. "
                        "n is decimal, 0x hex or b binary: useraccountcontrol::{{.:SET:2}}."},
    {"{{column:r:a:b}}", "Replace the first a by b; rall every a; r_ci and rall_ci ignore "
                         "case. {{column:$rall$a$b}} uses $ so a and b may hold colons."},
    {"{{column:allvals}}", "All values joined by ;, or by the text after ::, e.g. "
                           "{{column:allvals::|}}."},
    {"{{column:encutc_int8}}", "A date YYYY/MM/DD[-HH:MM:SS] as int8 (enclocal_int8: local "
                               "time); ::+d:10 shifts it by 10 days."},
    {"{{column:int8+d:n}}", "Shift an int8 value by n days (int8-d, int8+h, int8-h, int8+m, "
                            "int8-m)."},
};

constexpr HelpEntry kExpansionOpcodes[] = {
    {"*cnt*", "Object counter (from -counterstart)."},
    {"*rnd*[:min:max:set]", "Random text, default 15 to 24 characters with upper and lower "
                            "case, digits and symbols. set: characters, or keywords joined "
                            "by __ from uc lc num spec hex (uc__lc__num)."},
    {"*dn* *rdn* *name*", "The object's DN, RDN, and RDN value (CSV input only)."},
    {"*parentdn* *ndc*", "Parent DN; the DN without its domain part (CSV input only)."},
    {"*domaindn*", "DN of the object's domain (CSV input only)."},
    {"*origname*", "The name before -bmod rewrote it (CSV input only)."},
    {"*domaindns* *domain*", "DNS name of the object's domain (of the default naming "
                             "context outside CSV input)."},
    {"*defaultnc* *confignc*", "Default naming context; configuration partition."},
    {"*schemanc* *rootnc*", "Schema partition; forest root domain (also *schemadn*, "
                            "*defaultdn*, *rootdn*, *forestnc*, *forestdn*)."},
    {"*rootdns* *forestdns*", "DNS name of the forest root domain."},
    {"*hostfqdn*", "DNS name of the connected server."},
    {"*adminsdholder*", "CN=AdminSDHolder,CN=System of the default naming context."},
    {"*secprin*", "The bound account (DOMAIN\\user)."},
    {"*sid*:name", "SID of an account name; *isid*:name gives <SID=...>."},
    {"*ldssid*:dn", "SID of an AD LDS principal."},
    {"*now* *now_utc*", "Current local or UTC time, YYYY/MM/DD-HH:MM:SS."},
    {"*nowgt*", "Current time as generalized time."},
    {"*now_int8*[:+d:n]", "Current time as int8, shifted by +d -d +h -h +m -m n."},
    {"*now_gt*[:+d:n]", "The same as generalized time."},
    {"*encutc_int8*:date", "A date as int8 (UTC); *enclocal_int8* takes local time. Shift "
                           "with ::+d:n after the date."},
};

constexpr std::string_view kImportMode =
    "Import mode copies every CSV column into the objects without an attribute action per "
    "column: single-valued attributes are replaced, others get the values added. It is on "
    "with -import or -importus, and when CSV input comes without attribute actions. "
    "Columns named by an attribute action are left to that action. -importexclattr "
    "excludes columns; objectSid, objectGUID, whenCreated, usnChanged and other "
    "system-owned attributes are excluded by default. Two passes handle DN values of "
    "objects not yet created: -add -importpass1, then -importpass2. -replacedn rewrites "
    "DNs for another directory (-import turns on -replacedn _all).";

constexpr HelpExample kCsvExamples[] = {
    {"staff.csv holds a header and one row per user:",
     "dn,department,telephonenumber\n"
     "\"cn=jdoe,ou=staff,dc=corp,dc=example\",Sales,555-0101"},
    {"Set department and phone number from it:",
     "kelvo -csvfile staff.csv \"department::{{department}}\" \\\n"
     "  \"telephonenumber::{{.}}\""},
    {"The same from a pipe, for more than 10 rows:",
     "cat staff.csv | kelvo -csv -unsafe \"department::{{department}}\""},
    {"Set a description built from the row and the date:",
     "cat staff.csv | kelvo -csv \"description::{{department:_uc}} {{*now*}}\""},
    {"Disable the accounts of a list with a useraccountcontrol column:",
     "cat users.csv | kelvo -csv \"useraccountcontrol::{{.:SET:2}}\""},
    {"Create the objects of an export, copying every column:",
     "cat export.csv | kelvo -csv -add -import -unsafe"},
};

// ---------------------------------------------------------------------------
// Security descriptor help
// ---------------------------------------------------------------------------

constexpr std::string_view kSdIntro =
    "A descriptor is written by an attribute action with the sd## prefix, "
    "SD##ntsecuritydescriptor::value. The value is SDDL text, or a source token followed "
    "by modifiers. -sd mods is short for SD##ntsecuritydescriptor::{GETSD}mods and -dsd "
    "mods for SD##ntsecuritydescriptor::{GETDSD}mods; both turn on -exterr. Quote the "
    "value for the shell.";

constexpr HelpEntry kSdSources[] = {
    {"{GETSD}", "The object's current descriptor."},
    {"{GETSD}=dn", "The descriptor of the object dn."},
    {"{GETPSD}[=dn]", "As {GETSD}; the rebuilt DACL is protected (AI becomes PAI)."},
    {"{GETISD}[=dn]", "As {GETSD}; the rebuilt DACL inherits (PAI becomes AI)."},
    {"{GETDSD}", "The default descriptor of the object's class (ACL flags AI)."},
    {"{GETDSD}=class", "The default descriptor of the named class."},
    {"{GETPDSD}[=class]", "As {GETDSD}, with ACL flags PAI."},
    {"{GETTSD}", "The descriptor of the template object pellix-default-<class> in the "
                 "object's domain, else of pellix-default."},
    {"{GETTSD}=name", "The descriptor of the object with that name."},
};

constexpr std::string_view kSdAliases =
    "In the dn after =, {{*CONFIGNC*}}, {{*DEFAULTNC*}}, {{*ROOTNC*}}, {{*SYSTEM*}} and "
    "{{*ADMINSDHOLDER*}} stand for those DNs; {{*DN*}} anywhere in the value is the DN of "
    "the object being changed.";

constexpr HelpEntry kSdModifiers[] = {
    {"{+D=[flags](ace)...}", "Add ACEs to the DACL unless an equal ACE is there. Flags AI "
                             "or PAI set the DACL flags; {+D=PAI()} only changes them."},
    {"{-D=(ace)...}", "Remove the matching explicit ACEs; * matches any field, and flags "
                      "and rights match in any order."},
    {"{+S=...}, {-S=...}", "The same for the SACL."},
    {"{+O=principal}", "Set the owner."},
    {"{+G=principal}", "Set the primary group."},
};

constexpr std::string_view kSdModifierOrder =
    "Modifiers follow the source directly and may use : for =. They apply in this order: "
    "DACL removes, DACL adds, SACL removes, SACL adds, owner, group.";

constexpr HelpEntry kSdAceFields[] = {
    {"type", "A allow, D deny, OA and OD object allow and deny, AU and OU audit."},
    {"flags", "CI container inherit, OI object inherit, IO inherit only, NP no "
              "propagate, ID inherited; SA and FA audit success and failure."},
    {"rights", "RP WP read and write property, CC DC create and delete child, LC list "
               "children, LO list object, SW self write, DT delete tree, CR extended "
               "right, SD delete, RC read permissions, WD write permissions, WO write "
               "owner; GA GR GW GX are expanded to these."},
    {"object, inherited", "A GUID, or the name of an attribute, class or extended right: "
                          "member, user, Reset Password."},
    {"principal", "A SID, an SDDL alias (DA EA BA AO AU WD SY ...), DOMAIN\\name, "
                  "name@domain or a group name such as Enterprise Admins."},
};

constexpr std::string_view kSdResult =
    "Only explicit ACEs are kept; the directory adds the inherited ones. A changed DACL is "
    "written deny ACEs first, then the others, each sorted and without duplicates "
    "(-sdverbatim keeps your order). A descriptor that cannot be built, because of a bad "
    "ACE, an unknown name or a missing source, stops the run before anything is written; "
    "-exterr lists it ACE by ACE.";

constexpr HelpEntry kSdFriendly[] = {
    {"[OWNER] [GROUP]", "O: G:"},
    {"[DACL] [SACL]", "D: S:"},
    {"(FLAGS:PROTECTED)", "P; (FLAGS:INHERIT) AI; (FLAGS:PROTECTED INHERIT) PAI; "
                          "(FLAGS:INHERIT REQ) AR."},
    {"ALLOW DENY", "A D; OBJ ALLOW OA, OBJ DENY OD, AUDIT AU, OBJ AUDIT OU, ALARM AL, OBJ "
                   "ALARM OL."},
    {"[CONT INHERIT]", "CI; [OBJ INHERIT] OI, [INHERIT ONLY] IO, [NO PROPAGATE] NP, "
                       "[INHERITED] ID, [SUCCESS] SA, [FAILURE] FA."},
    {"[READ PROP]", "RP; [WRT PROP] WP, [CR CHILD] CC, [DEL CHILD] DC, [LIST CHILDREN] LC, "
                    "[SELF WRT] SW, [LIST OBJ] LO, [DEL TREE] DT, [CTL] CR, [DEL] SD, [READ "
                    "PERMS] RC, [WRT PERMS] WD, [WRT OWNER] WO."},
    {"[FC]", "GA; [GEN READ] GR, [GEN WRT] GW, [GEN EXE] GX."},
    {"[SDDL]", "A leading [SDDL] or [SDDL_EXPLICIT] marker is ignored."},
};

constexpr HelpEntry kSdSwitches[] = {
    {"-sd mods", "Change the current descriptor ({GETSD}) with modifiers."},
    {"-dsd mods", "Start from the class default ({GETDSD}) and apply modifiers."},
    {"-sdwhatif", "Print the resulting descriptor; send nothing for it."},
    {"-sdverbatim", "Keep the ACE order as written, duplicates included."},
    {"-sdkeepgeneric", "Keep generic rights (GA GR GW GX) instead of expanding them."},
    {"-sdsimple", "Encode each SD## value on its own, as soon as it is read."},
    {"-pxsdenc", "Build the descriptor with the alternative encoder, which also reorders "
                 "the DACL by ACE kind and trustee."},
    {"-sdnoowner", "Sources do not read the owner."},
    {"-sdnogroup", "Sources do not read the group."},
    {"-sdnodacl", "Sources do not read the DACL."},
    {"-sdnosacl, -sdna", "Sources do not read the SACL, so no auditing rights are needed."},
    {"-onlydacl", "Read and write the DACL only."},
    {"-onlysacl", "Read and write the SACL only."},
    {"-exterr", "List a descriptor that cannot be converted, ACE by ACE."},
};

constexpr std::string_view kSdParts =
    "Every part a source reads is written back. Reading the SACL needs auditing rights; "
    "when you change only the DACL, add -onlydacl (or -sdna to skip only the SACL). The "
    "shortcuts sdreset, "
    "sddelprot, sdinherit, sdstrip and others (Kelvo /sc?) build common changes.";

constexpr HelpExample kSdExamples[] = {
    {"Let a group reset the passwords of users below an OU:",
     "kelvo -onlydacl -b ou=staff,dc=corp,dc=example \\\n"
     "  -sd '{+D=(OA;CIIO;CR;Reset Password;user;CORP\\Helpdesk)}'"},
    {"Remove every explicit ACE of the Account Operators:",
     "kelvo -onlydacl -b ou=staff,dc=corp,dc=example -sd '{-D=(*;*;*;*;*;AO)}'"},
    {"Preview a change without writing it:",
     "kelvo -sdwhatif -onlydacl -b ou=staff,dc=corp,dc=example \\\n"
     "  -sd '{+D=(A;;RP;;;WD)}'"},
    {"Make Domain Admins the owner, reading and writing the owner only:",
     "kelvo -sdnogroup -sdnodacl -sdna -b cn=pc01,ou=lab,dc=corp,dc=example \\\n"
     "  -sd '{+O=DA}'"},
    {"Reset an object to its class default:",
     "kelvo -b cn=jdoe,ou=staff,dc=corp,dc=example -sc sdreset"},
    {"Copy the DACL of a template OU:",
     "kelvo -onlydacl -b ou=new,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::{GETSD}=ou=template,dc=corp,dc=example'"},
    {"Write a complete descriptor:",
     "kelvo -b ou=lab,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::O:DAG:DAD:PAI(A;;GA;;;DA)(A;;GA;;;SY)'"},
    {"Protect an OU from inheritance (its inherited ACEs go), and let it inherit again:",
     "kelvo -onlydacl -b ou=vault,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::{GETPSD}{+D=(A;;RPLCLORC;;;AU)}'\n"
     "kelvo -onlydacl -b ou=vault,dc=corp,dc=example -sc sdinherit"},
    {"Give an OU the DACL of AdminSDHolder, letting it inherit:",
     "kelvo -onlydacl -b ou=tier0,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::{GETISD}={{*ADMINSDHOLDER*}}'"},
    {"Reset to the class default with a protected DACL, or to a named class's default:",
     "kelvo -b cn=jdoe,ou=staff,dc=corp,dc=example -dsd '{+D=PAI()}'\n"
     "kelvo -b ou=new,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::{GETPDSD}=organizationalUnit'"},
    {"Apply the template objects pellix-default-<class> (or pellix-default) to piped DNs:",
     "kelvo -onlydacl 'SD##ntsecuritydescriptor::{GETTSD}' < dns.txt"},
    {"Apply the descriptor of the one object named StaffTemplate:",
     "kelvo -onlydacl -b ou=staff,dc=corp,dc=example \\\n"
     "  'SD##ntsecuritydescriptor::{GETTSD}=StaffTemplate'"},
    {"Audit writes by Everyone, and stop auditing them again (needs auditing rights):",
     "kelvo -onlysacl -b ou=hr,dc=corp,dc=example -sd '{+S=(AU;CISA;WP;;;WD)}'\n"
     "kelvo -onlysacl -b ou=hr,dc=corp,dc=example -sd '{-S=(AU;*;WP;*;*;WD)}'"},
    {"Set the owner and the primary group by name:",
     "kelvo -sdnodacl -sdna -b cn=pc01,ou=lab,dc=corp,dc=example \\\n"
     "  -sd '{+O=CORP\\Domain Admins}{+G=CORP\\Domain Users}'"},
    {"Let Everyone read an OU and what is below it, in friendly notation:",
     "kelvo -onlydacl -b ou=staff,dc=corp,dc=example \\\n"
     "  -sd '{+D=(ALLOW;[CONT INHERIT];[READ PROP][LIST OBJ];;;Everyone)}'"},
};

// ---------------------------------------------------------------------------
// Layout
// ---------------------------------------------------------------------------

// Builds one help text; knows nothing of the content.
class HelpWriter final : public HelpSink {
  public:
    explicit HelpWriter(std::string_view version) : version_(version) {}

    std::string Take() { return std::move(out_); }

    void Raw(std::string_view text) { out_ += text; }

    void Blank() override { out_ += '\n'; }

    // "\n  TITLE\n  -----\n"
    void Title(std::string_view title) override {
        out_ += "\n  ";
        out_ += title;
        out_ += "\n  ";
        out_.append(title.size(), '-');
        out_ += '\n';
    }

    // "\n  Heading\n"
    void Heading(std::string_view heading) override {
        out_ += "\n  ";
        out_ += heading;
        out_ += '\n';
    }

    void Paragraph(std::size_t indent, std::string_view text) override {
        out_.append(indent, ' ');
        Wrapped(text, indent);
        out_ += '\n';
    }

    void Entries(std::span<const HelpEntry> entries) override {
        for (const HelpEntry& entry : entries) {
            out_.append(kEntryIndent, ' ');
            out_ += entry.term;
            const std::size_t used = kEntryIndent + entry.term.size();
            if (used >= kTermColumn) {
                out_ += '\n';
                out_.append(kTermColumn, ' ');
            } else {
                out_.append(kTermColumn - used, ' ');
            }
            Wrapped(entry.text, kTermColumn);
            out_ += '\n';
        }
    }

    // "-help         Basic help." lines: the term padded to kHeadColumn.
    void HeadEntries(std::span<const HelpEntry> entries) {
        for (const HelpEntry& entry : entries) {
            out_ += entry.term;
            out_.append(kHeadColumn - std::min(kHeadColumn - 1, entry.term.size()), ' ');
            out_ += entry.text;
            out_ += '\n';
        }
    }

    void Section(std::string_view title, std::span<const HelpEntry> entries,
                 std::span<const HelpEntry> advanced) {
        Title(title);
        Entries(entries);
        if (!advanced.empty()) {
            out_ += "\n   Advanced:\n";
            Entries(advanced);
        }
    }

    void Notes(std::string_view heading, std::span<const std::string_view> notes) override {
        Heading(heading);
        for (std::string_view note : notes) {
            out_ += "    - ";
            Wrapped(note, kNoteIndent);
            out_ += '\n';
        }
    }

    void Examples(std::string_view heading, std::span<const HelpExample> examples) override {
        Heading(heading);
        for (const HelpExample& example : examples) {
            out_ += '\n';
            Paragraph(kExampleIndent, example.what);
            std::string_view rest = example.command;
            while (true) {
                const std::size_t cut = rest.find('\n');
                out_.append(kCommandIndent, ' ');
                out_ += rest.substr(0, cut);
                out_ += '\n';
                if (cut == std::string_view::npos) break;
                rest.remove_prefix(cut + 1);
            }
        }
    }

  private:
    // Appends `text` word-wrapped.  The current line already holds `indent`
    // columns and no word; continuation lines are indented by `indent`.
    void Wrapped(std::string_view text, std::size_t indent) {
        std::size_t column = indent;
        bool lineEmpty = true;
        std::size_t pos = 0;
        while (pos < text.size()) {
            if (text[pos] == '\n') {
                out_ += '\n';
                out_.append(indent, ' ');
                column = indent;
                lineEmpty = true;
                ++pos;
                continue;
            }
            if (text[pos] == ' ') {
                ++pos;
                continue;
            }
            const std::size_t end = text.find_first_of(" \n", pos);
            const std::string_view raw = text.substr(pos, end - pos);
            pos += raw.size();
            const std::string word = WithVersion(raw);
            if (!lineEmpty && column + 1 + word.size() > kHelpLineWidth) {
                out_ += '\n';
                out_.append(indent, ' ');
                column = indent;
                lineEmpty = true;
            }
            if (!lineEmpty) {
                out_ += ' ';
                ++column;
            }
            out_ += word;
            column += word.size();
            lineEmpty = false;
        }
    }

    std::string WithVersion(std::string_view word) const {
        std::string result(word);
        const std::size_t at = result.find(kVersionMark);
        if (at != std::string::npos) result.replace(at, kVersionMark.size(), version_);
        return result;
    }

    std::string out_;
    std::string_view version_;
};

// The rows of one help block in rank order: {term, description} of every
// switch that has a row there.
std::vector<HelpEntry> SwitchRows(HelpPlace SwitchDef::*place, HelpSection section,
                                  HelpBlock block) {
    std::vector<const SwitchDef*> defs;
    for (const SwitchDef& def : kSwitchTable) {
        const HelpPlace& at = def.*place;
        if (at.section == section && at.block == block) defs.push_back(&def);
    }
    std::stable_sort(defs.begin(), defs.end(), [place](const SwitchDef* a, const SwitchDef* b) {
        return (a->*place).rank < (b->*place).rank;
    });
    std::vector<HelpEntry> rows;
    for (const SwitchDef* def : defs) {
        const bool basic = place == &SwitchDef::basic && !def->basicHelp.empty();
        rows.push_back({def->term, basic ? def->basicHelp : def->help});
    }
    return rows;
}

void ComposeHead(HelpWriter& w) {
    w.HeadEntries(SwitchRows(&SwitchDef::place, HelpSection::Head, HelpBlock::Main));
    w.Raw(kUsage);
}

void ComposeBasic(HelpWriter& w) {
    KELVO_TRACE_SCOPE();
    for (const SectionTitle& section : kBasicSections)
        w.Section(section.title, SwitchRows(&SwitchDef::basic, section.section, HelpBlock::Main),
                  {});
    w.Heading("Attribute actions: attr:op:values");
    w.Entries(kAttributeOperations);
    w.Raw("\n");
    w.Raw(kTypeDetails);
    w.Notes("Notes:", kBasicNotes);
    w.Raw("\n");
    w.Raw(kTypeMoreNotes);
    w.Examples("Examples:", kExamples);
    w.Raw("\n");
    w.Paragraph(2, kClosing);
}

void ComposeAdvanced(HelpWriter& w) {
    KELVO_TRACE_SCOPE();
    for (const SectionTitle& section : kAdvancedSections)
        w.Section(section.title, SwitchRows(&SwitchDef::place, section.section, HelpBlock::Main),
                  SwitchRows(&SwitchDef::place, section.section, HelpBlock::Advanced));
    ComposeHelpTopic(HelpTopic::ActionSyntax, w);
    ComposeHelpTopic(HelpTopic::TypedValues, w);
    ComposeHelpTopic(HelpTopic::Notes, w);
    ComposeHelpTopic(HelpTopic::Examples, w);
    w.Raw("\n");
    w.Paragraph(2, kClosing);
}

void ComposeActionSyntax(HelpSink& w) {
    w.Heading("Attribute actions: attr:op:values");
    w.Entries(kAttributeOperations);
    w.Heading("Attribute, operation and value details:");
    w.Entries(kActionParts);
    w.Blank();
    for (std::string_view note : kOperationNotes)
        w.Paragraph(3, note);
}

void ComposeTypedValues(HelpSink& w) {
    w.Heading("Typed values (type##attr; the prefix ignores letter case):");
    w.Entries(kTypedValues);
    w.Heading("Passwords (unicodePwd):");
    w.Paragraph(3, kUnicodePwd);
}

void ComposeNotes(HelpSink& w) {
    w.Notes("Notes:", kAdvancedNotes);
    w.Notes("Further notes:", kFurtherNotes);
}

void ComposeExamples(HelpSink& w) {
    w.Examples("Examples:", kExamples);
    w.Examples("Advanced examples:", kAdvancedExamples);
}

// The rows of one shortcut group, in table order.
void ShortcutEntries(HelpSink& w, ShortcutGroup group) {
    std::vector<std::string> terms;
    std::vector<const ShortcutDef*> defs;
    for (const ShortcutDef& def : Shortcuts()) {
        if (def.group != group) continue;
        terms.push_back(ShortcutTerm(def));
        defs.push_back(&def);
    }
    std::vector<HelpEntry> rows;
    for (std::size_t i = 0; i < defs.size(); ++i)
        rows.push_back({terms[i], defs[i]->help});
    w.Entries(rows);
}

void ContainerEntries(HelpSink& w) {
    std::vector<std::string> terms;
    for (const ContainerBase& c : ContainerBases())
        terms.push_back("-" + std::string(c.name) +
                        (c.alias.empty() ? "" : ", -" + std::string(c.alias)));
    std::vector<HelpEntry> rows;
    for (std::size_t i = 0; i < terms.size(); ++i)
        rows.push_back({terms[i], ContainerBases()[i].help});
    w.Entries(rows);
}

std::string UacFlagNote() {
    std::string note = "Flag names:";
    for (const UacFlag& flag : UacFlags())
        note += " " + std::string(flag.name) + " (" + std::to_string(flag.bits) + "),";
    note.back() = '.';
    return note;
}

void ComposeShortcuts(HelpSink& w) {
    KELVO_TRACE_SCOPE();
    w.Title("SHORTCUTS");
    w.Paragraph(2, "-sc name[:arguments] adds switches and attribute actions as if you had "
                   "typed them; add -po to see them. Separate several arguments with ; and "
                   "quote them for the shell.");
    ShortcutEntries(w, ShortcutGroup::Help);
    w.Heading("RootDSE operations (each adds -rootdse; pick the server with -h):");
    ShortcutEntries(w, ShortcutGroup::RootDse);
    w.Heading("Account control:");
    w.Paragraph(3, "The uac* and ad-* shortcuts add -csv: pipe CSV with dn and "
                   "useraccountcontrol columns, and each object's new value is computed from "
                   "its row.");
    ShortcutEntries(w, ShortcutGroup::Account);
    w.Paragraph(3, UacFlagNote());
    w.Heading("Creating objects (each adds -add):");
    w.Paragraph(3, "A count of 1 creates the object dn itself. A larger count creates count "
                   "objects beside the template dn, named after its RDN with _0, _1, ... "
                   "appended (-autobase and -bmod; give your own -bmod to name them "
                   "otherwise).");
    ShortcutEntries(w, ShortcutGroup::Create);
    w.Heading("Security descriptors (each adds -exterr; Kelvo /sd? has the language):");
    ShortcutEntries(w, ShortcutGroup::Descriptor);
    w.Title("SPECIAL BASES");
    w.Paragraph(2, "Each switch makes a well-known container the base; an -rb value goes in "
                   "front of it. Without -b or a special base such as -default the switch "
                   "adds the one its container is in. Give one of them at a time.");
    ContainerEntries(w);
    w.Title("PASSWORDS");
    w.Entries(kPasswordSwitches);
    w.Examples("Examples:", kShortcutExamples);
}

void ComposeCsv(HelpSink& w) {
    KELVO_TRACE_SCOPE();
    w.Title("CSV / ADCSV INPUT");
    w.Paragraph(2, "With CSV input every row names one object and supplies values for the "
                   "{{...}} expressions of the attribute actions.");
    w.Entries(kCsvSwitches);
    w.Notes("Format:", kCsvNotes);
    w.Heading("ADCSV:");
    w.Paragraph(3, kAdcsv);
    w.Title("EXPANSION {{...}}");
    w.Paragraph(2, "Values, -bmod names and descriptor texts may hold {{name[:modifier]}}. "
                   "name is a column or an *opcode*. A missing column stops the run. Text "
                   "an expansion produces is not expanded again.");
    w.Entries(kExpansionForms);
    w.Heading("Opcodes:");
    w.Entries(kExpansionOpcodes);
    w.Title("IMPORT MODE");
    w.Paragraph(2, kImportMode);
    w.Examples("Examples:", kCsvExamples);
}

void ComposeDescriptor(HelpSink& w) {
    KELVO_TRACE_SCOPE();
    w.Title("SECURITY DESCRIPTORS");
    w.Paragraph(2, kSdIntro);
    w.Heading("Sources (at the start of the value):");
    w.Entries(kSdSources);
    w.Paragraph(3, kSdAliases);
    w.Heading("Modifiers:");
    w.Entries(kSdModifiers);
    w.Paragraph(3, kSdModifierOrder);
    w.Heading("ACE: (type;flags;rights;object;inherited object;principal)");
    w.Entries(kSdAceFields);
    w.Paragraph(3, kSdResult);
    w.Heading("Friendly notation, as listing tools print it:");
    w.Entries(kSdFriendly);
    w.Heading("Switches:");
    w.Entries(kSdSwitches);
    w.Paragraph(3, kSdParts);
    w.Examples("Examples:", kSdExamples);
}

} // namespace

void ComposeHelpTopic(HelpTopic topic, HelpSink& sink) {
    switch (topic) {
    case HelpTopic::ActionSyntax:
        ComposeActionSyntax(sink);
        break;
    case HelpTopic::TypedValues:
        ComposeTypedValues(sink);
        break;
    case HelpTopic::Notes:
        ComposeNotes(sink);
        break;
    case HelpTopic::Examples:
        ComposeExamples(sink);
        break;
    case HelpTopic::Shortcuts:
        ComposeShortcuts(sink);
        break;
    case HelpTopic::Csv:
        ComposeCsv(sink);
        break;
    case HelpTopic::Descriptor:
        ComposeDescriptor(sink);
        break;
    }
}

std::string ComposeHelp(HelpMode mode, std::string_view version) {
    KELVO_TRACE_SCOPE();
    HelpWriter writer(version);
    ComposeHead(writer);
    switch (mode) {
    case HelpMode::Basic:
        ComposeBasic(writer);
        break;
    case HelpMode::Advanced:
        ComposeAdvanced(writer);
        break;
    case HelpMode::Shortcuts:
        ComposeShortcuts(writer);
        break;
    case HelpMode::Csv:
        ComposeCsv(writer);
        break;
    case HelpMode::Descriptor:
        ComposeDescriptor(writer);
        break;
    }
    writer.Raw("\n");
    return writer.Take();
}
