#!/usr/bin/env python3
"""Counts how much of the screens' roles is the application object's.

Prints these numbers and, with -v, what they count:
  forwards to the application object
            role methods whose body is one call on the whole application object (app_) and
            nothing else;
  forwards to a slice
            the same through a slice of it the role holds instead: the web client (client_), or
            one of the operations the application object hands the roles (slices_);
  forwards to a shared owner
            the same through the owner of a need several roles share (alerts, the call choice,
            the quick-setting snapshot, the store, routing);
  holders   role classes holding a reference to the whole application object
            (HX_ConnectAppDelegate& or one of its device forms);
  friends   roles among the application object's friends.
A role is a class named HXApp...Role defined under app/.
"""

import argparse
import glob
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
APP_OBJECT = r"HX_ConnectAppDelegate(?:_iPad|_iPhone)?"
# The names under which roles hold the whole application object, one of its slices, and the
# owners of shared needs.
WHOLE = ("app_",)
SLICES = ("client_", "slices_")
OWNERS = ("alerts_", "calls_", "quickSettings_", "store_", "routing_")
HANDLES = WHOLE + SLICES + OWNERS
DEF_RE = re.compile(r"\bHXApp\w*Role::(~?\w+)\s*\(")


def strip(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def matching(text, start, open_ch, close_ch):
    depth = 0
    for i in range(start, len(text)):
        if text[i] == open_ch:
            depth += 1
        elif text[i] == close_ch:
            depth -= 1
            if depth == 0:
                return i
    return -1


def forwarded_through(body):
    """The handle a body is one call on, or None."""
    body = body.strip()
    if body.count(";") != 1 or not body.endswith(";"):
        return None
    expr = re.sub(r"^(return\s+|\(void\)\s*)", "", body[:-1].strip())
    call = re.match(r"(%s)\s*(?:\.|->)\s*\w+\s*\(" % "|".join(HANDLES), expr)
    if not call or matching(expr, call.end() - 1, "(", ")") != len(expr) - 1:
        return None
    return call.group(1)


def role_methods(path):
    text = strip(open(path, encoding="utf-8").read())
    for match in DEF_RE.finditer(text):
        close = matching(text, match.end() - 1, "(", ")")
        rest = text[close + 1:]
        head = re.match(r"\s*(?:const\s*)?(?:override\s*)?(\{|:)", rest)
        if not head or head.group(1) != "{":
            continue
        open_at = close + 1 + head.end() - 1
        end = matching(text, open_at, "{", "}")
        yield match.group(0).split("::")[0].split()[-1], match.group(1), text[open_at + 1:end]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args()
    sources = sorted(glob.glob(os.path.join(ROOT, "app", "*.cpp")))
    headers = sorted(glob.glob(os.path.join(ROOT, "app", "**", "*.h"), recursive=True))

    forwards = {"whole": [], "slice": [], "owner": []}
    methods = 0
    for path in sources + headers:
        for role, name, body in role_methods(path):
            methods += 1
            handle = forwarded_through(body)
            if handle:
                kind = "whole" if handle in WHOLE else "slice" if handle in SLICES else "owner"
                forwards[kind].append(f"{role}::{name}: {' '.join(body.split())}")

    holders, friends = [], []
    for path in headers:
        text = strip(open(path, encoding="utf-8").read())
        for match in re.finditer(r"\bclass\s+(HXApp\w*Role)\b[^;{]*\{", text):
            end = matching(text, match.end() - 1, "{", "}")
            if re.search(APP_OBJECT + r"\s*&", text[match.end():end]):
                holders.append(match.group(1))
        if os.path.basename(path).startswith("connect_app_delegate"):
            friends += re.findall(r"\bfriend\s+(?:class|struct)\s+(HXApp\w*Role)\b", text)

    print(f"role methods {methods}")
    print(f"forwards to the application object (whole, app_): {len(forwards['whole'])}")
    print(f"forwards to a slice of it ({', '.join(SLICES)}): {len(forwards['slice'])}")
    print(f"forwards to a shared owner ({', '.join(OWNERS)}): {len(forwards['owner'])}")
    print(f"roles holding the whole application object: {len(holders)}")
    print(f"roles among its friends: {len(friends)}")
    if args.verbose:
        for kind, label in (("whole", "to the application object"), ("slice", "to a slice"),
                            ("owner", "to a shared owner")):
            for line in forwards[kind]:
                print(f"  forward {label}: {line}")
        for name in holders:
            print("  holder " + name)
        for name in friends:
            print("  friend " + name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
