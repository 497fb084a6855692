#include "ModList.h"

#include "Secrets.h"

#include <algorithm>
#include <cctype>

const char* ModList::Keep(const std::string& s) {
    return strings_.emplace_back(s).c_str();
}

void ModList::Appended() {
    pointers_.back() = &mods_.back();
    pointers_.push_back(nullptr);
}

void ModList::AddClear(int op, const std::string& name) {
    LDAPMod& m = mods_.emplace_back();
    m.mod_op = op;
    m.mod_type = const_cast<char*>(Keep(name));
    m.mod_values = nullptr;
    Appended();
}

void ModList::AddStrings(int op, const std::string& name, const std::vector<std::string>& values) {
    auto& arr = stringArrays_.emplace_back();
    for (const auto& v : values)
        arr.push_back(const_cast<char*>(Keep(v)));
    arr.push_back(nullptr);
    LDAPMod& m = mods_.emplace_back();
    m.mod_op = op;
    m.mod_type = const_cast<char*>(Keep(name));
    m.mod_values = arr.data();
    Appended();
}

void ModList::AddBinary(int op, const std::string& name, const std::vector<Bytes>& values) {
    auto& arr = bervalArrays_.emplace_back();
    for (const auto& v : values) {
        Bytes& kept = bytes_.emplace_back(v);
        berval& bv = bervals_.emplace_back();
        bv.bv_len = static_cast<ber_len_t>(kept.size());
        bv.bv_val = reinterpret_cast<char*>(kept.data());
        arr.push_back(&bv);
    }
    arr.push_back(nullptr);
    LDAPMod& m = mods_.emplace_back();
    m.mod_op = op | LDAP_MOD_BVALUES;
    m.mod_type = const_cast<char*>(Keep(name));
    m.mod_bvalues = arr.data();
    Appended();
}

std::string ModDump(const std::string& dn, const ModList& mods) {
    std::string t = "==================\n------------------\nLDAP MOD STRUCTURE\n"
                    "------------------\nDN: " +
                    dn + "\n";
    for (std::size_t i = 0; i < mods.Count(); ++i) {
        const LDAPMod& m = mods.At(i);
        const int op = m.mod_op & ~LDAP_MOD_BVALUES;
        const char* name = op == LDAP_MOD_ADD       ? "LDAP_MOD_ADD"
                           : op == LDAP_MOD_DELETE  ? "LDAP_MOD_DELETE"
                           : op == LDAP_MOD_REPLACE ? "LDAP_MOD_REPLACE"
                                                    : "UNKNOWN";
        t += "Mod #" + std::to_string(i) + "\n";
        t += "Mod Op: (" + std::to_string(op) + ") " + name;
        if (m.mod_op & LDAP_MOD_BVALUES) t += " | LDAP_MOD_BVALUES";
        t += "\nAttribute: " + std::string(m.mod_type) + "\n";
        if (m.mod_op & LDAP_MOD_BVALUES) {
            t += "BERVAL\n";
        } else if (!m.mod_values || !m.mod_values[0]) {
            t += "Clear Values\n";
        } else {
            const bool secret = IsSecretAttribute(m.mod_type);
            for (int j = 0; m.mod_values[j]; ++j)
                t += "Value " + std::to_string(j) + "=" +
                     (secret ? std::string(kRedacted) : std::string(m.mod_values[j])) + "\n";
        }
    }
    t += "------------------\n==================";
    return t;
}

std::optional<std::string> ReplacedValue(const ModList& mods, std::string_view attribute) {
    for (std::size_t i = 0; i < mods.Count(); ++i) {
        const LDAPMod& m = mods.At(i);
        if ((m.mod_op & ~LDAP_MOD_BVALUES) != LDAP_MOD_REPLACE || m.mod_type == nullptr) continue;
        const std::string_view name = m.mod_type;
        if (name.size() != attribute.size() ||
            !std::equal(name.begin(), name.end(), attribute.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) ==
                       std::tolower(static_cast<unsigned char>(b));
            }))
            continue;
        if ((m.mod_op & LDAP_MOD_BVALUES) != 0) {
            if (m.mod_bvalues && m.mod_bvalues[0])
                return std::string(m.mod_bvalues[0]->bv_val, m.mod_bvalues[0]->bv_len);
        } else if (m.mod_values && m.mod_values[0]) {
            return std::string(m.mod_values[0]);
        }
    }
    return std::nullopt;
}
