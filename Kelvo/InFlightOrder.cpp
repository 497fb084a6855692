#include "InFlightOrder.h"

#include <algorithm>
#include <cctype>

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char LowerAscii(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string Trim(std::string s) {
    const auto notSpace = [](unsigned char c) { return c != ' '; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notSpace));
    s.erase(std::find_if(s.rbegin(), s.rend(), notSpace).base(), s.end());
    return s;
}

// The new DN of a rename or move: the new RDN under the new parent, or
// under the old one.
std::string RenamedDn(const Request& r) {
    if (!r.newParent.empty()) return r.newRDN + "," + r.newParent;
    // The parent is what follows the first unescaped comma.
    for (std::size_t i = 0; i < r.dn.size(); ++i) {
        if (r.dn[i] == '\\') {
            ++i;
            continue;
        }
        if (r.dn[i] == ',') return r.newRDN + r.dn.substr(i);
    }
    return r.newRDN;
}

bool IsPrefix(const std::vector<std::string>& shorter, const std::vector<std::string>& longer) {
    return shorter.size() <= longer.size() &&
           std::equal(shorter.begin(), shorter.end(), longer.begin());
}

} // namespace

std::vector<std::string> DnPath(std::string_view dn) {
    std::vector<std::string> path;
    if (dn.empty() || dn.front() == '<') return path;
    // Each RDN keeps only its values: an attribute type's other spellings
    // (cn, commonName, 2.5.4.3) then still compare equal.
    std::string rdn;
    std::size_t typeStart = 0; // where the current attribute type began in `rdn`
    bool inValue = false;
    auto endRdn = [&] {
        path.push_back(Trim(std::move(rdn)));
        rdn.clear();
        typeStart = 0;
        inValue = false;
    };
    for (std::size_t i = 0; i < dn.size(); ++i) {
        const char c = dn[i];
        if (c == '\\' && i + 1 < dn.size()) {
            const int hi = HexDigit(dn[i + 1]);
            const int lo = i + 2 < dn.size() ? HexDigit(dn[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                rdn += LowerAscii(static_cast<char>(hi * 16 + lo));
                i += 2;
            } else {
                rdn += LowerAscii(dn[i + 1]);
                ++i;
            }
            continue;
        }
        if (c == ',' || c == ';') {
            endRdn();
            continue;
        }
        if (c == '=' && !inValue) {
            rdn.resize(typeStart);
            inValue = true;
            continue;
        }
        if (c == '+') {
            // Multi-valued RDNs keep their values in the order given.
            rdn += '+';
            typeStart = rdn.size();
            inValue = false;
            continue;
        }
        rdn += LowerAscii(c);
    }
    endRdn();
    std::reverse(path.begin(), path.end());
    return path;
}

RequestScope ScopeOf(const Request& r) {
    RequestScope scope;
    auto add = [&scope](std::string_view dn) {
        std::vector<std::string> path = DnPath(dn);
        if (path.empty())
            scope.barrier = true;
        else
            scope.paths.push_back(std::move(path));
    };
    add(r.dn);
    if (r.kind == RequestKind::Rename) add(RenamedDn(r));
    // An undelete's new place is the DN it writes to distinguishedName.
    if (r.kind == RequestKind::Modify && r.mods)
        if (auto restored = ReplacedValue(*r.mods, "distinguishedName")) add(*restored);
    return scope;
}

bool Overlaps(const RequestScope& a, const RequestScope& b) {
    if (a.barrier || b.barrier) return true;
    for (const auto& x : a.paths)
        for (const auto& y : b.paths)
            if (IsPrefix(x, y) || IsPrefix(y, x)) return true;
    return false;
}
