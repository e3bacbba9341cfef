#!/usr/bin/env python3
"""Fails when a C/C++ file includes a folder that its layer may not see.

The layer table lives in docs/architecture.md between the layers:begin and layers:end markers.
Each row names a folder or a single file and the paths it may include; a file is judged by the
longest row that matches it. A row may always include itself, and every listed entry is a path
prefix ("platform" admits every platform folder). An entry written with a leading "!" withholds
that folder or file although a wider entry admits it ("service !service/private.h": all of
service but that header). A row written "folder/*" stands for each folder directly under
folder, each a layer of its own with the row's entries ("ui/* | ... ui/widgets": every screen
folder may include itself and the shared widgets, not another screen folder), and a row that names
one of those folders holds for it instead. Tests, benchmarks and fuzz targets may include
anything and are not checked.

Known violations that are being removed may be listed in an allow-list file, one
"file: include" per line; the check fails on a violation missing from the list and on an entry
that no longer matches a violation, so the list only ever shrinks.
"""

import argparse
import os
import re
import subprocess
import sys

BEGIN = "<!-- layers:begin -->"
END = "<!-- layers:end -->"
SOURCE_SUFFIXES = (".c", ".cc", ".cpp", ".cxx", ".h", ".hh", ".hpp", ".hxx", ".inc", ".ipp")
UNCHECKED_TOP = ("tests", "bench", "fuzz")
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


class TableError(Exception):
    pass


def parse_table(text):
    """Returns {row path: [allowed prefixes]} from the marked table in the architecture text."""
    start = text.find(BEGIN)
    end = text.find(END)
    if start < 0 or end < 0 or end < start:
        raise TableError("layer table markers not found")
    rows = {}
    for number, line in enumerate(text[start + len(BEGIN):end].splitlines(), 1):
        line = line.strip()
        if not line.startswith("|"):
            if line:
                raise TableError(f"table line {number} is not a row: {line!r}")
            continue
        cells = [c.strip() for c in line.strip("|").split("|")]
        if len(cells) != 2:
            raise TableError(f"table line {number} needs two cells: {line!r}")
        name, allowed = cells
        if set(name) <= set("-: ") or name == "folder":
            continue  # header and separator rows
        name = name.strip("/")
        if name in rows:
            raise TableError(f"table row {name!r} appears twice")
        entries = [a.strip("/") for a in allowed.split()]
        if any(a in ("!", "") for a in entries):
            raise TableError(f"table line {number} withholds nothing: {line!r}")
        rows[name] = entries
    if not rows:
        raise TableError("layer table is empty")
    return rows


def under(path, prefix):
    return path == prefix or path.startswith(prefix + "/")


def row_for(path, rows):
    """Returns (the layer the path is in, the table row that holds for it), or (None, None)."""
    best, rank = (None, None), None
    for name in rows:
        if name.endswith("/*"):
            parent = name[:-2]
            rest = path[len(parent) + 1:] if path.startswith(parent + "/") else ""
            if "/" not in rest:
                continue  # not inside a folder under parent
            layer, explicit = parent + "/" + rest.split("/", 1)[0], 0
        elif under(path, name):
            layer, explicit = name, 1
        else:
            continue
        if rank is None or (len(layer), explicit) > rank:
            best, rank = (layer, name), (len(layer), explicit)
    return best


def allowed(include, layer, entries):
    if any(a.startswith("!") and under(include, a[1:]) for a in entries):
        return False
    return under(include, layer) or any(under(include, a) for a in entries if not a.startswith("!"))


def tracked_files(root):
    try:
        out = subprocess.run(["git", "ls-files", "-z"], cwd=root, check=True,
                             capture_output=True).stdout.decode()
        return [f for f in out.split("\0") if f]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames[:] = [d for d in dirnames if not d.startswith(".") and not d.startswith("build")]
            for f in filenames:
                files.append(os.path.relpath(os.path.join(dirpath, f), root))
        return sorted(files)


def checked(path):
    return path.endswith(SOURCE_SUFFIXES) and path.split("/", 1)[0] not in UNCHECKED_TOP


def read_allow_list(path):
    entries = {}
    if path is None or not os.path.exists(path):
        return entries
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            if ":" not in line:
                raise TableError(f"{path}:{number}: expected 'file: include', got {line!r}")
            source, include = (part.strip() for part in line.split(":", 1))
            entries[(source, include)] = number
    return entries


def check(root, architecture, allow_path):
    """Returns the list of problems, each a ready-to-print line."""
    with open(architecture, encoding="utf-8") as f:
        rows = parse_table(f.read())
    allow = read_allow_list(allow_path)
    problems = []
    used = set()
    for path in tracked_files(root):
        if not checked(path):
            continue
        layer, row = row_for(path, rows)
        full = os.path.join(root, path)
        if not os.path.isfile(full):
            continue  # deleted in the work tree but still in the index
        with open(full, encoding="utf-8", errors="replace") as f:
            lines = f.readlines()
        if row is None:
            problems.append(f"{path}:1: no row of the layer table covers this file")
            continue
        for number, line in enumerate(lines, 1):
            m = INCLUDE_RE.match(line)
            if not m:
                continue
            include = os.path.normpath(m.group(1)).replace(os.sep, "/")
            if allowed(include, layer, rows[row]):
                continue
            if (path, include) in allow:
                used.add((path, include))
                continue
            problems.append(f'{path}:{number}: #include "{include}" reaches outside the layer of '
                            f"{layer} (may include: {' '.join([layer] + rows[row])})")
    for key, number in sorted(allow.items(), key=lambda kv: kv[1]):
        if key not in used:
            problems.append(f"{os.path.relpath(allow_path, root)}:{number}: '{key[0]}: {key[1]}' is no longer a "
                            "violation; remove it from the allow-list")
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--architecture", help="default: ROOT/docs/architecture.md")
    parser.add_argument("--allow", help="default: ROOT/tools/layer_check_allow.txt")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    architecture = args.architecture or os.path.join(root, "docs", "architecture.md")
    allow = args.allow or os.path.join(root, "tools", "layer_check_allow.txt")
    try:
        problems = check(root, architecture, allow)
    except (OSError, TableError) as e:
        print(f"layer_check: {e}", file=sys.stderr)
        return 2
    for p in problems:
        print(p, file=sys.stderr)
    if problems:
        print(f"layer_check: {len(problems)} problem(s)", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
