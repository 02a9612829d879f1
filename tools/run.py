#!/usr/bin/python3
"""make run: kompakto.exe under Wine, in German, as Wine draws its boxes.

With a reachable $DISPLAY it runs there, in a fresh prefix, and waits for
you to answer. Without one it shows the question on a virtual screen in a
Wine desktop window, saves a picture of it as build/question.png, answers
Abbrechen (nothing changes) and says where the picture is.
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tests"))
import facts  # noqa: E402  (tests/facts.py)
import winesession as ws  # noqa: E402

LANG = "de_DE.UTF-8"


def main():
    ws.ensure_locale(LANG)
    display = os.environ.get("DISPLAY") or None
    if display and subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, timeout=5).returncode:
        display = None  # not reachable
    with ws.Session(display=display) as session:
        prefix = session.prefix("win64", {ws.KOMPAKTO: "kompakto.exe"})
        if display:
            print("Starting kompakto.exe on %s; answer its question there." % display)
            code = subprocess.run(["wine", ws.KOMPAKTO], env=session.env(prefix, LANG)).returncode
            print("kompakto.exe ended with exit code %d" % code)
            return 0
        print("No display: a virtual screen on %s" % session.display)
        steps = [ws.START_KOMPAKTO] + ws.hold_steps(facts.QUESTION_CAPTION, 1, "cancel") + [("finish", "15000")]
        driver = session.driver(prefix, steps, lang=LANG, desktop=True)
        shot = os.path.join(ws.ROOT, "build", "question.png")
        driver.picture(prefix, 1, shot)
        ended = [e for e in driver.finish() if e["event"] == "exit"]
        if not ended or ended[0].get("code") != facts.EXIT_DONE:
            print("kompakto.exe did not end as expected: %s" % ended, file=sys.stderr)
            return 1
        print("Answered Abbrechen; kompakto.exe ended with exit code 0.\n" + shot)
        return 0


if __name__ == "__main__":
    sys.exit(ws.guarded(main))
