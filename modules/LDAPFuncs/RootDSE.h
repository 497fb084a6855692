// The server's RootDSE, read once after the bind, and what follows from it:
// naming contexts, host and site, directory type and release, functional
// levels and the controls and capabilities the server offers.
#pragma once

#include <ldap.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct AttributeNameLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// Attribute name (compared without case) -> values in server order.
using AttributeMap = std::map<std::string, std::vector<std::string>, AttributeNameLess>;
using OidSet = std::set<std::string, std::less<>>;

// Capability and control identifiers the record looks at.
inline constexpr std::string_view kCapActiveDirectory = "1.2.840.113556.1.4.800";
inline constexpr std::string_view kCapWin2003 = "1.2.840.113556.1.4.1670";
inline constexpr std::string_view kCapLdapIntegration = "1.2.840.113556.1.4.1791";
inline constexpr std::string_view kCapAdam = "1.2.840.113556.1.4.1851";
inline constexpr std::string_view kCapPartialSecrets = "1.2.840.113556.1.4.1920";
inline constexpr std::string_view kCapWin2008 = "1.2.840.113556.1.4.1935";
inline constexpr std::string_view kCapWin2008R2 = "1.2.840.113556.1.4.2080";
inline constexpr std::string_view kCapWin2012 = "1.2.840.113556.1.4.2237";
inline constexpr std::string_view kCapWin2019 = "1.2.840.113556.1.4.2330";
inline constexpr std::string_view kCtlPagedResults = "1.2.840.113556.1.4.319";

class CRootDSE {
  public:
    CRootDSE() = default;
    // Loads the record when the session is not null.
    explicit CRootDSE(LDAP* session);

    // Reads the RootDSE.  Returns 0, or the failed search's code (shown value)
    // after reporting it on standard error; the record then stays not loaded.
    int Load(LDAP* session);
    // Fills the record from RootDSE attributes as a server returned them.
    void LoadFromAttributes(AttributeMap attributes);
    // For a server that names no default naming context (OpenLDAP and most
    // servers other than AD): the base the client configuration names
    // (BASE, LDAPBASE) serves as one.  False, and nothing changed, when the
    // server named one or `base` is empty.
    bool UseConfiguredDefaultNC(const std::string& base);

    bool IsLoaded() const { return loaded_; }
    int LastError() const { return lastError_; }

    // --- Raw attributes ---------------------------------------------------
    const AttributeMap& Attributes() const { return attributes_; }
    // Values of one attribute (empty when absent) and its first value.
    const std::vector<std::string>& Values(std::string_view name) const;
    const std::string& FirstValue(std::string_view name) const;

    // --- Naming contexts ----------------------------------------------------
    const std::string& SchemaNC() const { return schemaNC_; }
    const std::string& ConfigNC() const { return configNC_; }
    const std::string& DefaultNC() const { return defaultNC_; }
    const std::string& RootDomainNC() const { return rootDomainNC_; }
    const std::vector<std::string>& NamingContexts() const { return namingContexts_; }
    std::size_t NamingContextCount() const { return namingContexts_.size(); }

    // --- Server -------------------------------------------------------------
    const std::string& DnsHostName() const { return dnsHostName_; }
    const std::string& DsServiceName() const { return dsServiceName_; }
    const std::string& HighestCommittedUSN() const { return highestCommittedUsn_; }
    const std::string& LdapServiceName() const { return ldapServiceName_; }
    const std::string& ServerName() const { return serverName_; }
    const std::string& DsaVersion() const { return dsaVersion_; }
    const std::string& PrincipalName() const { return principalName_; }
    const std::string& StructuralObjectClass() const { return structuralObjectClass_; }
    const std::string& VendorName() const { return vendorName_; }
    const std::string& VendorVersion() const { return vendorVersion_; }
    const std::string& CurrentTime() const { return currentTime_; }
    const std::string& SiteName() const { return siteName_; }
    const std::string& InstanceName() const { return instanceName_; }
    const std::string& ConfigId() const { return configId_; }
    const std::string& LdapPort() const { return ldapPort_; }
    const std::string& SslPort() const { return sslPort_; }
    const std::string& LdapUrl() const { return ldapUrl_; }
    const std::string& LdapsUrl() const { return ldapsUrl_; }

    // --- Type, release and levels -------------------------------------------
    const std::string& ServerType() const { return serverType_; }
    const std::string& DomainMode() const { return domainMode_; }
    const std::string& ForestMode() const { return forestMode_; }
    const std::string& DCMode() const { return dcMode_; }
    int DomainFunctionality() const { return domainFunctionality_; }
    int ForestFunctionality() const { return forestFunctionality_; }
    int DCFunctionality() const { return dcFunctionality_; }

    bool IsWindowsLDAP() const { return windowsLdap_; }
    bool IsOpenLDAP() const { return openLdap_; }
    bool IsADLDS() const { return adlds_; }
    bool IsGCReady() const { return gcReady_; }
    bool IsRODC() const { return rodc_; }
    bool IsWin2000() const { return win2000_; }
    bool IsWin2003() const { return win2003_; }
    bool IsWin2008() const { return win2008_; }
    bool IsWin2008R2() const { return win2008R2_; }
    bool IsWin2012() const { return win2012_; }
    bool IsWin2012R2() const { return win2012R2_; }
    bool IsWin2016() const { return win2016_; }
    bool IsWin2019() const { return win2019_; }
    bool IsWin2022() const { return win2022_; }
    bool SupportsPagedResults() const { return pagedResults_; }

    const OidSet& Capabilities() const { return capabilities_; }
    const OidSet& Controls() const { return controls_; }
    bool HasCapability(std::string_view oid) const;
    bool HasControl(std::string_view oid) const;

  private:
    void DetectServerType();

    AttributeMap attributes_;
    bool loaded_ = false;
    int lastError_ = 0;

    std::string schemaNC_, configNC_, defaultNC_, rootDomainNC_;
    std::string dnsHostName_, dsServiceName_, highestCommittedUsn_, ldapServiceName_;
    std::string serverName_, dsaVersion_, principalName_, structuralObjectClass_;
    std::string vendorName_, vendorVersion_, instanceName_, configId_;
    std::string serverType_, domainMode_, forestMode_, dcMode_, siteName_, currentTime_;
    std::string ldapPort_, sslPort_, ldapUrl_, ldapsUrl_;
    std::vector<std::string> namingContexts_;
    OidSet capabilities_;
    OidSet controls_;
    int domainFunctionality_ = 0, forestFunctionality_ = 0, dcFunctionality_ = 0;
    bool windowsLdap_ = false, openLdap_ = false, win2000_ = false, win2003_ = false;
    bool win2008_ = false, win2008R2_ = false, win2012_ = false, win2012R2_ = false;
    bool win2016_ = false, win2019_ = false, win2022_ = false, adlds_ = false;
    bool gcReady_ = false, rodc_ = false, pagedResults_ = false;
};
