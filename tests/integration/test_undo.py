"""-undo FILE on real directories: every touched object is read in full before
Kelvo runs, the undo file is applied with ldapmodify -c, and every object must
then equal what was read, attribute by attribute (and descriptor by descriptor
on Active Directory).  Also: a run killed halfway, and the refused cases."""
import os
import shutil
import signal
import subprocess
import tempfile

import labkit

field = labkit.csv_field

# Attributes the directory changes by itself on every write or reanimation;
# they are left out of the comparison.
NOISE = {"whenchanged", "usnchanged", "replpropertymetadata", "dscorepropagationdata",
         "modifytimestamp", "entrycsn", "modifiersname", "lastknownparent",
         "msds-lastknownrdn", "isrecycled"}

# The SD flags control: owner, group, DACL and SACL.
SD_ALL = "!1.2.840.113556.1.4.801=::MAMCAQ8="


class UndoMixin:
    def setUp(self):
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def undo_path(self, name="undo.ldif"):
        return os.path.join(self.tmp, name)

    def snapshot(self, dns, descriptor=False):
        """DN (lower case) -> {attribute: sorted raw values}; None for absent."""
        shot = {}
        for dn in dns:
            args = ["-b", dn, "-s", "base", "(objectClass=*)", "*"]
            extra = []
            if descriptor:
                extra = ["-E", SD_ALL]
                args.append("nTSecurityDescriptor")
            proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"]
                                  + self.lab._client_args() + extra + args,
                                  capture_output=True, env=self.lab._client_env(),
                                  timeout=labkit.TIMEOUT)
            if proc.returncode == 32:
                shot[dn.lower()] = None
                continue
            self.assertEqual(proc.returncode, 0, proc.stderr.decode())
            entry = {}
            for line in proc.stdout.decode("utf-8", "replace").splitlines():
                if not line or line.startswith("dn:"):
                    continue
                name, _, value = line.partition(":")
                if name.lower() in NOISE:
                    continue
                entry.setdefault(name.lower(), []).append(value)
            shot[dn.lower()] = {k: sorted(v) for k, v in entry.items()}
        return shot

    def apply(self, path):
        with open(path, encoding="utf-8") as f:
            text = f.read()
        proc = subprocess.run(["ldapmodify", "-c"] + self.lab._client_args() + ["-f", path],
                              capture_output=True, env=self.lab._client_env(),
                              timeout=labkit.TIMEOUT)
        return proc.returncode, proc.stdout.decode() + proc.stderr.decode(), text

    def assertSame(self, before, after):
        for dn, entry in before.items():
            got = after[dn]
            if entry is None or got is None:
                self.assertEqual(entry, got, dn)
                continue
            differ = {name: (entry.get(name), got.get(name))
                      for name in sorted(set(entry) | set(got))
                      if entry.get(name) != got.get(name)}
            self.assertEqual(differ, {}, f"{dn}: attribute (before, after)")

    # Descriptors are compared too where the directory has them.
    descriptors = False

    def round_trip(self, dns, args, stdin=None, code=0, check_changed=True):
        """Runs Kelvo with -undo, applies the file, and compares."""
        descriptor = self.descriptors
        before = self.snapshot(dns, descriptor)
        path = self.undo_path()
        rc, out = self.lab.kelvo(*args, "-undo", path, stdin=stdin)
        self.assertEqual(rc, code, out)
        self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
        if check_changed:
            self.assertNotEqual(self.snapshot(dns, descriptor), before, "nothing changed")
        rc, applied, text = self.apply(path)
        self.assertEqual(rc, 0, applied + "\n" + text)
        self.assertSame(before, self.snapshot(dns, descriptor))
        return out, text


class UndoOnActiveDirectory(UndoMixin, labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)
    descriptors = True

    def contact(self, cn, **attrs):
        dn = f"CN={cn},{self.ou}"
        self.lab.add(dn, objectClass=["top", "contact"], **attrs)
        return dn

    def test_modify_every_kind_with_ranged_members_and_csv_rows(self):
        c1 = self.contact("m1", description="old", otherTelephone=["1", "2"])
        c2 = self.contact("m2")
        members = [f"CN=mem{i:04},{self.ou}" for i in range(1600)]
        self.lab.add_many([(dn, {"objectClass": ["top", "contact"]}) for dn in members])
        group = f"CN=big,{self.ou}"
        self.lab.add_many([(group, {"objectClass": ["top", "group"], "member": members})])
        dns = [c1, c2, group]
        # Replace, add and delete values, set an absent attribute, clear one.
        out, text = self.round_trip(dns, ["-b", c1, "description::new", "otherTelephone:+:3",
                                          "otherTelephone:-:1", "givenName::g", "info::x"])
        self.assertIn("replace: givenname\n-\n", text.lower())
        # A member removed from a group of more values than one read returns:
        # the record holds all 1600.
        out, text = self.round_trip(dns, ["-b", group, f"member:-:{members[5]}"])
        self.assertEqual(text.count("\nmember: "), 1600, out)
        # CSV rows: one request per row, each recorded.
        rows = f"DN,description\n{field(c1)},row one\n{field(c2)},row two\n"
        self.round_trip(dns, ["-csv", "description::{{.}}"], stdin=rows)
        # The group deleted: it comes back with every member.
        out, text = self.round_trip(dns, ["-b", group, "-rm"])
        self.assertEqual(text.count("\nmember: "), 1600, out)

    def test_descriptor_edit(self):
        dn = self.contact("sd1")
        out, text = self.round_trip([dn], ["-b", dn, "-sd", "{+D=(A;;RP;;;WD)}"])
        self.assertIn("control: 1.2.840.113556.1.4.801 true", text)

    def test_add_rename_and_move(self):
        added = [f"CN=add{i},{self.ou}" for i in range(2)]
        self.round_trip(added, ["-add", "objectClass::contact", "description::new"],
                        stdin="".join(d + "\n" for d in added))
        target = f"OU=target,{self.ou}"
        self.lab.add(target, objectClass=["top", "organizationalUnit"])
        a = self.contact("ren", description="keep")
        b = self.contact("mov")
        dns = [a, b, f"CN=renamed,{self.ou}", f"CN=mov,{target}", f"CN=mv2,{target}"]
        self.round_trip(dns, ["-b", a, "-rename", "renamed"])
        self.round_trip(dns, ["-b", b, "-move", target])
        self.round_trip(dns, ["-b", b, "-move", f"cn=mv2;{target}"])

    def test_delete_comes_back_with_its_attributes_and_groups(self):
        user = f"CN=del user,{self.ou}"
        self.lab.add_user(user, f"kdu{os.getpid() % 100000}", None, description="d",
                          givenName="Given", sn="Surname", displayName="Shown",
                          mail="u@lab.kelvo.test", telephoneNumber="123",
                          otherTelephone=["7", "8"], userAccountControl="514")
        contact = self.contact("del contact", description="c", info="i")
        groups = [f"CN=dg{i},{self.ou}" for i in range(2)]
        self.lab.add_many([(g, {"objectClass": ["top", "group"], "member": [user, contact]})
                           for g in groups])
        dns = [user, contact] + groups
        out, text = self.round_trip(dns, ["-rm"], stdin=f"{user}\n{contact}\n")
        self.assertIn("control: 1.2.840.113556.1.4.417 true", text)
        self.assertIn("\\0ADEL:", text)
        # The last delete first: the contact's records come before the user's.
        self.assertLess(text.index("distinguishedName: CN=del contact"),
                        text.index("distinguishedName: CN=del user"))

    def test_undelete(self):
        dn = self.contact("undel", description="u")
        rc, out = self.lab.ldif("ldapdelete", "", extra=[dn])
        self.assertEqual(rc, 0, out)
        tomb = self.lab.search(self.lab.base,
                               f"(&(isDeleted=TRUE)(cn=undel*)(lastKnownParent={self.ou}))",
                               scope="sub", extra=["-E", "!1.2.840.113556.1.4.417"])
        self.assertEqual(len(tomb), 1)
        out, text = self.round_trip([dn], ["-b", tomb[0], "-undel"], check_changed=True)
        self.assertIn("changetype: delete", text)
        self.assertFalse(self.lab.exists(dn))

    def test_refused_changes_send_nothing(self):
        tree = f"OU=tree,{self.ou}"
        self.lab.add(tree, objectClass=["top", "organizationalUnit"])
        leaf = f"CN=leaf,{tree}"
        self.lab.add(leaf, objectClass=["top", "contact"])
        user = f"CN=pwd,{self.ou}"
        self.lab.add_user(user, f"kpw{os.getpid() % 100000}", "Old.Pass.1")
        cases = [
            (["-b", tree, "-rm", "-treedelete"], "a tree delete removes objects"),
            (["-b", user, "unicodePwd::New.Pass.2"],
             "ERROR: Cannot record an undo for this change: the old value of unicodePwd "
             "cannot be read."),
            (["-b", user, "-setpwd", "New.Pass.2"], "the old value of unicodePwd"),
        ]
        for args, message in cases:
            with self.subTest(args=args[2:]):
                before = self.snapshot([tree, leaf, user])
                path = self.undo_path()
                rc, out = self.lab.kelvo(*args, "-undo", path)
                self.assertEqual(rc, 0x35, out)
                self.assertIn(message, out)
                self.assertIn("The command did not complete successfully.", out)
                self.assertNotIn("New.Pass.2", out)
                self.assertEqual(self.snapshot([tree, leaf, user]), before)
                self.assertTrue(self.lab.bind_works(user, "Old.Pass.1"))
                with open(path, encoding="utf-8") as f:
                    self.assertNotIn("dn:", f.read())

    def test_killed_halfway_leaves_a_file_that_restores_every_confirmed_change(self):
        n = 2000
        dns = [f"CN=k{i:04},{self.ou}" for i in range(n)]
        self.lab.add_many([(dn, {"objectClass": ["top", "contact"], "description": "orig"})
                           for dn in dns])
        path = self.undo_path()
        cmd = [os.environ["KELVO_BIN"]] + self.lab.connect_args() + [
            "-unsafe", "description::changed", "-undo", path]
        proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, env=self.lab.kelvo_env())
        proc.stdin.write("".join(d + "\n" for d in dns).encode())
        proc.stdin.close()
        seen = 0
        for line in proc.stdout:
            seen += line.count(b"DN: ")
            if seen >= n // 2:
                proc.send_signal(signal.SIGKILL)
                break
        proc.stdout.close()
        proc.wait(timeout=labkit.TIMEOUT)
        self.assertEqual(proc.returncode, -signal.SIGKILL, "the run ended before the kill")
        changed = [dn for dn, e in self.lab.read_all(self.ou, "(description=changed)",
                                                     "1.1").items()]
        self.assertGreaterEqual(len(changed), n // 2 - 1)
        self.assertLess(len(changed), n)
        rc, applied, text = self.apply(path)
        self.assertEqual(rc, 0, applied[-2000:])
        still = list(self.lab.read_all(self.ou, "(description=changed)", "1.1"))
        # Only the request in flight at the kill may be left, and the file
        # shows its undo as a comment.
        self.assertLessEqual(len(still), 1, still)
        for dn in still:
            self.assertIn("# IN FLIGHT", text)
            self.assertIn(f"# dn: {dn}".lower(), text.lower())
        # The records came last first.
        order = [line[4:] for line in text.splitlines() if line.startswith("dn: ")]
        numbers = [int(d.split(",")[0][4:]) for d in order]
        self.assertEqual(numbers, sorted(numbers, reverse=True))


class UndoOnSlapd(UndoMixin, labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def person(self, cn, **attrs):
        dn = f"cn={cn},{self.ou}"
        self.lab.add(dn, objectClass=["top", "person"], sn="s", **attrs)
        return dn

    def test_modify_add_rename_and_move(self):
        p = self.person("p1", description=["a", "b"], telephoneNumber="1")
        self.round_trip([p], ["-b", p, "description:-:a", "telephoneNumber::2", "seeAlso::cn=x"])
        added = f"cn=added,{self.ou}"
        self.round_trip([added], ["-b", added, "-add", "objectClass::person", "sn::s"])
        target = f"ou=target,{self.ou}"
        self.lab.add(target, objectClass=["top", "organizationalUnit"])
        dns = [p, f"cn=p2,{self.ou}", f"cn=p1,{target}"]
        self.round_trip(dns, ["-b", p, "-rename", "p2"])
        self.round_trip(dns, ["-b", p, "-move", target])

    def test_delete_is_refused_where_deleted_objects_are_not_kept(self):
        p = self.person("keep")
        path = self.undo_path()
        rc, out = self.lab.kelvo("-b", p, "-rm", "-undo", path)
        self.assertEqual(rc, 0x35, out)
        self.assertIn("does not keep deleted objects", out)
        self.assertTrue(self.lab.exists(p))
        # Without -undo the same delete goes through.
        self.assertEqual(self.lab.kelvo("-b", p, "-rm")[0], 0)
        self.assertFalse(self.lab.exists(p))


if __name__ == "__main__":
    labkit.main()
