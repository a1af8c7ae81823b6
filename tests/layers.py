#!/usr/bin/env python3
"""Checks that every include of the tool's code points down the layers of
support/ (support/README.md): a folder includes only the folders listed for it
here. Tests beside the code are left out: they may drive their code through a
higher layer. Prints each include that points elsewhere and exits 1."""
import pathlib
import re
import sys

# Folder -> the folders its code may include, itself always among them.
# Private folders (fs/posix, collate/icu, collate/tables) are named only by
# their own subsystem.
ALLOWED = {
    "support/text": {"support/text"},
    "support/runtime": {"support/text"},
    "support/collate": {"support/text", "support/runtime", "support/collate/icu",
                        "support/collate/tables"},
    "support/collate/icu": {"support/text", "support/runtime", "support/collate"},
    "support/collate/tables": {"support/collate", "support/collate/icu"},
    "support/fs": {"support/text", "support/runtime", "support/fs/posix"},
    "support/fs/posix": {"support/text", "support/runtime", "support/fs"},
    "support/list": {"support/text", "support/runtime", "support/collate"},
}
PUBLIC = {"support/text", "support/runtime", "support/collate", "support/fs", "support/list"}
for top in ("scan", "config", "tool"):
    ALLOWED[top] = PUBLIC | {"scan", "config"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"((?:support|scan|config|tool)/[^"]+)"', re.M)


def main(root):
    wrong = []
    for path in sorted(root.glob("**/*")):
        if path.suffix not in (".cpp", ".h") or path.name.endswith("_test.cpp"):
            continue
        folder = path.parent.relative_to(root).as_posix()
        if folder not in ALLOWED:
            continue
        allowed = ALLOWED[folder] | {folder}
        for included in INCLUDE.findall(path.read_text(errors="replace")):
            if str(pathlib.PurePosixPath(included).parent) not in allowed:
                wrong.append(f"{path.relative_to(root)}: includes {included}")
    for line in wrong:
        print(line)
    print(f"layers: {len(wrong)} include(s) pointing outside their layer")
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()))
