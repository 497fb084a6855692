// Keeps secrets (passwords, "ENCPWD:" values, password attribute values) out
// of the console, the log and debug output below -d2.
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kRedacted = "********";

// True for switches whose value is a password (the switch table says which).
bool IsSecretSwitch(std::string_view name);
// The value as it may be shown for switch `name`.
std::string RedactValue(std::string_view name, std::string_view value);
// An environment entry "NAME=value" as it may be shown.
std::string RedactEnvEntry(std::string_view entry);
// A switch-file line as it may be shown.
std::string RedactSwitchLine(std::string_view line);
// An attribute action as it may be shown (password attributes lose their value).
std::string RedactAction(std::string_view action);
// True when values of this attribute are secrets.
bool IsSecretAttribute(std::string_view attribute);
