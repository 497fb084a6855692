#include "Sender.h"

#include "ErrorReport.h"
#include "LdapPtr.h"
#include "Platform.h"

namespace {

constexpr int kTreeNukeAttempts = 10000;
constexpr int kAdminLimitExceeded = LDAP_ADMINLIMIT_EXCEEDED;
// Answers to no request of ours (unsolicited notices) taken in a row before
// the connection is given up as unusable.
constexpr int kStrayAnswers = 1000;

const char* OrNull(const std::string& text) {
    return text.empty() ? nullptr : text.c_str();
}

int Refresh(LDAP* session, const std::string& dn, int ttl) {
    berval name{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.c_str())};
    ber_int_t granted = 0;
    return ldap_refresh_s(session, &name, ttl, &granted, nullptr, nullptr);
}

bool Written(const Request& r) {
    return r.kind == RequestKind::Modify || r.kind == RequestKind::Add;
}

// Sends the request's one operation without waiting.
int StartOperation(LDAP* session, const Request& r, int* msgid) {
    LDAPControl** controls = r.controls ? r.controls->Array() : nullptr;
    switch (r.kind) {
    case RequestKind::Modify:
        return ldap_modify_ext(session, r.dn.c_str(), r.mods->Array(), controls, nullptr, msgid);
    case RequestKind::Add:
        return ldap_add_ext(session, r.dn.c_str(), r.mods->Array(), controls, nullptr, msgid);
    case RequestKind::Delete:
        return ldap_delete_ext(session, r.dn.c_str(), controls, nullptr, msgid);
    case RequestKind::Rename:
        return ldap_rename(session, r.dn.c_str(), r.newRDN.c_str(), OrNull(r.newParent), 1,
                           controls, nullptr, msgid);
    case RequestKind::None:
    case RequestKind::Refresh:
        break;
    }
    return LDAP_PARAM_ERROR;
}

// The result of a request whose operation answered `rc`: the time-to-live
// refresh that follows a write, the code in Windows numbering and the
// server's text.  `diagnostic` is the answer's own text when it was parsed
// from the answer; otherwise the session's last one is taken.
void Complete(LDAP* session, const Request& r, int rc, const std::optional<std::string>& diagnostic,
              Result& result) {
    if (rc == LDAP_SUCCESS && r.refreshTtl >= 0 && !result.refreshed && Written(r)) {
        rc = Refresh(session, r.dn, r.refreshTtl);
        result.refreshed = true;
        if (rc != LDAP_SUCCESS) (void)GetExtendedError(session, result.extError);
    } else if (rc != LDAP_SUCCESS) {
        if (diagnostic)
            result.extError = *diagnostic;
        else
            (void)GetExtendedError(session, result.extError);
    }
    result.code = ToWinLdapCode(rc);
}

} // namespace

Result Send(LDAP* session, const Request& r, const std::function<void()>& onRetry) {
    const platform::NoBrokenPipeSignal quiet;
    LDAPControl** controls = r.controls ? r.controls->Array() : nullptr;
    Result result;
    int rc = LDAP_SUCCESS;
    ++result.attempts;
    switch (r.kind) {
    case RequestKind::None:
        return result;
    case RequestKind::Modify:
        rc = ldap_modify_ext_s(session, r.dn.c_str(), r.mods->Array(), controls, nullptr);
        break;
    case RequestKind::Add:
        rc = ldap_add_ext_s(session, r.dn.c_str(), r.mods->Array(), controls, nullptr);
        break;
    case RequestKind::Delete:
        rc = ldap_delete_ext_s(session, r.dn.c_str(), controls, nullptr);
        // Large subtrees come down in pieces: repeat while the server says so.
        while (r.treeNuke && rc == kAdminLimitExceeded && result.attempts < kTreeNukeAttempts) {
            if (onRetry) onRetry();
            ++result.attempts;
            rc = ldap_delete_ext_s(session, r.dn.c_str(), controls, nullptr);
        }
        break;
    case RequestKind::Rename:
        rc = ldap_rename_s(session, r.dn.c_str(), r.newRDN.c_str(), OrNull(r.newParent), 1,
                           controls, nullptr);
        break;
    case RequestKind::Refresh:
        rc = Refresh(session, r.dn, r.refreshTtl);
        result.refreshed = true;
        break;
    }
    Complete(session, r, rc, std::nullopt, result);
    return result;
}

RequestsInFlight::~RequestsInFlight() {
    const platform::NoBrokenPipeSignal quiet;
    for (const auto& [msgid, pending] : pending_)
        (void)ldap_abandon_ext(session_, msgid, nullptr, nullptr);
}

std::optional<Result> RequestsInFlight::Start(const Request& r, std::size_t tag) {
    if (r.kind == RequestKind::None || r.kind == RequestKind::Refresh) return Send(session_, r);
    const platform::NoBrokenPipeSignal quiet;
    Pending p{&r, tag, {}};
    p.result.attempts = 1;
    int msgid = -1;
    const int rc = StartOperation(session_, r, &msgid);
    if (rc != LDAP_SUCCESS) {
        Complete(session_, r, rc, std::nullopt, p.result);
        return p.result;
    }
    pending_.emplace(msgid, std::move(p));
    return std::nullopt;
}

void RequestsInFlight::LoseAll(int code) {
    const platform::NoBrokenPipeSignal quiet;
    for (auto& [msgid, p] : pending_) {
        if (code == LDAP_TIMEOUT) (void)ldap_abandon_ext(session_, msgid, nullptr, nullptr);
        p.result.code = ToWinLdapCode(code);
        lost_.push_back({p.tag, std::move(p.result)});
    }
    pending_.clear();
}

RequestsInFlight::Answer RequestsInFlight::Next() {
    // A repeated tree delete and a refresh are written here too.
    const platform::NoBrokenPipeSignal quiet;
    for (int stray = 0; lost_.empty() && !pending_.empty();) {
        LDAPMessage* raw = nullptr;
        const int type = ldap_result(session_, LDAP_RES_ANY, LDAP_MSG_ONE, nullptr, &raw);
        MessagePtr message(raw);
        if (type <= 0) {
            int code = LDAP_TIMEOUT;
            if (type < 0 &&
                (ldap_get_option(session_, LDAP_OPT_RESULT_CODE, &code) != LDAP_OPT_SUCCESS ||
                 code == LDAP_SUCCESS))
                code = LDAP_SERVER_DOWN;
            LoseAll(code);
            break;
        }
        const auto it = pending_.find(ldap_msgid(message.get()));
        if (it == pending_.end()) {
            if (++stray >= kStrayAnswers) LoseAll(LDAP_SERVER_DOWN);
            continue;
        }
        stray = 0;
        int rc = LDAP_OTHER;
        char* text = nullptr;
        const int parsed =
            ldap_parse_result(session_, message.get(), &rc, nullptr, &text, nullptr, nullptr, 0);
        LdapStringPtr diagnostic(text);
        if (parsed != LDAP_SUCCESS) rc = parsed;
        Pending p = std::move(it->second);
        pending_.erase(it);
        // Large subtrees come down in pieces: repeat while the server says so.
        if (p.request->treeNuke && rc == kAdminLimitExceeded &&
            p.result.attempts < kTreeNukeAttempts) {
            ++p.result.attempts;
            int msgid = -1;
            rc = StartOperation(session_, *p.request, &msgid);
            if (rc == LDAP_SUCCESS) {
                pending_.emplace(msgid, std::move(p));
                continue;
            }
            Complete(session_, *p.request, rc, std::nullopt, p.result);
            return {p.tag, std::move(p.result)};
        }
        Complete(session_, *p.request, rc, std::string(diagnostic ? diagnostic.get() : ""),
                 p.result);
        return {p.tag, std::move(p.result)};
    }
    Answer a = std::move(lost_.front());
    lost_.pop_front();
    return a;
}
