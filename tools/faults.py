#!/usr/bin/python3
"""Plants the faults of tests/faults.txt one at a time and tells whether the
tests named for each catch it.

    /usr/bin/python3 tools/faults.py [--only=KIND,...] [WORD...]

A row is planted in a copy of the tracked files (build/faults/tree, its trees
built incrementally), only the groups of its tests run there, as `make test`
runs them (CTest, tests/groups.cmake), and the file is put back. What each
case came to is read from the one format every group leaves (JUnit XML,
tools/results.py). A row is "caught" when every test it names fails,
"ESCAPED" when one passes, "ERROR" when the row is wrong: its text is not
there exactly once, the plant does not build, a test name matches no case,
a named test fails without the plant. Under a [FILE, run] line the planted
file is run before the build: a generator whose output is committed.
--only keeps the tests of those kinds (a group of tests/groups.cmake, or
oswin for the windows-layer group); a WORD keeps the rows whose description
or file holds it. The groups under Wine hold the machine's Wine lock while
they run (tools/winesession.py).
"""
import filecmp
import fnmatch
import os
import re
import shutil
import subprocess
import sys
import time
import types

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(os.path.dirname(HERE), "tests", "e2e")]
import e2e  # noqa: E402  (tests/e2e/e2e.py: the names of the Windows layer's cases)
import results  # noqa: E402  (tools/results.py)
import trees  # noqa: E402  (tools/trees.py)

ROOT = trees.ROOT
TABLE = os.path.join(ROOT, "tests", "faults.txt")
TREE = os.path.join(ROOT, "build", "faults", "tree")
# The groups of tests/groups.cmake, by the trees each needs built besides
# the linux tree, where CTest has them all.
GROUPS = {"unit": [], "sanitize": ["checked"], "fuzz-corpus": ["checked"], "resources": ["windows"], "repro": [],
          "tools": [], "e2e": ["windows", "windows-x64"], "windows-layer": ["windows-layer", "windows", "windows-x64"],
          "release": ["windows"]}
GTEST_GROUPS = ("unit", "sanitize", "windows-layer")
TIMEOUTS = {"unit": 120, "sanitize": 300}  # seconds; a plant that makes them hang fails them
# oswin: a test of the windows-layer group in both prefixes; oswin64 and
# oswin32: in one of them.
LAYER_KINDS = {"oswin": ("win64", "win32"), "oswin64": ("win64",), "oswin32": ("win32",)}
KINDS = tuple(GROUPS) + tuple(LAYER_KINDS)
# A test starts at a word that names its kind; an e2e case's name has spaces.
NEXT_TEST = re.compile(r" (?=(?:%s):)" % "|".join(KINDS))


def group_of(test):
    return "windows-layer" if test[0] in LAYER_KINDS else test[0]


def names_of(test):
    """{where: the whole name, * and ? wildcards, of the cases test selects};
    a layer test's for each of its prefixes."""
    kind, name = test
    if kind in LAYER_KINDS:
        return {arch: e2e.layer_test_name(arch, name) for arch in LAYER_KINDS[kind]}
    return {"": name}


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
                        and all(test[0] in KINDS and test[1:] for test in tests)):
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


def build(tests):
    """Builds the trees the groups of tests need, and configures the linux
    tree; None when that went, else the end of the build's output."""
    needed = sorted({tree for test in tests for tree in GROUPS[group_of(test)]})
    for tree in ["linux"] + needed:
        if not os.path.exists(os.path.join(trees.folder(tree, TREE), "CMakeCache.txt")):
            subprocess.run(["cmake", "--preset", tree], cwd=TREE, check=True, stdout=subprocess.DEVNULL)
        if tree == "linux" and not any(group_of(test) == "unit" for test in tests):
            continue  # configured is enough: the unit tests' program is not run
        done = subprocess.run(["cmake", "--build", "--preset", tree], cwd=TREE, capture_output=True, text=True)
        if done.returncode:
            return "\n".join((done.stdout + done.stderr).strip().splitlines()[-8:])
    return None


def run_group(group, tests):
    """{case name: failed} of one run of group in the tree, as `make test`
    runs it, but of the cases tests select only where the group can choose;
    None when it left no results (it crashed or hung)."""
    wanted = [name for test in tests for name in names_of(test).values()]
    env = dict(os.environ, KOMPAKTO_CASES="\n".join(wanted))
    if group in GTEST_GROUPS:  # Wine hands GoogleTest its filter too
        env["GTEST_FILTER"] = ":".join(test[1] for test in tests)
    file = results.path(group, TREE)
    if os.path.exists(file):
        os.unlink(file)
    command = ["ctest", "--preset", "test", "-L", "^%s$" % group, "--timeout", str(TIMEOUTS.get(group, 1500))]
    done = subprocess.run(command, cwd=TREE, env=env, capture_output=True, text=True, errors="replace")
    cases = results.read(file)
    if cases is None:
        print("# %s left no results:\n%s" % (group, "\n".join(done.stdout.splitlines()[-12:])), flush=True)
    return cases


def run_tests(tests):
    """{test: {where: failed}}, a layer test's for each of its prefixes; an
    empty dict where no case of that name ran. A group that left no results
    crashed or hung: what it was to run failed."""
    found = {}
    for group in sorted({group_of(test) for test in tests}):
        mine = [test for test in tests if group_of(test) == group]
        cases = run_group(group, mine)
        for test in mine:
            if cases is None:
                found[test] = dict.fromkeys(names_of(test), True)
                continue
            found[test] = {}
            for where, name in names_of(test).items():
                matched = [failed for case, failed in cases.items() if fnmatch.fnmatchcase(case, name)]
                if matched:  # a test fails where any case it selects fails
                    found[test][where] = any(matched)
            if len(found[test]) < len(names_of(test)):
                found[test] = {}
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
        problem = build(row.tests)
        if problem:
            return "ERROR", ["the plant does not build:\n" + problem]
        found = run_tests(row.tests)
    finally:
        sync_tree()  # the planted file, and what its generator drew
    notes = ["%s:%s: nothing of that name ran" % t for t in row.tests if not found[t]]
    if notes:
        return "ERROR", notes
    notes = ["passes: %s:%s%s" % (test + (where and " in the %s prefix" % where,))
             for test in row.tests for where, failed in sorted(found[test].items()) if not failed]
    return ("ESCAPED" if notes else "caught"), notes


def main(argv):
    only = [a[len("--only="):].split(",") for a in argv[1:] if a.startswith("--only=")]
    words = [a for a in argv[1:] if not a.startswith("--")]
    kinds = set(only[-1]) if only else set(KINDS)
    if len(only) + len(words) < len(argv) - 1 or kinds - set(KINDS):
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    if "oswin" in kinds:
        kinds |= set(LAYER_KINDS) | {"windows-layer"}
    rows = [row for row in read_table(TABLE) if not words or any(w.lower() in (row.about + row.file).lower()
                                                                for w in words)]
    for row in rows:
        row.tests = [test for test in row.tests if test[0] in kinds or group_of(test) in kinds]
    rows = [row for row in rows if row.tests]
    started = time.time()
    os.makedirs(TREE, exist_ok=True)
    sync_tree()
    tests = sorted({test for row in rows for test in row.tests})
    problem = build(tests)
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
    build(tests)  # the trees as the tracked files have them, for the next run
    print("# %.0f s" % (time.time() - started))
    print("%d caught, %d escaped%s" % (counts["caught"], counts["ESCAPED"] + counts["ERROR"], counts["ERROR"]
                                       and " (%d of them errors in the table)" % counts["ERROR"] or ""))
    return 0 if counts["caught"] == len(rows) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
