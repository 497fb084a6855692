#include "DNInput.h"

#include "ConsoleOutput.h"
#include "Diag.h"
#include "LDAPFuncs.h"
#include "LdifInput.h"
#include "Platform.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "Utf16.h"
#include "pellixstrings.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

namespace {

constexpr std::string_view kGuidChars = "\"-ABCDEFabcdef0123456789";
constexpr std::string_view kHexChars = "ABCDEFabcdef0123456789";

bool OnlyChars(std::string_view text, std::string_view set) {
    return std::all_of(text.begin(), text.end(),
                       [&](char c) { return set.find(c) != std::string_view::npos; });
}

bool SkipNoise(std::string_view line) {
    // Diagnostic lines that the companion query tool writes into its output.
    static constexpr std::string_view kNoise[] = {"Visual Leak Detector", "STDIN",
                                                  "Best Match of:", "REFERRAL:"};
    for (auto n : kNoise)
        if (line.starts_with(n)) return true;
    return false;
}

void LogConversion(std::string_view where, const std::string& kind, const std::string& dn) {
    LogLine("[" + std::string(where) + "] Converted " + kind + " to " + kind + " DN: " + dn);
}

// In a redirect mode a text that is not a DN may still be a SID or GUID value:
// "S-...", a braced GUID, or 32 hex digits.
bool RedirectValueToDN(const std::string& text, std::string& out, std::string& kind) {
    if (text.size() == 32 && OnlyChars(text, kHexChars)) {
        out = "<GUID=" + text + ">";
        kind = "GUID";
        return true;
    }
    const bool braced = text.size() == 38 && text.front() == '{' && text[37] == '}';
    return (text.starts_with("S-") || braced) && SidGuidToDN(text, out, kind);
}

void TrimLog(std::string_view debugText, std::string_view logText) {
    diag::DebugOut(debugText);
    LogLine(logText);
}

void TrimWorkingSet() {
    TrimLog("DEBUG: Trimming...\n", "INFO: Trimming...");
    if (platform::TrimWorkingSet())
        TrimLog("DEBUG: Trimmed workingset...\n", "INFO: Trimmed workingset...");
    else
        TrimLog("DEBUG: Couldn't trim workingset size...\n",
                "WARN: Couldn't trim workingset size...");
}

void TrimInPlace(std::string& s) {
    constexpr std::string_view kWhite = " \t\r\n\f\v";
    const std::size_t last = s.find_last_not_of(kWhite);
    if (last == std::string::npos) {
        s.clear();
        return;
    }
    s.resize(last + 1);
    if (const std::size_t first = s.find_first_not_of(kWhite); first > 0) s.erase(0, first);
}

char FirstOr(const std::string& s, char fallback) {
    return s.empty() ? fallback : s.front();
}

void ApplyCsvDefaults(RunSettings& settings, CsvSettings& csv) {
    csv.delim = FirstOr(settings.csvDelim, ',');
    csv.mvDelim = FirstOr(settings.csvMvDelim, ';');
    csv.quote = FirstOr(settings.csvQuote, '"');
}

void ReadAdcsvMarker(const std::string& line, RunSettings& settings, TargetInput& input) {
    settings.adcsv = true;
    TokenVector f;
    GetXTokens(line, "~~~ADCSV~~~", f, 50);
    auto& a = input.csv.adcsv;
    settings.csvDelim = f[2];
    settings.csvMvDelim = f[3];
    settings.csvQuote = f[4];
    a.host = f[5];
    a.port = f[6];
    a.user = f[7];
    a.password = f[8];
    a.simple = !f[9].empty();
    a.hh = f[10];
    a.url = f[11];
    a.ssl = !f[12].empty();
    ApplyCsvDefaults(settings, input.csv.settings);
    if (diag::Debug()) {
        diag::Out("DEBUG: ADCSV [" + RedactAdcsvMarker(line) + "]\n");
        diag::Out("DEBUG: ADCSV Values:\n");
        diag::Out(std::string("DEBUG:   delim    = ") + input.csv.settings.delim + "\n");
        diag::Out(std::string("DEBUG:   mvdelim  = ") + input.csv.settings.mvDelim + "\n");
        diag::Out(std::string("DEBUG:   quote    = ") + input.csv.settings.quote + "\n");
        diag::Out("DEBUG:   host     = " + a.host + "\n");
        diag::Out("DEBUG:   port     = " + a.port + "\n");
        diag::Out("DEBUG:   user     = " + a.user + "\n");
        diag::Out("DEBUG:   password = " + RedactValue(sw::up, a.password, {}) + "\n");
        diag::Out("DEBUG:   simple   = " + std::string(a.simple ? "1" : "0") + "\n");
        diag::Out("DEBUG:   hh       = " + a.hh + "\n");
        diag::Out("DEBUG:   url      = " + a.url + "\n");
        diag::Out("DEBUG:   ssl      = " + std::string(a.ssl ? "1" : "0") + "\n");
    }
}

// Why a CSV header cannot be used, or empty.  The first column holds the
// DN; every column name is given once.
std::string HeaderProblem(const CsvLine& header) {
    const auto name = [&](std::size_t i) {
        return header[i].empty() ? std::string() : header[i].front();
    };
    if (header.empty() || (name(0) != "dn" && name(0) != "distinguishedname"))
        return "the header has no DN column (the first column must be dn)";
    std::set<std::string> seen;
    for (std::size_t i = 0; i < header.size(); ++i) {
        if (name(i).empty()) continue;
        if (!seen.insert(name(i)).second)
            return "the header names the column " + name(i) + " twice";
    }
    return {};
}

// An input line as -d shows it: ADCSV markers and CSV records lose their
// passwords.
std::string ShownInputLine(const std::string& line, const CsvStore& csv) {
    if (line.find("~~~ADCSV") != std::string::npos) return RedactAdcsvMarker(line);
    if (csv.headerFields.empty()) return line;
    return RedactCsvLine(line, csv.settings, csv.headerFields);
}

void ListCsv(const TargetInput& input) {
    const bool debug = diag::Debug();
    if (!debug && !Log().IsOpen()) return;
    if (debug) diag::Out("DEBUG: CSV HEADER INFO\n");
    LogLine("CSV HEADER INFO");
    for (std::size_t i = 0; i < input.csv.headerFields.size(); ++i) {
        std::string l = "    " + std::to_string(i) + ": " + input.csv.headerFields[i];
        if (debug) diag::Out("DEBUG: " + l + "\n");
        LogLine(l);
    }
    if (debug) diag::Out("DEBUG: CSV RECORDS\n");
    LogLine("CSV RECORDS");
    for (const auto& [key, row] : input.csv.RecordsByKey()) {
        if (debug) diag::Out("DEBUG:    DN: " + key + "\n");
        LogLine("     DN: " + key);
        for (std::size_t i = 0; i < row->size(); ++i) {
            std::string name =
                i < input.csv.headerFields.size() ? input.csv.headerFields[i] : std::to_string(i);
            std::string values;
            for (std::size_t v = 0; v < row->ValueCount(i); ++v) {
                if (v != 0) values += ';';
                values += row->Value(i, v);
            }
            std::string l = "        " + name + ": " + values;
            if (IsSecretAttribute(name))
                l = "        " + name + ": " + RedactAttributeValue(name, values);
            if (debug) diag::Out("DEBUG: " + l + "\n");
            LogLine(l);
        }
    }
}

} // namespace

bool SidGuidToDN(const std::string& text, std::string& out, std::string& kind) {
    if (text.starts_with("S-") || text.starts_with("\"S-")) {
        out = "<SID=" + StripQuotes(text) + ">";
        kind = "SID";
        return true;
    }
    if (text.size() == 38 && text.front() == '{' && text[37] == '}') {
        out = "<GUID=" + text.substr(1, 36) + ">";
        kind = "GUID";
        return true;
    }
    if (text.size() == 40 && text.starts_with("\"{") && text[38] == '}') {
        out = "<GUID=" + text.substr(2, 36) + ">";
        kind = "GUID";
        return true;
    }
    if ((text.size() == 36 || text.size() == 38) && OnlyChars(text, kGuidChars)) {
        out = "<GUID=" + StripQuotes(text) + ">";
        kind = "GUID";
        return true;
    }
    return false;
}

void ReadHintLine(SwitchParser& parser, LineReader& in, TargetInput& input) {
    KELVO_TRACE_SCOPE();
    if (in.Peek() != '~') return;
    diag::DebugOut("DEBUG: WE MAY BE IN HINT MODE\n");
    std::string line;
    LineFlaw flaw = LineFlaw::None;
    if (!in.Next(line, flaw)) return;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    // Only a first line that starts with the separator is a hint line; the
    // text of an object's name can never be one.
    if (flaw != LineFlaw::None || !line.starts_with(kHintSeparator)) {
        input.pendingFirstLine = line;
        input.pendingFlaw = flaw;
        input.pendingLine = in.LineNumber();
        diag::DebugOut("DEBUG: NOT HINT MODE\n");
        return;
    }
    if (line.size() > 512) line.resize(512);
    diag::DebugOut("DEBUG: DEFINITELY HINT MODE\n");
    TokenVector tokens;
    GetTokens(line, std::string(kHintSeparator), tokens);
    static constexpr std::string_view kHintSwitches[] = {sw::h,      sw::p,  sw::u,   sw::up,
                                                         sw::simple, sw::hh, sw::url, sw::ssl};
    for (std::size_t i = 1; i <= 8 && i < tokens.size(); ++i) {
        if (tokens[i].empty()) continue;
        const auto name = kHintSwitches[i - 1];
        const bool noValue = name == sw::simple || name == sw::ssl;
        parser.SetValue(name, noValue ? std::string() : tokens[i]);
    }
}

Step CollectTargets(SwitchParser& parser, RunSettings& settings, LineReader& stdinReader,
                    TargetInput& input) {
    KELVO_TRACE_SCOPE();
    const auto& g = Globals();
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> csvFile(nullptr, &std::fclose);
    LineReader* reader = &stdinReader;
    std::unique_ptr<LineReader> fileReader;
    // A named CSV file is the input whatever standard input is: a script's
    // redirected or empty standard input must not replace it.
    if (settings.csvFile.empty()) {
        if (!g.stdinRedirected)
            return UsageFailure(ErrorBlockText({"No Base specified and not redirecting input."},
                                               ErrorFrame::Spaced));
        diag::DebugOut("DEBUG: Reading in STDIN...\n");
    } else {
        if (std::uint32_t err = platform::FileAttributesError(settings.csvFile); err != 0)
            return Fail(static_cast<int>(err), "ERR: Couldn't open file [" + settings.csvFile +
                                                   "]:" + platform::SystemErrorText(err) + "\n" +
                                                   std::string(kDidNotComplete));
        diag::DebugOut("DEBUG: Opening CSV file:" + settings.csvFile + "\n");
        csvFile.reset(std::fopen(settings.csvFile.c_str(), "r"));
        if (!csvFile)
            return Fail(exitcode::kFatal, "ERR: Couldn't open CSV file - " + settings.csvFile +
                                              "\n" + std::string(kDidNotComplete));
        fileReader = std::make_unique<LineReader>(csvFile.get());
        reader = fileReader.get();
    }
    if (settings.csvDelim.empty()) settings.csvDelim = ",";
    if (settings.csvMvDelim.empty()) settings.csvMvDelim = ";";
    if (settings.csvQuote.empty()) settings.csvQuote = "\"";
    if (parser.IsSwitch(sw::vtsv)) {
        settings.csvDelim = "\t";
        settings.csvMvDelim = "|";
        settings.csvQuote = "\"";
    }
    ApplyCsvDefaults(settings, input.csv.settings);

    if (!settings.csv && !settings.adcsv && input.pendingFirstLine.empty() &&
        parser.ArgContains("ntsecuritydescriptor")) {
        settings.csv = true;
        input.dsq = true;
        input.pendingFirstLine = "\"dn\",\"\"";
        input.addQuote = reader->Peek() != '"';
        diag::DebugOut("DEBUG: bDSQCSV         = 1\n");
        diag::DebugOut(std::string("DEBUG: bDSQCSVAddQuote = ") + (input.addQuote ? "1" : "0") +
                       "\n");
    }

    const bool redirect = settings.redirect != RedirectKind::None;
    const std::uint32_t dotInterval = settings.dotInterval == 0 ? 1000 : settings.dotInterval;
    TargetList collected;
    bool headerSeen = false;
    bool firstLine = true;
    bool headOfInput = true; // no line with content seen yet
    std::uint64_t lineCount = 0;
    std::string line;
    const bool replaceDN = parser.IsSwitch(sw::replacedn);
    // Its text goes to the rejects file, unless it cannot be read back as it
    // was: its text is gone or holds a NUL byte, or at the head of a list of
    // DN lines it would change how the list is read.
    auto keepRefused = [&](std::uint64_t number, std::string_view text, bool copyable) {
        if (!input.keepSources) return;
        std::uint32_t index = kNoSource;
        if (copyable && !(input.form == InputForm::DnLines && ChangesReadingAtHead(text)))
            index = input.sources.Add(text);
        input.refusedSources.push_back(index);
        input.refusedLines.push_back(number);
    };
    // A line that cannot be taken as it is: reported with its number, and a
    // failed object of the run.
    auto refuse = [&](std::uint64_t number, const std::string& why, std::string_view text = {},
                      bool copyable = false) {
        diag::Out("ERROR: Input line " + std::to_string(number) + " " + why + ", skipped.\n");
        ++input.rejected;
        keepRefused(number, text, copyable);
    };
    // LDIF input, once its first line with content showed it.
    std::optional<LdifReader> ldif;
    std::string raw; // the item's text as it came in, for the rejects file
    for (;;) {
        LineFlaw flaw = LineFlaw::None;
        bool fromPending = false;
        bool fromLdif = false;
        std::uint64_t lineNo = 0;
        raw.clear();
        if (ldif) {
            LdifItem item;
            if (!ldif->Next(item)) break;
            lineNo = item.line;
            fromLdif = true;
            if (item.kind == LdifItem::Kind::SearchResult) {
                diag::Out("WARNING: Input line " + std::to_string(lineNo) +
                          ": the search that wrote this LDIF ended with result: " + item.why +
                          " - the input may not list every object.\n");
                continue;
            }
            if (item.kind == LdifItem::Kind::Refused) {
                refuse(lineNo, item.why, item.text, !item.text.empty());
                continue;
            }
            line = std::move(item.dn);
            if (input.keepSources) raw = LdifDnLine(line);
        } else if (!input.pendingFirstLine.empty()) {
            line = input.pendingFirstLine;
            flaw = input.pendingFlaw;
            lineNo = input.pendingLine;
            input.pendingFirstLine.clear();
            fromPending = true;
        } else if (!reader->Next(line, flaw)) {
            break;
        } else {
            lineNo = reader->LineNumber();
        }
        if (lineCount > 0 && lineCount % dotInterval == 0) diag::Out(".");
        ++lineCount;
        if (!fromLdif) {
            if (firstLine && !fromPending) {
                // UTF-16 text: with its byte-order mark, or without one, where
                // the first characters are ASCII with a NUL byte beside each.
                const auto byte = [&](std::size_t i) {
                    return i < line.size() ? static_cast<unsigned char>(line[i]) : 0x100u;
                };
                const bool bom16 = byte(0) == 0xFF || byte(1) == 0xFF;
                const bool bare16 =
                    flaw == LineFlaw::Nul && line.size() >= 2 && (byte(0) == 0 || byte(1) == 0);
                if (bom16 || bare16) {
                    return Fail(exitcode::kFatal,
                                "\nERROR:\nERROR: UNICODE input not supported\n" +
                                    (diag::Debug() ? "DEBUG: [" + line + "]" : std::string()) +
                                    "ERROR:\n");
                }
                // A UTF-8 byte-order mark is not part of the first line.
                if (line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
            }
            firstLine = false;
            if (flaw == LineFlaw::Overlong) {
                refuse(lineNo, "is longer than " + std::to_string(kLineBufferSize) + " bytes");
                continue;
            }
            if (flaw == LineFlaw::Nul) {
                refuse(lineNo, "holds a NUL byte");
                continue;
            }
            if (diag::Debug())
                diag::Out("DEBUG:   READ: [" + std::to_string(line.size()) + "] " +
                          ShownInputLine(line, input.csv) + (line.ends_with('\n') ? "" : "\n"));
            if (line.empty() || line[0] == '\n' || line[0] == ' ' || line[0] == '#') continue;
            // LDIF folds lines: the first line's trailing spaces may be part of
            // the DN.
            std::string untrimmed;
            if (headOfInput && !settings.csv && !settings.adcsv) untrimmed = line;
            TrimInPlace(line);
            if (line.empty() || SkipNoise(line)) continue;
            if (input.keepSources) raw = line;

            // The ADCSV marker counts only as the first line with content, and
            // only at its start: no object name can forge it.
            const bool head = headOfInput;
            headOfInput = false;
            if (head && line.starts_with(kAdcsvMarker)) {
                ReadAdcsvMarker(line, settings, input);
                if (input.keepSources) input.headerText = AdcsvMarkerWithoutPassword(line) + "\n";
                headOfInput = true; // the CSV header follows
                continue;
            }
            // LDIF: a first line that no DN can start with.
            if (head && !settings.csv && !settings.adcsv && IsLdifStart(line)) {
                diag::DebugOut("DEBUG: LDIF input\n");
                input.form = InputForm::Ldif;
                ldif.emplace(*reader);
                untrimmed.erase(0, untrimmed.find_first_not_of(" \t\f\v"));
                ldif->PushBack(std::move(untrimmed), flaw, lineNo);
                continue;
            }
        }
        if (input.addQuote && !fromPending) line = settings.csvQuote + line + settings.csvQuote;
        const bool csvMode = settings.csv || settings.adcsv;
        if (!csvMode && !settings.relativeBase.empty() && !redirect)
            line = settings.relativeBase + "," + StripQuotes(line);

        std::string converted, kind;
        if (SidGuidToDN(line, converted, kind)) {
            line = converted;
            LogConversion("main", kind, line);
        }

        // A copy: the line keeps its buffer for the next line.
        std::string dn = line;
        CsvLine row;
        if (csvMode) {
            // A CSV line that cannot be read as its header says stops the
            // run, naming the line (its text may hold secrets).
            auto unpack = [&](const std::string& why) {
                return Fail(exitcode::kCsvUnpack,
                            "\nERROR: CSV Unpack Failure - input line " + std::to_string(lineNo) +
                                ": " + why + "\n",
                            true);
            };
            if (!IsValidUtf8(dn)) return unpack("the text is not valid UTF-8");
            if (!headerSeen) {
                headerSeen = true;
                diag::TraceOut("DEBUG: HEADER: [" + dn + "]\n");
                if (settings.adcsv) settings.expand = true;
                CsvLine header;
                if (!ParseCSVLine(StrToLower(dn), input.csv.settings, header))
                    return unpack("a quote is not closed");
                if (std::string why = HeaderProblem(header); !why.empty()) return unpack(why);
                input.csv.CreateCSVHeaderMap(header);
                // The header of DSQ input is Kelvo's own: its rows are DN lines.
                if (input.keepSources && !input.dsq) {
                    input.form = InputForm::Csv;
                    input.headerText += raw + "\n";
                }
                continue;
            }
            if (!ParseCSVLine(dn, input.csv.settings, row)) return unpack("a quote is not closed");
            if (!input.dsq && row.size() != input.csv.headerFields.size())
                return unpack("the row has " + std::to_string(row.size()) +
                              " fields, the header has " +
                              std::to_string(input.csv.headerFields.size()));
            if (row.empty() || row.front().empty() || row.front().front().empty())
                return unpack("the row has no DN");
            dn = row.front().front();
            if (!settings.relativeBase.empty() && !redirect) {
                dn = settings.relativeBase + "," + StripQuotes(dn, input.csv.settings.quote);
                row.front().front() = dn;
            }
        }
        if (input.baseForEveryRow) {
            dn = settings.baseDN;
            if (!row.empty()) row.front().front() = dn;
        }
        if (!replaceDN && !DNCheck(dn)) {
            std::string value, vkind;
            if (redirect && RedirectValueToDN(dn, value, vkind)) {
                dn = value;
                LogConversion("stdinredirect", vkind, dn);
            } else {
                diag::Out("ERROR: BAD DN Format (" + dn + ") on input line " +
                          std::to_string(lineNo) + "\n");
                ++input.rejected;
                keepRefused(lineNo, raw, true);
                continue;
            }
        }
        const char quote = csvMode ? input.csv.settings.quote : '"';
        if (dn.size() >= 2 && dn.front() == quote && dn.back() == quote)
            dn = StripQuotes(dn, quote);
        if (dn.find('"') != std::string::npos) dn = EscapeValueQuotes(dn);
        const CsvRecord* stored = nullptr;
        if (csvMode) {
            if (!row.empty()) row.front().front() = dn;
            stored = &input.csv.Add(dn, row);
        }
        // The DN may sit in a buffer sized for the whole line; every target
        // keeps its DN for the run.
        dn.shrink_to_fit();
        Target target{std::move(dn), static_cast<std::uint32_t>(lineNo), stored};
        if (input.keepSources) target.source = input.sources.Add(raw);
        collected.push_back(std::move(target));
    }
    if (lineCount >= dotInterval) diag::Out("\n");
    input.stdinConsumed = reader == &stdinReader;
    LineReader::Release(line);
    collected.shrink_to_fit();

    if (redirect) {
        const std::string& attr = settings.redirectAttr;
        if (settings.redirect == RedirectKind::Replace) parser.AddArg(attr + ":-");
        const std::string op = settings.redirect == RedirectKind::Remove ? ":-:" : ":+:";
        for (const auto& d : collected) {
            if (input.keepSources) input.redirectSources.push_back(d.source);
            std::string arg = attr + op + d.dn;
            diag::DebugOut("DEBUG:    STDIN Redirect Opt = " + arg + "\n");
            parser.AddArg(arg);
        }
    } else {
        input.targets = std::move(collected);
    }
    if (settings.csv || settings.adcsv) ListCsv(input);
    return std::nullopt;
}

void SortAndTrim(const SwitchParser& parser, TargetList& targets) {
    KELVO_TRACE_SCOPE();
    if (targets.size() >= 2) {
        const bool forward = parser.IsSwitch(sw::stdinsort);
        if (forward || parser.IsSwitch(sw::stdinsortreverse)) {
            const auto order =
                DNSortOrder(forward ? parser.GetValue(sw::stdinsort) : "reverse", targets.size(),
                            [&](std::size_t i) { return std::string_view(targets[i].dn); });
            TargetList sorted;
            sorted.reserve(targets.size());
            for (std::uint32_t i : order)
                sorted.push_back(std::move(targets[i]));
            targets = std::move(sorted);
            const std::string label =
                forward ? "DEBUG: SORTED DNLIST: " : "DEBUG: RSORTED DNLIST: ";
            if (diag::Trace())
                for (const auto& t : targets)
                    diag::Out(label + t.dn + "\n");
        }
    }
    if (parser.IsSwitch(sw::trim) || targets.size() > 20000) TrimWorkingSet();
}

Step ApplyLimits(TargetList& targets, std::uint64_t rejected, const RunSettings& settings) {
    KELVO_TRACE_SCOPE();
    if (!Globals().quiet) diag::Out("DN Count: " + std::to_string(targets.size()) + "\n");
    if (targets.empty()) {
        // Refused input lines are failed objects, even when none is left.
        if (rejected != 0)
            return Fail(exitcode::kBadInputDN,
                        "\nNo object DNs to update.\n" + std::string(kDidNotComplete));
        return Fail(exitcode::kSuccess, "\nNo object DNs to update.\n" + std::string(kCompleted));
    }
    if (settings.upto != 0 && settings.upto < targets.size()) {
        diag::Out("More DNs than -UpTo specified: " + std::to_string(settings.upto) + "\n");
        diag::Out("Trimming list to specified size.\n\n");
        targets.resize(settings.upto);
    }
    if (targets.size() > settings.safety)
        return Fail(exitcode::kFatal, "\nMore DNs than allowed for by safety setting of " +
                                          std::to_string(settings.safety) +
                                          "\nUse safety parameter to specify larger safety "
                                          "size.\n" +
                                          std::string(kDidNotComplete));
    return std::nullopt;
}
