"""Shortcuts that create and change many objects, and the password switches,
against the Samba domain controller; every result is checked with the
independent client, passwords by binding with them."""
import os

import labkit


class BulkShortcutsOnActiveDirectory(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def sam(self, name):
        # sAMAccountName is unique in the whole domain (at most 20 characters).
        return f"k{os.getpid() % 100000}{name}"[:20]

    def test_numbered_users_get_passwords_that_bind(self):
        template = f"CN={self.sam('bu')},{self.ou}"
        out = self.assertRun(self.lab.kelvo("-sc", f"adau:3;;{template}"),
                             contains=["Adding specified objects...", "DN Count: 3"])
        # Each DN line is followed by the object's own generated password.
        found = []
        for line in out.splitlines():
            if line.startswith("   DN: ") and line.endswith('" '):
                dn, _, quoted = line[7:].partition('... "')
                found.append((dn, quoted[:-2]))
        names = [f"CN={self.sam('bu')}_{i},{self.ou}".lower() for i in range(3)]
        self.assertEqual([dn.lower() for dn, _ in found], names, out)
        passwords = [pw for _, pw in found]
        self.assertEqual(len(set(passwords)), 3, "every user has its own password")
        for dn, password in found:
            self.assertTrue(15 <= len(password) <= 20, password)
            got = self.lab.read(dn, "sAMAccountName", "userAccountControl", "objectClass")
            self.assertEqual(got["samaccountname"], [dn[3:dn.index(",")]])
            self.assertEqual(got["useraccountcontrol"], ["512"])
            self.assertIn("user", got["objectclass"])
            self.assertTrue(self.lab.bind_works(dn, password), dn)
            self.assertFalse(self.lab.bind_works(dn, password + "x"), dn)
        # The template itself is not created.
        self.assertFalse(self.lab.exists(template))

    def test_one_user_with_a_given_password(self):
        dn = f"CN={self.sam('one')},{self.ou}"
        self.assertRun(self.lab.kelvo("-sc", f"adau:1;Kelvo.Given.1;{dn}"))
        self.assertTrue(self.lab.bind_works(dn, "Kelvo.Given.1"))
        self.assertEqual(self.lab.read(dn, "sAMAccountName")["samaccountname"], [self.sam("one")])

    def test_numbered_groups_and_units(self):
        template = f"CN={self.sam('grp')},{self.ou}"
        self.assertRun(self.lab.kelvo("-sc", f"adag:2;gs;{template}"))
        for i in range(2):
            got = self.lab.read(f"CN={self.sam('grp')}_{i},{self.ou}", "groupType")
            self.assertEqual(got["grouptype"], ["-2147483646"])
        self.assertRun(self.lab.kelvo("-sc", f"adaou:2;OU=unit,{self.ou}"))
        self.assertTrue(self.lab.exists(f"OU=unit_0,{self.ou}"))
        self.assertTrue(self.lab.exists(f"OU=unit_1,{self.ou}"))

    def test_set_and_change_password(self):
        dn = f"CN=pw,{self.ou}"
        self.lab.add_user(dn, self.sam("pw"), "Kelvo.Start.1")
        self.assertRun(self.lab.kelvo("-b", dn, "-setpwd", "Kelvo.Set.2"))
        self.assertTrue(self.lab.bind_works(dn, "Kelvo.Set.2"))
        self.assertFalse(self.lab.bind_works(dn, "Kelvo.Start.1"))
        # The user changes its own password, giving the old one.
        as_user = ["-h", self.lab.env["LAB_HOST"], "-ssl", "-simple", "-u", dn, "-up",
                   "Kelvo.Set.2"]
        out = self.assertRun(self.lab.kelvo(*as_user, "-b", dn, "-chgpwd",
                                            "Kelvo.Set.2:Kelvo.Changed.3", bind="none"))
        self.assertNotIn("Kelvo.Changed.3", out)
        self.assertTrue(self.lab.bind_works(dn, "Kelvo.Changed.3"))
        self.assertFalse(self.lab.bind_works(dn, "Kelvo.Set.2"))
        # A wrong old password is refused and changes nothing.
        as_user[-1] = "Kelvo.Changed.3"
        rc, out = self.lab.kelvo(*as_user, "-b", dn, "-chgpwd", "Kelvo.Wrong.9:Kelvo.Never.4",
                                 bind="none")
        self.assertNotEqual(rc, 0, out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertTrue(self.lab.bind_works(dn, "Kelvo.Changed.3"))

    def test_rootdse_shortcut(self):
        out = self.assertRun(self.lab.kelvo("-sc", "refreshschema"),
                             contains=["The command completed successfully."])
        self.assertIn("   DN: ROOTDSE...", out)
        # An operation the server does not know is its error, not Kelvo's.
        rc, out = self.lab.kelvo("-sc", "refreshugc")
        self.assertNotEqual(rc, 0, out)
        self.assertIn("The command did not complete successfully.", out)


class ImportOnActiveDirectory(labkit.LabTest):
    """An export written with placeholders for the naming context, imported
    into an empty unit in two passes."""
    lab_factory = staticmethod(labkit.samba)

    def sam(self, name):
        return f"k{os.getpid() % 100000}{name}"[:20]

    def export(self, unit):
        """CSV text of a unit with three users, a manager chain and a group;
        DNs name the domain as <DEFAULTNC>."""
        rel = self.ou[: -len(self.lab.base)] + "<DEFAULTNC>"
        top = f"OU={unit},{rel}"
        user = lambda n: f"CN=imp{n},{top}"
        field = labkit.csv_field
        rows = ["DN,objectClass,sAMAccountName,description,manager,member"]
        rows.append(f'{field(top)},top;organizationalUnit,,imported unit,,')
        # Users refer to managers that come later in the file.
        for n, manager in ((1, 2), (2, 3), (3, None)):
            rows.append(f"{field(user(n))},top;person;organizationalPerson;user,"
                        f"{self.sam(unit + str(n))},user {n},"
                        f"{field(user(manager)) if manager else ''},")
        rows.append(f"{field(f'CN=impgroup,{top}')},top;group,{self.sam(unit + 'g')},the group,,"
                    f'"{user(1)};{user(3)}"')
        return "\n".join(rows) + "\n"

    def test_two_passes_fill_dn_attributes(self):
        unit = "twopass"
        top = f"OU={unit},{self.ou}"
        csv = self.export(unit)
        out = self.assertRun(self.lab.kelvo("-importpass1", "-add", "-safety", "20", stdin=csv),
                             contains=["DN Count: 5"])
        for n in (1, 2, 3):
            got = self.lab.read(f"CN=imp{n},{top}", "description", "manager")
            self.assertEqual(got["description"], [f"user {n}"], out)
            self.assertNotIn("manager", got, "pass 1 leaves DN attributes out")
        got = self.lab.read(f"CN=impgroup,{top}", "description", "member")
        self.assertEqual(got["description"], ["the group"])
        self.assertNotIn("member", got)
        self.assertEqual(self.lab.read(top, "description")["description"], ["imported unit"])

        # Rows with empty DN columns (most of an export) add nothing.
        out = self.assertRun(self.lab.kelvo("-importpass2", "-csvmodnull", "ignore", "-safety",
                                            "20", stdin=csv))
        for n, manager in ((1, 2), (2, 3)):
            got = self.lab.read(f"CN=imp{n},{top}", "manager")
            self.assertEqual([v.lower() for v in got["manager"]],
                             [f"CN=imp{manager},{top}".lower()], out)
        self.assertNotIn("manager", self.lab.read(f"CN=imp3,{top}", "manager"))
        got = self.lab.read(f"CN=impgroup,{top}", "member")
        self.assertEqual(sorted(v.lower() for v in got["member"]),
                         sorted(f"CN=imp{n},{top}".lower() for n in (1, 3)), out)

    def test_one_pass_import_with_a_named_replacement(self):
        # A user pair: the export's own unit name stands for another unit.
        unit = "onepass"
        csv = self.export(unit).replace("<DEFAULTNC>", "<OLDDOMAIN>")
        target = f"OU={unit},{self.ou}"
        self.assertRun(self.lab.kelvo("-import", "-add", "-safety", "20", "-importexclattr",
                                      "manager;member", "-replacedn",
                                      f"<OLDDOMAIN>:{self.lab.base}", stdin=csv))
        self.assertEqual(self.lab.read(f"CN=imp2,{target}", "description")["description"],
                         ["user 2"])
        got = self.lab.read(f"CN=impgroup,{target}", "sAMAccountName", "member")
        self.assertEqual(got["samaccountname"], [self.sam(unit + "g")])
        self.assertNotIn("member", got)
        # An update run of the same file with -replacedn fills the DN values.
        self.assertRun(self.lab.kelvo("-csv", "-safety", "20", "-replacedn",
                                      f"<OLDDOMAIN>:{self.lab.base}", "manager::{{.}}",
                                      stdin="\n".join(l for l in csv.splitlines()
                                                      if l.startswith(("\"CN=imp1,", "DN")))
                                      + "\n"))
        self.assertEqual([v.lower() for v in
                          self.lab.read(f"CN=imp1,{target}", "manager")["manager"]],
                         [f"CN=imp2,{target}".lower()])


if __name__ == "__main__":
    labkit.main()
