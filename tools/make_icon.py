#!/usr/bin/env python3
"""Draws Koemado's program icon: a 32 x 32, 256-colour (8 bits per pixel) .ico.

A round speech bubble in deep blue with a white mouth-shaped sound wave, on a transparent
background. Run: python3 tools/make_icon.py src/Koemado.ico
"""
import math
import struct
import sys

W = H = 32
palette = [(0, 0, 0)] * 256
palette[1] = (255, 255, 255)   # white
palette[2] = (0x1F, 0x4E, 0xA8)  # bubble blue
palette[3] = (0x12, 0x2E, 0x66)  # outline
palette[4] = (0xFF, 0xC8, 0x3C)  # sound waves
TRANSPARENT, WHITE, BLUE, OUTLINE, GOLD = 0, 1, 2, 3, 4

pix = [[TRANSPARENT] * W for _ in range(H)]
cx, cy, r = 13.5, 13.0, 11.5
for y in range(H):
    for x in range(W):
        d = math.hypot(x - cx, y - cy)
        if d <= r - 1.2:
            pix[y][x] = BLUE
        elif d <= r:
            pix[y][x] = OUTLINE
# the bubble's tail, lower left
for y in range(22, 30):
    for x in range(4, 4 + (30 - y)):
        if x < 12 and pix[y][x] == TRANSPARENT:
            pix[y][x] = OUTLINE if x == 4 + (29 - y) or y == 29 else BLUE
# a mouth: white ellipse with a blue bar
for y in range(H):
    for x in range(W):
        if ((x - cx) / 6.0) ** 2 + ((y - cy) / 3.5) ** 2 <= 1.0:
            pix[y][x] = WHITE
for x in range(9, 19):
    pix[13][x] = BLUE
# sound waves to the right
for k, rad in enumerate((4.0, 7.0)):
    for a in range(-40, 41, 2):
        t = math.radians(a)
        x = int(round(25 + rad * math.cos(t) - 4))
        y = int(round(13 + rad * math.sin(t)))
        if 0 <= x < W and 0 <= y < H and pix[y][x] == TRANSPARENT:
            pix[y][x] = GOLD

xor_rows = b"".join(bytes(pix[y]) for y in reversed(range(H)))
mask_rows = b""
for y in reversed(range(H)):
    bits = 0
    row = b""
    for x in range(W):
        bits = (bits << 1) | (1 if pix[y][x] == TRANSPARENT else 0)
        if x % 8 == 7:
            row += bytes([bits])
            bits = 0
    mask_rows += row  # 4 bytes: already DWORD aligned
pal = b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 8, 0, len(xor_rows) + len(mask_rows), 0, 0, 256, 0)
image = header + pal + xor_rows + mask_rows
ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", W, H, 0, 0, 1, 8, len(image), 22) + image
with open(sys.argv[1], "wb") as f:
    f.write(ico)
