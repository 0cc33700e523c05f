#!/usr/bin/env python3
"""Draws the program's pictures and writes them as PNG files beside this script.

    python3 src/ui/images/make_images.py

Only the standard library is used: each shape is an inside-test, every pixel is
sampled 4 x 4 times for smooth edges, and the PNG is written with zlib.
"""

import math
import os
import struct
import zlib

SUBSAMPLES = 4


# --- shapes: each is a function (x, y) -> inside? -------------------------------------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def rounded_rect(left, top, right, bottom, radius):
    def inside(x, y):
        if x < left or x > right or y < top or y > bottom:
            return False
        nx = min(max(x, left + radius), right - radius)
        ny = min(max(y, top + radius), bottom - radius)
        return (x - nx) ** 2 + (y - ny) ** 2 <= radius * radius
    return inside


def segment(x1, y1, x2, y2, width):
    """A straight line with round ends."""
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy
    half = width / 2.0

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        px, py = x1 + t * dx, y1 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= half * half
    return inside


# --- colours ---------------------------------------------------------------------------------

def rgb(hex_text):
    value = int(hex_text.lstrip("#"), 16)
    return ((value >> 16) & 255, (value >> 8) & 255, value & 255)


def vertical_gradient(top_colour, bottom_colour, height):
    a, b = rgb(top_colour), rgb(bottom_colour)

    def colour(_x, y):
        t = max(0.0, min(1.0, y / float(height)))
        return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))
    return colour


def solid(hex_text):
    c = rgb(hex_text)
    return lambda _x, _y: c


# --- canvas ----------------------------------------------------------------------------------

class Canvas:
    def __init__(self, width, height, background=None):
        self.width = width
        self.height = height
        # premultiplied-free RGBA floats, 0..255 and 0..1
        self.pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]
        if background is not None:
            self.fill(lambda x, y: True, background)

    def fill(self, shape, colour, opacity=1.0):
        step = 1.0 / SUBSAMPLES
        offsets = [(i + 0.5) * step for i in range(SUBSAMPLES)]
        total = float(SUBSAMPLES * SUBSAMPLES)
        for y in range(self.height):
            row = self.pixels[y]
            for x in range(self.width):
                hits = 0
                for oy in offsets:
                    for ox in offsets:
                        if shape(x + ox, y + oy):
                            hits += 1
                if not hits:
                    continue
                alpha = opacity * hits / total
                r, g, b = colour(x + 0.5, y + 0.5)
                dr, dg, db, da = row[x]
                out_a = alpha + da * (1.0 - alpha)
                if out_a <= 0.0:
                    continue

                def mix(src, dst):
                    return (src * alpha + dst * da * (1.0 - alpha)) / out_a
                row[x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def write_png(self, path, with_alpha):
        raw = bytearray()
        for row in self.pixels:
            raw.append(0)  # no filter
            for r, g, b, a in row:
                raw += bytes((round(r), round(g), round(b)))
                if with_alpha:
                    raw.append(round(a * 255))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        colour_type = 6 if with_alpha else 2
        header = struct.pack(">IIBBBBB", self.width, self.height, 8, colour_type, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", header))
            out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
            out.write(chunk(b"IEND", b""))


# --- the pictures ----------------------------------------------------------------------------

WHITE = "#ffffff"
LINK = "#cfe3f5"
GREEN = "#3ccf62"
AMBER = "#ffb428"


def network(canvas, hub, nodes, hub_radius, node_radius, line_width):
    for node in nodes:
        canvas.fill(segment(hub[0], hub[1], node[0], node[1], line_width), solid(LINK))
    for node in nodes:
        canvas.fill(circle(node[0], node[1], node_radius), solid(WHITE))
        canvas.fill(circle(node[0], node[1], node_radius * 0.45), solid(GREEN))
    canvas.fill(circle(hub[0], hub[1], hub_radius), solid(WHITE))
    canvas.fill(circle(hub[0], hub[1], hub_radius * 0.45), solid("#2e75b6"))


def splash_picture():
    """195 x 75: the interface device on its cable, serving a small network."""
    c = Canvas(195, 75, vertical_gradient("#1d4a74", "#2f78b8", 75))
    # device body with its display and two lamps
    c.fill(rounded_rect(12, 20, 76, 56, 7), solid("#0f2f4d"), 0.35)  # shadow
    c.fill(rounded_rect(10, 18, 74, 54, 7), solid("#eef3f8"))
    c.fill(rounded_rect(17, 25, 67, 37, 2.5), solid("#b9cde0"))
    c.fill(circle(23, 46, 3.2), solid(GREEN))
    c.fill(circle(33, 46, 3.2), solid(AMBER))
    for i in range(4):
        c.fill(rounded_rect(46 + i * 5, 43, 48.5 + i * 5, 49, 1), solid("#9fb3c8"))
    # plug and cable
    c.fill(rounded_rect(74, 31, 84, 41, 1.5), solid("#aebccb"))
    c.fill(segment(84, 36, 110, 36, 3.2), solid(WHITE))
    network(c, (121, 36), [(152, 12), (179, 29), (172, 58), (138, 64)], 10, 7, 2.4)
    return c


def traffic_light(lit):
    """24 x 48 button picture: a two-lamp signal, green lit for start, red lit for stop."""
    c = Canvas(24, 48)
    c.fill(rounded_rect(3, 1, 21, 47, 6), solid("#263238"))
    c.fill(rounded_rect(4, 2, 20, 46, 5), solid("#37474f"))
    red = "#f0443a" if lit == "red" else "#5a2d2f"
    green = "#35d05c" if lit == "green" else "#234a31"
    c.fill(circle(12, 13.5, 6.2), solid(red))
    c.fill(circle(12, 34.5, 6.2), solid(green))
    # a soft gleam on the lit lamp
    gleam_y = 13.5 if lit == "red" else 34.5
    c.fill(circle(10, gleam_y - 2, 2.2), solid(WHITE), 0.55)
    return c


def window_icon(size):
    """The window icon: the network of the splash picture on a blue tile."""
    s = size / 64.0
    c = Canvas(size, size)
    c.fill(rounded_rect(2 * s, 2 * s, 62 * s, 62 * s, 12 * s),
           vertical_gradient("#1d4a74", "#2f78b8", size))
    hub = (28 * s, 36 * s)
    nodes = [(50 * s, 15 * s), (52 * s, 40 * s), (32 * s, 55 * s), (11 * s, 17 * s)]
    network(c, hub, nodes, 9 * s, 6.5 * s, max(1.5, 3 * s))
    return c


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    splash_picture().write_png(os.path.join(here, "splash.png"), with_alpha=False)
    traffic_light("green").write_png(os.path.join(here, "start.png"), with_alpha=True)
    traffic_light("red").write_png(os.path.join(here, "stop.png"), with_alpha=True)
    for size in (16, 32, 64):
        window_icon(size).write_png(os.path.join(here, "icon-%d.png" % size), with_alpha=True)


if __name__ == "__main__":
    main()
