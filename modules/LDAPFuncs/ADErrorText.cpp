#include "ADErrorText.h"

#include "pellixstrings.h"

#include <algorithm>
#include <cctype>

namespace {

// Values and names are the published Win32 system error codes (Winerror.h).
// The meanings are Kelvo's own words for what an administrator should check.
constexpr ADErrorCode kCodes[] = {
    // Account and password codes (bind data codes and password changes).
    {0x5, "ERROR_ACCESS_DENIED", "Access is denied: the bound account has no right to do this."},
    {0x56, "ERROR_INVALID_PASSWORD",
     "The password given is not correct (for a password change: the current password)."},
    {0x523, "ERROR_INVALID_ACCOUNT_NAME", "The account name is not a properly formed name."},
    {0x524, "ERROR_USER_EXISTS", "An account with this name already exists."},
    {0x525, "ERROR_NO_SUCH_USER",
     "The account does not exist (the bind user, or an object a DN value names)."},
    {0x526, "ERROR_GROUP_EXISTS", "A group with this name already exists."},
    {0x527, "ERROR_NO_SUCH_GROUP", "The group does not exist."},
    {0x528, "ERROR_MEMBER_IN_GROUP",
     "The account is already a member of the group, or the group still has members."},
    {0x529, "ERROR_MEMBER_NOT_IN_GROUP", "The account is not a member of the group."},
    {0x52A, "ERROR_LAST_ADMIN",
     "Refused: this would leave an administrator account disabled, deleted or unable to log "
     "on."},
    {0x52B, "ERROR_WRONG_PASSWORD", "The current password given for the password change is wrong."},
    {0x52C, "ERROR_ILL_FORMED_PASSWORD",
     "The new password contains characters that passwords may not contain."},
    {0x52D, "ERROR_PASSWORD_RESTRICTION",
     "The password does not meet the password policy (length, complexity, history or minimum "
     "age)."},
    {0x52E, "ERROR_LOGON_FAILURE", "The user name or password is wrong."},
    {0x52F, "ERROR_ACCOUNT_RESTRICTION",
     "An account restriction prevents this logon (such as a blank password or a policy)."},
    {0x530, "ERROR_INVALID_LOGON_HOURS",
     "The account may not log on at this time (its logon hours)."},
    {0x531, "ERROR_INVALID_WORKSTATION",
     "The account may not log on from this computer (its logon workstations)."},
    {0x532, "ERROR_PASSWORD_EXPIRED", "The account's password has expired."},
    {0x533, "ERROR_ACCOUNT_DISABLED", "The account is disabled."},
    {0x534, "ERROR_NONE_MAPPED", "An account name could not be mapped to a security ID (SID)."},
    {0x561, "ERROR_MEMBER_NOT_IN_ALIAS", "The account is not a member of the group."},
    {0x562, "ERROR_MEMBER_IN_ALIAS", "The account is already a member of the group."},
    {0x568, "ERROR_TOO_MANY_CONTEXT_IDS",
     "The account is in too many groups: its logon collected too many security IDs (SIDs)."},
    {0x569, "ERROR_LOGON_TYPE_NOT_GRANTED",
     "The account has not been granted this kind of logon on the server."},
    {0x701, "ERROR_ACCOUNT_EXPIRED", "The account has expired (accountExpires is in the past)."},
    {0x773, "ERROR_PASSWORD_MUST_CHANGE",
     "The password must be changed before the account can log on (pwdLastSet is 0)."},
    {0x775, "ERROR_ACCOUNT_LOCKED_OUT",
     "The account is locked out after too many wrong passwords."},
    // Directory service codes.
    {0x200A, "ERROR_DS_NO_ATTRIBUTE_OR_VALUE", "The attribute or value does not exist."},
    {0x200B, "ERROR_DS_INVALID_ATTRIBUTE_SYNTAX",
     "A value is not in the attribute's syntax (wrong format or type)."},
    {0x200C, "ERROR_DS_ATTRIBUTE_TYPE_UNDEFINED", "The attribute is not defined in the schema."},
    {0x200D, "ERROR_DS_ATTRIBUTE_OR_VALUE_EXISTS",
     "The attribute or value already exists (or one value was given twice)."},
    {0x200E, "ERROR_DS_BUSY", "The domain controller is busy; try again later."},
    {0x200F, "ERROR_DS_UNAVAILABLE", "The directory service is unavailable."},
    {0x2014, "ERROR_DS_OBJ_CLASS_VIOLATION",
     "The change breaks a rule of the object's class (an attribute the class does not allow, or "
     "a required one missing)."},
    {0x2015, "ERROR_DS_CANT_ON_NON_LEAF",
     "The object has child objects; this can only be done to an object without children."},
    {0x2016, "ERROR_DS_CANT_ON_RDN",
     "The naming attribute (RDN) cannot be changed by a modify; rename the object instead."},
    {0x2017, "ERROR_DS_CANT_MOD_OBJ_CLASS", "The object's class cannot be changed."},
    {0x2018, "ERROR_DS_CROSS_DOM_MOVE_ERROR", "The move to another domain could not be done."},
    {0x2019, "ERROR_DS_GC_NOT_AVAILABLE", "No global catalog server could be reached."},
    {0x2020, "ERROR_DS_OPERATIONS_ERROR",
     "The server could not carry out the operation (also given to a session that is not bound)."},
    {0x2024, "ERROR_DS_ADMIN_LIMIT_EXCEEDED",
     "A limit the directory administrator set was exceeded (such as too many values at once)."},
    {0x2027, "ERROR_DS_AUTH_METHOD_NOT_SUPPORTED",
     "The server does not support this kind of bind."},
    {0x2028, "ERROR_DS_STRONG_AUTH_REQUIRED",
     "The server requires a more secure bind: use -ssl, -starttls or -kerbenc."},
    {0x202B, "ERROR_DS_REFERRAL",
     "The object is held by another partition or domain; the server referred the request "
     "elsewhere."},
    {0x202C, "ERROR_DS_UNAVAILABLE_CRIT_EXTENSION",
     "The server does not support a control the request marked as critical."},
    {0x202D, "ERROR_DS_CONFIDENTIALITY_REQUIRED",
     "The request needs an encrypted connection: use -ssl, -starttls or -kerbenc."},
    {0x202F, "ERROR_DS_CONSTRAINT_VIOLATION",
     "A value breaks a constraint of the attribute (such as its length or range)."},
    {0x2030, "ERROR_DS_NO_SUCH_OBJECT", "The object, or its parent, does not exist."},
    {0x2032, "ERROR_DS_INVALID_DN_SYNTAX", "A distinguished name is not well formed."},
    {0x2035, "ERROR_DS_UNWILLING_TO_PERFORM",
     "The server refuses this request (for example on a protected object, or a password sent "
     "without encryption)."},
    {0x2037, "ERROR_DS_NAMING_VIOLATION",
     "The object cannot be named or placed like this: its class may not be a child of that "
     "container, or the naming attribute is wrong."},
    {0x206F, "ERROR_DS_ATT_NOT_DEF_IN_SCHEMA", "An attribute named is not defined in the schema."},
    {0x2071, "ERROR_DS_OBJ_STRING_NAME_EXISTS",
     "An object with this name already exists (or a unique value such as sAMAccountName is in "
     "use)."},
    {0x2077, "ERROR_DS_ILLEGAL_MOD_OPERATION", "Some part of the modification is not permitted."},
    {0x207C, "ERROR_DS_MISSING_REQUIRED_ATT", "A required (must-have) attribute is missing."},
    {0x207D, "ERROR_DS_ATT_NOT_DEF_FOR_CLASS",
     "The attribute is not allowed on objects of this class."},
    {0x207E, "ERROR_DS_ATT_ALREADY_EXISTS", "The attribute is already present on the object."},
    {0x2081, "ERROR_DS_SINGLE_VALUE_CONSTRAINT",
     "The attribute takes a single value, but more than one was given."},
    {0x2082, "ERROR_DS_RANGE_CONSTRAINT",
     "A value is outside the range the attribute allows (too short, too long, too small or too "
     "large)."},
    {0x2083, "ERROR_DS_ATT_VAL_ALREADY_EXISTS",
     "The value is already present (for a group: the account is already a member)."},
    {0x2084, "ERROR_DS_CANT_REM_MISSING_ATT",
     "The attribute cannot be removed because the object does not have it."},
    {0x2085, "ERROR_DS_CANT_REM_MISSING_ATT_VAL",
     "The value cannot be removed because it is not present (for a group: not a member)."},
    {0x2089, "ERROR_DS_NO_PARENT_OBJECT",
     "The parent container does not exist or has been deleted."},
    {0x208C, "ERROR_DS_CHILDREN_EXIST",
     "The object has child objects; remove them first or delete the whole tree."},
    {0x208D, "ERROR_DS_OBJ_NOT_FOUND", "The directory object was not found."},
    {0x208F, "ERROR_DS_BAD_NAME_SYNTAX", "The object name is not well formed."},
    {0x2093, "ERROR_DS_OBJECT_BEING_REMOVED", "The object is being deleted."},
    {0x2098, "ERROR_DS_INSUFF_ACCESS_RIGHTS",
     "The bound account lacks the access rights for this change (check the object's "
     "permissions)."},
    {0x2099, "ERROR_DS_ILLEGAL_SUPERIOR",
     "Objects of this class may not be placed in that container."},
    {0x209A, "ERROR_DS_ATTRIBUTE_OWNED_BY_SAM",
     "The attribute is kept by the account database (SAM) and cannot be written directly."},
    {0x209C, "ERROR_DS_NAME_TOO_LONG", "The name is too long."},
    {0x209D, "ERROR_DS_NAME_VALUE_TOO_LONG", "The name value (RDN) is too long."},
    {0x20A6, "ERROR_DS_CANT_ADD_SYSTEM_ONLY",
     "The attribute is owned by the system and cannot be given when the object is created."},
    {0x20A7, "ERROR_DS_CLASS_MUST_BE_CONCRETE",
     "The object class must be a structural class, not an abstract one."},
    {0x20B0, "ERROR_DS_CROSS_NC_DN_RENAME",
     "A rename cannot move an object into another naming context (partition or domain)."},
    {0x20B1, "ERROR_DS_CANT_MOD_SYSTEM_ONLY",
     "The attribute is owned by the system and cannot be changed."},
    {0x20CE, "ERROR_DS_CANT_DELETE", "The object cannot be deleted."},
    {0x2129, "ERROR_DS_CANT_MOVE_DELETED_OBJECT",
     "The object moved to another domain is already deleted there."},
};

static_assert(std::ranges::is_sorted(kCodes, {}, &ADErrorCode::value),
              "FindADErrorCode searches the table by value");

constexpr std::string_view kBindData = "AcceptSecurityContext error, data ";
constexpr std::size_t kLeadingDigits = 8;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Up to eight hex digits at the start of `text`, ending where the digits end;
// nullopt when there are none or more than eight.
std::optional<std::uint32_t> HexRun(std::string_view text, std::size_t& used) {
    std::uint32_t value = 0;
    used = 0;
    while (used < text.size() && HexDigit(text[used]) >= 0) {
        if (used == kLeadingDigits) return std::nullopt;
        value = value * 16 + static_cast<std::uint32_t>(HexDigit(text[used]));
        ++used;
    }
    if (used == 0) return std::nullopt;
    return value;
}

} // namespace

std::span<const ADErrorCode> ADErrorCodes() {
    return kCodes;
}

const ADErrorCode* FindADErrorCode(std::uint32_t value) {
    const auto it = std::ranges::lower_bound(kCodes, value, {}, &ADErrorCode::value);
    return it != std::ranges::end(kCodes) && it->value == value ? &*it : nullptr;
}

ADCodesInMessage FindADCodes(std::string_view message) {
    ADCodesInMessage found;
    const auto start = message.find_first_not_of(" \t\r\n");
    if (start != std::string_view::npos) {
        std::size_t used = 0;
        const auto code = HexRun(message.substr(start), used);
        if (code && used == kLeadingDigits && start + used < message.size() &&
            message[start + used] == ':')
            found.leading = code;
    }
    const auto data = IFind(message, kBindData);
    if (data != std::string_view::npos) {
        const std::string_view rest = message.substr(data + kBindData.size());
        std::size_t used = 0;
        const auto code = HexRun(rest, used);
        // The code ends the message or is followed by its separator.
        if (code && (used == rest.size() || rest[used] == ',' || rest[used] == ' '))
            found.bindData = code;
    }
    return found;
}

std::string_view ADErrorMeaning(std::string_view message) {
    const ADCodesInMessage codes = FindADCodes(message);
    for (const auto& code : {codes.bindData, codes.leading})
        if (code)
            if (const ADErrorCode* row = FindADErrorCode(*code)) return row->meaning;
    return {};
}
