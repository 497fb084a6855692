// Command-line switch parser: splits the process arguments into named
// switches (lower-cased name -> value text) and the remaining arguments (the
// attribute actions, in the order given).  Later configuration layers add to
// the same object through SetValue and AddArg; Validate reports undeclared
// switches and missing values.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

class SwitchParser {
  public:
    SwitchParser(const std::vector<std::string>& argv, const std::vector<std::string>& declarations,
                 bool caseSensitive = false, bool allowDuplicates = false);

    bool IsSwitch(std::string_view name) const;
    std::string GetValue(std::string_view name) const;
    // GetValue with "\t" and "\n" (backslash sequences) turned into TAB and LF.
    std::string GetValueUnescaped(std::string_view name) const;
    void SetValue(std::string_view name, std::string_view value);
    void RemoveSwitch(std::string_view name);
    // Overwrites the switch's value in place and empties it; the switch stays
    // set.  For values that must not linger in memory (passwords).
    void WipeValue(std::string_view name);

    void AddArg(std::string_view text);
    void RemoveArg(std::string_view text);
    // Puts `replacement` in the place of the argument `text`.
    void ReplaceArg(std::string_view text, std::string_view replacement);
    std::size_t ArgCount() const { return argList_.size(); }
    std::size_t SwitchCount() const { return switches_.size(); }
    // 1-based; "" when out of range.
    std::string GetArg(long n) const;
    bool IsArg(std::string_view pattern) const;
    std::size_t ArgPosition(std::string_view pattern) const;
    bool ArgContains(std::string_view text) const;

    const std::map<std::string, std::string>& SelectedSwitches() const { return switches_; }
    std::vector<std::string> SelectedArgs() const { return argList_; }
    const std::string& ProgramPath() const { return programPath_; }

    int Validate(const std::vector<std::string>& declarations);
    const std::vector<std::string>& BadSwitches() const { return bad_; }
    const std::vector<std::string>& MissingSwitches() const { return missing_; }
    int BadCount() const { return badCount_; }
    int MissingCount() const { return missingCount_; }

    // True when `name` (without prefix) is a declared switch.
    bool IsDeclared(std::string_view name) const;
    // The switch that was waiting for its value when switch `name` was typed
    // on the command line ("-up -x" gives "up" for "x"), or "".
    std::string AwaitedBy(std::string_view name) const;

  private:
    std::string Key(std::string_view name) const;
    void Scan(const std::vector<std::string>& argv);

    std::map<std::string, std::string> switches_;
    std::map<std::string, char> argSet_;
    std::vector<std::string> argList_;
    bool caseSensitive_;
    bool allowDuplicates_;
    std::string programPath_;
    int badCount_ = -1;
    int missingCount_ = 0;
    std::vector<std::string> bad_;
    std::vector<std::string> missing_;
    std::map<std::string, std::string> declarations_;
    std::map<std::string, std::string> awaitedBy_;
};
