#!/usr/bin/python3
"""Proves that check_resources.py notices broken resources.

    /usr/bin/python3 tests/resources/check_catches_faults.py build/windows/kompakto.exe

Runs the checks in process, quietly, once on the executable as built (none
may fail), then on copies in memory with one fault each (the check that is
about that fault must fail), and once against a copy of res/ and docs/ with a
committed icon image that no longer matches its generator. Prints one line
per case and ends with "N passed, M failed".
"""
import os
import shutil
import struct
import sys
import tempfile

import pefile

sys.dont_write_bytecode = True  # leave no __pycache__ in tests/resources
import check_resources  # noqa: E402  (next to this file)


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


def import_instead(old, new):
    """Another DLL of a name as long in place of an imported one."""
    def apply(pe):
        entry = next(e for e in pe.DIRECTORY_ENTRY_IMPORT if e.dll.lower() == old.lower())
        return [(entry.struct.Name, new)]
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


def clear_flag(bit):
    def apply(pe):
        pe.OPTIONAL_HEADER.DllCharacteristics &= ~bit
        return []
    return apply


def strip_relocations(pe):
    pe.FILE_HEADER.Characteristics |= 0x1  # IMAGE_FILE_RELOCS_STRIPPED
    return []


def empty_relocation_directory(pe):
    pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size = 0
    return []


def opaque_alpha(pe):
    rva, data = data_of(pe, 3, 0)
    pixels = bytearray(data[40:40 + 33 * 32 * 4])
    for i in range(3, len(pixels), 4):
        pixels[i] = 255
    return [(rva + 40, bytes(pixels))]


def utf16(text):
    return text.encode("utf-16-le")


HI, LO = check_resources.VERSION_WORDS

# (what is broken, the check that must report it, how to break it)
FAULTS = [
    ("DYNAMIC_BASE cleared", "image flag DYNAMIC_BASE", clear_flag(0x40)),
    ("NX_COMPAT cleared", "image flag NX_COMPAT", clear_flag(0x100)),
    ("NO_SEH cleared", "image flag NO_SEH", clear_flag(0x400)),
    ("TERMINAL_SERVER_AWARE cleared", "image flag TERMINAL_SERVER_AWARE", clear_flag(0x8000)),
    ("the C runtime imported instead of USER32", "imports exactly", import_instead(b"user32.dll", b"MSVCRT.dll")),
    ("shell32 imported instead of ADVAPI32", "imports exactly", import_instead(b"advapi32.dll", b"SHELL32.dll\0")),
    ("relocations stripped", "relocations present", strip_relocations),
    ("base relocation directory empty", "relocations present", empty_relocation_directory),
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
    ("file version's last number one higher", "fixed info: file version (low)",
     patch_bytes(16, 0, struct.pack("<IIII", HI, LO, HI, LO), struct.pack("<IIII", HI, LO + 1, HI, LO))),
    ("string table 040904E4", "one string table", patch_bytes(16, 0, utf16("0807"), utf16("0409"))),
    ("copyright sign lost", "string LegalCopyright", patch_bytes(16, 0, utf16("\u00a9"), utf16("c"))),
    ("OriginalFilename in lower case", "string OriginalFilename",
     patch_bytes(16, 0, utf16("KOMPAKTO.EXE"), utf16("kompakto.exe"))),
    ("translation 0x0807, 0x04B0", "translation is",
     patch_bytes(16, 0, struct.pack("<HH", 0x0807, 0x04E4), struct.pack("<HH", 0x0807, 0x04B0))),
]


def broken(data, fault):
    """The image in data with one fault planted."""
    pe = pefile.PE(data=data)
    patches = fault(pe)
    out = pe.write()
    for rva, part in patches:
        at = pe.get_offset_from_rva(rva)
        out[at:at + len(part)] = part
    return bytes(out)


def failures(data, root=check_resources.ROOT):
    """The names of the checks that fail on the image in data."""
    r = check_resources.Report(quiet=True)
    check_resources.run_checks(r, data, root)
    return r.failures


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_catches_faults.py path/to/kompakto.exe")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    r = check_resources.Report()
    failed = failures(data)
    if not r.check("the executable as built passes", not failed, ", ".join(failed)):
        r.finish()  # a fault planted into a failing image proves nothing
    for name, expect, fault in FAULTS:
        failed = failures(broken(data, fault))
        r.check("caught: " + name, any(expect in f for f in failed), "no failed check with %r" % expect)

    # A committed image that the generator no longer draws.
    with tempfile.TemporaryDirectory() as tree:
        for part in ("res", "docs"):
            shutil.copytree(os.path.join(check_resources.ROOT, part), os.path.join(tree, part))
        image = os.path.join(tree, "res", "icon", "image2-48x48.bin")
        picture = bytearray(open(image, "rb").read())
        picture[100] ^= 0x40
        open(image, "wb").write(bytes(picture))
        failed = failures(data, tree)
        r.check("caught: committed image differs from the generator",
                any("image2-48x48.bin equals the generator" in f for f in failed))
    r.finish()


if __name__ == "__main__":
    main()
