#include "Undo.h"

#include "ExitCodes.h"
#include "Files.h"
#include "LdapPtr.h"
#include "LdifWriter.h"
#include "Secrets.h"
#include "pellixstrings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

namespace {

std::string Lower(std::string_view s) {
    return StrToLower(std::string(s));
}

// Attributes the directory keeps itself: a modify of one of them is not a
// value that can be written back.
const std::set<std::string> kSystemAttributes = {
    "objectguid",
    "distinguishedname",
    "isdeleted",
    "whencreated",
    "whenchanged",
    "usncreated",
    "usnchanged",
    "replpropertymetadata",
    "instancetype",
    "memberof",
    "entryuuid",
    "entrycsn",
    "createtimestamp",
    "modifytimestamp",
    "creatorsname",
    "modifiersname",
    "structuralobjectclass",
    "subschemasubentry",
    "hassubordinates",
    "entrydn",
};

// Attributes a reanimation never writes: kept by the directory, recomputed
// on reanimation, or written by the reanimation itself.
const std::set<std::string> kNotRestored = {
    "objectguid",
    "objectsid",
    "whencreated",
    "whenchanged",
    "usncreated",
    "usnchanged",
    "instancetype",
    "isdeleted",
    "distinguishedname",
    "name",
    "lastknownparent",
    "msds-lastknownrdn",
    "replpropertymetadata",
    "samaccounttype",
    "memberof",
    "dscorepropagationdata",
    "objectcategory",
    "isrecycled",
    "pwdlastset",
    "logoncount",
    "lastlogon",
    "lastlogoff",
    "lastlogontimestamp",
    "badpwdcount",
    "badpasswordtime",
    "msds-revealeddsas",
    "primarygroupid",
    "objectclass",
    "ntsecuritydescriptor",
};

// Passwords the directory never hands out.
const std::set<std::string> kUnreadable = {
    "unicodepwd",
    "dbcspwd",
    "ntpwdhistory",
    "lmpwdhistory",
    "supplementalcredentials",
    "trustauthincoming",
    "trustauthoutgoing",
    "initialauthincoming",
    "initialauthoutgoing",
    "currentvalue",
    "priorvalue",
    "cleartextpassword",
    "msds-managedpassword",
};

// The attribute of an LDAPMod without options ("userCertificate;binary").
std::string BaseName(std::string_view name) {
    return Lower(name.substr(0, name.find(';')));
}

const ReadAttribute* Find(const ObjectState& s, const std::string& name) {
    if (auto it = s.attributes.find(Lower(name)); it != s.attributes.end()) return &it->second;
    if (auto it = s.attributes.find(BaseName(name)); it != s.attributes.end()) return &it->second;
    return nullptr;
}

// The attributes a modify touches, each once, in the order first named.
std::vector<std::string> Touched(const Request& r) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    if (!r.mods) return out;
    for (std::size_t i = 0; i < r.mods->Count(); ++i) {
        const std::string name = r.mods->At(i).mod_type;
        if (seen.insert(Lower(name)).second) out.push_back(name);
    }
    return out;
}

// The restored DN of an undelete (the modify that deletes isDeleted), or "".
std::optional<std::string> UndeleteTarget(const Request& r) {
    if (r.kind != RequestKind::Modify || !r.mods) return std::nullopt;
    bool undelete = false;
    for (std::size_t i = 0; i < r.mods->Count(); ++i) {
        const LDAPMod& m = r.mods->At(i);
        if (Lower(m.mod_type) == "isdeleted" && (m.mod_op & ~LDAP_MOD_BVALUES) == LDAP_MOD_DELETE)
            undelete = true;
    }
    if (!undelete) return std::nullopt;
    return ReplacedValue(*r.mods, "distinguishedName").value_or("");
}

std::optional<Bytes> ControlValue(const Request& r, std::string_view oid) {
    if (!r.controls) return std::nullopt;
    for (std::size_t i = 0; i < r.controls->Count(); ++i) {
        const LDAPControl& c = r.controls->At(i);
        if (oid == c.ldctl_oid) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(c.ldctl_value.bv_val);
            return Bytes(p, p + c.ldctl_value.bv_len);
        }
    }
    return std::nullopt;
}

// The RDN of a DN: up to the first comma that is not escaped.
std::string RdnOf(const std::string& dn) {
    for (std::size_t i = 0; i < dn.size(); ++i) {
        if (dn[i] == '\\') {
            ++i;
            continue;
        }
        if (dn[i] == ',') return dn.substr(0, i);
    }
    return dn;
}

std::string ParentDN(const std::string& dn) {
    const std::string rdn = RdnOf(dn);
    return rdn.size() < dn.size() ? dn.substr(rdn.size() + 1) : std::string();
}

std::vector<Bytes> AsBytes(const std::vector<std::string>& values) {
    std::vector<Bytes> out;
    out.reserve(values.size());
    for (const auto& v : values)
        out.emplace_back(v.begin(), v.end());
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::string HexGuid(const std::string& guid) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (char c : guid) {
        const auto u = static_cast<unsigned char>(c);
        out += kHex[u >> 4];
        out += kHex[u & 15];
    }
    return out;
}

// Text fit for one comment line.
std::string OneLine(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return out;
}

} // namespace

std::string GuidText(const std::string& guid) {
    if (guid.size() != 16) return guid;
    const auto b = [&](int i) {
        return static_cast<unsigned char>(guid[static_cast<std::size_t>(i)]);
    };
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b(3),
                  b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13),
                  b(14), b(15));
    return buf;
}

UndoPlan PlanUndo(const Request& r, const UndoServer& server) {
    UndoPlan p;
    const bool showDeleted =
        r.controls && r.controls->Has(oid::kShowDeleted) && r.kind != RequestKind::Delete;
    switch (r.kind) {
    case RequestKind::None:
        return p;
    case RequestKind::Refresh:
        p.refusal = "the time to live of a dynamic object cannot be set back.";
        return p;
    case RequestKind::Add:
        p.deleteRecord = true;
        return p;
    case RequestKind::Delete:
        if (r.treeNuke || (r.controls && r.controls->Has(oid::kTreeDelete))) {
            p.refusal = "a tree delete removes objects below this one whose state is not read "
                        "first.";
            return p;
        }
        if (!server.tombstones) {
            p.refusal = "this directory does not keep deleted objects, so the object could not "
                        "be brought back.";
            return p;
        }
        p.read = true;
        p.tombstone = true;
        p.attributes = {"*", "objectGUID", "memberOf"};
        return p;
    case RequestKind::Rename:
        if (r.controls && r.controls->Has(oid::kCrossDomMove)) {
            p.refusal = "a move to another domain cannot be reversed on this session.";
            return p;
        }
        p.read = true;
        p.showDeleted = showDeleted;
        p.attributes = {"objectGUID", "entryUUID"};
        return p;
    case RequestKind::Modify:
        break;
    }
    if (UndeleteTarget(r)) {
        p.deleteRecord = true;
        return p;
    }
    if (r.refreshTtl >= 0) {
        p.refusal = "the time to live of a dynamic object cannot be set back.";
        return p;
    }
    if (r.dn.empty()) {
        p.refusal = "changes of the RootDSE are operations, not values, and cannot be undone.";
        return p;
    }
    p.read = true;
    p.showDeleted = showDeleted;
    p.attributes = {"objectGUID", "entryUUID"};
    for (const std::string& name : Touched(r)) {
        const std::string base = BaseName(name);
        if (kUnreadable.contains(base)) {
            p.refusal = "the old value of " +
                        (base == "unicodepwd" ? std::string("unicodePwd") : name) +
                        " cannot be read.";
            return p;
        }
        if (IsSecretAttribute(name)) {
            p.refusal = "the old value of " + name +
                        " is a password, and passwords are not written to undo files.";
            return p;
        }
        if (kSystemAttributes.contains(base)) {
            p.refusal = name + " is kept by the directory itself and cannot be written back.";
            return p;
        }
        if (base == "ntsecuritydescriptor") p.sdFlags = ControlValue(r, oid::kSdFlags);
        p.attributes.push_back(name);
    }
    return p;
}

ObjectState ToObjectState(const EntryReadResult& read) {
    ObjectState s;
    s.found = read.found;
    s.dn = read.dn;
    s.attributes = read.attributes;
    if (auto it = s.attributes.find("objectguid");
        it != s.attributes.end() && !it->second.values.empty()) {
        s.guid = it->second.values.front();
        s.attributes.erase(it);
    } else if (auto u = s.attributes.find("entryuuid");
               u != s.attributes.end() && !u->second.values.empty()) {
        s.guid = u->second.values.front();
        s.attributes.erase(u);
    }
    return s;
}

namespace {

Request DeleteOf(const std::string& dn) {
    Request d;
    d.kind = RequestKind::Delete;
    d.dn = dn;
    return d;
}

std::vector<Request> ModifyUndo(const Request& r, const ObjectState& before) {
    Request u;
    u.kind = RequestKind::Modify;
    u.dn = before.dn.empty() ? r.dn : before.dn;
    auto mods = std::make_shared<ModList>();
    bool descriptor = false;
    for (const std::string& name : Touched(r)) {
        if (Lower(name) == "objectguid" || Lower(name) == "entryuuid") continue;
        const ReadAttribute* old = Find(before, name);
        // An attribute absent before is replaced with no values: that removes
        // it whether or not the change left it in place.
        mods->AddBinary(LDAP_MOD_REPLACE, name, old ? AsBytes(old->values) : std::vector<Bytes>{});
        if (BaseName(name) == "ntsecuritydescriptor") descriptor = true;
    }
    if (descriptor) {
        if (auto flags = ControlValue(r, oid::kSdFlags)) {
            auto controls = std::make_shared<ControlList>();
            controls->Add(oid::kSdFlags, *flags, "Control: LDAP_SERVER_SD_FLAGS_OID");
            u.controls = std::move(controls);
        }
    }
    u.mods = std::move(mods);
    return {std::move(u)};
}

std::vector<Request> RenameUndo(const Request& r, const ObjectState& before) {
    const std::string old = before.dn.empty() ? r.dn : before.dn;
    const std::string oldParent = ParentDN(old);
    const std::string parent = r.newParent.empty() ? oldParent : r.newParent;
    Request u;
    u.kind = RequestKind::Rename;
    u.dn = parent.empty() ? r.newRDN : r.newRDN + "," + parent;
    u.newRDN = RdnOf(old);
    u.newParent = oldParent;
    return {std::move(u)};
}

std::vector<Request> DeleteUndo(const Request& r, const ObjectState& before,
                                const ObjectState& tombstone) {
    const std::string original = before.dn.empty() ? r.dn : before.dn;
    Request u;
    u.kind = RequestKind::Modify;
    u.dn = tombstone.found && !tombstone.dn.empty() ? tombstone.dn
                                                    : "<GUID=" + HexGuid(before.guid) + ">";
    auto controls = std::make_shared<ControlList>();
    controls->Add(oid::kShowDeleted, {}, "Control: LDAP_SERVER_SHOW_DELETED_OID");
    u.controls = std::move(controls);
    auto mods = std::make_shared<ModList>();
    mods->AddClear(LDAP_MOD_DELETE, "isDeleted");
    mods->AddStrings(LDAP_MOD_REPLACE, "distinguishedName", {original});
    const std::string rdnType = BaseName(RdnOf(original).substr(0, RdnOf(original).find('=')));
    // What the directory stripped from the tombstone, or changed, goes back.
    for (const auto& [key, old] : before.attributes) {
        if (kNotRestored.contains(key) || key == rdnType || IsSecretAttribute(key) ||
            old.values.empty())
            continue;
        const ReadAttribute* kept = Find(tombstone, key);
        if (kept && Sorted(kept->values) == Sorted(old.values)) continue;
        mods->AddBinary(LDAP_MOD_REPLACE, old.name, AsBytes(old.values));
    }
    // What the tombstone holds that the object did not is removed again, and
    // so are adminCount and operatorCount on users and groups, which the
    // directory sets when it brings one back.
    std::set<std::string> clear;
    for (const auto& [key, kept] : tombstone.attributes)
        if (!kNotRestored.contains(key) && key != rdnType && Find(before, key) == nullptr &&
            !IsSecretAttribute(key))
            clear.insert(kept.name);
    if (const ReadAttribute* classes = Find(before, "objectClass"))
        for (const std::string& c : classes->values)
            if (Lower(c) == "user" || Lower(c) == "group")
                for (const char* counter : {"adminCount", "operatorCount"})
                    if (Find(before, counter) == nullptr) clear.insert(counter);
    for (const std::string& name : clear)
        mods->AddBinary(LDAP_MOD_REPLACE, name, {});
    u.mods = std::move(mods);
    std::vector<Request> out{std::move(u)};
    // Group memberships are links the groups hold: they come back on the
    // groups, after the object itself.  Permissive modify: a link the
    // directory kept is no error.
    if (const ReadAttribute* groups = Find(before, "memberOf")) {
        auto permissive = std::make_shared<ControlList>();
        permissive->Add(oid::kPermissiveModify, {}, "Control: LDAP_SERVER_PERMISSIVE_MODIFY_OID");
        for (const std::string& group : groups->values) {
            Request g;
            g.kind = RequestKind::Modify;
            g.dn = group;
            auto add = std::make_shared<ModList>();
            add->AddStrings(LDAP_MOD_ADD, "member", {original});
            g.mods = std::move(add);
            g.controls = permissive;
            out.push_back(std::move(g));
        }
    }
    return out;
}

} // namespace

std::vector<Request> UndoRequests(const Request& r, const ObjectState& before,
                                  const ObjectState& tombstone) {
    switch (r.kind) {
    case RequestKind::Add:
        return {DeleteOf(r.dn)};
    case RequestKind::Rename:
        return RenameUndo(r, before);
    case RequestKind::Delete:
        return DeleteUndo(r, before, tombstone);
    case RequestKind::Modify:
        if (auto restored = UndeleteTarget(r)) return {DeleteOf(*restored)};
        return ModifyUndo(r, before);
    default:
        return {};
    }
}

std::string UndoRecordsText(const std::vector<Request>& requests) {
    std::string out;
    for (const Request& r : requests)
        out += ChangeRecord(r, true) + "\n"; // a blank line ends each record
    return out;
}

// ---------------------------------------------------------------------------
// The reads on the session.

namespace {

class SessionReads final : public UndoReads {
  public:
    explicit SessionReads(LDAP* ld) : ld_(ld) {}

    EntryReadResult Read(const std::string& dn, const std::vector<std::string>& attributes,
                         const std::optional<Bytes>& sdFlags, bool showDeleted) override {
        return WithControls(dn, attributes, sdFlags, showDeleted);
    }
    EntryReadResult ReadTombstone(const std::string& guid,
                                  const std::vector<std::string>& attributes,
                                  const std::optional<Bytes>& sdFlags) override {
        return WithControls("<GUID=" + HexGuid(guid) + ">", attributes, sdFlags, true);
    }

  private:
    EntryReadResult WithControls(const std::string& dn, const std::vector<std::string>& attributes,
                                 const std::optional<Bytes>& sdFlags, bool showDeleted) {
        std::vector<LDAPControl> controls;
        controls.reserve(2);
        Bytes flags = sdFlags.value_or(Bytes{});
        if (sdFlags) {
            LDAPControl c{};
            c.ldctl_oid = const_cast<char*>(oid::kSdFlags.data());
            c.ldctl_value.bv_len = static_cast<ber_len_t>(flags.size());
            c.ldctl_value.bv_val = reinterpret_cast<char*>(flags.data());
            c.ldctl_iscritical = 1;
            controls.push_back(c);
        }
        if (showDeleted) {
            LDAPControl c{};
            c.ldctl_oid = const_cast<char*>(oid::kShowDeleted.data());
            c.ldctl_iscritical = 1;
            controls.push_back(c);
        }
        std::vector<LDAPControl*> pointers;
        for (auto& c : controls)
            pointers.push_back(&c);
        return ReadEntry(ld_, dn, attributes, pointers);
    }

    LDAP* ld_;
};

} // namespace

std::unique_ptr<UndoReads> SessionUndoReads(LDAP* session) {
    return std::make_unique<SessionReads>(session);
}

// ---------------------------------------------------------------------------
// The file.

namespace {

std::string Marker(std::string_view text) {
    std::string line = "# " + std::string(text);
    line.resize(72, ' ');
    return line + "\n";
}

std::string Commented(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + start, end - start);
        if (!line.empty()) out += "# " + std::string(line) + "\n";
        start = end + 1;
    }
    return out;
}

} // namespace

const std::string& UndoFile::MarkerInFlight() {
    static const std::string m =
        Marker("IN FLIGHT: sent, not confirmed. Its undo, if it was done:");
    return m;
}
const std::string& UndoFile::MarkerConfirmed() {
    static const std::string m = Marker("confirmed: its undo is the record above.");
    return m;
}
const std::string& UndoFile::MarkerFailed() {
    static const std::string m = Marker("failed: the server refused it, nothing to undo.");
    return m;
}

UndoFile::~UndoFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool UndoFile::Failure(const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    return false;
}

bool UndoFile::WriteAt(std::uint64_t offset, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Failure("could not write " + path_);
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool UndoFile::Open(const std::string& path, const std::string& header, std::size_t space) {
    path_ = path;
    header_ = header;
    platform::OpenedFile f = platform::OpenPrivateFile(path, false);
    if (!f.file) {
        error_ = path + ": " + (f.reason.empty() ? std::strerror(f.error) : f.reason);
        return false;
    }
    fd_ = f.file.Release();
    std::string initial = header + std::string(space, '\n');
    if (!WriteAt(0, initial)) return false;
    size_ = initial.size();
    front_ = size_;
    return true;
}

// Writes the file again into FILE.tmp and renames it over FILE: with `space`
// free bytes, or compact (`recordsOnly`: no free space, no marker comments).
bool UndoFile::Rewrite(const std::string& header, std::uint64_t space, bool recordsOnly,
                       bool sync) {
    const std::string tmp = path_ + ".tmp";
    platform::OpenedFile f = platform::OpenPrivateFile(tmp, false);
    if (!f.file) {
        error_ = tmp + ": " + (f.reason.empty() ? std::strerror(f.error) : f.reason);
        return false;
    }
    std::string out = header + std::string(space, '\n');
    // The file is open for writing only: what it holds is read back through
    // a second descriptor, checked to reach the same file.
    platform::FileHandle reader(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat mine {
    }, theirs{};
    if (!reader || ::fstat(fd_, &mine) != 0 || ::fstat(reader.get(), &theirs) != 0)
        return Failure("could not read " + path_);
    if (mine.st_dev != theirs.st_dev || mine.st_ino != theirs.st_ino) {
        errno = ESTALE;
        return Failure(path_ + " was replaced during the run");
    }
    // Blocks in file order: newest first.  The compact file keeps a request
    // still in flight (a run that ends while one is unanswered).
    std::string buffer;
    for (std::size_t i = blocks_.size(); i-- > 0;) {
        const Block& b = blocks_[i];
        if (recordsOnly && !b.record &&
            std::find(inFlight_.begin(), inFlight_.end(), i) == inFlight_.end())
            continue;
        buffer.resize(b.size);
        const std::uint64_t at = size_ - b.fromEnd;
        std::size_t done = 0;
        while (done < b.size) {
            const ssize_t n = ::pread(reader.get(), buffer.data() + done, b.size - done,
                                      static_cast<off_t>(at + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return Failure("could not read " + path_);
            done += static_cast<std::size_t>(n);
        }
        out += buffer;
    }
    // Offsets counted from the end stay what they were when nothing is left
    // out.
    if (!platform::WriteAll(f.file.get(), out.data(), out.size()))
        return Failure("could not write " + tmp);
    if (sync && ::fsync(f.file.get()) != 0) return Failure("could not flush " + tmp);
    if (::rename(tmp.c_str(), path_.c_str()) != 0) return Failure("could not replace " + path_);
    ::close(fd_);
    fd_ = f.file.Release();
    size_ = out.size();
    front_ = size_;
    if (!blocks_.empty() && !recordsOnly) front_ = size_ - blocks_.back().fromEnd;
    return true;
}

bool UndoFile::Reserve(std::uint64_t bytes) {
    const std::uint64_t free = front_ - header_.size();
    if (free >= bytes) return true;
    const std::uint64_t used = size_ - front_;
    const std::uint64_t space = std::max<std::uint64_t>(2 * (used + bytes), 16384);
    return Rewrite(header_, space, false, false);
}

bool UndoFile::InFlight(const std::string& title, const std::string& records) {
    const std::string block = MarkerInFlight() + Commented(title + "\n" + records) + "\n";
    if (!Reserve(block.size())) return false;
    front_ -= block.size();
    if (!WriteAt(front_, block)) return false;
    blocks_.push_back({size_ - front_, block.size(), false});
    inFlight_.push_back(blocks_.size() - 1);
    return true;
}

bool UndoFile::Confirmed(const std::string& records) {
    if (records.empty()) return Failed();
    if (!Reserve(records.size())) return false;
    const std::uint64_t at = front_ - records.size();
    // Every record goes in hidden (its "dn:" line as a comment) and is then
    // switched on with a one-byte write, the first record first.
    std::vector<std::size_t> starts;
    for (std::size_t pos = 0; pos < records.size();) {
        if (records.compare(pos, 3, "dn:") == 0) starts.push_back(pos);
        const std::size_t end = records.find('\n', pos);
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    std::string hidden = records;
    for (std::size_t s : starts)
        hidden[s] = '#';
    if (!WriteAt(at, hidden)) return false;
    for (std::size_t s : starts)
        if (!WriteAt(at + s, "d")) return false;
    front_ = at;
    blocks_.push_back({size_ - front_, records.size(), true});
    if (!inFlight_.empty()) {
        const Block& b = blocks_[inFlight_.front()];
        inFlight_.pop_front();
        if (!WriteAt(size_ - b.fromEnd, MarkerConfirmed())) return false;
    }
    return true;
}

bool UndoFile::Failed() {
    if (inFlight_.empty()) return true;
    const Block& b = blocks_[inFlight_.front()];
    inFlight_.pop_front();
    return WriteAt(size_ - b.fromEnd, MarkerFailed());
}

bool UndoFile::Finish(const std::string& header) {
    if (fd_ < 0) return false;
    header_ = header;
    if (!Rewrite(header, 0, true, true)) return false;
    blocks_.clear();
    return true;
}

// ---------------------------------------------------------------------------
// The recorder.

std::string UndoRecorder::Title(const Request& r, const ObjectState& s) const {
    std::string kind = r.kind == RequestKind::Add      ? "add"
                       : r.kind == RequestKind::Delete ? "delete"
                       : r.kind == RequestKind::Rename ? "rename"
                                                       : "modify";
    if (UndeleteTarget(r)) kind = "undelete";
    std::string t = "change " + std::to_string(sent_) + ": " + kind + " " + OneLine(r.dn);
    if (!s.guid.empty()) t += " (object " + OneLine(GuidText(s.guid)) + ")";
    return t;
}

UndoRecorder::Verdict UndoRecorder::Before(const Request& r) {
    Verdict v;
    Pending p{PlanUndo(r, server_), {}, {}};
    auto refuse = [&](std::uint32_t code, std::string why) {
        v.send = false;
        v.code = code;
        v.message = "ERROR: Cannot record an undo for this change: " + std::move(why) + "\n";
        return v;
    };
    if (!p.plan.refusal.empty())
        return refuse(static_cast<std::uint32_t>(exitcode::kUndoRefused), p.plan.refusal);
    if (r.kind == RequestKind::None) return v;
    if (p.plan.read) {
        const EntryReadResult read =
            reads_.Read(r.dn, p.plan.attributes, p.plan.sdFlags, p.plan.showDeleted);
        if (read.code != 0) {
            std::string why = "the object's current state cannot be read (error 0x" +
                              [](int c) {
                                  char b[16];
                                  std::snprintf(b, sizeof b, "%x", static_cast<unsigned>(c));
                                  return std::string(b);
                              }(read.code) +
                              (read.error.empty() ? "" : ": " + OneLine(read.error)) + ").";
            return refuse(static_cast<std::uint32_t>(exitcode::kUndoRefused), why);
        }
        if (!read.found)
            return refuse(static_cast<std::uint32_t>(exitcode::kSkippedObject),
                          "the object does not exist.");
        p.before = ToObjectState(read);
        if (p.plan.tombstone && p.before.guid.size() != 16)
            return refuse(static_cast<std::uint32_t>(exitcode::kUndoRefused),
                          "the object's objectGUID cannot be read, so its tombstone could not be "
                          "found.");
    }
    ++sent_;
    const std::string preview = UndoRecordsText(UndoRequests(r, p.before, {}));
    p.title = Title(r, p.before);
    if (!file_.InFlight(p.title, preview)) {
        v.send = false;
        v.fatal = true;
        v.code = static_cast<std::uint32_t>(exitcode::kFatal);
        v.message = "ERROR: Could not write the undo file " + file_.Error() + "\n";
        return v;
    }
    pending_.push_back(std::move(p));
    return v;
}

UndoRecorder::Verdict UndoRecorder::After(const Request& r, const Result& result) {
    Verdict v;
    if (r.kind == RequestKind::None || pending_.empty()) return v;
    const Pending p = std::move(pending_.front());
    pending_.pop_front();
    auto fileError = [&] {
        v.fatal = true;
        v.code = static_cast<std::uint32_t>(exitcode::kFatal);
        v.message =
            "ERROR: The change was made, but the undo file could not be written: " + file_.Error() +
            "\n";
        return v;
    };
    if (result.code != 0) {
        if (!file_.Failed()) return fileError();
        return v;
    }
    ObjectState tombstone;
    std::string incomplete;
    if (p.plan.tombstone) {
        const EntryReadResult read =
            reads_.ReadTombstone(p.before.guid, {"*", "objectGUID"}, std::nullopt);
        tombstone = ToObjectState(read);
        if (read.code != 0 || !read.found)
            incomplete = "ERROR: The object was deleted, but its tombstone could not be read; "
                         "its undo record is addressed by objectGUID and may need the "
                         "tombstone's DN.\n";
    }
    const std::vector<Request> undo = UndoRequests(r, p.before, tombstone);
    std::string text = "# " + p.title + "\n" + UndoRecordsText(undo);
    if (!file_.Confirmed(text)) return fileError();
    ++recorded_;
    if (!incomplete.empty()) {
        v.code = static_cast<std::uint32_t>(exitcode::kUndoIncomplete);
        v.message = std::move(incomplete);
    }
    return v;
}
