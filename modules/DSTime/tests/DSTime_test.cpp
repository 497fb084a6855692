#include "DSTime.h"
#include "Diag.h"
#include "tokenizer_cases.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

namespace {

// Sets TZ for the lifetime of the object and restores the previous value.
class ScopedTz {
  public:
    explicit ScopedTz(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTz() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTz(const ScopedTz&) = delete;
    ScopedTz& operator=(const ScopedTz&) = delete;

  private:
    std::optional<std::string> saved_;
};

class DiagCapture {
  public:
    explicit DiagCapture(bool debug) {
        auto& s = diag::Get();
        s.debug = debug;
        s.out = [this](std::string_view t) { out.append(t); };
        s.err = [this](std::string_view t) { out.append(t); };
    }
    ~DiagCapture() { diag::Get() = diag::Settings{}; }
    DiagCapture(const DiagCapture&) = delete;
    DiagCapture& operator=(const DiagCapture&) = delete;
    std::string out;
};

// Parameterised cases show their name instead of a byte dump.
template <class Case>
requires requires(const Case& c) {
    c.name;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

template <class Case>
requires requires(const Case& c) {
    c.tz;
}
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.tz;
}

// 2006-11-07 08:00:00 UTC and 2006-07-01 16:00:00 UTC.
constexpr std::uint64_t kNov7At8Utc = 128073600000000000ULL;
constexpr std::uint64_t kJul1At16Utc = 127962432000000000ULL;

// --- Tokenizer copy -------------------------------------------------------------

class DSTGetTokensTest : public ::testing::TestWithParam<TokenizerCase> {};

TEST_P(DSTGetTokensTest, SplitsLikeGetTokens) {
    const TokenizerCase& c = GetParam();
    TokenVector v = c.before;
    EXPECT_EQ(DSTGetTokens(c.text, c.delim, v, c.maxSplits), c.result);
    EXPECT_EQ(v, c.after);
}

INSTANTIATE_TEST_SUITE_P(DSTime, DSTGetTokensTest, ::testing::ValuesIn(kTokenizerCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- User form to int8 and GT ---------------------------------------------------

struct EncCase {
    const char* name;
    std::string text;
    std::string int8; // "" when the conversion fails
    std::string gt;
};

class EncTimeUtcTest : public ::testing::TestWithParam<EncCase> {};

TEST_P(EncTimeUtcTest, Converts) {
    const EncCase& c = GetParam();
    DiagCapture cap(false);
    EXPECT_EQ(EncTime_to_int8(c.text, true), c.int8);
    EXPECT_EQ(EncTime_to_GT(c.text, true), c.gt);
    if (c.int8.empty() || c.gt.empty()) {
        EXPECT_NE(cap.out.find("ERROR: Couldn't convert ["), std::string::npos);
    } else {
        EXPECT_EQ(cap.out, "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, EncTimeUtcTest,
    ::testing::Values(
        EncCase{"SecondDayOf1601", "1601/01/02-00:00:00", "864000000000", "16010102000000.0Z"},
        EncCase{"FirstInstantIsNotZero", "1601/01/01-00:00:00", "250000", "16010101000000.0Z"},
        EncCase{"FirstDateAloneIsNotZero", "1601/01/01", "250000", "16010101000000.0Z"},
        EncCase{"UnixEpoch", "1970/01/01-00:00:00", "116444736000000000", "19700101000000.0Z"},
        EncCase{"DateAloneIsMidnight", "2006/11/07", "128073312000000000", "20061107000000.0Z"},
        EncCase{"DateWithMidnight", "2006/11/07-00:00:00", "128073312000000000",
                "20061107000000.0Z"},
        EncCase{"MorningUtc", "2006/11/07-08:00:00", "128073600000000000", "20061107080000.0Z"},
        EncCase{"LeapDay", "2000/02/29-12:34:56", "125963012960000000", "20000229123456.0Z"},
        EncCase{"SingleDigitFieldsAndBlanks", "2006/ 11/7-8:0:0", "128073600000000000",
                "20061107080000.0Z"},
        EncCase{"MissingMinutesReadAsZero", "2006/11/07-08", "128073600000000000",
                "20061107080000.0Z"},
        // Generalized time has four year digits; int8 reaches into 30828.
        EncCase{"LastGtSecond", "9999/12/31-23:59:59", "2650467743990000000", "99991231235959.0Z"},
        EncCase{"FirstYearBeyondGt", "10000/01/01", "2650467744000000000", ""},
        EncCase{"LastValidSecond", "30827/12/31-23:59:59", "9223149887990000000", ""},
        EncCase{"NotALeapYear", "2001/02/29", "", ""},
        EncCase{"MonthOutOfRange", "2006/13/01", "", ""},
        EncCase{"HourOutOfRange", "2006/11/07-24:00:00", "", ""},
        EncCase{"SecondOutOfRange", "2006/11/07-23:59:60", "", ""},
        EncCase{"Before1601", "1600/12/31-23:59:59", "", ""},
        EncCase{"After30827", "30828/01/01", "", ""}, EncCase{"Garbage", "yesterday", "", ""},
        EncCase{"Empty", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DSTime, EncTimeFailureMessageNamesTextAndCode) {
    DiagCapture cap(false);
    EXPECT_EQ(EncTime_to_int8("2006/13/01", true), "");
    EXPECT_EQ(cap.out, "ERROR: Couldn't convert [2006/13/01-00:00:00] to FILETIME. Error [87]\n");
}

TEST(DSTime, EncTimeGtFailureNamesTheYearRange) {
    DiagCapture cap(false);
    EXPECT_EQ(EncTime_to_GT("10000/01/01", true), "");
    EXPECT_EQ(cap.out, "ERROR: Couldn't convert [10000/01/01] to generalized time: the year is "
                       "outside 0001 to 9999, the range of generalized time\n");
}

TEST(DSTime, EncTimeDebugShowsFields) {
    DiagCapture cap(true);
    (void)EncTime_to_int8("2006/11/07-08:09:10", true);
    EXPECT_EQ(cap.out, "DEBUG: Year  =2006\nDEBUG: Month =11\nDEBUG: Day   =7\n"
                       "DEBUG: Hour  =8\nDEBUG: Minute=9\nDEBUG: Second=10\n");
}

struct LocalCase {
    const char* tz;
    std::string text;
    std::uint64_t utcInstant;
};

class EncTimeLocalTest : public ::testing::TestWithParam<LocalCase> {};

TEST_P(EncTimeLocalTest, LocalTextFollowsTimeZone) {
    const LocalCase& c = GetParam();
    ScopedTz tz(c.tz);
    EXPECT_EQ(EncTime_to_int8(c.text, false), std::to_string(c.utcInstant));
    EXPECT_EQ(EncTime_to_GT(c.text, false), Int8_to_GT(std::to_string(c.utcInstant), ".0Z"));
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, EncTimeLocalTest,
    ::testing::Values(LocalCase{"UTC", "2006/11/07-08:00:00", kNov7At8Utc},
                      LocalCase{"America/New_York", "2006/11/07-03:00:00", kNov7At8Utc},
                      LocalCase{"America/New_York", "2006/07/01-12:00:00", kJul1At16Utc},
                      LocalCase{"Europe/Berlin", "2006/11/07-09:00:00", kNov7At8Utc},
                      LocalCase{"EST5EDT,M3.2.0,M11.1.0", "2006/07/01-12:00:00", kJul1At16Utc}));

TEST(DSTime, EncTimeLocalDateBeforeUtcStartFails) {
    ScopedTz tz("Asia/Tokyo");
    DiagCapture cap(false);
    EXPECT_EQ(EncTime_to_int8("1601/01/01-01:00:00", false), "");
    EXPECT_EQ(cap.out, "ERROR: Couldn't convert [1601/01/01-01:00:00] to UTC FILETIME.  "
                       "Error [87]\n");
}

// --- int8 to GT -------------------------------------------------------------------

struct GtCase {
    const char* name;
    std::string int8;
    std::string suffix;
    std::string gt;
};

class Int8ToGtTest : public ::testing::TestWithParam<GtCase> {};

TEST_P(Int8ToGtTest, Formats) {
    const GtCase& c = GetParam();
    EXPECT_EQ(Int8_to_GT(c.int8, c.suffix), c.gt);
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, Int8ToGtTest,
    ::testing::Values(GtCase{"Zero", "0", ".0Z", "16010101000000.0Z"},
                      GtCase{"OneDay", "864000000000", ".0Z", "16010102000000.0Z"},
                      GtCase{"Morning", "128073600000000000", ".0Z", "20061107080000.0Z"},
                      GtCase{"SubSecondsDropped", "128073600009999999", ".0Z", "20061107080000.0Z"},
                      GtCase{"OtherSuffix", "128073600000000000", "Z", "20061107080000Z"},
                      GtCase{"LeadingBlanks", "  864000000000", ".0Z", "16010102000000.0Z"},
                      GtCase{"TrailingTextIgnored", "864000000000x", ".0Z", "16010102000000.0Z"},
                      GtCase{"LastGtInstant", "2650467743999999999", ".0Z", "99991231235959.0Z"},
                      GtCase{"FirstInstantOfYear10000", "2650467744000000000", ".0Z", ""},
                      GtCase{"LargestValue", "9223372036854775807", ".0Z", ""},
                      GtCase{"BeyondLargest", "9223372036854775808", ".0Z", ""},
                      GtCase{"NegativeHasNoCalendarForm", "-1", ".0Z", ""},
                      GtCase{"NotANumber", "never", ".0Z", ""}, GtCase{"Empty", "", ".0Z", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --- DSTIME -----------------------------------------------------------------------

TEST(DSTime, DSTIMEUtcFieldsAndTexts) {
    DSTIME t(TimeMode::Utc, kNov7At8Utc + 1234567); // + 123.4567 ms
    EXPECT_EQ(t.Year(), 2006);
    EXPECT_EQ(t.Month(), 11);
    EXPECT_EQ(t.Day(), 7);
    EXPECT_EQ(t.Hour(), 8);
    EXPECT_EQ(t.Minute(), 0);
    EXPECT_EQ(t.Second(), 0);
    EXPECT_EQ(t.Milliseconds(), 123);
    EXPECT_EQ(t.Int8Text(), "128073600001234567");
    EXPECT_EQ(t.DisplayText(), "2006/11/07-08:00:00 UTC");
    EXPECT_EQ(t.AltDisplayText(), "11/07/2006-08:00:00 UTC");
    EXPECT_EQ(t.GetGT(".0Z"), "20061107080000.0Z");
}

struct LocalDisplayCase {
    const char* tz;
    std::uint64_t instant;
    std::string display;
    std::string alt;
};

class DSTIMELocalTest : public ::testing::TestWithParam<LocalDisplayCase> {};

TEST_P(DSTIMELocalTest, ShowsLocalTimeWithZoneButGtStaysUtc) {
    const LocalDisplayCase& c = GetParam();
    ScopedTz tz(c.tz);
    DSTIME t(TimeMode::Local, c.instant);
    EXPECT_EQ(t.DisplayText(), c.display);
    EXPECT_EQ(t.AltDisplayText(), c.alt);
    EXPECT_EQ(t.GetGT(".0Z"), Int8_to_GT(std::to_string(c.instant), ".0Z"));
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, DSTIMELocalTest,
    ::testing::Values(LocalDisplayCase{"America/New_York", kNov7At8Utc, "2006/11/07-03:00:00 EST",
                                       "11/07/2006-03:00:00 EST"},
                      LocalDisplayCase{"America/New_York", kJul1At16Utc, "2006/07/01-12:00:00 EDT",
                                       "07/01/2006-12:00:00 EDT"},
                      LocalDisplayCase{"UTC", kNov7At8Utc, "2006/11/07-08:00:00 UTC",
                                       "11/07/2006-08:00:00 UTC"}));

TEST(DSTime, DSTIMESwitchingModeWithProcess) {
    ScopedTz tz("America/New_York");
    DSTIME t(TimeMode::Utc, kNov7At8Utc);
    EXPECT_TRUE(t.Process(TimeMode::Local, kNov7At8Utc));
    EXPECT_EQ(t.Hour(), 3);
    EXPECT_EQ(t.ZoneName(), "EST");
    EXPECT_TRUE(t.Process(TimeMode::Utc, kNov7At8Utc));
    EXPECT_EQ(t.Hour(), 8);
    EXPECT_EQ(t.ZoneName(), "UTC");
}

struct AddCase {
    const char* name;
    bool (*apply)(DSTIME&);
    std::int64_t delta;
};

class AddTest : public ::testing::TestWithParam<AddCase> {};

TEST_P(AddTest, MovesInstantByDelta) {
    const AddCase& c = GetParam();
    DSTIME t(TimeMode::Utc, kNov7At8Utc);
    EXPECT_TRUE(c.apply(t));
    EXPECT_EQ(static_cast<std::int64_t>(t.Instant() - kNov7At8Utc), c.delta);
    EXPECT_EQ(t.Int8Text(), std::to_string(t.Instant()));
    EXPECT_EQ(t.GetGT(".0Z"), Int8_to_GT(t.Int8Text(), ".0Z"));
}

constexpr std::int64_t kD = kInt8Day, kH = kInt8Hour, kM = kInt8Minute, kS = kInt8Second;

INSTANTIATE_TEST_SUITE_P(
    DSTime, AddTest,
    ::testing::Values(
        AddCase{"OneDay", [](DSTIME& t) { return t.AddDays(1); }, kD},
        AddCase{"MinusOneDayText", [](DSTIME& t) { return t.AddDays("-1d"); }, -kD},
        AddCase{"MinusThirtyDaysText", [](DSTIME& t) { return t.AddDays("-30d"); }, -30 * kD},
        AddCase{"PlusSignText", [](DSTIME& t) { return t.AddHours("+2h"); }, 2 * kH},
        AddCase{"MinutesText", [](DSTIME& t) { return t.AddMins("90m"); }, 90 * kM},
        AddCase{"SecondsWithBlanks", [](DSTIME& t) { return t.AddSecs("  -5s"); }, -5 * kS},
        AddCase{"TextWithoutNumberAddsNothing", [](DSTIME& t) { return t.AddSecs("s"); }, 0},
        AddCase{"MinutesAndSeconds", [](DSTIME& t) { return t.AddTime("1:30"); }, 90 * kS},
        AddCase{"SecondsAlone", [](DSTIME& t) { return t.AddTime("30"); }, 30 * kS},
        AddCase{"LeadingColonIsZeroDays", [](DSTIME& t) { return t.AddTime(":1:0:0"); }, kH},
        AddCase{"FullForm", [](DSTIME& t) { return t.AddTime("1:2:3:4"); },
                kD + 2 * kH + 3 * kM + 4 * kS},
        AddCase{"SevenDays", [](DSTIME& t) { return t.AddTime("07:00:00:00"); }, 7 * kD},
        AddCase{"EmptyFieldIsZero", [](DSTIME& t) { return t.AddTime("1::30"); }, kH + 30 * kS},
        AddCase{"TrailingEmptyField", [](DSTIME& t) { return t.AddTime("1:2:"); }, kH + 2 * kM},
        AddCase{"EachFieldOwnSign", [](DSTIME& t) { return t.AddTime("1:-1:0:0"); }, 23 * kH},
        AddCase{"NegativeDays", [](DSTIME& t) { return t.AddTime("-1:00:00:00"); }, -kD},
        AddCase{"ExtraFieldsIgnored", [](DSTIME& t) { return t.AddTime("0:0:1:2:3"); },
                kM + 2 * kS},
        AddCase{"EmptyDelta", [](DSTIME& t) { return t.AddTime(""); }, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Range checks ----------------------------------------------------------------

constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kI64Min = std::numeric_limits<std::int64_t>::min();
// The largest whole counts of each unit that fit in 64 bits of 100 ns.
constexpr std::int64_t kMaxDays = kI64Max / kD;  // 10675199
constexpr std::int64_t kMaxHours = kI64Max / kH; // 256204778

struct DeltaTextCase {
    const char* name;
    std::string text;
    TimeError error;
    std::int64_t units; // when error is None
};

class RelativeDeltaTest : public ::testing::TestWithParam<DeltaTextCase> {};

TEST_P(RelativeDeltaTest, ReadsOrRefuses) {
    const DeltaTextCase& c = GetParam();
    std::int64_t units = 12345; // untouched on failure
    EXPECT_EQ(RelativeDelta(c.text, units), c.error);
    EXPECT_EQ(units, c.error == TimeError::None ? c.units : 12345);
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, RelativeDeltaTest,
    ::testing::Values(
        DeltaTextCase{"Zero", "0", TimeError::None, 0},
        DeltaTextCase{"NoUnitIsNothing", "42", TimeError::None, 0},
        DeltaTextCase{"MinusThirtyDays", "-30d", TimeError::None, -30 * kD},
        DeltaTextCase{"ColonForm", "1:2:3:4", TimeError::None, kD + 2 * kH + 3 * kM + 4 * kS},
        // "m" and "s" both match, so the count is added as minutes and seconds.
        DeltaTextCase{"EveryMatchingLetterAdds", "5ms", TimeError::None, 5 * kM + 5 * kS},
        DeltaTextCase{"ColonAndLetterBothApply", "1:30m", TimeError::None, 90 * kS + kM},
        // Counts are 32-bit.
        DeltaTextCase{"LargestCount", "2147483647s", TimeError::None, 2147483647LL * kS},
        DeltaTextCase{"SmallestCount", "-2147483648s", TimeError::None, -2147483648LL * kS},
        DeltaTextCase{"CountAboveRange", "2147483648s", TimeError::CountOutOfRange, 0},
        DeltaTextCase{"CountBelowRange", "-2147483649s", TimeError::CountOutOfRange, 0},
        DeltaTextCase{"HugeCount", "99999999999999999999999d", TimeError::CountOutOfRange, 0},
        DeltaTextCase{"ColonFieldAboveRange", "0:0:0:2147483648", TimeError::CountOutOfRange, 0},
        DeltaTextCase{"LargestMinutes", "2147483647m", TimeError::None, 2147483647LL * kM},
        // Days and hours reach the 64-bit edge before their counts do.
        DeltaTextCase{"LargestDays", std::to_string(kMaxDays) + "d", TimeError::None, kMaxDays* kD},
        DeltaTextCase{"FirstDaysBeyond", std::to_string(kMaxDays + 1) + "d",
                      TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"SmallestDays", "-" + std::to_string(kMaxDays) + "d", TimeError::None,
                      -kMaxDays* kD},
        DeltaTextCase{"FirstDaysBelow", "-" + std::to_string(kMaxDays + 1) + "d",
                      TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"LargestInt32Days", "2147483647d", TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"LargestHours", std::to_string(kMaxHours) + "h", TimeError::None,
                      kMaxHours* kH},
        DeltaTextCase{"FirstHoursBeyond", std::to_string(kMaxHours + 1) + "h",
                      TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"ColonDaysBeyond", std::to_string(kMaxDays + 1) + ":0:0:0",
                      TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"ColonDaysLargest", std::to_string(kMaxDays) + ":0:0:0", TimeError::None,
                      kMaxDays* kD},
        // Each part fits; their sum does not.
        DeltaTextCase{"SumOfPartsBeyond", std::to_string(kMaxDays) + ":0:0:0d",
                      TimeError::DeltaOutOfRange, 0},
        DeltaTextCase{"SumOfPartsBelow", "-" + std::to_string(kMaxDays) + ":0:0:0d",
                      TimeError::DeltaOutOfRange, 0}),
    [](const auto& info) { return std::string(info.param.name); });

struct OffsetCase {
    const char* name;
    std::uint64_t instant;
    std::int64_t units;
    TimeError error;
    std::uint64_t result; // when error is None
};

class OffsetInstantTest : public ::testing::TestWithParam<OffsetCase> {};

TEST_P(OffsetInstantTest, StaysAnInt8Instant) {
    const OffsetCase& c = GetParam();
    std::uint64_t result = 777; // untouched on failure
    EXPECT_EQ(OffsetInstant(c.instant, c.units, result), c.error);
    EXPECT_EQ(result, c.error == TimeError::None ? c.result : 777u);
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, OffsetInstantTest,
    ::testing::Values(
        OffsetCase{"Forward", kNov7At8Utc, kD, TimeError::None, kNov7At8Utc + kD},
        OffsetCase{"Back", kNov7At8Utc, -kD, TimeError::None, kNov7At8Utc - kD},
        OffsetCase{"DownToZero", kNov7At8Utc, -static_cast<std::int64_t>(kNov7At8Utc),
                   TimeError::None, 0},
        OffsetCase{"OneBefore1601", kNov7At8Utc, -static_cast<std::int64_t>(kNov7At8Utc) - 1,
                   TimeError::InstantOutOfRange, 0},
        OffsetCase{"UpToLast", kNov7At8Utc, kI64Max - static_cast<std::int64_t>(kNov7At8Utc),
                   TimeError::None, kInt8MaxInstant},
        OffsetCase{"OnePastLast", kInt8MaxInstant, 1, TimeError::InstantOutOfRange, 0},
        OffsetCase{"LargestForward", kNov7At8Utc, kI64Max, TimeError::InstantOutOfRange, 0},
        OffsetCase{"LargestBack", kNov7At8Utc, kI64Min, TimeError::InstantOutOfRange, 0},
        OffsetCase{"WholeRangeBack", kInt8MaxInstant, -kI64Max, TimeError::None, 0},
        OffsetCase{"StartBeyondInt8", kInt8MaxInstant + 1, -1, TimeError::InstantOutOfRange, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DSTime, TimeErrorTextsAreDistinct) {
    const TimeError all[] = {TimeError::None, TimeError::CountOutOfRange,
                             TimeError::DeltaOutOfRange, TimeError::InstantOutOfRange,
                             TimeError::YearOutOfRange};
    for (TimeError a : all) {
        for (TimeError b : all) {
            if (a != b) {
                EXPECT_NE(TimeErrorText(a), TimeErrorText(b));
            }
        }
    }
}

struct RefusedAddCase {
    const char* name;
    std::uint64_t start;
    bool (*apply)(DSTIME&);
    std::string message;
};

class RefusedAddTest : public ::testing::TestWithParam<RefusedAddCase> {};

// A move that would wrap leaves the time as it was.
TEST_P(RefusedAddTest, KeepsInstantAndSaysWhy) {
    const RefusedAddCase& c = GetParam();
    DSTIME t(TimeMode::Utc, c.start);
    const std::string text = t.Int8Text();
    DiagCapture cap(false);
    EXPECT_FALSE(c.apply(t));
    EXPECT_EQ(t.Instant(), c.start);
    EXPECT_EQ(t.Int8Text(), text);
    EXPECT_EQ(cap.out, c.message);
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, RefusedAddTest,
    ::testing::Values(
        RefusedAddCase{"Int32Days", kNov7At8Utc, [](DSTIME& t) { return t.AddDays("2147483647d"); },
                       "ERROR: Time delta out of range [2147483647 days]: the delta does not fit "
                       "in 64 bits of 100-nanosecond intervals (about 29,000 years)\n"},
        RefusedAddCase{"NegativeDays", kNov7At8Utc,
                       [](DSTIME& t) { return t.AddDays(-kMaxDays - 1); },
                       "ERROR: Time delta out of range [-10675200 days]: the delta does not fit "
                       "in 64 bits of 100-nanosecond intervals (about 29,000 years)\n"},
        RefusedAddCase{"HoursPastTheEnd", kInt8MaxInstant, [](DSTIME& t) { return t.AddHours(1); },
                       "ERROR: Time delta out of range [1 hours]: the delta does not fit in 64 "
                       "bits of 100-nanosecond intervals (about 29,000 years)\n"},
        RefusedAddCase{"CountText", kNov7At8Utc, [](DSTIME& t) { return t.AddSecs("3000000000s"); },
                       "ERROR: Time delta out of range [3000000000s]: a count is outside "
                       "-2147483648 to 2147483647\n"},
        RefusedAddCase{"MinutesText", kNov7At8Utc,
                       [](DSTIME& t) { return t.AddMins("-9999999999m"); },
                       "ERROR: Time delta out of range [-9999999999m]: a count is outside "
                       "-2147483648 to 2147483647\n"},
        RefusedAddCase{"ColonDays", kNov7At8Utc,
                       [](DSTIME& t) { return t.AddTime("2147483647:00:00:00"); },
                       "ERROR: Time delta out of range [2147483647:00:00:00]: the delta does not "
                       "fit in 64 bits of 100-nanosecond intervals (about 29,000 years)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DSTime, DSTIMEGtEndsWithYear9999) {
    DSTIME t(TimeMode::Utc, kInt8MaxGtInstant);
    EXPECT_EQ(t.GetGT(".0Z"), "99991231235959.0Z");
    EXPECT_TRUE(t.AddSecs(1));
    EXPECT_EQ(t.Year(), 10000);
    EXPECT_EQ(t.GetGT(".0Z"), "");
}

TEST(DSTime, DSTIMEDeltaBetweenFarApartTimesIsRefused) {
    DSTIME low(TimeMode::Utc, 0);
    DiagCapture cap(false);
    EXPECT_FALSE(low.AddDays(-kMaxDays)); // a pure delta far below 0
    DSTIME high(TimeMode::Utc, kInt8MaxInstant);
    cap.out.clear();
    EXPECT_FALSE(high.InitDelta(low));
    EXPECT_EQ(high.DeltaText(), "UNDEFINED");
    EXPECT_NE(cap.out.find("ERROR: Time delta out of range ["), std::string::npos);
    EXPECT_TRUE(low.InitDelta(low));
    EXPECT_EQ(low.DeltaSeconds(), 0);
}

TEST(DSTime, DSTIMENegativeDeltaFromZeroKeepsSignedInt8Text) {
    DiagCapture cap(false);
    DSTIME t(TimeMode::Utc, 0);
    EXPECT_FALSE(t.AddDays("-30d"));
    EXPECT_EQ(t.Int8Text(), "-25920000000000");
    EXPECT_EQ(t.DisplayText(), "Invalid Time Format");
    EXPECT_EQ(t.GetGT(".0Z"), "");
    EXPECT_EQ(cap.out, "ERROR: 87\n");
}

TEST(DSTime, DSTIMEDebugShowsInstant) {
    DiagCapture cap(true);
    DSTIME t(TimeMode::Utc, 864000000000ULL);
    EXPECT_EQ(cap.out, "DEBUG: uli = 864000000000\n");
}

struct DeltaCase {
    const char* name;
    std::int64_t units;
    std::string text;
    std::string shortText;
    std::int64_t seconds;
};

class InitDeltaTest : public ::testing::TestWithParam<DeltaCase> {};

TEST_P(InitDeltaTest, FillsDeltaTexts) {
    const DeltaCase& c = GetParam();
    DSTIME t(TimeMode::Utc, 0);
    t.InitDelta(c.units);
    EXPECT_EQ(t.DeltaText(), c.text);
    EXPECT_EQ(t.DeltaShortText(), c.shortText);
    EXPECT_EQ(t.DeltaSeconds(), c.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    DSTime, InitDeltaTest,
    ::testing::Values(DeltaCase{"Zero", 0, "0 seconds", "0d:00h:00m:00s", 0},
                      DeltaCase{"SubSecondTruncated", 15000000, "1 seconds", "0d:00h:00m:01s", 1},
                      DeltaCase{"Minutes", 90 * kS, "1 minutes 30 seconds", "0d:00h:01m:30s", 90},
                      DeltaCase{"Hours", 3661 * kS, "1 hours 1 minutes 1 seconds", "0d:01h:01m:01s",
                                3661},
                      DeltaCase{"HoursWithZeroMinutes", kH + 5 * kS, "1 hours 0 minutes 5 seconds",
                                "0d:01h:00m:05s", 3605},
                      DeltaCase{"Days", kD + 2 * kH + 3 * kM + 4 * kS,
                                "1 days 2 hours 3 minutes 4 seconds", "1d:02h:03m:04s", 93784},
                      DeltaCase{"SevenDays", 7 * kD, "7 days 0 hours 0 minutes 0 seconds",
                                "7d:00h:00m:00s", 604800},
                      DeltaCase{"ManyDays", 123 * kD, "123 days 0 hours 0 minutes 0 seconds",
                                "123d:00h:00m:00s", 123 * 86400}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DSTime, DSTIMEDeltaUndefinedUntilInitialised) {
    DSTIME t(TimeMode::Utc, 0);
    EXPECT_EQ(t.DeltaText(), "UNDEFINED");
    EXPECT_EQ(t.DeltaShortText(), "UNDEFINED");
}

TEST(DSTime, DSTIMEDeltaBetweenTwoTimes) {
    const DSTIME start(TimeMode::Utc);
    DSTIME end = start;
    EXPECT_TRUE(end.AddTime("07:00:00:00"));
    end.InitDelta(start);
    EXPECT_EQ(end.DeltaSeconds(), 604800);
    EXPECT_EQ(end.DeltaShortText(), "7d:00h:00m:00s");
}

// --- Current time -------------------------------------------------------------------

TEST(DSTime, CurrentTimeMatchesSystemClock) {
    const std::uint64_t before =
        (static_cast<std::uint64_t>(std::time(nullptr)) * 10000000ULL) + kInt8UnixEpoch;
    const std::uint64_t now = MyGetCurrentTimeDate();
    const std::uint64_t after =
        (static_cast<std::uint64_t>(std::time(nullptr)) + 1) * 10000000ULL + kInt8UnixEpoch;
    EXPECT_GE(now, before);
    EXPECT_LE(now, after);
    EXPECT_EQ(now % 10000, 0u); // millisecond resolution

    const DSTIME t(TimeMode::Utc);
    EXPECT_GE(t.Instant(), now);
    EXPECT_GE(t.Year(), 2024);
}

TEST(DSTime, CurrentTimeLocalDisplayTextCarriesZone) {
    ScopedTz tz("UTC");
    const std::string text = CurrentLocalTimeText();
    // "YYYY/MM/DD-HH:MM:SS UTC"
    const std::string shape = "dddd/dd/dd-dd:dd:dd UTC";
    ASSERT_EQ(text.size(), shape.size()) << text;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd') {
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text[i]))) << text;
        } else {
            EXPECT_EQ(text[i], shape[i]) << text;
        }
    }
}

} // namespace
