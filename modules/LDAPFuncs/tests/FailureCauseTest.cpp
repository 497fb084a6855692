#include "FailureCause.h"
#include "LibraryLog.h"

#include <ldap.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Texts as the libraries and servers give them.  The GSSAPI, Kerberos, Samba
// and GnuTLS ones were captured from the lab; the OpenSSL ones are how
// libldap's OpenSSL build words a failed certificate check.
TEST(FailureCause, RealTexts) {
    const struct {
        const char* text;
        const char* cause;
    } cases[] = {
        // Kerberos through Cyrus SASL.
        {"SASL(-1): generic failure: GSSAPI Error: No credentials were supplied, or the "
         "credentials were unavailable or inaccessible (No Kerberos credentials available "
         "(default cache: FILE:/nonexistent/x))",
         "No Kerberos ticket"},
        {"SASL(-1): generic failure: GSSAPI Error: No credentials were supplied, or the "
         "credentials were unavailable or inaccessible (SPNEGO cannot find mechanisms to "
         "negotiate)",
         "No Kerberos ticket"},
        {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
         "provide more information (Server not found in Kerberos database)",
         "The KDC does not know the server's service principal "},
        {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
         "provide more information (Clock skew too great)",
         "The clocks of this computer and the domain controller differ by more than Kerberos "
         "allows "},
        {"SASL(-1): generic failure: GSSAPI Error: Unspecified GSS failure.  Minor code may "
         "provide more information (Ticket expired)",
         "The Kerberos ticket has expired"},
        {"SASL(-4): no mechanism available: No worthy mechs found", "No usable SASL mechanism"},
        // Kelvo's own Kerberos logon with -u and -up.
        {"Kerberos: Cannot contact any KDC for realm 'LAB.KELVO.TEST'",
         "No KDC of the Kerberos realm answered"},
        {"Kerberos: Cannot find KDC for realm \"NOWHERE.KELVO.TEST\"",
         "No KDC is known for the Kerberos realm"},
        {"Kerberos: Client 'nobody@LAB.KELVO.TEST' not found in Kerberos database",
         "The KDC does not know the user"},
        {"Kerberos: Client not found in Kerberos database", "The KDC does not know the user"},
        {"Kerberos: Server 'krbtgt/NOWHERE@LAB.KELVO.TEST' not found in Kerberos database",
         "The KDC does not know the server's service principal "},
        // The pieces of a pattern must come in order.
        {"Kerberos: not found in Kerberos database, Client 'x'", ""},
        {"Kerberos: Preauthentication failed", "The Kerberos password is wrong."},
        {"Kerberos: Password incorrect", "The Kerberos password is wrong."},
        {"Kerberos: Client's credentials have been revoked", "The KDC refused the user"},
        // Samba's refusal of a simple bind on 389.
        {"BindSimple: Transport encryption required.",
         "The server accepts this bind only over an encrypted connection"},
        // OpenSSL builds of libldap.
        {"error:0A000086:SSL routines::certificate verify failed (unable to get local issuer "
         "certificate)",
         "The server's certificate is not trusted"},
        {"error:0A000086:SSL routines::certificate verify failed (self-signed certificate)",
         "The server's certificate is not trusted"},
        {"error:0A000086:SSL routines::certificate verify failed (certificate has expired)",
         "The server's certificate has expired."},
        {"error:0A000086:SSL routines::certificate verify failed (certificate is not yet valid)",
         "The server's certificate is not valid yet "},
        {"TLS: hostname does not match CN in peer certificate",
         "The server's certificate does not carry the name Kelvo connected to"},
        {"TLS: hostname does not match subjectAltName in peer certificate",
         "The server's certificate does not carry the name Kelvo connected to"},
        {"error:0A00010B:SSL routines::wrong version number", "The TLS handshake broke off"},
        {"error:0A000102:SSL routines::unsupported protocol",
         "Client and server share no TLS protocol version or cipher suite "},
        // The GnuTLS build's log lines.
        {"TLS: peer cert untrusted or revoked (0x42)", "The server's certificate is not trusted"},
        {"TLS: peer cert untrusted or revoked (0x402)", "The server's certificate has expired."},
        {"TLS: peer cert untrusted or revoked (0x202)",
         "The server's certificate is not valid yet "},
        {"TLS: peer cert untrusted or revoked (0x22)",
         "The server's certificate has been revoked."},
        {"TLS: peer cert untrusted or revoked (0x4002)",
         "The server's certificate does not carry the name Kelvo connected to"},
        // Untrusted and expired: the trust problem is named first.
        {"TLS: peer cert untrusted or revoked (0x442)", "The server's certificate is not trusted"},
        {"TLS: peer certificate is expired", "The server's certificate has expired."},
        {"TLS: hostname (127.0.83.21) does not match common name in certificate "
         "(KDC-0-83-21.lab.kelvo.test).",
         "The server's certificate does not carry the name Kelvo connected to"},
        {"TLS: can't connect: Error in the pull function..", "The TLS handshake broke off"},
        {"TLS: could not use CA certificate file `/nonexistent.pem': Error while reading file. "
         "(-64)",
         "The CA certificate file or folder named by LDAPTLS_CACERT"},
        {"TLS: could not load verify locations (file:`/nonexistent.pem',dir:`').",
         "The CA certificate file or folder named by LDAPTLS_CACERT"},
        {"TLS: can't connect: A TLS fatal alert has been received..",
         "Client and server share no TLS protocol version or cipher suite "},
        // Texts that name no cause.
        {"", ""},
        {"(unknown error code)", ""},
        {"TLS: can't connect: (unknown error code).", ""},
        {"00002098: Object CN=x has no write property access", ""},
        {"TLS: peer cert untrusted or revoked (0x)", ""},
        {"TLS: peer cert untrusted or revoked (0x0)", ""},
        {"TLS: peer cert untrusted or revoked (0xZZ)", ""},
        {"TLS: peer cert untrusted or revoked (0x42", ""},
        {"TLS: peer cert untrusted or revoked (0x1)", ""}, // a bit no rule explains
    };
    for (const auto& c : cases) {
        const std::string cause(FailureCause(c.text));
        if (*c.cause == '\0')
            EXPECT_EQ(cause, "") << c.text;
        else
            EXPECT_TRUE(cause.starts_with(c.cause)) << c.text << "\n  gave: " << cause;
    }
}

TEST(FailureCause, DiagnosticFirstThenLogLines) {
    const std::vector<std::string> lines = {
        "TLS: peer cert untrusted or revoked (0x42)",
        "TLS: can't connect: (unknown error code).",
    };
    EXPECT_TRUE(std::string(FailureCause("(unknown error code)", lines))
                    .starts_with("The server's certificate is not trusted"));
    EXPECT_TRUE(std::string(FailureCause("Kerberos: Ticket expired", lines))
                    .starts_with("The Kerberos ticket has expired"));
    EXPECT_EQ(FailureCause("(unknown error code)", {}), "");
}

TEST(FailureCause, EveryRuleNamesACause) {
    for (const auto& rule : FailureCauseRules()) {
        EXPECT_TRUE(rule.text.empty() != (rule.tlsStatus == 0)) << rule.text;
        EXPECT_TRUE(rule.cause.ends_with(".")) << rule.text;
        // A text rule is found by its own text, in any case.
        if (!rule.text.empty()) {
            std::string upper(rule.text);
            for (auto& c : upper)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            EXPECT_NE(FailureCause("x " + upper + " y"), "") << rule.text;
        }
    }
}

TEST(TlsFailureLine, PicksTheLineThatSaysMost) {
    EXPECT_EQ(TlsFailureLine({}), "");
    EXPECT_EQ(TlsFailureLine({"TLS: peer cert untrusted or revoked (0x42)",
                              "TLS: can't connect: (unknown error code)."}),
              "TLS: peer cert untrusted or revoked (0x42)");
    EXPECT_EQ(TlsFailureLine({"TLS: loaded 3 CA certificates", "TLS: something new",
                              "TLS: can't connect: (unknown error code)."}),
              "TLS: something new");
    EXPECT_EQ(TlsFailureLine({"TLS: can't connect: (unknown error code)."}),
              "TLS: can't connect: (unknown error code).");
}

// A TLS context that cannot load its CA file makes libldap log why; the
// capture keeps that line and leaves the log settings as they were.
TEST(TlsLogCapture, KeepsTheTlsLinesAndRestoresTheLog) {
    int levelBefore = -1;
    ASSERT_EQ(ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &levelBefore), LDAP_OPT_SUCCESS);
    BER_LOG_PRINT_FN printerBefore = nullptr;
    ASSERT_EQ(ber_get_option(nullptr, LBER_OPT_LOG_PRINT_FN, &printerBefore), LBER_OPT_SUCCESS);
    std::vector<std::string> lines;
    {
        const TlsLogCapture capture;
        ASSERT_TRUE(capture.Active());
        // Only one capture at a time: a second one stays inactive.
        const TlsLogCapture second;
        EXPECT_FALSE(second.Active());

        LDAP* ld = nullptr;
        ASSERT_EQ(ldap_initialize(&ld, "ldaps://127.0.0.1:1"), LDAP_SUCCESS);
        (void)ldap_set_option(ld, LDAP_OPT_X_TLS_CACERTFILE, "/nonexistent/kelvo-ca.pem");
        const int isServer = 0;
        EXPECT_NE(ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &isServer), LDAP_OPT_SUCCESS);
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        lines = capture.Lines();
    }
    ASSERT_FALSE(lines.empty());
    for (const auto& line : lines) {
        EXPECT_TRUE(line.starts_with("TLS:")) << line;
        EXPECT_FALSE(line.ends_with("\n")) << line;
    }
    int levelAfter = -1;
    ASSERT_EQ(ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &levelAfter), LDAP_OPT_SUCCESS);
    EXPECT_EQ(levelAfter, levelBefore);
    BER_LOG_PRINT_FN printerAfter = nullptr;
    ASSERT_EQ(ber_get_option(nullptr, LBER_OPT_LOG_PRINT_FN, &printerAfter), LBER_OPT_SUCCESS);
    EXPECT_EQ(printerAfter, printerBefore);
}

} // namespace
