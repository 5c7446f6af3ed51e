#!/usr/bin/python3
"""The window's pictures: every name it loads is there, each file is a
self-contained SVG that renders, and the pictures that stand for a state
(pressed, greyed, raised, animation frames) really look different.

    art_test.py ART_DIR
"""

import concurrent.futures
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
import zlib

ART = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "art")
SVG_NS = "{http://www.w3.org/2000/svg}"

# Every picture the windows load by name, with the size it is drawn for.
PICTURES = {}
for names, size in [
    (["KESTROBASE"], (760, 540)),
    (["SPLASH3"], (676, 353)),
    (["MainIcon"], (256, 256)),
    (["STATUSOFF", "STATUSOK", "STATUSBUSY", "STATUSBOOT"], (48, 48)),
    (["ZUMFLASH", "ZUMBLAICO"], (64, 64)),
    (["FRECCE", "FRECCENO", "FRECCENOLEFT", "FRECCIADX", "FRECCIASX"], (64, 160)),
    (["PLAYBUTT", "PLAYBUTTPRESSED", "PLAYBUTTDIS", "STOPBUTT", "STOPBUTTPRESSED",
      "INTERNETBUTT", "INTERNETBUTTPRESSED"], (56, 56)),
    (["MENU_IMPORTAPC", "MENU_ELIMINA", "MENU_ELIMINA_UP", "MENU_TROVA", "MENU_TROVA_UP",
      "MENU_STAMPA", "MENU_STAMPA_UP", "MENU_SALVA", "MENU_SALVA_DOWN", "MENU_SALVA_UP"], (32, 32)),
    (["261", "262", "263", "264"], (32, 32)),
    (["CONNECT_%d" % i for i in range(10)], (64, 64)),
    (["1104", "1105", "157"], (12, 12)),
    (["SUCC", "SELALL", "ANNULLA"], (20, 20)),
    (["DRAGMOVECUR", "DRAGCOPYCUR", "DRAGNOCUR"], (32, 32)),
]:
    for n in names:
        PICTURES[n] = size

CURSORS = ["DRAGMOVECUR", "DRAGCOPYCUR", "DRAGNOCUR"]


def svg_path(name):
    return os.path.join(ART, name + ".svg")


def read_png(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGB or RGBA PNG as rsvg-convert writes it."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, width, channels = 8, b"", 0, 4
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (path, depth, colour, interlace)
            channels = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind, line = raw[start], bytearray(raw[start + 1:start + 1 + stride])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = prev[i]
            c = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        if channels == 4:
            rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        else:
            rows.append([tuple(line[x * 3:x * 3 + 3]) + (255,) for x in range(width)])
        prev = line
    return width, height, rows


_converted = {}  # name: (exit status, error text) of rsvg-convert
_renders = {}


def _convert(name):
    out = os.path.join(TMP.name, name + ".png")
    r = subprocess.run(["rsvg-convert", svg_path(name), "-o", out], capture_output=True, text=True)
    return name, (r.returncode, r.stderr)


def render(name):
    """The picture rendered at its own size. All of them are converted on first use, side by side."""
    if not _converted:
        with concurrent.futures.ThreadPoolExecutor(max_workers=8) as pool:
            _converted.update(pool.map(_convert, PICTURES))
    if name not in _renders:
        status, err = _converted[name]
        if status != 0:
            raise AssertionError("rsvg-convert failed on %s: %s" % (name, err))
        _renders[name] = read_png(os.path.join(TMP.name, name + ".png"))
    return _renders[name]


def coloured_pixels(rows, y0=0, y1=None):
    """Opaque pixels of clearly saturated colour (greyed art has none)."""
    n = 0
    for row in rows[y0:y1]:
        for r, g, b, a in row:
            if a > 128 and max(r, g, b) - min(r, g, b) > 40:
                n += 1
    return n


class Files(unittest.TestCase):
    def test_every_picture_is_there_and_nothing_else(self):
        present = {f[:-4] for f in os.listdir(ART) if f.endswith(".svg")}
        self.assertEqual(sorted(set(PICTURES) - present), [], "missing pictures")
        self.assertEqual(sorted(present - set(PICTURES)), [], "pictures no window loads (misspelt name?)")

    def test_each_is_a_self_contained_svg_of_its_size(self):
        for name, (w, h) in PICTURES.items():
            with self.subTest(name):
                root = ET.parse(svg_path(name)).getroot()
                self.assertEqual(root.tag, SVG_NS + "svg")
                box = [float(v) for v in re.split(r"[\s,]+", root.get("viewBox", "").strip()) if v]
                self.assertEqual(box, [0, 0, w, h], "viewBox")
                for el in root.iter():
                    tag = el.tag.replace(SVG_NS, "")
                    # Texts come from the dictionary at run time, and fonts may be missing.
                    self.assertNotIn(tag, ("image", "script", "foreignObject", "text", "style"), tag)
                    for attr, value in el.attrib.items():
                        if attr.endswith("href"):
                            self.assertTrue(value.startswith("#"), "%s=%s" % (attr, value))
                        for ref in re.findall(r"url\(([^)]*)\)", value):
                            self.assertTrue(ref.strip("'\" ").startswith("#"), "%s=%s" % (attr, value))

    def test_cursors_name_a_hotspot_on_the_pointer(self):
        for name in CURSORS:
            with self.subTest(name):
                with open(svg_path(name)) as f:
                    head = f.read(200)
                m = re.match(r"\s*<!--\s*hotspot:\s*(\d+)\s+(\d+)\s*-->", head)
                self.assertIsNotNone(m, "no hotspot comment at the top")
                x, y = int(m.group(1)), int(m.group(2))
                w, h, rows = render(name)
                self.assertTrue(0 <= x < w and 0 <= y < h)
                self.assertGreater(rows[y][x][3], 64, "the hotspot lies off the drawn pointer")


class Rendering(unittest.TestCase):
    def test_each_renders_at_its_size_and_shows_something(self):
        for name, size in PICTURES.items():
            with self.subTest(name):
                w, h, rows = render(name)
                self.assertEqual((w, h), size)
                opaque = sum(1 for row in rows for px in row if px[3] > 128)
                self.assertGreater(opaque, w * h // 20, "nearly empty")

    def test_backgrounds_and_splash_shape(self):
        w, h, rows = render("KESTROBASE")
        self.assertTrue(all(px[3] == 255 for row in rows for px in row), "the window background has holes")
        # The window colour, near enough that controls drawn on it blend in.
        mid = rows[h // 2][w // 2]
        self.assertTrue(all(abs(a - b) <= 6 for a, b in zip(mid[:3], (199, 199, 208))), mid)

        w, h, rows = render("SPLASH3")
        for x, y in [(0, 0), (w - 1, 0), (0, h - 1), (w - 1, h - 1)]:
            self.assertEqual(rows[y][x][3], 0, "splash corner (%d,%d) should be transparent" % (x, y))
        # Where the program writes its version line: opaque and light, for black text.
        for x in range(256, 420, 8):
            for y in range(280, 298, 4):
                r, g, b, a = rows[y][x]
                self.assertEqual(a, 255, (x, y))
                self.assertGreater(min(r, g, b), 200, "version area not plain at (%d,%d)" % (x, y))

    def test_states_differ_from_the_normal_picture(self):
        pairs = [("PLAYBUTTPRESSED", "PLAYBUTT"), ("PLAYBUTTDIS", "PLAYBUTT"), ("STOPBUTTPRESSED", "STOPBUTT"),
                 ("INTERNETBUTTPRESSED", "INTERNETBUTT"), ("MENU_ELIMINA_UP", "MENU_ELIMINA"),
                 ("MENU_TROVA_UP", "MENU_TROVA"), ("MENU_STAMPA_UP", "MENU_STAMPA"), ("MENU_SALVA_UP", "MENU_SALVA"),
                 ("MENU_SALVA_DOWN", "MENU_SALVA"), ("MENU_SALVA_DOWN", "MENU_SALVA_UP"),
                 ("FRECCIADX", "FRECCE"), ("FRECCIASX", "FRECCE"), ("FRECCIADX", "FRECCIASX"),
                 ("STATUSOK", "STATUSOFF"), ("ZUMFLASH", "ZUMBLAICO"), ("1105", "1104"), ("157", "1104")]
        for a, b in pairs:
            with self.subTest(a + " vs " + b):
                self.assertTrue(render(a)[2] != render(b)[2], "they look the same")
        frames = [render("CONNECT_%d" % i)[2] for i in range(10)]
        for i in range(10):
            self.assertTrue(frames[i] != frames[(i + 1) % 10], "frames %d and %d are the same" % (i, (i + 1) % 10))

    def test_greyed_arrows_and_disabled_play_have_no_colour(self):
        # The arrows picture: upper half PC -> player, lower half player -> PC.
        half = 80
        cases = {  # name: (upper half usable, lower half usable)
            "FRECCE": (True, True),
            "FRECCENO": (False, False),
            "FRECCENOLEFT": (False, True),
            "FRECCIADX": (True, True),
            "FRECCIASX": (True, True),
        }
        for name, (upper, lower) in cases.items():
            with self.subTest(name):
                rows = render(name)[2]
                self.assertEqual(coloured_pixels(rows, 0, half) > 200, upper, "upper half")
                self.assertEqual(coloured_pixels(rows, half, None) > 200, lower, "lower half")
        self.assertEqual(coloured_pixels(render("PLAYBUTTDIS")[2]), 0)
        self.assertGreater(coloured_pixels(render("PLAYBUTT")[2]), 500)

    def test_pressed_arrow_is_the_one_named(self):
        # A pressed arrow is darker than its normal state, and only in its own half.
        def darkness(rows, y0, y1):
            return sum(765 - (r + g + b) for row in rows[y0:y1] for r, g, b, a in row if a > 128)

        normal = render("FRECCE")[2]
        for name, pressed_half in (("FRECCIASX", (0, 80)), ("FRECCIADX", (80, 160))):
            with self.subTest(name):
                rows = render(name)[2]
                other = (80, 160) if pressed_half == (0, 80) else (0, 80)
                self.assertGreater(darkness(rows, *pressed_half), darkness(normal, *pressed_half) * 1.1)
                self.assertTrue(rows[other[0]:other[1]] == normal[other[0]:other[1]], "the other arrow changed too")


if __name__ == "__main__":
    TMP = tempfile.TemporaryDirectory()
    try:
        unittest.main()
    finally:
        TMP.cleanup()
