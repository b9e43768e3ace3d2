"""The trees bench.py times its works on, and how it checks a sparse copy.

Each tree lies below the directory of drive C: a copy of real headers and
documents, flat and nested trees of small files, a big file of random
data, a sparse file, and a directory of files with a list naming them and
as many missing names.
"""
import errno
import hashlib
import os
import random
import shutil
import stat

BLOCK = 4096
REAL_TOPS = (("include", "/usr/include"), ("doc", "/usr/share/doc"))
DRIVES = []  # (letter, directory) as MOX32_DRIVES gives them to mox32


def dos(path):
    """The DOS spelling under which mox32 reaches a path of the work directory."""
    for letter, root in DRIVES:
        if path == root or path.startswith(root + "/"):
            return letter + ":\\" + path[len(root) + 1:].replace("/", "\\")
    raise ValueError(path + " lies on no drive")


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
        self.sparse_mib = 2048 // q
        # The list work's directory and list, and one ten times smaller of
        # each: the time per line must not grow with them.
        self.list_size = {"list": (20000 // q, 100000 // q), "list-tenth": (2000 // q, 10000 // q)}
        self.real = real_files(q) if os.path.isdir("/usr/include") else None
        self.refs = {}

    def path(self, tree):
        return os.path.join(self.c, tree)

    def units(self, tree):
        """What a work's counts are divided by: the lines of a list, else
        the files of the tree."""
        return self.list_size[tree][1] if tree in self.list_size else self.refs[tree][0]

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
        if tree == "sparse":
            return len(ISLANDS) * ISLAND, 2
        if tree in self.list_size:
            files, lines = self.list_size[tree]
            return files * (BLOCK + 64) + lines * 64, files + 3
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
        elif tree == "sparse":
            size = self.sparse_mib << 20
            fd = os.open(os.path.join(root, "sparse.img"), os.O_WRONLY | os.O_CREAT, 0o644)
            try:
                for where in ISLANDS:
                    os.pwrite(fd, os.urandom(ISLAND), min(int(where * size), size - ISLAND))
                os.ftruncate(fd, size)
            finally:
                os.close(fd)
        elif tree in self.list_size:
            self.make_list(tree, root, data)
        else:
            # Random data: a compressing or deduplicating file system would
            # store a repeated pattern in a fraction of the space and turn
            # the copy into bookkeeping.
            with open(os.path.join(root, "big.bin"), "wb") as f:
                for _ in range(self.big_mib):
                    f.write(os.urandom(1 << 20))
        self.refs[tree] = survey(root)

    def make_list(self, tree, root, data):
        """A directory of files and a list whose lines name them, each
        file twice or more, and as many names that are missing from it, in
        random order: the DOS paths for mox32 in root.lst, the bare names
        for rsync in root.names."""
        files, lines = self.list_size[tree]
        names = ["file%06d.dat" % i for i in range(files)]
        for i, name in enumerate(names):
            write(os.path.join(root, name), data[:(i * 7919) % BLOCK])
        half = lines // 2
        listed = [names[i % files] for i in range(half)] + ["gone%06d.dat" % i for i in range(lines - half)]
        random.Random(2).shuffle(listed)
        base = dos(root)
        write(root + ".lst", "".join("%s\\%s\n" % (base, n) for n in listed).encode())
        write(root + ".names", "".join(n + "\n" for n in listed).encode())

    def make_empty(self):
        """The source of the runs whose instructions are subtracted as the
        cost of starting: an empty directory with empty lists beside it."""
        os.makedirs(self.path("empty"))
        for name in ("empty.lst", "empty.names"):
            write(self.path(name), b"")
        self.refs["empty"] = survey(self.path("empty"))


# Where the sparse file holds data, as fractions of its size (the last one
# ends where the file does), and how much each island holds.
ISLANDS = (0, 0.3 + 1e-6, 0.7, 1)
ISLAND = 64 << 10


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


# ---- checks ---------------------------------------------------------------

def segments(fd, size):
    """The ranges of an open file that hold data, as its file system tells
    them; the whole file where it cannot tell."""
    found, pos = [], 0
    while pos < size:
        try:
            start = os.lseek(fd, pos, os.SEEK_DATA)
        except OSError as e:
            if e.errno == errno.ENXIO:
                break
            return [(0, size)]
        pos = os.lseek(fd, start, os.SEEK_HOLE)
        found.append((start, pos))
    return found


def same_sparse(a, b):
    """Why the copy b of the sparse file a is not a good one, or None: it
    must be as long, take no more than twice a's blocks, and hold the same
    bytes wherever either file holds data (a hole in both is zeros in both)."""
    if not os.path.exists(b):
        return "no copy"
    sa, sb = os.stat(a), os.stat(b)
    if sa.st_size != sb.st_size:
        return "%d bytes, %d expected" % (sb.st_size, sa.st_size)
    if sb.st_blocks > 2 * sa.st_blocks:
        return "%.1f MiB allocated, twice the source's at most (%.1f MiB)" % (
            sb.st_blocks / 2048, sa.st_blocks / 1024)
    with open(a, "rb") as fa, open(b, "rb") as fb:
        ranges = sorted(segments(fa.fileno(), sa.st_size) + segments(fb.fileno(), sb.st_size))
        end = 0
        for start, stop in ranges:
            for pos in range(max(start, end), stop, 1 << 20):
                n = min(1 << 20, stop - pos)
                if os.pread(fa.fileno(), n, pos) != os.pread(fb.fileno(), n, pos):
                    return "the bytes at %d differ" % pos
            end = max(end, stop)
    return None
