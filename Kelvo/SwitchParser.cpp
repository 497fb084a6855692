#include "SwitchParser.h"

#include "pellixstrings.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kEnDashUtf8 = "\xE2\x80\x93";
constexpr std::string_view kOpenQuoteUtf8 = "\xE2\x80\x9C";
constexpr std::string_view kCloseQuoteUtf8 = "\xE2\x80\x9D";
constexpr char kEnDash1252 = '\x96';
constexpr char kOpenQuote1252 = '\x93';
constexpr char kCloseQuote1252 = '\x94';

// Length of the typographic opening quote at the start of `s`, or 0.
std::size_t OpenQuoteLen(std::string_view s) {
    if (s.starts_with(kOpenQuoteUtf8)) return kOpenQuoteUtf8.size();
    if (!s.empty() && s.front() == kOpenQuote1252) return 1;
    return 0;
}

// Length of the typographic closing quote at the end of `s`, or 0.
std::size_t CloseQuoteLen(std::string_view s) {
    if (s.ends_with(kCloseQuoteUtf8)) return kCloseQuoteUtf8.size();
    if (!s.empty() && s.back() == kCloseQuote1252) return 1;
    return 0;
}

} // namespace

SwitchParser::SwitchParser(const std::vector<std::string>& argv,
                           const std::vector<std::string>& declarations, bool caseSensitive,
                           bool allowDuplicates)
    : caseSensitive_(caseSensitive), allowDuplicates_(allowDuplicates) {
    for (const auto& decl : declarations) {
        std::string name;
        std::string flags;
        for (char c : decl) {
            if (c == ':')
                flags = "NoArg;";
            else if (c == '^')
                flags = "Mandatory;";
            else if (c == '$')
                flags = "MandatoryArg;";
            else
                name.push_back(c);
        }
        declarations_[Key(name)] = flags;
    }
    Scan(argv);
}

std::string SwitchParser::Key(std::string_view name) const {
    return caseSensitive_ ? std::string(name) : StrToLower(name);
}

bool SwitchParser::IsDeclared(std::string_view name) const {
    return declarations_.contains(Key(name));
}

void SwitchParser::Scan(const std::vector<std::string>& argv) {
    if (argv.empty()) return;
    programPath_ = argv[0];
    std::string pending;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        std::string arg = argv[i];
        if (arg.starts_with(kEnDashUtf8)) {
            arg = "-" + arg.substr(kEnDashUtf8.size());
        } else if (!arg.empty() && arg.front() == kEnDash1252) {
            arg.front() = '-';
        } else if (std::size_t open = OpenQuoteLen(arg); open > 0) {
            // A typographic quote joins the arguments up to the closing one.
            std::string joined = arg.substr(open);
            std::size_t close = CloseQuoteLen(joined);
            while (close == 0 && i + 1 < argv.size()) {
                joined += ' ';
                joined += argv[++i];
                close = CloseQuoteLen(joined);
            }
            joined.resize(joined.size() - close);
            arg = joined;
        }

        bool isSwitch = false;
        if (!arg.empty() && arg.front() == '-') {
            isSwitch = arg.size() < 2 || !std::isdigit(static_cast<unsigned char>(arg[1]));
        } else if (!arg.empty() && arg.front() == '/') {
            // Absolute paths begin with "/" too: only a declared name is a switch.
            isSwitch = IsDeclared(std::string_view(arg).substr(1));
        }

        if (isSwitch) {
            std::string name = Key(std::string_view(arg).substr(1));
            switches_[name].clear();
            if (!pending.empty()) awaitedBy_[name] = pending;
            pending = name;
            auto d = declarations_.find(name);
            if (d != declarations_.end() && d->second.find("NoArg") != std::string::npos)
                pending.clear();
        } else if (!pending.empty()) {
            SetValue(pending, arg);
            pending.clear();
        } else {
            AddArg(arg);
        }
    }
}

std::string SwitchParser::AwaitedBy(std::string_view name) const {
    auto it = awaitedBy_.find(Key(name));
    return it == awaitedBy_.end() ? std::string() : it->second;
}

bool SwitchParser::IsSwitch(std::string_view name) const {
    return switches_.contains(Key(name));
}

std::string SwitchParser::GetValue(std::string_view name) const {
    auto it = switches_.find(Key(name));
    return it == switches_.end() ? std::string() : it->second;
}

std::string SwitchParser::GetValueUnescaped(std::string_view name) const {
    std::string v = GetValue(name);
    StrReplaceAllEx(v, "\\t", "\t");
    StrReplaceAllEx(v, "\\n", "\n");
    return v;
}

void SwitchParser::SetValue(std::string_view name, std::string_view value) {
    switches_[Key(name)] = std::string(value);
}

void SwitchParser::WipeValue(std::string_view name) {
    auto it = switches_.find(Key(name));
    if (it == switches_.end()) return;
    volatile char* bytes = it->second.data();
    for (std::size_t i = 0; i < it->second.size(); ++i)
        bytes[i] = '\0';
    it->second.clear();
}

void SwitchParser::RemoveSwitch(std::string_view name) {
    switches_.erase(Key(name));
}

void SwitchParser::AddArg(std::string_view text) {
    std::string key = Key(text);
    if (argSet_.contains(key) && !allowDuplicates_ && !IsSwitch("allowdupeargs")) return;
    argList_.emplace_back(text);
    argSet_[key] = '1';
}

void SwitchParser::RemoveArg(std::string_view text) {
    std::string key = Key(text);
    auto it = argSet_.find(key);
    if (it == argSet_.end()) return;
    argSet_.erase(it);
    std::erase_if(argList_, [&](const std::string& a) { return Key(a) == key; });
}

void SwitchParser::ReplaceArg(std::string_view text, std::string_view replacement) {
    const std::string key = Key(text);
    for (auto& a : argList_) {
        if (Key(a) != key) continue;
        argSet_.erase(key);
        a = std::string(replacement);
        argSet_[Key(a)] = '1';
        return;
    }
}

std::string SwitchParser::GetArg(long n) const {
    if (n <= 0 || static_cast<std::size_t>(n) > argList_.size()) return {};
    return argList_[static_cast<std::size_t>(n - 1)];
}

bool SwitchParser::IsArg(std::string_view pattern) const {
    std::string p = StrToLower(pattern);
    std::size_t star = p.find('*');
    if (star != std::string::npos && star == p.size() - 1) {
        p.pop_back();
        for (const auto& a : argList_)
            if (a.starts_with(p)) return true;
        return false;
    }
    return argSet_.contains(p);
}

std::size_t SwitchParser::ArgPosition(std::string_view pattern) const {
    std::string p = StrToLower(pattern);
    if (!p.empty() && p.back() == '*') p.pop_back();
    for (std::size_t i = 0; i < argList_.size(); ++i)
        if (argList_[i].starts_with(p)) return i + 1;
    return 0;
}

bool SwitchParser::ArgContains(std::string_view text) const {
    return std::any_of(argList_.begin(), argList_.end(),
                       [&](const std::string& a) { return IContains(a, text); });
}

int SwitchParser::Validate(const std::vector<std::string>& declarations) {
    std::vector<std::string> decls = declarations;
    // A value that a later layer gave to a no-value switch becomes an argument.
    for (auto& d : decls) {
        if (d.empty() || d.front() != ':') continue;
        d.erase(0, 1);
        auto it = switches_.find(Key(d));
        if (it != switches_.end() && !it->second.empty()) {
            std::string value = it->second;
            it->second.clear();
            AddArg(value);
        }
    }
    std::map<std::string, int> counter;
    std::map<std::string, bool> required;
    std::map<std::string, bool> valueRequired;
    for (const auto& [name, value] : switches_)
        counter[name] = 1;
    for (auto d : decls) {
        bool req = false;
        bool valReq = false;
        if (!d.empty() && d.front() == '^') {
            d.erase(0, 1);
            req = true;
        }
        if (!d.empty() && d.front() == '$') {
            d.erase(0, 1);
            valReq = true;
        }
        std::string key = Key(d);
        counter[key] -= 1;
        if (req) required[key] = true;
        if (valReq) valueRequired[key] = true;
    }
    bad_.clear();
    missing_.clear();
    for (const auto& [name, count] : counter) {
        if (count == 1) bad_.push_back(name);
        if (count == -1 && required.contains(name)) missing_.push_back(name);
        if (count == 0 && valueRequired.contains(name) && GetValue(name).empty())
            missing_.push_back(name);
    }
    badCount_ = static_cast<int>(bad_.size());
    missingCount_ = static_cast<int>(missing_.size());
    return badCount_ + missingCount_;
}
