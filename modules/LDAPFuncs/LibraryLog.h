// libldap reports some connection failures only in its log, not in the
// session's diagnostic message: the GnuTLS build, for one, logs why it did not
// trust a certificate and leaves "(unknown error code)" as the message.
//
// While a TlsLogCapture lives, libldap logs at its trace level into the
// capture instead of standard error, and the capture keeps the lines that
// begin with "TLS:" (never the others, which may show request contents).  A
// log level and printer set before it are restored when it ends, and lines
// still reach that printer when a level was set.  One capture at a time.
#pragma once

#include <lber.h>

#include <string>
#include <vector>

class TlsLogCapture {
  public:
    TlsLogCapture();
    ~TlsLogCapture();
    TlsLogCapture(const TlsLogCapture&) = delete;
    TlsLogCapture& operator=(const TlsLogCapture&) = delete;

    // The "TLS:" lines so far, without their line ends.
    const std::vector<std::string>& Lines() const { return lines_; }
    // False when libldap's log could not be redirected (nothing is captured).
    bool Active() const { return active_; }

    // Called by the printer for each line libldap logs.
    void Take(const char* text);

  private:
    std::vector<std::string> lines_;
    BER_LOG_PRINT_FN previousPrinter_ = nullptr;
    int previousLevel_ = 0;
    bool active_ = false;
};

// The line of `lines` that says most about a failure: the first one a
// failure cause is known for, else the last one that is not the generic
// "can't connect" summary; empty when there are no lines.
std::string TlsFailureLine(const std::vector<std::string>& lines);
