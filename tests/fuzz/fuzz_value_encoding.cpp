// Typed attribute values: EncodeBinaryAttribs for every encoding prefix.
// "importfile##" reads the file its value names, so it is never fuzzed;
// "sd##" values are built by descriptor services that have no directory.
//
// Input: one option byte, then the value.
//   bits 0-4: the prefix (the table below; past its end, the attribute is
//             the text before the first ':' of the value and the value the
//             rest), bit 5: -sdwhatif for descriptors, bit 6 -d, bit 7 -d2
#include "Descriptors.h"
#include "FuzzSupport.h"
#include "ValueEncoding.h"
#include "pellixstrings.h"

#include <iterator>

namespace {

constexpr std::string_view kAttributes[] = {
    "sid##objectsid",           "guid##objectguid",    "bin##jpegphoto",
    "base64##usercert",         "hex##unicodepwd",     "txt##userpassword",
    "sd##ntsecuritydescriptor", "utc##accountexpires", "local##accountexpires",
    "current##lockouttime",     "utcgt##whenchanged",  "localgt##whenchanged",
    "currentgt##whenchanged",   "delta##maxpwdage",    "foo##description",
    "sid##sidhistory",          "guid##schemaidguid",  "txt##description",
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::Silence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Silence();
    const fuzz::Options o(fuzz::Text(data, size));
    diag::Get().debug = o.Has(6) || o.Has(7);
    diag::Get().trace = o.Has(7);
    const std::size_t pick = o.bits & 0x1f;
    std::string attribute;
    std::string value;
    if (pick < std::size(kAttributes)) {
        attribute = kAttributes[pick];
        value = o.rest;
    } else {
        const std::size_t colon = o.rest.find(':');
        attribute = StrToLower(o.rest.substr(0, colon));
        value =
            colon == std::string_view::npos ? std::string() : std::string(o.rest.substr(colon + 1));
    }
    if (attribute.find("importfile##") != std::string::npos) return 0;

    DescriptorSettings sdSettings;
    sdSettings.whatIf = o.Has(5);
    DescriptorServices services(nullptr, nullptr, nullptr, sdSettings);
    const DescriptorEncoder encoder = [&](const std::string& a, const std::string& v, Bytes& out) {
        std::uint32_t parts = 0;
        return services.Encode(a, v, "", out, parts);
    };
    const std::string original = attribute;
    Bytes bytes;
    const EncodeStatus st = EncodeBinaryAttribs(attribute, value, "fuzz", bytes, encoder);
    if (st.code != 0) return 0;
    fuzz::Check(!st.endsRun, "an encoding that ends the run reported success");
    fuzz::Check(attribute.size() < original.size(), "a successful encoding kept its prefix");
    if (original.starts_with("guid##"))
        fuzz::Check(bytes.size() == 16, "a GUID value is not 16 bytes");
    if (original.starts_with("sid##"))
        fuzz::Check(bytes.size() >= 8 && (bytes.size() - 8) % 4 == 0 &&
                        bytes.size() == 8 + 4 * std::size_t{bytes[1]},
                    "a SID value does not have its sub-authorities' length");
    return 0;
}
