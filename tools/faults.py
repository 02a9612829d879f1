#!/usr/bin/python3
"""Plants the faults of tests/faults.txt one at a time and tells whether the
tests named for each catch it.

    /usr/bin/python3 tools/faults.py [--only=KIND,...] [WORD...]

Each row of the table changes one piece of text on one line of one file. The
tracked files are copied to build/faults/tree (its trees are configured once
there and rebuilt incrementally); a row is planted there, the trees its tests
need are built, only those tests run, and the line is put back. A row is
"caught" when every test it names fails; "ESCAPED" when one of them passes;
"ERROR" when the table itself is wrong (the text is not found exactly once,
the plant does not compile, a test name matches no test, a named test fails
without the plant). --only keeps the tests of those kinds (unit, oswin, e2e,
resources) and the rows that name one; a WORD keeps the rows whose
description or file holds it. The Wine steps take /tmp/kompakto-wine.lock, so
that one Wine session runs at a time on this machine.
"""
import fcntl
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from xml.etree import ElementTree

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TABLE = os.path.join(ROOT, "tests", "faults.txt")
TREE = os.path.join(ROOT, "build", "faults", "tree")
WINE_LOCK = "/tmp/kompakto-wine.lock"
KINDS = ("unit", "oswin", "e2e", "resources")
# oswin: both prefixes; oswin64:/oswin32: one of them, as e2e.py names its results.
LAYER_PREFIXES = {"oswin": ("win64", "win32"), "oswin64": ("win64",), "oswin32": ("win32",)}
LAYER_RESULT = re.compile(r"windows layer \((win64|win32) prefix, code page \d+\): (.*)")
UNIT_TESTS = os.path.join(TREE, "build", "linux", "tests", "unit", "unit_tests")
TREES = {"unit": ["linux"], "oswin": ["windows-layer"], "e2e": ["windows"], "resources": ["windows"]}


class Row:
    def __init__(self, number, about):
        self.number, self.about = number, about
        self.file = self.old = self.new = None
        self.tests = []  # (kind, name); kind as written: unit, oswin, oswin64, e2e, resources, ...

    def kind(self, test):
        return "oswin" if test[0] in LAYER_PREFIXES else test[0]


def read_table(path):
    """Rows of blank-line separated blocks: comment lines (#) say what the
    fault is, then in:, from:, to: and one fails: line per test."""
    rows, row = [], None
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.rstrip("\n")
            if not line.strip():
                row = None
                continue
            if row is None:
                row = Row(number, [])
                rows.append(row)
            key, _, value = line.partition(":")
            if line.startswith("#"):
                row.about.append(line[1:].strip())
            elif key == "in":
                row.file = value.strip()
            elif key == "from":
                row.old = value.strip()
            elif key == "to":
                row.new = value.strip()
            elif key == "fails":
                kind, _, name = value.strip().partition(":")
                row.tests.append((kind, name.strip()))
            else:
                raise SystemExit("%s:%d: not a row's line: %s" % (path, number, line))
    rows = [row for row in rows if row.file or row.old or row.new or row.tests]  # comments alone are none
    for row in rows:
        row.about = " ".join(row.about)
        bad = [kind for kind, _ in row.tests if row.kind((kind, "")) not in KINDS]
        if None in (row.file, row.old, row.new) or not row.tests or bad:
            raise SystemExit("%s:%d: a row needs in:, from:, to: and fails: lines of the kinds %s"
                             % (path, row.number, ", ".join(KINDS)))
    return rows


def sync_tree():
    """The tracked files as they are now, copied where they differ."""
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    for name in tracked.decode().split("\0"):
        source, target = os.path.join(ROOT, name), os.path.join(TREE, name)
        if not name or not os.path.isfile(source):
            continue
        with open(source, "rb") as new:
            data = new.read()
        if os.path.exists(target):
            with open(target, "rb") as old:
                if old.read() == data:
                    continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(source, target)


def build(presets):
    """None when every tree built, else the end of the build's output."""
    for preset in presets:
        if not os.path.exists(os.path.join(TREE, "build", preset, "CMakeCache.txt")):
            subprocess.run(["cmake", "--preset", preset], cwd=TREE, check=True, stdout=subprocess.DEVNULL)
        done = subprocess.run(["cmake", "--build", "--preset", preset], cwd=TREE, capture_output=True, text=True)
        if done.returncode:
            return "\n".join((done.stdout + done.stderr).strip().splitlines()[-8:])
    return None


def run_unit(name):
    """[failed] for each unit test that the pattern name selects."""
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.xml")
        try:
            code = subprocess.run([UNIT_TESTS, "--gtest_filter=" + name, "--gtest_output=xml:" + report],
                                  capture_output=True, timeout=120).returncode
        except subprocess.TimeoutExpired:
            code = None
        if not os.path.exists(report):  # it crashed or hung: what it ran failed
            return [True] if code != 0 else []
        return [case.find("failure") is not None for case in ElementTree.parse(report).getroot().iter("testcase")]


class WineLock:
    """/tmp/kompakto-wine.lock, unless this process holds it already through
    a descriptor it inherited (flock /tmp/kompakto-wine.lock make faults)."""

    def __enter__(self):
        self.own = None
        for fd in os.listdir("/proc/self/fd"):
            if os.path.realpath("/proc/self/fd/" + fd) == WINE_LOCK:
                try:
                    fcntl.flock(int(fd), fcntl.LOCK_EX | fcntl.LOCK_NB)
                    return self  # the lock an ancestor took
                except OSError:
                    pass
        self.own = open(WINE_LOCK, "a")
        fcntl.flock(self.own, fcntl.LOCK_EX)
        return self

    def __exit__(self, *exception):
        if self.own:
            self.own.close()


def run_wine(tests):
    """What run_tests says of the e2e cases and layer tests, from one run of
    tests/e2e/e2e.py on the planted tree."""
    cases = [name for kind, name in tests if kind == "e2e"]
    layers = sorted({arch for kind, _ in tests if kind in LAYER_PREFIXES for arch in LAYER_PREFIXES[kind]})
    env = dict(os.environ)
    # GoogleTest reads its filter from the environment, which Wine hands on.
    env["GTEST_FILTER"] = ":".join(name for kind, name in tests if kind in LAYER_PREFIXES) or "-*"
    command = [sys.executable, os.path.join(ROOT, "tests", "e2e", "e2e.py"), os.path.join(TREE, "build", "windows")]
    command += cases + ["windows layer (%s prefix" % arch for arch in layers]
    with WineLock():
        output = subprocess.run(command, env=env, capture_output=True, text=True).stdout
    results = {}
    for line in output.splitlines():
        if line[:5] in ("PASS ", "FAIL "):
            results[line[5:]] = line.startswith("FAIL")
    found = {}
    for kind, name in tests:
        if kind == "e2e":
            found[(kind, name)] = {"": results[name]} if name in results else {}
        else:  # a test of the layer, in each prefix its kind names
            matched = [(m.group(1), failed) for result, failed in results.items()
                       for m in [LAYER_RESULT.fullmatch(result)] if m and fnmatch.fnmatchcase(m.group(2), name)]
            found[(kind, name)] = {arch: any(f for a, f in matched if a == arch)
                                   for arch in LAYER_PREFIXES[kind] if arch in dict(matched)}
            if len(found[(kind, name)]) < len(LAYER_PREFIXES[kind]):
                found[(kind, name)] = {}
    if not results:
        print("# e2e.py reported nothing:\n" + output, flush=True)
    return found


def run_tests(tests):
    """{(kind, name): {where: failed}}: a pattern fails where any test it
    selects fails; a layer test runs in each of its prefixes. An empty dict
    when nothing of that name ran."""
    found = {}
    for test in tests:
        if test[0] == "unit":
            ran = run_unit(test[1])
            found[test] = {"": any(ran)} if ran else {}
    for test in tests:
        if test[0] == "resources":
            exe = os.path.join(TREE, "build", "windows", "kompakto.exe")
            checker = os.path.join(ROOT, "tests", "resources", "check_resources.py")
            failed = subprocess.run([sys.executable, checker, exe], capture_output=True).returncode != 0
            found[test] = {"": failed}
    wine = [test for test in tests if test[0] == "e2e" or test[0] in LAYER_PREFIXES]
    if wine:
        found.update(run_wine(wine))
    return found


def named(test):
    return "%s:%s" % test


def plant(row):
    """Plants row; returns the original file's text, or an error."""
    path = os.path.join(TREE, row.file)
    try:
        with open(path, encoding="utf-8", newline="") as source:
            text = source.read()
    except OSError as error:
        return None, str(error)
    count = text.count(row.old)
    if count != 1:
        return None, "the original text stands %d times in %s" % (count, row.file)
    with open(path, "w", encoding="utf-8", newline="") as planted:
        planted.write(text.replace(row.old, row.new))
    return text, None


def restore(row, text):
    with open(os.path.join(TREE, row.file), "w", encoding="utf-8", newline="") as source:
        source.write(text)


def main(argv):
    only = [a.split("=", 1)[1].split(",") for a in argv[1:] if a.startswith("--only=")]
    words = [a for a in argv[1:] if not a.startswith("--")]
    kinds = set(only[0]) if only else set(KINDS)
    if set(argv[1:]) - set(words) - {a for a in argv[1:] if a.startswith("--only=")} or kinds - set(KINDS):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    rows = []
    for row in read_table(TABLE):
        row.tests = [test for test in row.tests if row.kind(test) in kinds]
        if row.tests and (not words or any(w.lower() in (row.about + row.file).lower() for w in words)):
            rows.append(row)
    started = time.time()
    os.makedirs(TREE, exist_ok=True)
    sync_tree()
    tests = sorted({test for row in rows for test in row.tests})
    presets = sorted({preset for kind in {row.kind(test) for test in tests} for preset in TREES[kind]})
    if "windows" in presets:
        presets.append("windows-layer")  # e2e.py wants the layer's program even where it runs none of its tests
    problem = build(presets)
    if problem:
        print("the unplanted tree does not build:\n" + problem)
        return 1
    # Without a plant every named test must pass, or its failing proves nothing.
    baseline = run_tests(tests)
    print("# without a plant, %d test(s) in %.0f s" % (len(tests), time.time() - started), flush=True)
    counts = {"caught": 0, "ESCAPED": 0, "ERROR": 0}
    for row in rows:
        row_started = time.time()
        verdict, notes = "caught", []
        for test in row.tests:
            if not baseline[test]:
                verdict, notes = "ERROR", notes + ["%s names no test" % named(test)]
            elif any(baseline[test].values()):
                verdict, notes = "ERROR", notes + ["%s fails without the plant" % named(test)]
        original, error = plant(row) if verdict == "caught" else (None, None)
        if error:
            verdict, notes = "ERROR", [error]
        if original is not None:
            try:
                problem = build(sorted({p for test in row.tests for p in TREES[row.kind(test)]}))
                if problem:
                    verdict, notes = "ERROR", ["the plant does not build:\n" + problem]
                else:
                    for test, results in run_tests(row.tests).items():
                        if not results:
                            verdict, notes = "ERROR", notes + ["%s: nothing of that name ran" % named(test)]
                        elif not all(results.values()) and verdict != "ERROR":
                            verdict = "ESCAPED"
                            notes += ["passes: %s%s" % (named(test), where and " in the %s prefix" % where)
                                      for where, failed in sorted(results.items()) if not failed]
            finally:
                restore(row, original)
        counts[verdict] += 1
        print("%-8s %s (%s; %.0f s)" % (verdict, row.about, row.file, time.time() - row_started), flush=True)
        for note in notes:
            print("         " + note.replace("\n", "\n         "))
    build(presets)  # the trees as the tracked files have them, for the next run
    print("# %.0f s" % (time.time() - started))
    errors = counts["ERROR"]
    print("%d caught, %d escaped%s" % (counts["caught"], counts["ESCAPED"] + errors,
                                       " (%d of them errors in the table)" % errors if errors else ""))
    return 0 if counts["caught"] == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
