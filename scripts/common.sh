# Shared by the README's commands: installs what is missing, then configures
# and builds both architectures. Sourced, not run.
set -euo pipefail

KX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export KX_ROOT

kx_need() {
  # Pairs of what a package provides and the package. What it provides is a
  # command looked up on PATH alone, or the absolute path of a file the
  # package ships: never a bare name tested as a path, which a folder of the
  # repository (cmake/, say) would answer for. A tool that a bare system has
  # without the package (localedef without the locales' charmaps) is named
  # by the package's own file instead.
  local missing=() have
  while [ $# -gt 0 ]; do
    case "$1" in
      /*) have=0; [ -e "$1" ] && have=1 ;;
      *) have=0; [ -n "$(type -P "$1")" ] && have=1 ;;
    esac
    # A package that provides two missing commands is named once.
    [ "$have" = 1 ] || [[ " ${missing[*]} " == *" $2 "* ]] || missing+=("$2")
    shift 2
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing packages (${missing[*]}); run as root or install them" >&2
      exit 1
    fi
    # One index that a mirror serves mid-sync fails the update but leaves
    # the others fresh; the install below says whether what we need is there.
    apt-get update -qq || echo "== apt-get update reported errors; installing from the package lists it has"
    # Only what the packages depend on: the recommended extras (GL drivers,
    # media plug-ins, fonts) are a third of the download and unused here.
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

# Whether this machine's kernel runs 32-bit code: a 96-byte i386 ELF that
# only exits with status 42. Where it does not, wine32 must never be
# installed: the wine launcher would then try the 32-bit loader and fail for
# every program, 64-bit ones included.
kx_runs_32bit() {
  local probe
  probe="$(mktemp)"
  echo f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A |
    base64 -d >"$probe"
  chmod +x "$probe"
  local status=0
  "$probe" 2>/dev/null || status=$?
  rm -f "$probe"
  [ "$status" -eq 42 ]
}

# Where 32-bit code runs, wine32 beside wine64 lets the 32-bit test programs
# run under WoW64 in the same kind of 64-bit prefix.
kx_install_wine32() {
  if dpkg -s wine32:i386 >/dev/null 2>&1; then return 0; fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "wine32 is missing; run as root or install it" >&2
    exit 1
  fi
  echo "== Installing: wine32 (i386)"
  dpkg --add-architecture i386
  apt-get update -qq || echo "== apt-get update reported errors; installing from the package lists it has"
  # A mirror whose i386 lists lag behind the installed amd64 libraries can
  # make wine32 uninstallable for a while. The run then says so and treats
  # the 32-bit build as one it cannot run, instead of failing before any test.
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends wine32 >/dev/null; then
    KX_NO_32BIT_REASON="wine32 could not be installed from this machine's package lists"
    echo "== $KX_NO_32BIT_REASON"
    return 1
  fi
}

kx_install_tools() {
  local began=$SECONDS
  kx_need cmake cmake ninja ninja-build \
    x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix \
    i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix \
    x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64 \
    i686-w64-mingw32-windres binutils-mingw-w64-i686 \
    /usr/src/googletest/CMakeLists.txt googletest \
    /usr/lib/wine/wine64 wine64 wine wine wineserver wine \
    xvfb-run xvfb xauth xauth \
    lnkinfo liblnk-utils /usr/share/i18n/charmaps/UTF-8.gz locales \
    lld-link lld llvm-dlltool llvm zip zip unzip unzip \
    makensis nsis c++ g++ \
    osslsigncode osslsigncode openssl openssl \
    wixl wixl msibuild msitools msiinfo msitools
  # The double-byte code-page tests start a Wine session under this locale.
  if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
    localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
  fi
  KX_RUN_32BIT=0
  KX_NO_32BIT_REASON="this machine cannot run 32-bit code"
  if kx_runs_32bit && kx_install_wine32; then
    KX_RUN_32BIT=1
  fi
  export KX_RUN_32BIT KX_NO_32BIT_REASON
  echo "== installs: $((SECONDS - began)) s"
}

kx_build() {
  local began=$SECONDS
  cd "$KX_ROOT"
  for preset in x64 x86; do
    if [ ! -f "build/$preset/build.ninja" ]; then
      cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset"
  done
  echo "== builds: $((SECONDS - began)) s"
  echo "== DLL sizes (bytes)"
  for preset in x64 x86; do
    for dll in KX_Pellam KX_Brindel; do
      printf '  %-4s %-15s %7d\n' "$preset" "$dll.dll" "$(stat -c %s "build/$preset/bin/$dll.dll")"
    done
  done
}
