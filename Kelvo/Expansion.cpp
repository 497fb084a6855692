#include "Expansion.h"

#include "DSTime.h"
#include "LDAPFuncs.h"
#include "SIDS.h"
#include "pellixstrings.h"

namespace {

// Stands for the DN parts when a text has no opcode that could read them.
const ExpansionValues kNoOpcodeValues;

// RFC 4515 escaping of a value inside a filter.
std::string FilterValue(std::string_view text) {
    std::string out;
    static constexpr char kHex[] = "0123456789abcdef";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '*' || c == '(' || c == ')' || c == '\\' || u == 0) {
            out += '\\';
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

RunExpansion::RunExpansion(LDAP* session, const CRootDSE* root, const ExpansionHeaderMap* header)
    : ld_(session), header_(header) {
    if (root) {
        root_["ROOT"] = root->RootDomainNC();
        root_["CONFIG"] = root->ConfigNC();
        root_["DEFAULT"] = root->DefaultNC();
        root_["SCHEMA"] = root->SchemaNC();
        root_["SECPRIN"] = root->PrincipalName();
        root_["FQDN"] = root->DnsHostName();
        root_["DOMAINDNS"] = ConvertDNToDomain(root->DefaultNC());
        root_["ROOTDNS"] = ConvertDNToDomain(root->RootDomainNC());
        defaultNC_ = root->DefaultNC();
    }
    services_.nowInt8 = [] { return static_cast<std::int64_t>(MyGetCurrentTimeDate()); };
    services_.nowText = [](bool utc) {
        return DSTIME(utc ? TimeMode::Utc : TimeMode::Local).DisplayText();
    };
    services_.int8ToGT = [](std::int64_t instant, bool utc) {
        if (instant < 0) return std::string();
        return DSTIME(utc ? TimeMode::Utc : TimeMode::Local, static_cast<std::uint64_t>(instant))
            .GetGT(".0Z");
    };
    services_.dateToInt8 = [](std::string_view date, bool utc) {
        std::string text = EncTime_to_int8(date, utc);
        return text.starts_with("ERROR") || text.starts_with("%ERROR") ? std::string() : text;
    };
    services_.nameToSid = [this](std::string_view name) { return LookupSid(name, false); };
    services_.ldsNameToSid = [this](std::string_view dn) { return LookupSid(dn, true); };
}

SidLookup RunExpansion::LookupSid(std::string_view nameIn, bool byDn) const {
    const std::string key = (byDn ? "dn:" : "name:") + StrToLower(nameIn);
    if (auto it = sids_.find(key); it != sids_.end()) return it->second;
    SidLookup result{false, "ERROR: (1332) No mapping between account names and security IDs "
                            "was done. [" +
                                std::string(nameIn) + "]"};
    if (ld_ != nullptr) {
        std::string name(nameIn);
        // DOMAIN\name: the account name is looked up on the bound directory.
        if (!byDn) {
            if (const auto slash = name.find('\\'); slash != std::string::npos)
                name = name.substr(slash + 1);
        }
        const std::string base = byDn ? name : defaultNC_;
        const std::string filter = byDn ? "(objectClass=*)"
                                        : "(|(sAMAccountName=" + FilterValue(name) +
                                              ")(userPrincipalName=" + FilterValue(name) +
                                              ")(name=" + FilterValue(name) + "))";
        char attr[] = "objectSid";
        char* attrs[] = {attr, nullptr};
        LDAPMessage* raw = nullptr;
        const int rc =
            ldap_search_ext_s(ld_, base.c_str(), byDn ? LDAP_SCOPE_BASE : LDAP_SCOPE_SUBTREE,
                              filter.c_str(), attrs, 0, nullptr, nullptr, nullptr, 2, &raw);
        MessagePtr message(raw);
        if ((rc == LDAP_SUCCESS || rc == LDAP_SIZELIMIT_EXCEEDED) &&
            ldap_count_entries(ld_, message.get()) == 1) {
            LDAPMessage* entry = ldap_first_entry(ld_, message.get());
            BervalArrayPtr values(ldap_get_values_len(ld_, entry, attr));
            if (values && values.get()[0]) {
                const berval* bv = values.get()[0];
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(bv->bv_val);
                std::string text;
                if (GetTextualSid({bytes, bv->bv_len}, text)) result = {true, text};
            }
        }
    }
    sids_[key] = result;
    return result;
}

const ExpansionValues* RunExpansion::DnValues(const std::string& dn) const {
    if (dn != lastDn_ || lastDnValues_.empty()) {
        lastDn_ = dn;
        lastDnValues_.clear();
        DNBreakoutMap parts;
        lastDnOk_ = DNBreakout(dn, false, parts) == 0;
        for (auto& [k, v] : parts)
            lastDnValues_[k] = v;
        lastDnValues_["ORIGNAME"] = lastDnValues_["NAME"];
    }
    return lastDnOk_ ? &lastDnValues_ : nullptr;
}

Expanded RunExpansion::Run(std::string_view text, const ExpansionContext& ctx) const {
    ExpansionResult r = VarExpansion(text, ctx);
    Expanded e;
    e.ok = r.ok;
    e.value = std::move(r.value);
    e.exitCode = r.exitCode;
    for (const auto& line : r.messages)
        e.message += line + "\n";
    return e;
}

Expanded RunExpansion::Expand(const Target& target, std::uint64_t counter, std::string_view text,
                              std::string_view attribute, std::size_t position) const {
    ExpansionContext ctx;
    ctx.record = target.row;
    ctx.header = header_;
    ctx.attribute = attribute;
    ctx.valuePos = position;
    // DN parts serve only opcodes (*rdn*, *parentdn*, ...): a text without
    // one does not pay for breaking the DN apart.
    if (text.find('*') != std::string_view::npos)
        ctx.dnValues = DnValues(target.dn);
    else
        ctx.dnValues = &kNoOpcodeValues;
    ctx.rootDse = &root_;
    ctx.counter = static_cast<std::int64_t>(counter);
    ctx.services = &services_;
    return Run(text, ctx);
}

std::size_t RunExpansion::ValueCount(const Target& target, std::string_view text,
                                     std::string_view attribute) const {
    if (!target.row || !header_) return 0;
    return VarExpansionAttrCnt(text, attribute, *header_, *target.row);
}

Expanded RunExpansion::ExpandPlain(std::string_view text, std::string_view attribute,
                                   std::uint64_t counter, const std::string* dn) const {
    ExpansionContext ctx;
    ctx.attribute = attribute;
    ctx.rootDse = &root_;
    ctx.counter = static_cast<std::int64_t>(counter);
    ctx.services = &services_;
    if (dn) ctx.dnValues = DnValues(*dn);
    return Run(text, ctx);
}
