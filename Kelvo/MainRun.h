// The program from start to exit: switches and layers, help, settings, the
// operation kind, targets, attribute actions, limits, the session, the
// per-object loop and the summary line.  Returns the process exit code.
#pragma once

#include <string>
#include <vector>

// `args` is taken over: the values of password switches in it are wiped once
// the switches are parsed.
int MainRun(std::vector<std::string> args, const std::vector<std::string>& environment);
