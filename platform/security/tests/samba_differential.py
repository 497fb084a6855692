#!/usr/bin/python3
"""Differential test of our SDDL conversions against Samba's.

For every SDDL line of the corpus:
  * both implementations accept it or both reject it;
  * our self-relative bytes equal Samba's (ndr_pack), apart from the ACL
    revision, see below;
  * our bytes printed as SDDL and read again give the same bytes;
  * Samba reads the SDDL we print to the same descriptor;
  * we decode Samba's bytes and print the same SDDL as from our own.

Lines listed in PUBLISHED_FORMAT are where Samba departs from MS-DTYP; for
those only our own round trip is checked here (the unit tests pin the bytes).

ACL revision: MS-DTYP 2.4.5 gives ACL_REVISION (2) to ACLs without object
ACEs and ACL_REVISION_DS (4) to ACLs with them; Samba writes 4 always.  A
revision byte of 2 against Samba's 4 on an ACL without object ACEs is the one
byte difference accepted.

Usage: samba_differential.py <sddl_probe> <corpus>
"""
import subprocess
import sys

DOMAIN_SID = "S-1-5-21-2848215498-2472035911-1947525656"

PUBLISHED_FORMAT = {
    "O:BAG:BAD: (A;;RPWPCRCCDCLCLORCWOWDSDDTSW;;;DA)(A;;RPLCLORC;;;AU)":
        "white space between parts and ACEs, as in the published schema value; Samba rejects it",
    "D:(A;;FA;;;BA)(A;;FR;;;BA)(A;;FW;;;BA)(A;;FX;;;BA)":
        "FA is FILE_ALL_ACCESS 0x1F01FF; Samba reads it as 0x1FF",
    "D:(A;;KA;;;BA)(A;;KR;;;BA)(A;;KW;;;BA)(A;;KX;;;BA)": "Samba lacks the registry rights",
    "D:(A;;123;;;BA)(A;;0X10;;;BA)(A;;017;;;BA)":
        "decimal, upper-case hex and octal masks; Samba reads them as 0",
    "S:(ML;;NW;;;LW)(ML;;NWNRNX;;;HI)": "Samba lacks mandatory label ACEs",
    "D:NO_ACCESS_CONTROL": "Samba lacks the null DACL",
    "d:pai(a;ciio;ga;;;co)": "ABNF literals are case-insensitive; Samba rejects lower case",
    "D:(A;;GA;;;s-1-5-32-544)": "ABNF literals are case-insensitive; Samba rejects lower case",
    "D:(A;CR;GA;;;BA)(A;TP;GA;;;BA)": "Samba lacks the CR and TP ACE flags",
    "D:(A;;GA;;;S-1-0x1000000000-5)": "Samba drops a hex identifier authority",
    "D:(A;;GA;1131f6aa-9c07-11d1-f79f-00c04fc2dcd2;;BA)":
        "a GUID on a non-object ACE; Samba drops it, we reject it",
    "D:(A;;GA;;;AP)(A;;GA;;;KA)(A;;GA;;;EK)(A;;GA;;;CN)":
        "aliases newer than the Samba table in use may print as SIDs there",
    "O:DAG:DUD:PARAIS:PARAI": "ACL flags without ACEs before the next part; Samba rejects them",
    "D:PS:AR": "ACL flags without ACEs before the next part; Samba rejects them",
    "D:(A;;GA;;;BA;x)": "a seventh field on an ACE without resource attributes; Samba ignores it",
}


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


try:
    from samba.dcerpc import security
    from samba.ndr import ndr_pack, ndr_unpack
except ImportError as e:  # a missing reference is a failure, never a skip
    fail("python3-samba is required for this test (%s)" % e)


def read_corpus(path):
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n") for line in f if line.strip() and not line.startswith("#")]


def run_probe(probe, lines):
    out = subprocess.run([probe, DOMAIN_SID], input="".join(l + "\n" for l in lines),
                         capture_output=True, text=True, check=True).stdout.splitlines()
    if len(out) != len(lines):
        fail("probe answered %d of %d lines" % (len(out), len(lines)))
    return out


def samba_bytes(sddl, domain):
    try:
        return ndr_pack(security.descriptor.from_sddl(sddl, domain))
    except Exception:
        return None


def acl_offsets(sd):
    return [int.from_bytes(sd[at:at + 4], "little") for at in (12, 16)]


def has_object_aces(sd, offset):
    count = int.from_bytes(sd[offset + 4:offset + 6], "little")
    at = offset + 8
    for _ in range(count):
        if 5 <= sd[at] <= 8:
            return True
        at += int.from_bytes(sd[at + 2:at + 4], "little")
    return False


def same_descriptor(ours, theirs):
    """Equal bytes, allowing revision 2 for Samba's 4 on ACLs without object ACEs."""
    if len(ours) != len(theirs):
        return False
    theirs = bytearray(theirs)
    for offset in acl_offsets(ours):
        if offset and ours[offset] == 2 and theirs[offset] == 4 and \
                not has_object_aces(ours, offset):
            theirs[offset] = 2
    return bytes(theirs) == ours


def main():
    probe, corpus = sys.argv[1], sys.argv[2]
    lines = read_corpus(corpus)
    missing = [l for l in PUBLISHED_FORMAT if l not in lines]
    if missing:
        fail("not in the corpus: %s" % missing)
    domain = security.dom_sid(DOMAIN_SID)
    ours = run_probe(probe, ["T " + l for l in lines])
    failures, compared, rejected = [], 0, 0

    samba = {l: samba_bytes(l, domain) for l in lines}
    decoded = run_probe(probe, ["B " + samba[l].hex() for l in lines if samba[l] is not None])
    decoded = dict(zip([l for l in lines if samba[l] is not None], decoded))

    for sddl, answer in zip(lines, ours):
        fields = answer.split(" ")
        if fields[0] == "OK":
            mine, printed, again = bytes.fromhex(fields[1]), fields[2], bytes.fromhex(fields[3])
            if mine != again:
                failures.append("%s: round trip through %s changed the bytes" % (sddl, printed))
        elif fields[0] != "ERR":
            failures.append("%s: %s" % (sddl, answer))
            continue
        if sddl in PUBLISHED_FORMAT:
            continue
        theirs = samba[sddl]
        if (theirs is None) != (fields[0] == "ERR"):
            failures.append("%s: we say %s, Samba %s" %
                            (sddl, answer, "rejects it" if theirs is None else "accepts it"))
            continue
        if theirs is None:
            rejected += 1
            continue
        if not same_descriptor(mine, theirs):
            failures.append("%s:\n  ours  %s\n  Samba %s" % (sddl, mine.hex(), theirs.hex()))
            continue
        reread = samba_bytes(printed, domain)
        if reread is None or not same_descriptor(mine, reread):
            failures.append("%s: Samba reads our %s differently" % (sddl, printed))
            continue
        if decoded[sddl] != "OK " + printed:
            failures.append("%s: Samba's bytes print as %s, ours as %s" %
                            (sddl, decoded[sddl], printed))
            continue
        compared += 1

    print("%d descriptors identical to Samba's, %d rejected by both, %d where the published "
          "format wins, %d lines" % (compared, rejected, len(PUBLISHED_FORMAT), len(lines)))
    if failures:
        fail("\n".join(failures))


if __name__ == "__main__":
    main()
