#include "Rejects.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A private temporary folder for the files of one test.
class TempDir {
  public:
    TempDir() {
        char name[] = "/tmp/kelvo-rejects-XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() {
        const std::string cmd = "rm -rf '" + path_ + "'";
        (void)std::system(cmd.c_str());
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SourceTexts, KeepsEveryItemAcrossBlocks) {
    SourceTexts store;
    std::vector<std::string> items;
    // Enough items for several blocks, an empty one, and one larger than a
    // block.
    for (int i = 0; i < 3000; ++i)
        items.push_back(
            std::string(static_cast<std::size_t>(i % 700), static_cast<char>('a' + i % 26)) +
            std::to_string(i));
    items.push_back("");
    items.push_back(std::string(3 << 20, 'z'));
    items.push_back("after the large one");
    for (std::size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(store.Add(items[i]), i);
    ASSERT_EQ(store.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(store[static_cast<std::uint32_t>(i)], items[i]) << i;
    EXPECT_EQ(store[SourceTexts::kNone], "");
}

TEST(ChangesReadingAtHead, LinesThatWouldBeReadAsSomethingElse) {
    for (const char* yes :
         {"~~~X~~~dc1~~~X~~~636", "~~~ADCSV~~~1", "~notahint", "dn: cn=a", "version: 1",
          "\xEF\xBB\xBF"
          "cn=a,dc=x",
          "\xFF\xFE"
          "c"})
        EXPECT_TRUE(ChangesReadingAtHead(yes)) << yes;
    for (const char* no : {"cn=a,dc=x", "not a dn", "S-1-5-32-544", "\"cn=a,dc=x\"", ""})
        EXPECT_FALSE(ChangesReadingAtHead(no)) << no;
}

TEST(RejectsFile, WritesEachFormSoItReadsBack) {
    struct Case {
        const char* name;
        InputForm form;
        std::string header;
        std::vector<std::string> items;
        std::string file;
    };
    const Case cases[] = {
        {"DN lines",
         InputForm::DnLines,
         "",
         {"cn=a,dc=x", "S-1-5-21-1-2-3-500"},
         "cn=a,dc=x\nS-1-5-21-1-2-3-500\n"},
        {"CSV rows after the header",
         InputForm::Csv,
         "DN,description\n",
         {"\"cn=a,dc=x\",one", "\"cn=b,dc=x\",\"two, three\""},
         "DN,description\n\"cn=a,dc=x\",one\n\"cn=b,dc=x\",\"two, three\"\n"},
        {"CSV with an ADCSV marker",
         InputForm::Csv,
         "~~~ADCSV~~~1~~~ADCSV~~~,\nDN,cn\n",
         {"\"cn=a,dc=x\",a"},
         "~~~ADCSV~~~1~~~ADCSV~~~,\nDN,cn\n\"cn=a,dc=x\",a\n"},
        {"CSV with no rows has no header either", InputForm::Csv, "DN,cn\n", {}, ""},
        {"LDIF entries",
         InputForm::Ldif,
         "",
         {"dn: cn=a,dc=x", "dn:: Y249WsO8cmljaCxkYz14"},
         "dn: cn=a,dc=x\n\ndn:: Y249WsO8cmljaCxkYz14\n\n"},
        {"nothing to write", InputForm::DnLines, "", {}, ""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.File("rejects.txt");
        RejectsFile file;
        ASSERT_TRUE(file.Open(path)) << file.Error();
        file.SetForm(c.form, c.header);
        for (const auto& item : c.items)
            EXPECT_TRUE(file.Add(item));
        EXPECT_TRUE(file.Close());
        EXPECT_EQ(file.Count(), c.items.size());
        EXPECT_EQ(ReadFile(path), c.file);
    }
}

TEST(RejectsFile, EachFlushIsInTheFileAtOnce) {
    TempDir dir;
    const std::string path = dir.File("r.txt");
    RejectsFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.Add("cn=a,dc=x"));
    ASSERT_TRUE(file.Flush());
    // What a killed run leaves behind.
    EXPECT_EQ(ReadFile(path), "cn=a,dc=x\n");
    ASSERT_TRUE(file.Add("cn=b,dc=x"));
    ASSERT_TRUE(file.Flush());
    EXPECT_EQ(ReadFile(path), "cn=a,dc=x\ncn=b,dc=x\n");
    EXPECT_TRUE(file.Close());
}

TEST(RejectsFile, IsPrivateAndNeverFollowsALink) {
    TempDir dir;
    const std::string path = dir.File("r.txt");
    {
        std::ofstream old(path);
        old << "an old run's rejects\n";
    }
    ::chmod(path.c_str(), 0644);
    RejectsFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_TRUE(file.Close());
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    // An existing file is emptied: an earlier run's rejects never mix in.
    EXPECT_EQ(ReadFile(path), "");

    const std::string target = dir.File("target.txt");
    {
        std::ofstream t(target);
        t << "keep\n";
    }
    const std::string link = dir.File("link.txt");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    RejectsFile linked;
    EXPECT_FALSE(linked.Open(link));
    EXPECT_NE(linked.Error().find("symbolic link"), std::string::npos) << linked.Error();
    EXPECT_FALSE(linked.Add("cn=a,dc=x"));
    EXPECT_EQ(ReadFile(target), "keep\n");

    RejectsFile folder;
    EXPECT_FALSE(folder.Open(dir.File("")));
}

TEST(RejectsFile, AWriteThatFailsIsReported) {
    TempDir dir;
    // A file size limit makes the write fail (EFBIG) instead of ending the
    // process.
    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    RejectsFile file;
    const bool opened = file.Open(dir.File("r.txt"));
    bool added = opened;
    for (int i = 0; opened && i < 10; ++i)
        added = file.Add("cn=object" + std::to_string(i) + ",ou=somewhere,dc=x") && added;
    const bool flushed = opened && file.Flush();
    const bool closed = file.Close();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    ASSERT_TRUE(opened);
    EXPECT_FALSE(flushed);
    EXPECT_FALSE(closed);
    EXPECT_TRUE(file.Failed());
    EXPECT_FALSE(file.Error().empty());
}

} // namespace
