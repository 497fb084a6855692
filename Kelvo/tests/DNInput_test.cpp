#include "CaptureOutput.h"
#include "DNInput.h"
#include "SwitchTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include <cstdio>

namespace {

TEST(SidGuidToDN, Forms) {
    struct Case {
        std::string in;
        std::string out;
    };
    const Case cases[] = {
        {"S-1-5-21-1-2-3-500", "<SID=S-1-5-21-1-2-3-500>"},
        {"\"S-1-5-32-544\"", "<SID=S-1-5-32-544>"},
        {"{26C18F02-9B73-495B-9F53-8207FC72527D}", "<GUID=26C18F02-9B73-495B-9F53-8207FC72527D>"},
        {"\"{26C18F02-9B73-495B-9F53-8207FC72527D}\"",
         "<GUID=26C18F02-9B73-495B-9F53-8207FC72527D>"},
        {"26c18f02-9b73-495b-9f53-8207fc72527d", "<GUID=26c18f02-9b73-495b-9f53-8207fc72527d>"},
        {"\"26c18f02-9b73-495b-9f53-8207fc72527d\"", "<GUID=26c18f02-9b73-495b-9f53-8207fc72527d>"},
    };
    for (const auto& c : cases) {
        std::string out, kind;
        ASSERT_TRUE(SidGuidToDN(c.in, out, kind)) << c.in;
        EXPECT_EQ(out, c.out);
    }
    std::string out, kind;
    EXPECT_FALSE(SidGuidToDN("cn=x,dc=y", out, kind));
    EXPECT_FALSE(SidGuidToDN("26c18f02-9b73-495b-9f53-8207fc72527", out, kind));
}

// Feeds text through a temporary file as if it were redirected input.
struct Input {
    explicit Input(const std::string& text) : f(std::tmpfile()), reader(f) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
    }
    ~Input() { std::fclose(f); }
    std::FILE* f;
    LineReader reader;
};

// The DNs of a target list, in order.
std::vector<std::string> DNs(const TargetList& targets) {
    std::vector<std::string> out;
    for (const auto& t : targets)
        out.push_back(t.dn);
    return out;
}

TargetList Targets(const std::vector<std::string>& dns) {
    TargetList out;
    for (const auto& dn : dns)
        out.push_back(Target{dn, 0});
    return out;
}

struct Collected {
    Step rc;
    TargetInput input;
    std::string out;
    SwitchParser parser{{"kelvo"}, SwitchDeclarations()};
    RunSettings settings;
};

void Collect(Collected& c, const std::string& text) {
    Globals().stdinRedirected = true;
    CaptureOutput cap;
    Input in(text);
    ReadHintLine(c.parser, in.reader, c.input);
    c.rc = CollectTargets(c.parser, c.settings, in.reader, c.input);
    c.out = cap.out;
}

TEST(CollectTargets, SkipsBlankCommentNoiseAndBadLines) {
    Collected c;
    Collect(c, "\n  cn=indented,dc=x\n# comment\ncn=a,dc=x   \nSTDIN noise\nnot a dn\n"
               "S-1-5-32-544\ncn=a,dc=x\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(DNs(c.input.targets),
              (std::vector<std::string>{"cn=a,dc=x", "<SID=S-1-5-32-544>", "cn=a,dc=x"}));
    // Each target remembers the input line it came from; the refused line
    // is counted as a failed object.
    EXPECT_EQ(c.input.targets[0].line, 4u);
    EXPECT_EQ(c.input.targets[1].line, 7u);
    EXPECT_EQ(c.input.targets[2].line, 8u);
    EXPECT_EQ(c.input.rejected, 1u);
    EXPECT_NE(c.out.find("ERROR: BAD DN Format (not a dn)"), std::string::npos);
}

TEST(CollectTargets, Utf16InputIsRefused) {
    Collected c;
    Collect(c, std::string("\xFF\xFE"
                           "c\0n\0",
                           6));
    ASSERT_TRUE(c.rc);
    EXPECT_EQ(c.rc->exitCode, -1);
    EXPECT_NE(c.rc->text.find("ERROR: UNICODE input not supported"), std::string::npos);
}

TEST(CollectTargets, HintLineSetsConnectionSwitches) {
    Collected c;
    Collect(c, "~~~X~~~dc1.example~~~X~~~636~~~X~~~admin~~~X~~~pw~~~X~~~~~~X~~~~~~X~~~~~~X~~~1\n"
               "cn=a,dc=x\n");
    EXPECT_EQ(c.parser.GetValue("h"), "dc1.example");
    EXPECT_EQ(c.parser.GetValue("p"), "636");
    EXPECT_EQ(c.parser.GetValue("u"), "admin");
    EXPECT_TRUE(c.parser.IsSwitch("ssl"));
    EXPECT_FALSE(c.parser.IsSwitch("simple"));
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=a,dc=x"}));
}

TEST(CollectTargets, TildeLineThatIsNotAHintIsStillRead) {
    Collected c;
    Collect(c, "~notahint\ncn=a,dc=x\n");
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=a,dc=x"}));
    EXPECT_NE(c.out.find("ERROR: BAD DN Format (~notahint)"), std::string::npos);
}

TEST(CollectTargets, RelativeBaseAndQuoteEscaping) {
    Collected c;
    c.settings.relativeBase = "ou=staff";
    Collect(c, "\"cn=x,dc=y\"\ncn=a\\2C b,dc=y\n");
    EXPECT_EQ(DNs(c.input.targets),
              (std::vector<std::string>{"ou=staff,cn=x,dc=y", "ou=staff,cn=a\\2C b,dc=y"}));
}

TEST(CollectTargets, RedirectModeMakesValuesOnTheBase) {
    Collected c;
    c.settings.redirect = RedirectKind::Add;
    c.settings.redirectAttr = "member";
    Collect(c, "cn=a,dc=x\n0123456789abcdef0123456789ABCDEF\n");
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"SINGLEDN"}));
    EXPECT_EQ(c.parser.SelectedArgs(),
              (std::vector<std::string>{"member:+:cn=a,dc=x",
                                        "member:+:<GUID=0123456789abcdef0123456789ABCDEF>"}));
}

TEST(CollectTargets, ReplaceModeClearsFirst) {
    Collected c;
    c.settings.redirect = RedirectKind::Replace;
    c.settings.redirectAttr = "member";
    Collect(c, "cn=a,dc=x\n");
    EXPECT_EQ(c.parser.SelectedArgs(),
              (std::vector<std::string>{"member:-", "member:+:cn=a,dc=x"}));
}

TEST(CollectTargets, CsvRowsKeepHeaderAndKeys) {
    Collected c;
    c.settings.csv = true;
    Collect(c, "DN,Description\n\"cn=a,dc=x\",one\n\"cn=a,dc=x\",two\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=a,dc=x", "cn=a,dc=x"}));
    EXPECT_EQ(c.input.csv.header.at("description"), 1u);
    ASSERT_NE(c.input.csv.Find("cn=a,dc=x{{1}}"), nullptr);
    EXPECT_EQ(c.input.csv.Find("cn=a,dc=x{{1}}")->Value(1, 0), "two");
    EXPECT_EQ(c.input.csv.Find("cn=a,dc=x")->Value(1, 0), "one");
    EXPECT_EQ(c.input.csv.RecordCount(), 2u);
    EXPECT_EQ(c.input.csv.GetCSVKey("cn=a,dc=x", false), "cn=a,dc=x{{1}}");
    EXPECT_EQ(c.input.csv.GetCSVKey("cn=a,dc=x", false), "cn=a,dc=x");
    // Each target carries its own row, so rows of one DN apply in input order.
    ASSERT_NE(c.input.targets[0].row, nullptr);
    EXPECT_EQ((*c.input.targets[0].row)[1][0], "one");
    EXPECT_EQ((*c.input.targets[1].row)[1][0], "two");
}

TEST(CollectTargets, CsvInputThatCannotBeReadStopsTheRunNamingTheLine) {
    struct Case {
        const char* name;
        std::string text;
        const char* why;
    };
    const Case cases[] = {
        {"open quote", "DN,cn\n\"cn=a,dc=x,a\n", "input line 2: a quote is not closed"},
        {"fewer fields", "DN,cn,sn\n\"cn=a,dc=x\",a\n", "input line 2: the row has 2 fields"},
        {"more fields", "DN,cn\n\"cn=a,dc=x\",a,b\n", "the row has 3 fields, the header has 2"},
        {"no DN column", "cn,sn\na,b\n", "input line 1: the header has no DN column"},
        {"column twice", "DN,cn,CN\n\"cn=a,dc=x\",a,b\n", "names the column cn twice"},
        {"bad UTF-8", "DN,cn\n\"cn=a,dc=x\",\xC3\x28\n",
         "input line 2: the text is not valid UTF-8"},
        {"no DN", "DN,cn\n,a\n", "input line 2: the row has no DN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Collected r;
        r.settings.csv = true;
        Collect(r, c.text);
        ASSERT_TRUE(r.rc);
        EXPECT_EQ(r.rc->exitCode, -999);
        EXPECT_NE(r.rc->text.find("ERROR: CSV Unpack Failure - "), std::string::npos);
        EXPECT_NE(r.rc->text.find(c.why), std::string::npos) << r.rc->text;
    }
}

TEST(CollectTargets, CsvFileIsReadWhateverStandardInputIs) {
    const std::string path = testing::TempDir() + "kelvo-rows.csv";
    {
        std::ofstream f(path);
        f << "DN,description\n\"cn=a,dc=x\",from file\n";
    }
    Collected c;
    c.settings.csv = true;
    c.settings.csvFile = path;
    Collect(c, ""); // an empty, redirected standard input
    std::remove(path.c_str());
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=a,dc=x"}));
}

TEST(CollectTargets, AdcsvMarkerSwitchesModeAndCarriesDefaults) {
    Collected c;
    Collect(c, "~~~ADCSV~~~x~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\"~~~ADCSV~~~dc9.example~~~ADCSV~~~"
               "389\nDN,cn\ncn=a,dc=x,a\n");
    EXPECT_TRUE(c.settings.adcsv);
    EXPECT_TRUE(c.settings.expand);
    EXPECT_EQ(c.input.csv.adcsv.host, "dc9.example");
    EXPECT_EQ(c.input.targets.size(), 1u);
}

TEST(CollectTargets, LinesAreNeverCutOrSplit) {
    // A NUL byte would cut the DN at it: the whole line is refused instead.
    Collected c;
    Collect(c, std::string("cn=ok,dc=x\nCN=victim,DC=x") + '\0' + ",OU=other,DC=y\ncn=b,dc=x\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=ok,dc=x", "cn=b,dc=x"}));
    EXPECT_EQ(c.input.rejected, 1u);
    EXPECT_NE(c.out.find("ERROR: Input line 2 holds a NUL byte, skipped."), std::string::npos);

    // A line of exactly the limit is read; one byte more is refused, named by
    // its number, and nothing of it becomes a target.
    const std::string exact = "cn=" + std::string(kLineBufferSize - 8, 'a') + ",dc=x";
    ASSERT_EQ(exact.size(), kLineBufferSize);
    Collected d;
    Collect(d, exact + "\ncn=" + std::string(kLineBufferSize, 'b') + ",dc=x\ncn=c,dc=x\n");
    ASSERT_FALSE(d.rc);
    ASSERT_EQ(d.input.targets.size(), 2u);
    EXPECT_EQ(d.input.targets[0].dn.size(), kLineBufferSize);
    EXPECT_EQ(d.input.targets[1].dn, "cn=c,dc=x");
    EXPECT_EQ(d.input.targets[1].line, 3u);
    EXPECT_EQ(d.input.rejected, 1u);
    EXPECT_NE(d.out.find("ERROR: Input line 2 is longer than 10485760 bytes, skipped."),
              std::string::npos);
}

TEST(CollectTargets, ByteOrderMarks) {
    // UTF-8: the mark is not part of the first DN.
    Collected c;
    Collect(c, "\xEF\xBB\xBF"
               "cn=a,dc=x\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"cn=a,dc=x"}));
    EXPECT_EQ(c.input.rejected, 0u);
    // UTF-16 without a mark is still UTF-16, not garbage that succeeds.
    for (const std::string& text :
         {std::string("c\0n\0=\0a\0\n\0", 10), std::string("\0c\0n\0=\0a\0\n", 10)}) {
        Collected u;
        Collect(u, text);
        ASSERT_TRUE(u.rc);
        EXPECT_EQ(u.rc->exitCode, -1);
        EXPECT_NE(u.rc->text.find("ERROR: UNICODE input not supported"), std::string::npos);
    }
}

TEST(CollectTargets, MarkersCountOnlyAtTheHeadOfTheInput) {
    // An object whose name holds the ADCSV marker is an ordinary DN: it must
    // not bring its own host and password.
    Collected c;
    Collect(c, "cn=a,dc=x\ncn=x~~~ADCSV~~~a~~~ADCSV~~~b~~~ADCSV~~~c~~~ADCSV~~~d~~~ADCSV~~~"
               "evil.example~~~ADCSV~~~389~~~ADCSV~~~u~~~ADCSV~~~pw,dc=x\n"
               "~~~ADCSV~~~~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\"~~~ADCSV~~~evil.example\n");
    EXPECT_FALSE(c.settings.adcsv);
    EXPECT_TRUE(c.input.csv.adcsv.host.empty());
    EXPECT_EQ(c.input.targets.size(), 2u);
    EXPECT_EQ(c.input.rejected, 1u);
    // A hint line must start with the separator.
    Collected h;
    Collect(h, "~cn=a~~~X~~~evil.example~~~X~~~389\ncn=b,dc=x\n");
    EXPECT_FALSE(h.parser.IsSwitch(sw::h));
    EXPECT_EQ(h.input.rejected, 1u);
    Collected g;
    Collect(g, "~~~X~~~dc1.example~~~X~~~636\ncn=b,dc=x\n");
    EXPECT_EQ(g.parser.GetValue(sw::h), "dc1.example");
    EXPECT_EQ(DNs(g.input.targets), (std::vector<std::string>{"cn=b,dc=x"}));
    EXPECT_EQ(g.input.targets[0].line, 2u);
}

TEST(CollectTargets, DotsEveryInterval) {
    Collected c;
    c.settings.dotInterval = 2;
    Collect(c, "cn=a,dc=x\ncn=b,dc=x\ncn=c,dc=x\ncn=d,dc=x\ncn=e,dc=x\n");
    EXPECT_EQ(c.out, "..\n");
}

TEST(ApplyLimits, SafetyUptoAndEmpty) {
    CaptureOutput cap;
    RunSettings s;
    TargetList eleven(11, Target{"cn=x", 0});
    auto rc = ApplyLimits(eleven, 0, s);
    ASSERT_TRUE(rc);
    EXPECT_EQ(rc->exitCode, -1);
    EXPECT_NE(rc->text.find("More DNs than allowed for by safety setting of 10"),
              std::string::npos);

    s.upto = 5;
    s.safety = 5;
    EXPECT_FALSE(ApplyLimits(eleven, 0, s));
    EXPECT_EQ(eleven.size(), 5u);

    // Nothing to do is a success, unless input lines were refused.
    TargetList none;
    rc = ApplyLimits(none, 0, s);
    ASSERT_TRUE(rc);
    EXPECT_EQ(rc->exitCode, 0);
    EXPECT_NE(rc->text.find("The command completed successfully."), std::string::npos);
    rc = ApplyLimits(none, 2, s);
    ASSERT_TRUE(rc);
    EXPECT_EQ(rc->exitCode, exitcode::kBadInputDN);
    EXPECT_NE(rc->text.find("The command did not complete successfully."), std::string::npos);
}

// The texts kept for the rejects file: of each target, and of each refused
// line (or "-" when it is not kept).
std::vector<std::string> Sources(const TargetInput& input) {
    std::vector<std::string> out;
    for (const auto& t : input.targets)
        out.push_back(t.source == kNoSource ? "-" : std::string(input.sources[t.source]));
    return out;
}
std::vector<std::string> RefusedSources(const TargetInput& input) {
    std::vector<std::string> out;
    for (const auto index : input.refusedSources)
        out.push_back(index == kNoSource ? "-" : std::string(input.sources[index]));
    return out;
}

TEST(CollectTargets, LdifInputGivesTheDNsOfItsEntries) {
    Collected c;
    c.input.keepSources = true;
    Collect(c, "# extended LDIF\n#\nversion: 1\n\ndn: cn=a,dc=x\ncn: a\n\n"
               "dn:: Y249WsO8cmljaCxkYz14\n\ndn:: !!!!\n\nsearch: 2\nresult: 0 Success\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(c.input.form, InputForm::Ldif);
    EXPECT_EQ(DNs(c.input.targets),
              (std::vector<std::string>{"cn=a,dc=x", "cn=Z\xC3\xBCrich,dc=x"}));
    EXPECT_EQ(c.input.targets[0].line, 5u);
    EXPECT_EQ(c.input.targets[1].line, 8u);
    EXPECT_EQ(c.input.rejected, 1u);
    EXPECT_NE(c.out.find("ERROR: Input line 10 holds invalid base64"), std::string::npos) << c.out;
    // Written back as dn: lines, the refused one as it was read.
    EXPECT_EQ(Sources(c.input),
              (std::vector<std::string>{"dn: cn=a,dc=x", "dn:: Y249WsO8cmljaCxkYz14"}));
    EXPECT_EQ(RefusedSources(c.input), (std::vector<std::string>{"dn:: !!!!"}));
    EXPECT_EQ(c.input.refusedLines, (std::vector<std::uint64_t>{10}));
}

TEST(CollectTargets, LdifOnlyWhenTheFirstLineWithContentSaysSo) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<std::string> dns;
        bool ldif;
    };
    const Case cases[] = {
        {"comments before DN lines", "# list\n#\ncn=a,dc=x\n", {"cn=a,dc=x"}, false},
        {"comments before a dn: line", "# list\n\ndn: cn=a,dc=x\n", {"cn=a,dc=x"}, true},
        {"dn: after DN lines is a bad line", "cn=a,dc=x\ndn: cn=b,dc=x\n", {"cn=a,dc=x"}, false},
        {"folded first line keeps its spaces", "dn: cn=a \n b,dc=x\n", {"cn=a b,dc=x"}, true},
        {"byte-order mark",
         "\xEF\xBB\xBF"
         "dn: cn=a,dc=x\n",
         {"cn=a,dc=x"},
         true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.name);
        Collected c;
        c.input.keepSources = true;
        Collect(c, t.text);
        ASSERT_FALSE(c.rc);
        EXPECT_EQ(DNs(c.input.targets), t.dns);
        EXPECT_EQ(c.input.form == InputForm::Ldif, t.ldif);
    }
    // CSV input is never LDIF.
    Collected csv;
    csv.settings.csv = true;
    Collect(csv, "dn: x,cn\n");
    ASSERT_TRUE(csv.rc);
    EXPECT_EQ(csv.rc->exitCode, -999);
}

TEST(CollectTargets, KeptSourcesAreTheLinesAsRead) {
    Collected c;
    c.input.keepSources = true;
    Collect(c, "S-1-5-32-544\n\"cn=a,dc=x\"  \nnot a dn\n~~~X~~~h\ndn: cn=b\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(c.input.form, InputForm::DnLines);
    // The targets as the run uses them; the texts as they came in.
    EXPECT_EQ(DNs(c.input.targets), (std::vector<std::string>{"<SID=S-1-5-32-544>", "cn=a,dc=x"}));
    EXPECT_EQ(Sources(c.input), (std::vector<std::string>{"S-1-5-32-544", "\"cn=a,dc=x\""}));
    // Refused lines that would be read as a hint line or as LDIF at the head
    // of a rejects file are not kept.
    EXPECT_EQ(RefusedSources(c.input), (std::vector<std::string>{"not a dn", "-", "-"}));
    EXPECT_EQ(c.input.refusedLines, (std::vector<std::uint64_t>{3, 4, 5}));

    // A relative base is the run's, not the input's.
    Collected relative;
    relative.input.keepSources = true;
    relative.settings.relativeBase = "ou=staff";
    Collect(relative, "cn=a\n");
    EXPECT_EQ(DNs(relative.input.targets), (std::vector<std::string>{"ou=staff,cn=a"}));
    EXPECT_EQ(Sources(relative.input), (std::vector<std::string>{"cn=a"}));

    // Without -rejects nothing is kept.
    Collected plain;
    Collect(plain, "cn=a,dc=x\nbad\n");
    EXPECT_EQ(Sources(plain.input), (std::vector<std::string>{"-"}));
    EXPECT_TRUE(plain.input.refusedSources.empty());
    EXPECT_EQ(plain.input.sources.size(), 0u);
}

TEST(CollectTargets, KeptCsvHeaderHasNoPassword) {
    Collected c;
    c.input.keepSources = true;
    Collect(c, "~~~ADCSV~~~1~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\"~~~ADCSV~~~127.0.0.1~~~ADCSV~~~1"
               "~~~ADCSV~~~cn=admin~~~ADCSV~~~Secret1~~~ADCSV~~~1\nDN,description\n"
               "\"cn=a,dc=x\",one\nbad,two\n");
    ASSERT_FALSE(c.rc);
    EXPECT_EQ(c.input.form, InputForm::Csv);
    EXPECT_EQ(c.input.headerText,
              "~~~ADCSV~~~1~~~ADCSV~~~,~~~ADCSV~~~;~~~ADCSV~~~\"~~~ADCSV~~~127.0.0.1~~~ADCSV~~~1"
              "~~~ADCSV~~~cn=admin~~~ADCSV~~~~~~ADCSV~~~1\nDN,description\n");
    EXPECT_EQ(Sources(c.input), (std::vector<std::string>{"\"cn=a,dc=x\",one"}));
    EXPECT_EQ(RefusedSources(c.input), (std::vector<std::string>{"bad,two"}));
}

TEST(CollectTargets, KeptRedirectValues) {
    Collected c;
    c.input.keepSources = true;
    c.settings.redirect = RedirectKind::Add;
    c.settings.redirectAttr = "member";
    Collect(c, "cn=a,dc=x\n{26C18F02-9B73-495B-9F53-8207FC72527D}\n");
    ASSERT_EQ(c.input.redirectSources.size(), 2u);
    EXPECT_EQ(c.input.sources[c.input.redirectSources[1]],
              "{26C18F02-9B73-495B-9F53-8207FC72527D}");
}

TEST(SortAndTrim, HierarchicalAndReverse) {
    SwitchParser p({"kelvo", "-stdinsort"}, SwitchDeclarations());
    TargetList dns = Targets({"CN=a,OU=b,DC=x", "DC=x", "OU=b,DC=x"});
    dns[0].line = 7;
    SortAndTrim(p, dns);
    EXPECT_EQ(DNs(dns), (std::vector<std::string>{"DC=x", "OU=b,DC=x", "CN=a,OU=b,DC=x"}));
    EXPECT_EQ(dns[2].line, 7u); // the source line travels with its DN
    SwitchParser r({"kelvo", "-stdinsortreverse"}, SwitchDeclarations());
    SortAndTrim(r, dns);
    EXPECT_EQ(DNs(dns), (std::vector<std::string>{"CN=a,OU=b,DC=x", "OU=b,DC=x", "DC=x"}));
}

} // namespace
