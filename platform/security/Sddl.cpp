#include "Sddl.h"

#include "SddlTables.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

namespace platform::security {

namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = Upper(c);
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool HasPrefixAt(std::string_view text, std::size_t pos, std::string_view code) {
    if (text.size() - pos < code.size()) return false;
    for (std::size_t i = 0; i < code.size(); ++i)
        if (Upper(text[pos + i]) != code[i]) return false;
    return true;
}

// First row of the table whose code starts the text at `pos`; the tables are
// ordered so that the first match is the right one (see kAceTypes).
template <typename Row, std::size_t N>
const Row* MatchPrefix(const Row (&table)[N], std::string_view text, std::size_t pos) {
    for (const Row& row : table)
        if (HasPrefixAt(text, pos, row.code)) return &row;
    return nullptr;
}

// The SIDs of the fixed aliases, parsed once, in kAliases order (other rows
// hold an empty SID).
const std::vector<Sid>& FixedAliasSids() {
    static const std::vector<Sid> sids = [] {
        std::vector<Sid> out(std::size(kAliases));
        for (std::size_t i = 0; i < std::size(kAliases); ++i)
            if (kAliases[i].scope == AliasScope::Fixed)
                (void)ParseSid(kAliases[i].sid, out[i]); // valid (checked by the tests)
        return out;
    }();
    return sids;
}

// The domain SID a domain-relative alias is relative to; null when unknown.
const Sid* AliasBase(const SddlAlias& alias, const SddlDomain& domain) {
    const std::optional<Sid>& base = alias.scope == AliasScope::RootDomain && domain.rootDomain
                                         ? domain.rootDomain
                                         : domain.domain;
    return base ? &*base : nullptr;
}

// The SID an alias stands for; nothing when its domain is unknown.
std::optional<Sid> ResolveAlias(const SddlAlias& alias, const SddlDomain& domain) {
    if (alias.scope == AliasScope::Fixed) return FixedAliasSids()[&alias - kAliases];
    const Sid* base = AliasBase(alias, domain);
    if (!base || base->subAuthorities.size() >= kSidMaxSubAuthorities) return std::nullopt;
    Sid sid = *base;
    sid.subAuthorities.push_back(alias.rid);
    return sid;
}

// True when `sid` is what the alias stands for (ResolveAlias(alias) == sid)
// without building the alias's SID.
bool AliasIs(const SddlAlias& alias, const SddlDomain& domain, const Sid& sid) {
    if (alias.scope == AliasScope::Fixed) return FixedAliasSids()[&alias - kAliases] == sid;
    const Sid* base = AliasBase(alias, domain);
    const auto& subs = sid.subAuthorities;
    return base && base->authority == sid.authority &&
           subs.size() == base->subAuthorities.size() + 1 && subs.back() == alias.rid &&
           std::equal(base->subAuthorities.begin(), base->subAuthorities.end(), subs.begin());
}

class SddlParser {
  public:
    SddlParser(std::string_view text, const SddlDomain& domain) : text_(text), domain_(domain) {}

    SecurityStatus Parse(SecurityDescriptor& sd) {
        bool seen[4] = {};
        SkipSpace();
        while (pos_ < text_.size()) {
            constexpr std::string_view kParts = "OGDS";
            const std::size_t part = kParts.find(Upper(text_[pos_]));
            if (part == std::string_view::npos || pos_ + 1 >= text_.size() ||
                text_[pos_ + 1] != ':' || seen[part])
                return Fail(kErrorInvalidSecurityDescr);
            seen[part] = true;
            pos_ += 2;
            SkipSpace();
            SecurityStatus st;
            switch (kParts[part]) {
            case 'O':
                st = ParsePrincipal(sd.owner.emplace());
                break;
            case 'G':
                st = ParsePrincipal(sd.group.emplace());
                break;
            default:
                st = ParseAcl(kParts[part] == 'D', sd);
                break;
            }
            if (!st.ok()) return st;
            SkipSpace();
        }
        return kSecuritySuccess;
    }

  private:
    SecurityStatus Fail(std::uint32_t code) const { return {code, pos_}; }

    void SkipSpace() {
        while (pos_ < text_.size() && IsSpace(text_[pos_]))
            ++pos_;
    }

    bool Accept(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }

    SecurityStatus ParsePrincipal(Sid& sid) {
        if (HasPrefixAt(text_, pos_, "S-")) {
            std::size_t used = 0;
            if (auto st = ScanSid(text_.substr(pos_), sid, used); !st.ok())
                return {st.code, pos_ + st.offset};
            pos_ += used;
            return kSecuritySuccess;
        }
        const SddlAlias* alias = MatchPrefix(kAliases, text_, pos_);
        if (!alias) return Fail(kErrorInvalidSid);
        std::optional<Sid> resolved = ResolveAlias(*alias, domain_);
        if (!resolved) return Fail(kErrorInvalidSid);
        sid = std::move(*resolved);
        pos_ += alias->code.size();
        return kSecuritySuccess;
    }

    SecurityStatus ParseAcl(bool isDacl, SecurityDescriptor& sd) {
        std::uint16_t flags = 0;
        bool null = false;
        for (;;) {
            if (HasPrefixAt(text_, pos_, kNoAccessControl)) {
                null = true;
                pos_ += kNoAccessControl.size();
            } else if (const SddlCode* flag = MatchPrefix(kAclFlags, text_, pos_)) {
                flags |= static_cast<std::uint16_t>(isDacl ? flag->value : flag->value << 1);
                pos_ += flag->code.size();
            } else {
                break;
            }
        }
        SkipSpace();
        Acl acl;
        while (pos_ < text_.size() && text_[pos_] == '(') {
            if (null) return Fail(kErrorInvalidAcl);
            if (auto st = ParseAce(acl.aces.emplace_back()); !st.ok()) return st;
            SkipSpace();
        }
        acl.revision = RequiredAclRevision(acl.aces);
        sd.control |= flags | (isDacl ? kSeDaclPresent : kSeSaclPresent);
        std::optional<Acl>& slot = isDacl ? sd.dacl : sd.sacl;
        slot.reset();
        if (!null) slot = std::move(acl);
        return kSecuritySuccess;
    }

    SecurityStatus ParseAce(Ace& ace) {
        ++pos_; // '('
        const SddlCode* type = MatchPrefix(kAceTypes, text_, pos_);
        if (!type) return Fail(kErrorInvalidAcl);
        ace.type = static_cast<std::uint8_t>(type->value);
        pos_ += type->code.size();
        if (!Accept(';')) return Fail(kErrorInvalidAcl);

        while (pos_ < text_.size() && text_[pos_] != ';') {
            const SddlCode* flag = MatchPrefix(kAceFlags, text_, pos_);
            if (!flag) return Fail(kErrorInvalidAcl);
            ace.flags |= static_cast<std::uint8_t>(flag->value);
            pos_ += flag->code.size();
        }
        if (!Accept(';')) return Fail(kErrorInvalidAcl);

        if (auto st = ParseRights(ace.mask); !st.ok()) return st;
        if (!Accept(';')) return Fail(kErrorInvalidAcl);

        const std::size_t guidsAt = pos_;
        if (auto st = ParseGuid(ace.objectType); !st.ok()) return st;
        if (!Accept(';')) return Fail(kErrorInvalidAcl);
        if (auto st = ParseGuid(ace.inheritedObjectType); !st.ok()) return st;
        if (!Accept(';')) return Fail(kErrorInvalidAcl);
        if (!IsObjectAceType(ace.type) && (ace.objectType || ace.inheritedObjectType))
            return {kErrorInvalidAcl, guidsAt};

        const std::size_t principalAt = pos_;
        if (auto st = ParsePrincipal(ace.sid); !st.ok()) return st;
        if (Accept(')')) return kSecuritySuccess;
        // More fields (resource attributes) are not part of these ACE types;
        // anything else glued to the principal makes it unreadable.
        if (pos_ < text_.size() && text_[pos_] == ';') return Fail(kErrorInvalidAcl);
        return {kErrorInvalidSid, principalAt};
    }

    // Letter pairs, or one number: "0x" and up to 8 hex digits, "0" and octal
    // digits, or decimal.  Nothing at all is the empty mask.
    SecurityStatus ParseRights(std::uint32_t& mask) {
        mask = 0;
        if (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9')
            return ParseNumber(mask);
        while (pos_ < text_.size() && text_[pos_] != ';') {
            const SddlRight* right = MatchPrefix(kRights, text_, pos_);
            if (!right) return Fail(kErrorInvalidAcl);
            mask |= right->value;
            pos_ += right->code.size();
        }
        return kSecuritySuccess;
    }

    SecurityStatus ParseNumber(std::uint32_t& mask) {
        const std::size_t start = pos_;
        unsigned radix = 10;
        std::size_t maxDigits = 10;
        if (HasPrefixAt(text_, pos_, "0X")) {
            radix = 16;
            maxDigits = 8;
            pos_ += 2;
        } else if (text_[pos_] == '0' && pos_ + 1 < text_.size() && text_[pos_ + 1] != ';') {
            radix = 8;
            maxDigits = 11;
            ++pos_;
        }
        std::uint64_t value = 0;
        std::size_t digits = 0;
        for (; pos_ < text_.size() && text_[pos_] != ';'; ++pos_, ++digits) {
            const int d = HexValue(text_[pos_]);
            if (d < 0 || static_cast<unsigned>(d) >= radix || digits == maxDigits)
                return Fail(kErrorInvalidAcl);
            value = value * radix + static_cast<unsigned>(d);
        }
        if ((digits == 0 && radix != 10) || value > 0xFFFFFFFFu) return {kErrorInvalidAcl, start};
        mask = static_cast<std::uint32_t>(value);
        return kSecuritySuccess;
    }

    // Empty, or 8-4-4-4-12 hex digits in either case.
    SecurityStatus ParseGuid(std::optional<Guid>& guid) {
        guid.reset();
        if (pos_ >= text_.size() || text_[pos_] == ';') return kSecuritySuccess;
        constexpr std::string_view kShape = "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx";
        if (text_.size() - pos_ < kShape.size()) return Fail(kErrorInvalidAcl);
        std::uint8_t raw[16] = {}; // the bytes in text order
        std::size_t n = 0;
        for (std::size_t i = 0; i < kShape.size(); ++i) {
            const char c = text_[pos_ + i];
            if (kShape[i] == '-') {
                if (c != '-') return {kErrorInvalidAcl, pos_ + i};
                continue;
            }
            const int d = HexValue(c);
            if (d < 0) return {kErrorInvalidAcl, pos_ + i};
            raw[n / 2] = static_cast<std::uint8_t>(raw[n / 2] << 4 | d);
            ++n;
        }
        // Data1, Data2 and Data3 are little-endian on the wire.
        constexpr int kPacketOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        Guid g;
        for (int i = 0; i < 16; ++i)
            g[i] = raw[kPacketOrder[i]];
        guid = g;
        pos_ += kShape.size();
        return kSecuritySuccess;
    }

    std::string_view text_;
    const SddlDomain& domain_;
    std::size_t pos_ = 0;
};

class SddlPrinter {
  public:
    explicit SddlPrinter(const SddlDomain& domain) : domain_(domain) {}

    std::string Print(const SecurityDescriptor& sd, std::uint32_t info) const {
        std::string out;
        if ((info & kOwnerSecurityInformation) && sd.owner) out += "O:" + Principal(*sd.owner);
        if ((info & kGroupSecurityInformation) && sd.group) out += "G:" + Principal(*sd.group);
        if ((info & kDaclSecurityInformation) && (sd.dacl || (sd.control & kSeDaclPresent)))
            out += "D:" + AclText(sd.dacl, sd.control, true);
        if ((info & kSaclSecurityInformation) && (sd.sacl || (sd.control & kSeSaclPresent)))
            out += "S:" + AclText(sd.sacl, sd.control, false);
        return out;
    }

  private:
    std::string Principal(const Sid& sid) const {
        for (const SddlAlias& alias : kAliases)
            if (AliasIs(alias, domain_, sid)) return std::string(alias.code);
        return FormatSid(sid);
    }

    std::string AclText(const std::optional<Acl>& acl, std::uint16_t control, bool isDacl) const {
        std::string out;
        for (const SddlCode& flag : kAclFlags)
            if (control & (isDacl ? flag.value : flag.value << 1)) out += flag.code;
        if (!acl) return out += kNoAccessControl;
        for (const Ace& ace : acl->aces)
            out += AceText(ace);
        return out;
    }

    std::string AceText(const Ace& ace) const {
        std::string out = "(";
        for (const SddlCode& type : kAceTypes)
            if (type.value == ace.type) {
                out += type.code;
                break;
            }
        out += ';';
        std::uint32_t printed = 0;
        for (const SddlCode& flag : kAceFlags)
            if ((ace.flags & flag.value) && !(printed & flag.value)) {
                out += flag.code;
                printed |= flag.value;
            }
        out += ';';
        out += RightsText(ace.mask, ace.type);
        out += ';';
        if (ace.objectType) out += GuidText(*ace.objectType);
        out += ';';
        if (ace.inheritedObjectType) out += GuidText(*ace.inheritedObjectType);
        out += ';';
        out += Principal(ace.sid);
        out += ')';
        return out;
    }

    static std::string RightsText(std::uint32_t mask, std::uint8_t type) {
        std::string out;
        if (mask == 0) return out;
        const bool label = type == kAceTypeSystemMandatoryLabel;
        std::uint32_t labelBits = 0;
        for (const SddlRight& r : kRights)
            if (r.use == RightUse::Label) labelBits |= r.value;
        if (label && (mask & ~labelBits) == 0) {
            for (const SddlRight& r : kRights)
                if (r.use == RightUse::Label && (mask & r.value)) out += r.code;
            return out;
        }
        for (const SddlRight& r : kRights)
            if (r.use == RightUse::WholeMask && mask == r.value) return std::string(r.code);
        std::uint32_t rest = mask;
        for (const SddlRight& r : kRights)
            if (r.use == RightUse::Bit && (mask & r.value)) {
                out += r.code;
                rest &= ~r.value;
            }
        if (rest == 0) return out;
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(mask));
        return buf;
    }

    const SddlDomain& domain_;
};

} // namespace

std::string GuidText(const Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return buf;
}

SecurityStatus MakeSddlDomain(std::string_view domainSid, std::string_view rootDomainSid,
                              SddlDomain& out) {
    SddlDomain result;
    if (!domainSid.empty()) {
        if (auto st = ParseSid(domainSid, result.domain.emplace()); !st.ok()) return st;
    }
    if (!rootDomainSid.empty()) {
        if (auto st = ParseSid(rootDomainSid, result.rootDomain.emplace()); !st.ok()) return st;
    }
    out = std::move(result);
    return kSecuritySuccess;
}

SecurityStatus ParseSddl(std::string_view text, const SddlDomain& domain, SecurityDescriptor& sd) {
    SecurityDescriptor result;
    if (auto st = SddlParser(text, domain).Parse(result); !st.ok()) return st;
    sd = std::move(result);
    return kSecuritySuccess;
}

std::string FormatSddl(const SecurityDescriptor& sd, std::uint32_t info, const SddlDomain& domain) {
    return SddlPrinter(domain).Print(sd, info);
}

SecurityStatus
ConvertStringSecurityDescriptorToSecurityDescriptor(std::string_view text, std::uint32_t revision,
                                                    const SddlDomain& domain,
                                                    std::vector<std::uint8_t>& bytes) {
    if (revision != kSddlRevision1) return {kErrorUnknownRevision, 0};
    SecurityDescriptor sd;
    if (auto st = ParseSddl(text, domain, sd); !st.ok()) return st;
    return EncodeSecurityDescriptor(sd, bytes);
}

SecurityStatus
ConvertSecurityDescriptorToStringSecurityDescriptor(std::span<const std::uint8_t> bytes,
                                                    std::uint32_t revision, std::uint32_t info,
                                                    const SddlDomain& domain, std::string& text) {
    if (revision != kSddlRevision1) return {kErrorUnknownRevision, 0};
    SecurityDescriptor sd;
    if (auto st = DecodeSecurityDescriptor(bytes, sd); !st.ok()) return st;
    text = FormatSddl(sd, info, domain);
    return kSecuritySuccess;
}

} // namespace platform::security
