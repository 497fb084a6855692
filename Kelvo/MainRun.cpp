#include "MainRun.h"

#include "AttributeActions.h"
#include "ConsoleOutput.h"
#include "DNInput.h"
#include "Diag.h"
#include "EncPwd.h"
#include "LDAPFuncs.h"
#include "ObjectActions.h"
#include "Platform.h"
#include "RunContext.h"
#include "RunState.h"
#include "Secrets.h"
#include "SwitchParser.h"
#include "SwitchTable.h"
#include "ValueEncoding.h"
#include "VarExpansion.h"
#include "pellixstrings.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace {

using Step = std::optional<int>; // a value ends the run with that exit code

// Exit with the short usage hint after an empty line.
int HintAfterBlank() {
    diag::Out("\n");
    return UsageHint();
}

// Takes host, base and SSL from an LDAP URL (-url or an ADCSV header).  False,
// after the error block, when the URL carries a scope, filter or attributes.
bool ApplyLdapUrl(const std::string& url, RunSettings& s, std::string& base) {
    std::map<std::string, std::string> fields;
    if (!ParseLDAPURL(url, fields)) return true;
    if (diag::Debug()) {
        diag::Out("DEBUG: ParseLDAPURL\n");
        for (const auto& [k, v] : fields)
            diag::Out("DEBUG:  " + k + " = " + v + "\n");
    }
    if (fields["PROTOCOL"].find("LDAPS:") != std::string::npos) s.ssl = true;
    if (!fields["HOST"].empty()) s.host = fields["HOST"];
    base = fields["BASE"];
    const std::string& scope = fields["SCOPE"];
    if ((!scope.empty() && StrToUpper(scope) != "BASE") || !fields["FILTER"].empty() ||
        !fields["ATTRS"].empty()) {
        ErrorBlock({"The LDAP URL SCOPE, FILTER, and ATTRIBUTES fields are invalid for Kelvo."});
        return false;
    }
    return true;
}

std::uint32_t ToUnsigned(const std::string& text) {
    return static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

std::int32_t ToSigned(const std::string& text) {
    return static_cast<std::int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

class Run {
  public:
    Run(const std::vector<std::string>& args, const std::vector<std::string>& environment)
        : args_(args), env_(environment), parser_({}, {}),
          stdinReader_(stdin), ctx_{parser_, s_, input_, mods_} {}

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
    Step Limits();
    Step Connect();
    Step Prepare();
    int Loop();
    int End(int lastError);
    int Finish(int code); // every exit after start-up passes here

    bool Quiet() const { return Globals().quiet; }

    std::vector<std::string> args_;
    std::vector<std::string> env_;
    SwitchParser parser_;
    RunSettings s_;
    TargetInput input_;
    ModContainers mods_;
    LineReader stdinReader_;
    RunContext ctx_;
    std::unique_ptr<LdapSession> session_;
    std::unique_ptr<CRootDSE> root_;
    Timers timers_;
    DomainPartitionMap partitions_;
    std::uint32_t succeeded_ = 0;
    std::uint32_t failed_ = 0;
    std::string usageFile_;
    bool usageToFile_ = false;
};

int Run::Finish(int code) {
    Log().Close();
    diag::Flush();
    return code;
}

int Run::Execute() {
    for (Step (Run::*step)() :
         {&Run::StartUp, &Run::Layers, &Run::OutputFlags, &Run::EarlySwitches,
          &Run::ValidateSwitches, &Run::Help, &Run::UrlAndBases, &Run::Conversions,
          &Run::OperationKind, &Run::Credentials, &Run::Targets, &Run::Actions, &Run::Limits,
          &Run::Connect, &Run::Prepare}) {
        if (Step r = (this->*step)()) return Finish(*r);
    }
    return Finish(Loop());
}

Step Run::StartUp() {
    SaveTitle();
    auto& g = Globals();
    g.stdinRedirected = platform::IsRedirected(platform::Stream::In);
    g.stdoutRedirected = platform::IsRedirected(platform::Stream::Out);
    g.stderrRedirected = platform::IsRedirected(platform::Stream::Err);
    parser_ = SwitchParser(args_, SwitchDeclarations());
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
            ErrorBlock({"No switches/args loaded due to -e switch, exiting. Use -eignore to "
                        "override."});
            diag::Out("\n");
            Globals().pause = parser_.IsSwitch(sw::pause);
            Pause();
            return -1;
        }
    }
    if (parser_.IsSwitch(sw::ef)) {
        // File names keep their case on this system.
        std::string file = parser_.GetValue(sw::ef);
        if (file.empty()) file = kDefaultEfFile;
        if (auto rc = ReadEnvFile(file, debug, parser_, true); rc != 0) return static_cast<int>(rc);
    }
    ReadEnv(std::string(kDefaultEnvPrefix), parser_, env_, debug);
    (void)ReadEnvFile(std::string(kDefaultSwitchFile), debug, parser_, false);
    if (parser_.IsSwitch(sw::appver)) return VersionBlock(parser_.ProgramPath());
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
    if (!g.quiet) Banner();
    return std::nullopt;
}

Step Run::EarlySwitches() {
    // Shortcuts, named containers and password switches expand into other
    // switches; that expansion is not part of this build yet, so refuse them
    // rather than run without them.
    static constexpr std::string_view kNotYet[] = {sw::sc,           sw::chgpwd,
                                                   sw::changepwd,    sw::setpwd,
                                                   sw::getsecin,     sw::forestdns,
                                                   sw::domaindns,    sw::legacydns,
                                                   sw::dcs,          sw::fsps,
                                                   sw::gpo,          sw::psocontainer,
                                                   sw::quotas,       sw::ldappolicy,
                                                   sw::xrights,      sw::partitions,
                                                   sw::sitelinks,    sw::sites,
                                                   sw::subnets,      sw::exch,
                                                   sw::users,        sw::displayspecifiers,
                                                   sw::ds,           sw::svcs,
                                                   sw::do_,          sw::delobjs,
                                                   sw::delobjs_plus, sw::roles,
                                                   sw::system,       sw::fgpp,
                                                   sw::import_,      sw::importus,
                                                   sw::importpass1,  sw::importpass2,
                                                   sw::replacedn};
    for (auto name : kNotYet) {
        if (!parser_.IsSwitch(name)) continue;
        ErrorBlock({"-" + std::string(name) + " is not available in this version."});
        return HintAfterBlank();
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
        if (!ok) {
            ErrorBlock({"Could not open log file - " + s_.logFile});
            return -1;
        }
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
        if (parser_.MissingCount() != 0) {
            diag::Out("ERROR: Missing Command Line Arg(s)\n");
            for (const auto& n : parser_.MissingSwitches())
                diag::Out("ERROR:  " + n + "\n");
        }
        if (parser_.BadCount() != 0) {
            diag::Out("ERROR: Bad Command Line Arg(s)\n");
            for (const auto& n : parser_.BadSwitches())
                diag::Out("ERROR:  " + n + "\n");
        }
        return HintAfterBlank();
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
        if (parser_.IsSwitch(h.name)) return Usage(h.mode, usageToFile_, usageFile_);
    if (parser_.SwitchCount() == 0 && parser_.ArgCount() == 0)
        return Usage(HelpMode::Basic, usageToFile_, usageFile_);
    if (parser_.IsSwitch(sw::encpwd)) {
        std::string password;
        if (!GetPassword(password)) {
            diag::Out(kDidNotComplete);
            return 1;
        }
        kelvo::EncPwdResult r = kelvo::EncodeEncPwd(password);
        kelvo::WipeSecret(password);
        if (!r.ok) {
            ErrorBlock({r.error});
            return -1;
        }
        diag::Out(r.value + "\n");
        return 0;
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
        if (!ApplyLdapUrl(parser_.GetValue(sw::url), s_, base)) return HintAfterBlank();
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
        if (parser_.IsSwitch(sw::b)) {
            diag::Out("\nERROR: Can't use base (-b) with special bases (-default,-schema, "
                      "-config, etc) together.\n\n");
            return UsageHint();
        }
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
    s_.elapsed = has(sw::elapsed);
    s_.elapsedMs = has(sw::elapsedms);
    if (has(sw::t)) s_.timeout = ToSigned(val(sw::t));
    if (s_.timeout <= 0) s_.timeout = 120;
    if (has(sw::safety)) s_.safety = ToUnsigned(val(sw::safety));
    if (has(sw::upto)) {
        s_.upto = ToUnsigned(val(sw::upto));
        s_.safety = std::max(s_.safety, s_.upto);
    }
    if (has(sw::unsafe)) s_.safety = 0xFFFFFFFFu;
    s_.clearMembers = has(sw::cm);
    if (has(sw::p)) s_.port = ToSigned(val(sw::p));
    s_.permissive = has(sw::permissive);
    s_.cont = has(sw::cont);
    s_.treeDelete = has(sw::treedelete) || has(sw::treenuke);
    s_.recycle = has(sw::recycle);
    s_.treeNuke = has(sw::treenuke);
    s_.delegation = has(sw::delegation);
    s_.noReferrals = has(sw::nr);
    s_.simple = has(sw::simple);
    s_.digest = has(sw::digest);
    if (s_.simple && s_.digest) {
        diag::Out("\n");
        ErrorBlock({"-simple/-digest cannot be used with each other."});
        return HintAfterBlank();
    }
    s_.ntlm = has(sw::ntlm);
    s_.ssl = s_.ssl || has(sw::ssl) || has(sw::sslignoresrvcert);
    s_.startTls = has(sw::starttls);
    s_.ignoreCert = has(sw::sslignoresrvcert);
    s_.expand = has(sw::expand);
    if (has(sw::csvmodnull)) {
        std::string v = StrToLower(val(sw::csvmodnull));
        if (v == "ignore")
            s_.csvModNull = 1;
        else if (v == "clear")
            s_.csvModNull = 2;
        else {
            ErrorBlock({"Bad value specified for -csvmodnull. Use clear or ignore."},
                       ErrorFrame::Spaced);
            return UsageHint();
        }
    }
    s_.showDeleted = has(sw::showdel) || has(sw::showdel_plus) || has(sw::showrecycled);
    s_.showRecycled = has(sw::showdel_plus) || has(sw::showrecycled);
    s_.arecEx = has(sw::arecex);
    s_.policyHints = has(sw::policyhints);
    s_.verifyGC = val(sw::verifygc);
    if (has(sw::dotcount) && ToUnsigned(val(sw::dotcount)) != 0)
        s_.dotInterval = ToUnsigned(val(sw::dotcount));
    if (has(sw::delim)) s_.attrDelim = parser_.GetValueUnescaped(sw::delim);
    if (has(sw::mvdelim)) s_.valueDelim = parser_.GetValueUnescaped(sw::mvdelim);
    if (s_.attrDelim.empty()) s_.attrDelim = ":";
    if (s_.valueDelim.empty()) s_.valueDelim = ";";
    if (has(sw::xdom)) {
        s_.xdom = val(sw::xdom);
        if (s_.xdom.empty() || s_.xdom.find('.') == std::string::npos) {
            ErrorBlock({"FQDN of destination DC must be specified with -xdom."},
                       ErrorFrame::Spaced);
            return UsageHint();
        }
        s_.delegation = true;
    }
    if (has(sw::csvfile)) {
        s_.csvFile = val(sw::csvfile);
        s_.csv = true;
    }
    if (has(sw::csv)) s_.csv = true;
    s_.csvDelim = parser_.GetValueUnescaped(sw::csvdelim);
    s_.csvMvDelim = parser_.GetValueUnescaped(sw::csvmvdelim);
    s_.csvQuote = parser_.GetValueUnescaped(sw::csvq);
    s_.autobase = val(sw::autobase);
    s_.bmod = val(sw::bmod);
    if (has(sw::counterstart) && ToSigned(val(sw::counterstart)) != 0)
        s_.counterStart = ToSigned(val(sw::counterstart));
    s_.rnpb = val(sw::rnpb);
    s_.kerbEnc = has(sw::kerbenc) || has(sw::optenc);
    s_.hackon = has(sw::hackon);
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
    if (s_.op == KELVO_NOOP) return UsageHint();
    if (s_.importMode && s_.op != KELVO_ADD && s_.op != KELVO_UPDATE) {
        ErrorBlock({"Cannot use -import unless in add/update mode."}, ErrorFrame::Spaced);
        return UsageHint();
    }
    if (s_.importMode && (s_.csv || s_.adcsv)) {
        // Copying whole CSV rows into the directory is not part of this build.
        ErrorBlock({"Import mode is not available in this version; give attribute "
                    "actions."});
        return HintAfterBlank();
    }
    return std::nullopt;
}

Step Run::Credentials() {
    s_.anonymous = parser_.IsSwitch(sw::u) && parser_.GetValue(sw::u).empty();
    s_.user = parser_.GetValue(sw::u);
    s_.password = parser_.GetValue(sw::up);
    if (s_.password == "*") {
        std::string typed;
        if (!GetPassword(typed)) typed.clear();
        s_.password = typed;
    } else if (s_.password.starts_with("ENCPWD:")) {
        kelvo::EncPwdResult r = kelvo::DecodeEncPwd(s_.password);
        if (!r.ok) {
            ErrorBlock({"Couldn't decode the ENCPWD: password - " + r.error});
            diag::Out(kDidNotComplete);
            return -1;
        }
        s_.password = std::move(r.value);
    }
    char op[3];
    std::snprintf(op, sizeof op, "%02X", s_.op & 0xFF);
    LogLine(std::string("KelvoOp=") + op);
    if (Step r = PrepareDynamic(parser_, s_)) return r;
    if (!s_.autobase.empty()) {
        if (s_.op != KELVO_ADD) {
            ErrorBlock({"AutoBase is not valid unless processing ADDs"}, ErrorFrame::Spaced);
            return UsageHint();
        }
        TokenVector t;
        GetXTokens(s_.autobase, ":", t, 2);
        const std::uint32_t count = ToUnsigned(t[0]);
        const bool digits =
            !t[0].empty() && t[0].find_first_not_of("0123456789") == std::string::npos;
        if (count == 0 || !digits) {
            ErrorBlock({"Invalid AutoBase count value"}, ErrorFrame::Spaced);
            return UsageHint();
        }
        input_.targets.assign(count, t[1]);
        s_.adcsv = true;
        s_.expand = true;
        s_.safety = count;
    }
    if (s_.baseGiven && s_.csv) {
        ErrorBlock({"Cannot specify -csv with -b or special bases.",
                    "Base DNs should come from the CSV Input Stream."},
                   ErrorFrame::Spaced);
        diag::Out("\n");
        Pause();
        return -1;
    }
    return std::nullopt;
}

Step Run::Targets() {
    const auto& g = Globals();
    const bool redirect = s_.redirect != RedirectKind::None;
    const bool read = (!s_.baseGiven && s_.autobase.empty()) ||
                      ((s_.expand || redirect) && g.stdinRedirected && s_.autobase.empty());
    input_.baseForEveryRow = s_.baseGiven && s_.expand;
    if (read) {
        if (Step r = CollectTargets(parser_, s_, stdinReader_, input_)) return r;
        // A base given on the command line stays the target when the input
        // held no rows for it (a script's empty standard input).
        if (s_.baseGiven && input_.targets.empty() && !redirect) {
            input_.targets.assign(1, std::string(kSingleDN));
            input_.baseForEveryRow = false;
        }
    }
    SortAndTrim(parser_, input_.targets);
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
    o.csv = s_.csv;
    o.adcsv = s_.adcsv;
    ParseResult r = ParseAttributeActions(parser_.SelectedArgs(), o, mods_);
    if (EncodeExit() != 0) return EncodeExit();
    if (r.binaryResult != 0) {
        diag::Out("ERROR: Binary conversion failure. Terminating Program.\n");
        return r.binaryResult;
    }
    if (!r.ok) return HintAfterBlank();
    return std::nullopt;
}

Step Run::Limits() {
    if (Step r = ApplyLimits(input_.targets, s_)) return r;
    if (s_.op == KELVO_RENAME && (s_.csv || s_.adcsv) &&
        (s_.newRDN.find("{{") == std::string::npos || s_.newRDN.find("}}") == std::string::npos)) {
        diag::Out("ERROR: CSV Rename requires substitution values for new name.\n");
        diag::Out(kDidNotComplete);
        return -1;
    }
    if (input_.targets.size() < 2) s_.progress = false;
    return std::nullopt;
}

namespace {

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
    // Connection defaults carried by an ADCSV header fill what switches left open.
    if (s_.adcsv) {
        const auto& a = input_.csv.adcsv;
        std::string ignoredBase;
        if (!a.url.empty() && !ApplyLdapUrl(a.url, s_, ignoredBase)) return HintAfterBlank();
        if (!a.hh.empty()) {
            s_.host = a.hh;
            parser_.SetValue(sw::h, a.hh);
            parser_.SetValue(sw::hh, a.hh);
            s_.arecEx = true;
        } else if (!a.host.empty()) {
            s_.host = a.host;
        }
        if (s_.port == 0 && !a.port.empty()) s_.port = ToSigned(a.port);
        if (s_.user.empty()) s_.user = a.user;
        if (s_.password.empty()) s_.password = a.password;
        if (a.simple) s_.simple = true;
        if (a.ssl) s_.ssl = true;
    }
    if (s_.port == 0) s_.port = CheckHostNameForPort(s_.host);
    diag::DebugOut("DEBUG: Opening TCP connection\n");
    OpenLdapParams p;
    p.server = s_.host;
    p.aRecordExclusive = s_.arecEx;
    p.port = s_.port;
    p.referrals = !s_.noReferrals;
    p.version3 = true;
    p.anonymous = s_.anonymous;
    p.user = s_.user;
    p.password = s_.password;
    p.simple = s_.simple;
    p.digest = s_.digest;
    p.kerberosEncryption = s_.kerbEnc;
    p.extendedErrorInfo = Globals().extErr;
    p.ssl = s_.ssl;
    p.delegation = s_.delegation;
    p.requireWriteable = true;
    p.ignoreServerCert = s_.ignoreCert;
    p.ntlm = s_.ntlm;
    p.startTls = s_.startTls;
    p.timeoutSeconds = s_.timeout;
    session_ = std::make_unique<LdapSession>(OpenLdap(p));
    kelvo::WipeSecret(p.password);
    kelvo::WipeSecret(s_.password);
    if (!*session_) {
        diag::Out("Terminating Program.\n");
        diag::Out(kDidNotComplete);
        // A bind the server refused ends with its result code (49 for a
        // wrong password), so scripts can tell it from an unreachable server.
        return session_->BindResult() != 0 ? session_->BindResult() : -1;
    }
    ctx_.ld = session_->get();
    ctx_.sessionProtected = session_->IsProtected();
    diag::DebugOut("DEBUG: Gathering RootDSE\n");
    root_ = std::make_unique<CRootDSE>(ctx_.ld);
    if (!root_->IsLoaded()) {
        session_->Unbind();
        diag::Out("ERROR: Couldn't gather RootDSE Info...\n");
        diag::Out("Terminating Program.\n");
        diag::Out(kDidNotComplete);
        return -1;
    }
    ctx_.root = root_.get();
    ctx_.serverName = root_->DnsHostName();
    if (ctx_.serverName.empty()) ctx_.serverName = session_->ServerName();
    if (ctx_.serverName.empty()) ctx_.serverName = session_->HostName();
    return std::nullopt;
}

Step Run::Prepare() {
    const CRootDSE& root = *root_;
    auto& vars = ExpansionVariables();
    vars["ROOT"] = root.RootDomainNC();
    vars["CONFIG"] = root.ConfigNC();
    vars["DEFAULT"] = root.DefaultNC();
    vars["SCHEMA"] = root.SchemaNC();
    vars["SECPRIN"] = root.PrincipalName();
    vars["FQDN"] = root.DnsHostName();
    vars["DOMAINDNS"] = ConvertDNToDomain(root.DefaultNC());
    vars["ROOTDNS"] = ConvertDNToDomain(root.RootDomainNC());

    if (parser_.ArgContains("SD##") || parser_.ArgContains("*domain") ||
        parser_.ArgContains("*root") || parser_.ArgContains("*forest") || s_.csv || s_.adcsv) {
        diag::DebugOut("DEBUG: SD## or CSV detected, preloading domain sid/dns tables...");
        GetDomainSDInfo(ctx_.ld, root, partitions_);
    }
    if (s_.schemaBase) s_.baseDN = root.SchemaNC();
    if (s_.configBase) s_.baseDN = root.ConfigNC();
    if (s_.defaultBase) s_.baseDN = root.DefaultNC();
    if (s_.rootBase) s_.baseDN = root.RootDomainNC();
    if (s_.nullBase) s_.baseDN = "";
    if (!s_.relativeBase.empty() && !s_.baseDN.empty())
        s_.baseDN = StripQuotes(s_.relativeBase) + "," + s_.baseDN;
    if (s_.baseGiven && !input_.baseForEveryRow) {
        std::string dn = EscapeValueQuotes(StripQuotes(s_.baseDN));
        input_.targets.assign(1, dn);
        diag::DebugOut("DEBUG: SINGLE DN = " + dn + "\n");
    }

    // Descriptor edits become binary values before the first request.
    if (int rc = ResolveSdMods(mods_); rc != 0) {
        if (EncodeExit() != 0) return EncodeExit();
        if (rc == -99) return -99;
        diag::Out("ERROR: Binary conversion failure. Terminating Program.\n");
        return rc;
    }

    if (Log().IsOpen() || parser_.IsSwitch(sw::extsrvinfo)) {
        const auto lines = ServerInfoLines(root, ctx_.serverName, s_.baseDN);
        for (const auto& l : lines)
            LogLine(l);
        if (parser_.IsSwitch(sw::extsrvinfo))
            for (const auto& l : lines)
                diag::Out(l + "\n");
    }
    if (s_.hackon) {
        if (Step r = Hackon(ctx_)) {
            session_->Unbind();
            if (!Quiet()) diag::Out(kDidNotComplete);
            Pause();
            return r;
        }
    }
    diag::DebugOut("DEBUG: Operation - " + OpName(s_.op) + "\n");
    timers_.Start("T1");
    return std::nullopt;
}

int Run::Loop() {
    OperationPlan plan;
    if (Step r = PrepareOperation(ctx_, plan)) {
        session_->Unbind();
        return *r;
    }
    LogLine("KelvoOp=" + OpName(s_.op));
    const bool showLines = !Quiet() || Globals().quietButList;
    const std::size_t count = input_.targets.size();
    std::size_t processed = 0;
    std::uint32_t lastError = 0;
    for (const auto& dn : input_.targets) {
        ++processed;
        if (showLines) diag::Out("   DN: " + (dn.empty() ? std::string("ROOTDSE") : dn) + "...");
        LogLine("DN: " + dn);
        if (s_.progress)
            Progress(static_cast<double>(count - processed + 1) * 100.0 /
                         static_cast<double>(count),
                     s_.progressChar);
        ObjectResult r = ProcessObject(ctx_, plan, dn);
        if (r.status == ObjectResult::Status::Fatal) {
            session_->Unbind();
            return r.exitCode;
        }
        if (r.status == ObjectResult::Status::Skipped) continue;
        if (r.status == ObjectResult::Status::Failed) {
            ++failed_;
            ReportRequestFailure(ctx_, r.code, !Quiet(), true);
            lastError = r.code;
            if (!s_.cont) {
                diag::Out("\n\nERROR: Too many errors encountered, terminating...\n");
                break;
            }
            continue;
        }
        ++succeeded_;
        LogLine("SUCCESS: " + std::to_string(r.code));
        if (showLines) diag::Out("\n");
    }
    if (s_.progress) RestoreTitle();
    return End(static_cast<int>(lastError));
}

int Run::End(int lastError) {
    if (s_.elapsed || s_.elapsedMs) diag::Out("\n");
    if (s_.elapsedMs) diag::Out("Elapsed MS: " + std::to_string(timers_.Stop("T1")) + "\n");
    if (s_.elapsed) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g", timers_.Seconds("T1"));
        diag::Out("Time Elapsed (sec): " + std::string(buf) + "\n");
    }
    session_->Unbind();
    Log().Close();
    Pause();
    if (lastError != 0) {
        if (!Quiet()) diag::Out(kDidNotComplete);
        return lastError;
    }
    if (!Quiet()) diag::Out(kCompleted);
    return 0;
}

} // namespace

int MainRun(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    Run run(args, environment);
    return run.Execute();
}
