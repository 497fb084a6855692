// A parsed CSV line kept compactly: every value in one block with small
// offset tables, one allocation per line.  Read through field and value
// indexes; values come back as views into the block.
#pragma once

#include "CsvLine.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class CsvRecord;

// The values of one field of a record, in order.  Valid while the record is.
class CsvFieldView {
  public:
    CsvFieldView(const CsvRecord& record, std::size_t field) : record_(&record), field_(field) {}
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    std::string_view operator[](std::size_t value) const;

  private:
    const CsvRecord* record_;
    std::size_t field_;
};

class CsvRecord {
  public:
    CsvRecord() = default;
    explicit CsvRecord(const CsvLine& line);
    CsvRecord(const CsvRecord& other);
    CsvRecord& operator=(const CsvRecord& other);
    CsvRecord(CsvRecord&&) noexcept = default;
    CsvRecord& operator=(CsvRecord&&) noexcept = default;
    ~CsvRecord() = default;

    // Number of fields.
    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Number of values of `field` (< size()).
    std::size_t ValueCount(std::size_t field) const;
    // Value `value` (< ValueCount(field)) of `field`.
    std::string_view Value(std::size_t field, std::size_t value) const;
    CsvFieldView operator[](std::size_t field) const { return {*this, field}; }
    // The record as fields of owned values again.
    CsvLine ToLine() const;
    // Bytes the record holds on the heap.
    std::size_t HeapBytes() const;

    friend bool operator==(const CsvRecord& a, const CsvRecord& b);

  private:
    std::uint32_t Header(std::size_t i) const;
    std::uint32_t Offset(std::size_t i) const;
    std::string_view Chars() const;

    // Header (4 x uint32: block size, field count, value count, offset
    // width), then the offsets at that width (2 or 4 bytes): for each field
    // the index of its first value, plus one past the last field; for each
    // value the end of its text.  Then the text of every value, back to back.
    std::unique_ptr<char[]> block_;
};

inline std::size_t CsvFieldView::size() const {
    return record_->ValueCount(field_);
}

inline std::string_view CsvFieldView::operator[](std::size_t value) const {
    return record_->Value(field_, value);
}
