"""The build trees, named once in CMakePresets.json: the folder of each is
its configure preset's binaryDir, read from there by the tools that need it.

    /usr/bin/python3 tools/trees.py NAME     prints the folder of the tree NAME
"""
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def folder(name, root=ROOT):
    """The folder of the tree name of the sources at root."""
    with open(os.path.join(root, "CMakePresets.json"), encoding="utf-8") as source:
        presets = json.load(source)["configurePresets"]
    for preset in presets:
        if preset["name"] == name:
            return os.path.normpath(preset["binaryDir"].replace("${sourceDir}", root))
    raise KeyError("CMakePresets.json has no tree %r" % name)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__.strip().split("\n\n")[1], file=sys.stderr)
        sys.exit(2)
    print(folder(sys.argv[1]))
