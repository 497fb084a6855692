#include "Expansion.h"

#include "DSTime.h"
#include "LDAPFuncs.h"
#include "SIDS.h"
#include "pellixstrings.h"
#include "pxSIDS.h"

namespace {

// Stands for the DN parts when a text has no opcode that could read them.
const ExpansionValues kNoOpcodeValues;

} // namespace

RunExpansion::RunExpansion(const CRootDSE* root, const ExpansionHeaderMap* header)
    : header_(header) {
    if (root) {
        root_["ROOT"] = root->RootDomainNC();
        root_["CONFIG"] = root->ConfigNC();
        root_["DEFAULT"] = root->DefaultNC();
        root_["SCHEMA"] = root->SchemaNC();
        root_["SECPRIN"] = root->PrincipalName();
        root_["FQDN"] = root->DnsHostName();
        root_["DOMAINDNS"] = ConvertDNToDomain(root->DefaultNC());
        root_["ROOTDNS"] = ConvertDNToDomain(root->RootDomainNC());
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

// Names are cached by the resolver, errors included, so each costs one
// lookup per run.  A DN names the object whose SID is read.
SidLookup RunExpansion::LookupSid(std::string_view name, bool byDn) const {
    if (names_ == nullptr)
        return {false, "ERROR: (1332) No mapping between account names and security IDs was "
                       "done. [" +
                           std::string(name) + "]"};
    std::string text =
        byDn ? names_->LDSNameToSIDStr(std::string(name) + "\\") : names_->NameToSIDStr(name);
    const bool ok = !text.starts_with("ERROR");
    return {ok, std::move(text)};
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
