"""Ceiling files shared by the tree checks: one "key number" a line, "#" starts a comment."""
import os
import sys


def read_counts(path, keys):
    counts = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                key, _, value = line.partition(" ")
                counts[key] = int(value)
    for key in keys:
        if key not in counts:
            raise ValueError(f"{path}: no '{key}' count")
    return counts


def over_ceilings(tool, rows, allowed, advice, count_path, root):
    """Says which counts passed their ceiling (with the advice) or fell below it (lower the file);
    True when one passed it. rows: (key, number found, what is counted)."""
    failed = False
    for key, number, what in rows:
        if number > allowed[key]:
            print(f"{tool}: {number} {what}, more than the {allowed[key]} allowed: {advice}", file=sys.stderr)
            failed = True
        elif number < allowed[key]:
            print(f"{tool}: {number} {what}, fewer than {allowed[key]}: lower {os.path.relpath(count_path, root)}",
                  file=sys.stderr)
    return failed


def check_ceilings(tool, rows, advice, count_path, root):
    """The exit status of a ratchet: 2 when the ceiling file cannot be read, 1 when a count passed
    its ceiling, else 0 (said as over_ceilings says it). rows: (key, number found, what is counted)."""
    try:
        allowed = read_counts(count_path, [key for key, _, _ in rows])
    except (OSError, ValueError) as e:
        print(f"{tool}: {e}", file=sys.stderr)
        return 2
    return 1 if over_ceilings(tool, rows, allowed, advice, count_path, root) else 0
