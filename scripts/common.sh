# Shared by the README's commands: installs what is missing, then configures
# and builds both architectures. Sourced, not run.
set -euo pipefail

KX_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export KX_ROOT

kx_need() {
  # command-or-path, Debian package
  local missing=()
  while [ $# -gt 0 ]; do
    if ! { command -v "$1" >/dev/null 2>&1 || [ -e "$1" ]; }; then missing+=("$2"); fi
    shift 2
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
      echo "missing packages (${missing[*]}); run as root or install them" >&2
      exit 1
    fi
    # Never wine32 or the i386 architecture: the 32-bit loader cannot run here
    # and its presence breaks the wine launcher for 64-bit programs too.
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

kx_install_tools() {
  kx_need cmake cmake ninja ninja-build \
    x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64-posix \
    i686-w64-mingw32-g++-posix g++-mingw-w64-i686-posix \
    x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64 \
    i686-w64-mingw32-windres binutils-mingw-w64-i686 \
    /usr/src/googletest/CMakeLists.txt googletest \
    /usr/lib/wine/wine64 wine64 wine wine wineserver wine \
    xvfb-run xvfb xauth xauth
}

kx_build() {
  cd "$KX_ROOT"
  for preset in x64 x86; do
    if [ ! -f "build/$preset/build.ninja" ]; then
      cmake --preset "$preset" >/dev/null
    fi
    cmake --build --preset "$preset"
  done
}
