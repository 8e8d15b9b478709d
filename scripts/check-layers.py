#!/usr/bin/env python3
"""Fails when a source file includes a header of a layer it must not depend on.

The layers point one way: the VST header, the DSP helpers and the platform layer depend on
nothing of ours; the patch format on the DSP helpers; effects never reach into the engine;
the engine never into the plug-in shell; the command-line tools see only the VST header and
the host side of the platform layer (loading a plug-in library, finding their own folder,
the calling convention of the VST entry).
usage: scripts/check-layers.py [SOURCE_ROOT]
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parent.parent)

# Folder -> the folders (or single headers) its files may include.
ALLOWED = {
    "src/vst": {"vst", "platform/Export.h"},
    "src/dsp": {"dsp"},
    "src/platform": {"platform"},
    "src/patch": {"patch", "dsp"},
    "src/content": {"content", "patch", "dsp", "platform"},
    "src/fx": {"fx", "dsp", "patch"},
    "src/engine": {"engine", "fx", "content", "patch", "dsp", "platform"},
    "src/net": {"net", "platform"},
    "src/shell": {"shell", "engine", "fx", "content", "patch", "dsp", "platform", "vst",
                  "editor", "net"},
    "src/editor": {"editor", "shell", "engine", "content", "patch", "dsp", "platform", "vst",
                   "net"},
    "tools": {"vst", "platform/Export.h", "platform/SharedLibrary.h", "platform/Process.h"},
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def allowed(rules, header):
    return any(header == r or header.startswith(r + "/") for r in rules)


def main():
    problems = []
    checked = 0
    for folder, rules in ALLOWED.items():
        base = root / folder
        for path in sorted(base.rglob("*")):
            if path.suffix not in (".h", ".cpp"):
                continue
            checked += 1
            for header in INCLUDE.findall(path.read_text(errors="replace")):
                if folder == "tools" and "/" not in header and any(base.glob("*/" + header)):
                    continue  # the tools' own shared headers (test host, file helpers)
                if not allowed(rules, header):
                    problems.append(f"{path.relative_to(root)}: includes \"{header}\", "
                                    f"outside what {folder}/ may use")
    for p in problems:
        print(p)
    if problems:
        print(f"layers: {len(problems)} include(s) cross a layer", file=sys.stderr)
        return 1
    print(f"layers: {checked} files checked, every include points down")
    return 0


if __name__ == "__main__":
    sys.exit(main())
