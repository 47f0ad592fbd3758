#!/usr/bin/env bash
# Draws the artwork of Glove Monitor and writes it next to this script:
#   glove.gif  - 144x107 picture of the glove (interlaced GIF89a, 64-colour
#                palette, one transparent colour) shown in the main window
#   glove.ico  - application icon: a window in perspective, three images
#                (32x32 2 colours, 32x32 16 colours, 16x16 16 colours)
#   icons/glove-monitor-N.png - the same icon for desktop menus, N = 16, 24, 32,
#                48, 64, 128 and 256 pixels square
#
# Debian packages needed: python3-pil (Pillow, used from /usr/bin/python3)
#                         imagemagick  (identify, for the self-check at the end)
#
# Everything is drawn from code, so running it again gives the same bytes.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
py=/usr/bin/python3

"$py" - "$here" <<'PY'
import math
import struct
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

out_dir = sys.argv[1]

# --------------------------------------------------------------------------
# glove.gif
# --------------------------------------------------------------------------
W, H = 144, 107          # final size
S = 4                    # drawing is done at 4x and scaled down
MATTE = (244, 244, 244)  # edge pixels are blended towards a light window colour
TRANSPARENT_RGB = (255, 255, 255)


def sc(pts):
    return [(x * S, y * S) for x, y in pts]


def capsule(draw, a, b, r, fill=255):
    """Thick line with round ends from a to b (1x coordinates)."""
    (ax, ay), (bx, by) = a, b
    draw.line([(ax * S, ay * S), (bx * S, by * S)], fill=fill, width=int(round(2 * r * S)))
    for x, y in (a, b):
        draw.ellipse([(x - r) * S, (y - r) * S, (x + r) * S, (y + r) * S], fill=fill)


def finger_tip(base, angle_deg, length):
    a = math.radians(angle_deg)
    return (base[0] + length * math.sin(a), base[1] - length * math.cos(a))


# Fingers: knuckle point, lean (degrees from upright, + leans right), length,
# radius.  The hand is a right hand seen from the back: thumb on the left.
FINGERS = [
    ((62.0, 41.0), -15.0, 28.0, 5.0),   # index
    ((72.5, 38.5), -3.0, 31.0, 5.2),    # middle
    ((83.0, 40.0), 10.0, 28.0, 5.0),    # ring
    ((92.0, 45.0), 24.0, 21.0, 4.4),    # little finger
]
THUMB = [((63.0, 66.0), (51.0, 57.0), 6.0), ((51.0, 57.0), (42.5, 46.5), 5.2)]
PALM = [(58.0, 44.0), (62.0, 39.0), (72.0, 36.0), (84.0, 37.5), (93.0, 42.0),
        (96.5, 48.0), (95.5, 58.0), (92.0, 70.0), (90.5, 78.0),
        (63.0, 78.0), (61.0, 70.0), (57.5, 58.0)]
CUFF = [(61.5, 74.0), (91.0, 74.0), (93.0, 96.0), (59.5, 96.0)]


def glove_mask():
    m = Image.new("L", (W * S, H * S), 0)
    d = ImageDraw.Draw(m)
    d.polygon(sc(PALM), fill=255)
    d.polygon(sc(CUFF), fill=255)
    for base, ang, ln, r in FINGERS:
        capsule(d, base, finger_tip(base, ang, ln), r)
    for a, b, r in THUMB:
        capsule(d, a, b, r)
    return m


def shade(mask, blur, light, ramp, flat=1.0):
    """Light a mask as if it were a soft raised shape.

    The blurred mask is used as a height field; its slope gives a surface
    normal that is lit from `light`.  The brightness is mapped through `ramp`
    (list of (t, (r, g, b))).  Returns an RGB image."""
    w, h = mask.size
    hf = list(mask.filter(ImageFilter.GaussianBlur(blur)).getdata())
    lx, ly, lz = light
    ln = math.sqrt(lx * lx + ly * ly + lz * lz)
    lx, ly, lz = lx / ln, ly / ln, lz / ln
    k = 2.0 * blur / 255.0 / flat
    out = bytearray(w * h * 3)
    cache = {}
    for y in range(h):
        row = y * w
        up = max(y - 1, 0) * w
        dn = min(y + 1, h - 1) * w
        for x in range(w):
            i = row + x
            if not hf[i]:
                continue
            gx = (hf[row + min(x + 1, w - 1)] - hf[row + max(x - 1, 0)]) * k
            gy = (hf[dn + x] - hf[up + x]) * k
            nz = 1.0 / math.sqrt(gx * gx + gy * gy + 1.0)
            t = (-gx * lx - gy * ly + lz) * nz
            # a little extra darkness close to the outline
            t *= 0.55 + 0.45 * (hf[i] / 255.0)
            t = max(0.0, min(1.0, t))
            key = int(t * 255)
            c = cache.get(key)
            if c is None:
                c = ramp_colour(ramp, key / 255.0)
                cache[key] = c
            out[3 * i:3 * i + 3] = bytes(c)
    return Image.frombytes("RGB", (w, h), bytes(out))


def ramp_colour(ramp, t):
    for (t0, c0), (t1, c1) in zip(ramp, ramp[1:]):
        if t <= t1:
            f = (t - t0) / (t1 - t0) if t1 > t0 else 0.0
            f = max(0.0, min(1.0, f))
            return tuple(int(round(a + (b - a) * f)) for a, b in zip(c0, c1))
    return ramp[-1][1]


GLOVE_RAMP = [(0.0, (4, 6, 28)), (0.35, (12, 22, 72)), (0.62, (22, 40, 118)),
              (0.85, (46, 76, 166)), (1.0, (118, 146, 214))]
SLEEVE_RAMP = [(0.0, (4, 4, 6)), (0.5, (22, 22, 26)), (0.8, (50, 50, 58)),
               (1.0, (96, 96, 108))]
LIGHT = (-0.55, -0.75, 0.9)


def outline(mask, width):
    inner = mask.filter(ImageFilter.MinFilter(width * 2 + 1))
    return ImageChops.subtract(mask, inner)


def paste_colour(img, mask, colour):
    img.paste(Image.new("RGB", img.size, colour), (0, 0), mask)


def draw_glove():
    size = (W * S, H * S)
    img = Image.new("RGB", size, MATTE)
    alpha = Image.new("L", size, 0)

    # glove
    gm = glove_mask()
    img.paste(shade(gm, 9, LIGHT, GLOVE_RAMP), (0, 0), gm)
    # seams: a line across the knuckles, one along each finger's back
    seams = Image.new("L", size, 0)
    sd = ImageDraw.Draw(seams)
    sd.line(sc([(60.0, 47.0), (70.0, 43.5), (82.0, 44.0), (91.0, 48.5)]), fill=255, width=3)
    for base, ang, ln, r in FINGERS:
        b2 = finger_tip(base, ang, 3.0)
        t2 = finger_tip(base, ang, ln - 2.5)
        sd.line(sc([b2, t2]), fill=150, width=2)
    seams = ImageChops.multiply(seams, gm.filter(ImageFilter.MinFilter(9)))
    paste_colour(img, seams, (50, 80, 166))
    # finger separations where the fingers meet the palm
    creases = Image.new("L", size, 0)
    cd = ImageDraw.Draw(creases)
    for (b0, a0, _, _), (b1, a1, _, _) in zip(FINGERS, FINGERS[1:]):
        p = ((b0[0] + b1[0]) / 2, (b0[1] + b1[1]) / 2)
        q = (p[0] - (a0 + a1) / 40.0, p[1] + 4.5)
        cd.line(sc([(p[0] + (a0 + a1) / 60.0, p[1] - 3.0), q]), fill=200, width=4)
    creases = ImageChops.multiply(creases, gm.filter(ImageFilter.MinFilter(7)))
    paste_colour(img, creases.filter(ImageFilter.GaussianBlur(2)), (8, 14, 50))
    paste_colour(img, outline(gm, 3), (5, 8, 30))
    alpha = ImageChops.lighter(alpha, gm)

    # strap around the wrist, under the control box
    strap = Image.new("L", size, 0)
    ImageDraw.Draw(strap).polygon(sc([(60.0, 75.5), (92.5, 75.5), (92.8, 83.0), (59.7, 83.0)]), fill=255)
    img.paste(shade(strap, 4, (0.0, -1.0, 1.4), [(0.0, (20, 20, 24)), (0.6, (58, 60, 66)),
                                                  (1.0, (120, 122, 130))], flat=0.7), (0, 0), strap)
    paste_colour(img, outline(strap, 2), (12, 12, 14))
    alpha = ImageChops.lighter(alpha, strap)

    # control box: white, rounded, a little depth at the lower edge
    d = ImageDraw.Draw(img)
    box = (65.0, 70.0, 88.0, 86.5)
    bx0, by0, bx1, by1 = (v * S for v in box)
    d.rounded_rectangle([bx0, by0 + 1.5 * S, bx1, by1], radius=3 * S, fill=(40, 42, 48))
    d.rounded_rectangle([bx0 + S * 0.6, by0 + 1.5 * S, bx1 - S * 0.6, by1 - S * 0.6],
                        radius=2.6 * S, fill=(150, 154, 162))
    top = Image.new("L", size, 0)
    ImageDraw.Draw(top).rounded_rectangle([bx0 + S * 0.6, by0 + S * 0.6, bx1 - S * 0.6, by1 - 2.4 * S],
                                          radius=2.6 * S, fill=255)
    img.paste(shade(top, 3, (-0.4, -0.8, 1.6), [(0.0, (170, 174, 182)), (0.6, (222, 224, 230)),
                                                (1.0, (250, 250, 250))], flat=0.8), (0, 0), top)
    box_mask = Image.new("L", size, 0)
    ImageDraw.Draw(box_mask).rounded_rectangle([bx0, by0, bx1, by1], radius=3 * S, fill=255)
    # thin dark rim so the box stands out on a white page
    rim = outline(box_mask, 2)
    paste_colour(img, rim, (40, 42, 48))
    alpha = ImageChops.lighter(alpha, box_mask)
    # status LED and two ventilation slots
    # (the LED itself is set pixel by pixel after scaling down, see LED)
    d.ellipse([82.0 * S, 73.0 * S, 86.0 * S, 77.0 * S], fill=(14, 70, 20))
    for yy in (74.0, 77.0):
        d.rounded_rectangle([68.0 * S, yy * S, 78.0 * S, (yy + 1.3) * S], radius=0.6 * S, fill=(120, 124, 134))

    # black sleeve over the arm at the bottom
    sleeve = Image.new("L", size, 0)
    sdraw = ImageDraw.Draw(sleeve)
    sdraw.polygon(sc([(56.0, 94.0), (96.0, 94.0), (99.0, float(H) + 2), (53.0, float(H) + 2)]), fill=255)
    sdraw.ellipse(sc([(56.0, 90.0), (96.0, 98.0)]), fill=255)
    img.paste(shade(sleeve, 10, (-0.7, -0.35, 0.9), SLEEVE_RAMP, flat=1.6), (0, 0), sleeve)
    # ribbed cuff of the sleeve
    rib = Image.new("L", size, 0)
    rd = ImageDraw.Draw(rib)
    for i in range(1, 10):
        x = 56.0 + i * 4.0
        rd.line(sc([(x, 93.0), (x + (x - 76.0) * 0.05, 100.5)]), fill=110, width=2)
    rd.line(sc([(56.5, 101.0), (96.5, 101.0)]), fill=150, width=2)
    rib = ImageChops.multiply(rib, sleeve.filter(ImageFilter.MinFilter(7)))
    paste_colour(img, rib, (80, 80, 90))
    paste_colour(img, outline(sleeve, 2), (0, 0, 0))
    alpha = ImageChops.lighter(alpha, sleeve)

    return img, alpha


# The status LED is too small to survive colour reduction when drawn large, so
# its pixels are set at final size and keep palette entries of their own.
LED = {(83, 74): (150, 250, 150), (84, 74): (40, 210, 60),
       (83, 75): (40, 210, 60), (84, 75): (20, 150, 40)}


def make_gif():
    img4, alpha4 = draw_glove()
    # Colours on the outline are already blended with the matte; scaling the
    # flat picture down therefore gives soft edges against a light window.
    img = img4.resize((W, H), Image.BOX)
    alpha = alpha4.resize((W, H), Image.BOX)
    px = list(img.getdata())
    al = list(alpha.getdata())
    fixed = sorted(set(LED.values()))
    led_at = {y * W + x: fixed.index(c) for (x, y), c in LED.items()}
    opaque = [i for i, a in enumerate(al) if a >= 128 and i not in led_at]
    if any(al[i] < 128 for i in led_at):
        sys.exit("make-art: the LED is not on the control box")

    # Entries 0..n-1 are the LED colours, the rest of the opaque pixels share
    # what is left up to 63, and entry 63 is the transparent one.
    nq = 63 - len(fixed)
    strip = Image.new("RGB", (len(opaque), 1))
    strip.putdata([px[i] for i in opaque])
    # The median cut can leave an entry unused; ask for a few more until
    # exactly nq entries are really used, then keep only those.
    for k in range(nq, nq + 8):
        q = strip.quantize(colors=k, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.NONE)
        qi = list(q.getdata())
        used = sorted(set(qi))
        if len(used) >= nq:
            break
    if len(used) != nq:
        sys.exit("make-art: could not reduce the glove to %d colours" % nq)
    qp = q.getpalette()
    renum = {old: new for new, old in enumerate(used)}
    pal = [v for c in fixed for v in c] + [v for old in used for v in qp[3 * old:3 * old + 3]]
    cols = [tuple(pal[3 * i:3 * i + 3]) for i in range(63)]
    if len(set(cols)) != 63 or TRANSPARENT_RGB in cols:
        sys.exit("make-art: palette of the glove is not 63 distinct opaque colours")
    idx = [63] * (W * H)
    for n, i in enumerate(qi):
        idx[opaque[n]] = len(fixed) + renum[i]
    for i, k in led_at.items():
        idx[i] = k
    out = Image.new("P", (W, H))
    out.putpalette(pal + list(TRANSPARENT_RGB))
    out.putdata(idx)
    out.save(out_dir + "/glove.gif", format="GIF", interlace=True, transparency=63,
             optimize=False)


# --------------------------------------------------------------------------
# glove.ico
# --------------------------------------------------------------------------
# 16-colour palette of the 4-bit images (index 0 must stay black: transparent
# pixels are stored as 0 with their mask bit set).
PAL16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
         (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
         (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, GREY, CYAN, WHITE = 0, 4, 8, 14, 15
PAL2 = [(0, 0, 0), (255, 255, 255)]
CLEAR = None

# Window outline per icon size: left and right column; top and bottom row at
# the left edge and at the right edge (the right edge is shorter, so the
# window looks turned away); title bar height at the left edge; shadow offset;
# lines of "text" as (height in the window 0..1, from, to across 0..1).
LAYOUT = {
    32: dict(xl=2, xr=25, top=(3.0, 7.0), bot=(27.0, 23.0), bar=5.0, shadow=3,
             closebox=(0.82, 0.92), text=[(0.42, 0.12, 0.80), (0.54, 0.12, 0.62),
                                          (0.66, 0.12, 0.74), (0.78, 0.12, 0.48)]),
    16: dict(xl=1, xr=12, top=(1.0, 3.0), bot=(13.0, 11.0), bar=3.0, shadow=2,
             closebox=None, text=[(0.52, 0.2, 0.75), (0.74, 0.2, 0.55)]),
}


def draw_icon(n, two_colour):
    """Return an n x n list of rows of palette indices (CLEAR = transparent)."""
    lay = LAYOUT[n]
    xl, xr = lay["xl"], lay["xr"]
    (t0, t1), (b0, b1) = lay["top"], lay["bot"]
    white = 1 if two_colour else WHITE
    grid = [[CLEAR] * n for _ in range(n)]

    def row_at(v, x):
        """Row of the straight line at height v (0 top .. 1 bottom) in column x."""
        u = (x - xl) / (xr - xl)
        yl = t0 + v * (b0 - t0)
        yr = t1 + v * (b1 - t1)
        return int(math.floor(yl + (yr - yl) * u + 0.5))

    # shadow: the same outline moved down and to the right
    d = lay["shadow"]
    for x in range(xl + d, xr + d + 1):
        for y in range(row_at(0.0, x - d) + d, row_at(1.0, x - d) + d + 1):
            if 0 <= x < n and 0 <= y < n:
                if two_colour:
                    grid[y][x] = BLACK if (x + y) % 2 == 0 else CLEAR
                else:
                    grid[y][x] = GREY

    v_bar = (lay["bar"] + 1.0) / (b0 - t0)
    for x in range(xl, xr + 1):
        u = (x - xl) / (xr - xl)
        top, bot, sep = row_at(0.0, x), row_at(1.0, x), row_at(v_bar, x)
        for y in range(top, bot + 1):
            if x in (xl, xr) or y in (top, bot, sep):
                c = BLACK
            elif y < sep:
                c = BLACK if two_colour else CYAN
            else:
                c = white
            grid[y][x] = c
        cb = lay["closebox"]
        if cb and cb[0] <= u <= cb[1]:
            for y in range(top + 2, sep - 1):
                grid[y][x] = white if two_colour else NAVY
        for v, u0, u1 in lay["text"]:
            if u0 <= u <= u1:
                grid[row_at(v, x)][x] = BLACK if two_colour else GREY
    return grid


def pack_bits(values, bpp):
    """One bitmap row, MSB first, padded to a multiple of 4 bytes."""
    bits = 0
    nbits = 0
    out = bytearray()
    for v in values:
        bits = (bits << bpp) | v
        nbits += bpp
        if nbits == 8:
            out.append(bits)
            bits, nbits = 0, 0
    if nbits:
        out.append(bits << (8 - nbits))
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def ico_image(rows, palette, bpp):
    n = len(rows)
    xor = b"".join(pack_bits([0 if c is CLEAR else c for c in r], bpp) for r in reversed(rows))
    andm = b"".join(pack_bits([1 if c is CLEAR else 0 for c in r], 1) for r in reversed(rows))
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, bpp, 0, len(xor) + len(andm),
                         0, 0, len(palette), 0)
    pal = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return header + pal + xor + andm


def make_ico():
    images = [
        (32, PAL2, 1, draw_icon(32, True)),
        (32, PAL16, 4, draw_icon(32, False)),
        (16, PAL16, 4, draw_icon(16, False)),
    ]
    blobs = [ico_image(rows, pal, bpp) for _, pal, bpp, rows in images]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (n, pal, bpp, _), blob in zip(images, blobs):
        data += struct.pack("<BBBBHHII", n, n, len(pal), 0, 1, bpp, len(blob), offset)
        offset += len(blob)
    data += b"".join(blobs)
    with open(out_dir + "/glove.ico", "wb") as fh:
        fh.write(data)


# --------------------------------------------------------------------------
# icons/glove-monitor-N.png: the same icon for desktop menus, N = 16 ... 256.
# 16 and 32 are the icon's own 16-colour images; the other sizes draw the same
# window, with the 32 x 32 image's geometry and colours, smoothly at their size.
# --------------------------------------------------------------------------
PNG_SIZES = [16, 24, 32, 48, 64, 128, 256]


def pixel_png(n):
    rows = draw_icon(n, False)
    img = Image.new("RGBA", (n, n), (0, 0, 0, 0))
    for y, row in enumerate(rows):
        for x, c in enumerate(row):
            if c is not CLEAR:
                img.putpixel((x, y), PAL16[c] + (255,))
    return img


def smooth_png(n):
    lay = LAYOUT[32]
    ss = 8                       # drawn at 8x and scaled down
    k = n / 32.0 * ss            # one pixel of the 32 x 32 image
    xl, xr = lay["xl"], lay["xr"] + 1
    (t0, t1), (b0, b1) = lay["top"], lay["bot"]
    b0, b1 = b0 + 1, b1 + 1
    line = max(1.0, n / 40.0) * ss

    def at(u, v, shift=0.0):
        """Point of the window at u across (0..1) and v down (0..1)."""
        top = t0 + (t1 - t0) * u
        bot = b0 + (b1 - b0) * u
        return ((xl + (xr - xl) * u + shift) * k, (top + (bot - top) * v + shift) * k)

    def quad(u0, u1, v0, v1, shift=0.0):
        return [at(u0, v0, shift), at(u1, v0, shift), at(u1, v1, shift), at(u0, v1, shift)]

    def colour(i):
        return PAL16[i] + (255,)

    img = Image.new("RGBA", (n * ss, n * ss), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    d.polygon(quad(0, 1, 0, 1, lay["shadow"]), fill=colour(GREY))
    v_bar = (lay["bar"] + 1.0) / (b0 - t0)
    d.polygon(quad(0, 1, 0, v_bar), fill=colour(CYAN))
    d.polygon(quad(0, 1, v_bar, 1), fill=colour(WHITE))
    u0, u1 = lay["closebox"]
    d.polygon(quad(u0, u1, 2.5 / (b0 - t0), v_bar - 1.5 / (b0 - t0)), fill=colour(NAVY))
    for v, u0, u1 in lay["text"]:
        d.line([at(u0, v), at(u1, v)], fill=colour(GREY), width=int(round(line)))
    d.line([at(0, v_bar), at(1, v_bar)], fill=colour(BLACK), width=int(round(line)))
    outline = quad(0, 1, 0, 1)
    d.line(outline + [outline[0]], fill=colour(BLACK), width=int(round(line)), joint="curve")
    return img.resize((n, n), Image.LANCZOS)


def make_pngs():
    for n in PNG_SIZES:
        img = pixel_png(n) if n in LAYOUT else smooth_png(n)
        img.save("%s/icons/glove-monitor-%d.png" % (out_dir, n), format="PNG", optimize=True)


make_gif()
make_ico()
make_pngs()
PY

# --------------------------------------------------------------------------
# self-check of what was written
# --------------------------------------------------------------------------
fail() { echo "make-art: $*" >&2; exit 1; }
gif=$here/glove.gif
ico=$here/glove.ico

[ "$(head -c 6 "$gif")" = GIF89a ] || fail "glove.gif is not GIF89a"
info=$(identify -verbose "$gif")
[ "$(identify -format '%wx%h' "$gif")" = 144x107 ] || fail "glove.gif is not 144x107"
grep -q '^  Interlace: GIF' <<<"$info" || fail "glove.gif is not interlaced"
grep -q '^  Colormap entries: 64$' <<<"$info" || fail "glove.gif palette is not 64 entries"
grep -q '^  Colors: 64$' <<<"$info" || fail "glove.gif does not use all 64 palette entries"
[ "$(identify "$gif" | wc -l)" -eq 1 ] || fail "glove.gif should hold a single image"
grep -q '^  Transparent color:' <<<"$info" || fail "glove.gif has no transparent colour"
# colour table flag byte of the screen descriptor: global table, 2^(5+1) entries
flags=$(od -An -tu1 -j10 -N1 "$gif" | tr -d ' ')
[ $((flags & 0x87)) -eq $((0x85)) ] || fail "glove.gif global colour table is not 64 entries"
share=$(convert "$gif" -alpha extract -format '%[fx:1-mean]' info:)
awk -v s="$share" 'BEGIN { exit !(s > 0.5) }' || fail "glove.gif is only $share transparent"

want='32x32 1 2
32x32 4 16
16x16 4 16'
got=$(od -An -tu1 -v -j6 -N48 "$ico" | tr -s ' \n' ' ' |
      awk '{ for (i = 1; i <= NF; i += 16) print $i "x" $(i+1), $(i+6), $(i+2) }')
[ "$got" = "$want" ] || fail "glove.ico directory is not as expected: $got"
[ "$(identify -format '%wx%h %z\n' "$ico" | tr '\n' ';')" = '32x32 1;32x32 4;16x16 4;' ] ||
  fail "glove.ico images are not read back as 32x32 1-bit, 32x32 4-bit, 16x16 4-bit"

for n in 16 24 32 48 64 128 256; do
    [ "$(identify -format '%wx%h %[channels]' "$here/icons/glove-monitor-$n.png")" = "${n}x$n srgba" ] ||
        fail "icons/glove-monitor-$n.png is not ${n}x$n with transparency"
done

echo "make-art: glove.gif, glove.ico and icons/ written ($(printf '%.1f' "$(awk -v s="$share" 'BEGIN{print s*100}')")% of the glove picture transparent)"
