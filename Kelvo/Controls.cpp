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

Bytes Flatten(const BerEncoderPtr& ber) {
    berval* raw = nullptr;
    if (ber_flatten(ber.get(), &raw) != 0 || !raw) return {};
    BervalPtr bv(raw);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(bv->bv_val);
    return Bytes(bytes, bytes + bv->bv_len);
}

} // namespace

Bytes BerInt(int value) {
    BerEncoderPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber) return {};
    ber_printf(ber.get(), "{i}", static_cast<ber_int_t>(value));
    return Flatten(ber);
}

Bytes BerIntOctets(int value, const Bytes& octets) {
    BerEncoderPtr ber(ber_alloc_t(LBER_USE_DER));
    if (!ber) return {};
    ber_printf(ber.get(), "{io}", static_cast<ber_int_t>(value),
               reinterpret_cast<const char*>(octets.data()), static_cast<ber_len_t>(octets.size()));
    return Flatten(ber);
}
