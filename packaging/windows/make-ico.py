#!/usr/bin/python3
"""Makes a Windows icon file with one picture per size from an SVG.

    make-ico.py ARTWORK.svg OUT.ico SIZE...

Each size is drawn from the SVG by rsvg-convert (so a 16-pixel picture is
drawn at 16 pixels, not scaled down from a big one) and stored as PNG,
which Windows reads in icons of every size since Vista. rsvg-convert's PNG
files carry no time stamp, so the same SVG gives the same icon file.
"""
import struct
import subprocess
import sys


def png_size(png):
    if png[:8] != b"\x89PNG\r\n\x1a\n" or png[12:16] != b"IHDR":
        raise ValueError("rsvg-convert gave no PNG")
    return struct.unpack(">II", png[16:24])


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__.strip())
    svg, out, sizes = sys.argv[1], sys.argv[2], [int(s) for s in sys.argv[3:]]
    pictures = []
    for size in sizes:
        if not 1 <= size <= 256:
            sys.exit(f"make-ico: a Windows icon holds sizes from 1 to 256, not {size}")
        png = subprocess.run(["rsvg-convert", "--width", str(size), "--height", str(size), svg],
                             check=True, stdout=subprocess.PIPE).stdout
        if png_size(png) != (size, size):
            sys.exit(f"make-ico: {svg} is not square: drawn at {size} it gave {png_size(png)}")
        pictures.append((size, png))
    # The icon directory, one 16-byte entry per picture (a size of 256 is
    # written as 0), then the pictures.
    data = struct.pack("<HHH", 0, 1, len(pictures))
    offset = len(data) + 16 * len(pictures)
    for size, png in pictures:
        side = 0 if size == 256 else size
        data += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(png), offset)
        offset += len(png)
    data += b"".join(png for _, png in pictures)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
