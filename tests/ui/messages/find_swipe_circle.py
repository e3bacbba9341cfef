#!/usr/bin/env python3
"""Prints the first and the last column of a PNG's middle row that are strongly red (where a swipe
action's delete circle begins and ends; -1 -1 without one) and the image's width; given a font
file and a size, also the advance of six spaces in that font (what the circle's width is
measured from)."""

import sys

from PIL import Image, ImageFont


def main():
    image = Image.open(sys.argv[1]).convert("RGBA")
    width, height = image.size
    y = height // 2
    red = [x for x in range(width)
           if (lambda r, g, b, a: r > 180 and g < 110 and b < 110 and a > 200)(*image.getpixel((x, y)))]
    first, last = (red[0], red[-1]) if red else (-1, -1)
    fields = [first, last, width]
    if len(sys.argv) > 3:
        fields.append(ImageFont.truetype(sys.argv[2], int(sys.argv[3])).getlength("      "))
    print(*fields)


if __name__ == "__main__":
    main()
