#include "ConsoleOutput.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "kelvo-log-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { fs::remove_all(dir_); }
    static std::string Read(const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir_;
};

TEST_F(LogFile, NeverWritesThroughALinkAndStaysPrivate) {
    const fs::path target = dir_ / "target";
    std::ofstream(target) << "keep";
    fs::create_symlink(target, dir_ / "link.log");
    LogWriter log;
    EXPECT_FALSE(log.Open((dir_ / "link.log").string(), false));
    EXPECT_EQ(log.Error(), "it is a symbolic link");
    EXPECT_EQ(Read(target), "keep") << "the link's target must not be truncated";

    // An existing log that others could read becomes private.
    const fs::path existing = dir_ / "kelvo.log";
    std::ofstream(existing) << "old\n";
    ASSERT_EQ(::chmod(existing.c_str(), 0644), 0);
    ASSERT_TRUE(log.Open(existing.string(), true));
    log.WriteLine("line");
    log.Close();
    EXPECT_FALSE(log.Failed());
    struct stat st {};
    ASSERT_EQ(::stat(existing.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = Read(existing);
    EXPECT_EQ(text.rfind("old\n<SOR>\n", 0), 0u) << text;
    EXPECT_NE(text.find("line\n<EOR>\n"), std::string::npos) << text;
}

TEST_F(LogFile, AFailedWriteIsReported) {
    // A file size limit makes the write fail the way a full disk does.
    const fs::path path = dir_ / "small.log";
    LogWriter log;
    ASSERT_TRUE(log.Open(path.string(), false));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 100; ++i)
        log.WriteLine("a line that will not fit in sixteen bytes");
    log.Close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_TRUE(log.Failed());
    EXPECT_FALSE(log.Error().empty());
}

} // namespace
