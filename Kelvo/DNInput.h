// Target DNs: the hint line at the head of redirected input, reading DNs or
// CSV rows from standard input or -csvfile, SID and GUID forms, relative
// bases, the stdin-redirect modes, sorting, trimming and the limits.
#pragma once

#include "CsvRecords.h"
#include "Failure.h"
#include "RunState.h"
#include "SwitchParser.h"
#include "Target.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Reads lines from a stream into one fixed buffer; lines longer than the
// buffer are skipped whole.
class LineReader {
  public:
    explicit LineReader(std::FILE* f);
    // Next character without consuming it (EOF at the end).
    int Peek();
    // False at the end of input.  `overlong` is set for a line that did not
    // fit the buffer (its text is dropped).
    bool Next(std::string& line, bool& overlong);
    // Frees the line buffer once reading is done.
    void Release();

  private:
    std::FILE* f_;
    std::vector<char> buffer_;
};

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
};

// The hint line: "~~~X~~~"-separated connection values on the first line of
// redirected input.
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
