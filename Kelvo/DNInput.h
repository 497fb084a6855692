// Target DNs: the hint line at the head of redirected input, reading DNs or
// CSV rows from standard input or -csvfile, SID and GUID forms, relative
// bases, the stdin-redirect modes, sorting, trimming and the limits.
#pragma once

#include "CsvRecords.h"
#include "Failure.h"
#include "LineReader.h"
#include "Rejects.h"
#include "RunState.h"
#include "SwitchParser.h"
#include "Target.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::string_view kHintSeparator = "~~~X~~~";
// The ADCSV marker, recognised only at the head of the input.
inline constexpr std::string_view kAdcsvMarker = "~~~ADCSV";

// Converts SID and GUID texts to the <SID=...> / <GUID=...> DN forms.
// Returns true and sets `out` when `text` is such a form; `kind` is "SID" or
// "GUID".
bool SidGuidToDN(const std::string& text, std::string& out, std::string& kind);

// The state DN input fills.
struct TargetInput {
    TargetList targets{Target{std::string(kSingleDN), 0}};
    // Input lines refused as DNs; each is a failed object of the run.
    std::uint64_t rejected = 0;
    CsvStore csv;
    bool dsq = false;
    bool addQuote = false;
    bool baseForEveryRow = false;
    bool stdinConsumed = false;
    std::string pendingFirstLine;
    LineFlaw pendingFlaw = LineFlaw::None;
    std::uint64_t pendingLine = 0; // its input line; 0 for one Kelvo makes

    // For the rejects file (-rejects): keep the text every input item came in
    // as, and what it takes to write them back in the same form.
    bool keepSources = false;
    InputForm form = InputForm::DnLines;
    SourceTexts sources;
    // CSV: the lines before the rows (the ADCSV marker without its password,
    // the header), as read.
    std::string headerText;
    // Input lines refused as DNs, in input order: the index of their text, or
    // kNoSource when it cannot be written back (see refusedLines).
    std::vector<std::uint32_t> refusedSources;
    std::vector<std::uint64_t> refusedLines; // their input line numbers
    // -stdinadd, -stdinrm, -stdinreplace: the texts of the piped values.
    std::vector<std::uint32_t> redirectSources;
};

// The hint line: "~~~X~~~"-separated connection values on the first line of
// redirected input, recognised only when that line starts with the separator.
void ReadHintLine(SwitchParser& parser, LineReader& in, TargetInput& input);

// Reads targets (or CSV rows).  Fails when the run must end.
[[nodiscard]] Step CollectTargets(SwitchParser& parser, RunSettings& settings,
                                  LineReader& stdinReader, TargetInput& input);

// -stdinsort / -stdinsortreverse and the working-set trim.
void SortAndTrim(const SwitchParser& parser, TargetList& targets);

// "DN Count", -upto and -safety.  Fails when the run must end, also when there
// is nothing to do (with exit code 0 when no input line was refused).
[[nodiscard]] Step ApplyLimits(TargetList& targets, std::uint64_t rejected,
                               const RunSettings& settings);
