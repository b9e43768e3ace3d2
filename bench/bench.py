#!/usr/bin/env python3
"""Times mox32 against its peers work by work; started by bench/run.sh.

Each work runs a warm-up pair, then N rounds in which mox32 and each peer
run in turn, every run writing into a destination of its own; every run is
checked afterwards, and a work with a failed check reports no ratio. Wall
time is measured around the process, CPU time (user + system) comes from
wait4 and peak memory from /usr/bin/time. A run that passes the timeout is
stopped and reported as not finished; that tool's later runs of the work
are left out.

The user-space instructions per file come from one run of each tool under
callgrind, which counts the same whatever else the machine is doing. Under
it a program runs some fifty times slower, so it runs on the trees of
--quick (ten times smaller; the real tree, small enough, whole), and a run
of the same tool over an empty source is subtracted: what is left is the
cost of the files, not of starting the program, which would weigh ten
times more on the smaller tree.
"""
import argparse
import datetime
import glob
import os
import re
import shlex
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from report import fmt, instr, machine, markdown, per_line, plural, revision, rows, source_text
from trees import DRIVES, Trees, dos, same_sparse, survey

MOX = None  # the mox32 binary, from the command line
TIME = "/usr/bin/time"
TIMEOUT = 300  # seconds a run may take, from the command line


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
    sparse = Tool("mox32", lambda s, d: [MOX, dos(s + "/sparse.img"), dos(d)])
    cps = Tool("cp --sparse=auto", lambda s, d: ["cp", "--sparse=auto", s + "/sparse.img", d + "/"])
    # A list names some files more than once: /U copies each once, as
    # rsync does, where a plain copy would write it again for every line.
    # Each tool reads a list of its own beside the directory: DOS paths for
    # mox32, names relative to the directory for rsync.
    listed = Tool("mox32", lambda s, d: [MOX, "/U", "@" + dos(s + ".lst"), dos(d)])
    rsl = Tool("rsync --files-from", lambda s, d: ["rsync", "-a", "--files-from=" + s + ".names",
                                                   "--ignore-missing-args", s + "/", d])
    return [
        Work("real-copy", "fresh copy of the real tree", "real", "copy", copy, [cp, rs]),
        Work("real-noop", "no-op update of the real tree", "real", "noop", update, [cpu, rsu]),
        Work("walk", "echo walk of the real tree", "real", "walk", walk, [find]),
        Work("flat-copy", "fresh copy of the flat tree", "flat", "copy", copy, [cp]),
        Work("flat-noop", "no-op update of the flat tree", "flat", "noop", update, [cpu]),
        Work("nested-copy", "fresh copy of the nested tree", "nested", "copy", copy, [cp]),
        Work("nested-noop", "no-op update of the nested tree", "nested", "noop", update, [cpu]),
        Work("big-copy", "copy of one big file", "big", "file", big, [cp1]),
        Work("sparse-copy", "copy of one sparse file", "sparse", "sparse", sparse, [cps]),
        Work("list", "copy of what a list names, half of it missing", "list", "list", listed, [rsl]),
        Work("move", "move of the flat tree's files to another directory", "flat", "move",
             Tool("mox32", mox("/M")), [mv]),
    ]


# ---- running --------------------------------------------------------------

def kill(group):
    try:
        os.killpg(group, signal.SIGKILL)
    except ProcessLookupError:
        pass


class Ran:
    """How a run went: its exit status, wall and CPU seconds (of the
    process and the children it waited for), its peak resident memory in
    KiB when asked for, and whether the timeout stopped it."""

    def __init__(self, rc, wall, cpu, peak, late):
        self.rc, self.wall, self.cpu, self.peak, self.late = rc, wall, cpu, peak, late


def spawn(argv, out=os.devnull, err=os.devnull, rss=None):
    """Runs a command in a process group of its own, which the whole of is
    killed when it passes TIMEOUT; with a file for /usr/bin/time to write
    to, measures its peak memory. wait4's own peak would count this
    script's memory: a child started by vfork keeps the high-water mark of
    the memory it shared until exec."""
    if rss:
        argv = [TIME, "-f", "%M", "-o", rss, "--"] + argv
    actions = [(os.POSIX_SPAWN_OPEN, 0, os.devnull, os.O_RDONLY, 0),
               (os.POSIX_SPAWN_OPEN, 1, out, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644),
               (os.POSIX_SPAWN_OPEN, 2, err, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)]
    late = threading.Event()

    def stop():
        late.set()
        kill(pid)

    t0 = time.perf_counter()
    pid = os.posix_spawnp(argv[0], argv, os.environ, file_actions=actions, setpgroup=0)
    timer = threading.Timer(TIMEOUT, stop)
    timer.start()
    try:
        # Until it is reaped the group's number stays its own, so the timer
        # cannot kill another one.
        os.waitid(os.P_PID, pid, os.WEXITED | os.WNOWAIT)
    except BaseException:
        kill(pid)
        raise
    finally:
        timer.cancel()
    _, status, ru = os.wait4(pid, 0)
    wall = time.perf_counter() - t0
    peak = None
    if rss and not late.is_set():
        with open(rss) as f:
            peak = int(f.read().split()[-1])  # after a line on a failed exit
    return Ran(os.waitstatus_to_exitcode(status), wall, ru.ru_utime + ru.ru_stime, peak, late.is_set())


def strace_calls(argv, log):
    """System calls of one run under strace -f -c, or None when it failed."""
    if spawn(["strace", "-f", "-c", "-o", log] + argv).rc != 0:
        return None
    with open(log) as f:
        totals = [line.split() for line in f if line.rstrip().endswith(" total")]
    return int(totals[-1][3]) if totals else None


def callgrind_count(argv, stem):
    """User-space instructions of one run under callgrind, its children
    included (None when it failed), and whether it passed the timeout."""
    for old in glob.glob(stem + ".*"):
        os.remove(old)
    vg = ["valgrind", "--tool=callgrind", "--trace-children=yes", "--callgrind-out-file=" + stem + ".%p"]
    ran = spawn(vg + argv, err=stem + ".log")
    if ran.rc != 0:
        return None, ran.late
    total = 0
    for path in glob.glob(stem + ".*[0-9]"):
        with open(path) as f:
            total += sum(int(line.split()[1]) for line in f if line.startswith("summary:"))
    return total, False


class Result:
    def __init__(self):
        self.wall, self.cpu, self.rss = [], [], []
        self.calls = self.instr = None
        self.problem = None
        self.late = None       # the round whose run passed the timeout
        self.instr_why = None  # why there is no count of instructions
        self.instr_whole = False  # instr counts the whole run, not per file
        self.tenth = []        # a list's work: the wall times ten times smaller
        self.tenth_late = None


class Bench:
    def __init__(self, trees, runs, work, small):
        self.trees, self.runs, self.work = trees, runs, work
        self.small = small  # the trees callgrind runs on
        self.logs = os.path.join(work, "logs")
        self.before = {}

    def shown(self, argv):
        """A command line as the user would type it, the work directory as $W."""
        argv = ["mox32" if a == MOX else a.replace("\n", "\\n") for a in argv]
        return shlex.join(argv).replace(self.work, "$W")

    def where(self, work, tool, n, trees=None, tree=None):
        """Source and destination of one run of a tool, by default on the
        timed trees and the work's own tree. The timed runs of a no-op
        share one up-to-date copy, callgrind's run ("g") has its own."""
        trees, tree = trees or self.trees, tree or work.tree
        base = os.path.join(trees.d, work.name)
        other = "" if tree == work.tree else "-" + tree
        if work.kind == "noop":
            return trees.path(tree), os.path.join(base, tool.slug + other + ("-g" if n == "g" else ""))
        dst = os.path.join(base, "%s-%s%s" % (tool.slug, n, other))
        if work.kind == "move":
            return dst + "-src", dst
        return trees.path(tree), dst

    def prepare(self, work, tools, rounds, results, trees=None, tree=None):
        """Everything a run needs before the clock starts: the up-to-date
        copies of a no-op, the sources of a move, destination directories.
        Gives False when a tool's up-to-date copy could not be made."""
        trees, tree = trees or self.trees, tree or work.tree
        src = trees.path(tree)
        for tool in tools:
            made = {self.where(work, tool, n, trees, tree)[1] for n in rounds} if work.kind == "noop" else ()
            for d in made:
                os.makedirs(os.path.dirname(d), exist_ok=True)
                rc = spawn(tool.make(src, d)).rc
                problem = "exit status %d" % rc if rc else self.like_source(trees, tree, d)
                if problem:
                    results[tool.name].problem = "up-to-date copy: " + problem
                    return False
                self.before[d] = survey(d, ident=True)
            for n in rounds:
                s, d = self.where(work, tool, n, trees, tree)
                os.makedirs(os.path.dirname(d), exist_ok=True)
                if work.kind in ("file", "sparse", "move"):
                    os.makedirs(d)
                if work.kind == "move":
                    subprocess.run(["cp", "-a", src, s], check=True)
        return True

    def check(self, work, tool, src, dst, out, tree):
        """Why a run did not do its work, or None when it did."""
        if work.kind == "noop":
            return None if survey(dst, ident=True) == self.before[dst] else "the up-to-date copy changed"
        if work.kind == "walk":
            if os.path.lexists(dst):
                return "the echo run created " + dst
            return self.check_walk_output(tool, out, self.trees.refs[tree])
        if work.kind == "move" and os.path.exists(src) and survey(src)[0]:
            return "files left in the source"
        if work.kind == "sparse":
            return same_sparse(os.path.join(src, "sparse.img"), os.path.join(dst, "sparse.img"))
        return self.like_source(self.trees, tree, dst)

    def like_source(self, trees, tree, dst):
        """Whether a destination holds the files of a tree, names and sizes."""
        ref = trees.refs[tree]
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

    def timed(self, work, tool, n, tree, r):
        """One timed run of a tool, checked; a tool that did not finish
        once is run no more on that tree."""
        tenth = tree != work.tree
        if (r.tenth_late if tenth else r.late) is not None:
            return
        s, d = self.where(work, tool, n, tree=tree)
        stem = os.path.join(self.logs, "%s-%s-%s%s" % (work.name, tool.slug, n, "-tenth" if tenth else ""))
        out = stem + ".out" if work.kind == "walk" and n == "w" else os.devnull
        os.sync()
        ran = spawn(tool.cmd(s, d), out, stem + ".err", stem + ".rss")
        if ran.late:
            if tenth:
                r.tenth_late = n
            else:
                r.late = n
            return
        problem = "exit status %d" % ran.rc if ran.rc else self.check(
            work, tool, s, d, out if out != os.devnull else None, tree)
        if problem and not r.problem:
            r.problem = "run %s%s: %s (see %s.err)" % (n, " of the tenth" if tenth else "", problem, stem)
        if work.kind == "sparse" and os.path.exists(os.path.join(d, "sparse.img")):
            os.remove(os.path.join(d, "sparse.img"))  # a copy written whole would take its full size
        if n == "w":
            return
        if tenth:
            r.tenth.append(ran.wall)
        else:
            r.wall.append(ran.wall), r.cpu.append(ran.cpu), r.rss.append(ran.peak)

    def measure(self, work):
        t0 = time.perf_counter()
        tools = [work.mox] + work.peers
        rounds = ["w"] + [str(i) for i in range(1, self.runs + 1)]
        results = {t.name: Result() for t in tools}
        trees = [work.tree] + ([work.tree + "-tenth"] if work.kind == "list" else [])
        for tree in trees:
            if not self.prepare(work, tools, rounds + ["s"], results, tree=tree):
                return results
        for t in tools:
            print("  %-18s %s" % (t.name, self.shown(t.cmd(*self.where(work, t, "N")))))
        for n in rounds:
            for t in tools:
                for tree in trees:
                    self.timed(work, t, n, tree, results[t.name])
            print(".", end="", flush=True)
        print(" %.0f s" % (time.perf_counter() - t0), end="", flush=True)
        if shutil.which("strace"):
            t0 = time.perf_counter()
            for t in tools:
                if results[t.name].late is None:
                    s, d = self.where(work, t, "s")
                    log = os.path.join(self.logs, "%s-%s.strace" % (work.name, t.slug))
                    calls = strace_calls(t.cmd(s, d), log)
                    results[t.name].calls = calls / self.trees.units(work.tree) if calls else None
            print(", under strace %.0f s" % (time.perf_counter() - t0), end="", flush=True)
        if shutil.which("valgrind"):
            t0 = time.perf_counter()
            self.instructions(work, tools, results)
            print(", under callgrind %.0f s" % (time.perf_counter() - t0), end="")
        print()
        return results

    def callgrind_trees(self, tree):
        """The trees callgrind runs a work on: those of --quick, but for the
        real tree the timed one, which is small enough; a tenth of its files
        would keep nearly all of its directories, and the cost of each
        would weigh ten times more on every file."""
        return self.trees if tree == "real" else self.small

    def instructions(self, work, tools, results):
        """User-space instructions per file (per line of a list) of each
        tool: one run under callgrind over the work's tree of the --quick
        size, less one over an empty source. A work of one file gets the
        count of its whole run: what its data costs is lost in how the
        start-up varies with the names."""
        whole = work.kind in ("file", "sparse")
        trees = self.callgrind_trees(work.tree)
        for t in tools:
            r, counts = results[t.name], []
            r.instr_whole = whole
            for tree, on in ((work.tree, trees),) if whole else ((work.tree, trees), ("empty", self.small)):
                if not self.prepare(work, [t], ["g"], {t.name: Result()}, on, tree):
                    r.instr_why = "failed"
                    break
                s, d = self.where(work, t, "g", on, tree)
                stem = os.path.join(self.logs, "%s-%s-callgrind-%s" % (work.name, t.slug, tree))
                count, late = callgrind_count(t.cmd(s, d), stem)
                if count is None:
                    r.instr_why = "timeout" if late else "failed"
                    break
                counts.append(count)
            if len(counts) == 2:
                r.instr = (counts[0] - counts[1]) / trees.units(work.tree)
            elif whole and counts:
                r.instr = counts[0]


# ---- main -----------------------------------------------------------------

def trees_of(w):
    """The trees a work runs on."""
    return [w.tree] + ([w.tree + "-tenth"] if w.kind == "list" else [])


def check_room(base, trees, small, selected, runs):
    """Refuses a run whose trees and destinations would not fit."""
    need = [0, 0]
    for which, tree, copies in need_of(trees, selected, runs, "t") + need_of(small, selected, 0, "g"):
        for i in (0, 1):
            need[i] += which.footprint(tree)[i] * copies
    need = [n * 1.1 for n in need]
    if any(w.kind == "sparse" for w in selected):
        need[0] += trees.sparse_mib << 20  # a copy written whole, until it is checked and removed
    st = os.statvfs(base)
    free, ifree = st.f_bavail * st.f_frsize, st.f_favail
    if free < need[0] + (1 << 30) or (st.f_files and ifree < need[1]):
        sys.exit("Error! %s has %.1f GiB and %d inodes free; this run needs about %.1f GiB and %d inodes.\n"
                 "Set BENCH_DIR to a directory with room, or use --quick, fewer --runs or --only."
                 % (base, free / (1 << 30), ifree, need[0] / (1 << 30), need[1]))


def need_of(trees, selected, runs, which):
    """(trees, tree, copies) for each tree that a set of works makes and
    copies: the timed runs' trees (which "t") with runs rounds, or
    callgrind's ("g"), whose works each copy their tree once per tool."""
    copies = {}
    for w in selected:
        tools = 1 + len(w.peers)
        for tree in (trees_of(w) if which == "t" else [w.tree]):
            if which == "g":
                n = tools if w.kind in ("copy", "file", "move", "noop", "list") else 0
            else:
                n = tools * (runs + 2) if w.kind in ("copy", "file", "move", "list") else tools if w.kind == "noop" else 0
            copies[tree] = copies.get(tree, 1) + n
    return [(trees, t, n) for t, n in copies.items()]


def options(all_works):
    ap = argparse.ArgumentParser(prog="bench/run.sh", description="Times mox32 against its peers.")
    ap.add_argument("--quick", action="store_true", help="trees ten times smaller, 3 runs: a smoke run")
    ap.add_argument("--only", action="append", metavar="WORK",
                    help="run only these works (comma-separated): " + ", ".join(w.name for w in all_works))
    ap.add_argument("--runs", type=int, help="timed rounds per work (default 5, 3 with --quick)")
    ap.add_argument("--timeout", type=int, default=TIMEOUT, metavar="S",
                    help="stop a run after S seconds and report it as not finished (default %d)" % TIMEOUT)
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
    if args.timeout < 1:
        ap.error("--timeout must be at least 1")
    if args.args_only:
        sys.exit(0)
    if not args.mox:
        ap.error("run me through bench/run.sh, which builds the mox32 to time")
    return args


def open_work(base, trees, small):
    """Creates the work directory with its two drives and points mox32 at
    them; callgrind's smaller trees, when there are any, lie below both."""
    work = os.path.realpath(tempfile.mkdtemp(prefix="mox32-bench.", dir=base))
    print("work directory: %s (shown as $W below)" % work)
    trees.c, trees.d = os.path.join(work, "c"), os.path.join(work, "d")
    for path in (trees.c, trees.d, os.path.join(work, "logs")):
        os.makedirs(path)
    if small is not trees:
        small.c, small.d = os.path.join(trees.c, "callgrind"), os.path.join(trees.d, "callgrind")
        os.makedirs(small.c), os.makedirs(small.d)
    DRIVES[:] = [("C", trees.c), ("D", trees.d)]
    os.environ["MOX32_DRIVES"] = "C=%s;D=%s" % (trees.c, trees.d)
    os.chdir(trees.c)  # mox32 takes its current drive from here
    return work


def make_trees(trees, names, what):
    for tree in names:
        t0 = time.perf_counter()
        trees.make(tree)
        print("made the %s tree%s: %s (%.0f s)" % (
            tree, what, source_text(trees, tree), time.perf_counter() - t0))


def run_works(bench, selected):
    """Measures each work and prints its lines; gives the table rows, the
    notes under the table and whether any check failed."""
    table, notes, failed = [], [], False
    for w in selected:
        print("\n%s: %s, %s after a warm-up pair" % (w.name, w.title, plural(bench.runs, "run")))
        results = bench.measure(w)
        print("  %-18s %9s %9s %9s %13s %12s" % ("tool", "median s", "CPU s", "peak MiB", "syscalls/file",
                                                 "instr/file"))
        for name, r in results.items():
            if r.problem:
                print("  %-18s check failed: %s" % (name, r.problem))
                failed = True
            elif r.late is not None:
                print("  %-18s did not finish in %d s (run %s)" % (name, TIMEOUT, r.late))
            elif r.wall:
                print("  %-18s %9.3f %9.3f %9.1f %13s %12s" % (
                    name, statistics.median(r.wall), statistics.median(r.cpu), max(r.rss) / 1024,
                    fmt(r.calls, "%.1f"), instr(r)))
        lines = per_line(w, results, bench.trees, TIMEOUT)
        for line in lines:
            print("  " + line)
        notes += ["%s: %s." % (w.name, line) for line in lines]
        table += rows(w, results, bench.trees, TIMEOUT)
    return table, notes, failed


def main():
    global MOX, TIMEOUT
    all_works = works()
    args = options(all_works)
    MOX = os.path.abspath(args.mox)
    TIMEOUT = args.timeout
    base = os.environ.get("BENCH_DIR") or "/var/tmp"
    trees = Trees(args.quick)
    # callgrind counts on trees of the --quick size: the timed ones, or
    # smaller ones made for it.
    small = trees if args.quick else Trees(True)
    selected = [w for w in all_works if not args.only or w.name in args.only]
    if trees.real is None:
        print("no /usr/include: the works on the real tree are left out")
        selected = [w for w in selected if w.tree != "real"]
    check_room(base, trees, small, selected, args.runs)
    work = open_work(base, trees, small)
    try:
        make_trees(trees, dict.fromkeys(t for w in selected for t in trees_of(w)), "")
        if shutil.which("valgrind"):
            if small is not trees:
                make_trees(small, dict.fromkeys(w.tree for w in selected if w.tree != "real"), " for callgrind")
            small.make_empty()
        table, notes, failed = run_works(Bench(trees, args.runs, work, small), selected)
        print("\nmox32/peer is a ratio of wall times (median over the pairs): above 1, mox32 is slower.\n")
        print(markdown(table, args.quick))
        print("\n%s, %s; mox32 %s (Release); median of %s, warm caches%s. User instructions per file "
              "(per line of a list; of the whole run for one file): callgrind%s, less a run over an empty "
              "source.\n" % (
                  datetime.date.today().isoformat(), machine(work), revision(), plural(args.runs, "run"),
                  "; --quick trees" if args.quick else "",
                  "" if args.quick else " on the --quick trees but the real one"))
        for note in notes:
            print(note + "\n")
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
