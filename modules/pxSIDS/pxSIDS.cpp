#include "pxSIDS.h"

#include "Diag.h"
#include "SIDS.h"
#include "pellixstrings.h"

#include <algorithm>
#include <set>
#include <utility>

namespace pxsids {

namespace {

constexpr std::string_view kSidWrapper = "{{SID:";
constexpr std::string_view kLdsSidWrapper = "{{LDSSID:";
constexpr std::string_view kWrapperEnd = "}}";
constexpr std::string_view kDomainAccountPrefix = "S-1-5-21-";
constexpr std::string_view kWellKnownContainer = "CN=WellKnown Security Principals,";
// Names per OR filter: keeps each request well inside what servers accept.
constexpr std::size_t kBulkChunk = 200;
// LDAP noSuchObject: a base that is not there (no well-known principals
// container on a plain LDAP server) holds no such name; it is no failure.
constexpr int kNoSuchObject = 32;

void Debug(std::string_view text) {
    if (diag::Debug() || diag::Trace()) diag::DebugOut(std::string(text) + "\n");
}

// Error text of a failed search, always beginning "ERROR:".
std::string AsError(int rc, std::string_view error) {
    if (error.starts_with("ERROR:")) return std::string(error);
    if (error.empty()) return "ERROR: (" + std::to_string(rc) + ") search failed";
    return "ERROR: " + std::string(error);
}

bool IsSidText(std::string_view text) {
    std::vector<std::uint8_t> bin;
    return StringSidToBin(text, bin);
}

// First entry with a usable SID; directories may return entries without one
// or with garbage in it.
const PrincipalEntry* FirstWithSid(const std::vector<PrincipalEntry>& entries) {
    for (const auto& e : entries) {
        if (IsSidText(e.sid)) return &e;
        Debug("DEBUG: Entry without a usable objectSid skipped: " + e.dn);
    }
    return nullptr;
}

bool IsAuthority(std::string_view domain) {
    return IEquals(domain, "BUILTIN") || IEquals(domain, "NT AUTHORITY");
}

// The name inside "<open>name}}" when `key` (upper-cased) is such a wrapper.
std::string Unwrap(std::string_view key, std::string_view open) {
    const std::string upper = StrToUpper(key);
    if (upper.starts_with(open) && upper.ends_with(kWrapperEnd) &&
        key.size() >= open.size() + kWrapperEnd.size()) {
        std::string name(key.substr(open.size(), key.size() - open.size() - kWrapperEnd.size()));
        Debug("DEBUG: Stripped " + std::string(key) + " down to " + name);
        return name;
    }
    return std::string(key);
}

std::string TermKey(std::string_view base, std::string_view attribute, std::string_view value) {
    return StrToUpper(base) + "\n" + StrToLower(attribute) + "=" + StrToUpper(value);
}

} // namespace

struct NameToSid::Outcome {
    enum class State { Found, NotFound, Failed } state = State::NotFound;
    std::string text; // SID, or the error text of a failed search
};

int NameToSid::CountedSearch(std::string_view base, std::string_view filter, bool baseOnly,
                             std::vector<PrincipalEntry>& out, std::string& error) {
    ++searches_;
    Debug("DEBUG: Searching " + std::string(base) + " for " + std::string(filter));
    return dir_.Search(base, filter, baseOnly, out, error);
}

const std::vector<PrincipalDirectory::Partition>& NameToSid::KnownPartitions() {
    if (!partitions_) partitions_ = dir_.Partitions();
    return *partitions_;
}

const PrincipalDirectory::Partition* NameToSid::FindDomain(std::string_view domain) {
    if (domain.empty()) return nullptr;
    for (const auto& p : KnownPartitions()) {
        if ((!p.netbiosName.empty() && IEquals(p.netbiosName, domain)) ||
            (!p.dnsRoot.empty() && IEquals(p.dnsRoot, domain)))
            return &p;
    }
    return nullptr;
}

NameToSid::Outcome NameToSid::SearchTerm(std::string_view base, std::string_view attribute,
                                         std::string_view value) {
    Outcome result;
    if (base.empty() || value.empty()) return result;
    const std::string key = TermKey(base, attribute, value);
    if (const auto it = askedTerms_.find(key); it != askedTerms_.end()) {
        Debug("DEBUG: Already asked " + std::string(base) + " for " + std::string(attribute) + "=" +
              std::string(value));
        if (!it->second.empty()) {
            result.state = Outcome::State::Found;
            result.text = it->second;
        }
        return result;
    }
    const std::string filter = "(" + std::string(attribute) + "=" + EscapeFilterValue(value) + ")";
    std::vector<PrincipalEntry> entries;
    std::string error;
    const int rc = CountedSearch(base, filter, false, entries, error);
    if (rc == kNoSuchObject) {
        entries.clear();
    } else if (rc != 0) {
        result.state = Outcome::State::Failed;
        result.text = AsError(rc, error);
        return result;
    }
    if (const auto* entry = FirstWithSid(entries)) {
        result.state = Outcome::State::Found;
        result.text = entry->sid;
    }
    askedTerms_[key] = result.text; // failures (above) are not remembered
    return result;
}

NameToSid::Outcome NameToSid::ResolveBare(std::string_view name) {
    Outcome result = SearchTerm(dir_.DefaultNamingContext(), "sAMAccountName", name);
    if (result.state != Outcome::State::NotFound) return result;
    const std::string config = dir_.ConfigurationNamingContext();
    if (!config.empty()) {
        result = SearchTerm(std::string(kWellKnownContainer) + config, "name", name);
        if (result.state != Outcome::State::NotFound) return result;
    }
    if (const auto sid = WellKnownNameToSid(name)) {
        result.state = Outcome::State::Found;
        result.text = std::string(*sid);
    }
    return result;
}

NameToSid::Outcome NameToSid::ResolveUpn(std::string_view name) {
    // The domain whose DNS name is the suffix first, then the default naming
    // context, then the rest of the forest.
    std::vector<std::string> bases;
    const auto addBase = [&bases](const std::string& dn) {
        if (dn.empty()) return;
        if (std::none_of(bases.begin(), bases.end(),
                         [&dn](const std::string& b) { return IEquals(b, dn); }))
            bases.push_back(dn);
    };
    const std::string_view suffix = name.substr(name.rfind('@') + 1);
    for (const auto& p : KnownPartitions())
        if (IEquals(p.dnsRoot, suffix)) addBase(p.dn);
    addBase(dir_.DefaultNamingContext());
    for (const auto& p : KnownPartitions())
        addBase(p.dn);
    Outcome result;
    for (const auto& base : bases) {
        result = SearchTerm(base, "userPrincipalName", name);
        if (result.state != Outcome::State::NotFound) return result;
    }
    // The implicit name: account@dns-name-of-its-domain, with no
    // userPrincipalName stored.
    const std::string_view account = name.substr(0, name.rfind('@'));
    for (const auto& p : KnownPartitions()) {
        if (!IEquals(p.dnsRoot, suffix)) continue;
        result = SearchTerm(p.dn, "sAMAccountName", account);
        if (result.state != Outcome::State::NotFound) return result;
    }
    return result;
}

std::string NameToSid::ResolveUncached(std::string_view name) {
    if (name.empty()) return std::string(kNoneMappedText);
    const std::size_t slash = name.find('\\');
    if (slash == std::string_view::npos) {
        const Outcome found = name.find('@') != std::string_view::npos && name.back() != '@'
                                  ? ResolveUpn(name)
                                  : ResolveBare(name);
        return found.state == Outcome::State::NotFound ? std::string(kNoneMappedText) : found.text;
    }

    const std::string_view domain = name.substr(0, slash);
    const std::string_view account = name.substr(slash + 1);
    if (IsAuthority(domain)) {
        if (const auto sid = WellKnownNameToSid(name)) return std::string(*sid);
    } else if (const auto* partition = FindDomain(domain)) {
        const Outcome found = SearchTerm(partition->dn, "sAMAccountName", account);
        if (found.state != Outcome::State::NotFound) return found.text;
    }

    // Unknown domain or unknown name in it: only a well-known or built-in
    // principal may stand without its domain.
    Debug("DEBUG: ERROR_NONE_MAPPED, retrying without domain component...");
    Debug("DEBUG: Stripped off domain component down to " + std::string(account));
    const Outcome found = ResolveBare(account);
    if (found.state == Outcome::State::Failed) return found.text;
    if (found.state == Outcome::State::NotFound || found.text.starts_with(kDomainAccountPrefix))
        return std::string(kNoneMappedText);
    return found.text;
}

std::string NameToSid::NameToSIDStr(std::string_view name) {
    const std::string key = StrToUpper(name);
    if (const auto it = accountCache_.find(key); it != accountCache_.end()) {
        Debug("DEBUG: Cache hit for " + std::string(name) + " - " + it->second);
        return it->second;
    }
    std::string result = ResolveUncached(name);
    Debug("DEBUG: Cache insert for " + std::string(name) + " - " + result);
    accountCache_[key] = result;
    return result;
}

void NameToSid::BulkResolve(const std::map<std::string, std::string>& keyToName,
                            std::map<std::string, std::string>& names) {
    // One equality term of an OR filter and the request keys waiting on it.
    struct Term {
        std::string attribute;
        std::string value;
        std::vector<std::string> keys;
    };
    // Search base -> its terms, deduplicated by attribute and value.
    std::map<std::string, std::map<std::string, Term>> byBase;
    std::map<std::string, std::string> baseText;
    const std::string defaultNC = dir_.DefaultNamingContext();

    for (const auto& [key, name] : keyToName) {
        std::string base;
        std::string attribute = "sAMAccountName";
        std::string value = name;
        const std::size_t slash = name.find('\\');
        if (slash != std::string::npos) {
            const std::string domain = name.substr(0, slash);
            if (IsAuthority(domain)) continue; // the table answers these
            const auto* partition = FindDomain(domain);
            if (partition == nullptr) continue; // left for the single path
            base = partition->dn;
            value = name.substr(slash + 1);
        } else {
            base = defaultNC;
            if (name.find('@') != std::string::npos) attribute = "userPrincipalName";
        }
        if (base.empty() || value.empty()) continue;
        const std::string baseKey = StrToUpper(base);
        baseText.emplace(baseKey, base);
        if (askedTerms_.contains(TermKey(base, attribute, value))) continue;
        auto& term = byBase[baseKey][StrToLower(attribute) + "=" + StrToUpper(value)];
        term.attribute = attribute;
        term.value = value;
        term.keys.push_back(key);
    }

    for (auto& [baseKey, termMap] : byBase) {
        const std::string& base = baseText[baseKey];
        std::vector<Term*> terms;
        for (auto& entry : termMap)
            terms.push_back(&entry.second);
        for (std::size_t start = 0; start < terms.size(); start += kBulkChunk) {
            const std::size_t end = std::min(terms.size(), start + kBulkChunk);
            std::string filter = "(|";
            for (std::size_t i = start; i < end; ++i)
                filter +=
                    "(" + terms[i]->attribute + "=" + EscapeFilterValue(terms[i]->value) + ")";
            filter += ")";
            std::vector<PrincipalEntry> entries;
            std::string error;
            const int rc = CountedSearch(base, filter, false, entries, error);
            if (rc == kNoSuchObject) entries.clear();
            if (rc != 0 && rc != kNoSuchObject) {
                // These names were sent; they are not sent again.
                const std::string text = AsError(rc, error);
                for (std::size_t i = start; i < end; ++i)
                    for (const auto& key : terms[i]->keys) {
                        names[key] = text;
                        accountCache_[StrToUpper(keyToName.at(key))] = text;
                        Debug("DEBUG: Cache insert - " + keyToName.at(key) + " - " + text);
                    }
                continue;
            }
            bool allAttributed = true;
            std::vector<bool> matched(end - start, false);
            for (const auto& entry : entries) {
                if (!IsSidText(entry.sid)) {
                    Debug("DEBUG: Entry without a usable objectSid skipped: " + entry.dn);
                    continue;
                }
                bool attributed = false;
                for (std::size_t i = start; i < end; ++i) {
                    const Term& t = *terms[i];
                    const std::string& stored = IEquals(t.attribute, "userPrincipalName")
                                                    ? entry.userPrincipalName
                                                    : entry.sAMAccountName;
                    if (!IEquals(stored, t.value)) continue;
                    attributed = true;
                    if (matched[i - start]) continue; // the first entry wins
                    matched[i - start] = true;
                    askedTerms_[TermKey(base, t.attribute, t.value)] = entry.sid;
                    for (const auto& key : t.keys) {
                        names[key] = entry.sid;
                        accountCache_[StrToUpper(keyToName.at(key))] = entry.sid;
                        Debug("DEBUG: Cache insert - " + keyToName.at(key) + " - " + entry.sid);
                    }
                }
                if (!attributed) {
                    Debug("DEBUG: Entry matched no name asked for: " + entry.dn);
                    allAttributed = false;
                }
            }
            // A term with no entry is known absent, unless an entry came back
            // that could not be told apart (then the single path asks again).
            if (allAttributed)
                for (std::size_t i = start; i < end; ++i)
                    if (!matched[i - start])
                        askedTerms_[TermKey(base, terms[i]->attribute, terms[i]->value)] = "";
        }
    }
}

void NameToSid::NamesToSIDStrs(std::map<std::string, std::string>& names) {
    std::map<std::string, std::string> open; // request key -> name
    for (auto& [key, value] : names) {
        const std::string name = Unwrap(key, kSidWrapper);
        const auto it = accountCache_.find(StrToUpper(name));
        if (it != accountCache_.end()) {
            Debug("DEBUG: Cache hit for " + name + " - " + it->second);
            value = it->second;
            continue;
        }
        value.clear();
        open.emplace(key, name);
    }
    if (!open.empty()) BulkResolve(open, names);
    for (const auto& [key, name] : open) {
        auto& value = names[key];
        if (value.empty()) value = NameToSIDStr(name);
    }
}

std::string NameToSid::LDSNameToSIDStr(std::string_view spec) {
    const std::string key = StrToUpper(spec);
    if (const auto it = ldsCache_.find(key); it != ldsCache_.end()) {
        Debug("DEBUG: Cache hit for " + std::string(spec) + " - " + it->second);
        return it->second;
    }
    std::string base;
    std::string name;
    const std::size_t slash = spec.find('\\');
    if (slash == std::string_view::npos) {
        base = dir_.DefaultNamingContext();
        name = spec;
    } else {
        const std::string_view prefix = spec.substr(0, slash);
        base = IEquals(prefix, "CONFIG") ? dir_.ConfigurationNamingContext() : std::string(prefix);
        name = spec.substr(slash + 1);
    }
    Debug("DEBUG: strSearchBase = " + base);
    Debug("DEBUG: strSecPrinToResolve = " + name);

    std::string filter;
    if (name.empty()) {
        filter = "(objectclass=*)";
    } else {
        const std::string v = EscapeFilterValue(name);
        filter = "(|(name=" + v + ")(userprincipalname=" + v + ")(samaccountname=" + v + "))";
    }
    std::vector<PrincipalEntry> entries;
    std::string error;
    std::string result;
    const int rc = CountedSearch(base, filter, name.empty(), entries, error);
    if (rc != 0) {
        result = AsError(rc, error);
    } else if (entries.empty()) {
        result = "ERROR: No matching Entries for LDAP://" + base + filter;
    } else if (IsSidText(entries.front().sid)) {
        result = entries.front().sid;
    } else {
        result = "ERROR: No objectSid on " + entries.front().dn;
    }
    Debug("DEBUG: Cache insert for " + std::string(spec) + " - " + result);
    ldsCache_[key] = result;
    return result;
}

void NameToSid::LDSNamesToSIDStrs(std::map<std::string, std::string>& specs) {
    for (auto& [key, value] : specs)
        value = LDSNameToSIDStr(Unwrap(key, kLdsSidWrapper));
}

std::string NameToSid::ResolveSidWrappers(std::string_view text, std::vector<std::string>* errors) {
    struct Wrapper {
        std::size_t pos;
        std::size_t length;
        bool lds;
        std::string name;
    };
    const std::string lower = StrToLower(text);
    const std::string sidOpen = StrToLower(kSidWrapper);
    const std::string ldsOpen = StrToLower(kLdsSidWrapper);
    std::vector<Wrapper> wrappers;
    std::map<std::string, std::string> accounts;
    std::map<std::string, std::string> lds;
    std::size_t at = 0;
    while (at < lower.size()) {
        const std::size_t s = lower.find(sidOpen, at);
        const std::size_t l = lower.find(ldsOpen, at);
        const std::size_t start = std::min(s, l);
        if (start == std::string::npos) break;
        const bool isLds = start == l;
        const std::size_t openLen = isLds ? ldsOpen.size() : sidOpen.size();
        const std::size_t close = lower.find(kWrapperEnd, start + openLen);
        if (close == std::string::npos) break; // unterminated: left as written
        Wrapper w{start, close + kWrapperEnd.size() - start, isLds,
                  std::string(text.substr(start + openLen, close - start - openLen))};
        Debug("DEBUG: ToResolve=" + w.name);
        (isLds ? lds : accounts).emplace(w.name, std::string());
        wrappers.push_back(std::move(w));
        at = close + kWrapperEnd.size();
    }
    if (wrappers.empty()) return std::string(text);

    Debug("DEBUG: Resolving names to SIDs.");
    if (!accounts.empty()) NamesToSIDStrs(accounts);
    if (!lds.empty()) LDSNamesToSIDStrs(lds);

    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    std::set<std::string> reported;
    for (const auto& w : wrappers) {
        out.append(text.substr(copied, w.pos - copied));
        const std::string& resolved = (w.lds ? lds : accounts)[w.name];
        Debug("DEBUG: Resolved: " + w.name + " -> " + resolved);
        out += resolved;
        copied = w.pos + w.length;
        if (errors != nullptr && resolved.starts_with("ERROR:") &&
            reported.insert((w.lds ? "L\n" : "A\n") + w.name).second)
            errors->push_back(resolved);
    }
    out.append(text.substr(copied));
    return out;
}

} // namespace pxsids
