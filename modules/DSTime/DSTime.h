// Directory time forms and conversions between them:
//   int8               signed count of 100 ns intervals since 1601-01-01 00:00:00
//                      UTC, as decimal text (accountExpires, pwdLastSet, ...);
//   generalized time   "YYYYMMDDHHMMSS" + suffix (callers pass ".0Z");
//   user form          "YYYY/MM/DD-HH:MM:SS", the time part optional.
// Local time follows the C library's time-zone rules (TZ and the system
// zone database).
#pragma once

#include "pellixstrings.h"

#include <cstdint>
#include <string>
#include <string_view>

enum class TimeMode : int { Local = 0, Utc = 1 };

inline constexpr std::int64_t kInt8Day = 864000000000LL;
inline constexpr std::int64_t kInt8Hour = 36000000000LL;
inline constexpr std::int64_t kInt8Minute = 600000000LL;
inline constexpr std::int64_t kInt8Second = 10000000LL;
// int8 value of the Unix epoch, 1970-01-01 00:00:00 UTC.
inline constexpr std::uint64_t kInt8UnixEpoch = 116444736000000000ULL;
// The last instant an int8 can hold (30828-09-14 02:48:05.4775807 UTC).
inline constexpr std::uint64_t kInt8MaxInstant = 9223372036854775807ULL;
// The last instant with a four-digit generalized time (9999-12-31 23:59:59.9999999 UTC).
inline constexpr std::uint64_t kInt8MaxGtInstant = 2650467743999999999ULL;

// Why a time computation has no result.
enum class TimeError {
    None,
    CountOutOfRange,   // a count in a delta text does not fit in 32 bits
    DeltaOutOfRange,   // the delta does not fit in a signed 64-bit count of 100 ns
    InstantOutOfRange, // the time is before 1601 or after the last int8 instant
    YearOutOfRange,    // the year has no four-digit generalized time form
};
// The reason in words, for error messages.
std::string_view TimeErrorText(TimeError error);

// The delta a relative-time value stands for, in 100 ns units.  Each test is
// independent and all that match add up: a value containing ":" is read as
// days:hours:minutes:seconds (as AddTime reads it); for each of "d", "h", "m"
// and "s" it contains, the signed count at its start is added in that unit.
// A value with none of these is 0.  `units` is set only on success.
[[nodiscard]] TimeError RelativeDelta(std::string_view text, std::int64_t& units);

// `instant` moved by `units`, checked to stay an int8 instant
// (0 .. kInt8MaxInstant).  `result` is set only on success.
[[nodiscard]] TimeError OffsetInstant(std::uint64_t instant, std::int64_t units,
                                      std::uint64_t& result);

// The current UTC instant as int8 (millisecond resolution).
std::uint64_t MyGetCurrentTimeDate();

// A point in time (or, from instant 0, a pure delta) with its broken-down
// fields and texts in local time or UTC.  Every change recomputes the texts.
class DSTIME {
  public:
    // The current time.
    explicit DSTIME(TimeMode mode = TimeMode::Local);
    // An explicit instant; 0 starts a pure delta.
    DSTIME(TimeMode mode, std::uint64_t instant);

    // Sets mode and instant and recomputes fields and texts.  False (after
    // "ERROR: <code>") when the instant has no calendar form; the int8 text
    // is still set then.
    bool Process(TimeMode mode, std::uint64_t instant);
    // Fills the display texts from the current fields.
    void FormatStrings();

    // The Add functions move the instant and recompute.  A move whose size or
    // result does not fit in a signed 64-bit count of 100 ns, or a count text
    // beyond 32 bits, changes nothing and gives false after an "ERROR: Time
    // delta out of range ..." line.  A result before 1601 is kept (a pure
    // delta may be negative) but has no calendar form, so Process reports it
    // and they give false.
    bool AddDays(std::int64_t n);
    bool AddHours(std::int64_t n);
    bool AddMins(std::int64_t n);
    bool AddSecs(std::int64_t n);
    // Text overloads take the signed integer at the start of the text, so
    // "-30d" is -30.
    bool AddDays(std::string_view text);
    bool AddHours(std::string_view text);
    bool AddMins(std::string_view text);
    bool AddSecs(std::string_view text);
    // days:hours:minutes:seconds; missing leading fields and empty fields are
    // 0 ("1:30" is 1 minute 30 seconds), each field carries its own sign.
    bool AddTime(std::string_view text);

    // Fills the delta texts from a duration in 100 ns units.
    void InitDelta(std::int64_t units);
    // The same for the duration from `start` to this instant; false (texts
    // unchanged, after an error line) when the duration overflows.
    bool InitDelta(const DSTIME& start);

    // Generalized time of the instant in UTC followed by `suffix`; empty when
    // the instant has no calendar form or its year is beyond 9999.
    std::string GetGT(std::string_view suffix) const;

    std::uint64_t Instant() const { return instant_; }
    TimeMode Mode() const { return mode_; }
    int Year() const { return year_; }
    int Month() const { return month_; }
    int Day() const { return day_; }
    int Hour() const { return hour_; }
    int Minute() const { return minute_; }
    int Second() const { return second_; }
    int Milliseconds() const { return millis_; }
    // Zone abbreviation in local mode ("EST", "CEST", ...), "UTC" otherwise.
    const std::string& ZoneName() const { return zone_; }
    // Signed decimal text of the instant.
    const std::string& Int8Text() const { return int8Text_; }
    // "YYYY/MM/DD-HH:MM:SS <zone>".
    const std::string& DisplayText() const { return displayText_; }
    // "MM/DD/YYYY-HH:MM:SS <zone>".
    const std::string& AltDisplayText() const { return altDisplayText_; }

    // "1 days 2 hours 3 minutes 4 seconds", leading zero units dropped;
    // "UNDEFINED" before InitDelta.
    const std::string& DeltaText() const { return deltaText_; }
    // "1d:02h:03m:04s", leading zero units as "0d:00h:..."; "UNDEFINED"
    // before InitDelta.
    const std::string& DeltaShortText() const { return deltaShortText_; }
    // Whole seconds of the last InitDelta (0 before).
    std::int64_t DeltaSeconds() const { return deltaSeconds_; }

  private:
    // Moves the instant by `units` unless `error` is set or the sum
    // overflows; `shown` names the delta in the error line.
    bool Move(TimeError error, std::int64_t units, std::string_view shown);
    bool Shift(std::int64_t count, std::int64_t unit, std::string_view unitName);
    bool ShiftText(std::string_view text, std::int64_t unit, std::string_view unitName);

    TimeMode mode_ = TimeMode::Local;
    std::uint64_t instant_ = 0;
    int year_ = 0;
    int month_ = 0;
    int day_ = 0;
    int hour_ = 0;
    int minute_ = 0;
    int second_ = 0;
    int millis_ = 0;
    std::string zone_;
    std::string int8Text_;
    std::string displayText_;
    std::string altDisplayText_;
    std::string deltaText_ = "UNDEFINED";
    std::string deltaShortText_ = "UNDEFINED";
    std::int64_t deltaSeconds_ = 0;
};

// User form to int8 text, the text read as UTC or as local time.  Empty text
// (after an "ERROR: Couldn't convert ..." line) on failure.
std::string EncTime_to_int8(std::string_view text, bool utc);
// User form to generalized time with the suffix ".0Z"; empty on failure,
// which includes a year beyond 9999 (after an "ERROR: Couldn't convert ..."
// line).
std::string EncTime_to_GT(std::string_view text, bool utc);
// int8 text to generalized time followed by `suffix`; empty when the text is
// not a number, the value has no calendar form or its year is beyond 9999.
std::string Int8_to_GT(std::string_view int8Text, std::string_view suffix);

// The current local time as display text ("YYYY/MM/DD-HH:MM:SS <zone>").
std::string CurrentLocalTimeText();

// The time module's name for the basic tokenizer; it is GetTokens.
inline std::size_t DSTGetTokens(std::string_view text, std::string_view delim, TokenVector& out,
                                std::size_t maxSplits = kMaxSplits) {
    return GetTokens(text, delim, out, maxSplits);
}
