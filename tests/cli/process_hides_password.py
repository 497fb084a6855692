#!/usr/bin/env python3
"""A password given with -up leaves the process's command line, and the
process cannot be dumped or traced by others while it runs.

Starts kelvo with -up and its standard input held open, so that it waits
for DNs; reads /proc/PID/cmdline and the owner of /proc/PID/status (root for a
process that is not dumpable); then closes standard input and waits for
the run to end.  Every wait is bounded; only the process started here is
ever killed.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

SECRET = "Cmd5ecretXyz"
NOBODY = 65534


def main():
    binary = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory(prefix="kelvo-proc-") as tmp:
        os.chmod(tmp, 0o755)
        run_as = None
        if os.geteuid() == 0:
            # As root every /proc entry is readable; run the program as
            # another user so that its /proc owner tells dumpable from not.
            copy = os.path.join(tmp, "kelvo")
            shutil.copy2(binary, copy)
            os.chmod(copy, 0o755)
            binary, run_as = copy, NOBODY
        env = {k: v for k, v in os.environ.items()
               if not k.lower().startswith(("pellix-default-kelvo-", "quorv-", "kelvo-"))}
        env.pop("LDAPURI", None)
        env["LDAPNOINIT"] = "1"
        env["HOME"] = tmp
        cmd = [binary, "-q", "-u", "admin", "-up", SECRET, "-simple", "-h", "127.0.0.1:1",
               "-t", "5", "description::marker"]
        proc = subprocess.Popen(cmd, cwd=tmp, env=env, stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, user=run_as)
        try:
            cmdline = b""
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and proc.poll() is None:
                with open(f"/proc/{proc.pid}/cmdline", "rb") as f:
                    cmdline = f.read()
                if SECRET.encode() not in cmdline:
                    break
                time.sleep(0.05)
            if proc.poll() is not None:
                failures.append("kelvo ended before it could be inspected")
            if SECRET.encode() in cmdline:
                failures.append("/proc/PID/cmdline still shows the password")
            if b"description::marker" not in cmdline:
                failures.append(f"/proc/PID/cmdline lost other arguments: {cmdline!r}")
            owner = os.stat(f"/proc/{proc.pid}/status").st_uid
            if owner != 0:
                failures.append(f"process is dumpable (/proc/PID/status owned by uid {owner})")
        finally:
            try:
                out, err = proc.communicate(input=b"", timeout=30)
            except subprocess.TimeoutExpired:
                proc.kill()
                out, err = proc.communicate(timeout=10)
                failures.append("kelvo did not end after its input closed")
        for name, text in (("stdout", out), ("stderr", err)):
            if SECRET.encode() in text:
                failures.append(f"{name} shows the password")
    if failures:
        print("FAIL process_hides_password")
        for f in failures:
            print("  " + f)
        return 1
    print("ok process_hides_password")
    return 0


if __name__ == "__main__":
    sys.exit(main())
