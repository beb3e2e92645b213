#!/usr/bin/env python3
"""Makes app/win32/zivadiduz.ico from the program's icon app/icons/zivadiduz.png.

The first image is the picture itself at 32 x 32 in 256 colours (an 8-bit palette
bitmap with its transparency mask), the icon the window and the .exe carry; 48, 64
and 256 pixel versions follow as PNG images for today's desktops. Needs ImageMagick.
Run it again only when the picture changes: the .ico is kept in the repository.
"""
import struct
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parent / "icons" / "zivadiduz.png"
TARGET = HERE / "zivadiduz.ico"


def magick(*args):
    return subprocess.run(["convert", str(SOURCE), *args], check=True, capture_output=True).stdout


def palette_image():
    """The 32 x 32 picture as a BITMAPINFOHEADER, 256-entry palette, pixels, mask."""
    bmp = magick("-background", "none", "-type", "Palette", "-colors", "256", "-compress", "None", "BMP3:-")
    offset = struct.unpack_from("<I", bmp, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", bmp, 18)
    colours = struct.unpack_from("<I", bmp, 46)[0] or 256
    if (width, height, bits) != (32, 32, 8):
        sys.exit(f"unexpected bitmap {width}x{height}x{bits}")
    palette = bmp[54:54 + 4 * colours] + bytes(4 * (256 - colours))
    pixels = bmp[offset:offset + 32 * 32]  # rows bottom-up, 32 bytes each
    alpha = magick("-alpha", "extract", "-depth", "8", "gray:-")  # rows top-down
    mask = bytearray()
    for row in range(31, -1, -1):  # bottom-up like the pixels; 1 = transparent
        bits_row = 0
        for column in range(32):
            if alpha[row * 32 + column] < 128:
                bits_row |= 1 << (31 - column)
        mask += struct.pack(">I", bits_row)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 8, 0, len(pixels) + len(mask), 0, 0, 256, 0)
    return header + palette + pixels + bytes(mask)


def png_image(size):
    return magick("-filter", "Lanczos", "-resize", f"{size}x{size}", "PNG32:-")


def main():
    images = [(32, 8, palette_image())] + [(s, 32, png_image(s)) for s in (48, 64, 256)]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        colours = 0 if bits > 8 else 1 << bits
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours % 256, 0, 1, bits,
                           len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    TARGET.write_bytes(out)


if __name__ == "__main__":
    main()
