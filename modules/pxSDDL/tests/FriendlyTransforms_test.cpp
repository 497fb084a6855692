#include "CSDDL.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace pxsddl;

constexpr const char* kMemberGuid = "bf9679c0-0de6-11d0-a285-00aa003049e2";
constexpr const char* kGroupGuid = "bf967a9c-0de6-11d0-a285-00aa003049e2";
constexpr const char* kFullControl = "CCDCLCSWRPWPDTLOCRSDRCWDWO";

class FakeGuids : public SchemaGuidLookup {
  public:
    std::optional<std::string> GuidForName(std::string_view name) override {
        asked.emplace_back(name);
        const auto it = table.find(std::string(name));
        if (it == table.end()) return std::nullopt;
        return it->second;
    }
    std::map<std::string, std::string> table{{"member", kMemberGuid}, {"group", kGroupGuid}};
    std::vector<std::string> asked;
};

// Resolves the wrappers of the names it knows; others become a text the
// conversion rejects, as the program's resolver does.
class FakePrincipals : public PrincipalResolver {
  public:
    std::string ResolveSidWrappers(std::string_view text) override {
        std::string out(text);
        for (const char* open : {"{{SID:", "{{LDSSID:"}) {
            std::size_t pos;
            while ((pos = out.find(open)) != std::string::npos) {
                const std::size_t nameAt = pos + std::string_view(open).size();
                const std::size_t close = out.find("}}", nameAt);
                if (close == std::string::npos) break;
                const std::string name = out.substr(nameAt, close - nameAt);
                const auto it = names.find(name);
                const std::string sid =
                    it == names.end() ? "***UNRESOLVED " + name + "***" : it->second;
                out.replace(pos, close + 2 - pos, sid);
            }
        }
        resolved.push_back(out);
        return out;
    }
    std::string DefaultNamingContextSid() override {
        ++ncSidReads;
        return ncSid;
    }
    std::map<std::string, std::string> names{{"EVERYONE", "S-1-1-0"},
                                             {"LAB\\DOMAIN ADMINS", "S-1-5-21-1-2-3-512"}};
    std::string ncSid;
    int ncSidReads = 0;
    std::vector<std::string> resolved;
};

struct TextCase {
    const char* in;
    const char* out;
};

// --- Header --------------------------------------------------------------------

TEST(FriendlyHeader, EachWordBecomesItsCode) {
    const TextCase cases[] = {
        {"[OWNER] BA", "O:BA"},
        {"[GROUP] SY", "G:SY"},
        {"[DACL] (A;;RP;;;WD)", "D:(A;;RP;;;WD)"},
        {"[SACL] (AU;SA;WP;;;WD)", "S:(AU;SA;WP;;;WD)"},
        {"[DACL] (FLAGS:INHERIT)(A;;RP;;;WD)", "D:AI(A;;RP;;;WD)"},
        {"[DACL] (FLAGS:PROTECTED INHERIT)(A;;RP;;;WD)", "D:PAI(A;;RP;;;WD)"},
        {"[DACL] (FLAGS:INHERIT REQ)(A;;RP;;;WD)", "D:AR(A;;RP;;;WD)"},
        {"[DACL] (FLAGS:PROTECTED)(A;;RP;;;WD)", "D:P(A;;RP;;;WD)"},
        {"[OWNER] BA[GROUP] SY[DACL] (FLAGS:PROTECTED)[SACL] (FLAGS:INHERIT)", "O:BAG:SYD:PS:AI"},
        // Already proper text passes unchanged.
        {"O:BAG:SYD:PAI(A;;RP;;;WD)", "O:BAG:SYD:PAI(A;;RP;;;WD)"},
        // Without the blank the word is not a header word.
        {"[DACL](A;;RP;;;WD)", "[DACL](A;;RP;;;WD)"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLHeaderToProper(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

// --- ACE fields ------------------------------------------------------------------

TEST(FriendlyAceFields, TypeWords) {
    const TextCase cases[] = {
        {"ALLOW", "A"},
        {"DENY", "D"},
        {"AUDIT", "AU"},
        {"ALARM", "AL"},
        {"OBJ ALLOW", "OA"},
        {"OBJ DENY", "OD"},
        {"OBJ AUDIT", "OU"},
        {"OBJ ALARM", "OL"},
        {"[DACL] ALLOW", "A"},
        {"[DACL]OBJ DENY", "OD"},
        {"[SACL] OBJ AUDIT", "OU"},
        {"[SACL] AU", "AU"},
        {"[DACL]", ""},
        // Codes and unknown words are left for the conversion to judge.
        {"OA", "OA"},
        {"A", "A"},
        {"ZZ", "ZZ"},
        {"XALLOW", "XALLOW"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLACETypeToProper(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

TEST(FriendlyAceFields, FlagWords) {
    const TextCase cases[] = {
        {"[CONT INHERIT]", "CI"},
        {"[OBJ INHERIT]", "OI"},
        {"[NO PROPAGATE]", "NP"},
        {"[INHERIT ONLY]", "IO"},
        {"[INHERITED]", "ID"},
        {"[SUCCESS]", "SA"},
        {"[FAILURE]", "FA"},
        {"[OBJ INHERIT][CONT INHERIT][INHERIT ONLY]", "OICIIO"},
        {"CI[INHERITED]", "CIID"},
        {"[SUCCESS][FAILURE]", "SAFA"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLACEFlagsToProper(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

struct RightsCase {
    const char* in;
    bool keepGeneric;
    const char* out;
};

TEST(FriendlyAceFields, RightWords) {
    const std::string ga = kFullControl;
    const RightsCase cases[] = {
        {"[READ PERMS]", false, "RC"},
        {"[DEL]", false, "SD"},
        {"[WRT PERMS]", false, "WD"},
        {"[WRT OWNER]", false, "WO"},
        {"[READ PROP]", false, "RP"},
        {"[WRT PROP]", false, "WP"},
        {"[CR CHILD]", false, "CC"},
        {"[DEL CHILD]", false, "DC"},
        {"[LIST CHILDREN]", false, "LC"},
        {"[SELF WRT]", false, "SW"},
        {"[LIST OBJ]", false, "LO"},
        {"[DEL TREE]", false, "DT"},
        {"[CTL]", false, "CR"},
        {"[READ PROP][WRT PROP]", false, "RPWP"},
        // Generic words and codes.
        {"[FC]", true, "GA"},
        {"[GEN READ]", true, "GR"},
        {"[GEN WRT]", true, "GW"},
        {"[GEN EXE]", true, "GX"},
        {"GA", true, "GA"},
        {"[FC]", false, kFullControl},
        {"GA", false, kFullControl},
        {"GR", false, "LCLORCRP"},
        {"GW", false, "RCSWWP"},
        {"GX", false, "LCRC"},
        {"[GEN READ][GEN WRT]", false, "LCLORCRPRCSWWP"},
        {"CRGX", false, "CRLCRC"},
        {"[DEL]GR", false, "SDLCLORCRP"},
        {"GR[DEL]", false, "LCLORCRPSD"},
        // Letters that only look like a generic code across two codes.
        {"RGAX", false, "RGAX"},
        {"CGAR", false, "CGAR"},
        // Masks written as numbers.
        {"0X10000000", false, "0X10000000"},
        {"983551", false, "983551"},
        {"***INVALID_ACCESSMASK (0X400000)***", false, "0X400000"},
        {"***INVALID_ACCESSMASK (0XGAGA)***", false, "0XGAGA"},
        {"***INVALID_ACCESSMASK (0X400000)", false, "***INVALID_ACCESSMASK (0X400000)"},
        // Broken words stay as written.
        {"[READ", false, "[READ"},
        {"G", false, "G"},
        {"", false, ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLACERightsToProper(s, c.keepGeneric);
        EXPECT_EQ(s, c.out) << c.in << " keepGeneric=" << c.keepGeneric;
    }
}

struct ObjectCase {
    const char* object;
    const char* inherited;
    const char* objectOut;
    const char* inheritedOut;
};

TEST(FriendlyAceFields, ObjectNamesBecomeGuids) {
    FakeGuids guids;
    SddlContext ctx;
    ctx.guids = &guids;
    const ObjectCase cases[] = {
        {"MEMBER", "GROUP", kMemberGuid, kGroupGuid},
        {"{MEMBER}", "", kMemberGuid, ""},
        {"", "{GROUP}", "", kGroupGuid},
        {"*", "GROUP", "*", kGroupGuid},
        {"{BF9679C0-0DE6-11D0-A285-00AA003049E2}", "", kMemberGuid, ""},
        {"BF9679C0-0DE6-11D0-A285-00AA003049E2", "*", kMemberGuid, "*"},
        // Unknown names stay so that the conversion reports them.
        {"NOSUCHATTRIBUTE", "{GROUP}", "NOSUCHATTRIBUTE", kGroupGuid},
        {"{{}}", "", "", ""},
        {"", "", "", ""},
    };
    for (const auto& c : cases) {
        std::string object = c.object;
        std::string inherited = c.inherited;
        TransformSDDLACEObjInhObjToProper(object, inherited, ctx);
        EXPECT_EQ(object, c.objectOut) << c.object << " / " << c.inherited;
        EXPECT_EQ(inherited, c.inheritedOut) << c.object << " / " << c.inherited;
    }
    // The lookup is asked in lower case, and never for GUIDs or "*".
    for (const auto& name : guids.asked) {
        EXPECT_TRUE(name == "member" || name == "group" || name == "nosuchattribute") << name;
    }
}

TEST(FriendlyAceFields, ObjectNamesStayWithoutLookup) {
    SddlContext ctx;
    std::string object = "{MEMBER}";
    std::string inherited = "GROUP";
    TransformSDDLACEObjInhObjToProper(object, inherited, ctx);
    EXPECT_EQ(object, "MEMBER");
    EXPECT_EQ(inherited, "GROUP");
}

// --- Principals ------------------------------------------------------------------

struct PrincipalCase {
    const char* in;
    const char* out;
};

TEST(FriendlyPrincipal, AliasesNamesAndSids) {
    FakePrincipals principals;
    SddlContext ctx;
    ctx.principals = &principals;
    ctx.defaultDomainSid = "S-1-5-21-1-2-3";
    ctx.forestSid = "S-1-5-21-9-9-9";
    const PrincipalCase cases[] = {
        {"*", "*"},
        {"WD", "S-1-1-0"},
        {"AO", "S-1-5-32-548"},
        {"SY", "S-1-5-18"},
        {"DA", "S-1-5-21-1-2-3-512"},
        {"DU", "S-1-5-21-1-2-3-513"},
        {"LA", "S-1-5-21-1-2-3-500"},
        {"EA", "S-1-5-21-9-9-9-519"},
        {"SA", "S-1-5-21-9-9-9-518"},
        {"S-1-5-21-4-5-6-1105", "S-1-5-21-4-5-6-1105"},
        {"QQ", "QQ"},
        {"EVERYONE", "S-1-1-0"},
        {"LAB\\DOMAIN ADMINS", "S-1-5-21-1-2-3-512"},
        {"{{SID:EVERYONE}}", "S-1-1-0"},
        {"NOBODY", "***UNRESOLVED NOBODY***"},
    };
    TransformState state;
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLACESecPrinToProper(s, ctx, state);
        EXPECT_EQ(s, c.out) << c.in;
    }
    EXPECT_FALSE(state.domainSidNeeded);
    EXPECT_EQ(principals.ncSidReads, 1); // chosen once per engine
}

TEST(FriendlyPrincipal, DomainAliasesStayWithoutADomain) {
    FakePrincipals principals; // the naming context SID cannot be read
    SddlContext ctx;
    ctx.principals = &principals;
    const PrincipalCase cases[] = {
        {"DA", "DA"}, {"EA", "EA"}, {"WD", "S-1-1-0"}, {"BA", "S-1-5-32-544"}};
    TransformState state;
    for (const auto& c : cases) {
        std::string s = c.in;
        TransformSDDLACESecPrinToProper(s, ctx, state);
        EXPECT_EQ(s, c.out) << c.in;
    }
    EXPECT_EQ(state.domainSid, "***NONDOMAINJOINED***");
}

TEST(FriendlyPrincipal, NamesWithoutResolverStayWrapped) {
    SddlContext ctx;
    TransformState state;
    std::string s = "LAB\\JSMITH";
    TransformSDDLACESecPrinToProper(s, ctx, state);
    EXPECT_EQ(s, "{{SID:LAB\\JSMITH}}");

    ctx.ldsServer = true;
    s = "CN=READERS,O=APP";
    TransformSDDLACESecPrinToProper(s, ctx, state);
    EXPECT_EQ(s, "{{LDSSID:CN=READERS,O=APP}}");
}

struct DomainChoiceCase {
    const char* name;
    const char* objectDn;
    const char* defaultDomainSid;
    const char* ncSid;
    const char* forestSid;
    const char* da; // what "DA" becomes
    const char* ea; // what "EA" becomes
};

TEST(FriendlyPrincipal, DomainSidChoice) {
    const DomainChoiceCase cases[] = {
        {"object in the child domain", "CN=Joe,OU=Staff,DC=Child,DC=Lab,DC=Local", "S-1-5-21-1-1-1",
         "S-1-5-21-7-7-7", "S-1-5-21-1-1-1", "S-1-5-21-2-2-2-512", "S-1-5-21-1-1-1-519"},
        {"object in the root domain", "CN=Joe,DC=lab,DC=local", "S-1-5-21-2-2-2", "",
         "S-1-5-21-1-1-1", "S-1-5-21-1-1-1-512", "S-1-5-21-1-1-1-519"},
        {"a value that only contains DC= is not a domain component",
         "CN=XDC=child\\,dc=lab\\,dc=local,DC=lab,DC=local", "", "", "", "S-1-5-21-1-1-1-512",
         "S-1-5-21-1-1-1-519"},
        {"object in an unknown domain takes the default", "CN=Joe,DC=other,DC=net",
         "S-1-5-21-3-3-3", "S-1-5-21-7-7-7", "", "S-1-5-21-3-3-3-512", "S-1-5-21-3-3-3-519"},
        {"object DN without default takes the naming context SID", "CN=Joe,DC=other,DC=net", "",
         "S-1-5-21-7-7-7", "", "S-1-5-21-7-7-7-512", "S-1-5-21-7-7-7-519"},
        {"no object DN takes the default", "", "S-1-5-21-3-3-3", "S-1-5-21-7-7-7", "",
         "S-1-5-21-3-3-3-512", "S-1-5-21-3-3-3-519"},
        {"no object DN, no default", "", "", "S-1-5-21-7-7-7", "S-1-5-21-8-8-8",
         "S-1-5-21-7-7-7-512", "S-1-5-21-8-8-8-519"},
        {"nothing known", "CN=Joe,DC=other,DC=net", "", "", "S-1-5-21-8-8-8", "DA",
         "S-1-5-21-8-8-8-519"},
    };
    for (const auto& c : cases) {
        FakePrincipals principals;
        principals.ncSid = c.ncSid;
        SddlContext ctx;
        ctx.principals = &principals;
        ctx.objectDn = c.objectDn;
        ctx.defaultDomainSid = c.defaultDomainSid;
        ctx.forestSid = c.forestSid;
        ctx.domainSids = {{"dc=lab,dc=local", "S-1-5-21-1-1-1"},
                          {"dc=child,dc=lab,dc=local", "S-1-5-21-2-2-2"}};
        TransformState state;
        std::string da = "DA";
        std::string ea = "EA";
        TransformSDDLACESecPrinToProper(da, ctx, state);
        TransformSDDLACESecPrinToProper(ea, ctx, state);
        EXPECT_EQ(da, c.da) << c.name;
        EXPECT_EQ(ea, c.ea) << c.name;
    }
}

// --- Whole ACLs --------------------------------------------------------------------

struct AclCase {
    const char* in;
    bool keepGeneric;
    const char* out;
};

TEST(FriendlyAcl, AcesBecomeProperSddl) {
    FakeGuids guids;
    FakePrincipals principals;
    const std::string fc = kFullControl;
    const std::string member = kMemberGuid;
    const std::string group = kGroupGuid;
    const std::string cases[][3] = {
        {"P(ALLOW;[CONT INHERIT];[READ PROP][WRT PROP];member;group;Everyone)", "",
         "P(OA;CI;RPWP;" + member + ";" + group + ";S-1-1-0)"},
        {"(A;;GA;;;DA)", "", "(A;;" + fc + ";;;S-1-5-21-1-2-3-512)"},
        {"(A;;GA;;;DA)", "keep", "(A;;GA;;;S-1-5-21-1-2-3-512)"},
        {"(OA;;CR;00299570-246d-11d0-a768-00aa006e0529;;WD)", "",
         "(OA;;CR;00299570-246d-11d0-a768-00aa006e0529;;S-1-1-0)"},
        {"(*;*;*;*;*;AO)", "", "(*;*;*;*;*;S-1-5-32-548)"},
        // Types follow an inherited object type, but not "*".
        {"(A;;RP;;GROUP;WD)", "", "(OA;;RP;;" + group + ";S-1-1-0)"},
        {"(DENY;;RP;;{GROUP};WD)", "", "(OD;;RP;;" + group + ";S-1-1-0)"},
        {"(AUDIT;[SUCCESS];RP;;GROUP;WD)", "", "(OU;SA;RP;;" + group + ";S-1-1-0)"},
        {"(ALARM;;RP;;GROUP;WD)", "", "(OL;;RP;;" + group + ";S-1-1-0)"},
        {"(A;;RP;;*;WD)", "", "(A;;RP;;*;S-1-1-0)"},
        {"(OA;;RP;;GROUP;WD)", "", "(OA;;RP;;" + group + ";S-1-1-0)"},
        {"AI(A;ID;RP;;;WD)(D;;SD;;;BA)", "", "AI(A;ID;RP;;;S-1-1-0)(D;;SD;;;S-1-5-32-544)"},
        // Fewer fields: those present are converted, the shape stays.
        {"(ALLOW;[CONT INHERIT])", "", "(A;CI)"},
        {"(ALLOW)", "", "(A)"},
        {"(ALLOW;;[FC];MEMBER)", "", "(A;;" + fc + ";" + member + ")"},
        // No ACEs: unchanged.
        {"P", "", "P"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        SddlContext ctx;
        ctx.guids = &guids;
        ctx.principals = &principals;
        ctx.defaultDomainSid = "S-1-5-21-1-2-3";
        ctx.keepGeneric = c[1] == "keep";
        std::string upper = c[0];
        for (auto& ch : upper)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        TransformState state;
        TransformSDDLACEToProper(upper, ctx, state);
        EXPECT_EQ(upper, c[2]) << c[0];
    }
}

TEST(FriendlyAcl, FriendlyListingRoundTrip) {
    FakeGuids guids;
    FakePrincipals principals;
    SddlContext ctx;
    ctx.guids = &guids;
    ctx.principals = &principals;
    std::string text = "[DACL] (FLAGS:PROTECTED)(ALLOW;[CONT INHERIT];[READ PROP][WRT "
                       "PROP];MEMBER;GROUP;EVERYONE)";
    TransformSDDLHeaderToProper(text);
    ASSERT_EQ(text.substr(0, 2), "D:");
    std::string acl = text.substr(2);
    TransformState state;
    TransformSDDLACEToProper(acl, ctx, state);
    EXPECT_EQ("D:" + acl,
              std::string("D:P(OA;CI;RPWP;") + kMemberGuid + ";" + kGroupGuid + ";S-1-1-0)");
}

TEST(FriendlyAcl, PartsAreTransformedByKind) {
    FakePrincipals principals;
    SddlContext ctx;
    ctx.principals = &principals;
    ctx.defaultDomainSid = "S-1-5-21-1-2-3";
    std::map<std::string, std::string> parts{{"O", "DA"},
                                             {"G", "EVERYONE"},
                                             {"D", "P(ALLOW;;[READ PROP];;;WD)"},
                                             {"S", "(AUDIT;[FAILURE];[WRT PROP];;;AU)"}};
    TransformState state;
    TransformSDDLToProper(parts, ctx, state);
    EXPECT_EQ(parts["O"], "S-1-5-21-1-2-3-512");
    EXPECT_EQ(parts["G"], "S-1-1-0");
    EXPECT_EQ(parts["D"], "P(A;;RP;;;S-1-1-0)");
    EXPECT_EQ(parts["S"], "(AU;FA;WP;;;S-1-5-11)");

    std::map<std::string, std::string> dOnly{{"D", "(ALLOW;;[CTL];;;SY)"}};
    TransformSDDLToProper(dOnly, ctx, state);
    EXPECT_EQ(dOnly.size(), 1u);
    EXPECT_EQ(dOnly["D"], "(A;;CR;;;S-1-5-18)");
}

// Broken ACEs come out with every character that was not transformed, so
// the conversion reports them; nothing is dropped and nothing reads past the
// end of a field.
TEST(FriendlyAcl, HostileAcesAreKeptForTheConversionToReject) {
    FakeGuids guids;
    FakePrincipals principals;
    const TextCase cases[] = {
        {"()", "()"},
        {"()()()", "()()()"},
        {"(;)", "(;)"},
        {"(;;;;;;;;)", "(;;;;;***UNRESOLVED ;;;***)"},
        {"(A;;GA;;;)", "(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;)"},
        {"(A;;GA", "(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO)"},
        {"(((((", "((((()"},
        {")))))(", ")))))("},
        {"P(", "P("},
        {"(A;;[;;;)", "(A;;[;;;)"},
        {"({;};{;};{{}};{{SID:};}})", "({;};{;;;***UNRESOLVED };***)"},
        {"(ALLOW;;GA;{{{{;}}}};;{{SID:)", "(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;;{{SID:)"},
        {"(OBJ ALLOW;[;[;[;[;[)", "(OA;[;[;[;[;***UNRESOLVED [***)"},
        {"(***INVALID_ACCESSMASK (;;)***;;;)", "(***INVALID_ACCESSMASK (;;)***;;;)"},
        {"(A;;***INVALID_ACCESSMASK (;;;)", "(A;;***INVALID_ACCESSMASK (;;;)"},
        {"(A;;***INVALID_ACCESSMASK ()***;;;WD)", "(A;;***INVALID_ACCESSMASK ()***;;;S-1-1-0)"},
        {"([DACL];;;;;WD)", "(;;;;;S-1-1-0)"},
        {"(A;;RP;;;S-)", "(A;;RP;;;S-)"},
        {"(A;;RP;;;{)", "(A;;RP;;;{)"},
    };
    for (const auto& c : cases) {
        SddlContext ctx;
        ctx.guids = &guids;
        ctx.principals = &principals;
        TransformState state;
        std::string acl = c.in;
        TransformSDDLACEToProper(acl, ctx, state);
        EXPECT_EQ(acl, c.out) << c.in;
    }
}

} // namespace
