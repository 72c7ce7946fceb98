#!/bin/sh
# KX_Pellam.nsh against the DLLs it calls. $1 the include, $2 this build's bin
# folder, $3 the 32-bit build's lib folder (its import libraries carry each
# export's stdcall argument size), $4 objdump for this build's DLLs, $5 the
# targets whose installers this build runs, $6 a scratch folder.
set -u
nsh="$1" bin="$2" lib32="$3" objdump="$4" run_targets="$5" work="$6"
here=$(cd "$(dirname "$0")" && pwd)
failed=0
fail() { failed=$((failed + 1)); echo "FAIL: $*"; }
mkdir -p "$work" && cd "$work" || exit 1
cp "$nsh" KX_Pellam.nsh && cp "$here/include_check.nsi" . && : >mismatch || exit 1

# Every System::Call of an export, as "module name argument-count".
sed -n "s/^ *System::Call '\(KX_[A-Za-z]*\)::\([A-Za-z0-9_]*\)(\([^)]*\)).*/\1 \2 \3/p" KX_Pellam.nsh |
  awk '{ n = ($3 == "") ? 0 : split(substr($0, length($1 $2) + 3), a, ", "); print $1, $2, n }' | sort -u >calls

for module in KX_Pellam KX_Brindel; do
  # The name is each entry's last word: binutils 2.40 prints "[   0] Name",
  # 2.44 "[   0] +base[   1]  0000 Name".
  "$objdump" -p "$bin/$module.dll" | sed -n '/Ordinal\/Name Pointer/,/^$/p' |
    awk '/^\t\[ *[0-9]+\] / { print $NF }' | sort >exported
  awk -v m=$module '$1 == m { print $2 }' calls | sort -u >called
  [ -s exported ] || fail "$module.dll: no export table read"
  grep -v '^KX_[A-Za-z0-9_]*$' exported | sed "s/^/$module.dll: not an export name: /" >>mismatch
  comm -23 exported called | sed "s/^/$module exports without a macro: /" >>mismatch
  comm -13 exported called | sed "s/^/$module lacks what a macro calls: /" >>mismatch
  implib="$lib32/lib$module.dll.a"
  [ -f "$implib" ] || { fail "$implib missing: build the 32-bit tree too (cmake --preset x86)"; continue; }
  i686-w64-mingw32-nm "$implib" | sed -n 's/^.* T _\(KX_[A-Za-z0-9_]*\)@\([0-9]*\)$/\1 \2/p' | sort >sizes
  [ -s sizes ] || fail "$implib: no decorated symbols read"
  # Every argument of these exports is 4 bytes wide in the 32-bit build.
  awk -v m=$module '$1 == m { print $2, $3 * 4 }' calls | sort | join -a1 - sizes |
    awk '$2 != $3 { print "argument bytes of " $1 ": the macro passes " $2 ", the export pops " ($3 == "" ? "?" : $3) }' >>mismatch
done
# Each macro's stack effect, read from its Unicode branch (the ANSI one has the
# same shape): a System::Call pops an `s` source and pushes an `s` or `.s`
# destination; _KX_Text and _KX_Filter leave one block each.
awk '/^!macro KX_/ { name = $2; depth = 0; body = 1; next }
  !body || /^  !endif/ { skip = 0; next }
  /^  !else/ { skip = 1 } skip { next }
  /^!macroend/ { if (depth) print name " leaves the stack " depth " off"; body = 0 }
  /^  Push |^  !insertmacro _KX_(Text|Filter) / { depth++ }
  /^  Pop / { depth-- }
  /^  System::Call / {
    args = $0; sub(/^[^(]*\(/, "", args); ret = args; sub(/\).*/, "", args); sub(/^[^)]*\)/, "", ret); sub(/'"'"'$/, "", ret)
    n = split(args, arg, ", "); arg[n + 1] = ret
    for (k = 1; k <= n + 1; k++) {
      c = split(arg[k], f, " "); depth -= f[2] == "s"; depth += f[c] == ".s" || (c == 3 && f[3] == "s")
    }
  }' KX_Pellam.nsh >>mismatch
[ -s mismatch ] && fail "the include and the DLLs disagree:" && cat mismatch
[ "$(wc -l <calls)" -eq 200 ] || fail "$(wc -l <calls) calls of exports, not 200"
grep -q '^!define KX_' KX_Pellam.nsh || fail "no macro names defined"
grep '^!macro KX_' KX_Pellam.nsh | awk '{ print $2 }' | while read -r m; do
  grep -qx "!define $m \"!insertmacro $m\"" KX_Pellam.nsh || echo "$m"; done >undefined
[ -s undefined ] && fail "macros without their \${NAME}: $(tr '\n' ' ' <undefined)"

# Every macro once, in an installer and in an uninstaller section, for each
# target: they must expand and assemble without a warning.
for target in amd64-unicode x86-unicode x86-ansi; do
  {
    echo "Target $target"
    [ $target = x86-ansi ] && echo "Unicode false" || echo "Unicode true"
    echo '!include "KX_Pellam.nsh"'
    echo "OutFile all-$target.exe"
    for prefix in "" un.; do
      printf 'Function %sonInit\n${KX_Load} "%s"\nFunctionEnd\n' "${prefix:-.}" "$bin"
      echo "Section ${prefix}main"
      grep '^!macro KX_' KX_Pellam.nsh | grep -v '^!macro KX_Load ' | while read -r _ name params; do
        printf '!insertmacro %s' "$name"
        for _ in $params; do printf ' $1'; done
        echo
      done
      [ -z "$prefix" ] && echo 'WriteUninstaller "$TEMP\u.exe"'
      echo SectionEnd
    done
  } >all-$target.nsi
  makensis -V2 -WX all-$target.nsi >makensis.log 2>&1 || { fail "every macro in $target"; cat makensis.log; }
done

# The macros' answers, in the installers this build's DLLs can serve.
for target in $run_targets; do
  log=include_check-$target.log
  rm -f "$log"
  makensis -V2 -WX -DKX_BIN="$bin" -DTARGET=$target -DLOG=$log include_check.nsi >makensis.log 2>&1 ||
    { fail "include_check.nsi for $target"; cat makensis.log; continue; }
  wine "./include_check-$target.exe" </dev/null >/dev/null 2>&1
  [ -s "$log" ] || { fail "$target: the installer wrote no log"; continue; }
  tr -d '\r' <"$log" | grep -v '^ok \|^done$' | sed "s/^/$target: /" >bad
  grep -q '^done' "$log" || echo "$target: the installer stopped before its end" >>bad
  [ -s bad ] && fail "$target:" && cat bad
  echo "$target: $(grep -c '^ok ' "$log") calls answered as expected"
done

echo "include_check: $failed failure(s)"
[ $failed = 0 ]
