"""Whether this machine runs 32-bit x86 code natively, under an emulator
that binfmt_misc hands it to, or not at all, and what the Wine session does
about it (tools/emulator.py), decided on handlers as /proc shows them and apt
sources as /etc/apt holds them, never on this machine's own.

    make tools      (or: /usr/bin/python3 tools/results.py tools --unittest tests/tools)
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools"))
import emulator  # noqa: E402  (tools/emulator.py)

ET_REL, ET_EXEC, ET_DYN = 1, 2, 3
EM_386, EM_X86_64 = 3, 62


def elf_header(bits, e_type, machine):
    """The first 20 bytes of a little-endian ELF file."""
    return (b"\x7fELF" + bytes([1 if bits == 32 else 2, 1, 1]) + bytes(9)
            + e_type.to_bytes(2, "little") + machine.to_bytes(2, "little"))


WINE32 = elf_header(32, ET_DYN, EM_386)  # Wine's 32-bit loader, a position-independent executable
EXEC = elf_header(32, ET_EXEC, EM_386)
# Handlers as /proc/sys/fs/binfmt_misc shows them; SLOW is Debian 12's own qemu, too slow for Wine.
SLOW = ("enabled\ninterpreter /usr/bin/qemu-i386-static\nflags: F\noffset 0\n"
        "magic 7f454c4601010100000000000000000002000300\nmask fffffffffffefe00fffffffffffffffffeffffff\n")
QEMU_ARM = ("enabled\ninterpreter /usr/bin/qemu-arm-static\nflags: OCF\noffset 0\n"
            "magic 7f454c4601010100000000000000000002002800\nmask ffffffffffffff00fffffffffffffffffeffffff\n")
WINE_EXE = "enabled\ninterpreter /usr/bin/wine\nflags: \nextension .exe\n"
OURS = SLOW.replace("/usr/bin/qemu-i386-static", "/clone/build/emulator/qemu-i386")
OTHER_CLONE = SLOW.replace("/usr/bin/qemu-i386-static", "/other/build/emulator/qemu-i386")
FOREIGN_FAST = SLOW.replace("/usr/bin/qemu-i386-static", "/opt/qemu10/qemu-i386")
FAST = {"/clone/build/emulator/qemu-i386", "/other/build/emulator/qemu-i386", "/opt/qemu10/qemu-i386"}
EXACT = "enabled\ninterpreter /x\noffset 0\nmagic %s\n" % WINE32.hex()  # no mask: every byte compared
H = emulator.HANDLER

# Whether the kernel runs the loader, the handlers registered, the loader's
# first bytes; the mode (native, emulated or none) and what is done before
# Wine runs (nothing, a fast emulator used as it is, or ours registered anew).
CASES = [
    (False, {}, WINE32, "none", "register"),
    (False, {"qemu-i386": SLOW}, WINE32, "none", "register"),
    (False, {H: OURS.replace("enabled", "disabled", 1)}, WINE32, "none", "register"),
    (False, {H: OURS}, WINE32, "none", "register"),
    (True, {}, WINE32, "native", "native"),
    (True, {"qemu-arm": QEMU_ARM, "wine": WINE_EXE}, WINE32, "native", "native"),
    (True, {"qemu-i386": SLOW.replace("enabled", "disabled", 1)}, WINE32, "native", "native"),
    (True, {H: OURS.replace("enabled", "disabled", 1)}, WINE32, "native", "native"),
    (True, {"qemu-i386": SLOW.replace("offset 0", "offset 4")}, WINE32, "native", "native"),
    (True, {"x": EXACT}, WINE32, "emulated", "register"),
    (True, {"x": EXACT}, EXEC, "native", "native"),
    # A handler that takes it is asked before the kernel, which could run it too.
    (True, {"qemu-arm": QEMU_ARM, "qemu-i386": SLOW}, WINE32, "emulated", "register"),
    (True, {"qemu-i386": SLOW}, EXEC, "emulated", "register"),
    (True, {H: OURS}, WINE32, "emulated", "ready"),
    (True, {H: OTHER_CLONE}, WINE32, "emulated", "ready"),
    (True, {H: SLOW}, WINE32, "emulated", "register"),
    (True, {"qemu-i386": FOREIGN_FAST}, WINE32, "emulated", "ready"),
    # Both take it and binfmt_misc does not tell which is asked first.
    (True, {"qemu-i386": SLOW, H: OURS}, WINE32, "emulated", "register"),
    (True, {H: OURS, "qemu-i386": SLOW}, WINE32, "emulated", "register"),
    (True, {"qemu-i386": FOREIGN_FAST, H: OURS}, WINE32, "emulated", "ready"),
]


class DecisionTest(unittest.TestCase):
    def test_each_machine_gets_its_mode_and_plan(self):
        for number, (runs, texts, header, mode, plan) in enumerate(CASES):
            with self.subTest(case=number):
                handlers = {name: emulator.parse_handler(text) for name, text in texts.items()}
                takers = emulator.taking(handlers, header)
                self.assertEqual(emulator.decide(runs, takers), mode)
                self.assertEqual(emulator.plan(runs, takers, lambda interpreter: interpreter in FAST), plan)

    def test_the_handler_registered_here_takes_32_bit_x86_programs_and_nothing_else(self):
        ours = {"enabled": True, "offset": 0, "magic": emulator.I386_MAGIC, "mask": emulator.I386_MASK}
        takes = {(bits, e_type, machine): emulator.handler_matches(ours, elf_header(bits, e_type, machine))
                 for bits in (32, 64) for e_type in (ET_REL, ET_EXEC, ET_DYN) for machine in (EM_386, EM_X86_64)}
        self.assertEqual({key for key, taken in takes.items() if taken}, {(32, ET_EXEC, EM_386), (32, ET_DYN, EM_386)})


class MirrorTest(unittest.TestCase):
    """The Debian 12 mirror the machine's apt uses, for the backports suite."""

    def test_deb822_takes_the_stanza_of_bookworm_with_its_keyring(self):
        sources = {"/etc/apt/sources.list.d/debian.sources": (
            "Types: deb\n# http://snapshot.debian.org/archive/debian-security/20250520T000000Z\n"
            "URIs: http://deb.debian.org/debian-security\nSuites: bookworm-security\nComponents: main\n\n"
            "Types: deb deb-src\nURIs: http://mirror.example/debian\nSuites: bookworm bookworm-updates\n"
            "Components: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n")}
        self.assertEqual(emulator.debian_mirror(sources),
                         ("http://mirror.example/debian", "/usr/share/keyrings/debian-archive-keyring.gpg"))

    def test_one_line_sources_with_and_without_options(self):
        self.assertEqual(emulator.debian_mirror({"/etc/apt/sources.list": (
            "# deb http://old.example/debian bookworm main\n"
            "deb http://security.debian.org/debian-security bookworm-security main\n"
            "deb [arch=amd64 signed-by=/k.gpg] http://m.example/debian bookworm main contrib\n")}),
            ("http://m.example/debian", "/k.gpg"))
        self.assertEqual(emulator.debian_mirror({"/etc/apt/sources.list": "deb http://m.example/d bookworm main\n"}),
                         ("http://m.example/d", None))

    def test_none_without_a_bookworm_source(self):
        self.assertIsNone(emulator.debian_mirror({}))
        self.assertIsNone(emulator.debian_mirror({"/etc/apt/sources.list.d/x.sources": (
            "Types: deb\nURIs: http://m.example/debian\nSuites: bookworm\nEnabled: no\n")}))


if __name__ == "__main__":
    unittest.main()
