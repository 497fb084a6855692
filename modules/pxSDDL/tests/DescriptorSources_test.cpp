#include "CSDDL.h"
#include "FakeSources.h"
#include "SddlInternal.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace pxsddl;
using pxsddl::testing::FakeSources;
using List = std::vector<std::string>;

constexpr const char* kInvalid = "INVALID STARTING SECURITY DESCRIPTOR";

struct Fixture {
    FakeSources sources;
    SddlContext ctx;
    std::map<std::string, std::string> cache;

    Fixture() {
        ctx.nc.schema = "CN=Schema,CN=Configuration,DC=corp,DC=example";
        ctx.nc.configuration = "CN=Configuration,DC=corp,DC=example";
        ctx.nc.defaultNC = "DC=corp,DC=example";
        ctx.nc.rootDomain = "DC=example";
        ctx.keepGeneric = true;
        ctx.sources = &sources;
    }
    // The source step on its own, on a value as the pipeline hands it over.
    detail::SourceOutcome Apply(std::string& value,
                                std::string_view attr = "nTSecurityDescriptor") {
        return detail::ApplySourceToken(value, ctx, attr, cache);
    }
};

// --- Object descriptors --------------------------------------------------------------

TEST(SourceTokens, ObjectDescriptorByDnAndAlias) {
    struct Case {
        const char* value;
        const char* dnRead;
    };
    const Case cases[] = {
        {"{GETSD}=CN=TEMPLATE,DC=CORP", "CN=TEMPLATE,DC=CORP"},
        {"{GETSD}={{*ADMINSDHOLDER*}}", "CN=AdminSDHolder,CN=System,DC=corp,DC=example"},
        {"{GETSD}={{*SYSTEM*}}", "CN=System,DC=corp,DC=example"},
        {"{GETSD}=CN=X,{{*CONFIGNC*}}", "CN=X,CN=Configuration,DC=corp,DC=example"},
        {"{GETSD}=CN=X,{{*DEFAULTNC*}}", "CN=X,DC=corp,DC=example"},
        {"{GETSD}=CN=X,{{*ROOTNC*}}", "CN=X,DC=example"},
        {"{GETPSD}=CN=X,{{*ROOTNC*}}", "CN=X,DC=example"},
        {"{GETISD}=CN=X,{{*ROOTNC*}}", "CN=X,DC=example"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.sources.objects[c.dnRead] = "O:S-1-5-18D:AI(A;;RP;;;S-1-1-0)";
        std::string value = c.value;
        const auto outcome = f.Apply(value);
        EXPECT_TRUE(outcome.token) << c.value;
        EXPECT_EQ(value, "O:S-1-5-18D:AI(A;;RP;;;S-1-1-0)") << c.value;
        EXPECT_EQ(f.sources.calls,
                  List{"GetSD|" + std::string(c.dnRead) + "|15|nTSecurityDescriptor"})
            << c.value;
    }
}

TEST(SourceTokens, ProtectAndInheritOnlyWhenADescriptorCameBack) {
    struct Case {
        const char* value;
        bool found;
        bool makeProtected;
        bool makeInherited;
    };
    const Case cases[] = {
        {"{GETSD}=CN=T", true, false, false},         {"{GETPSD}=CN=T", true, true, false},
        {"{GETISD}=CN=T", true, false, true},         {"{GETPSD}=CN=MISSING", false, false, false},
        {"{GETISD}=CN=MISSING", false, false, false},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.sources.objects["CN=T"] = "D:AI(A;;RP;;;S-1-1-0)";
        std::string value = c.value;
        const auto outcome = f.Apply(value);
        EXPECT_EQ(!value.empty(), c.found) << c.value;
        EXPECT_EQ(outcome.makeProtected, c.makeProtected) << c.value;
        EXPECT_EQ(outcome.makeInherited, c.makeInherited) << c.value;
    }
}

TEST(SourceTokens, WithoutDnTheObjectItselfIsRead) {
    Fixture f;
    f.ctx.objectDn = "CN=Obj,OU=Lab,DC=corp,DC=example";
    f.ctx.parts.sacl = false;
    f.sources.objects[f.ctx.objectDn] = "D:PAI(A;;RP;;;S-1-1-0)";
    for (int i = 0; i < 2; ++i) {
        std::string value = "{GETPSD}";
        EXPECT_TRUE(f.Apply(value, "msDS-Other").makeProtected);
        EXPECT_EQ(value, "D:PAI(A;;RP;;;S-1-1-0)");
    }
    // The object is read each time; its descriptor is not cached.
    EXPECT_EQ(f.sources.calls, (List{"GetSD|CN=Obj,OU=Lab,DC=corp,DC=example|7|msDS-Other",
                                     "GetSD|CN=Obj,OU=Lab,DC=corp,DC=example|7|msDS-Other"}));
    EXPECT_TRUE(f.cache.empty());

    Fixture noObject;
    std::string value = "{GETSD}";
    noObject.Apply(value);
    EXPECT_EQ(value, "");
    EXPECT_TRUE(noObject.sources.calls.empty());
}

TEST(SourceTokens, ReadsAreCachedByDnWhateverItsCase) {
    Fixture f;
    f.sources.objects["CN=T,DC=corp,DC=example"] = "D:AI(A;;RP;;;S-1-1-0)";
    std::string first = "{GETSD}=CN=T,{{*DEFAULTNC*}}";
    std::string second = "{GETPSD}=cn=t,dc=CORP,dc=EXAMPLE";
    f.Apply(first);
    const auto outcome = f.Apply(second);
    EXPECT_EQ(first, "D:AI(A;;RP;;;S-1-1-0)");
    EXPECT_EQ(second, first);
    EXPECT_TRUE(outcome.makeProtected);
    EXPECT_EQ(f.sources.calls.size(), 1u);
    EXPECT_EQ(f.cache.count("cn=t,dc=corp,dc=example"), 1u);

    // A failed read is not repeated either.
    std::string missing = "{GETSD}=CN=NONE";
    f.Apply(missing);
    missing = "{GETSD}=CN=NONE";
    f.Apply(missing);
    EXPECT_EQ(missing, "");
    EXPECT_EQ(f.sources.calls.size(), 2u);
}

TEST(SourceTokens, ErrorTextsAndPartlessTextsAreRejected) {
    for (const char* answer :
         {"ERROR: Didn't retrieve SD\n", "ERROR: D:(A;;RP;;;WD)", "", "(A;;RP;;;WD)", "GARBAGE"}) {
        Fixture f;
        f.sources.objects["CN=T"] = answer;
        std::string value = "{GETSD}=CN=T";
        f.Apply(value);
        EXPECT_EQ(value, "") << answer;
    }
}

// --- Default descriptors ------------------------------------------------------------

TEST(SourceTokens, DefaultDescriptorOfAClassGetsInheritanceFlags) {
    struct Case {
        const char* value;
        const char* stored;
        const char* expected;
    };
    const Case cases[] = {
        {"{GETDSD}=USER", "D:(A;;RP;;;S-1-1-0)S:(AU;SA;WP;;;S-1-1-0)",
         "D:AI(A;;RP;;;S-1-1-0)S:AI(AU;SA;WP;;;S-1-1-0)"},
        {"{GETPDSD}=USER", "D:(A;;RP;;;S-1-1-0)S:(AU;SA;WP;;;S-1-1-0)",
         "D:PAI(A;;RP;;;S-1-1-0)S:PAI(AU;SA;WP;;;S-1-1-0)"},
        {"{GETDSD}=USER", "O:S-1-5-18D:P(A;;RP;;;S-1-1-0)", "O:S-1-5-18D:P(A;;RP;;;S-1-1-0)"},
        {"{GETDSD}=USER", "", ""},
        {"{GETDSD}=GROUP", "D:(A;;RP;;;S-1-1-0)", ""},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.sources.defaults["USER"] = c.stored;
        std::string value = c.value;
        const auto outcome = f.Apply(value);
        EXPECT_TRUE(outcome.token);
        EXPECT_FALSE(outcome.makeProtected || outcome.makeInherited);
        EXPECT_EQ(value, c.expected) << c.value << " / " << c.stored;
        ASSERT_EQ(f.sources.calls.size(), 1u);
        EXPECT_TRUE(f.sources.calls[0].starts_with(
            "GetDefaultSD|CN=Schema,CN=Configuration,DC=corp,DC=example|"));
    }
}

TEST(SourceTokens, DefaultDescriptorClassFromTheObject) {
    Fixture f;
    f.ctx.objectDn = "CN=Obj,DC=corp,DC=example";
    f.sources.classes[f.ctx.objectDn] = "user";
    f.sources.defaults["user"] = "D:(A;;RP;;;S-1-1-0)";
    std::string value = "{GETPDSD}";
    f.Apply(value);
    EXPECT_EQ(value, "D:PAI(A;;RP;;;S-1-1-0)");

    Fixture unknown;
    unknown.ctx.objectDn = "CN=Obj,DC=corp,DC=example";
    value = "{GETDSD}";
    unknown.Apply(value);
    EXPECT_EQ(value, "");
    EXPECT_EQ(unknown.sources.calls, List{"GetObjectClass|CN=Obj,DC=corp,DC=example"});
}

// --- Template objects ------------------------------------------------------------------

TEST(SourceTokens, TemplateByNameOrDefaultObjects) {
    Fixture named;
    named.ctx.objectDn = "CN=Obj,OU=Lab,DC=child,DC=corp,DC=example";
    named.sources.templates["MYTEMPLATE"] = "D:AI(A;;RP;;;S-1-1-0)";
    std::string value = "{GETTSD}=MYTEMPLATE";
    named.Apply(value);
    EXPECT_EQ(value, "D:AI(A;;RP;;;S-1-1-0)");
    EXPECT_EQ(named.sources.calls, List{"GetTemplateSD|DC=corp,DC=example|subtree|MYTEMPLATE"});

    Fixture fallback;
    fallback.ctx.objectDn = "CN=Obj,OU=Lab,dc=child,DC=corp,DC=example";
    fallback.sources.classes[fallback.ctx.objectDn] = "user";
    fallback.sources.templates["pellix-default"] = "D:AI(A;;WP;;;S-1-1-0)";
    value = "{GETTSD}";
    fallback.Apply(value);
    EXPECT_EQ(value, "D:AI(A;;WP;;;S-1-1-0)");
    EXPECT_EQ(fallback.sources.calls,
              (List{"GetObjectClass|CN=Obj,OU=Lab,dc=child,DC=corp,DC=example",
                    "GetTemplateSD|dc=child,DC=corp,DC=example|subtree|pellix-default-user",
                    "GetTemplateSD|dc=child,DC=corp,DC=example|subtree|pellix-default"}));

    Fixture perClass;
    perClass.ctx.objectDn = "CN=Obj,DC=corp,DC=example";
    perClass.sources.classes[perClass.ctx.objectDn] = "user";
    perClass.sources.templates["pellix-default-user"] = "D:AI(A;;CC;;;S-1-1-0)";
    perClass.sources.templates["pellix-default"] = "D:AI(A;;WP;;;S-1-1-0)";
    value = "{GETTSD}";
    perClass.Apply(value);
    EXPECT_EQ(value, "D:AI(A;;CC;;;S-1-1-0)");

    Fixture nothing;
    value = "{GETTSD}";
    nothing.Apply(value);
    EXPECT_EQ(value, "");
    EXPECT_EQ(nothing.sources.calls,
              List{"GetTemplateSD|DC=corp,DC=example|subtree|pellix-default"});
}

TEST(SourceTokens, NoSourcesYieldNothing) {
    for (const char* token :
         {"{GETSD}=CN=X", "{GETPSD}", "{GETDSD}=USER", "{GETPDSD}", "{GETTSD}", "{GETTSD}=T"}) {
        Fixture f;
        f.ctx.sources = nullptr;
        f.ctx.objectDn = "CN=Obj,DC=corp,DC=example";
        std::string value = token;
        EXPECT_TRUE(f.Apply(value).token) << token;
        EXPECT_EQ(value, "") << token;
    }
}

TEST(SourceTokens, OnlyALeadingTokenCounts) {
    for (const char* text : {"D:(A;;RP;;;WD){GETSD}=CN=X", " {GETSD}=CN=X", "{GETSD", "{GETXSD}=X",
                             "", "{GETSD }=CN=X"}) {
        Fixture f;
        std::string value = text;
        EXPECT_FALSE(f.Apply(value).token) << text;
        EXPECT_EQ(value, text);
        EXPECT_TRUE(f.sources.calls.empty()) << text;
    }
}

// --- Through the pipeline ---------------------------------------------------------------

TEST(SourceTokens, PipelineStartsFromTheFetchedDescriptor) {
    struct Case {
        const char* name;
        const char* stored;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"protected copy with changes", "O:S-1-5-18D:AI(A;;WP;;;S-1-1-0)(A;ID;CC;;;S-1-1-0)",
         "{GETPSD}=CN=T{+D=(A;;RP;;;S-1-1-0)}",
         "O:S-1-5-18D:PAI(A;;RP;;;S-1-1-0)(A;;WP;;;S-1-1-0)"},
        {"protected stays protected once", "D:PAI(A;;WP;;;S-1-1-0)",
         "{GETPSD}=CN=T{+D=(A;;RP;;;S-1-1-0)}", "D:PAI(A;;RP;;;S-1-1-0)(A;;WP;;;S-1-1-0)"},
        {"inherited copy", "D:PAI(A;;WP;;;S-1-1-0)",
         "{GETISD}=CN=T{-D=(A;;CC;;;S-1-1-0)}{+D=(A;;RP;;;S-1-1-0)}",
         "D:AI(A;;RP;;;S-1-1-0)(A;;WP;;;S-1-1-0)"},
        {"plain copy untouched", "O:S-1-5-18D:AI(A;;WP;;;S-1-1-0)(A;ID;CC;;;S-1-1-0)",
         "{GETSD}=CN=T", "O:S-1-5-18D:AI(A;;WP;;;S-1-1-0)(A;ID;CC;;;S-1-1-0)"},
        {"flags from a protected copy without changes", "D:AI(A;;WP;;;S-1-1-0)", "{GETPSD}=CN=T",
         "D:AI(A;;WP;;;S-1-1-0)"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.sources.objects["CN=T"] = c.stored;
        const CSDDL sd(c.value, "", f.ctx);
        EXPECT_EQ(sd.SDDL(), c.expected) << c.name;
    }
}

TEST(SourceTokens, PipelineFailuresBecomeTheInvalidDescriptor) {
    for (const char* value : {"{GETSD}=CN=MISSING", "{GETSD}", "{GETSD}=", "{GETTSD}",
                              "{GETDSD}=NOSUCHCLASS", "{GETSD}=CN=MISSING{+D=(A;;RP;;;S-1-1-0)}"}) {
        Fixture f;
        const CSDDL sd(value, "", f.ctx);
        EXPECT_NE(sd.SDDL().find(kInvalid), std::string::npos) << value << " -> " << sd.SDDL();
        EXPECT_TRUE(sd.SDDL().starts_with("D:AI(")) << value;
        EXPECT_TRUE(sd.DACLSpecified()) << value;
    }
}

TEST(SourceTokens, PipelineReadsTheObjectNamedByDnPlaceholder) {
    Fixture f;
    f.ctx.objectDn = "CN=Obj,DC=corp,DC=example";
    f.sources.objects[f.ctx.objectDn] = "O:S-1-5-18";
    const CSDDL sd("{getsd}={{*dn*}}", "", f.ctx);
    EXPECT_EQ(sd.SDDL(), "O:S-1-5-18");
    EXPECT_EQ(f.sources.calls, List{"GetSD|CN=Obj,DC=corp,DC=example|15|nTSecurityDescriptor"});

    // Without an object the placeholder stays and the read fails.
    Fixture none;
    const CSDDL missing("{GETSD}={{*DN*}}", "", none.ctx);
    EXPECT_EQ(none.sources.calls, List{"GetSD|{{*DN*}}|15|nTSecurityDescriptor"});
    EXPECT_NE(missing.SDDL().find(kInvalid), std::string::npos);
}

} // namespace
