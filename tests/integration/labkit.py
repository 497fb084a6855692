"""Helpers for the tests that run Kelvo against the lab directories.

The lab fixtures write lab.env files; LAB_SAMBA_ENV and LAB_SLAPD_ENV name
them, KELVO_BIN names the binary.  Objects are created and read back with
OpenLDAP's command-line clients over LDAPS, independently of Kelvo.
"""
import base64
import os
import shlex
import subprocess
import tempfile
import unittest

TIMEOUT = 120


def load_env(path):
    env = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#") or "=" not in line:
                continue
            key, _, value = line.partition("=")
            words = shlex.split(value) if value else [""]
            env[key] = words[0] if words else ""
    return env


class Lab:
    def __init__(self, env_path):
        self.env = load_env(env_path)
        self.kind = self.env["LAB_KIND"]
        self.base = self.env["LAB_BASE"]
        self.host = self.env["LAB_HOST"] if self.kind == "samba" else self.env["LAB_ADDR"]
        self.addr = self.env["LAB_ADDR"]

    # --- the independent client ------------------------------------------
    def _client_env(self):
        env = dict(os.environ)
        env["LDAPTLS_CACERT"] = self.env["LAB_CACERT"]
        if self.kind == "slapd":
            env["LDAPTLS_REQCERT"] = "never"
        return env

    def _client_args(self):
        if self.kind == "samba":
            uri = f"ldaps://{self.env['LAB_HOST']}"
        else:
            uri = f"ldap://{self.env['LAB_ADDR']}:{self.env['LAB_PORT']}"
        return ["-H", uri, "-x", "-D", self.env["LAB_ADMIN_DN"], "-w", self.env["LAB_PASSWORD"]]

    def ldif(self, tool, text, extra=()):
        proc = subprocess.run([tool] + self._client_args() + list(extra), input=text.encode(),
                              capture_output=True, env=self._client_env(), timeout=TIMEOUT)
        return proc.returncode, proc.stdout.decode() + proc.stderr.decode()

    def add(self, dn, **attrs):
        lines = [f"dn: {dn}"]
        for name, values in attrs.items():
            for v in values if isinstance(values, (list, tuple)) else [values]:
                lines.append(f"{name}: {v}")
        rc, out = self.ldif("ldapadd", "\n".join(lines) + "\n")
        if rc != 0:
            raise AssertionError(f"ldapadd {dn} failed: {out}")

    def add_many(self, entries):
        """Adds (dn, {attribute: value or values}) entries with one client run;
        an attribute name ending in ":" takes a base64 value."""
        blocks = []
        for dn, attrs in entries:
            lines = [f"dn: {dn}"]
            for name, values in attrs.items():
                for v in values if isinstance(values, (list, tuple)) else [values]:
                    lines.append(f"{name}: {v}")
            blocks.append("\n".join(lines))
        rc, out = self.ldif("ldapadd", "\n\n".join(blocks) + "\n")
        if rc != 0:
            raise AssertionError(f"ldapadd of {len(entries)} entries failed: {out}")

    def add_user(self, dn, sam, password=None, **attrs):
        """An Active Directory user; with a password it is enabled (512)."""
        entry = {"objectClass": ["top", "person", "organizationalPerson", "user"],
                 "sAMAccountName": sam}
        if password is not None:
            entry["unicodePwd:"] = unicode_pwd(password)
            entry["userAccountControl"] = "512"
        entry.update(attrs)
        self.add_many([(dn, entry)])

    def bind_works(self, dn, password):
        """True when a simple bind as dn with password succeeds."""
        # A base search of the RootDSE: Samba has no "who am I" operation.
        proc = subprocess.run(["ldapsearch"] + self._client_args()[:3]
                              + ["-D", dn, "-w", password, "-s", "base", "-b", "", "1.1"],
                              capture_output=True, env=self._client_env(), timeout=TIMEOUT)
        return proc.returncode == 0

    def read_all(self, base, flt, *attrs, scope="one"):
        """DN (lower case) -> {attribute: values} of every entry below base."""
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self._client_args()
                              + ["-b", base, "-s", scope, flt] + list(attrs),
                              capture_output=True, env=self._client_env(), timeout=TIMEOUT)
        if proc.returncode != 0:
            raise AssertionError(f"ldapsearch {base}: {proc.stderr.decode()}")
        entries, current = {}, None
        for line in proc.stdout.decode("utf-8", "replace").splitlines():
            if not line:
                continue
            name, _, value = line.partition(":")
            if value.startswith(":"):
                value = base64.b64decode(value[1:].strip()).decode("utf-8", "replace")
            else:
                value = value.strip()
            if name == "dn":
                current = entries.setdefault(value.lower(), {})
            elif current is not None:
                current.setdefault(name.lower(), []).append(value)
        return entries

    def delete_tree(self, dn):
        # Active Directory removes a whole tree in one request (the tree
        # delete control), which ldapdelete cannot send; Kelvo's -treedelete
        # does.  Whatever is left goes one entry at a time.
        if self.kind == "samba" and os.environ.get("KELVO_BIN") and self.exists(dn):
            subprocess.run([os.environ["KELVO_BIN"]] + self.connect_args()
                           + ["-q", "-b", dn, "-rm", "-treenuke"], capture_output=True,
                           env=self.kelvo_env(), timeout=TIMEOUT)
        if self.exists(dn):
            subprocess.run(["ldapdelete", "-r"] + self._client_args() + [dn],
                           capture_output=True, env=self._client_env(), timeout=4 * TIMEOUT)

    def read(self, dn, *attrs, scope="base", extra=()):
        """Attribute -> list of values of the entry (lower-case names); None when absent."""
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self._client_args()
                              + list(extra) + ["-b", dn, "-s", scope, "(objectClass=*)"]
                              + list(attrs), capture_output=True, env=self._client_env(),
                              timeout=TIMEOUT)
        if proc.returncode == 32:
            return None
        if proc.returncode != 0:
            raise AssertionError(f"ldapsearch {dn}: {proc.stderr.decode()}")
        result = {}
        for line in proc.stdout.decode("utf-8", "replace").splitlines():
            if not line or line.startswith("dn:") or line.startswith("dn::"):
                continue
            name, sep, value = line.partition(":")
            if value.startswith(":"):
                value = base64.b64decode(value[1:].strip()).decode("utf-8", "replace")
            else:
                value = value.strip()
            result.setdefault(name.lower(), []).append(value)
        return result

    def search(self, base, flt, scope="one", extra=()):
        """DNs below base matching the filter, in result order."""
        proc = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self._client_args()
                              + list(extra) + ["-b", base, "-s", scope, flt, "1.1"],
                              capture_output=True, env=self._client_env(), timeout=TIMEOUT)
        dns = []
        for line in proc.stdout.decode("utf-8", "replace").splitlines():
            if line.startswith("dn:: "):
                dns.append(base64.b64decode(line[5:]).decode("utf-8", "replace"))
            elif line.startswith("dn: "):
                dns.append(line[4:])
        return dns

    def exists(self, dn):
        return self.read(dn, "1.1") is not None

    # --- Kelvo ---------------------------------------------------------------
    def connect_args(self, bind="default"):
        e = self.env
        if bind != "default":
            return []
        if self.kind == "samba":
            if bind == "default":
                return ["-h", e["LAB_HOST"], "-ssl", "-simple", "-u", e["LAB_ADMIN_UPN"],
                        "-up", e["LAB_PASSWORD"]]
            return []
        return ["-h", f"{e['LAB_ADDR']}:{e['LAB_PORT']}", "-simple", "-u", e["LAB_ADMIN_DN"],
                "-up", e["LAB_PASSWORD"]]

    def kelvo_env(self, extra=None):
        env = {k: v for k, v in os.environ.items()
               if not k.lower().startswith(("pellix-default-kelvo-", "quorv-"))}
        env.pop("LDAPURI", None)
        env["LDAPTLS_CACERT"] = self.env["LAB_CACERT"]
        if self.kind == "samba":
            env["KRB5_CONFIG"] = self.env["KRB5_CONFIG"]
            env["KRB5CCNAME"] = self.env["KRB5CCNAME"]
        if extra:
            env.update(extra)
        return env

    def kelvo(self, *args, stdin=None, bind="default", env=None, cwd=None):
        rc, out, _ = self.kelvo_streams(*args, stdin=stdin, bind=bind, env=env, cwd=cwd)
        return rc, out

    def kelvo_streams(self, *args, stdin=None, bind="default", env=None, cwd=None,
                      preexec=None):
        """Like kelvo(), with standard error as a third value; `preexec` runs
        in the child before Kelvo starts (limits, signals)."""
        cmd = [os.environ["KELVO_BIN"]] + self.connect_args(bind) + list(args)
        proc = subprocess.run(cmd, input=(stdin or "").encode(), capture_output=True,
                              env=self.kelvo_env(env), timeout=TIMEOUT, cwd=cwd,
                              preexec_fn=preexec)
        out = proc.stdout.decode("utf-8", "replace")
        err = proc.stderr.decode("utf-8", "replace")
        for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
            if marker in err:
                raise AssertionError(f"sanitizer report from {cmd[1:]}:\n{err}")
        return proc.returncode, out, err


def unicode_pwd(password):
    """The base64 text of Active Directory's quoted UTF-16LE password value."""
    return base64.b64encode(f'"{password}"'.encode("utf-16-le")).decode()


def csv_field(text):
    """One CSV field in double quotes (the DN column holds commas)."""
    return '"' + text.replace('"', '\\"') + '"'


def samba():
    return Lab(os.environ["LAB_SAMBA_ENV"])


def slapd():
    return Lab(os.environ["LAB_SLAPD_ENV"])


class LabTest(unittest.TestCase):
    """Creates a private OU (AD) or organizationalUnit (slapd) per test class."""
    lab_factory = staticmethod(samba)

    @classmethod
    def setUpClass(cls):
        cls.lab = cls.lab_factory()
        cls.ou = f"ou=k{cls.__name__.lower()[:20]}{os.getpid()},{cls.lab.base}"
        cls.lab.delete_tree(cls.ou)
        cls.lab.add(cls.ou, objectClass=["top", "organizationalUnit"])

    @classmethod
    def tearDownClass(cls):
        cls.lab.delete_tree(cls.ou)

    def assertRun(self, result, code=0, contains=()):
        rc, out = result
        self.assertEqual(rc, code & 0xFF, out)
        for text in contains:
            self.assertIn(text, out)
        return out


def main():
    unittest.main(verbosity=2)
