#!/usr/bin/env python3
"""Draws DeviceIcon.icns, the icon the audio server shows for the two devices.

A rounded square in a blue-to-teal gradient with five white level bars. Pure
standard library (zlib for PNG), so it runs anywhere; the .icns file holds PNG
images at 128, 256 and 512 pixels ('ic07', 'ic08', 'ic09').

    python3 make_icon.py [OUTPUT]      (default: DeviceIcon.icns next to this file)
"""
import os
import struct
import sys
import zlib

TOP = (0x3D, 0x5A, 0xFE)
BOTTOM = (0x00, 0xBF, 0xA5)
BARS = [0.38, 0.62, 0.86, 0.62, 0.38]  # heights as a share of the drawing area
SAMPLES = 4  # per axis, for anti-aliasing


def inside_rounded_rect(x, y, x0, y0, x1, y1, radius):
    cx = min(max(x, x0 + radius), x1 - radius)
    cy = min(max(y, y0 + radius), y1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and x0 <= x <= x1 and y0 <= y <= y1


def coverage(shape, px, py, size):
    hits = 0
    for sy in range(SAMPLES):
        for sx in range(SAMPLES):
            if shape((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size):
                hits += 1
    return hits / (SAMPLES * SAMPLES)


def background(x, y):
    return inside_rounded_rect(x, y, 0.06, 0.06, 0.94, 0.94, 0.2)


def bars(x, y):
    width, gap = 0.09, 0.045
    left = 0.5 - (len(BARS) * width + (len(BARS) - 1) * gap) / 2
    for i, height in enumerate(BARS):
        x0 = left + i * (width + gap)
        if inside_rounded_rect(x, y, x0, 0.5 - height / 2, x0 + width, 0.5 + height / 2, width / 2):
            return True
    return False


def render(size):
    rows = []
    for py in range(size):
        t = py / (size - 1)
        base = [round(a + (b - a) * t) for a, b in zip(TOP, BOTTOM)]
        row = bytearray([0])  # PNG filter: none
        for px in range(size):
            alpha = coverage(background, px, py, size)
            white = coverage(bars, px, py, size) if alpha > 0 else 0.0
            colour = [round(c + (255 - c) * white) for c in base]
            row += bytes(colour + [round(alpha * 255)])
        rows.append(bytes(row))
    return png(size, b"".join(rows))


def png(size, raw):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icns(images):
    body = b"".join(kind + struct.pack(">I", len(data) + 8) + data for kind, data in images)
    return b"icns" + struct.pack(">I", len(body) + 8) + body


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "DeviceIcon.icns")
    images = [(b"ic07", render(128)), (b"ic08", render(256)), (b"ic09", render(512))]
    with open(output, "wb") as f:
        f.write(icns(images))


if __name__ == "__main__":
    main()
