#!/usr/bin/env python3
"""Draws the 32x32, 24-bit application icon of the settings program.

The image is computed, not drawn by hand: a plum-coloured sphere lit from the
upper left, with a leaf, on a night-blue ground. Run it to rewrite quenset.png
(standard library only)."""
import math
import struct
import sys
import zlib

SIZE = 32


def clamp(v):
    return max(0, min(255, int(round(v))))


def pixel(x, y):
    # Sample at the pixel centre; 4x4 supersampling smooths the edges.
    acc = [0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            c = sample(x + (sx + 0.5) / 4, y + (sy + 0.5) / 4)
            for i in range(3):
                acc[i] += c[i]
    return tuple(clamp(a / 16) for a in acc)


def sample(px, py):
    # Ground: night blue, lighter towards the bottom.
    t = py / SIZE
    ground = (12 + 18 * t, 16 + 22 * t, 48 + 40 * t)

    # Leaf: an ellipse tilted up and to the right, above the sphere.
    lx, ly = px - 20.5, py - 6.0
    ca, sa = math.cos(-0.6), math.sin(-0.6)
    u, v = lx * ca - ly * sa, lx * sa + ly * ca
    if (u / 6.0) ** 2 + (v / 2.4) ** 2 <= 1.0:
        shade = 0.75 + 0.25 * (1 - abs(v) / 2.4)
        return (60 * shade, 170 * shade, 70 * shade)

    # Stem.
    if 15.0 <= px <= 17.0 and 4.0 <= py <= 9.5:
        return (110, 80, 40)

    # Sphere with diffuse and specular light from the upper left.
    cx, cy, r = 16.0, 18.5, 12.0
    dx, dy = (px - cx) / r, (py - cy) / r
    d2 = dx * dx + dy * dy
    if d2 > 1.0:
        return ground
    dz = math.sqrt(1.0 - d2)
    lxv, lyv, lzv = -0.5, -0.6, 0.62
    n = math.sqrt(lxv * lxv + lyv * lyv + lzv * lzv)
    lxv, lyv, lzv = lxv / n, lyv / n, lzv / n
    diffuse = max(0.0, dx * lxv + dy * lyv + dz * lzv)
    # Reflection of the light about the normal, seen along +z.
    rz = 2 * diffuse * dz - lzv
    highlight = max(0.0, rz) ** 24
    base = (142, 52, 118)
    ambient = 0.25
    k = ambient + (1 - ambient) * diffuse
    return tuple(base[i] * k + 255 * highlight * 0.9 for i in range(3))


def png(width, height, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + bytes(v for p in row for v in p) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "quenset.png"
    rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]
    with open(out, "wb") as f:
        f.write(png(SIZE, SIZE, rows))


if __name__ == "__main__":
    main()
