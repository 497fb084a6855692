// A request's modification array together with everything it points to.
// Every buffer made for one request is owned here and released with it.
#pragma once

#include <ldap.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class ModList {
  public:
    ModList() = default;
    ModList(const ModList&) = delete;
    ModList& operator=(const ModList&) = delete;

    void AddClear(int op, const std::string& name);
    void AddStrings(int op, const std::string& name, const std::vector<std::string>& values);
    void AddBinary(int op, const std::string& name, const std::vector<Bytes>& values);

    // NULL-terminated array for libldap; nullptr-terminated even when empty.
    // libldap reads the records and never writes them, so a shared, const
    // list can be sent by any number of requests.
    LDAPMod** Array() const { return const_cast<LDAPMod**>(pointers_.data()); }
    std::size_t Count() const { return mods_.size(); }
    bool Empty() const { return mods_.empty(); }
    const LDAPMod& At(std::size_t i) const { return mods_[i]; }

  private:
    const char* Keep(const std::string& s);
    void Appended();

    std::deque<std::string> strings_;
    std::deque<std::vector<char*>> stringArrays_;
    std::deque<Bytes> bytes_;
    std::deque<berval> bervals_;
    std::deque<std::vector<berval*>> bervalArrays_;
    std::deque<LDAPMod> mods_;
    std::vector<LDAPMod*> pointers_{nullptr};
};

// The first value a replace of `attribute` (any letter case) writes, when
// the list has one with a value.
std::optional<std::string> ReplacedValue(const ModList& mods, std::string_view attribute);

// Text dump of a modification array for the log.
std::string ModDump(const std::string& dn, const ModList& mods);
