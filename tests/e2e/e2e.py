#!/usr/bin/python3
"""End-to-end tests: the real kompakto.exe under Wine, answered from outside.

    /usr/bin/python3 tests/e2e/e2e.py BUILD_DIR [FILTER...] [--keep]

BUILD_DIR holds kompakto.exe, e2e-driver.exe and e2e-standin_viewer.exe (as
`make` leaves them in build/windows). A FILTER keeps only the cases whose name
holds it; several filters keep the cases that match any of them. --keep
leaves each group's prefix under BUILD_DIR/e2e-work for a look afterwards;
the logs and transcripts of a failed run stay there anyway.

How it works: one Xvfb of its own; two template prefixes (64-bit and 32-bit)
made once and kept under BUILD_DIR/e2e-prefixes; for each group of cases a
fresh copy of a template, into which the viewer stand-ins are laid as the
group needs; one run of the driver (tests/e2e/driver.c) inside that prefix
carries out every case of the group and writes a transcript, which is then
checked here case by case. Every wait has a time-out, and everything that
was started is killed at the end.
"""

import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

# ---------------------------------------------------------------------------
# What the program must show and store. Written out here from the program's
# description, as Unicode: the boxes are read back as UTF-16, so a wrong byte
# in the program's Windows-1252 texts or a wrong conversion shows up as a
# wrong character.

SEPARATOR = "-=" * 22 + "-"
MAKER_LINE = "Freeware \u00a9 2026 Kompakto-Team"
MENU_NAME = "Kontextmen\u00fc \u00abShrink JPG (IrfanView)\u00bb"
MENU_DESCRIPTION = [
    "Kontextmen\u00fc Shrink JPG (IrfanView):",
    "",
    "Vorhandene Bilder werden auf die L\u00e4nge 1600px",
    "reduziert und als \u00abDateiname - (1600\u00d7H\u00f6he).jpg\u00bb",
    "mit der Kompressionsstufe 70% gespeichert.",
    "",
    "Die reduzierten JPGs sind optimiert f\u00fcr die Ver-",
    "wendung im Web.",
    "",
    "(Installierter IrfanView Bildbetrachter erforderlich)",
    SEPARATOR,
]
HEADER = ["Kompakto v1.1.0.0", MAKER_LINE]


def lines(*parts):
    return "\r".join(parts)


QUESTION_CAPTION = "Kompakto 1.1.0.0"
QUESTION_TEXT = lines(*MENU_DESCRIPTION, "", MENU_NAME + " aktivieren?", "",
                      "[Ja]\tAktivieren", "[Nein]\tDeaktivieren")
CONFIRM_CAPTION = "Kompakto"
ACTIVATED_TEXT = lines(*HEADER, "", *MENU_DESCRIPTION, "Das " + MENU_NAME, "wurde aktiviert.")
DEACTIVATED_TEXT = lines(*HEADER, SEPARATOR, "Das " + MENU_NAME, "wurde deaktiviert.")
ERROR_CAPTION = "Kompakto: Fehler"
ACTIVATION_FAILED_TEXT = lines(*HEADER, SEPARATOR, "Das " + MENU_NAME,
                               "konnte nicht aktiviert werden:",
                               "Der Eintrag in der Registrierung (HKEY_CURRENT_USER)",
                               "l\u00e4sst sich nicht schreiben.")
DEACTIVATION_FAILED_TEXT = lines(*HEADER, SEPARATOR, "Das " + MENU_NAME,
                                 "konnte nicht deaktiviert werden:",
                                 "Ein Eintrag in der Registrierung (HKEY_CURRENT_USER)",
                                 "l\u00e4sst sich nicht l\u00f6schen.")
DOWNLOAD_CAPTION = "Kompakto: IrfanView nicht gefunden"
DOWNLOAD_TEXT = lines("Kompakto 1.1.0.0 erfordert die Installation",
                      "von IrfanView (Bildbetrachter/konverter).",
                      "",
                      "Kompakto nach erfolgter Installation erneut starten.",
                      "",
                      "IrfanView (32-Bit oder 64-Bit) jetzt herunterladen?")

COMMAND_TAIL = ('" "%1" "%1\\*.*" /silent /resize_long=1600 /aspectratio /resample /jpgq=70'
                ' /convert="$N - ($W\u00d7$H).jpg"')
CONVERT_OPTION = "/convert=$N - ($W\u00d7$H).jpg"

# Guards against a slip in the lines above.
assert len(QUESTION_TEXT) == 427, len(QUESTION_TEXT)
assert len(COMMAND_TAIL) == 101, len(COMMAND_TAIL)
for _text in (QUESTION_TEXT, ACTIVATED_TEXT, DEACTIVATED_TEXT, DOWNLOAD_TEXT):
    _text.encode("cp1252")


def command_for(viewer):
    return '"' + viewer + COMMAND_TAIL


IDOK, IDCANCEL, IDYES, IDNO = 1, 2, 6, 7
REG_SZ = 1

CLASSES = "SOFTWARE\\Classes"
ALL_OBJECTS = CLASSES + "\\AllFilesystemObjects"
DIRECTORY = CLASSES + "\\Directory"
VERB = ALL_OBJECTS + "\\shell\\Shrink &JPG (IrfanView)"
VERB_COMMAND = VERB + "\\command"
FOLDER_VERB = DIRECTORY + "\\shell\\JPG-Web (IrfanView)"
FOLDER_VERB_COMMAND = FOLDER_VERB + "\\command"
UNRELATED_COMMAND = ALL_OBJECTS + "\\shell\\Unrelated\\command"
OTHER_FOLDER_VERB = DIRECTORY + "\\shell\\Other"
WATCHED_TREES = (ALL_OBJECTS, DIRECTORY)

E2E_DIR = "C:\\e2e"
PROGRAM = E2E_DIR + "\\kompakto.exe"
STANDIN_OUT = "C:\\standin-args.txt"
PICTURES = "C:\\My Pictures\\Urlaub 2026"
VIEWER64 = "C:\\Program Files\\IrfanView\\I_view64.exe"
VIEWER32_ON_64 = "C:\\Program Files (x86)\\IrfanView\\I_view32.exe"
VIEWER32_ON_32 = "C:\\Program Files\\IrfanView\\I_view32.exe"
SPACED_FOLDER = "C:\\Program Files\\Kompakto Test"
PLANT_FOLDER = "C:\\plant"
PLANTED_VIEWER = PLANT_FOLDER + "\\%ProgramW6432%\\IrfanView\\I_view64.exe"

QUESTION_WAIT_MS = 30000  # the first program of a fresh prefix starts slowly
BOX_WAIT_MS = 15000
FINISH_WAIT_MS = 15000

TEMPLATE_FORMAT = "3"  # raise when the way templates are made changes


# ---------------------------------------------------------------------------
# Cases: each is a list of driver steps and a check of what the driver saw.


def quoted(path):
    return '"' + path + '"'


class Case:
    def __init__(self, name, steps, check):
        self.name = name
        self.steps = steps
        self.check = check


class Group:
    """Cases that share one prefix: its kind, its locale and its files."""

    def __init__(self, name, arch, lang, acp, files, cases):
        self.name = name
        self.arch = arch
        self.lang = lang
        self.acp = acp
        self.files = files  # Windows path -> build file name, or None for a folder
        self.cases = cases


def reset_steps():
    """Every case starts from the same registry: none of the watched trees."""
    return [("reg_delete_tree", tree) for tree in WATCHED_TREES]


def run_steps(arguments="", answers=(), app=PROGRAM, cmdline=None, cwd=""):
    """Starts the program and answers the boxes in order; each answer is
    (caption, action). Then waits for the end, reporting any box left."""
    if cmdline is None:
        cmdline = quoted(app) + (" " + arguments if arguments else "")
    steps = [("start", app, cmdline, cwd)]
    for index, (caption, action) in enumerate(answers):
        steps.append(("box", caption, str(QUESTION_WAIT_MS if index == 0 else BOX_WAIT_MS), action))
    steps.append(("finish", str(FINISH_WAIT_MS)))
    return steps


def snapshot(label):
    return [("label", label)] + [("dump", tree) for tree in WATCHED_TREES]


def scenario(setup, runs, extra=()):
    """Reset, set up, take the registry before, run, take it after."""
    steps = [("system",)] + reset_steps() + list(setup) + snapshot("before")
    for run in runs:
        steps += run
    steps += snapshot("after")
    steps += list(extra)
    return steps


# --- what the transcript says -------------------------------------------------


class Seen:
    """The events of one case, with the questions a check asks of them."""

    def __init__(self, events):
        self.events = events
        self.problems = []

    def fail(self, message):
        self.problems.append(message)

    def expect(self, condition, message):
        if not condition:
            self.fail(message)
        return condition

    def of(self, kind):
        return [e for e in self.events if e["event"] == kind]

    def runs(self):
        """Per started program: its boxes, unexpected boxes and exit event."""
        result = []
        for event in self.events:
            if event["event"] == "start":
                result.append({"start": event, "boxes": [], "unexpected": [], "exit": None})
            elif result and event["event"] in ("box", "no_box"):
                result[-1]["boxes"].append(event)
            elif result and event["event"] == "unexpected_box":
                result[-1]["unexpected"].append(event)
            elif result and event["event"] == "exit":
                result[-1]["exit"] = event
        return result

    def registry(self, label):
        """The watched trees at a label: {key: {value name: (type, data, terminated)}}."""
        state = None
        at = None
        for event in self.events:
            if event["event"] == "label":
                at = event["name"]
                if at == label:
                    state = {}
            elif at != label:
                continue
            elif event["event"] == "key":
                state[event["key"]] = {}
            elif event["event"] == "value":
                data = event["data"] if "data" in event else event.get("hex")
                state[event["key"]][event["name"]] = (event["type"], data, event.get("terminated", True))
            elif event["event"] == "key_error":
                state[event["key"]] = "unreadable (error %d)" % event["error"]
        return state


def describe(text):
    return json.dumps(text, ensure_ascii=False)


def first_difference(actual, expected):
    for index, (a, b) in enumerate(zip(actual, expected)):
        if a != b:
            return "first difference at %d: %s instead of %s" % (index, describe(a), describe(b))
    return "lengths %d and %d" % (len(actual), len(expected))


def check_box(seen, box, caption, text, buttons, default, icon, action):
    """One box as it must look: caption, text, buttons, the default button
    (the focused one, which carries the default frame), the icon; and it went
    away when answered."""
    if not seen.expect(box["event"] == "box", "no box %s: %s" % (describe(caption), box.get("reason"))):
        return
    if not seen.expect(box["caption"] == caption,
                       "box caption %s, expected %s" % (describe(box["caption"]), describe(caption))):
        return
    name = describe(caption)
    if box["text"] != text:
        seen.fail("%s: text %s (%s)" % (name, describe(box["text"]), first_difference(box["text"], text)))
    seen.expect(sorted(box["buttons"]) == sorted(buttons),
                "%s: buttons %s, expected %s" % (name, box["buttons"], sorted(buttons)))
    seen.expect(box["focus"] == default and box["defstyle"] == default,
                "%s: default button %s (focus) / %s (frame), expected %s"
                % (name, box["focus"], box["defstyle"], default))
    seen.expect(box["icon"] == icon, "%s: icon %s, expected %s" % (name, box["icon"], icon))
    seen.expect(box["action"] == action and box["closed"],
                "%s: answering %s did not close it" % (name, action))


QUESTION = ("question",)
CONFIRM_ON = ("activated",)
CONFIRM_OFF = ("deactivated",)
DOWNLOAD = ("download",)
FAILED_ON = ("activation failed",)
FAILED_OFF = ("deactivation failed",)
BOX_LOOKS = {
    QUESTION: (QUESTION_CAPTION, QUESTION_TEXT, [IDYES, IDNO, IDCANCEL], IDCANCEL, "program"),
    CONFIRM_ON: (CONFIRM_CAPTION, ACTIVATED_TEXT, [IDOK], IDOK, "information"),
    CONFIRM_OFF: (CONFIRM_CAPTION, DEACTIVATED_TEXT, [IDOK], IDOK, "information"),
    DOWNLOAD: (DOWNLOAD_CAPTION, DOWNLOAD_TEXT, [IDYES, IDNO, IDCANCEL], IDYES, "program"),
    FAILED_ON: (ERROR_CAPTION, ACTIVATION_FAILED_TEXT, [IDOK], IDOK, "error"),
    FAILED_OFF: (ERROR_CAPTION, DEACTIVATION_FAILED_TEXT, [IDOK], IDOK, "error"),
}


def answers(*pairs):
    """(kind, action) pairs as the driver needs them: (caption, action)."""
    return [(BOX_LOOKS[kind][0], action) for kind, action in pairs]


def check_run(seen, run, pairs, code):
    """A run showed exactly these boxes, in this order, and ended with code."""
    seen.expect(len(run["boxes"]) == len(pairs), "%d box steps recorded, %d expected"
                % (len(run["boxes"]), len(pairs)))
    for (kind, action), box in zip(pairs, run["boxes"]):
        caption, text, buttons, default, icon = BOX_LOOKS[kind]
        check_box(seen, box, caption, text, buttons, default, icon, action)
    for box in run["unexpected"]:
        seen.fail("unexpected box %s: %s" % (describe(box["caption"]), describe(box["text"][:80])))
    end = run["exit"]
    if seen.expect(end is not None, "no exit recorded"):
        if seen.expect(end["reason"] == "ended", "the program did not end (%s)" % end["reason"]):
            seen.expect(end["code"] == code, "exit code %s, expected %s" % (end["code"], code))


def check_runs(seen, expected):
    """expected: per run, (answers as (kind, action) pairs, exit code)."""
    runs = seen.runs()
    if not seen.expect(len(runs) == len(expected), "%d runs recorded, %d expected" % (len(runs), len(expected))):
        return
    for run, (pairs, code) in zip(runs, expected):
        if seen.expect(run["start"]["started"], "the program did not start (error %s)" % run["start"]["error"]):
            check_run(seen, run, pairs, code)


def tree(*entries):
    """A registry state: keys given as paths (parents are added) or as
    (path, {value name: data}) with REG_SZ values."""
    state = {}
    for entry in entries:
        path, values = (entry, {}) if isinstance(entry, str) else entry
        parts = path.split("\\")
        for depth in range(3, len(parts) + 1):  # below SOFTWARE\Classes
            state.setdefault("\\".join(parts[:depth]), {})
        state[path] = {name: (REG_SZ, data, True) for name, data in values.items()}
    return state


def check_registry(seen, expected_after=None, unchanged=False):
    before = seen.registry("before")
    after = seen.registry("after")
    if not seen.expect(before is not None and after is not None, "registry not dumped"):
        return
    expected = before if unchanged else expected_after
    if after != expected:
        for key in sorted(set(after) | set(expected)):
            if key not in after:
                seen.fail("registry: %s is missing" % key)
            elif key not in expected:
                seen.fail("registry: %s should not be there (%s)" % (key, describe(after[key])))
            elif after[key] != expected[key]:
                seen.fail("registry: %s holds %s, expected %s" % (key, describe(after[key]), describe(expected[key])))


def check_viewer_arguments(seen, viewer):
    """The stand-in viewer, started as Explorer starts the verb on a folder
    whose path holds spaces, got exactly these nine arguments."""
    runs = seen.of("verb_run")
    files = seen.of("file")
    if not seen.expect(runs and runs[0].get("started"), "the stored command could not be run: %s" % runs):
        return
    seen.expect(runs[0]["code"] == 0, "the viewer ended with %s" % runs[0]["code"])
    if not seen.expect(files and files[0]["exists"], "the viewer wrote nothing"):
        return
    report = {}
    for line in files[0]["content"].split("\n"):
        name, _, value = line.partition("=")
        if name:
            report[name] = value
    expected = [viewer, PICTURES, PICTURES + "\\*.*", "/silent", "/resize_long=1600", "/aspectratio",
                "/resample", "/jpgq=70", CONVERT_OPTION]
    got = [report.get("argv[%d]" % i) for i in range(int(report.get("argc", "0")))]
    seen.expect(got == expected, "the viewer got %s, expected %s" % (describe(got), describe(expected)))
    seen.expect(report.get("exe", "").lower() == viewer.lower(),
                "%s ran instead of %s" % (report.get("exe"), viewer))


# --- the cases ------------------------------------------------------------------

VERB_WITH = lambda viewer: (VERB_COMMAND, {"": command_for(viewer)})  # noqa: E731
UNRELATED_SETUP = [
    ("reg_set", UNRELATED_COMMAND, "", "C:\\Tools\\other.exe \"%1\""),
    ("reg_set", OTHER_FOLDER_VERB, "", "Other entry"),
]
UNRELATED_STATE = [(UNRELATED_COMMAND, {"": "C:\\Tools\\other.exe \"%1\""}),
                   (OTHER_FOLDER_VERB, {"": "Other entry"})]
OLD_COMMAND = "\"C:\\Old\\I_view32.exe\" \"%1\""
OLD_FOLDER_COMMAND = "\"C:\\Old\\I_view32.exe\" \"%1\" /web"
BOTH_VERBS_SETUP = [
    ("reg_set", VERB_COMMAND, "", OLD_COMMAND),
    ("reg_set", FOLDER_VERB_COMMAND, "", OLD_FOLDER_COMMAND),
]


def plain_case(name, setup, runs, expected_after=None, unchanged=False, extra_check=None):
    """runs: (arguments, (kind, action) pairs, exit code) for each start."""

    def check(seen):
        check_runs(seen, [(pairs, code) for _, pairs, code in runs])
        check_registry(seen, expected_after, unchanged)
        if extra_check:
            extra_check(seen)

    return Case(name, scenario(setup, [run_steps(arguments, answers(*pairs)) for arguments, pairs, _ in runs]),
                check)


def unanswered_question_case(name, action):
    """The question answered with something other than Yes or No: nothing
    changes, nothing else shows, exit code 0."""
    pairs = [(QUESTION, action)]

    def check(seen):
        check_runs(seen, [(pairs, 0)])
        check_registry(seen, unchanged=True)

    return Case(name, scenario(BOTH_VERBS_SETUP + UNRELATED_SETUP, [run_steps(answers=answers(*pairs))]), check)


def activation_case(name, viewer, arguments="", silent=False, run_verb=False, **start):
    pairs = [(QUESTION, "yes")] + ([] if silent else [(CONFIRM_ON, "ok")])
    extra = [("run_verb", VERB_COMMAND, PICTURES, STANDIN_OUT, "15000")] if run_verb else []

    def check(seen):
        check_runs(seen, [(pairs, 0)])
        check_registry(seen, tree(*UNRELATED_STATE, VERB_WITH(viewer)))
        if run_verb:
            check_viewer_arguments(seen, viewer)

    steps = scenario(UNRELATED_SETUP, [run_steps(arguments, answers(*pairs), **start)], extra)
    return Case(name, steps, check)


def deactivation_case(name, arguments="", silent=False):
    pairs = [(QUESTION, "no")] + ([] if silent else [(CONFIRM_OFF, "ok")])

    def check(seen):
        check_runs(seen, [(pairs, 0)])
        # The verbs go; the parents that hold other verbs stay, with them.
        check_registry(seen, tree(*UNRELATED_STATE))

    return Case(name, scenario(BOTH_VERBS_SETUP + UNRELATED_SETUP, [run_steps(arguments, answers(*pairs))]), check)


def download_case(name, action, arguments="", setup=(), cwd="", extra_check=None, extra_steps=()):
    pairs = [(QUESTION, "yes"), (DOWNLOAD, action)]

    def check(seen):
        check_runs(seen, [(pairs, 1)])
        check_registry(seen, unchanged=True)
        if extra_check:
            extra_check(seen)

    steps = scenario(list(setup) + UNRELATED_SETUP,
                     [[("delete_file", STANDIN_OUT)] + run_steps(arguments, answers(*pairs), cwd=cwd)],
                     extra_steps)
    return Case(name, steps, check)


def cases_64_both():
    cases = [
        unanswered_question_case("question: Cancel changes nothing", "cancel"),
        unanswered_question_case("question: Esc changes nothing", "esc"),
        unanswered_question_case("question: close box changes nothing", "close"),
        unanswered_question_case("question: WM_CLOSE changes nothing", "wm_close"),
        unanswered_question_case("question: Enter at once presses Cancel", "enter"),
        activation_case("activate: 64-bit viewer wins over 32-bit one", VIEWER64),
        deactivation_case("deactivate: both verbs go, other verbs stay"),
    ]

    # Deactivating with nothing there still confirms.
    cases.append(plain_case("deactivate: nothing registered still confirms", UNRELATED_SETUP,
                            [("", [(QUESTION, "no"), (CONFIRM_OFF, "ok")], 0)], unchanged=True))

    # Activating twice over an older command leaves one verb, the latest.
    twice = ("", [(QUESTION, "yes"), (CONFIRM_ON, "ok")], 0)
    cases.append(plain_case("activate: twice over an old command leaves one verb", BOTH_VERBS_SETUP,
                            [twice, twice],
                            tree(VERB_WITH(VIEWER64), (FOLDER_VERB_COMMAND, {"": OLD_FOLDER_COMMAND}))))

    # The switch: only the first argument counts, quotes as the C runtime has them.
    for label, arguments, silent in [
        ("/S", "/S", True),
        ("-silent", "-silent", True),
        ("one quoted word \"x s\"", "\"x s\"", True),
        ("/x then /s is not silent", "/x /s", False),
        ("empty quoted first argument then s is not silent", "\"\" s", False),
        ("/q is not silent", "/q", False),
    ]:
        cases.append(activation_case("switch: " + label, VIEWER64, arguments, silent=silent))
    spaced = SPACED_FOLDER + "\\kompakto.exe"
    cases.append(activation_case("switch: unquoted program path with a space is silent", VIEWER64,
                                 silent=True, app=spaced, cmdline=spaced))
    cases.append(deactivation_case("switch: silent deactivation has no confirmation", "/s", silent=True))

    # Registry failures: exit code 2, the error box, and the registry as it was.
    failed_on = [(QUESTION, "yes"), (FAILED_ON, "ok")]
    cases.append(plain_case(
        "failure: command key that may not be written",
        [("reg_set", VERB_COMMAND, "", OLD_COMMAND),
         ("reg_sddl", VERB_COMMAND, "D:(D;;0x6;;;WD)(A;;KA;;;WD)")] + UNRELATED_SETUP,
        [("", failed_on, 2)], unchanged=True, extra_check=check_acl_applied))
    # A non-volatile key cannot be made below a volatile one.
    cases.append(plain_case(
        "failure: verb key that cannot be created",
        [("reg_volatile_key", ALL_OBJECTS + "\\shell")] + UNRELATED_SETUP[1:],
        [("", failed_on, 2)], unchanged=True))
    cases.append(plain_case(
        "failure: silent mode still reports a failed activation",
        [("reg_volatile_key", ALL_OBJECTS + "\\shell")],
        [("/s", failed_on, 2)], unchanged=True))

    # A verb key with a sub key of its own cannot be deleted; the rest goes.
    stuck = BOTH_VERBS_SETUP + UNRELATED_SETUP + [("reg_key", VERB + "\\Extra")]
    stuck_after = tree(*UNRELATED_STATE, VERB + "\\Extra")
    failed_off = [(QUESTION, "no"), (FAILED_OFF, "ok")]
    cases.append(plain_case("failure: verb key with another sub key cannot be deleted", stuck,
                            [("", failed_off, 2)], stuck_after))
    cases.append(plain_case("failure: silent mode still reports a failed deactivation", stuck,
                            [("/s", failed_off, 2)], stuck_after))

    cases.append(activation_case("contract: the viewer gets nine arguments", VIEWER64, run_verb=True))

    # The test's own means: a command line reaches a program unchanged.
    raw = quoted(E2E_DIR + "\\standin.exe") + ' "" s "x s" /x\t/s  \\"q\\" \u00d7'

    def check_raw(seen):
        files = seen.of("file")
        if seen.expect(files and files[0]["exists"], "the stand-in wrote nothing"):
            seen.expect("cmdline=" + raw + "\n" in files[0]["content"],
                        "command line arrived as %s" % describe(files[0]["content"]))

    cases.append(Case("harness: a command line reaches the program unchanged",
                      [("delete_file", STANDIN_OUT), ("start", E2E_DIR + "\\standin.exe", raw, ""),
                       ("finish", str(FINISH_WAIT_MS)), ("read_file", STANDIN_OUT, "5000")],
                      check_raw))
    return cases


def check_acl_applied(seen):
    results = [e for e in seen.of("reg_sddl")]
    seen.expect(results and results[0]["result"] == 0, "the key's access could not be limited: %s" % results)


def cases_64_viewer32():
    return [activation_case("viewer: only the 32-bit one on 64-bit Windows", VIEWER32_ON_64, run_verb=True)]


def check_page_opened(seen):
    files = seen.of("file")
    if not seen.expect(files and files[0]["exists"], "no browser was started"):
        return
    arguments = [line.partition("=")[2] for line in files[0]["content"].split("\n")
                 if line.startswith("argv[")]
    seen.expect(len(arguments) == 2 and arguments[1].startswith("https://")
                and arguments[1].split("/")[2].endswith("irfanview.com"),
                "the browser was asked for %s" % describe(arguments[1:]))


def check_no_browser(seen):
    files = seen.of("file")
    seen.expect(files and not files[0]["exists"], "a browser was started: %s" % describe(files))


BROWSER_SETUP = [("reg_set", "HKLM\\Software\\Classes\\https\\shell\\open\\command", "",
                  quoted(E2E_DIR + "\\standin.exe") + " \"%1\""),
                 ("reg_set", "HKLM\\Software\\Classes\\http\\shell\\open\\command", "",
                  quoted(E2E_DIR + "\\standin.exe") + " \"%1\"")]
SETTLE = [("read_file", STANDIN_OUT, "1500")]  # a browser would have written by now


def cases_64_none():
    return [
        download_case("download offer: No", "no", setup=BROWSER_SETUP,
                      extra_check=check_no_browser, extra_steps=SETTLE),
        download_case("download offer: Cancel", "cancel", setup=BROWSER_SETUP,
                      extra_check=check_no_browser, extra_steps=SETTLE),
        download_case("download offer: close box", "close"),
        download_case("download offer: shown in silent mode too", "no", arguments="/s"),
        download_case("download offer: Yes opens the page in the browser", "yes", setup=BROWSER_SETUP,
                      extra_check=check_page_opened, extra_steps=[("read_file", STANDIN_OUT, "15000")]),
    ]


def cases_32_viewer32():
    def check_system(seen):
        system = seen.of("system")
        if seen.expect(system, "no system report"):
            seen.expect(system[0]["program_w6432"] is None and not system[0]["wow64"],
                        "not a 32-bit Windows: %s" % system[0])

    case = activation_case("viewer: 32-bit one on 32-bit Windows", VIEWER32_ON_32, run_verb=True)
    base = case.check
    case.check = lambda seen: (base(seen), check_system(seen))
    return [case]


def cases_32_planted():
    def check_plant(seen):
        exists = seen.of("exists")
        seen.expect(exists and exists[0]["exists"], "the planted viewer is not where it should be")
        system = seen.of("system")
        seen.expect(system and system[0]["expanded_w6432"] == "%ProgramW6432%\\",
                    "%%ProgramW6432%% expands to %s" % (system and system[0]["expanded_w6432"]))

    return [download_case("viewer: planted under a literal %ProgramW6432% folder is not taken", "no",
                          setup=[("exists", PLANTED_VIEWER)], cwd=PLANT_FOLDER, extra_check=check_plant)]


def code_page_cases(tag):
    """The texts and the stored command do not depend on the system's ANSI
    code page (the group checks that it is the one asked for)."""
    return [
        unanswered_question_case("code page %s: question" % tag, "cancel"),
        activation_case("code page %s: activation" % tag, VIEWER64),
        deactivation_case("code page %s: deactivation" % tag),
    ]


STANDIN = "e2e-standin_viewer.exe"
BOTH_VIEWERS_64 = {VIEWER64: STANDIN, VIEWER32_ON_64: STANDIN}


def groups():
    common = {E2E_DIR + "\\standin.exe": STANDIN, PICTURES: None}
    return [
        Group("64-bit, both viewers", "win64", "en_US.UTF-8", 1252,
              dict(common, **BOTH_VIEWERS_64, **{SPACED_FOLDER + "\\kompakto.exe": "kompakto.exe"}),
              cases_64_both()),
        Group("64-bit, 32-bit viewer only", "win64", "en_US.UTF-8", 1252,
              dict(common, **{VIEWER32_ON_64: STANDIN}), cases_64_viewer32()),
        Group("64-bit, no viewer", "win64", "en_US.UTF-8", 1252, dict(common), cases_64_none()),
        Group("32-bit, 32-bit viewer", "win32", "en_US.UTF-8", 1252,
              dict(common, **{VIEWER32_ON_32: STANDIN}), cases_32_viewer32()),
        Group("32-bit, planted viewer", "win32", "en_US.UTF-8", 1252,
              dict(common, **{PLANTED_VIEWER: STANDIN}), cases_32_planted()),
        Group("64-bit, Japanese", "win64", "ja_JP.UTF-8", 932, dict(common, **BOTH_VIEWERS_64),
              code_page_cases("932 (Japanese)")),
        Group("64-bit, Russian", "win64", "ru_RU.UTF-8", 1251, dict(common, **BOTH_VIEWERS_64),
              code_page_cases("1251 (Russian)")),
    ]


# ---------------------------------------------------------------------------
# Machinery: the screen, the prefixes, the driver.


def log(message):
    print(message, flush=True)


def wine_environment(prefix, display, lang, arch=None):
    env = {key: value for key, value in os.environ.items()
           if not key.startswith(("LC_", "WINE")) and key not in ("LANG", "LANGUAGE")}
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "DISPLAY": display,
        "LANG": lang,
        "LC_ALL": lang,
    })
    if arch:
        env["WINEARCH"] = arch
    return env


def run_quietly(command, env, timeout, log_path):
    """Runs command with its output in log_path (a pipe could stay open for
    ever: Wine's helper processes inherit it); kills its whole session when
    the time is up. Returns the exit code, or None after a time-out."""
    with open(log_path, "ab") as output:
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            kill_session(process)
            return None


def kill_session(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except OSError:
        pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def stop_wine(env, log_path):
    """Ends every process of the prefix and waits for its wineserver."""
    run_quietly(["wineserver", "-k"], env, 30, log_path)
    run_quietly(["wineserver", "-w"], env, 30, log_path)


class Screen:
    """An Xvfb of our own, on a display it picks itself."""

    def __init__(self):
        self.process = None
        self.display = None

    def start(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.time()))
            if not ready:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.strip().decode()
        return self.display

    def stop(self):
        if self.process:
            kill_session(self.process)
            self.process = None


def clone_prefix(template, destination):
    """A fresh prefix from a template: big unchanging files (the DLLs) are hard
    links, everything else, the registry above all, is copied. Wine writes a
    registry file with more than one link in place, which would change the
    template."""
    for root, folders, files in os.walk(template):
        relative = os.path.relpath(root, template)
        target_root = os.path.join(destination, relative) if relative != "." else destination
        os.makedirs(target_root, exist_ok=True)
        for name in folders + files:
            source = os.path.join(root, name)
            target = os.path.join(target_root, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), target)
            elif name in folders:
                continue
            elif os.path.getsize(source) >= 65536 and not name.endswith(".reg"):
                try:
                    os.link(source, target)
                except OSError:  # a file system without hard links
                    shutil.copy2(source, target)
            else:
                shutil.copy2(source, target)
        folders[:] = [f for f in folders if not os.path.islink(os.path.join(root, f))]


def wine_version():
    try:
        return subprocess.run(["wine", "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        return "unknown"


def make_template(path, arch, display, work):
    """Makes a prefix once; later runs find it ready by its stamp."""
    stamp = os.path.join(path, ".kompakto-e2e-template")
    wanted = "%s %s %s\n" % (TEMPLATE_FORMAT, arch, wine_version())
    if os.path.exists(stamp) and open(stamp).read() == wanted:
        return None
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    env = wine_environment(path, display, "en_US.UTF-8", arch)
    log_path = os.path.join(work, "template-%s.log" % arch)
    with open(log_path, "ab") as output:
        process = subprocess.Popen(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, stdout=output,
                                   stderr=subprocess.STDOUT, start_new_session=True)
    return (process, path, env, log_path, stamp, wanted)


def finish_template(pending):
    process, path, env, log_path, stamp, wanted = pending
    try:
        process.wait(timeout=300)
    except subprocess.TimeoutExpired:
        kill_session(process)
        stop_wine(env, log_path)
        raise RuntimeError("wineboot did not finish; see " + log_path)
    # No crash dialog may ever wait for an answer. And with no window manager
    # on the screen, Wine would wait 2 s for one whenever a managed window
    # (every message box) closes: the windows are left unmanaged.
    settings = os.path.join(path, "drive_c", "e2e-settings.reg")
    with open(settings, "w", encoding="utf-8") as out:
        out.write("REGEDIT4\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n")
    run_quietly(["wine", "regedit", "/S", "C:\\e2e-settings.reg"], env, 120, log_path)
    os.unlink(settings)
    stop_wine(env, log_path)
    # The user's folders link to the home folder; a test prefix keeps to itself.
    users = os.path.join(path, "drive_c", "users")
    for user in os.listdir(users):
        for name in os.listdir(os.path.join(users, user)):
            link = os.path.join(users, user, name)
            if os.path.islink(link):
                os.unlink(link)
                os.makedirs(link)
    if not os.path.exists(os.path.join(path, "system.reg")):
        raise RuntimeError("wineboot made no registry; see " + log_path)
    with open(stamp, "w") as out:
        out.write(wanted)


def windows_to_host(prefix, path):
    assert path[1:3] == ":\\", path
    return os.path.join(prefix, "drive_c", *path[3:].split("\\"))


def escape_field(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def run_group(group, build, templates, display, work):
    """Runs the group's cases in a fresh prefix; returns {case name: events}."""
    prefix = os.path.join(work, "prefix")
    shutil.rmtree(prefix, ignore_errors=True)
    clone_prefix(templates[group.arch], prefix)
    for path, source in list(group.files.items()) + [(PROGRAM, "kompakto.exe"),
                                                      (E2E_DIR + "\\driver.exe", "e2e-driver.exe")]:
        host = windows_to_host(prefix, path)
        if source is None:
            os.makedirs(host, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(host), exist_ok=True)
            shutil.copyfile(os.path.join(build, source), host)

    script_lines = []
    budget = 60
    for case in group.cases:
        script_lines.append("case\t" + escape_field(case.name))
        for step in case.steps:
            script_lines.append("\t".join(escape_field(field) for field in step))
            wait = {"box": 2, "finish": 1, "run_verb": 4, "read_file": 2}.get(step[0])
            if wait:
                budget += int(step[wait]) / 1000 + 1
    with open(windows_to_host(prefix, E2E_DIR + "\\script.txt"), "w", encoding="utf-8") as script:
        script.write("\n".join(script_lines) + "\n")

    env = wine_environment(prefix, display, group.lang)
    log_path = os.path.join(work, "wine.log")
    transcript = windows_to_host(prefix, E2E_DIR + "\\transcript.txt")
    started = time.time()
    code = run_quietly(["wine", E2E_DIR + "\\driver.exe", E2E_DIR + "\\script.txt", E2E_DIR + "\\transcript.txt"],
                       env, budget, log_path)
    stop_wine(env, log_path)
    log("# %s: %d case(s) in %.0f s" % (group.name, len(group.cases), time.time() - started))

    events = {}
    current = None
    if os.path.exists(transcript):
        with open(transcript, encoding="utf-8") as lines_in:
            for line in lines_in:
                try:
                    event = json.loads(line)
                except ValueError:
                    continue  # a line cut short by a killed driver
                if event["event"] == "case":
                    current = events.setdefault(event["name"], [])
                elif current is not None:
                    current.append(event)
        shutil.copyfile(transcript, os.path.join(work, "transcript.jsonl"))
    if code is None:
        log("# group %s: the driver ran out of time (%d s); see %s" % (group.name, budget, log_path))
    return events


def main(argv):
    options = [a for a in argv[1:] if a.startswith("--")]
    positional = [a for a in argv[1:] if not a.startswith("--")]
    if not positional or set(options) - {"--keep"}:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    build = os.path.abspath(positional[0])
    filters = positional[1:]
    keep = "--keep" in options
    for name in ("kompakto.exe", "e2e-driver.exe", STANDIN):
        if not os.path.exists(os.path.join(build, name)):
            print("missing %s in %s (run make first)" % (name, build), file=sys.stderr)
            return 2

    chosen = []
    for group in groups():
        cases = [c for c in group.cases if not filters or any(f.lower() in c.name.lower() for f in filters)]
        if cases:
            group.cases = cases
            chosen.append(group)
    if not chosen:
        print("no case matches %s" % filters, file=sys.stderr)
        return 2

    started = time.time()
    screen = Screen()
    work_root = os.path.join(build, "e2e-work")
    shutil.rmtree(work_root, ignore_errors=True)  # what an earlier run kept
    os.makedirs(work_root, exist_ok=True)
    work = tempfile.mkdtemp(prefix="run-", dir=work_root)
    passed = failed = 0
    try:
        try:
            display = screen.start()
            templates = {}
            pending = []
            for arch in sorted({g.arch for g in chosen}):
                templates[arch] = os.path.join(build, "e2e-prefixes", arch)
                job = make_template(templates[arch], arch, display, work)
                if job:
                    log("# making the %s template prefix (once)" % arch)
                    pending.append(job)
            for job in pending:
                finish_template(job)
        except (OSError, RuntimeError) as error:
            log("# cannot run any case: %s" % error)
            for group in chosen:
                for case in group.cases:
                    log("FAIL %s" % case.name)
                    failed += 1
            chosen = []

        for index, group in enumerate(chosen):
            group_work = os.path.join(work, "group-%d" % index)
            os.makedirs(group_work)
            events = run_group(group, build, templates, display, group_work)
            for case in group.cases:
                seen = Seen(events.get(case.name, []))
                if case.name not in events:
                    seen.fail("the driver did not get to this case")
                else:
                    seen.events = events[case.name]
                    bad = [e for e in seen.events if e["event"] == "bad_step"]
                    for event in bad:
                        seen.fail("driver could not read step %s" % event)
                    try:
                        # Every case runs in the code page its group asks for.
                        for system in seen.of("system"):
                            seen.expect(system["acp"] == group.acp, "ANSI code page %s, expected %s under %s"
                                        % (system["acp"], group.acp, group.lang))
                        case.check(seen)
                    except Exception as error:  # a check that trips over odd data is a failure
                        seen.fail("check failed with %r" % error)
                if seen.problems:
                    failed += 1
                    log("FAIL %s" % case.name)
                    for problem in seen.problems:
                        log("     %s" % problem)
                else:
                    passed += 1
                    log("PASS %s" % case.name)
            if not keep:
                shutil.rmtree(os.path.join(group_work, "prefix"), ignore_errors=True)
    finally:
        screen.stop()
        if not keep and not failed:
            shutil.rmtree(work, ignore_errors=True)
    if os.path.exists(work):
        log("# logs and transcripts: %s" % work)
    log("# %.0f s" % (time.time() - started))
    log("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
