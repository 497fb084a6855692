// Attribute actions ("attribute:operation:values") turned into the sorted
// containers of pending changes, and those containers into the modification
// array of one request.
#pragma once

#include "Failure.h"
#include "ModList.h"
#include "Request.h"
#include "ValueEncoding.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct ModContainers {
    std::vector<std::string> named;  // bare names in action order, duplicates kept
    std::vector<std::string> clears; // action order, duplicates kept
    std::map<std::string, std::string> replace;
    // attr:+-:v1;v2 - every value of the attribute replaced in one record.
    std::map<std::string, std::vector<std::string>> replaceAll;
    std::map<std::string, std::vector<std::string>> add;
    std::map<std::string, std::vector<std::string>> del;
    std::map<std::string, Bytes> binReplace;
    std::map<std::string, std::vector<Bytes>> binReplaceAll;
    std::map<std::string, std::vector<Bytes>> binAdd;
    std::map<std::string, std::vector<Bytes>> binDel;
    // CSV modes: prefixed attributes, encoded per row.
    std::map<std::string, std::string> deferredReplace;
    std::map<std::string, std::vector<std::string>> deferredAdd;
    std::map<std::string, std::vector<std::string>> deferredDel;
    // Descriptor edits: attribute -> "MOD"/"ADD"/"REMOVE" -> SDDL texts.
    std::map<std::string, std::map<std::string, std::vector<std::string>>> sdMods;
    // Descriptor parts being set (owner 1, group 2, DACL 4, SACL 8); 0 = none.
    std::uint32_t sdFlags = 0;
    bool sdFlagsRequested = false;
};

// Builds one descriptor value: bare attribute, value, the DN of the object
// it is for (empty when none is known), bytes out, and the descriptor parts
// it sets (owner 1, group 2, DACL 4, SACL 8).
using SdBuildFn =
    std::function<EncodeStatus(const std::string& attribute, const std::string& value,
                               const std::string& dn, Bytes& out, std::uint32_t& partFlags)>;

// Every operation an attribute action may name between its delimiters:
// "" replace, "+" add, "-" remove (a clear when no value follows), "++" add
// several, "+-" replace with several, "--" remove several.  Any other
// operation is refused.
inline constexpr std::string_view kActionOperations[] = {"", "+", "-", "++", "+-", "--"};

enum class ActionRun { Update, Add, Other };

struct ActionOptions {
    std::string attrDelim = ":";
    std::string valueDelim = ";";
    ActionRun run = ActionRun::Update;
    bool clearMembers = false; // -cm
    bool sdSimple = false;     // -sdsimple
    // -sdsimple: how "sd##" values are built as they are read.
    SdBuildFn sdBuild;
    bool csv = false;
    bool adcsv = false;
};

struct [[nodiscard]] ParseResult {
    bool ok = true;
    int binaryResult = 0; // first encoder failure
    bool endsRun = false; // an encoder failure that ends the run with -1
};

// Parses every action in order (all are parsed even after an error).
ParseResult ParseAttributeActions(const std::vector<std::string>& actions,
                                  const ActionOptions& options, ModContainers& out);

// Rewrites a DN-with-binary / DN-with-string action in place.
bool ExpandDNWArg(const std::string& operation, std::string& attribute, std::string& value);

// Appends each non-empty value to map[attribute].
void MultiValueInsOrDel(const std::string& attribute, const std::vector<std::string>& values,
                        std::map<std::string, std::vector<std::string>>& map);

// An attribute name without its encoding prefix ("guid##objectguid" ->
// "objectguid").
std::string BareName(const std::string& attribute);

// Visits the single-value replaces and the replace-all actions together, in
// attribute-name order: fn(name, value texts, single) returns false to stop.
// False when a call stopped the walk.
bool ForEachReplace(
    const ModContainers& c,
    const std::function<bool(const std::string&, const std::vector<std::string>&, bool)>& fn);

// A value after {{...}} expansion.
struct Expanded {
    bool ok = true;
    std::string value;
    int exitCode = 0;    // when not ok: the code the run ends with
    std::string message; // when not ok: what to show
};
using ExpandFn = std::function<Expanded(const std::string& text, const std::string& attribute)>;

// unicodePwd travels as the quoted password in UTF-16LE.
Bytes PasswordValue(const std::string& password);

struct BuildOptions {
    bool expand = false;    // -expand: values pass through {{...}} expansion
    ExpandFn expander;      // how, when `expand`
    bool encrypted = false; // the session is protected (TLS or SASL sealing)
    std::string leaveOut;   // a text attribute not to send (set another way)
    // -replacedn: values of DN-syntax attributes move to the other
    // directory's names.
    const class DNReplacer* replacer = nullptr;
    const std::set<std::string>* dnAttributes = nullptr;
};

struct BuildResult {
    bool ok = true;                // false: a value could not be expanded
    std::string generatedPassword; // a {{*rnd*}} password, shown per object
    std::string error;
    int exitCode = 0; // when not ok
    // unicodePwd is written on a session that is neither TLS nor sealed.
    bool needsEncryptionWarning = false;
    std::vector<Note> notes; // the log lines of the records, in order
};

// Builds the modification array of an update (or, with `asAdd`, of an add,
// where every record is an add).  Writes nothing anywhere: what is to be
// logged comes back in the result.
BuildResult BuildModifications(const ModContainers& c, const BuildOptions& options, bool asAdd,
                               ModList& out);

// Turns the descriptor edits into binary values (replace, add, delete) and
// records the parts they set for the SD flags control.  Fails with -99 for
// several texts on one operation, or with the encoder's code.
[[nodiscard]] Step ResolveSdMods(ModContainers& c, const ExpandFn& expand, const SdBuildFn& build,
                                 const std::string& dn);
