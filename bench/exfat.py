"""The benchmark's exFAT part: DAZI against the lower bound on a file system
that folds case, mounted through FUSE as a user would from Linux.

A tree of N lower-case entries (make_tree.py) is made once in an exFAT image
(mkfs.exfat, losetup, mount.exfat-fuse); every command then runs on a fresh
copy of that image, attached and mounted anew (not timed), the commands
taking turns. The lower bound renames with plain rename(2) (--plain): exFAT's
FUSE driver takes no rename flags. System calls are counted with perf
(raw_syscalls:sys_enter) on one more fresh copy per command, less those of a
run that only prints the usage text (start-up), and divided by the entries.
"""

import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
IMAGE_MIB = 64
RENAME_CALLS = ["syscalls:sys_enter_rename", "syscalls:sys_enter_renameat",
                "syscalls:sys_enter_renameat2"]


def cannot_mount():
    """Why this machine cannot mount an exFAT image, or None."""
    if os.geteuid() != 0:
        return "not root"
    if not os.path.exists("/dev/fuse"):
        return "no /dev/fuse"
    if not os.path.exists("/dev/loop-control"):
        return "no loop devices"
    missing = [t for t in ("mkfs.exfat", "mount.exfat-fuse", "losetup", "fusermount")
               if shutil.which(t) is None]
    return "missing " + ", ".join(missing) if missing else None


def holders(path):
    """The processes that have path open: the FUSE daemon until it has ended."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            fds = os.listdir(f"/proc/{pid}/fd")
            if any(os.readlink(f"/proc/{pid}/fd/{fd}") == path for fd in fds):
                found.append(pid)
        except OSError:
            pass
    return found


class Mounted:
    """An image attached to a loop device and mounted with exfat-fuse."""

    def __init__(self, image, point):
        self.point = point
        self.device = subprocess.run(["losetup", "--find", "--show", str(image)], check=True,
                                     capture_output=True, text=True).stdout.strip()
        point.mkdir(exist_ok=True)
        subprocess.run(["mount.exfat-fuse", self.device, str(point)], check=True,
                       capture_output=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        for _ in range(50):
            if subprocess.run(["fusermount", "-u", str(self.point)],
                              capture_output=True).returncode == 0:
                break
            time.sleep(0.1)
        deadline = time.monotonic() + 30
        while holders(self.device) and time.monotonic() < deadline:
            time.sleep(0.05)
        subprocess.run(["losetup", "-d", self.device], check=True)


def template(work, count, per_dir):
    """The image holding the tree, and the tree's entry count."""
    image = work / "exfat-template.img"
    with open(image, "wb") as f:
        f.truncate(IMAGE_MIB * 2**20)
    subprocess.run(["mkfs.exfat", str(image)], check=True, capture_output=True)
    with Mounted(image, work / "exfat") as mounted:
        made = subprocess.run([sys.executable, str(HERE / "make_tree.py"),
                               str(mounted.point / "tree"), str(count), str(per_dir)],
                              check=True, capture_output=True, text=True)
    return image, int(made.stdout.split()[0])


def listing(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


def perf_counts(argv, events, work, env):
    """The counts of the events over one run of argv, its output going to a
    file as in the timed runs (to /dev/null, a character device, DAZI would
    write each line as soon as it is complete, as on a console)."""
    counts = work / "perf.csv"
    with open(work / "perf.out", "wb") as out:
        subprocess.run(["perf", "stat", "-x,", "-o", str(counts), "-e", ",".join(events), "--",
                        *argv], stdout=out, stderr=subprocess.DEVNULL, env=env)
    found = dict.fromkeys(events, 0)
    for line in counts.read_text().splitlines():
        fields = line.split(",")
        if len(fields) > 2 and fields[2] in found and fields[0].isdigit():
            found[fields[2]] = int(fields[0])
    return found


def bench(dazi, lower_bound, runs, count, per_dir, work, env):
    why = cannot_mount()
    if why:
        print(f"\nNOTE: no exFAT run here ({why}): it needs root, FUSE, loop devices, "
              "exfatprogs and exfat-fuse")
        return
    work.mkdir(parents=True, exist_ok=True)
    image, entries = template(work, count, per_dir)
    copy = work / "exfat-run.img"
    commands = {
        "DAZI, stdout to a file": lambda t: [dazi, str(t)],
        "lower bound (rename(2))": lambda t: [lower_bound, "--plain", str(t)],
    }
    times = {name: [] for name in commands}
    trees = {}

    def fresh():
        shutil.copyfile(image, copy)
        return Mounted(copy, work / "exfat")

    for round_ in range(runs):
        names = list(commands)
        for name in names[round_ % 2:] + names[:round_ % 2]:
            with fresh() as mounted:
                tree = mounted.point / "tree"
                with open(work / "exfat-dazi.out", "wb") as out:
                    start = time.perf_counter()
                    code = subprocess.call(commands[name](tree), stdout=out,
                                           stderr=subprocess.DEVNULL, env=env)
                    elapsed = time.perf_counter() - start
                if code != 0:
                    sys.exit(f"exFAT: {name} ended with {code}")
                times[name].append(elapsed)
                if round_ == 0:
                    trees[name] = listing(tree)
    if len(set(map(tuple, trees.values()))) != 1:
        print("NOTE: on exFAT DAZI and the lower bound left different trees")

    calls = {}
    if shutil.which("perf"):
        for name, argv in commands.items():
            with fresh() as mounted:
                counted = perf_counts(argv(mounted.point / "tree"),
                                      ["raw_syscalls:sys_enter", *RENAME_CALLS], work, env)
            start_up = perf_counts([argv(Path())[0], "-?"], ["raw_syscalls:sys_enter"],
                                   work, env)["raw_syscalls:sys_enter"]
            calls[name] = ((counted["raw_syscalls:sys_enter"] - start_up) / entries,
                           sum(counted[e] for e in RENAME_CALLS) / entries)
    copy.unlink(missing_ok=True)
    image.unlink()

    median = {name: statistics.median(t) for name, t in times.items()}
    dazi_time, lower = median["DAZI, stdout to a file"], median["lower bound (rename(2))"]
    print(f"\n### exFAT (mount.exfat-fuse on a loop device): N = {count:,} "
          f"({entries:,} entries, {runs} runs each)\n")
    print("| command | median s | µs / entry | × lower bound | system calls / entry "
          "| of them renames |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, m in median.items():
        per_entry, renames = calls.get(name, (None, None))
        shown = (f"{per_entry:.2f} | {renames:.2f}" if per_entry is not None else "– | –")
        print(f"| {name} | {m:.3f} | {m / entries * 1e6:.0f} | {m / lower:.2f} | {shown} |")
    if not calls:
        print("\nNOTE: perf is missing: no system calls counted")
    ratio = dazi_time / lower
    print(f"\n- DAZI / lower bound on exFAT: {ratio:.2f} (target ≤ 1.3): "
          f"{'met' if ratio <= 1.3 else 'NOT met'}")
    if calls:
        per_entry = calls["DAZI, stdout to a file"][0]
        print(f"- DAZI's system calls per entry on exFAT, beyond start-up: {per_entry:.2f} "
              f"(target ≤ 3): {'met' if per_entry <= 3 else 'NOT met'}")
