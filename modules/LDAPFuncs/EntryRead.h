// Reads one entry with every value of the attributes asked for.  Values are
// bytes (binary-safe); the parts of a large multi-valued attribute that the
// server hands out in ranges ("member;range=0-1499") are read to the end and
// joined under the attribute's own name.
#pragma once

#include <ldap.h>

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ReadAttribute {
    std::string name; // as the server spells it, without the range option
    std::vector<std::string> values;
};

struct EntryReadResult {
    int code = 0;       // 0, or the failing LDAP result code (shown form)
    std::string error;  // the server's diagnostic text on failure
    bool found = false; // the entry exists (a base search returned it)
    std::string dn;     // the entry's DN as the server returns it
    std::map<std::string, ReadAttribute> attributes; // lower-case name -> values
};

// Base search of `dn` for `attributes` ("*" and "+" allowed) with
// `controls` (may be empty).  A missing entry is found == false with code 0.
// Ranged values are followed with further base searches, at most
// `maxRangeReads` of them.
EntryReadResult ReadEntry(LDAP* session, std::string_view dn,
                          const std::vector<std::string>& attributes,
                          std::span<LDAPControl* const> controls = {}, int maxRangeReads = 10000);

// "member;range=1500-2999" -> {"member", 1500, "2999"}; false for a name
// without a range option.
struct RangeOption {
    std::string name; // the attribute name with the other options kept
    unsigned long low = 0;
    std::string high; // a number, or "*" for the last part
};
bool ParseRangeOption(std::string_view attribute, RangeOption& out);
