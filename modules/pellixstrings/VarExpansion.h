// {{...}} variable expansion: a small interpreter for the expressions that
// attribute values, new names and base DNs may carry.
//
//   {{name}}                 a CSV column of the current record
//   {{name:modifier...}}     the column, transformed by a field modifier
//   {{*opcode*[:args]}}      counter, random text, DN parts, RootDSE values,
//                            SIDs and times
//   {{... :_lc}} {{... :_uc}} the result in lower or upper case
//   {{.}} {{}}               the column named like the attribute expanded
//
// Everything an expansion reads comes in through ExpansionContext; the
// interpreter keeps no state between calls, prints nothing and never ends the
// process.  Failures come back as values carrying the exit code and the
// message lines the driver prints.
#pragma once

#include "CsvRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// Lower-case column name -> field index of a CSV record.
using ExpansionHeaderMap = std::map<std::string, std::size_t>;
// DN values ("DN", "RDN", "PARENT", "DOMAIN", "DOMAIN_DNS", "NDC", "NAME",
// "ORIGNAME", ...) and RootDSE values ("ROOT", "CONFIG", "DEFAULT", "SCHEMA",
// "SECPRIN", "FQDN", "DOMAINDNS", "ROOTDNS").  A missing key reads as empty.
using ExpansionValues = std::map<std::string, std::string>;

// Exit codes of failed expansions.
namespace expansioncode {
inline constexpr int kMissingTime = -10021; // *enclocal_int8* / *encutc_int8* without a date
inline constexpr int kUnknownName = -10022; // not a column, unknown opcode, DN values missing
inline constexpr int kNoRecord = -10023;    // no CSV record for the current object
inline constexpr int kShortRecord = -10024; // record has fewer fields than the header
inline constexpr int kInvalidModifier = -10025;
} // namespace expansioncode

// Answer of a SID lookup: the SID text, or (ok false) the lookup's error text.
struct SidLookup {
    bool ok = false;
    std::string text;
};

// Everything with side effects or owned by other modules.  A callback left
// empty makes the opcodes that need it fail with kUnknownName, except
// `randomString`, which defaults to RandomString.
struct ExpansionServices {
    // *sid* and *isid*: account name -> SID text.
    std::function<SidLookup(std::string_view name)> nameToSid;
    // *ldssid*: directory object DN -> SID text.
    std::function<SidLookup(std::string_view dn)> ldsNameToSid;
    // The current UTC instant as int8 (100 ns units since 1601-01-01 UTC).
    std::function<std::int64_t()> nowInt8;
    // The current time as display text ("YYYY/MM/DD-HH:MM:SS <zone>").
    std::function<std::string(bool utc)> nowText;
    // int8 instant -> generalized time "YYYYMMDDHHMMSS.0Z", the calendar
    // fields in UTC or in local time.  Empty when it has no calendar form.
    std::function<std::string(std::int64_t instant, bool utc)> int8ToGT;
    // "YYYY/MM/DD[-HH:MM:SS]" read as UTC or local time -> int8 text; empty
    // when the text is not a date.
    std::function<std::string(std::string_view date, bool utc)> dateToInt8;
    // Random text (minimum length, maximum length, character set).
    std::function<std::string(unsigned minLen, unsigned maxLen, std::string_view chars)>
        randomString;
};

// The inputs of one expansion.  Pointers and the attribute text are borrowed
// for the call; a null pointer means "not available" (no CSV record, no DN
// values outside CSV modes).
struct ExpansionContext {
    const CsvRecord* record = nullptr;
    const ExpansionHeaderMap* header = nullptr;
    // The attribute being expanded, with any "xxx##" encoding prefix.
    std::string_view attribute;
    // Which value of a multi-valued column a field reference reads (0-based):
    // a value text repeated once per value is expanded with 0, 1, 2, ...
    // A single-valued field reads its value at every position; a position
    // past the end of a multi-valued field reads as empty.
    std::size_t valuePos = 0;
    const ExpansionValues* dnValues = nullptr;
    const ExpansionValues* rootDse = nullptr;
    std::int64_t counter = 0;
    const ExpansionServices* services = nullptr;
};

struct [[nodiscard]] ExpansionResult {
    bool ok = true;
    std::string value;
    int exitCode = 0;
    // Lines to print, without line ends; the last one is
    // "ERROR: Terminating Program.".  They name columns, opcodes and
    // modifiers but never quote values; for password attributes even those
    // names show as "********".
    std::vector<std::string> messages;
};

// Replaces every {{...}} expression of `text`, left to right.  Text that an
// expression produces is never scanned again.  A "{{" without a closing "}}"
// fails with kUnknownName.
ExpansionResult VarExpansion(std::string_view text, const ExpansionContext& ctx);

// The number of values, in `row`, of the column named by the first
// expression of `valueText` (0 when there is no expression, the name is not a
// column or the row is too short).  An empty name, or one that begins with
// ".", is the attribute without its encoding prefix.
std::size_t VarExpansionAttrCnt(std::string_view valueText, std::string_view attribute,
                                const ExpansionHeaderMap& header, const CsvRecord& row);
