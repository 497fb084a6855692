#include "CaptureOutput.h"
#include "DSTime.h"
#include "ValueEncoding.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct Encoded {
    int rc;
    std::string attribute;
    Bytes bytes;
    std::string out;
    bool endsRun = false;
};

Encoded Encode(const std::string& attribute, const std::string& value) {
    CaptureOutput cap;
    Encoded e{0, attribute, {}, {}, false};
    const EncodeStatus status = EncodeBinaryAttribs(e.attribute, value, "test", e.bytes);
    e.rc = status.code;
    e.endsRun = status.endsRun;
    e.out = cap.out;
    return e;
}

Bytes Hex(const std::string& hex) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        b.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
}

TEST(ValueEncoding, BinaryForms) {
    struct Case {
        std::string attribute, value, bare, hex;
    };
    const Case cases[] = {
        {"guid##objectguid", "{26C18F02-9B73-495B-9F53-8207FC72527D}", "objectguid",
         "028FC126739B5B499F538207FC72527D"},
        {"guid##objectguid", "26C18F02-9B73-495B-9F53-8207FC72527D", "objectguid",
         "028FC126739B5B499F538207FC72527D"},
        {"hex##blob", "FFEA 34FD 76DA", "blob", "FFEA34FD76DA"},
        {"bin##blob", "00ff", "blob", "00FF"},
        {"txt##attr", "a\\nb", "attr", "610A62"},
        {"txt##attr", "x\\\\y", "attr", "785C79"},
        {"txt##attr", "\\0a\\ab\\4z", "attr", "0AAB407A"},
        {"sid##objectsid", "S-1-5-32-544", "objectsid", "01020000000000052000000020020000"},
    };
    for (const auto& c : cases) {
        auto e = Encode(c.attribute, c.value);
        ASSERT_EQ(e.rc, 0) << c.attribute << " " << c.value << e.out;
        EXPECT_EQ(e.attribute, c.bare);
        EXPECT_EQ(e.bytes, Hex(c.hex)) << c.value;
    }
}

TEST(ValueEncoding, Failures) {
    auto odd = Encode("hex##blob", "ABC");
    EXPECT_EQ(odd.rc, -1);
    EXPECT_NE(odd.out.find("ERROR: Odd number of HEX characters. (3) [ABC]"), std::string::npos);
    auto bad = Encode("hex##blob", "zz");
    EXPECT_EQ(bad.rc, -1);
    EXPECT_NE(bad.out.find("ERROR: Error in HEX conversion - (z) [zz]"), std::string::npos);
    EXPECT_NE(Encode("guid##g", "not-a-guid").rc, 0);
    EXPECT_NE(Encode("sid##s", "S-x").rc, 0);
    EXPECT_EQ(Encode("importfile##f", "/nonexistent/kelvo").rc, 2);
    EXPECT_FALSE(bad.endsRun);
    auto unknown = Encode("foo##attr", "x");
    EXPECT_EQ(unknown.rc, -1);
    EXPECT_TRUE(unknown.endsRun);
    EXPECT_NE(unknown.out.find("ERROR: Invalid binary encode type - foo"), std::string::npos);
}

TEST(ValueEncoding, Times) {
    setenv("TZ", "UTC", 1);
    tzset();
    auto utc = Encode("utc##accountexpires", "1601/01/02-00:00:00");
    EXPECT_EQ(std::string(utc.bytes.begin(), utc.bytes.end()), "864000000000");
    auto gt = Encode("utcgt##whenx", "2006/11/07-08:00:00");
    EXPECT_EQ(std::string(gt.bytes.begin(), gt.bytes.end()), "20061107080000.0Z");
    auto delta = Encode("delta##x", "-1d");
    EXPECT_EQ(std::string(delta.bytes.begin(), delta.bytes.end()), "-864000000000");
    auto bad = Encode("utc##x", "garbage");
    EXPECT_EQ(bad.rc, -1);
    auto now = Encode("current##x", "0");
    ASSERT_EQ(now.rc, 0);
    const long long current = std::stoll(std::string(now.bytes.begin(), now.bytes.end()));
    EXPECT_NEAR(static_cast<double>(current), static_cast<double>(MyGetCurrentTimeDate()),
                5.0 * 10000000);
    auto earlier = Encode("current##x", "-30d");
    const long long back = std::stoll(std::string(earlier.bytes.begin(), earlier.bytes.end()));
    EXPECT_NEAR(static_cast<double>(current - back), 30.0 * 864000000000, 5.0 * 10000000);
}

// Times beyond what the attribute's form can hold are refused with a
// message, and nothing is written for them.
TEST(ValueEncoding, TimeRanges) {
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        std::string attribute, value;
        std::string written; // "" when the value is refused; "*" any number
        std::string reason;
    };
    const std::string countReason = "a count is outside -2147483648 to 2147483647";
    const std::string deltaReason =
        "the delta does not fit in 64 bits of 100-nanosecond intervals (about 29,000 years)";
    const std::string int8Reason = "the time is outside the int8 range";
    const std::string yearReason = "the year is outside 0001 to 9999";
    const Case cases[] = {
        // A delta is any signed 64-bit count of 100 ns.
        {"delta##x", "-10675199d", "-9223371936000000000", ""},
        {"delta##x", "10675199d", "9223371936000000000", ""},
        {"delta##x", "-10675200d", "", deltaReason},
        {"delta##x", "-20000000d", "", deltaReason},
        {"delta##x", "2147483647d", "", deltaReason},
        {"delta##x", "2147483648s", "", countReason},
        {"delta##x", "-2147483648s", "-21474836480000000", ""},
        {"delta##x", "-10675199:00:00:00d", "", deltaReason},
        // From now, the result must stay between 1601 and 30828 ...
        {"current##description", "2147483647d", "", deltaReason},
        {"current##x", "10000000d", "*", ""},
        {"current##x", "10675199d", "", int8Reason},
        {"current##x", "-200000d", "", int8Reason},
        // ... and for generalized time have a four-digit year.
        {"currentgt##x", "2000000d", "*", ""},
        {"currentgt##x", "3000000d", "", yearReason},
        {"currentgt##x", "10675199d", "", int8Reason},
        {"utcgt##x", "9999/12/31-23:59:59", "99991231235959.0Z", ""},
        {"utcgt##x", "10000/01/01", "", yearReason},
        {"utc##x", "10000/01/01", "2650467744000000000", ""},
    };
    for (const auto& c : cases) {
        const auto e = Encode(c.attribute, c.value);
        const std::string written(e.bytes.begin(), e.bytes.end());
        if (c.written.empty()) {
            EXPECT_EQ(e.rc, -1) << c.attribute << "::" << c.value << " wrote " << written;
            EXPECT_FALSE(e.endsRun) << c.attribute << "::" << c.value;
            EXPECT_TRUE(e.bytes.empty()) << c.attribute << "::" << c.value << " wrote " << written;
            EXPECT_NE(e.out.find(c.reason), std::string::npos) << c.value << "\n" << e.out;
            EXPECT_NE(
                e.out.find("ERROR: Time conversion failed for (" + c.value + "), exiting...\n"),
                std::string::npos)
                << e.out;
        } else {
            ASSERT_EQ(e.rc, 0) << c.attribute << "::" << c.value << "\n" << e.out;
            if (c.written == "*") {
                EXPECT_FALSE(written.empty()) << c.value;
                EXPECT_EQ(written.find_first_not_of("0123456789.Z"), std::string::npos) << written;
            } else {
                EXPECT_EQ(written, c.written) << c.attribute << "::" << c.value;
            }
        }
    }
}

TEST(ValueEncoding, WholeFile) {
    char path[] = "/tmp/kelvo-importXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "\x01\x00\x02", 3), 3);
    close(fd);
    auto e = Encode("importfile##jpegphoto", path);
    unlink(path);
    ASSERT_EQ(e.rc, 0);
    EXPECT_EQ(e.bytes, (Bytes{1, 0, 2}));
    EXPECT_EQ(e.attribute, "jpegphoto");
}

} // namespace
