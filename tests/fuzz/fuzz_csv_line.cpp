// One CSV line: ParseCSVLine with the delimiters and quotes -csv runs may
// use, and the compact CsvRecord made from what it parses, which must give
// back every value unchanged.
//
// Input: one option byte, then the line.
//   bits 0-1 field delimiter (",", ";", TAB, "|"), bits 2-3 value delimiter
//   (";", "|", ",", " "), bit 4 quote ("\"" or "'"), bit 7 the line repeated
//   twenty times (wide records use four-byte offsets)
#include "CsvLine.h"
#include "CsvRecord.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Options o(fuzz::Text(data, size));
    static constexpr char kDelims[] = {',', ';', '\t', '|'};
    static constexpr char kMvDelims[] = {';', '|', ',', ' '};
    CsvSettings settings;
    settings.delim = kDelims[o.bits & 3];
    settings.mvDelim = kMvDelims[(o.bits >> 2) & 3];
    settings.quote = o.Has(4) ? '\'' : '"';
    std::string text(o.rest);
    if (o.Has(7)) {
        for (int i = 0; i < 19; ++i) {
            text += settings.delim;
            text += o.rest;
        }
    }

    CsvLine line;
    if (!ParseCSVLine(text, settings, line)) return 0;
    const CsvRecord record(line);
    fuzz::Check(record.size() == line.size(), "the record has another number of fields");
    for (std::size_t f = 0; f < line.size(); ++f) {
        fuzz::Check(record.ValueCount(f) == line[f].size() && record[f].size() == line[f].size(),
                    "a field has another number of values");
        for (std::size_t v = 0; v < line[f].size(); ++v)
            fuzz::Check(record.Value(f, v) == line[f][v] && record[f][v] == line[f][v],
                        "a value changed in the record");
    }
    fuzz::Check(record.ToLine() == line, "the record does not give back its line");
    const CsvRecord copy(record);
    fuzz::Check(copy == record, "a copy differs from its record");
    CsvRecord assigned;
    assigned = copy;
    fuzz::Check(assigned == record && assigned.HeapBytes() == record.HeapBytes(),
                "an assigned record differs");
    CsvRecord moved(std::move(assigned));
    fuzz::Check(moved == record, "a moved record differs");
    return 0;
}
