// Shared between the expansion scanner, its opcode table and its field
// modifier table.  Not part of the module's interface.
#pragma once

#include "VarExpansion.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace expansion {

struct Failure {
    int code = 0;
    std::vector<std::string> lines; // without the closing "Terminating" line
};
// nullopt: the step succeeded.
using Status = std::optional<Failure>;

// One expression being expanded.
struct Call {
    const ExpansionContext& ctx;
    std::string_view name;      // as written
    std::string_view modifiers; // text after the name's ':' (case suffix removed)
    bool secret = false;        // show "********" instead of expression parts
    // What error messages may quote of `text`.
    std::string Shown(std::string_view text) const {
        return secret ? std::string("********") : std::string(text);
    }
};

// The context's services, or none at all.
const ExpansionServices& ServicesOf(const ExpansionContext& ctx);

// At -d writes `line` + `shown` + "\n"; a non-empty `shown` becomes
// "********" for secrets unless -d2 is on.
void DebugLine(const Call& call, std::string_view line, std::string_view shown = {});

// --- Failures (message texts live here only) --------------------------------

Failure NotInCsv(const Call& call, std::string_view column);
Failure UnknownOpcode(const Call& call);
Failure NeedsDnValues();
// `what`: the opcode or modifier that needs a service the context lacks.
Failure ServiceMissing(const Call& call, std::string_view what);
Failure InvalidModifier(const Call& call, std::string_view modifier);
Failure MissingTime(std::string_view opcode);
Failure Unterminated();
Failure NoRecord();
// `where`: the object's DN, or a description of the record.
Failure ShortRecord(const Call& call, std::string_view column, std::size_t index,
                    std::size_t fields, std::string_view where);
Failure DivisionByZero();

// --- Numbers and time shifts ------------------------------------------------

// The signed decimal integer at the start of `text` ("-30d" is -30, no
// digits is 0); wraps on overflow.
std::int64_t LeadingInt(std::string_view text);
// An operand of the arithmetic modifiers: "b" binary digits, "0x" hex,
// otherwise signed decimal; reading stops at the first other character.
std::uint32_t ParseOperand(std::string_view text);
std::string Int64Text(std::int64_t value);

// Moves an int8 instant by `op` ("+d", "-d", "+h", "-h", "+m", "-m") times
// `count`.  False for an unknown op.
bool ShiftInt8(std::string_view op, std::string_view count, std::int64_t& instant);

// --- Tables -----------------------------------------------------------------

// Runs the opcode `call.name` (lower case in `lcName`) into `out`.
Status RunOpcode(const Call& call, std::string_view lcName, std::string& out);
// Applies the field modifier text `call.modifiers` to `value`, the value of
// `field` at the current position.
Status ApplyModifier(const Call& call, CsvFieldView field, std::string& value);

} // namespace expansion
