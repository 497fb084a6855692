// Every exit code Kelvo ends with, named once.  LDAP result codes (0x01 to
// 0x61, client-side ones in their traditional numbering) are passed through
// as they are; these are the codes of Kelvo's own.
#pragma once

#include <string_view>

namespace exitcode {

inline constexpr int kSuccess = 0;
// A usage or argument error, and every help display.
inline constexpr int kUsage = 1;
// A fatal set-up error: no session, no RootDSE, safety limit exceeded, log or
// input file failure, UTF-16 input, unknown encoding prefix, NC-head
// protection.
inline constexpr int kFatal = -1;
// Several descriptor texts for one operation of one descriptor attribute.
inline constexpr int kSdMultiValue = -99;
// A CSV line that cannot be parsed.
inline constexpr int kCsvUnpack = -999;
// A DN the LDAP library cannot split into its components.
inline constexpr int kDnSplit = -1000;
// Expansion failures of {{...}} expressions.
inline constexpr int kExpandFailed = -10021;      // a value that cannot be expanded
inline constexpr int kExpandUnknownName = -10022; // not an opcode, not a CSV column
inline constexpr int kExpandNoRecord = -10023;    // no CSV record for the current DN
inline constexpr int kExpandFieldCount = -10024;  // a record shorter than its header
inline constexpr int kExpandBadModifier = -10025; // an unknown field modifier

// Codes an object ends with when Kelvo does not send its request.
// An input line that is not a DN (LDAP "invalid DN syntax").
inline constexpr int kBadInputDN = 0x22;
// An object skipped because its request cannot be built from what the
// directory holds, such as an undelete whose last known parent is gone (LDAP
// "no such object").
inline constexpr int kSkippedObject = 0x20;
// -undo: a change whose undo cannot be recorded is not sent (LDAP "unwilling
// to perform").
inline constexpr int kUndoRefused = 0x35;
// -undo: a change was made, but its undo record could not be completed (LDAP
// "other").
inline constexpr int kUndoIncomplete = 0x50;
// The connection to the server was lost during the run (LDAP "server down",
// in its traditional client-side number): the run stops, also with -cont.
inline constexpr int kServerDown = 0x51;

struct Named {
    int code;
    std::string_view name;
    std::string_view meaning;
};

// The table the README and the tests read.
inline constexpr Named kTable[] = {
    {kSuccess, "kSuccess", "every request succeeded"},
    {kUsage, "kUsage", "usage or argument error, or a help display"},
    {kFatal, "kFatal", "fatal set-up error"},
    {kSdMultiValue, "kSdMultiValue", "several descriptor texts for one operation"},
    {kCsvUnpack, "kCsvUnpack", "a CSV line that cannot be parsed"},
    {kDnSplit, "kDnSplit", "a DN the LDAP library cannot split"},
    {kExpandFailed, "kExpandFailed", "a value that cannot be expanded"},
    {kExpandUnknownName, "kExpandUnknownName", "an expansion name that is no opcode or column"},
    {kExpandNoRecord, "kExpandNoRecord", "no CSV record for the current DN"},
    {kExpandFieldCount, "kExpandFieldCount", "a CSV record shorter than its header"},
    {kExpandBadModifier, "kExpandBadModifier", "an unknown expansion modifier"},
    {kBadInputDN, "kBadInputDN", "an input line that is not a DN"},
    {kSkippedObject, "kSkippedObject", "an object skipped, its request could not be built"},
    {kUndoRefused, "kUndoRefused", "-undo: a change whose undo cannot be recorded, not sent"},
    {kUndoIncomplete, "kUndoIncomplete", "-undo: a change made whose undo record is incomplete"},
    {kServerDown, "kServerDown", "the connection to the server was lost during the run"},
};

} // namespace exitcode
