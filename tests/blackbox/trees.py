"""Making and reading real directory trees for the black-box tests."""

import os
import stat
from pathlib import Path


def make_tree(root, paths):
    """Creates the paths below root; a path ending in '/' is a directory.

    Each file holds its own relative path, so that contents can be checked
    after renames."""
    root = Path(root)
    root.mkdir(parents=True, exist_ok=True)
    for p in paths:
        target = root / p
        if p.endswith("/"):
            target.mkdir(parents=True, exist_ok=True)
        else:
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_text(p)


def read_tree(root):
    """Every path below root, directories with a trailing '/', sorted."""
    root = Path(root)
    found = []
    for p in sorted(root.rglob("*")):
        rel = p.relative_to(root).as_posix()
        found.append(rel + "/" if p.is_dir() and not p.is_symlink() else rel)
    return sorted(found)


def contents(root):
    """Map of file path to contents below root."""
    root = Path(root)
    return {p.relative_to(root).as_posix(): p.read_bytes()
            for p in root.rglob("*") if p.is_file() and not p.is_symlink()}


def lines(*texts):
    """The bytes the tool prints for these lines."""
    return b"".join(t.encode("latin-1") + b"\r\n" for t in texts)


def inventory(root):
    """Every entry below root, by inode: (relative path as bytes, kind,
    content), kind being "dir", "link" (content: the link's target) or "file"
    (content: its bytes). Links are not followed; any depth and any bytes in
    names work."""
    root = os.fsencode(root)
    found = {}
    pending = [b""]
    while pending:
        rel = pending.pop()
        with os.scandir(os.path.join(root, rel) if rel else root) as entries:
            for entry in entries:
                path = rel + b"/" + entry.name if rel else entry.name
                st = entry.stat(follow_symlinks=False)
                if stat.S_ISDIR(st.st_mode):
                    kind, content = "dir", None
                    pending.append(path)
                elif stat.S_ISLNK(st.st_mode):
                    kind, content = "link", os.readlink(entry.path)
                else:
                    with open(entry.path, "rb") as f:
                        kind, content = "file", f.read()
                assert st.st_ino not in found, f"{path!r} is a second name of an entry"
                found[st.st_ino] = (path, kind, content)
    return found


def assert_nothing_lost(before, after):
    """Every entry of before is still there exactly once, of the same kind and
    content, each component of its path in its old or its upper-case spelling;
    nothing was added."""
    assert sorted(after) == sorted(before), "entries lost or added"
    for ino, (path, kind, content) in before.items():
        new_path, new_kind, new_content = after[ino]
        assert (new_kind, new_content) == (kind, content), path
        old_parts, new_parts = path.split(b"/"), new_path.split(b"/")
        assert len(old_parts) == len(new_parts), (path, new_path)
        assert all(n in (o, o.upper()) for o, n in zip(old_parts, new_parts)), (path, new_path)
