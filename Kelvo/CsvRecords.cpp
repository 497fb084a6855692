#include "CsvRecords.h"

void CsvStore::CreateCSVHeaderMap(const CsvLine& fields) {
    header.clear();
    headerFields.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string name = fields[i].empty() ? std::string() : fields[i].front();
        headerFields.push_back(name);
        header.emplace(name, i);
    }
}

std::string CsvStore::SetCSVKey(const std::string& dn) {
    auto& keys = registry_[dn];
    std::string key = keys.empty() ? dn : dn + "{{" + std::to_string(keys.size()) + "}}";
    keys.push_back(key);
    saved_[dn].push_back(key);
    return key;
}

std::string CsvStore::GetCSVKey(const std::string& dn, bool keep) {
    if (registry_.empty()) registry_ = saved_;
    auto it = registry_.find(dn);
    if (it == registry_.end()) return dn;
    auto& keys = it->second;
    if (keys.size() > 1) {
        std::string key = keys.back();
        if (!keep) keys.pop_back();
        return key;
    }
    if (!keep) registry_.erase(it);
    return dn;
}
