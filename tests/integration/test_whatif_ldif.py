"""-whatif and -ldifout on real directories.

Each check works on two folders holding the same objects.  Kelvo changes
folder a for real; the same command with -whatif -ldifout only writes the
LDIF of folder b, which ldapmodify -f then applies.  Afterwards the two
folders must read back alike, attribute by attribute, with the folder's own
name taken out of DNs and DN values.
"""
import base64
import os
import re
import shutil
import stat
import subprocess
import tempfile
import uuid

import labkit

field = labkit.csv_field

# Attributes that differ between two objects made the same way.
VOLATILE = {
    "objectguid", "objectsid", "whencreated", "whenchanged", "usncreated", "usnchanged",
    "dscorepropagationdata", "samaccountname", "pwdlastset", "badpwdcount", "badpasswordtime",
    "lastlogon", "lastlogontimestamp", "logoncount", "lastlogoff", "entryuuid", "entrycsn",
    "createtimestamp", "modifytimestamp", "creatorsname", "modifiersname",
}


class Twins:
    """Folders a and b of one check, and the file the dry run writes."""

    def __init__(self, test, name):
        self.test = test
        self.lab = test.lab
        self.sides = {side: f"ou={name}-{side},{test.ou}" for side in "ab"}
        for dn in self.sides.values():
            self.lab.add(dn, objectClass=self.folder_classes())
        self.work = tempfile.mkdtemp()
        test.addCleanup(shutil.rmtree, self.work, True)
        self.ldif_path = os.path.join(self.work, "b.ldif")

    def folder_classes(self):
        return ["top", "organizationalUnit"] if self.lab.kind == "samba" else [
            "organizationalUnit"]

    def each(self, make):
        for side, dn in self.sides.items():
            make(dn, side)

    def state(self, side):
        base = self.sides[side]
        pattern = re.compile(re.escape(base), re.IGNORECASE)
        entries = self.lab.read_all(base, "(objectClass=*)", "*", scope="sub")
        out = {}
        for dn, attrs in entries.items():
            if dn == base.lower():
                continue
            out[pattern.sub("<folder>", dn)] = {
                name: sorted(pattern.sub("<folder>", v) for v in values)
                for name, values in attrs.items() if name not in VOLATILE}
        return out

    def replay(self, command, code=0):
        """command(folder, side) -> (arguments, standard input).  Runs it for
        real on a and as a dry run on b, applies the dry run's file to b and
        compares.  Returns the outputs of both runs and the file's text."""
        before = self.state("b")
        args, stdin = command(self.sides["a"], "a")
        rc, real = self.lab.kelvo(*args, stdin=stdin)
        self.test.assertEqual(rc, code & 0xFF, real)
        args, stdin = command(self.sides["b"], "b")
        rc, dry = self.lab.kelvo(*args, "-whatif", "-ldifout", self.ldif_path, stdin=stdin)
        self.test.assertEqual(rc, code & 0xFF, dry)
        self.test.assertIn("not sent (what-if)", dry)
        self.test.assertNotIn("completed successfully" if code else "did not complete", dry)
        self.test.assertEqual(self.state("b"), before, "the dry run changed folder b")
        self.test.assertEqual(stat.S_IMODE(os.stat(self.ldif_path).st_mode), 0o600)
        with open(self.ldif_path, encoding="utf-8") as f:
            text = f.read()
        self.test.assertTrue(text.startswith("version: 1\n\n"), text)
        rc, out = self.lab.ldif("ldapmodify", "", extra=["-f", self.ldif_path])
        self.test.assertEqual(rc, 0, out + "\n" + text)
        self.test.assertEqual(self.state("b"), self.state("a"), text)
        return real, dry, text


def records(text):
    return [block for block in text.split("\n\n")[1:] if block.strip()]


class WhatIfOnActiveDirectory(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def twins(self):
        return Twins(self, self._testMethodName[5:20].replace("_", ""))

    def contact(self, folder, cn, **attrs):
        dn = f"cn={cn},{folder}"
        self.lab.add(dn, objectClass=["top", "contact"], **attrs)
        return dn

    def guid_of(self, dn):
        got = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"]
                             + self.lab._client_args()
                             + ["-b", dn, "-s", "base", "(objectClass=*)", "objectGUID"],
                             capture_output=True, env=self.lab._client_env(),
                             timeout=labkit.TIMEOUT).stdout.decode()
        for line in got.splitlines():
            if line.startswith("objectGUID:: "):
                return str(uuid.UUID(bytes_le=base64.b64decode(line[13:])))
        self.fail(f"no objectGUID for {dn}")

    def test_modify_every_operation_and_typed_values(self):
        t = self.twins()
        t.each(lambda f, s: self.contact(
            f, "m1", description="old", otherTelephone=["1", "2", "3"], info="gone",
            url=["u1", "u2"], otherHomePhone=["h1"]))
        guid = "a1b2c3d4-0000-4000-8000-00aa00bb00cc"
        real, dry, text = t.replay(lambda f, s: ([
            "-b", f"cn=m1,{f}", "description::new value", "otherTelephone:++:4;5",
            "url:--:u1", "info:-", "otherHomePhone:+-:7;8;9", "displayName:: leading",
            "department::Caf\u00e9", "hex##userCertificate:+:0001ff20",
            f"guid##userCertificate:+:{guid}", "sid##userCertificate:+:S-1-5-32-544"], None))
        self.assertEqual(len(records(text)), 1, text)
        # Names as the actions are parsed: in lower case.
        for line in ("changetype: modify", "replace: description", "description: new value",
                     "add: othertelephone", "delete: url", "url: u1", "delete: info",
                     "replace: otherhomephone", "displayname:: IGxlYWRpbmc=",
                     "department:: Q2Fmw6k=", "usercertificate:: AAH/IA=="):
            self.assertIn(line + "\n", text)
        got = self.lab.read(f"cn=m1,{t.sides['b']}", "userCertificate", "otherTelephone")
        self.assertEqual(len(got["usercertificate"]), 3)
        self.assertEqual(sorted(got["othertelephone"]), ["1", "2", "3", "4", "5"])
        self.assertIn("1 object(s) not sent (what-if).", dry)

    def test_add_with_values_that_need_base64(self):
        t = self.twins()
        t.replay(lambda f, s: (["-b", f"cn=Jos\u00e9 n,{f}", "-add", "objectClass::contact",
                                "description::trailing ", "otherTelephone:++:1;2",
                                "info::<not a url"], None))

    def test_delete_and_tree_delete(self):
        t = self.twins()

        def make(folder, side):
            self.contact(folder, "leaf")
            self.lab.add(f"ou=tree,{folder}", objectClass=["top", "organizationalUnit"])
            self.contact(f"ou=tree,{folder}", "inner")

        t.each(make)
        _, _, text = t.replay(lambda f, s: (["-rm", "-cont"], f"cn=leaf,{f}\n"))
        self.assertIn("changetype: delete\n", text)
        _, _, text = t.replay(lambda f, s: (["-b", f"ou=tree,{f}", "-rm", "-treedelete"], None))
        self.assertIn("control: 1.2.840.113556.1.4.805 true\nchangetype: delete\n", text)
        self.assertEqual(t.state("a"), {})

    def test_rename_and_moves(self):
        t = self.twins()

        def make(folder, side):
            self.lab.add(f"ou=target,{folder}", objectClass=["top", "organizationalUnit"])
            for cn in ("r1", "mv1", "mv2"):
                self.contact(folder, cn)

        t.each(make)
        t.replay(lambda f, s: (["-b", f"cn=r1,{f}", "-rename", "renamed"], None))
        _, _, text = t.replay(lambda f, s: (["-b", f"cn=mv1,{f}", "-move", f"ou=target,{f}"],
                                            None))
        self.assertIn("changetype: modrdn\nnewrdn: cn=mv1\ndeleteoldrdn: 1\nnewsuperior: ", text)
        t.replay(lambda f, s: (["-b", f"cn=mv2,{f}", "-move", f"cn=moved;ou=target,{f}"], None))
        self.assertIn("cn=moved,ou=target,<folder>", t.state("b"))

    def test_undelete_by_guid_with_added_value(self):
        t = self.twins()
        guids = {}

        def make(folder, side):
            dn = self.contact(folder, "undel", description="before")
            guids[side] = self.guid_of(dn)
            self.assertRun(self.lab.kelvo("-b", dn, "-rm"))

        t.each(make)
        # -undel takes the next word as a new parent: the action goes first.
        _, dry, text = t.replay(lambda f, s: (["-b", f"<GUID={guids[s]}>", "description:+:back",
                                               "-undel"], None))
        self.assertIn("control: 1.2.840.113556.1.4.417 true\n", text)
        self.assertIn("delete: isDeleted\n-\nreplace: distinguishedName\n", text)
        self.assertIn("add: description\ndescription: back\n", text)
        self.assertIn("cn=undel,<folder>", t.state("b"))

    def test_csv_rows(self):
        t = self.twins()
        t.each(lambda f, s: [self.contact(f, f"row{i}") for i in range(3)])

        def rows(folder, side):
            lines = ["DN,description,otherTelephone"]
            lines += [f"{field(f'cn=row{i},{folder}')},row {i},{i};x{i}" for i in range(3)]
            return (["-csv", "description::{{description}}", "otherTelephone:+-:{{.}}"],
                    "\n".join(lines) + "\n")

        _, dry, text = t.replay(rows)
        self.assertEqual(len(records(text)), 3, text)
        self.assertIn("3 object(s) not sent (what-if).", dry)

    def test_import_adds_every_column(self):
        t = self.twins()

        def rows(folder, side):
            lines = ["DN,objectClass,description,otherTelephone"]
            lines += [f"{field(f'cn=imp{i},{folder}')},contact,imported {i},{i};9{i}"
                      for i in range(2)]
            return ["-csv", "-add", "-import"], "\n".join(lines) + "\n"

        _, dry, text = t.replay(rows)
        self.assertEqual(len(records(text)), 2, text)
        self.assertIn("changetype: add\n", text)
        self.assertEqual(len(t.state("b")), 2)

    def test_descriptor_edit(self):
        from samba.dcerpc import security
        from samba.ndr import ndr_unpack
        t = self.twins()
        t.each(lambda f, s: self.contact(f, "sd1"))
        _, _, text = t.replay(lambda f, s: (["-b", f"cn=sd1,{f}", "-sd", "{+D=(A;;RP;;;WD)}"],
                                            None))
        self.assertIn("control: 1.2.840.113556.1.4.801 true:: ", text)
        self.assertIn("replace: ntsecuritydescriptor\nntsecuritydescriptor:: ", text)
        flags = base64.b64encode(bytes([0x30, 0x03, 0x02, 0x01, 0x07])).decode()

        def explicit(side):
            got = subprocess.run(
                ["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self.lab._client_args()
                + ["-E", f"!1.2.840.113556.1.4.801=::{flags}", "-b", f"cn=sd1,{t.sides[side]}",
                   "-s", "base", "(objectClass=*)", "nTSecurityDescriptor"],
                capture_output=True, env=self.lab._client_env(), timeout=labkit.TIMEOUT,
                check=True).stdout.decode()
            raw = next(base64.b64decode(line.split(":: ", 1)[1]) for line in got.splitlines()
                       if line.lower().startswith("ntsecuritydescriptor:: "))
            sd = ndr_unpack(security.descriptor, raw)
            return sorted((a.type, a.flags, a.access_mask, str(a.trustee))
                          for a in sd.dacl.aces if not a.flags & 0x10), str(sd.owner_sid)

        self.assertEqual(explicit("a"), explicit("b"))
        self.assertIn((0, 0, 0x10, "S-1-1-0"), explicit("b")[0])

    def test_password_reaches_the_file_but_not_the_console(self):
        t = self.twins()
        pid = os.getpid() % 100000
        t.each(lambda f, s: self.lab.add_user(f"cn=pw,{f}", f"kw{pid}{s}", "First-Pa55"))
        real, dry, text = t.replay(lambda f, s: (["-b", f"cn=pw,{f}",
                                                  "unicodePwd::Second-Pa55"], None))
        self.assertNotIn("Second-Pa55", dry + real)
        self.assertIn("unicodepwd: ********", dry)
        self.assertIn("unicodepwd:: " + labkit.unicode_pwd("Second-Pa55"), text)
        for folder in t.sides.values():
            self.assertTrue(self.lab.bind_works(f"cn=pw,{folder}", "Second-Pa55"))

    def test_failures_match_a_real_run(self):
        # An object that is not deleted has no last known parent: skipped in
        # both runs, with the same message and exit status, and no record.
        t = self.twins()
        t.each(lambda f, s: self.contact(f, "alive"))
        outs = {}
        for whatif in (False, True):
            folder = t.sides["b" if whatif else "a"]
            extra = ["-whatif", "-ldifout", t.ldif_path] if whatif else []
            rc, outs[whatif] = self.lab.kelvo("-b", f"cn=alive,{folder}", "-undel", *extra)
            self.assertEqual(rc, 32, outs[whatif])
            self.assertIn("ERROR: Can't determine Last Known Parent, skipping...",
                          outs[whatif])
        with open(t.ldif_path, encoding="utf-8") as f:
            self.assertEqual(f.read(), "version: 1\n")
        self.assertIn("0 object(s) not sent (what-if).", outs[True])

    def test_request_with_no_ldif_form_fails_the_dry_run(self):
        # An attribute name with a space cannot be written as LDIF; the dry
        # run says so instead of showing a record that would read otherwise.
        t = self.twins()
        t.each(lambda f, s: self.contact(f, "odd"))
        rc, out = self.lab.kelvo("-b", f"cn=odd,{t.sides['b']}", "-whatif", "-ldifout",
                                 t.ldif_path, "bad name::x")
        self.assertEqual(rc, 0x59, out)
        self.assertIn("ERROR: The request has no LDIF form: the attribute name \"bad name\"",
                      out)
        self.assertNotIn("\nbad name:", out)
        with open(t.ldif_path, encoding="utf-8") as f:
            self.assertEqual(f.read(), "version: 1\n")

    def test_real_run_file_holds_exactly_the_changes_made(self):
        t = self.twins()
        t.each(lambda f, s: [self.contact(f, cn) for cn in ("ok1", "ok2")])
        path = os.path.join(t.work, "a.ldif")
        a = t.sides["a"]
        rc, out = self.lab.kelvo("-cont", "-ldifout", path, "description::made",
                                 stdin=f"cn=ok1,{a}\ncn=missing,{a}\ncn=ok2,{a}\n")
        self.assertEqual(rc, 32, out)
        self.assertNotIn("not sent", out)
        with open(path, encoding="utf-8") as f:
            text = f.read()
        self.assertEqual(len(records(text)), 2, text)
        self.assertNotIn("missing", text)
        # The same file, pointed at folder b, makes b what the run made of a.
        with open(path, "w", encoding="utf-8") as f:
            f.write(text.replace(a, t.sides["b"]))
        rc, applied = self.lab.ldif("ldapmodify", "", extra=["-f", path])
        self.assertEqual(rc, 0, applied)
        self.assertEqual(t.state("a"), t.state("b"))

    def test_file_that_fills_up_fails_the_run(self):
        import resource
        import signal

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (200, 200))

        t = self.twins()
        t.each(lambda f, s: [self.contact(f, f"full{i}") for i in range(3)])
        a = t.sides["a"]
        rc, out, _ = self.lab.kelvo_streams(
            "-whatif", "-ldifout", t.ldif_path, "description::x",
            stdin="".join(f"cn=full{i},{a}\n" for i in range(3)), preexec=small_files)
        self.assertEqual(rc, 255, out)
        self.assertIn("ERROR: Could not write LDIF file - " + t.ldif_path, out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertNotIn("completed successfully", out.replace("did not complete", ""))

    def test_file_that_cannot_be_created_stops_before_any_change(self):
        t = self.twins()
        t.each(lambda f, s: self.contact(f, "keep", description="same"))
        target = os.path.join(t.work, "real.ldif")
        with open(target, "w", encoding="utf-8") as f:
            f.write("keep\n")
        link = os.path.join(t.work, "link.ldif")
        os.symlink(target, link)
        rc, out = self.lab.kelvo("-b", f"cn=keep,{t.sides['a']}", "description::changed",
                                 "-ldifout", link)
        self.assertEqual(rc, 255, out)
        self.assertIn("ERROR: Could not open LDIF file - " + link, out)
        self.assertEqual(self.lab.read(f"cn=keep,{t.sides['a']}", "description")["description"],
                         ["same"])
        with open(target, encoding="utf-8") as f:
            self.assertEqual(f.read(), "keep\n")


class WhatIfOnOpenLdap(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def twins(self):
        return Twins(self, self._testMethodName[5:20].replace("_", ""))

    def person(self, folder, cn, **attrs):
        dn = f"cn={cn},{folder}"
        self.lab.add(dn, objectClass=["inetOrgPerson"], sn=cn, **attrs)
        return dn

    def test_modify_add_delete_rename(self):
        t = self.twins()

        def make(folder, side):
            self.person(folder, "p1", description="old", telephoneNumber=["1", "2"],
                        mail="m@x")
            self.person(folder, "p2")
            self.person(folder, "p3")
            self.lab.add(f"ou=sub,{folder}", objectClass=["organizationalUnit"])

        t.each(make)
        t.replay(lambda f, s: (["-b", f"cn=p1,{f}", "description::new", "telephoneNumber:--:1",
                                "mail:-", "title:+-:a;b", "hex##jpegPhoto::ff00d8",
                                "displayName::\u00e9t\u00e9"], None))
        t.replay(lambda f, s: (["-b", f"cn=p4,{f}", "-add", "objectClass::inetOrgPerson",
                                "sn::four", "telephoneNumber:++:7;8"], None))
        t.replay(lambda f, s: (["-b", f"cn=p2,{f}", "-rm"], None))
        t.replay(lambda f, s: (["-b", f"cn=p3,{f}", "-rename", "p3new"], None))
        _, _, text = t.replay(lambda f, s: (["-b", f"cn=p3new,{f}", "-move", f"ou=sub,{f}"],
                                            None))
        self.assertIn("newsuperior: ou=sub,", text)
        self.assertIn("cn=p3new,ou=sub,<folder>", t.state("b"))

    def test_refresh_is_a_comment(self):
        t = self.twins()
        t.each(lambda f, s: self.assertRun(self.lab.kelvo(
            "-b", f"cn=dyn,{f}", "-add", "-tmpobj", "1h", "objectClass::inetOrgPerson",
            "sn::d")))
        b = f"cn=dyn,{t.sides['b']}"
        rc, out = self.lab.kelvo("-b", b, "-tmpobj", "2h", "-whatif", "-ldifout", t.ldif_path)
        self.assertEqual(rc, 0, out)
        self.assertIn(f"# refresh {b} ttl 7200", out)
        self.assertLessEqual(int(self.lab.read(b, "entryTtl")["entryttl"][0]), 3600)
        with open(t.ldif_path, encoding="utf-8") as f:
            self.assertEqual(f.read(), f"version: 1\n\n# refresh {b} ttl 7200\n")


if __name__ == "__main__":
    labkit.main()
