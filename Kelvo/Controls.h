// Server controls sent with a request, owned together with their values.
#pragma once

#include "Lookups.h"
#include "ModList.h"

#include <lber.h>
#include <ldap.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kMaxControls = 10;

namespace oid {
inline constexpr std::string_view kPermissiveModify = "1.2.840.113556.1.4.1413";
inline constexpr std::string_view kPolicyHints = "1.2.840.113556.1.4.2239";
inline constexpr std::string_view kSdFlags = "1.2.840.113556.1.4.801";
inline constexpr std::string_view kShowDeleted = kOidShowDeleted;
inline constexpr std::string_view kShowDeactivatedLink = kOidShowDeactivatedLinks;
inline constexpr std::string_view kShowRecycled = kOidShowRecycled;
inline constexpr std::string_view kVerifyName = "1.2.840.113556.1.4.1338";
inline constexpr std::string_view kTreeDelete = "1.2.840.113556.1.4.805";
inline constexpr std::string_view kCrossDomMove = "1.2.840.113556.1.4.521";
} // namespace oid

class ControlList {
  public:
    ControlList() = default;
    ControlList(const ControlList&) = delete;
    ControlList& operator=(const ControlList&) = delete;

    // Adds a critical control; `logLine` is the line the log shows for it.
    // False when the list is full.
    bool Add(std::string_view oid, const Bytes& value, std::string_view logLine);
    // NULL-terminated array, or nullptr when the list is empty.  libldap only
    // reads it, so a shared, const list serves every request of a run.
    LDAPControl** Array() const {
        return controls_.empty() ? nullptr : const_cast<LDAPControl**>(pointers_.data());
    }
    std::size_t Count() const { return controls_.size(); }
    bool Has(std::string_view oid) const;
    // The log lines of the controls, in the order they were added.
    const std::deque<std::string>& LogLines() const { return logLines_; }
    const LDAPControl& At(std::size_t i) const { return controls_[i]; }

  private:
    std::deque<std::string> oids_;
    std::deque<Bytes> values_;
    std::deque<LDAPControl> controls_;
    std::vector<LDAPControl*> pointers_{nullptr};
    std::deque<std::string> logLines_;
};

// BER encodings of control values; nothing when liblber fails to encode.
[[nodiscard]] std::optional<Bytes> BerInt(int value);                            // "{i}"
[[nodiscard]] std::optional<Bytes> BerIntOctets(int value, const Bytes& octets); // "{io}"

// The liblber calls behind the encoders.
struct BerCalls {
    BerElement* (*alloc)(int options) = ber_alloc_t;
    int (*print)(BerElement* ber, const char* format, ...) = ber_printf;
    int (*flatten)(BerElement* ber, berval** out) = ber_flatten;
};

// Puts other calls behind the encoders while it lives, so that tests can
// make liblber fail; the previous calls come back after it.
class ScopedBerCalls {
  public:
    explicit ScopedBerCalls(const BerCalls& calls);
    ~ScopedBerCalls();
    ScopedBerCalls(const ScopedBerCalls&) = delete;
    ScopedBerCalls& operator=(const ScopedBerCalls&) = delete;

  private:
    BerCalls saved_;
};
