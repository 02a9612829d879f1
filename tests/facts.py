"""What kompakto.exe must show and store, and the numbers of Windows, for
the Python tests: read from tests/facts.h and tests/windows_numbers.h (the
constants) and tests/texts.txt (the texts of the boxes), where each is
written once.

    import facts
    facts.VERB_COMMAND_KEY, facts.ID_YES, facts.TEXTS["question"], ...

A constant kVerbCommandKey of facts.h is VERB_COMMAND_KEY here, kIdYes of
windows_numbers.h ID_YES; texts are Unicode, lines joined by a carriage
return as in the boxes.
"""
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))


def _words(name):
    """kVerbCommandKey -> VERB_COMMAND_KEY, kViewer64Name -> VIEWER64_NAME"""
    return re.sub(r"(?<=[a-z0-9])(?=[A-Z])", "_", name[1:]).upper()


def _string(literals):
    """The value of C string literals that follow each other; \\xNN is a
    Windows-1252 byte."""
    data = b""
    for body in re.findall(r'"((?:[^"\\]|\\.)*)"', literals):
        data += re.sub(rb"\\(x[0-9A-Fa-f]{2}|.)",
                       lambda m: bytes([int(m.group(1)[1:], 16)]) if m.group(1)[:1] == b"x" else m.group(1),
                       body.encode("ascii"))
    return data.decode("cp1252")


def _constants():
    found = {}
    literals = r'(?:"(?:[^"\\]|\\.)*"\s*)+'  # may hold a ';'
    for header in ("facts.h", "windows_numbers.h"):
        with open(os.path.join(HERE, header), encoding="ascii") as source:
            text = source.read()
        for name, value in re.findall(r"constexpr (?:char|int|long|u?int\w*_t) (k\w+)(?:\[\])? =\s*(%s|[^;]+);"
                                      % literals, text):
            if _words(name) in found:
                raise SystemExit("%s: %s is defined twice" % (header, name))
            found[_words(name)] = _string(value) if value.lstrip().startswith('"') else int(value, 0)
    return found


def _texts():
    """"== name ==" begins a text, "<name>" stands for an earlier one; a text
    ends with its last line that is not empty."""
    texts, current = {}, None
    with open(os.path.join(HERE, "texts.txt"), encoding="utf-8") as source:
        for line in source.read().split("\n") + ["==  =="]:
            heading = re.fullmatch(r"== (.*) ==", line)
            if heading:
                while current and current[-1] == "":
                    current.pop()
                current = texts.setdefault(heading.group(1), [])
            elif current is not None and re.fullmatch(r"<.+>", line):
                current.extend(texts[line[1:-1]])
            elif current is not None:
                current.append(line)
    return {name: "\r".join(lines) for name, lines in texts.items() if name}


globals().update(_constants())
TEXTS = _texts()
