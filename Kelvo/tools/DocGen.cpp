// The manual page and the shell completions, generated from the tables the
// program itself runs on.
//
// The manual page takes the switch rows from the switch table (grouped and
// ordered as -?? shows them) and the longer texts from the help topics,
// rendered through a HelpSink that writes man(7) macros instead of laid-out
// text.  The completions take every switch name, the value a switch expects
// (a file, a fixed list of choices, a shortcut name), the attribute-action
// operators and the shortcut names from their tables.

#include "DocGen.h"

#include "AttributeActions.h"
#include "EncPwd.h"
#include "ExitCodes.h"
#include "HelpText.h"
#include "Shortcuts.h"
#include "SwitchTable.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace docgen {
namespace {

// ---------------------------------------------------------------------------
// What the switch table says about each switch
// ---------------------------------------------------------------------------

std::string Dashed(std::string_view name) {
    return "-" + std::string(name);
}

// The switches that share the row of `def` (named in it with rowOf).
std::vector<const SwitchDef*> RowMembers(const SwitchDef& def) {
    std::vector<const SwitchDef*> members{&def};
    for (const SwitchDef& other : kSwitchTable)
        if (other.rowOf == def.name) members.push_back(&other);
    return members;
}

// The words of a row's term: "-h host[:port]" -> {"-h", "host[:port]"}.
std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

// True when the term shows `spelled` ("-rm", "--help") as one of its words.
bool TermShows(std::string_view term, std::string_view spelled) {
    for (std::string_view word : Words(term)) {
        if (word.ends_with(',')) word.remove_suffix(1);
        if (word == spelled) return true;
    }
    return false;
}

// A switch whose value is a file name: its term's placeholder says "file".
bool TakesFile(const SwitchDef& def) {
    if (def.kind == ValueKind::None) return false;
    const SwitchDef* row = def.rowOf.empty() ? &def : FindSwitch(def.rowOf);
    if (row == nullptr) return false;
    const std::vector<std::string_view> words = Words(row->term);
    return std::any_of(words.begin(), words.end(), [](std::string_view w) {
        return !w.starts_with('-') && w.find("file") != std::string_view::npos;
    });
}

std::string ReplaceVersion(std::string_view text, std::string_view version) {
    std::string out(text);
    constexpr std::string_view kMark = "{VERSION}";
    for (std::size_t at = out.find(kMark); at != std::string::npos; at = out.find(kMark, at))
        out.replace(at, kMark.size(), version);
    return out;
}

// ---------------------------------------------------------------------------
// Roff
// ---------------------------------------------------------------------------

// One UTF-8 sequence starting at text[pos] as \[uXXXX]; pos moves past it.
std::string RoffCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::uint32_t cp = length == 1 ? lead : lead & (0x3F >> (length - 1));
    std::size_t i = 1;
    for (; i < static_cast<std::size_t>(length) && pos + i < text.size(); ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) break;
        cp = (cp << 6) | (next & 0x3F);
    }
    pos += i;
    if (length == 1 || i != static_cast<std::size_t>(length)) return "\\[uFFFD]";
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\[u%04X]", cp);
    return buf;
}

// Font escapes around escaped text.
std::string Bold(std::string_view text) {
    return "\\fB" + RoffEscape(text) + "\\fR";
}
std::string Italic(std::string_view text) {
    return "\\fI" + RoffEscape(text) + "\\fR";
}

// A paragraph's text: '\n' inside starts a new output line.
std::string RoffText(std::string_view text) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const std::size_t cut = text.find('\n', pos);
        out += RoffEscape(text.substr(pos, cut - pos));
        out += '\n';
        if (cut == std::string_view::npos) break;
        out += ".br\n";
        pos = cut + 1;
    }
    return out;
}

// A row's tag: switch names bold, placeholders italic.
std::string RoffTerm(std::string_view term) {
    std::string out;
    for (std::string_view word : Words(term)) {
        if (!out.empty()) out += ' ';
        const bool comma = word.ends_with(',');
        if (comma) word.remove_suffix(1);
        out += word.starts_with('-') ? Bold(word) : Italic(word);
        if (comma) out += ',';
    }
    return out;
}

// Lays help topics out as man(7) blocks.  Titles become subsections and
// headings bold lines, both left out where they repeat the section's name.
class RoffSink final : public HelpSink {
  public:
    RoffSink(std::string& out, std::string_view version) : out_(out), version_(version) {}

    void Section(std::string_view name) {
        out_ += ".SH \"" + std::string(name) + "\"\n";
        section_ = name;
    }

    void Title(std::string_view title) override {
        if (SameAsSection(title)) return;
        out_ += ".SS \"" + RoffEscape(title) + "\"\n";
    }

    void Heading(std::string_view heading) override {
        if (SameAsSection(heading)) return;
        out_ += ".PP\n" + Bold(heading) + "\n";
    }

    void Paragraph(std::size_t, std::string_view text) override {
        out_ += ".PP\n" + RoffText(Text(text));
    }

    void Entries(std::span<const HelpEntry> entries) override {
        for (const HelpEntry& entry : entries) {
            out_ += ".TP\n" + Bold(entry.term) + "\n";
            out_ += RoffText(Text(entry.text));
        }
    }

    void Notes(std::string_view heading, std::span<const std::string_view> notes) override {
        Heading(heading);
        for (std::string_view note : notes)
            out_ += ".IP \\(bu 2\n" + RoffText(Text(note));
    }

    void Examples(std::string_view heading, std::span<const HelpExample> examples) override {
        Heading(heading);
        for (const HelpExample& example : examples) {
            out_ += ".PP\n" + RoffText(Text(example.what));
            // Commands keep the section's indent: the console help's
            // commands are up to 73 columns wide, and the page is 80.
            out_ += ".PP\n.nf\n" + RoffText(example.command) + ".fi\n";
        }
    }

    void Blank() override {}

  private:
    std::string Text(std::string_view text) const { return ReplaceVersion(text, version_); }

    bool SameAsSection(std::string_view text) const {
        if (text.ends_with(':')) text.remove_suffix(1);
        return text.size() == section_.size() &&
               std::equal(text.begin(), text.end(), section_.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    }

    std::string& out_;
    std::string_view version_;
    std::string_view section_;
};

// ---------------------------------------------------------------------------
// The manual page's own sections
// ---------------------------------------------------------------------------

struct OptionGroup {
    HelpSection section;
    std::string_view title;
};

// The groups of -??, in its order, with the help switches first.
constexpr OptionGroup kOptionGroups[] = {
    {HelpSection::Head, "Help"},
    {HelpSection::Connection, "Connection options"},
    {HelpSection::Update, "Update options"},
    {HelpSection::Action, "Action options"},
    {HelpSection::Output, "Output options"},
    {HelpSection::Authentication, "Authentication options"},
    {HelpSection::Misc, "Misc options"},
};

constexpr std::string_view kDescription[] = {
    "Kelvo changes objects in LDAP directories: Active Directory domains and forests, AD "
    "LDS instances and other LDAP servers such as OpenLDAP. Name the targets with -b, as "
    "DNs piped in on standard input (DN lines, or LDIF as a search client prints it), or "
    "as the rows of CSV input, and say what to do with attribute actions such as "
    "description::hello. Kelvo sends one request per object (modify, add, delete, rename "
    "or move, undelete) over one bound session, prints one line per object and a summary, "
    "and exits with the LDAP result code of the last failure.",
    "Kelvo stops at the first failed object unless -cont is given, and refuses to touch "
    "more than 10 objects unless -safety, -upto or -unsafe allows more. -whatif builds "
    "every request and sends none; -undo records how to revert the changes made.",
    "Switches start with - and may also be given with /. Their names ignore letter case, "
    "and a switch takes the next argument as its value unless the switch never takes one. "
    "Every other argument is an attribute action. Switches can also come from "
    "environment variables and switch files (see ENVIRONMENT and FILES); the command line "
    "wins.",
};

struct NamedText {
    std::string_view name;
    std::string_view text;
};

constexpr NamedText kEnvironment[] = {
    {"pellix-default-kelvo-NAME", "Sets the switch -NAME when the command line, the -e "
                                  "variables and the -ef file have not set it. The value "
                                  "{~} stands for an empty value; the name "
                                  "pellix-default-kelvo-props adds its space-separated "
                                  "words as attribute actions. Most shells cannot export "
                                  "names with a dash: set them with env(1)."},
    {"quorv-NAME", "Read like pellix-default-kelvo-NAME, one level higher, when -e is given "
                   "without a value; -e prefix reads the variables starting with prefix "
                   "instead."},
    {"KELVO_KEYFILE", "The key file of ENCPWD: values (default "
                      "~/.config/kelvo/encpwd.key)."},
    {"LDAPCONF", "The OpenLDAP client configuration file to read instead of the system "
                 "ldap.conf (see ldap.conf(5))."},
    {"LDAPRC", "The name of the user configuration file read from the home and the current "
               "directory (default ldaprc and .ldaprc)."},
    {"LDAPURI", "The LDAP URI to connect to when neither -h nor -url names a server."},
    {"LDAPBASE", "The default base DN of the OpenLDAP client configuration."},
    {"LDAPTLS_CACERT, LDAPTLS_CACERTDIR",
     "The certificate authorities that -ssl and -starttls trust."},
    {"LDAPTLS_REQCERT", "Whether the server certificate is checked: never, allow, try or "
                        "demand; -sslignoresrvcert is never."},
    {"LDAPTLS_CERT, LDAPTLS_KEY", "A client certificate and its key."},
    {"LDAP*", "Every other setting of ldap.conf(5) as a variable with the LDAP prefix. "
              "Switches on the command line win over these settings."},
    {"KRB5CCNAME", "The Kerberos ticket cache used by Negotiate binds without -u (see "
                   "kinit(1))."},
};

constexpr NamedText kFiles[] = {
    {"pellix_default_kelvo.cf", "Switch file read from the current directory on every run, "
                                "below every other level: lines -name value set switches, "
                                "other lines hold attribute actions."},
    {"kelvo.cf", "The switch file of -ef without a value."},
    {"kelvo.log", "The log of -log without a value, created with mode 0600."},
    {"Kelvo_{VERSION}_usage.txt", "The usage file of -gui without a value."},
    {"~/.config/kelvo/encpwd.key", "The key of ENCPWD: values, created with mode 0600."},
    {"/etc/ldap/ldap.conf", "The OpenLDAP client configuration (see ldap.conf(5))."},
    {"~/.ldaprc, ~/ldaprc, ./ldaprc", "The user's OpenLDAP client configuration."},
};

constexpr std::string_view kSeeAlso[] = {"ldap.conf(5)", "ldapmodify(1)", "ldapsearch(1)",
                                         "ldif(5)", "kinit(1)"};

void ManOptions(RoffSink& sink, std::string& out, std::string_view version) {
    sink.Section("OPTIONS");
    out += ".PP\nEvery switch, grouped as " + Bold("kelvo -??") + " lists them.\n";
    std::vector<const SwitchDef*> shown;
    auto row = [&](const SwitchDef& def) {
        const std::vector<const SwitchDef*> members = RowMembers(def);
        std::string tag;
        if (def.term.starts_with('-')) {
            tag = RoffTerm(def.term);
            for (const SwitchDef* m : members)
                if (!TermShows(def.term, Dashed(m->name))) tag += ", " + Bold(Dashed(m->name));
        } else {
            // A row that names a family of switches ("Container bases").
            for (const SwitchDef* m : members)
                tag += (tag.empty() ? "" : ", ") + Bold(Dashed(m->name));
        }
        for (const SwitchDef* m : members)
            if (!m->gnuName.empty() && !TermShows(def.term, m->gnuName))
                tag += ", " + Bold(m->gnuName);
        std::string text = ReplaceVersion(def.help, version);
        if (!def.defaultText.empty() && text.find("default") == std::string::npos)
            text += " Default: " + std::string(def.defaultText) + ".";
        if (!def.choices.empty()) {
            std::string list;
            for (std::string_view c : Words(def.choices))
                list += (list.empty() ? "" : ", ") + std::string(c);
            if (text.find(Words(def.choices).front()) == std::string::npos)
                text += " Values: " + list + ".";
        }
        if (def.secret)
            text += " The value is a secret: it is never shown by -po, the log or debug "
                    "output below -d2.";
        out += ".TP\n" + tag + "\n" + RoffText(text);
        shown.insert(shown.end(), members.begin(), members.end());
    };
    for (const OptionGroup& group : kOptionGroups) {
        for (HelpBlock block : {HelpBlock::Main, HelpBlock::Advanced}) {
            std::vector<const SwitchDef*> defs;
            for (const SwitchDef& def : kSwitchTable)
                if (def.rowOf.empty() && def.place.section == group.section &&
                    def.place.block == block)
                    defs.push_back(&def);
            std::stable_sort(defs.begin(), defs.end(), [](const SwitchDef* a, const SwitchDef* b) {
                return a->place.rank < b->place.rank;
            });
            if (defs.empty()) continue;
            if (block == HelpBlock::Main)
                sink.Title(group.title);
            else if (group.section != HelpSection::Head)
                out += ".PP\n" + Bold("Advanced:") + "\n";
            for (const SwitchDef* def : defs)
                row(*def);
        }
    }
    // Switches without a place in the help still get a row.
    bool titled = false;
    for (const SwitchDef& def : kSwitchTable) {
        if (std::find(shown.begin(), shown.end(), &def) != shown.end()) continue;
        if (!def.rowOf.empty() && FindSwitch(def.rowOf) != nullptr) continue;
        if (!titled) sink.Title("Other switches");
        titled = true;
        out += ".TP\n" + Bold(Dashed(def.name)) + "\n" +
               RoffText(def.help.empty() ? "Accepted; no effect of its own." : def.help);
    }
}

void ManNamedTexts(std::string& out, std::span<const NamedText> texts, std::string_view version) {
    for (const NamedText& t : texts)
        out += ".TP\n" + Bold(ReplaceVersion(t.name, version)) + "\n" + RoffText(t.text);
}

void ManExitStatus(RoffSink& sink, std::string& out) {
    sink.Section("EXIT STATUS");
    out +=
        ".PP\n" + RoffText("0 when every request succeeded; otherwise the LDAP result code of the "
                           "last failed request (49 for invalid credentials, 81 for a lost server "
                           "and so on), or one of Kelvo's own codes below. The shell sees the low "
                           "8 bits of the code, shown in brackets.");
    for (const exitcode::Named& code : exitcode::kTable) {
        std::string tag = Bold(std::to_string(code.code));
        if (code.code < 0 || code.code > 255) tag += " (" + std::to_string(code.code & 0xFF) + ")";
        out += ".TP\n" + tag + "\n" + RoffText(code.meaning);
    }
}

} // namespace

std::string RoffEscape(std::string_view text) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        const char c = text[pos];
        const bool lineStart = out.empty() || out.back() == '\n';
        if (static_cast<unsigned char>(c) >= 0x80) {
            out += RoffCodePoint(text, pos);
            continue;
        }
        ++pos;
        switch (c) {
        case '\\':
            out += "\\e";
            break;
        case '-':
            out += "\\-";
            break;
        case '\'':
            out += "\\(aq";
            break;
        case '`':
            out += "\\(ga";
            break;
        case '^':
            out += "\\(ha";
            break;
        case '~':
            out += "\\(ti";
            break;
        case '.':
            if (lineStart) out += "\\&";
            out += '.';
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ManPage(std::string_view version, std::string_view date) {
    std::string out;
    RoffSink sink(out, version);
    out += ".\\\" Generated from Kelvo's switch table and help texts; do not edit.\n";
    out += ".TH KELVO 1 \"" + std::string(date) + "\" \"Kelvo " + std::string(version) +
           "\" \"User Commands\"\n";
    // No hyphenation: a switch name broken across lines could not be
    // searched for or copied.  Ragged right: long DNs and switch names would
    // stretch the spaces of a justified line.
    out += ".nh\n.ad l\n";
    sink.Section("NAME");
    out += "kelvo \\- change objects in LDAP directories from the command line\n";
    sink.Section("SYNOPSIS");
    out += Bold("kelvo") + " [" + Italic("switches") + "] [" + Italic("attr:op:values") +
           " ...]\n.br\n";
    out += Italic("command") + " | " + Bold("kelvo") + " [" + Italic("switches") + "] [" +
           Italic("attr:op:values") + " ...]\n.br\n";
    out += Bold("kelvo") + " " + Bold("-help") + " | " + Bold("-??") + " | " + Bold("-sc?") +
           " | " + Bold("-csv?") + " | " + Bold("-sd?") + " | " + Bold("--help") + " | " +
           Bold("--version") + "\n";
    sink.Section("DESCRIPTION");
    for (std::string_view p : kDescription)
        sink.Paragraph(0, p);
    ManOptions(sink, out, version);
    // The sections that are the console help's own texts.
    static constexpr std::pair<const char*, HelpTopic> kTopicSections[] = {
        {"ATTRIBUTE ACTIONS", HelpTopic::ActionSyntax},  {"TYPED VALUES", HelpTopic::TypedValues},
        {"CSV AND EXPANSION", HelpTopic::Csv},           {"SHORTCUTS", HelpTopic::Shortcuts},
        {"SECURITY DESCRIPTORS", HelpTopic::Descriptor}, {"NOTES", HelpTopic::Notes},
    };
    for (const auto& [section, topic] : kTopicSections) {
        sink.Section(section);
        ComposeHelpTopic(topic, sink);
    }
    sink.Section("ENVIRONMENT");
    out += ".PP\n" + RoffText("Kelvo connects through the OpenLDAP client library, which reads "
                              "ldap.conf, the user's ldaprc files and the LDAP* variables like the "
                              "other OpenLDAP tools do.");
    ManNamedTexts(out, kEnvironment, version);
    sink.Section("FILES");
    ManNamedTexts(out, kFiles, version);
    ManExitStatus(sink, out);
    sink.Section("EXAMPLES");
    ComposeHelpTopic(HelpTopic::Examples, sink);
    sink.Section("SEE ALSO");
    std::string refs;
    for (std::string_view ref : kSeeAlso) {
        const std::size_t paren = ref.find('(');
        refs += (refs.empty() ? "" : ",\n") + Bold(ref.substr(0, paren)) +
                std::string(ref.substr(paren));
    }
    out += refs + "\n";
    return out;
}

// ---------------------------------------------------------------------------
// Completion
// ---------------------------------------------------------------------------

namespace {

// Single-quoted for the shell.
std::string Quoted(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

std::vector<std::string> SwitchNames() {
    std::vector<std::string> names;
    for (const SwitchDef& def : kSwitchTable) {
        names.push_back(Dashed(def.name));
        if (!def.gnuName.empty()) names.emplace_back(def.gnuName);
    }
    return names;
}

std::vector<std::string> ShortcutNames() {
    std::vector<std::string> names;
    for (const ShortcutDef& def : Shortcuts()) {
        names.emplace_back(def.name);
        if (!def.alias.empty()) names.emplace_back(def.alias);
    }
    return names;
}

// The first sentence of a switch's help, for the zsh menu.
std::string Summary(const SwitchDef& def) {
    const SwitchDef* row = def.rowOf.empty() ? &def : FindSwitch(def.rowOf);
    std::string_view help = row ? row->help : std::string_view();
    if (const std::size_t stop = help.find(". "); stop != std::string_view::npos)
        help = help.substr(0, stop + 1);
    std::string text(help);
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words)
        out += (out.empty() ? "" : " ") + Quoted(w);
    return out;
}

enum class ValueCompletion { None, File, Shortcut, Choices, Other };

ValueCompletion CompletesValue(const SwitchDef& def) {
    if (def.kind == ValueKind::None) return ValueCompletion::None;
    if (def.name == sw::sc) return ValueCompletion::Shortcut;
    if (TakesFile(def)) return ValueCompletion::File;
    if (!def.choices.empty()) return ValueCompletion::Choices;
    return ValueCompletion::Other;
}

// The case labels of every switch whose value completes the same way.
std::string CaseLabels(ValueCompletion kind, ValueKind valueKind) {
    std::string labels;
    for (const SwitchDef& def : kSwitchTable)
        if (CompletesValue(def) == kind && def.kind == valueKind)
            labels += (labels.empty() ? "" : "|") + Quoted(Dashed(def.name));
    return labels;
}

std::string OperatorList() {
    std::vector<std::string> ops;
    for (std::string_view op : kActionOperations)
        ops.emplace_back(op);
    return Joined(ops);
}

} // namespace

std::string BashCompletion() {
    std::string out =
        "# bash completion for kelvo                                -*- shell-script -*-\n"
        "# Generated from Kelvo's switch table; do not edit.\n\n";
    out += "_kelvo_switches=(" + Joined(SwitchNames()) + ")\n";
    out += "_kelvo_shortcuts=(" + Joined(ShortcutNames()) + ")\n";
    out += "_kelvo_operators=(" + OperatorList() + ")\n\n";
    out += R"(# Adds the words of "$@" that start with $cur to COMPREPLY, quoted for the
# shell (-?? would otherwise be a pattern).
_kelvo_add() {
    local w q
    for w in "$@"; do
        if [[ $w == "$cur"* ]]; then
            printf -v q '%q' "$w"
            COMPREPLY+=("$q")
        fi
    done
}

# attr:<Tab> offers attr:op: for every operation, and attr:- (clear).
_kelvo_actions() {
    [[ $cur == *:* ]] || return
    local attr=${cur%%:*} rest=${cur#*:} op
    [[ -n $attr && $rest != *:* ]] || return
    local -a forms=("$attr:-")
    for op in "${_kelvo_operators[@]}"; do
        forms+=("$attr:$op:")
    done
    _kelvo_add "${forms[@]}"
    compopt -o nospace 2>/dev/null
}

_kelvo() {
    local line=${COMP_LINE:0:COMP_POINT}
    local cur=${line##*[[:space:]]}
    local -a before
    read -r -a before <<<"${line%"$cur"}"
    local prev=${before[${#before[@]}-1]}
    [[ $prev == /* ]] && prev=-${prev#/}
    prev=${prev,,}
    COMPREPLY=()

    case $prev in
    '<' | '>' | '>>' | '2>')
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$cur"))
        return 0
        ;;
)";
    const std::pair<ValueCompletion, std::string_view> kValueCases[] = {
        {ValueCompletion::File, "        compopt -o filenames 2>/dev/null\n"
                                "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"},
        {ValueCompletion::Shortcut, "        _kelvo_add \"${_kelvo_shortcuts[@]}\"\n"},
    };
    for (ValueKind kind : {ValueKind::Required, ValueKind::Optional}) {
        const bool optional = kind == ValueKind::Optional;
        for (const auto& [completion, body] : kValueCases) {
            const std::string labels = CaseLabels(completion, kind);
            if (labels.empty()) continue;
            out += "    " + labels + ")\n" + std::string(body);
            if (optional)
                out += "        [[ $cur == -* ]] || return 0\n        ;;\n";
            else
                out += "        return 0\n        ;;\n";
        }
        for (const SwitchDef& def : kSwitchTable) {
            if (def.kind != kind || CompletesValue(def) != ValueCompletion::Choices) continue;
            std::vector<std::string> choices;
            for (std::string_view c : Words(def.choices))
                choices.emplace_back(c);
            out += "    " + Quoted(Dashed(def.name)) + ")\n        _kelvo_add " + Joined(choices) +
                   "\n";
            out += optional ? "        [[ $cur == -* ]] || return 0\n        ;;\n"
                            : "        return 0\n        ;;\n";
        }
        const std::string other = CaseLabels(ValueCompletion::Other, kind);
        if (!other.empty())
            out += "    " + other + ")\n" +
                   (optional ? "        [[ $cur == -* ]] || return 0\n        ;;\n"
                             : "        return 0\n        ;;\n");
    }
    out += R"(    esac

    if [[ $cur == -* ]]; then
        _kelvo_add "${_kelvo_switches[@]}"
    else
        _kelvo_actions
    fi

    # With ':' among the word breaks, bash replaces only the text after the
    # last ':' of the word.
    if [[ $cur == *:* && $COMP_WORDBREAKS == *:* ]]; then
        local colon=${cur%"${cur##*:}"} i
        for i in "${!COMPREPLY[@]}"; do
            COMPREPLY[i]=${COMPREPLY[i]#"$colon"}
        done
    fi
    return 0
}
complete -F _kelvo kelvo
)";
    return out;
}

std::string ZshCompletion() {
    std::string out = "#compdef kelvo\n"
                      "# zsh completion for kelvo.  Generated from Kelvo's switch table; do "
                      "not edit.\n\n"
                      "_kelvo() {\n"
                      "    local -a switches descriptions shortcuts operators forms\n";
    out += "    switches=(" + Joined(SwitchNames()) + ")\n";
    std::vector<std::string> descriptions;
    for (const SwitchDef& def : kSwitchTable) {
        descriptions.push_back(Dashed(def.name) + "  -- " + Summary(def));
        if (!def.gnuName.empty())
            descriptions.push_back(std::string(def.gnuName) + "  -- " + Summary(def));
    }
    out += "    descriptions=(" + Joined(descriptions) + ")\n";
    out += "    shortcuts=(" + Joined(ShortcutNames()) + ")\n";
    out += "    operators=(" + OperatorList() + ")\n";
    out += R"(    local cur=${words[CURRENT]} prev=${(L)words[CURRENT-1]} op
    [[ $prev == /* ]] && prev=-${prev#/}

    case $prev in
)";
    for (ValueKind kind : {ValueKind::Required, ValueKind::Optional}) {
        const std::string tail = kind == ValueKind::Optional
                                     ? "        [[ $cur == -* ]] || return\n        ;;\n"
                                     : "        return\n        ;;\n";
        std::string labels = CaseLabels(ValueCompletion::File, kind);
        if (!labels.empty()) out += "    (" + labels + ")\n        _files\n" + tail;
        labels = CaseLabels(ValueCompletion::Shortcut, kind);
        if (!labels.empty()) out += "    (" + labels + ")\n        compadd -a shortcuts\n" + tail;
        for (const SwitchDef& def : kSwitchTable) {
            if (def.kind != kind || CompletesValue(def) != ValueCompletion::Choices) continue;
            std::vector<std::string> choices;
            for (std::string_view c : Words(def.choices))
                choices.emplace_back(c);
            out += "    (" + Quoted(Dashed(def.name)) + ")\n        compadd -- " + Joined(choices) +
                   "\n" + tail;
        }
        labels = CaseLabels(ValueCompletion::Other, kind);
        if (!labels.empty())
            out += "    (" + labels + ")\n        _message -e values 'value'\n" + tail;
    }
    out += R"(    esac

    if [[ $cur == -* ]]; then
        compadd -l -d descriptions -a switches
    elif [[ $cur == ?*:* && ${cur#*:} != *:* ]]; then
        forms=("${cur%%:*}:-")
        for op in "${operators[@]}"; do
            forms+=("${cur%%:*}:$op:")
        done
        compadd -S '' -a forms
    else
        _message -e actions 'attribute action attr:op:values'
    fi
}

_kelvo "$@"
)";
    return out;
}

} // namespace docgen
