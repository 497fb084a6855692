// Cases shared by every copy of the basic tokenizer (GetTokens here and
// DSTGetTokens in DSTime): both must split text the same way.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

struct TokenizerCase {
    const char* name;
    std::string text;
    std::string delim;
    std::size_t maxSplits;
    std::vector<std::string> before; // vector contents before the call
    std::vector<std::string> after;  // vector contents after the call
    std::size_t result;
};

inline void PrintTo(const TokenizerCase& c, std::ostream* os) {
    *os << c.name;
}

inline const std::vector<TokenizerCase> kTokenizerCases = {
    {"EmptyPiecesBetweenKeptTrailingDropped", "a;;b;", ";", 0xFFFF, {}, {"a", "", "b"}, 3},
    {"LeadingDelimiterGivesEmptyPiece", ";a", ";", 0xFFFF, {}, {"", "a"}, 2},
    {"EmptyTextAppendsNothing", "", ";", 0xFFFF, {}, {}, 0},
    {"EmptyTextReturnsZeroEvenWithPriorElements", "", ";", 0xFFFF, {"x"}, {"x"}, 0},
    {"SplitLimitKeepsRestWhole", "a:b:c", ":", 1, {}, {"a", "b:c"}, 2},
    {"ZeroSplitsKeepsWholeText", "a:b:c", ":", 0, {}, {"a:b:c"}, 1},
    {"NoDelimiterGivesWholeText", "abc", ",", 0xFFFF, {}, {"abc"}, 1},
    {"DelimiterAloneGivesOneEmptyPiece", ";", ";", 0xFFFF, {}, {""}, 1},
    {"TwoDelimitersGiveTwoEmptyPieces", ";;", ";", 0xFFFF, {}, {"", ""}, 2},
    {"MultiCharacterDelimiter", "a__b____c", "__", 0xFFFF, {}, {"a", "b", "", "c"}, 4},
    {"MultiCharacterDelimiterMatchedLeftToRight", "a:::b", "::", 0xFFFF, {}, {"a", ":b"}, 2},
    {"PartialDelimiterIsText", "a_b", "__", 0xFFFF, {}, {"a_b"}, 1},
    {"AppendsAndCountsPriorElements", "a;b", ";", 0xFFFF, {"x"}, {"x", "a", "b"}, 3},
    {"SplitLimitReachedAtLastDelimiter", "a;b;", ";", 2, {}, {"a", "b"}, 2},
    {"SplitLimitLeavesTrailingDelimiterInRest", "a;b;", ";", 1, {}, {"a", "b;"}, 2},
};
