// The *opcode* table of variable expansion.
#include "ExpansionInternal.h"
#include "pellixstrings.h"

#include <algorithm>

namespace expansion {

namespace {

// Longest random text *rnd* will make.
constexpr unsigned kMaxRandomLength = 65536;

// `key`: the DN or RootDSE value an entry reads, or the opcode's own name
// where the handler needs it for messages.
using Handler = Status (*)(const Call& call, std::string_view key, std::string& out);

struct Opcode {
    std::string_view name;
    Handler run;
    std::string_view key = {};
    bool takesArgs = false; // text after "*opcode*:" is meaningful
};

const ExpansionServices& Services(const Call& call) {
    return ServicesOf(call.ctx);
}

std::string_view Lookup(const ExpansionValues* values, std::string_view key) {
    if (values == nullptr) return {};
    const auto it = values->find(std::string(key));
    return it == values->end() ? std::string_view() : std::string_view(it->second);
}

// "first:rest" -> first, rest (rest empty without a separator).
std::pair<std::string_view, std::string_view> SplitOnce(std::string_view text,
                                                        std::string_view sep) {
    const std::size_t at = text.find(sep);
    if (at == std::string_view::npos) return {text, {}};
    return {text.substr(0, at), text.substr(at + sep.size())};
}

Status Counter(const Call& call, std::string_view, std::string& out) {
    out += Int64Text(call.ctx.counter);
    return std::nullopt;
}

unsigned Length(std::string_view text) {
    const std::int64_t n = LeadingInt(text);
    return n <= 0 ? 0 : static_cast<unsigned>(std::min<std::int64_t>(n, kMaxRandomLength));
}

// *rnd*[:min[:max[:set]]]
Status Random(const Call& call, std::string_view, std::string& out) {
    const auto [minText, afterMin] = SplitOnce(call.modifiers, ":");
    const auto [maxText, chars] = SplitOnce(afterMin, ":");
    const unsigned minLen = Length(minText);
    const unsigned maxLen = Length(maxText);
    const auto& random = Services(call).randomString;
    out += random ? random(minLen, maxLen, chars) : RandomString(minLen, maxLen, chars);
    return std::nullopt;
}

Status DnValue(const Call& call, std::string_view key, std::string& out) {
    if (call.ctx.dnValues == nullptr) return NeedsDnValues();
    out += Lookup(call.ctx.dnValues, key);
    return std::nullopt;
}

Status RootValue(const Call& call, std::string_view key, std::string& out) {
    out += Lookup(call.ctx.rootDse, key);
    return std::nullopt;
}

// The object's domain; outside CSV modes, the default naming context's.
Status DomainDns(const Call& call, std::string_view, std::string& out) {
    if (call.ctx.dnValues != nullptr) {
        out += Lookup(call.ctx.dnValues, "DOMAIN_DNS");
    } else {
        out += Lookup(call.ctx.rootDse, "DOMAINDNS");
    }
    return std::nullopt;
}

Status AdminSdHolder(const Call& call, std::string_view, std::string& out) {
    out += "CN=AdminSDHolder,CN=System,";
    out += Lookup(call.ctx.rootDse, "DEFAULT");
    return std::nullopt;
}

// A failed lookup's error text goes on as the value, as everywhere names
// are resolved: a descriptor holding it fails conversion later.
Status Sid(const Call& call, std::string_view key, std::string& out) {
    const auto& lookup = key == "lds" ? Services(call).ldsNameToSid : Services(call).nameToSid;
    if (!lookup) return ServiceMissing(call, call.name);
    SidLookup sid = lookup(call.modifiers);
    if (sid.ok && key == "wrapped") {
        out += "<SID=" + sid.text + ">";
    } else {
        out += sid.text;
    }
    return std::nullopt;
}

Status NowText(const Call& call, std::string_view key, std::string& out) {
    const auto& now = Services(call).nowText;
    if (!now) return ServiceMissing(call, call.name);
    out += now(key == "utc");
    return std::nullopt;
}

Status NowLocalGT(const Call& call, std::string_view, std::string& out) {
    const ExpansionServices& sv = Services(call);
    if (!sv.nowInt8 || !sv.int8ToGT) return ServiceMissing(call, call.name);
    out += sv.int8ToGT(sv.nowInt8(), false);
    return std::nullopt;
}

// Applies an optional "op:n" shift.
Status Shifted(const Call& call, std::string_view shift, std::int64_t& instant) {
    if (shift.empty()) return std::nullopt;
    const auto [op, count] = SplitOnce(shift, ":");
    if (!ShiftInt8(op, count, instant)) return InvalidModifier(call, op);
    return std::nullopt;
}

// *now_int8*[:op:n] and *now_gt*[:op:n]
Status NowShifted(const Call& call, std::string_view key, std::string& out) {
    const ExpansionServices& sv = Services(call);
    if (!sv.nowInt8 || (key == "gt" && !sv.int8ToGT)) return ServiceMissing(call, call.name);
    std::int64_t instant = sv.nowInt8();
    if (Status s = Shifted(call, call.modifiers, instant)) return s;
    out += key == "gt" ? sv.int8ToGT(instant, true) : Int64Text(instant);
    return std::nullopt;
}

// *enclocal_int8*:date[::op:n] and *encutc_int8*:date[::op:n]; the shift
// follows "::" because the date holds ':' itself.
Status EncodeDate(const Call& call, std::string_view key, std::string& out) {
    const bool utc = key == "*encutc_int8*";
    const auto [date, shift] = SplitOnce(call.modifiers, "::");
    if (date.empty()) return MissingTime(key);
    const auto& convert = Services(call).dateToInt8;
    if (!convert) return ServiceMissing(call, call.name);
    const std::string int8 = convert(date, utc);
    if (int8.empty()) {
        out += "%ERROR% Invalid date format";
        return std::nullopt;
    }
    std::int64_t instant = LeadingInt(int8);
    if (Status s = Shifted(call, shift, instant)) return s;
    out += Int64Text(instant);
    return std::nullopt;
}

// Names in lower case, with their asterisks.
constexpr Opcode kOpcodes[] = {
    {"*cnt*", Counter},
    {"*rnd*", Random, {}, true},
    {"*dn*", DnValue, "DN"},
    {"*rdn*", DnValue, "RDN"},
    {"*parentdn*", DnValue, "PARENT"},
    {"*domaindn*", DnValue, "DOMAIN"},
    {"*ndc*", DnValue, "NDC"},
    {"*name*", DnValue, "NAME"},
    {"*origname*", DnValue, "ORIGNAME"},
    {"*confignc*", RootValue, "CONFIG"},
    {"*rootnc*", RootValue, "ROOT"},
    {"*forestnc*", RootValue, "ROOT"},
    {"*rootdn*", RootValue, "ROOT"},
    {"*forestdn*", RootValue, "ROOT"},
    {"*schemanc*", RootValue, "SCHEMA"},
    {"*schemadn*", RootValue, "SCHEMA"},
    {"*defaultnc*", RootValue, "DEFAULT"},
    {"*defaultdn*", RootValue, "DEFAULT"},
    {"*hostfqdn*", RootValue, "FQDN"},
    {"*domaindns*", DomainDns},
    {"*domain*", DomainDns},
    {"*rootdns*", RootValue, "ROOTDNS"},
    {"*forestdns*", RootValue, "ROOTDNS"},
    {"*adminsdholder*", AdminSdHolder},
    {"*secprin*", RootValue, "SECPRIN"},
    {"*sid*", Sid, "plain", true},
    {"*isid*", Sid, "wrapped", true},
    {"*ldssid*", Sid, "lds", true},
    {"*now*", NowText, "local"},
    {"*now_utc*", NowText, "utc"},
    {"*nowgt*", NowLocalGT},
    {"*now_int8*", NowShifted, "int8", true},
    {"*now_gt*", NowShifted, "gt", true},
    {"*enclocal_int8*", EncodeDate, "*enclocal_int8*", true},
    {"*encutc_int8*", EncodeDate, "*encutc_int8*", true},
};

} // namespace

Status RunOpcode(const Call& call, std::string_view lcName, std::string& out) {
    const auto* op = std::find_if(std::begin(kOpcodes), std::end(kOpcodes),
                                  [&](const Opcode& o) { return o.name == lcName; });
    if (op == std::end(kOpcodes)) return UnknownOpcode(call);
    if (!op->takesArgs && !call.modifiers.empty())
        return InvalidModifier(call, SplitOnce(call.modifiers, ":").first);
    return op->run(call, op->key, out);
}

} // namespace expansion
