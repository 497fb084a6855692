// -undo FILE: before each write Kelvo reads what the request will change and,
// once the server has confirmed the change, records the change record that
// reverts it.  Three parts:
//
//  * the pure part: which reads a request needs (PlanUndo) and, from what
//    was read, the requests that revert it (UndoRequests) - no directory;
//  * the reads, through UndoReads so that tests can fake the directory;
//  * the file (UndoFile) and the recorder that ties them to the run's loop.
//
// A request whose undo cannot be recorded is not sent: the recorder says why
// and the object fails with exitcode::kUndoRefused.
#pragma once

#include "EntryRead.h"
#include "Request.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What Kelvo knows of the server.
struct UndoServer {
    // Deleted objects stay as tombstones that a modify can bring back
    // (Active Directory and Samba; slapd keeps nothing).
    bool tombstones = false;
};

// The reads a request needs before it is sent.
struct UndoPlan {
    std::string refusal; // why no undo can be recorded; empty when it can
    bool read = false;   // read the object before the write
    std::vector<std::string> attributes;
    // nTSecurityDescriptor is read with this SD flags control value (the
    // write's own), when `sdFlags` is set.
    std::optional<Bytes> sdFlags;
    bool showDeleted = false;  // the read needs the show-deleted control
    bool tombstone = false;    // a delete: find the tombstone after it
    bool deleteRecord = false; // the undo deletes what the request made (add, undelete)
};
UndoPlan PlanUndo(const Request& request, const UndoServer& server);

// An object as read: its DN, objectGUID (or entryUUID) and attributes.
struct ObjectState {
    bool found = false;
    std::string dn;
    std::string guid; // objectGUID bytes, or entryUUID text; empty when none was read
    std::map<std::string, ReadAttribute> attributes; // lower-case name -> values
};
ObjectState ToObjectState(const EntryReadResult& read);

// The requests that revert `request`, in the order they are applied.
// `before` was read before the write; `tombstone` after a delete (found ==
// false when the tombstone could not be read: the reanimation is then
// addressed by <GUID=...>).
std::vector<Request> UndoRequests(const Request& request, const ObjectState& before,
                                  const ObjectState& tombstone = {});

// "{xxxxxxxx-xxxx-...}" of objectGUID bytes; other values as they are.
std::string GuidText(const std::string& guid);

// The directory reads of the recorder.
class UndoReads {
  public:
    virtual ~UndoReads() = default;
    // Base read of `dn`; `sdFlags` (when set) goes as the SD flags control.
    virtual EntryReadResult Read(const std::string& dn, const std::vector<std::string>& attributes,
                                 const std::optional<Bytes>& sdFlags, bool showDeleted) = 0;
    // The tombstone of the object with objectGUID `guid` (bytes).
    virtual EntryReadResult ReadTombstone(const std::string& guid,
                                          const std::vector<std::string>& attributes,
                                          const std::optional<Bytes>& sdFlags) = 0;
};
std::unique_ptr<UndoReads> SessionUndoReads(LDAP* session);

// The undo file.  Kept valid and last-change-first at every moment, so a run
// killed at any point leaves a file that restores every confirmed change:
//
//   header comment
//   free space: newline characters (blank lines)
//   the record of the newest change
//   ...
//   the record of the first change
//
// Records are written from the end of the file towards its start with
// pwrite() into the free space, so each write adds the newest record in
// front of the older ones; no write ever moves what is already there.
//  * Before a request is sent, its undo is written as comment lines behind an
//    "in flight" marker line.  A kill leaves it as a comment for the
//    administrator to decide on.  A torn write is a run of comment lines
//    followed by blank lines: still valid.
//  * Once the server confirms the change, the record goes in front of that
//    comment with its first byte written as '#', and then that byte alone as
//    'd'.  Until the one-byte write lands the record is a comment line
//    followed by lines without a "dn:", which ldapmodify does not apply, so a
//    torn record is never applied in part (and the comment still shows it).
//    The marker line is then rewritten to say that the change was confirmed
//    (or that it failed).
//  * When the free space runs out, the whole file is written again with
//    twice the space into FILE.tmp and renamed over FILE (rename is atomic),
//    so the cost stays linear in the number of records.  A kill during this
//    rewrite leaves FILE as it was, and FILE.tmp behind.
//  * At the end of the run the file is written once more without the free
//    space and the marker comments, flushed to disk and renamed over FILE.
// The kernel keeps what write() accepted when the process is killed, so no
// per-record fsync is needed against SIGKILL; a power loss is not covered.
class UndoFile {
  public:
    UndoFile() = default;
    ~UndoFile();
    UndoFile(const UndoFile&) = delete;
    UndoFile& operator=(const UndoFile&) = delete;

    // Creates (replaces) `path`, mode 0600, no symbolic links.
    bool Open(const std::string& path, const std::string& header, std::size_t space = 16384);
    // The undo of the request about to be sent, as comment lines.  Several
    // requests may be in flight; Confirmed and Failed answer them in the
    // order they were sent.
    bool InFlight(const std::string& title, const std::string& records);
    // The oldest request in flight was confirmed: its records go in.
    bool Confirmed(const std::string& records);
    // The oldest request in flight failed.
    bool Failed();
    // The final compact file, with `header`.
    bool Finish(const std::string& header);
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The marker lines; all of one length, so each can overwrite the other.
    static const std::string& MarkerInFlight();
    static const std::string& MarkerConfirmed();
    static const std::string& MarkerFailed();

  private:
    struct Block {
        std::uint64_t fromEnd; // offset of its first byte, counted from the end
        std::uint64_t size;
        bool record;
    };
    bool Reserve(std::uint64_t bytes);
    bool WriteAt(std::uint64_t offset, const std::string& data);
    bool Rewrite(const std::string& header, std::uint64_t space, bool recordsOnly, bool sync);
    bool Failure(const std::string& what);

    std::string path_;
    std::string header_;
    int fd_ = -1;
    std::uint64_t size_ = 0;  // file size
    std::uint64_t front_ = 0; // offset of the newest block
    std::vector<Block> blocks_;
    std::deque<std::size_t> inFlight_; // indexes into blocks_, oldest first
    std::string error_;
};

// Reads, decides and records, around the send point of the run's loop.
// Several requests may be in flight: After answers the requests Before let
// through, in the order it let them through.
class UndoRecorder {
  public:
    UndoRecorder(UndoReads& reads, UndoFile& file, UndoServer server)
        : reads_(reads), file_(file), server_(server) {}

    struct Verdict {
        bool send = true;
        bool fatal = false; // the file could not be written: the run ends
        std::uint32_t code = 0;
        std::string message; // why the request is not sent, or the file error
    };
    // Before `request` is sent.
    Verdict Before(const Request& request);
    // After: records the undo of a confirmed change.  A verdict with a
    // message (and no fatal) means the change was made but its undo record is
    // incomplete; the object then fails with that message.
    Verdict After(const Request& request, const Result& result);
    std::uint64_t Recorded() const { return recorded_; }

  private:
    std::string Title(const Request& request, const ObjectState& state) const;

    UndoReads& reads_;
    UndoFile& file_;
    UndoServer server_;
    // What Before read, for each request let through and not yet answered.
    struct Pending {
        UndoPlan plan;
        ObjectState before;
        std::string title;
    };
    std::deque<Pending> pending_;
    std::uint64_t sent_ = 0;
    std::uint64_t recorded_ = 0;
};

// The text every undo record of a file goes through.
std::string UndoRecordsText(const std::vector<Request>& requests);
