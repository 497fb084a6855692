#include "RootDSE.h"

#include "Diag.h"
#include "ErrorReport.h"
#include "LdapPtr.h"
#include "pellixstrings.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <utility>

namespace {

constexpr std::string_view kDomainModes[] = {
    "Windows 2000 Domain Mode",           "Windows Server 2003 Interim Domain Mode",
    "Windows Server 2003 Domain Mode",    "Windows Server 2008 Domain Mode",
    "Windows Server 2008 R2 Domain Mode", "Windows Server 2012 Domain Mode",
    "Windows Server 2012 R2 Domain Mode", "Windows Server 2016 Domain Mode",
    "Windows Server v.Next Domain Mode",
};
constexpr std::string_view kForestModes[] = {
    "Windows 2000 Forest Mode",           "Windows Server 2003 Interim Forest Mode",
    "Windows Server 2003 Forest Mode",    "Windows Server 2008 Forest Mode",
    "Windows Server 2008 R2 Forest Mode", "Windows Server 2012 Forest Mode",
    "Windows Server 2012 R2 Forest Mode", "Windows Server 2016 Forest Mode",
    "Windows Server v.Next Forest Mode",
};
constexpr std::string_view kDCModes[] = {
    "Windows 2000 Functional Mode",
    "Windows Server 2003 Interim Functional Mode",
    "Windows Server 2003 Functional Mode",
    "Windows Windows Server 2008 Functional Mode",
    "Windows Windows Server 2008 R2 Functional Mode",
    "Windows Server 2012 Functional Mode",
    "Windows Server 2012 R2 Functional Mode",
    "Windows Server 2016 Functional Mode",
    "Windows Server v.Next Functional Mode",
};

// Levels 0 to 7 have their own text; anything else takes the last entry.
template <std::size_t N> std::string ModeText(const std::string_view (&table)[N], int level) {
    const std::size_t index = level >= 0 && static_cast<std::size_t>(level) < N - 1
                                  ? static_cast<std::size_t>(level)
                                  : N - 1;
    return std::string(table[index]);
}

// The attributes asked for besides all user and operational ones: servers
// that do not return them for "*" and "+" still return them by name.
const char* const kRootDSEAttributes[] = {"*",
                                          "+",
                                          "supportedControl",
                                          "dsaVersionString",
                                          "msDS-PrincipalName",
                                          "msDS-PortLDAP",
                                          "msDS-PortSSL",
                                          nullptr};

// Build number of a "major.minor.build..." version text.
void ParseVersion(const std::string& text, long& major, long& build) {
    const char* p = text.c_str();
    char* end = nullptr;
    major = std::strtol(p, &end, 10);
    long minor = 0;
    build = 0;
    if (*end != '.') return;
    minor = std::strtol(end + 1, &end, 10);
    (void)minor;
    if (*end != '.') return;
    build = std::strtol(end + 1, &end, 10);
}

} // namespace

bool AttributeNameLess::operator()(std::string_view a, std::string_view b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) < lower(y);
    });
}

CRootDSE::CRootDSE(LDAP* session) {
    if (session != nullptr) (void)Load(session);
}

int CRootDSE::Load(LDAP* session) {
    KELVO_TRACE_SCOPE();
    *this = CRootDSE();
    diag::DebugOut("DEBUG: Entering CRootDSE...\n");
    LDAPMessage* raw = nullptr;
    int rc = ldap_search_ext_s(session, "", LDAP_SCOPE_BASE, "(objectClass=*)",
                               const_cast<char**>(kRootDSEAttributes), 0, nullptr, nullptr, nullptr,
                               LDAP_NO_LIMIT, &raw);
    MessagePtr result(raw);
    LDAPMessage* entry = rc == LDAP_SUCCESS ? ldap_first_entry(session, result.get()) : nullptr;
    if (rc == LDAP_SUCCESS && entry == nullptr) rc = LDAP_NO_RESULTS_RETURNED;
    if (rc != LDAP_SUCCESS) {
        ReportSearchFailure(rc);
        lastError_ = ShownLdapCode(rc);
        return lastError_;
    }

    AttributeMap attributes;
    BerElement* rawBer = nullptr;
    char* rawName = ldap_first_attribute(session, entry, &rawBer);
    BerElementPtr ber(rawBer);
    for (; rawName != nullptr; rawName = ldap_next_attribute(session, entry, ber.get())) {
        LdapStringPtr name(rawName);
        auto values = EntryValues(session, entry, name.get());
        auto& list = attributes[name.get()];
        list.insert(list.end(), std::make_move_iterator(values.begin()),
                    std::make_move_iterator(values.end()));
    }
    LoadFromAttributes(std::move(attributes));
    diag::DebugOut("DEBUG: Leaving CRootDSE.\n");
    return 0;
}

const std::vector<std::string>& CRootDSE::Values(std::string_view name) const {
    static const std::vector<std::string> kNone;
    const auto it = attributes_.find(name);
    return it == attributes_.end() ? kNone : it->second;
}

const std::string& CRootDSE::FirstValue(std::string_view name) const {
    static const std::string kNone;
    const auto it = attributes_.find(name);
    return it == attributes_.end() || it->second.empty() ? kNone : it->second.front();
}

bool CRootDSE::HasCapability(std::string_view oid) const {
    return capabilities_.contains(oid);
}
bool CRootDSE::HasControl(std::string_view oid) const {
    return controls_.contains(oid);
}

void CRootDSE::LoadFromAttributes(AttributeMap attributes) {
    KELVO_TRACE_SCOPE();
    attributes_ = std::move(attributes);
    // Single-valued attributes take their first value; absent ones leave the
    // field as it was.
    auto take = [this](std::string_view name, std::string& field) {
        const auto it = attributes_.find(name);
        if (it != attributes_.end() && !it->second.empty()) field = it->second.front();
    };
    take("schemaNamingContext", schemaNC_);
    take("configurationNamingContext", configNC_);
    take("configContext", configNC_);
    take("defaultNamingContext", defaultNC_);
    take("rootDomainNamingContext", rootDomainNC_);
    take("dnsHostName", dnsHostName_);
    take("dsServiceName", dsServiceName_);
    take("highestCommittedUSN", highestCommittedUsn_);
    take("ldapServiceName", ldapServiceName_);
    take("serverName", serverName_);
    take("dsaVersionString", dsaVersion_);
    take("msDS-PrincipalName", principalName_);
    take("structuralObjectClass", structuralObjectClass_);
    take("vendorName", vendorName_);
    take("vendorVersion", vendorVersion_);
    take("currentTime", currentTime_);
    take("msDS-PortLDAP", ldapPort_);
    take("msDS-PortSSL", sslPort_);

    auto number = [this](std::string_view name, int& field) {
        const std::string& text = FirstValue(name);
        if (!text.empty()) field = std::atoi(text.c_str());
    };
    number("domainFunctionality", domainFunctionality_);
    number("forestFunctionality", forestFunctionality_);
    number("domainControllerFunctionality", dcFunctionality_);

    namingContexts_ = Values("namingContexts");
    const auto& capabilities = Values("supportedCapabilities");
    capabilities_.insert(capabilities.begin(), capabilities.end());
    const auto& controls = Values("supportedControl");
    controls_.insert(controls.begin(), controls.end());
    gcReady_ = FirstValue("isGlobalCatalogReady") == "TRUE";

    constexpr std::string_view kServersMarker = "CN=Servers,CN=";
    constexpr std::string_view kSitesMarker = ",CN=Sites,CN=Configuration,";
    if (const auto start = dsServiceName_.find(kServersMarker); start != std::string::npos) {
        const auto from = start + kServersMarker.size();
        if (const auto end = dsServiceName_.find(kSitesMarker, from); end != std::string::npos)
            siteName_ = dsServiceName_.substr(from, end - from);
    }

    DetectServerType();

    if (adlds_) {
        if (defaultNC_.empty() && namingContexts_.size() == 3) {
            for (const auto& nc : namingContexts_) {
                if (IEquals(nc, configNC_) || IEquals(nc, schemaNC_)) continue;
                defaultNC_ = nc;
                rootDomainNC_ = nc;
                break;
            }
        }
        if (const auto dollar = serverName_.find('$'); dollar != std::string::npos) {
            const auto comma = serverName_.find(',', dollar + 1);
            instanceName_ = serverName_.substr(
                dollar + 1, comma == std::string::npos ? std::string::npos : comma - dollar - 1);
        }
        if (const auto eq = serverName_.rfind('='); eq != std::string::npos)
            configId_ = serverName_.substr(eq + 1);
    }

    if (!dnsHostName_.empty()) {
        if (!ldapPort_.empty()) ldapUrl_ = "LDAP://" + dnsHostName_ + ":" + ldapPort_;
        if (!sslPort_.empty()) ldapsUrl_ = "LDAPS://" + dnsHostName_ + ":" + sslPort_;
    }
    loaded_ = true;
}

void CRootDSE::DetectServerType() {
    if (HasCapability(kCapLdapIntegration)) {
        windowsLdap_ = true;
        rodc_ = HasCapability(kCapPartialSecrets);
        win2000_ = HasCapability(kCapActiveDirectory);
        win2003_ = HasCapability(kCapWin2003);
        adlds_ = HasCapability(kCapAdam);
        win2008_ = HasCapability(kCapWin2008);
        win2008R2_ = HasCapability(kCapWin2008R2);
        win2012_ = HasCapability(kCapWin2012);
        if (adlds_) domainFunctionality_ = forestFunctionality_;
        if (win2012_) {
            if (dcFunctionality_ >= 6) win2012R2_ = true;
            if (dcFunctionality_ >= 7) win2016_ = true;
        }
        if (HasCapability(kCapWin2019)) {
            win2019_ = true;
            long major = 0, build = 0;
            ParseVersion(dsaVersion_, major, build);
            win2022_ = major > 9 && build > 20333;
        }
    } else if (structuralObjectClass_ == "OpenLDAProotDSE") {
        openLdap_ = true;
    }
    pagedResults_ = HasControl(kCtlPagedResults);

    if (windowsLdap_) {
        serverType_ = "Unknown Windows LDAP";
    } else {
        serverType_ = vendorName_;
        if (!vendorVersion_.empty()) serverType_ += " - " + vendorVersion_;
        if (serverType_.empty()) serverType_ = openLdap_ ? "OpenLDAP" : "Unknown Non-Windows LDAP";
    }
    if (win2000_) serverType_ = "Windows 2000";
    if (adlds_) serverType_ = "Active Directory Application Mode";
    if (!win2003_) return;
    serverType_ =
        adlds_ ? "Windows Server 2003 Active Directory Application Mode" : "Windows Server 2003";

    const std::string lds = adlds_ ? " ADLDS" : "";
    if (win2008_) serverType_ = "Windows Server 2008" + lds;
    if (win2008R2_) serverType_ = "Windows Server 2008 R2" + lds;
    if (win2012_) serverType_ = "Windows Server 2012" + lds;
    if (win2012R2_) serverType_ = "Windows Server 2012 R2" + lds;
    if (win2016_) serverType_ = "Windows Server 2016" + lds;
    if (win2019_) {
        serverType_ = (win2022_ ? "Windows Server 2022" : "Windows Server 2019") + lds;
        const std::string version = dsaVersion_.substr(0, dsaVersion_.find(' '));
        if (!version.empty()) serverType_ += " (" + version + ")";
    }

    domainMode_ = ModeText(kDomainModes, domainFunctionality_);
    forestMode_ = ModeText(kForestModes, forestFunctionality_);
    dcMode_ = ModeText(kDCModes, dcFunctionality_);
}

bool CRootDSE::UseConfiguredDefaultNC(const std::string& base) {
    if (!defaultNC_.empty() || base.empty()) return false;
    defaultNC_ = base;
    return true;
}
