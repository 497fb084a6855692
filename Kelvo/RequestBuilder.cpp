#include "RequestBuilder.h"

#include "Import.h"
#include "LDAPFuncs.h"
#include "ObjectActions.h"
#include "Secrets.h"
#include "Utf16.h"
#include "pellixstrings.h"

#include <cstdlib>

static_assert(exitcode::kDnSplit == kExitDnExplodeFailure);

namespace {

Note Log(std::string text) {
    return {Channel::Log, std::move(text)};
}

// A control whose value is BER-encoded; a value that could not be encoded
// ends the run before anything is sent.
Step AddEncoded(ControlList& controls, std::string_view oid, const std::optional<Bytes>& value,
                std::string_view name, std::string_view logDetail = {}) {
    if (!value)
        return Fail(exitcode::kFatal,
                    ErrorBlockText({"Couldn't BER-encode the value of control " +
                                    std::string(name) + " (" + std::string(oid) + ")."}) +
                        std::string(kDidNotComplete));
    controls.Add(oid, *value, "Control: " + std::string(name) + std::string(logDetail));
    return std::nullopt;
}

BuildOutcome Skip(std::string message) {
    BuildOutcome o;
    o.status = BuildOutcome::Status::Failed;
    o.code = static_cast<std::uint32_t>(exitcode::kSkippedObject);
    o.message = std::move(message);
    o.showLdapError = false;
    return o;
}

} // namespace

RequestBuilder::RequestBuilder(const RunSettings& settings, const ModContainers& mods,
                               ServerFacts facts, DirectoryLookups& lookups, RowServices rows)
    : s_(settings), mods_(mods), facts_(std::move(facts)), lookups_(lookups), rows_(rows) {}

// CSV rows, and runs whose values are expanded ({{*cnt*}} differs per
// object), build one modification list per object.
bool RequestBuilder::CsvRows() const {
    return (s_.csv || s_.adcsv || s_.expand) && rows_.expander != nullptr;
}

std::string RequestBuilder::CsvLabel() const {
    return s_.csv || s_.adcsv ? " (CSV)" : " (!CSV)";
}

// The show-deactivated-links control goes only to servers that list it.
void RequestBuilder::AddShowDeleted(ControlList& controls) const {
    controls.Add(oid::kShowDeleted, {}, "Control: LDAP_SERVER_SHOW_DELETED_OID");
    if (facts_.showDeactivatedLinks)
        controls.Add(oid::kShowDeactivatedLink, {},
                     "Control: LDAP_SERVER_SHOW_DEACTIVATED_LINK_OID");
}

Step RequestBuilder::AddSdFlags(ControlList& controls, const ModContainers& mods) const {
    if (!mods.sdFlagsRequested) return std::nullopt;
    return AddEncoded(controls, oid::kSdFlags, BerInt(static_cast<int>(mods.sdFlags)),
                      "LDAP_SERVER_SD_FLAGS_OID");
}

Step RequestBuilder::ControlsWithSdFlags(std::uint32_t flags,
                                         std::shared_ptr<const ControlList>& out) const {
    ModContainers parts;
    parts.sdFlagsRequested = true;
    parts.sdFlags = flags;
    auto controls = std::make_shared<ControlList>();
    if (Step failed = AddModifyControls(*controls, parts)) return failed;
    out = std::move(controls);
    return std::nullopt;
}

namespace {

void AddShowRecycled(ControlList& controls) {
    controls.Add(oid::kShowRecycled, {}, "Control: LDAP_SERVER_SHOW_RECYCLED_OID");
}

} // namespace

// Controls of modify and add requests, in the order they are sent.
Step RequestBuilder::AddModifyControls(ControlList& controls, const ModContainers& mods) const {
    if (s_.permissive)
        controls.Add(oid::kPermissiveModify, {}, "Control: LDAP_SERVER__PERMISSIVE_MODIFY_OID");
    if (s_.policyHints) {
        if (Step failed =
                AddEncoded(controls, oid::kPolicyHints, BerInt(1), "LDAP_SERVER_POLICY_HINTS_OID"))
            return failed;
    }
    if (Step failed = AddSdFlags(controls, mods)) return failed;
    if (s_.showDeleted) AddShowDeleted(controls);
    if (s_.showRecycled) AddShowRecycled(controls);
    if (!s_.verifyGC.empty())
        return AddEncoded(controls, oid::kVerifyName, BerIntOctets(0, Utf8ToUtf16LE(s_.verifyGC)),
                          "LDAP_SERVER_VERIFY_NAME_OID", " -- " + s_.verifyGC);
    return std::nullopt;
}

Step RequestBuilder::Prepare() {
    auto console = [&](std::string text) {
        runNotes_.push_back({Channel::Console, std::move(text)});
    };
    auto log = [&](std::string text) { runNotes_.push_back(Log(std::move(text))); };
    if (!s_.rnpb.empty()) newParentBase_ = RewriteRnpb(s_.rnpb);
    if (!newParentBase_.empty() && !s_.newParent.empty())
        newParentBase_ = s_.newParent + "," + newParentBase_;

    auto controls = std::make_shared<ControlList>();
    std::vector<Note> modNotes;
    bool encryptionWarning = false;
    switch (s_.op) {
    case KELVO_DELETE:
        console("Deleting specified objects...\n");
        log("KelvoOp=KELVO_DELETE");
        if (s_.treeDelete)
            controls->Add(oid::kTreeDelete, {}, "Control: LDAP_SERVER_TREE_DELETE_OID");
        if (s_.showDeleted) AddShowDeleted(*controls);
        if (s_.recycle || s_.showRecycled) AddShowRecycled(*controls);
        break;
    case KELVO_MOVE: {
        const std::string shown = newParentBase_.empty() ? s_.newParent : newParentBase_;
        console("Moving specified objects to " + shown + "...\n");
        log("KelvoOp=KELVO_MOVE" + CsvLabel());
        log("NewParent: " + shown);
        if (!s_.xdom.empty()) {
            Bytes name(s_.xdom.begin(), s_.xdom.end());
            name.push_back(0);
            controls->Add(oid::kCrossDomMove, name,
                          "Control: LDAP_SERVER_CROSSDOM_MOVE_TARGET_OID -" + s_.xdom);
        }
        if (s_.showDeleted) AddShowDeleted(*controls);
        if (s_.showRecycled) AddShowRecycled(*controls);
        break;
    }
    case KELVO_RENAME:
        log("KelvoOp=KELVO_RENAME" + CsvLabel());
        log("NewRDN: " + s_.newRDN);
        log("NewParent: " + s_.newParent);
        if (s_.showDeleted) AddShowDeleted(*controls);
        if (s_.showRecycled) AddShowRecycled(*controls);
        break;
    case KELVO_UNDEL:
        console("Undeleting specified objects...\n");
        log("KelvoOp=KELVO_UNDEL");
        log("NewParent: " + s_.newParent);
        AddShowDeleted(*controls);
        if (s_.showRecycled) AddShowRecycled(*controls);
        if (Step failed = AddSdFlags(*controls, mods_)) return failed;
        break;
    case KELVO_ADD:
    case KELVO_UPDATE: {
        const bool add = s_.op == KELVO_ADD;
        console(add ? "Adding specified objects...\n" : "Modifying specified objects...\n");
        log(std::string(add ? "KelvoOp=KELVO_ADD" : "KelvoOp=KELVO_UPDATE") + CsvLabel());
        if (Step failed = AddModifyControls(*controls, mods_)) return failed;
        BuildOptions options;
        options.expand = s_.expand;
        options.encrypted = facts_.protectedSession;
        // Servers other than Active Directory refuse an entryTtl value (it is
        // theirs to maintain); the time to live is set through the refresh
        // operation after the write instead.
        if (s_.dynamic && !facts_.windowsLDAP) {
            const std::string* ttl = nullptr;
            if (auto it = mods_.add.find("entryttl"); it != mods_.add.end())
                ttl = &it->second.front();
            if (auto it = mods_.replace.find("entryttl"); it != mods_.replace.end())
                ttl = &it->second;
            if (ttl) {
                refreshTtl_ = static_cast<int>(std::strtol(ttl->c_str(), nullptr, 10));
                options.leaveOut = "entryttl";
            }
        }
        // CSV rows build their own lists, one per row.
        if (CsvRows()) break;
        options.replacer = rows_.replacer;
        options.dnAttributes = rows_.dnAttributes;
        modOptions_ = options;
        auto list = std::make_shared<ModList>();
        BuildResult built = BuildModifications(mods_, options, add, *list);
        if (!built.ok)
            return Fail(built.exitCode, built.error + "\n" + std::string(kDidNotComplete));
        generatedPassword_ = built.generatedPassword;
        modNotes = std::move(built.notes);
        encryptionWarning = built.needsEncryptionWarning;
        modList_ = std::move(list);
        break;
    }
    default:
        break;
    }
    for (const auto& line : controls->LogLines())
        log(line);
    runNotes_.insert(runNotes_.end(), modNotes.begin(), modNotes.end());
    if (encryptionWarning)
        runNotes_.push_back({Channel::ConsoleAlways,
                             "WARN: Setting unicodePwd requires encryption. You may need -ssl or "
                             "-optenc.\n"});
    log("KelvoOp=" + OpName(s_.op));
    controls_ = std::move(controls);
    return std::nullopt;
}

std::string RequestBuilder::NewParentFor(const std::string& dn, std::vector<Note>& notes) const {
    if (newParentBase_.empty()) return s_.newParent;
    std::string parent = ResolveRnpb(newParentBase_, dn, facts_.rootNC);
    notes.push_back({Channel::Trace, "DEBUG: RNPB NewParent = " + parent});
    notes.push_back(Log("NewParent (rnpb): " + parent));
    return parent;
}

bool RequestBuilder::ExpandRDN(const std::string& dn, std::string& rdn,
                               BuildOutcome& outcome) const {
    if (!s_.expand || s_.bmod.empty()) return true;
    if (rows_.expander == nullptr) {
        outcome.status = BuildOutcome::Status::Failed;
        outcome.code = ToWinLdapCode(LDAP_PARAM_ERROR);
        outcome.message = "ERROR: Couldn't expand dynamic string";
        return false;
    }
    const Expanded e =
        rows_.expander->ExpandPlain(s_.bmod, "", static_cast<std::uint64_t>(s_.counterStart), &dn);
    if (e.ok) {
        rdn = e.value;
        return true;
    }
    outcome.status = BuildOutcome::Status::Failed;
    outcome.code = ToWinLdapCode(LDAP_PARAM_ERROR);
    outcome.message = "ERROR: Couldn't expand dynamic string";
    return false;
}

BuildOutcome RequestBuilder::Delete(const std::string& dn) const {
    BuildOutcome o;
    o.request.kind = RequestKind::Delete;
    o.request.dn = dn;
    o.request.controls = controls_;
    o.request.treeNuke = s_.treeNuke;
    return o;
}

BuildOutcome RequestBuilder::Move(const std::string& dn) const {
    BuildOutcome o;
    std::string rdn = s_.newRDN.empty() ? FirstRDN(dn) : s_.newRDN;
    if (!ExpandRDN(dn, rdn, o)) return o;
    auto& notes = o.request.notes;
    std::string parent = NewParentFor(dn, notes);
    notes.push_back({Channel::Debug, "DEBUG: Move Object RDN=" + rdn});
    notes.push_back(Log("RDN: " + rdn));
    notes.push_back(Log("DN: " + dn));
    o.request.kind = RequestKind::Rename;
    o.request.dn = dn;
    o.request.newRDN = std::move(rdn);
    o.request.newParent = std::move(parent);
    o.request.controls = controls_;
    return o;
}

BuildOutcome RequestBuilder::Rename(const std::string& dn, const std::string& newName) const {
    BuildOutcome o;
    auto& notes = o.request.notes;
    std::string rdn = RenameRDN(dn, newName);
    std::string given = NewParentFor(dn, notes);
    std::string line = "Renaming " + dn + " to " + rdn;
    if (!given.empty()) line += " (" + given + ")";
    notes.push_back({Channel::Console, line + "..."});
    notes.push_back(Log("Renaming: " + dn));
    o.request.kind = RequestKind::Rename;
    o.request.dn = dn;
    o.request.newRDN = std::move(rdn);
    o.request.newParent = given.empty() ? ParentOf(dn) : given;
    o.request.controls = controls_;
    return o;
}

BuildOutcome RequestBuilder::Undelete(const std::string& dn) const {
    std::vector<Note> notes;
    notes.push_back(Log("Undelete: " + dn));
    std::string parent = NewParentFor(dn, notes);
    if (parent.empty()) parent = lookups_.LastKnownParent(dn);
    auto skip = [&](std::string message) {
        BuildOutcome o = Skip(std::move(message));
        o.request.notes = std::move(notes);
        return o;
    };
    if (parent.empty()) return skip("ERROR: Can't determine Last Known Parent, skipping...\n");
    if (IContains(parent, ",cn=deleted objects,"))
        return skip("ERROR: cn=Deleted Objects in Last Known Parent, must specify new parent, "
                    "skipping...\n");
    // The own DN of a <GUID=...> or <SID=...> target, searched for once when
    // needed.
    const bool named = dn.starts_with("<");
    std::string current;
    bool looked = false;
    auto currentDN = [&]() -> const std::string& {
        if (!looked) current = lookups_.CurrentDN(dn);
        looked = true;
        return current;
    };
    std::string rdn = s_.newRDN;
    if (rdn.empty() && !named) {
        rdn = CutMangledRDN(dn);
    } else if (rdn.empty()) {
        // The last known RDN with the type of the current RDN, or, when the
        // directory keeps none, the current RDN without the deletion mangling.
        const std::string known = lookups_.LastKnownRDN(dn);
        if (known.empty()) {
            rdn = currentDN().empty() ? std::string() : CutMangledRDN(currentDN());
        } else if (known.find('=') != std::string::npos) {
            rdn = known;
        } else {
            const std::string type = FirstRDN(currentDN());
            const std::size_t eq = type.find('=');
            rdn = (eq == std::string::npos ? std::string("CN") : type.substr(0, eq)) + "=" + known;
        }
    }
    if (rdn.empty()) return skip("ERROR: Can't determine Last Known RDN, skipping...\n");
    BuildOutcome o;
    if (!ExpandRDN(dn, rdn, o)) {
        o.request.notes = std::move(notes);
        return o;
    }
    const std::string newDN = rdn + "," + parent;
    auto mods = std::make_shared<ModList>();
    mods->AddClear(LDAP_MOD_DELETE, "isDeleted");
    mods->AddStrings(LDAP_MOD_REPLACE, "distinguishedName", {newDN});
    notes.push_back(Log("NewDN: " + newDN));
    for (const auto& [name, values] : mods_.add) {
        mods->AddStrings(LDAP_MOD_ADD, name, values);
        for (const auto& v : values)
            notes.push_back(Log("MOD: LDAP_MOD_ADD -" + name +
                                " :: " + (IsSecretAttribute(name) ? std::string(kRedacted) : v)));
    }
    for (const auto& [name, values] : mods_.binAdd) {
        mods->AddBinary(LDAP_MOD_ADD, name, values);
        notes.push_back(Log("MOD: LDAP_MOD_ADD | LDAP_MOD_BVALUES - " + name));
    }
    o.request.kind = RequestKind::Modify;
    // A <GUID=...> target is restored through its current DN: some
    // directories only reanimate a tombstone named by its DN.
    o.request.dn = named && !currentDN().empty() ? currentDN() : dn;
    o.request.mods = std::move(mods);
    o.request.controls = controls_;
    o.request.notes = std::move(notes);
    return o;
}

BuildOutcome RequestBuilder::Add(const std::string& dn) const {
    BuildOutcome o;
    o.request.notes.push_back(Log("Adding: " + dn));
    if (facts_.logOpen) o.request.notes.push_back(Log(ModDump(dn, *modList_)));
    o.request.kind = RequestKind::Add;
    o.request.dn = dn;
    o.request.mods = modList_;
    o.request.controls = controls_;
    o.request.refreshTtl = refreshTtl_;
    return o;
}

BuildOutcome RequestBuilder::Update(const std::string& dn) const {
    BuildOutcome o;
    if (StrToLower(dn).starts_with("dc=") && !s_.updateNCHead) {
        o.status = BuildOutcome::Status::Fatal;
        o.exitCode = exitcode::kFatal;
        o.fatalText = ErrorBlockText({"NC Head Update requires -updatenchead switch.", "DN=" + dn});
        return o;
    }
    if (rows_.descriptorsPerObject && rows_.descriptors) return UpdateWithDescriptors(dn);
    auto& notes = o.request.notes;
    if (!generatedPassword_.empty())
        notes.push_back({Channel::Console, " \"" + generatedPassword_ + "\" "});
    o.request.dn = dn;
    o.request.refreshTtl = refreshTtl_;
    if (modList_->Empty()) {
        if (refreshTtl_ >= 0) {
            o.request.kind = RequestKind::Refresh;
            return o;
        }
        notes.push_back({Channel::ConsoleAlways, "  No LDAP updates to make.\n"});
        notes.push_back(Log("No LDAP updates to make..."));
        o.status = BuildOutcome::Status::Done;
        return o;
    }
    if (facts_.logOpen) notes.push_back(Log(ModDump(dn, *modList_)));
    o.request.kind = RequestKind::Modify;
    o.request.mods = modList_;
    o.request.controls = controls_;
    return o;
}

// A descriptor read from the object itself ({GETSD}, {GETDSD}, {GETTSD}
// without a name) is built for each object: the shared values with this
// object's descriptors added.
BuildOutcome RequestBuilder::UpdateWithDescriptors(const std::string& dn) const {
    BuildOutcome o;
    auto fatal = [&](Failure f) {
        o.status = BuildOutcome::Status::Fatal;
        o.exitCode = f.exitCode;
        o.fatalText = std::move(f.text);
        return o;
    };
    ModContainers mods = mods_;
    const ExpandFn expand = [&](const std::string& text, const std::string& attribute) {
        return rows_.expander
                   ? rows_.expander->ExpandPlain(text, attribute,
                                                 static_cast<std::uint64_t>(s_.counterStart), &dn)
                   : Expanded{true, text, 0, {}};
    };
    if (Step failed = ResolveSdMods(mods, expand, rows_.descriptors, dn)) return fatal(*failed);
    mods.sdMods.clear();
    auto list = std::make_shared<ModList>();
    BuildResult built = BuildModifications(mods, modOptions_, false, *list);
    if (!built.ok)
        return fatal(Failure{built.exitCode, built.error + "\n" + std::string(kDidNotComplete)});
    std::shared_ptr<const ControlList> controls = controls_;
    if (mods.sdFlagsRequested)
        if (Step failed = ControlsWithSdFlags(mods.sdFlags, controls)) return fatal(*failed);
    auto& notes = o.request.notes;
    o.request.dn = dn;
    o.request.refreshTtl = refreshTtl_;
    if (list->Empty()) {
        notes.push_back({Channel::ConsoleAlways, "  No LDAP updates to make.\n"});
        notes.push_back(Log("No LDAP updates to make..."));
        o.status = BuildOutcome::Status::Done;
        return o;
    }
    if (facts_.logOpen) notes.push_back(Log(ModDump(dn, *list)));
    o.request.kind = RequestKind::Modify;
    o.request.mods = std::move(list);
    o.request.controls = std::move(controls);
    return o;
}

BuildOutcome RequestBuilder::RenameRow(const Target& target, const std::string& dn,
                                       std::uint64_t index) const {
    const Expanded name = rows_.expander->Expand(
        target, static_cast<std::uint64_t>(s_.counterStart) + index, s_.newRDN, "", 0);
    if (!name.ok) {
        BuildOutcome o;
        o.status = BuildOutcome::Status::Failed;
        o.code = ToWinLdapCode(LDAP_PARAM_ERROR);
        o.showLdapError = false;
        o.message =
            "Renaming " + dn + " to " + s_.newRDN + "...: ERROR: Couldn't expand dynamic string\n";
        o.request.notes.push_back(Log("Renaming " + dn + " to " + s_.newRDN +
                                      "...: ERROR: Couldn't expand dynamic string"));
        return o;
    }
    return Rename(dn, name.value);
}

BuildOutcome RequestBuilder::Row(const Target& target, const std::string& dn,
                                 std::uint64_t index) const {
    BuildOutcome o;
    const bool add = s_.op == KELVO_ADD;
    if (!add && StrToLower(dn).starts_with("dc=") && !s_.updateNCHead) {
        o.status = BuildOutcome::Status::Fatal;
        o.exitCode = exitcode::kFatal;
        o.fatalText = ErrorBlockText({"NC Head Update requires -updatenchead switch.", "DN=" + dn});
        return o;
    }
    RowOptions options;
    options.add = add;
    options.expand = s_.expand;
    options.csvModNull = s_.csvModNull;
    options.log = facts_.logOpen;
    options.encrypted = facts_.protectedSession;
    options.replacer = rows_.replacer;
    options.dnAttributes = rows_.dnAttributes;
    options.descriptor = rows_.descriptors;
    if (refreshTtl_ >= 0) options.leaveOut = "entryttl";
    Target addressed = target;
    addressed.dn = dn;
    RowMods row =
        BuildRowModifications(mods_, addressed, static_cast<std::uint64_t>(s_.counterStart) + index,
                              *rows_.expander, options);
    auto& notes = o.request.notes;
    if (row.fatal) {
        o.status = BuildOutcome::Status::Fatal;
        o.exitCode = row.fatal->exitCode;
        o.fatalText = std::move(row.fatal->text);
        // Say which input line the failing values came from.
        if (target.line != 0)
            o.fatalText +=
                "ERROR: The values of " + SourceOf(target) + " (" + dn + ") could not be built.\n";
        return o;
    }
    notes.push_back(Log((add ? "Adding: " : "Updating: ") + dn));
    notes.insert(notes.end(), row.notes.begin(), row.notes.end());
    if (row.needsEncryptionWarning)
        notes.push_back({Channel::ConsoleAlways,
                         "WARN: Setting unicodePwd requires encryption. You may need -ssl or "
                         "-optenc.\n"});
    if (!row.generatedPassword.empty())
        notes.push_back({Channel::Console, " \"" + row.generatedPassword + "\" "});
    if (add && row.noObjectClass) {
        o.status = BuildOutcome::Status::Failed;
        o.code = LDAP_OBJECT_CLASS_VIOLATION;
        o.showLdapError = false;
        o.message = "  ERROR: No objectClass Specified...\n";
        return o;
    }
    o.request.dn = dn;
    o.request.refreshTtl = refreshTtl_;
    if (row.mods->Empty() && refreshTtl_ >= 0 && !add) {
        o.request.kind = RequestKind::Refresh;
        return o;
    }
    if (row.mods->Empty()) {
        notes.push_back({Channel::ConsoleAlways, "  No LDAP updates to make.\n"});
        notes.push_back(Log("No LDAP updates to make..."));
        o.status = BuildOutcome::Status::Done;
        return o;
    }
    if (facts_.logOpen) notes.push_back(Log(ModDump(dn, *row.mods)));
    o.request.kind = add ? RequestKind::Add : RequestKind::Modify;
    o.request.mods = std::move(row.mods);
    o.request.controls = controls_;
    if (row.sdFlagsRequested) {
        if (Step failed = ControlsWithSdFlags(mods_.sdFlags | row.sdFlags, o.request.controls)) {
            o.status = BuildOutcome::Status::Fatal;
            o.exitCode = failed->exitCode;
            o.fatalText = std::move(failed->text);
            return o;
        }
    }
    return o;
}

BuildOutcome RequestBuilder::Build(const Target& target, std::uint64_t index) const {
    // -replacedn: the target itself moves to the other directory's names.
    std::string dn =
        rows_.replacer && rows_.replacer->Active() ? rows_.replacer->Apply(target.dn) : target.dn;
    // -bmod names the object an add or update acts on, from its own DN and
    // the object counter (-autobase: cn={{*origname*}}_{{*cnt*}},...).
    if ((s_.op == KELVO_ADD || s_.op == KELVO_UPDATE) && s_.expand && !s_.bmod.empty() &&
        rows_.expander != nullptr) {
        Target named = target;
        named.dn = dn;
        Expanded e = rows_.expander->Expand(
            named, static_cast<std::uint64_t>(s_.counterStart) + index, s_.bmod, "", 0);
        if (!e.ok) {
            BuildOutcome o;
            o.status = BuildOutcome::Status::Fatal;
            o.exitCode = e.exitCode;
            o.fatalText = std::move(e.message);
            return o;
        }
        dn = std::move(e.value);
    }
    const bool rows = CsvRows();
    switch (s_.op) {
    case KELVO_DELETE:
        return Delete(dn);
    case KELVO_MOVE:
        return Move(dn);
    case KELVO_RENAME:
        return rows ? RenameRow(target, dn, index) : Rename(dn, s_.newRDN);
    case KELVO_UNDEL:
        return Undelete(dn);
    case KELVO_ADD:
        return rows ? Row(target, dn, index) : Add(dn);
    case KELVO_UPDATE:
        return rows ? Row(target, dn, index) : Update(dn);
    default: {
        BuildOutcome o;
        o.status = BuildOutcome::Status::Done;
        return o;
    }
    }
}
