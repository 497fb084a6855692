// Files Kelvo writes and the configuration files it reads, opened so that
// another user cannot steer them: written files are private regular files
// reached without a symbolic link; read configuration must belong to the
// user (or root) and be writable by nobody else.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open file descriptor, closed with its owner.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& other) noexcept : fd_(other.Release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release();
    // Closes now; false (with errno set) when the close reports an error.
    bool Close();

  private:
    int fd_ = -1;
};

struct OpenedFile {
    FileHandle file;
    int error = 0;      // errno value when the file could not be used
    std::string reason; // why, in words, when it could not be used
};

// Opens `path` for writing: created with mode 0600 when missing, replaced
// (or appended to, with `append`) when it exists.  A symbolic link, a FIFO, a
// device or anything else that is not a regular file is refused, and an
// existing file's mode becomes 0600.  Never blocks.
OpenedFile OpenPrivateFile(const std::string& path, bool append);

// Opens a configuration file for reading.  Refused unless it is a regular
// file owned by the current user or by root, writable by neither group nor
// others, and at most `maxBytes` long.  Never blocks.  A missing file gives
// error ENOENT.
OpenedFile OpenTrustedFile(const std::string& path, std::uint64_t maxBytes);

// Writes all of `data`; false (with errno set) on any failure.
bool WriteAll(int fd, const void* data, std::size_t size);

} // namespace platform
