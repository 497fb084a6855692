// Built requests as LDIF change records: what -whatif shows for each object
// and what -ldifout writes, so that ldapmodify-style tools can replay a run.
#pragma once

#include "Files.h"
#include "Request.h"

#include <cstddef>
#include <string>
#include <string_view>

// True when `value` may follow "name: " as it is; otherwise it is written
// base64-encoded after "name:: ".  Safe values are 7-bit text with no NUL,
// line break or other control character, not starting with a space, ':' or
// '<', and not ending with a space.
bool LdifSafe(std::string_view value);

// "name: value\n", or "name:: <base64>\n" when the value is not safe, or
// "name:\n" for an empty value.
std::string LdifLine(std::string_view name, std::string_view value);

// Why `request` cannot be written as a change record (an attribute name
// LDIF cannot carry, an operation it has no word for); empty when it can.
std::string LdifProblem(const Request& request);

// The change record of `request`, ending with a line end and no blank line:
// "dn:", one "control:" line per control, "changetype:" and the body.  With
// `maskSecrets` the values of secret attributes (Secrets.h) read "********".
// A refresh of a dynamic object's time to live has no LDIF form: it is a
// comment line, "# refresh <dn> ttl N", after the record or on its own for a
// refresh-only request.  Empty for kind None and for a request LdifProblem
// refuses.
std::string ChangeRecord(const Request& request, bool maskSecrets);

// The -ldifout file: "version: 1", then one change record per request,
// separated by blank lines.  Values are written as sent, secrets included;
// the file is created private (0600), never through a link.  Each record
// is written as it comes, so the file is complete up to the last request
// even when the run is cut short.
class LdifOutput {
  public:
    // False, with the reason in Error(), when the file cannot be created or
    // the version line cannot be written.
    bool Open(const std::string& path);
    bool IsOpen() const { return open_; }
    // Writes the change record of `request`.  After the first failure
    // nothing more is written and Failed() is true.
    void Write(const Request& request);
    std::size_t Records() const { return records_; }
    // Closes the file.  False, once, when a record or the close failed; an
    // output that is not open closes without failing.
    bool Close();
    bool Failed() const { return failed_; }
    const std::string& Error() const { return error_; }
    const std::string& Name() const { return name_; }

  private:
    void Put(const std::string& text);
    void Fail(std::string reason);

    platform::FileHandle file_;
    std::string name_;
    std::string error_;
    std::size_t records_ = 0;
    bool open_ = false;
    bool failed_ = false;
};
