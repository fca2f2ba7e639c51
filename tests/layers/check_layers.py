#!/usr/bin/env python3
"""The layer table of docs/architecture.md, held against every include in src/.

The build already refuses an include of a layer above (each layer's include root shows
only its own folder); this check also covers a build without folder links, an include
by a relative path ("../comm/X.h") and the table in the document itself.
Usage: check_layers.py SOURCE_DIR
"""
import pathlib
import re
import sys

# What each layer may include, itself besides (from the bottom up).
ALLOWED = {
    "text": set(),
    "model": {"text"},
    "comm": {"model", "text"},
    "transfer": {"comm", "model", "text"},
    "valuepad": set(),
    "report": {"model", "text"},
    # The renderer draws with QtGui apart from the report's plain layer, and draws the
    # commissioning record of the change log too, so it sits above transfer.
    "render": {"report", "transfer", "comm", "model", "text"},
    "ui": {"transfer", "comm", "model", "text", "valuepad", "report", "render"},
    "app": {"ui", "transfer", "comm", "model", "text", "valuepad", "report", "render"},
}
def layer_of(parts):
    return "render" if tuple(parts[:2]) == ("report", "render") else parts[0]


INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def main() -> int:
    root = pathlib.Path(sys.argv[1])
    src = root / "src"
    problems = []
    folders = {p.name for p in src.iterdir() if p.is_dir()}
    for extra in sorted(folders - ALLOWED.keys()):
        problems.append(f"src/{extra}/ is no layer of the table")
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = layer_of(path.relative_to(src).parts)
        if layer not in ALLOWED:
            continue
        for name in INCLUDE.findall(path.read_text(encoding="utf-8")):
            where = f"{path.relative_to(root)}: \"{name}\""
            if ".." in pathlib.PurePosixPath(name).parts:
                problems.append(f"{where}: a relative path around the layers")
                continue
            first = layer_of(pathlib.PurePosixPath(name).parts)
            if first not in ALLOWED:
                continue  # a header of its own folder or a generated one
            if first != layer and first not in ALLOWED[layer]:
                problems.append(f"{where}: {layer} may not include {first}")
    for p in problems:
        print(p)
    if not problems:
        print("every include follows the layer table")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
