#include "DescriptorReads.h"

#include "Diag.h"
#include "ErrorReport.h"
#include "pellixstrings.h"
#include "Lookups.h"
#include "PagedSearch.h"
#include "Sddl.h"
#include "pellixstrings.h"

#include <algorithm>
#include <sys/time.h>

namespace sec = platform::security;

namespace {

// Server time limit of a descriptor read, in seconds.
constexpr long kSdReadSeconds = 120;

// Lower-case GUID text of a 16-byte binary value; nullopt for any other size.
std::optional<std::string> BinaryGuidText(std::string_view bytes) {
    sec::Guid guid{};
    if (bytes.size() != guid.size()) return std::nullopt;
    std::copy(bytes.begin(), bytes.end(), guid.begin());
    return sec::GuidText(guid);
}

// A GUID in text, "{...}" or bare, any case: lower case without braces;
// nullopt unless it has the 8-4-4-4-12 shape.
std::optional<std::string> GuidTextKey(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (dash ? c != '-' : !hex) return std::nullopt;
    }
    return StrToLower(text);
}

LDAPControl MakeControl(std::string_view oid, berval* value) {
    LDAPControl control{};
    control.ldctl_oid = const_cast<char*>(oid.data());
    control.ldctl_value = value != nullptr ? *value : berval{0, nullptr};
    control.ldctl_iscritical = 1;
    return control;
}

} // namespace

BervalPtr BerIntegerSequence(std::int32_t value) {
    BerEncoderPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber) return nullptr;
    if (ber_printf(ber.get(), "{i}", static_cast<ber_int_t>(value)) == -1) return nullptr;
    berval* raw = nullptr;
    if (ber_flatten(ber.get(), &raw) == -1) return nullptr;
    return BervalPtr(raw);
}

std::string GetSD(LDAP* session, std::string_view dn, std::uint32_t partFlags,
                  std::string_view attribute) {
    KELVO_TRACE_SCOPE();
    const std::string base(dn);
    std::string attr(attribute);
    diag::DebugOut("DEBUG: Reading " + attr + " of " + base + " (parts " +
                   std::to_string(partFlags) + ")\n");

    // The SD flags control is left out when its value cannot be encoded; the
    // server then returns the parts it gives by default.
    const BervalPtr flagsValue = BerIntegerSequence(static_cast<std::int32_t>(partFlags));
    std::vector<LDAPControl> controls;
    if (flagsValue)
        controls.push_back(MakeControl(kOidSdFlags, flagsValue.get()));
    else
        diag::DebugOut("DEBUG: SD flags control not encoded, not sent\n");
    controls.push_back(MakeControl(kOidShowDeleted, nullptr));
    std::vector<LDAPControl*> serverControls;
    for (LDAPControl& c : controls)
        serverControls.push_back(&c);
    serverControls.push_back(nullptr);

    char* attrs[] = {attr.data(), nullptr};
    timeval limit{kSdReadSeconds, 0};
    LDAPMessage* raw = nullptr;
    const int rc =
        ldap_search_ext_s(session, base.c_str(), LDAP_SCOPE_BASE, "(objectclass=*)", attrs, 0,
                          serverControls.data(), nullptr, &limit, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) {
        diag::DebugOut("DEBUG: SD search failed: " + GetLDAPErrorString(rc) + "\n");
        return "ERROR: Couldn't retrieve SD template object " + base;
    }
    LDAPMessage* entry = ldap_first_entry(session, result.get());
    if (entry == nullptr) return "ERROR: Didn't retrieve SD\n";
    BervalArrayPtr values(ldap_get_values_len(session, entry, attr.c_str()));
    if (!values || values.get()[0] == nullptr) return "ERROR: Didn't retrieve SD\n";
    const berval* first = values.get()[0];
    const auto* data = reinterpret_cast<const std::uint8_t*>(first->bv_val);
    std::string text;
    // No domain: SIDs of the domain print as SID text.
    const sec::SecurityStatus st = sec::ConvertSecurityDescriptorToStringSecurityDescriptor(
        std::span<const std::uint8_t>(data, first->bv_len), sec::kSddlRevision1,
        sec::kAllSecurityInformation, sec::SddlDomain{}, text);
    if (!st.ok()) {
        diag::DebugOut("DEBUG: SD of " + base + " does not convert: " + std::to_string(st.code) +
                       " at byte " + std::to_string(st.offset) + "\n");
        return "ERROR:" + std::string(sec::SecurityErrorText(st.code));
    }
    return text;
}

std::string GetDefaultSD(LDAP* session, std::string_view schemaNC, std::string_view className) {
    KELVO_TRACE_SCOPE();
    if (schemaNC.empty()) return "ERROR: INVALID BASE DN";
    if (className.empty()) return "ERROR: INVALID LDAP NAME VALUE";
    const std::string base(schemaNC);
    const std::string filter =
        "(&(objectclass=classschema)(ldapdisplayname=" + EscapeFilterValue(className) + "))";
    char attribute[] = "defaultSecurityDescriptor";
    char* attrs[] = {attribute, nullptr};
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(session, base.c_str(), LDAP_SCOPE_ONELEVEL, filter.c_str(),
                                     attrs, 0, nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) {
        diag::DebugOut("DEBUG: Default SD search failed: " + GetLDAPErrorString(rc) + "\n");
        return "";
    }
    LDAPMessage* entry = ldap_first_entry(session, result.get());
    if (entry == nullptr) return "";
    const auto values = EntryValues(session, entry, attribute);
    return values.empty() ? "" : values.front();
}

std::string GetTemplateSD(LDAP* session, const CRootDSE& rootDSE, std::string_view base,
                          std::string_view scope, std::string_view name, std::uint32_t partFlags) {
    KELVO_TRACE_SCOPE();
    if (name.empty()) return "ERROR: INVALID LDAP OBJECT NAME VALUE";
    const std::string searchBase(base.empty() ? std::string_view(rootDSE.DefaultNC()) : base);
    const std::string_view searchScope = scope.empty() ? std::string_view("subtree") : scope;
    // GetDNFromSearch adds the outer parentheses.
    const std::string filter = "name=" + EscapeFilterValue(name);
    std::vector<std::string> dns;
    const int rc = GetDNFromSearch(session, searchBase, searchScope, filter, dns, rootDSE);
    if (rc != 0) return "ERROR: LDAP ERROR - " + GetLDAPErrorString(rc);
    if (dns.empty()) return "ERROR: No matching objects found.";
    if (dns.size() > 1)
        return "ERROR: Too may matching objects found - " + std::to_string(dns.size());
    return GetSD(session, dns.front(), partFlags, "nTSecurityDescriptor");
}

std::optional<std::pair<std::string, std::string>>
GetSDAttrGuid(LDAP* session, std::string_view schemaNC, std::string_view name) {
    KELVO_TRACE_SCOPE();
    if (schemaNC.empty() || name.empty()) return std::nullopt;
    const std::string base(schemaNC);
    const std::string filter = "(ldapdisplayname=" + EscapeFilterValue(name) + ")";
    char displayName[] = "ldapdisplayname";
    char schemaGuid[] = "schemaidguid";
    char* attrs[] = {displayName, schemaGuid, nullptr};
    LDAPMessage* raw = nullptr;
    const int rc = ldap_search_ext_s(session, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(),
                                     attrs, 0, nullptr, nullptr, nullptr, LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    if (rc != LDAP_SUCCESS) {
        diag::DebugOut("DEBUG: Schema GUID search failed: " + GetLDAPErrorString(rc) + "\n");
        return std::nullopt;
    }
    for (LDAPMessage* e = ldap_first_entry(session, result.get()); e != nullptr;
         e = ldap_next_entry(session, e)) {
        const auto names = EntryValues(session, e, displayName);
        const auto guids = EntryValues(session, e, schemaGuid);
        const auto text = guids.empty() ? std::nullopt : BinaryGuidText(guids.front());
        if (names.empty() || !text) {
            diag::DebugOut("DEBUG: Schema entry for " + std::string(name) +
                           " without a usable name or 16-byte GUID, skipped\n");
            continue;
        }
        return std::pair{StrToLower(names.front()), *text};
    }
    return std::nullopt;
}

std::optional<std::pair<std::string, std::string>> RightOrClassGuid(const EntryAttributes& entry) {
    const auto first = [&entry](const char* name) -> const std::string* {
        const auto it = entry.find(name);
        return it == entry.end() || it->second.empty() ? nullptr : &it->second.front();
    };
    const std::string* category = first("objectcategory");
    if (category == nullptr) return std::nullopt;
    const bool right = IStartsWith(*category, "CN=Control-Access-Right");
    if (!right && !IStartsWith(*category, "CN=Class-Schema")) return std::nullopt;
    const std::string* name = first(right ? "displayname" : "ldapdisplayname");
    const std::string* guid = first(right ? "rightsguid" : "schemaidguid");
    if (name == nullptr || name->empty() || guid == nullptr) return std::nullopt;
    auto text = right ? GuidTextKey(*guid) : BinaryGuidText(*guid);
    if (!text) return std::nullopt;
    return std::pair{StrToLower(*name), std::move(*text)};
}

int GetCARClassSDGuids(LDAP* session, std::string_view configNC,
                       std::vector<std::pair<std::string, std::string>>& out) {
    KELVO_TRACE_SCOPE();
    const BervalPtr optionsValue = BerIntegerSequence(kSearchOptionPhantomRoot);
    if (!optionsValue) {
        diag::DebugOut("DEBUG: Search options control not encoded\n");
        return ShownLdapCode(LDAP_NO_MEMORY);
    }
    LDAPControl options = MakeControl(kOidSearchOptions, optionsValue.get());
    LDAPControl* extra[] = {&options};
    std::size_t kept = 0, skipped = 0;
    const auto onEntry = [&](const std::string& dn, const EntryAttributes& attributes) {
        if (auto pair = RightOrClassGuid(attributes)) {
            out.push_back(std::move(*pair));
            ++kept;
            return;
        }
        ++skipped;
        diag::TraceOut("DEBUG: Skipped " + dn + "\n");
    };
    const PagedSearchResult r = PagedSearch(
        session, configNC, "(|(objectcategory=controlAccessRight)(objectcategory=classSchema))",
        {"objectcategory", "displayname", "ldapdisplayname", "rightsguid", "schemaidguid"}, true,
        onEntry, 500, extra);
    diag::DebugOut("DEBUG: Extended rights and classes: " + std::to_string(kept) + ", skipped " +
                   std::to_string(skipped) + " without a usable name or GUID\n");
    if (r.code != 0)
        diag::DebugOut("DEBUG: Rights and classes " + r.operation +
                       " failed: " + GetLDAPErrorString(r.code) + "\n");
    return r.code;
}
