#include "Files.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.Release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    Close();
}

int FileHandle::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool FileHandle::Close() {
    if (fd_ < 0) return true;
    const int fd = Release();
    return ::close(fd) == 0;
}

namespace {

OpenedFile Refused(int error, std::string reason) {
    OpenedFile o;
    o.error = error;
    o.reason = std::move(reason);
    return o;
}

std::string ErrnoText(int err) {
    return std::strerror(err);
}

// Clears O_NONBLOCK once the file is known to be a regular file.
void Blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
}

} // namespace

OpenedFile OpenPrivateFile(const std::string& path, bool append) {
    // No O_TRUNC yet: a file is emptied only once it is known to be ours to
    // write.  O_NONBLOCK keeps a FIFO from hanging the open.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                      (append ? O_APPEND : 0);
    FileHandle fd(::open(path.c_str(), flags, 0600));
    if (!fd) {
        const int err = errno;
        if (err == ELOOP) return Refused(err, "it is a symbolic link");
        if (err == ENXIO) return Refused(err, "it is not a regular file");
        return Refused(err, ErrnoText(err));
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Refused(errno, ErrnoText(errno));
    if (!S_ISREG(st.st_mode)) return Refused(EINVAL, "it is not a regular file");
    if ((st.st_mode & 07777) != 0600 && ::fchmod(fd.get(), 0600) != 0)
        return Refused(errno, "its mode cannot be set to 0600: " + ErrnoText(errno));
    if (!append && ::ftruncate(fd.get(), 0) != 0) return Refused(errno, ErrnoText(errno));
    Blocking(fd.get());
    OpenedFile o;
    o.file = std::move(fd);
    return o;
}

OpenedFile OpenTrustedFile(const std::string& path, std::uint64_t maxBytes) {
    FileHandle fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return Refused(errno, ErrnoText(errno));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return Refused(errno, ErrnoText(errno));
    if (!S_ISREG(st.st_mode)) return Refused(EINVAL, "it is not a regular file");
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return Refused(EPERM, "it belongs to another user");
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Refused(EPERM, "it is writable by group or others");
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return Refused(EFBIG, "it is larger than " + std::to_string(maxBytes) + " bytes");
    Blocking(fd.get());
    OpenedFile o;
    o.file = std::move(fd);
    return o;
}

bool WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace platform
