#include "CaptureOutput.h"
#include "LdifWriter.h"
#include "pellixstrings.h"
#include "RequestBuilder.h"
#include "ResultPrinter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

class NoLookups final : public DirectoryLookups {
  public:
    std::string parent, rdn;
    std::string LastKnownParent(const std::string&) override { return parent; }
    std::string LastKnownRDN(const std::string&) override { return rdn; }
    std::string CurrentDN(const std::string&) override { return {}; }
};

// A request as the run builds it, from attribute actions.
struct Built {
    RunSettings s;
    ModContainers mods;
    NoLookups lookups;
    ServerFacts facts;
    std::unique_ptr<RequestBuilder> builder;

    Built(std::uint32_t op, const std::vector<std::string>& actions) {
        s.op = op;
        ActionOptions o;
        o.run = op == KELVO_ADD      ? ActionRun::Add
                : op == KELVO_UPDATE ? ActionRun::Update
                                     : ActionRun::Other;
        EXPECT_TRUE(ParseAttributeActions(actions, o, mods).ok);
    }
    Request Build(const std::string& dn) {
        builder = std::make_unique<RequestBuilder>(s, mods, facts, lookups);
        EXPECT_FALSE(builder->Prepare());
        BuildOutcome o = builder->Build(Target{dn, 1});
        EXPECT_EQ(o.status, BuildOutcome::Status::Send) << o.message << o.fatalText;
        return o.request;
    }
};

Request WithMods(RequestKind kind, std::string dn, std::shared_ptr<ModList> mods) {
    Request r;
    r.kind = kind;
    r.dn = std::move(dn);
    r.mods = std::move(mods);
    return r;
}

TEST(Ldif, SafeStringsAndBase64) {
    const struct {
        std::string value;
        bool safe;
    } cases[] = {
        {"", true},
        {"plain text", true},
        {"a:b<c", true},
        {"~!@#$%^&*()", true},
        {" leading space", false},
        {":leading colon", false},
        {"<leading angle", false},
        {"trailing space ", false},
        {"line\nbreak", false},
        {"carriage\rreturn", false},
        {"nul\0inside"s, false},
        {"tab\there", false},
        {"del\x7f", false},
        {"caf\xc3\xa9", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LdifSafe(c.value), c.safe) << c.value;

    // The RFC 4648 test vectors, and bytes that are not text.
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\0\xff\xfe"s, "AP/+"},
    };
    for (const auto& [in, out] : vectors)
        EXPECT_EQ(Base64Encode(in), out) << in;

    EXPECT_EQ(LdifLine("cn", "x y"), "cn: x y\n");
    EXPECT_EQ(LdifLine("cn", " x"), "cn:: IHg=\n");
    EXPECT_EQ(LdifLine("dn", ""), "dn:\n");
}

// Every operation an action can ask for, in the order the request sends
// them (names as the parser keeps them, in lower case).
TEST(Ldif, ModifyRecordsEveryOperation) {
    Built b(KELVO_UPDATE, {"description::hello", "otherTelephone:++:1;2", "mail:-", "info:--:a;b",
                           "url:+-:x;y", "hex##jpegPhoto::00ff20", "carLicense:+: padded "});
    b.s.permissive = true;
    const Request r = b.Build("cn=a,dc=x");
    EXPECT_EQ(ChangeRecord(r, false), "dn: cn=a,dc=x\n"
                                      "control: 1.2.840.113556.1.4.1413 true\n"
                                      "changetype: modify\n"
                                      "delete: mail\n"
                                      "-\n"
                                      "delete: info\n"
                                      "info: a\n"
                                      "info: b\n"
                                      "-\n"
                                      "replace: description\n"
                                      "description: hello\n"
                                      "-\n"
                                      "replace: url\n"
                                      "url: x\n"
                                      "url: y\n"
                                      "-\n"
                                      "add: carlicense\n"
                                      "carlicense:: IHBhZGRlZCA=\n"
                                      "-\n"
                                      "add: othertelephone\n"
                                      "othertelephone: 1\n"
                                      "othertelephone: 2\n"
                                      "-\n"
                                      "replace: jpegphoto\n"
                                      "jpegphoto:: AP8g\n"
                                      "-\n");
}

TEST(Ldif, ControlValuesAreBase64) {
    auto controls = std::make_shared<ControlList>();
    controls->Add(oid::kSdFlags, *BerInt(4), "");
    controls->Add(oid::kShowDeleted, {}, "");
    Request r;
    r.kind = RequestKind::Delete;
    r.dn = "cn=a,dc=x";
    r.controls = controls;
    EXPECT_EQ(ChangeRecord(r, true), "dn: cn=a,dc=x\n"
                                     "control: 1.2.840.113556.1.4.801 true:: MAMCAQQ=\n"
                                     "control: 1.2.840.113556.1.4.417 true\n"
                                     "changetype: delete\n");
}

TEST(Ldif, DeleteRenameMoveAndUndeleteAsBuilt) {
    Built tree(KELVO_DELETE, {});
    tree.s.treeDelete = true;
    EXPECT_EQ(ChangeRecord(tree.Build("ou=t,dc=x"), false),
              "dn: ou=t,dc=x\ncontrol: 1.2.840.113556.1.4.805 true\nchangetype: delete\n");

    Built rename(KELVO_RENAME, {});
    rename.s.newRDN = "new";
    EXPECT_EQ(ChangeRecord(rename.Build("cn=old,ou=a,dc=x"), false),
              "dn: cn=old,ou=a,dc=x\nchangetype: modrdn\nnewrdn: cn=new\ndeleteoldrdn: 1\n"
              "newsuperior: ou=a,dc=x\n");

    Built move(KELVO_MOVE, {});
    move.s.newParent = "ou=b,dc=x";
    move.s.newRDN = "cn=Jos\xc3\xa9";
    EXPECT_EQ(ChangeRecord(move.Build("cn=jose,ou=a,dc=x"), false),
              "dn: cn=jose,ou=a,dc=x\nchangetype: modrdn\nnewrdn:: Y249Sm9zw6k=\n"
              "deleteoldrdn: 1\nnewsuperior: ou=b,dc=x\n");

    Built undelete(KELVO_UNDEL, {"description:+:back"});
    undelete.s.showDeleted = true;
    undelete.lookups.parent = "ou=a,dc=x";
    EXPECT_EQ(ChangeRecord(undelete.Build("cn=u\\0ADEL:1234,cn=Deleted Objects,dc=x"), false),
              "dn: cn=u\\0ADEL:1234,cn=Deleted Objects,dc=x\n"
              "control: 1.2.840.113556.1.4.417 true\n"
              "changetype: modify\n"
              "delete: isDeleted\n"
              "-\n"
              "replace: distinguishedName\n"
              "distinguishedName: cn=u,ou=a,dc=x\n"
              "-\n"
              "add: description\n"
              "description: back\n"
              "-\n");
}

TEST(Ldif, AddRecordsMaskSecretsOnlyWhenAsked) {
    Built b(KELVO_ADD, {"objectClass:++:top;user", "sAMAccountName::u1", "unicodePwd::S3cret!",
                        "userPassword::Other1"});
    const Request r = b.Build("cn=u1,dc=x");
    const std::string real = ChangeRecord(r, false);
    const std::string masked = ChangeRecord(r, true);
    EXPECT_NE(real.find("changetype: add\n"), std::string::npos) << real;
    EXPECT_NE(real.find("objectclass: top\nobjectclass: user\n"), std::string::npos) << real;
    EXPECT_NE(real.find("userpassword: Other1\n"), std::string::npos) << real;
    // unicodePwd travels as the quoted password in UTF-16LE.
    const Bytes pwd = PasswordValue("S3cret!");
    EXPECT_NE(real.find("unicodepwd:: " +
                        Base64Encode({reinterpret_cast<const char*>(pwd.data()), pwd.size()})),
              std::string::npos)
        << real;
    EXPECT_NE(masked.find("unicodepwd: ********\n"), std::string::npos) << masked;
    EXPECT_NE(masked.find("userpassword: ********\n"), std::string::npos) << masked;
    EXPECT_EQ(masked.find("Other1"), std::string::npos);
    EXPECT_NE(masked.find("samaccountname: u1\n"), std::string::npos) << masked;
}

TEST(Ldif, RefreshHasNoRecordOnlyAComment) {
    Request refresh;
    refresh.kind = RequestKind::Refresh;
    refresh.dn = "cn=t,dc=x";
    refresh.refreshTtl = 3600;
    EXPECT_EQ(ChangeRecord(refresh, false), "# refresh cn=t,dc=x ttl 3600\n");
    refresh.dn = "cn=t\n,dc=x";
    EXPECT_EQ(ChangeRecord(refresh, false), "# refresh (base64) Y249dAosZGM9eA== ttl 3600\n");

    auto mods = std::make_shared<ModList>();
    mods->AddStrings(LDAP_MOD_ADD, "objectClass", {"dynamicObject"});
    Request add = WithMods(RequestKind::Add, "cn=t,dc=x", mods);
    add.refreshTtl = 60;
    EXPECT_EQ(ChangeRecord(add, false),
              "dn: cn=t,dc=x\nchangetype: add\nobjectClass: dynamicObject\n"
              "# refresh cn=t,dc=x ttl 60\n");
    EXPECT_EQ(ChangeRecord(Request{}, false), "");
}

// Whatever a DN or value holds, every line of a record is one of the fields
// LDIF knows: nothing in the data can start a line of its own.
TEST(Ldif, HostileTextNeverStartsALine) {
    const std::string hostile[] = {"x\ndn: cn=admin\nchangetype: delete",
                                   "x\r\n-\nreplace: member",
                                   "\n",
                                   " ",
                                   ":",
                                   "<file:///etc/x",
                                   "\xff\xfe",
                                   "a\0b"s};
    for (const std::string& h : hostile) {
        auto mods = std::make_shared<ModList>();
        mods->AddStrings(LDAP_MOD_REPLACE, "description", {h});
        mods->AddBinary(LDAP_MOD_ADD, "jpegPhoto", {Bytes(h.begin(), h.end())});
        const Request r = WithMods(RequestKind::Modify, "cn=" + h + ",dc=x", mods);
        std::istringstream lines(ChangeRecord(r, false));
        std::string line;
        int count = 0;
        while (std::getline(lines, line)) {
            ++count;
            const bool known = line.starts_with("dn:") || line.starts_with("changetype: ") ||
                               line.starts_with("replace: ") || line.starts_with("add: ") ||
                               line.starts_with("description:") || line.starts_with("jpegPhoto:") ||
                               line == "-";
            EXPECT_TRUE(known) << "line \"" << line << "\" from " << h;
        }
        EXPECT_EQ(count, 8) << h;

        Request renamed;
        renamed.kind = RequestKind::Rename;
        renamed.dn = "cn=a,dc=x";
        renamed.newRDN = "cn=" + h;
        renamed.newParent = h;
        const std::string text = ChangeRecord(renamed, false);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5) << text;
    }
}

TEST(Ldif, RequestsWithNoLdifForm) {
    const struct {
        const char* name;
        RequestKind kind;
        int op;
        std::string attribute;
        std::vector<std::string> values;
    } cases[] = {
        {"line break in a name",
         RequestKind::Modify,
         LDAP_MOD_REPLACE,
         "description\ndn: x",
         {"v"}},
        {"space in a name", RequestKind::Modify, LDAP_MOD_REPLACE, "de scription", {"v"}},
        {"colon in a name", RequestKind::Modify, LDAP_MOD_ADD, "a:b", {"v"}},
        {"empty name", RequestKind::Modify, LDAP_MOD_ADD, "", {"v"}},
        {"unknown operation", RequestKind::Modify, 7, "description", {"v"}},
        {"add without values", RequestKind::Add, LDAP_MOD_ADD, "description", {}},
        {"add record removing values", RequestKind::Add, LDAP_MOD_DELETE, "description", {"v"}},
    };
    for (const auto& c : cases) {
        auto mods = std::make_shared<ModList>();
        mods->AddStrings(c.op, c.attribute, c.values);
        const Request r = WithMods(c.kind, "cn=a,dc=x", mods);
        EXPECT_FALSE(LdifProblem(r).empty()) << c.name;
        EXPECT_EQ(ChangeRecord(r, false), "") << c.name;
    }
    auto fine = std::make_shared<ModList>();
    fine->AddStrings(LDAP_MOD_ADD, "userCertificate;binary", {"v"});
    fine->AddStrings(LDAP_MOD_ADD, "1.2.840.113556.1.4.7000", {"v"});
    EXPECT_EQ(LdifProblem(WithMods(RequestKind::Modify, "cn=a,dc=x", fine)), "");
    Request rename;
    rename.kind = RequestKind::Rename;
    EXPECT_FALSE(LdifProblem(rename).empty());
}

class LdifFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("kelvo_ldif_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directory(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static std::string Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(f), {}};
    }
    static Request Modify(const std::string& dn, const std::string& value) {
        auto mods = std::make_shared<ModList>();
        mods->AddStrings(LDAP_MOD_REPLACE, "unicodePwd", {value});
        return WithMods(RequestKind::Modify, dn, mods);
    }

    std::filesystem::path dir_;
};

TEST_F(LdifFile, VersionThenRecordsWithRealValuesInAPrivateFile) {
    LdifOutput out;
    ASSERT_TRUE(out.Open(Path("a.ldif"))) << out.Error();
    out.Write(Modify("cn=a,dc=x", "secret1"));
    out.Write(Request{}); // nothing to send: no record
    out.Write(Modify("cn=b,dc=x", "secret2"));
    EXPECT_EQ(out.Records(), 2u);
    EXPECT_TRUE(out.Close());
    EXPECT_TRUE(out.Close()) << "closing again reports nothing";
    EXPECT_EQ(Read(Path("a.ldif")),
              "version: 1\n\n"
              "dn: cn=a,dc=x\nchangetype: modify\nreplace: unicodePwd\nunicodePwd: secret1\n-\n\n"
              "dn: cn=b,dc=x\nchangetype: modify\nreplace: unicodePwd\nunicodePwd: secret2\n-\n");
    struct stat st {};
    ASSERT_EQ(::stat(Path("a.ldif").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(LdifFile, LinksAndOtherFilesAreRefused) {
    std::ofstream(Path("target")) << "keep\n";
    std::filesystem::create_symlink(Path("target"), Path("link"));
    LdifOutput out;
    EXPECT_FALSE(out.Open(Path("link")));
    EXPECT_FALSE(out.Error().empty());
    EXPECT_EQ(Read(Path("target")), "keep\n");
    EXPECT_TRUE(out.Close()) << "a file never opened closes quietly";
    LdifOutput folder;
    EXPECT_FALSE(folder.Open(dir_.string()));
}

TEST_F(LdifFile, ARecordThatCannotBeWrittenFailsOnceAndStopsTheFile) {
    LdifOutput out;
    ASSERT_TRUE(out.Open(Path("b.ldif")));
    out.Write(Modify("cn=a,dc=x", "1"));
    auto bad = std::make_shared<ModList>();
    bad->AddStrings(LDAP_MOD_REPLACE, "bad name", {"v"});
    out.Write(WithMods(RequestKind::Modify, "cn=b,dc=x", bad));
    out.Write(Modify("cn=c,dc=x", "3"));
    EXPECT_TRUE(out.Failed());
    EXPECT_NE(out.Error().find("cn=b,dc=x"), std::string::npos) << out.Error();
    EXPECT_EQ(out.Records(), 1u);
    EXPECT_FALSE(out.Close());
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(Read(Path("b.ldif")).find("cn=c"), std::string::npos);
}

// A full disk, made with a file size limit.
TEST_F(LdifFile, AWriteThatFailsIsReported) {
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    LdifOutput out;
    const bool opened = out.Open(Path("c.ldif"));
    out.Write(Modify("cn=a,dc=x", std::string(100, 'v')));
    const bool closed = out.Close();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(closed);
    EXPECT_EQ(out.Records(), 0u);
    EXPECT_FALSE(out.Error().empty());
}

TEST(LdifPrinter, WhatIfLinesFollowTheQuietSwitches) {
    auto mods = std::make_shared<ModList>();
    mods->AddStrings(LDAP_MOD_REPLACE, "unicodePwd", {"pw"});
    const Request r = WithMods(RequestKind::Modify, "cn=a,dc=x", mods);
    Result notSent;
    notSent.notSent = true;
    const struct {
        bool quiet, list;
        std::string out;
    } cases[] = {
        {false, false,
         "   DN: cn=a,dc=x...: not sent (what-if)\ndn: cn=a,dc=x\nchangetype: modify\n"
         "replace: unicodePwd\nunicodePwd: ********\n-\n\n3 object(s) not sent (what-if).\n"},
        {true, true, "   DN: cn=a,dc=x...: not sent (what-if)\n"},
        {true, false, ""},
    };
    for (const auto& c : cases) {
        CaptureOutput cap;
        PrinterOptions o;
        o.quiet = c.quiet;
        o.quietButList = c.list;
        const ResultPrinter printer(o);
        printer.Begin(Target{r.dn, 0}, 1);
        printer.NotSent(r);
        printer.Succeeded(r, notSent);
        printer.NotSentSummary(3);
        EXPECT_EQ(cap.out, c.out);
        EXPECT_EQ(cap.err, "");
    }
}

} // namespace
