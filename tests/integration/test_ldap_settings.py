"""OpenLDAP's client settings and the ways scripts pass passwords, against the
lab directories.

Every run gets a fresh HOME and working folder, and no LDAP* variable from the
caller's environment, so the machine's own ~/.ldaprc never takes part.  The
lab CA is not among the system's trusted CAs: a TLS bind works only when a
setting names the lab CA or turns certificate checking off.
"""
import os
import stat
import subprocess
import tempfile

import labkit

UNTRUSTED_CA = "/etc/ssl/certs/ca-certificates.crt"


class Runner:
    """Runs Kelvo with a private HOME and working folder."""

    def __init__(self, lab):
        self.lab = lab
        self.tmp = tempfile.TemporaryDirectory(prefix="kelvo-settings-")
        self.home = os.path.join(self.tmp.name, "home")
        self.work = os.path.join(self.tmp.name, "work")
        os.mkdir(self.home)
        os.mkdir(self.work)

    def close(self):
        self.tmp.cleanup()

    def write(self, path, text, mode=0o600):
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, mode)
        return path

    def env(self, extra):
        env = self.lab.kelvo_env()
        for name in list(env):
            if name.startswith("LDAP"):
                del env[name]
        env["HOME"] = self.home
        env.update(extra or {})
        return env

    def run(self, *args, env=None, cwd=None, stdin="", new_session=False):
        proc = subprocess.run([os.environ["KELVO_BIN"]] + list(args), input=stdin.encode(),
                              capture_output=True, env=self.env(env), cwd=cwd or self.work,
                              timeout=labkit.TIMEOUT, start_new_session=new_session)
        out = proc.stdout.decode("utf-8", "replace")
        err = proc.stderr.decode("utf-8", "replace")
        for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
            if marker in err:
                raise AssertionError(f"sanitizer report from {args}:\n{err}")
        return proc.returncode, out, err


class SettingsOnActiveDirectory(labkit.unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lab = labkit.samba()
        cls.e = cls.lab.env

    def setUp(self):
        self.runner = Runner(self.lab)

    def tearDown(self):
        self.runner.close()

    def bind(self, *transport, password=None, env=None, cwd=None, extra=()):
        """A simple bind followed by a harmless refused RootDSE change (see
        test_binds); -up PASSWORD unless extra names the password."""
        pw = [] if password is False else ["-up", password or self.e["LAB_PASSWORD"]]
        return self.runner.run(*transport, "-simple", "-u", self.e["LAB_ADMIN_UPN"], *pw,
                               *extra, "-b", "rootdse", "-extsrvinfo", "kelvoNoSuchOp::1",
                               env=env, cwd=cwd)

    def assertBound(self, result):
        rc, out, err = result
        self.assertNotIn("ldap_bind_s", out + err)
        self.assertIn("Server          : " + self.e["LAB_HOST"], out)
        self.assertNotIn(self.e["LAB_PASSWORD"], out + err)
        return out

    def assertUntrusted(self, result):
        rc, out, err = result
        self.assertEqual(rc, 255, out + err)
        self.assertIn("ldap_bind_s: ", out)
        self.assertIn("Error 0x51 (81)", out)
        self.assertNotIn("Server          : ", out)

    def ldaps(self):
        return ("-h", self.e["LAB_HOST"], "-ssl")

    def test_reqcert_never_from_the_environment(self):
        untrusted = {"LDAPTLS_CACERT": UNTRUSTED_CA}
        self.assertUntrusted(self.bind(*self.ldaps(), env=untrusted))
        never = dict(untrusted, LDAPTLS_REQCERT="never")
        self.assertBound(self.bind(*self.ldaps(), env=never))
        self.assertBound(self.bind("-h", self.e["LAB_HOST"], "-starttls", env=never))
        # -d names where the settings came from and what they are, not the password.
        out = self.assertBound(self.bind(*self.ldaps(), "-d", env=never))
        self.assertIn("DEBUG: LDAP settings variables: LDAPTLS_CACERT, LDAPTLS_REQCERT\n", out)
        self.assertIn("DEBUG: LDAP setting TLS_REQCERT = never\n", out)
        self.assertIn(f"DEBUG: LDAP setting TLS_CACERT = {UNTRUSTED_CA}\n", out)

    def test_reqcert_from_home_ldaprc_and_the_environment_wins(self):
        self.runner.write(os.path.join(self.runner.home, ".ldaprc"), "TLS_REQCERT never\n")
        untrusted = {"LDAPTLS_CACERT": UNTRUSTED_CA}
        out = self.assertBound(self.bind(*self.ldaps(), "-d", env=untrusted))
        self.assertIn(os.path.join(self.runner.home, ".ldaprc"), out)
        self.assertUntrusted(self.bind(*self.ldaps(), env=dict(untrusted,
                                                                 LDAPTLS_REQCERT="demand")))

    def test_cacert_from_ldaprc_in_the_working_folder(self):
        self.runner.write(os.path.join(self.runner.work, "ldaprc"),
                          f"TLS_CACERT {self.e['LAB_CACERT']}\n")
        self.assertBound(self.bind(*self.ldaps()))
        self.assertBound(self.bind("-h", self.e["LAB_HOST"], "-starttls"))
        # The same run from a folder without the file does not trust the lab CA.
        self.assertUntrusted(self.bind(*self.ldaps(), cwd=self.runner.home))

    def test_cacert_from_the_file_ldaprc_names(self):
        rc_file = self.runner.write(os.path.join(self.runner.tmp.name, "lab.rc"),
                                    f"TLS_CACERT {self.e['LAB_CACERT']}\n")
        self.assertBound(self.bind(*self.ldaps(), env={"LDAPRC": rc_file}))
        self.assertUntrusted(self.bind(*self.ldaps()))

    def test_ignoring_the_server_certificate_still_wins(self):
        self.runner.write(os.path.join(self.runner.home, ".ldaprc"), "TLS_REQCERT demand\n")
        env = {"LDAPTLS_CACERT": UNTRUSTED_CA}
        self.assertBound(self.bind("-h", self.e["LAB_HOST"], "-sslignoresrvcert", env=env))

    def test_ldapuri_when_no_host_is_given(self):
        env = {"LDAPURI": f"ldaps://{self.e['LAB_HOST']}",
               "LDAPTLS_CACERT": self.e["LAB_CACERT"]}
        out = self.assertBound(self.bind("-d", env=env))
        self.assertIn(f"DEBUG: LDAP URI: ldaps://{self.e['LAB_HOST']}:636 (configured URI)", out)
        # A host switch wins over the configured URI.
        bad = dict(env, LDAPURI="ldaps://127.0.0.1:1")
        self.assertBound(self.bind(*self.ldaps(), env=bad))
        # ... and URI in an ldaprc file serves as well.
        self.runner.write(os.path.join(self.runner.home, ".ldaprc"),
                          f"URI ldaps://{self.e['LAB_HOST']}\n")
        self.assertBound(self.bind(env={"LDAPTLS_CACERT": self.e["LAB_CACERT"]}))

    def test_upfile_binds_and_a_readable_file_is_refused(self):
        trusted = {"LDAPTLS_CACERT": self.e["LAB_CACERT"]}
        pw_file = self.runner.write(os.path.join(self.runner.work, "pw"),
                                    self.e["LAB_PASSWORD"] + "\n", 0o600)
        self.assertBound(self.bind(*self.ldaps(), password=False, env=trusted,
                                   extra=("-upfile", pw_file)))
        os.chmod(pw_file, 0o644)
        rc, out, err = self.bind(*self.ldaps(), password=False, env=trusted,
                                 extra=("-upfile", pw_file))
        self.assertEqual(rc, 255, out + err)
        self.assertIn(f"ERROR: The password file {pw_file} may be read or written by group or "
                      "others", out)
        self.assertNotIn("ldap_bind_s", out)
        self.assertNotIn(self.e["LAB_PASSWORD"], out + err)
        # A wrong password from a file fails like any other.
        os.chmod(pw_file, 0o600)
        self.runner.write(pw_file, "not-the-password\r\n")
        rc, out, err = self.bind(*self.ldaps(), password=False, env=trusted,
                                 extra=("-upfile", pw_file))
        self.assertEqual(rc, 49, out + err)

    def test_password_prompt_without_a_terminal_fails(self):
        # Standard input is a pipe and the new session has no controlling
        # terminal: the piped text must not become the password.
        rc, out, err = self.runner.run(
            *self.ldaps(), "-simple", "-u", self.e["LAB_ADMIN_UPN"], "-up", "*", "-b", "rootdse",
            "kelvoNoSuchOp::1", env={"LDAPTLS_CACERT": self.e["LAB_CACERT"]},
            stdin=self.e["LAB_PASSWORD"] + "\n", new_session=True)
        self.assertEqual(rc, 255, out + err)
        self.assertIn("ERROR: A password prompt needs a terminal", out)
        self.assertNotIn("Server          : ", out)
        self.assertNotIn("ldap_bind_s", out)
        self.assertNotIn(self.e["LAB_PASSWORD"], out + err)


class SettingsOnOpenLdap(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def setUp(self):
        self.runner = Runner(self.lab)
        self.dn = f"cn=base{os.getpid()},{self.ou}"
        self.lab.add(self.dn, objectClass=["person"], sn="base")

    def tearDown(self):
        self.runner.close()

    def test_configured_base_and_uri_from_ldaprc(self):
        # slapd names no default naming context; BASE stands in for it, and
        # URI picks the server when no host switch is given.
        e = self.lab.env
        self.runner.write(os.path.join(self.runner.home, ".ldaprc"),
                          f"URI {e['LAB_URI']}\nBASE {self.dn}\n")
        rc, out, err = self.runner.run("-simple", "-u", e["LAB_ADMIN_DN"], "-up", e["LAB_PASSWORD"],
                                       "-default", "description::from the base", "-d")
        self.assertEqual(rc, 0, out + err)
        self.assertIn(f"DEBUG: Default naming context from BASE/LDAPBASE: {self.dn}", out)
        self.assertEqual(self.lab.read(self.dn, "description")["description"],
                         ["from the base"])
        # LDAPBASE overrides the file's BASE.
        rc, out, err = self.runner.run("-simple", "-u", e["LAB_ADMIN_DN"], "-up", e["LAB_PASSWORD"],
                                       "-default", "description::unused",
                                       env={"LDAPBASE": f"cn=none{os.getpid()},{self.ou}"})
        self.assertEqual(rc, 32, out + err)
        self.assertEqual(self.lab.read(self.dn, "description")["description"],
                         ["from the base"])


if __name__ == "__main__":
    labkit.main()
