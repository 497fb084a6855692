// Process-wide diagnostic sink shared by the driver and the modules.
//
// Modules never write to the console on their own initiative; they hand text
// to this sink.  The driver sets the flags once at start-up (from -d / -d2) and
// may redirect the writers (tests capture output this way).
#pragma once

#include <cstdint>
#include <functional>
#include <source_location>
#include <string>
#include <string_view>

namespace diag {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
// Where a library has no std::source_location (clang 14 with libstdc++ 12
// lacks the builtin it is made of), the older builtins give the same
// facts; the function name is the bare name there.
struct SourceLocation {
    static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                            std::uint_least32_t line = __builtin_LINE(),
                                            const char* function = __builtin_FUNCTION()) noexcept {
        return SourceLocation{file, line, function};
    }
    constexpr const char* file_name() const noexcept { return file_; }
    constexpr std::uint_least32_t line() const noexcept { return line_; }
    constexpr const char* function_name() const noexcept { return function_; }

    const char* file_ = "";
    std::uint_least32_t line_ = 0;
    const char* function_ = "";
};
#endif

struct Settings {
    bool debug = false; // -d: "DEBUG: " diagnostic lines
    bool trace = false; // -d2: entry/exit traces, conversion details, secrets
    std::function<void(std::string_view)> out; // standard output writer
    std::function<void(std::string_view)> err; // standard error writer
};

Settings& Get();

inline bool Debug() {
    return Get().debug;
}
inline bool Trace() {
    return Get().trace;
}

// Write text as given (no line end added).
void Out(std::string_view text);
void Err(std::string_view text);
// Write text only when -d (or -d2) is on.
void DebugOut(std::string_view text);
// Write text only when -d2 is on.
void TraceOut(std::string_view text);
// Flush the standard streams (before exit, before prompts).
void Flush();

// RAII entry/exit trace: at -d2 prints
//   "DEBUG: __<file>:<line>__ Entered <function>.\n" on construction and
//   "DEBUG: __<file>:<line>__ Exiting <function>.\n" on destruction.
class Scope {
  public:
    explicit Scope(SourceLocation loc = SourceLocation::current());
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    SourceLocation loc_;
    bool active_;
};

} // namespace diag

#define KELVO_TRACE_CONCAT2(a, b) a##b
#define KELVO_TRACE_CONCAT(a, b) KELVO_TRACE_CONCAT2(a, b)
#define KELVO_TRACE_SCOPE() ::diag::Scope KELVO_TRACE_CONCAT(kelvo_trace_scope_, __LINE__)
