"""CSV and ADCSV input against real directories: one request per row, values
taken from the row, read back with the independent client."""
import os

import labkit

field = labkit.csv_field


class CsvRowsOnActiveDirectory(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def user(self, name, password=None, **attrs):
        # sAMAccountName is unique in the whole domain: the process id keeps
        # two runs apart.
        dn = f"CN={name},{self.ou}"
        self.lab.add_user(dn, f"k{os.getpid() % 100000}{name}"[:20], password, **attrs)
        return dn

    def test_hundred_rows_each_get_their_own_values(self):
        dns = [f"CN=row{i:03},{self.ou}" for i in range(100)]
        self.lab.add_many([(dn, {"objectClass": ["top", "contact"], "otherTelephone": "old"})
                           for dn in dns])
        lines = ["DN,description,otherTelephone"]
        for i, dn in enumerate(dns):
            # A comma in a quoted value stays in it; ";" separates values.
            lines.append(f'{field(dn)},"row {i}, of 100",{i};{i + 1000};x{i}')
        out = self.assertRun(self.lab.kelvo("-csv", "-safety", "200", "description::{{.}}",
                                            "otherTelephone:+-:{{.}}",
                                            stdin="\n".join(lines) + "\n"),
                             contains=["DN Count: 100", "The command completed successfully."])
        self.assertEqual(out.count("   DN: "), 100, out)
        got = self.lab.read_all(self.ou, "(cn=row*)", "description", "otherTelephone")
        self.assertEqual(len(got), 100)
        for i, dn in enumerate(dns):
            entry = got[dn.lower()]
            self.assertEqual(entry.get("description"), [f"row {i}, of 100"], dn)
            self.assertEqual(sorted(entry.get("othertelephone", [])),
                             sorted([str(i), str(i + 1000), f"x{i}"]), dn)

    def test_sid_opcodes_read_the_directory(self):
        # *sid* and *isid* look a name up on the bound directory.
        target = f"CN=sidrow,{self.ou}"
        self.lab.add(target, objectClass=["top", "contact"])
        rows = f"DN,who\n{field(target)},Administrator\n"
        self.assertRun(self.lab.kelvo("-csv", "description::{{*sid*:Administrator}}",
                                      "info::{{*isid*:Administrator}}", stdin=rows))
        got = self.lab.read(target, "description", "info")
        sid = got["description"][0]
        self.assertRegex(sid, r"^S-1-5-21-\d+-\d+-\d+-500$")
        self.assertEqual(got["info"], [f"<SID={sid}>"])

    def test_multi_value_add_keeps_existing_values(self):
        dn = f"CN=addvals,{self.ou}"
        self.lab.add(dn, objectClass=["top", "contact"], otherTelephone="keep")
        stdin = f"DN,otherTelephone\n{field(dn)},1;2;3\n"
        self.assertRun(self.lab.kelvo("-csv", "otherTelephone:++:{{.}}", stdin=stdin))
        self.assertEqual(sorted(self.lab.read(dn, "otherTelephone")["othertelephone"]),
                         ["1", "2", "3", "keep"])
        # Removing the row's values leaves the one that was there before.
        self.assertRun(self.lab.kelvo("-csv", "otherTelephone:--:{{.}}", stdin=stdin))
        self.assertEqual(self.lab.read(dn, "otherTelephone")["othertelephone"], ["keep"])

    def test_rows_for_one_dn_apply_in_input_order(self):
        dn = f"CN=twice,{self.ou}"
        other = f"CN=between,{self.ou}"
        for d in (dn, other):
            self.lab.add(d, objectClass=["top", "contact"])
        stdin = (f"DN,description\n{field(dn)},first\n{field(other)},middle\n"
                 f"{field(dn)},second\n{field(dn)},third\n")
        out = self.assertRun(self.lab.kelvo("-csv", "description::{{.}}", stdin=stdin))
        self.assertEqual(out.count(f"   DN: {dn}..."), 3, out)
        self.assertEqual(self.lab.read(dn, "description")["description"], ["third"])
        self.assertEqual(self.lab.read(other, "description")["description"], ["middle"])
        # The rows are separate requests: a later row adds to what an earlier
        # one wrote.
        stdin = f"DN,otherTelephone\n{field(dn)},1\n{field(dn)},2\n"
        self.assertRun(self.lab.kelvo("-csv", "otherTelephone:+:{{.}}", stdin=stdin))
        self.assertEqual(sorted(self.lab.read(dn, "otherTelephone")["othertelephone"]),
                         ["1", "2"])

    def test_account_control_arithmetic_from_a_column(self):
        a = self.user("uacA", "Kelvo.Pass.A1")
        b = self.user("uacB", "Kelvo.Pass.B1")
        uac = lambda dn: self.lab.read(dn, "userAccountControl")["useraccountcontrol"][0]
        self.assertEqual(uac(a), "512")
        # Each row's own value is the operand: 512 | 2 and (512|65536) | 2.
        stdin = f"DN,useraccountcontrol\n{field(a)},512\n{field(b)},66048\n"
        self.assertRun(self.lab.kelvo("-csv", "useraccountcontrol::{{useraccountcontrol:SET:2}}",
                                      stdin=stdin))
        self.assertEqual((uac(a), uac(b)), ("514", "66050"))
        stdin = f"DN,useraccountcontrol\n{field(a)},514\n{field(b)},0x10202\n"
        self.assertRun(self.lab.kelvo("-csv", "useraccountcontrol::{{.:CLR:0x10002}}",
                                      stdin=stdin))
        self.assertEqual((uac(a), uac(b)), ("512", "512"))

    def test_disable_and_enable_shortcuts_read_piped_rows(self):
        a = self.user("sdisA", "Kelvo.Pass.A2")
        b = self.user("sdisB", "Kelvo.Pass.B2")
        uac = lambda dn: self.lab.read(dn, "userAccountControl")["useraccountcontrol"][0]
        rows = f"DN,userAccountControl\n{field(a)},512\n{field(b)},512\n"
        out = self.assertRun(self.lab.kelvo("-sc", "ad-disable", stdin=rows),
                             contains=["DN Count: 2"])
        self.assertEqual((uac(a), uac(b)), ("514", "514"), out)
        self.assertFalse(self.lab.bind_works(a, "Kelvo.Pass.A2"))
        rows = f"DN,userAccountControl\n{field(a)},514\n{field(b)},514\n"
        self.assertRun(self.lab.kelvo("-sc", "ad-enable", stdin=rows))
        self.assertEqual((uac(a), uac(b)), ("512", "512"))
        self.assertTrue(self.lab.bind_works(a, "Kelvo.Pass.A2"))
        # Named flags: uacset / uacclear.
        rows = f"DN,userAccountControl\n{field(a)},512\n"
        self.assertRun(self.lab.kelvo("-sc", "uacset:dont_expire_passwd", stdin=rows))
        self.assertEqual(uac(a), "66048")
        rows = f"DN,userAccountControl\n{field(a)},66048\n"
        self.assertRun(self.lab.kelvo("-sc", "uacclear:DONT_EXPIRE_PASSWD", stdin=rows))
        self.assertEqual(uac(a), "512")

    def test_adcsv_marker_supplies_the_connection(self):
        dn = f"CN=adcsv,{self.ou}"
        self.lab.add(dn, objectClass=["top", "contact"])
        e = self.lab.env

        def marker(password, delim=",", mvdelim=";"):
            fields = ["", "x", delim, mvdelim, '"', e["LAB_HOST"], "636", e["LAB_ADMIN_UPN"],
                      password, "1", "", "", "1"]
            return "~~~ADCSV~~~".join(fields)

        rows = f"DN,description,otherTelephone\n{field(dn)},from adcsv,7;8\n"
        # No -h, -u or -up: the marker line names server, port, user,
        # password, a simple bind and SSL; ADCSV also turns expansion on.
        out = self.assertRun(self.lab.kelvo("description::{{.}}", "otherTelephone:+-:{{.}}",
                                            stdin=marker(e["LAB_PASSWORD"]) + "\n" + rows,
                                            bind="none"),
                             contains=[f"   DN: {dn}..."])
        self.assertNotIn(e["LAB_PASSWORD"], out)
        got = self.lab.read(dn, "description", "otherTelephone")
        self.assertEqual(got["description"], ["from adcsv"])
        self.assertEqual(sorted(got["othertelephone"]), ["7", "8"])
        # The marker's delimiters are the ones the rows are read with.
        piped = f"DN|description|otherTelephone\n{field(dn)}|tab, comma|5^6\n"
        self.assertRun(self.lab.kelvo("description::{{.}}", "otherTelephone:+-:{{.}}",
                                      stdin=marker(e["LAB_PASSWORD"], "|", "^") + "\n" + piped,
                                      bind="none"))
        got = self.lab.read(dn, "description", "otherTelephone")
        self.assertEqual(got["description"], ["tab, comma"])
        self.assertEqual(sorted(got["othertelephone"]), ["5", "6"])
        # A wrong password in the marker is what the bind uses.
        rc, out = self.lab.kelvo("description::{{.}}", stdin=marker("wrong") + "\n" + rows,
                                 bind="none")
        self.assertEqual(rc, 49, out)
        self.assertEqual(self.lab.read(dn, "description")["description"], ["tab, comma"])


class CsvRowsOnOpenLdap(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def test_update_rows(self):
        dns = [f"cn=p{i},{self.ou}" for i in range(3)]
        for i, dn in enumerate(dns):
            self.lab.add(dn, objectClass=["person"], sn=f"s{i}")
        lines = ["dn,description,telephoneNumber"] + [
            f"{field(dn)},d{i},{i}1;{i}2" for i, dn in enumerate(dns)]
        self.assertRun(self.lab.kelvo("-csv", "description::{{.}}",
                                      "telephoneNumber:++:{{.}}", stdin="\n".join(lines) + "\n"),
                       contains=["DN Count: 3", "The command completed successfully."])
        for i, dn in enumerate(dns):
            got = self.lab.read(dn, "description", "telephoneNumber")
            self.assertEqual(got["description"], [f"d{i}"])
            self.assertEqual(sorted(got["telephonenumber"]), [f"{i}1", f"{i}2"])

    def test_add_rows(self):
        dns = [f"cn=new{i},{self.ou}" for i in range(3)]
        lines = ["dn,sn,description,telephoneNumber"] + [
            f"{field(dn)},surname {i},{'' if i == 1 else f'made {i}'},{i}0;{i}9"
            for i, dn in enumerate(dns)]
        # An add run expands the row's values only with -expand.
        self.assertRun(self.lab.kelvo("-csv", "-add", "-expand", "objectClass::person", "sn::{{.}}",
                                      "description::{{.}}", "telephoneNumber:++:{{.}}",
                                      stdin="\n".join(lines) + "\n"),
                       contains=["The command completed successfully."])
        for i, dn in enumerate(dns):
            got = self.lab.read(dn, "sn", "description", "telephoneNumber")
            self.assertIsNotNone(got, dn)
            self.assertEqual(got["sn"], [f"surname {i}"])
            # An empty value is left out of the new entry.
            self.assertEqual(got.get("description"), None if i == 1 else [f"made {i}"])
            self.assertEqual(sorted(got["telephonenumber"]), [f"{i}0", f"{i}9"])


if __name__ == "__main__":
    labkit.main()
