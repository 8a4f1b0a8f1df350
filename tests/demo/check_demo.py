#!/usr/bin/env python3
"""Runs the demo's scripted mode twice against the same simulated unit and
checks its JSON lines: first a whole update from erased flash, then a run
that finds every record already there and only compares.

Run as:  check_demo.py --program Updater --work DIR --name NAME --bus BUS --model MODEL
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

READY = "Click the Update Now button to begin updating the device's firmware."
DONE = ("The device's firmware was successfully updated. Turn off the device and then turn it "
        "on again to exit the firmware update mode.")
COMPARING = ("Comparing firmware...\nThe updater program is comparing the device's firmware to "
             "the new firmware.\nFile version: ")
UPDATING = ("Updating firmware...\nDo not turn off the device, disconnect the device, or close "
            "this program until the update has completed.\nFile version: ")
VERSION = " 2.05"
COMPLETE = "Update Complete Pls Power Cycle"
# The demo's image: 40 KiB internal, 40 external pages of 528 bytes.
IMAGE_DATA = 40 * 1024 + 40 * 528
FLASH_FILE_SIZE = 256 * 1024 + 512 * 528

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def run(args, fresh):
    command = [os.path.join(args.work, args.name), "--script", "--pace", "0", "--bus", args.bus,
               "--model", args.model]
    if fresh:
        command.append("--fresh")
    result = subprocess.run(command, cwd=args.work, stdin=subprocess.DEVNULL, capture_output=True,
                            timeout=90)
    lines = []
    for text in result.stdout.decode().splitlines():
        try:
            lines.append(json.loads(text))
        except ValueError:
            failures.append(f"not a JSON line: {text!r}")
    if result.returncode != 0:
        failures.append(f"exit code {result.returncode}: {result.stderr.decode()[-2000:]}")
    return lines


def of(lines, kind):
    return [line for line in lines if line["type"] == kind]


def check_common(lines, label, bus):
    check(lines and lines[0]["type"] == "start", f"{label}: no start line first")
    if lines:
        check(lines[0].get("file") == "/" + os.path.basename(lines[0].get("file", "")),
              f"{label}: start names no file")
    check(lines and lines[-1] == {"type": "exit", "code": 0}, f"{label}: no exit 0 line last")
    statuses = [s["text"] for s in of(lines, "status")]
    check(statuses[:1] == [READY], f"{label}: first status {statuses[:1]}")
    if bus == "firewire" and statuses[-1:] == [READY]:
        # The FireWire kind scans again on the next tick, which may come
        # before the scripted close: the unit is found ready once more.
        statuses.pop()
    check(statuses[-1:] == [DONE], f"{label}: last status {statuses[-1:]}")
    check(len(of(lines, "press")) == 1, f"{label}: not one press")
    # The update's own texts: comparing and updating, with the image's
    # version once it has been read.
    for text in statuses[1:-1]:
        check(text.startswith(COMPARING) or text.startswith(UPDATING), f"{label}: status {text!r}")
        check(text.endswith("File version: ") or text.endswith("File version: " + VERSION),
              f"{label}: version in {text!r}")
    if bus == "usb":
        check(any(t == COMPARING + VERSION for t in statuses), f"{label}: never compared with the version")
    else:
        # The FireWire device class shows "Updating" for the whole walk.
        check(all(not t.startswith(COMPARING) for t in statuses), f"{label}: a comparing text on FireWire")
    displays = [d["text"] for d in of(lines, "display")]
    check(displays[-1:] == [COMPLETE], f"{label}: display ends {displays[-1:]}")
    for text in displays[1:-1]:
        check(text.startswith("Working...       ") and text.endswith(" % Updated"),
              f"{label}: display {text!r}")
    commands = of(lines, "command")
    if bus == "usb":
        check(all(c["length"] == 48 for c in commands if c["code"] == 13),
              f"{label}: a display without 48 bytes")
        # Every display text the unit showed came with one display command.
        check(len(displays) == sum(1 for c in commands if c["code"] == 13),
              f"{label}: {len(displays)} texts, display commands differ")
    else:
        # Data and display go through registers: no data or display commands.
        check(all(c["code"] not in (4, 13) for c in commands), f"{label}: USB commands on FireWire")
    return statuses, commands


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--bus", required=True)
    parser.add_argument("--model", required=True)
    args = parser.parse_args()

    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    # The program under the product's file name, as scripts/run puts it.
    shutil.copy2(args.program, os.path.join(args.work, args.name))

    first = run(args, fresh=True)
    statuses, commands = check_common(first, "first run", args.bus)
    codes = {c["code"] for c in commands}
    check({6, 8, 9, 10, 11, 12} <= codes, f"first run: commands {sorted(codes)}")
    if args.bus == "usb":
        # Command 4 carries (offset in the chunk buffer, count 1 to 48) with
        # its report's 48 data bytes: the counts add up to the image's data.
        blocks = [c for c in commands if c["code"] == 4]
        written = sum(c["arg2"] for c in blocks)
        check(written == IMAGE_DATA, f"first run: {written} data bytes sent, image holds {IMAGE_DATA}")
        check(all(1 <= c["arg2"] <= 48 and c["arg1"] + c["arg2"] <= 8192 and c["length"] == 48
                  for c in blocks), "first run: a data block out of the chunk buffer")
    # Each program command covers its chunk: internal by bytes, external by
    # pages; together the image's data once.
    programmed = sum(c["arg2"] for c in commands if c["code"] == 8) + \
        528 * sum(c["arg2"] for c in commands if c["code"] == 6)
    check(programmed == IMAGE_DATA, f"first run: {programmed} bytes programmed of {IMAGE_DATA}")
    check(any(s.startswith(UPDATING) and s.endswith(VERSION) for s in statuses), "first run: never updated")
    flash = os.path.join(args.work, f"unit-{args.model}.flash")
    check(os.path.isfile(flash) and os.path.getsize(flash) == FLASH_FILE_SIZE, "first run: flash not kept")

    second = run(args, fresh=False)
    statuses, commands = check_common(second, "second run", args.bus)
    codes = {c["code"] for c in commands}
    check(codes.isdisjoint({4, 6, 8}), f"second run wrote: {sorted(codes)}")
    check({9, 10, 11, 12} <= codes, f"second run compared with {sorted(codes)}")
    if args.bus == "usb":
        check(not any(s.startswith(UPDATING) and s.endswith(VERSION) for s in statuses),
              "second run: updating once the image was read")

    for failure in failures:
        print("FAILED:", failure)
    print("demo: passed" if not failures else f"demo: {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
