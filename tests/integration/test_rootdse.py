"""What the RootDSE tells Kelvo about each lab server, as -extsrvinfo shows it."""
import unittest

import labkit


class RootDSE(unittest.TestCase):
    def info(self, lab):
        rc, out = lab.kelvo("-b", "rootdse", "-extsrvinfo", "kelvoNoSuchOp::1")
        fields = {}
        for line in out.splitlines():
            name, sep, value = line.partition(" : ")
            if sep and not line.startswith(" "):
                fields[name.strip()] = value.strip()
        return fields, out

    def test_active_directory(self):
        lab = labkit.samba()
        f, out = self.info(lab)
        self.assertEqual(f.get("Server"), lab.env["LAB_HOST"], out)
        self.assertTrue(f.get("Directory Type", "").startswith("Windows Server"), out)
        self.assertTrue(f.get("Domain Mode", "").endswith("Domain Mode"), out)
        self.assertEqual(f.get("Default NC", "").lower(), lab.base.lower())
        self.assertEqual(f.get("Root NC", "").lower(), lab.base.lower())
        self.assertEqual(f.get("Config NC", "").lower(), f"cn=configuration,{lab.base}".lower())
        self.assertEqual(f.get("Schema NC", "").lower(),
                         f"cn=schema,cn=configuration,{lab.base}".lower())

    def test_openldap(self):
        lab = labkit.slapd()
        f, out = self.info(lab)
        self.assertEqual(f.get("Directory Type"), "OpenLDAP", out)
        self.assertEqual(f.get("Default NC", ""), "", out)
        self.assertEqual(f.get("Domain Mode", ""), "")


if __name__ == "__main__":
    labkit.main()
