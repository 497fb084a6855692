"""Every security descriptor a lab domain controller holds, read with
OpenLDAP's ldapsearch: the binary nTSecurityDescriptor of each object in
every naming context (deleted objects too, all four parts) and the
defaultSecurityDescriptor text of each class.

As a program it writes the SDDL lines for the benchmark:

    sddl_dump.py LAB_ENV OUT_FILE      (one SDDL text per line; prints the domain SID)

object descriptors as Samba prints them, default descriptors as stored.
"""
import base64
import subprocess
import sys

import labkit

# SD flags control asking for owner, group, DACL and SACL: BER {i} of 15.
SD_FLAGS_ALL = "!1.2.840.113556.1.4.801=::MAMCAQ8="
SHOW_DELETED = "!1.2.840.113556.1.4.417"


def _ldapsearch(lab, base, scope, flt, attrs, extra=()):
    """(dn, {lower attribute: [bytes]}) of every entry; values stay binary."""
    cmd = (["ldapsearch", "-LLL", "-o", "ldif-wrap=no", "-E", "pr=500/noprompt"]
           + lab._client_args() + list(extra) + ["-b", base, "-s", scope, flt] + list(attrs))
    proc = subprocess.run(cmd, capture_output=True, env=lab._client_env(),
                          timeout=labkit.TIMEOUT * 5)
    if proc.returncode != 0:
        raise AssertionError(f"ldapsearch {base} {flt}: {proc.stderr.decode()}")
    entries, current = [], None
    for line in proc.stdout.splitlines():
        if not line or line.startswith(b"#"):
            continue
        name, _, value = line.partition(b":")
        if value.startswith(b":"):
            value = base64.b64decode(value[1:].strip())
        else:
            value = value.strip()
        name = name.decode().lower()
        if name == "dn":
            current = {}
            entries.append((value.decode("utf-8", "replace"), current))
        elif current is not None:
            current.setdefault(name, []).append(value)
    return entries


def domain_sid(lab):
    """The domain SID as text, from the objectSid of the domain object."""
    entries = _ldapsearch(lab, lab.base, "base", "(objectClass=*)", ["objectSid"])
    raw = entries[0][1]["objectsid"][0]
    count = raw[1]
    authority = int.from_bytes(raw[2:8], "big")
    subs = [int.from_bytes(raw[8 + 4 * i:12 + 4 * i], "little") for i in range(count)]
    return "S-1-%d-" % authority + "-".join(str(s) for s in subs)


def naming_contexts(lab):
    entries = _ldapsearch(lab, "", "base", "(objectClass=*)", ["namingContexts"])
    return [v.decode() for v in entries[0][1]["namingcontexts"]]


def object_descriptors(lab):
    """[(dn, bytes)] of every object's nTSecurityDescriptor."""
    out = []
    for nc in naming_contexts(lab):
        for dn, attrs in _ldapsearch(lab, nc, "sub", "(objectClass=*)", ["nTSecurityDescriptor"],
                                     extra=["-E", SD_FLAGS_ALL, "-E", SHOW_DELETED]):
            for value in attrs.get("ntsecuritydescriptor", []):
                out.append((dn, value))
    return out


def default_descriptors(lab):
    """[(class name, SDDL text)] of every class with a defaultSecurityDescriptor."""
    schema = "CN=Schema,CN=Configuration," + lab.base
    out = []
    for dn, attrs in _ldapsearch(lab, schema, "one", "(objectClass=classSchema)",
                                 ["lDAPDisplayName", "defaultSecurityDescriptor"]):
        for value in attrs.get("defaultsecuritydescriptor", []):
            name = attrs.get("ldapdisplayname", [dn.encode()])[0].decode()
            out.append((name, value.decode("utf-8")))
    return out


def main():
    lab = labkit.Lab(sys.argv[1])
    from samba.dcerpc import security
    from samba.ndr import ndr_unpack
    sid = domain_sid(lab)
    domain = security.dom_sid(sid)
    # Samba rejects the white space between parts some schema values have;
    # both sides of the benchmark get the text without it.
    lines = ["".join(text.split()) for _, text in default_descriptors(lab)]
    lines += [ndr_unpack(security.descriptor, value).as_sddl(domain)
              for _, value in object_descriptors(lab)]
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write("".join(line + "\n" for line in lines))
    print(sid)


if __name__ == "__main__":
    main()
