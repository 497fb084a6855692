// Expansion throughput: builds a CSV stream of 100,000 rows and 20 columns,
// then expands one {{...}} value per column of every row through
// VarExpansion and reports expansions per second and peak RSS.
//
//   expansion_bench [rows]
#include "CsvLine.h"
#include "VarExpansion.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kColumns = 20;

std::string ColumnName(std::size_t c) {
    return "col" + std::to_string(c);
}

// The value text expanded for column c: a mix of plain references, the
// attribute's own column, case and arithmetic modifiers, replacement,
// multi-value joining and the counter.
std::string ValueText(std::size_t c) {
    switch (c % 8) {
    case 0:
        return "{{.}}";
    case 1:
        return "cn={{" + ColumnName(c) + "}},ou=bench";
    case 2:
        return "{{.:_uc}}";
    case 3:
        return "{{.:set:0x20}}";
    case 4:
        return "{{.:$rall$-$_}}";
    case 5:
        return "{{.:allvals::|}}";
    case 6:
        return "{{*cnt*}}-{{.}}";
    default:
        return "{{" + ColumnName(c) + ":_lc}}";
    }
}

std::string CellText(std::size_t row, std::size_t c) {
    switch (c % 8) {
    case 3:
        return std::to_string(512 + row % 7);
    case 4:
        return "a-b-c-" + std::to_string(row);
    case 5:
        return "v1;v2;v" + std::to_string(row % 100);
    default:
        return "Value" + std::to_string(c) + "-Row" + std::to_string(row);
    }
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;

    ExpansionHeaderMap header;
    std::vector<std::string> attributes;
    std::vector<std::string> texts;
    for (std::size_t c = 0; c < kColumns; ++c) {
        header[ColumnName(c)] = c;
        attributes.push_back(ColumnName(c));
        texts.push_back(ValueText(c));
    }

    std::vector<CsvLine> records(rows);
    const CsvSettings settings;
    for (std::size_t r = 0; r < rows; ++r) {
        std::string line;
        for (std::size_t c = 0; c < kColumns; ++c) {
            if (c != 0) line += ',';
            line += CellText(r, c);
        }
        if (!ParseCSVLine(line, settings, records[r])) {
            std::fprintf(stderr, "row %zu did not parse\n", r);
            return 1;
        }
    }

    const ExpansionValues rootDse{{"DEFAULT", "DC=example,DC=com"}};
    ExpansionValues dnValues{{"DN", "CN=x,DC=example,DC=com"}};
    ExpansionContext ctx;
    ctx.header = &header;
    ctx.rootDse = &rootDse;
    ctx.dnValues = &dnValues;

    std::size_t expansions = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t r = 0; r < rows; ++r) {
        ctx.record = &records[r];
        ctx.counter = static_cast<std::int64_t>(r);
        for (std::size_t c = 0; c < kColumns; ++c) {
            ctx.attribute = attributes[c];
            const ExpansionResult result = VarExpansion(texts[c], ctx);
            if (!result.ok) {
                std::fprintf(stderr, "expansion failed: %s\n", result.messages.front().c_str());
                return 1;
            }
            bytes += result.value.size();
            ++expansions;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

    std::printf("rows: %zu  columns: %zu  expansions: %zu  output bytes: %zu\n", rows, kColumns,
                expansions, bytes);
    std::printf("elapsed: %.3f s  expansions/s: %.0f\n", elapsed.count(),
                static_cast<double>(expansions) / elapsed.count());
    std::printf("peak RSS: %ld KiB\n", PeakRssKiB());
    return 0;
}
