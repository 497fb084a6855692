#include "EncPwd.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kelvo::DecodeEncPwd;
using kelvo::EncodeEncPwd;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPrefix = "ENCPWD:";

// Reference base64 from OpenSSL, to build and take apart values in the tests.
std::string B64(const Bytes& in) {
    std::string out(4 * ((in.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), in.data(),
                                  static_cast<int>(in.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Bytes UnB64(std::string_view in) {
    Bytes out(in.size() / 4 * 3 + 3);
    const int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(in.data()),
                                  static_cast<int>(in.size()));
    if (n < 0) return {};
    std::size_t len = static_cast<std::size_t>(n);
    if (in.ends_with("=="))
        len -= 2;
    else if (in.ends_with("="))
        len -= 1;
    out.resize(len);
    return out;
}

std::string Text(const Bytes& sealed) {
    return std::string(kPrefix) + B64(sealed);
}
Bytes Sealed(std::string_view text) {
    return UnB64(text.substr(kPrefix.size()));
}

std::optional<std::string> GetEnv(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
}

void RestoreEnv(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

unsigned ModeOf(const fs::path& p) {
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) return 0xFFFF;
    return st.st_mode & 07777;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& p, const std::string& data, mode_t mode) {
    {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << data;
    }
    ASSERT_EQ(::chmod(p.c_str(), mode), 0);
}

class EncPwdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kelvo-encpwd-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        keyFile_ = dir_ / "keys" / "sub" / "encpwd.key";
        ::setenv("KELVO_KEYFILE", keyFile_.c_str(), 1);
        // With no umask the modes on disk are exactly the ones the code asks for.
        oldUmask_ = ::umask(0);
    }

    void TearDown() override {
        ::umask(oldUmask_);
        RestoreEnv("KELVO_KEYFILE", savedKeyFile_);
        RestoreEnv("HOME", savedHome_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    std::string MustEncode(std::string_view plain) {
        const auto r = EncodeEncPwd(plain);
        EXPECT_TRUE(r.ok) << r.error;
        EXPECT_TRUE(r.error.empty());
        return r.value;
    }

    // Decoding must fail with a message and without leaking any password text.
    void ExpectDecodeFails(std::string_view text, std::string_view errorPart = {}) {
        const auto r = DecodeEncPwd(text);
        EXPECT_FALSE(r.ok) << "accepted: " << text;
        EXPECT_TRUE(r.value.empty());
        EXPECT_FALSE(r.error.empty());
        if (!errorPart.empty()) {
            EXPECT_NE(r.error.find(errorPart), std::string::npos) << r.error;
        }
    }

    fs::path dir_;
    fs::path keyFile_;
    mode_t oldUmask_ = 0;
    std::optional<std::string> savedKeyFile_ = GetEnv("KELVO_KEYFILE");
    std::optional<std::string> savedHome_ = GetEnv("HOME");
};

TEST_F(EncPwdTest, RoundTrips) {
    const std::string withNul("a\0b", 3);
    const std::string cases[] = {
        "",
        "x",
        "Pa$$w0rd!",
        "15 bytes long..",
        "16 bytes long...",
        "17 bytes long....",
        "p\xC3\xA4ssw\xC3\xB6rd \xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C "
        "\xE5\xAF\x86\xE7\xA0\x81 \xF0\x9F\x94\x91", // pässwörd пароль 密码 🔑
        withNul,
        std::string(1000, 'z'),
        std::string(64 * 1024, 'q'),
    };
    for (const auto& plain : cases) {
        SCOPED_TRACE(plain.substr(0, 40));
        const std::string text = MustEncode(plain);
        EXPECT_TRUE(text.starts_with(kPrefix)) << text;
        if (plain.size() > 3) {
            EXPECT_EQ(text.find(plain), std::string::npos);
        }
        // version + nonce + one byte per password byte + tag
        EXPECT_EQ(Sealed(text).size(), 1 + 12 + plain.size() + 16);
        const auto r = DecodeEncPwd(text);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.value, plain);
    }
}

// Opens a value with OpenSSL directly, following the documented layout:
// version | 12-byte nonce | ciphertext | 16-byte tag, AAD "ENCPWD:" + version.
std::optional<std::string> ReferenceOpen(const std::string& key, const Bytes& sealed) {
    if (key.size() != 32 || sealed.size() < 29) return std::nullopt;
    const std::string aad = std::string(kPrefix) + static_cast<char>(sealed[0]);
    const std::size_t ctLen = sealed.size() - 29;
    std::string plain(ctLen, '\0');
    Bytes tag(sealed.end() - 16, sealed.end());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0, fin = 0;
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    auto* out = reinterpret_cast<unsigned char*>(plain.data());
    const bool ok =
        EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, k, sealed.data() + 1) == 1 &&
        EVP_DecryptUpdate(ctx, nullptr, &len, reinterpret_cast<const unsigned char*>(aad.data()),
                          static_cast<int>(aad.size())) == 1 &&
        EVP_DecryptUpdate(ctx, out, &len, sealed.data() + 13, static_cast<int>(ctLen)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, 16, tag.data()) == 1 &&
        EVP_DecryptFinal_ex(ctx, out + len, &fin) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) return std::nullopt;
    return plain;
}

TEST_F(EncPwdTest, LayoutMatchesTheDocumentedFormat) {
    const std::string text = MustEncode("layout check \xE2\x9C\x93");
    const Bytes sealed = Sealed(text);
    ASSERT_EQ(Text(sealed), text) << "standard padded base64 expected";
    ASSERT_FALSE(sealed.empty());
    EXPECT_EQ(sealed[0], 1);
    EXPECT_EQ(ReferenceOpen(ReadAll(keyFile_), sealed), "layout check \xE2\x9C\x93");

    // A value made independently in the same layout is accepted.
    const std::string key = ReadAll(keyFile_);
    Bytes made(1 + 12 + 3 + 16);
    made[0] = 1;
    for (std::size_t i = 1; i < 13; ++i)
        made[i] = static_cast<std::uint8_t>(i * 7);
    const std::string aad = std::string(kPrefix) + '\x01';
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0, fin = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr,
                                 reinterpret_cast<const unsigned char*>(key.data()),
                                 made.data() + 1),
              1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx, nullptr, &len,
                                reinterpret_cast<const unsigned char*>(aad.data()),
                                static_cast<int>(aad.size())),
              1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx, made.data() + 13, &len,
                                reinterpret_cast<const unsigned char*>("abc"), 3),
              1);
    ASSERT_EQ(EVP_EncryptFinal_ex(ctx, made.data() + 13 + len, &fin), 1);
    ASSERT_EQ(EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, made.data() + 16), 1);
    EVP_CIPHER_CTX_free(ctx);
    const auto r = DecodeEncPwd(Text(made));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.value, "abc");
}

TEST_F(EncPwdTest, OverlongPasswordIsRejected) {
    const auto r = EncodeEncPwd(std::string(64 * 1024 + 1, 'q'));
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.value.empty());
    EXPECT_FALSE(r.error.empty());
}

TEST_F(EncPwdTest, EncodingsOfOnePasswordDiffer) {
    const std::string a = MustEncode("same secret");
    const std::string b = MustEncode("same secret");
    EXPECT_NE(a, b);
    const Bytes sa = Sealed(a), sb = Sealed(b);
    ASSERT_EQ(sa.size(), sb.size());
    EXPECT_NE(Bytes(sa.begin() + 1, sa.begin() + 13), Bytes(sb.begin() + 1, sb.begin() + 13))
        << "nonce reused";
    EXPECT_EQ(DecodeEncPwd(a).value, "same secret");
    EXPECT_EQ(DecodeEncPwd(b).value, "same secret");
}

TEST_F(EncPwdTest, FirstEncodeCreatesPrivateKeyFileAndKeepsIt) {
    ASSERT_FALSE(fs::exists(keyFile_));
    MustEncode("pw");
    ASSERT_TRUE(fs::is_regular_file(keyFile_));
    EXPECT_EQ(ModeOf(keyFile_), 0600u);
    EXPECT_EQ(ModeOf(keyFile_.parent_path()), 0700u);
    EXPECT_EQ(ModeOf(keyFile_.parent_path().parent_path()), 0700u);
    EXPECT_EQ(fs::file_size(keyFile_), 32u);
    const std::string key = ReadAll(keyFile_);

    MustEncode("pw");
    EXPECT_EQ(ReadAll(keyFile_), key) << "an existing key must never be replaced";
    // No temporary files are left beside the key.
    EXPECT_EQ(std::distance(fs::directory_iterator(keyFile_.parent_path()), {}), 1);
}

TEST_F(EncPwdTest, DefaultKeyFileIsUnderHomeConfig) {
    ::unsetenv("KELVO_KEYFILE");
    ::setenv("HOME", dir_.c_str(), 1);
    const fs::path expected = dir_ / ".config" / "kelvo" / "encpwd.key";
    EXPECT_EQ(kelvo::EncPwdKeyFilePath(), expected.string());

    const std::string text = MustEncode("home pw");
    EXPECT_EQ(ModeOf(expected), 0600u);
    EXPECT_EQ(ModeOf(dir_ / ".config" / "kelvo"), 0700u);
    EXPECT_EQ(ModeOf(dir_ / ".config"), 0700u);
    EXPECT_EQ(DecodeEncPwd(text).value, "home pw");
}

TEST_F(EncPwdTest, EveryChangedCharacterIsRejected) {
    static constexpr std::string_view kB64 =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    // Three lengths, so the text ends in no, one and two padding characters.
    for (const char* plain : {"tamper me", "tamper me!", "tamper me!!"}) {
        const std::string text = MustEncode(plain);
        for (std::size_t i = 0; i < text.size(); ++i) {
            for (const char replacement : kB64) {
                if (text[i] == replacement) continue;
                std::string t = text;
                t[i] = replacement;
                const auto r = DecodeEncPwd(t);
                ASSERT_FALSE(r.ok) << "accepted " << t;
                ASSERT_TRUE(r.value.empty());
                ASSERT_FALSE(r.error.empty());
            }
        }
        // The prefix is matched exactly.
        ExpectDecodeFails("encpwd:" + text.substr(kPrefix.size()));
    }
}

TEST_F(EncPwdTest, EveryFlippedBitIsRejected) {
    const std::string text = MustEncode("flip me");
    const Bytes sealed = Sealed(text);
    ASSERT_EQ(Text(sealed), text);
    for (std::size_t i = 0; i < sealed.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes b = sealed;
            b[i] ^= static_cast<std::uint8_t>(1u << bit);
            SCOPED_TRACE("byte " + std::to_string(i) + " bit " + std::to_string(bit));
            ExpectDecodeFails(Text(b));
        }
    }
}

TEST_F(EncPwdTest, TruncatedOrExtendedValueIsRejected) {
    const std::string text = MustEncode("cut me");
    for (std::size_t n = 0; n < text.size(); ++n)
        ExpectDecodeFails(text.substr(0, n));

    const Bytes sealed = Sealed(text);
    for (std::size_t n = 0; n < sealed.size(); ++n) {
        ExpectDecodeFails(Text(Bytes(sealed.begin(), sealed.begin() + static_cast<long>(n))));
    }
    Bytes longer = sealed;
    longer.push_back(0);
    ExpectDecodeFails(Text(longer));
    ExpectDecodeFails(text + "AAAA");
}

TEST_F(EncPwdTest, WrongKeyIsRejected) {
    const std::string text = MustEncode("right key only");
    const std::string key = ReadAll(keyFile_);

    std::string other = key;
    other[0] = static_cast<char>(other[0] ^ 1);
    WriteFile(keyFile_, other, 0600);
    ExpectDecodeFails(text, "another key file");
    EXPECT_NE(DecodeEncPwd(text).error.find("decrypted"), std::string::npos);

    // A second key file elsewhere does not open it either.
    ::setenv("KELVO_KEYFILE", (dir_ / "other.key").c_str(), 1);
    MustEncode("makes other.key");
    ExpectDecodeFails(text, "another key file");

    ::setenv("KELVO_KEYFILE", keyFile_.c_str(), 1);
    WriteFile(keyFile_, key, 0600);
    EXPECT_EQ(DecodeEncPwd(text).value, "right key only");
}

TEST_F(EncPwdTest, MissingKeyFileFailsAndIsNotCreatedByDecode) {
    const std::string text = MustEncode("lost key");
    fs::remove(keyFile_);
    ExpectDecodeFails(text, keyFile_.string());
    EXPECT_NE(DecodeEncPwd(text).error.find("does not exist"), std::string::npos);
    EXPECT_FALSE(fs::exists(keyFile_));
}

TEST_F(EncPwdTest, UnsafeOrMalformedKeyFileIsRefused) {
    const std::string text = MustEncode("guarded");
    const std::string key = ReadAll(keyFile_);
    struct Case {
        const char* name;
        std::string content;
        mode_t mode;
        const char* errorPart;
    };
    const Case cases[] = {
        {"group readable", key, 0640, "group or others (mode 0640)"},
        {"other readable", key, 0604, "group or others (mode 0604)"},
        {"group writable", key, 0620, "group or others"},
        {"world readable", key, 0644, "refusing"},
        {"too short", key.substr(0, 31), 0600, "holds 31 bytes instead of 32"},
        {"too long", key + "x", 0600, "holds 33 bytes instead of 32"},
        {"empty", "", 0600, "holds 0 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(keyFile_, c.content, c.mode);
        ExpectDecodeFails(text, c.errorPart);
        const auto e = EncodeEncPwd("guarded");
        EXPECT_FALSE(e.ok);
        EXPECT_NE(e.error.find(c.errorPart), std::string::npos) << e.error;
        EXPECT_EQ(ReadAll(keyFile_), c.content) << "a refused key file must be left alone";
    }

    fs::remove(keyFile_);
    fs::create_directory(keyFile_);
    ExpectDecodeFails(text, "not a regular file");
    EXPECT_FALSE(EncodeEncPwd("x").ok);
    fs::remove(keyFile_);

    // Back to a safe file: the same value opens again.
    WriteFile(keyFile_, key, 0600);
    EXPECT_EQ(DecodeEncPwd(text).value, "guarded");
}

TEST_F(EncPwdTest, KeyPlacesOthersControlAreRefused) {
    const std::string text = MustEncode("guarded");
    const std::string key = ReadAll(keyFile_);
    // A FIFO in the key's place: refused at once, not waited on.
    fs::remove(keyFile_);
    ASSERT_EQ(::mkfifo(keyFile_.c_str(), 0600), 0);
    ExpectDecodeFails(text, "not a regular file");
    EXPECT_FALSE(EncodeEncPwd("x").ok);
    fs::remove(keyFile_);

    // A folder others may write into could hold a key of theirs.
    WriteFile(keyFile_, key, 0600);
    const fs::path folder = keyFile_.parent_path();
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    ExpectDecodeFails(text, "writable by group or others");
    const auto e = EncodeEncPwd("x");
    EXPECT_FALSE(e.ok);
    EXPECT_NE(e.error.find("The folder " + folder.string()), std::string::npos) << e.error;
    ASSERT_EQ(::chmod(folder.c_str(), 0700), 0);
    EXPECT_EQ(DecodeEncPwd(text).value, "guarded");
}

TEST_F(EncPwdTest, GarbageIsRejected) {
    MustEncode("makes a key");
    Bytes zeros(1 + 12 + 16, 0);
    zeros[0] = 1;
    Bytes version2 = Sealed(MustEncode("v"));
    version2[0] = 2;
    const std::string cases[] = {
        "",
        "ENCPWD",
        "ENCPWD:",
        "encpwd:AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
        " ENCPWD:AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
        "ENCPWD:!!!!",
        "ENCPWD:AAA",
        "ENCPWD:AA=A",
        "ENCPWD:A===",
        "ENCPWD:====",
        "ENCPWD:AQ==",
        "ENCPWD:AB==", // unused bits set
        "ENCPWD:AAAA\nAAAA",
        "ENCPWD:AAAA AAAA",
        "ENCPWD:AQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA ",
        Text(zeros),
        Text(version2),
        "ENCPWD:" + std::string(200000, 'A'),
        std::string("ENCPWD:\0\0\0\0", 11),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.substr(0, 60));
        ExpectDecodeFails(c);
    }
    ExpectDecodeFails(Text(version2), "version (2)");
}

} // namespace
