// A request as a value: everything one object's LDAP operation needs, built
// before anything is sent, and the record of what came back.
#pragma once

#include "Controls.h"
#include "ModList.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Where a line of text that goes with a request is written.
enum class Channel {
    Console,       // standard output, unless quiet
    ConsoleAlways, // standard output, also when quiet
    Log,           // the log file, when open
    Debug,         // "DEBUG:" output with -d
    Trace,         // -d2 output
};

struct Note {
    Channel channel;
    std::string text; // Console text is written as given; other lines get a line end
};

enum class RequestKind {
    None,    // nothing to send (an update without modifications)
    Modify,  // modify (update, undelete)
    Add,     // add
    Delete,  // delete (tree delete with its control)
    Rename,  // rename or move
    Refresh, // dynamic-object refresh only
};

struct Request {
    RequestKind kind = RequestKind::None;
    std::string dn;        // the DN the request is addressed to
    std::string newRDN;    // Rename
    std::string newParent; // Rename; empty keeps the parent
    // Modify, Add: shared by every object of a run when they are the same.
    std::shared_ptr<const ModList> mods;
    std::shared_ptr<const ControlList> controls;
    // Delete: repeat while the server answers "admin limit exceeded".
    bool treeNuke = false;
    // Dynamic objects on servers that refuse entryTtl values: the time to
    // live set through the refresh operation after the write; -1 for none.
    int refreshTtl = -1;
    // Lines that go with the request, in order, shown before it is sent.
    std::vector<Note> notes;
};

// What the builder gives for one target.
struct BuildOutcome {
    enum class Status {
        Send,   // send `request`
        Done,   // nothing to send; the object succeeded (no updates to make)
        Failed, // the object failed before anything was sent
        Fatal,  // the run ends
    };
    Status status = Status::Send;
    Request request;
    std::uint32_t code = 0;    // Failed: the object's result code
    std::string message;       // Failed: why, shown like an error line
    bool showLdapError = true; // Failed: also show the result code's error line
    int exitCode = 0;          // Fatal: the exit code
    std::string fatalText;     // Fatal: text shown once
};

// What came back for one request.
struct Result {
    std::uint32_t code = 0; // LDAP result code, Windows numbering; 0 success
    std::string extError;   // the server's diagnostic text on failure
    int attempts = 0;       // requests sent (more than one for tree nuke)
    bool refreshed = false; // the refresh operation was sent as well
    bool notSent = false;   // -whatif: built and shown, never sent
};
