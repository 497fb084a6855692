// Kelvo's vocabulary of switches and the configuration layers below the
// command line (environment variables and switch files).
#pragma once

#include "SwitchParser.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The declared switches, in declaration order: X(identifier, declaration).
// A leading ':' marks a switch that never takes a value, '$' one whose value
// is required when present; no marker means an optional value.
#define KELVO_SWITCHES(X)                                                                          \
    X(q, ":q")                                                                                     \
    X(q2, ":q2")                                                                                   \
    X(d, ":d")                                                                                     \
    X(d2, ":d2")                                                                                   \
    X(help, ":help")                                                                               \
    X(qmark, ":?")                                                                                 \
    X(qmark2, ":??")                                                                               \
    X(qmark4, ":????")                                                                             \
    X(sc_help, ":sc?")                                                                             \
    X(csv_help, ":csv?")                                                                           \
    X(sd_help, ":sd?")                                                                             \
    X(gui, "gui")                                                                                  \
    X(elapsed, ":elapsed")                                                                         \
    X(elapsedms, ":elapsedms")                                                                     \
    X(exterr, ":exterr")                                                                           \
    X(rm, ":rm")                                                                                   \
    X(del, ":del")                                                                                 \
    X(treedelete, ":treedelete")                                                                   \
    X(treenuke, ":treenuke")                                                                       \
    X(recycle, ":recycle")                                                                         \
    X(unsafe, ":unsafe")                                                                           \
    X(updatenchead, ":updatenchead")                                                               \
    X(cm, ":cm")                                                                                   \
    X(cont, ":cont")                                                                               \
    X(add, ":add")                                                                                 \
    X(kerbenc, ":kerbenc")                                                                         \
    X(optenc, ":optenc")                                                                           \
    X(permissive, ":permissive")                                                                   \
    X(delegation, ":delegation")                                                                   \
    X(simple, ":simple")                                                                           \
    X(digest, ":digest")                                                                           \
    X(ntlm, ":ntlm")                                                                               \
    X(ssl, ":ssl")                                                                                 \
    X(sslignoresrvcert, ":sslignoresrvcert")                                                       \
    X(starttls, ":starttls")                                                                       \
    X(expand, ":expand")                                                                           \
    X(policyhints, ":policyhints")                                                                 \
    X(verifygc, "$verifygc")                                                                       \
    X(po, ":po")                                                                                   \
    X(import_, ":import")                                                                          \
    X(importus, ":importus")                                                                       \
    X(importpass1, ":importpass1")                                                                 \
    X(importpass2, ":importpass2")                                                                 \
    X(trim, ":trim")                                                                               \
    X(arecex, ":arecex")                                                                           \
    X(extsrvinfo, ":extsrvinfo")                                                                   \
    X(rootdse, ":rootdse")                                                                         \
    X(schema, ":schema")                                                                           \
    X(null, ":null")                                                                               \
    X(root, ":root")                                                                               \
    X(default_, ":default")                                                                        \
    X(config, ":config")                                                                           \
    X(forestdns, ":forestdns")                                                                     \
    X(domaindns, ":domaindns")                                                                     \
    X(legacydns, ":legacydns")                                                                     \
    X(dcs, ":dcs")                                                                                 \
    X(fsps, ":fsps")                                                                               \
    X(gpo, ":gpo")                                                                                 \
    X(psocontainer, ":psocontainer")                                                               \
    X(quotas, ":quotas")                                                                           \
    X(ldappolicy, ":ldappolicy")                                                                   \
    X(xrights, ":xrights")                                                                         \
    X(partitions, ":partitions")                                                                   \
    X(sitelinks, ":sitelinks")                                                                     \
    X(sites, ":sites")                                                                             \
    X(subnets, ":subnets")                                                                         \
    X(exch, ":exch")                                                                               \
    X(users, ":users")                                                                             \
    X(displayspecifiers, ":displayspecifiers")                                                     \
    X(ds, ":ds")                                                                                   \
    X(svcs, ":svcs")                                                                               \
    X(do_, ":do")                                                                                  \
    X(delobjs, ":delobjs")                                                                         \
    X(delobjs_plus, ":delobjs+")                                                                   \
    X(roles, ":roles")                                                                             \
    X(system, ":system")                                                                           \
    X(fgpp, ":fgpp")                                                                               \
    X(csv, ":csv")                                                                                 \
    X(vtsv, ":vtsv")                                                                               \
    X(nr, ":nr")                                                                                   \
    X(pause, ":pause")                                                                             \
    X(appver, ":appver")                                                                           \
    X(progress, "progress")                                                                        \
    X(sdnoowner, ":sdnoowner")                                                                     \
    X(sdnogroup, ":sdnogroup")                                                                     \
    X(sdnodacl, ":sdnodacl")                                                                       \
    X(sdnosacl, ":sdnosacl")                                                                       \
    X(onlydacl, ":onlydacl")                                                                       \
    X(onlysacl, ":onlysacl")                                                                       \
    X(sdna, ":sdna")                                                                               \
    X(sdkeepgeneric, ":sdkeepgeneric")                                                             \
    X(pxsdenc, ":pxsdenc")                                                                         \
    X(h, "h")                                                                                      \
    X(hh, "hh")                                                                                    \
    X(hd, "hd")                                                                                    \
    X(url, "url")                                                                                  \
    X(p, "p")                                                                                      \
    X(b, "b")                                                                                      \
    X(t, "t")                                                                                      \
    X(rename, "rename")                                                                            \
    X(move, "move")                                                                                \
    X(rbmove, "rbmove")                                                                            \
    X(update, ":update")                                                                           \
    X(port, "port")                                                                                \
    X(safety, "safety")                                                                            \
    X(upto, "upto")                                                                                \
    X(delim, "delim")                                                                              \
    X(mvdelim, "mvdelim")                                                                          \
    X(undel, "undel")                                                                              \
    X(xdom, "xdom")                                                                                \
    X(u, "u")                                                                                      \
    X(up, "up")                                                                                    \
    X(rb, "rb")                                                                                    \
    X(rnpb, "rnpb")                                                                                \
    X(csvdelim, "csvdelim")                                                                        \
    X(csvmvdelim, "csvmvdelim")                                                                    \
    X(counterstart, "counterstart")                                                                \
    X(bmod, "bmod")                                                                                \
    X(autobase, "autobase")                                                                        \
    X(e, "e")                                                                                      \
    X(eignore, "eignore")                                                                          \
    X(ef, "ef")                                                                                    \
    X(log, "log")                                                                                  \
    X(append, ":append")                                                                           \
    X(importexclattr, "importexclattr")                                                            \
    X(replacedn, "replacedn")                                                                      \
    X(replacedndelim, "replacedndelim")                                                            \
    X(sc, "sc")                                                                                    \
    X(dotcount, "dotcount")                                                                        \
    X(csvmodnull, "csvmodnull")                                                                    \
    X(dynamic, "dynamic")                                                                          \
    X(tmpobj, "tmpobj")                                                                            \
    X(hackon, "hackon")                                                                            \
    X(sdsimple, ":sdsimple")                                                                       \
    X(sdverbatim, ":sdverbatim")                                                                   \
    X(sdwhatif, ":sdwhatif")                                                                       \
    X(sd, "$sd")                                                                                   \
    X(sdni, "$sdni")                                                                               \
    X(dsd, "dsd")                                                                                  \
    X(stdinadd, "stdinadd")                                                                        \
    X(stdinrm, "stdinrm")                                                                          \
    X(stdinreplace, "stdinreplace")                                                                \
    X(stdinsort, "stdinsort")                                                                      \
    X(stdinsortreverse, "stdinsortreverse")                                                        \
    X(csvfile, "csvfile")                                                                          \
    X(showdel, ":showdel")                                                                         \
    X(showdel_plus, ":showdel+")                                                                   \
    X(showrecycled, ":showrecycled")                                                               \
    X(getsecin, ":getsecin")                                                                       \
    X(chgpwd, "$chgpwd")                                                                           \
    X(changepwd, "$changepwd")                                                                     \
    X(setpwd, "$setpwd")                                                                           \
    X(csvq, "csvq")                                                                                \
    X(encpwd, ":encpwd")

namespace sw {

consteval std::string_view StripMarker(std::string_view decl) {
    return (decl.front() == ':' || decl.front() == '^' || decl.front() == '$') ? decl.substr(1)
                                                                               : decl;
}

// One constant per switch name, e.g. sw::b == "b", sw::sc_help == "sc?".
#define KELVO_SWITCH_NAME(id, decl) inline constexpr std::string_view id = StripMarker(decl);
KELVO_SWITCHES(KELVO_SWITCH_NAME)
#undef KELVO_SWITCH_NAME

} // namespace sw

// The declaration strings handed to the switch parser and Validate.
const std::vector<std::string>& SwitchDeclarations();

// Default environment prefix and switch file (always consulted).
inline constexpr std::string_view kDefaultEnvPrefix = "pellix-default-kelvo-";
inline constexpr std::string_view kDefaultSwitchFile = "pellix_default_kelvo.cf";
// Defaults when -e / -ef are given without a value.
inline constexpr std::string_view kSharedEnvPrefix = "quorv-";
inline constexpr std::string_view kDefaultEfFile = "kelvo.cf";

// Adds switches and attribute actions from environment entries ("NAME=value")
// whose name begins with `prefix` (compared without regard to case).  Switch
// names are lower-cased, values keep their case.  A switch already set is left
// alone.  True when at least one switch was set.
bool ReadEnv(std::string prefix, SwitchParser& parser, const std::vector<std::string>& environment,
             bool debug);

// Adds switches and attribute actions from a switch file.  0 on success or
// when an optional file is missing; otherwise the system error code or -1.
std::int64_t ReadEnvFile(const std::string& fileName, bool debug, SwitchParser& parser,
                         bool required);
