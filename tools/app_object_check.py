#!/usr/bin/env python3
"""Fails when the application object gains base classes or public member functions.

The application object is one chain of classes, one slice per layer (docs/app.md):
HXApplicationModel, HXApplicationWebClient and HX_ConnectAppDelegate. What
screens need of it are roles, objects of their own that it owns; it does not grow by taking on
more bases or more public members. tools/app_object_count.txt keeps two numbers: the bases of
HX_ConnectAppDelegate and the public member functions declared over the three slices (an
override declared again in a higher slice counts again; deleted functions do not count). The
check fails when either is above its number, and says so when either is below, so that the
stored numbers only fall: lower them in the same change.
"""

import argparse
import os
import re
import sys

from ceilings import over_ceilings, read_counts

# The slices, top first: class name and header.
SLICES = (
    ("HX_ConnectAppDelegate", "app/connect_app_delegate.h"),
    ("HXApplicationWebClient", "service/application_web_client.h"),
    ("HXApplicationModel", "model/application_model.h"),
)
TOP = SLICES[0][0]
ACCESS_RE = re.compile(r"\s*(public|private|protected)\s*:(?!:)")
NAME_RE = re.compile(r"(~?[A-Za-z_][A-Za-z0-9_]*|operator\s*(?:\(\)|[^\s(]+))\s*\($")
NOT_FUNCTIONS = re.compile(r"(using|typedef|enum|struct|class|union|friend|static_assert)\b")


class ParseError(Exception):
    pass


def strip_comments_and_strings(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    return re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)


def matching(text, start, open_ch, close_ch):
    """The offset of the bracket that closes the one at start, or -1 when none does."""
    depth = 0
    for i in range(start, len(text)):
        if text[i] == open_ch:
            depth += 1
        elif text[i] == close_ch:
            depth -= 1
            if depth == 0:
                return i
    return -1


def class_of(text, name):
    """Returns (the head before the opening brace, the body) of class name's definition."""
    match = re.search(r"\bclass\s+" + re.escape(name) + r"\b[^;{]*\{", text)
    if not match:
        raise ParseError(f"class {name} not found")
    end = matching(text, match.end() - 1, "{", "}")
    if end < 0:
        raise ParseError(f"class {name} has no end")
    return text[match.start():match.end() - 1], text[match.end():end]


def base_classes(head):
    """The bases listed after the colon of a class head."""
    _, colon, bases = head.partition(":")
    if not colon:
        return []
    names, depth, current = [], 0, ""
    for char in bases:
        depth += {"<": 1, ">": -1, "(": 1, ")": -1}.get(char, 0)
        if char == "," and depth == 0:
            names.append(current.strip())
            current = ""
        else:
            current += char
    if current.strip():
        names.append(current.strip())
    return names


def declarations(body):
    """[(access, statement)] of the class body's members, a function body being cut off."""
    found, access, current, braces, parens, i = [], "private", "", 0, 0, 0
    while i < len(body):
        if braces == 0 and parens == 0 and not current.strip():
            match = ACCESS_RE.match(body, i)
            if match:
                access, i = match.group(1), match.end()
                continue
        char = body[i]
        i += 1
        parens += {"(": 1, ")": -1}.get(char, 0)
        if char == "{":
            braces += 1
        elif char == "}":
            braces -= 1
            if braces == 0 and parens == 0:
                found.append((access, current.strip()))
                current = ""
                # A member defined in the class may end in a ";" of its own.
                while i < len(body) and body[i] in " \t\n;":
                    i += 1
                continue
        if braces == 0:
            current += char
        if char == ";" and braces == 0 and parens == 0:
            found.append((access, current.strip()))
            current = ""
    return found


def function_name(statement):
    """The name a declaration declares as a function, or None for anything else."""
    if not statement or NOT_FUNCTIONS.match(statement):
        return None
    if re.search(r"=\s*delete\s*;?$", statement):
        return None
    # Template arguments hold parentheses of their own (std::function<void(int)>).
    flat, depth = "", 0
    for char in statement:
        if char == "<":
            depth += 1
        elif char == ">" and depth:
            depth -= 1
        elif depth == 0:
            flat += char
    paren = flat.find("(")
    if paren < 0 or "=" in flat[:paren].replace("operator=", ""):
        return None
    match = NAME_RE.search(flat[:paren + 1])
    return match.group(1) if match else None


def count(root):
    """(bases of the top slice, [(class, name)] of the public member functions)."""
    bases, public = None, []
    for name, header in SLICES:
        with open(os.path.join(root, header), encoding="utf-8") as f:
            head, body = class_of(strip_comments_and_strings(f.read()), name)
        if name == TOP:
            bases = base_classes(head)
        for access, statement in declarations(body):
            function = function_name(statement)
            if access == "public" and function:
                public.append((name, function))
    return bases, public


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--count", help="default: ROOT/tools/app_object_count.txt")
    parser.add_argument("--list", action="store_true", help="print the bases and public member functions")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    count_path = args.count or os.path.join(root, "tools", "app_object_count.txt")
    try:
        allowed = read_counts(count_path, ("bases", "public"))
        bases, public = count(root)
    except (OSError, ValueError, ParseError) as e:
        print(f"app_object_check: {e}", file=sys.stderr)
        return 2
    if args.list:
        for base in bases:
            print(f"base {base}")
        for cls, function in public:
            print(f"public {cls}::{function}")
    failed = over_ceilings("app_object_check",
                           (("bases", len(bases), f"base classes of {TOP}"),
                            ("public", len(public), "public member functions of the application object")),
                           allowed, "give the work to a role object or a slice's own member instead", count_path, root)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
