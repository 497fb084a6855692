"""The README's "Everyday tasks" run as written against the lab domain
controller.

Every ```sh block of that section is run with bash, in README order, in a
folder holding the input files the text describes (dns.txt, staff.csv,
leavers.csv, newhires.txt).  Only the shell variables the README documents
are set: DC (the lab DC), BASE (a private OU standing for the domain, so the
objects the examples name live under it), DOMAIN, ADMIN, PW and NEWPW; kelvo
is the binary under test.  The machine's part is set up as kinit and
ldap.conf would: the Kerberos ticket cache is the lab administrator's and the
lab's CA is trusted (LDAPTLS_CACERT).  After each block the directory is read back with the
independent client.  A block without a check, or a check without its block,
fails the test, so the README and the test cannot drift apart.
"""
import base64
import os
import re
import shutil
import subprocess
import tempfile

import labkit
from samba.dcerpc import security
from samba.ndr import ndr_unpack

README = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
RESET_PASSWORD = "00299570-246d-11d0-a768-00aa006e0529"
USER_CLASS = "bf967aba-0de6-11d0-a285-00aa003049e2"
SD_DACL = "!1.2.840.113556.1.4.801=::" + base64.b64encode(bytes([0x30, 0x03, 0x02, 0x01, 4])).decode()


def readme_blocks():
    """The ```sh blocks of the Everyday tasks section, in order."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    start = text.index("\n## Everyday tasks\n")
    end = text.find("\n## ", start + 1)
    section = text[start:end if end != -1 else len(text)]
    return re.findall(r"^```sh\n(.*?)^```$", section, flags=re.M | re.S)


class ReadmeExamples(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.tmp = tempfile.mkdtemp()
        bindir = os.path.join(cls.tmp, "bin")
        os.mkdir(bindir)
        os.symlink(os.path.abspath(os.environ["KELVO_BIN"]), os.path.join(bindir, "kelvo"))
        cls.work = os.path.join(cls.tmp, "work")
        os.mkdir(cls.work)
        e = cls.lab.env
        cls.vars = {"DC": e["LAB_HOST"], "BASE": cls.ou, "DOMAIN": e["LAB_DOMAIN"],
                    "ADMIN": e["LAB_ADMIN_UPN"], "PW": e["LAB_PASSWORD"],
                    "NEWPW": "Kelvo.Readme.New.7"}
        cls.env = cls.lab.kelvo_env(dict(cls.vars, PATH=bindir + os.pathsep + os.environ["PATH"]))
        cls.make_objects()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)
        super().tearDownClass()

    # --- the directory and files the examples expect ---------------------------
    @classmethod
    def dn(cls, rdn):
        return f"{rdn},{cls.ou}"

    @classmethod
    def make_objects(cls):
        lab, pid = cls.lab, os.getpid() % 100000
        for ou in ("staff", "groups", "old-projects"):
            lab.add(cls.dn(f"ou={ou}"), objectClass=["top", "organizationalUnit"])
        lab.add(cls.dn("ou=2019,ou=old-projects"), objectClass=["top", "organizationalUnit"])
        lab.add(cls.dn("cn=plan,ou=2019,ou=old-projects"), objectClass=["top", "contact"])
        cls.staff = {}
        for name, title, dept in (("jdoe", "Engineer", "Support"), ("asmith", "Engineer", "Support"),
                                  ("bwong", "Accountant", "Finance"), ("cli", "Clerk", "Finance"),
                                  ("dkim", "Clerk", "Finance")):
            dn = cls.dn(f"cn={name},ou=staff")
            lab.add_user(dn, f"r{pid}{name}"[:20], "Kelvo.Readme.Old.1", title=title,
                         department=dept, info="to be cleared")
            cls.staff[name] = dn
        lab.add_many([(cls.dn("cn=sales,ou=groups"), {
            "objectClass": ["top", "group"], "sAMAccountName": f"r{pid}sales"}),
            (cls.dn("cn=Helpdesk,ou=groups"), {
                "objectClass": ["top", "group"], "sAMAccountName": "Helpdesk"})])
        everyone = list(cls.staff.values())
        cls.write("dns.txt", "\n".join(everyone) + "\n")
        cls.write("newhires.txt", cls.staff["cli"] + "\n" + cls.staff["dkim"] + "\n")
        rows = ["dn,department,telephoneNumber"]
        for i, dn in enumerate(everyone):
            rows.append(f'{labkit.csv_field(dn)},Dept{i},+1 555 010{i}')
        cls.write("staff.csv", "\n".join(rows) + "\n")
        # As exported: the accounts' current values (enabled, 512).
        cls.write("leavers.csv", "dn,userAccountControl\n"
                  + "".join(f"{labkit.csv_field(cls.staff[n])},512\n" for n in ("asmith", "dkim")))

    @classmethod
    def write(cls, name, text):
        with open(os.path.join(cls.work, name), "w", encoding="utf-8") as f:
            f.write(text)

    def attr(self, dn, name):
        got = self.lab.read(dn, name)
        self.assertIsNotNone(got, f"{dn} does not exist")
        return got.get(name.lower(), [])

    def dacl(self, dn):
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self.lab._client_args()
                              + ["-E", SD_DACL, "-b", dn, "-s", "base", "(objectClass=*)",
                                 "nTSecurityDescriptor"],
                              capture_output=True, env=self.lab._client_env(),
                              timeout=labkit.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        for line in proc.stdout.decode().splitlines():
            if line.lower().startswith("ntsecuritydescriptor:: "):
                sd = ndr_unpack(security.descriptor, base64.b64decode(line.split(":: ", 1)[1]))
                return sd.dacl.aces
        raise AssertionError(f"no descriptor for {dn}")

    def sid(self, dn):
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self.lab._client_args()
                              + ["-b", dn, "-s", "base", "(objectClass=*)", "objectSid"],
                              capture_output=True, env=self.lab._client_env(),
                              timeout=labkit.TIMEOUT, check=True)
        for line in proc.stdout.decode().splitlines():
            if line.startswith("objectSid:: "):
                return str(ndr_unpack(security.dom_sid, base64.b64decode(line[12:])))
        raise AssertionError(f"no SID for {dn}")

    # --- what each example must have done -----------------------------------------
    def after_one_attribute(self, out):
        self.assertEqual(self.attr(self.staff["jdoe"], "description"), ["Contractor"])

    def after_dn_list(self, out):
        for dn in self.staff.values():
            self.assertEqual(self.attr(dn, "department"), ["Sales"], dn)

    def after_search_pipe(self, out):
        engineers = {self.staff["jdoe"], self.staff["asmith"]}
        for dn in self.staff.values():
            want = "Engineering" if dn in engineers else "Sales"
            self.assertEqual(self.attr(dn, "department"), [want], dn)

    def after_phones(self, out):
        dn = self.staff["jdoe"]
        self.assertEqual(sorted(self.attr(dn, "otherTelephone")), ["555-0100", "555-0101"])
        self.assertEqual(self.attr(dn, "info"), [])

    def csv_values(self):
        return {dn: (f"Dept{i}", f"+1 555 010{i}") for i, dn in enumerate(self.staff.values())}

    def after_csv(self, out):
        for dn, (dept, phone) in self.csv_values().items():
            self.assertEqual(self.attr(dn, "department"), [dept], dn)
            self.assertEqual(self.attr(dn, "telephoneNumber"), [phone], dn)

    def after_disable(self, out):
        for name, uac in (("asmith", "514"), ("dkim", "514"), ("jdoe", "512")):
            self.assertEqual(self.attr(self.staff[name], "userAccountControl"), [uac], name)

    def after_group(self, out):
        members = {m.lower() for m in self.attr(self.dn("cn=sales,ou=groups"), "member")}
        self.assertEqual(members, {self.staff["cli"].lower(), self.staff["dkim"].lower()})

    def after_move(self, out):
        self.assertFalse(self.lab.exists(self.staff["bwong"]))
        self.assertTrue(self.lab.exists(self.dn("cn=bwong,ou=alumni")))

    def after_tree_delete(self, out):
        self.assertIn("not sent (what-if)", out)
        self.assertFalse(self.lab.exists(self.dn("ou=old-projects")))

    def after_grant(self, out):
        helpdesk = self.sid(self.dn("cn=Helpdesk,ou=groups"))
        found = [a for a in self.dacl(self.dn("ou=staff"))
                 if str(a.trustee) == helpdesk and a.type == 5
                 and str(a.object.type) == RESET_PASSWORD
                 and str(a.object.inherited_type) == USER_CLASS]
        self.assertEqual(len(found), 1, "one object ACE: Reset Password on users for Helpdesk")
        self.assertEqual(found[0].access_mask, 0x100)  # control access right
        self.assertTrue(found[0].flags & 0x02 and found[0].flags & 0x08)  # CI, IO

    def after_password(self, out):
        dn = self.staff["jdoe"]
        self.assertTrue(self.lab.bind_works(dn, self.vars["NEWPW"]))
        self.assertFalse(self.lab.bind_works(dn, "Kelvo.Readme.Old.1"))
        self.assertNotIn(self.vars["NEWPW"], out)
        self.assertNotIn(self.vars["PW"], out)

    def after_undo(self, out):
        # Each object's department was set to Archive and put back: the file
        # holds one record per object with the value it had.
        with open(os.path.join(self.work, "undo.ldif"), encoding="utf-8") as f:
            undo = f.read()
        for dn, (dept, _) in self.csv_values().items():
            self.assertEqual(self.attr(dn, "department"), [dept], dn)
            self.assertRegex(undo, re.compile(rf"^dn: {re.escape(dn)}\n(?:.*\n)*?department: "
                                              rf"{dept}$", re.M | re.I))
        self.assertEqual(undo.lower().count("replace: department"), len(self.staff))

    # Each block is recognised by text it holds; the order is the README's.
    CHECKS = [
        ("description::Contractor", after_one_attribute),
        ("department::Sales < dns.txt", after_dn_list),
        ("department::Engineering", after_search_pipe),
        ("otherTelephone:++:", after_phones),
        ('-csvfile staff.csv "department::{{department}}" "telephoneNumber', after_csv),
        ("-sc ad-disable", after_disable),
        ("-stdinadd member", after_group),
        ("-undo undo.ldif", after_undo),
        ("-move", after_move),
        ("-treedelete -whatif", after_tree_delete),
        ("User Force Change Password", after_grant),
        ("-setpwd", after_password),
    ]

    def test_every_example_as_written(self):
        blocks = readme_blocks()
        self.assertEqual(len(blocks), len(self.CHECKS),
                         "every README example has a check here, and every check an example")
        for block, (marker, check) in zip(blocks, self.CHECKS):
            with self.subTest(example=marker):
                self.assertIn(marker, block, "the README's examples are in another order")
                proc = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", block],
                                      cwd=self.work, env=self.env, capture_output=True,
                                      timeout=4 * labkit.TIMEOUT)
                out = proc.stdout.decode("utf-8", "replace") + proc.stderr.decode("utf-8", "replace")
                self.assertEqual(proc.returncode, 0, f"{block}\n{out}")
                self.assertIn("The command completed successfully.", out)
                check(self, out)


if __name__ == "__main__":
    labkit.main()
