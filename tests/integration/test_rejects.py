"""The rejects file (-rejects), LDIF search output as input and a server lost
in the middle of a run, against OpenLDAP: what a run did not finish is
written in the form it came in, and feeding the file back finishes the work."""
import base64
import os
import pty
import select
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import tty

import labkit

field = labkit.csv_field
LAB_SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab")


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def read_lines(path):
    return read_text(path).splitlines()


class RejectsOnSlapd(labkit.LabTest):
    lab_factory = staticmethod(labkit.slapd)

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelvo-rejects-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def objects(self, prefix, count, skip=(), parent=None):
        dns = [f"cn={prefix}{i},{parent or self.ou}" for i in range(count)]
        self.lab.add_many([(dn, {"objectClass": ["top", "organizationalRole"]})
                           for i, dn in enumerate(dns) if i not in skip])
        return dns

    def description(self, dn):
        got = self.lab.read(dn, "description")
        return None if got is None else got.get("description")

    def test_run_that_stops_leaves_the_rest_and_finishes_when_fed_back(self):
        dns = self.objects("stop", 8, skip={3})
        rejects = os.path.join(self.tmp, "rejects.txt")
        # Piped lines as they are written: trailing spaces, quotes, a refused
        # line.
        lines = [dns[0], f"{dns[1]}  ", "not a dn", f'"{dns[2]}"'] + dns[3:]
        rc, out = self.lab.kelvo("-safety", "100", "-rejects", rejects, "description::done",
                                 stdin="\n".join(lines) + "\n")
        self.assertEqual(rc, 0x20, out)
        self.assertIn("ERROR: 4 object(s) not attempted.", out)
        self.assertIn(f"Rejects: 6 written to {rejects}", out)
        # The refused line first, then the failed object and those never
        # attempted, each as it was read.
        self.assertEqual(read_lines(rejects), ["not a dn"] + dns[3:])
        self.assertEqual(stat.S_IMODE(os.stat(rejects).st_mode), 0o600)
        for dn in dns[:3]:
            self.assertEqual(self.description(dn), ["done"], dn)
        for dn in dns[4:]:
            self.assertIsNone(self.description(dn), dn)

        # The cause fixed, the file finishes the work; the refused line is
        # refused again and stays in the next rejects file.
        self.lab.add(dns[3], objectClass=["top", "organizationalRole"])
        again = os.path.join(self.tmp, "again.txt")
        with open(rejects, encoding="utf-8") as f:
            rc, out = self.lab.kelvo("-safety", "100", "-rejects", again, "description::done",
                                     stdin=f.read())
        self.assertEqual(rc, 0x22, out)
        self.assertIn("ERROR: BAD DN Format (not a dn)", out)
        self.assertEqual(read_lines(again), ["not a dn"])
        for dn in dns:
            self.assertEqual(self.description(dn), ["done"], dn)

    def test_a_run_that_succeeds_leaves_an_empty_file(self):
        dns = self.objects("ok", 3)
        rejects = os.path.join(self.tmp, "rejects.txt")
        with open(rejects, "w", encoding="utf-8") as f:
            f.write("an earlier run's rejects\n")
        out = self.assertRun(self.lab.kelvo("-rejects", rejects, "description::ok",
                                            stdin="\n".join(dns) + "\n"),
                             contains=[f"Rejects: 0 written to {rejects}"])
        self.assertNotIn("not attempted", out)
        self.assertEqual(read_lines(rejects), [])

    def test_single_object_of_b_is_written_as_given(self):
        missing = f"cn=missing,{self.ou}"
        rejects = os.path.join(self.tmp, "rejects.txt")
        rc, out = self.lab.kelvo("-b", missing, "-rejects", rejects, "description::x")
        self.assertEqual(rc, 0x20, out)
        self.assertEqual(read_lines(rejects), [missing])

    def test_piped_values_of_the_b_object_come_back_as_they_were_piped(self):
        values = self.objects("val", 3)
        holder = f"cn=holder,{self.ou}"
        rejects = os.path.join(self.tmp, "values.txt")
        piped = "\n".join(values) + "\n"
        rc, out = self.lab.kelvo("-b", holder, "-stdinadd", "seeAlso", "-rejects", rejects,
                                 stdin=piped)
        self.assertEqual(rc, 0x20, out)
        self.assertEqual(read_lines(rejects), values)
        self.lab.add(holder, objectClass=["top", "organizationalRole"])
        self.assertRun(self.lab.kelvo("-b", holder, "-stdinadd", "seeAlso",
                                      stdin=read_text(rejects)))
        self.assertEqual(sorted(self.lab.read(holder, "seeAlso")["seealso"]), sorted(values))

    def test_csv_rows_come_back_with_their_header(self):
        dns = self.objects("row", 6, skip={2})
        header = "DN,description"
        rows = [f'{field(dn)},"value {i}, with a comma"' for i, dn in enumerate(dns)]
        rows[4] = f"{field(dns[4])},plain"
        rejects = os.path.join(self.tmp, "rows.csv")
        rc, out = self.lab.kelvo("-csv", "-rejects", rejects, "description::{{description}}",
                                 stdin="\n".join([header] + rows) + "\n")
        self.assertEqual(rc, 0x20, out)
        self.assertEqual(read_lines(rejects), [header] + rows[2:])

        self.lab.add(dns[2], objectClass=["top", "organizationalRole"])
        with open(rejects, encoding="utf-8") as f:
            self.assertRun(self.lab.kelvo("-csv", "description::{{description}}",
                                          stdin=f.read()))
        for i, dn in enumerate(dns):
            want = "plain" if i == 4 else f"value {i}, with a comma"
            self.assertEqual(self.description(dn), [want], dn)

    def ldapsearch(self, base, *args):
        proc = subprocess.run(["ldapsearch"] + self.lab._client_args()
                              + ["-b", base, "-s", "one"] + list(args),
                              capture_output=True, env=self.lab._client_env(),
                              timeout=labkit.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        return proc.stdout.decode("utf-8")

    def test_ldif_from_the_search_client_with_base64_and_folded_dns(self):
        parent = f"ou=ldif,{self.ou}"
        self.lab.add(parent, objectClass=["top", "organizationalUnit"])
        special = f"cn=Z\u00fcrich \u00c6r\u00f8 {os.getpid()},{parent}"
        long_dn = f"cn={'L' * 90},{parent}"
        plain = self.objects("ldif", 3, parent=parent)
        targets = [special, long_dn] + plain
        for dn in (special, long_dn):
            self.lab.add(dn, objectClass=["top", "organizationalRole"])

        # The whole output: comments, version line, attributes, result.
        full = self.ldapsearch(parent, "(objectClass=organizationalRole)")
        self.assertIn("\ndn:: ", full)  # the non-ASCII DN is base64
        self.assertTrue(any(line.startswith(" ") for line in full.splitlines()), full)
        self.assertIn("# numEntries: 5", full)
        out = self.assertRun(self.lab.kelvo("description::full", stdin=full),
                             contains=["DN Count: 5"])
        for dn in targets:
            self.assertEqual(self.description(dn), ["full"], dn)

        # DNs only, with CRLF line ends.
        only = self.ldapsearch(parent, "-LLL", "(objectClass=organizationalRole)", "dn")
        crlf = only.replace("\n", "\r\n")
        self.assertRun(self.lab.kelvo("description::only", stdin=crlf),
                       contains=["DN Count: 5"])
        for dn in targets:
            self.assertEqual(self.description(dn), ["only"], dn)

        # An entry gone since the search fails; its dn:: line is what the
        # rejects file holds, and it finishes the work once the entry is back.
        self.lab.delete_tree(special)
        rejects = os.path.join(self.tmp, "rejects.ldif")
        rc, out = self.lab.kelvo("-cont", "-rejects", rejects, "description::again", stdin=only)
        self.assertEqual(rc, 0x20, out)
        text = read_text(rejects)
        self.assertTrue(text.startswith("dn:: ") and text.endswith("\n\n"), text)
        self.assertEqual(base64.b64decode(text[5:].strip()).decode(), special)
        self.lab.add(special, objectClass=["top", "organizationalRole"])
        self.assertRun(self.lab.kelvo("description::again", stdin=text),
                       contains=["DN Count: 1"])
        self.assertEqual(self.description(special), ["again"])

    def test_bad_ldif_lines_are_failed_objects_with_their_line(self):
        dns = self.objects("bad", 2)
        ldif = (f"version: 1\n\ndn: {dns[0]}\n\ndn:: !!notbase64\n\n"
                f"dn: {dns[1]}\ncn=stray,dc=x\n")
        rejects = os.path.join(self.tmp, "rejects.ldif")
        rc, out = self.lab.kelvo("-rejects", rejects, "description::b", stdin=ldif)
        self.assertEqual(rc, 0x22, out)
        self.assertIn("ERROR: Input line 5 holds invalid base64 in its dn:: line, skipped.", out)
        self.assertIn("ERROR: Input line 8 is not an LDIF attribute line, skipped.", out)
        self.assertIn("refused input line(s) are not in the rejects file", out)
        self.assertEqual(read_text(rejects), "dn:: !!notbase64\n\n")
        for dn in dns:
            self.assertEqual(self.description(dn), ["b"], dn)


class LostServer(labkit.LabTest):
    """A slapd of its own, killed while Kelvo works through its objects."""
    lab_factory = staticmethod(labkit.slapd)
    COUNT = 3000

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelvo-lost-")
        net = self.lab.addr.rsplit(".", 1)[0]
        self.dir = os.path.join(self.tmp, "slapd")
        proc = subprocess.run(["bash", os.path.join(LAB_SCRIPTS, "slapd_lab.sh"), "start",
                               self.dir, f"{net}.31", "3890"], capture_output=True,
                              timeout=180)
        self.assertEqual(proc.returncode, 0, proc.stderr.decode())
        self.own = labkit.Lab(os.path.join(self.dir, "lab.env"))

    def tearDown(self):
        subprocess.run(["bash", os.path.join(LAB_SCRIPTS, "slapd_lab.sh"), "stop", self.dir],
                       capture_output=True, timeout=120)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_until(self, cmd, stdin_path, env, kill_after):
        """Runs cmd with its output on a terminal (so it comes line by line)
        and kills the server once kill_after object lines have appeared."""
        master, slave = pty.openpty()
        tty.setraw(slave)
        with open(stdin_path, "rb") as stdin:
            proc = subprocess.Popen(cmd, stdin=stdin, stdout=slave, stderr=slave, env=env)
        os.close(slave)
        out, killed = b"", False
        deadline = time.monotonic() + labkit.TIMEOUT
        while time.monotonic() < deadline:
            ready, _, _ = select.select([master], [], [], 1.0)
            if not ready:
                if proc.poll() is not None:
                    break
                continue
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the terminal closed with the process
                break
            if not chunk:
                break
            out += chunk
            if not killed and out.count(b"   DN: ") >= kill_after:
                os.kill(int(self.own.env["LAB_PID"]), signal.SIGKILL)
                killed = True
        os.close(master)
        rc = proc.wait(timeout=labkit.TIMEOUT)
        text = out.decode("utf-8", "replace")
        self.assertTrue(killed, text)
        for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
            self.assertNotIn(marker, text)
        return rc, text

    def start_run(self, *extra):
        base = self.own.base
        parent = f"ou=lost,{base}"
        self.own.add(parent, objectClass=["top", "organizationalUnit"])
        dns = [f"cn=o{i},{parent}" for i in range(self.COUNT)]
        self.own.add_many([(dn, {"objectClass": ["top", "organizationalRole"]}) for dn in dns])
        stdin_path = os.path.join(self.tmp, "dns.txt")
        with open(stdin_path, "w", encoding="utf-8") as f:
            f.write("\n".join(dns) + "\n")
        rejects = os.path.join(self.tmp, "rejects.txt")
        log = os.path.join(self.tmp, "kelvo.log")
        cmd = ([os.environ["KELVO_BIN"]] + self.own.connect_args()
               + ["-cont", "-unsafe", "-rejects", rejects, "-log", log, "description::x"]
               + list(extra))
        rc, out = self.run_until(cmd, stdin_path, self.own.kelvo_env(), 50)
        return dns, rejects, log, rc, out

    def test_lost_server_stops_the_run_with_81_and_keeps_the_rest(self):
        dns, rejects, log, rc, out = self.start_run()

        # Also with -cont the run ends at the lost server, with its code.
        self.assertEqual(rc, 81, out[-3000:])
        self.assertIn("Error 0x51 (81)", out)
        self.assertIn("ERROR: The connection to the server was lost, terminating...", out)
        left = read_lines(rejects)
        # The object in flight and every one after it, in input order.
        self.assertGreater(len(left), 1, out[-3000:])
        self.assertLess(len(left), self.COUNT - 49)
        self.assertEqual(left, dns[self.COUNT - len(left):])
        self.assertEqual(out.count("   DN: "), self.COUNT - len(left) + 1)
        self.assertEqual(out.count("Error 0x51 (81)"), 1, out[-3000:])
        self.assertIn(f"ERROR: {len(left) - 1} object(s) not attempted.", out)
        self.assertIn(f"Rejects: {len(left)} written to {rejects}", out)
        logged = read_lines(log)
        self.assertEqual(sum(1 for line in logged if line.startswith("NOT ATTEMPTED: ")),
                         len(left) - 1)

    def test_lost_server_with_requests_in_flight(self):
        dns, rejects, log, rc, out = self.start_run("-parallel", "16")
        self.assertEqual(rc, 81, out[-3000:])
        self.assertEqual(out.count("ERROR: The connection to the server was lost, terminating..."),
                         1, out[-3000:])
        # Every request in flight when the connection went fails with it;
        # nothing after them is sent.
        lost = out.count("Error 0x51 (81)")
        self.assertGreaterEqual(lost, 1, out[-3000:])
        self.assertLessEqual(lost, 16, out[-3000:])
        shown = out.count("   DN: ")
        left = read_lines(rejects)
        position = {dn: i for i, dn in enumerate(dns)}
        self.assertEqual([position[dn] for dn in left], sorted(position[dn] for dn in left))
        self.assertEqual(left[-(len(dns) - shown):], dns[shown:])
        self.assertEqual(len(left), len(dns) - shown + lost)
        self.assertIn(f"ERROR: {len(dns) - shown} object(s) not attempted.", out)
        logged = read_lines(log)
        self.assertEqual(sum(1 for line in logged if line.startswith("NOT ATTEMPTED: ")),
                         len(dns) - shown)


if __name__ == "__main__":
    labkit.main()
