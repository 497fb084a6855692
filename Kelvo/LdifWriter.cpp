#include "LdifWriter.h"

#include "Secrets.h"

#include <string_view>

namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::string_view data) {
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const auto n = (static_cast<unsigned>(static_cast<unsigned char>(data[i])) << 16) |
                       (static_cast<unsigned>(static_cast<unsigned char>(data[i + 1])) << 8) |
                       static_cast<unsigned char>(data[i + 2]);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += kBase64[(n >> 6) & 63];
        out += kBase64[n & 63];
    }
    if (i + 1 == data.size()) {
        const auto n = static_cast<unsigned>(static_cast<unsigned char>(data[i])) << 16;
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += "==";
    } else if (i + 2 == data.size()) {
        const auto n = (static_cast<unsigned>(static_cast<unsigned char>(data[i])) << 16) |
                       (static_cast<unsigned>(static_cast<unsigned char>(data[i + 1])) << 8);
        out += kBase64[(n >> 18) & 63];
        out += kBase64[(n >> 12) & 63];
        out += kBase64[(n >> 6) & 63];
        out += '=';
    }
    return out;
}

// RFC 2849 SAFE-STRING; a trailing space is written in base64 too, so that
// no tool trims it.
bool Safe(std::string_view v) {
    if (v.empty()) return true;
    const auto first = static_cast<unsigned char>(v.front());
    if (first == ' ' || first == ':' || first == '<') return false;
    if (v.back() == ' ') return false;
    for (char c : v) {
        const auto u = static_cast<unsigned char>(c);
        if (u == 0 || u == '\n' || u == '\r' || u > 127) return false;
    }
    return true;
}

void Line(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    if (Safe(value)) {
        out += ": ";
        out += value;
    } else {
        out += ":: ";
        out += Base64(value);
    }
    out += '\n';
}

void Values(std::string& out, const LDAPMod& mod, bool mask) {
    const bool secret = mask && IsSecretAttribute(mod.mod_type);
    if ((mod.mod_op & LDAP_MOD_BVALUES) != 0) {
        for (berval** v = mod.mod_bvalues; v != nullptr && *v != nullptr; ++v)
            Line(out, mod.mod_type,
                 secret ? kRedacted : std::string_view((*v)->bv_val, (*v)->bv_len));
    } else {
        for (char** v = mod.mod_values; v != nullptr && *v != nullptr; ++v)
            Line(out, mod.mod_type, secret ? kRedacted : std::string_view(*v));
    }
}

std::string_view OpName(int op) {
    switch (op & ~LDAP_MOD_BVALUES) {
    case LDAP_MOD_ADD:
        return "add";
    case LDAP_MOD_DELETE:
        return "delete";
    case LDAP_MOD_INCREMENT:
        return "increment";
    default:
        return "replace";
    }
}

} // namespace

std::string ChangeRecord(const Request& r, bool maskSecrets) {
    std::string out;
    Line(out, "dn", r.dn);
    if (r.controls) {
        for (std::size_t i = 0; i < r.controls->Count(); ++i) {
            const LDAPControl& c = r.controls->At(i);
            out += "control: ";
            out += c.ldctl_oid;
            out += c.ldctl_iscritical ? " true" : " false";
            if (c.ldctl_value.bv_len != 0)
                out += ":: " + Base64({c.ldctl_value.bv_val, c.ldctl_value.bv_len});
            out += '\n';
        }
    }
    switch (r.kind) {
    case RequestKind::Add:
        out += "changetype: add\n";
        if (r.mods)
            for (std::size_t i = 0; i < r.mods->Count(); ++i)
                Values(out, r.mods->At(i), maskSecrets);
        break;
    case RequestKind::Delete:
        out += "changetype: delete\n";
        break;
    case RequestKind::Rename:
        out += "changetype: modrdn\n";
        Line(out, "newrdn", r.newRDN);
        out += "deleteoldrdn: 1\n";
        if (!r.newParent.empty()) Line(out, "newsuperior", r.newParent);
        break;
    default:
        out += "changetype: modify\n";
        if (r.mods)
            for (std::size_t i = 0; i < r.mods->Count(); ++i) {
                const LDAPMod& m = r.mods->At(i);
                out += OpName(m.mod_op);
                out += ": ";
                out += m.mod_type;
                out += '\n';
                Values(out, m, maskSecrets);
                out += "-\n";
            }
        break;
    }
    out += '\n';
    return out;
}
