#!/usr/bin/env bash
# The release is reproducible: scripts/release run twice for the same commit (HEAD
# when the test starts, pinned: others may commit meanwhile), from two different
# temporary directories and a few seconds apart, gives byte-identical files, and
# each SHA256SUMS verifies. The PE images carry no link time stamp and no debug
# directory, and no executable names the directories it was built in. The Debian
# package is one of those files, and the scanner it holds is the released one.
#
#   tests/release/reproducible.sh [REPO]
set -euo pipefail
repo=$(cd "${1:-$(dirname "$0")/../..}" && pwd)

for tool in i686-w64-mingw32-g++-posix cmake cpack ninja git sha256sum dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done
if ! commit=$(git -C "$repo" rev-parse -q --verify 'HEAD^{commit}'); then
  echo "SKIP: $repo is not a git checkout with a commit"
  exit 77
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pestkill-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/first-tmp" "$work/second-tmp/deeper"

TMPDIR=$work/first-tmp "$repo/scripts/release" "$work/first" "$commit" >"$work/first.log" 2>&1 ||
  { cat "$work/first.log"; exit 1; }
sleep 3  # a later clock for the second build: time stamps would differ
TMPDIR=$work/second-tmp/deeper "$repo/scripts/release" "$work/second" "$commit" >"$work/second.log" 2>&1 ||
  { cat "$work/second.log"; exit 1; }

failed=0
fail() { echo "FAIL: $*"; failed=1; }

package=$(cd "$work/first" && ls pestkill-scan_*.deb 2>/dev/null || true)
[ -n "$package" ] || fail "no Debian package was written"
for name in pestkill.exe pestkill-scan.exe pestkill-scan kestrelon.yar $package SHA256SUMS; do
  [ -s "$work/first/$name" ] || { fail "$name was not written"; continue; }
  cmp -s "$work/first/$name" "$work/second/$name" || fail "$name differs between the two builds"
done
for dist in first second; do
  [ -z "$package" ] || grep -q "  $package\$" "$work/$dist/SHA256SUMS" ||
    fail "SHA256SUMS of the $dist build does not list $package"
  (cd "$work/$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS of the $dist build does not verify"
done

# TimeDateStamp of the COFF file header, and the size of the debug data directory
# (entry 6 of the PE32 optional header's data directories).
pe_u32() {  # FILE OFFSET
  od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '
}
for name in pestkill.exe pestkill-scan.exe; do
  file=$work/first/$name
  pe=$(pe_u32 "$file" 60)
  [ "$(od -An -c -j "$pe" -N4 "$file" | tr -d ' ')" = 'PE\0\0' ] || { fail "$name has no PE signature"; continue; }
  [ "$(od -An -tu2 -j $((pe + 24)) -N2 "$file" | tr -d ' ')" = 267 ] || fail "$name is not PE32"
  [ "$(pe_u32 "$file" $((pe + 8)))" = 0 ] || fail "$name has a link time stamp"
  [ "$(pe_u32 "$file" $((pe + 24 + 96 + 6 * 8 + 4)))" = 0 ] || fail "$name has a debug directory"
done

for name in pestkill.exe pestkill-scan.exe pestkill-scan; do
  if grep -a -q -e "$work" -e "$repo" -e pestkill-release "$work/first/$name"; then
    fail "$name names a build or source directory"
  fi
done

if [ -n "$package" ]; then
  dpkg-deb -x "$work/first/$package" "$work/unpacked"
  cmp -s "$work/unpacked/usr/bin/pestkill-scan" "$work/first/pestkill-scan" ||
    fail "$package holds another pestkill-scan than the released one"
  if grep -r -a -q -e "$work" -e "$repo" -e pestkill-release "$work/unpacked"; then
    fail "$package names a build or source directory"
  fi
fi

if [ "$failed" = 0 ]; then
  echo "reproducible, commit $commit:"
  cat "$work/first/SHA256SUMS"
fi
exit "$failed"
