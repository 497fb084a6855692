// LDIF (RFC 2849) change records of requests.
#pragma once

#include "Request.h"

#include <string>

// The change record of `request`: "dn:", one "control:" line per control,
// "changetype:" and the body, ending with a blank line.  Values that are not
// safe as plain text are written in base64.  With `maskSecrets` the values of
// password attributes are shown as the redaction mark.
std::string ChangeRecord(const Request& request, bool maskSecrets);
