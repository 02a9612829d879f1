"""How the Wine session decides whether this machine runs 32-bit x86 code
natively, under an emulator that binfmt_misc hands it to, or not at all, and
what it does about it (tools/emulator.py): the decision, checked on canned
text, handlers as /proc shows them and apt sources as /etc/apt holds them.
This machine's own kernel is not asked.

    /usr/bin/python3 -m unittest discover -s tests/e2e -p '*_test.py'
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools"))
import emulator  # noqa: E402  (tools/emulator.py)

ET_REL, ET_EXEC, ET_DYN = 1, 2, 3
EM_386, EM_ARM, EM_X86_64 = 3, 40, 62


def elf_header(bits, e_type, machine):
    """The first 20 bytes of a little-endian ELF file."""
    return (b"\x7fELF" + bytes([1 if bits == 32 else 2, 1, 1]) + bytes(9)
            + e_type.to_bytes(2, "little") + machine.to_bytes(2, "little"))


WINE32 = elf_header(32, ET_DYN, EM_386)  # Wine's 32-bit loader, a position-independent executable
QEMU_I386 = """enabled
interpreter /usr/bin/qemu-i386-static
flags: F
offset 0
magic 7f454c4601010100000000000000000002000300
mask fffffffffffefe00fffffffffffffffffeffffff
"""
QEMU_ARM = """enabled
interpreter /usr/bin/qemu-arm-static
flags: OCF
offset 0
magic 7f454c4601010100000000000000000002002800
mask ffffffffffffff00fffffffffffffffffeffffff
"""
WINE_EXE = """enabled
interpreter /usr/bin/wine
flags: 
extension .exe
"""


class MachineTest(unittest.TestCase):
    def mode(self, runs, *texts, header=WINE32):
        handlers = {index: emulator.parse_handler(text) for index, text in enumerate(texts)}
        return emulator.decide(runs, emulator.taking(handlers, header))

    def test_a_machine_that_cannot_execute_it_is_none_whatever_is_registered(self):
        self.assertEqual(self.mode(False), "none")
        self.assertEqual(self.mode(False, QEMU_I386), "none")

    def test_an_enabled_i386_handler_is_emulation_even_where_the_kernel_could(self):
        self.assertEqual(self.mode(True, QEMU_ARM, QEMU_I386), "emulated")
        self.assertEqual(self.mode(True, QEMU_I386, header=elf_header(32, ET_EXEC, EM_386)), "emulated")

    def test_native_when_no_enabled_handler_takes_32_bit_x86(self):
        self.assertEqual(self.mode(True), "native")
        self.assertEqual(self.mode(True, QEMU_ARM, WINE_EXE), "native")
        self.assertEqual(self.mode(True, QEMU_I386.replace("enabled", "disabled", 1)), "native")
        self.assertEqual(self.mode(True, QEMU_I386.replace("offset 0", "offset 4")), "native")

    def test_a_handler_without_a_mask_compares_every_byte(self):
        exact = "enabled\ninterpreter /x\noffset 0\nmagic %s\n" % WINE32.hex()
        self.assertEqual(self.mode(True, exact), "emulated")
        self.assertEqual(self.mode(True, exact, header=elf_header(32, ET_EXEC, EM_386)), "native")

    def test_the_handler_registered_here_takes_32_bit_x86_programs_and_nothing_else(self):
        ours = {"enabled": True, "offset": 0, "magic": emulator.I386_MAGIC, "mask": emulator.I386_MASK}
        takes = {(bits, e_type, machine): emulator.handler_matches(ours, elf_header(bits, e_type, machine))
                 for bits in (32, 64) for e_type in (ET_REL, ET_EXEC, ET_DYN) for machine in (EM_386, EM_X86_64)}
        self.assertEqual({key for key, taken in takes.items() if taken}, {(32, ET_EXEC, EM_386), (32, ET_DYN, EM_386)})


OURS_FAST = QEMU_I386.replace("/usr/bin/qemu-i386-static", "/clone/build/emulator/qemu-i386")
OTHER_CLONE = QEMU_I386.replace("/usr/bin/qemu-i386-static", "/other/build/emulator/qemu-i386")
FAST = {"/clone/build/emulator/qemu-i386", "/other/build/emulator/qemu-i386", "/opt/qemu10/qemu-i386"}


class PlanTest(unittest.TestCase):
    """Before Wine runs: nothing, our emulator as it is, or ours registered
    anew (fetched first where this clone has none)."""

    def plan(self, runs, **texts):
        handlers = {name: emulator.parse_handler(text) for name, text in texts.items()}
        return emulator.plan(runs, emulator.taking(handlers, WINE32), lambda interpreter: interpreter in FAST)

    def test_native_where_the_kernel_runs_it_and_no_handler_takes_it(self):
        self.assertEqual(self.plan(True), "native")
        self.assertEqual(self.plan(True, **{"qemu-arm": QEMU_ARM, "wine": WINE_EXE}), "native")
        self.assertEqual(self.plan(True, **{emulator.HANDLER: OURS_FAST.replace("enabled", "disabled", 1)}),
                         "native")

    def test_where_the_kernel_cannot_ours_is_registered(self):
        self.assertEqual(self.plan(False), "register")
        self.assertEqual(self.plan(False, **{emulator.HANDLER: OURS_FAST.replace("enabled", "disabled", 1)}),
                         "register")

    def test_our_handler_with_the_fast_emulator_is_used_as_it_is(self):
        self.assertEqual(self.plan(True, **{emulator.HANDLER: OURS_FAST}), "ready")
        self.assertEqual(self.plan(True, **{emulator.HANDLER: OTHER_CLONE}), "ready")

    def test_our_handler_pointing_at_another_emulator_is_replaced(self):
        self.assertEqual(self.plan(True, **{emulator.HANDLER: QEMU_I386}), "register")
        self.assertEqual(self.plan(False, **{emulator.HANDLER: OURS_FAST}), "register")

    def test_a_foreign_handler_is_used_only_when_it_is_fast_too(self):
        foreign_fast = QEMU_I386.replace("/usr/bin/qemu-i386-static", "/opt/qemu10/qemu-i386")
        self.assertEqual(self.plan(True, **{"qemu-i386": foreign_fast}), "ready")
        self.assertEqual(self.plan(True, **{"qemu-i386": QEMU_I386}), "register")
        # Both take it and binfmt_misc does not tell which is asked first.
        self.assertEqual(self.plan(True, **{"qemu-i386": QEMU_I386, emulator.HANDLER: OURS_FAST}), "register")
        self.assertEqual(self.plan(True, **{emulator.HANDLER: OURS_FAST, "qemu-i386": QEMU_I386}), "register")
        self.assertEqual(self.plan(True, **{"qemu-i386": foreign_fast, emulator.HANDLER: OURS_FAST}), "ready")


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
