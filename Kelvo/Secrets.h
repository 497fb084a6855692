// Keeps secrets (passwords, "ENCPWD:" values, password attribute values) out
// of the console, the log and debug output below -d2.  Every place that shows
// a switch, an attribute action, an input line or an encoded value passes it
// through one of these functions first; they all work from the switch table's
// secret flag and from kSecretAttributes below.
#pragma once

#include "CsvLine.h"

#include <string>
#include <string_view>
#include <vector>

class SwitchParser;

inline constexpr std::string_view kRedacted = "********";

struct SecretAttribute {
    std::string_view name; // LDAP display name, lower case
    std::string_view oid;  // attributeID; empty when the attribute has none
};

// Attributes whose values are passwords, password hashes or other credentials.
inline constexpr SecretAttribute kSecretAttributes[] = {
    {"unicodepwd", "1.2.840.113556.1.4.90"},
    {"userpassword", "2.5.4.35"},
    {"authpassword", "1.3.6.1.4.1.4203.1.3.4"},
    {"dbcspwd", "1.2.840.113556.1.4.55"},
    {"ntpwdhistory", "1.2.840.113556.1.4.94"},
    {"lmpwdhistory", "1.2.840.113556.1.4.160"},
    {"supplementalcredentials", "1.2.840.113556.1.4.125"},
    {"unixuserpassword", "1.2.840.113556.1.4.1910"},
    {"trustauthincoming", "1.2.840.113556.1.4.129"},
    {"trustauthoutgoing", "1.2.840.113556.1.4.135"},
    {"initialauthincoming", "1.2.840.113556.1.4.539"},
    {"initialauthoutgoing", "1.2.840.113556.1.4.540"},
    {"currentvalue", "1.2.840.113556.1.4.27"},
    {"priorvalue", "1.2.840.113556.1.4.100"},
    {"msds-managedpassword", "1.2.840.113556.1.4.2196"},
    // Local administrator passwords, legacy and current schema.
    {"ms-mcs-admpwd",
     "1.2.840.113556.1.8000.2554.50051.45980.28112.18903.35903.6685103.1224907.2.1"},
    {"mslaps-password", "1.2.840.113556.1.6.44.1.2"},
    {"mslaps-encryptedpassword", "1.2.840.113556.1.6.44.1.3"},
    {"mslaps-encryptedpasswordhistory", "1.2.840.113556.1.6.44.1.4"},
    {"mslaps-encrypteddsrmpassword", "1.2.840.113556.1.6.44.1.5"},
    {"mslaps-encrypteddsrmpasswordhistory", "1.2.840.113556.1.6.44.1.6"},
    // Samba and other servers.
    {"sambantpassword", "1.3.6.1.4.1.7165.2.1.25"},
    {"sambalmpassword", "1.3.6.1.4.1.7165.2.1.24"},
    {"sambapasswordhistory", "1.3.6.1.4.1.7165.2.1.54"},
    {"cleartextpassword", ""},
    {"pwdhistory", "1.3.6.1.4.1.42.2.27.8.1.20"},
    {"mssfu30password", ""},
};

// True at -d2, the one level that shows secrets.
bool ShowSecrets();

// True for switches whose value is a password (the switch table says which).
bool IsSecretSwitch(std::string_view name);
// True when values of this attribute are secrets: by name or OID, in any
// letter case, with or without an encoding prefix ("hex##") or options
// (";binary").
bool IsSecretAttribute(std::string_view attribute);

// The value of switch `name` as it may be shown.  Values of other switches may
// still hold attribute actions (a switch-file value on a no-value switch
// becomes one), so they are redacted as actions written with `delim`.
std::string RedactValue(std::string_view name, std::string_view value,
                        std::string_view delim = ":");
// A value of `attribute` as it may be shown.
std::string RedactAttributeValue(std::string_view attribute, std::string_view value);
// The operation field of an action on `attribute`: on a password attribute
// anything that is not an operation may be a misplaced password.
std::string RedactOperation(std::string_view attribute, std::string_view operation);
// An attribute action written with the attribute delimiter `delim`, as it may
// be shown.  Actions read before the delimiter is settled are still caught
// when they begin with a password attribute's name.
std::string RedactAction(std::string_view action, std::string_view delim);
// Actions separated by spaces (an environment "props" value, a switch-file
// line), as they may be shown.
std::string RedactActionList(std::string_view actions, std::string_view delim);
// The value of an environment layer entry whose name, without the prefix, is
// `name`: a switch value, or attribute actions for "props" and empty values.
std::string RedactEnvValue(std::string_view name, std::string_view value, std::string_view delim);
// A switch-file line as it may be shown.
std::string RedactSwitchLine(std::string_view line, std::string_view delim);
// An ADCSV marker line with its password field hidden.
std::string RedactAdcsvMarker(std::string_view line);
// An ADCSV marker line with its password field empty, to be written to a file.
std::string AdcsvMarkerWithoutPassword(std::string_view line);
// A CSV record line with the fields of password columns hidden.
std::string RedactCsvLine(std::string_view line, const CsvSettings& settings,
                          const std::vector<std::string>& headerFields);
// Blanks, in the process's own argument memory, every argument that follows a
// password switch (-up, -setpwd, ...), so process listings stop showing
// passwords.  Call before anything keeps pointers into argv.
void HideSecretArguments(int argc, char** argv);
// Wipes the same arguments in a copy of the argument list, once the switch
// parser holds its own copy of them.
void WipeSecretArguments(std::vector<std::string>& args);

// The name of switch `name` as it may be shown: a password that begins with
// "-" looks like a switch, so a switch given where a password switch awaited
// its value is hidden.
std::string RedactSwitchName(const SwitchParser& parser, std::string_view name);
