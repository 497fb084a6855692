// One CSV line to fields, each field a list of values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct CsvSettings {
    char delim = ',';
    char mvDelim = ';';
    char quote = '"';
};

using CsvField = std::vector<std::string>;
using CsvLine = std::vector<CsvField>;

// Splits `line` into fields at `delim` outside quotes, and each field into
// values at `mvDelim` (inside quotes too).  Backslash escapes the quote and
// the value separator; "\\" stays as two backslashes.  A value written
// X'0a1b' (binary notation of export tools) becomes the hex text 0a1b.
// False when a quote is left open at the end of the line.
[[nodiscard]] bool ParseCSVLine(std::string_view line, const CsvSettings& settings, CsvLine& out);
