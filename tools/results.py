"""One group of the checks of `make test`, run, and its cases' results kept
in one format: JUnit XML, in results/GROUP.xml of the linux tree, where
tools/faults.py reads them.

    /usr/bin/python3 tools/results.py GROUP -- COMMAND...
    /usr/bin/python3 tools/results.py GROUP --gtest -- COMMAND...
    /usr/bin/python3 tools/results.py GROUP --unittest FOLDER

A COMMAND tells its cases in lines "PASS NAME" and "FAIL NAME", with what it
has to say of a case in indented lines below; its output is shown as it
comes and written down. A GoogleTest program (--gtest) writes the file
itself. With --unittest the cases of FOLDER/*_test.py run here. The group
fails when the command fails, when a case fails, and when no case ran at all
(a filter that matches nothing, a folder left empty).
"""
import os
import re
import subprocess
import sys
import time
import unittest
from xml.etree import ElementTree
from xml.sax.saxutils import quoteattr, escape

import trees

CASE = re.compile(r"(PASS|FAIL) +(\S.*)$")
NOT_XML = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f]")  # what XML 1.0 cannot hold, even escaped


def path(group, root=trees.ROOT):
    return os.path.join(trees.folder("linux", root), "results", group + ".xml")


def write(group, cases, file):
    """cases: (name, failed, what it said, seconds) each."""
    failures = sum(failed for _, failed, _, _ in cases)
    total = sum(seconds for _, _, _, seconds in cases)
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             '<testsuites name=%s tests="%d" failures="%d" time="%.3f">' % (quoteattr(group), len(cases), failures,
                                                                         total),
             '  <testsuite name=%s tests="%d" failures="%d" time="%.3f">' % (quoteattr(group), len(cases), failures,
                                                                          total)]
    for name, failed, said, seconds in cases:
        name, said = NOT_XML.sub("?", name), NOT_XML.sub("?", said)
        lines.append('    <testcase classname="" name=%s time="%.3f">' % (quoteattr(name), seconds))
        if failed:
            lines.append("      <failure message=%s>%s</failure>" % (quoteattr(said.split("\n")[0]), escape(said)))
        elif said:
            lines.append("      <system-out>%s</system-out>" % escape(said))
        lines.append("    </testcase>")
    lines += ["  </testsuite>", "</testsuites>", ""]
    os.makedirs(os.path.dirname(file), exist_ok=True)
    with open(file, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))


def read(file):
    """{case name: failed} of a results file, a GoogleTest case named
    Suite.Name; None when there is none."""
    try:
        with open(file, "rb") as source:
            data = source.read().decode("utf-8", "replace")  # a failure may quote any byte
    except OSError:
        return None
    cases = {}
    for case in ElementTree.fromstring(data).iter("testcase"):
        if case.get("status", "run") == "run" and case.get("result", "completed") != "skipped":
            name = (case.get("classname") + "." if case.get("classname") else "") + case.get("name")
            cases[name] = case.find("failure") is not None or case.find("error") is not None
    return cases


def run_command(command):
    """Runs command, shows its output, and gives its exit code and cases."""
    cases, current, started = [], None, time.time()
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=None, text=True, errors="replace", bufsize=1)
    for line in process.stdout:
        print(line, end="", flush=True)
        found = CASE.match(line.rstrip("\n"))
        if found:
            current = [found.group(2), found.group(1) == "FAIL", [], time.time() - started]
            started = time.time()
            cases.append(current)
        elif current and line[:1] in (" ", "\t"):
            current[2].append(line.strip())
    return process.wait(), [(name, failed, "\n".join(said), seconds) for name, failed, said, seconds in cases]


class Cases(unittest.TextTestResult):
    """Tells each case as a PASS or FAIL line and keeps it."""

    def __init__(self, *arguments, **options):
        super().__init__(*arguments, **options)
        self.cases, self.started = [], time.time()

    def keep(self, test, failed, said=""):
        print(("FAIL " if failed else "PASS ") + test.id(), flush=True)
        for line in said.splitlines():
            print("     " + line)
        self.cases.append((test.id(), failed, said, time.time() - self.started))
        self.started = time.time()

    def addSuccess(self, test):
        super().addSuccess(test)
        self.keep(test, False)

    def addFailure(self, test, error):
        super().addFailure(test, error)
        self.keep(test, True, self.failures[-1][1])

    def addError(self, test, error):
        super().addError(test, error)
        self.keep(test, True, self.errors[-1][1])


def run_unittest(folder):
    suite = unittest.defaultTestLoader.discover(folder, pattern="*_test.py", top_level_dir=folder)
    result = unittest.TextTestRunner(stream=open(os.devnull, "w"), resultclass=Cases).run(suite)
    return (0 if result.wasSuccessful() else 1), result.cases


def main(argv):
    if len(argv) < 3 or argv[2] not in ("--", "--gtest", "--unittest"):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    group, mode = argv[1], argv[2]
    file = path(group)
    if os.path.exists(file):
        os.unlink(file)  # what an earlier run left proves nothing of this one
    if mode == "--unittest":
        code, cases = run_unittest(argv[3])
        write(group, cases, file)
    elif mode == "--gtest":
        code = subprocess.run(argv[4:] + ["--gtest_output=xml:" + file]).returncode
        cases = list((read(file) or {}).items())
    else:
        code, cases = run_command(argv[3:])
        write(group, cases, file)
    if not cases:
        print("%s: no case ran" % group, file=sys.stderr)
        return 1
    return 1 if code or any(failed for _, failed, *_ in cases) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
