// The one place that shows what happened to each object: the DN line, the
// lines that go with its request, the error line with the server's
// diagnostic text and what it means, and the log lines, all from the request
// and its result record.
#pragma once

#include "Request.h"
#include "Target.h"

#include <cstddef>
#include <string>
#include <vector>

struct PrinterOptions {
    bool quiet = false;        // -q, -q2: nothing but errors (to standard error)
    bool quietButList = false; // -q2: the DN lines as well
    bool progress = false;     // -progress: percentage in the terminal title
    char progressChar = '#';
    std::size_t count = 0;  // targets of the run
    std::string serverName; // shown in error lines
};

// Writes lines to where their channel says (console unless `quiet`, the log,
// debug or trace output).
void PrintNotes(const std::vector<Note>& notes, bool quiet);

class ResultPrinter {
  public:
    explicit ResultPrinter(PrinterOptions options) : o_(std::move(options)) {}

    // Lines of the run or of one request, in order.
    void Notes(const std::vector<Note>& notes) const;
    // The start of an object: DN line, log line, progress title.
    void Begin(const Target& target, std::size_t processed) const;
    // A tree-nuke delete is sent again.
    void Retry() const;
    // The object succeeded; `request` is what was sent (kind None when
    // nothing had to be), or with -whatif what would have been.
    void Succeeded(const Request& request, const Result& result) const;
    // -whatif: the request was built and is not sent.  The DN line says so,
    // and the change record follows with secret values masked.
    void NotSent(const Request& request) const;
    // -whatif: how many requests were not sent, after the last object.
    void NotSentSummary(std::size_t count) const;
    // The object failed: `message` says why when no request could be sent;
    // `showLdapError` adds the line of the result code.
    void Failed(const Target& target, const Result& result, const std::string& message,
                bool showLdapError) const;
    // The run stops at a failure (no -cont).
    void Stopping() const;
    // The run stops because the connection to the server is lost.
    void ServerLost() const;

  private:
    bool ShowLines() const { return !o_.quiet || o_.quietButList; }
    PrinterOptions o_;
};
