#!/usr/bin/python3
"""make screenshots: the pictures of the README (the question, both
confirmations and the download offer) as a German Windows shows them, taken
under Wine in a desktop window on a virtual screen, with a stand-in for the
viewer, and saved to docs/."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import facts  # noqa: E402  (tests/facts.py)
import winesession  # noqa: E402

LANG = "de_DE.UTF-8"
PROGRAM = winesession.HELPERS + "\\kompakto.exe"
VIEWER = facts.PROGRAM_W6432_ON64 + facts.VIEWER64_NAME


def main():
    winesession.ensure_locale(LANG)
    hold = winesession.hold_steps
    start = ("start", PROGRAM, '"%s"' % PROGRAM, "")
    steps = ([("reg_delete_tree", facts.VERB_KEY), start] + hold(facts.QUESTION_CAPTION, 1, "yes")
             + hold(facts.CONFIRM_CAPTION, 2, "ok") + [("finish", "15000"), start]
             + [("box", facts.QUESTION_CAPTION, "60000", "no")] + hold(facts.CONFIRM_CAPTION, 3, "ok")
             + [("finish", "15000"), ("delete_file", VIEWER), start]
             + [("box", facts.QUESTION_CAPTION, "60000", "yes")] + hold(facts.DOWNLOAD_CAPTION, 4, "cancel")
             + [("finish", "15000")])
    with winesession.Session() as session:
        prefix = session.prefix("win64", {PROGRAM: "kompakto.exe", VIEWER: "e2e-standin_viewer.exe"})
        driver = session.driver(prefix, steps, lang=LANG, desktop="640x480")
        for number, name in enumerate(("question", "activated", "deactivated", "download"), 1):
            path = os.path.join(winesession.ROOT, "docs", "screenshot-%s.png" % name)
            driver.picture(prefix, number, path)
            print(os.path.relpath(path, winesession.ROOT))
        driver.finish()
    return 0


if __name__ == "__main__":
    sys.exit(winesession.guarded(main))
