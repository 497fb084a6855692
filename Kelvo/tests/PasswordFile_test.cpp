#include "PasswordFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kelvo::ReadPasswordFile;

// A private temporary folder, removed at the end of each test.
struct TempDir {
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "kelvo-upfile-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string Write(const std::string& name, const std::string& content, mode_t mode) const {
        const std::string file = path + "/" + name;
        std::ofstream(file, std::ios::binary) << content;
        chmod(file.c_str(), mode);
        return file;
    }
    std::string path;
};

TEST(ReadPasswordFile, FirstLineWithoutItsLineEnd) {
    const struct {
        const char* name;
        std::string content;
        const char* password;
    } cases[] = {
        {"newline", "Pa ss:w0rd\n", "Pa ss:w0rd"},
        {"no newline", "Pa55", "Pa55"},
        {"crlf", "Pa55\r\n", "Pa55"},
        {"only the first line", "first\nsecond\n", "first"},
        {"inner CR and spaces kept", " a\rb \n", " a\rb "},
        {"utf-8", "P\xc3\xa4ss\n", "P\xc3\xa4ss"},
        {"longest line", std::string(kelvo::kMaxPasswordFileLine, 'x') + "\n",
         nullptr}, // compared below
    };
    TempDir dir;
    for (const auto& c : cases) {
        const auto r = ReadPasswordFile(dir.Write("pw", c.content, 0600));
        ASSERT_TRUE(r.ok) << c.name << ": " << r.error;
        EXPECT_EQ(r.password, c.password ? std::string(c.password)
                                         : std::string(kelvo::kMaxPasswordFileLine, 'x'))
            << c.name;
    }
}

// Every refusal says why and never shows the file's content.
TEST(ReadPasswordFile, Refusals) {
    const struct {
        const char* name;
        std::string content;
        mode_t mode;
        const char* why;
    } cases[] = {
        {"world readable", "Secret1\n", 0644, "may be read or written by group or others"},
        {"group readable", "Secret1\n", 0640, "may be read or written by group or others"},
        {"group writable", "Secret1\n", 0620, "may be read or written by group or others"},
        {"world writable", "Secret1\n", 0602, "may be read or written by group or others"},
        {"empty file", "", 0600, "has no password on its first line"},
        {"empty first line", "\nSecret1\n", 0600, "has no password on its first line"},
        {"only CR", "\r\n", 0600, "has no password on its first line"},
        {"NUL byte", std::string("Sec\0ret1\n", 9), 0600, "has a NUL byte"},
        {"too long", std::string(kelvo::kMaxPasswordFileLine + 1, 'S') + "\n", 0600,
         "longer than 4096"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        const auto r = ReadPasswordFile(dir.Write("pw", c.content, c.mode));
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_TRUE(r.password.empty()) << c.name;
        EXPECT_NE(r.error.find(c.why), std::string::npos) << c.name << ": " << r.error;
        EXPECT_EQ(r.error.find("Secret1"), std::string::npos) << c.name;
        EXPECT_EQ(r.error.find("SSSS"), std::string::npos) << c.name;
    }
}

TEST(ReadPasswordFile, OnlyRegularFiles) {
    TempDir dir;
    const std::string fifo = dir.path + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string sub = dir.path + "/sub";
    fs::create_directory(sub);
    chmod(sub.c_str(), 0700);
    const struct {
        const char* name;
        std::string path;
        const char* why;
    } cases[] = {
        {"fifo (does not hang)", fifo, "is not a regular file"},
        {"directory", sub, "is not a regular file"},
        {"device", "/dev/null", "is not a regular file"},
        {"missing", dir.path + "/none", "cannot be opened"},
    };
    for (const auto& c : cases) {
        const auto r = ReadPasswordFile(c.path);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_NE(r.error.find(c.why), std::string::npos) << c.name << ": " << r.error;
    }
}

// A link is judged by the file it reaches: a private file through a link is
// read, a readable one refused.
TEST(ReadPasswordFile, LinksAreJudgedByTheirTarget) {
    TempDir dir;
    const std::string privateFile = dir.Write("private", "Pa55\n", 0600);
    const std::string sharedFile = dir.Write("shared", "Pa55\n", 0644);
    ASSERT_EQ(symlink(privateFile.c_str(), (dir.path + "/l1").c_str()), 0);
    ASSERT_EQ(symlink(sharedFile.c_str(), (dir.path + "/l2").c_str()), 0);
    EXPECT_TRUE(ReadPasswordFile(dir.path + "/l1").ok);
    EXPECT_FALSE(ReadPasswordFile(dir.path + "/l2").ok);
}

} // namespace
