#!/usr/bin/env python3
"""Draws the notifier's application icon and writes it as a Windows icon file.

The icon is a teal shield with a dark rim and a white funnel (the filter) on
it. The file holds twenty-four images: 16, 20, 24, 32, 40, 48, 64 and 256
pixels square, each in 4-bit (16 colours), 24-bit and 32-bit (with alpha)
colour. The in-between sizes are the small and large icon sizes at 125 % and
150 % display scale (20 and 40, 24 and 48), so Windows picks a drawn image
there instead of shrinking a larger one. The 256-pixel
images are PNG-compressed, the others are device-independent bitmaps with an
AND mask. Plain Python 3, standard library only; the output depends only on
this script, so running it again gives the same file.

The same drawing is written as a scalable SVG (--svg) for the Linux desktop:
the shapes below are outlines given by numbers, which the raster images sample
and the SVG traces. Beside it go the variants a panel asks for by name: the
symbolic icon (--symbolic), the shield as one silhouette with the funnel cut
out, in the colour the panel paints it; and the attention icon (--attention,
with --symbolic for both), the same with an amber "!" badge in its lower right
corner, shown while a box waits for the person.

The tray icon has three more drawings of the same shapes, for the taskbars
the navy rim does not suit (--tray): a pale rim for a dark taskbar, and
two-colour drawings for high-contrast themes, white on black and black on
white. They hold the 32-bit images of the sizes up to 64 pixels, which is all
the notification area asks for.

Usage: make_icon.py [OUTPUT]   (default: orlivan_sys_tray.ico beside this script)
       make_icon.py --tray [FOLDER]   (the three tray drawings; default: beside this script)
       make_icon.py --svg [--symbolic] [--attention] OUTPUT
"""

import math
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)
DEPTHS = (4, 24, 32)

TEAL = (24, 140, 140)
RIM = (16, 52, 78)
WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
PALE_RIM = (214, 240, 240)

# The colours of rim, shield and funnel in each drawing.
APPLICATION_COLOURS = (RIM, TEAL, WHITE)
TRAY_ARTS = {
    'orlivan_tray_dark_taskbar.ico': (PALE_RIM, TEAL, WHITE),
    'orlivan_tray_high_contrast_on_dark.ico': (WHITE, BLACK, WHITE),
    'orlivan_tray_high_contrast_on_light.ico': (BLACK, WHITE, BLACK),
}
TRAY_SIZES = (16, 20, 24, 32, 40, 48, 64)

# The 16 colours of the 4-bit images: index 0 is the transparent colour, the
# rest span the three design colours and the shades between them that the
# anti-aliased edges need.
PALETTE = [
    (0, 0, 0),
    RIM,
    TEAL,
    WHITE,
    (20, 96, 109),
    (32, 72, 96),
    (60, 160, 160),
    (110, 185, 185),
    (160, 210, 210),
    (210, 235, 235),
    (40, 110, 120),
    (70, 120, 140),
    (135, 165, 180),
    (190, 205, 215),
    (8, 26, 39),
    (128, 128, 128),
]


# The drawing, in units of the icon's side (x right, y down, 0 to 1).
# The shield: straight sides from its top to its waist, then curving in to a
# point at its bottom.
SHIELD_TOP, SHIELD_WAIST, SHIELD_BOTTOM, SHIELD_HALF = 0.06, 0.48, 0.95, 0.38
# The rim: the shield minus the same outline scaled about this point.
RIM_WIDTH = 0.07
INSET_CENTRE = (0.5, 0.45)
# The funnel: a wide mouth narrowing to a short spout.
FUNNEL_MOUTH_TOP, FUNNEL_NECK, FUNNEL_SPOUT_END = 0.26, 0.52, 0.74
FUNNEL_MOUTH_HALF, FUNNEL_SPOUT_HALF = 0.22, 0.055


def shield_half_width(y):
    """Half the shield's width at height y (0 = top, 1 = bottom), 0 outside."""
    if y < SHIELD_TOP or y > SHIELD_BOTTOM:
        return 0.0
    if y <= SHIELD_WAIST:
        return SHIELD_HALF
    t = (y - SHIELD_WAIST) / (SHIELD_BOTTOM - SHIELD_WAIST)
    return SHIELD_HALF * (1.0 - t ** 1.7) ** 0.8


def in_shield(x, y, inset=0.0):
    # The inset shield is the same outline scaled about a point inside it.
    if inset:
        cx, cy = INSET_CENTRE
        scale = 1.0 / (1.0 - inset)
        x = cx + (x - cx) * scale
        y = cy + (y - cy) * scale
    return abs(x - 0.5) <= shield_half_width(y)


def in_funnel(x, y):
    """A funnel: a wide mouth narrowing to a short spout."""
    if FUNNEL_MOUTH_TOP <= y <= FUNNEL_NECK:
        t = (y - FUNNEL_MOUTH_TOP) / (FUNNEL_NECK - FUNNEL_MOUTH_TOP)
        half = FUNNEL_MOUTH_HALF + (FUNNEL_SPOUT_HALF - FUNNEL_MOUTH_HALF) * t
        return abs(x - 0.5) <= half
    if FUNNEL_NECK < y <= FUNNEL_SPOUT_END:
        return abs(x - 0.5) <= FUNNEL_SPOUT_HALF
    return False


def sample(x, y, size, colours=APPLICATION_COLOURS):
    """Colour at a point, or None outside the icon."""
    rim_colour, shield_colour, funnel_colour = colours
    if not in_shield(x, y):
        return None
    # At small sizes the rim keeps at least 1.6 pixels so that it shows.
    rim = max(RIM_WIDTH, 1.6 / size)
    if not in_shield(x, y, rim):
        return rim_colour
    if in_funnel(x, y):
        return funnel_colour
    return shield_colour


def render(size, colours=APPLICATION_COLOURS):
    """RGBA rows, top row first, drawn with n x n supersampling."""
    n = 4 if size >= 64 else 8
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            r = g = b = hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = sample((px + (sx + 0.5) / n) / size, (py + (sy + 0.5) / n) / size, size,
                               colours)
                    if c is not None:
                        r += c[0]
                        g += c[1]
                        b += c[2]
                        hits += 1
            if hits:
                row.append((round(r / hits), round(g / hits), round(b / hits),
                            round(255 * hits / (n * n))))
            else:
                row.append((0, 0, 0, 0))
        rows.append(row)
    return rows


def nearest_palette_index(rgb):
    best, best_d = 1, None
    for i, p in enumerate(PALETTE[1:], start=1):
        d = sum((a - b) ** 2 for a, b in zip(rgb, p))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def opaque(px):
    return px[3] >= 128


def bitmap_entry(rows, depth):
    """BITMAPINFOHEADER, palette, XOR bitmap and AND mask, rows bottom-up."""
    size = len(rows)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, depth, 0, 0, 0, 0,
                         16 if depth == 4 else 0, 0)
    palette = b''
    if depth == 4:
        palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    for row in reversed(rows):
        line = bytearray()
        if depth == 4:
            idx = [nearest_palette_index(p[:3]) if opaque(p) else 0 for p in row]
            for i in range(0, size, 2):
                line.append((idx[i] << 4) | (idx[i + 1] if i + 1 < size else 0))
        elif depth == 24:
            for r, g, b, a in row:
                line += bytes((b, g, r)) if opaque((r, g, b, a)) else b'\0\0\0'
        else:
            for r, g, b, a in row:
                line += bytes((b, g, r, a))
        line += b'\0' * (-len(line) % 4)
        xor += line
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray((size + 7) // 8)
        for x, p in enumerate(row):
            if not opaque(p):
                line[x // 8] |= 0x80 >> (x % 8)
        line += b'\0' * (-len(line) % 4)
        mask += line
    return header + palette + bytes(xor) + bytes(mask)


def png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data +
            struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))


def png_entry(rows, depth):
    """PNG image: palette with a transparent index, RGB with a transparent key, or RGBA."""
    size = len(rows)
    raw = bytearray()
    chunks = []
    if depth == 4:
        ihdr = struct.pack('>IIBBBBB', size, size, 4, 3, 0, 0, 0)
        chunks.append(png_chunk(b'PLTE', b''.join(bytes(p) for p in PALETTE)))
        chunks.append(png_chunk(b'tRNS', b'\0'))
        for row in rows:
            idx = [nearest_palette_index(p[:3]) if opaque(p) else 0 for p in row]
            raw.append(0)
            for i in range(0, size, 2):
                raw.append((idx[i] << 4) | idx[i + 1])
    elif depth == 24:
        ihdr = struct.pack('>IIBBBBB', size, size, 8, 2, 0, 0, 0)
        chunks.append(png_chunk(b'tRNS', struct.pack('>HHH', 0, 0, 0)))
        for row in rows:
            raw.append(0)
            for p in row:
                # Pure black is the transparent key, so opaque pixels avoid it.
                raw += bytes(p[:3]) if opaque(p) and p[:3] != (0, 0, 0) else (
                    b'\x01\x01\x01' if opaque(p) else b'\0\0\0')
    else:
        ihdr = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
        for row in rows:
            raw.append(0)
            for p in row:
                raw += bytes(p)
    return (b'\x89PNG\r\n\x1a\n' + png_chunk(b'IHDR', ihdr) + b''.join(chunks) +
            png_chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + png_chunk(b'IEND', b''))


def build_icon(colours=APPLICATION_COLOURS, sizes=SIZES, depths=DEPTHS):
    images = []
    for depth in depths:
        for size in sizes:
            images.append((size, depth))
    rendered = {size: render(size, colours) for size in sizes}
    blobs = []
    for size, depth in images:
        rows = rendered[size]
        blobs.append(png_entry(rows, depth) if size == 256 else bitmap_entry(rows, depth))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (size, depth), blob in zip(images, blobs):
        dim = 0 if size == 256 else size
        out += struct.pack('<BBBBHHII', dim, dim, 16 if depth == 4 else 0, 0, 1, depth,
                           len(blob), offset)
        offset += len(blob)
    return out + b''.join(blobs)


def shield_outline(inset=0.0, steps=48):
    """The shield's outline as points, clockwise from its top right corner;
    with an inset, the outline scaled as in_shield scales it."""
    right = [(0.5 + SHIELD_HALF, SHIELD_TOP)]
    for i in range(steps + 1):
        y = SHIELD_WAIST + (SHIELD_BOTTOM - SHIELD_WAIST) * i / steps
        right.append((0.5 + shield_half_width(y), y))
    left = [(1.0 - x, y) for x, y in reversed(right[:-1])]
    points = right + left
    if inset:
        cx, cy = INSET_CENTRE
        points = [(cx + (x - cx) * (1.0 - inset), cy + (y - cy) * (1.0 - inset))
                  for x, y in points]
    return points


def funnel_outline():
    m, s = FUNNEL_MOUTH_HALF, FUNNEL_SPOUT_HALF
    return [(0.5 - m, FUNNEL_MOUTH_TOP), (0.5 + m, FUNNEL_MOUTH_TOP),
            (0.5 + s, FUNNEL_NECK), (0.5 + s, FUNNEL_SPOUT_END),
            (0.5 - s, FUNNEL_SPOUT_END), (0.5 - s, FUNNEL_NECK)]


AMBER = (232, 160, 20)
# The attention badge: a disc in the lower right corner with a "!" in it.
# The gap around it parts it from the shield (white in colour, cut out of
# the symbolic silhouette), clear of the funnel.
BADGE_CENTRE, BADGE_RADIUS, BADGE_GAP = (0.8, 0.8), 0.17, 0.05


def badge_outline(steps=32, radius=BADGE_RADIUS):
    cx, cy = BADGE_CENTRE
    return [(cx + radius * math.cos(2 * math.pi * i / steps),
             cy + radius * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def exclamation_outlines():
    """The badge's "!": a bar above a square dot."""
    cx, cy = BADGE_CENTRE
    w = 0.028
    bar = [(cx - w, cy - 0.11), (cx + w, cy - 0.11), (cx + w, cy + 0.02), (cx - w, cy + 0.02)]
    dot = [(cx - w, cy + 0.055), (cx + w, cy + 0.055), (cx + w, cy + 0.11), (cx - w, cy + 0.11)]
    return [bar, dot]


def shield_outline_around_badge():
    """The shield's outline with the badge and its gap taken out: the part
    inside the gap's circle is replaced by the circle's arc that runs inside
    the shield (the circle crosses the shield's right side twice)."""
    cx, cy = BADGE_CENTRE
    gap = BADGE_RADIUS + BADGE_GAP
    outside = [math.hypot(x - cx, y - cy) > gap for x, y in shield_outline(steps=400)]
    points = shield_outline(steps=400)
    first_in = outside.index(False)
    last_in = len(outside) - 1 - outside[::-1].index(False)
    a1 = math.atan2(points[first_in][1] - cy, points[first_in][0] - cx)
    a2 = math.atan2(points[last_in][1] - cy, points[last_in][0] - cx)
    # Clockwise on the screen is increasing angle (y down); the arc inside the
    # shield is the one that passes by the shield's centre, to the badge's left.
    if a2 > a1:
        a2 -= 2 * math.pi
    arc = [(cx + gap * math.cos(a1 + (a2 - a1) * i / 24),
            cy + gap * math.sin(a1 + (a2 - a1) * i / 24)) for i in range(25)]
    return points[:first_in] + arc + points[last_in + 1:]


def build_svg(side=256, symbolic=False, attention=False):
    """The icon as SVG: the rim's colour under the inset shield, the funnel on
    top, as sample() paints them at a size where the rim is RIM_WIDTH. The
    symbolic icon is one path in the text colour (the panel's stylesheet sets
    it), the funnel and the badge's "!" left as holes."""
    def d(points):
        return ' '.join('%s%.2f %.2f' % ('M' if i == 0 else 'L', x * side, y * side)
                        for i, (x, y) in enumerate(points)) + ' Z'

    def path(outlines, colour):
        return '  <path fill="#%02x%02x%02x" d="%s"/>\n' % (colour + (' '.join(map(d, outlines)),))

    head = ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" '
            'viewBox="0 0 %d %d">\n' % (side, side, side, side))
    if symbolic:
        shield = shield_outline_around_badge() if attention else shield_outline()
        shapes = ('  <style id="current-color-scheme">.ColorScheme-Text { color: #232629; }</style>\n'
                  '  <path class="ColorScheme-Text" fill="currentColor" fill-rule="evenodd" '
                  'd="%s"/>\n' % ' '.join(map(d, [shield, funnel_outline()])))
        if attention:
            shapes += ('  <path class="ColorScheme-Text" fill="currentColor" fill-rule="evenodd" '
                       'd="%s"/>\n' % ' '.join(map(d, [badge_outline()] + exclamation_outlines())))
        return head + shapes + '</svg>\n'
    shapes = (path([shield_outline()], RIM) + path([shield_outline(RIM_WIDTH)], TEAL) +
              path([funnel_outline()], WHITE))
    if attention:
        shapes += (path([badge_outline(radius=BADGE_RADIUS + BADGE_GAP)], WHITE) +
                   path([badge_outline()], AMBER) + path(exclamation_outlines(), WHITE))
    return head + shapes + '</svg>\n'


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.argv[1:2] == ['--tray']:
        folder = sys.argv[2] if len(sys.argv) > 2 else here
        for name, colours in TRAY_ARTS.items():
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(build_icon(colours, TRAY_SIZES, (32,)))
        return
    if sys.argv[1:2] == ['--svg']:
        options = sys.argv[2:-1]
        with open(sys.argv[-1], 'w', encoding='ascii') as f:
            f.write(build_svg(symbolic='--symbolic' in options, attention='--attention' in options))
        return
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'orlivan_sys_tray.ico')
    with open(target, 'wb') as f:
        f.write(build_icon())


if __name__ == '__main__':
    main()
