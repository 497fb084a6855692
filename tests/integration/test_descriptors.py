"""Security descriptor edits on the lab domain controller.

Descriptors are read back independently (ldapsearch with the SD flags
control) and decoded with the reference implementation of the format, so the
checks compare ACE sets, not Kelvo's own printing.
"""
import base64
import os
import subprocess

import labkit
from samba.dcerpc import security
from samba.ndr import ndr_unpack

MEMBER = "bf9679c0-0de6-11d0-a285-00aa003049e2"
INHERITED = 0x10
EVERYONE = "S-1-1-0"
ACCOUNT_OPERATORS = "S-1-5-32-548"


def sd_flags_control(flags):
    value = bytes([0x30, 0x03, 0x02, 0x01, flags])
    return "!1.2.840.113556.1.4.801=::" + base64.b64encode(value).decode()


class DescriptorEdits(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.domain_sid = cls.read_sid(cls.lab.base)

    @classmethod
    def read_sid(cls, dn):
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"]
                              + cls.lab._client_args() + ["-b", dn, "-s", "base",
                                                          "(objectClass=*)", "objectSid"],
                              capture_output=True, env=cls.lab._client_env(),
                              timeout=labkit.TIMEOUT, check=True)
        for line in proc.stdout.decode().splitlines():
            if line.startswith("objectSid:: "):
                return str(ndr_unpack(security.dom_sid, base64.b64decode(line[12:])))
        raise AssertionError(f"no SID for {dn}")

    # --- reading back ----------------------------------------------------------
    def raw_sd(self, dn, flags=7):
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"]
                              + self.lab._client_args()
                              + ["-E", sd_flags_control(flags), "-b", dn, "-s", "base",
                                 "(objectClass=*)", "nTSecurityDescriptor"],
                              capture_output=True, env=self.lab._client_env(),
                              timeout=labkit.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        for line in proc.stdout.decode().splitlines():
            if line.lower().startswith("ntsecuritydescriptor:: "):
                return base64.b64decode(line.split(":: ", 1)[1])
        raise AssertionError(f"no descriptor for {dn}")

    def sd(self, dn, flags=7):
        return ndr_unpack(security.descriptor, self.raw_sd(dn, flags))

    @staticmethod
    def ace_key(ace):
        obj = inh = None
        if ace.type in (5, 6, 7, 8):
            if ace.object.flags & 1:
                obj = str(ace.object.type)
            if ace.object.flags & 2:
                inh = str(ace.object.inherited_type)
        return (ace.type, ace.flags, ace.access_mask, obj, inh, str(ace.trustee))

    def explicit(self, dn, flags=7):
        return [self.ace_key(a) for a in self.sd(dn, flags).dacl.aces
                if not a.flags & INHERITED]

    def inherited(self, dn):
        return [self.ace_key(a) for a in self.sd(dn).dacl.aces if a.flags & INHERITED]

    def group(self, cn):
        dn = f"cn={cn},{self.ou}"
        self.lab.add(dn, objectClass=["top", "group"], sAMAccountName=f"{cn}{os.getpid()}"[:20])
        return dn

    def user(self, cn):
        dn = f"cn={cn},{self.ou}"
        self.lab.add_user(dn, f"{cn}{os.getpid()}"[:20])
        return dn

    # --- the checks ------------------------------------------------------------
    def test_object_ace_for_a_named_group_on_member(self):
        dn = self.group("sdg1")
        before = self.explicit(dn)
        inherited_before = self.inherited(dn)
        domain = self.lab.env["LAB_DOMAIN"]
        out = self.assertRun(self.lab.kelvo(
            "-b", dn, "-sd", f"{{+D=(OA;;WP;member;;{domain}\\Domain Admins)}}"))
        self.assertIn("The command completed successfully.", out)
        after = self.explicit(dn)
        added = (5, 0, 0x20, MEMBER, None, self.domain_sid + "-512")
        self.assertIn(added, after)
        self.assertEqual(sorted(after), sorted(before + [added]))
        # Inherited ACEs stay inherited: none of them was written back as explicit.
        self.assertEqual(sorted(self.inherited(dn)), sorted(inherited_before))

        # Adding an ACE that is already there changes nothing.
        raw = self.raw_sd(dn)
        self.assertRun(self.lab.kelvo(
            "-b", dn, "-sd", f"{{+D=(OA;;WP;member;;{domain}\\Domain Admins)}}"))
        self.assertEqual(self.raw_sd(dn), raw)

    def test_remove_by_pattern_and_deny_first(self):
        dn = self.group("sdg2")
        operators = len([a for a in self.explicit(dn) if a[5] == ACCOUNT_OPERATORS])
        self.assertRun(self.lab.kelvo("-b", dn, "-sd", "{+D=(A;;RP;;;AO)(A;;RPWP;;;AO)}"))
        self.assertEqual(len([a for a in self.explicit(dn) if a[5] == ACCOUNT_OPERATORS]),
                         operators + 2)
        self.assertRun(self.lab.kelvo("-b", dn, "-sd", "{-D=(*;*;*;*;*;AO)}"))
        self.assertEqual([a for a in self.explicit(dn) if a[5] == ACCOUNT_OPERATORS], [])

        # A deny ACE goes before every allow ACE of the rebuilt DACL.
        self.assertRun(self.lab.kelvo("-b", dn, "-sc", "sddelprot"))
        kinds = [a[0] for a in self.explicit(dn)]
        self.assertIn(1, kinds)
        self.assertEqual(kinds, sorted(kinds, key=lambda t: 0 if t in (1, 6) else 1))

    def test_reset_to_class_default(self):
        dn = self.user("sdu1")
        default = self.explicit(dn)
        self.assertRun(self.lab.kelvo("-b", dn, "-sd", "{+D=(A;;RPWP;;;WD)}"))
        self.assertIn((0, 0, 0x30, None, None, EVERYONE), self.explicit(dn))
        self.assertRun(self.lab.kelvo("-b", dn, "SD##ntsecuritydescriptor::{GETDSD}"))
        self.assertNotIn((0, 0, 0x30, None, None, EVERYONE), self.explicit(dn))
        self.assertEqual(sorted(self.explicit(dn)), sorted(default))

    def test_template_object(self):
        template = f"ou=kelvotmpl{os.getpid()},{self.ou}"
        self.lab.add(template, objectClass=["top", "organizationalUnit"])
        self.assertRun(self.lab.kelvo("-b", template, "-sd", "{+D=(A;;RC;;;AU)}"))
        target = self.group("sdg3")
        self.assertRun(self.lab.kelvo(
            "-b", target, f"SD##ntsecuritydescriptor::{{GETTSD}}=kelvotmpl{os.getpid()}"))
        self.assertIn((0, 0, 0x20000, None, None, "S-1-5-11"), self.explicit(target))

    def test_only_dacl_keeps_the_owner(self):
        dn = self.group("sdg4")
        owner = str(self.sd(dn).owner_sid)
        rc, out = self.lab.kelvo("-b", dn, "-onlydacl", "-d", "-sd", "{+D=(A;;LO;;;WD)}")
        self.assertEqual(rc, 0, out)
        self.assertIn((0, 0, 0x80, None, None, EVERYONE), self.explicit(dn))
        self.assertEqual(str(self.sd(dn).owner_sid), owner)

    def test_whatif_lists_and_leaves_the_object(self):
        dn = self.group("sdg5")
        raw = self.raw_sd(dn)
        out = self.assertRun(self.lab.kelvo("-b", dn, "-sdwhatif", "-sd", "{+D=(A;;RP;;;WD)}"))
        self.assertIn("SDWHATIF: Exploded SDDL", out)
        self.assertIn("SDWHATIF: ", out)
        self.assertEqual(self.raw_sd(dn), raw)

    def test_invalid_ace_fails_before_anything_is_written(self):
        dn = self.group("sdg6")
        raw = self.raw_sd(dn)
        rc, out = self.lab.kelvo("-b", dn, "-sd", "{+D=(ZZ;;RP;;;WD)}")
        self.assertEqual(rc, 255, out)
        self.assertIn("Error in SDDL conversion - (", out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertEqual(self.raw_sd(dn), raw)

    def test_csv_rows_build_each_objects_descriptor(self):
        dns = [self.group(f"csv{i}") for i in range(3)]
        rows = "DN,who\n" + "".join(f"{labkit.csv_field(dn)},Everyone\n" for dn in dns)
        action = "SD##ntsecuritydescriptor::{GETSD}{+D=(A;;LO;;;{{who}})}"
        # What-if shows each row's descriptor and writes nothing (an empty
        # value must not clear the attribute either).
        before = [self.raw_sd(dn) for dn in dns]
        out = self.assertRun(self.lab.kelvo("-csv", "-sdwhatif", "-onlydacl", action,
                                            stdin=rows))
        self.assertEqual(out.count("SDWHATIF: Exploded SDDL"), 3, out)
        self.assertEqual([self.raw_sd(dn) for dn in dns], before)
        self.assertRun(self.lab.kelvo("-csv", "-onlydacl", action, stdin=rows))
        for dn in dns:
            self.assertIn((0, 0, 0x80, None, None, EVERYONE), self.explicit(dn))

    def test_edits_of_one_object_in_flight_together_each_read_the_last(self):
        # Each row reads the object's descriptor and adds one ACE: with 16
        # requests in flight the second edit of an object must still see the
        # first one's ACE.
        dns = [self.group(f"pe{i}") for i in range(4)]
        rows = "DN,right\n" + "".join(f"{labkit.csv_field(dn)},{right}\n"
                                      for right in ("LO", "RP") for dn in dns)
        action = "SD##ntsecuritydescriptor::{GETSD}{+D=(A;;{{right}};;;WD)}"
        self.assertRun(self.lab.kelvo("-csv", "-onlydacl", "-parallel", "16", action,
                                      stdin=rows))
        for dn in dns:
            aces = self.explicit(dn)
            self.assertIn((0, 0, 0x80, None, None, EVERYONE), aces)
            self.assertIn((0, 0, 0x10, None, None, EVERYONE), aces)

    def test_names_resolve_once_per_run(self):
        domain = self.lab.env["LAB_DOMAIN"]
        upn = self.lab.env["LAB_ADMIN_UPN"]
        dns = [self.group(f"n{i}") for i in range(100)]
        rc, out = self.lab.kelvo(
            "-d", "-safety", "1000",
            "-sd", f"{{+D=(A;;RP;;;{domain}\\Domain Admins)(A;;RC;;;{upn})(A;;LO;;;Everyone)}}",
            stdin="\n".join(dns) + "\n")
        self.assertEqual(rc, 0, out[-3000:])
        admin = self.read_admin_sid()
        for dn in (dns[0], dns[57], dns[99]):
            aces = self.explicit(dn)
            self.assertIn((0, 0, 0x10, None, None, self.domain_sid + "-512"), aces)
            self.assertIn((0, 0, 0x20000, None, None, admin), aces)
            self.assertIn((0, 0, 0x80, None, None, EVERYONE), aces)
        # Names are looked up once for the whole run, not once per object.
        searches = [line for line in out.splitlines()
                    if line.startswith("DEBUG: Principal search")]
        self.assertLessEqual(len(searches), 6, "\n".join(searches))

    def read_admin_sid(self):
        return self.read_sid(self.lab.env["LAB_ADMIN_DN"])

    def test_alternative_encoder_orders_by_score_and_keeps_object_types(self):
        dn = self.group("sdg7")
        self.assertRun(self.lab.kelvo(
            "-b", dn, "-pxsdenc", "-sdverbatim", "-onlydacl",
            f"SD##ntsecuritydescriptor::D:P(A;;CR;;;{self.domain_sid}-512)(A;;RP;;;WD)"
            f"(OA;;WP;{MEMBER};;WD)(D;;SD;;;WD)(A;;GA;;;SY)"))
        aces = self.explicit(dn, flags=4)
        self.assertEqual([(a[0], a[5]) for a in aces],
                         [(1, EVERYONE), (0, "S-1-5-18"), (0, EVERYONE),
                          (0, self.domain_sid + "-512"), (5, EVERYONE)])
        self.assertEqual(aces[4][3], MEMBER)


if __name__ == "__main__":
    labkit.main()
