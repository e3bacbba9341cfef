#!/usr/bin/env python3
"""A compile database by source: the build's compile_commands.json with each unity batch replaced
by one entry per source it includes, compiled with the batch's command.

Tools that look a source up by name (clang-tidy) need this once the build compiles sources in
batches: the build's own database names only the batches.

    tools/source_database.py BUILD_DIR OUT_DIR    writes OUT_DIR/compile_commands.json
"""

import json
import os
import re
import shlex
import sys

UNITY_RE = re.compile(r"/Unity/unity_[^/]*\.(cxx|c)$")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def batch_members(path):
    """The sources a unity batch compiles (absolute paths), or None for an ordinary source."""
    if not UNITY_RE.search(path.replace(os.sep, "/")):
        return None
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
    except OSError:
        return []
    return [os.path.normpath(name) for name in INCLUDE_RE.findall(text) if os.path.isabs(name)]


def by_source(entries):
    out = []
    for entry in entries:
        members = batch_members(entry["file"])
        if members is None:
            out.append(entry)
            continue
        args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
        for member in members:
            changed = [member if a == entry["file"] else a for a in args]
            out.append({"directory": entry["directory"], "file": member, "arguments": changed})
    return out


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[-1].strip(), file=sys.stderr)
        return 2
    with open(os.path.join(argv[1], "compile_commands.json"), encoding="utf-8") as f:
        entries = json.load(f)
    os.makedirs(argv[2], exist_ok=True)
    with open(os.path.join(argv[2], "compile_commands.json"), "w", encoding="utf-8") as f:
        json.dump(by_source(entries), f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
