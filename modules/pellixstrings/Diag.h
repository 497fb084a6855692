// Process-wide diagnostic sink shared by the driver and the modules.
//
// Modules never write to the console on their own initiative; they hand text
// to this sink.  The driver sets the flags once at start-up (from -d / -d2) and
// may redirect the writers (tests capture output this way).
#pragma once

#include <functional>
#include <source_location>
#include <string>
#include <string_view>

namespace diag {

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
    explicit Scope(std::source_location loc = std::source_location::current());
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

  private:
    std::source_location loc_;
    bool active_;
};

} // namespace diag

#define KELVO_TRACE_CONCAT2(a, b) a##b
#define KELVO_TRACE_CONCAT(a, b) KELVO_TRACE_CONCAT2(a, b)
#define KELVO_TRACE_SCOPE() ::diag::Scope KELVO_TRACE_CONCAT(kelvo_trace_scope_, __LINE__)
