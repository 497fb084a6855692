#include "ResultPrinter.h"

#include "ConsoleOutput.h"
#include "Diag.h"
#include "ErrorReport.h"
#include "LdifWriter.h"

namespace {

std::string DNLine(const std::string& dn) {
    return "   DN: " + (dn.empty() ? std::string("ROOTDSE") : dn) + "...";
}

} // namespace

void PrintNotes(const std::vector<Note>& notes, bool quiet) {
    for (const auto& n : notes) {
        switch (n.channel) {
        case Channel::Console:
            if (!quiet) diag::Out(n.text);
            break;
        case Channel::ConsoleAlways:
            diag::Out(n.text);
            break;
        case Channel::Log:
            LogLine(n.text);
            break;
        case Channel::Debug:
            diag::DebugOut(n.text + "\n");
            break;
        case Channel::Trace:
            diag::TraceOut(n.text + "\n");
            break;
        }
    }
}

void ResultPrinter::Notes(const std::vector<Note>& notes) const {
    PrintNotes(notes, o_.quiet);
}

void ResultPrinter::Begin(const Target& target, std::size_t processed) const {
    if (ShowLines()) diag::Out(DNLine(target.dn));
    LogLine("DN: " + target.dn);
    if (diag::Debug() && target.line != 0) diag::Out("DEBUG: Source: " + SourceOf(target) + "\n");
    if (o_.progress)
        Progress(static_cast<double>(o_.count - processed + 1) * 100.0 /
                     static_cast<double>(o_.count),
                 o_.progressChar);
}

void ResultPrinter::Retry() const {
    if (o_.quiet) return;
    diag::Out(".");
    diag::Flush();
}

void ResultPrinter::Succeeded(const Request& request, const Result& result) const {
    if (result.refreshed)
        LogLine("Refresh: " + request.dn + " entryTtl " + std::to_string(request.refreshTtl));
    LogLine(result.notSent ? std::string("NOT SENT (what-if)")
                           : "SUCCESS: " + std::to_string(result.code));
    if (ShowLines()) diag::Out("\n");
}

void ResultPrinter::NotSent(const Request& request) const {
    if (!ShowLines()) return;
    std::string text = ": not sent (what-if)";
    // The record itself only without -q2: a quiet listing keeps one line
    // per object.
    if (!o_.quiet) text += "\n" + ChangeRecord(request, true);
    diag::Out(text);
}

void ResultPrinter::NotSentSummary(std::size_t count) const {
    if (o_.quiet) return;
    diag::Out(std::to_string(count) + " object(s) not sent (what-if).\n");
}

void ResultPrinter::Failed(const Target& target, const Result& result, const std::string& message,
                           bool showLdapError) const {
    std::string text = message;
    if (showLdapError) text += LDAPErrorLine(static_cast<int>(result.code), "", o_.serverName);
    // The server's diagnostic text, with what its code or cause means, goes
    // right under the error line, on the same stream.
    text += DiagnosticLines(result.extError);
    if (!o_.quiet) {
        diag::Out(text + (showLdapError ? "\n" : ""));
    } else {
        // A quiet run still says what failed, on standard error; the DN line
        // of -q2 ends here so the next object starts on a line of its own.
        if (o_.quietButList) diag::Out("\n");
        diag::Err(DNLine(target.dn) + text);
    }
    std::string logged = showLdapError ? result.extError : message;
    while (!logged.empty() && logged.back() == '\n')
        logged.pop_back();
    LogLine("ERROR: " + logged);
}

void ResultPrinter::Stopping() const {
    diag::Out("\n\nERROR: Too many errors encountered, terminating...\n");
}

void ResultPrinter::ServerLost() const {
    const std::string line = "ERROR: The connection to the server was lost, terminating...\n";
    if (o_.quiet)
        diag::Err(line);
    else
        diag::Out("\n\n" + line);
}
