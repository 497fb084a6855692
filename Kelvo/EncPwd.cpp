#include "EncPwd.h"

#include "pellixstrings.h"

#include "Diag.h"
#include "Platform.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {
namespace {

constexpr std::uint8_t kVersion = 1;
constexpr std::size_t kKeyLen = 32;
constexpr std::size_t kNonceLen = 12;
constexpr std::size_t kTagLen = 16;
constexpr std::size_t kOverhead = 1 + kNonceLen + kTagLen;
// Far above any real password, and well inside the int lengths EVP takes.
constexpr std::size_t kMaxPlainLen = 64 * 1024;
constexpr const char* kDefaultKeyFile = "/.config/kelvo/encpwd.key";

using Bytes = std::vector<std::uint8_t>;

// Key bytes that are wiped when they go out of scope.
struct Key {
    std::array<std::uint8_t, kKeyLen> bytes{};
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

struct CtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CtxFree>;

// Closes a descriptor on every path out.
class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    // Closes now and reports whether the close succeeded.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

EncPwdResult Fail(std::string message) {
    return EncPwdResult{false, {}, std::move(message)};
}

std::string ErrnoText(int err) {
    return platform::SystemErrorText(platform::Win32FromErrno(err));
}

std::string KeyFileText(const std::string& path) {
    return "The ENCPWD: key file " + path;
}

// --- Base64 ---------------------------------------------------------------------

std::string Base64Encode(const Bytes& in) {
    return ::Base64Encode(std::string_view(reinterpret_cast<const char*>(in.data()), in.size()));
}

bool Base64Decode(std::string_view in, Bytes& out) {
    std::string bytes;
    if (!::Base64Decode(in, bytes)) return false;
    out.assign(bytes.begin(), bytes.end());
    return true;
}

// --- Key file ------------------------------------------------------------------

enum class KeyStatus { Ok, Missing, Failed };

std::string ParentOf(const std::string& path);

// The folder that holds the key must not let anyone else put a key there.
// Empty when it is fine (or does not exist yet), else the reason.
std::string KeyFolderProblem(const std::string& path) {
    std::string dir = ParentOf(path);
    if (dir.empty()) dir = path.starts_with('/') ? "/" : ".";
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return {};
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return "The folder " + dir +
               " of the ENCPWD: key file belongs to another user; refusing to use it.";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return "The folder " + dir +
               " of the ENCPWD: key file is writable by group or others; refusing to use it. "
               "Restrict it with: chmod go-w " +
               dir;
    return {};
}

// Reads the key, refusing files that others could read or replace.
KeyStatus LoadKey(const std::string& path, Key& key, std::string& error) {
    if (std::string problem = KeyFolderProblem(path); !problem.empty()) {
        error = std::move(problem);
        return KeyStatus::Failed;
    }
    // O_NONBLOCK: a FIFO in its place must not hang the run.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT) return KeyStatus::Missing;
        error = KeyFileText(path) + " cannot be opened: " + ErrnoText(err);
        return KeyStatus::Failed;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        error = KeyFileText(path) + " cannot be examined: " + ErrnoText(errno);
        return KeyStatus::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = KeyFileText(path) + " is not a regular file.";
        return KeyStatus::Failed;
    }
    if (st.st_uid != ::geteuid()) {
        error = KeyFileText(path) + " is not owned by the current user; refusing to use it.";
        return KeyStatus::Failed;
    }
    if ((st.st_mode & 077) != 0) {
        static constexpr char kOctal[] = "01234567";
        const unsigned mode = st.st_mode & 0777;
        const std::string modeText = {'0', kOctal[(mode >> 6) & 7], kOctal[(mode >> 3) & 7],
                                      kOctal[mode & 7]};
        error = KeyFileText(path) + " is accessible to group or others (mode " + modeText +
                "); refusing to use it. Restrict it with: chmod 600 " + path;
        return KeyStatus::Failed;
    }
    if (st.st_size != static_cast<off_t>(kKeyLen)) {
        error = KeyFileText(path) + " holds " + std::to_string(st.st_size) + " bytes instead of " +
                std::to_string(kKeyLen) + "; refusing to use it.";
        return KeyStatus::Failed;
    }
    std::size_t got = 0;
    while (got < kKeyLen) {
        const ssize_t n = ::read(fd.get(), key.bytes.data() + got, kKeyLen - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = KeyFileText(path) + " cannot be read: " +
                    (n < 0 ? ErrnoText(errno) : std::string("it ended early."));
            return KeyStatus::Failed;
        }
        got += static_cast<std::size_t>(n);
    }
    return KeyStatus::Ok;
}

std::string ParentOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return {};
    return path.substr(0, slash);
}

// Creates every missing folder on the way to dir; new folders are private.
bool MakePrivateDirs(const std::string& dir, std::string& error) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos < dir.size() && dir[pos] != '/') continue;
        const std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) == 0) {
            // The umask may only have removed bits; make it exactly 0700.
            ::chmod(part.c_str(), 0700);
            continue;
        }
        const int err = errno;
        struct stat st {};
        if (::stat(part.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        error =
            "The folder " + part + " for the ENCPWD: key file cannot be created: " + ErrnoText(err);
        return false;
    }
    return true;
}

// Writes the key to a new file, failing with EEXIST when the file exists.
// Returns 0 or the errno value; a file it created but could not finish is
// removed again.
int WriteNewKeyFile(const std::string& path, const Key& key) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.get() < 0) return errno;
    int err = 0;
    std::size_t put = 0;
    if (::fchmod(fd.get(), 0600) != 0) err = errno;
    while (err == 0 && put < kKeyLen) {
        const ssize_t n = ::write(fd.get(), key.bytes.data() + put, kKeyLen - put);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            err = n < 0 ? errno : EIO;
        else
            put += static_cast<std::size_t>(n);
    }
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (!fd.Close() && err == 0) err = errno;
    if (err != 0) ::unlink(path.c_str());
    return err;
}

// Makes a new random key file.  The key is written to a private temporary
// name and linked into place, so a reader never sees a half-written key and a
// key made at the same moment by another run is kept, never replaced.
bool CreateKeyFile(const std::string& path, std::string& error) {
    const std::string dir = ParentOf(path);
    if (!dir.empty() && !MakePrivateDirs(dir, error)) return false;
    if (error = KeyFolderProblem(path); !error.empty()) return false;
    Key key;
    std::array<std::uint8_t, 8> tag{};
    if (RAND_bytes(key.bytes.data(), static_cast<int>(key.bytes.size())) != 1 ||
        RAND_bytes(tag.data(), static_cast<int>(tag.size())) != 1) {
        error = "No random numbers are available to make the ENCPWD: key.";
        return false;
    }
    std::string temp = path + ".tmp.";
    static constexpr char kHex[] = "0123456789abcdef";
    for (const std::uint8_t b : tag) {
        temp += kHex[b >> 4];
        temp += kHex[b & 15];
    }

    int err = WriteNewKeyFile(temp, key);
    if (err == 0) {
        const bool linked = ::link(temp.c_str(), path.c_str()) == 0;
        const int linkErr = errno;
        ::unlink(temp.c_str());
        if (!linked && linkErr == EEXIST) return true; // another run made it first
        if (!linked) {
            // File systems without hard links: create the key file directly.
            err = WriteNewKeyFile(path, key);
            if (err == EEXIST) return true;
        }
    }
    if (err != 0) {
        error = KeyFileText(path) + " cannot be created: " + ErrnoText(err);
        return false;
    }
    if (!dir.empty()) {
        Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dirFd.get() >= 0) ::fsync(dirFd.get());
    }
    return true;
}

// --- Cipher ------------------------------------------------------------------------

// Authenticated extra data: the text prefix and the version byte.
Bytes Aad(std::uint8_t version) {
    Bytes aad(kEncPwdPrefix.begin(), kEncPwdPrefix.end());
    aad.push_back(version);
    return aad;
}

// Encrypts plain into out[0..plain.size()) and writes the tag after it.
bool Seal(const Key& key, const std::uint8_t* nonce, std::string_view plain, std::uint8_t* out) {
    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return false;
    const Bytes aad = Aad(kVersion);
    int len = 0;
    if (EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
        EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), nonce) != 1 ||
        EVP_EncryptUpdate(ctx.get(), nullptr, &len, aad.data(), static_cast<int>(aad.size())) !=
            1) {
        return false;
    }
    int total = 0;
    if (!plain.empty()) {
        if (EVP_EncryptUpdate(ctx.get(), out, &len,
                              reinterpret_cast<const unsigned char*>(plain.data()),
                              static_cast<int>(plain.size())) != 1) {
            return false;
        }
        total = len;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), out + total, &len) != 1) return false;
    total += len;
    if (static_cast<std::size_t>(total) != plain.size()) return false;
    return EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagLen, out + total) == 1;
}

// Decrypts and checks the sealed bytes into plain (sized by the caller).
bool Open(const Key& key, const Bytes& sealed, std::string& plain) {
    const std::uint8_t* nonce = sealed.data() + 1;
    const std::uint8_t* cipher = nonce + kNonceLen;
    const std::size_t cipherLen = sealed.size() - kOverhead;
    std::array<std::uint8_t, kTagLen> tag{};
    std::copy(cipher + cipherLen, cipher + cipherLen + kTagLen, tag.begin());

    CipherCtx ctx(EVP_CIPHER_CTX_new());
    if (!ctx) return false;
    const Bytes aad = Aad(sealed[0]);
    int len = 0;
    if (EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, kNonceLen, nullptr) != 1 ||
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr, key.bytes.data(), nonce) != 1 ||
        EVP_DecryptUpdate(ctx.get(), nullptr, &len, aad.data(), static_cast<int>(aad.size())) !=
            1) {
        return false;
    }
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    int total = 0;
    if (cipherLen > 0) {
        if (EVP_DecryptUpdate(ctx.get(), out, &len, cipher, static_cast<int>(cipherLen)) != 1) {
            return false;
        }
        total = len;
    }
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagLen, tag.data()) != 1) {
        return false;
    }
    if (EVP_DecryptFinal_ex(ctx.get(), out + total, &len) != 1) return false;
    return static_cast<std::size_t>(total + len) == cipherLen;
}

} // namespace

std::string EncPwdKeyFilePath() {
    if (const char* env = std::getenv(std::string(kEncPwdKeyFileEnv).c_str()); env && *env) {
        return env;
    }
    const std::string home = platform::HomeDirectory();
    if (home.empty()) return {};
    return home + kDefaultKeyFile;
}

void WipeSecret(std::string& secret) {
    OPENSSL_cleanse(secret.data(), secret.size());
    secret.clear();
}

EncPwdResult EncodeEncPwd(std::string_view plain) {
    KELVO_TRACE_SCOPE();
    if (plain.size() > kMaxPlainLen) {
        return Fail("The password is too long to encode (more than " +
                    std::to_string(kMaxPlainLen) + " bytes).");
    }
    const std::string path = EncPwdKeyFilePath();
    if (path.empty()) {
        return Fail("There is no place for the ENCPWD: key file: " +
                    std::string(kEncPwdKeyFileEnv) + " is not set and the home folder is unknown.");
    }
    Key key;
    std::string error;
    KeyStatus status = LoadKey(path, key, error);
    if (status == KeyStatus::Missing) {
        if (!CreateKeyFile(path, error)) return Fail(std::move(error));
        status = LoadKey(path, key, error);
        if (status == KeyStatus::Missing) {
            error = KeyFileText(path) + " disappeared right after it was created.";
        }
    }
    if (status != KeyStatus::Ok) return Fail(std::move(error));

    Bytes sealed(kOverhead + plain.size());
    sealed[0] = kVersion;
    if (RAND_bytes(sealed.data() + 1, static_cast<int>(kNonceLen)) != 1) {
        return Fail("No random numbers are available to encode the password.");
    }
    if (!Seal(key, sealed.data() + 1, plain, sealed.data() + 1 + kNonceLen)) {
        return Fail("The password could not be encrypted.");
    }
    return EncPwdResult{true, std::string(kEncPwdPrefix) + Base64Encode(sealed), {}};
}

EncPwdResult DecodeEncPwd(std::string_view encpwdText) {
    KELVO_TRACE_SCOPE();
    if (!encpwdText.starts_with(kEncPwdPrefix)) {
        return Fail("The value does not begin with \"" + std::string(kEncPwdPrefix) + "\".");
    }
    const std::string_view body = encpwdText.substr(kEncPwdPrefix.size());
    if (body.size() > (kOverhead + kMaxPlainLen + 2) / 3 * 4) {
        return Fail("The ENCPWD: value is too long.");
    }
    Bytes sealed;
    if (!Base64Decode(body, sealed)) return Fail("The ENCPWD: value is not valid base64 text.");
    if (sealed.size() < kOverhead) return Fail("The ENCPWD: value is too short; it is incomplete.");
    if (sealed[0] != kVersion) {
        return Fail("The ENCPWD: value has an unknown format version (" +
                    std::to_string(sealed[0]) + ").");
    }

    const std::string path = EncPwdKeyFilePath();
    if (path.empty()) {
        return Fail("There is no ENCPWD: key file: " + std::string(kEncPwdKeyFileEnv) +
                    " is not set and the home folder is unknown.");
    }
    Key key;
    std::string error;
    switch (LoadKey(path, key, error)) {
    case KeyStatus::Ok:
        break;
    case KeyStatus::Missing:
        return Fail(KeyFileText(path) +
                    " does not exist. A value decodes only with the key file that encoded it.");
    case KeyStatus::Failed:
        return Fail(std::move(error));
    }

    EncPwdResult result{true, std::string(sealed.size() - kOverhead, '\0'), {}};
    if (!Open(key, sealed, result.value)) {
        WipeSecret(result.value);
        result.ok = false;
        result.error = "The ENCPWD: value cannot be decrypted: it was made with another key file, "
                       "or it has been changed or damaged.";
    }
    return result;
}

} // namespace kelvo
