"""Attribute actions sent to real directories and read back."""
import labkit


class ModifyOnActiveDirectory(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def setUp(self):
        self.dn = f"cn=mod{self._testMethodName[-12:]},{self.ou}"
        self.lab.add(self.dn, objectClass=["top", "contact"], description="start",
                     otherTelephone=["1", "2"])

    def tearDown(self):
        self.lab.delete_tree(self.dn)

    def test_every_operation_reads_back(self):
        out = self.assertRun(self.lab.kelvo("-b", self.dn, "description::hello world",
                                            "otherTelephone:++:3;4", "otherTelephone:-:1",
                                            "info::x:y", "url:+:http"),
                             contains=["Modifying specified objects...", f"   DN: {self.dn}...",
                                       "The command completed successfully."])
        got = self.lab.read(self.dn, "description", "otherTelephone", "info", "url")
        self.assertEqual(got["description"], ["hello world"])
        self.assertEqual(sorted(got["othertelephone"]), ["2", "3", "4"])
        self.assertEqual(got["info"], ["x:y"])
        self.assertEqual(got["url"], ["http"])
        self.assertIn("DN Count: 1", out)

    def test_clear_and_replace_all(self):
        self.assertRun(self.lab.kelvo("-b", self.dn, "description:-", "otherTelephone:+-:7;8"))
        got = self.lab.read(self.dn, "description", "otherTelephone")
        self.assertNotIn("description", got)
        self.assertEqual(sorted(got["othertelephone"]), ["7", "8"])

    def test_replace_all_values_of_an_empty_attribute(self):
        # url has no value yet: a replace of all values needs no -permissive.
        self.assertRun(self.lab.kelvo("-b", self.dn, "url:+-:http://a;http://b"))
        self.assertEqual(sorted(self.lab.read(self.dn, "url")["url"]), ["http://a", "http://b"])
        self.assertRun(self.lab.kelvo("-b", self.dn, "url:+-:http://c"))
        self.assertEqual(self.lab.read(self.dn, "url")["url"], ["http://c"])

    def test_refused_input_lines_fail_the_run(self):
        # The valid DN is still changed; the refused line fails the run.
        rc, out = self.lab.kelvo("description::partly", stdin=f"not a dn\n{self.dn}\n")
        self.assertEqual(rc, 34, out)  # invalid DN syntax
        self.assertIn("ERROR: BAD DN Format (not a dn)", out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertEqual(self.lab.read(self.dn, "description")["description"], ["partly"])

    def test_quiet_runs_show_failures_on_standard_error(self):
        missing = f"cn=missing,{self.ou}"
        stdin = f"{missing}\n{self.dn}\n{missing}x\n"
        rc, out, err = self.lab.kelvo_streams("-q2", "-cont", "description::quiet", stdin=stdin)
        self.assertEqual(rc, 32, out + err)
        # One DN line per object on standard output, each ending its line.
        self.assertEqual(out.splitlines(), [f"   DN: {missing}...", f"   DN: {self.dn}...",
                                            f"   DN: {missing}x..."])
        self.assertIn(f"   DN: {missing}...: [", err)
        self.assertIn("Error 0x20 (32)", err)
        self.assertEqual(err.count("Error 0x20 (32)"), 2, err)
        rc, out, err = self.lab.kelvo_streams("-q", "description::quiet", stdin=stdin)
        self.assertEqual(rc, 32)
        self.assertNotIn("DN:", out)
        self.assertIn(f"   DN: {missing}...: [", err)

    def test_a_log_that_loses_lines_fails_the_run(self):
        import resource
        import signal
        import tempfile

        def small_files():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (200, 200))

        with tempfile.TemporaryDirectory() as tmp:
            rc, out, _ = self.lab.kelvo_streams("-log", f"{tmp}/k.log", "-b", self.dn,
                                                "description::logged", preexec=small_files)
        # The change itself is made; the lost log lines still fail the run.
        self.assertEqual(rc, 255, out)
        self.assertIn("ERROR: Could not write log file - ", out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertEqual(self.lab.read(self.dn, "description")["description"], ["logged"])

    def test_failure_line_and_exit_status(self):
        rc, out = self.lab.kelvo("-b", self.dn, "otherTelephone:-:nosuchvalue")
        self.assertEqual(rc, 16, out)  # no such attribute (value)
        self.assertIn(f": [{self.lab.env['LAB_HOST']}] Error 0x10 (16) - ", out)
        self.assertIn("The command did not complete successfully.", out)

    def test_cont_tries_every_object_and_keeps_last_error(self):
        other = f"cn=other,{self.ou}"
        self.lab.add(other, objectClass=["top", "contact"])
        try:
            missing = f"cn=missing,{self.ou}"
            stdin = f"{missing}\n{self.dn}\n{missing}x\n{other}\n"
            rc, out = self.lab.kelvo("description::cont", stdin=stdin)
            self.assertEqual(rc, 32, out)
            self.assertIn("Too many errors encountered, terminating", out)
            self.assertEqual(self.lab.read(self.dn, "description")["description"], ["start"])
            rc, out = self.lab.kelvo("-cont", "description::cont", stdin=stdin)
            self.assertEqual(rc, 32, out)
            self.assertEqual(self.lab.read(self.dn, "description")["description"], ["cont"])
            self.assertEqual(self.lab.read(other, "description")["description"], ["cont"])
        finally:
            self.lab.delete_tree(other)

    def test_nc_head_needs_switch(self):
        rc, out = self.lab.kelvo("-b", self.lab.base, "description::nope")
        self.assertEqual(rc, 255, out)
        self.assertIn("ERROR: NC Head Update requires -updatenchead switch.", out)

    def test_typed_values(self):
        self.assertRun(self.lab.kelvo("-b", self.dn, "txt##description::tab\\there"))
        self.assertEqual(self.lab.read(self.dn, "description")["description"], ["tab\there"])

    def test_log_records_the_modifications(self):
        import tempfile, os
        with tempfile.TemporaryDirectory() as tmp:
            log = os.path.join(tmp, "k.log")
            self.assertRun(self.lab.kelvo("-b", self.dn, "-log", log, "description::logged"))
            text = open(log).read()
            self.assertIn("MOD: LDAP_MOD_REPLACE - description :: logged", text)
            self.assertIn("LDAP MOD STRUCTURE", text)
            self.assertIn("SUCCESS: 0", text)
            self.assertNotIn(self.lab.env["LAB_PASSWORD"], text)
            self.assertEqual(os.stat(log).st_mode & 0o777, 0o600)


class ModifyOnOpenLdap(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def test_replace_add_clear(self):
        dn = f"cn=p1,{self.ou}"
        self.lab.add(dn, objectClass=["person"], sn="one", description="a", seeAlso="cn=x")
        out = self.assertRun(self.lab.kelvo("-b", dn, "description::b", "telephoneNumber:++:1;2",
                                            "seeAlso:-"), code=0)
        got = self.lab.read(dn, "description", "telephoneNumber", "seeAlso")
        self.assertEqual(got["description"], ["b"])
        self.assertEqual(sorted(got["telephonenumber"]), ["1", "2"])
        self.assertNotIn("seealso", got)
        self.assertIn("completed successfully", out)


if __name__ == "__main__":
    labkit.main()
