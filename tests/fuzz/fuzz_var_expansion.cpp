// The {{...}} expansion language over one CSV record, the DN values of its
// object and a RootDSE.  The services touch nothing outside the process: a
// fixed clock, calendar conversions in UTC, SID lookups from a small table
// and random text from a generator seeded the same way for every input.
//
// Input: one option byte, then the text to expand; a second line, when
// given, replaces the record (the header stays, so rows of another length
// are fuzzed too).
//   bit 0 no record, bit 1 no DN values, bits 2-3 the attribute, bits 4-5
//   the value position, bit 6 no services, bit 7 counter 41 instead of 0
#include "CsvLine.h"
#include "DSTime.h"
#include "FuzzSupport.h"
#include "VarExpansion.h"

#include <random>

namespace {

// The password column's value; no message may quote it.
constexpr std::string_view kSecret = "Pw-7Qx-Secret";

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
        {"ROOT", "DC=forest,DC=com"},     {"CONFIG", "CN=Configuration,DC=forest,DC=com"},
        {"DEFAULT", "DC=example,DC=com"}, {"SCHEMA", "CN=Schema,CN=Configuration,DC=forest,DC=com"},
        {"SECPRIN", "EXAMPLE\\admin"},    {"FQDN", "dc1.example.com"},
        {"DOMAINDNS", "example.com"},     {"ROOTDNS", "forest.com"},
    };
    ExpansionServices services;
    std::mt19937 rng;

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
        row = Parse("\"CN=Ann Lee,OU=Staff,DC=example,DC=com\",Lee,Staff member,512,a;b;c,"
                    "2006/11/07,128074464000000000,\"x,y,z\",MiXeD Case,2006/13/45," +
                    std::string(kSecret) + ",{{sn}},,S-1-5-32-544,514,1");
        services.nameToSid = [](std::string_view name) {
            if (name == "BUILTIN\\Administrators") return SidLookup{true, "S-1-5-32-544"};
            if (name == "EXAMPLE\\Domain Admins") return SidLookup{true, "S-1-5-21-1-2-3-512"};
            return SidLookup{false, "ERROR: (1332) No mapping between account names and "
                                    "security IDs was done."};
        };
        services.ldsNameToSid = [](std::string_view dn) {
            if (dn == "CN=u1,O=lds") return SidLookup{true, "S-1-5-21-1-2-3-1105"};
            return SidLookup{false, "ERROR: No matching Entries"};
        };
        services.nowInt8 = [] { return std::int64_t{132000000000000000}; };
        services.nowText = [](bool) { return std::string("2019/04/19-00:00:00 UTC"); };
        // The machine's zone is UTC here: local and UTC forms agree.
        services.int8ToGT = [](std::int64_t instant, bool) {
            if (instant < 0) return std::string();
            return DSTIME(TimeMode::Utc, static_cast<std::uint64_t>(instant)).GetGT(".0Z");
        };
        services.dateToInt8 = [](std::string_view date, bool) {
            std::string text = EncTime_to_int8(date, true);
            return text.starts_with("ERROR") || text.starts_with("%ERROR") ? std::string() : text;
        };
        services.randomString = [this](unsigned minLen, unsigned maxLen, std::string_view chars) {
            if (minLen == 0) minLen = 15;
            if (maxLen < minLen) maxLen = minLen;
            const std::string set = chars.empty() ? std::string("aB3$") : std::string(chars);
            std::string out(std::uniform_int_distribution<unsigned>(minLen, maxLen)(rng), ' ');
            for (char& c : out)
                c = set[std::uniform_int_distribution<std::size_t>(0, set.size() - 1)(rng)];
            return out;
        };
    }

    static CsvRecord Parse(const std::string& line) {
        CsvLine parsed;
        if (!ParseCSVLine(line, CsvSettings{}, parsed)) return {};
        return CsvRecord(parsed);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    (void)Shared();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    Fixture& f = Shared();
    f.rng.seed(5489u);
    const fuzz::Options o(fuzz::Text(data, size));
    const auto lines = fuzz::Split(o.rest, '\n', 2);
    const std::string& text = lines[0];
    CsvRecord replaced;
    const bool ownRow = lines.size() > 1;
    if (ownRow) replaced = Fixture::Parse(lines[1]);

    static constexpr std::string_view kAttributes[] = {"description", "unicodepwd",
                                                       "sid##objectsid", "member"};
    ExpansionContext ctx;
    ctx.record = o.Has(0) ? nullptr : ownRow ? &replaced : &f.row;
    ctx.header = &f.header;
    ctx.attribute = kAttributes[(o.bits >> 2) & 3];
    ctx.valuePos = (o.bits >> 4) & 3;
    ctx.dnValues = o.Has(1) ? nullptr : &f.dnValues;
    ctx.rootDse = &f.rootDse;
    ctx.counter = o.Has(7) ? 41 : 0;
    const ExpansionServices none{};
    ctx.services = o.Has(6) ? &none : &f.services;

    const ExpansionResult r = VarExpansion(text, ctx);
    if (r.ok) {
        fuzz::Check(r.exitCode == 0 && r.messages.empty(), "a good expansion carries a failure");
    } else {
        fuzz::Check(r.exitCode != 0, "a failed expansion has exit code 0");
        fuzz::Check(!r.messages.empty() && r.messages.back() == "ERROR: Terminating Program.",
                    "a failed expansion does not end with the terminating line");
        if (text.find(kSecret) == std::string::npos)
            for (const auto& m : r.messages)
                fuzz::Check(m.find(kSecret) == std::string::npos, "a message quotes a value");
    }
    if (ctx.record) (void)VarExpansionAttrCnt(text, ctx.attribute, f.header, *ctx.record);
    return 0;
}
