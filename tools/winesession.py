"""Wine on a virtual screen of its own, for the end-to-end tests, make run,
make screenshots and make bench: a Session starts Xvfb, makes the template
prefixes once (build/wine/<arch>, kept between runs), gives out fresh copies
of them, runs the driver (tests/e2e/driver.c) in them, and at the end stops
every Wine server it started and its Xvfb, whatever happened. Every wait has
a time-out. A session holds /tmp/kompakto-wine.lock for its whole life:
never two Wine sessions at once on this machine, whoever starts them.

kompakto.exe is 32-bit: where the kernel cannot execute that, it runs under
qemu's emulator (tools/emulator.py); the helpers run in a 64-bit prefix as
64-bit programs, natively. `python3 tools/winesession.py mode` prints how
this machine runs 32-bit code: native, emulated or none.
"""
import contextlib
import fcntl
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import trees  # tools/trees.py
from emulator import LOADER32, SetupError, decide, machine_state, prepare_machine

ROOT = trees.ROOT
BUILD = trees.folder("windows")  # kompakto.exe and the 32-bit helpers
TEMPLATES = os.path.join(ROOT, "build", "wine")
WINE_LOCK = "/tmp/kompakto-wine.lock"
TEMPLATE_FORMAT = "5"  # raise when the way templates are made changes
HELPERS = "C:\\e2e"  # where the driver and its script live in a prefix
KOMPAKTO = HELPERS + "\\kompakto.exe"
START_KOMPAKTO = ("start", KOMPAKTO, '"%s"' % KOMPAKTO, "")  # the driver's step that starts it
# The helpers are built for each kind of prefix and started with its own
# loader: only kompakto.exe is 32-bit in a 64-bit prefix.
HELPER_PROGRAMS = ("e2e-driver.exe", "e2e-standin_viewer.exe")
HELPER_BUILDS = {"win32": BUILD, "win64": trees.folder("windows-x64")}
LOADERS = {"win32": LOADER32, "win64": "/usr/lib/wine/wine64"}
DESKTOP = "640x480"  # the Wine desktop window of the pictures
# Wine's own fonts (Debian's fonts-wine): Marlett draws the buttons of a title
# bar, Tahoma the text of the boxes. Debian's Wine 8 looks for them at
# Z:\usr\share\wine\../fonts, a path its file lookup does not resolve, so
# each template gets them where Windows keeps its fonts, C:\windows\Fonts.
WINE_FONTS = "/usr/share/wine/fonts"
# No crash dialogs, and Managed=N so that Wine does not wait two seconds for
# a window manager after every box.
TEMPLATE_SETTINGS = ("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n\n"
                     "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n")
# Wine's own errors only, into the session's log, for a look after a failed run.
WINEDEBUG = "-all,err+all"


def wait_fields():
    """{step: the field of its wait in ms}, from the driver's table of steps."""
    with open(os.path.join(ROOT, "tests", "e2e", "driver.c"), encoding="utf-8") as source:
        steps = re.findall(r'\{L"(\w+)", L"([^"]*)", Step\w+\}', source.read())
    return {name: fields.split().index("TIMEOUT_MS") + 1 for name, fields in steps if "TIMEOUT_MS" in fields.split()}


WAIT_FIELDS = wait_fields()


def guarded(main):
    """Runs main; a SetupError ends it with its message and exit code 3."""
    try:
        return main()
    except SetupError as error:
        print("kompakto: %s" % error, file=sys.stderr, flush=True)
        return 3


@contextlib.contextmanager
def wine_lock():
    """WINE_LOCK, held until the end; a descriptor of it that this process
    inherited already locked (flock /tmp/kompakto-wine.lock make test) counts
    as held."""
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


def spawn(command, env, log_path):
    """Starts command in a session of its own, with its output in log_path (a
    pipe could stay open for ever: Wine's helper processes inherit it)."""
    with open(log_path, "ab") as output:
        return subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                                start_new_session=True)


def wait(process, timeout):
    """process's exit code; None when the time is up, and its whole session is killed."""
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        kill(process)


def kill(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait(timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        pass


def stop_wine(env, log_path):
    """Ends every process of the prefix and waits for its Wine server."""
    wait(spawn(["wineserver", "-k"], env, log_path), 30)
    wait(spawn(["wineserver", "-w"], env, log_path), 30)


def windows_to_host(prefix, path):
    assert path[1:3] == ":\\", path
    return os.path.join(prefix, "drive_c", *path[3:].split("\\"))


def ensure_locale(lang):
    """Generates a UTF-8 locale that the machine lacks (Wine takes its code
    page and the language of its buttons from it)."""
    name = lang.split(".")[0]
    listed = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout.lower().split()
    if name != "C" and name.lower() + ".utf8" not in listed:
        subprocess.run(["localedef", "-i", name, "-f", "UTF-8", lang], check=True, capture_output=True)


def clone(template, destination):
    """A fresh prefix: big unchanging files (the DLLs) are hard links,
    everything else, the registry above all, is copied (Wine writes a
    registry file with more than one link in place)."""
    def link_or_copy(source, target):
        try:
            if os.path.getsize(source) >= 65536 and not source.endswith(".reg"):
                return os.link(source, target)
        except OSError:
            pass
        shutil.copy2(source, target)

    shutil.copytree(template, destination, symlinks=True, copy_function=link_or_copy, dirs_exist_ok=True)


class Driver:
    """The driver running a script in the background; its transcript grows
    line by line. budget: seconds for the whole script."""

    def __init__(self, process, transcript, env, log_path, budget):
        self.process, self.transcript, self.env, self.log_path, self.budget = process, transcript, env, log_path, budget

    def text(self):
        with open(self.transcript, encoding="utf-8") as lines:
            return lines.read()

    def wait_for(self, needle, count=1, timeout=180):
        """Waits until needle stands in count lines of the transcript."""
        deadline = time.time() + timeout
        while sum(needle in line for line in self.text().splitlines()) < count:
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("the driver did not get as far as %r; it saw:\n%s" % (needle, self.text()))
            time.sleep(0.1)

    def picture(self, prefix, number, path):
        """Waits for the number-th held box (see hold_steps), saves the Wine
        desktop window cut down to it as path, and lets the driver go on."""
        self.wait_for('"action":"picture"', number)
        time.sleep(0.5)  # painted
        shot = path + ".screen.png"
        subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root", shot], check=True,
                       timeout=30)
        subprocess.run(["convert", shot, "-crop", DESKTOP + "+0+0", "+repage", "-trim", "+repage", "-strip", path],
                       check=True, timeout=30)
        os.unlink(shot)
        open(windows_to_host(prefix, "%s\\go%d" % (HELPERS, number)), "w").close()

    def finish(self, timeout=None):
        """Waits for the driver's end (at most timeout seconds, or its budget)
        and returns its events, the last of them {"event": "timeout"} when it
        ran out of time."""
        code = wait(self.process, timeout or self.budget)
        stop_wine(self.env, self.log_path)
        events = []
        for line in self.text().splitlines():
            try:
                events.append(json.loads(line))
            except ValueError:
                pass  # a line cut short by a killed driver
        return events if code is not None else events + [{"event": "timeout"}]


def hold_steps(caption, number, action, wait_ms=60000):
    """Driver steps that find the box, hold it, drawn active, until the
    picture numbered number is taken (Driver.picture), then answer it with
    action."""
    go = "%s\\go%d" % (HELPERS, number)
    return [("box", caption, str(wait_ms), "picture"), ("wait_file", go, str(wait_ms)),
            ("box", caption, "5000", action)]


class Session:
    def __init__(self, work=None, build=BUILD, display=None):
        self.build = build  # where the files laid into a prefix come from
        self.own_work = work is None  # a folder of its own goes at the end
        self.work = work or tempfile.mkdtemp(prefix="kompakto-wine.")
        os.makedirs(self.work, exist_ok=True)
        self.log = os.path.join(self.work, "wine.log")
        self.xvfb = None
        self.display = display
        self.prefixes = {}  # path: arch
        self.keep = False  # leave the prefixes for a look afterwards
        self.held = None  # the lock of the machine's Wine sessions

    def __enter__(self):
        self.held = contextlib.ExitStack()
        self.held.enter_context(wine_lock())
        try:
            prepare_machine()
            if self.display is None:  # else Wine shows its windows on display
                self.start_screen()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exception):
        self.close()

    def start_screen(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        # Xvfb writes the number, then "\n", once it listens; it dies when the pipe is closed before the "\n".
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip() if select.select([pipe], [], [], 20)[0] else ""
        if not number.isdigit():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number

    def env(self, prefix, lang="C.UTF-8", arch=None):
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("LC_", "WINE")) and key not in ("LANG", "LANGUAGE", "DISPLAY")}
        env.update({"WINEPREFIX": prefix, "WINEDEBUG": WINEDEBUG, "WINEDLLOVERRIDES": "mscoree,mshtml=",
                    "DISPLAY": self.display, "LANG": lang, "LC_ALL": lang})
        if arch:
            env["WINEARCH"] = arch
        return env

    def templates(self, arches):
        """Makes the missing template prefixes, side by side; later runs find
        them ready by their stamp. Returns {arch: why} for those that could
        not be made."""
        try:
            version = subprocess.run([LOADERS["win64"], "--version"], capture_output=True, text=True).stdout.strip()
        except OSError as error:
            raise SetupError("Wine cannot be started (%s): run tools/install-deps.sh as root" % error)
        booting = {}
        for arch in arches:
            path = os.path.join(TEMPLATES, arch)
            stamp = "%s %s %s\n" % (TEMPLATE_FORMAT, arch, version)
            made = os.path.join(path, ".kompakto-template")
            if os.path.exists(made) and open(made).read() == stamp:
                continue
            print("# making the %s template prefix (once)" % arch, flush=True)
            shutil.rmtree(path, ignore_errors=True)
            os.makedirs(TEMPLATES, exist_ok=True)
            log = os.path.join(TEMPLATES, arch + "-wineboot.log")  # kept, for a look after a failure
            open(log, "w").close()
            env = self.env(path, arch=arch)
            booting[arch] = (path, made, stamp, log, spawn([LOADERS[arch], "wineboot", "-i"], env, log))
        problems = {arch: self.finish_template(arch, *job) for arch, job in booting.items()}
        return {arch: why for arch, why in problems.items() if why}

    def finish_template(self, arch, path, made, stamp, log, process):
        """Waits for wineboot, then sets the prefix up and stamps it; returns
        why that failed, or None."""
        env = self.env(path, arch=arch)
        code = wait(process, 300)
        stop_wine(env, log)
        if code != 0 or not os.path.exists(os.path.join(path, "system.reg")):
            step = "wineboot could not make"
            code = "none: it did not finish within 300 s" if code is None else code
        else:
            with open(os.path.join(path, "drive_c", "settings.reg"), "w", encoding="utf-8") as out:
                out.write(TEMPLATE_SETTINGS)
            code = wait(spawn([LOADERS[arch], "regedit", "/S", "C:\\settings.reg"], env, log), 120)
            os.unlink(os.path.join(path, "drive_c", "settings.reg"))
            stop_wine(env, log)
            step = "regedit could not set up"
        if code != 0:
            with open(log, encoding="utf-8", errors="replace") as lines:
                end = "".join(lines.readlines()[-20:]).rstrip() or "(empty)"
            return "%s the %s prefix (exit code %s); the end of its log %s:\n%s" % (
                step, arch, code, os.path.relpath(log, ROOT), end)
        # The user's folders link to the home folder; a prefix keeps to itself.
        users = os.path.join(path, "drive_c", "users")
        for link in [os.path.join(users, u, n) for u in os.listdir(users) for n in os.listdir(os.path.join(users, u))]:
            if os.path.islink(link):
                os.unlink(link)
                os.makedirs(link)
        if not os.path.isdir(WINE_FONTS):
            return "%s is missing: run tools/install-deps.sh as root" % WINE_FONTS
        for name in os.listdir(WINE_FONTS):
            shutil.copyfile(os.path.join(WINE_FONTS, name), os.path.join(path, "drive_c", "windows", "Fonts", name))
        with open(made, "w") as out:
            out.write(stamp)
        return None

    def prefix(self, arch, files=None):
        """A fresh copy of the template of arch, with files laid in: Windows
        path -> file of the build folder, "" for an empty file, or None for a
        folder."""
        failed = self.templates([arch])
        if arch in failed:
            raise SetupError(failed[arch])
        path = tempfile.mkdtemp(prefix="prefix-", dir=self.work)
        clone(os.path.join(TEMPLATES, arch), path)
        self.prefixes[path] = arch
        files = {HELPERS + "\\driver.exe": "e2e-driver.exe", **(files or {})}
        for windows_path, source in files.items():
            host = windows_to_host(path, windows_path)
            os.makedirs(host if source is None else os.path.dirname(host), exist_ok=True)
            if source == "":
                open(host, "w").close()
            elif source:
                origin = os.path.join(HELPER_BUILDS[arch] if source in HELPER_PROGRAMS else self.build, source)
                if not os.path.exists(origin):
                    raise SetupError("%s is missing: run make first" % os.path.relpath(origin, ROOT))
                shutil.copyfile(origin, host)
        return path

    def driver(self, prefix, steps, lang="C.UTF-8", desktop=False):
        """Starts the driver on steps (tuples of fields) in prefix; with
        desktop inside a Wine desktop window, which draws the frames of the
        boxes."""
        script = windows_to_host(prefix, HELPERS + "\\script.txt")
        escaped = str.maketrans({"\\": "\\\\", "\t": "\\t", "\r": "\\r", "\n": "\\n"})
        with open(script, "w", encoding="utf-8") as out:
            out.write("".join("\t".join(field.translate(escaped) for field in step) + "\n" for step in steps))
        transcript = windows_to_host(prefix, HELPERS + "\\transcript.txt")
        open(transcript, "w").close()  # the driver writes it anew
        command = [LOADERS[self.prefixes[prefix]]] + (["explorer", "/desktop=Kompakto," + DESKTOP] if desktop else [])
        command += [HELPERS + "\\driver.exe", HELPERS + "\\script.txt", HELPERS + "\\transcript.txt"]
        env = self.env(prefix, lang)
        budget = 60 + sum(int(step[WAIT_FIELDS[step[0]]]) / 1000 + 1 for step in steps if step[0] in WAIT_FIELDS)
        return Driver(spawn(command, env, self.log), transcript, env, self.log, budget)

    def run(self, prefix, program, arguments, lang="C.UTF-8", timeout=60, display=True):
        """Runs program in prefix, in a Wine session of its own, without a
        display when asked (as a scheduled task has no desktop); returns its
        exit code, or None when it did not end in time."""
        env = self.env(prefix, lang)
        if not display:
            del env["DISPLAY"]
        code = wait(spawn([LOADERS[self.prefixes[prefix]], program] + list(arguments), env, self.log), timeout)
        stop_wine(env, self.log)
        return code

    def close(self):
        for prefix in self.prefixes:
            stop_wine(self.env(prefix), self.log)
        if self.xvfb:
            kill(self.xvfb)
            self.xvfb = None
        if self.own_work and not self.keep:
            shutil.rmtree(self.work, ignore_errors=True)
        if self.held:
            self.held.close()
            self.held = None


if __name__ == "__main__":
    if sys.argv[1:] != ["mode"]:
        print("usage: winesession.py mode  (prints how this machine runs 32-bit x86 code: native, emulated or none)",
              file=sys.stderr)
        sys.exit(2)
    sys.exit(guarded(lambda: print(decide(*machine_state()))))
