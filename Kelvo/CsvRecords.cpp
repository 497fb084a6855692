#include "CsvRecords.h"

#include <algorithm>

void CsvStore::CreateCSVHeaderMap(const CsvLine& fields) {
    header.clear();
    headerFields.clear();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        std::string name = fields[i].empty() ? std::string() : fields[i].front();
        headerFields.push_back(name);
        header.emplace(name, i);
    }
}

std::string CsvStore::KeyOf(const std::string& dn, std::uint32_t n) {
    return n == 0 ? dn : dn + "{{" + std::to_string(n) + "}}";
}

std::string CsvStore::SetCSVKey(const std::string& dn) {
    Keys& k = keys_[dn];
    std::string key = KeyOf(dn, k.remaining);
    if (k.remaining++ == 0) ++live_;
    ++k.total;
    return key;
}

std::string CsvStore::GetCSVKey(const std::string& dn, bool keep) {
    if (live_ == 0) {
        for (auto& [name, k] : keys_) {
            k.remaining = k.total;
            if (k.remaining != 0) ++live_;
        }
    }
    auto it = keys_.find(dn);
    if (it == keys_.end() || it->second.remaining == 0) return dn;
    Keys& k = it->second;
    if (k.remaining > 1) {
        std::string key = KeyOf(dn, k.remaining - 1);
        if (!keep) --k.remaining;
        return key;
    }
    if (!keep) {
        k.remaining = 0;
        --live_;
    }
    return dn;
}

const CsvRecord& CsvStore::Add(const std::string& dn, const CsvLine& row) {
    const std::string key = SetCSVKey(dn);
    const auto index = static_cast<std::uint32_t>(rows_.size());
    rows_.emplace_back(row);
    Keys& k = keys_.find(dn)->second;
    if (key == dn) {
        k.row = index;
    } else {
        repeats_[key] = index;
    }
    return rows_.back();
}

const CsvRecord* CsvStore::Find(std::string_view key) const {
    if (auto it = repeats_.find(key); it != repeats_.end()) return &rows_[it->second];
    if (auto it = keys_.find(key); it != keys_.end() && it->second.row != kNoRow)
        return &rows_[it->second.row];
    return nullptr;
}

std::vector<std::pair<std::string, const CsvRecord*>> CsvStore::RecordsByKey() const {
    std::vector<std::pair<std::string, const CsvRecord*>> out;
    out.reserve(rows_.size());
    for (const auto& [dn, k] : keys_)
        if (k.row != kNoRow) out.emplace_back(dn, &rows_[k.row]);
    for (const auto& [key, index] : repeats_)
        out.emplace_back(key, &rows_[index]);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}
