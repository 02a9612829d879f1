#!/usr/bin/python3
"""Checks the resources built into kompakto.exe.

    /usr/bin/python3 tests/resources/check_resources.py KOMPAKTO.EXE      (make resources)

Reads the executable with pefile and checks: the kind of image (32-bit GUI,
system DLLs only, the four image flags scanners look for, relocations kept),
which resource types are there (icons, the icon group and the version record,
no manifest, dialog, menu or string table), the icon group "I" and its
directory, the three icon images and their pixels, that the committed images
are what res/make_icon.py draws, that an independent decoder (icoutils) sees
the same pixels, and the version record field by field against
tests/facts.py. Prints one line per check and ends with "N passed, M failed";
exits 1 when anything failed.
"""
import functools
import os
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.join(ROOT, "res"), os.path.join(ROOT, "tests")]
sys.dont_write_bytecode = True  # leave no __pycache__ in res/ and tests/
import facts  # noqa: E402  (tests/facts.py)
import make_icon  # noqa: E402  (res/make_icon.py)

RT_ICON, RT_MENU, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 4, 5, 6, 14, 16, 24

# id: (width, height, bits per pixel, committed file, preview file)
IMAGES = {
    1: (33, 32, 32, "image1-33x32.bin", "icon-33x32.png"),
    2: (48, 48, 32, "image2-48x48.bin", "icon-48.png"),
    3: (16, 16, 8, "image3-16x16.bin", "icon-16.png"),
}

VERSION_STRINGS = {
    "CompanyName": "Kompakto-Team",
    "FileDescription": "Kompakto - JPG Reducer for IrfanView",
    "FileVersion": facts.VERSION,
    "InternalName": "Kompakto",
    "LegalCopyright": "Freeware \u00a9 2026 Kompakto-Team",
    "OriginalFilename": "KOMPAKTO.EXE",
    "ProductName": "Kompakto",
    "ProductVersion": facts.VERSION,
}
# The fixed info holds "a.b.c.d" as two words, a.b and c.d, 16 bits a number.
_numbers = [int(n) for n in facts.VERSION.split(".")]
VERSION_WORDS = (_numbers[0] << 16 | _numbers[1], _numbers[2] << 16 | _numbers[3])

# DllCharacteristics that binary scanners look for: a randomised base, no
# executable data, no SEH handlers, and Terminal Server aware.
IMAGE_FLAGS = (("DYNAMIC_BASE", 0x40), ("NX_COMPAT", 0x100), ("NO_SEH", 0x400), ("TERMINAL_SERVER_AWARE", 0x8000))


class Report:
    """Counts the checks and keeps the names of those that failed; a quiet one
    prints nothing, for check_release.py, which asks which failed."""
    def __init__(self, quiet=False):
        self.quiet = quiet
        self.passed = 0
        self.failures = []

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
        else:
            self.failures.append(name)
        if not self.quiet:
            print(("PASS  " if ok else "FAIL  ") + name)
            if detail and not ok:
                print("      " + str(detail).replace("\n", "\n      "))
        return ok

    def equal(self, name, actual, expected):
        return self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))

    def finish(self):
        print("%d passed, %d failed" % (self.passed, len(self.failures)))
        sys.exit(1 if self.failures else 0)


# --------------------------------------------------------------------------
# Reading the resources.

def resources(pe):
    """{type: {name: {language id: bytes}}}; names are ints or strings."""
    out = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return out
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        tkey = rtype.id if rtype.name is None else str(rtype.name)
        names = out.setdefault(tkey, {})
        for entry in rtype.directory.entries:
            nkey = entry.id if entry.name is None else str(entry.name)
            langs = names.setdefault(nkey, {})
            for lang in entry.directory.entries:
                d = lang.data.struct
                langs[lang.id] = pe.get_data(d.OffsetToData, d.Size)
    return out


def ordered(keys):
    """Numbered ids in numeric order, then names."""
    return sorted(keys, key=lambda k: (isinstance(k, str), k if isinstance(k, int) else 0, str(k)))


def only_neutral(langs):
    """The data of a resource that exists in the neutral language only."""
    return langs.get(0) if list(langs) == [0] else None


def parse_dib(data):
    """Decodes an icon image: returns (header fields, rows of RGBA top to
    bottom, palette or None, AND mask rows with True for transparent)."""
    (size, width, height2, planes, bits, compression, image_size,
     _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data, 0)
    head = dict(size=size, width=width, height2=height2, planes=planes, bits=bits,
                compression=compression, image_size=image_size, clr_used=used)
    height = height2 // 2
    offset = size
    palette = None
    if bits <= 8:
        count = used or (1 << bits)
        palette = [struct.unpack_from("<BBBB", data, offset + 4 * i) for i in range(count)]
        palette = [(r, g, b) for b, g, r, _ in palette]
        offset += 4 * count
    stride = (width * bits + 31) // 32 * 4
    mask_stride = (width + 31) // 32 * 4
    head["expected_size"] = offset + stride * height + mask_stride * height
    rows, mask, indices = [], [], []
    for y in range(height):  # stored bottom-up
        line = data[offset + (height - 1 - y) * stride:][:stride]
        mline = data[offset + stride * height + (height - 1 - y) * mask_stride:][:mask_stride]
        clear = [bool(mline[x // 8] & (0x80 >> (x % 8))) for x in range(width)]
        mask.append(clear)
        if bits == 32:
            rows.append([(line[4 * x + 2], line[4 * x + 1], line[4 * x], line[4 * x + 3])
                         for x in range(width)])
        elif bits == 8:
            indices.append(list(line[:width]))
            rows.append([(0, 0, 0, 0) if clear[x] else palette[line[x]] + (255,) for x in range(width)])
    head["indices"] = indices
    return head, rows, palette, mask


@functools.lru_cache(maxsize=None)
def read_png(data):
    """The RGBA bytes of a PNG, as ImageMagick decodes it."""
    return subprocess.run(["convert", "png:-", "-depth", "8", "rgba:-"], input=data, capture_output=True,
                          check=True).stdout


def rgba(rows):
    """Rows of RGBA pixels as the bytes read_png gives."""
    return bytes(c for row in rows for px in row for c in px)


def parse_version_block(data, offset=0):
    """One node of a VS_VERSIONINFO tree: (key, type, value bytes, children)."""
    length, value_length, vtype = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    size = value_length * 2 if vtype == 1 else value_length  # text values count characters
    value = data[pos:pos + size]
    pos = (pos + size + 3) & ~3
    children = []
    while pos < end:
        child, pos = parse_version_block(data, pos)
        children.append(child)
    return (key, vtype, value, children), (end + 3) & ~3


# --------------------------------------------------------------------------
# The checks.

def check_types(r, res):
    types = ordered(res)
    r.equal("resource types are exactly icon (3), icon group (14), version (16)",
            types, [RT_ICON, RT_GROUP_ICON, RT_VERSION])
    r.check("no manifest (type 24)", RT_MANIFEST not in res)
    r.check("no menu, dialog or string table (types 4, 5, 6)",
            not any(t in res for t in (RT_MENU, RT_DIALOG, RT_STRING)))


def check_group(r, res):
    groups = res.get(RT_GROUP_ICON, {})
    r.equal("one icon group, named \"I\"", list(groups), ["I"])
    data = only_neutral(groups.get("I", {}))
    if not r.check("icon group is language neutral (0) only", data is not None,
                   "languages %r" % list(groups.get("I", {}))):
        return None
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    r.equal("group header: reserved 0, type 1, count 3", (reserved, kind, count), (0, 1, 3))
    r.equal("group size is header plus three 14-byte entries", len(data), 6 + 14 * 3)
    entries = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(min(count, 3))]
    r.equal("group entry ids in order", [e[7] for e in entries], [1, 2, 3])
    r.equal("group entry sizes (width, height)", [(e[0], e[1]) for e in entries],
            [(33, 32), (48, 48), (16, 16)])
    r.equal("group entries: colour count, reserved, planes, bit count all 0",
            [e[2:6] for e in entries], [(0, 0, 0, 0)] * 3)
    icons = res.get(RT_ICON, {})
    sizes = [len(only_neutral(icons[e[7]]) or b"") if e[7] in icons else None for e in entries]
    r.equal("group entry byte counts match the icon images", [e[6] for e in entries], sizes)
    return data


def check_images(r, res):
    icons = res.get(RT_ICON, {})
    r.equal("icon images have ids 1, 2, 3", ordered(icons), [1, 2, 3])
    r.check("every icon image is language neutral (0) only",
            all(only_neutral(langs) is not None for langs in icons.values()),
            "%r" % {k: list(v) for k, v in icons.items()})
    decoded = {}
    for ident, (width, height, bits, _, _) in IMAGES.items():
        data = only_neutral(icons.get(ident, {}))
        if data is None:
            r.check("image %d present" % ident, False)
            continue
        head, rows, palette, mask = parse_dib(data)
        decoded[ident] = (data, rows)
        tag = "image %d (%dx%d, %d bpp)" % (ident, width, height, bits)
        r.equal(tag + ": header size, width, height doubled, planes, bit count, no compression",
                (head["size"], head["width"], head["height2"], head["planes"], head["bits"],
                 head["compression"]), (40, width, 2 * height, 1, bits, 0))
        r.equal(tag + ": byte count is header, palette, colour and mask rows", len(data),
                head["expected_size"])
        opaque = [px for row, clear in zip(rows, mask) for px, c in zip(row, clear) if not c]
        share = len(opaque) / float(width * height)
        r.check(tag + ": a picture, not a blank (%d%% opaque)" % (share * 100), 0.3 < share < 0.95)
        colours = {px[:3] for px in opaque}
        r.check(tag + ": drawn in many colours (%d)" % len(colours), len(colours) >= 8)
        if bits == 32:
            alphas = {px[3] for row in rows for px in row}
            r.check(tag + ": alpha has fully clear, fully opaque and partial pixels",
                    0 in alphas and 255 in alphas and any(0 < a < 255 for a in alphas),
                    "alpha values %r" % sorted(alphas)[:8])
            wrong = [(x, y) for y, (row, clear) in enumerate(zip(rows, mask))
                     for x, (px, c) in enumerate(zip(row, clear)) if c != (px[3] == 0)]
            r.check(tag + ": AND mask set exactly where alpha is 0", not wrong, "pixels %r" % wrong[:5])
            r.check(tag + ": fully clear pixels carry no colour",
                    all(px == (0, 0, 0, 0) for row in rows for px in row if px[3] == 0))
        else:
            r.check(tag + ": palette of 256 colours (biClrUsed 0 or 256)",
                    head["clr_used"] in (0, 256) and len(palette) == 256)
            bad = [(x, y) for y, (line, clear) in enumerate(zip(head["indices"], mask))
                   for x, (i, c) in enumerate(zip(line, clear)) if c and palette[i] != (0, 0, 0)]
            r.check(tag + ": masked pixels point at black, so they show the background",
                    not bad, "pixels %r" % bad[:5])
            r.check(tag + ": AND mask has clear and opaque pixels",
                    any(c for m in mask for c in m) and not all(c for m in mask for c in m))
    return decoded


def check_generator(r, res, decoded):
    """The committed files are what res/make_icon.py draws, and the exe holds them."""
    built = make_icon.build()
    committed = {}
    for rel in sorted(built):
        path = os.path.join(ROOT, rel)
        try:
            with open(path, "rb") as f:
                committed[rel] = f.read()
        except OSError:
            committed[rel] = None
    for rel, data in sorted(built.items()):
        if rel.endswith(".png"):
            same = committed[rel] is not None and read_png(committed[rel]) == read_png(data)
            r.check("committed %s shows what the generator draws" % rel, same)
        else:
            r.check("committed %s equals the generator's output" % rel, committed[rel] == data)
    group = only_neutral(res.get(RT_GROUP_ICON, {}).get("I", {}))
    r.check("the exe's icon group is res/icon/group.bin", group == committed["res/icon/group.bin"])
    for ident, (_, _, _, name, preview) in IMAGES.items():
        data = decoded.get(ident, (None,))[0]
        r.check("the exe's image %d is res/icon/%s" % (ident, name), data == committed["res/icon/" + name])
        if ident in decoded and committed["docs/" + preview] is not None:
            r.check("image %d decodes to docs/%s" % (ident, preview),
                    rgba(decoded[ident][1]) == read_png(committed["docs/" + preview]))


def check_icoutils(r, data, decoded):
    """icoutils, a decoder of its own, extracts the group and sees the same pixels."""
    if not (shutil.which("wrestool") and shutil.which("icotool")):
        r.check("icoutils (wrestool, icotool) installed", False, "install icoutils")
        return
    with tempfile.TemporaryDirectory() as tmp:
        exe, ico = os.path.join(tmp, "k.exe"), os.path.join(tmp, "i.ico")
        with open(exe, "wb") as f:
            f.write(data)
        subprocess.run(["wrestool", "-x", "--type=14", "--name=I", "--language=0", "-o", ico, exe],
                       check=False, capture_output=True)
        listing = subprocess.run(["icotool", "-l", ico], capture_output=True, text=True).stdout.split()
        depths = [w for w in listing if w.startswith(("--width", "--height", "--bit-depth"))]
        r.equal("icotool lists 33x32x32, 48x48x32, 16x16x8", depths,
                ["--width=33", "--height=32", "--bit-depth=32", "--width=48", "--height=48",
                 "--bit-depth=32", "--width=16", "--height=16", "--bit-depth=8"])
        subprocess.run(["icotool", "-x", "-o", tmp, ico], check=False, capture_output=True)
        for ident, (width, height, bits, _, _) in IMAGES.items():
            png = os.path.join(tmp, "i_%d_%dx%dx%d.png" % (ident, width, height, bits))
            same = (os.path.exists(png) and ident in decoded
                    and read_png(open(png, "rb").read()) == rgba(decoded[ident][1]))
            r.check("icotool decodes image %d to the same pixels" % ident, same)


def check_version(r, res):
    versions = res.get(RT_VERSION, {})
    r.equal("one version record, id 1", list(versions), [1])
    data = only_neutral(versions.get(1, {}))
    if not r.check("version record is language neutral (0) only", data is not None,
                   "languages %r" % list(versions.get(1, {}))):
        return
    (key, _, value, children), _ = parse_version_block(data)
    r.equal("version record key", key, "VS_VERSION_INFO")
    fixed = struct.unpack("<13I", value) if len(value) == 52 else None
    if not r.check("fixed file info present (52 bytes)", fixed is not None, "%d bytes" % len(value)):
        return
    names = ("signature", "struct version", "file version", "file version (low)", "product version",
             "product version (low)", "file flags mask", "file flags", "file OS", "file type",
             "file subtype", "file date", "file date (low)")
    wanted = (0xFEEF04BD, 0x10000) + VERSION_WORDS * 2 + (0x3F, 0, 0x40004, 1, 0, 0, 0)
    for name, got, want in zip(names, fixed, wanted):
        r.equal("fixed info: %s = 0x%X" % (name, want), got, want)

    blocks = {c[0]: c for c in children}
    r.equal("blocks StringFileInfo and VarFileInfo", sorted(blocks), ["StringFileInfo", "VarFileInfo"])
    tables = blocks.get("StringFileInfo", ("", 0, b"", []))[3]
    r.equal("one string table, 080704E4", [t[0] for t in tables], ["080704E4"])
    strings = {}
    for table in tables[:1]:
        for name, vtype, val, _ in table[3]:
            text = val.decode("utf-16-le")
            r.check("string %s is text with its terminating zero" % name, vtype == 1 and text.endswith("\0"))
            strings[name] = text.rstrip("\0")
    r.equal("string names", sorted(strings), sorted(VERSION_STRINGS))
    for name, want in VERSION_STRINGS.items():
        r.equal("string %s = %r" % (name, want), strings.get(name), want)

    var = blocks.get("VarFileInfo", ("", 0, b"", []))[3]
    translation = [c for c in var if c[0] == "Translation"]
    pairs = None
    if translation and len(translation[0][2]) % 4 == 0:
        v = translation[0][2]
        pairs = [struct.unpack_from("<HH", v, i) for i in range(0, len(v), 4)]
    r.equal("translation is 0x0807, 0x04E4", pairs, [(0x0807, 0x04E4)])


def check_image_kind(r, pe):
    """A 32-bit GUI program that runs on a bare Windows: system DLLs only, and
    built the way binary scanners expect of a hardened image."""
    r.equal("32-bit machine (i386)", pe.FILE_HEADER.Machine, 0x14C)
    r.equal("GUI subsystem, no console", pe.OPTIONAL_HEADER.Subsystem, 2)
    # shell32 is loaded only to open the download page; there is no C runtime.
    imported = sorted(entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    r.equal("imports exactly ADVAPI32, KERNEL32 and USER32", imported, ["advapi32.dll", "kernel32.dll", "user32.dll"])
    flags = pe.OPTIONAL_HEADER.DllCharacteristics
    for name, bit in IMAGE_FLAGS:
        r.check("image flag %s (DllCharacteristics 0x%X)" % (name, bit), flags & bit, "flags 0x%04X" % flags)
    # Without relocations Windows cannot move the image, whatever DYNAMIC_BASE says:
    # no IMAGE_FILE_RELOCS_STRIPPED (0x1), and data directory 5 holds the table.
    kind = pe.FILE_HEADER.Characteristics
    table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[5].Size
    r.check("relocations present: not stripped, base relocation directory not empty",
            not kind & 0x1 and table,
            "Characteristics 0x%04X, base relocation directory of %d bytes" % (kind, table))


def run_checks(r, data):
    """Every check on the image in data."""
    pe = pefile.PE(data=data)
    res = resources(pe)
    check_image_kind(r, pe)
    check_types(r, res)
    check_group(r, res)
    decoded = check_images(r, res)
    check_generator(r, res, decoded)
    check_icoutils(r, data, decoded)
    check_version(r, res)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: check_resources.py path/to/kompakto.exe")
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    r = Report()
    run_checks(r, data)
    r.finish()


if __name__ == "__main__":
    main()
