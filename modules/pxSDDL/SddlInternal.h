// Pieces of the descriptor engine shared between its source files and the
// unit tests; not part of the module's public interface.
#pragma once

#include "CSDDL.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace pxsddl::detail {

// Every piece of `text` between occurrences of `delim` (delim non-empty),
// empty pieces included; empty text gives one empty piece.
std::vector<std::string> SplitAll(std::string_view text, std::string_view delim);

// Replaces every (non-overlapping, left to right) occurrence of `find`.
void ReplaceAll(std::string& text, std::string_view find, std::string_view replacement);
// Replaces the first occurrence of `find`; false when there is none.
bool ReplaceFirst(std::string& text, std::string_view find, std::string_view replacement);

// One table row for an ACE text: [ace, status, field 1, field 2, ...] with
// every ";" field, padded so that indexes 2..7 always exist.
AceRow MakeAceRow(std::string_view ace, std::string_view status);

// What a source token asked for besides the starting descriptor.
struct SourceOutcome {
    bool token = false;         // the value began with a source token
    bool makeProtected = false; // {GETPSD}
    bool makeInherited = false; // {GETISD}
};

// When the (upper-case, modifier-free) `value` begins with a source token,
// replaces it by the fetched starting descriptor, or by "" when nothing
// usable came back.  Fetches go through `cache` (lower-cased keys).
SourceOutcome ApplySourceToken(std::string& value, const SddlContext& ctx,
                               std::string_view attrName,
                               std::map<std::string, std::string>& cache);

} // namespace pxsddl::detail
