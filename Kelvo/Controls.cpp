#include "Controls.h"

#include "LdapPtr.h"

#include <lber.h>

bool ControlList::Add(std::string_view oid, const Bytes& value, std::string_view logLine) {
    if (controls_.size() >= kMaxControls) return false;
    const std::string& o = oids_.emplace_back(oid);
    Bytes& v = values_.emplace_back(value);
    LDAPControl& c = controls_.emplace_back();
    c.ldctl_oid = const_cast<char*>(o.c_str());
    c.ldctl_value.bv_len = static_cast<ber_len_t>(v.size());
    c.ldctl_value.bv_val = v.empty() ? nullptr : reinterpret_cast<char*>(v.data());
    c.ldctl_iscritical = 1;
    pointers_.back() = &c;
    pointers_.push_back(nullptr);
    logLines_.emplace_back(logLine);
    return true;
}

bool ControlList::Has(std::string_view oid) const {
    for (const auto& o : oids_)
        if (o == oid) return true;
    return false;
}

namespace {

BerCalls& Calls() {
    static BerCalls calls;
    return calls;
}

// The encoded bytes of a finished element; nothing when it cannot be
// flattened.
std::optional<Bytes> Flatten(const BerEncoderPtr& ber) {
    berval* raw = nullptr;
    const int rc = Calls().flatten(ber.get(), &raw);
    BervalPtr bv(raw);
    if (rc != 0 || !bv || (bv->bv_len != 0 && bv->bv_val == nullptr)) return std::nullopt;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(bv->bv_val);
    return Bytes(bytes, bytes + bv->bv_len);
}

} // namespace

ScopedBerCalls::ScopedBerCalls(const BerCalls& calls) : saved_(Calls()) {
    Calls() = calls;
}

ScopedBerCalls::~ScopedBerCalls() {
    Calls() = saved_;
}

std::optional<Bytes> BerInt(int value) {
    BerEncoderPtr ber(Calls().alloc(LBER_USE_DER));
    if (!ber) return std::nullopt;
    if (Calls().print(ber.get(), "{i}", static_cast<ber_int_t>(value)) < 0) return std::nullopt;
    return Flatten(ber);
}

std::optional<Bytes> BerIntOctets(int value, const Bytes& octets) {
    BerEncoderPtr ber(Calls().alloc(LBER_USE_DER));
    if (!ber) return std::nullopt;
    // liblber asserts on a null buffer even when its length is 0.
    const char* data = octets.empty() ? "" : reinterpret_cast<const char*>(octets.data());
    if (Calls().print(ber.get(), "{io}", static_cast<ber_int_t>(value), data,
                      static_cast<ber_len_t>(octets.size())) < 0)
        return std::nullopt;
    return Flatten(ber);
}
