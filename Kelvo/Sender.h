// The one place that performs built requests on the session.
#pragma once

#include "Request.h"

#include <ldap.h>

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <optional>

// Sends `request` on `session` and returns what came back.  `onRetry` is
// called before each repeat of a tree-nuke delete.
Result Send(LDAP* session, const Request& request, const std::function<void()>& onRetry = {});

// Requests sent without waiting for their answers, on one session.  Answers
// come back in the order the server gives them; each carries the tag its
// request was started with.  A tree-nuke delete is repeated here while the
// server says so (Result::attempts counts the sends).
class RequestsInFlight {
  public:
    explicit RequestsInFlight(LDAP* session) : session_(session) {}
    ~RequestsInFlight(); // abandons what is still unanswered
    RequestsInFlight(const RequestsInFlight&) = delete;
    RequestsInFlight& operator=(const RequestsInFlight&) = delete;

    // Sends `request`, which must stay in place until its answer is taken.
    // A request that is done at once (nothing to send, a refresh, a request
    // the library refused to send) gives its result here and is not in
    // flight.
    std::optional<Result> Start(const Request& request, std::size_t tag);

    struct Answer {
        std::size_t tag = 0;
        Result result;
    };
    // Waits for the next answer; only while Count() > 0.  A lost connection
    // answers every request in flight with its error.
    Answer Next();
    std::size_t Count() const { return pending_.size() + lost_.size(); }

  private:
    struct Pending {
        const Request* request = nullptr;
        std::size_t tag = 0;
        Result result;
    };
    void LoseAll(int code);

    LDAP* session_;
    std::map<int, Pending> pending_; // by message id
    std::deque<Answer> lost_;        // answers of a lost connection, not yet taken
};
