#!/usr/bin/python3
"""Writes the seed corpus of both fuzz targets (corpus/<target>/).

Each seed is the shortest input for one case worth keeping: the command lines
and program-files folders that the program's rules single out, and the edges
of its buffers. Next to them, files named found-* are inputs of fuzz runs
that reached code no seed reached; they were added with
    <target> -merge=1 -use_counters=0 corpus/<target> <found inputs>
and renamed, and this script leaves them alone. The layout of an input is described at the top of each
target's source. Run it again after changing a case; it replaces the seeds.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# Control-byte parts of command_line_fuzzer.
V32, V64, VBOTH = 1, 2, 3
Q_YES, Q_NO, Q_CANCEL, Q_FAILED = 0 << 2, 1 << 2, 2 << 2, 3 << 2
D_YES, D_NO, D_CANCEL, D_FAILED = 0 << 4, 1 << 4, 2 << 4, 3 << 4
WIN32 = 0x40

LONGEST = 32767


def command_line_seeds():
    yes_both = VBOTH | Q_YES
    seeds = {
        "no-argument": (yes_both, b"kompakto.exe"),
        "slash-upper-s": (yes_both, b"kompakto.exe /S"),
        "dash-silent": (yes_both, b"kompakto.exe -silent"),
        "s-inside-word": (yes_both, b"kompakto.exe test"),
        "slash-q": (yes_both, b"kompakto.exe /q"),
        "s-only-in-second-argument": (yes_both, b"kompakto.exe /x /s"),
        "quoted-space-s": (yes_both, b'kompakto.exe "x s"'),
        "doubled-quotes-then-s": (yes_both, b'kompakto.exe "" s'),
        "doubled-quotes-keep-quoting": (yes_both, b'k "a""b s" x'),
        "triple-quote": (yes_both, b'k """ s'),
        "unmatched-quote-to-the-end": (yes_both, b'k "x\ty s'),
        "unmatched-quote-in-program": (yes_both, b'"C:\\Program Files\\k.exe s'),
        "unquoted-program-path": (yes_both, b"C:\\Program Files\\Kompakto\\kompakto.exe"),
        "quoted-program-path": (yes_both, b'"C:\\Program Files\\Kompakto\\kompakto.exe"'),
        "quote-glued-to-program": (yes_both, b'k"a b" s'),
        "leading-separators": (yes_both, b" \t\x01\x1f k s"),
        "only-separators": (yes_both, b" \t \x0b"),
        "empty": (yes_both, b""),
        "control-characters-cut-words": (yes_both, b"k\x01/x\x1fs"),
        "del-is-no-separator": (yes_both, b"k \x7fs\x7f"),
        "eight-bit-no-s": (yes_both, b"k \xdf\x9a\xd3\xf3"),
        "eight-bit-then-s": (yes_both, b"k \xa0\xffs"),
        "zero-bytes-dropped": (yes_both, b"k\x00 \x00/\x00s"),
        "backslashes-before-quote": (yes_both, b'k \\\\"a b\\" s'),
        "no-viewer-download-taken-silent": (Q_YES | D_YES, b"k /s"),
        "no-viewer-download-declined": (Q_YES | D_NO, b"k"),
        "windows32-only-64-bit-viewer": (V64 | Q_YES | D_CANCEL | WIN32, b"k"),
        "windows32-32-bit-viewer": (V32 | Q_YES | WIN32, b"k -S"),
        "deactivate": (Q_NO, b"k"),
        "deactivate-silent": (Q_NO, b'k "/s"'),
        "cancel": (VBOTH | Q_CANCEL, b"k /s"),
        "question-failed": (VBOTH | Q_FAILED, b"k"),
        # The longest command line: the s is its last character.
        "longest-s-last": (yes_both, b"k " + b"x" * (LONGEST - 3) + b"s"),
        # One more character: the s falls beyond the limit and is cut off.
        "longer-than-longest": (yes_both, b"k " + b"x" * (LONGEST - 2) + b"s"),
        "longest-quoted-word": (Q_NO, b'k "' + b"\t" * (LONGEST - 3)),
    }
    return {name: bytes([control]) + line for name, (control, line) in seeds.items()}


# environment_fuzzer: byte 0.
E_YES, E_NO, E_CANCEL = 0, 2, 3
E_DL_YES, E_DL_NO, E_DL_CANCEL, E_DL_FAILED = 0 << 2, 1 << 2, 2 << 2, 3 << 2
E_SILENT, E_PF, E_W6432, E_DECOYS = 0x10, 0x20, 0x40, 0x80
# byte 1.
P_64, P_32, P_CUT, P_RELATIVE = 1, 2, 4, 8

PF = b"C:\\Program Files (x86)"
PW = b"C:\\Program Files"
LONG = b"C:\\x"  # with a length: "C:\" and then its last character repeated


def env(control, placing, pf=b"", pw=b"", pf_len=0, pw_len=0):
    return bytes([control, placing]) + struct.pack(">HH", pf_len, pw_len) + pf + b"\0" + pw


def environment_seeds():
    both = E_PF | E_W6432
    return {
        "64-bit-windows-64-bit-viewer": env(both, P_64, PF, PW),
        "64-bit-windows-32-bit-viewer": env(both | E_SILENT, P_32, PF, PW),
        "both-viewers": env(both, P_64 | P_32, PF, PW),
        "no-viewer-download": env(both | E_DL_YES, 0, PF, PW),
        "no-viewer-declined": env(both | E_DL_NO, 0, PF, PW),
        "no-viewer-box-failed": env(both | E_DL_FAILED, 0, PF, PW),
        "deactivate": env(both | E_NO, P_64, PF, PW),
        "cancel": env(both | E_CANCEL | E_SILENT, P_64, PF, PW),
        "decoys-names-swapped": env(both | E_DECOYS, 0, PF, PW),
        "32-bit-windows-relative-decoy": env(E_PF | E_DL_CANCEL, P_64 | P_RELATIVE, PW),
        "32-bit-windows-32-bit-viewer": env(E_PF | E_SILENT, P_32 | P_RELATIVE, PW),
        "nothing-defined-relative-files": env(0, P_64 | P_32 | P_RELATIVE),
        "empty-values": env(both, P_64 | P_32),
        "relative-values": env(both, P_64 | P_32, b"Program Files", b".\\x"),
        "root-relative-value": env(both, P_64 | P_32, b"\\Program Files", b"\\"),
        "drive-relative-value": env(both, P_64 | P_32, b"C:Program Files", b"c:"),
        "bare-double-backslash": env(both, P_64 | P_32, b"\\\\", b"\\\\\\share"),
        "network-share": env(both, P_32, b"\\\\server\\share", PW),
        "long-path-prefix": env(both, P_64, PF, b"\\\\?\\C:\\Program Files"),
        "lower-case-drive": env(both, P_64, PF, b"d:\\Apps"),
        "value-naming-variables": env(both, P_64 | P_32, b"%SystemDrive%\\Program Files", b"%ProgramW6432%"),
        "value-with-percent": env(both, P_64, PF, b"C:\\100% sure"),
        "eight-bit-folder": env(both, P_64, PF, b"C:\\Programme \xe4\xf6\xfc\xdf\xd7"),
        "undefined-cp1252-bytes": env(both, P_32, b"C:\\\x81\x8d\x8f\x90\x9d", PW),
        # The longest folder whose viewer path still fits 512 characters, and
        # the next: the 64-bit candidate is too long, the 32-bit one is taken.
        "path-exactly-512": env(both | E_SILENT, P_64 | P_CUT, PF, LONG, pw_len=489),
        "path-513-falls-back": env(both | E_SILENT, P_64 | P_32 | P_CUT, PF, LONG, pw_len=490),
        # The expansion still fits its buffer, the path does not.
        "expansion-511": env(both, P_64 | P_CUT, PF, LONG, pw_len=510),
        # The expansion no longer fits.
        "expansion-512": env(both, P_64 | P_CUT, PF, LONG, pw_len=511),
        # Too long for the buffer, while the viewer's name does stand in the
        # folder expanded just before: nothing of that expansion may be reused.
        "too-long-after-a-short-one": env(both | E_DECOYS | E_DL_NO, P_64 | P_CUT, PF, LONG, pw_len=600),
        "expansion-4096-both": env(both | E_DL_NO, P_64 | P_32 | P_CUT, b"C:\\", b"C:\\", 4096, 4096),
        "long-eight-bit": env(both, P_64 | P_CUT, PF, b"C:\\\xe4", 2000),
        "long-relative": env(both, P_64 | P_CUT | P_RELATIVE, PF, b"x", 700),
    }


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name in os.listdir(folder):
        if not name.startswith("found-"):
            os.remove(os.path.join(folder, name))
    for name, data in sorted(seeds.items()):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    print(f"{target}: {len(seeds)} seeds")


if __name__ == "__main__":
    write("command_line_fuzzer", command_line_seeds())
    write("environment_fuzzer", environment_seeds())
