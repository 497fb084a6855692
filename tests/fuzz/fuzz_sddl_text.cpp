// SDDL text: ParseSddl and the text-to-bytes conversion.  Whatever parses
// prints as text that parses back to the same descriptor, and converts to
// bytes that decode to it and print as the same text.
//
// Input: one option byte, then the text.
//   bits 0-1: the domains the domain-relative aliases stand in (none, the
//   domain only, domain and forest root, the forest root only)
#include "FuzzSupport.h"
#include "Sddl.h"

#include <array>

namespace sec = platform::security;

namespace {

const sec::SddlDomain& Domain(unsigned which) {
    static const std::array<sec::SddlDomain, 4> domains = [] {
        sec::SddlDomain d[4];
        fuzz::Check(sec::MakeSddlDomain("S-1-5-21-1-2-3", "", d[1]).ok() &&
                        sec::MakeSddlDomain("S-1-5-21-1-2-3", "S-1-5-21-7-8-9", d[2]).ok() &&
                        sec::MakeSddlDomain("", "S-1-5-21-7-8-9", d[3]).ok(),
                    "the test domains do not parse");
        return std::to_array(d);
    }();
    return domains[which & 3];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Options o(fuzz::Text(data, size));
    const sec::SddlDomain& domain = Domain(o.bits);

    sec::SecurityDescriptor sd;
    const sec::SecurityStatus parsed = sec::ParseSddl(o.rest, domain, sd);
    std::vector<std::uint8_t> bytes;
    const sec::SecurityStatus converted = sec::ConvertStringSecurityDescriptorToSecurityDescriptor(
        o.rest, sec::kSddlRevision1, domain, bytes);
    if (!parsed.ok()) {
        fuzz::Check(!converted.ok() && converted.code == parsed.code &&
                        converted.offset == parsed.offset,
                    "conversion and parsing disagree on a bad text");
        fuzz::Check(parsed.offset <= o.rest.size(), "a failure offset is past the text");
        return 0;
    }

    const std::string printed = sec::FormatSddl(sd, sec::kAllSecurityInformation, domain);
    sec::SecurityDescriptor again;
    fuzz::Check(sec::ParseSddl(printed, domain, again).ok(), "printed text does not parse");
    fuzz::Check(again == sd, "printed text parses to another descriptor");
    fuzz::Check(sec::FormatSddl(again, sec::kAllSecurityInformation, domain) == printed,
                "printing is not stable");

    // A SID with more sub-authorities than the binary form holds parses but
    // does not convert.
    if (!converted.ok()) return 0;
    sec::SecurityDescriptor decoded;
    fuzz::Check(sec::DecodeSecurityDescriptor(bytes, decoded).ok(),
                "converted bytes do not decode");
    sec::SecurityDescriptor expected = sd;
    expected.control |= 0x8000; // SE_SELF_RELATIVE
    fuzz::Check(decoded == expected, "converted bytes decode to another descriptor");
    std::string fromBytes;
    fuzz::Check(sec::ConvertSecurityDescriptorToStringSecurityDescriptor(
                    bytes, sec::kSddlRevision1, sec::kAllSecurityInformation, domain, fromBytes)
                        .ok() &&
                    fromBytes == printed,
                "the bytes print as other text");
    return 0;
}
