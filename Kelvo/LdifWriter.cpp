#include "LdifWriter.h"

#include "Secrets.h"
#include "pellixstrings.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

constexpr std::string_view kMasked = kRedacted;

bool IsAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// An attribute description as LDIF carries it: a name or numeric OID with
// options ("userCertificate;binary").  Anything else could end the line or
// be read as another field.
bool GoodAttributeName(std::string_view name) {
    if (name.empty() || !(IsAlpha(name.front()) || IsDigit(name.front()))) return false;
    for (const char c : name)
        if (!IsAlpha(c) && !IsDigit(c) && c != '-' && c != '.' && c != ';' && c != '_')
            return false;
    return true;
}

// The name as it may be shown in a message: bytes outside printable ASCII
// as \xHH.
std::string Shown(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(ch);
        } else {
            out += "\\x";
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string_view OpKeyword(int op) {
    switch (op) {
    case LDAP_MOD_ADD:
        return "add";
    case LDAP_MOD_DELETE:
        return "delete";
    case LDAP_MOD_REPLACE:
        return "replace";
    case LDAP_MOD_INCREMENT:
        return "increment";
    default:
        return {};
    }
}

int BareOp(const LDAPMod& m) {
    return m.mod_op & ~LDAP_MOD_BVALUES;
}

// Calls fn(value) for each value of a modification, text or binary.
template <typename Fn> void ForEachValue(const LDAPMod& m, Fn&& fn) {
    if (m.mod_op & LDAP_MOD_BVALUES) {
        if (!m.mod_bvalues) return;
        for (berval** v = m.mod_bvalues; *v; ++v)
            fn(std::string_view((*v)->bv_len == 0 ? "" : (*v)->bv_val, (*v)->bv_len));
    } else {
        if (!m.mod_values) return;
        for (char** v = m.mod_values; *v; ++v)
            fn(std::string_view(*v));
    }
}

bool HasValues(const LDAPMod& m) {
    bool any = false;
    ForEachValue(m, [&](std::string_view) { any = true; });
    return any;
}

void AppendValues(std::string& out, const LDAPMod& m, bool mask) {
    const bool secret = mask && IsSecretAttribute(m.mod_type);
    ForEachValue(m, [&](std::string_view v) {
        if (secret) {
            out.append(m.mod_type).append(": ").append(kMasked).push_back('\n');
        } else {
            out += LdifLine(m.mod_type, v);
        }
    });
}

// A DN in a comment line: as it is when safe, otherwise its base64 form.
std::string CommentDN(const std::string& dn) {
    return LdifSafe(dn) ? dn : "(base64) " + Base64Encode(dn);
}

std::string RefreshComment(const Request& r) {
    return "# refresh " + CommentDN(r.dn) + " ttl " + std::to_string(r.refreshTtl) + "\n";
}

} // namespace

bool LdifSafe(std::string_view value) {
    if (value.empty()) return true;
    const char first = value.front();
    if (first == ' ' || first == ':' || first == '<') return false;
    if (value.back() == ' ') return false;
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c >= 0x7F) return false;
    }
    return true;
}

std::string LdifLine(std::string_view name, std::string_view value) {
    std::string line(name);
    if (value.empty()) {
        line += ":\n";
    } else if (LdifSafe(value)) {
        line.append(": ").append(value).push_back('\n');
    } else {
        line.append(":: ").append(Base64Encode(value)).push_back('\n');
    }
    return line;
}

std::string LdifProblem(const Request& r) {
    switch (r.kind) {
    case RequestKind::None:
    case RequestKind::Delete:
    case RequestKind::Refresh:
        return {};
    case RequestKind::Rename:
        return r.newRDN.empty() ? "a rename without a new name" : std::string();
    case RequestKind::Modify:
    case RequestKind::Add:
        break;
    }
    if (!r.mods) return "no modifications";
    const bool add = r.kind == RequestKind::Add;
    for (std::size_t i = 0; i < r.mods->Count(); ++i) {
        const LDAPMod& m = r.mods->At(i);
        const std::string_view name = m.mod_type ? m.mod_type : "";
        if (!GoodAttributeName(name))
            return "the attribute name \"" + Shown(name) + "\" cannot be written in LDIF";
        if (OpKeyword(BareOp(m)).empty())
            return "operation " + std::to_string(BareOp(m)) + " on " + std::string(name) +
                   " has no LDIF form";
        if (add && (BareOp(m) != LDAP_MOD_ADD || !HasValues(m)))
            return "an add without values for " + std::string(name);
    }
    return {};
}

std::string ChangeRecord(const Request& r, bool maskSecrets) {
    if (r.kind == RequestKind::None || !LdifProblem(r).empty()) return {};
    if (r.kind == RequestKind::Refresh) return RefreshComment(r);
    std::string out = LdifLine("dn", r.dn);
    if (r.controls) {
        for (std::size_t i = 0; i < r.controls->Count(); ++i) {
            const LDAPControl& c = r.controls->At(i);
            out.append("control: ").append(c.ldctl_oid);
            out += c.ldctl_iscritical ? " true" : " false";
            if (c.ldctl_value.bv_len != 0)
                out.append(":: ").append(
                    Base64Encode(std::string_view(c.ldctl_value.bv_val, c.ldctl_value.bv_len)));
            out.push_back('\n');
        }
    }
    switch (r.kind) {
    case RequestKind::Delete:
        out += "changetype: delete\n";
        break;
    case RequestKind::Rename:
        out += "changetype: modrdn\n";
        out += LdifLine("newrdn", r.newRDN);
        out += "deleteoldrdn: 1\n";
        if (!r.newParent.empty()) out += LdifLine("newsuperior", r.newParent);
        break;
    case RequestKind::Add:
        out += "changetype: add\n";
        for (std::size_t i = 0; i < r.mods->Count(); ++i)
            AppendValues(out, r.mods->At(i), maskSecrets);
        break;
    case RequestKind::Modify:
        out += "changetype: modify\n";
        for (std::size_t i = 0; i < r.mods->Count(); ++i) {
            const LDAPMod& m = r.mods->At(i);
            out.append(OpKeyword(BareOp(m))).append(": ").append(m.mod_type).push_back('\n');
            AppendValues(out, m, maskSecrets);
            out += "-\n";
        }
        break;
    case RequestKind::None:
    case RequestKind::Refresh:
        break;
    }
    if (r.refreshTtl >= 0 && (r.kind == RequestKind::Modify || r.kind == RequestKind::Add))
        out += RefreshComment(r);
    return out;
}

bool LdifOutput::Open(const std::string& path) {
    name_ = path;
    platform::OpenedFile opened = platform::OpenPrivateFile(path, false);
    if (!opened.file) {
        error_ = opened.reason;
        return false;
    }
    file_ = std::move(opened.file);
    open_ = true;
    Put("version: 1\n");
    return !failed_;
}

void LdifOutput::Write(const Request& request) {
    if (!open_ || failed_) return;
    if (const std::string problem = LdifProblem(request); !problem.empty()) {
        Fail("the change of " + request.dn + " cannot be written: " + problem);
        return;
    }
    const std::string record = ChangeRecord(request, false);
    if (record.empty()) return;
    Put("\n" + record);
    if (!failed_) ++records_;
}

bool LdifOutput::Close() {
    if (!open_) return true;
    open_ = false;
    if (!file_.Close() && !failed_) Fail(std::strerror(errno));
    return !failed_;
}

void LdifOutput::Put(const std::string& text) {
    if (failed_) return;
    if (!platform::WriteAll(file_.get(), text.data(), text.size())) Fail(std::strerror(errno));
}

void LdifOutput::Fail(std::string reason) {
    failed_ = true;
    error_ = std::move(reason);
}
