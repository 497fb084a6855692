// The SDDL codes (MS-DTYP 2.5.1): one table per kind, read by the parser and
// by the printer alike.  The printer takes the first row that fits, so each
// table lists the code it prefers first.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace platform::security {

// --- ACE types (MS-DTYP 2.4.4.1) ---------------------------------------------
inline constexpr std::uint8_t kAceTypeAccessAllowed = 0x00;
inline constexpr std::uint8_t kAceTypeAccessDenied = 0x01;
inline constexpr std::uint8_t kAceTypeSystemAudit = 0x02;
inline constexpr std::uint8_t kAceTypeSystemAlarm = 0x03;
inline constexpr std::uint8_t kAceTypeAccessAllowedObject = 0x05;
inline constexpr std::uint8_t kAceTypeAccessDeniedObject = 0x06;
inline constexpr std::uint8_t kAceTypeSystemAuditObject = 0x07;
inline constexpr std::uint8_t kAceTypeSystemAlarmObject = 0x08;
inline constexpr std::uint8_t kAceTypeSystemMandatoryLabel = 0x11;

struct SddlCode {
    std::string_view code;
    std::uint32_t value;
};

// Matched as a prefix of the type field, so every two-letter type must come
// before the one-letter type it starts with: were "A" listed ahead of "AU",
// "AU;" would match "A" and the parse would stop at the "U".
inline constexpr SddlCode kAceTypes[] = {
    {"OA", kAceTypeAccessAllowedObject},  {"OD", kAceTypeAccessDeniedObject},
    {"OU", kAceTypeSystemAuditObject},    {"OL", kAceTypeSystemAlarmObject},
    {"AU", kAceTypeSystemAudit},          {"AL", kAceTypeSystemAlarm},
    {"ML", kAceTypeSystemMandatoryLabel}, {"A", kAceTypeAccessAllowed},
    {"D", kAceTypeAccessDenied},
};

// True for the types that carry the object-type GUIDs.
[[nodiscard]] constexpr bool IsObjectAceType(std::uint8_t type) {
    return type >= kAceTypeAccessAllowedObject && type <= kAceTypeSystemAlarmObject;
}

// --- ACE flags (MS-DTYP 2.4.4.1, AceFlags) -----------------------------------
// In bit order, which is the order they are printed in ("OICIIO").  "TP"
// shares its bit with "SA" and so is read but never printed.
inline constexpr SddlCode kAceFlags[] = {
    {"OI", 0x01}, {"CI", 0x02}, {"NP", 0x04}, {"IO", 0x08}, {"ID", 0x10},
    {"CR", 0x20}, {"SA", 0x40}, {"FA", 0x80}, {"TP", 0x40},
};

// --- Access rights -------------------------------------------------------------
enum class RightUse : std::uint8_t {
    Bit,       // one bit; printed as part of a union of letter pairs
    WholeMask, // printed only when it is the entire mask (file rights)
    ReadOnly,  // read, never printed (registry rights: their values are also
               // unions of directory rights, which a directory tool prints)
    Label,     // mandatory-label policy bit; printed only in ML ACEs
};

struct SddlRight {
    std::string_view code;
    std::uint32_t value;
    RightUse use;
};

inline constexpr SddlRight kRights[] = {
    // File rights, each the whole of FILE_GENERIC_* / FILE_ALL_ACCESS.
    {"FA", 0x001F01FF, RightUse::WholeMask},
    {"FR", 0x00120089, RightUse::WholeMask},
    {"FW", 0x00120116, RightUse::WholeMask},
    {"FX", 0x001200A0, RightUse::WholeMask},
    // Registry rights.
    {"KA", 0x000F003F, RightUse::ReadOnly},
    {"KR", 0x00020019, RightUse::ReadOnly},
    {"KW", 0x00020006, RightUse::ReadOnly},
    {"KX", 0x00020019, RightUse::ReadOnly},
    // Mandatory label policy (SYSTEM_MANDATORY_LABEL_NO_*_UP).
    {"NW", 0x00000001, RightUse::Label},
    {"NR", 0x00000002, RightUse::Label},
    {"NX", 0x00000004, RightUse::Label},
    // Single bits, in the order they are printed: low bit first.
    {"CC", 0x00000001, RightUse::Bit}, // create child
    {"DC", 0x00000002, RightUse::Bit}, // delete child
    {"LC", 0x00000004, RightUse::Bit}, // list children
    {"SW", 0x00000008, RightUse::Bit}, // self write
    {"RP", 0x00000010, RightUse::Bit}, // read property
    {"WP", 0x00000020, RightUse::Bit}, // write property
    {"DT", 0x00000040, RightUse::Bit}, // delete tree
    {"LO", 0x00000080, RightUse::Bit}, // list object
    {"CR", 0x00000100, RightUse::Bit}, // control access
    {"SD", 0x00010000, RightUse::Bit}, // delete
    {"RC", 0x00020000, RightUse::Bit}, // read control
    {"WD", 0x00040000, RightUse::Bit}, // write DAC
    {"WO", 0x00080000, RightUse::Bit}, // write owner
    {"GA", 0x10000000, RightUse::Bit}, // generic all
    {"GX", 0x20000000, RightUse::Bit}, // generic execute
    {"GW", 0x40000000, RightUse::Bit}, // generic write
    {"GR", 0x80000000, RightUse::Bit}, // generic read
};

// --- ACL flags (MS-DTYP 2.4.6, Control) ----------------------------------------
inline constexpr std::uint16_t kSeDaclPresent = 0x0004;
inline constexpr std::uint16_t kSeSaclPresent = 0x0010;
inline constexpr std::uint16_t kSeSelfRelative = 0x8000;

// Values are the DACL bits; the SACL bit is the DACL bit shifted left by one.
// Printed in this order ("PARAI").  NO_ACCESS_CONTROL has no bit: it stands
// for an ACL that is present but null.
inline constexpr std::string_view kNoAccessControl = "NO_ACCESS_CONTROL";
inline constexpr SddlCode kAclFlags[] = {
    {"P", 0x1000},  // SE_DACL_PROTECTED
    {"AR", 0x0100}, // SE_DACL_AUTO_INHERIT_REQ
    {"AI", 0x0400}, // SE_DACL_AUTO_INHERITED
};

// --- Principal aliases (MS-DTYP 2.5.1.1) ---------------------------------------
enum class AliasScope : std::uint8_t {
    Fixed,      // `sid` is the SID itself
    Domain,     // the domain SID followed by `rid`
    RootDomain, // the forest root domain SID followed by `rid`
};

struct SddlAlias {
    std::string_view code;
    AliasScope scope;
    std::string_view sid; // Fixed only
    std::uint32_t rid;    // Domain and RootDomain only
};

inline constexpr SddlAlias kAliases[] = {
    {"AA", AliasScope::Fixed, "S-1-5-32-579", 0},       // access control assistance operators
    {"AC", AliasScope::Fixed, "S-1-15-2-1", 0},         // all application packages
    {"AN", AliasScope::Fixed, "S-1-5-7", 0},            // anonymous
    {"AO", AliasScope::Fixed, "S-1-5-32-548", 0},       // account operators
    {"AP", AliasScope::Domain, "", 525},                // protected users
    {"AS", AliasScope::Fixed, "S-1-18-1", 0},           // authentication authority asserted
    {"AU", AliasScope::Fixed, "S-1-5-11", 0},           // authenticated users
    {"BA", AliasScope::Fixed, "S-1-5-32-544", 0},       // built-in administrators
    {"BG", AliasScope::Fixed, "S-1-5-32-546", 0},       // built-in guests
    {"BO", AliasScope::Fixed, "S-1-5-32-551", 0},       // backup operators
    {"BU", AliasScope::Fixed, "S-1-5-32-545", 0},       // built-in users
    {"CA", AliasScope::Domain, "", 517},                // certificate publishers
    {"CD", AliasScope::Fixed, "S-1-5-32-574", 0},       // certificate service DCOM access
    {"CG", AliasScope::Fixed, "S-1-3-1", 0},            // creator group
    {"CN", AliasScope::Domain, "", 522},                // cloneable domain controllers
    {"CO", AliasScope::Fixed, "S-1-3-0", 0},            // creator owner
    {"CY", AliasScope::Fixed, "S-1-5-32-569", 0},       // cryptographic operators
    {"DA", AliasScope::Domain, "", 512},                // domain admins
    {"DC", AliasScope::Domain, "", 515},                // domain computers
    {"DD", AliasScope::Domain, "", 516},                // domain controllers
    {"DG", AliasScope::Domain, "", 514},                // domain guests
    {"DU", AliasScope::Domain, "", 513},                // domain users
    {"EA", AliasScope::RootDomain, "", 519},            // enterprise admins
    {"ED", AliasScope::Fixed, "S-1-5-9", 0},            // enterprise domain controllers
    {"EK", AliasScope::RootDomain, "", 527},            // enterprise key admins
    {"ER", AliasScope::Fixed, "S-1-5-32-573", 0},       // event log readers
    {"ES", AliasScope::Fixed, "S-1-5-32-576", 0},       // RDS endpoint servers
    {"HA", AliasScope::Fixed, "S-1-5-32-578", 0},       // Hyper-V administrators
    {"HI", AliasScope::Fixed, "S-1-16-12288", 0},       // high integrity level
    {"IS", AliasScope::Fixed, "S-1-5-32-568", 0},       // IIS users
    {"IU", AliasScope::Fixed, "S-1-5-4", 0},            // interactive
    {"KA", AliasScope::Domain, "", 526},                // key admins
    {"LA", AliasScope::Domain, "", 500},                // local administrator account
    {"LG", AliasScope::Domain, "", 501},                // local guest account
    {"LS", AliasScope::Fixed, "S-1-5-19", 0},           // local service
    {"LU", AliasScope::Fixed, "S-1-5-32-559", 0},       // performance log users
    {"LW", AliasScope::Fixed, "S-1-16-4096", 0},        // low integrity level
    {"ME", AliasScope::Fixed, "S-1-16-8192", 0},        // medium integrity level
    {"MP", AliasScope::Fixed, "S-1-16-8448", 0},        // medium-plus integrity level
    {"MS", AliasScope::Fixed, "S-1-5-32-577", 0},       // RDS management servers
    {"MU", AliasScope::Fixed, "S-1-5-32-558", 0},       // performance monitor users
    {"NO", AliasScope::Fixed, "S-1-5-32-556", 0},       // network configuration operators
    {"NS", AliasScope::Fixed, "S-1-5-20", 0},           // network service
    {"NU", AliasScope::Fixed, "S-1-5-2", 0},            // network logon users
    {"OW", AliasScope::Fixed, "S-1-3-4", 0},            // owner rights
    {"PA", AliasScope::Domain, "", 520},                // group policy creator owners
    {"PO", AliasScope::Fixed, "S-1-5-32-550", 0},       // printer operators
    {"PS", AliasScope::Fixed, "S-1-5-10", 0},           // principal self
    {"PU", AliasScope::Fixed, "S-1-5-32-547", 0},       // power users
    {"RA", AliasScope::Fixed, "S-1-5-32-575", 0},       // RDS remote access servers
    {"RC", AliasScope::Fixed, "S-1-5-12", 0},           // restricted code
    {"RD", AliasScope::Fixed, "S-1-5-32-555", 0},       // remote desktop users
    {"RE", AliasScope::Fixed, "S-1-5-32-552", 0},       // replicator
    {"RM", AliasScope::Fixed, "S-1-5-32-580", 0},       // remote management users
    {"RO", AliasScope::RootDomain, "", 498},            // enterprise read-only domain controllers
    {"RS", AliasScope::Domain, "", 553},                // RAS and IAS servers
    {"RU", AliasScope::Fixed, "S-1-5-32-554", 0},       // pre-Windows 2000 compatible access
    {"SA", AliasScope::RootDomain, "", 518},            // schema admins
    {"SI", AliasScope::Fixed, "S-1-16-16384", 0},       // system integrity level
    {"SO", AliasScope::Fixed, "S-1-5-32-549", 0},       // server operators
    {"SS", AliasScope::Fixed, "S-1-18-2", 0},           // service asserted identity
    {"SU", AliasScope::Fixed, "S-1-5-6", 0},            // service logon users
    {"SY", AliasScope::Fixed, "S-1-5-18", 0},           // local system
    {"UD", AliasScope::Fixed, "S-1-5-84-0-0-0-0-0", 0}, // user-mode drivers
    {"WD", AliasScope::Fixed, "S-1-1-0", 0},            // everyone
    {"WR", AliasScope::Fixed, "S-1-5-33", 0},           // write restricted code
};

} // namespace platform::security
