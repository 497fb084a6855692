// Active Directory codes in a server's diagnostic message, in plain words.
//
// Active Directory (and Samba's AD domain controller) opens the diagnostic
// message of a failed request with a Win32 error code as eight hex digits,
// "0000052D: ...".  A refused bind carries the account's reason as the "data"
// code inside "80090308: LdapErr: DSID-..., comment: AcceptSecurityContext
// error, data 52e, v4563"; that code is a Win32 error code too (0x52E,
// ERROR_LOGON_FAILURE).  One table gives both their meaning.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

struct ADErrorCode {
    std::uint32_t value;      // the Win32 error code
    std::string_view name;    // its symbolic name, as Windows publishes it
    std::string_view meaning; // what it means to an administrator, one sentence
};

// Every code Kelvo explains, in ascending order of value.
std::span<const ADErrorCode> ADErrorCodes();

// The table row of a code; nullptr when Kelvo has none.
const ADErrorCode* FindADErrorCode(std::uint32_t value);

// The codes a diagnostic message carries: the bind "data" code (after
// "AcceptSecurityContext error, data ") and the eight hex digits followed by a
// colon that open the message.  Either is empty when the message has none.
struct ADCodesInMessage {
    std::optional<std::uint32_t> bindData;
    std::optional<std::uint32_t> leading;
};
ADCodesInMessage FindADCodes(std::string_view message);

// The meaning of the code in the message (the bind data code first, else the
// leading code); empty when the message has no code Kelvo knows.
std::string_view ADErrorMeaning(std::string_view message);
