// The request each operation kind sends per target object (modify, add,
// delete, rename, move, undelete), with the preparation done once before
// the loop: controls, new-parent bases, dynamic objects and -hackon.
#pragma once

#include "Controls.h"
#include "ModList.h"
#include "RunContext.h"

#include <optional>
#include <string>

// Per-run preparation shared by every object.
struct OperationPlan {
    ControlList controls;
    ModList mods; // update and add: built once, reused per object
    bool modsBuilt = false;
    std::string generatedPassword;
    std::string newParentBase; // rewritten -rnpb text, may hold <DOMAINNC>/<ROOTNC>
    // Dynamic objects on servers that set the time to live through the
    // refresh operation instead of an entryTtl value: the seconds to set.
    int refreshTtl = -1;
};

// -tmpobj / -dynamic: rewrites objectclass and adds "entryttl::<seconds>".
// Returns an exit code when the switch is refused.
std::optional<int> PrepareDynamic(SwitchParser& parser, RunSettings& settings);

// Rewrites the -rnpb value (aliases and placeholders).
std::string RewriteRnpb(const std::string& value);
// Replaces the placeholders of a new-parent base for one object.
std::string ResolveRnpb(const std::string& base, const std::string& dn, const std::string& rootNC);

// A -rename value with its attribute type: as given when it already has one
// ("cn=new"), else the current RDN's type in front ("new" -> "CN=new").
std::string RenameRDN(const std::string& currentDN, const std::string& newName);
// The DN without its first component (the object's parent).
std::string ParentOf(const std::string& dn);
// The first component of a DN with its type ("CN=x"); empty on failure.
std::string FirstRDN(const std::string& dn);
// An undeleted object's RDN: the first component cut before "\0ADEL:".
std::string CutMangledRDN(const std::string& rdn);

// Reports a failed request: the fixed error line (when `showLine`, followed by
// a line end when `endLine`), the server's extended error with -exterr, and
// the log line.
void ReportRequestFailure(const RunContext& ctx, std::uint32_t code, bool showLine, bool endLine);

// Sets schemaUpgradeInProgress on the RootDSE.  An exit code on failure.
std::optional<int> Hackon(RunContext& ctx);

// Announces the operation, logs it and builds the controls (and, for update
// and add, the modification array).  An exit code when the run must end.
std::optional<int> PrepareOperation(RunContext& ctx, OperationPlan& plan);

// Sends the request for one target.
ObjectResult ProcessObject(RunContext& ctx, OperationPlan& plan, const std::string& dn);
