#include "Platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <malloc.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace platform {

bool IsRedirected(Stream s) {
    return isatty(static_cast<int>(s)) == 0;
}

namespace {

// Where hidden input comes from: standard input when it is the terminal, else
// the controlling terminal (standard input carries a piped DN list), else
// nothing: piped data is never taken for a password.
std::FILE* KeySource() {
    static std::FILE* source = []() -> std::FILE* {
        if (isatty(STDIN_FILENO)) return stdin;
        return std::fopen("/dev/tty", "re");
    }();
    return source;
}

} // namespace

bool HasTerminalInput() {
    return KeySource() != nullptr;
}

int ReadKeyNoEcho() {
    std::FILE* in = KeySource();
    if (in == nullptr) return 27;
    const int fd = fileno(in);
    termios old{};
    const bool tty = tcgetattr(fd, &old) == 0;
    if (tty) {
        termios raw = old;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(fd, TCSANOW, &raw);
    }
    // Through the stdio stream: earlier reads (the hint-line peek) may have
    // buffered input there already.
    int ch;
    do {
        errno = 0;
        ch = std::fgetc(in);
    } while (ch == EOF && errno == EINTR);
    if (tty) tcsetattr(fd, TCSANOW, &old);
    if (ch == EOF) return 27;
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n' || c == '\r') return 13;
    if (c == 127) return 8;
    return c;
}

namespace {
std::string& TitleCache() {
    static std::string title;
    return title;
}
} // namespace

std::string GetConsoleTitle() {
    return TitleCache();
}

void SetConsoleTitle(const std::string& title) {
    TitleCache() = title;
    if (!isatty(STDERR_FILENO)) return;
    std::string seq = "\033]0;" + title + "\007";
    std::fflush(stderr);
    ssize_t ignored = write(STDERR_FILENO, seq.data(), seq.size());
    (void)ignored;
}

std::string ReadConsoleLine(std::size_t maxLen) {
    std::string line;
    int c;
    while ((c = std::fgetc(stdin)) != EOF && c != '\n') {
        if (line.size() < maxLen) line.push_back(static_cast<char>(c));
    }
    return line;
}

std::uint64_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
           static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void SecureRandom(void* buf, std::size_t len) {
    auto* p = static_cast<unsigned char*>(buf);
    while (len > 0) {
        ssize_t n = getrandom(p, len, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            std::perror("getrandom");
            std::abort();
        }
        p += n;
        len -= static_cast<std::size_t>(n);
    }
}

std::uint32_t SecureUniform(std::uint32_t bound) {
    if (bound <= 1) return 0;
    // Reject the top partial range so every value is equally likely.
    const std::uint32_t limit = std::numeric_limits<std::uint32_t>::max() -
                                std::numeric_limits<std::uint32_t>::max() % bound;
    std::uint32_t v;
    do {
        SecureRandom(&v, sizeof v);
    } while (v >= limit);
    return v % bound;
}

std::uint32_t Win32FromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case ENOENT:
        return 2; // ERROR_FILE_NOT_FOUND
    case ENOTDIR:
        return 3; // ERROR_PATH_NOT_FOUND
    case EMFILE:
        return 4; // ERROR_TOO_MANY_OPEN_FILES
    case EACCES:
    case EPERM:
        return 5; // ERROR_ACCESS_DENIED
    case ENOMEM:
        return 8; // ERROR_NOT_ENOUGH_MEMORY
    case EINVAL:
        return 87; // ERROR_INVALID_PARAMETER
    case ENAMETOOLONG:
        return 206; // ERROR_FILENAME_EXCED_RANGE
    case EISDIR:
        return 5;
    default:
        return 0x20000000u | static_cast<std::uint32_t>(err); // customer bit: errno
    }
}

std::string SystemErrorText(std::uint32_t code) {
    switch (code) {
    case 0:
        return "The operation completed successfully.";
    case 2:
        return "The system cannot find the file specified.";
    case 3:
        return "The system cannot find the path specified.";
    case 4:
        return "The system cannot open the file.";
    case 5:
        return "Access is denied.";
    case 8:
        return "Not enough memory resources are available to process this command.";
    case 87:
        return "The parameter is incorrect.";
    case 206:
        return "The filename or extension is too long.";
    case 1332:
        return "No mapping between account names and security IDs was done.";
    case 1337:
        return "The security ID structure is invalid.";
    case 1336:
        return "The access control list (ACL) structure is invalid.";
    case 1338:
        return "The security descriptor structure is invalid.";
    case 1705:
        return "The string universal unique identifier (UUID) is invalid.";
    default:
        break;
    }
    if (code & 0x20000000u) return std::strerror(static_cast<int>(code & 0xFFFFu));
    return "Unknown error " + std::to_string(code) + ".";
}

std::uint32_t FileAttributesError(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Win32FromErrno(errno);
    return 0;
}

bool TrimWorkingSet() {
    return malloc_trim(0) >= 0;
}

std::string ExecutablePath() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

bool DenyMemoryDumps() {
    return prctl(PR_SET_DUMPABLE, 0, 0, 0, 0) == 0;
}

void BlankArgument(char* argument) {
    if (argument) explicit_bzero(argument, std::strlen(argument));
}

std::string HomeDirectory() {
    if (const char* h = std::getenv("HOME"); h && *h) return h;
    if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return {};
}

NoBrokenPipeSignal::NoBrokenPipeSignal() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0) wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    if (pthread_sigmask(SIG_BLOCK, &block, &old) == 0) blocked_ = sigismember(&old, SIGPIPE) != 1;
}

NoBrokenPipeSignal::~NoBrokenPipeSignal() {
    if (!blocked_) return;
    if (!wasPending_) {
        // Take off the SIGPIPE our writes raised, if any (a signal of
        // this kind is pending once at most).
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        const timespec now{0, 0};
        (void)sigtimedwait(&pipe, nullptr, &now);
    }
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &unblock, nullptr);
}

} // namespace platform
