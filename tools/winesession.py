"""Wine on a virtual screen of its own, for the end-to-end tests and for
make run, make screenshots and make bench.

    with Session(work_folder) as session:
        prefix = session.prefix("win64")             # a fresh copy of a template
        driver = session.driver(prefix, steps, lang="de_DE.UTF-8", desktop="640x480")
        driver.wait_for('"action":"hold"')           # the transcript so far
        driver.finish()                              # its events, one dict each

A Session starts Xvfb on a display it picks itself, makes the template
prefixes once (build/wine/<arch>, kept between runs; no crash dialogs, and
Managed=N so that Wine does not wait two seconds for a window manager after
every box), gives out fresh copies of them, runs the end-to-end driver
(tests/e2e/driver.c) in them, and at the end stops every Wine server it
started and its Xvfb and removes a work folder it made itself, whatever
happened. Every wait has a time-out.

Wine runs kompakto.exe, a 32-bit program, with its 32-bit loader. Some
kernels cannot execute 32-bit x86 code at all; on such a machine the session
fetches qemu's user-mode emulator from Debian 12's backports once (into
build/emulator, leaving the machine's apt configuration alone) and registers
it for 32-bit x86 programs with binfmt_misc (as root; it says so, and how to
remove it). The helpers run in a 64-bit prefix as 64-bit programs, natively,
so that only kompakto.exe itself is emulated there.
`python3 tools/winesession.py mode` prints how this machine runs 32-bit
code: native, emulated or none.
"""
import errno
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows")  # kompakto.exe and the 32-bit helpers
TEMPLATES = os.path.join(ROOT, "build", "wine")
TEMPLATE_FORMAT = "4"  # raise when the way templates are made changes
HELPERS = "C:\\e2e"  # where the driver and its script live in a prefix
# The helpers that run in a prefix are built for each kind of prefix and
# started with its own loader: only kompakto.exe is 32-bit in a 64-bit prefix.
HELPER_PROGRAMS = ("e2e-driver.exe", "e2e-standin_viewer.exe")
HELPER_BUILDS = {"win32": BUILD, "win64": os.path.join(ROOT, "build", "windows-x64")}
LOADERS = {"win32": "/usr/lib/wine/wine", "win64": "/usr/lib/wine/wine64"}

# Running 32-bit code on a machine whose kernel cannot: qemu's user-mode
# emulator, registered with binfmt_misc for 32-bit x86 ELF executables and
# shared objects (e_type 2 or 3). The F flag opens the emulator at once, so
# that it serves every mount namespace.
BINFMT = "/proc/sys/fs/binfmt_misc"
HANDLER = "kompakto-i386"
I386_MAGIC = bytes.fromhex("7f454c4601010100000000000000000002000300")
I386_MASK = bytes.fromhex("fffffffffffefe00fffffffffffffffffeffffff")
# The emulator: Debian 12's own qemu 7.2 takes a minute to start Wine's
# 32-bit loader (it cannot reserve Wine's address space at once, so Wine
# halves its request some hundred thousand times); the one of bookworm-backports
# takes a second. Only its static qemu-i386 is kept, fetched with an apt list
# and state of its own.
EMULATOR_PACKAGE, EMULATOR_SUITE, EMULATOR_MAJOR = "qemu-user", "bookworm-backports", 10
EMULATOR_FOLDER = os.path.join(ROOT, "build", "emulator")
EMULATOR = os.path.join(EMULATOR_FOLDER, "qemu-i386")
DEBIAN_KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
APT_SOURCES = "/etc/apt/sources.list"
CAUSE = "this machine does not execute 32-bit x86 code itself, which Wine needs for kompakto.exe"

# Wine's own errors only, into the session's log: what went wrong in Wine
# stays there for a look after a failed run.
WINEDEBUG = "-all,err+all"
# Steps of the driver that wait, and the field that holds the wait in ms.
WAIT_FIELDS = {"box": 2, "finish": 1, "shell_verb": 3, "read_file": 2, "wait_file": 2, "peek": 4}


class SetupError(Exception):
    """Wine cannot run here; the message names the cause and the remedy."""


def guarded(main):
    """Runs main; a SetupError ends it with its message and exit code 3."""
    try:
        return main()
    except SetupError as error:
        print("kompakto: %s" % error, file=sys.stderr, flush=True)
        return 3


# --- how this machine runs 32-bit x86 code -------------------------------------


def parse_handler(text):
    """A binfmt_misc handler as /proc shows it: {"enabled", "interpreter",
    "offset", "magic", "mask"}; magic is None for one that matches by the
    file name's extension."""
    lines = text.split("\n")
    handler = {"enabled": lines[0] == "enabled", "interpreter": None, "offset": 0, "magic": None, "mask": None}
    for line in lines[1:]:
        key, _, value = line.partition(" ")
        if key == "offset":
            handler["offset"] = int(value)
        elif key == "interpreter":
            handler["interpreter"] = value
        elif key in ("magic", "mask"):
            handler[key] = bytes.fromhex(value)
    return handler


def handler_matches(handler, header):
    """Whether the kernel hands a file that begins with header to handler."""
    magic, offset = handler["magic"], handler["offset"]
    if not handler["enabled"] or magic is None or offset + len(magic) > len(header):
        return False
    mask = handler["mask"] or b"\xff" * len(magic)
    return all(header[offset + i] & mask[i] == magic[i] & mask[i] for i in range(len(magic)))


def decide(runs, handlers, header):
    """native, emulated or none: whether a 32-bit program whose file begins
    with header runs at all, and whether an enabled handler (asked before the
    kernel's own loader) takes it."""
    if not runs:
        return "none"
    return "emulated" if any(handler_matches(h, header) for h in handlers) else "native"


def plan(runs, handlers, header, fast):
    """What the session does before Wine runs, given {name: handler} and
    fast(interpreter), whether that is the fast emulator: "native" where the
    kernel runs 32-bit code itself, "ready" where every handler that takes it
    hands it to a fast emulator (ours, of this clone or another, or a
    foreign one), else "register": ours, (re)registered last, which
    binfmt_misc asks first. So one of ours from an earlier run that points at
    a slow emulator is replaced, and a foreign one that does is left as it
    is but no longer asked."""
    taking = [handler for handler in handlers.values() if handler_matches(handler, header)]
    if runs and not taking:
        return "native"
    if runs and all(fast(handler["interpreter"]) for handler in taking):
        return "ready"
    return "register"


def is_fast_emulator(interpreter):
    """Whether interpreter is a qemu-i386 of a version that starts Wine's
    32-bit loader at once."""
    try:
        done = subprocess.run([interpreter, "--version"], capture_output=True, text=True, timeout=30)
    except (OSError, TypeError, subprocess.TimeoutExpired):
        return False
    words = done.stdout.split()
    if done.returncode != 0 or words[:2] != ["qemu-i386", "version"] or len(words) < 3:
        return False
    major = words[2].split(".")[0]
    return major.isdigit() and int(major) >= EMULATOR_MAJOR


def registered_handlers():
    """The handlers binfmt_misc uses now, {name: handler}."""
    try:
        with open(os.path.join(BINFMT, "status")) as status:
            if status.read().strip() != "enabled":
                return {}
        names = [n for n in os.listdir(BINFMT) if n not in ("register", "status")]
    except OSError:
        return {}  # not mounted
    handlers = {}
    for name in names:
        try:
            with open(os.path.join(BINFMT, name)) as entry:
                handlers[name] = parse_handler(entry.read())
        except OSError:
            pass  # removed meanwhile
    return handlers


def runs_32bit():
    """Whether Wine's 32-bit loader starts here."""
    try:
        done = subprocess.run([LOADERS["win32"], "--version"], capture_output=True, timeout=120)
    except FileNotFoundError:
        raise SetupError("Wine's 32-bit loader %s is missing: run tools/install-deps.sh as root" % LOADERS["win32"])
    except OSError as error:
        if error.errno == errno.ENOEXEC:
            return False
        raise SetupError("Wine's 32-bit loader does not start: %s" % error)
    except subprocess.TimeoutExpired:
        raise SetupError("Wine's 32-bit loader did not answer within 120 s")
    return done.returncode == 0


def machine_state():
    """(runs, handlers, header): whether Wine's 32-bit loader starts, the
    handlers binfmt_misc has, and the loader's first bytes."""
    runs = runs_32bit()
    with open(LOADERS["win32"], "rb") as loader:
        header = loader.read(64)
    return runs, registered_handlers(), header


def machine_mode():
    runs, handlers, header = machine_state()
    return decide(runs, handlers.values(), header)


_mode = None


def prepare_machine():
    """How this machine runs 32-bit code, once it can: where its kernel
    cannot, or a slower emulator would run it, ours is fetched and registered
    to be asked first (which takes root). Raises SetupError when that cannot
    be done."""
    global _mode
    if _mode is None:
        runs, handlers, header = machine_state()
        if plan(runs, handlers, header, is_fast_emulator) == "register":
            if os.geteuid() != 0:
                raise SetupError("%s; only root can register qemu's emulator for it: run make as root" % CAUSE)
            fetch_emulator()
            register_emulator(sorted(n for n, h in handlers.items() if n != HANDLER and handler_matches(h, header)))
            runs, handlers, header = machine_state()
            ours = handlers.get(HANDLER)
            if not (runs and ours and handler_matches(ours, header) and ours["interpreter"] == EMULATOR):
                raise SetupError("qemu's emulator %s is registered for 32-bit x86 code, but Wine's 32-bit loader "
                                 "still does not start with it; remove it with: echo -1 > %s/%s"
                                 % (os.path.relpath(EMULATOR, ROOT), BINFMT, HANDLER))
        _mode = decide(runs, handlers.values(), header)
    return _mode


def debian_mirror(sources=None):
    """(address, keyring) of the Debian 12 mirror this machine's apt uses,
    from its one-line and deb822 sources ({path: text}; read from /etc/apt
    when None); None when it names none."""
    if sources is None:
        sources = {}
        folder = APT_SOURCES + ".d"
        paths = [APT_SOURCES] + sorted(os.path.join(folder, n) for n in
                                       (os.listdir(folder) if os.path.isdir(folder) else ())
                                       if n.endswith((".list", ".sources")))
        for path in paths:
            try:
                with open(path, encoding="utf-8", errors="replace") as text:
                    sources[path] = text.read()
            except OSError:
                pass
    for path, text in sorted(sources.items()):
        if path.endswith(".sources"):
            for stanza in text.split("\n\n"):
                fields = {}
                for line in stanza.splitlines():
                    key, colon, value = line.partition(":")
                    if colon and not line.startswith((" ", "\t", "#")):
                        fields[key.strip().lower()] = value.strip()
                if ("deb" in fields.get("types", "").split() and "bookworm" in fields.get("suites", "").split()
                        and fields.get("enabled", "yes").lower() != "no" and fields.get("uris")):
                    return fields["uris"].split()[0], fields.get("signed-by") or None
        else:
            for line in text.splitlines():
                words = line.split("#")[0].split()
                options = {}
                if len(words) > 1 and words[1].startswith("["):
                    end = next((i for i, w in enumerate(words) if w.endswith("]")), 1)
                    for option in " ".join(words[1:end + 1]).strip("[]").split():
                        key, _, value = option.partition("=")
                        options[key] = value
                    words = words[:1] + words[end + 1:]
                if len(words) >= 3 and words[0] == "deb" and words[2] == "bookworm":
                    return words[1], options.get("signed-by")
    return None


def fetch_emulator():
    """Fetches the emulator into build/emulator unless it is there: apt
    downloads the package of the backports suite, checked against the
    suite's signed lists, with a source list, lists and cache of its own,
    so that nothing in /etc/apt or apt's own state changes."""
    if is_fast_emulator(EMULATOR):
        return
    what = "%s of %s" % (EMULATOR_PACKAGE, EMULATOR_SUITE)
    mirror = debian_mirror()
    if mirror is None:
        raise SetupError("%s, and /etc/apt names no Debian 12 (bookworm) mirror to fetch %s from" % (CAUSE, what))
    address, keyring = mirror
    if not keyring and os.path.exists(DEBIAN_KEYRING):
        keyring = DEBIAN_KEYRING
    arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
    apt = os.path.join(EMULATOR_FOLDER, "apt")
    download = os.path.join(apt, "download")
    shutil.rmtree(apt, ignore_errors=True)
    for folder in ("lists/partial", "cache/archives/partial", "download"):
        os.makedirs(os.path.join(apt, folder))
    with open(os.path.join(apt, "sources.list"), "w") as out:
        out.write("deb [arch=%s%s] %s %s main\n" % (arch, " signed-by=" + keyring if keyring else "", address,
                                                   EMULATOR_SUITE))
    options = ["-q", "-o", "Dir::Etc::sourcelist=" + os.path.join(apt, "sources.list"),
               "-o", "Dir::Etc::sourceparts=/nonexistent", "-o", "Dir::State::Lists=" + os.path.join(apt, "lists"),
               "-o", "Dir::Cache=" + os.path.join(apt, "cache"), "-o", "APT::Sandbox::User=root"]
    print("# fetching %s from %s (about 63 MB, once; kept in %s)" % (what, address, os.path.relpath(EMULATOR_FOLDER, ROOT)),
          flush=True)
    for step in ("update", "download"):
        done = subprocess.run(["apt-get"] + options + [step] + ([EMULATOR_PACKAGE] if step == "download" else []),
                              cwd=download, capture_output=True, text=True)
        # apt-get update ends with 0 even where a list could not be fetched;
        # the line after apt's "Err:" tells why.
        lines = (done.stdout + done.stderr).splitlines() + [""]
        problems = [" ".join((line + " " + lines[i + 1].strip()).split()) if line.startswith("Err:") else line
                    for i, line in enumerate(lines[:-1]) if line.startswith(("E:", "Err:"))]
        if done.returncode != 0 or problems:
            raise SetupError("%s, and %s could not be fetched: %s" % (CAUSE, what, (problems or [
                "apt-get %s ended with exit code %d" % (step, done.returncode)])[0]))
    package = os.path.join(download, os.listdir(download)[0])
    with open(EMULATOR + ".part", "wb") as out:
        unpack = subprocess.Popen(["dpkg-deb", "--fsys-tarfile", package], stdout=subprocess.PIPE)
        extracted = subprocess.run(["tar", "-x", "-O", "./usr/bin/qemu-i386"], stdin=unpack.stdout, stdout=out)
        unpack.stdout.close()
        unpack.wait()
    os.chmod(EMULATOR + ".part", 0o755)
    os.replace(EMULATOR + ".part", EMULATOR)
    shutil.rmtree(apt, ignore_errors=True)
    if unpack.returncode != 0 or extracted.returncode != 0 or not is_fast_emulator(EMULATOR):
        raise SetupError("%s, and %s held no working qemu-i386 of version %d or later" % (CAUSE, what, EMULATOR_MAJOR))


def escaped(data):
    """Bytes as the kernel reads them in a binfmt_misc registration: \\xNN."""
    return "".join("\\x%02x" % byte for byte in data)


def register_emulator(foreign):
    """Registers our emulator as the handler asked first, before the foreign
    handlers that also take 32-bit x86 code; one of ours from an earlier run
    is removed first (a name can be registered only once)."""
    if not os.path.exists(os.path.join(BINFMT, "register")):
        done = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT], capture_output=True, text=True)
        if done.returncode != 0:
            raise SetupError("%s, and binfmt_misc, which would hand it to qemu's emulator, cannot be mounted "
                             "here (%s): mount it on %s, or run the tests on a machine that executes 32-bit "
                             "code" % (CAUSE, (done.stderr.strip() or "exit code %d" % done.returncode).splitlines()[0], BINFMT))
    entry = os.path.join(BINFMT, HANDLER)
    try:
        if os.path.exists(entry):
            with open(entry, "w") as out:
                out.write("-1")
        with open(os.path.join(BINFMT, "register"), "w") as out:
            out.write(":%s:M::%s:%s:%s:F" % (HANDLER, escaped(I386_MAGIC), escaped(I386_MASK), EMULATOR))
    except OSError as error:
        raise SetupError("%s, and qemu's emulator cannot be registered for it: %s" % (CAUSE, error))
    print("# 32-bit x86 code runs here under qemu's emulator %s, registered as the binfmt_misc handler %s%s "
          "until the next reboot; remove it with: echo -1 > %s"
          % (os.path.relpath(EMULATOR, ROOT), HANDLER, " (asked before %s)" % ", ".join(foreign) if foreign else "",
             entry), flush=True)


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
        kill(process)
        return None


def tail(path, lines=20):
    try:
        with open(path, encoding="utf-8", errors="replace") as log:
            return "".join(log.readlines()[-lines:]).rstrip() or "(empty)"
    except OSError:
        return "(no log)"


def kill(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except OSError:
        pass
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


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
    for root, folders, files in os.walk(template):
        target_root = os.path.join(destination, os.path.relpath(root, template))
        os.makedirs(target_root, exist_ok=True)
        for name in folders + files:
            source, target = os.path.join(root, name), os.path.join(target_root, name)
            if os.path.islink(source):
                os.symlink(os.readlink(source), target)
            elif name in files and os.path.getsize(source) >= 65536 and not name.endswith(".reg"):
                try:
                    os.link(source, target)
                except OSError:
                    shutil.copy2(source, target)
            elif name in files:
                shutil.copy2(source, target)
        folders[:] = [f for f in folders if not os.path.islink(os.path.join(root, f))]


class Driver:
    """The driver running a script in the background; its transcript grows
    line by line."""

    def __init__(self, process, transcript, env, log_path, budget):
        self.process, self.transcript, self.env, self.log_path = process, transcript, env, log_path
        self.budget = budget  # seconds for the whole script

    def text(self):
        try:
            with open(self.transcript, encoding="utf-8") as lines:
                return lines.read()
        except OSError:
            return ""

    def wait_for(self, needle, count=1, timeout=180):
        """Waits until needle stands in count lines of the transcript."""
        deadline = time.time() + timeout
        while sum(needle in line for line in self.text().splitlines()) < count:
            if time.time() > deadline or self.process.poll() is not None:
                raise RuntimeError("the driver did not get as far as %r; it saw:\n%s" % (needle, self.text()))
            time.sleep(0.1)

    def picture(self, prefix, number, path, desktop="640x480"):
        """Waits for the number-th held box, saves the Wine desktop window
        cut down to it as path, and lets the driver go on."""
        self.wait_for('"action":"hold"', number)
        time.sleep(0.5)  # painted
        shot = path + ".screen.png"
        subprocess.run(["import", "-display", self.env["DISPLAY"], "-window", "root", shot], check=True,
                       timeout=30)
        subprocess.run(["convert", shot, "-crop", desktop + "+0+0", "+repage", "-trim", "+repage", "-strip", path],
                       check=True, timeout=30)
        os.unlink(shot)
        open(windows_to_host(prefix, "%s\\go%d" % (HELPERS, number)), "w").close()

    def finish(self, timeout=None):
        """Waits for the driver's end (at most timeout seconds, or the time
        its steps may take) and returns its events, the last of them
        {"event": "timeout"} when it ran out of time."""
        try:
            code = self.process.wait(timeout=timeout or self.budget)
        except subprocess.TimeoutExpired:
            kill(self.process)
            code = None
        stop_wine(self.env, self.log_path)
        events = []
        for line in self.text().splitlines():
            try:
                events.append(json.loads(line))
            except ValueError:
                pass  # a line cut short by a killed driver
        return events if code is not None else events + [{"event": "timeout"}]


def hold_steps(caption, number, action, wait_ms=60000):
    """Driver steps that find the box, hold it until the picture numbered
    number is taken (see Driver.picture), then answer it with action."""
    go = "%s\\go%d" % (HELPERS, number)
    return [("box", caption, str(wait_ms), "hold"), ("wait_file", go, str(wait_ms)), ("box", caption, "5000", action)]


def stop_wine(env, log_path):
    """Ends every process of the prefix and waits for its Wine server."""
    run_quietly(["wineserver", "-k"], env, 30, log_path)
    run_quietly(["wineserver", "-w"], env, 30, log_path)


def escape_field(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


class Session:
    def __init__(self, work=None, build=BUILD, display=None):
        self.build = build  # where the files laid into a prefix come from
        self.own_screen = display is None  # else Wine shows its windows on display
        self.own_work = work is None  # a folder of its own goes at the end
        self.work = work or tempfile.mkdtemp(prefix="kompakto-wine.")
        os.makedirs(self.work, exist_ok=True)
        self.log = os.path.join(self.work, "wine.log")
        self.xvfb = None
        self.display = display
        self.prefixes = {}  # path: arch
        self.keep = False  # leave the prefixes for a look afterwards
        self.mode = None

    def __enter__(self):
        try:
            self.mode = prepare_machine()
            if self.own_screen:
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
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            if not select.select([read_end], [], [], max(0.0, deadline - time.time()))[0]:
                break
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.strip().decode()

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
        pending, failed = [], {}
        for arch in arches:
            path = os.path.join(TEMPLATES, arch)
            stamp, wanted = os.path.join(path, ".kompakto-template"), "%s %s %s\n" % (TEMPLATE_FORMAT, arch, version)
            if os.path.exists(stamp) and open(stamp).read() == wanted:
                continue
            print("# making the %s template prefix (once)" % arch, flush=True)
            shutil.rmtree(path, ignore_errors=True)
            os.makedirs(TEMPLATES, exist_ok=True)
            log = os.path.join(TEMPLATES, arch + "-wineboot.log")  # kept, for a look after a failure
            if os.path.exists(log):
                os.unlink(log)
            pending.append((arch, path, stamp, wanted, log, self.start_wineboot(arch, path, log)))
        for job in pending:
            self.finish_or_note(job, failed)
        return failed

    def finish_or_note(self, job, failed):
        """Finishes a template; why it failed goes to failed, by its arch."""
        try:
            self.finish_template(*job)
        except SetupError as error:
            failed[job[0]] = str(error)

    def start_wineboot(self, arch, path, log):
        with open(log, "ab") as output:
            return subprocess.Popen([LOADERS[arch], "wineboot", "-i"], env=self.env(path, arch=arch),
                                    stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                                    start_new_session=True)

    def finish_template(self, arch, path, stamp, wanted, log, process):
        """Waits for wineboot, then sets the prefix up."""
        env = self.env(path, arch=arch)
        limit = 300
        try:
            code = process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            kill(process)
            code = "none: it did not finish within %d s" % limit
        stop_wine(env, log)
        if code != 0 or not os.path.exists(os.path.join(path, "system.reg")):
            raise SetupError("wineboot could not make the %s prefix (exit code %s); the end of its log %s:\n%s"
                             % (arch, code, os.path.relpath(log, ROOT), tail(log)))
        settings = os.path.join(path, "drive_c", "settings.reg")
        with open(settings, "w", encoding="utf-8") as out:
            out.write("REGEDIT4\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n\"ShowCrashDialog\"=dword:00000000\n\n"
                      "[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n\"Managed\"=\"N\"\n")
        code = run_quietly([LOADERS[arch], "regedit", "/S", "C:\\settings.reg"], env, 120, log)
        os.unlink(settings)
        stop_wine(env, log)
        if code != 0:
            raise SetupError("regedit could not set up the %s prefix (exit code %s); the end of its log %s:\n%s"
                             % (arch, code, os.path.relpath(log, ROOT), tail(log)))
        # The user's folders link to the home folder; a prefix keeps to itself.
        users = os.path.join(path, "drive_c", "users")
        for link in [os.path.join(users, u, n) for u in os.listdir(users) for n in os.listdir(os.path.join(users, u))]:
            if os.path.islink(link):
                os.unlink(link)
                os.makedirs(link)
        with open(stamp, "w") as out:
            out.write(wanted)

    def prefix(self, arch, files=None):
        """A fresh copy of the template of arch, with files laid in: Windows
        path -> file of the build folder, "" for an empty file, or None for a
        folder."""
        failed = self.templates([arch])
        if failed:
            raise SetupError(failed[arch])
        path = tempfile.mkdtemp(prefix="prefix-", dir=self.work)
        clone(os.path.join(TEMPLATES, arch), path)
        self.prefixes[path] = arch
        files = dict(files or {})
        files.setdefault(HELPERS + "\\driver.exe", "e2e-driver.exe")
        for windows_path, source in files.items():
            host = windows_to_host(path, windows_path)
            if source is None:
                os.makedirs(host, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(host), exist_ok=True)
            if not source:
                open(host, "w").close()
                continue
            origin = os.path.join(HELPER_BUILDS[arch] if source in HELPER_PROGRAMS else self.build, source)
            if not os.path.exists(origin):
                raise SetupError("%s is missing: run make first" % os.path.relpath(origin, ROOT))
            shutil.copyfile(origin, host)
        return path

    def driver(self, prefix, steps, lang="C.UTF-8", desktop=None):
        """Starts the driver on steps (tuples of fields) in prefix; with
        desktop ("WIDTHxHEIGHT") inside a Wine desktop window, which draws
        the frames of the boxes."""
        script = windows_to_host(prefix, HELPERS + "\\script.txt")
        with open(script, "w", encoding="utf-8") as out:
            out.write("".join("\t".join(escape_field(f) for f in step) + "\n" for step in steps))
        transcript = windows_to_host(prefix, HELPERS + "\\transcript.txt")
        command = [LOADERS[self.prefixes[prefix]]] + (["explorer", "/desktop=Kompakto," + desktop] if desktop else [])
        command += [HELPERS + "\\driver.exe", HELPERS + "\\script.txt", HELPERS + "\\transcript.txt"]
        env = self.env(prefix, lang)
        with open(self.log, "ab") as output:
            process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=output,
                                       stderr=subprocess.STDOUT, start_new_session=True)
        budget = 60 + sum(int(step[WAIT_FIELDS[step[0]]]) / 1000 + 1 for step in steps if step[0] in WAIT_FIELDS)
        return Driver(process, transcript, env, self.log, budget)

    def run(self, prefix, program, arguments, lang="C.UTF-8", timeout=60, display=True):
        """Runs program in prefix, in a Wine session of its own, without a
        display when asked (as a scheduled task has no desktop); returns its
        exit code, or None when it did not end in time."""
        env = self.env(prefix, lang)
        if not display:
            del env["DISPLAY"]
        command = [LOADERS[self.prefixes[prefix]], program] + list(arguments)
        code = run_quietly(command, env, timeout, self.log)
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


def main(argv):
    if argv[1:] != ["mode"]:
        print("usage: winesession.py mode  (prints how this machine runs 32-bit x86 code: native, emulated "
              "or none)", file=sys.stderr)
        return 2
    return guarded(lambda: print(machine_mode()))


if __name__ == "__main__":
    sys.exit(main(sys.argv))
