// A failure carried up to the driver as a value: the exit code and the text
// to show, printed once where the run ends.
#pragma once

#include "ExitCodes.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

struct [[nodiscard]] Failure {
    int exitCode = exitcode::kFatal;
    std::string text;   // shown on standard output, as given
    bool pause = false; // wait for Enter (-pause) after showing it
};

// What a step of the run returns: nothing to go on, or the failure that ends
// the run.
using Step = std::optional<Failure>;

// Framed error text: the frame line ("ERROR:" or "ERROR: "), each line as
// "ERROR: <line>", the frame line again.
enum class ErrorFrame { Bare, Spaced };
std::string ErrorBlockText(std::initializer_list<std::string_view> lines,
                           ErrorFrame frame = ErrorFrame::Bare);

// A usage error: `text` followed by the short usage hint, exit code 1.
Failure UsageFailure(std::string text = {});
// The same with an empty line between `text` and the hint.
Failure UsageFailureAfterBlank(std::string text);
// Any other failure.
Failure Fail(int exitCode, std::string text = {}, bool pause = false);
