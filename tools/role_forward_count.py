#!/usr/bin/env python3
"""Counts how much of the screens' roles only passes work on, and fails when that grows.

A role is a class defined under app/ that is named HXApp...Role or implements a role interface
(a class HX...Role declared in app/roles/, or in service/ or model/ beside the owner that
implements it); of a class that implements one besides work of its own (a device form of
the application object), only the members the interfaces declare are role methods. A role method's body is a forward when it is one call and nothing else
(`return`, `(void)` aside) reached through what the role holds, or a guard around one call
(`if (a_.ready()) a_.go();`), or one object fetched and asked the same question
(`auto c = calls(); return c && c->canCall();`, `if (auto c = calls()) c->place(n);`); by what it
is reached through:
  to the application object
            the whole application object (app_), or a static member of its top class;
  to a slice
            the web client (client_), the data model (model_) or what the application object
            hands the roles (slices_), directly, through a static member of
            HXApplicationWebClient, or through a free function the slice is handed to
            (HXDeleteMessage(client_, ...), HXConversationPagesOf(client_)->loadOlder(...));
  to another role
            any other member the role holds (the alerts, the call choice, routing, the store,
            an owner of the slice's such as the pages or the sender), directly or through a free
            function it is handed to;
  closures  the one-liners the application object hands the roles as HXShellRoleSlices (every
            closure of the aggregate its roleSlices() builds).
The sum of the four is "one-call bodies". It also prints the role interfaces that declare
account(), the roles holding the web client (HXApplicationWebClient&), the roles
holding the data model (HXApplicationModel&, the slice below it), the roles holding the whole
application object (HX_ConnectAppDelegate& or one of its device forms) and the roles among its
friends. With -v it lists what it counts.

tools/role_forward_count.txt keeps the ceilings of the first five numbers after "one-call
bodies"; the script fails when a number is above its ceiling and says so when one is below, so
that the stored numbers only fall: lower them in the same change.
"""

import argparse
import glob
import os
import re
import sys

from app_object_check import matching, strip_comments_and_strings as strip
from ceilings import check_ceilings

APP_OBJECT = r"HX_ConnectAppDelegate(?:_iPad|_iPhone)?"
WHOLE = ("app_",)
SLICES = ("client_", "model_", "slices_")
WHOLE_CLASSES = ("HX_ConnectAppDelegate",)
SLICE_CLASSES = ("HXApplicationWebClient", "HXApplicationModel")
ROLE_NAME = re.compile(r"HXApp\w*Role$")


def call_chain(expr):
    """[(callee, arguments)] when expr is one postfix chain of calls (a.b(x)->c(y), f(x).g()),
    else None."""
    i, links, callee = 0, [], ""
    while i < len(expr):
        m = re.match(r"\s*((?:\.|->)?\s*(?:::)?\w+(?:\s*::\s*\w+)*)\s*", expr[i:])
        if not m:
            return None
        callee += m.group(1)
        i += m.end()
        if i < len(expr) and expr[i] == "(":
            close = matching(expr, i, "(", ")")
            if close < 0:
                return None
            links.append((callee.strip(), expr[i + 1:close]))
            callee = ""
            i = close + 1
            while i < len(expr) and expr[i].isspace():
                i += 1
        elif i >= len(expr) or expr[i] not in ".-":
            return None
    return links if links and not callee.strip() else None


def fetched_and_asked(body, name):
    """(kind, handle) when the body fetches one object by one call and asks it name again:
    `auto x = F; return x && x->name(...);`, `... return x ? x->name(...) : d;`, `if (x) x->name(...);`
    or `if (auto x = F) x->name(...);`; else None."""
    body = " ".join(body.split())
    m = (re.fullmatch(r"auto (\w+) = (.+?); (?:return \1 (?:&&|\?) |if \(\1\) (?:\(void\) ?)?)\1->(\w+)\((.*)", body)
         or re.fullmatch(r"if \(auto (\w+) = (.+?)\) (?:\(void\) ?)?\1->(\w+)\((.*)", body))
    if not m or m.group(3) != name or not call_chain(m.group(2)):
        return None
    return forwarded_through(m.group(2) + ";") or ("role", m.group(2))


def forwarded_through(body, name=None):
    """(kind, handle) when the body is a forward, else None."""
    body = body.strip()
    if name and (fetched := fetched_and_asked(body, name)):
        return fetched
    if body.count(";") != 1 or not body.endswith(";") or "{" in body:
        return None
    expr = re.sub(r"^(return\s+|\(void\)\s*)", "", body[:-1].strip())
    # A guard around one call: the guard's own call says what the body goes through.
    guard = re.match(r"if\s*\(", expr)
    if guard:
        close = matching(expr, guard.end() - 1, "(", ")")
        if close < 0 or not call_chain(expr[close + 1:].strip()):
            return None
        return forwarded_through(expr[guard.end():close] + ";")
    links = call_chain(expr)
    if not links:
        return None
    first, arguments = links[0]
    root = re.match(r"(?:::)?(\w+)", first).group(1)
    if root.endswith("_"):
        handle = root
    elif root in WHOLE_CLASSES:
        return "whole", root
    elif root in SLICE_CLASSES:
        return "slice", root
    else:
        # A free function handed one of the role's members.
        handed = re.findall(r"\b(\w+_)\b", arguments)
        if not handed or "." in first or "->" in first:
            return None
        handle = handed[0]
    kind = "whole" if handle in WHOLE else "slice" if handle in SLICES else "role"
    return kind, handle


def classes(text):
    """(name, bases, body) of each class or struct defined in text."""
    for match in re.finditer(r"\b(?:class|struct)\s+(\w+)\s*(?:final\s*)?(:[^;{]*)?\{", text):
        end = matching(text, match.end() - 1, "{", "}")
        yield match.group(1), match.group(2) or "", text[match.end():end]


def role_methods(text, roles):
    pattern = re.compile(r"\b(%s)::(~?\w+)\s*\(" % "|".join(sorted(roles)))
    for match in pattern.finditer(text):
        close = matching(text, match.end() - 1, "(", ")")
        rest = text[close + 1:]
        head = re.match(r"\s*(?:const\s*)?(?:override\s*)?(\{|:)", rest)
        if not head or head.group(1) != "{":
            continue
        open_at = close + 1 + head.end() - 1
        end = matching(text, open_at, "{", "}")
        yield match.group(1), match.group(2), text[open_at + 1:end]


def handed_closures(text):
    """The closures of each HXShellRoleSlices aggregate built in text."""
    for match in re.finditer(r"\bHXShellRoleSlices\s*\{", text):
        end = matching(text, match.end() - 1, "{", "}")
        yield from re.findall(r"\.(\w+)\s*=\s*\[", text[match.end():end])


def count(root):
    sources = sorted(glob.glob(os.path.join(root, "app", "*.cpp")))
    headers = sorted(glob.glob(os.path.join(root, "app", "**", "*.h"), recursive=True))
    interfaces = {}
    for path in sorted(glob.glob(os.path.join(root, "app", "roles", "*.h")) + glob.glob(os.path.join(root, "service", "*.h"))
                       + glob.glob(os.path.join(root, "model", "*.h"))):
        for name, _, body in classes(strip(open(path, encoding="utf-8").read())):
            if name.endswith("Role"):
                interfaces[name] = body
    found = {"whole": [], "slice": [], "role": [], "closure": [], "account": [], "webclient": [],
             "model": [], "holders": [], "friends": [], "methods": 0}
    roles = set()
    # A class that is not named as a role but implements interfaces of app/roles/ besides its own
    # work (a device form answering its split view's questions): only the interfaces' members are
    # its role methods.
    members = {}
    for path in headers:
        if os.path.dirname(path) == os.path.join(root, "app", "roles"):
            continue
        text = strip(open(path, encoding="utf-8").read())
        for name, bases, body in classes(text):
            implemented = set(re.findall(r"\b(HX\w*Role)\b", bases)) & set(interfaces)
            if not (ROLE_NAME.match(name) or implemented):
                continue
            roles.add(name)
            if not ROLE_NAME.match(name):
                members[name] = {m for i in implemented for m in re.findall(r"\bvirtual\b[^;{]*?\b(\w+)\s*\(", interfaces[i])}
            if re.search(r"\bHXApplicationWebClient\s*&", body):
                found["webclient"].append(name)
            if re.search(r"\bHXApplicationModel\s*&", body):
                found["model"].append(name)
            if re.search(APP_OBJECT + r"\s*&", body):
                found["holders"].append(name)
        if os.path.basename(path).startswith("connect_app_delegate"):
            found["friends"] += re.findall(r"\bfriend\s+(?:class|struct)\s+(HXApp\w*Role)\b", text)
    for name, body in sorted(interfaces.items()):
        if re.search(r"\baccount\s*\(\s*\)", body):
            found["account"].append(name)
    for path in sources + headers:
        text = strip(open(path, encoding="utf-8").read())
        if roles:
            for role, name, body in role_methods(text, roles):
                if role in members and name not in members[role]:
                    continue
                found["methods"] += 1
                forward = forwarded_through(body, name)
                if forward:
                    found[forward[0]].append(f"{role}::{name}: {' '.join(body.split())}")
        found["closure"] += [f"HXShellRoleSlices::{name}" for name in handed_closures(text)]
    return found


def bodies(found):
    return sum(len(found[kind]) for kind in ("whole", "slice", "role", "closure"))


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--count", help="default: ROOT/tools/role_forward_count.txt")
    parser.add_argument("--check", action="store_true", help="fail when a count is above its ceiling")
    parser.add_argument("-v", "--verbose", action="store_true")
    args = parser.parse_args(argv)
    root = os.path.abspath(args.root)
    found = count(root)
    print(f"role methods {found['methods']}")
    print(f"forwards to the application object (app_): {len(found['whole'])}")
    print(f"forwards to a slice of it ({', '.join(SLICES)}): {len(found['slice'])}")
    print(f"forwards to another role: {len(found['role'])}")
    print(f"closures handed as HXShellRoleSlices: {len(found['closure'])}")
    print(f"one-call bodies: {bodies(found)}")
    print(f"role interfaces declaring account(): {len(found['account'])}")
    print(f"roles holding the web client: {len(found['webclient'])}")
    print(f"roles holding the data model: {len(found['model'])}")
    print(f"roles holding the whole application object: {len(found['holders'])}")
    print(f"roles among its friends: {len(found['friends'])}")
    if args.verbose:
        for kind, label in (("whole", "forward to the application object"), ("slice", "forward to a slice"),
                            ("role", "forward to another role"), ("closure", "closure"),
                            ("account", "account() in"), ("webclient", "web client held by"),
                            ("model", "data model held by"),
                            ("holders", "application object held by"), ("friends", "friend")):
            for line in found[kind]:
                print(f"  {label}: {line}")
    if not args.check:
        return 0
    count_path = args.count or os.path.join(root, "tools", "role_forward_count.txt")
    return check_ceilings("role_forward_count",
                          (("bodies", bodies(found), "one-call role bodies"),
                           ("account", len(found["account"]), "role interfaces declaring account()"),
                           ("webclient", len(found["webclient"]), "roles holding the web client"),
                           ("model", len(found["model"]), "roles holding the data model"),
                           ("whole", len(found["holders"]), "roles holding the whole application object")),
                          "let the owner of the work implement the interface the screen takes, or hand the screen the "
                          "role that has it", count_path, root)


if __name__ == "__main__":
    sys.exit(main())
