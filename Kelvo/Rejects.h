// The rejects file (-rejects): every object a run did not finish, written in
// the form the input gave it, so the file can be fed back to finish the work.
// Also the store that keeps the text of each input item for it.
#pragma once

#include "Files.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How the run's input was written, and so how the rejects file is.
enum class InputForm {
    DnLines, // one DN (or SID, GUID) per line
    Csv,     // the header (after an ADCSV marker, if any), then one row per line
    Ldif,    // LDIF entries; the rejects file holds one "dn:" line per entry
};

// The text of input items as they came in: one allocation per block of items,
// a small index per item.  Items stay readable for the store's life.
class SourceTexts {
  public:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    // Keeps `text`; its index, or kNone when the store is full.
    std::uint32_t Add(std::string_view text);
    std::string_view operator[](std::uint32_t index) const;
    std::size_t size() const { return items_.size(); }

  private:
    static constexpr std::size_t kBlockBytes = 1 << 20;
    struct Item {
        std::uint32_t block;
        std::uint32_t offset;
        std::uint32_t size;
    };
    std::vector<std::string> blocks_;
    std::vector<Item> items_;
};

// True when `line` at the head of a list of DN lines would change how the
// list is read: a hint line or ADCSV marker (~), the start of LDIF, or a
// byte-order mark.  Such a line is never the first of a rejects file of DN
// lines.
bool ChangesReadingAtHead(std::string_view line);

// The rejects file.  Items are written as they are added when Flush is called
// after each (a killed run leaves what was found), or in blocks.
class RejectsFile {
  public:
    // Creates `path` with mode 0600, or empties it; never through a symbolic
    // link, never anything but a regular file.  False with Error() set.
    bool Open(const std::string& path);
    bool IsOpen() const { return open_; }
    // How items are written: DN lines and CSV rows one per line (CSV rows
    // after `header`, the lines that come before the rows, written with the
    // first row); LDIF dn: lines each followed by an empty line.
    void SetForm(InputForm form, std::string header);
    // One item: a DN line, a CSV row or an LDIF dn: line, without line end.
    // False when it cannot be written (see Error()).
    bool Add(std::string_view item);
    // Writes what was added.  False when the file failed.
    bool Flush();
    // Flushes and closes.  False when the file failed at any point.
    bool Close();
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }
    // Items added.
    std::uint64_t Count() const { return count_; }

  private:
    static constexpr std::size_t kFlushAt = 64 * 1024;
    void Fail(std::string why);
    platform::FileHandle file_;
    std::string name_;
    std::string buffer_;
    std::string header_;
    InputForm form_ = InputForm::DnLines;
    std::string error_;
    std::uint64_t count_ = 0;
    bool open_ = false;
    bool failed_ = false;
};
