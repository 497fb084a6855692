// Reads lines of input (standard input, a CSV file, a switch file) with a
// bound on their length.  A line is never split and never cut: one that is
// too long, or that holds a NUL byte, is handed back flagged so the caller
// can report it by its line number.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Lines read from input and switch files may be up to this long (without
// their line end).
inline constexpr std::size_t kLineBufferSize = 0xA00000;

enum class LineFlaw {
    None,
    Overlong, // longer than the limit; its text is dropped
    Nul,      // holds a NUL byte
};

class LineReader {
  public:
    explicit LineReader(std::FILE* f, std::size_t limit = kLineBufferSize);
    // Next byte without consuming it (EOF at the end).
    int Peek();
    // False at the end of input.  The line keeps its line end.
    bool Next(std::string& line, LineFlaw& flaw);
    // Number of the line Next returned last, counted from 1.
    std::uint64_t LineNumber() const { return lineNumber_; }
    // Frees the line's memory once reading is done.
    static void Release(std::string& line);

  private:
    std::FILE* f_;
    std::size_t limit_;
    std::uint64_t lineNumber_ = 0;
};
