// Everything Kelvo shows besides per-request results: banner, help dispatch,
// usage file, version block, switch dump, log file, progress in the terminal
// title, pause and elapsed timers.
#pragma once

#include "Failure.h"
#include "Files.h"
#include "HelpText.h"
#include "SwitchParser.h"

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

// Start-up banner: to standard output when standard error is redirected,
// otherwise to standard error; always to standard error with keepOffStdout
// (standard output carries a value a script captures).
void Banner(bool keepOffStdout = false);

// Writes the help text of `mode` to standard output, or to `usageFile` when
// the -gui switch asked for one.  Returns the exit code (always 1).
int Usage(HelpMode mode, bool toFile, const std::string& usageFile);
// Name of the usage file for an empty -gui value.
std::string DefaultUsageFileName();

// Prints a framed error message (see ErrorBlockText).
void ErrorBlock(std::initializer_list<std::string_view> lines, ErrorFrame frame = ErrorFrame::Bare);

// The -appver block; returns 0.
int VersionBlock(const std::string& programPath);

// "Selected Switches" / "Selected Attributes" dump (-po, -d, log header).
std::string SelectedText(const SwitchParser& parser, std::string_view prefix);

// Prints "\nPress Enter to Continue..." and waits, when both standard input
// and standard output are terminals and -pause was given.
void Pause();

// The log file.  Lines are written as given, each followed by a line end.
// The file is private (mode 0600), a regular file reached without a link; a
// failed write is remembered so the run can report it.
class LogWriter {
  public:
    // False, with the reason in Error(), when the file cannot be used.
    bool Open(const std::string& name, bool append);
    bool IsOpen() const { return open_; }
    void WriteLine(std::string_view text);
    void Flush();
    void Close();
    // True when a line could not be written; Error() says why.
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }
    ~LogWriter() { Close(); }

  private:
    static constexpr std::size_t kFlushAt = 64 * 1024;
    platform::FileHandle file_;
    std::string buffer_;
    std::string name_;
    std::string error_;
    bool open_ = false;
    bool failed_ = false;
};
LogWriter& Log();
// Writes a line when the log is open.
inline void LogLine(std::string_view text) {
    if (Log().IsOpen()) Log().WriteLine(text);
}

// Progress in the terminal title.
void SaveTitle();
void RestoreTitle();
void Progress(double percent, char character);

// Named elapsed timers in milliseconds.
class Timers {
  public:
    void Start(const std::string& name);
    std::uint64_t Stop(const std::string& name);
    double Seconds(const std::string& name);

  private:
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> timers_;
};
