#include "LdifInput.h"
#include "pellixstrings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Reads `text` as LDIF and gives each item as one line of text:
// "E <line> <dn>", "R <line> <why> [<kept text>]" or "S <line> <result>".
std::vector<std::string> Items(const std::string& text, std::size_t lineLimit = kLineBufferSize,
                               std::size_t dnLimit = kLineBufferSize) {
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    LineReader lines(f, lineLimit);
    LdifReader reader(lines, dnLimit);
    std::vector<std::string> out;
    LdifItem item;
    while (reader.Next(item)) {
        const std::string at = " " + std::to_string(item.line) + " ";
        switch (item.kind) {
        case LdifItem::Kind::Entry:
            out.push_back("E" + at + item.dn);
            break;
        case LdifItem::Kind::Refused:
            out.push_back("R" + at + item.why + (item.text.empty() ? "" : " [" + item.text + "]"));
            break;
        case LdifItem::Kind::SearchResult:
            out.push_back("S" + at + item.why);
            break;
        }
    }
    std::fclose(f);
    return out;
}

using Lines = std::vector<std::string>;

TEST(LdifReader, ReadsTheDNsOfSearchOutput) {
    struct Case {
        const char* name;
        std::string text;
        Lines items;
    };
    const Case cases[] = {
        {"empty input", "", {}},
        {"only comments and blank lines", "# a\n\n#b\n\n", {}},
        {"full search output",
         "# extended LDIF\n#\n# LDAPv3\n# base <dc=x> with scope subtree\n# filter: "
         "(objectClass=*)\n# requesting: dn\n#\n\n# a, x\ndn: cn=a,dc=x\n\n# b, x\ndn: "
         "cn=b,dc=x\n\n# search result\nsearch: 2\nresult: 0 Success\n\n# numResponses: 3\n"
         "# numEntries: 2\n",
         {"E 10 cn=a,dc=x", "E 13 cn=b,dc=x"}},
        {"version line and attributes",
         "version: 1\n\ndn: cn=a,dc=x\nobjectClass: top\ncn: a\ndescription:: aGVsbG8=\n"
         "jpegPhoto:< file:///tmp/x\n\ndn: cn=b,dc=x\n",
         {"E 3 cn=a,dc=x", "E 9 cn=b,dc=x"}},
        {"version line straight before an entry", "version: 1\ndn: cn=a,dc=x\n", {"E 2 cn=a,dc=x"}},
        {"no line end at the end", "dn: cn=a,dc=x", {"E 1 cn=a,dc=x"}},
        {"letter case of dn",
         "DN: cn=a,dc=x\n\nDn:: Y249WsO8cmljaCxkYz14\n",
         {"E 1 cn=a,dc=x", "E 3 cn=Z\xC3\xBCrich,dc=x"}},
        {"folded dn",
         "dn: cn=a very long na\n me,ou=some\n where,dc=x\ncn: a\n",
         {"E 1 cn=a very long name,ou=somewhere,dc=x"}},
        {"space at the fold belongs to the DN", "dn: cn=a \n b,dc=x\n", {"E 1 cn=a b,dc=x"}},
        {"base64 dn", "dn:: Y249WsO8cmljaCxkYz14\n", {"E 1 cn=Z\xC3\xBCrich,dc=x"}},
        {"folded base64 dn",
         "dn:: Y249WsO8\n cmljaCxk\n Yz14\n\ndn: cn=b,dc=x\n",
         {"E 1 cn=Z\xC3\xBCrich,dc=x", "E 5 cn=b,dc=x"}},
        {"CRLF lines",
         "version: 1\r\n\r\ndn: cn=a,\r\n dc=x\r\ncn: a\r\n\r\ndn:: Y249WsO8cmljaCxkYz14\r\n",
         {"E 3 cn=a,dc=x", "E 7 cn=Z\xC3\xBCrich,dc=x"}},
        {"folded comments and attribute values",
         "# a comment\n that goes on\ndn: cn=a,dc=x\ndescription: dn: cn=evil,dc=x\n dn: "
         "cn=evil2\n\n",
         {"E 3 cn=a,dc=x"}},
        {"change records",
         "dn: cn=a,dc=x\nchangetype: modify\nreplace: description\n"
         "description: x\n-\n\ndn: cn=b,dc=x\nchangetype: delete\n",
         {"E 1 cn=a,dc=x", "E 7 cn=b,dc=x"}},
        {"search reference record",
         "# search reference\nref: ldap://h/dc=y??sub\n\n"
         "dn: cn=a,dc=x\n",
         {"E 4 cn=a,dc=x"}},
        {"comment inside an entry", "dn: cn=a,dc=x\n# note\ncn: a\n", {"E 1 cn=a,dc=x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Items(c.text), c.items);
    }
}

TEST(LdifReader, RefusesWhatNamesNoTargetAndGoesOn) {
    struct Case {
        const char* name;
        std::string text;
        Lines items;
    };
    const Case cases[] = {
        {"bad base64",
         "dn:: !!!!\n\ndn: cn=b,dc=x\n",
         {"R 1 holds invalid base64 in its dn:: line [dn:: !!!!]", "E 3 cn=b,dc=x"}},
        {"base64 of the wrong length",
         "dn:: Y249YQ\n",
         {"R 1 holds invalid base64 in its dn:: line [dn:: Y249YQ]"}},
        {"folded bad base64 keeps the joined line",
         "dn:: Y249\n YQ=a\n",
         {"R 1 holds invalid base64 in its dn:: line [dn:: Y249YQ=a]"}},
        {"base64 of a NUL byte",
         "dn:: Y249YQBiLGRjPXg=\n",
         {"R 1 has a DN with a NUL byte [dn:: Y249YQBiLGRjPXg=]"}},
        {"base64 of bytes that are not UTF-8",
         "dn:: Y249wygsZGM9eA==\n",
         {"R 1 has a DN that is not UTF-8 text [dn:: Y249wygsZGM9eA==]"}},
        {"URL dn",
         "dn:< file:///etc/passwd\n",
         {"R 1 names its DN by a URL (dn:<), which Kelvo does not read [dn:< "
          "file:///etc/passwd]"}},
        {"empty dn",
         "dn:\n\ndn: \n",
         {"R 1 has an empty DN (the root DSE: use -b rootdse) [dn:]",
          "R 3 has an empty DN (the root DSE: use -b rootdse) [dn: ]"}},
        {"plain DN lines after an entry",
         "dn: cn=a,dc=x\ncn=b,dc=x\ncn=c,dc=x\n",
         {"E 1 cn=a,dc=x", "R 2 is not an LDIF attribute line",
          "R 3 is not an LDIF attribute line"}},
        {"a record that is no entry",
         "dn: cn=a,dc=x\n\ncn=b,dc=x\n",
         {"E 1 cn=a,dc=x", "R 3 is not LDIF (an entry starts with a dn: line)"}},
        {"an attribute line with no dn",
         "\ncn: b\n",
         {"R 2 is not LDIF (an entry starts with a dn: line)"}},
        {"a continued line with nothing before it",
         "\n continued\n more\ndn: cn=a,dc=x\n",
         {"R 2 is not LDIF (an entry starts with a dn: line)", "E 4 cn=a,dc=x"}},
        {"second dn in one entry",
         "dn: cn=a,dc=x\ncn: a\ndn: cn=b,dc=x\n",
         {"E 1 cn=a,dc=x",
          "R 3 is a second dn: line in one entry (no empty line before it) [dn: cn=b,dc=x]"}},
        {"NUL byte in a dn line", std::string("dn: cn=a\0,dc=x\n", 15), {"R 1 holds a NUL byte"}},
        {"NUL byte in an attribute line is skipped with it",
         std::string("dn: cn=a,dc=x\ncn: a\0\n", 21),
         {"E 1 cn=a,dc=x"}},
        {"search that failed",
         "dn: cn=a,dc=x\n\nsearch: 2\nresult: 4 Size limit exceeded\n",
         {"E 1 cn=a,dc=x", "S 4 4 Size limit exceeded"}},
        {"result record without search line",
         "result: 32 No such object\nmatchedDN: dc=x\n",
         {"S 1 32 No such object"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Items(c.text), c.items);
    }
}

TEST(LdifReader, LargeEntriesAreStreamed) {
    // An attribute value folded over 200,000 lines (15 MB) between two
    // entries: skipped line by line, the line numbers stay right.
    std::string text = "dn: cn=a,dc=x\njpegPhoto:: AAAA\n";
    const std::string fold = " " + std::string(75, 'A') + "\n";
    for (int i = 0; i < 200000; ++i)
        text += fold;
    text += "\ndn: cn=b,dc=x\n";
    EXPECT_EQ(Items(text), (Lines{"E 1 cn=a,dc=x", "E 200004 cn=b,dc=x"}));
}

TEST(LdifReader, LinesPastTheLimitsAreRefused) {
    const std::string longValue(200, 'v');
    // A dn: line folded past the limit on the joined line: refused, its text
    // is not kept, the entry's other lines are skipped.
    EXPECT_EQ(Items("dn: cn=" + longValue + "\n " + longValue + "\ncn: a\n\ndn: cn=b,dc=x\n",
                    kLineBufferSize, 300),
              (Lines{"R 1 has a dn: line longer than 300 bytes", "E 5 cn=b,dc=x"}));
    // A physical line past the reader's limit: its text is gone, so it is
    // refused wherever it stands, and a dn: line it follows cannot be trusted
    // to be complete.
    const Lines overlong = Items("dn: cn=a,dc=x\ncn: a\ndescription: " + longValue +
                                     "\n\ndn: cn=b,dc=x\njpegPhoto: " + longValue + "\n",
                                 100);
    ASSERT_EQ(overlong.size(), 3u);
    EXPECT_EQ(overlong[0], "E 1 cn=a,dc=x");
    EXPECT_TRUE(overlong[1].starts_with("R 3 is longer than")) << overlong[1];
    EXPECT_TRUE(overlong[2].starts_with("R 5 has a dn: line longer than")) << overlong[2];
}

TEST(IsLdifStart, OnlyLinesNoDNCanStartWith) {
    for (const char* yes : {"version: 1", "dn: cn=a", "dn:: Y249", "DN:cn=a", "Version:1"})
        EXPECT_TRUE(IsLdifStart(yes)) << yes;
    for (const char* no : {"cn=a,dc=x", "dnsname=a,dc=x", "# comment", "version=1,dc=x",
                           "S-1-5-32-544", "\"dn\",description", ""})
        EXPECT_FALSE(IsLdifStart(no)) << no;
}

TEST(Base64, StrictDecodingAndRoundTrip) {
    struct Case {
        const char* text;
        bool ok;
        std::string bytes;
    };
    const Case cases[] = {
        {"", true, ""},          {"YQ==", true, "a"},
        {"YWI=", true, "ab"},    {"YWJj", true, "abc"},
        {"Y", false, ""},        {"YQ=", false, ""},
        {"Y===", false, ""},     {"====", false, ""},
        {"YQ==YWJj", false, ""}, {"YQ=a", false, ""},
        {"Y Q=", false, ""},     {"YW\nJ", false, ""},
        {"YW-_", false, ""},     {"+/+/", true, "\xFB\xFF\xBF"},
    };
    for (const auto& c : cases) {
        std::string out;
        EXPECT_EQ(Base64Decode(c.text, out), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(out, c.bytes) << c.text;
        }
    }
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    for (std::size_t n = 0; n <= all.size(); n += 37) {
        std::string back;
        ASSERT_TRUE(Base64Decode(Base64Encode(all.substr(0, n)), back));
        EXPECT_EQ(back, all.substr(0, n));
    }
}

TEST(LdifDnLine, PlainWhenSafeElseBase64) {
    struct Case {
        std::string dn;
        std::string line;
    };
    const Case cases[] = {
        {"cn=a,dc=x", "dn: cn=a,dc=x"}, {"cn=Z\xC3\xBCrich,dc=x", "dn:: Y249WsO8cmljaCxkYz14"},
        {" cn=a", "dn:: IGNuPWE="},     {":cn=a", "dn:: OmNuPWE="},
        {"<cn=a", "dn:: PGNuPWE="},     {"cn=a ", "dn:: Y249YSA="},
        {"cn=a\nb", "dn:: Y249YQpi"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(LdifDnLine(c.dn), c.line);
        // What is written reads back as the same DN.
        EXPECT_EQ(Items(c.line + "\n"), (Lines{"E 1 " + c.dn}));
    }
}

} // namespace
