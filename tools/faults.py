#!/usr/bin/python3
"""Plants the faults of tests/faults.txt one at a time and tells whether the
tests named for each catch it.

    /usr/bin/python3 tools/faults.py [--only=KIND,...] [WORD...]

A row is planted in a copy of the tracked files (build/faults/tree, its trees
built incrementally), only its tests run, and the file is put back. It is
"caught" when every test it names fails, "ESCAPED" when one passes, "ERROR"
when the row is wrong: its text is not there exactly once, the plant does not
build, a test name matches no test, a named test fails without the plant.
Under a [FILE, run] line the planted file is run before the build: a
generator whose output is committed.
--only keeps the tests of those kinds (unit, oswin, e2e, resources); a WORD
keeps the rows whose description or file holds it. The Wine steps hold
/tmp/kompakto-wine.lock: one Wine session at a time on this machine.
"""
import contextlib
import fcntl
import filecmp
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import types
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
TREES = {"unit": ["linux"], "oswin": ["windows-layer", "windows"], "e2e": ["windows"], "resources": ["windows"]}
# A test starts at a word that names its kind; an e2e case's name has spaces.
NEXT_TEST = re.compile(r" (?=(?:%s):)" % "|".join(KINDS + tuple(LAYER_PREFIXES)))


def kind(test):
    return "oswin" if test[0] in LAYER_PREFIXES else test[0]


def read_table(path):
    """The rows under each [file] line: a # line saying what the fault is,
    then OLD ==> NEW :: TESTS."""
    rows, file, about = [], None, None
    with open(path, encoding="utf-8") as table:
        for number, line in enumerate(table, 1):
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                (file, _, run), about = line[1:-1].partition(", "), None
            elif line.startswith("#") or not line:
                about = line[1:].strip() or None
            else:
                change, _, tests = line.partition(" :: ")
                old, _, new = change.partition(" ==> ")
                tests = [tuple(test.split(":", 1)) for test in NEXT_TEST.split(tests)]
                if not (file and about and old and line.count(" :: ") == change.count(" ==> ") == 1
                        and all(kind(test) in KINDS and test[1:] for test in tests)):
                    raise SystemExit("%s:%d: a row is a # line, then OLD ==> NEW :: KIND:TEST..., under a [file] "
                                     "line; KIND is one of %s" % (path, number, ", ".join(KINDS)))
                rows.append(types.SimpleNamespace(about=about, file=file, run=run == "run", old=old, new=new,
                                                  tests=tests))
                about = None
    return rows


def sync_tree():
    """The tracked files as they are now, copied where they differ, as new
    files: a plant that a stopped run left behind is rebuilt away."""
    tracked = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, capture_output=True, check=True).stdout
    for name in filter(None, tracked.decode().split("\0")):
        source, target = os.path.join(ROOT, name), os.path.join(TREE, name)
        if os.path.isfile(source) and not (os.path.exists(target) and filecmp.cmp(source, target, shallow=False)):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(source, target)


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
        cases = ElementTree.parse(report, ElementTree.XMLParser(encoding="latin-1")).getroot().iter("testcase")
        return [case.find("failure") is not None for case in cases]  # a failure's message may hold any byte


@contextlib.contextmanager
def wine_lock():
    """/tmp/kompakto-wine.lock, unless this process holds it already through
    a descriptor it inherited (flock /tmp/kompakto-wine.lock make faults)."""
    for fd in os.listdir("/proc/self/fd"):
        if os.path.realpath("/proc/self/fd/" + fd) == WINE_LOCK:
            try:
                fcntl.flock(int(fd), fcntl.LOCK_EX | fcntl.LOCK_NB)  # the lock an ancestor took
            except OSError:
                continue
            yield
            return
    with open(WINE_LOCK, "a") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def resource_checks():
    """(line, failed) for each check of the tree's check_resources.py, which
    reads the tree's committed images, on the tree's kompakto.exe."""
    checker = os.path.join(TREE, "tests", "resources", "check_resources.py")
    output = subprocess.run([sys.executable, checker, os.path.join(TREE, "build", "windows", "kompakto.exe")],
                            capture_output=True, text=True).stdout
    return [(line[6:], line.startswith("FAIL")) for line in output.splitlines() if line[:6] in ("PASS  ", "FAIL  ")]


def run_wine(tests):
    """What run_tests says of the e2e cases and layer tests, from one run of
    tests/e2e/e2e.py on the planted tree."""
    layer = [name for kind, name in tests if kind in LAYER_PREFIXES]
    arches = sorted({arch for kind, _ in tests for arch in LAYER_PREFIXES.get(kind, ())})
    env = dict(os.environ, GTEST_FILTER=":".join(layer) or "-*")  # Wine hands GoogleTest its filter
    command = [sys.executable, os.path.join(ROOT, "tests", "e2e", "e2e.py"), os.path.join(TREE, "build", "windows")]
    command += [name for kind, name in tests if kind == "e2e"] + ["windows layer (%s prefix" % a for a in arches]
    with wine_lock():
        output = subprocess.run(command, env=env, capture_output=True, text=True).stdout
    results = {line[5:]: line.startswith("FAIL") for line in output.splitlines() if line[:5] in ("PASS ", "FAIL ")}
    if not results:
        print("# e2e.py reported nothing:\n" + output, flush=True)
    found = {}
    for test in tests:
        if test[0] == "e2e":
            found[test] = {"": results[test[1]]} if test[1] in results else {}
            continue
        # A test of the layer fails in a prefix where any test it selects fails.
        matched = [(m.group(1), failed) for result, failed in results.items() for m in [LAYER_RESULT.fullmatch(result)]
                   if m and m.group(1) in LAYER_PREFIXES[test[0]] and fnmatch.fnmatchcase(m.group(2), test[1])]
        found[test] = {arch: any(f for a, f in matched if a == arch) for arch, _ in matched}
        found[test] = found[test] if len(found[test]) == len(LAYER_PREFIXES[test[0]]) else {}
    return found


def run_tests(tests):
    """{(kind, name): {where: failed}}, a layer test's for each of its
    prefixes; an empty dict when nothing of that name ran. A resources
    test is a check of check_resources.py, by a part of its line."""
    found, checks = {}, None
    for test in tests:
        if test[0] == "unit":
            ran = run_unit(test[1])
            found[test] = {"": any(ran)} if ran else {}
        elif test[0] == "resources":
            checks = checks or resource_checks()
            ran = [failed for line, failed in checks if test[1] in line]
            found[test] = {"": any(ran)} if ran else {}
    wine = [test for test in tests if kind(test) in ("e2e", "oswin")]
    if wine:
        found.update(run_wine(wine))
    return found


def read(path):
    with open(path, encoding="utf-8", newline="") as source:
        return source.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="") as source:
        source.write(text)


def try_row(row, baseline):
    """The row's verdict and notes."""
    notes = ["%s:%s names no test" % t for t in row.tests if not baseline[t]]
    notes += ["%s:%s fails without the plant" % t for t in row.tests if any(baseline[t].values())]
    if notes:
        return "ERROR", notes
    path = os.path.join(TREE, row.file)
    original = read(path) if os.path.isfile(path) else ""
    if original.count(row.old) != 1:
        return "ERROR", ["the original text stands %d times in %s" % (original.count(row.old), row.file)]
    try:
        write(path, original.replace(row.old, row.new))
        if row.run:
            subprocess.run([sys.executable, path], check=True, stdout=subprocess.DEVNULL)
        problem = build(sorted({preset for test in row.tests for preset in TREES[kind(test)]}))
        if problem:
            return "ERROR", ["the plant does not build:\n" + problem]
        results = run_tests(row.tests)
    finally:
        sync_tree()  # the planted file, and what its generator drew
    notes = ["%s:%s: nothing of that name ran" % t for t in row.tests if not results[t]]
    if notes:
        return "ERROR", notes
    notes = ["passes: %s:%s%s" % (test + (where and " in the %s prefix" % where,))
             for test in row.tests for where, failed in sorted(results[test].items()) if not failed]
    return ("ESCAPED" if notes else "caught"), notes


def main(argv):
    only = [a[len("--only="):].split(",") for a in argv[1:] if a.startswith("--only=")]
    words = [a for a in argv[1:] if not a.startswith("--")]
    kinds = set(only[-1]) if only else set(KINDS)
    if len(only) + len(words) < len(argv) - 1 or kinds - set(KINDS):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    rows = [row for row in read_table(TABLE) if not words or any(w.lower() in (row.about + row.file).lower()
                                                                for w in words)]
    for row in rows:
        row.tests = [test for test in row.tests if kind(test) in kinds]
    rows = [row for row in rows if row.tests]
    started = time.time()
    os.makedirs(TREE, exist_ok=True)
    sync_tree()
    tests = sorted({test for row in rows for test in row.tests})
    presets = sorted({preset for test in tests for preset in TREES[kind(test)]})
    if "windows" in presets:  # e2e.py runs from the windows tree, and wants the layer's program there too
        presets = sorted(set(presets) | {"windows-layer"})
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
        verdict, notes = try_row(row, baseline)
        counts[verdict] += 1
        print("%-8s %s (%s; %.0f s)" % (verdict, row.about, row.file, time.time() - row_started), flush=True)
        for note in notes:
            print("         " + note.replace("\n", "\n         "))
    build(presets)  # the trees as the tracked files have them, for the next run
    print("# %.0f s" % (time.time() - started))
    print("%d caught, %d escaped%s" % (counts["caught"], counts["ESCAPED"] + counts["ERROR"], counts["ERROR"]
                                       and " (%d of them errors in the table)" % counts["ERROR"] or ""))
    return 0 if counts["caught"] == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
