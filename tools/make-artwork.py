#!/usr/bin/env python3
"""Renders the setup window's artwork and the application icon.

    tools/make-artwork.py [OUTPUT_DIR]      (default: resources/art)

Writes ready.jpg (530x360), slide1..slide4.jpg (530x380), bar-track.jpg and
bar-fill.jpg (490x6) as baseline JPEGs with three 8-bit components, and
Fenmora.ico (64, 48, 32 and 16 pixels at 32 bits per pixel). Needs
ImageMagick's convert, the WenQuanYi Zen Hei and DejaVu fonts, and python3
without extra modules. The outputs are committed; run this only to change
the artwork.

The window draws over the artwork at fixed places, so the drawings follow
the window's geometry: close and minimize glyphs in (500,0)-(530,32) and
(470,0)-(500,32), the install button filling (168,168)-(363,215), the
folder field whose white interior takes the window's white path box at
(38,270), the browse button at (440,270)-(492,298), the licence line at
(8,334)-(24,351) and (91,339)-(162,350), and a lower area in exactly the
grey (#E3E3E3) of the window's disk-space box and licence cover. The slides
are drawn at 530x360, as the window shows them, and stretched to 530x380,
which the window squeezes back; their lower band is white for the labels
and the progress bar.
"""

import math
import os
import struct
import subprocess
import sys
import tempfile
import zlib

FONT_CJK = "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc"
FONT_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

W, H = 530, 360
LOWER_GREY = "#E3E3E3"
BRAND_DARK = "#A3122F"
BRAND = "#D92640"
BRAND_LIGHT = "#F2613D"

JPEG_OPTIONS = ["-strip", "-type", "TrueColor", "-interlace", "none",
                "-sampling-factor", "1x1", "-quality", "93"]


class Canvas:
    """One image being built in a scratch folder, changed by ImageMagick."""

    def __init__(self, workdir, name, width, height, background):
        self.workdir = workdir
        self.width = width
        self.height = height
        self.path = os.path.join(workdir, name + ".png")
        self._count = 0
        run("-size", f"{width}x{height}", f"xc:{background}", "PNG32:" + self.path)

    def scratch(self, tag):
        self._count += 1
        return os.path.join(self.workdir, f"{os.path.basename(self.path)}-{tag}{self._count}.png")

    def draw(self, mvg, antialias=True):
        run(self.path, "+antialias" if not antialias else "-antialias",
            "-draw", mvg, "PNG32:" + self.path)

    def layer(self, mvg, blur=0.0, dx=0, dy=0, opacity=1.0, mask_mvg=None):
        """Draws mvg on a clear layer, optionally blurred, shifted, faded
        and clipped to the white parts of mask_mvg, then lays it on top."""
        path = self.scratch("layer")
        args = ["-size", f"{self.width}x{self.height}", "xc:none", "-draw", mvg]
        if blur > 0:
            args += ["-channel", "RGBA", "-blur", f"0x{blur}", "+channel"]
        if opacity < 1.0:
            args += ["-channel", "A", "-evaluate", "multiply", f"{opacity}", "+channel"]
        run(*args, "PNG32:" + path)
        if mask_mvg:
            mask = self.scratch("mask")
            run("-size", f"{self.width}x{self.height}", "xc:black", "-fill", "white",
                "-draw", mask_mvg, mask)
            run(path, "(", mask, "-colorspace", "gray", ")", "-compose", "multiply",
                "-channel", "A", "-composite", "+channel", "PNG32:" + path)
        run(self.path, path, "-geometry", f"{dx:+d}{dy:+d}", "-compose", "over",
            "-composite", "PNG32:" + self.path)

    def paste(self, image_path, mask_mvg=None):
        """Lays a full-size image on top, clipped to the white of mask_mvg."""
        src = image_path
        if mask_mvg:
            src = self.scratch("clip")
            mask = self.scratch("mask")
            run("-size", f"{self.width}x{self.height}", "xc:black", "-fill", "white",
                "-draw", mask_mvg, mask)
            run(image_path, mask, "-alpha", "off", "-compose", "CopyOpacity",
                "-composite", "PNG32:" + src)
        run(self.path, src, "-compose", "over", "-composite", "PNG32:" + self.path)

    def save_jpeg(self, out, height=None):
        args = [self.path, "-background", "white", "-flatten"]
        if height and height != self.height:
            args += ["-filter", "Lanczos", "-resize", f"{self.width}x{height}!"]
        run(*args, *JPEG_OPTIONS, out)


def run(*args):
    subprocess.run(["convert", *args], check=True)


def gradient(workdir, name, width, height, points):
    """A smooth field through colour points [(x, y, colour), ...]."""
    path = os.path.join(workdir, name + ".png")
    field = " ".join(f"{x},{y} {c}" for x, y, c in points)
    run("-size", f"{width}x{height}", "xc:white", "-sparse-color", "Shepards", field,
        "-blur", "0x12", "PNG32:" + path)
    return path


def text(x, y, string, size, colour, font=FONT_CJK, anchor="start", weight=0.0):
    """MVG for one line of text; weight > 0 thickens strokes a little, for
    faces without a bold style."""
    s = string.replace("'", "\\'")
    stroke = f"stroke '{colour}' stroke-width {weight}" if weight else "stroke none"
    return (f"push graphic-context font '{font}' font-size {size} fill '{colour}' {stroke} "
            f"text-anchor {anchor} text {x},{y} '{s}' pop graphic-context ")


def window_glyphs(colour="#FFFFFF"):
    """Minimize and close glyphs centred in their hot rectangles."""
    return (f"push graphic-context stroke '{colour}' stroke-width 1.6 stroke-linecap round fill none "
            f"line 480,16.5 490,16.5 "
            f"line 510.5,11.5 519.5,20.5 line 519.5,11.5 510.5,20.5 pop graphic-context ")


def brand_mark(x, y, size, fg=BRAND):
    """The logo: a white rounded tile with the product's letter cut in."""
    r = size * 0.26
    return (f"push graphic-context fill white stroke none "
            f"roundrectangle {x},{y} {x + size},{y + size} {r},{r} pop graphic-context "
            + text(x + size / 2 + 0.5, y + size * 0.80, "F", size * 0.78, fg, FONT_BOLD, "middle"))


def brand_header(colour="#FFFFFF"):
    return brand_mark(14, 5, 22) + text(44, 23, "Fenmora", 16, colour, FONT_BOLD)


def network_pattern(cx, cy, scale, opacity):
    """A loose mesh of linked nodes: the product connects machines."""
    nodes = [(0, 0), (70, -40), (150, -10), (120, 60), (40, 80), (200, 50), (230, -60),
             (-60, 50), (-40, -50), (180, 130)]
    links = [(0, 1), (1, 2), (2, 3), (3, 4), (4, 0), (2, 5), (2, 6), (5, 9), (3, 9), (0, 7),
             (7, 4), (0, 8), (8, 1), (5, 6)]
    pts = [(cx + x * scale, cy + y * scale) for x, y in nodes]
    mvg = f"push graphic-context stroke 'rgba(255,255,255,{opacity})' stroke-width 1 fill none "
    for a, b in links:
        mvg += f"line {pts[a][0]:.1f},{pts[a][1]:.1f} {pts[b][0]:.1f},{pts[b][1]:.1f} "
    mvg += f"stroke none fill 'rgba(255,255,255,{min(1.0, opacity * 2.2)})' "
    for i, (x, y) in enumerate(pts):
        r = 3.2 if i % 3 == 0 else 2.2
        mvg += f"circle {x:.1f},{y:.1f} {x + r:.1f},{y:.1f} "
    return mvg + "pop graphic-context "


def soft_circles(circles):
    mvg = "push graphic-context stroke none "
    for x, y, r, a in circles:
        mvg += f"fill 'rgba(255,255,255,{a})' circle {x},{y} {x + r},{y} "
    return mvg + "pop graphic-context "


# --- ready page -------------------------------------------------------------

HERO_EDGE = "M 0,0 L 530,0 L 530,214 C 430,246 330,236 250,226 C 160,215 70,222 0,242 Z"


def make_ready(workdir, out):
    c = Canvas(workdir, "ready", W, H, LOWER_GREY)
    hero = gradient(workdir, "ready-hero", W, H, [
        (0, 0, "#8F0F2C"), (260, 0, "#C21D3A"), (530, 0, "#DE3A40"),
        (0, 240, "#C8213C"), (300, 250, "#EE4E3E"), (530, 230, "#F7773F")])
    c.paste(hero, f"path '{HERO_EDGE}'")
    # Depth: large faint discs and the connection mesh on the right.
    c.layer(soft_circles([(470, 40, 120, 0.07), (520, 200, 90, 0.06), (40, 210, 70, 0.05),
                          (120, -40, 90, 0.05)]), mask_mvg=f"path '{HERO_EDGE}'")
    c.layer(network_pattern(360, 60, 0.8, 0.18), mask_mvg=f"path '{HERO_EDGE}'")
    # A thin highlight along the lower edge of the hero.
    c.layer(f"push graphic-context fill none stroke 'rgba(255,255,255,0.35)' stroke-width 1.2 "
            f"path 'M 0,242 C 70,222 160,215 250,226 C 330,236 430,246 530,214' pop graphic-context ")

    c.draw(brand_header() + window_glyphs())
    c.layer(text(265, 100, "远程连接，从未如此简单", 30, "#000000", anchor="middle", weight=0.6),
            blur=3, dy=2, opacity=0.25)
    c.draw(text(265, 100, "远程连接，从未如此简单", 30, "#FFFFFF", anchor="middle", weight=0.6)
           + text(265, 132, "极速 · 高清 · 安全，随时随地访问你的电脑", 14,
                  "rgba(255,255,255,0.86)", anchor="middle"))

    # Install button: a white pill that fills (168,168)-(363,215).
    pill = "roundrectangle 168,168 362,214 23,23"
    c.layer(f"fill black {pill}", blur=7, dy=5, opacity=0.30)
    c.draw(f"push graphic-context fill white stroke none {pill} pop graphic-context "
           + text(265.5, 198.5, "立即安装", 19, BRAND, anchor="middle", weight=0.5))

    # Folder field: its white interior starts exactly where the window's
    # white path box does, so the two merge.
    c.draw(text(38, 262, "安装位置", 12, "#6B6B6B"))
    c.draw("push graphic-context fill '#CFCFCF' stroke none rectangle 37,269 440,298 "
           "fill white rectangle 38,270 439,297 pop graphic-context ", antialias=False)
    # Browse button: square where it meets the field, rounded outside.
    c.draw(f"push graphic-context fill '{BRAND}' stroke none "
           f"path 'M 440,269 L 488,269 Q 492,269 492,273 L 492,295 Q 492,299 488,299 L 440,299 Z' "
           f"pop graphic-context ")
    c.draw(text(466, 288, "浏览", 13, "#FFFFFF", anchor="middle", weight=0.3))

    # Licence line (the window covers it, but the artwork carries it).
    c.draw(f"push graphic-context fill '{BRAND}' stroke none roundrectangle 8,334 23,350 3,3 "
           f"fill none stroke white stroke-width 1.8 stroke-linecap round stroke-linejoin round "
           f"polyline 11.5,342 14.5,345.5 20,338.5 pop graphic-context "
           + text(29, 349, "阅读并同意", 12, "#6B6B6B")
           + text(91, 349, "《用户协议》", 12, BRAND))
    c.save_jpeg(out)


# --- installing slides --------------------------------------------------------

BAND_TOP = 316
SLIDE_EDGE = f"M 0,0 L 530,0 L 530,{BAND_TOP - 14} C 400,{BAND_TOP + 4} 150,{BAND_TOP - 8} 0,{BAND_TOP} Z"


def slide_base(workdir, name, colours):
    c = Canvas(workdir, name, W, H, "#FFFFFF")
    a, b, d = colours
    bg = gradient(workdir, name + "-bg", W, H, [
        (0, 0, a), (530, 0, b), (0, 320, b), (530, 320, d), (265, 160, b)])
    c.paste(bg, f"path '{SLIDE_EDGE}'")
    c.layer(soft_circles([(420, 170, 150, 0.08), (420, 170, 100, 0.07), (60, 300, 80, 0.05),
                          (500, 10, 60, 0.06)]), mask_mvg=f"path '{SLIDE_EDGE}'")
    return c


def slide_copy(c, title, subtitle, chips):
    c.layer(text(40, 150, title, 34, "#000000", weight=0.7), blur=3, dy=2, opacity=0.22)
    mvg = text(40, 150, title, 34, "#FFFFFF", weight=0.7)
    mvg += text(41, 182, subtitle, 14, "rgba(255,255,255,0.88)")
    x = 40
    for chip in chips:
        w = 14 * len(chip) + 20
        mvg += (f"push graphic-context fill 'rgba(255,255,255,0.16)' stroke 'rgba(255,255,255,0.45)' "
                f"stroke-width 1 roundrectangle {x},206 {x + w},232 13,13 pop graphic-context ")
        mvg += text(x + w / 2, 224, chip, 13, "#FFFFFF", anchor="middle")
        x += w + 10
    c.draw(mvg)
    c.draw(brand_header() + window_glyphs())


def illus_speed(c, accent):
    """A laptop and a desktop screen linked by a dotted arc with a bolt."""
    shadow = ("roundrectangle 318,170 430,244 6,6 roundrectangle 416,116 512,184 6,6")
    c.layer(f"fill black {shadow}", blur=8, dy=6, opacity=0.22)
    mvg = "push graphic-context stroke none "
    # Desktop screen, upper right.
    mvg += ("fill white roundrectangle 416,112 512,180 6,6 "
            f"fill '{accent}' roundrectangle 422,118 506,170 3,3 "
            "fill 'rgba(255,255,255,0.9)' rectangle 430,126 470,130 rectangle 430,136 494,139 "
            "rectangle 430,144 484,147 rectangle 430,152 460,155 "
            "fill white polygon 452,180 476,180 482,194 446,194 roundrectangle 438,192 490,198 3,3 ")
    # Laptop, lower left.
    mvg += ("fill white roundrectangle 322,166 426,236 6,6 "
            f"fill '{accent}' roundrectangle 328,172 420,228 3,3 "
            "fill white path 'M 306,238 L 442,238 L 436,250 Q 434,252 430,252 L 318,252 Q 314,252 312,250 Z' "
            "fill 'rgba(0,0,0,0.10)' rectangle 358,238 390,241 ")
    # Cursor on the laptop screen.
    mvg += ("fill white path 'M 364,186 L 364,212 L 371,205 L 377,218 L 382,216 L 376,203 L 386,203 Z' ")
    mvg += "pop graphic-context "
    # Dotted arc and the bolt badge.
    mvg += ("push graphic-context fill none stroke 'rgba(255,255,255,0.85)' stroke-width 2.2 "
            "stroke-dasharray 2,6 stroke-linecap round path 'M 352,160 C 352,110 390,92 414,118' "
            "pop graphic-context ")
    mvg += (f"push graphic-context fill white stroke none circle 372,104 386,104 "
            f"fill '#FFC83D' path 'M 375,94 L 365,107 L 371,107 L 368,116 L 379,102 L 373,102 Z' "
            f"pop graphic-context ")
    c.draw(mvg)


def illus_quality(c, accent):
    """A monitor showing a landscape, with an HD badge."""
    c.layer("fill black roundrectangle 320,96 506,222 8,8", blur=9, dy=6, opacity=0.22)
    mvg = "push graphic-context stroke none "
    mvg += ("fill white roundrectangle 320,92 506,218 8,8 "
            "fill '#BFE3FF' roundrectangle 328,100 498,204 4,4 ")
    # Sky, sun and two mountain ranges clipped to the screen area.
    mvg += ("fill '#FFE08A' circle 460,126 460,140 "
            f"fill '{accent}' path 'M 328,204 L 328,178 L 370,138 L 404,170 L 430,148 L 498,196 L 498,204 Z' "
            "fill 'rgba(255,255,255,0.55)' path 'M 370,138 L 358,150 L 366,150 L 372,144 L 380,150 L 384,146 Z' "
            "fill '#5B3FC4' path 'M 328,204 L 328,194 L 392,168 L 440,188 L 468,178 L 498,194 L 498,204 Z' ")
    # Stand.
    mvg += "fill white polygon 398,218 428,218 436,240 390,240 roundrectangle 372,238 454,246 4,4 "
    # HD badge.
    mvg += ("fill white roundrectangle 470,78 526,110 8,8 pop graphic-context ")
    mvg += text(498, 101, "HD", 19, accent, FONT_BOLD, "middle")
    # Sharpness ticks around the screen corner.
    mvg += ("push graphic-context fill none stroke 'rgba(255,255,255,0.8)' stroke-width 2 "
            "stroke-linecap round line 306,92 306,80 line 306,80 318,80 "
            "line 520,218 520,230 line 520,230 508,230 pop graphic-context ")
    c.draw(mvg)


def illus_security(c, accent):
    """A shield with a padlock, ringed by orbiting dots."""
    shield = "path 'M 410,88 C 436,102 460,106 478,106 C 478,170 456,212 410,238 C 364,212 342,170 342,106 C 360,106 384,102 410,88 Z'"
    c.layer(f"fill black {shield}", blur=9, dy=7, opacity=0.25)
    mvg = ("push graphic-context fill none stroke 'rgba(255,255,255,0.35)' stroke-width 1.5 "
           "ellipse 410,165 112,44 0,360 pop graphic-context ")
    mvg += f"push graphic-context stroke none fill white {shield} "
    mvg += (f"fill '{accent}' path 'M 410,102 C 430,113 450,117 464,117 C 464,168 447,202 410,224 "
            f"C 373,202 356,168 356,117 C 370,117 390,113 410,102 Z' ")
    # Padlock.
    mvg += ("fill white roundrectangle 390,152 430,186 5,5 "
            f"fill '{accent}' circle 410,165 410,171 rectangle 408,166 412,178 pop graphic-context ")
    mvg += ("push graphic-context fill none stroke white stroke-width 5 stroke-linecap round "
            "path 'M 396,153 L 396,142 C 396,124 424,124 424,142 L 424,153' pop graphic-context ")
    mvg += ("push graphic-context stroke none fill white circle 300,160 304,160 circle 520,150 523,150 "
            "fill 'rgba(255,255,255,0.7)' circle 330,200 333,200 circle 490,204 493,204 "
            "pop graphic-context ")
    c.draw(mvg)


def sync_glyph(cx, cy, r, colour):
    """Two arrows chasing each other round a circle."""
    mvg = f"push graphic-context stroke-linecap round stroke-width {r * 0.26:.2f} "
    for turn in (0, 180):
        a0, a1 = math.radians(170 + turn), math.radians(340 + turn)
        x1, y1 = cx + r * math.cos(a1), cy + r * math.sin(a1)
        dx, dy = -math.sin(a1), math.cos(a1)
        px, py = dy, -dx
        head, half = r * 0.45, r * 0.40
        tip = (x1 + dx * head, y1 + dy * head)
        b1 = (x1 - dx * head * 0.2 + px * half, y1 - dy * head * 0.2 + py * half)
        b2 = (x1 - dx * head * 0.2 - px * half, y1 - dy * head * 0.2 - py * half)
        pts = [(cx + r * math.cos(a0 + (a1 - a0) * i / 16), cy + r * math.sin(a0 + (a1 - a0) * i / 16))
               for i in range(17)]
        mvg += f"fill none stroke '{colour}' " + "".join(
            f"line {p[0]:.2f},{p[1]:.2f} {q[0]:.2f},{q[1]:.2f} " for p, q in zip(pts, pts[1:]))
        mvg += (f"fill '{colour}' stroke none polygon {tip[0]:.2f},{tip[1]:.2f} "
                f"{b1[0]:.2f},{b1[1]:.2f} {b2[0]:.2f},{b2[1]:.2f} ")
    return mvg + "pop graphic-context "


def illus_devices(c, accent):
    """Laptop, tablet and phone side by side, in sync."""
    c.layer("fill black roundrectangle 300,120 440,214 8,8 roundrectangle 420,140 486,232 8,8 "
            "roundrectangle 474,168 514,238 7,7", blur=8, dy=6, opacity=0.22)
    mvg = "push graphic-context stroke none "
    # Laptop.
    mvg += ("fill white roundrectangle 306,116 434,206 7,7 "
            f"fill '{accent}' roundrectangle 313,123 427,199 3,3 "
            "fill white path 'M 288,208 L 452,208 L 446,220 Q 444,222 440,222 L 300,222 Q 296,222 294,220 Z' "
            "fill 'rgba(255,255,255,0.9)' roundrectangle 325,135 375,165 3,3 "
            "fill 'rgba(255,255,255,0.6)' rectangle 383,137 415,141 rectangle 383,147 409,151 "
            "rectangle 383,157 413,161 rectangle 325,175 415,179 rectangle 325,185 395,189 ")
    # Tablet.
    mvg += ("fill white roundrectangle 424,136 490,228 8,8 "
            f"fill '{accent}' roundrectangle 430,144 484,218 3,3 "
            "fill 'rgba(255,255,255,0.9)' roundrectangle 436,152 478,176 3,3 "
            "fill 'rgba(255,255,255,0.6)' rectangle 436,184 476,188 rectangle 436,194 466,198 ")
    # Phone.
    mvg += ("fill white roundrectangle 478,164 518,236 7,7 "
            f"fill '{accent}' roundrectangle 482,172 514,226 2,2 "
            "fill white circle 498,231 499.6,231 "
            "fill 'rgba(255,255,255,0.9)' roundrectangle 486,178 510,194 2,2 pop graphic-context ")
    # Sync badge above the devices.
    mvg += "push graphic-context fill white stroke none circle 404,86 430,86 pop graphic-context "
    mvg += sync_glyph(404, 86, 11, accent)
    c.draw(mvg)


SLIDES = [
    ("slide1", ("#8F0F2C", "#D62A3F", "#F26B3C"), BRAND_DARK, "极速连接",
     "毫秒级响应，远程操控如在眼前", ["低延迟", "秒级接入"], illus_speed),
    ("slide2", ("#2C1F7A", "#5B3FC4", "#8E5FE8"), "#3F2A9E", "高清画质",
     "自适应码率，文字与画面清晰流畅", ["原画还原", "智能调节"], illus_quality),
    ("slide3", ("#0B5E5E", "#128C7E", "#2BC48F"), "#0E6E66", "安全可靠",
     "全程加密传输，守护每一次连接", ["端到端加密", "设备授权"], illus_security),
    ("slide4", ("#0D3F8F", "#1E6FD9", "#3FA4F2"), "#1456B0", "多端互通",
     "电脑、手机、平板，随时随地访问", ["跨平台", "一键同步"], illus_devices),
]


def make_slide(workdir, out, slide):
    name, colours, accent, title, subtitle, chips, illus = slide
    c = slide_base(workdir, name, colours)
    illus(c, accent)
    slide_copy(c, title, subtitle, chips)
    # A hairline under the artwork, where the white band begins.
    c.layer(f"push graphic-context fill none stroke 'rgba(0,0,0,0.08)' stroke-width 1 "
            f"path 'M 0,{BAND_TOP + 0.5} C 150,{BAND_TOP - 7.5} 400,{BAND_TOP + 4.5} 530,{BAND_TOP - 13.5}' "
            f"pop graphic-context ")
    c.save_jpeg(out, height=380)


# --- progress bar -------------------------------------------------------------

def make_bar(workdir, out, name, fill):
    # Drawn four times larger and reduced, for smooth rounded ends.
    c = Canvas(workdir, name, 490 * 4, 6 * 4, "#FFFFFF")
    c.draw(f"push graphic-context stroke none fill {fill} "
           f"roundrectangle 0,0 {490 * 4 - 1},{6 * 4 - 1} 12,12 pop graphic-context ")
    run(c.path, "-background", "white", "-flatten", "-filter", "Box", "-resize", "490x6!",
        *JPEG_OPTIONS, out)


def make_bars(workdir, outdir):
    make_bar(workdir, os.path.join(outdir, "bar-track.jpg"), "track", "'#E6E6E6'")
    grad = os.path.join(workdir, "fill-grad.png")
    # The fill: brand red, a touch warmer towards its right end.
    c = Canvas(workdir, "fill", 490 * 4, 6 * 4, "#FFFFFF")
    run("-size", f"{6 * 4}x{490 * 4}", "gradient:#F0503C-#D92640", "-rotate", "90", grad)
    mask = os.path.join(workdir, "fill-mask.png")
    run("-size", f"{490 * 4}x{6 * 4}", "xc:black", "-fill", "white",
        "-draw", f"roundrectangle 0,0 {490 * 4 - 1},{6 * 4 - 1} 12,12", mask)
    run(grad, mask, "-alpha", "off", "-compose", "CopyOpacity", "-composite", "PNG32:" + grad)
    run(c.path, grad, "-compose", "over", "-composite", "-flatten", "-filter", "Box",
        "-resize", "490x6!", *JPEG_OPTIONS, os.path.join(outdir, "bar-fill.jpg"))


# --- icon -----------------------------------------------------------------------

def make_icon_png(workdir, size):
    """The tile of the logo in brand colours, drawn at 8x and reduced."""
    big = size * 8
    path = os.path.join(workdir, f"icon{size}.png")
    grad = os.path.join(workdir, f"icon{size}-grad.png")
    run("-size", f"{big}x{big}", "xc:white", "-sparse-color", "Barycentric",
        f"0,0 {BRAND_DARK} {big},0 {BRAND} {big},{big} {BRAND_LIGHT}", grad)
    radius = big * (0.22 if size > 16 else 0.16)
    inset = 0 if size <= 16 else big * 0.03
    mask = os.path.join(workdir, f"icon{size}-mask.png")
    run("-size", f"{big}x{big}", "xc:black", "-fill", "white", "-draw",
        f"roundrectangle {inset},{inset} {big - 1 - inset},{big - 1 - inset} {radius},{radius}", mask)
    run(grad, mask, "-alpha", "off", "-compose", "CopyOpacity", "-composite", "PNG32:" + grad)
    letter = text(big / 2 + big * 0.02, big * 0.79, "F", big * 0.78, "#FFFFFF", FONT_BOLD, "middle")
    dot = f"fill '#FFD2C2' circle {big * 0.70},{big * 0.70} {big * 0.70 + big * 0.075},{big * 0.70} "
    run(grad, "-draw", letter + (dot if size >= 32 else ""), "-filter", "Box", "-resize",
        f"{size}x{size}", "PNG32:" + path)
    return path


def read_png_rgba(path):
    """Decodes an 8-bit RGBA, non-interlaced PNG (what PNG32: writes)."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, ctype, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if depth != 8 or ctype != 6 or interlace:
                raise ValueError(f"{path}: not 8-bit RGBA")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, rows


def icon_entry(path):
    """One icon image: a 32-bit BITMAPINFOHEADER DIB, bottom-up BGRA, and
    the 1-bit AND mask (unused with alpha, kept for old readers)."""
    width, height, rows = read_png_rgba(path)
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = b""
    for row in reversed(rows):
        for x in range(width):
            r, g, b, a = row[x * 4:x * 4 + 4]
            pixels += bytes((b, g, r, a))
    mask_stride = ((width + 31) // 32) * 4
    mask = b""
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            if row[x * 4 + 3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return width, header + pixels + mask


def make_icon(workdir, out):
    entries = [icon_entry(make_icon_png(workdir, s)) for s in (64, 48, 32, 16)]
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for size, blob in entries:
        data += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for _, blob in entries:
        data += blob
    with open(out, "wb") as f:
        f.write(data)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "resources", "art")
    os.makedirs(outdir, exist_ok=True)
    with tempfile.TemporaryDirectory() as workdir:
        make_ready(workdir, os.path.join(outdir, "ready.jpg"))
        for slide in SLIDES:
            make_slide(workdir, os.path.join(outdir, slide[0] + ".jpg"), slide)
        make_bars(workdir, outdir)
        make_icon(workdir, os.path.join(outdir, "Fenmora.ico"))
    print(f"artwork written to {outdir}")


if __name__ == "__main__":
    main()
