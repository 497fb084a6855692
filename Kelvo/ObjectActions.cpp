#include "ObjectActions.h"

#include "ConsoleOutput.h"
#include "DSTime.h"
#include "Diag.h"
#include "LDAPFuncs.h"
#include "Secrets.h"
#include "SwitchTable.h"
#include "Utf16.h"
#include "VarExpansion.h"
#include "pellixstrings.h"

#include <cctype>

namespace {

constexpr int kTreeNukeAttempts = 10000;
constexpr int kAdminLimitExceeded = 11;

bool Quiet() {
    return Globals().quiet;
}

bool IsCsv(const RunContext& ctx) {
    return ctx.settings.csv || ctx.settings.adcsv;
}

std::string CsvLabel(const RunContext& ctx) {
    return IsCsv(ctx) ? " (CSV)" : " (!CSV)";
}

// The show-deactivated-links control goes only to servers that list it.
void AddShowDeleted(const RunContext& ctx, ControlList& controls) {
    controls.Add(oid::kShowDeleted, {}, "Control: LDAP_SERVER_SHOW_DELETED_OID");
    if (ctx.root && ctx.root->HasControl(std::string(oid::kShowDeactivatedLink)))
        controls.Add(oid::kShowDeactivatedLink, {},
                     "Control: LDAP_SERVER_SHOW_DEACTIVATED_LINK_OID");
}

void AddShowRecycled(ControlList& controls) {
    controls.Add(oid::kShowRecycled, {}, "Control: LDAP_SERVER_SHOW_RECYCLED_OID");
}

void AddSdFlags(const RunContext& ctx, ControlList& controls) {
    if (ctx.mods.sdFlagsRequested)
        controls.Add(oid::kSdFlags, BerInt(static_cast<int>(ctx.mods.sdFlags)),
                     "Control: LDAP_SERVER_SD_FLAGS_OID");
}

// Controls of modify and add requests, in the order they are sent.
void AddModifyControls(const RunContext& ctx, ControlList& controls) {
    const auto& s = ctx.settings;
    if (s.permissive)
        controls.Add(oid::kPermissiveModify, {}, "Control: LDAP_SERVER__PERMISSIVE_MODIFY_OID");
    if (s.policyHints)
        controls.Add(oid::kPolicyHints, BerInt(1), "Control: LDAP_SERVER_POLICY_HINTS_OID");
    AddSdFlags(ctx, controls);
    if (s.showDeleted) AddShowDeleted(ctx, controls);
    if (s.showRecycled) AddShowRecycled(controls);
    if (!s.verifyGC.empty())
        controls.Add(oid::kVerifyName, BerIntOctets(0, Utf8ToUtf16LE(s.verifyGC)),
                     "Control: LDAP_SERVER_VERIFY_NAME_OID -- " + s.verifyGC);
}

std::uint32_t Code(int rc) {
    return ToWinLdapCode(rc);
}

ObjectResult FromCode(int rc) {
    ObjectResult r;
    r.code = Code(rc);
    r.status = r.code == 0 ? ObjectResult::Status::Success : ObjectResult::Status::Failed;
    return r;
}

ObjectResult Skip() {
    ObjectResult r;
    r.status = ObjectResult::Status::Skipped;
    return r;
}

// Ends the run with `exitCode`.
ObjectResult Fatal(int exitCode) {
    ObjectResult r;
    r.status = ObjectResult::Status::Fatal;
    r.exitCode = exitCode;
    return r;
}

// The RDN passed through -bmod expansion when expansion is on.  Returns an
// object result when the object cannot go on.
std::optional<ObjectResult> ExpandRDN(const RunContext& ctx, const std::string& dn,
                                      std::string& rdn) {
    if (!ctx.settings.expand || ctx.settings.bmod.empty()) return std::nullopt;
    DNBreakoutMap parts;
    if (int rc = DNBreakout(dn, false, parts); rc != 0) return Fatal(rc);
    ExpansionVariables()["ORIGNAME"] = parts["NAME"];
    if (VarExpansionSingle(ctx.settings.bmod, rdn)) return std::nullopt;
    diag::Out("ERROR: Couldn't expand dynamic string");
    return FromCode(LDAP_PARAM_ERROR);
}

std::string NewParentFor(const RunContext& ctx, const OperationPlan& plan, const std::string& dn) {
    if (plan.newParentBase.empty()) return ctx.settings.newParent;
    std::string parent =
        ResolveRnpb(plan.newParentBase, dn, ctx.root ? ctx.root->RootDomainNC() : "");
    diag::TraceOut("DEBUG: RNPB NewParent = " + parent + "\n");
    LogLine("NewParent (rnpb): " + parent);
    return parent;
}

ObjectResult Delete(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    int rc = ldap_delete_ext_s(ctx.ld, dn.c_str(), plan.controls.Array(), nullptr);
    if (ctx.settings.treeNuke) {
        // Large subtrees come down in pieces: repeat while the server says so.
        for (int attempt = 1; rc == kAdminLimitExceeded && attempt < kTreeNukeAttempts; ++attempt) {
            if (!Quiet()) {
                diag::Out(".");
                diag::Flush();
            }
            rc = ldap_delete_ext_s(ctx.ld, dn.c_str(), plan.controls.Array(), nullptr);
        }
    }
    return FromCode(rc);
}

ObjectResult Move(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    std::string rdn = ctx.settings.newRDN.empty() ? FirstRDN(dn) : ctx.settings.newRDN;
    if (auto stop = ExpandRDN(ctx, dn, rdn)) return *stop;
    std::string parent = NewParentFor(ctx, plan, dn);
    diag::DebugOut("DEBUG: Move Object RDN=" + rdn + "\n");
    LogLine("RDN: " + rdn);
    LogLine("DN: " + dn);
    return FromCode(ldap_rename_s(ctx.ld, dn.c_str(), rdn.c_str(), parent.c_str(), 1,
                                  plan.controls.Array(), nullptr));
}

ObjectResult Rename(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    std::string rdn = RenameRDN(dn, ctx.settings.newRDN);
    std::string given = NewParentFor(ctx, plan, dn);
    std::string parent = given.empty() ? ParentOf(dn) : given;
    if (!Quiet()) {
        std::string line = "Renaming " + dn + " to " + rdn;
        if (!given.empty()) line += " (" + given + ")";
        diag::Out(line + "...");
    }
    LogLine("Renaming: " + dn);
    return FromCode(ldap_rename_s(ctx.ld, dn.c_str(), rdn.c_str(),
                                  parent.empty() ? nullptr : parent.c_str(), 1,
                                  plan.controls.Array(), nullptr));
}

// The current DN of a deleted object named by <GUID=...> or <SID=...>.
std::string DeletedObjectDN(RunContext& ctx, const std::string& dn) {
    std::vector<std::string> found;
    if (GetDNFromSearch(ctx.ld, dn, "base", "objectclass=*", found, *ctx.root) == 0 &&
        !found.empty())
        return found.front();
    return {};
}

// The RDN a deleted object named by <GUID=...> or <SID=...> gets back: its
// last known RDN with the type of its `current` RDN, or, when the directory
// keeps no last known RDN, its current RDN without the deletion mangling.
std::string LastKnownRDN(RunContext& ctx, const std::string& dn, const std::string& current) {
    std::string rdn = GetLastKnownRDN(ctx.ld, dn, ctx.settings.showRecycled, *ctx.root, LogLine);
    if (rdn.empty()) return current.empty() ? std::string() : CutMangledRDN(current);
    if (rdn.find('=') != std::string::npos) return rdn;
    const std::string type = FirstRDN(current);
    const std::size_t eq = type.find('=');
    return (eq == std::string::npos ? std::string("CN") : type.substr(0, eq)) + "=" + rdn;
}

ObjectResult Undelete(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    LogLine("Undelete: " + dn);
    std::string parent = NewParentFor(ctx, plan, dn);
    if (parent.empty())
        parent = GetLastKnownParent(ctx.ld, dn, ctx.settings.showRecycled, *ctx.root, LogLine);
    if (parent.empty()) {
        if (!Quiet()) diag::Out("ERROR: Can't determine Last Known Parent, skipping...\n");
        return Skip();
    }
    if (IContains(parent, ",cn=deleted objects,")) {
        if (!Quiet())
            diag::Out("ERROR: cn=Deleted Objects in Last Known Parent, must specify new parent, "
                      "skipping...\n");
        return Skip();
    }
    // A <GUID=...> or <SID=...> target's own DN, searched for once when needed.
    std::optional<std::string> current;
    const auto currentDN = [&]() -> const std::string& {
        if (!current) current = DeletedObjectDN(ctx, dn);
        return *current;
    };
    std::string rdn = ctx.settings.newRDN;
    if (rdn.empty() && !dn.starts_with("<")) {
        rdn = CutMangledRDN(dn);
    } else if (rdn.empty()) {
        rdn = LastKnownRDN(ctx, dn, currentDN());
    }
    if (rdn.empty()) {
        if (!Quiet()) diag::Out("ERROR: Can't determine Last Known RDN, skipping...\n");
        return Skip();
    }
    if (auto stop = ExpandRDN(ctx, dn, rdn)) return *stop;
    const std::string newDN = rdn + "," + parent;
    ModList mods;
    mods.AddClear(LDAP_MOD_DELETE, "isDeleted");
    mods.AddStrings(LDAP_MOD_REPLACE, "distinguishedName", {newDN});
    LogLine("NewDN: " + newDN);
    for (const auto& [name, values] : ctx.mods.add) {
        mods.AddStrings(LDAP_MOD_ADD, name, values);
        for (const auto& v : values)
            LogLine("MOD: LDAP_MOD_ADD -" + name +
                    " :: " + (IsSecretAttribute(name) ? std::string(kRedacted) : v));
    }
    for (const auto& [name, values] : ctx.mods.binAdd) {
        mods.AddBinary(LDAP_MOD_ADD, name, values);
        LogLine("MOD: LDAP_MOD_ADD | LDAP_MOD_BVALUES - " + name);
    }
    // A <GUID=...> target is restored through its current DN: some
    // directories only reanimate a tombstone named by its DN.
    const std::string& target = dn.starts_with("<") && !currentDN().empty() ? currentDN() : dn;
    return FromCode(
        ldap_modify_ext_s(ctx.ld, target.c_str(), mods.Array(), plan.controls.Array(), nullptr));
}

// Sets the time to live of a dynamic object through the refresh operation.
ObjectResult Refresh(RunContext& ctx, const OperationPlan& plan, const std::string& dn) {
    berval name{static_cast<ber_len_t>(dn.size()), const_cast<char*>(dn.c_str())};
    ber_int_t granted = 0;
    LogLine("Refresh: " + dn + " entryTtl " + std::to_string(plan.refreshTtl));
    return FromCode(ldap_refresh_s(ctx.ld, &name, plan.refreshTtl, &granted, nullptr, nullptr));
}

// The result of a write, followed by the refresh when the plan has a time to
// live to set.
ObjectResult RefreshAfter(RunContext& ctx, const OperationPlan& plan, const std::string& dn,
                          int rc) {
    ObjectResult r = FromCode(rc);
    if (r.status == ObjectResult::Status::Success && plan.refreshTtl >= 0)
        return Refresh(ctx, plan, dn);
    return r;
}

ObjectResult Update(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    if (StrToLower(dn).starts_with("dc=") && !ctx.settings.updateNCHead) {
        ErrorBlock({"NC Head Update requires -updatenchead switch.", "DN=" + dn});
        return Fatal(-1);
    }
    if (!plan.generatedPassword.empty() && !Quiet())
        diag::Out(" \"" + plan.generatedPassword + "\" ");
    if (plan.mods.Empty() && plan.refreshTtl >= 0) return Refresh(ctx, plan, dn);
    if (plan.mods.Empty()) {
        diag::Out("  No LDAP updates to make.\n");
        LogLine("No LDAP updates to make...");
        return FromCode(0);
    }
    if (Log().IsOpen()) Log().WriteLine(ModDump(dn, plan.mods));
    return RefreshAfter(
        ctx, plan, dn,
        ldap_modify_ext_s(ctx.ld, dn.c_str(), plan.mods.Array(), plan.controls.Array(), nullptr));
}

ObjectResult Add(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    LogLine("Adding: " + dn);
    if (Log().IsOpen()) Log().WriteLine(ModDump(dn, plan.mods));
    return RefreshAfter(
        ctx, plan, dn,
        ldap_add_ext_s(ctx.ld, dn.c_str(), plan.mods.Array(), plan.controls.Array(), nullptr));
}

// Servers other than Active Directory refuse an entryTtl value (it is theirs to
// maintain); the time to live is set through the refresh operation after the
// write instead.
void PlanRefresh(RunContext& ctx, OperationPlan& plan) {
    if (!ctx.settings.dynamic || !ctx.root || ctx.root->IsWindowsLDAP()) return;
    auto take = [&](std::string& text) {
        plan.refreshTtl = static_cast<int>(std::strtol(text.c_str(), nullptr, 10));
    };
    if (auto it = ctx.mods.add.find("entryttl"); it != ctx.mods.add.end()) {
        take(it->second.front());
        ctx.mods.add.erase(it);
    }
    if (auto it = ctx.mods.replace.find("entryttl"); it != ctx.mods.replace.end()) {
        take(it->second);
        ctx.mods.replace.erase(it);
    }
}

} // namespace

std::optional<int> PrepareDynamic(SwitchParser& parser, RunSettings& settings) {
    KELVO_TRACE_SCOPE();
    if (parser.IsSwitch(sw::tmpobj)) parser.SetValue(sw::dynamic, parser.GetValue(sw::tmpobj));
    if (!parser.IsSwitch(sw::dynamic)) return std::nullopt;
    if (settings.op != KELVO_ADD && settings.op != KELVO_UPDATE) {
        ErrorBlock({"-dynamic can only be used for ADD and MODIFY options"});
        diag::Out("\n");
        return UsageHint();
    }
    settings.dynamic = true;
    if (settings.op == KELVO_ADD) {
        for (const auto& arg : parser.SelectedArgs()) {
            if (!IStartsWith(arg, "objectclass:")) continue;
            parser.RemoveArg(arg);
            TokenVector f;
            GetXTokens(arg, ":", f, 3);
            parser.AddArg(f[0] + ":++:" + f[2] + ";dynamicObject");
            break;
        }
    }
    std::string ttl = parser.GetValue(sw::dynamic);
    if (ttl.empty()) ttl = "07:00:00:00";
    if (ttl.starts_with(':')) ttl = "0" + ttl;
    if (ttl.find_first_of(":dhms") == std::string::npos) ttl = "00:" + ttl;
    DSTIME start(TimeMode::Utc);
    DSTIME end(TimeMode::Utc, start.Instant());
    if (ttl.find(':') != std::string::npos) {
        end.AddTime(ttl);
    } else {
        if (ttl.find('d') != std::string::npos) end.AddDays(ttl);
        if (ttl.find('h') != std::string::npos) end.AddHours(ttl);
        if (ttl.find('m') != std::string::npos) end.AddMins(ttl);
        if (ttl.find('s') != std::string::npos) end.AddSecs(ttl);
    }
    end.InitDelta(start);
    const std::string seconds = std::to_string(end.DeltaSeconds());
    diag::DebugOut("DEBUG: entryttl=" + seconds + "\n");
    parser.AddArg("entryttl::" + seconds);
    return std::nullopt;
}

std::string RewriteRnpb(const std::string& value) {
    static const std::pair<std::string_view, std::string_view> kAliases[] = {
        {"domainnc", "<DOMAINNC>"},
        {"domaindn", "<DOMAINNC>"},
        {"defaultnc", "<DOMAINNC>"},
        {"users", "CN=Users,<DOMAINNC>"},
        {"fgpp", "CN=Password Settings Container,CN=System,<DOMAINNC>"},
        {"msa", "CN=Managed Service Accounts,<DOMAINNC>"},
        {"rootnc", "<ROOTNC>"},
        {"rootdn", "<ROOTNC>"},
        {"config", "CN=Configuration,<ROOTNC>"},
        {"sites", "CN=Sites,CN=Configuration,<ROOTNC>"},
    };
    std::string lower = StrToLower(value);
    for (const auto& [alias, text] : kAliases)
        if (lower == alias) return std::string(text);
    // Inside a longer value (OU=x,domainnc) the words become placeholders.
    static const std::pair<std::string_view, std::string_view> kWords[] = {
        {"domainnc", "<DOMAINNC>"}, {"domaindn", "<DOMAINNC>"}, {"defaultnc", "<DOMAINNC>"},
        {"rootnc", "<ROOTNC>"},     {"rootdn", "<ROOTNC>"},
    };
    std::string out = value;
    for (const auto& [word, text] : kWords) {
        for (std::size_t at = StrToLower(out).find(word); at != std::string::npos;
             at = StrToLower(out).find(word, at + text.size()))
            out.replace(at, word.size(), text);
    }
    return out;
}

namespace {

// The trailing DC= components of a DN, in any letter case.
std::string DomainOf(const std::string& dn) {
    std::vector<std::string> parts;
    if (!ExplodeDN(dn, parts)) return DNDomainPart(dn);
    std::size_t first = parts.size();
    while (first > 0 && IStartsWith(parts[first - 1], "dc="))
        --first;
    std::vector<std::string> domain(parts.begin() + static_cast<long>(first), parts.end());
    return JoinTokens(",", domain);
}

} // namespace

std::string ResolveRnpb(const std::string& base, const std::string& dn, const std::string& rootNC) {
    std::string out = base;
    if (out.find("<ROOTNC>") != std::string::npos)
        StrReplaceAllEx(out, "<ROOTNC>", rootNC);
    else
        StrReplaceAllEx(out, "<DOMAINNC>", DomainOf(dn));
    return out;
}

std::string FirstRDN(const std::string& dn) {
    std::vector<std::string> parts;
    if (!ExplodeDN(dn, parts) || parts.empty()) return {};
    return parts.front();
}

std::string ParentOf(const std::string& dn) {
    // The first unescaped comma ends the RDN.
    for (std::size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == '\\') {
            ++i;
            continue;
        }
        if (dn[i] == ',') return dn.substr(i + 1);
    }
    return {};
}

namespace {

// "cn=", "ou=", "1.2.3=" ...: an attribute type followed by "=".
bool HasAttributeType(const std::string& text) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    const unsigned char first = static_cast<unsigned char>(text[0]);
    const bool oidForm = std::isdigit(first);
    for (std::size_t i = 0; i < eq; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (oidForm ? !(std::isdigit(c) || c == '.') : !(std::isalnum(c) || c == '-')) return false;
    }
    return oidForm || std::isalpha(first);
}

} // namespace

std::string RenameRDN(const std::string& currentDN, const std::string& newName) {
    if (HasAttributeType(newName)) return newName;
    std::string rdn = FirstRDN(currentDN);
    std::size_t eq = rdn.find('=');
    std::string type = eq == std::string::npos ? "CN=" : rdn.substr(0, eq + 1);
    return type + newName;
}

std::string CutMangledRDN(const std::string& dn) {
    std::size_t mark = StrToLower(dn).find("\\0adel:");
    if (mark != std::string::npos) {
        std::string rdn = dn.substr(0, mark);
        if (ParentOf(rdn).empty()) return rdn;
    }
    return FirstRDN(dn);
}

void ReportRequestFailure(const RunContext& ctx, std::uint32_t code, bool showLine, bool endLine) {
    std::string ext;
    GetExtendedError(ctx.ld, ext);
    if (showLine) {
        DisplayLDAPError(static_cast<int>(code), nullptr, "", ctx.serverName);
        if (endLine) diag::Out("\n");
    }
    if (Globals().extErr && !ext.empty()) diag::Out("   Extended Error: " + ext + "\n");
    LogLine("ERROR: " + ext);
}

std::optional<int> Hackon(RunContext& ctx) {
    KELVO_TRACE_SCOPE();
    LogLine("Enabling hackon mode...\n");
    int rc = UpdateLDAPString("", "schemaUpgradeInProgress", "1", ctx.ld);
    if (rc == 0) return std::nullopt;
    std::uint32_t code = Code(rc);
    diag::Out("Unable to enable hackmode\n");
    ReportRequestFailure(ctx, code, true, false);
    diag::Out("\n\nERROR: Too many errors encountered, terminating...\n");
    return static_cast<int>(code);
}

std::optional<int> PrepareOperation(RunContext& ctx, OperationPlan& plan) {
    KELVO_TRACE_SCOPE();
    auto& s = ctx.settings;
    const bool quiet = Quiet();
    auto announce = [&](const std::string& text) {
        if (!quiet) diag::Out(text);
    };
    if (!s.rnpb.empty()) plan.newParentBase = RewriteRnpb(s.rnpb);
    if (!plan.newParentBase.empty() && !s.newParent.empty())
        plan.newParentBase = s.newParent + "," + plan.newParentBase;
    switch (s.op) {
    case KELVO_DELETE:
        announce("Deleting specified objects...\n");
        LogLine("KelvoOp=KELVO_DELETE");
        if (s.treeDelete)
            plan.controls.Add(oid::kTreeDelete, {}, "Control: LDAP_SERVER_TREE_DELETE_OID");
        if (s.showDeleted) AddShowDeleted(ctx, plan.controls);
        if (s.recycle || s.showRecycled) AddShowRecycled(plan.controls);
        break;
    case KELVO_MOVE: {
        std::string shown = plan.newParentBase.empty() ? s.newParent : plan.newParentBase;
        announce("Moving specified objects to " + shown + "...\n");
        LogLine("KelvoOp=KELVO_MOVE" + CsvLabel(ctx));
        LogLine("NewParent: " + shown);
        if (!s.xdom.empty()) {
            Bytes name(s.xdom.begin(), s.xdom.end());
            name.push_back(0);
            plan.controls.Add(oid::kCrossDomMove, name,
                              "Control: LDAP_SERVER_CROSSDOM_MOVE_TARGET_OID -" + s.xdom);
        }
        if (s.showDeleted) AddShowDeleted(ctx, plan.controls);
        if (s.showRecycled) AddShowRecycled(plan.controls);
        break;
    }
    case KELVO_RENAME:
        LogLine("KelvoOp=KELVO_RENAME" + CsvLabel(ctx));
        LogLine("NewRDN: " + s.newRDN);
        LogLine("NewParent: " + s.newParent);
        if (s.showDeleted) AddShowDeleted(ctx, plan.controls);
        if (s.showRecycled) AddShowRecycled(plan.controls);
        break;
    case KELVO_UNDEL:
        announce("Undeleting specified objects...\n");
        LogLine("KelvoOp=KELVO_UNDEL");
        LogLine("NewParent: " + s.newParent);
        AddShowDeleted(ctx, plan.controls);
        if (s.showRecycled) AddShowRecycled(plan.controls);
        AddSdFlags(ctx, plan.controls);
        break;
    case KELVO_ADD:
    case KELVO_UPDATE: {
        const bool add = s.op == KELVO_ADD;
        announce(add ? "Adding specified objects...\n" : "Modifying specified objects...\n");
        LogLine(std::string(add ? "KelvoOp=KELVO_ADD" : "KelvoOp=KELVO_UPDATE") + CsvLabel(ctx));
        AddModifyControls(ctx, plan.controls);
        PlanRefresh(ctx, plan);
        BuildOptions options;
        options.expand = s.expand;
        options.encrypted = ctx.sessionProtected;
        BuildResult built = BuildModifications(ctx.mods, options, add, plan.mods);
        if (!built.ok) {
            diag::Out(built.error + "\n");
            diag::Out(kDidNotComplete);
            return -10021;
        }
        plan.generatedPassword = built.generatedPassword;
        plan.modsBuilt = true;
        break;
    }
    default:
        break;
    }
    return std::nullopt;
}

ObjectResult ProcessObject(RunContext& ctx, OperationPlan& plan, const std::string& dn) {
    switch (ctx.settings.op) {
    case KELVO_DELETE:
        return Delete(ctx, plan, dn);
    case KELVO_MOVE:
        return Move(ctx, plan, dn);
    case KELVO_RENAME:
        return Rename(ctx, plan, dn);
    case KELVO_UNDEL:
        return Undelete(ctx, plan, dn);
    case KELVO_ADD:
        return Add(ctx, plan, dn);
    case KELVO_UPDATE:
        return Update(ctx, plan, dn);
    default:
        return FromCode(0);
    }
}
