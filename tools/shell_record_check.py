#!/usr/bin/env python3
"""Fails when the shell records more operations that are not built yet than the count allows.

The application object tells its shell observer of each operation of a screen or component that
does not exist yet with a `record(...)` call (docs/app.md, "What the shell records", lists each one
with what replaces it). Their number in app/ and ui/ is kept in tools/shell_record_count.txt: the check
fails when the tree has more than that, so a new screen replaces records instead of adding them.
When the tree has fewer, it says so; lower the count in the same change.
"""

import argparse
import os
import re
import subprocess
import sys

AREAS = ("app", "ui")
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inc", ".ipp")
# A call (or the declaration) of a function named record: not recordAlert( nor a member access
# of another name ending in record.
RECORD_RE = re.compile(r"(?<![A-Za-z0-9_])record\(")
LINE_COMMENT_RE = re.compile(r"//.*$")


def tracked_files(root):
    try:
        out = subprocess.run(["git", "ls-files", "-z", "--", *AREAS], cwd=root, check=True,
                             capture_output=True).stdout.decode()
        return [f for f in out.split("\0") if f]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for area in AREAS:
            for dirpath, _, filenames in os.walk(os.path.join(root, area)):
                files += [os.path.relpath(os.path.join(dirpath, f), root) for f in filenames]
        return sorted(files)


def count_records(root):
    """Returns [(path, line number)] of every record( outside comments and strings' ends."""
    found = []
    for path in tracked_files(root):
        if not path.endswith(SOURCE_SUFFIXES):
            continue
        full = os.path.join(root, path)
        if not os.path.isfile(full):
            continue
        with open(full, encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                code = LINE_COMMENT_RE.sub("", line)
                found += [(path, number)] * len(RECORD_RE.findall(code))
    return found


def read_count(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                return int(line)
    raise ValueError(f"{path}: no count")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--count", help="default: ROOT/tools/shell_record_count.txt")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    count_path = args.count or os.path.join(root, "tools", "shell_record_count.txt")
    try:
        allowed = read_count(count_path)
    except (OSError, ValueError) as e:
        print(f"shell_record_check: {e}", file=sys.stderr)
        return 2
    found = count_records(root)
    if len(found) > allowed:
        for path, number in found:
            print(f"{path}:{number}: record(", file=sys.stderr)
        print(f"shell_record_check: {len(found)} record( calls in {' and '.join(a + '/' for a in AREAS)}, more than the "
              f"{allowed} allowed: build the operation instead of recording it", file=sys.stderr)
        return 1
    if len(found) < allowed:
        print(f"shell_record_check: {len(found)} record( calls, fewer than {allowed}: lower "
              f"{os.path.relpath(count_path, root)}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
