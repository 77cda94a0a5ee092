"""Reads the generated icons and splash bitmap back and checks their formats and pictures."""

import shutil
import struct
from collections import Counter

import pytest

from harness import build
from harness.window import FRAME_COLOURS

# (prefix, light, dark) of each verdict's frames, the light colour the brighter.
SETS = [(prefix, *sorted(colours, key=sum, reverse=True))
        for prefix, colours in FRAME_COLOURS.items()]
FRAMES = range(1, 17)
WHITE, BLACK, RED, DARK_RED = (255, 255, 255), (0, 0, 0), (255, 0, 0), (128, 0, 0)
ALL_FILES = (["MAINICON.ico", "IDB_ORVLOGO.bmp"] +
             ["%s%d.ico" % (prefix, k) for prefix, _, _ in SETS for k in FRAMES])
DIB_HEADER = "<IiiHHIIiiII"


class BadFile(Exception):
    pass


def mismatches(rows):
    """'what got, want expected' for each (what, got, expected) that differ; tuples as a/b/c."""
    show = lambda v: "/".join(map(str, v)) if isinstance(v, tuple) else str(v)
    return ["%s %s, want %s" % (what, show(got), show(want)) for what, got, want in rows
            if got != want]


def reported(rows):
    """The message of each (message, found) whose found is true."""
    return [message for message, found in rows if found]


def parse_ico(data):
    """The images of an .ico file as dicts; pixels are rows, top first, of RGB
    tuples, None where the AND mask makes the pixel transparent."""
    if len(data) < 6:
        raise BadFile("shorter than an icon directory")
    reserved, kind, count = struct.unpack_from("<HHH", data)
    if (reserved, kind) != (0, 1):
        raise BadFile("not an icon directory (reserved %d, type %d)" % (reserved, kind))
    if len(data) < 6 + 16 * count:
        raise BadFile("directory of %d entries is cut short" % count)
    images = []
    for i in range(count):
        *entry, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + size > len(data):
            raise BadFile("image %d runs past the end of the file" % i)
        blob = data[offset:offset + size]
        if size < 40:
            raise BadFile("image %d has no room for its header" % i)
        hsize, w, h, planes, bpp, comp, _, _, _, used, _ = struct.unpack_from(DIB_HEADER, blob)
        img = dict(entry=tuple(entry), header_size=hsize, width=w, height=h, planes=planes,
                   bpp=bpp, compression=comp, used=used)
        images.append(img)
        if (hsize, bpp, comp) != (40, 4, 0) or w <= 0 or h != 2 * w:
            continue  # the checks report the header; the pixels cannot be read safely
        ncol = used or 16
        xor_stride, and_stride = (w * 4 + 31) // 32 * 4, (w + 31) // 32 * 4
        xor_at = 40 + 4 * ncol
        and_at = xor_at + xor_stride * w
        if and_at + and_stride * w != size:
            raise BadFile("image %d holds %d bytes, its bitmaps need %d"
                          % (i, size, and_at + and_stride * w))
        palette = [tuple(blob[at:at + 3][::-1]) for at in range(40, xor_at, 4)]
        pixels, inverting = [], 0
        for src in reversed(range(w)):  # bottom-up
            row = []
            for x in range(w):
                index = blob[xor_at + src * xor_stride + x // 2] >> (0 if x % 2 else 4) & 15
                masked = blob[and_at + src * and_stride + x // 8] & (0x80 >> x % 8)
                if index >= ncol:
                    raise BadFile("image %d uses colour %d of %d" % (i, index, ncol))
                inverting += bool(masked) and palette[index] != BLACK
                row.append(None if masked else palette[index])
            pixels.append(row)
        img.update(palette=palette, pixels=pixels, inverting=inverting)
    return images


def check_icon_image(img, size):
    """Format problems of one 16-colour icon image that should be size x size."""
    return mismatches([
        ("directory's width/height", img["entry"][:2], (size, size)),
        ("directory entry colours/reserved/planes/bpp", img["entry"][2:], (16, 0, 1, 4)),
        ("DIB header size", img["header_size"], 40),
        ("DIB width/height (XOR over AND)", (img["width"], img["height"]), (size, 2 * size)),
        ("DIB planes/bpp/compression", (img["planes"], img["bpp"], img["compression"]),
         (1, 4, 0)),
        ("DIB palette entries", img["used"] or 16, 16),
    ]) + reported([("%d masked pixels are not black, so they would invert the screen"
                    % img.get("inverting", 0), img.get("inverting"))])


def colours_of(pixels):
    return {p for row in pixels for p in row if p is not None}


def cells(pixels):
    """(row, column, pixel, its eight neighbours) of every pixel; off the image counts as
    transparent."""
    n = len(pixels)
    for y, row in enumerate(pixels):
        for x, p in enumerate(row):
            yield y, x, p, [pixels[y + dy][x + dx] if 0 <= y + dy < n and 0 <= x + dx < n else None
                            for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx]


def check_main_icon(images):
    sizes = [img["entry"][0] for img in images]
    if sizes != [32, 16]:
        return ["want two images, 32x32 then 16x16, got sizes %s" % sizes]
    problems = []
    for img, size in zip(images, (32, 16)):
        found = check_icon_image(img, size)
        if "pixels" in img:
            cols = colours_of(img["pixels"])
            found += reported([
                ("no red tile colour", RED not in cols),
                ("no dark red shadow colour", DARK_RED not in cols),
                ("no grey trident colour",
                 not any(c[0] == c[1] == c[2] and c not in (BLACK, WHITE) for c in cols)),
                ("no transparent pixel around the tilted tile",
                 not any(None in row for row in img["pixels"]))])
        problems += ["%dx%d: %s" % (size, size, p) for p in found]
    return problems


def check_frame_set(prefix, light, dark, frames):
    """Picture problems of one animation: frames maps k to its 32x32 pixel rows."""
    first = frames[1]
    fill = {(y, x) for y, x, p, _ in cells(first) if p == light}
    if not fill:
        return ["%s1 has no light fill" % prefix]
    problems = []
    for k in FRAMES:
        name = "%s%d" % (prefix, k)
        stray = colours_of(frames[k]) - {light, dark}
        edge_light = [(y, x) for y, x, p, around in cells(frames[k])
                      if p == light and None in around]
        wrong = [(y, x) for y, x, p, _ in cells(frames[k])
                 if p is not None and (p == light) != ((y, x) in fill and x >= 2 * k - 1)]
        problems += reported([
            ("%s uses colours %s besides its two shades" % (name, sorted(stray)), stray),
            ("%s: outline broken, light pixels on the edge at %s" % (name, edge_light[:4]),
             edge_light),
            ("%s: light should cover exactly the fill from column %d on; %d pixels differ, "
             "first (row, column) %s" % (name, 2 * k - 1, len(wrong), wrong[:1]), wrong)])
    thick = [(y, x) for y, x, p, around in cells(first) if p == dark and light not in around]
    inner = [(y, x) for y, x, p, around in cells(first) if p == dark and None not in around]
    return problems + reported([
        ("%s1: outline is more than one pixel thick at %s" % (prefix, thick[:4]), thick),
        ("%s1: outline inside the symbol at (row, column) %s" % (prefix, inner[:4]), inner),
        ("%s16 still shows light pixels" % prefix, light in colours_of(frames[16]))])


def check_frames(icons):
    """Problems across all 48 frames; icons maps 'USBYES1' etc. to parsed images."""
    problems = []
    pictures = {}
    for prefix, light, dark in SETS:
        frames = {}
        for k in FRAMES:
            name = "%s%d" % (prefix, k)
            if len(icons[name]) != 1:
                problems.append("%s: %d images, want one" % (name, len(icons[name])))
                continue
            img = icons[name][0]
            problems += ["%s: %s" % (name, p) for p in check_icon_image(img, 32)]
            if "pixels" in img:
                problems += ["%s: palette lacks %s" % (name, shade) for shade in (light, dark)
                             if shade not in img["palette"]]
                frames[k] = img["pixels"]
        if len(frames) == len(FRAMES):
            problems += check_frame_set(prefix, light, dark, frames)
            pictures[prefix] = (light, dark, frames)
    masks = {name: [[p is None for p in row] for row in images[0]["pixels"]]
             for name, images in icons.items() if images and "pixels" in images[0]}
    if masks:
        reference = masks.get("USBYES1") or next(iter(masks.values()))
        opaque = sum(not t for row in reference for t in row)
        if opaque == 0 or opaque == 32 * 32:
            problems.append("the mask is trivial: %d of 1024 pixels opaque" % opaque)
        problems += ["%s: transparency mask differs from USBYES1" % name
                     for name, mask in sorted(masks.items()) if mask != reference]
    if len(pictures) == len(SETS):
        base_light, base_dark, base = pictures["USBYES"]
        for prefix, (light, dark, frames) in pictures.items():
            recolour = {None: None, base_light: light, base_dark: dark}
            problems += ["%s%d is not USBYES%d recoloured" % (prefix, k, k) for k in FRAMES
                         if [[recolour.get(p) for p in row] for row in base[k]] != frames[k]]
    return problems


def check_bitmap(data):
    """Problems of the splash logo: 237x78, 24 bpp, uncompressed, bottom-up,
    3780 pixels per metre, only white, black and red."""
    if len(data) < 54:
        return ["file of %d bytes is too short for a bitmap" % len(data)]
    magic, file_size, _, _, bits_at = struct.unpack_from("<2sIHHI", data)
    hsize, w, h, planes, bpp, comp, size_image, xppm, yppm, used, _ = \
        struct.unpack_from(DIB_HEADER, data, 14)
    problems = mismatches([
        ("magic", magic, b"BM"),
        ("file size in the header", file_size, len(data)),
        ("info header size", hsize, 40),
        ("width/height with rows bottom-up", (w, h), (237, 78)),
        ("planes/bpp/compression/colours used", (planes, bpp, comp, used), (1, 24, 0, 0)),
        ("resolution in pixels per metre", (xppm, yppm), (3780, 3780)),
    ])
    if problems:
        return problems
    stride = (w * 3 + 3) // 4 * 4
    if bits_at < 54 or bits_at + stride * h != len(data):
        return ["pixels at %d plus %d rows of %d bytes do not end the file of %d bytes"
                % (bits_at, h, stride, len(data))]
    counts = Counter(tuple(data[at:at + 3][::-1]) for y in range(h)
                     for at in range(bits_at + y * stride, bits_at + y * stride + 3 * w, 3))
    stray = set(counts) - {WHITE, BLACK, RED}
    return reported([
        ("image size field %d, want %d" % (size_image, stride * h),
         size_image not in (0, stride * h)),
        ("colours other than white, black and red: %s" % sorted(stray)[:4], stray),
        ("no white pixel", WHITE not in counts),
        ("no black pixel", BLACK not in counts),
        ("no red pixel", RED not in counts),
        ("white is not the background: %d of %d pixels" % (counts[WHITE], w * h),
         counts[WHITE] <= w * h // 2)])


def check_art_dir(art_dir):
    """Every problem found in the generated files of art_dir."""
    problems = []
    icons = {}
    for name in ALL_FILES:
        path = art_dir / name
        if not path.is_file():
            problems.append("%s is missing" % name)
            continue
        found = []
        try:
            if name.endswith(".bmp"):
                found = check_bitmap(path.read_bytes())
            elif name == "MAINICON.ico":
                found = check_main_icon(parse_ico(path.read_bytes()))
            else:
                icons[name[:-4]] = parse_ico(path.read_bytes())
        except BadFile as e:
            found = [str(e)]
        problems += ["%s: %s" % (name, p) for p in found]
    if len(icons) == 48:
        problems += check_frames(icons)
    return problems


@pytest.fixture(scope="module")
def art_dir():
    """The folder the native build wrote the art into, found by its logo."""
    return build.path("art_logo").parent


def test_generated_art_has_no_problems(art_dir):
    assert check_art_dir(art_dir) == []


def test_every_frame_darkens_some_more(art_dir):
    # The animation would seem to stall if the fill skipped a pair of columns.
    light = []
    for k in FRAMES:
        pixels = parse_ico((art_dir / ("USBYES%d.ico" % k)).read_bytes())[0]["pixels"]
        light.append(sum(row.count((0, 255, 0)) for row in pixels))
    assert all(a > b for a, b in zip(light, light[1:])), light


def repaint(want, index, masked=False):
    """A change to a 32x32 frame: the first pixel for which want(pixel, its neighbours, column)
    gets colour index, and is masked off if masked."""
    def change(data):
        y, x = next((y, x) for y, x, p, around in cells(parse_ico(data)[0]["pixels"])
                    if want(p, around, x))
        out = bytearray(data)
        # Bottom-up rows of 16 colour bytes after the header and 16 colours, then of 4 mask bytes.
        bits, row = struct.unpack_from("<I", data, 18)[0] + 40 + 64, 31 - y
        xor_at, and_at = bits + row * 16 + x // 2, bits + 16 * 32 + row * 4 + x // 8
        shift = 0 if x % 2 else 4
        out[xor_at] = out[xor_at] & ~(15 << shift) & 0xFF | index << shift
        if masked:
            out[and_at] |= 0x80 >> x % 8
        return bytes(out)
    return change


def field(offset, fmt, value):
    return lambda d: d[:offset] + struct.pack(fmt, value) + d[offset + struct.calcsize(fmt):]


# Each case damages one file of a copy of the generated art; the checker must name that file.
@pytest.mark.parametrize("name, change, expected", [
    # Frame 5 must be dark left of column 9; paint a fill pixel there light.
    ("USBYES5.ico", repaint(lambda p, around, x: p is not None and 2 <= x < 9 and
                            None not in around, 10), "from column 9"),
    ("USBMAYB1.ico", repaint(lambda p, around, x: p is not None and x > 20 and None in around,
                             11), "outline broken"),
    ("USBNO1.ico", repaint(lambda p, around, x: p is not None and None not in around, 1),
     "outline inside the symbol"),
    ("USBNO7.ico", repaint(lambda p, around, x: p is not None, 0, masked=True), "mask differs"),
    ("USBNO3.ico", repaint(lambda p, around, x: p == RED, 1), "not USBYES3 recoloured"),
    ("USBYES2.ico", field(6 + 6, "<H", 8), "want 16/0/1/4"),
    ("USBYES9.ico", lambda d: d[:300], "runs past the end"),
    ("MAINICON.ico", field(4, "<H", 1), "two images"),
    ("IDB_ORVLOGO.bmp", field(14 + 24, "<i", 2835), "3780"),
    ("IDB_ORVLOGO.bmp", field(14 + 8, "<i", -78), "bottom-up"),
    ("IDB_ORVLOGO.bmp", lambda d: d[:54] + b"\xff\x00\x00" + d[57:], "other than white"),
])
def test_damaged_files_are_reported(art_dir, tmp_path, name, change, expected):
    for each in ALL_FILES:
        shutil.copy(art_dir / each, tmp_path)
    path = tmp_path / name
    path.write_bytes(change(path.read_bytes()))
    problems = check_art_dir(tmp_path)
    assert any(p.startswith(name[:-4]) and expected in p for p in problems), problems
