#!/usr/bin/env python3
"""Clang's thread-safety analysis, as errors, over the sources that carry its annotations.

A source joins the pass when it includes platform/foundation/thread_annotations.h, or includes a
header of the project that does (an annotated class's members are private, so its own sources,
which include its header, are where they are touched; so is the header of the same name beside
it). Tests, benchmarks and fuzz targets join only when they include the annotations themselves.
The sources are found in the build's compile database, not listed by hand; each is compiled with
clang, syntax only (no code generation), with the flags of its entry there. Where the build
compiles sources in batches (a unity build), the database names the batches: a batch joins when
one of its sources would, and only those sources are analysed, in a batch of their own written
beside it (in the batch's order, with its command), so the analysis parses each batch's headers
once and spends nothing on the sources it is not for.
"""

import argparse
import concurrent.futures
import json
import os
import re
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from source_database import batch_members  # noqa: E402

ANNOTATIONS = "platform/foundation/thread_annotations.h"
INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"' + re.escape(ANNOTATIONS) + '"', re.M)
ANY_INCLUDE_RE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
HEADER_SUFFIXES = (".h", ".hpp", ".hh")
ANALYSIS = ["-fsyntax-only", "-Wthread-safety", "-Wthread-safety-beta", "-Werror=thread-safety",
            "-Werror=thread-safety-beta", "-Wno-unknown-warning-option"]


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return None


def includes_annotations(path, cache={}):
    if path not in cache:
        text = read(path)
        cache[path] = text is not None and INCLUDE_RE.search(text) is not None
    return cache[path]


def included_files(source, root):
    """The project files that source names in its quoted includes (from the root or beside it)."""
    text = read(source)
    if text is None:
        return []
    out = []
    for name in ANY_INCLUDE_RE.findall(text):
        for base in (root, os.path.dirname(source)):
            candidate = os.path.normpath(os.path.join(base, name))
            if os.path.isfile(candidate):
                out.append(candidate)
                break
    return out


def annotated(source, root=ROOT):
    if includes_annotations(source):
        return True
    stem = os.path.splitext(source)[0]
    if any(includes_annotations(stem + s) for s in HEADER_SUFFIXES):
        return True
    # Tests, benchmarks and fuzz targets touch no guarded member; they join only when they
    # include the annotations themselves.
    relative = os.path.relpath(source, root).replace(os.sep, "/")
    if relative.split("/", 1)[0] in ("tests", "bench", "fuzz"):
        return False
    return any(includes_annotations(h) for h in included_files(source, root))


def chosen_sources(entry):
    """The sources of an entry that the pass is for: the entry's own file, or a batch's members."""
    members = batch_members(entry["file"])
    return [m for m in (members if members is not None else [entry["file"]]) if annotated(m)]


def find_clang():
    for name in ("clang++-14", "clang++"):
        found = shutil.which(name)
        if found:
            return found
    return None


def analysed_file(entry):
    """The file the analysis compiles for an entry: the entry's own, or, for a batch of which only
    some sources join, a batch of just those, written beside it ("<batch>.tsa.cxx")."""
    members = batch_members(entry["file"])
    chosen = chosen_sources(entry)
    if members is None or chosen == members:
        return entry["file"]
    path = re.sub(r"\.(cxx|c)$", r".tsa.\1", entry["file"])
    text = "/* the sources of the thread-safety analysis in this batch */\n" + "".join(
        f'#include "{source}"\n' for source in chosen)
    if read(path) != text:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
    return path


def analysis_command(entry, clang):
    """The entry's compile command with clang as the compiler and only the analysis as output."""
    args = entry["arguments"] if "arguments" in entry else shlex.split(entry["command"])
    out = [clang]
    skip = False
    for a in args[1:]:
        if skip:
            skip = False
            continue
        if a in ("-o", "-c", "-MF", "-MT", "-MQ"):
            skip = a != "-c"
            continue
        if a.startswith("-W") or a in ("-MD", "-MMD") or a == entry["file"]:
            continue
        out.append(a)
    return out + ANALYSIS + [analysed_file(entry)]


def run_one(entry, clang):
    cmd = analysis_command(entry, clang)
    p = subprocess.run(cmd, cwd=entry.get("directory", "."), capture_output=True, text=True)
    return entry["file"], p.returncode, p.stdout + p.stderr


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-p", "--build", default="build", help="folder holding compile_commands.json")
    parser.add_argument("-j", "--jobs", type=int, default=len(os.sched_getaffinity(0)) or 2)
    parser.add_argument("--list", action="store_true", help="only print the sources of the pass")
    args = parser.parse_args(argv)

    database = os.path.join(args.build, "compile_commands.json")
    try:
        with open(database, encoding="utf-8") as f:
            entries = json.load(f)
    except (OSError, ValueError) as e:
        print(f"thread_safety_check: cannot read {database}: {e}", file=sys.stderr)
        return 2
    chosen = sorted((e for e in entries if chosen_sources(e)), key=lambda e: e["file"])
    if args.list:
        for source in sorted(s for e in chosen for s in chosen_sources(e)):
            print(source)
        return 0
    if not chosen:
        print("thread_safety_check: no annotated source in the compile database", file=sys.stderr)
        return 2
    clang = find_clang()
    if clang is None:
        print("thread_safety_check: clang++ not found", file=sys.stderr)
        return 2

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        for source, rc, output in pool.map(lambda e: run_one(e, clang), chosen):
            if rc != 0:
                failed += 1
                sys.stderr.write(output)
    if failed:
        print(f"thread_safety_check: {failed} of {len(chosen)} compilation(s) fail the analysis", file=sys.stderr)
        return 1
    sources = sum(len(chosen_sources(e)) for e in chosen)
    print(f"thread_safety_check: {sources} source(s) pass ({len(chosen)} compilation(s))")
    return 0


if __name__ == "__main__":
    sys.exit(main())
