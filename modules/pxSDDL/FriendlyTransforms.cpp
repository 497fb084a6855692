// Placeholder: the friendly-notation transforms leave their input unchanged.
#include "CSDDL.h"

namespace pxsddl {

void TransformSDDLHeaderToProper(std::string&) {}
void TransformSDDLToProper(std::map<std::string, std::string>&, const SddlContext&,
                           TransformState&) {}
void TransformSDDLACEToProper(std::string&, const SddlContext&, TransformState&) {}
void TransformSDDLACETypeToProper(std::string&) {}
void TransformSDDLACEFlagsToProper(std::string&) {}
void TransformSDDLACERightsToProper(std::string&, bool) {}
void TransformSDDLACEObjInhObjToProper(std::string&, std::string&, const SddlContext&) {}
void TransformSDDLACESecPrinToProper(std::string&, const SddlContext&, TransformState&) {}

} // namespace pxsddl
