#!/usr/bin/env bash
# The Debian package as built by scripts/package (which also requires lintian to report no
# error): its files are in their Debian places, its maintainer scripts enable the service
# and delete the state only on purge, and, unpacked into a temporary root, its kiv runs
# from there: `kiv --version` and `kiv units path` with the libraries and modules of the
# package, not of the build tree.
# Usage: package_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
fail() { echo "FAIL: $*" >&2; exit 1; }

log=$(mktemp)
root=$(mktemp -d)
trap 'rm -rf "$root" "$log"' EXIT
"$source_dir/scripts/package" >"$log" 2>&1 || { tail -n 60 "$log"; fail "scripts/package failed"; }
deb=$(tail -n 1 "$log")
[ -f "$deb" ] || fail "no package at $deb"
echo "package: $deb"

dpkg-deb -x "$deb" "$root/fs" || fail "cannot unpack $deb"
dpkg-deb -e "$deb" "$root/control" || fail "cannot read the control files of $deb"
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for f in usr/bin/kiv "usr/lib/$triplet/kiv/libtqNotify.so" "usr/lib/$triplet/kiv/libtqUtilities.so" \
         "usr/lib/$triplet/kiv/libtqOSServices.so" lib/systemd/system/kiv-host.service \
         usr/share/man/man1/kiv.1.gz usr/share/bash-completion/completions/kiv \
         usr/share/doc/kiv/README.md usr/share/doc/kiv/copyright; do
  [ -e "$root/fs/$f" ] || fail "the package lacks /$f"
done
grep -q '^ExecStart=/usr/bin/kiv host$' "$root/fs/lib/systemd/system/kiv-host.service" || fail "ExecStart"
grep -q 'deb-systemd-helper.*enable.*kiv-host.service' "$root/control/postinst" || fail "postinst does not enable the service"
grep -q 'deb-systemd-invoke.*stop.*kiv-host.service' "$root/control/prerm" || fail "prerm does not stop the service"
grep -q 'rm -rf /var/lib/kiv' "$root/control/postrm" || fail "postrm does not delete the state on purge"
sed -n '/purge/,/fi/p' "$root/control/postrm" | grep -q 'rm -rf /var/lib/kiv' || fail "the state is deleted outside purge"

# Nothing of the build tree may be reached: no module path, a state root of its own.
kiv=$root/fs/usr/bin/kiv
version=$(env -u KIV_MODULE_PATH "$kiv" --version) || fail "kiv --version failed"
[ "$version" = "kiv $(dpkg-deb -f "$deb" Version)" ] || fail "kiv --version printed \"$version\""
path=$(env -u KIV_MODULE_PATH KIV_HOME="$root/home" LD_DEBUG=libs "$kiv" units path 2>"$root/ld.log") ||
  fail "kiv units path failed: $path"
[ "$path" = "$root/home/Agent/units" ] || fail "kiv units path printed \"$path\""
grep -q "calling init: $root/fs/usr/.*lib/$triplet/kiv/libtqNotify.so" "$root/ld.log" ||
  fail "libtqNotify.so was not loaded from the package"
if grep -q "calling init: .*/build/.*/lib/" "$root/ld.log"; then fail "a library of the build tree was loaded"; fi
echo "package test passed"
