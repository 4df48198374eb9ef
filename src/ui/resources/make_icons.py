#!/usr/bin/env python3
"""Draws the program's icons as PNG files (standard library only).

    /usr/bin/python3 src/ui/resources/make_icons.py

MainIcon  Brevanta: a recording point on the left joined by a route line to a
          playback point with sound waves on the right.
TrayIcon  the Quennick suite frame: a ring with a tail on an indigo tile.

Device pictures of the mixer panels (transparent background, PICTURE_SIZES):
MMStereoMix  what a playback device plays, recorded: a mixing desk with three faders.
MMSpeaker    a loudspeaker with sound waves.
MMDigital    a digital connection: a square-wave signal on a dark plate.
MMMic        a microphone on its stand.
MMLineIn     a line cable: a jack plug with its cable.

Shapes are drawn as signed distance fields with one pixel of anti-aliasing, so each
size is sharp without supersampling. The PNG files are committed; run this script
again only after changing a drawing.
"""
import math
import os
import struct
import zlib

SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
HERE = os.path.dirname(os.path.abspath(__file__))


def clamp(x, lo=0.0, hi=1.0):
    return lo if x < lo else hi if x > hi else x


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(len(a)))


def sd_round_box(px, py, cx, cy, hw, hh, r):
    qx = abs(px - cx) - hw + r
    qy = abs(py - cy) - hh + r
    out = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return out + min(max(qx, qy), 0.0) - r


def sd_circle(px, py, cx, cy, r):
    return math.hypot(px - cx, py - cy) - r


def sd_segment(px, py, ax, ay, bx, by, r):
    dx, dy = bx - ax, by - ay
    t = clamp(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - dx * t, py - ay - dy * t) - r


def sd_arc(px, py, cx, cy, radius, half_angle, width):
    """A ring piece around angle 0 (pointing right), with round ends."""
    ang = math.atan2(py - cy, px - cx)
    if abs(ang) <= half_angle:
        return abs(math.hypot(px - cx, py - cy) - radius) - width
    ex = cx + radius * math.cos(half_angle)
    ey = cy + radius * math.sin(half_angle) * (1 if ang > 0 else -1)
    return math.hypot(px - ex, py - ey) - width


def sd_convex(px, py, pts):
    """A convex polygon given clockwise in screen coordinates (y down)."""
    d = -1e9
    for (ax, ay), (bx, by) in zip(pts, pts[1:] + pts[:1]):
        ex, ey = bx - ax, by - ay
        ln = math.hypot(ex, ey)
        # Outward normal of a clockwise edge with y pointing down.
        d = max(d, ((px - ax) * -ey + (py - ay) * ex) / ln * -1)
    return d


def bezier_points(p0, p1, p2, p3, n=32):
    pts = []
    for i in range(n + 1):
        t = i / n
        u = 1 - t
        x = u ** 3 * p0[0] + 3 * u * u * t * p1[0] + 3 * u * t * t * p2[0] + t ** 3 * p3[0]
        y = u ** 3 * p0[1] + 3 * u * u * t * p1[1] + 3 * u * t * t * p2[1] + t ** 3 * p3[1]
        pts.append((x, y))
    return pts


def sd_polyline(px, py, pts, r):
    d = 1e9
    for (ax, ay), (bx, by) in zip(pts, pts[1:]):
        d = min(d, sd_segment(px, py, ax, ay, bx, by, r))
    return d


class Canvas:
    def __init__(self, size):
        self.n = size
        self.px = [[(0.0, 0.0, 0.0, 0.0)] * size for _ in range(size)]

    def fill(self, sdf, color):
        """Paints the area where sdf(x, y) < 0; x and y run from 0 to 1 over the icon.
        color is (r, g, b, a) or a function of (x, y) giving one."""
        n = self.n
        aa = 1.0 / n  # one pixel
        for j in range(n):
            y = (j + 0.5) / n
            row = self.px[j]
            for i in range(n):
                x = (i + 0.5) / n
                d = sdf(x, y)
                if d > aa:
                    continue
                cov = clamp(0.5 - d / aa)
                c = color(x, y) if callable(color) else color
                a = c[3] * cov
                r0, g0, b0, a0 = row[i]
                na = a + a0 * (1 - a)
                if na <= 0:
                    continue
                row[i] = (
                    (c[0] * a + r0 * a0 * (1 - a)) / na,
                    (c[1] * a + g0 * a0 * (1 - a)) / na,
                    (c[2] * a + b0 * a0 * (1 - a)) / na,
                    na,
                )

    def save(self, path):
        raw = bytearray()
        for row in self.px:
            raw.append(0)
            for r, g, b, a in row:
                raw += bytes((int(round(clamp(r) * 255)), int(round(clamp(g) * 255)),
                              int(round(clamp(b) * 255)), int(round(clamp(a) * 255))))

        def chunk(tag, data):
            body = tag + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

        png = b"\x89PNG\r\n\x1a\n"
        png += chunk(b"IHDR", struct.pack(">IIBBBBB", self.n, self.n, 8, 6, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
        png += chunk(b"IEND", b"")
        with open(path, "wb") as f:
            f.write(png)


def rgb(h, a=1.0):
    return (int(h[0:2], 16) / 255, int(h[2:4], 16) / 255, int(h[4:6], 16) / 255, a)


def tile(c, top, bottom, small):
    # Small sizes use the whole square so the drawing stays readable.
    m = 0.02 if small else 0.06
    r = 0.16 if small else 0.2
    grad = lambda x, y: mix(rgb(top), rgb(bottom), clamp((y - m) / (1 - 2 * m)))
    c.fill(lambda x, y: sd_round_box(x, y, 0.5, 0.5, 0.5 - m, 0.5 - m, r), grad)
    # A soft highlight on the upper half.
    c.fill(lambda x, y: max(sd_round_box(x, y, 0.5, 0.5, 0.5 - m, 0.5 - m, r), y - 0.5),
           (1, 1, 1, 0.08))


def main_icon(size):
    c = Canvas(size)
    small = size <= 24
    tile(c, "17a2b8", "0b4f8a", small)
    w = 0.045 if not small else 0.07
    # The route line from the recording point to the playback point.
    pts = bezier_points((0.25, 0.68), (0.44, 0.68), (0.36, 0.38), (0.55, 0.38))
    c.fill(lambda x, y: sd_polyline(x, y, pts, w), rgb("ffb020"))
    # Recording point (left) and playback point (right).
    c.fill(lambda x, y: sd_circle(x, y, 0.25, 0.68, 0.11 if not small else 0.13), rgb("ffffff"))
    c.fill(lambda x, y: sd_circle(x, y, 0.25, 0.68, 0.05 if not small else 0.055), rgb("0b4f8a"))
    c.fill(lambda x, y: sd_circle(x, y, 0.55, 0.38, 0.10 if not small else 0.12), rgb("ffffff"))
    # Sound waves leaving the playback point.
    ww = 0.032 if not small else 0.05
    c.fill(lambda x, y: sd_arc(x, y, 0.55, 0.38, 0.18, 0.75, ww), rgb("ffffff", 0.95))
    if not small:
        c.fill(lambda x, y: sd_arc(x, y, 0.55, 0.38, 0.27, 0.75, ww), rgb("ffffff", 0.7))
    return c


def tray_icon(size):
    c = Canvas(size)
    small = size <= 24
    tile(c, "6c5ce7", "2d1f7a", small)
    ring_r, ring_w = 0.25, (0.07 if not small else 0.095)
    c.fill(lambda x, y: abs(sd_circle(x, y, 0.47, 0.46, ring_r)) - ring_w, rgb("ffffff"))
    c.fill(lambda x, y: sd_segment(x, y, 0.56, 0.58, 0.76, 0.78, ring_w * 0.95), rgb("ffd166"))
    return c


PICTURE_SIZES = (51, 64, 128)


def shade(top, bottom, y0, y1):
    return lambda x, y: mix(rgb(top), rgb(bottom), clamp((y - y0) / (y1 - y0)))


def stereo_mix_picture(size):
    c = Canvas(size)
    # The desk.
    c.fill(lambda x, y: sd_round_box(x, y, 0.5, 0.54, 0.44, 0.36, 0.08),
           shade("5b6b7f", "2c3543", 0.18, 0.9))
    c.fill(lambda x, y: abs(sd_round_box(x, y, 0.5, 0.54, 0.44, 0.36, 0.08)) - 0.012,
           rgb("1c232d"))
    # Three fader tracks with their knobs at different heights.
    for cx, knob, col in ((0.3, 0.66, "ffb020"), (0.5, 0.42, "38d39f"), (0.7, 0.56, "4aa3ff")):
        c.fill(lambda x, y, cx=cx: sd_round_box(x, y, cx, 0.54, 0.018, 0.27, 0.018), rgb("10151b"))
        c.fill(lambda x, y, cx=cx, k=knob: sd_round_box(x, y, cx, k, 0.075, 0.045, 0.02),
               rgb(col))
        c.fill(lambda x, y, cx=cx, k=knob: sd_segment(x, y, cx - 0.05, k, cx + 0.05, k, 0.006),
               rgb("ffffff", 0.8))
    # Two small level lamps for the stereo pair.
    c.fill(lambda x, y: sd_circle(x, y, 0.4, 0.12, 0.05), rgb("38d39f"))
    c.fill(lambda x, y: sd_circle(x, y, 0.6, 0.12, 0.05), rgb("38d39f"))
    return c


def speaker_picture(size):
    c = Canvas(size)
    # Magnet box and cone.
    c.fill(lambda x, y: sd_round_box(x, y, 0.2, 0.5, 0.1, 0.14, 0.03), shade("6d7a8a", "343d49", 0.36, 0.64))
    cone = [(0.28, 0.38), (0.56, 0.14), (0.56, 0.86), (0.28, 0.62)]
    c.fill(lambda x, y: sd_convex(x, y, cone) - 0.015, shade("4aa3ff", "1d5fa8", 0.14, 0.86))
    c.fill(lambda x, y: abs(sd_convex(x, y, cone) - 0.015) - 0.012, rgb("123a66"))
    # Sound waves.
    for r, a in ((0.16, 1.0), (0.26, 0.85), (0.36, 0.65)):
        c.fill(lambda x, y, r=r: sd_arc(x, y, 0.56, 0.5, r, 0.7, 0.03), rgb("ffb020", a))
    return c


def digital_picture(size):
    c = Canvas(size)
    c.fill(lambda x, y: sd_round_box(x, y, 0.5, 0.5, 0.44, 0.34, 0.08), shade("2c3543", "10151b", 0.16, 0.84))
    c.fill(lambda x, y: abs(sd_round_box(x, y, 0.5, 0.5, 0.44, 0.34, 0.08)) - 0.012, rgb("5b6b7f"))
    # A square wave: the bits on the wire.
    lo, hi = 0.64, 0.36
    pts = [(0.12, lo), (0.24, lo), (0.24, hi), (0.38, hi), (0.38, lo), (0.48, lo), (0.48, hi),
           (0.56, hi), (0.56, lo), (0.72, lo), (0.72, hi), (0.88, hi)]
    c.fill(lambda x, y: sd_polyline(x, y, pts, 0.032), rgb("38d39f"))
    return c


def mic_picture(size):
    c = Canvas(size)
    # Holder, stand and foot.
    c.fill(lambda x, y: max(abs(sd_circle(x, y, 0.5, 0.38, 0.22)) - 0.028, 0.4 - y),
           rgb("5b6b7f"))
    c.fill(lambda x, y: sd_segment(x, y, 0.5, 0.6, 0.5, 0.82, 0.03), rgb("5b6b7f"))
    c.fill(lambda x, y: sd_round_box(x, y, 0.5, 0.86, 0.2, 0.035, 0.03), rgb("343d49"))
    # The capsule with its grille.
    c.fill(lambda x, y: sd_round_box(x, y, 0.5, 0.32, 0.13, 0.25, 0.13), shade("9aa7b6", "4a5666", 0.07, 0.57))
    for gy in (0.2, 0.28, 0.36):
        c.fill(lambda x, y, gy=gy: sd_segment(x, y, 0.42, gy, 0.58, gy, 0.012), rgb("2c3543", 0.8))
    c.fill(lambda x, y: sd_circle(x, y, 0.5, 0.48, 0.025), rgb("ff5a5f"))
    return c


def line_in_picture(size):
    c = Canvas(size)
    # The cable, leaving to the lower left.
    pts = bezier_points((0.42, 0.6), (0.3, 0.72), (0.3, 0.9), (0.08, 0.92))
    c.fill(lambda x, y: sd_polyline(x, y, pts, 0.04), rgb("343d49"))
    # Plug body and the tip with its rings, pointing to the upper right.
    ang = -math.pi / 4
    ca, sa = math.cos(ang), math.sin(ang)

    def along(x, y, ox, oy):
        # Coordinates along the plug's axis from (ox, oy).
        dx, dy = x - ox, y - oy
        return dx * ca + dy * sa, -dx * sa + dy * ca

    def part(t0, t1, half, r=0.02):
        def sdf(x, y):
            u, v = along(x, y, 0.42, 0.6)
            return sd_round_box(u, v, (t0 + t1) / 2, 0, (t1 - t0) / 2, half, r)
        return sdf

    c.fill(part(0.0, 0.26, 0.09, 0.04), shade("ffb020", "c97a00", 0.3, 0.7))
    c.fill(part(0.26, 0.5, 0.045, 0.01), rgb("c9d1da"))
    c.fill(part(0.34, 0.36, 0.05, 0.0), rgb("343d49"))
    c.fill(part(0.42, 0.44, 0.05, 0.0), rgb("343d49"))
    c.fill(part(0.5, 0.56, 0.035, 0.03), rgb("c9d1da"))
    return c


def main():
    out = os.path.join(HERE, "icons")
    os.makedirs(out, exist_ok=True)
    for name, draw in (("MainIcon", main_icon), ("TrayIcon", tray_icon)):
        for size in SIZES:
            draw(size).save(os.path.join(out, "%s-%d.png" % (name, size)))
    for name, draw in (("MMStereoMix", stereo_mix_picture), ("MMSpeaker", speaker_picture),
                       ("MMDigital", digital_picture), ("MMMic", mic_picture),
                       ("MMLineIn", line_in_picture)):
        for size in PICTURE_SIZES:
            draw(size).save(os.path.join(out, "%s-%d.png" % (name, size)))


if __name__ == "__main__":
    main()
