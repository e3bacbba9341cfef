#!/usr/bin/env python3
"""Prints the first column of a PNG's middle row that is strongly red, and the image's width:
where a swipe action's delete circle begins."""

import sys

from PIL import Image


def main():
    image = Image.open(sys.argv[1]).convert("RGBA")
    width, height = image.size
    y = height // 2
    for x in range(width):
        r, g, b, a = image.getpixel((x, y))
        if r > 180 and g < 110 and b < 110 and a > 200:
            print(x, width)
            return
    print(-1, width)


if __name__ == "__main__":
    main()
