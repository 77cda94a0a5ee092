"""Reads the generated icons and splash bitmap back and checks their formats and pictures."""

import os
import shutil
import struct

import pytest

from harness import build
from harness.hcpath import FRAME_COLOURS

# (prefix, light, dark) of each verdict's frames, the light colour the brighter.
SETS = [(prefix, *sorted(colours, key=sum, reverse=True))
        for prefix, colours in FRAME_COLOURS.items()]
FRAMES = range(1, 17)
WHITE, BLACK = (255, 255, 255), (0, 0, 0)
RED, DARK_RED = (255, 0, 0), (128, 0, 0)

ALL_FILES = (["MAINICON.ico", "IDB_ORVLOGO.bmp"] +
             ["%s%d.ico" % (prefix, k) for prefix, _, _ in SETS for k in FRAMES])


class BadFile(Exception):
    pass


def parse_ico(data):
    """The images of an .ico file as dicts; pixels are rows, top first, of RGB
    tuples, None where the AND mask makes the pixel transparent."""
    if len(data) < 6:
        raise BadFile("shorter than an icon directory")
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1:
        raise BadFile("not an icon directory (reserved %d, type %d)" % (reserved, kind))
    if len(data) < 6 + 16 * count:
        raise BadFile("directory of %d entries is cut short" % count)
    images = []
    for i in range(count):
        w, h, colours, res, planes, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        if offset + size > len(data):
            raise BadFile("image %d runs past the end of the file" % i)
        blob = data[offset:offset + size]
        if len(blob) < 40:
            raise BadFile("image %d has no room for its header" % i)
        (hsize, dw, dh, dplanes, dbpp, comp, _sizeimg, _xppm, _yppm, used, _imp) = \
            struct.unpack_from("<IiiHHIIiiII", blob, 0)
        img = dict(entry=(w, h, colours, res, planes, bpp), header_size=hsize,
                   width=dw, height=dh, planes=dplanes, bpp=dbpp, compression=comp, used=used)
        images.append(img)
        if hsize != 40 or dbpp != 4 or comp != 0 or dw <= 0 or dh != 2 * dw:
            continue  # the checks report the header; the pixels cannot be read safely
        ncol = used or 16
        palette = [tuple(reversed(struct.unpack_from("<BBB", blob, 40 + 4 * j))) for j in range(ncol)]
        xor_stride = (dw * 4 + 31) // 32 * 4
        and_stride = (dw + 31) // 32 * 4
        xor_at = 40 + 4 * ncol
        and_at = xor_at + xor_stride * dw
        if and_at + and_stride * dw != size:
            raise BadFile("image %d holds %d bytes, its bitmaps need %d"
                          % (i, size, and_at + and_stride * dw))
        pixels = []
        inverting = 0
        for y in range(dw):
            src = dw - 1 - y  # bottom-up
            row = []
            for x in range(dw):
                byte = blob[xor_at + src * xor_stride + x // 2]
                index = (byte >> 4) if x % 2 == 0 else (byte & 15)
                masked = blob[and_at + src * and_stride + x // 8] & (0x80 >> (x % 8))
                if index >= ncol:
                    raise BadFile("image %d uses colour %d of %d" % (i, index, ncol))
                if masked and palette[index] != BLACK:
                    inverting += 1
                row.append(None if masked else palette[index])
            pixels.append(row)
        img.update(palette=palette, pixels=pixels, inverting=inverting)
    return images


def check_icon_image(img, size):
    """Format problems of one 16-colour icon image that should be size x size."""
    problems = []
    w, h, colours, res, planes, bpp = img["entry"]
    if (w, h) != (size, size):
        problems.append("directory says %dx%d, want %dx%d" % (w, h, size, size))
    if colours != 16 or res != 0 or planes != 1 or bpp != 4:
        problems.append("directory entry colours/reserved/planes/bpp = %d/%d/%d/%d, want 16/0/1/4"
                        % (colours, res, planes, bpp))
    if img["header_size"] != 40:
        problems.append("DIB header size %d, want 40" % img["header_size"])
    if (img["width"], img["height"]) != (size, 2 * size):
        problems.append("DIB is %dx%d, want %dx%d (XOR over AND)"
                        % (img["width"], img["height"], size, 2 * size))
    if img["planes"] != 1 or img["bpp"] != 4 or img["compression"] != 0:
        problems.append("DIB planes/bpp/compression = %d/%d/%d, want 1/4/0"
                        % (img["planes"], img["bpp"], img["compression"]))
    if img["used"] not in (0, 16):
        problems.append("DIB claims %d palette entries, want 16" % img["used"])
    if "pixels" in img and img["inverting"]:
        problems.append("%d masked pixels are not black, so they would invert the screen"
                        % img["inverting"])
    return problems


def colours_of(pixels):
    return {p for row in pixels for p in row if p is not None}


def neighbours8(pixels, y, x):
    """The eight pixels around (y, x); off the image counts as transparent."""
    n = len(pixels)
    return [pixels[y + dy][x + dx] if 0 <= y + dy < n and 0 <= x + dx < n else None
            for dy in (-1, 0, 1) for dx in (-1, 0, 1) if dy or dx]


def check_main_icon(images):
    problems = []
    if [img["entry"][0] for img in images] != [32, 16]:
        return ["want two images, 32x32 then 16x16, got sizes %s" % [img["entry"][0] for img in images]]
    for img, size in zip(images, (32, 16)):
        problems += ["%dx%d: %s" % (size, size, p) for p in check_icon_image(img, size)]
        if "pixels" not in img:
            continue
        cols = colours_of(img["pixels"])
        greys = {c for c in cols if c[0] == c[1] == c[2] and c not in (BLACK, WHITE)}
        for name, present in (("red tile", RED in cols), ("dark red shadow", DARK_RED in cols),
                              ("grey trident", bool(greys))):
            if not present:
                problems.append("%dx%d: no %s colour" % (size, size, name))
        if not any(p is None for row in img["pixels"] for p in row):
            problems.append("%dx%d: no transparent pixel around the tilted tile" % (size, size))
    return problems


def check_frame_set(prefix, light, dark, frames):
    """Picture problems of one animation: frames maps k to its 32x32 pixel rows."""
    problems = []
    first = frames[1]
    fill = {(y, x) for y in range(32) for x in range(32) if first[y][x] == light}
    if not fill:
        return ["%s1 has no light fill" % prefix]
    for k in FRAMES:
        name = "%s%d" % (prefix, k)
        pixels = frames[k]
        stray = colours_of(pixels) - {light, dark}
        if stray:
            problems.append("%s uses colours %s besides its two shades" % (name, sorted(stray)))
        edge_light = [(y, x) for y in range(32) for x in range(32)
                      if pixels[y][x] == light and None in neighbours8(pixels, y, x)]
        if edge_light:
            problems.append("%s: outline broken, light pixels on the edge at %s" % (name, edge_light[:4]))
        start = 2 * k - 1
        wrong = [(y, x) for y in range(32) for x in range(32) if pixels[y][x] is not None and
                 (pixels[y][x] == light) != ((y, x) in fill and x >= start)]
        if wrong:
            problems.append("%s: light should cover exactly the fill from column %d on; "
                            "%d pixels differ, first (row, column) %s" % (name, start, len(wrong), wrong[0]))
    thick = [(y, x) for y in range(32) for x in range(32)
             if first[y][x] == dark and light not in neighbours8(first, y, x)]
    if thick:
        problems.append("%s1: outline is more than one pixel thick at %s" % (prefix, thick[:4]))
    inner = [(y, x) for y in range(32) for x in range(32)
             if first[y][x] == dark and None not in neighbours8(first, y, x)]
    if inner:
        problems.append("%s1: outline inside the symbol at (row, column) %s" % (prefix, inner[:4]))
    if any(p == light for row in frames[16] for p in row):
        problems.append("%s16 still shows light pixels" % prefix)
    return problems


def check_frames(icons):
    """Problems across all 48 frames; icons maps 'USBYES1' etc. to parsed images."""
    problems = []
    pictures = {}
    for prefix, light, dark in SETS:
        frames = {}
        for k in FRAMES:
            name = "%s%d" % (prefix, k)
            images = icons[name]
            if len(images) != 1:
                problems.append("%s: %d images, want one" % (name, len(images)))
                continue
            img = images[0]
            problems += ["%s: %s" % (name, p) for p in check_icon_image(img, 32)]
            if "pixels" not in img:
                continue
            for shade in (light, dark):
                if shade not in img["palette"]:
                    problems.append("%s: palette lacks %s" % (name, shade))
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
        for name, mask in sorted(masks.items()):
            if mask != reference:
                problems.append("%s: transparency mask differs from USBYES1" % name)
    if len(pictures) == len(SETS):
        base_light, base_dark, base = pictures["USBYES"]
        for prefix, (light, dark, frames) in pictures.items():
            recolour = {None: None, base_light: light, base_dark: dark}
            for k in FRAMES:
                if [[recolour.get(p) for p in row] for row in base[k]] != frames[k]:
                    problems.append("%s%d is not USBYES%d recoloured" % (prefix, k, k))
    return problems


def check_bitmap(data):
    """Problems of the splash logo: 237x78, 24 bpp, uncompressed, bottom-up,
    3780 pixels per metre, only white, black and red."""
    if len(data) < 54:
        return ["file of %d bytes is too short for a bitmap" % len(data)]
    problems = []
    magic, file_size, _r1, _r2, bits_at = struct.unpack_from("<2sIHHI", data, 0)
    (hsize, w, h, planes, bpp, comp, size_image, xppm, yppm, used, _imp) = \
        struct.unpack_from("<IiiHHIIiiII", data, 14)
    if magic != b"BM":
        problems.append("magic %r, want b'BM'" % magic)
    if file_size != len(data):
        problems.append("header says %d bytes, file has %d" % (file_size, len(data)))
    if hsize != 40:
        problems.append("info header size %d, want 40" % hsize)
    if (w, h) != (237, 78):
        problems.append("size %dx%d, want 237x78 with rows bottom-up" % (w, h))
    if planes != 1 or bpp != 24 or comp != 0 or used != 0:
        problems.append("planes/bpp/compression/colours used = %d/%d/%d/%d, want 1/24/0/0"
                        % (planes, bpp, comp, used))
    if (xppm, yppm) != (3780, 3780):
        problems.append("resolution %dx%d pixels per metre, want 3780x3780" % (xppm, yppm))
    if problems:
        return problems
    stride = (w * 3 + 3) // 4 * 4
    if bits_at < 54 or bits_at + stride * h != len(data):
        return ["pixels at %d plus %d rows of %d bytes do not end the file of %d bytes"
                % (bits_at, h, stride, len(data))]
    if size_image not in (0, stride * h):
        problems.append("image size field %d, want %d" % (size_image, stride * h))
    counts = {}
    for y in range(h):
        row = data[bits_at + y * stride: bits_at + (y + 1) * stride]
        for x in range(w):
            b, g, r = row[3 * x: 3 * x + 3]
            counts[(r, g, b)] = counts.get((r, g, b), 0) + 1
    stray = set(counts) - {WHITE, BLACK, RED}
    if stray:
        problems.append("colours other than white, black and red: %s" % sorted(stray)[:4])
    for name, colour in (("white", WHITE), ("black", BLACK), ("red", RED)):
        if colour not in counts:
            problems.append("no %s pixel" % name)
    if counts.get(WHITE, 0) <= w * h // 2:
        problems.append("white is not the background: %d of %d pixels" % (counts.get(WHITE, 0), w * h))
    return problems


def check_art_dir(art_dir):
    """Every problem found in the generated files of art_dir."""
    problems = []
    icons = {}
    for name in ALL_FILES:
        path = os.path.join(art_dir, name)
        if not os.path.isfile(path):
            problems.append("%s is missing" % name)
            continue
        with open(path, "rb") as f:
            data = f.read()
        if name.endswith(".bmp"):
            problems += ["%s: %s" % (name, p) for p in check_bitmap(data)]
            continue
        try:
            images = parse_ico(data)
        except BadFile as e:
            problems.append("%s: %s" % (name, e))
            continue
        if name == "MAINICON.ico":
            problems += ["%s: %s" % (name, p) for p in check_main_icon(images)]
        else:
            icons[name[:-4]] = images
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
    light_counts = []
    for k in FRAMES:
        with open(os.path.join(art_dir, "USBYES%d.ico" % k), "rb") as f:
            pixels = parse_ico(f.read())[0]["pixels"]
        light_counts.append(sum(p == (0, 255, 0) for row in pixels for p in row))
    assert all(light_counts[k] < light_counts[k - 1] for k in range(1, 16)), light_counts


def patch_ico_pixel(data, image, y, x, index=None, masked=None):
    """Copy of an .ico with one pixel's colour index and/or mask bit changed."""
    out = bytearray(data)
    offset = struct.unpack_from("<I", data, 6 + 16 * image + 12)[0]
    size = data[6 + 16 * image]
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    row = size - 1 - y
    xor_at = offset + 40 + 64 + row * xor_stride + x // 2
    and_at = offset + 40 + 64 + xor_stride * size + row * and_stride + x // 8
    if index is not None:
        shift = 4 if x % 2 == 0 else 0
        out[xor_at] = (out[xor_at] & ~(15 << shift) & 0xFF) | (index << shift)
    if masked is not None:
        bit = 0x80 >> (x % 8)
        out[and_at] = (out[and_at] | bit) if masked else (out[and_at] & ~bit & 0xFF)
    return bytes(out)


def find_pixel(data, want):
    """(row, column) of the first pixel of the single image for which want(pixels, y, x)."""
    pixels = parse_ico(data)[0]["pixels"]
    for y in range(32):
        for x in range(32):
            if want(pixels, y, x):
                return y, x
    raise AssertionError("no such pixel")


def light_left_of_sweep(data):
    # Frame 5 must be dark left of column 9; paint a fill pixel there light.
    y, x = find_pixel(data, lambda p, y, x: p[y][x] is not None and 2 <= x < 9 and
                      None not in neighbours8(p, y, x))
    return patch_ico_pixel(data, 0, y, x, index=10)


def light_outline(data):
    y, x = find_pixel(data, lambda p, y, x: p[y][x] is not None and x > 20 and
                      None in neighbours8(p, y, x))
    return patch_ico_pixel(data, 0, y, x, index=11)


def dark_inside(data):
    y, x = find_pixel(data, lambda p, y, x: p[y][x] is not None and
                      None not in neighbours8(p, y, x))
    return patch_ico_pixel(data, 0, y, x, index=1)


def hole_in_mask(data):
    y, x = find_pixel(data, lambda p, y, x: p[y][x] is not None)
    return patch_ico_pixel(data, 0, y, x, index=0, masked=True)


def dark_fill_in_other_set(data):
    y, x = find_pixel(data, lambda p, y, x: p[y][x] == (255, 0, 0))
    return patch_ico_pixel(data, 0, y, x, index=1)


def field(offset, fmt, value):
    return lambda d: d[:offset] + struct.pack(fmt, value) + d[offset + struct.calcsize(fmt):]


# Each case damages one file of a copy of the generated art; the checker must name that file.
@pytest.mark.parametrize("name, change, expected", [
    ("USBYES5.ico", light_left_of_sweep, "from column 9"),
    ("USBMAYB1.ico", light_outline, "outline broken"),
    ("USBNO1.ico", dark_inside, "outline inside the symbol"),
    ("USBNO7.ico", hole_in_mask, "mask differs"),
    ("USBNO3.ico", dark_fill_in_other_set, "not USBYES3 recoloured"),
    ("USBYES2.ico", field(6 + 6, "<H", 8), "want 16/0/1/4"),
    ("USBYES9.ico", lambda d: d[:300], "runs past the end"),
    ("MAINICON.ico", field(4, "<H", 1), "two images"),
    ("IDB_ORVLOGO.bmp", field(14 + 24, "<i", 2835), "3780"),
    ("IDB_ORVLOGO.bmp", field(14 + 8, "<i", -78), "bottom-up"),
    ("IDB_ORVLOGO.bmp", lambda d: d[:54] + b"\xff\x00\x00" + d[57:], "other than white"),
])
def test_damaged_files_are_reported(art_dir, tmp_path, name, change, expected):
    for each in ALL_FILES:
        shutil.copy(os.path.join(art_dir, each), tmp_path)
    path = tmp_path / name
    path.write_bytes(change(path.read_bytes()))
    problems = check_art_dir(tmp_path)
    assert any(p.startswith(name[:-4]) and expected in p for p in problems), problems
