# The -posix compilers: the win32-thread ones have no std::mutex for GoogleTest.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KX_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# No emulator: 32-bit Windows programs cannot run on this kernel's Wine.
