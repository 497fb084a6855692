#include "RowRequests.h"

#include "Import.h"
#include "Secrets.h"
#include "ValueEncoding.h"
#include "pellixstrings.h"

namespace {

bool HasExpression(const std::string& text) {
    return text.find("{{") != std::string::npos && text.find("}}") != std::string::npos;
}

class RowBuilder {
  public:
    RowBuilder(const ModContainers& c, const Target& t, std::uint64_t counter,
               const ValueExpander& x, const RowOptions& o)
        : c_(c), t_(t), counter_(counter), x_(x), o_(o) {
        r_.mods = std::make_shared<ModList>();
    }

    RowMods Build();

  private:
    int Op(int wanted) const { return o_.add ? LDAP_MOD_ADD : wanted; }
    void Log(std::string text) {
        if (o_.log) r_.notes.push_back({Channel::Log, std::move(text)});
    }
    bool Expand(const std::string& text, const std::string& attribute, std::size_t position,
                bool expand, std::string& out);
    // Every value of a multi-value entry: one text naming a multi-valued
    // column is repeated once per value of it.
    bool ExpandList(const std::string& attribute, const std::vector<std::string>& texts,
                    std::vector<std::string>& out);
    bool Encode(const std::string& attribute, const std::vector<std::string>& values,
                std::vector<Bytes>& out, std::string& bare);
    void Password(const std::string& raw, const std::string& value);
    bool Replaces();
    bool BinaryReplaces();

    const ModContainers& c_;
    const Target& t_;
    std::uint64_t counter_;
    const ValueExpander& x_;
    const RowOptions& o_;
    RowMods r_;
    bool passwordChange_ = false;
};

bool RowBuilder::Expand(const std::string& text, const std::string& attribute, std::size_t position,
                        bool expand, std::string& out) {
    if (!expand) {
        out = text;
    } else {
        Expanded e = x_.Expand(t_, counter_, text, attribute, position);
        if (!e.ok) {
            r_.fatal = Fail(e.exitCode, std::move(e.message));
            return false;
        }
        out = std::move(e.value);
    }
    const std::string bare = StrToLower(BareName(attribute));
    if (o_.replacer && o_.replacer->Active() && o_.dnAttributes && o_.dnAttributes->contains(bare))
        out = o_.replacer->Apply(out);
    return true;
}

bool RowBuilder::ExpandList(const std::string& attribute, const std::vector<std::string>& texts,
                            std::vector<std::string>& out) {
    std::size_t repeat = 1;
    if (o_.expand && texts.size() == 1 && HasExpression(texts.front()))
        repeat = std::max<std::size_t>(1, x_.ValueCount(t_, texts.front(), attribute));
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t position = 0; position < repeat; ++position) {
            std::string value;
            if (!Expand(texts[i], attribute, texts.size() == 1 ? position : 0, o_.expand, value))
                return false;
            out.push_back(std::move(value));
        }
    }
    return true;
}

bool RowBuilder::Encode(const std::string& attribute, const std::vector<std::string>& values,
                        std::vector<Bytes>& out, std::string& bare) {
    bare = BareName(attribute);
    for (const auto& v : values) {
        std::string name = attribute;
        Bytes bytes;
        const EncodeStatus rc =
            EncodeBinaryAttribs(name, v, "CSV row " + t_.dn, bytes,
                                [&](const std::string& a, const std::string& value, Bytes& built) {
                                    if (!o_.descriptor) return EncodeStatus{-1, true};
                                    std::uint32_t parts = 0;
                                    const EncodeStatus st =
                                        o_.descriptor(a, value, t_.dn, built, parts);
                                    if (st.code == 0) {
                                        r_.sdFlagsRequested = true;
                                        r_.sdFlags |= parts;
                                    }
                                    return st;
                                });
        if (rc.endsRun) {
            r_.fatal = Fail(exitcode::kFatal);
            return false;
        }
        if (rc.code != 0) {
            r_.fatal = Fail(rc.code, "ERROR: Binary conversion failure. Terminating Program.\n");
            return false;
        }
        bare = name;
        // A descriptor shown with -sdwhatif gives no value: nothing to send.
        if (bytes.empty() && attribute.starts_with("sd##")) continue;
        out.push_back(std::move(bytes));
    }
    return true;
}

void RowBuilder::Password(const std::string& raw, const std::string& value) {
    if (!o_.encrypted) r_.needsEncryptionWarning = true;
    if (raw.find("{{*rnd*") != std::string::npos) r_.generatedPassword = value;
    const int op = passwordChange_ ? LDAP_MOD_ADD : LDAP_MOD_REPLACE;
    r_.mods->AddBinary(Op(op), "unicodepwd", {PasswordValue(value)});
    Log(std::string("MOD: ") + (passwordChange_ ? "LDAP_MOD_ADD" : "LDAP_MOD_REPLACE") +
        " | LDAP_MOD_BVALUES - unicodepwd");
}

// Single-value replaces and replace-all actions, in name order.
bool RowBuilder::Replaces() {
    return ForEachReplace(
        c_, [&](const std::string& name, const std::vector<std::string>& texts, bool single) {
            if (name == o_.leaveOut) return true;
            std::vector<std::string> values;
            const std::string raw = texts.empty() ? std::string() : texts.front();
            if (single) {
                std::string v;
                if (!Expand(raw, name, 0, o_.expand, v)) return false;
                values.push_back(std::move(v));
            } else if (!ExpandList(name, texts, values)) {
                return false;
            }
            std::erase_if(values, [&](const std::string& v) {
                // Empty values: left out in an add, or as -csvmodnull says.
                if (!v.empty() || (!o_.add && o_.csvModNull == 0)) return false;
                return true;
            });
            if (values.empty()) {
                if (o_.add) {
                    Log("LDAP_MOD_ADD - not adding empty value for " + name);
                } else if (o_.csvModNull == 2) {
                    r_.mods->AddClear(LDAP_MOD_DELETE, name);
                    Log("LDAP_MOD_DELETE (CSVMODNULL==CLEAR): " + name);
                }
                return true;
            }
            if (name == "unicodepwd") {
                Password(raw, values.front());
                return true;
            }
            r_.mods->AddStrings(Op(LDAP_MOD_REPLACE), name, values);
            Log("Modifying  - " + name);
            for (const auto& v : values)
                Log("MOD: LDAP_MOD_REPLACE - " + name + " :: " + RedactAttributeValue(name, v));
            return true;
        });
}

bool RowBuilder::BinaryReplaces() {
    for (const auto& [attribute, raw] : c_.deferredReplace) {
        // A descriptor built from the row's own sources is always expanded.
        const bool expand =
            o_.expand || (attribute.find("ntsecuritydescriptor") != std::string::npos &&
                          raw.find("{{*") != std::string::npos);
        std::string value;
        if (!Expand(raw, attribute, 0, expand, value)) return false;
        if (value.empty() && (o_.add || o_.csvModNull != 0)) {
            if (o_.add) {
                Log("LDAP_MOD_ADD | LDAP_MOD_BVALUES - not adding empty value for " + attribute);
            } else if (o_.csvModNull == 2) {
                r_.mods->AddClear(LDAP_MOD_DELETE, BareName(attribute));
                Log("LDAP_MOD_DELETE (CSVMODNULL==CLEAR): " + BareName(attribute));
            }
            continue;
        }
        std::vector<Bytes> bytes;
        std::string bare;
        if (!Encode(attribute, {value}, bytes, bare)) return false;
        if (bytes.empty()) continue;
        r_.mods->AddBinary(Op(LDAP_MOD_REPLACE), bare, bytes);
        Log("MOD: LDAP_MOD_REPLACE | LDAP_MOD_BVALUES - " + bare);
    }
    for (const auto& [name, value] : c_.binReplace) {
        r_.mods->AddBinary(Op(LDAP_MOD_REPLACE), name, {value});
        Log("MOD: LDAP_MOD_REPLACE | LDAP_MOD_BVALUES - " + name);
    }
    for (const auto& [name, values] : c_.binReplaceAll) {
        r_.mods->AddBinary(Op(LDAP_MOD_REPLACE), name, values);
        Log("MOD: LDAP_MOD_REPLACE | LDAP_MOD_BVALUES - " + name);
    }
    return true;
}

RowMods RowBuilder::Build() {
    auto failed = [&] { return std::move(r_); };
    if (!o_.add) {
        for (const auto& name : c_.clears) {
            r_.mods->AddClear(LDAP_MOD_DELETE, name);
            Log("Clearing  - " + name);
        }
    }
    for (const auto& [name, texts] : c_.del) {
        std::vector<std::string> values;
        if (!ExpandList(name, texts, values)) return failed();
        // -csvmodnull: an empty field names no value to remove.
        if (o_.csvModNull != 0) std::erase(values, std::string());
        if (values.empty()) continue;
        if (name == "unicodepwd") {
            passwordChange_ = true;
            if (!o_.encrypted) r_.needsEncryptionWarning = true;
            r_.mods->AddBinary(Op(LDAP_MOD_DELETE), name, {PasswordValue(values.front())});
            Log("MOD: LDAP_MOD_DELETE | LDAP_MOD_BVALUES -" + name);
            continue;
        }
        r_.mods->AddStrings(Op(LDAP_MOD_DELETE), name, values);
        for (const auto& v : values)
            Log("LDAP_MOD_DELETE: " + name + " :: " + RedactAttributeValue(name, v));
    }
    if (!Replaces()) return failed();
    for (const auto& [name, texts] : c_.add) {
        if (name == o_.leaveOut) continue;
        std::vector<std::string> values;
        if (!ExpandList(name, texts, values)) return failed();
        // An add run, or -csvmodnull in an update: an empty field adds no
        // value (a multi-valued column of an export is often empty).
        if (o_.add || o_.csvModNull != 0) {
            const std::size_t before = values.size();
            std::erase(values, std::string());
            if (values.size() != before) Log("LDAP_MOD_ADD - not adding empty value for " + name);
        }
        if (values.empty()) continue;
        if (name == "unicodepwd") {
            Password(texts.front(), values.front());
            continue;
        }
        r_.mods->AddStrings(Op(LDAP_MOD_ADD), name, values);
        for (const auto& v : values)
            Log("MOD: LDAP_MOD_ADD -" + name + " :: " + RedactAttributeValue(name, v));
    }
    for (const auto& [attribute, texts] : c_.deferredDel) {
        std::vector<std::string> values;
        if (!ExpandList(attribute, texts, values)) return failed();
        std::vector<Bytes> bytes;
        std::string bare;
        if (!Encode(attribute, values, bytes, bare)) return failed();
        if (bytes.empty()) continue;
        r_.mods->AddBinary(Op(LDAP_MOD_DELETE), bare, bytes);
        Log("MOD: LDAP_MOD_DELETE | LDAP_MOD_BVALUES -" + bare);
    }
    for (const auto& [name, values] : c_.binDel) {
        r_.mods->AddBinary(Op(LDAP_MOD_DELETE), name, values);
        Log("MOD: LDAP_MOD_DELETE | LDAP_MOD_BVALUES -" + name);
    }
    if (!BinaryReplaces()) return failed();
    for (const auto& [attribute, texts] : c_.deferredAdd) {
        std::vector<std::string> values;
        if (!ExpandList(attribute, texts, values)) return failed();
        const std::size_t before = values.size();
        std::erase(values, std::string());
        if (values.size() != before)
            Log("LDAP_MOD_ADD | LDAP_MOD_BVALUES - not adding empty value for " + attribute);
        std::vector<Bytes> bytes;
        std::string bare;
        if (!Encode(attribute, values, bytes, bare)) return failed();
        if (bytes.empty()) continue;
        r_.mods->AddBinary(Op(LDAP_MOD_ADD), bare, bytes);
        Log("MOD: LDAP_MOD_ADD | LDAP_MOD_BVALUES - " + bare);
    }
    for (const auto& [name, values] : c_.binAdd) {
        r_.mods->AddBinary(Op(LDAP_MOD_ADD), name, values);
        Log("MOD: LDAP_MOD_ADD | LDAP_MOD_BVALUES - " + name);
    }
    if (o_.add) {
        bool objectClass = false;
        for (std::size_t i = 0; i < r_.mods->Count(); ++i)
            if (StrToLower(r_.mods->At(i).mod_type) == "objectclass") objectClass = true;
        r_.noObjectClass = !objectClass;
    }
    return std::move(r_);
}

} // namespace

RowMods BuildRowModifications(const ModContainers& containers, const Target& target,
                              std::uint64_t counter, const ValueExpander& expander,
                              const RowOptions& options) {
    return RowBuilder(containers, target, counter, expander, options).Build();
}
