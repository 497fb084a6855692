// Owners for everything libldap and liblber hand out.  Wrap each pointer the
// moment it is received; the deleter says how it goes back.
#pragma once

#include <lber.h>
#include <ldap.h>

#include <memory>
#include <string>
#include <vector>

// Unbinding writes a last request: on a connection the server has already
// closed that write must fail quietly, not end the process with SIGPIPE.
struct LdapUnbind {
    void operator()(LDAP* ld) const;
};
using LdapHandle = std::unique_ptr<LDAP, LdapUnbind>;

struct LdapMsgFree {
    void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using MessagePtr = std::unique_ptr<LDAPMessage, LdapMsgFree>;

// From ldap_first_attribute: the element does not own its buffer.
struct BerElementFree {
    void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
using BerElementPtr = std::unique_ptr<BerElement, BerElementFree>;

// From ber_alloc_t for encoding control values: the buffer goes with it.
struct BerEncoderFree {
    void operator()(BerElement* ber) const { ber_free(ber, 1); }
};
using BerEncoderPtr = std::unique_ptr<BerElement, BerEncoderFree>;

struct BervalFree {
    void operator()(berval* bv) const { ber_bvfree(bv); }
};
using BervalPtr = std::unique_ptr<berval, BervalFree>;

// From ldap_get_values_len.
struct BervalArrayFree {
    void operator()(berval** vals) const { ldap_value_free_len(vals); }
};
using BervalArrayPtr = std::unique_ptr<berval*, BervalArrayFree>;

// Strings from ldap_get_dn, ldap_first_attribute, ldap_get_option, ...
struct LdapMemFree {
    void operator()(char* s) const { ldap_memfree(s); }
};
using LdapStringPtr = std::unique_ptr<char, LdapMemFree>;

struct LdapControlsFree {
    void operator()(LDAPControl** ctrls) const { ldap_controls_free(ctrls); }
};
using ControlsPtr = std::unique_ptr<LDAPControl*, LdapControlsFree>;

struct LdapControlFree {
    void operator()(LDAPControl* ctrl) const { ldap_control_free(ctrl); }
};
using ControlPtr = std::unique_ptr<LDAPControl, LdapControlFree>;

// From ldap_str2dn.
struct LdapDnFree {
    void operator()(LDAPDN dn) const { ldap_dnfree(dn); }
};
using DnPtr = std::unique_ptr<LDAPRDN, LdapDnFree>;

// From ldap_url_parse and ldap_url_parselist.
struct LdapUrlFree {
    void operator()(LDAPURLDesc* url) const { ldap_free_urldesc(url); }
};
using LdapUrlPtr = std::unique_ptr<LDAPURLDesc, LdapUrlFree>;

// All values of one attribute of an entry, in server order; empty when the
// entry lacks it.
inline std::vector<std::string> EntryValues(LDAP* ld, LDAPMessage* entry, const char* attribute) {
    std::vector<std::string> out;
    BervalArrayPtr vals(ldap_get_values_len(ld, entry, attribute));
    for (berval** v = vals.get(); v != nullptr && *v != nullptr; ++v)
        out.emplace_back((*v)->bv_val, (*v)->bv_len);
    return out;
}
