"""Looks read from the pictures the screen tests keep (their golden PNGs and outlines), with an
independent reader (python3-pil), as a person would look at them: text hidden below a translucent
navigation bar does not show through it, every key of the keyboard carries a readable label, a
pulled list shows the refresh control's spinner and title, the named texts keep their colours with
the contrast they give, and favourite pictures are round.

The pictures are read from HX_PICTURES_DIR when it is set (a tree laid out as the repository's,
e.g. an older commit's pictures), else from the repository."""
import os
import re
import unittest

try:
    from PIL import Image
except ImportError:  # the system's python3 has it; another one first on the path may not
    Image = None

ROOT = os.environ.get("HX_PICTURES_DIR") or os.environ.get("HX_SOURCE_DIR") or os.path.join(
    os.path.dirname(__file__), "..", "..")
SCALE = 2  # every golden is drawn at 2x
STYLES = ("light", "dark")


def golden(area, name):
    return os.path.join(ROOT, "tests", "ui", area, "golden", name)


def picture(area, name):
    return Image.open(golden(area, name)).convert("RGB")


# ---- colour

def luminance(c):
    def linear(v):
        v /= 255.0
        return v / 12.92 if v <= 0.03928 else ((v + 0.055) / 1.055) ** 2.4
    return 0.2126 * linear(c[0]) + 0.7152 * linear(c[1]) + 0.0722 * linear(c[2])


def contrast(a, b):
    la, lb = luminance(a), luminance(b)
    return (max(la, lb) + 0.05) / (min(la, lb) + 0.05)


def distance(a, b):
    return max(abs(x - y) for x, y in zip(a, b))


def crop(image, box):
    """box: (x, y, w, h) in points."""
    x, y, w, h = box
    return image.crop((round(x * SCALE), round(y * SCALE), round((x + w) * SCALE), round((y + h) * SCALE)))


class Ink:
    """What stands out in a part of a picture from its most common colour (its background)."""

    def __init__(self, image, box, threshold=40, background=None):
        colours = crop(image, box).getcolors(1 << 22)
        colours.sort(reverse=True)
        self.background = background or colours[0][1]
        self.farthest = 0
        self.count = 0
        self.contrast = 1.0
        self.strongest = None
        for n, c in colours:
            d = distance(c, self.background)
            self.farthest = max(self.farthest, d)
            if d <= threshold:
                continue
            self.count += n
            r = contrast(c, self.background)
            if r > self.contrast:
                self.contrast, self.strongest = r, c


# ---- outlines

FRAME = re.compile(r"^(\s*)(\S+)(?: #(-?\d+))? \(([-\d.]+), ([-\d.]+), ([-\d.]+), ([-\d.]+)\)(.*)$")


def outline(area, name):
    """[(kind, tag, (x, y, w, h), rest, depth)] in the outline's own order; frames are in their
    superview's coordinates, as the outline writes them."""
    views = []
    with open(golden(area, name), encoding="utf-8") as f:
        for line in f:
            m = FRAME.match(line.rstrip("\n"))
            if m:
                views.append((m.group(2), m.group(3), tuple(float(v) for v in m.group(4, 5, 6, 7)), m.group(8),
                              len(m.group(1))))
    return views


def first(views, kind, text=None, tag=None):
    for v in views:
        if v[0] == kind and (text is None or text in v[3]) and (tag is None or v[1] == str(tag)):
            return v
    raise AssertionError(f"no {kind} {text or ''} {tag or ''} in the outline")


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class NavigationBarMaterial(unittest.TestCase):
    """The list keeps its search bar scrolled up under the navigation bar: the bar's material must
    hide the search field's placeholder, where a faint "Search SMS" showed through before."""

    def test_the_search_text_below_the_bar_does_not_show_through_it(self):
        views = outline("messages", "list_phone.txt")
        bar = first(views, "NavigationBar")[2]
        field = first(views, "TextField", "[Search SMS]")[2]
        # The field's left part, where its placeholder is written; the bar's title is centred.
        left, right = field[0], field[0] + field[2] * 0.4
        box = (left, bar[1] + 1, right - left, bar[3] - 2)
        for picture_name in ("list_sms", "list_swiped"):
            for style in STYLES:
                with self.subTest(picture=picture_name, style=style):
                    image = picture("messages", f"{picture_name}_{style}.png")
                    # The bar's own colour, where neither the field nor a title reaches.
                    bar_colour = image.getpixel((2, round((bar[1] + bar[3] - 3) * SCALE)))
                    ink = Ink(image, box, threshold=0, background=bar_colour)
                    self.assertLessEqual(ink.farthest, 5, f"the search text shows through the bar ({ink.farthest} "
                                                          f"levels from its colour {bar_colour})")


def key_caps(image, keyboard):
    """The keys of the keyboard in a picture, as (x0, y0, x1, y1) in pixels: the rectangles that
    stand out from the keyboard's background, found row by row."""
    x0, y0, w, h = (round(v * SCALE) for v in keyboard)
    background = image.getpixel((x0 + 1, y0 + 1))
    rows, inside = [], None
    for y in range(y0, y0 + h):
        busy = any(distance(image.getpixel((x, y)), background) > 8 for x in range(x0, x0 + w, 2))
        if busy and inside is None:
            inside = y
        elif not busy and inside is not None:
            rows.append((inside, y))
            inside = None
    if inside is not None:
        rows.append((inside, y0 + h))
    caps = []
    for top, bottom in rows:
        # Along a line just below the keys' top edges, above their labels.
        y = top + 4
        start = None
        for x in range(x0, x0 + w + 1):
            face = x < x0 + w and distance(image.getpixel((x, y)), background) > 8
            if face and start is None:
                start = x
            elif not face and start is not None:
                if x - start > 20:
                    caps.append((start, top, x, bottom))
                start = None
    return caps


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class KeyboardLabels(unittest.TestCase):
    """Every key of the stand-in keyboard shows its label, readable in both appearances; its keys
    were drawn blank before."""

    def test_every_key_has_a_readable_label(self):
        for name in ("compose_search_phone", "compose_tokens_phone"):
            keyboard = first(outline("compose", f"{name}.txt"), "Keyboard")[2]
            for style in STYLES:
                with self.subTest(picture=name, style=style):
                    image = picture("compose", f"{name}_{style}.png")
                    caps = key_caps(image, keyboard)
                    # Ten letters, nine, shift and seven and delete, numbers and space and return.
                    self.assertEqual([len(row) for row in _rows(caps)], [10, 9, 9, 3])
                    for cap in caps:
                        x0, y0, x1, y1 = cap
                        face = image.getpixel((x0 + 3, (y0 + y1) // 2))
                        inner = ((x0 + 6) / SCALE, (y0 + 6) / SCALE, (x1 - x0 - 12) / SCALE, (y1 - y0 - 12) / SCALE)
                        ink = Ink(image, inner, background=face)
                        self.assertGreaterEqual(ink.count, 20, f"the key at {cap} is blank")
                        self.assertGreaterEqual(ink.contrast, 4.5, f"the key at {cap} is hard to read")


def _rows(caps):
    rows = {}
    for cap in caps:
        rows.setdefault(cap[1], []).append(cap)
    return [rows[k] for k in sorted(rows)]


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class RefreshControl(unittest.TestCase):
    """A list pulled down shows the refresh control's spinner and, right above the rows, its title;
    the gap it uncovers was empty before."""

    def test_a_pulled_list_shows_the_spinner_and_the_title(self):
        views = outline("messages", "list_pulled_phone.txt")
        bar = first(views, "NavigationBar")[2]
        title = first(views, "RefreshControl")[3]
        self.assertIn("Last Updated: ", title)
        pull = 70  # how far the list is held below its resting place
        strip = (0, bar[1] + bar[3], bar[2], pull)
        for style in STYLES:
            with self.subTest(style=style):
                image = picture("messages", f"list_pulled_{style}.png")
                background = image.getpixel((4, round((strip[1] + strip[3] - 2) * SCALE)))
                words = Ink(image, (16, strip[1] + strip[3] - 22, strip[2] - 32, 22), background=background)
                self.assertGreaterEqual(words.count, 100, "no title")
                self.assertGreaterEqual(words.contrast, 4.5, "the title is hard to read")
                spinner = Ink(image, (strip[2] / 2 - 14, strip[1], 28, strip[3] - 22), background=background)
                self.assertGreaterEqual(spinner.count, 60, "no spinner")


# The texts the contrast audit named: where the screens' description gives their colour it is kept
# (and so is the contrast it gives); the check says which colour each is drawn in and how readable.
NAMED_TEXTS = [
    # picture, the text's frame in points, the colour given, as drawn in light and dark (RGB),
    # and the contrast each then has at least
    ("dialer", "dial_pad_empty_phone", "Label", 102, "tertiary label",
     {"light": ((188, 188, 193), 1.6), "dark": ((70, 70, 73), 2.1)}),
    ("messages", "list_sms", "TableViewCell", None, "dark gray",
     {"light": ((85, 85, 85), 6.6), "dark": ((85, 85, 85), 2.8)}),
    ("dialer", "favorites_editing_phone", "TableViewCell", None, "dark gray",
     {"light": ((85, 85, 85), 7.4), "dark": ((85, 85, 85), 2.8)}),
]
NAMED_OUTLINES = {"dial_pad_empty_phone": ("dial_pad_empty_phone.txt", None),
                  "list_sms": ("list_phone.txt", "Load older messages…"),
                  "favorites_editing_phone": ("favorites_editing_phone.txt", "Add new favorite number…")}


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class NamedTexts(unittest.TestCase):
    def test_the_named_texts_keep_the_colour_given_with_its_contrast(self):
        for area, name, kind, tag, given, drawn in NAMED_TEXTS:
            outline_name, text = NAMED_OUTLINES[name]
            x, y, w, h = first(outline(area, outline_name), kind, text, tag)[2]
            # Inside the frame, clear of a key's border, a row's separator and its editing control.
            box = (x + 10, y + 1, w - 20, h - 2) if kind == "Label" else (x + 56, y + 1, w - 112, h - 2)
            for style in STYLES:
                with self.subTest(text=text or f"#{tag}", style=style):
                    ink = Ink(picture(area, f"{name}_{style}.png"), box)
                    colour, least = drawn[style]
                    self.assertGreaterEqual(ink.count, 40, "the text is not drawn")
                    self.assertIsNotNone(ink.strongest)
                    self.assertLessEqual(distance(ink.strongest, colour), 3,
                                         f"drawn in {ink.strongest}, not in the {given} colour {colour}")
                    self.assertGreaterEqual(round(ink.contrast, 1), least)


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class FavoritePictures(unittest.TestCase):
    """A favourite's contact picture (a red square photo) is drawn in a circle: the corners of its
    frame show the row, its middle the photo; the square's corners showed before."""

    def test_a_favorites_picture_is_round(self):
        views = outline("dialer", "favorites_picture_phone.txt")
        at = next(i for i, v in enumerate(views) if v[0] == "TableViewCell" and "Dee Roe" in v[3])
        x, y, w, h = next(v for v in views[at + 1:] if v[0] == "ImageView")[2]
        for style in STYLES:
            with self.subTest(style=style):
                image = picture("dialer", f"favorites_picture_phone_{style}.png")
                px = lambda px_, py_: image.getpixel((round(px_ * SCALE), round(py_ * SCALE)))
                row = px(x + w + 3, y + 2)
                middle = px(x + w / 2, y + h / 2)
                self.assertGreater(middle[0], 180, f"the photo is not drawn ({middle})")
                self.assertLess(middle[1], 80, f"the photo is not drawn ({middle})")
                for cx, cy in ((x + 1, y + 1), (x + w - 1.5, y + 1), (x + 1, y + h - 1.5), (x + w - 1.5, y + h - 1.5)):
                    self.assertLessEqual(distance(px(cx, cy), row), 12,
                                         f"the corner at {cx},{cy} shows {px(cx, cy)}, not the row's {row}")


if __name__ == "__main__":
    unittest.main()
