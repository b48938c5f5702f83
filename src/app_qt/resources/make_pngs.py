#!/usr/bin/env python3
"""Renders the notifier's icon as 32-bit PNG files for the Linux desktop.

The drawing is the Windows icon's own (make_icon.py beside the Windows
resources), so both programs show the same shield. Writes one file per size
into OUTPUT_DIR, named orlivan-notifier-<size>.png.

Usage: make_pngs.py OUTPUT_DIR SIZE...
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                '..', '..', 'app', 'resources'))
import make_icon  # noqa: E402


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for size in (int(s) for s in sys.argv[2:]):
        with open(os.path.join(out, 'orlivan-notifier-%d.png' % size), 'wb') as f:
            f.write(make_icon.png_entry(make_icon.render(size), 32))


if __name__ == '__main__':
    main()
