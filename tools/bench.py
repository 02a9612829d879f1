#!/usr/bin/python3
"""make bench: the footprint of kompakto.exe: its size and the DLLs it
imports, and the time under Wine from the process's start to the question
against bench-minimal.exe (one message box, built as kompakto.exe is), both
timed side by side by the driver's time_boxes step, ROUNDS rounds (101) after
a warm-up. Budgets: 32 KiB, 1.10 times the yardstick's median; exits non-zero
over one, or when the timing fails. Where 32-bit code is emulated the times
are not taken: they would be qemu's.

Why so many rounds: under Wine a start takes 70 to 150 ms, most of it before
the program's first instruction, spread evenly over that range. The median
of 7 rounds lands more than 10 % off now and then; 101 rounds keep the ratio
within about 2 %, in some 30 s.
"""
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import facts  # noqa: E402  (tests/facts.py)
import winesession  # noqa: E402

SIZE_BUDGET = 32768
RATIO_BUDGET = 1.10
PROGRAMS = (("kompakto.exe", facts.QUESTION_CAPTION), ("bench-minimal.exe", "Kompakto bench"))


def footprint(name):
    path = os.path.join(winesession.BUILD, name)
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path], capture_output=True, text=True).stdout
    dlls = [line.split(":", 1)[1].strip() for line in dump.splitlines() if "DLL Name:" in line]
    size = os.path.getsize(path)
    print("%s: %d bytes (%.1f KiB); imports: %s" % (name, size, size / 1024, " ".join(dlls)))
    return size


def main():
    rounds = int(os.environ.get("ROUNDS", "101"))
    size = footprint("kompakto.exe")
    footprint("bench-minimal.exe")
    failed = size > SIZE_BUDGET
    if failed:
        print("OVER BUDGET: size %d > %d bytes" % (size, SIZE_BUDGET))
    if winesession.prepare_machine() == "emulated":
        print("start-up ratio: not measured on this machine (32-bit code runs under qemu's emulator here, "
              "so the time would be qemu's, not the program's)")
        return 1 if failed else 0
    step = ["time_boxes", str(rounds)] + [field for name, caption in PROGRAMS
                                          for field in (caption, winesession.HELPERS + "\\" + name)]
    with winesession.Session() as session:
        prefix = session.prefix("win64", {winesession.HELPERS + "\\" + name: name for name, _ in PROGRAMS})
        print("timing %d rounds (and a warm-up) on %s" % (rounds, session.display), flush=True)
        events = session.driver(prefix, [tuple(step)]).finish(timeout=120 + rounds * 10)
    times = {index: [e["us"] / 1000 for e in events if e["event"] == "timed" and e["round"] > 0
                     and e["index"] == index] for index in range(len(PROGRAMS))}
    wrong = [e for e in events if e["event"] in ("timed_fail", "timeout")
             or (e["event"] == "timed" and e["index"] == 0 and e["code"] != facts.EXIT_DONE)]
    if wrong or any(len(t) != rounds for t in times.values()):
        print("timing failed: %s" % (wrong or "missing rounds"))
        return 1
    for index, (name, _) in enumerate(PROGRAMS):
        print("%-18s start to its box: median %6.1f ms (%.1f to %.1f)"
              % (name, statistics.median(times[index]), min(times[index]), max(times[index])))
    ratio = statistics.median(times[0]) / statistics.median(times[1])
    print("ratio of the medians: %.3f (budget %.2f), %d rounds each" % (ratio, RATIO_BUDGET, rounds))
    if ratio > RATIO_BUDGET:
        print("OVER BUDGET: start-up ratio %.3f > %.2f" % (ratio, RATIO_BUDGET))
    elif not failed:
        print("within budget: size and start-up time")
    return 1 if failed or ratio > RATIO_BUDGET else 0


if __name__ == "__main__":
    sys.exit(winesession.guarded(main))
