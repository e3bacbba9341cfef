#!/usr/bin/python3
"""Checks that a headless run's call view shows its icons: each dial-pad key without a title
(star, hash, contacts, delete: the outline names their image, or nothing when it is missing) and each tab of the tab bar has pixels other than its background
where its icon goes. Reads N-call.png and its outline N-call.txt from the run's out folder.

  icons_check.py OUT_DIR     prints each icon frame found empty; status 1 if any, 2 on bad input
"""
import glob
import os
import re
import sys

from PIL import Image

FRAME = re.compile(r"^\s*(HXDialPadButton #-?\d+|TabBarButton) \(([-\d.]+), ([-\d.]+), ([-\d.]+), ([-\d.]+)\)(.*)$")


def icon_boxes(outline):
    """[(name, (x0, y0, x1, y1))] in points: the middle of each untitled key, and the part of each
    tab above its title and left of where a badge sits."""
    boxes = []
    for line in outline.splitlines():
        m = FRAME.match(line)
        if not m:
            continue
        kind = m.group(1)
        x, y, w, h = (float(v) for v in m.group(2, 3, 4, 5))
        rest = m.group(6)
        if kind.startswith("HXDialPadButton"):
            text = rest.lstrip()
            if text.startswith('"') and not text.startswith('"image:'):
                continue  # a titled key: its title is drawn, not an icon
            boxes.append((kind + rest, (x + w * 0.3, y + h * 0.3, x + w * 0.7, y + h * 0.7)))
        else:
            cx = x + w / 2
            boxes.append((kind + rest, (cx - 12, y + 4, cx + 2, y + 30)))
    return boxes


def empty(image, box, scale):
    """True when the box holds (almost) nothing but its most common colour."""
    x0, y0, x1, y1 = (int(round(v * scale)) for v in box)
    region = image.crop((x0, y0, x1, y1)).convert("RGB")
    counts = region.getcolors(maxcolors=1 << 20)
    if not counts:
        return False
    background = max(counts)[1]
    differing = sum(n for n, c in counts if sum(abs(a - b) for a, b in zip(c, background)) > 60)
    return differing < 0.01 * region.width * region.height


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    outlines = sorted(glob.glob(os.path.join(argv[1], "*-call.txt")))
    if not outlines:
        print(f"icons_check: no call view in {argv[1]}", file=sys.stderr)
        return 2
    with open(outlines[0], encoding="utf-8") as f:
        outline = f.read()
    m = re.match(r"Screen ([\d.]+)x([\d.]+) @([\d.]+)x", outline)
    if not m:
        print(f"icons_check: {outlines[0]} names no screen", file=sys.stderr)
        return 2
    image = Image.open(outlines[0][:-4] + ".png")
    scale = float(m.group(3))
    boxes = icon_boxes(outline)
    if not any(n.startswith("HXDialPadButton") for n, _ in boxes) or not any(n.startswith("TabBar") for n, _ in boxes):
        print("icons_check: the call view shows no untitled keys or no tab bar", file=sys.stderr)
        return 1
    missing = [name for name, box in boxes if empty(image, box, scale)]
    for name in missing:
        print(f"icons_check: no icon in {name}", file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
