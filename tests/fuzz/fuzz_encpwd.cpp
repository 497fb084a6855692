// ENCPWD: values.  A key file with fixed bytes is written once into a
// private temporary folder (KELVO_KEYFILE names it for this process only)
// and removed at exit, so the seed values decode.
//
// Input: one option byte, then the text.
//   bit 0 clear: the text is decoded; with bit 1 "ENCPWD:" is put in front
//   bit 0 set: the text is a password: encoded, decoded again, and decoded
//              once more with one character of the value changed (bits 2-7
//              pick it), which must fail
#include "EncPwd.h"
#include "FuzzSupport.h"

#include <array>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string& KeyDir() {
    static std::string dir;
    return dir;
}

std::string KeyPath() {
    return KeyDir() + "/encpwd.key";
}

void RemoveKey() {
    ::unlink(KeyPath().c_str());
    ::rmdir(KeyDir().c_str());
}

// The key file the seed values were made with: bytes 0, 1, ..., 31.
void WriteKey() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kelvo-fuzz-encpwd-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) fuzz::Broken("no temporary folder for the key");
    KeyDir() = pattern;
    std::atexit(RemoveKey);
    std::array<std::uint8_t, 32> key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(i);
    const int fd =
        ::open(KeyPath().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0 ||
        ::write(fd, key.data(), key.size()) != static_cast<ssize_t>(key.size()) || ::close(fd) != 0)
        fuzz::Broken("the key file cannot be written");
    ::setenv(std::string(kelvo::kEncPwdKeyFileEnv).c_str(), KeyPath().c_str(), 1);
}

void CheckFailure(const kelvo::EncPwdResult& r) {
    fuzz::Check(r.value.empty(), "a failed decode gave a value");
    fuzz::Check(!r.error.empty(), "a failed decode does not say why");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    WriteKey();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size));
    if (!o.Has(0)) {
        const std::string text =
            (o.Has(1) ? std::string(kelvo::kEncPwdPrefix) : std::string()) + std::string(o.rest);
        kelvo::EncPwdResult r = kelvo::DecodeEncPwd(text);
        if (!r.ok) CheckFailure(r);
        kelvo::WipeSecret(r.value);
        return 0;
    }
    kelvo::EncPwdResult sealed = kelvo::EncodeEncPwd(o.rest);
    fuzz::Check(sealed.ok, "a password could not be encoded");
    fuzz::Check(sealed.value.starts_with(kelvo::kEncPwdPrefix), "a value lacks its prefix");
    fuzz::Check(sealed.value.find(o.rest) == std::string::npos || o.rest.size() < 12,
                "the encoded value shows the password");
    kelvo::EncPwdResult opened = kelvo::DecodeEncPwd(sealed.value);
    fuzz::Check(opened.ok && opened.value == o.rest, "a value does not decode to its password");
    kelvo::WipeSecret(opened.value);

    // One changed character of the base64 body.
    std::string damaged = sealed.value;
    const std::size_t body = kelvo::kEncPwdPrefix.size();
    const std::size_t at = body + (o.bits >> 2) % (damaged.size() - body);
    damaged[at] = damaged[at] == 'A' ? 'B' : 'A';
    // Every text form is the only one of its bytes, and the bytes are
    // authenticated: a changed character never decodes.
    kelvo::EncPwdResult bad = kelvo::DecodeEncPwd(damaged);
    fuzz::Check(!bad.ok, "a damaged value decoded");
    CheckFailure(bad);
    return 0;
}
