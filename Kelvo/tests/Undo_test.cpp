#include "Undo.h"

#include "EntryRead.h"
#include "ExitCodes.h"
#include "LdifWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::shared_ptr<ModList> Mods(std::initializer_list<std::pair<int, std::string>> ops) {
    auto m = std::make_shared<ModList>();
    for (const auto& [op, name] : ops)
        m->AddStrings(op, name, {"new"});
    return m;
}

Request Modify(const std::string& dn, std::shared_ptr<ModList> mods,
               std::shared_ptr<ControlList> controls = {}) {
    Request r;
    r.kind = RequestKind::Modify;
    r.dn = dn;
    r.mods = std::move(mods);
    r.controls = std::move(controls);
    return r;
}

Request Of(RequestKind kind, const std::string& dn) {
    Request r;
    r.kind = kind;
    r.dn = dn;
    return r;
}

ObjectState State(const std::string& dn, std::map<std::string, std::vector<std::string>> attributes,
                  const std::string& guid = std::string(16, '\x11')) {
    ObjectState s;
    s.found = true;
    s.dn = dn;
    s.guid = guid;
    for (auto& [name, values] : attributes) {
        std::string lower = name;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        s.attributes[lower] = {name, std::move(values)};
    }
    return s;
}

std::shared_ptr<ControlList> WithControl(std::string_view oid, const Bytes& value = {}) {
    auto c = std::make_shared<ControlList>();
    c->Add(oid, value, "");
    return c;
}

// --- which requests can be undone, and what is read for them ---------------

TEST(UndoPlan, RefusesWhatCannotBeWrittenBackAndReadsTheRest) {
    const UndoServer ad{true}, plain{false};
    Request treeDelete = Of(RequestKind::Delete, "ou=x,dc=t");
    treeDelete.controls = WithControl(oid::kTreeDelete);
    Request nuke = Of(RequestKind::Delete, "ou=x,dc=t");
    nuke.treeNuke = true;
    Request ttl = Modify("cn=x,dc=t", Mods({{LDAP_MOD_REPLACE, "description"}}));
    ttl.refreshTtl = 60;
    Request xdom = Of(RequestKind::Rename, "cn=x,dc=t");
    xdom.controls = WithControl(oid::kCrossDomMove);
    struct Case {
        const char* what;
        Request request;
        UndoServer server;
        std::string refusal; // part of the reason; empty: accepted
    } cases[] = {
        {"tree delete", treeDelete, ad, "tree delete"},
        {"tree nuke", nuke, ad, "tree delete"},
        {"delete without tombstones", Of(RequestKind::Delete, "cn=x,dc=t"), plain,
         "does not keep deleted objects"},
        {"password", Modify("cn=x,dc=t", Mods({{LDAP_MOD_REPLACE, "unicodepwd"}})), ad,
         "the old value of unicodePwd cannot be read."},
        {"password among others",
         Modify("cn=x,dc=t",
                Mods({{LDAP_MOD_REPLACE, "description"}, {LDAP_MOD_ADD, "userPassword"}})),
         plain, "userPassword is a password"},
        {"system attribute", Modify("cn=x,dc=t", Mods({{LDAP_MOD_REPLACE, "isDeleted"}})), ad,
         "kept by the directory"},
        {"RootDSE", Modify("", Mods({{LDAP_MOD_REPLACE, "schemaUpdateNow"}})), ad, "RootDSE"},
        {"time to live", ttl, plain, "time to live"},
        {"refresh", Of(RequestKind::Refresh, "cn=x,dc=t"), plain, "time to live"},
        {"cross-domain move", xdom, ad, "another domain"},
        {"add", Of(RequestKind::Add, "cn=x,dc=t"), plain, ""},
        {"delete with tombstones", Of(RequestKind::Delete, "cn=x,dc=t"), ad, ""},
        {"rename", Of(RequestKind::Rename, "cn=x,dc=t"), plain, ""},
        {"modify", Modify("cn=x,dc=t", Mods({{LDAP_MOD_DELETE, "member"}})), plain, ""},
    };
    for (const Case& c : cases) {
        const UndoPlan p = PlanUndo(c.request, c.server);
        if (c.refusal.empty())
            EXPECT_EQ(p.refusal, "") << c.what;
        else
            EXPECT_NE(p.refusal.find(c.refusal), std::string::npos) << c.what << ": " << p.refusal;
    }
}

TEST(UndoPlan, ReadsTheTouchedAttributesAndTheDescriptorWithTheWritesParts) {
    const Bytes flags{0x30, 0x03, 0x02, 0x01, 0x04};
    Request r = Modify("cn=x,dc=t",
                       Mods({{LDAP_MOD_REPLACE, "description"},
                             {LDAP_MOD_ADD, "member"},
                             {LDAP_MOD_DELETE, "Member"},
                             {LDAP_MOD_REPLACE, "nTSecurityDescriptor"}}),
                       WithControl(oid::kSdFlags, flags));
    const UndoPlan p = PlanUndo(r, {true});
    EXPECT_TRUE(p.read);
    EXPECT_EQ(p.attributes, (std::vector<std::string>{"objectGUID", "entryUUID", "description",
                                                      "member", "nTSecurityDescriptor"}));
    ASSERT_TRUE(p.sdFlags.has_value());
    EXPECT_EQ(*p.sdFlags, flags);
    // A delete reads everything the tombstone may lose, and the tombstone after.
    const UndoPlan d = PlanUndo(Of(RequestKind::Delete, "cn=x,dc=t"), {true});
    EXPECT_TRUE(d.read && d.tombstone);
    EXPECT_EQ(d.attributes, (std::vector<std::string>{"*", "objectGUID", "memberOf"}));
    // An add and an undelete are undone by a delete: nothing to read.
    EXPECT_FALSE(PlanUndo(Of(RequestKind::Add, "cn=x,dc=t"), {}).read);
}

// --- the records that revert each kind --------------------------------------

TEST(UndoRequests, ModifyWritesBackOldValuesAndRemovesWhatWasAbsent) {
    auto mods = std::make_shared<ModList>();
    mods->AddStrings(LDAP_MOD_ADD, "otherTelephone", {"3"});
    mods->AddStrings(LDAP_MOD_REPLACE, "givenName", {"new"});
    mods->AddBinary(LDAP_MOD_REPLACE, "jpegPhoto", {Bytes{0xff}});
    mods->AddStrings(LDAP_MOD_DELETE, "OTHERTELEPHONE", {"1"});
    mods->AddStrings(LDAP_MOD_REPLACE, "userCertificate;binary", {"x"});
    const Request r = Modify("<GUID=1111>", mods);
    const ObjectState before =
        State("CN=x,DC=t", {{"otherTelephone", {"1", "2"}},
                            {"jpegPhoto", {std::string("\x00\x01\xff", 3)}},
                            {"userCertificate;binary", {std::string(" lead")}}});
    // Addressed by the DN read, each attribute once, in the order first named.
    EXPECT_EQ(UndoRecordsText(UndoRequests(r, before)), "dn: CN=x,DC=t\n"
                                                        "changetype: modify\n"
                                                        "replace: otherTelephone\n"
                                                        "otherTelephone: 1\n"
                                                        "otherTelephone: 2\n"
                                                        "-\n"
                                                        "replace: givenName\n"
                                                        "-\n"
                                                        "replace: jpegPhoto\n"
                                                        "jpegPhoto:: AAH/\n"
                                                        "-\n"
                                                        "replace: userCertificate;binary\n"
                                                        "userCertificate;binary:: IGxlYWQ=\n"
                                                        "-\n"
                                                        "\n");
}

TEST(UndoRequests, DescriptorGoesBackWithTheSameParts) {
    const Bytes flags{0x30, 0x03, 0x02, 0x01, 0x04};
    const Request r = Modify("cn=x,dc=t", Mods({{LDAP_MOD_REPLACE, "nTSecurityDescriptor"}}),
                             WithControl(oid::kSdFlags, flags));
    const auto undo = UndoRequests(
        r, State("cn=x,dc=t", {{"nTSecurityDescriptor", {std::string("\x01\x00", 2)}}}));
    EXPECT_EQ(UndoRecordsText(undo), "dn: cn=x,dc=t\n"
                                     "control: 1.2.840.113556.1.4.801 true:: MAMCAQQ=\n"
                                     "changetype: modify\n"
                                     "replace: nTSecurityDescriptor\n"
                                     "nTSecurityDescriptor:: AQA=\n"
                                     "-\n"
                                     "\n");
}

TEST(UndoRequests, AddUndeleteRenameAndMove) {
    Request undelete = Modify("CN=x\\0ADEL:1,CN=Deleted Objects,DC=t", nullptr);
    auto um = std::make_shared<ModList>();
    um->AddClear(LDAP_MOD_DELETE, "isDeleted");
    um->AddStrings(LDAP_MOD_REPLACE, "distinguishedName", {"CN=x,OU=back,DC=t"});
    undelete.mods = um;
    Request rename = Of(RequestKind::Rename, "cn=a\\,b,ou=one,dc=t");
    rename.newRDN = "cn=c";
    rename.newParent = "ou=one,dc=t";
    Request move = Of(RequestKind::Rename, "cn=a,ou=one,dc=t");
    move.newRDN = "cn=a";
    move.newParent = "ou=two,dc=t";
    struct Case {
        const char* what;
        Request request;
        ObjectState before;
        std::string text;
    } cases[] = {
        {"add", Of(RequestKind::Add, "cn=n,dc=t"), {}, "dn: cn=n,dc=t\nchangetype: delete\n\n"},
        {"undelete", undelete, {}, "dn: CN=x,OU=back,DC=t\nchangetype: delete\n\n"},
        {"rename", rename, State("CN=a\\,b,OU=one,DC=t", {}),
         "dn: cn=c,ou=one,dc=t\nchangetype: modrdn\nnewrdn: CN=a\\,b\ndeleteoldrdn: 1\n"
         "newsuperior: OU=one,DC=t\n\n"},
        {"move", move, State("CN=a,OU=one,DC=t", {}),
         "dn: cn=a,ou=two,dc=t\nchangetype: modrdn\nnewrdn: CN=a\ndeleteoldrdn: 1\n"
         "newsuperior: OU=one,DC=t\n\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(UndoRecordsText(UndoRequests(c.request, c.before)), c.text) << c.what;
}

TEST(UndoRequests, DeleteReanimatesTheTombstoneWithWhatItLostThenTheGroups) {
    const ObjectState before =
        State("CN=u,OU=x,DC=t", {{"cn", {"u"}},
                                 {"objectSid", {"sid"}},
                                 {"whenCreated", {"2020"}},
                                 {"description", {"d"}},
                                 {"sAMAccountName", {"u"}},
                                 {"userAccountControl", {"512"}},
                                 {"otherTelephone", {"1", "2"}},
                                 {"objectClass", {"top", "User"}},
                                 {"memberOf", {"CN=g1,DC=t", "CN=g2,DC=t"}}});
    ObjectState tomb =
        State("CN=u\\0ADEL:11,CN=Deleted Objects,DC=t", {{"sAMAccountName", {"u"}},
                                                         {"otherTelephone", {"2", "1"}},
                                                         {"objectClass", {"top", "User"}},
                                                         {"info", {"set by the delete"}}});
    const std::string reanimation = "dn: CN=u\\0ADEL:11,CN=Deleted Objects,DC=t\n"
                                    "control: 1.2.840.113556.1.4.417 true\n"
                                    "changetype: modify\n"
                                    "delete: isDeleted\n"
                                    "-\n"
                                    "replace: distinguishedName\n"
                                    "distinguishedName: CN=u,OU=x,DC=t\n"
                                    "-\n"
                                    "replace: description\n"
                                    "description: d\n"
                                    "-\n"
                                    "replace: userAccountControl\n"
                                    "userAccountControl: 512\n"
                                    "-\n"
                                    "replace: adminCount\n"
                                    "-\n"
                                    "replace: info\n"
                                    "-\n"
                                    "replace: operatorCount\n"
                                    "-\n"
                                    "\n";
    const std::string groups = "dn: CN=g1,DC=t\n"
                               "control: 1.2.840.113556.1.4.1413 true\n"
                               "changetype: modify\n"
                               "add: member\n"
                               "member: CN=u,OU=x,DC=t\n"
                               "-\n"
                               "\n"
                               "dn: CN=g2,DC=t\n"
                               "control: 1.2.840.113556.1.4.1413 true\n"
                               "changetype: modify\n"
                               "add: member\n"
                               "member: CN=u,OU=x,DC=t\n"
                               "-\n"
                               "\n";
    const Request del = Of(RequestKind::Delete, "cn=u,ou=x,dc=t");
    EXPECT_EQ(UndoRecordsText(UndoRequests(del, before, tomb)), reanimation + groups);
    // Groups too get their counters cleared; other objects do not.
    const auto counters = [&](const char* objectClass) {
        const ObjectState b = State("CN=o,DC=t", {{"objectClass", {"top", objectClass}}});
        const std::string text = UndoRecordsText(UndoRequests(del, b, tomb));
        return text.find("replace: adminCount\n-\n") != std::string::npos &&
               text.find("replace: operatorCount\n-\n") != std::string::npos;
    };
    EXPECT_TRUE(counters("group"));
    EXPECT_FALSE(counters("contact"));
    // A tombstone that could not be read: addressed by objectGUID (a DN that
    // begins with "<" is written in base64).
    const std::string byGuid = UndoRecordsText(UndoRequests(del, before, ObjectState{}));
    EXPECT_EQ(byGuid.substr(0, byGuid.find('\n')),
              "dn:: PEdVSUQ9MTExMTExMTExMTExMTExMTExMTExMTExMTExMTExMTE+");
}

// --- the file ---------------------------------------------------------------

// The records of an LDIF text in order (their "dn:" lines); fails the test
// when a line is neither a comment, a blank line nor part of a record that
// begins with "dn:".
std::vector<std::string> Records(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    bool inRecord = false;
    while (std::getline(in, line)) {
        if (line.empty()) {
            inRecord = false;
            continue;
        }
        if (line[0] == '#') continue;
        if (!inRecord) {
            EXPECT_EQ(line.rfind("dn:", 0), 0u) << "a record without dn: " << line;
            out.push_back(line);
            inRecord = true;
        }
    }
    return out;
}

std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class UndoFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/undo_test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        path_ = dir_ + "/undo.ldif";
    }
    void TearDown() override {
        ::unlink(path_.c_str());
        ::unlink((path_ + ".tmp").c_str());
        ::unlink((dir_ + "/link").c_str());
        ::rmdir(dir_.c_str());
    }
    static std::string Record(int i) {
        return "# change " + std::to_string(i) + "\ndn: cn=o" + std::to_string(i) +
               ",dc=t\nchangetype: delete\n\n";
    }
    std::string dir_, path_;
};

TEST_F(UndoFileTest, ValidAndNewestFirstAtEveryStepAlsoWhileGrowing) {
    UndoFile f;
    // A small space makes the file grow several times.
    ASSERT_TRUE(f.Open(path_, "# header\n", 40)) << f.Error();
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::vector<std::string> expected;
    for (int i = 1; i <= 30; ++i) {
        ASSERT_TRUE(f.InFlight("change " + std::to_string(i), Record(i))) << f.Error();
        // In flight: a comment only, after the marker line.
        std::string text = Slurp(path_);
        EXPECT_EQ(Records(text), expected) << i;
        EXPECT_NE(text.find(UndoFile::MarkerInFlight()), std::string::npos);
        if (i % 7 == 0) {
            ASSERT_TRUE(f.Failed());
            EXPECT_EQ(Records(Slurp(path_)), expected);
            continue;
        }
        ASSERT_TRUE(f.Confirmed(Record(i))) << f.Error();
        expected.insert(expected.begin(), "dn: cn=o" + std::to_string(i) + ",dc=t");
        text = Slurp(path_);
        EXPECT_EQ(Records(text), expected) << i;
        EXPECT_EQ(text.rfind("# header\n", 0), 0u);
    }
    const std::string withMarkers = Slurp(path_);
    EXPECT_NE(withMarkers.find(UndoFile::MarkerFailed()), std::string::npos);
    EXPECT_EQ(withMarkers.find(UndoFile::MarkerInFlight()), std::string::npos);
    // The end: compact, same records, no markers, no free space.
    ASSERT_TRUE(f.Finish("# done\n\n")) << f.Error();
    const std::string compact = Slurp(path_);
    EXPECT_EQ(Records(compact), expected);
    EXPECT_EQ(compact.find("# confirmed"), std::string::npos);
    EXPECT_EQ(compact.find("\n\n\n"), std::string::npos);
    EXPECT_EQ(compact.rfind("# done\n\n# change 30\ndn: cn=o30,dc=t\n", 0), 0u);
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(UndoFileTest, ARunEndingWithARequestInFlightKeepsItsComment) {
    UndoFile f;
    ASSERT_TRUE(f.Open(path_, "# h\n"));
    ASSERT_TRUE(f.InFlight("change 1", Record(1)));
    ASSERT_TRUE(f.Confirmed(Record(1)));
    ASSERT_TRUE(f.InFlight("change 2", Record(2)));
    ASSERT_TRUE(f.Finish("# h\n\n"));
    const std::string text = Slurp(path_);
    EXPECT_EQ(Records(text), (std::vector<std::string>{"dn: cn=o1,dc=t"}));
    EXPECT_NE(text.find(UndoFile::MarkerInFlight() + "# change 2\n"), std::string::npos);
    EXPECT_NE(text.find("# dn: cn=o2,dc=t\n"), std::string::npos);
    EXPECT_EQ(text.find("# change 1\n# change 1"), std::string::npos);
}

TEST_F(UndoFileTest, SymbolicLinkIsRefused) {
    const std::string target = dir_ + "/undo.ldif";
    const std::string link = dir_ + "/link";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    UndoFile f;
    EXPECT_FALSE(f.Open(link, "# h\n"));
    EXPECT_FALSE(f.Error().empty());
    EXPECT_NE(::access(target.c_str(), F_OK), 0); // nothing created behind the link
}

// --- the recorder, with the directory faked ----------------------------------

class FakeReads final : public UndoReads {
  public:
    std::map<std::string, ObjectState> objects; // by DN as addressed
    std::vector<std::string> log;
    EntryReadResult Read(const std::string& dn, const std::vector<std::string>&,
                         const std::optional<Bytes>& sdFlags, bool) override {
        log.push_back(dn + (sdFlags ? " +sdflags" : ""));
        EntryReadResult r;
        auto it = objects.find(dn);
        if (it == objects.end()) return r;
        r.found = true;
        r.dn = it->second.dn;
        r.attributes = it->second.attributes;
        r.attributes["objectguid"] = {"objectGUID", {it->second.guid}};
        return r;
    }
    EntryReadResult ReadTombstone(const std::string&, const std::vector<std::string>&,
                                  const std::optional<Bytes>&) override {
        return {};
    }
};

TEST_F(UndoFileTest, TwoChangesToOneObjectAndRenameThenModifyComeBackLastFirst) {
    FakeReads reads;
    reads.objects["cn=x,dc=t"] = State("CN=x,DC=t", {{"description", {"a"}}});
    UndoFile file;
    ASSERT_TRUE(file.Open(path_, "# h\n"));
    UndoRecorder rec(reads, file, {true});
    auto describe = [](const std::string& value) {
        auto m = std::make_shared<ModList>();
        m->AddStrings(LDAP_MOD_REPLACE, "description", {value});
        return m;
    };
    const Request first = Modify("cn=x,dc=t", describe("b"));
    ASSERT_TRUE(rec.Before(first).send);
    ASSERT_EQ(rec.After(first, {}).message, "");
    reads.objects["cn=x,dc=t"].attributes["description"].values = {"b"};
    const Request second = Modify("cn=x,dc=t", describe("c"));
    ASSERT_TRUE(rec.Before(second).send);
    ASSERT_EQ(rec.After(second, {}).message, "");
    // A refused change writes nothing and is not sent.
    const Request failing = Modify("cn=x,dc=t", describe("d"));
    ASSERT_TRUE(rec.Before(failing).send);
    Result refused;
    refused.code = 50;
    ASSERT_EQ(rec.After(failing, refused).message, "");
    Request rename = Of(RequestKind::Rename, "cn=x,dc=t");
    rename.newRDN = "cn=y";
    rename.newParent = "dc=t";
    ASSERT_TRUE(rec.Before(rename).send);
    ASSERT_EQ(rec.After(rename, {}).message, "");
    reads.objects["cn=y,dc=t"] = State("CN=y,DC=t", {{"description", {"c"}}});
    const Request third = Modify("cn=y,dc=t", describe("e"));
    ASSERT_TRUE(rec.Before(third).send);
    ASSERT_EQ(rec.After(third, {}).message, "");
    EXPECT_EQ(rec.Recorded(), 4u);
    ASSERT_TRUE(file.Finish("# h\n\n"));
    const std::string text = Slurp(path_);
    EXPECT_EQ(Records(text), (std::vector<std::string>{"dn: CN=y,DC=t", "dn: cn=y,dc=t",
                                                       "dn: CN=x,DC=t", "dn: CN=x,DC=t"}));
    // Applied in file order: c, back to the old name, b, a.
    const auto at = [&](const std::string& s) { return text.find(s); };
    EXPECT_LT(at("description: c"), at("newrdn: CN=x"));
    EXPECT_LT(at("newrdn: CN=x"), at("description: b"));
    EXPECT_LT(at("description: b"), at("description: a"));
    EXPECT_EQ(at("description: d"), std::string::npos);
}

TEST_F(UndoFileTest, RequestsInFlightTogetherAreRecordedInTheOrderTheyWereSent) {
    FakeReads reads;
    for (const char* name : {"a", "b", "c"})
        reads.objects[std::string("cn=") + name + ",dc=t"] =
            State(std::string("CN=") + name + ",DC=t", {{"description", {name}}});
    UndoFile file;
    ASSERT_TRUE(file.Open(path_, "# h\n", 64));
    UndoRecorder rec(reads, file, {true});
    auto describe = [](const std::string& dn) {
        auto m = std::make_shared<ModList>();
        m->AddStrings(LDAP_MOD_REPLACE, "description", {"new"});
        return Modify(dn, m);
    };
    const Request a = describe("cn=a,dc=t"), b = describe("cn=b,dc=t"), c = describe("cn=c,dc=t");
    // All three are sent before the first answer; b fails.
    ASSERT_TRUE(rec.Before(a).send);
    ASSERT_TRUE(rec.Before(b).send);
    ASSERT_TRUE(rec.Before(c).send);
    const std::string inFlight = Slurp(path_);
    EXPECT_TRUE(Records(inFlight).empty());
    ASSERT_EQ(rec.After(a, {}).message, "");
    Result refused;
    refused.code = 50;
    ASSERT_EQ(rec.After(b, refused).message, "");
    ASSERT_EQ(rec.After(c, {}).message, "");
    EXPECT_EQ(rec.Recorded(), 2u);
    const std::string running = Slurp(path_);
    EXPECT_EQ(Records(running), (std::vector<std::string>{"dn: CN=c,DC=t", "dn: CN=a,DC=t"}));
    EXPECT_EQ(running.find(UndoFile::MarkerInFlight()), std::string::npos);
    ASSERT_TRUE(file.Finish("# h\n\n"));
    const std::string text = Slurp(path_);
    EXPECT_EQ(Records(text), (std::vector<std::string>{"dn: CN=c,DC=t", "dn: CN=a,DC=t"}));
    // Each record keeps the number of its own change.
    EXPECT_NE(text.find("# change 3: modify cn=c,dc=t"), std::string::npos);
    EXPECT_NE(text.find("# change 1: modify cn=a,dc=t"), std::string::npos);
    EXPECT_NE(text.find("description: c"), std::string::npos);
    EXPECT_EQ(text.find("description: b"), std::string::npos);
}

TEST_F(UndoFileTest, RefusedAndUnreadableObjectsAreNotSent) {
    FakeReads reads;
    UndoFile file;
    ASSERT_TRUE(file.Open(path_, "# h\n"));
    UndoRecorder rec(reads, file, {false});
    const auto missing =
        rec.Before(Modify("cn=gone,dc=t", Mods({{LDAP_MOD_REPLACE, "description"}})));
    EXPECT_FALSE(missing.send);
    EXPECT_EQ(missing.code, static_cast<std::uint32_t>(exitcode::kSkippedObject));
    const auto del = rec.Before(Of(RequestKind::Delete, "cn=x,dc=t"));
    EXPECT_FALSE(del.send);
    EXPECT_EQ(del.code, static_cast<std::uint32_t>(exitcode::kUndoRefused));
    EXPECT_EQ(del.message.rfind("ERROR: Cannot record an undo for this change: ", 0), 0u);
    EXPECT_EQ(reads.log, (std::vector<std::string>{"cn=gone,dc=t"}));
    ASSERT_TRUE(file.Finish("# h\n\n"));
    EXPECT_EQ(Slurp(path_), "# h\n\n");
}

// --- pieces the reads and the records rely on --------------------------------

TEST(RangeOption, NamesOfRangedValues) {
    struct Case {
        const char* name;
        bool ok;
        const char* base;
        unsigned long low;
        const char* high;
    } cases[] = {
        {"member;range=0-1499", true, "member", 0, "1499"},
        {"member;Range=1500-*", true, "member", 1500, "*"},
        {"userCert;binary;range=0-4", true, "userCert;binary", 0, "4"},
        {"member", false, "", 0, ""},
        {"member;range=x-1", false, "", 0, ""},
        {"member;range=5", false, "", 0, ""},
        {"member;range=1-", false, "", 0, ""},
        {"member;range=0-99999999999", false, "", 0, ""},
    };
    for (const Case& c : cases) {
        RangeOption r;
        ASSERT_EQ(ParseRangeOption(c.name, r), c.ok) << c.name;
        if (!c.ok) continue;
        EXPECT_EQ(r.name, c.base);
        EXPECT_EQ(r.low, c.low);
        EXPECT_EQ(r.high, c.high);
    }
}

} // namespace
