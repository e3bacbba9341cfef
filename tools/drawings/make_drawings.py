#!/usr/bin/env python3
"""Writes the app's bundle drawings (resources/images) and symbols (resources/symbols) as SVG.

The drawings are flat and single-coloured wherever a screen tints them (tinting keeps only the
shape), with one stroke width per family: 2 points for 24-30 point glyphs. Shapes that are
computed (gears, stars, digits) are built here so that every drawing of a family agrees.
Run it after changing a drawing: python3 tools/drawings/make_drawings.py [repo root].
"""
import math
import os
import sys

INK = "#000"
STROKE = f'fill="none" stroke="{INK}" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"'


def svg(width, height, body, defs=""):
    d = f"<defs>{defs}</defs>" if defs else ""
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">{d}{body}</svg>\n')


def fmt(v):
    return f"{v:.2f}".rstrip("0").rstrip(".")


def polygon(points):
    return "M" + " L".join(f"{fmt(x)} {fmt(y)}" for x, y in points) + " Z"


def star_points(cx, cy, outer, inner, n=5):
    pts = []
    for i in range(2 * n):
        r = outer if i % 2 == 0 else inner
        a = -math.pi / 2 + i * math.pi / n
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def gear_path(cx, cy, outer, inner, teeth):
    pts = []
    step = 2 * math.pi / teeth
    for i in range(teeth):
        a = i * step - math.pi / 2
        for da, r in ((-0.30, inner), (-0.17, outer), (0.17, outer), (0.30, inner)):
            t = a + da * step * 1.6
            pts.append((cx + r * math.cos(t), cy + r * math.sin(t)))
    return polygon(pts)


def knock_out(mask_id, width, height, cut):
    """A mask that keeps everything but the stroked or filled shapes in `cut` (drawn in black)."""
    return (f'<mask id="{mask_id}" maskUnits="userSpaceOnUse" x="0" y="0" width="{width}" height="{height}">'
            f'<rect width="{width}" height="{height}" fill="#fff"/>{cut}</mask>')


def slashed(width, height, content, filled=False):
    """The content crossed out by a diagonal bar with a clear gap on one side."""
    x0, y0, x1, y1 = width * 0.14, height * 0.1, width * 0.86, height * 0.9
    gap = (f'<line x1="{fmt(x0 + 1.6)}" y1="{fmt(y0 - 1.6)}" x2="{fmt(x1 + 1.6)}" y2="{fmt(y1 - 1.6)}" '
           f'stroke="#000" stroke-width="2.4"/>')
    defs = knock_out("gap", width, height, gap)
    line = (f'<line x1="{fmt(x0)}" y1="{fmt(y0)}" x2="{fmt(x1)}" y2="{fmt(y1)}" {STROKE}/>')
    return svg(width, height, f'<g mask="url(#gap)">{content}</g>{line}', defs)


# ---- shared shapes, in a 24-point box unless said -------------------------------------------

def handset(scale=1.0, dx=0.0, dy=0.0):
    # Earpiece at the top left, mouthpiece at the bottom right, joined by a curved grip.
    d = ("M6.6 3 L9.2 3 L10.8 7.6 L8.8 9.6 C9.9 12.2 11.8 14.1 14.4 15.2 L16.4 13.2 L21 14.8 L21 17.4 "
         "C21 19.4 19.4 21 17.4 21 C9.4 20.4 3.6 14.6 3 6.6 C3 4.6 4.6 3 6.6 3 Z")
    return d, f'transform="translate({fmt(dx)} {fmt(dy)}) scale({fmt(scale)})"'


def bubble(scale=1.0, dx=0.0, dy=0.0):
    d = ("M5 4 H19 A3 3 0 0 1 22 7 V15 A3 3 0 0 1 19 18 H10.5 L6 21.5 V18 H5 A3 3 0 0 1 2 15 V7 "
         "A3 3 0 0 1 5 4 Z")
    return d, f'transform="translate({fmt(dx)} {fmt(dy)}) scale({fmt(scale)})"'


def person(cx, top, size):
    """A head and shoulders filled shape, `size` high, centred on cx."""
    k = size / 20.0
    head = f'<circle cx="{fmt(cx)}" cy="{fmt(top + 5 * k)}" r="{fmt(4.6 * k)}" fill="{INK}"/>'
    body = (f'<path d="M{fmt(cx - 8 * k)} {fmt(top + 20 * k)} C{fmt(cx - 8 * k)} {fmt(top + 14 * k)} '
            f'{fmt(cx - 4.5 * k)} {fmt(top + 11 * k)} {fmt(cx)} {fmt(top + 11 * k)} '
            f'C{fmt(cx + 4.5 * k)} {fmt(top + 11 * k)} {fmt(cx + 8 * k)} {fmt(top + 14 * k)} '
            f'{fmt(cx + 8 * k)} {fmt(top + 20 * k)} Z" fill="{INK}"/>')
    return head + body


def eye(width=24.0, filled=False):
    outline = "M2 12 C5 6.5 8.5 5 12 5 C15.5 5 19 6.5 22 12 C19 17.5 15.5 19 12 19 C8.5 19 5 17.5 2 12 Z"
    if filled:
        defs = knock_out("pupil", 24, 24, '<circle cx="12" cy="12" r="3.6" fill="#000"/>')
        return f'<path d="{outline}" fill="{INK}" mask="url(#pupil)"/><circle cx="12" cy="12" r="1.6" fill="{INK}"/>', defs
    return f'<path d="{outline}" {STROKE}/><circle cx="12" cy="12" r="3.2" {STROKE}/>', ""


def trash():
    return (f'<path d="M4 6.5 H20 M9.5 6.5 V4.5 A1 1 0 0 1 10.5 3.5 H13.5 A1 1 0 0 1 14.5 4.5 V6.5 '
            f'M6 6.5 L7 19.5 A1.6 1.6 0 0 0 8.6 21 H15.4 A1.6 1.6 0 0 0 17 19.5 L18 6.5 '
            f'M10 10 V17.5 M14 10 V17.5" {STROKE}/>')


def archive_box():
    return (f'<rect x="3" y="4" width="18" height="5" rx="1" {STROKE}/>'
            f'<path d="M4.5 9 V19 A1.5 1.5 0 0 0 6 20.5 H18 A1.5 1.5 0 0 0 19.5 19 V9 M9.5 13 H14.5" {STROKE}/>')


def tray():
    return (f'<path d="M3 13.5 L5.5 5 A1.5 1.5 0 0 1 7 4 H17 A1.5 1.5 0 0 1 18.5 5 L21 13.5 V19 '
            f'A1.5 1.5 0 0 1 19.5 20.5 H4.5 A1.5 1.5 0 0 1 3 19 Z M3 13.5 H8.5 L9.5 16 H14.5 L15.5 13.5 H21" '
            f'{STROKE}/>')


def envelope():
    return (f'<rect x="2.5" y="5" width="19" height="14" rx="2" {STROKE}/>'
            f'<path d="M3.5 6.5 L12 13 L20.5 6.5" {STROKE}/>')


def hand_raised():
    return (f'<path d="M7 13.5 V7 A1.5 1.5 0 0 1 10 7 V12 M10 11.5 V4.5 A1.5 1.5 0 0 1 13 4.5 V11.5 '
            f'M13 11.5 V5.5 A1.5 1.5 0 0 1 16 5.5 V12 M16 12 V8.5 A1.5 1.5 0 0 1 19 8.5 V15 '
            f'C19 19.5 16.3 22 12.5 22 C9.6 22 8 20.8 6.6 18.6 L4.2 14.8 C3.5 13.6 5 12.4 6.1 13.3 L7 14" '
            f'{STROKE}/>')


def thumb():
    return (f'<path d="M3 11 H7 V21 H3 Z M7 11 L10.8 3.5 C12.5 3.5 13.6 4.7 13.3 6.3 L12.6 10 H18.8 '
            f'A2 2 0 0 1 20.8 12.4 L19.6 19.3 A2 2 0 0 1 17.6 21 H7" {STROKE}/>')


def camera_shape(filled):
    body = ("M3 8.5 A2 2 0 0 1 5 6.5 H8 L9.6 4 H14.4 L16 6.5 H19 A2 2 0 0 1 21 8.5 V17.5 "
            "A2 2 0 0 1 19 19.5 H5 A2 2 0 0 1 3 17.5 Z")
    if filled:
        defs = knock_out("lens", 24, 24, '<circle cx="12" cy="12.8" r="4.6" fill="#000"/>')
        return (f'<path d="{body}" fill="{INK}" mask="url(#lens)"/>'
                f'<circle cx="12" cy="12.8" r="2.8" fill="{INK}"/>'), defs
    return f'<path d="{body}" {STROKE}/><circle cx="12" cy="12.8" r="3.6" {STROKE}/>', ""


def speaker_cone():
    return f'<path d="M3 9.5 H7 L12 5 V19 L7 14.5 H3 Z" {STROKE}/>'


def sound_waves(count):
    waves = ["M15 9.5 A3.5 3.5 0 0 1 15 14.5", "M17.5 7 A7 7 0 0 1 17.5 17", "M20 4.5 A10.5 10.5 0 0 1 20 19.5"]
    return "".join(f'<path d="{w}" {STROKE}/>' for w in waves[:count])


def doc(x, y, w, h):
    return f'<rect x="{fmt(x)}" y="{fmt(y)}" width="{fmt(w)}" height="{fmt(h)}" rx="2" {STROKE}/>'


def arrow_tray(up):
    shaft = "M12 3.5 V14"
    head = "M8 7.5 L12 3.5 L16 7.5" if up else "M8 10 L12 14 L16 10"
    return f'<path d="M5 11 V19 A1.5 1.5 0 0 0 6.5 20.5 H17.5 A1.5 1.5 0 0 0 19 19 V11 {shaft} {head}" {STROKE}/>'


# ---- digits for the numbered circles: strokes in a 6 x 10 box --------------------------------

DIGITS = {
    "0": "M3 0 C1 0 0 2 0 5 C0 8 1 10 3 10 C5 10 6 8 6 5 C6 2 5 0 3 0 Z",
    "1": "M0.8 2 L3.4 0 V10",
    "2": "M0.3 2.3 C0.8 0.8 1.8 0 3.1 0 C4.9 0 6 1.2 6 2.8 C6 4.4 4.8 5.5 3.2 6.8 L0 10 H6",
    "3": ("M0.3 1.2 C1 0.4 2 0 3 0 C4.8 0 5.8 1.1 5.8 2.5 C5.8 4 4.6 4.9 2.8 4.9 C4.9 4.9 6 6 6 7.4 "
          "C6 9 4.7 10 3 10 C1.8 10 0.8 9.5 0.1 8.7"),
    "4": "M4.6 10 V0 L0 7 H6",
    "5": ("M5.6 0 H1 L0.5 4.6 C1.2 4.1 2.1 3.9 3 3.9 C4.8 3.9 6 5.2 6 6.9 C6 8.7 4.7 10 2.9 10 "
          "C1.8 10 0.8 9.5 0.2 8.8"),
    "6": ("M5.2 0.6 C4.6 0.2 3.9 0 3.2 0 C1.2 0 0 2.2 0 5.6 C0 8.5 1.2 10 3 10 C4.8 10 6 8.7 6 6.9 "
          "C6 5.1 4.8 3.9 3.1 3.9 C1.6 3.9 0.4 4.9 0 6.2"),
    "7": "M0 0 H6 L2 10",
    "8": ("M3 4.7 C1.5 4.7 0.5 3.8 0.5 2.4 C0.5 1 1.5 0 3 0 C4.5 0 5.5 1 5.5 2.4 C5.5 3.8 4.5 4.7 3 4.7 "
          "C1.2 4.7 0 5.8 0 7.4 C0 9 1.3 10 3 10 C4.7 10 6 9 6 7.4 C6 5.8 4.8 4.7 3 4.7 Z"),
    "9": ("M0.8 9.4 C1.4 9.8 2.1 10 2.8 10 C4.8 10 6 7.8 6 4.4 C6 1.5 4.8 0 3 0 C1.2 0 0 1.3 0 3.1 "
          "C0 4.9 1.2 6.1 2.9 6.1 C4.4 6.1 5.6 5.1 6 3.8"),
}


def numbered_circle(n):
    text = str(n)
    # One digit 11 points high; two digits smaller and thinner, so that both sit inside the
    # circle with clear space between them: the gap between their boxes is wider than the stroke
    # (which reaches half its width out of each box) by 1.2 points.
    k = 1.1 if len(text) == 1 else 0.75
    stroke = 2 if len(text) == 1 else 1.6
    gap = stroke + 1.2
    width = len(text) * 6 * k + (len(text) - 1) * gap
    x = 12 - width / 2
    strokes = ""
    for ch in text:
        strokes += (f'<path d="{DIGITS[ch]}" transform="translate({fmt(x)} {fmt(12 - 5 * k)}) scale({fmt(k)})" '
                    f'fill="none" stroke="#000" stroke-width="{fmt(stroke / k)}" stroke-linecap="round" '
                    f'stroke-linejoin="round"/>')
        x += 6 * k + gap
    defs = knock_out("digits", 24, 24, strokes)
    return svg(24, 24, f'<circle cx="12" cy="12" r="11" fill="{INK}" mask="url(#digits)"/>', defs)


# ---- the symbols ----------------------------------------------------------------------------

def symbols():
    s = {}
    d, t = handset()
    s["phone"] = svg(24, 24, f'<path d="{d}" {STROKE}/>')
    d, t = bubble()
    s["message"] = svg(24, 24, f'<path d="{d}" {STROKE}/>')
    s["trash"] = svg(24, 24, trash())
    s["archivebox"] = svg(24, 24, archive_box())
    s["tray"] = svg(24, 24, tray())
    body, defs = eye()
    s["eye"] = svg(24, 24, body, defs)
    s["eye.slash"] = slashed(24, 24, body)
    body, defs = eye(filled=True)
    s["eye.fill"] = svg(24, 24, body, defs)
    s["eye.slash.fill"] = slashed(24, 24, body).replace("<defs>", "<defs>" + defs, 1)
    s["square.and.pencil"] = svg(24, 24, f'<path d="M12 4 H5.5 A2 2 0 0 0 3.5 6 V18.5 A2 2 0 0 0 5.5 20.5 H18 '
                                         f'A2 2 0 0 0 20 18.5 V12 M18.4 3.2 L20.8 5.6 L12 14.4 L8.8 15.2 L9.6 12 Z" '
                                         f'{STROKE}/>')
    s["delete.left"] = svg(30, 24, f'<path d="M9 4.5 H25 A2 2 0 0 1 27 6.5 V17.5 A2 2 0 0 1 25 19.5 H9 L2.5 12 Z '
                                   f'M13.5 8.5 L20.5 15.5 M20.5 8.5 L13.5 15.5" {STROKE}/>')
    s["envelope"] = svg(24, 24, envelope())
    s["hand.raised"] = svg(24, 24, hand_raised())
    s["hand.raised.slash"] = slashed(24, 24, hand_raised())
    s["hand.thumbsup"] = svg(24, 24, thumb())
    s["hand.thumbsdown"] = svg(24, 24, f'<g transform="matrix(1 0 0 -1 0 24)">{thumb()}</g>')
    body, defs = camera_shape(False)
    s["camera"] = svg(24, 24, body, defs)
    body, defs = camera_shape(True)
    s["camera.fill"] = svg(24, 24, body, defs)
    s["chevron.down"] = svg(24, 24, f'<path d="M5 9 L12 16 L19 9" {STROKE}/>')
    star = polygon(star_points(12, 12.6, 10.2, 4.3))
    s["star"] = svg(24, 24, f'<path d="{star}" {STROKE}/>')
    s["star.fill"] = svg(24, 24, f'<path d="{star}" fill="{INK}" stroke="{INK}" stroke-width="2" '
                                 f'stroke-linejoin="round"/>')
    s["play.circle"] = svg(24, 24, f'<circle cx="12" cy="12" r="10" {STROKE}/>'
                                   f'<path d="M10 8 L16 12 L10 16 Z" fill="{INK}" stroke="{INK}" '
                                   f'stroke-width="1.2" stroke-linejoin="round"/>')
    s["pause.circle"] = svg(24, 24, f'<circle cx="12" cy="12" r="10" {STROKE}/><path d="M9.5 8.5 V15.5 M14.5 8.5 '
                                    f'V15.5" {STROKE}/>')
    s["stop.circle"] = svg(24, 24, f'<circle cx="12" cy="12" r="10" {STROKE}/>'
                                   f'<rect x="8.5" y="8.5" width="7" height="7" rx="1" fill="{INK}"/>')
    s["speaker"] = svg(24, 24, speaker_cone())
    s["speaker.3"] = svg(24, 24, speaker_cone() + sound_waves(3))
    s["doc.on.clipboard"] = svg(24, 24, f'<path d="M8 4.5 H6 A2 2 0 0 0 4 6.5 V19.5 A2 2 0 0 0 6 21.5 H18 '
                                        f'A2 2 0 0 0 20 19.5 V6.5 A2 2 0 0 0 18 4.5 H16" {STROKE}/>'
                                        f'<rect x="8" y="2.5" width="8" height="4" rx="1" {STROKE}/>'
                                        f'<path d="M8 11 H16 M8 15 H13.5" {STROKE}/>')
    s["photo.on.rectangle"] = svg(24, 24, f'<path d="M6 4 H19 A2 2 0 0 1 21 6 V15" {STROKE}/>'
                                          f'<rect x="3" y="7.5" width="15" height="12" rx="2" {STROKE}/>'
                                          f'<path d="M3.5 17.5 L8 13 L11 16 L13 14 L17.5 18.5" {STROKE}/>'
                                          f'<circle cx="13.5" cy="11" r="1.3" fill="{INK}"/>')
    s["ellipsis"] = svg(24, 24, "".join(f'<circle cx="{x}" cy="12" r="2" fill="{INK}"/>' for x in (5, 12, 19)))
    s["doc.on.doc"] = svg(24, 24, f'<path d="M8 4.5 A2 2 0 0 1 10 2.5 H18.5 A2 2 0 0 1 20.5 4.5 V15 A2 2 0 0 1 '
                                  f'18.5 17" {STROKE}/>' + doc(3.5, 6.5, 12.5, 15))
    s["square.and.arrow.down"] = svg(24, 24, arrow_tray(False))
    s["square.and.arrow.up"] = svg(24, 24, arrow_tray(True))
    s["arrow.counterclockwise"] = svg(24, 24, f'<path d="M6.2 8 A8 8 0 1 1 4 13.5 M6.2 3.5 V8 H10.7" {STROKE}/>')
    for n in range(1, 51):
        s[f"{n}.circle.fill"] = numbered_circle(n)
    return s


# ---- the bundle images ----------------------------------------------------------------------

def tab(filled, shape):
    return svg(30, 30, shape(filled))


def tab_call(filled):
    d, t = handset(1.1, 1.8, 1.8)
    return f'<path d="{d}" {t} {fill_or_stroke(filled, 1.8)}/>'


def tab_sms(filled):
    d, t = bubble(1.15, 1.2, 0.8)
    return f'<path d="{d}" {t} {fill_or_stroke(filled, 1.75)}/>'


def fill_or_stroke(filled, width=2):
    if filled:
        return f'fill="{INK}" stroke="{INK}" stroke-width="{fmt(width)}" stroke-linejoin="round"'
    return f'fill="none" stroke="{INK}" stroke-width="{fmt(width)}" stroke-linecap="round" stroke-linejoin="round"'


def tab_vm(filled):
    if filled:
        reels = ('M8.5 9.5 A5.5 5.5 0 1 1 8.5 20.5 A5.5 5.5 0 1 1 8.5 9.5 Z M8.5 12.8 A2.2 2.2 0 1 0 8.5 17.2 '
                 'A2.2 2.2 0 1 0 8.5 12.8 Z M21.5 9.5 A5.5 5.5 0 1 1 21.5 20.5 A5.5 5.5 0 1 1 21.5 9.5 Z '
                 'M21.5 12.8 A2.2 2.2 0 1 0 21.5 17.2 A2.2 2.2 0 1 0 21.5 12.8 Z')
        return f'<path d="{reels}" fill="{INK}" fill-rule="evenodd"/><rect x="8.5" y="18.5" width="13" height="2" fill="{INK}"/>'
    return (f'<circle cx="8.5" cy="15" r="4.5" {STROKE}/><circle cx="21.5" cy="15" r="4.5" {STROKE}/>'
            f'<path d="M8.5 19.5 H21.5" {STROKE}/>')


def tab_recents(filled):
    if filled:
        return f'<circle cx="15" cy="15" r="12" fill="{INK}" mask="url(#hands)"/>'
    return f'<circle cx="15" cy="15" r="11" {STROKE}/><path d="M15 8.5 V15 L19.5 17.5" {STROKE}/>'


def tab_settings(filled):
    gear = gear_path(15, 15, 12.5, 9.6, 8)
    if filled:
        hole = "M15 11 A4 4 0 1 0 15 19 A4 4 0 1 0 15 11 Z"
        return f'<path d="{gear} {hole}" fill="{INK}" fill-rule="evenodd" stroke="{INK}" stroke-width="1" stroke-linejoin="round"/>'
    return f'<path d="{gear}" {STROKE}/><circle cx="15" cy="15" r="4" {STROKE}/>'


def images():
    im = {}
    for name, shape in (("Call", tab_call), ("SMS", tab_sms), ("VM", tab_vm), ("Recents", tab_recents),
                        ("Settings", tab_settings)):
        im[name] = svg(30, 30, shape(False))
        defs = ""
        if name == "Recents":
            defs = knock_out("hands", 30, 30, '<path d="M15 8.5 V15 L19.5 17.5" fill="none" stroke="#000" '
                                              'stroke-width="2.2" stroke-linecap="round" stroke-linejoin="round"/>')
        im[name + "_on"] = svg(30, 30, shape(True), defs)

    # The app's icon: a white speech bubble holding a handset on blue.
    d, t = bubble(4.2, 10, 8)
    h, ht = handset(2.3, 32.4, 27)
    im["IconLarge"] = svg(120, 120,
                          '<rect width="120" height="120" fill="url(#sky)"/>'
                          f'<path d="{d}" {t} fill="#fff"/><path d="{h}" {ht} fill="#1f6fd6"/>',
                          '<linearGradient id="sky" x1="0" y1="0" x2="0" y2="1">'
                          '<stop offset="0" stop-color="#3d8ff2"/><stop offset="1" stop-color="#1c5fc4"/></linearGradient>')
    # Paper for notes: it is stretched behind the text, so it carries no lines.
    im["note"] = svg(32, 32, '<path d="M0 0 H32 V24 L24 32 H0 Z" fill="#fde68a"/>'
                             '<path d="M24 32 V26 A2 2 0 0 1 26 24 H32 Z" fill="#e9c44f"/>')
    # A speech balloon whose tail points right; the caps (17 top and bottom, 20 left, 27 right)
    # keep the rounded ends and the tail when it is stretched.
    im["BalloonFlat"] = svg(48, 35, f'<rect x="0" y="0" width="42" height="35" rx="17" fill="{INK}"/>'
                                    f'<path d="M32 31 Q40 35.2 48 35 Q42.2 31.5 41.6 22 L32 22 Z" fill="{INK}"/>')
    im["defaultContactImage"] = svg(40, 40, person(20, 8, 25))
    # Two people, the one behind cut away around the one in front.
    front = (f'<circle cx="25.5" cy="17.75" r="6.9" fill="#000"/>'
             f'<path d="M14.7 40 C14.7 27 21 23.5 25.5 23.5 C30 23.5 38 27 38 40 Z" fill="#000"/>')
    im["defaultGroupImage"] = svg(40, 40, f'<g mask="url(#front)">{person(14, 8, 22)}</g>{person(25.5, 12, 23)}',
                                  knock_out("front", 40, 40, front))
    # Biometric unlock, drawn at 32 points.
    arcs = "".join(f'<path d="M{fmt(16 - r)} {fmt(18 + (0 if i % 2 else 1))} A{fmt(r)} {fmt(r)} 0 0 1 {fmt(16 + r)} 18 V{fmt(20 + i)}" '
                   f'{STROKE}/>' for i, r in enumerate((3, 6.5, 10)))
    im["TouchID"] = svg(32, 32, f'<path d="M16 17 V26" {STROKE}/>' + arcs +
                        f'<path d="M8 27 C9.5 25 10 23 10 21 M22 21 V25" {STROKE}/>')
    corners = ("M3 10 V6 A3 3 0 0 1 6 3 H10 M22 3 H26 A3 3 0 0 1 29 6 V10 M29 22 V26 A3 3 0 0 1 26 29 H22 "
               "M10 29 H6 A3 3 0 0 1 3 26 V22")
    im["Face ID"] = svg(32, 32, f'<path d="{corners}" {STROKE}/><path d="M11 11 V14 M21 11 V14 M16 11 V18 H14.5 '
                                f'M11.5 21.5 C14 23.5 18 23.5 20.5 21.5" {STROKE}/>')
    im["biometrics"] = svg(32, 32, f'<rect x="7" y="14" width="18" height="14" rx="2.5" {STROKE}/>'
                                   f'<path d="M11 14 V10 A5 5 0 0 1 21 10 V14 M16 19.5 V22.5" {STROKE}/>')
    im["error"] = svg(40, 40, '<circle cx="20" cy="20" r="19" fill="#e5484d"/><path d="M13.5 13.5 L26.5 26.5 '
                              'M26.5 13.5 L13.5 26.5" stroke="#fff" stroke-width="3.5" stroke-linecap="round"/>')
    im["success"] = svg(40, 40, '<circle cx="20" cy="20" r="19" fill="#30a46c"/><path d="M12 20.5 L17.5 26 '
                                'L28.5 14.5" fill="none" stroke="#fff" stroke-width="3.5" stroke-linecap="round" '
                                'stroke-linejoin="round"/>')
    # Field and bar backgrounds, stretched by their caps.
    im["textbg"] = svg(13, 27, '<rect x="0.5" y="0.5" width="12" height="26" rx="5.5" fill="#fff" '
                               'stroke="#c7c7cc" stroke-width="1"/>')
    # Its caps (all of it but the 2 points that stretch) fit the one-line reply bar's 40 points, so
    # the bar never draws it shrunk (a shrunk picture is resampled on every frame).
    im["toolbarbg"] = svg(10, 40, '<rect width="10" height="40" fill="#f4f4f6"/><rect width="10" height="0.5" '
                                  'fill="#b2b2b8"/>')
    im["SearchShadow"] = svg(4, 20, '<rect width="4" height="19" fill="url(#fade)"/>',
                             '<linearGradient id="fade" x1="0" y1="0" x2="0" y2="1">'
                             '<stop offset="0" stop-color="#000" stop-opacity="0.22"/>'
                             '<stop offset="1" stop-color="#000" stop-opacity="0"/></linearGradient>')
    body, defs = camera_shape(False)
    im["camera"] = svg(28, 22, f'<g transform="translate(2 -1)">{body}</g>', defs)
    im["menu_disclosure"] = svg(13, 8, f'<path d="M1.5 1.5 L6.5 6.5 L11.5 1.5" {STROKE}/>')
    # Swipe actions, drawn white over their colour.
    g = '<g transform="translate(2 2)">{}</g>'
    d, t = handset()
    b, bt = bubble()
    im["ra_Trash"] = svg(28, 28, g.format(trash()))
    im["ra_Call"] = svg(28, 28, g.format(f'<path d="{d}" fill="{INK}"/>'))
    im["ra_SMS"] = svg(28, 28, g.format(f'<path d="{b}" fill="{INK}"/>'))
    im["ra_Archive"] = svg(28, 28, g.format(archive_box()))
    im["ra_Inbox"] = svg(28, 28, g.format(tray()))
    body, defs = eye(filled=True)
    im["ra_MarkRead"] = svg(28, 28, g.format(body), defs)
    im["ra_MarkUnread"] = slashed(28, 28, g.format(body)).replace("<defs>", "<defs>" + defs, 1)
    star = polygon(star_points(11, 11.6, 9.4, 4))
    im["star_on"] = svg(22, 22, f'<path d="{star}" fill="#f5a623" stroke="#f5a623" stroke-width="1.6" '
                                'stroke-linejoin="round"/>')
    im["star_off"] = svg(22, 22, f'<path d="{star}" fill="none" stroke="#8e8e93" stroke-width="1.6" '
                                 'stroke-linejoin="round"/>')
    im["More"] = svg(28, 28, f'<circle cx="14" cy="14" r="12" {STROKE}/>' +
                     "".join(f'<circle cx="{x}" cy="14" r="1.8" fill="{INK}"/>' for x in (8.5, 14, 19.5)))
    im["Knob"] = svg(28, 28, '<circle cx="14" cy="14.6" r="13" fill="#000" fill-opacity="0.12"/>'
                             '<circle cx="14" cy="14" r="12.5" fill="#fff" stroke="#d1d1d6" stroke-width="1"/>')
    im["VM_play"] = svg(30, 30, f'<circle cx="15" cy="15" r="13" {STROKE}/><path d="M12.5 10 L20.5 15 L12.5 20 Z" '
                                f'fill="{INK}" stroke="{INK}" stroke-width="1.4" stroke-linejoin="round"/>')
    im["VM_stop"] = svg(30, 30, f'<circle cx="15" cy="15" r="13" {STROKE}/><rect x="10.5" y="10.5" width="9" '
                                f'height="9" rx="1.5" fill="{INK}"/>')
    im["Speaker"] = svg(30, 30, f'<g transform="translate(3 3)">{speaker_cone() + sound_waves(3)}</g>')
    im["Speaker_off"] = svg(30, 30, f'<g transform="translate(3 3)">{speaker_cone()}</g>')
    im["VCard"] = svg(24, 24, f'<rect x="2" y="4" width="20" height="16" rx="2.5" {STROKE}/>' +
                      person(8.5, 8, 9) + f'<path d="M14 10 H18.5 M14 14 H18.5" {STROKE}/>')
    im["VCard_Company"] = svg(24, 24, f'<path d="M4 21 V5 A1.5 1.5 0 0 1 5.5 3.5 H13 A1.5 1.5 0 0 1 14.5 5 V21 '
                                      f'M14.5 10 H18.5 A1.5 1.5 0 0 1 20 11.5 V21 M2.5 21 H21.5 M7.5 7.5 H11 M7.5 11.5 '
                                      f'H11 M7.5 15.5 H11" {STROKE}/>')
    body, defs = camera_shape(False)
    im["action_camera"] = svg(24, 24, body, defs)
    im["action_clipboard"] = svg(24, 24, symbols_cache["doc.on.clipboard"].split(">", 1)[1].rsplit("</svg>", 1)[0])
    im["action_library"] = svg(24, 24, symbols_cache["photo.on.rectangle"].split(">", 1)[1].rsplit("</svg>", 1)[0])
    # Dial pad keys.
    spokes = "".join(f'M{fmt(12 + 8 * math.cos(a))} {fmt(12 + 8 * math.sin(a))} L{fmt(12 - 8 * math.cos(a))} '
                     f'{fmt(12 - 8 * math.sin(a))} ' for a in (math.pi / 2, math.pi / 2 + math.pi / 3,
                                                               math.pi / 2 - math.pi / 3))
    im["Asterisk"] = svg(24, 24, f'<path d="{spokes}" {STROKE}/>')
    im["Numbersign"] = svg(24, 24, f'<path d="M9.5 3.5 L7.5 20.5 M16.5 3.5 L14.5 20.5 M4 8.5 H20.5 M3.5 15.5 H20" '
                                   f'{STROKE}/>')
    im["Delete"] = svg(34, 24, f'<path d="M11 3.5 H30 A2 2 0 0 1 32 5.5 V18.5 A2 2 0 0 1 30 20.5 H11 L2.5 12 Z '
                               f'M16.5 8 L24.5 16 M24.5 8 L16.5 16" {STROKE}/>')
    star_small = polygon(star_points(0, 0, 9, 3.8))
    star_g = '<path d="{}" transform="translate({} 12.6)" fill="{}" stroke="{}" stroke-width="1.6" stroke-linejoin="round"/>'
    im["Favorites_Contacts"] = svg(44, 24, star_g.format(star_small, 11, INK, INK) + person(33, 2.5, 19))
    im["Contacts_Favorites"] = svg(44, 24, person(11, 2.5, 19) + star_g.format(star_small, 33, INK, INK))
    im["iBeacon"] = svg(60, 60, '<circle cx="30" cy="30" r="6" fill="#2f80ed"/>' +
                        "".join(f'<path d="M{fmt(30 - r * 0.707)} {fmt(30 - r * 0.707)} A{r} {r} 0 0 0 '
                                f'{fmt(30 - r * 0.707)} {fmt(30 + r * 0.707)} M{fmt(30 + r * 0.707)} '
                                f'{fmt(30 - r * 0.707)} A{r} {r} 0 0 1 {fmt(30 + r * 0.707)} {fmt(30 + r * 0.707)}" '
                                f'fill="none" stroke="#2f80ed" stroke-width="3.5" stroke-linecap="round"/>'
                                for r in (13, 21)))
    im.update(status_icons())
    return im


def status_icons():
    """The kinds of the history's one-line rows, 20 points: a small handset with an arrow for the
    calls (red when missed or recording), a bubble for texts and reels for voicemail. They keep
    their colours (rows show them untinted)."""
    red, green, blue, grey = "#e5484d", "#30a46c", "#2f80ed", "#8e8e93"
    d, _ = handset()

    def phone(colour):
        return f'<path d="{d}" transform="translate(0.5 4.5) scale(0.62)" fill="{colour}"/>'

    def arrow(x0, y0, x1, y1, colour):
        # A shaft from (x0, y0) to (x1, y1) with its head at the end.
        a = math.atan2(y1 - y0, x1 - x0)
        head = [(x1 + 3.6 * math.cos(a + s * 2.5), y1 + 3.6 * math.sin(a + s * 2.5)) for s in (1, -1)]
        return (f'<path d="M{fmt(x0)} {fmt(y0)} L{fmt(x1)} {fmt(y1)} M{fmt(head[0][0])} {fmt(head[0][1])} '
                f'L{fmt(x1)} {fmt(y1)} L{fmt(head[1][0])} {fmt(head[1][1])}" fill="none" stroke="{colour}" '
                f'stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>')

    icons = {
        # In and back out: the call came and went unanswered.
        "call_missed": svg(20, 20, phone(red) + f'<path d="M11.5 2 L14.8 6.5 L18.5 1.5" fill="none" stroke="{red}" '
                                                f'stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>' +
                           arrow(14.8, 6.5, 18.5, 1.5, red)),
        "call_received": svg(20, 20, phone(green) + arrow(18.5, 1.5, 12.5, 7.5, green)),
        "call_placed": svg(20, 20, phone(blue) + arrow(12.5, 7.5, 18.5, 1.5, blue)),
        "call_recorded": svg(20, 20, phone(grey) + f'<circle cx="15.5" cy="5" r="3.8" fill="{red}"/>'),
    }
    b, _ = bubble()
    icons["message_sms"] = svg(20, 20, f'<path d="{b}" transform="translate(0 0) scale(0.83)" fill="{blue}"/>')
    icons["message_vm"] = svg(20, 20, f'<circle cx="5.5" cy="10" r="3.6" fill="none" stroke="{green}" stroke-width="2"/>'
                                      f'<circle cx="14.5" cy="10" r="3.6" fill="none" stroke="{green}" stroke-width="2"/>'
                                      f'<path d="M5.5 13.6 H14.5" stroke="{green}" stroke-width="2"/>')
    return icons


symbols_cache = symbols()


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    for folder, drawings in (("symbols", symbols_cache), ("images", images())):
        out = os.path.join(root, "resources", folder)
        os.makedirs(out, exist_ok=True)
        for name, text in sorted(drawings.items()):
            with open(os.path.join(out, name + ".svg"), "w", encoding="utf-8") as f:
                f.write(text)
        print(f"{len(drawings)} {folder}")


if __name__ == "__main__":
    main()
