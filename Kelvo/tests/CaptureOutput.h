// Collects what the code under test writes to standard output and error.
#pragma once

#include "Diag.h"

#include <string>

class CaptureOutput {
  public:
    CaptureOutput() {
        diag::Get().out = [this](std::string_view t) { out.append(t); };
        diag::Get().err = [this](std::string_view t) { err.append(t); };
    }
    ~CaptureOutput() {
        diag::Get().out = nullptr;
        diag::Get().err = nullptr;
        diag::Get().debug = false;
        diag::Get().trace = false;
    }
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    std::string out;
    std::string err;
};
