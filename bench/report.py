"""What bench.py prints: the cells of its table, the notes under it and
the line that says where and on what it was measured."""
import os
import statistics
import subprocess


def plural(n, word):
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def fmt(x, form="%.3f"):
    return "n/a" if x is None else form % x


def instr(r):
    if r.instr_why or r.instr is None:
        return r.instr_why or "n/a"
    shown = "%.2fM" % (r.instr / 1e6) if abs(r.instr) >= 1e6 else "%.1fk" % (r.instr / 1e3)
    return shown + " whole run" if r.instr_whole else shown


def ratios(a, b):
    rs = [x / y for x, y in zip(a, b) if y > 0]
    return (statistics.median(rs), min(rs), max(rs)) if rs else None


def late(timeout):
    return "did not finish in %d s" % timeout


def source_text(trees, tree):
    ref = trees.refs[tree]
    if tree in trees.list_size:
        return "%s, %s" % (plural(trees.units(tree), "line"), plural(ref[0], "file"))
    return "%s, %.1f MiB" % (plural(ref[0], "file"), ref[2] / (1 << 20))


def rows(work, results, trees, timeout):
    """Table rows of one work: mox32 against each peer."""
    m = results[work.mox.name]
    mib = lambda r: max(r.rss) / 1024 if r.rss else None
    median = lambda r: late(timeout) if r.late is not None else fmt(statistics.median(r.wall) if r.wall else None)
    files = source_text(trees, work.tree)
    out = []
    for p in work.peers:
        r = results[p.name]
        problem = m.problem or r.problem
        if problem:
            who = work.mox.name if m.problem else p.name
            out.append([work.title, files, "check failed", p.name, "-", "%s %s" % (who, problem), "-", "-", "-", "-"])
            continue
        wall, cpu = ratios(m.wall, r.wall), ratios(m.cpu, r.cpu)
        out.append([work.title, files, median(m), p.name, median(r),
                    "%.2f (%.2f-%.2f)" % wall if wall else "n/a",
                    fmt(cpu and cpu[0], "%.2f"),
                    "%s / %s" % (fmt(m.calls, "%.1f"), fmt(r.calls, "%.1f")),
                    "%s / %s" % (instr(m), instr(r)),
                    "%s / %s" % (fmt(mib(m), "%.1f"), fmt(mib(r), "%.1f"))])
    return out


def per_line(work, results, trees, timeout):
    """How the time per line of a list grows with the list: one line per
    tool, or none for another work."""
    if work.kind != "list":
        return []
    small, big = work.tree + "-tenth", work.tree
    (sf, sl), (bf, bl) = trees.list_size[small], trees.list_size[big]
    out = []
    for name, r in results.items():
        at = lambda walls, gone, lines: (
            None if gone is not None or not walls else statistics.median(walls) / lines * 1e6)
        a, b = at(r.tenth, r.tenth_late, sl), at(r.wall, r.late, bl)
        shown = lambda x, gone: late(timeout) if gone is not None else fmt(x, "%.1f µs")
        out.append("%s per line: %s at %d lines over %d files, %s at %d lines over %d files%s" % (
            name, shown(a, r.tenth_late), sl, sf, shown(b, r.late), bl, bf,
            " (x%.2f)" % (b / a) if a and b else ""))
    return out


def header(quick):
    return ["work", "source", "mox32 s", "peer", "peer s", "mox32/peer (min-max)",
            "CPU mox32/peer", "syscalls/file mox32 / peer",
            "user instructions/file mox32 / peer (callgrind%s)" % ("" if quick else "; --quick trees but the real one"),
            "peak RSS MiB mox32 / peer"]


def markdown(table, quick):
    head = header(quick)
    lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
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
