#include "AttributeActions.h"

#include "ConsoleOutput.h"
#include "Diag.h"
#include "Import.h"
#include "Secrets.h"
#include "Utf16.h"
#include "ValueEncoding.h"
#include "pellixstrings.h"

#include <algorithm>

namespace {

void Dbg(const std::string& text) {
    diag::DebugOut("DEBUG: " + text + "\n");
}

bool DebugOn() {
    return diag::Debug() || diag::Trace();
}

void IssueWith(const std::string& action, const std::string& delim, const std::string& detail) {
    diag::Out("ERROR: Issue with attrib parameter - [" + RedactAction(action, delim) + "]\n");
    diag::Out(detail);
}

void WarnIllogical() {
    diag::Out("WARN: Delete/Clear option illogical for add, ignoring.\n");
}

enum class Route { Add, Delete, Replace, ReplaceAll };

// Encodes each non-empty value of a prefixed attribute and appends them to
// map[bare name].  Returns the first encoder failure; nothing is stored then.
EncodeStatus MultiBinValueInsOrDel(std::map<std::string, std::vector<Bytes>>& map,
                                   const std::vector<std::string>& values,
                                   const std::string& attribute, const std::string& caller,
                                   const DescriptorEncoder& sd) {
    std::vector<Bytes> collected;
    std::string bare;
    for (const auto& v : values) {
        if (v.empty()) continue;
        std::string attr = attribute;
        Bytes bytes;
        const EncodeStatus rc = EncodeBinaryAttribs(attr, v, caller, bytes, sd);
        if (rc.code != 0) {
            Dbg("Error in data format.");
            return rc;
        }
        bare = attr;
        // A descriptor shown with -sdwhatif gives no value: nothing to send.
        if (bytes.empty() && attribute.starts_with("sd##")) continue;
        collected.push_back(std::move(bytes));
    }
    // Only empty values: nothing to send, and no prefixed name to leak.
    if (collected.empty()) return {};
    auto& list = map[bare];
    list.insert(list.end(), collected.begin(), collected.end());
    return {};
}

void Keep(const EncodeStatus& rc, ParseResult& result) {
    if (rc.code != 0 && result.binaryResult == 0) result.binaryResult = rc.code;
    if (rc.endsRun) result.endsRun = true;
}

void RouteValues(Route route, const std::string& attribute, const std::vector<std::string>& values,
                 const std::string& rawAction, const ActionOptions& o, ModContainers& c,
                 ParseResult& result) {
    // The encoder names the action in its diagnostics.
    const std::string action = RedactAction(rawAction, o.attrDelim);
    // -sdsimple descriptors are built as they are read, with the parts they
    // set recorded for the SD flags control.
    const DescriptorEncoder sd = [&](const std::string& a, const std::string& v, Bytes& out) {
        if (!o.sdBuild) return EncodeStatus{-1, true};
        std::uint32_t parts = 0;
        const EncodeStatus st = o.sdBuild(a, v, "", out, parts);
        if (st.code == 0) {
            c.sdFlagsRequested = true;
            c.sdFlags |= parts;
        }
        return st;
    };
    const bool prefixed = attribute.find("##") != std::string::npos;
    // Plain values go out as text; prefixed ones in CSV modes wait for each
    // row's values before they are encoded.  A replace of all values stays
    // one replace in CSV modes too (each row expands it), so it works on an
    // attribute that has no value yet.
    const bool csvModes = o.csv || o.adcsv;
    if (route == Route::ReplaceAll && !(prefixed && csvModes) &&
        !(prefixed && attribute.starts_with("sd##") && !o.sdSimple)) {
        // One replace with every value; a later replace of the same
        // attribute wins, as with single values.
        if (!prefixed) {
            c.replace.erase(attribute);
            auto& list = c.replaceAll[attribute];
            list.clear();
            MultiValueInsOrDel(attribute, values, c.replaceAll);
            return;
        }
        std::map<std::string, std::vector<Bytes>> encoded;
        const EncodeStatus rc = MultiBinValueInsOrDel(encoded, values, attribute, action, sd);
        if (rc.code != 0) {
            Keep(rc, result);
            return;
        }
        const std::string bare = encoded.empty() ? BareName(attribute) : encoded.begin()->first;
        c.binReplace.erase(bare);
        c.binReplaceAll[bare] = encoded.empty() ? std::vector<Bytes>{} : encoded.begin()->second;
        return;
    }
    if (route == Route::ReplaceAll) {
        // Typed values in CSV rows and descriptor edits: a clear followed by
        // the added values.
        c.clears.push_back(attribute);
        route = Route::Add;
    }
    if (!prefixed || o.csv || o.adcsv) {
        const bool deferred = prefixed;
        if (route == Route::Add)
            MultiValueInsOrDel(attribute, values, deferred ? c.deferredAdd : c.add);
        else if (route == Route::Delete)
            MultiValueInsOrDel(attribute, values, deferred ? c.deferredDel : c.del);
        else {
            (deferred ? c.deferredReplace : c.replace)[attribute] =
                values.empty() ? std::string() : values.front();
            if (!deferred) c.replaceAll.erase(attribute);
        }
        return;
    }
    if (attribute.starts_with("sd##") && !o.sdSimple) {
        const char* key = route == Route::Add ? "ADD" : route == Route::Delete ? "REMOVE" : "MOD";
        for (const auto& v : values) {
            Dbg("SD Mod Attrib - [" + attribute + "][" + key + "] with [" +
                RedactAttributeValue(attribute, v) + "]");
            c.sdMods[attribute][key].push_back(v);
        }
        return;
    }
    if (route == Route::Add) {
        Keep(MultiBinValueInsOrDel(c.binAdd, values, attribute, action, sd), result);
    } else if (route == Route::Delete) {
        Keep(MultiBinValueInsOrDel(c.binDel, values, attribute, action, sd), result);
    } else {
        std::string attr = attribute;
        Bytes bytes;
        const EncodeStatus rc = EncodeBinaryAttribs(
            attr, values.empty() ? std::string() : values.front(), action, bytes, sd);
        Keep(rc, result);
        if (rc.code == 0 && !bytes.empty()) {
            c.binReplaceAll.erase(attr);
            c.binReplace[attr] = std::move(bytes);
        }
    }
}

std::vector<std::string> SplitValues(const std::string& value, const std::string& delim) {
    TokenVector v;
    GetTokens(value, delim, v, kMaxSplits);
    return v;
}

} // namespace

void MultiValueInsOrDel(const std::string& attribute, const std::vector<std::string>& values,
                        std::map<std::string, std::vector<std::string>>& map) {
    const bool debug = DebugOn();
    for (const auto& v : values) {
        if (v.empty()) continue;
        if (debug)
            Dbg("MV Val Attrib - [" + attribute + "] with [" + RedactAttributeValue(attribute, v) +
                "]");
        map[attribute].push_back(v);
    }
}

bool ExpandDNWArg(const std::string& operation, std::string& attribute, std::string& value) {
    KELVO_TRACE_SCOPE();
    const std::string kind = attribute.substr(0, 6);
    const bool bin = kind == "dnwbin";
    const bool str = kind == "dnwstr" || kind == "dnwtxt";
    Dbg("bDNwStr = " + std::string(str ? "1" : "0"));
    Dbg("bDNwBin = " + std::string(bin ? "1" : "0"));
    if (!bin && !str) {
        diag::Out("ERROR: Invalid DNw format [" + attribute + "]\n");
        return false;
    }
    Dbg("Processing DNw*...");
    attribute = attribute.substr(attribute.find("##") + 2);
    std::vector<std::string> entries;
    if (operation == "++" || operation == "--")
        entries = SplitValues(value, ";");
    else
        entries.push_back(value);
    std::vector<std::string> rewritten;
    for (const auto& entry : entries) {
        TokenVector parts;
        GetXTokens(entry, ":", parts, 2);
        std::string data = parts[1];
        std::erase(data, ' ');
        if (bin && data.size() % 2 != 0) {
            diag::Out("ERROR: Odd number of HEX characters for [" + attribute + "]. (" +
                      std::to_string(data.size()) + ") [" + entry + "] [" + data + "]\n");
            return false;
        }
        rewritten.push_back(std::string(bin ? "B:" : "S:") + std::to_string(data.size()) + ":" +
                            data + ":" + parts[0]);
    }
    value = JoinTokens(";", rewritten);
    Dbg("DNw* attrib: " + attribute);
    Dbg("DNw* stmp2 : " + value);
    return true;
}

ParseResult ParseAttributeActions(const std::vector<std::string>& actions, const ActionOptions& o,
                                  ModContainers& c) {
    KELVO_TRACE_SCOPE();
    ParseResult result;
    const bool addRun = o.run == ActionRun::Add;
    for (const auto& action : actions) {
        TokenVector f;
        GetTokens(action, o.attrDelim, f, 2);
        std::size_t n = std::min<std::size_t>(f.size(), 3);
        f.resize(3);
        std::string attribute = StrToLower(f[0]);
        std::string op = StrToLower(f[1]);
        std::string value = f[2];
        if (attribute.find("##") != std::string::npos && attribute.starts_with("dnw")) {
            if (!ExpandDNWArg(op, attribute, value)) result.ok = false;
        }
        c.named.push_back(BareName(attribute));
        if (diag::Debug()) {
            Dbg("icnt=" + std::to_string(n));
            Dbg("arg=[" + RedactAction(action, o.attrDelim) + "]");
            Dbg("attrib=[" + RedactAction(attribute, o.attrDelim) + "]");
            Dbg("op=[" + RedactOperation(attribute, op) + "]");
            Dbg("stmp2=[" + RedactAttributeValue(attribute, value) + "]");
        }
        if (n <= 1) {
            IssueWith(action, o.attrDelim, "ERROR: Missing operation.\n\n");
            result.ok = false;
            continue;
        }
        if (n == 2) {
            if (op.find('-') == std::string::npos) {
                IssueWith(action, o.attrDelim,
                          "ERROR: Unsupported Op or format - [" + RedactOperation(attribute, op) +
                              "]\n");
                result.ok = false;
            } else if (addRun) {
                WarnIllogical();
            } else if (attribute == "member" && !o.clearMembers) {
                diag::Out("ERROR: Issue with modification operation - [" + action + "]\n");
                diag::Out("ERROR: Clearing member attribute requires -cm\n");
                result.ok = false;
            } else {
                Dbg("Clear Attrib - [" + attribute + "]");
                c.clears.push_back(attribute);
            }
            continue;
        }
        if (op.empty()) {
            if (addRun) {
                Dbg("Add attrib");
                RouteValues(Route::Add, attribute, {value}, action, o, c, result);
            } else {
                RouteValues(Route::Replace, attribute, {value}, action, o, c, result);
            }
        } else if (op == "+") {
            Dbg("MV Add (++)");
            RouteValues(Route::Add, attribute, {value}, action, o, c, result);
        } else if (op == "-") {
            if (addRun) {
                WarnIllogical();
                continue;
            }
            Dbg("Delete");
            RouteValues(Route::Delete, attribute, {value}, action, o, c, result);
        } else if (op == "++" || (op == "+-" && addRun)) {
            RouteValues(Route::Add, attribute, SplitValues(value, o.valueDelim), action, o, c,
                        result);
        } else if (op == "+-") {
            Dbg("MV Replace");
            RouteValues(Route::ReplaceAll, attribute, SplitValues(value, o.valueDelim), action, o,
                        c, result);
        } else if (op == "--") {
            if (addRun) {
                WarnIllogical();
                continue;
            }
            Dbg("MV Delete");
            RouteValues(Route::Delete, attribute, SplitValues(value, o.valueDelim), action, o, c,
                        result);
        } else {
            IssueWith(action, o.attrDelim,
                      "ERROR: Unsupported Op or format - [" + RedactOperation(attribute, op) +
                          "]\n");
            result.ok = false;
        }
    }
    return result;
}

Bytes PasswordValue(const std::string& password) {
    std::string quoted = password.starts_with('"') ? password : "\"" + password + "\"";
    return Utf8ToUtf16LE(quoted);
}

namespace {

// A DN-syntax value as -replacedn rewrites it.
std::string ReplacedDN(const BuildOptions& o, const std::string& attribute, std::string value) {
    if (o.replacer && o.replacer->Active() && o.dnAttributes && o.dnAttributes->contains(attribute))
        return o.replacer->Apply(value);
    return value;
}

} // namespace

BuildResult BuildModifications(const ModContainers& c, const BuildOptions& options, bool asAdd,
                               ModList& out) {
    BuildResult result;
    auto log = [&](std::string text) { result.notes.push_back({Channel::Log, std::move(text)}); };
    bool passwordChange = false;
    auto warnPassword = [&] {
        if (!options.encrypted) result.needsEncryptionWarning = true;
    };
    auto op = [&](int wanted) { return asAdd ? LDAP_MOD_ADD : wanted; };
    auto skipped = [&](const std::string& name) { return name == options.leaveOut; };
    // unicodePwd goes out as one binary value: replaced, or added after a
    // removal of the old one (a user's own password change).
    auto putPassword = [&](const std::string& name, const std::string& raw,
                           const std::string& value) {
        if (raw.find("{{*rnd*") != std::string::npos) result.generatedPassword = value;
        out.AddBinary(op(passwordChange ? LDAP_MOD_ADD : LDAP_MOD_REPLACE), name,
                      {PasswordValue(value)});
        log(std::string("MOD: ") + (passwordChange ? "LDAP_MOD_ADD" : "LDAP_MOD_REPLACE") +
            " | LDAP_MOD_BVALUES - " + name);
    };
    Expanded failure;
    auto fail = [&](const std::string& name, const std::string& value) {
        result.ok = false;
        result.exitCode = failure.exitCode != 0 ? failure.exitCode : exitcode::kExpandFailed;
        result.error = failure.message + "ERROR: Couldn't expand dynamic string [" +
                       RedactAttributeValue(name, value) + "]";
        return result;
    };
    std::string current; // the attribute whose values are expanded
    auto expandAll = [&](const std::vector<std::string>& raws, std::vector<std::string>& values) {
        for (const auto& raw : raws) {
            std::string v = raw;
            if (options.expand) {
                if (!options.expander) return false;
                Expanded e = options.expander(raw, current);
                if (!e.ok) {
                    failure = std::move(e);
                    return false;
                }
                v = std::move(e.value);
            }
            values.push_back(ReplacedDN(options, current, std::move(v)));
        }
        return true;
    };

    for (const auto& name : c.clears) {
        if (skipped(name)) continue;
        out.AddClear(op(LDAP_MOD_DELETE), name);
        log("MOD: LDAP_MOD_DELETE -" + name);
    }
    for (const auto& [name, values] : c.del) {
        if (skipped(name)) continue;
        if (name == "unicodepwd") {
            passwordChange = true;
            warnPassword();
            out.AddBinary(op(LDAP_MOD_DELETE), name, {PasswordValue(values.front())});
            log("MOD: LDAP_MOD_DELETE | LDAP_MOD_BVALUES -" + name);
            continue;
        }
        std::vector<std::string> replaced;
        for (const auto& v : values)
            replaced.push_back(ReplacedDN(options, name, v));
        out.AddStrings(op(LDAP_MOD_DELETE), name, replaced);
        for (const auto& v : replaced)
            log("MOD: LDAP_MOD_DELETE -" + name + " :: " + RedactAttributeValue(name, v));
    }
    // Single-value replaces and replace-all-values actions, in name order.
    std::string failedName, failedRaw;
    const bool replaced =
        ForEachReplace(c, [&](const std::string& name, const std::vector<std::string>& raws, bool) {
            if (skipped(name)) return true;
            current = name;
            std::vector<std::string> values;
            if (!expandAll(raws, values)) {
                failedName = name;
                failedRaw = raws.empty() ? name : raws.front();
                return false;
            }
            if (name == "unicodepwd" && !values.empty()) {
                warnPassword();
                putPassword(name, raws.front(), values.front());
                return true;
            }
            out.AddStrings(op(LDAP_MOD_REPLACE), name, values);
            if (values.empty()) log("MOD: LDAP_MOD_REPLACE - " + name);
            for (const auto& v : values)
                log("MOD: LDAP_MOD_REPLACE - " + name + " :: " + RedactAttributeValue(name, v));
            return true;
        });
    if (!replaced) return fail(failedName, failedRaw);
    for (const auto& [name, raws] : c.add) {
        if (skipped(name)) continue;
        current = name;
        std::vector<std::string> values;
        if (!expandAll(raws, values)) return fail(name, raws.front());
        if (name == "unicodepwd") {
            warnPassword();
            log("WARN: unicodepwd:+:password specified, should be unicodepwd::password");
            result.notes.push_back(
                {Channel::Debug,
                 "DEBUG: unicodePwd, redirection, should be unicode::password,special "
                 "handling..."});
            putPassword(name, raws.front(), values.front());
            continue;
        }
        out.AddStrings(op(LDAP_MOD_ADD), name, values);
        for (const auto& v : values)
            log("MOD: LDAP_MOD_ADD -" + name + " :: " + RedactAttributeValue(name, v));
    }
    for (const auto& [name, values] : c.binDel) {
        out.AddBinary(op(LDAP_MOD_DELETE), name, values);
        log("MOD: LDAP_MOD_DELETE | LDAP_MOD_BVALUES -" + name);
    }
    auto binSingle = c.binReplace.begin();
    auto binMulti = c.binReplaceAll.begin();
    while (binSingle != c.binReplace.end() || binMulti != c.binReplaceAll.end()) {
        const bool takeSingle =
            binMulti == c.binReplaceAll.end() ||
            (binSingle != c.binReplace.end() && binSingle->first < binMulti->first);
        const std::string& name = takeSingle ? binSingle->first : binMulti->first;
        if (takeSingle)
            out.AddBinary(op(LDAP_MOD_REPLACE), name, {binSingle++->second});
        else
            out.AddBinary(op(LDAP_MOD_REPLACE), name, binMulti++->second);
        log("MOD: LDAP_MOD_REPLACE | LDAP_MOD_BVALUES - " + name);
    }
    for (const auto& [name, values] : c.binAdd) {
        out.AddBinary(op(LDAP_MOD_ADD), name, values);
        log("MOD: LDAP_MOD_ADD | LDAP_MOD_BVALUES - " + name);
    }
    return result;
}

Step ResolveSdMods(ModContainers& c, const ExpandFn& expand, const SdBuildFn& build,
                   const std::string& dn) {
    KELVO_TRACE_SCOPE();
    for (const auto& [attribute, ops] : c.sdMods) {
        for (const auto& [op, values] : ops) {
            if (values.size() > 1) {
                std::string text = "DEBUGDEBUG:\n"
                                   "DEBUGDEBUG: No clue how to handle multivalues for SD yet.\n"
                                   "DEBUGDEBUG: OPT= " +
                                   op + "\nDEBUGDEBUG: ATTR = " + attribute + "\n";
                for (const auto& v : values)
                    text += "  VAL = " + v + "\n";
                text += "DEBUGDEBUG:\n";
                return Fail(exitcode::kSdMultiValue, std::move(text));
            }
            std::string value = values.front();
            if (value.find('{') != std::string::npos) {
                Expanded e = expand ? expand(value, attribute) : Expanded{false, {}, 0, {}};
                if (!e.ok)
                    return Fail(e.exitCode != 0 ? e.exitCode : exitcode::kExpandFailed,
                                e.message + "ERROR: Couldn't expand dynamic string [" + attribute +
                                    "]\n");
                value = std::move(e.value);
            }
            std::string attr = attribute;
            Bytes bytes;
            std::uint32_t parts = 0;
            const EncodeStatus rc = EncodeBinaryAttribs(
                attr, value, "SD modification", bytes,
                [&](const std::string& a, const std::string& v, Bytes& out) {
                    return build ? build(a, v, dn, out, parts) : EncodeStatus{-1, true};
                });
            if (rc.endsRun) return Fail(exitcode::kFatal);
            if (rc.code != 0)
                return Fail(rc.code, "ERROR: Binary conversion failure. Terminating Program.\n");
            c.sdFlagsRequested = true;
            c.sdFlags |= parts;
            if (bytes.empty()) continue; // -sdwhatif: shown, not sent
            if (op == "MOD")
                c.binReplace[attr] = std::move(bytes);
            else if (op == "ADD")
                c.binAdd[attr].push_back(std::move(bytes));
            else
                c.binDel[attr].push_back(std::move(bytes));
        }
    }
    return std::nullopt;
}

std::string BareName(const std::string& attribute) {
    const std::size_t hash = attribute.find("##");
    return hash == std::string::npos ? attribute : attribute.substr(hash + 2);
}

bool ForEachReplace(
    const ModContainers& c,
    const std::function<bool(const std::string&, const std::vector<std::string>&, bool)>& fn) {
    auto single = c.replace.begin();
    auto multi = c.replaceAll.begin();
    while (single != c.replace.end() || multi != c.replaceAll.end()) {
        const bool takeSingle = multi == c.replaceAll.end() ||
                                (single != c.replace.end() && single->first < multi->first);
        const bool go = takeSingle ? fn(single->first, {single->second}, true)
                                   : fn(multi->first, multi->second, false);
        if (!go) return false;
        if (takeSingle)
            ++single;
        else
            ++multi;
    }
    return true;
}
