// State owned by the main run: the process-wide flags that other parts of the
// program read, the run settings built from the switches, and the operation
// kind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kProgramName = "Kelvo";
inline constexpr std::string_view kVersionText = "V1.0.0";
inline constexpr std::string_view kReleaseText = "Linux";
inline constexpr std::string_view kMakerLine = "The Kelvo developers";
inline constexpr std::string_view kFileVersion = "1.0.0.0";

inline constexpr std::string_view kUsageHint =
    "Type Kelvo /help or Kelvo /? for usage assistance.\n\n";
inline constexpr std::string_view kDidNotComplete =
    "\nThe command did not complete successfully.\n\n";
inline constexpr std::string_view kCompleted = "\nThe command completed successfully.\n\n";

// The placeholder target standing for the single base DN.
inline constexpr std::string_view kSingleDN = "SINGLEDN";

enum KelvoOp : std::uint32_t {
    KELVO_NOOP = 0,
    KELVO_UPDATE = 1,
    KELVO_DELETE = 2,
    KELVO_RENAME = 4,
    KELVO_MOVE = 8,
    KELVO_UNDEL = 16,
    KELVO_ADD = 32,
};

std::string OpName(std::uint32_t op);

// Flags read across the program; set once during start-up.
struct GlobalFlags {
    bool stdinRedirected = false;
    bool stdoutRedirected = false;
    bool stderrRedirected = false;
    bool quiet = false;
    bool quietButList = false;
    bool pause = false;
    bool extErr = false;
    bool pxsdenc = false;
};
GlobalFlags& Globals();

enum class RedirectKind { None, Add, Remove, Replace };

// Settings of one run, built from the switches.
struct RunSettings {
    std::int32_t timeout = 120;
    std::uint32_t safety = 10;
    std::uint32_t upto = 0;
    std::uint32_t parallel = 1; // requests in flight at once
    std::int32_t port = 0;
    std::uint32_t dotInterval = 1000;
    std::int32_t counterStart = 0;
    char progressChar = '#';
    bool progress = false;
    std::uint32_t op = KELVO_NOOP;
    std::string attrDelim = ":";
    std::string valueDelim = ";";
    std::string logFile = "kelvo.log";
    std::string baseDN;
    bool baseGiven = false;
    std::string relativeBase;
    std::string newRDN;
    std::string newParent;
    std::string host;

    // special bases
    bool schemaBase = false, configBase = false, defaultBase = false, rootBase = false,
         nullBase = false;

    // connection
    bool anonymous = false;
    std::string user;
    bool simple = false, digest = false, ntlm = false, ssl = false, startTls = false,
         ignoreCert = false, kerbEnc = false, delegation = false, noReferrals = false,
         arecEx = false;

    // behaviour
    bool elapsed = false, elapsedMs = false;
    bool clearMembers = false, permissive = false, cont = false, treeDelete = false,
         treeNuke = false, recycle = false, expand = false, showDeleted = false,
         showRecycled = false, policyHints = false, updateNCHead = false;
    bool whatIf = false; // -whatif: build every request, send none
    std::string verifyGC;
    std::string xdom;
    int csvModNull = 0; // 1 ignore, 2 clear
    bool importMode = false;
    bool importPass1 = false, importPass2 = false;
    std::string importExclusions; // -importexclattr
    bool replaceDN = false;       // -replacedn given (or implied by import)
    std::string replaceDNValue, replaceDNDelim;
    bool getSecureInput = false; // -getsecin
    std::string bmod;
    std::string autobase;
    std::string rnpb;
    std::string dynamicTtl;
    bool dynamic = false;
    bool hackon = false;

    // security descriptors
    bool sdOwner = true, sdGroup = true, sdDacl = true, sdSacl = true; // parts sources read
    bool sdKeepGeneric = false, sdVerbatim = false, sdWhatIf = false;

    // input
    bool csv = false;
    bool adcsv = false;
    std::string csvFile;
    std::string csvDelim, csvMvDelim, csvQuote;
    RedirectKind redirect = RedirectKind::None;
    std::string redirectAttr;
    std::string rejectsFile; // -rejects
};
