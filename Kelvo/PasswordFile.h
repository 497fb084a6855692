// -upfile: the bind password read from the first line of a file, so scripts
// need not put it on a command line.  The file must be private: a password
// that group or others can read is no longer a secret, and one they can write
// lets them choose what Kelvo sends.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

// The longest first line taken as a password.
inline constexpr std::size_t kMaxPasswordFileLine = 4096;

struct PasswordFileResult {
    bool ok = false;
    std::string password; // the first line without its line end; wipe after use
    std::string error;    // why the file was refused; never holds file content
};

// Reads the password from `path`: its first line, without the trailing "\n"
// or "\r\n".  Refused when the file is not a regular file, when group or
// others may read or write it, when its first line is empty, holds a NUL
// byte or is longer than kMaxPasswordFileLine.  Never blocks (a FIFO is
// refused, not opened for reading).
[[nodiscard]] PasswordFileResult ReadPasswordFile(const std::string& path);

} // namespace kelvo
