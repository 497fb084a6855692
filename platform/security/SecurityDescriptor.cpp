#include "SecurityDescriptor.h"

#include "SddlTables.h"

#include <algorithm>

namespace platform::security {

namespace {

constexpr std::size_t kHeaderSize = 20;
constexpr std::size_t kAclHeaderSize = 8;
constexpr std::size_t kAceHeaderSize = 4;
constexpr std::uint32_t kObjectTypePresent = 0x1;          // ACE_OBJECT_TYPE_PRESENT
constexpr std::uint32_t kInheritedObjectTypePresent = 0x2; // ACE_INHERITED_OBJECT_TYPE_PRESENT

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void Append32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.resize(out.size() + 4);
    Put32(out, out.size() - 4, v);
}

std::uint16_t Get16(std::span<const std::uint8_t> in, std::size_t at) {
    return static_cast<std::uint16_t>(in[at] | in[at + 1] << 8);
}

std::uint32_t Get32(std::span<const std::uint8_t> in, std::size_t at) {
    return std::uint32_t{in[at]} | std::uint32_t{in[at + 1]} << 8 |
           std::uint32_t{in[at + 2]} << 16 | std::uint32_t{in[at + 3]} << 24;
}

bool IsKnownAceType(std::uint8_t type) {
    return std::any_of(std::begin(kAceTypes), std::end(kAceTypes),
                       [type](const SddlCode& c) { return c.value == type; });
}

SecurityStatus AppendAce(const Ace& ace, std::vector<std::uint8_t>& out) {
    if (ace.sid.subAuthorities.size() > kSidMaxSubAuthorities)
        return {kErrorInvalidSid, out.size()};
    const std::size_t start = out.size();
    out.push_back(ace.type);
    out.push_back(ace.flags);
    out.resize(out.size() + 2); // size, filled in below
    Append32(out, ace.mask);
    if (IsObjectAceType(ace.type)) {
        Append32(out, (ace.objectType ? kObjectTypePresent : 0) |
                          (ace.inheritedObjectType ? kInheritedObjectTypePresent : 0));
        if (ace.objectType) out.insert(out.end(), ace.objectType->begin(), ace.objectType->end());
        if (ace.inheritedObjectType)
            out.insert(out.end(), ace.inheritedObjectType->begin(), ace.inheritedObjectType->end());
    }
    AppendSid(ace.sid, out);
    const std::size_t size = out.size() - start;
    if (size > 0xFFFF) return {kErrorInvalidAcl, start};
    Put16(out, start + 2, static_cast<std::uint16_t>(size));
    return kSecuritySuccess;
}

SecurityStatus AppendAcl(const Acl& acl, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    if (acl.aces.size() > 0xFFFF) return {kErrorInvalidAcl, start};
    out.push_back(acl.revision);
    out.push_back(0);
    out.resize(out.size() + 6, 0);
    Put16(out, start + 4, static_cast<std::uint16_t>(acl.aces.size()));
    for (const Ace& ace : acl.aces)
        if (auto st = AppendAce(ace, out); !st.ok()) return st;
    const std::size_t size = out.size() - start;
    if (size > 0xFFFF) return {kErrorInvalidAcl, start};
    Put16(out, start + 2, static_cast<std::uint16_t>(size));
    return kSecuritySuccess;
}

// Reads one ACE from `in` (which ends where the ACL ends); `base` is the
// offset of `in` in the descriptor, for error offsets.
SecurityStatus DecodeAce(std::span<const std::uint8_t> in, std::size_t base,
                         std::uint8_t aclRevision, Ace& ace, std::size_t& size) {
    const SecurityStatus bad{kErrorInvalidAcl, base};
    if (in.size() < kAceHeaderSize + 4) return bad;
    ace.type = in[0];
    ace.flags = in[1];
    size = Get16(in, 2);
    if (!IsKnownAceType(ace.type) || size % 4 != 0 || size > in.size()) return bad;
    if (IsObjectAceType(ace.type) && aclRevision < kAclRevisionDs) return bad;
    const auto body = in.first(size);
    if (size < kAceHeaderSize + 4) return bad;
    ace.mask = Get32(body, 4);
    std::size_t at = 8;
    ace.objectType.reset();
    ace.inheritedObjectType.reset();
    if (IsObjectAceType(ace.type)) {
        if (size < at + 4) return bad;
        const std::uint32_t present = Get32(body, at);
        at += 4;
        for (auto [bit, guid] :
             {std::pair{kObjectTypePresent, &ace.objectType},
              std::pair{kInheritedObjectTypePresent, &ace.inheritedObjectType}}) {
            if (!(present & bit)) continue;
            if (size < at + 16) return bad;
            Guid g;
            std::copy_n(body.begin() + at, 16, g.begin());
            *guid = g;
            at += 16;
        }
    }
    if (auto st = DecodeSid(body.subspan(at), ace.sid); !st.ok())
        return {kErrorInvalidSid, base + at};
    return kSecuritySuccess;
}

SecurityStatus DecodeAcl(std::span<const std::uint8_t> bytes, std::size_t offset, Acl& acl) {
    const SecurityStatus bad{kErrorInvalidAcl, offset};
    if (offset > bytes.size() || bytes.size() - offset < kAclHeaderSize) return bad;
    const auto in = bytes.subspan(offset);
    acl.revision = in[0];
    const std::size_t size = Get16(in, 2);
    const std::size_t count = Get16(in, 4);
    if ((acl.revision != kAclRevision && acl.revision != kAclRevisionDs) || size < kAclHeaderSize ||
        size > in.size())
        return bad;
    acl.aces.assign(count, Ace{});
    std::size_t at = kAclHeaderSize;
    for (Ace& ace : acl.aces) {
        std::size_t aceSize = 0;
        if (auto st =
                DecodeAce(in.first(size).subspan(at), offset + at, acl.revision, ace, aceSize);
            !st.ok())
            return st;
        at += aceSize;
    }
    return kSecuritySuccess;
}

// The parts are found through the offsets in the header at `field`; an
// offset that points outside the descriptor is reported at its field.
SecurityStatus DecodeOptionalSid(std::span<const std::uint8_t> bytes, std::size_t field,
                                 std::optional<Sid>& sid) {
    sid.reset();
    const std::size_t offset = Get32(bytes, field);
    if (offset == 0) return kSecuritySuccess;
    if (offset < kHeaderSize || offset >= bytes.size()) return {kErrorInvalidSecurityDescr, field};
    Sid value;
    if (auto st = DecodeSid(bytes.subspan(offset), value); !st.ok())
        return {kErrorInvalidSid, offset};
    sid = std::move(value);
    return kSecuritySuccess;
}

SecurityStatus DecodeOptionalAcl(std::span<const std::uint8_t> bytes, std::size_t field,
                                 bool present, std::optional<Acl>& acl) {
    acl.reset();
    const std::size_t offset = Get32(bytes, field);
    if (!present || offset == 0) return kSecuritySuccess; // absent or null
    if (offset < kHeaderSize || offset >= bytes.size()) return {kErrorInvalidSecurityDescr, field};
    Acl value;
    if (auto st = DecodeAcl(bytes, offset, value); !st.ok()) return st;
    acl = std::move(value);
    return kSecuritySuccess;
}

} // namespace

std::uint8_t RequiredAclRevision(const std::vector<Ace>& aces) {
    return std::any_of(aces.begin(), aces.end(),
                       [](const Ace& a) { return IsObjectAceType(a.type); })
               ? kAclRevisionDs
               : kAclRevision;
}

SecurityStatus EncodeSecurityDescriptor(const SecurityDescriptor& sd,
                                        std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> bytes(kHeaderSize, 0);
    bytes[0] = kSecurityDescriptorRevision;
    std::uint16_t control = sd.control | kSeSelfRelative;
    if (sd.dacl) control |= kSeDaclPresent;
    if (sd.sacl) control |= kSeSaclPresent;
    Put16(bytes, 2, control);
    for (auto [sid, at] : {std::pair{&sd.owner, 4}, std::pair{&sd.group, 8}}) {
        if (!*sid) continue;
        if ((*sid)->subAuthorities.size() > kSidMaxSubAuthorities)
            return {kErrorInvalidSid, bytes.size()};
        Put32(bytes, at, static_cast<std::uint32_t>(bytes.size()));
        AppendSid(**sid, bytes);
    }
    for (auto [acl, at] : {std::pair{&sd.sacl, 12}, std::pair{&sd.dacl, 16}}) {
        if (!*acl) continue;
        Put32(bytes, at, static_cast<std::uint32_t>(bytes.size()));
        if (auto st = AppendAcl(**acl, bytes); !st.ok()) return st;
    }
    out = std::move(bytes);
    return kSecuritySuccess;
}

SecurityStatus DecodeSecurityDescriptor(std::span<const std::uint8_t> bytes,
                                        SecurityDescriptor& sd) {
    if (bytes.size() < kHeaderSize) return {kErrorInvalidSecurityDescr, bytes.size()};
    if (bytes[0] != kSecurityDescriptorRevision) return {kErrorUnknownRevision, 0};
    SecurityDescriptor result;
    result.control = Get16(bytes, 2);
    if (!(result.control & kSeSelfRelative)) return {kErrorInvalidSecurityDescr, 2};
    if (auto st = DecodeOptionalSid(bytes, 4, result.owner); !st.ok()) return st;
    if (auto st = DecodeOptionalSid(bytes, 8, result.group); !st.ok()) return st;
    if (auto st = DecodeOptionalAcl(bytes, 12, result.control & kSeSaclPresent, result.sacl);
        !st.ok())
        return st;
    if (auto st = DecodeOptionalAcl(bytes, 16, result.control & kSeDaclPresent, result.dacl);
        !st.ok())
        return st;
    sd = std::move(result);
    return kSecuritySuccess;
}

} // namespace platform::security
