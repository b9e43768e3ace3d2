#!/usr/bin/env bash
# The core table of copies, updates, moves and deletes on one kind of file
# system other than the one the rest of the suite runs on:
#
#   tests/fs/bed.sh KIND MOX32
#
# KIND is fusefat (FAT through FUSE), vfat (the kernel's FAT), xfs, btrfs,
# casefold (an ext4 directory that folds letter case) or sshfs (a directory
# served by an sshd started here on 127.0.0.1 with a key made here). Each
# is made on a small loop image or mount of its own below a temporary
# directory; every mount, loop device and server started here is undone on
# the way out, and no other. Exit status 77 (a skip) with a one-line reason
# where the machine refuses the file system; 1 when a check failed.
set -uo pipefail
kind=${1:?kind} mox=${2:?mox32 binary}
start=$SECONDS

skip() {
    echo "SKIP $kind: $*"
    exit 77
}

[ "$(id -u)" = 0 ] || skip "needs root (loop devices and mounts)"
[ -e /dev/loop-control ] || [ -e /dev/loop0 ] || skip "no loop device"

work=$(mktemp -d /tmp/mox32-fsbed.XXXXXX)
mounts=() # mount points to undo, last first
pids=()   # servers started here
cleanup() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null
    done
    for i in "${pids[@]}"; do
        kill "$i" 2>/dev/null && wait "$i" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT

# What the file system under test offers, found out below.
tmpfile=1   # makes unnamed files (O_TMPFILE)
foldscase=0 # one name whatever its letter case
canfill=1   # small enough to fill
clones=0    # shares extents between copies
nomodes=0   # holds no file modes

need() {
    command -v "$1" >/dev/null 2>&1 || skip "$1 missing (install $2)"
}

# image SIZE_MB: an empty image file.
image() {
    truncate -s "$1M" "$work/fs.img" || skip "cannot make an image in $work"
}

mnt=$work/mnt
mkdir -p "$mnt" "$work/c" "$work/e"
case $kind in
fusefat)
    need mkfs.vfat dosfstools
    need fusefat fusefat
    [ -e /dev/fuse ] || skip "no /dev/fuse"
    image 64
    mkfs.vfat "$work/fs.img" >/dev/null || skip "mkfs.vfat failed"
    fusefat -o rw+ "$work/fs.img" "$mnt" >/dev/null 2>&1 || skip "fusefat refused the mount"
    mounts+=("$mnt")
    tmpfile=0 foldscase=1 nomodes=1
    ;;
vfat)
    need mkfs.vfat dosfstools
    image 64
    mkfs.vfat "$work/fs.img" >/dev/null || skip "mkfs.vfat failed"
    mount -o loop -t vfat "$work/fs.img" "$mnt" 2>/dev/null ||
        skip "the kernel mounts no vfat (FAT is tested through fusefat)"
    mounts+=("$mnt")
    tmpfile=0 foldscase=1 nomodes=1
    ;;
xfs)
    need mkfs.xfs xfsprogs
    image 300
    mkfs.xfs -q -f "$work/fs.img" >/dev/null 2>&1 || skip "mkfs.xfs failed"
    mount -o loop -t xfs "$work/fs.img" "$mnt" 2>/dev/null || skip "the kernel refused the xfs mount"
    mounts+=("$mnt")
    clones=1
    ;;
btrfs)
    need mkfs.btrfs btrfs-progs
    image 200
    mkfs.btrfs -q -f "$work/fs.img" >/dev/null 2>&1 || skip "mkfs.btrfs failed"
    mount -o loop -t btrfs "$work/fs.img" "$mnt" 2>/dev/null || skip "the kernel refused the btrfs mount"
    mounts+=("$mnt")
    clones=1
    ;;
casefold)
    need mkfs.ext4 e2fsprogs
    need chattr e2fsprogs
    image 64
    [ -e /sys/fs/ext4/features/casefold ] || skip "the kernel folds no case in ext4 (built without CONFIG_UNICODE)"
    mkfs.ext4 -q -F -O casefold "$work/fs.img" >/dev/null 2>&1 || skip "mkfs.ext4 knows no casefold"
    mkdir -p "$work/ext4"
    mount -o loop -t ext4 "$work/fs.img" "$work/ext4" 2>/dev/null ||
        skip "the kernel refused the casefold ext4 mount"
    mounts+=("$work/ext4")
    mkdir "$work/ext4/ci" && chattr +F "$work/ext4/ci" 2>/dev/null ||
        skip "chattr +F refused (kernel without casefolding)"
    mnt=$work/ext4/ci foldscase=1
    ;;
sshfs)
    need sshfs sshfs
    need ssh-keygen openssh-client
    [ -x /usr/sbin/sshd ] || skip "/usr/sbin/sshd missing (install openssh-server)"
    [ -e /dev/fuse ] || skip "no /dev/fuse"
    served=$work/served
    mkdir -p "$served" "$work/ssh"
    chmod 700 "$work/ssh"
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/host" || skip "ssh-keygen failed"
    ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/user" || skip "ssh-keygen failed"
    cp "$work/ssh/user.pub" "$work/ssh/authorized"
    # sshd insists on its privilege separation directory.
    [ -d /run/sshd ] || { mkdir -p /run/sshd && chmod 755 /run/sshd; }
    port=$((20000 + RANDOM % 20000))
    cat >"$work/ssh/config" <<EOF
ListenAddress 127.0.0.1:$port
HostKey $work/ssh/host
AuthorizedKeysFile $work/ssh/authorized
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
StrictModes no
UsePAM no
PidFile none
Subsystem sftp internal-sftp
EOF
    /usr/sbin/sshd -D -e -f "$work/ssh/config" 2>"$work/ssh/log" &
    pids+=($!)
    for _ in $(seq 50); do
        sshfs -o "port=$port,IdentityFile=$work/ssh/user,StrictHostKeyChecking=no" \
            -o "UserKnownHostsFile=/dev/null,BatchMode=yes,LogLevel=ERROR" \
            "root@127.0.0.1:$served" "$mnt" 2>/dev/null && break
        kill -0 "${pids[0]}" 2>/dev/null || skip "sshd would not start: $(tail -1 "$work/ssh/log")"
        sleep 0.1
    done
    mountpoint -q "$mnt" || skip "sshfs could not mount the served directory"
    mounts+=("$mnt")
    tmpfile=0 canfill=0
    ;;
*)
    echo "bed.sh: unknown kind $kind" >&2
    exit 2
    ;;
esac

export MOX32_DRIVES="C=$work/c;D=$mnt;E=$work/e" TZ=UTC LC_ALL=C
failures=0
# check NAME CONDITION...: one row's verdict.
check() {
    local name=$1
    shift
    if "$@"; then
        echo "ok   $kind: $name"
    else
        echo "FAIL $kind: $name"
        failures=$((failures + 1))
    fi
}

out=$work/out
# run ARGS...: mox32 with its output in $out; its status in $rc.
run() {
    "$mox" "$@" >"$out" 2>&1 </dev/null
    rc=$?
    return 0
}
said() { grep -qxF -- "$1" "$out"; }
count() { grep -cxF -- "$1" "$out"; }
notemps() { [ -z "$(find "$mnt" "$work/c" -name '_MOX_*' 2>/dev/null)" ]; }
same() { diff -r "$1" "$2" >/dev/null; }

# The source: files with times in odd seconds and nanoseconds (which a FAT
# disk rounds down to two seconds and sshfs to one), in a subdirectory too.
model=$work/model
mkdir -p "$model/sub"
printf 'alpha\n' >"$model/a.txt"
printf 'beta\n' >"$model/sub/b.txt"
head -c 300000 /dev/urandom >"$model/sub/c.bin"
touch -d '2024-05-05 10:00:01.123456789' "$model/a.txt" "$model/sub/b.txt"
touch -d '2023-02-03 04:05:07.5' "$model/sub/c.bin"
mk_tree() { cp -a "$model" "$1"; }
mk_tree "$work/c/t"

# A copy onto the file system is whole, with nothing left beside it, even
# where the file system holds no file modes (a FAT disk through FUSE
# refuses chmod and chown).
run /S 'C:\t' 'D:\t'
check "copy across file systems" test "$rc" = 0
check "copy is whole" same "$model" "$mnt/t"
check "copy leaves no temporary" notemps
check "a mode the file system cannot hold is said once, or never where it can" \
    test "$(count 'Warning! D:\t\a.txt: the file system keeps no file modes; copied without them')" = "$nomodes"

# Times rounded by the destination do not make /U copy again.
run /S /U 'C:\t' 'D:\t'
check "/U after a copy copies nothing" test "$rc" = 0 -a "$(count "       0 File(s) copied")" = 1

# Network paths on the share: as mounted (the mount table names it
# root@127.0.0.1:/...served), as mapped in MOX32_DRIVES, and refused,
# saying how to map it, where it is neither.
if [ "$kind" = sshfs ]; then
    unc='\\127.0.0.1'${served//\//\\}'\t'
    run /S "$unc" 'E:\n1'
    check "a mounted share is found by its network path" same "$model" "$work/e/n1"
    # Under a drive whose directory lies above the share's.
    MOX32_DRIVES="Z=/;E=$work/e;\\\\nas\\share=$mnt" run /S '\\nas\share\t' 'E:\n2'
    check "a mapped share is found by its network path" same "$model" "$work/e/n2"
    run /S '\\nowhere\share\t' 'E:\n3'
    check "an unmapped share is refused, named" \
        said 'Error! \\nowhere\share is not mounted here: mount it, or map it in MOX32_DRIVES as \\nowhere\share=/dir'
    check "an unmapped share fails the run" test "$rc" = 1
fi

# /N leaves an existing file alone.
printf 'theirs\n' >"$mnt/t/a.txt"
run /S /N 'C:\t' 'D:\t'
check "/N keeps the existing file" test "$(cat "$mnt/t/a.txt" 2>/dev/null)" = theirs

# /B keeps the replaced file under a backup name.
run /S /B 'C:\t' 'D:\t'
check "/B copies" test "$rc" = 0
check "/B backup holds the old data" test "$(cat "$mnt/t/a(000).txt" 2>/dev/null)" = theirs
check "/B new data in place" test "$(cat "$mnt/t/a.txt" 2>/dev/null)" = alpha
rm -f "$mnt/t/a(000).txt" "$mnt/t/sub/"*"(000)"*

# Within the file system: a copy, then a move (one rename).
run /S 'D:\t' 'D:\w'
check "copy within the file system" same "$model" "$mnt/w"
run /M /S 'D:\w' 'D:\w2'
check "move within the file system" test "$rc" = 0 -a ! -e "$mnt/w/a.txt"
check "moved tree is whole" same "$model" "$mnt/w2"

# Across file systems, both ways: copied, then the source deleted.
mk_tree "$work/c/m"
run /M /S 'C:\m' 'D:\m'
check "move onto the file system" test "$rc" = 0 -a ! -e "$work/c/m/a.txt"
check "moved-in tree is whole" same "$model" "$mnt/m"
run /M /S 'D:\m' 'E:\m'
check "move off the file system" test "$rc" = 0 -a ! -e "$mnt/m/a.txt"
check "moved-out tree is whole" same "$model" "$work/e/m"
check "moves leave no temporary" notemps

# Deletes, and the trash directory on the file system's own root.
run /DEL /S /Y 'D:\w2'
check "/DEL deletes" test "$rc" = 0 -a ! -e "$mnt/w2"
run /DEL! /S /Y 'D:\t'
# Every file is in the tree or in the trash, whatever happened.
kept() {
    local f
    for f in a.txt sub/b.txt sub/c.bin; do
        cmp -s "$model/$f" "$mnt/t/$f" || cmp -s "$model/$f" "$mnt/TRASH\$\$\$/t/$f" || return 1
    done
}
check "/DEL! loses nothing" kept
# fusefat numbers a directory anew when an entry leaves its parent, which
# the walk takes for a directory swapped under it: refused, nothing lost.
if [ "$kind" != fusefat ]; then
    check "/DEL! moves into TRASH\$\$\$" test "$rc" = 0 -a ! -e "$mnt/t" -a -f "$mnt/TRASH\$\$\$/t/a.txt"
fi

# Case twins in the source never merge where the destination folds case.
if [ "$foldscase" = 1 ]; then
    mkdir -p "$work/c/tw"
    printf 'upper\n' >"$work/c/tw/Twin.txt"
    printf 'lower\n' >"$work/c/tw/twin.txt"
    run /S 'C:\tw' 'D:\tw'
    check "case twin refused" said 'Error! C:\tw\twin.txt and D:\tw\Twin.txt differ only in case'
    check "case twin fails the run" test "$rc" = 1
    check "case twin does not replace the first" test "$(cat "$mnt/tw/Twin.txt" 2>/dev/null)" = upper
fi

# A file that takes the name while a /N copy is being written is never
# replaced, whatever stands in for a no-replace rename here: the rename
# (or link) that places the copy is held back while another writer
# takes the name.
if command -v strace >/dev/null 2>&1; then
    mkdir -p "$mnt/r"
    printf 'mine\n' >"$work/c/r.txt"
    strace -o /dev/null -f -e trace=renameat2,linkat -e inject=renameat2,linkat:delay_enter=1500000 \
        "$mox" /N 'C:\r.txt' 'D:\r' >"$out" 2>&1 </dev/null &
    racer=$!
    sleep 0.7
    (set -C && printf 'theirs\n' >"$mnt/r/r.txt") 2>/dev/null
    took=$?
    wait "$racer"
    check "the name was taken while the copy was written" test "$took" = 0
    check "a name taken meanwhile is not replaced" test "$(cat "$mnt/r/r.txt")" = theirs
    check "a name taken meanwhile leaves no temporary" notemps
fi

# A copy killed mid-way leaves no partial file under the final name, and
# where unnamed files exist, nothing at all.
head -c 30000000 /dev/urandom >"$work/c/big.bin"
"$mox" 'C:\big.bin' 'D:\k' >/dev/null 2>&1 </dev/null &
victim=$!
for _ in $(seq 400); do
    ls -l "/proc/$victim/fd" 2>/dev/null | grep -q "$mnt" && break
    sleep 0.01
done
kill -9 "$victim" 2>/dev/null
wait "$victim" 2>/dev/null
check "killed copy leaves no partial file" \
    test ! -e "$mnt/k/big.bin" -o "$(cmp -s "$work/c/big.bin" "$mnt/k/big.bin" && echo same)" = same
if [ "$tmpfile" = 1 ]; then
    check "killed copy leaves no temporary" notemps
fi
find "$mnt" -name '_MOX_*' -delete 2>/dev/null

# Clones: a copy within the file system shares the source's extents, and
# stays a file of its own when either is written.
if [ "$clones" = 1 ]; then
    cp "$work/c/big.bin" "$mnt/big.bin"
    sync
    run 'D:\big.bin' 'D:\cl'
    sync
    check "copy within shares extents" sh -c "filefrag -v '$mnt/cl/big.bin' | grep -q shared"
    printf 'changed' | dd of="$mnt/cl/big.bin" conv=notrunc status=none
    check "a clone stays a file of its own" cmp -s "$work/c/big.bin" "$mnt/big.bin"
    rm -rf "$mnt/big.bin" "$mnt/cl"
fi

# A full file system: the error names the file, nothing partial remains.
if [ "$canfill" = 1 ]; then
    # fusefat spins for good on a write that finds no free cluster, so
    # there a megabyte stays free; elsewhere the disk is filled to the brim.
    if [ "$kind" = fusefat ]; then
        free=$(df -k --output=avail "$mnt" | tail -1)
        head -c $(((free - 1024) * 1024)) /dev/zero >"$mnt/filler"
    else
        dd if=/dev/zero of="$mnt/filler" bs=1M status=none 2>/dev/null
    fi
    sync
    head -c 8000000 /dev/urandom >"$work/c/full.bin"
    run 'C:\full.bin' 'D:\f'
    check "copy onto a full disk fails" test "$rc" = 1
    check "the failure is reported" grep -q '^Error! ' "$out"
    check "nothing partial under the final name" test ! -e "$mnt/f/full.bin"
    check "no temporary after a full disk" notemps
fi

echo "$kind: $failures failed, $((SECONDS - start)) s"
[ "$failures" = 0 ]
