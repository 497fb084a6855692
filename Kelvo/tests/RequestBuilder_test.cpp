#include "CaptureOutput.h"
#include "Controls.h"
#include "Expansion.h"
#include "RequestBuilder.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace {

// Answers the builder's directory reads from tables and counts them.
class FakeLookups final : public DirectoryLookups {
  public:
    std::map<std::string, std::string> parents, rdns, current;
    int reads = 0;

    std::string LastKnownParent(const std::string& dn) override { return Get(parents, dn); }
    std::string LastKnownRDN(const std::string& dn) override { return Get(rdns, dn); }
    std::string CurrentDN(const std::string& dn) override { return Get(current, dn); }

  private:
    std::string Get(const std::map<std::string, std::string>& m, const std::string& dn) {
        ++reads;
        auto it = m.find(dn);
        return it == m.end() ? std::string() : it->second;
    }
};

ModContainers Parse(const std::vector<std::string>& actions, ActionRun run = ActionRun::Update) {
    ModContainers c;
    ActionOptions o;
    o.run = run;
    EXPECT_TRUE(ParseAttributeActions(actions, o, c).ok);
    return c;
}

struct Built {
    RunSettings s;
    ModContainers mods;
    FakeLookups lookups;
    ServerFacts facts;
    std::unique_ptr<RequestBuilder> builder;

    void Prepare() {
        builder = std::make_unique<RequestBuilder>(s, mods, facts, lookups);
        ASSERT_FALSE(builder->Prepare());
    }
    BuildOutcome Build(const std::string& dn) const { return builder->Build(Target{dn, 1}); }
};

std::vector<std::string> Oids(const Request& r) {
    std::vector<std::string> out;
    for (std::size_t i = 0; r.controls && i < r.controls->Count(); ++i)
        out.emplace_back(r.controls->At(i).ldctl_oid);
    return out;
}

std::vector<std::string> Lines(const std::vector<Note>& notes, Channel channel) {
    std::vector<std::string> out;
    for (const auto& n : notes)
        if (n.channel == channel) out.push_back(n.text);
    return out;
}

bool HasLine(const std::vector<Note>& notes, Channel channel, const std::string& text) {
    for (const auto& line : Lines(notes, channel))
        if (line == text) return true;
    return false;
}

TEST(RequestBuilder, UpdateSharesOneModificationListAndPrintsNothing) {
    CaptureOutput cap;
    Built b;
    b.s.op = KELVO_UPDATE;
    b.s.permissive = true;
    b.s.policyHints = true;
    b.s.showRecycled = true;
    b.mods = Parse({"zeta::1", "alpha:+-:x;y", "beta:-"});
    b.Prepare();
    const BuildOutcome one = b.Build("cn=a,dc=x");
    const BuildOutcome two = b.Build("cn=b,dc=x");
    ASSERT_EQ(one.status, BuildOutcome::Status::Send);
    EXPECT_EQ(one.request.kind, RequestKind::Modify);
    EXPECT_EQ(one.request.dn, "cn=a,dc=x");
    EXPECT_EQ(one.request.mods, two.request.mods) << "values that do not vary are shared";
    ASSERT_EQ(one.request.mods->Count(), 3u);
    EXPECT_STREQ(one.request.mods->At(0).mod_type, "beta");
    EXPECT_STREQ(one.request.mods->At(1).mod_type, "alpha");
    EXPECT_EQ(one.request.mods->At(1).mod_op, LDAP_MOD_REPLACE);
    EXPECT_EQ(Oids(one.request),
              (std::vector<std::string>{"1.2.840.113556.1.4.1413", "1.2.840.113556.1.4.2239",
                                        "1.2.840.113556.1.4.2064"}));
    const auto& run = b.builder->RunNotes();
    EXPECT_EQ(Lines(run, Channel::Console),
              (std::vector<std::string>{"Modifying specified objects...\n"}));
    const auto log = Lines(run, Channel::Log);
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log.front(), "KelvoOp=KELVO_UPDATE (!CSV)");
    EXPECT_EQ(log[1], "Control: LDAP_SERVER__PERMISSIVE_MODIFY_OID");
    EXPECT_EQ(log.back(), "KelvoOp=KELVO_UPDATE");
    EXPECT_TRUE(cap.out.empty() && cap.err.empty()) << "the builder writes nothing";
}

TEST(RequestBuilder, UpdateEdgeCases) {
    Built b;
    b.s.op = KELVO_UPDATE;
    b.Prepare();
    // Nothing to change: the object succeeds without a request.
    BuildOutcome none = b.Build("cn=a,dc=x");
    EXPECT_EQ(none.status, BuildOutcome::Status::Done);
    EXPECT_TRUE(
        HasLine(none.request.notes, Channel::ConsoleAlways, "  No LDAP updates to make.\n"));
    // A naming-context head is protected unless -updatenchead.
    BuildOutcome head = b.Build("DC=x");
    EXPECT_EQ(head.status, BuildOutcome::Status::Fatal);
    EXPECT_EQ(head.exitCode, -1);
    EXPECT_NE(head.fatalText.find("NC Head Update requires -updatenchead switch."),
              std::string::npos);
    Built allowed;
    allowed.s.op = KELVO_UPDATE;
    allowed.s.updateNCHead = true;
    allowed.mods = Parse({"description::x"});
    allowed.Prepare();
    EXPECT_EQ(allowed.Build("dc=x").status, BuildOutcome::Status::Send);
}

TEST(RequestBuilder, DynamicObjectsOnServersThatRefuseEntryTtl) {
    for (const bool windows : {true, false}) {
        Built b;
        b.s.op = KELVO_UPDATE;
        b.s.dynamic = true;
        b.facts.windowsLDAP = windows;
        b.mods = Parse({"entryttl::3600"});
        b.Prepare();
        const BuildOutcome o = b.Build("cn=a,dc=x");
        if (windows) {
            EXPECT_EQ(o.request.kind, RequestKind::Modify);
            EXPECT_EQ(o.request.refreshTtl, -1);
        } else {
            // The time to live goes through the refresh operation instead.
            EXPECT_EQ(o.request.kind, RequestKind::Refresh);
            EXPECT_EQ(o.request.refreshTtl, 3600);
        }
    }
}

TEST(RequestBuilder, AddTurnsEveryActionIntoAnAdd) {
    Built b;
    b.s.op = KELVO_ADD;
    b.facts.logOpen = true;
    b.mods = Parse({"objectClass::contact", "description::x"}, ActionRun::Add);
    b.Prepare();
    const BuildOutcome o = b.Build("cn=new,dc=x");
    EXPECT_EQ(o.request.kind, RequestKind::Add);
    for (std::size_t i = 0; i < o.request.mods->Count(); ++i)
        EXPECT_EQ(o.request.mods->At(i).mod_op, LDAP_MOD_ADD);
    const auto log = Lines(o.request.notes, Channel::Log);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Adding: cn=new,dc=x");
    EXPECT_NE(log[1].find("LDAP MOD STRUCTURE"), std::string::npos);
}

TEST(RequestBuilder, DeleteControls) {
    Built b;
    b.s.op = KELVO_DELETE;
    b.s.treeDelete = true;
    b.s.treeNuke = true;
    b.s.showDeleted = true;
    b.s.recycle = true;
    b.Prepare();
    const BuildOutcome o = b.Build("ou=a,dc=x");
    EXPECT_EQ(o.request.kind, RequestKind::Delete);
    EXPECT_TRUE(o.request.treeNuke);
    // The deactivated-links control only goes to servers that list it.
    EXPECT_EQ(Oids(o.request),
              (std::vector<std::string>{"1.2.840.113556.1.4.805", "1.2.840.113556.1.4.417",
                                        "1.2.840.113556.1.4.2064"}));
    Built listed;
    listed.s.op = KELVO_DELETE;
    listed.s.showDeleted = true;
    listed.facts.showDeactivatedLinks = true;
    listed.Prepare();
    EXPECT_EQ(Oids(listed.Build("cn=a,dc=x").request),
              (std::vector<std::string>{"1.2.840.113556.1.4.417", "1.2.840.113556.1.4.2065"}));
}

TEST(RequestBuilder, MoveAndRename) {
    Built move;
    move.s.op = KELVO_MOVE;
    move.s.newParent = "ou=new,dc=x";
    move.s.xdom = "dc2.x.test";
    move.Prepare();
    BuildOutcome m = move.Build("cn=a\\,b,ou=old,dc=x");
    EXPECT_EQ(m.request.kind, RequestKind::Rename);
    EXPECT_EQ(m.request.newRDN, "cn=a\\,b");
    EXPECT_EQ(m.request.newParent, "ou=new,dc=x");
    ASSERT_EQ(Oids(m.request), (std::vector<std::string>{"1.2.840.113556.1.4.521"}));
    const berval& target = m.request.controls->At(0).ldctl_value;
    EXPECT_EQ(std::string(target.bv_val, target.bv_len), std::string("dc2.x.test\0", 11));

    // -rbmove: each object goes under its own domain.
    Built rb;
    rb.s.op = KELVO_MOVE;
    rb.s.rnpb = "domaindn";
    rb.s.newParent = "ou=moved";
    rb.Prepare();
    BuildOutcome r = rb.Build("cn=u,ou=a,dc=child,dc=corp");
    EXPECT_EQ(r.request.newParent, "ou=moved,dc=child,dc=corp");
    EXPECT_TRUE(
        HasLine(r.request.notes, Channel::Log, "NewParent (rnpb): ou=moved,dc=child,dc=corp"));

    Built rename;
    rename.s.op = KELVO_RENAME;
    rename.s.newRDN = "newname";
    rename.Prepare();
    BuildOutcome n = rename.Build("CN=old,OU=x,DC=y");
    EXPECT_EQ(n.request.newRDN, "CN=newname");
    EXPECT_EQ(n.request.newParent, "OU=x,DC=y");
    EXPECT_TRUE(
        HasLine(n.request.notes, Channel::Console, "Renaming CN=old,OU=x,DC=y to CN=newname..."));
}

TEST(RequestBuilder, UndeleteRenamesTheTombstone) {
    Built b;
    b.s.op = KELVO_UNDEL;
    b.mods = Parse({"description:+:back"});
    const std::string tomb = "CN=gone\\0ADEL:1a2b,CN=Deleted Objects,DC=x";
    b.lookups.parents[tomb] = "OU=staff,DC=x";
    b.Prepare();
    const BuildOutcome o = b.Build(tomb);
    ASSERT_EQ(o.status, BuildOutcome::Status::Send);
    EXPECT_EQ(o.request.kind, RequestKind::Modify);
    EXPECT_EQ(o.request.dn, tomb);
    // Show-deleted is always sent with an undelete.
    EXPECT_EQ(Oids(o.request), (std::vector<std::string>{"1.2.840.113556.1.4.417"}));
    const ModList& mods = *o.request.mods;
    ASSERT_EQ(mods.Count(), 3u);
    EXPECT_EQ(mods.At(0).mod_op, LDAP_MOD_DELETE);
    EXPECT_STREQ(mods.At(0).mod_type, "isDeleted");
    EXPECT_EQ(mods.At(1).mod_op, LDAP_MOD_REPLACE);
    EXPECT_STREQ(mods.At(1).mod_values[0], "CN=gone,OU=staff,DC=x");
    EXPECT_EQ(mods.At(2).mod_op, LDAP_MOD_ADD);
    EXPECT_STREQ(mods.At(2).mod_type, "description");
}

TEST(RequestBuilder, UndeleteByGuidTakesTheRdnFromTheDirectory) {
    const std::string guid = "<GUID=26c18f02-9b73-495b-9f53-8207fc725271>";
    const std::string tomb = "OU=old\\0ADEL:26c1,CN=Deleted Objects,DC=x";
    // A last known RDN without a type takes the type of the current RDN;
    // without one, the current RDN is cut before the deletion mark.  The
    // request goes to the tombstone's own DN.
    for (const std::string known : {"old", ""}) {
        Built b;
        b.s.op = KELVO_UNDEL;
        b.s.newParent = "DC=x";
        b.lookups.rdns[guid] = known;
        b.lookups.current[guid] = tomb;
        b.Prepare();
        const BuildOutcome o = b.Build(guid);
        ASSERT_EQ(o.status, BuildOutcome::Status::Send) << known;
        EXPECT_EQ(o.request.dn, tomb);
        EXPECT_STREQ(o.request.mods->At(1).mod_values[0], "OU=old,DC=x") << known;
        EXPECT_LE(b.lookups.reads, 2) << "the tombstone's DN is read once";
    }
}

TEST(RequestBuilder, UndeleteSkipsWhatItCannotPlaceAsFailures) {
    Built b;
    b.s.op = KELVO_UNDEL;
    b.lookups.parents["CN=a\\0ADEL:1,CN=Deleted Objects,DC=x"] =
        "OU=b\\0ADEL:2,CN=Deleted Objects,DC=x";
    b.Prepare();
    BuildOutcome unknown = b.Build("CN=z\\0ADEL:9,CN=Deleted Objects,DC=x");
    EXPECT_EQ(unknown.status, BuildOutcome::Status::Failed);
    EXPECT_EQ(unknown.code, static_cast<std::uint32_t>(exitcode::kSkippedObject));
    EXPECT_FALSE(unknown.showLdapError);
    EXPECT_EQ(unknown.message, "ERROR: Can't determine Last Known Parent, skipping...\n");
    BuildOutcome deleted = b.Build("CN=a\\0ADEL:1,CN=Deleted Objects,DC=x");
    EXPECT_EQ(deleted.status, BuildOutcome::Status::Failed);
    EXPECT_NE(deleted.message.find("cn=Deleted Objects in Last Known Parent"), std::string::npos);
    // A <GUID=...> target whose RDN cannot be found.
    BuildOutcome noRdn = b.Build("<GUID=26c18f02-9b73-495b-9f53-8207fc725271>");
    EXPECT_EQ(noRdn.status, BuildOutcome::Status::Failed);
}

TEST(RequestBuilder, UnexpandableValueFailsThePreparation) {
    Built b;
    b.s.op = KELVO_UPDATE;
    b.s.expand = true;
    b.mods = Parse({"description::{{*nosuchop*}}"});
    RequestBuilder builder(b.s, b.mods, b.facts, b.lookups);
    CaptureOutput cap;
    const Step r = builder.Prepare();
    ASSERT_TRUE(r);
    EXPECT_EQ(r->exitCode, exitcode::kExpandFailed);
    EXPECT_NE(r->text.find("ERROR: Couldn't expand dynamic string"), std::string::npos);
}

TEST(RequestBuilder, UnexpandablePasswordIsNotEchoed) {
    for (const char* action : {"unicodePwd::Exp{{*x*}}S3cret", "userPassword:+:Exp{{*x*}}S3cret",
                               "1.2.840.113556.1.4.90::Exp{{*x*}}S3cret"}) {
        Built b;
        b.s.op = KELVO_UPDATE;
        b.s.expand = true;
        b.mods = Parse({action});
        RequestBuilder builder(b.s, b.mods, b.facts, b.lookups);
        CaptureOutput cap;
        const Step r = builder.Prepare();
        ASSERT_TRUE(r) << action;
        EXPECT_NE(r->text.find("ERROR: Couldn't expand dynamic string [********]"),
                  std::string::npos)
            << r->text;
        EXPECT_EQ(r->text.find("S3cret"), std::string::npos) << r->text;
    }
}

int BerPrintFails(BerElement*, const char*, ...) {
    return -1;
}

// A control value liblber cannot encode stops the run before anything is
// sent, naming the control; without the failure the same settings prepare.
TEST(RequestBuilder, UnencodableControlValueFailsThePreparation) {
    const struct {
        const char* name;
        int op;
        bool policyHints;
        bool sdFlags;
        const char* verifyGC;
        const char* control;
    } cases[] = {
        {"policy hints", KELVO_UPDATE, true, false, "", "LDAP_SERVER_POLICY_HINTS_OID"},
        {"sd flags on update", KELVO_UPDATE, false, true, "", "LDAP_SERVER_SD_FLAGS_OID"},
        {"sd flags on add", KELVO_ADD, false, true, "", "LDAP_SERVER_SD_FLAGS_OID"},
        {"sd flags on undelete", KELVO_UNDEL, false, true, "", "LDAP_SERVER_SD_FLAGS_OID"},
        {"verify name", KELVO_UPDATE, false, false, "gc1.example", "LDAP_SERVER_VERIFY_NAME_OID"},
    };
    for (const auto& c : cases) {
        for (const bool failing : {true, false}) {
            Built b;
            b.s.op = c.op;
            b.s.policyHints = c.policyHints;
            b.s.verifyGC = c.verifyGC;
            b.mods =
                Parse({"description::x"}, c.op == KELVO_ADD ? ActionRun::Add : ActionRun::Update);
            b.mods.sdFlagsRequested = c.sdFlags;
            b.mods.sdFlags = 4;
            RequestBuilder builder(b.s, b.mods, b.facts, b.lookups);
            CaptureOutput cap;
            std::optional<ScopedBerCalls> broken;
            if (failing) broken.emplace(BerCalls{ber_alloc_t, BerPrintFails, ber_flatten});
            const Step r = builder.Prepare();
            EXPECT_EQ(cap.out, "") << c.name;
            if (!failing) {
                EXPECT_FALSE(r) << c.name;
                continue;
            }
            ASSERT_TRUE(r) << c.name;
            EXPECT_EQ(r->exitCode, exitcode::kFatal) << c.name;
            EXPECT_NE(r->text.find("ERROR: Couldn't BER-encode the value of control " +
                                   std::string(c.control)),
                      std::string::npos)
                << c.name << "\n"
                << r->text;
        }
    }
}

TEST(RequestBuilder, EncodedControlValuesAreSent) {
    Built b;
    b.s.op = KELVO_UPDATE;
    b.s.policyHints = true;
    b.s.verifyGC = "gc";
    b.mods = Parse({"description::x"});
    b.mods.sdFlagsRequested = true;
    b.mods.sdFlags = 4;
    b.Prepare();
    const BuildOutcome o = b.Build("cn=a,dc=x");
    ASSERT_TRUE(o.request.controls);
    const ControlList& list = *o.request.controls;
    ASSERT_EQ(list.Count(), 3u);
    auto value = [&](std::size_t i) {
        const berval& v = list.At(i).ldctl_value;
        return Bytes(v.bv_val, v.bv_val + v.bv_len);
    };
    EXPECT_EQ(value(0), (Bytes{0x30, 0x03, 0x02, 0x01, 0x01}));
    EXPECT_EQ(value(1), (Bytes{0x30, 0x03, 0x02, 0x01, 0x04}));
    EXPECT_EQ(value(2), (Bytes{0x30, 0x09, 0x02, 0x01, 0x00, 0x04, 0x04, 'g', 0, 'c', 0}));
}

TEST(RequestBuilder, PasswordWarningOnlyWithoutProtection) {
    for (const bool sealed : {false, true}) {
        Built b;
        b.s.op = KELVO_UPDATE;
        b.facts.protectedSession = sealed;
        b.mods = Parse({"unicodePwd::Secret1"});
        b.Prepare();
        const auto always = Lines(b.builder->RunNotes(), Channel::ConsoleAlways);
        EXPECT_EQ(always.empty(), sealed);
        for (const auto& line : Lines(b.builder->RunNotes(), Channel::Log))
            EXPECT_EQ(line.find("Secret1"), std::string::npos) << line;
    }
}

} // namespace

namespace {

TEST(RequestBuilder, BmodNamesEachObjectOfATemplate) {
    // -autobase 3:cn=test,... with the numbering -bmod of the bulk shortcuts.
    Built b;
    b.s.op = KELVO_ADD;
    b.s.adcsv = true;
    b.s.expand = true;
    b.s.bmod = "cn={{*origname*}}_{{*cnt*}},{{*parentdn*}}";
    ModContainers mods;
    ActionOptions o;
    o.run = ActionRun::Add;
    o.adcsv = true;
    ASSERT_TRUE(
        ParseAttributeActions({"objectclass::user", "samaccountname::{{*name*}}"}, o, mods).ok);
    b.mods = mods;
    RunExpansion expansion(nullptr, nullptr);
    RowServices rows;
    rows.expander = &expansion;
    RequestBuilder builder(b.s, b.mods, b.facts, b.lookups, rows);
    ASSERT_FALSE(builder.Prepare());
    const BuildOutcome third = builder.Build(Target{"cn=test,ou=lab,dc=x", 0, nullptr}, 2);
    ASSERT_EQ(third.status, BuildOutcome::Status::Send) << third.fatalText << third.message;
    EXPECT_EQ(third.request.kind, RequestKind::Add);
    EXPECT_EQ(third.request.dn, "cn=test_2,ou=lab,dc=x");
    bool named = false;
    for (std::size_t i = 0; i < third.request.mods->Count(); ++i) {
        const LDAPMod& m = third.request.mods->At(i);
        if (std::string(m.mod_type) == "samaccountname") {
            named = true;
            EXPECT_STREQ(m.mod_values[0], "test_2");
        }
    }
    EXPECT_TRUE(named);
}

} // namespace

namespace {

TEST(RequestBuilder, AValueThatCannotBeExpandedNamesItsInputLine) {
    Built b;
    b.s.op = KELVO_UPDATE;
    b.s.csv = true;
    b.s.expand = true;
    ModContainers mods;
    ActionOptions o;
    o.csv = true;
    ASSERT_TRUE(ParseAttributeActions({"description::{{*nosuch*}}"}, o, mods).ok);
    b.mods = mods;
    const ExpansionHeaderMap header = {{"dn", 0}};
    const CsvRecord row(CsvLine{{"cn=a,dc=x"}});
    RunExpansion expansion(nullptr, &header);
    RowServices rows;
    rows.expander = &expansion;
    RequestBuilder builder(b.s, b.mods, b.facts, b.lookups, rows);
    ASSERT_FALSE(builder.Prepare());
    const BuildOutcome built = builder.Build(Target{"cn=a,dc=x", 7, &row}, 0);
    ASSERT_EQ(built.status, BuildOutcome::Status::Fatal);
    EXPECT_EQ(built.exitCode, -10022);
    EXPECT_NE(built.fatalText.find("input line 7"), std::string::npos) << built.fatalText;
}

} // namespace

namespace {

// Builds each descriptor from the DN it is for, so requests can be told apart.
EncodeStatus FakeDescriptor(const std::string&, const std::string& value, const std::string& dn,
                            Bytes& out, std::uint32_t& parts) {
    if (value.find("FAIL") != std::string::npos) return {-1, true};
    const std::string text = dn + "|" + value;
    out.assign(text.begin(), text.end());
    parts = 4;
    return {};
}

std::string FirstValue(const Request& r, const std::string& attribute) {
    for (std::size_t i = 0; r.mods && i < r.mods->Count(); ++i) {
        const LDAPMod& m = r.mods->At(i);
        if (attribute == m.mod_type && m.mod_bvalues && m.mod_bvalues[0])
            return std::string(m.mod_bvalues[0]->bv_val, m.mod_bvalues[0]->bv_len);
    }
    return "";
}

} // namespace

TEST(RequestBuilder, DescriptorsReadFromEachObjectAreBuiltPerObject) {
    CaptureOutput cap;
    Built b;
    b.s.op = KELVO_UPDATE;
    b.mods = Parse({"SD##ntsecuritydescriptor::{GETSD}{+D=(A;;RP;;;WD)}", "description::x"});
    RowServices rows;
    rows.descriptors = FakeDescriptor;
    rows.descriptorsPerObject = true;
    b.builder = std::make_unique<RequestBuilder>(b.s, b.mods, b.facts, b.lookups, rows);
    ASSERT_FALSE(b.builder->Prepare());

    const BuildOutcome one = b.Build("cn=a,dc=x");
    const BuildOutcome two = b.Build("cn=b,dc=x");
    ASSERT_EQ(one.status, BuildOutcome::Status::Send);
    ASSERT_EQ(two.status, BuildOutcome::Status::Send);
    EXPECT_EQ(FirstValue(one.request, "ntsecuritydescriptor"),
              "cn=a,dc=x|{GETSD}{+D=(A;;RP;;;WD)}");
    EXPECT_EQ(FirstValue(two.request, "ntsecuritydescriptor"),
              "cn=b,dc=x|{GETSD}{+D=(A;;RP;;;WD)}");
    // The other values are still sent, and the SD flags control names the
    // parts the descriptor sets.
    EXPECT_EQ(one.request.mods->Count(), 2u);
    const auto oids = Oids(one.request);
    EXPECT_NE(std::find(oids.begin(), oids.end(), std::string(oid::kSdFlags)), oids.end());
    EXPECT_EQ(cap.out, "");
}

TEST(RequestBuilder, ADescriptorThatCannotBeBuiltEndsTheRunBeforeSending) {
    CaptureOutput cap;
    Built b;
    b.s.op = KELVO_UPDATE;
    b.mods = Parse({"SD##ntsecuritydescriptor::{GETSD}FAIL"});
    RowServices rows;
    rows.descriptors = FakeDescriptor;
    rows.descriptorsPerObject = true;
    b.builder = std::make_unique<RequestBuilder>(b.s, b.mods, b.facts, b.lookups, rows);
    ASSERT_FALSE(b.builder->Prepare());
    const BuildOutcome o = b.Build("cn=a,dc=x");
    EXPECT_EQ(o.status, BuildOutcome::Status::Fatal);
    EXPECT_EQ(o.exitCode, -1);
}
