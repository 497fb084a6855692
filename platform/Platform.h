// Linux stand-ins for the operating-system services Kelvo needs: stream
// redirection, raw key input, the terminal title, tick counts, secure random
// numbers, system error texts, the working set and the program's own path.
// Nothing here knows about switches, directories or Kelvo's output formats.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// --- Streams and console ----------------------------------------------------
enum class Stream { In = 0, Out = 1, Err = 2 };
// True when the stream is a file or a pipe (anything but a terminal).
bool IsRedirected(Stream s);

// True when there is a terminal to read hidden input from: standard input, or
// the controlling terminal when standard input is a pipe.
bool HasTerminalInput();
// Reads one key without echo from the terminal, even when standard input is a
// pipe of DNs; never from a pipe or a file.  Returns the byte, with Enter
// reported as 13, Backspace/Delete as 8, and end of input or no terminal as
// 27 (cancel).
int ReadKeyNoEcho();

// Terminal title through the title escape sequence; a no-op when standard
// error is not a terminal.  The saved title is what the program restores.
std::string GetConsoleTitle();
void SetConsoleTitle(const std::string& title);

// Reads one line (without its line end) from standard input, at most maxLen.
std::string ReadConsoleLine(std::size_t maxLen);

// --- Time ---------------------------------------------------------------------
// Milliseconds from a monotonic clock (the tick count).
std::uint64_t TickCount();

// --- Random -----------------------------------------------------------------
// Fills the buffer from the kernel's cryptographically secure generator.
void SecureRandom(void* buf, std::size_t len);
// Uniform value in [0, bound) without modulo bias; bound must be > 0.
std::uint32_t SecureUniform(std::uint32_t bound);

// --- Errors -----------------------------------------------------------------
// Win32-style code for an errno value (ENOENT -> 2, EACCES -> 5, ...).
std::uint32_t Win32FromErrno(int err);
// Message text for a Win32-style code as produced by Win32FromErrno, or for
// other codes the C library's text.
std::string SystemErrorText(std::uint32_t code);

// --- Files ------------------------------------------------------------------
// 0 when the path's attributes can be read, else the Win32-style error code.
std::uint32_t FileAttributesError(const std::string& path);

// --- Process ----------------------------------------------------------------
// Returns memory held by the allocator to the system.  False on failure.
bool TrimWorkingSet();
// Full path of the running executable ("" when unknown).
std::string ExecutablePath();
// Home directory of the current user ("" when unknown).
std::string HomeDirectory();
// Keeps the process's memory out of core files and away from debuggers of
// other users (and /proc/PID/environ, mem and the like).  False on failure.
bool DenyMemoryDumps();
// Overwrites a process argument's text in place, so that process listings
// (ps, /proc/PID/cmdline) no longer show it.
void BlankArgument(char* argument);

// While one lives, a write to a connection the server has closed fails with
// EPIPE instead of ending the process with SIGPIPE (the LDAP library writes
// with write(), and requests in flight can be written after the server went
// away).  The signal is blocked for the calling thread; one raised meanwhile
// is taken off before the old mask comes back, so the console's own
// broken-pipe behaviour is unchanged.
class NoBrokenPipeSignal {
  public:
    NoBrokenPipeSignal();
    ~NoBrokenPipeSignal();
    NoBrokenPipeSignal(const NoBrokenPipeSignal&) = delete;
    NoBrokenPipeSignal& operator=(const NoBrokenPipeSignal&) = delete;

  private:
    bool wasPending_ = false; // a SIGPIPE was already pending before
    bool blocked_ = false;    // this guard blocked it
};

} // namespace platform
