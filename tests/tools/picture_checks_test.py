"""Looks read from the pictures the screen tests keep (their golden PNGs and outlines), with an
independent reader (python3-pil), as a person would look at them: text hidden below a translucent
navigation bar does not show through it, every key of the keyboard carries a readable label, a
pulled list shows the refresh control's spinner and title, the named texts keep their colours with
the contrast they give, and favourite pictures are round. In the conversation: a sent picture stays
inside the screen, a bubble's text keeps its room from the edge it starts at (right-to-left too),
the reply bar's Send shows its state, the voicemail shows its transcript and a reused row shows no
card of another. Sheets, popovers and the tablet's master list: dark popovers show their edge, a
form sheet dims and shades the screen around its round corners, a phone card sits below a rounded
band, and the master list's icons and titles are centred in their rows.

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


def colours_of(image):
    """The (count, colour) pairs of a picture. Asked for at most as many colours as it has pixels:
    the reader's table is as large as the bound asked for, and a fixed bound of millions costs
    half a second a call."""
    return image.getcolors(max(1, image.size[0] * image.size[1]))


def crop(image, box):
    """box: (x, y, w, h) in points."""
    x, y, w, h = box
    return image.crop((round(x * SCALE), round(y * SCALE), round((x + w) * SCALE), round((y + h) * SCALE)))


class Ink:
    """What stands out in a part of a picture from its most common colour (its background)."""

    def __init__(self, image, box, threshold=40, background=None):
        colours = colours_of(crop(image, box))
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


# ---- the conversation screen

def conversation_pictures(form=None):
    """The conversation goldens that have an outline, as (name, views): name without the style.
    A row swiped aside shows its actions at the screen's edge, so a swiped conversation is left
    to its own test."""
    folder = os.path.dirname(golden("conversation", "x"))
    out = []
    for entry in sorted(os.listdir(folder)):
        if not entry.endswith(".txt") or not entry.startswith("conversation_") or "_swiped_" in entry:
            continue
        name = entry[:-4]
        if form and not name.endswith(form):
            continue
        if os.path.exists(golden("conversation", f"{name}_light.png")):
            out.append((name, outline("conversation", entry)))
    return out


def cells_with_views(views):
    """[(cell frame, its label text, [its subviews])] for the bubble rows of an outline."""
    cells = []
    for i, v in enumerate(views):
        if v[0] != "ConversationTableViewCell":
            continue
        inside = []
        for w in views[i + 1:]:
            if w[4] <= v[4]:
                break
            inside.append(w)
        cells.append((v[2], v[3], inside))
    return cells


def visible_band(views):
    """The part of the screen where rows show: below the navigation bar, above the reply bar."""
    bar = first(views, "NavigationBar")[2]
    bottom = min([v[2][1] for v in views if v[0] in ("HXCInputToolbar", "TabBar")] or [10000])
    return bar[1] + bar[3], bottom


def row_runs(image, y, x0, x1, background, threshold=12):
    """The runs of pixels along row y (points) between x0 and x1 that differ from the background,
    as [(start, end)] in pixels."""
    runs, start = [], None
    py = round(y * SCALE)
    x1 = min(x1, image.size[0] / SCALE)
    for px in range(round(x0 * SCALE), round(x1 * SCALE)):
        off = distance(image.getpixel((px, py)), background) > threshold
        if off and start is None:
            start = px
        elif not off and start is not None:
            runs.append((start, px))
            start = None
    if start is not None:
        runs.append((start, round(x1 * SCALE)))
    return runs


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class SentPictures(unittest.TestCase):
    """A sent picture's bubble ends inside the screen, as far in from its right edge as a sent
    text's bubble; it ran 14 points past the edge before."""

    def test_a_sent_picture_keeps_inside_the_screen(self):
        checked = 0
        for name, views in conversation_pictures():
            top, bottom = visible_band(views)
            for frame, label, _ in cells_with_views(views):
                x, y, w, h = frame
                right = x + w  # the row reaches the screen's right edge
                if "Outgoing: Attachment: 1 image" not in label or y < top or y + h > bottom:
                    continue
                for style in STYLES:
                    with self.subTest(picture=name, style=style, row=label):
                        image = picture("conversation", f"{name}_{style}.png")
                        background = image.getpixel((round((x + 2) * SCALE), round((y + h / 2) * SCALE)))
                        runs = row_runs(image, y + h / 2, x, right, background)
                        self.assertTrue(runs, "no picture in the row")
                        end = max(r[1] for r in runs) / SCALE
                        self.assertLessEqual(end, right - 8, f"the picture reaches {end}, the screen ends at {right}")
                        self.assertGreater(end - min(r[0] for r in runs) / SCALE, 100, "the picture is not drawn")
                        checked += 1
        self.assertGreaterEqual(checked, 4, "no sent picture in view")


def column_runs(image, x, y0, y1, background, threshold=12):
    """The runs of pixels down column x (points) between y0 and y1 that differ from the
    background, as [(start, end)] in pixels."""
    turned = image.transpose(Image.Transpose.TRANSPOSE)
    return row_runs(turned, x, y0, min(y1, image.size[1] / SCALE), background, threshold)


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class PicturesInBubbles(unittest.TestCase):
    """A picture takes the shape of its bubble: its corners are rounded off to the background,
    while its middle shows the picture. Pictures were drawn square before."""

    def test_a_pictures_corners_are_rounded_off(self):
        checked = 0
        for name, views in conversation_pictures():
            top, bottom = visible_band(views)
            for frame, label, _ in cells_with_views(views):
                x, y, w, h = frame
                if "Attachment: 1 image" not in label or y < top or y + h > bottom:
                    continue
                for style in STYLES:
                    with self.subTest(picture=name, style=style, row=label):
                        image = picture("conversation", f"{name}_{style}.png")
                        background = image.getpixel((round((x + 2) * SCALE), round((y + 1) * SCALE)))
                        across = row_runs(image, y + h / 2, x, x + w, background)
                        self.assertTrue(across, "no picture in the row")
                        left, right = min(r[0] for r in across) / SCALE, max(r[1] for r in across) / SCALE
                        middle = (left + right) / 2
                        down = column_runs(image, middle, y, y + h, background)
                        self.assertTrue(down, "no picture down the row")
                        upper = min(r[0] for r in down) / SCALE
                        # Just inside the picture's top corners, the bubble's rounding shows the
                        # background; a square picture would show its own pixels there.
                        for corner_x in (left + 1.5, right - 1.5):
                            px = image.getpixel((round(corner_x * SCALE), round((upper + 1.5) * SCALE)))
                            self.assertLessEqual(distance(px, background), 12,
                                                 f"the corner at {corner_x},{upper + 1.5} shows {px}")
                        checked += 1
        self.assertGreaterEqual(checked, 4, "no picture in view")


def bubble_and_text(image, text_frame, background):
    """The bubble's body at the text's first line (the tail sits lower down) and the ink of the
    text in it, as (bubble left, bubble right, ink left, ink right) in points."""
    x, y, w, h = text_frame
    # The text view reaches 8 points beyond the text on either side and 16 below it.
    line = y + min(10, (h - 16) / 2)
    runs = row_runs(image, line, max(0, x - 40), x + w + 40, background)
    left, right = min(r[0] for r in runs), max(r[1] for r in runs)
    # Clear of the bubble's rounded edge; a text within 3 points of it is found too close all the same.
    margin = 3 * SCALE
    body = image.crop((left + margin, round((line - 6) * SCALE), right - margin, round((line + 6) * SCALE)))
    fill = max(colours_of(body))[1]
    ink = [px for py in range(body.size[1]) for px in range(body.size[0])
           if distance(body.getpixel((px, py)), fill) > 60]
    return left / SCALE, right / SCALE, (left + margin + min(ink)) / SCALE, (left + margin + max(ink) + 1) / SCALE


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class BubbleTextInsets(unittest.TestCase):
    """The text of a bubble keeps clear of the bubble's edge on the side it starts from: a
    right-to-left text (Arabic received, Hebrew sent) as far from the right edge as a left-to-right
    text from the left one. The right-to-left texts touched the edge before."""

    def test_the_text_keeps_the_same_room_from_the_edge_it_starts_at(self):
        views = outline("conversation", "conversation_arabic_phone.txt")
        top, bottom = visible_band(views)
        rows = []
        for frame, label, inside in cells_with_views(views):
            texts = [v for v in inside if v[0] == "TextView" and v[3].strip()]
            if not texts or frame[1] < top or frame[1] + frame[3] > bottom:
                continue
            rows.append((label, texts[0][2], "\u2067" in label))
        self.assertTrue(any(rtl for _, _, rtl in rows) and any(not rtl for _, _, rtl in rows))
        for style in STYLES:
            image = picture("conversation", f"conversation_arabic_phone_{style}.png")
            for label, text_frame, rtl in rows:
                with self.subTest(style=style, row=label.split("\n")[0]):
                    background = image.getpixel((2, round((text_frame[1] + 2) * SCALE)))
                    left, right, ink_left, ink_right = bubble_and_text(image, text_frame, background)
                    room = right - ink_right if rtl else ink_left - left
                    self.assertGreaterEqual(room, 6, f"the text is {room:.1f} points from the bubble's edge")


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class ReplyBarSend(unittest.TestCase):
    """The reply bar's Send button shows its state: faded while there is nothing to send, in the
    bar's blue once there is. It was drawn in full blue while disabled before."""

    BLUE = {"light": (0, 122, 255), "dark": (10, 132, 255)}

    def test_a_disabled_send_is_faded_and_an_enabled_one_blue(self):
        seen = set()
        for name, views in conversation_pictures():
            for v in views:
                if v[0] != "Button" or '"Send"' not in v[3]:
                    continue
                disabled = "[disabled]" in v[3]
                x, y, w, h = v[2]
                for style in STYLES:
                    with self.subTest(picture=name, style=style, disabled=disabled):
                        image = picture("conversation", f"{name}_{style}.png")
                        ink = Ink(image, (x, y + 6, w, h - 6))
                        self.assertGreaterEqual(ink.count, 40, "no title")
                        gap = distance(ink.strongest, self.BLUE[style])
                        if disabled:
                            self.assertGreater(gap, 60, f"a disabled Send drawn in {ink.strongest}")
                            self.assertLess(ink.contrast, 2.5)
                        else:
                            self.assertLessEqual(gap, 16, f"an enabled Send drawn in {ink.strongest}")
                        seen.add(disabled)
        self.assertEqual(seen, {True, False})


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class VoicemailTranscript(unittest.TestCase):
    """The player's pictures show the voicemail's transcript in its bubble, as the service's
    voicemails carry one; the bubble was an empty grey blob before."""

    def test_the_voicemail_bubble_shows_its_transcript(self):
        for form in ("phone", "tablet"):
            for state in ("downloading", "playing", "ready"):
                name = f"player_{state}_{form}"
                views = outline("conversation", f"{name}.txt")
                (frame, label, inside), = cells_with_views(views)
                text = next(v for v in inside if v[0] == "TextView")[2]
                self.assertIn("Call me back", label)
                for style in STYLES:
                    with self.subTest(picture=name, style=style):
                        image = picture("conversation", f"{name}_{style}.png")
                        ink = Ink(image, (text[0] + 8, text[1], text[2] - 16, text[3] - 16))
                        self.assertGreater(text[2], 100, "the bubble is narrow")
                        self.assertGreaterEqual(ink.count, 200, "the transcript is not drawn")
                        self.assertGreaterEqual(ink.contrast, 4.5, "the transcript is hard to read")


class ContactCardsInReusedRows(unittest.TestCase):
    """A contact card drawn into a row goes with that row: a row the table reuses for a text or
    another attachment shows no card (outlines only). A card stayed over later text rows before."""

    def test_only_contact_card_rows_hold_a_card(self):
        cards = 0
        for name, views in conversation_pictures():
            for frame, label, inside in cells_with_views(views):
                held = [v for v in inside if v[0] == "View" and v[1] == "2"]
                with self.subTest(picture=name, row=label.split("\n")[0]):
                    if label.strip().split('label="')[-1].startswith("Contact card for"):
                        self.assertEqual(len(held), 1)
                        cards += 1
                    else:
                        self.assertEqual(held, [], "a card left from another row")
        self.assertGreater(cards, 0)


# ---- sheets, popovers and the tablet's master list

def presented_frame(area, name):
    """The frame of the view of the navigation controller presented over the screen."""
    with open(golden(area, name), encoding="utf-8") as f:
        lines = f.read().splitlines()
    at = next(i for i, line in enumerate(lines) if line.strip() == "<NavigationController presented>")
    return tuple(float(v) for v in FRAME.match(lines[at + 1]).group(4, 5, 6, 7))


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class TabletPopoverEdges(unittest.TestCase):
    """In dark the tablet's dial pad popover (with or without favourites) shows a light edge
    around its body against the black behind it, where body and screen ran together before."""

    def test_a_dark_popover_shows_its_edge(self):
        pictures = [("dialer", n) for n in ("dial_pad_empty_tablet", "dial_pad_number_tablet", "dial_pad_busy_tablet",
                                            "favorites_empty_tablet")]
        for area, name in pictures:
            x, y, w, h = presented_frame(area, f"{name}.txt")
            image = picture(area, f"{name}_dark.png")
            for side, edge, beyond in (("left", (x - 0.75, y + h / 2), (x - 5, y + h / 2)),
                                       ("right", (x + w + 0.25, y + h / 2), (x + w + 5, y + h / 2))):
                with self.subTest(picture=name, side=side):
                    line = image.getpixel(tuple(round(v * SCALE) for v in edge))
                    behind = image.getpixel(tuple(round(v * SCALE) for v in beyond))
                    self.assertGreaterEqual(luminance(line) - luminance(behind), 0.04,
                                            f"no edge: {line} beside {behind}")


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class Sheets(unittest.TestCase):
    """The new-message screen as a sheet: on the tablet a form sheet with round corners that dims
    the screen around it and casts a shadow; on the phone a card with round top corners below a
    band of the screen behind it, pushed back and rounded, under the status bar. Both sat square
    on an undimmed (tablet) or uniformly dimmed (phone) screen before."""

    GROUPED = (242, 242, 247)  # the master list's background in light, undimmed

    def test_the_tablet_sheet_dims_the_screen_and_casts_a_shadow(self):
        for name in ("compose_tokens_tablet", "compose_search_tablet", "compose_summary_tablet"):
            x, y, w, h = presented_frame("compose", f"{name}.txt")
            for style in STYLES:
                image = picture("compose", f"{name}_{style}.png")
                px = lambda a, b: image.getpixel((round(a * SCALE), round(b * SCALE)))
                sheet = px(x + 20, y + 6)
                with self.subTest(picture=name, style=style, look="corners"):
                    for corner in ((x + 0.5, y + 0.5), (x + w - 1, y + 0.5)):
                        self.assertGreater(distance(px(*corner), sheet), 20, f"a square corner at {corner}")
                if style == "light":
                    with self.subTest(picture=name, look="dimming"):
                        dimmed = px(10, 150)  # the master list's header, blank
                        for c, g in zip(dimmed, self.GROUPED):
                            self.assertAlmostEqual(c / g, 0.6, delta=0.03, msg=f"{dimmed} is not the dimmed {self.GROUPED}")
                    with self.subTest(picture=name, look="shadow"):
                        near, far = px(x - 1, y + 450), px(x - 40, y + 450)
                        self.assertGreaterEqual(luminance(far) - luminance(near), 0.03,
                                                f"no shadow beside the sheet: {near} against {far}")

    def test_the_phone_card_sits_below_a_rounded_band(self):
        for name in ("compose_tokens_phone", "compose_search_phone", "compose_summary_phone"):
            x, y, w, h = presented_frame("compose", f"{name}.txt")
            for style in STYLES:
                with self.subTest(picture=name, style=style):
                    image = picture("compose", f"{name}_{style}.png")
                    px = lambda a, b: image.getpixel((round(a * SCALE), round(b * SCALE)))
                    band, beside, card = px(w / 2, y - 4), px(4, y - 4), px(x + 20, y + 6)
                    # The list's bar is the grouped table's colour: in the dark look that is black, so
                    # its band is black on the black around it there; in the light look it stands out.
                    if style == "light":
                        self.assertGreater(distance(band, beside), 10, f"no band above the card: {band} beside {beside}")
                    else:
                        self.assertLess(distance(band, (0, 0, 0)), 12, f"the band is the list's black bar: {band}")
                    self.assertGreater(distance(px(x + 0.5, y + 0.5), card), 10, "the card's corner is square")
                    self.assertGreater(distance(px(x + w - 1, y + 0.5), card), 10, "the card's corner is square")


def ink_rows(image, box, background, threshold=40):
    """The first and last pixel rows of a box (points) holding ink, in points."""
    part = crop(image, box)
    rows = [py for py in range(part.size[1])
            if any(distance(part.getpixel((px, py)), background) > threshold for px in range(part.size[0]))]
    return (box[1] + rows[0] / SCALE, box[1] + (rows[-1] + 1) / SCALE) if rows else None


@unittest.skipUnless(Image, "needs python3-pil (the system's python3)")
class MasterListRows(unittest.TestCase):
    """The tablet's master list draws each row's icon and title centred in the row; both sat in
    its upper part before."""

    def test_icons_and_titles_are_centred_in_their_rows(self):
        pictures = [("shell", "split_portrait", "split_portrait.png"), ("shell", "split_landscape", "split_landscape.png")]
        pictures += [("conversation", "conversation_text_tablet", f"conversation_text_tablet_{s}.png") for s in STYLES]
        for area, name, file in pictures:
            views = outline(area, f"{name}.txt")
            image = picture(area, file)
            for i, v in enumerate(views):
                if v[0] != "MasterTableViewCell":
                    continue
                x, y, w, h = v[2]
                title = next(t for t in views[i + 1:] if t[0] == "Label")
                background = image.getpixel((round((x + w - 4) * SCALE), round((y + 2) * SCALE)))
                for part, box in (("icon", (x + 8, y + 2, 40, h - 4)), ("title", (x + 52, y + 2, 100, h - 4))):
                    with self.subTest(picture=file, row=title[3], part=part):
                        rows = ink_rows(image, box, background)
                        self.assertIsNotNone(rows, f"no {part}")
                        middle = (rows[0] + rows[1]) / 2
                        self.assertLessEqual(abs(middle - (y + h / 2)), 3,
                                             f"the {part} is centred at {middle}, the row at {y + h / 2}")


if __name__ == "__main__":
    unittest.main()
