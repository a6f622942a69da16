#!/usr/bin/env python3
"""Draws the 16x16 results table icons into resources/icons/.

Pure Python (zlib only) so the icons can be redrawn anywhere:
    python3 scripts/make_icons.py
Shapes are rendered at 8x8 samples per pixel, then averaged, for smooth edges.
"""
import math
import os
import struct
import zlib

SIZE = 16
SS = 8  # samples per pixel along each axis


def rgb(hexcolour, alpha=255):
    h = hexcolour.lstrip("#")
    return (int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16), alpha)


class Canvas:
    def __init__(self):
        n = SIZE * SS
        # Straight-alpha RGBA floats per sample, transparent to start.
        self.px = [[(0.0, 0.0, 0.0, 0.0) for _ in range(n)] for _ in range(n)]

    def _blend(self, x, y, colour):
        r, g, b, a = colour
        a /= 255.0
        dr, dg, db, da = self.px[y][x]
        out_a = a + da * (1 - a)
        if out_a == 0:
            return
        mix = lambda s, d: (s * a + d * da * (1 - a)) / out_a
        self.px[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def fill(self, inside, colour, box=(0, 0, SIZE, SIZE)):
        x0, y0, x1, y1 = box
        for sy in range(max(0, int(y0 * SS)), min(SIZE * SS, int(math.ceil(y1 * SS)))):
            fy = (sy + 0.5) / SS
            for sx in range(max(0, int(x0 * SS)), min(SIZE * SS, int(math.ceil(x1 * SS)))):
                fx = (sx + 0.5) / SS
                if inside(fx, fy):
                    self._blend(sx, sy, colour)

    def clear(self, inside):
        for sy in range(SIZE * SS):
            for sx in range(SIZE * SS):
                if inside((sx + 0.5) / SS, (sy + 0.5) / SS):
                    self.px[sy][sx] = (0.0, 0.0, 0.0, 0.0)

    def rect(self, x0, y0, x1, y1, colour, radius=0.0):
        def inside(x, y):
            if not (x0 <= x <= x1 and y0 <= y <= y1):
                return False
            if radius <= 0:
                return True
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

        self.fill(inside, colour, (x0, y0, x1, y1))

    def circle(self, cx, cy, r, colour):
        self.fill(lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r, colour, (cx - r, cy - r, cx + r, cy + r))

    def ring(self, cx, cy, r_out, r_in, colour):
        def inside(x, y):
            d = (x - cx) ** 2 + (y - cy) ** 2
            return r_in * r_in <= d <= r_out * r_out

        self.fill(inside, colour, (cx - r_out, cy - r_out, cx + r_out, cy + r_out))

    def polygon(self, points, colour):
        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit

        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.fill(inside, colour, (min(xs), min(ys), max(xs), max(ys)))

    def line(self, ax, ay, bx, by, width, colour):
        dx, dy = bx - ax, by - ay
        length = math.hypot(dx, dy)
        nx, ny = -dy / length * width / 2, dx / length * width / 2
        self.polygon([(ax + nx, ay + ny), (bx + nx, by + ny), (bx - nx, by - ny), (ax - nx, ay - ny)], colour)

    def pixels(self):
        rows = []
        for py in range(SIZE):
            row = bytearray()
            for px in range(SIZE):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(py * SS, py * SS + SS):
                    for sx in range(px * SS, px * SS + SS):
                        r, g, b, a = self.px[sy][sx]
                        acc[0] += r * a
                        acc[1] += g * a
                        acc[2] += b * a
                        acc[3] += a
                if acc[3] > 0:
                    colour = [round(c / acc[3]) for c in acc[:3]]
                else:
                    colour = [0, 0, 0]
                alpha = round(acc[3] / (SS * SS) * 255)
                row += bytes(colour + [alpha])
            rows.append(bytes(row))
        return rows


def write_png(path, rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def maths(c):
    # A calculator: body, display and a grid of keys.
    c.rect(2.5, 0.5, 13.5, 15.5, rgb("#37474F"), 1.5)
    c.rect(4, 2, 12, 5.5, rgb("#C5E1A5"), 0.5)
    for row in range(3):
        for col in range(3):
            colour = rgb("#FF9800") if col == 2 else rgb("#ECEFF1")
            x = 4 + col * 2.9
            y = 7 + row * 2.9
            c.rect(x, y, x + 2.1, y + 2.1, colour, 0.4)


def memory(c):
    # A memory module: board, chips, gold contacts and the key notch.
    c.rect(0.5, 3.5, 15.5, 12.5, rgb("#2E7D32"), 0.5)
    for i in range(4):
        x = 1.5 + i * 3.5
        c.rect(x, 5, x + 2.8, 9.5, rgb("#212121"), 0.3)
    for i in range(7):
        x = 1.5 + i * 2.0
        c.rect(x, 10.5, x + 1.1, 12.5, rgb("#FFC107"))
    c.clear(lambda x, y: 7.2 <= x <= 8.8 and y >= 11.0)


def disk(c):
    # A hard disk seen from above: case, platter, head arm and activity light.
    c.rect(1.5, 0.5, 14.5, 15.5, rgb("#607D8B"), 1.2)
    c.circle(8, 7, 5.5, rgb("#CFD8DC"))
    c.ring(8, 7, 5.5, 4.8, rgb("#90A4AE"))
    c.circle(8, 7, 1.3, rgb("#455A64"))
    c.line(12.8, 13.2, 9.4, 8.6, 1.3, rgb("#263238"))
    c.circle(12.8, 13.2, 1.1, rgb("#263238"))
    c.circle(3.6, 13.6, 0.9, rgb("#76FF03"))


def network(c):
    # Three connected machines.
    nodes = [(8, 3.2), (3.2, 12.5), (12.8, 12.5)]
    for i in range(3):
        a, b = nodes[i], nodes[(i + 1) % 3]
        c.line(a[0], a[1], b[0], b[1], 1.4, rgb("#0D47A1"))
    for x, y in nodes:
        c.circle(x, y, 2.7, rgb("#0D47A1"))
        c.circle(x, y, 1.9, rgb("#42A5F5"))


def cddvd(c):
    # A disc with its shine and centre hole.
    c.circle(8, 8, 7.4, rgb("#90A4AE"))
    c.circle(8, 8, 6.8, rgb("#E0E0E0"))
    c.polygon([(8, 8), (2.0, 3.5), (4.5, 1.6)], rgb("#81D4FA", 200))
    c.polygon([(8, 8), (14.0, 12.5), (11.5, 14.4)], rgb("#CE93D8", 200))
    c.circle(8, 8, 2.6, rgb("#B0BEC5"))
    c.clear(lambda x, y: (x - 8) ** 2 + (y - 8) ** 2 <= 1.2 ** 2)


def connector(c, shell, face, top_pins, bottom_pins, pin_r):
    # A D-sub connector face: a trapezoid shell with two rows of pins.
    c.polygon([(0.5, 3.5), (15.5, 3.5), (13.2, 12.5), (2.8, 12.5)], rgb(shell))
    c.polygon([(1.8, 4.7), (14.2, 4.7), (12.3, 11.3), (3.7, 11.3)], rgb(face))
    for row, count, y in ((0, top_pins, 6.6), (1, bottom_pins, 9.4)):
        span = 10.0 if row == 0 else 8.2
        step = span / (count - 1)
        x0 = 8 - span / 2
        for i in range(count):
            c.circle(x0 + i * step, y, pin_r, rgb("#FFD54F"))


def serial(c):
    connector(c, "#455A64", "#263238", 5, 4, 0.85)


def parallel(c):
    connector(c, "#6A1B9A", "#311B92", 8, 7, 0.55)


def twod(c):
    # Flat shapes: a square overlapped by a circle.
    c.rect(1, 1, 10, 10, rgb("#E53935"))
    c.circle(10.2, 10.2, 5.3, rgb("#1E88E5", 225))


def threed(c):
    # A shaded cube.
    top = [(8, 1), (14.5, 4.5), (8, 8), (1.5, 4.5)]
    left = [(1.5, 4.5), (8, 8), (8, 15.5), (1.5, 12)]
    right = [(8, 8), (14.5, 4.5), (14.5, 12), (8, 15.5)]
    c.polygon(top, rgb("#BBDEFB"))
    c.polygon(left, rgb("#42A5F5"))
    c.polygon(right, rgb("#1565C0"))


ICONS = {
    "maths": maths,
    "memory": memory,
    "disk": disk,
    "network": network,
    "cddvd": cddvd,
    "serial": serial,
    "parallel": parallel,
    "2d": twod,
    "3d": threed,
}


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in ICONS.items():
        c = Canvas()
        draw(c)
        write_png(os.path.join(out, name + ".png"), c.pixels())


if __name__ == "__main__":
    main()
