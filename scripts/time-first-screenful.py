#!/usr/bin/env python3
"""Times `kelvane FOLDER` as a user meets it: from launch until every cell of
the first screenful shows its thumbnail, on a private X server (Xvfb) of
1200 x 800, once with an empty shared thumbnail cache (cold) and once more
with the cache the first run left (warm).

    scripts/time-first-screenful.py [--kelvane PATH] [FOLDER]

FOLDER defaults to the benchmarks' 100 distinct 24 MP JPEGs
(build/default/bench-corpus/distinct24mp-100/photos; `make bench
KELVANE_BENCH=screenful` writes them). Needs Xvfb, xdotool and ImageMagick's
`import`. Settings, ratings, history and caches live in a temporary folder,
never the user's.

The screen is polled: the coloured pixels (chroma above CHROMA) are counted,
less those of the window before any picture showed. The screenful is complete
once the count stays put for SETTLED_MS; its time is that of the first
screenshot within 2 % of the final count, so the photos must be coloured, as
the benchmark's are, and the times are late by up to one screenshot interval
(reported).
"""
import argparse
import os
import pathlib
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WIDTH, HEIGHT = 1200, 800
PICTURE_SIDE = 140  # a cell's picture square at a device pixel ratio of 1
CHROMA = 40
TIMEOUT_S = 60
SETTLED_MS = 2000  # the screen is taken as complete once it stays the same this long
MIN_PICTURE = PICTURE_SIDE * PICTURE_SIDE // 2  # half a cell's picture


STRIDE = 7  # every seventh pixel is looked at (not a divisor of the width)


def screenshot(display):
    return subprocess.run(
        ["import", "-display", display, "-window", "root", "-depth", "8", "rgb:-"],
        check=True, capture_output=True).stdout


def coloured_pixels(raw):
    step = 3 * STRIDE
    count = sum(1 for r, g, b in zip(raw[0::step], raw[1::step], raw[2::step])
                if max(r, g, b) - min(r, g, b) > CHROMA)
    return count * STRIDE


def times_of(series, baseline=None):
    """Launch to the first picture, to the screenful (all but 2 % of the
    coloured pixels the settled screen shows), the mean poll interval and the
    window's own coloured pixels (the least seen, unless given: a warm start
    may show pictures in its first screenshot)."""
    if baseline is None:
        baseline = min(count for _, count in series)
    final = series[-1][1] - baseline
    if final <= MIN_PICTURE:
        return None, None, None, baseline
    first = next(ms for ms, count in series if count - baseline > MIN_PICTURE)
    full = next(ms for ms, count in series if count - baseline >= 0.98 * final)
    return first, full, series[-1][0] / len(series), baseline


def free_display():
    for number in range(90, 140):
        if not os.path.exists(f"/tmp/.X11-unix/X{number}") and \
                not os.path.exists(f"/tmp/.X{number}-lock"):
            return f":{number}"
    sys.exit("no free X display number")


def run_once(kelvane, folder, home, display, baseline=None):
    env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb",
               XDG_CONFIG_HOME=str(home / "config"), XDG_DATA_HOME=str(home / "data"),
               XDG_CACHE_HOME=str(home / "cache"), XDG_RUNTIME_DIR=str(home / "runtime"))
    for key in ("config", "data", "cache", "runtime"):
        (home / key).mkdir(mode=0o700, exist_ok=True)
    started = time.monotonic()
    app = subprocess.Popen([kelvane, folder], env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    try:
        window = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                 str(app.pid)], env=env, check=True, capture_output=True,
                                timeout=TIMEOUT_S).stdout.split()[0]
        # Without a window manager the window may keep a size of its own.
        subprocess.run(["xdotool", "windowsize", window, str(WIDTH), str(HEIGHT)], env=env,
                       capture_output=True)
        series = []  # (ms from launch, coloured pixels)
        settled_since = None
        while time.monotonic() - started < TIMEOUT_S:
            pixels = coloured_pixels(screenshot(display))
            now = (time.monotonic() - started) * 1000
            if not series or abs(pixels - series[-1][1]) > 0.01 * max(pixels, 1):
                settled_since = now
            series.append((now, pixels))
            lowest = min(count for _, count in series) if baseline is None else baseline
            if pixels - lowest > MIN_PICTURE and now - settled_since > SETTLED_MS:
                break
        return times_of(series, baseline)
    finally:
        app.send_signal(signal.SIGTERM)  # a normal close: waits for nothing of ours
        try:
            app.wait(timeout=20)
        except subprocess.TimeoutExpired:
            app.kill()


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", nargs="?",
                        default=str(root / "build/default/bench-corpus/distinct24mp-100/photos"))
    parser.add_argument("--kelvane", default=str(root / "build/default/bin/kelvane"))
    args = parser.parse_args()
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            sys.exit(f"{tool} is missing")
    if not os.access(args.kelvane, os.X_OK):
        sys.exit(f"no program at {args.kelvane} (make build)")
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
        with tempfile.TemporaryDirectory() as scratch:
            home = pathlib.Path(scratch)
            baseline = None
            for run in ("cold", "warm"):
                first_ms, full_ms, poll_ms, baseline = run_once(args.kelvane, args.folder, home,
                                                                display, baseline)
                if full_ms is None:
                    print(f"{run}: no picture showed within {TIMEOUT_S} s", flush=True)
                    continue
                print(f"{run}: first cell {first_ms:.0f} ms, the whole screenful {full_ms:.0f} ms "
                      f"from launch (one screenshot every {poll_ms:.0f} ms)", flush=True)
    finally:
        server.terminate()
        server.wait()


if __name__ == "__main__":
    main()
