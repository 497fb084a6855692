// The CSV record store: header map, one parsed row per record key, and the
// key registry that serves repeated DNs their rows.
#pragma once

#include "CsvLine.h"

#include <map>
#include <string>
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

    std::map<std::string, std::size_t> header;
    std::vector<std::string> headerFields;
    std::map<std::string, CsvLine> records;
    CsvSettings settings;
    AdcsvDefaults adcsv;

  private:
    std::map<std::string, std::vector<std::string>> registry_;
    std::map<std::string, std::vector<std::string>> saved_;
};
