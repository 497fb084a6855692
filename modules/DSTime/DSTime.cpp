#include "DSTime.h"

#include "Diag.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <utility>

namespace {

constexpr std::int64_t kSecsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t kSecsPerDay = 86400;
constexpr std::int64_t kInt8Milli = 10000;
constexpr std::uint64_t kMaxInstant = kInt8MaxInstant;
constexpr std::uint32_t kErrorInvalidParameter = 87;

constexpr std::string_view kInvalidFormat = "Invalid Time Format";

struct CalendarTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millis = 0;
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, CalendarTime& t) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
    t.year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    t.month = static_cast<int>(m);
    t.day = static_cast<int>(d);
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// The range a calendar time must be in to have an int8 form.
bool IsValidCalendar(const CalendarTime& t) {
    return t.year >= 1601 && t.year <= 30827 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
           t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59 && t.millis >= 0 && t.millis <= 999;
}

bool Int8ToUtc(std::uint64_t v, CalendarTime& t) {
    if (v > kMaxInstant) return false;
    const auto secs = static_cast<std::int64_t>(v / kInt8Second);
    const std::int64_t unix = secs - kSecsFrom1601To1970;
    std::int64_t days = unix / kSecsPerDay;
    std::int64_t rest = unix % kSecsPerDay;
    if (rest < 0) {
        rest += kSecsPerDay;
        --days;
    }
    CivilFromDays(days, t);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.millis = static_cast<int>(v % kInt8Second / kInt8Milli);
    return true;
}

bool Int8ToLocal(std::uint64_t v, CalendarTime& t, std::string& zone) {
    if (v > kMaxInstant) return false;
    const std::time_t unix =
        static_cast<std::time_t>(static_cast<std::int64_t>(v / kInt8Second) - kSecsFrom1601To1970);
    std::tm tm{};
    tzset();
    if (localtime_r(&unix, &tm) == nullptr) return false;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.millis = static_cast<int>(v % kInt8Second / kInt8Milli);
    zone = tm.tm_zone != nullptr ? tm.tm_zone : "";
    return true;
}

std::uint64_t SecondsToInt8(std::int64_t secsSince1601, int millis) {
    return static_cast<std::uint64_t>(secsSince1601) * kInt8Second +
           static_cast<std::uint64_t>(millis) * kInt8Milli;
}

// The two conversions below expect a calendar time that IsValidCalendar accepts.
void UtcToInt8(const CalendarTime& t, std::uint64_t& v) {
    const std::int64_t secs = DaysFromCivil(t.year, t.month, t.day) * kSecsPerDay +
                              t.hour * 3600LL + t.minute * 60LL + t.second;
    v = SecondsToInt8(secs + kSecsFrom1601To1970, t.millis);
}

bool LocalToInt8(const CalendarTime& t, std::uint64_t& v) {
    if (t.year > 30827) return false; // also keeps the product below from wrapping
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    tm.tm_wday = -1; // mktime sets it on success
    tzset();
    const std::time_t unix = std::mktime(&tm);
    if (tm.tm_wday < 0) return false;
    const std::int64_t secs = static_cast<std::int64_t>(unix) + kSecsFrom1601To1970;
    if (secs < 0) return false;
    v = SecondsToInt8(secs, t.millis);
    return v <= kMaxInstant;
}

// Skips blanks, then reads an optional sign and at least one digit, as "%d"
// does.  A number beyond 32 bits saturates and sets `overflow`.
bool ScanInt(std::string_view& s, std::int64_t& value, bool* overflow = nullptr) {
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const std::size_t digitsStart = i;
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    std::int64_t v = 0;
    bool over = false;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
        v = v * 10 + (s[i] - '0');
        if (v > limit) {
            v = limit;
            over = true;
        }
        ++i;
    }
    if (i == digitsStart) return false;
    value = negative ? -v : v;
    if (overflow) *overflow = over;
    s.remove_prefix(i);
    return true;
}

// The signed count at the start of a text (0 when there is none); a count
// beyond 32 bits is an error rather than a different number.
TimeError LeadingCount(std::string_view s, std::int64_t& count) {
    std::int64_t v = 0;
    bool overflow = false;
    if (!ScanInt(s, v, &overflow)) v = 0;
    if (overflow) return TimeError::CountOutOfRange;
    count = v;
    return TimeError::None;
}

// count * unit, and total + more, refusing to wrap.
TimeError Scale(std::int64_t count, std::int64_t unit, std::int64_t& units) {
    return __builtin_mul_overflow(count, unit, &units) ? TimeError::DeltaOutOfRange
                                                       : TimeError::None;
}
TimeError Accumulate(std::int64_t& total, std::int64_t more) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(total, more, &sum)) return TimeError::DeltaOutOfRange;
    total = sum;
    return TimeError::None;
}

// days:hours:minutes:seconds in 100 ns units.  Every ":" counts, so empty
// fields (also a leading ":") read as 0; with fewer than four fields the ones
// given are the trailing ones; fields after the fourth are ignored.
TimeError ColonDelta(std::string_view text, std::int64_t& units) {
    std::int64_t fields[4] = {0, 0, 0, 0};
    TokenVector pieces;
    std::size_t start = 0;
    for (std::size_t colon = text.find(':'); colon != std::string_view::npos;
         colon = text.find(':', start)) {
        pieces.emplace_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    pieces.emplace_back(text.substr(start));
    const std::size_t used = pieces.size() < 4 ? pieces.size() : 4;
    for (std::size_t i = 0; i < used; ++i)
        if (TimeError e = LeadingCount(pieces[i], fields[4 - used + i]); e != TimeError::None)
            return e;

    // Days and hours are counted as hours first; both are 32-bit counts, so
    // that sum cannot overflow.
    const std::int64_t hours = fields[0] * 24 + fields[1];
    const std::pair<std::int64_t, std::int64_t> parts[] = {
        {hours, kInt8Hour}, {fields[2], kInt8Minute}, {fields[3], kInt8Second}};
    std::int64_t total = 0;
    for (const auto& [count, unit] : parts) {
        std::int64_t part = 0;
        if (TimeError e = Scale(count, unit, part); e != TimeError::None) return e;
        if (TimeError e = Accumulate(total, part); e != TimeError::None) return e;
    }
    units = total;
    return TimeError::None;
}

// Reads "%d/%d/%d-%d:%d:%d"; returns how many fields were read.
int ScanUserTime(std::string_view s, CalendarTime& t) {
    int* fields[] = {&t.year, &t.month, &t.day, &t.hour, &t.minute, &t.second};
    constexpr char kSeparators[] = {'/', '/', '-', ':', ':'};
    int read = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            if (s.empty() || s.front() != kSeparators[i - 1]) break;
            s.remove_prefix(1);
        }
        std::int64_t v = 0;
        if (!ScanInt(s, v)) break;
        *fields[i] = static_cast<int>(v);
        ++read;
    }
    return read;
}

// User form to int8: steps shared by the int8 and the GT conversion.
bool EncTimeToInstant(std::string_view input, bool utc, std::uint64_t& instant) {
    std::string text(input);
    if (text.find('-') == std::string::npos) text += "-00:00:00";

    CalendarTime t;
    ScanUserTime(text, t);
    diag::DebugOut("DEBUG: Year  =" + std::to_string(t.year) + "\n");
    diag::DebugOut("DEBUG: Month =" + std::to_string(t.month) + "\n");
    diag::DebugOut("DEBUG: Day   =" + std::to_string(t.day) + "\n");
    diag::DebugOut("DEBUG: Hour  =" + std::to_string(t.hour) + "\n");
    diag::DebugOut("DEBUG: Minute=" + std::to_string(t.minute) + "\n");
    diag::DebugOut("DEBUG: Second=" + std::to_string(t.second) + "\n");
    // The very first instant would be int8 0, which the directory treats as
    // "never"; nudge it so it stays a real time.
    t.millis = text == "1601/01/01-00:00:00" ? 25 : 0;

    if (!IsValidCalendar(t)) {
        diag::Out("ERROR: Couldn't convert [" + text + "] to FILETIME. Error [" +
                  std::to_string(kErrorInvalidParameter) + "]\n");
        return false;
    }
    std::uint64_t v = 0;
    if (utc) {
        UtcToInt8(t, v);
    } else if (!LocalToInt8(t, v)) {
        diag::Out("ERROR: Couldn't convert [" + text + "] to UTC FILETIME.  Error [" +
                  std::to_string(kErrorInvalidParameter) + "]\n");
        return false;
    }
    instant = v;
    return true;
}

std::string GTText(const CalendarTime& t, std::string_view suffix) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%4.4i%2.2i%2.2i%2.2i%2.2i%2.2i", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf + std::string(suffix);
}

// Generalized time of an int8 instant; empty when it has no calendar form or
// its year needs more than four digits.
std::string GTOf(std::uint64_t v, std::string_view suffix) {
    CalendarTime t;
    if (v > kInt8MaxGtInstant || !Int8ToUtc(v, t)) return {};
    return GTText(t, suffix);
}

std::string FormatDelta(const char* format, std::int64_t a, std::int64_t b = 0, std::int64_t c = 0,
                        std::int64_t d = 0) {
    char buf[128];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf, sizeof buf, format, static_cast<long long>(a), static_cast<long long>(b),
                  static_cast<long long>(c), static_cast<long long>(d));
#pragma GCC diagnostic pop
    return buf;
}

std::uint64_t Now() {
    std::timespec ts{};
    std::timespec_get(&ts, TIME_UTC);
    const std::uint64_t v =
        SecondsToInt8(static_cast<std::int64_t>(ts.tv_sec) + kSecsFrom1601To1970,
                      static_cast<int>(ts.tv_nsec / 1000000));
    return v;
}

} // namespace

std::uint64_t MyGetCurrentTimeDate() {
    KELVO_TRACE_SCOPE();
    return Now();
}

// --- Checked time arithmetic ---------------------------------------------------

std::string_view TimeErrorText(TimeError error) {
    switch (error) {
    case TimeError::None:
        return "no error";
    case TimeError::CountOutOfRange:
        return "a count is outside -2147483648 to 2147483647";
    case TimeError::DeltaOutOfRange:
        return "the delta does not fit in 64 bits of 100-nanosecond intervals (about 29,000 years)";
    case TimeError::InstantOutOfRange:
        return "the time is outside the int8 range, 1601/01/01-00:00:00 to 30828/09/14-02:48:05 "
               "UTC";
    case TimeError::YearOutOfRange:
        return "the year is outside 0001 to 9999, the range of generalized time";
    }
    return "unknown time error";
}

TimeError RelativeDelta(std::string_view text, std::int64_t& units) {
    KELVO_TRACE_SCOPE();
    std::int64_t total = 0;
    if (text.find(':') != std::string_view::npos) {
        std::int64_t part = 0;
        if (TimeError e = ColonDelta(text, part); e != TimeError::None) return e;
        total = part;
    }
    // Applied in this order; each letter found adds the leading count once.
    static constexpr std::pair<char, std::int64_t> kUnits[] = {
        {'d', kInt8Day}, {'h', kInt8Hour}, {'m', kInt8Minute}, {'s', kInt8Second}};
    for (const auto& [letter, unit] : kUnits) {
        if (text.find(letter) == std::string_view::npos) continue;
        std::int64_t count = 0;
        std::int64_t part = 0;
        if (TimeError e = LeadingCount(text, count); e != TimeError::None) return e;
        if (TimeError e = Scale(count, unit, part); e != TimeError::None) return e;
        if (TimeError e = Accumulate(total, part); e != TimeError::None) return e;
    }
    units = total;
    return TimeError::None;
}

TimeError OffsetInstant(std::uint64_t instant, std::int64_t units, std::uint64_t& result) {
    std::int64_t moved = 0;
    if (instant > kMaxInstant ||
        __builtin_add_overflow(static_cast<std::int64_t>(instant), units, &moved) || moved < 0)
        return TimeError::InstantOutOfRange;
    result = static_cast<std::uint64_t>(moved);
    return TimeError::None;
}

// --- DSTIME -------------------------------------------------------------------

DSTIME::DSTIME(TimeMode mode) {
    KELVO_TRACE_SCOPE();
    (void)Process(mode, Now());
}

DSTIME::DSTIME(TimeMode mode, std::uint64_t instant) {
    KELVO_TRACE_SCOPE();
    (void)Process(mode, instant);
}

bool DSTIME::Process(TimeMode mode, std::uint64_t instant) {
    KELVO_TRACE_SCOPE();
    mode_ = mode;
    instant_ = instant;
    int8Text_ = std::to_string(static_cast<std::int64_t>(instant));
    diag::DebugOut("DEBUG: uli = " + int8Text_ + "\n");

    CalendarTime t;
    bool ok;
    if (mode == TimeMode::Local) {
        ok = Int8ToLocal(instant, t, zone_);
    } else {
        ok = Int8ToUtc(instant, t);
        zone_ = "UTC";
    }
    if (!ok) {
        diag::Out("ERROR: " + std::to_string(kErrorInvalidParameter) + "\n");
        t = CalendarTime{};
    }
    year_ = t.year;
    month_ = t.month;
    day_ = t.day;
    hour_ = t.hour;
    minute_ = t.minute;
    second_ = t.second;
    millis_ = t.millis;
    if (ok) {
        FormatStrings();
    } else {
        displayText_ = kInvalidFormat;
        altDisplayText_ = kInvalidFormat;
    }
    return ok;
}

void DSTIME::FormatStrings() {
    KELVO_TRACE_SCOPE();
    // The zone name ends both texts.
    char buf[128];
    std::snprintf(buf, sizeof buf, "%4.4i/%2.2i/%2.2i-%2.2i:%2.2i:%2.2i ", year_, month_, day_,
                  hour_, minute_, second_);
    displayText_ = buf + zone_;
    std::snprintf(buf, sizeof buf, "%2.2i/%2.2i/%4.4i-%2.2i:%2.2i:%2.2i ", month_, day_, year_,
                  hour_, minute_, second_);
    altDisplayText_ = buf + zone_;
}

bool DSTIME::Move(TimeError error, std::int64_t units, std::string_view shown) {
    // The instant is kept as the bits of a signed count, so a pure delta may
    // go below 0; only a move that would wrap is refused.
    std::int64_t moved = 0;
    if (error == TimeError::None &&
        __builtin_add_overflow(static_cast<std::int64_t>(instant_), units, &moved))
        error = TimeError::DeltaOutOfRange;
    if (error != TimeError::None) {
        diag::Out("ERROR: Time delta out of range [" + std::string(shown) +
                  "]: " + std::string(TimeErrorText(error)) + "\n");
        return false;
    }
    return Process(mode_, static_cast<std::uint64_t>(moved));
}

bool DSTIME::Shift(std::int64_t count, std::int64_t unit, std::string_view unitName) {
    std::int64_t units = 0;
    const TimeError error = Scale(count, unit, units);
    return Move(error, units, std::to_string(count) + " " + std::string(unitName));
}

bool DSTIME::ShiftText(std::string_view text, std::int64_t unit, std::string_view unitName) {
    std::int64_t count = 0;
    if (TimeError error = LeadingCount(text, count); error != TimeError::None)
        return Move(error, 0, text);
    return Shift(count, unit, unitName);
}

bool DSTIME::AddDays(std::int64_t n) {
    KELVO_TRACE_SCOPE();
    return Shift(n, kInt8Day, "days");
}
bool DSTIME::AddHours(std::int64_t n) {
    KELVO_TRACE_SCOPE();
    return Shift(n, kInt8Hour, "hours");
}
bool DSTIME::AddMins(std::int64_t n) {
    KELVO_TRACE_SCOPE();
    return Shift(n, kInt8Minute, "minutes");
}
bool DSTIME::AddSecs(std::int64_t n) {
    KELVO_TRACE_SCOPE();
    return Shift(n, kInt8Second, "seconds");
}
bool DSTIME::AddDays(std::string_view text) {
    return ShiftText(text, kInt8Day, "days");
}
bool DSTIME::AddHours(std::string_view text) {
    return ShiftText(text, kInt8Hour, "hours");
}
bool DSTIME::AddMins(std::string_view text) {
    return ShiftText(text, kInt8Minute, "minutes");
}
bool DSTIME::AddSecs(std::string_view text) {
    return ShiftText(text, kInt8Second, "seconds");
}

bool DSTIME::AddTime(std::string_view text) {
    KELVO_TRACE_SCOPE();
    std::int64_t units = 0;
    const TimeError error = ColonDelta(text, units);
    return Move(error, units, text);
}

void DSTIME::InitDelta(std::int64_t units) {
    KELVO_TRACE_SCOPE();
    const std::int64_t total = units / kInt8Second;
    const std::int64_t days = total / kSecsPerDay;
    const std::int64_t hours = total % kSecsPerDay / 3600;
    const std::int64_t minutes = total % 3600 / 60;
    const std::int64_t seconds = total % 60;
    deltaSeconds_ = total;
    // Zero leading units print as "0d" and "00", so one format serves all.
    deltaShortText_ = FormatDelta("%lldd:%02lldh:%02lldm:%02llds", days, hours, minutes, seconds);
    if (days != 0) {
        deltaText_ = FormatDelta("%lld days %lld hours %lld minutes %lld seconds", days, hours,
                                 minutes, seconds);
    } else if (hours != 0) {
        deltaText_ = FormatDelta("%lld hours %lld minutes %lld seconds", hours, minutes, seconds);
    } else if (minutes != 0) {
        deltaText_ = FormatDelta("%lld minutes %lld seconds", minutes, seconds);
    } else {
        deltaText_ = FormatDelta("%lld seconds", seconds);
    }
}

bool DSTIME::InitDelta(const DSTIME& start) {
    std::int64_t units = 0;
    if (__builtin_sub_overflow(static_cast<std::int64_t>(instant_),
                               static_cast<std::int64_t>(start.instant_), &units)) {
        diag::Out("ERROR: Time delta out of range [" + start.int8Text_ + " to " + int8Text_ +
                  "]: " + std::string(TimeErrorText(TimeError::DeltaOutOfRange)) + "\n");
        return false;
    }
    InitDelta(units);
    return true;
}

std::string DSTIME::GetGT(std::string_view suffix) const {
    KELVO_TRACE_SCOPE();
    return GTOf(instant_, suffix);
}

// --- Free conversions -------------------------------------------------------

std::string EncTime_to_int8(std::string_view text, bool utc) {
    KELVO_TRACE_SCOPE();
    std::uint64_t v = 0;
    if (!EncTimeToInstant(text, utc, v)) return {};
    return std::to_string(static_cast<std::int64_t>(v));
}

std::string EncTime_to_GT(std::string_view text, bool utc) {
    KELVO_TRACE_SCOPE();
    std::uint64_t v = 0;
    if (!EncTimeToInstant(text, utc, v)) return {};
    if (v > kInt8MaxGtInstant) {
        diag::Out("ERROR: Couldn't convert [" + std::string(text) + "] to generalized time: " +
                  std::string(TimeErrorText(TimeError::YearOutOfRange)) + "\n");
        return {};
    }
    return GTOf(v, ".0Z");
}

std::string Int8_to_GT(std::string_view int8Text, std::string_view suffix) {
    KELVO_TRACE_SCOPE();
    // Read as an unsigned 64-bit number: blanks and a sign are accepted, and a
    // negative value wraps to one that has no calendar form.
    const std::string text(int8Text);
    const char* begin = text.c_str();
    char* end = nullptr;
    const unsigned long long v = std::strtoull(begin, &end, 10);
    if (end == begin) return {};
    return GTOf(v, suffix);
}

std::string CurrentLocalTimeText() {
    KELVO_TRACE_SCOPE();
    return DSTIME(TimeMode::Local).DisplayText();
}
