"""Making and reading real directory trees for the black-box tests."""

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
