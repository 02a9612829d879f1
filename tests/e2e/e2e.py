#!/usr/bin/python3
"""End-to-end tests: the real kompakto.exe under Wine, answered from outside;
and, with --layer, the tests of the Windows operations under Wine.

    /usr/bin/python3 tests/e2e/e2e.py [--layer] [--keep] [FILTER...]

It takes kompakto.exe and the helpers of tests/e2e from the Windows trees
(CMakePresets.json names them; `make windows` builds them). A FILTER keeps
only the cases whose name holds it; several filters keep the cases that
match any of them. KOMPAKTO_CASES, when set, keeps only the cases whose
whole name matches one of its lines (* and ? are wildcards). --keep leaves
the work folder (prefixes, logs, transcripts) in the windows tree; a failed
run keeps it anyway. Each case is told as a line "PASS NAME" or "FAIL NAME",
what went wrong indented below it.

How it works: the Wine session (tools/winesession.py) gives each group of
cases a fresh copy of a 64-bit or 32-bit template prefix, with the viewer
stand-ins the group needs; one run of the driver (tests/e2e/driver.c) there
carries out the group's cases and writes a transcript, checked here case by
case against tests/facts.h and tests/texts.txt. With --layer the session
runs the tests of the Windows operations (tests/oswin, from the
windows-layer tree) in a fresh prefix of each kind instead, each reported as
a case.
"""

import collections
import fnmatch
import json
import os
import re
import shutil
import struct
import sys
import time
from xml.etree import ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.dirname(HERE), os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools")]
import facts  # noqa: E402  (tests/facts.py)
import trees  # noqa: E402  (tools/trees.py)
import winesession  # noqa: E402  (tools/winesession.py)

IDOK, IDCANCEL, IDYES, IDNO = facts.ID_OK, facts.ID_CANCEL, facts.ID_YES, facts.ID_NO
REG_SZ = facts.REG_SZ

VERB, VERB_COMMAND = facts.VERB_KEY, facts.VERB_COMMAND_KEY
FOLDER_VERB, FOLDER_VERB_COMMAND = facts.FOLDER_VERB_KEY, facts.FOLDER_VERB_COMMAND_KEY
VERB_NAME = VERB.rsplit("\\", 1)[1]
ALL_OBJECTS = VERB.split("\\shell\\")[0]
DIRECTORY = FOLDER_VERB.split("\\shell\\")[0]
WATCHED_TREES = (ALL_OBJECTS, DIRECTORY)
SHELL_CLASSES = "HKLM\\Software\\Classes"  # the only classes Wine's shell reads

E2E_DIR = winesession.HELPERS
PROGRAM = E2E_DIR + "\\kompakto.exe"
STANDIN = "e2e-standin_viewer.exe"
STANDIN_OUT = "C:\\standin-args.txt"
PICTURES = "C:\\My Pictures\\Urlaub 2026"
PICTURE = PICTURES + "\\Strand am Abend.jpg"
VIEWER64 = facts.PROGRAM_W6432_ON64 + facts.VIEWER64_NAME
VIEWER32_ON_64 = facts.PROGRAM_FILES_ON64 + facts.VIEWER32_NAME
VIEWER32_ON_32 = facts.PROGRAM_W6432_ON64 + facts.VIEWER32_NAME  # 32-bit Windows has one folder
SPACED_FOLDER = "C:\\Program Files\\Kompakto Test"
# IrfanView installed to a folder of its own, not below a program-files
# folder: found only through its setup's uninstall entry.
OWN_FOLDER = "C:\\Tools\\IrfanView"
OWN_VIEWER64, OWN_VIEWER32 = OWN_FOLDER + "\\" + facts.PROGRAM64, OWN_FOLDER + "\\" + facts.PROGRAM32
PLANT_FOLDER = "C:\\plant"
PLANTED_VIEWER = PLANT_FOLDER + "\\%ProgramW6432%\\IrfanView\\I_view64.exe"
DOWNLOADS = "C:\\Downloads"  # kompakto.exe with a planted shell32.dll beside it
PLANTED_DLL_MARK = "C:\\planted-dll-loaded.txt"

# The tests of the Windows operations themselves (tests/oswin), run in each
# kind of prefix, the 32-bit one with a system code page other than 1252, with
# the DLL they plant as their probe.
LAYER_SOURCE = os.path.join(trees.folder("windows-layer"), "oswin-test.exe")
LAYER_NAME = "oswin-test.exe"
LAYER_TEST = "C:\\oswin\\" + LAYER_NAME
LAYER_RESULTS = "C:\\oswin\\results.xml"
LAYER_RUNS = {"win64": ("C.UTF-8", 1252), "win32": ("ru_RU.UTF-8", 1251)}
FINISH_WAIT_MS = 15000


def command_for(viewer):
    return '"' + viewer + facts.COMMAND_TAIL


# ---------------------------------------------------------------------------
# Cases: each is a list of driver steps and a check of what the driver saw.


def quoted(path):
    return '"' + path + '"'


Case = collections.namedtuple("Case", "name steps check")


# Cases that share one prefix: its kind, its locale, its code page and its
# files (Windows path -> build file name, "" for an empty file, None for a folder).
Group = collections.namedtuple("Group", "name arch lang acp files cases")


def run_steps(arguments="", pairs=(), app=PROGRAM, cmdline=None, cwd="", display=True, station=None):
    """Starts the program and answers the boxes in order, as the (box kind, action) pairs say. Then
    waits for the end, reporting any box left. Without display, a Wine session without one starts it;
    with a station, the driver starts it in a window station of that name that nobody sees."""
    if not display:
        return [("start_without_display",) + tuple(arguments.split())]
    if cmdline is None:
        cmdline = quoted(app) + (" " + arguments if arguments else "")
    steps = [("start", app, cmdline, cwd) + ((station,) if station else ())]
    for index, (kind, action) in enumerate(pairs):  # the first program of a fresh prefix starts slowly
        steps.append(("box", BOX_LOOKS[kind][0], "15000" if index else "30000", action))
    steps.append(("finish", str(FINISH_WAIT_MS)))
    return steps


def scenario(setup, runs, extra=()):
    """Delete the watched trees, set up, take the registry before, run, take it after."""
    dumps = [("dump", tree) for tree in WATCHED_TREES]
    steps = [("system",)] + [("reg_delete_tree", tree) for tree in WATCHED_TREES] + list(setup) + [("label", "before")]
    return steps + dumps + [step for run in runs for step in run] + [("label", "after")] + dumps + list(extra)


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
        result, kept = [], {"box": "boxes", "no_box": "boxes", "unexpected_box": "unexpected"}
        for event in self.events:
            if event["event"] == "start":
                result.append({"start": event, "boxes": [], "unexpected": [], "exit": None})
            elif result and event["event"] in kept:
                result[-1][kept[event["event"]]].append(event)
            elif result and event["event"] == "exit":
                result[-1]["exit"] = event
        return result

    def registry(self, label):
        """The watched trees at a label: {key: {value name: (type, data, terminated)}}."""
        state = at = None
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


QUESTION, CONFIRM_ON, CONFIRM_OFF, DOWNLOAD = "question", "activated", "deactivated", "download offer"
FAILED_ON, FAILED_OFF, DOWNLOAD_FAILED = "activation failed", "deactivation failed", "download failed"
# Box kind (its name in texts.txt): caption, buttons, default button, icon.
BOX_LOOKS = {
    QUESTION: (facts.QUESTION_CAPTION, [IDYES, IDNO, IDCANCEL], IDCANCEL, "program"),
    CONFIRM_ON: (facts.CONFIRM_CAPTION, [IDOK], IDOK, "information"),
    CONFIRM_OFF: (facts.CONFIRM_CAPTION, [IDOK], IDOK, "information"),
    DOWNLOAD: (facts.DOWNLOAD_CAPTION, [IDYES, IDNO, IDCANCEL], IDYES, "program"),
    FAILED_ON: (facts.ERROR_CAPTION, [IDOK], IDOK, "error"),
    FAILED_OFF: (facts.ERROR_CAPTION, [IDOK], IDOK, "error"),
    DOWNLOAD_FAILED: (facts.ERROR_CAPTION, [IDOK], IDOK, "error"),
}


def check_box(seen, box, kind, action):
    """One box as it must look: caption, text, buttons, the default button (the focused one, which
    carries the default frame), the icon; in front, and gone when answered."""
    caption, buttons, default, icon = BOX_LOOKS[kind]
    if not seen.expect(box["event"] == "box" and box["caption"] == caption,
                       "no box %s: %s" % (describe(caption), describe(box))):
        return
    expected = {"text": facts.TEXTS[kind], "buttons": sorted(buttons), "focus": default, "defstyle": default,
                "icon": icon, "foreground": True, "action": action}
    if action != "hold":
        expected["closed"] = True
    got = dict(box, buttons=sorted(box["buttons"]))
    for field, value in expected.items():
        seen.expect(got.get(field) == value, "%s: %s %s, expected %s"
                    % (describe(caption), field, describe(got.get(field)), describe(value)))


def check_runs(seen, expected):
    """expected: per run, (answers as (kind, action) pairs, exit code): it
    showed exactly these boxes, in this order, and ended with that code."""
    runs = seen.runs()
    if not seen.expect(len(runs) == len(expected), "%d runs recorded, %d expected" % (len(runs), len(expected))):
        return
    for run, (pairs, code) in zip(runs, expected):
        if not seen.expect(run["start"]["started"], "the program did not start (error %s)" % run["start"]["error"]):
            continue
        seen.expect(len(run["boxes"]) == len(pairs), "%d box steps recorded, %d expected"
                    % (len(run["boxes"]), len(pairs)))
        for (kind, action), box in zip(pairs, run["boxes"]):
            check_box(seen, box, kind, action)
        for box in run["unexpected"]:
            seen.fail("unexpected box %s: %s" % (describe(box["caption"]), describe(box["text"][:80])))
        end = run["exit"] or {"reason": "none recorded"}
        seen.expect(end["reason"] == "ended" and end.get("code") == code,
                    "exit %s, expected the end with code %s" % (describe(end), code))


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
    before, after = seen.registry("before"), seen.registry("after")
    if seen.expect(before is not None and after is not None, "registry not dumped"):
        expected = before if unchanged else expected_after
        for key in sorted(set(after) | set(expected)):
            seen.expect(after.get(key) == expected.get(key), "registry: %s holds %s, expected %s"
                        % (key, describe(after.get(key)), describe(expected.get(key))))


def shell_verb_steps():
    """The stored command, copied unchanged to the classes that Wine's shell reads, run as Explorer
    runs the verb: on a folder and on a file whose names hold spaces."""
    steps = [("reg_set", SHELL_CLASSES + "\\.jpg", "", "jpegfile")]
    steps += [("reg_copy", VERB_COMMAND, SHELL_CLASSES + "\\%s\\shell\\%s\\command" % (cls, VERB_NAME))
              for cls in ("Folder", "jpegfile")]
    for item in (PICTURES, PICTURE):
        steps += [("delete_file", STANDIN_OUT), ("shell_verb", VERB_NAME, item, "15000"),
                  ("read_file", STANDIN_OUT, "15000")]
    return steps


def standin_report(seen, index=0):
    """What the stand-in wrote, as the index-th read_file found it, with "arguments": [argv[0], ...];
    None when it wrote nothing."""
    files = seen.of("read_file")[index:]
    if files and files[0]["exists"]:
        got = dict(line.partition("=")[::2] for line in files[0]["content"].split("\n") if line)
        return dict(got, arguments=[got["argv[%d]" % i] for i in range(int(got["argc"]))])


def check_viewer_arguments(seen, viewer):
    """The stand-in viewer was started with the stored command, the folder or
    the file in place of %1, and Windows splits it into nine arguments."""
    verbs, files = seen.of("shell_verb"), seen.of("read_file")
    for index, (item, verb) in enumerate(zip((PICTURES, PICTURE), verbs)):
        got = standin_report(seen, index)
        if not seen.expect(verb["done"] and got, "the shell did not run the verb on %s: %s" % (item, describe(verb))):
            continue
        arguments, command = got["arguments"], command_for(viewer).replace("%1", item)
        seen.expect(got["cmdline"] == command, "for %s the viewer was started with %s, expected %s"
                    % (item, describe(got["cmdline"]), describe(command)))
        seen.expect(len(arguments) == 9 and arguments[:3] == [viewer, item, item + "\\*.*"],
                    "for %s the viewer got the arguments %s" % (item, describe(arguments)))
        seen.expect(got["exe"].lower() == viewer.lower(), "%s ran instead of %s" % (got["exe"], viewer))
    seen.expect(len(verbs) == 2 and len(files) == 2, "%d verb runs, %d reports" % (len(verbs), len(files)))


# --- the cases ------------------------------------------------------------------

VERB_WITH = lambda viewer: (VERB_COMMAND, {"": command_for(viewer)})  # noqa: E731
UNRELATED_STATE = [(ALL_OBJECTS + "\\shell\\Unrelated\\command", {"": "C:\\Tools\\other.exe \"%1\""}),
                   (DIRECTORY + "\\shell\\Other", {"": "Other entry"})]
UNRELATED_SETUP = [("reg_set", key, "", values[""]) for key, values in UNRELATED_STATE]
OLD_COMMAND = "\"C:\\Old\\I_view32.exe\" \"%1\""
OLD_FOLDER_COMMAND = "\"C:\\Old\\I_view32.exe\" \"%1\" /web"
BOTH_VERBS_SETUP = [("reg_set", VERB_COMMAND, "", OLD_COMMAND),
                    ("reg_set", FOLDER_VERB_COMMAND, "", OLD_FOLDER_COMMAND)]


def plain_case(name, setup, runs, expected_after=None, unchanged=False, extra_check=None, extra=(), later_runs=(),
               **start):
    """runs: (arguments, (kind, action) pairs, exit code) for each start; start: how each is started
    (see run_steps); later_runs: the (pairs, exit code) of the programs that the extra steps start."""

    def check(seen):
        check_runs(seen, [(pairs, code) for _, pairs, code in runs] + list(later_runs))
        check_registry(seen, expected_after, unchanged)
        if extra_check:
            extra_check(seen)

    return Case(name, scenario(setup, [run_steps(arguments, pairs, **start) for arguments, pairs, _ in runs],
                               extra), check)


def unanswered_question_case(name, action):
    """The question answered with something other than Yes or No: nothing changes, nothing else shows, exit 0."""
    return plain_case(name, BOTH_VERBS_SETUP + UNRELATED_SETUP, [("", [(QUESTION, action)], facts.EXIT_DONE)],
                      unchanged=True)


def activation_case(name, viewer, arguments="", silent=False, shell_verb=False, setup=(), after=(), **start):
    pairs = [(QUESTION, "yes")] + ([] if silent else [(CONFIRM_ON, "ok")])
    return plain_case(name, list(setup) + UNRELATED_SETUP, [(arguments, pairs, facts.EXIT_DONE)],
                      tree(*UNRELATED_STATE, VERB_WITH(viewer)),
                      extra=(shell_verb_steps() if shell_verb else []) + list(after),
                      extra_check=(lambda seen: check_viewer_arguments(seen, viewer)) if shell_verb else None, **start)


def deactivation_case(name, arguments="", silent=False):
    pairs = [(QUESTION, "no")] + ([] if silent else [(CONFIRM_OFF, "ok")])
    # The verbs go; the parents that hold other verbs stay, with them.
    return plain_case(name, BOTH_VERBS_SETUP + UNRELATED_SETUP, [(arguments, pairs, facts.EXIT_DONE)],
                      tree(*UNRELATED_STATE))


def refused_deactivation_case(name, setup, arguments="", extra_check=None):
    """Both verbs there and something that keeps one of them: nothing is deleted, the failure is
    told, silent or not, and the registry stays exactly as it was."""
    state = [("reg_set", VERB_COMMAND, "", "old command"), ("reg_set", FOLDER_VERB_COMMAND, "", "web old")]
    return plain_case(name, state + setup, [(arguments, [(QUESTION, "no"), (FAILED_OFF, "ok")],
                                             facts.EXIT_REGISTRY_FAILED)], unchanged=True, extra_check=extra_check)


def refused_deactivation_cases(tag=""):
    """Another program's key under one of the verbs."""
    return [refused_deactivation_case("deactivation%s: a key beside the command key keeps both verbs" % tag,
                                      UNRELATED_SETUP + [("reg_key", VERB + "\\extra")]),
            refused_deactivation_case("deactivation%s: a key under the folder verb keeps both verbs" % tag,
                                      [("reg_key", FOLDER_VERB + "\\extra")], "/s")]


DENY_DELETE = "D:(D;;0x10000;;;WD)(A;;KA;;;WD)"  # everything but deleting the key, for everyone


def undeletable_key_cases():
    """A key of each verb that the user may not delete: the look finds it."""
    return [refused_deactivation_case("deactivation: a %s the user may not delete keeps both verbs" % what,
                                      UNRELATED_SETUP + [("reg_sddl", key, DENY_DELETE)], extra_check=check_acl_applied)
            for what, key in (("command key", VERB_COMMAND), ("folder verb key", FOLDER_VERB))]


def unseen_question_cases(tag=""):
    """Started in a window station that nobody sees, as a service or a task that runs whether the user is logged
    on or not is: it ends at once with 3, silent or not, and changes nothing. A box there would wait for ever:
    the driver ends the program after its wait, and the case fails."""
    return [plain_case("question: nobody sees it in a window station of its own%s, ends with 3%s"
                       % (tag, arguments and " " + arguments), BOTH_VERBS_SETUP + UNRELATED_SETUP,
                       [(arguments, [], facts.EXIT_QUESTION_NOT_SHOWN)], unchanged=True, station="KompaktoUnseen")
            for arguments in ("", facts.SILENT_SWITCH)]


def download_case(name, action, arguments="", setup=(), after=(), **options):
    pairs = [(QUESTION, "yes"), (DOWNLOAD, action)] + list(after)
    return plain_case(name, list(setup) + UNRELATED_SETUP + [("delete_file", STANDIN_OUT)],
                      [(arguments, pairs, facts.EXIT_NO_VIEWER)], unchanged=True, **options)


def cases_64_both():
    cases = [unanswered_question_case("question: " + label, action) for label, action in [
        ("Cancel changes nothing", "cancel"), ("Esc changes nothing", "esc"), ("close box changes nothing", "close"),
        ("WM_CLOSE changes nothing", "wm_close"), ("Enter at once presses Cancel", "enter")]]
    cases += [activation_case("activate: 64-bit viewer wins over 32-bit one", VIEWER64),
              deactivation_case("deactivate: both verbs go, other verbs stay")]

    # Switching off deletes the four keys it names and no more: of what
    # switching on created, the verb's two empty parents stay.
    on_then_off = [("", [(QUESTION, "yes"), (CONFIRM_ON, "ok")], facts.EXIT_DONE),
                   ("", [(QUESTION, "no"), (CONFIRM_OFF, "ok")], facts.EXIT_DONE)]
    cases.append(plain_case("activate then deactivate: on a user with none of the keys two empty ones stay", [],
                            on_then_off, tree(ALL_OBJECTS + "\\shell")))
    cases.append(plain_case("activate then deactivate: beside other verbs all stays as it was", UNRELATED_SETUP,
                            on_then_off, unchanged=True))
    cases.append(plain_case("deactivate: nothing registered still confirms", UNRELATED_SETUP,
                            [("", [(QUESTION, "no"), (CONFIRM_OFF, "ok")], facts.EXIT_DONE)], unchanged=True))

    twice = ("", [(QUESTION, "yes"), (CONFIRM_ON, "ok")], facts.EXIT_DONE)
    cases.append(plain_case("activate: twice over an old command leaves one verb", BOTH_VERBS_SETUP,
                            [twice, twice],
                            tree(VERB_WITH(VIEWER64), (FOLDER_VERB_COMMAND, {"": OLD_FOLDER_COMMAND}))))

    # What a menu cleaner or another program leaves on the verb: every hiding
    # and diverting entry goes, a sub key with its tree; filters, decorations
    # and other keys stay.
    in_the_way = [(VERB, name) for name in (facts.VERB_HIDING_VALUES + ";" + facts.VERB_DIVERTING_VALUES).split(";")]
    in_the_way += [(VERB_COMMAND, name) for name in facts.COMMAND_DIVERTING_VALUES.split(";")]
    sub_keys = [VERB + "\\" + name for name in facts.VERB_DIVERTING_SUB_KEYS.split(";")]
    kept = {name: "kept " + name
            for name in (facts.VERB_FILTERING_VALUES + ";" + facts.VERB_DECORATING_VALUES).split(";")}
    other_key = (VERB + "\\shell\\Other\\command", {"": "kept"})
    cases.append(plain_case("activate: a verb a menu cleaner hid or another program diverted is switched on, "
                            "filters, decorations and other keys kept",
                            [("reg_set", key, name, "") for key, name in in_the_way]
                            + [step for key in sub_keys for step in (("reg_set", key, "CLSID", "{0}"),
                                                                     ("reg_set", key + "\\topic", "", "System"))]
                            + [("reg_set", VERB, name, data) for name, data in kept.items()]
                            + [("reg_set", other_key[0], "", "kept")] + UNRELATED_SETUP,
                            [("", [(QUESTION, "yes"), (CONFIRM_ON, "ok")], facts.EXIT_DONE)],
                            tree(*UNRELATED_STATE, (VERB, kept), VERB_WITH(VIEWER64), other_key)))

    # The switch: only the first argument counts, cut by the program's own rules (unlike the C runtime, which
    # keeps one quote of a doubled pair inside quotes, it drops both).
    for label, arguments, silent in [
        ("/S", "/S", True),
        ("-silent", "-silent", True),
        ("one quoted word \"x s\"", "\"x s\"", True),
        ("/x then /s is not silent", "/x /s", False),
        ("empty quoted first argument then s is not silent", "\"\" s", False),
        # Letters that Windows-1252 lacks are no s and no quote, however alike.
        ("a fullwidth s is not silent", "/\uff53", False),
        ("look-alike quotes around x s are no quotes", "\uff02x s\uff02", False),
    ]:
        cases.append(activation_case("switch: " + label, VIEWER64, arguments, silent=silent))
    # A 64-bit program-files folder named with a look-alike of the s of "Files"
    # is not searched, not taken for C:\Program Files: the 32-bit viewer is found.
    w6432 = facts.PROGRAM_W6432_ON64.rstrip("\\")
    cases.append(activation_case("viewer: a %ProgramW6432% with a letter outside Windows-1252 is not searched",
                                 VIEWER32_ON_64, setup=[("setenv", "ProgramW6432", w6432[:-1] + "\uff53")],
                                 after=[("setenv", "ProgramW6432", w6432)]))
    spaced = SPACED_FOLDER + "\\kompakto.exe"
    cases.append(activation_case("switch: unquoted program path with a space is silent", VIEWER64,
                                 silent=True, app=spaced, cmdline=spaced))
    cases.append(deactivation_case("switch: silent deactivation has no confirmation", facts.SILENT_SWITCH,
                                   silent=True))

    # Registry failures: exit code 2, the error box, and the registry as it was.
    # A non-volatile key cannot be made below a volatile one.
    volatile_shell = [("reg_volatile_key", ALL_OBJECTS + "\\shell")]
    unwritable = [("reg_set", VERB_COMMAND, "", OLD_COMMAND), ("reg_sddl", VERB_COMMAND, "D:(D;;0x6;;;WD)(A;;KA;;;WD)")]
    for name, setup, arguments, extra_check in [
        ("command key that may not be written", unwritable + UNRELATED_SETUP, "", check_acl_applied),
        ("verb key that cannot be created", volatile_shell + UNRELATED_SETUP[1:], "", None),
        ("silent mode still reports a failed activation", volatile_shell, "/s", None),
    ]:
        failed_on = [(QUESTION, "yes"), (FAILED_ON, "ok")]
        cases.append(plain_case("failure: " + name, setup, [(arguments, failed_on, facts.EXIT_REGISTRY_FAILED)],
                                unchanged=True, extra_check=extra_check))
    cases += refused_deactivation_cases() + undeletable_key_cases()

    cases.append(activation_case("contract: the viewer gets nine arguments through the shell", VIEWER64,
                                 shell_verb=True))

    # No screen for the question (a Wine session without a display): no
    # cancel, and no other box either.
    for arguments in ("", facts.SILENT_SWITCH):
        cases.append(plain_case("question: none shown without a display ends with 3" + (arguments and " " + arguments),
                                BOTH_VERBS_SETUP + UNRELATED_SETUP, [(arguments, [], facts.EXIT_QUESTION_NOT_SHOWN)],
                                unchanged=True, display=False))
    cases += unseen_question_cases()

    raw = quoted(E2E_DIR + "\\standin.exe") + ' "" s "x s" /x\t/s  \\"q\\" \u00d7'

    def check_raw(seen):
        got = standin_report(seen)
        if seen.expect(got, "the stand-in wrote nothing"):
            seen.expect(got["cmdline"] == raw, "command line arrived as %s" % describe(got["cmdline"]))

    cases.append(Case("harness: a command line reaches the program unchanged",
                      [("delete_file", STANDIN_OUT), ("start", E2E_DIR + "\\standin.exe", raw, ""),
                       ("finish", str(FINISH_WAIT_MS)), ("read_file", STANDIN_OUT, "5000")],
                      check_raw))
    return cases


def check_acl_applied(seen):
    results = seen.of("reg_sddl")
    seen.expect(results and results[0]["result"] == 0, "the key's access could not be limited: %s" % results)


def check_page_opened(seen):
    got = standin_report(seen)
    if seen.expect(got, "no browser was started"):
        arguments = got["arguments"][1:]
        page = facts.TEXTS[DOWNLOAD_FAILED].split("\r")[-1]  # the box that names the page when it fails
        seen.expect(arguments == [page], "the browser was asked for %s, not %s" % (describe(arguments), page))


def check_no_browser(seen):
    files = seen.of("read_file")
    seen.expect(files and not files[0]["exists"], "a browser was started: %s" % describe(files))


BROWSER_SETUP = [("reg_set", SHELL_CLASSES + "\\%s\\shell\\open\\command" % scheme, "",
                  quoted(E2E_DIR + "\\standin.exe") + " \"%1\"") for scheme in ("https", "http")]
NO_BROWSER_SETUP = [("reg_delete_tree", SHELL_CLASSES + "\\" + scheme) for scheme in ("https", "http")]
SETTLE = [("read_file", STANDIN_OUT, "1500")]  # a browser would have written by now


def page_not_opened_case(tag=""):
    """No program for web addresses: the error box names the page; still 1.
    It deletes the classes of web addresses: the last case of its group."""
    return download_case("download offer%s: a page that cannot be opened is told" % tag, "yes",
                         setup=NO_BROWSER_SETUP, after=[(DOWNLOAD_FAILED, "ok")])


# --- what kompakto.exe hands to Windows, read at the DLL boundary ----------------

DPI_CALLS = ("SetProcessDpiAwarenessContext", "SetProcessDPIAware")
KEYS_OPENED = ("RegOpenKeyExW", "RegCreateKeyExW", "RegDeleteKeyW")
TRACED = ("MessageBeep", "MessageBoxIndirectW", "MessageBoxTimeoutW") + KEYS_OPENED + DPI_CALLS
WINE_LOG = "<wine log>"  # the session's log as the driver reads it, filled in by run_group
HKEY_CURRENT_USER, DELETE = facts.HKEY_CURRENT_USER, facts.DELETE
CALL = re.compile(r"^[0-9a-f]+:Call [\w.-]+\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RET = re.compile(r"^[0-9a-f]+:Ret  [\w.-]+\.(\w+)\(.*\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
ARGUMENT = re.compile(r'(?:[^,"]|"(?:[^"\\]|\\.)*")+')  # a number, and a text's quoted content after it
CASE_MARK = "kompakto-e2e: case "


def traced_calls(log, image):
    """The calls into Windows that kompakto.exe's own code made, from a relay trace (those returning
    into image, (start, end)), by the case the driver marked: {case: [{"event": "call", "function",
    "args", "result"}]}, each argument as its number (a text's address, a key's handle), the result
    as the number the call returned (None before its return)."""
    calls, case = {}, None
    for line in log.splitlines():
        if line.startswith(CASE_MARK):
            case = calls.setdefault(line[len(CASE_MARK):], [])
        match = CALL.match(line) or RET.match(line)
        if not match or case is None or not image[0] <= int(match.group(3), 16) < image[1]:
            continue
        if match.re is RET:
            returned = [call for call in case if call["function"] == match.group(1) and call["result"] is None]
            if returned:
                returned[-1]["result"] = int(match.group(2), 16)
            continue
        arguments = [int(argument.split()[0], 16) for argument in ARGUMENT.findall(match.group(2))]
        case.append({"event": "call", "function": match.group(1), "args": arguments, "result": None})
    return calls


def image_of(exe):
    """(start, end) of exe's image where Windows loads it: its ImageBase and SizeOfImage."""
    with open(exe, "rb") as program:
        data = program.read(4096)
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    base, size = struct.unpack_from("<I", data, optional + 28)[0], struct.unpack_from("<I", data, optional + 56)[0]
    return base, base + size


def traced_case(name, answer, confirmation, expected_after):
    """A run with every call of TRACED traced; the question is held while
    the record handed to MessageBoxIndirectW is read."""
    pairs = [(QUESTION, "hold"), (QUESTION, answer), (confirmation, "ok")]
    start, held, *rest = run_steps("", pairs)
    run = [("reg_set", "Software\\Wine\\Debug", "RelayInclude", ";".join(TRACED)), ("setenv", "WINEDEBUG", "+relay"),
           start, ("setenv", "WINEDEBUG", winesession.WINEDEBUG), held,
           ("peek", WINE_LOG, "MessageBoxIndirectW", "40", "5000")] + rest

    def check(seen):
        check_runs(seen, [(pairs, facts.EXIT_DONE)])
        check_registry(seen, expected_after)
        check_boundary(seen, answer == "no")

    return Case(name, scenario(BOTH_VERBS_SETUP + UNRELATED_SETUP, [run]), check)


def check_boundary(seen, deactivating):
    """What Wine does not show: the DPI awareness declared before the first box, the sound before the
    question, the question's style, the confirmation's time-out, and that every key is HKEY_CURRENT_USER's."""
    calls = seen.of("call")
    names = [call["function"] for call in calls]
    if not seen.expect("MessageBoxIndirectW" in names, "no question traced: %s" % names):
        return
    question = names.index("MessageBoxIndirectW")
    # Wine 8 refuses per-monitor v2 (-4) and takes the system-wide awareness:
    # the first call asks for the newest, and one that Windows took comes
    # before the beep.
    beep = names.index("MessageBeep") if "MessageBeep" in names else question
    aware = [call for call in calls[:min(beep, question)] if call["function"] in DPI_CALLS]
    seen.expect(aware and aware[0]["function"] == DPI_CALLS[0] and aware[0]["args"] == [0xFFFFFFFC]
                and any(call["result"] == 1 for call in aware)
                and len([call for call in calls if call["function"] in DPI_CALLS]) == len(aware),
                "DPI awareness before the beep and the question: %s, expected %s(-4) first and one that "
                "Windows took" % (aware, DPI_CALLS[0]))
    seen.expect([call["args"] for call in calls[:question] if call["function"] == "MessageBeep"]
                == [[facts.QUESTION_BEEP]], "the sound before the question: %s" % calls[:question])
    peeks = seen.of("peek")
    record = bytes.fromhex(peeks[0]["bytes"]) if peeks else b""
    if seen.expect(len(record) == 40, "the question's record could not be read: %s" % peeks):
        size, style = struct.unpack_from("<I", record, 0)[0], struct.unpack_from("<I", record, 20)[0]
        seen.expect(size == 40 and style == facts.QUESTION_STYLE, "the question's record: size %d, style %#x, "
                    "expected 40 and %#x" % (size, style, facts.QUESTION_STYLE))
    timed = [call["args"] for call in calls if call["function"] == "MessageBoxTimeoutW"]
    seen.expect(len(timed) == 1 and timed[0][3:] == [facts.CONFIRM_STYLE, 0, facts.CONFIRM_TIMEOUT_MS]
                and timed[0][0] == 0, "the confirmation: MessageBoxTimeoutW%s, expected style %#x, language 0, "
                "%d ms, no owner" % (timed, facts.CONFIRM_STYLE, facts.CONFIRM_TIMEOUT_MS))
    keys = [call for call in calls if call["function"] in KEYS_OPENED]
    seen.expect(keys and all(call["args"][0] == HKEY_CURRENT_USER for call in keys),
                "keys outside HKEY_CURRENT_USER: %s" % [c for c in keys if c["args"][0] != HKEY_CURRENT_USER])
    if deactivating:
        look = [call["args"] for call in calls[:names.index("RegDeleteKeyW") if "RegDeleteKeyW" in names else None]
                if call["function"] == "RegOpenKeyExW"]
        seen.expect(len(look) == 4 and all(args[3] & DELETE for args in look),
                    "the look opens %s, each expected with the right to delete it" % look)


def cases_traced():
    return [traced_case("boundary: activation as Windows gets it", "yes", CONFIRM_ON,
                        tree(*UNRELATED_STATE, VERB_WITH(VIEWER64), (FOLDER_VERB_COMMAND, {"": OLD_FOLDER_COMMAND}))),
            traced_case("boundary: deactivation as Windows gets it", "no", CONFIRM_OFF, tree(*UNRELATED_STATE))]


def cases_64_none():
    def check_not_planted(seen):
        check_page_opened(seen)
        marks = [mark["exists"] for mark in seen.of("exists")]
        seen.expect(marks[:1] == [False], "the shell32.dll beside kompakto.exe was loaded")
        seen.expect(marks[1:] == [True], "control: a program beside it that loads shell32.dll by its bare name did "
                    "not load it either, so the case proves nothing")

    # Wine takes a native shell32.dll, the one beside the program first, before its own.
    app_defaults = ["Software\\Wine\\AppDefaults\\" + name for name in ("kompakto.exe", LAYER_NAME)]
    planted = [("reg_set", key + "\\DllOverrides", "shell32", "native,builtin") for key in app_defaults]
    control = ([("delete_file", PLANTED_DLL_MARK)] + run_steps("--load shell32.dll", app=DOWNLOADS + "\\" + LAYER_NAME)
               + [("exists", PLANTED_DLL_MARK)])
    return [
        *[download_case("download offer: " + label, action, setup=BROWSER_SETUP, extra_check=check_no_browser,
                        extra=SETTLE) for label, action in (("No", "no"), ("Cancel", "cancel"))],
        download_case("download offer: close box", "close"),
        download_case("download offer: shown in silent mode too", "no", arguments=facts.SILENT_SWITCH),
        download_case("download offer: Yes opens the page in the browser", "yes", setup=BROWSER_SETUP,
                      extra_check=check_page_opened, extra=[("read_file", STANDIN_OUT, "15000")]),
        download_case("download offer: a shell32.dll beside kompakto.exe is never loaded", "yes",
                      setup=BROWSER_SETUP + [("delete_file", PLANTED_DLL_MARK)] + planted,
                      app=DOWNLOADS + "\\kompakto.exe", extra_check=check_not_planted,
                      extra=[("read_file", STANDIN_OUT, "15000"), ("exists", PLANTED_DLL_MARK)] + control
                      + [("reg_delete_tree", key) for key in app_defaults], later_runs=[([], 0)]),
        entry_case("viewer: found through the 64-bit edition's uninstall entry in the 64-bit view",
                   facts.UNINSTALL_KEY64, facts.INSTALL_LOCATION, OWN_FOLDER, OWN_VIEWER64),
        page_not_opened_case(),
    ]


def entry_case(name, key, value, data, viewer, setup=()):
    """The viewer found through its uninstall entry of HKEY_LOCAL_MACHINE, as
    the driver writes it: from a 64-bit driver the 64-bit view, which the
    32-bit kompakto.exe sees only when it asks for it. The entry goes again
    after the case."""
    entry = "HKLM\\" + key
    return activation_case(name, viewer, shell_verb=True, setup=list(setup) + [("reg_set", entry, value, data)],
                           after=[("reg_delete_tree", entry)])


def cases_64_viewer32():
    return [activation_case("viewer: only the 32-bit one on 64-bit Windows", VIEWER32_ON_64, shell_verb=True),
            activation_case("viewer: a folder named like the 64-bit one is passed over", VIEWER32_ON_64,
                            setup=[("make_folder", VIEWER64)])]


def cases_32():
    # From the case that sets this up on, the viewer's place holds a folder of its name.
    no_viewer = [("delete_file", VIEWER32_ON_32), ("make_folder", VIEWER32_ON_32)]

    def check_plant(seen):
        exists = seen.of("exists")
        seen.expect(exists and exists[0]["exists"], "the planted viewer is not where it should be")
        system = seen.of("system")
        seen.expect(system and system[0]["expanded_w6432"] == "%ProgramW6432%\\",
                    "%%ProgramW6432%% expands to %s" % (system and system[0]["expanded_w6432"]))

    return ([activation_case("viewer: 32-bit one on 32-bit Windows", VIEWER32_ON_32, shell_verb=True)]
            + refused_deactivation_cases(" on 32-bit Windows") + unseen_question_cases(" on 32-bit Windows")
            + [download_case("viewer: planted under a literal %ProgramW6432% folder is not taken", "no",
                             setup=no_viewer + [("exists", PLANTED_VIEWER)], cwd=PLANT_FOLDER, extra_check=check_plant),
               download_case("viewer: a folder named like the viewer on 32-bit Windows is none", "no"),
               entry_case("viewer: found through the 32-bit edition's uninstall entry on 32-bit Windows",
                          facts.UNINSTALL_KEY32, facts.UNINSTALL_STRING, OWN_FOLDER + "\\iv_uninstall.exe",
                          OWN_VIEWER32, setup=no_viewer),
               page_not_opened_case(" on 32-bit Windows")])


def code_page_cases(tag):
    """The texts and the stored command do not depend on the system's ANSI
    code page (the group checks that it is the one asked for)."""
    return [
        unanswered_question_case("code page %s: question" % tag, "cancel"),
        activation_case("code page %s: activation" % tag, VIEWER64),
        deactivation_case("code page %s: deactivation" % tag),
    ]


def groups():
    common = {E2E_DIR + "\\standin.exe": STANDIN, PICTURES: None, PICTURE: "", PROGRAM: "kompakto.exe"}
    both = dict(common, **{VIEWER64: STANDIN, VIEWER32_ON_64: STANDIN})
    return [
        Group("64-bit, both viewers", "win64", "C.UTF-8", 1252,
              dict(both, **{SPACED_FOLDER + "\\kompakto.exe": "kompakto.exe"}), cases_64_both()),
        Group("64-bit, 32-bit viewer only", "win64", "C.UTF-8", 1252, dict(common, **{VIEWER32_ON_64: STANDIN}),
              cases_64_viewer32()),
        Group("64-bit, no viewer", "win64", "C.UTF-8", 1252,
              dict(common, **{DOWNLOADS + "\\kompakto.exe": "kompakto.exe", DOWNLOADS + "\\" + LAYER_NAME: LAYER_SOURCE,
                              DOWNLOADS + "\\shell32.dll": "e2e-planted.dll", OWN_VIEWER64: STANDIN}),
              cases_64_none()),
        Group("32-bit", "win32", "C.UTF-8", 1252,
              dict(common, **{VIEWER32_ON_32: STANDIN, PLANTED_VIEWER: STANDIN, OWN_VIEWER32: STANDIN}), cases_32()),
        Group("64-bit, Japanese", "win64", "ja_JP.UTF-8", 932, both, code_page_cases("932 (Japanese)")),
        Group("64-bit, Russian", "win64", "ru_RU.UTF-8", 1251, both, code_page_cases("1251 (Russian)")),
        Group("64-bit, what Wine receives but ignores (relay trace)", "win64", "C.UTF-8", 1252, both, cases_traced()),
    ]


# ---------------------------------------------------------------------------


def log(message):
    print(message, flush=True)


def run_group(session, group):
    """Runs the group's cases in a fresh prefix; returns {case name: events}."""
    prefix = session.prefix(group.arch, group.files)
    log_for_wine = "Z:" + session.log.replace("/", "\\")
    steps = [tuple(log_for_wine if field == WINE_LOG else field for field in step)
             for case in group.cases for step in [("case", case.name)] + case.steps]
    logged = os.path.getsize(session.log) if os.path.exists(session.log) else 0
    started = time.time()
    events, part = [], []
    for step in steps + [None]:  # the driver runs the steps up to a start without a display, which the session makes
        if step and step[0] != "start_without_display":
            part.append(step)
            continue
        if part:
            driver = session.driver(prefix, part, lang=group.lang)
            events += driver.finish()
            if events[-1]["event"] == "timeout":
                log("# group %s: the driver ran out of time (%d s); see %s" % (group.name, driver.budget, session.log))
        part = []
        if step:  # the events of the driver's start and finish, for a start without a display
            code = session.run(prefix, PROGRAM, step[1:], group.lang, 60, display=False)
            events += [{"event": "start", "started": True, "error": 0},
                       {"event": "exit", "reason": "timeout"} if code is None else
                       {"event": "exit", "reason": "ended", "code": code}]
    with open(os.path.join(session.work, group.name.replace(" ", "_") + ".jsonl"), "w", encoding="utf-8") as out:
        out.write("".join(json.dumps(event, ensure_ascii=False) + "\n" for event in events))
    log("# %s: %d case(s) in %.0f s" % (group.name, len(group.cases), time.time() - started))
    by_case, current = {}, None
    for event in events:
        if event["event"] == "case":
            current = by_case.setdefault(event["name"], [])
        elif current is not None:
            current.append(event)
    with open(session.log, "rb") as output:
        output.seek(logged)
        trace = output.read().decode("utf-8", "replace")
    for name, calls in traced_calls(trace, image_of(os.path.join(session.build, "kompakto.exe"))).items():
        by_case.setdefault(name, []).extend(calls)
    if not session.keep:
        shutil.rmtree(prefix, ignore_errors=True)
    return by_case


def layer_test_name(arch, name):
    return "windows layer (%s prefix, code page %d): %s" % (arch, LAYER_RUNS[arch][1], name)


def run_layer_tests(session, arch):
    """The tests of the Windows operations in a fresh prefix of arch, as (name, problems) pairs."""
    prefix = session.prefix(arch, {LAYER_TEST: LAYER_SOURCE, "C:\\oswin\\kompakto-probe.dll": "e2e-planted.dll"})
    lang = LAYER_RUNS[arch][0]
    winesession.ensure_locale(lang)  # for the Unix side of file names with letters beyond ASCII
    code = session.run(prefix, LAYER_TEST, ["--gtest_output=xml:" + LAYER_RESULTS], lang, 180)
    try:
        with open(winesession.windows_to_host(prefix, LAYER_RESULTS), "rb") as report:  # a failure may quote any byte
            tests = ElementTree.fromstring(report.read().decode("utf-8", "replace")).iter("testcase")
        results = [(layer_test_name(arch, test.get("classname") + "." + test.get("name")),
                    [failure.get("message", "").replace("\n", "\n     ") for failure in test.iter("failure")])
                   for test in tests]
    except (OSError, ElementTree.ParseError) as error:
        results = [(layer_test_name(arch, "the test program"),
                    ["no results (exit code %s): %s; see %s" % (code, error, session.log)])]
    if not session.keep:
        shutil.rmtree(prefix, ignore_errors=True)
    return results


def check_case(group, case, events):
    if events is None:
        return ["the driver did not get to this case"]
    seen = Seen(events)
    for event in seen.of("bad_step"):
        seen.fail("driver could not read step %s" % event)
    try:
        # Every case runs in the code page and on the Windows its group asks for.
        seen.expect(("system",) not in case.steps or seen.of("system"), "no system report")
        for system in seen.of("system"):
            seen.expect(system["acp"] == group.acp, "ANSI code page %s, expected %s under %s"
                        % (system["acp"], group.acp, group.lang))
            seen.expect(system["wow64"] == (system["program_w6432"] is not None) == (group.arch == "win64"),
                        "not a %s Windows: %s" % (group.arch, system))
        case.check(seen)
    except Exception as error:  # a check that trips over odd data is a failure
        seen.fail("check failed with %r" % error)
    return seen.problems


def main(argv):
    options = [a for a in argv[1:] if a.startswith("--")]
    filters = [a for a in argv[1:] if not a.startswith("--")]
    if set(options) - {"--keep", "--layer"}:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        return 2
    layer = "--layer" in options
    build = winesession.BUILD
    named = [line for line in os.environ.get("KOMPAKTO_CASES", "").split("\n") if line]

    def wanted(name, whole=lambda pattern: pattern):
        return ((not filters or any(f.lower() in name.lower() for f in filters))
                and (not named or any(fnmatch.fnmatchcase(name, whole(pattern)) for pattern in named)))

    def arch_wanted(arch):  # a name's part before the layer test's own
        return wanted(layer_test_name(arch, ""), lambda pattern: pattern.split("): ")[0] + "): ")

    chosen = [] if layer else [g._replace(cases=[c for c in g.cases if wanted(c.name)]) for g in groups()]
    chosen = [g for g in chosen if g.cases]
    layer_arches = [arch for arch in sorted(LAYER_RUNS, reverse=True) if layer and arch_wanted(arch)]
    if not chosen and not layer_arches:
        print("no case matches %s" % (filters + named), file=sys.stderr)
        return 2

    started = time.time()
    work = os.path.join(build, "layer-work" if layer else "e2e-work")
    shutil.rmtree(work, ignore_errors=True)  # what an earlier run kept
    failures = []  # per case reported, whether it failed

    def report(name, problems):
        log(("FAIL " if problems else "PASS ") + name)
        for problem in problems:
            log("     %s" % problem)
        failures.append(bool(problems))

    with winesession.Session(work, build) as session:
        session.keep = "--keep" in options
        arches = sorted({g.arch for g in chosen} | set(layer_arches))
        try:
            broken = session.templates(arches)
        except (OSError, RuntimeError) as error:
            broken = dict.fromkeys(arches, str(error))
        for arch, why in sorted(broken.items()):
            log("# no %s prefix, so none of its cases can run: %s" % (arch, why))
        for group in chosen:
            events = {} if group.arch in broken else run_group(session, group)
            for case in group.cases:
                report(case.name, ["no %s prefix (see above)" % group.arch] if group.arch in broken
                       else check_case(group, case, events.get(case.name)))
                if any(event.get("retried") for event in events.get(case.name, [])):
                    log("     (Wine failed to start a program once, and it was started again)")
        for arch in layer_arches:
            for name, problems in ([(layer_test_name(arch, "the test program"), ["no %s prefix (see above)" % arch])]
                                   if arch in broken else run_layer_tests(session, arch)):
                report(name, problems)
    failed, passed = sum(failures), failures.count(False)
    if failed or session.keep:
        log("# logs and transcripts: %s" % work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    log("# %.0f s" % (time.time() - started))
    log("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(winesession.guarded(lambda: main(sys.argv)))
