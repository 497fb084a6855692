// Starting descriptors named by source tokens at the front of a value:
//   {GETSD}[=dn], {GETPSD}[=dn], {GETISD}[=dn]  descriptor of an object
//   {GETDSD}[=class], {GETPDSD}[=class]         default descriptor of a class
//   {GETTSD}[=name]                            descriptor of a template object
#include "CSDDL.h"
#include "Diag.h"
#include "SddlInternal.h"
#include "pellixstrings.h"

#include <functional>

namespace pxsddl::detail {

namespace {

void Debug(std::string_view text) {
    if (!diag::Debug()) return;
    std::string line(text);
    line += '\n';
    diag::DebugOut(line);
}

// Only text that names a descriptor part counts as a starting descriptor;
// error texts and empty reads give "".
std::string Accept(std::string sddl) {
    Debug("DEBUG: sddl=" + sddl);
    if (IStartsWith(sddl, "ERROR:")) return {};
    for (const std::string_view marker : {"O:", "G:", "D:", "S:"})
        if (sddl.find(marker) != std::string::npos) return sddl;
    return {};
}

// Cached read: the first read under a key is kept, hit or miss.
std::string Cached(std::map<std::string, std::string>& cache, const std::string& key,
                   const std::function<std::string()>& read) {
    if (const auto it = cache.find(key); it != cache.end()) {
        Debug("DEBUG: SD cache hit for :" + key);
        return it->second;
    }
    std::string sddl = Accept(read());
    Debug("DEBUG: Storing cacheentry [" + key + "]");
    cache.emplace(key, sddl);
    return sddl;
}

void ExpandDnAliases(std::string& dn, const NamingContexts& nc) {
    ReplaceAll(dn, "{{*CONFIGNC*}}", nc.configuration);
    ReplaceAll(dn, "{{*DEFAULTNC*}}", nc.defaultNC);
    ReplaceAll(dn, "{{*ROOTNC*}}", nc.rootDomain);
    ReplaceAll(dn, "{{*SYSTEM*}}", "CN=System," + nc.defaultNC);
    ReplaceAll(dn, "{{*ADMINSDHOLDER*}}", "CN=AdminSDHolder,CN=System," + nc.defaultNC);
}

SourceOutcome ObjectDescriptor(std::string& value, const SddlContext& ctx,
                               std::string_view attrName,
                               std::map<std::string, std::string>& cache) {
    SourceOutcome outcome{true};
    const std::size_t close = value.find('}');
    const std::string op = value.substr(0, close + 1);
    const std::size_t equal = value.find('=', close);
    if (equal != close + 1) {
        value.clear();
        if (!ctx.objectDn.empty() && ctx.sources != nullptr) {
            Debug("DEBUG: No DN specified for {GET*SD}, using " + ctx.objectDn);
            value = Accept(ctx.sources->GetSD(ctx.objectDn, ctx.parts, attrName));
        } else if (!ctx.objectDn.empty()) {
            Debug("DEBUG: No DN specified for {GET*SD}, using " + ctx.objectDn);
        } else {
            Debug("DEBUG: No DN specified for {GET*SD} and no object to read from");
        }
    } else {
        std::string dn = value.substr(equal + 1);
        ExpandDnAliases(dn, ctx.nc);
        value = Cached(cache, StrToLower(dn), [&] {
            return ctx.sources ? ctx.sources->GetSD(dn, ctx.parts, attrName) : std::string();
        });
    }
    if (!value.empty() && op != "{GETSD}") {
        outcome.makeProtected = op == "{GETPSD}";
        outcome.makeInherited = op == "{GETISD}";
    }
    return outcome;
}

SourceOutcome DefaultDescriptor(std::string& value, const SddlContext& ctx,
                                std::map<std::string, std::string>& cache) {
    const bool makeProtected = !value.starts_with("{GETDSD}");
    const std::string& schemaNC = ctx.nc.schema;
    std::string className;
    if (const std::size_t equal = value.find('='); equal != std::string::npos) {
        className = value.substr(equal + 1);
    } else if (!ctx.objectDn.empty()) {
        Debug("DEBUG: No objectclass specified for {GETDSD}|{GETPDSD}, attempting to "
              "self-determine... (" +
              ctx.objectDn + ")");
        if (ctx.sources != nullptr) className = ctx.sources->GetObjectClass(ctx.objectDn);
    }
    value.clear();
    if (className.empty()) {
        Debug("DEBUG: No objectclass for {GETDSD}|{GETPDSD}");
        return SourceOutcome{true};
    }
    value = Cached(cache, StrToLower(schemaNC + "!" + className), [&] {
        if (ctx.sources == nullptr) return std::string();
        std::string sddl = ctx.sources->GetDefaultSD(schemaNC, className);
        ReplaceAll(sddl, "D:(", makeProtected ? "D:PAI(" : "D:AI(");
        ReplaceAll(sddl, "S:(", makeProtected ? "S:PAI(" : "S:AI(");
        return sddl;
    });
    return SourceOutcome{true};
}

SourceOutcome TemplateDescriptor(std::string& value, const SddlContext& ctx,
                                 std::map<std::string, std::string>& cache) {
    std::string domainDn = ctx.nc.defaultNC;
    if (!ctx.objectDn.empty()) {
        const std::size_t dc = StrToUpper(ctx.objectDn).find("DC=");
        if (dc != std::string::npos) domainDn = ctx.objectDn.substr(dc);
    }
    auto read = [&](std::string_view base, const std::string& name) {
        return [&ctx, base, name] {
            if (ctx.sources == nullptr) return std::string();
            return ctx.sources->GetTemplateSD(base, "subtree", name, ctx.parts);
        };
    };

    const std::size_t equal = value.find('=');
    if (equal != 8) {
        Debug("DEBUG: No template object specified, looking for pellix default objects...");
        value.clear();
        std::string className;
        if (!ctx.objectDn.empty() && ctx.sources != nullptr)
            className = ctx.sources->GetObjectClass(ctx.objectDn);
        if (!className.empty()) {
            const std::string name = "pellix-default-" + className;
            Debug("DEBUG: Looking for pellix default object =" + name + " in " + domainDn);
            value = Cached(cache, StrToLower(domainDn + "*" + name), read(domainDn, name));
        }
        if (value.empty()) {
            const std::string name = "pellix-default";
            Debug("DEBUG: Looking for pellix default object =" + name + " in " + domainDn);
            value = Cached(cache, StrToLower(domainDn + "*" + name), read(domainDn, name));
        }
    } else {
        const std::string name = value.substr(9);
        value = Cached(cache, StrToLower(domainDn + "!" + name), read(ctx.nc.defaultNC, name));
    }
    return SourceOutcome{true};
}

} // namespace

SourceOutcome ApplySourceToken(std::string& value, const SddlContext& ctx,
                               std::string_view attrName,
                               std::map<std::string, std::string>& cache) {
    KELVO_TRACE_SCOPE();
    if (value.starts_with("{GETSD}") || value.starts_with("{GETPSD}") ||
        value.starts_with("{GETISD}"))
        return ObjectDescriptor(value, ctx, attrName, cache);
    if (value.starts_with("{GETDSD}") || value.starts_with("{GETPDSD}"))
        return DefaultDescriptor(value, ctx, cache);
    if (value.starts_with("{GETTSD}")) return TemplateDescriptor(value, ctx, cache);
    return {};
}

} // namespace pxsddl::detail
