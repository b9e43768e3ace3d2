#!/usr/bin/env python3
"""Times mox32 against its peers work by work; started by bench/run.sh.

Each work runs a warm-up pair, then N rounds in which mox32 and each peer
run in turn, every run writing into a destination of its own; every run is
checked afterwards, and a work with a failed check reports no ratio. Wall
time is measured around the process, CPU time (user + system) comes from
wait4 and peak memory from /usr/bin/time.
"""
import argparse
import datetime
import hashlib
import os
import random
import re
import shlex
import shutil
import stat
import statistics
import subprocess
import sys
import tempfile
import time

BLOCK = 4096
REAL_TOPS = (("include", "/usr/include"), ("doc", "/usr/share/doc"))
MOX = None  # the mox32 binary, from the command line
TIME = "/usr/bin/time"
DRIVES = []  # (letter, directory) as MOX32_DRIVES gives them to mox32


def dos(path):
    """The DOS spelling under which mox32 reaches a path of the work directory."""
    for letter, root in DRIVES:
        if path == root or path.startswith(root + "/"):
            return letter + ":\\" + path[len(root) + 1:].replace("/", "\\")
    raise ValueError(path + " lies on no drive")


class Tool:
    """A command line of one tool for a source and a destination; `make`
    builds the up-to-date copy that a no-op update starts from."""

    def __init__(self, name, cmd, make=None):
        self.name, self.cmd, self.make = name, cmd, make
        self.slug = name.split()[0]


class Work:
    def __init__(self, name, title, tree, kind, mox, peers):
        self.name, self.title, self.tree, self.kind = name, title, tree, kind
        self.mox, self.peers = mox, peers


def mox(*opts):
    return lambda s, d: [MOX, *opts, dos(s), dos(d)]


def works():
    copy, update = Tool("mox32", mox("/S")), Tool("mox32", mox("/S", "/U"), mox("/S"))
    cp_a = lambda s, d: ["cp", "-a", s, d]
    rsync_a = lambda s, d: ["rsync", "-a", s + "/", d]
    cp, rs = Tool("cp -a", cp_a), Tool("rsync -a", rsync_a)
    cpu, rsu = Tool("cp -ru", lambda s, d: ["cp", "-ru", s + "/.", d], cp_a), Tool("rsync -a", rsync_a, rsync_a)
    walk = Tool("mox32", mox("/S", "/E", "/V-"))
    find = Tool("find -printf", lambda s, d: ["find", s, "-printf", "%p %s %T@\n"])
    big = Tool("mox32", lambda s, d: [MOX, dos(s + "/big.bin"), dos(d)])
    cp1 = Tool("cp", lambda s, d: ["cp", s + "/big.bin", d + "/"])
    # `mv SRC DST` would rename the whole directory in one call and compare
    # nothing; moving each file, as mox32 does, is the work worth timing.
    mv = Tool("mv", lambda s, d: ["find", s, "-mindepth", "1", "-maxdepth", "1",
                                  "-exec", "mv", "-t", d, "--", "{}", "+"])
    return [
        Work("real-copy", "fresh copy of the real tree", "real", "copy", copy, [cp, rs]),
        Work("real-noop", "no-op update of the real tree", "real", "noop", update, [cpu, rsu]),
        Work("walk", "echo walk of the real tree", "real", "walk", walk, [find]),
        Work("flat-copy", "fresh copy of the flat tree", "flat", "copy", copy, [cp]),
        Work("flat-noop", "no-op update of the flat tree", "flat", "noop", update, [cpu]),
        Work("nested-copy", "fresh copy of the nested tree", "nested", "copy", copy, [cp]),
        Work("nested-noop", "no-op update of the nested tree", "nested", "noop", update, [cpu]),
        Work("big-copy", "copy of one big file", "big", "file", big, [cp1]),
        Work("move", "move of the flat tree's files to another directory", "flat", "move",
             Tool("mox32", mox("/M")), [mv]),
    ]


# ---- trees ----------------------------------------------------------------

def real_files(step):
    """The regular files of the real tree as (source, relative name, size).
    Links are left out, since mox32 and cp -a treat them differently, and
    so are names that differ from another only in letter case (xt_mark.h
    and xt_MARK.h): mox32 finds names ignoring case and refuses the twin."""
    found = []
    for name, top in REAL_TOPS:
        for dirpath, dirnames, filenames in os.walk(top):
            seen = set()
            dirnames[:] = [d for d in sorted(dirnames) if not twin(seen, d)]
            for fn in sorted(filenames):
                path = os.path.join(dirpath, fn)
                st = os.lstat(path)
                if stat.S_ISREG(st.st_mode) and os.access(path, os.R_OK) and not twin(seen, fn):
                    found.append((path, os.path.join(name, os.path.relpath(path, top)), st.st_size))
    return found[::step]


def twin(seen, name):
    """Whether a name of the same directory differing only in case came first."""
    key = name.casefold()
    if key in seen:
        return True
    seen.add(key)
    return False


class Trees:
    def __init__(self, quick):
        q = 10 if quick else 1
        self.c = self.d = None  # the drives C: (sources) and D: (destinations)
        self.flat_files = 100000 // q
        self.nested_dirs, self.nested_per_dir = 1000 // q, 100
        self.big_mib = 1024 // q
        self.real = real_files(q) if os.path.isdir("/usr/include") else None
        self.refs = {}

    def path(self, tree):
        return os.path.join(self.c, tree)

    def footprint(self, tree):
        """Bytes and inodes that one copy of a tree takes, roughly."""
        blocks = lambda size: -(-size // BLOCK) * BLOCK
        if tree == "real":
            dirs = len({os.path.dirname(rel) for _, rel, _ in self.real})
            return sum(blocks(s) for _, _, s in self.real) + dirs * BLOCK, len(self.real) + dirs
        if tree == "flat":
            return self.flat_files * (BLOCK + 64), self.flat_files + 1
        if tree == "nested":
            n = self.nested_dirs * self.nested_per_dir
            return n * BLOCK + self.nested_dirs * BLOCK, n + self.nested_dirs + 1
        return self.big_mib << 20, 2

    def make(self, tree):
        root = self.path(tree)
        os.makedirs(root)
        data = random.Random(1).randbytes(BLOCK)
        if tree == "real":
            for src, rel, _ in self.real:
                os.makedirs(os.path.dirname(os.path.join(root, rel)), exist_ok=True)
                shutil.copy2(src, os.path.join(root, rel), follow_symlinks=False)
        elif tree == "flat":
            for i in range(self.flat_files):
                write(os.path.join(root, "file%06d.dat" % i), data[:(i * 7919) % BLOCK])
        elif tree == "nested":
            for d in range(self.nested_dirs):
                os.mkdir(os.path.join(root, "dir%03d" % d))
                for i in range(self.nested_per_dir):
                    size = ((d * self.nested_per_dir + i) * 7919) % BLOCK
                    write(os.path.join(root, "dir%03d" % d, "file%02d.dat" % i), data[:size])
        else:
            # Random data: a compressing or deduplicating file system would
            # store a repeated pattern in a fraction of the space and turn
            # the copy into bookkeeping.
            with open(os.path.join(root, "big.bin"), "wb") as f:
                for _ in range(self.big_mib):
                    f.write(os.urandom(1 << 20))
        self.refs[tree] = survey(root)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def survey(root, ident=False):
    """Files, directories, bytes and a digest of the relative names below a
    directory; with ident, the digest also covers each file's inode and
    change time, so that any rewrite or touch shows."""
    files = dirs = size = 0
    names = []
    root = os.fsencode(root)
    for dirpath, dirnames, filenames in os.walk(root):
        dirs += 1
        for fn in filenames:
            path = os.path.join(dirpath, fn)
            st = os.lstat(path)
            files, size = files + 1, size + st.st_size
            entry = os.path.relpath(path, root)
            if ident:
                entry += b" %d %d" % (st.st_ino, st.st_ctime_ns)
            names.append(entry)
    names.sort()
    return files, dirs, size, hashlib.sha1(b"\n".join(names)).hexdigest()


# ---- running --------------------------------------------------------------

def spawn(argv, out=os.devnull, err=os.devnull, rss=None):
    """Runs a command; gives its exit status, wall and CPU seconds (of the
    process and the children it waited for) and, with a file for
    /usr/bin/time to write to, its peak resident memory in KiB. wait4's own
    peak would count this script's memory: a child started by vfork keeps
    the high-water mark of the memory it shared until exec."""
    if rss:
        argv = [TIME, "-f", "%M", "-o", rss, "--"] + argv
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
               (os.POSIX_SPAWN_OPEN, 2, err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)]
    t0 = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions)
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - t0
    peak = None
    if rss:
        with open(rss) as f:
            peak = int(f.read().split()[-1])  # after a line on a failed exit
    return os.waitstatus_to_exitcode(status), wall, ru.ru_utime + ru.ru_stime, peak


def strace_calls(argv, log):
    """System calls of one run under strace -f -c, or None when it failed."""
    rc = spawn(["strace", "-f", "-c", "-o", log] + argv)[0]
    with open(log) as f:
        totals = [line.split() for line in f if line.rstrip().endswith(" total")]
    return int(totals[-1][3]) if rc == 0 and totals else None


class Result:
    def __init__(self):
        self.wall, self.cpu, self.rss = [], [], []
        self.calls, self.problem = None, None


class Bench:
    def __init__(self, trees, runs, work):
        self.trees, self.runs, self.work = trees, runs, work
        self.logs = os.path.join(work, "logs")

    def shown(self, argv):
        """A command line as the user would type it, the work directory as $W."""
        argv = ["mox32" if a == MOX else a.replace("\n", "\\n") for a in argv]
        return shlex.join(argv).replace(self.work, "$W")

    def where(self, work, tool, n):
        """Source and destination of one run of a tool."""
        base = os.path.join(self.trees.d, work.name)
        if work.kind == "noop":
            return self.trees.path(work.tree), os.path.join(base, tool.slug)
        if work.kind == "move":
            dst = os.path.join(base, "%s-%s" % (tool.slug, n))
            return dst + "-src", dst
        return self.trees.path(work.tree), os.path.join(base, "%s-%s" % (tool.slug, n))

    def prepare(self, work, tools, rounds, results):
        """Everything a run needs before the clock starts: the up-to-date
        copies of a no-op, the sources of a move, destination directories.
        Gives False when a tool's up-to-date copy could not be made."""
        src = self.trees.path(work.tree)
        self.before = {}
        for tool in tools:
            if work.kind == "noop":
                s, d = self.where(work, tool, None)
                os.makedirs(os.path.dirname(d), exist_ok=True)
                rc = spawn(tool.make(s, d))[0]
                problem = "exit status %d" % rc if rc else self.like_source(work.tree, d)
                if problem:
                    results[tool.name].problem = "up-to-date copy: " + problem
                    return False
                self.before[tool.name] = survey(d, ident=True)
            for n in rounds:
                s, d = self.where(work, tool, n)
                if work.kind in ("file", "move"):
                    os.makedirs(d)
                if work.kind == "move":
                    subprocess.run(["cp", "-a", src, s], check=True)
        return True

    def check(self, work, tool, src, dst, out):
        """Why a run did not do its work, or None when it did."""
        if work.kind == "noop":
            return None if survey(dst, ident=True) == self.before[tool.name] else "the up-to-date copy changed"
        if work.kind == "walk":
            if os.path.lexists(dst):
                return "the echo run created " + dst
            return self.check_walk_output(tool, out, self.trees.refs[work.tree])
        if work.kind == "move" and os.path.exists(src) and survey(src)[0]:
            return "files left in the source"
        return self.like_source(work.tree, dst)

    def like_source(self, tree, dst):
        """Whether a destination holds the files of a tree, names and sizes."""
        ref = self.trees.refs[tree]
        got = survey(dst) if os.path.isdir(dst) else (0, 0, 0, "")
        if (got[0], got[2], got[3]) != (ref[0], ref[2], ref[3]):
            return "%d files, %d bytes at the destination; %d files, %d bytes expected%s" % (
                got[0], got[2], ref[0], ref[2], "" if got[0] != ref[0] or got[2] != ref[2] else " (names differ)")
        return None

    def check_walk_output(self, tool, out, ref):
        if out is None:
            return None
        with open(out, errors="replace") as f:
            text = f.read()
        if tool.slug == "find":
            got, want = text.count("\n"), ref[0] + ref[1]
        else:
            m = re.search(r"^\s*(\d+) File\(s\) copied$", text, re.M)
            got, want = (int(m.group(1)) if m else -1), ref[0]
        return None if got == want else "it listed %d entries, %d expected" % (got, want)

    def measure(self, work):
        t0 = time.perf_counter()
        tools = [work.mox] + work.peers
        rounds = ["w"] + [str(i) for i in range(1, self.runs + 1)]
        results = {t.name: Result() for t in tools}
        if not self.prepare(work, tools, rounds + ["s"], results):
            return results
        for t in tools:
            print("  %-13s %s" % (t.name, self.shown(t.cmd(*self.where(work, t, "N")))))
        for n in rounds:
            for t in tools:
                r = results[t.name]
                s, d = self.where(work, t, n)
                stem = os.path.join(self.logs, "%s-%s-%s" % (work.name, t.slug, n))
                out = stem + ".out" if work.kind == "walk" and n == "w" else os.devnull
                os.sync()
                rc, wall, cpu, rss = spawn(t.cmd(s, d), out, stem + ".err", stem + ".rss")
                problem = "exit status %d" % rc if rc else self.check(work, t, s, d, out if out != os.devnull else None)
                if problem and not r.problem:
                    r.problem = "run %s: %s (see %s.err)" % (n, problem, stem)
                if n != "w":
                    r.wall.append(wall), r.cpu.append(cpu), r.rss.append(rss)
            print(".", end="", flush=True)
        print(" %.0f s" % (time.perf_counter() - t0), end="", flush=True)
        if shutil.which("strace"):
            t0 = time.perf_counter()
            for t in tools:
                s, d = self.where(work, t, "s")
                log = os.path.join(self.logs, "%s-%s.strace" % (work.name, t.slug))
                calls = strace_calls(t.cmd(s, d), log)
                results[t.name].calls = calls / self.trees.refs[work.tree][0] if calls else None
            print(", under strace %.0f s" % (time.perf_counter() - t0), end="")
        print()
        return results


# ---- reporting ------------------------------------------------------------

def plural(n, word):
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def fmt(x, form="%.3f"):
    return "n/a" if x is None else form % x


def ratios(a, b):
    rs = [x / y for x, y in zip(a, b) if y > 0]
    return (statistics.median(rs), min(rs), max(rs)) if rs else None


def rows(work, results, ref):
    """Table rows of one work: mox32 against each peer."""
    m = results[work.mox.name]
    mib = lambda r: max(r.rss) / 1024 if r.rss else None
    files = "%s, %.1f MiB" % (plural(ref[0], "file"), ref[2] / (1 << 20))
    out = []
    for p in work.peers:
        r = results[p.name]
        problem = m.problem or r.problem
        if problem:
            who = work.mox.name if m.problem else p.name
            out.append([work.title, files, "check failed", p.name, "-", "%s %s" % (who, problem), "-", "-", "-"])
            continue
        wall, cpu = ratios(m.wall, r.wall), ratios(m.cpu, r.cpu)
        out.append([work.title, files, fmt(statistics.median(m.wall)), p.name,
                    fmt(statistics.median(r.wall)),
                    "%.2f (%.2f-%.2f)" % wall if wall else "n/a",
                    fmt(cpu and cpu[0], "%.2f"),
                    "%s / %s" % (fmt(m.calls, "%.1f"), fmt(r.calls, "%.1f")),
                    "%s / %s" % (fmt(mib(m), "%.1f"), fmt(mib(r), "%.1f"))])
    return out


HEADER = ["work", "source", "mox32 s", "peer", "peer s", "mox32/peer (min-max)",
          "CPU mox32/peer", "syscalls/file mox32 / peer", "peak RSS MiB mox32 / peer"]


def markdown(table):
    lines = ["| " + " | ".join(HEADER) + " |", "|" + "---|" * len(HEADER)]
    last = None
    for row in table:
        shown = ["", ""] + row[2:] if row[0] == last else row
        last = row[0]
        lines.append("| " + " | ".join(shown) + " |")
    return "\n".join(lines)


def machine(work):
    def first(path, key):
        with open(path) as f:
            for line in f:
                if line.startswith(key):
                    return line.split(":", 1)[1].strip()
        return "unknown"
    fs = subprocess.run(["df", "--output=fstype", work], capture_output=True, text=True).stdout.split()
    ram = int(first("/proc/meminfo", "MemTotal").split()[0]) / (1 << 20)
    return "%s, %d CPUs, %.0f GiB RAM, %s, Linux %s" % (
        first("/proc/cpuinfo", "model name"), os.cpu_count(), ram, fs[-1] if fs else "unknown", os.uname().release)


def revision():
    """The commit mox32 was built from, marked when its sources differ from it."""
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    git = lambda *a: subprocess.run(["git", "-C", top, *a], capture_output=True, text=True).stdout.strip()
    changed = git("status", "--porcelain", "--", "src", "CMakeLists.txt")
    return (git("rev-parse", "--short", "HEAD") or "unknown") + (" with local changes" if changed else "")


# ---- main -----------------------------------------------------------------

def check_room(base, trees, selected, runs):
    """Refuses a run whose trees and destinations would not fit."""
    copies = {}
    for w in selected:
        tools = 1 + len(w.peers)
        n = tools * (runs + 2) if w.kind in ("copy", "file", "move") else tools if w.kind == "noop" else 0
        copies[w.tree] = copies.get(w.tree, 1) + n
    need = [sum(trees.footprint(t)[i] * n for t, n in copies.items()) * 1.1 for i in (0, 1)]
    st = os.statvfs(base)
    free, ifree = st.f_bavail * st.f_frsize, st.f_favail
    if free < need[0] + (1 << 30) or (st.f_files and ifree < need[1]):
        sys.exit("Error! %s has %.1f GiB and %d inodes free; this run needs about %.1f GiB and %d inodes.\n"
                 "Set BENCH_DIR to a directory with room, or use --quick, fewer --runs or --only."
                 % (base, free / (1 << 30), ifree, need[0] / (1 << 30), need[1]))



def options(all_works):
    ap = argparse.ArgumentParser(prog="bench/run.sh", description="Times mox32 against its peers.")
    ap.add_argument("--quick", action="store_true", help="trees ten times smaller, 3 runs: a smoke run")
    ap.add_argument("--only", action="append", metavar="WORK",
                    help="run only these works (comma-separated): " + ", ".join(w.name for w in all_works))
    ap.add_argument("--runs", type=int, help="timed rounds per work (default 5, 3 with --quick)")
    ap.add_argument("--keep", action="store_true", help="leave the work directory for inspection")
    ap.add_argument("--mox", help=argparse.SUPPRESS)
    ap.add_argument("--args-only", action="store_true", help=argparse.SUPPRESS)
    args = ap.parse_args()
    if args.runs is None:
        args.runs = 3 if args.quick else 5
    args.only = {n for o in args.only or [] for n in o.split(",") if n}
    unknown = args.only - {w.name for w in all_works}
    if unknown:
        ap.error("unknown work: " + ", ".join(sorted(unknown)))
    if args.runs < 1:
        ap.error("--runs must be at least 1")
    if args.args_only:
        sys.exit(0)
    if not args.mox:
        ap.error("run me through bench/run.sh, which builds the mox32 to time")
    return args


def open_work(base, trees):
    """Creates the work directory with its two drives and points mox32 at them."""
    work = os.path.realpath(tempfile.mkdtemp(prefix="mox32-bench.", dir=base))
    print("work directory: %s (shown as $W below)" % work)
    trees.c, trees.d = os.path.join(work, "c"), os.path.join(work, "d")
    for path in (trees.c, trees.d, os.path.join(work, "logs")):
        os.makedirs(path)
    DRIVES[:] = [("C", trees.c), ("D", trees.d)]
    os.environ["MOX32_DRIVES"] = "C=%s;D=%s" % (trees.c, trees.d)
    os.chdir(trees.c)  # mox32 takes its current drive from here
    return work


def run_works(bench, selected):
    """Measures each work and prints its lines; gives the table rows and
    whether any check failed."""
    table, failed = [], False
    for w in selected:
        print("\n%s: %s, %s after a warm-up pair" % (w.name, w.title, plural(bench.runs, "run")))
        results = bench.measure(w)
        print("  %-13s %9s %9s %9s %13s" % ("tool", "median s", "CPU s", "peak MiB", "syscalls/file"))
        for name, r in results.items():
            if r.problem:
                print("  %-13s check failed: %s" % (name, r.problem))
                failed = True
            elif r.wall:
                print("  %-13s %9.3f %9.3f %9.1f %13s" % (name, statistics.median(r.wall), statistics.median(r.cpu),
                                                      max(r.rss) / 1024, fmt(r.calls, "%.1f")))
        table += rows(w, results, bench.trees.refs[w.tree])
    return table, failed


def main():
    global MOX
    all_works = works()
    args = options(all_works)
    MOX = os.path.abspath(args.mox)
    base = os.environ.get("BENCH_DIR") or "/var/tmp"
    trees = Trees(args.quick)
    selected = [w for w in all_works if not args.only or w.name in args.only]
    if trees.real is None:
        print("no /usr/include: the works on the real tree are left out")
        selected = [w for w in selected if w.tree != "real"]
    check_room(base, trees, selected, args.runs)
    work = open_work(base, trees)
    try:
        for tree in dict.fromkeys(w.tree for w in selected):
            t0 = time.perf_counter()
            trees.make(tree)
            ref = trees.refs[tree]
            print("made the %s tree: %s, %.1f MiB (%.0f s)" % (
                tree, plural(ref[0], "file"), ref[2] / (1 << 20), time.perf_counter() - t0))
        table, failed = run_works(Bench(trees, args.runs, work), selected)
        print("\nmox32/peer is a ratio of wall times (median over the pairs): above 1, mox32 is slower.\n")
        print(markdown(table))
        print("\n%s, %s; mox32 %s (Release); median of %s, warm caches%s.\n" % (
            datetime.date.today().isoformat(), machine(work), revision(), plural(args.runs, "run"),
            "; --quick trees" if args.quick else ""))
    except BaseException:
        print("\nleft %s as it was; remove it with: rm -rf %s" % (work, shlex.quote(work)))
        raise
    if args.keep or failed:
        print("left the trees, destinations and logs in %s; remove them with: rm -rf %s" % (work, shlex.quote(work)))
    else:
        print("removing " + work)
        subprocess.run(["rm", "-rf", "--one-file-system", work], check=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
