// One object a run acts on: its DN and where it came from, so that every
// message about it can name its source.
#pragma once

#include "CsvRecord.h"

#include <cstdint>
#include <string>
#include <vector>

// A target whose input text was not kept.
inline constexpr std::uint32_t kNoSource = UINT32_MAX;

struct Target {
    std::string dn;
    // Line of the input (standard input or -csvfile) the DN was read from,
    // counted from 1; 0 when it did not come from input (-b, -autobase).
    std::uint32_t line = 0;
    // CSV runs: the target's own row in the record store; rows with the same
    // DN stay separate targets, in input order.
    const CsvRecord* row = nullptr;
    // With -rejects: the index of the text the target came in as (a DN line,
    // a CSV row, an LDIF dn: line) in the input's source texts.
    std::uint32_t source = kNoSource;
};

using TargetList = std::vector<Target>;

// "input line 12", or empty for a target not read from input.
inline std::string SourceOf(const Target& target) {
    return target.line == 0 ? std::string() : "input line " + std::to_string(target.line);
}
