"""The install riding out a Debian mirror that is out of step: what
tools/install-deps.sh and the emulator's fetch (tools/emulator.py) ask of apt,
what they say and how they end, against stand-ins for apt-get, dpkg,
dpkg-query, id and sleep put first on PATH (no package is installed, no real
pause is made).

    make tools      (or: /usr/bin/python3 tools/results.py tools --unittest tests/tools)
"""
import contextlib
import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import emulator  # noqa: E402  (tools/emulator.py)

STALE = "http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz"
# What apt-get says of a list, as it says it: (exit code, output).
SIZE_MISMATCH = (100, "Err:4 %s\n  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: "
                      "151.101.2.132 80]\nE: Failed to fetch %s  File has unexpected size (374820 != 376004). Mirror "
                      "sync in progress? [IP: 151.101.2.132 80]\n   Hashes of expected file:\n    - Filesize:376004\n"
                      "E: Some index files failed to download. They have been ignored, or old ones used instead.\n"
                 % ("http://deb.debian.org/debian-security bookworm-security/main i386 Packages", STALE))
TRANSIENT = (0, "W: Failed to fetch %s  Connection timed out [IP: 151.101.2.132 80]\nW: Some index files failed to "
                "download. They have been ignored, or old ones used instead.\n" % STALE)
READ = (0, "Reading package lists...\n")
UNSIGNED = (100, "E: The repository 'http://deb.debian.org/debian bookworm Release' is not signed.\n")
BROKEN = (100, "The following packages have unmet dependencies:\n libexpat1:i386 : Depends: ...\n"
               "E: Unable to correct problems, you have held broken packages.\n")
INSTALLED = (0, "Setting up wine (8.0~repack-4) ...\n")
UPDATE, INSTALL = "-q update", "install -y -q --no-install-recommends"
FALLBACK = INSTALL + " -t bookworm"

STANDINS = {
    # Answers each call from the files $STANDIN/apt-get.N (the exit code, then
    # the output), N counting the calls; records every call.
    "apt-get": 'echo "apt-get $*" >>"$STANDIN/calls"\n'
               'n=$(grep -c "^apt-get" "$STANDIN/calls")\n'
               'tail -n +2 "$STANDIN/apt-get.$n"\nexit "$(head -n 1 "$STANDIN/apt-get.$n")"\n',
    "dpkg-query": 'echo "dpkg-query $*" >>"$STANDIN/calls"\n[ -e "$STANDIN/installed" ] && echo "install ok installed"'
                  '\nexit 0\n',
    "dpkg": 'echo "dpkg $*" >>"$STANDIN/calls"\n[ "$1" = --print-architecture ] && echo amd64\nexit 0\n',
    "id": 'echo 0\n',
    "sleep": 'echo "sleep $*" >>"$STANDIN/calls"\n',
}


class StandIns:
    """A folder of stand-ins, answering in turn with the apt-get results given."""

    def __init__(self, answers, installed=False):
        self.folder = tempfile.mkdtemp()
        for name, body in STANDINS.items():
            path = os.path.join(self.folder, name)
            with open(path, "w") as out:
                out.write("#!/bin/sh\n" + body)
            os.chmod(path, 0o755)
        for number, (code, output) in enumerate(answers, 1):
            with open(os.path.join(self.folder, "apt-get.%d" % number), "w") as out:
                out.write("%d\n%s" % (code, output))
        open(os.path.join(self.folder, "calls"), "w").close()
        if installed:
            open(os.path.join(self.folder, "installed"), "w").close()
        self.environment = dict(os.environ, STANDIN=self.folder, PATH=self.folder + ":/usr/bin:/bin")

    def calls(self, *commands):
        """The recorded calls of those commands, in order, without their names."""
        with open(os.path.join(self.folder, "calls")) as text:
            lines = [line.rstrip("\n").split(" ", 1) for line in text]
        return [(line + [""])[1] for line in lines if line[0] in commands]

    def remove(self):
        shutil.rmtree(self.folder)


def apt_calls(calls):
    """The apt-get calls, the package names left out."""
    return [call.split(" cmake ")[0] if " cmake " in call else call for call in calls]


# The apt-get answers in turn; the calls to apt-get and sleep expected; the
# exit code; what must and must not stand in its output.
CASES = {
    "a list it cannot read, then the fallback": (
        [SIZE_MISMATCH] * 3 + [BROKEN, INSTALLED],
        [UPDATE, "10", UPDATE, "10", UPDATE, INSTALL, FALLBACK], 0,
        ["# apt could not read %s: File has unexpected size (374820 != 376004). Mirror sync in progress?; going on "
         "with the lists it has" % STALE, "once more with bookworm's own packages preferred"], ["cannot install"]),
    "a transient failure that apt ends with 0, then read": (
        [TRANSIENT, READ, INSTALLED], [UPDATE, "10", UPDATE, INSTALL], 0, [], ["could not read", "once more"]),
    "a list it cannot read, and both installs fail": (
        [SIZE_MISMATCH] * 3 + [BROKEN, BROKEN], [UPDATE, "10", UPDATE, "10", UPDATE, INSTALL, FALLBACK], 1,
        ["(apt could not read %s); the Debian mirror may be out of step: try again later" % STALE], []),
    "every list read, and both installs fail": (
        [READ, BROKEN, BROKEN], [UPDATE, INSTALL, FALLBACK], 1,
        ["(Unable to correct problems, you have held broken packages.); the Debian mirror may be out of step"], []),
    "an update that fails without naming a list, then the fallback": (
        [UNSIGNED] * 3 + [BROKEN, INSTALLED], [UPDATE, "10", UPDATE, "10", UPDATE, INSTALL, FALLBACK], 0,
        ["# apt could not read apt-get update: exit code 100; going on"], []),
    "everything read and installed at once": (
        [READ, INSTALLED], [UPDATE, INSTALL], 0, ["installing: cmake make"], ["could not read", "once more"]),
}


class InstallTest(unittest.TestCase):
    def test_each_mirror_gets_its_steps_messages_and_exit_code(self):
        for name, (answers, expected, code, said, unsaid) in CASES.items():
            with self.subTest(case=name):
                standins = StandIns(answers)
                self.addCleanup(standins.remove)
                done = subprocess.run(["sh", os.path.join(ROOT, "tools", "install-deps.sh")], capture_output=True,
                                      text=True, env=standins.environment)
                output = done.stdout + done.stderr
                self.assertEqual(apt_calls(standins.calls("apt-get", "sleep")), expected, output)
                self.assertEqual(done.returncode, code, output)
                for text in said:  # each within one line
                    self.assertTrue(any(text in line for line in output.splitlines()), (text, output))
                for text in unsaid:
                    self.assertNotIn(text, output)
                self.assertIn("--add-architecture i386", standins.calls("dpkg"))

    def test_nothing_is_asked_of_apt_when_every_package_is_there(self):
        standins = StandIns([], installed=True)
        self.addCleanup(standins.remove)
        done = subprocess.run(["sh", os.path.join(ROOT, "tools", "install-deps.sh")], capture_output=True, text=True,
                              env=standins.environment)
        self.assertEqual((done.returncode, done.stdout, standins.calls("apt-get", "dpkg")), (0, "", []))


class EmulatorFetchTest(unittest.TestCase):
    def test_a_list_it_cannot_read_is_tried_three_times_and_named(self):
        standins = StandIns([SIZE_MISMATCH] * 3)
        self.addCleanup(standins.remove)
        saved = (emulator.EMULATOR_FOLDER, emulator.EMULATOR, emulator.debian_mirror, os.environ["PATH"])

        def restore():
            emulator.EMULATOR_FOLDER, emulator.EMULATOR, emulator.debian_mirror, os.environ["PATH"] = saved
            os.environ.pop("STANDIN", None)
        self.addCleanup(restore)
        emulator.EMULATOR_FOLDER = os.path.join(standins.folder, "emulator")
        emulator.EMULATOR = os.path.join(emulator.EMULATOR_FOLDER, "qemu-i386")
        emulator.debian_mirror = lambda: ("http://deb.debian.org/debian", None)
        os.environ["PATH"] = standins.environment["PATH"]
        os.environ["STANDIN"] = standins.folder
        with self.assertRaises(emulator.SetupError) as raised, contextlib.redirect_stdout(io.StringIO()):
            emulator.fetch_emulator()
        self.assertIn("apt could not read %s: File has unexpected size" % STALE, str(raised.exception))
        self.assertIn("try again later", str(raised.exception))
        self.assertEqual([call.split()[-1] for call in standins.calls("apt-get", "sleep")],
                         ["update", "10", "update", "10", "update"])


if __name__ == "__main__":
    unittest.main()
