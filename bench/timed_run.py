#!/usr/bin/env python3
"""Runs a command and times it, and the stretches between the "[n/N] TABLE"
progress lines nompack-cli writes to stderr, so that one run gives the whole
time and the time of every table.

    timed_run.py REPORT -- COMMAND [ARG...]

REPORT gets "total SECONDS", "maxrss KIB" (the command's peak resident memory),
then "table NAME SECONDS" lines in export order.
The command's stdout passes through; its other stderr lines are shown when it
fails; its exit code is ours.
"""
import re
import resource
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 4 or sys.argv[2] != "--":
        sys.exit("usage: timed_run.py REPORT -- COMMAND [ARG...]")
    report, command = sys.argv[1], sys.argv[3:]
    progress = re.compile(r"^\[(\d+)/(\d+)\] (\S+)")
    start = time.monotonic()
    proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
    tables = []  # (name, started)
    errors = []
    for raw in proc.stderr:
        now = time.monotonic()
        line = raw.decode("utf-8", "replace").rstrip("\n")
        m = progress.match(line)
        if m:
            tables.append((m.group(3), now))
        elif line.strip():
            errors.append(line)
    code = proc.wait()
    end = time.monotonic()
    with open(report, "w") as out:
        out.write(f"total {end - start:.3f}\n")
        # The only child this process waits for is the command.
        out.write(f"maxrss {resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss}\n")
        for i, (name, started) in enumerate(tables):
            finished = tables[i + 1][1] if i + 1 < len(tables) else end
            out.write(f"table {name} {finished - started:.3f}\n")
    if code != 0:
        for line in errors:
            print(line, file=sys.stderr)
    sys.exit(code)


if __name__ == "__main__":
    main()
