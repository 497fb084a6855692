#include "ErrorReport.h"

#include "CaptureOutput.h"
#include "LdapPtr.h"

#include <gtest/gtest.h>

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
        CaptureOutput cap;
        DisplayLDAPError(LDAP_INSUFFICIENT_ACCESS, ld.get(), "", "dc1");
        EXPECT_EQ(cap.out, ": [dc1] Error 0x32 (50) - Insufficient access\n"
                           "\nExtended Error: No extended error info available.\n\n");
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
                           "\nExtended Error: " +
                               std::string(diagText) + "\n\n");
        std::string text;
        EXPECT_EQ(GetExtendedError(ld.get(), text), 0);
        EXPECT_EQ(text, diagText);
    }
    std::string text = "x";
    EXPECT_NE(GetExtendedError(nullptr, text), 0);
    EXPECT_EQ(text, "");
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
