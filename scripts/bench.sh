#!/usr/bin/env bash
# Prints the library's figures as Markdown: the cost per call of representative
# exports against the same platform calls written by hand (kx_bench.exe under
# Wine, in each build tree's throwaway prefix inside one Xvfb display), the
# allocators in both DLLs' import tables, both DLLs' sizes in both builds, and
# the test suite's wall time as scripts/test.sh last measured it.
# Extra arguments go to kx_bench.exe (--rounds N, --round-ms N).
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
kx_install_tools
cd "$KX_ROOT"
for preset in x64 x86; do
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build "build/$preset" --target kx_bench >/dev/null
done

status=0
echo "## Cost per call: the library against the same calls written by hand"
echo
for preset in x64 x86; do
  if [ "$preset" = x86 ] && [ "$KX_RUN_32BIT" != 1 ]; then
    echo "x86: not run, this machine cannot run 32-bit code."
    continue
  fi
  # Wine's shell link starts winemenubuilder after every save to make a Linux
  # menu entry: a process per saved shortcut, which is Wine's cost, not the
  # library's, and would load the machine in the middle of the timings.
  load_before="$(cut -d' ' -f1 /proc/loadavg)"
  (cd "build/$preset" &&
    WINEPREFIX="$PWD/wineprefix" WINEDEBUG=-all HOME="$PWD/winehome" \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" KX_BENCH_ARGS="$*" \
    xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
      sh ../../tests/wine-session.sh start
      status=0
      wine bin/kx_bench.exe $KX_BENCH_ARGS 2>bench-wine.log || status=$?
      sh ../../tests/wine-session.sh stop
      exit $status') || status=1
  # Other work on the machine widens the spread; it is shown with the figures.
  echo "Machine: $(nproc) cores, 1-minute load average $load_before before this run and $(cut -d' ' -f1 /proc/loadavg) after it; $(wine --version 2>/dev/null || echo Wine)."
  echo
done

# Every import whose name allocates or frees memory. The two heap uses the
# library has are the version-information block and the sound memory block;
# the shell's item lists come back from the folder browser allocated by the
# shell and are only freed here.
allocator='^(Heap(Alloc|ReAlloc|Free|Create|Destroy)|GetProcessHeap|Local(Alloc|ReAlloc|Free)|Global(Alloc|ReAlloc|Free)|Virtual(Alloc|AllocEx|Free)|CoTaskMem(Alloc|Realloc|Free)|Sys(Alloc|ReAlloc|Free)String.*|Rtl(Allocate|ReAllocate|Free)Heap|malloc|calloc|realloc|free|_aligned_(malloc|free)|_?strdup|_?wcsdup|_Zn[wa].*|_Zd[la].*)$'
expected='^(HeapAlloc|HeapFree|GetProcessHeap|CoTaskMemFree)$'
imports() {
  x86_64-w64-mingw32-objdump -p "$1" | awk '
    /The Import Tables/ { inside = 1 }
    /There is an export table|The Export Tables/ { inside = 0 }
    inside && /DLL Name:/ { dll = $3; next }
    inside && dll != "" && $1 ~ /^[0-9a-f]+$/ && $NF !~ /^([0-9a-f]+|<none>)$/ { print dll "!" $NF }'
}
# binutils 2.40 prints an import as "vma hint name", 2.44 as "vma <none> hint
# name": the name is the last field in both. A list that comes back empty
# means the format was not understood, and fails rather than reading as
# "no allocator imported".
echo "## Allocators in the import tables"
echo
echo "| Build | DLL | Allocator imports | C runtime imports |"
echo "|---|---|---|---|"
for preset in x64 x86; do
  for dll in KX_Pellam KX_Brindel; do
    list="$(imports "build/$preset/bin/$dll.dll")"
    if ! printf '%s\n' "$list" | grep -qi '^kernel32\.dll!'; then
      echo "no imports read from build/$preset/bin/$dll.dll: objdump's output was not understood" >&2
      status=1
    fi
    alloc="$(printf '%s\n' "$list" | awk -F'!' -v re="$allocator" '$2 ~ re { print $1 "!" $2 }' | sort | tr '\n' ' ')"
    crt="$(printf '%s\n' "$list" | awk -F'!' 'tolower($1) ~ /^(msvcr|ucrt|api-ms-win-crt)/ { print $2 }' | sort | tr '\n' ' ')"
    unexpected="$(printf '%s\n' "$list" | awk -F'!' -v re="$allocator" -v ok="$expected" '$2 ~ re && $2 !~ ok { print $2 }')"
    if [ -n "$unexpected" ]; then status=1; fi
    echo "| $preset | $dll.dll | ${alloc:-none} | ${crt:-none} |"
  done
done
echo
echo "HeapAlloc is the version-information block and the sound memory block, both on the process heap;"
echo "HeapFree and GetProcessHeap release them. CoTaskMemFree frees the item lists the shell allocates for"
echo "the folder browser: a free, not an allocation. Anything else (malloc, new, LocalAlloc, GlobalAlloc,"
echo "CoTaskMemAlloc, ...) would be listed above and fail this command."
echo

echo "## DLL sizes"
echo
echo "| Build | KX_Pellam.dll | KX_Brindel.dll |"
echo "|---|---:|---:|"
for preset in x64 x86; do
  size_of() { stat -c %s "build/$preset/bin/$1.dll" | sed ':a;s/\B[0-9]\{3\}\>/,&/;ta'; }
  echo "| $preset | $(size_of KX_Pellam) bytes | $(size_of KX_Brindel) bytes |"
done
echo
echo "Size budget: none has been set for these DLLs; the figures are for comparison between builds and releases."
echo

echo "## Test suite wall time"
echo
if [ -f build/suite-wall-time ]; then
  echo "$(cat build/suite-wall-time) s for both builds' tests, as scripts/test.sh measured it on $(date -u -r build/suite-wall-time '+%Y-%m-%d %H:%M UTC')."
else
  echo "Not measured yet: scripts/test.sh writes it to build/suite-wall-time."
fi
exit $status
