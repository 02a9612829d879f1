#!/usr/bin/python3
"""make release: what a Windows user downloads.

    /usr/bin/python3 tools/release.py [--out DIR]      (DIR: dist by default)

Writes DIR/kompakto-VERSION.zip, holding exactly kompakto.exe, LIESMICH.txt
(docs/LIESMICH.txt, the German guide, as Notepad reads it on every Windows:
UTF-8 with a byte-order mark and CRLF line ends, its checksum line filled in)
and SHA256SUMS.txt (the exe's checksum); and beside the zip kompakto.exe and
SHA256SUMS.txt (the zip and the exe, for sha256sum -c). VERSION is the one
the Windows build took from src/app/version.h.

The zip is reproducible: fixed entry order, every entry dated with the time
of the last commit (or SOURCE_DATE_EPOCH), no owner or permission bits.

Signing: with KOMPAKTO_SIGN_PFX (a PKCS#12 file) and
KOMPAKTO_SIGN_PASSWORD_FILE (its password) set, kompakto.exe is
Authenticode-signed with osslsigncode before it is zipped: SHA-256, the
program's name, its address KOMPAKTO_SIGN_URL when given, and a time stamp
from KOMPAKTO_SIGN_TIMESTAMP_URL when given. Without them the release is
unsigned, and its exe is the reproducible build itself.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "windows")
PROGRAM_NAME = "Kompakto"


def built_version():
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        return re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.+)$", cache.read(), re.M).group(1)


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def release_date():
    stamp = os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True, check=True).stdout
    return time.gmtime(int(stamp))[:6]


def signed(exe, work):
    """The exe, signed when the signing settings are there; else as it is."""
    pfx, password = os.environ.get("KOMPAKTO_SIGN_PFX"), os.environ.get("KOMPAKTO_SIGN_PASSWORD_FILE")
    if not (pfx and password):
        print("unsigned: set KOMPAKTO_SIGN_PFX and KOMPAKTO_SIGN_PASSWORD_FILE to sign kompakto.exe")
        return exe
    out = os.path.join(work, "kompakto.exe")
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password, "-h", "sha256",
               "-n", PROGRAM_NAME, "-in", exe, "-out", out]
    if os.environ.get("KOMPAKTO_SIGN_URL"):
        command += ["-i", os.environ["KOMPAKTO_SIGN_URL"]]
    if os.environ.get("KOMPAKTO_SIGN_TIMESTAMP_URL"):
        command += ["-ts", os.environ["KOMPAKTO_SIGN_TIMESTAMP_URL"]]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    print("signed with %s" % pfx)
    return out


def guide(exe_sum):
    with open(os.path.join(ROOT, "docs", "LIESMICH.txt"), encoding="utf-8") as source:
        text = source.read().replace("@SHA256@", exe_sum)
    return ("\ufeff" + text.replace("\n", "\r\n")).encode("utf-8")


def add(archive, name, data, date):
    entry = zipfile.ZipInfo(name, date)
    entry.create_system = 0  # MS-DOS: no owner, no permissions
    entry.external_attr = 0
    entry.compress_type = zipfile.ZIP_DEFLATED
    archive.writestr(entry, data, compresslevel=9)


def main(argv):
    out = argv[argv.index("--out") + 1] if "--out" in argv else os.path.join(ROOT, "dist")
    version = built_version()
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        with open(signed(os.path.join(BUILD, "kompakto.exe"), work), "rb") as source:
            exe = source.read()
    sums = "%s  kompakto.exe\n" % sha256(exe)
    zip_name = "kompakto-%s.zip" % version
    zip_path = os.path.join(out, zip_name)
    date = release_date()
    with zipfile.ZipFile(zip_path, "w") as archive:
        add(archive, "kompakto.exe", exe, date)
        add(archive, "LIESMICH.txt", guide(sha256(exe)), date)
        add(archive, "SHA256SUMS.txt", sums.replace("\n", "\r\n"), date)
    with open(os.path.join(out, "kompakto.exe"), "wb") as copy:
        copy.write(exe)
    with open(zip_path, "rb") as archive:
        sums = "%s  %s\n" % (sha256(archive.read()), zip_name) + sums
    with open(os.path.join(out, "SHA256SUMS.txt"), "w") as listing:
        listing.write(sums)
    print("%s: %d bytes\n%s" % (os.path.relpath(zip_path), os.path.getsize(zip_path), sums.rstrip()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
