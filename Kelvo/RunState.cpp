#include "RunState.h"

GlobalFlags& Globals() {
    static GlobalFlags flags;
    return flags;
}

std::string OpName(std::uint32_t op) {
    switch (op) {
    case KELVO_NOOP:
        return "KELVO_NOOP";
    case KELVO_UPDATE:
        return "KELVO_UPDATE";
    case KELVO_DELETE:
        return "KELVO_DELETE";
    case KELVO_RENAME:
        return "KELVO_RENAME";
    case KELVO_MOVE:
        return "KELVO_MOVE";
    case KELVO_UNDEL:
        return "KELVO_UNDEL";
    case KELVO_ADD:
        return "KELVO_ADD";
    default:
        return "UNKNOWN - " + std::to_string(op);
    }
}
