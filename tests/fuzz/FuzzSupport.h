// Shared pieces of the fuzz harnesses: diagnostics that go nowhere, option
// bits and parts taken from the fuzz input, read-only in-memory streams, and
// the trap that marks a broken invariant as a crash.
#pragma once

#include "Diag.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// Every message goes nowhere and -d / -d2 are off until a harness turns
// them on for one input.
inline void Silence() {
    auto& d = diag::Get();
    d.out = [](std::string_view) {};
    d.err = [](std::string_view) {};
    d.debug = false;
    d.trace = false;
}

inline std::string_view Text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The first byte of the input as option bits (0 when there is none); the
// rest is the text.
struct Options {
    std::uint8_t bits = 0;
    std::string_view rest;

    Options(std::string_view text, std::size_t count = 1) : rest(text) {
        for (std::size_t i = 0; i < count && !rest.empty(); ++i) {
            all.push_back(static_cast<std::uint8_t>(rest.front()));
            rest.remove_prefix(1);
        }
        all.resize(count, 0);
        bits = all.front();
    }
    // Bit `n` of option byte n / 8.
    bool Has(unsigned n) const { return (all[n / 8] >> (n % 8)) & 1u; }
    std::uint8_t Byte(std::size_t i) const { return all[i]; }

  private:
    std::vector<std::uint8_t> all;
};

// `text` split at every `sep`; at most `limit` parts (the last keeps the
// rest), 0 for no limit.  Always at least one part.
inline std::vector<std::string> Split(std::string_view text, char sep, std::size_t limit = 0) {
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t at = text.find(sep);
        if (at == std::string_view::npos || (limit != 0 && parts.size() + 1 == limit)) {
            parts.emplace_back(text);
            return parts;
        }
        parts.emplace_back(text.substr(0, at));
        text.remove_prefix(at + 1);
    }
}

// A read-only stdio stream over a copy of `text`; Get() is null for empty
// text, which readers take as empty input.
class MemoryFile {
  public:
    explicit MemoryFile(std::string_view text) : buffer_(text) {
        if (!buffer_.empty()) file_.reset(::fmemopen(buffer_.data(), buffer_.size(), "r"));
    }
    std::FILE* Get() const { return file_.get(); }

  private:
    std::string buffer_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_{nullptr, &std::fclose};
};

// A property that must hold for every input does not: stop here, so the
// fuzzer keeps the input as a crash.
[[noreturn]] inline void Broken(const char* what) {
    std::fprintf(stderr, "fuzz: invariant broken: %s\n", what);
    __builtin_trap();
}

inline void Check(bool ok, const char* what) {
    if (!ok) Broken(what);
}

} // namespace fuzz
