#include "CsvLine.h"
#include "Diag.h"
#include "VarExpansion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::string_view kTerminating = "ERROR: Terminating Program.";

// Parameterised cases show their name instead of a byte dump.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// Services with fixed answers; each fake shows in its answer what it was
// asked, so the tests see what the interpreter passed on.
struct FakeServices {
    std::vector<std::string> sidQueries;
    ExpansionServices services;

    FakeServices() {
        services.nameToSid = [this](std::string_view name) {
            sidQueries.emplace_back(name);
            if (name == "BUILTIN\\Administrators") return SidLookup{true, "S-1-5-32-544"};
            return SidLookup{false,
                             "ERROR: (1332) No mapping between account names and security IDs "
                             "was done."};
        };
        services.ldsNameToSid = [](std::string_view dn) {
            if (dn == "CN=u1,O=lds") return SidLookup{true, "S-1-5-21-1-2-3-1105"};
            return SidLookup{false, "ERROR: No matching Entries for LDAP://" + std::string(dn)};
        };
        services.nowInt8 = [] { return std::int64_t{132000000000000000}; };
        services.nowText = [](bool utc) {
            return std::string(utc ? "2019/04/19-00:00:00 UTC" : "2019/04/18-20:00:00 EDT");
        };
        services.int8ToGT = [](std::int64_t instant, bool utc) {
            return std::string(utc ? "U" : "L") + std::to_string(instant) + ".0Z";
        };
        services.dateToInt8 = [](std::string_view date, bool utc) -> std::string {
            if (date == "2006/11/07" || date == "2006/11/07-00:00:00")
                return utc ? "128074464000000000" : "128074608000000000";
            if (date == "1601/01/02-00:00:00" && utc) return "864000000000";
            return {};
        };
        services.randomString = [](unsigned minLen, unsigned maxLen, std::string_view chars) {
            return "R(" + std::to_string(minLen) + "," + std::to_string(maxLen) + "," +
                   std::string(chars) + ")";
        };
    }
};

// One CSV stream: header, one row, the object's DN values and the RootDSE.
struct Fixture {
    ExpansionHeaderMap header;
    CsvRecord row;
    ExpansionValues dnValues{
        {"DN", "CN=Ann Lee,OU=Staff,DC=example,DC=com"},
        {"RDN", "CN=Ann Lee"},
        {"PARENT", "OU=Staff,DC=example,DC=com"},
        {"DOMAIN", "DC=example,DC=com"},
        {"DOMAIN_DNS", "example.com"},
        {"NDC", "CN=Ann Lee,OU=Staff"},
        {"NAME", "Ann Lee"},
        {"ORIGNAME", "Ann"},
    };
    ExpansionValues rootDse{
        {"ROOT", "DC=forest,DC=com"},
        {"CONFIG", "CN=Configuration,DC=forest,DC=com"},
        {"DEFAULT", "DC=example,DC=com"},
        {"SCHEMA", "CN=Schema,CN=Configuration,DC=forest,DC=com"},
        {"SECPRIN", "EXAMPLE\\admin"},
        {"FQDN", "dc1.example.com"},
        {"DOMAINDNS", "default.example.com"},
        {"ROOTDNS", "forest.com"},
    };
    FakeServices fakes;

    Fixture() {
        const char* names[] = {"dn",          "sn",
                               "description", "useraccountcontrol",
                               "member",      "when",
                               "pwdlastset",  "list",
                               "mixed",       "gt",
                               "unicodepwd",  "braces",
                               "empty",       "sid##objectsid",
                               "uac514",      "one"};
        for (std::size_t i = 0; i < std::size(names); ++i)
            header[names[i]] = i;
        CsvSettings settings;
        CsvLine line;
        const bool parsed = ParseCSVLine(
            "\"CN=Ann Lee,OU=Staff,DC=example,DC=com\",Lee,Staff member,512,a;b;c,2006/11/07,"
            "128074464000000000,\"x,y,z\",MiXeD "
            "Case,2006/13/45,Secret{{pw}},{{sn}},,S-1-5-32-544,514,1",
            settings, line);
        EXPECT_TRUE(parsed);
        row = CsvRecord(line);
    }

    ExpansionContext Context(std::string_view attribute = "description", std::size_t valuePos = 0) {
        ExpansionContext ctx;
        ctx.record = &row;
        ctx.header = &header;
        ctx.attribute = attribute;
        ctx.valuePos = valuePos;
        ctx.dnValues = &dnValues;
        ctx.rootDse = &rootDse;
        ctx.counter = 5;
        ctx.services = &fakes.services;
        return ctx;
    }
};

struct ValueCase {
    const char* name;
    const char* text;
    const char* attribute;
    std::size_t valuePos;
    const char* expected;
};

class Expands : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Expands, ToTheExpectedText) {
    const ValueCase& c = GetParam();
    Fixture f;
    const ExpansionResult r = VarExpansion(c.text, f.Context(c.attribute, c.valuePos));
    ASSERT_TRUE(r.ok) << (r.messages.empty() ? "" : r.messages.front());
    EXPECT_EQ(r.value, c.expected);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.messages.empty());
}

// Columns, the attribute's own column, value positions, case modifiers and
// the order in which expressions are replaced.
INSTANTIATE_TEST_SUITE_P(
    Columns, Expands,
    ::testing::Values(
        ValueCase{"plain text passes", "no braces here", "description", 0, "no braces here"},
        ValueCase{"single braces pass", "{GETSD}{-D=(A;;RP;;;AU)}", "sd##ntsecuritydescriptor", 0,
                  "{GETSD}{-D=(A;;RP;;;AU)}"},
        ValueCase{"column", "{{sn}}", "description", 0, "Lee"},
        ValueCase{"column name any case", "{{SN}}", "description", 0, "Lee"},
        ValueCase{"dot is own column", "{{.}}", "description", 0, "Staff member"},
        ValueCase{"empty is own column", "{{}}", "Description", 0, "Staff member"},
        ValueCase{"own column without prefix", "{{.}}", "bin##sn", 0, "Lee"},
        ValueCase{"prefixed column", "{{sid##objectSid}}", "description", 0, "S-1-5-32-544"},
        ValueCase{"text around", "Mr. {{sn}}, {{description}}!", "x", 0, "Mr. Lee, Staff member!"},
        ValueCase{"left to right", "{{sn}}{{.}}{{sn}}", "member", 1, "LeebLee"},
        ValueCase{"multi-valued first", "{{.}}", "member", 0, "a"},
        ValueCase{"multi-valued third", "{{.}}", "member", 2, "c"},
        ValueCase{"past the values", "[{{.}}]", "member", 3, "[]"},
        ValueCase{"single value at every position", "{{sn}}", "member", 2, "Lee"},
        ValueCase{"empty field", "<{{empty}}>", "x", 0, "<>"},
        ValueCase{"lower case", "{{mixed:_lc}}", "x", 0, "mixed case"},
        ValueCase{"upper case", "{{sn:_uc}}", "x", 0, "LEE"},
        ValueCase{"case suffix any case", "{{sn:_UC}}", "x", 0, "LEE"},
        ValueCase{"case of own column", "{{:_uc}}", "sn", 0, "LEE"},
        ValueCase{"case only in its expression", "{{sn:_uc}}{{sn:_lc}}{{sn}}", "x", 0, "LEEleeLee"},
        ValueCase{"case after modifier", "{{list:$rall$,$;:_uc}}", "x", 0, "X;Y;Z"},
        ValueCase{"produced braces stay", "{{braces}}", "x", 0, "{{sn}}"},
        ValueCase{"produced braces in a secret", "{{unicodepwd}}", "x", 0, "Secret{{pw}}"},
        ValueCase{"closing braces alone", "a}}b", "x", 0, "a}}b"},
        ValueCase{"third brace is text", "{{sn}}}", "x", 0, "Lee}"},
        ValueCase{"expression ends at first closing", "{{sn}}}}{{sn}}", "x", 0, "Lee}}Lee"}));

// Arithmetic on 32-bit values; operands in binary, hex or decimal.
INSTANTIATE_TEST_SUITE_P(
    Arithmetic, Expands,
    ::testing::Values(ValueCase{"set", "{{.:SET:32}}", "useraccountcontrol", 0, "544"},
                      ValueCase{"clr hex", "{{uac514:CLR:0x2}}", "x", 0, "512"},
                      ValueCase{"add binary to one", "{{one:+:b101}}", "x", 0, "6"},
                      ValueCase{"or", "{{.:or:0x10}}", "useraccountcontrol", 0, "528"},
                      ValueCase{"and", "{{.:and:0x200}}", "useraccountcontrol", 0, "512"},
                      ValueCase{"and clears", "{{.:AND:2}}", "useraccountcontrol", 0, "0"},
                      ValueCase{"xor", "{{.:xor:b1000000010}}", "useraccountcontrol", 0, "2"},
                      ValueCase{"clr", "{{useraccountcontrol:clr:0x200}}", "x", 0, "0"},
                      ValueCase{"add binary", "{{.:+:b101}}", "useraccountcontrol", 0, "517"},
                      ValueCase{"subtract", "{{.:-:12}}", "useraccountcontrol", 0, "500"},
                      ValueCase{"subtract wraps to 32 bits", "{{.:-:513}}", "useraccountcontrol", 0,
                                "4294967295"},
                      ValueCase{"multiply", "{{.:*:3}}", "useraccountcontrol", 0, "1536"},
                      ValueCase{"multiply wraps", "{{.:*:0x800000}}", "useraccountcontrol", 0, "0"},
                      ValueCase{"divide", "{{.:/:0x100}}", "useraccountcontrol", 0, "2"},
                      ValueCase{"non-number value is 0", "{{sn:+:7}}", "x", 0, "7"},
                      ValueCase{"digits stop at junk", "{{.:+:12abc}}", "useraccountcontrol", 0,
                                "524"},
                      ValueCase{"negative operand", "{{.:+:-2}}", "useraccountcontrol", 0, "510"}));

// First, all, and case-blind replacement; '$' separators allow ':'.
INSTANTIATE_TEST_SUITE_P(
    Replace, Expands,
    ::testing::Values(ValueCase{"first", "{{list:r:,:;}}", "x", 0, "x;y,z"},
                      ValueCase{"all with dollars", "{{list:$rall$,$;}}", "x", 0, "x;y;z"},
                      ValueCase{"replacement with colon", "{{list:$rall$,$::}}", "x", 0, "x::y::z"},
                      ValueCase{"colon form keeps later colons", "{{sn:r:e:a:b}}", "x", 0, "La:be"},
                      ValueCase{"exact case misses", "{{mixed:r:case:X}}", "x", 0, "MiXeD Case"},
                      ValueCase{"case-blind first", "{{mixed:r_ci:case:X}}", "x", 0, "MiXeD X"},
                      ValueCase{"case-blind all", "{{mixed:rall_ci:X:_}}", "x", 0, "Mi_eD Case"},
                      ValueCase{"all terminates", "{{sn:rall:e:ee}}", "x", 0, "Leeee"},
                      ValueCase{"empty replacement", "{{sn:rall:e:}}", "x", 0, "L"},
                      ValueCase{"empty find leaves value", "{{sn:r::x}}", "x", 0, "Lee"},
                      ValueCase{"modifier name any case", "{{sn:RALL:e:o}}", "x", 0, "Loo"}));

// allvals, dates and int8 shifts (times through the fake services).
INSTANTIATE_TEST_SUITE_P(
    FieldTimes, Expands,
    ::testing::Values(
        ValueCase{"allvals", "{{member:allvals}}", "x", 0, "a;b;c"},
        ValueCase{"allvals glue", "{{member:allvals::|}}", "x", 0, "a|b|c"},
        ValueCase{"allvals ignores position", "{{.:allvals::, }}", "member", 2, "a, b, c"},
        ValueCase{"allvals single", "{{sn:allvals}}", "x", 0, "Lee"},
        ValueCase{"enclocal", "{{when:enclocal_int8}}", "x", 0, "128074608000000000"},
        ValueCase{"encutc", "{{when:encutc_int8}}", "x", 0, "128074464000000000"},
        ValueCase{"encutc plus a day", "{{when:encutc_int8::+d:1}}", "x", 0, "128075328000000000"},
        ValueCase{"enclocal minus minutes", "{{when:enclocal_int8::-m:10}}", "x", 0,
                  "128074602000000000"},
        ValueCase{"bad date is a value", "{{gt:encutc_int8}}", "x", 0,
                  "%ERROR% Invalid date format"},
        ValueCase{"int8 plus days", "{{pwdlastset:int8+d:10}}", "x", 0, "128083104000000000"},
        ValueCase{"int8 minus hours", "{{pwdlastset:int8-h:1}}", "x", 0, "128074428000000000"},
        ValueCase{"int8 plus minutes", "{{pwdlastset:INT8+M:1}}", "x", 0, "128074464600000000"},
        ValueCase{"int8 negative count", "{{pwdlastset:int8+d:-1}}", "x", 0,
                  "128073600000000000"}));

// Opcodes: counter, random text, DN values, RootDSE values, SIDs, times.
INSTANTIATE_TEST_SUITE_P(
    Opcodes, Expands,
    ::testing::Values(
        ValueCase{"counter", "u{{*cnt*}}", "x", 0, "u5"},
        ValueCase{"opcode any case", "{{*CNT*}}", "x", 0, "5"},
        ValueCase{"random defaults", "{{*rnd*}}", "x", 0, "R(0,0,)"},
        ValueCase{"random lengths", "{{*rnd*:8:12}}", "x", 0, "R(8,12,)"},
        ValueCase{"random named set", "{{*rnd*:8:8:__num}}", "x", 0, "R(8,8,__num)"},
        ValueCase{"random set with colon", "{{*rnd*:4:6:ab:c}}", "x", 0, "R(4,6,ab:c)"},
        ValueCase{"random huge length capped", "{{*rnd*:99999999999}}", "x", 0, "R(65536,0,)"},
        ValueCase{"dn", "{{*dn*}}", "x", 0, "CN=Ann Lee,OU=Staff,DC=example,DC=com"},
        ValueCase{"rdn", "{{*rdn*}}", "x", 0, "CN=Ann Lee"},
        ValueCase{"parentdn", "{{*parentdn*}}", "x", 0, "OU=Staff,DC=example,DC=com"},
        ValueCase{"domaindn", "{{*domaindn*}}", "x", 0, "DC=example,DC=com"},
        ValueCase{"ndc", "{{*ndc*}}", "x", 0, "CN=Ann Lee,OU=Staff"},
        ValueCase{"name", "{{*name*:_uc}}", "x", 0, "ANN LEE"},
        ValueCase{"origname", "{{*origname*}}", "x", 0, "Ann"},
        ValueCase{"confignc", "{{*confignc*}}", "x", 0, "CN=Configuration,DC=forest,DC=com"},
        ValueCase{"rootnc", "{{*rootnc*}}", "x", 0, "DC=forest,DC=com"},
        ValueCase{"forestnc", "{{*forestnc*}}", "x", 0, "DC=forest,DC=com"},
        ValueCase{"rootdn", "{{*rootdn*}}", "x", 0, "DC=forest,DC=com"},
        ValueCase{"forestdn", "{{*forestdn*}}", "x", 0, "DC=forest,DC=com"},
        ValueCase{"schemanc", "{{*schemanc*}}", "x", 0,
                  "CN=Schema,CN=Configuration,DC=forest,DC=com"},
        ValueCase{"schemadn", "{{*schemadn*}}", "x", 0,
                  "CN=Schema,CN=Configuration,DC=forest,DC=com"},
        ValueCase{"defaultnc", "{{*defaultnc*}}", "x", 0, "DC=example,DC=com"},
        ValueCase{"defaultdn", "{{*defaultdn*}}", "x", 0, "DC=example,DC=com"},
        ValueCase{"hostfqdn", "{{*hostfqdn*}}", "x", 0, "dc1.example.com"},
        ValueCase{"domaindns of the object", "{{*domaindns*}}", "x", 0, "example.com"},
        ValueCase{"domain of the object", "{{*domain*}}", "x", 0, "example.com"},
        ValueCase{"rootdns", "{{*rootdns*}}", "x", 0, "forest.com"},
        ValueCase{"forestdns", "{{*forestdns*}}", "x", 0, "forest.com"},
        ValueCase{"adminsdholder", "{{*adminsdholder*}}", "x", 0,
                  "CN=AdminSDHolder,CN=System,DC=example,DC=com"},
        ValueCase{"secprin", "{{*secprin*}}", "x", 0, "EXAMPLE\\admin"},
        ValueCase{"sid", "{{*sid*:BUILTIN\\Administrators}}", "x", 0, "S-1-5-32-544"},
        ValueCase{"isid", "{{*isid*:BUILTIN\\Administrators}}", "x", 0, "<SID=S-1-5-32-544>"},
        ValueCase{"sid failure text travels", "{{*sid*:NOBODY}}", "x", 0,
                  "ERROR: (1332) No mapping between account names and security IDs was done."},
        ValueCase{"ldssid", "{{*ldssid*:CN=u1,O=lds}}", "x", 0, "S-1-5-21-1-2-3-1105"},
        ValueCase{"now", "{{*now*}}", "x", 0, "2019/04/18-20:00:00 EDT"},
        ValueCase{"now_utc", "{{*now_utc*}}", "x", 0, "2019/04/19-00:00:00 UTC"},
        ValueCase{"nowgt is local", "{{*nowgt*}}", "x", 0, "L132000000000000000.0Z"},
        ValueCase{"now_int8", "{{*now_int8*}}", "x", 0, "132000000000000000"},
        ValueCase{"now_int8 plus days", "{{*now_int8*:+d:2}}", "x", 0, "132001728000000000"},
        ValueCase{"now_int8 minus hours", "{{*now_int8*:-h:24}}", "x", 0, "131999136000000000"},
        ValueCase{"now_gt shifted", "{{*now_gt*:+m:1}}", "x", 0, "U132000000600000000.0Z"},
        ValueCase{"enclocal opcode", "{{*enclocal_int8*:2006/11/07}}", "x", 0,
                  "128074608000000000"},
        ValueCase{"encutc opcode shifted", "{{*encutc_int8*:2006/11/07-00:00:00::-d:1}}", "x", 0,
                  "128073600000000000"},
        ValueCase{"encutc opcode bad date", "{{*encutc_int8*:yesterday}}", "x", 0,
                  "%ERROR% Invalid date format"},
        ValueCase{"opcode next to column", "{{sn}}-{{*cnt*}}", "x", 0, "Lee-5"}));

TEST(VarExpansion, DomainDnsWithoutDnValuesIsTheDefaultContexts) {
    Fixture f;
    ExpansionContext ctx = f.Context();
    ctx.dnValues = nullptr;
    const ExpansionResult r = VarExpansion("{{*domaindns*}}", ctx);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value, "default.example.com");
}

TEST(VarExpansion, CounterFollowsTheContextPerObject) {
    Fixture f;
    ExpansionContext ctx = f.Context();
    std::vector<std::string> seen;
    for (std::int64_t counter : {5, 6}) {
        ctx.counter = counter;
        seen.push_back(VarExpansion("{{*cnt*}}", ctx).value);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"5", "6"}));
}

TEST(VarExpansion, RandomWithoutServiceUsesTheModulesGenerator) {
    Fixture f;
    ExpansionServices none;
    ExpansionContext ctx = f.Context();
    ctx.services = &none;
    const ExpansionResult r = VarExpansion("{{*rnd*:8:8:__num}}", ctx);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.value.size(), 8u);
    EXPECT_EQ(r.value.find_first_not_of("0123456789"), std::string::npos) << r.value;
}

TEST(VarExpansion, SidLookupGetsTheNameAsWritten) {
    Fixture f;
    const ExpansionResult r = VarExpansion("{{*sid*:BUILTIN\\Administrators:_lc}}", f.Context());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.value, "s-1-5-32-544");
    EXPECT_EQ(f.fakes.sidQueries, (std::vector<std::string>{"BUILTIN\\Administrators"}));
}

// --- Failures ---------------------------------------------------------------

enum class Ctx { Full, NoDnValues, NoRecord, NoHeader, NoServices, ShortRecord };

struct FailCase {
    const char* name;
    const char* text;
    const char* attribute;
    Ctx ctx;
    int exitCode;
    std::vector<std::string> messages; // before the closing "Terminating" line
};

class Fails : public ::testing::TestWithParam<FailCase> {};

TEST_P(Fails, WithCodeAndMessages) {
    const FailCase& c = GetParam();
    Fixture f;
    ExpansionServices none;
    const CsvRecord shortRow(CsvLine{{"only"}, {"two"}});
    ExpansionContext ctx = f.Context(c.attribute);
    switch (c.ctx) {
    case Ctx::Full:
        break;
    case Ctx::NoDnValues:
        ctx.dnValues = nullptr;
        break;
    case Ctx::NoRecord:
        ctx.record = nullptr;
        break;
    case Ctx::NoHeader:
        ctx.header = nullptr;
        ctx.record = nullptr;
        break;
    case Ctx::NoServices:
        ctx.services = &none;
        break;
    case Ctx::ShortRecord:
        ctx.record = &shortRow;
        break;
    }
    const ExpansionResult r = VarExpansion(c.text, ctx);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.exitCode, c.exitCode);
    std::vector<std::string> expected = c.messages;
    expected.emplace_back(kTerminating);
    EXPECT_EQ(r.messages, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Fails,
    ::testing::Values(
        FailCase{"enclocal without date",
                 "{{*enclocal_int8*:}}",
                 "x",
                 Ctx::Full,
                 -10021,
                 {"", "", "ERROR: Need to specify time with *enclocal_int8*"}},
        FailCase{"encutc without date",
                 "{{*encutc_int8*}}",
                 "x",
                 Ctx::Full,
                 -10021,
                 {"", "", "ERROR: Need to specify time with *encutc_int8*"}},
        FailCase{"missing column",
                 "{{Surname}}",
                 "x",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Attribute (Surname) is not listed in the CSV input"}},
        FailCase{"missing own column",
                 "{{.}}",
                 "bin##NoSuchAttr",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Attribute (NoSuchAttr) is not listed in the CSV input"}},
        FailCase{"column without CSV",
                 "{{sn}}",
                 "x",
                 Ctx::NoHeader,
                 -10022,
                 {"ERROR: Attribute (sn) is not listed in the CSV input"}},
        FailCase{"rdn outside CSV mode",
                 "{{*rdn*}}",
                 "x",
                 Ctx::NoDnValues,
                 -10022,
                 {"ERROR: DN based expansion variables only available in CSV mode (bDNVals=0)"}},
        FailCase{"origname outside CSV mode",
                 "{{*origname*}}",
                 "x",
                 Ctx::NoDnValues,
                 -10022,
                 {"ERROR: DN based expansion variables only available in CSV mode (bDNVals=0)"}},
        FailCase{"unknown opcode",
                 "{{*bogus*}}",
                 "x",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Unknown expansion variable (*bogus*)"}},
        FailCase{"half opcode",
                 "{{*cnt}}",
                 "x",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Unknown expansion variable (*cnt)"}},
        FailCase{"unterminated",
                 "abc{{sn",
                 "x",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Expansion expression opened with {{ is not closed with }}"}},
        FailCase{"unterminated after a good one",
                 "{{sn}}{{",
                 "x",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Expansion expression opened with {{ is not closed with }}"}},
        FailCase{"sid without service",
                 "{{*sid*:x}}",
                 "x",
                 Ctx::NoServices,
                 -10022,
                 {"ERROR: Expansion variable (*sid*) is not available here"}},
        FailCase{"now without service",
                 "{{*now*}}",
                 "x",
                 Ctx::NoServices,
                 -10022,
                 {"ERROR: Expansion variable (*now*) is not available here"}},
        FailCase{"date modifier without service",
                 "{{when:encutc_int8}}",
                 "x",
                 Ctx::NoServices,
                 -10022,
                 {"ERROR: Expansion variable (encutc_int8) is not available here"}},
        FailCase{"no record",
                 "{{sn}}",
                 "x",
                 Ctx::NoRecord,
                 -10023,
                 {"ERROR: Critical internal failure 10023 ",
                  "ERROR: Verify that CSV lines are available in PIPE input. "}},
        FailCase{"short record",
                 "{{description}}",
                 "x",
                 Ctx::ShortRecord,
                 -10024,
                 {"ERROR: Critical internal failure 10024 |description|2|2",
                  "ERROR: Doublecheck field count for this entry in CSV stream "
                  "(CN=Ann Lee,OU=Staff,DC=example,DC=com)."}},
        FailCase{"unknown modifier",
                 "{{sn:frobnicate:1}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (frobnicate)"}},
        FailCase{"unknown dollar modifier",
                 "{{sn:$zz$a$b}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (zz)"}},
        FailCase{"bad shift op",
                 "{{when:encutc_int8::+y:1}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (+y)"}},
        FailCase{"bad opcode shift",
                 "{{*now_int8*:*d:1}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (*d)"}},
        FailCase{"junk after date modifier",
                 "{{when:encutc_int8:x}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (x)"}},
        FailCase{"arguments to a plain opcode",
                 "{{*cnt*:9}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (9)"}},
        FailCase{"divide by zero",
                 "{{useraccountcontrol:/:0}}",
                 "x",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Division by zero in modifier (/)"}},
        FailCase{"first failure wins",
                 "{{*dn*}}{{nope}}",
                 "x",
                 Ctx::NoDnValues,
                 -10022,
                 {"ERROR: DN based expansion variables only available in CSV mode (bDNVals=0)"}},
        // Secrets: what the expression names is hidden, never the value.
        FailCase{"password column hidden",
                 "{{Pa55word}}",
                 "unicodePwd",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Attribute (********) is not listed in the CSV input"}},
        FailCase{"password modifier hidden",
                 "{{sn:hunter2}}",
                 "pwd##userPassword",
                 Ctx::Full,
                 -10025,
                 {"ERROR: Invalid Modifier (********)"}},
        FailCase{"password unterminated",
                 "\"Se{{cret\"",
                 "unicodePwd",
                 Ctx::Full,
                 -10022,
                 {"ERROR: Expansion expression opened with {{ is not closed with }}"}}));

TEST(VarExpansion, FailureMessagesNeverQuoteSecretValues) {
    Fixture f;
    for (const char* text : {"{{Pa55word}}", "{{sn:Pa55word}}", "{{sn:$Pa55word$x$y}}",
                             "{{*Pa55word*}}", "x{{Pa55word", "{{*now_int8*:Pa55word}}"}) {
        const ExpansionResult r = VarExpansion(text, f.Context("unicodePwd"));
        ASSERT_FALSE(r.ok) << text;
        for (const std::string& line : r.messages)
            EXPECT_EQ(line.find("Pa55word"), std::string::npos) << line;
    }
}

TEST(VarExpansion, DebugLinesHideSecretsUnlessTracing) {
    Fixture f;
    std::string out;
    auto& s = diag::Get();
    s.debug = true;
    s.out = [&](std::string_view t) { out.append(t); };
    EXPECT_TRUE(VarExpansion("{{sn}}Pa55word", f.Context("unicodePwd")).ok);
    EXPECT_NE(out.find("DEBUG: Variable Expansion\n"), std::string::npos);
    EXPECT_EQ(out.find("Pa55word"), std::string::npos) << out;
    EXPECT_NE(out.find("DEBUG:   attr  =unicodePwd\n"), std::string::npos) << out;

    out.clear();
    EXPECT_TRUE(VarExpansion("{{sn}}", f.Context("bin##description")).ok);
    EXPECT_NE(out.find("DEBUG:   attr_prefixtype = bin\n"), std::string::npos) << out;
    EXPECT_NE(out.find("DEBUG:   lcvar = sn\n"), std::string::npos) << out;

    out.clear();
    EXPECT_EQ(VarExpansion("{{sn:$rall$e$o:_uc}}", f.Context()).value, "LOO");
    for (const char* line :
         {"DEBUG: Uppercase Modifier\n", "DEBUG: Modifier: $rall$e$o\n",
          "DEBUG: Overriding for replace functions.\n", "DEBUG: replace all...\n",
          "DEBUG: Old String: Lee\n", "DEBUG: Replace e with o\n", "DEBUG: New String: Loo\n"})
        EXPECT_NE(out.find(line), std::string::npos) << line << out;

    out.clear();
    EXPECT_TRUE(VarExpansion("{{sn:$rall$e$o}}", f.Context("unicodePwd")).ok);
    EXPECT_NE(out.find("DEBUG: Old String: ********\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Lee"), std::string::npos) << out;

    out.clear();
    s.trace = true;
    EXPECT_TRUE(VarExpansion("{{sn:$rall$e$o}}", f.Context("unicodePwd")).ok);
    EXPECT_NE(out.find("DEBUG: Old String: Lee\n"), std::string::npos) << out;
    diag::Get() = diag::Settings{};
}

// --- Value counts -----------------------------------------------------------

struct CountCase {
    const char* name;
    const char* text;
    const char* attribute;
    std::size_t expected;
};

class AttrCnt : public ::testing::TestWithParam<CountCase> {};

TEST_P(AttrCnt, CountsTheFirstExpressionsColumn) {
    const CountCase& c = GetParam();
    Fixture f;
    EXPECT_EQ(VarExpansionAttrCnt(c.text, c.attribute, f.header, f.row), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AttrCnt,
    ::testing::Values(CountCase{"own column", "{{.}}", "member", 3},
                      CountCase{"empty name", "{{}}", "member", 3},
                      CountCase{"dot prefix", "{{.x}}", "member", 3},
                      CountCase{"prefix dropped", "{{.}}", "dn##member", 3},
                      CountCase{"named column", "x{{MEMBER:allvals}}", "description", 3},
                      CountCase{"first expression only", "{{sn}}{{member}}", "x", 1},
                      CountCase{"no expression", "member", "member", 0},
                      CountCase{"no closing", "{{member", "member", 0},
                      CountCase{"not a column", "{{nope}}", "member", 0},
                      CountCase{"opcode", "{{*cnt*}}", "member", 0},
                      CountCase{"case suffix", "{{member:_uc}}", "x", 3}));

TEST(VarExpansionAttrCnt, ShortRowCountsZero) {
    Fixture f;
    const CsvRecord shortRow(CsvLine{{"a"}});
    EXPECT_EQ(VarExpansionAttrCnt("{{member}}", "x", f.header, shortRow), 0u);
}

TEST(VarExpansion, RepeatedTextYieldsEveryValueOfTheRow) {
    Fixture f;
    const std::string text = "{{.}}";
    const std::size_t n = VarExpansionAttrCnt(text, "member", f.header, f.row);
    std::vector<std::string> values;
    for (std::size_t i = 0; i < n; ++i)
        values.push_back(VarExpansion(text, f.Context("member", i)).value);
    EXPECT_EQ(values, (std::vector<std::string>{"a", "b", "c"}));
}

// --- Robustness -------------------------------------------------------------

// Random texts made of the language's punctuation and a few letters must
// expand or fail cleanly: a failure always carries a code and messages.
TEST(VarExpansion, RandomTextsNeverCrash) {
    Fixture f;
    const char* pieces[] = {"{{", "}}",      ":",  "*",  "$",
                            ".",  "{",       "}",  "sn", "cnt",
                            "r",  "_uc",     "::", "a",  "enclocal_int8",
                            "+d", "allvals", "/",  "0"};
    std::mt19937 gen(20240607);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(pieces) - 1);
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> which(0, 2);
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        for (int n = length(gen); n > 0; --n)
            text += pieces[pick(gen)];
        ExpansionContext ctx = f.Context("member", static_cast<std::size_t>(which(gen)));
        if (which(gen) == 0) ctx.dnValues = nullptr;
        if (which(gen) == 0) ctx.services = nullptr;
        const ExpansionResult r = VarExpansion(text, ctx);
        if (r.ok) {
            EXPECT_EQ(r.exitCode, 0) << text;
            if (text.find("{{") == std::string::npos) {
                EXPECT_EQ(r.value, text);
            }
        } else {
            EXPECT_LE(r.exitCode, -10021) << text;
            EXPECT_GE(r.exitCode, -10025) << text;
            ASSERT_FALSE(r.messages.empty()) << text;
            EXPECT_EQ(r.messages.back(), kTerminating) << text;
        }
        (void)VarExpansionAttrCnt(text, "member", f.header, f.row);
    }
}

} // namespace
