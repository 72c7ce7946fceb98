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
# Each use's stack effect against its function's, read from the Unicode
# branch (the ANSI one has the same shape): a System::Call pops an `s` source
# and pushes an `s` or `.s` destination; _KX_Text and _KX_Filter leave one
# block each. The function must take what the use pushes and leave what it pops.
awk '/^!macro KX_[A-Za-z0-9_]*[^_]( |$)/ { use = $2; uses[use] = 0; next }
  use && /^  Push / { uses[use]++ } use && /^  Pop / { uses[use]-- }
  use && /^!macroend/ { use = "" }
  /^!macro KX_[A-Za-z0-9_]*_$/ { name = substr($2, 1, length($2) - 1); depth = 0; body = 1; next }
  !body || /^  !endif/ { skip = 0; next }
  /^  !else/ { skip = 1 } skip { next }
  /^!macroend/ { if (!(name in uses)) print name " has no macro of its own"
    else if (depth != -uses[name]) print name " leaves the stack " depth + uses[name] " off"; body = 0 }
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
macros() { grep '^!macro KX_[A-Za-z0-9_]*[^_]\( \|$\)' KX_Pellam.nsh | grep -v '^!macro KX_literal'; }
macros | awk '{ print $2 }' | while read -r m; do
  grep -qx "!define $m \"!insertmacro $m\"" KX_Pellam.nsh || echo "$m"; done >undefined
[ -s undefined ] && fail "macros without their \${NAME}: $(tr '\n' ' ' <undefined)"

# A tree as the release zip lays it out, x64 and x86 side by side: each
# target's installer takes its own from it. (Only compiled: a build without
# the other architecture's DLLs lends its own.)
bin32=$(cd "$lib32/../bin" 2>/dev/null && pwd) || bin32=$bin
bin64=$(cd "$bin" && pwd)
[ "$bin64" = "$bin32" ] && bin64=$(cd "$bin/../../x64/bin" 2>/dev/null && pwd || echo "$bin")
mkdir -p tree && ln -sfn "$bin64" tree/x64 && ln -sfn "$bin32" tree/x86
# Every macro once, and every LogicLib test, in an installer and in an
# uninstaller section, for each target: they must expand and assemble
# without a warning.
for target in amd64-unicode x86-unicode x86-ansi; do
  {
    echo "Target $target"
    [ $target = x86-ansi ] && echo "Unicode false" || echo "Unicode true"
    echo '!include LogicLib.nsh'
    echo '!include "KX_Pellam.nsh"'
    echo "OutFile all-$target.exe"
    for prefix in "" un.; do
      printf 'Function %sonInit\n${KX_Load} "%s"\nFunctionEnd\n' "${prefix:-.}" "$work/tree"
      echo "Section ${prefix}main"
      macros | grep -v '^!macro KX_Load \|^!macro KX_VERBOSE ' | while read -r _ name params; do
        printf '!insertmacro %s' "$name"
        for _ in $params; do printf ' $1'; done
        echo
      done
      sed -n 's/^!define \(KX_Is[A-Za-z0-9_]*\) `"" [^"]*`$/${If} ${\1} $1\n${EndIf}/p
              s/^!define \(KX_AtLeast[A-Za-z0-9_]*\) `"" .* ""`$/${If} ${\1}\n${EndIf}/p' KX_Pellam.nsh
      [ -z "$prefix" ] && echo 'WriteUninstaller "$TEMP\u.exe"'
      echo SectionEnd
    done
  } >all-$target.nsi
  makensis -V2 -WX all-$target.nsi >makensis.log 2>&1 || { fail "every macro in $target"; cat makensis.log; }
done
grep -q 'KX_AtLeast7}$' all-x86-ansi.nsi && grep -q 'KX_Is7_x64_Later} \$1$' all-x86-ansi.nsi ||
  fail "no LogicLib test was compiled"

# What makensis says of small scripts: nothing at all when the include is
# only included; a refusal naming the fault for the author's mistakes; and
# the instructions one more use of a call, a test or the biggest call adds.
try() { # name, target, body lines: compiles them, its output into $out
  printf 'Target %s\n!include LogicLib.nsh\n!include KX_Pellam.nsh\nOutFile try.exe\nSection\n%s\nSectionEnd\n' \
    "$2" "$3" >"$1.nsi"
  out=$(makensis -V${verbosity:-2} "$1.nsi" 2>&1)
}
refused() { # name, target, body, what the refusal must say
  try "$@"; printf '%s\n' "$out" | grep -qF -- "$4" && ! [ -f try.exe ] || fail "$1 not refused with '$4': $out"
  rm -f try.exe
}
try unused x86-ansi ''
[ -f try.exe ] && ! printf '%s\n' "$out" | grep -qi 'warning' || fail "including alone: $out"
rm -f try.exe
refused dotted amd64-unicode '${KX_InstRegistExt} $0 ".acv" "d" "c" "i" 0' 'extension without its dot, `acv`'
refused backtick amd64-unicode '${KX_SetDoublequote} $0 "a`b" $1' 'KX_literal_holds_a_backtick...put_the_text_in_a_variable'
refused bitness64 amd64-unicode "\${KX_Load} \"$bin32\"" "holds x86 DLLs; an installer for amd64-unicode needs the x64 ones"
refused bitness32 x86-ansi "\${KX_Load} \"$bin64\"" "holds x64 DLLs; an installer for x86-ansi needs the x86 ones"
refused nowhere x86-unicode '${KX_Load} "/nowhere"' 'no KX_Pellam.dll in /nowhere'
# Run-time values pass: a dot in a variable reaches the library.
try variable amd64-unicode 'StrCpy $1 ".a`b"
${KX_InstRegistExt} $0 $1 "d" "c" "i" 0'
[ -f try.exe ] || fail "a variable's value refused: $out"
instructions() { # body lines: the installer's instruction count
  verbosity=4 try count amd64-unicode "\${KX_Load} \"$work/tree\"
$1"
  printf '%s\n' "$out" | sed -n 's/.* \([0-9][0-9]*\) instructions .*/\1/p' | head -n 1
}
base=$(instructions '')
for use in '${KX_GetAppDataPath} $0 $1 "a" "b":5' '${If} ${KX_Is7_Later} -1|${EndIf}:4' \
  '${If} ${KX_AtLeast7}|${EndIf}:3' '${KX_InstRegistUninstaller} $0 a b c d e f g h:10'; do
  body=$(printf '%s' "${use%:*}" | tr '|' '\n')
  once=$(instructions "$body") twice=$(instructions "$body
$body")
  echo "one more use of ${use%:*}: $((twice - once)) instructions (first: $((once - base)))"
  [ -n "$base" ] && [ -n "$twice" ] && [ $((twice - once)) = "${use##*:}" ] ||
    fail "${use%:*} costs $((twice - once)) instructions, not ${use##*:} (base '$base')"
done

# The macros' answers, in the installers this build's DLLs can serve.
for target in $run_targets; do
  log=include_check-$target.log
  rm -f "$log"
  # The other architecture's folder, as the installer names it under Wine.
  [ $target = amd64-unicode ] && other=$bin32 || other=$bin64
  [ "$other" = "$(cd "$bin" && pwd)" ] && other="$work/nowhere"
  makensis -V2 -WX -DKX_BIN="$bin" "-DKX_OTHER=Z:$other" -DTARGET=$target -DLOG=$log include_check.nsi >makensis.log 2>&1 ||
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
