"""How a group of checks is run and its results kept (tools/results.py): the
cases a command tells, what it says of each, and that a group fails when a
case or the command fails or no case ran at all.

    make tools      (or: /usr/bin/python3 tools/results.py tools --unittest tests/tools)
"""
import contextlib
import io
import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))),
                                "tools"))
import results  # noqa: E402  (tools/results.py)


class GroupTest(unittest.TestCase):
    def run_group(self, *arguments):
        """The group's exit code, and its results as read back."""
        with tempfile.TemporaryDirectory() as work, mock.patch.object(results, "path",
                                                                       lambda group: os.path.join(work, "r.xml")):
            with contextlib.redirect_stdout(io.StringIO()), contextlib.redirect_stderr(io.StringIO()):
                code = results.main(["results.py", "group"] + list(arguments))
            return code, results.read(os.path.join(work, "r.xml"))

    def command(self, script):
        return ["--", sys.executable, "-c", script]

    def test_each_case_a_command_tells_and_no_other_line(self):
        script = ("print('# a remark'); print('PASS one  two'); print('     kept'); print('FAIL  three: x')\n"
                  "print('     why'); print('PASSED is no case'); print('FAIL')")
        self.assertEqual(self.run_group(*self.command(script)), (1, {"one  two": False, "three: x": True}))

    def test_a_group_passes_only_when_its_command_and_every_case_pass(self):
        for script, code in (("print('PASS a')", 0), ("print('PASS a'); raise SystemExit(3)", 1),
                             ("print('PASS a'); print('FAIL b')", 1)):
            self.assertEqual(self.run_group(*self.command(script))[0], code, script)

    def test_a_group_that_ran_no_case_fails(self):
        self.assertEqual(self.run_group(*self.command("print('all fine')")), (1, {}))
        with tempfile.TemporaryDirectory() as empty:
            self.assertEqual(self.run_group("--unittest", empty), (1, {}))


if __name__ == "__main__":
    unittest.main()
