// "ENCPWD:" passwords: a password sealed with AES-256-GCM under a per-user key
// so that it can sit in scripts and switch files without being readable.
//
// Text form:  "ENCPWD:" + base64( version | nonce | ciphertext | tag )
//   version     1 byte, currently 1
//   nonce       12 random bytes, fresh for every value
//   ciphertext  as long as the password
//   tag         16 bytes; "ENCPWD:" and the version byte are authenticated too
//
// The key is 32 random bytes in the file named by KELVO_KEYFILE, or else in
// ~/.config/kelvo/encpwd.key.  Encoding creates it (mode 0600, new folders
// 0700) when it is missing; both directions refuse a key file that group or
// others may access, that is not owned by the user, or that is not 32 bytes.
// A value decodes only with the key file that encoded it.
#pragma once

#include <string>
#include <string_view>

namespace kelvo {

inline constexpr std::string_view kEncPwdPrefix = "ENCPWD:";
inline constexpr std::string_view kEncPwdKeyFileEnv = "KELVO_KEYFILE";

struct EncPwdResult {
    bool ok = false;
    std::string value; // the password (decode) or the "ENCPWD:" text (encode)
    std::string error; // why it failed; never contains the password
};

// Seals a password.  Creates the key file when it does not exist yet.
[[nodiscard]] EncPwdResult EncodeEncPwd(std::string_view plain);

// Opens a value that begins with "ENCPWD:".  On success value holds the
// password: wipe it with WipeSecret once it is no longer needed.
[[nodiscard]] EncPwdResult DecodeEncPwd(std::string_view encpwdText);

// The key file in use: $KELVO_KEYFILE, else ~/.config/kelvo/encpwd.key, or ""
// when neither is set and the home folder is unknown.
[[nodiscard]] std::string EncPwdKeyFilePath();

// Overwrites the string's characters (in a way the optimizer keeps) and
// empties it.
void WipeSecret(std::string& secret);

} // namespace kelvo
