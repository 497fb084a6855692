// The modification list of one CSV row: every value of the attribute actions
// (and of the imported columns) expanded against the row, repeated once per
// value of a multi-valued column, DN-replaced and encoded.
#pragma once

#include "AttributeActions.h"
#include "Failure.h"
#include "Request.h"
#include "Target.h"

#include <memory>
#include <set>
#include <string>
#include <string_view>

class DNReplacer;

// Expands {{...}} values for one target (its CSV row, its DN, the run's
// counter).  The driver implements it with the expansion language; tests
// with a fake.
class ValueExpander {
  public:
    virtual ~ValueExpander() = default;
    // `text` as the value at `position` of `attribute` for `target`.
    virtual Expanded Expand(const Target& target, std::uint64_t counter, std::string_view text,
                            std::string_view attribute, std::size_t position) const = 0;
    // How many values the column that `text` refers to holds in the row (0
    // when it names no column).
    virtual std::size_t ValueCount(const Target& target, std::string_view text,
                                   std::string_view attribute) const = 0;
    // `text` with no CSV row; with `dn` also that DN's parts (-bmod).
    virtual Expanded ExpandPlain(std::string_view text, std::string_view attribute,
                                 std::uint64_t counter, const std::string* dn) const = 0;
};

struct RowOptions {
    bool add = false;                     // an add run: every record adds
    bool expand = false;                  // values are expanded
    int csvModNull = 0;                   // empty replace values: 0 sent, 1 left out, 2 cleared
    bool encrypted = false;               // the session is protected (TLS or sealing)
    std::string leaveOut;                 // a text attribute not to send (set another way)
    bool log = true;                      // make the log lines (only when a log is open)
    const DNReplacer* replacer = nullptr; // -replacedn, or none
    const std::set<std::string>* dnAttributes = nullptr; // whose values are DNs
    SdBuildFn descriptor;                                // "sd##" values, for the row's object
};

struct RowMods {
    std::shared_ptr<ModList> mods;
    std::vector<Note> notes;       // log lines, in record order
    bool noObjectClass = false;    // an add without objectClass
    std::string generatedPassword; // a {{*rnd*}} unicodePwd value
    bool needsEncryptionWarning = false;
    std::uint32_t sdFlags = 0;     // descriptor parts the row sets
    bool sdFlagsRequested = false; // a descriptor value was built
    std::optional<Failure> fatal;  // an expansion or encoding failure
};

RowMods BuildRowModifications(const ModContainers& containers, const Target& target,
                              std::uint64_t counter, const ValueExpander& expander,
                              const RowOptions& options);
