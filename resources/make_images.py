#!/usr/bin/env python3
"""Draws the tool's small pictures: the window icon (101, 16 x 16) and the hand
cursor (101, 32 x 32).  Run once; the outputs are committed beside this script."""
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

open(os.path.join(out, 'Morvix.ico'), 'wb').write(ico(icon16(), 16))
open(os.path.join(out, 'hand.cur'), 'wb').write(cursor_hand())
