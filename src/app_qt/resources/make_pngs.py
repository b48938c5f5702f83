#!/usr/bin/env python3
"""Renders the notifier's icons as 32-bit PNG files for the Linux desktop.

The drawing is the Windows icon's own (make_icon.py beside the Windows
resources), so both programs show the same shield. Beside the plain icon it
writes the icon with a kind emblem in its lower right corner, one per kind a
notice has (a blue "i" for information, an amber "!" for a warning, a red
"x" for an error): the notifications show them as their image, so a banner
shows the product and the notice's kind at once. Writes one file per icon
and size into OUTPUT_DIR, named <icon>-<size>.png with <icon> one of
orlivan-notifier, orlivan-notifier-information, orlivan-notifier-warning and
orlivan-notifier-error.

Usage: make_pngs.py OUTPUT_DIR SIZE...
"""

import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', '..', 'app', 'resources'))
import make_icon  # noqa: E402

ICON = 'orlivan-notifier'
WHITE = (255, 255, 255)

# The emblem: a disc (or a triangle for a warning) in the lower right
# quarter, with a white ring that parts it from the shield.
CENTRE, RADIUS, RING = (0.72, 0.72), 0.25, 0.045


def segment_distance(x, y, a, b):
    """Distance from (x, y) to the segment a-b."""
    (ax, ay), (bx, by) = a, b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(x - ax - t * dx, y - ay - t * dy)


def in_triangle(x, y, grow):
    """The warning's triangle, point up, inside the emblem's circle."""
    cx, cy = CENTRE
    r = RADIUS + grow
    top, bottom = cy - r, cy + r * 0.62
    if not top <= y <= bottom:
        return False
    return abs(x - cx) <= (y - top) / (bottom - top) * r * 0.9


def information_mark(x, y):
    cx, cy = CENTRE
    return (math.hypot(x - cx, y - (cy - 0.12)) <= 0.035 or
            (abs(x - cx) <= 0.03 and cy - 0.055 <= y <= cy + 0.15))


def warning_mark(x, y):
    cx, cy = CENTRE
    return (math.hypot(x - cx, y - (cy + 0.08)) <= 0.028 or
            (abs(x - cx) <= 0.026 and cy - 0.12 <= y <= cy + 0.03))


def error_mark(x, y):
    cx, cy = CENTRE
    d = 0.1
    return min(segment_distance(x, y, (cx - d, cy - d), (cx + d, cy + d)),
               segment_distance(x, y, (cx - d, cy + d), (cx + d, cy - d))) <= 0.035


def disc(grow):
    cx, cy = CENTRE
    return lambda x, y: math.hypot(x - cx, y - cy) <= RADIUS + grow


# Each kind: its emblem's shape (grown by the ring's width for the ring),
# colour and white mark.
KINDS = {
    'information': (disc, (38, 110, 210), information_mark),
    'warning': (lambda grow: lambda x, y: in_triangle(x, y, grow), (232, 160, 20), warning_mark),
    'error': (disc, (205, 40, 40), error_mark),
}


def emblem_sample(kind, x, y):
    """Colour of the emblem at a point, or None outside it."""
    shape, colour, mark = KINDS[kind]
    if not shape(RING)(x, y):
        return None
    if not shape(0.0)(x, y):
        return WHITE
    return WHITE if mark(x, y) else colour


def with_emblem(rows, kind):
    """`rows` (the icon's RGBA rows) with the kind's emblem drawn over them."""
    size = len(rows)
    n = 8 if size < 64 else 4
    out = []
    for py, row in enumerate(rows):
        line = []
        for px, (r, g, b, a) in enumerate(row):
            er = eg = eb = hits = 0
            for sy in range(n):
                for sx in range(n):
                    c = emblem_sample(kind, (px + (sx + 0.5) / n) / size,
                                      (py + (sy + 0.5) / n) / size)
                    if c is not None:
                        er, eg, eb, hits = er + c[0], eg + c[1], eb + c[2], hits + 1
            if not hits:
                line.append((r, g, b, a))
                continue
            # The emblem's coverage over the icon (the "over" operator).
            ea = hits / (n * n)
            oa = ea + a / 255 * (1 - ea)
            mix = lambda e, i: round((e / hits * ea + i * a / 255 * (1 - ea)) / oa)
            line.append((mix(er, r), mix(eg, g), mix(eb, b), round(255 * oa)))
        out.append(line)
    return out


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for size in (int(s) for s in sys.argv[2:]):
        rows = make_icon.render(size)
        icons = {ICON: rows}
        icons.update({'%s-%s' % (ICON, kind): with_emblem(rows, kind) for kind in KINDS})
        for name, image in icons.items():
            with open(os.path.join(out, '%s-%d.png' % (name, size)), 'wb') as f:
                f.write(make_icon.png_entry(image, 32))


if __name__ == '__main__':
    main()
