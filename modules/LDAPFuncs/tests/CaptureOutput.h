// Collects what the code under test writes through the diagnostic sink.
#pragma once

#include "Diag.h"

#include <string>
#include <string_view>

class CaptureOutput {
  public:
    explicit CaptureOutput(bool debug = false, bool trace = false) {
        auto& s = diag::Get();
        s.debug = debug;
        s.trace = trace;
        s.out = [this](std::string_view t) { out += t; };
        s.err = [this](std::string_view t) { err += t; };
    }
    ~CaptureOutput() {
        auto& s = diag::Get();
        s.debug = false;
        s.trace = false;
        s.out = nullptr;
        s.err = nullptr;
    }
    CaptureOutput(const CaptureOutput&) = delete;
    CaptureOutput& operator=(const CaptureOutput&) = delete;

    std::string out;
    std::string err;
};
