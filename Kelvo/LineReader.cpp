#include "LineReader.h"

#include <cstring>

LineReader::LineReader(std::FILE* f, std::size_t limit) : f_(f), limit_(limit) {}

int LineReader::Peek() {
    if (!f_) return EOF;
    const int c = std::fgetc(f_);
    if (c != EOF) std::ungetc(c, f_);
    return c;
}

bool LineReader::Next(std::string& line, LineFlaw& flaw) {
    flaw = LineFlaw::None;
    line.clear();
    if (!f_) return false;
    // Through the stdio stream, so that whatever else reads it (a password
    // prompt with no terminal) sees the same buffered input.
    int c = getc_unlocked(f_);
    if (c == EOF) return false;
    ++lineNumber_;
    bool overlong = false;
    std::size_t length = 0; // bytes of the line without its line end
    for (; c != EOF; c = getc_unlocked(f_)) {
        if (c == '\n') {
            if (!overlong) line.push_back('\n');
            break;
        }
        if (++length > limit_) {
            overlong = true;
            std::string().swap(line);
            continue;
        }
        if (!overlong) line.push_back(static_cast<char>(c));
    }
    if (overlong)
        flaw = LineFlaw::Overlong;
    else if (std::memchr(line.data(), '\0', line.size()) != nullptr)
        flaw = LineFlaw::Nul;
    return true;
}

void LineReader::Release(std::string& line) {
    std::string().swap(line);
}
