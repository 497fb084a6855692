// Shortcuts (-sc name[:arguments]), the well-known container bases (-users,
// -sites, ...) and the password switches (-chgpwd, -setpwd).
//
// Each of them stands for ordinary switches and attribute actions.
// ProcessShortcuts adds those to the switch set exactly as if they had been
// typed, so -po shows them and nothing later in the run knows about
// shortcuts.  The tables below are the one description of every shortcut and
// container base; the -sc? help is composed from them.
#pragma once

#include "Failure.h"
#include "SwitchParser.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The help block a shortcut is listed in.
enum class ShortcutGroup : std::uint8_t { RootDse, Account, Create, Descriptor, Help };

// The arguments a shortcut takes after "name:".  Several arguments are
// separated by ';'.
enum class ShortcutArgs : std::uint8_t {
    None,     // name alone
    One,      // name:x, x not empty
    Optional, // name or name:x
    Two,      // name:x;y, both not empty
    Bulk,     // name:count;template (bulk creation)
    BulkWith, // name:count;second;template (password or group type in between)
};

// How the argument text is checked or changed before it is put into the
// actions.
enum class ShortcutRule : std::uint8_t {
    Plain,     // as given
    NoSpaces,  // spaces removed
    UacName,   // an account-control flag name, replaced by its number
    UacNumber, // account-control bits as a decimal number
    Password,  // bulk users: "-" none, empty a generated one, else the password
    GroupType, // bulk groups: a groupType number or the letters u, g, l and s
};

// A switch a shortcut adds; the value may hold the placeholders below.
struct ShortcutSwitch {
    std::string_view name;
    std::string_view value;
};

// One shortcut.  Action and switch texts may hold {x}, {y} and {z}: the first,
// second and third argument (for bulk shortcuts {x} is the count and {z} the
// template DN).
struct ShortcutDef {
    std::string_view name;  // lower case
    std::string_view alias; // a second name for the same shortcut, or empty
    ShortcutArgs args = ShortcutArgs::None;
    std::string_view argText; // the arguments as the help shows them, e.g. "dsa;dn"
    ShortcutRule rule = ShortcutRule::Plain;
    std::array<ShortcutSwitch, 5> switches{}; // an empty name ends the list
    std::array<std::string_view, 4> actions{};
    // Optional arguments: the actions when an argument is given.
    std::array<std::string_view, 2> argActions{};
    // Bulk creation: the -bmod value that names each new object after the
    // template (only when -bmod was not given), and whether a samaccountname
    // action is added (only when none was given).
    std::string_view bulkName;
    bool addsAccountName = false;
    ShortcutGroup group = ShortcutGroup::RootDse;
    std::string_view help;
};

// A well-known container as the base: the base switch it adds when no base
// was given (empty: it goes below the base the run already has), and the
// part put in front of the base through -rb.
struct ContainerBase {
    std::string_view name;  // the switch, without '-'
    std::string_view alias; // a second switch for the same container, or empty
    std::string_view base;  // "default", "config", "root" or empty
    std::string_view part;  // relative base part
    std::string_view shows; // a show-deleted switch it adds, or empty
    std::string_view help;
};

// Every shortcut, in the order the help lists them.
std::span<const ShortcutDef> Shortcuts();
// The shortcut called `name` (compared without regard to case), or nullptr.
const ShortcutDef* FindShortcut(std::string_view name);
// The row's name as the help shows it: "sddelprot, sddelprot+", "defrag:x".
std::string ShortcutTerm(const ShortcutDef& def);

// Every container base switch, in the order the help lists them.
std::span<const ContainerBase> ContainerBases();
// True when `name` (without '-') is a container base switch.
bool IsContainerBaseSwitch(std::string_view name);

// Account-control flag names uacset and uacclear accept, with their bits.
struct UacFlag {
    std::string_view name;
    std::uint32_t bits;
};
std::span<const UacFlag> UacFlags();

// Applies -sc, the container base switches and the password switches to the
// switch set.  A failure is a usage error (exit code 1) whose text ends with
// the usage hint; the switch set may then be partly changed.
[[nodiscard]] Step ProcessShortcuts(SwitchParser& parser);

// A -sc value as it may be shown: a bulk shortcut's password is hidden.
std::string RedactShortcutValue(std::string_view value);
