#!/usr/bin/env python3
"""Counts how large the conversation screen has grown, and fails when it grows further.

Three numbers: the lines of the screen class's own files (ui/conversation/vc_conversation*.h and
*.cpp), the public declarations of VC_Conversation (every member statement of its public
sections: functions, constants, types, each once) and the longest function of ui/conversation
(lines from the one naming it to its closing brace, lambdas inside counted with it). What the
screen no longer does itself lives in components it owns (docs/architecture.md, "The conversation
screen"). tools/screen_size_count.txt keeps the three ceilings; the check fails when a number is
above its ceiling and says so when one is below, so that the stored numbers only fall: lower them
in the same change. With --list it names the public declarations and the ten longest functions.
"""

import argparse
import glob
import os
import re
import sys

from app_object_check import ParseError, class_of, declarations, matching, strip_comments_and_strings
from ceilings import check_ceilings

CLASS = "VC_Conversation"
HEADER = "ui/conversation/vc_conversation.h"
CLASS_FILES = "ui/conversation/vc_conversation*"
FOLDER = "ui/conversation"

SCOPE_HEAD = re.compile(r"\b(namespace|class|struct|union|enum)\b|\bextern\s*\"\"\s*$")
# What may follow a function's parameter list before its body.
FUNCTION_TAIL = re.compile(r"\)\s*(?:const\b|noexcept\b|override\b|final\b|mutable\b|->[^{;]*|\s)*$")


def matching_brace(text, start):
    end = matching(text, start, "{", "}")
    if end < 0:
        raise ParseError(f"unmatched brace at offset {start}")
    return end


def initializer_list_head(head):
    """The head before a constructor's initializer list (A::A(x) : a_(x), b_{y}), or None."""
    depth = 0
    for i, char in enumerate(head):
        depth += {"(": 1, ")": -1, "<": 1, ">": -1}.get(char, 0)
        if char == ":" and depth == 0 and head[i - 1:i] != ":" and head[i + 1:i + 2] != ":":
            before = head[:i].rstrip()
            return before if FUNCTION_TAIL.search(before) else None
    return None


def function_named(head):
    """The name a block's head defines as a function, or None for any other block."""
    head = head.strip()
    if not head or SCOPE_HEAD.search(head.split("(")[0]) or head.endswith("="):
        return None
    if not FUNCTION_TAIL.search(head):
        head = initializer_list_head(head)
        if head is None:
            return None
    paren = head.find("(")
    match = re.search(r"(~?[A-Za-z_]\w*(?:\s*::\s*~?\w+)*|operator\s*\S+?)\s*$", head[:paren])
    return match.group(1).replace(" ", "") if match else None


def functions(text):
    """[(name, first line, last line)] of the functions defined in text, comments and strings
    already blanked (lines kept)."""
    found, i, head_start = [], 0, 0
    while i < len(text):
        char = text[i]
        if char in ";}":
            head_start = i + 1
        elif char == "{":
            head = text[head_start:i]
            name = function_named(head)
            if name is None:
                if SCOPE_HEAD.search(head.split("(")[0]) and not head.strip().endswith("="):
                    # A namespace or a class: the functions inside are looked at one by one.
                    head_start = i + 1
                    i += 1
                    continue
                i = matching_brace(text, i) + 1
                head_start = i
                continue
            end = matching_brace(text, i)
            if not FUNCTION_TAIL.search(head.strip()) and re.search(r"\w\s*$", head):
                # A member's brace initializer in a constructor's list (b_{y}): the body is further on.
                i = end + 1
                continue
            name_at = head_start + head.rfind(name.split("::")[-1], 0, head.find("(") if "(" in head else None)
            found.append((name, text.count("\n", 0, name_at) + 1, text.count("\n", 0, end) + 1))
            i = end + 1
            head_start = i
            continue
        i += 1
    return found


def blank(text):
    """Comments and strings blanked, each line kept where it is."""
    text = re.sub(r"/\*.*?\*/", lambda m: re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r"'(?:\\.|[^'\\\n])'", "' '", text)
    text = re.sub(r'R"(\w*)\((?:.|\n)*?\)\1"', lambda m: '""' + "\n" * m.group(0).count("\n"), text)
    text = re.sub(r'"(?:\\.|[^"\\\n])*"', '""', text)
    # Preprocessor lines are no statements.
    return re.sub(r"^[ \t]*#[^\n]*", "", text, flags=re.M)


def count(root):
    lines = 0
    for path in sorted(glob.glob(os.path.join(root, CLASS_FILES))):
        if path.endswith((".h", ".cpp")):
            with open(path, encoding="utf-8") as f:
                lines += sum(1 for _ in f)
    with open(os.path.join(root, HEADER), encoding="utf-8") as f:
        _, body = class_of(strip_comments_and_strings(f.read()), CLASS)
    public = [" ".join(s.split()) for access, s in declarations(body) if access == "public" and s]
    lengths = []
    for path in sorted(glob.glob(os.path.join(root, FOLDER, "*"))):
        if path.endswith((".h", ".cpp")):
            with open(path, encoding="utf-8") as f:
                for name, first, last in functions(blank(f.read())):
                    lengths.append((last - first + 1, f"{os.path.relpath(path, root)}:{first} {name}"))
    lengths.sort(reverse=True)
    return lines, public, lengths


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--count", help="default: ROOT/tools/screen_size_count.txt")
    parser.add_argument("--check", action="store_true", help="fail when a count is above its ceiling")
    parser.add_argument("--list", action="store_true", help="name the public declarations and longest functions")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    try:
        lines, public, lengths = count(root)
    except (OSError, ParseError) as e:
        print(f"screen_size_check: {e}", file=sys.stderr)
        return 2
    longest = lengths[0] if lengths else (0, "none")
    print(f"lines of {CLASS_FILES}.{{h,cpp}}: {lines}")
    print(f"public declarations of {CLASS}: {len(public)}")
    print(f"longest function in {FOLDER}: {longest[0]} lines ({longest[1]})")
    if args.list:
        for statement in public:
            print(f"  public: {statement}")
        for length, where in lengths[:10]:
            print(f"  {length} lines: {where}")
    if not args.check:
        return 0
    count_path = args.count or os.path.join(root, "tools", "screen_size_count.txt")
    return check_ceilings("screen_size_check",
                          (("lines", lines, f"lines in {CLASS}'s files"),
                           ("public", len(public), f"public declarations of {CLASS}"),
                           ("longest", longest[0], f"lines in the longest function of {FOLDER} ({longest[1]})")),
                          "give the work to a component the screen owns, or split the function into named steps",
                          count_path, root)

if __name__ == "__main__":
    sys.exit(main())
