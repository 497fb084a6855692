#!/usr/bin/python3
"""Writes Kelvo/SchemaGuids.inc, the built-in table of directory schema GUIDs.

Input: the published Active Directory schema as installed by Debian's
samba-ad-provision package under /usr/share/samba/setup:
  ad-schema/AD_DS_Attributes__Windows_Server_2016.ldf  (lDAPDisplayName, schemaIDGUID)
  ad-schema/AD_DS_Classes__Windows_Server_2016.ldf     (lDAPDisplayName, schemaIDGUID)
  extended-rights.ldif                                 (displayName, rightsGuid)

Output: two sorted constexpr arrays of {name, guid} pairs, names lower-cased,
GUIDs as lower-case 8-4-4-4-12 text:
  kSchemaGuidsByName  sorted by name, one entry per name (binary search by name)
  kSchemaGuidsByGuid  sorted by GUID, one entry per GUID (binary search by GUID)
An extended right whose display name equals a schema name replaces it, as the
directory's control access rights do when they are read at run time.  A GUID
that several names share (a validated write or property set has the GUID of its
attribute) is named by the first schema name in order, else the first right.

Usage:
  gen_schema_guids.py [--setup-dir DIR] [-o FILE]   write the table (default: stdout)
  gen_schema_guids.py [--setup-dir DIR] --check FILE
      write the table to a temporary file and fail unless FILE is identical
"""

import argparse
import base64
import difflib
import os
import re
import sys
import tempfile
import uuid

DEFAULT_SETUP_DIR = "/usr/share/samba/setup"
SCHEMA_FILES = (
    "ad-schema/AD_DS_Attributes__Windows_Server_2016.ldf",
    "ad-schema/AD_DS_Classes__Windows_Server_2016.ldf",
)
RIGHTS_FILE = "extended-rights.ldif"
GUID_RE = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
NAME_RE = re.compile(r"^[\x20-\x7e]+$")


class InputError(Exception):
    pass


def read_records(path):
    """Yields each LDIF record as a list of (attribute, value, is_base64)."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as e:
        raise InputError(f"cannot read {path}: {e.strerror}") from e
    # The schema files carry a few non-UTF-8 bytes in descriptions.
    text = raw.decode("latin-1").replace("\r\n", "\n")
    # extended-rights.ldif marks the rights of Windows Server 2012 and later
    # with a "${INC2012}" line prefix; the table is for 2016, so keep them.
    text = re.sub(r"(?m)^\$\{INC2012\}", "", text)
    lines = []
    for line in text.split("\n"):
        if line.startswith(" ") and lines:
            lines[-1] += line[1:]  # folded line
        else:
            lines.append(line)
    record = []
    for line in lines + [""]:
        if line.startswith("#"):
            continue
        if not line.strip():
            if record:
                yield record
            record = []
            continue
        attr, sep, rest = line.partition(":")
        if not sep:
            raise InputError(f"{path}: line without ':': {line[:60]!r}")
        is_b64 = rest.startswith(":")
        if is_b64:
            rest = rest[1:]
        record.append((attr.strip().lower(), rest.strip(), is_b64))


def first_value(record, attr):
    for a, v, b in record:
        if a == attr:
            return v, b
    return None, False


def guid_text(value, is_b64, where):
    if is_b64:
        data = base64.b64decode(value)
        if len(data) != 16:
            raise InputError(f"{where}: GUID is not 16 bytes")
        return str(uuid.UUID(bytes_le=data))
    text = value.strip("{}").lower()
    if not GUID_RE.match(text):
        raise InputError(f"{where}: not a GUID: {value!r}")
    return text


# Names Active Directory on Windows shows for extended rights whose display
# name in the setup files differs; looked up like the others, never printed.
WINDOWS_DISPLAY_NAMES = {
    "reset password": "user force change password",
    "change password": "user change password",
}


def collect(setup_dir):
    """Returns (schema names, extended right names), each a dict name -> GUID."""
    names = {}
    for rel in SCHEMA_FILES:
        path = os.path.join(setup_dir, rel)
        count = 0
        for record in read_records(path):
            name, _ = first_value(record, "ldapdisplayname")
            guid, b64 = first_value(record, "schemaidguid")
            if name is None or guid is None:
                continue
            key = name.lower()
            value = guid_text(guid, b64, f"{rel}: {name}")
            if key in names and names[key] != value:
                raise InputError(f"{rel}: {name} appears twice with different GUIDs")
            names[key] = value
            count += 1
        if count == 0:
            raise InputError(f"{path}: no schema objects found")
    rights = {}
    path = os.path.join(setup_dir, RIGHTS_FILE)
    count = 0
    for record in read_records(path):
        name, _ = first_value(record, "displayname")
        guid, b64 = first_value(record, "rightsguid")
        if name is None or guid is None:
            continue
        rights[name.lower()] = guid_text(guid, b64, f"{RIGHTS_FILE}: {name}")
        count += 1
    if count == 0:
        raise InputError(f"{path}: no extended rights found")
    for alias, name in WINDOWS_DISPLAY_NAMES.items():
        if name not in rights:
            raise InputError(f"{path}: no extended right named {name!r}")
        rights.setdefault(alias, rights[name])
    for key in list(names) + list(rights):
        if not NAME_RE.match(key) or '"' in key or "\\" in key:
            raise InputError(f"name needs escaping in C++: {key!r}")
    return names, rights


def render(schema, rights):
    by_name = sorted({**schema, **rights}.items())
    by_guid = {}
    for name, guid in sorted(schema.items()) + sorted(rights.items()):
        if name not in WINDOWS_DISPLAY_NAMES:
            by_guid.setdefault(guid, name)
    out = [
        "// Generated by scripts/gen_schema_guids.py from the published Active Directory",
        "// schema (Windows Server 2016 attributes and classes) and its extended rights.",
        "// Do not edit: run the script again.",
        "// clang-format off",
        f"// {len(by_name)} names, {len(by_guid)} GUIDs.",
        "",
        "// Sorted by name (lower case), each name once.",
        "constexpr SchemaGuidPair kSchemaGuidsByName[] = {",
    ]
    out += [f'    {{"{n}", "{g}"}},' for n, g in by_name]
    out += [
        "};",
        "",
        "// Sorted by GUID, each GUID once.",
        "constexpr SchemaGuidPair kSchemaGuidsByGuid[] = {",
    ]
    out += [f'    {{"{n}", "{g}"}},' for g, n in sorted(by_guid.items())]
    out += ["};", "// clang-format on", ""]
    return "\n".join(out).encode("ascii")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--setup-dir", default=DEFAULT_SETUP_DIR)
    group = parser.add_mutually_exclusive_group()
    group.add_argument("-o", "--output")
    group.add_argument("--check", metavar="FILE")
    args = parser.parse_args()
    try:
        data = render(*collect(args.setup_dir))
    except InputError as e:
        print(f"gen_schema_guids: {e}", file=sys.stderr)
        return 2
    if args.check:
        with tempfile.TemporaryDirectory() as tmp:
            fresh = os.path.join(tmp, "SchemaGuids.inc")
            with open(fresh, "wb") as f:
                f.write(data)
            with open(fresh, "rb") as f:
                generated = f.read()
        try:
            with open(args.check, "rb") as f:
                saved = f.read()
        except OSError as e:
            print(f"gen_schema_guids: cannot read {args.check}: {e.strerror}", file=sys.stderr)
            return 1
        if generated != saved:
            diff = difflib.unified_diff(
                saved.decode("ascii", "replace").splitlines(),
                generated.decode("ascii", "replace").splitlines(),
                args.check,
                "generated",
                lineterm="",
            )
            print("\n".join(list(diff)[:40]))
            print(f"gen_schema_guids: {args.check} is out of date; run the script again")
            return 1
        print(f"gen_schema_guids: {args.check} is up to date")
        return 0
    if args.output:
        with open(args.output, "wb") as f:
            f.write(data)
    else:
        sys.stdout.buffer.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
