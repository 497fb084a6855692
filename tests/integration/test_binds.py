"""Every bind kind the labs support, and the failures an administrator meets."""
import os
import socket
import unittest

import labkit


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class BindsOnActiveDirectory(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lab = labkit.samba()
        e = cls.lab.env
        cls.e = e
        cls.target = ["-b", "rootdse", "-q", "-extsrvinfo"]

    def run_bind(self, *args, env=None):
        # A harmless change: an unknown operational RootDSE attribute is refused
        # after the bind, so a bind that works gives a directory error, not a
        # bind error.  Reading the server information is what we check.
        return self.lab.kelvo(*args, "-b", "rootdse", "-extsrvinfo", "kelvoNoSuchOp::1",
                              bind="none", env=env)

    def assertBound(self, result):
        rc, out = result
        self.assertNotIn("ldap_bind_s", out)
        self.assertNotIn("Terminating Program", out)
        self.assertIn("Server          : " + self.e["LAB_HOST"], out)
        self.assertIn("Default NC      : ", out)
        return out

    def test_simple_over_ldaps(self):
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-ssl", "-simple", "-u",
                                       self.e["LAB_ADMIN_UPN"], "-up", self.e["LAB_PASSWORD"]))

    def test_simple_with_starttls(self):
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-starttls", "-simple", "-u",
                                       self.e["LAB_ADMIN_DN"], "-up", self.e["LAB_PASSWORD"]))

    def test_kerberos_from_ticket_cache(self):
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"]))

    def test_kerberos_from_user_and_password(self):
        env = {"KRB5CCNAME": "FILE:/nonexistent/kelvo-no-cache"}
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-u", self.e["LAB_ADMIN_USER"],
                                       "-up", self.e["LAB_PASSWORD"], env=env))

    def test_kerberos_with_sign_and_seal(self):
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-kerbenc"))

    def test_ntlm(self):
        env = {"KRB5CCNAME": "FILE:/nonexistent/kelvo-no-cache"}
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-ntlm", "-u",
                                       self.e["LAB_ADMIN_USER"], "-up", self.e["LAB_PASSWORD"],
                                       env=env))

    def test_wrong_password(self):
        rc, out = self.run_bind("-h", self.e["LAB_HOST"], "-ssl", "-simple", "-u",
                                self.e["LAB_ADMIN_UPN"], "-up", "wrong-password")
        self.assertEqual(rc, 49, out)
        self.assertIn(f"ldap_bind_s: [{self.e['LAB_HOST']}] Error 0x31 (49) - Invalid credentials",
                      out)

    def test_certificate_checked_unless_ignored(self):
        env = {"LDAPTLS_CACERT": "/etc/ssl/certs/ca-certificates.crt"}
        rc, out = self.run_bind("-h", self.e["LAB_HOST"], "-ssl", "-simple", "-u",
                                self.e["LAB_ADMIN_UPN"], "-up", self.e["LAB_PASSWORD"], env=env)
        self.assertEqual(rc, 255, out)
        self.assertIn("Error 0x51 (81)", out)
        self.assertBound(self.run_bind("-h", self.e["LAB_HOST"], "-sslignoresrvcert", "-simple",
                                       "-u", self.e["LAB_ADMIN_UPN"], "-up",
                                       self.e["LAB_PASSWORD"], env=env))

    def test_stopped_server(self):
        rc, out = self.run_bind("-h", f"127.0.0.1:{free_port()}", "-simple", "-u", "x", "-up",
                                "y")
        self.assertEqual(rc, 255, out)
        self.assertIn("Error 0x51 (81) - Can't contact LDAP server", out)
        self.assertIn("Terminating Program.", out)


class BindsOnOpenLdap(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lab = labkit.slapd()
        cls.e = cls.lab.env
        cls.host = f"{cls.e['LAB_ADDR']}:{cls.e['LAB_PORT']}"

    def run_bind(self, *args):
        return self.lab.kelvo("-h", self.host, *args, "-b", "rootdse", "-extsrvinfo",
                              "kelvoNoSuchOp::1", bind="none")

    def assertBound(self, result):
        rc, out = result
        self.assertNotIn("ldap_bind_s", out)
        self.assertIn("Directory Type  : OpenLDAP", out)
        return out

    def test_anonymous(self):
        self.assertBound(self.run_bind("-u", ""))

    def test_simple(self):
        self.assertBound(self.run_bind("-simple", "-u", self.e["LAB_ADMIN_DN"], "-up",
                                       self.e["LAB_PASSWORD"]))

    def test_digest_by_name_and_by_dn(self):
        self.assertBound(self.run_bind("-digest", "-u", self.e["LAB_DIGEST_USER"], "-up",
                                       self.e["LAB_DIGEST_PASSWORD"]))
        # A user text with "cn=" switches to Digest by itself.
        self.assertBound(self.run_bind("-u", self.e["LAB_DIGEST_DN"], "-up",
                                       self.e["LAB_DIGEST_PASSWORD"]))

    def test_digest_wrong_password(self):
        rc, out = self.run_bind("-digest", "-u", self.e["LAB_DIGEST_USER"], "-up", "nope")
        self.assertEqual(rc, 49, out)


if __name__ == "__main__":
    labkit.main()
