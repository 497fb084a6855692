// Import mode: the CSV columns that become attribute actions of their own
// (their value is the column's "{{column}}" expansion), the attributes that
// are never imported, and the replacement of DNs between directories.
#pragma once

#include "AttributeActions.h"
#include "Request.h"

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Attributes a directory maintains itself; never imported unless asked for.
inline constexpr std::string_view kDefaultImportExclusions[] = {
    "objectcategory",
    "objectsid",
    "sidhistory",
    "objectguid",
    "distinguishedname",
    "whencreated",
    "whenchanged",
    "usncreated",
    "usnchanged",
    "dscorepropagationdata",
    "subrefs",
    "repsto",
    "repsfrom",
    "repluptodatevector",
    "msds-cached-membership",
    "msds-cached-membership-time-stamp",
    "lastlogontimestamp",
    "createtimestamp",
    "modifytimestamp",
    "logonhours",
};

// The exclusion set from an -importexclattr value: names separated by ";",
// "_name" drops the default names, "name-" imports a default name.
std::set<std::string> BuildExclusionSet(std::string_view value);

// What the directory's schema says, as far as it was read.
struct SchemaSets {
    std::set<std::string> dnAttributes; // DN-syntax attributes, lower case
    std::set<std::string> attributes;   // every attribute
    std::set<std::string> singleValued;
    std::set<std::string> classes;
    bool checkActive = false; // attributes and classes were read
};

struct ImportOptions {
    bool add = false;   // an add run (else an update)
    bool pass1 = false; // adds without DN-syntax attributes
    bool pass2 = false; // updates of the DN-syntax attributes only
};

struct ImportSelection {
    std::vector<std::string> columns; // header columns to import, in header order
    std::vector<Note> notes;          // the log lines of the choice
};

// Which header columns become actions.  `named` holds the attributes that
// attribute actions already handle.
ImportSelection SelectImportColumns(const std::vector<std::string>& headerFields,
                                    const std::vector<std::string>& named,
                                    const std::set<std::string>& excluded, const SchemaSets& schema,
                                    const ImportOptions& options);

// Adds the actions of the imported columns to the containers.
void AddImportActions(const std::vector<std::string>& columns, const SchemaSets& schema,
                      const ImportOptions& options, ModContainers& mods, std::vector<Note>& notes);

// -getsecin: every attribute action holding ":{*}" is completed with a value
// typed at a hidden prompt named after its attribute.  `ask` reads one value
// (false when input ended).  The action list is rewritten in place.
bool ProcessGetInputAttribs(std::vector<std::string>& actions, std::string_view delim,
                            const std::function<bool(std::string_view, std::string&)>& ask);

// The naming contexts DN replacement tokens stand for.
struct NamingContexts {
    std::string config, schema, defaultNC, rootNC;
};

// DN replacement between directories: (find, replacement) pairs tried in
// descending order of their text, the first whose find text occurs in a
// value (without regard to case) replacing its first occurrence.
class DNReplacer {
  public:
    DNReplacer() = default;
    // From an -replacedn value (pairs separated by ";", find and replacement
    // by `delim`); "" and "_all" stand for every special token.
    DNReplacer(std::string_view value, std::string_view delim, const NamingContexts& contexts);

    bool Active() const { return active_; }
    std::string Apply(std::string_view value) const;
    const std::vector<std::pair<std::string, std::string>>& Pairs() const { return pairs_; }

  private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    bool active_ = false;
};
