#!/usr/bin/env python3
"""Makes a build-output-like tree for the benchmark.

The tree holds what DAZI's fixed set names (boot, loader and kernel files,
setup information, national-language and font files, PROGRAMS, WIN*), plus N
lower-case files spread over subdirectories of i386/system32/drivers, a given
number per directory, and optionally more national-language (.nls) and font
(.fon) files in i386/system32, as a real build has. Every name is lower case,
so every listed entry gets a real rename. The files are empty: the benchmark
measures renames, not data.

    make_tree.py ROOT N [PER_DIRECTORY [NLS [FON]]]

Prints one line: the number of entries below ROOT and the bytes of their
relative paths.
"""

import os
import sys

FIXED = [
    "bootsect.bin", "bootfont.bin", "win51", "winnt/setup.log", "programs/readme.txt",
    "i386/bootfix.bin", "i386/ntdetect.com", "i386/setupldr.bin", "i386/spcmdcon.sys",
    "i386/txtsetup.sif", "i386/layout.inf",
    "i386/system32/biosinfo.inf", "i386/system32/bootvid.dll", "i386/system32/kdcom.dll",
    "i386/system32/ntkrnlmp.exe", "i386/system32/ntoskrnl.exe", "i386/system32/setupreg.hiv",
    "i386/system32/hivesys.sif", "i386/system32/c_1252.nls", "i386/system32/l_intl.nls",
    "i386/system32/vgaoem.fon", "i386/system32/hal.dll", "i386/system32/halmacpi.dll",
    "i386/system32/drivers/atapi.sys",
]

# Driver-like stems, so that neighbouring names share prefixes of different
# lengths, as real driver trees do.
STEMS = ["atapi", "ndis", "usbhub", "serial", "kbdclass", "i8042prt", "tcpip", "afd",
         "classpnp", "disk", "fastfat", "mup", "netbt", "rdbss", "usbport", "videoprt"]
EXTENSIONS = ["sys", "dll", "inf", "cat"]


def touch(path):
    os.close(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644))


def make(root, count, per_directory, nls=0, fon=0):
    paths = list(FIXED)
    paths += [f"i386/system32/c_{20000 + i}.nls" for i in range(nls)]
    paths += [f"i386/system32/font{i:03d}.fon" for i in range(fon)]
    for name in paths:
        directory = os.path.dirname(os.path.join(root, name))
        os.makedirs(directory, exist_ok=True)
        touch(os.path.join(root, name))
    drivers = "i386/system32/drivers"
    for index in range(count):
        group = index // per_directory
        sub = f"{drivers}/grp{group:04d}"
        if index % per_directory == 0:
            os.mkdir(os.path.join(root, sub))
            paths.append(sub)
        stem = STEMS[(index * 7) % len(STEMS)]
        ext = EXTENSIONS[index % len(EXTENSIONS)]
        name = f"{sub}/{stem}{index:07d}.{ext}"
        touch(os.path.join(root, name))
        paths.append(name)
    directories = {"winnt", "programs", "i386", "i386/system32", drivers}
    paths.extend(directories)
    return len(paths), sum(len(p) for p in paths)


def main():
    root = sys.argv[1]
    count = int(sys.argv[2])
    per_directory = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
    nls, fon = (int(v) for v in (sys.argv[4:6] + ["0", "0"])[:2])
    if os.path.exists(root):
        sys.exit(f"{root} exists already")
    entries, path_bytes = make(root, count, per_directory, nls, fon)
    print(entries, path_bytes)


if __name__ == "__main__":
    main()
