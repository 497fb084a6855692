#include "MainRun.h"

#include "AttributeActions.h"
#include "ConsoleOutput.h"
#include "DNInput.h"
#include "Descriptors.h"
#include "Diag.h"
#include "EncPwd.h"
#include "Expansion.h"
#include "Import.h"
#include "InFlightOrder.h"
#include "LDAPFuncs.h"
#include "LdifWriter.h"
#include "ObjectActions.h"
#include "PasswordFile.h"
#include "Platform.h"
#include "Rejects.h"
#include "RequestBuilder.h"
#include "ResultPrinter.h"
#include "RunState.h"
#include "Secrets.h"
#include "Sender.h"
#include "Shortcuts.h"
#include "SwitchParser.h"
#include "SwitchTable.h"
#include "Undo.h"
#include "ValueEncoding.h"
#include "pellixstrings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace {

// Hidden prompts read the terminal only: input piped in is data, never a
// password.
constexpr std::string_view kNoTerminalForPassword =
    "A password prompt needs a terminal, and there is none (no terminal on standard input "
    "and /dev/tty cannot be opened). In scripts use -upfile FILE or an ENCPWD: value.";

// While it lives, and only in a quiet run, what the modules write to standard
// output goes to standard error: failure reports of a step that prints no
// regular output.
class QuietErrorsToStderr {
  public:
    explicit QuietErrorsToStderr(bool quiet) : active_(quiet) {
        if (!active_) return;
        saved_ = diag::Get().out;
        diag::Get().out = [](std::string_view text) { diag::Err(text); };
    }
    ~QuietErrorsToStderr() {
        if (active_) diag::Get().out = std::move(saved_);
    }
    QuietErrorsToStderr(const QuietErrorsToStderr&) = delete;
    QuietErrorsToStderr& operator=(const QuietErrorsToStderr&) = delete;

  private:
    bool active_;
    std::function<void(std::string_view)> saved_;
};

// Ends the run with `code` after output that is already shown (help texts).
Failure Exit(int code) {
    return Fail(code);
}

// The error of an LDAP URL that carries a scope, filter or attributes.
Failure UrlFieldsFailure() {
    return UsageFailureAfterBlank(ErrorBlockText(
        {"The LDAP URL SCOPE, FILTER, and ATTRIBUTES fields are invalid for Kelvo."}));
}

// Takes host, base and SSL from an LDAP URL (-url or an ADCSV header).  False
// when the URL carries a scope, filter or attributes.
[[nodiscard]] bool ApplyLdapUrl(const std::string& url, bool& ssl, std::string& host,
                                std::string& base) {
    std::map<std::string, std::string> fields;
    if (!ParseLDAPURL(url, fields)) return true;
    if (diag::Debug()) {
        diag::Out("DEBUG: ParseLDAPURL\n");
        for (const auto& [k, v] : fields)
            diag::Out("DEBUG:  " + k + " = " + v + "\n");
    }
    if (fields["PROTOCOL"].find("LDAPS:") != std::string::npos) ssl = true;
    if (!fields["HOST"].empty()) host = fields["HOST"];
    base = fields["BASE"];
    const std::string& scope = fields["SCOPE"];
    return (scope.empty() || StrToUpper(scope) == "BASE") && fields["FILTER"].empty() &&
           fields["ATTRS"].empty();
}

// The directory reads of the request builder, on the bound session.
class SessionLookups final : public DirectoryLookups {
  public:
    SessionLookups(LDAP* session, const CRootDSE& root, bool showRecycled)
        : ld_(session), root_(root), showRecycled_(showRecycled) {}

    std::string LastKnownParent(const std::string& dn) override {
        return GetLastKnownParent(ld_, dn, showRecycled_, root_, LogLine);
    }
    std::string LastKnownRDN(const std::string& dn) override {
        return GetLastKnownRDN(ld_, dn, showRecycled_, root_, LogLine);
    }
    std::string CurrentDN(const std::string& dn) override {
        std::vector<std::string> found;
        if (GetDNFromSearch(ld_, dn, "base", "objectclass=*", found, root_) == 0 && !found.empty())
            return found.front();
        return {};
    }

  private:
    LDAP* ld_;
    const CRootDSE& root_;
    bool showRecycled_;
};

// Requests in flight at most (-parallel), and objects built and not yet
// reported for each of them.
constexpr std::uint32_t kMaxInFlight = 64;
constexpr std::size_t kQueuedPerInFlight = 4;

// A whole number from 0 to `max`, in decimal digits only.
std::optional<std::uint32_t> ParseCount(const std::string& text, std::uint32_t max) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
    if (n > max) return std::nullopt;
    return static_cast<std::uint32_t>(n);
}

std::uint32_t ToUnsigned(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

std::int32_t ToSigned(const std::string& text) {
    return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

class Run {
  public:
    Run(std::vector<std::string> args, const std::vector<std::string>& environment)
        : args_(std::move(args)), env_(environment), parser_({}, {}), stdinReader_(stdin) {}

    int Execute();

  private:
    Step StartUp();
    Step Layers();
    Step OutputFlags();
    Step EarlySwitches();
    Step ValidateSwitches();
    Step Help();
    Step UrlAndBases();
    Step Conversions();
    Step OperationKind();
    Step Credentials();
    Step Targets();
    Step Actions();
    Step Freeze();
    Step Limits();
    Step OpenUndo();
    Step OpenLdif();
    Step Connect();
    Step Prepare();
    Step PrepareImport();
    Step Loop();
    // The request loop: slots for the objects from build to report.
    struct Slot {
        std::size_t index = 0; // in input_.targets
        BuildOutcome built;
        Target shown; // the DN line's object
        Result result;
        RequestScope scope;        // what the request acts on
        bool inFlight = false;     // sent, not answered
        bool undoPending = false;  // its undo is in flight in the undo file
        bool begun = false;        // its DN line is shown
        bool retriesShown = false; // tree-nuke repeats were shown as they went
    };
    struct LoopState {
        const ResultPrinter& printer;
        UndoRecorder* undo = nullptr;
        std::size_t width = 1; // requests in flight at most
        RequestsInFlight* flight = nullptr;
        std::deque<Slot> slots;  // built and not yet reported, in input order
        bool stopped = false;    // no further object is built or sent
        bool failedStop = false; // stopped by a failure or a lost server
        std::uint32_t lastError = 0;
        std::optional<Failure> ending; // the run ends with this once all is reported
    };
    RequestScope SlotScope(const Slot& slot, const Target& target) const;
    bool WaitForOverlaps(LoopState& loop, const RequestScope& scope);
    void TakeAnswer(LoopState& loop);
    void StopOnFailure(LoopState& loop, const Slot& slot) const;
    void Dispatch(LoopState& loop, Slot& slot);
    void BeginReport(LoopState& loop, Slot& slot);
    void ReportAnswered(LoopState& loop);
    void Report(LoopState& loop, Slot& slot);
    int End(std::uint32_t lastError);
    int Finish(const Failure& failure); // every exit after start-up passes here
    Step CloseLog();                    // fails when a log line could not be written
    Step CloseUndo();                   // the final undo file; fails when it cannot be written

    // The rejects file and the record of how far the run got.
    Step OpenRejects();
    Step RecordOutcome(std::size_t index, bool failed);
    void WriteReject(const Target& target);
    Step FinishTargets();
    Failure RejectsFailure();
    Step CloseLdif(); // fails, once, when a record could not be written

    bool Quiet() const { return Globals().quiet; }
    // The run settings, read-only once the settings phase is over.
    const RunSettings& Settings() const { return *settings_; }

    std::vector<std::string> args_;
    std::vector<std::string> env_;
    SwitchParser parser_;
    RunSettings s_; // filled by the settings phase, then moved to settings_
    std::unique_ptr<const RunSettings> settings_;
    TargetInput input_;
    ModContainers mods_;
    LineReader stdinReader_;
    std::unique_ptr<LdapSession> session_;
    std::unique_ptr<CRootDSE> root_;
    LDAP* ld_ = nullptr;
    bool sessionProtected_ = false;
    std::string serverName_;                  // DNS host name shown in error lines
    std::string baseDN_;                      // the base, resolved against the RootDSE
    std::string password_;                    // kept apart from the settings, wiped after the bind
    DNReplacer replacer_;                     // -replacedn
    SchemaSets schema_;                       // what import and DN replacement read of the schema
    std::unique_ptr<RunExpansion> expansion_; // {{...}} values, after the RootDSE
    // Descriptor values and SID lookups: before the bind with no directory
    // (-sdsimple values), then on the bound session.
    std::unique_ptr<DescriptorServices> descriptors_;
    bool descriptorsPerObject_ = false; // descriptors read from each object
    SdBuildFn DescriptorBuilder();
    DescriptorSettings DescriptorOptions(const RunSettings& s) const;
    Timers timers_;
    DomainPartitionMap partitions_;
    std::uint32_t succeeded_ = 0;
    std::uint32_t failed_ = 0;
    RejectsFile rejects_;
    bool rejectsWanted_ = false;
    bool targetsReady_ = false;       // the targets are read and may be written back
    bool targetsFinished_ = false;    // FinishTargets ran
    std::size_t nextUnattempted_ = 0; // the first target the run has not finished
    bool serverLost_ = false;
    bool rejectRedirect_ = false; // the piped lines are values of the -b object
    bool autobaseRun_ = false;
    std::string singleText_;       // the -b object as given, or the resolved special base
    std::uint64_t notWritten_ = 0; // objects the rejects file cannot name
    bool rejectsFailureShown_ = false;
    LdifOutput ldif_;         // -ldifout
    std::size_t notSent_ = 0; // -whatif: requests built and not sent
    std::string usageFile_;
    bool usageToFile_ = false;
    std::unique_ptr<UndoFile> undoFile_; // -undo
    std::uint64_t undoRecorded_ = 0;
};

int Run::Finish(const Failure& failure) {
    int code = failure.exitCode;
    // A quiet run keeps standard output quiet, never an error: the text of a
    // failure goes to standard error there.
    auto show = [this](const Failure& f) {
        if (Quiet() && f.exitCode != exitcode::kSuccess)
            diag::Err(f.text);
        else
            diag::Out(f.text);
    };
    if (Step r = FinishTargets()) {
        show(*r);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    show(failure);
    if (Step r = CloseUndo()) {
        show(*r);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    if (session_) session_->Unbind();
    if (failure.pause) Pause();
    if (Step r = CloseLog()) {
        show(*r);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    if (Step r = CloseLdif()) {
        show(*r);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    diag::Flush();
    return code;
}

Step Run::CloseLog() {
    Log().Close();
    if (!Log().Failed()) return std::nullopt;
    return Fail(exitcode::kFatal, ErrorBlockText({"Could not write log file - " + Log().Name() +
                                                  ": " + Log().Error()}));
}

namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buf;
}

constexpr std::string_view kUndoApply =
    "# Undoes the changes of one Kelvo run, the last change first.\n"
    "# Apply it with: ldapmodify -c -f FILE, bound as an administrator.\n";

} // namespace

Step Run::CloseUndo() {
    if (!undoFile_) return std::nullopt;
    std::unique_ptr<UndoFile> file = std::move(undoFile_);
    const std::string header = std::string(kUndoApply) + "# Finished " + UtcNow() + ": " +
                               std::to_string(undoRecorded_) + " change(s) recorded.\n\n";
    if (file->Finish(header)) return std::nullopt;
    return Fail(exitcode::kFatal,
                ErrorBlockText({"Could not write the undo file - " + file->Error(),
                                "The file as last written still holds every confirmed change."}));
}

Step Run::CloseLdif() {
    if (ldif_.Close()) return std::nullopt;
    return Fail(exitcode::kFatal, ErrorBlockText({"Could not write LDIF file - " + ldif_.Name() +
                                                  ": " + ldif_.Error()}));
}

int Run::Execute() {
    for (Step (Run::*step)() :
         {&Run::StartUp, &Run::Layers, &Run::OutputFlags, &Run::EarlySwitches,
          &Run::ValidateSwitches, &Run::Help, &Run::UrlAndBases, &Run::Conversions,
          &Run::OperationKind, &Run::Credentials, &Run::Targets, &Run::Actions, &Run::Freeze,
          &Run::Limits, &Run::OpenUndo, &Run::OpenLdif, &Run::Connect, &Run::Prepare, &Run::Loop}) {
        if (Step r = (this->*step)()) return Finish(*r);
    }
    return Finish(Exit(exitcode::kSuccess));
}

Step Run::StartUp() {
    SaveTitle();
    auto& g = Globals();
    g.stdinRedirected = platform::IsRedirected(platform::Stream::In);
    g.stdoutRedirected = platform::IsRedirected(platform::Stream::Out);
    g.stderrRedirected = platform::IsRedirected(platform::Stream::Err);
    ApplyGnuSpellings(args_);
    parser_ = SwitchParser(args_, SwitchDeclarations());
    // The parser holds the one copy of a password from here to Credentials.
    WipeSecretArguments(args_);
    g.pxsdenc = parser_.IsSwitch(sw::pxsdenc);
    // Debug output of the layers below follows the command line's -d.
    diag::Get().debug = parser_.IsSwitch(sw::d) || parser_.IsSwitch(sw::d2);
    diag::Get().trace = parser_.IsSwitch(sw::d2);
    if (g.stdinRedirected) ReadHintLine(parser_, stdinReader_, input_);
    return std::nullopt;
}

Step Run::Layers() {
    const bool debug = parser_.IsSwitch(sw::d);
    if (parser_.IsSwitch(sw::e)) {
        std::string prefix = StrToLower(parser_.GetValue(sw::e));
        if (prefix.empty()) prefix = kSharedEnvPrefix;
        if (!ReadEnv(prefix, parser_, env_, debug) && !parser_.IsSwitch(sw::eignore)) {
            Globals().pause = parser_.IsSwitch(sw::pause);
            return Fail(exitcode::kFatal,
                        ErrorBlockText({"No switches/args loaded due to -e switch, exiting. Use "
                                        "-eignore to override."}) +
                            "\n",
                        true);
        }
    }
    if (parser_.IsSwitch(sw::ef)) {
        // File names keep their case on this system.
        std::string file = parser_.GetValue(sw::ef);
        if (file.empty()) file = kDefaultEfFile;
        if (auto rc = ReadEnvFile(file, debug, parser_, true); rc != 0)
            return Exit(static_cast<int>(rc));
    }
    ReadEnv(std::string(kDefaultEnvPrefix), parser_, env_, debug);
    (void)ReadEnvFile(std::string(kDefaultSwitchFile), debug, parser_, false);
    if (parser_.IsSwitch(sw::appver)) return Exit(VersionBlock(parser_.ProgramPath()));
    return std::nullopt;
}

Step Run::OutputFlags() {
    auto& g = Globals();
    g.quiet = parser_.IsSwitch(sw::q) || parser_.IsSwitch(sw::q2);
    g.quietButList = parser_.IsSwitch(sw::q2);
    g.pause = parser_.IsSwitch(sw::pause);
    g.extErr = parser_.IsSwitch(sw::exterr);
    diag::Get().debug = parser_.IsSwitch(sw::d) || parser_.IsSwitch(sw::d2);
    diag::Get().trace = parser_.IsSwitch(sw::d2);
    if (parser_.IsSwitch(sw::sd)) {
        g.extErr = true;
        parser_.AddArg("SD##ntsecuritydescriptor::{GETSD}" + parser_.GetValue(sw::sd));
    }
    if (parser_.IsSwitch(sw::dsd)) {
        g.extErr = true;
        parser_.AddArg("SD##ntsecuritydescriptor::{GETDSD}" + parser_.GetValue(sw::dsd));
    }
    // The value -encpwd prints is the only output a script captures.
    if (!g.quiet) Banner(parser_.IsSwitch(sw::encpwd) && g.stdoutRedirected);
    return std::nullopt;
}

Step Run::EarlySwitches() {
    if (Step r = ProcessShortcuts(parser_)) return r;
    // A shortcut may have added -exterr after the output flags were read.
    if (parser_.IsSwitch(sw::exterr)) Globals().extErr = true;
    if (parser_.IsSwitch(sw::getsecin)) {
        // Values written as {*} are typed at a hidden prompt, never on the
        // command line.
        const std::vector<std::string> given = parser_.SelectedArgs();
        std::vector<std::string> completed = given;
        const std::string delim =
            parser_.IsSwitch(sw::delim) ? parser_.GetValueUnescaped(sw::delim) : ":";
        if (!ProcessGetInputAttribs(completed, delim.empty() ? ":" : delim, GetSecureString))
            return Fail(exitcode::kFatal, "ERROR: No value was typed for a {*} value (a terminal "
                                          "is needed to type it).\n" +
                                              std::string(kDidNotComplete));
        for (std::size_t i = 0; i < given.size(); ++i)
            if (completed[i] != given[i]) parser_.ReplaceArg(given[i], completed[i]);
    }
    s_.updateNCHead = parser_.IsSwitch(sw::updatenchead);
    static constexpr std::pair<std::string_view, RedirectKind> kRedirects[] = {
        {sw::stdinadd, RedirectKind::Add},
        {sw::stdinrm, RedirectKind::Remove},
        {sw::stdinreplace, RedirectKind::Replace}};
    for (const auto& [name, kind] : kRedirects) {
        if (parser_.IsSwitch(name)) {
            s_.redirect = kind;
            s_.redirectAttr = parser_.GetValue(name);
        }
    }
    if (parser_.IsSwitch(sw::log)) {
        s_.logFile = parser_.GetValue(sw::log);
        if (s_.logFile.empty()) s_.logFile = "kelvo.log";
        const bool ok = Log().Open(s_.logFile, parser_.IsSwitch(sw::append));
        diag::DebugOut("DEBUG: Logging file = " + s_.logFile + "\n");
        diag::DebugOut(std::string("DEBUG: Logging open status = ") + (ok ? "1" : "0") + "\n");
        if (!ok)
            return Fail(exitcode::kFatal, ErrorBlockText({"Could not open log file - " + s_.logFile,
                                                          "The log file: " + Log().Error() + "."}));
        Log().WriteLine("KELVO Log\n============");
        Log().WriteLine("Version: " + std::string(kVersionText));
        std::string selected = SelectedText(parser_, "");
        selected.pop_back();
        Log().WriteLine(selected);
    }
    if (parser_.IsSwitch(sw::progress)) {
        s_.progress = true;
        std::string v = parser_.GetValue(sw::progress);
        if (!v.empty()) s_.progressChar = v.front();
    }
    if (parser_.IsSwitch(sw::hh)) {
        parser_.SetValue(sw::h, parser_.GetValue(sw::hh));
        parser_.SetValue(sw::arecex, "");
    }
    if (parser_.IsSwitch(sw::hd)) {
        parser_.SetValue(sw::h, parser_.GetValue(sw::hd));
        parser_.SetValue(sw::default_, "");
    }
    if (parser_.IsSwitch(sw::gui)) {
        usageToFile_ = true;
        usageFile_ = parser_.GetValue(sw::gui);
    }
    return std::nullopt;
}

Step Run::ValidateSwitches() {
    if (parser_.Validate(SwitchDeclarations()) >= 1) {
        std::string text;
        if (parser_.MissingCount() != 0) {
            text += "ERROR: Missing Command Line Arg(s)\n";
            for (const auto& n : parser_.MissingSwitches())
                text += "ERROR:  " + n + "\n";
        }
        if (parser_.BadCount() != 0) {
            text += "ERROR: Bad Command Line Arg(s)\n";
            for (const auto& n : parser_.BadSwitches())
                text += "ERROR:  " + RedactSwitchName(parser_, n) + "\n";
        }
        return UsageFailureAfterBlank(std::move(text));
    }
    if (parser_.IsSwitch(sw::po) || diag::Debug())
        diag::Out(SelectedText(parser_, diag::Debug() ? "DEBUG:" : ""));
    return std::nullopt;
}

Step Run::Help() {
    struct HelpSwitch {
        std::string_view name;
        HelpMode mode;
    };
    static constexpr HelpSwitch kHelp[] = {
        {sw::help, HelpMode::Basic},         {sw::qmark, HelpMode::Basic},
        {sw::qmark2, HelpMode::Advanced},    {sw::qmark4, HelpMode::Shortcuts},
        {sw::sc_help, HelpMode::Shortcuts},  {sw::csv_help, HelpMode::Csv},
        {sw::sd_help, HelpMode::Descriptor},
    };
    for (const auto& h : kHelp)
        if (parser_.IsSwitch(h.name)) return Exit(Usage(h.mode, usageToFile_, usageFile_));
    if (parser_.SwitchCount() == 0 && parser_.ArgCount() == 0)
        return Exit(Usage(HelpMode::Basic, usageToFile_, usageFile_));
    if (parser_.IsSwitch(sw::encpwd)) {
        if (!platform::HasTerminalInput())
            return Fail(exitcode::kFatal,
                        ErrorBlockText({kNoTerminalForPassword}) + std::string(kDidNotComplete));
        std::string password;
        if (!GetPassword(password)) return Fail(exitcode::kUsage, std::string(kDidNotComplete));
        kelvo::EncPwdResult r = kelvo::EncodeEncPwd(password);
        kelvo::WipeSecret(password);
        if (!r.ok) return Fail(exitcode::kFatal, ErrorBlockText({r.error}));
        diag::Out(r.value + "\n");
        return Exit(exitcode::kSuccess);
    }
    return std::nullopt;
}

Step Run::UrlAndBases() {
    std::string host = parser_.GetValue(sw::h);
    if (StrToUpper(host).starts_with("LDAP") && !parser_.IsSwitch(sw::url)) {
        parser_.SetValue(sw::url, host);
        parser_.SetValue(sw::h, "");
    }
    s_.host = parser_.GetValue(sw::h);
    if (parser_.IsSwitch(sw::url)) {
        std::string base;
        if (!ApplyLdapUrl(parser_.GetValue(sw::url), s_.ssl, s_.host, base))
            return UrlFieldsFailure();
        if (!base.empty()) parser_.SetValue(sw::b, base);
    }
    s_.schemaBase = parser_.IsSwitch(sw::schema);
    s_.configBase = parser_.IsSwitch(sw::config);
    s_.defaultBase = parser_.IsSwitch(sw::default_);
    s_.rootBase = parser_.IsSwitch(sw::root);
    s_.nullBase = parser_.IsSwitch(sw::null);
    const bool special =
        s_.schemaBase || s_.configBase || s_.defaultBase || s_.rootBase || s_.nullBase;
    if (parser_.IsSwitch(sw::rootdse)) parser_.SetValue(sw::b, "rootdse");
    if (special) {
        s_.baseGiven = true;
        if (parser_.IsSwitch(sw::b))
            return UsageFailure(
                "\nERROR: Can't use base (-b) with special bases (-default,-schema, "
                "-config, etc) together.\n\n");
    }
    if (parser_.IsSwitch(sw::b)) {
        std::string b = parser_.GetValue(sw::b);
        s_.baseGiven = true;
        std::string converted, kind;
        if (StrToLower(b).starts_with("rootdse")) {
            diag::Out("Modifying ROOTDSE...\n");
            s_.baseDN = "";
        } else if (SidGuidToDN(b, converted, kind)) {
            diag::TraceOut("DEBUG: Converting " + kind + " " + b + " to " + kind + " DN format \n");
            LogLine("[main] Converted " + kind + " to " + kind + " DN: " + converted);
            s_.baseDN = converted;
        } else {
            s_.baseDN = b;
        }
    }
    s_.relativeBase = parser_.GetValue(sw::rb);
    return std::nullopt;
}

Step Run::Conversions() {
    auto has = [&](std::string_view n) { return parser_.IsSwitch(n); };
    auto val = [&](std::string_view n) { return parser_.GetValue(n); };
    // Import mode brings the switches it works with, unless given.
    auto addIfAbsent = [&](std::string_view name, std::string_view value) {
        if (!has(name)) parser_.SetValue(name, value);
    };
    if (has(sw::importpass1)) {
        if (!has(sw::add))
            return UsageFailure(ErrorBlockText({"Must use -add with -importpass1."}));
        addIfAbsent(sw::import_, "");
        addIfAbsent(sw::importexclattr, "");
        s_.importPass1 = true;
    }
    if (has(sw::importpass2)) {
        if (has(sw::add))
            return UsageFailure(ErrorBlockText({"Can't use -importpass2 with -add."}));
        addIfAbsent(sw::replacedn, "_all");
        addIfAbsent(sw::csv, "");
        s_.importPass2 = true;
    }
    if (has(sw::import_) || has(sw::importus)) {
        s_.importMode = true;
        s_.expand = true;
        addIfAbsent(sw::csv, "");
        if (has(sw::import_)) addIfAbsent(sw::stdinsort, "");
        addIfAbsent(sw::replacedn, "_all");
    }
    s_.importExclusions = val(sw::importexclattr);
    s_.replaceDN = has(sw::replacedn);
    s_.replaceDNValue = val(sw::replacedn);
    s_.replaceDNDelim = parser_.GetValueUnescaped(sw::replacedndelim);
    s_.getSecureInput = has(sw::getsecin);
    // Plain on/off settings come straight from the switch table.
    ApplySwitchSettings(parser_, s_);
    if (s_.importMode) s_.expand = true;
    // Descriptor parts the sources read; later switches of this list win.
    if (has(sw::sdnoowner)) s_.sdOwner = false;
    if (has(sw::sdnogroup)) s_.sdGroup = false;
    if (has(sw::sdnodacl)) s_.sdDacl = false;
    if (has(sw::sdnosacl) || has(sw::sdna)) s_.sdSacl = false;
    if (has(sw::onlydacl)) {
        s_.sdOwner = s_.sdGroup = s_.sdSacl = false;
        s_.sdDacl = true;
    }
    if (has(sw::onlysacl)) {
        s_.sdOwner = s_.sdGroup = s_.sdDacl = false;
        s_.sdSacl = true;
    }
    s_.sdKeepGeneric = has(sw::sdkeepgeneric);
    s_.sdVerbatim = has(sw::sdverbatim);
    s_.sdWhatIf = has(sw::sdwhatif);
    // Counts and limits are whole numbers: "-1" must not turn into no limit.
    std::optional<Failure> bad;
    auto count = [&](std::string_view name, std::uint32_t max) -> std::uint32_t {
        const std::string text = val(name);
        const auto n = ParseCount(text, max);
        if (!n && !bad)
            bad = UsageFailure(
                ErrorBlockText({"Bad value specified for -" + std::string(name) + ": \"" + text +
                                "\". Use a whole number from 0 to " + std::to_string(max) + "."},
                               ErrorFrame::Spaced));
        return n.value_or(0);
    };
    if (has(sw::t)) s_.timeout = static_cast<std::int32_t>(count(sw::t, 0x7FFFFFFF));
    if (s_.timeout <= 0) s_.timeout = 120;
    if (has(sw::safety)) s_.safety = count(sw::safety, 0xFFFFFFFFu);
    if (has(sw::upto)) {
        s_.upto = count(sw::upto, 0xFFFFFFFFu);
        s_.safety = std::max(s_.safety, s_.upto);
    }
    if (has(sw::dotcount)) (void)count(sw::dotcount, 0xFFFFFFFFu);
    if (has(sw::parallel)) {
        const std::string text = val(sw::parallel);
        const auto n = ParseCount(text, kMaxInFlight);
        if (!n || *n == 0)
            return UsageFailure(ErrorBlockText({"Bad value specified for -parallel: \"" + text +
                                                "\". Use a whole number from 1 to " +
                                                std::to_string(kMaxInFlight) + "."},
                                               ErrorFrame::Spaced));
        s_.parallel = *n;
    }
    if (bad) return bad;
    if (has(sw::unsafe)) s_.safety = 0xFFFFFFFFu;
    if (has(sw::p)) s_.port = ToSigned(val(sw::p));
    if (s_.simple && s_.digest)
        return UsageFailureAfterBlank(
            "\n" + ErrorBlockText({"-simple/-digest cannot be used with each other."}));
    if (has(sw::csvmodnull)) {
        std::string v = StrToLower(val(sw::csvmodnull));
        if (v == "ignore")
            s_.csvModNull = 1;
        else if (v == "clear")
            s_.csvModNull = 2;
        else
            return UsageFailure(ErrorBlockText(
                {"Bad value specified for -csvmodnull. Use clear or ignore."}, ErrorFrame::Spaced));
    }
    s_.verifyGC = val(sw::verifygc);
    if (has(sw::dotcount) && ToUnsigned(val(sw::dotcount)) != 0)
        s_.dotInterval = ToUnsigned(val(sw::dotcount));
    if (has(sw::delim)) s_.attrDelim = parser_.GetValueUnescaped(sw::delim);
    if (has(sw::mvdelim)) s_.valueDelim = parser_.GetValueUnescaped(sw::mvdelim);
    if (s_.attrDelim.empty()) s_.attrDelim = ":";
    if (s_.valueDelim.empty()) s_.valueDelim = ";";
    if (has(sw::xdom)) {
        s_.xdom = val(sw::xdom);
        if (s_.xdom.empty() || s_.xdom.find('.') == std::string::npos)
            return UsageFailure(ErrorBlockText(
                {"FQDN of destination DC must be specified with -xdom."}, ErrorFrame::Spaced));
        s_.delegation = true;
    }
    s_.csvFile = val(sw::csvfile);
    s_.rejectsFile = val(sw::rejects);
    if (has(sw::rejects) && s_.rejectsFile.empty())
        return UsageFailure(
            ErrorBlockText({"-rejects needs the name of a file."}, ErrorFrame::Spaced));
    s_.csvDelim = parser_.GetValueUnescaped(sw::csvdelim);
    s_.csvMvDelim = parser_.GetValueUnescaped(sw::csvmvdelim);
    s_.csvQuote = parser_.GetValueUnescaped(sw::csvq);
    s_.autobase = val(sw::autobase);
    s_.bmod = val(sw::bmod);
    if (has(sw::counterstart) && ToSigned(val(sw::counterstart)) != 0)
        s_.counterStart = ToSigned(val(sw::counterstart));
    s_.rnpb = val(sw::rnpb);
    return std::nullopt;
}

Step Run::OperationKind() {
    auto has = [&](std::string_view n) { return parser_.IsSwitch(n); };
    auto splitTarget = [&](const std::string& value) {
        if (value.find(';') != std::string::npos) {
            TokenVector t;
            GetXTokens(value, ";", t, 2);
            s_.newRDN = t[0];
            s_.newParent = t[1];
        } else {
            s_.newParent = value;
        }
    };
    if (has(sw::rbmove)) {
        parser_.SetValue(sw::move, parser_.GetValue(sw::rbmove));
        parser_.SetValue(sw::rnpb, "domaindn");
        s_.rnpb = "domaindn";
    }
    if (has(sw::rm) || has(sw::del)) {
        s_.op = KELVO_DELETE;
    } else if (has(sw::rename)) {
        s_.op = KELVO_RENAME;
        s_.newRDN = parser_.GetValue(sw::rename);
    } else if (has(sw::move)) {
        s_.op = KELVO_MOVE;
        splitTarget(parser_.GetValue(sw::move));
    } else if (has(sw::undel)) {
        s_.op = KELVO_UNDEL;
        s_.showDeleted = true;
        splitTarget(parser_.GetValue(sw::undel));
    } else if (has(sw::add)) {
        s_.op = KELVO_ADD;
    } else if (has(sw::update)) {
        s_.op = KELVO_UPDATE;
    }
    const bool redirect = s_.redirect != RedirectKind::None;
    if (s_.op == KELVO_NOOP) {
        if (s_.csv || has(sw::dynamic) || has(sw::tmpobj)) {
            s_.op = KELVO_UPDATE;
            s_.expand = true;
            if (parser_.ArgCount() == 0) s_.importMode = true;
        } else if (parser_.ArgCount() > 0 || redirect) {
            s_.op = KELVO_UPDATE;
        }
    }
    if (s_.op == KELVO_NOOP) return UsageFailure();
    if (s_.importMode && s_.op != KELVO_ADD && s_.op != KELVO_UPDATE)
        return UsageFailure(
            ErrorBlockText({"Cannot use -import unless in add/update mode."}, ErrorFrame::Spaced));
    return std::nullopt;
}

Step Run::Credentials() {
    s_.anonymous = parser_.IsSwitch(sw::u) && parser_.GetValue(sw::u).empty();
    s_.user = parser_.GetValue(sw::u);
    password_ = parser_.GetValue(sw::up);
    parser_.WipeValue(sw::up);
    if (parser_.IsSwitch(sw::upfile)) {
        if (parser_.IsSwitch(sw::up))
            return UsageFailure(
                ErrorBlockText({"Give the password with -up or -upfile, not both."}));
        kelvo::PasswordFileResult r = kelvo::ReadPasswordFile(parser_.GetValue(sw::upfile));
        if (!r.ok)
            return Fail(exitcode::kFatal, ErrorBlockText({r.error}) + std::string(kDidNotComplete));
        password_ = std::move(r.password);
    } else if (password_ == "*") {
        if (!platform::HasTerminalInput())
            return Fail(exitcode::kFatal,
                        ErrorBlockText({kNoTerminalForPassword}) + std::string(kDidNotComplete));
        std::string typed;
        const bool entered = GetPassword(typed);
        password_ = typed;
        kelvo::WipeSecret(typed);
        if (!entered)
            return Fail(exitcode::kFatal, ErrorBlockText({"No password was entered for -up."}) +
                                              std::string(kDidNotComplete));
    } else if (password_.starts_with("ENCPWD:")) {
        kelvo::EncPwdResult r = kelvo::DecodeEncPwd(password_);
        if (!r.ok)
            return Fail(exitcode::kFatal,
                        ErrorBlockText({"Couldn't decode the ENCPWD: password - " + r.error}) +
                            std::string(kDidNotComplete));
        password_ = std::move(r.value);
    }
    char op[3];
    std::snprintf(op, sizeof op, "%02X", s_.op & 0xFF);
    LogLine(std::string("KelvoOp=") + op);
    if (Step r = PrepareDynamic(parser_, s_)) return r;
    if (!s_.autobase.empty()) {
        if (s_.op != KELVO_ADD)
            return UsageFailure(ErrorBlockText({"AutoBase is not valid unless processing ADDs"},
                                               ErrorFrame::Spaced));
        TokenVector t;
        GetXTokens(s_.autobase, ":", t, 2);
        const std::uint32_t count = ToUnsigned(t[0]);
        const bool digits =
            !t[0].empty() && t[0].find_first_not_of("0123456789") == std::string::npos;
        if (count == 0 || !digits)
            return UsageFailure(
                ErrorBlockText({"Invalid AutoBase count value"}, ErrorFrame::Spaced));
        input_.targets.assign(count, Target{t[1], 0});
        s_.adcsv = true;
        s_.expand = true;
        s_.safety = count;
    }
    if (s_.baseGiven && s_.csv)
        return Fail(exitcode::kFatal,
                    ErrorBlockText({"Cannot specify -csv with -b or special bases.",
                                    "Base DNs should come from the CSV Input Stream."},
                                   ErrorFrame::Spaced) +
                        "\n",
                    true);
    return std::nullopt;
}

Step Run::Targets() {
    const auto& g = Globals();
    const bool redirect = s_.redirect != RedirectKind::None;
    const bool read = (!s_.baseGiven && s_.autobase.empty()) ||
                      ((s_.expand || redirect) && g.stdinRedirected && s_.autobase.empty());
    input_.baseForEveryRow = s_.baseGiven && s_.expand;
    if (Step r = OpenRejects()) return r;
    if (read) {
        if (Step r = CollectTargets(parser_, s_, stdinReader_, input_)) return r;
        // A base given on the command line stays the target when the input
        // held no rows for it (a script's empty standard input).
        if (s_.baseGiven && input_.targets.empty() && !redirect) {
            input_.targets.assign(1, Target{std::string(kSingleDN), 0});
            input_.baseForEveryRow = false;
        }
    }
    SortAndTrim(parser_, input_.targets);
    if (!rejectsWanted_) return std::nullopt;
    // Refused input lines go first, as they were refused.
    rejectRedirect_ = redirect && read;
    rejects_.SetForm(input_.form, input_.headerText);
    targetsReady_ = true;
    std::vector<std::uint64_t> uncopied;
    for (std::size_t i = 0; i < input_.refusedSources.size(); ++i) {
        if (input_.refusedSources[i] == kNoSource)
            uncopied.push_back(input_.refusedLines[i]);
        else
            rejects_.Add(input_.sources[input_.refusedSources[i]]);
    }
    if (!rejects_.Flush()) return RejectsFailure();
    if (!uncopied.empty()) {
        std::string lines;
        for (std::size_t i = 0; i < uncopied.size() && i < 10; ++i)
            lines += (i == 0 ? "" : ", ") + std::to_string(uncopied[i]);
        if (uncopied.size() > 10) lines += ", ...";
        diag::Out("ERROR: " + std::to_string(uncopied.size()) +
                  " refused input line(s) are not in the rejects file, their text cannot be "
                  "written back as it was (line " +
                  lines + ").\n");
    }
    return std::nullopt;
}

Step Run::OpenRejects() {
    if (s_.rejectsFile.empty()) return std::nullopt;
    if (!rejects_.Open(s_.rejectsFile))
        return Fail(exitcode::kFatal,
                    ErrorBlockText({"Could not open rejects file - " + s_.rejectsFile,
                                    "The rejects file: " + rejects_.Error() + "."}) +
                        std::string(kDidNotComplete));
    rejectsWanted_ = true;
    input_.keepSources = true;
    autobaseRun_ = !s_.autobase.empty();
    // A single object named by -b is written as it was given.
    const std::string b = parser_.GetValue(sw::b);
    if (s_.baseGiven && parser_.IsSwitch(sw::b) && !StrToLower(b).starts_with("rootdse"))
        singleText_ = b;
    return std::nullopt;
}

// A rejects file that cannot be written fails the run; said once.
Failure Run::RejectsFailure() {
    if (rejectsFailureShown_) return Fail(exitcode::kFatal);
    rejectsFailureShown_ = true;
    return Fail(exitcode::kFatal, ErrorBlockText({"Could not write rejects file - " +
                                                  rejects_.Name() + ": " + rejects_.Error()}));
}

// Target `index` is finished: it succeeded, or it failed and goes to the
// rejects file now, so that a run that is killed leaves what it found.
Step Run::RecordOutcome(std::size_t index, bool failed) {
    nextUnattempted_ = index + 1;
    if (!failed || !rejectsWanted_) return std::nullopt;
    WriteReject(input_.targets[index]);
    if (!rejects_.Flush()) return RejectsFailure();
    return std::nullopt;
}

void Run::WriteReject(const Target& target) {
    if (target.source != kNoSource) {
        rejects_.Add(input_.sources[target.source]);
        return;
    }
    if (rejectRedirect_) {
        // The -b object's request carried every piped value: all of them
        // are the input that redoes it.
        for (const std::uint32_t source : input_.redirectSources)
            if (source != kNoSource) rejects_.Add(input_.sources[source]);
        return;
    }
    const std::string& text = !singleText_.empty() ? singleText_ : target.dn;
    // Only DN lines can name an object that has no input text; -autobase
    // objects do not exist yet.
    if (text.empty() || text == kSingleDN || input_.form != InputForm::DnLines || autobaseRun_ ||
        ChangesReadingAtHead(text)) {
        ++notWritten_;
        LogLine("NOT IN REJECTS FILE: " + target.dn);
        return;
    }
    rejects_.Add(text);
}

// The run is over for its targets: those it did not reach are reported (with
// -rejects or after a lost server) and written to the rejects file, which is
// closed.
Step Run::FinishTargets() {
    if (targetsFinished_) return std::nullopt;
    targetsFinished_ = true;
    const std::size_t total = input_.targets.size();
    if (targetsReady_ && nextUnattempted_ < total && (rejectsWanted_ || serverLost_)) {
        for (std::size_t i = nextUnattempted_; i < total; ++i) {
            LogLine("NOT ATTEMPTED: " + input_.targets[i].dn);
            if (rejectsWanted_) WriteReject(input_.targets[i]);
        }
        const std::string line =
            "ERROR: " + std::to_string(total - nextUnattempted_) + " object(s) not attempted.\n";
        if (Quiet())
            diag::Err(line);
        else
            diag::Out(line);
    }
    if (!rejectsWanted_) return std::nullopt;
    if (notWritten_ != 0) {
        const std::string line =
            "ERROR: " + std::to_string(notWritten_) +
            " object(s) are not in the rejects file, no input text names them (see the log).\n";
        if (Quiet())
            diag::Err(line);
        else
            diag::Out(line);
    }
    const bool written = rejects_.Close();
    if (!written) return RejectsFailure();
    if (targetsReady_ && !Quiet())
        diag::Out("Rejects: " + std::to_string(rejects_.Count()) + " written to " +
                  rejects_.Name() + "\n");
    return std::nullopt;
}

Step Run::Actions() {
    ActionOptions o;
    o.attrDelim = s_.attrDelim;
    o.valueDelim = s_.valueDelim;
    o.run = s_.op == KELVO_ADD      ? ActionRun::Add
            : s_.op == KELVO_UPDATE ? ActionRun::Update
                                    : ActionRun::Other;
    o.clearMembers = s_.clearMembers;
    o.sdSimple = parser_.IsSwitch(sw::sdsimple);
    if (o.sdSimple) {
        descriptors_ =
            std::make_unique<DescriptorServices>(nullptr, nullptr, nullptr, DescriptorOptions(s_));
        o.sdBuild = DescriptorBuilder();
    }
    o.csv = s_.csv;
    o.adcsv = s_.adcsv;
    const ParseResult r = ParseAttributeActions(parser_.SelectedArgs(), o, mods_);
    if (r.endsRun) return Fail(exitcode::kFatal);
    if (r.binaryResult != 0)
        return Fail(r.binaryResult, "ERROR: Binary conversion failure. Terminating Program.\n");
    if (!r.ok) return UsageFailureAfterBlank("");
    return std::nullopt;
}

DescriptorSettings Run::DescriptorOptions(const RunSettings& s) const {
    DescriptorSettings d;
    d.parts = {s.sdOwner, s.sdGroup, s.sdDacl, s.sdSacl};
    d.keepGeneric = s.sdKeepGeneric;
    d.verbatim = s.sdVerbatim;
    d.whatIf = s.sdWhatIf;
    d.alternative = Globals().pxsdenc;
    d.extendedErrors = Globals().extErr;
    return d;
}

SdBuildFn Run::DescriptorBuilder() {
    return [this](const std::string& attribute, const std::string& value, const std::string& dn,
                  Bytes& out, std::uint32_t& parts) {
        return descriptors_->Encode(attribute, value, dn, out, parts);
    };
}

Step Run::Freeze() {
    settings_ = std::make_unique<const RunSettings>(std::move(s_));
    return std::nullopt;
}

Step Run::Limits() {
    const RunSettings& s = Settings();
    if (Step r = ApplyLimits(input_.targets, input_.rejected, s)) return r;
    if (s.op == KELVO_RENAME && (s.csv || s.adcsv) &&
        (s.newRDN.find("{{") == std::string::npos || s.newRDN.find("}}") == std::string::npos))
        return Fail(exitcode::kFatal,
                    "ERROR: CSV Rename requires substitution values for new name.\n" +
                        std::string(kDidNotComplete));
    return std::nullopt;
}

// -undo: the file is created before anything is sent, so a path that cannot
// be written ends the run before the first change.
Step Run::OpenUndo() {
    if (!parser_.IsSwitch(sw::undo)) return std::nullopt;
    const std::string path = parser_.GetValue(sw::undo);
    if (path.empty()) return UsageFailure(ErrorBlockText({"-undo needs a file name."}));
    if (Settings().hackon)
        return UsageFailure(ErrorBlockText(
            {"-hackon changes the RootDSE, which cannot be undone; it cannot go with -undo."}));
    auto file = std::make_unique<UndoFile>();
    const std::string header =
        std::string(kUndoApply) + "# Started " + UtcNow() +
        ". Until the run ends, blank lines below make room for records, and\n"
        "# comment lines after an IN FLIGHT line show the undo of a request that was\n"
        "# sent but not answered: apply it by hand if that change was made.\n";
    if (!file->Open(path, header))
        return Fail(exitcode::kFatal,
                    ErrorBlockText({"Could not create the undo file - " + file->Error()}));
    undoFile_ = std::move(file);
    return std::nullopt;
}

// The file is created before the connection, so a file that cannot be
// written ends the run before anything is changed.
Step Run::OpenLdif() {
    if (!parser_.IsSwitch(sw::ldifout)) return std::nullopt;
    const std::string path = parser_.GetValue(sw::ldifout);
    if (ldif_.Open(path)) return std::nullopt;
    return Fail(exitcode::kFatal, ErrorBlockText({"Could not open LDIF file - " + path,
                                                  "The LDIF file: " + ldif_.Error() + "."}));
}

namespace {

// What -hackon writes to the RootDSE, as a request for -whatif and -ldifout.
Request HackonRequest() {
    auto mods = std::make_shared<ModList>();
    mods->AddStrings(LDAP_MOD_REPLACE, "schemaUpgradeInProgress", {"1"});
    Request r;
    r.kind = RequestKind::Modify;
    r.mods = std::move(mods);
    return r;
}

std::vector<std::string> ServerInfoLines(const CRootDSE& root, const std::string& server,
                                         const std::string& base) {
    return {
        std::string(kProgramName) + " " + std::string(kVersionText) + " " +
            std::string(kReleaseText) + " " + std::string(kMakerLine),
        "BUILD    : " + std::string(kFileVersion) + " SHP",
        "BUILDDATE: " + std::string(__DATE__),
        "Server          : " + server,
        "Directory Type  : " + root.ServerType(),
        "Version         : " + root.DsaVersion(),
        "Security Princ  : " + root.PrincipalName(),
        "Forest Mode     : " + root.ForestMode(),
        "Domain Mode     : " + root.DomainMode(),
        "Root NC         : " + root.RootDomainNC(),
        "Schema NC       : " + root.SchemaNC(),
        "Config NC       : " + root.ConfigNC(),
        "Default NC      : " + root.DefaultNC(),
        "Base DN         : " + base,
    };
}

} // namespace

Step Run::Connect() {
    const RunSettings& s = Settings();
    OpenLdapParams p;
    p.server = s.host;
    p.aRecordExclusive = s.arecEx;
    p.port = s.port;
    p.referrals = !s.noReferrals;
    p.version3 = true;
    p.anonymous = s.anonymous;
    p.user = s.user;
    p.password = std::move(password_);
    p.simple = s.simple;
    p.digest = s.digest;
    p.kerberosEncryption = s.kerbEnc;
    p.extendedErrorInfo = Globals().extErr;
    p.ssl = s.ssl;
    p.delegation = s.delegation;
    p.requireWriteable = true;
    p.ignoreServerCert = s.ignoreCert;
    p.ntlm = s.ntlm;
    p.startTls = s.startTls;
    p.timeoutSeconds = s.timeout;
    // Connection defaults carried by an ADCSV header fill what switches left open.
    if (s.adcsv) {
        const auto& a = input_.csv.adcsv;
        std::string ignoredBase;
        if (!a.url.empty() && !ApplyLdapUrl(a.url, p.ssl, p.server, ignoredBase))
            return UrlFieldsFailure();
        if (!a.hh.empty()) {
            p.server = a.hh;
            parser_.SetValue(sw::h, a.hh);
            parser_.SetValue(sw::hh, a.hh);
            p.aRecordExclusive = true;
        } else if (!a.host.empty()) {
            p.server = a.host;
        }
        if (p.port == 0 && !a.port.empty()) p.port = ToSigned(a.port);
        if (p.user.empty()) p.user = a.user;
        if (p.password.empty()) p.password = a.password;
        if (a.simple) p.simple = true;
        if (a.ssl) p.ssl = true;
    }
    if (p.port == 0) p.port = CheckHostNameForPort(p.server);
    diag::DebugOut("DEBUG: Opening TCP connection\n");
    {
        // The connection reports its failures itself; a quiet run shows them
        // on standard error like every other error.
        const QuietErrorsToStderr quietErrors(Quiet());
        session_ = std::make_unique<LdapSession>(OpenLdap(p));
    }
    kelvo::WipeSecret(p.password);
    kelvo::WipeSecret(password_);
    kelvo::WipeSecret(input_.csv.adcsv.password);
    if (!*session_) {
        // A bind the server refused ends with its result code (49 for a
        // wrong password), so scripts can tell it from an unreachable server.
        const int code = session_->BindResult() != 0 ? session_->BindResult() : exitcode::kFatal;
        session_.reset();
        return Fail(code, "Terminating Program.\n" + std::string(kDidNotComplete));
    }
    ld_ = session_->get();
    sessionProtected_ = session_->IsProtected();
    diag::DebugOut("DEBUG: Gathering RootDSE\n");
    root_ = std::make_unique<CRootDSE>(ld_);
    if (!root_->IsLoaded())
        return Fail(exitcode::kFatal, "ERROR: Couldn't gather RootDSE Info...\n"
                                      "Terminating Program.\n" +
                                          std::string(kDidNotComplete));
    if (root_->UseConfiguredDefaultNC(ConfiguredBase()))
        diag::DebugOut("DEBUG: Default naming context from BASE/LDAPBASE: " + root_->DefaultNC() +
                       "\n");
    serverName_ = root_->DnsHostName();
    if (serverName_.empty()) serverName_ = session_->ServerName();
    if (serverName_.empty()) serverName_ = session_->HostName();
    return std::nullopt;
}

Step Run::Prepare() {
    const RunSettings& s = Settings();
    const CRootDSE& root = *root_;
    expansion_ = std::make_unique<RunExpansion>(root_.get(), &input_.csv.header);
    if (parser_.ArgContains("SD##") || parser_.ArgContains("*domain") ||
        parser_.ArgContains("*root") || parser_.ArgContains("*forest") || s.csv || s.adcsv) {
        diag::DebugOut("DEBUG: SD## or CSV detected, preloading domain sid/dns tables...");
        GetDomainSDInfo(ld_, root, partitions_);
    }
    baseDN_ = s.baseDN;
    if (s.schemaBase) baseDN_ = root.SchemaNC();
    if (s.configBase) baseDN_ = root.ConfigNC();
    if (s.defaultBase) baseDN_ = root.DefaultNC();
    if (s.rootBase) baseDN_ = root.RootDomainNC();
    if (s.nullBase) baseDN_ = "";
    if (!s.relativeBase.empty() && !baseDN_.empty())
        baseDN_ = StripQuotes(s.relativeBase) + "," + baseDN_;
    if (singleText_.empty() && s.baseGiven && !parser_.IsSwitch(sw::b)) singleText_ = baseDN_;
    if (s.baseGiven && !input_.baseForEveryRow) {
        std::string dn = EscapeValueQuotes(StripQuotes(baseDN_));
        input_.targets.assign(1, Target{dn, 0});
        diag::DebugOut("DEBUG: SINGLE DN = " + dn + "\n");
    }

    if (Step r = PrepareImport()) return r;

    descriptors_ =
        std::make_unique<DescriptorServices>(ld_, root_.get(), &partitions_, DescriptorOptions(s));
    expansion_->UseNameResolution(&descriptors_->Names());
    // Descriptor edits become binary values before the first request, or for
    // each object when they read the object's own descriptor, class or
    // template and there is more than one object.
    for (const auto& [attribute, ops] : mods_.sdMods)
        for (const auto& [op, values] : ops)
            for (const auto& v : values)
                if (input_.targets.size() > 1 && DescriptorDependsOnObject(v))
                    descriptorsPerObject_ = true;
    if (!descriptorsPerObject_) {
        const std::string dn = input_.targets.size() == 1 && input_.targets.front().dn != kSingleDN
                                   ? input_.targets.front().dn
                                   : std::string();
        if (Step r = ResolveSdMods(
                mods_,
                [&](const std::string& text, const std::string& attribute) {
                    return expansion_->ExpandPlain(text, attribute,
                                                   static_cast<std::uint64_t>(s.counterStart));
                },
                DescriptorBuilder(), dn))
            return r;
    }

    if (Log().IsOpen() || parser_.IsSwitch(sw::extsrvinfo)) {
        const auto lines = ServerInfoLines(root, serverName_, baseDN_);
        for (const auto& l : lines)
            LogLine(l);
        if (parser_.IsSwitch(sw::extsrvinfo))
            for (const auto& l : lines)
                diag::Out(l + "\n");
    }
    if (s.hackon) {
        const Request hackon = HackonRequest();
        if (s.whatIf) {
            if (!Quiet())
                diag::Out("   DN: ROOTDSE...: not sent (what-if)\n" + ChangeRecord(hackon, true) +
                          "\n");
        } else if (Step r = Hackon(ld_, serverName_)) {
            if (!Quiet()) r->text += kDidNotComplete;
            r->pause = true;
            return r;
        }
        ldif_.Write(hackon);
    }
    diag::DebugOut("DEBUG: Operation - " + OpName(s.op) + "\n");
    timers_.Start("T1");
    return std::nullopt;
}

namespace {

// Reads the DN-syntax attribute names, or every attribute and class, from the
// schema.  A failed search is reported and leaves the set empty.
void LoadSchema(LDAP* ld, const CRootDSE& root, bool everything, SchemaSets& schema,
                const std::string& serverName) {
    const std::string what = everything ? "(Schema Classes/Attributes)" : "(Schema OIDs)";
    const std::string filter =
        everything
            ? "(&(!(isdefunct=TRUE))(|(objectclass=classSchema)(objectclass=attributeSchema)))"
            : "(&(!(isdefunct=TRUE))(|(attributeSyntax=2.5.5.1)(attributeSyntax=2.5.5.7)"
              "(attributeSyntax=2.5.5.14)))";
    std::vector<std::string> attrs = {"ldapDisplayName"};
    if (everything) {
        diag::Out("Loading Classes and Attributes from schema...\n");
        attrs.insert(attrs.end(), {"attributeSyntax", "objectCategory", "isSingleValued"});
    } else {
        diag::DebugOut("DEBUG: Loading DN style attrib names from schema...\n");
    }
    diag::DebugOut("DEBUG: Initializing Search Paging...\n");
    const auto first = [](const EntryAttributes& a, const char* name) {
        auto it = a.find(name);
        return it == a.end() || it->second.empty() ? std::string() : it->second.front();
    };
    const PagedSearchResult r =
        PagedSearch(ld, root.SchemaNC(), filter, attrs, root.SupportsPagedResults(),
                    [&](const std::string&, const EntryAttributes& a) {
                        const std::string name = StrToLower(first(a, "ldapdisplayname"));
                        if (name.empty()) return;
                        if (!everything) {
                            schema.dnAttributes.insert(name);
                            return;
                        }
                        const std::string category = first(a, "objectcategory");
                        if (IStartsWith(category, "CN=Class-Schema")) {
                            schema.classes.insert(name);
                        } else if (IStartsWith(category, "CN=Attribute-Schema")) {
                            schema.attributes.insert(name);
                            if (IStartsWith(first(a, "issinglevalued"), "TRUE"))
                                schema.singleValued.insert(name);
                        }
                    });
    if (r.code != 0) {
        diag::Out(LDAPErrorLine(r.code, "ldap_get_next_page_s " + what, serverName));
        return;
    }
    if (everything) {
        schema.checkActive = !schema.attributes.empty();
        diag::DebugOut("DEBUG: Finished Loading Classes/Attributes from schema.\n");
    } else {
        diag::DebugOut("DEBUG: Finished Loading OIDs from schema.\n");
    }
}

} // namespace

Step Run::PrepareImport() {
    const RunSettings& s = Settings();
    const CRootDSE& root = *root_;
    if (s.replaceDN) {
        replacer_ =
            DNReplacer(s.replaceDNValue, s.replaceDNDelim,
                       {root.ConfigNC(), root.SchemaNC(), root.DefaultNC(), root.RootDomainNC()});
        diag::DebugOut("DEBUG: DN Replacements\n");
        for (const auto& [find, replacement] : replacer_.Pairs()) {
            diag::DebugOut("DEBUG: Replace DN:" + find + ":" + replacement + "\n");
            LogLine("Replace DN:" + find + ":" + replacement);
        }
    }
    if (s.replaceDN || s.importPass1 || s.importPass2)
        LoadSchema(ld_, root, false, schema_, serverName_);
    if (!s.importMode) return std::nullopt;
    if (root.IsWindowsLDAP() && (s.op == KELVO_ADD || s.op == KELVO_UPDATE))
        LoadSchema(ld_, root, true, schema_, serverName_);
    const std::set<std::string> excluded = BuildExclusionSet(s.importExclusions);
    LogLine("Excluded Attributes");
    for (const auto& name : excluded)
        LogLine("    " + name);
    ImportOptions options;
    options.add = s.op == KELVO_ADD;
    options.pass1 = s.importPass1;
    options.pass2 = s.importPass2;
    ImportSelection chosen =
        SelectImportColumns(input_.csv.headerFields, mods_.named, excluded, schema_, options);
    AddImportActions(chosen.columns, schema_, options, mods_, chosen.notes);
    PrintNotes(chosen.notes, Quiet());
    return std::nullopt;
}

Step Run::Loop() {
    const RunSettings& s = Settings();
    SessionLookups lookups(ld_, *root_, s.showRecycled);
    ServerFacts facts;
    facts.windowsLDAP = root_->IsWindowsLDAP();
    facts.showDeactivatedLinks = root_->HasControl(std::string(oid::kShowDeactivatedLink));
    facts.protectedSession = sessionProtected_;
    facts.rootNC = root_->RootDomainNC();
    facts.logOpen = Log().IsOpen();
    RowServices rows;
    rows.expander = expansion_.get();
    rows.replacer = &replacer_;
    rows.dnAttributes = &schema_.dnAttributes;
    rows.descriptors = DescriptorBuilder();
    rows.descriptorsPerObject = descriptorsPerObject_;
    RequestBuilder builder(s, mods_, facts, lookups, rows);
    if (Step r = builder.Prepare()) return r;

    PrinterOptions po;
    po.quiet = Quiet();
    po.quietButList = Globals().quietButList;
    po.progress = s.progress && input_.targets.size() >= 2;
    po.progressChar = s.progressChar;
    po.count = input_.targets.size();
    po.serverName = serverName_;
    const ResultPrinter printer(po);
    printer.Notes(builder.RunNotes());

    // -undo: reads before each write, records after it (a dry run changes
    // nothing, so there is nothing to undo).
    std::unique_ptr<UndoReads> undoReads;
    std::optional<UndoRecorder> undo;
    if (undoFile_ && !s.whatIf) {
        undoReads = SessionUndoReads(ld_);
        undo.emplace(*undoReads, *undoFile_, UndoServer{root_->IsWindowsLDAP()});
    }

    // Objects go through in input order: each is built, then sent (with -parallel, without
    // waiting for its answer), then reported once it and every object before it are
    // answered.  A request waits while an earlier one on the same object, an ancestor or a
    // descendant is unanswered, and is then built again: what the build read of the
    // directory may have changed.
    const std::size_t width = s.whatIf ? 1 : std::max<std::uint32_t>(s.parallel, 1);
    LoopState loop{printer, undo ? &*undo : nullptr, width};
    RequestsInFlight flight(ld_);
    loop.flight = &flight;
    for (std::size_t index = 0; index < input_.targets.size() && !loop.stopped; ++index) {
        const Target& target = input_.targets[index];
        Slot slot;
        slot.index = index;
        slot.built = builder.Build(target, index);
        slot.scope = SlotScope(slot, target);
        if (WaitForOverlaps(loop, slot.scope)) {
            // An answer taken meanwhile may have stopped the run: this
            // object is then not attempted.
            if (loop.stopped) break;
            slot.built = builder.Build(target, index);
            slot.scope = SlotScope(slot, target);
        }
        // The DN line names the object the request acts on (-bmod and
        // -replacedn may rename the input's DN).
        slot.shown = target;
        if (!slot.built.request.dn.empty()) slot.shown.dn = slot.built.request.dn;
        // The request stays in its slot until answered: a repeated tree
        // delete and the refresh after a write send it again.
        Slot& placed = loop.slots.emplace_back(std::move(slot));
        Dispatch(loop, placed);
        if (placed.built.status == BuildOutcome::Status::Fatal) loop.stopped = true;
        if (!placed.inFlight) StopOnFailure(loop, placed);
        ReportAnswered(loop);
        // Memory stays bounded by the width: a full window waits for answers,
        // also when the objects behind an unanswered one need no request.
        while (flight.Count() != 0 &&
               (flight.Count() >= width || loop.slots.size() >= kQueuedPerInFlight * width)) {
            TakeAnswer(loop);
            ReportAnswered(loop);
        }
    }
    // What was sent is awaited and reported, also when the run stops early.
    while (flight.Count() != 0) {
        TakeAnswer(loop);
        ReportAnswered(loop);
    }
    ReportAnswered(loop);
    if (loop.ending) return loop.ending;

    if (po.progress) RestoreTitle();
    if (s.whatIf) printer.NotSentSummary(notSent_);
    std::uint32_t lastError = loop.lastError;
    // Input lines refused as DNs are failed objects too.
    if (lastError == 0 && input_.rejected != 0)
        lastError = static_cast<std::uint32_t>(exitcode::kBadInputDN);
    if (Step r = FinishTargets()) {
        diag::Out(r->text);
        if (lastError == 0) lastError = static_cast<std::uint32_t>(r->exitCode);
    }
    return Exit(End(lastError));
}

// The objects a slot's request acts on; a request the builder refused is
// placed by its input DN.
RequestScope Run::SlotScope(const Slot& slot, const Target& target) const {
    if (slot.built.status == BuildOutcome::Status::Send) return ScopeOf(slot.built.request);
    Request placed;
    placed.dn = slot.built.request.dn.empty() ? target.dn : slot.built.request.dn;
    return ScopeOf(placed);
}

// Waits for the answers of the requests in flight that overlap `scope`;
// true when there were any.
bool Run::WaitForOverlaps(LoopState& loop, const RequestScope& scope) {
    bool waited = false;
    for (;;) {
        const bool busy = std::any_of(loop.slots.begin(), loop.slots.end(), [&](const Slot& s) {
            return s.inFlight && Overlaps(s.scope, scope);
        });
        if (!busy || loop.flight->Count() == 0) return waited;
        TakeAnswer(loop);
        waited = true;
    }
}

// Takes the next answer into its slot.
void Run::TakeAnswer(LoopState& loop) {
    RequestsInFlight::Answer a = loop.flight->Next();
    for (Slot& s : loop.slots)
        if (s.inFlight && s.index == a.tag) {
            s.result = std::move(a.result);
            s.inFlight = false;
            StopOnFailure(loop, s);
            return;
        }
}

// A failure that will stop the run once reported stops new requests now:
// the run would not have gone past it one request at a time.
void Run::StopOnFailure(LoopState& loop, const Slot& slot) const {
    if (slot.result.code == 0) return;
    if (!Settings().cont || slot.result.code == static_cast<std::uint32_t>(exitcode::kServerDown))
        loop.stopped = true;
}

// Sends a built request, or with -whatif shows it: a refused request, one
// whose undo cannot be recorded and one with no LDIF form under -whatif fail
// here, before anything is sent.
void Run::Dispatch(LoopState& loop, Slot& slot) {
    BuildOutcome& built = slot.built;
    Result& result = slot.result;
    switch (built.status) {
    case BuildOutcome::Status::Fatal:
    case BuildOutcome::Status::Done:
        return;
    case BuildOutcome::Status::Failed:
        result.code = built.code;
        return;
    case BuildOutcome::Status::Send:
        break;
    }
    const Request& request = built.request;
    auto failObject = [&](std::uint32_t code, std::string message) {
        built.status = BuildOutcome::Status::Failed;
        built.code = result.code = code;
        built.message = std::move(message);
        built.showLdapError = false;
    };
    if (Settings().whatIf) {
        if (std::string problem = LdifProblem(request); !problem.empty()) {
            failObject(ToWinLdapCode(LDAP_PARAM_ERROR),
                       ": ERROR: The request has no LDIF form: " + problem + "\n");
            return;
        }
        result.notSent = true;
        return;
    }
    if (loop.undo) {
        UndoRecorder::Verdict v = loop.undo->Before(request);
        if (v.fatal) {
            built.status = BuildOutcome::Status::Fatal;
            built.exitCode = exitcode::kFatal;
            built.fatalText = v.message + std::string(kDidNotComplete);
            return;
        }
        if (!v.send) {
            failObject(v.code, v.message);
            return;
        }
        slot.undoPending = true;
    }
    if (loop.width == 1) {
        // One at a time: the object's lines come first, so that a long tree
        // delete shows its progress as it goes.
        BeginReport(loop, slot);
        result = Send(ld_, request, [&loop] { loop.printer.Retry(); });
        slot.retriesShown = true;
        return;
    }
    if (auto done = loop.flight->Start(request, slot.index))
        result = std::move(*done);
    else
        slot.inFlight = true;
}

// The object's DN line and the lines that go with its request.
void Run::BeginReport(LoopState& loop, Slot& slot) {
    if (slot.begun) return;
    slot.begun = true;
    loop.printer.Begin(slot.shown, slot.index + 1);
    loop.printer.Notes(slot.built.request.notes);
}

// Reports the answered objects at the front, in input order.
void Run::ReportAnswered(LoopState& loop) {
    while (!loop.slots.empty() && !loop.slots.front().inFlight) {
        Report(loop, loop.slots.front());
        loop.slots.pop_front();
    }
}

// Reports one object: its lines, the undo record and LDIF record of a change
// made, the rejects file, and whether the run goes on.  A failure that ends
// the run is kept in `loop.ending`; the objects already sent are still
// reported after it.
void Run::Report(LoopState& loop, Slot& slot) {
    const RunSettings& s = Settings();
    BuildOutcome& built = slot.built;
    Result& result = slot.result;
    auto end = [&loop](Failure f) {
        if (!loop.ending) loop.ending = std::move(f);
        loop.stopped = true;
    };
    if (built.status == BuildOutcome::Status::Fatal) {
        // Reached only when nothing stopped the run before it.
        if (loop.ending || loop.failedStop) return;
        BeginReport(loop, slot);
        end(Fail(built.exitCode, std::move(built.fatalText)));
        return;
    }
    BeginReport(loop, slot);
    if (result.notSent) {
        loop.printer.NotSent(built.request);
        ++notSent_;
    }
    if (!slot.retriesShown)
        for (int i = 1; i < result.attempts; ++i)
            loop.printer.Retry();
    if (built.status == BuildOutcome::Status::Send) {
        const Request& request = built.request;
        const bool written =
            request.kind == RequestKind::Modify || request.kind == RequestKind::Add;
        // The -ldifout file holds what the directory took: a write whose
        // time-to-live refresh failed after it is still a change made.
        if (result.notSent || result.code == 0 || (written && result.refreshed))
            ldif_.Write(request);
        if (slot.undoPending) {
            const UndoRecorder::Verdict v = loop.undo->After(request, result);
            undoRecorded_ = loop.undo->Recorded();
            if (v.fatal) {
                end(Fail(exitcode::kFatal, v.message + std::string(kDidNotComplete)));
            } else if (!v.message.empty()) {
                // The change was made, but its undo record is incomplete.
                built.status = BuildOutcome::Status::Failed;
                built.code = result.code = v.code;
                built.message = v.message;
                built.showLdapError = false;
            }
        }
    }
    if (result.code == 0) {
        ++succeeded_;
        loop.printer.Succeeded(built.request, result);
        if (Step r = RecordOutcome(slot.index, false)) end(std::move(*r));
        return;
    }
    ++failed_;
    // Objects already in flight when the run stopped are reported; the exit
    // status stays that of the failure that stopped it.
    if (!loop.failedStop) loop.lastError = result.code;
    const bool before = built.status == BuildOutcome::Status::Failed;
    loop.printer.Failed(slot.shown, result, before ? built.message : std::string(),
                        !before || built.showLdapError);
    if (Step r = RecordOutcome(slot.index, true)) end(std::move(*r));
    if (loop.failedStop) return;
    // A server that is gone answers nothing more: stop, also with -cont.
    if (result.code == static_cast<std::uint32_t>(exitcode::kServerDown)) {
        serverLost_ = true;
        loop.printer.ServerLost();
        loop.failedStop = loop.stopped = true;
        return;
    }
    if (!s.cont) {
        loop.printer.Stopping();
        loop.failedStop = loop.stopped = true;
    }
}

int Run::End(std::uint32_t lastError) {
    const RunSettings& s = Settings();
    if (s.elapsed || s.elapsedMs) diag::Out("\n");
    if (s.elapsedMs) diag::Out("Elapsed MS: " + std::to_string(timers_.Stop("T1")) + "\n");
    if (s.elapsed) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", timers_.Seconds("T1"));
        diag::Out("Time Elapsed (sec): " + std::string(buf) + "\n");
    }
    session_->Unbind();
    // A log that lost lines fails the run, and so does an undo file that
    // could not be written.
    int code = static_cast<int>(lastError);
    if (Step r = CloseUndo()) {
        diag::Out(r->text);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    if (Step r = CloseLog()) {
        diag::Out(r->text);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    // So does an LDIF file that lost records.
    if (Step r = CloseLdif()) {
        diag::Out(r->text);
        if (code == exitcode::kSuccess) code = r->exitCode;
    }
    Pause();
    if (code != exitcode::kSuccess) {
        if (!Quiet()) diag::Out(kDidNotComplete);
        return code;
    }
    if (!Quiet()) diag::Out(kCompleted);
    return exitcode::kSuccess;
}

} // namespace

int MainRun(std::vector<std::string> args, const std::vector<std::string>& environment) {
    Run run(std::move(args), environment);
    return run.Execute();
}
