#!/bin/sh
# KX_Pellam-wixl-fixup.sh PACKAGE.msi BIN
#
# Puts back into a package that wixl built with KX_Pellam.wxs what wixl
# (msitools 0.101) leaves out of the fragment's two components, and nothing
# else:
#   - the shared-count bit (8, msidbComponentAttributesSharedDllRefCount) in
#     Component.Attributes, which wixl drops with a warning: without it the
#     Installer does not count a first install of the DLLs;
#   - File.Version, from each DLL's version resource: wixl leaves it empty,
#     and the Installer then treats the DLLs as unversioned files, replacing
#     or keeping them by date and hash instead of by version;
#   - the DLLs' MsiFileHash rows, which wixl adds: a versioned file must
#     have none.
# BIN is the folder the package took the DLLs from (KX_Bin). Needs msibuild
# and msiinfo (Debian package msitools). Exits non-zero, naming the cause,
# when the package does not read back as set.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 PACKAGE.msi BIN" >&2
  exit 2
fi
package=$1 bin=$2

# The four numbers of a PE file's VS_FIXEDFILEINFO (signature 0xFEEF04BD,
# then the structure version, then the file version's high and low words),
# read with od alone so that no Windows tool is needed.
file_version() {
  od -An -v -tu1 "$1" | tr -s ' ' '\n' | awk '
    NF { b[n++] = $1 }
    END {
      for (i = 0; i + 16 <= n; i += 4)
        if (b[i] == 189 && b[i + 1] == 4 && b[i + 2] == 239 && b[i + 3] == 254) {
          printf "%d.%d.%d.%d\n", b[i + 10] + 256 * b[i + 11], b[i + 8] + 256 * b[i + 9],
                 b[i + 14] + 256 * b[i + 15], b[i + 12] + 256 * b[i + 13]
          exit
        }
      exit 1
    }'
}

# One column of one row, as msiinfo exports it (tab-separated, three header lines).
column() { # table, key, column number
  msiinfo export "$package" "$1" | awk -F '\t' -v key="$2" -v col="$3" 'NR > 3 && $1 == key { print $col; found = 1 } END { exit !found }'
}

for dll in KX_Pellam.dll KX_Brindel.dll; do
  attributes=$(column Component "$dll" 4) || { echo "$package: no component $dll (built with KX_Pellam.wxs?)" >&2; exit 1; }
  version=$(file_version "$bin/$dll") || { echo "$bin/$dll: no version resource" >&2; exit 1; }
  shared=$(( attributes | 8 ))
  msibuild "$package" -q "UPDATE \`Component\` SET \`Attributes\` = $shared WHERE \`Component\` = '$dll'"
  msibuild "$package" -q "UPDATE \`File\` SET \`Version\` = '$version' WHERE \`File\` = '$dll'"
  msibuild "$package" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$dll'"
  [ "$(column Component "$dll" 4)" = "$shared" ] && [ "$(column File "$dll" 5)" = "$version" ] &&
    ! column MsiFileHash "$dll" 1 >/dev/null ||
    { echo "$package: $dll did not read back as set" >&2; exit 1; }
  echo "$package: $dll shared (attributes $attributes -> $shared), version $version, no file hash"
done
