#!/usr/bin/env python3
"""Builds the program's icons and splash bitmap from the pixel maps in res/art, with the one list
of their resource names: the resource script's fragment icons.rc and the header art_names.h
that the core and the fake platform include. --list prints the files it writes."""

import math
import os
import struct
import sys

ART_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "res", "art")

# The standard 16-colour VGA palette in the order Windows uses, so that the
# icons show the same on a 16-colour display as on a true-colour one.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]

# Letters of the main icon's maps; '.' is transparent.
MAIN_ICON_COLOURS = {"R": (255, 0, 0), "r": (128, 0, 0), "W": (192, 192, 192),
                     "g": (128, 128, 128), "k": (0, 0, 0), "w": (255, 255, 255)}

# (verdict, prefix, light, dark) for the three verdict animations.
FRAME_SETS = [
    ("SUPPORTED", "USBYES", (0, 255, 0), (0, 128, 0)),
    ("CHANGES", "USBMAYB", (255, 255, 0), (128, 128, 0)),
    ("NOT_SUPPORTED", "USBNO", (255, 0, 0), (128, 0, 0)),
]
MAIN_ICON, LOGO = "MAINICON", "IDB_ORVLOGO"
FRAME_COUNT, FRAME_SIZE = 16, 32

WHITE, BLACK, RED = (255, 255, 255), (0, 0, 0), (255, 0, 0)
LOGO_WIDTH, LOGO_HEIGHT = 237, 78
LOGO_WORD, LOGO_SCALE, LOGO_WORD_TOP = "ORVENDA", 3, 10
LOGO_LETTER_GAP = 1  # in glyph pixels, before scaling
# The swoosh runs from column 14 to 226, its centre line from row 46 down to 61 at 0.45 of the
# way, then up to 34; it is 12 rows thick at its middle.
SWOOSH_LEFT, SWOOSH_RIGHT = 14.0, 226.0
SWOOSH_START_Y, SWOOSH_LOWEST_Y, SWOOSH_LOWEST_AT, SWOOSH_END_Y = 46.0, 61.0, 0.45, 34.0
SWOOSH_THICKNESS = 12.0
PELS_PER_METRE = 3780  # 96 dots per inch


def fail(message):
    sys.exit("gen_art: %s" % message)


def read_lines(name):
    """Lines of a map file without comments (';') and trailing blanks."""
    path = os.path.join(ART_DIR, name)
    with open(path, encoding="ascii") as f:
        return [line.rstrip() for line in f if not line.startswith(";")]


def read_map(name, size, alphabet):
    rows = [line for line in read_lines(name) if line]
    if len(rows) != size or any(len(row) != size for row in rows):
        fail("%s: want %d rows of %d characters" % (name, size, size))
    unknown = [(y, x, ch) for y, row in enumerate(rows) for x, ch in enumerate(row)
               if ch not in alphabet]
    if unknown:
        fail("%s: row %d column %d: unknown character %r" % (name, *unknown[0]))
    return rows


def neighbours8(rows, y, x):
    """The eight surrounding characters; off the map counts as transparent."""
    n = len(rows)
    return [rows[y + dy][x + dx] if 0 <= y + dy < n and 0 <= x + dx < n else "."
            for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx]


def check_trident(rows):
    """Fill must be enclosed by outline, so that the animation's sweep never exposes a
    light pixel on the symbol's edge; the outline runs around the whole symbol, not
    between its strokes, so each of its pixels borders both fill and background."""
    for y, row in enumerate(rows):
        for x, ch in enumerate(row):
            around = neighbours8(rows, y, x)
            if ch == "#" and "." in around:
                fail("trident.txt: fill at row %d column %d touches the background" % (y, x))
            if ch == "o" and "#" not in around:
                fail("trident.txt: outline at row %d column %d borders no fill" % (y, x))
            if ch == "o" and "." not in around:
                fail("trident.txt: outline at row %d column %d lies inside the symbol" % (y, x))


def palette_index(colour):
    if colour not in PALETTE:
        fail("colour %r is not in the 16-colour palette" % (colour,))
    return PALETTE.index(colour)


def icon_image(pixels):
    """One 4-bpp icon image; pixels is a square grid of RGB tuples or None for
    transparent, top row first."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 0, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    xor, mask = b"", b""
    for row in reversed(pixels):
        packed, bits = bytearray((size * 4 + 31) // 32 * 4), bytearray((size + 31) // 32 * 4)
        for x, p in enumerate(row):
            packed[x // 2] |= (0 if p is None else palette_index(p)) << (0 if x % 2 else 4)
            if p is None:
                bits[x // 8] |= 0x80 >> x % 8
        xor += packed
        mask += bits
    return header + palette + xor + mask


def icon_file(images):
    """An .ico file holding the given pixel grids as 16-colour images."""
    blobs = [icon_image(p) for p in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for pixels, blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", len(pixels), len(pixels), 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def frame_pixels(rows, frame, light, dark):
    """Frame k shows the fill light only from column 2k-1 on: the dark shade
    creeps from the base disc toward the tips."""
    return [[None if ch == "." else light if ch == "#" and x >= 2 * frame - 1 else dark
             for x, ch in enumerate(row)] for row in rows]


def main_icon_pixels(name, size):
    rows = read_map(name, size, "." + "".join(MAIN_ICON_COLOURS))
    return [[None if ch == "." else MAIN_ICON_COLOURS[ch] for ch in row] for row in rows]


def read_font():
    """Glyphs by letter, each a list of equal-length rows of '#' and '.'."""
    glyphs = {}
    letter = None
    for line in read_lines("font.txt"):
        if not line:
            letter = None
        elif letter is None:
            if len(line) != 1 or line in glyphs:
                fail("font.txt: bad or repeated letter line %r" % line)
            letter = line
            glyphs[letter] = []
        else:
            if set(line) - set("#."):
                fail("font.txt: glyph %s has a bad row %r" % (letter, line))
            glyphs[letter].append(line)
    for letter, rows in glyphs.items():
        if not rows or len({len(r) for r in rows}) != 1:
            fail("font.txt: glyph %s is empty or ragged" % letter)
    return glyphs


def swoosh_at(x):
    """Centre line height and half thickness of the swoosh at column x: a blade
    that dips under the word and climbs past its end, pointed at both tips."""
    left, right = SWOOSH_LEFT, SWOOSH_RIGHT
    if not left <= x <= right:
        return 0.0, -1.0
    u = (x - left) / (right - left)
    if u < SWOOSH_LOWEST_AT:
        rise, t = SWOOSH_START_Y - SWOOSH_LOWEST_Y, (SWOOSH_LOWEST_AT - u) / SWOOSH_LOWEST_AT
    else:
        rise, t = SWOOSH_END_Y - SWOOSH_LOWEST_Y, (u - SWOOSH_LOWEST_AT) / (1 - SWOOSH_LOWEST_AT)
    return SWOOSH_LOWEST_Y + rise * t * t, SWOOSH_THICKNESS / 2 * math.sin(math.pi * u)


def logo_pixels():
    """The maker's name in black over a red swoosh that sweeps up to the right."""
    swoosh = [swoosh_at(x + 0.5) for x in range(LOGO_WIDTH)]
    img = [[RED if abs(y + 0.5 - centre) <= half else WHITE for centre, half in swoosh]
           for y in range(LOGO_HEIGHT)]
    glyphs = read_font()
    missing = [ch for ch in LOGO_WORD if ch not in glyphs]
    if missing:
        fail("font.txt lacks %s" % "".join(missing))
    width = sum(len(glyphs[ch][0]) for ch in LOGO_WORD) + LOGO_LETTER_GAP * (len(LOGO_WORD) - 1)
    left = (LOGO_WIDTH - width * LOGO_SCALE) // 2
    for ch in LOGO_WORD:
        rows = glyphs[ch]
        for gy, row in enumerate(rows):
            top = LOGO_WORD_TOP + gy * LOGO_SCALE
            for at in (left + gx * LOGO_SCALE for gx, cell in enumerate(row) if cell == "#"):
                for y in range(top, top + LOGO_SCALE):
                    for x in range(at, at + LOGO_SCALE):
                        img[y][x] = BLACK
        left += (len(rows[0]) + LOGO_LETTER_GAP) * LOGO_SCALE
    return img


def bitmap_file(img):
    """A 24-bpp bottom-up BI_RGB .bmp file."""
    stride = (len(img[0]) * 3 + 3) // 4 * 4
    data = b"".join(b"".join(bytes((b, g, r)) for r, g, b in row).ljust(stride, b"\0")
                    for row in reversed(img))
    info = struct.pack("<IiiHHIIiiII", 40, len(img[0]), len(img), 1, 24, 0, len(data),
                       PELS_PER_METRE, PELS_PER_METRE, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return head + info + data


def write(outdir, name, data):
    path = os.path.join(outdir, name)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def icon_names():
    """Every icon resource, the main icon first, then each verdict's frames in order."""
    return [MAIN_ICON] + ["%s%d" % (prefix, frame) for _, prefix, _, _ in FRAME_SETS
                          for frame in range(1, FRAME_COUNT + 1)]


def resource_script():
    return "".join(["// The icons and the logo, generated by tools/gen_art.py.\n"] +
                   ['%s ICON "%s.ico"\n' % (name, name) for name in icon_names()] +
                   ['%s BITMAP "%s.bmp"\n' % (LOGO, LOGO)])


def names_header():
    return "".join(["// The names of the icon resources, generated by tools/gen_art.py.\n"
                    "#ifndef QORVALIN_ART_NAMES_H\n#define QORVALIN_ART_NAMES_H\n"
                    "#define ART_FRAME_COUNT %d\n" % FRAME_COUNT] +
                   ['#define ART_FRAMES_%s "%s"\n' % (verdict, prefix)
                    for verdict, prefix, _, _ in FRAME_SETS] +
                   ["// Every icon resource: X(name).\n#define ART_ICONS(X) %s\n#endif\n"
                    % " ".join('X("%s")' % name for name in icon_names())])


def outputs():
    return [name + ".ico" for name in icon_names()] + [LOGO + ".bmp", "icons.rc", "art_names.h"]


def main(argv):
    if argv[1:] == ["--list"]:
        print(";".join(outputs()))
        return 0
    if len(argv) != 2:
        sys.stderr.write("usage: gen_art.py OUTDIR | --list\n")
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)

    write(outdir, MAIN_ICON + ".ico", icon_file([main_icon_pixels("mainicon32.txt", 32),
                                                  main_icon_pixels("mainicon16.txt", 16)]))
    trident = read_map("trident.txt", FRAME_SIZE, ".o#")
    check_trident(trident)
    for _, prefix, light, dark in FRAME_SETS:
        for frame in range(1, FRAME_COUNT + 1):
            write(outdir, "%s%d.ico" % (prefix, frame),
                  icon_file([frame_pixels(trident, frame, light, dark)]))

    write(outdir, LOGO + ".bmp", bitmap_file(logo_pixels()))
    write(outdir, "icons.rc", resource_script().encode("ascii"))
    write(outdir, "art_names.h", names_header().encode("ascii"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
