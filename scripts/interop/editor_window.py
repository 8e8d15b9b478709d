#!/usr/bin/env python3
"""Waits for a top-level window of the X display in $DISPLAY whose name contains NAME, then
checks that Corvane's editor is drawn in it: many colours, a large share of the editor's
background colour and the accent colour of its page tab. Writes the window as a PNG.

usage: editor_window.py NAME TIMEOUT-SECONDS OUT.png
Exit status 0 when the editor is there, 1 otherwise.
"""
import ctypes
import ctypes.util
import struct
import sys
import time
import zlib

BACKGROUND = (33, 37, 41)  # the editor's background
ACCENT = (245, 158, 46)  # the highlighted page tab, lit knob arcs

X = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
X.XOpenDisplay.restype = ctypes.c_void_p
X.XOpenDisplay.argtypes = [ctypes.c_char_p]
X.XDefaultRootWindow.restype = ctypes.c_ulong
X.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.c_ulong),
                         ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                         ctypes.POINTER(ctypes.c_uint)]
X.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
X.XFree.argtypes = [ctypes.c_void_p]
X.XGetImage.restype = ctypes.c_void_p
X.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                        ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
X.XDestroyImage = None  # the image is freed with the process


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("klass", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


X.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                   ctypes.POINTER(XWindowAttributes)]

IS_VIEWABLE = 2


def find_window(display, name):
    root = X.XDefaultRootWindow(display)
    root_ret, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not X.XQueryTree(display, root, ctypes.byref(root_ret), ctypes.byref(parent),
                        ctypes.byref(children), ctypes.byref(count)):
        return None
    found = None
    for i in range(count.value):
        title = ctypes.c_char_p()
        if X.XFetchName(display, children[i], ctypes.byref(title)) and title.value:
            text = title.value.decode("utf-8", "replace")
            X.XFree(title)
            attributes = XWindowAttributes()
            X.XGetWindowAttributes(display, children[i], ctypes.byref(attributes))
            if name in text and attributes.map_state == IS_VIEWABLE:
                found = (children[i], text, attributes.x, attributes.y, attributes.width,
                         attributes.height)
    if children:
        X.XFree(children)
    return found


def grab(display, x, y, w, h):
    """The root window's pixels in the rectangle, as rows of (r, g, b) bytes."""
    image = X.XGetImage(display, X.XDefaultRootWindow(display), x, y, w, h, 0xFFFFFFFF, 2)
    if not image:
        return None
    img = ctypes.cast(image, ctypes.POINTER(XImage)).contents
    if img.bits_per_pixel != 32:
        sys.exit("editor_window: a 24-bit TrueColor screen is needed")
    raw = ctypes.string_at(img.data, img.bytes_per_line * h)
    rows = []
    for r in range(h):
        line = raw[r * img.bytes_per_line:r * img.bytes_per_line + 4 * w]
        px = bytearray(3 * w)
        px[0::3], px[1::3], px[2::3] = line[2::4], line[1::4], line[0::4]
        rows.append(bytes(px))
    return rows


def write_png(path, rows, w, h):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    data = zlib.compress(b"".join(b"\0" + row for row in rows), 6)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", data) + chunk(b"IEND", b""))


def near(pixel, colour, tolerance):
    return all(abs(a - b) <= tolerance for a, b in zip(pixel, colour))


def analyse(rows, w, h):
    colours, background, accent = set(), 0, 0
    for row in rows:
        for i in range(0, 3 * w, 3):
            p = (row[i], row[i + 1], row[i + 2])
            colours.add(p)
            if near(p, BACKGROUND, 3):
                background += 1
            if near(p, ACCENT, 8):
                accent += 1
    return len(colours), background / float(w * h), accent


def main():
    name, timeout, out = sys.argv[1], float(sys.argv[2]), sys.argv[3]
    display = X.XOpenDisplay(None)
    if not display:
        sys.exit("editor_window: cannot open the display")
    until = time.time() + timeout
    window, result = None, None
    while time.time() < until:
        window = find_window(display, name)
        if window:
            _, title, x, y, w, h = window
            time.sleep(2)  # let the host and the editor paint
            rows = grab(display, x, y, w, h)
            if rows:
                result = analyse(rows, w, h)
                colours, share, accent = result
                if colours >= 50 and share >= 0.3 and accent >= 200:
                    break
        time.sleep(1)
    if not window:
        print("no window named *%s* appeared within %d s" % (name, timeout))
        return 1
    _, title, x, y, w, h = window
    write_png(out, rows, w, h)
    colours, share, accent = result
    print("window \"%s\" %dx%d: %d colours, %.0f %% editor background, %d accent pixels; "
          "picture: %s" % (title, w, h, colours, share * 100, accent, out))
    return 0 if colours >= 50 and share >= 0.3 and accent >= 200 else 1


if __name__ == "__main__":
    sys.exit(main())
