#include "CsvRecords.h"

#include <gtest/gtest.h>

#include <string>

namespace {

CsvLine Row(const std::string& dn, const std::string& value) {
    return {{dn}, {value}};
}

TEST(CsvStore, RepeatedDnsGetNumberedKeys) {
    CsvStore s;
    EXPECT_EQ(s.SetCSVKey("cn=a"), "cn=a");
    EXPECT_EQ(s.SetCSVKey("cn=a"), "cn=a{{1}}");
    EXPECT_EQ(s.SetCSVKey("cn=b"), "cn=b");
    EXPECT_EQ(s.SetCSVKey("cn=a"), "cn=a{{2}}");
}

TEST(CsvStore, KeysAreServedLastFirstAndRefilledWhenAllAreUsed) {
    CsvStore s;
    (void)s.SetCSVKey("cn=a");
    (void)s.SetCSVKey("cn=a");
    (void)s.SetCSVKey("cn=b");
    EXPECT_EQ(s.GetCSVKey("cn=a", true), "cn=a{{1}}");
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a{{1}}");
    EXPECT_EQ(s.GetCSVKey("cn=a", true), "cn=a");
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a");
    // Used up: the DN itself comes back, and nothing is refilled while
    // another DN still has keys.
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a");
    EXPECT_EQ(s.GetCSVKey("cn=nosuch", false), "cn=nosuch");
    EXPECT_EQ(s.GetCSVKey("cn=b", false), "cn=b");
    // Every key used: the saved registry fills it again.
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a{{1}}");
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a");
}

TEST(CsvStore, RowsAreFoundByKeyAndStayWhereTheyAre) {
    CsvStore s;
    const CsvRecord& first = s.Add("cn=a", Row("cn=a", "one"));
    std::vector<const CsvRecord*> kept;
    for (int i = 0; i < 5000; ++i)
        kept.push_back(&s.Add("cn=" + std::to_string(i), Row("cn=x", std::to_string(i))));
    const CsvRecord& second = s.Add("cn=a", Row("cn=a", "two"));
    EXPECT_EQ(s.RecordCount(), 5002u);
    EXPECT_EQ(first.Value(1, 0), "one");
    EXPECT_EQ(second.Value(1, 0), "two");
    for (int i = 0; i < 5000; ++i)
        ASSERT_EQ(kept[static_cast<std::size_t>(i)]->Value(1, 0), std::to_string(i));
    EXPECT_EQ(s.Find("cn=a"), &first);
    EXPECT_EQ(s.Find("cn=a{{1}}"), &second);
    EXPECT_EQ(s.Find("cn=a{{2}}"), nullptr);
    EXPECT_EQ(s.Find("cn=17"), kept[17]);
    EXPECT_EQ(s.GetCSVKey("cn=a", false), "cn=a{{1}}");
}

TEST(CsvStore, KeyOnlyRegistrationsHoldNoRow) {
    CsvStore s;
    (void)s.SetCSVKey("cn=a");
    EXPECT_EQ(s.Find("cn=a"), nullptr);
    EXPECT_EQ(s.RecordCount(), 0u);
    EXPECT_TRUE(s.RecordsByKey().empty());
}

TEST(CsvStore, RecordsAreListedInKeyOrder) {
    CsvStore s;
    (void)s.Add("cn=b", Row("cn=b", "1"));
    (void)s.Add("cn=a", Row("cn=a", "2"));
    (void)s.Add("cn=b", Row("cn=b", "3"));
    (void)s.Add("cn=a,dc=x", Row("cn=a,dc=x", "4"));
    std::vector<std::string> keys, values;
    for (const auto& [key, row] : s.RecordsByKey()) {
        keys.push_back(key);
        values.emplace_back(row->Value(1, 0));
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"cn=a", "cn=a,dc=x", "cn=b", "cn=b{{1}}"}));
    EXPECT_EQ(values, (std::vector<std::string>{"2", "4", "1", "3"}));
}

} // namespace
