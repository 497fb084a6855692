#include "VarExpansion.h"

#include "Diag.h"
#include "ExpansionInternal.h"
#include "pellixstrings.h"

#include <array>

namespace expansion {

namespace {

constexpr std::string_view kTerminating = "ERROR: Terminating Program.";

} // namespace

const ExpansionServices& ServicesOf(const ExpansionContext& ctx) {
    static const ExpansionServices kNone;
    return ctx.services != nullptr ? *ctx.services : kNone;
}

void DebugLine(const Call& call, std::string_view line, std::string_view shown) {
    if (!diag::Debug()) return;
    std::string text(line);
    text += call.secret && !shown.empty() && !diag::Trace() ? "********" : shown;
    text += '\n';
    diag::Out(text);
}

Failure NotInCsv(const Call& call, std::string_view column) {
    return {expansioncode::kUnknownName,
            {"ERROR: Attribute (" + call.Shown(column) + ") is not listed in the CSV input"}};
}

Failure UnknownOpcode(const Call& call) {
    return {expansioncode::kUnknownName,
            {"ERROR: Unknown expansion variable (" + call.Shown(call.name) + ")"}};
}

Failure NeedsDnValues() {
    return {expansioncode::kUnknownName,
            {"ERROR: DN based expansion variables only available in CSV mode (bDNVals=0)"}};
}

Failure ServiceMissing(const Call& call, std::string_view what) {
    return {expansioncode::kUnknownName,
            {"ERROR: Expansion variable (" + call.Shown(what) + ") is not available here"}};
}

Failure InvalidModifier(const Call& call, std::string_view modifier) {
    return {expansioncode::kInvalidModifier,
            {"ERROR: Invalid Modifier (" + call.Shown(modifier) + ")"}};
}

Failure MissingTime(std::string_view opcode) {
    return {expansioncode::kMissingTime,
            {"", "", "ERROR: Need to specify time with " + std::string(opcode)}};
}

Failure Unterminated() {
    return {expansioncode::kUnknownName,
            {"ERROR: Expansion expression opened with {{ is not closed with }}"}};
}

Failure NoRecord() {
    return {expansioncode::kNoRecord,
            {"ERROR: Critical internal failure 10023 ",
             "ERROR: Verify that CSV lines are available in PIPE input. "}};
}

Failure ShortRecord(const Call& call, std::string_view column, std::size_t index,
                    std::size_t fields, std::string_view where) {
    return {expansioncode::kShortRecord,
            {"ERROR: Critical internal failure 10024 |" + call.Shown(column) + "|" +
                 std::to_string(index) + "|" + std::to_string(fields),
             "ERROR: Doublecheck field count for this entry in CSV stream (" + std::string(where) +
                 ")."}};
}

Failure DivisionByZero() {
    return {expansioncode::kInvalidModifier, {"ERROR: Division by zero in modifier (/)"}};
}

std::int64_t LeadingInt(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::uint64_t v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = v * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (negative) v = 0 - v;
    return static_cast<std::int64_t>(v);
}

std::uint32_t ParseOperand(std::string_view text) {
    unsigned base = 10;
    if (!text.empty() && (text[0] == 'b' || text[0] == 'B')) {
        base = 2;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (base == 10) return static_cast<std::uint32_t>(LeadingInt(text));
    std::uint32_t v = 0;
    for (char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            break;
        }
        if (digit >= base) break;
        v = v * base + digit;
    }
    return v;
}

std::string Int64Text(std::int64_t value) {
    return std::to_string(value);
}

namespace {

// int8 units of one day, hour and minute.
struct Shift {
    std::string_view op;
    std::int64_t units;
};
constexpr std::array<Shift, 6> kShifts{{
    {"+d", 864000000000LL},
    {"-d", -864000000000LL},
    {"+h", 36000000000LL},
    {"-h", -36000000000LL},
    {"+m", 600000000LL},
    {"-m", -600000000LL},
}};

} // namespace

bool ShiftInt8(std::string_view op, std::string_view count, std::int64_t& instant) {
    for (const Shift& s : kShifts) {
        if (!IEquals(op, s.op)) continue;
        // Unsigned arithmetic: absurd counts wrap instead of overflowing.
        const std::uint64_t delta =
            static_cast<std::uint64_t>(LeadingInt(count)) * static_cast<std::uint64_t>(s.units);
        instant = static_cast<std::int64_t>(static_cast<std::uint64_t>(instant) + delta);
        return true;
    }
    return false;
}

namespace {

// Attributes whose values never appear in messages or debug lines.
constexpr std::array<std::string_view, 2> kSecretAttributes{"unicodepwd", "userpassword"};

std::string_view BareAttribute(std::string_view attribute) {
    const std::size_t hashes = attribute.find("##");
    return hashes == std::string_view::npos ? attribute : attribute.substr(hashes + 2);
}

std::string LowerName(std::string_view name, std::string_view attribute) {
    return StrToLower(name.empty() || name == "." ? BareAttribute(attribute) : name);
}

// The column's field of the current record.
Status FindField(const Call& call, const std::string& lcName, std::size_t& field) {
    const ExpansionContext& ctx = call.ctx;
    const std::string_view shown =
        call.name.empty() || call.name == "." ? BareAttribute(ctx.attribute) : call.name;
    if (ctx.header == nullptr) return NotInCsv(call, shown);
    const auto it = ctx.header->find(lcName);
    if (it == ctx.header->end()) return NotInCsv(call, shown);
    if (ctx.record == nullptr) return NoRecord();
    if (it->second >= ctx.record->size()) {
        std::string where = "record has " + std::to_string(ctx.record->size()) + " fields";
        if (ctx.dnValues != nullptr) {
            if (auto dn = ctx.dnValues->find("DN"); dn != ctx.dnValues->end()) where = dn->second;
        }
        return ShortRecord(call, shown, it->second, ctx.record->size(), where);
    }
    field = it->second;
    return std::nullopt;
}

std::string_view ValueAt(CsvFieldView field, std::size_t pos) {
    const std::size_t n = field.size();
    if (n == 1) return field[0];
    return pos < n ? field[pos] : std::string_view();
}

// True when values of `attribute` (with or without an encoding prefix) are
// secrets.
bool IsSecretAttribute(std::string_view attribute) {
    const std::string_view bare = BareAttribute(attribute);
    for (std::string_view secret : kSecretAttributes)
        if (IEquals(bare, secret)) return true;
    return false;
}

enum class CaseChange { None, Lower, Upper };

// Splits a trailing ":_lc" or ":_uc" off `expr`.
CaseChange TakeCaseSuffix(std::string_view& expr) {
    if (expr.size() < 4 || expr[expr.size() - 4] != ':') return CaseChange::None;
    const std::string_view suffix = expr.substr(expr.size() - 3);
    CaseChange change = CaseChange::None;
    if (IEquals(suffix, "_lc")) change = CaseChange::Lower;
    if (IEquals(suffix, "_uc")) change = CaseChange::Upper;
    if (change != CaseChange::None) expr.remove_suffix(4);
    return change;
}

void DebugExpression(const Call& call, std::string_view text, std::string_view expr,
                     std::string_view lcName) {
    if (!diag::Debug()) return;
    const bool hide = call.secret && !diag::Trace();
    const std::string_view attr = call.ctx.attribute;
    const std::size_t hashes = attr.find("##");
    const std::string_view prefix =
        hashes == std::string_view::npos ? std::string_view() : attr.substr(0, hashes);
    diag::Out("DEBUG: Variable Expansion\n");
    diag::Out("DEBUG:   str   =" + std::string(hide ? "********" : text) + "\n");
    diag::Out("DEBUG:   var   =" + std::string(hide ? "********" : expr) + "\n");
    diag::Out("DEBUG:   attr_prefixtype = " + std::string(prefix) + "\n");
    diag::Out("DEBUG:   attr  =" + std::string(BareAttribute(attr)) + "\n");
    diag::Out("DEBUG:   ocvar = " + call.Shown(call.name) + "\n");
    diag::Out("DEBUG:   lcvar = " + call.Shown(lcName) + "\n");
}

// Expands one expression (the text between "{{" and "}}") onto `out`.
Status ExpandOne(std::string_view text, std::string_view expr, const ExpansionContext& ctx,
                 bool secret, std::string& out) {
    const CaseChange change = TakeCaseSuffix(expr);
    const std::size_t colon = expr.find(':');
    Call call{ctx, expr.substr(0, colon),
              colon == std::string_view::npos ? std::string_view() : expr.substr(colon + 1),
              secret};
    const std::string lcName = LowerName(call.name, ctx.attribute);
    DebugExpression(call, text, expr, lcName);
    if (change == CaseChange::Lower) DebugLine(call, "DEBUG: Lowercase Modifier");
    if (change == CaseChange::Upper) DebugLine(call, "DEBUG: Uppercase Modifier");
    if (!call.modifiers.empty()) DebugLine(call, "DEBUG: Modifier: ", call.modifiers);

    const std::size_t start = out.size();
    if (!lcName.empty() && lcName.front() == '*') {
        if (Status s = RunOpcode(call, lcName, out)) return s;
    } else {
        std::size_t index = 0;
        if (Status s = FindField(call, lcName, index)) return s;
        const CsvFieldView field = (*ctx.record)[index];
        const std::string_view value = ValueAt(field, ctx.valuePos);
        if (call.modifiers.empty()) {
            out.append(value);
        } else {
            std::string changed(value);
            if (Status s = ApplyModifier(call, field, changed)) return s;
            out.append(changed);
        }
    }
    if (change != CaseChange::None) {
        for (std::size_t i = start; i < out.size(); ++i) {
            char& c = out[i];
            if (change == CaseChange::Lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
            if (change == CaseChange::Upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
    }
    return std::nullopt;
}

ExpansionResult Failed(Failure f) {
    ExpansionResult r;
    r.ok = false;
    r.exitCode = f.code;
    r.messages = std::move(f.lines);
    r.messages.emplace_back(kTerminating);
    return r;
}

} // namespace

} // namespace expansion

ExpansionResult VarExpansion(std::string_view text, const ExpansionContext& ctx) {
    using namespace expansion;
    ExpansionResult result;
    std::size_t open = text.find("{{");
    if (open == std::string_view::npos) {
        result.value.assign(text);
        return result;
    }
    const bool secret = IsSecretAttribute(ctx.attribute);
    std::string& out = result.value;
    out.reserve(text.size() + 32);
    // One pass from left to right: an expression runs from a "{{" to the
    // first "}}" after it.  What an expression produces goes straight to the
    // output and is never scanned again, so values holding braces stay as
    // they are.
    std::size_t pos = 0;
    while (open != std::string_view::npos) {
        const std::size_t close = text.find("}}", open + 2);
        if (close == std::string_view::npos) return Failed(Unterminated());
        out.append(text.substr(pos, open - pos));
        if (Status s = ExpandOne(text, text.substr(open + 2, close - open - 2), ctx, secret, out))
            return Failed(std::move(*s));
        pos = close + 2;
        open = text.find("{{", pos);
    }
    out.append(text.substr(pos));
    return result;
}

std::size_t VarExpansionAttrCnt(std::string_view valueText, std::string_view attribute,
                                const ExpansionHeaderMap& header, const CsvRecord& row) {
    const std::size_t open = valueText.find("{{");
    if (open == std::string_view::npos || valueText.find("}}") == std::string_view::npos) return 0;
    const std::string_view rest = valueText.substr(open + 2);
    std::string_view name = rest.substr(0, std::min(rest.find(':'), rest.find("}}")));
    if (name.empty() || name.front() == '.') name = expansion::BareAttribute(attribute);
    const auto it = header.find(StrToLower(name));
    if (it == header.end() || it->second >= row.size()) return 0;
    return row.ValueCount(it->second);
}
