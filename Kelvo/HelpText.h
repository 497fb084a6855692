// Kelvo's help texts: the basic and advanced usage, the shortcut, CSV and
// security descriptor help.  The texts are composed in memory; the caller
// decides where they go (standard output or the -gui usage file).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Help modes, numbered as the help switches select them: -help and -? give
// Basic, -?? Advanced, -???? and -sc? Shortcuts, -csv? Csv, -sd? Descriptor.
enum class HelpMode { Basic = 0, Advanced = 1, Shortcuts = 3, Csv = 5, Descriptor = 6 };

// Longest line, in characters, of every composed help text.
inline constexpr std::size_t kHelpLineWidth = 79;

// The whole help text of one mode, composed in memory, starting with the
// help-switch list and usage lines that every mode shares.  `version` is the
// program version shown in the closing paragraph and in the default name of
// the -gui usage file.
std::string ComposeHelp(HelpMode mode, std::string_view version);
