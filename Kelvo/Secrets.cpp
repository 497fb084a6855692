#include "Secrets.h"

#include "Diag.h"
#include "Shortcuts.h"
#include "SwitchTable.h"
#include "pellixstrings.h"

namespace {

constexpr std::string_view kSecretAttributes[] = {"unicodepwd", "userpassword"};

bool ShowSecrets() {
    return diag::Trace();
}

} // namespace

bool IsSecretSwitch(std::string_view name) {
    const SwitchDef* def = FindSwitch(name);
    return def != nullptr && def->secret;
}

bool IsSecretAttribute(std::string_view attribute) {
    std::string a = StrToLower(attribute);
    if (auto hash = a.find("##"); hash != std::string::npos) a = a.substr(hash + 2);
    for (auto s : kSecretAttributes)
        if (a == s) return true;
    return false;
}

std::string RedactValue(std::string_view name, std::string_view value) {
    if (ShowSecrets() || value.empty()) return std::string(value);
    if (IsSecretSwitch(name) || IContains(value, "ENCPWD:")) return std::string(kRedacted);
    if (IEquals(name, sw::sc)) return RedactShortcutValue(value);
    return std::string(value);
}

std::string RedactEnvEntry(std::string_view entry) {
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) return std::string(entry);
    std::string name(entry.substr(0, eq));
    std::string shown = std::string(entry.substr(0, eq + 1));
    // The switch name is what follows the last prefix separator.
    std::size_t sep = name.find_last_of("-_");
    std::string sw = sep == std::string::npos ? name : name.substr(sep + 1);
    if (IStartsWith(entry.substr(eq + 1), "{~}")) return std::string(entry);
    std::string value(entry.substr(eq + 1));
    if (!ShowSecrets() && IContains(value, "unicodepwd")) return shown + std::string(kRedacted);
    return shown + RedactValue(sw, value);
}

std::string RedactSwitchLine(std::string_view line) {
    if (ShowSecrets()) return std::string(line);
    if (!line.empty() && (line.front() == '-' || line.front() == '/')) {
        std::string_view rest = line.substr(1);
        std::size_t sp = rest.find(' ');
        if (sp == std::string_view::npos) return std::string(line);
        std::string_view name = rest.substr(0, sp);
        return std::string(line.substr(0, sp + 2)) + RedactValue(name, rest.substr(sp + 1));
    }
    if (IContains(line, "unicodepwd") || IContains(line, "userpassword") ||
        IContains(line, "ENCPWD:"))
        return std::string(kRedacted);
    return std::string(line);
}

std::string RedactAction(std::string_view action) {
    if (ShowSecrets()) return std::string(action);
    std::size_t first = action.find(':');
    if (first == std::string_view::npos) return std::string(action);
    if (IsSecretAttribute(action.substr(0, first))) {
        std::size_t second = action.find(':', first + 1);
        if (second == std::string_view::npos) return std::string(action);
        return std::string(action.substr(0, second + 1)) + std::string(kRedacted);
    }
    if (IContains(action, "ENCPWD:")) return std::string(kRedacted);
    return std::string(action);
}
