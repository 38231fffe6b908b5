#!/usr/bin/python3
"""Draws Loomvale's own pictures, kind icons and the FINDFILES clip.

Run from anywhere with Debian's python3 and python3-pil:
    /usr/bin/python3 resources/make_art.py
The generated files are committed, so building never needs Python.
Everything is drawn supersampled and scaled down, so edges are smooth.
"""
import math
import os
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
ART = os.path.join(HERE, "art")
# The program's icon for the desktop's icon theme, installed, not compiled in.
ICONS = os.path.join(HERE, "icons")
ICON_SIZES = (16, 32, 48, 64, 128, 256)

# Sizes the window gives the pictures (the wizard stretches nothing then).
WIZARD_SIZE = (164, 416)
LOGO_SIZE = (44, 44)
CLIP_SIZE = (272, 60)
CLIP_FRAMES = 24
CLIP_RATE = 10  # frames per second
# The page colour of the default palette, so the clip sits on the page.
PAGE = (0xEF, 0xEF, 0xEF)

INDIGO = (0x23, 0x2C, 0x6B)
BLUE = (0x2D, 0x5F, 0xB0)
TEAL = (0x2A, 0x9C, 0xB8)
SLATE = (0x34, 0x42, 0x58)
AMBER = (0xF2, 0xB1, 0x3C)
AMBER_DARK = (0xD9, 0x8E, 0x1C)
# Kind colours, in kind order: bitmap, icon, cursor, animated cursor, video, web page.
KIND_COLOURS = [(0x3A, 0x86, 0xE0), (0xF3, 0x9C, 0x12), (0x5D, 0x6D, 0x7E),
                (0x9B, 0x59, 0xB6), (0xE7, 0x4C, 0x3C), (0x27, 0xAE, 0x60)]


def rgba(c, a=255):
    return (c[0], c[1], c[2], a)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


class Canvas:
    """An RGBA picture drawn at ss times its size, in output pixel units."""

    def __init__(self, w, h, ss=4, background=(0, 0, 0, 0)):
        self.w, self.h, self.ss = w, h, ss
        self.img = Image.new("RGBA", (w * ss, h * ss), background)

    def s(self, v):
        return v * self.ss

    def box(self, x0, y0, x1, y1):
        return [self.s(x0), self.s(y0), self.s(x1) - 1, self.s(y1) - 1]

    def layer(self):
        return Image.new("RGBA", self.img.size, (0, 0, 0, 0))

    def put(self, layer, blur=0.0):
        if blur:
            layer = layer.filter(ImageFilter.GaussianBlur(self.s(blur)))
        self.img = Image.alpha_composite(self.img, layer)

    def draw_on(self, layer):
        return ImageDraw.Draw(layer)

    def result(self):
        return self.img.resize((self.w, self.h), Image.LANCZOS)

    # Shapes -----------------------------------------------------------
    def rounded(self, d, x0, y0, x1, y1, r, fill=None, outline=None, width=0):
        d.rounded_rectangle(self.box(x0, y0, x1, y1), radius=self.s(r), fill=fill, outline=outline,
                            width=round(self.s(width)))

    def ellipse(self, d, cx, cy, rx, ry, fill=None, outline=None, width=0):
        d.ellipse(self.box(cx - rx, cy - ry, cx + rx, cy + ry), fill=fill, outline=outline,
                  width=round(self.s(width)))

    def poly(self, d, pts, fill=None, outline=None):
        d.polygon([(self.s(x), self.s(y)) for x, y in pts], fill=fill, outline=outline)

    def line(self, d, pts, fill, width, round_caps=True):
        sp = [(self.s(x), self.s(y)) for x, y in pts]
        d.line(sp, fill=fill, width=round(self.s(width)), joint="curve")
        if round_caps:
            r = self.s(width) / 2
            for x, y in (sp[0], sp[-1]):
                d.ellipse([x - r, y - r, x + r, y + r], fill=fill)


def vertical_gradient(w, h, stops):
    """stops: list of (position 0..1, colour)."""
    img = Image.new("RGBA", (w, h))
    px = img.load()
    for y in range(h):
        t = y / max(1, h - 1)
        for i in range(len(stops) - 1):
            if stops[i][0] <= t <= stops[i + 1][0]:
                a, b = stops[i], stops[i + 1]
                c = mix(a[1], b[1], (t - a[0]) / max(1e-9, b[0] - a[0]))
                break
        for x in range(w):
            px[x, y] = rgba(c)
    return img


# Motifs shared by the pictures ---------------------------------------------

def document(cv, d, x, y, w, h, accent, fold=None, lines=True, picture=True):
    """A page with a folded corner, a coloured title strip and text lines."""
    f = fold if fold is not None else w * 0.28
    page = [(x, y), (x + w - f, y), (x + w, y + f), (x + w, y + h), (x, y + h)]
    cv.poly(d, page, fill=(255, 255, 255, 255))
    d.line([(cv.s(px), cv.s(py)) for px, py in page + [page[0]]], fill=(0xC2, 0xCB, 0xD8, 255),
           width=max(1, round(cv.s(w / 60))), joint="curve")
    cv.poly(d, [(x + w - f, y), (x + w - f, y + f), (x + w, y + f)], fill=(0xD5, 0xDD, 0xE8, 255))
    m = w * 0.14
    cv.rounded(d, x + m, y + m, x + w - f - m * 0.5, y + m + h * 0.09, h * 0.02, fill=rgba(accent))
    if picture:
        py = y + m + h * 0.16
        ph = h * 0.26
        cv.rounded(d, x + m, py, x + w * 0.52, py + ph, h * 0.03, fill=(0xE3, 0xEE, 0xFA, 255))
        cv.poly(d, [(x + m, py + ph), (x + m + w * 0.14, py + ph * 0.45), (x + m + w * 0.26, py + ph * 0.78),
                    (x + m + w * 0.32, py + ph * 0.6), (x + w * 0.52, py + ph)], fill=(0x4C, 0xAF, 0x6E, 255))
        cv.ellipse(d, x + w * 0.42, py + ph * 0.3, w * 0.045, w * 0.045, fill=(0xF5, 0xC0, 0x42, 255))
        ty = py + ph + h * 0.08
    else:
        ty = y + m + h * 0.2
    if lines:
        lh = max(h * 0.045, 0.6)
        for i, frac in enumerate((0.72, 0.6, 0.68, 0.45)):
            yy = ty + i * h * 0.11
            if yy + lh > y + h - m * 0.6:
                break
            cv.rounded(d, x + m, yy, x + m + (w - 2 * m) * frac, yy + lh, lh / 2, fill=(0xC3, 0xCC, 0xD9, 255))


def magnifier(cv, d, cx, cy, r, ring, handle_len, rim=SLATE, glass=(0xBF, 0xE6, 0xF5)):
    a = math.radians(45)
    hx0, hy0 = cx + math.cos(a) * (r + ring * 0.3), cy + math.sin(a) * (r + ring * 0.3)
    hx1, hy1 = cx + math.cos(a) * (r + handle_len), cy + math.sin(a) * (r + handle_len)
    cv.line(d, [(hx0, hy0), (hx1, hy1)], fill=rgba(rim), width=ring * 1.5)
    cv.ellipse(d, cx, cy, r, r, fill=rgba(glass, 95))
    cv.ellipse(d, cx, cy, r, r, outline=rgba(rim), width=ring)
    # Glint on the glass.
    d.arc(cv.box(cx - r * 0.62, cy - r * 0.62, cx + r * 0.62, cy + r * 0.62), 200, 260,
          fill=(255, 255, 255, 220), width=round(cv.s(max(ring * 0.45, 0.8))))


def shadow_of(cv, draw_fn, offset=(0, 1.5), blur=2.0, alpha=70):
    lay = cv.layer()
    d = cv.draw_on(lay)
    draw_fn(d)
    a = lay.split()[3].point(lambda v: v * alpha // 255)
    black = Image.new("RGBA", lay.size, (10, 20, 40, 0))
    black.putalpha(a)
    moved = Image.new("RGBA", lay.size, (0, 0, 0, 0))
    moved.paste(black, (round(cv.s(offset[0])), round(cv.s(offset[1]))))
    cv.put(moved, blur=blur)


def tile(cv, d, x, y, size, colour, alpha=255):
    cv.rounded(d, x, y, x + size, y + size, size * 0.26, fill=rgba(colour, alpha))
    hl = mix(colour, (255, 255, 255), 0.45)
    cv.rounded(d, x + size * 0.2, y + size * 0.2, x + size * 0.55, y + size * 0.38, size * 0.09,
               fill=rgba(hl, alpha))


def folder(cv, d, x, y, w, h, front=True, back=True, open_=0.0):
    if back:
        cv.rounded(d, x, y, x + w * 0.42, y + h * 0.3, h * 0.08, fill=rgba(AMBER_DARK))
        cv.rounded(d, x, y + h * 0.12, x + w, y + h, h * 0.1, fill=rgba(AMBER_DARK))
        cv.rounded(d, x + w * 0.06, y + h * 0.2, x + w * 0.94, y + h * 0.7, h * 0.05, fill=(255, 255, 255, 235))
    if front:
        lift = h * 0.08 * open_
        cv.poly(d, [(x - w * 0.02 * open_, y + h * 0.34 + lift), (x + w + w * 0.02 * open_, y + h * 0.34 + lift),
                    (x + w, y + h), (x, y + h)], fill=rgba(AMBER))
        cv.rounded(d, x, y + h * 0.34 + lift, x + w, y + h, h * 0.1, fill=rgba(AMBER))


# The tall pictures ---------------------------------------------------------

def backdrop(w, h, ss):
    cv = Canvas(w, h, ss)
    grad = vertical_gradient(w, h, [(0.0, INDIGO), (0.55, BLUE), (1.0, TEAL)])
    cv.img = grad.resize(cv.img.size, Image.BICUBIC)
    # Threads of a loom, faint, across the upper part.
    lay = cv.layer()
    d = cv.draw_on(lay)
    for i in range(-12, 30):
        x = i * 11
        d.line([(cv.s(x), 0), (cv.s(x + h * 0.55), cv.s(h * 0.55))], fill=(255, 255, 255, 22), width=cv.s(1))
        d.line([(cv.s(x + h * 0.55), 0), (cv.s(x), cv.s(h * 0.55))], fill=(255, 255, 255, 12), width=cv.s(1))
    # Fade the threads out downwards.
    fade = vertical_gradient(1, 64, [(0, (255, 255, 255)), (0.6, (110, 110, 110)), (1, (0, 0, 0))])
    fade = fade.convert("L").resize(cv.img.size)
    lay.putalpha(ImageChops.multiply(lay.split()[3], fade))
    cv.put(lay)
    # Hills of the vale at the foot.
    for k, (base, amp, alpha, phase) in enumerate(((0.80, 0.06, 26, 0.3), (0.86, 0.05, 38, 1.9),
                                                   (0.92, 0.04, 56, 3.4))):
        lay = cv.layer()
        d = cv.draw_on(lay)
        pts = [(0, h)]
        for i in range(0, 41):
            x = w * i / 40
            y = h * base - h * amp * (0.6 * math.sin(x / w * 3.1 + phase) + 0.4 * math.sin(x / w * 7.3 + phase * 2))
            pts.append((x, y))
        pts.append((w, h))
        cv.poly(d, pts, fill=(255, 255, 255, alpha))
        cv.put(lay)
    return cv


def picture_wizard(scale=1):
    w, h = WIZARD_SIZE
    cv = backdrop(w * scale, h * scale, 4)
    u = scale
    cx, cy = w * 0.5 * u, h * 0.34 * u
    # Soft halo behind the emblem.
    lay = cv.layer()
    cv.ellipse(cv.draw_on(lay), cx, cy, 62 * u, 62 * u, fill=(255, 255, 255, 34))
    cv.put(lay, blur=14 * u)
    dw, dh = 54 * u, 70 * u
    stack = [(-18, 8, KIND_COLOURS[3]), (-9, 4, KIND_COLOURS[1]), (0, 0, KIND_COLOURS[0])]
    for ox, oy, accent in stack:
        x, y = cx - dw * 0.62 + ox * u, cy - dh * 0.5 + oy * u
        shadow_of(cv, lambda d, x=x, y=y: cv.rounded(d, x, y, x + dw, y + dh, 2 * u, fill=(0, 0, 0, 255)),
                  offset=(1.5 * u, 3 * u), blur=3 * u, alpha=90)
        lay = cv.layer()
        document(cv, cv.draw_on(lay), x, y, dw, dh, accent)
        cv.put(lay)
    mx, my = cx + 14 * u, cy + 8 * u
    shadow_of(cv, lambda d: magnifier(cv, d, mx, my, 19 * u, 5 * u, 24 * u, rim=(0, 0, 0)),
              offset=(2 * u, 4 * u), blur=3 * u, alpha=110)
    lay = cv.layer()
    magnifier(cv, cv.draw_on(lay), mx, my, 19 * u, 5 * u, 24 * u, rim=(0xF7, 0xF9, 0xFC))
    cv.put(lay)
    # A few found resources rising out of the pages.
    for i, (tx, ty, sz, k) in enumerate(((0.2, 0.17, 14, 1), (0.62, 0.1, 17, 0), (0.8, 0.2, 12, 5),
                                          (0.08, 0.25, 11, 3))):
        lay = cv.layer()
        tile(cv, cv.draw_on(lay), w * tx * u, h * ty * u, sz * u, KIND_COLOURS[k], 235)
        cv.put(lay)
    return cv.result()


def picture_watermark(scale=1):
    w, h = WIZARD_SIZE
    cv = backdrop(w * scale, h * scale, 4)
    u = scale
    cx, cy = w * 0.5 * u, h * 0.36 * u
    lay = cv.layer()
    cv.ellipse(cv.draw_on(lay), cx, cy, 64 * u, 64 * u, fill=(255, 255, 255, 34))
    cv.put(lay, blur=14 * u)
    fw, fh = 86 * u, 66 * u
    fx, fy = cx - fw / 2, cy - fh / 2 + 4 * u
    shadow_of(cv, lambda d: cv.rounded(d, fx, fy + fh * 0.12, fx + fw, fy + fh, 6 * u, fill=(0, 0, 0, 255)),
              offset=(1.5 * u, 4 * u), blur=4 * u, alpha=90)
    lay = cv.layer()
    folder(cv, cv.draw_on(lay), fx, fy, fw, fh, front=False)
    cv.put(lay)
    # The kinds, sorted into the folder.
    lay = cv.layer()
    d = cv.draw_on(lay)
    for i, k in enumerate((0, 1, 3, 5)):
        tile(cv, d, fx + fw * (0.12 + i * 0.2), fy + fh * (0.05 + (i % 2) * 0.08), 15 * u, KIND_COLOURS[k])
    cv.put(lay)
    lay = cv.layer()
    folder(cv, cv.draw_on(lay), fx, fy, fw, fh, back=False, open_=0.6)
    cv.put(lay)
    # Done badge.
    bx, by, br = fx + fw - 4 * u, fy + fh - 4 * u, 15 * u
    shadow_of(cv, lambda d: cv.ellipse(d, bx, by, br, br, fill=(0, 0, 0, 255)), offset=(1 * u, 2 * u),
              blur=2 * u, alpha=110)
    lay = cv.layer()
    d = cv.draw_on(lay)
    cv.ellipse(d, bx, by, br, br, fill=(0x2E, 0xB8, 0x6A, 255))
    cv.ellipse(d, bx, by, br, br, outline=(255, 255, 255, 255), width=2.5 * u)
    cv.line(d, [(bx - 6.5 * u, by + 0.5 * u), (bx - 2 * u, by + 5 * u), (bx + 7 * u, by - 5 * u)],
            fill=(255, 255, 255, 255), width=3.2 * u)
    cv.put(lay)
    return cv.result()


def picture_logo(scale=1, size=None):
    """The window's logo; at a given size in pixels it is the program's icon."""
    w, h = LOGO_SIZE
    n = size or w * scale
    u = n / w
    cv = Canvas(n, n, 8)
    grad = vertical_gradient(n, n, [(0, INDIGO), (0.6, BLUE), (1, TEAL)]).resize(cv.img.size, Image.BICUBIC)
    mask = Image.new("L", cv.img.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(cv.box(2 * u, 2 * u, 42 * u, 42 * u), radius=cv.s(9 * u), fill=255)
    shadow_of(cv, lambda d: cv.rounded(d, 2 * u, 2 * u, 42 * u, 42 * u, 9 * u, fill=(0, 0, 0, 255)),
              offset=(0, 1 * u), blur=1.2 * u, alpha=60)
    body = Image.new("RGBA", cv.img.size, (0, 0, 0, 0))
    body.paste(grad, (0, 0), mask)
    cv.put(body)
    lay = cv.layer()
    # Below 24 pixels the text lines only grey the page.
    document(cv, cv.draw_on(lay), 9 * u, 8 * u, 19 * u, 25 * u, KIND_COLOURS[1], lines=n >= 24, picture=False)
    cv.put(lay)
    lay = cv.layer()
    magnifier(cv, cv.draw_on(lay), 25 * u, 23 * u, 7.5 * u, 2.6 * u, 9 * u, rim=AMBER)
    cv.put(lay)
    return cv.result()


def hexc(c):
    return "#%02x%02x%02x" % c[:3]


def logo_svg():
    """The same logo as picture_logo, as SVG on its 44-unit grid."""
    x, y, w, h = 9, 8, 19, 25
    f, m = w * 0.28, w * 0.14
    ty, lh = y + m + h * 0.2, max(h * 0.045, 0.6)
    cx, cy, r, ring, handle = 25, 23, 7.5, 2.6, 9
    k = math.cos(math.radians(45))
    glint_r = r * 0.62 - max(ring * 0.45, 0.8) / 2

    def at(deg):
        a = math.radians(deg)
        return "%.3f %.3f" % (cx + glint_r * math.cos(a), cy + glint_r * math.sin(a))

    page = [(x, y), (x + w - f, y), (x + w, y + f), (x + w, y + h), (x, y + h)]
    pts = lambda ps: " ".join("%.3f,%.3f" % p for p in ps)
    lines = []
    for i, frac in enumerate((0.72, 0.6, 0.68, 0.45)):
        yy = ty + i * h * 0.11
        if yy + lh > y + h - m * 0.6:
            break
        lines.append('<rect x="%.3f" y="%.3f" width="%.3f" height="%.3f" rx="%.3f" fill="%s"/>'
                     % (x + m, yy, (w - 2 * m) * frac, lh, lh / 2, hexc((0xC3, 0xCC, 0xD9))))
    body = [
        '<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 44 44">',
        '<defs>',
        '<linearGradient id="body" x1="0" y1="0" x2="0" y2="44" gradientUnits="userSpaceOnUse">',
        '<stop offset="0" stop-color="%s"/><stop offset="0.6" stop-color="%s"/><stop offset="1" stop-color="%s"/>'
        % (hexc(INDIGO), hexc(BLUE), hexc(TEAL)),
        '</linearGradient>',
        '<filter id="shadow" x="-10%" y="-10%" width="120%" height="125%">'
        '<feGaussianBlur stdDeviation="1.2"/></filter>',
        '</defs>',
        '<rect x="2" y="3" width="40" height="40" rx="9" fill="%s" fill-opacity="%.3f" filter="url(#shadow)"/>'
        % (hexc((10, 20, 40)), 60 / 255),
        '<rect x="2" y="2" width="40" height="40" rx="9" fill="url(#body)"/>',
        '<polygon points="%s" fill="#ffffff" stroke="%s" stroke-width="%.3f" stroke-linejoin="round"/>'
        % (pts(page), hexc((0xC2, 0xCB, 0xD8)), w / 60),
        '<polygon points="%s" fill="%s"/>' % (pts([(x + w - f, y), (x + w - f, y + f), (x + w, y + f)]),
                                              hexc((0xD5, 0xDD, 0xE8))),
        '<rect x="%.3f" y="%.3f" width="%.3f" height="%.3f" rx="%.3f" fill="%s"/>'
        % (x + m, y + m, w - f - m * 1.5, h * 0.09, h * 0.02, hexc(KIND_COLOURS[1])),
    ] + lines + [
        '<line x1="%.3f" y1="%.3f" x2="%.3f" y2="%.3f" stroke="%s" stroke-width="%.3f" stroke-linecap="round"/>'
        % (cx + k * (r + ring * 0.3), cy + k * (r + ring * 0.3), cx + k * (r + handle), cy + k * (r + handle),
           hexc(AMBER), ring * 1.5),
        '<circle cx="%s" cy="%s" r="%s" fill="%s" fill-opacity="%.3f"/>' % (cx, cy, r, hexc((0xBF, 0xE6, 0xF5)),
                                                                           95 / 255),
        '<circle cx="%s" cy="%s" r="%.3f" fill="none" stroke="%s" stroke-width="%s"/>'
        % (cx, cy, r - ring / 2, hexc(AMBER), ring),
        '<path d="M %s A %.3f %.3f 0 0 1 %s" fill="none" stroke="#ffffff" stroke-opacity="%.3f" '
        'stroke-width="%.3f"/>' % (at(200), glint_r, glint_r, at(260), 220 / 255, max(ring * 0.45, 0.8)),
        '</svg>',
    ]
    return "\n".join(body) + "\n"


# Kind icons, drawn on a 16-unit grid -----------------------------------------

def icon_canvas(n):
    cv = Canvas(n, n, 16)
    cv.u = n / 16.0
    return cv


def icon_bitmap(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    cv.rounded(d, 1 * u, 2.5 * u, 15 * u, 13.5 * u, 1.6 * u, fill=rgba(KIND_COLOURS[0]))
    cv.rounded(d, 2.2 * u, 3.7 * u, 13.8 * u, 12.3 * u, 0.8 * u, fill=(0xDC, 0xEE, 0xFD, 255))
    cv.poly(d, [(2.2 * u, 12.3 * u), (6 * u, 7.2 * u), (8.6 * u, 10 * u), (10.2 * u, 8.6 * u),
                (13.8 * u, 12.3 * u)], fill=(0x3F, 0xA6, 0x5E, 255))
    cv.ellipse(d, 11 * u, 6 * u, 1.3 * u, 1.3 * u, fill=(0xF5, 0xB7, 0x31, 255))
    return cv.result()


def icon_icon(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    cv.rounded(d, 1.5 * u, 1.5 * u, 14.5 * u, 14.5 * u, 3.2 * u, fill=rgba(KIND_COLOURS[1]))
    pts = []
    for i in range(10):
        r = (5.2 if i % 2 == 0 else 2.2) * u
        a = math.radians(-90 + i * 36)
        pts.append((8 * u + r * math.cos(a), 8.4 * u + r * math.sin(a)))
    cv.poly(d, pts, fill=(255, 255, 255, 255))
    return cv.result()


def icon_cursor(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    arrow = [(3.5, 1.2), (3.5, 13.2), (6.4, 10.4), (8.4, 14.6), (10.4, 13.7), (8.5, 9.6), (12.4, 9.6)]
    outline = [(x * u, y * u) for x, y in arrow]
    # Dark body with a light rim keeps it readable on any background.
    grow = [(3.5 - 1.1, 1.2 - 1.6), (3.5 - 1.1, 13.2 + 2.4), (6.2, 12.2), (7.8, 15.7), (11.7, 14.1),
            (10.1, 10.7), (14.8, 10.7)]
    cv.poly(d, [(x * u, y * u) for x, y in grow], fill=(255, 255, 255, 255))
    cv.poly(d, outline, fill=rgba(KIND_COLOURS[2]))
    return cv.result()


def icon_anicursor(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    c = rgba(KIND_COLOURS[3])
    cv.rounded(d, 3 * u, 1 * u, 13 * u, 3 * u, 0.8 * u, fill=c)
    cv.rounded(d, 3 * u, 13 * u, 13 * u, 15 * u, 0.8 * u, fill=c)
    glass = [(4.2, 3), (11.8, 3), (11.8, 4.6), (8.9, 8), (11.8, 11.4), (11.8, 13), (4.2, 13), (4.2, 11.4),
             (7.1, 8), (4.2, 4.6)]
    cv.poly(d, [(x * u, y * u) for x, y in glass], fill=(0xE9, 0xDD, 0xF3, 255))
    sand = (0xF2, 0xA9, 0x2B, 255)
    cv.poly(d, [(x * u, y * u) for x, y in [(5.4, 4.6), (10.6, 4.6), (8, 7.6)]], fill=sand)
    cv.poly(d, [(x * u, y * u) for x, y in [(8, 10), (10.9, 12.4), (5.1, 12.4)]], fill=sand)
    return cv.result()


def icon_video(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    cv.rounded(d, 0.8 * u, 2 * u, 15.2 * u, 14 * u, 1.8 * u, fill=(0x3A, 0x45, 0x57, 255))
    for i in range(4):
        x = 2.2 + i * 3.3
        cv.rounded(d, x * u, 3 * u, (x + 1.6) * u, 4.4 * u, 0.3 * u, fill=(0xE8, 0xEC, 0xF1, 255))
        cv.rounded(d, x * u, 11.6 * u, (x + 1.6) * u, 13 * u, 0.3 * u, fill=(0xE8, 0xEC, 0xF1, 255))
    cv.poly(d, [(6.3 * u, 5.6 * u), (11 * u, 8 * u), (6.3 * u, 10.4 * u)], fill=rgba(KIND_COLOURS[4]))
    return cv.result()


def icon_html(n):
    cv = icon_canvas(n)
    u = cv.u
    d = cv.draw_on(cv.img)
    c = KIND_COLOURS[5]
    cv.ellipse(d, 8 * u, 8 * u, 6.8 * u, 6.8 * u, fill=rgba(c))
    white = (255, 255, 255, 235)
    lw = 0.9 * u if n < 24 else 0.75 * u
    cv.ellipse(d, 8 * u, 8 * u, 2.8 * u, 6.2 * u, outline=white, width=lw)
    d.line([(cv.s(1.6 * u), cv.s(8 * u)), (cv.s(14.4 * u), cv.s(8 * u))], fill=white, width=round(cv.s(lw)))
    d.line([(cv.s(8 * u), cv.s(1.4 * u)), (cv.s(8 * u), cv.s(14.6 * u))], fill=white, width=round(cv.s(lw)))
    for y in (4.6, 11.4):
        half = math.sqrt(max(0.0, 6.3 ** 2 - (y - 8) ** 2))
        d.line([(cv.s((8 - half) * u), cv.s(y * u)), (cv.s((8 + half) * u), cv.s(y * u))], fill=white,
               width=round(cv.s(lw * 0.85)))
    cv.ellipse(d, 8 * u, 8 * u, 6.8 * u, 6.8 * u, outline=rgba(mix(c, (0, 0, 0), 0.25)), width=0.8 * u)
    return cv.result()


KIND_ICONS = [("bitmap", icon_bitmap), ("icon", icon_icon), ("cursor", icon_cursor),
              ("anicursor", icon_anicursor), ("video", icon_video), ("html", icon_html)]


# The FINDFILES clip ------------------------------------------------------------

def ease(t):
    return 0.5 - 0.5 * math.cos(math.pi * max(0.0, min(1.0, t)))


def clip_frame(t):
    """One frame at loop time t in [0, 1): a magnifier sweeps the top page of a
    stack while found resources fly into a folder."""
    w, h = CLIP_SIZE
    cv = Canvas(w, h, 4)
    # Stack of program files.
    dw, dh = 34, 44
    base_x, base_y = 27, 8
    for ox, oy, accent in ((-14, 4, KIND_COLOURS[3]), (-7, 2, KIND_COLOURS[1]), (0, 0, KIND_COLOURS[0])):
        x, y = base_x + ox, base_y + oy
        shadow_of(cv, lambda d, x=x, y=y: cv.rounded(d, x, y, x + dw, y + dh, 1.5, fill=(0, 0, 0, 255)),
                  offset=(0.8, 1.6), blur=1.4, alpha=70)
        lay = cv.layer()
        d = cv.draw_on(lay)
        document(cv, d, x, y, dw, dh, accent)
        cv.put(lay)
    # Path of the tiles: from the page up over an arc into the folder.
    fx, fy, fw, fh = 214, 16, 46, 36
    x0, y0, x1, y1 = base_x + dw * 0.7, 27, fx + fw * 0.4, fy + 11

    def arc(e):
        return x0 + (x1 - x0) * e, y0 + (y1 - y0) * e - 16 * math.sin(math.pi * e)

    lay = cv.layer()
    d = cv.draw_on(lay)
    for i in range(3, 22):
        x, y = arc(i / 24)
        cv.ellipse(d, x, y, 0.9, 0.9, fill=(0xB8, 0xC2, 0xD0, 255))
    cv.put(lay)
    lay = cv.layer()
    folder(cv, cv.draw_on(lay), fx, fy, fw, fh, front=False)
    cv.put(lay)
    # Four resources a loop, each flying for half a loop.
    lay = cv.layer()
    d = cv.draw_on(lay)
    for i, k in enumerate((0, 1, 3, 5)):
        s = (t - i / 4.0) % 1.0 / 0.5
        if s >= 1.0:
            continue
        e = ease(s)
        x, y = arc(e)
        size = 6 + 4 * math.sin(math.pi * min(1.0, s * 1.4))
        alpha = round(255 * min(1.0, s * 5))
        tile(cv, d, x - size / 2, y - size / 2, size, KIND_COLOURS[k], alpha)
    cv.put(lay)
    lay = cv.layer()
    folder(cv, cv.draw_on(lay), fx, fy, fw, fh, back=False)
    cv.put(lay)
    # The magnifier traces a figure eight over the top page.
    a = 2 * math.pi * t
    mx = base_x + dw * 0.48 + 11 * math.sin(a)
    my = base_y + dh * 0.5 + 6 * math.sin(2 * a)
    shadow_of(cv, lambda d: magnifier(cv, d, mx, my, 10, 2.6, 11, rim=(0, 0, 0)), offset=(1.5, 2.5), blur=1.5,
              alpha=80)
    lay = cv.layer()
    magnifier(cv, cv.draw_on(lay), mx, my, 10, 2.6, 11)
    cv.put(lay)
    return cv.result()


def quantize_frames(frames):
    """One shared palette of colours with alpha for every frame. The clear
    background is one entry of the page colour, so a player that ignores the
    palette's alpha byte still shows the art on the page."""
    w, h = frames[0].size
    sheet = Image.new("RGBA", (w, h * len(frames)))
    for i, f in enumerate(frames):
        sheet.paste(f, (0, i * h))
    # Fully clear pixels all alike, so they share one entry.
    clear = sheet.split()[3].point(lambda a: 255 if a < 8 else 0)
    sheet.paste((0, 0, 0, 0), mask=clear)
    pal_sheet = sheet.quantize(colors=256, method=Image.Quantize.FASTOCTREE, dither=Image.Dither.NONE)
    rgba_pal = pal_sheet.getpalette("RGBA")
    rgba_pal += [0] * (1024 - len(rgba_pal))
    # The quantizer's averages leave solid art a shade short of opaque.
    for i in range(3, 1024, 4):
        if rgba_pal[i] >= 248:
            rgba_pal[i] = 255
    bg = pal_sheet.getpixel((0, 0))
    rgba_pal[bg * 4:bg * 4 + 4] = list(PAGE) + [0]
    indexed = [pal_sheet.crop((0, i * h, w, (i + 1) * h)) for i in range(len(frames))]
    return indexed, rgba_pal


def rle8_rows(img):
    """Rows bottom-up as lists of palette indices."""
    w, h = img.size
    px = img.load()
    return [[px[x, h - 1 - r] for x in range(w)] for r in range(h)]


def rle8_pixels(out, row):
    """Encodes a run of pixels with encoded runs and absolute stretches."""
    i, n = 0, len(row)
    while i < n:
        j = i
        while j < n and j - i < 255 and row[j] == row[i]:
            j += 1
        if j - i >= 3 or n - i < 3:
            out += bytes((j - i, row[i]))
            i = j
            continue
        # Literal stretch until the next run of three.
        k = i
        while k < n and k - i < 255:
            if k + 2 < n and row[k] == row[k + 1] == row[k + 2]:
                break
            k += 1
        if k - i < 3:
            for p in row[i:k]:
                out += bytes((1, p))
        else:
            out += bytes((0, k - i)) + bytes(row[i:k])
            if (k - i) % 2:
                out += b"\0"
        i = k


def rle8_encode(rows, prev=None):
    """BI_RLE8 bits; with prev, pixels equal to the previous frame are skipped
    with delta codes and keep their old value."""
    out = bytearray()
    w = len(rows[0])
    cx, cy = 0, 0
    for y, row in enumerate(rows):
        if prev is None:
            spans = [(0, w)]
        else:
            spans = []
            x = 0
            while x < w:
                if row[x] == prev[y][x]:
                    x += 1
                    continue
                s = x
                gap = 0
                while x < w:
                    if row[x] == prev[y][x]:
                        gap += 1
                        if gap > 4:
                            break
                    else:
                        gap = 0
                    x += 1
                spans.append((s, x - gap))
        for s, e in spans:
            if y != cy or s != cx:
                if y > cy and s < cx:
                    out += b"\0\0"
                    cx, cy = 0, cy + 1
                dx, dy = s - cx, y - cy
                while dx or dy:
                    sx, sy = min(dx, 255), min(dy, 255)
                    out += bytes((0, 2, sx, sy))
                    dx -= sx
                    dy -= sy
                cx, cy = s, y
            rle8_pixels(out, row[s:e])
            cx = e
        if prev is None:
            out += b"\0\0"
            cx, cy = 0, y + 1
    out += b"\0\1"
    return bytes(out)


def chunk(fourcc, data):
    body = fourcc + struct.pack("<I", len(data)) + data
    return body + (b"\0" if len(data) % 2 else b"")


def list_chunk(kind, payload):
    return chunk(b"LIST", kind + payload)


def write_avi(path, indexed, palette, rate):
    w, h = indexed[0].size
    rows = [rle8_rows(f) for f in indexed]
    frames = [rle8_encode(rows[0])] + [rle8_encode(rows[i], rows[i - 1]) for i in range(1, len(rows))]
    n = len(frames)
    biggest = max(len(f) for f in frames)
    avih = struct.pack("<14I", 1000000 // rate, biggest * rate, 0, 0x10, n, 0, 1, biggest, w, h, 0, 0, 0, 0)
    strh = b"vids" + b"mrle" + struct.pack("<IHHIIIIIIIIhhhh", 0, 0, 0, 0, 1, rate, 0, n, biggest, 0xFFFFFFFF, 0,
                                            0, 0, w, h)
    bih = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 1, w * h, 0, 0, 256, 0)
    # RGBQUADs whose fourth byte, reserved in the format, holds the alpha.
    pal = b"".join(bytes((palette[i * 4 + 2], palette[i * 4 + 1], palette[i * 4], palette[i * 4 + 3]))
                   for i in range(256))
    hdrl = list_chunk(b"hdrl", chunk(b"avih", avih) + list_chunk(b"strl", chunk(b"strh", strh) +
                                                                  chunk(b"strf", bih + pal)))
    movi_payload = b""
    index = b""
    for i, f in enumerate(frames):
        offset = 4 + len(movi_payload)  # from the 'movi' tag
        movi_payload += chunk(b"00dc", f)
        index += b"00dc" + struct.pack("<III", 0x10 if i == 0 else 0, offset, len(f))
    body = b"AVI " + hdrl + list_chunk(b"movi", movi_payload) + chunk(b"idx1", index)
    with open(path, "wb") as fh:
        fh.write(b"RIFF" + struct.pack("<I", len(body)) + body)
    return n, len(body) + 8


def save(img, name):
    img.save(os.path.join(ART, name), optimize=True)


def main():
    os.makedirs(ART, exist_ok=True)
    for scale, suffix in ((1, ""), (2, "@2x")):
        save(picture_wizard(scale), "imgWizard%s.png" % suffix)
        save(picture_watermark(scale), "imgWatermark%s.png" % suffix)
        save(picture_logo(scale), "imgLogo%s.png" % suffix)
    for name, fn in KIND_ICONS:
        for n in (16, 32):
            save(fn(n), "kind-%s-%d.png" % (name, n))
    os.makedirs(ICONS, exist_ok=True)
    for n in ICON_SIZES:
        picture_logo(size=n).save(os.path.join(ICONS, "app-%d.png" % n), optimize=True)
    with open(os.path.join(ICONS, "app.svg"), "w") as fh:
        fh.write(logo_svg())
    frames = [clip_frame(i / CLIP_FRAMES) for i in range(CLIP_FRAMES)]
    indexed, palette = quantize_frames(frames)
    if "--sheet" in sys.argv:
        sheet = Image.new("RGB", (CLIP_SIZE[0], CLIP_SIZE[1] * len(frames)))
        for i, f in enumerate(frames):
            sheet.paste(Image.alpha_composite(Image.new("RGBA", f.size, (0x20, 0x22, 0x26, 255)), f),
                        (0, i * CLIP_SIZE[1]))
        sheet.save("/tmp/findfiles-sheet.png")
    n, size = write_avi(os.path.join(ART, "FINDFILES.avi"), indexed, palette, CLIP_RATE)
    print("FINDFILES.avi: %d frames, %d bytes" % (n, size))


if __name__ == "__main__":
    main()
