#include "Import.h"

#include "pellixstrings.h"

#include <algorithm>

std::set<std::string> BuildExclusionSet(std::string_view value) {
    std::set<std::string> set(std::begin(kDefaultImportExclusions),
                              std::end(kDefaultImportExclusions));
    TokenVector tokens;
    GetTokens(std::string(value), ";", tokens);
    for (std::string token : tokens) {
        token = StrToLower(token);
        if (token.empty()) continue;
        if (token.front() == '_') {
            // Only what is named: the defaults are off for this run.
            for (auto name : kDefaultImportExclusions)
                set.erase(std::string(name));
            token.erase(0, 1);
            if (!token.empty()) set.insert(token);
        } else if (token.back() == '-') {
            token.pop_back();
            set.erase(token);
        } else {
            set.insert(token);
        }
    }
    return set;
}

bool ProcessGetInputAttribs(std::vector<std::string>& actions, std::string_view delim,
                            const std::function<bool(std::string_view, std::string&)>& ask) {
    const std::string marker = std::string(delim) + "{*}";
    for (auto& action : actions) {
        const std::size_t at = action.find(marker);
        if (at == std::string::npos) continue;
        const std::string attribute = action.substr(0, action.find(delim));
        std::string value;
        if (!ask(attribute, value)) return false;
        action.replace(at + delim.size(), 3, value);
    }
    return true;
}

namespace {

Note LogNote(std::string text) {
    return {Channel::Log, std::move(text)};
}

} // namespace

ImportSelection SelectImportColumns(const std::vector<std::string>& headerFields,
                                    const std::vector<std::string>& named,
                                    const std::set<std::string>& excluded, const SchemaSets& schema,
                                    const ImportOptions& options) {
    ImportSelection out;
    out.notes.push_back(LogNote("Import Mode"));
    std::set<std::string> handled;
    for (const auto& n : named)
        handled.insert(StrToLower(n));
    for (const auto& column : headerFields) {
        if (column.empty() || column == "dn") continue;
        const std::string name = BareName(column);
        out.notes.push_back(LogNote("attribute comparision value= - " + name));
        if (excluded.contains(name)) {
            out.notes.push_back(LogNote("Skipping excluded attribute - " + column));
        } else if (schema.checkActive && !schema.attributes.contains(name)) {
            out.notes.push_back(LogNote("Skipping non-existent attribute - " + column));
        } else if (!options.add && options.pass2 && !schema.dnAttributes.contains(name)) {
            out.notes.push_back(LogNote("Import Pass 2 : Skipping non-DN  attribute - " + column));
        } else if (options.add && options.pass1 && schema.dnAttributes.contains(name)) {
            out.notes.push_back(LogNote("Skipping linked attribute - " + column));
        } else if (!handled.contains(name)) {
            out.columns.push_back(column);
        }
    }
    out.notes.push_back({Channel::Debug, "\nDEBUG: Importing these additional Attribs:"});
    out.notes.push_back(LogNote("Importing these additional Attribs:"));
    for (const auto& c : out.columns) {
        out.notes.push_back({Channel::Debug, "DEBUG:    " + c});
        out.notes.push_back(LogNote("    " + c));
    }
    return out;
}

void AddImportActions(const std::vector<std::string>& columns, const SchemaSets& schema,
                      const ImportOptions& options, ModContainers& mods, std::vector<Note>& notes) {
    // Typed columns: the kind of value an attribute holds decides its
    // encoding, a "kind##" column names it.
    struct Typed {
        std::string_view name;
        std::string_view prefix;
        std::string_view label;
    };
    static constexpr Typed kTyped[] = {
        {"schemaidguid", "guid##", "GUID import"},
        {"attributesecurityguid", "guid##", "GUID import"},
        {"omobjectclass", "bin##", "BIN import"},
        {"ntsecuritydescriptor", "sd##", "SD import"},
        {"msds-groupmsamembership", "sd##", "SD import"},
    };
    for (const auto& column : columns) {
        const std::string value = "{{" + column + "}}";
        std::string attribute;
        std::string label;
        if (column.find("##") != std::string::npos) {
            attribute = column;
            label = "Generic Bin import";
        }
        for (const auto& t : kTyped) {
            if (column == t.name) {
                attribute = std::string(t.prefix) + column;
                label = t.label;
            }
        }
        mods.named.push_back(BareName(column));
        if (!attribute.empty()) {
            notes.push_back(LogNote(column + " - " + label));
            if (options.add)
                mods.deferredAdd[attribute].push_back(value);
            else
                mods.deferredReplace[attribute] = value;
            continue;
        }
        if (options.add) {
            mods.add[column].push_back(value);
            continue;
        }
        mods.add.erase(column);
        if (schema.singleValued.contains(column)) {
            mods.replace[column] = value;
        } else if (schema.checkActive) {
            // A multi-valued attribute gains the row's values and keeps its own.
            mods.add[column].push_back(value);
        } else {
            // Without the schema the kind of attribute is unknown: the row's
            // values replace the attribute's, which is right for both kinds
            // when the row comes from an export of the whole object.
            mods.replaceAll[column] = {value};
        }
    }
}

namespace {

struct Token {
    std::string_view name;
    std::string_view find;
    std::string_view prefix;
    std::string NamingContexts::*context;
};

const Token kTokens[] = {
    {"_config", "<CONFIG>", "", &NamingContexts::config},
    {"_schema", "<SCHEMA>", "", &NamingContexts::schema},
    {"_default", "<DEFAULTNC>", "", &NamingContexts::defaultNC},
    {"_root", "<ROOTNC>", "", &NamingContexts::rootNC},
    {"_sites", "<SITES>", "CN=Sites,", &NamingContexts::config},
    {"_subnets", "<SUBNETS>", "CN=Subnets,CN=Sites,", &NamingContexts::config},
    {"_system", "<SYSTEM>", "CN=System,", &NamingContexts::defaultNC},
    {"_exch", "<EXCH>", "CN=Microsoft Exchange,CN=Services,", &NamingContexts::config},
    {"_dcs", "<DCS>", "OU=Domain Controllers,", &NamingContexts::defaultNC},
    {"_fsps", "<FSPS>", "CN=ForeignSecurityPrincipals,", &NamingContexts::defaultNC},
    {"_msa", "<MSA>", "CN=Managed Service Accounts,", &NamingContexts::defaultNC},
    {"_psc", "<PSC>", "CN=Password Settings Container,CN=System,", &NamingContexts::defaultNC},
    {"_gpo", "<GPO>", "CN=Policies,CN=System,", &NamingContexts::defaultNC},
    {"_services", "<SERVICES>", "CN=Services,", &NamingContexts::config},
};

} // namespace

DNReplacer::DNReplacer(std::string_view value, std::string_view delim,
                       const NamingContexts& contexts)
    : active_(true) {
    const std::string separator = delim.empty() ? ":" : std::string(delim);
    std::string text(value);
    if (text.empty() || StrToLower(text) == "_all") {
        text.clear();
        for (const auto& t : kTokens)
            text += std::string(text.empty() ? "" : ";") + std::string(t.name);
    }
    TokenVector items;
    GetTokens(text, ";", items);
    bool rdnOnly = false;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const auto& item : items) {
        if (item.empty()) continue;
        const std::string lower = StrToLower(item);
        if (lower == "_rdnonly") {
            rdnOnly = true;
            continue;
        }
        if (lower == "_all") {
            for (const auto& t : kTokens)
                pairs.emplace_back(std::string(t.find),
                                   std::string(t.prefix) + contexts.*(t.context));
            continue;
        }
        const auto token = std::find_if(std::begin(kTokens), std::end(kTokens),
                                        [&](const Token& t) { return t.name == lower; });
        if (token != std::end(kTokens)) {
            pairs.emplace_back(std::string(token->find),
                               std::string(token->prefix) + contexts.*(token->context));
            continue;
        }
        const std::size_t at = item.find(separator);
        if (at == std::string::npos)
            pairs.emplace_back(item, "");
        else
            pairs.emplace_back(item.substr(0, at), item.substr(at + separator.size()));
    }
    // Descending order of "find:replacement": a find text that extends
    // another is tried before it.
    std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
        return a.first + ":" + a.second > b.first + ":" + b.second;
    });
    if (rdnOnly) pairs.insert(pairs.begin(), {"___RDNONLY", ""});
    pairs_ = std::move(pairs);
}

std::string DNReplacer::Apply(std::string_view value) const {
    std::string out(value);
    if (!active_) return out;
    const std::string lower = StrToLower(out);
    for (const auto& [find, replacement] : pairs_) {
        if (find.empty()) continue;
        const std::size_t at = lower.find(StrToLower(find));
        if (at == std::string::npos) continue;
        out.replace(at, find.size(), replacement);
        break;
    }
    return out;
}
