#include "DNUtils.h"

#include "Diag.h"
#include "LdapPtr.h"
#include "pellixstrings.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {

constexpr std::string_view kExtendedPrefixes[] = {"GUID=", "SID=", "WKGUID="};

std::string_view TrimComponent(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (text.size() >= 2 && text.back() == ' ' && text[text.size() - 2] != '\\')
        text.remove_suffix(1);
    return text;
}

// A DN cut into component views without judging its syntax.  Leading
// extended forms ("<GUID=...>;") come first; the rest is cut at commas that
// are neither escaped nor inside double quotes.  `extendedOk` is false when a
// leading "<...>" is not one of the extended forms or is not followed by ";".
struct DNCut {
    std::vector<std::string_view> parts;
    std::size_t extended = 0; // leading parts that are extended forms
    std::string_view rest;    // the text after them
    bool extendedOk = true;
};

void SplitDN(std::string_view dn, DNCut& cut) {
    cut.parts.clear();
    cut.extended = 0;
    cut.extendedOk = true;
    std::size_t pos = 0;
    while (pos < dn.size() && dn[pos] == '<') {
        const auto close = dn.find('>', pos);
        if (close == std::string_view::npos) {
            cut.extendedOk = false;
            break;
        }
        const std::string_view inner = dn.substr(pos + 1, close - pos - 1);
        const bool known = std::ranges::any_of(kExtendedPrefixes, [inner](std::string_view prefix) {
            return IStartsWith(inner, prefix);
        });
        if (!known) {
            cut.extendedOk = false;
            break;
        }
        cut.parts.push_back(dn.substr(pos, close - pos + 1));
        ++cut.extended;
        pos = close + 1;
        if (pos < dn.size() && dn[pos] == ';') {
            ++pos;
        } else if (pos < dn.size()) {
            cut.extendedOk = false;
            break;
        }
    }
    cut.rest = dn.substr(pos);
    if (cut.rest.empty()) return;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i < cut.rest.size(); ++i) {
        const char c = cut.rest[i];
        if (c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            cut.parts.push_back(TrimComponent(cut.rest.substr(start, i - start)));
            start = i + 1;
        }
    }
    cut.parts.push_back(TrimComponent(cut.rest.substr(start)));
}

std::string ValueOf(std::string_view component) {
    const auto eq = component.find('=');
    return eq == std::string_view::npos ? std::string(component)
                                        : std::string(component.substr(eq + 1));
}

// Hierarchical sort key: components last to first joined with "//", escaped
// commas unescaped, lower-cased.
std::string HierarchyKey(std::string_view dn, DNCut& cut) {
    SplitDN(dn, cut);
    if (!cut.extendedOk) {
        cut.parts.assign(1, dn);
    }
    std::string key;
    key.reserve(dn.size() + cut.parts.size() * 2);
    for (auto it = cut.parts.rbegin(); it != cut.parts.rend(); ++it) {
        if (it != cut.parts.rbegin()) key += "//";
        const std::string_view part = *it;
        for (std::size_t i = 0; i < part.size(); ++i) {
            char c = part[i];
            if (c == '\\' && i + 1 < part.size() && part[i + 1] == ',') continue;
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            key += c;
        }
    }
    return key;
}

std::vector<std::uint32_t> OrderByKeys(std::vector<std::string>& keys) {
    // Large lists share long key prefixes ("dc=example//dc=corp//ou=..."):
    // skip what every key has in common and compare the next eight bytes as
    // one number first.  Ties fall back to the rest of the key and then to
    // the input position, which keeps equal keys in input order.
    std::size_t common = keys.empty() ? 0 : keys.front().size();
    for (const auto& k : keys) {
        const std::size_t n = std::min(common, k.size());
        common = static_cast<std::size_t>(
            std::mismatch(k.begin(), k.begin() + static_cast<long>(n), keys.front().begin()).first -
            k.begin());
    }
    struct Item {
        std::uint64_t head;
        std::uint32_t index;
    };
    std::vector<Item> order(keys.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::uint64_t head = 0;
        for (std::size_t b = 0; b < 8; ++b) {
            const std::size_t at = common + b;
            head =
                (head << 8) | (at < keys[i].size() ? static_cast<unsigned char>(keys[i][at]) : 0u);
        }
        order[i] = {head, static_cast<std::uint32_t>(i)};
    }
    const std::size_t tail = common + 8;
    std::sort(order.begin(), order.end(), [&keys, tail](const Item& a, const Item& b) {
        if (a.head != b.head) return a.head < b.head;
        const std::string& ka = keys[a.index];
        const std::string& kb = keys[b.index];
        const std::string_view ra = ka.size() > tail ? std::string_view(ka).substr(tail) : "";
        const std::string_view rb = kb.size() > tail ? std::string_view(kb).substr(tail) : "";
        if (const int c = ra.compare(rb); c != 0) return c < 0;
        return a.index < b.index;
    });
    keys.clear();
    keys.shrink_to_fit();
    std::vector<std::uint32_t> indexes;
    indexes.reserve(order.size());
    for (const Item& item : order)
        indexes.push_back(item.index);
    return indexes;
}

// Splits `dn` into `cut` and has libldap confirm the cut.  The parser has the
// last word: when it reads the components after the extended forms
// differently, they are returned in `parserParts` (extended forms first).
enum class CutCheck { Invalid, Agrees, ParserDiffers };

CutCheck CheckedSplitDN(std::string_view dn, DNCut& cut, std::vector<std::string>& parserParts) {
    SplitDN(dn, cut);
    if (!cut.extendedOk) return CutCheck::Invalid;
    if (cut.rest.empty()) return CutCheck::Agrees;
    LDAPDN raw = nullptr;
    if (ldap_str2dn(std::string(cut.rest).c_str(), &raw, LDAP_DN_FORMAT_LDAPV3) != LDAP_SUCCESS)
        return CutCheck::Invalid;
    DnPtr parsed(raw);
    std::size_t count = 0;
    while (parsed && parsed.get()[count] != nullptr)
        ++count;
    if (count == cut.parts.size() - cut.extended) return CutCheck::Agrees;
    parserParts.assign(cut.parts.begin(), cut.parts.begin() + static_cast<long>(cut.extended));
    for (std::size_t i = 0; i < count; ++i) {
        char* str = nullptr;
        ldap_rdn2str(parsed.get()[i], &str, LDAP_DN_FORMAT_LDAPV3 | LDAP_DN_PRETTY);
        LdapStringPtr owned(str);
        parserParts.emplace_back(owned ? owned.get() : "");
    }
    return CutCheck::ParserDiffers;
}

} // namespace

bool ExplodeDN(std::string_view dn, std::vector<std::string>& components) {
    components.clear();
    DNCut cut;
    switch (CheckedSplitDN(dn, cut, components)) {
    case CutCheck::Invalid:
        return false; // components were cleared above and are left alone
    case CutCheck::ParserDiffers:
        return true;
    case CutCheck::Agrees:
        break;
    }
    components.assign(cut.parts.begin(), cut.parts.end());
    return true;
}

int DNBreakout(std::string_view dnIn, bool typeFree, DNBreakoutMap& map) {
    KELVO_TRACE_SCOPE();
    for (auto key : kDNBreakoutKeys)
        map[std::string(key)].clear();
    diag::TraceOut("DEBUG: str=" + std::string(dnIn) + "\n");
    if (dnIn.empty()) return 0;

    // <GUID=...>;<SID=...>;DN becomes the plain DN.
    std::string dn(dnIn);
    for (std::string_view marker : {"<GUID=", "<SID="}) {
        const auto at = dn.find(marker);
        const auto end = dn.find(">;");
        if (at != std::string::npos && end != std::string::npos && end > at) dn.erase(0, end + 2);
    }

    std::vector<std::string> comps;
    if (!ExplodeDN(dn, comps) || comps.empty()) {
        diag::Out("ERROR:\nERROR: ldap_explode_dnA failed - " + dn + "\nERROR:\n");
        return kExitDnExplodeFailure;
    }
    if (typeFree)
        for (auto& c : comps)
            if (!c.starts_with("<")) c = ValueOf(c);

    map["EXPLODED_DN"] = JoinTokens(";", comps);
    map["DN"] = dn;
    const std::string& rdn = comps[0];
    map["RDN"] = rdn;
    map["PARENTRDN"] = comps.size() > 1 ? comps[1] : "";

    std::string parent = StrReplaceFirst(dn, rdn + ",", "", true);
    if (parent == rdn) parent.clear();
    map["PARENT"] = parent;
    if (!parent.empty()) {
        const std::string& parentRdn = map["PARENTRDN"];
        std::string grand = StrReplaceFirst(parent, parentRdn + ",", "", true);
        if (grand == parentRdn) grand.clear();
        map["GRANDPARENT"] = grand;
    }

    // Components that hold "dc=" (any case) make up the domain at the end.
    std::vector<bool> isDc;
    isDc.reserve(comps.size());
    for (const auto& c : comps)
        isDc.push_back(IContains(c, "dc="));

    std::string domain;
    for (std::size_t i = comps.size(); i-- > 0;) {
        if (!isDc[i]) break;
        domain = domain.empty() ? comps[i] : comps[i] + "," + domain;
    }
    map["DOMAIN"] = domain;
    map["DOMAIN_DNS"] = domain.empty() ? "" : ConvertDNToDomain(domain);
    map["NDC"] = domain.empty() ? dn : StrReplaceFirst(dn, "," + domain, "", true);

    std::string dns;
    std::string path;
    for (std::size_t i = comps.size(); i-- > 0;) {
        const std::string& c = comps[i];
        if (isDc[i]) {
            dns = (c.size() > 3 ? c.substr(3) : "") + "." + dns;
        } else {
            if (!path.empty()) path += '/';
            path += ValueOf(c);
        }
    }
    if (!dns.empty()) dns.pop_back();
    const std::string canonical = dns + "/" + path;
    map["CANONICAL_NAME"] = canonical;
    map["PARENT_CANONICAL_NAME"] = canonical.substr(0, canonical.rfind('/'));

    TokenVector nameParts;
    GetXTokens(rdn, "=", nameParts, 2);
    map["NAME"] = nameParts[1];

    if (diag::Trace()) {
        const std::pair<const char*, const char*> labels[] = {
            {"DEBUG: DN         :", "DN"},
            {"DEBUG: RDN        :", "RDN"},
            {"DEBUG: PARENTDN   :", nullptr},
            {"DEBUG: PARENT     :", "PARENT"},
            {"DEBUG: GRANDPARENT:", "GRANDPARENT"},
            {"DEBUG: DOMAIN     :", "DOMAIN"},
            {"DEBUG: DOMAIN_DNS :", "DOMAIN_DNS"},
            {"DEBUG: NDC        :", "NDC"},
            {"DEBUG: NAME       :", "NAME"},
            {"DEBUG: EXPLODED_DN:", "EXPLODED_DN"},
            {"DEBUG: CANONICAL_NAME       :", "CANONICAL_NAME"},
            {"DEBUG: PARENT_CANONICAL_NAME:", "PARENT_CANONICAL_NAME"},
        };
        std::string text;
        for (const auto& [label, key] : labels)
            text += std::string(label) + (key ? map[key] : "") + "\n";
        diag::Out(text);
    }
    return 0;
}

std::string ConvertDNToDomain(std::string_view dn) {
    const std::string text = StrToLower("," + std::string(dn) + ",DC=");
    if (text.find("cn=") != std::string::npos) return std::string(kNotDomainDNFormat);
    constexpr std::string_view kCut = ",dc=";
    std::string out;
    std::size_t pos = 0;
    for (auto at = text.find(kCut, pos); at != std::string::npos; at = text.find(kCut, pos)) {
        if (at > pos) out += text.substr(pos, at - pos) + ".";
        pos = at + kCut.size();
    }
    if (!out.empty()) out.pop_back();
    return out;
}

std::vector<std::uint32_t> DNSortOrder(std::string_view modeIn, std::size_t count,
                                       const std::function<std::string_view(std::size_t)>& dnAt) {
    KELVO_TRACE_SCOPE();
    const std::string mode = StrToLower(modeIn);
    std::vector<std::uint32_t> order;
    if (mode == "csalpha") {
        order.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            order[i] = static_cast<std::uint32_t>(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return dnAt(a) < dnAt(b); });
        return order;
    }
    std::vector<std::string> keys;
    keys.reserve(count);
    if (mode == "cialpha") {
        for (std::size_t i = 0; i < count; ++i)
            keys.push_back(StrToLower(dnAt(i)));
        return OrderByKeys(keys);
    }
    DNCut cut;
    for (std::size_t i = 0; i < count; ++i)
        keys.push_back(HierarchyKey(dnAt(i), cut));
    order = OrderByKeys(keys);
    if (mode == "reverse") std::reverse(order.begin(), order.end());
    return order;
}

bool SortDNs(std::string_view mode, std::vector<std::string>& dns) {
    const auto order =
        DNSortOrder(mode, dns.size(), [&](std::size_t i) { return std::string_view(dns[i]); });
    std::vector<std::string> sorted;
    sorted.reserve(dns.size());
    for (std::uint32_t i : order)
        sorted.push_back(std::move(dns[i]));
    dns = std::move(sorted);
    return true;
}

bool IsPlainDN(std::string_view dn) {
    // type=value pairs joined by commas, where the type is a name or a
    // numeric OID and the value has no character that would need escaping.
    // Every such text is a valid DN; anything else is left to the parser.
    if (dn.empty()) return false;
    std::size_t pos = 0;
    while (pos <= dn.size()) {
        const std::size_t comma = std::min(dn.find(',', pos), dn.size());
        const std::string_view comp = dn.substr(pos, comma - pos);
        const std::size_t eq = comp.find('=');
        if (eq == std::string_view::npos || eq == 0 || eq + 1 == comp.size()) return false;
        const std::string_view type = comp.substr(0, eq);
        const std::string_view value = comp.substr(eq + 1);
        const auto isAlpha = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        if (isAlpha(type.front())) {
            for (char c : type)
                if (!isAlpha(c) && !isDigit(c) && c != '-') return false;
        } else {
            bool lastDot = true;
            for (char c : type) {
                if (c == '.' ? lastDot : !isDigit(c)) return false;
                lastDot = c == '.';
            }
            if (lastDot) return false;
        }
        if (value.front() == ' ' || value.front() == '#' || value.back() == ' ') return false;
        for (char c : value) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u >= 0x7F) return false;
            switch (c) {
            case '"':
            case '+':
            case ';':
            case '<':
            case '>':
            case '\\':
            case '=':
                return false;
            default:
                break;
            }
        }
        pos = comma + 1;
        if (comma == dn.size()) break;
    }
    return true;
}

bool DNCheck(std::string_view dnIn) {
    KELVO_TRACE_SCOPE();
    const bool debug = diag::Debug();
    if (!debug && IsPlainDN(dnIn)) return true;
    const std::string dn = StripQuotes(dnIn);
    if (debug) diag::Out("DEBUG:      DNCheck - DN=" + dn + "\n");
    // Checked on views of the text; the parser only has to accept it.  Called
    // once per input line, so nothing is copied unless debugging.
    static thread_local DNCut cut;
    std::vector<std::string> parserParts;
    const auto valid = [debug](std::string_view c) {
        if (debug) diag::Out("DEBUG:        DNCheck - " + std::string(c) + "\n");
        return !c.empty() && c.find('=') != std::string_view::npos;
    };
    switch (CheckedSplitDN(dn, cut, parserParts)) {
    case CutCheck::Invalid:
        return false;
    case CutCheck::ParserDiffers:
        return std::all_of(parserParts.begin(), parserParts.end(), valid);
    case CutCheck::Agrees:
        break;
    }
    return std::all_of(cut.parts.begin(), cut.parts.end(), valid);
}

std::string DNDomainPart(std::string_view dn) {
    const auto at = dn.find("DC=");
    return at == std::string_view::npos ? std::string() : std::string(dn.substr(at));
}
