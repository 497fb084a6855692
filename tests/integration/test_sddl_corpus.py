"""Our SDDL conversions against Samba's on every descriptor the lab domain
controller holds: the nTSecurityDescriptor of each object (all naming
contexts, deleted objects included, all four parts) and the
defaultSecurityDescriptor of each class.  SDDL_PROBE names the probe that
drives our library (platform/security/tests/sddl_probe.cpp).

Binary descriptors: ours print them, read the text back and must give the
stored bytes, apart from what SDDL cannot carry:
  * the control bits without an SDDL form (owner, group, DACL and SACL
    defaulted, DACL trusted, server security, RM control valid): the DC sets
    owner and group defaulted on many objects, text drops them;
  * the ACL revision: MS-DTYP 2.4.5 gives ACL_REVISION (2) to an ACL without
    object ACEs and the DC stores 4; text does not carry it, and reading
    gives 2 (the same allowance the differential unit test makes).
Our text must be Samba's as_sddl text, except that Samba prints the rights
letters of an ACE in its own table order and we print them low bit first as
Windows does (same mask; compared as letter sets), and Samba must read our
text to the same descriptor.

Default descriptors: ours must read each one to Samba's bytes (same ACL
revision allowance).  Where Samba rejects published text (white space between
parts, as the schema has it for some classes) ours must accept it and give
the bytes Samba gives for the text without the white space: the published
format wins.
"""
import os
import re
import subprocess
import sys
import unittest

import labkit
import sddl_dump

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "platform", "security", "tests"))
import samba_differential  # noqa: E402  (same_descriptor, and the Samba import check)

from samba.dcerpc import security  # noqa: E402
from samba.ndr import ndr_pack, ndr_unpack  # noqa: E402

# Control bits SDDL writes: DACL/SACL present, AR, AI and P for both ACLs,
# self-relative.
SDDL_CONTROL_BITS = 0x0004 | 0x0010 | 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x1000 | 0x2000 | 0x8000


def probe(sid, lines):
    proc = subprocess.run([os.environ["SDDL_PROBE"], sid], input="".join(l + "\n" for l in lines),
                          capture_output=True, text=True, timeout=labkit.TIMEOUT)
    out = proc.stdout.splitlines()
    if proc.returncode != 0 or len(out) != len(lines):
        raise AssertionError(f"probe answered {len(out)} of {len(lines)} lines, rc "
                             f"{proc.returncode}: {proc.stderr}")
    return out


def without_text_free_bits(stored):
    """The stored bytes with the control bits SDDL has no form for cleared."""
    out = bytearray(stored)
    control = int.from_bytes(out[2:4], "little") & SDDL_CONTROL_BITS
    out[2:4] = control.to_bytes(2, "little")
    return bytes(out)


def rights_as_sets(text):
    """SDDL with the rights letters of every ACE sorted."""
    def ace(m):
        fields = m.group(1).split(";")
        if len(fields) > 2 and re.fullmatch(r"(?:[A-Z]{2})+", fields[2]):
            fields[2] = "".join(sorted(fields[2][i:i + 2] for i in range(0, len(fields[2]), 2)))
        return "(" + ";".join(fields) + ")"
    return re.sub(r"\(([^()]*)\)", ace, text)


class SddlCorpus(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lab = labkit.samba()
        cls.sid = sddl_dump.domain_sid(cls.lab)
        cls.domain = security.dom_sid(cls.sid)

    def test_object_descriptors(self):
        objects = sddl_dump.object_descriptors(self.lab)
        # A provisioned domain has thousands of objects (schema included).
        self.assertGreater(len(objects), 1000)
        stored = sorted({value for _, value in objects})
        printed = probe(self.sid, ["B " + v.hex() for v in stored])
        failures, exact, bits_only, revision_only, both, texts_equal, texts_as_sets = \
            [], 0, 0, 0, 0, 0, 0
        texts = []
        for value, answer in zip(stored, printed):
            if not answer.startswith("OK "):
                failures.append(f"{value.hex()}: ours does not print it: {answer}")
            texts.append(answer[3:] if answer.startswith("OK ") else None)
        reread = probe(self.sid, ["T " + (t or "") for t in texts])
        for value, text, answer in zip(stored, texts, reread):
            if text is None:
                continue
            fields = answer.split(" ")
            if fields[0] != "OK":
                failures.append(f"{text}: ours does not read its own text: {answer}")
                continue
            mine = bytes.fromhex(fields[1])
            plain = without_text_free_bits(value)
            if mine == value:
                exact += 1
            elif mine == plain:
                bits_only += 1
            elif samba_differential.same_descriptor(mine, value):
                revision_only += 1
            elif samba_differential.same_descriptor(mine, plain):
                both += 1
            else:
                failures.append(f"{text}: bytes differ\n  stored {value.hex()}\n  ours   {mine.hex()}")
                continue
            theirs = ndr_unpack(security.descriptor, value).as_sddl(self.domain)
            if theirs == text:
                texts_equal += 1
            elif rights_as_sets(theirs) == rights_as_sets(text):
                texts_as_sets += 1
            else:
                failures.append(f"text differs\n  ours  {text}\n  Samba {theirs}")
                continue
            samba_reads = ndr_pack(security.descriptor.from_sddl(text, self.domain))
            if not samba_differential.same_descriptor(mine, samba_reads):
                failures.append(f"{text}: Samba reads our text as {samba_reads.hex()}")
        print(f"\n{len(objects)} nTSecurityDescriptor values, {len(stored)} distinct: "
              f"{exact} byte-identical after binary -> text -> binary, {bits_only} apart from "
              f"defaulted control bits, {revision_only} apart from the ACL revision, {both} apart "
              f"from both; text {texts_equal} identical to Samba's, {texts_as_sets} with the same "
              f"rights in another order", file=sys.stderr)
        self.assertEqual(failures, [], "\n".join(failures[:10]))
        self.assertEqual(exact + bits_only + revision_only + both, len(stored))

    def test_default_descriptors(self):
        defaults = sddl_dump.default_descriptors(self.lab)
        self.assertGreater(len(defaults), 200)
        answers = probe(self.sid, ["T " + text for _, text in defaults])
        failures, identical, published = [], 0, 0
        for (name, text), answer in zip(defaults, answers):
            fields = answer.split(" ")
            if fields[0] != "OK":
                failures.append(f"{name}: ours rejects {text!r}: {answer}")
                continue
            mine = bytes.fromhex(fields[1])
            try:
                theirs = ndr_pack(security.descriptor.from_sddl(text, self.domain))
            except Exception:
                # Samba rejects white space between the parts that the schema
                # value has; the published format allows it.
                theirs = None
            if theirs is None:
                compact = "".join(text.split())
                self.assertNotEqual(compact, text, f"{name}: Samba rejects {text!r}")
                theirs = ndr_pack(security.descriptor.from_sddl(compact, self.domain))
                published += 1
            else:
                identical += 1
            if not samba_differential.same_descriptor(mine, theirs):
                failures.append(f"{name}: {text}\n  ours  {mine.hex()}\n  Samba {theirs.hex()}")
        print(f"\n{len(defaults)} defaultSecurityDescriptor values: {identical} read to Samba's "
              f"bytes, {published} where Samba rejects the published white space and ours "
              f"match its bytes for the text without it", file=sys.stderr)
        self.assertEqual(failures, [], "\n".join(failures[:10]))


if __name__ == "__main__":
    labkit.main()
