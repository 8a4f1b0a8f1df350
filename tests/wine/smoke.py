#!/usr/bin/env python3
"""Smoke tests of the real Updater.exe under Wine, inside Xvfb.

Run as:  smoke.py --build-dir DIR --exe Updater.exe --probe wine_probe.exe SCENARIO

DIR holds the Wine prefix (made by the scenario "prefix"), the programs'
copies, their logs and the screenshots. The whole run sits inside xvfb-run
(see --xvfb); every Wine call gets the quiet environment, stdin from
/dev/null, its output in a log file and a time-out, and the Wine server is
killed at the end, so nothing is left holding CTest's pipes.

Exit code 0: passed; 1: failed; 77: skipped (no Windows build to test).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MAIN_CAPTION = "VARN Firmware Updater"
ABOUT_CAPTION = "About Updater"

# The texts the dialog must show when no unit is found (status 3), by kind.
NOT_DETECTED = {
    "plimo": "The device is not detected. Confirm that it is connected to the computer by USB. "
             "Press and hold the Value knob, and then turn it on to switch it to the firmware "
             "update mode.",
    "dunmi": "The Dunmi is not detected. Confirm that it is connected to the computer by USB. "
             "Press and hold the knob, and then turn it on to switch it to the firmware update "
             "mode.",
}

WM_CLOSE = 0x0010
WM_KEYDOWN = 0x0100
WM_SYSCOMMAND = 0x0112
VK_ESCAPE = 0x1B
IDM_ABOUTBOX = 0x10
IDOK = 1

SKIP = 77

# How far, in pixels, a centred window's centre may stand from the centre it
# was placed on: halving odd sizes rounds on both sides.
CENTRE_SLACK = 3


class Failure(Exception):
    pass


class Wine:
    def __init__(self, build_dir, probe):
        self.dir = build_dir
        self.prefix = os.path.join(build_dir, "prefix")
        self.work = os.path.join(build_dir, "work")
        self.shots = os.path.join(build_dir, "screens")
        self.probe = probe
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        self.log = open(os.path.join(build_dir, "wine.log"), "a")

    def run(self, args, timeout=30, cwd=None):
        """Runs a Wine command to its end; returns (exit code, stdout)."""
        # Output through a file, not a pipe: a Wine process started on the
        # way (the server, say) would hold a pipe open after the call ends.
        with tempfile.TemporaryFile(dir=self.dir) as out:
            result = subprocess.run(["wine"] + args, env=self.env, cwd=cwd or self.work,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=self.log,
                                    timeout=timeout)
            out.seek(0)
            return result.returncode, out.read().decode("utf-8", "replace")

    def start(self, program):
        """Starts a program in the background, in the work folder."""
        return subprocess.Popen(["wine", program], env=self.env, cwd=self.work,
                                stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)

    def probe_cmd(self, *args, timeout=30):
        return self.run([self.probe] + [str(a) for a in args], timeout=timeout)

    def server(self, flag):
        subprocess.run(["wineserver", flag], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=self.log, stderr=self.log, timeout=30)


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "\\": "\\"}.get(text[i + 1], text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def parse_dump(text):
    """The probe's dump: the window's state and its controls by id."""
    window, controls = None, []
    for line in text.splitlines():
        if line.startswith("window "):
            head, _, rest = line[len("window "):].partition(" \"")
            caption, _, rect = rest.rpartition("\" ")
            window = {"visible": head == "1", "caption": unescape(caption),
                      "rect": [int(v) for v in rect.split()]}
        elif line.startswith("control "):
            head, _, rest = line[len("control "):].partition(" \"")
            ident, cls, visible, pos = head.split()
            controls.append({"id": int(ident), "class": cls, "visible": visible == "1",
                             "pos": int(pos), "text": unescape(rest[:-1])})
    if window is None:
        raise Failure("no window in the probe's dump:\n" + text)
    window["controls"] = controls
    return window


def dump(wine, caption):
    code, out = wine.probe_cmd("dump", caption)
    if code != 0:
        raise Failure(f"no window \"{caption}\"")
    return parse_dump(out)


def control(state, ident):
    for c in state["controls"]:
        if c["id"] == ident:
            return c
    raise Failure(f"control {ident} missing from \"{state['caption']}\"")


def find(wine, caption, ms=20000):
    code, out = wine.probe_cmd("find", caption, ms, timeout=ms / 1000 + 20)
    if code != 0:
        raise Failure(f"window \"{caption}\" did not appear within {ms} ms")
    return [int(v) for v in out.split()[1:5]]


def work_area(wine):
    code, out = wine.probe_cmd("workarea")
    if code != 0:
        raise Failure("could not read the work area")
    return [int(v) for v in out.split()[1:5]]


def check_centred(rect, on, what):
    """The rectangle's centre within a few pixels of that of `on`."""
    x, y = (rect[0] + rect[2]) / 2, (rect[1] + rect[3]) / 2
    cx, cy = (on[0] + on[2]) / 2, (on[1] + on[3]) / 2
    if abs(x - cx) > CENTRE_SLACK or abs(y - cy) > CENTRE_SLACK:
        raise Failure(f"{what}: window {rect} has its centre at ({x}, {y}), "
                      f"not at ({cx}, {cy}) of {on}")


def wait_state(wine, caption, condition, what, seconds=10):
    """Reads the window until the condition holds; the last state otherwise."""
    until = time.monotonic() + seconds
    while True:
        state = dump(wine, caption)
        if condition(state):
            return state
        if time.monotonic() >= until:
            raise Failure(f"{what}: not within {seconds} s; last state: {state}")
        time.sleep(0.2)


def screenshot(wine, rect, name):
    """The window's area of the screen, saved under screens/; checked for
    being drawn at all: a blank or single-colour area fails."""
    left, top, right, bottom = rect
    width, height = right - left, bottom - top
    if width <= 0 or height <= 0:
        raise Failure(f"window rectangle {rect} is empty")
    # Wine repaints lag behind the action that caused them.
    time.sleep(2)
    os.makedirs(wine.shots, exist_ok=True)
    path = os.path.join(wine.shots, name)
    subprocess.run(["/usr/bin/import", "-window", "root", "-crop",
                    f"{width}x{height}+{left}+{top}", "+repage", path],
                   check=True, timeout=30, stdin=subprocess.DEVNULL)
    histogram = subprocess.run(["/usr/bin/convert", path, "-format", "%c", "histogram:info:-"],
                               check=True, timeout=30, capture_output=True).stdout.decode()
    counts = []
    for line in histogram.splitlines():
        head = line.strip().split(":", 1)[0]
        if head.isdigit():
            counts.append(int(head))
    total = sum(counts)
    if total != width * height:
        raise Failure(f"{name}: {total} pixels, expected {width * height}")
    background = max(counts)
    drawn = total - background
    # Text, frames and bars: several colours, and a few percent of the area
    # not the background.
    if len(counts) < 4 or drawn < total * 0.02:
        raise Failure(f"{name} looks blank: {len(counts)} colours, {drawn} of {total} pixels drawn")
    print(f"{name}: {width}x{height}, {len(counts)} colours, {drawn * 100 // total}% drawn")


def copy_program(wine, exe, name):
    os.makedirs(wine.work, exist_ok=True)
    target = os.path.join(wine.work, name)
    shutil.copyfile(exe, target)
    return name


def finish(wine, process, seconds=15):
    """The program's exit code once it has ended by itself."""
    try:
        return process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        raise Failure(f"the program did not end within {seconds} s")


# ---------------------------------------------------------------- scenarios

def scenario_prefix(wine, args):
    """A fresh prefix of the suite's own, with captions drawn and no window
    manager needed to close a dialog quickly."""
    shutil.rmtree(wine.prefix, ignore_errors=True)
    shutil.rmtree(wine.work, ignore_errors=True)
    shutil.rmtree(wine.shots, ignore_errors=True)
    os.makedirs(wine.work)
    code, _ = wine.run(["wineboot", "-i"], timeout=120)
    if code != 0:
        raise Failure(f"wineboot -i failed ({code})")
    for value in ("Decorated", "Managed"):
        code, _ = wine.run(["reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", value,
                            "/t", "REG_SZ", "/d", "N", "/f"])
        if code != 0:
            raise Failure(f"reg add {value} failed ({code})")
    wine.server("-w")


def check_main_dialog(state):
    if state["caption"] != MAIN_CAPTION or not state["visible"]:
        raise Failure(f"main dialog: {state}")
    if control(state, -1)["text"] != "Overall Update Progress":
        raise Failure("the overall bar's label is missing")
    if not control(state, 1004)["visible"]:
        raise Failure("the overall bar is hidden")


def scenario_plimo(wine, args):
    """Named for Plimo, with no unit of the maker's: the Plimo text of no
    unit detected, no button, no record bar; the dialog centred on the work
    area and the about box from the system menu centred over it; Esc ends
    the program with exit code 0."""
    process = wine.start(copy_program(wine, args.exe, "Plimo Updater.exe"))
    try:
        rect = find(wine, MAIN_CAPTION)
        check_centred(rect, work_area(wine), "the dialog on the work area")
        # Wine's own HID devices are not the maker's, so the first poll finds
        # nothing.
        state = wait_state(wine, MAIN_CAPTION,
                           lambda s: control(s, 1000)["text"] == NOT_DETECTED["plimo"],
                           "the Plimo text of no unit detected")
        if control(state, 1002)["visible"]:
            raise Failure("\"Update Now\" is shown with no unit")
        if control(state, 1001)["visible"]:
            raise Failure("the record bar is shown after detection")
        check_main_dialog(dump(wine, MAIN_CAPTION))
        screenshot(wine, rect, "dialog.png")

        code, _ = wine.probe_cmd("post", MAIN_CAPTION, WM_SYSCOMMAND, IDM_ABOUTBOX, 0)
        if code != 0:
            raise Failure("could not post the about command")
        about_rect = find(wine, ABOUT_CAPTION, 10000)
        check_centred(about_rect, rect, "the about box over the dialog")
        about = dump(wine, ABOUT_CAPTION)
        texts = [c["text"] for c in about["controls"]]
        if "VARN Updater" not in texts or control(about, IDOK)["text"] != "OK":
            raise Failure(f"about box: {about}")
        screenshot(wine, about_rect, "about.png")

        wine.probe_cmd("click", ABOUT_CAPTION, IDOK)
        if wine.probe_cmd("gone", ABOUT_CAPTION, 10000)[0] != 0:
            raise Failure("OK did not close the about box")
        check_main_dialog(dump(wine, MAIN_CAPTION))

        wine.probe_cmd("post", MAIN_CAPTION, WM_KEYDOWN, VK_ESCAPE, 0)
        code = finish(wine, process)
        if code != 0:
            raise Failure(f"exit code {code} after Esc")
    finally:
        if process.poll() is None:
            process.kill()


def scenario_dunmi(wine, args):
    """Named plainly Updater.exe: the Dunmi text, the dialog centred on the
    work area; WM_CLOSE ends it with 0."""
    process = wine.start(copy_program(wine, args.exe, "Updater.exe"))
    try:
        check_centred(find(wine, MAIN_CAPTION), work_area(wine), "the dialog on the work area")
        wait_state(wine, MAIN_CAPTION,
                   lambda s: control(s, 1000)["text"] == NOT_DETECTED["dunmi"],
                   "the Dunmi text of no unit detected")
        check_main_dialog(dump(wine, MAIN_CAPTION))
        wine.probe_cmd("post", MAIN_CAPTION, WM_CLOSE, 0, 0)
        code = finish(wine, process)
        if code != 0:
            raise Failure(f"exit code {code} after WM_CLOSE")
    finally:
        if process.poll() is None:
            process.kill()


def scenario_version(wine, args):
    """The version resource as Windows reads it from the file."""
    name = copy_program(wine, args.exe, "Updater.exe")
    code, out = wine.probe_cmd("version", name, "FileDescription")
    if code != 0 or out.strip() != "Updater for VARN":
        raise Failure(f"file description: {out.strip()!r} ({code})")


SCENARIOS = {
    "prefix": scenario_prefix,
    "plimo": scenario_plimo,
    "dunmi": scenario_dunmi,
    "version": scenario_version,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--xvfb", action="store_true",
                        help="run inside a fresh xvfb-run (the default for CTest)")
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    args = parser.parse_args()

    for path in (args.exe, args.probe):
        if not os.path.isfile(path):
            print(f"skipped: {path} is not built (build the windows preset)")
            return SKIP
    os.makedirs(args.build_dir, exist_ok=True)

    if args.xvfb:
        # Re-run inside a virtual display of our own; xvfb-run returns the
        # script's code. The outer time-out is the last resort against a hang.
        inner = [a for a in sys.argv[1:] if a != "--xvfb"]
        run = subprocess.Popen(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24",
                                sys.executable, os.path.abspath(__file__)] + inner,
                               stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            return run.wait(timeout=170)
        except subprocess.TimeoutExpired:
            print("timed out: ending the virtual display and everything under it")
            os.killpg(run.pid, signal.SIGKILL)
            run.wait()
            Wine(os.path.abspath(args.build_dir), args.probe).server("-k")
            return 1

    wine = Wine(os.path.abspath(args.build_dir), os.path.abspath(args.probe))
    if args.scenario != "prefix" and not os.path.isdir(wine.prefix):
        print("no Wine prefix: run the scenario \"prefix\" first")
        return 1
    args.exe = os.path.abspath(args.exe)
    os.makedirs(wine.work, exist_ok=True)
    shutil.copyfile(args.probe, os.path.join(wine.work, os.path.basename(args.probe)))
    wine.probe = os.path.basename(args.probe)
    try:
        SCENARIOS[args.scenario](wine, args)
        print(f"{args.scenario}: passed")
        return 0
    except (Failure, subprocess.TimeoutExpired, subprocess.CalledProcessError) as error:
        print(f"{args.scenario}: FAILED: {error}")
        return 1
    finally:
        # Wine's background processes would keep the pipes open.
        try:
            wine.server("-k")
        except subprocess.TimeoutExpired:
            pass


if __name__ == "__main__":
    sys.exit(main())
