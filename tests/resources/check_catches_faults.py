#!/usr/bin/python3
"""Proves that check_resources.py notices broken resources.

    /usr/bin/python3 tests/resources/check_catches_faults.py build/windows/kompakto.exe

Runs the check once on the executable as built (it must pass), then on
copies with one fault each (it must fail, and with the check that is about
that fault), and once with a committed icon image that no longer matches its
generator. Prints one line per case and ends with "N passed, M failed".
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
CHECK = os.path.join(HERE, "check_resources.py")


def run_check(exe, check=CHECK):
    done = subprocess.run([sys.executable, check, exe], capture_output=True, text=True)
    return done.returncode, done.stdout


def entries(pe, rtype):
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id == rtype:
            return t
    raise KeyError(rtype)


def data_of(pe, rtype, index=0):
    """(rva, bytes) of the first language of the index-th resource of a type."""
    lang = entries(pe, rtype).directory.entries[index].directory.entries[0]
    d = lang.data.struct
    return d.OffsetToData, pe.get_data(d.OffsetToData, d.Size)


# A fault either changes a field of the resource directory on the parsed
# file (pefile writes those back) or returns (rva, bytes) patches that are
# laid over the written file.

def patch_bytes(rtype, index, find, replace):
    """Replaces the first occurrence of some bytes inside one resource's data."""
    def apply(pe):
        rva, data = data_of(pe, rtype, index)
        return [(rva + data.index(find), replace)]
    return apply


def patch_at(rtype, index, offset, replace):
    def apply(pe):
        rva, _ = data_of(pe, rtype, index)
        return [(rva + offset, replace)]
    return apply


def group_planes_one(pe):
    """What windres does to a group built from an .ico file."""
    rva, _ = data_of(pe, 14)
    return [(rva + 6 + 14 * i + 4, struct.pack("<HH", 1, 32 if i < 2 else 8)) for i in range(3)]


def rename_group(pe):
    name = entries(pe, 14).directory.entries[0].name
    return [(name.get_rva() + 2, "J".encode("utf-16-le"))]  # after the length word


def retype(old, new):
    def apply(pe):
        entries(pe, old).struct.Name = new
        return []
    return apply


def relanguage(rtype, lang):
    def apply(pe):
        entries(pe, rtype).directory.entries[0].directory.entries[0].struct.Name = lang
        return []
    return apply


def opaque_alpha(pe):
    rva, data = data_of(pe, 3, 0)
    pixels = bytearray(data[40:40 + 33 * 32 * 4])
    for i in range(3, len(pixels), 4):
        pixels[i] = 255
    return [(rva + 40, bytes(pixels))]


def utf16(text):
    return text.encode("utf-16-le")


# (what is broken, the check that must report it, how to break it)
FAULTS = [
    ("group entries carry planes and bit count", "planes, bit count all 0", group_planes_one),
    ("group named J", "named \"I\"", rename_group),
    ("group width 32 instead of 33", "group entry sizes", patch_at(14, 0, 6, b"\x20")),
    ("group lists the images as 1, 3, 2", "group entry ids in order",
     patch_at(14, 0, 6 + 14 + 12, struct.pack("<H", 3))),
    ("a manifest instead of the version record", "no manifest", retype(16, 24)),
    ("a string table appears", "no menu, dialog or string table", retype(16, 6)),
    ("image 1 in English instead of neutral", "every icon image is language neutral", relanguage(3, 0x409)),
    ("version record in English", "version record is language neutral", relanguage(16, 0x409)),
    ("image 3 height not doubled", "image 3 (16x16, 8 bpp): header", patch_at(3, 2, 8, struct.pack("<i", 16))),
    ("image 1 without partial alpha", "alpha has fully clear, fully opaque and partial", opaque_alpha),
    ("one pixel of image 2 changed", "the exe's image 2 is res/icon/image2-48x48.bin",
     patch_at(3, 1, 40 + 4 * (24 * 48 + 24), b"\x01\x02\x03\xff")),
    ("file OS 0x4", "file OS", patch_bytes(16, 0, struct.pack("<I", 0x40004), struct.pack("<I", 0x4))),
    ("file flags mask 0x17", "file flags mask", patch_bytes(16, 0, struct.pack("<I", 0x3F), struct.pack("<I", 0x17))),
    ("file version 1.1.0.1", "fixed info: file version (low)",
     patch_bytes(16, 0, struct.pack("<IIII", 0x10001, 0, 0x10001, 0), struct.pack("<IIII", 0x10001, 1, 0x10001, 0))),
    ("string table 040904E4", "one string table", patch_bytes(16, 0, utf16("0807"), utf16("0409"))),
    ("copyright sign lost", "string LegalCopyright", patch_bytes(16, 0, utf16("\u00a9"), utf16("c"))),
    ("OriginalFilename in lower case", "string OriginalFilename",
     patch_bytes(16, 0, utf16("KOMPAKTO.EXE"), utf16("kompakto.exe"))),
    ("translation 0x0807, 0x04B0", "translation is",
     patch_bytes(16, 0, struct.pack("<HH", 0x0807, 0x04E4), struct.pack("<HH", 0x0807, 0x04B0))),
]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_catches_faults.py path/to/kompakto.exe")
    exe = sys.argv[1]
    passed = failed = 0

    def report(name, ok, detail=""):
        nonlocal passed, failed
        if ok:
            passed += 1
            print("PASS  " + name)
        else:
            failed += 1
            print("FAIL  " + name + (": " + detail if detail else ""))

    code, out = run_check(exe)
    report("the executable as built passes", code == 0, out.splitlines()[-1] if out else "no output")

    with tempfile.TemporaryDirectory() as tmp:
        for name, expect, fault in FAULTS:
            pe = pefile.PE(exe)
            patches = fault(pe)
            broken = os.path.join(tmp, "broken.exe")
            pe.write(broken)
            with open(broken, "r+b") as f:
                for rva, data in patches:
                    f.seek(pe.get_offset_from_rva(rva))
                    f.write(data)
            pe.close()
            code, out = run_check(broken)
            hits = [line for line in out.splitlines() if line.startswith("FAIL") and expect in line]
            report("caught: " + name, code == 1 and hits,
                   "exit %d, no FAIL line with %r" % (code, expect))

        # A committed image that the generator no longer draws.
        copy = os.path.join(tmp, "tree")
        for part in ("res", "docs", os.path.join("tests", "resources")):
            shutil.copytree(os.path.join(ROOT, part), os.path.join(copy, part))
        image = os.path.join(copy, "res", "icon", "image2-48x48.bin")
        data = bytearray(open(image, "rb").read())
        data[100] ^= 0x40
        open(image, "wb").write(bytes(data))
        code, out = run_check(exe, os.path.join(copy, "tests", "resources", "check_resources.py"))
        hits = [line for line in out.splitlines()
                if line.startswith("FAIL") and "image2-48x48.bin equals the generator" in line]
        report("caught: committed image differs from the generator", code == 1 and hits)

    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
