// What the object actions prepare before the objects are touched (dynamic
// objects, -hackon) and the DN texts their requests are made of.
#pragma once

#include "Failure.h"
#include "RunState.h"
#include "SwitchParser.h"

#include <ldap.h>

#include <string>

// -tmpobj / -dynamic: rewrites objectclass and adds "entryttl::<seconds>".
// Fails when the switch is refused.
[[nodiscard]] Step PrepareDynamic(SwitchParser& parser, RunSettings& settings);

// Rewrites the -rnpb value (aliases and placeholders).
std::string RewriteRnpb(const std::string& value);
// Replaces the placeholders of a new-parent base for one object.
std::string ResolveRnpb(const std::string& base, const std::string& dn, const std::string& rootNC);

// A -rename value with its attribute type: as given when it already has one
// ("cn=new"), else the current RDN's type in front ("new" -> "CN=new").
std::string RenameRDN(const std::string& currentDN, const std::string& newName);
// The DN without its first component (the object's parent).
std::string ParentOf(const std::string& dn);
// The first component of a DN with its type ("CN=x"); empty on failure.
std::string FirstRDN(const std::string& dn);
// An undeleted object's RDN: the first component cut before "\0ADEL:".
std::string CutMangledRDN(const std::string& rdn);

// Sets schemaUpgradeInProgress on the RootDSE.  Fails, with the error to
// show, when the server refuses.
[[nodiscard]] Step Hackon(LDAP* session, const std::string& serverName);
