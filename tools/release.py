#!/usr/bin/python3
"""make release: what a Windows user downloads.

    /usr/bin/python3 tools/release.py [--out DIR]      (DIR: dist by default)

DIR/kompakto-VERSION.zip holds kompakto.exe, LIESMICH.txt (docs/LIESMICH.txt
with the exe's checksum and whether and by whom it is signed filled in,
UTF-8 with a byte-order mark and CRLF, as Notepad reads it on every Windows)
and SHA256SUMS.txt; beside it stand
kompakto.exe and SHA256SUMS.txt (of the zip and the exe). The zip is
reproducible: fixed order, entries dated with the last commit (or
SOURCE_DATE_EPOCH), no owner or permission bits.

With KOMPAKTO_SIGN_PFX (PKCS#12) and KOMPAKTO_SIGN_PASSWORD_FILE set, the exe
is signed with osslsigncode first (SHA-256, the program's name, and
KOMPAKTO_SIGN_URL and a time stamp from KOMPAKTO_SIGN_TIMESTAMP_URL when given).
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import textwrap
import time
import zipfile

import trees  # tools/trees.py

ROOT = trees.ROOT
BUILD = trees.folder("windows")
# What the guide says of the exe in this zip, in place of @SIGNATURE@: the
# name is the one the signing certificate is issued to, which Windows shows
# as the publisher.
UNSIGNED = ("Diese Kopie von kompakto.exe ist nicht signiert. Windows zeigt als ihren Herausgeber darum "
            "„Unbekannter Herausgeber“ an.")
SIGNED = ("Diese Kopie von kompakto.exe ist signiert, mit einem Zertifikat auf den Namen „%s“. "
          "Ob Windows diesem Zertifikat vertraut, zeigt es so: Rechtsklick auf kompakto.exe, "
          "„Eigenschaften“, Registerkarte „Digitale Signaturen“, die Signatur "
          "wählen, „Details“.")


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def certificate_name(pfx, password):
    """The common name of the certificate in pfx, which signs."""
    pem = subprocess.run(["openssl", "pkcs12", "-in", pfx, "-passin", "file:" + password, "-nokeys", "-clcerts"],
                         check=True, capture_output=True).stdout
    subject = subprocess.run(["openssl", "x509", "-noout", "-subject", "-nameopt", "multiline,utf8,-esc_msb"],
                             input=pem, check=True, capture_output=True).stdout.decode("utf-8")
    name = re.search(r"^\s*commonName\s*= (.+)$", subject, re.M)
    if not name:
        sys.exit("the certificate in %s names no one (it has no common name)" % pfx)
    return name.group(1).strip()


def signed(exe, work):
    """The exe, signed when the signing settings are there, and the name of
    its signer; else the exe as it is, and None."""
    pfx, password = os.environ.get("KOMPAKTO_SIGN_PFX"), os.environ.get("KOMPAKTO_SIGN_PASSWORD_FILE")
    if not (pfx and password):
        print("unsigned: set KOMPAKTO_SIGN_PFX and KOMPAKTO_SIGN_PASSWORD_FILE to sign kompakto.exe")
        return exe, None
    out = os.path.join(work, "kompakto.exe")
    command = ["osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password, "-h", "sha256",
               "-n", "Kompakto", "-in", exe, "-out", out]
    for option, name in (("-i", "KOMPAKTO_SIGN_URL"), ("-ts", "KOMPAKTO_SIGN_TIMESTAMP_URL")):
        if os.environ.get(name):
            command += [option, os.environ[name]]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    print("signed with %s" % pfx)
    return out, certificate_name(pfx, password)


def main(argv):
    out = argv[argv.index("--out") + 1] if "--out" in argv else os.path.join(ROOT, "dist")
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.+)$", cache.read(), re.M).group(1)
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        path, signer = signed(os.path.join(BUILD, "kompakto.exe"), work)
        with open(path, "rb") as source:
            exe = source.read()
    signature = textwrap.fill(SIGNED % signer if signer else UNSIGNED, 76, break_on_hyphens=False)
    with open(os.path.join(ROOT, "docs", "LIESMICH.txt"), encoding="utf-8") as source:
        guide = "\ufeff" + source.read().replace("@SHA256@", sha256(exe)).replace("@SIGNATURE@", signature)
    sums = "%s  kompakto.exe\n" % sha256(exe)
    stamp = os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "-C", ROOT, "log", "-1", "--format=%ct"], capture_output=True, text=True, check=True).stdout
    zip_path = os.path.join(out, "kompakto-%s.zip" % version)
    with zipfile.ZipFile(zip_path, "w") as archive:
        for name, data in (("kompakto.exe", exe), ("LIESMICH.txt", guide.replace("\n", "\r\n").encode("utf-8")),
                           ("SHA256SUMS.txt", sums.replace("\n", "\r\n"))):
            entry = zipfile.ZipInfo(name, time.gmtime(int(stamp))[:6])
            entry.create_system = 0  # MS-DOS: no owner, no permissions
            entry.external_attr = 0
            entry.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(entry, data, compresslevel=9)
    with open(os.path.join(out, "kompakto.exe"), "wb") as copy:
        copy.write(exe)
    with open(zip_path, "rb") as archive:
        sums = "%s  %s\n" % (sha256(archive.read()), os.path.basename(zip_path)) + sums
    with open(os.path.join(out, "SHA256SUMS.txt"), "w") as listing:
        listing.write(sums)
    print("%s: %d bytes\n%s" % (os.path.relpath(zip_path), os.path.getsize(zip_path), sums.rstrip()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
