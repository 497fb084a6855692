"""-parallel N against real directories: with up to N requests in flight, a
run gives the same lines, log, rejects, undo and LDIF files, directory state
and exit status as the same run one request at a time - with failures in the
middle, parents and children added and deleted in one input, and several
changes to one object."""
import os
import re
import shutil
import tempfile

import labkit

field = labkit.csv_field


def read_text(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return None


def comparable_log(text):
    """The log without what differs by nature: its start time and the switch
    line of -parallel itself."""
    lines = []
    for line in (text or "").splitlines():
        if line.startswith("Log started at:") or line.strip().startswith("-parallel"):
            continue
        lines.append(line)
    return "\n".join(lines)


def comparable_undo(text):
    text = re.sub(r"# Finished [^:]*:[^:]*:\d+ UTC", "# Finished", text or "")
    # Objects made again between two runs have new GUIDs.
    text = re.sub(r"[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}",
                  "GUID", text)
    return re.sub(r"(?m)^(objectGUID|distinguishedName|dn)(::? ).*ADEL.*$", r"\1\2TOMBSTONE", text)


class ParallelMixin:
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelvo-parallel-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_both(self, args, stdin, reset=None, files=("log", "undo", "ldif", "rejects")):
        """Runs the same input one at a time and with -parallel 16; `reset`
        puts the directory back in between.  Returns the two results."""
        results = []
        for width in (None, "16"):
            if reset:
                reset()
            # Each run in a folder of its own, with the same file names.
            cwd = os.path.join(self.tmp, f"run{width or 1}")
            os.makedirs(cwd, exist_ok=True)
            paths = {name: name for name in files}
            extra = []
            if "log" in paths:
                extra += ["-log", paths["log"]]
            if "undo" in paths:
                extra += ["-undo", paths["undo"]]
            if "ldif" in paths:
                extra += ["-ldifout", paths["ldif"]]
            if "rejects" in paths:
                extra += ["-rejects", paths["rejects"]]
            if width:
                extra += ["-parallel", width]
            rc, out, err = self.lab.kelvo_streams(*(list(args) + extra), stdin=stdin, cwd=cwd)
            got = {"rc": rc, "out": out, "err": err}
            for name, path in paths.items():
                got[name] = read_text(os.path.join(cwd, path))
            got["log"] = comparable_log(got.get("log"))
            got["undo"] = comparable_undo(got.get("undo"))
            results.append(got)
        return results

    def assertSameRun(self, one, many):
        for key in one:
            self.assertEqual(one[key], many[key], f"{key} differs:\n{one['out']}\n---\n{many['out']}")

    def descriptions(self, dns):
        got = self.lab.read_all(self.ou, "(objectClass=*)", "description", scope="sub")
        return [got.get(dn.lower(), {}).get("description") for dn in dns]

    def objects(self, prefix, count, skip=()):
        dns = [f"cn={prefix}{i:03},{self.ou}" for i in range(count)]
        self.lab.add_many([(dn, self.entry(dn, description="old"))
                           for i, dn in enumerate(dns) if i not in skip])
        return dns

    def reset_descriptions(self, dns):
        def reset():
            present = [dn for dn in dns if self.lab.exists(dn)]
            text = "".join(f"dn: {dn}\nchangetype: modify\nreplace: description\n"
                           f"description: old\n-\n\n" for dn in present)
            rc, out = self.lab.ldif("ldapmodify", text)
            self.assertEqual(rc, 0, out)
        return reset

    def test_failures_in_the_middle_with_cont(self):
        dns = self.objects("cont", 40, skip={7, 23, 24})
        one, many = self.run_both(["-safety", "100", "-cont", "description::new value"],
                                  "\n".join(dns) + "\n", reset=self.reset_descriptions(dns))
        self.assertEqual(one["rc"], 0x20, one["out"])
        self.assertIn("not exist", one["out"])
        self.assertSameRun(one, many)
        expected = [None if i in (7, 23, 24) else ["new value"] for i in range(40)]
        self.assertEqual(self.descriptions(dns), expected)

    def test_first_failure_stops_new_requests_without_cont(self):
        dns = self.objects("stop", 60, skip={12})
        stdin = "\n".join(dns) + "\n"
        reset = self.reset_descriptions(dns)
        reset()
        rc1, out1, _ = self.lab.kelvo_streams("-safety", "100", "description::new", stdin=stdin)
        reset()
        rc, out, _ = self.lab.kelvo_streams("-safety", "100", "-parallel", "16",
                                            "description::new", stdin=stdin)
        # The exit status is the failure that stopped the run; what was
        # shown up to it is what the one-at-a-time run shows.
        self.assertEqual(rc, rc1, out)
        stop = "ERROR: Too many errors encountered, terminating..."
        self.assertIn(stop, out1)
        self.assertEqual(out.split(stop)[0], out1.split(stop)[0])
        # Requests sent before the answer came are reported after it, and
        # are exactly the changes made beyond the failure; once the failure
        # is answered nothing more is sent.
        reported = set(re.findall(r"   DN: (cn=stop\d+,[^.]*)\.\.\.", out.split(stop)[1]))
        self.assertLess(len(reported), 4 * 16, out)
        got = self.descriptions(dns)
        for i, dn in enumerate(dns):
            if i < 12:
                self.assertEqual(got[i], ["new"], dn)
            elif i > 12:
                self.assertEqual(got[i], ["new"] if dn in reported else ["old"], dn)

    def test_parents_and_children_added_then_deleted_in_input_order(self):
        top = f"ou=tree,{self.ou}"
        # Parents come before their children, interleaved with other trees;
        # one child names a parent that never exists and fails both times.
        adds = []
        for i in range(6):
            parent = f"ou=p{i},{top}"
            adds.append(parent)
            for j in range(3):
                child = f"ou=c{j},{parent}"
                adds.append(child)
                adds.append(f"ou=g0,{child}")
        adds.insert(5, f"ou=orphan,ou=nowhere,{top}")
        deletes = [dn for dn in reversed(adds) if "orphan" not in dn]

        def fresh():
            self.lab.delete_tree(top)
            self.lab.add(top, objectClass=["top", "organizationalUnit"], ou="tree")

        add_args = ["-safety", "100", "-cont", "-add", "objectClass::organizationalUnit"]
        one, many = self.run_both(add_args, "\n".join(adds) + "\n", reset=fresh,
                                  files=("log", "ldif", "rejects"))
        self.assertEqual(one["rc"], 0x20, one["out"])
        self.assertSameRun(one, many)
        self.assertEqual(len(self.lab.search(top, "(objectClass=organizationalUnit)",
                                             scope="sub")), 1 + 6 * 7)

        def filled():
            fresh()
            rc, out = self.lab.kelvo(*add_args, stdin="\n".join(adds) + "\n")
            self.assertEqual(rc, 0x20, out)
        # Children first, then their parents: each delete waits for those below.
        # (Deletes have an undo only where deleted objects are kept.)
        files = ("log", "ldif", "rejects") + (("undo",) if self.lab.kind == "samba" else ())
        one, many = self.run_both(["-safety", "100", "-rm"], "\n".join(deletes) + "\n",
                                  reset=filled, files=files)
        self.assertEqual(one["rc"], 0, one["out"])
        self.assertSameRun(one, many)
        self.assertEqual([dn.lower() for dn in self.lab.search(top, "(objectClass=*)", scope="sub")],
                         [top.lower()])

    def test_several_changes_to_one_object_keep_their_order(self):
        dns = self.objects("rows", 6)
        rows = ["DN,description"]
        for step in range(5):
            for i, dn in enumerate(dns):
                if i % 2 == 0 or step == 0:
                    rows.append(f"{field(dn)},step {step}")
        one, many = self.run_both(["-csv", "-safety", "100", "description::{{.}}"],
                                  "\n".join(rows) + "\n", reset=self.reset_descriptions(dns))
        self.assertEqual(one["rc"], 0, one["out"])
        self.assertSameRun(one, many)
        expected = [["step 4"] if i % 2 == 0 else ["step 0"] for i in range(6)]
        self.assertEqual(self.descriptions(dns), expected)
        # The undo file brings back every step, the last first.
        undo = many["undo"]
        self.assertLess(undo.index("description: step 3"), undo.index("description: step 2"))

    def test_whatif_builds_in_order_and_sends_nothing(self):
        dns = self.objects("dry", 20, skip={4})
        one, many = self.run_both(["-safety", "100", "-whatif", "description::dry"],
                                  "\n".join(dns) + "\n", files=("log", "ldif"))
        self.assertSameRun(one, many)
        self.assertIn("not sent (what-if)", many["out"])
        self.assertEqual(self.descriptions(dns), [None if i == 4 else ["old"] for i in range(20)])

    def test_bad_widths_are_refused_before_anything_is_sent(self):
        for value in ("0", "65", "-1", "x", ""):
            rc, out = self.lab.kelvo("-b", self.ou, "-parallel", value, "description::no")
            self.assertNotEqual(rc, 0, value)
            self.assertIn("parallel", out, value)
        self.assertIsNone(self.lab.read(self.ou, "description").get("description"))


class ParallelOnSamba(ParallelMixin, labkit.LabTest):
    lab_factory = staticmethod(labkit.samba)

    def entry(self, dn, **attrs):
        return dict({"objectClass": ["top", "contact"]}, **attrs)


class ParallelOnSlapd(ParallelMixin, labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def entry(self, dn, **attrs):
        cn = dn.split(",")[0].split("=", 1)[1]
        return dict({"objectClass": ["top", "organizationalRole"], "cn": cn}, **attrs)


if __name__ == "__main__":
    labkit.main()
