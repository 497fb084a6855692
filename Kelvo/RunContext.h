// What the per-object work reads from the main run.
#pragma once

#include "AttributeActions.h"
#include "DNInput.h"
#include "RunState.h"
#include "SwitchParser.h"

#include <ldap.h>

#include <cstdint>
#include <string>

class CRootDSE;

struct RunContext {
    SwitchParser& parser;
    RunSettings& settings;
    TargetInput& input;
    ModContainers& mods;
    LDAP* ld = nullptr;
    const CRootDSE* root = nullptr;
    std::string serverName; // DNS host name shown in error lines
    bool sessionProtected = false;
};

// The outcome of one object's request.
struct ObjectResult {
    enum class Status { Success, Failed, Skipped, Fatal };
    Status status = Status::Success;
    std::uint32_t code = 0; // LDAP result code (Windows numbering)
    int exitCode = 0;       // Fatal: the process exit code
};
