// Self-relative security descriptor bytes: DecodeSecurityDescriptor.  What
// decodes encodes again, decodes to the same descriptor and encodes to the
// same bytes; its SDDL text parses, and the text of what it parses to is
// the same text.
//
// Input: the bytes.
#include "FuzzSupport.h"
#include "Sddl.h"

namespace sec = platform::security;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const sec::SddlDomain domain = [] {
        sec::SddlDomain d;
        fuzz::Check(sec::MakeSddlDomain("S-1-5-21-1-2-3", "S-1-5-21-7-8-9", d).ok(),
                    "the test domain does not parse");
        return d;
    }();
    const std::span<const std::uint8_t> bytes(data, size);
    sec::SecurityDescriptor sd;
    const sec::SecurityStatus decoded = sec::DecodeSecurityDescriptor(bytes, sd);
    std::string text;
    const sec::SecurityStatus printed = sec::ConvertSecurityDescriptorToStringSecurityDescriptor(
        bytes, sec::kSddlRevision1, sec::kAllSecurityInformation, domain, text);
    fuzz::Check(decoded.ok() == printed.ok(), "decoding and printing disagree");
    if (!decoded.ok()) {
        fuzz::Check(decoded.offset <= size, "a failure offset is past the bytes");
        return 0;
    }

    std::vector<std::uint8_t> encoded;
    fuzz::Check(sec::EncodeSecurityDescriptor(sd, encoded).ok(),
                "a decoded descriptor does not encode");
    sec::SecurityDescriptor again;
    fuzz::Check(sec::DecodeSecurityDescriptor(encoded, again).ok(), "encoded bytes do not decode");
    fuzz::Check(again == sd, "encoded bytes decode to another descriptor");
    std::vector<std::uint8_t> twice;
    fuzz::Check(sec::EncodeSecurityDescriptor(again, twice).ok() && twice == encoded,
                "encoding is not stable");

    fuzz::Check(text == sec::FormatSddl(sd, sec::kAllSecurityInformation, domain),
                "the conversion prints other text");
    sec::SecurityDescriptor parsed;
    fuzz::Check(sec::ParseSddl(text, domain, parsed).ok(), "printed text does not parse");
    fuzz::Check(sec::FormatSddl(parsed, sec::kAllSecurityInformation, domain) == text,
                "printed text parses to a descriptor with other text");
    return 0;
}
