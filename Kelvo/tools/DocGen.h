// The manual page and the shell completions, generated from the switch
// table, the help topics, the shortcut table, the attribute-action operators
// and the exit-code table, so that they say what the program does.
#pragma once

#include <string>
#include <string_view>

namespace docgen {

// Text made safe for a roff input line: backslashes, hyphens, quotes and the
// characters troff would change or take as a request at the start of a line.
std::string RoffEscape(std::string_view text);

// The manual page kelvo(1) in man(7) macros.  `date` goes into the page
// header and may be empty.
std::string ManPage(std::string_view version, std::string_view date);

// The bash completion script (it defines _kelvo and registers it for kelvo).
std::string BashCompletion();

// The zsh completion function (#compdef kelvo).
std::string ZshCompletion();

} // namespace docgen
