#!/usr/bin/env bash
# Builds the Debian package and installs it on a clean Debian 12 (bookworm):
#
#   sudo bash packaging/test-package.sh [--root-only]
#
# 1. packaging/build-deb.sh builds build-deb/kelvo_<version>_amd64.deb;
# 2. a minimal bookworm root is made with debootstrap in build-pkgtest/root
#    (kept, so a second run skips this step; delete the folder to start over);
# 3. a copy of that root gets the package with `apt install ./kelvo_*.deb`
#    in a chroot, which must pull in every runtime library;
# 4. `kelvo --version`, `kelvo -appver` and `man kelvo` must work there;
# 5. lintian must report no error for the package.
#
# Needs root and network access (debootstrap and apt fetch from
# KELVO_DEBIAN_MIRROR, default http://deb.debian.org/debian).  --root-only
# makes the cached root and stops.  Everything mounted into the chroot is
# unmounted on exit, also after a failure.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD

mirror=${KELVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
cache=$top/build-pkgtest
root=$cache/root
chroot_dir=$cache/chroot

[ "$(id -u)" -eq 0 ] || { echo "test-package.sh: needs root (chroot, mounts)" >&2; exit 2; }
for tool in debootstrap lintian; do
    command -v "$tool" >/dev/null || { echo "test-package.sh: $tool is not installed (apt-get install $tool)" >&2; exit 2; }
done

mounted=()
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount -l "${mounted[$i]}" 2>/dev/null || true
    done
    mounted=()
}
trap 'unmount_all; unmount_below "$chroot_dir"; unmount_below "$root.new"' EXIT

# Everything still mounted below a folder (left by a run that was killed),
# deepest first; a folder is only removed once nothing is mounted in it.
unmount_below() { # dir
    local dir target
    dir=$(realpath -m "$1")
    { awk '{print $2}' /proc/self/mounts | sed 's/\\040/ /g' | grep -E "^$dir(/|\$)" || true; } |
        sort -r | while read -r target; do umount -l "$target" || true; done
}
remove_tree() { # dir
    unmount_below "$1"
    if awk '{print $2}' /proc/self/mounts | grep -qE "^$(realpath -m "$1")(/|\$)"; then
        echo "test-package.sh: $1 still has mounts; not removing it" >&2
        exit 1
    fi
    rm -rf "$1"
}

mount_into() { # type-or-bind source target
    mkdir -p "$3"
    if [ "$1" = bind ]; then mount --bind "$2" "$3"; else mount -t "$1" "$2" "$3"; fi
    mounted+=("$3")
}

# -- 2. The cached clean root ------------------------------------------------
if [ ! -x "$root/usr/bin/apt" ]; then
    echo "== debootstrap bookworm into $root"
    remove_tree "$root.new"
    mkdir -p "$cache"
    debootstrap --variant=minbase --include=man-db,ca-certificates bookworm "$root.new" "$mirror" \
        >"$cache/debootstrap.log" 2>&1 || {
        tail -n 30 "$cache/debootstrap.log" >&2
        echo "FAIL: debootstrap (log: $cache/debootstrap.log)" >&2
        exit 1
    }
    # man-db only builds its index and shows pages when the documentation
    # is not filtered out, as it is in some minimal images.
    rm -f "$root.new/etc/dpkg/dpkg.cfg.d/excludes"
    mv "$root.new" "$root"
fi
[ "${1:-}" = --root-only ] && { echo "clean root ready: $root"; exit 0; }

# -- 1. The package ----------------------------------------------------------
echo "== building the package"
bash packaging/build-deb.sh
deb=$(ls -t build-deb/kelvo_*_amd64.deb | head -1)
echo "package: $deb"

# -- 3. Install into a fresh copy of the root ----------------------------------
echo "== installing into a fresh copy of the clean root"
remove_tree "$chroot_dir"
cp -a "$root" "$chroot_dir"
mount_into proc proc "$chroot_dir/proc"
mount_into sysfs sysfs "$chroot_dir/sys"
mount_into bind /dev "$chroot_dir/dev"
mount_into devpts devpts "$chroot_dir/dev/pts"
cp /etc/resolv.conf "$chroot_dir/etc/resolv.conf"
cp "$deb" "$chroot_dir/tmp/"
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

failed=0
check() { # description command...
    local label=$1
    shift
    if "$@"; then echo "PASS: $label"; else echo "FAIL: $label"; failed=1; fi
}

in_root apt-get update -q >"$cache/update.log" 2>&1 || {
    tail -n 20 "$cache/update.log" >&2
    echo "FAIL: apt-get update in the clean root (mirror $mirror)" >&2
    exit 1
}
in_root apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" >"$cache/install.log" 2>&1 || {
    tail -n 30 "$cache/install.log" >&2
    echo "FAIL: apt install ./$(basename "$deb") in the clean root" >&2
    exit 1
}
echo "PASS: apt install ./$(basename "$deb") (log: $cache/install.log)"
sed -n "s/^Setting up \([^ ]*\) .*/  installed: \1/p" "$cache/install.log"

# -- 4. The program runs and has its documentation ---------------------------
version_check() {
    local out
    out=$(in_root kelvo --version 2>&1) || { echo "$out"; return 1; }
    echo "$out"
    grep -qiE 'kelvo.*[0-9]+\.[0-9]+' <<<"$out"
}
appver_check() {
    local out
    out=$(in_root kelvo -appver 2>&1) || { echo "$out"; return 1; }
    echo "$out"
    grep -q 'BUILD' <<<"$out"
}
libraries_check() {
    local missing
    missing=$(in_root ldd /usr/bin/kelvo | grep 'not found' || true)
    [ -z "$missing" ] || { echo "$missing"; return 1; }
}
sasl_check() { # the GSSAPI and NTLM mechanisms must be there for Kerberos and NTLM binds
    in_root sh -c 'ls /usr/lib/x86_64-linux-gnu/sasl2/ | grep -q libgssapiv2 &&
        ls /usr/lib/x86_64-linux-gnu/sasl2/ | grep -q libntlm'
}
man_check() {
    local out
    out=$(in_root sh -c 'MANPAGER=cat MANWIDTH=80 man kelvo 2>&1') || { echo "$out" | head -5; return 1; }
    echo "$out" | head -8
    grep -q '^NAME' <<<"$out" && grep -qi 'kelvo' <<<"$out"
}
check "every library kelvo links is installed" libraries_check
check "SASL GSSAPI and NTLM modules installed" sasl_check
check "kelvo -appver" appver_check
check "kelvo --version" version_check
check "man kelvo" man_check
check "README installed" test -s "$chroot_dir/usr/share/doc/kelvo/README.md.gz" -o -s "$chroot_dir/usr/share/doc/kelvo/README.md"
check "copyright installed" test -s "$chroot_dir/usr/share/doc/kelvo/copyright"
remove_check() { in_root apt-get remove -y -q kelvo >"$cache/remove.log" 2>&1 && [ ! -e "$chroot_dir/usr/bin/kelvo" ]; }
check "apt removes the package again" remove_check
unmount_all

# -- 5. lintian ----------------------------------------------------------------
echo "== lintian $deb"
lintian_out=$(lintian --display-info "$deb" 2>&1) || true
echo "${lintian_out:-(no tags)}"
if grep -q '^E: ' <<<"$lintian_out"; then
    echo "FAIL: lintian reports errors"
    failed=1
else
    echo "PASS: lintian reports no errors"
fi

if [ "$failed" -ne 0 ]; then
    echo "test-package.sh: FAILED" >&2
    exit 1
fi
echo "test-package.sh: all checks passed"
