#include "Secrets.h"

#include "Diag.h"
#include "EncPwd.h"
#include "Platform.h"
#include "Shortcuts.h"
#include "SwitchParser.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

#include <cctype>

namespace {

constexpr std::string_view kOperations[] = {"", "+", "-", "++", "+-", "--"};
constexpr std::string_view kAdcsvSeparator = "~~~ADCSV~~~";
constexpr std::size_t kAdcsvPasswordField = 8;

bool IsOperation(std::string_view op) {
    for (auto o : kOperations)
        if (o == op) return true;
    return false;
}

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

// Where the attribute name begins: after a leading quote and an encoding
// prefix ("hex##"), which is a word of letters and digits.
std::size_t NameStart(std::string_view lower) {
    std::size_t start = !lower.empty() && lower.front() == '"' ? 1 : 0;
    std::size_t hash = lower.find("##", start);
    if (hash == std::string_view::npos) return start;
    for (std::size_t i = start; i < hash; ++i)
        if (!std::isalnum(static_cast<unsigned char>(lower[i]))) return start;
    return hash + 2;
}

bool IsSecretName(std::string_view lower) {
    for (const auto& a : kSecretAttributes)
        if (lower == a.name || (!a.oid.empty() && lower == a.oid)) return true;
    return false;
}

// The end of a password attribute's name at the start of `text`, when a
// separator follows it; npos otherwise.
std::size_t LeadingSecretName(std::string_view text) {
    const std::string lower = StrToLower(text);
    const std::size_t start = NameStart(lower);
    std::size_t end = start;
    while (end < lower.size() && IsNameChar(lower[end]))
        ++end;
    if (end == start || end >= lower.size()) return std::string_view::npos;
    return IsSecretName(std::string_view(lower).substr(start, end - start))
               ? end
               : std::string_view::npos;
}

// True when the argument is a password switch that takes a value ("-up",
// "/UP", or with the en dash of word processors).
bool IsSecretValueSwitch(std::string_view arg) {
    constexpr std::string_view kEnDash = "\xE2\x80\x93";
    if (arg.starts_with(kEnDash))
        arg.remove_prefix(kEnDash.size());
    else if (!arg.empty() && (arg.front() == '-' || arg.front() == '/' || arg.front() == '\x96'))
        arg.remove_prefix(1);
    else
        return false;
    const SwitchDef* def = FindSwitch(arg);
    return def != nullptr && def->secret && def->kind != ValueKind::None;
}

} // namespace

void HideSecretArguments(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; ++i)
        if (IsSecretValueSwitch(argv[i])) platform::BlankArgument(argv[i + 1]);
}

void WipeSecretArguments(std::vector<std::string>& args) {
    for (std::size_t i = 1; i + 1 < args.size(); ++i)
        if (IsSecretValueSwitch(args[i])) kelvo::WipeSecret(args[i + 1]);
}

bool ShowSecrets() {
    return diag::Trace();
}

bool IsSecretSwitch(std::string_view name) {
    const SwitchDef* def = FindSwitch(name);
    return def != nullptr && def->secret;
}

bool IsSecretAttribute(std::string_view attribute) {
    const std::string lower = StrToLower(attribute);
    std::string_view a = std::string_view(lower).substr(NameStart(lower));
    if (auto option = a.find(';'); option != std::string_view::npos) a = a.substr(0, option);
    return IsSecretName(a);
}

std::string RedactValue(std::string_view name, std::string_view value, std::string_view delim) {
    if (ShowSecrets() || value.empty()) return std::string(value);
    if (IsSecretSwitch(name) || IContains(value, "ENCPWD:")) return std::string(kRedacted);
    if (IEquals(name, sw::sc)) return RedactShortcutValue(value);
    return RedactAction(value, delim);
}

std::string RedactAttributeValue(std::string_view attribute, std::string_view value) {
    if (ShowSecrets() || value.empty() || !IsSecretAttribute(attribute)) return std::string(value);
    return std::string(kRedacted);
}

std::string RedactOperation(std::string_view attribute, std::string_view operation) {
    if (ShowSecrets() || IsOperation(operation) || !IsSecretAttribute(attribute))
        return std::string(operation);
    return std::string(kRedacted);
}

std::string RedactAction(std::string_view action, std::string_view delim) {
    if (ShowSecrets()) return std::string(action);
    if (!delim.empty()) {
        TokenVector f;
        GetTokens(action, delim, f, 2);
        if (f.size() >= 2 && IsSecretAttribute(f[0])) {
            std::string shown = f[0] + std::string(delim) + RedactOperation(f[0], f[1]);
            if (f.size() == 3) shown += std::string(delim) + std::string(kRedacted);
            return shown;
        }
    }
    // Written with another delimiter than the one in force (or read before
    // the delimiter was settled): hide all that follows the name.
    if (std::size_t end = LeadingSecretName(action); end != std::string_view::npos)
        return std::string(action.substr(0, end + 1)) + std::string(kRedacted);
    if (IContains(action, "ENCPWD:")) return std::string(kRedacted);
    return std::string(action);
}

std::string RedactActionList(std::string_view actions, std::string_view delim) {
    if (ShowSecrets()) return std::string(actions);
    TokenVector pieces;
    GetTokensQuoted(actions, " ", pieces);
    bool changed = false;
    for (auto& piece : pieces) {
        std::string shown = RedactAction(piece, delim);
        changed = changed || shown != piece;
        piece = std::move(shown);
    }
    return changed ? JoinTokens(" ", pieces) : std::string(actions);
}

std::string RedactEnvValue(std::string_view name, std::string_view value, std::string_view delim) {
    if (IEquals(name, "props") || value.empty()) return RedactActionList(value, delim);
    if (value == "{~}") return std::string(value);
    return RedactValue(name, value, delim);
}

std::string RedactSwitchLine(std::string_view line, std::string_view delim) {
    if (ShowSecrets()) return std::string(line);
    if (!line.empty() && (line.front() == '-' || line.front() == '/')) {
        std::string_view rest = line.substr(1);
        std::size_t sp = rest.find(' ');
        if (sp == std::string_view::npos) return std::string(line);
        return std::string(line.substr(0, sp + 2)) +
               RedactValue(rest.substr(0, sp), rest.substr(sp + 1), delim);
    }
    return RedactActionList(line, delim);
}

namespace {

// The marker with a non-empty password field replaced by `replacement`.
std::string ReplaceAdcsvPassword(std::string_view line, std::string_view replacement) {
    std::string shown;
    std::size_t pos = 0;
    for (std::size_t field = 0;; ++field) {
        const std::size_t next = line.find(kAdcsvSeparator, pos);
        std::string_view text = line.substr(pos, next - pos);
        shown += field == kAdcsvPasswordField && !text.empty() ? replacement : text;
        if (next == std::string_view::npos) break;
        shown += kAdcsvSeparator;
        pos = next + kAdcsvSeparator.size();
    }
    return shown;
}

} // namespace

std::string RedactAdcsvMarker(std::string_view line) {
    if (ShowSecrets()) return std::string(line);
    return ReplaceAdcsvPassword(line, kRedacted);
}

std::string AdcsvMarkerWithoutPassword(std::string_view line) {
    return ReplaceAdcsvPassword(line, "");
}

std::string RedactCsvLine(std::string_view line, const CsvSettings& settings,
                          const std::vector<std::string>& headerFields) {
    if (ShowSecrets()) return std::string(line);
    auto secretColumn = [&](std::size_t i) {
        return i < headerFields.size() && IsSecretAttribute(headerFields[i]);
    };
    // Fields end at the delimiter outside quotes; a backslash escapes the
    // character after it.
    std::string shown;
    std::size_t field = 0;
    std::size_t begin = 0;
    bool quoted = false;
    for (std::size_t i = 0; i <= line.size(); ++i) {
        if (i < line.size()) {
            const char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                ++i;
                continue;
            }
            if (c == settings.quote) quoted = !quoted;
            if (c != settings.delim || quoted) continue;
        }
        if (field > 0) shown += settings.delim;
        shown += secretColumn(field) ? kRedacted : line.substr(begin, i - begin);
        ++field;
        begin = i + 1;
    }
    return shown;
}

std::string RedactSwitchName(const SwitchParser& parser, std::string_view name) {
    if (ShowSecrets() || !IsSecretSwitch(parser.AwaitedBy(name))) return std::string(name);
    return std::string(kRedacted);
}
