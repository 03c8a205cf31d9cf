#!/usr/bin/python3
"""What a screenshot shows, for the tests (Debian's python3 with python3-gi: run with
/usr/bin/python3).

    screen_tool.py box PNG RRGGBB   print, as JSON, whether the screen's corners have the
                                    desktop's colour RRGGBB and the smallest box [x, y, width,
                                    height] around every pixel of another colour (null when
                                    there is none)
    screen_tool.py crop PNG X Y WIDTH HEIGHT OUT
                                    save the box with a margin of desktop around it as the
                                    PNG file OUT
"""

import json
import sys

import gi

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf  # noqa: E402


def box(path, colour):
    image = GdkPixbuf.Pixbuf.new_from_file(path)
    channels = image.get_n_channels()
    width, height, stride = image.get_width(), image.get_height(), image.get_rowstride()
    pixels = image.get_pixels()
    background = bytes.fromhex(colour) + (b"\xff" if channels == 4 else b"")
    plain_row = background * width

    def pixel(x, y):
        start = y * stride + x * channels
        return pixels[start:start + channels]

    corners = [pixel(x, y) for x in (0, width - 1) for y in (0, height - 1)]
    left, top, right, bottom = width, height, -1, -1
    for y in range(height):
        row = pixels[y * stride:y * stride + width * channels]
        if row == plain_row:
            continue
        xs = [x for x in range(width) if row[x * channels:(x + 1) * channels] != background]
        left, right = min(left, xs[0]), max(right, xs[-1])
        top, bottom = min(top, y), y
    found = [left, top, right - left + 1, bottom - top + 1] if right >= 0 else None
    return {"desktop": all(c == background for c in corners), "box": found}


def crop(path, x, y, width, height, out, margin=32):
    image = GdkPixbuf.Pixbuf.new_from_file(path)
    left, top = max(0, x - margin), max(0, y - margin)
    right = min(image.get_width(), x + width + margin)
    bottom = min(image.get_height(), y + height + margin)
    image.new_subpixbuf(left, top, right - left, bottom - top).savev(out, "png", [], [])


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "box":
        print(json.dumps(box(sys.argv[2], sys.argv[3])))
    elif len(sys.argv) == 8 and sys.argv[1] == "crop":
        crop(sys.argv[2], *[int(n) for n in sys.argv[3:7]], sys.argv[7])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
