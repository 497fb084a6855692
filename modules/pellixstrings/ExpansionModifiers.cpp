// The field modifier table of variable expansion: {{column:modifier...}}.
#include "Diag.h"
#include "ExpansionInternal.h"
#include "pellixstrings.h"

#include <algorithm>

namespace expansion {

namespace {

// One modifier applied to a column value.
struct Use {
    const Call& call;
    CsvFieldView field;     // every value of the column (allvals)
    std::string_view rest;  // text after the modifier's name and separator
    char separator = ':';   // '$' when the modifier text began with '$'
    std::string_view param; // the table entry's parameter
};

using Handler = Status (*)(const Use& use, std::string& value);

struct Modifier {
    std::string_view name; // lower case
    Handler run;
    std::string_view param = {};
};

// "enclocal_int8" / "encutc_int8", optionally followed by "::op:n".
Status EncodeDate(const Use& use, std::string& value) {
    const auto& convert = ServicesOf(use.call.ctx).dateToInt8;
    if (!convert)
        return ServiceMissing(use.call, use.param == "utc" ? "encutc_int8" : "enclocal_int8");
    const std::string int8 = convert(value, use.param == "utc");
    if (int8.empty()) {
        value = "%ERROR% Invalid date format";
        return std::nullopt;
    }
    std::int64_t instant = LeadingInt(int8);
    if (use.rest.starts_with(':')) {
        const std::string_view shift = use.rest.substr(1);
        const std::size_t colon = shift.find(':');
        const std::string_view op = shift.substr(0, colon);
        const std::string_view count =
            colon == std::string_view::npos ? std::string_view() : shift.substr(colon + 1);
        if (!ShiftInt8(op, count, instant)) return InvalidModifier(use.call, op);
    } else if (!use.rest.empty()) {
        return InvalidModifier(use.call, use.rest);
    }
    value = Int64Text(instant);
    return std::nullopt;
}

// "allvals", or "allvals::glue".
Status AllValues(const Use& use, std::string& value) {
    const std::string_view glue = use.rest.starts_with(':') ? use.rest.substr(1) : ";";
    value.clear();
    for (std::size_t i = 0; i < use.field.size(); ++i) {
        if (i != 0) value += glue;
        value += use.field[i];
    }
    return std::nullopt;
}

// "int8+d:n" and friends; the table parameter is the shift op.
Status Int8Shift(const Use& use, std::string& value) {
    std::int64_t instant = LeadingInt(value);
    if (!ShiftInt8(use.param, use.rest, instant)) return InvalidModifier(use.call, use.param);
    value = Int64Text(instant);
    return std::nullopt;
}

// 32-bit arithmetic; the table parameter names the operation.
Status Arithmetic(const Use& use, std::string& value) {
    const std::uint32_t v = ParseOperand(value);
    const std::uint32_t n = ParseOperand(use.rest);
    DebugLine(use.call, "DEBUG: Value=", value);
    DebugLine(use.call, "DEBUG: InsertValue=", use.rest);
    std::uint32_t r = 0;
    switch (use.param.front()) {
    case '&':
        r = v & n;
        break;
    case '|':
        r = v | n;
        break;
    case '^':
        r = v ^ n;
        break;
    case '~':
        r = v & ~n;
        break;
    case '+':
        r = v + n;
        break;
    case '-':
        r = v - n;
        break;
    case '*':
        r = v * n;
        break;
    case '/':
        if (n == 0) return DivisionByZero();
        r = v / n;
        break;
    default:
        return InvalidModifier(use.call, use.param);
    }
    value = std::to_string(r);
    DebugLine(use.call, "DEBUG: New InsertValue=", value);
    return std::nullopt;
}

// "r", "r_ci", "rall", "rall_ci": find and replacement follow, separated by
// ':' or, when the modifier text began with '$', by '$'.
Status Replace(const Use& use, std::string& value) {
    const std::size_t sep = use.rest.find(use.separator);
    const std::string_view find = use.rest.substr(0, sep);
    const std::string_view with =
        sep == std::string_view::npos ? std::string_view() : use.rest.substr(sep + 1);
    const bool all = use.param.starts_with("all");
    const bool ci = use.param.ends_with("ci");
    if (use.separator == '$') DebugLine(use.call, "DEBUG: Overriding for replace functions.");
    DebugLine(use.call, all ? (ci ? "DEBUG: replace all ci..." : "DEBUG: replace all...")
                            : (ci ? "DEBUG: replace ci..." : "DEBUG: replace..."));
    DebugLine(use.call, "DEBUG: Old String: ", value);
    if (diag::Debug())
        DebugLine(use.call, "DEBUG: Replace ", std::string(find) + " with " + std::string(with));
    if (find.empty()) return std::nullopt;
    if (!all) {
        value = StrReplaceFirst(value, find, with, ci);
    } else if (!ci) {
        value = StrReplaceAll(value, find, with, false);
    } else {
        // Every occurrence in any case, also in long texts; inserted text is
        // not searched again.
        const std::string lower = StrToLower(value);
        const std::string lowerFind = StrToLower(find);
        std::string out;
        std::size_t pos = 0;
        for (std::size_t at = lower.find(lowerFind); at != std::string::npos;
             at = lower.find(lowerFind, pos)) {
            out.append(value, pos, at - pos);
            out += with;
            pos = at + find.size();
        }
        out.append(value, pos);
        value = std::move(out);
    }
    DebugLine(use.call, "DEBUG: New String: ", value);
    return std::nullopt;
}

constexpr Modifier kModifiers[] = {
    {"enclocal_int8", EncodeDate, "local"},
    {"encutc_int8", EncodeDate, "utc"},
    {"allvals", AllValues},
    {"int8+d", Int8Shift, "+d"},
    {"int8-d", Int8Shift, "-d"},
    {"int8+h", Int8Shift, "+h"},
    {"int8-h", Int8Shift, "-h"},
    {"int8+m", Int8Shift, "+m"},
    {"int8-m", Int8Shift, "-m"},
    {"and", Arithmetic, "&"},
    {"or", Arithmetic, "|"},
    {"xor", Arithmetic, "^"},
    {"clr", Arithmetic, "~"},
    {"set", Arithmetic, "|"},
    {"+", Arithmetic, "+"},
    {"-", Arithmetic, "-"},
    {"*", Arithmetic, "*"},
    {"/", Arithmetic, "/"},
    {"r", Replace, "first"},
    {"r_ci", Replace, "first_ci"},
    {"rall", Replace, "all"},
    {"rall_ci", Replace, "all_ci"},
};

} // namespace

Status ApplyModifier(const Call& call, CsvFieldView field, std::string& value) {
    std::string_view text = call.modifiers;
    char separator = ':';
    if (text.starts_with('$')) {
        separator = '$';
        text.remove_prefix(1);
    }
    const std::size_t end = text.find(separator);
    const std::string_view name = text.substr(0, end);
    const std::string_view rest =
        end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    const std::string lcName = StrToLower(name);
    const auto* m = std::find_if(std::begin(kModifiers), std::end(kModifiers),
                                 [&](const Modifier& e) { return e.name == lcName; });
    if (m == std::end(kModifiers)) return InvalidModifier(call, name);
    return m->run(Use{call, field, rest, separator, m->param}, value);
}

} // namespace expansion
