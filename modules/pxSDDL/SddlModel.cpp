// Text helpers of the descriptor engine: only the pieces the friendly
// transforms and the binary builder use, in their simplest correct form.
#include "CSDDL.h"

#include <algorithm>
#include <array>
#include <utility>

namespace pxsddl {

CSDDL::CSDDL(std::string_view value, std::string_view attrName, const SddlContext& ctx)
    : m_SDDL(value), ctx_(ctx) {
    if (!attrName.empty()) m_AttrName = std::string(attrName);
}

std::size_t ExplodeACEs(std::string_view acl, std::vector<std::string>& aces) {
    const auto open = acl.find('(');
    if (open == std::string_view::npos) return 0;
    std::string_view body = acl.substr(open + 1);
    const auto close = body.rfind(')');
    if (close != std::string_view::npos) body = body.substr(0, close);
    std::size_t start = 0;
    while (true) {
        const auto cut = body.find(")(", start);
        if (cut == std::string_view::npos) {
            aces.emplace_back(body.substr(start));
            break;
        }
        aces.emplace_back(body.substr(start, cut - start));
        start = cut + 2;
    }
    return aces.size();
}

void RejoinACEs(std::string& out, const std::vector<std::string>& aces) {
    std::string joined(1, '(');
    for (std::size_t i = 0; i < aces.size(); ++i) {
        if (i > 0) joined.append(")(");
        joined.append(aces[i]);
    }
    joined.push_back(')');
    out = std::move(joined);
}

void GetACLFlags(std::string& flags, std::string& acl) {
    const auto open = acl.find('(');
    if (open == std::string::npos) {
        flags = acl;
        acl.clear();
        return;
    }
    flags = acl.substr(0, open);
    acl.erase(0, open);
}

void DeconstructSDDL(std::string_view text, std::map<std::string, std::string>& parts) {
    // Markers outside "{{...}}" wrappers only: "{{SID:" holds a "D:".
    std::vector<std::pair<std::size_t, char>> marks;
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '{')
            ++depth;
        else if (c == '}' && depth > 0)
            --depth;
        else if (depth == 0 && i + 1 < text.size() && text[i + 1] == ':' &&
                 (c == 'O' || c == 'G' || c == 'D' || c == 'S')) {
            const bool seen = std::any_of(marks.begin(), marks.end(),
                                          [c](const auto& m) { return m.second == c; });
            if (!seen) marks.emplace_back(i, c);
        }
    }
    for (std::size_t m = 0; m < marks.size(); ++m) {
        const std::size_t begin = marks[m].first + 2;
        const std::size_t end = m + 1 < marks.size() ? marks[m + 1].first : text.size();
        parts[std::string(1, marks[m].second)] = std::string(text.substr(begin, end - begin));
    }
}

} // namespace pxsddl
