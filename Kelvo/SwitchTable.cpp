#include "SwitchTable.h"

#include "Diag.h"
#include "ExitCodes.h"
#include "Files.h"
#include "LineReader.h"
#include "Platform.h"
#include "RunState.h"
#include "Secrets.h"
#include "pellixstrings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

namespace {

std::string DeclarationString(const SwitchDef& def) {
    switch (def.kind) {
    case ValueKind::None:
        return ":" + std::string(def.name);
    case ValueKind::Required:
        return "$" + std::string(def.name);
    case ValueKind::Optional:
        break;
    }
    return std::string(def.name);
}

} // namespace

const SwitchDef* FindSwitch(std::string_view name) {
    for (const SwitchDef& def : kSwitchTable)
        if (IEquals(def.name, name)) return &def;
    return nullptr;
}

const std::vector<std::string>& SwitchDeclarations() {
    static const std::vector<std::string> decls = [] {
        std::vector<std::string> out;
        out.reserve(std::size(kSwitchTable));
        for (const SwitchDef& def : kSwitchTable)
            out.push_back(DeclarationString(def));
        return out;
    }();
    return decls;
}

void ApplyGnuSpellings(std::vector<std::string>& args) {
    for (std::size_t i = 1; i < args.size(); ++i)
        for (const SwitchDef& def : kSwitchTable)
            if (!def.gnuName.empty() && args[i] == def.gnuName) {
                args[i] = "-";
                args[i] += def.name;
                break;
            }
}

void ApplySwitchSettings(const SwitchParser& parser, RunSettings& settings) {
    for (const SwitchDef& def : kSwitchTable) {
        if (!parser.IsSwitch(def.name)) continue;
        for (SettingFlag flag : def.sets)
            if (flag) settings.*flag = true;
    }
}

std::string AttributeDelimiter(const SwitchParser& parser) {
    std::string delim = parser.GetValueUnescaped(sw::delim);
    return delim.empty() ? std::string(":") : delim;
}

namespace {

// Environment variables cannot hold an empty value: "{~}" stands for one.
std::string EmptyMarker(std::string value) {
    return value == "{~}" ? std::string() : value;
}

// Removes every occurrence of `prefix` (compared without regard to case).
std::string RemovePrefixes(std::string_view name, std::string_view prefix) {
    std::string out;
    std::string lower = StrToLower(name);
    std::size_t pos = 0;
    while (pos < name.size()) {
        if (!prefix.empty() && lower.compare(pos, prefix.size(), prefix) == 0) {
            pos += prefix.size();
            continue;
        }
        out.push_back(name[pos++]);
    }
    return out;
}

} // namespace

bool ReadEnv(std::string prefix, SwitchParser& parser, const std::vector<std::string>& environment,
             bool debug) {
    KELVO_TRACE_SCOPE();
    prefix = StrToLower(prefix);
    if (prefix.find('-') == std::string::npos && prefix.find('_') == std::string::npos)
        prefix += '-';
    int count = 0;
    for (const auto& entry : environment) {
        if (!IStartsWith(entry, prefix)) continue;
        std::size_t eq = entry.find('=');
        std::string name = StrToLower(RemovePrefixes(entry.substr(0, eq), prefix));
        std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        if (debug)
            diag::Out("DEBUG: ENVVAR: " + entry.substr(0, eq) +
                      (eq == std::string::npos
                           ? std::string()
                           : "=" + RedactEnvValue(name, value, AttributeDelimiter(parser))) +
                      "\n");
        if (name == "props" || value.empty()) {
            if (debug) diag::Out("DEBUG: Setting props\n");
            TokenVector pieces;
            GetTokens(value, " ", pieces);
            for (const auto& piece : pieces) {
                if (piece.empty()) continue;
                if (debug)
                    diag::Out("DEBUG:     " + RedactAction(piece, AttributeDelimiter(parser)) +
                              "\n");
                parser.AddArg(piece);
            }
            continue;
        }
        if (debug) diag::Out("DEBUG: Checking " + name + "\n");
        if (parser.IsSwitch(name)) continue;
        value = EmptyMarker(value);
        parser.SetValue(name, value);
        if (debug)
            diag::Out("DEBUG:   Adding " + name +
                      RedactValue(name, value, AttributeDelimiter(parser)) + "\n");
        ++count;
    }
    return count > 0;
}

std::int64_t ReadEnvFile(const std::string& fileName, bool debug, SwitchParser& parser,
                         bool required) {
    KELVO_TRACE_SCOPE();
    if (std::uint32_t err = platform::FileAttributesError(fileName); err != 0) {
        if (!required) return 0;
        diag::Out("ERR: Couldn't open file [" + fileName + "]:" + platform::SystemErrorText(err) +
                  "\n");
        return err;
    }
    if (debug) diag::Out("DEBUG: Opening file:" + fileName + "\n");
    // A switch file adds switches and attribute actions to the run: it is
    // read only when nobody but its owner (the user, or root) can change it.
    // The default file is skipped with a warning, a named one fails the run.
    auto refuse = [&](const std::string& why) -> std::int64_t {
        if (!required) {
            diag::Out("WARN: Skipping switch file " + fileName + ": " + why + ".\n");
            return 0;
        }
        diag::Out("ERR: Couldn't use switch file " + fileName + ": " + why + ".\n");
        diag::Out(kDidNotComplete);
        return exitcode::kFatal;
    };
    platform::OpenedFile opened = platform::OpenTrustedFile(fileName, kMaxSwitchFileBytes);
    if (!opened.file) {
        if (!required && opened.error == ENOENT) return 0;
        return refuse(opened.reason);
    }
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(opened.file.get(), "r"),
                                                         &std::fclose);
    if (!file) return refuse(std::strerror(errno));
    opened.file.Release(); // the stream owns it now
    std::vector<std::string> lines;
    std::string why;
    if (!ReadSwitchLines(file.get(), lines, why)) return refuse(why);
    if (std::ferror(file.get())) return refuse(std::strerror(errno));
    ApplySwitchLines(lines, debug, parser);
    return 0;
}

bool ReadSwitchLines(std::FILE* file, std::vector<std::string>& lines, std::string& why) {
    LineReader reader(file);
    std::string line;
    LineFlaw flaw = LineFlaw::None;
    while (reader.Next(line, flaw)) {
        // A line is never cut or split: a tail must not become a switch.
        if (flaw == LineFlaw::Overlong) {
            why = "line " + std::to_string(reader.LineNumber()) + " is longer than " +
                  std::to_string(kLineBufferSize) + " bytes";
            return false;
        }
        if (flaw == LineFlaw::Nul) {
            why = "line " + std::to_string(reader.LineNumber()) + " holds a NUL byte";
            return false;
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

void ApplySwitchLines(const std::vector<std::string>& lines, bool debug, SwitchParser& parser) {
    if (debug) diag::Out("DEBUG: Applying lines\n");
    for (const auto& line : lines) {
        const std::string delim = AttributeDelimiter(parser);
        if (debug) diag::Out("DEBUG:    " + RedactSwitchLine(line, delim) + "\n");
        if (line.empty()) continue;
        if (line.front() == '-' || line.front() == '/') {
            std::string rest = line.substr(1);
            std::size_t sp = rest.find(' ');
            std::string name = StrToLower(rest.substr(0, sp));
            std::string value = sp == std::string::npos ? std::string() : rest.substr(sp + 1);
            if (debug)
                diag::Out("DEBUG:        [" + name + " : " + RedactValue(name, value, delim) +
                          "]\n");
            if (parser.IsSwitch(name)) continue;
            value = EmptyMarker(value);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                if (debug)
                    diag::Out("DEBUG: Stripping quotes [" + RedactValue(name, value, delim) +
                              "]\n");
                value = value.substr(1, value.size() - 2);
                if (debug)
                    diag::Out("DEBUG: Stripped  quotes [" + RedactValue(name, value, delim) +
                              "]\n");
            }
            parser.SetValue(name, value);
            if (debug) diag::Out("DEBUG:  Adding " + name + "\n");
            continue;
        }
        TokenVector pieces;
        GetTokensQuoted(line, " ", pieces);
        for (const auto& piece : pieces) {
            if (piece.empty()) continue;
            if (debug) diag::Out("DEBUG:        [" + RedactAction(piece, delim) + "]\n");
            parser.AddArg(piece);
        }
    }
}
