#include "LibraryLog.h"

#include "FailureCause.h"

#include <ldap.h>

#include <string_view>

namespace {

// libldap's trace level; its "any" messages (such as a host name mismatch)
// are logged at every level.
constexpr int kTraceLevel = 0x1;
constexpr std::string_view kTlsPrefix = "TLS:";
constexpr std::string_view kCantConnect = "TLS: can't connect:";

TlsLogCapture* g_capture = nullptr;

extern "C" void CapturePrinter(const char* text) {
    if (g_capture != nullptr && text != nullptr) g_capture->Take(text);
}

} // namespace

TlsLogCapture::TlsLogCapture() {
    if (g_capture != nullptr) return;
    if (ber_get_option(nullptr, LBER_OPT_LOG_PRINT_FN, &previousPrinter_) != LBER_OPT_SUCCESS ||
        previousPrinter_ == nullptr)
        return;
    if (ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_) != LDAP_OPT_SUCCESS) return;
    const BER_LOG_PRINT_FN printer = CapturePrinter;
    if (ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<const void*>(printer)) !=
        LBER_OPT_SUCCESS)
        return;
    g_capture = this;
    active_ = true;
    const int level = previousLevel_ | kTraceLevel;
    if (ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level) != LDAP_OPT_SUCCESS) {
        (void)ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN,
                             reinterpret_cast<const void*>(previousPrinter_));
        g_capture = nullptr;
        active_ = false;
    }
}

TlsLogCapture::~TlsLogCapture() {
    if (!active_) return;
    (void)ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &previousLevel_);
    (void)ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN,
                         reinterpret_cast<const void*>(previousPrinter_));
    g_capture = nullptr;
}

void TlsLogCapture::Take(const char* text) {
    // Someone asked libldap for its log before: it still gets every line.
    if (previousLevel_ != 0 && previousPrinter_ != nullptr) previousPrinter_(text);
    std::string_view line(text);
    // The default printer's time stamp does not appear with our printer.
    if (!line.starts_with(kTlsPrefix)) return;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    lines_.emplace_back(line);
}

std::string TlsFailureLine(const std::vector<std::string>& lines) {
    for (const auto& line : lines)
        if (!FailureCause(line).empty()) return line;
    for (auto it = lines.rbegin(); it != lines.rend(); ++it)
        if (!it->starts_with(kCantConnect)) return *it;
    return lines.empty() ? std::string() : lines.back();
}
