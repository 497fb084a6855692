#include "CsvRecord.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kHeaderWords = 4;
constexpr std::size_t kHeaderBytes = kHeaderWords * sizeof(std::uint32_t);
enum HeaderWord : std::size_t { kBytes = 0, kFields = 1, kValues = 2, kWidth = 3 };

} // namespace

CsvRecord::CsvRecord(const CsvLine& line) {
    if (line.empty()) return;
    std::size_t values = 0;
    std::size_t chars = 0;
    for (const CsvField& field : line) {
        values += field.size();
        for (const std::string& v : field)
            chars += v.size();
    }
    // Offsets count values and characters; two bytes do for most lines.
    const std::size_t largest = std::max(chars, values);
    const std::size_t width = largest <= std::numeric_limits<std::uint16_t>::max() ? 2 : 4;
    const std::size_t offsets = line.size() + 1 + values;
    const std::size_t bytes = kHeaderBytes + offsets * width + chars;
    block_ = std::make_unique_for_overwrite<char[]>(bytes);
    char* p = block_.get();
    const std::uint32_t header[kHeaderWords] = {
        static_cast<std::uint32_t>(bytes), static_cast<std::uint32_t>(line.size()),
        static_cast<std::uint32_t>(values), static_cast<std::uint32_t>(width)};
    std::memcpy(p, header, kHeaderBytes);
    char* offset = p + kHeaderBytes;
    const auto put = [&](std::size_t n) {
        if (width == 2) {
            const auto v = static_cast<std::uint16_t>(n);
            std::memcpy(offset, &v, sizeof v);
        } else {
            const auto v = static_cast<std::uint32_t>(n);
            std::memcpy(offset, &v, sizeof v);
        }
        offset += width;
    };
    std::size_t first = 0;
    for (const CsvField& field : line) {
        put(first);
        first += field.size();
    }
    put(first);
    char* text = p + kHeaderBytes + offsets * width;
    std::size_t end = 0;
    for (const CsvField& field : line) {
        for (const std::string& v : field) {
            std::memcpy(text + end, v.data(), v.size());
            end += v.size();
            put(end);
        }
    }
}

CsvRecord::CsvRecord(const CsvRecord& other) {
    *this = other;
}

CsvRecord& CsvRecord::operator=(const CsvRecord& other) {
    if (this == &other) return *this;
    if (!other.block_) {
        block_.reset();
        return *this;
    }
    const std::size_t bytes = other.Header(kBytes);
    auto copy = std::make_unique_for_overwrite<char[]>(bytes);
    std::memcpy(copy.get(), other.block_.get(), bytes);
    block_ = std::move(copy);
    return *this;
}

std::uint32_t CsvRecord::Header(std::size_t i) const {
    std::uint32_t v = 0;
    std::memcpy(&v, block_.get() + i * sizeof v, sizeof v);
    return v;
}

std::uint32_t CsvRecord::Offset(std::size_t i) const {
    const char* p = block_.get() + kHeaderBytes;
    if (Header(kWidth) == 2) {
        std::uint16_t v = 0;
        std::memcpy(&v, p + i * sizeof v, sizeof v);
        return v;
    }
    std::uint32_t v = 0;
    std::memcpy(&v, p + i * sizeof v, sizeof v);
    return v;
}

std::string_view CsvRecord::Chars() const {
    const std::size_t start =
        kHeaderBytes + (Header(kFields) + 1 + Header(kValues)) * Header(kWidth);
    return {block_.get() + start, Header(kBytes) - start};
}

std::size_t CsvRecord::size() const {
    return block_ ? Header(kFields) : 0;
}

std::size_t CsvRecord::ValueCount(std::size_t field) const {
    return Offset(field + 1) - Offset(field);
}

std::string_view CsvRecord::Value(std::size_t field, std::size_t value) const {
    const std::size_t index = Offset(field) + value;
    const std::size_t ends = Header(kFields) + 1;
    const std::size_t begin = index == 0 ? 0 : Offset(ends + index - 1);
    const std::size_t end = Offset(ends + index);
    return Chars().substr(begin, end - begin);
}

CsvLine CsvRecord::ToLine() const {
    CsvLine line(size());
    for (std::size_t f = 0; f < line.size(); ++f) {
        const std::size_t n = ValueCount(f);
        line[f].reserve(n);
        for (std::size_t v = 0; v < n; ++v)
            line[f].emplace_back(Value(f, v));
    }
    return line;
}

std::size_t CsvRecord::HeapBytes() const {
    return block_ ? Header(kBytes) : 0;
}

bool operator==(const CsvRecord& a, const CsvRecord& b) {
    if (!a.block_ || !b.block_) return a.empty() && b.empty();
    const std::size_t bytes = a.Header(kBytes);
    return bytes == b.Header(kBytes) && std::memcmp(a.block_.get(), b.block_.get(), bytes) == 0;
}
