#!/usr/bin/env python3
"""Times `kelvane FOLDER` as a user meets it: from launch until every cell of
the first screenful shows its thumbnail, on a private X server (Xvfb) of
1200 x 800, with an empty shared thumbnail cache (cold) and with the cache a
finished run left (warm).

    scripts/time-first-screenful.py [--kelvane PATH] [--shots DIR] [FOLDER]

FOLDER defaults to the benchmarks' 100 distinct 24 MP JPEGs
(build/default/bench-corpus/distinct24mp-100/photos; `make bench
KELVANE_BENCH=screenful` writes them). Needs Xvfb and ImageMagick's `convert`.
Settings, ratings, history and caches live in temporary folders, never the
user's.

Watching the screen while the program starts would take CPU from it (a
screenshot and its pixel count cost a good part of a core at the rate a
fine timing needs). So each launch is looked at once only: one screenshot at
a set time T after launch, compared with the screen once the program has
settled. The screenful counts as shown at T when that screenshot holds all
but 2 % of the coloured pixels (chroma above CHROMA) of the settled screen;
the photos must be coloured, as the benchmark's are (a missing cell is
about 5 % of them). T is found by bisection over launches, to STEP_MS; each
launch starts from the same state (a fresh home for cold, a copy of a warmed
one for warm). As one launch differs from the next, a few more are then
looked at at the target time (1.3 s cold, 0.4 s warm, by default) and the
share that showed the whole screenful is reported; the first one's screen at
that time is saved as a PNG.
"""
import argparse
import ctypes
import ctypes.util
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 1200, 800
CHROMA = 40
COMPLETE = 0.98  # the share of the settled screen's coloured pixels that counts as all cells
STRIDE = 67  # one pixel in 67 is looked at (not a divisor of the width): ~290 per cell
STEP_MS = 20  # the bisection's resolution
SETTLE_POLL_S = 0.25
SETTLED_S = 1.5  # the screen is taken as settled once it stays the same this long
TIMEOUT_S = 60
HOME_KEYS = ("config", "data", "cache", "runtime")


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class Screen:
    """The root window's pixels, read straight through Xlib."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XGetImage.restype = ctypes.POINTER(XImage)
        self.x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                       ctypes.c_int, ctypes.c_uint, ctypes.c_uint,
                                       ctypes.c_ulong, ctypes.c_int]
        self.x11.XFree.argtypes = [ctypes.c_void_p]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.connection = self.x11.XOpenDisplay(display.encode())
        if not self.connection:
            sys.exit(f"cannot open display {display}")
        self.root = self.x11.XDefaultRootWindow(self.connection)

    def grab(self):
        """The screen as rows of BGRX pixels."""
        all_planes, z_pixmap = 0xFFFFFFFFFFFFFFFF, 2
        image = self.x11.XGetImage(self.connection, self.root, 0, 0, WIDTH, HEIGHT,
                                   all_planes, z_pixmap)
        try:
            if image.contents.bits_per_pixel != 32:
                sys.exit("the X server must run at 24 bits in 32-bit pixels")
            if image.contents.bytes_per_line != 4 * WIDTH:
                sys.exit("unexpected padding in the X server's image rows")
            return ctypes.string_at(image.contents.data, 4 * WIDTH * HEIGHT)
        finally:
            self.x11.XFree(image.contents.data)
            self.x11.XFree(image)

    def coloured_pixels(self, raw=None):
        raw = raw or self.grab()
        step = 4 * STRIDE
        count = sum(1 for b, g, r in zip(raw[0::step], raw[1::step], raw[2::step])
                    if max(r, g, b) - min(r, g, b) > CHROMA)
        return count * STRIDE

    def close(self):
        self.x11.XCloseDisplay(self.connection)


def make_home(path):
    for key in HOME_KEYS:
        (path / key).mkdir(mode=0o700, parents=True, exist_ok=True)
    return path


def launch(kelvane, folder, home, display):
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               XDG_CONFIG_HOME=str(home / "config"), XDG_DATA_HOME=str(home / "data"),
               XDG_CACHE_HOME=str(home / "cache"), XDG_RUNTIME_DIR=str(home / "runtime"))
    return subprocess.Popen([kelvane, folder], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def close(app):
    app.send_signal(signal.SIGTERM)  # a normal close: ratings and caches are saved
    try:
        app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        app.kill()


def settled_count(screen):
    last, since = screen.coloured_pixels(), time.monotonic()
    while time.monotonic() - since < SETTLED_S:
        time.sleep(SETTLE_POLL_S)
        count = screen.coloured_pixels()
        if abs(count - last) > 0.01 * max(count, 1):
            last, since = count, time.monotonic()
        if time.monotonic() - since > TIMEOUT_S:
            break
    return last


def shown_at(kelvane, folder, home, display, screen, at_ms, shot=None):
    """Whether one launch shows its whole first screenful at_ms after it
    started (the window opens at 1200 x 800 by itself and, with no window
    manager, covers the screen)."""
    started = time.monotonic()
    app = launch(kelvane, folder, home, display)
    try:
        time.sleep(max(0.0, started + at_ms / 1000 - time.monotonic()))
        early = screen.grab()
        final = settled_count(screen)
        if shot:
            subprocess.run(["convert", "-size", f"{WIDTH}x{HEIGHT}", "-depth", "8", "bgra:-",
                            "-alpha", "off", str(shot)], input=early, check=True)
        return screen.coloured_pixels(early) >= COMPLETE * final and final > 0
    finally:
        close(app)


def first_screenful_ms(trial, guess_ms):
    """The least T (to STEP_MS) at which trial(T) shows the whole screenful."""
    low, high = 0, guess_ms
    while not trial(high):
        low, high = high, high * 2
        if high > TIMEOUT_S * 1000:
            return None
    while high - low > STEP_MS:
        middle = (low + high) // 2
        if trial(middle):
            high = middle
        else:
            low = middle
    return high


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?",
                        default=str(root / "build/default/bench-corpus/distinct24mp-100/photos"))
    parser.add_argument("--kelvane", default=str(root / "build/default/bin/kelvane"))
    parser.add_argument("--shots", default=tempfile.gettempdir(),
                        help="where the screen of each kind of launch is saved")
    parser.add_argument("--cold-target", type=int, default=1300, metavar="MS")
    parser.add_argument("--warm-target", type=int, default=400, metavar="MS")
    parser.add_argument("--checks", type=int, default=5,
                        help="launches looked at once more at each target time")
    args = parser.parse_args()
    for tool in ("Xvfb", "convert"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    if not os.access(args.kelvane, os.X_OK):
        sys.exit(f"no program at {args.kelvane} (make build)")
    pathlib.Path(args.shots).mkdir(parents=True, exist_ok=True)
    if not os.path.isdir(args.folder):
        sys.exit(f"no folder {args.folder} (make bench KELVANE_BENCH=screenful writes it)")

    display = free_display()
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", f"{WIDTH}x{HEIGHT}x24",
                               "-nolisten", "tcp"], stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            if os.path.exists(f"/tmp/.X11-unix/X{display[1:]}"):
                break
            time.sleep(0.05)
        screen = Screen(display)
        with tempfile.TemporaryDirectory() as scratch:
            scratch = pathlib.Path(scratch)
            launches = iter(range(1_000_000))

            def fresh_home(template=None):
                home = scratch / f"home{next(launches)}"
                if template:
                    shutil.copytree(template, home, symlinks=True)
                return make_home(home)

            def cold(at_ms, shot=None):
                return shown_at(args.kelvane, args.folder, fresh_home(), display, screen,
                                at_ms, shot)

            warmed = fresh_home()
            shown_at(args.kelvane, args.folder, warmed, display, screen, 0)

            def warm(at_ms, shot=None):
                return shown_at(args.kelvane, args.folder, fresh_home(warmed), display, screen,
                                at_ms, shot)

            for name, trial, target_ms in (("cold", cold, args.cold_target),
                                           ("warm", warm, args.warm_target)):
                shown_ms = first_screenful_ms(trial, target_ms)
                if shown_ms is None:
                    print(f"{name}: the screenful did not show within {TIMEOUT_S} s", flush=True)
                    continue
                shot = pathlib.Path(args.shots) / f"first-screenful-{name}.png"
                at_target = sum(trial(target_ms, shot if i == 0 else None)
                                for i in range(args.checks))
                print(f"{name}: the whole first screenful shows {shown_ms} ms after launch "
                      f"(bisection to {STEP_MS} ms); at {target_ms} ms it showed in {at_target} "
                      f"of {args.checks} launches (the first one's screen then: {shot})",
                      flush=True)
        screen.close()
    finally:
        server.terminate()
        server.wait()


def free_display():
    for number in range(90, 140):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}") and \
                not os.path.exists(f"/tmp/.X{number}-lock"):
            return f":{number}"
    sys.exit("no free X display number")


if __name__ == "__main__":
    main()
