// The CSV record store: header map, one compact row per record key, and the
// key registry that serves repeated DNs their rows.
#pragma once

#include "CsvRecord.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Connection defaults carried by an ADCSV marker line.
struct AdcsvDefaults {
    std::string host, port, user, password, hh, url;
    bool simple = false;
    bool ssl = false;
};

class CsvStore {
  public:
    void CreateCSVHeaderMap(const CsvLine& header);
    // Registers a new record key for `dn`: the DN itself the first time,
    // DN + "{{n}}" for the (n+1)-th row with the same DN.
    std::string SetCSVKey(const std::string& dn);
    // The key to use for `dn`; consumed unless `keep`.
    std::string GetCSVKey(const std::string& dn, bool keep);

    // Registers a key for `dn` (as SetCSVKey) and keeps `row` under it.  The
    // record stays at its address for the store's life.
    const CsvRecord& Add(const std::string& dn, const CsvLine& row);
    // The record kept under `key`, or none.
    const CsvRecord* Find(std::string_view key) const;
    std::size_t RecordCount() const { return rows_.size(); }
    // Every kept record with its key, in key order.
    std::vector<std::pair<std::string, const CsvRecord*>> RecordsByKey() const;

    std::map<std::string, std::size_t> header;
    std::vector<std::string> headerFields;
    CsvSettings settings;
    AdcsvDefaults adcsv;

  private:
    static constexpr std::uint32_t kNoRow = UINT32_MAX;
    // The keys of one DN: DN, DN{{1}}, ... DN{{total-1}}.  The first
    // `remaining` of them are still to be served by GetCSVKey; the saved copy
    // of the registry is `total`.
    struct Keys {
        std::uint32_t total = 0;
        std::uint32_t remaining = 0;
        std::uint32_t row = kNoRow; // the row kept under the DN itself
    };
    static std::string KeyOf(const std::string& dn, std::uint32_t n);

    // Rows in input order.
    std::deque<CsvRecord> rows_;
    std::map<std::string, Keys, std::less<>> keys_;
    // Rows of repeated DNs, by their DN{{n}} key.
    std::map<std::string, std::uint32_t, std::less<>> repeats_;
    // DNs with keys still to serve; none left refills every DN from `total`.
    std::size_t live_ = 0;
};
