#include "Diag.h"
#include "pellixstrings.h"
#include "tokenizer_cases.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

// Captures what the module hands to the diagnostic sink and restores the
// default settings afterwards.
class DiagCapture {
  public:
    DiagCapture(bool debug, bool trace) {
        auto& s = diag::Get();
        s.debug = debug;
        s.trace = trace;
        s.out = [this](std::string_view t) { out.append(t); };
        s.err = [this](std::string_view t) { err.append(t); };
    }
    ~DiagCapture() { diag::Get() = diag::Settings{}; }
    DiagCapture(const DiagCapture&) = delete;
    DiagCapture& operator=(const DiagCapture&) = delete;
    std::string out;
    std::string err;
};

// Parameterised cases show their name instead of a byte dump.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

using Bytes = std::vector<std::uint8_t>;

// --- GetTokens ----------------------------------------------------------------

class GetTokensTest : public ::testing::TestWithParam<TokenizerCase> {};

TEST_P(GetTokensTest, SplitsAsSpecified) {
    const TokenizerCase& c = GetParam();
    TokenVector v = c.before;
    EXPECT_EQ(GetTokens(c.text, c.delim, v, c.maxSplits), c.result);
    EXPECT_EQ(v, c.after);
}

INSTANTIATE_TEST_SUITE_P(pellixstrings, GetTokensTest, ::testing::ValuesIn(kTokenizerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- GetXTokens ---------------------------------------------------------------

struct XTokensCase {
    const char* name;
    std::string text;
    std::string delim;
    std::size_t count;
    TokenVector before;
    TokenVector after;
};

class GetXTokensTest : public ::testing::TestWithParam<XTokensCase> {};

TEST_P(GetXTokensTest, GivesExactlyCountPieces) {
    const XTokensCase& c = GetParam();
    TokenVector v = c.before;
    EXPECT_EQ(GetXTokens(c.text, c.delim, v, c.count), c.count);
    EXPECT_EQ(v, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, GetXTokensTest,
    ::testing::Values(
        XTokensCase{
            "LdapUrlPadsTrailingPiece", "LDAP://host", "/", 4, {}, {"LDAP:", "", "host", ""}},
        XTokensCase{"RestStaysInLastPiece", "a:b:c:d", ":", 2, {}, {"a", "b:c:d"}},
        XTokensCase{"CountOneKeepsWholeText", "a:b", ":", 1, {}, {"a:b"}},
        XTokensCase{"EmptyTextGivesEmptyPieces", "", ":", 3, {}, {"", "", ""}},
        XTokensCase{"ShortTextPadded", "a", ":", 3, {}, {"a", "", ""}},
        XTokensCase{"TrailingDelimiterPadded", "attr:op:", ":", 3, {}, {"attr", "op", ""}},
        XTokensCase{
            "PriorElementsFoldedIntoLastKept", "a:b:c", ":", 3, {"p", "q"}, {"p", "q", "a:b:c"}},
        XTokensCase{"PriorElementsCountTowardsCount", "a", ":", 3, {"p"}, {"p", "a", ""}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- GetTokensQuoted ----------------------------------------------------------

struct QuotedCase {
    const char* name;
    std::string text;
    std::string delim;
    TokenVector after;
};

class GetTokensQuotedTest : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(GetTokensQuotedTest, SplitsOutsideQuotes) {
    const QuotedCase& c = GetParam();
    TokenVector v;
    EXPECT_EQ(GetTokensQuoted(c.text, c.delim, v), c.after.size());
    EXPECT_EQ(v, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, GetTokensQuotedTest,
    ::testing::Values(QuotedCase{"QuotedDelimiterKept", "a,\"b,c\",d", ",", {"a", "\"b,c\"", "d"}},
                      QuotedCase{"EmptyPieceBetween", "a,,b", ",", {"a", "", "b"}},
                      QuotedCase{"LeadingDelimiter", ",a", ",", {"", "a"}},
                      QuotedCase{"TrailingDelimiterDropsEmptyPiece", "a,", ",", {"a"}},
                      QuotedCase{"UnclosedQuoteRunsToEnd", "a,\"b,c", ",", {"a", "\"b,c"}},
                      QuotedCase{"QuotesInsidePiece", "x\"y;z\"w;v", ";", {"x\"y;z\"w", "v"}},
                      QuotedCase{"OnlyFirstDelimiterCharacterSplits", "a;b:c", ";:", {"a", "b:c"}},
                      QuotedCase{"EmptyText", "", ",", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pellixstrings, GetTokensQuotedAppendsToGivenVector) {
    TokenVector v{"x"};
    EXPECT_EQ(GetTokensQuoted("a,b", ",", v), 3u);
    EXPECT_EQ(v, (TokenVector{"x", "a", "b"}));
}

// --- Sized tokens ---------------------------------------------------------------

TEST(pellixstrings, GetSizedTokensCutsFixedWidthWithShortRemainder) {
    TokenVector v;
    EXPECT_EQ(GetSizedTokens("RPWPC", 2, v), 3u);
    EXPECT_EQ(v, (TokenVector{"RP", "WP", "C"}));
    TokenVector empty;
    EXPECT_EQ(GetSizedTokens("", 2, empty), 0u);
    EXPECT_TRUE(empty.empty());
}

struct CmpSizedCase {
    const char* name;
    std::string a;
    std::string b;
    std::size_t size;
    bool ignoreCase;
    bool equal;
};

class CmpSizedTokensTest : public ::testing::TestWithParam<CmpSizedCase> {};

TEST_P(CmpSizedTokensTest, ComparesPiecesInAnyOrder) {
    const CmpSizedCase& c = GetParam();
    EXPECT_EQ(CmpSizedTokens(c.a, c.b, c.size, c.ignoreCase), c.equal);
    EXPECT_EQ(CmpSizedTokens(c.b, c.a, c.size, c.ignoreCase), c.equal);
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, CmpSizedTokensTest,
    ::testing::Values(CmpSizedCase{"ReorderedRights", "RPWP", "WPRP", 2, false, true},
                      CmpSizedCase{"ExtraRight", "RPWP", "RPWPCC", 2, false, false},
                      CmpSizedCase{"SameCharactersDifferentPieces", "ABCD", "BADC", 2, false,
                                   false},
                      CmpSizedCase{"RepeatedPieceIsNotAnother", "RPRP", "RPWP", 2, false, false},
                      CmpSizedCase{"CaseMattersWithoutFlag", "rpwp", "WPRP", 2, false, false},
                      CmpSizedCase{"CaseIgnoredWithFlag", "rpwp", "WPRP", 2, true, true},
                      CmpSizedCase{"BothEmpty", "", "", 2, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Replacement ----------------------------------------------------------------

struct ReplaceCase {
    const char* name;
    std::string text;
    std::string find;
    std::string replacement;
    bool ignoreCase;
    std::string expected;
};

const std::string kLongX(1100, 'x');

class StrReplaceAllTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(StrReplaceAllTest, ReplacesEveryOccurrence) {
    const ReplaceCase& c = GetParam();
    EXPECT_EQ(StrReplaceAll(c.text, c.find, c.replacement, c.ignoreCase), c.expected);
    if (!c.ignoreCase) {
        std::string inPlace = c.text;
        StrReplaceAllEx(inPlace, c.find, c.replacement);
        EXPECT_EQ(inPlace, c.expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, StrReplaceAllTest,
    ::testing::Values(
        ReplaceCase{"InsertedTextNotSearchedAgain", "aaa", "a", "aa", false, "aaaaaa"},
        ReplaceCase{"ShrinkingReplacement", "a--b--c", "--", "-", false, "a-b-c"},
        ReplaceCase{"ReplacementWithFindInsideTerminates", "ab", "a", "xa", false, "xab"},
        ReplaceCase{"EmptyFindLeavesText", "abc", "", "x", false, "abc"},
        ReplaceCase{"EmptyTextStaysEmpty", "", "a", "x", false, ""},
        ReplaceCase{"NoOccurrenceLeavesText", "abc", "z", "x", false, "abc"},
        ReplaceCase{"ExactCaseSkipsOtherCase", "Abc abc", "abc", "x", false, "Abc x"},
        ReplaceCase{"IgnoreCaseReplacesAllCases", "Abc ABC abc", "aBc", "x", true, "x x x"},
        ReplaceCase{"IgnoreCaseKeepsUntouchedTextCase", "XaY", "a", "b", true, "XbY"},
        ReplaceCase{"IgnoreCaseInsertedTextNotSearched", "AA", "a", "aA", true, "aAaA"},
        ReplaceCase{"LongTextDoubling", std::string(1500, 'a'), "a", "aa", false,
                    std::string(3000, 'a')},
        ReplaceCase{"LongTextExactCaseEvenWithFlag", kLongX + "ABC abc", "abc", "z", true,
                    kLongX + "ABC z"},
        ReplaceCase{"At1024CharactersIgnoreCaseStillApplies", std::string(1021, 'x') + "ABC", "abc",
                    "z", true, std::string(1021, 'x') + "z"},
        ReplaceCase{"At1025CharactersLongPath", std::string(1022, 'x') + "ABC", "abc", "z", true,
                    std::string(1022, 'x') + "ABC"},
        ReplaceCase{"LongTextPiecesAroundMatches", "<" + kLongX + ">", "x", "", false, "<>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pellixstrings, StrReplaceAllLargestringArgumentOrderIsFindReplacementText) {
    EXPECT_EQ(StrReplaceAll_largestring("b", "c", "abab"), "acac");
    std::string s = "abab";
    StrReplaceAllEx_largestring(s, "b", "c");
    EXPECT_EQ(s, "acac");
}

TEST(pellixstrings, StrReplaceFirstReplacesFirstMatchInOriginalText) {
    EXPECT_EQ(StrReplaceFirst("xABCabc", "abc", "Z", true), "xZabc");
    EXPECT_EQ(StrReplaceFirst("xABCabc", "abc", "Z", false), "xABCZ");
    EXPECT_EQ(StrReplaceFirst("xyz", "abc", "Z", true), "xyz");
    EXPECT_EQ(StrReplaceFirst("xyz", "", "Z", false), "xyz");
    std::string s = "a.b.c";
    StrReplaceFirstInPlace(s, ".", "::");
    EXPECT_EQ(s, "a::b.c");
}

TEST(pellixstrings, CaseHelpersOnlyAsciiLettersChange) {
    EXPECT_EQ(StrToLower("AbC-\xC3\x84Z"), "abc-\xC3\x84z");
    EXPECT_EQ(StrToUpper("aBc-\xC3\xA4z"), "ABC-\xC3\xA4Z");
    EXPECT_TRUE(IEquals("objectClass", "OBJECTCLASS"));
    EXPECT_FALSE(IEquals("objectClass", "objectClas"));
    EXPECT_TRUE(IStartsWith("SD##x", "sd##"));
    EXPECT_FALSE(IStartsWith("S", "sd##"));
    EXPECT_TRUE(IContains("xxDelta##", "delta"));
}

// --- Hex and numbers ------------------------------------------------------------

struct HexCase {
    const char* name;
    std::string hex;
    bool pairSwap;
    Bytes expected;
};

class HexStrToBinTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexStrToBinTest, Converts) {
    const HexCase& c = GetParam();
    EXPECT_EQ(HexStrToBin(c.hex, c.pairSwap), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, HexStrToBinTest,
    ::testing::Values(
        HexCase{"Plain", "414243", false, {0x41, 0x42, 0x43}},
        HexCase{"MixedCase", "aBfF", false, {0xAB, 0xFF}},
        HexCase{"OddLengthConvertsNothing", "abc", false, {}},
        HexCase{"SingleDigitConvertsNothing", "a", false, {}},
        HexCase{"EmptyConvertsNothing", "", false, {}},
        HexCase{"PairSwapSwapsByteOrder", "41004200", true, {0x00, 0x41, 0x00, 0x42}},
        HexCase{"PairSwapUtf16BigEndianToLittle", "00410042", true, {0x41, 0x00, 0x42, 0x00}},
        HexCase{"PairSwapNeedsWholeGroups", "410042", true, {}},
        HexCase{"PairSwapEmpty", "", true, {}},
        HexCase{"PairThatDoesNotScanIsZero", "zz41", false, {0x00, 0x41}},
        HexCase{"LeadingDigitAloneIsItsValue", "4z", false, {0x04}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pellixstrings, HexStrToBinTraceShowsInputAndSize) {
    DiagCapture cap(true, true);
    (void)HexStrToBin("4142", false);
    EXPECT_NE(cap.out.find("DEBUG: Converting 4142 to binary... (4)\n"), std::string::npos);
    EXPECT_NE(cap.out.find("DEBUG: Size = 2\n"), std::string::npos);
}

TEST(pellixstrings, HexStrToBinNothingShownBelowTrace) {
    DiagCapture cap(true, false);
    (void)HexStrToBin("4142", false);
    EXPECT_EQ(cap.out, "");
}

struct NumberCase {
    std::string actual;
    std::string expected;
};

TEST(pellixstrings, NumberTextFormatsAsSpecified) {
    const NumberCase cases[] = {
        {HexStr("08", 0x1F), "0x0000001F"},
        {HexStr("", 0xABCDEF), "0xABCDEF"},
        {HexStr("4", 0xA), "0x   A"},
        {HexStr("08", 0xFFFFFFFFu), "0xFFFFFFFF"},
        {HexStr("#-12.10", 0xBEEF), "0x0X000000BEEF"},
        {HexStr("032", 0x1), "0x" + std::string(31, '0') + "1"},
        {HexStr("33", 0x1), "0x1"},         // above the field cap: no width
        {HexStr("2147483648", 0x2), "0x2"}, // would overflow printf's int
        {HexStr("08x%n", 0x3), "0x3"},      // not a width
        {ultostr(255, 16), "ff"},
        {ultostr(0), "0"},
        {ultostr(4294967295u), "4294967295"},
        {ultostr(5, 2), "101"},
        {ultostr(35, 36), "z"},
        {ltostr(-5), "-5"},
        {ltostr(0), "0"},
        {ltostr(INT32_MIN), "-2147483648"},
        {ltostr(INT32_MAX), "2147483647"},
        {BoolToStr(true), "TRUE"},
        {BoolToStr(false), "FALSE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}

// --- Other helpers --------------------------------------------------------------

TEST(pellixstrings, StripQuotesRemovesOnlyEnclosingPair) {
    const NumberCase cases[] = {
        {StripQuotes("\"cn=x,dc=y\""), "cn=x,dc=y"},
        {StripQuotes("\"cn=x"), "\"cn=x"},
        {StripQuotes("cn=x\""), "cn=x\""},
        {StripQuotes("\""), "\""},
        {StripQuotes("\"\""), ""},
        {StripQuotes("\"\"a\"\""), "\"a\""},
        {StripQuotes("'a'", '\''), "a"},
        {StripQuotes("\"a\"", '\''), "\"a\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}

TEST(pellixstrings, EscapeValueQuotesEscapesUnescapedQuotesAfterFirstEquals) {
    const NumberCase cases[] = {
        {EscapeValueQuotes("cn=\"x\""), "cn=\\\"x\\\""},
        {EscapeValueQuotes("a=\"\""), "a=\\\"\\\""},
        {EscapeValueQuotes("a=\\\"b"), "a=\\\"b"},
        {EscapeValueQuotes("a\"b=c\""), "a\"b=c\\\""},
        {EscapeValueQuotes("a=b=\"c"), "a=b=\\\"c"},
        {EscapeValueQuotes("\"a\""), "\"a\\\""},
        {EscapeValueQuotes("plain"), "plain"},
        {EscapeValueQuotes(""), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}

TEST(pellixstrings, JoinTokensJoinsWithDelimiter) {
    EXPECT_EQ(JoinTokens(",", {}), "");
    EXPECT_EQ(JoinTokens(",", {"a"}), "a");
    EXPECT_EQ(JoinTokens(", ", {"a", "", "b"}), "a, , b");
    TokenVector v;
    GetTokens("a;;b", ";", v);
    EXPECT_EQ(JoinTokens(";", v), "a;;b");
}

TEST(pellixstrings, TrimWhiteTrimsBothEnds) {
    EXPECT_EQ(TrimWhite(" \t a b \r\n"), "a b");
    EXPECT_EQ(TrimWhite(" \t"), "");
    EXPECT_EQ(TrimWhite("x"), "x");
}

TEST(pellixstrings, ArgvToVectorAppendsUntilNull) {
    const char* list[] = {"a", "", "b", nullptr};
    TokenVector v{"x"};
    EXPECT_EQ(ArgvToVector(list, v), 4u);
    EXPECT_EQ(v, (TokenVector{"x", "a", "", "b"}));
    EXPECT_EQ(ArgvToVector(nullptr, v), 4u);
}

// --- Console input --------------------------------------------------------------

struct SecretCase {
    const char* name;
    std::vector<int> keys;
    bool result;
    std::string value;
    std::string echo; // after the prompt
};

class ReadSecretTest : public ::testing::TestWithParam<SecretCase> {};

TEST_P(ReadSecretTest, EchoesToStandardErrorOnly) {
    const SecretCase& c = GetParam();
    DiagCapture cap(true, false);
    std::size_t next = 0;
    auto reader = [&]() { return next < c.keys.size() ? c.keys[next++] : 27; };
    std::string value = "stale";
    EXPECT_EQ(ReadSecret("Enter Password: ", value, reader), c.result);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(cap.err, "Enter Password: " + c.echo);
    EXPECT_EQ(cap.out, "");
    EXPECT_EQ(next, c.keys.size());
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, ReadSecretTest,
    ::testing::Values(SecretCase{"EnterAccepts", {'p', 'w', 13}, true, "pw", "..\n"},
                      SecretCase{"EnterOnEmptyInput", {13}, true, "", "\n"},
                      SecretCase{"EscCancelsKeepingTypedText", {'a', 27}, false, "a", ".\n"},
                      SecretCase{"CtrlCCancels", {'a', 3}, false, "a", ".\n"},
                      SecretCase{
                          "BackspaceRemovesLast", {'a', 'b', 8, 'c', 13}, true, "ac", "..\b \b.\n"},
                      SecretCase{"BackspaceOnNothingRings", {8, 'a', 13}, true, "a", "\a.\n"},
                      SecretCase{"NonPrintableRings", {1, '\t', 'x', 13}, true, "x", "\a\a.\n"},
                      SecretCase{"SpaceIsPrintable", {' ', 13}, true, " ", ".\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Random text ----------------------------------------------------------------

bool AllFrom(const std::string& s, std::string_view set) {
    return s.find_first_not_of(set) == std::string::npos;
}

constexpr std::string_view kPwUpper = "ABCDEFGHJKLMNPQRTUVWXYZ";
constexpr std::string_view kPwLower = "abcdefghjkmnpqrtuvwxyz";
constexpr std::string_view kPwDigit = "0123456789";
constexpr std::string_view kPwSpecial = "#%_-=+:;{}[],.?~";

void ExpectDefaultAlphabet(const std::string& s) {
    ASSERT_GE(s.size(), 4u);
    EXPECT_NE(kPwUpper.find(s[0]), std::string_view::npos) << s;
    EXPECT_NE(kPwLower.find(s[1]), std::string_view::npos) << s;
    EXPECT_NE(kPwDigit.find(s[2]), std::string_view::npos) << s;
    EXPECT_NE(kPwSpecial.find(s[3]), std::string_view::npos) << s;
    const std::string all = std::string(kPwUpper) + std::string(kPwLower) + std::string(kPwDigit) +
                            std::string(kPwSpecial);
    EXPECT_TRUE(AllFrom(s, all)) << s;
}

TEST(pellixstrings, RandomStringDefaultsGive15To24CharactersOfTheDefaultAlphabet) {
    std::set<std::size_t> lengths;
    for (int i = 0; i < 300; ++i) {
        const std::string s = RandomString(0, 0, "");
        lengths.insert(s.size());
        ExpectDefaultAlphabet(s);
    }
    EXPECT_EQ(*lengths.begin(), 15u);
    EXPECT_EQ(*lengths.rbegin(), 24u);
}

struct RandomCase {
    const char* name;
    unsigned minLen;
    unsigned maxLen;
    std::string chars;
    std::size_t shortest;
    std::size_t longest;
    std::string allowed; // empty: default alphabet with the first-four rule
};

class RandomStringTest : public ::testing::TestWithParam<RandomCase> {};

TEST_P(RandomStringTest, LengthAndCharacters) {
    const RandomCase& c = GetParam();
    for (int i = 0; i < 50; ++i) {
        const std::string s = RandomString(c.minLen, c.maxLen, c.chars);
        EXPECT_GE(s.size(), c.shortest);
        EXPECT_LE(s.size(), c.longest);
        if (c.allowed.empty()) {
            ExpectDefaultAlphabet(s);
        } else {
            EXPECT_TRUE(AllFrom(s, c.allowed)) << s;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    pellixstrings, RandomStringTest,
    ::testing::Values(
        RandomCase{"EightDigits", 8, 8, "__num", 8, 8, "0123456789"},
        RandomCase{"KeywordsAreCaseInsensitive", 5, 9, "UC__NUM", 5, 8,
                   "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"},
        RandomCase{"HexKeyword", 32, 32, "__hex", 32, 32, "0123456789ABCDEF"},
        RandomCase{"SpecialKeyword", 10, 10, "__spec", 10, 10, "!@#$%*_-=+:;{}[],.?|~"},
        RandomCase{"LowerCaseKeyword", 10, 10, "lc__", 10, 10, "abcdefghijklmnopqrstuvwxyz"},
        RandomCase{"UnknownKeywordsFallBackToDefault", 10, 10, "__bogus", 10, 10, ""},
        RandomCase{"PlainCharacterSet", 6, 6, "ab", 6, 6, "ab"},
        RandomCase{"MaxDefaultsTo25", 20, 0, "x", 20, 24, "x"},
        RandomCase{"MinAboveMaxUsesMin", 12, 5, "x", 12, 12, "x"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(pellixstrings, RandomStringShortDefaultTextKeepsClassOrder) {
    for (int i = 0; i < 20; ++i) {
        const std::string s = RandomString(2, 2, "");
        ASSERT_EQ(s.size(), 2u);
        EXPECT_NE(kPwUpper.find(s[0]), std::string_view::npos);
        EXPECT_NE(kPwLower.find(s[1]), std::string_view::npos);
    }
}

TEST(pellixstrings, RandomStringDebugLinesOnlyWithDebug) {
    {
        DiagCapture cap(false, false);
        (void)RandomString(8, 8, "__num");
        EXPECT_EQ(cap.out, "");
    }
    DiagCapture cap(true, false);
    (void)RandomString(8, 8, "__num");
    EXPECT_EQ(cap.out, "DEBUG: min=8\nDEBUG: max=8\nDEBUG: chars=__num\n"
                       "DEBUG: Random Character Set: [0123456789]\n");
}

} // namespace
