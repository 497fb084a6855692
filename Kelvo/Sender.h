// The one place that performs built requests on the session.
#pragma once

#include "Request.h"

#include <ldap.h>

#include <functional>

// Sends `request` on `session` and returns what came back.  `onRetry` is
// called before each repeat of a tree-nuke delete.
Result Send(LDAP* session, const Request& request, const std::function<void()>& onRetry = {});
