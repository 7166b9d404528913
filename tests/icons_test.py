"""Reads Kurvix's .ico files byte by byte and checks the pictures they hold.

Run from the repository root:  python3 -m unittest tests/icons_test.py
"""

import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
RES = ROOT / "res"
GENERATOR = ROOT / "tools" / "make_icons.py"

STANDARD_PALETTE = [
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
]
RED = 0xFF0000
OLIVE = 0x808000


class Image:
    """One decoded icon image; rows are top row first."""

    def __init__(self, size, palette, indices, transparent):
        self.size = size
        self.palette = palette
        self.indices = indices
        self.transparent = transparent

    def opaque_positions(self):
        return {(x, y) for y in range(self.size) for x in range(self.size)
                if not self.transparent[y][x]}

    def opaque_colours(self):
        return {self.palette[self.indices[y][x]] for x, y in self.opaque_positions()}


def stride(width, bits_per_pixel):
    return (width * bits_per_pixel + 31) // 32 * 4


def read_image(test, data, entry_size, offset, length):
    test.assertLessEqual(offset + length, len(data), "image runs past the end of the file")
    (header_size, width, height, planes, bit_count, compression, _size_image,
     _xppm, _yppm, colours_used, _important) = struct.unpack_from("<IiiHHIIiiII", data, offset)
    test.assertEqual(header_size, 40)
    test.assertEqual(width, entry_size)
    test.assertEqual(height, 2 * entry_size, "height must count the XOR and AND bitmaps")
    test.assertEqual(planes, 1)
    test.assertEqual(bit_count, 4)
    test.assertEqual(compression, 0)
    test.assertIn(colours_used, (0, 16))

    pos = offset + 40
    palette = []
    for i in range(16):
        b, g, r, zero = data[pos + 4 * i:pos + 4 * i + 4]
        test.assertEqual(zero, 0)
        palette.append((r << 16) | (g << 8) | b)
    pos += 64

    xor_stride = stride(width, 4)
    and_stride = stride(width, 1)
    test.assertEqual(length, 40 + 64 + (xor_stride + and_stride) * width,
                     "image length does not match its bitmaps")
    xor_start = pos
    and_start = xor_start + xor_stride * width
    indices = []
    transparent = []
    for y in range(width):
        stored = width - 1 - y  # bitmaps are stored bottom row first
        xor_row = data[xor_start + stored * xor_stride:][:xor_stride]
        and_row = data[and_start + stored * and_stride:][:and_stride]
        indices.append([(xor_row[x // 2] >> (4 if x % 2 == 0 else 0)) & 0xF
                        for x in range(width)])
        transparent.append([bool(and_row[x // 8] & (0x80 >> (x % 8))) for x in range(width)])
    return Image(width, palette, indices, transparent)


def read_icon(test, path):
    data = path.read_bytes()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    test.assertEqual((reserved, kind), (0, 1), f"{path.name} is not an icon file")
    images = []
    for i in range(count):
        (width, height, colours, entry_reserved, planes, bit_count,
         length, offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        test.assertEqual(width, height)
        test.assertEqual(colours, 16)
        test.assertEqual(entry_reserved, 0)
        test.assertEqual(planes, 1)
        test.assertEqual(bit_count, 4)
        images.append(read_image(test, data, width, offset, length))
    return images


def runs(flags):
    """The (first, last) index of each run of True in the sequence."""
    found = []
    for i, flag in enumerate(flags):
        if flag and (i == 0 or not flags[i - 1]):
            found.append([i, i])
        elif flag:
            found[-1][1] = i
    return [tuple(r) for r in found]


def letter_boxes(image):
    """Per line of text, the (x0, x1, y0, y1) box of each letter, split where columns are blank."""
    size = image.size
    opaque_rows = [not all(row) for row in image.transparent]
    lines = []
    for y0, y1 in runs(opaque_rows):
        columns = [any(not image.transparent[y][x] for y in range(y0, y1 + 1))
                   for x in range(size)]
        lines.append([(x0, x1, y0, y1) for x0, x1 in runs(columns)])
    return lines


class IconsTest(unittest.TestCase):
    def setUp(self):
        self.app = read_icon(self, RES / "kurvix.ico")
        self.enabled = read_icon(self, RES / "tray_enabled.ico")
        self.disabled = read_icon(self, RES / "tray_disabled.ico")

    def all_images(self):
        return self.app + self.enabled + self.disabled

    def test_image_counts_and_sizes(self):
        # Windows CE's LoadIcon loads only the system's icon size, 32 x 32: every icon has one.
        for icon in (self.app, self.enabled, self.disabled):
            self.assertEqual([i.size for i in icon], [32, 16])

    def test_standard_palette(self):
        for image in self.all_images():
            self.assertEqual(image.palette, STANDARD_PALETTE)

    def test_letter_colours(self):
        for image in self.app + self.enabled:
            self.assertEqual(image.opaque_colours(), {RED})
        for image in self.disabled:
            self.assertEqual(image.opaque_colours(), {OLIVE})

    def test_transparent_pixels_have_index_zero(self):
        for image in self.all_images():
            for y in range(image.size):
                for x in range(image.size):
                    if image.transparent[y][x]:
                        self.assertEqual(image.indices[y][x], 0, f"pixel {x},{y}")

    def test_some_pixels_opaque_and_some_transparent(self):
        for image in self.all_images():
            opaque = len(image.opaque_positions())
            self.assertGreater(opaque, 0)
            self.assertLess(opaque, image.size * image.size)

    def test_two_rows_of_three_letters(self):
        for image in self.all_images():
            half = image.size // 2
            top = {y for _, y in image.opaque_positions() if y < half}
            bottom = {y for _, y in image.opaque_positions() if y >= half}
            self.assertTrue(top and bottom, f"{image.size}x{image.size}: a half is empty")
            self.assertEqual([len(line) for line in letter_boxes(image)], [3, 3],
                             f"{image.size}x{image.size}: not two rows of three letters")

    def test_letters_upright_and_not_mirrored(self):
        def opaque(image, x, y):
            return not image.transparent[y][x]

        def row_runs(image, box, y):
            x0, x1 = box[0], box[1]
            return len(runs([opaque(image, x, y) for x in range(x0, x1 + 1)]))

        def full_column(image, box, x):
            return all(opaque(image, x, y) for y in range(box[2], box[3] + 1))

        for image in self.all_images():
            name = f"{image.size}x{image.size}"
            lines = letter_boxes(image)
            self.assertEqual([len(line) for line in lines], [3, 3], name)
            (k, u, r), (v, _, _) = lines
            for box in (k, r):  # K and R: full stem on the left only
                self.assertTrue(full_column(image, box, box[0]), name)
                self.assertFalse(full_column(image, box, box[1]), name)
            for box in (u, v):  # U and V: open at the top, closed at the bottom
                self.assertEqual(row_runs(image, box, box[2]), 2, name)
                self.assertEqual(row_runs(image, box, box[3]), 1, name)

    def test_tray_enabled_is_the_app_image(self):
        for app, tray in zip(self.app, self.enabled):
            self.assertEqual(tray.indices, app.indices, f"{tray.size}x{tray.size}")
            self.assertEqual(tray.transparent, app.transparent, f"{tray.size}x{tray.size}")

    def test_tray_disabled_differs_only_in_colour(self):
        for enabled, disabled in zip(self.enabled, self.disabled):
            self.assertEqual(disabled.transparent, enabled.transparent)
            self.assertEqual(disabled.opaque_positions(), enabled.opaque_positions())

    def test_committed_icons_are_current(self):
        result = subprocess.run([sys.executable, str(GENERATOR), "--check"],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_check_notices_a_changed_icon(self):
        with tempfile.TemporaryDirectory() as folder:
            for name in ("kurvix.ico", "tray_enabled.ico", "tray_disabled.ico"):
                shutil.copy(RES / name, folder)
            changed = Path(folder) / "tray_disabled.ico"
            data = bytearray(changed.read_bytes())
            data[-1] ^= 0x01
            changed.write_bytes(bytes(data))
            result = subprocess.run([sys.executable, str(GENERATOR), "--check", "--dir", folder],
                                    capture_output=True, text=True)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("tray_disabled.ico", result.stderr)


if __name__ == "__main__":
    unittest.main()
