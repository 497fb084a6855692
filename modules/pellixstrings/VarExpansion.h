// {{...}} variable expansion.
#pragma once

#include <map>
#include <string>

// Process-wide expansion variables (ROOT, CONFIG, DEFAULT, ORIGNAME, ...).
std::map<std::string, std::string>& ExpansionVariables();

// Expands the {{...}} expressions of `text` into `out`.  Returns false when
// an expression cannot be expanded; `out` is then unusable.
bool VarExpansionSingle(const std::string& text, std::string& out);
