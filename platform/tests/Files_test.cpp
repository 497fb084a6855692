#include "Files.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class FilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kelvo-files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static void Write(const std::string& path, const std::string& text, mode_t mode) {
        std::ofstream(path) << text;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static mode_t Mode(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::lstat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    fs::path dir_;
};

TEST_F(FilesTest, PrivateFilesAreRegularUnlinkedAndMode0600) {
    // New, and an existing 0644 file: both end up 0600, replaced or appended.
    const std::string log = Path("k.log");
    auto a = platform::OpenPrivateFile(log, false);
    ASSERT_TRUE(a.file) << a.reason;
    ASSERT_TRUE(platform::WriteAll(a.file.get(), "one\n", 4));
    a.file.Close();
    EXPECT_EQ(Mode(log), 0600u);
    ASSERT_EQ(::chmod(log.c_str(), 0644), 0);
    auto b = platform::OpenPrivateFile(log, true);
    ASSERT_TRUE(b.file);
    ASSERT_TRUE(platform::WriteAll(b.file.get(), "two\n", 4));
    b.file.Close();
    EXPECT_EQ(Read(log), "one\ntwo\n");
    EXPECT_EQ(Mode(log), 0600u);
    auto c = platform::OpenPrivateFile(log, false);
    ASSERT_TRUE(c.file);
    c.file.Close();
    EXPECT_EQ(Read(log), "");

    // A link is refused and its target left alone.
    const std::string target = Path("precious");
    Write(target, "keep me", 0644);
    const std::string link = Path("link.log");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    auto viaLink = platform::OpenPrivateFile(link, false);
    EXPECT_FALSE(viaLink.file);
    EXPECT_EQ(viaLink.reason, "it is a symbolic link");
    EXPECT_EQ(Read(target), "keep me");
    EXPECT_EQ(Mode(target), 0644u);

    // A FIFO neither hangs the open nor is written; nor is a device.
    const std::string fifo = Path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto viaFifo = platform::OpenPrivateFile(fifo, false);
    EXPECT_FALSE(viaFifo.file);
    EXPECT_EQ(viaFifo.reason, "it is not a regular file");
    EXPECT_FALSE(platform::OpenPrivateFile("/dev/null", true).file);
}

TEST_F(FilesTest, TrustedFilesBelongToTheUserAndNobodyElseCanWriteThem) {
    const std::string cf = Path("kelvo.cf");
    Write(cf, "-h dc1\n", 0644);
    auto ok = platform::OpenTrustedFile(cf, 100);
    EXPECT_TRUE(ok.file) << ok.reason;

    ASSERT_EQ(::chmod(cf.c_str(), 0664), 0);
    auto groupWritable = platform::OpenTrustedFile(cf, 100);
    EXPECT_FALSE(groupWritable.file);
    EXPECT_EQ(groupWritable.reason, "it is writable by group or others");
    ASSERT_EQ(::chmod(cf.c_str(), 0646), 0);
    EXPECT_FALSE(platform::OpenTrustedFile(cf, 100).file);
    ASSERT_EQ(::chmod(cf.c_str(), 0644), 0);

    auto tooBig = platform::OpenTrustedFile(cf, 3);
    EXPECT_FALSE(tooBig.file);
    EXPECT_EQ(tooBig.error, EFBIG);

    if (::geteuid() == 0) {
        // Root can hand the file to another user: then it is not trusted.
        ASSERT_EQ(::chown(cf.c_str(), 65534, 65534), 0);
        auto foreign = platform::OpenTrustedFile(cf, 100);
        EXPECT_FALSE(foreign.file);
        EXPECT_EQ(foreign.reason, "it belongs to another user");
    }

    const std::string fifo = Path("fifo.cf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto viaFifo = platform::OpenTrustedFile(fifo, 100);
    EXPECT_FALSE(viaFifo.file);
    EXPECT_EQ(viaFifo.reason, "it is not a regular file");
    EXPECT_FALSE(platform::OpenTrustedFile("/dev/zero", 100).file);

    auto missing = platform::OpenTrustedFile(Path("none.cf"), 100);
    EXPECT_FALSE(missing.file);
    EXPECT_EQ(missing.error, ENOENT);
}

} // namespace
