#include "CsvLine.h"

#include "Diag.h"

namespace {

void EndField(std::string& value, CsvField& field, CsvLine& out) {
    if (value.starts_with("X'")) {
        value.erase(0, 2);
        std::erase(value, '\'');
    }
    field.push_back(std::move(value));
    out.push_back(std::move(field));
    value.clear();
    field.clear();
}

} // namespace

bool ParseCSVLine(std::string_view line, const CsvSettings& s, CsvLine& out) {
    KELVO_TRACE_SCOPE();
    std::string text(line);
    text.push_back(s.delim);
    bool inQuote = false;
    bool escape = false;
    std::string value;
    CsvField field;
    for (char c : text) {
        if (c == '\\') {
            if (escape) {
                value += "\\\\";
                escape = false;
            } else {
                escape = true;
            }
            continue;
        }
        if (escape) {
            escape = false;
            if (c == s.quote || c == s.mvDelim) {
                value.push_back(c);
                continue;
            }
            value.push_back('\\');
        }
        if (c == s.quote) {
            inQuote = !inQuote;
        } else if (c == s.mvDelim) {
            field.push_back(std::move(value));
            value.clear();
        } else if (inQuote) {
            value.push_back(c);
        } else if (c == s.delim) {
            EndField(value, field, out);
        } else {
            value.push_back(c);
        }
    }
    if (diag::Debug()) {
        // The line may hold passwords in columns only the caller knows:
        // the raw text is a -d2 detail.
        if (diag::Trace()) diag::Out("DEBUG: LINE=[" + std::string(line) + "]\n");
        diag::Out("DEBUG: CSV FIELDS\n");
        diag::Out(std::string("DEBUG:  delim  =") + s.delim + "\n");
        diag::Out(std::string("DEBUG:  mvdelim=") + s.mvDelim + "\n");
        diag::Out(std::string("DEBUG:  quote  =") + s.quote + "\n");
    }
    return !inQuote;
}
