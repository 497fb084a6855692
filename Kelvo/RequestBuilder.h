// Turns the run settings and one target into the request to send for it, as
// a value.  The builder sends nothing and prints nothing: the lines that go
// with a request travel inside it, and the directory reads that some kinds
// need come through a small lookup interface.
#pragma once

#include "AttributeActions.h"
#include "Failure.h"
#include "Request.h"
#include "RowRequests.h"
#include "RunState.h"
#include "Target.h"

#include <memory>
#include <string>
#include <vector>

// The directory reads a request may need.
class DirectoryLookups {
  public:
    virtual ~DirectoryLookups() = default;
    // A deleted object's last known parent; empty when it cannot be read.
    virtual std::string LastKnownParent(const std::string& dn) = 0;
    // A deleted object's last known RDN, as the directory keeps it (with or
    // without its type); empty when the directory keeps none.
    virtual std::string LastKnownRDN(const std::string& dn) = 0;
    // The current DN of an object named by <GUID=...> or <SID=...>; empty
    // when it cannot be found.
    virtual std::string CurrentDN(const std::string& dn) = 0;
};

// What the builder needs to know of the server and the session.
struct ServerFacts {
    bool windowsLDAP = true;           // entryTtl is written as a value
    bool showDeactivatedLinks = false; // the server lists that control
    bool protectedSession = false;     // TLS or a sealing SASL layer
    std::string rootNC;                // for <ROOTNC> in -rnpb
    bool logOpen = false;              // build the log's modification dumps
};

// What CSV rows and DN replacement need; all optional.
struct RowServices {
    const ValueExpander* expander = nullptr;             // CSV rows' {{...}} values
    const DNReplacer* replacer = nullptr;                // -replacedn
    const std::set<std::string>* dnAttributes = nullptr; // DN-syntax attributes
    // "sd##" values of CSV rows, and of updates whose descriptors are read
    // from each object (`descriptorsPerObject`).
    SdBuildFn descriptors;
    bool descriptorsPerObject = false;
};

class RequestBuilder {
  public:
    RequestBuilder(const RunSettings& settings, const ModContainers& mods, ServerFacts facts,
                   DirectoryLookups& lookups, RowServices rows = {});

    // Everything shared by the objects of the run: the controls, and for
    // updates and adds the modification list.  Fails when a value cannot be
    // expanded or a control value cannot be encoded.
    [[nodiscard]] Step Prepare();
    // The announcement and log lines of the run, shown once before the first
    // object.
    const std::vector<Note>& RunNotes() const { return runNotes_; }

    // The request for one target, the `index`-th of the run (from 0).
    BuildOutcome Build(const Target& target, std::uint64_t index = 0) const;

  private:
    BuildOutcome Delete(const std::string& dn) const;
    BuildOutcome Move(const std::string& dn) const;
    BuildOutcome Rename(const std::string& dn, const std::string& newName) const;
    BuildOutcome Undelete(const std::string& dn) const;
    BuildOutcome Add(const std::string& dn) const;
    BuildOutcome Update(const std::string& dn) const;
    // CSV runs: the request of one row.
    BuildOutcome Row(const Target& target, const std::string& dn, std::uint64_t index) const;
    BuildOutcome RenameRow(const Target& target, const std::string& dn, std::uint64_t index) const;
    bool CsvRows() const;

    std::string NewParentFor(const std::string& dn, std::vector<Note>& notes) const;
    // -bmod applied to an RDN; false (with the outcome set) when it fails.
    bool ExpandRDN(const std::string& dn, std::string& rdn, BuildOutcome& outcome) const;
    void AddShowDeleted(ControlList& controls) const;
    // These two fail when a control value cannot be BER-encoded.
    [[nodiscard]] Step AddModifyControls(ControlList& controls, const ModContainers& mods) const;
    [[nodiscard]] Step AddSdFlags(ControlList& controls, const ModContainers& mods) const;
    // The controls of one object whose descriptor parts differ from the
    // run's: the shared controls with that object's SD flags.
    [[nodiscard]] Step ControlsWithSdFlags(std::uint32_t flags,
                                           std::shared_ptr<const ControlList>& out) const;
    // Updates whose descriptors are built for each object.
    BuildOutcome UpdateWithDescriptors(const std::string& dn) const;
    std::string CsvLabel() const;

    const RunSettings& s_;
    const ModContainers& mods_;
    ServerFacts facts_;
    DirectoryLookups& lookups_;
    RowServices rows_;

    std::vector<Note> runNotes_;
    std::shared_ptr<const ControlList> controls_;
    std::shared_ptr<const ModList> modList_;
    BuildOptions modOptions_; // how updates build their lists
    std::string generatedPassword_;
    std::string newParentBase_; // rewritten -rnpb text, may hold <DOMAINNC>/<ROOTNC>
    int refreshTtl_ = -1;
};
