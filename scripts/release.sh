#!/usr/bin/env bash
# Builds both architectures, installs each into one folder side by side and
# zips it: build/KX_Pellam-<version>.zip holding KX_Pellam-<version>/x64 and
# KX_Pellam-<version>/x86 (bin/, lib/, include/ each), the README and
# SHA256SUMS of every other file.
#
#   scripts/release.sh           build the zip
#   scripts/release.sh --check   then build it again from a copy of the tracked
#                                files in another folder and compare the two,
#                                file by file; non-zero on any difference
#   scripts/release.sh --sign FILE.pfx
#                                sign every .dll and .exe with Authenticode
#                                (scripts/sign.sh; password in KX_SIGN_PASSWORD)
#                                before SHA256SUMS is written; with --check,
#                                the second build stays unsigned and is
#                                compared with this one's files unsigned again
#
# The release builds have folders of their own (build/release-x64, -x86), with
# the tests off: the shipped files are the same bytes as the test builds'.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

check=0
pfx=""
usage() { echo "usage: scripts/release.sh [--check] [--sign FILE.pfx]" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --check) check=1; shift ;;
    --sign) [ $# -ge 2 ] && [ -f "$2" ] || usage; pfx="$(realpath "$2")"; shift 2 ;;
    *) usage ;;
  esac
done
if [ -n "$pfx" ] && [ -z "${KX_SIGN_PASSWORD+set}" ]; then
  echo "release.sh: --sign reads the certificate's password from KX_SIGN_PASSWORD, which is not set" >&2
  exit 2
fi

# A release runs nothing under Wine: the build tools and the archivers only.
kx_need cmake cmake ninja ninja-build \
  x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix \
  i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix \
  x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64 \
  i686-w64-mingw32-windres binutils-mingw-w64-i686 \
  llvm-dlltool llvm zip zip unzip unzip

# Every date in the zip is the commit's, whatever the clock says; a copy of
# the tree without .git is given the date by its caller.
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$KX_ROOT" log -1 --format=%ct)"
fi
export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C

cd "$KX_ROOT"
for preset in x64 x86; do
  cmake --preset "$preset" -B "build/release-$preset" -DKX_BUILD_TESTS=OFF >/dev/null
  cmake --build "build/release-$preset"
done

cd "$KX_ROOT/build"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' release-x64/CMakeCache.txt)"
name="KX_Pellam-$version"
rm -rf "release/$name" "$name.zip"
for preset in x64 x86; do
  cmake --install "release-$preset" --prefix "release/$name/$preset" >/dev/null
done
cp "$KX_ROOT/README.md" "release/$name/"
# Signed before the sums are taken: SHA256SUMS lists the files as shipped.
[ -z "$pfx" ] || "$KX_ROOT/scripts/sign.sh" "$pfx" "release/$name" >/dev/null
(
  cd "release/$name"
  find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | sort | xargs -d '\n' sha256sum >SHA256SUMS
  # Modes and times as the zip should record them, not as this umask and
  # this clock left them.
  find . -type d -exec chmod 755 {} +
  find . -type f -exec chmod 644 {} +
  # The wixl fix-up shipped beside the WiX fragment is run as a program.
  find . -type f \( -name '*.dll' -o -name '*.exe' -o -name '*.sh' \) -exec chmod 755 {} +
  find . -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
)
# Sorted entries, no directory entries, no Unix extra fields (uid/gid, times).
(cd release && find "$name" -type f | sort | zip -qX -D "../$name.zip" -@)
echo "== $KX_ROOT/build/$name.zip ($(stat -c %s "$name.zip") bytes)"
unzip -l "$name.zip"
[ "$check" = 1 ] || exit 0

# The second build: the tracked files copied to another folder, built there
# later with the same commit date, then every file of both zips compared.
first="$KX_ROOT/build/$name.zip"
work="$(mktemp -d /tmp/kx-release-check.XXXXXX)"
mkdir "$work/source"
git -C "$KX_ROOT" ls-files -z | (cd "$KX_ROOT" && tar --null -T - -cf -) | tar -xf - -C "$work/source"
echo "== second build in $work/source"
"$work/source/scripts/release.sh" >"$work/second-build.log" 2>&1 ||
  { echo "the second build failed; see $work/second-build.log" >&2; exit 1; }
second="$work/source/build/$name.zip"
mkdir "$work/first" "$work/second"
unzip -q "$first" -d "$work/first"
unzip -q "$second" -d "$work/second"
if [ -n "$pfx" ]; then
  # A signed release is compared unsigned: every file must carry its
  # signature, which is taken off; then the sums are taken again, and the
  # zips themselves are not compared.
  echo "== signatures: found on every .dll and .exe, then removed"
  find "$work/first" -type f \( -name '*.dll' -o -name '*.exe' \) | sort | while read -r file; do
    osslsigncode extract-signature -in "$file" -out "$work/signature" >/dev/null 2>&1 ||
      { echo "no signature in ${file#"$work/first/"}" >&2; exit 1; }
    rm -f "$work/signature"
  done
  "$KX_ROOT/scripts/sign.sh" --remove "$work/first"
  (cd "$work/first/$name" && find . -type f ! -path ./SHA256SUMS | sed 's|^\./||' | sort | xargs -d '\n' sha256sum >SHA256SUMS)
fi

echo "== sha256: $KX_ROOT  |  $work/source"
differ=0
compare() { # label, first file, second file
  local a b mark="same"
  a="$( [ -f "$2" ] && sha256sum <"$2" | cut -c1-64 || echo missing)"
  b="$( [ -f "$3" ] && sha256sum <"$3" | cut -c1-64 || echo missing)"
  if [ "$a" = missing ] || ! cmp -s "$2" "$3"; then mark="DIFFERENT"; differ=$((differ + 1)); fi
  printf '%s  %s  %-9s %s\n' "$a" "$b" "$mark" "$1"
}
while read -r entry; do
  compare "$entry" "$work/first/$entry" "$work/second/$entry"
done < <( (cd "$work/first" && find . -type f; cd "$work/second" && find . -type f) | sed 's|^\./||' | sort -u)
[ -n "$pfx" ] || compare "$name.zip" "$first" "$second"
if [ "$differ" -ne 0 ]; then
  echo "== $differ file(s) differ between the two builds; both kept under $work" >&2
  exit 1
fi
rm -rf "$work"
echo "== both builds are byte for byte the same"
