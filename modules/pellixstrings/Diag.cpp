#include "Diag.h"

#include <cstdio>

namespace diag {

Settings& Get() {
    static Settings settings;
    return settings;
}

void Out(std::string_view text) {
    auto& s = Get();
    if (s.out) {
        s.out(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

void Err(std::string_view text) {
    auto& s = Get();
    if (s.err) {
        s.err(text);
        return;
    }
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void DebugOut(std::string_view text) {
    if (Debug() || Trace()) Out(text);
}

void TraceOut(std::string_view text) {
    if (Trace()) Out(text);
}

void Flush() {
    std::fflush(stdout);
    std::fflush(stderr);
}

static std::string ScopeLine(const SourceLocation& loc, const char* what) {
    std::string line = "DEBUG: __";
    line += loc.file_name();
    line += ':';
    line += std::to_string(loc.line());
    line += "__ ";
    line += what;
    line += ' ';
    line += loc.function_name();
    line += ".\n";
    return line;
}

Scope::Scope(SourceLocation loc) : loc_(loc), active_(Trace()) {
    if (active_) Out(ScopeLine(loc_, "Entered"));
}

Scope::~Scope() {
    if (active_) Out(ScopeLine(loc_, "Exiting"));
}

} // namespace diag
