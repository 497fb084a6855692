"""Failures in plain words: the server's diagnostic text right under the error
line, what an Active Directory code in it means, and the cause of a Kerberos
or TLS failure, all without -exterr or -d."""
import os

import labkit

WRONG_PASSWORD = "The user name or password is wrong."
DISABLED = "The account is disabled."
POLICY = ("The password does not meet the password policy (length, complexity, history or "
          "minimum age).")
NO_RIGHTS = "The bound account lacks the access rights for this change"
UNTRUSTED = "   Cause: The server's certificate is not trusted"
WRONG_NAME = "   Cause: The server's certificate does not carry the name Kelvo connected to"


class ErrorWordsOnActiveDirectory(labkit.LabTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.e = cls.lab.env
        pid = os.getpid()
        cls.disabled_dn = f"CN=kdis{pid},{cls.ou}"
        cls.disabled_password = "Kelvo.Disabled.1"
        cls.lab.add_user(cls.disabled_dn, f"kdis{pid}", cls.disabled_password,
                         userAccountControl="514")
        cls.target_dn = f"CN=kpol{pid},{cls.ou}"
        cls.lab.add_user(cls.target_dn, f"kpol{pid}", "Kelvo.Start.1")

    def simple_bind(self, user, password, *args, host=None, env=None):
        """A run that binds simply over LDAPS as `user` and changes the RootDSE
        harmlessly; a bind that works gives a directory error instead."""
        return self.lab.kelvo_streams("-h", host or self.e["LAB_HOST"], "-ssl", "-simple",
                                      "-u", user, "-up", password, *args, bind="none", env=env)

    def assertBlock(self, out, first, *following):
        """The first line holding `first` is followed directly by lines that
        start with `following`."""
        lines = out.splitlines()
        starts = [i for i, line in enumerate(lines) if first in line]
        self.assertTrue(starts, f"no line with {first!r} in:\n{out}")
        at = starts[0]
        for offset, expected in enumerate(following, 1):
            self.assertLess(at + offset, len(lines), out)
            self.assertTrue(lines[at + offset].startswith(expected),
                            f"line {at + offset} is {lines[at + offset]!r}, "
                            f"expected {expected!r}:\n{out}")

    def test_wrong_password_is_named(self):
        rc, out, _ = self.simple_bind(self.e["LAB_USER_DN"], "wrong-password", "-b", "rootdse",
                                      "kelvoNoSuchOp::1")
        self.assertEqual(rc, 49, out)
        self.assertBlock(out, f"ldap_bind_s: [{self.e['LAB_HOST']}] Error 0x31 (49)",
                         "   Extended Error: 80090308: ",
                         "   Meaning: " + WRONG_PASSWORD)
        self.assertRegex(out, r"Extended Error: .*AcceptSecurityContext error, data 52e")
        self.assertNotIn("wrong-password", out)

    def test_disabled_account_is_named(self):
        rc, out, _ = self.simple_bind(self.disabled_dn, self.disabled_password, "-b", "rootdse",
                                      "kelvoNoSuchOp::1")
        self.assertEqual(rc, 49, out)
        self.assertRegex(out, r"Extended Error: .*AcceptSecurityContext error, data 533")
        self.assertBlock(out, "   Extended Error: 80090308: ", "   Meaning: " + DISABLED)
        # -exterr changes nothing when there is a diagnostic text.
        rc2, out2, _ = self.simple_bind(self.disabled_dn, self.disabled_password, "-exterr",
                                        "-b", "rootdse", "kelvoNoSuchOp::1")
        self.assertEqual(rc2, 49, out2)
        self.assertIn("   Meaning: " + DISABLED, out2)
        self.assertNotIn("No extended error info", out2)

    def test_password_against_the_policy(self):
        base = self.lab.base
        current = int(self.lab.read(base, "minPwdLength")["minpwdlength"][0])
        raised = current < 7
        if raised:
            self._set_min_length(7)
        try:
            rc, out = self.lab.kelvo("-b", self.target_dn, "-setpwd", "ab1")
            self.assertEqual(rc, 19, out)
            self.assertBlock(out, "Error 0x13 (19)", "   Extended Error: 0000052D: ",
                             "   Meaning: " + POLICY)
            self.assertNotIn("ab1", out.replace(self.target_dn, ""))
        finally:
            if raised:
                self._set_min_length(current)

    def _set_min_length(self, length):
        rc, out = self.lab.ldif(
            "ldapmodify",
            f"dn: {self.lab.base}\nchangetype: modify\nreplace: minPwdLength\n"
            f"minPwdLength: {length}\n")
        self.assertEqual(rc, 0, out)

    def test_insufficient_rights_on_stdout_and_under_quiet_on_stderr(self):
        user = (self.e["LAB_USER_DN"], self.e["LAB_USER_PASSWORD"])
        rc, out, _ = self.simple_bind(*user, "-b", self.target_dn, "description::not allowed")
        self.assertEqual(rc, 50, out)
        self.assertBlock(out, "Error 0x32 (50)", "   Extended Error: 00002098: ",
                         "   Meaning: " + NO_RIGHTS)
        # -q: the whole block goes to standard error, nothing to standard output.
        rc, out, err = self.simple_bind(*user, "-q", "-b", self.target_dn,
                                        "description::not allowed")
        self.assertEqual(rc, 50, out + err)
        self.assertNotIn("Extended Error", out)
        self.assertBlock(err, "Error 0x32 (50)", "   Extended Error: 00002098: ",
                         "   Meaning: " + NO_RIGHTS)
        self.assertIsNone(self.lab.read(self.target_dn, "description").get("description"))

    def test_untrusted_certificate(self):
        env = {"LDAPTLS_CACERT": "/etc/ssl/certs/ca-certificates.crt"}
        rc, out, _ = self.simple_bind(self.e["LAB_ADMIN_UPN"], self.e["LAB_PASSWORD"],
                                      "-b", "rootdse", "kelvoNoSuchOp::1", env=env)
        self.assertEqual(rc, 255, out)
        self.assertBlock(out, "ldap_bind_s: ", "   Extended Error: ")
        self.assertIn(UNTRUSTED, out)
        self.assertNotIn(self.e["LAB_PASSWORD"], out)

    def test_certificate_without_the_address_connected_to(self):
        rc, out, _ = self.simple_bind(self.e["LAB_ADMIN_UPN"], self.e["LAB_PASSWORD"],
                                      "-b", "rootdse", "kelvoNoSuchOp::1",
                                      host=self.e["LAB_ADDR"])
        self.assertEqual(rc, 255, out)
        self.assertIn(WRONG_NAME, out)

    def test_kerberos_without_a_ticket(self):
        env = {"KRB5CCNAME": "FILE:/nonexistent/kelvo-no-cache"}
        rc, out, _ = self.lab.kelvo_streams("-h", self.e["LAB_HOST"], "-b", "rootdse",
                                            "kelvoNoSuchOp::1", bind="none", env=env)
        self.assertNotEqual(rc, 0, out)
        self.assertIn("   Cause: No Kerberos ticket", out)

    def test_kerberos_server_principal_unknown(self):
        # Without name canonicalisation the service principal is ldap/<address>,
        # which the KDC does not know.
        env = {"LDAPSASL_NOCANON": "on"}
        rc, out, _ = self.lab.kelvo_streams("-h", self.e["LAB_ADDR"], "-b", "rootdse",
                                            "kelvoNoSuchOp::1", bind="none", env=env)
        self.assertNotEqual(rc, 0, out)
        self.assertIn("   Cause: The KDC does not know the server's service principal", out)


if __name__ == "__main__":
    labkit.main()
