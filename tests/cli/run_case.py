#!/usr/bin/env python3
"""Runs one black-box case file against the kelvo binary.

A case file holds header lines and blocks:

    # free text
    args: -b cn=x,dc=example -default        (shell-style words)
    env: NAME=value                           (repeatable)
    stdin-tty: yes                            (standard input is a terminal)
    no-tty: yes                               (no controlling terminal at all)
    chmod: NAME 644                           (mode of a file the case writes)
    exit: 1
    --- stdin                                 (text piped to standard input)
    --- tty-input                             (text typed at the terminal)
    --- stdin-hex                             (bytes, as hex, piped in)
    --- file NAME                             (a file in the working directory)
    --- stdout                                (the exact standard output)
    --- stdout-contains                       (each line must appear in stdout)
    --- stdout-match                          (a regular expression the whole
                                               stdout must match)
    --- stdout-lacks                          (no line may appear in stdout)
    --- stderr-contains
    --- file-contains NAME                    (each line must appear in a file
                                               the run left behind)
    secret: TEXT                              (repeatable; TEXT, in any letter
                                               case, must appear in no output:
                                               stdout, stderr, nor any file the
                                               run wrote, such as the log)

The run happens in a fresh temporary directory with every environment
variable that Kelvo reads as a switch layer removed.
"""
import os
import pty
import re
import select
import shlex
import subprocess
import sys
import tempfile
import time


def parse(path):
    case = {"args": [], "env": {}, "exit": 0, "files": {}, "blocks": {}, "tty": False,
            "secrets": [], "no_tty": False, "modes": {}}
    block = None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if line.startswith("--- "):
                name = line[4:].strip()
                if name.startswith("file-contains "):
                    block = ("check", name[len("file-contains "):].strip())
                    case.setdefault("checks", {})[block[1]] = []
                elif name.startswith("file "):
                    block = ("file", name[5:].strip())
                    case["files"][block[1]] = []
                else:
                    block = ("block", name)
                    case["blocks"][name] = []
                continue
            if block is not None:
                if block[0] == "file":
                    target = case["files"][block[1]]
                elif block[0] == "check":
                    target = case["checks"][block[1]]
                else:
                    target = case["blocks"][block[1]]
                target.append(line)
                continue
            if not line or line.startswith("#"):
                continue
            key, _, value = line.partition(":")
            value = value.strip()
            if key == "args":
                case["args"] = shlex.split(value)
            elif key == "env":
                name, _, val = value.partition("=")
                case["env"][name] = val
            elif key == "exit":
                case["exit"] = int(value)
            elif key == "secret":
                case["secrets"].append(value)
            elif key == "stdin-tty":
                case["tty"] = value.lower() == "yes"
            elif key == "no-tty":
                case["no_tty"] = value.lower() == "yes"
            elif key == "chmod":
                name, _, mode = value.partition(" ")
                case["modes"][name] = int(mode.strip(), 8)
            else:
                raise SystemExit(f"{path}: unknown header {key!r}")
    return case


def clean_env(extra):
    env = {k: v for k, v in os.environ.items()
           if not k.lower().startswith(("pellix-default-kelvo-", "quorv-", "kelvo-"))}
    env.pop("LDAPURI", None)
    env["LDAPNOINIT"] = "1"  # ignore the machine's ldap.conf and ~/.ldaprc
    env.update(extra)
    return env


def run_with_tty(cmd, cwd, env, typed=b"", timeout=30):
    master, slave = pty.openpty()
    proc = subprocess.Popen(cmd, cwd=cwd, env=env, stdin=slave,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.close(slave)
    try:
        if typed:
            os.write(master, typed)
        out, err = proc.communicate(timeout=timeout)
    finally:
        os.close(master)
    return proc.returncode, out, err


def main():
    binary, path = sys.argv[1], sys.argv[2]
    case = parse(path)
    failures = []
    with tempfile.TemporaryDirectory(prefix="kelvo-cli-") as tmp:
        for name, lines in case["files"].items():
            with open(os.path.join(tmp, name), "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
        for name, mode in case["modes"].items():
            os.chmod(os.path.join(tmp, name), mode)
        env = clean_env(case["env"])
        env["HOME"] = tmp
        cmd = [binary] + case["args"]
        start = time.monotonic()
        if case["tty"]:
            typed = b""
            if "tty-input" in case["blocks"]:
                typed = ("\n".join(case["blocks"]["tty-input"]) + "\n").encode()
            code, out, err = run_with_tty(cmd, tmp, env, typed)
        else:
            data = b""
            if "stdin" in case["blocks"]:
                data = ("\n".join(case["blocks"]["stdin"]) + "\n").encode()
            if "stdin-hex" in case["blocks"]:
                data = bytes.fromhex("".join(case["blocks"]["stdin-hex"]))
            proc = subprocess.run(cmd, cwd=tmp, env=env, input=data,
                                  capture_output=True, timeout=60,
                                  start_new_session=case["no_tty"])
            code, out, err = proc.returncode, proc.stdout, proc.stderr
        elapsed = time.monotonic() - start
        for name, lines in case.get("checks", {}).items():
            try:
                with open(os.path.join(tmp, name), encoding="utf-8", errors="replace") as f:
                    text = f.read()
            except OSError as e:
                failures.append(f"file {name}: {e}")
                continue
            for line in lines:
                if line and line not in text:
                    failures.append(f"file {name} lacks: {line!r}")
        written = {}
        for name in os.listdir(tmp):
            full = os.path.join(tmp, name)
            if name in case["files"] or not os.path.isfile(full):
                continue
            with open(full, encoding="utf-8", errors="replace") as f:
                written[name] = f.read()
    out = out.decode("utf-8", "replace")
    err = err.decode("utf-8", "replace")
    for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
        if marker in err:
            failures.append(f"sanitizer report: {marker}")
    channels = {"stdout": out, "stderr": err}
    channels.update({f"file {name}": text for name, text in written.items()})
    for secret in case["secrets"]:
        for channel, text in channels.items():
            if secret.lower() in text.lower():
                failures.append(f"{channel} shows the secret {secret!r}")
    want = case["exit"] & 0xFF
    if code != want:
        failures.append(f"exit status {code}, expected {want} ({case['exit']})")
    blocks = case["blocks"]
    if "stdout" in blocks:
        expected = "\n".join(blocks["stdout"])
        if out.rstrip("\n") != expected.rstrip("\n"):
            failures.append(f"stdout differs; expected:\n{expected}")
    if "stdout-match" in blocks:
        pattern = "\n".join(blocks["stdout-match"])
        if not re.fullmatch(pattern, out):
            failures.append(f"stdout does not match {pattern!r}")
    for line in blocks.get("stdout-contains", []):
        if line and line not in out:
            failures.append(f"stdout lacks: {line!r}")
    for line in blocks.get("stdout-lacks", []):
        if line and line in out:
            failures.append(f"stdout has: {line!r}")
    for line in blocks.get("stderr-contains", []):
        if line and line not in err:
            failures.append(f"stderr lacks: {line!r}")
    if failures:
        print(f"FAIL {path} ({elapsed:.2f}s)")
        print("--- stdout\n" + out + "--- stderr\n" + err)
        for f in failures:
            print("  " + f)
        return 1
    print(f"ok {os.path.basename(path)} ({elapsed:.2f}s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
