#include "Connection.h"

#include "Bind.h"
#include "Credentials.h"
#include "Diag.h"
#include "ErrorReport.h"
#include "LdapConfig.h"
#include "LibraryLog.h"
#include "Platform.h"
#include "ServerLocator.h"
#include "pellixstrings.h"

#include <sys/time.h>

#include <cstdlib>
#include <utility>
#include <vector>

// Records the server the client connects to; libldap keeps a pointer to the
// callback block for the life of the handle.
struct ConnectWatch {
    ldap_conncb cb{};
    std::string host;
};

namespace {
extern "C" int OnConnect(LDAP*, Sockbuf*, LDAPURLDesc* srv, sockaddr*, ldap_conncb* ctx) {
    auto* watch = static_cast<ConnectWatch*>(ctx->lc_arg);
    if (watch->host.empty() && srv != nullptr && srv->lud_host != nullptr)
        watch->host = srv->lud_host;
    return 0;
}
extern "C" void OnDisconnect(LDAP*, Sockbuf*, ldap_conncb*) {}
} // namespace

LdapSession::LdapSession() = default;
LdapSession::LdapSession(LdapSession&&) noexcept = default;
LdapSession& LdapSession::operator=(LdapSession&& other) noexcept {
    if (this == &other) return *this;
    Unbind(); // the old handle goes before the state it refers to
    kerberos_ = std::move(other.kerberos_);
    connectWatch_ = std::move(other.connectWatch_);
    handle_ = std::move(other.handle_);
    serverName_ = std::move(other.serverName_);
    portText_ = std::move(other.portText_);
    hostName_ = std::move(other.hostName_);
    uri_ = std::move(other.uri_);
    mechanism_ = std::move(other.mechanism_);
    tls_ = other.tls_;
    ssf_ = other.ssf_;
    bindResult_ = other.bindResult_;
    return *this;
}
LdapSession::~LdapSession() = default;

void LdapUnbind::operator()(LDAP* ld) const {
    const platform::NoBrokenPipeSignal quiet;
    ldap_unbind_ext(ld, nullptr, nullptr);
}

void LdapSession::Unbind() {
    handle_.reset();
    connectWatch_.reset();
    kerberos_.reset();
}

namespace {

std::string Flag(bool value) {
    return value ? "1" : "0";
}

// The "DEBUG:    <name>: <value>" block that opens a connection at -d.
void PrintParams(const OpenLdapParams& p, const HostAndPort& target, bool simpleInForce) {
    if (!diag::Debug()) return;
    const std::string password =
        diag::Trace() ? p.password : (p.password.empty() ? "" : "********");
    const std::pair<const char*, std::string> lines[] = {
        {"DEBUG:    Server:    ", target.host},
        {"DEBUG:    ARecEx: ", Flag(p.aRecordExclusive)},
        {"DEBUG:    SSL: ", Flag(p.ssl)},
        {"DEBUG:    Port:        ", std::to_string(target.port)},
        {"DEBUG:    Ref:       ", Flag(p.referrals)},
        {"DEBUG:    V3:        ", Flag(p.version3)},
        {"DEBUG:    Anonymous: ", Flag(p.anonymous)},
        {"DEBUG:    userdn: ", p.user},
        {"DEBUG:    password: ", password},
        {"DEBUG:    Simple: ", Flag(simpleInForce)},
        {"DEBUG:    Digest Auth: ", Flag(p.digest)},
        {"DEBUG:    LDAP_OPT_ENCRYPT: ", Flag(p.kerberosEncryption)},
        {"DEBUG:    Delegation: ", Flag(p.delegation)},
        {"DEBUG:    Req Writeable: ", Flag(p.requireWriteable)},
        {"DEBUG:    Extended Error Info: ", Flag(p.extendedErrorInfo)},
        {"DEBUG:    Ignore Server Cert: ", Flag(p.ignoreServerCert)},
        {"DEBUG:    SSL Info: ", Flag(p.ssl || p.startTls)},
        {"DEBUG:    NTLM Auth: ", Flag(p.ntlm)},
        {"DEBUG:    StartTLS: ", Flag(p.startTls)},
    };
    std::string text = "DEBUG: In OpenLDAP... Params:\n";
    for (const auto& [label, value] : lines)
        text += label + value + "\n";
    diag::Out(text);
}

// Sets one session option.  A failure is reported; whether it stops the
// connection is the caller's decision.
bool SetOption(SetOptionCall setOption, LDAP* ld, int option, const void* value,
               std::string_view debugLine, std::string_view failureLabel, std::string_view where) {
    if (!debugLine.empty()) diag::DebugOut(debugLine);
    if (setOption(ld, option, value) == LDAP_OPT_SUCCESS) return true;
    DisplayLDAPError(LDAP_LOCAL_ERROR, nullptr, failureLabel, where);
    return false;
}

// TLS settings read from ldap.conf, the ldaprc files and the LDAPTLS_*
// variables, which live in the library's global options.
struct GlobalTlsSetting {
    int option;
    bool isText; // a string option, else an int
    std::string_view failureLabel;
};
constexpr GlobalTlsSetting kGlobalTlsSettings[] = {
    {LDAP_OPT_X_TLS_REQUIRE_CERT, false, "ldap_set_option (Require Server Cert): "},
    {LDAP_OPT_X_TLS_REQUIRE_SAN, false, "ldap_set_option (Require Subject Alt Name): "},
    {LDAP_OPT_X_TLS_CACERTFILE, true, "ldap_set_option (TLS CA Certificate File): "},
    {LDAP_OPT_X_TLS_CACERTDIR, true, "ldap_set_option (TLS CA Certificate Directory): "},
    {LDAP_OPT_X_TLS_CERTFILE, true, "ldap_set_option (TLS Certificate File): "},
    {LDAP_OPT_X_TLS_KEYFILE, true, "ldap_set_option (TLS Key File): "},
    {LDAP_OPT_X_TLS_CIPHER_SUITE, true, "ldap_set_option (TLS Cipher Suite): "},
    {LDAP_OPT_X_TLS_CRLFILE, true, "ldap_set_option (TLS CRL File): "},
    {LDAP_OPT_X_TLS_ECNAME, true, "ldap_set_option (TLS Curves): "},
    {LDAP_OPT_X_TLS_PROTOCOL_MIN, false, "ldap_set_option (TLS Minimum Protocol): "},
    {LDAP_OPT_X_TLS_PROTOCOL_MAX, false, "ldap_set_option (TLS Maximum Protocol): "},
    {LDAP_OPT_X_TLS_CRLCHECK, false, "ldap_set_option (TLS CRL Check): "},
};

// A handle starts without the global TLS settings; a TLS context made for the
// handle alone needs them copied first.  A setting that does not reach the
// handle would leave TLS weaker than configured, so it stops the connection.
bool CopyGlobalTlsSettings(SetOptionCall setOption, LDAP* ld, std::string_view where) {
    for (const auto& setting : kGlobalTlsSettings) {
        if (setting.isText) {
            char* raw = nullptr;
            if (ldap_get_option(nullptr, setting.option, &raw) != LDAP_OPT_SUCCESS ||
                raw == nullptr)
                continue;
            LdapStringPtr value(raw);
            if (!SetOption(setOption, ld, setting.option, value.get(), "", setting.failureLabel,
                           where))
                return false;
        } else {
            int value = 0;
            if (ldap_get_option(nullptr, setting.option, &value) != LDAP_OPT_SUCCESS) continue;
            if (!SetOption(setOption, ld, setting.option, &value, "", setting.failureLabel, where))
                return false;
        }
    }
    return true;
}

} // namespace

bool SetSessionOptions(LDAP* ld, const OpenLdapParams& p, std::string_view where,
                       SetOptionCall setOption) {
    KELVO_TRACE_SCOPE();
    // Failures of the plain options are reported and the next one still set.
    if (p.version3) {
        const int version = LDAP_VERSION3;
        (void)SetOption(setOption, ld, LDAP_OPT_PROTOCOL_VERSION, &version,
                        "DEBUG: LDAP_OPTION: Version 3\n", "ldap_set_option (Version3): ", where);
    }
    // A-record exclusive only steers how the server was located.
    if (p.aRecordExclusive) diag::DebugOut("DEBUG: LDAP_OPTION: A Record Exclusive\n");
    if (!p.referrals)
        (void)SetOption(setOption, ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF,
                        "DEBUG: LDAP_OPTION: No referrals\n",
                        "ldap_set_option (NoReferrals): ", where);
    // Sign and seal and delegation are SASL security properties, applied with
    // the mechanism at bind time.
    if (p.kerberosEncryption) diag::DebugOut("DEBUG: LDAP_OPTION: Kerberos Encryption\n");
    // Every server libldap reaches is written to; nothing to ask for.
    if (p.requireWriteable) diag::DebugOut("DEBUG: LDAP_OPTION: Require Writeable\n");
    // The TLS options decide whom the password and the data go to: one that
    // cannot be set stops the connection.
    // The configured settings come first, certificate checking (TLS_REQCERT)
    // included; -sslignoresrvcert is the one switch that overrides them.
    if (p.ssl || p.startTls || p.ignoreServerCert) {
        if (!CopyGlobalTlsSettings(setOption, ld, where)) return false;
        const int never = LDAP_OPT_X_TLS_NEVER;
        if (p.ignoreServerCert && !SetOption(setOption, ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &never,
                                             "DEBUG: LDAP_OPTION: Ignore Server Cert\n",
                                             "ldap_set_option (Ignore Server Cert On): ", where))
            return false;
        const int isServer = 0;
        if (!SetOption(setOption, ld, LDAP_OPT_X_TLS_NEWCTX, &isServer, "",
                       "ldap_set_option (TLS Context): ", where))
            return false;
    }
    if (p.delegation && diag::Debug()) diag::Err("DEBUG: LDAP_OPTION: Delegation\n");
    if (p.timeoutSeconds > 0) {
        timeval tv{p.timeoutSeconds, 0};
        const std::string line =
            "DEBUG: LDAP_OPTION: Timeout " + std::to_string(p.timeoutSeconds) + "\n";
        (void)SetOption(setOption, ld, LDAP_OPT_NETWORK_TIMEOUT, &tv, line,
                        "ldap_set_option (Network Timeout): ", where);
        (void)SetOption(setOption, ld, LDAP_OPT_TIMEOUT, &tv, "",
                        "ldap_set_option (Timeout): ", where);
    }
    diag::DebugOut("DEBUG: LDAP_OPTIONS SET\n");
    return true;
}

namespace {

// "BIN:" passwords become UTF-8 text; others are used as they are.
std::string PreparePassword(const std::string& password) {
    diag::TraceOut("DEBUG: Password0: " + password + "\n");
    std::string decoded;
    if (!DecodeBinPassword(password, decoded)) return password;
    if (diag::Trace()) {
        const std::string hex = password.substr(4);
        const auto bytes = HexStrToBin(hex, true);
        diag::Out("DEBUG: Binary Password: " + hex + "\n");
        diag::Out("DEBUG: Char Password: " + std::string(bytes.begin(), bytes.end()) + "\n");
        diag::Out("DEBUG: WChar Password: " + decoded + "\n");
    }
    return decoded;
}

// libldap's message when its TLS layer gives no reason.
constexpr std::string_view kNoTlsReason = "(unknown error code)";

// The diagnostic text to show for a failed StartTLS or bind: the session's
// own, unless there is none (or only libldap's "unknown error") and its TLS
// log says more.
std::string FailureDiagnostic(LDAP* ld, const TlsLogCapture& log) {
    std::string text;
    (void)GetExtendedError(ld, text);
    if ((text.empty() || text == kNoTlsReason) && !log.Lines().empty()) {
        std::string line = TlsFailureLine(log.Lines());
        if (!line.empty()) text = std::move(line);
    }
    return text;
}

} // namespace

HostAndPort ResolveHostAndPort(std::string_view server, int portParam, bool ssl) {
    HostAndPort out;
    out.host = std::string(server);
    const int fromHost = CheckHostNameForPort(out.host);
    const int defaultPort = fromHost != 0 ? fromHost : kPortLdap;
    if (portParam == 0)
        out.port = ssl ? kPortLdaps : defaultPort;
    else if (portParam == 1)
        out.port = ssl ? kPortGcSsl : kPortGc;
    else if (portParam >= 2)
        out.port = portParam;
    else
        out.port = defaultPort;
    if (!out.host.empty() && out.host.front() == '.') out.host = "localhost";
    return out;
}

std::string BuildLdapUri(std::string_view host, int port, bool ssl) {
    std::string uri = ssl ? "ldaps://" : "ldap://";
    const bool ipv6 = host.find(':') != std::string_view::npos && !host.starts_with("[");
    if (ipv6) uri += '[';
    uri += host;
    if (ipv6) uri += ']';
    uri += ':';
    uri += std::to_string(port);
    return uri;
}

int CheckHostNameForPort(std::string& host) {
    KELVO_TRACE_SCOPE();
    const auto first = host.find(':');
    if (first == std::string::npos) return 0;
    if (host.find(':', first + 1) != std::string::npos) {
        diag::DebugOut("DEBUG: IPv6 IP Address detected.\n");
        const auto close = host.find("]:");
        if (host.find('[') == std::string::npos || host.find(']') == std::string::npos ||
            close == std::string::npos || close == 0)
            return 0;
        const std::string portText = host.substr(close + 2, 6);
        host.resize(close + 1);
        return std::atoi(portText.c_str());
    }
    TokenVector pieces;
    GetTokens(host, ":", pieces);
    const std::string portText = pieces.size() > 1 ? pieces[1].substr(0, 6) : "";
    host = pieces.empty() ? "" : pieces[0];
    return std::atoi(portText.c_str());
}

bool ParseLDAPURL(std::string_view url, std::map<std::string, std::string>& fields) {
    KELVO_TRACE_SCOPE();
    if (!IStartsWith(url, "LDAP://") && !IStartsWith(url, "LDAPS://")) return false;
    fields["URL"] = std::string(url);
    TokenVector parts;
    GetXTokens(url, "/", parts, 4);
    fields["PROTOCOL"] = StrToUpper(parts[0]);
    fields["HOST"] = parts[2];
    if (!parts[3].empty()) {
        TokenVector query;
        GetXTokens(parts[3], "?", query, 4);
        if (query[2].empty()) query[2] = "BASE";
        if (query[0].find('%') != std::string::npos)
            query[0] = StrReplaceAll(query[0], "%20", " ", false);
        fields["BASE"] = query[0];
        fields["ATTRS"] = query[1];
        fields["SCOPE"] = query[2];
        fields["FILTER"] = query[3];
    }
    return true;
}

LdapSession OpenLdap(const OpenLdapParams& p) {
    KELVO_TRACE_SCOPE();
    const HostAndPort target = ResolveHostAndPort(p.server, p.port, p.ssl);
    const bool simpleInForce = p.simple || p.anonymous;
    PrintParams(p, target, simpleInForce);

    LdapSession session;
    session.serverName_ = target.host;
    session.portText_ = ultostr(static_cast<std::uint32_t>(target.port));

    const LocatedServer located =
        LocateServer(target.host, p.aRecordExclusive, target.port, p.ssl, SystemLocatorSources());
    session.uri_ = located.uri;
    if (diag::Debug()) diag::Out(LdapSettingsDebugText(SystemLdapConfigSources()));
    diag::DebugOut("DEBUG: LDAP URI: " + located.uri + " (" + located.how + ")\n");
    // A configured ldaps:// URI is TLS as much as -ssl is: the TLS settings
    // and the clear-text password check follow it.
    OpenLdapParams effective = p;
    if (!effective.ssl && UriListIsTls(located.uri)) {
        effective.ssl = true;
        diag::DebugOut("DEBUG: TLS from the ldaps:// URI\n");
    }

    LDAP* raw = nullptr;
    const int initRc = ldap_initialize(&raw, located.uri.c_str());
    session.handle_.reset(raw);
    if (initRc != LDAP_SUCCESS || !session.handle_) {
        DisplayLDAPError(initRc != LDAP_SUCCESS ? initRc : LDAP_LOCAL_ERROR, nullptr,
                         "ldap_sslinit", target.host);
        return {};
    }
    LDAP* ld = session.handle_.get();
    session.connectWatch_ = std::make_unique<ConnectWatch>();
    session.connectWatch_->cb = {OnConnect, OnDisconnect, session.connectWatch_.get()};
    (void)ldap_set_option(ld, LDAP_OPT_CONNECT_CB, &session.connectWatch_->cb);
    // Why a TLS context or handshake failed may only be in libldap's log.
    const TlsLogCapture tlsLog;
    if (!SetSessionOptions(ld, effective, target.host)) {
        const std::string line = TlsFailureLine(tlsLog.Lines());
        diag::Out(DiagnosticLines(line, false, tlsLog.Lines()));
        return {};
    }

    if (p.startTls) {
        if (diag::Debug()) diag::Err("DEBUG: Start TLS...\n");
        const int rc = ldap_start_tls_s(ld, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            DisplayLDAPError(rc, ld, "ldap_start_tls_s", target.host, p.extendedErrorInfo,
                             FailureDiagnostic(ld, tlsLog), tlsLog.Lines());
            return {};
        }
    }

    BindRequest request;
    bool switched = false;
    request.password = PreparePassword(p.password);
    request.method = ChooseBindMethod(simpleInForce, p.digest, p.ntlm, p.user, switched);
    if (switched) diag::DebugOut("DEBUG: Switching to LDAP_AUTH_DIGEST...\n");
    request.anonymous = p.anonymous;
    request.user = p.user;
    request.kerberosEncryption = p.kerberosEncryption;
    request.delegation = p.delegation;
    request.tlsActive = effective.ssl || p.startTls;

    if (SendsClearTextPassword(request)) diag::Out(kClearTextBindWarning);
    BindOutcome outcome;
    const int rc = BindSession(ld, request, outcome);
    request.password.assign(request.password.size(), '\0');
    session.kerberos_ = std::move(outcome.kerberos);
    if (rc != LDAP_SUCCESS) {
        DisplayLDAPError(rc, ld, "ldap_bind_s", target.host, p.extendedErrorInfo,
                         FailureDiagnostic(ld, tlsLog), tlsLog.Lines());
        LdapSession refused;
        refused.bindResult_ = rc > 0 ? rc : 0;
        return refused;
    }
    session.mechanism_ = outcome.mechanism;
    diag::DebugOut("DEBUG: LDAP_BIND: [" + p.server + "] Successful\n");

    session.hostName_ = session.connectWatch_->host;
    if (session.hostName_.empty()) {
        char* host = nullptr;
        if (ldap_get_option(ld, LDAP_OPT_HOST_NAME, &host) == LDAP_OPT_SUCCESS && host) {
            LdapStringPtr owned(host);
            session.hostName_ = owned.get();
        }
    }
    session.tls_ = ldap_tls_inplace(ld) != 0;
    ber_len_t ssf = 0;
    if (ldap_get_option(ld, LDAP_OPT_X_SASL_SSF, &ssf) == LDAP_OPT_SUCCESS)
        session.ssf_ = static_cast<unsigned>(ssf);
    diag::DebugOut("DEBUG: Bound with " + session.mechanism_ + ", TLS " + Flag(session.tls_) +
                   ", SASL SSF " + std::to_string(session.ssf_) + "\n");
    return session;
}
