// LDIF as a search client prints it, read as a list of targets: the DN of
// each entry, from its "dn:" or base64 "dn::" line; comments, the version
// line, attribute lines and the search result records are skipped.  Folded
// lines are joined, CRLF line ends read like LF.  Input is read as a stream:
// only the dn: line of the entry at hand is kept, however long the entries.
#pragma once

#include "LineReader.h"

#include <cstdint>
#include <string>
#include <string_view>

// True when `line`, the first line of input with content, starts LDIF:
// "version:", "dn:" or "dn::" in any letter case.  No DN starts so.
bool IsLdifStart(std::string_view line);

// The dn: line of `dn`: "dn: text" when the DN is safe in LDIF as it is
// (printable ASCII, not starting with a space, ':' or '<', not ending with a
// space), else "dn:: " and the base64 of its bytes.
std::string LdifDnLine(std::string_view dn);

struct LdifItem {
    enum class Kind {
        Entry,        // an entry's DN
        Refused,      // a line that names no target as it stands
        SearchResult, // the result record of the search gave an error
    };
    Kind kind = Kind::Entry;
    std::string dn;         // Entry: the DN, decoded
    std::uint64_t line = 0; // input line the item starts on
    std::string why;        // Refused: what is wrong; SearchResult: the result text
    // Refused: the dn: line as read, folded lines joined; empty when the line
    // is no dn: line or its text could not be kept.
    std::string text;
};

class LdifReader {
  public:
    // Reads from `in`; a dn: line longer than `limit` bytes (folded lines
    // joined) is refused.
    explicit LdifReader(LineReader& in, std::size_t limit = kLineBufferSize);
    // A line already read from `in` (the one that showed the input is LDIF),
    // read before the rest.
    void PushBack(std::string line, LineFlaw flaw, std::uint64_t number);
    // The next item; false at the end of input.
    bool Next(LdifItem& item);

  private:
    struct Physical {
        std::string text; // without its line end
        LineFlaw flaw = LineFlaw::None;
        std::uint64_t number = 0;
    };
    // Makes the next physical line `next_`; false at the end of input.
    bool Load();
    // Reads the rest of a folded line: appended to `logical` when `keep`,
    // else dropped.  False when the joined line passed the limit.
    bool Unfold(std::string& logical, bool keep, bool& flawed);
    bool DnItem(const std::string& logical, std::uint64_t number, bool flawed, LdifItem& item);

    enum class Record { None, Entry, Other };
    LineReader& in_;
    std::size_t limit_;
    Physical next_;
    bool haveNext_ = false;
    bool endOfInput_ = false;
    Record record_ = Record::None;
};
