#include "EntryRead.h"

#include "ErrorReport.h"
#include "LdapPtr.h"
#include "pellixstrings.h"

#include <cstdlib>

bool ParseRangeOption(std::string_view attribute, RangeOption& out) {
    const std::string lower = StrToLower(std::string(attribute));
    const std::size_t at = lower.find(";range=");
    if (at == std::string::npos) return false;
    const std::size_t start = at + 7;
    std::size_t end = lower.find(';', start);
    if (end == std::string::npos) end = lower.size();
    const std::string range = lower.substr(start, end - start);
    const std::size_t dash = range.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 >= range.size()) return false;
    const std::string low = range.substr(0, dash);
    const std::string high = range.substr(dash + 1);
    if (low.find_first_not_of("0123456789") != std::string::npos || low.size() > 9) return false;
    if (high != "*" &&
        (high.find_first_not_of("0123456789") != std::string::npos || high.size() > 9))
        return false;
    out.name = std::string(attribute.substr(0, at)) + std::string(attribute.substr(end));
    out.low = std::strtoul(low.c_str(), nullptr, 10);
    out.high = high;
    return true;
}

namespace {

struct Pending {
    std::string name;   // attribute name without the range
    unsigned long next; // first value index of the next part
};

// One base search; appends what it returns and lists ranges still to read.
// A read of the next part of a ranged attribute (`part`) must return that
// part: a server that returns nothing for it, or a part that does not move
// forward, would otherwise leave values out without a word.
int ReadOnce(LDAP* ld, const std::string& dn, const std::vector<std::string>& attributes,
             std::span<LDAPControl* const> controls, EntryReadResult& out,
             std::vector<Pending>& more, const Pending* part) {
    const bool first = part == nullptr;
    bool partFound = false;
    std::vector<char*> attrs;
    for (const auto& a : attributes)
        attrs.push_back(const_cast<char*>(a.c_str()));
    attrs.push_back(nullptr);
    std::vector<LDAPControl*> server(controls.begin(), controls.end());
    server.push_back(nullptr);
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(ld, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)",
                                     attrs.data(), 0, server.size() > 1 ? server.data() : nullptr,
                                     nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr message(raw);
    if (rc == LDAP_NO_SUCH_OBJECT && first) return LDAP_SUCCESS;
    if (rc != LDAP_SUCCESS) {
        char* text = nullptr;
        if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) == LDAP_OPT_SUCCESS && text) {
            out.error = text;
            ldap_memfree(text);
        }
        return rc;
    }
    LDAPMessage* entry = ldap_first_entry(ld, message.get());
    if (entry == nullptr) return first ? LDAP_SUCCESS : LDAP_NO_SUCH_OBJECT;
    if (first) {
        out.found = true;
        LdapStringPtr name(ldap_get_dn(ld, entry));
        if (name) out.dn = name.get();
    }
    BerElement* rawBer = nullptr;
    for (char* a = ldap_first_attribute(ld, entry, &rawBer); a != nullptr;
         a = ldap_next_attribute(ld, entry, rawBer)) {
        LdapStringPtr attribute(a);
        std::vector<std::string> values = EntryValues(ld, entry, a);
        RangeOption range;
        std::string name = a;
        if (ParseRangeOption(a, range)) {
            name = range.name;
            const unsigned long next =
                range.high == "*" ? 0 : std::strtoul(range.high.c_str(), nullptr, 10) + 1;
            if (part != nullptr) {
                if (StrToLower(name) != StrToLower(part->name) || range.low != part->next ||
                    (range.high != "*" && next <= part->next)) {
                    out.error = "the server returned " + std::string(a) + " for " + part->name +
                                ";range=" + std::to_string(part->next) + "-*";
                    return LDAP_PROTOCOL_ERROR;
                }
                partFound = true;
            }
            if (range.high != "*") more.push_back({name, next});
        }
        ReadAttribute& slot = out.attributes[StrToLower(name)];
        if (slot.name.empty()) slot.name = name;
        for (auto& v : values)
            slot.values.push_back(std::move(v));
    }
    BerElementPtr ber(rawBer);
    if (part != nullptr && !partFound) {
        out.error = "the server returned no values for " + part->name +
                    ";range=" + std::to_string(part->next) + "-*";
        return LDAP_PROTOCOL_ERROR;
    }
    return LDAP_SUCCESS;
}

} // namespace

EntryReadResult ReadEntry(LDAP* ld, std::string_view dn, const std::vector<std::string>& attributes,
                          std::span<LDAPControl* const> controls, int maxRangeReads) {
    EntryReadResult out;
    const std::string base(dn);
    std::vector<Pending> more;
    int rc = ReadOnce(ld, base, attributes, controls, out, more, nullptr);
    int reads = 0;
    while (rc == LDAP_SUCCESS && out.found && !more.empty()) {
        if (++reads > maxRangeReads) {
            rc = LDAP_SIZELIMIT_EXCEEDED;
            out.error = "too many ranged reads of " + more.front().name;
            break;
        }
        Pending p = more.back();
        more.pop_back();
        rc = ReadOnce(ld, base, {p.name + ";range=" + std::to_string(p.next) + "-*"}, controls, out,
                      more, &p);
    }
    if (rc != LDAP_SUCCESS) out.code = ShownLdapCode(rc);
    return out;
}
