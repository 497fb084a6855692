#include "PasswordFile.h"

#include "EncPwd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

PasswordFileResult Refused(const std::string& path, std::string_view why) {
    PasswordFileResult r;
    r.error = "The password file " + path + " " + std::string(why);
    return r;
}

// Closes the descriptor on every path out.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

} // namespace

PasswordFileResult ReadPasswordFile(const std::string& path) {
    // O_NONBLOCK: a FIFO must not hang the run before fstat refuses it.
    Fd file{open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK)};
    if (file.fd < 0) return Refused(path, std::string("cannot be opened: ") + std::strerror(errno));
    struct stat st {};
    if (fstat(file.fd, &st) != 0)
        return Refused(path, std::string("cannot be read: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Refused(path, "is not a regular file.");
    if ((st.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0)
        return Refused(path, "may be read or written by group or others; "
                             "make it private with: chmod 600 " +
                                 path);
    // Blocking reads from here on: it is a regular file.
    (void)fcntl(file.fd, F_SETFL, fcntl(file.fd, F_GETFL) & ~O_NONBLOCK);

    std::string line;
    char buf[512];
    bool ended = false;
    while (!ended && line.size() <= kMaxPasswordFileLine) {
        const ssize_t n = read(file.fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            WipeSecret(line);
            std::memset(buf, 0, sizeof buf);
            return Refused(path, std::string("cannot be read: ") + std::strerror(errno));
        }
        if (n == 0) break;
        const auto got = static_cast<std::size_t>(n);
        const auto* newline = static_cast<const char*>(std::memchr(buf, '\n', got));
        const std::size_t take = newline ? static_cast<std::size_t>(newline - buf) : got;
        line.append(buf, take);
        ended = newline != nullptr;
    }
    std::memset(buf, 0, sizeof buf);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view why;
    if (line.size() > kMaxPasswordFileLine)
        why = "has a first line longer than 4096 characters.";
    else if (line.empty())
        why = "has no password on its first line.";
    else if (line.find('\0') != std::string::npos)
        why = "has a NUL byte in its first line.";
    if (!why.empty()) {
        WipeSecret(line);
        return Refused(path, why);
    }
    PasswordFileResult r;
    r.ok = true;
    r.password = std::move(line);
    return r;
}

} // namespace kelvo
