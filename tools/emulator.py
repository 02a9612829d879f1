"""How this machine runs 32-bit x86 code, which Wine needs for kompakto.exe:
where the kernel cannot, prepare_machine() fetches qemu's user-mode emulator
from Debian 12's backports once (into build/emulator, leaving the machine's
apt configuration alone) and registers it with binfmt_misc (as root; it says
so, and how to remove it)."""
import errno
import glob
import os
import re
import shutil
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LOADER32 = "/usr/lib/wine/wine"  # Wine's 32-bit loader

# Our binfmt_misc handler takes 32-bit x86 ELF executables and shared objects
# (e_type 2 or 3). Its F flag opens the emulator at once, so that it serves
# every mount namespace.
BINFMT = "/proc/sys/fs/binfmt_misc"
HANDLER = "kompakto-i386"
I386_MAGIC = bytes.fromhex("7f454c4601010100000000000000000002000300")
I386_MASK = bytes.fromhex("fffffffffffefe00fffffffffffffffffeffffff")
# Debian 12's own qemu 7.2 takes a minute to start Wine's 32-bit loader (it
# cannot reserve Wine's address space at once, so Wine halves its request some
# hundred thousand times); the one of bookworm-backports takes a second.
EMULATOR_PACKAGE, EMULATOR_SUITE, EMULATOR_MAJOR = "qemu-user", "bookworm-backports", 10
EMULATOR_FOLDER = os.path.join(ROOT, "build", "emulator")
EMULATOR = os.path.join(EMULATOR_FOLDER, "qemu-i386")
DEBIAN_KEYRING = "/usr/share/keyrings/debian-archive-keyring.gpg"
APT_SOURCES = "/etc/apt/sources.list"
CAUSE = "this machine does not execute 32-bit x86 code itself, which Wine needs for kompakto.exe"


class SetupError(Exception):
    """Wine cannot run here; the message names the cause and the remedy."""


def read(path):
    with open(path, encoding="utf-8", errors="replace") as text:
        return text.read()


def parse_handler(text):
    """A binfmt_misc handler as /proc shows it; magic is None for one that
    matches by the file name's extension."""
    lines = text.split("\n")
    fields = dict(line.partition(" ")[::2] for line in lines[1:])
    return {"enabled": lines[0] == "enabled", "interpreter": fields.get("interpreter"),
            "offset": int(fields.get("offset", 0)),
            "magic": bytes.fromhex(fields["magic"]) if "magic" in fields else None,
            "mask": bytes.fromhex(fields["mask"]) if "mask" in fields else None}


def handler_matches(handler, header):
    """Whether the kernel hands a file that begins with header to handler."""
    magic, offset = handler["magic"], handler["offset"]
    if not handler["enabled"] or magic is None or offset + len(magic) > len(header):
        return False
    mask = handler["mask"] or b"\xff" * len(magic)
    return all(header[offset + i] & mask[i] == magic[i] & mask[i] for i in range(len(magic)))


def taking(handlers, header):
    """Those of {name: handler} that the kernel hands a file that begins with
    header to (an enabled handler is asked before the kernel's own loader)."""
    return {name: handler for name, handler in handlers.items() if handler_matches(handler, header)}


def decide(runs, takers):
    """native, emulated or none: whether a 32-bit program runs at all, and
    whether a handler (of those taking it) takes it."""
    if not runs:
        return "none"
    return "emulated" if takers else "native"


def plan(runs, takers, fast):
    """native (the kernel runs 32-bit code itself), ready (every handler that
    takes it has a fast emulator, ours or not) or register: ours, registered
    anew last, which binfmt_misc asks first."""
    if runs and not takers:
        return "native"
    if runs and all(fast(handler["interpreter"]) for handler in takers.values()):
        return "ready"
    return "register"


def is_fast_emulator(interpreter):
    """Whether interpreter is a qemu-i386 that starts Wine's loader at once."""
    try:
        done = subprocess.run([interpreter, "--version"], capture_output=True, text=True, timeout=30)
    except (OSError, TypeError, subprocess.TimeoutExpired):
        return False
    match = re.match(r"qemu-i386 version (\d+)", done.stdout)
    return done.returncode == 0 and match is not None and int(match.group(1)) >= EMULATOR_MAJOR


def registered_handlers():
    """The handlers binfmt_misc uses now, {name: handler}."""
    try:
        if read(os.path.join(BINFMT, "status")).strip() != "enabled":
            return {}
        names = set(os.listdir(BINFMT)) - {"register", "status"}
    except OSError:
        return {}  # not mounted
    handlers = {}
    for name in names:
        try:
            handlers[name] = parse_handler(read(os.path.join(BINFMT, name)))
        except OSError:
            pass  # removed meanwhile
    return handlers


def machine_state():
    """(runs, takers): whether Wine's 32-bit loader starts here, and the
    handlers of binfmt_misc that take it, {name: handler}."""
    try:
        runs = subprocess.run([LOADER32, "--version"], capture_output=True, timeout=120).returncode == 0
    except FileNotFoundError:
        raise SetupError("Wine's 32-bit loader %s is missing: run tools/install-deps.sh as root" % LOADER32)
    except OSError as error:
        if error.errno != errno.ENOEXEC:
            raise SetupError("Wine's 32-bit loader does not start: %s" % error)
        runs = False
    except subprocess.TimeoutExpired:
        raise SetupError("Wine's 32-bit loader did not answer within 120 s")
    with open(LOADER32, "rb") as loader:
        return runs, taking(registered_handlers(), loader.read(64))


_mode = None


def prepare_machine():
    """How this machine runs 32-bit code, once it can (see plan); raises
    SetupError where that cannot be done."""
    global _mode
    if _mode is None:
        runs, takers = machine_state()
        if plan(runs, takers, is_fast_emulator) == "register":
            if os.geteuid() != 0:
                raise SetupError("%s; only root can register qemu's emulator for it: run make as root" % CAUSE)
            fetch_emulator()
            register_emulator(sorted(name for name in takers if name != HANDLER))
            runs, takers = machine_state()
            if not (runs and takers.get(HANDLER, {}).get("interpreter") == EMULATOR):
                raise SetupError("qemu's emulator %s is registered for 32-bit x86 code, but Wine's 32-bit loader "
                                 "still does not start with it; remove it with: echo -1 > %s/%s"
                                 % (os.path.relpath(EMULATOR, ROOT), BINFMT, HANDLER))
        _mode = decide(runs, takers)
    return _mode


def debian_mirror(sources=None):
    """(address, keyring) of the Debian 12 mirror this machine's apt uses,
    from its one-line and deb822 sources ({path: text}; read from /etc/apt
    when None); None when it names none."""
    if sources is None:
        paths = [APT_SOURCES] + glob.glob(APT_SOURCES + ".d/*.list") + glob.glob(APT_SOURCES + ".d/*.sources")
        sources = {path: read(path) for path in paths if os.path.exists(path)}
    for path, text in sorted(sources.items()):
        if path.endswith(".sources"):
            for stanza in text.split("\n\n"):
                lines = [line.partition(":") for line in stanza.splitlines() if not line.startswith((" ", "\t", "#"))]
                fields = {key.strip().lower(): value.strip() for key, colon, value in lines if colon}
                if ("deb" in fields.get("types", "").split() and "bookworm" in fields.get("suites", "").split()
                        and fields.get("enabled", "yes").lower() != "no" and fields.get("uris")):
                    return fields["uris"].split()[0], fields.get("signed-by") or None
        else:
            for line in text.splitlines():
                # deb [OPTION=VALUE ...] ADDRESS SUITE COMPONENT...
                match = re.match(r"\s*deb\s+(?:\[([^]]*)\]\s*)?(\S+)\s+bookworm\s", line.split("#")[0] + " ")
                if match:
                    options = dict(option.partition("=")[::2] for option in (match.group(1) or "").split())
                    return match.group(2), options.get("signed-by")
    return None


def fetch_emulator():
    """Fetches the emulator into build/emulator unless it is there, with apt
    checking the package against the suite's signed lists, but with a source
    list, lists and cache of its own: /etc/apt and apt's state stay as they
    are. Only its static qemu-i386 is kept."""
    if is_fast_emulator(EMULATOR):
        return
    what = "%s of %s" % (EMULATOR_PACKAGE, EMULATOR_SUITE)
    mirror = debian_mirror()
    if mirror is None:
        raise SetupError("%s, and /etc/apt names no Debian 12 (bookworm) mirror to fetch %s from" % (CAUSE, what))
    address, keyring = mirror[0], mirror[1] or (DEBIAN_KEYRING if os.path.exists(DEBIAN_KEYRING) else None)
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
    print("# fetching %s from %s (about 63 MB, once; kept in %s)"
          % (what, address, os.path.relpath(EMULATOR_FOLDER, ROOT)), flush=True)
    # A mirror half-way through a sync is waited for as in tools/install-deps.sh.
    unread = subprocess.run(["sh", os.path.join(ROOT, "tools", "apt-update.sh")] + options,
                            capture_output=True, text=True).stdout.split("\n")[0]
    if unread:
        raise SetupError("%s, and %s could not be fetched: apt could not read %s; the Debian mirror may be out "
                         "of step: try again later" % (CAUSE, what, unread))
    done = subprocess.run(["apt-get"] + options + ["download", EMULATOR_PACKAGE], cwd=download,
                          capture_output=True, text=True)
    if done.returncode != 0:
        problems = [" ".join(line.split()) for line in (done.stdout + done.stderr).splitlines() if line.startswith("E:")]
        raise SetupError("%s, and %s could not be fetched: %s" % (CAUSE, what, (problems + [
            "apt-get download ended with exit code %d" % done.returncode])[0]))
    # A broken package leaves a file that does not run, which the last check finds.
    subprocess.run(["sh", "-c", 'dpkg-deb --fsys-tarfile "$1" | tar -x -O ./usr/bin/qemu-i386 >"$2"', "sh",
                    os.path.join(download, os.listdir(download)[0]), EMULATOR + ".part"])
    os.chmod(EMULATOR + ".part", 0o755)
    os.replace(EMULATOR + ".part", EMULATOR)
    shutil.rmtree(apt, ignore_errors=True)
    if not is_fast_emulator(EMULATOR):
        raise SetupError("%s, and %s held no working qemu-i386 of version %d or later" % (CAUSE, what, EMULATOR_MAJOR))


def register_emulator(foreign):
    """Registers our emulator to be asked before the foreign handlers that
    take 32-bit x86 code too; one of ours is removed first (a name can be
    registered only once)."""
    if not os.path.exists(os.path.join(BINFMT, "register")):
        done = subprocess.run(["mount", "-t", "binfmt_misc", "binfmt_misc", BINFMT], capture_output=True, text=True)
        if done.returncode != 0:
            why = (done.stderr.strip() or "exit code %d" % done.returncode).splitlines()[0]
            raise SetupError("%s, and binfmt_misc, which would hand it to qemu's emulator, cannot be mounted here "
                             "(%s): mount it on %s, or run the tests on a machine that executes 32-bit code"
                             % (CAUSE, why, BINFMT))
    entry = os.path.join(BINFMT, HANDLER)
    magic, mask = ("".join("\\x%02x" % byte for byte in data) for data in (I386_MAGIC, I386_MASK))
    try:
        if os.path.exists(entry):
            with open(entry, "w") as out:
                out.write("-1")
        with open(os.path.join(BINFMT, "register"), "w") as out:
            out.write(":%s:M::%s:%s:%s:F" % (HANDLER, magic, mask, EMULATOR))
    except OSError as error:
        raise SetupError("%s, and qemu's emulator cannot be registered for it: %s" % (CAUSE, error))
    print("# 32-bit x86 code runs here under qemu's emulator %s, registered as the binfmt_misc handler %s%s "
          "until the next reboot; remove it with: echo -1 > %s"
          % (os.path.relpath(EMULATOR, ROOT), HANDLER, " (asked before %s)" % ", ".join(foreign) if foreign else "",
             entry), flush=True)
