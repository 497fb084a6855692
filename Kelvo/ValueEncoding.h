// Typed attribute values: an encoding prefix ("sid##", "guid##", "hex##", ...)
// on the attribute name says how the text value becomes bytes.
#pragma once

#include "ModList.h"

#include <functional>
#include <string>

struct [[nodiscard]] EncodeStatus {
    int code = 0; // 0, or the encoder's error code
    // The run ends with -1 after the encoder's own message (an unknown prefix,
    // a kind this build cannot encode), not with the conversion-failure line.
    bool endsRun = false;
};

// Builds the bytes of an "sd##" value (bare attribute name, value); the run
// supplies it with the object being worked on.  Empty bytes with code 0 mean
// that nothing is to be sent (-sdwhatif).
using DescriptorEncoder =
    std::function<EncodeStatus(const std::string& attribute, const std::string& value, Bytes& out)>;

// Encodes `value` for the prefixed `attribute` (lower case), strips the
// prefix from `attribute`, and fills `out`.  "sd##" values need `descriptor`.
EncodeStatus EncodeBinaryAttribs(std::string& attribute, const std::string& value,
                                 const std::string& caller, Bytes& out,
                                 const DescriptorEncoder& descriptor = {});
