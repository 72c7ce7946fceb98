#!/usr/bin/env bash
# Builds both architectures, installs each into one folder side by side and
# zips it: build/KX_Pellam-<version>.zip holding KX_Pellam-<version>/x64 and
# KX_Pellam-<version>/x86 (bin/, lib/, include/ each) and the README.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_install_tools
kx_build
cd "$KX_ROOT/build"
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' x64/CMakeCache.txt)"
name="KX_Pellam-$version"
rm -rf "release/$name" "$name.zip"
for preset in x64 x86; do
  cmake --install "$preset" --prefix "release/$name/$preset" >/dev/null
done
cp "$KX_ROOT/README.md" "release/$name/"
(cd release && zip -qrX "../$name.zip" "$name")
echo "== $KX_ROOT/build/$name.zip ($(stat -c %s "$name.zip") bytes)"
unzip -l "$name.zip"
