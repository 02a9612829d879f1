#!/usr/bin/python3
"""The release of tools/release.py, checked (make test).

    /usr/bin/python3 tests/release/check_release.py

Makes the release twice unsigned and once signed with a throwaway
certificate made here (nothing secret is committed), and checks: each zip
holds exactly kompakto.exe, LIESMICH.txt and SHA256SUMS.txt, in that order;
the unsigned exe is the build's and the two unsigned zips are the same bytes;
both checksum lists verify; the guide is UTF-8 with a byte-order mark, CRLF
and at most 80 columns, states what tests/facts.h and tests/texts.txt hold,
and says whether the exe beside it is signed, and by whom; the signed exe
verifies, names the program and its address, passes the resource checks and
still asks its question under Wine.
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path[:0] = [os.path.dirname(HERE), os.path.join(ROOT, "tools"), os.path.join(os.path.dirname(HERE), "resources")]
import check_resources  # noqa: E402  (tests/resources/check_resources.py)
import facts  # noqa: E402  (tests/facts.py)
import winesession  # noqa: E402  (tools/winesession.py)

RELEASE = os.path.join(ROOT, "tools", "release.py")
ZIP = "kompakto-%s.zip" % facts.VERSION
ENTRIES = ["kompakto.exe", "LIESMICH.txt", "SHA256SUMS.txt"]
SIGN_URL = "https://example.org/kompakto"
# Windows' German buttons of a box with Yes, No and Cancel, in their order.
YES_NO_CANCEL = ["Ja", "Nein", "Abbrechen"]
NUMBERS = {4: "vier", 5: "fünf", 6: "sechs"}
r = check_resources.Report()


def release(out, env):
    """The files of the zip made into out; its entries checked."""
    done = subprocess.run([sys.executable, RELEASE, "--out", out], env=env, capture_output=True, text=True)
    r.check("release into %s" % os.path.basename(out), done.returncode == 0, done.stderr[-400:])
    with zipfile.ZipFile(os.path.join(out, ZIP)) as archive:
        r.equal("%s zip holds exactly the three files, in order" % os.path.basename(out), archive.namelist(), ENTRIES)
        return {name: archive.read(name) for name in archive.namelist()}


def check_contents(out, files):
    """files, their checksums and guide checked."""
    done = subprocess.run(["sha256sum", "-c", "SHA256SUMS.txt"], cwd=out, capture_output=True, text=True)
    r.check("SHA256SUMS.txt beside the zip verifies the zip and the exe",
            done.returncode == 0 and done.stdout.count(": OK") == 2, done.stdout + done.stderr)
    exe_sum = hashlib.sha256(files["kompakto.exe"]).hexdigest()
    r.equal("SHA256SUMS.txt in the zip names the exe", files["SHA256SUMS.txt"],
            ("%s  kompakto.exe\r\n" % exe_sum).encode())
    check_guide(files["LIESMICH.txt"], exe_sum, signer(out, files["kompakto.exe"]))
    return files


def signer(out, exe):
    """The common name of the certificate that signed the exe of the zip; None when it is unsigned."""
    path = os.path.join(out, "zip-kompakto.exe")
    with open(path, "wb") as copy:
        copy.write(exe)
    done = subprocess.run(["osslsigncode", "verify", "-in", path], capture_output=True, text=True)
    subject = re.search(r"Signer #0:\s+Subject: .*/CN=([^/\n]+)", done.stdout)
    r.check("the zip's exe is read as signed or unsigned", subject or "No signature found" in done.stdout + done.stderr,
            done.stdout[-400:] + done.stderr[-400:])
    return subject and subject.group(1)


def check_guide(data, exe_sum, signed_by):
    r.check("guide starts with a UTF-8 byte-order mark", data.startswith(b"\xef\xbb\xbf"))
    text = data[3:].decode("utf-8")
    r.check("guide has CRLF line ends only", not {"\r", "\n"} & set(text.replace("\r\n", "")))
    lines = text.split("\r\n")
    r.check("guide lines fit 80 columns", max(map(len, lines)) <= 80, max(lines, key=len))
    r.equal("guide: every placeholder filled in", re.findall(r"@\w+@", text), [])
    flat = " ".join(text.split())  # a sentence as one line, wherever it wraps
    unsigned = "Diese Kopie von kompakto.exe ist nicht signiert."
    signed = "Diese Kopie von kompakto.exe ist signiert, mit einem Zertifikat auf den Namen „%s“." % signed_by
    r.check("guide: %s, as the exe in the zip" % ("signed by %s" % signed_by if signed_by else "unsigned"),
            (signed if signed_by else unsigned) in flat and (unsigned if signed_by else "ist signiert,") not in flat)
    # The verb as the boxes and Explorer name it, and the keys that switching off deletes or leaves.
    keys = facts.VERB_KEY.split("\\")
    verb, folder_verb = keys[4].replace("&", ""), facts.FOLDER_VERB_KEY.rsplit("\\", 1)[1]
    r.check("guide names the entry «%s», as the boxes quote it, and the older one „%s“" % (verb, folder_verb),
            "«%s»" % verb in text and "»%s«" % verb not in text and "„%s“" % folder_verb in flat)
    left = "HKEY_CURRENT_USER\\%s\\%s\\%s und darin der Schlüssel %s" % tuple(keys[:4])
    r.check("guide: switching off leaves %s" % left, left.lower() in flat.lower())
    r.check("guide names the verb's key %s under HKEY_CURRENT_USER\\%s\\%s" % (
        "\\".join(keys[2:]), keys[0], keys[1]), "\\".join(keys[2:]) in text)
    # Words quoted «like this» are the boxes' own: a caption, a button, or a piece of a box's text ("…"
    # leaves out what lies between).
    boxes = [" ".join(box.split()) for box in facts.TEXTS.values()] + YES_NO_CANCEL + [
        facts.QUESTION_CAPTION, facts.CONFIRM_CAPTION, facts.DOWNLOAD_CAPTION, facts.ERROR_CAPTION]
    foreign = [quote for quote in re.findall(r"«([^»]*)»", flat) if quote != "…"
               and not any(all(part in box for part in quote.split(" … ")) for box in boxes)]
    r.equal("guide: what it quotes «like this» stands in a box", foreign, [])
    # The question's default button, the confirmation's time, and the page the download offer opens.
    default = YES_NO_CANCEL[(facts.QUESTION_STYLE >> 8) & 0xF]
    seconds = NUMBERS[facts.CONFIRM_TIMEOUT_MS // 1000]
    address = facts.TEXTS["download failed"].split("\r")[-1]
    r.check("guide: «%s» is the question's default, Enter changes nothing" % default,
            "«%s» ist vorgewählt: Die Eingabetaste ändert also nichts" % default in flat)
    r.check("guide: the confirmation closes after gut %s seconds" % seconds, "nach gut %s Sekunden" % seconds in flat)
    r.check("guide: the download offer opens IrfanView's home page %s" % address,
            "«Ja» öffnet die Startseite von IrfanView, %s," % address in flat)
    options = dict(re.findall(r"/(\w+)=(\d+)", facts.COMMAND_TAIL))
    # The copies' name as the command asks the viewer for it ($N the original's name, $W and $H the copy's
    # width and height), in general and for a landscape and a portrait photo.
    copies = re.search(r'/convert="([^"]+)"', facts.COMMAND_TAIL).group(1)
    general = copies.replace("$N", "Dateiname").replace("$W", "Breite").replace("$H", "Höhe")
    r.check("guide names the copies %s" % general, "\r\n    %s\r\n" % general in text)
    for width, height in ((4000, 3000), (3000, 4000)):
        scale = int(options["resize_long"]) / max(width, height)
        example = copies.replace("$N", "Foto").replace("$W", str(round(width * scale)))
        example = example.replace("$H", str(round(height * scale)))
        r.check("guide: %d × %d pixels give %s" % (width, height, example),
                "%d × %d Pixeln" % (width, height) in text and "\r\n    %s\r\n" % example in text)
    viewers = [facts.PROGRAM_W6432_ON64 + facts.VIEWER64_NAME, facts.PROGRAM_FILES_ON64 + facts.VIEWER32_NAME,
               facts.PROGRAM_W6432_ON64 + facts.VIEWER32_NAME]  # the last on 32-bit Windows
    places = viewers + ["%s, ohne diese Variable unter %s" % (facts.SCOOP_USER_VARIABLE, facts.SCOOP_USER_DEFAULT),
                        "%s, ohne diese Variable unter %s" % (facts.SCOOP_GLOBAL_VARIABLE,
                                                              facts.SCOOP_GLOBAL_DEFAULT)]
    found = [flat.find(place) for place in places]
    r.check("guide: IrfanView is looked for at %s, then at %s (%s on 32-bit Windows), then in Scoop's folders "
            "under %s, then under %s" % tuple(places), -1 not in found and found == sorted(found),
            "found at %s" % found)
    r.check("guide: long side %s pixels" % options["resize_long"], "%s Pixel" % options["resize_long"] in text)
    r.check("guide: quality %s" % options["jpgq"], "Qualitätsstufe %s" % options["jpgq"] in text)
    used = re.findall(r"kompakto\.exe ([/-]\S*)", text)
    r.check("guide: the switch %s, in every command line" % facts.SILENT_SWITCH,
            "Schalter %s " % facts.SILENT_SWITCH in text and used and set(used) == {facts.SILENT_SWITCH}, str(used))
    codes = dict(re.findall(r"^  (\d)   ([^\r]*(?:\r\n      [^\r]*)*)", text, re.M))
    r.equal("guide: the exit codes", sorted(map(int, codes)), sorted(
        [facts.EXIT_DONE, facts.EXIT_NO_VIEWER, facts.EXIT_REGISTRY_FAILED, facts.EXIT_QUESTION_NOT_SHOWN]))
    r.check("guide: exit code %d comes with the box «%s»" % (facts.EXIT_REGISTRY_FAILED, facts.ERROR_CAPTION),
            "«%s»" % facts.ERROR_CAPTION in codes.get(str(facts.EXIT_REGISTRY_FAILED), ""))
    r.equal("guide: the version", set(re.findall(r"(?:Kompakto|Version) (\d+(?:\.\d+)+)", text)), {facts.VERSION})
    maker = facts.TEXTS["header"].split("\r")[1]
    r.check("guide: the maker's line %s" % maker, maker in lines)
    r.equal("guide: the checksum line", re.findall(r"SHA-256 von kompakto.exe:\s+(\S+)", text), [exe_sum])


def check_unsigned(work):
    one, two = os.path.join(work, "one"), os.path.join(work, "two")
    env = {k: v for k, v in os.environ.items() if not k.startswith("KOMPAKTO_SIGN")}
    files = check_contents(one, release(one, env))
    release(two, env)
    with open(os.path.join(winesession.BUILD, "kompakto.exe"), "rb") as build:
        r.check("the zip's exe is the build, byte for byte", files["kompakto.exe"] == build.read())
    with open(os.path.join(one, ZIP), "rb") as a, open(os.path.join(two, ZIP), "rb") as b:
        r.check("two releases give the same zip bytes", a.read() == b.read())


def check_signed(work):
    key, cert, pfx, password = (os.path.join(work, name) for name in ("key.pem", "cert.pem", "sign.pfx", "pass"))
    with open(password, "w") as out:
        out.write("throwaway\n")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Kompakto Test", "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                    "-passout", "file:" + password], check=True, capture_output=True)
    out = os.path.join(work, "signed")
    env = dict(os.environ, KOMPAKTO_SIGN_PFX=pfx, KOMPAKTO_SIGN_PASSWORD_FILE=password, KOMPAKTO_SIGN_URL=SIGN_URL)
    env.pop("KOMPAKTO_SIGN_TIMESTAMP_URL", None)
    files = check_contents(out, release(out, env))
    exe = os.path.join(out, "kompakto.exe")
    print("signed kompakto.exe: %d bytes" % os.path.getsize(exe))
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", exe], capture_output=True, text=True)
    r.check("the signature verifies against the certificate", done.returncode == 0, done.stdout[-600:])
    r.check("the signature names the program and its address",
            "Text description: Kompakto" in done.stdout and "URL description: " + SIGN_URL in done.stdout,
            done.stdout[-600:])
    r.check("the signature uses SHA-256", "SHA256" in done.stdout.upper().replace("-", ""))
    resources = check_resources.Report(quiet=True)
    check_resources.run_checks(resources, files["kompakto.exe"])
    r.check("the signed exe passes the resource checks", not resources.failures, ", ".join(resources.failures))
    check_question(exe)


def check_question(exe):
    with winesession.Session(build=os.path.dirname(exe)) as session:
        prefix = session.prefix("win64", {winesession.KOMPAKTO: "kompakto.exe"})
        events = session.driver(prefix, [winesession.START_KOMPAKTO, ("box", facts.QUESTION_CAPTION, "30000", "cancel"),
                                         ("finish", "15000")]).finish()
    boxes = [e for e in events if e["event"] == "box"]
    ends = [e for e in events if e["event"] == "exit"]
    r.check("the signed exe asks its question under Wine",
            boxes and boxes[0]["text"] == facts.TEXTS["question"] and ends and ends[0].get("code") == 0,
            str(events)[-400:])


def main():
    with tempfile.TemporaryDirectory() as work:
        check_unsigned(work)
        check_signed(work)
    r.finish()


if __name__ == "__main__":
    sys.exit(winesession.guarded(main))
