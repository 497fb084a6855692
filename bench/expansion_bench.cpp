// Expansion throughput and memory through Kelvo's own CSV reader: writes a
// CSV file of 100,000 rows and 20 columns (DN first), reads it the way a
// -csvfile run does (CollectTargets fills the record store and the targets),
// then expands one {{...}} value per column of every row through the run's
// expander, as the per-row requests do.  Reports expansions per second and
// peak RSS, and fails when the work was not done: wrong row, target or
// expansion counts, or an expanded value that differs from the one expected.
//
//   expansion_bench [rows]
#include "DNInput.h"
#include "Expansion.h"
#include "SwitchTable.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kColumns = 20;

std::string ColumnName(std::size_t c) {
    return c == 0 ? "dn" : "col" + std::to_string(c);
}

std::string Dn(std::size_t row) {
    return "CN=b" + std::to_string(row) + ",OU=bench,DC=example,DC=com";
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

// The cell as written in the CSV file.
std::string CellText(std::size_t row, std::size_t c) {
    if (c == 0) return "\"" + Dn(row) + "\"";
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

std::string Upper(std::string s) {
    for (char& ch : s)
        if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
    return s;
}

std::string Lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return s;
}

// What ValueText(c) expands to for `row` (counter = row).
std::string Expected(std::size_t row, std::size_t c) {
    const std::string cell = c == 0 ? Dn(row) : CellText(row, c);
    switch (c % 8) {
    case 0:
        return cell;
    case 1:
        return "cn=" + cell + ",ou=bench";
    case 2:
        return Upper(cell);
    case 3:
        return std::to_string((512 + row % 7) | 0x20);
    case 4:
        return "a_b_c_" + std::to_string(row);
    case 5:
        return "v1|v2|v" + std::to_string(row % 100);
    case 6:
        return std::to_string(row) + "-" + cell;
    default:
        return Lower(cell);
    }
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Fail(const std::string& why) {
    std::fprintf(stderr, "expansion_bench: %s\n", why.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t rows = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
    if (rows == 0) return Fail("no rows asked for");

    char path[] = "/tmp/expansion_benchXXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return Fail("cannot create the CSV file");
    std::FILE* out = fdopen(fd, "w");
    std::string line;
    for (std::size_t c = 0; c < kColumns; ++c)
        line += (c != 0 ? "," : "") + ColumnName(c);
    std::fprintf(out, "%s\n", line.c_str());
    for (std::size_t r = 0; r < rows; ++r) {
        line.clear();
        for (std::size_t c = 0; c < kColumns; ++c) {
            if (c != 0) line += ',';
            line += CellText(r, c);
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
    std::fclose(out);

    // Read it as `kelvo -csv -csvfile FILE` does.
    const auto readStart = std::chrono::steady_clock::now();
    SwitchParser parser{{"kelvo"}, SwitchDeclarations()};
    RunSettings settings;
    settings.csv = true;
    settings.csvFile = path;
    settings.dotInterval = UINT32_MAX;
    TargetInput input;
    LineReader unusedStdin(stdin);
    const Step rc = CollectTargets(parser, settings, unusedStdin, input);
    std::remove(path);
    if (rc) return Fail("reading the CSV failed: " + rc->text);
    const std::chrono::duration<double> readTime = std::chrono::steady_clock::now() - readStart;
    if (input.targets.size() != rows || input.csv.RecordCount() != rows)
        return Fail("read " + std::to_string(input.targets.size()) + " targets and " +
                    std::to_string(input.csv.RecordCount()) + " records, expected " +
                    std::to_string(rows));
    const long readPeak = PeakRssKiB();

    std::vector<std::string> attributes;
    std::vector<std::string> texts;
    for (std::size_t c = 0; c < kColumns; ++c) {
        attributes.push_back(ColumnName(c));
        texts.push_back(ValueText(c));
    }
    const RunExpansion expander(nullptr, &input.csv.header);

    std::size_t expansions = 0;
    std::size_t bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t r = 0; r < rows; ++r) {
        const Target& target = input.targets[r];
        for (std::size_t c = 0; c < kColumns; ++c) {
            const Expanded e = expander.Expand(target, r, texts[c], attributes[c], 0);
            if (!e.ok) return Fail("expansion failed: " + e.message);
            // Every 97th row is compared in full; the others by length.
            if (r % 97 == 0 ? e.value != Expected(r, c) : e.value.empty())
                return Fail("row " + std::to_string(r) + " column " + std::to_string(c) +
                            " expanded to [" + e.value + "], expected [" + Expected(r, c) + "]");
            bytes += e.value.size();
            ++expansions;
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (expansions != rows * kColumns) return Fail("wrong expansion count");

    std::printf("rows: %zu  columns: %zu  expansions: %zu  output bytes: %zu\n", rows, kColumns,
                expansions, bytes);
    std::printf("read: %.3f s  peak RSS after reading: %.1f MiB\n", readTime.count(),
                static_cast<double>(readPeak) / 1024.0);
    std::printf("expand: %.3f s  expansions/s: %.0f\n", elapsed.count(),
                static_cast<double>(expansions) / elapsed.count());
    std::printf("peak RSS: %.1f MiB\n", static_cast<double>(PeakRssKiB()) / 1024.0);
    return 0;
}
