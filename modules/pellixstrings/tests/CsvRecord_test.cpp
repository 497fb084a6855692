#include "CsvRecord.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CsvLine Parsed(std::string_view text, const CsvSettings& settings = {}) {
    CsvLine line;
    EXPECT_TRUE(ParseCSVLine(text, settings, line)) << text;
    return line;
}

TEST(CsvRecord, KeepsEveryFieldAndValueOfParsedLines) {
    const char* lines[] = {
        "cn=a,one,two", "\"cn=a,dc=x\",\"x,y\",a;b;c", ",,",
        "a;;b,;,\"\"",  "X'0a1b',\\;,\\\\,\\,",        "ünï;cödé,\t tab ,trailing ",
    };
    for (const char* text : lines) {
        const CsvLine line = Parsed(text);
        const CsvRecord record(line);
        ASSERT_EQ(record.size(), line.size()) << text;
        for (std::size_t f = 0; f < line.size(); ++f) {
            ASSERT_EQ(record.ValueCount(f), line[f].size()) << text << " field " << f;
            ASSERT_EQ(record[f].size(), line[f].size()) << text << " field " << f;
            for (std::size_t v = 0; v < line[f].size(); ++v) {
                EXPECT_EQ(record.Value(f, v), line[f][v]) << text << " " << f << "/" << v;
                EXPECT_EQ(record[f][v], line[f][v]) << text << " " << f << "/" << v;
            }
        }
        EXPECT_EQ(record.ToLine(), line) << text;
    }
}

TEST(CsvRecord, EmptyLineHasNoFields) {
    const CsvRecord none;
    EXPECT_EQ(none.size(), 0u);
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.HeapBytes(), 0u);
    EXPECT_EQ(CsvRecord(CsvLine{}).size(), 0u);
    EXPECT_EQ(CsvRecord(CsvLine{{}}).size(), 1u);
    EXPECT_EQ(CsvRecord(CsvLine{{}}).ValueCount(0), 0u);
}

TEST(CsvRecord, LongValuesUseWideOffsets) {
    // More than 65535 characters, and more than 65535 values, in one line.
    const std::string big(70000, 'x');
    CsvLine line{{"cn=a"}, {big, "tail"}, {"end"}};
    CsvField many;
    for (int i = 0; i < 70000; ++i)
        many.push_back(i % 2 == 0 ? "" : "v");
    line.push_back(many);
    const CsvRecord record(line);
    EXPECT_EQ(record.Value(1, 0), big);
    EXPECT_EQ(record.Value(1, 1), "tail");
    EXPECT_EQ(record.Value(2, 0), "end");
    EXPECT_EQ(record.ValueCount(3), 70000u);
    EXPECT_EQ(record.Value(3, 69999), "v");
    EXPECT_EQ(record.Value(3, 69998), "");
    EXPECT_EQ(record.ToLine(), line);
}

TEST(CsvRecord, IsSmallerThanTheParsedLine) {
    CsvLine line;
    for (int c = 0; c < 20; ++c)
        line.push_back({"Value" + std::to_string(c) + "-Row99999"});
    const CsvRecord record(line);
    std::size_t chars = 0;
    for (const auto& f : line)
        chars += f.front().size();
    // Header, 41 two-byte offsets and the text.
    EXPECT_EQ(record.HeapBytes(), 16 + 41 * 2 + chars);
    EXPECT_EQ(sizeof(CsvRecord), sizeof(void*));
}

TEST(CsvRecord, CopiesAndMovesKeepTheValues) {
    const CsvRecord a(Parsed("cn=a,x;y,z"));
    CsvRecord b(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(b.Value(1, 1), "y");
    CsvRecord c;
    c = b;
    EXPECT_EQ(c, a);
    CsvRecord d(std::move(b));
    EXPECT_EQ(d, a);
    c = CsvRecord(Parsed("other"));
    EXPECT_EQ(c.Value(0, 0), "other");
    EXPECT_FALSE(c == a);
    c = CsvRecord();
    EXPECT_TRUE(c.empty());
}

} // namespace
