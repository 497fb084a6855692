// The program from start to exit: switches and layers, help, settings, the
// operation kind, targets, attribute actions, limits, the session, the
// per-object loop and the summary line.  Returns the process exit code.
#pragma once

#include <string>
#include <vector>

int MainRun(const std::vector<std::string>& args, const std::vector<std::string>& environment);
