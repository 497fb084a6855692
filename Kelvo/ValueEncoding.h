// Typed attribute values: an encoding prefix ("sid##", "guid##", "hex##", ...)
// on the attribute name says how the text value becomes bytes.
#pragma once

#include "ModList.h"

#include <string>

// Encodes `value` for the prefixed `attribute` (lower case), strips the
// prefix from `attribute`, and fills `out`.  Returns 0 or an error code; an
// unknown prefix ends the program with -1 (reported through EncodeExit).
int EncodeBinaryAttribs(std::string& attribute, const std::string& value, const std::string& caller,
                        Bytes& out);

// Set when the encoder met a fatal condition that ends the run (unknown
// prefix): the exit code to use, else 0.
int& EncodeExit();
