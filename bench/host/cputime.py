#!/usr/bin/env python3
"""Runs a command and prints "cpu_seconds peak_kB wall_seconds" of it. The CPU time is read
from wait4 to the microsecond (time(1) prints it in steps of 10 ms, which moved the benchmarks'
ratios by a tenth either way); the peak comes from time(1), whose child starts small (a child
forked from this interpreter would count the interpreter's own pages before its exec).

    cputime.py STDOUT_FILE COMMAND [ARG...]

The command's standard output goes to STDOUT_FILE, its standard error to /dev/null. Exits 1
when the command fails.
"""
import os
import sys
import tempfile
import time


def main():
    stdout_path, command = sys.argv[1], sys.argv[2:]
    peak_file = tempfile.NamedTemporaryFile(prefix="cputime-", delete=False)
    peak_file.close()
    command = ["/usr/bin/time", "-f", "%M", "-o", peak_file.name] + command
    started = time.monotonic()
    pid = os.fork()
    if pid == 0:
        out = os.open(stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        err = os.open(os.devnull, os.O_WRONLY)
        os.dup2(out, 1)
        os.dup2(err, 2)
        os.execvp(command[0], command)
    _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - started
    with open(peak_file.name) as f:
        lines = f.read().split()
    os.unlink(peak_file.name)
    if status != 0 or not lines:
        sys.exit("failed: " + " ".join(command[5:]))
    print("%.4f %s %.4f" % (usage.ru_utime + usage.ru_stime, lines[-1], wall))


if __name__ == "__main__":
    main()
