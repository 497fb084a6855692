"""Add, delete, tree delete, rename, move and undelete on real directories."""
import labkit


class ObjectActionsOnActiveDirectory(labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def contact(self, cn, parent=None):
        dn = f"cn={cn},{parent or self.ou}"
        self.lab.add(dn, objectClass=["top", "contact"])
        return dn

    def test_add_a_small_tree_and_delete_it(self):
        ou = f"ou=tree,{self.ou}"
        leaf = f"cn=leaf,{ou}"
        self.assertRun(self.lab.kelvo("-b", ou, "-add", "objectClass::organizationalUnit",
                                      "description::made by kelvo"),
                       contains=["Adding specified objects..."])
        self.assertRun(self.lab.kelvo("-b", leaf, "-add", "objectClass::contact",
                                      "otherTelephone:++:1;2"))
        got = self.lab.read(leaf, "otherTelephone")
        self.assertEqual(sorted(got["othertelephone"]), ["1", "2"])
        # A container with children is refused without -treedelete.
        rc, out = self.lab.kelvo("-b", ou, "-rm")
        self.assertEqual(rc, 66, out)  # not allowed on non-leaf
        self.assertIn("Deleting specified objects...", out)
        self.assertTrue(self.lab.exists(leaf))
        self.assertRun(self.lab.kelvo("-b", ou, "-rm", "-treedelete"))
        self.assertFalse(self.lab.exists(ou))

    def test_delete_leaf(self):
        dn = self.contact("gone")
        self.assertRun(self.lab.kelvo("-b", dn, "-del"))
        self.assertFalse(self.lab.exists(dn))

    def test_rename_keeps_type_or_takes_given_one(self):
        dn = self.contact("old")
        self.assertRun(self.lab.kelvo("-b", dn, "-rename", "new"),
                       contains=[f"Renaming {dn} to cn=new"])
        self.assertTrue(self.lab.exists(f"cn=new,{self.ou}"))
        self.assertRun(self.lab.kelvo("-b", f"cn=new,{self.ou}", "-rename", "cn=newer"))
        self.assertTrue(self.lab.exists(f"cn=newer,{self.ou}"))
        self.assertFalse(self.lab.exists(dn))

    def test_move_with_and_without_new_rdn(self):
        target = f"ou=target,{self.ou}"
        self.lab.add(target, objectClass=["top", "organizationalUnit"])
        a = self.contact("mva")
        b = self.contact("mvb")
        self.assertRun(self.lab.kelvo("-b", a, "-move", target),
                       contains=[f"Moving specified objects to {target}..."])
        self.assertTrue(self.lab.exists(f"cn=mva,{target}"))
        self.assertRun(self.lab.kelvo("-b", b, "-move", f"cn=renamed;{target}"))
        self.assertTrue(self.lab.exists(f"cn=renamed,{target}"))
        self.assertFalse(self.lab.exists(b))

    def test_rbmove_uses_the_objects_own_domain(self):
        relative = self.ou.split(",", 1)[0]  # ou=k...,<domain>: relative to the domain
        inner = f"ou=inner,{self.ou}"
        self.lab.add(inner, objectClass=["top", "organizationalUnit"])
        dn = self.contact("rb", inner)
        self.assertRun(self.lab.kelvo("-b", dn, "-rbmove", relative))
        self.assertTrue(self.lab.exists(f"cn=rb,{self.ou}"))

    def test_undelete_to_last_known_parent_and_to_given_parent(self):
        first = self.contact("undelme")
        self.assertRun(self.lab.kelvo("-b", first, "-rm"))
        deleted = self.find_deleted("undelme")
        self.assertRun(self.lab.kelvo("-b", deleted, "-undel"),
                       contains=["Undeleting specified objects..."])
        self.assertTrue(self.lab.exists(first))

        elsewhere = f"ou=restored,{self.ou}"
        self.lab.add(elsewhere, objectClass=["top", "organizationalUnit"])
        self.assertRun(self.lab.kelvo("-b", first, "-rm"))
        deleted = self.find_deleted("undelme")
        self.assertRun(self.lab.kelvo("-b", deleted, "-undel", elsewhere, "description:+:back"))
        got = self.lab.read(f"cn=undelme,{elsewhere}", "description")
        self.assertEqual(got["description"], ["back"])

    def test_undelete_by_guid_takes_the_last_known_name(self):
        dn = self.contact("byguid")
        guid = self.guid_of(dn)
        self.assertRun(self.lab.kelvo("-b", dn, "-rm"))
        self.assertRun(self.lab.kelvo("-b", f"<GUID={guid}>", "-undel"))
        self.assertTrue(self.lab.exists(dn))

    def guid_of(self, dn):
        import base64, subprocess, uuid
        out = subprocess.run(["ldapsearch", "-LLL", "-o", "ldif-wrap=no"] + self.lab._client_args()
                             + ["-b", dn, "-s", "base", "(objectClass=*)", "objectGUID"],
                             capture_output=True, env=self.lab._client_env(), timeout=60).stdout
        for line in out.decode().splitlines():
            if line.startswith("objectGUID:: "):
                return str(uuid.UUID(bytes_le=base64.b64decode(line[13:])))
        self.fail(f"no objectGUID for {dn}")

    def test_undelete_skips_when_last_known_parent_is_deleted(self):
        parent = f"ou=doomed,{self.ou}"
        self.lab.add(parent, objectClass=["top", "organizationalUnit"])
        child = self.contact("orphan", parent)
        self.assertRun(self.lab.kelvo("-b", child, "-rm"))
        self.assertRun(self.lab.kelvo("-b", parent, "-rm"))
        deleted = self.find_deleted("orphan")
        # A skipped object is a failed object: it stops the run without
        # -cont, and the run does not report success.
        out = self.assertRun(self.lab.kelvo("-b", deleted, "-undel"), code=32)
        self.assertIn("ERROR: cn=Deleted Objects in Last Known Parent, must specify new parent, "
                      "skipping...", out)
        self.assertIn("The command did not complete successfully.", out)
        self.assertNotIn("completed successfully", out.replace("did not complete", ""))
        # With -cont the next object is still restored.
        other = self.contact("keeper")
        self.assertRun(self.lab.kelvo("-b", other, "-rm"))
        kept = self.find_deleted("keeper")
        out = self.assertRun(self.lab.kelvo("-undel", "-cont", stdin=f"{deleted}\n{kept}\n"),
                             code=32)
        self.assertTrue(self.lab.exists(other), out)

    def test_cont_over_a_mixed_list(self):
        a = self.contact("mixa")
        b = self.contact("mixb")
        missing = f"cn=nothere,{self.ou}"
        rc, out = self.lab.kelvo("-rm", "-cont", stdin=f"{a}\n{missing}\n{b}\n")
        self.assertEqual(rc, 32, out)
        self.assertFalse(self.lab.exists(a))
        self.assertFalse(self.lab.exists(b))
        self.assertIn("Error 0x20 (32)", out)

    def find_deleted(self, cn):
        """The DN of the newest deleted object whose name starts with cn."""
        out = self.lab.search(f"CN=Deleted Objects,{self.lab.base}", f"(cn={cn}*)",
                              extra=["-E", "!1.2.840.113556.1.4.417"])
        self.assertTrue(out, f"no deleted object named {cn}")
        return out[-1]


class ObjectActionsOnOpenLdap(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def test_add_rename_move_delete(self):
        dn = f"cn=o1,{self.ou}"
        self.assertRun(self.lab.kelvo("-b", dn, "-add", "objectClass::person", "sn::one"))
        self.assertRun(self.lab.kelvo("-b", dn, "-rename", "o2"))
        sub = f"ou=sub,{self.ou}"
        self.lab.add(sub, objectClass=["organizationalUnit"])
        self.assertRun(self.lab.kelvo("-b", f"cn=o2,{self.ou}", "-move", sub))
        self.assertTrue(self.lab.exists(f"cn=o2,{sub}"))
        self.assertRun(self.lab.kelvo("-b", f"cn=o2,{sub}", "-rm"))
        self.assertFalse(self.lab.exists(f"cn=o2,{sub}"))

    def test_refused_control_is_reported_and_stops_the_run(self):
        a = f"cn=ctla,{self.ou}"
        b = f"cn=ctlb,{self.ou}"
        for dn in (a, b):
            self.lab.add(dn, objectClass=["person"], sn="x")
        rc, out = self.lab.kelvo("-rm", "-treedelete", stdin=f"{a}\n{b}\n")
        self.assertEqual(rc, 12, out)  # unavailable critical extension
        self.assertIn(f"   DN: {a}...: [{self.lab.env['LAB_ADDR']}] Error 0xc (12) - ", out)
        self.assertIn("ERROR: Too many errors encountered, terminating...", out)
        self.assertNotIn(f"   DN: {b}", out)
        self.assertTrue(self.lab.exists(a) and self.lab.exists(b))

    def test_temporary_object_gets_its_time_to_live(self):
        dn = f"cn=tmp,{self.ou}"
        self.assertRun(self.lab.kelvo("-b", dn, "-add", "-tmpobj", "1h", "objectClass::person",
                                      "sn::tmp"))
        got = self.lab.read(dn, "objectClass", "entryTtl")
        self.assertIn("dynamicObject", got["objectclass"])
        # The directory counts the time to live down from the moment of the
        # request, so a slow machine may read it a second or two later.
        self.assertTtlNear(got["entryttl"], 3600)
        self.assertRun(self.lab.kelvo("-b", dn, "-tmpobj", "2h"))
        self.assertTtlNear(self.lab.read(dn, "entryTtl")["entryttl"], 7200)

    def assertTtlNear(self, values, expected):
        self.assertEqual(len(values), 1, values)
        self.assertTrue(expected - 30 <= int(values[0]) <= expected, values)


if __name__ == "__main__":
    labkit.main()
