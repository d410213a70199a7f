#!/usr/bin/env python3
"""Draws the tool's small pictures: the window icon (101, 16 x 16), the hand
cursor (101, 32 x 32) and the about window's pictures (bitmap 101, 400 x 300,
its background; bitmap 102, 64 x 64, its emblem).  Run once; the outputs are
committed beside this script."""
import struct, sys, os

out = os.path.dirname(os.path.abspath(__file__))

def ico(pixels, size):
    # pixels: rows top to bottom of (r, g, b, a)
    xor = b''.join(struct.pack('<BBBB', b, g, r, a) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_row = ((size + 31) // 32) * 4
    and_mask = b''
    for row in reversed(pixels):
        bits = 0
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits |= 1 << (size - 1 - x)
        and_mask += bits.to_bytes(size // 8, 'big') + b'\0' * (mask_row - size // 8)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    image = header + xor + and_mask
    return struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(image), 22) + image

def icon16():
    px = [[(0, 0, 0, 0)] * 16 for _ in range(16)]
    for y in range(1, 15):
        for x in range(1, 15):
            edge = x in (1, 14) or y in (1, 14)
            px[y][x] = (20, 40, 90, 255) if edge else (30, 70, 150, 255)
    # a pulse line across the screen
    line = [10, 10, 10, 9, 6, 3, 8, 12, 7, 9, 10, 10]
    for i, y in enumerate(line):
        px[y][2 + i] = (90, 240, 90, 255)
        if i and abs(line[i - 1] - y) > 1:
            for yy in range(min(y, line[i - 1]), max(y, line[i - 1])):
                px[yy][2 + i] = (90, 240, 90, 255)
    return px

def cursor_hand():
    # 32 x 32 monochrome hand pointing up; hotspot at the fingertip (5, 0)
    art = [
        "     XX                         ",
        "    X..X                        ",
        "    X..X                        ",
        "    X..X                        ",
        "    X..X                        ",
        "    X..XXX                      ",
        "    X..X..XXX                   ",
        "    X..X..X..XX                 ",
        "    X..X..X..X.X                ",
        "XXX X..X..X..X..X               ",
        "X..XX........X..X               ",
        "X...X...........X               ",
        " X..............X               ",
        "  X.............X               ",
        "  X.............X               ",
        "   X...........X                ",
        "   X...........X                ",
        "    X.........X                 ",
        "    X.........X                 ",
        "    XXXXXXXXXXX                 ",
    ] + [" " * 32] * 12
    size = 32
    xor_rows, and_rows = [], []
    for row in reversed(art):
        xbits = abits = 0
        for x, ch in enumerate(row.ljust(32)):
            bit = 1 << (31 - x)
            if ch == ' ':
                abits |= bit          # transparent
            elif ch == '.':
                xbits |= bit          # white
            # 'X' black: both 0
        xor_rows.append(xbits.to_bytes(4, 'big'))
        and_rows.append(abits.to_bytes(4, 'big'))
    palette = struct.pack('<BBBB', 0, 0, 0, 0) + struct.pack('<BBBB', 255, 255, 255, 0)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 1, 0, 0, 0, 0, 2, 0)
    image = header + palette + b''.join(xor_rows) + b''.join(and_rows)
    return struct.pack('<HHH', 0, 2, 1) + struct.pack('<BBBBHHII', size, size, 2, 0, 5, 0, len(image), 22) + image

def bmp8(pixels):
    # pixels: rows top to bottom of (r, g, b); at most 256 colours; 8-bit palette
    colours = sorted({c for row in pixels for c in row})
    assert len(colours) <= 256, len(colours)
    index = {c: i for i, c in enumerate(colours)}
    height, width = len(pixels), len(pixels[0])
    stride = (width + 3) & ~3
    rows = b''.join(bytes(index[c] for c in row) + b'\0' * (stride - width) for row in reversed(pixels))
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in colours)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 8, 0, len(rows), 2835, 2835, len(colours), 0)
    offset = 14 + len(info) + len(palette)
    return struct.pack('<2sIHHI', b'BM', offset + len(rows), 0, 0, offset) + info + palette + rows

def mix(a, b, t, steps=48):
    t = round(max(0.0, min(1.0, t)) * steps) / steps   # few steps: the palette stays small
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))

def pulse(px, x0, y0, scale, colour, width, yscale=None):
    # the pulse line of the icon, drawn large
    line = [10, 10, 10, 9, 6, 3, 8, 12, 7, 9, 10, 10]
    yscale = yscale or scale
    pts = [(x0 + i * scale, y0 + (y - 10) * yscale) for i, y in enumerate(line)]
    for (xa, ya), (xb, yb) in zip(pts, pts[1:]):
        n = max(abs(xb - xa), abs(yb - ya), 1)
        for k in range(n + 1):
            x = round(xa + (xb - xa) * k / n); y = round(ya + (yb - ya) * k / n)
            for dy in range(-width, width + 1):
                for dx in range(-width, width + 1):
                    if 0 <= y + dy < len(px) and 0 <= x + dx < len(px[0]):
                        px[y + dy][x + dx] = colour

def about_background():
    w, h = 400, 300
    top, body, low = (30, 70, 150), (250, 252, 255), (222, 232, 248)
    px = [[mix(body, low, y / h) for x in range(w)] for y in range(h)]
    for y in range(0, 40):                       # title band
        for x in range(w):
            px[y][x] = mix((20, 40, 90), top, x / w)
    pulse(px, 250, 30, 12, (90, 240, 90), 1, 4)  # across the band
    for x in range(w):
        px[40][x] = (90, 240, 90)
        px[41][x] = (20, 40, 90)
    for y in range(236, 300):                    # bottom strip behind the close link
        for x in range(w):
            if y == 236:
                px[y][x] = (200, 212, 232)
    return px

def about_emblem():
    size = 64
    px = [[(250, 252, 255)] * size for _ in range(size)]
    for y in range(4, 60):                       # a screen with a frame
        for x in range(4, 60):
            edge = x < 7 or x > 56 or y < 7 or y > 56
            px[y][x] = (20, 40, 90) if edge else mix((30, 70, 150), (60, 110, 200), y / 64)
    pulse(px, 9, 34, 4, (90, 240, 90), 1)
    return px

open(os.path.join(out, 'about.bmp'), 'wb').write(bmp8(about_background()))
open(os.path.join(out, 'about_emblem.bmp'), 'wb').write(bmp8(about_emblem()))
open(os.path.join(out, 'Morvix.ico'), 'wb').write(ico(icon16(), 16))
open(os.path.join(out, 'hand.cur'), 'wb').write(cursor_hand())
