// Target DNs: the hint line at the head of redirected input, reading DNs or
// CSV rows from standard input or -csvfile, SID and GUID forms, relative
// bases, the stdin-redirect modes, sorting, trimming and the limits.
#pragma once

#include "CsvRecords.h"
#include "RunState.h"
#include "SwitchParser.h"

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
    std::vector<std::string> targets{std::string(kSingleDN)};
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

// Reads targets (or CSV rows).  Returns an exit code when the run must end.
std::optional<int> CollectTargets(SwitchParser& parser, RunSettings& settings,
                                  LineReader& stdinReader, TargetInput& input);

// -stdinsort / -stdinsortreverse and the working-set trim.
void SortAndTrim(const SwitchParser& parser, std::vector<std::string>& targets);

// "DN Count", -upto and -safety.  Returns an exit code when the run must end.
std::optional<int> ApplyLimits(std::vector<std::string>& targets, const RunSettings& settings);
