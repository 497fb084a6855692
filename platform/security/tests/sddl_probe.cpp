// Line-oriented front end to the SDDL conversions, for the differential test
// against another implementation.  Argument: the domain SID.  Each input line
// is "T <sddl>" or "B <hex bytes>"; each output line answers one input line:
//   T: "OK <hex> <sddl printed from hex> <hex of that sddl>" or "ERR <code> <offset>"
//   B: "OK <sddl>" or "ERR <code> <offset>"
#include "Sddl.h"
#include "TestHex.h"

#include <cstdio>
#include <iostream>
#include <string>

using namespace platform::security;

namespace {

bool FromHex(std::string_view hex, std::vector<std::uint8_t>& bytes) {
    if (hex.size() % 2) return false;
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        if (std::sscanf(std::string(hex.substr(i, 2)).c_str(), "%2x", &v) != 1) return false;
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return true;
}

std::string Error(SecurityStatus st) {
    return "ERR " + std::to_string(st.code) + " " + std::to_string(st.offset);
}

std::string FromText(std::string_view text, const SddlDomain& domain) {
    std::vector<std::uint8_t> bytes, again;
    std::string printed;
    if (auto st = ConvertStringSecurityDescriptorToSecurityDescriptor(text, kSddlRevision1, domain,
                                                                      bytes);
        !st.ok())
        return Error(st);
    if (auto st = ConvertSecurityDescriptorToStringSecurityDescriptor(
            bytes, kSddlRevision1, kAllSecurityInformation, domain, printed);
        !st.ok())
        return "PRINT" + Error(st);
    if (auto st = ConvertStringSecurityDescriptorToSecurityDescriptor(printed, kSddlRevision1,
                                                                      domain, again);
        !st.ok())
        return "REPARSE" + Error(st);
    return "OK " + security_test::Hex(bytes) + " " + printed + " " + security_test::Hex(again);
}

std::string FromBinary(std::string_view hex, const SddlDomain& domain) {
    std::vector<std::uint8_t> bytes;
    if (!FromHex(hex, bytes)) return "ERR hex 0";
    std::string printed;
    if (auto st = ConvertSecurityDescriptorToStringSecurityDescriptor(
            bytes, kSddlRevision1, kAllSecurityInformation, domain, printed);
        !st.ok())
        return Error(st);
    return "OK " + printed;
}

} // namespace

int main(int argc, char** argv) {
    SddlDomain domain;
    if (argc != 2 || !MakeSddlDomain(argv[1], "", domain).ok()) {
        std::cerr << "usage: sddl_probe <domain SID>\n";
        return 2;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::string_view rest = line.size() > 2 ? std::string_view(line).substr(2) : "";
        if (line.starts_with("T "))
            std::cout << FromText(rest, domain) << '\n';
        else if (line.starts_with("B "))
            std::cout << FromBinary(rest, domain) << '\n';
        else
            std::cout << "ERR input 0\n";
    }
    return 0;
}
