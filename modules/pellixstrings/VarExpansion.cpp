#include "VarExpansion.h"

std::map<std::string, std::string>& ExpansionVariables() {
    static std::map<std::string, std::string> vars;
    return vars;
}

bool VarExpansionSingle(const std::string& text, std::string& out) {
    // The expression language is not built yet: text without expressions
    // passes through, anything with an expression is refused rather than
    // written to the directory literally.
    out = text;
    return text.find("{{") == std::string::npos;
}
