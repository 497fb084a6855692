// Kelvo's help texts: the basic and advanced usage, the shortcut, CSV and
// security descriptor help.  The texts are composed in memory; the caller
// decides where they go (standard output or the -gui usage file).
#pragma once

#include <cstddef>
#include <span>
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

// One row of a switch or keyword list.  The description is word-wrapped; a
// '\n' in it starts a new line at the description column.
struct HelpEntry {
    std::string_view term;
    std::string_view text;
};

// One example: a sentence saying what it does, and the shell command.  A
// '\n' in the command separates continuation lines (each line before it
// ends with a backslash).
struct HelpExample {
    std::string_view what;
    std::string_view command;
};

// Receives the blocks of a help topic.  The console help lays them out as
// text; other renderings (the manual page) lay them out their own way from
// the same calls.
class HelpSink {
  public:
    virtual ~HelpSink() = default;
    // A section title ("SHORTCUTS").
    virtual void Title(std::string_view title) = 0;
    // A heading inside a section ("Opcodes:").
    virtual void Heading(std::string_view heading) = 0;
    // A paragraph, indented by `indent` columns in the console help.
    virtual void Paragraph(std::size_t indent, std::string_view text) = 0;
    virtual void Entries(std::span<const HelpEntry> entries) = 0;
    virtual void Notes(std::string_view heading, std::span<const std::string_view> notes) = 0;
    virtual void Examples(std::string_view heading, std::span<const HelpExample> examples) = 0;
    // An empty line between blocks.
    virtual void Blank() = 0;
};

// The parts of the help beyond the switch rows, each composed on its own.
enum class HelpTopic {
    ActionSyntax, // attribute actions: attr:op:values, the parts, the operation notes
    TypedValues,  // type## prefixes and unicodePwd
    Notes,        // the notes and further notes of -??
    Examples,     // the examples and advanced examples of -??
    Shortcuts,    // -sc?: shortcuts, special bases, password switches
    Csv,          // -csv?: CSV input, expansion, import mode
    Descriptor,   // -sd?: the security descriptor language
};

// Hands one topic's blocks to `sink`, in the order the console help shows
// them.
void ComposeHelpTopic(HelpTopic topic, HelpSink& sink);
