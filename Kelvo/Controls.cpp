#include "Controls.h"

#include "ConsoleOutput.h"

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
    LogLine(logLine);
    return true;
}

LDAPControl** ControlList::Array() {
    if (controls_.empty()) return nullptr;
    pointers_.clear();
    for (auto& c : controls_)
        pointers_.push_back(&c);
    pointers_.push_back(nullptr);
    return pointers_.data();
}

bool ControlList::Has(std::string_view oid) const {
    for (const auto& o : oids_)
        if (o == oid) return true;
    return false;
}

namespace {

Bytes Flatten(BerElement* ber) {
    Bytes out;
    berval* bv = nullptr;
    if (ber_flatten(ber, &bv) == 0 && bv) {
        out.assign(reinterpret_cast<std::uint8_t*>(bv->bv_val),
                   reinterpret_cast<std::uint8_t*>(bv->bv_val) + bv->bv_len);
        ber_bvfree(bv);
    }
    ber_free(ber, 1);
    return out;
}

} // namespace

Bytes BerInt(int value) {
    BerElement* ber = ber_alloc_t(LBER_USE_DER);
    if (!ber) return {};
    ber_printf(ber, "{i}", static_cast<ber_int_t>(value));
    return Flatten(ber);
}

Bytes BerIntOctets(int value, const Bytes& octets) {
    BerElement* ber = ber_alloc_t(LBER_USE_DER);
    if (!ber) return {};
    ber_printf(ber, "{io}", static_cast<ber_int_t>(value),
               reinterpret_cast<const char*>(octets.data()), static_cast<ber_len_t>(octets.size()));
    return Flatten(ber);
}
