#include "ErrorReport.h"

#include "ADErrorText.h"
#include "CaptureOutput.h"
#include "FailureCause.h"
#include "LdapPtr.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ErrorReport, ClientCodesTakeWindowsValues) {
    const struct {
        int code;
        std::uint32_t shown;
    } cases[] = {
        {LDAP_SUCCESS, 0},          {LDAP_INVALID_CREDENTIALS, 0x31},
        {LDAP_OTHER, 0x50},         {LDAP_SERVER_DOWN, 0x51},
        {LDAP_LOCAL_ERROR, 0x52},   {LDAP_TIMEOUT, 0x55},
        {LDAP_CONNECT_ERROR, 0x5b}, {LDAP_REFERRAL_LIMIT_EXCEEDED, 0x61},
        {LDAP_X_CONNECTING, 0x52}, // no Windows value: reported as a local error
    };
    for (const auto& c : cases)
        EXPECT_EQ(ToWinLdapCode(c.code), c.shown) << c.code;
}

TEST(ErrorReport, TextIsThatOfTheLibldapCodeInEitherForm) {
    EXPECT_EQ(GetLDAPErrorString(49), ldap_err2string(49));
    EXPECT_EQ(GetLDAPErrorString(LDAP_SERVER_DOWN), ldap_err2string(LDAP_SERVER_DOWN));
    EXPECT_EQ(GetLDAPErrorString(0x51), ldap_err2string(LDAP_SERVER_DOWN));
    EXPECT_EQ(GetLDAPErrorString(0x61), ldap_err2string(LDAP_REFERRAL_LIMIT_EXCEEDED));
    EXPECT_EQ(GetLDAPErrorString(0x50), ldap_err2string(LDAP_OTHER));
}

TEST(ErrorReport, DisplayLineFormat) {
    const struct {
        int code;
        const char* what;
        const char* where;
        std::string expected;
    } cases[] = {
        {0x31, "ldap_bind_s", "dc1",
         "ldap_bind_s: [dc1] Error 0x31 (49) - " + std::string(ldap_err2string(49)) + "\n"},
        {LDAP_SERVER_DOWN, "ldap_sslinit", "srv",
         "ldap_sslinit: [srv] Error 0x51 (81) - Can't contact LDAP server\n"},
        {0x51, "ldap_sslinit", "srv",
         "ldap_sslinit: [srv] Error 0x51 (81) - Can't contact LDAP server\n"},
        // Labels that end in ": " get a second colon.
        {LDAP_LOCAL_ERROR, "ldap_set_option (Version3): ", "dc1",
         "ldap_set_option (Version3): : [dc1] Error 0x52 (82) - Local error\n"},
        // A failed object operation: empty label, the server's host name.
        {LDAP_NO_SUCH_OBJECT, "", "dc1.corp.example",
         ": [dc1.corp.example] Error 0x20 (32) - No such object\n"},
        {0, "x", "", "x: [] Error 0x0 (0) - Success\n"},
    };
    for (const auto& c : cases) {
        CaptureOutput cap;
        DisplayLDAPError(c.code, nullptr, c.what, c.where);
        EXPECT_EQ(cap.out, c.expected);
        EXPECT_EQ(cap.err, "");
    }
}

TEST(ErrorReport, ExtendedErrorFromTheSession) {
    LDAP* raw = nullptr;
    ASSERT_EQ(ldap_initialize(&raw, "ldap://127.0.0.1:1"), LDAP_SUCCESS);
    LdapHandle ld(raw);
    {
        // No diagnostic text: only -exterr says so.
        CaptureOutput cap;
        DisplayLDAPError(LDAP_INSUFFICIENT_ACCESS, ld.get(), "", "dc1");
        DisplayLDAPError(LDAP_INSUFFICIENT_ACCESS, ld.get(), "", "dc1", true);
        EXPECT_EQ(cap.out, ": [dc1] Error 0x32 (50) - Insufficient access\n"
                           ": [dc1] Error 0x32 (50) - Insufficient access\n"
                           "   Extended Error: No extended error info available.\n");
        std::string text = "stale";
        EXPECT_EQ(GetExtendedError(ld.get(), text), 0);
        EXPECT_EQ(text, "");
    }
    const char* diagText = "00002098: SecErr: DSID-03150F94, problem 4003, data 0";
    ASSERT_EQ(ldap_set_option(ld.get(), LDAP_OPT_DIAGNOSTIC_MESSAGE, diagText), LDAP_OPT_SUCCESS);
    {
        CaptureOutput cap;
        DisplayLDAPError(LDAP_INSUFFICIENT_ACCESS, ld.get(), "", "dc1");
        EXPECT_EQ(cap.out, ": [dc1] Error 0x32 (50) - Insufficient access\n"
                           "   Extended Error: " +
                               std::string(diagText) +
                               "\n   Meaning: " + std::string(ADErrorMeaning(diagText)) + "\n");
        EXPECT_EQ(cap.err, "");
        std::string text;
        EXPECT_EQ(GetExtendedError(ld.get(), text), 0);
        EXPECT_EQ(text, diagText);
    }
    {
        // A text the caller found stands in for the session's.
        CaptureOutput cap;
        DisplayLDAPError(LDAP_SERVER_DOWN, ld.get(), "ldap_bind_s", "dc1", false,
                         "TLS: peer cert untrusted or revoked (0x42)");
        EXPECT_EQ(cap.out,
                  "ldap_bind_s: [dc1] Error 0x51 (81) - Can't contact LDAP server\n"
                  "   Extended Error: TLS: peer cert untrusted or revoked (0x42)\n"
                  "   Cause: " +
                      std::string(FailureCause("TLS: peer cert untrusted or revoked (0x42)")) +
                      "\n");
    }
    std::string text = "x";
    EXPECT_NE(GetExtendedError(nullptr, text), 0);
    EXPECT_EQ(text, "");
}

TEST(ErrorReport, DiagnosticLines) {
    const std::string bind =
        "80090308: LdapErr: DSID-0C0903A9, comment: AcceptSecurityContext error, data 533, v1db1";
    const std::string skew = "SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  "
                             "Minor code may provide more information (Clock skew too great)";
    const struct {
        std::string diagnostic;
        bool noteMissing;
        std::vector<std::string> libraryLines;
        std::string expected;
    } cases[] = {
        {"", false, {}, ""},
        {"", true, {}, "   Extended Error: No extended error info available.\n"},
        // Line ends and other control characters never break the block apart.
        {"0000202B: RefErr: DSID-031007EF, data 0, 1 access points\n\tref 1: 'x'\n\x1b[2J",
         false,
         {},
         "   Extended Error: 0000202B: RefErr: DSID-031007EF, data 0, 1 access points  ref 1: "
         "'x'  [2J\n   Meaning: " +
             std::string(FindADErrorCode(0x202B)->meaning) + "\n"},
        {"\n\r", true, {}, "   Extended Error: No extended error info available.\n"},
        {bind,
         false,
         {},
         "   Extended Error: " + bind +
             "\n   Meaning: " + std::string(FindADErrorCode(0x533)->meaning) + "\n"},
        {skew,
         false,
         {},
         "   Extended Error: " + skew + "\n   Cause: " + std::string(FailureCause(skew)) + "\n"},
        // No rule for the text itself, but the TLS log names the cause.
        {"(unknown error code)",
         false,
         {"TLS: hostname (10.0.0.1) does not match common name in certificate (dc1)."},
         "   Extended Error: (unknown error code)\n   Cause: " +
             std::string(FailureCause("hostname does not match")) + "\n"},
        {"Server is unwilling", false, {}, "   Extended Error: Server is unwilling\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DiagnosticLines(c.diagnostic, c.noteMissing, c.libraryLines), c.expected)
            << c.diagnostic;
}

TEST(ErrorReport, SearchFailureGoesToStandardError) {
    CaptureOutput cap;
    ReportSearchFailure(LDAP_NO_SUCH_OBJECT);
    ReportSearchFailure(LDAP_SERVER_DOWN);
    EXPECT_EQ(cap.out, "");
    EXPECT_EQ(cap.err, "LDAP_SEARCH_S: 0x20\nLDAP_SEARCH_S: No such object\n\n"
                       "LDAP_SEARCH_S: 0x51\nLDAP_SEARCH_S: Can't contact LDAP server\n\n");
}

} // namespace
