#!/usr/bin/python3
"""make screenshots: the pictures of the README (the question, both
confirmations and the download offer) as Wine draws the boxes, in German:
Wine's own layout and controls, with Windows' fonts where Wine has its own of
them (Tahoma for the text, Marlett for the buttons of the title bar), each box
active, as it comes to the front. Wine sizes a box's text field itself, and
so wraps a long line of a box with one button where Windows would not. Taken
in a Wine desktop window on a virtual screen, with a stand-in for the viewer,
and saved to docs/."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import facts  # noqa: E402  (tests/facts.py)
import winesession as ws  # noqa: E402

LANG = "de_DE.UTF-8"
VIEWER = facts.PROGRAM_W6432_ON64 + facts.VIEWER64_NAME
FINISH = ("finish", "15000")


def main():
    ws.ensure_locale(LANG)
    steps = ([("reg_delete_tree", facts.VERB_KEY), ws.START_KOMPAKTO] + ws.hold_steps(facts.QUESTION_CAPTION, 1, "yes")
             + ws.hold_steps(facts.CONFIRM_CAPTION, 2, "ok") + [FINISH, ws.START_KOMPAKTO]
             + [("box", facts.QUESTION_CAPTION, "60000", "no")] + ws.hold_steps(facts.CONFIRM_CAPTION, 3, "ok")
             + [FINISH, ("delete_file", VIEWER), ws.START_KOMPAKTO]
             + [("box", facts.QUESTION_CAPTION, "60000", "yes")] + ws.hold_steps(facts.DOWNLOAD_CAPTION, 4, "cancel")
             + [FINISH])
    with ws.Session() as session:
        prefix = session.prefix("win64", {ws.KOMPAKTO: "kompakto.exe", VIEWER: "e2e-standin_viewer.exe"})
        driver = session.driver(prefix, steps, lang=LANG, desktop=True)
        for number, name in enumerate(("question", "activated", "deactivated", "download"), 1):
            path = os.path.join(ws.ROOT, "docs", "screenshot-%s.png" % name)
            driver.picture(prefix, number, path)
            print(os.path.relpath(path, ws.ROOT))
        driver.finish()
    return 0


if __name__ == "__main__":
    sys.exit(ws.guarded(main))
