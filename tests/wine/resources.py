#!/usr/bin/env python3
"""Checks the Windows product file itself: a 64-bit GUI program that needs no
DLL beyond the system's, with the resources the dialog needs (dialogs 100 and
102, string 101, icon group 128 with its two images, manifest, version), as
llvm-readobj reads them from the executable.

Run as:  resources.py --readobj llvm-readobj --objdump OBJDUMP Updater.exe
Exit code 0: passed; 1: failed; 77: skipped (no Windows build).
"""

import argparse
import os
import re
import struct
import subprocess
import sys

RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
LANG_EN_US = 0x409

# Every DLL the product may import: the system's own.
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "comctl32.dll", "gdi32.dll", "hid.dll",
               "setupapi.dll", "msvcrt.dll", "advapi32.dll", "ntdll.dll"}

WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU = 0x80000000, 0x10000000, 0x00C00000, 0x00080000
WS_CHILD, WS_BORDER, WS_GROUP, WS_TABSTOP = 0x40000000, 0x00800000, 0x00020000, 0x00010000
DS_3DLOOK, DS_FIXEDSYS, DS_SETFONT, DS_MODALFRAME = 0x4, 0x8, 0x40, 0x80
WS_EX_TOPMOST, WS_EX_APPWINDOW = 0x8, 0x40000
BS_DEFPUSHBUTTON, SS_CENTER, SS_NOPREFIX, PBS_SMOOTH = 0x1, 0x1, 0x80, 0x1

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def resources(readobj, exe):
    """{(type, name, language): bytes} from llvm-readobj's dump."""
    text = subprocess.run([readobj, "--coff-resources", exe], check=True, capture_output=True,
                          timeout=60).stdout.decode()
    found, kind, name, lang, data = {}, None, None, None, None
    for line in text.splitlines():
        m = re.match(r"\s*Type: .*\(ID (\d+)\) \[", line)
        if m:
            kind = int(m.group(1))
            continue
        m = re.match(r"\s*Name: .*\(ID (\d+)\) \[", line)
        if m:
            name = int(m.group(1))
            continue
        m = re.match(r"\s*Language: \(ID (\d+)\) \[", line)
        if m:
            lang = int(m.group(1))
            continue
        if re.match(r"\s*Data \($", line):
            data = bytearray()
            continue
        if data is not None:
            m = re.match(r"\s*[0-9A-F]{4}: ((?:[0-9A-F]{2,8} ?)+)\s*\|", line)
            if m:
                data += bytes.fromhex(m.group(1).replace(" ", ""))
                continue
            if re.match(r"\s*\)$", line):
                found[(kind, name, lang)] = bytes(data)
                data = None
    return found


def wide_string(data, offset):
    """A terminated UTF-16 string and the offset after it."""
    end = offset
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[offset:end].decode("utf-16-le"), end + 2


def sz_or_ord(data, offset):
    if data[offset:offset + 2] == b"\xff\xff":
        return struct.unpack_from("<H", data, offset + 2)[0], offset + 4
    return wide_string(data, offset)


def parse_dialogex(data):
    ver, sig, _help, ex, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    if (ver, sig) != (1, 0xFFFF):
        raise ValueError("not an extended dialog template")
    offset = 26
    menu, offset = sz_or_ord(data, offset)
    cls, offset = sz_or_ord(data, offset)
    caption, offset = wide_string(data, offset)
    dialog = {"exStyle": ex, "style": style, "rect": (x, y, cx, cy), "menu": menu,
              "class": cls, "caption": caption, "controls": []}
    if style & DS_SETFONT:
        points, weight, italic, charset = struct.unpack_from("<HHBB", data, offset)
        face, offset = wide_string(data, offset + 6)
        dialog["font"] = (points, weight, italic, charset, face)
    for _ in range(count):
        offset = (offset + 3) & ~3
        _help, ex, style, x, y, cx, cy, ident = struct.unpack_from("<IIIhhhhi", data, offset)
        offset += 24
        cls, offset = sz_or_ord(data, offset)
        title, offset = sz_or_ord(data, offset)
        extra = struct.unpack_from("<H", data, offset)[0]
        offset += 2 + extra
        names = {0x80: "button", 0x82: "static"}
        cls = names.get(cls, cls) if isinstance(cls, int) else cls.lower()
        dialog["controls"].append({"id": ident, "class": cls, "text": title, "style": style,
                                   "rect": (x, y, cx, cy)})
    return dialog


def has_style(style, *bits):
    return all(style & b == b for b in bits)


def check_main_dialog(dialog):
    check(dialog["caption"] == "VARN Firmware Updater", f"dialog 102 caption {dialog['caption']!r}")
    check(dialog["rect"] == (0, 0, 150, 122), f"dialog 102 at {dialog['rect']}")
    check(has_style(dialog["style"], WS_POPUP, WS_VISIBLE, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME,
                    DS_SETFONT, DS_3DLOOK), "dialog 102 style")
    check(has_style(dialog["exStyle"], WS_EX_TOPMOST, WS_EX_APPWINDOW), "dialog 102 extended style")
    check(dialog.get("font", ())[:2] == (12, 700) and dialog["font"][4] == "Microsoft Sans Serif",
          f"dialog 102 font {dialog.get('font')}")
    wanted = [
        (1002, "button", "Update Now", (50, 99, 50, 16), [WS_VISIBLE, WS_TABSTOP, BS_DEFPUSHBUTTON]),
        (1000, "static", "No updateable devices detected...", (7, 7, 136, 53),
         [WS_VISIBLE, SS_CENTER]),
        (1001, "msctls_progress32", "", (7, 65, 136, 7), [WS_VISIBLE, WS_BORDER, PBS_SMOOTH]),
        (1004, "msctls_progress32", "", (7, 82, 136, 8), [WS_VISIBLE, WS_BORDER, PBS_SMOOTH]),
        (-1, "static", "Overall Update Progress", (35, 74, 79, 8), [WS_VISIBLE]),
    ]
    got = dialog["controls"]
    check([c["id"] for c in got] == [w[0] for w in wanted],
          f"dialog 102 control order {[c['id'] for c in got]}")
    for control, (ident, cls, text, rect, bits) in zip(got, wanted):
        check(control["class"] == cls and control["text"] == text and control["rect"] == rect,
              f"dialog 102 control {ident}: {control}")
        check(has_style(control["style"], WS_CHILD, *bits), f"dialog 102 control {ident} style")


def check_about_box(dialog):
    check(dialog["caption"] == "About Updater", f"dialog 100 caption {dialog['caption']!r}")
    check(dialog["rect"][2:] == (235, 55), f"dialog 100 size {dialog['rect']}")
    check(has_style(dialog["style"], WS_POPUP, WS_CAPTION, WS_SYSMENU, DS_MODALFRAME, DS_SETFONT,
                    DS_FIXEDSYS) and not dialog["style"] & WS_VISIBLE, "dialog 100 style")
    got = dialog["controls"]
    check([c["id"] for c in got] == [-1, -1, 1], f"dialog 100 controls {got}")
    if len(got) == 3:
        check(got[0]["text"] == "VARN Updater" and has_style(got[0]["style"], SS_NOPREFIX),
              "dialog 100 first line")
        check(got[1]["text"] != "", "dialog 100 second line")
        check(got[2]["class"] == "button" and got[2]["text"] == "OK"
              and has_style(got[2]["style"], BS_DEFPUSHBUTTON), "dialog 100 OK button")


def string_resource(found, ident):
    block = found.get((RT_STRING, ident // 16 + 1, LANG_EN_US))
    if block is None:
        return None
    offset = 0
    for index in range(16):
        length = struct.unpack_from("<H", block, offset)[0]
        text = block[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        if index == ident % 16:
            return text
        offset += 2 + 2 * length
    return None


def check_icon(found):
    group = found.get((RT_GROUP_ICON, 128, LANG_EN_US))
    if not check(group is not None, "icon group 128 missing"):
        return
    reserved, kind, count = struct.unpack_from("<HHH", group, 0)
    check((reserved, kind, count) == (0, 1, 2), f"icon group 128 header {(reserved, kind, count)}")
    sizes = []
    for i in range(count):
        w, h, _colors, _r, _planes, bpp, size, ident = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        image = found.get((RT_ICON, ident, LANG_EN_US))
        if check(image is not None and len(image) == size, f"icon image {ident}"):
            # A DIB with its mask: the header's height is twice the image's.
            _hs, dib_w, dib_h, _planes, dib_bpp = struct.unpack_from("<IiiHH", image, 0)
            check(dib_w == (w or 256) and dib_h == 2 * (h or 256) and dib_bpp == 24,
                  f"icon image {ident}: {dib_w}x{dib_h}, {dib_bpp} bits")
        sizes.append((w, h, bpp))
    check(sorted(sizes) == [(16, 16, 24), (32, 32, 24)], f"icon group 128 images {sizes}")


def check_manifest(found):
    data = found.get((RT_MANIFEST, 1, LANG_EN_US))
    if not check(data is not None, "manifest missing"):
        return
    text = data.decode("utf-8", "replace")
    check(re.search(r'level\s*=\s*"asInvoker"', text) is not None, "manifest: not asInvoker")
    check(re.search(r'uiAccess\s*=\s*"false"', text) is not None, "manifest: uiAccess")
    check(re.search(r"<(\w+:)?dpiAware[^>]*>\s*true", text) is not None, "manifest: not DPI aware")
    check("Common-Controls" not in text, "manifest: asks for the version 6 common controls")


def check_version(found):
    data = found.get((RT_VERSION, 1, LANG_EN_US))
    if not check(data is not None, "version resource missing"):
        return
    fixed = data.find(struct.pack("<I", 0xFEEF04BD))
    if check(fixed >= 0, "version: no fixed file info"):
        file_os, file_type = struct.unpack_from("<II", data, fixed + 32)
        check(file_os == 0x4 and file_type == 0x1, f"version: os {file_os:#x}, type {file_type:#x}")
    check("040904e4".encode("utf-16-le") in data.lower(), "version: no 0409/1252 string table")
    pair = "FileDescription\0".encode("utf-16-le")
    at = data.find(pair)
    if check(at >= 0, "version: no FileDescription"):
        value_at = (at + len(pair) + 3) & ~3
        value, _ = wide_string(data, value_at)
        check(value == "Updater for VARN", f"version: file description {value!r}")


def check_binary(objdump, exe):
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True,
                          timeout=60).stdout.decode()
    check("(PE32+)" in text, "not a 64-bit executable")
    check(re.search(r"Subsystem\s+00000002", text) is not None, "not a GUI program")
    dlls = {d.lower() for d in re.findall(r"DLL Name: (\S+)", text)}
    check(dlls and dlls <= SYSTEM_DLLS, f"imports beyond the system's: {sorted(dlls - SYSTEM_DLLS)}")
    print("imports:", " ".join(sorted(dlls)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--readobj", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    if not os.path.isfile(args.exe):
        print(f"skipped: {args.exe} is not built (build the windows preset)")
        return 77

    check_binary(args.objdump, args.exe)
    found = resources(args.readobj, args.exe)
    check(all(lang == LANG_EN_US for _, _, lang in found), "a resource not in U.S. English")
    for ident, checker in ((102, check_main_dialog), (100, check_about_box)):
        data = found.get((RT_DIALOG, ident, LANG_EN_US))
        if check(data is not None, f"dialog {ident} missing"):
            checker(parse_dialogex(data))
    check(string_resource(found, 101) == "&About Updater...",
          f"string 101 {string_resource(found, 101)!r}")
    check_icon(found)
    check_manifest(found)
    check_version(found)

    for failure in failures:
        print("FAILED:", failure)
    if not failures:
        print("resources: passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
